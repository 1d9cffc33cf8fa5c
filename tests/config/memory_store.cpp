#include "tests/config/memory_store.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

namespace memstore {

using velmora::CollectionOps;
using velmora::ObjectHandle;
using velmora::StoreHandle;

namespace {

enum class ObjectType {
  Collection,
  Item,
  ClassCollection,
  ClassEntry,
  ChannelEntries,
  Channel,
  Ranges,
  Range
};

// Everything an object handle may point at. Items and the owners of class
// and channel handles are shared, so a handle outlives the item's removal.
struct Object {
  ObjectType type;
  Store *store;
  Kind kind;
  std::shared_ptr<Item> item;
  size_t entry = 0;  // class entry or channel entry, from 0
  size_t range = 0;
};

struct FailureRule {
  std::string operation;
  int32_t status;
  int nth;
  int seen = 0;
  bool spent = false;
};

struct Hook {
  std::string operation;
  int nth;
  int seen = 0;
  std::function<void()> run;
};

struct Control {
  std::string defaultLocation5, defaultLocation3;
  std::set<std::string> classNames;
  std::vector<FailureRule> failures;
  std::vector<Hook> hooks;
  std::vector<std::string> trace;
  std::map<std::string, int> calls;
  std::set<Store *> stores;
  std::set<Object *> objects;
  int misuses = 0;
  int initializeCalls = 0;
  int emptyReferenceNotes = 0;
};

Control &State() {
  static Control control;
  return control;
}

// Records a call and answers an injected status, if one applies to it.
std::optional<int32_t> Enter(const std::string &operation, const std::string &detail = "",
                             bool traced = true) {
  Control &c = State();
  if (traced) c.trace.push_back(detail.empty() ? operation : operation + " " + detail);
  ++c.calls[operation];
  for (Hook &hook : c.hooks) {
    if (hook.operation == operation && ++hook.seen == hook.nth) hook.run();
  }
  for (FailureRule &rule : c.failures) {
    if (rule.operation != operation || rule.spent) continue;
    ++rule.seen;
    if (rule.nth == 0 || rule.seen == rule.nth) {
      rule.spent = rule.nth != 0;
      return rule.status;
    }
  }
  return std::nullopt;
}

int32_t Misuse() {
  ++State().misuses;
  return kMisuse;
}

ObjectHandle NewObject(Object object) {
  auto *created = new Object(std::move(object));
  State().objects.insert(created);
  return created;
}

Object *Use(ObjectHandle handle, ObjectType type) {
  auto *object = static_cast<Object *>(handle);
  if (State().objects.count(object) == 0 || object->type != type) {
    ++State().misuses;
    return nullptr;
  }
  return object;
}

Store *UseStore(void *handle) {
  auto *store = static_cast<Store *>(handle);
  if (State().stores.count(store) == 0) {
    ++State().misuses;
    return nullptr;
  }
  return store;
}

// The store's answer under the library's string-return rule, written
// independently of the library's own helper.
int32_t WriteString(const std::string &text, int32_t size, char *buffer) {
  const auto needed = static_cast<int32_t>(text.size() + 1);
  if (size == 0) return needed;
  if (size < 0 || size >= needed) {
    if (buffer != nullptr) memcpy(buffer, text.c_str(), text.size() + 1);
    return 0;
  }
  if (buffer != nullptr) {
    memcpy(buffer, text.data(), static_cast<size_t>(size - 1));
    buffer[size - 1] = '\0';
  }
  return needed;
}

// ---- The collection tables -------------------------------------------------

enum SetId { kLogicalNameSet, kSessionSet, kSessionTargetSet, kDriverSet, kDeviceSet };

constexpr const char *kSetNames[] = {"LogicalName", "Session", "SessionTarget", "Driver", "Device"};
constexpr Kind kSetKinds[] = {Kind::LogicalName, Kind::Session, Kind::Session, Kind::Driver,
                              Kind::Device};

template <SetId S>
std::string Op(const char *slot) {
  return std::string(kSetNames[S]) + "." + slot;
}

template <SetId S>
Object *UseCollection(ObjectHandle handle) {
  Object *object = Use(handle, ObjectType::Collection);
  if (object != nullptr && object->kind != kSetKinds[S]) {
    ++State().misuses;
    return nullptr;
  }
  return object;
}

template <SetId S>
Object *UseItem(ObjectHandle handle) {
  Object *object = Use(handle, ObjectType::Item);
  if (object != nullptr && object->item->kind != kSetKinds[S]) {
    ++State().misuses;
    return nullptr;
  }
  return object;
}

// References a store knows: a logical name names a session; a session names
// a driver and a device.
bool MayRefer(Kind from, Kind to) {
  return (from == Kind::LogicalName && to == Kind::Session) ||
         (from == Kind::Session && (to == Kind::Driver || to == Kind::Device));
}

template <SetId S>
int32_t GetCollection(void *owner, ObjectHandle *collection) {
  if (auto status = Enter(Op<S>("getCollection"))) return *status;
  Store *store = UseStore(owner);
  if (store == nullptr) return kMisuse;
  *collection = NewObject({ObjectType::Collection, store, kSetKinds[S], nullptr});
  return 0;
}

template <SetId S>
int32_t GetCount(ObjectHandle collection, int32_t *count) {
  if (auto status = Enter(Op<S>("getCount"))) return *status;
  Object *c = UseCollection<S>(collection);
  if (c == nullptr || count == nullptr) return Misuse();
  *count = static_cast<int32_t>(c->store->Of(kSetKinds[S]).size());
  return 0;
}

template <SetId S>
int32_t GetItemByIndex(ObjectHandle collection, int32_t index, ObjectHandle *item) {
  if (auto status = Enter(Op<S>("getItemByIndex"), std::to_string(index))) return *status;
  Object *c = UseCollection<S>(collection);
  if (c == nullptr) return kMisuse;
  auto &items = c->store->Of(kSetKinds[S]);
  if (index < 1 || static_cast<size_t>(index) > items.size()) return kNotFound;
  *item = NewObject({ObjectType::Item, c->store, kSetKinds[S], items[index - 1]});
  return 0;
}

template <SetId S>
int32_t FindItem(ObjectHandle collection, const char *name, ObjectHandle *item) {
  if (auto status = Enter(Op<S>("findItem"), name != nullptr ? name : "(null)")) return *status;
  Object *c = UseCollection<S>(collection);
  if (c == nullptr) return kMisuse;
  if (name == nullptr) return kNotFound;
  for (auto &candidate : c->store->Of(kSetKinds[S])) {
    if (candidate->name == name) {
      *item = NewObject({ObjectType::Item, c->store, kSetKinds[S], candidate});
      return 0;
    }
  }
  return kNotFound;
}

template <SetId S>
int32_t AddItem(ObjectHandle collection, const char *name, ObjectHandle *item) {
  if (auto status = Enter(Op<S>("addItem"), name != nullptr ? name : "(null)")) return *status;
  Object *c = UseCollection<S>(collection);
  if (c == nullptr) return kMisuse;
  if (name == nullptr) return kNotFound;
  if (c->store->Find(kSetKinds[S], name) != nullptr) return kAlreadyExists;
  c->store->Add(kSetKinds[S], name);
  *item = NewObject({ObjectType::Item, c->store, kSetKinds[S], c->store->Of(kSetKinds[S]).back()});
  return 0;
}

template <SetId S>
int32_t RemoveItem(ObjectHandle collection, ObjectHandle item) {
  if (auto status = Enter(Op<S>("removeItem"))) return *status;
  Object *c = UseCollection<S>(collection);
  Object *i = UseItem<S>(item);
  if (c == nullptr || i == nullptr) return kMisuse;
  auto &items = c->store->Of(kSetKinds[S]);
  for (auto it = items.begin(); it != items.end(); ++it) {
    if (*it == i->item) {
      items.erase(it);
      return 0;
    }
  }
  return kNotFound;
}

template <SetId S>
int32_t GetString(ObjectHandle item, int32_t property, int32_t size, char *buffer) {
  if (auto status = Enter(Op<S>("getString"), std::to_string(property))) return *status;
  Object *i = UseItem<S>(item);
  if (i == nullptr) return kMisuse;
  if (property == velmora::kPropertyName) return WriteString(i->item->name, size, buffer);
  auto found = i->item->strings.find(property);
  return WriteString(found != i->item->strings.end() ? found->second : "", size, buffer);
}

template <SetId S>
int32_t SetString(ObjectHandle item, int32_t property, const char *value) {
  if (auto status = Enter(Op<S>("setString"), std::to_string(property))) return *status;
  Object *i = UseItem<S>(item);
  if (i == nullptr) return kMisuse;
  if (value == nullptr) return kNotFound;
  if (property == velmora::kPropertyName) {
    i->item->name = value;
  } else {
    i->item->strings[property] = value;
  }
  return 0;
}

template <SetId S>
int32_t GetReference(ObjectHandle referrer, ObjectHandle *target) {
  if (auto status = Enter(Op<S>("getReference"))) return *status;
  Object *r = Use(referrer, ObjectType::Item);
  if (r == nullptr || !MayRefer(r->item->kind, kSetKinds[S])) return Misuse();
  auto named = r->item->refs.find(kSetKinds[S]);
  if (named == r->item->refs.end() || named->second.empty()) return 0;
  for (auto &candidate : r->store->Of(kSetKinds[S])) {
    if (candidate->name == named->second) {
      *target = NewObject({ObjectType::Item, r->store, kSetKinds[S], candidate});
      return 0;
    }
  }
  return kNotFound;
}

template <SetId S>
int32_t SetReference(ObjectHandle referrer, ObjectHandle target) {
  if (auto status = Enter(Op<S>("setReference"))) return *status;
  Object *r = Use(referrer, ObjectType::Item);
  Object *t = UseItem<S>(target);
  if (r == nullptr || t == nullptr || !MayRefer(r->item->kind, kSetKinds[S])) return Misuse();
  r->item->refs[kSetKinds[S]] = t->item->name;
  return 0;
}

int32_t ClassGetCollection(void *owner, ObjectHandle *collection) {
  if (auto status = Enter("DriverClass.getCollection")) return *status;
  Object *driver = Use(owner, ObjectType::Item);
  if (driver == nullptr || driver->item->kind != Kind::Driver) return Misuse();
  *collection = NewObject({ObjectType::ClassCollection, driver->store, Kind::Driver, driver->item});
  return 0;
}

int32_t ClassGetCount(ObjectHandle collection, int32_t *count) {
  if (auto status = Enter("DriverClass.getCount")) return *status;
  Object *c = Use(collection, ObjectType::ClassCollection);
  if (c == nullptr || count == nullptr) return Misuse();
  *count = static_cast<int32_t>(c->item->classes.size());
  return 0;
}

int32_t ClassGetItemByIndex(ObjectHandle collection, int32_t index, ObjectHandle *entry) {
  if (auto status = Enter("DriverClass.getItemByIndex", std::to_string(index))) return *status;
  Object *c = Use(collection, ObjectType::ClassCollection);
  if (c == nullptr) return kMisuse;
  if (index < 1 || static_cast<size_t>(index) > c->item->classes.size()) return kNotFound;
  *entry = NewObject(
      {ObjectType::ClassEntry, c->store, Kind::Driver, c->item, static_cast<size_t>(index - 1)});
  return 0;
}

int32_t ClassGetString(ObjectHandle entry, int32_t property, int32_t size, char *buffer) {
  if (auto status = Enter("DriverClass.getString", std::to_string(property))) return *status;
  Object *e = Use(entry, ObjectType::ClassEntry);
  if (e == nullptr || property != velmora::kPropertyName) return Misuse();
  if (e->entry >= e->item->classes.size()) return kNotFound;
  return WriteString(e->item->classes[e->entry], size, buffer);
}

// ---- Channel entries -------------------------------------------------------

const ChannelEntry *EntryOf(const Object &object) {
  auto &channels = object.item->channels;
  return object.entry < channels.size() ? &channels[object.entry] : nullptr;
}

std::vector<std::string> Split(const std::string &line, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.emplace_back();
  return fields;
}

bool KindFromName(const std::string &name, Kind &kind) {
  for (Kind k : {Kind::LogicalName, Kind::Session, Kind::Driver, Kind::Device}) {
    if (name == KindName(k)) {
      kind = k;
      return true;
    }
  }
  return false;
}

bool ToInt(const std::string &text, int32_t &value) {
  try {
    size_t used = 0;
    const long parsed = std::stol(text, &used);
    if (used != text.size() || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

// ---- Store content and its text form ---------------------------------------

const char *KindName(Kind kind) {
  switch (kind) {
    case Kind::LogicalName:
      return "logicalname";
    case Kind::Session:
      return "session";
    case Kind::Driver:
      return "driver";
    case Kind::Device:
      return "device";
  }
  return "?";
}

Item *Store::Find(Kind kind, const std::string &name) {
  for (auto &item : Of(kind)) {
    if (item->name == name) return item.get();
  }
  return nullptr;
}

Item &Store::Add(Kind kind, const std::string &name) {
  auto item = std::make_shared<Item>();
  item->kind = kind;
  item->name = name;
  Of(kind).push_back(item);
  return *item;
}

bool Parse(const std::string &text, Store &out) {
  Store parsed;
  Item *current = nullptr;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto fields = Split(line, '|');
    Kind kind;
    int32_t id = 0, value = 0;
    if (fields.size() == 2 && KindFromName(fields[0], kind)) {
      current = &parsed.Add(kind, fields[1]);
    } else if (current == nullptr) {
      return false;
    } else if (fields.size() == 3 && fields[0] == "string" && ToInt(fields[1], id)) {
      current->strings[id] = fields[2];
    } else if (fields.size() == 3 && fields[0] == "ref" && KindFromName(fields[1], kind)) {
      current->refs[kind] = fields[2];
    } else if (fields.size() == 3 && fields[0] == "bool" && ToInt(fields[1], id) &&
               ToInt(fields[2], value)) {
      current->booleans[id] = value;
    } else if (fields.size() == 2 && fields[0] == "class") {
      current->classes.push_back(fields[1]);
    } else if (fields.size() >= 2 && fields.size() % 2 == 0 && fields[0] == "channel") {
      ChannelEntry entry{fields[1], {}, std::nullopt};
      for (size_t f = 2; f < fields.size(); f += 2) {
        Range range{};
        if (!ToInt(fields[f], range.low) || !ToInt(fields[f + 1], range.high)) return false;
        entry.ranges.push_back(range);
      }
      current->channels.push_back(entry);
    } else {
      return false;
    }
  }
  out = std::move(parsed);
  return true;
}

std::string Serialize(const Store &store) {
  std::ostringstream out;
  for (const auto &items : store.items) {
    for (const auto &item : items) {
      out << KindName(item->kind) << '|' << item->name << '\n';
      for (const auto &[id, value] : item->strings) out << "string|" << id << '|' << value << '\n';
      for (const auto &[kind, name] : item->refs)
        out << "ref|" << KindName(kind) << '|' << name << '\n';
      for (const auto &[id, value] : item->booleans) out << "bool|" << id << '|' << value << '\n';
      for (const auto &name : item->classes) out << "class|" << name << '\n';
      for (const auto &entry : item->channels) {
        out << "channel|" << entry.name;
        for (const Range &range : entry.ranges) out << '|' << range.low << '|' << range.high;
        out << '\n';
      }
    }
  }
  return out.str();
}

// ---- Test controls -----------------------------------------------------------

void Reset() {
  Control &c = State();
  for (Store *store : c.stores) delete store;
  for (Object *object : c.objects) delete object;
  c = Control();
}

void SetDefaultLocations(const std::string &attribute5, const std::string &attribute3) {
  State().defaultLocation5 = attribute5;
  State().defaultLocation3 = attribute3;
}

void AcceptClassNames(const std::vector<std::string> &names) {
  State().classNames = std::set<std::string>(names.begin(), names.end());
}

void FailOn(const std::string &operation, int32_t status, int nth) {
  State().failures.push_back({operation, status, nth});
}

void OnCall(const std::string &operation, int nth, std::function<void()> hook) {
  State().hooks.push_back({operation, nth, 0, std::move(hook)});
}

const std::vector<std::string> &Trace() {
  return State().trace;
}

void ClearTrace() {
  State().trace.clear();
  State().calls.clear();
}

int CallCount(const std::string &operation) {
  auto found = State().calls.find(operation);
  return found != State().calls.end() ? found->second : 0;
}

int LiveStores() {
  return static_cast<int>(State().stores.size());
}
int LiveObjects() {
  return static_cast<int>(State().objects.size());
}
int Misuses() {
  return State().misuses;
}
int InitializeCalls() {
  return State().initializeCalls;
}
int EmptyReferenceNotes() {
  return State().emptyReferenceNotes;
}

Store *StoreOf(StoreHandle handle) {
  auto *store = static_cast<Store *>(handle);
  return State().stores.count(store) != 0 ? store : nullptr;
}

}  // namespace memstore

// ---- The back end itself -------------------------------------------------------

namespace velmora {

using memstore::Kind;
using memstore::kMisuse;
using memstore::kNotFound;
using memstore::ObjectType;

#define MEMSTORE_FULL_TABLE(S)                                                      \
  {                                                                                 \
    memstore::GetCollection<S>, memstore::GetCount<S>, memstore::GetItemByIndex<S>, \
        memstore::FindItem<S>, memstore::AddItem<S>, memstore::RemoveItem<S>,       \
        memstore::GetString<S>, memstore::SetString<S>, memstore::GetReference<S>,  \
        memstore::SetReference<S>                                                   \
  }

const CollectionOps LogicalNameOps = {memstore::GetCollection<memstore::kLogicalNameSet>,
                                      memstore::GetCount<memstore::kLogicalNameSet>,
                                      memstore::GetItemByIndex<memstore::kLogicalNameSet>,
                                      memstore::FindItem<memstore::kLogicalNameSet>,
                                      memstore::AddItem<memstore::kLogicalNameSet>,
                                      memstore::RemoveItem<memstore::kLogicalNameSet>,
                                      memstore::GetString<memstore::kLogicalNameSet>,
                                      memstore::SetString<memstore::kLogicalNameSet>,
                                      nullptr,
                                      nullptr};
const CollectionOps SessionOps = MEMSTORE_FULL_TABLE(memstore::kSessionSet);
// Sessions read through a logical name: their own slots, but the reference
// slots are the session set's.
const CollectionOps SessionTargetOps = {memstore::GetCollection<memstore::kSessionTargetSet>,
                                        memstore::GetCount<memstore::kSessionTargetSet>,
                                        memstore::GetItemByIndex<memstore::kSessionTargetSet>,
                                        memstore::FindItem<memstore::kSessionTargetSet>,
                                        memstore::AddItem<memstore::kSessionTargetSet>,
                                        memstore::RemoveItem<memstore::kSessionTargetSet>,
                                        memstore::GetString<memstore::kSessionTargetSet>,
                                        memstore::SetString<memstore::kSessionTargetSet>,
                                        memstore::GetReference<memstore::kSessionSet>,
                                        memstore::SetReference<memstore::kSessionSet>};
const CollectionOps DriverOps = MEMSTORE_FULL_TABLE(memstore::kDriverSet);
const CollectionOps DeviceOps = MEMSTORE_FULL_TABLE(memstore::kDeviceSet);
const CollectionOps DriverClassOps = {memstore::ClassGetCollection,
                                      memstore::ClassGetCount,
                                      memstore::ClassGetItemByIndex,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      memstore::ClassGetString,
                                      nullptr,
                                      nullptr,
                                      nullptr};

#undef MEMSTORE_FULL_TABLE

void InitializeBackEnd() {
  ++memstore::State().initializeCalls;
}

int32_t CreateStore(StoreHandle *store) {
  if (auto status = memstore::Enter("CreateStore")) return *status;
  auto *created = new memstore::Store;
  memstore::State().stores.insert(created);
  *store = created;
  return 0;
}

int32_t GetStoreString(StoreHandle store, int32_t attribute, int32_t capacity, char *buffer) {
  if (auto status = memstore::Enter("GetStoreString", std::to_string(attribute))) return *status;
  if (memstore::UseStore(store) == nullptr) return kMisuse;
  if (attribute == kStoreDefaultLocation) {
    return memstore::WriteString(memstore::State().defaultLocation5, capacity, buffer);
  }
  if (attribute == kStoreFallbackLocation) {
    return memstore::WriteString(memstore::State().defaultLocation3, capacity, buffer);
  }
  return kNotFound;
}

int32_t LoadStore(StoreHandle store, const char *path) {
  if (auto status = memstore::Enter("LoadStore", path != nullptr ? path : "(null)")) {
    return *status;
  }
  memstore::Store *target = memstore::UseStore(store);
  if (target == nullptr || path == nullptr) return kMisuse;
  if (path[0] == '\0') {
    *target = memstore::Store();
    return 0;
  }
  // Read through one descriptor, whose identity the store then reports.
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNotFound;
  struct stat info;
  std::string text;
  char chunk[4096];
  ssize_t got = fstat(fd, &info) == 0 ? 1 : -1;
  while (got > 0 && (got = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, got);
  close(fd);
  if (got < 0) return kNotFound;
  if (!memstore::Parse(text, *target)) return memstore::kBadFile;
  target->identity = velmora::IdentityOf(info);
  return 0;
}

int32_t SaveStore(StoreHandle store, const char *path) {
  if (auto status = memstore::Enter("SaveStore", path != nullptr ? path : "(null)")) {
    return *status;
  }
  memstore::Store *source = memstore::UseStore(store);
  if (source == nullptr || path == nullptr) return kMisuse;
  if (path[0] == '\0') return kNotFound;
  std::ofstream file(path, std::ios::trunc);
  file << memstore::Serialize(*source);
  return file.good() ? 0 : kNotFound;
}

// Not traced: the library asks it after every load, and the tests' traces
// list the operations each export runs on the store's content.
int32_t GetStoreFileIdentity(StoreHandle store, FileIdentity *identity) {
  memstore::Store *source = memstore::UseStore(store);
  if (source == nullptr || identity == nullptr) return kMisuse;
  if (!source->identity) return kNotFound;
  *identity = *source->identity;
  return 0;
}

// The two release operations always release; an injected status only changes
// their answer, which the library must ignore.
int32_t ReleaseStore(StoreHandle store) {
  const auto injected = memstore::Enter("ReleaseStore");
  memstore::Store *released = memstore::UseStore(store);
  if (released == nullptr) return kMisuse;
  memstore::State().stores.erase(released);
  delete released;
  return injected.value_or(0);
}

int32_t ReleaseObject(ObjectHandle object) {
  const auto injected = memstore::Enter("ReleaseObject", "", false);
  auto *released = static_cast<memstore::Object *>(object);
  if (memstore::State().objects.erase(released) == 0) return memstore::Misuse();
  delete released;
  return injected.value_or(0);
}

int32_t NoteEmptyReference() {
  ++memstore::State().emptyReferenceNotes;
  return memstore::Enter("NoteEmptyReference").value_or(0);
}

int32_t SetSessionBoolean(ObjectHandle session, int32_t property, int32_t value) {
  const std::string detail = std::to_string(property) + "=" + std::to_string(value);
  if (auto status = memstore::Enter("SetSessionBoolean", detail)) return *status;
  memstore::Object *s = memstore::UseItem<memstore::kSessionSet>(session);
  if (s == nullptr) return kMisuse;
  s->item->booleans[property] = value;
  return 0;
}

int32_t GetChannelEntries(ObjectHandle session, ObjectHandle *entries) {
  if (auto status = memstore::Enter("GetChannelEntries")) return *status;
  memstore::Object *s = memstore::UseItem<memstore::kSessionSet>(session);
  if (s == nullptr) return kMisuse;
  *entries = memstore::NewObject({ObjectType::ChannelEntries, s->store, Kind::Session, s->item});
  return 0;
}

int32_t CountChannelEntries(ObjectHandle entries, int32_t *count) {
  if (auto status = memstore::Enter("CountChannelEntries")) return *status;
  memstore::Object *e = memstore::Use(entries, ObjectType::ChannelEntries);
  if (e == nullptr || count == nullptr) return memstore::Misuse();
  *count = static_cast<int32_t>(e->item->channels.size());
  return 0;
}

int32_t GetChannelEntry(ObjectHandle entries, int32_t index, ObjectHandle *entry) {
  if (auto status = memstore::Enter("GetChannelEntry", std::to_string(index))) return *status;
  memstore::Object *e = memstore::Use(entries, ObjectType::ChannelEntries);
  if (e == nullptr) return kMisuse;
  if (index < 1 || static_cast<size_t>(index) > e->item->channels.size()) return kNotFound;
  *entry = memstore::NewObject(
      {ObjectType::Channel, e->store, Kind::Session, e->item, static_cast<size_t>(index - 1)});
  return 0;
}

int32_t GetEntryString(ObjectHandle entry, int32_t property, int32_t capacity, char *buffer) {
  const std::string detail = std::to_string(property) + " " + std::to_string(capacity);
  if (auto status = memstore::Enter("GetEntryString", detail)) return *status;
  memstore::Object *e = memstore::Use(entry, ObjectType::Channel);
  if (e == nullptr || property != kPropertyName) return memstore::Misuse();
  const memstore::ChannelEntry *channel = memstore::EntryOf(*e);
  if (channel == nullptr) return kNotFound;
  return memstore::WriteString(channel->name, capacity, buffer);
}

int32_t GetEntryRanges(ObjectHandle entry, ObjectHandle *ranges) {
  if (auto status = memstore::Enter("GetEntryRanges")) return *status;
  memstore::Object *e = memstore::Use(entry, ObjectType::Channel);
  if (e == nullptr) return kMisuse;
  *ranges = memstore::NewObject({ObjectType::Ranges, e->store, Kind::Session, e->item, e->entry});
  return 0;
}

int32_t CountRanges(ObjectHandle ranges, int32_t *count) {
  if (auto status = memstore::Enter("CountRanges")) return *status;
  memstore::Object *r = memstore::Use(ranges, ObjectType::Ranges);
  if (r == nullptr || count == nullptr) return memstore::Misuse();
  const memstore::ChannelEntry *channel = memstore::EntryOf(*r);
  if (channel == nullptr) return kNotFound;
  *count = channel->reportedRangeCount.value_or(static_cast<int32_t>(channel->ranges.size()));
  return 0;
}

int32_t GetRange(ObjectHandle ranges, int32_t index, ObjectHandle *range) {
  if (auto status = memstore::Enter("GetRange", std::to_string(index))) return *status;
  memstore::Object *r = memstore::Use(ranges, ObjectType::Ranges);
  if (r == nullptr) return kMisuse;
  const memstore::ChannelEntry *channel = memstore::EntryOf(*r);
  if (channel == nullptr || index < 1 || static_cast<size_t>(index) > channel->ranges.size()) {
    return kNotFound;
  }
  memstore::Object created{ObjectType::Range, r->store, Kind::Session, r->item, r->entry};
  created.range = static_cast<size_t>(index - 1);
  *range = memstore::NewObject(created);
  return 0;
}

int32_t GetRangeInteger(ObjectHandle range, int32_t property, int32_t *value) {
  if (auto status = memstore::Enter("GetRangeInteger", std::to_string(property))) return *status;
  memstore::Object *r = memstore::Use(range, ObjectType::Range);
  if (r == nullptr || value == nullptr) return memstore::Misuse();
  const memstore::ChannelEntry *channel = memstore::EntryOf(*r);
  if (channel == nullptr || r->range >= channel->ranges.size()) return kNotFound;
  if (property == kRangeLow) {
    *value = channel->ranges[r->range].low;
  } else if (property == kRangeHigh) {
    *value = channel->ranges[r->range].high;
  } else {
    return memstore::Misuse();
  }
  return 0;
}

uint16_t IsDriverClassName(const char *name) {
  return name != nullptr && memstore::State().classNames.count(name) != 0 ? 1 : 0;
}

}  // namespace velmora

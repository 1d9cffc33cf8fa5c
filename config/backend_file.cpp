// The file back end: every store operation over a configuration kept in a
// plain text file (config/store_file). Object handles are small records from
// malloc that name a store and an item, class entry, channel entry or range
// by number; item numbers stay valid after removals, so a handle of a removed
// item answers kIviIniStoreNoSuchItem rather than touching freed memory.
#include <stdlib.h>
#include <string.h>

#include "config/backend.h"
#include "config/store_file/store_model.h"
#include "config/string_return.h"
#include "velmora/velmora.h"

#ifndef VELMORA_SYSTEM_STORE_PATH
#error \
    "VELMORA_SYSTEM_STORE_PATH names the store of the install prefix (<sysconfdir>/velmora/store.ini)"
#endif

namespace velmora {
namespace {

using store::Field;
using store::Kind;
using store::Store;
using store::TextView;

enum class HandleType : uint32_t {
  kCollection,      // the items of one kind
  kItem,            // one item
  kClasses,         // the class entries of a driver
  kClassEntry,      //   one of them
  kChannelEntries,  // the channel entries of a session
  kChannelEntry,    //   one of them
  kRanges,          //   the index ranges of one entry
  kRange,           //     one of them
};

// Marks a live handle, so that one released twice or made up is refused.
constexpr uint32_t kHandleMark = 0x76656C6Du;

struct Handle {
  uint32_t mark;
  HandleType type;
  Store *store;
  Kind kind;       // collections and items
  uint32_t item;   // items, and the item that owns class and channel handles
  uint32_t entry;  // class or channel entry, from 0
  uint32_t range;  // range, from 0
};

int32_t Hand(const Handle &contents, ObjectHandle *out) {
  if (out == nullptr) return kIviIniBackEndFailure;
  auto *handle = static_cast<Handle *>(malloc(sizeof(Handle)));
  if (handle == nullptr) return kIviIniOutOfMemory;
  *handle = contents;
  handle->mark = kHandleMark;
  *out = handle;
  return kIviIniSuccess;
}

// The handle behind `object` if it is a live one of `type`, else null.
Handle *Use(ObjectHandle object, HandleType type) {
  auto *handle = static_cast<Handle *>(object);
  if (handle == nullptr || handle->mark != kHandleMark || handle->type != type) return nullptr;
  return handle;
}

// A live item handle of `kind` whose item has not been removed.
Handle *UseItem(ObjectHandle object, Kind kind) {
  Handle *handle = Use(object, HandleType::kItem);
  if (handle == nullptr || handle->kind != kind) return nullptr;
  return handle;
}

int32_t ItemStatus(const Handle *handle) {
  if (handle == nullptr) return kIviIniBackEndFailure;
  return handle->store->IsLive(handle->item) ? kIviIniSuccess : kIviIniStoreNoSuchItem;
}

// The three collections inside an item: a driver's class entries, a
// session's channel entries, and one channel entry's ranges. They are
// counted and walked the same way; only what they count differs.
uint32_t MemberCount(const Handle &collection) {
  switch (collection.type) {
    case HandleType::kClasses:
      return collection.store->ClassCount(collection.item);
    case HandleType::kChannelEntries:
      return collection.store->ChannelEntryCount(collection.item);
    case HandleType::kRanges:
      return collection.store->RangeCount(collection.item, collection.entry);
    default:
      return 0;
  }
}

int32_t CountMembers(ObjectHandle object, HandleType type, int32_t *count) {
  const Handle *c = Use(object, type);
  const int32_t status = ItemStatus(c);
  if (status != kIviIniSuccess) return status;
  if (count == nullptr) return kIviIniBackEndFailure;
  *count = static_cast<int32_t>(MemberCount(*c));
  return kIviIniSuccess;
}

// A handle of the index-th member (from 1) of such a collection.
int32_t MemberByIndex(ObjectHandle object, HandleType type, HandleType memberType, int32_t index,
                      ObjectHandle *member) {
  const Handle *c = Use(object, type);
  const int32_t status = ItemStatus(c);
  if (status != kIviIniSuccess) return status;
  if (index < 1 || static_cast<uint32_t>(index) > MemberCount(*c)) return kIviIniStoreNoSuchItem;
  Handle contents = *c;
  contents.type = memberType;
  // A range is a member of one channel entry; the others of their item.
  (type == HandleType::kRanges ? contents.range : contents.entry) =
      static_cast<uint32_t>(index - 1);
  return Hand(contents, member);
}

int32_t Answer(TextView text, int32_t size, char *buffer) {
  return StringReturn(text.data, text.length, buffer, size);
}

// The field a string property identifier means for items of `kind`.
bool PropertyField(Kind kind, int32_t property, Field *field) {
  switch (property) {
    case kPropertyDescription:
      *field = Field::kDescription;
      return true;
    case kPropertyModule:  // also kPropertyResourceDescriptor
      if (kind != Kind::kDriver && kind != Kind::kDevice) return false;
      *field = kind == Kind::kDriver ? Field::kModule : Field::kResource;
      return true;
    case kPropertyPrefix:
      *field = Field::kPrefix;
      return kind == Kind::kDriver;
    case kPropertyDriverSetup:
      *field = Field::kDriverSetup;
      return kind == Kind::kSession;
    default:
      return false;
  }
}

// ---- The collection operations, one instance per kind of item --------------

template <Kind K>
int32_t GetCollection(void *owner, ObjectHandle *collection) {
  if (owner == nullptr) return kIviIniBackEndFailure;
  return Hand({0, HandleType::kCollection, static_cast<Store *>(owner), K, 0, 0, 0}, collection);
}

template <Kind K>
Handle *UseCollection(ObjectHandle object) {
  Handle *handle = Use(object, HandleType::kCollection);
  return handle != nullptr && handle->kind == K ? handle : nullptr;
}

template <Kind K>
int32_t GetCount(ObjectHandle collection, int32_t *count) {
  const Handle *c = UseCollection<K>(collection);
  if (c == nullptr || count == nullptr) return kIviIniBackEndFailure;
  *count = static_cast<int32_t>(c->store->Count(K));
  return kIviIniSuccess;
}

template <Kind K>
int32_t GetItemByIndex(ObjectHandle collection, int32_t index, ObjectHandle *item) {
  const Handle *c = UseCollection<K>(collection);
  if (c == nullptr) return kIviIniBackEndFailure;
  if (index < 1 || static_cast<uint32_t>(index) > c->store->Count(K)) {
    return kIviIniStoreNoSuchItem;
  }
  const uint32_t number = c->store->ItemAt(K, static_cast<uint32_t>(index - 1));
  return Hand({0, HandleType::kItem, c->store, K, number, 0, 0}, item);
}

template <Kind K>
int32_t FindItem(ObjectHandle collection, const char *name, ObjectHandle *item) {
  const Handle *c = UseCollection<K>(collection);
  if (c == nullptr) return kIviIniBackEndFailure;
  if (name == nullptr) return kIviIniStoreNoSuchItem;
  const uint32_t number = c->store->Find(K, name, strlen(name));
  if (number == store::kNoItem) return kIviIniStoreNoSuchItem;
  return Hand({0, HandleType::kItem, c->store, K, number, 0, 0}, item);
}

template <Kind K>
int32_t AddItem(ObjectHandle collection, const char *name, ObjectHandle *item) {
  const Handle *c = UseCollection<K>(collection);
  if (c == nullptr) return kIviIniBackEndFailure;
  // The handle comes first: once the item is in, nothing may fail.
  ObjectHandle handle = nullptr;
  int32_t status = Hand({0, HandleType::kItem, c->store, K, 0, 0, 0}, &handle);
  if (status != kIviIniSuccess) return status;
  uint32_t number = 0;
  status = c->store->Add(K, name, &number);
  if (status != kIviIniSuccess) {
    ReleaseObject(handle);
    return status;
  }
  static_cast<Handle *>(handle)->item = number;
  *item = handle;
  return kIviIniSuccess;
}

template <Kind K>
int32_t RemoveItem(ObjectHandle collection, ObjectHandle item) {
  const Handle *c = UseCollection<K>(collection);
  const Handle *i = UseItem(item, K);
  if (c == nullptr || i == nullptr || i->store != c->store) return kIviIniBackEndFailure;
  return c->store->Remove(i->item);
}

template <Kind K>
int32_t GetString(ObjectHandle item, int32_t property, int32_t size, char *buffer) {
  const Handle *i = UseItem(item, K);
  const int32_t status = ItemStatus(i);
  if (status != kIviIniSuccess) return status;
  if (property == kPropertyName) return Answer(i->store->Name(i->item), size, buffer);
  Field field;
  if (!PropertyField(K, property, &field)) return kIviIniStoreNoSuchProperty;
  return Answer(i->store->Value(i->item, field), size, buffer);
}

template <Kind K>
int32_t SetString(ObjectHandle item, int32_t property, const char *value) {
  const Handle *i = UseItem(item, K);
  const int32_t status = ItemStatus(i);
  if (status != kIviIniSuccess) return status;
  Field field;
  if (!PropertyField(K, property, &field)) return kIviIniStoreNoSuchProperty;
  return i->store->SetValue(i->item, field, value);
}

// The item of kind K that `referrer` refers to; K is the set's own kind.
template <Kind K>
int32_t GetReference(ObjectHandle referrer, ObjectHandle *target) {
  const Handle *r = Use(referrer, HandleType::kItem);
  const int32_t status = ItemStatus(r);
  if (status != kIviIniSuccess) return status;
  Field field;
  if (!store::ReferenceField(r->kind, K, &field)) return kIviIniStoreNoSuchProperty;
  const uint32_t number = r->store->Target(r->item, field);
  // Naming nothing, or a name that no item has, is referring to none.
  if (number == store::kNoItem) return kIviIniSuccess;
  return Hand({0, HandleType::kItem, r->store, K, number, 0, 0}, target);
}

template <Kind K>
int32_t SetReference(ObjectHandle referrer, ObjectHandle target) {
  const Handle *r = Use(referrer, HandleType::kItem);
  const Handle *t = UseItem(target, K);
  int32_t status = ItemStatus(r);
  if (status == kIviIniSuccess) status = ItemStatus(t);
  if (status != kIviIniSuccess) return status;
  if (r->store != t->store) return kIviIniBackEndFailure;
  Field field;
  if (!store::ReferenceField(r->kind, K, &field)) return kIviIniStoreNoSuchProperty;
  return r->store->SetReference(r->item, field, t->item);
}

// ---- Class entries of a driver ----------------------------------------------

int32_t ClassGetCollection(void *owner, ObjectHandle *collection) {
  const Handle *driver = UseItem(owner, Kind::kDriver);
  int32_t status = ItemStatus(driver);
  if (status == kIviIniSuccess) status = driver->store->PrepareLists(driver->item);
  if (status != kIviIniSuccess) return status;
  return Hand({0, HandleType::kClasses, driver->store, Kind::kDriver, driver->item, 0, 0},
              collection);
}

int32_t ClassGetCount(ObjectHandle collection, int32_t *count) {
  return CountMembers(collection, HandleType::kClasses, count);
}

int32_t ClassGetItemByIndex(ObjectHandle collection, int32_t index, ObjectHandle *entry) {
  return MemberByIndex(collection, HandleType::kClasses, HandleType::kClassEntry, index, entry);
}

int32_t ClassGetString(ObjectHandle entry, int32_t property, int32_t size, char *buffer) {
  const Handle *e = Use(entry, HandleType::kClassEntry);
  const int32_t status = ItemStatus(e);
  if (status != kIviIniSuccess) return status;
  if (property != kPropertyName) return kIviIniStoreNoSuchProperty;
  return Answer(e->store->ClassAt(e->item, e->entry), size, buffer);
}

template <Kind K>
constexpr CollectionOps AllSlots() {
  return {GetCollection<K>, GetCount<K>,  GetItemByIndex<K>, FindItem<K>,     AddItem<K>,
          RemoveItem<K>,    GetString<K>, SetString<K>,      GetReference<K>, SetReference<K>};
}

}  // namespace

// Logical names are never referred to: their set leaves slots 8 and 9 empty.
const CollectionOps LogicalNameOps = {GetCollection<Kind::kLogicalName>,
                                      GetCount<Kind::kLogicalName>,
                                      GetItemByIndex<Kind::kLogicalName>,
                                      FindItem<Kind::kLogicalName>,
                                      AddItem<Kind::kLogicalName>,
                                      RemoveItem<Kind::kLogicalName>,
                                      GetString<Kind::kLogicalName>,
                                      SetString<Kind::kLogicalName>,
                                      nullptr,
                                      nullptr};
const CollectionOps SessionOps = AllSlots<Kind::kSession>();
// A session read through a logical name is the session itself.
const CollectionOps SessionTargetOps = AllSlots<Kind::kSession>();
const CollectionOps DriverOps = AllSlots<Kind::kDriver>();
const CollectionOps DeviceOps = AllSlots<Kind::kDevice>();
const CollectionOps DriverClassOps = {ClassGetCollection,
                                      ClassGetCount,
                                      ClassGetItemByIndex,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      ClassGetString,
                                      nullptr,
                                      nullptr,
                                      nullptr};

void InitializeBackEnd() {}

int32_t CreateStore(StoreHandle *handle) {
  if (handle == nullptr) return kIviIniBackEndFailure;
  Store *created = Store::Create();
  if (created == nullptr) return kIviIniOutOfMemory;
  *handle = created;
  return kIviIniSuccess;
}

int32_t GetStoreString(StoreHandle, int32_t attribute, int32_t capacity, char *buffer) {
  const char *location;
  if (attribute == kStoreDefaultLocation) {
    // The one setting the library reads: where a user keeps their store. A
    // set-user-ID program does not take it from its caller's environment.
    location = secure_getenv("VELMORA_STORE");
    if (location == nullptr) location = "";
  } else if (attribute == kStoreFallbackLocation) {
    location = VELMORA_SYSTEM_STORE_PATH;
  } else {
    return kIviIniStoreNoSuchProperty;
  }
  if (buffer == nullptr || capacity < 1) return kIviIniBackEndFailure;
  const size_t length = strlen(location);
  // A cut path would name another file: refuse it instead.
  if (length >= static_cast<size_t>(capacity)) return kIviIniPathTooLong;
  memcpy(buffer, location, length + 1);
  return kIviIniSuccess;
}

int32_t LoadStore(StoreHandle handle, const char *path) {
  if (handle == nullptr) return kIviIniBackEndFailure;
  return static_cast<Store *>(handle)->LoadFile(path, nullptr);
}

int32_t SaveStore(StoreHandle handle, const char *path) {
  if (handle == nullptr) return kIviIniBackEndFailure;
  return static_cast<Store *>(handle)->Save(path);
}

int32_t GetStoreFileIdentity(StoreHandle handle, FileIdentity *identity) {
  if (handle == nullptr || identity == nullptr) return kIviIniBackEndFailure;
  return static_cast<Store *>(handle)->FileIdentityOf(identity) ? kIviIniSuccess
                                                                : kIviIniBackEndFailure;
}

int32_t ReleaseStore(StoreHandle handle) {
  Store::Destroy(static_cast<Store *>(handle));
  return kIviIniSuccess;
}

int32_t ReleaseObject(ObjectHandle object) {
  auto *handle = static_cast<Handle *>(object);
  if (handle == nullptr || handle->mark != kHandleMark) return kIviIniBackEndFailure;
  handle->mark = 0;
  free(handle);
  return kIviIniSuccess;
}

// A reference that names nothing is an ordinary state of a store, not
// something to keep a record of.
int32_t NoteEmptyReference() {
  return kIviIniSuccess;
}

int32_t SetSessionBoolean(ObjectHandle session, int32_t property, int32_t value) {
  const Handle *s = UseItem(session, Kind::kSession);
  const int32_t status = ItemStatus(s);
  if (status != kIviIniSuccess) return status;
  if (property != kPropertySimulate) return kIviIniStoreNoSuchProperty;
  return s->store->SetBoolean(s->item, Field::kSimulate, value != 0);
}

// ---- Channels -----------------------------------------------------------------

int32_t GetChannelEntries(ObjectHandle session, ObjectHandle *entries) {
  const Handle *s = UseItem(session, Kind::kSession);
  int32_t status = ItemStatus(s);
  if (status == kIviIniSuccess) status = s->store->PrepareLists(s->item);
  if (status != kIviIniSuccess) return status;
  return Hand({0, HandleType::kChannelEntries, s->store, Kind::kSession, s->item, 0, 0}, entries);
}

int32_t CountChannelEntries(ObjectHandle entries, int32_t *count) {
  return CountMembers(entries, HandleType::kChannelEntries, count);
}

int32_t GetChannelEntry(ObjectHandle entries, int32_t index, ObjectHandle *entry) {
  return MemberByIndex(entries, HandleType::kChannelEntries, HandleType::kChannelEntry, index,
                       entry);
}

int32_t GetEntryString(ObjectHandle entry, int32_t property, int32_t capacity, char *buffer) {
  const Handle *e = Use(entry, HandleType::kChannelEntry);
  const int32_t status = ItemStatus(e);
  if (status != kIviIniSuccess) return status;
  if (property != kPropertyName) return kIviIniStoreNoSuchProperty;
  return Answer(e->store->ChannelEntryName(e->item, e->entry), capacity, buffer);
}

int32_t GetEntryRanges(ObjectHandle entry, ObjectHandle *ranges) {
  const Handle *e = Use(entry, HandleType::kChannelEntry);
  const int32_t status = ItemStatus(e);
  if (status != kIviIniSuccess) return status;
  return Hand({0, HandleType::kRanges, e->store, Kind::kSession, e->item, e->entry, 0}, ranges);
}

int32_t CountRanges(ObjectHandle ranges, int32_t *count) {
  return CountMembers(ranges, HandleType::kRanges, count);
}

int32_t GetRange(ObjectHandle ranges, int32_t index, ObjectHandle *range) {
  return MemberByIndex(ranges, HandleType::kRanges, HandleType::kRange, index, range);
}

int32_t GetRangeInteger(ObjectHandle range, int32_t property, int32_t *value) {
  const Handle *r = Use(range, HandleType::kRange);
  const int32_t status = ItemStatus(r);
  if (status != kIviIniSuccess) return status;
  if (value == nullptr) return kIviIniBackEndFailure;
  const store::Range bounds = r->store->RangeAt(r->item, r->entry, r->range);
  if (property == kRangeLow) {
    *value = bounds.low;
  } else if (property == kRangeHigh) {
    *value = bounds.high;
  } else {
    return kIviIniStoreNoSuchProperty;
  }
  return kIviIniSuccess;
}

uint16_t IsDriverClassName(const char *name) {
  return name != nullptr && store::IsInstrumentClassName(name, strlen(name)) ? 1 : 0;
}

}  // namespace velmora

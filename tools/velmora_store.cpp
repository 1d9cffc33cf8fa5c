// velmora-store: reads and edits a store file through libvelmora, for people
// and for scripts. The usage and the subcommands are the rows of kCommands;
// velmora-store(1) is their manual.
//
// Exit status: 0 done, 1 refused (the message names the library's status and
// its number), 2 the command line is wrong.
//
// The tool opens stores through libvelmora's C interface, so that what it
// reports is what every program using the library gets: the status and the
// name velmora.h gives it, the counts, the values, the channels as
// IviIni_GetNthChannel names them. Every edit is one open, one change and one
// close with save, so it keeps every guarantee of the library's saves: a file
// another program saved since it was read is refused, never overwritten. The
// file back end's own store adds only what the C interface does not carry:
// the line and sentence of a refusal, why a save failed, the values as
// written (a reference to an item the store lacks, the Simulate word, the
// Channels and Classes values), and a name too long for the library's name
// buffer.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "config/configuration.h"
#include "config/store_file/store_model.h"
#include "support/json_writer.h"
#include "velmora/velmora.h"

namespace {

using velmora::store::Field;
using velmora::store::FileFailure;
using velmora::store::FileStep;
using velmora::store::Kind;
using velmora::store::kNoItem;
using velmora::store::ParseError;
using velmora::store::Store;
using velmora::store::TextView;

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
// Channels beyond this many are counted, not listed, by the tree of `show`.
constexpr int32_t kChannelsListed = 32;

struct StatusText {
  const char *name;
  const char *meaning;
};

// The name and meaning velmora.h gives a status.
StatusText DescribeStatus(int32_t status) {
#define VELMORA_STORE_STATUS(name, value, meaning) \
  if (status == (value)) return {#name, meaning};
  IVIINI_STATUS_TABLE(VELMORA_STORE_STATUS)
#undef VELMORA_STORE_STATUS
  return {"status", "a status of the store back end"};
}

// Says why the library refused a file: for a refused file the line and the
// sentence of the store's parser, else what the status means.
int Refused(const char *path, int32_t status) {
  const StatusText text = DescribeStatus(status);
  ParseError error{};
  Store *store = Store::Create();
  const bool detailed = store != nullptr && store->LoadFile(path, &error) == status;
  Store::Destroy(store);
  if (detailed && error.line > 0) {
    fprintf(stderr, "%s:%u: %s (%s, %d)\n", path, error.line, error.message, text.name, status);
  } else {
    fprintf(stderr, "%s: %s (%s, %d)\n", path, detailed ? error.message : text.meaning, text.name,
            status);
  }
  return kExitRefused;
}

// What a command made of an open store: a status, and for a failure the
// sentence that says why (empty: what velmora.h says the status means).
struct Outcome {
  int32_t status;
  std::string why;
};

Outcome Done() {
  return {kIviIniSuccess, std::string()};
}

int Report(const char *path, const Outcome &outcome) {
  const StatusText text = DescribeStatus(outcome.status);
  fprintf(stderr, "%s: %s (%s, %d)\n", path,
          outcome.why.empty() ? text.meaning : outcome.why.c_str(), text.name, outcome.status);
  return kExitRefused;
}

std::string Text(TextView view) {
  return std::string(view.data, view.length);
}

std::string Summary(IviIniHandle h) {
  int32_t counts[4] = {0, 0, 0, 0};
  IviIni_GetNumberOfLogicalNames(h, &counts[0]);
  IviIni_GetNumberOfVIs(h, &counts[1]);
  IviIni_GetNumberOfDrivers(h, &counts[2]);
  IviIni_GetNumberOfDevices(h, &counts[3]);
  char text[160];
  snprintf(text, sizeof text, "%d logical names, %d sessions, %d drivers, %d devices", counts[0],
           counts[1], counts[2], counts[3]);
  return text;
}

// ---- The vocabulary: kinds, their keys, and the C functions behind them ----

using CountFunction = int32_t (*)(IviIniHandle, int32_t *);
using NthFunction = int32_t (*)(IviIniHandle, int32_t, const char **);
using NameFunction = int32_t (*)(IviIniHandle, const char *);
using GetFunction = int32_t (*)(IviIniHandle, const char *, char *, int32_t);
using SetFunction = int32_t (*)(IviIniHandle, const char *, const char *);

// In the order of Kind. Drivers are read, not changed: no add or remove.
struct KindRow {
  const char *word;  // on the command line and in JSON
  CountFunction count;
  NthFunction nth;
  NameFunction add;
  NameFunction remove;
};

const KindRow kKinds[] = {
    {"logical-name", IviIni_GetNumberOfLogicalNames, IviIni_GetNthLogicalName,
     IviIni_AddLogicalName, IviIni_RemoveLogicalName},
    {"session", IviIni_GetNumberOfVIs, IviIni_GetNthVI, IviIni_AddVI, IviIni_RemoveVI},
    {"driver", IviIni_GetNumberOfDrivers, IviIni_GetNthDriver, nullptr, nullptr},
    {"device", IviIni_GetNumberOfDevices, IviIni_GetNthDevice, IviIni_AddDevice,
     IviIni_RemoveDevice},
};
static_assert(sizeof kKinds / sizeof kKinds[0] == velmora::store::kKindCount, "a row per kind");

const KindRow &RowOf(Kind kind) {
  return kKinds[static_cast<int>(kind)];
}

enum class Shape {
  kText,       // read and set through the C interface
  kReference,  // the same, by the name of the item referred to
  kSimulate,   // set through IviIni_SetVISimulation; the word read from the store
  kChannels,   // expanded by IviIni_GetNthChannel; the value read from the store
  kClasses,    // IviIni_GetDriverClassByIndex; the value read from the store
};

// Every key of every kind; a null `set` is a key the C interface only reads.
// The spelling of a key is the file's (store_keys.h).
struct KeyRow {
  Kind kind;
  Field field;
  Shape shape;
  GetFunction get;
  SetFunction set;
};

const KeyRow kKeys[] = {
    {Kind::kLogicalName, Field::kDescription, Shape::kText, IviIni_GetLogicalNameDescription,
     IviIni_SetLogicalNameDescription},
    {Kind::kLogicalName, Field::kSession, Shape::kReference, IviIni_GetLogicalNameVI,
     IviIni_SetLogicalNameVI},
    {Kind::kSession, Field::kDescription, Shape::kText, IviIni_GetVIDescription,
     IviIni_SetVIDescription},
    {Kind::kSession, Field::kDriverSetup, Shape::kText, IviIni_GetVIDriverSetup,
     IviIni_SetVIDriverSetup},
    {Kind::kSession, Field::kDriver, Shape::kReference, IviIni_GetVIDriver, IviIni_SetVIDriver},
    {Kind::kSession, Field::kDevice, Shape::kReference, IviIni_GetVIDevice, IviIni_SetVIDevice},
    {Kind::kSession, Field::kSimulate, Shape::kSimulate, nullptr, nullptr},
    {Kind::kSession, Field::kChannels, Shape::kChannels, nullptr, nullptr},
    {Kind::kDriver, Field::kDescription, Shape::kText, IviIni_GetDriverDescription, nullptr},
    {Kind::kDriver, Field::kModule, Shape::kText, IviIni_GetDriverModule, nullptr},
    {Kind::kDriver, Field::kPrefix, Shape::kText, IviIni_GetDriverPrefix, nullptr},
    {Kind::kDriver, Field::kClasses, Shape::kClasses, nullptr, nullptr},
    {Kind::kDevice, Field::kDescription, Shape::kText, IviIni_GetDeviceDescription,
     IviIni_SetDeviceDescription},
    {Kind::kDevice, Field::kResource, Shape::kText, IviIni_GetDeviceResourceDescriptor,
     IviIni_SetDeviceResourceDescriptor},
};

const KeyRow &KeyOf(Kind kind, Field field) {
  for (const KeyRow &key : kKeys) {
    if (key.kind == kind && key.field == field) return key;
  }
  return kKeys[0];  // every key of store_keys.h has a row
}

// The row of the kind's key in slot `slot` of store_keys.h.
const KeyRow &KeyAt(Kind kind, int slot) {
  return KeyOf(kind, velmora::store::SpecOf(kind).keys[slot].field);
}

const char *KeyName(const KeyRow &key) {
  return velmora::store::SpecOf(key.kind).keys[velmora::store::SlotOf(key.kind, key.field)].key;
}

const KindRow *KindNamed(const char *word, Kind *kind) {
  for (int k = 0; k < velmora::store::kKindCount; ++k) {
    if (strcmp(word, kKinds[k].word) == 0) {
      *kind = static_cast<Kind>(k);
      return &kKinds[k];
    }
  }
  return nullptr;
}

// A status about the item of `kind` a command named: a missing one is named
// by its kind, since a command may name items of two kinds.
Outcome About(Kind kind, int32_t status) {
  if (status != kIviIniStoreNoSuchItem) return {status, std::string()};
  return {status, "no " + std::string(RowOf(kind).word) + " of that name"};
}

// ---- Reading through the C interface -------------------------------------

Store &StoreOf(IviIniHandle h) {
  return *static_cast<Store *>(h->state.store);
}

// A string under the string-return rule: its size first, then the string.
// `get(buffer, size)` is the C call.
template <typename Get>
int32_t ReadString(Get get, std::string *out) {
  const int32_t size = get(nullptr, 0);
  if (size <= 0) return size < 0 ? size : kIviIniBackEndFailure;
  std::string text(static_cast<size_t>(size), '\0');
  const int32_t status = get(&text[0], size);
  if (status < 0) return status;
  text.resize(strlen(text.c_str()));
  *out = text;
  return kIviIniSuccess;
}

int32_t ReadValue(IviIniHandle h, const KeyRow &key, const char *name, std::string *out) {
  return ReadString([&](char *buffer, int32_t size) { return key.get(h, name, buffer, size); },
                    out);
}

// 0 when the item exists, else the library's status for it: its description
// is read, the one key every kind has.
int32_t ItemStatus(IviIniHandle h, Kind kind, const char *name) {
  const int32_t size = KeyOf(kind, Field::kDescription).get(h, name, nullptr, 0);
  return size < 0 ? size : kIviIniSuccess;
}

// The walks below hand each name to `each(const std::string &)`, which
// answers a status too, and stop at the first failure, whose status they
// answer: a listing cut short is never taken for a whole one.

// The items' names in file order, as IviIni_GetNth* gives them; a name too
// long for the library's name buffer is taken whole from the store.
template <typename Each>
int32_t ForEachName(IviIniHandle h, Kind kind, Each each) {
  const KindRow &row = RowOf(kind);
  int32_t count = 0;
  int32_t status = row.count(h, &count);
  for (int32_t i = 1; status >= 0 && i <= count; ++i) {
    const char *name = nullptr;
    status = row.nth(h, i, &name);
    if (status < 0) break;
    const Store &store = StoreOf(h);
    status = each(status == 0 ? std::string(name)
                              : Text(store.Name(store.ItemAt(kind, static_cast<uint32_t>(i - 1)))));
  }
  return status;
}

// The session's channels, as every program sees them. The channel functions
// answer 0 whatever happens: a channel left unnamed is the sign of a failure.
template <typename Each>
int32_t ForEachChannel(IviIniHandle h, const char *session, Each each) {
  int32_t count = 0;
  IviIni_GetNumberOfChannels(h, session, &count);
  int32_t status = kIviIniSuccess;
  for (int32_t i = 1; status >= 0 && i <= count; ++i) {
    const char *name = nullptr;
    IviIni_GetNthChannel(h, session, i, &name);
    status = name != nullptr ? each(std::string(name)) : kIviIniBackEndFailure;
  }
  return status;
}

// The driver's instrument classes.
template <typename Each>
int32_t ForEachClass(IviIniHandle h, const char *driver, Each each) {
  int32_t count = 0;
  int32_t status = IviIni_GetDriverClassCount(h, driver, &count);
  for (int32_t i = 1; status >= 0 && i <= count; ++i) {
    std::string name;
    status = ReadString(
        [&](char *buffer, int32_t size) {
          return IviIni_GetDriverClassByIndex(h, driver, i, buffer, size);
        },
        &name);
    if (status >= 0) status = each(name);
  }
  return status;
}

// The store's item for the C interface's `name`, once the library knows it.
uint32_t ItemOf(IviIniHandle h, Kind kind, const char *name) {
  return StoreOf(h).Find(kind, name, strlen(name));
}

bool Simulated(IviIniHandle h, const char *session) {
  const TextView word = StoreOf(h).Value(ItemOf(h, Kind::kSession, session), Field::kSimulate);
  bool simulated = false;  // a session without the key is not simulated
  velmora::store::ParseBoolean(word.data, word.length, &simulated);
  return simulated;
}

// A value as `get` prints it: text and references as the C interface reads
// them (a reference to no item reads empty), Simulate as true or false, and
// Channels and Classes as written.
int32_t ValueText(IviIniHandle h, const KeyRow &key, const char *name, std::string *out) {
  if (key.get != nullptr) return ReadValue(h, key, name, out);
  const int32_t status = ItemStatus(h, key.kind, name);
  if (status < 0) return status;
  if (key.shape == Shape::kSimulate) {
    *out = Simulated(h, name) ? "true" : "false";
  } else {
    *out = Text(StoreOf(h).Value(ItemOf(h, key.kind, name), key.field));
  }
  return kIviIniSuccess;
}

// ---- Output ----------------------------------------------------------------

int32_t PrintLine(const std::string &text) {
  printf("%s\n", text.c_str());
  return kIviIniSuccess;
}

// A JSON string, escaped by the project's one escaper; other bytes are
// passed as they stand.
void PrintJsonString(const std::string &text) {
  std::string escaped(json_escaped_length(text.c_str()), '\0');
  json_write_escaped(&escaped[0], text.c_str());
  putchar('"');
  fwrite(escaped.data(), 1, escaped.size(), stdout);
  putchar('"');
}

// Prints a JSON array of the strings a walk above hands out.
template <typename Walk>
int32_t PrintJsonArray(Walk walk) {
  const char *separator = "";
  putchar('[');
  const int32_t status = walk([&separator](const std::string &text) {
    fputs(separator, stdout);
    PrintJsonString(text);
    separator = ", ";
    return kIviIniSuccess;
  });
  putchar(']');
  return status;
}

// One item as a JSON object: its name and every key of its kind.
int32_t PrintJsonItem(IviIniHandle h, Kind kind, const std::string &name) {
  printf("{\"name\": ");
  PrintJsonString(name);
  const char *item = name.c_str();
  const velmora::store::KindSpec &spec = velmora::store::SpecOf(kind);
  int32_t status = kIviIniSuccess;
  for (int slot = 0; status >= 0 && slot < spec.keyCount; ++slot) {
    const KeyRow &key = KeyAt(kind, slot);
    printf(", \"%s\": ", spec.keys[slot].key);
    if (key.shape == Shape::kSimulate) {
      fputs(Simulated(h, item) ? "true" : "false", stdout);
    } else if (key.shape == Shape::kChannels) {
      status = PrintJsonArray([&](auto each) { return ForEachChannel(h, item, each); });
    } else if (key.shape == Shape::kClasses) {
      status = PrintJsonArray([&](auto each) { return ForEachClass(h, item, each); });
    } else {
      std::string value;
      status = ReadValue(h, key, item, &value);
      PrintJsonString(value);
    }
  }
  putchar('}');
  return status;
}

// The whole store: one array of items per kind, one item per line.
int32_t PrintJsonStore(IviIniHandle h) {
  int32_t status = kIviIniSuccess;
  printf("{");
  for (int k = 0; status >= 0 && k < velmora::store::kKindCount; ++k) {
    const Kind kind = static_cast<Kind>(k);
    printf("%s\n  \"%s\": [", k == 0 ? "" : ",", kKinds[k].word);
    const char *separator = "\n    ";
    status = ForEachName(h, kind, [&](const std::string &name) {
      fputs(separator, stdout);
      separator = ",\n    ";
      return PrintJsonItem(h, kind, name);
    });
    printf("%s]", separator[0] == ',' ? "\n  " : "");
  }
  printf("\n}\n");
  return status;
}

// ---- The tree of `show` ------------------------------------------------------

class Shower {
 public:
  Shower(IviIniHandle h, const Store &store) : h_(h), s_(store) {}

  void Show(const char *path) {
    printf("%s: %s\n", path, Summary(h_).c_str());
    Section("Logical names", Kind::kLogicalName, &Shower::LogicalName);
    Section("Sessions", Kind::kSession, &Shower::Session);
    Section("Drivers", Kind::kDriver, &Shower::Driver);
    Section("Devices", Kind::kDevice, &Shower::Device);
  }

 private:
  void Section(const char *title, Kind kind, void (Shower::*item)(uint32_t)) {
    printf("\n%s\n", title);
    for (uint32_t i = 0; i < s_.Count(kind); ++i) (this->*item)(s_.ItemAt(kind, i));
  }

  void Head(const char *indent, uint32_t item) {
    printf("%s%s", indent, Text(s_.Name(item)).c_str());
    if (s_.HasValue(item, Field::kDescription)) {
      printf("  \"%s\"", Text(s_.Value(item, Field::kDescription)).c_str());
    }
    printf("\n");
  }

  void Value(const char *indent, uint32_t item, Field field, const char *label) {
    if (s_.HasValue(item, field))
      printf("%s%s: %s\n", indent, label, Text(s_.Value(item, field)).c_str());
  }

  // "label: name", and whether the item it names exists.
  uint32_t Reference(const char *indent, uint32_t item, Field field, const char *label) {
    const TextView name = s_.Value(item, field);
    const uint32_t target = s_.Target(item, field);
    if (name.length == 0) {
      printf("%s%s: (none)\n", indent, label);
    } else {
      printf("%s%s: %s%s\n", indent, label, Text(name).c_str(),
             target == kNoItem ? "  (no such item: refers to none)" : "");
    }
    return target;
  }

  void LogicalName(uint32_t item) {
    Head("  ", item);
    const uint32_t session = Reference("    ", item, Field::kSession, "session");
    if (session == kNoItem) return;
    Reference("      ", session, Field::kDriver, "driver");
    Reference("      ", session, Field::kDevice, "device");
  }

  void Session(uint32_t item) {
    Head("  ", item);
    Reference("    ", item, Field::kDriver, "driver");
    Reference("    ", item, Field::kDevice, "device");
    Value("    ", item, Field::kDriverSetup, "driver setup");
    Value("    ", item, Field::kSimulate, "simulate");
    Channels(Text(s_.Name(item)));
  }

  // Counted and named by the library, as every program sees them.
  void Channels(const std::string &session) {
    int32_t count = 0;
    IviIni_GetNumberOfChannels(h_, session.c_str(), &count);
    if (count <= 0) return;
    std::string names;
    for (int32_t i = 1; i <= count && i <= kChannelsListed; ++i) {
      const char *name = nullptr;
      IviIni_GetNthChannel(h_, session.c_str(), i, &name);
      names += " " + std::string(name != nullptr ? name : "?");
    }
    printf("    channels (%d):%s%s\n", count, names.c_str(), count > kChannelsListed ? " ..." : "");
  }

  void Driver(uint32_t item) {
    Head("  ", item);
    Value("    ", item, Field::kModule, "module");
    Value("    ", item, Field::kPrefix, "prefix");
    if (s_.ClassCount(item) == 0) return;
    printf("    classes:");
    for (uint32_t i = 0; i < s_.ClassCount(item); ++i) {
      const TextView name = s_.ClassAt(item, i);
      printf(" %s%s", Text(name).c_str(),
             velmora::store::IsInstrumentClassName(name.data, name.length)
                 ? ""
                 : " (not an instrument class)");
    }
    printf("\n");
  }

  void Device(uint32_t item) {
    Head("  ", item);
    Value("    ", item, Field::kResource, "resource");
  }

  IviIniHandle h_;
  const Store &s_;
};

// ---- Commands ------------------------------------------------------------------

// Opens the store at `path` through the library, hands it to `use`, and
// closes it, saving when `save` is set and `use` succeeded. A refusal is
// reported: a refused file with its line, a failed save with its step, path
// and errno. A failed save leaves the configuration open; it is then closed
// without saving, which changes nothing on disk.
template <typename Use>
int WithStore(const char *path, bool save, Use use) {
  IviIniHandle h = nullptr;
  const int32_t opened = IviIni_OpenIniFile(path, &h);
  if (opened < 0) return Refused(path, opened);
  Outcome outcome = use(h);
  if (outcome.status >= 0 && save) {
    const int32_t saved = IviIni_CloseIniFile(h, 1);
    if (saved >= 0) return 0;
    outcome.status = saved;
    const FileFailure &failure = StoreOf(h).LastFailure();
    if (failure.step != FileStep::kNone) {
      char why[sizeof failure.path + 160];
      velmora::store::DescribeFailure(failure, failure.path, why, sizeof why);
      outcome.why = why;
    }
  }
  IviIni_CloseIniFile(h, 0);
  return outcome.status < 0 ? Report(path, outcome) : 0;
}

// The arguments of a command: FILE first, then its own; `json` for --json.
struct Arguments {
  const char *path;
  char **rest;
  bool json;
};

int Usage(const char *why = nullptr);

int BadKind(const char *word) {
  const std::string why =
      "'" + std::string(word) + "' is no kind: logical-name, session, driver or device";
  return Usage(why.c_str());
}

int Check(const Arguments &a) {
  return WithStore(a.path, false, [&a](IviIniHandle h) {
    printf("%s: ok: %s\n", a.path, Summary(h).c_str());
    return Done();
  });
}

int Show(const Arguments &a) {
  return WithStore(a.path, false, [&a](IviIniHandle h) {
    if (a.json) return Outcome{PrintJsonStore(h), std::string()};
    Store &store = StoreOf(h);
    for (uint32_t i = 0; i < store.Count(Kind::kDriver); ++i) {
      if (store.PrepareLists(store.ItemAt(Kind::kDriver, i)) != kIviIniSuccess) {
        return Outcome{kIviIniOutOfMemory, std::string()};
      }
    }
    Shower(h, store).Show(a.path);
    return Done();
  });
}

int List(const Arguments &a) {
  Kind kind;
  if (KindNamed(a.rest[0], &kind) == nullptr) return BadKind(a.rest[0]);
  return WithStore(a.path, false, [&](IviIniHandle h) {
    int32_t status;
    if (a.json) {
      status = PrintJsonArray([&](auto each) { return ForEachName(h, kind, each); });
      putchar('\n');
    } else {
      status = ForEachName(h, kind, PrintLine);
    }
    return Outcome{status, std::string()};
  });
}

// The key a KIND and KEY argument name, or null after the refusal.
const KeyRow *KeyNamed(const Arguments &a, Kind *kind, int *exitCode) {
  const char *word = a.rest[0];
  const char *key = a.rest[2];
  if (KindNamed(word, kind) == nullptr) {
    *exitCode = BadKind(word);
    return nullptr;
  }
  const int slot = velmora::store::SlotOfKey(*kind, key, strlen(key));
  if (slot < 0) {
    *exitCode = Report(a.path, {kIviIniStoreNoSuchProperty,
                                "a " + std::string(word) + " has no key '" + key + "'"});
    return nullptr;
  }
  return &KeyAt(*kind, slot);
}

int Get(const Arguments &a) {
  Kind kind;
  int exitCode = 0;
  const KeyRow *key = KeyNamed(a, &kind, &exitCode);
  if (key == nullptr) return exitCode;
  const char *name = a.rest[1];
  return WithStore(a.path, false, [&](IviIniHandle h) {
    std::string value;
    const int32_t status = ValueText(h, *key, name, &value);
    if (status < 0) return About(kind, status);
    printf("%s\n", value.c_str());
    return Done();
  });
}

int Set(const Arguments &a) {
  Kind kind;
  int exitCode = 0;
  const KeyRow *key = KeyNamed(a, &kind, &exitCode);
  if (key == nullptr) return exitCode;
  const char *name = a.rest[1];
  const char *value = a.rest[3];
  // Refused before the file is read: what the C interface cannot change.
  if (kind == Kind::kDriver) {
    return Report(a.path, {kIviIniStoreNoSuchProperty, "a driver's values are read, not set"});
  }
  bool simulate = false;
  if (key->shape == Shape::kSimulate &&
      !velmora::store::ParseBoolean(value, strlen(value), &simulate)) {
    return Report(a.path, {kIviIniStoreBadValue, "Simulate takes true or false"});
  }
  if (key->set == nullptr && key->shape != Shape::kSimulate) {
    return Report(a.path,
                  {kIviIniStoreNoSuchProperty,
                   std::string(KeyName(*key)) + " is read, not set: it is written by hand"});
  }
  return WithStore(a.path, true, [&](IviIniHandle h) -> Outcome {
    if (key->shape == Shape::kSimulate)
      return About(kind, IviIni_SetVISimulation(h, name, simulate));
    const int32_t status = key->set(h, name, value);
    // The same status names a missing item and a missing item to refer to.
    if (status == kIviIniStoreNoSuchItem && key->shape == Shape::kReference &&
        ItemStatus(h, kind, name) == kIviIniSuccess) {
      Kind target;
      velmora::store::TargetOf(key->field, &target);
      return {status, "no " + std::string(RowOf(target).word) + " of that name to refer to"};
    }
    return About(kind, status);
  });
}

// add and remove.
int AddOrRemove(const Arguments &a, bool add) {
  Kind kind;
  const KindRow *row = KindNamed(a.rest[0], &kind);
  if (row == nullptr) return BadKind(a.rest[0]);
  const NameFunction change = add ? row->add : row->remove;
  if (change == nullptr) {
    fprintf(stderr, "%s: drivers are read, not %s: libvelmora has no function for it\n", a.path,
            add ? "added" : "removed");
    return kExitRefused;
  }
  const char *name = a.rest[1];
  return WithStore(a.path, true, [&](IviIniHandle h) { return About(kind, change(h, name)); });
}

int Add(const Arguments &a) {
  return AddOrRemove(a, true);
}

int Remove(const Arguments &a) {
  return AddOrRemove(a, false);
}

int Channels(const Arguments &a) {
  const char *session = a.rest[0];
  return WithStore(a.path, false, [&](IviIniHandle h) {
    // The channel functions answer 0 for a session the store lacks.
    const int32_t status = ItemStatus(h, Kind::kSession, session);
    if (status < 0) return About(Kind::kSession, status);
    return Outcome{ForEachChannel(h, session, PrintLine), std::string()};
  });
}

int Classes(const Arguments &a) {
  const char *driver = a.rest[0];
  return WithStore(a.path, false, [&](IviIniHandle h) {
    const int32_t status = ForEachClass(h, driver, PrintLine);
    return About(Kind::kDriver, status < 0 ? status : kIviIniSuccess);
  });
}

struct Command {
  const char *name;
  bool json;              // takes --json before FILE
  const char *arguments;  // after FILE, one word each
  const char *summary;    // for the list of commands
  const char *help;       // for `velmora-store COMMAND --help`
  int (*run)(const Arguments &arguments);
};

const Command kCommands[] = {
    {"check", false, "", "say whether libvelmora accepts FILE, or why not",
     "Prints \"FILE: ok: \" and the number of items of each kind when libvelmora\n"
     "accepts FILE; otherwise the first problem in file order on standard error,\n"
     "with its line, the library's status name and its number.\n",
     Check},
    {"show", true, "", "print the store as a tree, or as one JSON object",
     "Prints each logical name with the session it names and that session's driver\n"
     "and device, then every session, driver and device with its values. With\n"
     "--json, one JSON object instead: an array per kind (\"logical-name\", \"session\",\n"
     "\"driver\", \"device\") of objects with \"name\" and every key of the kind;\n"
     "Simulate is a boolean, Channels and Classes arrays of names.\n",
     Show},
    {"list", true, "KIND", "print the names of the items of KIND",
     "Prints the names of the items of KIND in file order, one per line, or with\n"
     "--json as a JSON array.\n",
     List},
    {"get", false, "KIND NAME KEY", "print the value of an item's KEY",
     "Prints the value of KEY of the item of KIND called NAME. A reference prints\n"
     "the name of the item it refers to, or an empty line when it refers to none;\n"
     "Simulate prints true or false; Channels and Classes print the value as\n"
     "written (see the commands channels and classes).\n",
     Get},
    {"set", false, "KIND NAME KEY VALUE", "set an item's KEY to VALUE and save FILE",
     "Sets KEY of the item of KIND called NAME to VALUE and saves FILE. A reference\n"
     "is set by the name of the item it is to refer to; Simulate takes true or\n"
     "false. Drivers, Channels and Classes are read, not set. A file another\n"
     "program changed since it was read is not overwritten: the edit is refused\n"
     "(kIviIniStoreChangedOnDisk) and can be run again.\n",
     Set},
    {"add", false, "KIND NAME", "add an item with no values and save FILE",
     "Adds an item of KIND called NAME, with no values, at the end of FILE and\n"
     "saves it. Logical names, sessions and devices can be added.\n",
     Add},
    {"remove", false, "KIND NAME", "remove an item and save FILE",
     "Removes the section of the item of KIND called NAME and saves FILE. Logical\n"
     "names, sessions and devices can be removed; references to the item stay and\n"
     "then refer to none.\n",
     Remove},
    {"channels", false, "SESSION", "print a session's channel names",
     "Prints the channel names of SESSION, one per line, with their ranges\n"
     "expanded: CH[1..4], TRIG gives CH1 to CH4 and TRIG.\n",
     Channels},
    {"classes", false, "DRIVER", "print a driver's instrument classes",
     "Prints the instrument classes of DRIVER, one per line: its class entries\n"
     "named Ivi and a capital letter, except IviDriver.\n",
     Classes},
};

int ArgumentCount(const Command &command) {
  const char *words = command.arguments;
  if (words[0] == '\0') return 0;
  int count = 1;
  for (const char *space = strchr(words, ' '); space != nullptr; space = strchr(space + 1, ' ')) {
    ++count;
  }
  return count;
}

std::string Synopsis(const Command &command) {
  std::string line =
      std::string("velmora-store ") + command.name + (command.json ? " [--json]" : "") + " FILE";
  if (command.arguments[0] != '\0') line += std::string(" ") + command.arguments;
  return line;
}

void PrintSynopses(FILE *to) {
  const char *lead = "usage:";
  for (const Command &command : kCommands) {
    fprintf(to, "%-6s %s\n", lead, Synopsis(command).c_str());
    lead = "";
  }
  fprintf(to, "%-6s %s\n", lead, "velmora-store [COMMAND] --help");
}

void PrintKeys() {
  printf("\nKIND and its KEYs (the letter case of a KEY is ignored):\n");
  for (int k = 0; k < velmora::store::kKindCount; ++k) {
    const velmora::store::KindSpec &spec = velmora::store::SpecOf(static_cast<Kind>(k));
    printf("  %-13s", kKinds[k].word);
    for (int slot = 0; slot < spec.keyCount; ++slot) printf(" %s", spec.keys[slot].key);
    printf("%s\n", kKinds[k].add == nullptr ? "  (read, not changed)" : "");
  }
}

int Help(const Command *command) {
  if (command != nullptr) {
    printf("usage: %s\n\n%s", Synopsis(*command).c_str(), command->help);
    // Commands that take a KIND list the kinds and their keys.
    if (strncmp(command->arguments, "KIND", 4) == 0) PrintKeys();
  } else {
    PrintSynopses(stdout);
    printf("\nCommands:\n");
    for (const Command &c : kCommands) printf("  %-9s %s\n", c.name, c.summary);
    PrintKeys();
    printf(
        "\nExit status: 0 done, 1 refused (the library's status on standard error),\n"
        "2 a wrong command line. See velmora-store(1).\n");
  }
  return 0;
}

// A wrong command line: why, when there is more to say than the usage.
int Usage(const char *why) {
  if (why != nullptr) fprintf(stderr, "velmora-store: %s\n", why);
  PrintSynopses(stderr);
  return kExitUsage;
}

bool IsHelp(const char *argument) {
  return strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0;
}

int Run(int argc, char **argv) {
  if (argc == 2 && IsHelp(argv[1])) return Help(nullptr);
  if (argc < 2) return Usage();
  for (const Command &command : kCommands) {
    if (strcmp(argv[1], command.name) != 0) continue;
    if (argc == 3 && IsHelp(argv[2])) return Help(&command);
    Arguments arguments = {nullptr, nullptr, false};
    int first = 2;
    if (command.json && argc > first && strcmp(argv[first], "--json") == 0) {
      arguments.json = true;
      ++first;
    }
    if (argc - first != 1 + ArgumentCount(command)) return Usage();
    arguments.path = argv[first];
    arguments.rest = argv + first + 1;
    // An empty path would open the library's default store, which the tool
    // never takes: the file is always the one named.
    if (arguments.path[0] == '\0') return Usage("FILE is empty: name the store file");
    return command.run(arguments);
  }
  return Usage();
}

}  // namespace

int main(int argc, char **argv) {
  const int exitCode = Run(argc, argv);
  // Output that did not reach its file (a full disk) is no success for the
  // script that reads it.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    perror("velmora-store: writing standard output");
    return exitCode == 0 ? kExitRefused : exitCode;
  }
  return exitCode;
}

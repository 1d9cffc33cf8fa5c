// velmora-store: checks, shows and edits a store file, for people and for
// scripts. The usage and the subcommands are the rows of kCommands;
// velmora-store(1) is their manual, and exit_status.cpp the table of exit
// statuses a script acts on.
//
// The tool reaches the store only through libvelmora-store's C interface
// (velmora_store.h), built from the same store code as libvelmora's file
// flavour: a file it accepts is one every program using the library
// accepts, its messages name the statuses those programs see, and every edit
// is one open, one change and one save under the library's guarantees: a
// file another program saved since it was read is refused, never
// overwritten (and with --retry the edit is made again on the new content).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/json_writer.h"
#include "tools/exit_status.h"
#include "tools/store_edit.h"
#include "velmora/velmora_store.h"

namespace velmora_tool {
namespace {

// Channels beyond this many are counted, not listed, by the tree of `show`.
constexpr uint32_t kChannelsListed = 32;
// More retries than this is a loop, not a retry.
constexpr int kMostRetries = 1000;

// ---- Kinds in the tool's words ------------------------------------------------

// In the order of velmora_store_kind.
struct KindWords {
  const char *word;   // on the command line and as keys of `show --json`
  const char *prose;  // in messages
};
const KindWords kKinds[VELMORA_STORE_KIND_COUNT] = {
    {"logical-name", "logical name"},
    {"session", "session"},
    {"driver", "driver"},
    {"device", "device"},
};

const KindWords &WordsOf(velmora_store_kind kind) {
  return kKinds[static_cast<int>(kind)];
}

std::string Prose(velmora_store_kind kind, const std::string &name) {
  return std::string(WordsOf(kind).prose) + " " + name;
}

// ---- Reading through the C interface -----------------------------------------

// A string under the string-return rule: its size first, then the string.
// `call(buffer, size)` is the C call.
template <typename Call>
int32_t ReadString(Call call, std::string *out) {
  const int32_t size = call(nullptr, 0);
  if (size <= 0) return size < 0 ? size : kIviIniBackEndFailure;
  std::string text(static_cast<size_t>(size), '\0');
  const int32_t status = call(&text[0], size);
  if (status != kIviIniSuccess) return status < 0 ? status : kIviIniBackEndFailure;
  text.resize(static_cast<size_t>(size) - 1);
  *out = std::move(text);
  return kIviIniSuccess;
}

struct Names {
  int32_t status;
  std::vector<std::string> names;
};

// A list the store counts and names by index: `count(&n)`, `name(i, buffer,
// size)`. A listing cut short by a failure is never taken for a whole one.
template <typename Count, typename Name>
Names ReadList(Count count, Name name) {
  Names list = {kIviIniSuccess, {}};
  uint32_t n = 0;
  list.status = count(&n);
  for (uint32_t i = 0; list.status == kIviIniSuccess && i < n; ++i) {
    std::string text;
    list.status = ReadString([&](char *b, int32_t size) { return name(i, b, size); }, &text);
    list.names.push_back(std::move(text));
  }
  return list;
}

Names ItemNames(velmora_store *s, velmora_store_kind kind) {
  return ReadList(
      [&](uint32_t *n) { return velmora_store_count(s, kind, n); },
      [&](uint32_t i, char *b, int32_t size) { return velmora_store_name(s, kind, i, b, size); });
}

Names ChannelNames(velmora_store *s, const std::string &session) {
  return ReadList([&](uint32_t *n) { return velmora_store_channel_count(s, session.c_str(), n); },
                  [&](uint32_t i, char *b, int32_t size) {
                    return velmora_store_channel(s, session.c_str(), i, b, size);
                  });
}

Names ClassEntries(velmora_store *s, const std::string &driver) {
  return ReadList([&](uint32_t *n) { return velmora_store_class_count(s, driver.c_str(), n); },
                  [&](uint32_t i, char *b, int32_t size) {
                    return velmora_store_class(s, driver.c_str(), i, b, size);
                  });
}

bool HasItem(velmora_store *s, velmora_store_kind kind, const std::string &name) {
  int has = 0;
  return velmora_store_has_item(s, kind, name.c_str(), &has) == kIviIniSuccess && has != 0;
}

// The value as stored; kIviIniStoreNoSuchKey when the item has no line for it.
int32_t Value(velmora_store *s, velmora_store_kind kind, const std::string &name, const char *key,
              std::string *out) {
  return ReadString(
      [&](char *b, int32_t size) { return velmora_store_get(s, kind, name.c_str(), key, b, size); },
      out);
}

// The value, empty when the item has no line for it.
std::string ValueOrEmpty(velmora_store *s, velmora_store_kind kind, const std::string &name,
                         const char *key) {
  std::string value;
  Value(s, kind, name, key, &value);
  return value;
}

bool Simulated(velmora_store *s, const std::string &session) {
  int simulate = 0;
  velmora_store_simulate(s, session.c_str(), &simulate);
  return simulate != 0;
}

std::string Join(const std::vector<std::string> &names, const char *separator) {
  std::string joined;
  for (const std::string &name : names) joined += (joined.empty() ? "" : separator) + name;
  return joined;
}

// ---- References ----------------------------------------------------------------

// The references of the store: which kind names which, under which key.
struct ReferenceKey {
  velmora_store_kind from;
  const char *key;
  velmora_store_kind to;
};
const ReferenceKey kReferences[] = {
    {VELMORA_STORE_LOGICAL_NAME, "Session", VELMORA_STORE_SESSION},
    {VELMORA_STORE_SESSION, "Driver", VELMORA_STORE_DRIVER},
    {VELMORA_STORE_SESSION, "Device", VELMORA_STORE_DEVICE},
};

// "session Meter7Session names driver orionDmm, which the store lacks"
std::string Dangling(const ReferenceKey &r, const std::string &from, const std::string &to) {
  return Prose(r.from, from) + " names " + Prose(r.to, to) + ", which the store lacks";
}

// Every reference to an item the store lacks, in the order of kReferences
// and of the file.
int32_t DanglingReferences(velmora_store *s, std::vector<std::string> *found) {
  for (const ReferenceKey &r : kReferences) {
    const Names items = ItemNames(s, r.from);
    if (items.status != kIviIniSuccess) return items.status;
    for (const std::string &item : items.names) {
      const std::string target = ValueOrEmpty(s, r.from, item, r.key);
      if (!target.empty() && !HasItem(s, r.to, target)) found->push_back(Dangling(r, item, target));
    }
  }
  return kIviIniSuccess;
}

// ---- Reports ---------------------------------------------------------------------

const char *StatusName(int32_t status) {
  const char *name = velmora_store_status_name(status);
  return name != nullptr ? name : "status";
}

int ExitFor(int32_t status) {
  const int code = ExitCodeOf(status);
  return code != kExitUnmapped ? code : kExitUnreadable;
}

// "FILE: why (kIviIniName, -1320)" on standard error; answers the exit status.
int Report(const char *path, const Outcome &outcome) {
  const char *text = velmora_store_status_text(outcome.status);
  fprintf(stderr, "%s: %s (%s, %d)\n", path,
          !outcome.why.empty() ? outcome.why.c_str()
          : text != nullptr    ? text
                               : "failed",
          StatusName(outcome.status), outcome.status);
  return ExitFor(outcome.status);
}

// Why an open, a reload or a save failed: a refused file with its line, a
// failed file operation with its step, path and errno.
int ReportProblem(const char *path, const velmora_store_problem &problem) {
  if (problem.line > 0) {
    fprintf(stderr, "%s:%u: %s (%s, %d)\n", path, problem.line, problem.message,
            StatusName(problem.status), problem.status);
  } else if (problem.step[0] != '\0') {
    fprintf(stderr, "%s: %s (%s, %d; step %s, errno %d)\n", path, problem.message,
            StatusName(problem.status), problem.status, problem.step, problem.error_number);
  } else {
    fprintf(stderr, "%s: %s (%s, %d)\n", path, problem.message, StatusName(problem.status),
            problem.status);
  }
  return ExitFor(problem.status);
}

// A status about the item a command named: a missing one is named with its kind.
Outcome About(velmora_store_kind kind, const std::string &name, int32_t status) {
  if (status != kIviIniStoreNoSuchItem) return {status, std::string()};
  return {status, "no " + Prose(kind, name)};
}

// ---- Output ------------------------------------------------------------------------

void PrintLine(const std::string &text) {
  printf("%s\n", text.c_str());
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

void PrintJsonArray(const std::vector<std::string> &names) {
  putchar('[');
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) fputs(", ", stdout);
    PrintJsonString(names[i]);
  }
  putchar(']');
}

// One item as a JSON object: its name and every key of its kind, as stored
// (a key the item lacks as ""), Simulate a boolean, Channels the expanded
// channel names and Classes the class entries.
int32_t PrintJsonItem(velmora_store *s, velmora_store_kind kind, const std::string &name) {
  printf("{\"name\": ");
  PrintJsonString(name);
  for (int32_t k = 0; k < velmora_store_key_count(kind); ++k) {
    const char *key = velmora_store_key_name(kind, k);
    printf(", \"%s\": ", key);
    if (strcmp(key, "Simulate") == 0) {
      fputs(Simulated(s, name) ? "true" : "false", stdout);
    } else if (strcmp(key, "Channels") == 0 || strcmp(key, "Classes") == 0) {
      const Names list = key[1] == 'h' ? ChannelNames(s, name) : ClassEntries(s, name);
      if (list.status != kIviIniSuccess) return list.status;
      PrintJsonArray(list.names);
    } else {
      PrintJsonString(ValueOrEmpty(s, kind, name, key));
    }
  }
  putchar('}');
  return kIviIniSuccess;
}

// The whole store: one array of items per kind, one item per line.
int32_t PrintJsonStore(velmora_store *s) {
  printf("{");
  for (int k = 0; k < VELMORA_STORE_KIND_COUNT; ++k) {
    const auto kind = static_cast<velmora_store_kind>(k);
    const Names items = ItemNames(s, kind);
    if (items.status != kIviIniSuccess) return items.status;
    printf("%s\n  \"%s\": [", k == 0 ? "" : ",", kKinds[k].word);
    for (size_t i = 0; i < items.names.size(); ++i) {
      fputs(i == 0 ? "\n    " : ",\n    ", stdout);
      const int32_t status = PrintJsonItem(s, kind, items.names[i]);
      if (status != kIviIniSuccess) return status;
    }
    printf("%s]", items.names.empty() ? "" : "\n  ");
  }
  printf("\n}\n");
  return kIviIniSuccess;
}

// "4 logical names, 3 sessions, 2 drivers, 3 devices"
std::string Summary(velmora_store *s) {
  uint32_t counts[VELMORA_STORE_KIND_COUNT] = {};
  for (int k = 0; k < VELMORA_STORE_KIND_COUNT; ++k) {
    velmora_store_count(s, static_cast<velmora_store_kind>(k), &counts[k]);
  }
  char text[160];
  snprintf(text, sizeof text, "%u logical names, %u sessions, %u drivers, %u devices", counts[0],
           counts[1], counts[2], counts[3]);
  return text;
}

// ---- The tree of `show` --------------------------------------------------------------

class Shower {
 public:
  explicit Shower(velmora_store *s) : s_(s) {}

  int32_t Show(const char *path) {
    printf("%s: %s\n", path, Summary(s_).c_str());
    int32_t status = Section("Logical names", VELMORA_STORE_LOGICAL_NAME, &Shower::LogicalName);
    if (status == kIviIniSuccess)
      status = Section("Sessions", VELMORA_STORE_SESSION, &Shower::Session);
    if (status == kIviIniSuccess)
      status = Section("Drivers", VELMORA_STORE_DRIVER, &Shower::Driver);
    if (status == kIviIniSuccess)
      status = Section("Devices", VELMORA_STORE_DEVICE, &Shower::Device);
    return status;
  }

 private:
  using Printer = int32_t (Shower::*)(const std::string &);

  int32_t Section(const char *title, velmora_store_kind kind, Printer item) {
    printf("\n%s\n", title);
    const Names items = ItemNames(s_, kind);
    int32_t status = items.status;
    for (size_t i = 0; status == kIviIniSuccess && i < items.names.size(); ++i) {
      status = (this->*item)(items.names[i]);
    }
    return status;
  }

  void Head(const char *indent, velmora_store_kind kind, const std::string &name) {
    printf("%s%s", indent, name.c_str());
    std::string description;
    if (Value(s_, kind, name, "Description", &description) == kIviIniSuccess) {
      printf("  \"%s\"", description.c_str());
    }
    printf("\n");
  }

  void Line(const char *indent, velmora_store_kind kind, const std::string &name, const char *key,
            const char *label) {
    std::string value;
    if (Value(s_, kind, name, key, &value) == kIviIniSuccess) {
      printf("%s%s: %s\n", indent, label, value.c_str());
    }
  }

  // "label: name", and whether the item it names exists.
  bool Reference(const char *indent, const ReferenceKey &r, const std::string &name,
                 const char *label, std::string *target) {
    *target = ValueOrEmpty(s_, r.from, name, r.key);
    const bool exists = !target->empty() && HasItem(s_, r.to, *target);
    if (target->empty()) {
      printf("%s%s: (none)\n", indent, label);
    } else {
      printf("%s%s: %s%s\n", indent, label, target->c_str(),
             exists ? "" : "  (no such item: refers to none)");
    }
    return exists;
  }

  int32_t LogicalName(const std::string &name) {
    Head("  ", VELMORA_STORE_LOGICAL_NAME, name);
    std::string session, ignored;
    if (!Reference("    ", kReferences[0], name, "session", &session)) return kIviIniSuccess;
    Reference("      ", kReferences[1], session, "driver", &ignored);
    Reference("      ", kReferences[2], session, "device", &ignored);
    return kIviIniSuccess;
  }

  int32_t Session(const std::string &name) {
    std::string ignored;
    Head("  ", VELMORA_STORE_SESSION, name);
    Reference("    ", kReferences[1], name, "driver", &ignored);
    Reference("    ", kReferences[2], name, "device", &ignored);
    Line("    ", VELMORA_STORE_SESSION, name, "DriverSetup", "driver setup");
    Line("    ", VELMORA_STORE_SESSION, name, "Simulate", "simulate");
    uint32_t count = 0;
    const int32_t status = velmora_store_channel_count(s_, name.c_str(), &count);
    if (status != kIviIniSuccess || count == 0) return status;
    std::string names;
    for (uint32_t i = 0; i < count && i < kChannelsListed; ++i) {
      std::string channel;
      ReadString([&](char *b,
                     int32_t size) { return velmora_store_channel(s_, name.c_str(), i, b, size); },
                 &channel);
      names += " " + channel;
    }
    printf("    channels (%u):%s%s\n", count, names.c_str(), count > kChannelsListed ? " ..." : "");
    return kIviIniSuccess;
  }

  int32_t Driver(const std::string &name) {
    Head("  ", VELMORA_STORE_DRIVER, name);
    Line("    ", VELMORA_STORE_DRIVER, name, "Module", "module");
    Line("    ", VELMORA_STORE_DRIVER, name, "Prefix", "prefix");
    const Names classes = ClassEntries(s_, name);
    if (classes.status != kIviIniSuccess || classes.names.empty()) return classes.status;
    printf("    classes:");
    for (const std::string &entry : classes.names) {
      printf(" %s%s", entry.c_str(),
             velmora_store_is_instrument_class(entry.c_str()) ? "" : " (not an instrument class)");
    }
    printf("\n");
    return kIviIniSuccess;
  }

  int32_t Device(const std::string &name) {
    Head("  ", VELMORA_STORE_DEVICE, name);
    Line("    ", VELMORA_STORE_DEVICE, name, "Resource", "resource");
    return kIviIniSuccess;
  }

  velmora_store *s_;
};

// ---- resolve --------------------------------------------------------------------------

// What a test program asks of the store: a logical name followed to its
// session, driver and device.
struct Resolved {
  std::string name, session, driver, module, prefix, device, resource, driverSetup;
  std::vector<std::string> classes, channels;
  bool simulate = false;
};

// Follows one link; a link that names nothing, or an item the store lacks, is
// not found, and the outcome names it.
Outcome Follow(velmora_store *s, const ReferenceKey &r, const std::string &from,
               std::string *target) {
  *target = ValueOrEmpty(s, r.from, from, r.key);
  if (target->empty()) {
    return {kIviIniStoreNoSuchItem, Prose(r.from, from) + " refers to no " + WordsOf(r.to).prose};
  }
  if (!HasItem(s, r.to, *target)) return {kIviIniStoreNoSuchItem, Dangling(r, from, *target)};
  return Done();
}

Outcome Resolve(velmora_store *s, const std::string &name, Resolved *out) {
  if (!HasItem(s, VELMORA_STORE_LOGICAL_NAME, name)) {
    return About(VELMORA_STORE_LOGICAL_NAME, name, kIviIniStoreNoSuchItem);
  }
  out->name = name;
  Outcome outcome = Follow(s, kReferences[0], name, &out->session);
  if (outcome.status == kIviIniSuccess)
    outcome = Follow(s, kReferences[1], out->session, &out->driver);
  if (outcome.status == kIviIniSuccess)
    outcome = Follow(s, kReferences[2], out->session, &out->device);
  if (outcome.status != kIviIniSuccess) return outcome;
  out->module = ValueOrEmpty(s, VELMORA_STORE_DRIVER, out->driver, "Module");
  out->prefix = ValueOrEmpty(s, VELMORA_STORE_DRIVER, out->driver, "Prefix");
  out->resource = ValueOrEmpty(s, VELMORA_STORE_DEVICE, out->device, "Resource");
  out->driverSetup = ValueOrEmpty(s, VELMORA_STORE_SESSION, out->session, "DriverSetup");
  out->simulate = Simulated(s, out->session);
  const Names classes = ClassEntries(s, out->driver);
  const Names channels = ChannelNames(s, out->session);
  out->classes = classes.names;
  out->channels = channels.names;
  return {classes.status != kIviIniSuccess ? classes.status : channels.status, std::string()};
}

void PrintResolved(const Resolved &r, bool json) {
  const struct {
    const char *key;
    const std::string *text;
    const std::vector<std::string> *list;
  } fields[] = {
      {"name", &r.name, nullptr},         {"session", &r.session, nullptr},
      {"driver", &r.driver, nullptr},     {"module", &r.module, nullptr},
      {"prefix", &r.prefix, nullptr},     {"classes", nullptr, &r.classes},
      {"device", &r.device, nullptr},     {"resource", &r.resource, nullptr},
      {"simulate", nullptr, nullptr},     {"driver_setup", &r.driverSetup, nullptr},
      {"channels", nullptr, &r.channels},
  };
  const char *simulate = r.simulate ? "true" : "false";
  if (!json) {
    for (const auto &f : fields) {
      printf("%s: %s\n", f.key,
             f.text != nullptr   ? f.text->c_str()
             : f.list != nullptr ? Join(*f.list, ", ").c_str()
                                 : simulate);
    }
    return;
  }
  printf("{");
  for (const auto &f : fields) {
    printf("%s\n  \"%s\": ", &f == &fields[0] ? "" : ",", f.key);
    if (f.text != nullptr) {
      PrintJsonString(*f.text);
    } else if (f.list != nullptr) {
      PrintJsonArray(*f.list);
    } else {
      fputs(simulate, stdout);
    }
  }
  printf("\n}\n");
}

// ---- Commands ------------------------------------------------------------------------

// The arguments of a command: its options, FILE, then its own words.
struct Arguments {
  const char *path;
  char **rest;
  bool json;
  bool force;
  int retries;
};

int Usage(const char *why = nullptr);

// Opens FILE, hands the store to use(store), which answers an Outcome, and
// closes it. A refused file is reported with its line.
template <typename Use>
int WithStore(const char *path, Use use) {
  velmora_store *s = nullptr;
  velmora_store_problem problem;
  if (velmora_store_open(path, &s, &problem) != kIviIniSuccess) {
    return ReportProblem(path, problem);
  }
  const Outcome outcome = use(s);
  velmora_store_close(s);
  if (outcome.status == kIviIniSuccess) return kExitDone;
  return outcome.quiet ? ExitFor(outcome.status) : Report(path, outcome);
}

// Opens FILE, makes one edit and saves it (EditAndSave, with --retry). A
// failed save leaves the file as it was, and the store is then closed
// without saving.
template <typename Edit>
int EditStore(const Arguments &a, Edit edit) {
  velmora_store *s = nullptr;
  velmora_store_problem problem;
  if (velmora_store_open(a.path, &s, &problem) != kIviIniSuccess) {
    return ReportProblem(a.path, problem);
  }
  const EditResult result = EditAndSave(s, a.retries, edit);
  velmora_store_close(s);
  if (result.outcome.status == kIviIniSuccess) return kExitDone;
  return result.fromFile ? ReportProblem(a.path, result.problem) : Report(a.path, result.outcome);
}

// KIND as the file spells it or as the tool does, letter case ignored.
bool ParseKind(const char *word, velmora_store_kind *kind, int *exitCode) {
  if (velmora_store_kind_parse(word, kind) == kIviIniSuccess) return true;
  const std::string why = "'" + std::string(word) +
                          "' is no kind: logical-name, session, driver or device (or as the file "
                          "spells them: LogicalName, Session, Driver, Device)";
  *exitCode = Usage(why.c_str());
  return false;
}

// KIND NAME KEY of get, set and unset, the key as the file spells it.
struct KeyTarget {
  velmora_store_kind kind;
  std::string name;
  const char *key;
};

// Reads KIND NAME KEY, or answers false with the exit status of the
// refusal. A key the kind lacks is a wrong command line, whatever the file.
bool ParseKeyTarget(const Arguments &a, KeyTarget *target, int *exitCode) {
  if (!ParseKind(a.rest[0], &target->kind, exitCode)) return false;
  target->name = a.rest[1];
  for (int32_t k = 0; k < velmora_store_key_count(target->kind); ++k) {
    if (strcasecmp(velmora_store_key_name(target->kind, k), a.rest[2]) == 0) {
      target->key = velmora_store_key_name(target->kind, k);
      return true;
    }
  }
  *exitCode =
      Report(a.path, {kIviIniStoreNoSuchProperty, "a " + std::string(WordsOf(target->kind).prose) +
                                                      " has no key '" + a.rest[2] + "'"});
  return false;
}

int Check(const Arguments &a) {
  return WithStore(a.path, [&a](velmora_store *s) {
    std::vector<std::string> dangling;
    const int32_t status = DanglingReferences(s, &dangling);
    if (status != kIviIniSuccess) return Outcome{status, std::string()};
    // Warnings only: a reference to an item the store lacks is a state the
    // library reads (as referring to none), often on purpose.
    for (const std::string &warning : dangling) {
      fprintf(stderr, "%s: warning: %s\n", a.path, warning.c_str());
    }
    printf("%s: ok: %s\n", a.path, Summary(s).c_str());
    return Done();
  });
}

int Show(const Arguments &a) {
  return WithStore(a.path, [&a](velmora_store *s) {
    return Outcome{a.json ? PrintJsonStore(s) : Shower(s).Show(a.path), std::string()};
  });
}

int List(const Arguments &a) {
  velmora_store_kind kind;
  int exitCode = kExitDone;
  if (!ParseKind(a.rest[0], &kind, &exitCode)) return exitCode;
  return WithStore(a.path, [&](velmora_store *s) {
    const Names items = ItemNames(s, kind);
    if (items.status == kIviIniSuccess && a.json) {
      PrintJsonArray(items.names);
      putchar('\n');
    } else if (items.status == kIviIniSuccess) {
      for (const std::string &name : items.names) PrintLine(name);
    }
    return Outcome{items.status, std::string()};
  });
}

int Get(const Arguments &a) {
  KeyTarget t;
  int exitCode = kExitDone;
  if (!ParseKeyTarget(a, &t, &exitCode)) return exitCode;
  return WithStore(a.path, [&](velmora_store *s) {
    std::string value;
    const int32_t status = Value(s, t.kind, t.name, t.key, &value);
    // A key the item lacks prints nothing at all, as `git config` has it: a
    // script tells it from an empty value by the exit status alone.
    if (status == kIviIniStoreNoSuchKey) return Outcome{status, std::string(), true};
    if (status != kIviIniSuccess) return About(t.kind, t.name, status);
    PrintLine(strcmp(t.key, "Simulate") != 0 ? value : Simulated(s, t.name) ? "true" : "false");
    return Done();
  });
}

// An edit's refusal, in words: the item, the item it was to refer to, or
// what a value must be.
Outcome SetRefused(velmora_store *s, velmora_store_kind kind, const std::string &name,
                   const char *key, int32_t status) {
  if (status == kIviIniStoreNoSuchItem && HasItem(s, kind, name)) {
    for (const ReferenceKey &r : kReferences) {
      if (r.from == kind && strcmp(r.key, key) == 0) {
        return {status, "no " + std::string(WordsOf(r.to).prose) + " of that name to refer to"};
      }
    }
  }
  if (status == kIviIniStoreBadValue && strcmp(key, "Simulate") == 0) {
    return {status, "Simulate takes true or false, 1 or 0, yes or no"};
  }
  if (status == kIviIniStoreBadValue && strcmp(key, "Channels") == 0) {
    return {status,
            "a Channels value is entries separated by ',', each NAME or NAME[RANGE, ...] "
            "with RANGE LOW..HIGH or one integer"};
  }
  return About(kind, name, status);
}

int Set(const Arguments &a) {
  KeyTarget t;
  int exitCode = kExitDone;
  if (!ParseKeyTarget(a, &t, &exitCode)) return exitCode;
  const char *value = a.rest[3];
  return EditStore(a, [&](velmora_store *s) {
    const int32_t status = velmora_store_set(s, t.kind, t.name.c_str(), t.key, value);
    return status == kIviIniSuccess ? Done() : SetRefused(s, t.kind, t.name, t.key, status);
  });
}

int Unset(const Arguments &a) {
  KeyTarget t;
  int exitCode = kExitDone;
  if (!ParseKeyTarget(a, &t, &exitCode)) return exitCode;
  return EditStore(a, [&](velmora_store *s) {
    return About(t.kind, t.name, velmora_store_unset(s, t.kind, t.name.c_str(), t.key));
  });
}

int Add(const Arguments &a) {
  velmora_store_kind kind;
  int exitCode = kExitDone;
  if (!ParseKind(a.rest[0], &kind, &exitCode)) return exitCode;
  const std::string name = a.rest[1];
  return EditStore(a, [&](velmora_store *s) {
    const int32_t status = velmora_store_add(s, kind, name.c_str());
    if (status == kIviIniStoreItemExists)
      return Outcome{status, "the store has " + Prose(kind, name)};
    return Outcome{status, std::string()};
  });
}

// The items that refer to an item: "session A, session B".
std::string ReferrerList(velmora_store *s, velmora_store_kind kind, const std::string &name) {
  uint32_t count = 0;
  velmora_store_referrer_count(s, kind, name.c_str(), &count);
  std::vector<std::string> referrers;
  for (uint32_t i = 0; i < count; ++i) {
    velmora_store_kind from = VELMORA_STORE_LOGICAL_NAME;
    std::string referrer;
    ReadString(
        [&](char *b, int32_t size) {
          return velmora_store_referrer(s, kind, name.c_str(), i, &from, b, size);
        },
        &referrer);
    referrers.push_back(Prose(from, referrer));
  }
  return Join(referrers, ", ");
}

int Remove(const Arguments &a) {
  velmora_store_kind kind;
  int exitCode = kExitDone;
  if (!ParseKind(a.rest[0], &kind, &exitCode)) return exitCode;
  const std::string name = a.rest[1];
  return EditStore(a, [&](velmora_store *s) {
    const int32_t status = velmora_store_remove(s, kind, name.c_str(), a.force ? 1 : 0);
    if (status != kIviIniStoreReferenced) return About(kind, name, status);
    return Outcome{status, Prose(kind, name) + " is named by " + ReferrerList(s, kind, name) +
                               "; remove --force removes it all the same"};
  });
}

int Channels(const Arguments &a) {
  const std::string session = a.rest[0];
  return WithStore(a.path, [&](velmora_store *s) {
    const Names channels = ChannelNames(s, session);
    if (channels.status == kIviIniSuccess) {
      for (const std::string &name : channels.names) PrintLine(name);
    }
    return About(VELMORA_STORE_SESSION, session, channels.status);
  });
}

int Classes(const Arguments &a) {
  const std::string driver = a.rest[0];
  return WithStore(a.path, [&](velmora_store *s) {
    const Names classes = ClassEntries(s, driver);
    if (classes.status == kIviIniSuccess) {
      for (const std::string &entry : classes.names) {
        if (velmora_store_is_instrument_class(entry.c_str())) PrintLine(entry);
      }
    }
    return About(VELMORA_STORE_DRIVER, driver, classes.status);
  });
}

int ResolveCommand(const Arguments &a) {
  const std::string name = a.rest[0];
  return WithStore(a.path, [&](velmora_store *s) {
    Resolved resolved;
    const Outcome outcome = Resolve(s, name, &resolved);
    if (outcome.status == kIviIniSuccess) PrintResolved(resolved, a.json);
    return outcome;
  });
}

// The options a command takes before FILE.
enum Option : unsigned {
  kJson = 1,   // --json
  kForce = 2,  // --force
  kRetry = 4,  // --retry N
};

struct Command {
  const char *name;
  unsigned options;
  const char *arguments;  // after FILE, one word each
  const char *summary;    // for the list of commands
  const char *help;       // for `velmora-store COMMAND --help`
  int (*run)(const Arguments &arguments);
};

const Command kCommands[] = {
    {"check", 0, "", "say whether the store is readable, and warn of dangling references",
     "Prints \"FILE: ok: \" and the number of items of each kind when FILE is a store\n"
     "the library reads, and on standard error a warning for each reference to an\n"
     "item the store lacks (the exit status stays 0). Otherwise prints the first\n"
     "problem in file order on standard error, with its line, the status name and\n"
     "its number, and exits 3.\n",
     Check},
    {"show", kJson, "", "print the store as a tree, or as one JSON object",
     "Prints each logical name with the session it names and that session's driver\n"
     "and device, then every session, driver and device with its values. With\n"
     "--json, one JSON object instead: an array per kind (\"logical-name\", \"session\",\n"
     "\"driver\", \"device\") of objects with \"name\" and every key of the kind as\n"
     "stored (\"\" when the item lacks it); Simulate is a boolean, Channels the\n"
     "channel names with ranges expanded, Classes the class entries as written.\n",
     Show},
    {"list", kJson, "KIND", "print the names of the items of KIND",
     "Prints the names of the items of KIND in file order, one per line, or with\n"
     "--json as a JSON array.\n",
     List},
    {"get", 0, "KIND NAME KEY", "print the value of an item's KEY",
     "Prints the value of KEY of the item of KIND called NAME, as stored: a\n"
     "reference prints the name it holds, whether or not such an item exists;\n"
     "Channels and Classes print the whole value. Simulate prints true or false.\n"
     "An empty value prints an empty line. When the item has no line for KEY,\n"
     "prints nothing and exits 1.\n",
     Get},
    {"set", kRetry, "KIND NAME KEY VALUE", "set an item's KEY to VALUE and save FILE",
     "Sets KEY of the item of KIND called NAME to VALUE and saves FILE; a key the\n"
     "item lacks gets a line of its own. Every key of every kind can be set. A\n"
     "reference must name an item of its kind (or be empty); Simulate takes true or\n"
     "false, 1 or 0, yes or no; a Channels value must parse (CH[1..4], TRIG).\n"
     "Setting a value to what it reads leaves the file untouched.\n",
     Set},
    {"unset", kRetry, "KIND NAME KEY", "remove an item's KEY line and save FILE",
     "Removes the line of KEY from the item of KIND called NAME and saves FILE. An\n"
     "item without the line is left as it is.\n",
     Unset},
    {"add", kRetry, "KIND NAME", "add an item with no values and save FILE",
     "Adds an item of KIND called NAME, with no values, at the end of FILE and\n"
     "saves it. Items of every kind can be added.\n",
     Add},
    {"remove", kForce | kRetry, "KIND NAME", "remove an item and save FILE",
     "Removes the section of the item of KIND called NAME and saves FILE. An item\n"
     "that others refer to (a session a logical name names, a driver or a device a\n"
     "session names) is refused, naming them, and the file left as it was (exit 5);\n"
     "with --force it is removed all the same and their references stay, naming an\n"
     "item the store lacks.\n",
     Remove},
    {"channels", 0, "SESSION", "print a session's channel names",
     "Prints the channel names of SESSION, one per line, with their ranges\n"
     "expanded: CH[1..4], TRIG gives CH1 to CH4 and TRIG.\n",
     Channels},
    {"classes", 0, "DRIVER", "print a driver's instrument classes",
     "Prints the instrument classes of DRIVER, one per line: its class entries\n"
     "named Ivi and a capital letter, except IviDriver.\n",
     Classes},
    {"resolve", kJson, "NAME", "follow a logical name to its session, driver and device",
     "Follows the logical name NAME to its session, the session's driver and\n"
     "device, and prints one \"key: value\" line each: name, session, driver, module,\n"
     "prefix, classes (the class entries, joined by \", \"), device, resource,\n"
     "simulate (true or false), driver_setup and channels (expanded, joined by\n"
     "\", \"). With --json, one JSON object with those keys; classes and channels\n"
     "are arrays, simulate a boolean. A link that names nothing, or an item the\n"
     "store lacks, exits 1 and is named on standard error.\n",
     ResolveCommand},
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
  std::string line = std::string("velmora-store ") + command.name;
  if (command.options & kForce) line += " [--force]";
  if (command.options & kRetry) line += " [--retry N]";
  if (command.options & kJson) line += " [--json]";
  line += " FILE";
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
  printf(
      "\nKIND and its KEYs (KIND as the file spells it or as below, the letter case\n"
      "of both ignored):\n");
  for (int k = 0; k < VELMORA_STORE_KIND_COUNT; ++k) {
    const auto kind = static_cast<velmora_store_kind>(k);
    printf("  %-13s", kKinds[k].word);
    for (int32_t key = 0; key < velmora_store_key_count(kind); ++key) {
      printf(" %s", velmora_store_key_name(kind, key));
    }
    printf("\n");
  }
}

// The exit statuses and the library statuses behind each, from the one table.
void PrintExitStatuses() {
  printf("\nExit status (the library's status is named on standard error):\n");
  for (int code = kExitDone; code <= kExitSaveFailed; ++code) {
    printf("  %d  %s", code, ExitMeaning(code));
    const char *separator = code == kExitDone ? "" : ":";
    int column = 80;  // starts a line at the first name
    ForEachStatusOf(code, [&](int32_t status) {
      if (code == kExitDone) return;
      const char *name = StatusName(status);
      const int width = static_cast<int>(strlen(name)) + 2;
      if (column + width > 78) {
        printf("%s\n     ", separator);
        column = 5;
        separator = "";
      }
      printf("%s %s", separator, name);
      separator = ",";
      column += width;
    });
    printf("\n");
  }
}

int Help(const Command *command) {
  if (command != nullptr) {
    printf("usage: %s\n\n%s", Synopsis(*command).c_str(), command->help);
    if (command->options & kRetry) {
      printf(
          "\nWith --retry N, an edit refused because another program changed FILE since\n"
          "it was read, or held its lock (exit 4), is made again on the new content and\n"
          "saved, up to N more times.\n");
    }
    // Commands that take a KIND list the kinds and their keys.
    if (strncmp(command->arguments, "KIND", 4) == 0) PrintKeys();
  } else {
    PrintSynopses(stdout);
    printf("\nCommands:\n");
    for (const Command &c : kCommands) printf("  %-9s %s\n", c.name, c.summary);
    PrintKeys();
    PrintExitStatuses();
    printf("\nSee velmora-store(1).\n");
  }
  return kExitDone;
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

// N of --retry: a count from 0 to kMostRetries.
bool ParseRetries(const char *word, int *retries) {
  char *end = nullptr;
  const long n = strtol(word, &end, 10);
  if (word[0] < '0' || word[0] > '9' || *end != '\0' || n > kMostRetries) return false;
  *retries = static_cast<int>(n);
  return true;
}

int RunCommand(const Command &command, int argc, char **argv) {
  Arguments arguments = {nullptr, nullptr, false, false, 0};
  int next = 2;
  for (; next < argc && strncmp(argv[next], "--", 2) == 0 && argv[next][2] != '\0'; ++next) {
    const char *option = argv[next];
    if ((command.options & kJson) && strcmp(option, "--json") == 0) {
      arguments.json = true;
    } else if ((command.options & kForce) && strcmp(option, "--force") == 0) {
      arguments.force = true;
    } else if ((command.options & kRetry) && strcmp(option, "--retry") == 0) {
      if (++next == argc || !ParseRetries(argv[next], &arguments.retries)) {
        return Usage("--retry takes a count from 0 to 1000");
      }
    } else {
      return Usage((std::string(command.name) + " takes no option " + option).c_str());
    }
  }
  if (argc - next != 1 + ArgumentCount(command)) return Usage();
  arguments.path = argv[next];
  arguments.rest = argv + next + 1;
  // An empty path would open the library's default store, which the tool
  // never takes: the file is always the one named.
  if (arguments.path[0] == '\0') return Usage("FILE is empty: name the store file");
  return command.run(arguments);
}

int Run(int argc, char **argv) {
  if (argc == 2 && IsHelp(argv[1])) return Help(nullptr);
  if (argc < 2) return Usage();
  for (const Command &command : kCommands) {
    if (strcmp(argv[1], command.name) != 0) continue;
    if (argc == 3 && IsHelp(argv[2])) return Help(&command);
    return RunCommand(command, argc, argv);
  }
  return Usage();
}

}  // namespace
}  // namespace velmora_tool

int main(int argc, char **argv) {
  const int exitCode = velmora_tool::Run(argc, argv);
  // Output that did not reach its file (a full disk) is no success for the
  // script that reads it.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    perror("velmora-store: writing standard output");
    return exitCode == velmora_tool::kExitDone ? velmora_tool::kExitSaveFailed : exitCode;
  }
  return exitCode;
}

// velmora-store: tells a user what libvelmora makes of a store file.
//
//   velmora-store check FILE   "FILE: ok ..." and exit 0, or the first problem
//                              as "FILE:LINE: ..." and exit 1
//   velmora-store show FILE    the store as a tree: each logical name with the
//                              session it names and that session's driver and
//                              device, then every item with its values
//
// Exit status: 0 the file loads, 1 it is refused (the message names the
// library's status), 2 the command line is wrong.
//
// The tool opens stores through libvelmora's C interface, so that what it
// reports is what every program using the library gets: the status and the
// name velmora.h gives it, the counts, the channels as IviIni_GetNthChannel
// names them. The file back end's own parser adds what the C interface does
// not carry: the line and the sentence of a refusal, and the values as
// written (a reference to an item the store lacks, the Simulate word).
// Subcommands are rows of one table.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "config/configuration.h"
#include "config/store_file/store_model.h"
#include "velmora/velmora.h"

namespace {

using velmora::store::Field;
using velmora::store::Kind;
using velmora::store::kNoItem;
using velmora::store::ParseError;
using velmora::store::Store;
using velmora::store::TextView;

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
// Channels beyond this many are counted, not listed.
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

// Opens the store at `path` through the library and hands it to `use`;
// reports a refusal instead.
template <typename Use>
int WithStore(const char *path, Use use) {
  IviIniHandle h = nullptr;
  const int32_t status = IviIni_OpenIniFile(path, &h);
  if (status < 0) return Refused(path, status);
  Store &store = *static_cast<Store *>(h->state.store);
  const int exitCode = use(h, store);
  IviIni_CloseIniFile(h, 0);
  return exitCode;
}

int Check(char **arguments) {
  const char *path = arguments[0];
  return WithStore(path, [path](IviIniHandle h, Store &) {
    printf("%s: ok: %s\n", path, Summary(h).c_str());
    return 0;
  });
}

int Show(char **arguments) {
  const char *path = arguments[0];
  return WithStore(path, [path](IviIniHandle h, Store &store) {
    for (uint32_t i = 0; i < store.Count(Kind::kDriver); ++i) {
      if (store.PrepareLists(store.ItemAt(Kind::kDriver, i)) != kIviIniSuccess) {
        return Refused(path, kIviIniOutOfMemory);
      }
    }
    Shower(h, store).Show(path);
    return 0;
  });
}

struct Command {
  const char *name;
  const char *arguments;
  const char *summary;
  int argumentCount;
  int (*run)(char **arguments);
};

const Command kCommands[] = {
    {"check", "FILE", "say whether libvelmora accepts FILE, or why not", 1, Check},
    {"show", "FILE", "print the store in FILE as a tree", 1, Show},
};

int Usage(FILE *to) {
  const char *lead = "usage:";
  for (const Command &command : kCommands) {
    char line[64];
    snprintf(line, sizeof line, "velmora-store %s %s", command.name, command.arguments);
    fprintf(to, "%-6s %-30s %s\n", lead, line, command.summary);
    lead = "";
  }
  return to == stdout ? 0 : kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    return Usage(stdout);
  }
  for (const Command &command : kCommands) {
    if (argc >= 2 && strcmp(argv[1], command.name) == 0 && argc - 2 == command.argumentCount) {
      return command.run(argv + 2);
    }
  }
  return Usage(stderr);
}

// velmora-store: tells a user what libvelmora's file back end makes of a
// store file, with the library's own parser.
//
//   velmora-store check FILE   "FILE: ok ..." and exit 0, or the first problem
//                              as "FILE:LINE: ..." and exit 1
//   velmora-store show FILE    the store as a tree: each logical name with the
//                              session it names and that session's driver and
//                              device, then every item with its values
//
// Exit status: 0 the file loads, 1 it is refused (the message names the
// library's status), 2 the command line is wrong.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

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
constexpr uint64_t kChannelsListed = 32;

const char *StatusName(int32_t status) {
  switch (status) {
    case kIviIniOutOfMemory:
      return "kIviIniOutOfMemory";
    case kIviIniStoreNotFound:
      return "kIviIniStoreNotFound";
    case kIviIniStoreUnreadable:
      return "kIviIniStoreUnreadable";
    case kIviIniStoreFileTooLarge:
      return "kIviIniStoreFileTooLarge";
    case kIviIniStoreLineTooLong:
      return "kIviIniStoreLineTooLong";
    case kIviIniStoreNulByte:
      return "kIviIniStoreNulByte";
    case kIviIniStoreBadLine:
      return "kIviIniStoreBadLine";
    case kIviIniStoreKeyOutsideSection:
      return "kIviIniStoreKeyOutsideSection";
    case kIviIniStoreBadHeader:
      return "kIviIniStoreBadHeader";
    case kIviIniStoreBadQuoting:
      return "kIviIniStoreBadQuoting";
    case kIviIniStoreDuplicateSection:
      return "kIviIniStoreDuplicateSection";
    case kIviIniStoreDuplicateKey:
      return "kIviIniStoreDuplicateKey";
    case kIviIniStoreBadChannels:
      return "kIviIniStoreBadChannels";
    case kIviIniStoreBadSimulate:
      return "kIviIniStoreBadSimulate";
    default:
      return "status";
  }
}

std::string Text(TextView view) {
  return std::string(view.data, view.length);
}

class Shower {
 public:
  explicit Shower(const Store &store) : s_(store) {}

  void Show(const char *path) {
    printf("%s: %s\n", path, Summary(s_).c_str());
    Section("Logical names", Kind::kLogicalName, &Shower::LogicalName);
    Section("Sessions", Kind::kSession, &Shower::Session);
    Section("Drivers", Kind::kDriver, &Shower::Driver);
    Section("Devices", Kind::kDevice, &Shower::Device);
  }

  static std::string Summary(const Store &s) {
    char text[160];
    snprintf(text, sizeof text, "%u logical names, %u sessions, %u drivers, %u devices",
             s.Count(Kind::kLogicalName), s.Count(Kind::kSession), s.Count(Kind::kDriver),
             s.Count(Kind::kDevice));
    return text;
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
    if (s_.ChannelEntryCount(item) > 0) Channels(item);
  }

  void Channels(uint32_t item) {
    std::string names;
    uint64_t total = 0;
    for (uint32_t e = 0; e < s_.ChannelEntryCount(item); ++e) {
      const std::string name = Text(s_.ChannelEntryName(item, e));
      if (s_.RangeCount(item, e) == 0 && total++ < kChannelsListed) names += " " + name;
      for (uint32_t r = 0; r < s_.RangeCount(item, e); ++r) {
        const velmora::store::Range range = s_.RangeAt(item, e, r);
        for (int64_t v = range.low; v <= range.high && total < kChannelsListed; ++v, ++total) {
          names += " " + name + std::to_string(v);
        }
        if (total >= kChannelsListed) {
          total += static_cast<uint64_t>(int64_t{range.high} - range.low + 1);
        }
      }
    }
    printf("    channels (%llu):%s%s\n", static_cast<unsigned long long>(total), names.c_str(),
           total > kChannelsListed ? " ..." : "");
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

  const Store &s_;
};

int Usage(FILE *to) {
  fprintf(to,
          "usage: velmora-store check FILE   say whether libvelmora accepts FILE, or why not\n"
          "       velmora-store show FILE    print the store in FILE as a tree\n");
  return to == stdout ? 0 : kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    return Usage(stdout);
  }
  if (argc != 3 || (strcmp(argv[1], "check") != 0 && strcmp(argv[1], "show") != 0)) {
    return Usage(stderr);
  }
  const char *path = argv[2];
  Store *store = Store::Create();
  if (store == nullptr) {
    fprintf(stderr, "%s: out of memory\n", path);
    return kExitRefused;
  }
  ParseError error{};
  const int32_t status = store->LoadFile(path, &error);
  int exitCode = 0;
  if (status != kIviIniSuccess) {
    // The same status IviIni_OpenIniFile answers for this file.
    if (error.line > 0) {
      fprintf(stderr, "%s:%u: %s (%s, %d)\n", path, error.line, error.message, StatusName(status),
              status);
    } else {
      fprintf(stderr, "%s: %s (%s, %d)\n", path, error.message, StatusName(status), status);
    }
    exitCode = kExitRefused;
  } else if (strcmp(argv[1], "check") == 0) {
    printf("%s: ok: %s\n", path, Shower::Summary(*store).c_str());
  } else {
    Shower(*store).Show(path);
  }
  Store::Destroy(store);
  return exitCode;
}

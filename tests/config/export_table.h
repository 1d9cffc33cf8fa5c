// Every export that takes a handle, as a table the tests drive: how to call
// it, and for the collection exports which sequence, operation set(s) and
// property the call must reach. Written from the interface's description,
// independently of the library's own table, so that a wrong row there shows.
#ifndef VELMORA_TESTS_CONFIG_EXPORT_TABLE_H
#define VELMORA_TESTS_CONFIG_EXPORT_TABLE_H

#include <stdint.h>
#include <string.h>

#include <vector>

#include "velmora/velmora.h"

// Arguments and outputs of one call. Outputs start as recognisable
// sentinels, so a test can tell what a call wrote.
struct CallIo {
  static constexpr char kFill = '#';
  static constexpr int32_t kCountSentinel = -12345;

  IviIniHandle h = nullptr;
  const char *name = "item";
  const char *value = "value";
  int32_t index = 1;
  int32_t size = 64;
  int32_t count = kCountSentinel;
  const char *nameOut = kNameSentinel;
  uint8_t changed = 0xAA;
  char buffer[640];

  static constexpr const char *kNameSentinel = "(name out untouched)";

  CallIo() { memset(buffer, kFill, sizeof buffer); }

  bool BufferUntouched() const {
    for (char c : buffer) {
      if (c != kFill) return false;
    }
    return true;
  }
  bool OutputsUntouched() const {
    return BufferUntouched() && count == kCountSentinel && nameOut == kNameSentinel &&
           changed == 0xAA;
  }
};

enum class Shape { Count, Nth, Get, Set, GetRef, SetRef, Add, Remove, Other };

struct ExportCall {
  const char *name;
  Shape shape;
  const char *set;     // the set the sequence runs over ("from" set of references)
  const char *target;  // the target set of the reference sequences
  int32_t property;    // the property read or written, 0 when none
  int32_t (*call)(CallIo &io);
};

#define VELMORA_CALL(expr) [](CallIo &io) -> int32_t { return expr; }
#define VELMORA_COUNT(fn, set) \
  { #fn, Shape::Count, set, nullptr, 0, VELMORA_CALL(fn(io.h, &io.count)) }
#define VELMORA_NTH(fn, set) \
  { #fn, Shape::Nth, set, nullptr, 1, VELMORA_CALL(fn(io.h, io.index, &io.nameOut)) }
#define VELMORA_GET(fn, set, property) \
  { #fn, Shape::Get, set, nullptr, property, VELMORA_CALL(fn(io.h, io.name, io.buffer, io.size)) }
#define VELMORA_SET(fn, set, property) \
  { #fn, Shape::Set, set, nullptr, property, VELMORA_CALL(fn(io.h, io.name, io.value)) }
#define VELMORA_GET_REF(fn, from, to) \
  { #fn, Shape::GetRef, from, to, 1, VELMORA_CALL(fn(io.h, io.name, io.buffer, io.size)) }
#define VELMORA_SET_REF(fn, from, to) \
  { #fn, Shape::SetRef, from, to, 0, VELMORA_CALL(fn(io.h, io.name, io.value)) }
#define VELMORA_ADD(fn, set) \
  { #fn, Shape::Add, set, nullptr, 0, VELMORA_CALL(fn(io.h, io.name)) }
#define VELMORA_REMOVE(fn, set) \
  { #fn, Shape::Remove, set, nullptr, 0, VELMORA_CALL(fn(io.h, io.name)) }

// The 33 collection exports.
inline const std::vector<ExportCall> &CollectionExports() {
  static const std::vector<ExportCall> table = {
      VELMORA_COUNT(IviIni_GetNumberOfLogicalNames, "LogicalName"),
      VELMORA_NTH(IviIni_GetNthLogicalName, "LogicalName"),
      VELMORA_GET(IviIni_GetLogicalNameDescription, "LogicalName", 2),
      VELMORA_SET(IviIni_SetLogicalNameDescription, "LogicalName", 2),
      VELMORA_GET_REF(IviIni_GetLogicalNameVI, "LogicalName", "SessionTarget"),
      VELMORA_SET_REF(IviIni_SetLogicalNameVI, "LogicalName", "Session"),
      VELMORA_ADD(IviIni_AddLogicalName, "LogicalName"),
      VELMORA_REMOVE(IviIni_RemoveLogicalName, "LogicalName"),
      VELMORA_COUNT(IviIni_GetNumberOfVIs, "Session"),
      VELMORA_NTH(IviIni_GetNthVI, "Session"),
      VELMORA_GET(IviIni_GetVIDescription, "Session", 2),
      VELMORA_SET(IviIni_SetVIDescription, "Session", 2),
      VELMORA_GET(IviIni_GetVIDriverSetup, "Session", 10),
      VELMORA_SET(IviIni_SetVIDriverSetup, "Session", 10),
      VELMORA_GET_REF(IviIni_GetVIDriver, "Session", "Driver"),
      VELMORA_SET_REF(IviIni_SetVIDriver, "Session", "Driver"),
      VELMORA_GET_REF(IviIni_GetVIDevice, "Session", "Device"),
      VELMORA_SET_REF(IviIni_SetVIDevice, "Session", "Device"),
      VELMORA_ADD(IviIni_AddVI, "Session"),
      VELMORA_REMOVE(IviIni_RemoveVI, "Session"),
      VELMORA_COUNT(IviIni_GetNumberOfDrivers, "Driver"),
      VELMORA_NTH(IviIni_GetNthDriver, "Driver"),
      VELMORA_GET(IviIni_GetDriverDescription, "Driver", 2),
      VELMORA_GET(IviIni_GetDriverModule, "Driver", 3),
      VELMORA_GET(IviIni_GetDriverPrefix, "Driver", 4),
      VELMORA_COUNT(IviIni_GetNumberOfDevices, "Device"),
      VELMORA_NTH(IviIni_GetNthDevice, "Device"),
      VELMORA_GET(IviIni_GetDeviceDescription, "Device", 2),
      VELMORA_SET(IviIni_SetDeviceDescription, "Device", 2),
      VELMORA_GET(IviIni_GetDeviceResourceDescriptor, "Device", 3),
      VELMORA_SET(IviIni_SetDeviceResourceDescriptor, "Device", 3),
      VELMORA_ADD(IviIni_AddDevice, "Device"),
      VELMORA_REMOVE(IviIni_RemoveDevice, "Device"),
  };
  return table;
}

// The other exports that take a handle and answer kIviIniInvalidHandle for
// one that is not open (the channel exports answer 0 and are listed apart).
inline const std::vector<ExportCall> &OtherHandleExports() {
  static const std::vector<ExportCall> table = {
      {"IviIni_CloseIniFile", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_CloseIniFile(io.h, 1))},
      {"IviIni_ConfigurationChanged", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_ConfigurationChanged(io.h, &io.changed))},
      {"IviIni_ReloadConfiguration", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_ReloadConfiguration(io.h))},
      {"IviIni_GetDriverClassCount", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_GetDriverClassCount(io.h, io.name, &io.count))},
      {"IviIni_GetDriverClassByIndex", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_GetDriverClassByIndex(io.h, io.name, io.index, io.buffer, io.size))},
      {"IviIni_GetDriverClass", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_GetDriverClass(io.h, io.name, io.buffer, io.size))},
      {"IviIni_SetVISimulation", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_SetVISimulation(io.h, io.name, 1))},
  };
  return table;
}

inline const std::vector<ExportCall> &ChannelExports() {
  static const std::vector<ExportCall> table = {
      {"IviIni_GetNumberOfChannels", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_GetNumberOfChannels(io.h, io.name, &io.count))},
      {"IviIni_GetNthChannel", Shape::Other, nullptr, nullptr, 0,
       VELMORA_CALL(IviIni_GetNthChannel(io.h, io.name, io.index, &io.nameOut))},
  };
  return table;
}

#undef VELMORA_CALL
#undef VELMORA_COUNT
#undef VELMORA_NTH
#undef VELMORA_GET
#undef VELMORA_SET
#undef VELMORA_GET_REF
#undef VELMORA_SET_REF
#undef VELMORA_ADD
#undef VELMORA_REMOVE

// Handles no configuration ever had: null and an address nothing was
// allocated at (the library must not dereference it).
inline IviIniHandle MadeUpHandle() {
  return reinterpret_cast<IviIniHandle>(uintptr_t{0x5eed0});
}

#endif  // VELMORA_TESTS_CONFIG_EXPORT_TABLE_H

// The configuration library, bound on opt-in (kConfigLibraryVariable):
// libvelmora's file store, or any library with its twelve entries.
//
// The slots keep the shapes their callers pass (unsigned sizes and indexes, a
// widened flag), while the library's functions take signed ones and a byte.
// Where the two differ, the slot holds a small adapter that converts the
// arguments and calls the library's entry; elsewhere the entry itself.
#include <dlfcn.h>

#include <atomic>
#include <cstdint>

#include "plugin/sources/configuration.h"
#include "plugin/sources/library_binding.h"

namespace hx {
namespace {

// The entries as the configuration library declares them.
using LibCloseFn = int32_t (*)(void *handle, uint8_t save);
using LibNthNameFn = int32_t (*)(void *handle, int32_t index, const char **name);
using LibTextFn = int32_t (*)(void *handle, const char *name, char *buffer, int32_t size);
using LibClassByIndexFn = int32_t (*)(void *handle, const char *name, int32_t index, char *buffer,
                                      int32_t size);

// The library's own entries behind the adapters. Written before the slots
// are filled and never again, both under configGate, which every caller of
// a slot holds.
struct LibraryEntries {
  LibCloseFn close = nullptr;
  LibNthNameFn nthName = nullptr;
  LibTextFn logicalNameVI = nullptr;
  LibTextFn viDriver = nullptr;
  LibTextFn driverClass = nullptr;
  LibClassByIndexFn classByIndex = nullptr;
  LibTextFn driverPrefix = nullptr;
};
LibraryEntries library GUARDED_BY(configGate);

// Set once all twelve slots are filled; never cleared.
std::atomic<bool> bound{false};

// A size or index beyond the signed range names a buffer at least that
// large, or an index no store has: the largest signed value says the same.
int32_t ToSigned(uint32_t value) {
  return value > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
}

// The adapters run only through the slots, whose callers hold configGate.
int32_t Close(void *handle, int32_t flag) NO_THREAD_SAFETY_ANALYSIS {
  // The flag is a byte widened by the caller: its low byte is the flag.
  return library.close(handle, static_cast<uint8_t>(flag));
}
int32_t NthName(void *handle, uint32_t index, const char **name) NO_THREAD_SAFETY_ANALYSIS {
  return library.nthName(handle, ToSigned(index), name);
}
template <LibTextFn LibraryEntries::*entry>
int32_t Text(void *handle, const char *name, char *buffer,
             uint32_t size) NO_THREAD_SAFETY_ANALYSIS {
  return (library.*entry)(handle, name, buffer, ToSigned(size));
}
int32_t ClassByIndex(void *handle, const char *name, int32_t index, char *buffer,
                     uint32_t size) NO_THREAD_SAFETY_ANALYSIS {
  return library.classByIndex(handle, name, index, buffer, ToSigned(size));
}

// The twelve entries, in the order they are looked up.
enum Entry {
  kOpen,
  kClose,
  kChanged,
  kReload,
  kCount,
  kNthName,
  kLogicalNameVI,
  kVIDriver,
  kDriverClass,
  kClassCount,
  kClassByIndex,
  kDriverPrefix,
  kEntries
};
constexpr const char *kSymbols[kEntries] = {
    "IviIni_OpenIniFile",
    "IviIni_CloseIniFile",
    "IviIni_ConfigurationChanged",
    "IviIni_ReloadConfiguration",
    "IviIni_GetNumberOfLogicalNames",
    "IviIni_GetNthLogicalName",
    "IviIni_GetLogicalNameVI",
    "IviIni_GetVIDriver",
    "IviIni_GetDriverClass",
    "IviIni_GetDriverClassCount",
    "IviIni_GetDriverClassByIndex",
    "IviIni_GetDriverPrefix",
};

}  // namespace

int32_t EnsureConfigLibrary() {
  if (bound.load(std::memory_order_acquire)) return 0;
  const char *name = OptInSetting(kConfigLibraryVariable);
  if (name == nullptr) return 0;

  void *found[kEntries];
  const LibrarySpec spec{name, RTLD_NOW | RTLD_LOCAL, "configuration library", true};
  if (!BindAllOrNone(spec, kSymbols, found, kEntries)) return kBindFailed;

  library.close = EntryAs<LibCloseFn>(found[kClose]);
  library.nthName = EntryAs<LibNthNameFn>(found[kNthName]);
  library.logicalNameVI = EntryAs<LibTextFn>(found[kLogicalNameVI]);
  library.viDriver = EntryAs<LibTextFn>(found[kVIDriver]);
  library.driverClass = EntryAs<LibTextFn>(found[kDriverClass]);
  library.classByIndex = EntryAs<LibClassByIndexFn>(found[kClassByIndex]);
  library.driverPrefix = EntryAs<LibTextFn>(found[kDriverPrefix]);
  configSlots.cfgOpenIniFile.set(EntryAs<CfgOpenIniFileFn>(found[kOpen]));
  configSlots.cfgCloseIniFile.set(Close);
  configSlots.cfgConfigurationChanged.set(EntryAs<CfgConfigurationChangedFn>(found[kChanged]));
  configSlots.cfgReloadConfiguration.set(EntryAs<CfgReloadConfigurationFn>(found[kReload]));
  configSlots.cfgGetNumberOfLogicalNames.set(EntryAs<CfgGetNumberOfLogicalNamesFn>(found[kCount]));
  configSlots.cfgGetNthLogicalName.set(NthName);
  configSlots.cfgGetLogicalNameVI.set(Text<&LibraryEntries::logicalNameVI>);
  configSlots.cfgGetVIDriver.set(Text<&LibraryEntries::viDriver>);
  configSlots.cfgGetDriverClass.set(Text<&LibraryEntries::driverClass>);
  configSlots.cfgGetDriverClassCount.set(EntryAs<CfgGetDriverClassCountFn>(found[kClassCount]));
  configSlots.cfgGetDriverClassByIndex.set(ClassByIndex);
  configSlots.cfgGetDriverPrefix.set(Text<&LibraryEntries::driverPrefix>);
  bound.store(true, std::memory_order_release);
  return 0;
}

bool IsConfigLibraryBound() {
  return bound.load(std::memory_order_acquire);
}

}  // namespace hx

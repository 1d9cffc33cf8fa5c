// The configuration source, on opt-in: a configuration library the user
// names (libvelmora's file store, or any library with its twelve entries),
// the store it opens for a null path, and the IVI master list of that
// store's logical names.
//
// configGate covers binding the library, filling its slots, the open store's
// handle and every call into the library, since the library takes no locks
// of its own and its callers must serialise. Whoever holds it sees the slots
// all filled or all empty.
//
// Its life, apart from the other sources:
// - bring-up: the source's own worker binds the library and opens the store
//   (a store may take a while to load: never on the host's thread, and never
//   holding up the instruments); a request in mode 1 starts it whenever the
//   source is not up, mode 0 when it has never failed or its rescan is due;
// - refresh: with the store open, modes 0 and 1 reload it and rebuild the
//   IVI list on the request's own thread, mode 0 only when the library
//   reports that the file changed, and only when the gate is free at once; a
//   refresh that could not be made (the gate busy, or the rebuild failed) is
//   owed to the next refreshing request, which makes a full one;
// - release: closes the store; the next refreshing request brings it up
//   again (the IVI list meanwhile stays as it was).
// Without the variable, nothing here loads or calls anything.
#ifndef VELMORA_PLUGIN_SOURCES_CONFIGURATION_H
#define VELMORA_PLUGIN_SOURCES_CONFIGURATION_H

#include <cstdint>

#include "plugin/common/thread_annotations.h"
#include "plugin/sources/entry_slot.h"
#include "plugin/sources/refresh.h"
#include "plugin/sources/release_gate.h"

namespace hx {

extern ReleaseGate configGate;

// Shapes of the configuration-library entries, as every caller passes them.
using CfgOpenIniFileFn = int32_t (*)(const char *path, void **handle);
using CfgCloseIniFileFn = int32_t (*)(void *handle, int32_t flag);
using CfgConfigurationChangedFn = int32_t (*)(void *handle, uint8_t *changed);
using CfgReloadConfigurationFn = int32_t (*)(void *handle);
using CfgGetNumberOfLogicalNamesFn = int32_t (*)(void *handle, int32_t *count);
using CfgGetNthLogicalNameFn = int32_t (*)(void *handle, uint32_t index, const char **name);
using CfgGetTextByNameFn = int32_t (*)(void *handle, const char *name, char *buffer, uint32_t size);
using CfgGetDriverClassCountFn = int32_t (*)(void *handle, const char *name, int32_t *count);
using CfgGetDriverClassByIndexFn = int32_t (*)(void *handle, const char *name, int32_t index,
                                               char *buffer, uint32_t size);

// The configuration library's slots: filled, and called through, under
// configGate.
struct ConfigSlots {
  EntrySlot<CfgOpenIniFileFn> cfgOpenIniFile;
  EntrySlot<CfgConfigurationChangedFn> cfgConfigurationChanged;
  EntrySlot<CfgReloadConfigurationFn> cfgReloadConfiguration;
  EntrySlot<CfgCloseIniFileFn> cfgCloseIniFile;
  EntrySlot<CfgGetNumberOfLogicalNamesFn> cfgGetNumberOfLogicalNames;
  EntrySlot<CfgGetNthLogicalNameFn> cfgGetNthLogicalName;
  EntrySlot<CfgGetTextByNameFn> cfgGetLogicalNameVI;
  EntrySlot<CfgGetTextByNameFn> cfgGetVIDriver;
  EntrySlot<CfgGetTextByNameFn> cfgGetDriverClass;
  EntrySlot<CfgGetDriverClassCountFn> cfgGetDriverClassCount;
  EntrySlot<CfgGetDriverClassByIndexFn> cfgGetDriverClassByIndex;
  EntrySlot<CfgGetTextByNameFn> cfgGetDriverPrefix;
};
extern ConfigSlots configSlots GUARDED_BY(configGate);

// The configuration library is bound on opt-in only: the environment
// variable below names it (a file name the dynamic loader searches for, or
// a path). Unset or empty, EnsureConfigLibrary does nothing and answers 0
// and IsConfigLibraryBound stays false. Set, EnsureConfigLibrary binds all
// twelve configuration entries once or none of them: a library or entry
// that cannot be had, or a library that is a host plug-in, leaves every slot
// empty, unloads what was opened, writes one trace line and answers
// kBindFailed; a later call tries again. A set-user-ID or set-group-ID host
// ignores the variable.
constexpr const char *kConfigLibraryVariable = "VELMORA_HX_CONFIG_LIBRARY";
int32_t EnsureConfigLibrary() REQUIRES(configGate);
bool IsConfigLibraryBound();

// The configuration library's handle of the open store (null: none).
void *GetConfigHandle() REQUIRES(configGate);
void SetConfigHandle(void *handle) REQUIRES(configGate);

// Opens the configuration library's default store into the handle, when
// none is open and cfgOpenIniFile is filled. Answers the library's status
// (0 when there was nothing to do); a store that cannot be opened leaves the
// handle null, so that the next attempt opens it once it is mended, and is
// named in one trace line with the library's status.
int32_t OpenDefaultConfiguration() REQUIRES(configGate);

// Rebuilds iviMasterList from the configuration library. A name whose
// n-th-name call fails is left out, unless it is the last, whose failure
// keeps the previous list whole; failures before the names keep it too.
// Answers 0 or the failing call's status.
int32_t BuildIviMasterList() REQUIRES(configGate);

// For a request: refreshes the source as the mode says (see above), never
// waiting for configGate. Answers whether the source's worker is bringing
// it up now (the result then searches, in the modes that search).
bool RefreshConfiguration(Refresh when) noexcept;

}  // namespace hx

#endif

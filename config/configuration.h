// The configuration object behind an IviIniHandle and the process-wide
// registry of open configurations through which every export validates its
// handle.
#ifndef VELMORA_CONFIG_CONFIGURATION_H
#define VELMORA_CONFIG_CONFIGURATION_H

#include <limits.h>
#include <stdint.h>

#include "config/backend.h"
#include "velmora/velmora.h"

namespace velmora {

// What loading a store produces. Reload prepares one of these beside the
// configuration's own and swaps it in only once it has loaded.
struct StoreState {
  StoreHandle store;                    // null while no store is held
  char path[kIviIniMaxPathLength + 1];  // empty: the store's default location
  // The file `path` named when the configuration was first loaded: a relative
  // path joined to the working folder of that moment, so that a later chdir
  // of the process neither moves the save nor the change test elsewhere.
  // Loading, saving and the change test all use it.
  char location[PATH_MAX];
  FileIdentity loaded;  // of the file as the store read it; meaningful when loadedKnown
  bool loadedKnown;     // false when the file could not be examined at the last load
};

}  // namespace velmora

// Completes the opaque type of the public header (which declares it outside
// any namespace). Allocated zero-filled, owned by the registry.
struct IniConfiguration {
  velmora::StoreState state;
  char nameBuffer[kIviIniNameBufferSize];     // answers of the n-th name calls
  char channelBuffer[kIviIniNameBufferSize];  // answers of IviIni_GetNthChannel
};

namespace velmora {

// True when h is one of the registered configurations; compares pointers only.
bool FindConfiguration(IviIniHandle h);

// Appends config to the registry; false (registry unchanged) when the array
// cannot grow.
bool RegisterConfiguration(IniConfiguration *config);

// Unregisters and frees config: 0, or kIviIniInvalidHandle when it is not
// registered.
int32_t RemoveConfiguration(IviIniHandle h);

// Read-only view of the registry for tests of the core.
int32_t RegistryCount();
IniConfiguration *const *RegistryEntries();

// Creates a store in state.store, resolves an empty path to the store's
// default location, fixes the location once, loads the file and records its
// identity. Answers the load's result; on failure no store is left held.
int32_t LoadStoreInto(StoreState &state);

}  // namespace velmora

#endif  // VELMORA_CONFIG_CONFIGURATION_H

// Opening, closing, change tracking and reloading of configurations.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/absolute_path.h"
#include "config/configuration.h"

namespace velmora {
namespace {

// Asks the store for a default location when the state has no path yet.
int32_t ResolveDefaultPath(StoreState &state, int32_t attribute) {
  if (state.path[0] != '\0') return kIviIniSuccess;
  const int32_t status = GetStoreString(state.store, attribute, kPathCapacity, state.path);
  state.path[kIviIniMaxPathLength] = '\0';  // whatever the store wrote, stay terminated
  return status;
}

// Fixes the file the path names (absolute_path.h); a relative path that
// cannot be fixed is refused rather than left relative.
int32_t Locate(StoreState &state) {
  return AbsolutePath(state.path, state.location, sizeof state.location);
}

// What the store read, from the descriptor it read; a back end that cannot
// tell gets the file as it is now.
void RecordIdentity(StoreState &state) {
  struct stat info;
  if (GetStoreFileIdentity(state.store, &state.loaded) >= 0) {
    state.loadedKnown = true;
  } else if (stat(state.location, &info) == 0) {
    state.loaded = IdentityOf(info);
    state.loadedKnown = true;
  } else {
    state.loadedKnown = false;
  }
}

}  // namespace

int32_t LoadStoreInto(StoreState &state) {
  int32_t status = CreateStore(&state.store);
  if (status >= 0) status = ResolveDefaultPath(state, kStoreDefaultLocation);
  if (status >= 0) status = ResolveDefaultPath(state, kStoreFallbackLocation);
  // A reload keeps the location of the first load, wherever the process is now.
  if (status >= 0 && state.location[0] == '\0') status = Locate(state);
  if (status >= 0) status = LoadStore(state.store, state.location);
  if (status < 0) {
    if (state.store != nullptr) ReleaseStore(state.store);
    state.store = nullptr;
    return status;
  }
  // A file we cannot examine still loads; it then reads as changed later.
  RecordIdentity(state);
  return status;
}

namespace {

int32_t Open(const char *path, IviIniHandle *handle) {
  if (handle == nullptr) return kIviIniNullPointer;
  // strnlen keeps an unterminated or huge path from being scanned past the limit.
  const size_t length = path != nullptr ? strnlen(path, kIviIniMaxPathLength + 1) : 0;
  if (length > kIviIniMaxPathLength) return kIviIniPathTooLong;

  auto *config = static_cast<IniConfiguration *>(calloc(1, sizeof(IniConfiguration)));
  if (config == nullptr) {
    *handle = nullptr;
    return kIviIniOutOfMemory;
  }
  if (!RegisterConfiguration(config)) {
    free(config);
    *handle = nullptr;
    return kIviIniOutOfMemory;
  }
  memcpy(config->state.path, path != nullptr ? path : "", length);

  const int32_t status = LoadStoreInto(config->state);
  if (status < 0) {
    RemoveConfiguration(config);
    *handle = nullptr;
    return status;
  }
  *handle = config;
  return status;
}

int32_t Close(IviIniHandle h, bool save) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  int32_t status = kIviIniSuccess;
  if (save) {
    status = SaveStore(h->state.store, h->state.location);
    // The configuration stays open so the caller can retry or drop the changes.
    if (status < 0) return status;
  }
  if (h->state.store != nullptr) ReleaseStore(h->state.store);
  h->state.store = nullptr;
  RemoveConfiguration(h);
  return status;
}

int32_t Changed(IviIniHandle h, uint8_t *changed) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  if (changed == nullptr) return kIviIniNullPointer;
  if (h->state.path[0] == '\0') {
    *changed = 0;
    return kIviIniSuccess;
  }
  // One stat: a vanished file, or one unknown at load, reads as changed.
  struct stat info;
  const bool same = h->state.loadedKnown && stat(h->state.location, &info) == 0 &&
                    SameIdentity(IdentityOf(info), h->state.loaded);
  *changed = same ? 0 : 1;
  return kIviIniSuccess;
}

int32_t Reload(IviIniHandle h) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  // The old store goes only once the new one has loaded, so a failed reload
  // leaves the configuration as it was.
  StoreState fresh = h->state;
  fresh.store = nullptr;
  const int32_t status = LoadStoreInto(fresh);
  if (status < 0) return status;
  if (h->state.store == nullptr) {
    ReleaseStore(fresh.store);
    return kIviIniNoStore;
  }
  ReleaseStore(h->state.store);
  h->state = fresh;
  return kIviIniSuccess;
}

}  // namespace
}  // namespace velmora

extern "C" {

int32_t IviIni_OpenIniFile(const char *path, IviIniHandle *handle) {
  return velmora::Open(path, handle);
}

int32_t IviIni_CloseIniFile(IviIniHandle h, uint8_t save) {
  return velmora::Close(h, save != 0);
}

int32_t IviIni_ConfigurationChanged(IviIniHandle h, uint8_t *changed) {
  return velmora::Changed(h, changed);
}

int32_t IviIni_ReloadConfiguration(IviIniHandle h) {
  return velmora::Reload(h);
}

}  // extern "C"

// Opening, closing, change tracking and reloading of configurations.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

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

}  // namespace

int32_t LoadStoreInto(StoreState &state) {
  int32_t status = CreateStore(&state.store);
  if (status >= 0) status = ResolveDefaultPath(state, kStoreDefaultLocation);
  if (status >= 0) status = ResolveDefaultPath(state, kStoreFallbackLocation);
  if (status >= 0) status = LoadStore(state.store, state.path);
  if (status < 0) {
    if (state.store != nullptr) ReleaseStore(state.store);
    state.store = nullptr;
    return status;
  }
  // A file we cannot examine still loads; it then reads as changed later.
  struct stat info;
  state.modified = stat(state.path, &info) == 0 ? info.st_mtime : 0;
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
    status = SaveStore(h->state.store, h->state.path);
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
  // A vanished file gets -1, which no recorded time equals: it reads as changed.
  struct stat info;
  const time_t now = stat(h->state.path, &info) == 0 ? info.st_mtime : -1;
  *changed = difftime(now, h->state.modified) != 0.0 ? 1 : 0;
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

// The registry of open configurations: an array of exactly `count` pointers
// in order of opening. It grows by one slot per open, never shrinks on
// removal, and is freed once the last configuration leaves. No locks: callers
// serialise.
#include <stdlib.h>
#include <string.h>

#include "config/configuration.h"

namespace velmora {
namespace {

int32_t g_count = 0;
IniConfiguration **g_entries = nullptr;

// Index of h in the registry, or -1. Never dereferences h.
int32_t IndexOf(IviIniHandle h) {
  for (int32_t i = 0; i < g_count; ++i) {
    if (g_entries[i] == h) return i;
  }
  return -1;
}

}  // namespace

bool FindConfiguration(IviIniHandle h) {
  return IndexOf(h) >= 0;
}

bool RegisterConfiguration(IniConfiguration *config) {
  const size_t slots = static_cast<size_t>(g_count) + 1;
  void *grown = realloc(g_entries, slots * sizeof *g_entries);
  if (grown == nullptr) return false;
  g_entries = static_cast<IniConfiguration **>(grown);
  g_entries[g_count++] = config;
  return true;
}

int32_t RemoveConfiguration(IviIniHandle h) {
  if (g_count == 0) {
    free(g_entries);
    g_entries = nullptr;
    return kIviIniInvalidHandle;
  }
  if (g_count < 0) return kIviIniInvalidHandle;
  const int32_t index = IndexOf(h);
  if (index < 0) return kIviIniInvalidHandle;

  free(g_entries[index]);
  const size_t following = static_cast<size_t>(g_count - index - 1);
  memmove(&g_entries[index], &g_entries[index + 1], following * sizeof *g_entries);
  if (--g_count == 0) {
    free(g_entries);
    g_entries = nullptr;
  }
  return kIviIniSuccess;
}

int32_t RegistryCount() {
  return g_count;
}

IniConfiguration *const *RegistryEntries() {
  return g_entries;
}

}  // namespace velmora

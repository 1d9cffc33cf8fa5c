#include "plugin/sources/library_binding.h"

#include <dlfcn.h>
#include <stdlib.h>

#include "plugin/common/status.h"
#include "support/dynload.h"
#include "support/trace.h"
#include "velmora/velmora_hx.h"

namespace hx {
namespace {

// The name-list entry every host plug-in exports.
constexpr const char *kPluginEntry = "GetIOControlNames";

// The start of the object that holds `address`, or null.
const void *ObjectOf(const void *address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

// Whether the opened library is a host plug-in, or its first bound entry is
// this plug-in's own (the library is this very plug-in, opened again).
bool IsPlugin(void *handle, void *firstEntry) {
  dlerror();
  if (dlsym(handle, kPluginEntry) != nullptr) return true;
  const void *own = ObjectOf(reinterpret_cast<const void *>(&GetIOControlNames));
  return own != nullptr && ObjectOf(firstEntry) == own;
}

}  // namespace

const char *OptInSetting(const char *variable) {
  const char *value = secure_getenv(variable);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

bool BindAllOrNone(const LibrarySpec &library, const char *const *symbols, void **addresses,
                   std::size_t count) {
  if (count == 0 || count > kMaxBoundEntries) return false;
  void *found[kMaxBoundEntries] = {};
  ScopedStatusRecord record;
  void *handle = qxdynlib_load(library.name, library.mode, record.get());
  // A null handle would make every look-up a process-wide one, so it counts
  // as a failure whatever the record says.
  for (std::size_t i = 0; i < count && handle != nullptr && !record.failed(); ++i) {
    found[i] = qxdynlib_symbol(handle, symbols[i], record.get());
  }
  // The loader stops at the first failure, and its record names it: the
  // library that would not open, or the entry that is missing.
  const bool bound = handle != nullptr && !record.failed();
  const bool plugin = bound && library.refusePlugins && IsPlugin(handle, found[0]);
  if (!bound || plugin) {
    if (handle != nullptr) qxdynlib_unload(handle);
    if (library.traced != nullptr && plugin) {
      qxsdbg_Trace(kTraceLevel, "%s %s not bound: it is a host plug-in, not a library\n",
                   library.traced, library.name);
    } else if (library.traced != nullptr) {
      qxsdbg_Trace(kTraceLevel, "%s %s not bound: %s\n", library.traced, library.name,
                   record.text());
    }
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) addresses[i] = found[i];
  return true;
}

}  // namespace hx

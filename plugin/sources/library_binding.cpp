#include "plugin/sources/library_binding.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <vector>

#include "plugin/common/status.h"
#include "support/dynload.h"
#include "support/trace.h"

namespace hx {

const char *OptInSetting(const char *variable) {
  const char *library = secure_getenv(variable);
  return library != nullptr && library[0] != '\0' ? library : nullptr;
}

bool BindAllOrNone(const char *what, const char *library, const char *const *symbols,
                   void **addresses, std::size_t count) {
  ScopedStatusRecord record;
  void *handle = qxdynlib_load(library, RTLD_NOW | RTLD_LOCAL, record.get());
  std::vector<void *> found(count, nullptr);
  for (std::size_t i = 0; i < count && handle != nullptr && !record.failed(); ++i) {
    found[i] = qxdynlib_symbol(handle, symbols[i], record.get());
  }
  // The loader stops at the first failure, and its record names it: the
  // library that would not open, or the entry that is missing.
  if (handle == nullptr || record.failed()) {
    if (handle != nullptr) qxdynlib_unload(handle);
    qxsdbg_Trace(kTraceLevel, "%s %s not bound: %s\n", what, library, record.text());
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) addresses[i] = found[i];
  return true;
}

}  // namespace hx

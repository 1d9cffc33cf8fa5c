// Binding an outside library through the in-house loader: the status record
// that carries a binding's failure, and the all-or-none binding of the
// libraries a user names on opt-in (the configuration and VISA libraries).
#ifndef VELMORA_PLUGIN_LIBRARY_BINDING_H
#define VELMORA_PLUGIN_LIBRARY_BINDING_H

#include <cstddef>

#include "support/status_record.h"

namespace hx {

// Owns a status record for the length of one binding.
class ScopedStatusRecord {
 public:
  ScopedStatusRecord() : record_(status_record_make()) {}
  ~ScopedStatusRecord() { status_release(&record_); }
  ScopedStatusRecord(const ScopedStatusRecord &) = delete;
  ScopedStatusRecord &operator=(const ScopedStatusRecord &) = delete;

  StatusRecord *get() { return &record_; }
  bool failed() const { return record_.code < 0; }
  // The record's JSON text, or "{}" when it has none.
  const char *text() const { return record_.json != nullptr ? record_.json : "{}"; }

 private:
  StatusRecord record_;
};

// The value of an opt-in setting's environment variable (the library to
// bind, say), or null when the variable is unset or empty. A set-user-ID or
// set-group-ID process gets null: it must never load a library, or take a
// setting, that an unprivileged user named.
const char *OptInSetting(const char *variable);

// Opens `library` with RTLD_NOW | RTLD_LOCAL and looks up the `count`
// symbols, all or none. On success addresses[i] receives the address of
// symbols[i] and the library stays loaded for good. On failure no address
// is written, the library is unloaded again, one trace line names `what`,
// the library and the loader's failure record, and false is answered.
bool BindAllOrNone(const char *what, const char *library, const char *const *symbols,
                   void **addresses, std::size_t count);

// An entry's address as the function type it has.
template <class Fn>
Fn EntryAs(void *address) {
  return reinterpret_cast<Fn>(address);
}

}  // namespace hx

#endif

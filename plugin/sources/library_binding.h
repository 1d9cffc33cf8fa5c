// Binding an outside library through the in-house loader: the status record
// that carries a binding's failure, and the one all-or-none binding that all
// three libraries go through: the discovery library, and the configuration
// and VISA libraries a user names on opt-in.
#ifndef VELMORA_PLUGIN_SOURCES_LIBRARY_BINDING_H
#define VELMORA_PLUGIN_SOURCES_LIBRARY_BINDING_H

#include <cstddef>
#include <cstdint>

#include "support/status_record.h"

namespace hx {

// Owns a status record for the length of one binding. Making it allocates
// nothing; the loader allocates the record's text only when it fails.
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

// Answer of a binding step (BindModInstLibrary, EnsureConfigLibrary,
// EnsureVisaLibrary) when the library or one of its entries cannot be bound.
constexpr int32_t kBindFailed = -1;

// The most entries one library is bound with.
constexpr std::size_t kMaxBoundEntries = 12;

// A library to bind: how it is named and opened, and what a failure says.
struct LibrarySpec {
  const char *name;  // file name the loader searches for, or a path
  int mode;          // dlopen mode
  // Trace line prefix of a failure ("configuration library"), or null for a
  // binding whose failure is silent (the discovery library's).
  const char *traced;
  // Refuse a library that is a host plug-in (this one, or a copy of it): its
  // entries would call back into a plug-in, which would wait for itself.
  bool refusePlugins;
};

// Opens the library and looks up the `count` symbols (at most
// kMaxBoundEntries), all or none, stopping at the first that is missing. On
// success addresses[i] receives the address of symbols[i] and the library
// stays loaded for good. On failure no address is written, the library is
// unloaded again, a traced binding writes one trace line naming the library
// and the loader's failure record (or why it was refused), and false is
// answered. Nothing is allocated between opening the library and unloading
// it on failure.
bool BindAllOrNone(const LibrarySpec &library, const char *const *symbols, void **addresses,
                   std::size_t count);

// An entry's address as the function type it has.
template <class Fn>
Fn EntryAs(void *address) {
  return reinterpret_cast<Fn>(address);
}

}  // namespace hx

#endif

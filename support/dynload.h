// qxdynlib: opens shared libraries and looks up their symbols through the
// dynamic linker, recording every failure in the caller's StatusRecord.
//
// A call on a record that already holds an error (negative code) does
// nothing and gives null, so a caller can pass one record through a chain of
// loads and lookups and test its code once at the end. On failure the record
// takes kQxDynlibFailure and a JSON text naming the operation, the library or
// symbol, and the dynamic linker's message; the calling thread's dlerror
// state is clear when the call returns. Success leaves the record untouched.
//
// Stateless and thread-safe; a record must not be shared between threads.
#ifndef VELMORA_SUPPORT_DYNLOAD_H
#define VELMORA_SUPPORT_DYNLOAD_H

#include <cstdint>

#include "support/status_record.h"

// Status code of every loader failure.
inline constexpr std::int32_t kQxDynlibFailure = -52005;

// dlopen(name, mode); name and mode go to the dynamic linker unchanged.
// Gives the library handle, or null on failure or when record is null or
// already holds an error (then dlopen is not called).
void *qxdynlib_load(const char *name, std::int32_t mode, StatusRecord *record) noexcept;

// dlsym(handle, symbol); a null address counts as a failure, also for a
// symbol whose value is null. A null symbol name is recorded as a failure
// with the empty name, without asking the dynamic linker.
void *qxdynlib_symbol(void *handle, const char *symbol, StatusRecord *record) noexcept;

// dlclose(handle), result ignored. Touches no record.
void qxdynlib_unload(void *handle) noexcept;

#endif  // VELMORA_SUPPORT_DYNLOAD_H

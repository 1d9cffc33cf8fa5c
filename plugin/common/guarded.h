// Keeps exceptions from crossing the plug-in's C interface.
#ifndef VELMORA_PLUGIN_GUARDED_H
#define VELMORA_PLUGIN_GUARDED_H

#include <cstdint>
#include <new>

namespace hx {

// Runs body and answers its status. Running out of memory answers
// outOfMemory, any other exception answers otherFailure: the host, a C
// program, must never see an exception.
template <class Body>
int32_t Guarded(int32_t outOfMemory, int32_t otherFailure, Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return outOfMemory;
  } catch (...) {
    return otherFailure;
  }
}

template <class Body>
int32_t Guarded(int32_t failure, Body &&body) noexcept {
  return Guarded(failure, failure, static_cast<Body &&>(body));
}

}  // namespace hx

#endif

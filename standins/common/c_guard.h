// Keeps C++ exceptions inside the stand-ins: every exported C function runs
// its body through Guarded, which turns any exception (in practice a failed
// allocation in a table) into the failure value the caller expects.
#ifndef STANDINS_COMMON_C_GUARD_H
#define STANDINS_COMMON_C_GUARD_H

namespace standins {

template <typename Result, typename Body>
Result Guarded(Result onException, Body &&body) noexcept {
  try {
    return body();
  } catch (...) {
    return onException;
  }
}

// For functions without a result.
template <typename Body>
void Guarded(Body &&body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace standins

#endif

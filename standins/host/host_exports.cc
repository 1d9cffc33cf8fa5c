// The host functions that libvelmora_hx.so imports. Each one forwards to the
// host object; an exception (memory exhaustion in a table) becomes the host's
// out-of-memory status instead of crossing into the plug-in.

// Declared with default visibility (the build hides everything else), so that
// the version script can export exactly these names.
#pragma GCC visibility push(default)
#include "host_api.h"
#pragma GCC visibility pop

#include <atomic>
#include <chrono>
#include <cstdint>

#include "c_guard.h"
#include "host_state.h"
#include "hxhost_standin.h"

using hxhost::Host;
using standins::Guarded;

namespace {

std::atomic<bool> timing{false};
std::atomic<int64_t> timedNanoseconds{0};
std::atomic<int64_t> timedCalls{0};

// Adds the time of one host call to the account while timing is on; one
// relaxed load otherwise.
class CallTimer {
 public:
  CallTimer() : on_(timing.load(std::memory_order_relaxed)) {
    if (on_) start_ = std::chrono::steady_clock::now();
  }
  ~CallTimer() {
    if (!on_) return;
    const auto spent = std::chrono::steady_clock::now() - start_;
    timedNanoseconds.fetch_add(
        std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count(),
        std::memory_order_relaxed);
    timedCalls.fetch_add(1, std::memory_order_relaxed);
  }
  CallTimer(const CallTimer &) = delete;
  CallTimer &operator=(const CallTimer &) = delete;

 private:
  bool on_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace

extern "C" {

void hxhost_timing(int enabled) {
  if (enabled != 0) {
    timedNanoseconds.store(0, std::memory_order_relaxed);
    timedCalls.store(0, std::memory_order_relaxed);
  }
  timing.store(enabled != 0, std::memory_order_relaxed);
}

int64_t hxhost_timed_nanoseconds(void) { return timedNanoseconds.load(std::memory_order_relaxed); }
int64_t hxhost_timed_calls(void) { return timedCalls.load(std::memory_order_relaxed); }

HxHandle DSNewHandle(size_t size) {
  const CallTimer timer;
  return Guarded<HxHandle>(nullptr, [&] { return Host::Instance().NewHandle(size, false); });
}

HxHandle DSNewHClr(size_t size) {
  const CallTimer timer;
  return Guarded<HxHandle>(nullptr, [&] { return Host::Instance().NewHandle(size, true); });
}

MgErr DSDisposeHandle(HxHandle h) {
  const CallTimer timer;
  return Guarded<MgErr>(kHostOutOfMemory, [&] { return Host::Instance().DisposeHandle(h); });
}

int32_t PStrCmp(ConstPStr a, ConstPStr b) {
  const CallTimer timer;
  return Guarded<int32_t>(1, [&] { return Host::Instance().CompareStrings(a, b); });
}

MgErr HxVariantPStrGetUI32Attr(HxVariantRef *var, ConstPStr name, uint32_t *value) {
  const CallTimer timer;
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().GetU32(var, name, value); });
}

MgErr HxVariantPStrGetStringAttr(HxVariantRef *var, ConstPStr name, HxHandle *longString) {
  const CallTimer timer;
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().GetString(var, name, longString); });
}

MgErr HxVariantPStrSetUI32Attr(HxVariantRef *slot, ConstPStr name, uint32_t value) {
  const CallTimer timer;
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().SetU32(slot, name, value); });
}

MgErr HxVariantPStrSetStringAttr(HxVariantRef *slot, ConstPStr name, HxHandle longString) {
  const CallTimer timer;
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().SetString(slot, name, longString); });
}

MgErr GetIOControlOpenSessionsEx(uint32_t appContext, ConstPStr ioClass, HxVariantRef properties,
                                 int32_t one, HxHandle *sessions) {
  const CallTimer timer;
  return Guarded<MgErr>(kHostOutOfMemory, [&] {
    return Host::Instance().OpenSessions(appContext, ioClass, properties, one, sessions);
  });
}

}  // extern "C"

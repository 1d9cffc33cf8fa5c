// Interposes time() for the whole test process, so that the plug-in's
// 20-second throttle can be crossed without waiting: the plug-in resolves
// time() against the executable first. The clock is the real wall clock plus
// an offset that tests move forward.
#include <time.h>

#include <atomic>
#include <cstdint>

#include "plugin_harness.h"

namespace {
std::atomic<int64_t> offsetSeconds{0};
}

void AdvanceFakeClock(int64_t seconds) { offsetSeconds.fetch_add(seconds); }

extern "C" __attribute__((visibility("default"))) time_t time(time_t *out) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const auto value = static_cast<time_t>(now.tv_sec + offsetSeconds.load());
  if (out != nullptr) *out = value;
  return value;
}

// Interposes time() for the whole test process, so that the plug-in's
// 20-second throttle can be crossed without waiting: the plug-in resolves
// time() against the executable first. The clock is the real wall clock plus
// an offset that tests move forward, or, once frozen, a fixed reading plus
// that offset.
#include <time.h>

#include <atomic>
#include <cstdint>

#include "plugin_harness.h"

namespace {
std::atomic<int64_t> offsetSeconds{0};
// 0 while the clock runs; the frozen wall-clock reading otherwise.
std::atomic<int64_t> frozenAt{0};

int64_t WallClockSeconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec);
}
}  // namespace

void AdvanceFakeClock(int64_t seconds) {
  offsetSeconds.fetch_add(seconds);
}

void FreezeFakeClock() {
  int64_t running = 0;
  frozenAt.compare_exchange_strong(running, WallClockSeconds());
}

extern "C" __attribute__((visibility("default"))) time_t time(time_t *out) {
  const int64_t frozen = frozenAt.load();
  const int64_t base = frozen != 0 ? frozen : WallClockSeconds();
  const auto value = static_cast<time_t>(base + offsetSeconds.load());
  if (out != nullptr) *out = value;
  return value;
}

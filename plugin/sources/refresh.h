// What every source shares about refreshing: when a request asks for it,
// and how often a source that cannot report its own changes is looked at
// again.
#ifndef VELMORA_PLUGIN_SOURCES_REFRESH_H
#define VELMORA_PLUGIN_SOURCES_REFRESH_H

#include <cstdint>
#include <ctime>

namespace hx {

// When a request refreshes a source.
enum class Refresh : uint8_t {
  kNever,
  kWhenChanged,  // when the source reports a change, or its rescan is due
  kAlways,
};

// The one interval of the plug-in's rescans: the discovery worker restarts
// in mode 0 only when more than this many seconds passed since its previous
// run started; a VISA listing older than this counts as changed (VISA has no
// change report); an opt-in library or store that could not be had is tried
// again by mode 0 after this long (mode 1 tries at once).
constexpr int64_t kRescanSeconds = 20;

// Wall-clock seconds, as time() gives them (a test may move that clock).
inline int64_t NowSeconds() {
  return static_cast<int64_t>(time(nullptr));
}

// Whether more than kRescanSeconds passed since `since` (signed 64-bit
// arithmetic: exactly 20 is not enough).
inline bool RescanDue(int64_t since) {
  return NowSeconds() - since > kRescanSeconds;
}

}  // namespace hx

#endif

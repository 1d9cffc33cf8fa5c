// A session's channels (channels.h) and the two exports over them, which
// answer 0 whatever happens, as their callers expect; failures show only in
// what is (not) written.
#include "config/channels.h"

#include <stdio.h>
#include <string.h>

#include "config/configuration.h"
#include "config/object_guard.h"

namespace velmora {
namespace {

// The session item called `name`; its collection is released at once.
int32_t FindSession(StoreHandle store, const char *name, ObjectGuard &session) {
  ObjectGuard sessions;
  return FindNamedItem(SessionOps, store, name, sessions, session);
}

// One channel entry with its range collection open. Members release in
// reverse order: the ranges, then the entry.
struct OpenEntry {
  ObjectGuard entry;
  ObjectGuard ranges;
  int32_t rangeCount = 0;
};

// Reads range j's bounds; both start at 0 in case the store leaves one unset.
int32_t ReadRange(ObjectHandle ranges, int32_t j, int64_t &low, int64_t &high) {
  ObjectGuard range;
  int32_t lowValue = 0, highValue = 0;
  int32_t status = GetRange(ranges, j, range.out());
  if (status >= 0) status = GetRangeInteger(range.get(), kRangeLow, &lowValue);
  if (status >= 0) status = GetRangeInteger(range.get(), kRangeHigh, &highValue);
  low = lowValue;
  high = highValue;
  return status;
}

// Opens the session's channel entries and hands each one, with its ranges
// counted, to visit(entry, stop) until visit fails or sets stop.
template <typename Visit>
int32_t WalkChannelEntries(StoreHandle store, const char *session, Visit visit) {
  ObjectGuard sessionItem, entries;
  int32_t status = FindSession(store, session, sessionItem);
  if (status >= 0) status = GetChannelEntries(sessionItem.get(), entries.out());
  int32_t entryCount = 0;
  if (status >= 0) status = CountChannelEntries(entries.get(), &entryCount);
  bool stop = false;
  for (int32_t i = 1; status >= 0 && !stop && i <= entryCount; ++i) {
    OpenEntry entry;
    status = GetChannelEntry(entries.get(), i, entry.entry.out());
    if (status >= 0) status = GetEntryRanges(entry.entry.get(), entry.ranges.out());
    if (status >= 0) status = CountRanges(entry.ranges.get(), &entry.rangeCount);
    if (status >= 0) status = visit(entry, stop);
  }
  return status;
}

// Adds without overflowing: a store may describe ranges wider than a 32-bit
// count can hold.
int32_t ClampedSum(int32_t count, int64_t share) {
  const int64_t sum = count + share;
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}

}  // namespace

int32_t CountSessionChannels(StoreHandle store, const char *session, int32_t *count) {
  // Each entry's share is added only once the entry was read completely, so
  // a failure keeps the shares of the entries before it.
  return WalkChannelEntries(store, session, [count](OpenEntry &entry, bool &) {
    int64_t share = entry.rangeCount == 0 ? 1 : 0;
    for (int32_t j = 1; j <= entry.rangeCount; ++j) {
      int64_t low, high;
      const int32_t status = ReadRange(entry.ranges.get(), j, low, high);
      if (status < 0) return status;
      share += high - low + 1;
    }
    *count = ClampedSum(*count, share);
    return static_cast<int32_t>(kIviIniSuccess);
  });
}

namespace {

// Writes the entry's name into `out`, leaving room for `suffix`, then the
// suffix.
int32_t ReadChannelName(ObjectHandle entry, const char *suffix, char *out) {
  const size_t suffixLength = strlen(suffix);
  const int32_t capacity = kIviIniNameBufferSize - static_cast<int32_t>(suffixLength);
  const int32_t status = GetEntryString(entry, kPropertyName, capacity, out);
  if (status < 0) return status;
  out[capacity - 1] = '\0';
  memcpy(out + strlen(out), suffix, suffixLength + 1);
  return status;
}

}  // namespace

int32_t NameSessionChannel(StoreHandle store, const char *session, int32_t index, char *out) {
  // Channels count from 1: no channel answers a lower index.
  if (index < 1) return 0;
  int64_t total = 0;
  bool named = false;
  const int32_t status = WalkChannelEntries(store, session, [&](OpenEntry &entry, bool &stop) {
    int32_t result = kIviIniSuccess;
    if (entry.rangeCount == 0 && ++total == index) {
      result = ReadChannelName(entry.entry.get(), "", out);
      named = result >= 0;
    }
    for (int32_t j = 1; j <= entry.rangeCount && total < index; ++j) {
      const int64_t remainder = index - total;
      int64_t low, high;
      result = ReadRange(entry.ranges.get(), j, low, high);
      if (result < 0) return result;
      total += high - low + 1;
      if (remainder <= high - low + 1) {
        // remainder >= 1 here, so the number lies within [low, high].
        char number[16];
        snprintf(number, sizeof number, "%d", static_cast<int32_t>(remainder + low - 1));
        result = ReadChannelName(entry.entry.get(), number, out);
        named = result >= 0;
        if (result < 0) return result;
      }
    }
    stop = total >= index;
    return result;
  });
  if (status < 0) return status;
  return named ? 1 : 0;
}

namespace {

void CountChannels(IviIniHandle h, const char *session, int32_t *count) {
  if (!FindConfiguration(h) || count == nullptr) return;
  CountSessionChannels(h->state.store, session, count);
}

void NthChannel(IviIniHandle h, const char *session, int32_t index, const char **name) {
  if (!FindConfiguration(h) || name == nullptr) return;
  // Past the last channel nothing was named: leave the caller's pointer be
  // rather than hand out whatever the buffer held before.
  if (NameSessionChannel(h->state.store, session, index, h->channelBuffer) == 1) {
    *name = h->channelBuffer;
  }
}

}  // namespace
}  // namespace velmora

extern "C" {

int32_t IviIni_GetNumberOfChannels(IviIniHandle h, const char *session, int32_t *count) {
  velmora::CountChannels(h, session, count);
  return kIviIniSuccess;
}

int32_t IviIni_GetNthChannel(IviIniHandle h, const char *session, int32_t index,
                             const char **name) {
  velmora::NthChannel(h, session, index, name);
  return kIviIniSuccess;
}

}  // extern "C"

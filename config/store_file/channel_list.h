// The Channels value of a session: entries in order, separated by commas,
// each `NAME` or `NAME[r, r, ...]` where r is `low..high` or one integer.
// "CH[1..4], TRIG, B[1..2, 5], C[-1..0]" gives CH1..CH4, TRIG, B1, B2, B5,
// C-1 and C0.
#ifndef VELMORA_CONFIG_STORE_FILE_CHANNEL_LIST_H
#define VELMORA_CONFIG_STORE_FILE_CHANNEL_LIST_H

#include <stdint.h>

#include "config/store_file/growable_array.h"
#include "config/store_file/store_types.h"

namespace velmora {
namespace store {

// Parses `text` (the value at `where` in the store) and appends its entries
// and their ranges; with both arrays null it only checks the text. Answers 0,
// kIviIniStoreBadChannels with `problem` set, or kIviIniOutOfMemory. Entry
// names are spans of the value, blanks trimmed.
int32_t ParseChannelList(const char *text, uint32_t length, Str where,
                         GrowableArray<ChannelEntry> *entries, GrowableArray<Range> *ranges,
                         const char **problem);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_CHANNEL_LIST_H

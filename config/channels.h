// A session's channels, derived from its channel entries: an entry without
// index ranges is one channel named like the entry; an entry with ranges has
// one channel per integer of each range, named by the entry's name followed
// by the integer. Channels are numbered from 1 in entry, range and integer
// order. The two channel exports answer with these, and so do velmora-store,
// the tests and the fuzzer: the expansion has this one home.
#ifndef VELMORA_CONFIG_CHANNELS_H
#define VELMORA_CONFIG_CHANNELS_H

#include <stdint.h>

#include "config/backend.h"

namespace velmora {

// Adds the number of the session's channels to *count, entry by entry: an
// entry's share is added once it was read whole. Answers 0, or the status of
// the first store operation that failed.
int32_t CountSessionChannels(StoreHandle store, const char *session, int32_t *count);

// Writes the session's index-th channel name (from 1) to `name`, a buffer of
// kIviIniNameBufferSize bytes. Answers 1 when a channel was named, 0 when
// none has that index, or the status of the first store operation that
// failed (the buffer may then hold part of a name).
int32_t NameSessionChannel(StoreHandle store, const char *session, int32_t index, char *name);

}  // namespace velmora

#endif  // VELMORA_CONFIG_CHANNELS_H

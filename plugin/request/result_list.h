// Turns a request's sorted lists into the host handle that GetIOControlNames
// hands back.
//
// Layout of the result: one entry per name of M (with "g" 1123 on open
// sessions), a separator after M when it is not empty, the same for V, then,
// while searching, the "<Searching for more>" marker (the entry before it
// gets "id" 6) and a separator after it, and two tail entries with "id" 3 and
// 2. The block is allocated once at its final size.
#ifndef VELMORA_PLUGIN_RESULT_LIST_H
#define VELMORA_PLUGIN_RESULT_LIST_H

#include <cstddef>
#include <cstdint>

#include "plugin/host/host_api.h"
#include "plugin/request/listing.h"

namespace hx {

inline constexpr const char *kSearchingMarker = "<Searching for more>";

// Number of entries the result of M, V and `searching` holds.
size_t ResultEntryCount(size_t nameCount, size_t resourceCount, bool searching);

// Allocates the result, stores it at *names at once (null when it cannot be
// allocated) and fills it. Answers 0; 6 when memory ran out (in the plug-in
// or a host answer of 2); 7 when another host call failed. On failure the
// handle stays at *names with count 0.
int32_t BuildNameListHandle(HxHandle *names, const Listing &m, const Listing &v, bool searching);

// Writes the names of `list` into consecutive entries of *names from
// `index`. Answers 2 when the temporary string cannot be allocated, otherwise
// the host's status of disposing of it.
MgErr AppendResourceEntries(const Listing &list, HxHandle *names, size_t index);

}  // namespace hx

#endif

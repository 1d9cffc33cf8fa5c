// The sessions the host holds open under class "IVI".
#ifndef VELMORA_PLUGIN_SESSIONS_H
#define VELMORA_PLUGIN_SESSIONS_H

#include <cstdint>

#include "plugin/lists/entries.h"
#include "plugin/request/filters.h"
#include "plugin/host/host_api.h"
#include "plugin/lists/snapshot.h"

namespace hx {

// Asks the host for its open IVI sessions and hands them out as entries, each
// with sessionOpen set and, when the name it was opened from ("orig") is in
// iviList, modInstrList or visaList, the class and prefix of that entry
// (of the one the list's builder found first, when several have that name
// ignoring case). Matched name sessions and VISA sessions pass the control's
// filters into nameOut and resourceOut; sessions that matched nothing are
// appended to nameOut unfiltered.
//
// The entries of the last completed run are kept, so that a host answer of 1
// ("nothing changed") reuses them; nameOut and resourceOut point into them
// and stay valid until the next call. Answers 0; 6 or 7 when the last
// session's attributes could not be read (out of memory, or another host
// failure; nothing is handed out or kept then); or the host's failing status
// of the query, passed on unchanged.
//
// Called only by the request, which is serialised: the kept lists belong to
// the request holding the request lock, until it has built its result.
int32_t MergeOpenSessions(uint32_t appContext, const NameSnapshot &iviList,
                          const NameSnapshot &modInstrList, const ResourceSnapshot &visaList,
                          NameView &nameOut, ResourceView &resourceOut, HxVariantRef properties);

}  // namespace hx

#endif

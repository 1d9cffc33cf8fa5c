// The VISA source, on opt-in: a VISA library the user names, its default
// resource manager, and the VISA master list of the resources that match the
// search expression.
//
// visaGate covers binding the library, the resource manager and every find
// list, and every call through the VISA slots.
//
// Its life, apart from the other sources: everything slow (binding, opening
// the resource manager, finding) runs on the VISA worker, which a request in
// mode 1 starts, and mode 0 once the listing is older than the rescan
// interval (VISA reports no changes; a binding or an open that failed is
// tried again on the same clock). A release closes the resource manager; the
// list stays as it was, and the next run opens a new one.
// Without the variable, nothing here loads or calls anything.
#ifndef VELMORA_PLUGIN_SOURCES_VISA_H
#define VELMORA_PLUGIN_SOURCES_VISA_H

#include <cstdint>

#include "plugin/common/thread_annotations.h"
#include "plugin/sources/entry_slot.h"
#include "plugin/sources/refresh.h"
#include "plugin/sources/release_gate.h"

namespace hx {

extern ReleaseGate visaGate;

// Shapes of the VISA slots: the find-list protocol the plug-in's adapters
// speak over the library's entries.
using VisaGetNumberOfVisaNamesFn = int32_t (*)(int32_t *count, char *buffer, uint32_t *list);
using VisaGetNextVisaNameFn = int32_t (*)(uint32_t list, char *buffer);
using VisaCloseVisaNameListFn = int32_t (*)(uint32_t list);
using VisaResourcesChangedFn = int32_t (*)(uint16_t *changed);

// The VISA slots: filled, and called through, under visaGate.
struct VisaSlots {
  EntrySlot<VisaGetNumberOfVisaNamesFn> visaGetNumberOfVisaNames;
  EntrySlot<VisaGetNextVisaNameFn> visaGetNextVisaName;
  EntrySlot<VisaCloseVisaNameListFn> visaCloseVisaNameList;
  EntrySlot<VisaResourcesChangedFn> visaResourcesChanged;
};
extern VisaSlots visaSlots GUARDED_BY(visaGate);

// The VISA library is bound on opt-in only: kVisaLibraryVariable names any
// library with the standard VISA entries. EnsureVisaLibrary binds them once,
// all or none (a failure unloads, writes one trace line and answers
// kBindFailed; a later call tries again), fills the four VISA slots with the
// plug-in's adapters and opens the default resource manager if none is open
// (answering VISA's failing status, named in one trace line, when it
// cannot). The adapters list the resources that match
// kVisaExpressionVariable's expression, "?*::INSTR" by default, whatever its
// length. Unset, EnsureVisaLibrary does nothing and answers 0 and
// IsVisaLibraryBound stays false.
constexpr const char *kVisaLibraryVariable = "VELMORA_HX_VISA_LIBRARY";
constexpr const char *kVisaExpressionVariable = "VELMORA_HX_VISA_EXPRESSION";
int32_t EnsureVisaLibrary() REQUIRES(visaGate);
bool IsVisaLibraryBound();

// Whether the VISA names are due for a new listing: the last attempt (a run
// of the worker, or a listing through the exports) is older than the rescan
// interval. Read without the gate; the change test of IviIni_ConfigurationChanged
// and mode 0 both ask it.
bool VisaListingStale();
// Counts an attempt to list for the rescan clock (the worker's run, whatever
// comes of its binding or its resource manager).
void NoteVisaAttempt();

// Rebuilds visaMasterList from the VISA library. Answers 0 or the failing
// entry's status (the list then stays as it was, and the find list is
// closed on every path).
int32_t BuildVisaMasterList() REQUIRES(visaGate);

// For a request: whether to start the VISA worker, as the mode's refresh
// says; false while it runs and when no VISA library was named. Takes no
// gate.
bool VisaWanted(Refresh when) noexcept;

}  // namespace hx

#endif

// GetIOControlNames: the host asks for the names to offer in an I/O-name
// control of class "IVI".
//
// A request gates on the one-time binding of the discovery library, decides
// which sources to refresh and which workers to start, filters the master
// lists whose workers are idle, folds in the sessions the host holds open
// and builds the result handle in display order. The master lists are
// snapshots that their sources publish sorted; a request copies none of them
// and sorts only the open sessions that name no shown entry. What each mode
// refreshes is one table (kModePlans), which one function goes through.
//
// No request waits for another thread's call into a library: the sources'
// gates are only tried, and a source that is busy is shown as it was (and
// refreshed by a later request). Requests are serialised by requestMutex
// only where they share the host's session lists, from asking the host for
// its open sessions to building the result: nothing there calls a library.
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <new>

#include "plugin/common/guarded.h"
#include "plugin/common/status.h"
#include "plugin/common/thread_annotations.h"
#include "plugin/host/host_data.h"
#include "plugin/lists/master_lists.h"
#include "plugin/request/filters.h"
#include "plugin/request/listing.h"
#include "plugin/request/result_list.h"
#include "plugin/request/sessions.h"
#include "plugin/sources/configuration.h"
#include "plugin/sources/discovery.h"
#include "plugin/sources/hooks.h"
#include "plugin/sources/refresh.h"
#include "plugin/sources/visa.h"
#include "plugin/sources/workers.h"
#include "support/trace.h"
#include "velmora/velmora_hx.h"

namespace hx {
namespace {

// Refresh modes, as the public header numbers them.
constexpr uint32_t kModeChanged = VELMORA_HX_REFRESH_CHANGED;
constexpr uint32_t kModeFull = VELMORA_HX_REFRESH_FULL;
constexpr uint32_t kModeCachedOnly = VELMORA_HX_CACHED_ONLY;

// The one pause a request makes for a running discovery worker.
constexpr long kWorkerPauseNanoseconds = 100 * 1000 * 1000;

// Set by the first request that passes the loader gate, which then runs as
// a full refresh whatever mode it asked for.
std::atomic<bool> firstRequestServed{false};

// Serialises the requests' use of the open-session lists that
// MergeOpenSessions keeps, from the host's answer to the result built.
Mutex requestMutex;

// What each mode refreshes, in the order a request goes through it.
struct ModePlan {
  Refresh ivi;        // reload the configuration and rebuild the IVI list
  Refresh discovery;  // restart the discovery worker
  Refresh visa;       // start the VISA worker
  // Pause once for a running discovery worker, leave the VISA list out while
  // either worker runs, and mark the result searching while a worker runs.
  bool searches;
};
constexpr ModePlan kModePlans[] = {
    /* kModeChanged */ {Refresh::kWhenChanged, Refresh::kWhenChanged, Refresh::kWhenChanged, true},
    /* kModeFull */ {Refresh::kAlways, Refresh::kAlways, Refresh::kAlways, true},
    /* kModeCachedOnly */ {Refresh::kNever, Refresh::kNever, Refresh::kNever, false},
};
static_assert(kModeChanged == 0 && kModeFull == 1 && kModeCachedOnly == 2 &&
                  sizeof kModePlans / sizeof *kModePlans == kModeCachedOnly + 1,
              "kModePlans holds one plan per mode, indexed by the mode");

// Sleeps once for 100 ms, resuming after signals, and never longer.
void PauseForWorker() noexcept {
  timespec remaining{0, kWorkerPauseNanoseconds};
  while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
  }
}

// What one request shows: the entries of each master list that pass the
// control's filters, and the open sessions the host reported. The request
// holds the IVI snapshot it selected from until it has built its result, so
// that the sessions are matched against the very list it shows.
struct RequestLists {
  NameSnapshotRef iviList;
  NameSelection ivi;
  NameSelection modInstr;
  ResourceSelection visa;
  NameView iviSessions;
  ResourceView visaSessions;
};

// A worker's current list, or the empty list in its place while the worker
// runs: a request never shows a list that is being rebuilt.
NameSnapshotRef ModInstrListUnless(bool running) {
  return running ? EmptyNameSnapshot() : modInstrMasterList();
}

ResourceSnapshotRef VisaListUnless(bool running) {
  return running ? EmptyResourceSnapshot() : visaMasterList();
}

// Refreshes what the mode refreshes and selects what the request shows.
// Answers whether the result is still searching.
bool TakeLists(const ModePlan &plan, RequestLists &lists, HxVariantRef properties) {
  // The configuration source refreshes on this thread when its gate is free,
  // or brings itself up on its own worker; the IVI list shown is the one at
  // hand either way.
  const bool configuring = RefreshConfiguration(plan.ivi);
  lists.iviList = iviMasterList();
  SelectNameEntries(lists.iviList, lists.ivi, properties);

  // Read before the session is looked at (release_gate.h).
  const ReleaseTickets tickets = TicketsBeforeLooking();
  auto &discovery = TheModInstrMasterListThread();
  if (DiscoveryWanted(plan.discovery)) StartWorker(discovery, tickets);
  if (plan.searches && discovery.IsRunning()) PauseForWorker();
  const bool discovering = discovery.IsRunning();
  SelectNameEntries(ModInstrListUnless(discovering), lists.modInstr, properties);

  auto &visa = TheVisaMasterListThread();
  if (VisaWanted(plan.visa)) StartWorker(visa, tickets);
  const bool visaRunning = visa.IsRunning();
  const bool searching = plan.searches && (discovering || visaRunning);
  // While searching, the VISA list is left out whichever of the two runs.
  SelectResourceEntries(VisaListUnless(visaRunning || searching), lists.visa, properties);
  // The store being brought up leaves no list out; the marker says that
  // names may still come.
  return searching || (plan.searches && configuring);
}

// The loader gate: answers whether the discovery library is bound, starting
// its one-time binding when nothing has started it yet. running is read
// before loaded is read again: the loader stores loaded before it clears
// running, so a cleared flag from a finished run always comes with loaded
// set, and only a loader that never ran is started.
bool Loaded() {
  auto &loader = TheLoadLibraryThread();
  if (loader.IsLoaded()) return true;
  if (loader.IsRunning()) return false;
  if (loader.IsLoaded()) return true;
  StartWorker(loader, TicketsNow());
  return false;
}

int32_t ServeRequest(uint32_t appContext, ConstPStr ioClass, void *reserved, HxHandle *names,
                     HxVariantRef properties, uint32_t mode) {
  if (ioClass == nullptr || PStrCmp(kIviClass.get(), ioClass) != 0) return kRequestRefused;

  if (auto hook = hookSlots.requestHook.get()) {
    if (hook(appContext, ioClass, reserved, names, properties, mode) == 0) {
      if (auto fallback = hookSlots.requestFallback.get()) fallback();
    }
  }
  if (!Loaded()) return kRequestBinding;
  if (!firstRequestServed.exchange(true, std::memory_order_acq_rel)) mode = kModeFull;
  if (mode > kModeCachedOnly) return kRequestRefused;

  RequestLists lists;
  const bool searching = TakeLists(kModePlans[mode], lists, properties);

  MutexLock sessions(requestMutex);
  // The sessions' origins are looked up in the IVI list the request shows;
  // the other two lists are chosen here by their own worker's flag alone.
  const NameSnapshotRef modInstr = ModInstrListUnless(TheModInstrMasterListThread().IsRunning());
  const ResourceSnapshotRef visa = VisaListUnless(TheVisaMasterListThread().IsRunning());
  const int32_t merged = MergeOpenSessions(appContext, *lists.iviList, *modInstr, *visa,
                                           lists.iviSessions, lists.visaSessions, properties);
  if (merged != kRequestOk && merged != kSessionsUnchanged) return merged;

  // Everything up to here leaves names alone; a request without a place for
  // its answer gets as far as any other and fails only where the answer
  // would be stored.
  if (names == nullptr) return kRequestHostFailure;

  const Listing m = ListNames({&lists.ivi, &lists.modInstr}, lists.iviSessions);
  const Listing v = ListResources({&lists.visa}, lists.visaSessions);
  return BuildNameListHandle(names, m, v, searching);
}

}  // namespace
}  // namespace hx

extern "C" int32_t GetIOControlNames(uint32_t appContext, ConstPStr ioClass, void *reserved,
                                     HxHandle *names, HxVariantRef properties, uint32_t mode) {
  qxsdbg_Trace(hx::kTraceLevel, "GetIOControlNames");
  return hx::Guarded(hx::kRequestOutOfMemory, hx::kRequestHostFailure, [&] {
    return hx::ServeRequest(appContext, ioClass, reserved, names, properties, mode);
  });
}

// GetIOControlNames: the host asks for the names to offer in an I/O-name
// control of class "IVI".
//
// A request gates on the one-time binding, decides which master lists to
// refresh and which workers to start, filters the lists whose workers are
// idle, folds in the sessions the host holds open and builds the result
// handle in display order. The master lists are snapshots sorted when they
// were built; a request copies none of them and sorts only the open
// sessions that name no shown entry. What each mode refreshes is one table
// (kModePlans), which one function goes through.
//
// Requests are serialised by requestMutex; the workers never take it. A
// request lets go of it while it pauses for the discovery worker and while
// it asks the discovery library whether the devices changed, so that no
// request waits for another's pause or for a call into the discovery
// library.
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <new>

#include "plugin/sources/bindings.h"
#include "plugin/request/filters.h"
#include "plugin/common/guarded.h"
#include "plugin/host/host_data.h"
#include "plugin/request/listing.h"
#include "plugin/lists/master_lists.h"
#include "plugin/request/result_list.h"
#include "plugin/request/sessions.h"
#include "plugin/common/status.h"
#include "plugin/common/thread_annotations.h"
#include "plugin/sources/workers.h"
#include "support/trace.h"
#include "velmora/velmora_hx.h"

namespace hx {
namespace {

// Refresh modes.
constexpr uint32_t kModeChanged = 0;
constexpr uint32_t kModeFull = 1;
constexpr uint32_t kModeCachedOnly = 2;

// The discovery worker restarts in mode 0 only when more than this many
// seconds passed since its previous run started.
constexpr int64_t kModInstrThrottleSeconds = 20;
// The one pause a request makes for a running discovery worker.
constexpr long kWorkerPauseNanoseconds = 100 * 1000 * 1000;

// Serialises requests: the IVI list rebuild, the decision to start a worker,
// the first-request flag and the open-session lists all belong to the request
// that holds it.
Mutex requestMutex;
bool firstRequestServed GUARDED_BY(requestMutex) = false;
// A refresh of the IVI list that a request had to skip (the configuration
// library was busy with another thread): the next refreshing request does a
// full one, so that a skipped first refresh is not lost to mode 0, which
// would otherwise wait for the store to change.
bool iviRefreshOwed GUARDED_BY(requestMutex) = false;

// When a mode refreshes a source.
enum class Refresh : uint8_t {
  kNever,
  kWhenChanged,  // when its library reports a change (and, for discovery,
                 // more than the throttle's seconds passed since its last run)
  kAlways,
};

// What each mode refreshes, in the order a request goes through it.
struct ModePlan {
  Refresh ivi;        // reload the configuration and rebuild the IVI list
  Refresh discovery;  // restart the discovery worker
  Refresh visa;       // start the VISA worker
  // Pause once for a running discovery worker, leave the VISA list out while
  // either worker runs, and mark the result searching while one does.
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

// Runs call with the request lock let go, for the steps that may take a
// while without needing the request's shared state: whatever they decide
// is checked again once the lock is back. The call must not throw, so that
// the lock is always taken back.
template <class Call>
auto Unlocked(Call call) REQUIRES(requestMutex) {
  static_assert(noexcept(call()), "the request lock must be taken back");
  requestMutex.Unlock();
  const auto result = call();
  requestMutex.Lock();
  return result;
}

// Sleeps once for 100 ms, resuming after signals, and never longer.
bool PauseForWorker() noexcept {
  timespec remaining{0, kWorkerPauseNanoseconds};
  while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
  }
  return true;
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

// Reloads the configuration and rebuilds the IVI list, always or when the
// library reports a change. A rebuild that fails, memory running out
// included, keeps the previous list: refresh failures are silent.
//
// The host's UI thread never waits for another thread's call into the
// configuration library (an IviIni_* export, the loader opening the store):
// while one runs, the IVI list stays as it is for this request, and the
// next refreshing request reloads it whatever its mode.
void RefreshIviList(Refresh when) REQUIRES(requestMutex) {
  if (when == Refresh::kNever) return;
  if (!configGate.TryLock()) {
    iviRefreshOwed = true;
    return;
  }
  GateLock config(configGate, std::adopt_lock);
  if (iviRefreshOwed) when = Refresh::kAlways;
  iviRefreshOwed = false;
  void *const handle = GetConfigHandle();
  if (when == Refresh::kWhenChanged) {
    auto changed = slots.cfgConfigurationChanged.get();
    if (changed == nullptr) return;
    // No configuration open (the store was missing or refused, or a release
    // closed it): opening it is the change to look for, so that mending the
    // store is enough.
    uint8_t flag = handle == nullptr ? 1 : 0;
    if (handle != nullptr) changed(handle, &flag);
    if (flag == 0) return;
  }
  if (auto reload = slots.cfgReloadConfiguration.get()) {
    if (handle != nullptr || when == Refresh::kAlways) reload(handle);
  }
  try {
    BuildIviMasterList();
  } catch (const std::bad_alloc &) {
  }
}

// Mode 0 asks the discovery library whether the installed devices changed.
// It is not asked while the discovery worker runs (the answer could not
// start anything then), nor while another thread is inside the discovery
// library: opening a session there can take seconds and the host's UI
// thread must not wait for it. The devices then count as unchanged for this
// request, and the next request asks again.
bool DevicesMayHaveChanged() noexcept {
  auto isCurrent = slots.qxModInst_IsConfigurationCurrent.get();
  if (isCurrent == nullptr) return true;
  if (TheModInstrMasterListThread().IsRunning()) return false;
  if (!sessionGate.TryLock()) return false;
  GateLock lock(sessionGate, std::adopt_lock);
  uint16_t current = 0;
  isCurrent(GetModInstSession(), &current);
  return current == 0;
}

bool ThrottleAllowsDiscovery() {
  const auto now = static_cast<int64_t>(time(nullptr));
  return now - TheModInstrMasterListThread().lastStart.load(std::memory_order_acquire) >
         kModInstrThrottleSeconds;
}

// Whether to start the discovery worker. Asking whether the devices changed
// lets go of the request lock: what it decides is checked again after.
bool DiscoveryWanted(Refresh when) REQUIRES(requestMutex) {
  if (when == Refresh::kNever) return false;
  if (when == Refresh::kWhenChanged && !Unlocked(DevicesMayHaveChanged)) return false;
  if (GetModInstSession() == 0 || TheModInstrMasterListThread().IsRunning()) return false;
  return when == Refresh::kAlways || ThrottleAllowsDiscovery();
}

// The VISA library is asked about a change only while its worker is idle,
// and not while another thread is inside it: the resources then count as
// unchanged for this request.
bool VisaWanted(Refresh when) {
  if (when != Refresh::kWhenChanged) return when == Refresh::kAlways;
  if (TheVisaMasterListThread().IsRunning() || !visaGate.TryLock()) return false;
  GateLock lock(visaGate, std::adopt_lock);
  auto changed = slots.visaResourcesChanged.get();
  uint16_t flag = 0;
  if (changed != nullptr) changed(&flag);
  return flag != 0;
}

// Refreshes what the mode refreshes and selects what the request shows.
// Answers whether the result is still searching.
bool TakeLists(const ModePlan &plan, RequestLists &lists,
               HxVariantRef properties) REQUIRES(requestMutex) {
  RefreshIviList(plan.ivi);
  lists.iviList = iviMasterList();
  SelectNameEntries(lists.iviList, lists.ivi, properties);

  // Read before the session is looked at (release_gate.h).
  const ReleaseTickets tickets = TicketsBeforeLooking();
  auto &discovery = TheModInstrMasterListThread();
  if (DiscoveryWanted(plan.discovery)) StartWorker(discovery, tickets);
  if (plan.searches && discovery.IsRunning()) Unlocked(PauseForWorker);
  const bool discovering = discovery.IsRunning();
  SelectNameEntries(ModInstrListUnless(discovering), lists.modInstr, properties);

  auto &visa = TheVisaMasterListThread();
  if (VisaWanted(plan.visa) && IsVisaLibraryBound() && !visa.IsRunning()) {
    StartWorker(visa, tickets);
  }
  const bool visaRunning = visa.IsRunning();
  const bool searching = plan.searches && (discovering || visaRunning);
  // While searching, the VISA list is left out whichever worker runs.
  SelectResourceEntries(VisaListUnless(visaRunning || searching), lists.visa, properties);
  return searching;
}

int32_t ServeRequest(uint32_t appContext, ConstPStr ioClass, void *reserved, HxHandle *names,
                     HxVariantRef properties, uint32_t mode) {
  if (ioClass == nullptr || PStrCmp(kIviClass.get(), ioClass) != 0) return kRequestRefused;

  MutexLock serialised(requestMutex);
  if (auto hook = slots.requestHook.get()) {
    if (hook(appContext, ioClass, reserved, names, properties, mode) == 0) {
      if (auto fallback = slots.requestFallback.get()) fallback();
    }
  }
  // Loader gate. running is read before loaded is read again: the loader
  // stores loaded before it clears running, so a cleared flag from a finished
  // run always comes with loaded set, and only a loader that never ran is
  // started.
  auto &loader = TheLoadLibraryThread();
  if (!loader.IsLoaded()) {
    if (loader.IsRunning()) return kRequestBinding;
    if (!loader.IsLoaded()) {
      StartWorker(loader, TicketsNow());
      return kRequestBinding;
    }
  }
  if (!firstRequestServed) {
    firstRequestServed = true;
    mode = kModeFull;
  }
  if (mode > kModeCachedOnly) return kRequestRefused;

  RequestLists lists;
  const bool searching = TakeLists(kModePlans[mode], lists, properties);

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

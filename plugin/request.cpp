// GetIOControlNames: the host asks for the names to offer in an I/O-name
// control of class "IVI".
//
// A request gates on the one-time binding, decides which master lists to
// refresh and which workers to start, filters the lists whose workers are
// idle, folds in the sessions the host holds open and builds the result
// handle in display order. The master lists are snapshots sorted when they
// were built; a request copies none of them and sorts only the open
// sessions that name no shown entry. Requests are serialised by requestMutex; the
// workers never take it. A request lets go of it while it pauses for the
// discovery worker and while it asks the discovery library whether the
// devices changed, so that no request waits for another's pause or for a
// call into the discovery library.
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <new>

#include "plugin/bindings.h"
#include "plugin/filters.h"
#include "plugin/guarded.h"
#include "plugin/host_data.h"
#include "plugin/listing.h"
#include "plugin/master_lists.h"
#include "plugin/result_list.h"
#include "plugin/sessions.h"
#include "plugin/status.h"
#include "plugin/workers.h"
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
std::mutex requestMutex;
using RequestLock = std::unique_lock<std::mutex>;

// Runs call with the request lock let go, for the steps that may take a
// while without needing the request's shared state: whatever they decide
// is checked again once the lock is back.
template <class Call>
auto Unlocked(RequestLock &lock, Call call) {
  lock.unlock();
  const auto result = call();
  lock.lock();
  return result;
}

// Guarded by requestMutex.
bool firstRequestServed = false;

// Sleeps once for 100 ms, resuming after signals, and never longer.
bool PauseForWorker() {
  timespec remaining{0, kWorkerPauseNanoseconds};
  while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
  }
  return true;
}

// What one request shows: the entries of each master list that pass the
// control's filters, and the open sessions the host reported. The master
// lists are snapshots that the request only reads.
struct RequestLists {
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

NameSnapshotRef ModInstrListUnlessRunning() {
  return ModInstrListUnless(TheModInstrMasterListThread().IsRunning());
}

ResourceSnapshotRef VisaListUnlessRunning() {
  return VisaListUnless(TheVisaMasterListThread().IsRunning());
}

// Rebuilds the IVI list. A rebuild that fails, memory running out included,
// keeps the previous list: refresh failures are silent.
void RebuildIviList(const ConfigLock &config) {
  try {
    BuildIviMasterList(config);
  } catch (const std::bad_alloc &) {
  }
}

void ReloadAndRebuildIviList() {
  ConfigLock config;
  if (auto reload = slots.cfgReloadConfiguration.get()) reload(GetConfigHandle());
  RebuildIviList(config);
}

// Mode 0 reloads and rebuilds the IVI list only when the configuration
// library reports a change.
void RebuildIviListIfChanged() {
  auto changed = slots.cfgConfigurationChanged.get();
  if (changed == nullptr) return;
  ConfigLock config;
  uint8_t flag = 0;
  changed(GetConfigHandle(), &flag);
  if (flag == 0) return;
  if (auto reload = slots.cfgReloadConfiguration.get()) reload(GetConfigHandle());
  RebuildIviList(config);
}

void StartModInstrWorkerIfIdle() {
  auto &worker = TheModInstrMasterListThread();
  if (GetModInstSession() != 0 && !worker.IsRunning()) StartWorker(worker);
}

// Mode 0 asks the discovery library whether the installed devices changed.
// It is not asked while the discovery worker runs (the answer could not
// start anything then), nor while another thread is inside the discovery
// library: opening a session there can take seconds and the host's UI
// thread must not wait for it. The devices then count as unchanged for this
// request, and the next request asks again.
bool DevicesMayHaveChanged() {
  auto isCurrent = slots.qxModInst_IsConfigurationCurrent.get();
  if (isCurrent == nullptr) return true;
  if (TheModInstrMasterListThread().IsRunning()) return false;
  SessionLock lock(std::try_to_lock);
  if (!lock.owns()) return false;
  uint16_t current = 0;
  isCurrent(GetModInstSession(), &current);
  return current == 0;
}

void RestartModInstrWorkerIfDue() {
  auto &worker = TheModInstrMasterListThread();
  if (GetModInstSession() == 0 || worker.IsRunning()) return;
  const auto now = static_cast<int64_t>(time(nullptr));
  if (now - worker.lastStart.load(std::memory_order_acquire) > kModInstrThrottleSeconds) {
    StartWorker(worker);
  }
}

// VISA restarts in mode 0 only when the library reports a change; it is
// asked only while its worker is idle.
bool VisaResourcesChanged() {
  auto changed = slots.visaResourcesChanged.get();
  if (changed == nullptr) return false;
  uint16_t flag = 0;
  if (!TheVisaMasterListThread().IsRunning()) changed(&flag);
  return flag != 0;
}

// Takes the modular-instrument and VISA lists for modes 0 and 1 and tells
// whether the result is still searching. visaWanted decides, once the
// discovery list is taken, whether the VISA worker should run.
template <class VisaWanted>
bool TakeWorkerLists(RequestLists &lists, HxVariantRef properties, VisaWanted visaWanted,
                     RequestLock &lock) {
  if (TheModInstrMasterListThread().IsRunning()) Unlocked(lock, PauseForWorker);
  bool searching = TheModInstrMasterListThread().IsRunning();
  SelectNameEntries(ModInstrListUnless(searching), lists.modInstr, properties);

  auto &visaWorker = TheVisaMasterListThread();
  if (visaWanted() && IsVisaLibraryBound() && !visaWorker.IsRunning()) StartWorker(visaWorker);
  // The VISA list is left out while either worker runs.
  searching = searching || visaWorker.IsRunning();
  SelectResourceEntries(VisaListUnless(searching), lists.visa, properties);
  return searching;
}

// Mode 1: everything rebuilt, discovery restarted at once.
bool RefreshFull(RequestLists &lists, HxVariantRef properties, RequestLock &lock) {
  ReloadAndRebuildIviList();
  SelectNameEntries(iviMasterList(), lists.ivi, properties);
  StartModInstrWorkerIfIdle();
  return TakeWorkerLists(
      lists, properties, [] { return true; }, lock);
}

// Mode 0: what changed rebuilt, discovery restarted at most every 20 s.
bool RefreshChanged(RequestLists &lists, HxVariantRef properties, RequestLock &lock) {
  RebuildIviListIfChanged();
  SelectNameEntries(iviMasterList(), lists.ivi, properties);
  if (Unlocked(lock, DevicesMayHaveChanged)) RestartModInstrWorkerIfDue();
  return TakeWorkerLists(lists, properties, VisaResourcesChanged, lock);
}

// Mode 2: the lists as they are, nothing restarted, never searching.
void TakeCachedLists(RequestLists &lists, HxVariantRef properties) {
  SelectNameEntries(iviMasterList(), lists.ivi, properties);
  SelectNameEntries(ModInstrListUnlessRunning(), lists.modInstr, properties);
  SelectResourceEntries(VisaListUnlessRunning(), lists.visa, properties);
}

int32_t ServeRequest(uint32_t appContext, ConstPStr ioClass, void *reserved, HxHandle *names,
                     HxVariantRef properties, uint32_t mode) {
  if (ioClass == nullptr || PStrCmp(kIviClass.get(), ioClass) != 0) return kRequestRefused;

  RequestLock serialised(requestMutex);
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
      StartWorker(loader);
      return kRequestBinding;
    }
  }
  if (!firstRequestServed) {
    firstRequestServed = true;
    mode = kModeFull;
  }

  RequestLists lists;
  bool searching = false;
  switch (mode) {
    case kModeFull:
      searching = RefreshFull(lists, properties, serialised);
      break;
    case kModeChanged:
      searching = RefreshChanged(lists, properties, serialised);
      break;
    case kModeCachedOnly:
      TakeCachedLists(lists, properties);
      break;
    default:
      return kRequestRefused;
  }

  // Each list is chosen here by its own worker's flag alone.
  const NameSnapshotRef modInstr = ModInstrListUnlessRunning();
  const ResourceSnapshotRef visa = VisaListUnlessRunning();
  const int32_t merged = MergeOpenSessions(appContext, *modInstr, *visa, lists.iviSessions,
                                           lists.visaSessions, properties);
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

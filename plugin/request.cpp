// GetIOControlNames: the host asks for the names to offer in an I/O-name
// control of class "IVI".
//
// A request gates on the one-time binding, decides which master lists to
// refresh and which workers to start, takes filtered copies of the lists
// whose workers are idle, folds in the sessions the host holds open, sorts,
// and builds the result handle. Requests are serialised by requestMutex; the
// workers never take it. A request lets go of it while it pauses for the
// discovery worker and while it asks the discovery library whether the
// devices changed, so that no request waits for another's pause or for a
// call into the discovery library.
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "plugin/bindings.h"
#include "plugin/filters.h"
#include "plugin/guarded.h"
#include "plugin/host_data.h"
#include "plugin/master_lists.h"
#include "plugin/names.h"
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

// The lists of one request. An empty list stands in for a master list whose
// worker is running.
struct RequestLists {
  NameList iviCopy;
  NameList modInstrCopy;
  ResourceList visaCopy;
  NameList iviSessions;
  ResourceList visaSessions;
  const NameList emptyNames;
  const ResourceList emptyResources;
};

const NameList &ModInstrListUnlessRunning(const RequestLists &lists) {
  return TheModInstrMasterListThread().IsRunning() ? lists.emptyNames : modInstrMasterList();
}

const ResourceList &VisaListUnlessRunning(const RequestLists &lists) {
  return TheVisaMasterListThread().IsRunning() ? lists.emptyResources : visaMasterList();
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

// Takes the modular-instrument and VISA copies for modes 0 and 1 and tells
// whether the result is still searching. visaWanted decides, once the
// discovery copy is taken, whether the VISA worker should run.
template <class VisaWanted>
bool CopyWorkerLists(RequestLists &lists, HxVariantRef properties, VisaWanted visaWanted,
                     RequestLock &lock) {
  if (TheModInstrMasterListThread().IsRunning()) Unlocked(lock, PauseForWorker);
  bool searching = TheModInstrMasterListThread().IsRunning();
  FilterNameEntries(searching ? lists.emptyNames : modInstrMasterList(), lists.modInstrCopy,
                    properties);

  auto &visaWorker = TheVisaMasterListThread();
  if (visaWanted() && IsVisaLibraryBound() && !visaWorker.IsRunning()) StartWorker(visaWorker);
  // The VISA list is left out while either worker runs.
  searching = searching || visaWorker.IsRunning();
  FilterResourceEntries(searching ? lists.emptyResources : visaMasterList(), lists.visaCopy,
                        properties);
  return searching;
}

bool RefreshFull(RequestLists &lists, HxVariantRef properties, RequestLock &lock) {
  {
    ConfigLock config;
    if (auto reload = slots.cfgReloadConfiguration.get()) reload(GetConfigHandle());
    BuildIviMasterList(config);
  }
  FilterNameEntries(iviMasterList(), lists.iviCopy, properties);
  StartModInstrWorkerIfIdle();
  return CopyWorkerLists(lists, properties, [] { return true; }, lock);
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

bool RefreshChanged(RequestLists &lists, HxVariantRef properties, RequestLock &lock) {
  if (auto changed = slots.cfgConfigurationChanged.get()) {
    ConfigLock config;
    uint8_t flag = 0;
    changed(GetConfigHandle(), &flag);
    if (flag != 0) {
      if (auto reload = slots.cfgReloadConfiguration.get()) reload(GetConfigHandle());
      BuildIviMasterList(config);
    }
  }
  FilterNameEntries(iviMasterList(), lists.iviCopy, properties);
  if (Unlocked(lock, DevicesMayHaveChanged)) RestartModInstrWorkerIfDue();
  return CopyWorkerLists(lists, properties, VisaResourcesChanged, lock);
}

void CopyCachedLists(RequestLists &lists, HxVariantRef properties) {
  FilterNameEntries(iviMasterList(), lists.iviCopy, properties);
  FilterNameEntries(ModInstrListUnlessRunning(lists), lists.modInstrCopy, properties);
  FilterResourceEntries(VisaListUnlessRunning(lists), lists.visaCopy, properties);
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
      CopyCachedLists(lists, properties);
      break;
    default:
      return kRequestRefused;
  }

  const int32_t merged =
      MergeOpenSessions(appContext, ModInstrListUnlessRunning(lists), VisaListUnlessRunning(lists),
                        lists.iviSessions, lists.visaSessions, properties);
  if (merged != kRequestOk && merged != kSessionsUnchanged) return merged;

  // Everything up to here leaves names alone; a request without a place for
  // its answer gets as far as any other and fails only where the answer
  // would be stored.
  if (names == nullptr) return kRequestHostFailure;

  NameList m = std::move(lists.iviCopy);
  m.insert(m.end(), std::make_move_iterator(lists.modInstrCopy.begin()),
           std::make_move_iterator(lists.modInstrCopy.end()));
  FoldOpenSessions(m, lists.iviSessions);
  ResourceList v = std::move(lists.visaCopy);
  FoldOpenSessions(v, lists.visaSessions);
  SortNameEntries(m);
  SortResourceEntries(v);
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

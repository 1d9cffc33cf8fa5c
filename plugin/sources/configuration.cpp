#include "plugin/sources/configuration.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "plugin/common/status.h"
#include "plugin/lists/master_lists.h"
#include "plugin/sources/entry_text.h"
#include "plugin/sources/library_binding.h"
#include "plugin/sources/workers.h"
#include "support/trace.h"

namespace hx {
namespace {

std::atomic<void *> configHandle{nullptr};

// A refresh of the IVI list that could not be made: a request found the
// library busy with another thread, or a rebuild failed after its reload
// had taken the file in. The next refreshing request, mode 0 included, makes
// a full one, since the store's change test would no longer tell. Set by
// anyone, cleared under configGate by whoever makes the refresh.
std::atomic<bool> iviRefreshOwed{false};

// Wall-clock seconds of the last bring-up that failed (the library could not
// be bound or the store not opened); 0 when the last one succeeded or none
// was made. Mode 0 tries again only once the rescan is due.
std::atomic<int64_t> lastFailedBringUp{0};

// A release closes the store with the gate held, which the analysis cannot
// see through the gate's carrying out. A closed handle must never be used
// again; the next refreshing request brings the store up again.
void CloseConfigHeld() NO_THREAD_SAFETY_ANALYSIS {
  void *const config = GetConfigHandle();
  if (config == nullptr) return;
  if (auto close = configSlots.cfgCloseIniFile.get()) {
    close(config, 0);
    SetConfigHandle(nullptr);
  }
}

// Whether the user named a configuration library (or one is bound already).
bool ConfigurationNamed() {
  return IsConfigLibraryBound() || OptInSetting(kConfigLibraryVariable) != nullptr;
}

// Rebuilds the IVI list; a rebuild that fails, memory running out included,
// keeps the previous list and owes the refresh.
void RebuildIviList() REQUIRES(configGate) {
  bool built = false;
  try {
    built = BuildIviMasterList() == 0;
  } catch (...) {
  }
  if (!built) iviRefreshOwed.store(true, std::memory_order_release);
}

}  // namespace

ReleaseGate configGate{CloseConfigHeld};
ConfigSlots configSlots;

void *GetConfigHandle() {
  return configHandle.load(std::memory_order_acquire);
}
void SetConfigHandle(void *handle) {
  configHandle.store(handle, std::memory_order_release);
}

int32_t OpenDefaultConfiguration() {
  auto open = configSlots.cfgOpenIniFile.get();
  if (GetConfigHandle() != nullptr || open == nullptr) return 0;
  void *handle = nullptr;
  const int32_t status = open(nullptr, &handle);
  if (status != 0) {
    qxsdbg_Trace(kTraceLevel, "IVI configuration store not opened: status %d\n",
                 static_cast<int>(status));
    return status;
  }
  SetConfigHandle(handle);
  return 0;
}

int32_t BuildIviMasterList() {
  NameList built;
  const int32_t opened = OpenDefaultConfiguration();
  if (opened != 0) return opened;
  void *const config = GetConfigHandle();

  auto countNames = configSlots.cfgGetNumberOfLogicalNames.get();
  if (countNames == nullptr) {
    PublishIviMasterList(std::move(built));
    return 0;
  }
  int32_t count = 0;
  const int32_t counted = countNames(config, &count);
  if (counted != 0) return counted;

  // Room for every name up front, within reason: the count is the library's
  // word, and a wrong one must not make a huge allocation.
  constexpr int32_t kReservedAtMost = 1 << 20;
  built.reserve(static_cast<size_t>(std::clamp(count, 0, kReservedAtMost)));
  int32_t lastStatus = 0;
  // 64 bits: a count of INT32_MAX must end the loop, not overflow it.
  for (int64_t i = 1; i <= count; ++i) {
    const char *name = nullptr;
    lastStatus = 0;
    if (auto nth = configSlots.cfgGetNthLogicalName.get()) {
      lastStatus = nth(config, static_cast<uint32_t>(i), &name);
    }
    // Without a name there is nothing to offer for this index.
    if (lastStatus != 0 || name == nullptr) continue;

    // Each step feeds the next; a name the store cannot resolve simply ends
    // up with an empty class and prefix.
    EntryText session, driver, driverClass, prefix;
    if (auto fn = configSlots.cfgGetLogicalNameVI.get()) {
      fn(config, name, session.data(), kEntryTextSize);
    }
    if (auto fn = configSlots.cfgGetVIDriver.get()) {
      fn(config, session.data(), driver.data(), kEntryTextSize);
    }
    if (auto fn = configSlots.cfgGetDriverClass.get()) {
      fn(config, driver.data(), driverClass.data(), kEntryTextSize);
    }
    if (auto fn = configSlots.cfgGetDriverPrefix.get()) {
      fn(config, driver.data(), prefix.data(), kEntryTextSize);
    }
    built.push_back(NameEntry{name, false, driverClass.str(), prefix.str()});
  }
  if (lastStatus != 0) return lastStatus;
  PublishIviMasterList(std::move(built));
  return 0;
}

bool RefreshConfiguration(Refresh when) noexcept {
  if (when == Refresh::kNever || !ConfigurationNamed()) return false;
  GetIviMasterListThread &worker = TheIviMasterListThread();
  if (worker.IsRunning()) return true;
  // Read before the store is looked at (release_gate.h).
  const ReleaseTickets tickets = TicketsBeforeLooking();
  // The host's thread never waits for another thread's call into the
  // library (an IviIni_* export, the worker opening the store): the IVI
  // list stays as it is for this request, and the next refreshing request
  // makes a full refresh whatever its mode.
  if (!configGate.TryLock()) {
    iviRefreshOwed.store(true, std::memory_order_release);
    return false;
  }
  GateLock lock(configGate, std::adopt_lock);
  void *const handle = GetConfigHandle();
  if (!IsConfigLibraryBound() || handle == nullptr) {
    const int64_t failed = lastFailedBringUp.load(std::memory_order_acquire);
    if (when == Refresh::kAlways || failed == 0 || RescanDue(failed)) {
      StartWorker(worker, tickets);
    }
    return worker.IsRunning();
  }
  if (iviRefreshOwed.exchange(false, std::memory_order_acq_rel)) when = Refresh::kAlways;
  if (when == Refresh::kWhenChanged) {
    uint8_t changed = 0;
    if (auto test = configSlots.cfgConfigurationChanged.get()) test(handle, &changed);
    if (changed == 0) return false;
  }
  if (auto reload = configSlots.cfgReloadConfiguration.get()) reload(handle);
  RebuildIviList();
  return false;
}

void GetIviMasterListThread::Run() {
  RunQuietly([this] {
    GateLock lock(configGate);
    // A run decided before a release would reopen the store the release
    // closed; it leaves it closed, and a later request starts another.
    if (configGate.Overtaken(ticketsAtStart.config)) return;
    const bool up = EnsureConfigLibrary() == 0 && IsConfigLibraryBound() &&
                    OpenDefaultConfiguration() == 0 && GetConfigHandle() != nullptr;
    if (!up) {
      lastFailedBringUp.store(NowSeconds(), std::memory_order_release);
      return;
    }
    lastFailedBringUp.store(0, std::memory_order_release);
    iviRefreshOwed.store(false, std::memory_order_release);
    RebuildIviList();
  });
  running.store(false, std::memory_order_release);
}

}  // namespace hx

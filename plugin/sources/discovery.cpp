#include "plugin/sources/discovery.h"

#include <atomic>
#include <cstring>
#include <string>
#include <utility>

#include "plugin/lists/master_lists.h"
#include "plugin/sources/library_binding.h"
#include "plugin/sources/workers.h"

namespace hx {
namespace {

std::atomic<int32_t> modInstSession{0};

// A release closes the session with the gate held, which the analysis cannot
// see through the gate's carrying out.
void CloseSessionHeld() NO_THREAD_SAFETY_ANALYSIS {
  const int32_t session = GetModInstSession();
  if (session == 0) return;
  if (auto close = discoverySlots.qxModInst_CloseInstalledDevicesSession.get()) close(session);
  SetModInstSession(0);
}

// The five entries, in the order they are looked up.
enum Entry { kOpen, kGetString, kGetInt32, kClose, kIsCurrent, kEntries };
constexpr const char *kSymbols[kEntries] = {
    "qxModInst_OpenInstalledDevicesSession", "qxModInst_GetInstalledDeviceAttributeViString",
    "qxModInst_GetInstalledDeviceAttributeViInt32", "qxModInst_CloseInstalledDevicesSession",
    "qxModInst_IsConfigurationCurrent"};
// Its failures are silent: the loader's record is released unread.
constexpr LibrarySpec kLibrary{QXMODINST_LIBRARY_NAME, kModInstLoadMode, nullptr, false};

// Reads one string attribute of an installed device whole: the library is
// asked for the size the value needs and writes into a buffer of that size.
std::string ReadDeviceText(qxModInst_GetInstalledDeviceAttributeViString_t read, int32_t session,
                           int32_t index, int32_t attribute) {
  const int32_t size = read(session, index, attribute, 0, nullptr);
  if (size <= 0) return std::string();
  std::string text(static_cast<size_t>(size), '\0');
  read(session, index, attribute, size, text.data());
  text.resize(strnlen(text.data(), text.size()));
  return text;
}

}  // namespace

ReleaseGate sessionGate{CloseSessionHeld};
DiscoverySlots discoverySlots;

int32_t GetModInstSession() {
  return modInstSession.load(std::memory_order_acquire);
}
void SetModInstSession(int32_t session) {
  modInstSession.store(session, std::memory_order_release);
}

int32_t BindModInstLibrary() {
  if (GetModInstSession() != 0) return 0;
  void *found[kEntries];
  if (!BindAllOrNone(kLibrary, kSymbols, found, kEntries)) {
    SetModInstSession(0);
    return kBindFailed;
  }
  DiscoverySlots &s = discoverySlots;
  s.qxModInst_OpenInstalledDevicesSession.set(
      EntryAs<qxModInst_OpenInstalledDevicesSession_t>(found[kOpen]));
  s.qxModInst_GetInstalledDeviceAttributeViString.set(
      EntryAs<qxModInst_GetInstalledDeviceAttributeViString_t>(found[kGetString]));
  s.qxModInst_GetInstalledDeviceAttributeViInt32.set(
      EntryAs<qxModInst_GetInstalledDeviceAttributeViInt32_t>(found[kGetInt32]));
  s.qxModInst_CloseInstalledDevicesSession.set(
      EntryAs<qxModInst_CloseInstalledDevicesSession_t>(found[kClose]));
  s.qxModInst_IsConfigurationCurrent.set(
      EntryAs<qxModInst_IsConfigurationCurrent_t>(found[kIsCurrent]));
  // Whatever session the library hands out is the session, even 0: callers
  // pass on what the library answers for it.
  int32_t count = 0;
  OpenModInstSession(&count, FailedOpen::kKeepWhatItWrote);
  return 0;
}

int32_t OpenModInstSession(int32_t *count, FailedOpen rule) {
  auto open = discoverySlots.qxModInst_OpenInstalledDevicesSession.get();
  if (open == nullptr) return kBindFailed;
  int32_t session = 0;
  const int32_t status = open(QXMODINST_DRIVER_NAME, &session, count);
  SetModInstSession(status == 0 || rule == FailedOpen::kKeepWhatItWrote ? session : 0);
  return status;
}

void CloseModInstSession() {
  CloseSessionHeld();
}

int32_t ReopenModInstSession(int32_t *count) {
  if (!discoverySlots.qxModInst_OpenInstalledDevicesSession) return kBindFailed;
  const int32_t previous = GetModInstSession();
  if (previous != 0) {
    if (auto close = discoverySlots.qxModInst_CloseInstalledDevicesSession.get()) {
      const int32_t closed = close(previous);
      if (closed != 0) return closed;
    }
  }
  SetModInstSession(0);
  return OpenModInstSession(count, FailedOpen::kNoSession);
}

int32_t BuildModInstrMasterList() {
  int32_t count = 0;
  if (discoverySlots.qxModInst_OpenInstalledDevicesSession) {
    // Every run replaces the session, so that it lists the devices installed
    // now rather than when the previous session was opened.
    const int32_t status = ReopenModInstSession(&count);
    if (status != 0) return status;
  }

  NameList list;
  const int32_t session = GetModInstSession();
  auto read = discoverySlots.qxModInst_GetInstalledDeviceAttributeViString.get();
  if (count > 0) list.reserve(static_cast<size_t>(count));
  for (int32_t index = 0; index < count; ++index) {
    NameEntry entry;
    if (read != nullptr) {
      entry.name = ReadDeviceText(read, session, index, kModInstAttrName);
      // The prefix stands for both the class and the prefix: it is what the
      // "typeClass" filter of a control names for modular instruments.
      entry.driverPrefix = ReadDeviceText(read, session, index, kModInstAttrPrefix);
      entry.driverClass = entry.driverPrefix;
    }
    list.push_back(std::move(entry));
  }
  PublishModInstrMasterList(std::move(list));
  return 0;
}

bool DiscoveryWanted(Refresh when) noexcept {
  if (when == Refresh::kNever) return false;
  auto &worker = TheModInstrMasterListThread();
  if (when == Refresh::kWhenChanged) {
    // Not asked while the worker runs (the answer could not start anything
    // then), nor while another thread is inside the library: the devices
    // then count as unchanged for this request, and the next one asks again.
    auto isCurrent = discoverySlots.qxModInst_IsConfigurationCurrent.get();
    if (isCurrent != nullptr) {
      if (worker.IsRunning() || !sessionGate.TryLock()) return false;
      GateLock lock(sessionGate, std::adopt_lock);
      uint16_t current = 0;
      isCurrent(GetModInstSession(), &current);
      if (current != 0) return false;
    }
  }
  if (GetModInstSession() == 0 || worker.IsRunning()) return false;
  return when == Refresh::kAlways || RescanDue(worker.lastStart.load(std::memory_order_acquire));
}

void LoadLibraryThread::Run() {
  RunQuietly([this] {
    GateLock lock(sessionGate);
    if (sessionGate.Overtaken(ticketsAtStart.session)) return;
    BindModInstLibrary();
    // A binding whose open gave no session leaves the slots filled: one more
    // try, which stores what the library hands out (0 means none).
    int32_t count = 0;
    if (GetModInstSession() == 0) OpenModInstSession(&count, FailedOpen::kKeepWhatItWrote);
  });
  // loaded first: a request between the two stores must not find the loader
  // idle and unloaded, or it would start a second one.
  loaded.store(true, std::memory_order_release);
  running.store(false, std::memory_order_release);
}

void GetModInstrMasterListThread::Run() {
  // The throttle counts from the start of a run, so a slow run allows the
  // next one as soon as it ends.
  lastStart.store(NowSeconds(), std::memory_order_release);
  RunQuietly([this] {
    GateLock lock(sessionGate);
    // A run decided before a release and reaching the session after it
    // would reopen what the release closed; it keeps the previous list.
    if (!sessionGate.Overtaken(ticketsAtStart.session)) BuildModInstrMasterList();
  });
  running.store(false, std::memory_order_release);
}

}  // namespace hx

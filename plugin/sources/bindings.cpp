#include "plugin/sources/bindings.h"

#include "plugin/sources/library_binding.h"
#include "plugin/common/status.h"
#include "support/dynload.h"
#include "support/trace.h"

namespace hx {

EntrySlots slots;

namespace {

std::atomic<int32_t> modInstSession{0};
std::atomic<void *> configHandle{nullptr};

// The gates close what a release asks to close; each is called with its
// gate held, which the analysis cannot see through the gate's carrying out.
void CloseSessionHeld() NO_THREAD_SAFETY_ANALYSIS {
  const int32_t session = GetModInstSession();
  if (session == 0) return;
  if (auto close = slots.qxModInst_CloseInstalledDevicesSession.get()) close(session);
  SetModInstSession(0);
}

// A closed handle must never be used again; the next list rebuild opens a
// new one.
void CloseConfigHeld() NO_THREAD_SAFETY_ANALYSIS {
  void *const config = GetConfigHandle();
  if (config == nullptr) return;
  if (auto close = slots.cfgCloseIniFile.get()) {
    close(config, 0);
    SetConfigHandle(nullptr);
  }
}

template <class Fn>
bool LookUp(void *library, const char *symbol, EntrySlot<Fn> &slot, StatusRecord *record) {
  void *address = qxdynlib_symbol(library, symbol, record);
  if (address == nullptr) return false;
  slot.set(reinterpret_cast<Fn>(address));
  return true;
}

void ClearDiscoverySlots() {
  slots.qxModInst_OpenInstalledDevicesSession.set(nullptr);
  slots.qxModInst_GetInstalledDeviceAttributeViString.set(nullptr);
  slots.qxModInst_GetInstalledDeviceAttributeViInt32.set(nullptr);
  slots.qxModInst_CloseInstalledDevicesSession.set(nullptr);
  slots.qxModInst_IsConfigurationCurrent.set(nullptr);
}

}  // namespace

ReleaseGate sessionGate{CloseSessionHeld};
ReleaseGate configGate{CloseConfigHeld};

ReleaseTickets TicketsBeforeLooking() {
  return ReleaseTickets{sessionGate.BeforeLooking(), configGate.BeforeLooking(),
                        visaGate.BeforeLooking()};
}
ReleaseTickets TicketsNow() {
  return ReleaseTickets{sessionGate.Now(), configGate.Now(), visaGate.Now()};
}

int32_t GetModInstSession() {
  return modInstSession.load(std::memory_order_acquire);
}
void SetModInstSession(int32_t session) {
  modInstSession.store(session, std::memory_order_release);
}

void *GetConfigHandle() {
  return configHandle.load(std::memory_order_acquire);
}
void SetConfigHandle(void *handle) {
  configHandle.store(handle, std::memory_order_release);
}

int32_t OpenDefaultConfiguration() {
  auto open = slots.cfgOpenIniFile.get();
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

int32_t BindModInstLibrary() {
  if (GetModInstSession() != 0) return 0;

  ScopedStatusRecord record;
  void *library = qxdynlib_load(QXMODINST_LIBRARY_NAME, kModInstLoadMode, record.get());
  // A null handle would make every lookup a process-wide one, so it counts as
  // a failure whatever the record says.
  if (record.failed() || library == nullptr) return kBindFailed;

  StatusRecord *r = record.get();
  const bool found = LookUp(library, "qxModInst_OpenInstalledDevicesSession",
                            slots.qxModInst_OpenInstalledDevicesSession, r) &&
                     LookUp(library, "qxModInst_GetInstalledDeviceAttributeViString",
                            slots.qxModInst_GetInstalledDeviceAttributeViString, r) &&
                     LookUp(library, "qxModInst_GetInstalledDeviceAttributeViInt32",
                            slots.qxModInst_GetInstalledDeviceAttributeViInt32, r) &&
                     LookUp(library, "qxModInst_CloseInstalledDevicesSession",
                            slots.qxModInst_CloseInstalledDevicesSession, r) &&
                     LookUp(library, "qxModInst_IsConfigurationCurrent",
                            slots.qxModInst_IsConfigurationCurrent, r);
  if (!found || record.failed()) {
    // Nothing may be left pointing into the library we are about to unload:
    // the workers call through the open slot whenever it is filled.
    ClearDiscoverySlots();
    qxdynlib_unload(library);
    SetModInstSession(0);
    return kBindFailed;
  }

  // Whatever session the library hands out is the session, even 0: callers
  // pass on what the library answers for it.
  int32_t session = 0;
  int32_t count = 0;
  slots.qxModInst_OpenInstalledDevicesSession.get()(QXMODINST_DRIVER_NAME, &session, &count);
  SetModInstSession(session);
  return 0;
}

void CloseModInstSession() {
  CloseSessionHeld();
}

int32_t ReopenModInstSession(int32_t *count) {
  auto open = slots.qxModInst_OpenInstalledDevicesSession.get();
  if (open == nullptr) return kBindFailed;
  const int32_t previous = GetModInstSession();
  if (previous != 0) {
    if (auto close = slots.qxModInst_CloseInstalledDevicesSession.get()) {
      const int32_t closed = close(previous);
      if (closed != 0) return closed;
    }
  }
  SetModInstSession(0);
  int32_t session = 0;
  const int32_t opened = open(QXMODINST_DRIVER_NAME, &session, count);
  if (opened != 0) return opened;
  SetModInstSession(session);
  return 0;
}

}  // namespace hx

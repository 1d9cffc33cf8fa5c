// The plug-in's IviIni_* exports. Twelve of them forward to the configuration
// library and three to the VISA library when a user named one (otherwise
// they answer 0 and write nothing); four serve installed modular instruments
// from the discovery library.
//
// The exports are synchronous by nature: each waits for the gate of the
// source it calls, and holds it only around that source's own calls.
#include <cstdint>

#include "plugin/common/guarded.h"
#include "plugin/sources/configuration.h"
#include "plugin/sources/discovery.h"
#include "plugin/sources/visa.h"
#include "velmora/velmora_hx.h"

namespace hx {
namespace {

// Failure answered by an export that cannot finish for a reason the design
// does not foresee (an exception inside the plug-in).
constexpr int32_t kUnexpectedFailure = -1;

// An outside library the forwarders reach: its gate, the step that binds
// it, the test whether it is bound, and its slots.
template <class Slots>
struct Forwarding {
  ReleaseGate &gate;
  int32_t (*ensure)();
  bool (*bound)();
  Slots &slots;
};
// The configuration library takes no locks of its own, so every call into
// it holds configGate; the VISA adapter's find lists live under visaGate.
const Forwarding<ConfigSlots> kToConfig{configGate, EnsureConfigLibrary, IsConfigLibraryBound,
                                        configSlots};
const Forwarding<VisaSlots> kToVisa{visaGate, EnsureVisaLibrary, IsVisaLibraryBound, visaSlots};

// The forwarding pattern: make sure the library is bound, then call its entry
// of the same name with the caller's arguments unchanged and answer what it
// answers. Unbound, the status of the binding step is the answer.
template <class Slots, class Fn, class... Args>
int32_t Forward(const Forwarding<Slots> &to, EntrySlot<Fn> Slots::*slot,
                Args... args) NO_THREAD_SAFETY_ANALYSIS {
  GateLock lock(to.gate);
  const int32_t status = to.ensure();
  if (status != 0 || !to.bound()) return status;
  Fn fn = (to.slots.*slot).get();
  return fn != nullptr ? fn(args...) : status;
}

template <class Fn, class... Args>
int32_t ForwardToConfig(EntrySlot<Fn> ConfigSlots::*slot, Args... args) {
  return Forward(kToConfig, slot, args...);
}

template <class Fn, class... Args>
int32_t ForwardToVisa(EntrySlot<Fn> VisaSlots::*slot, Args... args) {
  return Forward(kToVisa, slot, args...);
}

// Reads one string attribute of an installed device into the caller's
// buffer, which must hold the whole value: these exports take no size. The
// library is asked for the size the value needs and then writes at most that
// many bytes; the plug-in itself never reads the buffer.
int32_t ReadDeviceAttribute(uint32_t index, int32_t attribute, char *buffer, bool answerRead) {
  GateLock lock(sessionGate);
  const int32_t bound = BindModInstLibrary();
  if (bound != 0) return bound;
  auto read = discoverySlots.qxModInst_GetInstalledDeviceAttributeViString.get();
  if (read == nullptr) return kBindFailed;
  const int32_t session = GetModInstSession();
  const auto device = static_cast<int32_t>(index);
  const int32_t size = read(session, device, attribute, 0, nullptr);
  // A null buffer gets the size query again rather than a write through null.
  const int32_t status = buffer != nullptr ? read(session, device, attribute, size, buffer)
                                           : read(session, device, attribute, 0, nullptr);
  return answerRead ? status : bound;
}

}  // namespace
}  // namespace hx

using hx::configSlots;
using hx::discoverySlots;

extern "C" {

int32_t IviIni_OpenIniFile(const char *path, void **handle) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    {
      hx::GateLock lock(hx::configGate);
      const int32_t status = hx::EnsureConfigLibrary();
      if (status != 0) return status;
      if (auto open = configSlots.cfgOpenIniFile.get()) open(path, handle);
    }
    hx::GateLock lock(hx::sessionGate);
    hx::BindModInstLibrary();
    return 0;
  });
}

int32_t IviIni_CloseIniFile(void *handle, uint8_t save) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    int32_t status = 0;
    {
      hx::GateLock lock(hx::configGate);
      status = hx::EnsureConfigLibrary();
    }
    {
      // The discovery session closes first, whatever the configuration
      // library answers afterwards.
      hx::GateLock lock(hx::sessionGate);
      hx::CloseModInstSession();
    }
    if (status != 0) return status;
    hx::GateLock lock(hx::configGate);
    if (!hx::IsConfigLibraryBound()) return status;
    auto close = configSlots.cfgCloseIniFile.get();
    return close != nullptr ? close(handle, static_cast<int8_t>(save)) : status;
  });
}

int32_t IviIni_ConfigurationChanged(void *handle, uint8_t *changed) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    uint8_t configChanged = 0;
    uint16_t devicesCurrent = 1;
    {
      hx::GateLock lock(hx::configGate);
      const int32_t status = hx::EnsureConfigLibrary();
      if (status != 0) return status;
    }
    {
      hx::GateLock lock(hx::sessionGate);
      hx::BindModInstLibrary();
    }
    {
      hx::GateLock lock(hx::configGate);
      if (auto fn = configSlots.cfgConfigurationChanged.get()) fn(handle, &configChanged);
    }
    {
      hx::GateLock lock(hx::sessionGate);
      // Asked also without a session: the library then answers for session 0.
      if (auto fn = discoverySlots.qxModInst_IsConfigurationCurrent.get()) {
        fn(hx::GetModInstSession(), &devicesCurrent);
      }
    }
    // VISA is never bound, opened or waited for here: its listing may be in
    // the middle of a slow open on the worker. The staleness its source keeps
    // is its change report.
    const bool visaChanged = hx::IsVisaLibraryBound() && hx::VisaListingStale();
    if (changed != nullptr) {
      *changed = (configChanged != 0 || devicesCurrent == 0 || visaChanged) ? 1 : 0;
    }
    return 0;
  });
}

int32_t IviIni_ReloadConfiguration(void *handle) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToConfig(&hx::ConfigSlots::cfgReloadConfiguration, handle);
  });
}

int32_t IviIni_GetNumberOfLogicalNames(void *handle, int32_t *count) {
  return hx::Guarded(hx::kUnexpectedFailure, [&]() -> int32_t {
    hx::GateLock lock(hx::configGate);
    if (!hx::IsConfigLibraryBound()) return 0;
    auto fn = configSlots.cfgGetNumberOfLogicalNames.get();
    return fn != nullptr ? fn(handle, count) : 0;
  });
}

int32_t IviIni_GetNthLogicalName(void *handle, uint32_t index, const char **name) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToConfig(&hx::ConfigSlots::cfgGetNthLogicalName, handle, index, name);
  });
}

int32_t IviIni_GetLogicalNameVI(void *handle, const char *name, char *buffer, uint32_t size) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToConfig(&hx::ConfigSlots::cfgGetLogicalNameVI, handle, name, buffer, size);
  });
}

int32_t IviIni_GetVIDriver(void *handle, const char *name, char *buffer, uint32_t size) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToConfig(&hx::ConfigSlots::cfgGetVIDriver, handle, name, buffer, size);
  });
}

int32_t IviIni_GetDriverClass(void *handle, const char *name, char *buffer, uint32_t size) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToConfig(&hx::ConfigSlots::cfgGetDriverClass, handle, name, buffer, size);
  });
}

int32_t IviIni_GetDriverClassCount(void *handle, const char *name, int32_t *count) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToConfig(&hx::ConfigSlots::cfgGetDriverClassCount, handle, name, count);
  });
}

int32_t IviIni_GetDriverClassByIndex(void *handle, const char *name, int32_t index, char *buffer,
                                     uint32_t size) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToConfig(&hx::ConfigSlots::cfgGetDriverClassByIndex, handle, name, index,
                               buffer, size);
  });
}

int32_t IviIni_GetDriverPrefix(void *handle, const char *name, char *buffer, uint32_t size) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToConfig(&hx::ConfigSlots::cfgGetDriverPrefix, handle, name, buffer, size);
  });
}

int32_t IviIni_GetNumberOfVisaNames(int32_t *count, char *buffer, uint32_t *list) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToVisa(&hx::VisaSlots::visaGetNumberOfVisaNames, count, buffer, list);
  });
}

int32_t IviIni_GetNextVisaName(uint32_t list, char *buffer) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToVisa(&hx::VisaSlots::visaGetNextVisaName, list, buffer);
  });
}

int32_t IviIni_CloseVisaNameList(uint32_t list) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ForwardToVisa(&hx::VisaSlots::visaCloseVisaNameList, list);
  });
}

int32_t IviIni_GetNumberOfModularInstruments(void * /*handle*/, int32_t *count) {
  return hx::Guarded(hx::kUnexpectedFailure, [&]() -> int32_t {
    // The count comes from a fresh session, which also makes the session
    // reflect the devices installed now.
    hx::GateLock lock(hx::sessionGate);
    if (hx::GetModInstSession() == 0 || !discoverySlots.qxModInst_CloseInstalledDevicesSession) {
      return 0;
    }
    int32_t ignored = 0;
    return hx::ReopenModInstSession(count != nullptr ? count : &ignored);
  });
}

int32_t IviIni_GetModularInstrumentName(void * /*handle*/, uint32_t index, char *buffer) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ReadDeviceAttribute(index, kModInstAttrName, buffer, /*answerRead=*/false);
  });
}

int32_t IviIni_GetModularInstrumentClass(void * /*handle*/, uint32_t index, char *buffer) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ReadDeviceAttribute(index, kModInstAttrClass, buffer, /*answerRead=*/true);
  });
}

int32_t IviIni_GetModularInstrumentPrefix(void * /*handle*/, uint32_t index, char *buffer) {
  return hx::Guarded(hx::kUnexpectedFailure, [&] {
    return hx::ReadDeviceAttribute(index, kModInstAttrPrefix, buffer, /*answerRead=*/false);
  });
}

}  // extern "C"

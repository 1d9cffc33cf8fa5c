// The discovery source: the modular-instrument discovery library
// libqxmodinst.so, its installed-devices session and the modular-instrument
// master list built from it.
//
// sessionGate covers binding the library and every open, close and use of
// the session, so that the library is never loaded twice at once and no
// session is used while another thread closes it. The host's UI path
// (GetIOControlNames, ReleasingAppRef) only ever tries it: opening a session
// can take seconds.
//
// The binding, the session's life and the worker are as they have always
// been: the loader worker binds the library and opens the session, every
// discovery run replaces the session, a release closes it, and after a
// release the next call that binds the library (an IviIni_* export) opens a
// new one; requests alone never do.
#ifndef VELMORA_PLUGIN_SOURCES_DISCOVERY_H
#define VELMORA_PLUGIN_SOURCES_DISCOVERY_H

#include <cstdint>

#include "plugin/common/thread_annotations.h"
#include "plugin/sources/entry_slot.h"
#include "plugin/sources/library_binding.h"
#include "plugin/sources/modinst_api.h"
#include "plugin/sources/refresh.h"
#include "plugin/sources/release_gate.h"

namespace hx {

// dlopen mode of the discovery library: RTLD_NOW | RTLD_GLOBAL.
constexpr int32_t kModInstLoadMode = 258;

extern ReleaseGate sessionGate;

// The discovery library's entries, filled by BindModInstLibrary all or none.
// Invariant: a non-zero session comes only from a complete binding, so while
// one is open every slot is filled.
struct DiscoverySlots {
  EntrySlot<qxModInst_OpenInstalledDevicesSession_t> qxModInst_OpenInstalledDevicesSession;
  EntrySlot<qxModInst_GetInstalledDeviceAttributeViString_t>
      qxModInst_GetInstalledDeviceAttributeViString;
  EntrySlot<qxModInst_GetInstalledDeviceAttributeViInt32_t>
      qxModInst_GetInstalledDeviceAttributeViInt32;
  EntrySlot<qxModInst_CloseInstalledDevicesSession_t> qxModInst_CloseInstalledDevicesSession;
  EntrySlot<qxModInst_IsConfigurationCurrent_t> qxModInst_IsConfigurationCurrent;
};
extern DiscoverySlots discoverySlots;

// The open installed-devices session (0: none). Only the holder of
// sessionGate changes it; anyone may read it.
int32_t GetModInstSession();
void SetModInstSession(int32_t session) REQUIRES(sessionGate);

// Binds libqxmodinst.so and opens the installed-devices session unless a
// session is open already. Answers 0, or kBindFailed with the library
// unloaded and no session.
int32_t BindModInstLibrary() REQUIRES(sessionGate);

// How OpenModInstSession treats a failing open.
enum class FailedOpen : uint8_t {
  kKeepWhatItWrote,  // the session the library wrote is the session
  kNoSession,        // no session
};
// Opens a session on the devices installed now ("qxModularInstrument"),
// writes the device count to *count and makes it the session. Answers the
// library's status (kBindFailed when the open entry is not bound).
int32_t OpenModInstSession(int32_t *count, FailedOpen rule) REQUIRES(sessionGate);

// Closes the open session, if any, and forgets it whatever the library
// answers.
void CloseModInstSession() REQUIRES(sessionGate);

// Replaces the session by a fresh one, so that it lists the devices
// installed now; the device count goes to *count. A failing close answers its
// status and keeps the old session; a failing open answers its status and
// leaves no session.
int32_t ReopenModInstSession(int32_t *count) REQUIRES(sessionGate);

// Replaces the session by a fresh one and rebuilds modInstrMasterList from it.
// Answers 0 or the failing close or open's status (the list then stays as it
// was).
int32_t BuildModInstrMasterList() REQUIRES(sessionGate);

// For a request: whether to start the discovery worker, as the mode's
// refresh says (mode 0: when the library reports the devices changed, or
// cannot be asked, and the rescan is due). Never waits for sessionGate: a
// thread inside the library counts as "unchanged" for this request.
bool DiscoveryWanted(Refresh when) noexcept;

}  // namespace hx

#endif

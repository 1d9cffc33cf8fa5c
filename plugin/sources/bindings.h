// Run-time binding state of the plug-in: the entry slots through which it
// reaches the configuration, VISA and modular-instrument discovery libraries,
// the discovery session and the configuration handle.
//
// Threads: host threads (the IviIni_* exports, the request, ReleasingAppRef)
// and the worker threads all read this state. Every slot and the two handles
// are atomics, so a reader sees either null or a complete value. Each outside
// resource has a gate (release_gate.h):
// - sessionGate: binding the discovery library and every open, close and use
//   of the discovery session, so that the library is never loaded twice and
//   no session is used while another thread closes it;
// - configGate: binding the configuration library, filling its slots, and
//   every call into it, since that library takes no locks of its own and its
//   callers must serialise. Whoever holds it sees the configuration slots
//   all filled or all empty.
// - visaGate: binding the VISA library, its resource manager and every find
//   list, and every call through the VISA slots.
//
// Opening a discovery session, or loading a large store, can take seconds,
// and the host's UI thread must never wait for another thread doing that:
// the entries the host calls on its UI path (GetIOControlNames,
// ReleasingAppRef) only ever try a gate, and a release that finds one taken
// is carried out by its holder on the way out.
#ifndef VELMORA_PLUGIN_BINDINGS_H
#define VELMORA_PLUGIN_BINDINGS_H

#include <atomic>
#include <cstdint>

#include "plugin/host/host_api.h"
#include "plugin/sources/modinst_api.h"
#include "plugin/sources/release_gate.h"
#include "plugin/common/thread_annotations.h"

namespace hx {

// Answer of BindModInstLibrary and EnsureConfigLibrary when the library or
// one of its entries cannot be bound.
constexpr int32_t kBindFailed = -1;
// dlopen mode of the discovery library: RTLD_NOW | RTLD_GLOBAL.
constexpr int32_t kModInstLoadMode = 258;

// One entry of an outside library: a function pointer that stays null while
// the library is not bound. Stores publish with release, loads acquire, so a
// caller that sees the pointer also sees everything bound before it.
template <class Fn>
class EntrySlot {
 public:
  Fn get() const { return fn_.load(std::memory_order_acquire); }
  void set(Fn fn) { fn_.store(fn, std::memory_order_release); }
  explicit operator bool() const { return get() != nullptr; }

 private:
  std::atomic<Fn> fn_{nullptr};
};

// Shapes of the configuration-library entries, as every caller passes them.
using CfgOpenIniFileFn = int32_t (*)(const char *path, void **handle);
using CfgCloseIniFileFn = int32_t (*)(void *handle, int32_t flag);
using CfgConfigurationChangedFn = int32_t (*)(void *handle, uint8_t *changed);
using CfgReloadConfigurationFn = int32_t (*)(void *handle);
using CfgGetNumberOfLogicalNamesFn = int32_t (*)(void *handle, int32_t *count);
using CfgGetNthLogicalNameFn = int32_t (*)(void *handle, uint32_t index, const char **name);
using CfgGetTextByNameFn = int32_t (*)(void *handle, const char *name, char *buffer,
                                       uint32_t size);
using CfgGetDriverClassCountFn = int32_t (*)(void *handle, const char *name, int32_t *count);
using CfgGetDriverClassByIndexFn = int32_t (*)(void *handle, const char *name, int32_t index,
                                               char *buffer, uint32_t size);
// Shapes of the VISA-library entries.
using VisaGetNumberOfVisaNamesFn = int32_t (*)(int32_t *count, char *buffer, uint32_t *list);
using VisaGetNextVisaNameFn = int32_t (*)(uint32_t list, char *buffer);
using VisaCloseVisaNameListFn = int32_t (*)(uint32_t list);
using VisaResourcesChangedFn = int32_t (*)(uint16_t *changed);
// Hooks around the host entries; nothing fills them on this platform.
using RequestHookFn = int32_t (*)(uint32_t appContext, ConstPStr ioClass, void *reserved,
                                  HxHandle *names, HxVariantRef properties, uint32_t mode);
using RequestFallbackFn = void (*)();
using ReleaseHookFn = int32_t (*)();

extern ReleaseGate sessionGate;
extern ReleaseGate configGate;
extern ReleaseGate visaGate;

struct EntrySlots {
  // Discovery library, filled by BindModInstLibrary.
  EntrySlot<qxModInst_OpenInstalledDevicesSession_t> qxModInst_OpenInstalledDevicesSession;
  EntrySlot<qxModInst_GetInstalledDeviceAttributeViString_t>
      qxModInst_GetInstalledDeviceAttributeViString;
  EntrySlot<qxModInst_GetInstalledDeviceAttributeViInt32_t>
      qxModInst_GetInstalledDeviceAttributeViInt32;
  EntrySlot<qxModInst_CloseInstalledDevicesSession_t> qxModInst_CloseInstalledDevicesSession;
  EntrySlot<qxModInst_IsConfigurationCurrent_t> qxModInst_IsConfigurationCurrent;
  // Configuration library: filled, and called through, under configGate.
  EntrySlot<CfgOpenIniFileFn> cfgOpenIniFile GUARDED_BY(configGate);
  EntrySlot<CfgConfigurationChangedFn> cfgConfigurationChanged GUARDED_BY(configGate);
  EntrySlot<CfgReloadConfigurationFn> cfgReloadConfiguration GUARDED_BY(configGate);
  EntrySlot<CfgCloseIniFileFn> cfgCloseIniFile GUARDED_BY(configGate);
  EntrySlot<CfgGetNumberOfLogicalNamesFn> cfgGetNumberOfLogicalNames GUARDED_BY(configGate);
  EntrySlot<CfgGetNthLogicalNameFn> cfgGetNthLogicalName GUARDED_BY(configGate);
  EntrySlot<CfgGetTextByNameFn> cfgGetLogicalNameVI GUARDED_BY(configGate);
  EntrySlot<CfgGetTextByNameFn> cfgGetVIDriver GUARDED_BY(configGate);
  EntrySlot<CfgGetTextByNameFn> cfgGetDriverClass GUARDED_BY(configGate);
  EntrySlot<CfgGetDriverClassCountFn> cfgGetDriverClassCount GUARDED_BY(configGate);
  EntrySlot<CfgGetDriverClassByIndexFn> cfgGetDriverClassByIndex GUARDED_BY(configGate);
  EntrySlot<CfgGetTextByNameFn> cfgGetDriverPrefix GUARDED_BY(configGate);
  // VISA library: filled, and called through, under visaGate.
  EntrySlot<VisaGetNumberOfVisaNamesFn> visaGetNumberOfVisaNames GUARDED_BY(visaGate);
  EntrySlot<VisaGetNextVisaNameFn> visaGetNextVisaName GUARDED_BY(visaGate);
  EntrySlot<VisaCloseVisaNameListFn> visaCloseVisaNameList GUARDED_BY(visaGate);
  EntrySlot<VisaResourcesChangedFn> visaResourcesChanged GUARDED_BY(visaGate);
  // Hooks.
  EntrySlot<RequestHookFn> requestHook;
  EntrySlot<RequestFallbackFn> requestFallback;
  EntrySlot<ReleaseHookFn> releaseHook;
};

// The process-wide slots; all null at load, never freed.
extern EntrySlots slots;

// What a worker run was decided before: one ticket per gate (release_gate.h).
struct ReleaseTickets {
  ReleaseGate::Ticket session = 0;
  ReleaseGate::Ticket config = 0;
  ReleaseGate::Ticket visa = 0;
};
// For a run decided by looking at what it will use: taken before looking.
ReleaseTickets TicketsBeforeLooking();
// For the one-time binding, decided without looking: releases asked so far
// do not overtake it.
ReleaseTickets TicketsNow();

// The open installed-devices session (0: none). Only the holder of
// sessionGate changes it; anyone may read it.
int32_t GetModInstSession();
void SetModInstSession(int32_t session) REQUIRES(sessionGate);

// The configuration library's handle (null: none), as cfgOpenIniFile handed
// it out to the loader worker or the IVI list builder.
void *GetConfigHandle() REQUIRES(configGate);
void SetConfigHandle(void *handle) REQUIRES(configGate);

// Opens the configuration library's default store into configHandle, when
// none is open and cfgOpenIniFile is filled. Answers the library's status
// (0 when there was nothing to do); a store that cannot be opened leaves
// configHandle null, so that the next attempt opens it once it is mended,
// and is named in one trace line with the library's status.
int32_t OpenDefaultConfiguration() REQUIRES(configGate);

// Binds libqxmodinst.so and opens the installed-devices session unless a
// session is open already. Answers 0, or kBindFailed with the library
// unloaded, every discovery slot null and no session.
int32_t BindModInstLibrary() REQUIRES(sessionGate);

// Closes the open discovery session, if any, and forgets it whatever the
// library answers.
void CloseModInstSession() REQUIRES(sessionGate);

// Replaces the discovery session by a fresh one, so that it lists the
// devices installed now; the device count goes to *count. A failing close
// answers its status and keeps the old session; a failing open answers its
// status and leaves no session. Needs the open entry bound (kBindFailed
// otherwise).
int32_t ReopenModInstSession(int32_t *count) REQUIRES(sessionGate);

// The configuration library is bound on opt-in only: the environment
// variable below names it (a file name the dynamic loader searches for, or
// a path). Unset or empty, EnsureConfigLibrary does nothing and answers 0
// and IsConfigLibraryBound stays false. Set, EnsureConfigLibrary binds all
// twelve configuration entries once or none of them: a library or entry
// that cannot be had leaves every slot empty, unloads what was opened, writes
// one trace line and answers kBindFailed; a later call tries again. A
// set-user-ID or set-group-ID host ignores the variable.
constexpr const char *kConfigLibraryVariable = "VELMORA_HX_CONFIG_LIBRARY";
int32_t EnsureConfigLibrary() REQUIRES(configGate);
bool IsConfigLibraryBound();

// The VISA library is bound on opt-in only, like the configuration library:
// kVisaLibraryVariable names any library with the standard VISA entries.
// EnsureVisaLibrary binds them once, all or none (a failure unloads, writes
// one trace line and answers kBindFailed; a later call tries again), fills
// the four VISA slots with the plug-in's adapters and opens the default
// resource manager if none is open (answering VISA's failing status, named
// in one trace line, when it cannot). The adapters list the resources that
// match kVisaExpressionVariable's expression, "?*::INSTR" by default.
// Unset, EnsureVisaLibrary does nothing and answers 0 and IsVisaLibraryBound
// stays false.
constexpr const char *kVisaLibraryVariable = "VELMORA_HX_VISA_LIBRARY";
constexpr const char *kVisaExpressionVariable = "VELMORA_HX_VISA_EXPRESSION";
int32_t EnsureVisaLibrary() REQUIRES(visaGate);
bool IsVisaLibraryBound();

}  // namespace hx

#endif

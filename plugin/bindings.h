// Run-time binding state of the plug-in: the entry slots through which it
// reaches the configuration, VISA and modular-instrument discovery libraries,
// the discovery session and the configuration handle.
//
// Threads: host threads (the IviIni_* exports, the request, ReleasingAppRef)
// and the worker threads all read this state. Every slot and the two handles
// are atomics, so a reader sees either null or a complete value. Binding the
// discovery library and anything that opens, closes or uses the discovery
// session runs under the session lock, so the library is never loaded twice
// and no session is used while another thread closes it. The configuration
// handle is used and closed under the configuration lock.
//
// Opening a discovery session can take seconds, and the host's UI thread
// must never wait for that: the entries the host calls on its UI path
// (GetIOControlNames, ReleasingAppRef) only ever try the session lock, and a
// release that finds it taken is carried out by its holder on the way out.
#ifndef VELMORA_PLUGIN_BINDINGS_H
#define VELMORA_PLUGIN_BINDINGS_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "plugin/host_api.h"
#include "plugin/modinst_api.h"

namespace hx {

// Answer of BindModInstLibrary when the library or one of its entries cannot
// be bound.
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

struct EntrySlots {
  // Discovery library, filled by BindModInstLibrary.
  EntrySlot<qxModInst_OpenInstalledDevicesSession_t> qxModInst_OpenInstalledDevicesSession;
  EntrySlot<qxModInst_GetInstalledDeviceAttributeViString_t>
      qxModInst_GetInstalledDeviceAttributeViString;
  EntrySlot<qxModInst_GetInstalledDeviceAttributeViInt32_t>
      qxModInst_GetInstalledDeviceAttributeViInt32;
  EntrySlot<qxModInst_CloseInstalledDevicesSession_t> qxModInst_CloseInstalledDevicesSession;
  EntrySlot<qxModInst_IsConfigurationCurrent_t> qxModInst_IsConfigurationCurrent;
  // Configuration library.
  EntrySlot<CfgOpenIniFileFn> cfgOpenIniFile;
  EntrySlot<CfgConfigurationChangedFn> cfgConfigurationChanged;
  EntrySlot<CfgReloadConfigurationFn> cfgReloadConfiguration;
  EntrySlot<CfgCloseIniFileFn> cfgCloseIniFile;
  EntrySlot<CfgGetNumberOfLogicalNamesFn> cfgGetNumberOfLogicalNames;
  EntrySlot<CfgGetNthLogicalNameFn> cfgGetNthLogicalName;
  EntrySlot<CfgGetTextByNameFn> cfgGetLogicalNameVI;
  EntrySlot<CfgGetTextByNameFn> cfgGetVIDriver;
  EntrySlot<CfgGetTextByNameFn> cfgGetDriverClass;
  EntrySlot<CfgGetDriverClassCountFn> cfgGetDriverClassCount;
  EntrySlot<CfgGetDriverClassByIndexFn> cfgGetDriverClassByIndex;
  EntrySlot<CfgGetTextByNameFn> cfgGetDriverPrefix;
  // VISA library.
  EntrySlot<VisaGetNumberOfVisaNamesFn> visaGetNumberOfVisaNames;
  EntrySlot<VisaGetNextVisaNameFn> visaGetNextVisaName;
  EntrySlot<VisaCloseVisaNameListFn> visaCloseVisaNameList;
  EntrySlot<VisaResourcesChangedFn> visaResourcesChanged;
  // Hooks.
  EntrySlot<RequestHookFn> requestHook;
  EntrySlot<RequestFallbackFn> requestFallback;
  EntrySlot<ReleaseHookFn> releaseHook;
};

// The process-wide slots; all null at load, never freed.
extern EntrySlots slots;

// The open installed-devices session (0: none). Only code holding the session
// lock changes it; anyone may read it.
int32_t GetModInstSession();
void SetModInstSession(int32_t session);

// The configuration library's handle (null: none), as cfgOpenIniFile handed
// it out to the loader worker or the IVI list builder.
void *GetConfigHandle();
void SetConfigHandle(void *handle);

// Holding a SessionLock is the right to bind the discovery library and to
// open, close or use the discovery session. Functions that need it take a
// reference as proof.
//
// Whoever holds the lock also carries out the releases asked for
// (ReleaseModInstSession): when it takes the lock and again before it lets
// go, so that a session opened while a release was pending is closed at the
// end of that hold, and the session is never left open behind a release.
class SessionLock {
 public:
  // Waits for the lock: for the IviIni_* exports and the workers, whose
  // calls into the discovery library are synchronous by nature.
  SessionLock();
  // Takes the lock only if it is free at once; owns() tells. For the host's
  // UI path, which must not wait for another thread's discovery call.
  explicit SessionLock(std::try_to_lock_t);
  ~SessionLock();
  SessionLock(const SessionLock &) = delete;
  SessionLock &operator=(const SessionLock &) = delete;

  bool owns() const { return owns_; }

 private:
  bool owns_;
};

// Asks for the discovery session to be closed and forgotten, without waiting
// for a discovery call in flight: when the session lock is free the caller
// closes the session itself, otherwise its holder does before letting go.
// Either way, once the call has returned and the work in flight has
// finished, no session opened before or during the release is left open.
void ReleaseModInstSession();

// How many releases have been asked for since load. A worker run remembers
// the count when it is started; a run that finds it changed when it gets the
// session lock was overtaken by a release and opens no session.
uint64_t ModInstReleaseCount();

// Holding a ConfigLock is the right to use or replace configHandle and to
// call the configuration library with it: the request's reload and rebuild,
// the loader's open and ReleasingAppRef's close. None of them calls into the
// discovery library while holding it.
class ConfigLock {
 public:
  ConfigLock();
  ConfigLock(const ConfigLock &) = delete;
  ConfigLock &operator=(const ConfigLock &) = delete;

 private:
  std::lock_guard<std::mutex> guard_;
};

// Binds libqxmodinst.so and opens the installed-devices session unless a
// session is open already. Answers 0, or kBindFailed with the library
// unloaded, every discovery slot null and no session.
int32_t BindModInstLibrary(const SessionLock &);

// Closes the open discovery session, if any, and forgets it whatever the
// library answers.
void CloseModInstSession(const SessionLock &);

// Replaces the discovery session by a fresh one, so that it lists the
// devices installed now; the device count goes to *count. A failing close
// answers its status and keeps the old session; a failing open answers its
// status and leaves no session. Needs the open entry bound (kBindFailed
// otherwise).
int32_t ReopenModInstSession(const SessionLock &, int32_t *count);

// The configuration and VISA libraries are not bound on this platform.
int32_t EnsureConfigLibrary();
int32_t EnsureVisaLibrary();
bool IsConfigLibraryBound();
bool IsVisaLibraryBound();

}  // namespace hx

#endif

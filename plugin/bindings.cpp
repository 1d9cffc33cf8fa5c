#include "plugin/bindings.h"

#include "support/dynload.h"
#include "support/status_record.h"

namespace hx {

EntrySlots slots;

namespace {

std::atomic<int32_t> modInstSession{0};
std::atomic<void *> configHandle{nullptr};

// Guards binding the discovery library and every open, close and use of the
// discovery session (see SessionLock).
std::mutex sessionMutex;
// Releases asked for (ReleaseModInstSession) and releases carried out (the
// session closed after them). Asked is counted by any thread; done is
// written only by the holder of sessionMutex. The two differ while a release
// waits for the holder of the lock.
std::atomic<uint64_t> releasesAsked{0};
std::atomic<uint64_t> releasesDone{0};

// Guards configHandle and the configuration library's use of it.
std::mutex configMutex;

// Owns a status record for the length of one binding; its text is released
// unread, since the binding only needs the status.
class ScopedStatusRecord {
 public:
  ScopedStatusRecord() : record_(status_record_make()) {}
  ~ScopedStatusRecord() { status_release(&record_); }
  ScopedStatusRecord(const ScopedStatusRecord &) = delete;
  ScopedStatusRecord &operator=(const ScopedStatusRecord &) = delete;

  StatusRecord *get() { return &record_; }
  bool failed() const { return record_.code < 0; }

 private:
  StatusRecord record_;
};

template <class Fn>
bool LookUp(void *library, const char *symbol, EntrySlot<Fn> &slot, StatusRecord *record) {
  void *address = qxdynlib_symbol(library, symbol, record);
  if (address == nullptr) return false;
  slot.set(reinterpret_cast<Fn>(address));
  return true;
}

// Closes and forgets the session; sessionMutex is held.
void CloseSessionHeld() {
  const int32_t session = GetModInstSession();
  if (session == 0) return;
  if (auto close = slots.qxModInst_CloseInstalledDevicesSession.get()) close(session);
  SetModInstSession(0);
}

// Carries out the releases asked for so far; sessionMutex is held.
void CarryOutReleases() {
  const uint64_t asked = releasesAsked.load(std::memory_order_acquire);
  if (asked == releasesDone.load(std::memory_order_relaxed)) return;
  CloseSessionHeld();
  releasesDone.store(asked, std::memory_order_release);
}

// Runs after letting go of sessionMutex, and by ReleaseModInstSession: a
// release asked for meanwhile is carried out here, unless another thread
// holds the lock now, which then carries it out on its own way out.
//
// Why no release is lost: the asking side increments releasesAsked and then
// tries the lock; the letting-go side unlocks and then reads releasesAsked
// with a read-modify-write. Both touch releasesAsked with acq_rel
// read-modify-writes, so either the reader sees the new count, or the
// increment comes later in its order and the unlock happens before the
// asking side's try_lock, which then finds the lock free or held by a
// newer holder that will look again. glibc's try_lock fails only when the
// mutex is held.
void CarryOutLateReleases() {
  for (;;) {
    const uint64_t asked = releasesAsked.fetch_add(0, std::memory_order_acq_rel);
    if (asked == releasesDone.load(std::memory_order_acquire)) return;
    if (!sessionMutex.try_lock()) return;
    CarryOutReleases();
    sessionMutex.unlock();
  }
}

void ClearDiscoverySlots() {
  slots.qxModInst_OpenInstalledDevicesSession.set(nullptr);
  slots.qxModInst_GetInstalledDeviceAttributeViString.set(nullptr);
  slots.qxModInst_GetInstalledDeviceAttributeViInt32.set(nullptr);
  slots.qxModInst_CloseInstalledDevicesSession.set(nullptr);
  slots.qxModInst_IsConfigurationCurrent.set(nullptr);
}

}  // namespace

int32_t GetModInstSession() { return modInstSession.load(std::memory_order_acquire); }
void SetModInstSession(int32_t session) {
  modInstSession.store(session, std::memory_order_release);
}

void *GetConfigHandle() { return configHandle.load(std::memory_order_acquire); }
void SetConfigHandle(void *handle) { configHandle.store(handle, std::memory_order_release); }

SessionLock::SessionLock() : owns_(true) {
  sessionMutex.lock();
  CarryOutReleases();
}

SessionLock::SessionLock(std::try_to_lock_t) : owns_(sessionMutex.try_lock()) {
  if (owns_) CarryOutReleases();
}

SessionLock::~SessionLock() {
  if (!owns_) return;
  CarryOutReleases();
  sessionMutex.unlock();
  CarryOutLateReleases();
}

void ReleaseModInstSession() {
  releasesAsked.fetch_add(1, std::memory_order_acq_rel);
  CarryOutLateReleases();
}

uint64_t ModInstReleaseCount() { return releasesAsked.load(std::memory_order_acquire); }

ConfigLock::ConfigLock() : guard_(configMutex) {}

int32_t BindModInstLibrary(const SessionLock &) {
  if (GetModInstSession() != 0) return 0;

  ScopedStatusRecord record;
  void *library = qxdynlib_load(QXMODINST_LIBRARY_NAME, kModInstLoadMode, record.get());
  // A null handle would make every lookup a process-wide one, so it counts as
  // a failure whatever the record says.
  if (record.failed() || library == nullptr) return kBindFailed;

  StatusRecord *r = record.get();
  const bool found =
      LookUp(library, "qxModInst_OpenInstalledDevicesSession",
             slots.qxModInst_OpenInstalledDevicesSession, r) &&
      LookUp(library, "qxModInst_GetInstalledDeviceAttributeViString",
             slots.qxModInst_GetInstalledDeviceAttributeViString, r) &&
      LookUp(library, "qxModInst_GetInstalledDeviceAttributeViInt32",
             slots.qxModInst_GetInstalledDeviceAttributeViInt32, r) &&
      LookUp(library, "qxModInst_CloseInstalledDevicesSession",
             slots.qxModInst_CloseInstalledDevicesSession, r) &&
      LookUp(library, "qxModInst_IsConfigurationCurrent", slots.qxModInst_IsConfigurationCurrent,
             r);
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

void CloseModInstSession(const SessionLock &) { CloseSessionHeld(); }

int32_t ReopenModInstSession(const SessionLock &, int32_t *count) {
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

int32_t EnsureConfigLibrary() { return 0; }
int32_t EnsureVisaLibrary() { return 0; }
bool IsConfigLibraryBound() { return false; }
bool IsVisaLibraryBound() { return false; }

}  // namespace hx

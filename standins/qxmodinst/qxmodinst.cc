// The discovery stand-in: its sessions, settings and counters, the five
// library entries and the test controls.
#include "qxmodinst_standin.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "c_guard.h"
#include "devices_file.h"
#include "modinst_api.h"

using standins::Guarded;

// The entries must keep the shapes through which the plug-in calls them.
static_assert(std::is_same_v<decltype(&qxModInst_OpenInstalledDevicesSession),
                             qxModInst_OpenInstalledDevicesSession_t>);
static_assert(std::is_same_v<decltype(&qxModInst_GetInstalledDeviceAttributeViString),
                             qxModInst_GetInstalledDeviceAttributeViString_t>);
static_assert(std::is_same_v<decltype(&qxModInst_GetInstalledDeviceAttributeViInt32),
                             qxModInst_GetInstalledDeviceAttributeViInt32_t>);
static_assert(std::is_same_v<decltype(&qxModInst_CloseInstalledDevicesSession),
                             qxModInst_CloseInstalledDevicesSession_t>);
#ifndef QXMODINST_STANDIN_NO_CONFIGURATION_CHECK
static_assert(std::is_same_v<decltype(&qxModInst_IsConfigurationCurrent),
                             qxModInst_IsConfigurationCurrent_t>);
#endif

namespace qxmodinst {
namespace {

struct Settings {
  std::string devicesPath;  // empty: no file, so no devices
  uint32_t openDelayMs = 0;
  int32_t openStatus = QXMODINST_SUCCESS;
  int32_t closeStatus = QXMODINST_SUCCESS;
  int32_t attributeStatus = QXMODINST_SUCCESS;
  bool zeroSession = false;
};

struct Session {
  std::string path;
  FileIdentity identity;
  std::vector<Device> devices;
};

// Parses an environment value as a whole decimal number within [low, high].
bool ParseNumber(const char *text, long long low, long long high, long long *value) {
  errno = 0;
  char *end = nullptr;
  const long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

// Gives a container's memory back to the heap; clear() may keep capacity.
template <typename Container>
void Release(Container &container) {
  Container().swap(container);
}

class Library {
 public:
  // Created when the library is loaded (see LoadSettings below) in static
  // storage and never destroyed: a plug-in worker may still call in while
  // the process exits, and must find a working mutex then.
  static Library &Instance() {
    alignas(Library) static unsigned char storage[sizeof(Library)];
    static Library *const library = new (storage) Library;
    return *library;
  }

  // Frees every heap block the library holds. Runs when the library is
  // unloaded: the plug-in unloads it when a symbol is missing, and memory
  // still held then would be lost with the library's static storage. The
  // object stays usable, as if freshly reset without settings.
  void ReleaseMemory() {
    std::lock_guard<std::mutex> lock(mutex_);
    Release(sessions_);
    Release(fileErrors_);
    Release(environmentErrors_);
    Release(settings_.devicesPath);
    Release(loadSettings_.devicesPath);
  }

  int32_t Open(const char *driver, int32_t *session, int32_t *count) {
    uint32_t delayMs;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++counters_.opens;
      delayMs = settings_.openDelayMs;
      WaitAtGate(lock);
    }
    // The delay stands for a slow hardware scan; other calls go on meanwhile.
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

    std::lock_guard<std::mutex> lock(mutex_);
    if (settings_.openStatus != QXMODINST_SUCCESS) return settings_.openStatus;
    if (driver == nullptr || session == nullptr || count == nullptr) {
      return QXMODINST_ERROR_INVALID_ARGUMENT;
    }
    if (std::strcmp(driver, QXMODINST_DRIVER_NAME) != 0) return QXMODINST_ERROR_UNKNOWN_DRIVER;

    Session opened;
    opened.path = settings_.devicesPath;
    fileErrors_.clear();
    if (!opened.path.empty()) {
      DevicesSnapshot snapshot = ReadDevicesFile(opened.path);
      opened.identity = snapshot.identity;
      opened.devices = std::move(snapshot.parsed.devices);
      fileErrors_ = std::move(snapshot.parsed.errors);
    }
    const auto deviceCount = static_cast<int32_t>(opened.devices.size());
    if (settings_.zeroSession) {
      *session = 0;
      *count = deviceCount;
      return QXMODINST_SUCCESS;
    }
    const int32_t number = NextSessionNumber();
    sessions_.emplace(number, std::move(opened));
    *session = number;
    *count = deviceCount;
    return QXMODINST_SUCCESS;
  }

  int32_t GetString(int32_t session, int32_t index, int32_t attribute, int32_t size, char *buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.attribute_reads;
    if (settings_.attributeStatus != QXMODINST_SUCCESS) return settings_.attributeStatus;
    const Device *device = nullptr;
    const int32_t status = FindDevice(session, index, &device);
    if (status != QXMODINST_SUCCESS) return status;
    const std::string *value = nullptr;
    switch (attribute) {
      case kModInstAttrName:
        value = &device->name;
        break;
      case kModInstAttrClass:
        value = &device->deviceClass;
        break;
      case kModInstAttrPrefix:
        value = &device->prefix;
        break;
      default:
        return QXMODINST_ERROR_INVALID_ATTRIBUTE;
    }
    if (size < 0 || (size > 0 && buffer == nullptr)) return QXMODINST_ERROR_INVALID_ARGUMENT;
    const auto needed = static_cast<int32_t>(value->size() + 1);
    if (size == 0) return needed;
    const size_t written = size >= needed ? value->size() : static_cast<size_t>(size - 1);
    std::memcpy(buffer, value->data(), written);
    buffer[written] = '\0';
    return size >= needed ? QXMODINST_SUCCESS : needed;
  }

  int32_t GetInt32(int32_t session, int32_t index, int32_t attribute, int32_t *value) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.attribute_reads;
    if (settings_.attributeStatus != QXMODINST_SUCCESS) return settings_.attributeStatus;
    const Device *device = nullptr;
    const int32_t status = FindDevice(session, index, &device);
    if (status != QXMODINST_SUCCESS) return status;
    if (attribute != QXMODINST_ATTR_INDEX) return QXMODINST_ERROR_INVALID_ATTRIBUTE;
    if (value == nullptr) return QXMODINST_ERROR_INVALID_ARGUMENT;
    *value = index;
    return QXMODINST_SUCCESS;
  }

  int32_t Close(int32_t session) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++counters_.closes;
    WaitAtGate(lock);
    if (settings_.closeStatus != QXMODINST_SUCCESS) return settings_.closeStatus;
    return sessions_.erase(session) == 1 ? QXMODINST_SUCCESS : QXMODINST_ERROR_INVALID_SESSION;
  }

  int32_t IsCurrent(int32_t session, uint16_t *current) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++counters_.configuration_checks;
    WaitAtGate(lock);
    const auto it = sessions_.find(session);
    if (it == sessions_.end()) return QXMODINST_ERROR_INVALID_SESSION;
    if (current == nullptr) return QXMODINST_ERROR_INVALID_ARGUMENT;
    const Session &opened = it->second;
    // Pointing the library at another file changes the installed devices
    // as much as editing the file does.
    const bool same = opened.path == settings_.devicesPath &&
                      (opened.path.empty() || IdentityOf(opened.path) == opened.identity);
    *current = same ? 1 : 0;
    return QXMODINST_SUCCESS;
  }

  void HoldSessionCalls(bool hold) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      gateHeld_ = hold;
    }
    if (!hold) gateOpened_.notify_all();
  }

  int32_t SessionCallsWaiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return gateHeld_ ? waitingAtGate_ : 0;
  }

  void Reset() {
    HoldSessionCalls(false);
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.clear();
    counters_ = qxmodinst_standin_counters{};
    fileErrors_.clear();
    settings_ = loadSettings_;
  }

  // Applies change to the settings under the lock.
  template <typename Change>
  void Configure(Change &&change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(settings_);
  }

  qxmodinst_standin_counters Counters() {
    std::lock_guard<std::mutex> lock(mutex_);
    qxmodinst_standin_counters counters = counters_;
    counters.sessions_outstanding = static_cast<int64_t>(sessions_.size());
    return counters;
  }

  std::vector<std::string> Errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> all = environmentErrors_;
    all.insert(all.end(), fileErrors_.begin(), fileErrors_.end());
    return all;
  }

 private:
  Library() {
    LoadSettingsFromEnvironment();
    settings_ = loadSettings_;
  }

  void LoadSettingsFromEnvironment() {
    if (const char *path = std::getenv("QXMODINST_DEVICES")) loadSettings_.devicesPath = path;
    auto number = [this](const char *name, long long low, long long high, auto *target) {
      const char *text = std::getenv(name);
      if (text == nullptr) return;
      long long value = 0;
      if (!ParseNumber(text, low, high, &value)) {
        environmentErrors_.push_back(std::string(name) + "='" + text +
                                     "' is not a number in the allowed range; ignored");
        return;
      }
      *target = static_cast<std::remove_pointer_t<decltype(target)>>(value);
    };
    number("QXMODINST_OPEN_DELAY_MS", 0, 600000, &loadSettings_.openDelayMs);
    number("QXMODINST_OPEN_STATUS", INT32_MIN, INT32_MAX, &loadSettings_.openStatus);
    number("QXMODINST_CLOSE_STATUS", INT32_MIN, INT32_MAX, &loadSettings_.closeStatus);
    number("QXMODINST_ATTRIBUTE_STATUS", INT32_MIN, INT32_MAX, &loadSettings_.attributeStatus);
    number("QXMODINST_OPEN_ZERO_SESSION", 0, 1, &loadSettings_.zeroSession);
  }

  // A held gate stands for a scan (or a slow close or check) that takes as
  // long as a test wants; the attribute reads are served meanwhile.
  void WaitAtGate(std::unique_lock<std::mutex> &lock) {
    ++waitingAtGate_;
    gateOpened_.wait(lock, [this] { return !gateHeld_; });
    --waitingAtGate_;
  }

  // Expects mutex_ held.
  int32_t FindDevice(int32_t session, int32_t index, const Device **device) const {
    const auto it = sessions_.find(session);
    if (it == sessions_.end()) return QXMODINST_ERROR_INVALID_SESSION;
    const std::vector<Device> &devices = it->second.devices;
    if (index < 0 || static_cast<size_t>(index) >= devices.size()) {
      return QXMODINST_ERROR_INVALID_INDEX;
    }
    *device = &devices[static_cast<size_t>(index)];
    return QXMODINST_SUCCESS;
  }

  // Expects mutex_ held. Numbers are never 0 and, within a process, never
  // handed out twice, so a stale number cannot reach a newer session.
  int32_t NextSessionNumber() {
    do {
      lastSession_ = lastSession_ == INT32_MAX ? 1 : lastSession_ + 1;
    } while (sessions_.count(lastSession_) != 0);
    return lastSession_;
  }

  std::mutex mutex_;
  // Everything below is guarded by mutex_. loadSettings_ and
  // environmentErrors_ are written only by the constructor and ReleaseMemory.
  Settings loadSettings_;
  std::vector<std::string> environmentErrors_;
  Settings settings_;
  std::vector<std::string> fileErrors_;  // of the latest read of the devices file
  std::map<int32_t, Session> sessions_;
  int32_t lastSession_ = 0;
  qxmodinst_standin_counters counters_{};
  // Opens and closes wait at the gate while it is held; guarded by mutex_.
  std::condition_variable gateOpened_;
  bool gateHeld_ = false;
  int32_t waitingAtGate_ = 0;
};

// Reads the environment when the library is loaded rather than at its first
// call, so that a process sees the settings it was started with.
__attribute__((constructor)) void LoadSettings() {
  Guarded([] { Library::Instance(); });
}

__attribute__((destructor)) void ReleaseAtUnload() {
  Guarded([] { Library::Instance().ReleaseMemory(); });
}

// The one way the controls change a setting: under the library's lock, with
// no exception escaping.
template <typename Field, typename Value>
void SetSetting(Field Settings::*field, Value value) {
  Guarded(
      [&] { Library::Instance().Configure([&](Settings &settings) { settings.*field = value; }); });
}

}  // namespace
}  // namespace qxmodinst

using qxmodinst::Library;
using qxmodinst::SetSetting;
using qxmodinst::Settings;

extern "C" {

int32_t qxModInst_OpenInstalledDevicesSession(const char *driver, int32_t *session,
                                              int32_t *count) {
  return Guarded<int32_t>(QXMODINST_ERROR_OUT_OF_MEMORY,
                          [&] { return Library::Instance().Open(driver, session, count); });
}

int32_t qxModInst_GetInstalledDeviceAttributeViString(int32_t session, int32_t index,
                                                      int32_t attribute, int32_t size,
                                                      char *buffer) {
  return Guarded<int32_t>(QXMODINST_ERROR_OUT_OF_MEMORY, [&] {
    return Library::Instance().GetString(session, index, attribute, size, buffer);
  });
}

int32_t qxModInst_GetInstalledDeviceAttributeViInt32(int32_t session, int32_t index,
                                                     int32_t attribute, int32_t *value) {
  return Guarded<int32_t>(QXMODINST_ERROR_OUT_OF_MEMORY, [&] {
    return Library::Instance().GetInt32(session, index, attribute, value);
  });
}

int32_t qxModInst_CloseInstalledDevicesSession(int32_t session) {
  return Guarded<int32_t>(QXMODINST_ERROR_OUT_OF_MEMORY,
                          [&] { return Library::Instance().Close(session); });
}

#ifndef QXMODINST_STANDIN_NO_CONFIGURATION_CHECK
int32_t qxModInst_IsConfigurationCurrent(int32_t session, uint16_t *current) {
  return Guarded<int32_t>(QXMODINST_ERROR_OUT_OF_MEMORY,
                          [&] { return Library::Instance().IsCurrent(session, current); });
}
#endif

void qxmodinst_standin_reset(void) {
  Guarded([] { Library::Instance().Reset(); });
}

void qxmodinst_standin_set_devices_file(const char *path) {
  SetSetting(&Settings::devicesPath, path == nullptr ? "" : path);
}

void qxmodinst_standin_set_open_delay_ms(uint32_t milliseconds) {
  SetSetting(&Settings::openDelayMs, milliseconds);
}

void qxmodinst_standin_fail_open(int32_t status) {
  SetSetting(&Settings::openStatus, status);
}

void qxmodinst_standin_fail_close(int32_t status) {
  SetSetting(&Settings::closeStatus, status);
}

void qxmodinst_standin_fail_attribute_reads(int32_t status) {
  SetSetting(&Settings::attributeStatus, status);
}

void qxmodinst_standin_open_gives_zero_session(int enabled) {
  SetSetting(&Settings::zeroSession, enabled != 0);
}

void qxmodinst_standin_hold_session_calls(int hold) {
  Guarded([&] { Library::Instance().HoldSessionCalls(hold != 0); });
}

int32_t qxmodinst_standin_session_calls_waiting(void) {
  return Guarded<int32_t>(0, [] { return Library::Instance().SessionCallsWaiting(); });
}

void qxmodinst_standin_get_counters(qxmodinst_standin_counters *counters) {
  if (counters == nullptr) return;
  Guarded([&] { *counters = Library::Instance().Counters(); });
}

int32_t qxmodinst_standin_error_count(void) {
  return Guarded<int32_t>(0,
                          [] { return static_cast<int32_t>(Library::Instance().Errors().size()); });
}

size_t qxmodinst_standin_errors(char *buffer, size_t size) {
  return Guarded<size_t>(0, [&] {
    std::string joined;
    for (const std::string &error : Library::Instance().Errors()) {
      if (!joined.empty()) joined += '\n';
      joined += error;
    }
    if (buffer != nullptr && size > 0) {
      const size_t n = std::min(joined.size(), size - 1);
      std::memcpy(buffer, joined.data(), n);
      buffer[n] = '\0';
    }
    return joined.size();
  });
}

}  // extern "C"

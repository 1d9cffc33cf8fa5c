// The discovery stand-in: its sessions, settings and counters, the five
// library entries and the test controls.
#include "qxmodinst_standin.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "c_guard.h"
#include "devices_file.h"
#include "modinst_api.h"
#include "standin_support.h"

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

class Library;
using Core = standins::LibraryCore<Library, Settings, qxmodinst_standin_counters,
                                   standins::ObjectTable<int32_t, Session>>;

// The open objects are the sessions. Opens, closes and configuration checks
// pass the gate: a held gate stands for a scan (or a slow close or check)
// that takes as long as a test wants, and the attribute reads are served
// meanwhile.
class Library : public Core {
 public:
  int32_t Open(const char *driver, int32_t *session, int32_t *count) {
    uint32_t delayMs;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++counters_.opens;
      delayMs = settings_.openDelayMs;
      gate_.Pass(lock);
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
    errors_.ForgetFile();
    if (!opened.path.empty()) {
      DevicesSnapshot snapshot = ReadDevicesFile(opened.path);
      opened.identity = snapshot.identity;
      opened.devices = std::move(snapshot.parsed.devices);
      errors_.SetFile(std::move(snapshot.parsed.errors));
    }
    const auto deviceCount = static_cast<int32_t>(opened.devices.size());
    if (settings_.zeroSession) {
      *session = 0;
      *count = deviceCount;
      return QXMODINST_SUCCESS;
    }
    *session = objects_.Add(std::move(opened));
    *count = deviceCount;
    return QXMODINST_SUCCESS;
  }

  int32_t GetString(int32_t session, int32_t index, int32_t attribute, int32_t size, char *buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Device *device = nullptr;
    const int32_t status = BeginRead(session, index, &device);
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
    const Device *device = nullptr;
    const int32_t status = BeginRead(session, index, &device);
    if (status != QXMODINST_SUCCESS) return status;
    if (attribute != QXMODINST_ATTR_INDEX) return QXMODINST_ERROR_INVALID_ATTRIBUTE;
    if (value == nullptr) return QXMODINST_ERROR_INVALID_ARGUMENT;
    *value = index;
    return QXMODINST_SUCCESS;
  }

  int32_t Close(int32_t session) {
    const std::unique_lock<std::mutex> lock = Enter(&qxmodinst_standin_counters::closes);
    if (settings_.closeStatus != QXMODINST_SUCCESS) return settings_.closeStatus;
    return objects_.Remove(session) ? QXMODINST_SUCCESS : QXMODINST_ERROR_INVALID_SESSION;
  }

  int32_t IsCurrent(int32_t session, uint16_t *current) {
    const std::unique_lock<std::mutex> lock =
        Enter(&qxmodinst_standin_counters::configuration_checks);
    const Session *found = objects_.Find(session);
    if (found == nullptr) return QXMODINST_ERROR_INVALID_SESSION;
    if (current == nullptr) return QXMODINST_ERROR_INVALID_ARGUMENT;
    const Session &opened = *found;
    // Pointing the library at another file changes the installed devices
    // as much as editing the file does.
    const bool same = opened.path == settings_.devicesPath &&
                      (opened.path.empty() || IdentityOf(opened.path) == opened.identity);
    *current = same ? 1 : 0;
    return QXMODINST_SUCCESS;
  }

  qxmodinst_standin_counters Counters() {
    std::lock_guard<std::mutex> lock(mutex_);
    qxmodinst_standin_counters counters = counters_;
    counters.sessions_outstanding = static_cast<int64_t>(objects_.size());
    return counters;
  }

 private:
  friend Core;

  // The environment is read once, when the library is loaded; a reset puts
  // back what it gave.
  Library() {
    LoadText("QXMODINST_DEVICES", &Settings::devicesPath);
    LoadNumber("QXMODINST_OPEN_DELAY_MS", 0, 600000, &Settings::openDelayMs);
    LoadNumber("QXMODINST_OPEN_STATUS", INT32_MIN, INT32_MAX, &Settings::openStatus);
    LoadNumber("QXMODINST_CLOSE_STATUS", INT32_MIN, INT32_MAX, &Settings::closeStatus);
    LoadNumber("QXMODINST_ATTRIBUTE_STATUS", INT32_MIN, INT32_MAX, &Settings::attributeStatus);
    LoadNumber("QXMODINST_OPEN_ZERO_SESSION", 0, 1, &Settings::zeroSession);
    settings_ = loadSettings_;
  }

  // Expects mutex_ held. How both attribute reads begin: counted, then
  // failed when a test says so, then the device looked up.
  int32_t BeginRead(int32_t session, int32_t index, const Device **device) {
    ++counters_.attribute_reads;
    if (settings_.attributeStatus != QXMODINST_SUCCESS) return settings_.attributeStatus;
    const Session *opened = objects_.Find(session);
    if (opened == nullptr) return QXMODINST_ERROR_INVALID_SESSION;
    const std::vector<Device> &devices = opened->devices;
    if (index < 0 || static_cast<size_t>(index) >= devices.size()) {
      return QXMODINST_ERROR_INVALID_INDEX;
    }
    *device = &devices[static_cast<size_t>(index)];
    return QXMODINST_SUCCESS;
  }
};

STANDINS_LIBRARY_HOOKS(Library)

}  // namespace
}  // namespace qxmodinst

using qxmodinst::Library;
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
  Library::ResetControl();
}

void qxmodinst_standin_set_devices_file(const char *path) {
  Library::SetControl(&Settings::devicesPath, path == nullptr ? "" : path);
}

void qxmodinst_standin_set_open_delay_ms(uint32_t milliseconds) {
  Library::SetControl(&Settings::openDelayMs, milliseconds);
}

void qxmodinst_standin_fail_open(int32_t status) {
  Library::SetControl(&Settings::openStatus, status);
}

void qxmodinst_standin_fail_close(int32_t status) {
  Library::SetControl(&Settings::closeStatus, status);
}

void qxmodinst_standin_fail_attribute_reads(int32_t status) {
  Library::SetControl(&Settings::attributeStatus, status);
}

void qxmodinst_standin_open_gives_zero_session(int enabled) {
  Library::SetControl(&Settings::zeroSession, enabled != 0);
}

void qxmodinst_standin_hold_session_calls(int hold) {
  Library::HoldControl(hold);
}

int32_t qxmodinst_standin_session_calls_waiting(void) {
  return Library::WaitingControl();
}

void qxmodinst_standin_get_counters(qxmodinst_standin_counters *counters) {
  Library::CountersControl(counters);
}

int32_t qxmodinst_standin_error_count(void) {
  return Library::ErrorCountControl();
}

size_t qxmodinst_standin_errors(char *buffer, size_t size) {
  return Library::ErrorsControl(buffer, size);
}

}  // extern "C"

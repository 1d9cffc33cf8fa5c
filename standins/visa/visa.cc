// The VISA stand-in: its objects, settings and counters, the five VISA
// entries and the test controls.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "c_guard.h"
#include "resource_expression.h"
#include "resources_file.h"
#include "visa_standin.h"

using standins::Guarded;

// The entries must keep the shapes through which the plug-in calls them.
static_assert(std::is_same_v<decltype(&viOpenDefaultRM), viOpenDefaultRM_t>);
static_assert(std::is_same_v<decltype(&viFindRsrc), viFindRsrc_t>);
#ifndef VISA_STANDIN_NO_FIND_NEXT
static_assert(std::is_same_v<decltype(&viFindNext), viFindNext_t>);
#endif
static_assert(std::is_same_v<decltype(&viClose), viClose_t>);
static_assert(std::is_same_v<decltype(&viStatusDesc), viStatusDesc_t>);

namespace visa_standin {
namespace {

// The object number that stands for "no object".
constexpr ViObject kNoObject = 0;

struct Settings {
  std::string resourcesPath;  // empty: no file, so no resources
  uint32_t findDelayMs = 0;
  ViStatus openStatus = VI_SUCCESS;
  ViStatus findNextStatus = VI_SUCCESS;
  int findNextFailsAfter = 0;  // names handed out; used while findNextStatus fails
};

// A resource-manager session, or a find list opened through one.
struct Object {
  bool isFindList = false;
  ViSession resourceManager = kNoObject;  // of a find list
  std::vector<std::string> matches;       // of a find list: what viFindRsrc found
  size_t handedOut = 0;                   // names of matches handed out so far
};

// The short texts of viStatusDesc, one per status the library answers.
struct StatusText {
  ViStatus status;
  const char *text;
};
constexpr StatusText kStatusTexts[] = {
    {VI_SUCCESS, "VI_SUCCESS: the operation completed"},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR: an unknown system error occurred"},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT: not an open session or find list"},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR: the search expression is invalid"},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: no resource matches the expression"},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC: out of memory"},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF: an output argument is null"},
    {VI_WARN_UNKNOWN_STATUS, "VI_WARN_UNKNOWN_STATUS: the status is not known"},
};

// Copies text into a VISA buffer of VI_FIND_BUFLEN bytes, cutting it short
// where it would not fit with its NUL.
void CopyDescription(const std::string &text, ViChar description[]) {
  const size_t n = std::min(text.size(), static_cast<size_t>(VI_FIND_BUFLEN - 1));
  std::memcpy(description, text.data(), n);
  description[n] = '\0';
}

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
  // unloaded (the plug-in unloads it when an entry is missing), since memory
  // still held then would be lost with the library's static storage. The
  // object stays usable, as if freshly reset without settings.
  void ReleaseMemory() {
    std::lock_guard<std::mutex> lock(mutex_);
    Release(objects_);
    Release(fileErrors_);
    Release(environmentErrors_);
    Release(settings_.resourcesPath);
    Release(loadSettings_.resourcesPath);
  }

  ViStatus OpenDefaultRM(ViSession *resourceManager) {
    const std::unique_lock<std::mutex> lock = Enter(&visa_standin_counters::open_default_rm_calls);
    if (settings_.openStatus != VI_SUCCESS) return settings_.openStatus;
    if (resourceManager == nullptr) return VI_ERROR_USER_BUF;
    const ViSession opened = Register(Object{});
    ++counters_.resource_managers_opened;
    *resourceManager = opened;
    return VI_SUCCESS;
  }

  ViStatus FindRsrc(ViSession resourceManager, ViConstString expr, ViFindList *findList,
                    ViUInt32 *count, ViChar description[]) {
    uint32_t delayMs;
    {
      const std::unique_lock<std::mutex> lock = Enter(&visa_standin_counters::find_rsrc_calls);
      delayMs = settings_.findDelayMs;
    }
    // The delay stands for a slow search of the buses; other calls go on.
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

    std::lock_guard<std::mutex> lock(mutex_);
    const Object *manager = Find(resourceManager);
    if (manager == nullptr || manager->isFindList) return VI_ERROR_INV_OBJECT;
    const std::optional<ResourceExpression> expression =
        expr == nullptr ? std::nullopt : ResourceExpression::Compile(expr);
    if (!expression) return VI_ERROR_INV_EXPR;
    if (description == nullptr) return VI_ERROR_USER_BUF;

    Object list;
    list.isFindList = true;
    list.resourceManager = resourceManager;
    fileErrors_.clear();
    if (!settings_.resourcesPath.empty()) {
      Resources resources = ReadResourcesFile(settings_.resourcesPath);
      fileErrors_ = std::move(resources.errors);
      for (std::string &name : resources.names) {
        if (expression->Matches(name)) list.matches.push_back(std::move(name));
      }
    }
    if (list.matches.empty()) {
      if (findList != nullptr) *findList = kNoObject;
      if (count != nullptr) *count = 0;
      description[0] = '\0';
      return VI_ERROR_RSRC_NFOUND;
    }
    // Registered before anything is written, so that a failed allocation
    // leaves the caller's outputs alone.
    list.handedOut = 1;
    const ViFindList opened = findList == nullptr ? kNoObject : Register(std::move(list));
    const Object &served = opened == kNoObject ? list : *Find(opened);
    CopyDescription(served.matches.front(), description);
    if (count != nullptr) *count = static_cast<ViUInt32>(served.matches.size());
    if (findList != nullptr) {
      *findList = opened;
      ++counters_.find_lists_opened;
    }
    return VI_SUCCESS;
  }

  ViStatus FindNext(ViFindList findList, ViChar description[]) {
    const std::unique_lock<std::mutex> lock = Enter(&visa_standin_counters::find_next_calls);
    Object *list = Find(findList);
    if (list == nullptr || !list->isFindList) return VI_ERROR_INV_OBJECT;
    if (description == nullptr) return VI_ERROR_USER_BUF;
    if (settings_.findNextStatus != VI_SUCCESS &&
        list->handedOut >= static_cast<size_t>(std::max(settings_.findNextFailsAfter, 0))) {
      return settings_.findNextStatus;
    }
    if (list->handedOut >= list->matches.size()) return VI_ERROR_RSRC_NFOUND;
    CopyDescription(list->matches[list->handedOut++], description);
    return VI_SUCCESS;
  }

  ViStatus Close(ViObject object) {
    const std::unique_lock<std::mutex> lock = Enter(&visa_standin_counters::close_calls);
    const auto it = objects_.find(object);
    if (it == objects_.end()) return VI_ERROR_INV_OBJECT;
    if (!it->second.isFindList) {
      // A resource manager takes every find list opened through it along.
      for (auto list = objects_.begin(); list != objects_.end();) {
        list = list->second.resourceManager == object ? objects_.erase(list) : std::next(list);
      }
    }
    objects_.erase(object);
    return VI_SUCCESS;
  }

  ViStatus StatusDesc(ViStatus status, ViChar description[]) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++counters_.status_desc_calls;
    }
    if (description == nullptr) return VI_ERROR_USER_BUF;
    for (const StatusText &known : kStatusTexts) {
      if (known.status == status) {
        CopyDescription(known.text, description);
        return VI_SUCCESS;
      }
    }
    std::snprintf(description, VI_FIND_BUFLEN, "status 0x%08X is not known to this library",
                  static_cast<unsigned>(status));
    return VI_WARN_UNKNOWN_STATUS;
  }

  void HoldCalls(bool hold) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      gateHeld_ = hold;
    }
    if (!hold) gateOpened_.notify_all();
  }

  int32_t CallsWaiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return gateHeld_ ? waitingAtGate_ : 0;
  }

  void Reset() {
    HoldCalls(false);
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.clear();
    counters_ = visa_standin_counters{};
    fileErrors_.clear();
    settings_ = loadSettings_;
  }

  // Applies change to the settings under the lock.
  template <typename Change>
  void Configure(Change &&change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(settings_);
  }

  visa_standin_counters Counters() {
    std::lock_guard<std::mutex> lock(mutex_);
    visa_standin_counters counters = counters_;
    for (const auto &entry : objects_) {
      ++(entry.second.isFindList ? counters.find_lists_open : counters.resource_managers_open);
    }
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
    if (const char *path = std::getenv("VISA_STANDIN_RESOURCES")) {
      loadSettings_.resourcesPath = path;
    }
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
    number("VISA_STANDIN_FIND_DELAY_MS", 0, 600000, &loadSettings_.findDelayMs);
    number("VISA_STANDIN_OPEN_STATUS", INT32_MIN, INT32_MAX, &loadSettings_.openStatus);
  }

  // How the four protocol entries begin: under the lock, counted, then held
  // at the gate while it is; a held gate stands for a VISA call that takes
  // as long as a test wants. Callers look their objects up only after this,
  // since the objects may have been closed meanwhile.
  std::unique_lock<std::mutex> Enter(int64_t visa_standin_counters::*calls) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++(counters_.*calls);
    ++waitingAtGate_;
    gateOpened_.wait(lock, [this] { return !gateHeld_; });
    --waitingAtGate_;
    return lock;
  }

  // Expects mutex_ held. Null when object is not open.
  Object *Find(ViObject object) {
    const auto it = objects_.find(object);
    return it == objects_.end() ? nullptr : &it->second;
  }

  // Expects mutex_ held. Numbers are never 0 and, within a process, never
  // handed out twice, so a stale number cannot reach a newer object.
  ViObject Register(Object object) {
    do {
      lastObject_ = lastObject_ == UINT32_MAX ? 1 : lastObject_ + 1;
    } while (objects_.count(lastObject_) != 0);
    objects_.emplace(lastObject_, std::move(object));
    return lastObject_;
  }

  std::mutex mutex_;
  // Everything below is guarded by mutex_. loadSettings_ and
  // environmentErrors_ are written only by the constructor and ReleaseMemory.
  Settings loadSettings_;
  std::vector<std::string> environmentErrors_;
  Settings settings_;
  std::vector<std::string> fileErrors_;  // of the latest read of the resources file
  std::map<ViObject, Object> objects_;   // open resource managers and find lists
  ViObject lastObject_ = kNoObject;
  visa_standin_counters counters_{};  // the *_open fields are counted from objects_
  // Calls wait at the gate while it is held; guarded by mutex_.
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
template <typename Change>
void SetSettings(Change &&change) {
  Guarded([&] { Library::Instance().Configure(change); });
}

}  // namespace
}  // namespace visa_standin

using visa_standin::Library;
using visa_standin::SetSettings;
using visa_standin::Settings;

extern "C" {

ViStatus viOpenDefaultRM(ViSession *resourceManager) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC,
                           [&] { return Library::Instance().OpenDefaultRM(resourceManager); });
}

ViStatus viFindRsrc(ViSession resourceManager, ViConstString expr, ViFindList *findList,
                    ViUInt32 *count, ViChar description[]) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] {
    return Library::Instance().FindRsrc(resourceManager, expr, findList, count, description);
  });
}

#ifndef VISA_STANDIN_NO_FIND_NEXT
ViStatus viFindNext(ViFindList findList, ViChar description[]) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC,
                           [&] { return Library::Instance().FindNext(findList, description); });
}
#endif

ViStatus viClose(ViObject object) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] { return Library::Instance().Close(object); });
}

ViStatus viStatusDesc(ViObject, ViStatus status, ViChar description[]) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC,
                           [&] { return Library::Instance().StatusDesc(status, description); });
}

void visa_standin_reset(void) {
  Guarded([] { Library::Instance().Reset(); });
}

void visa_standin_set_resources_file(const char *path) {
  SetSettings([&](Settings &settings) { settings.resourcesPath = path == nullptr ? "" : path; });
}

void visa_standin_set_find_delay_ms(uint32_t milliseconds) {
  SetSettings([&](Settings &settings) { settings.findDelayMs = milliseconds; });
}

void visa_standin_fail_open_default_rm(ViStatus status) {
  SetSettings([&](Settings &settings) { settings.openStatus = status; });
}

void visa_standin_fail_find_next_after(int names, ViStatus status) {
  SetSettings([&](Settings &settings) {
    settings.findNextFailsAfter = names;
    settings.findNextStatus = status;
  });
}

void visa_standin_hold_calls(int hold) {
  Guarded([&] { Library::Instance().HoldCalls(hold != 0); });
}

int32_t visa_standin_calls_waiting(void) {
  return Guarded<int32_t>(0, [] { return Library::Instance().CallsWaiting(); });
}

void visa_standin_get_counters(visa_standin_counters *counters) {
  if (counters == nullptr) return;
  Guarded([&] { *counters = Library::Instance().Counters(); });
}

int32_t visa_standin_error_count(void) {
  return Guarded<int32_t>(0,
                          [] { return static_cast<int32_t>(Library::Instance().Errors().size()); });
}

size_t visa_standin_errors(char *buffer, size_t size) {
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

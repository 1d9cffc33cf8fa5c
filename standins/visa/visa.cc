// The VISA stand-in: its objects, settings and counters, the five VISA
// entries and the test controls.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "c_guard.h"
#include "resource_expression.h"
#include "resources_file.h"
#include "standin_support.h"
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
  uint32_t openDelayMs = 0;
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

class Library;
using Core = standins::LibraryCore<Library, Settings, visa_standin_counters,
                                   standins::ObjectTable<ViObject, Object>>;

// The open objects are resource managers and find lists, numbered from one
// counter. Every entry but viStatusDesc passes the gate: a held gate stands
// for a VISA call that takes as long as a test wants.
class Library : public Core {
 public:
  ViStatus OpenDefaultRM(ViSession *resourceManager) {
    std::unique_lock<std::mutex> lock = Enter(&visa_standin_counters::open_default_rm_calls);
    HoldOpen(lock);
    if (settings_.openStatus != VI_SUCCESS) return settings_.openStatus;
    if (resourceManager == nullptr) return VI_ERROR_USER_BUF;
    const ViSession opened = objects_.Add(Object{});
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
    const Object *manager = objects_.Find(resourceManager);
    if (manager == nullptr || manager->isFindList) return VI_ERROR_INV_OBJECT;
    const std::optional<ResourceExpression> expression =
        expr == nullptr ? std::nullopt : ResourceExpression::Compile(expr);
    if (!expression) return VI_ERROR_INV_EXPR;
    if (description == nullptr) return VI_ERROR_USER_BUF;

    Object list;
    list.isFindList = true;
    list.resourceManager = resourceManager;
    errors_.ForgetFile();
    if (!settings_.resourcesPath.empty()) {
      Resources resources = ReadResourcesFile(settings_.resourcesPath);
      errors_.SetFile(std::move(resources.errors));
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
    const ViFindList opened = findList == nullptr ? kNoObject : objects_.Add(std::move(list));
    const Object &served = opened == kNoObject ? list : *objects_.Find(opened);
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
    Object *list = objects_.Find(findList);
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
    const Object *closed = objects_.Find(object);
    if (closed == nullptr) return VI_ERROR_INV_OBJECT;
    if (!closed->isFindList) {
      // A resource manager takes every find list opened through it along.
      objects_.RemoveIf([object](const Object &list) { return list.resourceManager == object; });
    }
    objects_.Remove(object);
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

  // Opens the opens' gate too, after the objects are closed, so that an open
  // let go finds the state after the reset.
  void Reset() {
    Core::Reset();
    openGate_.Hold(false);
  }

  void HoldOpens(int hold) { openGate_.Hold(hold != 0); }
  int32_t OpensWaiting() { return openGate_.Waiting(); }

  visa_standin_counters Counters() {
    std::lock_guard<std::mutex> lock(mutex_);
    visa_standin_counters counters = counters_;
    for (const auto &entry : objects_) {
      ++(entry.second.isFindList ? counters.find_lists_open : counters.resource_managers_open);
    }
    return counters;
  }

 private:
  friend Core;

  // The environment is read once, when the library is loaded; a reset puts
  // back what it gave.
  Library() {
    LoadText("VISA_STANDIN_RESOURCES", &Settings::resourcesPath);
    LoadNumber("VISA_STANDIN_FIND_DELAY_MS", 0, 600000, &Settings::findDelayMs);
    LoadNumber("VISA_STANDIN_OPEN_DELAY_MS", 0, 600000, &Settings::openDelayMs);
    LoadNumber("VISA_STANDIN_OPEN_STATUS", INT32_MIN, INT32_MAX, &Settings::openStatus);
    settings_ = loadSettings_;
  }

  // What a resource manager's open does beyond the common gate: it waits at
  // the opens' own gate, so that a test keeps an open in flight while finds
  // on other resource managers go on, then sleeps its delay (a slow VISA
  // start-up) without the lock. Expects lock held; returns with it held.
  void HoldOpen(std::unique_lock<std::mutex> &lock) {
    openGate_.Pass(lock);
    const uint32_t delayMs = settings_.openDelayMs;
    if (delayMs == 0) return;
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    lock.lock();
  }

  standins::Gate openGate_{mutex_};  // holds viOpenDefaultRM only
};

STANDINS_LIBRARY_HOOKS(Library)

}  // namespace
}  // namespace visa_standin

using visa_standin::Library;
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
  Library::ResetControl();
}

void visa_standin_set_resources_file(const char *path) {
  Library::SetControl(&Settings::resourcesPath, path == nullptr ? "" : path);
}

void visa_standin_set_find_delay_ms(uint32_t milliseconds) {
  Library::SetControl(&Settings::findDelayMs, milliseconds);
}

void visa_standin_set_open_delay_ms(uint32_t milliseconds) {
  Library::SetControl(&Settings::openDelayMs, milliseconds);
}

void visa_standin_hold_opens(int hold) {
  Guarded([&] { Library::Instance().HoldOpens(hold); });
}

int32_t visa_standin_opens_waiting(void) {
  return Guarded<int32_t>(0, [] { return Library::Instance().OpensWaiting(); });
}

void visa_standin_fail_open_default_rm(ViStatus status) {
  Library::SetControl(&Settings::openStatus, status);
}

void visa_standin_fail_find_next_after(int names, ViStatus status) {
  Library::ChangeControl([&](Settings &settings) {
    settings.findNextFailsAfter = names;
    settings.findNextStatus = status;
  });
}

void visa_standin_hold_calls(int hold) {
  Library::HoldControl(hold);
}

int32_t visa_standin_calls_waiting(void) {
  return Library::WaitingControl();
}

void visa_standin_get_counters(visa_standin_counters *counters) {
  Library::CountersControl(counters);
}

int32_t visa_standin_error_count(void) {
  return Library::ErrorCountControl();
}

size_t visa_standin_errors(char *buffer, size_t size) {
  return Library::ErrorsControl(buffer, size);
}

}  // extern "C"

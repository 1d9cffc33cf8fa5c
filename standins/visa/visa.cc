// The VISA stand-in: its objects, settings and counters, the five VISA
// entries and the test controls.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "attributes.h"
#include "c_guard.h"
#include "resource_expression.h"
#include "resource_name.h"
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

// A resource-manager session, or a find list or an instrument session
// opened through one.
struct Object {
  bool isFindList = false;
  bool isInstrument = false;
  ViSession resourceManager = kNoObject;  // of a find list or an instrument
  std::vector<std::string> matches;       // of a find list: what viFindRsrc found
  size_t handedOut = 0;                   // names of matches handed out so far
  ResourceName resource;                  // of an instrument: what viOpen parsed
  // Attribute values set, or fixed when the session was opened; any other
  // attribute the object carries has the table's initial value.
  std::map<ViAttr, uint64_t> attributes;

  bool IsResourceManager() const { return !isFindList && !isInstrument; }
  unsigned AttributeHolder() const {
    return isFindList ? 0u : isInstrument ? kInstrumentAttribute : kResourceManagerAttribute;
  }
};

// The maker's name every session reports.
constexpr char kManufacturerName[] = "velmora VISA stand-in";

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
    {VI_SUCCESS_EVENT_DIS, "VI_SUCCESS_EVENT_DIS: the event was not enabled"},
    {VI_SUCCESS_QUEUE_EMPTY, "VI_SUCCESS_QUEUE_EMPTY: no event was queued"},
    {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT: the object is VI_NULL"},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: not a resource name"},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE: the access mode is invalid"},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR: the object has no such attribute"},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE: the attribute cannot take the value"},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY: the attribute cannot be set"},
    {VI_ERROR_INV_EVENT, "VI_ERROR_INV_EVENT: not an event type"},
    {VI_ERROR_INV_MECH, "VI_ERROR_INV_MECH: not an event mechanism"},
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
    if (manager == nullptr || !manager->IsResourceManager()) return VI_ERROR_INV_OBJECT;
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
    if (object == VI_NULL) return VI_WARN_NULL_OBJECT;
    const Object *closed = objects_.Find(object);
    if (closed == nullptr) return VI_ERROR_INV_OBJECT;
    if (closed->IsResourceManager()) {
      // A resource manager takes every object opened through it along.
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
      ++(entry.second.isFindList     ? counters.find_lists_open
         : entry.second.isInstrument ? counters.instruments_open
                                     : counters.resource_managers_open);
    }
    return counters;
  }

  // ---- Instrument sessions: what a client needs to open one by name ----

  ViStatus ParseRsrc(ViSession resourceManager, ViConstRsrc name, ViUInt16 *intfType,
                     ViUInt16 *intfNum, ViChar rsrcClass[], ViChar expanded[], ViChar alias[],
                     bool extended) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.parse_rsrc_calls;
    const Object *manager = objects_.Find(resourceManager);
    if (manager == nullptr || !manager->IsResourceManager()) return VI_ERROR_INV_OBJECT;
    if (intfType == nullptr || intfNum == nullptr ||
        (extended && (rsrcClass == nullptr || expanded == nullptr || alias == nullptr))) {
      return VI_ERROR_USER_BUF;
    }
    ResourceName parsed;
    const ViStatus status = Parse(name, &parsed);
    if (status != VI_SUCCESS) return status;
    *intfType = parsed.interfaceType;
    *intfNum = parsed.board;
    if (extended) {
      CopyDescription(parsed.resourceClass, rsrcClass);
      CopyDescription(parsed.expanded, expanded);
      alias[0] = '\0';
    }
    return VI_SUCCESS;
  }

  ViStatus Open(ViSession resourceManager, ViConstRsrc name, ViAccessMode accessMode,
                ViSession *vi) {
    const std::unique_lock<std::mutex> lock = Enter(&visa_standin_counters::open_calls);
    const Object *manager = objects_.Find(resourceManager);
    if (manager == nullptr || !manager->IsResourceManager()) return VI_ERROR_INV_OBJECT;
    if (vi == nullptr) return VI_ERROR_USER_BUF;
    Object session;
    const ViStatus status = Parse(name, &session.resource);
    if (status != VI_SUCCESS) return status;
    const ViAccessMode lockMode = accessMode & ~VI_LOAD_CONFIG;
    if (lockMode != VI_NO_LOCK && lockMode != VI_EXCLUSIVE_LOCK && lockMode != VI_SHARED_LOCK) {
      return VI_ERROR_INV_ACC_MODE;
    }
    if (!Listed(session.resource)) return VI_ERROR_RSRC_NFOUND;
    session.isInstrument = true;
    session.resourceManager = resourceManager;
    session.attributes = {{VI_ATTR_INTF_TYPE, session.resource.interfaceType},
                          {VI_ATTR_INTF_NUM, session.resource.board},
                          {VI_ATTR_RSRC_LOCK_STATE, lockMode}};
    const ViSession opened = objects_.Add(std::move(session));
    ++counters_.instruments_opened;
    *vi = opened;
    return VI_SUCCESS;
  }

  ViStatus GetAttribute(ViObject object, ViAttr id, void *state) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.attribute_calls;
    const Object *found = objects_.Find(object);
    if (found == nullptr) return VI_ERROR_INV_OBJECT;
    const Attribute *attribute = FindAttribute(id);
    if (attribute == nullptr || (attribute->holders & found->AttributeHolder()) == 0) {
      return VI_ERROR_NSUP_ATTR;
    }
    if (state == nullptr) return VI_ERROR_USER_BUF;
    switch (id) {
      case VI_ATTR_RSRC_NAME:
        WriteString(found->resource.expanded, state);
        return VI_SUCCESS;
      case VI_ATTR_RSRC_CLASS:
        WriteString(found->resource.resourceClass, state);
        return VI_SUCCESS;
      case VI_ATTR_RSRC_MANF_NAME:
        WriteString(kManufacturerName, state);
        return VI_SUCCESS;
      default:
        break;
    }
    const auto set = found->attributes.find(id);
    WriteNumber(*attribute, set == found->attributes.end() ? attribute->initial : set->second,
                state);
    return VI_SUCCESS;
  }

  ViStatus SetAttribute(ViObject object, ViAttr id, ViAttrState state) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.attribute_calls;
    Object *found = objects_.Find(object);
    if (found == nullptr) return VI_ERROR_INV_OBJECT;
    const Attribute *attribute = FindAttribute(id);
    if (attribute == nullptr || (attribute->holders & found->AttributeHolder()) == 0) {
      return VI_ERROR_NSUP_ATTR;
    }
    if (!attribute->writable) return VI_ERROR_ATTR_READONLY;
    uint64_t value = 0;
    if (!AcceptState(*attribute, state, &value)) return VI_ERROR_NSUP_ATTR_STATE;
    found->attributes[id] = value;
    return VI_SUCCESS;
  }

  // viDisableEvent and viDiscardEvents: nothing is ever enabled or queued,
  // so a valid call answers the success that says so.
  ViStatus Events(ViSession vi, ViEventType eventType, ViUInt16 mechanism, ViStatus nothingToDo) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.event_calls;
    const Object *session = objects_.Find(vi);
    if (session == nullptr || session->isFindList) return VI_ERROR_INV_OBJECT;
    const ViEventType number = eventType & ~0x80000000u;
    if (eventType != VI_ALL_ENABLED_EVENTS && (number < 0x3FFF2000u || number > 0x3FFF20FFu)) {
      return VI_ERROR_INV_EVENT;
    }
    constexpr ViUInt16 kMechanisms = VI_QUEUE | VI_HNDLR | VI_SUSPEND_HNDLR;
    if (mechanism != VI_ALL_MECH && (mechanism == 0 || (mechanism & ~kMechanisms) != 0)) {
      return VI_ERROR_INV_MECH;
    }
    return nothingToDo;
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

  // Reads a resource name as viParseRsrc and viOpen answer it.
  static ViStatus Parse(ViConstRsrc name, ResourceName *parsed) {
    if (name == nullptr) return VI_ERROR_INV_RSRC_NAME;
    switch (ParseResourceName(name, parsed)) {
      case ParseResult::kParsed:
        return VI_SUCCESS;
      case ParseResult::kUnknown:
        return VI_ERROR_RSRC_NFOUND;
      case ParseResult::kMalformed:
        break;
    }
    return VI_ERROR_INV_RSRC_NAME;
  }

  // True when the resources file lists the resource. Expects mutex_ held;
  // the file's problems become the ones visa_standin_errors reports.
  bool Listed(const ResourceName &wanted) {
    errors_.ForgetFile();
    if (settings_.resourcesPath.empty()) return false;
    Resources resources = ReadResourcesFile(settings_.resourcesPath);
    errors_.SetFile(std::move(resources.errors));
    return std::any_of(resources.names.begin(), resources.names.end(),
                       [&](const std::string &listed) {
                         ResourceName name;
                         return ParseResourceName(listed, &name) == ParseResult::kParsed &&
                                SameResource(name, wanted);
                       });
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

ViStatus viParseRsrc(ViSession resourceManager, ViConstRsrc rsrcName, ViUInt16 *intfType,
                     ViUInt16 *intfNum) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] {
    return Library::Instance().ParseRsrc(resourceManager, rsrcName, intfType, intfNum, nullptr,
                                         nullptr, nullptr, false);
  });
}

ViStatus viParseRsrcEx(ViSession resourceManager, ViConstRsrc rsrcName, ViUInt16 *intfType,
                       ViUInt16 *intfNum, ViChar rsrcClass[], ViChar expandedUnaliasedName[],
                       ViChar aliasIfExists[]) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] {
    return Library::Instance().ParseRsrc(resourceManager, rsrcName, intfType, intfNum, rsrcClass,
                                         expandedUnaliasedName, aliasIfExists, true);
  });
}

ViStatus viOpen(ViSession resourceManager, ViConstRsrc rsrcName, ViAccessMode accessMode, ViUInt32,
                ViSession *vi) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] {
    return Library::Instance().Open(resourceManager, rsrcName, accessMode, vi);
  });
}

ViStatus viGetAttribute(ViObject object, ViAttr attribute, void *attrState) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] {
    return Library::Instance().GetAttribute(object, attribute, attrState);
  });
}

ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState attrState) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] {
    return Library::Instance().SetAttribute(object, attribute, attrState);
  });
}

ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] {
    return Library::Instance().Events(vi, eventType, mechanism, VI_SUCCESS_EVENT_DIS);
  });
}

ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  return Guarded<ViStatus>(VI_ERROR_ALLOC, [&] {
    return Library::Instance().Events(vi, eventType, mechanism, VI_SUCCESS_QUEUE_EMPTY);
  });
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

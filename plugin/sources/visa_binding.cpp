// The VISA library, bound on opt-in (kVisaLibraryVariable): any library that
// exports the standard VISA entries. The four VISA slots hold the plug-in's
// own adapters, which speak the find-list protocol of the default resource
// manager: a count with the first name, the next names, the list's close, and
// a change report that VISA itself does not have.
//
// The resource manager is opened once, when the library is bound, and again
// after a release closed it, by whoever next needs it; it and every find
// list live only under visaGate.
#include <cstring>
#include <ctime>

#include "plugin/sources/bindings.h"
#include "plugin/sources/library_binding.h"
#include "plugin/common/status.h"
#include "plugin/sources/visa_api.h"
#include "support/trace.h"

namespace hx {
namespace {

// VISA has no change notification. A listing older than this many seconds
// counts as changed when a request asks (the discovery worker's throttle):
// a device plugged in shows within that time while the host keeps asking,
// and the VISA list, which requests leave out while its worker runs, is
// shown in between.
constexpr int64_t kVisaRescanSeconds = 20;
constexpr const char *kDefaultExpression = "?*::INSTR";

// The entries as the library declares them, in the order they are looked up.
enum Entry { kOpenDefaultRM, kFindRsrc, kFindNext, kClose, kStatusDesc, kEntries };
constexpr const char *kSymbols[kEntries] = {"viOpenDefaultRM", "viFindRsrc", "viFindNext",
                                            "viClose", "viStatusDesc"};

struct Library {
  viOpenDefaultRM_t openDefaultRM = nullptr;
  viFindRsrc_t findRsrc = nullptr;
  viFindNext_t findNext = nullptr;
  viClose_t close = nullptr;
  viStatusDesc_t statusDesc = nullptr;
  char expression[VI_FIND_BUFLEN] = {};
  ViSession resourceManager = 0;  // 0: none open
  int64_t lastListed = 0;         // wall-clock seconds of the last listing
};
Library library GUARDED_BY(visaGate);

// Set once the entries are bound and the slots filled; never cleared.
std::atomic<bool> bound{false};

bool Failed(ViStatus status) {
  return status < VI_SUCCESS;
}

// Warnings (positive statuses) count as success, as VISA means them.
int32_t Answer(ViStatus status) {
  return Failed(status) ? status : VI_SUCCESS;
}

ViStatus OpenResourceManager() REQUIRES(visaGate) {
  if (library.resourceManager != 0) return VI_SUCCESS;
  ViSession opened = 0;
  const ViStatus status = library.openDefaultRM(&opened);
  if (Failed(status)) {
    char text[VI_FIND_BUFLEN] = "";
    library.statusDesc(0, status, text);
    qxsdbg_Trace(kTraceLevel, "VISA resource manager not opened: %.*s (status %d)\n",
                 VI_FIND_BUFLEN - 1, text, static_cast<int>(status));
    return status;
  }
  library.resourceManager = opened;
  return VI_SUCCESS;
}

// The adapters run only through the slots, whose callers hold visaGate.
int32_t GetNumberOfVisaNames(int32_t *count, char *buffer,
                             uint32_t *list) NO_THREAD_SAFETY_ANALYSIS {
  // An attempt counts for the throttle whatever comes of it: a resource
  // manager that fails must not restart the worker on every request.
  library.lastListed = static_cast<int64_t>(time(nullptr));
  const ViStatus opened = OpenResourceManager();
  if (Failed(opened)) return opened;
  ViFindList found = 0;
  ViUInt32 matches = 0;
  char first[VI_FIND_BUFLEN] = "";
  const ViStatus status =
      library.findRsrc(library.resourceManager, library.expression, &found, &matches, first);
  // No resource at all is an empty list, not a failure.
  if (status == VI_ERROR_RSRC_NFOUND) {
    found = 0;
    matches = 0;
    first[0] = '\0';
  } else if (Failed(status)) {
    return status;
  }
  if (count != nullptr) *count = matches > INT32_MAX ? INT32_MAX : static_cast<int32_t>(matches);
  if (buffer != nullptr) std::memcpy(buffer, first, sizeof first);
  if (list != nullptr) {
    *list = found;
  } else if (found != 0) {
    library.close(found);
  }
  return VI_SUCCESS;
}

int32_t GetNextVisaName(uint32_t list, char *buffer) NO_THREAD_SAFETY_ANALYSIS {
  char next[VI_FIND_BUFLEN] = "";
  const ViStatus status = library.findNext(list, next);
  if (buffer != nullptr) std::memcpy(buffer, next, sizeof next);
  return Answer(status);
}

int32_t CloseVisaNameList(uint32_t list) NO_THREAD_SAFETY_ANALYSIS {
  return list == 0 ? VI_SUCCESS : Answer(library.close(list));
}

int32_t VisaResourcesChanged(uint16_t *changed) NO_THREAD_SAFETY_ANALYSIS {
  const auto now = static_cast<int64_t>(time(nullptr));
  if (changed != nullptr) *changed = now - library.lastListed > kVisaRescanSeconds ? 1 : 0;
  return VI_SUCCESS;
}

}  // namespace

// Closing the resource manager closes every find list opened through it.
void CloseVisaResourceManager() NO_THREAD_SAFETY_ANALYSIS {
  if (library.resourceManager == 0) return;
  library.close(library.resourceManager);
  library.resourceManager = 0;
}

ReleaseGate visaGate{CloseVisaResourceManager};

int32_t EnsureVisaLibrary() {
  if (!bound.load(std::memory_order_acquire)) {
    const char *name = OptInSetting(kVisaLibraryVariable);
    if (name == nullptr) return 0;
    void *found[kEntries];
    if (!BindAllOrNone("VISA library", name, kSymbols, found, kEntries)) return kBindFailed;
    library.openDefaultRM = EntryAs<viOpenDefaultRM_t>(found[kOpenDefaultRM]);
    library.findRsrc = EntryAs<viFindRsrc_t>(found[kFindRsrc]);
    library.findNext = EntryAs<viFindNext_t>(found[kFindNext]);
    library.close = EntryAs<viClose_t>(found[kClose]);
    library.statusDesc = EntryAs<viStatusDesc_t>(found[kStatusDesc]);
    const char *expression = OptInSetting(kVisaExpressionVariable);
    std::strncpy(library.expression, expression != nullptr ? expression : kDefaultExpression,
                 sizeof library.expression - 1);
    slots.visaGetNumberOfVisaNames.set(GetNumberOfVisaNames);
    slots.visaGetNextVisaName.set(GetNextVisaName);
    slots.visaCloseVisaNameList.set(CloseVisaNameList);
    slots.visaResourcesChanged.set(VisaResourcesChanged);
    bound.store(true, std::memory_order_release);
  }
  return Answer(OpenResourceManager());
}

bool IsVisaLibraryBound() {
  return bound.load(std::memory_order_acquire);
}

}  // namespace hx

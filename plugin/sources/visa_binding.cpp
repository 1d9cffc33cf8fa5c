// The VISA library, bound on opt-in (kVisaLibraryVariable): any library that
// exports the standard VISA entries. The four VISA slots hold the plug-in's
// own adapters, which speak the find-list protocol of the default resource
// manager: a count with the first name, the next names, the list's close, and
// a change report that VISA itself does not have.
//
// The resource manager is opened when the library is bound, and again after
// a release closed it, by whoever next needs it; it and every find list live
// only under visaGate.
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <string>
#include <utility>

#include "plugin/common/immortal.h"
#include "plugin/common/status.h"
#include "plugin/sources/entry_text.h"
#include "plugin/sources/library_binding.h"
#include "plugin/sources/visa.h"
#include "plugin/sources/visa_api.h"
#include "support/trace.h"

namespace hx {
namespace {

// The adapters copy a whole VISA description into the caller's name buffer.
static_assert(kEntryTextSize == VI_FIND_BUFLEN,
              "VISA names fill the entry buffers of the list builder and the exports");

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
  ViSession resourceManager = 0;  // 0: none open
};
Library library GUARDED_BY(visaGate);
// The search expression, taken whole when the library is bound (immortal: a
// detached worker may list while the process exits).
Immortal<std::string> expression;

// Set once the entries are bound and the slots filled; never cleared.
std::atomic<bool> bound{false};

// Wall-clock seconds of the last attempt to list the resources, whatever came
// of it: a resource manager that fails must not restart the worker on every
// request. 0: never.
std::atomic<int64_t> lastAttempt{0};

bool Failed(ViStatus status) {
  return status < VI_SUCCESS;
}

// Warnings (positive statuses) count as success, as VISA means them.
int32_t Answer(ViStatus status) {
  return Failed(status) ? status : VI_SUCCESS;
}

// VISA writes its statuses as unsigned hexadecimal numbers; so does the trace.
unsigned AsVisaWrites(ViStatus status) {
  return static_cast<uint32_t>(status);
}

// The library's description of a failing status, for a trace line.
void Describe(ViStatus status, char (&text)[VI_FIND_BUFLEN]) REQUIRES(visaGate) {
  text[0] = '\0';
  library.statusDesc(0, status, text);
  text[VI_FIND_BUFLEN - 1] = '\0';
}

ViStatus OpenResourceManager() REQUIRES(visaGate) {
  if (library.resourceManager != 0) return VI_SUCCESS;
  ViSession opened = 0;
  const ViStatus status = library.openDefaultRM(&opened);
  if (Failed(status)) {
    char text[VI_FIND_BUFLEN];
    Describe(status, text);
    qxsdbg_Trace(kTraceLevel, "VISA resource manager not opened: %s (status 0x%08X)\n", text,
                 AsVisaWrites(status));
    return status;
  }
  library.resourceManager = opened;
  return VI_SUCCESS;
}

// The adapters run only through the slots, whose callers hold visaGate.
int32_t GetNumberOfVisaNames(int32_t *count, char *buffer,
                             uint32_t *list) NO_THREAD_SAFETY_ANALYSIS {
  lastAttempt.store(NowSeconds(), std::memory_order_release);
  const ViStatus opened = OpenResourceManager();
  if (Failed(opened)) return opened;
  ViFindList found = 0;
  ViUInt32 matches = 0;
  char first[VI_FIND_BUFLEN] = "";
  const std::string &expr = expression.get();
  const ViStatus status =
      library.findRsrc(library.resourceManager, expr.c_str(), &found, &matches, first);
  // No resource at all is an empty list, not a failure.
  if (status == VI_ERROR_RSRC_NFOUND) {
    found = 0;
    matches = 0;
    first[0] = '\0';
  } else if (Failed(status)) {
    if (status == VI_ERROR_INV_EXPR) {
      char text[VI_FIND_BUFLEN];
      Describe(status, text);
      qxsdbg_Trace(kTraceLevel, "VISA search expression \"%.200s\" refused: %s (status 0x%08X)\n",
                   expr.c_str(), text, AsVisaWrites(status));
    }
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

int32_t VisaResourcesChanged(uint16_t *changed) {
  if (changed != nullptr) *changed = VisaListingStale() ? 1 : 0;
  return VI_SUCCESS;
}

// A release closes the resource manager, and with it every find list opened
// through it, with the gate held.
void CloseVisaResourceManager() NO_THREAD_SAFETY_ANALYSIS {
  if (library.resourceManager == 0) return;
  library.close(library.resourceManager);
  library.resourceManager = 0;
}

}  // namespace

ReleaseGate visaGate{CloseVisaResourceManager};
VisaSlots visaSlots;

int32_t EnsureVisaLibrary() {
  if (!bound.load(std::memory_order_acquire)) {
    const char *name = OptInSetting(kVisaLibraryVariable);
    if (name == nullptr) return 0;
    // Copied before anything is loaded: running out of memory here must not
    // leave a library loaded behind a failed binding.
    const char *setting = OptInSetting(kVisaExpressionVariable);
    std::string expr = setting != nullptr ? setting : kDefaultExpression;
    void *found[kEntries];
    const LibrarySpec spec{name, RTLD_NOW | RTLD_LOCAL, "VISA library", true};
    if (!BindAllOrNone(spec, kSymbols, found, kEntries)) return kBindFailed;
    expression.get() = std::move(expr);
    library.openDefaultRM = EntryAs<viOpenDefaultRM_t>(found[kOpenDefaultRM]);
    library.findRsrc = EntryAs<viFindRsrc_t>(found[kFindRsrc]);
    library.findNext = EntryAs<viFindNext_t>(found[kFindNext]);
    library.close = EntryAs<viClose_t>(found[kClose]);
    library.statusDesc = EntryAs<viStatusDesc_t>(found[kStatusDesc]);
    visaSlots.visaGetNumberOfVisaNames.set(GetNumberOfVisaNames);
    visaSlots.visaGetNextVisaName.set(GetNextVisaName);
    visaSlots.visaCloseVisaNameList.set(CloseVisaNameList);
    visaSlots.visaResourcesChanged.set(VisaResourcesChanged);
    bound.store(true, std::memory_order_release);
  }
  return Answer(OpenResourceManager());
}

bool IsVisaLibraryBound() {
  return bound.load(std::memory_order_acquire);
}

bool VisaListingStale() {
  return RescanDue(lastAttempt.load(std::memory_order_acquire));
}

void NoteVisaAttempt() {
  lastAttempt.store(NowSeconds(), std::memory_order_release);
}

}  // namespace hx

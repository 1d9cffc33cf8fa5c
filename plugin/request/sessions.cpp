#include "plugin/request/sessions.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "plugin/request/filters.h"
#include "plugin/host/host_data.h"
#include "plugin/common/immortal.h"
#include "plugin/common/status.h"
#include "support/trace.h"

namespace hx {
namespace {

// The constant the host expects as fourth argument of its session query.
constexpr int32_t kSessionQueryOne = 1;

struct KeptSessions {
  NameList matched;        // orig found in the IVI or modular-instrument list
  ResourceList resources;  // orig found in the VISA list
  NameList unmatched;      // orig found nowhere, or absent
};

// The entries of the last completed run; guarded by the request lock.
KeptSessions &LastRun() {
  static Immortal<KeptSessions> kept;
  return kept.get();
}

// Reads a session's string attribute. The host's "absent" (90) counts like a
// value-less attribute: null text, no failure.
MgErr ReadSessionText(HxVariantRef session, ConstPStr name, MallocText *text) {
  const MgErr status = CopyStringAttribute(session, name, text);
  if (status == kHostAttributeAbsent) {
    text->reset();
    return kHostOk;
  }
  return status;
}

// One readable session of the host's list.
struct OpenSession {
  std::string name;
  MallocText orig;  // null: opened from nothing known
};

// Sorts the sessions of one run by where their orig name is found: in the
// IVI list, else the modular-instrument list, else the VISA list, else
// nowhere. Each list is searched through its index of names, not entry by
// entry.
// The lists the sessions are looked up in, as the request shows them.
struct Origins {
  const NameSnapshot &ivi;
  const NameSnapshot &modInstr;
  const ResourceSnapshot &visa;
};

void ClassifySessions(std::vector<OpenSession> &sessions, const Origins &origins,
                      KeptSessions &run) {
  for (OpenSession &session : sessions) {
    const char *orig = session.orig.get();
    const NameEntry *from = nullptr;
    for (const NameSnapshot *list : {&origins.ivi, &origins.modInstr}) {
      const Run found = list->Find(orig);
      if (!found.empty()) {
        from = &list->entries()[list->FirstBuilt(found)];
        break;
      }
    }
    if (from != nullptr) {
      run.matched.push_back(
          NameEntry{std::move(session.name), true, from->driverClass, from->driverPrefix});
    } else if (!origins.visa.Find(orig).empty()) {
      run.resources.push_back(ResourceEntry{std::move(session.name), true});
    } else {
      run.unmatched.push_back(
          NameEntry{std::move(session.name), true, std::string(), std::string()});
    }
  }
}

// Reads the host's session list into a new run. Answers the status of the
// last session's reads, which alone decides whether the run counts.
MgErr ReadSessions(HxHandle sessions, const Origins &origins, KeptSessions &run) {
  if (sessions == nullptr || *sessions == nullptr) return kHostOk;
  const int32_t count = ListCount(sessions);
  qxsdbg_Trace(kTraceLevel, "IVI Open Sessions Count: %d", count);
  if (count <= 0) return kHostOk;

  std::vector<OpenSession> readable;
  MgErr last = kHostOk;
  for (int32_t k = 0; k < count; ++k) {
    const HxVariantRef session = *ListSlot(sessions, static_cast<std::size_t>(k));
    MallocText name;
    MallocText orig;
    last = ReadSessionText(session, kNameAttr.get(), &name);
    if (last == kHostOk) last = ReadSessionText(session, kOrigAttr.get(), &orig);
    // A session that cannot be read, or has no name to show, is left out.
    if (last != kHostOk || name == nullptr) continue;
    qxsdbg_Trace(kTraceLevel, "Session Name: %s, OrigName: %s\n", name.get(),
                 orig != nullptr ? orig.get() : "");
    readable.push_back(OpenSession{name.get(), std::move(orig)});
  }
  if (last == kHostOk) ClassifySessions(readable, origins, run);
  return last;
}

}  // namespace

int32_t MergeOpenSessions(uint32_t appContext, const NameSnapshot &iviList,
                          const NameSnapshot &modInstrList, const ResourceSnapshot &visaList,
                          NameView &nameOut, ResourceView &resourceOut, HxVariantRef properties) {
  HxHandle sessions = nullptr;
  const MgErr queried = GetIOControlOpenSessionsEx(appContext, kIviClass.get(), properties,
                                                   kSessionQueryOne, &sessions);
  KeptSessions &kept = LastRun();
  if (queried != kSessionsUnchanged) {
    if (queried != kHostOk) return queried;
    KeptSessions run;
    const MgErr last = ReadSessions(sessions, Origins{iviList, modInstrList, visaList}, run);
    if (last != kHostOk) {
      return last == kHostOutOfMemory ? kRequestOutOfMemory : kRequestHostFailure;
    }
    kept = std::move(run);
  }

  FilterNameEntries(kept.matched, nameOut, properties);
  FilterResourceEntries(kept.resources, resourceOut, properties);
  for (const NameEntry &entry : kept.unmatched) nameOut.push_back(&entry);
  return kRequestOk;
}

}  // namespace hx

#include "plugin/sessions.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "plugin/filters.h"
#include "plugin/host_data.h"
#include "plugin/immortal.h"
#include "plugin/master_lists.h"
#include "plugin/names.h"
#include "plugin/status.h"
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

// Where a session's orig name is found first: in the IVI list, the
// modular-instrument list or the VISA list (npos: not there).
struct Origin {
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  std::size_t ivi = npos;
  std::size_t modInstr = npos;
  std::size_t visa = npos;
};

// Records, for every key wanted, the first position of `list` that has it.
// One pass over the list however many sessions ask, where a search per
// session would cost sessions x entries comparisons.
template <class List>
void FindFirsts(const List &list, std::unordered_map<std::string, Origin> &origins,
                std::size_t Origin::*field) {
  std::string key;
  for (std::size_t p = 0; p < list.size(); ++p) {
    FoldNameKey(list[p].name.c_str(), key);
    const auto found = origins.find(key);
    if (found != origins.end() && found->second.*field == Origin::npos) {
      found->second.*field = p;
    }
  }
}

// Sorts the sessions of one run by the list their orig name is found in
// first: the IVI list, then the modular-instrument list, then VISA.
void SortSessions(std::vector<OpenSession> &sessions, const NameList &modInstrList,
                  const ResourceList &visaList, KeptSessions &run) {
  std::unordered_map<std::string, Origin> origins;
  std::string key;
  for (const OpenSession &session : sessions) {
    if (session.orig == nullptr) continue;
    FoldNameKey(session.orig.get(), key);
    origins.try_emplace(key);
  }
  if (!origins.empty()) {
    FindFirsts(iviMasterList(), origins, &Origin::ivi);
    FindFirsts(modInstrList, origins, &Origin::modInstr);
    FindFirsts(visaList, origins, &Origin::visa);
  }
  for (OpenSession &session : sessions) {
    Origin origin;
    if (session.orig != nullptr) {
      FoldNameKey(session.orig.get(), key);
      origin = origins[key];
    }
    if (origin.ivi != Origin::npos) {
      const NameEntry &from = iviMasterList()[origin.ivi];
      run.matched.push_back(
          NameEntry{std::move(session.name), true, from.driverClass, from.driverPrefix});
    } else if (origin.modInstr != Origin::npos) {
      const NameEntry &from = modInstrList[origin.modInstr];
      run.matched.push_back(
          NameEntry{std::move(session.name), true, from.driverClass, from.driverPrefix});
    } else if (origin.visa != Origin::npos) {
      run.resources.push_back(ResourceEntry{std::move(session.name), true});
    } else {
      run.unmatched.push_back(
          NameEntry{std::move(session.name), true, std::string(), std::string()});
    }
  }
}

// Reads the host's session list into a new run. Answers the status of the
// last session's reads, which alone decides whether the run counts.
MgErr ReadSessions(HxHandle sessions, const NameList &modInstrList, const ResourceList &visaList,
                   KeptSessions &run) {
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
  if (last == kHostOk) SortSessions(readable, modInstrList, visaList, run);
  return last;
}

// Folds sessions into a list in one pass over each: the sessions are grouped
// by name ignoring case; every entry of the list that a group names is
// marked open; a group that names no entry is added once, by its first
// session, and marked open by its later sessions. That is exactly what
// searching the growing list session by session would do, without the
// sessions x entries comparisons.
template <class List>
void Fold(List &list, const List &sessions) {
  if (sessions.empty()) return;
  struct Group {
    std::size_t first;  // its first session
    std::size_t size;
    bool inList;
  };
  std::unordered_map<std::string, std::size_t> groupOf;
  std::vector<Group> groups;
  std::string key;
  for (std::size_t j = 0; j < sessions.size(); ++j) {
    FoldNameKey(sessions[j].name.c_str(), key);
    const auto [at, added] = groupOf.try_emplace(key, groups.size());
    if (added) {
      groups.push_back(Group{j, 1, false});
    } else {
      ++groups[at->second].size;
    }
  }
  for (auto &entry : list) {
    FoldNameKey(entry.name.c_str(), key);
    const auto found = groupOf.find(key);
    if (found == groupOf.end()) continue;
    entry.sessionOpen = true;
    groups[found->second].inList = true;
  }
  for (const Group &group : groups) {
    if (group.inList) continue;
    list.push_back(sessions[group.first]);
    if (group.size > 1) list.back().sessionOpen = true;
  }
}

}  // namespace

int32_t MergeOpenSessions(uint32_t appContext, const NameList &modInstrList,
                          const ResourceList &visaList, NameList &nameOut,
                          ResourceList &resourceOut, HxVariantRef properties) {
  HxHandle sessions = nullptr;
  const MgErr queried = GetIOControlOpenSessionsEx(appContext, kIviClass.get(), properties,
                                                   kSessionQueryOne, &sessions);
  KeptSessions &kept = LastRun();
  if (queried != kSessionsUnchanged) {
    if (queried != kHostOk) return queried;
    KeptSessions run;
    const MgErr last = ReadSessions(sessions, modInstrList, visaList, run);
    if (last != kHostOk) {
      return last == kHostOutOfMemory ? kRequestOutOfMemory : kRequestHostFailure;
    }
    kept = std::move(run);
  }

  FilterNameEntries(kept.matched, nameOut, properties);
  FilterResourceEntries(kept.resources, resourceOut, properties);
  nameOut.insert(nameOut.end(), kept.unmatched.begin(), kept.unmatched.end());
  return kRequestOk;
}

void FoldOpenSessions(NameList &list, const NameList &sessions) {
  Fold(list, sessions);
}
void FoldOpenSessions(ResourceList &list, const ResourceList &sessions) {
  Fold(list, sessions);
}

}  // namespace hx

#include "plugin/sessions.h"

#include <cstddef>
#include <string>
#include <utility>

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

// Up to this many string comparisons a linear search is cheaper than building
// an index; beyond it (thousands of devices against many sessions) the index
// keeps a request from turning quadratic.
constexpr std::size_t kLinearSearchBudget = 50000;

struct KeptSessions {
  NameList matched;       // orig found in the IVI or modular-instrument list
  ResourceList resources; // orig found in the VISA list
  NameList unmatched;     // orig found nowhere, or absent
};

// The entries of the last completed run; guarded by the request lock.
KeptSessions &LastRun() {
  static Immortal<KeptSessions> kept;
  return kept.get();
}

NameList::const_iterator FindByName(const NameList &list, std::size_t from, const char *key) {
  return FindNameEntry(list.begin() + static_cast<std::ptrdiff_t>(from), list.end(), key);
}
ResourceList::const_iterator FindByName(const ResourceList &list, std::size_t from,
                                        const char *key) {
  return FindResourceEntry(list.begin() + static_cast<std::ptrdiff_t>(from), list.end(), key);
}

// Case-insensitive search of one list by name, answering exactly what a scan
// from the front would: linear while that is cheap, through an index when
// many look-ups meet a long list. The list may grow while it is searched, as
// long as every appended entry is announced with Appended.
template <class List>
class NameSearch {
 public:
  NameSearch(const List &list, std::size_t lookups)
      : list_(list), indexed_(lookups * list.size() > kLinearSearchBudget) {
    if (indexed_) index_ = NameIndex(list);
  }

  std::size_t Find(const char *key, std::size_t from = 0) const {
    if (indexed_) return index_.Find(key, from);
    auto found = FindByName(list_, from, key);
    return found == list_.end() ? NameIndex::npos
                                : static_cast<std::size_t>(found - list_.begin());
  }

  void Appended(const std::string &name) {
    if (indexed_) index_.Append(name);
  }

 private:
  const List &list_;
  bool indexed_;
  NameIndex index_;
};

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

// Sorts the sessions of one run by the list their orig name is found in.
class SessionSorter {
 public:
  SessionSorter(const NameList &modInstrList, const ResourceList &visaList, std::size_t sessions)
      : ivi_(iviMasterList(), sessions),
        iviList_(iviMasterList()),
        modInstr_(modInstrList, sessions),
        modInstrList_(modInstrList),
        visa_(visaList, sessions) {}

  void Add(const char *name, const char *orig, KeptSessions &run) const {
    if (orig != nullptr) {
      if (std::size_t p = ivi_.Find(orig); p != NameIndex::npos) {
        return AddMatched(name, iviList_[p], run);
      }
      if (std::size_t p = modInstr_.Find(orig); p != NameIndex::npos) {
        return AddMatched(name, modInstrList_[p], run);
      }
      if (visa_.Find(orig) != NameIndex::npos) {
        run.resources.push_back(ResourceEntry{name, true});
        return;
      }
    }
    run.unmatched.push_back(NameEntry{name, true, std::string(), std::string()});
  }

 private:
  static void AddMatched(const char *name, const NameEntry &origin, KeptSessions &run) {
    run.matched.push_back(NameEntry{name, true, origin.driverClass, origin.driverPrefix});
  }

  NameSearch<NameList> ivi_;
  const NameList &iviList_;
  NameSearch<NameList> modInstr_;
  const NameList &modInstrList_;
  NameSearch<ResourceList> visa_;
};

// Reads the host's session list into a new run. Answers the status of the
// last session's reads, which alone decides whether the run counts.
MgErr ReadSessions(HxHandle sessions, const NameList &modInstrList,
                   const ResourceList &visaList, KeptSessions &run) {
  if (sessions == nullptr || *sessions == nullptr) return kHostOk;
  const int32_t count = ListCount(sessions);
  qxsdbg_Trace(kTraceLevel, "IVI Open Sessions Count: %d", count);
  if (count <= 0) return kHostOk;

  const SessionSorter sorter(modInstrList, visaList, static_cast<std::size_t>(count));
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
    sorter.Add(name.get(), orig.get(), run);
  }
  return last;
}

template <class List>
void Fold(List &list, const List &sessions) {
  if (sessions.empty()) return;
  NameSearch<List> search(list, sessions.size());
  for (const auto &session : sessions) {
    std::size_t p = search.Find(session.name.c_str());
    if (p == NameIndex::npos) {
      list.push_back(session);
      search.Appended(session.name);
      continue;
    }
    for (; p != NameIndex::npos; p = search.Find(session.name.c_str(), p + 1)) {
      list[p].sessionOpen = true;
    }
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

void FoldOpenSessions(NameList &list, const NameList &sessions) { Fold(list, sessions); }
void FoldOpenSessions(ResourceList &list, const ResourceList &sessions) { Fold(list, sessions); }

}  // namespace hx

#include "plugin/request/result_list.h"

#include <algorithm>

#include "plugin/host/host_data.h"
#include "plugin/common/immortal.h"
#include "plugin/common/status.h"

namespace hx {
namespace {

// Room for the separator after a non-empty list.
size_t WithSeparator(size_t entries) {
  return entries == 0 ? 0 : entries + 1;
}

// Entries after the two lists while searching: the marker and its separator.
constexpr size_t kSearchingEntries = 2;
constexpr size_t kTailEntries = 2;

size_t LongestName(const Listing &list) {
  size_t longest = 0;
  for (const ListedName &entry : list) longest = std::max(longest, entry.name->size());
  return longest;
}

// Names the entries of `list` from slot `index` on. The first host failure
// stops the list; it is not reported, the entries after it just stay empty.
// Answers the status of disposing of the temporary string, or 2 when there
// was none.
//
// A name that cannot be set stops the list even on an open entry: its "g" is
// not set, so a successful "g" cannot hide the failed "n" and let the list
// go on past an entry the host cannot show.
MgErr WriteNames(const Listing &list, HxHandle names, size_t index) {
  TemporaryLongString text(LongestName(list));
  if (!text.ok()) return kHostOutOfMemory;
  for (const ListedName &entry : list) {
    text.Assign(*entry.name);
    HxVariantRef *slot = ListSlot(names, index++);
    MgErr status = HxVariantPStrSetStringAttr(slot, kNameAttr.get(), text.handle());
    if (status == kHostOk && entry.open) {
      status = HxVariantPStrSetUI32Attr(slot, kGroupAttr.get(), kOpenSessionGroup);
    }
    if (status != kHostOk) break;
  }
  return text.Dispose();
}

MgErr SetId(HxHandle names, size_t index, uint32_t id) {
  return HxVariantPStrSetUI32Attr(ListSlot(names, index), kIdAttr.get(), id);
}

int32_t FailureStatus(MgErr status) {
  return status == kHostOutOfMemory ? kRequestOutOfMemory : kRequestHostFailure;
}

}  // namespace

size_t ResultEntryCount(size_t nameCount, size_t resourceCount, bool searching) {
  return WithSeparator(nameCount) + WithSeparator(resourceCount) +
         (searching ? kSearchingEntries : 0) + kTailEntries;
}

MgErr AppendResourceEntries(const Listing &list, HxHandle *names, size_t index) {
  return WriteNames(list, *names, index);
}

int32_t BuildNameListHandle(HxHandle *names, const Listing &m, const Listing &v, bool searching) {
  const size_t entries = ResultEntryCount(m.size(), v.size(), searching);
  // One slot more than the entries: the block has always carried 8 unused
  // bytes at its end, and the host may rely on its size.
  HxHandle result = DSNewHClr(ListBlockSize(entries + 1));
  *names = result;
  if (result == nullptr) return kRequestOutOfMemory;

  if (const MgErr disposed = WriteNames(m, result, 0); disposed != kHostOk) {
    return FailureStatus(disposed);
  }
  size_t k = m.size();
  if (!m.empty()) {
    if (const MgErr status = SetId(result, k, kSeparatorId); status != kHostOk) {
      return FailureStatus(status);
    }
    ++k;
  }

  if (const MgErr status = AppendResourceEntries(v, names, k); status != kHostOk) {
    return FailureStatus(status);
  }
  k += v.size();
  MgErr remembered = kHostOk;
  if (!v.empty()) {
    remembered = SetId(result, k, kSeparatorId);
    ++k;
  }

  if (searching) {
    // Never destroyed: a host thread may still ask while the process exits.
    static Immortal<std::string> marker(kSearchingMarker);
    AppendResourceEntries(Listing{ListedName{&marker.get(), false}}, names, k);
    // With both lists empty there is no entry before the marker; slot k - 1
    // would be the block's header.
    if (k > 0) SetId(result, k - 1, kBeforeMarkerId);
    SetId(result, k, kSearchingMarkerId);
    remembered = SetId(result, k + 1, kSeparatorId);
    k += kSearchingEntries;
  }
  if (remembered != kHostOk) return FailureStatus(remembered);

  SetId(result, k, kTailFirstId);
  if (const MgErr status = SetId(result, k + 1, kTailSecondId); status != kHostOk) {
    return FailureStatus(status);
  }
  SetListCount(result, static_cast<int32_t>(k + kTailEntries));
  return kRequestOk;
}

}  // namespace hx

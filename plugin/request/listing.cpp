#include "plugin/request/listing.h"

#include <strings.h>

#include <algorithm>
#include <cstddef>

#include "plugin/lists/names.h"

namespace hx {
namespace {

// Marks open the shown entries of a selection named `name`; whether there
// were any.
template <class Entry>
bool MarkOpen(Selection<Entry> &selection, const char *name) {
  if (selection.list == nullptr) return false;
  const Run run = selection.list->Find(name);
  bool shown = false;
  for (std::size_t p = run.first; p < run.last; ++p) {
    if (selection.marks[p] == kHidden) continue;
    selection.marks[p] = kShownOpen;
    shown = true;
  }
  return shown;
}

// The shown entries of a selection, one at a time, in its (display) order.
template <class Entry>
class Shown {
 public:
  explicit Shown(const Selection<Entry> &selection) : selection_(selection) { Skip(); }
  bool done() const { return selection_.list == nullptr || at_ >= selection_.marks.size(); }
  ListedName head() const {
    return ListedName{&selection_.list->entries()[at_].name, selection_.marks[at_] == kShownOpen};
  }
  void Next() {
    ++at_;
    Skip();
  }
  std::size_t Count() const {
    return static_cast<std::size_t>(std::count_if(selection_.marks.begin(), selection_.marks.end(),
                                                  [](uint8_t mark) { return mark != kHidden; }));
  }

 private:
  void Skip() {
    while (!done() && selection_.marks[at_] == kHidden) ++at_;
  }
  const Selection<Entry> &selection_;
  std::size_t at_ = 0;
};

// The sessions that named no shown entry, once per name, sorted.
template <class Entry>
Listing AddedSessions(const std::vector<const Entry *> &unmatched) {
  struct Pending {
    const Entry *session;
    std::size_t order;  // in the host's list
  };
  std::vector<Pending> pending;
  pending.reserve(unmatched.size());
  for (std::size_t k = 0; k < unmatched.size(); ++k) pending.push_back(Pending{unmatched[k], k});
  // Among equal names the host's first comes first: it gives the entry its
  // name.
  std::sort(pending.begin(), pending.end(), [](const Pending &a, const Pending &b) {
    const int32_t order = CompareNames(a.session->name.c_str(), b.session->name.c_str());
    return order != 0 ? order < 0 : a.order < b.order;
  });
  Listing added;
  for (std::size_t i = 0; i < pending.size();) {
    const Entry &first = *pending[i].session;
    std::size_t j = i + 1;
    while (j < pending.size() &&
           strcasecmp(pending[j].session->name.c_str(), first.name.c_str()) == 0) {
      ++j;
    }
    added.push_back(ListedName{&first.name, first.sessionOpen || j - i > 1});
    i = j;
  }
  return added;
}

template <class Entry>
Listing List(std::initializer_list<Selection<Entry> *> lists,
             const std::vector<const Entry *> &sessions) {
  std::vector<const Entry *> unmatched;
  for (const Entry *session : sessions) {
    bool shown = false;
    for (Selection<Entry> *selection : lists) {
      shown = MarkOpen(*selection, session->name.c_str()) || shown;
    }
    if (!shown) unmatched.push_back(session);
  }
  const Listing added = AddedSessions(unmatched);

  // One merge of the sorted sequences: the shown entries of each list and
  // the added sessions.
  std::vector<Shown<Entry>> shown;
  std::size_t total = added.size();
  for (const Selection<Entry> *selection : lists) {
    shown.emplace_back(*selection);
    total += shown.back().Count();
  }
  Listing listing;
  listing.reserve(total);
  std::size_t nextAdded = 0;
  for (;;) {
    // The least of the heads; a session added ties with no entry, since
    // equal names would have marked it instead.
    Shown<Entry> *least = nullptr;
    for (Shown<Entry> &list : shown) {
      if (list.done()) continue;
      if (least == nullptr ||
          CompareNames(list.head().name->c_str(), least->head().name->c_str()) < 0) {
        least = &list;
      }
    }
    const bool takeAdded = nextAdded < added.size() &&
                           (least == nullptr || CompareNames(added[nextAdded].name->c_str(),
                                                             least->head().name->c_str()) < 0);
    if (takeAdded) {
      listing.push_back(added[nextAdded++]);
    } else if (least != nullptr) {
      listing.push_back(least->head());
      least->Next();
    } else {
      break;
    }
  }
  return listing;
}

}  // namespace

Listing ListNames(std::initializer_list<NameSelection *> lists, const NameView &sessions) {
  return List(lists, sessions);
}

Listing ListResources(std::initializer_list<ResourceSelection *> lists,
                      const ResourceView &sessions) {
  return List(lists, sessions);
}

}  // namespace hx

// Immutable master lists and how they are handed from their builder to the
// requests.
//
// A builder collects its entries in the order the library hands them out and
// publishes them as a Snapshot: sorted once, in display order, with an index
// of the names ignoring case. A request takes a reference to the current
// snapshot of each list and only reads it: it never copies an entry or a
// name of it and never sorts it again. A newer snapshot replaces the current
// one whole; an older one lives on for as long as a request still holds it.
#ifndef VELMORA_PLUGIN_SNAPSHOT_H
#define VELMORA_PLUGIN_SNAPSHOT_H

#include <strings.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "plugin/lists/entries.h"
#include "plugin/lists/names.h"

namespace hx {

// Positions [first, last) of a snapshot's entries.
struct Run {
  std::size_t first = 0;
  std::size_t last = 0;
  bool empty() const { return first == last; }
};

template <class Entry>
class Snapshot {
 public:
  // The empty list.
  Snapshot() = default;

  // Sorts the entries (given in the builder's order) by CompareNames and
  // indexes their names. Entries whose names are equal ignoring case end up
  // next to each other, in no particular order.
  explicit Snapshot(std::vector<Entry> built) {
    const std::size_t n = built.size();
    // Sorted by display-order keys built once, rather than by CompareNames
    // at every comparison: the same order, several times faster.
    std::string keys;
    std::vector<Keyed> order(n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t offset = keys.size();
      AppendSortKey(built[i].name.c_str(), keys);
      order[i] = Keyed{offset, keys.size() - offset, static_cast<uint32_t>(i)};
    }
    const char *base = keys.data();
    std::sort(order.begin(), order.end(), [base](const Keyed &a, const Keyed &b) {
      const int c = std::memcmp(base + a.offset, base + b.offset, std::min(a.length, b.length));
      return c != 0 ? c < 0 : a.length < b.length;
    });
    entries_.reserve(n);
    builtAt_.reserve(n);
    for (const Keyed &k : order) {
      entries_.push_back(std::move(built[k.at]));
      builtAt_.push_back(k.at);
    }
    IndexRuns();
  }

  // In display order.
  const std::vector<Entry> &entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }

  // The entries whose names equal key ignoring case (strcasecmp); an empty
  // run when there are none or key is null.
  Run Find(const char *key) const noexcept {
    if (key == nullptr || runStarts_.empty()) return Run{};
    const std::size_t mask = runStarts_.size() - 1;
    for (std::size_t slot = HashIgnoringCase(key) & mask;; slot = (slot + 1) & mask) {
      const uint32_t start = runStarts_[slot];
      if (start == kNoRun) return Run{};
      if (strcasecmp(entries_[start].name.c_str(), key) == 0) {
        std::size_t last = start + 1;
        while (last < entries_.size() && strcasecmp(entries_[last].name.c_str(), key) == 0) {
          ++last;
        }
        return Run{start, last};
      }
    }
  }

  // Of a non-empty run, the position of the entry the builder found first:
  // where a search in the builder's order would have stopped.
  std::size_t FirstBuilt(Run run) const noexcept {
    std::size_t first = run.first;
    for (std::size_t p = run.first + 1; p < run.last; ++p) {
      if (builtAt_[p] < builtAt_[first]) first = p;
    }
    return first;
  }

 private:
  struct Keyed {
    std::size_t offset;  // of the entry's key in the keys built
    std::size_t length;
    uint32_t at;  // the entry's position in the builder's order
  };
  static constexpr uint32_t kNoRun = UINT32_MAX;

  // An open-addressing table of the first position of each run of equal
  // names, at least twice as large as the number of runs.
  void IndexRuns() {
    std::size_t runs = 0;
    for (std::size_t p = 0; p < entries_.size(); ++p) runs += StartsRun(p) ? 1 : 0;
    if (runs == 0) return;
    std::size_t capacity = 2;
    while (capacity < 2 * runs) capacity *= 2;
    runStarts_.assign(capacity, kNoRun);
    const std::size_t mask = capacity - 1;
    for (std::size_t p = 0; p < entries_.size(); ++p) {
      if (!StartsRun(p)) continue;
      std::size_t slot = HashIgnoringCase(entries_[p].name.c_str()) & mask;
      while (runStarts_[slot] != kNoRun) slot = (slot + 1) & mask;
      runStarts_[slot] = static_cast<uint32_t>(p);
    }
  }

  bool StartsRun(std::size_t p) const {
    return p == 0 || strcasecmp(entries_[p - 1].name.c_str(), entries_[p].name.c_str()) != 0;
  }

  std::vector<Entry> entries_;     // display order
  std::vector<uint32_t> builtAt_;  // each entry's position in the builder's order
  std::vector<uint32_t> runStarts_;
};

using NameSnapshot = Snapshot<NameEntry>;
using ResourceSnapshot = Snapshot<ResourceEntry>;
using NameSnapshotRef = std::shared_ptr<const NameSnapshot>;
using ResourceSnapshotRef = std::shared_ptr<const ResourceSnapshot>;

// The empty lists, which stand in for a list whose worker is running.
const NameSnapshotRef &EmptyNameSnapshot();
const ResourceSnapshotRef &EmptyResourceSnapshot();

// Where a builder publishes its snapshots and requests take the current one.
// The lock is held only to copy or swap the reference, never across any
// other call; a replaced snapshot is released outside it.
template <class T>
class Published {
 public:
  explicit Published(std::shared_ptr<const T> initial) : current_(std::move(initial)) {}
  Published(const Published &) = delete;
  Published &operator=(const Published &) = delete;

  std::shared_ptr<const T> Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
  }

  void Publish(std::shared_ptr<const T> next) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      current_.swap(next);
    }
    // next now holds the replaced snapshot; it is released here, unlocked.
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const T> current_;  // never null
};

}  // namespace hx

#endif

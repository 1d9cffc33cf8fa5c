// Look-up of entries by a hash: an open-addressing table of 32-bit entry
// numbers (items of one kind by name, kept lists by item). The table holds
// only the numbers; the caller keeps each entry's hash and decides what
// matches, so that the index costs 4 bytes a slot and a store of tens of
// thousands of sessions answers a name in the same few probes as one of ten.
#ifndef VELMORA_CONFIG_STORE_FILE_NAME_INDEX_H
#define VELMORA_CONFIG_STORE_FILE_NAME_INDEX_H

#include <stddef.h>
#include <stdint.h>

namespace velmora {
namespace store {

// A hash of the name's bytes.
uint32_t HashName(const char *name, size_t length);

class NameIndex {
 public:
  NameIndex() = default;
  ~NameIndex();
  NameIndex(const NameIndex &) = delete;
  NameIndex &operator=(const NameIndex &) = delete;

  // The entry for which matches(entry) holds, among those stored with `hash`
  // (matches must compare the hash too), or kAbsent.
  template <typename Matches>
  uint32_t Find(uint32_t hash, Matches matches) const {
    if (slots_ == nullptr) return kAbsent;
    for (uint32_t i = hash & mask_;; i = (i + 1) & mask_) {
      const uint32_t entry = slots_[i];
      if (entry == kEmpty) return kAbsent;
      if (entry != kErased && matches(entry)) return entry;
    }
  }

  // Adds an entry that is not in the index; hashOf(entry) gives the hash of
  // any entry in it, for growing. False when the table cannot grow. The
  // table grows with what is added, never with what a file announces.
  template <typename HashOf>
  bool Insert(uint32_t hash, uint32_t entry, HashOf hashOf) {
    if ((uint64_t{used_} + 1) * 2 > Capacity()) {
      uint32_t *old = slots_;
      const uint32_t oldCapacity = Capacity();
      if (!Allocate(live_ + 1)) return false;
      // Erased slots are dropped on the way.
      for (uint32_t i = 0; i < oldCapacity; ++i) {
        if (old[i] != kEmpty && old[i] != kErased) Place(hashOf(old[i]), old[i]);
      }
      Free(old);
    }
    Place(hash, entry);
    return true;
  }

  // Finds the entry that matches, as Find does, or else places `entry` where
  // the probe ended, in one probe: for filling an index that Reserve has made
  // room in, and that has no erased slots.
  template <typename Matches>
  uint32_t FindOrPlace(uint32_t hash, uint32_t entry, Matches matches) {
    uint32_t i = hash & mask_;
    for (; slots_[i] != kEmpty; i = (i + 1) & mask_) {
      if (matches(slots_[i])) return slots_[i];
    }
    slots_[i] = entry;
    ++used_;
    ++live_;
    return kAbsent;
  }

  // Makes room for `count` entries in an empty index, so that inserting them
  // never regrows it; false when it cannot be had.
  bool Reserve(uint32_t count) { return slots_ != nullptr || Allocate(count + 1); }

  // Takes out an entry that is in the index.
  void Erase(uint32_t hash, uint32_t entry);

  static constexpr uint32_t kAbsent = UINT32_MAX;

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  static constexpr uint32_t kErased = UINT32_MAX - 1;

  uint32_t Capacity() const { return slots_ != nullptr ? mask_ + 1 : 0; }
  // A fresh empty table for `count` entries at most half full; false when it
  // cannot be had (the old one is then kept).
  bool Allocate(uint32_t count);
  static void Free(uint32_t *slots);
  void Place(uint32_t hash, uint32_t entry) {
    uint32_t i = hash & mask_;
    while (slots_[i] != kEmpty) i = (i + 1) & mask_;
    slots_[i] = entry;
    ++used_;
    ++live_;
  }

  uint32_t *slots_ = nullptr;
  uint32_t mask_ = 0;
  uint32_t used_ = 0;  // live and erased slots: what keeps probes short
  uint32_t live_ = 0;
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_NAME_INDEX_H

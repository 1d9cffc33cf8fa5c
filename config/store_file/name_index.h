// Look-up of items by exact name: an open-addressing hash table of item
// numbers, one per kind of item. A store of tens of thousands of sessions
// answers a name in the same few probes as one of ten.
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

  // The item with this hash for which matches(item) holds, or kAbsent.
  template <typename Matches>
  uint32_t Find(uint32_t hash, Matches matches) const {
    if (slots_ == nullptr) return kAbsent;
    for (uint32_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot &slot = slots_[i];
      if (slot.item == kEmpty) return kAbsent;
      if (slot.item != kErased && slot.hash == hash && matches(slot.item)) return slot.item;
    }
  }

  // Sizes the table for `count` items, so that adding them does not rehash.
  bool Reserve(uint32_t count);
  // Adds an item that is not in the index; false when the table cannot grow.
  bool Insert(uint32_t hash, uint32_t item);
  // Takes out an item that is in the index.
  void Erase(uint32_t hash, uint32_t item);

  static constexpr uint32_t kAbsent = UINT32_MAX;

 private:
  struct Slot {
    uint32_t hash;
    uint32_t item;
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;
  static constexpr uint32_t kErased = UINT32_MAX - 1;

  bool Rehash(uint32_t capacity);
  void Place(uint32_t hash, uint32_t item);

  Slot *slots_ = nullptr;
  uint32_t mask_ = 0;
  uint32_t used_ = 0;  // live and erased slots: what keeps probes short
  uint32_t live_ = 0;
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_NAME_INDEX_H

#include "config/store_file/name_index.h"

#include <stdlib.h>
#include <string.h>

namespace velmora {
namespace store {

namespace {

uint64_t Load8(const char *p) {
  uint64_t word;
  memcpy(&word, p, sizeof word);
  return word;
}

uint64_t Mix(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
  return hash ^ (hash >> 32);
}

}  // namespace

uint32_t HashName(const char *name, size_t length) {
  // Eight bytes at a time; the last eight may overlap the ones before, which
  // is the same for the same name.
  uint64_t hash = 0x9E3779B97F4A7C15ull ^ length;
  if (length >= 8) {
    size_t i = 0;
    for (; i + 8 <= length; i += 8) hash = Mix(hash, Load8(name + i));
    if (i < length) hash = Mix(hash, Load8(name + length - 8));
  } else {
    uint64_t word = 0;
    for (size_t i = 0; i < length; ++i)
      word |= uint64_t{static_cast<unsigned char>(name[i])} << (8 * i);
    hash = Mix(hash, word);
  }
  hash *= 0xC4CEB9FE1A85EC53ull;
  hash ^= hash >> 29;
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

NameIndex::~NameIndex() {
  free(slots_);
}

void NameIndex::Place(uint32_t hash, uint32_t item) {
  uint32_t i = hash & mask_;
  while (slots_[i].item != kEmpty && slots_[i].item != kErased) i = (i + 1) & mask_;
  if (slots_[i].item == kEmpty) ++used_;
  slots_[i] = {hash, item};
  ++live_;
}

bool NameIndex::Rehash(uint32_t capacity) {
  auto *fresh = static_cast<Slot *>(malloc(static_cast<size_t>(capacity) * sizeof(Slot)));
  if (fresh == nullptr) return false;
  for (uint32_t i = 0; i < capacity; ++i) fresh[i] = {0, kEmpty};
  Slot *old = slots_;
  const uint32_t oldCapacity = old != nullptr ? mask_ + 1 : 0;
  slots_ = fresh;
  mask_ = capacity - 1;
  used_ = 0;
  live_ = 0;
  // Erased slots are dropped on the way.
  for (uint32_t i = 0; i < oldCapacity; ++i) {
    if (old[i].item != kEmpty && old[i].item != kErased) Place(old[i].hash, old[i].item);
  }
  free(old);
  return true;
}

// The table is at most half full, counting erased slots, so that probes stay
// short and an empty slot always ends them.
bool NameIndex::Reserve(uint32_t count) {
  const uint64_t capacity = slots_ != nullptr ? uint64_t{mask_} + 1 : 0;
  const uint64_t needed = (uint64_t{count} + 1) * 2;
  if (needed <= capacity) return true;
  uint64_t wanted = 16;
  while (wanted < needed) wanted *= 2;
  return wanted <= (uint64_t{1} << 30) && Rehash(static_cast<uint32_t>(wanted));
}

bool NameIndex::Insert(uint32_t hash, uint32_t item) {
  const uint32_t capacity = slots_ != nullptr ? mask_ + 1 : 0;
  if ((uint64_t{used_} + 1) * 2 > capacity) {
    // Grown from the live items: erased slots are dropped on the way.
    uint64_t wanted = 16;
    while (wanted < (uint64_t{live_} + 1) * 4) wanted *= 2;
    if (wanted > (uint64_t{1} << 30) || !Rehash(static_cast<uint32_t>(wanted))) return false;
  }
  Place(hash, item);
  return true;
}

void NameIndex::Erase(uint32_t hash, uint32_t item) {
  if (slots_ == nullptr) return;
  for (uint32_t i = hash & mask_; slots_[i].item != kEmpty; i = (i + 1) & mask_) {
    if (slots_[i].item == item) {
      slots_[i].item = kErased;
      --live_;
      return;
    }
  }
}

}  // namespace store
}  // namespace velmora

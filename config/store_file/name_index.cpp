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

void NameIndex::Free(uint32_t *slots) {
  free(slots);
}

bool NameIndex::Allocate(uint32_t count) {
  uint64_t capacity = 16;
  while (capacity < uint64_t{count} * 2) capacity *= 2;
  if (capacity > (uint64_t{1} << 30)) return false;
  auto *fresh = static_cast<uint32_t *>(malloc(static_cast<size_t>(capacity) * sizeof(uint32_t)));
  if (fresh == nullptr) return false;
  memset(fresh, 0xFF, static_cast<size_t>(capacity) * sizeof(uint32_t));  // all kEmpty
  slots_ = fresh;
  mask_ = static_cast<uint32_t>(capacity) - 1;
  used_ = 0;
  live_ = 0;
  return true;
}

void NameIndex::Erase(uint32_t hash, uint32_t entry) {
  if (slots_ == nullptr) return;
  for (uint32_t i = hash & mask_; slots_[i] != kEmpty; i = (i + 1) & mask_) {
    if (slots_[i] == entry) {
      slots_[i] = kErased;
      --live_;
      return;
    }
  }
}

}  // namespace store
}  // namespace velmora

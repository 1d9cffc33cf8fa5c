// Growable arrays of plain values for the file store. The library keeps to
// the C runtime (no operator new, no exceptions), so growth goes through
// realloc, and every growth can fail: each operation that may allocate
// answers false then and leaves the array as it was, and the caller turns
// that into kIviIniOutOfMemory.
#ifndef VELMORA_CONFIG_STORE_FILE_GROWABLE_ARRAY_H
#define VELMORA_CONFIG_STORE_FILE_GROWABLE_ARRAY_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <type_traits>

namespace velmora {
namespace store {

// Sizes are 32-bit: a store file is at most 64 MiB, so no array of it comes
// near that limit; growth past it fails like an allocation would.
template <typename T>
class GrowableArray {
  static_assert(std::is_trivially_copyable<T>::value, "elements are moved with realloc");

 public:
  GrowableArray() = default;
  ~GrowableArray() { free(data_); }
  GrowableArray(const GrowableArray &) = delete;
  GrowableArray &operator=(const GrowableArray &) = delete;

  uint32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T *data() { return data_; }
  const T *data() const { return data_; }
  T &operator[](uint32_t i) { return data_[i]; }
  const T &operator[](uint32_t i) const { return data_[i]; }
  T &back() { return data_[size_ - 1]; }

  // Makes room for `capacity` elements in all.
  bool Reserve(uint32_t capacity) {
    if (capacity <= capacity_) return true;
    if (static_cast<uint64_t>(capacity) * sizeof(T) > kMaxBytes) return false;
    void *grown = realloc(data_, static_cast<size_t>(capacity) * sizeof(T));
    if (grown == nullptr) return false;
    data_ = static_cast<T *>(grown);
    capacity_ = capacity;
    return true;
  }

  // Makes room for `extra` more elements, growing geometrically, so that
  // the appends that follow cannot fail.
  bool EnsureRoom(uint32_t extra) { return extra <= capacity_ - size_ || Grow(extra); }

  bool Append(const T &value) {
    if (size_ == capacity_ && !Grow(1)) return false;
    data_[size_++] = value;
    return true;
  }

  bool Append(const T *values, uint32_t count) {
    if (count > capacity_ - size_ && !Grow(count)) return false;
    if (count > 0) memcpy(data_ + size_, values, static_cast<size_t>(count) * sizeof(T));
    size_ += count;
    return true;
  }

  // Adds `count` elements for the caller to fill in; null when out of memory.
  T *Extend(uint32_t count) {
    if (!EnsureRoom(count)) return nullptr;
    size_ += count;
    return data_ + size_ - count;
  }

  bool InsertAt(uint32_t i, const T &value) {
    if (!EnsureRoom(1)) return false;
    memmove(data_ + i + 1, data_ + i, static_cast<size_t>(size_ - i) * sizeof(T));
    data_[i] = value;
    ++size_;
    return true;
  }

  void EraseAt(uint32_t i) {
    memmove(data_ + i, data_ + i + 1, static_cast<size_t>(size_ - i - 1) * sizeof(T));
    --size_;
  }

  void Clear() { size_ = 0; }
  // Drops the elements from `size` on; the room stays.
  void Truncate(uint32_t size) {
    if (size < size_) size_ = size;
  }

 private:
  // Kept well below 4 GiB so that 32-bit offsets into the array never wrap.
  static constexpr uint64_t kMaxBytes = uint64_t{1} << 31;

  // At least doubles, so that appending stays amortised constant time.
  bool Grow(uint32_t extra) {
    const uint64_t needed = static_cast<uint64_t>(size_) + extra;
    uint64_t capacity = capacity_ < 8 ? 16 : static_cast<uint64_t>(capacity_) * 2;
    if (capacity < needed) capacity = needed;
    if (capacity > UINT32_MAX) capacity = UINT32_MAX;
    if (capacity < needed) return false;
    return Reserve(static_cast<uint32_t>(capacity));
  }

  T *data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};

// Owns a block from malloc; frees it unless released.
class HeapBlock {
 public:
  explicit HeapBlock(void *block = nullptr) : block_(block) {}
  ~HeapBlock() { free(block_); }
  HeapBlock(const HeapBlock &) = delete;
  HeapBlock &operator=(const HeapBlock &) = delete;

  void *get() const { return block_; }
  // Frees what is held and holds `block` instead.
  void Reset(void *block) {
    free(block_);
    block_ = block;
  }
  void *release() {
    void *block = block_;
    block_ = nullptr;
    return block;
  }

 private:
  void *block_;
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_GROWABLE_ARRAY_H

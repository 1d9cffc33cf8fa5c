// Records of one size, kept in blocks that never move: appending never copies
// what is there, and the memory taken grows with what is stored (the first
// blocks are small, later ones hold 1,024 records), never with what a file
// announces. The file store keeps the items of each kind this way, each item
// with its key slots in one record.
#ifndef VELMORA_CONFIG_STORE_FILE_RECORD_BLOCKS_H
#define VELMORA_CONFIG_STORE_FILE_RECORD_BLOCKS_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "config/store_file/growable_array.h"

namespace velmora {
namespace store {

class RecordBlocks {
 public:
  explicit RecordBlocks(uint32_t recordSize = 0) : recordSize_(recordSize) {}
  ~RecordBlocks() {
    for (uint32_t b = 0; b < blocks_.size(); ++b) free(blocks_[b]);
  }
  RecordBlocks(const RecordBlocks &) = delete;
  RecordBlocks &operator=(const RecordBlocks &) = delete;

  void SetRecordSize(uint32_t recordSize) { recordSize_ = recordSize; }
  uint32_t size() const { return size_; }

  char *At(uint32_t i) { return blocks_[BlockOf(i)] + OffsetIn(i) * recordSize_; }
  const char *At(uint32_t i) const { return blocks_[BlockOf(i)] + OffsetIn(i) * recordSize_; }

  // A new zero-filled record at the end; null when out of memory.
  char *Append() {
    if (room_ == 0 && !NewBlock()) return nullptr;
    char *record = next_;
    next_ += recordSize_;
    --room_;
    ++size_;
    return record;
  }

  // Takes back the last record appended; its memory stays for the next.
  void PopBack() {
    next_ -= recordSize_;
    memset(next_, 0, recordSize_);
    ++room_;
    --size_;
  }

 private:
  // Blocks 0 to 5 hold 16, 32, ..., 512 records; every later one 1,024.
  static constexpr uint32_t kFirstShift = 4;
  static constexpr uint32_t kLastShift = 10;
  static constexpr uint32_t kSmallBlocks = kLastShift - kFirstShift;                   // 6
  static constexpr uint32_t kSmallRecords = (1u << kLastShift) - (1u << kFirstShift);  // 1008

  static uint32_t BlockCapacity(uint32_t block) {
    return 1u << (block < kSmallBlocks ? block + kFirstShift : kLastShift);
  }
  static uint32_t BlockOf(uint32_t i) {
    if (i >= kSmallRecords) return kSmallBlocks + ((i - kSmallRecords) >> kLastShift);
    return 31 - static_cast<uint32_t>(__builtin_clz((i >> kFirstShift) + 1));
  }
  static uint32_t OffsetIn(uint32_t i) {
    if (i >= kSmallRecords) return (i - kSmallRecords) & ((1u << kLastShift) - 1);
    const uint32_t block = BlockOf(i);
    return i - (((1u << block) - 1) << kFirstShift);
  }
  bool NewBlock() {
    if (!blocks_.EnsureRoom(1)) return false;
    const uint32_t records = BlockCapacity(blocks_.size());
    void *block = calloc(records, recordSize_);
    if (block == nullptr) return false;
    blocks_.Append(static_cast<char *>(block));
    next_ = static_cast<char *>(block);
    room_ = records;
    return true;
  }

  GrowableArray<char *> blocks_;
  uint32_t recordSize_;
  uint32_t size_ = 0;
  char *next_ = nullptr;  // the next record of the last block
  uint32_t room_ = 0;     // records left in the last block
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_RECORD_BLOCKS_H

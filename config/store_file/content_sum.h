// A 64-bit checksum of a file's bytes, fed in pieces of any size: the save
// uses it to tell whether a store file still holds what the library last
// wrote (timestamps cannot always tell), and the recovery file of an
// in-place save uses it to tell old bytes, new bytes and torn ones apart.
//
// Four independent multiply-rotate lanes over 32-byte stripes, so that it
// runs at memory speed; the result does not depend on how the bytes were cut
// into pieces. It finds accidental differences, not deliberate ones: anyone
// who could craft a collision could write the file anyway.
#ifndef VELMORA_CONFIG_STORE_FILE_CONTENT_SUM_H
#define VELMORA_CONFIG_STORE_FILE_CONTENT_SUM_H

#include <stddef.h>
#include <stdint.h>

namespace velmora {
namespace store {

class ContentSum {
 public:
  ContentSum();
  void Add(const void *data, size_t length);
  uint64_t length() const { return length_; }
  // The checksum of everything added so far (adding more may follow).
  uint64_t Value() const;

  // The checksum of one block.
  static uint64_t Of(const void *data, size_t length);

 private:
  static constexpr size_t kStripe = 32;
  uint64_t lanes_[4];
  unsigned char pending_[kStripe];  // the start of a stripe not yet complete
  size_t pendingLength_ = 0;
  uint64_t length_ = 0;
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_CONTENT_SUM_H

// A 64-bit checksum of a file's bytes, fed in pieces of any size: the save
// uses it to tell whether a store file still holds what the library last
// wrote (timestamps cannot always tell), and the recovery file of an
// in-place save uses it to tell old bytes, new bytes and torn ones apart.
//
// Eight lanes over 64-byte stripes, one 32-by-32-bit multiplication per
// eight bytes, two lanes at a time where the processor has SSE2 (every
// x86-64 does): a save sums every byte it writes and every byte it checks,
// so the sum must cost less than copying them. The result does not depend
// on how the bytes were cut into pieces. It finds accidental differences,
// not deliberate ones: anyone who could craft a collision could write the
// file anyway.
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

  static constexpr int kLanes = 8;

 private:
  static constexpr size_t kStripe = 8 * kLanes;
  static constexpr uint64_t kStripesPerBlock = 16;
  void Stripes(const unsigned char *p, size_t count);

  uint64_t lanes_[kLanes];
  unsigned char pending_[kStripe];  // the start of a stripe not yet complete
  size_t pendingLength_ = 0;
  uint64_t length_ = 0;
  uint64_t stripes_ = 0;
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_CONTENT_SUM_H

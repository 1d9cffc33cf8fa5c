#include "config/store_file/content_sum.h"

#include <string.h>

namespace velmora {
namespace store {
namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

inline uint64_t Rotate(uint64_t value, int bits) {
  return (value << bits) | (value >> (64 - bits));
}

// Little-endian reads whatever the alignment (memcpy compiles to one load).
inline uint64_t Read64(const unsigned char *p) {
  uint64_t value;
  memcpy(&value, p, sizeof value);
  return value;
}
inline uint32_t Read32(const unsigned char *p) {
  uint32_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

inline uint64_t Round(uint64_t lane, uint64_t input) {
  lane += input * kPrime2;
  return Rotate(lane, 31) * kPrime1;
}

inline uint64_t Merge(uint64_t sum, uint64_t lane) {
  sum ^= Round(0, lane);
  return sum * kPrime1 + kPrime4;
}

}  // namespace

ContentSum::ContentSum() : lanes_{kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1} {}

void ContentSum::Add(const void *data, size_t length) {
  const auto *p = static_cast<const unsigned char *>(data);
  length_ += length;
  if (pendingLength_ > 0) {
    const size_t taken = length < kStripe - pendingLength_ ? length : kStripe - pendingLength_;
    memcpy(pending_ + pendingLength_, p, taken);
    pendingLength_ += taken;
    p += taken;
    length -= taken;
    if (pendingLength_ < kStripe) return;
    for (int lane = 0; lane < 4; ++lane) lanes_[lane] = Round(lanes_[lane], Read64(pending_ + 8 * lane));
    pendingLength_ = 0;
  }
  uint64_t a = lanes_[0], b = lanes_[1], c = lanes_[2], d = lanes_[3];
  for (; length >= kStripe; p += kStripe, length -= kStripe) {
    a = Round(a, Read64(p));
    b = Round(b, Read64(p + 8));
    c = Round(c, Read64(p + 16));
    d = Round(d, Read64(p + 24));
  }
  lanes_[0] = a, lanes_[1] = b, lanes_[2] = c, lanes_[3] = d;
  memcpy(pending_, p, length);
  pendingLength_ = length;
}

uint64_t ContentSum::Value() const {
  uint64_t sum;
  if (length_ >= kStripe) {
    sum = Rotate(lanes_[0], 1) + Rotate(lanes_[1], 7) + Rotate(lanes_[2], 12) + Rotate(lanes_[3], 18);
    for (uint64_t lane : lanes_) sum = Merge(sum, lane);
  } else {
    sum = kPrime5;
  }
  sum += length_;
  const unsigned char *p = pending_;
  size_t left = pendingLength_;
  for (; left >= 8; p += 8, left -= 8) sum = Rotate(sum ^ Round(0, Read64(p)), 27) * kPrime1 + kPrime4;
  if (left >= 4) {
    sum = Rotate(sum ^ (static_cast<uint64_t>(Read32(p)) * kPrime1), 23) * kPrime2 + kPrime3;
    p += 4;
    left -= 4;
  }
  for (; left > 0; ++p, --left) sum = Rotate(sum ^ (*p * kPrime5), 11) * kPrime1;
  sum ^= sum >> 33;
  sum *= kPrime2;
  sum ^= sum >> 29;
  sum *= kPrime3;
  return sum ^ (sum >> 32);
}

uint64_t ContentSum::Of(const void *data, size_t length) {
  ContentSum sum;
  sum.Add(data, length);
  return sum.Value();
}

}  // namespace store
}  // namespace velmora

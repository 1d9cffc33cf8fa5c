#include "config/store_file/content_sum.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora {
namespace store {
namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint32_t kScramblePrime = 0x9E3779B1u;

// Mixed into each word before its halves are multiplied, so that common
// words (blanks, zeros) do not multiply to nothing, and into the lanes at
// each scramble. Any odd-looking constants do.
constexpr uint64_t kKey[ContentSum::kLanes] = {
    0xBE4BA423396CFEB8ull, 0x1CAD21F72C81017Cull, 0xDB979083E96DD4DEull, 0x1F67B3B7A4A44072ull,
    0x78E5C0CC4EE679CBull, 0x2172FFCC7DD05A82ull, 0x8E2443F7744608B8ull, 0x4C263A81E69035E0ull};

inline uint64_t Rotate(uint64_t value, int bits) {
  return (value << bits) | (value >> (64 - bits));
}

#if !defined(__SSE2__)
// Little-endian reads whatever the alignment (memcpy compiles to one load).
inline uint64_t Read64(const unsigned char *p) {
  uint64_t value;
  memcpy(&value, p, sizeof value);
  return value;
}
#endif

inline uint64_t Avalanche(uint64_t x) {
  x ^= x >> 33;
  x *= kPrime2;
  x ^= x >> 29;
  x *= kPrime3;
  return x ^ (x >> 32);
}

}  // namespace

ContentSum::ContentSum() {
  for (int lane = 0; lane < kLanes; ++lane) lanes_[lane] = kKey[lane] ^ kPrime1;
}

// Each word goes into two lanes: as it is into its neighbour, so that any
// change of it changes that lane by exactly as much; and, keyed by its lane
// and its stripe's place in the block, as the product of its two halves into
// its own, which spreads its bits and tells where it stood. Every block of
// stripes the lanes are scrambled, so that sums cannot build up into
// patterns that cancel. The vector form below and the plain one compute the
// same: two lanes to a register, the neighbour being the register's other
// half.
void ContentSum::Stripes(const unsigned char *p, size_t count) {
#if defined(__SSE2__)
  const auto load = [](const void *at) {
    return _mm_loadu_si128(static_cast<const __m128i *>(at));
  };
  const __m128i key0 = load(kKey), key1 = load(kKey + 2), key2 = load(kKey + 4),
                key3 = load(kKey + 6);
  __m128i lane0 = load(lanes_), lane1 = load(lanes_ + 2), lane2 = load(lanes_ + 4),
          lane3 = load(lanes_ + 6);
  const __m128i prime = _mm_set1_epi32(static_cast<int>(kScramblePrime));
  const auto take = [](__m128i lane, __m128i words, __m128i key) {
    const __m128i keyed = _mm_xor_si128(words, key);
    const __m128i product = _mm_mul_epu32(keyed, _mm_shuffle_epi32(keyed, _MM_SHUFFLE(3, 3, 1, 1)));
    const __m128i neighbours = _mm_shuffle_epi32(words, _MM_SHUFFLE(1, 0, 3, 2));
    return _mm_add_epi64(lane, _mm_add_epi64(neighbours, product));
  };
  const auto scramble = [prime](__m128i lane, __m128i key) {
    const __m128i mixed = _mm_xor_si128(_mm_xor_si128(lane, _mm_srli_epi64(lane, 47)), key);
    const __m128i low = _mm_mul_epu32(mixed, prime);
    const __m128i high = _mm_mul_epu32(_mm_srli_epi64(mixed, 32), prime);
    return _mm_add_epi64(low, _mm_slli_epi64(high, 32));
  };
  uint64_t stripes = stripes_;
  for (; count > 0; --count, p += kStripe) {
    const __m128i place =
        _mm_set1_epi64x(static_cast<long long>((stripes % kStripesPerBlock) * kPrime3));
    lane0 = take(lane0, load(p), _mm_add_epi64(key0, place));
    lane1 = take(lane1, load(p + 16), _mm_add_epi64(key1, place));
    lane2 = take(lane2, load(p + 32), _mm_add_epi64(key2, place));
    lane3 = take(lane3, load(p + 48), _mm_add_epi64(key3, place));
    if (++stripes % kStripesPerBlock == 0) {
      lane0 = scramble(lane0, key0);
      lane1 = scramble(lane1, key1);
      lane2 = scramble(lane2, key2);
      lane3 = scramble(lane3, key3);
    }
  }
  stripes_ = stripes;
  _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes_), lane0);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes_ + 2), lane1);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes_ + 4), lane2);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes_ + 6), lane3);
#else
  uint64_t lanes[kLanes];
  memcpy(lanes, lanes_, sizeof lanes);
  for (; count > 0; --count, p += kStripe) {
    const uint64_t place = (stripes_ % kStripesPerBlock) * kPrime3;
    for (int lane = 0; lane < kLanes; ++lane) {
      const uint64_t word = Read64(p + 8 * lane);
      const uint64_t keyed = word ^ (kKey[lane] + place);
      lanes[lane ^ 1] += word;
      lanes[lane] += (keyed & 0xFFFFFFFFu) * (keyed >> 32);
    }
    if (++stripes_ % kStripesPerBlock == 0) {
      for (int lane = 0; lane < kLanes; ++lane) {
        lanes[lane] = ((lanes[lane] ^ (lanes[lane] >> 47)) ^ kKey[lane]) * kScramblePrime;
      }
    }
  }
  memcpy(lanes_, lanes, sizeof lanes);
#endif
}

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
    Stripes(pending_, 1);
    pendingLength_ = 0;
  }
  Stripes(p, length / kStripe);
  p += length - length % kStripe;
  length %= kStripe;
  memcpy(pending_, p, length);
  pendingLength_ = length;
}

uint64_t ContentSum::Value() const {
  // The bytes past the last whole stripe, padded with zeros; the length
  // tells a file from the same file with zeros added.
  ContentSum last = *this;
  if (last.pendingLength_ > 0) {
    memset(last.pending_ + last.pendingLength_, 0, kStripe - last.pendingLength_);
    last.Stripes(last.pending_, 1);
  }
  uint64_t sum = length_ * kPrime1;
  for (int lane = 0; lane < kLanes; ++lane) {
    sum = Rotate(sum ^ Avalanche(last.lanes_[lane] + static_cast<uint64_t>(lane)), 27) * kPrime1 +
          kPrime4;
  }
  return Avalanche(sum);
}

uint64_t ContentSum::Of(const void *data, size_t length) {
  ContentSum sum;
  sum.Add(data, length);
  return sum.Value();
}

}  // namespace store
}  // namespace velmora

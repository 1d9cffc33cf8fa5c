// Display order and case-insensitive matching of the plug-in's names.
#include "plugin/lists/names.h"


#include <cctype>
#include <cstring>

namespace hx {
namespace {

// What a byte is to the comparator, derived from kNameBreakCharacters so that
// the table stays the one place that says which bytes break a segment.
enum ByteClass : uint8_t { kOther = 0, kDigit = 1, kSeparator = 2 };

struct ByteClassTable {
  uint8_t of[256];
};

constexpr ByteClassTable MakeByteClassTable() {
  ByteClassTable table{};
  for (std::size_t k = 0; k < kNameBreakCharacterCount; ++k) {
    const auto c = static_cast<unsigned char>(kNameBreakCharacters[k]);
    // Positions 4 to 13 of the table hold the ten digits; the rest are
    // separators.
    table.of[c] = (k >= 4 && k < 14) ? kDigit : kSeparator;
  }
  return table;
}

constexpr ByteClassTable kByteClass = MakeByteClassTable();

// Folds bytes of a name as the comparator sees them: with tolower, exactly as
// strcasecmp folds them, so that the comparator's "equal" is strcasecmp's.
// Folding on the fly (instead of lower-cased copies) keeps the comparator
// free of allocations. glibc's tolower is a look-up in the calling thread's
// locale table; C++ code gets it only as an out-of-line call per byte, so
// the table is fetched once per comparison and read directly.
class Folder {
 public:
#ifdef __GLIBC__
  Folder() noexcept : table_(*__ctype_tolower_loc()) {}
  unsigned char operator()(unsigned char c) const noexcept {
    return static_cast<unsigned char>(table_[c]);
  }

 private:
  const int32_t *table_;
#else
  unsigned char operator()(unsigned char c) const noexcept {
    return static_cast<unsigned char>(std::tolower(c));
  }
#endif
};

inline uint8_t ClassOf(unsigned char folded) noexcept {
  return kByteClass.of[folded];
}

// Whether a folded byte still belongs to the current text segment. A segment
// is an optional run of separators followed by other bytes, and ends at the
// next separator or digit, or at the end of the name. in_separator_run tracks
// the first part; it is cleared once the run is over.
inline bool InSegment(unsigned char folded, bool &in_separator_run) noexcept {
  const uint8_t cls = ClassOf(folded);
  if (in_separator_run) {
    if (cls == kSeparator) return true;
    in_separator_run = false;
  }
  return cls == kOther && folded != 0;
}

// Compares two names from positions at which both start a token, walking
// them once, in step, one token at a time: a run of digits on both sides is
// compared as a number, anything else as a text segment. Each side's
// position only ever moves over bytes that compared equal on both sides, so
// reaching the end of both names means they are equal ignoring case.
int32_t CompareTokens(const unsigned char *pa, const unsigned char *pb,
                      const Folder &fold) noexcept {
  unsigned char ca = fold(*pa);
  unsigned char cb = fold(*pb);

  while (ca != 0 && cb != 0) {
    const uint8_t class_a = ClassOf(ca);
    const uint8_t class_b = ClassOf(cb);

    if (class_a == kDigit && class_b == kDigit) {
      std::size_t zeros_a = 0;
      while (ca == '0') {
        ++zeros_a;
        ca = fold(*++pa);
      }
      std::size_t zeros_b = 0;
      while (cb == '0') {
        ++zeros_b;
        cb = fold(*++pb);
      }
      // Walk the significant digits together: the longer run is the larger
      // number whatever its digits, so the first differing digit only counts
      // once both runs turn out to be equally long.
      int first_difference = 0;
      for (;;) {
        const bool digit_a = ClassOf(ca) == kDigit;
        const bool digit_b = ClassOf(cb) == kDigit;
        if (!digit_a || !digit_b) {
          if (digit_a) return 1;
          if (digit_b) return -1;
          break;
        }
        if (first_difference == 0) first_difference = ca - cb;
        ca = fold(*++pa);
        cb = fold(*++pb);
      }
      if (first_difference != 0) return first_difference;
      // The same value written with more leading zeros sorts first, and that
      // decides even if the rest of the names would say otherwise.
      if (zeros_a != zeros_b) return zeros_a > zeros_b ? -1 : 1;
      continue;
    }

    const bool separator_a = class_a == kSeparator;
    const bool separator_b = class_b == kSeparator;
    if (separator_a != separator_b) return separator_a ? -1 : 1;

    // Compare the two segments as byte strings. A side that starts at a
    // digit has an empty segment, so a digit sorts before any other byte.
    bool run_a = separator_a;
    bool run_b = separator_b;
    for (;;) {
      const bool in_a = InSegment(ca, run_a);
      const bool in_b = InSegment(cb, run_b);
      if (!in_a || !in_b) {
        if (in_a) return 1;
        if (in_b) return -1;
        break;
      }
      if (ca != cb) return ca - cb;
      ca = fold(*++pa);
      cb = fold(*++pb);
    }
  }

  if (ca != 0) return 1;
  if (cb != 0) return -1;
  return 0;
}

// Where the folded names first differ: the length of their common prefix
// ignoring case. Bytes that are equal as they stand need no folding, which
// makes this loop the cheap part of most comparisons.
std::size_t CommonFoldedPrefix(const unsigned char *pa, const unsigned char *pb,
                               const Folder &fold) noexcept {
  std::size_t k = 0;
  for (;;) {
    const unsigned char x = pa[k];
    const unsigned char y = pb[k];
    if (x != y) {
      if (x == 0 || y == 0 || fold(x) != fold(y)) return k;
    } else if (x == 0) {
      return k;
    }
    ++k;
  }
}

// The start of the token that holds position k - 1 of a name (0 when k is
// 0). Tokens are a run of digits, or an optional run of separators followed
// by other bytes; the bytes before k are the same in both names, so both
// tokenise them alike and the comparison can resume at this position.
std::size_t TokenStart(const unsigned char *p, std::size_t k, const Folder &fold) noexcept {
  if (k == 0) return 0;
  const auto class_at = [p, &fold](std::size_t at) { return ClassOf(fold(p[at])); };
  const uint8_t last = class_at(k - 1);
  std::size_t s = k - 1;
  if (last == kOther) {
    while (s > 0 && class_at(s - 1) == kOther) --s;
    while (s > 0 && class_at(s - 1) == kSeparator) --s;
  } else {
    while (s > 0 && class_at(s - 1) == last) --s;
  }
  return s;
}

}  // namespace

bool IsNameSeparator(char c) noexcept {
  return std::memchr(kNameBreakCharacters + kNameBreakCharacterCount - 4, c, 4) != nullptr;
}

// Tokens that lie wholly inside the common prefix of the two names compare
// equal, so the comparison skips that prefix and starts token by token only
// at the token where the names begin to differ. That keeps the cost close to
// a plain strcasecmp for the long shared prefixes of neighbours in a sort.
int32_t CompareNames(const char *a, const char *b) noexcept {
  const auto *pa = reinterpret_cast<const unsigned char *>(a != nullptr ? a : "");
  const auto *pb = reinterpret_cast<const unsigned char *>(b != nullptr ? b : "");
  const Folder fold;
  const std::size_t common = CommonFoldedPrefix(pa, pb, fold);
  const unsigned char x = fold(pa[common]);
  const unsigned char y = fold(pb[common]);
  if (x == 0 && y == 0) return 0;
  // Two other bytes, or two separators, at the first difference: whatever
  // token the common prefix ended in, both names are inside the same kind of
  // segment there (or both start one), so the segments first differ at these
  // bytes. Most comparisons end here without looking back.
  const uint8_t class_x = ClassOf(x);
  if (x != 0 && y != 0 && class_x != kDigit && class_x == ClassOf(y)) return x - y;
  const std::size_t start = TokenStart(pa, common, fold);
  return CompareTokens(pa + start, pb + start, fold);
}

namespace {

// Marker bytes of the tokens in a sort key, in the order CompareNames puts
// tokens that differ in kind at the same place: a separator run first, then
// a number, then other text. The end of a text segment is 0, below any byte
// a segment holds.
constexpr char kSeparatorTextMarker = 1;
constexpr char kNumberMarker = 2;
constexpr char kOtherTextMarker = 3;
constexpr char kEndOfText = 0;

void AppendBigEndian32(std::string &key, std::size_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    key.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

}  // namespace

void AppendSortKey(const char *name, std::string &key) {
  const auto *p = reinterpret_cast<const unsigned char *>(name != nullptr ? name : "");
  const Folder fold;
  unsigned char c = fold(*p);
  while (c != 0) {
    if (ClassOf(c) == kDigit) {
      std::size_t zeros = 0;
      while (c == '0') {
        ++zeros;
        c = fold(*++p);
      }
      const unsigned char *digits = p;
      while (ClassOf(c) == kDigit) c = fold(*++p);
      key.push_back(kNumberMarker);
      AppendBigEndian32(key, static_cast<std::size_t>(p - digits));
      key.append(reinterpret_cast<const char *>(digits), static_cast<std::size_t>(p - digits));
      AppendBigEndian32(key, 0xFFFFFFFFu - zeros);
      continue;
    }
    bool separators = ClassOf(c) == kSeparator;
    key.push_back(separators ? kSeparatorTextMarker : kOtherTextMarker);
    while (InSegment(c, separators)) {
      key.push_back(static_cast<char>(c));
      c = fold(*++p);
    }
    key.push_back(kEndOfText);
  }
}

std::size_t HashIgnoringCase(const char *name) noexcept {
  // FNV-1a over the folded bytes.
  constexpr std::uint64_t kOffset = 14695981039346656037ull;
  constexpr std::uint64_t kPrime = 1099511628211ull;
  std::uint64_t hash = kOffset;
  if (name == nullptr) return static_cast<std::size_t>(hash);
  const Folder fold;
  for (const char *p = name; *p != '\0'; ++p) {
    hash = (hash ^ fold(static_cast<unsigned char>(*p))) * kPrime;
  }
  return static_cast<std::size_t>(hash);
}

}  // namespace hx

// Tests of the display order of names, and of the master-list snapshots that
// sort by it and search their names ignoring case.
#include "plugin/lists/names.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/lists/snapshot.h"

// Every allocation through operator new in this test program is counted, so
// that a test can show that a piece of code allocates nothing.
namespace {
std::atomic<std::size_t> g_allocations{0};
}  // namespace

// The replacement pair allocates with malloc and frees with free; GCC's
// check for mismatched allocation functions cannot see that they belong
// together once they are inlined into the code that calls new and delete.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void *block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void *block) noexcept {
  std::free(block);
}
void operator delete(void *block, std::size_t) noexcept {
  std::free(block);
}
#pragma GCC diagnostic pop

namespace hx {
namespace {

// ---------------------------------------------------------------------------
// The ordering written out step by step, the slow and obvious way: lower-case
// copies, lengths and indices. The product's comparator walks the names
// without copies; the property tests below hold it to this version.
int32_t LiteralCompareNames(const char *a, const char *b) {
  if (strcasecmp(a, b) == 0) return 0;

  std::string lower_a(a);
  std::string lower_b(b);
  for (char &c : lower_a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char &c : lower_b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t len_a = std::strlen(a);
  const std::size_t len_b = std::strlen(b);
  const auto byte_a = [&](std::size_t k) { return static_cast<unsigned char>(lower_a[k]); };
  const auto byte_b = [&](std::size_t k) { return static_cast<unsigned char>(lower_b[k]); };
  const auto is_digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
  const auto is_separator = [](unsigned char c) {
    return c == '\r' || c == '\n' || c == '.' || c == '\\';
  };

  std::size_t i = 0;
  std::size_t j = 0;
  while (i < len_a && j < len_b) {
    if (is_digit(byte_a(i)) && is_digit(byte_b(j))) {
      std::size_t zeros_a = 0;
      while (i < len_a && byte_a(i) == '0') {
        ++i;
        ++zeros_a;
      }
      std::size_t zeros_b = 0;
      while (j < len_b && byte_b(j) == '0') {
        ++j;
        ++zeros_b;
      }
      std::size_t end_a = i;
      while (end_a < len_a && is_digit(byte_a(end_a))) ++end_a;
      std::size_t end_b = j;
      while (end_b < len_b && is_digit(byte_b(end_b))) ++end_b;
      const std::size_t run_a = end_a - i;
      const std::size_t run_b = end_b - j;
      if (run_a != run_b) return static_cast<int32_t>(run_a) - static_cast<int32_t>(run_b);
      for (std::size_t k = 0; k < run_a; ++k) {
        if (byte_a(i + k) != byte_b(j + k)) return byte_a(i + k) - byte_b(j + k);
      }
      if (zeros_a != zeros_b) return static_cast<int32_t>(zeros_b) - static_cast<int32_t>(zeros_a);
      i = end_a;
      j = end_b;
      continue;
    }

    std::size_t ia = i;
    while (ia < len_a && is_separator(byte_a(ia))) ++ia;
    std::size_t jb = j;
    while (jb < len_b && is_separator(byte_b(jb))) ++jb;
    if (ia > i && jb == j) return -1;
    if (jb > j && ia == i) return 1;

    std::size_t end_a = ia;
    while (end_a < len_a && !is_separator(byte_a(end_a)) && !is_digit(byte_a(end_a))) ++end_a;
    std::size_t end_b = jb;
    while (end_b < len_b && !is_separator(byte_b(end_b)) && !is_digit(byte_b(end_b))) ++end_b;
    const std::string segment_a = lower_a.substr(i, end_a - i);
    const std::string segment_b = lower_b.substr(j, end_b - j);
    const std::size_t common = std::min(segment_a.size(), segment_b.size());
    const int bytes = std::memcmp(segment_a.data(), segment_b.data(), common);
    if (bytes != 0) return bytes;
    if (segment_a.size() != segment_b.size()) return segment_a.size() < segment_b.size() ? -1 : 1;
    i = end_a;
    j = end_b;
  }
  if (i < len_a) return 1;
  if (j < len_b) return -1;
  return 0;
}

int Sign(int32_t value) {
  return (value > 0) - (value < 0);
}

// Names with CR, LF and other control bytes made readable in failure messages.
std::string Show(const std::string &name) {
  std::string shown = "\"";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\\') {
      shown += "\\\\";
    } else if (byte < 0x20 || byte >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown + "\"";
}

// A list in display order, as a master-list snapshot holds it.
template <class List>
List Sorted(List list) {
  return Snapshot<typename List::value_type>(std::move(list)).entries();
}

struct OrderCase {
  const char *a;
  const char *b;
  int expected;  // sign of CompareNames(a, b)
};

// Checks each pair both ways round, and holds the literal version to the same
// table so that the property tests compare against a reference that is itself
// known to be right.
void ExpectOrder(const std::vector<OrderCase> &cases) {
  for (const OrderCase &c : cases) {
    SCOPED_TRACE(Show(c.a) + " vs " + Show(c.b));
    EXPECT_EQ(Sign(CompareNames(c.a, c.b)), c.expected);
    EXPECT_EQ(Sign(CompareNames(c.b, c.a)), -c.expected);
    EXPECT_EQ(Sign(LiteralCompareNames(c.a, c.b)), c.expected);
    EXPECT_EQ(Sign(LiteralCompareNames(c.b, c.a)), -c.expected);
  }
}

// ---------------------------------------------------------------------------
// The order, rule by rule.

TEST(CompareNames, CaseNeverCounts) {
  ExpectOrder({
      {"ABC", "abc", 0},
      {"meter1", "METER1", 0},
      {"A\\B.c", "a\\b.C", 0},
      {"abc", "abd", -1},
      {"abc", "ABD", -1},
      // Letters compare folded: 'B' folds to 'b' (0x62), which is above '_'
      // (0x5F) and '[' (0x5B); unfolded it would be below both.
      {"a_", "aB", -1},
      {"[", "A", -1},
  });
}

TEST(CompareNames, NumbersCompareByValue) {
  ExpectOrder({
      {"a2", "a10", -1},
      {"Slot2", "Slot10", -1},
      {"Meter2", "Meter10", -1},
      {"a9b", "a10", -1},
      {"9", "10", -1},
      {"a1b2", "a1b10", -1},
      {"1.5", "1.10", -1},
      {"Rack1Slot2", "Rack1Slot10", -1},
      {"Rack2Slot1", "Rack10Slot1", -1},
      {"rack1SLOT2", "Rack1slot10", -1},
      // Names that first differ inside a number, after digits they share.
      {"a10", "a100", -1},
      {"a1000x", "a100x", 1},
      {"a1050", "a1005", 1},
      {"192.168.1.9", "192.168.1.10", -1},
      {"a12", "a13", -1},
      // Longer than any machine integer: compared digit by digit.
      {"a123456789012345678901234567890", "a123456789012345678901234567891", -1},
      {"a99999999999999999999999999999", "a100000000000000000000000000000", -1},
      {"a12b", "a12c", -1},
      {"a12", "a12", 0},
  });
}

TEST(CompareNames, MoreLeadingZerosSortFirst) {
  ExpectOrder({
      {"a010", "a10", -1},
      {"00", "0", -1},
      {"x00", "x0", -1},
      {"a00b", "a0b", -1},
      {"meter01", "Meter1", -1},
      {"a007", "a07", -1},
      // Decided at the number, before the bytes after it are looked at.
      {"a01c", "a1b", -1},
      {"a01z", "a1a", -1},
      {"x0010y", "x010a", -1},
      // A larger value still wins over zeros.
      {"a0002", "a1", 1},
  });
}

TEST(CompareNames, SeparatorRunSortsFirst) {
  ExpectOrder({
      {"x.y", "xy", -1},
      {".", "1", -1},
      {".", "a", -1},
      {"a.x", "a1", -1},
      {"a\rb", "ab", -1},
      {"a\nb", "a0", -1},
      {"a\\", "a_", -1},
      {"a1.b", "a1b", -1},
      {"a..b", "a.b", -1},
  });
}

TEST(CompareNames, DigitSortsBeforeOtherBytes) {
  ExpectOrder({
      {"1", "a", -1},
      {"a1", "a 1", -1},
      {"meter1", "meter_1", -1},
      {"a0", "a!", -1},
      {"x9", "x-", -1},
  });
}

TEST(CompareNames, SegmentsCompareByByteValue) {
  ExpectOrder({
      {"a.b", "a\\b", -1},
      // '.' is a prefix of '..' even though a separator would otherwise sort
      // before a digit.
      {"a.1", "a..", -1},
      {"a.1", "a.b", -1},
      {"\n", "\r", -1},
      {"a\n", "a.", -1},
      {"scope", "scope_x", -1},
      {"a-b", "a_b", -1},
      // Bytes above 0x7F compare unsigned.
      {"z", "\xC3\xA9", -1},
      {"a\x7F", "a\x80", -1},
  });
}

TEST(CompareNames, PrefixSortsFirst) {
  ExpectOrder({
      {"a", "a0", -1},
      {"", "a", -1},
      {"", "0", -1},
      {"", ".", -1},
      {"", "", 0},
      {"Meter1", "Meter1.ch0", -1},
      {"a.", "a.b", -1},
      {"scope", "Scope2", -1},
  });
}

TEST(CompareNames, NullCountsAsEmptyName) {
  EXPECT_EQ(CompareNames(nullptr, nullptr), 0);
  EXPECT_EQ(CompareNames(nullptr, ""), 0);
  EXPECT_EQ(CompareNames("", nullptr), 0);
  EXPECT_LT(CompareNames(nullptr, "a"), 0);
  EXPECT_GT(CompareNames("a", nullptr), 0);
}

// The comparator runs inside every sort and search; neither it nor the sort
// may make copies of the names. The names are longer than any small-string
// buffer, so a copy would show up as an allocation.
TEST(CompareNames, NeitherComparingNorSortingAllocates) {
  NameList list;
  for (int k = 40; k > 0; --k) {
    list.push_back({"TCPIP0::192.168.1." + std::to_string(k) + "::inst0::INSTR", false,
                    "a driver class name longer than a small string",
                    "prefix-" + std::to_string(k)});
  }
  list.push_back({"tcpip0::192.168.1.7::INST0::instr", true, "", ""});
  const std::size_t before = g_allocations.load();
  int32_t sum = 0;
  for (const NameEntry &x : list) {
    for (const NameEntry &y : list) sum += Sign(CompareNames(x.name.c_str(), y.name.c_str()));
  }
  std::sort(list.begin(), list.end(), [](const NameEntry &x, const NameEntry &y) {
    return CompareNames(x.name.c_str(), y.name.c_str()) < 0;
  });
  const std::size_t after = g_allocations.load();
  EXPECT_EQ(after - before, 0u);
  EXPECT_EQ(sum, 0);  // antisymmetric over all pairs
  EXPECT_EQ(list.front().name, "TCPIP0::192.168.1.1::inst0::INSTR");
  EXPECT_EQ(list.back().name, "TCPIP0::192.168.1.40::inst0::INSTR");
  // The allocation counter itself works: a copy of a long name is seen.
  const std::string copy = list.front().name;
  EXPECT_GT(g_allocations.load(), after);
}

// Every pair of names of at most one byte, across all 255 non-NUL byte
// values: the class of each byte (separator, digit, other), folding and
// unsigned comparison all have to match the literal version.
TEST(CompareNames, AgreesWithLiteralVersionOnEveryByte) {
  std::vector<std::string> names = {""};
  for (int byte = 1; byte < 256; ++byte) names.emplace_back(1, static_cast<char>(byte));
  for (const std::string &x : names) {
    for (const std::string &y : names) {
      ASSERT_EQ(Sign(CompareNames(x.c_str(), y.c_str())),
                Sign(LiteralCompareNames(x.c_str(), y.c_str())))
          << Show(x) << " vs " << Show(y);
    }
  }
}

// Compares two names by their sort keys (hx::AppendSortKey).
int CompareKeys(const std::string &a, const std::string &b) {
  std::string x, y;
  hx::AppendSortKey(a.c_str(), x);
  hx::AppendSortKey(b.c_str(), y);
  return Sign(x.compare(y));
}

// The sort keys where a narrow encoding would break: digit runs and runs of
// leading zeros longer than any one byte can count, every single byte, and
// the empty name, each against every other, in both directions.
TEST(SortKeys, AgreeWithTheComparatorOnLongRunsAndEveryByte) {
  std::vector<std::string> names = {"", "a", "a0", "a00", "a1", "a.1", "a\\1", "ab"};
  for (int byte = 1; byte < 256; ++byte) names.emplace_back(1, static_cast<char>(byte));
  for (const size_t length : {254u, 255u, 256u, 300u}) {
    names.push_back("n" + std::string(length, '7'));
    names.push_back("n" + std::string(length, '0') + "7");
    names.push_back("n" + std::string(length, '0') + "7x");
  }
  for (const std::string &x : names) {
    for (const std::string &y : names) {
      ASSERT_EQ(CompareKeys(x, y), Sign(CompareNames(x.c_str(), y.c_str())))
          << Show(x) << " vs " << Show(y);
    }
  }
}

TEST(IsNameSeparator, OnlyCrLfFullStopAndBackslash) {
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const bool expected = c == '\r' || c == '\n' || c == '.' || c == '\\';
    EXPECT_EQ(IsNameSeparator(c), expected) << "byte " << byte;
  }
}

// ---------------------------------------------------------------------------
// Properties on random names.

// Names from a small alphabet so that shared prefixes, equal numbers with
// different zeros and names equal ignoring case come up often. Derived names
// (case flipped, zeros inserted, a prefix of an earlier name continued) make
// the comparisons run deep into both names.
class RandomNames {
 public:
  explicit RandomNames(uint32_t seed) : engine_(seed) {}

  std::vector<std::string> Make(std::size_t count) {
    std::vector<std::string> names;
    names.reserve(count);
    while (names.size() < count) {
      const uint32_t kind = Below(8);
      if (names.empty() || kind < 4) {
        names.push_back(Fresh(Below(13)));
      } else {
        const std::string &base = names[Below(static_cast<uint32_t>(names.size()))];
        if (kind == 4) {
          names.push_back(FlipCase(base));
        } else if (kind == 5) {
          names.push_back(InsertZero(base));
        } else {
          const std::size_t keep = Below(static_cast<uint32_t>(base.size()) + 1);
          std::string name = base.substr(0, keep) + Fresh(Below(5));
          if (name.size() > 12) name.resize(12);
          names.push_back(name);
        }
      }
    }
    return names;
  }

  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(engine_() % bound); }

 private:
  std::string Fresh(std::size_t length) {
    static const char kAlphabet[] = "aAbBzZ0123456789\r\n.\\ _";
    std::string name;
    for (std::size_t k = 0; k < length; ++k) {
      // One draw in four is a '0', so that leading zeros are common.
      name += Below(4) == 0 ? '0' : kAlphabet[Below(sizeof kAlphabet - 1)];
    }
    return name;
  }

  std::string FlipCase(std::string name) {
    for (char &c : name) {
      if (Below(2) == 0) {
        c = std::isupper(static_cast<unsigned char>(c))
                ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
    }
    return name;
  }

  std::string InsertZero(std::string name) {
    std::size_t at = Below(static_cast<uint32_t>(name.size()) + 1);
    for (std::size_t k = 0; k < name.size(); ++k) {
      if (std::isdigit(static_cast<unsigned char>(name[k])) && Below(2) == 0) {
        at = k;
        break;
      }
    }
    name.insert(at, 1, '0');
    if (name.size() > 12) name.resize(12);
    return name;
  }

  std::mt19937 engine_;
};

// Exhaustive over all pairs and triples of a few hundred names: irreflexive,
// antisymmetric, transitive, and equivalent exactly when strcasecmp says the
// names are equal. Together that makes it a strict weak ordering.
TEST(CompareNamesProperty, IsStrictWeakOrderingOnRandomNames) {
  RandomNames random(20240611u);
  const std::vector<std::string> names = random.Make(320);
  const std::size_t n = names.size();
  std::vector<int8_t> sign(n * n);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      sign[i * n + j] = static_cast<int8_t>(Sign(CompareNames(names[i].c_str(), names[j].c_str())));
    }
  }

  std::size_t equal_pairs = 0;
  for (std::size_t i = 0; i < n; ++i) {
    ASSERT_EQ(sign[i * n + i], 0) << Show(names[i]);
    for (std::size_t j = 0; j < n; ++j) {
      ASSERT_EQ(sign[i * n + j], -sign[j * n + i]) << Show(names[i]) << " vs " << Show(names[j]);
      const bool equal_ignoring_case = strcasecmp(names[i].c_str(), names[j].c_str()) == 0;
      ASSERT_EQ(sign[i * n + j] == 0, equal_ignoring_case)
          << Show(names[i]) << " vs " << Show(names[j]);
      if (i != j && equal_ignoring_case) ++equal_pairs;
    }
  }
  // The generator must actually produce names equal ignoring case, or the
  // equivalence half of the check proves nothing.
  EXPECT_GT(equal_pairs, 100u);

  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      const int ij = sign[i * n + j];
      if (ij > 0) continue;
      for (std::size_t k = 0; k < n; ++k) {
        const int jk = sign[j * n + k];
        if (jk > 0) continue;
        // a <= b <= c gives a <= c, and a < c as soon as one step is strict.
        const int expected_ik = (ij < 0 || jk < 0) ? -1 : 0;
        ASSERT_EQ(sign[i * n + k], expected_ik)
            << Show(names[i]) << ", " << Show(names[j]) << ", " << Show(names[k]);
      }
    }
  }
}

// The same properties on random triples of a larger set, where a triple
// check is too many to run exhaustively.
TEST(CompareNamesProperty, IsTransitiveOnRandomTriplesOfThousandsOfNames) {
  RandomNames random(77u);
  const std::vector<std::string> names = random.Make(4000);
  const auto size = static_cast<uint32_t>(names.size());
  for (int round = 0; round < 300000; ++round) {
    const std::string &a = names[random.Below(size)];
    const std::string &b = names[random.Below(size)];
    const std::string &c = names[random.Below(size)];
    const int ab = Sign(CompareNames(a.c_str(), b.c_str()));
    const int bc = Sign(CompareNames(b.c_str(), c.c_str()));
    const int ac = Sign(CompareNames(a.c_str(), c.c_str()));
    ASSERT_EQ(ab, -Sign(CompareNames(b.c_str(), a.c_str()))) << Show(a) << " vs " << Show(b);
    ASSERT_EQ(ab == 0, strcasecmp(a.c_str(), b.c_str()) == 0) << Show(a) << " vs " << Show(b);
    if (ab <= 0 && bc <= 0) {
      ASSERT_EQ(ac, (ab < 0 || bc < 0) ? -1 : 0) << Show(a) << ", " << Show(b) << ", " << Show(c);
    }
  }
}

// The comparator and the sort keys against the literal version.
TEST(CompareNamesProperty, AgreesWithLiteralVersionOnRandomNames) {
  RandomNames random(4242u);
  const std::vector<std::string> names = random.Make(4000);
  const auto size = static_cast<uint32_t>(names.size());
  std::size_t decided_by_numbers = 0;
  for (int round = 0; round < 400000; ++round) {
    const std::string &a = names[random.Below(size)];
    const std::string &b = names[random.Below(size)];
    const int expected = Sign(LiteralCompareNames(a.c_str(), b.c_str()));
    ASSERT_EQ(Sign(CompareNames(a.c_str(), b.c_str())), expected) << Show(a) << " vs " << Show(b);
    ASSERT_EQ(CompareKeys(a, b), expected) << Show(a) << " vs " << Show(b);
    if (expected != 0 && std::isdigit(static_cast<unsigned char>(a[0])) &&
        std::isdigit(static_cast<unsigned char>(b[0]))) {
      ++decided_by_numbers;
    }
  }
  // Neighbours in display order differ as late as possible, which is where a
  // walk that loses its place would go wrong.
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end(), [](const std::string &x, const std::string &y) {
    return LiteralCompareNames(x.c_str(), y.c_str()) < 0;
  });
  for (std::size_t k = 1; k < sorted.size(); ++k) {
    const char *x = sorted[k - 1].c_str();
    const char *y = sorted[k].c_str();
    ASSERT_EQ(Sign(CompareNames(x, y)), Sign(LiteralCompareNames(x, y)))
        << Show(x) << " vs " << Show(y);
    ASSERT_EQ(Sign(CompareNames(y, x)), Sign(LiteralCompareNames(y, x)))
        << Show(y) << " vs " << Show(x);
    ASSERT_EQ(CompareKeys(sorted[k - 1], sorted[k]), Sign(LiteralCompareNames(x, y)))
        << Show(x) << " vs " << Show(y);
  }
  EXPECT_GT(decided_by_numbers, 1000u);
}

// ---------------------------------------------------------------------------
// Sorting: a snapshot's entries are in display order.

TEST(SnapshotOrder, PutsRealisticNamesInDisplayOrder) {
  const std::vector<std::string> expected = {
      "meter01",
      "Meter1",
      "Meter1.ch0",
      "Meter2",
      "Meter10",
      "Multimeter",
      "MyScope",
      "Rack1Slot2",
      "Rack1Slot10",
      "Rack12-East/Slot10",
      "Scope2",
      "scope10",
      "scope_2",
      "TCPIP0::192.168.1.9::inst0::INSTR",
      "TCPIP0::192.168.1.10::inst0::INSTR",
  };
  NameList list;
  for (const std::string &name : expected) list.push_back({name, false, "class-" + name, ""});
  std::mt19937 engine(5u);
  for (int shuffle = 0; shuffle < 20; ++shuffle) {
    std::shuffle(list.begin(), list.end(), engine);
    list = Sorted(std::move(list));
    std::vector<std::string> sorted;
    for (const NameEntry &entry : list) {
      EXPECT_EQ(entry.driverClass, "class-" + entry.name) << "fields must travel with the name";
      sorted.push_back(entry.name);
    }
    ASSERT_EQ(sorted, expected);
  }
}

TEST(SnapshotOrder, PutsRealisticResourceNamesInDisplayOrder) {
  const std::vector<std::string> expected = {
      "ASRL1::INSTR",
      "ASRL10::INSTR",
      "GPIB0::5::INSTR",
      "GPIB0::22::INSTR",
      "TCPIP0::192.168.1.9::inst0::INSTR",
      "TCPIP0::192.168.1.10::inst0::INSTR",
      "VXI0::5::INSTR",
      "VXI0::12::INSTR",
  };
  ResourceList list;
  for (std::size_t k = expected.size(); k-- > 0;) list.push_back({expected[k], k % 2 == 0});
  list = Sorted(std::move(list));
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(list[k].name, expected[k]);
    EXPECT_EQ(list[k].sessionOpen, k % 2 == 0) << list[k].name;
  }
}

TEST(SnapshotOrder, EveryPairOfRandomNamesEndsUpOrdered) {
  RandomNames random(99u);
  NameList list;
  for (const std::string &name : random.Make(3000)) list.push_back({name, false, name, ""});
  list = Sorted(std::move(list));
  ASSERT_EQ(list.size(), 3000u);
  for (std::size_t k = 1; k < list.size(); ++k) {
    ASSERT_LE(CompareNames(list[k - 1].name.c_str(), list[k].name.c_str()), 0)
        << Show(list[k - 1].name) << " before " << Show(list[k].name);
    ASSERT_EQ(list[k].driverClass, list[k].name);
  }
  // A valid strict weak ordering leaves no later name that sorts before an
  // earlier one, not just no adjacent one.
  for (std::size_t x = 0; x < list.size(); x += 7) {
    for (std::size_t y = x + 1; y < list.size(); ++y) {
      ASSERT_LE(CompareNames(list[x].name.c_str(), list[y].name.c_str()), 0)
          << Show(list[x].name) << " before " << Show(list[y].name);
    }
  }
}

TEST(SnapshotOrder, EveryAdjacentPairOfRandomResourceNamesIsOrdered) {
  RandomNames random(123u);
  ResourceList list;
  for (const std::string &name : random.Make(2000)) list.push_back({name, false});
  list = Sorted(std::move(list));
  for (std::size_t k = 1; k < list.size(); ++k) {
    ASSERT_LE(CompareNames(list[k - 1].name.c_str(), list[k].name.c_str()), 0)
        << Show(list[k - 1].name) << " before " << Show(list[k].name);
  }
}

// ---------------------------------------------------------------------------
// Case-insensitive searches of a snapshot.

NameSnapshot MakeSnapshot(const std::vector<std::string> &names) {
  NameList list;
  for (std::size_t k = 0; k < names.size(); ++k) {
    list.push_back({names[k], false, "built" + std::to_string(k), ""});
  }
  return NameSnapshot(std::move(list));
}

// The names of a run, and which of them the builder found first.
std::vector<std::string> NamesIn(const NameSnapshot &snapshot, hx::Run run) {
  std::vector<std::string> names;
  for (std::size_t p = run.first; p < run.last; ++p) names.push_back(snapshot.entries()[p].name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(SnapshotFind, FindsEveryEntryEqualIgnoringCaseAndTheFirstBuilt) {
  const NameSnapshot snapshot = MakeSnapshot({"Scope", "METER1", "meter10", "Meter1", "meter1"});
  const hx::Run run = snapshot.Find("meter1");
  EXPECT_EQ((std::vector<std::string>{"METER1", "Meter1", "meter1"}), NamesIn(snapshot, run));
  EXPECT_EQ("built1", snapshot.entries()[snapshot.FirstBuilt(run)].driverClass);
  const hx::Run scope = snapshot.Find("SCOPE");
  EXPECT_EQ((std::vector<std::string>{"Scope"}), NamesIn(snapshot, scope));
  EXPECT_EQ("built0", snapshot.entries()[snapshot.FirstBuilt(scope)].driverClass);
}

TEST(SnapshotFind, FindsNothingWhenNoNameIsEqualIgnoringCase) {
  const NameSnapshot snapshot = MakeSnapshot({"METER1", "meter10", "meter01", ""});
  EXPECT_TRUE(snapshot.Find("meter").empty());
  EXPECT_TRUE(snapshot.Find("meter1 ").empty());
  // Equal in display order is not equal: 'meter01' and 'meter1' differ.
  EXPECT_EQ((std::vector<std::string>{"meter01"}), NamesIn(snapshot, snapshot.Find("METER01")));
  EXPECT_TRUE(snapshot.Find(nullptr).empty());
  // The empty key finds only the empty name.
  EXPECT_EQ((std::vector<std::string>{""}), NamesIn(snapshot, snapshot.Find("")));
  EXPECT_TRUE(NameSnapshot().Find("a").empty());
  const ResourceSnapshot resources(
      ResourceList{{"GPIB0::5::INSTR", false}, {"asrl1::instr", false}, {"ASRL1::INSTR", true}});
  EXPECT_EQ(2u, resources.Find("Asrl1::Instr").last - resources.Find("Asrl1::Instr").first);
  EXPECT_TRUE(resources.Find("ASRL2::INSTR").empty());
}

// Short names from a tiny alphabet: many names equal ignoring case.
std::string ShortName(RandomNames &random) {
  static const char kAlphabet[] = "aAbB1.\xC4\xE4";
  std::string name;
  const uint32_t length = random.Below(4);
  for (uint32_t k = 0; k < length; ++k) name += kAlphabet[random.Below(sizeof kAlphabet - 1)];
  return name;
}

// The index answers what a scan with strcasecmp answers, for every key.
TEST(SnapshotFind, AgreesWithAScanOnRandomNames) {
  RandomNames random(20261208);
  std::vector<std::string> names;
  for (int k = 0; k < 300; ++k) names.push_back(ShortName(random));
  const NameSnapshot snapshot = MakeSnapshot(names);
  for (int k = 0; k < 300; ++k) {
    const std::string key = ShortName(random);
    std::vector<std::string> scanned;
    std::size_t firstBuilt = names.size();
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (strcasecmp(names[i].c_str(), key.c_str()) != 0) continue;
      scanned.push_back(names[i]);
      firstBuilt = std::min(firstBuilt, i);
    }
    std::sort(scanned.begin(), scanned.end());
    const hx::Run run = snapshot.Find(key.c_str());
    ASSERT_EQ(scanned, NamesIn(snapshot, run)) << Show(key);
    if (!run.empty()) {
      EXPECT_EQ("built" + std::to_string(firstBuilt),
                snapshot.entries()[snapshot.FirstBuilt(run)].driverClass)
          << Show(key);
    }
  }
  // Names equal ignoring case hash alike.
  EXPECT_EQ(HashIgnoringCase("Rack1Slot2"), HashIgnoringCase("rACK1sLOT2"));
  EXPECT_EQ(HashIgnoringCase(nullptr), HashIgnoringCase(""));
}

}  // namespace
}  // namespace hx

// Cost of the display-order comparator against the C library's plain
// case-insensitive comparison (strcasecmp) and its version-number order
// (strverscmp), on the same pairs of realistic instrument names, and of
// sorting a whole name list with each.
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "plugin/lists/names.h"
#include "plugin/lists/snapshot.h"

namespace {

// A few thousand distinct names of the kinds an I/O-name control lists:
// rack slots, meters and their channels, VISA resources and user-chosen
// aliases, in mixed case and with and without leading zeros. Some differ
// from another only in case, as an open session's name does from the
// master-list entry it matches.
std::vector<std::string> MakeNames() {
  std::mt19937 engine(1234u);
  const auto below = [&engine](uint32_t bound) { return static_cast<uint32_t>(engine() % bound); };
  const auto number = [&below](uint32_t bound) { return std::to_string(below(bound)); };
  std::set<std::string> seen;
  std::vector<std::string> names;
  while (names.size() < 4096) {
    std::string name;
    switch (below(12)) {
      case 0:
        name = "Rack" + number(10) + "Slot" + number(19);
        break;
      case 1:
        name = "rack" + number(10) + "slot" + number(19);
        break;
      case 2:
        name = "Rack1" + number(9) + "-East/Slot" + number(19);
        break;
      case 3:
        name = "Meter" + number(1000);
        break;
      case 4:
        name = "Meter0" + number(100);
        break;
      case 5:
        name = "meter" + number(100) + "/ch" + number(32);
        break;
      case 6:
        name = "TCPIP0::192.168." + number(4) + "." + number(256) + "::inst0::INSTR";
        break;
      case 7:
        name = "GPIB" + number(2) + "::" + number(31) + "::INSTR";
        break;
      case 8:
        name = "VXI" + number(2) + "::" + number(256) + "::" + number(8) + "::INSTR";
        break;
      case 9:
        name = (below(2) == 0 ? "MyScope" : "myscope") + number(100);
        break;
      case 10:
        name = "scope_" + number(1000);
        break;
      default:
        name = (below(2) == 0 ? "DMM" : "MyDmm_") + number(100);
        break;
    }
    if (seen.insert(name).second) names.push_back(name);
  }
  return names;
}

const std::vector<std::string> &Names() {
  static const std::vector<std::string> names = MakeNames();
  return names;
}

using Pairs = std::vector<std::pair<const char *, const char *>>;

// Pairs drawn at random: most differ in their first few bytes.
const Pairs &RandomPairs() {
  static const Pairs pairs = [] {
    const std::vector<std::string> &names = Names();
    std::mt19937 engine(99u);
    Pairs result;
    for (int k = 0; k < 4096; ++k) {
      result.emplace_back(names[engine() % names.size()].c_str(),
                          names[engine() % names.size()].c_str());
    }
    return result;
  }();
  return pairs;
}

// Neighbours in display order: they share long prefixes, as the pairs in the
// late stages of a sort do, so the whole of both names is walked.
const Pairs &NeighbourPairs() {
  static const Pairs pairs = [] {
    std::vector<const char *> sorted;
    for (const std::string &name : Names()) sorted.push_back(name.c_str());
    std::sort(sorted.begin(), sorted.end(),
              [](const char *a, const char *b) { return hx::CompareNames(a, b) < 0; });
    Pairs result;
    for (std::size_t k = 1; k < sorted.size(); ++k) {
      result.emplace_back(sorted[k - 1], sorted[k]);
      result.emplace_back(sorted[k], sorted[k - 1]);
    }
    return result;
  }();
  return pairs;
}

struct ByCompareNames {
  int operator()(const char *a, const char *b) const { return hx::CompareNames(a, b); }
};
struct ByStrcasecmp {
  int operator()(const char *a, const char *b) const { return strcasecmp(a, b); }
};
struct ByStrverscmp {
  int operator()(const char *a, const char *b) const { return strverscmp(a, b); }
};

template <typename Compare>
void ComparePairs(benchmark::State &state, const Pairs &pairs) {
  const Compare compare;
  for (auto _ : state) {
    int sum = 0;
    for (const auto &pair : pairs) sum += compare(pair.first, pair.second) < 0;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pairs.size()));
}

template <typename Compare>
void BM_CompareRandomPairs(benchmark::State &state) {
  ComparePairs<Compare>(state, RandomPairs());
}

template <typename Compare>
void BM_CompareNeighbourPairs(benchmark::State &state) {
  ComparePairs<Compare>(state, NeighbourPairs());
}

hx::NameList ShuffledList() {
  hx::NameList list;
  for (const std::string &name : Names()) list.push_back({name, false, "DCPwr", "prefix"});
  std::shuffle(list.begin(), list.end(), std::mt19937(7u));
  return list;
}

// Sorts a fresh copy of the shuffled list per iteration; the copy is not
// timed. The baselines sort the same records with the same std::sort.
template <typename Compare>
void SortWith(benchmark::State &state, Compare less) {
  const hx::NameList shuffled = ShuffledList();
  for (auto _ : state) {
    state.PauseTiming();
    hx::NameList list = shuffled;
    state.ResumeTiming();
    less(list);
    benchmark::DoNotOptimize(list.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(shuffled.size()));
}

// What a builder spends publishing a master list of these names: the sort
// and the index of names ignoring case.
void BM_BuildSnapshot(benchmark::State &state) {
  SortWith(state, [](hx::NameList &list) {
    const hx::NameSnapshot snapshot(std::move(list));
    benchmark::DoNotOptimize(snapshot.entries().data());
  });
}

template <typename Compare>
void BM_SortBy(benchmark::State &state) {
  SortWith(state, [](hx::NameList &list) {
    const Compare compare;
    std::sort(list.begin(), list.end(), [&compare](const hx::NameEntry &a, const hx::NameEntry &b) {
      return compare(a.name.c_str(), b.name.c_str()) < 0;
    });
  });
}

BENCHMARK_TEMPLATE(BM_CompareRandomPairs, ByCompareNames);
BENCHMARK_TEMPLATE(BM_CompareRandomPairs, ByStrcasecmp);
BENCHMARK_TEMPLATE(BM_CompareRandomPairs, ByStrverscmp);
BENCHMARK_TEMPLATE(BM_CompareNeighbourPairs, ByCompareNames);
BENCHMARK_TEMPLATE(BM_CompareNeighbourPairs, ByStrcasecmp);
BENCHMARK_TEMPLATE(BM_CompareNeighbourPairs, ByStrverscmp);
BENCHMARK_TEMPLATE(BM_SortBy, ByCompareNames)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildSnapshot)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_SortBy, ByStrcasecmp)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_SortBy, ByStrverscmp)->Unit(benchmark::kMicrosecond);

}  // namespace

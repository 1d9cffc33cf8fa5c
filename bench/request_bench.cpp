// A cached-lists name request over 10,000 installed devices and 1,000 open
// sessions, against sorting the same names alone.
//
// Half the sessions were opened from a device (found by their "orig" name,
// in another letter case), a tenth carry a device's own name (they mark it
// instead of adding an entry), the rest match nothing. The request copies and
// filters the device list, merges the sessions, folds them in, sorts, and
// builds the host handle of ~10,500 named entries; the target is to stay
// within twice the cost of the sort alone, which is where a quadratic merge
// or fold would show first.
//
// The plug-in's code is linked directly; the host and discovery stand-ins
// stand in for Hexaflow and libqxmodinst.so.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hxhost_standin.h"
#include "plugin/entries.h"
#include "plugin/names.h"
#include "qxmodinst_standin.h"
#include "velmora/velmora_hx.h"

namespace {

constexpr int kDevices = 10000;
constexpr int kSessions = 1000;
const unsigned char kIvi[] = {3, 'I', 'V', 'I'};

std::string Scrambled(std::string text, std::mt19937 &random) {
  for (char &c : text) {
    if (random() % 2 != 0) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

struct Setup {
  HxVariantRef properties = nullptr;
  // The names of the request's list before sorting, in the same order.
  hx::NameList unsorted;
  int32_t entries = 0;
  std::string devicesPath;
};

int32_t Ask(const Setup &s, HxHandle *names, uint32_t mode) {
  return GetIOControlNames(0, kIvi, nullptr, names, s.properties, mode);
}

const Setup &TheSetup() {
  static const Setup setup = [] {
    Setup s;
    std::mt19937 random(42);
    std::vector<std::string> devices;
    for (int i = 0; i < kDevices; ++i) {
      devices.push_back("Rack" + std::to_string(i / 18 + 1) + "Slot" + std::to_string(i % 18 + 2) +
                        (i % 3 == 0 ? "_dmm" : ""));
    }
    std::shuffle(devices.begin(), devices.end(), random);
    char dir[] = "/tmp/velmora-bench-XXXXXX";
    s.devicesPath = std::string(mkdtemp(dir)) + "/devices.txt";
    {
      std::ofstream out(s.devicesPath);
      for (int i = 0; i < kDevices; ++i) {
        out << devices[static_cast<size_t>(i)] << " | cls | " << (i % 2 ? "acmeDmm" : "acmeScope")
            << "\n";
      }
    }
    qxmodinst_standin_set_devices_file(s.devicesPath.c_str());
    for (const std::string &d : devices) s.unsorted.push_back(hx::NameEntry{d, false, "", ""});

    hxhost_reset();
    for (int i = 0; i < kSessions; ++i) {
      const std::string &device = devices[static_cast<size_t>(random() % kDevices)];
      if (i % 2 == 0) {
        hxhost_sessions_add(("Session" + std::to_string(i)).c_str(),
                            Scrambled(device, random).c_str());
      } else if (i % 10 == 1) {
        hxhost_sessions_add(Scrambled(device, random).c_str(), "nowhere");
      } else {
        const std::string name = "Loose" + std::to_string(i);
        hxhost_sessions_add(name.c_str(), "nowhere");
      }
    }
    s.properties = hxhost_variant_new();
    hxhost_variant_set_u32(s.properties, "displayFilter", 0x3000);

    // Bind, then let the discovery run that the first request starts finish.
    HxHandle names = nullptr;
    while (Ask(s, &names, 1) == 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    hxhost_dispose_list(names);
    for (;;) {
      names = nullptr;
      Ask(s, &names, 2);
      const int32_t count = hxhost_list_count(names);
      hxhost_dispose_list(names);
      if (count > kDevices) {
        s.entries = count;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The sessions the fold appends, in its order: those opened from a
    // device first, then those that matched nothing; sessions named like a
    // device only mark it.
    for (int i = 0; i < kSessions; i += 2) {
      s.unsorted.push_back(hx::NameEntry{"Session" + std::to_string(i), true, "", ""});
    }
    for (int i = 1; i < kSessions; i += 2) {
      if (i % 10 != 1) {
        s.unsorted.push_back(hx::NameEntry{"Loose" + std::to_string(i), true, "", ""});
      }
    }
    return s;
  }();
  return setup;
}

void RequestCachedLists(benchmark::State &state, MgErr sessionsStatus) {
  const Setup &s = TheSetup();
  hxhost_sessions_set_status(sessionsStatus);
  for (auto _ : state) {
    HxHandle names = nullptr;
    if (Ask(s, &names, 2) != 0) state.SkipWithError("request failed");
    state.PauseTiming();
    if (hxhost_list_count(names) != s.entries) state.SkipWithError("unexpected entry count");
    hxhost_dispose_list(names);
    state.ResumeTiming();
  }
  hxhost_sessions_set_status(0);
  state.counters["entries"] = s.entries;
}

// The host reports its sessions anew on each request.
void BM_RequestCachedLists(benchmark::State &state) {
  RequestCachedLists(state, 0);
}
BENCHMARK(BM_RequestCachedLists)->Unit(benchmark::kMillisecond);

// The host answers that its sessions are unchanged: the merge reuses them.
void BM_RequestCachedListsSessionsUnchanged(benchmark::State &state) {
  RequestCachedLists(state, HXHOST_SESSIONS_UNCHANGED);
}
BENCHMARK(BM_RequestCachedListsSessionsUnchanged)->Unit(benchmark::kMillisecond);

// The baseline: sorting the request's list alone, from the same order.
void BM_SortSameNames(benchmark::State &state) {
  const Setup &s = TheSetup();
  for (auto _ : state) {
    state.PauseTiming();
    hx::NameList list = s.unsorted;
    state.ResumeTiming();
    hx::SortNameEntries(list);
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["entries"] = static_cast<double>(s.unsorted.size());
}
BENCHMARK(BM_SortSameNames)->Unit(benchmark::kMillisecond);

// For scale: what the host stand-in spends creating that many named
// variants, work the request cannot avoid.
void BM_HostNamesAlone(benchmark::State &state) {
  const Setup &s = TheSetup();
  for (auto _ : state) {
    HxHandle names = DSNewHClr(16 + 8 * static_cast<size_t>(s.entries));
    HxHandle text = DSNewHandle(260);
    auto *slots = reinterpret_cast<HxVariantRef *>(static_cast<char *>(*names) + 8);
    const unsigned char n[] = {1, 'n'};
    for (size_t i = 0; i < s.unsorted.size(); ++i) {
      const std::string &name = s.unsorted[i].name;
      const auto length = static_cast<int32_t>(name.size());
      std::memcpy(*text, &length, 4);
      std::memcpy(static_cast<char *>(*text) + 4, name.data(), name.size());
      HxVariantPStrSetStringAttr(&slots[i], n, text);
    }
    DSDisposeHandle(text);
    state.PauseTiming();
    hxhost_dispose_list(names);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_HostNamesAlone)->Unit(benchmark::kMillisecond);

// For scale: what the host stand-in spends answering the session query and
// the two string reads and disposals per session that any merge needs, and
// the trace line each session is owed on standard error.
void BM_HostSessionsAlone(benchmark::State &state) {
  TheSetup();
  const unsigned char n[] = {1, 'n'};
  const unsigned char orig[] = {4, 'o', 'r', 'i', 'g'};
  for (auto _ : state) {
    HxHandle sessions = nullptr;
    GetIOControlOpenSessionsEx(0, kIvi, TheSetup().properties, 1, &sessions);
    const int32_t count = hxhost_list_count(sessions);
    for (int32_t k = 0; k < count; ++k) {
      HxVariantRef session = hxhost_list_slot(sessions, k);
      HxHandle name = nullptr;
      HxHandle from = nullptr;
      HxVariantPStrGetStringAttr(&session, n, &name);
      HxVariantPStrGetStringAttr(&session, orig, &from);
      std::fputs("Session Name: x, OrigName: y\n", stderr);
      if (name != nullptr) DSDisposeHandle(name);
      if (from != nullptr) DSDisposeHandle(from);
    }
  }
}
BENCHMARK(BM_HostSessionsAlone)->Unit(benchmark::kMillisecond);

}  // namespace

// A cached-lists name request (mode 2) as the host sees it, against sorting
// the same names with strcasecmp in the same run.
//
// N installed devices and N/10 open sessions: half the sessions are named
// like a device in another letter case (they mark it open instead of adding
// an entry), half under names of their own (opened from a device or from
// nothing). The host stand-in answers the session query with a fresh list
// each time, or "unchanged".
//
// The plug-in's own time is the request's wall time less the time spent
// inside the host stand-in's functions, which the stand-in counts, and less
// the part of that counting that falls outside the host (calibrated once).
// Each iteration also sorts a fresh copy of the same names by strcasecmp, so
// that the ratio the counters show compares two measurements of one run.
//
// The plug-in's code is linked directly; the host and discovery stand-ins
// stand in for Hexaflow and libqxmodinst.so.
#include <benchmark/benchmark.h>
#include <strings.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hxhost_standin.h"
#include "qxmodinst_standin.h"
#include "support/trace.h"
#include "velmora/velmora_hx.h"

namespace {

using Clock = std::chrono::steady_clock;

const unsigned char kIvi[] = {3, 'I', 'V', 'I'};
constexpr int64_t kTraceLevel = 4096;

std::string Scrambled(std::string text, std::mt19937 &random) {
  for (char &c : text) {
    if (random() % 2 != 0) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

double Nanoseconds(Clock::duration d) {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
}

struct Session {
  std::string name;
  std::string orig;
};

// One installation of a given size, bound and discovered.
struct Setup {
  int devices = 0;
  HxVariantRef properties = nullptr;
  std::vector<Session> sessions;
  // Every name the request handles: the devices and the sessions.
  std::vector<std::string> names;
  int32_t entries = 0;
};

int32_t Ask(const Setup &s, HxHandle *names, uint32_t mode) {
  return GetIOControlNames(0, kIvi, nullptr, names, s.properties, mode);
}

int32_t CountOf(const Setup &s, uint32_t mode) {
  HxHandle names = nullptr;
  const int32_t status = Ask(s, &names, mode);
  const int32_t count = status == 0 ? hxhost_list_count(names) : -1;
  if (names != nullptr) hxhost_dispose_list(names);
  return status == 2 ? -2 : count;
}

// Builds the installation of `devices` devices once and keeps it until
// another size is asked for: the plug-in's state is process-wide.
const Setup &TheSetup(int devices) {
  static Setup setup;
  if (setup.devices == devices) return setup;
  setup = Setup{};
  setup.devices = devices;
  std::mt19937 random(42);
  std::vector<std::string> deviceNames;
  for (int i = 0; i < devices; ++i) {
    deviceNames.push_back("Rack" + std::to_string(i / 18 + 1) + "Slot" +
                          std::to_string(i % 18 + 2) + (i % 3 == 0 ? "_dmm" : ""));
  }
  std::shuffle(deviceNames.begin(), deviceNames.end(), random);
  char dir[] = "/tmp/velmora-bench-XXXXXX";
  const std::string path = std::string(mkdtemp(dir)) + "/devices.txt";
  {
    std::ofstream out(path);
    for (int i = 0; i < devices; ++i) {
      out << deviceNames[static_cast<size_t>(i)] << " | cls | " << (i % 2 ? "acmeDmm" : "acmeScope")
          << "\n";
    }
  }
  qxmodinst_standin_set_devices_file(path.c_str());

  hxhost_reset();
  const int sessions = devices / 10;
  for (int i = 0; i < sessions; ++i) {
    const std::string &device = deviceNames[random() % static_cast<size_t>(devices)];
    Session session;
    if (i % 2 == 0) {
      session = Session{Scrambled(device, random), Scrambled(device, random)};
    } else if (i % 4 == 1) {
      session = Session{"Session" + std::to_string(i), Scrambled(device, random)};
    } else {
      session = Session{"Loose" + std::to_string(i), "nowhere"};
    }
    hxhost_sessions_add(session.name.c_str(), session.orig.c_str());
    setup.sessions.push_back(session);
  }
  setup.properties = hxhost_variant_new();
  hxhost_variant_set_u32(setup.properties, "displayFilter", 0x3000);

  setup.names = deviceNames;
  for (const Session &session : setup.sessions) setup.names.push_back(session.name);
  // Devices, the sessions under names of their own, a separator, two tails.
  setup.entries = devices + sessions / 2 + 3;

  // Bind (first size only), then let a full refresh rediscover the devices.
  while (CountOf(setup, 1) == -2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  while (CountOf(setup, 2) != setup.entries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return setup;
}

// Of each timed host call, the part of the timing's own cost that falls
// outside the host's account (reading the clock on the way out, adding to
// the account), in nanoseconds: a cheap host call timed, less what the host
// counted for it. What the call itself costs outside the host (a few
// nanoseconds) is counted here too, so the plug-in's time comes out a little
// low rather than high.
double TimingCostOutsideHost() {
  static const double cost = [] {
    const unsigned char a[] = {1, 'a'};
    constexpr int kCalls = 200000;
    int32_t sink = 0;
    for (int i = 0; i < kCalls; ++i) sink += PStrCmp(a, a);
    hxhost_timing(1);
    const auto start = Clock::now();
    for (int i = 0; i < kCalls; ++i) sink += PStrCmp(a, a);
    const double timed = Nanoseconds(Clock::now() - start);
    const double inside = static_cast<double>(hxhost_timed_nanoseconds());
    hxhost_timing(0);
    benchmark::DoNotOptimize(sink);
    return std::max(0.0, (timed - inside) / kCalls);
  }();
  return cost;
}

void Request(benchmark::State &state, MgErr sessionsStatus) {
  const Setup &s = TheSetup(static_cast<int>(state.range(0)));
  const double outsideCost = TimingCostOutsideHost();
  hxhost_sessions_set_status(sessionsStatus);
  double wall = 0, host = 0, sort = 0;
  int64_t calls = 0;
  for (auto _ : state) {
    HxHandle names = nullptr;
    hxhost_timing(1);
    const auto start = Clock::now();
    const int32_t status = Ask(s, &names, 2);
    const double took = Nanoseconds(Clock::now() - start);
    hxhost_timing(0);
    wall += took;
    host += static_cast<double>(hxhost_timed_nanoseconds());
    calls += hxhost_timed_calls();
    state.SetIterationTime(took / 1e9);
    if (status != 0 || hxhost_list_count(names) != s.entries) {
      state.SkipWithError("unexpected answer");
    }
    hxhost_dispose_list(names);

    std::vector<std::string> copy = s.names;
    const auto sortStart = Clock::now();
    std::sort(copy.begin(), copy.end(), [](const std::string &a, const std::string &b) {
      return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    sort += Nanoseconds(Clock::now() - sortStart);
    benchmark::DoNotOptimize(copy.data());
  }
  hxhost_sessions_set_status(0);
  const double n = static_cast<double>(state.iterations());
  const double own = wall - host - static_cast<double>(calls) * outsideCost;
  state.counters["entries"] = s.entries;
  state.counters["plugin_ms"] = own / n / 1e6;
  state.counters["plugin_uncorrected_ms"] = (wall - host) / n / 1e6;
  state.counters["host_calls"] = static_cast<double>(calls) / n;
  state.counters["host_ms"] = (wall - own) / n / 1e6;
  state.counters["sort_ms"] = sort / n / 1e6;
  state.counters["plugin_per_sort"] = own / sort;
  state.counters["host_share"] = (wall - own) / wall;
}

// The host reports its sessions anew on each request.
void BM_RequestSessionsReadAnew(benchmark::State &state) {
  Request(state, 0);
}
BENCHMARK(BM_RequestSessionsReadAnew)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The host answers that its sessions are unchanged: the kept ones are used.
void BM_RequestSessionsUnchanged(benchmark::State &state) {
  Request(state, HXHOST_SESSIONS_UNCHANGED);
}
BENCHMARK(BM_RequestSessionsUnchanged)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// What the trace lines of one request with its sessions read anew cost: one
// per request, one count line and one line per session, each a write of its
// own to standard error.
void BM_TraceLinesOfARequest(benchmark::State &state) {
  const Setup &s = TheSetup(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    qxsdbg_Trace(kTraceLevel, "GetIOControlNames");
    qxsdbg_Trace(kTraceLevel, "IVI Open Sessions Count: %d", static_cast<int>(s.sessions.size()));
    for (const Session &session : s.sessions) {
      qxsdbg_Trace(kTraceLevel, "Session Name: %s, OrigName: %s\n", session.name.c_str(),
                   session.orig.c_str());
    }
  }
}
BENCHMARK(BM_TraceLinesOfARequest)->Arg(10000)->Unit(benchmark::kMillisecond);

// Peak memory of the process once the largest installation is listed: the
// stand-ins' copies included, the plug-in's snapshot holding each name once.
void BM_PeakMemoryAt100000Devices(benchmark::State &state) {
  TheSetup(100000);
  for (auto _ : state) benchmark::DoNotOptimize(state.iterations());
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["maxrss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_PeakMemoryAt100000Devices)->Iterations(1);

}  // namespace

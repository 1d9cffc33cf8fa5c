// Several host threads asking for names in every mode while the discovery
// worker restarts underneath them (the devices file changes and the clock
// jumps past the throttle) and the host releases its application reference.
// Meant to run under ThreadSanitizer as well: any unordered access between a
// request and a worker is a report there. Every answer is also checked for
// consistency: a list is either left out or seen whole, never half rebuilt.
#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {
namespace {

constexpr int kRequestThreads = 4;
constexpr int kRequestsPerThread = 150;
// The host's side changes the devices and moves the clock this many times,
// each after the request threads have answered their share of requests:
// the two sides keep pace by counting answers, not by timing either. The
// last rounds also release the host's reference.
constexpr int kRounds = 30;
constexpr int kFirstReleaseRound = 21;

std::vector<std::string> DeviceLines(const std::string &prefix, int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    lines.push_back(prefix + std::to_string(i) + " | cls | " + prefix + "Prefix");
  }
  return lines;
}

std::set<std::string> DeviceNames(const std::string &prefix, int count) {
  std::set<std::string> names;
  for (int i = 0; i < count; ++i) names.insert(prefix + std::to_string(i));
  return names;
}

// What one answer may look like; answers a description of the first
// inconsistency, or an empty text.
std::string CheckAnswer(const std::vector<ResultEntry> &entries, uint32_t mode,
                        const std::set<std::string> &first, const std::set<std::string> &second,
                        const std::set<std::string> &sessions) {
  if (entries.size() < 2) return "fewer than two entries";
  const ResultEntry &tail1 = entries[entries.size() - 2];
  const ResultEntry &tail2 = entries[entries.size() - 1];
  if (!tail1.id || *tail1.id != 3 || !tail2.id || *tail2.id != 2) return "tail entries missing";
  bool searching = false;
  std::set<std::string> devices;
  for (const ResultEntry &e : entries) {
    if (!e.n) continue;
    if (*e.n == kMarkerName) {
      searching = true;
    } else if (sessions.count(*e.n) != 0) {
      if (!e.g || *e.g != 1123) return "open session " + *e.n + " not marked open";
    } else {
      devices.insert(*e.n);
    }
  }
  if (searching && mode == 2) return "mode 2 answered with the searching marker";
  if (searching && !devices.empty()) return "devices listed while searching";
  if (!devices.empty() && devices != first && devices != second) {
    return "a device list seen half rebuilt (" + std::to_string(devices.size()) + " names)";
  }
  return std::string();
}

TEST(Stress, ConcurrentRequestsWorkersAndReleasesStayConsistent) {
  const int firstCount = 40;
  const int secondCount = 25;
  const std::set<std::string> first = DeviceNames("BayA", firstCount);
  const std::set<std::string> second = DeviceNames("BayB", secondCount);
  const std::set<std::string> sessions = {"SessMatched", "SessLoose"};
  DevicesFile devices(DeviceLines("BayA", firstCount));
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  hxhost_sessions_add("SessMatched", "baya1");
  hxhost_sessions_add("SessLoose", "nowhere");
  const Plugin &plugin = LoadPlugin();
  Properties properties;
  BindAndSettle(plugin, properties.get());
  // Discovery runs that overlap requests.
  qxmodinst_standin_set_open_delay_ms(15);

  std::atomic<int> answered{0};
  std::vector<std::string> problems[kRequestThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kRequestThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequestsPerThread; ++i) {
        const auto mode = static_cast<uint32_t>((i + t) % 3);
        HxHandle names = nullptr;
        const int32_t status = Request(plugin, &names, properties.get(), mode);
        if (status != kOk) {
          problems[t].push_back("status " + std::to_string(status));
        } else {
          const std::string problem = CheckAnswer(ReadList(names), mode, first, second, sessions);
          if (!problem.empty())
            problems[t].push_back("mode " + std::to_string(mode) + ": " + problem);
        }
        ++answered;
        if (names != nullptr) hxhost_dispose_list(names);
      }
    });
  }

  // Meanwhile the installed devices keep changing and the clock keeps
  // passing the throttle, so mode 0 restarts the worker too. Late in the
  // run the host releases its reference a few times: the first release
  // closes the discovery session (a run in progress closes the one it
  // opened when it ends, and a run started before the release opens none),
  // after which no mode starts the worker again.
  constexpr int kTotal = kRequestThreads * kRequestsPerThread;
  bool useSecond = true;
  for (int round = 1; round <= kRounds; ++round) {
    while (answered.load() < kTotal * round / (kRounds + 1)) std::this_thread::yield();
    devices.Write(useSecond ? DeviceLines("BayB", secondCount) : DeviceLines("BayA", firstCount));
    useSecond = !useSecond;
    AdvanceFakeClock(25);
    if (round >= kFirstReleaseRound) {
      EXPECT_EQ(0, plugin.ReleasingAppRef(nullptr));
    }
  }
  for (std::thread &thread : threads) thread.join();

  for (int t = 0; t < kRequestThreads; ++t) {
    EXPECT_TRUE(problems[t].empty())
        << "thread " << t << ": " << problems[t].size()
        << " problems, first: " << (problems[t].empty() ? "" : problems[t][0]);
  }
  // Once the runs in flight at the release have finished, no session is open.
  EXPECT_TRUE(WaitUntil([] { return Discovery().sessions_outstanding == 0; },
                        "the runs in flight at the release to close their sessions"))
      << "a release left the session open";

  // Once the last run is over the plug-in answers from one whole list, and
  // nothing the threads were handed is left with the host.
  ASSERT_TRUE(WaitUntil(
      [&] {
        HxHandle names = nullptr;
        Request(plugin, &names, properties.get(), kModeChanged);
        const bool settled = CheckAnswer(ReadList(names), 0, first, second, sessions).empty() &&
                             hxhost_list_count(names) > 2 + 3;
        hxhost_dispose_list(names);
        return settled;
      },
      "a settled answer"));
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(1, hxhost_variants_outstanding());
  EXPECT_EQ(0u, hxhost_invalid_dispose_count());
}

}  // namespace
}  // namespace hxtest

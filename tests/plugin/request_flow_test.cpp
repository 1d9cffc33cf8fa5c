// The name-list request driven through the plug-in exactly as the host drives
// it: the loader gate, the first-request rule, the three refresh modes with
// and without a running discovery worker, the searching marker and the
// 20-second throttle. Each case runs in its own process (the plug-in's state
// never resets), with the discovery stand-in linked in.
#include <dlfcn.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {

// The plug-in's 100-ms pauses on the test's main thread (nanosleep is
// interposed below), and a step a case may run at the start of the next one.
std::atomic<int> pauses{0};
std::function<void()> duringNextPause;
// Static initialisation runs on the main thread.
const std::thread::id mainThread = std::this_thread::get_id();

namespace {

// A worker's open is counted when its thread gets there, which may be just
// after the request that started it returned: wait for the count to reach
// `expected`, then insist that it is exactly that.
void ExpectOpens(int64_t expected) {
  WaitUntil([&] { return Discovery().opens >= expected; }, "the discovery open");
  EXPECT_EQ(expected, Discovery().opens);
}

// A request timed on a steady clock.
struct Timed {
  Rendered result;
  std::chrono::milliseconds took;
};
Timed RequestTimed(const Plugin &plugin, HxVariantRef properties, uint32_t mode) {
  const auto start = std::chrono::steady_clock::now();
  HxHandle names = nullptr;
  EXPECT_EQ(kOk, Request(plugin, &names, properties, mode));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return Timed{TakeList(names), took};
}

const std::vector<std::string> kThreeDevices = {"Rack1Slot10 | Scope | acmeScope",
                                                "Rack1Slot2 | DMM | acmeDmm",
                                                "rack1slot1 | Scope | acmeScope"};
const Rendered kThreeDevicesSorted = {"rack1slot1", "Rack1Slot2", "Rack1Slot10", "#-1", "#3", "#2"};

// The plug-in over kThreeDevices, not yet bound. The cases that begin bound
// prepare what they need, then Start() binds and waits for the first
// discovery run.
class ThreeDevices : public testing::Test {
 protected:
  void SetUp() override { qxmodinst_standin_set_devices_file(devices_.path().c_str()); }

  // Answers the settled result; opens_ counts the discovery opens so far.
  Rendered Start() {
    Rendered settled = BindAndSettle(plugin_, properties_.get());
    opens_ = Discovery().opens;
    return settled;
  }

  Rendered AskRendered(uint32_t mode) { return RequestRendered(plugin_, properties_.get(), mode); }
  Timed AskTimed(uint32_t mode) { return RequestTimed(plugin_, properties_.get(), mode); }
  Rendered Settled() { return TakeList(RequestUntilSettled(plugin_, properties_.get())); }

  // A request in `mode` that must start a discovery run, the opens then
  // reaching `opens`; that run must settle on `result`.
  void ExpectRestartSettlingOn(uint32_t mode, int64_t opens, const Rendered &result) {
    HxHandle names = nullptr;
    ASSERT_EQ(kOk, Request(plugin_, &names, properties_.get(), mode));
    TakeList(names);
    ExpectOpens(opens);
    EXPECT_EQ(result, Settled());
  }

  DevicesFile devices_{kThreeDevices};
  const Plugin &plugin_ = LoadPlugin();
  Properties properties_;
  int64_t opens_ = 0;
};

// ---- Loader gate ----------------------------------------------------------

TEST(LoaderGate, AnswersBindingWhileTheLoaderRunsAndStartsOnlyOne) {
  DevicesFile devices({"Rack1Slot2 | DMM | acmeDmm"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  // Every open yields session 0: the loader then opens twice (binding, and
  // its own retry), and no discovery run can follow, so the number of opens
  // counts the loader runs exactly.
  qxmodinst_standin_open_gives_zero_session(1);
  qxmodinst_standin_set_open_delay_ms(300);
  const Plugin &plugin = LoadPlugin();
  Properties properties;

  HxHandle names = kUntouched;
  EXPECT_EQ(kBinding, Request(plugin, &names, properties.get(), kModeCached));
  EXPECT_EQ(kUntouched, names);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(kBinding, Request(plugin, &names, properties.get(), kModeFull));
    EXPECT_EQ(kUntouched, names);
  }
  ExpectOpens(1);

  names = nullptr;
  ASSERT_EQ(kOk, RequestUntilBound(plugin, &names, properties.get(), kModeFull));
  // No session, so no discovery run and nothing to search for.
  EXPECT_EQ((Rendered{"#3", "#2"}), TakeList(names));
  EXPECT_EQ(2, Discovery().opens);

  // Without a session no mode starts the discovery worker, throttle or not.
  AdvanceFakeClock(100);
  devices.Write({"Rack1Slot3 | DMM | acmeDmm"});
  EXPECT_EQ((Rendered{"#3", "#2"}), RequestRendered(plugin, properties.get(), kModeFull));
  EXPECT_EQ((Rendered{"#3", "#2"}), RequestRendered(plugin, properties.get(), kModeChanged));
  EXPECT_EQ(2, Discovery().opens);
}

TEST(LoaderGate, RefusesEveryOtherClassBeforeBindingAndStillTraces) {
  const Plugin &plugin = LoadPlugin();
  Properties properties;
  const PStr lower("ivi"), shorter("IV"), longer("IVI "), empty(""), visa("VISA");
  const ConstPStr classes[] = {nullptr,      lower.get(), shorter.get(),
                               longer.get(), empty.get(), visa.get()};
  for (ConstPStr ioClass : classes) {
    for (uint32_t mode : {kModeChanged, kModeFull, kModeCached, 9u}) {
      StderrCapture trace;
      HxHandle names = kUntouched;
      EXPECT_EQ(kRefused, Request(plugin, &names, properties.get(), mode, ioClass));
      EXPECT_EQ(kUntouched, names);
      EXPECT_EQ("GetIOControlNames", trace.Text());
    }
  }
  // None of them started the loader.
  EXPECT_EQ(0, Discovery().opens);

  StderrCapture trace;
  HxHandle names = kUntouched;
  EXPECT_EQ(kBinding, Request(plugin, &names, properties.get(), kModeFull));
  EXPECT_EQ(kUntouched, names);
  EXPECT_EQ("GetIOControlNames", trace.Text());
}

TEST(LoaderGate, NullOutputAddressStillPassesTheGate) {
  const Plugin &plugin = LoadPlugin();
  Properties properties;
  EXPECT_EQ(kBinding, Request(plugin, nullptr, properties.get(), kModeFull));
  // The request above started the loader: binding finishes without any
  // request that has an output address.
  ASSERT_TRUE(
      WaitUntil([&] { return Request(plugin, nullptr, properties.get(), kModeFull) != kBinding; },
                "binding through requests without an output address"));
  // Once bound there is nowhere to put a result.
  EXPECT_EQ(7, Request(plugin, nullptr, properties.get(), kModeCached));
  EXPECT_EQ(kRefused, Request(plugin, nullptr, properties.get(), 3));
}

// ---- First request after binding ----------------------------------------

class FirstRequest : public ThreeDevices, public testing::WithParamInterface<uint32_t> {};

TEST_P(FirstRequest, RunsAsFullRefreshWhateverModeSays) {
  HxHandle names = nullptr;
  ASSERT_EQ(kBinding, Request(plugin_, &names, properties_.get(), GetParam()));
  ASSERT_TRUE(WaitUntil([] { return Discovery().sessions_outstanding == 1; }, "binding"));
  // The discovery run that a full refresh starts takes a while; the first
  // request must start it and come back searching.
  qxmodinst_standin_set_open_delay_ms(1500);
  const int64_t opensBefore = Discovery().opens;

  names = nullptr;
  ASSERT_EQ(kOk, RequestUntilBound(plugin_, &names, properties_.get(), GetParam()));
  EXPECT_EQ((Rendered{kMarker, "#-1", "#3", "#2"}), TakeList(names));
  ExpectOpens(opensBefore + 1);

  qxmodinst_standin_set_open_delay_ms(0);
  EXPECT_EQ(kThreeDevicesSorted, Settled());
  // From now on an out-of-range mode is refused and nothing is written.
  for (uint32_t mode : {3u, 7u, 0x80000000u, 0xFFFFFFFFu}) {
    names = kUntouched;
    EXPECT_EQ(kRefused, Request(plugin_, &names, properties_.get(), mode));
    EXPECT_EQ(kUntouched, names);
  }
  EXPECT_EQ(kThreeDevicesSorted, AskRendered(kModeCached));
}

INSTANTIATE_TEST_SUITE_P(AnyMode, FirstRequest, testing::Values(0u, 2u, 3u, 0xFFFFFFFFu));

// ---- Refresh modes ------------------------------------------------------

using RefreshModes = ThreeDevices;

TEST_F(RefreshModes, IdleWorkerAnswersFromTheListAndOnlyFullRefreshRestartsIt) {
  EXPECT_EQ(kThreeDevicesSorted, Start());

  // Devices unchanged: mode 0 does not restart the worker, however long ago
  // it ran; mode 2 never does.
  AdvanceFakeClock(3600);
  EXPECT_EQ(kThreeDevicesSorted, AskRendered(kModeChanged));
  EXPECT_EQ(kThreeDevicesSorted, AskRendered(kModeCached));
  EXPECT_EQ(opens_, Discovery().opens);

  // A changed devices file is not seen by mode 2 at all.
  devices_.Write({"Rack9Slot1 | DMM | acmeDmm"});
  EXPECT_EQ(kThreeDevicesSorted, AskRendered(kModeCached));
  EXPECT_EQ(opens_, Discovery().opens);

  // Mode 1 restarts the idle worker every time, without throttle.
  qxmodinst_standin_set_open_delay_ms(0);
  for (int run = 1; run <= 3; ++run) {
    HxHandle names = nullptr;
    ASSERT_EQ(kOk, Request(plugin_, &names, properties_.get(), kModeFull));
    TakeList(names);
    ExpectOpens(opens_ + run);
    // Mode 2 leaves the list out while the run goes on.
    ASSERT_TRUE(WaitUntil([&] { return AskRendered(kModeCached).size() == 4; },
                          "the discovery run to finish"));
  }
  EXPECT_EQ((Rendered{"Rack9Slot1", "#-1", "#3", "#2"}), AskRendered(kModeCached));
}

TEST_F(RefreshModes, RunningWorkerIsWaitedForOnceThenItsListIsLeftOut) {
  hxhost_sessions_add("Session1", "nowhere");
  EXPECT_EQ((Rendered{"rack1slot1", "Rack1Slot2", "Rack1Slot10", "Session1 +g", "#-1", "#3", "#2"}),
            Start());
  devices_.Write({"Rack9Slot1 | DMM | acmeDmm"});
  // The worker's open waits at the stand-in's gate for as long as the case
  // looks: every request below meets it running.
  qxmodinst_standin_hold_session_calls(1);

  // Mode 1 starts the worker, pauses once and answers without its list: the
  // open session alone, the separator after it marked 6, then the marker.
  const Rendered searching = {"Session1 +g", "#6", kMarker, "#-1", "#3", "#2"};
  const int before = pauses.load();
  const Timed full = AskTimed(kModeFull);
  EXPECT_EQ(searching, full.result);
  EXPECT_GE(full.took.count(), 100);
  EXPECT_EQ(before + 1, pauses.load());
  ASSERT_TRUE(WaitUntil([] { return qxmodinst_standin_session_calls_waiting() == 1; },
                        "the worker at the discovery library's gate"));

  // Mode 0 and mode 1 again: the same pause and answer, no second worker.
  const Timed changed = AskTimed(kModeChanged);
  EXPECT_EQ(searching, changed.result);
  EXPECT_GE(changed.took.count(), 100);
  EXPECT_EQ(searching, AskTimed(kModeFull).result);
  EXPECT_EQ(before + 3, pauses.load());
  EXPECT_EQ(1, qxmodinst_standin_session_calls_waiting());

  // Mode 2 neither waits nor marks: it just leaves the running list out.
  EXPECT_EQ((Rendered{"Session1 +g", "#-1", "#3", "#2"}), AskRendered(kModeCached));
  EXPECT_EQ(before + 3, pauses.load());

  qxmodinst_standin_hold_session_calls(0);
  EXPECT_EQ((Rendered{"Rack9Slot1", "Session1 +g", "#-1", "#3", "#2"}), Settled());
  EXPECT_EQ(opens_ + 1, Discovery().opens) << "more than one run";
}

TEST_F(RefreshModes, SearchingWithNothingElseKeepsTheHeaderIntact) {
  Start();
  qxmodinst_standin_set_open_delay_ms(1500);
  HxHandle names = nullptr;
  ASSERT_EQ(kOk, Request(plugin_, &names, properties_.get(), kModeFull));
  // Nothing comes before the marker, so no entry is marked 6 and the header
  // (count and padding) holds nothing but the entry count.
  int32_t header[2] = {-1, -1};
  std::memcpy(header, *names, sizeof header);
  EXPECT_EQ(4, header[0]);
  EXPECT_EQ(0, header[1]);
  EXPECT_EQ((Rendered{kMarker, "#-1", "#3", "#2"}), TakeList(names));
  // Every variant the plug-in created sat in a slot the host disposed of.
  EXPECT_EQ(1, hxhost_variants_outstanding());
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

TEST_F(RefreshModes, WorkerFinishingDuringThePauseIsNotLeftOut) {
  Start();
  // The run ends within the pause: it waits at the stand-in's gate until the
  // pause begins, and the pause then waits, on the request's own thread,
  // until another thread's cached request shows the new list (which it does
  // only once the worker is idle). The worker takes nothing the pausing
  // request holds, so the request then answers with its list.
  devices_.Write({"Rack9Slot1 | DMM | acmeDmm"});
  const Rendered finished = {"Rack9Slot1", "#-1", "#3", "#2"};
  qxmodinst_standin_hold_session_calls(1);
  duringNextPause = [&] {
    qxmodinst_standin_hold_session_calls(0);
    std::thread([&] {
      WaitUntil([&] { return AskRendered(kModeCached) == finished; }, "the run to end");
    }).join();
  };
  EXPECT_EQ(finished, AskRendered(kModeFull));
  EXPECT_FALSE(duringNextPause) << "the request did not pause";
}

// Host threads asking at the same moment, from before binding on: one
// loader, one first request, answers as if they had come one by one.
using Serialisation = ThreeDevices;

TEST_F(Serialisation, SimultaneousRequestsStartOneLoaderAndServeOneFirstRequest) {
  // Slower than the pause: the first request comes back searching.
  qxmodinst_standin_set_open_delay_ms(1500);
  constexpr int kThreads = 6;
  std::atomic<int> ready{0};
  std::atomic<int> refused{0};
  std::atomic<int> searching{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      HxHandle names = nullptr;
      int32_t status = kBinding;
      while ((status = Request(plugin_, &names, properties_.get(), 5)) == kBinding) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      // Mode 5 is served only as the first request; every other thread is
      // refused.
      if (status == kRefused) ++refused;
      if (status == kOk && TakeList(names) == Rendered{kMarker, "#-1", "#3", "#2"}) ++searching;
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(kThreads - 1, refused.load());
  EXPECT_EQ(1, searching.load());
  // The loader's open, then the one discovery run of the first request.
  ExpectOpens(2);
  qxmodinst_standin_set_open_delay_ms(0);
  EXPECT_EQ(kThreeDevicesSorted, Settled());
  EXPECT_EQ(2, Discovery().opens);
}

// ---- Throttle -----------------------------------------------------------

// The throttle compares exact differences of the plug-in's clock, which a
// running wall clock cannot give.
class Throttle : public ThreeDevices {
 protected:
  void SetUp() override {
    FreezeFakeClock();
    ThreeDevices::SetUp();
  }
};

TEST_F(Throttle, ChangeRestartsTheWorkerOnlyMoreThanTwentySecondsAfterItsLastStart) {
  EXPECT_EQ(kThreeDevicesSorted, Start());

  devices_.Write({"Rack9Slot1 | DMM | acmeDmm"});
  EXPECT_EQ(kThreeDevicesSorted, AskRendered(kModeChanged));
  EXPECT_EQ(opens_, Discovery().opens);
  AdvanceFakeClock(19);
  EXPECT_EQ(kThreeDevicesSorted, AskRendered(kModeChanged));
  AdvanceFakeClock(1);  // exactly 20 s since the last start
  EXPECT_EQ(kThreeDevicesSorted, AskRendered(kModeChanged));
  EXPECT_EQ(opens_, Discovery().opens);

  AdvanceFakeClock(1);  // 21 s
  ExpectRestartSettlingOn(kModeChanged, opens_ + 1, {"Rack9Slot1", "#-1", "#3", "#2"});
}

TEST_F(Throttle, CountsFromTheStartOfTheRunSoASlowRunAllowsTheNextAtOnce) {
  Start();

  AdvanceFakeClock(21);
  qxmodinst_standin_set_open_delay_ms(1500);
  devices_.Write({"Rack9Slot1 | DMM | acmeDmm"});
  EXPECT_EQ((Rendered{kMarker, "#-1", "#3", "#2"}), AskRendered(kModeChanged));
  ExpectOpens(opens_ + 1);
  // The run "takes" 30 s of wall clock.
  AdvanceFakeClock(30);
  qxmodinst_standin_set_open_delay_ms(0);
  const Rendered second = {"Rack9Slot1", "#-1", "#3", "#2"};
  ASSERT_TRUE(
      WaitUntil([&] { return AskRendered(kModeCached) == second; }, "the slow run to finish"));

  devices_.Write({"Rack9Slot2 | DMM | acmeDmm"});
  ExpectRestartSettlingOn(kModeChanged, opens_ + 2, {"Rack9Slot2", "#-1", "#3", "#2"});
}

TEST_F(Throttle, DevicesReportedUnchangedNeverRestartTheWorker) {
  Start();
  const qxmodinst_standin_counters before = Discovery();
  for (int64_t step : {21, 100, 100000}) {
    AdvanceFakeClock(step);
    EXPECT_EQ(kThreeDevicesSorted, AskRendered(kModeChanged));
  }
  const qxmodinst_standin_counters after = Discovery();
  EXPECT_EQ(before.opens, after.opens);
  // Mode 0 asked the library each time.
  EXPECT_EQ(before.configuration_checks + 3, after.configuration_checks);
}

}  // namespace
}  // namespace hxtest

// The plug-in's one pause for the discovery worker, interposed for the whole
// test process (the plug-in resolves nanosleep against the executable
// first): on the main thread, a pause of 100 ms is counted, and the first
// runs the step a case gave it before it sleeps.
extern "C" __attribute__((visibility("default"))) int nanosleep(const timespec *request,
                                                                timespec *remaining) {
  using NanosleepFn = int (*)(const timespec *, timespec *);
  static const auto next = reinterpret_cast<NanosleepFn>(dlsym(RTLD_NEXT, "nanosleep"));
  if (std::this_thread::get_id() == hxtest::mainThread && request != nullptr &&
      request->tv_sec == 0 && request->tv_nsec == 100 * 1000 * 1000) {
    ++hxtest::pauses;
    if (auto step = std::exchange(hxtest::duringNextPause, nullptr)) step();
  }
  return next(request, remaining);
}

// The host's entries besides the name request (right-click menu, release,
// interface number), and the promise every entry on the host's UI path
// keeps: it never waits for a call into the discovery library that another
// thread is making. The discovery stand-in holds its session opens and
// closes at a gate that the test keeps closed for as long as it looks; an entry that waited would
// not return until the gate opens, which the test does only afterwards.
// Blocking is a behaviour here, not a speed: the bound is generous.
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {
namespace {

// Holds the discovery stand-in's opens and closes for the object's life, so that a
// failing assertion never leaves a thread stuck behind the gate.
class HeldOpens {
 public:
  HeldOpens() { qxmodinst_standin_hold_session_calls(1); }
  ~HeldOpens() { Open(); }
  HeldOpens(const HeldOpens &) = delete;
  HeldOpens &operator=(const HeldOpens &) = delete;
  void Open() { qxmodinst_standin_hold_session_calls(0); }
};

// A call on a thread of its own.
std::future<int32_t> CallAside(std::function<int32_t()> call) {
  return std::async(std::launch::async, std::move(call));
}

bool ReturnsMeanwhile(std::future<int32_t> &call) {
  return call.wait_for(kPatience) == std::future_status::ready;
}

class HostEntries : public testing::Test {
 protected:
  void SetUp() override {
    qxmodinst_standin_set_devices_file(devices_.path().c_str());
    BindAndSettle(plugin_, properties_.get());
  }

  Rendered Ask(uint32_t mode) { return RequestRendered(plugin_, properties_.get(), mode); }
  bool Settled() { return Ask(kModeChanged) == Rendered{"Rack1Slot3", "#-1", "#3", "#2"}; }

  DevicesFile devices_{{"Rack1Slot2 | DMM | acmeDmm"}};
  const Plugin &plugin_ = LoadPlugin();
  Properties properties_;
};

TEST_F(HostEntries, UiEntriesAnswerWhileAnotherThreadOpensADiscoverySession) {
  // Changed devices: mode 0 would want to ask whether they are current.
  devices_.Write({"Rack1Slot3 | DMM | acmeDmm"});
  const qxmodinst_standin_counters before = Discovery();
  std::vector<std::future<int32_t>> calls;
  HeldOpens gate;
  int32_t count = -1;
  calls.push_back(
      CallAside([&] { return plugin_.IviIni_GetNumberOfModularInstruments(nullptr, &count); }));
  ASSERT_TRUE(WaitUntil([] { return qxmodinst_standin_session_calls_waiting() == 1; },
                        "the export inside the discovery close"));

  Rendered changed, full;
  HxHandle menu = nullptr;
  const std::vector<std::pair<std::string, std::function<int32_t()>>> entries = {
      {"mode-0 request",
       [&] {
         HxHandle names = nullptr;
         const int32_t status = Request(plugin_, &names, properties_.get(), kModeChanged);
         changed = TakeList(names);
         return status;
       }},
      // Starts the discovery worker, which then waits for the session lock.
      {"mode-1 request",
       [&] {
         HxHandle names = nullptr;
         const int32_t status = Request(plugin_, &names, properties_.get(), kModeFull);
         full = TakeList(names);
         return status;
       }},
      {"right-click menu",
       [&] { return plugin_.GetIOControlRtClickMenuItems(0, 0, 0, 0, 0, 0, &menu); }},
      {"release", [&] { return plugin_.ReleasingAppRef(nullptr); }},
      {"interface number", [&] { return plugin_.GetInfo(); }},
  };
  std::vector<int32_t> answers;
  for (const auto &entry : entries) {
    calls.push_back(CallAside(entry.second));
    const bool returned = ReturnsMeanwhile(calls.back());
    EXPECT_TRUE(returned) << "the " << entry.first << " waited for the discovery open";
    answers.push_back(returned ? calls.back().get() : -1);
  }
  EXPECT_EQ((std::vector<int32_t>{kOk, kOk, kOk, kOk, 4}), answers);
  EXPECT_EQ((Rendered{"Rack1Slot2", "#-1", "#3", "#2"}), changed);
  EXPECT_EQ((Rendered{kMarker, "#-1", "#3", "#2"}), full);
  // Not asked while another thread was inside the library.
  EXPECT_EQ(before.configuration_checks, Discovery().configuration_checks);
  hxhost_dispose_list(menu);

  gate.Open();
  EXPECT_EQ(kOk, calls.front().get());
  EXPECT_EQ(1, count);
  // The export's fresh session closes as it lets go of the lock, and the
  // worker that was started before the release (while the export was inside
  // its close, with the old session still recorded) opens none: after the
  // work in flight, the release holds.
  ASSERT_TRUE(WaitUntil(
      [&] {
        return Ask(kModeChanged) == Rendered{"Rack1Slot2", "#-1", "#3", "#2"};
      },
      "the worker to finish"));
  const qxmodinst_standin_counters after = Discovery();
  EXPECT_EQ(0, after.sessions_outstanding);
  EXPECT_EQ(before.opens + 1, after.opens);
  // A later binding opens a session again.
  EXPECT_EQ(kOk, plugin_.IviIni_OpenIniFile(nullptr, nullptr));
  EXPECT_EQ(1, Discovery().sessions_outstanding);
}

TEST_F(HostEntries, ReleaseDuringTheWorkersRunLeavesNoSessionAndKeepsItsList) {
  devices_.Write({"Rack1Slot3 | DMM | acmeDmm"});
  {
    HeldOpens gate;
    EXPECT_EQ((Rendered{kMarker, "#-1", "#3", "#2"}), Ask(kModeFull));
    ASSERT_TRUE(WaitUntil([] { return qxmodinst_standin_session_calls_waiting() == 1; },
                          "the worker inside the discovery close"));
    std::future<int32_t> release = CallAside([&] { return plugin_.ReleasingAppRef(nullptr); });
    EXPECT_TRUE(ReturnsMeanwhile(release)) << "the release waited for the worker's discovery call";
    gate.Open();
    EXPECT_EQ(kOk, release.get());
  }
  // The run finishes with its list and closes the session it opened.
  ASSERT_TRUE(WaitUntil([&] { return Settled(); }, "the worker's list"));
  EXPECT_EQ(0, Discovery().sessions_outstanding);
  int32_t count = -1;
  EXPECT_EQ(kOk, plugin_.IviIni_GetNumberOfModularInstruments(nullptr, &count));
  EXPECT_EQ(-1, count) << "a session was left behind the release";

  // Without a session no mode restarts discovery, until a binding opens one.
  const int64_t opens = Discovery().opens;
  AdvanceFakeClock(25);
  devices_.Write({"Rack1Slot4 | DMM | acmeDmm"});
  EXPECT_EQ((Rendered{"Rack1Slot3", "#-1", "#3", "#2"}), Ask(kModeFull));
  EXPECT_EQ((Rendered{"Rack1Slot3", "#-1", "#3", "#2"}), Ask(kModeChanged));
  EXPECT_EQ(opens, Discovery().opens);
  EXPECT_EQ(kOk, plugin_.IviIni_OpenIniFile(nullptr, nullptr));
  EXPECT_EQ(1, Discovery().sessions_outstanding);
}

// The release closes the session itself and sits in the library's close; a
// full request meanwhile still sees the session recorded and starts the
// worker, which must not reopen what the release is closing.
TEST_F(HostEntries, ReleaseIsNotUndoneByARequestDuringItsOwnClose) {
  ASSERT_EQ(1, Discovery().sessions_outstanding);
  const int64_t opens = Discovery().opens;
  HeldOpens gate;
  std::future<int32_t> release = CallAside([&] { return plugin_.ReleasingAppRef(nullptr); });
  ASSERT_TRUE(WaitUntil([] { return qxmodinst_standin_session_calls_waiting() == 1; },
                        "the release inside the discovery close"));
  EXPECT_EQ((Rendered{kMarker, "#-1", "#3", "#2"}), Ask(kModeFull));
  gate.Open();
  EXPECT_EQ(kOk, release.get());
  // The cached list reappears once the worker has finished; it kept it.
  ASSERT_TRUE(WaitUntil(
      [&] {
        return Ask(kModeCached) == Rendered{"Rack1Slot2", "#-1", "#3", "#2"};
      },
      "the worker to finish"));
  EXPECT_EQ(0, Discovery().sessions_outstanding);
  EXPECT_EQ(opens, Discovery().opens);
}

TEST_F(HostEntries, ARequestDoesNotWaitForAnotherRequestsDiscoveryCall) {
  devices_.Write({"Rack1Slot3 | DMM | acmeDmm"});
  const Rendered before = {"Rack1Slot2", "#-1", "#3", "#2"};
  HeldOpens gate;
  // The first request asks whether the devices are current and sits there.
  Rendered first;
  std::future<int32_t> asking = CallAside([&] {
    HxHandle names = nullptr;
    const int32_t status = Request(plugin_, &names, properties_.get(), kModeChanged);
    first = TakeList(names);
    return status;
  });
  ASSERT_TRUE(WaitUntil([] { return qxmodinst_standin_session_calls_waiting() == 1; },
                        "the request inside the configuration check"));
  Rendered second;
  std::future<int32_t> cached = CallAside([&] {
    HxHandle names = nullptr;
    const int32_t status = Request(plugin_, &names, properties_.get(), kModeCached);
    second = TakeList(names);
    return status;
  });
  EXPECT_TRUE(ReturnsMeanwhile(cached)) << "a request waited for another's discovery call";
  gate.Open();
  EXPECT_EQ(kOk, cached.get());
  EXPECT_EQ(before, second);
  EXPECT_EQ(kOk, asking.get());
  EXPECT_EQ(before, first);
}

// The right-click menu: two items, unless bit 0 or bit 3 of the flags asks
// for none; a null output address answers 1 whatever the flags.
TEST(HostMenu, FlagsDecideWhetherTheTwoItemsAreMade) {
  const Plugin &plugin = LoadPlugin();
  for (const uint32_t flags : {0u, 2u, 4u, 6u, 0x10u}) {
    HxHandle items = kUntouched;
    const size_t asked = RequestedSizes("DSNewHClr").size();
    EXPECT_EQ(kOk, plugin.GetIOControlRtClickMenuItems(1, 2, 3, 4, 5, flags, &items)) << flags;
    ASSERT_NE(items, kUntouched) << flags;
    EXPECT_EQ((std::vector<size_t>{32}), SizesSince("DSNewHClr", asked)) << flags;
    EXPECT_EQ(2, hxhost_list_count(items)) << flags;
    for (int32_t i = 0; i < 2; ++i) {
      uint32_t id = 0, f = 0;
      EXPECT_EQ(kHostOk, hxhost_variant_get_u32(hxhost_list_slot(items, i), "id", &id));
      EXPECT_EQ(kHostOk, hxhost_variant_get_u32(hxhost_list_slot(items, i), "f", &f));
      EXPECT_EQ(static_cast<uint32_t>(6 + i), id) << flags;
      EXPECT_EQ(2u, f) << flags;
    }
    hxhost_dispose_list(items);
  }
  for (const uint32_t flags : {1u, 8u, 9u, 0xFFFFFFFFu}) {
    HxHandle items = kUntouched;
    EXPECT_EQ(kOk, plugin.GetIOControlRtClickMenuItems(0, 0, 0, 0, 0, flags, &items)) << flags;
    EXPECT_EQ(kUntouched, items) << flags;
  }
  for (const uint32_t flags : {0u, 1u, 8u, 9u}) {
    EXPECT_EQ(1, plugin.GetIOControlRtClickMenuItems(0, 0, 0, 0, 0, flags, nullptr)) << flags;
  }
  EXPECT_EQ(4, plugin.GetInfo());
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

}  // namespace
}  // namespace hxtest

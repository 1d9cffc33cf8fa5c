// The plug-in with a VISA library bound on opt-in: the VISA stand-in (linked
// here for its controls, and bound by the plug-in by path, which gives the
// same library) serves the control's VISA section. No devices and no store,
// so that every name a request shows is a VISA resource.
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"
#include "visa_standin.h"

namespace hxtest {
namespace {

const std::vector<std::string> kResources = {"TCPIP0::10.0.0.7::INSTR", "GPIB0::12::INSTR",
                                             "ASRL1::INSTR", "GPIB0::2::INSTR",
                                             "TCPIP0::10.0.0.9::5025::SOCKET"};
const Rendered kListed = {"ASRL1::INSTR",
                          "GPIB0::2::INSTR",
                          "GPIB0::12::INSTR",
                          "TCPIP0::10.0.0.7::INSTR",
                          "#-1",
                          "#3",
                          "#2"};
const Rendered kNothing = {"#3", "#2"};

visa_standin_counters Visa() {
  visa_standin_counters counters{};
  visa_standin_get_counters(&counters);
  return counters;
}

// Holds the stand-in's VISA calls for the object's life.
class HeldVisaCalls {
 public:
  HeldVisaCalls() { visa_standin_hold_calls(1); }
  ~HeldVisaCalls() { Open(); }
  HeldVisaCalls(const HeldVisaCalls &) = delete;
  HeldVisaCalls &operator=(const HeldVisaCalls &) = delete;
  void Open() { visa_standin_hold_calls(0); }
};

// Public: the failure cases below arrange the fixture from outside.
class VisaBinding : public testing::Test {
 public:
  void SetUp() override {
    qxmodinst_standin_set_devices_file(devices_.path().c_str());
    visa_standin_set_resources_file(resources_.path().c_str());
  }
  void Bind(const char *library = VISA_STANDIN_PATH) {
    setenv("VELMORA_HX_VISA_LIBRARY", library, 1);
  }
  Rendered Ask(uint32_t mode) { return RequestRendered(plugin_, properties_.get(), mode); }

  DevicesFile devices_;
  DevicesFile resources_{kResources};  // one resource name per line
  const Plugin &plugin_ = LoadPlugin();
  Properties properties_;
};

// The enumeration sits in the library (held at the stand-in's gate) for as
// long as the test looks: requests answer meanwhile, searching, the cached
// mode serves the previous list, and the release returns; once the run is
// over, nothing VISA is left open.
TEST_F(VisaBinding, AHeldEnumerationHoldsUpNoHostEntryAndTheReleaseHolds) {
  Bind();
  EXPECT_EQ(kListed, BindAndSettle(plugin_, properties_.get()));
  std::future<int32_t> release;
  {
    HeldVisaCalls gate;
    EXPECT_EQ((Rendered{kMarker, "#-1", "#3", "#2"}), Ask(kModeFull));
    ASSERT_TRUE(WaitUntil([] { return visa_standin_calls_waiting() == 1; },
                          "the VISA worker inside viFindRsrc"));
    EXPECT_EQ((Rendered{kMarker, "#-1", "#3", "#2"}), Ask(kModeChanged));
    EXPECT_EQ((Rendered{"#3", "#2"}), Ask(kModeCached));
    release = std::async(std::launch::async, [&] { return plugin_.ReleasingAppRef(nullptr); });
    EXPECT_EQ(std::future_status::ready, release.wait_for(kPatience))
        << "the release waited for the VISA call";
    EXPECT_EQ(1, Visa().resource_managers_open);
  }
  EXPECT_EQ(0, release.get());
  ASSERT_TRUE(WaitUntil([&] { return Ask(kModeCached) == kListed; }, "the VISA worker's list"));
  const visa_standin_counters after = Visa();
  EXPECT_EQ(0, after.resource_managers_open);
  EXPECT_EQ(0, after.find_lists_open);
}

// VISA reports no change: a listing older than 20 s counts as changed when
// mode 0 asks, so a new resource shows within that time, and not before.
TEST_F(VisaBinding, ANewResourceShowsOnceTheListingIsTwentySecondsOld) {
  Bind();
  FreezeFakeClock();
  EXPECT_EQ(kListed, BindAndSettle(plugin_, properties_.get()));
  std::vector<std::string> more = kResources;
  more.push_back("VXI0::4::INSTR");
  resources_.Write(more);
  AdvanceFakeClock(20);
  EXPECT_EQ(kListed, Ask(kModeChanged));
  AdvanceFakeClock(1);
  Rendered withVxi = kListed;
  withVxi.insert(withVxi.begin() + 4, "VXI0::4::INSTR");
  EXPECT_EQ(withVxi, TakeList(RequestUntilSettled(plugin_, properties_.get())));
}

// The IviIni_* VISA exports walk the adapter's find list: the count and the
// first name, the next names in the library's order, the end, the close;
// no resource is a count of 0; after a release the next call opens a new
// resource manager.
TEST_F(VisaBinding, TheExportsWalkOneFindListAndCloseIt) {
  Bind();
  int32_t count = -1;
  char name[VI_FIND_BUFLEN] = "unwritten";
  uint32_t list = 0;
  ASSERT_EQ(0, plugin_.IviIni_GetNumberOfVisaNames(&count, name, &list));
  EXPECT_EQ(4, count);
  EXPECT_STREQ("TCPIP0::10.0.0.7::INSTR", name);
  EXPECT_NE(0u, list);
  for (const char *next : {"GPIB0::12::INSTR", "ASRL1::INSTR", "GPIB0::2::INSTR"}) {
    EXPECT_EQ(0, plugin_.IviIni_GetNextVisaName(list, name));
    EXPECT_STREQ(next, name);
  }
  EXPECT_EQ(VI_ERROR_RSRC_NFOUND, plugin_.IviIni_GetNextVisaName(list, name));
  EXPECT_EQ(0, plugin_.IviIni_CloseVisaNameList(list));
  EXPECT_EQ(0, plugin_.IviIni_CloseVisaNameList(0));
  EXPECT_EQ(0, Visa().find_lists_open);

  resources_.Write({"# nothing here"});
  ASSERT_EQ(0, plugin_.IviIni_GetNumberOfVisaNames(&count, name, &list));
  EXPECT_EQ(0, count);
  EXPECT_STREQ("", name);
  EXPECT_EQ(0u, list);

  EXPECT_EQ(0, plugin_.ReleasingAppRef(nullptr));
  EXPECT_EQ(0, Visa().resource_managers_open);
  ASSERT_EQ(0, plugin_.IviIni_GetNumberOfVisaNames(&count, name, &list));
  EXPECT_EQ(1, Visa().resource_managers_open);
}

// What a setting or a failure leaves: the resources the expression names,
// or the previous list (or none); every find list closed; a trace line where
// the binding or the resource manager failed.
struct Failure {
  const char *name;
  std::function<void(VisaBinding &)> arrange;
  Rendered shown;
  const char *trace;  // in the trace, or null
};

class VisaFailure : public VisaBinding, public testing::WithParamInterface<Failure> {};

TEST_P(VisaFailure, KeepsWhatWasListedAndLeavesNothingOpen) {
  const Failure &failure = GetParam();
  StderrCapture capture;
  failure.arrange(*this);
  EXPECT_EQ(failure.shown, TakeList(RequestUntilSettled(plugin_, properties_.get())));
  if (failure.trace != nullptr) {
    EXPECT_NE(std::string::npos, capture.Text().find(failure.trace)) << capture.Text();
  }
  EXPECT_EQ(0, Visa().find_lists_open);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VisaFailure,
    testing::Values(
        Failure{"LibraryMissing",
                [](VisaBinding &test) {
                  test.Bind("libno-such-visa.so");
                  HxHandle names = nullptr;
                  RequestUntilBound(test.plugin_, &names, test.properties_.get(), kModeFull);
                  TakeList(names);
                },
                kNothing, "VISA library libno-such-visa.so not bound: {"},
        Failure{"EntryMissing",
                [](VisaBinding &test) {
                  test.Bind(VISA_NOFINDNEXT_PATH);
                  HxHandle names = nullptr;
                  RequestUntilBound(test.plugin_, &names, test.properties_.get(), kModeFull);
                  TakeList(names);
                },
                kNothing, "viFindNext"},
        Failure{"ResourceManagerFails",
                [](VisaBinding &test) {
                  visa_standin_fail_open_default_rm(VI_ERROR_SYSTEM_ERROR);
                  test.Bind();
                  HxHandle names = nullptr;
                  RequestUntilBound(test.plugin_, &names, test.properties_.get(), kModeFull);
                  TakeList(names);
                },
                kNothing, "VISA resource manager not opened: "},
        Failure{"NextNameFailsHalfWay",
                [](VisaBinding &test) {
                  test.Bind();
                  BindAndSettle(test.plugin_, test.properties_.get());
                  visa_standin_fail_find_next_after(2, VI_ERROR_SYSTEM_ERROR);
                  test.Ask(kModeFull);
                },
                kListed, nullptr},
        Failure{"ExpressionNarrowsTheList",
                [](VisaBinding &test) {
                  setenv("VELMORA_HX_VISA_EXPRESSION", "GPIB?*", 1);
                  test.Bind();
                  BindAndSettle(test.plugin_, test.properties_.get());
                },
                Rendered{"GPIB0::2::INSTR", "GPIB0::12::INSTR", "#-1", "#3", "#2"}, nullptr},
        Failure{"InvalidExpressionListsNothing",
                [](VisaBinding &test) {
                  setenv("VELMORA_HX_VISA_EXPRESSION", "[GPIB", 1);
                  test.Bind();
                  BindAndSettle(test.plugin_, test.properties_.get());
                },
                kNothing, nullptr},
        Failure{"NoResources",
                [](VisaBinding &test) {
                  test.resources_.Write({"# nothing here"});
                  test.Bind();
                  BindAndSettle(test.plugin_, test.properties_.get());
                },
                kNothing, nullptr}),
    [](const testing::TestParamInfo<Failure> &failure) { return std::string(failure.param.name); });

}  // namespace
}  // namespace hxtest

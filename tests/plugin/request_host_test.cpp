// The host calls of a request's result: exact allocation sizes, what each
// failing host call makes of the answer and of the handle, and that every
// handle the plug-in takes from the host goes back except the result.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {
namespace {

// A plug-in bound and settled over three devices; the host's accounts are
// zeroed afterwards (apart from the control's properties, which the test
// holds), so each case sees only its own request.
class ResultHost : public testing::Test {
 protected:
  void SetUp() override {
    qxmodinst_standin_set_devices_file(devices_.path().c_str());
    ASSERT_EQ(settled_, BindAndSettle(plugin_, properties_.get()));
    ASSERT_EQ(0, hxhost_handles_outstanding());
    ASSERT_EQ(1, hxhost_variants_outstanding());
  }

  int32_t Ask(HxHandle *names, uint32_t mode = kModeCached) {
    return Request(plugin_, names, properties_.get(), mode);
  }

  const Plugin &plugin_ = LoadPlugin();
  DevicesFile devices_{{"C3 | x | p", "A1 | x | p", "B2 | x | p"}};
  Properties properties_;
  Rendered settled_ = {"A1", "B2", "C3", "#-1", "#3", "#2"};
};

TEST_F(ResultHost, AllocatesTheBlockOnceAtItsFinalSizeAndOneStringPerList) {
  // Counted from here on.
  const size_t clr = RequestedSizes("DSNewHClr").size();
  const size_t strings = RequestedSizes("DSNewHandle").size();
  HxHandle names = nullptr;
  ASSERT_EQ(kOk, Ask(&names));
  // Three names, their separator and two tail entries: 16 + 8 x 6 bytes.
  EXPECT_EQ(64u, hxhost_handle_size(names));
  EXPECT_EQ((std::vector<size_t>{64}), SizesSince("DSNewHClr", clr));
  // One temporary string for M, one for the (empty) V.
  EXPECT_EQ((std::vector<size_t>{260, 260}), SizesSince("DSNewHandle", strings));
  TakeList(names);
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(1, hxhost_variants_outstanding());
  EXPECT_EQ(0u, hxhost_invalid_dispose_count());
  EXPECT_EQ(0u, hxhost_bad_argument_count());
}

struct FailureCase {
  const char *function;
  uint32_t nth;
  MgErr status;
  int32_t answer;
  int32_t count;     // count field of the result
  Rendered slots;    // its six slots, whatever the count says
  int64_t leftOver;  // host handles still live once the result is disposed of
};

void PrintTo(const FailureCase &c, std::ostream *os) {
  *os << c.function << " call " << c.nth << " answers " << c.status;
}

class ResultHostFailure : public ResultHost, public testing::WithParamInterface<FailureCase> {};

// Calls of one request over three names, not searching, in order:
// DSNewHClr; DSNewHandle (M), three HxVariantPStrSetStringAttr, DSDisposeHandle;
// HxVariantPStrSetUI32Attr (separator); DSNewHandle (V), DSDisposeHandle;
// HxVariantPStrSetUI32Attr "id" 3, then "id" 2.
TEST_P(ResultHostFailure, AnswersAndLeavesTheHandleAsDocumented) {
  const FailureCase &c = GetParam();
  ASSERT_EQ(kOk, hxhost_arm_fault(c.function, c.nth, 1, c.status));
  HxHandle names = kUntouched;
  EXPECT_EQ(c.answer, Ask(&names));
  hxhost_disarm_faults();
  if (c.count < 0) {
    EXPECT_EQ(nullptr, names);
  } else {
    ASSERT_NE(nullptr, names);
    EXPECT_EQ(64u, hxhost_handle_size(names));
    EXPECT_EQ(c.count, hxhost_list_count(names));
    EXPECT_EQ(c.slots, RenderSlots(names, 6));
    EXPECT_EQ(kOk, hxhost_dispose_list(names));
  }
  EXPECT_EQ(c.leftOver, hxhost_handles_outstanding());
  EXPECT_EQ(1, hxhost_variants_outstanding());
  EXPECT_EQ(0u, hxhost_invalid_dispose_count());
}

// The six slots as a failure leaves them: nothing written, M's names only,
// M and its separator, all but the last tail entry.
const Rendered kNone = {"(empty)", "(empty)", "(empty)", "(empty)", "(empty)", "(empty)"};
const Rendered kM = {"A1", "B2", "C3", "(empty)", "(empty)", "(empty)"};
const Rendered kMSeparated = {"A1", "B2", "C3", "#-1", "(empty)", "(empty)"};
const Rendered kAllButTheLast = {"A1", "B2", "C3", "#-1", "#3", "(empty)"};

INSTANTIATE_TEST_SUITE_P(
    EachHostCall, ResultHostFailure,
    testing::Values(
        // The result block itself: nothing to hand over.
        FailureCase{"DSNewHClr", 1, 2, 6, -1, {}, 0},
        // M's temporary string: the result stays with count 0.
        FailureCase{"DSNewHandle", 1, 2, 6, 0, kNone, 0},
        // V's temporary string.
        FailureCase{"DSNewHandle", 2, 2, 6, 0, kMSeparated, 0},
        // A name that cannot be set stops its list; the request goes on.
        FailureCase{"HxVariantPStrSetStringAttr",
                    2,
                    7,
                    0,
                    6,
                    {"A1", "(empty)", "(empty)", "#-1", "#3", "#2"},
                    0},
        FailureCase{"HxVariantPStrSetStringAttr",
                    1,
                    2,
                    0,
                    6,
                    {"(empty)", "(empty)", "(empty)", "#-1", "#3", "#2"},
                    0},
        // Disposing of a temporary string: out of memory or another failure.
        // The host keeps a handle whose disposal failed.
        FailureCase{"DSDisposeHandle", 1, 2, 6, 0, kM, 1},
        FailureCase{"DSDisposeHandle", 1, 9, 7, 0, kM, 1},
        FailureCase{"DSDisposeHandle", 2, 2, 6, 0, kMSeparated, 1},
        FailureCase{"DSDisposeHandle", 2, -5, 7, 0, kMSeparated, 1},
        // The separator after M.
        FailureCase{"HxVariantPStrSetUI32Attr", 1, 2, 6, 0, kM, 0},
        FailureCase{"HxVariantPStrSetUI32Attr", 1, 1003, 7, 0, kM, 0},
        // The first tail entry is not looked at; the second is.
        FailureCase{
            "HxVariantPStrSetUI32Attr", 2, 7, 0, 6, {"A1", "B2", "C3", "#-1", "(empty)", "#2"}, 0},
        FailureCase{"HxVariantPStrSetUI32Attr", 3, 2, 6, 0, kAllButTheLast, 0},
        FailureCase{"HxVariantPStrSetUI32Attr", 3, 7, 7, 0, kAllButTheLast, 0}));

// While the discovery worker runs, M holds one open session and the result
// carries the marker. Calls of the request's result: DSNewHClr;
// DSNewHandle (M), "n" and "g" of the session, DSDisposeHandle; "id" -1;
// DSNewHandle (V), DSDisposeHandle; DSNewHandle (marker), its "n",
// DSDisposeHandle; "id" 6, "id" 7, "id" -1, "id" 3, "id" 2.
class SearchingResultHost : public ResultHost {
 protected:
  void SetUp() override {
    hxhost_sessions_add("Session1", "nowhere");
    settled_ = {"A1", "B2", "C3", "Session1 +g", "#-1", "#3", "#2"};
    ResultHost::SetUp();
    qxmodinst_standin_set_open_delay_ms(3000);
  }

  Rendered AskSearching(int32_t answer, int32_t count) {
    HxHandle names = nullptr;
    EXPECT_EQ(answer, Ask(&names, kModeFull));
    hxhost_disarm_faults();
    EXPECT_EQ(count, hxhost_list_count(names));
    EXPECT_EQ(64u, hxhost_handle_size(names));
    Rendered slots = RenderSlots(names, 6);
    hxhost_dispose_list(names);
    return slots;
  }
};

TEST_F(SearchingResultHost, MarkerLayoutAndAllocations) {
  const size_t strings = RequestedSizes("DSNewHandle").size();
  EXPECT_EQ((Rendered{"Session1 +g", "#6", kMarker, "#-1", "#3", "#2"}), AskSearching(kOk, 6));
  EXPECT_EQ((std::vector<size_t>{260, 260, 260}), SizesSince("DSNewHandle", strings));
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

TEST_F(SearchingResultHost, MarkerStringThatCannotBeAllocatedLeavesTheMarkerNameless) {
  ASSERT_EQ(kOk, hxhost_arm_fault("DSNewHandle", 3, 1, 2));
  EXPECT_EQ((Rendered{"Session1 +g", "#6", "#7", "#-1", "#3", "#2"}), AskSearching(kOk, 6));
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

TEST_F(SearchingResultHost, MarkingsAroundTheMarkerAreNotLookedAt) {
  // "id" 6 and "id" 7 (calls 3 and 4 of the UI32 setter).
  ASSERT_EQ(kOk, hxhost_arm_fault("HxVariantPStrSetUI32Attr", 3, 2, 7));
  EXPECT_EQ((Rendered{"Session1 +g", "#-1", "<Searching for more>", "#-1", "#3", "#2"}),
            AskSearching(kOk, 6));
}

TEST_F(SearchingResultHost, SeparatorAfterTheMarkerDecidesTheAnswer) {
  ASSERT_EQ(kOk, hxhost_arm_fault("HxVariantPStrSetUI32Attr", 5, 1, 2));
  EXPECT_EQ((Rendered{"Session1 +g", "#6", kMarker, "(empty)", "(empty)", "(empty)"}),
            AskSearching(6, 0));
}

TEST_F(SearchingResultHost, OpenSessionGroupThatCannotBeSetStopsTheList) {
  ASSERT_EQ(kOk, hxhost_arm_fault("HxVariantPStrSetUI32Attr", 1, 1, 7));
  EXPECT_EQ((Rendered{"Session1", "#6", kMarker, "#-1", "#3", "#2"}), AskSearching(kOk, 6));
}

// Names longer than the 256 characters a temporary string holds by default:
// a device attribute read whole, a session name read whole, and the string
// sized to the longest name of its list.
TEST(LongNames, TravelWholeFromDiscoveryAndHostIntoTheResult) {
  const std::string device(300, 'D');
  const std::string session = "S" + std::string(399, 's');
  DevicesFile devices({device + " | x | " + std::string(280, 'p'), "Short | x | p"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  hxhost_sessions_add(session.c_str(), device.c_str());
  const Plugin &plugin = LoadPlugin();
  Properties properties;
  EXPECT_EQ((Rendered{device, "Short", session + " +g", "#-1", "#3", "#2"}),
            BindAndSettle(plugin, properties.get()));
  // The session took the device's 280-character prefix as its class.
  Properties byPrefix(0x1000u, std::string(280, 'P'));
  HxHandle names = nullptr;
  const size_t strings = RequestedSizes("DSNewHandle").size();
  ASSERT_EQ(kOk, Request(plugin, &names, byPrefix.get(), kModeCached));
  EXPECT_EQ((Rendered{device, session + " +g", "#-1", "#3", "#2"}), TakeList(names));
  EXPECT_EQ((std::vector<size_t>{4 + 400, 260}), SizesSince("DSNewHandle", strings));
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(0u, hxhost_bad_argument_count());
}

// Every kind of request gives back every handle and variant it took, apart
// from the result, which the host disposes of.
TEST(HandleAccounting, OnlyTheResultIsHandedOver) {
  DevicesFile devices({"Rack1Slot2 | DMM | acmeDmm", "Rack1Slot3 | Scope | acmeScope"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  hxhost_sessions_add("MyDmm", "Rack1Slot2");
  hxhost_sessions_add("Loose", nullptr);
  const Plugin &plugin = LoadPlugin();
  {
    Properties properties(0x3000u, "acmeDmm");
    BindAndSettle(plugin, properties.get());
    EXPECT_EQ(0, hxhost_handles_outstanding());
    EXPECT_EQ(1, hxhost_variants_outstanding());
    for (uint32_t mode : {0u, 1u, 2u, 0u, 2u}) {
      HxHandle names = nullptr;
      ASSERT_EQ(kOk, Request(plugin, &names, properties.get(), mode));
      // The result and the variants in its slots are the only things left.
      EXPECT_EQ(1, hxhost_handles_outstanding());
      EXPECT_EQ(1 + hxhost_list_count(names), hxhost_variants_outstanding());
      TakeList(names);
      EXPECT_EQ(0, hxhost_handles_outstanding());
      EXPECT_EQ(1, hxhost_variants_outstanding());
    }
  }
  EXPECT_EQ(0, hxhost_variants_outstanding());
  EXPECT_EQ(0u, hxhost_invalid_dispose_count());
  EXPECT_EQ(0u, hxhost_bad_argument_count());
}

}  // namespace
}  // namespace hxtest

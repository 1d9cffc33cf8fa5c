// The sessions the host holds open, as a request folds them into its answer:
// reuse on the host's "unchanged", failures passed on, the rule that only the
// last session's reads decide a run, case-insensitive marking, the class a
// session takes over from the entry it was opened from, and the trace lines.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {
namespace {

const std::vector<std::string> kDevices = {"Rack1Slot2 | DMM | acmeDmm",
                                           "Rack1Slot3 | Scope | acmeScope"};

class OpenSessions : public testing::Test {
 protected:
  void SetUp() override {
    devices_.Write(kDevices);
    qxmodinst_standin_set_devices_file(devices_.path().c_str());
  }

  // Binds and lets the first discovery run finish; answers its result.
  Rendered Start(HxVariantRef properties) { return BindAndSettle(plugin_, properties); }

  int32_t Ask(HxVariantRef properties, HxHandle *names) {
    return plugin_.GetIOControlNames(7, IviClass(), nullptr, names, properties, kModeCached);
  }

  Rendered AskRendered(HxVariantRef properties) {
    HxHandle names = nullptr;
    EXPECT_EQ(kOk, Ask(properties, &names));
    return TakeList(names);
  }

  const Plugin &plugin_ = LoadPlugin();
  DevicesFile devices_;
};

TEST_F(OpenSessions, AreAskedForWithTheRequestsContextAndProperties) {
  Properties properties;
  Start(properties.get());
  HxHandle names = nullptr;
  ASSERT_EQ(kOk, Ask(properties.get(), &names));
  TakeList(names);
  hxhost_sessions_call call{};
  ASSERT_EQ(1, hxhost_sessions_last_call(&call));
  EXPECT_EQ(7u, call.app_context);
  EXPECT_STREQ("IVI", call.io_class);
  EXPECT_EQ(properties.get(), call.properties);
  EXPECT_EQ(1, call.one);
}

TEST_F(OpenSessions, HostAnswerOfOneFromTheStartGivesNoSessions) {
  hxhost_sessions_add("MyDmm", "Rack1Slot2");
  hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
  Properties properties;
  EXPECT_EQ((Rendered{"Rack1Slot2", "Rack1Slot3", "#-1", "#3", "#2"}), Start(properties.get()));
}

TEST_F(OpenSessions, HostAnswerOfOneReusesTheLastCompletedRun) {
  hxhost_sessions_add("MyDmm", "Rack1Slot2");
  hxhost_sessions_add("Loose", "nowhere");
  Properties properties;
  const Rendered first = {"Loose +g", "MyDmm +g", "Rack1Slot2", "Rack1Slot3", "#-1", "#3", "#2"};
  EXPECT_EQ(first, Start(properties.get()));

  hxhost_sessions_clear();
  hxhost_sessions_add("Other", "Rack1Slot3");
  hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
  EXPECT_EQ(first, AskRendered(properties.get()));
  EXPECT_EQ(first, AskRendered(properties.get()));

  hxhost_sessions_set_status(kOk);
  EXPECT_EQ((Rendered{"Other +g", "Rack1Slot2", "Rack1Slot3", "#-1", "#3", "#2"}),
            AskRendered(properties.get()));

  // A run without sessions (no list at all, or a count of 0 or less) makes
  // the earlier sessions disappear for good.
  for (int variant = 0; variant < 3; ++variant) {
    hxhost_sessions_set_status(kOk);
    AskRendered(properties.get());  // "Other" again
    if (variant == 0) hxhost_sessions_set_null_handle(1);
    if (variant == 1) hxhost_sessions_override_count(1, 0);
    if (variant == 2) hxhost_sessions_override_count(1, -4);
    const Rendered devicesOnly = {"Rack1Slot2", "Rack1Slot3", "#-1", "#3", "#2"};
    EXPECT_EQ(devicesOnly, AskRendered(properties.get())) << "variant " << variant;
    hxhost_sessions_set_null_handle(0);
    hxhost_sessions_override_count(0, 0);
    hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
    EXPECT_EQ(devicesOnly, AskRendered(properties.get())) << "variant " << variant;
  }
}

TEST_F(OpenSessions, AnyOtherHostStatusIsAnsweredUnchangedAndNothingIsWritten) {
  hxhost_sessions_add("MyDmm", "Rack1Slot2");
  Properties properties;
  const Rendered first = Start(properties.get());
  for (MgErr status : {2, 3, 6, 7, 90, 1001, -1, -7, INT32_MIN, INT32_MAX}) {
    hxhost_sessions_set_status(status);
    HxHandle names = kUntouched;
    EXPECT_EQ(status, Ask(properties.get(), &names));
    EXPECT_EQ(kUntouched, names);
  }
  // The failures kept the last completed run.
  hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
  EXPECT_EQ(first, AskRendered(properties.get()));
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

struct LastSessionCase {
  uint32_t failingRead;  // string reads counted from 1: "n" and "orig" of each session
  MgErr hostStatus;
  int32_t answer;   // of the request
  Rendered result;  // 0: the request's result; else the next "unchanged" answer
};

void PrintTo(const LastSessionCase &c, std::ostream *os) {
  *os << "string read " << c.failingRead << " answers " << c.hostStatus;
}

class OpenSessionsReads : public OpenSessions,
                          public testing::WithParamInterface<LastSessionCase> {};

// Without "displayFilter" the filters read nothing, so the only string reads
// of a request are the sessions' own, in order.
TEST_P(OpenSessionsReads, OnlyTheLastSessionsReadsDecideTheRun) {
  const LastSessionCase &c = GetParam();
  hxhost_sessions_add("Before", "nowhere");
  Properties properties(std::nullopt);
  EXPECT_EQ((Rendered{"Before +g", "#-1", "#3", "#2"}), Start(properties.get()));

  hxhost_sessions_clear();
  hxhost_sessions_add("First", "nowhere");
  hxhost_sessions_add("Second", "nowhere");
  ASSERT_EQ(kOk, hxhost_arm_fault("HxVariantPStrGetStringAttr", c.failingRead, 1, c.hostStatus));
  HxHandle names = kUntouched;
  const int32_t answer = Ask(properties.get(), &names);
  EXPECT_EQ(c.answer, answer);
  if (answer != kOk) {
    EXPECT_EQ(kUntouched, names);
    hxhost_disarm_faults();
    hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
    EXPECT_EQ(c.result, AskRendered(properties.get()));
  } else {
    EXPECT_EQ(c.result, TakeList(names));
  }
  // Whatever failed, every string the host handed out was disposed of.
  EXPECT_EQ(1, hxhost_handles_outstanding() + hxhost_variants_outstanding());
}

INSTANTIATE_TEST_SUITE_P(FailingRead, OpenSessionsReads,
                         testing::Values(
                             // The second session's "orig": the run fails, the previous one stays.
                             LastSessionCase{4, 7, 7, {"Before +g", "#-1", "#3", "#2"}},
                             LastSessionCase{4, 2, 6, {"Before +g", "#-1", "#3", "#2"}},
                             LastSessionCase{4, -3, 7, {"Before +g", "#-1", "#3", "#2"}},
                             // The second session's "n".
                             LastSessionCase{3, 2, 6, {"Before +g", "#-1", "#3", "#2"}},
                             LastSessionCase{3, 1002, 7, {"Before +g", "#-1", "#3", "#2"}},
                             // The first session's reads: it is left out, the run completes.
                             LastSessionCase{1, 7, 0, {"Second +g", "#-1", "#3", "#2"}},
                             LastSessionCase{2, 2, 0, {"Second +g", "#-1", "#3", "#2"}}));

TEST_F(OpenSessions, MarkEveryEntryEqualIgnoringCaseInsteadOfAddingOne) {
  devices_.Write(
      {"Scope1 | Scope | acmeScope", "SCOPE1 | Scope | acmeScope", "Rack1Slot2 | DMM | acmeDmm"});
  // Opened from a device, so its entry passes the filters; it matches both
  // Scope1 entries by its own name.
  hxhost_sessions_add("scope1", "rack1slot2");
  // Two sessions equal ignoring case and opened from nothing known: the
  // first is added, the second marks it.
  hxhost_sessions_add("dmm", "unknown");
  hxhost_sessions_add("DMM", "unknown");
  Properties properties;
  const Rendered result = Start(properties.get());
  ASSERT_EQ(7u, result.size());
  EXPECT_EQ("dmm +g", result[0]);
  EXPECT_EQ("Rack1Slot2", result[1]);
  // Names equal ignoring case keep no particular order between them.
  EXPECT_TRUE((result[2] == "Scope1 +g" && result[3] == "SCOPE1 +g") ||
              (result[2] == "SCOPE1 +g" && result[3] == "Scope1 +g"))
      << result[2] << ", " << result[3];
  EXPECT_EQ((Rendered{"#-1", "#3", "#2"}), Rendered(result.begin() + 4, result.end()));
}

TEST_F(OpenSessions, UnmatchedSessionsShowEvenWhenTheFiltersDropEverythingElse) {
  hxhost_sessions_add("Matched", "Rack1Slot2");  // filtered like the device
  hxhost_sessions_add("Loose", "nowhere");
  hxhost_sessions_add("NoOrig", nullptr);     // no "orig": opened from nothing known
  hxhost_sessions_add(nullptr, "Rack1Slot3");  // no "n": nothing to show
  Properties properties(std::nullopt);
  EXPECT_EQ((Rendered{"Loose +g", "NoOrig +g", "#-1", "#3", "#2"}), Start(properties.get()));
  Properties resourcesOnly(0x2000u);
  EXPECT_EQ((Rendered{"Loose +g", "NoOrig +g", "#-1", "#3", "#2"}),
            AskRendered(resourcesOnly.get()));
}

TEST_F(OpenSessions, TakeTheClassOfTheEntryTheyWereOpenedFrom) {
  hxhost_sessions_add("MyDmm", "rack1slot2");
  hxhost_sessions_add("MyScope", "RACK1SLOT3");
  hxhost_sessions_add("Loose", "nowhere");
  Properties all;
  Start(all.get());
  // Modular instruments carry their prefix as class and prefix.
  Properties dmm(0x1000u, "ACMEDMM");
  EXPECT_EQ((Rendered{"Loose +g", "MyDmm +g", "Rack1Slot2", "#-1", "#3", "#2"}),
            AskRendered(dmm.get()));
  Properties scope(0x1000u, "acmescope");
  EXPECT_EQ((Rendered{"Loose +g", "MyScope +g", "Rack1Slot3", "#-1", "#3", "#2"}),
            AskRendered(scope.get()));
  // The device's class text (attribute 3) is not what the filter compares.
  Properties byClass(0x1000u, "DMM");
  EXPECT_EQ((Rendered{"Loose +g", "#-1", "#3", "#2"}), AskRendered(byClass.get()));
}

TEST_F(OpenSessions, TraceOneCountAndOneLinePerReadableSession) {
  hxhost_sessions_add("MyDmm", "Rack1Slot2");
  hxhost_sessions_add("Loose", "nowhere");
  hxhost_sessions_add("NoOrig", nullptr);
  hxhost_sessions_add(nullptr, "nowhere");
  Properties properties;
  Start(properties.get());
  {
    StderrCapture trace;
    AskRendered(properties.get());
    EXPECT_EQ(
        "GetIOControlNamesIVI Open Sessions Count: 4"
        "Session Name: MyDmm, OrigName: Rack1Slot2\n"
        "Session Name: Loose, OrigName: nowhere\n"
        "Session Name: NoOrig, OrigName: \n",
        trace.Text());
  }
  {
    StderrCapture trace;
    hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
    AskRendered(properties.get());
    EXPECT_EQ("GetIOControlNames", trace.Text());
  }
  {
    StderrCapture trace;
    hxhost_sessions_set_status(kOk);
    hxhost_sessions_override_count(1, -2);
    AskRendered(properties.get());
    EXPECT_EQ("GetIOControlNamesIVI Open Sessions Count: -2", trace.Text());
  }
  {
    StderrCapture trace;
    hxhost_sessions_override_count(0, 0);
    hxhost_sessions_set_null_handle(1);
    AskRendered(properties.get());
    EXPECT_EQ("GetIOControlNames", trace.Text());
  }
}

}  // namespace
}  // namespace hxtest

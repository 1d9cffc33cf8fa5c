// The VISA stand-in as the plug-in binds it: search expressions, the
// find-list protocol over a resources file, failure injection and the gate.
// CTest starts it with VISA_STANDIN_RESOURCES naming examples/visa.txt.
#include <dlfcn.h>

#include <cstdlib>

#include <chrono>
#include <cstring>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "temp_devices_file.h"
#include "visa_standin.h"

namespace {

constexpr char kInstruments[] = "?*::INSTR";

class VisaStandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    visa_standin_reset();
    ASSERT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
  }
  void TearDown() override { visa_standin_reset(); }

  void Serve(const std::string &text) {
    file_.Write(text);
    visa_standin_set_resources_file(file_.path().c_str());
  }

  static visa_standin_counters Counters() {
    visa_standin_counters counters{};
    visa_standin_get_counters(&counters);
    return counters;
  }

  ViSession rm_ = 0;
  TempDevicesFile file_;
  ViChar description_[VI_FIND_BUFLEN + 8] = {};
};

using VisaExpressions = VisaStandinTest;
using VisaFindLists = VisaStandinTest;
using VisaControls = VisaStandinTest;

TEST_F(VisaExpressions, MatchWholeNamesInEitherCaseAndRejectMalformedOnes) {
  struct Case {
    const char *pattern, *name;
    ViStatus expected;
  };
  const std::string as(200, 'a');
  const Case cases[] = {
      {kInstruments, "TCPIP0::10.0.0.5::INSTR", VI_SUCCESS},
      {kInstruments, "tcpip0::10.0.0.5::instr", VI_SUCCESS},
      {kInstruments, "TCPIP0::10.0.0.9::5025::SOCKET", VI_ERROR_RSRC_NFOUND},
      {kInstruments, "::INSTR", VI_SUCCESS},  // ? repeated zero times
      {kInstruments, "GPIB0::12::INSTR::0", VI_ERROR_RSRC_NFOUND},
      {"GPIB", "GPIB0::12::INSTR", VI_ERROR_RSRC_NFOUND},
      {"GPIB[0-9]::1+2::INSTR", "GPIB0::112::INSTR", VI_SUCCESS},
      {"GPIB[0-9]::1+2::INSTR", "GPIB0::2::INSTR", VI_ERROR_RSRC_NFOUND},
      {"GPIB0::1*2::INSTR", "GPIB0::2::INSTR", VI_SUCCESS},
      {"[^G]?*", "gpib0::2::INSTR", VI_ERROR_RSRC_NFOUND},
      {"[^G]?*", "ASRL1::INSTR", VI_SUCCESS},
      {"[a-c]SRL[-1]::INSTR", "ASRL-::INSTR", VI_SUCCESS},
      {"ASRL\\?::INSTR", "ASRL1::INSTR", VI_ERROR_RSRC_NFOUND},
      {"ASRL\\?::INSTR", "ASRL?::INSTR", VI_SUCCESS},
      {"?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*b", as.c_str(), VI_ERROR_RSRC_NFOUND},
      {"", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"*::INSTR", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"+::INSTR", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"?**", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"ASRL[0-9::INSTR", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"ASRL[]::INSTR", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"ASRL[^]::INSTR", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"ASRL[9-0]::INSTR", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"ASRL1::INSTR\\", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"ASRL1]::INSTR", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"(ASRL|GPIB)?*", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
      {"?*{VI_ATTR_INTF_NUM==1}", "ASRL1::INSTR", VI_ERROR_INV_EXPR},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
    Serve(std::string(c.name) + "\n");
    ViFindList list = 77;
    ViUInt32 count = 77;
    EXPECT_EQ(viFindRsrc(rm_, c.pattern, &list, &count, description_), c.expected);
    if (c.expected == VI_SUCCESS) {
      EXPECT_STREQ(description_, c.name);
      EXPECT_EQ(viClose(list), VI_SUCCESS);
    } else {
      EXPECT_EQ(count, c.expected == VI_ERROR_RSRC_NFOUND ? 0u : 77u);
    }
  }
  EXPECT_EQ(viFindRsrc(rm_, nullptr, nullptr, nullptr, description_), VI_ERROR_INV_EXPR);
  EXPECT_EQ(Counters().find_lists_open, 0);
}

TEST_F(VisaFindLists, WalkTheExampleInFileOrderAndCloseWithTheirResourceManager) {
  ViFindList list = 0;
  ViUInt32 count = 0;
  ASSERT_EQ(viFindRsrc(rm_, kInstruments, &list, &count, description_), VI_SUCCESS);
  std::vector<std::string> names{description_};
  while (viFindNext(list, description_) == VI_SUCCESS) names.push_back(description_);
  EXPECT_EQ(names,
            (std::vector<std::string>{"TCPIP0::10.0.0.7::INSTR", "GPIB0::12::INSTR", "ASRL1::INSTR",
                                      "GPIB0::2::INSTR", "TCPIP0::10.0.0.5::INSTR",
                                      "VXI0::4::INSTR", "ASRL10::INSTR"}));
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(viFindNext(list, description_), VI_ERROR_RSRC_NFOUND);
  EXPECT_STREQ(description_, "ASRL10::INSTR");

  // A second manager's list keeps the file as it was, and a name cut to fit.
  ViSession rm2 = 0;
  ASSERT_EQ(viOpenDefaultRM(&rm2), VI_SUCCESS);
  const std::string longName(300, 'L');
  Serve("A::INSTR\n" + longName + "::INSTR\n");
  ViFindList list2 = 0;
  ASSERT_EQ(viFindRsrc(rm2, kInstruments, &list2, &count, description_), VI_SUCCESS);
  Serve("C::INSTR\n");
  std::memset(description_, '#', sizeof description_);
  EXPECT_EQ(viFindNext(list2, description_), VI_SUCCESS);
  EXPECT_EQ(std::string(description_), longName.substr(0, VI_FIND_BUFLEN - 1));
  EXPECT_EQ(description_[VI_FIND_BUFLEN], '#');
  const std::set<ViObject> objects{0, rm_, list, rm2, list2};
  EXPECT_EQ(objects.size(), 5u);

  // Objects are checked for their kind; closing a manager closes its lists.
  EXPECT_EQ(viFindRsrc(list, kInstruments, nullptr, nullptr, description_), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viFindNext(rm_, description_), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(rm_), VI_SUCCESS);
  EXPECT_EQ(viFindNext(list, description_), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(list), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(rm_), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viClose(0), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viFindRsrc(rm_, kInstruments, &list, &count, description_), VI_ERROR_INV_OBJECT);
  visa_standin_counters counters = Counters();
  EXPECT_EQ(counters.resource_managers_open, 1);
  EXPECT_EQ(counters.find_lists_open, 1);
  EXPECT_EQ(viClose(list2), VI_SUCCESS);
  EXPECT_EQ(viClose(rm2), VI_SUCCESS);
  counters = Counters();
  EXPECT_EQ(counters.resource_managers_opened, 2);
  EXPECT_EQ(counters.find_lists_opened, 2);
  EXPECT_EQ(counters.find_rsrc_calls, 4);
  EXPECT_EQ(counters.find_next_calls, 11);
  EXPECT_EQ(counters.close_calls, 6);
  EXPECT_EQ(counters.resource_managers_open + counters.find_lists_open, 0);

  // A file that cannot be read: no resources, and an error to read.
  ViSession rm3 = 0;
  ASSERT_EQ(viOpenDefaultRM(&rm3), VI_SUCCESS);
  EXPECT_GT(rm3, *objects.rbegin());  // numbers of closed objects are not reused
  file_.Remove();
  list = 77;
  EXPECT_EQ(viFindRsrc(rm3, kInstruments, &list, &count, description_), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(list, 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_STREQ(description_, "");
  std::string errors(visa_standin_errors(nullptr, 0), '\0');
  visa_standin_errors(&errors[0], errors.size() + 1);
  EXPECT_EQ(errors, "cannot read resources file '" + file_.path() + "': No such file or directory");
}

TEST_F(VisaControls, InjectedFailuresWriteNothingAndHeldCallsReturnOnceReopened) {
  visa_standin_fail_open_default_rm(VI_ERROR_SYSTEM_ERROR);
  ViSession rm = 77;
  EXPECT_EQ(viOpenDefaultRM(&rm), VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(rm, 77u);

  visa_standin_fail_find_next_after(2, VI_ERROR_SYSTEM_ERROR);
  ViFindList list = 0;
  ASSERT_EQ(viFindRsrc(rm_, kInstruments, &list, nullptr, description_), VI_SUCCESS);
  EXPECT_EQ(viFindNext(list, description_), VI_SUCCESS);
  EXPECT_STREQ(description_, "GPIB0::12::INSTR");
  EXPECT_EQ(viFindNext(list, description_), VI_ERROR_SYSTEM_ERROR);
  EXPECT_STREQ(description_, "GPIB0::12::INSTR");
  visa_standin_fail_find_next_after(0, VI_SUCCESS);
  EXPECT_EQ(viFindNext(list, description_), VI_SUCCESS);
  EXPECT_STREQ(description_, "ASRL1::INSTR");

  EXPECT_EQ(viStatusDesc(0, VI_ERROR_RSRC_NFOUND, description_), VI_SUCCESS);
  EXPECT_STREQ(description_, "VI_ERROR_RSRC_NFOUND: no resource matches the expression");
  EXPECT_EQ(viStatusDesc(rm_, 0x12345, description_), VI_WARN_UNKNOWN_STATUS);
  EXPECT_STREQ(description_, "status 0x00012345 is not known to this library");

  // A held call is counted, waits, and returns once the gate opens; other
  // calls are served meanwhile.
  visa_standin_hold_calls(1);
  std::future<ViStatus> held = std::async(std::launch::async, [&] { return viClose(rm_); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (visa_standin_calls_waiting() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_EQ(visa_standin_calls_waiting(), 1);
  EXPECT_EQ(viStatusDesc(0, VI_SUCCESS, description_), VI_SUCCESS);
  EXPECT_EQ(held.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  EXPECT_EQ(Counters().find_lists_open, 1);
  visa_standin_hold_calls(0);
  ASSERT_EQ(held.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(held.get(), VI_SUCCESS);
  const visa_standin_counters counters = Counters();
  EXPECT_EQ(counters.close_calls, 1);
  EXPECT_EQ(counters.open_default_rm_calls, 2);
  EXPECT_EQ(counters.status_desc_calls, 3);
  EXPECT_EQ(counters.resource_managers_open + counters.find_lists_open, 0);

  // The build without viFindNext lacks that entry and only that one.
  void *other = dlopen(VISA_NOFINDNEXT_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(other, nullptr) << dlerror();
  EXPECT_EQ(dlsym(other, "viFindNext"), nullptr);
  for (const char *entry : {"viOpenDefaultRM", "viFindRsrc", "viClose", "viStatusDesc"}) {
    EXPECT_NE(dlsym(other, entry), nullptr) << entry;
  }
  dlclose(other);
}

TEST_F(VisaControls, AHeldOpenStaysInFlightWhileFindsAreServedAndReturnsOnceReleased) {
  visa_standin_hold_opens(1);
  ViSession rm = 0;
  std::future<ViStatus> open = std::async(std::launch::async, [&] { return viOpenDefaultRM(&rm); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (visa_standin_opens_waiting() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(visa_standin_opens_waiting(), 1);
  EXPECT_EQ(visa_standin_calls_waiting(), 0);  // the common gate is not involved

  // Finds, walks and closes on an open resource manager go on meanwhile.
  ViFindList list = 0;
  ViUInt32 count = 0;
  ASSERT_EQ(viFindRsrc(rm_, kInstruments, &list, &count, description_), VI_SUCCESS);
  EXPECT_EQ(viFindNext(list, description_), VI_SUCCESS);
  EXPECT_EQ(viClose(list), VI_SUCCESS);
  EXPECT_EQ(open.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  visa_standin_counters counters = Counters();
  EXPECT_EQ(counters.open_default_rm_calls, 2);
  EXPECT_EQ(counters.resource_managers_opened, 1);

  visa_standin_hold_opens(0);
  ASSERT_EQ(open.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(open.get(), VI_SUCCESS);
  EXPECT_NE(rm, 0u);
  EXPECT_NE(rm, rm_);
  EXPECT_EQ(Counters().resource_managers_open, 2);

  // A reset opens the opens' gate; the open let go finds the state after it.
  visa_standin_hold_opens(1);
  visa_standin_fail_open_default_rm(VI_ERROR_SYSTEM_ERROR);
  open = std::async(std::launch::async, [&] { return viOpenDefaultRM(&rm); });
  while (visa_standin_opens_waiting() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_EQ(visa_standin_opens_waiting(), 1);
  visa_standin_reset();
  ASSERT_EQ(open.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(open.get(), VI_SUCCESS);
  EXPECT_EQ(visa_standin_opens_waiting(), 0);
  counters = Counters();
  EXPECT_EQ(counters.resource_managers_opened, 1);
  EXPECT_EQ(counters.resource_managers_open, 1);
}

TEST(VisaEnvironment, TheOpenDelayIsReadAtLoadAndABadValueIsReported) {
  // A build loaded by path is a library of its own, reading the environment
  // afresh; the one without viFindNext serves as such.
  ASSERT_EQ(setenv("VISA_STANDIN_OPEN_DELAY_MS", "600001", 1), 0);
  void *other = dlopen(VISA_NOFINDNEXT_PATH, RTLD_NOW | RTLD_LOCAL);
  unsetenv("VISA_STANDIN_OPEN_DELAY_MS");
  ASSERT_NE(other, nullptr) << dlerror();
  using Errors = size_t (*)(char *, size_t);
  const auto errors = reinterpret_cast<Errors>(dlsym(other, "visa_standin_errors"));
  ASSERT_NE(errors, nullptr);
  char text[256] = "";
  errors(text, sizeof text);
  EXPECT_STREQ(text,
               "VISA_STANDIN_OPEN_DELAY_MS='600001' is not a number in the allowed range; ignored");
  dlclose(other);
}

}  // namespace

// The VISA stand-in as the plug-in binds it: search expressions, the
// find-list protocol over a resources file, failure injection and the gate;
// and as a client such as PyVISA opens an instrument: resource names,
// sessions, attributes and events.
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
  EXPECT_EQ(viClose(VI_NULL), VI_WARN_NULL_OBJECT);  // the standard's answer, not a failure
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

using VisaResourceNames = VisaStandinTest;
using VisaInstruments = VisaStandinTest;

TEST_F(VisaResourceNames, ParseIntoInterfaceBoardClassAndExpandedName) {
  struct Case {
    const char *name;
    ViStatus expected;
    ViUInt16 type, board;
    const char *resourceClass, *expanded;
  };
  const Case cases[] = {
      {"TCPIP0::10.0.0.5::INSTR", VI_SUCCESS, VI_INTF_TCPIP, 0, "INSTR",
       "TCPIP0::10.0.0.5::inst0::INSTR"},
      {"tcpip::bench3-scope", VI_SUCCESS, VI_INTF_TCPIP, 0, "INSTR",
       "TCPIP0::bench3-scope::inst0::INSTR"},
      {"TCPIP2::10.0.0.5::hislip0::instr", VI_SUCCESS, VI_INTF_TCPIP, 2, "INSTR",
       "TCPIP2::10.0.0.5::hislip0::INSTR"},
      {"TCPIP0::10.0.0.9::5025::SOCKET", VI_SUCCESS, VI_INTF_TCPIP, 0, "SOCKET",
       "TCPIP0::10.0.0.9::5025::SOCKET"},
      {"GPIB0::12::INSTR", VI_SUCCESS, VI_INTF_GPIB, 0, "INSTR", "GPIB0::12::INSTR"},
      {"GPIB1::12::3", VI_SUCCESS, VI_INTF_GPIB, 1, "INSTR", "GPIB1::12::3::INSTR"},
      {"gpib0::intfc", VI_SUCCESS, VI_INTF_GPIB, 0, "INTFC", "GPIB0::INTFC"},
      {"GPIB-VXI3::8", VI_SUCCESS, VI_INTF_GPIB_VXI, 3, "INSTR", "GPIB-VXI3::8::INSTR"},
      {"VXI0::BACKPLANE", VI_SUCCESS, VI_INTF_VXI, 0, "BACKPLANE", "VXI0::BACKPLANE"},
      {"ASRL10::INSTR", VI_SUCCESS, VI_INTF_ASRL, 10, "INSTR", "ASRL10::INSTR"},
      {"ASRL1", VI_SUCCESS, VI_INTF_ASRL, 1, "INSTR", "ASRL1::INSTR"},
      {"PXI0::3-4.1::INSTR", VI_SUCCESS, VI_INTF_PXI, 0, "INSTR", "PXI0::3-4.1::INSTR"},
      {"USB0::0x1234::0x5678::SN7::RAW", VI_SUCCESS, VI_INTF_USB, 0, "RAW",
       "USB0::0x1234::0x5678::SN7::RAW"},
      // Malformed names of known interfaces, and names of none.
      {"GPIB0::twelve::INSTR", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"GPIB0::1::2::3::INSTR", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"GPIB0::INSTR", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"TCPIP0::10.0.0.9::port::SOCKET", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"TCPIP0::::INSTR", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"GPIBX::1::INSTR", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"GPIB70000::1::INSTR", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"USB0::0x1234::0x5678::INSTR", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"Acme::INSTR", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"", VI_ERROR_INV_RSRC_NAME, 0, 0, "", ""},
      {"Bench3.Scope", VI_ERROR_RSRC_NFOUND, 0, 0, "", ""},  // an alias, and the library has none
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ViUInt16 type = 77, board = 77;
    ViChar resourceClass[VI_FIND_BUFLEN], expanded[VI_FIND_BUFLEN], alias[VI_FIND_BUFLEN] = "x";
    EXPECT_EQ(viParseRsrcEx(rm_, c.name, &type, &board, resourceClass, expanded, alias),
              c.expected);
    ViUInt16 shortType = 77, shortBoard = 77;
    EXPECT_EQ(viParseRsrc(rm_, c.name, &shortType, &shortBoard), c.expected);
    if (c.expected != VI_SUCCESS) {
      EXPECT_EQ(type + board + shortType + shortBoard, 4 * 77);
      continue;
    }
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(board, c.board);
    EXPECT_STREQ(resourceClass, c.resourceClass);
    EXPECT_STREQ(expanded, c.expanded);
    EXPECT_STREQ(alias, "");
    EXPECT_EQ(shortType, c.type);
    EXPECT_EQ(shortBoard, c.board);
  }

  ViUInt16 type = 0, board = 0;
  ViChar text[VI_FIND_BUFLEN];
  EXPECT_EQ(viParseRsrc(rm_, nullptr, &type, &board), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(viParseRsrc(rm_, "ASRL1", nullptr, &board), VI_ERROR_USER_BUF);
  EXPECT_EQ(viParseRsrcEx(rm_, "ASRL1", &type, &board, text, nullptr, text), VI_ERROR_USER_BUF);
  EXPECT_EQ(viParseRsrc(rm_ + 1000, "ASRL1", &type, &board), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(Counters().parse_rsrc_calls, 2 * 24 + 4);
}

TEST_F(VisaInstruments, OpenListedResourcesOnlyAndCloseWithTheirResourceManager) {
  ViSession scope = 0, gen = 0;
  // Listed as TCPIP0::10.0.0.5::INSTR: the same resource in another spelling.
  ASSERT_EQ(viOpen(rm_, "tcpip::10.0.0.5::inst0", VI_NO_LOCK, 0, &scope), VI_SUCCESS);
  // PyVISA's spelling of GPIB0::12::INSTR, with secondary address 0.
  ASSERT_EQ(viOpen(rm_, "GPIB0::12::0::INSTR", VI_EXCLUSIVE_LOCK | VI_LOAD_CONFIG, 0, &gen),
            VI_SUCCESS);
  EXPECT_NE(scope, gen);

  ViSession untouched = 77;
  EXPECT_EQ(viOpen(rm_, "TCPIP0::10.0.0.99::INSTR", VI_NO_LOCK, 0, &untouched),
            VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(viOpen(rm_, "Bench3.Scope", VI_NO_LOCK, 0, &untouched), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(viOpen(rm_, "GPIB0::x::INSTR", VI_NO_LOCK, 0, &untouched), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(viOpen(rm_, "GPIB0::12::1::INSTR", VI_NO_LOCK, 0, &untouched), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(viOpen(rm_, "GPIB0::12::INSTR", 3, 0, &untouched), VI_ERROR_INV_ACC_MODE);
  EXPECT_EQ(viOpen(rm_, "GPIB0::12::INSTR", VI_NO_LOCK, 0, nullptr), VI_ERROR_USER_BUF);
  EXPECT_EQ(viOpen(scope, "GPIB0::12::INSTR", VI_NO_LOCK, 0, &untouched), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(untouched, 77u);
  // An instrument session is no resource manager and no find list.
  EXPECT_EQ(viFindRsrc(scope, kInstruments, nullptr, nullptr, description_), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viFindNext(scope, description_), VI_ERROR_INV_OBJECT);

  // No file, no resources.
  visa_standin_set_resources_file(nullptr);
  EXPECT_EQ(viOpen(rm_, "GPIB0::12::INSTR", VI_NO_LOCK, 0, &untouched), VI_ERROR_RSRC_NFOUND);

  visa_standin_counters counters = Counters();
  EXPECT_EQ(counters.open_calls, 10);
  EXPECT_EQ(counters.instruments_opened, 2);
  EXPECT_EQ(counters.instruments_open, 2);
  EXPECT_EQ(counters.resource_managers_open, 1);

  EXPECT_EQ(viClose(scope), VI_SUCCESS);
  EXPECT_EQ(viClose(scope), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(Counters().instruments_open, 1);
  EXPECT_EQ(viClose(rm_), VI_SUCCESS);
  counters = Counters();
  EXPECT_EQ(counters.instruments_open + counters.resource_managers_open, 0);
  EXPECT_EQ(viClose(gen), VI_ERROR_INV_OBJECT);
}

TEST_F(VisaInstruments, AttributesReadTheirTypesAndKeepWhatIsSet) {
  ViSession scope = 0;
  ASSERT_EQ(viOpen(rm_, "TCPIP0::10.0.0.5::INSTR", VI_SHARED_LOCK, 0, &scope), VI_SUCCESS);

  // Each number is written with its type's width and nothing beyond it.
  struct Number {
    ViAttr attribute;
    size_t width;
    uint64_t value;
  };
  const Number numbers[] = {
      {VI_ATTR_INTF_TYPE, 2, VI_INTF_TCPIP},
      {VI_ATTR_INTF_NUM, 2, 0},
      {VI_ATTR_TMO_VALUE, 4, 2000},
      {VI_ATTR_TERMCHAR, 1, '\n'},
      {VI_ATTR_TERMCHAR_EN, 2, VI_FALSE},
      {VI_ATTR_SEND_END_EN, 2, VI_TRUE},
      {VI_ATTR_MAX_QUEUE_LENGTH, 4, 50},
      {VI_ATTR_USER_DATA, 8, 0},
      {VI_ATTR_RSRC_LOCK_STATE, 4, VI_SHARED_LOCK},
  };
  for (const Number &n : numbers) {
    SCOPED_TRACE(n.attribute);
    unsigned char state[16];
    std::memset(state, 0xEE, sizeof state);
    ASSERT_EQ(viGetAttribute(scope, n.attribute, state), VI_SUCCESS);
    uint64_t value = 0;
    std::memcpy(&value, state, n.width);
    EXPECT_EQ(value, n.value);
    EXPECT_EQ(state[n.width], 0xEE);
  }
  ViChar text[VI_FIND_BUFLEN];
  ASSERT_EQ(viGetAttribute(scope, VI_ATTR_RSRC_NAME, text), VI_SUCCESS);
  EXPECT_STREQ(text, "TCPIP0::10.0.0.5::inst0::INSTR");
  ASSERT_EQ(viGetAttribute(scope, VI_ATTR_RSRC_CLASS, text), VI_SUCCESS);
  EXPECT_STREQ(text, "INSTR");
  ASSERT_EQ(viGetAttribute(rm_, VI_ATTR_RSRC_MANF_NAME, text), VI_SUCCESS);
  EXPECT_STREQ(text, "velmora VISA stand-in");

  // Set values stay with their session; a 32-bit attribute reads the low
  // half of the state, as a caller with a 32-bit ViAttrState passes it.
  EXPECT_EQ(viSetAttribute(scope, VI_ATTR_TMO_VALUE, 0xFFFFFFFF00001234u), VI_SUCCESS);
  EXPECT_EQ(viSetAttribute(scope, VI_ATTR_TERMCHAR, '\r'), VI_SUCCESS);
  EXPECT_EQ(viSetAttribute(scope, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
  EXPECT_EQ(viSetAttribute(scope, VI_ATTR_USER_DATA, 0x123456789ABCu), VI_SUCCESS);
  ViUInt32 timeout = 0;
  ViUInt8 termchar = 0;
  ViBoolean enabled = 0;
  ViUInt64 userData = 0;
  EXPECT_EQ(viGetAttribute(scope, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(scope, VI_ATTR_TERMCHAR, &termchar), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(scope, VI_ATTR_TERMCHAR_EN, &enabled), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(scope, VI_ATTR_USER_DATA, &userData), VI_SUCCESS);
  EXPECT_EQ(timeout, 0x1234u);
  EXPECT_EQ(termchar, '\r');
  EXPECT_EQ(enabled, VI_TRUE);
  EXPECT_EQ(userData, 0x123456789ABCu);
  ViSession other = 0;
  ASSERT_EQ(viOpen(rm_, "TCPIP0::10.0.0.5::INSTR", VI_NO_LOCK, 0, &other), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(other, VI_ATTR_TMO_VALUE, &timeout), VI_SUCCESS);
  EXPECT_EQ(timeout, 2000u);

  // Refusals change nothing.
  EXPECT_EQ(viSetAttribute(scope, VI_ATTR_TERMCHAR_EN, 2), VI_ERROR_NSUP_ATTR_STATE);
  EXPECT_EQ(viSetAttribute(scope, VI_ATTR_TERMCHAR, 0x100), VI_ERROR_NSUP_ATTR_STATE);
  EXPECT_EQ(viSetAttribute(scope, VI_ATTR_INTF_NUM, 3), VI_ERROR_ATTR_READONLY);
  EXPECT_EQ(viSetAttribute(scope, VI_ATTR_RSRC_NAME, 0), VI_ERROR_ATTR_READONLY);
  EXPECT_EQ(viSetAttribute(scope, 0x3FFF0199u, 0), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viSetAttribute(rm_, VI_ATTR_TERMCHAR, '\r'), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viGetAttribute(rm_, VI_ATTR_RSRC_NAME, text), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(viGetAttribute(scope, VI_ATTR_TMO_VALUE, nullptr), VI_ERROR_USER_BUF);
  EXPECT_EQ(viGetAttribute(0, VI_ATTR_TMO_VALUE, &timeout), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(viGetAttribute(scope, VI_ATTR_TERMCHAR_EN, &enabled), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(scope, VI_ATTR_TERMCHAR, &termchar), VI_SUCCESS);
  EXPECT_EQ(enabled, VI_TRUE);
  EXPECT_EQ(termchar, '\r');
  ViFindList list = 0;
  ASSERT_EQ(viFindRsrc(rm_, kInstruments, &list, nullptr, description_), VI_SUCCESS);
  EXPECT_EQ(viGetAttribute(list, VI_ATTR_TMO_VALUE, &timeout), VI_ERROR_NSUP_ATTR);
}

TEST_F(VisaInstruments, EventsAreNeverEnabledSoDisablingAndDiscardingSaySo) {
  ViSession scope = 0;
  ASSERT_EQ(viOpen(rm_, "ASRL1::INSTR", VI_NO_LOCK, 0, &scope), VI_SUCCESS);
  EXPECT_EQ(viDisableEvent(scope, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_EVENT_DIS);
  EXPECT_EQ(viDiscardEvents(scope, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_SUCCESS_QUEUE_EMPTY);
  EXPECT_EQ(viDisableEvent(rm_, 0xBFFF200Bu, VI_QUEUE | VI_HNDLR), VI_SUCCESS_EVENT_DIS);
  EXPECT_EQ(viDiscardEvents(scope, 0x3FFF2009u, VI_SUSPEND_HNDLR), VI_SUCCESS_QUEUE_EMPTY);
  EXPECT_EQ(viDisableEvent(scope, 0x3FFF0018u, VI_QUEUE), VI_ERROR_INV_EVENT);
  EXPECT_EQ(viDisableEvent(scope, VI_ALL_ENABLED_EVENTS, 0), VI_ERROR_INV_MECH);
  EXPECT_EQ(viDiscardEvents(scope, VI_ALL_ENABLED_EVENTS, 8), VI_ERROR_INV_MECH);
  EXPECT_EQ(viDiscardEvents(scope + 1000, VI_ALL_ENABLED_EVENTS, VI_ALL_MECH), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(Counters().event_calls, 8);

  ViChar text[VI_FIND_BUFLEN];
  for (ViStatus status :
       {VI_SUCCESS_EVENT_DIS, VI_SUCCESS_QUEUE_EMPTY, VI_WARN_NULL_OBJECT, VI_ERROR_INV_RSRC_NAME,
        VI_ERROR_INV_ACC_MODE, VI_ERROR_NSUP_ATTR, VI_ERROR_NSUP_ATTR_STATE, VI_ERROR_ATTR_READONLY,
        VI_ERROR_INV_EVENT, VI_ERROR_INV_MECH}) {
    EXPECT_EQ(viStatusDesc(scope, status, text), VI_SUCCESS) << status;
  }
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

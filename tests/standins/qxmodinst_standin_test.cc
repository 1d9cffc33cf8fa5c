// The discovery stand-in as the plug-in binds it: sessions over a devices
// file, the string-attribute size protocol, change detection and the
// failure controls.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "qxmodinst_standin.h"
#include "temp_devices_file.h"

namespace {

constexpr int32_t kName = 0;
constexpr int32_t kClass = 3;
constexpr int32_t kPrefix = 4;

const char kTwoDevices[] =
    "Rack1Slot2 | DMM | acmeDmm\n"
    "Rack1Slot3 | Scope | acmeScope\n";

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qxmodinst_standin_reset();
    file_.Write(kTwoDevices);
    qxmodinst_standin_set_devices_file(file_.path().c_str());
  }
  void TearDown() override { qxmodinst_standin_reset(); }

  int32_t Open(int32_t *count = nullptr) {
    int32_t session = 0;
    int32_t devices = -1;
    EXPECT_EQ(qxModInst_OpenInstalledDevicesSession("qxModularInstrument", &session, &devices),
              QXMODINST_SUCCESS);
    if (count != nullptr) *count = devices;
    return session;
  }

  // Reads an attribute the way the plug-in does: ask the size, then read.
  static std::string Read(int32_t session, int32_t index, int32_t attribute) {
    const int32_t size =
        qxModInst_GetInstalledDeviceAttributeViString(session, index, attribute, 0, nullptr);
    if (size <= 0) return "<status " + std::to_string(size) + ">";
    std::string value(static_cast<size_t>(size), '?');
    const int32_t status =
        qxModInst_GetInstalledDeviceAttributeViString(session, index, attribute, size, &value[0]);
    if (status != QXMODINST_SUCCESS) return "<status " + std::to_string(status) + ">";
    value.resize(static_cast<size_t>(size) - 1);
    return value;
  }

  static uint16_t Current(int32_t session) {
    uint16_t current = 77;
    EXPECT_EQ(qxModInst_IsConfigurationCurrent(session, &current), QXMODINST_SUCCESS);
    return current;
  }

  static qxmodinst_standin_counters Counters() {
    qxmodinst_standin_counters counters{};
    qxmodinst_standin_get_counters(&counters);
    return counters;
  }

  static std::string Errors() {
    std::string text(qxmodinst_standin_errors(nullptr, 0), '\0');
    qxmodinst_standin_errors(&text[0], text.size() + 1);
    return text;
  }

  TempDevicesFile file_;
};

using DiscoverySessions = DiscoveryTest;
using DiscoveryAttributes = DiscoveryTest;
using DiscoveryChanges = DiscoveryTest;
using DiscoveryFile = DiscoveryTest;
using DiscoveryControls = DiscoveryTest;

TEST_F(DiscoverySessions, OpenListsTheFilesDevicesWithNameClassAndPrefix) {
  int32_t count = 0;
  const int32_t session = Open(&count);
  EXPECT_GT(session, 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Read(session, 0, kName), "Rack1Slot2");
  EXPECT_EQ(Read(session, 0, kClass), "DMM");
  EXPECT_EQ(Read(session, 0, kPrefix), "acmeDmm");
  EXPECT_EQ(Read(session, 1, kName), "Rack1Slot3");
  EXPECT_EQ(Read(session, 1, kClass), "Scope");
  EXPECT_EQ(Read(session, 1, kPrefix), "acmeScope");
  int32_t index = -1;
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViInt32(session, 1, QXMODINST_ATTR_INDEX, &index),
            QXMODINST_SUCCESS);
  EXPECT_EQ(index, 1);
  const qxmodinst_standin_counters counters = Counters();
  EXPECT_EQ(counters.opens, 1);
  EXPECT_EQ(counters.sessions_outstanding, 1);
  EXPECT_EQ(counters.attribute_reads, 13);
  EXPECT_EQ(qxmodinst_standin_error_count(), 0);
}

TEST_F(DiscoverySessions, EachSessionKeepsTheDevicesItWasOpenedWith) {
  const int32_t older = Open();
  file_.Write(std::string(kTwoDevices) + "Rack1Slot4 | FGen | zetaFgen\n");
  int32_t count = 0;
  const int32_t newer = Open(&count);
  EXPECT_EQ(count, 3);
  EXPECT_GT(newer, 0);
  EXPECT_NE(newer, older);
  EXPECT_EQ(Read(newer, 2, kName), "Rack1Slot4");
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(older, 2, kName, 0, nullptr),
            QXMODINST_ERROR_INVALID_INDEX);

  EXPECT_EQ(qxModInst_CloseInstalledDevicesSession(older), QXMODINST_SUCCESS);
  EXPECT_EQ(qxModInst_CloseInstalledDevicesSession(older), QXMODINST_ERROR_INVALID_SESSION);
  EXPECT_EQ(qxModInst_CloseInstalledDevicesSession(0), QXMODINST_ERROR_INVALID_SESSION);
  EXPECT_EQ(Read(newer, 0, kName), "Rack1Slot2");
  EXPECT_EQ(Read(older, 0, kName),
            "<status " + std::to_string(QXMODINST_ERROR_INVALID_SESSION) + ">");
  const qxmodinst_standin_counters counters = Counters();
  EXPECT_EQ(counters.opens, 2);
  EXPECT_EQ(counters.closes, 3);
  EXPECT_EQ(counters.sessions_outstanding, 1);
}

TEST_F(DiscoverySessions, OpenRefusesOtherDriversAndNullOutputs) {
  int32_t session = 5;
  int32_t count = 6;
  EXPECT_EQ(qxModInst_OpenInstalledDevicesSession("acmeDmm", &session, &count),
            QXMODINST_ERROR_UNKNOWN_DRIVER);
  EXPECT_EQ(qxModInst_OpenInstalledDevicesSession(nullptr, &session, &count),
            QXMODINST_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(qxModInst_OpenInstalledDevicesSession("qxModularInstrument", nullptr, &count),
            QXMODINST_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(qxModInst_OpenInstalledDevicesSession("qxModularInstrument", &session, nullptr),
            QXMODINST_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(session, 5);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(Counters().sessions_outstanding, 0);
}

TEST_F(DiscoveryAttributes, SizeQueryFullReadAndTruncatedReadFollowTheProtocol) {
  const int32_t session = Open();
  char buffer[16];
  // Size 0 with no buffer: the size the value needs.
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 0, nullptr), 11);
  // Size 0 with a buffer: the same answer, nothing written.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 0, buffer), 11);
  EXPECT_EQ(buffer[0], '#');
  // Exactly enough room, and more.
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 11, buffer), 0);
  EXPECT_STREQ(buffer, "Rack1Slot2");
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 16, buffer), 0);
  EXPECT_STREQ(buffer, "Rack1Slot2");
  EXPECT_EQ(buffer[11], '#');
  // Too small: size - 1 bytes and a NUL, and the needed size.
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 4, buffer), 11);
  EXPECT_STREQ(buffer, "Rac");
  EXPECT_EQ(buffer[4], '#');
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 1, buffer), 11);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(buffer[1], 'a');  // left from the previous read
}

TEST_F(DiscoveryAttributes, UnknownSessionIndexOrAttributeAnswersNegativeAndWritesNothing) {
  const int32_t session = Open();
  struct Case {
    int32_t session, index, attribute, size;
    int32_t expected;
  };
  const Case cases[] = {
      {0, 0, kName, 16, QXMODINST_ERROR_INVALID_SESSION},
      {session + 100, 0, kName, 16, QXMODINST_ERROR_INVALID_SESSION},
      {session, -1, kName, 16, QXMODINST_ERROR_INVALID_INDEX},
      {session, 2, kName, 16, QXMODINST_ERROR_INVALID_INDEX},
      {session, 0, 1, 16, QXMODINST_ERROR_INVALID_ATTRIBUTE},
      {session, 0, 2, 0, QXMODINST_ERROR_INVALID_ATTRIBUTE},
      {session, 0, kName, -1, QXMODINST_ERROR_INVALID_ARGUMENT},
  };
  for (const Case &c : cases) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(c.session, c.index, c.attribute, c.size,
                                                            buffer),
              c.expected)
        << c.session << "/" << c.index << "/" << c.attribute << "/" << c.size;
    EXPECT_EQ(buffer[0], '#');
  }
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 16, nullptr),
            QXMODINST_ERROR_INVALID_ARGUMENT);

  int32_t value = 42;
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViInt32(session, 0, kName, &value),
            QXMODINST_ERROR_INVALID_ATTRIBUTE);
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViInt32(session, 5, QXMODINST_ATTR_INDEX, &value),
            QXMODINST_ERROR_INVALID_INDEX);
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViInt32(session, 0, QXMODINST_ATTR_INDEX, nullptr),
            QXMODINST_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(value, 42);
}

TEST_F(DiscoveryChanges, EveryKindOfFileChangeMakesOpenSessionsNotCurrent) {
  struct Change {
    const char *what;
    std::function<void()> apply;
  };
  const timespec start = file_.Modified();
  const Change changes[] = {
      {"modification time, nanoseconds only",
       [&] { file_.SetModified(start.tv_sec, (start.tv_nsec + 1) % 1000000000); }},
      {"size, modification time kept",
       [&] {
         file_.Write(std::string(kTwoDevices) + "# more\n");
         file_.SetModified(start.tv_sec, start.tv_nsec);
       }},
      {"replaced by a file of the same size and time",
       [&] {
         file_.Replace(kTwoDevices);
         file_.SetModified(start.tv_sec, start.tv_nsec);
       }},
      {"removed", [&] { file_.Remove(); }},
      {"another file configured",
       [&] { qxmodinst_standin_set_devices_file((file_.path() + ".other").c_str()); }},
  };
  for (const Change &change : changes) {
    SCOPED_TRACE(change.what);
    file_.Write(kTwoDevices);
    file_.SetModified(start.tv_sec, start.tv_nsec);
    qxmodinst_standin_set_devices_file(file_.path().c_str());
    const int32_t session = Open();
    EXPECT_EQ(Current(session), 1);
    EXPECT_EQ(Current(session), 1);
    change.apply();
    EXPECT_EQ(Current(session), 0);
    // A session opened now sees the new state as current.
    const int32_t reopened = Open();
    EXPECT_EQ(Current(reopened), 1);
  }
}

TEST_F(DiscoveryChanges, CheckOfAnUnknownSessionAnswersNegativeAndWritesNothing) {
  const int32_t session = Open();
  uint16_t current = 77;
  EXPECT_EQ(qxModInst_IsConfigurationCurrent(0, &current), QXMODINST_ERROR_INVALID_SESSION);
  EXPECT_EQ(qxModInst_IsConfigurationCurrent(session + 1, &current),
            QXMODINST_ERROR_INVALID_SESSION);
  EXPECT_EQ(current, 77);
  EXPECT_EQ(qxModInst_IsConfigurationCurrent(session, nullptr), QXMODINST_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(Counters().configuration_checks, 3);
}

TEST_F(DiscoveryFile, MalformedLinesAreLeftOutAndReportedWithTheirLineNumbers) {
  file_.Write(
      "# installed modular instruments\n"
      "  Rack1Slot2 | DMM | acmeDmm  \n"
      "\n"
      "two | fields\n"
      "four | a | b | c\n"
      " | Scope | acmeScope\n"
      "   # indented comment\n"
      "Rack1Slot3|Scope|acmeScope\r\n"
      "Bare | |\n");
  int32_t count = 0;
  const int32_t session = Open(&count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(Read(session, 0, kName), "Rack1Slot2");
  EXPECT_EQ(Read(session, 0, kPrefix), "acmeDmm");
  EXPECT_EQ(Read(session, 1, kName), "Rack1Slot3");
  EXPECT_EQ(Read(session, 1, kPrefix), "acmeScope");
  EXPECT_EQ(Read(session, 2, kName), "Bare");
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 2, kClass, 0, nullptr), 1);
  EXPECT_EQ(qxmodinst_standin_error_count(), 3);
  const std::string &p = file_.path();
  EXPECT_EQ(Errors(), p + ":4: expected 'name | class | prefix', found 2 field(s)\n" + p +
                          ":5: expected 'name | class | prefix', found 4 field(s)\n" + p +
                          ":6: the device name is empty");

  // The errors belong to the latest read.
  file_.Write(kTwoDevices);
  Open();
  EXPECT_EQ(qxmodinst_standin_error_count(), 0);
  EXPECT_EQ(Errors(), "");
}

TEST_F(DiscoveryFile, MissingFileMeansNoDevicesAndAnErrorButNoFileMeansNoDevicesOnly) {
  file_.Remove();
  int32_t count = -1;
  const int32_t session = Open(&count);
  EXPECT_GT(session, 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Errors(), "cannot read devices file '" + file_.path() + "': No such file or directory");

  qxmodinst_standin_set_devices_file(nullptr);
  Open(&count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(qxmodinst_standin_error_count(), 0);
}

TEST_F(DiscoveryFile, ShippedExampleFileListsItsThreeDevices) {
  qxmodinst_standin_set_devices_file(QXMODINST_EXAMPLE_DEVICES);
  int32_t count = 0;
  const int32_t session = Open(&count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(Read(session, 2, kName), "Rack1Slot4");
  EXPECT_EQ(Read(session, 2, kClass), "FGen");
  EXPECT_EQ(Read(session, 2, kPrefix), "zetaFgen");
}

TEST_F(DiscoveryControls, ConfiguredFailuresAnswerTheirStatusAndWriteNothing) {
  const int32_t session = Open();
  qxmodinst_standin_fail_open(-77);
  int32_t newSession = 123;
  int32_t count = 456;
  EXPECT_EQ(qxModInst_OpenInstalledDevicesSession("qxModularInstrument", &newSession, &count), -77);
  EXPECT_EQ(newSession, 123);
  EXPECT_EQ(count, 456);
  qxmodinst_standin_fail_open(0);

  qxmodinst_standin_fail_attribute_reads(-55);
  char buffer[8] = "#######";
  int32_t value = 9;
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 0, nullptr), -55);
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(session, 0, kName, 8, buffer), -55);
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViInt32(session, 0, QXMODINST_ATTR_INDEX, &value),
            -55);
  EXPECT_STREQ(buffer, "#######");
  EXPECT_EQ(value, 9);
  qxmodinst_standin_fail_attribute_reads(0);

  qxmodinst_standin_fail_close(-66);
  EXPECT_EQ(qxModInst_CloseInstalledDevicesSession(session), -66);
  EXPECT_EQ(Read(session, 0, kName), "Rack1Slot2");
  qxmodinst_standin_fail_close(0);
  EXPECT_EQ(qxModInst_CloseInstalledDevicesSession(session), QXMODINST_SUCCESS);

  const qxmodinst_standin_counters counters = Counters();
  EXPECT_EQ(counters.opens, 2);
  EXPECT_EQ(counters.closes, 2);
  EXPECT_EQ(counters.attribute_reads, 5);
  EXPECT_EQ(counters.sessions_outstanding, 0);
}

TEST_F(DiscoveryControls, ZeroSessionOpenSucceedsButRegistersNoSession) {
  qxmodinst_standin_open_gives_zero_session(1);
  int32_t session = 7;
  int32_t count = 0;
  EXPECT_EQ(qxModInst_OpenInstalledDevicesSession("qxModularInstrument", &session, &count),
            QXMODINST_SUCCESS);
  EXPECT_EQ(session, 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Counters().sessions_outstanding, 0);
  EXPECT_EQ(qxModInst_GetInstalledDeviceAttributeViString(0, 0, kName, 0, nullptr),
            QXMODINST_ERROR_INVALID_SESSION);
  EXPECT_EQ(qxModInst_CloseInstalledDevicesSession(0), QXMODINST_ERROR_INVALID_SESSION);
}

TEST_F(DiscoveryControls, DelayedOpenHoldsOnlyTheOpeningThread) {
  const int32_t session = Open();
  qxmodinst_standin_set_open_delay_ms(1500);
  std::atomic<bool> opened{false};
  const auto begin = std::chrono::steady_clock::now();
  std::thread opener([&] {
    Open();
    opened = true;
  });
  while (Counters().opens < 2) std::this_thread::yield();
  // The opener sleeps; other calls are served meanwhile.
  EXPECT_EQ(Current(session), 1);
  EXPECT_EQ(Read(session, 1, kName), "Rack1Slot3");
  EXPECT_FALSE(opened.load());
  opener.join();
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1500));
  EXPECT_EQ(Counters().sessions_outstanding, 2);
}

TEST_F(DiscoveryControls, ResetClosesSessionsZeroesCountersAndClearsControls) {
  const int32_t session = Open();
  qxmodinst_standin_fail_open(-1);
  qxmodinst_standin_fail_close(-1);
  qxmodinst_standin_fail_attribute_reads(-1);
  qxmodinst_standin_open_gives_zero_session(1);
  qxmodinst_standin_reset();
  const qxmodinst_standin_counters counters = Counters();
  EXPECT_EQ(counters.opens, 0);
  EXPECT_EQ(counters.sessions_outstanding, 0);
  EXPECT_EQ(qxModInst_CloseInstalledDevicesSession(session), QXMODINST_ERROR_INVALID_SESSION);
  // The test environment sets no QXMODINST_ variable, so nothing fails now;
  // the devices file setting is gone too.
  int32_t count = -1;
  const int32_t reopened = Open(&count);
  EXPECT_GT(reopened, session);
  EXPECT_EQ(count, 0);
}

}  // namespace

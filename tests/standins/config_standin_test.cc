// The configuration stand-in as the plug-in binds it: the store behind the
// twelve entries, snapshots and the change flag, bad handles, and the gates,
// delays, failures and overlap counts the plug-in's tests steer it with.
// CTest starts it with CONFIG_STANDIN_NAMES naming standins/config/names.example.
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "config_standin.h"
#include "temp_devices_file.h"
#include "velmora/velmora.h"

namespace {

constexpr int32_t kNoSuchItem = kIviIniStoreNoSuchItem;

class ConfigStandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_standin_reset();
    h_ = Open();
  }
  void TearDown() override { config_standin_reset(); }

  static IviIniHandle Open() {
    IviIniHandle h = nullptr;
    EXPECT_EQ(IviIni_OpenIniFile(nullptr, &h), kIviIniSuccess);
    return h;
  }
  static int32_t Count(IviIniHandle h) {
    int32_t count = -77;
    EXPECT_EQ(IviIni_GetNumberOfLogicalNames(h, &count), kIviIniSuccess);
    return count;
  }
  static std::string Nth(IviIniHandle h, int32_t index) {
    const char *name = nullptr;
    const int32_t status = IviIni_GetNthLogicalName(h, index, &name);
    return status == kIviIniSuccess ? name : "<status " + std::to_string(status) + ">";
  }
  static uint8_t Changed(IviIniHandle h) {
    uint8_t changed = 77;
    EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
    return changed;
  }
  // Reads a string entry the way the plug-in does: ask the size, then read.
  template <typename Entry>
  static std::string Read(Entry entry, IviIniHandle h, const char *name) {
    const int32_t size = entry(h, name, nullptr, 0);
    if (size <= 0) return "<status " + std::to_string(size) + ">";
    std::string value(static_cast<size_t>(size), '?');
    const int32_t status = entry(h, name, &value[0], size);
    if (status != kIviIniSuccess) return "<status " + std::to_string(status) + ">";
    value.resize(static_cast<size_t>(size) - 1);
    return value;
  }
  static config_standin_counters Counters() {
    config_standin_counters counters{};
    config_standin_get_counters(&counters);
    return counters;
  }
  static std::string Errors() {
    std::string text(config_standin_errors(nullptr, 0), '\0');
    config_standin_errors(&text[0], text.size() + 1);
    return text;
  }
  // Waits for a state the library reaches (never for a time); the deadline
  // only turns a fault into a failure instead of a hang.
  template <typename Predicate>
  static bool Reaches(Predicate predicate) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!predicate()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }
  template <typename Result>
  static bool Returned(std::future<Result> &call) {
    return call.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  }
  template <typename Result>
  static bool StillRunning(std::future<Result> &call) {
    return call.wait_for(std::chrono::milliseconds(20)) == std::future_status::timeout;
  }

  IviIniHandle h_ = nullptr;
};

using ConfigStore = ConfigStandinTest;
using ConfigStrings = ConfigStandinTest;
using ConfigSnapshots = ConfigStandinTest;
using ConfigHandles = ConfigStandinTest;
using ConfigNames = ConfigStandinTest;
using ConfigGates = ConfigStandinTest;
using ConfigFaults = ConfigStandinTest;
using ConfigOverlaps = ConfigStandinTest;

TEST_F(ConfigStore, ServesTheExampleNamesWithTheirSessionsDriversClassesAndPrefixes) {
  ASSERT_EQ(Count(h_), 4);
  EXPECT_EQ(Nth(h_, 1) + "," + Nth(h_, 2) + "," + Nth(h_, 3) + "," + Nth(h_, 4),
            "Meter7,Scope2,Switch4,Bench");
  EXPECT_EQ(Read(IviIni_GetLogicalNameVI, h_, "Switch4"), "Switch4Session");
  EXPECT_EQ(Read(IviIni_GetVIDriver, h_, "Switch4Session"), "acmeDmm");
  EXPECT_EQ(Read(IviIni_GetDriverPrefix, h_, "acmeDmm"), "acmeDmm");
  EXPECT_EQ(Read(IviIni_GetDriverClass, h_, "acmeDmm"), "IviDmm");
  int32_t classes = -1;
  EXPECT_EQ(IviIni_GetDriverClassCount(h_, "acmeDmm", &classes), kIviIniSuccess);
  EXPECT_EQ(classes, 2);  // Meter7's class, then Switch4's
  char text[32] = "untouched";
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "acmeDmm", 2, text, sizeof text), kIviIniSuccess);
  EXPECT_STREQ(text, "IviSwtch");
  for (int32_t index : {0, 3}) {
    EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "acmeDmm", index, text, sizeof text),
              kIviIniClassIndexOutOfRange);
  }
  EXPECT_STREQ(text, "IviSwtch");

  // A session without a driver has the driver ""; unknown names, a name in
  // another case, and indexes outside 1 .. count are no such item.
  EXPECT_EQ(Read(IviIni_GetVIDriver, h_, "BenchSession"), "");
  for (const char *unknown : {"", "meter7", "Meter7Session", static_cast<const char *>(nullptr)}) {
    EXPECT_EQ(IviIni_GetLogicalNameVI(h_, unknown, text, sizeof text), kNoSuchItem);
    EXPECT_EQ(IviIni_GetDriverPrefix(h_, unknown, text, sizeof text), kNoSuchItem);
    EXPECT_EQ(IviIni_GetDriverClassCount(h_, unknown, &classes), kNoSuchItem);
  }
  EXPECT_EQ(IviIni_GetDriverClass(h_, "Bench", text, sizeof text), kNoSuchItem);
  EXPECT_EQ(Nth(h_, 0), "<status -1320>");
  EXPECT_EQ(Nth(h_, 5), "<status -1320>");

  // The n-th name lives in the handle's buffer until the next n-th call.
  const char *first = nullptr;
  const char *second = nullptr;
  ASSERT_EQ(IviIni_GetNthLogicalName(h_, 1, &first), kIviIniSuccess);
  EXPECT_EQ(Read(IviIni_GetLogicalNameVI, h_, "Scope2"), "Scope2Session");
  EXPECT_STREQ(first, "Meter7");
  ASSERT_EQ(IviIni_GetNthLogicalName(h_, 2, &second), kIviIniSuccess);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "Scope2");

  // A name too long for the buffer is cut, and the answer says its size.
  const std::string longName(600, 'N');
  EXPECT_EQ(config_standin_set_names((longName + " | IviDmm | acmeDmm").c_str()), 0);
  IviIniHandle h = Open();
  EXPECT_EQ(IviIni_GetNthLogicalName(h, 1, &first), 601);
  EXPECT_EQ(std::string(first), longName.substr(0, 511));
  EXPECT_EQ(config_standin_error_count(), 0);
}

TEST_F(ConfigStrings, EveryStringEntryFollowsTheStringReturnRule) {
  using Entry = int32_t (*)(IviIniHandle, const char *, char *, int32_t);
  struct Case {
    Entry entry;
    const char *name, *value;
  };
  const Case entries[] = {
      {IviIni_GetLogicalNameVI, "Scope2", "Scope2Session"},
      {IviIni_GetVIDriver, "Scope2Session", "zetaScope"},
      {IviIni_GetDriverClass, "zetaScope", "IviScope"},
      {IviIni_GetDriverPrefix, "zetaScope", "zetaScope"},
      {[](IviIniHandle h, const char *name, char *buffer, int32_t size) {
         return IviIni_GetDriverClassByIndex(h, name, 1, buffer, size);
       },
       "zetaScope", "IviScope"},
  };
  for (const Case &c : entries) {
    SCOPED_TRACE(c.value);
    const std::string value = c.value;
    const auto needed = static_cast<int32_t>(value.size() + 1);
    struct Size {
      int32_t size, answer;
      std::string written;
    };
    const Size sizes[] = {
        {0, needed, ""},  // nothing written
        {needed, kIviIniSuccess, value + '\0'},
        {needed + 40, kIviIniSuccess, value + '\0'},
        {-1, kIviIniSuccess, value + '\0'},  // the caller vouches for the room
        {4, needed, value.substr(0, 3) + '\0'},
        {1, needed, std::string(1, '\0')},
    };
    for (const Size &s : sizes) {
      char buffer[64];
      std::memset(buffer, '#', sizeof buffer);
      EXPECT_EQ(c.entry(h_, c.name, buffer, s.size), s.answer) << "size " << s.size;
      EXPECT_EQ(std::string(buffer, s.written.size()), s.written) << "size " << s.size;
      EXPECT_EQ(buffer[s.written.size()], '#') << "size " << s.size;
      EXPECT_EQ(c.entry(h_, c.name, nullptr, s.size), s.answer) << "null buffer, size " << s.size;
    }
  }
}

TEST_F(ConfigSnapshots, AHandleKeepsItsStoreUntilReloadedAndSeesEverySetAsAChange) {
  EXPECT_EQ(Changed(h_), 0);
  const char kOne[] = "Meter9 | IviDmm | acmeDmm";
  EXPECT_EQ(config_standin_set_names(kOne), 0);
  EXPECT_EQ(Count(h_), 4);
  EXPECT_EQ(Nth(h_, 1), "Meter7");
  EXPECT_EQ(Changed(h_), 1);

  IviIniHandle newer = Open();
  EXPECT_NE(newer, h_);
  EXPECT_EQ(Count(newer), 1);
  EXPECT_EQ(Changed(newer), 0);
  const IviIniHandle before = h_;
  EXPECT_EQ(IviIni_ReloadConfiguration(h_), kIviIniSuccess);
  EXPECT_EQ(h_, before);
  EXPECT_EQ(Nth(h_, 1), "Meter9");
  EXPECT_EQ(Changed(h_), 0);

  // Setting the same lines again is still a set.
  EXPECT_EQ(config_standin_set_names(kOne), 0);
  EXPECT_EQ(Changed(h_), 1);
  EXPECT_EQ(Changed(newer), 1);
}

TEST_F(ConfigHandles, BadHandlesAnswerMinusThreeAndNullOutputsMinusFourWritingNothing) {
  IviIniHandle closed = Open();
  EXPECT_EQ(IviIni_CloseIniFile(closed, 2), kIviIniSuccess);
  const IviIniHandle madeUp = reinterpret_cast<IviIniHandle>(uintptr_t{0x5EED0000});
  for (IviIniHandle bad : {static_cast<IviIniHandle>(nullptr), closed, madeUp}) {
    int32_t count = 77;
    uint8_t changed = 77;
    const char *name = "untouched";
    char text[16] = "untouched";
    EXPECT_EQ(IviIni_CloseIniFile(bad, 0), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_ConfigurationChanged(bad, &changed), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_ConfigurationChanged(bad, nullptr), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_ReloadConfiguration(bad), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_GetNumberOfLogicalNames(bad, &count), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_GetNthLogicalName(bad, 1, &name), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_GetLogicalNameVI(bad, "Meter7", text, sizeof text), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_GetVIDriver(bad, "Meter7Session", text, 0), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_GetDriverClass(bad, "acmeDmm", text, sizeof text), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_GetDriverClassCount(bad, "acmeDmm", &count), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_GetDriverClassByIndex(bad, "acmeDmm", 1, text, sizeof text),
              kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_GetDriverPrefix(bad, "acmeDmm", text, sizeof text), kIviIniInvalidHandle);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(changed, 77);
    EXPECT_STREQ(name, "untouched");
    EXPECT_STREQ(text, "untouched");
  }

  EXPECT_EQ(IviIni_OpenIniFile("any.ini", nullptr), kIviIniNullPointer);
  EXPECT_EQ(IviIni_ConfigurationChanged(h_, nullptr), kIviIniNullPointer);
  EXPECT_EQ(IviIni_GetNumberOfLogicalNames(h_, nullptr), kIviIniNullPointer);
  EXPECT_EQ(IviIni_GetNthLogicalName(h_, 1, nullptr), kIviIniNullPointer);
  EXPECT_EQ(IviIni_GetDriverClassCount(h_, "acmeDmm", nullptr), kIviIniNullPointer);
  IviIniHandle h = madeUp;
  EXPECT_EQ(IviIni_OpenIniFile(std::string(257, 'p').c_str(), &h), kIviIniPathTooLong);
  EXPECT_EQ(h, madeUp);
  EXPECT_EQ(IviIni_OpenIniFile(std::string(256, 'p').c_str(), &h), kIviIniSuccess);
  EXPECT_NE(h, closed);  // handles are not reused

  config_standin_counters counters = Counters();
  EXPECT_EQ(counters.calls[CONFIG_STANDIN_OPEN_INI_FILE], 5);
  EXPECT_EQ(counters.calls[CONFIG_STANDIN_CLOSE_INI_FILE], 4);
  EXPECT_EQ(counters.handles_opened, 3);
  EXPECT_EQ(counters.handles_closed, 1);
  EXPECT_EQ(counters.closes_with_save, 1);
  EXPECT_EQ(counters.handles_open, 2);

  // A reset closes every handle without counting it.
  config_standin_reset();
  int32_t count = 77;
  EXPECT_EQ(IviIni_GetNumberOfLogicalNames(h, &count), kIviIniInvalidHandle);
  counters = Counters();
  EXPECT_EQ(counters.handles_closed + counters.handles_open, 0);
}

TEST_F(ConfigNames, TextsAndFilesReportWhatTheyLeaveOutAndAResetBringsBackTheEnvironments) {
  EXPECT_EQ(config_standin_set_names("Good | IviDmm | acmeDmm\n"
                                     "  # a comment\n"
                                     "NoBars\n"
                                     " | IviDmm | acmeDmm\n"
                                     "Good | IviScope | zetaScope\n"),
            3);
  EXPECT_EQ(Errors(),
            "config_standin_set_names:3: expected 'name | class | prefix', found 1 field(s)\n"
            "config_standin_set_names:4: the device name is empty\n"
            "config_standin_set_names: the logical name 'Good' is given twice; "
            "the later line is left out");
  EXPECT_EQ(Count(Open()), 1);

  EXPECT_EQ(config_standin_load_names_file("/nonexistent/names.txt"), 1);
  EXPECT_EQ(Errors(), "cannot read names file '/nonexistent/names.txt': No such file or directory");
  EXPECT_EQ(Count(Open()), 0);

  TempDevicesFile file;
  file.Write("Scope9 | IviScope | zetaScope\nMeter1 | IviDmm | acmeDmm\n");
  EXPECT_EQ(config_standin_load_names_file(file.path().c_str()), 0);
  EXPECT_EQ(config_standin_error_count(), 0);
  const IviIniHandle h = Open();
  EXPECT_EQ(Nth(h, 1) + "," + Nth(h, 2), "Scope9,Meter1");
  EXPECT_EQ(config_standin_set_names(nullptr), 0);
  EXPECT_EQ(Count(Open()), 0);

  config_standin_reset();
  EXPECT_EQ(Count(Open()), 4);
}

TEST_F(ConfigGates, AHeldCallWaitsWhileOtherEntriesAndControlsAreServed) {
  config_standin_hold(CONFIG_STANDIN_RELOAD_CONFIGURATION, 1);
  std::future<int32_t> reload =
      std::async(std::launch::async, [&] { return IviIni_ReloadConfiguration(h_); });
  ASSERT_TRUE(Reaches(
      [] { return config_standin_calls_waiting(CONFIG_STANDIN_RELOAD_CONFIGURATION) == 1; }));
  EXPECT_EQ(config_standin_calls_waiting(CONFIG_STANDIN_GET_NUMBER_OF_LOGICAL_NAMES), 0);
  EXPECT_EQ(config_standin_set_names("Meter9 | IviDmm | acmeDmm"), 0);
  EXPECT_EQ(Count(h_), 4);  // another entry is served, and overlaps the held call
  EXPECT_TRUE(StillRunning(reload));
  config_standin_counters counters = Counters();
  EXPECT_EQ(counters.calls_inside, 1);
  EXPECT_EQ(counters.overlaps, 1);
  EXPECT_EQ(counters.deepest_overlap, 1);

  // Once the gate opens the reload goes on and takes the store set meanwhile.
  config_standin_hold(CONFIG_STANDIN_RELOAD_CONFIGURATION, 0);
  ASSERT_TRUE(Returned(reload));
  EXPECT_EQ(reload.get(), kIviIniSuccess);
  EXPECT_EQ(Count(h_), 1);
  EXPECT_EQ(Counters().calls_inside, 0);

  // A reset opens a held gate and ends a delay; the calls find their handle
  // closed.
  config_standin_hold(CONFIG_STANDIN_GET_NUMBER_OF_LOGICAL_NAMES, 1);
  config_standin_set_delay_ms(CONFIG_STANDIN_CONFIGURATION_CHANGED, 600000);
  std::future<int32_t> held = std::async(std::launch::async, [&] {
    int32_t count = 0;
    return IviIni_GetNumberOfLogicalNames(h_, &count);
  });
  std::future<int32_t> delayed = std::async(std::launch::async, [&] {
    uint8_t changed = 0;
    return IviIni_ConfigurationChanged(h_, &changed);
  });
  ASSERT_TRUE(Reaches([] { return Counters().calls_inside == 2; }));
  EXPECT_EQ(config_standin_calls_waiting(CONFIG_STANDIN_GET_NUMBER_OF_LOGICAL_NAMES), 1);
  EXPECT_TRUE(StillRunning(delayed));
  config_standin_reset();
  ASSERT_TRUE(Returned(held));
  ASSERT_TRUE(Returned(delayed));
  EXPECT_EQ(held.get(), kIviIniInvalidHandle);
  EXPECT_EQ(delayed.get(), kIviIniInvalidHandle);
  EXPECT_EQ(Count(Open()), 4);  // neither gate nor delay is left
}

TEST_F(ConfigFaults, InjectedFailuresAnswerTheirStatusForTheirCallsAndWriteNothing) {
  ASSERT_EQ(config_standin_fail(CONFIG_STANDIN_GET_NUMBER_OF_LOGICAL_NAMES, 2, 2, -1302),
            CONFIG_STANDIN_ARMED);
  std::vector<int32_t> answers;
  for (int call = 0; call < 4; ++call) {
    int32_t count = 77;
    answers.push_back(IviIni_GetNumberOfLogicalNames(h_, &count));
    answers.push_back(count);
  }
  EXPECT_EQ(answers, (std::vector<int32_t>{0, 4, -1302, 77, -1302, 77, 0, 4}));

  ASSERT_EQ(config_standin_fail(CONFIG_STANDIN_OPEN_INI_FILE, 1, CONFIG_STANDIN_FAIL_ALWAYS, -1),
            CONFIG_STANDIN_ARMED);
  for (int call = 0; call < 3; ++call) {
    IviIniHandle h = h_;
    EXPECT_EQ(IviIni_OpenIniFile(nullptr, &h), -1);
    EXPECT_EQ(h, h_);
  }
  ASSERT_EQ(config_standin_fail(CONFIG_STANDIN_CLOSE_INI_FILE, 1, 1, -1331), CONFIG_STANDIN_ARMED);
  EXPECT_EQ(IviIni_CloseIniFile(h_, 0), -1331);
  EXPECT_EQ(Count(h_), 4);  // still open
  ASSERT_EQ(config_standin_fail(CONFIG_STANDIN_RELOAD_CONFIGURATION, 1, 1, -1306),
            CONFIG_STANDIN_ARMED);
  EXPECT_EQ(config_standin_set_names(""), 0);
  EXPECT_EQ(IviIni_ReloadConfiguration(h_), -1306);
  EXPECT_EQ(Count(h_), 4);
  EXPECT_EQ(Changed(h_), 1);
  const char *name = "untouched";
  ASSERT_EQ(config_standin_fail(CONFIG_STANDIN_GET_NTH_LOGICAL_NAME, 1, 1, -2),
            CONFIG_STANDIN_ARMED);
  EXPECT_EQ(IviIni_GetNthLogicalName(h_, 1, &name), -2);
  EXPECT_STREQ(name, "untouched");

  // Refused arguments arm nothing; a call's fate is fixed when it is counted.
  const auto unknown = static_cast<config_standin_entry>(CONFIG_STANDIN_ENTRIES);
  EXPECT_EQ(config_standin_fail(unknown, 1, 1, -1), CONFIG_STANDIN_REFUSED);
  EXPECT_EQ(config_standin_fail(CONFIG_STANDIN_GET_VI_DRIVER, 0, 1, -1), CONFIG_STANDIN_REFUSED);
  EXPECT_EQ(config_standin_fail(CONFIG_STANDIN_GET_VI_DRIVER, 1, 0, -1), CONFIG_STANDIN_REFUSED);
  EXPECT_EQ(config_standin_fail(CONFIG_STANDIN_GET_VI_DRIVER, 1, 1, 0), CONFIG_STANDIN_REFUSED);
  EXPECT_EQ(Read(IviIni_GetVIDriver, h_, "Meter7Session"), "acmeDmm");
  config_standin_hold(CONFIG_STANDIN_GET_DRIVER_PREFIX, 1);
  ASSERT_EQ(config_standin_fail(CONFIG_STANDIN_GET_DRIVER_PREFIX, 1, 1, -9), CONFIG_STANDIN_ARMED);
  std::future<int32_t> decided = std::async(
      std::launch::async, [&] { return IviIni_GetDriverPrefix(h_, "acmeDmm", nullptr, 0); });
  ASSERT_TRUE(
      Reaches([] { return config_standin_calls_waiting(CONFIG_STANDIN_GET_DRIVER_PREFIX) == 1; }));
  config_standin_disarm();
  config_standin_hold(CONFIG_STANDIN_GET_DRIVER_PREFIX, 0);
  ASSERT_TRUE(Returned(decided));
  EXPECT_EQ(decided.get(), -9);
  EXPECT_EQ(Read(IviIni_GetDriverPrefix, h_, "acmeDmm"), "acmeDmm");
  const config_standin_counters counters = Counters();
  EXPECT_EQ(counters.failures_injected, 9);
  EXPECT_EQ(counters.handles_opened, 1);
  EXPECT_EQ(counters.calls[CONFIG_STANDIN_GET_NUMBER_OF_LOGICAL_NAMES], 6);
  EXPECT_EQ(counters.calls[CONFIG_STANDIN_GET_DRIVER_PREFIX], 3);
}

TEST_F(ConfigOverlaps, SerialisedCallsFromManyThreadsNeverCountAsOverlaps) {
  std::mutex serialise;
  auto client = [&] {
    for (int round = 0; round < 50; ++round) {
      std::lock_guard<std::mutex> lock(serialise);
      IviIniHandle h = nullptr;
      if (IviIni_OpenIniFile(nullptr, &h) != kIviIniSuccess) return;
      int32_t count = 0;
      IviIni_GetNumberOfLogicalNames(h, &count);
      const char *name = nullptr;
      IviIni_GetNthLogicalName(h, count, &name);
      IviIni_CloseIniFile(h, 0);
    }
  };
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i) clients.emplace_back(client);
  for (std::thread &thread : clients) thread.join();
  const config_standin_counters counters = Counters();
  EXPECT_EQ(counters.calls[CONFIG_STANDIN_GET_NTH_LOGICAL_NAME], 200);
  EXPECT_EQ(counters.handles_closed, 200);
  EXPECT_EQ(counters.overlaps, 0);
  EXPECT_EQ(counters.deepest_overlap, 0);
  EXPECT_EQ(counters.calls_inside, 0);
}

TEST(ConfigExports, TheLibraryExportsEachEntryUnderItsNameAndNoOtherConfigurationFunction) {
  void *library = dlopen(CONFIG_STANDIN_PATH, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr) << dlerror();
  const void *linked[CONFIG_STANDIN_ENTRIES] = {
      reinterpret_cast<void *>(&IviIni_OpenIniFile),
      reinterpret_cast<void *>(&IviIni_CloseIniFile),
      reinterpret_cast<void *>(&IviIni_ConfigurationChanged),
      reinterpret_cast<void *>(&IviIni_ReloadConfiguration),
      reinterpret_cast<void *>(&IviIni_GetNumberOfLogicalNames),
      reinterpret_cast<void *>(&IviIni_GetNthLogicalName),
      reinterpret_cast<void *>(&IviIni_GetLogicalNameVI),
      reinterpret_cast<void *>(&IviIni_GetVIDriver),
      reinterpret_cast<void *>(&IviIni_GetDriverClass),
      reinterpret_cast<void *>(&IviIni_GetDriverClassCount),
      reinterpret_cast<void *>(&IviIni_GetDriverClassByIndex),
      reinterpret_cast<void *>(&IviIni_GetDriverPrefix),
  };
  for (int entry = 0; entry < CONFIG_STANDIN_ENTRIES; ++entry) {
    const char *name = config_standin_entry_name(static_cast<config_standin_entry>(entry));
    ASSERT_NE(name, nullptr) << entry;
    EXPECT_EQ(dlsym(library, name), linked[entry]) << name;
  }
  EXPECT_EQ(config_standin_entry_name(CONFIG_STANDIN_ENTRIES), nullptr);
  for (const char *absent :
       {"IviIni_AddLogicalName", "IviIni_GetNumberOfVIs", "GetIOControlNames"}) {
    EXPECT_EQ(dlsym(library, absent), nullptr) << absent;
  }
  dlclose(library);
}

}  // namespace

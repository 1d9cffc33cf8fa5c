// The plug-in's IviIni_* exports and its binding of the discovery library,
// driven through the built libvelmora_hx.so with the discovery stand-in
// linked into the test program (the plug-in's dlopen finds it by soname).
// Every dlopen of the process passes through the probe, which records the
// name and mode the plug-in asks for.
#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding_dlopen_probe.h"
#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace {

using hxtest::DevicesFile;
using hxtest::LoadPlugin;
using hxtest::Plugin;

constexpr char kLibraryName[] = "libqxmodinst.so";
// RTLD_NOW | RTLD_GLOBAL, the one mode the discovery library is opened with.
constexpr int kLoadMode = 258;
static_assert(kLoadMode == (RTLD_NOW | RTLD_GLOBAL), "dlopen mode bits of this platform");

// A configuration handle the plug-in must pass through without using.
void *const kSomeHandle = reinterpret_cast<void *>(0x5eed);

constexpr int32_t kBindFailed = -1;
constexpr int32_t kFailedClose = -77;
constexpr int32_t kFailedOpen = -55;
constexpr int32_t kFailedRead = -66;

const std::vector<std::string> kThreeDevices = {
    "Rack1Slot2 | DMM   | acmeDmm",
    "Rack1Slot3 | Scope | acmeScope",
    "Rack1Slot4 | FGen  | zetaFgen",
};

qxmodinst_standin_counters Counters() {
  qxmodinst_standin_counters counters{};
  qxmodinst_standin_get_counters(&counters);
  return counters;
}

// A buffer whose every byte starts as a marker, so that a test sees exactly
// which bytes a call wrote.
class MarkedBuffer {
 public:
  explicit MarkedBuffer(size_t size) : bytes_(size, kMark) {}
  char *data() { return bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  bool Untouched() const {
    for (char c : bytes_) {
      if (c != kMark) return false;
    }
    return true;
  }
  // The text before the first NUL; empty when there is none.
  std::string Text() const {
    const void *nul = std::memchr(bytes_.data(), '\0', bytes_.size());
    if (nul == nullptr) return std::string();
    return std::string(bytes_.data(), static_cast<const char *>(nul) - bytes_.data());
  }
  // Bytes after the value's terminating NUL that still hold the marker.
  size_t MarkedTail(size_t valueLength) const {
    size_t count = 0;
    for (size_t i = valueLength + 1; i < bytes_.size(); ++i) count += bytes_[i] == kMark ? 1 : 0;
    return count;
  }

 private:
  static constexpr char kMark = 'Z';
  std::vector<char> bytes_;
};

class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qxmodinst_standin_set_devices_file(devices_.path().c_str());
    plugin_ = &LoadPlugin();
  }

  const Plugin &plugin() const { return *plugin_; }
  DevicesFile &devices() { return devices_; }

  void Bind() {
    void *handle = nullptr;
    ASSERT_EQ(0, plugin().IviIni_OpenIniFile("/tmp/ivi.ini", &handle));
    ASSERT_EQ(1, Counters().sessions_outstanding);
  }

 private:
  DevicesFile devices_{kThreeDevices};
  const Plugin *plugin_ = nullptr;
};

// --- Forwarders --------------------------------------------------------------

const char kSentinelName[] = "sentinel";

// Every output a forwarder could write, each holding a sentinel.
struct ForwarderOutputs {
  int32_t count = 7;
  uint32_t list = 0xA5A5A5A5u;
  const char *name = kSentinelName;
  void *handle = kSomeHandle;
  char buffer[256];
  ForwarderOutputs() { std::memset(buffer, 'Z', sizeof buffer); }
  bool operator==(const ForwarderOutputs &other) const {
    return count == other.count && list == other.list && name == other.name &&
           handle == other.handle && std::memcmp(buffer, other.buffer, sizeof buffer) == 0;
  }
};

struct Forwarder {
  const char *name;
  int32_t (*call)(const Plugin &, ForwarderOutputs &);
};
// Names the case in test lists (and so in the registered test names).
void PrintTo(const Forwarder &c, std::ostream *out) {
  *out << c.name;
}

const Forwarder kForwarders[] = {
    {"OpenIniFile",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_OpenIniFile("/tmp/a.ini", &o.handle);
     }},
    {"CloseIniFile",
     [](const Plugin &p, ForwarderOutputs &) { return p.IviIni_CloseIniFile(kSomeHandle, 1); }},
    {"ReloadConfiguration",
     [](const Plugin &p, ForwarderOutputs &) { return p.IviIni_ReloadConfiguration(kSomeHandle); }},
    {"GetNumberOfLogicalNames",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetNumberOfLogicalNames(kSomeHandle, &o.count);
     }},
    {"GetNthLogicalName",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetNthLogicalName(kSomeHandle, 1, &o.name);
     }},
    {"GetLogicalNameVI",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetLogicalNameVI(kSomeHandle, "DMM1", o.buffer, sizeof o.buffer);
     }},
    {"GetVIDriver",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetVIDriver(kSomeHandle, "DMM1VI", o.buffer, sizeof o.buffer);
     }},
    {"GetDriverClass",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetDriverClass(kSomeHandle, "acmeDmm", o.buffer, sizeof o.buffer);
     }},
    {"GetDriverClassCount",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetDriverClassCount(kSomeHandle, "acmeDmm", &o.count);
     }},
    {"GetDriverClassByIndex",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetDriverClassByIndex(kSomeHandle, "acmeDmm", 0, o.buffer, sizeof o.buffer);
     }},
    {"GetDriverPrefix",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetDriverPrefix(kSomeHandle, "acmeDmm", o.buffer, sizeof o.buffer);
     }},
    {"GetNumberOfVisaNames",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetNumberOfVisaNames(&o.count, o.buffer, &o.list);
     }},
    {"GetNextVisaName",
     [](const Plugin &p, ForwarderOutputs &o) {
       return p.IviIni_GetNextVisaName(o.list, o.buffer);
     }},
    {"CloseVisaNameList",
     [](const Plugin &p, ForwarderOutputs &o) { return p.IviIni_CloseVisaNameList(o.list); }},
};

class ForwarderTest : public BindingTest, public ::testing::WithParamInterface<Forwarder> {};

// No configuration or VISA library is bound here, so each forwarder stops
// after its binding step: it answers 0 and writes none of its outputs, also
// while the discovery library is bound.
TEST_P(ForwarderTest, AnswersZeroAndWritesNoOutput) {
  for (const bool bound : {false, true}) {
    if (bound) Bind();
    ForwarderOutputs outputs;
    EXPECT_EQ(0, GetParam().call(plugin(), outputs)) << "discovery bound: " << bound;
    EXPECT_TRUE(outputs == ForwarderOutputs()) << "discovery bound: " << bound;
  }
}

INSTANTIATE_TEST_SUITE_P(Exports, ForwarderTest, ::testing::ValuesIn(kForwarders));

// --- Binding: IviIni_OpenIniFile and the loader's mode -----------------------

TEST_F(BindingTest, OpenIniFileBindsAndOpensOneSession) {
  void *handle = &handle;
  EXPECT_EQ(0, plugin().IviIni_OpenIniFile("/tmp/ivi.ini", &handle));
  EXPECT_EQ(&handle, handle);  // no configuration library writes it
  const auto counters = Counters();
  EXPECT_EQ(1, counters.opens);
  EXPECT_EQ(1, counters.sessions_outstanding);
  EXPECT_EQ(0, counters.closes);
}

TEST_F(BindingTest, LoadsDiscoveryLibraryWithModeNowGlobal) {
  Bind();
  const auto loads = bindtest::DlopenCallsNaming(kLibraryName);
  ASSERT_EQ(1u, loads.size());
  EXPECT_EQ(kLoadMode, loads[0].mode);
  EXPECT_TRUE(loads[0].loaded);
}

// With a session open the binding answers at once: the library is loaded
// and the session opened once however many exports bind.
TEST_F(BindingTest, BindingWithSessionOpenLoadsOnce) {
  Bind();
  Bind();
  MarkedBuffer buffer(64);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentName(nullptr, 0, buffer.data()));
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentClass(nullptr, 0, buffer.data()));
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentPrefix(nullptr, 0, buffer.data()));
  uint8_t changed = 9;
  EXPECT_EQ(0, plugin().IviIni_ConfigurationChanged(nullptr, &changed));

  EXPECT_EQ(1u, bindtest::DlopenCallsNaming(kLibraryName).size());
  EXPECT_EQ(1, Counters().opens);
}

// After the session closes, the next binding loads and looks up afresh,
// with the same mode, and opens a new session.
TEST_F(BindingTest, BindingAfterCloseLoadsAgainWithSameMode) {
  Bind();
  ASSERT_EQ(0, plugin().IviIni_CloseIniFile(nullptr, 0));
  Bind();
  const auto loads = bindtest::DlopenCallsNaming(kLibraryName);
  ASSERT_EQ(2u, loads.size());
  for (const auto &load : loads) {
    EXPECT_EQ(kLoadMode, load.mode);
    EXPECT_TRUE(load.loaded);
  }
  EXPECT_EQ(2, Counters().opens);
}

// --- IviIni_GetNumberOfModularInstruments -----------------------------------

TEST_F(BindingTest, InstrumentCountBeforeBindingAnswersZeroWithoutWritingOrBinding) {
  int32_t count = 7777;
  EXPECT_EQ(0, plugin().IviIni_GetNumberOfModularInstruments(kSomeHandle, &count));
  EXPECT_EQ(7777, count);
  EXPECT_EQ(0, Counters().opens);
  EXPECT_TRUE(bindtest::DlopenCallsNaming(kLibraryName).empty());
}

TEST_F(BindingTest, InstrumentCountReopensSessionAndWritesDeviceCount) {
  Bind();
  int32_t count = 7777;
  EXPECT_EQ(0, plugin().IviIni_GetNumberOfModularInstruments(kSomeHandle, &count));
  EXPECT_EQ(3, count);
  auto counters = Counters();
  EXPECT_EQ(2, counters.opens);
  EXPECT_EQ(1, counters.closes);
  EXPECT_EQ(1, counters.sessions_outstanding);

  // The fresh session sees the devices installed now.
  devices().Write({"Rack2Slot1 | DMM | acmeDmm"});
  EXPECT_EQ(0, plugin().IviIni_GetNumberOfModularInstruments(kSomeHandle, &count));
  EXPECT_EQ(1, count);
  MarkedBuffer name(64);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentName(nullptr, 0, name.data()));
  EXPECT_EQ("Rack2Slot1", name.Text());
  counters = Counters();
  EXPECT_EQ(3, counters.opens);
  EXPECT_EQ(1, counters.sessions_outstanding);
}

TEST_F(BindingTest, InstrumentCountWithFailingCloseAnswersCloseStatusAndKeepsSession) {
  Bind();
  qxmodinst_standin_fail_close(kFailedClose);
  int32_t count = 7777;
  EXPECT_EQ(kFailedClose, plugin().IviIni_GetNumberOfModularInstruments(kSomeHandle, &count));
  EXPECT_EQ(7777, count);
  qxmodinst_standin_fail_close(0);

  // The old session is still the plug-in's: reads use it without a new open.
  MarkedBuffer deviceClass(64);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentClass(nullptr, 1, deviceClass.data()));
  EXPECT_EQ("Scope", deviceClass.Text());
  EXPECT_EQ(1, Counters().opens);

  EXPECT_EQ(0, plugin().IviIni_GetNumberOfModularInstruments(kSomeHandle, &count));
  EXPECT_EQ(3, count);
  const auto counters = Counters();
  EXPECT_EQ(2, counters.opens);
  EXPECT_EQ(2, counters.closes);
  EXPECT_EQ(1, counters.sessions_outstanding);
}

TEST_F(BindingTest, InstrumentCountWithFailingOpenAnswersOpenStatusAndLeavesNoSession) {
  Bind();
  qxmodinst_standin_fail_open(kFailedOpen);
  int32_t count = 7777;
  EXPECT_EQ(kFailedOpen, plugin().IviIni_GetNumberOfModularInstruments(kSomeHandle, &count));
  EXPECT_EQ(7777, count);
  EXPECT_EQ(0, Counters().sessions_outstanding);
  qxmodinst_standin_fail_open(0);

  // No session now: the count is not asked for, and the next binding opens.
  EXPECT_EQ(0, plugin().IviIni_GetNumberOfModularInstruments(kSomeHandle, &count));
  EXPECT_EQ(7777, count);
  EXPECT_EQ(2, Counters().opens);
  MarkedBuffer name(64);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentName(nullptr, 2, name.data()));
  EXPECT_EQ("Rack1Slot4", name.Text());
  EXPECT_EQ(3, Counters().opens);
  EXPECT_EQ(1, Counters().sessions_outstanding);
}

// --- Device attributes -------------------------------------------------------

struct AttributeCase {
  const char *name;
  int32_t (*call)(const Plugin &, uint32_t, char *);
  uint32_t index;
  const char *expected;
};
// Names the case in test lists (and so in the registered test names).
void PrintTo(const AttributeCase &c, std::ostream *out) {
  *out << c.name;
}

const AttributeCase kAttributeCases[] = {
    {"NameOfFirstDevice",
     [](const Plugin &p, uint32_t i, char *b) {
       return p.IviIni_GetModularInstrumentName(nullptr, i, b);
     },
     0, "Rack1Slot2"},
    {"ClassOfSecondDevice",
     [](const Plugin &p, uint32_t i, char *b) {
       return p.IviIni_GetModularInstrumentClass(nullptr, i, b);
     },
     1, "Scope"},
    {"PrefixOfThirdDevice",
     [](const Plugin &p, uint32_t i, char *b) {
       return p.IviIni_GetModularInstrumentPrefix(nullptr, i, b);
     },
     2, "zetaFgen"},
};

class AttributeTest : public BindingTest, public ::testing::WithParamInterface<AttributeCase> {};

// The attribute exports bind the library themselves and read the value
// whole; the library writes the value and its NUL and nothing after it.
TEST_P(AttributeTest, BindsAndReadsValueWhole) {
  const AttributeCase &c = GetParam();
  MarkedBuffer buffer(64);
  EXPECT_EQ(0, c.call(plugin(), c.index, buffer.data()));
  EXPECT_EQ(c.expected, buffer.Text());
  EXPECT_EQ(buffer.size() - std::strlen(c.expected) - 1,
            buffer.MarkedTail(std::strlen(c.expected)));
  EXPECT_EQ(1, Counters().opens);
  EXPECT_EQ(1, Counters().sessions_outstanding);
}

INSTANTIATE_TEST_SUITE_P(Exports, AttributeTest, ::testing::ValuesIn(kAttributeCases));

// Class answers the library's status of the read; name and prefix answer
// the binding's 0 whatever the library answered.
TEST_F(BindingTest, FailedReadIsAnsweredByClassOnly) {
  Bind();
  qxmodinst_standin_fail_attribute_reads(kFailedRead);
  MarkedBuffer name(64), deviceClass(64), prefix(64);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentName(nullptr, 0, name.data()));
  EXPECT_EQ(kFailedRead, plugin().IviIni_GetModularInstrumentClass(nullptr, 0, deviceClass.data()));
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentPrefix(nullptr, 0, prefix.data()));
  EXPECT_TRUE(name.Untouched());
  EXPECT_TRUE(deviceClass.Untouched());
  EXPECT_TRUE(prefix.Untouched());
}

TEST_F(BindingTest, IndexPastLastDeviceIsAnsweredByClassOnly) {
  Bind();
  MarkedBuffer name(64), deviceClass(64), prefix(64);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentName(nullptr, 3, name.data()));
  EXPECT_EQ(QXMODINST_ERROR_INVALID_INDEX,
            plugin().IviIni_GetModularInstrumentClass(nullptr, 3, deviceClass.data()));
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentPrefix(nullptr, 3, prefix.data()));
  EXPECT_TRUE(name.Untouched());
  EXPECT_TRUE(deviceClass.Untouched());
  EXPECT_TRUE(prefix.Untouched());
}

// The exports take no buffer size: a value longer than any fixed buffer
// arrives whole in a buffer that holds it, and nothing is written or read
// beyond the value's NUL (a buffer of exactly that size is heap-checked).
TEST_F(BindingTest, ValueLongerThan256CharactersArrivesWhole) {
  const std::string longName(300, 'N');
  const std::string longClass = "Class" + std::string(400, 'c');
  const std::string longPrefix = std::string(257, 'p');
  devices().Write({longName + " | " + longClass + " | " + longPrefix});

  std::vector<char> exact(longName.size() + 1, 'Z');
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentName(nullptr, 0, exact.data()));
  EXPECT_EQ(longName, std::string(exact.data()));

  MarkedBuffer roomy(1024);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentClass(nullptr, 0, roomy.data()));
  EXPECT_EQ(longClass, roomy.Text());
  EXPECT_EQ(roomy.size() - longClass.size() - 1, roomy.MarkedTail(longClass.size()));

  std::vector<char> prefix(longPrefix.size() + 1, 'Z');
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentPrefix(nullptr, 0, prefix.data()));
  EXPECT_EQ(longPrefix, std::string(prefix.data()));
}

// A library that opens with session 0 leaves the plug-in without a session:
// every attribute call binds again and passes on what the library answers
// for session 0, and the count is never asked for.
TEST_F(BindingTest, OpenGivingSessionZeroPassesOnLibraryAnswers) {
  qxmodinst_standin_open_gives_zero_session(1);
  void *handle = nullptr;
  EXPECT_EQ(0, plugin().IviIni_OpenIniFile(nullptr, &handle));
  EXPECT_EQ(1, Counters().opens);

  int32_t count = 7777;
  EXPECT_EQ(0, plugin().IviIni_GetNumberOfModularInstruments(nullptr, &count));
  EXPECT_EQ(7777, count);

  MarkedBuffer name(64), deviceClass(64);
  EXPECT_EQ(QXMODINST_ERROR_INVALID_SESSION,
            plugin().IviIni_GetModularInstrumentClass(nullptr, 0, deviceClass.data()));
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentName(nullptr, 0, name.data()));
  EXPECT_TRUE(deviceClass.Untouched());
  EXPECT_TRUE(name.Untouched());
  EXPECT_EQ(3, Counters().opens);

  // Asked for session 0, the library writes no flag: nothing reads as changed.
  uint8_t changed = 9;
  EXPECT_EQ(0, plugin().IviIni_ConfigurationChanged(nullptr, &changed));
  EXPECT_EQ(0, changed);
  EXPECT_EQ(1, Counters().configuration_checks);
}

// --- IviIni_ConfigurationChanged ----------------------------------------------

TEST_F(BindingTest, ConfigurationChangedBindsAndWritesZeroWhileDevicesCurrent) {
  uint8_t changed = 9;
  EXPECT_EQ(0, plugin().IviIni_ConfigurationChanged(kSomeHandle, &changed));
  EXPECT_EQ(0, changed);
  const auto counters = Counters();
  EXPECT_EQ(1, counters.opens);
  EXPECT_EQ(1, counters.configuration_checks);
}

TEST_F(BindingTest, ConfigurationChangedWritesOneOnceDevicesFileRewritten) {
  Bind();
  devices().Write({"Rack9Slot1 | DMM | acmeDmm"});
  uint8_t changed = 9;
  EXPECT_EQ(0, plugin().IviIni_ConfigurationChanged(kSomeHandle, &changed));
  EXPECT_EQ(1, changed);
  changed = 9;
  EXPECT_EQ(0, plugin().IviIni_ConfigurationChanged(kSomeHandle, &changed));
  EXPECT_EQ(1, changed);

  // Reopening the session takes the new state as the current one.
  int32_t count = 0;
  ASSERT_EQ(0, plugin().IviIni_GetNumberOfModularInstruments(kSomeHandle, &count));
  EXPECT_EQ(1, count);
  changed = 9;
  EXPECT_EQ(0, plugin().IviIni_ConfigurationChanged(kSomeHandle, &changed));
  EXPECT_EQ(0, changed);
}

// --- Closing: IviIni_CloseIniFile and ReleasingAppRef --------------------------

TEST_F(BindingTest, CloseIniFileClosesSessionAndNextBindingOpensNewOne) {
  Bind();
  EXPECT_EQ(0, plugin().IviIni_CloseIniFile(kSomeHandle, 0));
  auto counters = Counters();
  EXPECT_EQ(1, counters.closes);
  EXPECT_EQ(0, counters.sessions_outstanding);

  // Without a session the count is not asked for.
  int32_t count = 7777;
  EXPECT_EQ(0, plugin().IviIni_GetNumberOfModularInstruments(nullptr, &count));
  EXPECT_EQ(7777, count);

  MarkedBuffer prefix(64);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentPrefix(nullptr, 0, prefix.data()));
  EXPECT_EQ("acmeDmm", prefix.Text());
  counters = Counters();
  EXPECT_EQ(2, counters.opens);
  EXPECT_EQ(1, counters.sessions_outstanding);
}

TEST_F(BindingTest, CloseIniFileWithoutSessionAnswersZeroAndClosesNothing) {
  EXPECT_EQ(0, plugin().IviIni_CloseIniFile(kSomeHandle, 1));
  EXPECT_EQ(0, Counters().closes);
}

// A failed close is dropped here: the session is forgotten all the same and
// the next binding opens a new one.
TEST_F(BindingTest, CloseIniFileForgetsSessionEvenWhenCloseFails) {
  Bind();
  qxmodinst_standin_fail_close(kFailedClose);
  EXPECT_EQ(0, plugin().IviIni_CloseIniFile(kSomeHandle, 0));
  qxmodinst_standin_fail_close(0);
  EXPECT_EQ(1, Counters().closes);

  void *handle = nullptr;
  EXPECT_EQ(0, plugin().IviIni_OpenIniFile(nullptr, &handle));
  const auto counters = Counters();
  EXPECT_EQ(2, counters.opens);
  EXPECT_EQ(2, counters.sessions_outstanding);  // the library kept the old one
}

TEST_F(BindingTest, ReleasingAppRefClosesSessionOnceAndSecondCallDoesNothing) {
  Bind();
  EXPECT_EQ(0, plugin().ReleasingAppRef(nullptr));
  auto counters = Counters();
  EXPECT_EQ(1, counters.closes);
  EXPECT_EQ(0, counters.sessions_outstanding);

  EXPECT_EQ(0, plugin().ReleasingAppRef(nullptr));
  EXPECT_EQ(1, Counters().closes);

  // The next call that binds opens a new session.
  MarkedBuffer name(64);
  EXPECT_EQ(0, plugin().IviIni_GetModularInstrumentName(nullptr, 1, name.data()));
  EXPECT_EQ("Rack1Slot3", name.Text());
  counters = Counters();
  EXPECT_EQ(2, counters.opens);
  EXPECT_EQ(1, counters.sessions_outstanding);
}

TEST_F(BindingTest, ReleasingAppRefWithoutSessionAnswersZeroAndChangesNothing) {
  EXPECT_EQ(0, plugin().ReleasingAppRef(reinterpret_cast<void *>(0x1)));
  const auto counters = Counters();
  EXPECT_EQ(0, counters.opens);
  EXPECT_EQ(0, counters.closes);
  EXPECT_TRUE(bindtest::DlopenCallsNaming(kLibraryName).empty());
}

}  // namespace

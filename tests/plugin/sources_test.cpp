// Every source of the control on its own: the discovery library, the
// configuration library and the VISA library, each slow, failing or
// released at the worst moment, with the other two working. Held gates of
// the stand-ins stand for slow calls: a call that must not wait is checked
// to return while the gate is still shut, and nothing here counts rounds or
// times a thread.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config_standin.h"
#include "plugin_harness.h"
#include "qxmodinst_standin.h"
#include "visa_standin.h"

namespace hxtest {
namespace {

constexpr const char *kConfigVariable = "VELMORA_HX_CONFIG_LIBRARY";
constexpr const char *kVisaVariable = "VELMORA_HX_VISA_LIBRARY";
constexpr const char *kExpressionVariable = "VELMORA_HX_VISA_EXPRESSION";

const std::string kScope = "Bench3.Scope";
const std::string kMeter = "Meter7";
const std::string kDevice = "Rack1Slot2";
const std::string kResource = "TCPIP0::10.0.0.5::INSTR";

// All three sources listed; the store and discovery alone, with one logical
// name and with two.
const Rendered kAll = {kScope, kDevice, "#-1", kResource, "#-1", "#3", "#2"};
const Rendered kOneName = {kScope, kDevice, "#-1", "#3", "#2"};
const Rendered kTwoNames = {kScope, kMeter, kDevice, "#-1", "#3", "#2"};

config_standin_counters Config() {
  config_standin_counters counters{};
  config_standin_get_counters(&counters);
  return counters;
}

visa_standin_counters Visa() {
  visa_standin_counters counters{};
  visa_standin_get_counters(&counters);
  return counters;
}

bool Has(const Rendered &shown, const std::string &entry) {
  return std::find(shown.begin(), shown.end(), entry) != shown.end();
}

// A call on a thread of its own, and whether it returns while a gate is shut.
template <class Call>
auto Aside(Call call) {
  return std::async(std::launch::async, std::move(call));
}
template <class T>
bool ReturnsMeanwhile(std::future<T> &call) {
  return call.wait_for(kPatience) == std::future_status::ready;
}

// A stand-in's gate, shut for the object's life (or until Open), so that a
// failing assertion never leaves a thread stuck behind it. The futures of
// calls made while it is shut are declared before it, so that they are
// joined after it opens.
class Held {
 public:
  Held(std::function<void(int)> hold) : hold_(std::move(hold)) { hold_(1); }
  ~Held() { Open(); }
  Held(const Held &) = delete;
  Held &operator=(const Held &) = delete;
  void Open() {
    if (hold_) std::exchange(hold_, nullptr)(0);
  }

 private:
  std::function<void(int)> hold_;
};

Held HeldConfig(config_standin_entry entry) {
  return Held([entry](int hold) { config_standin_hold(entry, hold); });
}

class Sources : public testing::Test {
 protected:
  void SetUp() override {
    qxmodinst_standin_set_devices_file(devices_.path().c_str());
    visa_standin_set_resources_file(resources_.path().c_str());
    ASSERT_EQ(0, config_standin_set_names((kScope + " | IviScope | acmeScope\n").c_str()));
  }
  // Names both opt-in libraries (or the one given) the way a host user does.
  void NameLibraries(const char *config = CONFIG_STANDIN_PATH,
                     const char *visa = VISA_STANDIN_PATH) {
    if (config != nullptr) setenv(kConfigVariable, config, 1);
    if (visa != nullptr) setenv(kVisaVariable, visa, 1);
  }
  Rendered Ask(uint32_t mode) { return RequestRendered(plugin_, properties_.get(), mode); }
  Rendered Settled() { return TakeList(RequestUntilSettled(plugin_, properties_.get())); }
  // The store's library alone, bound and listed; then a second logical name
  // added to the store.
  void BindStoreAlone() {
    NameLibraries(CONFIG_STANDIN_PATH, nullptr);
    EXPECT_EQ(kOneName, BindAndSettle(plugin_, properties_.get()));
  }
  static void AddMeter() {
    const std::string names =
        kScope + " | IviScope | acmeScope\n" + kMeter + " | IviDmm | acmeDmm\n";
    ASSERT_EQ(0, config_standin_set_names(names.c_str()));
  }

  DevicesFile devices_{{kDevice + " | DMM | acmeDmm"}};
  DevicesFile resources_{{kResource}};
  const Plugin &plugin_ = LoadPlugin();
  Properties properties_;
};

// A release that comes while the loader is still binding the discovery
// library closes what was open then; it must not cost a source for good.
// The store and the VISA resources show on later requests (the discovery
// session stays closed until an export binds the library again).
TEST_F(Sources, AReleaseWhileTheLoaderBindsLosesNoSource) {
  NameLibraries();
  std::future<int32_t> release;  // joined after the gate opens, even on a failure
  {
    Held loader([](int hold) { qxmodinst_standin_hold_session_calls(hold); });
    RequestRendered(plugin_, properties_.get(), kModeFull, kBinding);
    ASSERT_TRUE(WaitUntil([] { return qxmodinst_standin_session_calls_waiting() == 1; },
                          "the loader inside the discovery library"));
    release = Aside([&] { return plugin_.ReleasingAppRef(nullptr); });
    ASSERT_TRUE(ReturnsMeanwhile(release));
    EXPECT_EQ(0, release.get());
  }
  HxHandle first = nullptr;
  ASSERT_EQ(kOk, RequestUntilBound(plugin_, &first, properties_.get(), kModeFull));
  TakeList(first);
  EXPECT_EQ((Rendered{kScope, "#-1", kResource, "#-1", "#3", "#2"}), Settled());
  EXPECT_EQ(0, Discovery().sessions_outstanding);
}

// A resource manager that takes as long as the test likes to open holds up
// neither the binding nor the other two sources: the instruments and the
// logical names show while the open is still in flight, and the resources
// once it is over.
TEST_F(Sources, ASlowVisaResourceManagerHoldsUpNothingElse) {
  NameLibraries();
  Held opens([](int hold) { visa_standin_hold_opens(hold); });
  HxHandle first = nullptr;
  ASSERT_EQ(kOk, RequestUntilBound(plugin_, &first, properties_.get(), kModeFull));
  TakeList(first);
  ASSERT_TRUE(WaitUntil(
      [&] {
        const Rendered shown = Ask(kModeCached);
        return Has(shown, kScope) && Has(shown, kDevice);
      },
      "the instruments and the logical names, with the VISA open in flight"));
  ASSERT_TRUE(WaitUntil([] { return visa_standin_opens_waiting() == 1; },
                        "the VISA worker opening a resource manager"));
  EXPECT_EQ((Rendered{kScope, kDevice, "#6", kMarker, "#-1", "#3", "#2"}), Ask(kModeChanged));
  opens.Open();
  EXPECT_EQ(kAll, Settled());
}

// The change test answers for the store and the devices and never binds,
// opens or waits for VISA: not while the VISA worker opens a resource
// manager, and not after a release closed it.
TEST_F(Sources, TheChangeTestNeverWaitsForNorReopensVisa) {
  NameLibraries();
  // The VISA listing stays fresh for the whole case, whatever the machine's speed.
  FreezeFakeClock();
  EXPECT_EQ(kAll, BindAndSettle(plugin_, properties_.get()));
  EXPECT_EQ(0, plugin_.ReleasingAppRef(nullptr));
  const int64_t opened = Visa().resource_managers_opened;
  uint8_t changed = 9;
  EXPECT_EQ(0, plugin_.IviIni_ConfigurationChanged(nullptr, &changed));
  EXPECT_EQ(0, changed);
  EXPECT_EQ(opened, Visa().resource_managers_opened) << "the change test reopened VISA";
  EXPECT_EQ(0, Visa().resource_managers_open);

  std::future<int32_t> test;
  Held opens([](int hold) { visa_standin_hold_opens(hold); });
  Ask(kModeFull);
  ASSERT_TRUE(WaitUntil([] { return visa_standin_opens_waiting() == 1; },
                        "the VISA worker opening a resource manager"));
  test = Aside([&] { return plugin_.IviIni_ConfigurationChanged(nullptr, &changed); });
  EXPECT_TRUE(ReturnsMeanwhile(test)) << "the change test waited for VISA";
  opens.Open();
  EXPECT_EQ(0, test.get());
}

// One request's slow reload holds up no other request, whatever its mode:
// the busy store is shown as it was, and the next refreshing request, in
// mode 0 too, makes the refresh it owes.
TEST_F(Sources, ARequestNeverWaitsForAnotherRequestsReload) {
  BindStoreAlone();
  AddMeter();
  std::future<Rendered> full, other;
  Held reloads = HeldConfig(CONFIG_STANDIN_RELOAD_CONFIGURATION);
  full = Aside([&] { return Ask(kModeFull); });
  ASSERT_TRUE(WaitUntil(
      [] { return config_standin_calls_waiting(CONFIG_STANDIN_RELOAD_CONFIGURATION) == 1; },
      "a full refresh inside the reload"));
  // The other requests find the store busy: it shows as it was. Mode 1
  // restarts discovery too, whose list may then be left out.
  for (const uint32_t mode : {kModeCached, kModeChanged, kModeFull}) {
    other = Aside([&] { return Ask(mode); });
    ASSERT_TRUE(ReturnsMeanwhile(other)) << "a mode-" << mode << " request waited";
    const Rendered shown = other.get();
    if (mode != kModeFull) {
      EXPECT_EQ(kOneName, shown) << "mode " << mode;
    }
    EXPECT_TRUE(Has(shown, kScope) && !Has(shown, kMeter)) << "mode " << mode;
  }
  reloads.Open();
  full.get();
  EXPECT_EQ(kTwoNames, Settled());
  EXPECT_EQ(0, Config().overlaps);
}

// An export inside the library when a request comes: the request shows the
// store as it was, and the refresh it skipped is owed to the next one, which
// makes it even in mode 0 and even though the change test never tells.
TEST_F(Sources, ARefreshSkippedForABusyLibraryIsOwed) {
  BindStoreAlone();
  AddMeter();
  ASSERT_EQ(CONFIG_STANDIN_ARMED, config_standin_fail(CONFIG_STANDIN_CONFIGURATION_CHANGED, 1,
                                                      CONFIG_STANDIN_FAIL_ALWAYS, -1));
  std::future<int32_t> exported;
  {
    Held prefixes = HeldConfig(CONFIG_STANDIN_GET_DRIVER_PREFIX);
    exported = Aside([&] {
      char prefix[32] = "";
      return plugin_.IviIni_GetDriverPrefix(nullptr, "acmeScope", prefix, sizeof prefix);
    });
    ASSERT_TRUE(WaitUntil(
        [] { return config_standin_calls_waiting(CONFIG_STANDIN_GET_DRIVER_PREFIX) == 1; },
        "an export inside the library"));
    EXPECT_EQ(kOneName, Ask(kModeChanged));
  }
  exported.get();
  EXPECT_EQ(kTwoNames, Ask(kModeChanged));
  EXPECT_EQ(0, Config().overlaps);
}

// A rebuild that fails after its reload took the file in (the last name's
// look-up fails) keeps the previous list and owes the refresh: the store's
// change test no longer tells, yet the next mode-0 request shows the edit.
TEST_F(Sources, AFailedRebuildOwesTheRefresh) {
  BindStoreAlone();
  AddMeter();
  // The rebuild asks names 1 and 2; the second call fails.
  ASSERT_EQ(CONFIG_STANDIN_ARMED,
            config_standin_fail(CONFIG_STANDIN_GET_NTH_LOGICAL_NAME, 2, 1, -1320));
  EXPECT_EQ(kOneName, Ask(kModeChanged));
  EXPECT_EQ(kTwoNames, Ask(kModeChanged));
}

// A plug-in named as the configuration library (this one, or a copy of it
// elsewhere) would call back into a plug-in that waits for itself. It is
// refused with one trace line, and every entry answers.
class PluginAsConfigurationLibrary : public Sources, public testing::WithParamInterface<bool> {};

TEST_P(PluginAsConfigurationLibrary, IsRefusedWithOneTraceLine) {
  std::string named = PluginPath();
  std::string folder;
  if (GetParam()) {
    char pattern[] = "/tmp/velmora-plugin-copy-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    folder = pattern;
    named = folder + "/libvelmora_hx_copy.so";
    std::ifstream from(PluginPath(), std::ios::binary);
    std::ofstream(named, std::ios::binary) << from.rdbuf();
  }
  NameLibraries(named.c_str(), nullptr);
  {
    StderrCapture capture;
    auto settled = Aside([&] { return BindAndSettle(plugin_, properties_.get()); });
    ASSERT_TRUE(ReturnsMeanwhile(settled)) << "a request waits for itself";
    EXPECT_EQ((Rendered{kDevice, "#-1", "#3", "#2"}), settled.get());
    void *handle = nullptr;
    auto open = Aside([&] { return plugin_.IviIni_OpenIniFile(nullptr, &handle); });
    ASSERT_TRUE(ReturnsMeanwhile(open)) << "an export waits for itself";
    EXPECT_EQ(-1, open.get());
    const std::string trace = capture.Text();
    const std::string line =
        "configuration library " + named + " not bound: it is a host plug-in, not a library\n";
    const size_t at = trace.find(line);
    ASSERT_NE(std::string::npos, at) << trace;
  }
  if (!folder.empty()) {
    unlink(named.c_str());
    rmdir(folder.c_str());
  }
}
INSTANTIATE_TEST_SUITE_P(ThisOneOrACopy, PluginAsConfigurationLibrary, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &copy) {
                           return std::string(copy.param ? "ACopy" : "ThisOne");
                         });

// After a release closed the store, mode 0 brings it up again off the
// host's thread: the request returns while the store's open is held, and
// the names show once it is over.
TEST_F(Sources, AfterAReleaseModeZeroReopensTheStoreOffTheCallingThread) {
  BindStoreAlone();
  EXPECT_EQ(0, plugin_.ReleasingAppRef(nullptr));
  EXPECT_EQ(0, Config().handles_open);
  std::future<Rendered> request;
  {
    Held opens = HeldConfig(CONFIG_STANDIN_OPEN_INI_FILE);
    request = Aside([&] { return Ask(kModeChanged); });
    ASSERT_TRUE(ReturnsMeanwhile(request)) << "mode 0 opened the store on the host's thread";
    EXPECT_EQ((Rendered{kScope, kDevice, "#6", kMarker, "#-1", "#3", "#2"}), request.get());
    ASSERT_TRUE(
        WaitUntil([] { return config_standin_calls_waiting(CONFIG_STANDIN_OPEN_INI_FILE) == 1; },
                  "the source's worker opening the store"));
  }
  EXPECT_EQ(kOneName, Settled());
  EXPECT_EQ(1, Config().handles_open);
}

// An opt-in library that cannot be bound at first is bound by later
// requests once it is there: at once by mode 1, by mode 0 once the rescan
// is due, never by every request in between.
class LateLibrary : public Sources, public testing::WithParamInterface<bool> {
 protected:
  bool visa() const { return GetParam(); }
};

TEST_P(LateLibrary, IsBoundByLaterRequests) {
  char pattern[] = "/tmp/velmora-late-library-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string folder = pattern;
  const std::string named = folder + (visa() ? "/libvisa.so" : "/libconfig.so");
  if (visa()) {
    NameLibraries(nullptr, named.c_str());
  } else {
    NameLibraries(named.c_str(), nullptr);
  }
  FreezeFakeClock();
  const Rendered without = {kDevice, "#-1", "#3", "#2"};
  const Rendered with = visa() ? Rendered{kDevice, "#-1", kResource, "#-1", "#3", "#2"}
                               : Rendered{kScope, kDevice, "#-1", "#3", "#2"};
  EXPECT_EQ(without, BindAndSettle(plugin_, properties_.get()));
  ASSERT_EQ(0, symlink(visa() ? VISA_STANDIN_PATH : CONFIG_STANDIN_PATH, named.c_str()));
  EXPECT_EQ(without, Settled()) << "mode 0 tried again before the rescan was due";
  AdvanceFakeClock(21);
  EXPECT_EQ(with, Settled());

  unlink(named.c_str());
  rmdir(folder.c_str());
}
INSTANTIATE_TEST_SUITE_P(ConfigurationOrVisa, LateLibrary, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &visa) {
                           return std::string(visa.param ? "Visa" : "Configuration");
                         });

// Mode 1 binds a library that failed before at once.
TEST_F(Sources, AFullRefreshBindsALibraryThatFailedBefore) {
  char pattern[] = "/tmp/velmora-late-library-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string named = std::string(pattern) + "/libconfig.so";
  NameLibraries(named.c_str(), nullptr);
  FreezeFakeClock();
  EXPECT_EQ((Rendered{kDevice, "#-1", "#3", "#2"}), BindAndSettle(plugin_, properties_.get()));
  ASSERT_EQ(0, symlink(CONFIG_STANDIN_PATH, named.c_str()));
  Ask(kModeFull);
  EXPECT_EQ((Rendered{kScope, kDevice, "#-1", "#3", "#2"}), Settled());
  unlink(named.c_str());
  rmdir(pattern);
}

// ---- VISA's details ----------------------------------------------------------

// An expression the VISA library refuses is named in the trace, with the
// library's description and the status as VISA writes it.
TEST_F(Sources, ARefusedSearchExpressionIsNamedInTheTrace) {
  NameLibraries(nullptr);
  setenv(kExpressionVariable, "TCPIP0::{", 1);
  StderrCapture capture;
  EXPECT_EQ((Rendered{kDevice, "#-1", "#3", "#2"}), BindAndSettle(plugin_, properties_.get()));
  const std::string trace = capture.Text();
  const size_t at = trace.find("VISA search expression \"TCPIP0::{\" refused: ");
  ASSERT_NE(std::string::npos, at) << trace;
  EXPECT_NE(std::string::npos,
            trace.substr(at, trace.find('\n', at) - at).find("(status 0xBFFF0010)"))
      << trace;
}

// An expression longer than a VISA name buffer is used whole: cut anywhere,
// this one would no longer be one the library accepts.
TEST_F(Sources, ALongSearchExpressionIsUsedWhole) {
  NameLibraries(nullptr);
  std::string expression;
  for (const char c : kResource) expression += "[" + std::string(10, c) + "]";
  ASSERT_GT(expression.size(), 256u);
  setenv(kExpressionVariable, expression.c_str(), 1);
  resources_.Write({kResource, "ASRL1::INSTR"});
  EXPECT_EQ((Rendered{kDevice, "#-1", kResource, "#-1", "#3", "#2"}),
            BindAndSettle(plugin_, properties_.get()));
}

// A resource manager that cannot be opened is named in the trace, its
// status written as VISA writes it.
TEST_F(Sources, VisaStatusesAreTracedAsVisaWritesThem) {
  NameLibraries(nullptr);
  visa_standin_fail_open_default_rm(VI_ERROR_SYSTEM_ERROR);
  StderrCapture capture;
  EXPECT_EQ((Rendered{kDevice, "#-1", "#3", "#2"}), BindAndSettle(plugin_, properties_.get()));
  EXPECT_NE(std::string::npos, capture.Text().find("(status 0xBFFF0000)\n")) << capture.Text();
}

}  // namespace
}  // namespace hxtest

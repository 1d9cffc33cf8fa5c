// Binding and the discovery session under concurrent callers: host threads
// open, count, read, check, close and release while name requests start the
// loader and discovery workers. Every dlopen of the discovery library is
// slowed down by the probe, so two loads that nothing serialises overlap.
//
// What must hold afterwards: the library was loaded with success every
// time and never twice at once; no export used a session that another
// thread had closed (the library answers such a session with
// QXMODINST_ERROR_INVALID_SESSION, which the class export and the count
// pass on); and every session that was opened was closed exactly once, so
// no binding or reopen overwrote another's session.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "binding_dlopen_probe.h"
#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace {

using hxtest::LoadPlugin;
using hxtest::Plugin;

constexpr char kLibraryName[] = "libqxmodinst.so";
constexpr int kLoadMode = 258;
// Every thread starts at one signal and makes its calls this many times.
// How the threads interleave is the scheduler's matter: what is asserted
// below holds whichever way they did.
constexpr int kRounds = 40;

qxmodinst_standin_counters Counters() {
  qxmodinst_standin_counters counters{};
  qxmodinst_standin_get_counters(&counters);
  return counters;
}

// Answers that a caller saw and did not expect, by export, with a count.
class Surprises {
 public:
  void Note(const std::string &what, int32_t answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++seen_[what + " answered " + std::to_string(answer)];
  }
  std::string Report() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const auto &[what, times] : seen_) text += what + " x" + std::to_string(times) + "\n";
    return text;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, int> seen_;
};

TEST(BindingConcurrency, SessionIsNeverUsedAfterCloseNorLoadedTwiceAtOnce) {
  hxtest::DevicesFile devices({"Rack1Slot2 | DMM | acmeDmm", "Rack1Slot3 | Scope | acmeScope"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  bindtest::DelayDlopens(kLibraryName, std::chrono::milliseconds(2));
  const Plugin &plugin = LoadPlugin();
  Surprises surprises;
  std::atomic<bool> go{false};
  auto repeat = [&go](std::function<void(int)> body) {
    return std::thread([&go, body] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) body(round);
    });
  };
  std::vector<std::thread> threads;
  threads.push_back(repeat([&](int) {
    void *handle = nullptr;
    const int32_t answer = plugin.IviIni_OpenIniFile(nullptr, &handle);
    if (answer != 0) surprises.Note("IviIni_OpenIniFile", answer);
  }));
  threads.push_back(repeat([&](int) {
    int32_t count = -1;
    const int32_t answer = plugin.IviIni_GetNumberOfModularInstruments(nullptr, &count);
    // Without a session the count stays unwritten; with one it is 2.
    if (answer != 0 || (count != -1 && count != 2)) {
      surprises.Note("IviIni_GetNumberOfModularInstruments", answer != 0 ? answer : count);
    }
  }));
  threads.push_back(repeat([&](int round) {
    char buffer[32] = "";
    const auto index = static_cast<uint32_t>(round % 2);
    int32_t answer = plugin.IviIni_GetModularInstrumentClass(nullptr, index, buffer);
    if (answer != 0 || std::strcmp(buffer, index == 0 ? "DMM" : "Scope") != 0) {
      surprises.Note("IviIni_GetModularInstrumentClass", answer);
    }
    buffer[0] = '\0';
    answer = plugin.IviIni_GetModularInstrumentName(nullptr, index, buffer);
    if (answer != 0 || std::strcmp(buffer, index == 0 ? "Rack1Slot2" : "Rack1Slot3") != 0) {
      surprises.Note("IviIni_GetModularInstrumentName", answer);
    }
    buffer[0] = '\0';
    answer = plugin.IviIni_GetModularInstrumentPrefix(nullptr, index, buffer);
    if (answer != 0 || std::strcmp(buffer, index == 0 ? "acmeDmm" : "acmeScope") != 0) {
      surprises.Note("IviIni_GetModularInstrumentPrefix", answer);
    }
  }));
  threads.push_back(repeat([&](int) {
    uint8_t changed = 9;
    const int32_t answer = plugin.IviIni_ConfigurationChanged(nullptr, &changed);
    if (answer != 0 || changed != 0) {
      surprises.Note("IviIni_ConfigurationChanged", answer != 0 ? answer : changed);
    }
  }));
  threads.push_back(repeat([&](int round) {
    const int32_t answer =
        round % 2 == 0 ? plugin.IviIni_CloseIniFile(nullptr, 0) : plugin.ReleasingAppRef(nullptr);
    if (answer != 0) surprises.Note("closing", answer);
  }));
  threads.push_back(repeat([&](int round) {
    hxtest::Properties properties(0x1000u);
    HxHandle names = nullptr;
    // Full refreshes restart the discovery worker; mode 0 may restart it
    // too once the throttle has passed.
    const auto mode = static_cast<uint32_t>(round % 3);
    if (mode == 0) AdvanceFakeClock(21);
    const int32_t answer =
        plugin.GetIOControlNames(0, hxtest::IviClass(), nullptr, &names, properties.get(), mode);
    if (answer != 0 && answer != 2) surprises.Note("GetIOControlNames", answer);
    if (names != nullptr) hxhost_dispose_list(names);
  }));
  go.store(true);
  for (auto &thread : threads) thread.join();

  {
    // Let the discovery worker finish its last run, then release the session.
    hxtest::Properties properties(0x1000u);
    HxHandle names = nullptr;
    ASSERT_EQ(0, hxtest::RequestUntilBound(plugin, &names, properties.get(), 2));
    hxhost_dispose_list(names);
    hxhost_dispose_list(hxtest::RequestUntilSettled(plugin, properties.get()));
    ASSERT_EQ(0, plugin.ReleasingAppRef(nullptr));
  }

  EXPECT_EQ("", surprises.Report());
  const auto loads = bindtest::DlopenCallsNaming(kLibraryName);
  // At least the first binding loaded it; how many times the closing thread
  // made it load again depends on the scheduler.
  EXPECT_FALSE(loads.empty());
  for (const auto &load : loads) {
    EXPECT_EQ(kLoadMode, load.mode);
    EXPECT_TRUE(load.loaded);
  }
  EXPECT_EQ(1, bindtest::MaxConcurrentDlopens(kLibraryName));
  const auto counters = Counters();
  EXPECT_EQ(0, counters.sessions_outstanding);
  EXPECT_EQ(counters.opens, counters.closes);
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(0, hxhost_variants_outstanding());
}

}  // namespace

// Requests with entry slots filled directly (the plug-in's code is linked,
// not loaded): the request hook and its fallback, which nothing fills on
// this platform, to pin where a request calls them and what it passes; and
// a configuration library that another thread keeps busy.
#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hxhost_standin.h"
#include "plugin/sources/configuration.h"
#include "plugin/sources/hooks.h"
#include "plugin_harness.h"
#include "velmora/velmora_hx.h"

namespace {

struct HookCall {
  uint32_t appContext;
  ConstPStr ioClass;
  void *reserved;
  HxHandle *names;
  HxVariantRef properties;
  uint32_t mode;
};

std::vector<HookCall> hookCalls;
int32_t hookAnswer = 0;
int fallbackCalls = 0;

int32_t Hook(uint32_t appContext, ConstPStr ioClass, void *reserved, HxHandle *names,
             HxVariantRef properties, uint32_t mode) {
  hookCalls.push_back(HookCall{appContext, ioClass, reserved, names, properties, mode});
  return hookAnswer;
}

void Fallback() {
  ++fallbackCalls;
}

class RequestHook : public testing::Test {
 protected:
  void SetUp() override {
    hx::hookSlots.requestHook.set(Hook);
    hx::hookSlots.requestFallback.set(Fallback);
  }
  void TearDown() override {
    hx::hookSlots.requestHook.set(nullptr);
    hx::hookSlots.requestFallback.set(nullptr);
  }
  hxtest::Properties properties_;
};

TEST_F(RequestHook, IsCalledAfterTheClassTestWithTheArgumentsAsPassed) {
  HxHandle names = nullptr;
  const hxtest::PStr other("VISA");
  EXPECT_EQ(5, GetIOControlNames(1, other.get(), nullptr, &names, properties_.get(), 0));
  EXPECT_EQ(5, GetIOControlNames(1, nullptr, nullptr, &names, properties_.get(), 0));
  EXPECT_TRUE(hookCalls.empty());

  int reserved = 0;
  // Before the loader gate, with the mode the host passed.
  EXPECT_EQ(2, GetIOControlNames(42, hxtest::IviClass(), &reserved, &names, properties_.get(), 9));
  ASSERT_EQ(1u, hookCalls.size());
  EXPECT_EQ(42u, hookCalls[0].appContext);
  EXPECT_EQ(hxtest::IviClass(), hookCalls[0].ioClass);
  EXPECT_EQ(&reserved, hookCalls[0].reserved);
  EXPECT_EQ(&names, hookCalls[0].names);
  EXPECT_EQ(properties_.get(), hookCalls[0].properties);
  EXPECT_EQ(9u, hookCalls[0].mode);
  // A hook answering 0 hands over to the fallback.
  EXPECT_EQ(1, fallbackCalls);

  // Any other answer does not; the request goes on either way.
  hookAnswer = -1;
  HxHandle bound = nullptr;
  hxtest::Plugin linked{};
  linked.GetIOControlNames = GetIOControlNames;
  ASSERT_EQ(0, hxtest::RequestUntilBound(linked, &bound, properties_.get(), 7));
  hxhost_dispose_list(bound);
  EXPECT_EQ(1, fallbackCalls);
  // The first bound request ran as a full refresh, but the hook saw mode 7.
  EXPECT_EQ(7u, hookCalls.back().mode);

  // Without a fallback, a hook answering 0 is all there is.
  hookAnswer = 0;
  hx::hookSlots.requestFallback.set(nullptr);
  bound = nullptr;
  EXPECT_EQ(0, GetIOControlNames(0, hxtest::IviClass(), nullptr, &bound, properties_.get(), 2));
  hxhost_dispose_list(bound);
  EXPECT_EQ(1, fallbackCalls);
}

// The configuration library busy with another thread.
int storeHandle = 0;

int closes = 0;
int32_t FakeClose(void *handle, int32_t save) {
  if (handle == &storeHandle && save == 0) ++closes;
  return 0;
}

// The host's release never waits for a thread inside the configuration
// library: that thread closes the configuration as it lets go.
TEST(BusyConfigurationLibrary, AReleaseClosesTheConfigurationWhenTheHolderLetsGo) {
  {
    hx::GateLock lock(hx::configGate);
    hx::configSlots.cfgCloseIniFile.set(FakeClose);
    hx::SetConfigHandle(&storeHandle);
  }
  std::promise<void> held, done;
  std::thread holder([&] {
    hx::GateLock lock(hx::configGate);
    held.set_value();
    done.get_future().wait();
  });
  held.get_future().wait();
  auto release = std::async(std::launch::async, [] { return ReleasingAppRef(nullptr); });
  EXPECT_EQ(std::future_status::ready, release.wait_for(std::chrono::seconds(10)))
      << "the release waited for the configuration library";
  EXPECT_EQ(0, closes);
  done.set_value();
  holder.join();
  EXPECT_EQ(0, release.get());
  EXPECT_EQ(1, closes);
  hx::GateLock lock(hx::configGate);
  EXPECT_EQ(nullptr, hx::GetConfigHandle());
}

}  // namespace

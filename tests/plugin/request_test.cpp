// The name-list request, driven through the plug-in exactly as the host
// drives it.
#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {
namespace {

TEST(RequestSmoke, ServesSortedDevicesAfterBinding) {
  DevicesFile devices(
      {"Rack1Slot10 | Scope | acmeScope", "Rack1Slot2 | DMM | acmeDmm", "rack1slot1 | Scope | acmeScope"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  const Plugin &plugin = LoadPlugin();
  {
    Properties properties;
    HxHandle names = nullptr;
    EXPECT_EQ(kBinding, Request(plugin, &names, properties.get(), kModeChanged));
    HxHandle settled = nullptr;
    ASSERT_EQ(kOk, RequestUntilBound(plugin, &settled, properties.get(), kModeChanged));
    hxhost_dispose_list(settled);
    HxHandle result = RequestUntilSettled(plugin, properties.get());
    EXPECT_EQ((Rendered{"rack1slot1", "Rack1Slot2", "Rack1Slot10", "#-1", "#3", "#2"}),
              RenderList(result));
    hxhost_dispose_list(result);
  }
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(0, hxhost_variants_outstanding());
}

}  // namespace
}  // namespace hxtest

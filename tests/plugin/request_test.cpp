// The name-list request, driven through the plug-in exactly as the host
// drives it.
#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace {

using hxtest::DevicesFile;
using hxtest::LoadPlugin;
using hxtest::Properties;
using hxtest::RenderList;

TEST(RequestSmoke, ServesSortedDevicesAfterBinding) {
  DevicesFile devices({"PXI1Slot10 | Scope | niScope", "PXI1Slot2 | DMM | niDMM",
                       "pxi1slot1 | Scope | niScope"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  const auto &plugin = LoadPlugin();
  {
  Properties properties;
  HxHandle names = nullptr;
  EXPECT_EQ(2, plugin.GetIOControlNames(0, hxtest::IviClass(), nullptr, &names, properties.get(), 0));
  HxHandle settled = nullptr;
  ASSERT_EQ(0, hxtest::RequestUntilBound(plugin, &settled, properties.get(), 0));
  hxhost_dispose_list(settled);
  HxHandle result = hxtest::RequestUntilSettled(plugin, properties.get());
  EXPECT_EQ((std::vector<std::string>{"pxi1slot1", "PXI1Slot2", "PXI1Slot10", "#-1", "#3", "#2"}),
            RenderList(result));
  hxhost_dispose_list(result);
  }
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(0, hxhost_variants_outstanding());
}

}  // namespace

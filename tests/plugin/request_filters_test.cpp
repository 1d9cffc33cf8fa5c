// A control's display filters as the request applies them to the installed
// devices: "displayFilter" bit 12 offers them at all, "typeClass" narrows
// them to the devices whose prefix (attribute 4) it names, in any case.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {
namespace {

struct FilterCase {
  std::optional<uint32_t> displayFilter;
  std::optional<std::string> typeClass;
  Rendered result;
};

void PrintTo(const FilterCase &c, std::ostream *os) {
  *os << "displayFilter " << (c.displayFilter ? std::to_string(*c.displayFilter) : "absent")
      << ", typeClass " << c.typeClass.value_or("absent");
}

// The three devices as the control that offers them all sees them, and what a
// control that offers none of them sees.
const Rendered kAll = {"Rack1Slot2", "Rack1Slot3", "Rack1Slot4", "#-1", "#3", "#2"};
const Rendered kNone = {"#3", "#2"};

class RequestFilters : public testing::TestWithParam<FilterCase> {};

TEST_P(RequestFilters, OfferTheDevicesTheControlAsksFor) {
  DevicesFile devices(
      {"Rack1Slot2 | DMM | acmeDmm", "Rack1Slot3 | Scope | acmeScope", "Rack1Slot4 | Ivi | "});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  const Plugin &plugin = LoadPlugin();
  {
    Properties all(0x1000u);
    EXPECT_EQ(kAll, BindAndSettle(plugin, all.get()));
  }
  const FilterCase &c = GetParam();
  Properties properties(c.displayFilter, c.typeClass);
  for (uint32_t mode : {0u, 2u}) {
    HxHandle names = nullptr;
    ASSERT_EQ(kOk, Request(plugin, &names, properties.get(), mode));
    EXPECT_EQ(c.result, TakeList(names)) << "mode " << mode;
  }
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

INSTANTIATE_TEST_SUITE_P(
    Golden, RequestFilters,
    testing::Values(FilterCase{std::nullopt, std::nullopt, kNone},
                    FilterCase{0u, std::nullopt, kNone}, FilterCase{0x2000u, std::nullopt, kNone},
                    FilterCase{0x1000u, std::nullopt, kAll},
                    FilterCase{0x3000u, std::nullopt, kAll},
                    FilterCase{0x1000u, std::string(""), kAll},
                    FilterCase{0x1000u, std::string("ivi"), kAll},
                    FilterCase{0x1000u, std::string("IVI"), kAll},
                    FilterCase{0x1000u, std::string("ACMESCOPE"), {"Rack1Slot3", "#-1", "#3", "#2"}},
                    FilterCase{0x3000u, std::string("acmedmm"), {"Rack1Slot2", "#-1", "#3", "#2"}},
                    // The class text (attribute 3) is not what is compared.
                    FilterCase{0x1000u, std::string("Scope"), kNone},
                    FilterCase{0x2000u, std::string("acmeDmm"), kNone}));

}  // namespace
}  // namespace hxtest

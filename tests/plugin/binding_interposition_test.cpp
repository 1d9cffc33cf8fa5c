// The plug-in shares its IviIni_* names with other libraries of the host
// process (the configuration library exports the same names). Loaded after
// such a library, both with RTLD_GLOBAL, the global lookup of a name finds
// the other library first; the plug-in's own entries must still be the
// plug-in's, and the plug-in must bind its references to its own
// definitions rather than to whichever library came first.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace {

using hxtest::LoadPlugin;
using hxtest::Plugin;

void *const kSomeHandle = reinterpret_cast<void *>(0x5eed);

struct Competitor {
  const char *name;
  const char *path;
  int contestedNames;  // how many of the plug-in's IviIni_* names it exports
};
// Names the case in test lists (and so in the registered test names).
void PrintTo(const Competitor &c, std::ostream *out) {
  *out << c.name;
}

const Competitor kCompetitors[] = {
    {"DecoyLibrary", BINDING_DECOY_PATH, 19},
#ifdef VELMORA_CONFIG_LIBRARY_PATH
    {"ConfigurationLibrary", VELMORA_CONFIG_LIBRARY_PATH, 12},
#endif
};

// The plug-in's IviIni_* entries, by name, as resolved from its handle.
std::vector<std::pair<const char *, void *>> PluginIviIniEntries(const Plugin &p) {
  auto address = [](auto fn) { return reinterpret_cast<void *>(fn); };
  return {
      {"IviIni_OpenIniFile", address(p.IviIni_OpenIniFile)},
      {"IviIni_CloseIniFile", address(p.IviIni_CloseIniFile)},
      {"IviIni_ConfigurationChanged", address(p.IviIni_ConfigurationChanged)},
      {"IviIni_ReloadConfiguration", address(p.IviIni_ReloadConfiguration)},
      {"IviIni_GetNumberOfLogicalNames", address(p.IviIni_GetNumberOfLogicalNames)},
      {"IviIni_GetNthLogicalName", address(p.IviIni_GetNthLogicalName)},
      {"IviIni_GetLogicalNameVI", address(p.IviIni_GetLogicalNameVI)},
      {"IviIni_GetVIDriver", address(p.IviIni_GetVIDriver)},
      {"IviIni_GetDriverClass", address(p.IviIni_GetDriverClass)},
      {"IviIni_GetDriverClassCount", address(p.IviIni_GetDriverClassCount)},
      {"IviIni_GetDriverClassByIndex", address(p.IviIni_GetDriverClassByIndex)},
      {"IviIni_GetDriverPrefix", address(p.IviIni_GetDriverPrefix)},
      {"IviIni_GetNumberOfVisaNames", address(p.IviIni_GetNumberOfVisaNames)},
      {"IviIni_GetNextVisaName", address(p.IviIni_GetNextVisaName)},
      {"IviIni_CloseVisaNameList", address(p.IviIni_CloseVisaNameList)},
      {"IviIni_GetNumberOfModularInstruments", address(p.IviIni_GetNumberOfModularInstruments)},
      {"IviIni_GetModularInstrumentName", address(p.IviIni_GetModularInstrumentName)},
      {"IviIni_GetModularInstrumentClass", address(p.IviIni_GetModularInstrumentClass)},
      {"IviIni_GetModularInstrumentPrefix", address(p.IviIni_GetModularInstrumentPrefix)},
  };
}

qxmodinst_standin_counters Counters() {
  qxmodinst_standin_counters counters{};
  qxmodinst_standin_get_counters(&counters);
  return counters;
}

class InterpositionTest : public ::testing::TestWithParam<Competitor> {};

TEST_P(InterpositionTest, PluginEntriesStayThePluginsWithSameNamedLibraryLoadedFirst) {
  hxtest::DevicesFile devices({"Rack1Slot2 | DMM | acmeDmm", "Rack1Slot3 | Scope | acmeScope"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());

  void *competitor = dlopen(GetParam().path, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(nullptr, competitor) << dlerror();
  ASSERT_NE(nullptr, dlopen(hxtest::PluginPath(), RTLD_NOW | RTLD_GLOBAL)) << dlerror();
  const Plugin &plugin = LoadPlugin();

  // The names really are contested: the global lookup finds the competitor.
  int contested = 0;
  for (const auto &[name, entry] : PluginIviIniEntries(plugin)) {
    void *theirs = dlsym(competitor, name);
    if (theirs == nullptr) continue;
    ++contested;
    EXPECT_EQ(theirs, dlsym(RTLD_DEFAULT, name)) << name;
    EXPECT_NE(theirs, entry) << name;
  }
  EXPECT_EQ(GetParam().contestedNames, contested);

  // And the plug-in's entries behave as the plug-in's.
  void *handle = &handle;
  EXPECT_EQ(0, plugin.IviIni_OpenIniFile("/tmp/ivi.ini", &handle));
  EXPECT_EQ(&handle, handle);
  EXPECT_EQ(1, Counters().opens);

  int32_t names = 7;
  EXPECT_EQ(0, plugin.IviIni_GetNumberOfLogicalNames(kSomeHandle, &names));
  EXPECT_EQ(7, names);
  char buffer[64] = "sentinel";
  EXPECT_EQ(0, plugin.IviIni_GetDriverPrefix(kSomeHandle, "acmeDmm", buffer, sizeof buffer));
  EXPECT_STREQ("sentinel", buffer);

  int32_t count = 7;
  EXPECT_EQ(0, plugin.IviIni_GetNumberOfModularInstruments(nullptr, &count));
  EXPECT_EQ(2, count);
  EXPECT_EQ(0, plugin.IviIni_GetModularInstrumentName(nullptr, 1, buffer));
  EXPECT_STREQ("Rack1Slot3", buffer);
  uint8_t changed = 9;
  EXPECT_EQ(0, plugin.IviIni_ConfigurationChanged(kSomeHandle, &changed));
  EXPECT_EQ(0, changed);
  EXPECT_EQ(0, plugin.IviIni_CloseIniFile(kSomeHandle, 0));
  const auto counters = Counters();
  EXPECT_EQ(2, counters.opens);
  EXPECT_EQ(2, counters.closes);
  EXPECT_EQ(0, counters.sessions_outstanding);
}

INSTANTIATE_TEST_SUITE_P(Competitors, InterpositionTest, ::testing::ValuesIn(kCompetitors));

// The plug-in is linked to resolve references to its own definitions inside
// itself (symbolic binding), so that no later call it makes to one of its
// exported names can be captured by a library loaded before it.
TEST(Interposition, PluginBindsReferencesToItsOwnDefinitions) {
  const Plugin &plugin = LoadPlugin();
  link_map *map = nullptr;
  ASSERT_EQ(0, dlinfo(plugin.library, RTLD_DI_LINKMAP, &map)) << dlerror();
  bool symbolic = false;
  for (const ElfW(Dyn) *entry = map->l_ld; entry->d_tag != DT_NULL; ++entry) {
    if (entry->d_tag == DT_SYMBOLIC) symbolic = true;
    if (entry->d_tag == DT_FLAGS && (entry->d_un.d_val & DF_SYMBOLIC) != 0) symbolic = true;
  }
  EXPECT_TRUE(symbolic);
}

}  // namespace

// Failed bindings of the discovery library, with the library found the way
// a real installation finds it: by name, on the library path. Each case runs
// in its own process whose LD_LIBRARY_PATH is a folder of its own (named
// after the case); the test places, swaps and removes a libqxmodinst.so
// symlink there. The stand-in is not linked into this program, so a library
// the plug-in unloads is really gone, and the next load of the same name
// finds whatever the symlink points to then.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace {

using hxtest::LoadPlugin;
using hxtest::Plugin;

constexpr char kLibraryName[] = "libqxmodinst.so";
constexpr int32_t kBindFailed = -1;

std::string CaseName() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// The folder on this process's library path, with the library's name in it
// pointing at one of the stand-in builds, or at nothing.
class LibraryFolder {
 public:
  LibraryFolder() : dir_(std::string(BINDING_LIBRARY_DIRS) + "/" + CaseName()) {
    const char *path = std::getenv("LD_LIBRARY_PATH");
    EXPECT_EQ(dir_, path != nullptr ? path : "")
        << "each case must run with its own folder as LD_LIBRARY_PATH";
    Remove();
  }
  ~LibraryFolder() { Remove(); }
  LibraryFolder(const LibraryFolder &) = delete;
  LibraryFolder &operator=(const LibraryFolder &) = delete;

  // Points the library's name at target, replacing any earlier link in one
  // step.
  void Place(const char *target) {
    const std::string staging = link() + ".new";
    std::remove(staging.c_str());
    ASSERT_EQ(0, symlink(target, staging.c_str())) << std::strerror(errno);
    ASSERT_EQ(0, std::rename(staging.c_str(), link().c_str())) << std::strerror(errno);
  }
  void Remove() { std::remove(link().c_str()); }

 private:
  std::string link() const { return dir_ + "/" + kLibraryName; }
  std::string dir_;
};

// Whether any copy of the discovery library is mapped in this process; a
// library the plug-in unloaded is not.
bool DiscoveryLibraryLoaded() {
  void *handle = dlopen(kLibraryName, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

// The stand-in's counters, reached through the global scope into which the
// plug-in loaded it.
qxmodinst_standin_counters Counters() {
  qxmodinst_standin_counters counters{};
  auto get = reinterpret_cast<decltype(&qxmodinst_standin_get_counters)>(
      dlsym(RTLD_DEFAULT, "qxmodinst_standin_get_counters"));
  EXPECT_NE(nullptr, get) << "the discovery stand-in is not loaded";
  if (get != nullptr) get(&counters);
  return counters;
}

// The exports' answers while the library cannot be bound: the attribute
// exports answer -1 with the buffer untouched, the count is not written,
// and opening and the change check carry on and answer 0.
void ExpectUnboundAnswers(const Plugin &plugin) {
  char buffer[16];
  std::memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(kBindFailed, plugin.IviIni_GetModularInstrumentName(nullptr, 0, buffer));
  EXPECT_EQ(kBindFailed, plugin.IviIni_GetModularInstrumentClass(nullptr, 0, buffer));
  EXPECT_EQ(kBindFailed, plugin.IviIni_GetModularInstrumentPrefix(nullptr, 0, buffer));
  EXPECT_EQ(std::string(sizeof buffer, 'Z'), std::string(buffer, sizeof buffer));

  void *handle = &handle;
  EXPECT_EQ(0, plugin.IviIni_OpenIniFile("/tmp/ivi.ini", &handle));
  EXPECT_EQ(&handle, handle);

  int32_t count = 7777;
  EXPECT_EQ(0, plugin.IviIni_GetNumberOfModularInstruments(nullptr, &count));
  EXPECT_EQ(7777, count);

  uint8_t changed = 9;
  EXPECT_EQ(0, plugin.IviIni_ConfigurationChanged(nullptr, &changed));
  EXPECT_EQ(0, changed);

  EXPECT_EQ(0, plugin.IviIni_CloseIniFile(nullptr, 0));
  EXPECT_EQ(0, plugin.ReleasingAppRef(nullptr));
}

// Once the full library is in place, the next binding succeeds and serves
// the devices of the example file.
void ExpectBindsNow(const Plugin &plugin) {
  char name[64];
  std::memset(name, 'Z', sizeof name);
  EXPECT_EQ(0, plugin.IviIni_GetModularInstrumentName(nullptr, 1, name));
  EXPECT_STREQ("Rack1Slot3", name);
  int32_t count = 0;
  EXPECT_EQ(0, plugin.IviIni_GetNumberOfModularInstruments(nullptr, &count));
  EXPECT_EQ(3, count);
  const auto counters = Counters();
  EXPECT_EQ(2, counters.opens);
  EXPECT_EQ(1, counters.closes);
  EXPECT_EQ(1, counters.sessions_outstanding);
}

// Entries of a name-list result that carry a name.
int NamedEntries(HxHandle names) {
  int named = 0;
  for (const hxtest::ResultEntry &entry : hxtest::ReadList(names)) named += entry.n ? 1 : 0;
  return named;
}

class BindingUnload : public ::testing::Test {
 protected:
  void SetUp() override {
    // Read by the stand-in when it is loaded, which happens after this.
    ASSERT_EQ(0, setenv("QXMODINST_DEVICES", QXMODINST_EXAMPLE_DEVICES, 1));
  }
};

TEST_F(BindingUnload, MissingLibraryAnswersMinusOneAndLaterBindSucceeds) {
  LibraryFolder folder;
  const Plugin &plugin = LoadPlugin();
  ExpectUnboundAnswers(plugin);
  EXPECT_FALSE(DiscoveryLibraryLoaded());

  folder.Place(QXMODINST_STANDIN_PATH);
  ExpectBindsNow(plugin);
}

// The build without qxModInst_IsConfigurationCurrent is refused and unloaded
// again. The proof of the unload: once the name points at the full build,
// the next binding finds it, which a still-loaded copy of the same soname
// would have prevented.
TEST_F(BindingUnload, MissingSymbolUnloadsLibraryAndLaterBindSucceeds) {
  LibraryFolder folder;
  folder.Place(QXMODINST_NOSYMBOL_PATH);
  const Plugin &plugin = LoadPlugin();
  ExpectUnboundAnswers(plugin);
  EXPECT_FALSE(DiscoveryLibraryLoaded());

  folder.Place(QXMODINST_STANDIN_PATH);
  ExpectBindsNow(plugin);
}

// After a refused binding nothing in the plug-in points into the unloaded
// library: the loader worker, which opens a session through the discovery
// slot whenever that slot is filled, binds, fails and carries on, and the
// requests answer without any modular instrument.
TEST_F(BindingUnload, FailedBindingLeavesNoEntryIntoUnloadedLibrary) {
  LibraryFolder folder;
  folder.Place(QXMODINST_NOSYMBOL_PATH);
  const Plugin &plugin = LoadPlugin();
  char name[16];
  ASSERT_EQ(kBindFailed, plugin.IviIni_GetModularInstrumentName(nullptr, 0, name));
  ASSERT_FALSE(DiscoveryLibraryLoaded());

  {
    hxtest::Properties properties(0x1000u);
    HxHandle names = nullptr;
    ASSERT_EQ(0, hxtest::RequestUntilBound(plugin, &names, properties.get(), 1));
    EXPECT_EQ(0, NamedEntries(names));
    hxhost_dispose_list(names);
    for (uint32_t mode : {0u, 1u, 2u}) {
      names = nullptr;
      ASSERT_EQ(0, plugin.GetIOControlNames(0, hxtest::IviClass(), nullptr, &names,
                                            properties.get(), mode));
      EXPECT_EQ(0, NamedEntries(names)) << "mode " << mode;
      hxhost_dispose_list(names);
    }
  }
  EXPECT_FALSE(DiscoveryLibraryLoaded());
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(0, hxhost_variants_outstanding());
}

}  // namespace

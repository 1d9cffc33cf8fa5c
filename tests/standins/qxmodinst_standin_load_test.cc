// The two builds of the discovery stand-in as files on disk and as freshly
// loaded libraries: their exports, their soname, and the environment
// settings that only a load reads.
#include <dlfcn.h>
#include <elf.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "qxmodinst_standin.h"
#include "temp_devices_file.h"

namespace {

const char *const kEntries[] = {
    "qxModInst_OpenInstalledDevicesSession",
    "qxModInst_GetInstalledDeviceAttributeViString",
    "qxModInst_GetInstalledDeviceAttributeViInt32",
    "qxModInst_CloseInstalledDevicesSession",
};
const char kConfigurationCheck[] = "qxModInst_IsConfigurationCurrent";

// A library loaded by absolute path for one test and unloaded after it, so
// that the next load runs its start-up again.
class Loaded {
 public:
  explicit Loaded(const char *path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    EXPECT_NE(handle_, nullptr) << dlerror();
  }
  ~Loaded() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  Loaded(const Loaded &) = delete;
  Loaded &operator=(const Loaded &) = delete;

  void *Find(const char *name) const {
    dlerror();
    return handle_ == nullptr ? nullptr : dlsym(handle_, name);
  }
  template <typename Function>
  Function *Get(const char *name) const {
    void *address = Find(name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Function *>(address);
  }

 private:
  void *handle_;
};

// The DT_SONAME of an ELF shared object, read from the file's sections.
std::string SonameOf(const char *path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto read = [&](size_t offset, auto *out) {
    if (offset + sizeof *out > bytes.size()) return false;
    std::memcpy(out, bytes.data() + offset, sizeof *out);
    return true;
  };
  Elf64_Ehdr header;
  if (!read(0, &header)) return "<not ELF>";
  for (size_t i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr dynamic;
    if (!read(header.e_shoff + i * header.e_shentsize, &dynamic)) return "<bad section>";
    if (dynamic.sh_type != SHT_DYNAMIC) continue;
    Elf64_Shdr strings;
    if (!read(header.e_shoff + dynamic.sh_link * header.e_shentsize, &strings)) return "<bad>";
    for (size_t at = dynamic.sh_offset; at < dynamic.sh_offset + dynamic.sh_size;
         at += sizeof(Elf64_Dyn)) {
      Elf64_Dyn entry;
      if (!read(at, &entry)) return "<bad dynamic>";
      if (entry.d_tag == DT_SONAME)
        return std::string(bytes.c_str() + strings.sh_offset + entry.d_un.d_val);
    }
  }
  return "<no soname>";
}

TEST(LoadedBuilds, FullBuildExportsAllFiveEntries) {
  const Loaded library(QXMODINST_STANDIN_PATH);
  for (const char *entry : kEntries) EXPECT_NE(library.Find(entry), nullptr) << entry;
  EXPECT_NE(library.Find(kConfigurationCheck), nullptr);
}

TEST(LoadedBuilds, NoSymbolBuildLacksOnlyTheConfigurationCheck) {
  const Loaded library(QXMODINST_NOSYMBOL_PATH);
  for (const char *entry : kEntries) EXPECT_NE(library.Find(entry), nullptr) << entry;
  EXPECT_EQ(library.Find(kConfigurationCheck), nullptr);
  EXPECT_NE(library.Find("qxmodinst_standin_reset"), nullptr);
}

TEST(LoadedBuilds, BothBuildsAreNamedAndSonamedLibqxmodinst) {
  const std::string full = QXMODINST_STANDIN_PATH;
  const std::string nosymbol = QXMODINST_NOSYMBOL_PATH;
  EXPECT_EQ(full.substr(full.rfind('/') + 1), "libqxmodinst.so");
  EXPECT_EQ(nosymbol.substr(nosymbol.rfind('/') + 1), "libqxmodinst.so");
  EXPECT_NE(full, nosymbol);
  EXPECT_EQ(SonameOf(QXMODINST_STANDIN_PATH), "libqxmodinst.so");
  EXPECT_EQ(SonameOf(QXMODINST_NOSYMBOL_PATH), "libqxmodinst.so");
}

// Each case sets the environment, then loads the library, which reads it.
class Environment : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char *name :
         {"QXMODINST_DEVICES", "QXMODINST_OPEN_DELAY_MS", "QXMODINST_OPEN_STATUS",
          "QXMODINST_CLOSE_STATUS", "QXMODINST_ATTRIBUTE_STATUS", "QXMODINST_OPEN_ZERO_SESSION"}) {
      unsetenv(name);
    }
  }
  TempDevicesFile file_;
};

TEST_F(Environment, SettingsReadAtLoadApplyAndComeBackOnReset) {
  file_.Write("Rack1Slot2 | DMM | acmeDmm\nRack1Slot3 | Scope | acmeScope\n");
  setenv("QXMODINST_DEVICES", file_.path().c_str(), 1);
  setenv("QXMODINST_OPEN_STATUS", "-31", 1);
  setenv("QXMODINST_CLOSE_STATUS", "-32", 1);
  setenv("QXMODINST_ATTRIBUTE_STATUS", "-33", 1);
  const Loaded library(QXMODINST_STANDIN_PATH);
  auto open = library.Get<decltype(qxModInst_OpenInstalledDevicesSession)>(kEntries[0]);
  auto read = library.Get<decltype(qxModInst_GetInstalledDeviceAttributeViString)>(kEntries[1]);
  auto close = library.Get<decltype(qxModInst_CloseInstalledDevicesSession)>(kEntries[3]);
  auto failOpen = library.Get<decltype(qxmodinst_standin_fail_open)>("qxmodinst_standin_fail_open");
  auto reset = library.Get<decltype(qxmodinst_standin_reset)>("qxmodinst_standin_reset");
  ASSERT_TRUE(open && read && close && failOpen && reset);

  int32_t session = 0;
  int32_t count = 0;
  EXPECT_EQ(open("qxModularInstrument", &session, &count), -31);
  failOpen(0);
  ASSERT_EQ(open("qxModularInstrument", &session, &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(read(session, 0, 0, 0, nullptr), -33);
  EXPECT_EQ(close(session), -32);
  reset();
  EXPECT_EQ(open("qxModularInstrument", &session, &count), -31);
}

TEST_F(Environment, ZeroSessionAndOpenDelayComeFromTheEnvironment) {
  file_.Write("Rack1Slot2 | DMM | acmeDmm\n");
  setenv("QXMODINST_DEVICES", file_.path().c_str(), 1);
  setenv("QXMODINST_OPEN_ZERO_SESSION", "1", 1);
  setenv("QXMODINST_OPEN_DELAY_MS", "200", 1);
  const Loaded library(QXMODINST_STANDIN_PATH);
  auto open = library.Get<decltype(qxModInst_OpenInstalledDevicesSession)>(kEntries[0]);
  ASSERT_NE(open, nullptr);
  int32_t session = 9;
  int32_t count = 0;
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(open("qxModularInstrument", &session, &count), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(200));
  EXPECT_EQ(session, 0);
  EXPECT_EQ(count, 1);
}

TEST_F(Environment, MalformedValuesAreReportedAndIgnored) {
  setenv("QXMODINST_OPEN_DELAY_MS", "abc", 1);
  setenv("QXMODINST_OPEN_ZERO_SESSION", "2", 1);
  setenv("QXMODINST_OPEN_STATUS", "-5x", 1);
  const Loaded library(QXMODINST_STANDIN_PATH);
  auto errors = library.Get<decltype(qxmodinst_standin_errors)>("qxmodinst_standin_errors");
  auto open = library.Get<decltype(qxModInst_OpenInstalledDevicesSession)>(kEntries[0]);
  ASSERT_TRUE(errors && open);
  char text[512];
  errors(text, sizeof text);
  EXPECT_STREQ(text,
               "QXMODINST_OPEN_DELAY_MS='abc' is not a number in the allowed range; ignored\n"
               "QXMODINST_OPEN_STATUS='-5x' is not a number in the allowed range; ignored\n"
               "QXMODINST_OPEN_ZERO_SESSION='2' is not a number in the allowed range; ignored");
  int32_t session = 0;
  int32_t count = -1;
  EXPECT_EQ(open("qxModularInstrument", &session, &count), 0);
  EXPECT_GT(session, 0);
  EXPECT_EQ(count, 0);
}

}  // namespace

// The file back end when memory runs out. This executable is linked with
// --wrap for malloc, calloc and realloc, so every allocation the library
// makes passes through the wrappers below; a case lets the first n through
// and fails the next one, for every n until a run completes. Each run must
// answer out of memory or succeed (an allocation that only sizes arrays ahead
// may fail unnoticed), never crash, and leave the file either as it was or as
// fully saved; the sanitizer and valgrind runs check that
// nothing leaks on the way.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/configuration.h"
#include "velmora/velmora.h"

namespace {

long g_allowed = -1;  // allocations still let through; negative: all of them
bool g_injected = false;

bool FailThisOne() {
  if (g_allowed < 0) return false;
  if (g_allowed-- > 0) return false;
  g_injected = true;
  return true;
}

}  // namespace

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);

void *__wrap_malloc(size_t size) {
  return FailThisOne() ? nullptr : __real_malloc(size);
}
void *__wrap_calloc(size_t count, size_t size) {
  return FailThisOne() ? nullptr : __real_calloc(count, size);
}
void *__wrap_realloc(void *block, size_t size) {
  return FailThisOne() ? nullptr : __real_realloc(block, size);
}
}  // extern "C"

namespace {

constexpr const char *kStore =
    "[Driver acmeScope]\n"
    "Classes = IviDriver, IviScope\n"
    "[Device Rack1Slot2]\n"
    "[Session \"Bench3 \\\"A\\\"\"]\n"
    "Driver = acmeScope\n"
    "Channels = CH[1..2], TRIG\n"
    "[LogicalName Bench3.Scope]\n";

constexpr const char *kSaved =
    "[Driver acmeScope]\n"
    "Classes = IviDriver, IviScope\n"
    "[Session \"Bench3 \\\"A\\\"\"]\n"
    "Driver = acmeScope\n"
    "Channels = CH[1..2], TRIG\n"
    "Description = scope\n"
    "[LogicalName Bench3.Scope]\n"
    "Session = Bench3 \"A\"\n"  // a value needs no quotes for quotes inside
    "\n"
    "[Session Meter7]\n";

// Opens, reads, edits and saves; answers the first failure, which must be
// out of memory. Whatever happens, nothing stays open.
int32_t Scenario(const std::string &path) {
  IviIniHandle h = nullptr;
  int32_t status = IviIni_OpenIniFile(path.c_str(), &h);
  if (status != kIviIniSuccess) return status;
  const char *session = "Bench3 \"A\"";
  int32_t count = 0;
  char buffer[64];
  const char *name = nullptr;
  int32_t (*const steps[])(IviIniHandle, const char *, char *, int32_t *, const char **) = {
      [](IviIniHandle c, const char *, char *, int32_t *n, const char **) {
        return IviIni_GetNumberOfVIs(c, n);
      },
      [](IviIniHandle c, const char *, char *, int32_t *, const char **out) {
        return IviIni_GetNthVI(c, 1, out);
      },
      [](IviIniHandle c, const char *s, char *b, int32_t *, const char **) {
        return IviIni_GetVIDriver(c, s, b, 64);
      },
      [](IviIniHandle c, const char *, char *, int32_t *n, const char **) {
        return IviIni_GetDriverClassCount(c, "acmeScope", n);
      },
      [](IviIniHandle c, const char *s, char *, int32_t *, const char **out) {
        // The channel calls answer 0 whatever happens; a failure shows as no name.
        IviIni_GetNthChannel(c, s, 3, out);
        return *out != nullptr ? kIviIniSuccess : static_cast<int32_t>(kIviIniOutOfMemory);
      },
      [](IviIniHandle c, const char *s, char *, int32_t *, const char **) {
        return IviIni_SetVIDescription(c, s, "scope");
      },
      [](IviIniHandle c, const char *s, char *, int32_t *, const char **) {
        return IviIni_SetLogicalNameVI(c, "Bench3.Scope", s);
      },
      [](IviIniHandle c, const char *, char *, int32_t *, const char **) {
        return IviIni_RemoveDevice(c, "Rack1Slot2");
      },
      [](IviIniHandle c, const char *, char *, int32_t *, const char **) {
        return IviIni_AddVI(c, "Meter7");
      },
  };
  for (auto step : steps) {
    name = nullptr;
    status = step(h, session, buffer, &count, &name);
    if (status != kIviIniSuccess) {
      IviIni_CloseIniFile(h, 0);
      return status;
    }
  }
  status = IviIni_CloseIniFile(h, 1);
  if (status != kIviIniSuccess) IviIni_CloseIniFile(h, 0);
  return status;
}

TEST(FileStoreOutOfMemory, EveryFailedAllocationAnswersOutOfMemoryAndLosesNothing) {
  std::string pattern = ::testing::TempDir() + "velmora-oom-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string path = pattern + "/store.ini";
  auto read = [&path] {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };

  long runs = 0;
  for (long allowed = 0; allowed < 100000; ++allowed, ++runs) {
    std::ofstream(path, std::ios::trunc) << kStore;
    g_injected = false;
    g_allowed = allowed;
    const int32_t status = Scenario(path);
    g_allowed = -1;
    SCOPED_TRACE("allocation " + std::to_string(allowed + 1));
    EXPECT_EQ(velmora::RegistryCount(), 0);
    if (!g_injected) {
      EXPECT_EQ(status, kIviIniSuccess);
      EXPECT_EQ(read(), kSaved);
      break;
    }
    // Some allocations only size arrays ahead: without them the run succeeds.
    ASSERT_TRUE(status == kIviIniOutOfMemory || status == kIviIniSuccess) << status;
    const std::string text = read();
    EXPECT_TRUE(text == kStore || text == kSaved) << text;
    if (status == kIviIniSuccess) {
      EXPECT_EQ(text, kSaved);
    }
  }
  EXPECT_GT(runs, 20) << "the scenario allocates less than it should";
  std::filesystem::remove_all(pattern);
}

}  // namespace

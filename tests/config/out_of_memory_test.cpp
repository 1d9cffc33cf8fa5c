// Opening when memory runs out. This executable is linked with
// --wrap=calloc,--wrap=realloc, so the library's allocations pass through the
// wrappers below, which fail the next call on request.
#include <stdlib.h>

#include "tests/config/store_fixture.h"

namespace {

bool g_failNextCalloc = false;
bool g_failNextRealloc = false;

}  // namespace

extern "C" {
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);

void *__wrap_calloc(size_t count, size_t size) {
  if (g_failNextCalloc) {
    g_failNextCalloc = false;
    return nullptr;
  }
  return __real_calloc(count, size);
}

void *__wrap_realloc(void *block, size_t size) {
  if (g_failNextRealloc) {
    g_failNextRealloc = false;
    return nullptr;
  }
  return __real_realloc(block, size);
}
}  // extern "C"

namespace {

IniConfiguration *const kSentinel = reinterpret_cast<IniConfiguration *>(uintptr_t{0xBADC0DE0});

using OutOfMemory = StoreTest;

TEST_F(OutOfMemory, NoRoomForTheConfigurationAnswersOutOfMemoryAndNullsTheHandle) {
  const std::string path = Write("a.txt", "");
  g_failNextCalloc = true;
  IviIniHandle h = kSentinel;
  EXPECT_EQ(IviIni_OpenIniFile(path.c_str(), &h), kIviIniOutOfMemory);
  EXPECT_FALSE(g_failNextCalloc) << "the configuration was not allocated with calloc";
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(velmora::RegistryEntries(), nullptr);
  EXPECT_TRUE(memstore::Trace().empty());
}

TEST_F(OutOfMemory, RegistryThatCannotGrowStaysAsItWas) {
  IviIniHandle open = OpenText("", "open.txt");
  IniConfiguration *const *entries = velmora::RegistryEntries();
  g_failNextRealloc = true;
  IviIniHandle h = kSentinel;
  EXPECT_EQ(IviIni_OpenIniFile(Write("b.txt", "").c_str(), &h), kIviIniOutOfMemory);
  EXPECT_FALSE(g_failNextRealloc) << "the registry did not grow with realloc";
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(velmora::RegistryCount(), 1);
  EXPECT_EQ(velmora::RegistryEntries(), entries);
  EXPECT_EQ(velmora::RegistryEntries()[0], open);
  EXPECT_TRUE(memstore::Trace().empty());

  // The registry still grows once memory is back.
  IviIniHandle next = nullptr;
  EXPECT_EQ(IviIni_OpenIniFile(Write("c.txt", "").c_str(), &next), kIviIniSuccess);
  EXPECT_EQ(velmora::RegistryCount(), 2);
}

}  // namespace

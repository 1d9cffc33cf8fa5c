// The request running out of memory in its own work (copying, merging,
// indexing and sorting its lists), at every allocation it makes in turn: it
// must answer 6, never let an exception reach the host, give back every
// host handle it took, and leave the plug-in answering correctly afterwards.
//
// This program replaces the global operator new to fail on demand, and
// interposes the host's functions so that the host stand-in's own
// allocations (made on the plug-in's behalf, reported as host statuses)
// are never the ones that fail.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

#define EXPORTED __attribute__((visibility("default")))

namespace {

// Armed on the requesting thread only: the n-th allocation from arming
// fails (once), unless it is made inside a host call.
thread_local bool armed = false;
thread_local int64_t countdown = 0;
thread_local int insideHost = 0;
thread_local bool fired = false;

void *Allocate(std::size_t size) {
  if (armed && insideHost == 0 && --countdown == 0) {
    armed = false;
    fired = true;
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

// Calls into the host stand-in are made with failures held off.
struct InHost {
  InHost() { ++insideHost; }
  ~InHost() { --insideHost; }
};

template <class Fn>
Fn Real(const char *name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

EXPORTED void *operator new(std::size_t size) {
  if (void *p = Allocate(size)) return p;
  throw std::bad_alloc();
}
EXPORTED void *operator new[](std::size_t size) {
  if (void *p = Allocate(size)) return p;
  throw std::bad_alloc();
}
EXPORTED void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  return Allocate(size);
}
EXPORTED void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  return Allocate(size);
}
EXPORTED void operator delete(void *p) noexcept {
  std::free(p);
}
EXPORTED void operator delete[](void *p) noexcept {
  std::free(p);
}
EXPORTED void operator delete(void *p, std::size_t) noexcept {
  std::free(p);
}
EXPORTED void operator delete[](void *p, std::size_t) noexcept {
  std::free(p);
}

#define HOST_WRAPPER(result, name, params, args)            \
  extern "C" EXPORTED result name params {                  \
    static const auto real = Real<result(*) params>(#name); \
    InHost inHost;                                          \
    return real args;                                       \
  }
HOST_WRAPPER(HxHandle, DSNewHandle, (size_t size), (size))
HOST_WRAPPER(HxHandle, DSNewHClr, (size_t size), (size))
HOST_WRAPPER(MgErr, DSDisposeHandle, (HxHandle h), (h))
HOST_WRAPPER(int32_t, PStrCmp, (ConstPStr a, ConstPStr b), (a, b))
HOST_WRAPPER(MgErr, HxVariantPStrGetUI32Attr, (HxVariantRef * v, ConstPStr n, uint32_t *x),
             (v, n, x))
HOST_WRAPPER(MgErr, HxVariantPStrGetStringAttr, (HxVariantRef * v, ConstPStr n, HxHandle *x),
             (v, n, x))
HOST_WRAPPER(MgErr, HxVariantPStrSetUI32Attr, (HxVariantRef * v, ConstPStr n, uint32_t x),
             (v, n, x))
HOST_WRAPPER(MgErr, HxVariantPStrSetStringAttr, (HxVariantRef * v, ConstPStr n, HxHandle x),
             (v, n, x))
HOST_WRAPPER(MgErr, GetIOControlOpenSessionsEx,
             (uint32_t c, ConstPStr k, HxVariantRef p, int32_t one, HxHandle *s), (c, k, p, one, s))
#undef HOST_WRAPPER

namespace hxtest {
namespace {

struct Outcome {
  int32_t status;
  bool fired;
  Rendered result;
};

// One cached-lists request with the n-th plug-in allocation failing (0: none).
Outcome AskFailing(const Plugin &plugin, HxVariantRef properties, int64_t failing) {
  HxHandle names = nullptr;
  fired = false;
  armed = failing > 0;
  countdown = failing;
  int32_t status = -1;
  try {
    status = Request(plugin, &names, properties, kModeCached);
  } catch (...) {
    ADD_FAILURE() << "an exception crossed GetIOControlNames at allocation " << failing;
  }
  armed = false;
  return Outcome{status, fired, TakeList(names)};
}

// Counts the allocations one request makes.
int64_t AllocationsPerRequest(const Plugin &plugin, HxVariantRef properties) {
  const int64_t plenty = int64_t{1} << 40;
  countdown = plenty;
  armed = true;
  HxHandle names = nullptr;
  Request(plugin, &names, properties, kModeCached);
  armed = false;
  TakeList(names);
  return plenty - countdown;
}

void SweepAllocations(const Plugin &plugin, HxVariantRef properties, int64_t step) {
  const Rendered expected = AskFailing(plugin, properties, 0).result;
  const int64_t total = AllocationsPerRequest(plugin, properties);
  ASSERT_GT(total, 20);
  int64_t failures = 0;
  for (int64_t n = 1; n <= total; n += step) {
    const Outcome outcome = AskFailing(plugin, properties, n);
    ASSERT_TRUE(outcome.fired) << "allocation " << n << " of " << total << " never came";
    EXPECT_EQ(6, outcome.status) << "allocation " << n << " of " << total;
    ++failures;
    EXPECT_EQ(0, hxhost_handles_outstanding()) << "allocation " << n;
    EXPECT_EQ(1, hxhost_variants_outstanding()) << "allocation " << n;
    // Nothing the failed request did spoils the next one.
    const Outcome after = AskFailing(plugin, properties, 0);
    ASSERT_EQ(0, after.status) << "after allocation " << n;
    ASSERT_EQ(expected, after.result) << "after allocation " << n;
  }
  EXPECT_GT(failures, 0);
  EXPECT_EQ(0u, hxhost_invalid_dispose_count());
}

TEST(RequestMemory, EveryFailedAllocationAnswersSixAndLeavesNothingBehind) {
  // Names too long for a string's inline buffer, so that copying an entry
  // allocates too.
  DevicesFile devices({"ModularInstrumentSlot2 | DMM | acmeDmm-digital-multimeter",
                       "ModularInstrumentSlot3 | Scope | acmeScope-oscilloscope",
                       "ModularInstrumentSlot4 | DMM | acmeDmm-digital-multimeter"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  hxhost_sessions_add("OpenedFromSlotTwoSession", "ModularInstrumentSlot2");
  hxhost_sessions_add("modularinstrumentslot3", "nowhere-to-be-found");
  hxhost_sessions_add("LooseSessionWithoutOrigin", nullptr);
  const Plugin &plugin = LoadPlugin();
  Properties properties(0x3000u, "Ivi");
  const Rendered settled = BindAndSettle(plugin, properties.get());
  ASSERT_EQ((Rendered{"LooseSessionWithoutOrigin +g", "ModularInstrumentSlot2",
                      "ModularInstrumentSlot3 +g", "ModularInstrumentSlot4",
                      "OpenedFromSlotTwoSession +g", "#-1", "#3", "#2"}),
            settled);
  SweepAllocations(plugin, properties.get(), 1);
}

// Large enough for the merge and the fold to search through name indexes.
TEST(RequestMemory, FailuresWhileIndexingLargeListsAnswerSixToo) {
  std::vector<std::string> lines;
  for (int i = 0; i < 400; ++i) lines.push_back("Meter" + std::to_string(i) + " | c | p");
  DevicesFile devices(lines);
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  for (int i = 0; i < 300; ++i) {
    const std::string orig = i % 2 == 0 ? "meter" + std::to_string(i) : "none";
    hxhost_sessions_add(("Sess" + std::to_string(i)).c_str(), orig.c_str());
  }
  const Plugin &plugin = LoadPlugin();
  Properties properties;
  BindAndSettle(plugin, properties.get());
  SweepAllocations(plugin, properties.get(), 97);
}

// A binding that runs out of memory at any allocation, before or after it
// opened the library, leaves nothing of it loaded: here the library lacks
// an entry, so the binding fails even where memory does not run out.
TEST(BindingMemory, EveryFailedAllocationLeavesTheLibraryUnloaded) {
  setenv("VELMORA_HX_CONFIG_LIBRARY", CONFIG_LIBRARY_WITHOUT_ENTRY, 1);
  const Plugin &plugin = LoadPlugin();
  for (int64_t n = 1;; ++n) {
    fired = false;
    armed = true;
    countdown = n;
    const int32_t status = plugin.IviIni_ReloadConfiguration(nullptr);
    armed = false;
    EXPECT_EQ(-1, status) << "allocation " << n;
    void *left = dlopen(CONFIG_LIBRARY_WITHOUT_ENTRY, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(nullptr, left) << "the library stayed loaded after allocation " << n;
    if (left != nullptr) dlclose(left);
    if (!fired) break;
  }
}

}  // namespace
}  // namespace hxtest

// What outlives whom: the plug-in's code after the host unloads it, its
// lists after the process starts to exit, and a worker whose thread cannot
// be started at all. The last two run in child processes (death-test style),
// since they end a process or take away its right to start threads.
#include <dlfcn.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {
namespace {

using GetNamesFn = int32_t (*)(uint32_t, ConstPStr, void *, HxHandle *, HxVariantRef, uint32_t);

// In a child process: reports a failed check on stderr and ends the child
// with a code the parent's expectation does not accept.
void Require(bool holds, const char *what) {
  if (holds) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::fflush(stderr);
  _exit(3);
}

TEST(Lifetime, CodeStaysMappedWhileAWorkerOutlivesTheHostsUnload) {
  qxmodinst_standin_set_open_delay_ms(300);
  void *library = dlopen(PluginPath(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << dlerror();
  auto getNames = reinterpret_cast<GetNamesFn>(dlsym(library, "GetIOControlNames"));
  ASSERT_NE(nullptr, getNames);
  Properties properties;
  HxHandle names = nullptr;
  // Starts the loader, which now sits in the discovery library's slow open.
  ASSERT_EQ(2, getNames(0, IviClass(), nullptr, &names, properties.get(), 1));
  ASSERT_EQ(0, dlclose(library));

  // The host let go of its only reference while the loader ran, yet the
  // plug-in is still mapped, and the loader finishes its run in it.
  void *still = dlopen(PluginPath(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(nullptr, still) << "the plug-in was unmapped under a running worker";
  getNames = reinterpret_cast<GetNamesFn>(dlsym(still, "GetIOControlNames"));
  ASSERT_TRUE(WaitUntil(
      [&] {
        const int32_t status = getNames(0, IviClass(), nullptr, &names, properties.get(), 2);
        TakeList(names);
        names = nullptr;
        return status == 0;
      },
      "the loader to finish after the unload"));
  dlclose(still);
}

// ---- Exit while a worker runs ---------------------------------------------

// The class as a constant: the harness's own is destroyed during exit.
const unsigned char kIviClass[] = {3, 'I', 'V', 'I'};
const Plugin *exitingPlugin = nullptr;
HxVariantRef exitingProperties = nullptr;

// Runs after every destructor the plug-in might have registered (it was
// registered before the plug-in was loaded): waits until the running worker
// has refilled its list, reading it through requests, as a host thread
// still running at exit would.
void AfterPluginDestructors() {
  // Polls for up to a minute: only a failing case waits that long.
  for (int attempt = 0; attempt < 12000; ++attempt) {
    HxHandle names = nullptr;
    const int32_t status =
        exitingPlugin->GetIOControlNames(0, kIviClass, nullptr, &names, exitingProperties, 2);
    if (status != 0) std::fprintf(stderr, "status %d\n", status);
    Require(status == 0, "a request during exit succeeds");
    const Rendered rendered = TakeList(names);
    if (rendered == Rendered{"Rack1Slot7", "#-1", "#3", "#2"}) _exit(0);
    usleep(5000);
  }
  Require(false, "the worker finished during exit");
}

[[noreturn]] void ExitWhileTheWorkerRuns() {
  // The stand-ins keep their state in objects made on first use; made now,
  // they are destroyed only after the handler has run.
  hxhost_reset();
  qxmodinst_standin_reset();
  std::atexit(AfterPluginDestructors);
  DevicesFile devices({"Rack1Slot2 | DMM | acmeDmm"});
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  exitingPlugin = &LoadPlugin();
  exitingProperties = hxhost_variant_new();
  hxhost_variant_set_u32(exitingProperties, "displayFilter", 0x3000);
  BindAndSettle(*exitingPlugin, exitingProperties);
  devices.Write({"Rack1Slot7 | DMM | acmeDmm"});
  qxmodinst_standin_set_open_delay_ms(300);
  HxHandle names = nullptr;
  Require(
      exitingPlugin->GetIOControlNames(0, IviClass(), nullptr, &names, exitingProperties, 1) == 0,
      "the full refresh that starts the worker");
  TakeList(names);
  std::exit(0);
}

TEST(Lifetime, ListsAndWorkersSurviveTheProcessExitTheyRunInto) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(ExitWhileTheWorkerRuns(), testing::ExitedWithCode(0), "");
}

// ---- No thread can be started ---------------------------------------------

// Takes away the right to start threads (RLIMIT_NPROC, which root ignores:
// root first becomes nobody) or gives it back. Answers false when the limit
// cannot be set.
bool LimitThreads(bool limited) {
  static bool dropped = false;
  if (!dropped && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return false;
    dropped = true;
  }
  rlimit limit{};
  if (getrlimit(RLIMIT_NPROC, &limit) != 0) return false;
  limit.rlim_cur = limited ? 0 : limit.rlim_max;
  return setrlimit(RLIMIT_NPROC, &limit) == 0;
}

[[noreturn]] void RequestWithoutThreads() {
  DevicesFile devices({"Rack1Slot2 | DMM | acmeDmm"});
  // Readable, and replaceable, after the switch to nobody.
  chmod(devices.path().substr(0, devices.path().rfind('/')).c_str(), 0777);
  chmod(devices.path().c_str(), 0644);
  qxmodinst_standin_set_devices_file(devices.path().c_str());
  const Plugin &plugin = LoadPlugin();
  Properties properties;
  if (!LimitThreads(true)) _exit(77);

  // The loader cannot start: the request says "binding" as always, and so
  // does the next one, which tries again.
  HxHandle names = nullptr;
  for (int i = 0; i < 3; ++i) {
    Require(Request(plugin, &names, properties.get(), kModeFull) == kBinding,
            "binding answered while no loader can start");
  }
  Require(names == nullptr, "names untouched");
  Require(Discovery().opens == 0, "no loader ran");

  // With threads allowed again a later request starts the loader.
  Require(LimitThreads(false), "threads allowed again");
  Require(RequestUntilBound(plugin, &names, properties.get(), kModeFull) == kOk, "bound");
  TakeList(names);
  Require(TakeList(RequestUntilSettled(plugin, properties.get())) ==
              Rendered{"Rack1Slot2", "#-1", "#3", "#2"},
          "settled on the device");

  // The discovery worker cannot start either: a full refresh answers from
  // the cached list without searching, as if it had not been started.
  const int64_t opens = Discovery().opens;
  devices.Write({"Rack1Slot3 | DMM | acmeDmm"});
  Require(LimitThreads(true), "threads limited again");
  names = nullptr;
  Require(Request(plugin, &names, properties.get(), kModeFull) == kOk,
          "full refresh without a worker");
  Require(TakeList(names) == Rendered{"Rack1Slot2", "#-1", "#3", "#2"},
          "the cached list, not searching");
  Require(Discovery().opens == opens, "no discovery run");
  Require(LimitThreads(false), "threads allowed again");
  names = nullptr;
  Require(Request(plugin, &names, properties.get(), kModeFull) == kOk,
          "full refresh with a worker");
  TakeList(names);
  Require(TakeList(RequestUntilSettled(plugin, properties.get())) ==
              Rendered{"Rack1Slot3", "#-1", "#3", "#2"},
          "the restarted worker's list");
  std::fflush(stderr);
  _exit(0);
}

TEST(Lifetime, FailedThreadStartsLeaveTheWorkersFreeToStartLater) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RequestWithoutThreads(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hxtest

// The plug-in with a configuration library bound on opt-in: libvelmora's
// file store, built in this tree, names the "IVI" control's logical names.
// Every case runs in its own process and sets the two variables a host user
// sets (the library, the store) before the plug-in binds.
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "binding_dlopen_probe.h"
#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace hxtest {
namespace {

constexpr const char *kLibraryVariable = "VELMORA_HX_CONFIG_LIBRARY";

// Two drivers of different classes, a session on each, a logical name on
// each session.
const std::string kStore = R"([Driver acmeScope]
Prefix = acmeScope
Classes = IviDriver, IviScope
[Driver acmeDmm]
Prefix = acmeDmm
Classes = IviDriver, IviDmm
[Session ScopeSession]
Driver = acmeScope
[Session DmmSession]
Driver = acmeDmm
[LogicalName Bench3.Scope]
Session = ScopeSession
[LogicalName Meter7]
Session = DmmSession
)";
const std::string kAnotherName = "[LogicalName Bench2.Gen]\nSession = ScopeSession\n";
const std::string kBadStore = "[LogicalName\n";

// The store file, in a fresh folder. Each write replaces the file the way an
// editor saves it, often within the same second as the previous one: the
// store's change test must see it all the same.
class StoreFile {
 public:
  StoreFile() {
    char folder[] = "/tmp/velmora-store-binding-XXXXXX";
    if (mkdtemp(folder) == nullptr) ADD_FAILURE() << "mkdtemp";
    dir_ = folder;
    path_ = dir_ + "/store.ini";
  }
  ~StoreFile() {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  StoreFile(const StoreFile &) = delete;
  StoreFile &operator=(const StoreFile &) = delete;

  const std::string &path() const { return path_; }
  void Write(const std::string &text) {
    const std::string temporary = dir_ + "/store.ini.new";
    FILE *file = std::fopen(temporary.c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fputs(text.c_str(), file);
    std::fclose(file);
    ASSERT_EQ(0, rename(temporary.c_str(), path_.c_str()));
  }

 private:
  std::string dir_;
  std::string path_;
};

// Each case binds the library it names (none: the variable stays unset).
class StoreBinding : public testing::Test {
 protected:
  void Bind(const char *library = VELMORA_FILE_FLAVOUR_PATH) {
    if (library != nullptr) setenv(kLibraryVariable, library, 1);
    setenv("VELMORA_STORE", store_.path().c_str(), 1);
    qxmodinst_standin_set_devices_file(devices_.path().c_str());
  }
  Rendered Ask(uint32_t mode) { return RequestRendered(plugin_, properties_.get(), mode); }
  Rendered Settled() { return TakeList(RequestUntilSettled(plugin_, properties_.get())); }
  // A result without the "<Searching for more>" marker and the entry before it.
  static Rendered WithoutMarker(Rendered shown) {
    const auto marker = std::find(shown.begin(), shown.end(), kMarker);
    if (marker != shown.end()) shown.erase(marker - 1, marker + 1);
    return shown;
  }

  StoreFile store_;
  DevicesFile devices_{{"Rack1Slot2 | DMM | acmeDmm"}};
  const Plugin &plugin_ = LoadPlugin();
  Properties properties_;
};

const Rendered kBothNames = {"Bench3.Scope", "Meter7", "Rack1Slot2", "#-1", "#3", "#2"};
const Rendered kDevicesOnly = {"Rack1Slot2", "#-1", "#3", "#2"};

TEST_F(StoreBinding, EditsShowInTheModesThatRefresh) {
  store_.Write(kStore);
  Bind();
  EXPECT_EQ(kBothNames, BindAndSettle(plugin_, properties_.get()));
  // Without a discovery session no request restarts discovery. The release
  // closed the configuration too; a full refresh brings it up again on the
  // source's worker, showing the names it had meanwhile.
  EXPECT_EQ(0, plugin_.ReleasingAppRef(nullptr));
  EXPECT_EQ(kBothNames, WithoutMarker(Ask(kModeFull)));
  EXPECT_EQ(kBothNames, Settled());

  store_.Write(kStore + kAnotherName);
  EXPECT_EQ(kBothNames, Ask(kModeCached));
  const Rendered three = {"Bench2.Gen", "Bench3.Scope", "Meter7", "Rack1Slot2", "#-1", "#3", "#2"};
  EXPECT_EQ(three, Ask(kModeChanged));
  EXPECT_EQ(three, Ask(kModeChanged));

  store_.Write(kAnotherName);
  EXPECT_EQ(three, Ask(kModeCached));
  EXPECT_EQ((Rendered{"Bench2.Gen", "Rack1Slot2", "#-1", "#3", "#2"}), Ask(kModeFull));
}

// A store that cannot be opened, missing or refused, leaves the IVI list
// empty. Mode 0 tries again once the rescan is due, mode 1 at once: mending
// the file is enough.
class UnopenedStore : public StoreBinding, public testing::WithParamInterface<std::string> {};

TEST_P(UnopenedStore, IsTriedAgainUntilMended) {
  if (!GetParam().empty()) store_.Write(GetParam());
  Bind();
  FreezeFakeClock();
  {
    StderrCapture capture;
    EXPECT_EQ(kDevicesOnly, BindAndSettle(plugin_, properties_.get()));
    // The library's status: the store's "not found" (-1301) or "bad header" (-1308).
    EXPECT_NE(std::string::npos,
              capture.Text().find(std::string("IVI configuration store not opened: status ") +
                                  (GetParam().empty() ? "-1301" : "-1308")))
        << capture.Text();
  }
  store_.Write(kStore);
  EXPECT_EQ(kDevicesOnly, Settled());
  AdvanceFakeClock(21);
  EXPECT_EQ(kBothNames, Settled());

  // Broken again and released: a full refresh tries at once, and keeps the
  // names it had.
  store_.Write(kBadStore);
  EXPECT_EQ(0, plugin_.ReleasingAppRef(nullptr));
  {
    StderrCapture capture;
    Ask(kModeFull);
    EXPECT_EQ(kBothNames, Settled());
    EXPECT_NE(std::string::npos, capture.Text().find("status -1308")) << capture.Text();
  }
  store_.Write(kStore + kAnotherName);
  Ask(kModeFull);
  EXPECT_EQ((Rendered{"Bench2.Gen", "Bench3.Scope", "Meter7", "Rack1Slot2", "#-1", "#3", "#2"}),
            Settled());
}
INSTANTIATE_TEST_SUITE_P(MissingOrRefused, UnopenedStore, testing::Values("", kBadStore),
                         [](const testing::TestParamInfo<std::string> &store) {
                           return std::string(store.param.empty() ? "Missing" : "Refused");
                         });

// The control's filters and an open session named like a logical name, as
// the host sees them: the session marks the name open and is listed once; a
// class filter keeps the names of that class.
TEST_F(StoreBinding, FiltersAndOpenSessionsApplyToLogicalNames) {
  store_.Write(kStore);
  Bind();
  BindAndSettle(plugin_, properties_.get());
  hxhost_sessions_add("meter7", "Meter7");
  hxhost_sessions_add("MyScope", "Bench3.Scope");
  struct Case {
    std::optional<uint32_t> displayFilter;
    std::optional<std::string> typeClass;
    Rendered shown;
  };
  const Case cases[] = {
      {0x3000,
       std::nullopt,
       {"Bench3.Scope", "Meter7 +g", "MyScope +g", "Rack1Slot2", "#-1", "#3", "#2"}},
      {0x3000, "IviDmm", {"Meter7 +g", "#-1", "#3", "#2"}},
      {0x3000, "acmeScope", {"Bench3.Scope", "MyScope +g", "#-1", "#3", "#2"}},
      {0x2000, std::nullopt, {"#3", "#2"}},
  };
  for (const Case &c : cases) {
    Properties properties(c.displayFilter, c.typeClass);
    EXPECT_EQ(c.shown, RequestRendered(plugin_, properties.get(), kModeChanged))
        << c.typeClass.value_or("(no class)") << " " << *c.displayFilter;
  }
}

// Unset, nothing but the discovery library is ever loaded, and every
// configuration export answers 0 without writing.
TEST_F(StoreBinding, WithoutTheVariableNoConfigurationLibraryIsLoaded) {
  store_.Write(kStore);
  Bind(nullptr);
  EXPECT_EQ(kDevicesOnly, BindAndSettle(plugin_, properties_.get()));
  int32_t count = 7;
  void *handle = &count;
  EXPECT_EQ(0, plugin_.IviIni_OpenIniFile(store_.path().c_str(), &handle));
  EXPECT_EQ(0, plugin_.IviIni_GetNumberOfLogicalNames(handle, &count));
  EXPECT_EQ(7, count);
  for (const bindtest::DlopenCall &call : bindtest::DlopenCalls()) {
    if (call.name != PluginPath()) {
      EXPECT_EQ("libqxmodinst.so", call.name);
    }
  }
}

// A library that cannot be had, or lacks an entry: the IVI list stays empty,
// the discovered instruments are served, one trace line names the library
// and what was missing, and a later call binds once the library is there.
TEST_F(StoreBinding, AnUnbindableLibraryIsNamedInOneTraceLineAndTriedAgain) {
  store_.Write(kStore);
  struct Case {
    std::string library;
    std::string missing;
  };
  const Case cases[] = {{"libno-such-store.so.1", "libno-such-store.so.1: cannot open"},
                        {CONFIG_LIBRARY_WITHOUT_ENTRY, "IviIni_GetDriverPrefix"}};
  for (const Case &c : cases) {
    Bind(c.library.c_str());
    StderrCapture capture;
    // The loader tries first; the exports try again.
    if (&c == cases) {
      EXPECT_EQ(kDevicesOnly, BindAndSettle(plugin_, properties_.get()));
    } else {
      EXPECT_EQ(-1, plugin_.IviIni_ReloadConfiguration(nullptr));
    }
    const std::string trace = capture.Text();
    const std::string line = "configuration library " + c.library + " not bound: {";
    const size_t at = trace.find(line);
    ASSERT_NE(std::string::npos, at) << trace;
    EXPECT_EQ(std::string::npos, trace.find(line, at + 1)) << trace;
    EXPECT_NE(std::string::npos, trace.substr(at, trace.find('\n', at) - at).find(c.missing))
        << trace;
    int32_t count = 7;
    EXPECT_EQ(0, plugin_.IviIni_GetNumberOfLogicalNames(nullptr, &count));
    EXPECT_EQ(7, count);
  }

  Bind();
  void *handle = nullptr;
  EXPECT_EQ(0, plugin_.IviIni_OpenIniFile(store_.path().c_str(), &handle));
  ASSERT_NE(nullptr, handle);
  int32_t count = -1;
  EXPECT_EQ(0, plugin_.IviIni_GetNumberOfLogicalNames(handle, &count));
  EXPECT_EQ(2, count);
  EXPECT_EQ(0, plugin_.IviIni_CloseIniFile(handle, 0));
}

// The forwarders pass their arguments to the library and its answers back.
TEST_F(StoreBinding, ExportsAnswerThroughTheLibrary) {
  store_.Write(kStore);
  Bind();
  void *handle = nullptr;
  ASSERT_EQ(0, plugin_.IviIni_OpenIniFile(nullptr, &handle));
  ASSERT_NE(nullptr, handle);
  const char *name = nullptr;
  EXPECT_EQ(0, plugin_.IviIni_GetNthLogicalName(handle, 2, &name));
  EXPECT_STREQ("Meter7", name);
  char text[64] = "";
  EXPECT_EQ(0, plugin_.IviIni_GetLogicalNameVI(handle, "Meter7", text, sizeof text));
  EXPECT_STREQ("DmmSession", text);
  EXPECT_EQ(0, plugin_.IviIni_GetVIDriver(handle, "DmmSession", text, sizeof text));
  EXPECT_STREQ("acmeDmm", text);
  EXPECT_EQ(0, plugin_.IviIni_GetDriverClass(handle, "acmeDmm", text, sizeof text));
  EXPECT_STREQ("IviDmm", text);
  int32_t classes = 0;
  EXPECT_EQ(0, plugin_.IviIni_GetDriverClassCount(handle, "acmeScope", &classes));
  EXPECT_EQ(1, classes);
  EXPECT_EQ(0, plugin_.IviIni_GetDriverClassByIndex(handle, "acmeScope", 1, text, sizeof text));
  EXPECT_STREQ("IviScope", text);
  // A size beyond the signed range still names a large enough buffer.
  EXPECT_EQ(0, plugin_.IviIni_GetDriverPrefix(handle, "acmeScope", text, 0x80000000u));
  EXPECT_STREQ("acmeScope", text);
  // The library asks for more room with the size the value needs.
  EXPECT_EQ(10, plugin_.IviIni_GetDriverPrefix(handle, "acmeScope", text, 4));
  uint8_t changed = 2;
  EXPECT_EQ(0, plugin_.IviIni_ConfigurationChanged(handle, &changed));
  EXPECT_EQ(0, changed);
  // An edit in the same second is a change, and a reload takes it.
  store_.Write(kStore + kAnotherName);
  EXPECT_EQ(0, plugin_.IviIni_ConfigurationChanged(handle, &changed));
  EXPECT_EQ(1, changed);
  EXPECT_EQ(0, plugin_.IviIni_ReloadConfiguration(handle));
  int32_t count = 0;
  EXPECT_EQ(0, plugin_.IviIni_GetNumberOfLogicalNames(handle, &count));
  EXPECT_EQ(3, count);
  EXPECT_EQ(0, plugin_.IviIni_CloseIniFile(handle, 0));
  EXPECT_EQ(-3, plugin_.IviIni_ReloadConfiguration(handle));
}

// Closing through the plug-in saves exactly when the flag says so (any
// non-zero byte): the edit, made through the library the plug-in bound (the
// same one, loaded once), is in the file or not.
TEST_F(StoreBinding, ClosingThroughThePluginSavesOnANonZeroFlag) {
  using SetFn = int32_t (*)(void *, const char *, const char *);
  void *library = dlopen(VELMORA_FILE_FLAVOUR_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library);
  const auto set = reinterpret_cast<SetFn>(dlsym(library, "IviIni_SetLogicalNameDescription"));
  ASSERT_NE(nullptr, set);
  Bind();
  for (const uint8_t flag : {uint8_t{0}, uint8_t{1}, uint8_t{0x80}, uint8_t{0xFF}}) {
    store_.Write(kStore);
    void *handle = nullptr;
    ASSERT_EQ(0, plugin_.IviIni_OpenIniFile(nullptr, &handle));
    ASSERT_EQ(0, set(handle, "Meter7", "Bench meter"));
    EXPECT_EQ(0, plugin_.IviIni_CloseIniFile(handle, flag));
    FILE *file = std::fopen(store_.path().c_str(), "r");
    ASSERT_NE(nullptr, file);
    std::string text(4096, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    EXPECT_EQ(flag != 0, text.find("Description = Bench meter") != std::string::npos)
        << "flag " << int{flag};
  }
  dlclose(library);
}

// The loader worker and two host threads calling the exports bind the
// library at the same time: it is loaded once, and no caller sees it half
// bound (run under ThreadSanitizer too).
TEST_F(StoreBinding, TheLoaderAndTheExportsBindTheLibraryOnce) {
  store_.Write(kStore);
  Bind();
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  auto caller = [&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < 50; ++i) {
      // Opening binds when nothing has yet.
      void *handle = nullptr;
      int32_t count = -1;
      if (plugin_.IviIni_OpenIniFile(nullptr, &handle) != 0 || handle == nullptr) ++wrong;
      if (plugin_.IviIni_GetNumberOfLogicalNames(handle, &count) != 0 || count != 2) ++wrong;
      if (plugin_.IviIni_CloseIniFile(handle, 0) != 0) ++wrong;
    }
  };
  std::thread first(caller);
  std::thread second(caller);
  go = true;
  HxHandle names = nullptr;
  EXPECT_EQ(kOk, RequestUntilBound(plugin_, &names, properties_.get(), kModeFull));
  TakeList(names);
  first.join();
  second.join();
  EXPECT_EQ(0, wrong.load());
  int loads = 0;
  for (const auto &call : bindtest::DlopenCallsNaming(VELMORA_FILE_FLAVOUR_PATH)) {
    loads += call.loaded ? 1 : 0;
  }
  EXPECT_EQ(1, loads);
  // The bound request may have found the library busy with an export and
  // kept the list as it was, or started the store's worker; the next
  // requests, even in mode 0, owe it a rebuild. Whether discovery ran
  // depends on when the exports closed its session.
  const Rendered listed = Settled();
  ASSERT_GE(listed.size(), 2u);
  EXPECT_EQ((Rendered{"Bench3.Scope", "Meter7"}), Rendered(listed.begin(), listed.begin() + 2));
}

// A request lets go of its lock while it pauses for the discovery worker; a
// full refresh by another request then publishes a new IVI list. The first
// request's open sessions must still be matched against the list it shows.
std::atomic<std::thread::id> pausingThread{};
std::function<void()> onPause;

TEST_F(StoreBinding, SessionsAreMatchedAgainstTheIviListTheRequestShows) {
  store_.Write(kStore);
  Bind();
  BindAndSettle(plugin_, properties_.get());
  // Opened from Meter7, an IviDmm: a control for scopes leaves it out.
  hxhost_sessions_add("MySession", "Meter7");
  Properties scopes(0x3000u, std::string("IviScope"));

  qxmodinst_standin_hold_session_calls(1);
  EXPECT_EQ((Rendered{"Bench3.Scope", "#6", kMarker, "#-1", "#3", "#2"}),
            RequestRendered(plugin_, scopes.get(), kModeFull));
  Rendered other;
  onPause = [&] {
    store_.Write(kAnotherName);  // Meter7 is gone from the store
    std::thread([&] { other = RequestRendered(plugin_, scopes.get(), kModeFull); }).join();
  };
  pausingThread = std::this_thread::get_id();
  const Rendered shown = RequestRendered(plugin_, scopes.get(), kModeChanged);
  pausingThread = std::thread::id();
  qxmodinst_standin_hold_session_calls(0);
  // The other request matched the session against the new list, which no
  // longer knows where it came from: it is listed unfiltered.
  EXPECT_EQ((Rendered{"MySession +g", "#6", kMarker, "#-1", "#3", "#2"}), other);
  EXPECT_EQ((Rendered{"Bench3.Scope", "#6", kMarker, "#-1", "#3", "#2"}), shown);
}

}  // namespace
}  // namespace hxtest

// The plug-in's one pause for the discovery worker, interposed for the
// whole test process (the plug-in resolves nanosleep against the executable
// first): on the thread a test names, it runs the test's step first.
extern "C" __attribute__((visibility("default"))) int nanosleep(const timespec *request,
                                                                timespec *remaining) {
  using NanosleepFn = int (*)(const timespec *, timespec *);
  static const auto next = reinterpret_cast<NanosleepFn>(dlsym(RTLD_NEXT, "nanosleep"));
  if (std::this_thread::get_id() == hxtest::pausingThread.load() && hxtest::onPause) {
    hxtest::pausingThread = std::thread::id();
    std::exchange(hxtest::onPause, nullptr)();
  }
  return next(request, remaining);
}

// Name requests with the configuration library bound: libvelmora's file
// store, built in this tree, lists the logical names of a store of N names.
//
// - BM_RebuildChangedStore: a mode-0 request on a store whose file changed
//   since the last one, so that it reloads the store and rebuilds the IVI
//   list; against libvelmora opening the same store and reading each logical
//   name with the four look-ups the rebuild makes, in the same iteration.
// - BM_RequestWithStore: 10,000 logical names, 10,000 devices, 1,000 open
//   sessions and 1,000 VISA resources (the VISA stand-in bound as the VISA
//   library), mode 0 with nothing changed; against a strcasecmp sort of
//   every name the request returns.
// - BM_ChangeTest: what mode 0 adds when the store is unchanged, one
//   IviIni_ConfigurationChanged, against a stat of the store file.
//
// The plug-in's own time is the request's wall time less the time the host
// stand-in counts inside its functions (see request_bench.cpp).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hxhost_standin.h"
#include "qxmodinst_standin.h"
#include "velmora/velmora_hx.h"

namespace {

using Clock = std::chrono::steady_clock;

const unsigned char kIvi[] = {3, 'I', 'V', 'I'};
constexpr uint32_t kModeChanged = 0;
constexpr uint32_t kModeFull = 1;
constexpr int kDrivers = 100;
constexpr int kTextSize = 256;

double Nanoseconds(Clock::duration d) {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
}

std::string LogicalName(int i) {
  return "Bench" + std::to_string(i / 18 + 1) + ".Unit" + std::to_string(i % 18 + 2);
}

// libvelmora's entries, reached directly through the library the plug-in
// binds (the same instance: dlopen hands out the loaded one).
struct Velmora {
  int32_t (*open)(const char *, void **);
  int32_t (*close)(void *, uint8_t);
  int32_t (*changed)(void *, uint8_t *);
  int32_t (*count)(void *, int32_t *);
  int32_t (*nth)(void *, int32_t, const char **);
  int32_t (*text[4])(void *, const char *, char *, int32_t);  // VI, driver, class, prefix
};

const Velmora &Library() {
  static const Velmora velmora = [] {
    void *library = dlopen(VELMORA_FILE_FLAVOUR_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) std::abort();
    auto entry = [library](const char *name) {
      void *address = dlsym(library, name);
      if (address == nullptr) std::abort();
      return address;
    };
    Velmora v{};
    v.open = reinterpret_cast<decltype(v.open)>(entry("IviIni_OpenIniFile"));
    v.close = reinterpret_cast<decltype(v.close)>(entry("IviIni_CloseIniFile"));
    v.changed = reinterpret_cast<decltype(v.changed)>(entry("IviIni_ConfigurationChanged"));
    v.count = reinterpret_cast<decltype(v.count)>(entry("IviIni_GetNumberOfLogicalNames"));
    v.nth = reinterpret_cast<decltype(v.nth)>(entry("IviIni_GetNthLogicalName"));
    const char *texts[4] = {"IviIni_GetLogicalNameVI", "IviIni_GetVIDriver",
                            "IviIni_GetDriverClass", "IviIni_GetDriverPrefix"};
    for (int i = 0; i < 4; ++i) {
      v.text[i] =
          reinterpret_cast<int32_t (*)(void *, const char *, char *, int32_t)>(entry(texts[i]));
    }
    return v;
  }();
  return velmora;
}

// What the plug-in's rebuild does, straight through the library: open the
// store, then each logical name and its session, driver, class and prefix.
size_t OpenAndReadNames(const std::string &path) {
  const Velmora &v = Library();
  void *handle = nullptr;
  if (v.open(path.c_str(), &handle) != 0) std::abort();
  int32_t count = 0;
  v.count(handle, &count);
  size_t bytes = 0;
  for (int32_t i = 1; i <= count; ++i) {
    const char *name = nullptr;
    v.nth(handle, i, &name);
    char session[kTextSize] = "", driver[kTextSize] = "", cls[kTextSize] = "",
         prefix[kTextSize] = "";
    v.text[0](handle, name, session, kTextSize);
    v.text[1](handle, session, driver, kTextSize);
    v.text[2](handle, driver, cls, kTextSize);
    v.text[3](handle, driver, prefix, kTextSize);
    bytes += std::string(name).size() + std::string(cls).size() + std::string(prefix).size();
  }
  v.close(handle, 0);
  return bytes;
}

// The store, devices and sessions of one installation, in a folder of their
// own; the plug-in is bound to the store on first use.
class Installation {
 public:
  Installation() {
    char folder[] = "/tmp/velmora-store-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    dir_ = folder;
    setenv("VELMORA_HX_CONFIG_LIBRARY", VELMORA_FILE_FLAVOUR_PATH, 1);
    setenv("VELMORA_STORE", Store().c_str(), 1);
    setenv("VELMORA_HX_VISA_LIBRARY", VISA_STANDIN_PATH, 1);
    setenv("VISA_STANDIN_RESOURCES", Resources().c_str(), 1);
    properties_ = hxhost_variant_new();
    hxhost_variant_set_u32(properties_, "displayFilter", 0x3000);
  }

  std::string Store() const { return dir_ + "/store.ini"; }
  std::string Resources() const { return dir_ + "/visa.txt"; }

  // Makes the installation this size; answers the names a request returns.
  const std::vector<std::string> &Resize(int logicalNames, int devices, int sessions, int visa) {
    if (logicalNames == names_ && devices == devices_ && sessions == sessions_ && visa == visa_) {
      return returned_;
    }
    names_ = logicalNames;
    devices_ = devices;
    sessions_ = sessions;
    visa_ = visa;
    returned_.clear();
    WriteStore();
    std::ofstream resources(Resources());
    for (int i = 0; i < visa; ++i) {
      const std::string name =
          "TCPIP0::10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + "::INSTR";
      resources << name << "\n";
      returned_.push_back(name);
    }
    resources.close();
    const std::string devicesPath = dir_ + "/devices.txt";
    std::ofstream out(devicesPath);
    for (int i = 0; i < devices; ++i) {
      out << "Rack" << i / 18 + 1 << "Slot" << i % 18 + 2 << " | cls | acmeDmm\n";
      returned_.push_back("Rack" + std::to_string(i / 18 + 1) + "Slot" +
                          std::to_string(i % 18 + 2));
    }
    out.close();
    qxmodinst_standin_set_devices_file(devicesPath.c_str());
    hxhost_sessions_clear();
    for (int i = 0; i < sessions; ++i) {
      // Half named like a logical name (marking it open), half of their own.
      const std::string name =
          i % 2 == 0 ? LogicalName(i * 7 % logicalNames) : "Session" + std::to_string(i);
      hxhost_sessions_add(name.c_str(), LogicalName(i * 7 % logicalNames).c_str());
      if (i % 2 != 0) returned_.push_back(name);
    }
    for (int i = 0; i < logicalNames; ++i) returned_.push_back(LogicalName(i));
    // Bind on first use, then a full refresh lists everything.
    // Names, a separator after each non-empty section, two tail entries.
    const int32_t expected = Expected();
    while (Count(kModeFull) == -2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (Count(kModeChanged) != expected)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return returned_;
  }

  int32_t Expected() const { return static_cast<int32_t>(returned_.size()) + (visa_ > 0 ? 4 : 3); }

  // A new modification time, as an editor's save gives it.
  void Touch() {
    const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) + ++touches_, 0}};
    utimensat(AT_FDCWD, Store().c_str(), times, 0);
  }

  int32_t Ask(HxHandle *names, uint32_t mode) {
    return GetIOControlNames(0, kIvi, nullptr, names, properties_, mode);
  }

 private:
  int32_t Count(uint32_t mode) {
    HxHandle names = nullptr;
    const int32_t status = Ask(&names, mode);
    const int32_t count = status == 0 ? hxhost_list_count(names) : -1;
    if (names != nullptr) hxhost_dispose_list(names);
    return status == 2 ? -2 : count;
  }

  void WriteStore() {
    std::ofstream out(Store() + ".new");
    for (int d = 0; d < kDrivers; ++d) {
      out << "[Driver acmeDrv" << d << "]\nPrefix = acmeDrv" << d << "\nClasses = IviDriver, "
          << (d % 2 ? "IviDmm" : "IviScope") << "\n\n";
    }
    // In no particular order, as a store that grew over the years.
    std::vector<int> order(static_cast<size_t>(names_));
    for (int i = 0; i < names_; ++i) order[static_cast<size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (const int i : order) {
      out << "[Session Sess" << i << "]\nDriver = acmeDrv" << i % kDrivers << "\n\n";
      out << "[LogicalName " << LogicalName(i) << "]\nSession = Sess" << i << "\n\n";
    }
    out.close();
    rename((Store() + ".new").c_str(), Store().c_str());
    Touch();
  }

  std::string dir_;
  HxVariantRef properties_ = nullptr;
  int names_ = -1, devices_ = -1, sessions_ = -1, visa_ = -1;
  int touches_ = 0;
  std::vector<std::string> returned_;
};

Installation &TheInstallation() {
  static Installation *installation = new Installation;
  return *installation;
}

// One timed request: the plug-in's own time (wall time less the host's).
// The VISA list counts as changed every 20 s, so now and then an answer is
// searching (VISA left out, the marker added): counted, not refused.
double PluginNanoseconds(Installation &at, uint32_t mode, benchmark::State &state,
                         int64_t *searching) {
  HxHandle names = nullptr;
  hxhost_timing(1);
  const auto start = Clock::now();
  const int32_t status = at.Ask(&names, mode);
  const double wall = Nanoseconds(Clock::now() - start);
  hxhost_timing(0);
  if (status != 0) state.SkipWithError("unexpected answer");
  if (hxhost_list_count(names) != at.Expected()) ++*searching;
  hxhost_dispose_list(names);
  return wall - static_cast<double>(hxhost_timed_nanoseconds());
}

void BM_RebuildChangedStore(benchmark::State &state) {
  Installation &at = TheInstallation();
  const int n = static_cast<int>(state.range(0));
  at.Resize(n, 0, 0, 0);
  double plugin = 0, baseline = 0;
  int64_t searching = 0;
  for (auto _ : state) {
    at.Touch();
    const double own = PluginNanoseconds(at, kModeChanged, state, &searching);
    plugin += own;
    state.SetIterationTime(own / 1e9);
    const auto start = Clock::now();
    benchmark::DoNotOptimize(OpenAndReadNames(at.Store()));
    baseline += Nanoseconds(Clock::now() - start);
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["plugin_ms"] = plugin / iterations / 1e6;
  state.counters["open_and_read_ms"] = baseline / iterations / 1e6;
  state.counters["plugin_per_baseline"] = plugin / baseline;
  state.counters["plugin_ns_per_name"] = plugin / iterations / n;
  state.counters["searching"] = static_cast<double>(searching);
}
BENCHMARK(BM_RebuildChangedStore)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void RequestWithStore(benchmark::State &state, MgErr sessionsStatus) {
  Installation &at = TheInstallation();
  const std::vector<std::string> &returned = at.Resize(10000, 10000, 1000, 1000);
  hxhost_sessions_set_status(sessionsStatus);
  double plugin = 0, sort = 0;
  int64_t searching = 0;
  for (auto _ : state) {
    const double own = PluginNanoseconds(at, kModeChanged, state, &searching);
    plugin += own;
    state.SetIterationTime(own / 1e9);
    std::vector<std::string> copy = returned;
    const auto start = Clock::now();
    std::sort(copy.begin(), copy.end(), [](const std::string &a, const std::string &b) {
      return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    sort += Nanoseconds(Clock::now() - start);
    benchmark::DoNotOptimize(copy.data());
  }
  hxhost_sessions_set_status(0);
  const double iterations = static_cast<double>(state.iterations());
  state.counters["entries"] = at.Expected();
  state.counters["searching"] = static_cast<double>(searching);
  state.counters["plugin_ms"] = plugin / iterations / 1e6;
  state.counters["sort_ms"] = sort / iterations / 1e6;
  state.counters["plugin_per_sort"] = plugin / sort;
}

void BM_RequestWithStoreSessionsReadAnew(benchmark::State &state) {
  RequestWithStore(state, 0);
}
BENCHMARK(BM_RequestWithStoreSessionsReadAnew)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_RequestWithStoreSessionsUnchanged(benchmark::State &state) {
  RequestWithStore(state, HXHOST_SESSIONS_UNCHANGED);
}
BENCHMARK(BM_RequestWithStoreSessionsUnchanged)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ChangeTest(benchmark::State &state) {
  Installation &at = TheInstallation();
  at.Resize(1000, 0, 0, 0);
  const Velmora &v = Library();
  void *handle = nullptr;
  if (v.open(at.Store().c_str(), &handle) != 0) std::abort();
  double test = 0, stats = 0;
  for (auto _ : state) {
    uint8_t changed = 0;
    auto start = Clock::now();
    v.changed(handle, &changed);
    test += Nanoseconds(Clock::now() - start);
    struct stat info {};
    start = Clock::now();
    stat(at.Store().c_str(), &info);
    stats += Nanoseconds(Clock::now() - start);
    benchmark::DoNotOptimize(changed);
  }
  v.close(handle, 0);
  state.counters["change_test_ns"] = test / static_cast<double>(state.iterations());
  state.counters["stat_ns"] = stats / static_cast<double>(state.iterations());
  state.counters["test_per_stat"] = test / stats;
}
BENCHMARK(BM_ChangeTest);

}  // namespace

// The file store at the size of a large site: 10,000 sessions, 10,000
// logical names, 100 drivers and 1,000 devices, about 2 MB of text. Each
// measurement has its baseline in the same program:
//   opening the store (IviIni_OpenIniFile + close)   vs reading the file and counting its lines
//   the library's peak heap while opening            vs the file's size
//   findItem by name in that store                   vs findItem in a store of 10 sessions
//   the plug-in's by-name reads at 10k and 100k      vs the same reads in a store of 10
//   removing or editing every session, last first    vs the same, first first; 10k to 300k
//   saving after one change at 10k and 100k sessions,  vs writing the same bytes once, and
//   replacing the file or in place                       writing them with fsync and rename
// The program is linked with --wrap for the allocator, so that it can count
// the heap the library holds (see PeakHeap).
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "config/backend.h"
#include "config/configuration.h"
#include "config/object_guard.h"
#include "config/store_file/file_system.h"
#include "velmora/velmora.h"

// ---- The library's heap, counted ---------------------------------------------------
// Every allocation of the library's objects linked into this program goes
// through these; the benchmark library and libstdc++ allocate elsewhere.

namespace {
size_t g_liveHeap = 0;
size_t g_peakHeap = 0;

void Took(void *block) {
  if (block == nullptr) return;
  g_liveHeap += malloc_usable_size(block);
  if (g_liveHeap > g_peakHeap) g_peakHeap = g_liveHeap;
}
void Gave(void *block) {
  if (block != nullptr) g_liveHeap -= malloc_usable_size(block);
}
}  // namespace

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
void __real_free(void *block);

void *__wrap_malloc(size_t size) {
  void *block = __real_malloc(size);
  Took(block);
  return block;
}
void *__wrap_calloc(size_t count, size_t size) {
  void *block = __real_calloc(count, size);
  Took(block);
  return block;
}
void *__wrap_realloc(void *block, size_t size) {
  const size_t before = block != nullptr ? malloc_usable_size(block) : 0;
  void *moved = __real_realloc(block, size);
  if (moved == nullptr) return nullptr;
  g_liveHeap -= before;
  Took(moved);
  return moved;
}
void __wrap_free(void *block) {
  Gave(block);
  __real_free(block);
}
}  // extern "C"

namespace {

// A store of the given size with invented names, written once per program
// into a private folder.
std::string MakeStore(int sessions, int logicalNames, int drivers, int devices,
                      std::vector<std::string> *sessionNames) {
  std::string text = "# Site configuration, generated for the store benchmark.\n\n";
  for (int d = 0; d < drivers; ++d) {
    const std::string name = "acmeDrv" + std::to_string(d);
    text += "[Driver " + name + "]\nDescription = Driver number " + std::to_string(d) +
            "\nModule = lib" + name + ".so\nPrefix = " + name +
            "\nClasses = IviDriver, IviScope, IviDigitizer\n\n";
  }
  for (int d = 0; d < devices; ++d) {
    text += "[Device Rack" + std::to_string(d / 20) + "Slot" + std::to_string(d % 20) +
            "]\nDescription = Instrument in rack " + std::to_string(d / 20) +
            "\nResource = TCPIP0::10.0." + std::to_string(d / 250) + "." + std::to_string(d % 250) +
            "::INSTR\n\n";
  }
  for (int s = 0; s < sessions; ++s) {
    const std::string name = "Bench" + std::to_string(s) + ".Scope";
    if (sessionNames != nullptr) sessionNames->push_back(name);
    const int device = s % devices;
    text += "[Session " + name + "]\nDescription = Scope session " + std::to_string(s) +
            "\nDriver = acmeDrv" + std::to_string(s % drivers) + "\nDevice = Rack" +
            std::to_string(device / 20) + "Slot" + std::to_string(device % 20) +
            "\nSimulate = false\nChannels = CH[1..4], TRIG\n\n";
  }
  for (int l = 0; l < logicalNames; ++l) {
    text += "[LogicalName Scope" + std::to_string(l) + "]\nDescription = Production scope " +
            std::to_string(l) + "\nSession = Bench" + std::to_string(l % sessions) + ".Scope\n\n";
  }
  return text;
}

class Site {
 public:
  Site() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/velmora-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    folder_ = pattern;
    large_ = folder_ + "/site.ini";
    small_ = folder_ + "/small.ini";
    text_ = MakeStore(10000, 10000, 100, 1000, &largeNames_);
    std::ofstream(large_, std::ios::binary) << text_;
    std::ofstream(small_, std::ios::binary) << MakeStore(10, 10, 2, 5, &smallNames_);
    // Looked up in an order unrelated to the file's.
    std::shuffle(largeNames_.begin(), largeNames_.end(), std::mt19937(42u));
  }
  ~Site() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string folder_, large_, small_, text_;
  std::vector<std::string> largeNames_, smallNames_;
};

Site &TheSite() {
  static Site site;
  return site;
}

void BM_ReadFileAndCountLines(benchmark::State &state) {
  const Site &site = TheSite();
  for (auto _ : state) {
    const int fd = open(site.large_.c_str(), O_RDONLY);
    const off_t size = lseek(fd, 0, SEEK_END);
    lseek(fd, 0, SEEK_SET);
    char *data = static_cast<char *>(malloc(static_cast<size_t>(size)));
    if (read(fd, data, static_cast<size_t>(size)) != size) state.SkipWithError("short read");
    close(fd);
    size_t lines = 0;
    for (const char *p = data, *end = data + size;
         (p = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr;
         ++p) {
      ++lines;
    }
    benchmark::DoNotOptimize(lines);
    free(data);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(site.text_.size()));
}
BENCHMARK(BM_ReadFileAndCountLines)->Unit(benchmark::kMillisecond);

void BM_OpenStore(benchmark::State &state) {
  const Site &site = TheSite();
  for (auto _ : state) {
    IviIniHandle h = nullptr;
    if (IviIni_OpenIniFile(site.large_.c_str(), &h) != kIviIniSuccess) state.SkipWithError("open");
    IviIni_CloseIniFile(h, 0);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(site.text_.size()));
}
BENCHMARK(BM_OpenStore)->Unit(benchmark::kMillisecond);

// findItem of every session name in turn, through the back end's table.
void FindItems(benchmark::State &state, const std::string &path,
               const std::vector<std::string> &names) {
  IviIniHandle h = nullptr;
  if (IviIni_OpenIniFile(path.c_str(), &h) != kIviIniSuccess) {
    state.SkipWithError("open");
    return;
  }
  velmora::ObjectGuard sessions;
  velmora::SessionOps.getCollection(h->state.store, sessions.out());
  size_t next = 0;
  for (auto _ : state) {
    velmora::ObjectGuard item;
    if (velmora::SessionOps.findItem(sessions.get(), names[next].c_str(), item.out()) != 0) {
      state.SkipWithError("not found");
    }
    next = next + 1 == names.size() ? 0 : next + 1;
  }
  sessions.Release();
  IviIni_CloseIniFile(h, 0);
}

void BM_FindItemInLargeStore(benchmark::State &state) {
  FindItems(state, TheSite().large_, TheSite().largeNames_);
}
BENCHMARK(BM_FindItemInLargeStore);

void BM_FindItemInStoreOf10(benchmark::State &state) {
  FindItems(state, TheSite().small_, TheSite().smallNames_);
}
BENCHMARK(BM_FindItemInStoreOf10);

// The library's peak heap while it opens the site's store, against the
// file's size: the text, the items and the indexes, all at once.
void BM_PeakHeapOfOpening(benchmark::State &state) {
  const Site &site = TheSite();
  for (auto _ : state) {
    const size_t before = g_liveHeap;
    g_peakHeap = before;
    IviIniHandle h = nullptr;
    if (IviIni_OpenIniFile(site.large_.c_str(), &h) != kIviIniSuccess) state.SkipWithError("open");
    IviIni_CloseIniFile(h, 0);
    state.counters["peak_per_file_byte"] =
        static_cast<double>(g_peakHeap - before) / static_cast<double>(site.text_.size());
  }
  state.counters["file_bytes"] = static_cast<double>(site.text_.size());
}
BENCHMARK(BM_PeakHeapOfOpening)->Unit(benchmark::kMillisecond)->Iterations(3);

// Stores of `sessions` sessions and as many logical names, written once.
struct SizedStore {
  std::string path;
  std::vector<std::string> logicalNames;  // in file order
  std::vector<std::string> sessions;
  size_t bytes;
};

const SizedStore &StoreOfSize(int sessions, bool logicalNames) {
  static std::map<std::pair<int, bool>, SizedStore> stores;
  SizedStore &store = stores[{sessions, logicalNames}];
  if (!store.path.empty()) return store;
  store.path = TheSite().folder_ + "/sized-" + std::to_string(sessions) +
               (logicalNames ? "-named" : "") + ".ini";
  const int drivers = std::min(100, std::max(2, sessions / 100));
  const int devices = std::min(1000, std::max(5, sessions / 10));
  const std::string text =
      MakeStore(sessions, logicalNames ? sessions : 0, drivers, devices, &store.sessions);
  std::ofstream(store.path, std::ios::binary) << text;
  store.bytes = text.size();
  for (int l = 0; logicalNames && l < sessions; ++l) {
    store.logicalNames.push_back("Scope" + std::to_string(l));
  }
  return store;
}

// What the plug-in does for each logical name when it rebuilds its list:
// the n-th name, then four reads by name through the C interface (the
// session, its driver, the driver's class and prefix). Reported per call;
// range(0) is the store's size, range(1) 1 for names taken in a random
// order rather than the file's.
void BM_ReadByName(benchmark::State &state) {
  const SizedStore &store = StoreOfSize(static_cast<int>(state.range(0)), true);
  IviIniHandle h = nullptr;
  if (IviIni_OpenIniFile(store.path.c_str(), &h) != kIviIniSuccess) {
    state.SkipWithError("open");
    return;
  }
  std::vector<int32_t> order(store.logicalNames.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i) + 1;
  if (state.range(1) != 0) std::shuffle(order.begin(), order.end(), std::mt19937(7u));
  char session[512], driver[512], text[512];
  size_t next = 0;
  for (auto _ : state) {
    const char *name = nullptr;
    IviIni_GetNthLogicalName(h, order[next], &name);
    IviIni_GetLogicalNameVI(h, name, session, sizeof session);
    IviIni_GetVIDriver(h, session, driver, sizeof driver);
    IviIni_GetDriverClass(h, driver, text, sizeof text);
    if (IviIni_GetDriverPrefix(h, driver, text, sizeof text) != kIviIniSuccess) {
      state.SkipWithError("read");
    }
    next = next + 1 == order.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(state.iterations() * 5);  // calls
  IviIni_CloseIniFile(h, 0);
}
BENCHMARK(BM_ReadByName)
    ->ArgsProduct({{10, 10000, 100000}, {0, 1}})
    ->ArgNames({"names", "shuffled"});

// Every session removed (range(1) 0) or given a new description (1), by
// name through the C interface, in file order (range(2) 0) or last first
// (1). The open and close around it are not timed.
void BM_EditEverySession(benchmark::State &state) {
  const SizedStore &store = StoreOfSize(static_cast<int>(state.range(0)), false);
  std::vector<std::string> names = store.sessions;
  if (state.range(2) != 0) std::reverse(names.begin(), names.end());
  const bool remove = state.range(1) == 0;
  for (auto _ : state) {
    state.PauseTiming();
    IviIniHandle h = nullptr;
    if (IviIni_OpenIniFile(store.path.c_str(), &h) != kIviIniSuccess) state.SkipWithError("open");
    state.ResumeTiming();
    for (const std::string &name : names) {
      const int32_t status = remove ? IviIni_RemoveVI(h, name.c_str())
                                    : IviIni_SetVIDescription(h, name.c_str(), "edited");
      if (status != kIviIniSuccess) state.SkipWithError("edit");
    }
    state.PauseTiming();
    IviIni_CloseIniFile(h, 0);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}
BENCHMARK(BM_EditEverySession)
    ->ArgsProduct({{10000, 100000, 300000}, {0, 1}, {0, 1}})
    ->ArgNames({"sessions", "describe", "last_first"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// One description changed, then the whole store saved, at 10,000 and
// 100,000 sessions (as many logical names): the lock, the temporary, fsync,
// the check that the file still holds the bytes last written (read back and
// summed), the rename and the folder's fsync. range(1) 1 saves in place
// instead (as a bind-mounted store is): the old bytes to a recovery file,
// both flushed, the new bytes over the old.
void BM_SaveAfterOneChange(benchmark::State &state) {
  const SizedStore &store = StoreOfSize(static_cast<int>(state.range(0)), true);
  const std::string path = TheSite().folder_ + "/saved-" + std::to_string(state.range(0)) + ".ini";
  std::filesystem::copy_file(store.path, path, std::filesystem::copy_options::overwrite_existing);
  velmora::store::FileSystem inPlace = velmora::store::SystemFileSystem();
  inPlace.mountOf = [](int fd, uint64_t *mount) {
    struct stat info;
    if (fstat(fd, &info) != 0) return -1;
    *mount = S_ISDIR(info.st_mode) ? 1 : 2;  // every file on a mount of its own
    return 0;
  };
  if (state.range(1) != 0) velmora::store::UseFileSystem(&inPlace);
  IviIniHandle h = nullptr;
  if (IviIni_OpenIniFile(path.c_str(), &h) != kIviIniSuccess) {
    state.SkipWithError("open");
    velmora::store::UseFileSystem(nullptr);
    return;
  }
  const std::string &session = store.sessions[store.sessions.size() / 2];
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string description = "changed " + std::to_string(round++ % 10);
    IviIni_SetVIDescription(h, session.c_str(), description.c_str());
    state.ResumeTiming();
    if (velmora::SaveStore(h->state.store, h->state.location) != kIviIniSuccess) {
      state.SkipWithError("save");
    }
  }
  state.counters["file_bytes"] = static_cast<double>(store.bytes);
  IviIni_CloseIniFile(h, 0);
  velmora::store::UseFileSystem(nullptr);
}
BENCHMARK(BM_SaveAfterOneChange)
    ->ArgsProduct({{10000, 100000}, {0, 1}})
    ->ArgNames({"sessions", "in_place"})
    ->Unit(benchmark::kMillisecond);

// What a program pays for IviIni_CloseIniFile with save after one change:
// the open and the change are not timed. Its file still holds the bytes the
// store loaded, which the save compares with the file directly; the
// benchmark above saves one store again and again, which compares by the
// checksum of what it wrote last. range(0) sessions, as above.
void BM_CloseWithSaveAfterOneChange(benchmark::State &state) {
  const SizedStore &store = StoreOfSize(static_cast<int>(state.range(0)), true);
  const std::string path = TheSite().folder_ + "/closed-" + std::to_string(state.range(0)) + ".ini";
  std::filesystem::copy_file(store.path, path, std::filesystem::copy_options::overwrite_existing);
  const std::string &session = store.sessions[store.sessions.size() / 2];
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    IviIniHandle h = nullptr;
    if (IviIni_OpenIniFile(path.c_str(), &h) != kIviIniSuccess) state.SkipWithError("open");
    const std::string description = "closed " + std::to_string(round++ % 10);
    IviIni_SetVIDescription(h, session.c_str(), description.c_str());
    state.ResumeTiming();
    if (IviIni_CloseIniFile(h, 1) != kIviIniSuccess) state.SkipWithError("save");
  }
}
BENCHMARK(BM_CloseWithSaveAfterOneChange)
    ->Arg(10000)
    ->Arg(100000)
    ->ArgName("sessions")
    ->Unit(benchmark::kMillisecond);

// Baselines: the same bytes written once, and written as safely as a save
// (fsync and rename); range(0) as for the save.
void WriteOnce(benchmark::State &state, bool safely) {
  const SizedStore &store = StoreOfSize(static_cast<int>(state.range(0)), true);
  std::ifstream in(store.path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string target = TheSite().folder_ + "/written.ini";
  const std::string temporary = target + ".tmp";
  for (auto _ : state) {
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      state.SkipWithError("write");
    }
    if (safely) fsync(fd);
    close(fd);
    if (safely) rename(temporary.c_str(), target.c_str());
  }
  unlink(temporary.c_str());
  unlink(target.c_str());
}

void BM_WriteFileOnce(benchmark::State &state) {
  WriteOnce(state, false);
}
BENCHMARK(BM_WriteFileOnce)->Arg(10000)->Arg(100000)->ArgName("sessions")->Unit(benchmark::kMillisecond);

void BM_WriteFileOnceWithFsyncAndRename(benchmark::State &state) {
  WriteOnce(state, true);
}
BENCHMARK(BM_WriteFileOnceWithFsyncAndRename)
    ->Arg(10000)
    ->Arg(100000)
    ->ArgName("sessions")
    ->Unit(benchmark::kMillisecond);

}  // namespace

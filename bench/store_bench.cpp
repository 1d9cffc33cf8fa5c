// The file store at the size of a large site: 10,000 sessions, 10,000
// logical names, 100 drivers and 1,000 devices, about 2 MB of text. Each
// measurement has its baseline in the same program:
//   opening the store (IviIni_OpenIniFile + close)   vs reading the file and counting its lines
//   findItem by name in that store                   vs findItem in a store of 10 sessions
//   saving after one change (temporary, fsync, rename) vs writing the file once, and
//                                                      writing it with fsync and rename
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "config/backend.h"
#include "config/configuration.h"
#include "config/object_guard.h"
#include "velmora/velmora.h"

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
    copy_ = folder_ + "/copy.ini";
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

  std::string folder_, large_, small_, copy_, text_;
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

// One description changed, then the whole store saved: a temporary file,
// fsync, rename and the folder's fsync.
void BM_SaveAfterOneChange(benchmark::State &state) {
  const Site &site = TheSite();
  std::ofstream(site.copy_, std::ios::binary) << site.text_;
  IviIniHandle h = nullptr;
  if (IviIni_OpenIniFile(site.copy_.c_str(), &h) != kIviIniSuccess) {
    state.SkipWithError("open");
    return;
  }
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string description = "changed " + std::to_string(round++);
    IviIni_SetVIDescription(h, "Bench5000.Scope", description.c_str());
    state.ResumeTiming();
    if (velmora::SaveStore(h->state.store, h->state.location) != kIviIniSuccess) {
      state.SkipWithError("save");
    }
  }
  IviIni_CloseIniFile(h, 0);
}
BENCHMARK(BM_SaveAfterOneChange)->Unit(benchmark::kMillisecond);

// Baselines: the same bytes written once, and written as safely as a save.
void WriteOnce(benchmark::State &state, bool safely) {
  const Site &site = TheSite();
  const std::string temporary = site.copy_ + ".tmp";
  for (auto _ : state) {
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (write(fd, site.text_.data(), site.text_.size()) !=
        static_cast<ssize_t>(site.text_.size())) {
      state.SkipWithError("write");
    }
    if (safely) fsync(fd);
    close(fd);
    if (safely) rename(temporary.c_str(), site.copy_.c_str());
  }
  unlink(temporary.c_str());
}

void BM_WriteFileOnce(benchmark::State &state) {
  WriteOnce(state, false);
}
BENCHMARK(BM_WriteFileOnce)->Unit(benchmark::kMillisecond);

void BM_WriteFileOnceWithFsyncAndRename(benchmark::State &state) {
  WriteOnce(state, true);
}
BENCHMARK(BM_WriteFileOnceWithFsyncAndRename)->Unit(benchmark::kMillisecond);

}  // namespace

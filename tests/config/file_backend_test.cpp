// The library with its file back end, through the C interface: a store file
// opened, read, walked, edited and saved; what happens when saving fails at
// any step (the file store's file-system seam fails a step on request, see
// Inject), when the file system holds something other than a plain file, or
// when other processes save the same store.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/backend.h"
#include "config/configuration.h"
#include "config/store_file/file_system.h"
#include "config/store_file/store_model.h"
#include "velmora/velmora.h"

namespace {

// ---- The file-system seam -----------------------------------------------------
// The system's table, with each entry that a save or load goes through able
// to fail on request, and the trace kept for the test to read.

using velmora::store::FileStep;
using velmora::store::FileSystem;

struct Injection {
  std::string call;  // the entry to fail, or empty
  int error;         // errno it fails with; for "write", 0 means it takes nothing
  int remaining;     // failures still to come; 0: every call
  int done;          // failures so far
  std::string file;  // only calls on a descriptor of a path ending so, when not empty
};
Injection g_injection;
std::vector<std::string> g_trace;

void Inject(const std::string &call, int error, int times = 1, const std::string &file = "") {
  g_injection = {call, error, times, 0, file};
}

// The path a descriptor was opened with, as the kernel tells it.
std::string PathOf(int fd) {
  char link[64], target[4096] = {};
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  return readlink(link, target, sizeof target - 1) > 0 ? target : "";
}

bool EndsWith(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool Failing(const char *call, int fd = -1) {
  if (g_injection.call != call) return false;
  if (!g_injection.file.empty() && !EndsWith(PathOf(fd), g_injection.file)) return false;
  ++g_injection.done;
  if (g_injection.remaining > 0 && --g_injection.remaining == 0) g_injection.call.clear();
  return true;
}

const FileSystem &Real() {
  return velmora::store::SystemFileSystem();
}

// Fails with the injected errno (set last, after anything that may set it).
template <typename Result>
Result Failed() {
  errno = g_injection.error;
  return -1;
}

// Descriptors the store was handed without close-on-exec: a library inside
// someone else's process must never leak one into a program it starts.
int g_inheritable = 0;

int Opened(int fd) {
  if (fd >= 0 && (fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0) ++g_inheritable;
  return fd;
}

// Another program's doing at a moment the test chooses, instead of a race:
// once, just before the save's first flush (of its temporary, or of its
// recovery file); or before each positioned write, resize, flush or removal
// (given the call, and the path of its descriptor or the name it removes).
std::function<void()> g_beforeSync;
std::function<void(const std::string &call, const std::string &path)> g_before;
// Every file on a mount of its own, as a store bind-mounted into a container.
bool g_fileOnItsOwnMount = false;
// A file system whose modification times have whole seconds only.
bool g_secondsOnly = false;

void Before(const char *call, const std::string &path) {
  if (g_before) g_before(call, path);
}

FileSystem MakeSeam() {
  FileSystem seam = Real();
  seam.open = [](int folder, const char *path, int flags) {
    return Failing("open") ? Failed<int>() : Opened(Real().open(folder, path, flags));
  };
  seam.create = [](int folder, const char *name, int flags, mode_t mode) {
    return Failing("create") ? Failed<int>() : Opened(Real().create(folder, name, flags, mode));
  };
  seam.read = [](int fd, void *buffer, size_t size) {
    return Failing("read") ? Failed<ssize_t>() : Real().read(fd, buffer, size);
  };
  seam.write = [](int fd, const void *data, size_t size) -> ssize_t {
    if (!Failing("write")) return Real().write(fd, data, size);
    return g_injection.error == 0 ? 0 : Failed<ssize_t>();
  };
  seam.readAt = [](int fd, void *buffer, size_t size, off_t offset) {
    return Failing("readAt") ? Failed<ssize_t>() : Real().readAt(fd, buffer, size, offset);
  };
  seam.writeAt = [](int fd, const void *data, size_t size, off_t offset) -> ssize_t {
    Before("writeAt", PathOf(fd));
    if (!Failing("writeAt", fd)) return Real().writeAt(fd, data, size, offset);
    return g_injection.error == 0 ? 0 : Failed<ssize_t>();
  };
  seam.resize = [](int fd, off_t length) {
    Before("resize", PathOf(fd));
    return Failing("resize", fd) ? Failed<int>() : Real().resize(fd, length);
  };
  seam.remove = [](int folder, const char *name) {
    Before("remove", name);
    return Real().remove(folder, name);
  };
  seam.reserve = [](int fd, off_t length) {
    return Failing("reserve") ? Failed<int>() : Real().reserve(fd, length);
  };
  seam.sync = [](int fd) {
    if (g_beforeSync) {
      const std::function<void()> now = std::move(g_beforeSync);
      g_beforeSync = nullptr;
      now();
    }
    Before("sync", PathOf(fd));
    return Failing("sync", fd) ? Failed<int>() : Real().sync(fd);
  };
  seam.stat = [](int folder, const char *path, struct stat *info, int flags) {
    const int result = Real().stat(folder, path, info, flags);
    if (result == 0 && g_secondsOnly) info->st_mtim.tv_nsec = 0;
    return result;
  };
  seam.mountOf = [](int fd, uint64_t *mount) {
    struct stat info;
    if (!g_fileOnItsOwnMount || fstat(fd, &info) != 0) return Real().mountOf(fd, mount);
    *mount = S_ISDIR(info.st_mode) ? 1 : 2 + info.st_ino;
    return 0;
  };
  seam.rename = [](int folder, const char *from, const char *to) {
    return Failing("rename") ? Failed<int>() : Real().rename(folder, from, to);
  };
  seam.lock = [](int fd) {
    Before("lock", PathOf(fd));
    return Failing("lock") ? Failed<int>() : Real().lock(fd);
  };
  seam.changeMode = [](int fd, mode_t mode) {
    return Failing("changeMode") ? Failed<int>() : Real().changeMode(fd, mode);
  };
  seam.close = [](int fd) {
    const int result = Real().close(fd);
    return Failing("close") ? Failed<int>() : result;
  };
  seam.pause = [](unsigned) {};  // waiting for a lock takes no time here
  seam.trace = [](const char *line) { g_trace.push_back(line); };
  return seam;
}

const FileSystem kSeam = MakeSeam();

bool Traced(const std::string &part) {
  for (const std::string &line : g_trace) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

namespace {

constexpr const char *kBench =
    "# Bench 3, room 12\n"
    "[Driver acmeScope]\n"
    "Description = Four-channel scope\n"
    "Module = libacmeScope.so\n"
    "Prefix = acmeScope\n"
    "Classes = IviDriver, IviScope, acmeExtra, Ivi, Ividmm, IviDigitizer\n"
    "\n"
    "[Device Rack1Slot2]\n"
    "Description = Scope in rack 1\n"
    "Resource = TCPIP0::10.0.0.5::INSTR\n"
    "\n"
    "[Session Bench3.Scope]\n"
    "Driver = acmeScope\n"
    "Device = Rack1Slot2\n"
    "DriverSetup = Trace=false\n"
    "Channels = CH[1..4], TRIG, B[1..2, 5], C[-1..0]\n"
    "\n"
    "[Session Meter7]\n"
    "Driver = orionDmm\n"
    "\n"
    "[LogicalName Bench3.Scope]\n"
    "Description = Production scope\n"
    "Session = Bench3.Scope\n"
    "\n"
    "[LogicalName Spare]\n";

void WriteFileAt(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::trunc | std::ios::binary) << text;
}

std::string ReadFileAt(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> FolderEntriesOf(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class FileStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "velmora-file-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/store.ini";
    velmora::store::UseFileSystem(&kSeam);
    Inject("", 0);
    g_trace.clear();
    g_inheritable = 0;
    g_beforeSync = nullptr;
    g_before = nullptr;
    g_fileOnItsOwnMount = false;
    g_secondsOnly = false;
  }

  void TearDown() override {
    while (velmora::RegistryCount() > 0) IviIni_CloseIniFile(velmora::RegistryEntries()[0], 0);
    // Every case, whatever it opens, reads and saves.
    EXPECT_EQ(0, g_inheritable) << "descriptors opened without close-on-exec";
    velmora::store::UseFileSystem(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void WriteFile(const std::string &text) const { WriteFileAt(path_, text); }
  std::string ReadFile() const { return ReadFileAt(path_); }
  std::vector<std::string> FolderEntries() const { return FolderEntriesOf(dir_); }
  // Without the store's lock file, which stays once a save has made it.
  static std::vector<std::string> WithoutLock(std::vector<std::string> names) {
    names.erase(std::remove(names.begin(), names.end(), ".store.ini.lock"), names.end());
    return names;
  }

  IviIniHandle Open(const std::string &text) {
    WriteFile(text);
    IviIniHandle h = nullptr;
    EXPECT_EQ(IviIni_OpenIniFile(path_.c_str(), &h), kIviIniSuccess);
    return h;
  }

  // A string property through one of the get exports.
  template <typename Get>
  static std::string Text(Get get, IviIniHandle h, const char *name) {
    char buffer[256] = "(unwritten)";
    const int32_t status = get(h, name, buffer, sizeof buffer);
    return status == kIviIniSuccess ? buffer : "status " + std::to_string(status);
  }

  std::string dir_;
  std::string path_;
};

TEST_F(FileStore, EnumeratesItemsAndWalksFromLogicalNameToDriverAndDevice) {
  IviIniHandle h = Open(kBench);
  int32_t count = -1;
  const char *name = nullptr;
  EXPECT_EQ(IviIni_GetNumberOfLogicalNames(h, &count), kIviIniSuccess);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(IviIni_GetNumberOfVIs(h, &count), kIviIniSuccess);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(IviIni_GetNthVI(h, 2, &name), kIviIniSuccess);
  EXPECT_STREQ(name, "Meter7");
  EXPECT_EQ(IviIni_GetNthDevice(h, 1, &name), kIviIniSuccess);
  EXPECT_STREQ(name, "Rack1Slot2");

  const std::string session = Text(IviIni_GetLogicalNameVI, h, "Bench3.Scope");
  EXPECT_EQ(session, "Bench3.Scope");
  const std::string driver = Text(IviIni_GetVIDriver, h, session.c_str());
  EXPECT_EQ(Text(IviIni_GetDriverPrefix, h, driver.c_str()), "acmeScope");
  EXPECT_EQ(Text(IviIni_GetDriverModule, h, driver.c_str()), "libacmeScope.so");
  const std::string device = Text(IviIni_GetVIDevice, h, session.c_str());
  EXPECT_EQ(Text(IviIni_GetDeviceResourceDescriptor, h, device.c_str()), "TCPIP0::10.0.0.5::INSTR");
  EXPECT_EQ(Text(IviIni_GetVIDriverSetup, h, session.c_str()), "Trace=false");
  EXPECT_EQ(Text(IviIni_GetLogicalNameDescription, h, "Bench3.Scope"), "Production scope");
}

TEST_F(FileStore, ReferencesToMissingItemsOrNoneAnswerTheEmptyString) {
  IviIniHandle h = Open(kBench);
  // Meter7 names a driver the store lacks, and has no Device line at all.
  for (auto get : {IviIni_GetVIDriver, IviIni_GetVIDevice}) {
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(get(h, "Meter7", buffer, 0), 1);
    EXPECT_EQ(get(h, "Meter7", buffer, sizeof buffer), kIviIniSuccess);
    EXPECT_STREQ(buffer, "");
  }
  EXPECT_EQ(Text(IviIni_GetLogicalNameVI, h, "Spare"), "");
  // Unknown items are failures, not empty answers.
  EXPECT_EQ(Text(IviIni_GetVIDriver, h, "NoSuchSession"), "status -1320");
  const char *name = nullptr;
  EXPECT_EQ(IviIni_GetNthLogicalName(h, 3, &name), kIviIniStoreNoSuchItem);
  EXPECT_EQ(IviIni_GetNthLogicalName(h, 0, &name), kIviIniStoreNoSuchItem);
}

TEST_F(FileStore, ChannelsAndClassesFollowTheirLists) {
  IviIniHandle h = Open(kBench);
  int32_t count = 0;
  EXPECT_EQ(IviIni_GetNumberOfChannels(h, "Bench3.Scope", &count), kIviIniSuccess);
  EXPECT_EQ(count, 10);
  const char *expected[] = {"CH1", "CH2", "CH3", "CH4", "TRIG", "B1", "B2", "B5", "C-1", "C0"};
  for (int32_t i = 1; i <= 10; ++i) {
    const char *name = nullptr;
    EXPECT_EQ(IviIni_GetNthChannel(h, "Bench3.Scope", i, &name), kIviIniSuccess);
    EXPECT_STREQ(name, expected[i - 1]) << "channel " << i;
  }
  const char *past = nullptr;
  EXPECT_EQ(IviIni_GetNthChannel(h, "Bench3.Scope", 11, &past), kIviIniSuccess);
  EXPECT_EQ(past, nullptr);
  count = 0;
  EXPECT_EQ(IviIni_GetNumberOfChannels(h, "Meter7", &count), kIviIniSuccess);
  EXPECT_EQ(count, 0) << "a session without Channels has none";

  // IviDriver, acmeExtra, Ivi and Ividmm are no instrument classes.
  EXPECT_EQ(IviIni_GetDriverClassCount(h, "acmeScope", &count), kIviIniSuccess);
  EXPECT_EQ(count, 2);
  char buffer[32];
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h, "acmeScope", 1, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "IviScope");
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h, "acmeScope", 2, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "IviDigitizer");
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h, "acmeScope", 3, buffer, sizeof buffer),
            kIviIniClassIndexOutOfRange);
  EXPECT_EQ(IviIni_GetDriverClass(h, "acmeScope", buffer, 0), 9);
}

TEST_F(FileStore, EditsAreSavedInPlaceAndReadBack) {
  IviIniHandle h = Open(kBench);
  EXPECT_EQ(IviIni_SetVIDescription(h, "Meter7", "  bench meter  "), kIviIniSuccess);
  EXPECT_EQ(IviIni_AddDevice(h, "Meter7"), kIviIniSuccess);
  EXPECT_EQ(IviIni_SetDeviceResourceDescriptor(h, "Meter7", "GPIB0::12::INSTR"), kIviIniSuccess);
  EXPECT_EQ(IviIni_SetVIDevice(h, "Meter7", "Meter7"), kIviIniSuccess);
  EXPECT_EQ(IviIni_SetVISimulation(h, "Meter7", 5), kIviIniSuccess);
  EXPECT_EQ(IviIni_SetLogicalNameVI(h, "Spare", "Meter7"), kIviIniSuccess);
  EXPECT_EQ(IviIni_SetLogicalNameVI(h, "Spare", "NoSuchSession"), kIviIniStoreNoSuchItem);
  EXPECT_EQ(IviIni_RemoveLogicalName(h, "Bench3.Scope"), kIviIniSuccess);
  EXPECT_EQ(IviIni_AddVI(h, "Meter7"), kIviIniStoreItemExists);
  EXPECT_EQ(IviIni_AddVI(h, "two\nlines"), kIviIniStoreBadName);
  EXPECT_EQ(IviIni_SetVIDescription(h, "Meter7", "a\nb"), kIviIniStoreBadValue);
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess);

  std::string expected = kBench;
  auto replace = [&expected](const std::string &from, const std::string &to) {
    const size_t at = expected.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    expected.replace(at, from.size(), to);
  };
  replace("Driver = orionDmm\n",
          "Driver = orionDmm\nDescription = \"  bench meter  \"\nDevice = Meter7\n"
          "Simulate = true\n");
  replace("[LogicalName Bench3.Scope]\nDescription = Production scope\nSession = Bench3.Scope\n",
          "");
  expected += "Session = Meter7\n\n[Device Meter7]\nResource = GPIB0::12::INSTR\n";
  EXPECT_EQ(ReadFile(), expected);

  h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(path_.c_str(), &h), kIviIniSuccess);
  EXPECT_EQ(Text(IviIni_GetVIDescription, h, "Meter7"), "  bench meter  ");
  EXPECT_EQ(Text(IviIni_GetLogicalNameVI, h, "Spare"), "Meter7");
  EXPECT_EQ(Text(IviIni_GetDeviceResourceDescriptor, h, "Meter7"), "GPIB0::12::INSTR");
}

TEST_F(FileStore, SavingWithoutChangesLeavesTheFileAndItsTimeAlone) {
  IviIniHandle h = Open(kBench);
  const struct utimbuf old = {1000000000, 1000000000};
  ASSERT_EQ(utime(path_.c_str(), &old), 0);
  EXPECT_EQ(IviIni_SetVIDriver(h, "Bench3.Scope", "acmeScope"), kIviIniSuccess);  // same value
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess);
  struct stat info;
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1000000000);
  EXPECT_EQ(ReadFile(), kBench);
}

TEST_F(FileStore, RefusedFilesOpenNothingAndAFailedReloadKeepsTheContent) {
  WriteFile("[Session a]\nSimulate = perhaps\n");
  IviIniHandle h = reinterpret_cast<IviIniHandle>(&h);
  EXPECT_EQ(IviIni_OpenIniFile(path_.c_str(), &h), kIviIniStoreBadSimulate);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(velmora::RegistryCount(), 0);
  EXPECT_EQ(IviIni_OpenIniFile((dir_ + "/absent.ini").c_str(), &h), kIviIniStoreNotFound);

  h = Open(kBench);
  WriteFile("[Device a]\n[Device a]\n");
  EXPECT_EQ(IviIni_ReloadConfiguration(h), kIviIniStoreDuplicateSection);
  int32_t count = 0;
  EXPECT_EQ(IviIni_GetNumberOfVIs(h, &count), kIviIniSuccess);
  EXPECT_EQ(count, 2);
  WriteFile("[Session only]\n");
  EXPECT_EQ(IviIni_ReloadConfiguration(h), kIviIniSuccess);
  EXPECT_EQ(IviIni_GetNumberOfVIs(h, &count), kIviIniSuccess);
  EXPECT_EQ(count, 1);
}

TEST_F(FileStore, DefaultLocationsAreTheEnvironmentThenTheSystemStore) {
  WriteFile(kBench);
  ASSERT_EQ(setenv("VELMORA_STORE", path_.c_str(), 1), 0);
  IviIniHandle h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(nullptr, &h), kIviIniSuccess);
  EXPECT_STREQ(h->state.path, path_.c_str());
  IviIni_CloseIniFile(h, 0);

  ASSERT_EQ(setenv("VELMORA_STORE", ("/" + std::string(256, 'x')).c_str(), 1), 0);
  EXPECT_EQ(IviIni_OpenIniFile("", &h), kIviIniPathTooLong);

  ASSERT_EQ(unsetenv("VELMORA_STORE"), 0);
  char location[velmora::kPathCapacity];
  EXPECT_EQ(velmora::GetStoreString(nullptr, velmora::kStoreDefaultLocation, velmora::kPathCapacity,
                                    location),
            kIviIniSuccess);
  EXPECT_STREQ(location, "");
  EXPECT_EQ(velmora::GetStoreString(nullptr, velmora::kStoreFallbackLocation,
                                    velmora::kPathCapacity, location),
            kIviIniSuccess);
  EXPECT_STREQ(location, VELMORA_EXPECTED_SYSTEM_STORE);
}

TEST_F(FileStore, SavingThroughASymbolicLinkReplacesItsTarget) {
  const std::string link = dir_ + "/link.ini";
  WriteFile(kBench);
  ASSERT_EQ(symlink(path_.c_str(), link.c_str()), 0);
  IviIniHandle h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(link.c_str(), &h), kIviIniSuccess);
  EXPECT_EQ(IviIni_AddDevice(h, "Meter7"), kIviIniSuccess);
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess);
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadFile(), std::string(kBench) + "\n[Device Meter7]\n");
}

// ---- Saving that fails ------------------------------------------------------------

struct InjectedFailure {
  const char *call;
  int error;
  int times;  // 0: every call
  int32_t status;
  FileStep step;
};

TEST_F(FileStore, AFailedSaveLeavesTheOldFileAndNoTemporaryAndStaysOpen) {
  const InjectedFailure failures[] = {
      // Twice: a folder that cannot be read is opened again as a place to work in.
      {"open", EACCES, 2, kIviIniStoreCannotCreateTemporary, FileStep::kOpenFolder},
      {"lock", EWOULDBLOCK, 0, kIviIniStoreBusy, FileStep::kLock},
      {"create", EACCES, 1, kIviIniStoreCannotCreateTemporary, FileStep::kCreateTemporary},
      {"create", EEXIST, 0, kIviIniStoreCannotCreateTemporary, FileStep::kCreateTemporary},
      {"write", ENOSPC, 1, kIviIniStoreWriteFailed, FileStep::kWrite},
      {"write", 0, 1, kIviIniStoreWriteFailed, FileStep::kWrite},  // takes nothing
      {"changeMode", EPERM, 1, kIviIniStoreWriteFailed, FileStep::kKeepMode},
      {"sync", EIO, 1, kIviIniStoreWriteFailed, FileStep::kSync},
      {"close", EIO, 1, kIviIniStoreWriteFailed, FileStep::kClose},
      {"rename", EIO, 1, kIviIniStoreReplaceFailed, FileStep::kRename},
  };
  for (const InjectedFailure &failure : failures) {
    SCOPED_TRACE(std::string(failure.call) + " " + strerror(failure.error));
    IviIniHandle h = Open(kBench);
    ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
    EXPECT_EQ(IviIni_SetDeviceDescription(h, "Rack1Slot2", "moved to rack 2"), kIviIniSuccess);
    g_trace.clear();
    Inject(failure.call, failure.error, failure.times);
    EXPECT_EQ(IviIni_CloseIniFile(h, 1), failure.status);
    EXPECT_GT(g_injection.done, 0) << "the save never called " << failure.call;
    Inject("", 0);
    EXPECT_EQ(ReadFile(), kBench);
    EXPECT_EQ(WithoutLock(FolderEntries()), std::vector<std::string>{"store.ini"});
    // The failure says which step, which file and why, to the caller's
    // program and to the trace.
    const auto &last = static_cast<velmora::store::Store *>(h->state.store)->LastFailure();
    EXPECT_EQ(last.step, failure.step);
    EXPECT_EQ(last.error, failure.error);
    EXPECT_NE(std::string(last.path).find(dir_), std::string::npos) << last.path;
    EXPECT_TRUE(Traced(velmora::store::StatusName(failure.status)))
        << testing::PrintToString(g_trace);

    // Still open: the same save succeeds once the fault is gone, and keeps the mode.
    EXPECT_EQ(Text(IviIni_GetDeviceDescription, h, "Rack1Slot2"), "moved to rack 2");
    EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess);
    EXPECT_NE(ReadFile().find("Description = moved to rack 2\n"), std::string::npos);
    struct stat info;
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{".store.ini.lock", "store.ini"}));
  }
}

// ---- What the file system holds -------------------------------------------------

enum class User { kSelf, kNobody, kGroupMember, kStoreOwner, kListedUser };
constexpr uid_t kNobody = 65534;
constexpr gid_t kSharedGroup = 4242;
constexpr uid_t kStoreOwner = 4444;   // in no group but nobody's
constexpr uid_t kGroupMember = 4343;  // in the shared group
constexpr uid_t kListedUser = 4545;   // may write what an access control list lets it
constexpr int32_t kNotRun = INT32_MIN;

// The trace lines of the last body RunAs ran.
std::vector<std::string> g_bodyTrace;

// Makes this (child) process `user`, in nobody's group, and a member of the
// shared group where it is the member.
bool Become(User user) {
  static const uid_t kUids[] = {0, kNobody, kGroupMember, kStoreOwner, kListedUser};
  const bool member = user == User::kGroupMember;
  const gid_t groups[] = {kSharedGroup};
  const uid_t uid = kUids[static_cast<int>(user)];
  return setgroups(member ? 1 : 0, groups) == 0 && setresgid(kNobody, kNobody, kNobody) == 0 &&
         setresuid(uid, uid, uid) == 0;
}

// Runs `body` as `user` and answers what it answered. Another user's body,
// or one that must first `enter` a place of its own (a mount namespace),
// runs in a child process, which takes root; kNotRun when that cannot be
// done here. The body's trace lines are left in g_bodyTrace.
int32_t RunAs(User user, const std::function<int32_t()> &body,
              const std::function<bool()> &enter = nullptr) {
  g_trace.clear();
  if (user == User::kSelf && !enter) {
    const int32_t result = body();
    g_bodyTrace = g_trace;
    return result;
  }
  g_bodyTrace.clear();
  if (geteuid() != 0) return kNotRun;
  int channel[2];
  if (pipe(channel) != 0) return kNotRun;
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const bool ready = (!enter || enter()) && (user == User::kSelf || Become(user));
    int32_t result = ready ? body() : kNotRun;
    std::string report(reinterpret_cast<const char *>(&result), sizeof result);
    for (const std::string &line : g_trace) report += line + "\n";
    _exit(write(channel[1], report.data(), report.size()) == static_cast<ssize_t>(report.size())
              ? 0
              : 1);
  }
  close(channel[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t got; child > 0 && (got = read(channel[0], buffer, sizeof buffer)) > 0;) {
    report.append(buffer, static_cast<size_t>(got));
  }
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  int32_t result = kNotRun;
  if (report.size() < sizeof result) return kNotRun;
  memcpy(&result, report.data(), sizeof result);
  std::istringstream lines(report.substr(sizeof result));
  for (std::string line; std::getline(lines, line);) g_bodyTrace.push_back(line);
  return result;
}

bool BodyTraced(const std::string &part) {
  for (const std::string &line : g_bodyTrace) {
    if (line.find(part) != std::string::npos) return true;
  }
  return false;
}

// A command of the system's, for what a test sets up or looks at with the
// tools a user would use (setfacl, getfacl).
bool Command(const std::string &command) {
  return system((command + " >/dev/null 2>&1").c_str()) == 0;
}
std::string CommandOutput(const std::string &command) {
  std::string output;
  if (FILE *pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[512];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    pclose(pipe);
  }
  return output;
}
bool HaveAccessLists() {
  return Command("command -v setfacl") && Command("command -v getfacl");
}
// The access control list in getfacl's words, numeric ids, no header.
std::string AccessList(const char *path) {
  return CommandOutput(std::string("getfacl -cpn ") + path);
}

struct stat StatOf(const char *path) {
  struct stat info = {};
  EXPECT_EQ(lstat(path, &info), 0) << path;
  return info;
}

std::string Target(const char *link) {
  char target[256] = {};
  return readlink(link, target, sizeof target - 1) > 0 ? target : "(no link)";
}

// Another program that may read the store's folder (and nothing else) and
// holds every lock it can get while a save runs: the folder's flock, and a
// read lock on the lock file if it could open it.
pid_t g_reader = -1;
int g_readerRelease = -1;

bool StartReaderHoldingLocks() {
  int ready[2], release[2];
  if (pipe(ready) != 0 || pipe(release) != 0) return false;
  g_reader = fork();
  if (g_reader == 0) {
    close(ready[0]);
    close(release[1]);
    if (!Become(User::kNobody)) _exit(1);
    const int folder = open(".", O_RDONLY | O_DIRECTORY);
    const bool locked = folder >= 0 && flock(folder, LOCK_EX | LOCK_NB) == 0;
    const int lockFile = open(".store.ini.lock", O_RDONLY | O_NONBLOCK);
    struct flock shared = {};
    shared.l_type = F_RDLCK;
    if (lockFile >= 0) fcntl(lockFile, F_OFD_SETLK, &shared);
    const char held = locked ? 'y' : 'n';
    if (write(ready[1], &held, 1) != 1) _exit(1);
    char byte;
    while (read(release[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  g_readerRelease = release[1];
  char held = 'n';
  const bool started = g_reader > 0 && read(ready[0], &held, 1) == 1 && held == 'y';
  close(ready[0]);
  return started;
}

void StopReader() {
  if (g_readerRelease >= 0) close(g_readerRelease);
  if (g_reader > 0) waitpid(g_reader, nullptr, 0);
  g_reader = g_readerRelease = -1;
}

struct FileSystemCase {
  const char *id;  // the test's name
  const char *name;
  User user;
  // Lays out the case's folder (the working folder meanwhile); answers the
  // path to open, or "" when the case cannot be set up here.
  std::function<std::string()> prepare;
  // Happens between opening and saving.
  std::function<void()> meanwhile;
  int32_t status;  // of the open when it fails, else of the save
  // What must hold of the folder afterwards.
  std::function<void()> check;
  // Done in the saver's process before it becomes its user (a mount of its own).
  std::function<bool()> enter = nullptr;
};

const std::string kAdded = std::string(kBench) + "\n[Device Added]\n";
const std::string kLongName = std::string(251, 's') + ".ini";
// kBench with one byte other, its size kept.
const std::string kEdited = [] {
  std::string edited = kBench;
  edited[2] = 'X';
  return edited;
}();

std::vector<std::string> Entries() {
  return FolderEntriesOf(".");
}
std::vector<std::string> Names(std::vector<std::string> list) {
  std::sort(list.begin(), list.end());
  return list;
}
// A same-size change made in place, keeping the inode.
void EditInPlace() {
  const int fd = open("store.ini", O_WRONLY);
  EXPECT_EQ(pwrite(fd, "X", 1, 2), 1);
  close(fd);
}
bool Owned(const char *path, uid_t owner, gid_t group, mode_t mode) {
  return chown(path, owner, group) == 0 && chmod(path, mode) == 0;
}
ino_t g_inode = 0;  // of the store before the save, for cases that keep it

std::string PlainStore() {
  WriteFileAt("store.ini", kBench);
  return "store.ini";
}
void TheOtherProgramsEditStays() {
  EXPECT_EQ(ReadFileAt("store.ini"), kEdited);
  EXPECT_EQ(Entries(), Names({".store.ini.lock", "store.ini"}));
}
// In a mount namespace of the saver's own: source/store.ini on store.ini.
bool MountSourceOnStore() {
  return unshare(CLONE_NEWNS) == 0 &&
         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("source/store.ini", "store.ini", nullptr, MS_BIND, nullptr) == 0;
}

// Every case ends in a complete save or a refusal that leaves every file as
// it was (the configuration staying open), and in no temporary or recovery
// file left over.
const std::vector<FileSystemCase> &Cases() {
  static const std::vector<FileSystemCase> cases = {
      {"RelativePathAfterChdir",
       "a relative path, then a change of working folder: saved to the file loaded", User::kSelf,
       [] {
         mkdir("a", 0700), mkdir("b", 0700);
         WriteFileAt("a/store.ini", kBench), WriteFileAt("b/store.ini", "[Device Other]\n");
         EXPECT_EQ(chdir("a"), 0);
         return std::string("store.ini");
       },
       [] { EXPECT_EQ(chdir("../b"), 0); }, kIviIniSuccess,
       [] {
         EXPECT_EQ(ReadFileAt("../a/store.ini"), kAdded);
         EXPECT_EQ(ReadFileAt("store.ini"), "[Device Other]\n");
       }},
      {"RelativePathBelowPathMax",
       "a relative path in a folder deeper than PATH_MAX: refused, never left relative",
       User::kSelf,
       [] {
         const std::string level(200, 'd');
         for (int depth = 0; depth < 24; ++depth) {
           if (mkdir(level.c_str(), 0700) != 0 || chdir(level.c_str()) != 0) return std::string();
         }
         WriteFileAt("store.ini", kBench);
         return std::string("store.ini");
       },
       [] {}, kIviIniStoreNoWorkingFolder,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kBench);
         EXPECT_EQ(Entries(), Names({"store.ini"}));
         unlink("store.ini");
         const std::string level(200, 'd');
         for (int depth = 0; depth < 24; ++depth) {
           ASSERT_EQ(chdir(".."), 0);
           ASSERT_EQ(rmdir(level.c_str()), 0);
         }
       }},
      {"LinkRepointed", "a symbolic link re-pointed at another file: refused, both untouched",
       User::kSelf,
       [] {
         WriteFileAt("store.ini", kBench), WriteFileAt("secret.ini", "[Device Secret]\n");
         EXPECT_EQ(chmod("secret.ini", 0600), 0);
         EXPECT_EQ(symlink("store.ini", "link.ini"), 0);
         return std::string("link.ini");
       },
       [] {
         EXPECT_EQ(unlink("link.ini"), 0);
         EXPECT_EQ(symlink("secret.ini", "link.ini"), 0);
       },
       kIviIniStoreChangedOnDisk,
       [] {
         EXPECT_EQ(ReadFileAt("secret.ini"), "[Device Secret]\n");
         EXPECT_EQ(ReadFileAt("store.ini"), kBench);
         EXPECT_EQ(Target("link.ini"), "secret.ini");
         EXPECT_EQ(Entries(), Names({"link.ini", "secret.ini", "store.ini"}));
       }},
      {"LinkToDeletedFile", "a symbolic link whose file was deleted: refused, the link stays",
       User::kSelf,
       [] {
         WriteFileAt("store.ini", kBench);
         EXPECT_EQ(symlink("store.ini", "link.ini"), 0);
         return std::string("link.ini");
       },
       [] { unlink("store.ini"); }, kIviIniStoreChangedOnDisk,
       [] {
         EXPECT_EQ(Target("link.ini"), "store.ini");
         EXPECT_EQ(Entries(), Names({"link.ini"}));
       }},
      {"Deleted", "the file deleted since loading: refused, not made anew", User::kSelf,
       PlainStore,
       [] { unlink("store.ini"); }, kIviIniStoreChangedOnDisk,
       [] { EXPECT_EQ(Entries(), Names({})); }},
      {"ReplacedWhileTheTemporaryIsFlushed",
       "another program replaces the file (sed -i) while the save flushes its temporary: "
       "refused, the other program's file stays",
       User::kSelf,
       PlainStore,
       [] {
         g_beforeSync = [] {
           WriteFileAt("sed.tmp", kEdited);
           EXPECT_EQ(rename("sed.tmp", "store.ini"), 0);
         };
       },
       kIviIniStoreChangedOnDisk,
       TheOtherProgramsEditStays},
      {"RewrittenWhileTheTemporaryIsFlushed",
       "another program rewrites the file in place, same size, while the save flushes: refused",
       User::kSelf,
       PlainStore,
       [] { g_beforeSync = EditInPlace; }, kIviIniStoreChangedOnDisk,
       TheOtherProgramsEditStays},
      {"EditWithTimePutBack",
       "a same-size edit by a tool that puts the time back (touch -r): refused by the bytes",
       User::kSelf,
       PlainStore,
       [] {
         const struct stat before = StatOf("store.ini");
         EditInPlace();
         const struct timespec times[2] = {before.st_atim, before.st_mtim};
         EXPECT_EQ(utimensat(AT_FDCWD, "store.ini", times, 0), 0);
       },
       kIviIniStoreChangedOnDisk,
       TheOtherProgramsEditStays},
      {"EditWithinTheSecond",
       "a same-size edit within the second, on a file system of whole seconds: refused",
       User::kSelf,
       [] {
         WriteFileAt("store.ini", kBench);
         const struct timespec second[2] = {{1000000000, 0}, {1000000000, 0}};
         g_secondsOnly = utimensat(AT_FDCWD, "store.ini", second, 0) == 0;
         return std::string(g_secondsOnly ? "store.ini" : "");
       },
       [] {
         EditInPlace();
         const struct timespec later[2] = {{1000000000, 600000000}, {1000000000, 600000000}};
         EXPECT_EQ(utimensat(AT_FDCWD, "store.ini", later, 0), 0);
       },
       kIviIniStoreChangedOnDisk, [] { EXPECT_EQ(ReadFileAt("store.ini"), kEdited); }},
      {"HardLinked", "a file with a second hard link: refused, the two names keep one file",
       User::kSelf,
       [] {
         WriteFileAt("store.ini", kBench);
         EXPECT_EQ(link("store.ini", "other.ini"), 0);
         return std::string("store.ini");
       },
       [] {}, kIviIniStoreHardLinked,
       [] {
         EXPECT_EQ(StatOf("store.ini").st_ino, StatOf("other.ini").st_ino);
         EXPECT_EQ(ReadFileAt("other.ini"), kBench);
         EXPECT_EQ(Entries(), Names({"other.ini", "store.ini"}));
       }},
      {"Fifo", "a FIFO: refused at once, never waited on", User::kSelf,
       [] {
         EXPECT_EQ(mkfifo("store.ini", 0600), 0);
         return std::string("store.ini");
       },
       [] {}, kIviIniStoreUnreadable, [] { EXPECT_EQ(Entries(), Names({"store.ini"})); }},
      {"LongName", "a file name of 255 bytes: saved, its lock file's name cut to fit",
       User::kSelf,
       [] {
         WriteFileAt(kLongName, kBench);
         return kLongName;
       },
       [] {}, kIviIniSuccess,
       [] {
         EXPECT_EQ(ReadFileAt(kLongName), kAdded);
         const std::vector<std::string> found = Entries();
         ASSERT_EQ(found.size(), 2u);
         EXPECT_EQ(found[0].size(), 255u);
         EXPECT_EQ(found[0].substr(0, 200), "." + kLongName.substr(0, 199));
         EXPECT_EQ(found[0].substr(250), ".lock");
         EXPECT_EQ(found[1], kLongName);
       }},
      {"Attributes", "extended attributes (user, trusted): kept by the new file", User::kSelf,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool set = setxattr("store.ini", "user.velmora.origin", "bench3", 6, 0) == 0 &&
                          (geteuid() != 0 ||
                           setxattr("store.ini", "trusted.velmora.audit", "ok", 2, 0) == 0);
         return std::string(set ? "store.ini" : "");
       },
       [] {}, kIviIniSuccess,
       [] {
         char value[16] = {};
         EXPECT_EQ(getxattr("store.ini", "user.velmora.origin", value, sizeof value), 6);
         EXPECT_STREQ(value, "bench3");
         if (geteuid() == 0) {
           EXPECT_EQ(getxattr("store.ini", "trusted.velmora.audit", value, sizeof value), 2);
         }
         EXPECT_EQ(ReadFileAt("store.ini"), kAdded);
         EXPECT_TRUE(BodyTraced("by replacing it")) << testing::PrintToString(g_bodyTrace);
       }},
      {"ReadOnly", "a read-only file: refused, though its folder would let it be replaced",
       User::kNobody,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool own = Owned(".", kNobody, kNobody, 0755) &&
                          Owned("store.ini", kNobody, kNobody, 0444);
         return std::string(own ? "store.ini" : "");
       },
       [] {}, kIviIniStoreNotWritable,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kBench);
         EXPECT_EQ(Entries(), Names({"store.ini"}));
       }},
      {"GroupMember",
       "a group-shared file saved by a member who is not its owner: in place, owner and group "
       "stay, and only the store's writers may open the lock file",
       User::kGroupMember,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool shared = Owned(".", 0, kSharedGroup, 0775) &&
                             Owned("store.ini", kStoreOwner, kSharedGroup, 0660);
         g_inode = StatOf("store.ini").st_ino;
         return std::string(shared ? "store.ini" : "");
       },
       [] {}, kIviIniSuccess,
       [] {
         const struct stat info = StatOf("store.ini");
         EXPECT_EQ(info.st_uid, kStoreOwner) << "the owner, not in the group, keeps its store";
         EXPECT_EQ(info.st_gid, kSharedGroup);
         EXPECT_EQ(info.st_mode & 07777, 0660u);
         EXPECT_EQ(info.st_ino, g_inode);
         EXPECT_EQ(ReadFileAt("store.ini"), kAdded);
         EXPECT_EQ(Entries(), Names({".store.ini.lock", "store.ini"}));
         EXPECT_TRUE(BodyTraced("in place (a new file could not keep its owner)"))
             << testing::PrintToString(g_bodyTrace);
         const struct stat lock = StatOf(".store.ini.lock");
         EXPECT_EQ(lock.st_uid, kGroupMember);
         EXPECT_EQ(lock.st_gid, kSharedGroup);
         EXPECT_EQ(lock.st_mode & 0007, 0u) << "others cannot open the lock file";
         if (HaveAccessLists()) {
           EXPECT_NE(AccessList(".store.ini.lock").find("user:4444:rw-"), std::string::npos)
               << AccessList(".store.ini.lock");
         }
       }},
      {"ListedWriter",
       "a user granted write by an access control list entry: saved in place, the list kept",
       User::kListedUser,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool listed =
             HaveAccessLists() && Owned(".", kStoreOwner, kNobody, 0755) &&
             Owned("store.ini", kStoreOwner, kNobody, 0640) &&
             Command("setfacl -m u:4545:rwx .") && Command("setfacl -m u:4545:rw,u:4343:r store.ini");
         return std::string(listed ? "store.ini" : "");
       },
       [] {}, kIviIniSuccess,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kAdded);
         const struct stat info = StatOf("store.ini");
         EXPECT_EQ(info.st_uid, kStoreOwner);
         EXPECT_EQ(info.st_gid, kNobody);
         EXPECT_EQ(AccessList("store.ini"),
                   "user::rw-\nuser:4343:r--\nuser:4545:rw-\ngroup::r--\nmask::rw-\nother::---\n\n");
         // Made by the listed user, it names the owner, and keeps the reader out.
         EXPECT_EQ(AccessList(".store.ini.lock"),
                   "user::rw-\nuser:4343:---\nuser:4444:rw-\ngroup::---\nmask::rw-\nother::---\n\n");
         EXPECT_EQ(Entries(), Names({".store.ini.lock", "store.ini"}));
       }},
      {"SecurityLabel",
       "a security label, saved by its owner who may not set one: in place, the label kept",
       User::kNobody,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool labelled = Owned(".", kNobody, kNobody, 0755) &&
                               Owned("store.ini", kNobody, kNobody, 0644) &&
                               setxattr("store.ini", "security.velmora", "lab3", 4, 0) == 0;
         g_inode = StatOf("store.ini").st_ino;
         return std::string(labelled ? "store.ini" : "");
       },
       [] {}, kIviIniSuccess,
       [] {
         char value[8] = {};
         EXPECT_EQ(getxattr("store.ini", "security.velmora", value, sizeof value), 4);
         EXPECT_STREQ(value, "lab3");
         EXPECT_EQ(StatOf("store.ini").st_ino, g_inode);
         EXPECT_EQ(ReadFileAt("store.ini"), kAdded);
         EXPECT_TRUE(BodyTraced("could not keep its attribute security.velmora"))
             << testing::PrintToString(g_bodyTrace);
       }},
      {"SecurityLabelInAFolderOfOthers",
       "a label that needs an in-place save, in a folder the saver may not write: refused",
       User::kNobody,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool labelled = Owned(".", 0, 0, 0755) &&
                               Owned("store.ini", kNobody, kNobody, 0644) &&
                               setxattr("store.ini", "security.velmora", "lab3", 4, 0) == 0;
         return std::string(labelled ? "store.ini" : "");
       },
       [] {}, kIviIniStoreCannotCreateTemporary,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kBench);
         EXPECT_EQ(Entries(), Names({"store.ini"}));
       }},
      {"BindMounted", "a file bind-mounted onto the path: saved in place", User::kSelf,
       [] {
         mkdir("source", 0755);
         WriteFileAt("source/store.ini", kBench), WriteFileAt("store.ini", "");
         return std::string("store.ini");
       },
       [] {}, kIviIniSuccess,
       [] {
         EXPECT_EQ(ReadFileAt("source/store.ini"), kAdded);
         EXPECT_EQ(ReadFileAt("store.ini"), "") << "the mount point's own file is untouched";
         EXPECT_EQ(Entries(), Names({".store.ini.lock", "source", "store.ini"}));
         EXPECT_TRUE(BodyTraced("in place (it is a mount point")) << testing::PrintToString(g_bodyTrace);
       },
       MountSourceOnStore},
      {"BindMountedHardLinked", "a bind-mounted file with a second hard link: still refused",
       User::kSelf,
       [] {
         mkdir("source", 0755);
         WriteFileAt("source/store.ini", kBench), WriteFileAt("store.ini", "");
         EXPECT_EQ(link("source/store.ini", "source/other.ini"), 0);
         return std::string("store.ini");
       },
       [] {}, kIviIniStoreHardLinked,
       [] { EXPECT_EQ(ReadFileAt("source/other.ini"), kBench); },
       MountSourceOnStore},
      {"FolderWithoutList",
       "a folder its saver may write and enter but not list (0733): saved, unflushed",
       User::kNobody,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool own = Owned(".", 0, 0, 0733) && Owned("store.ini", kNobody, kNobody, 0644);
         return std::string(own ? "store.ini" : "");
       },
       [] {}, kIviIniSuccess,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kAdded);
         EXPECT_EQ(Entries(), Names({".store.ini.lock", "store.ini"}));
         EXPECT_TRUE(BodyTraced("cannot be flushed")) << testing::PrintToString(g_bodyTrace);
       }},
      {"ReaderHoldsEveryLock",
       "a reader of the folder holds every lock it can get: the owner's save goes through",
       User::kStoreOwner,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool ready = Owned(".", kStoreOwner, kNobody, 0755) &&
                            Owned("store.ini", kStoreOwner, kNobody, 0644) &&
                            StartReaderHoldingLocks();
         return std::string(ready ? "store.ini" : "");
       },
       [] {}, kIviIniSuccess,
       [] {
         StopReader();
         EXPECT_EQ(ReadFileAt("store.ini"), kAdded);
         EXPECT_EQ(StatOf(".store.ini.lock").st_mode & 07777, 0600u);
         EXPECT_EQ(RunAs(User::kNobody,
                         [] {
                           const int fd = open(".store.ini.lock", O_RDONLY | O_NONBLOCK);
                           return fd < 0 ? errno : (close(fd), 0);
                         }),
                   EACCES)
             << "a reader cannot even open the lock file";
       }},
      {"ForeignLockFileInAStickyFolder",
       "a lock file made by a user who may not write the store, in a sticky folder: refused "
       "at once, and left",
       User::kStoreOwner,
       [] {
         WriteFileAt("store.ini", kBench);
         const bool ready =
             Owned(".", 0, 0, 01777) && Owned("store.ini", kStoreOwner, kNobody, 0644) &&
             RunAs(User::kNobody, [] {
               const int fd = open(".store.ini.lock", O_CREAT | O_EXCL | O_RDWR, 0600);
               return fd >= 0 && fchmod(fd, 0666) == 0 && close(fd) == 0 ? 0 : -1;
             }) == 0;
         return std::string(ready ? "store.ini" : "");
       },
       [] {}, kIviIniStoreLockUnusable,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kBench);
         EXPECT_EQ(StatOf(".store.ini.lock").st_uid, kNobody);
         EXPECT_EQ(Entries(), Names({".store.ini.lock", "store.ini"}));
         EXPECT_TRUE(BodyTraced("belongs to a user who may not write the store"))
             << testing::PrintToString(g_bodyTrace);
       }},
      {"LockFileIsALink", "a symbolic link where the lock file goes: refused, never followed",
       User::kSelf,
       [] {
         EXPECT_EQ(symlink("elsewhere.ini", ".store.ini.lock"), 0);
         return PlainStore();
       },
       [] {}, kIviIniStoreLockUnusable,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kBench);
         EXPECT_EQ(Entries(), Names({".store.ini.lock", "store.ini"}));
         EXPECT_EQ(Target(".store.ini.lock"), "elsewhere.ini");
       }},
      {"LockFileIsAFifo", "a FIFO where the lock file goes: refused at once, never waited on",
       User::kSelf,
       [] {
         mkfifo(".store.ini.lock", 0600);
         return PlainStore();
       },
       [] {}, kIviIniStoreLockUnusable,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kBench);
         EXPECT_TRUE(S_ISFIFO(StatOf(".store.ini.lock").st_mode));
       }},
      {"LockFileRenamedWhileLocked",
       "the lock file renamed away while a saver locks it: the saver locks the one at the name",
       User::kSelf, PlainStore,
       [] {
         static bool renamed = false;
         renamed = false;
         g_before = [](const std::string &call, const std::string &file) {
           if (renamed || call != "lock" || !EndsWith(file, "/.store.ini.lock")) return;
           renamed = true;
           EXPECT_EQ(rename(".store.ini.lock", "old.lock"), 0);
         };
       },
       kIviIniSuccess,
       [] {
         EXPECT_EQ(ReadFileAt("store.ini"), kAdded);
         EXPECT_EQ(Entries(), Names({".store.ini.lock", "old.lock", "store.ini"}));
       }},
  };
  return cases;
}

class FileSystemCases : public FileStore, public ::testing::WithParamInterface<size_t> {};

TEST_P(FileSystemCases, EndInACompleteSaveOrARefusalThatTouchesNothing) {
  const FileSystemCase &c = Cases()[GetParam()];
  SCOPED_TRACE(c.name);
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);  // other users reach the case's folder
  const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(home, 0);
  const std::string folder = dir_ + "/case";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  const std::string path = c.prepare();
  int32_t status = kNotRun;
  if (!path.empty()) {
    alarm(20);  // a call that waits on a FIFO ends the test instead of hanging it
    status = RunAs(
        c.user,
        [&] {
          IviIniHandle h = nullptr;
          int32_t result = IviIni_OpenIniFile(path.c_str(), &h);
          if (result != kIviIniSuccess) return result;
          IviIni_AddDevice(h, "Added");
          c.meanwhile();
          result = IviIni_CloseIniFile(h, 1);
          if (result != kIviIniSuccess) IviIni_CloseIniFile(h, 0);  // it stayed open
          return result;
        },
        c.enter);
    alarm(0);
  }
  if (status != kNotRun) {
    EXPECT_EQ(status, c.status);
    c.check();
  }
  StopReader();
  ASSERT_EQ(fchdir(home), 0);
  close(home);
  if (path.empty()) GTEST_SKIP() << "cannot be set up here (needs root, xattrs, setfacl)";
  if (status == kNotRun) GTEST_SKIP() << "needs root to switch users or to mount";
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileSystemCases, ::testing::Range<size_t>(0, Cases().size()),
                         [](const ::testing::TestParamInfo<size_t> &param) {
                           return std::string(Cases()[param.param].id);
                         });

// ---- Saving in place ------------------------------------------------------------------
// Where a rename cannot replace the store, it is saved in place under a
// recovery file. The seam puts every file on a mount of its own, as if the
// store were bind-mounted, so that these cases need no privileges. The edit
// makes the file shorter, so that a store cut off half way holds neither
// the old bytes nor the new.

constexpr int32_t kSawOld = 1, kSawNew = 2;

std::string Shortened() {
  std::string text = kBench;
  const std::string from = "Description = Scope in rack 1";
  text.replace(text.find(from), from.size(), "Description = moved");
  return text;
}

// Opens the store as `user` and tells which description of Rack1Slot2 it
// reads: the old one, the new one, or the status of a failed open.
int32_t DescriptionSeenBy(User user, const std::string &path) {
  return RunAs(user, [&path] {
    IviIniHandle h = nullptr;
    const int32_t status = IviIni_OpenIniFile(path.c_str(), &h);
    if (status != kIviIniSuccess) return status;
    char buffer[64] = {};
    IviIni_GetDeviceDescription(h, "Rack1Slot2", buffer, sizeof buffer);
    IviIni_CloseIniFile(h, 0);
    const std::string seen = buffer;
    return seen == "Scope in rack 1" ? kSawOld : seen == "moved" ? kSawNew : 0;
  });
}

// Saves the shortening edit in place in a child process that dies, as by
// kill -9, just before the call `dies` picks; true when it died there.
bool SaveInPlaceAndDie(const std::string &path,
                       bool (*dies)(const std::string &call, const std::string &file)) {
  constexpr int kDied = 42;
  const pid_t child = fork();
  if (child == 0) {
    IviIniHandle h = nullptr;
    if (IviIni_OpenIniFile(path.c_str(), &h) != kIviIniSuccess) _exit(1);
    IviIni_SetDeviceDescription(h, "Rack1Slot2", "moved");
    g_fileOnItsOwnMount = true;
    g_before = [dies](const std::string &call, const std::string &file) {
      if (dies(call, file)) _exit(kDied);
    };
    IviIni_CloseIniFile(h, 1);
    _exit(0);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == kDied;
}

TEST_F(FileStore, ReadersDuringAnInPlaceSaveReadTheOldBytesAndAfterItTheNew) {
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  IviIniHandle h = Open(kBench);
  ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
  EXPECT_EQ(IviIni_SetDeviceDescription(h, "Rack1Slot2", "moved"), kIviIniSuccess);
  g_fileOnItsOwnMount = true;
  std::vector<int32_t> seen;
  bool looked = false;
  // The new bytes are in; the old ones past them are not cut off yet.
  g_before = [&](const std::string &call, const std::string &file) {
    if (looked || call != "resize" || file != path_) return;
    looked = true;
    EXPECT_NE(ReadFile(), kBench);
    seen.push_back(DescriptionSeenBy(User::kSelf, path_));  // a writer, but the lock is held
    if (geteuid() == 0) seen.push_back(DescriptionSeenBy(User::kNobody, path_));
  };
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess);
  EXPECT_TRUE(Traced("in place (it is a mount point")) << testing::PrintToString(g_trace);
  ASSERT_FALSE(seen.empty()) << "the save never cut the file to its length";
  for (const int32_t s : seen) EXPECT_EQ(s, kSawOld);
  EXPECT_EQ(ReadFile(), Shortened());
  EXPECT_EQ(DescriptionSeenBy(User::kSelf, path_), kSawNew);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{".store.ini.lock", "store.ini"}));
}

// Killed at each step of an in-place save: readers read a whole store, and
// the next writer's open leaves the store whole and no recovery file.
TEST_F(FileStore, AnInPlaceSaveKilledAtAnyStepLeavesAWholeStoreForTheNextOpen) {
  struct Crash {
    const char *when;
    bool (*dies)(const std::string &call, const std::string &file);
    const char *onDisk;  // "old", "new" or "torn"
    int32_t seen;        // by every open
  };
  const Crash crashes[] = {
      {"while the recovery file is written",
       [](const std::string &call, const std::string &file) {
         return call == "writeAt" && EndsWith(file, "/.store.ini.recovery");
       },
       "old", kSawOld},
      {"with the new bytes written over the old ones, not yet cut to length",
       [](const std::string &call, const std::string &file) {
         return call == "resize" && EndsWith(file, "/store.ini");
       },
       "torn", kSawOld},
      {"with the store complete, the recovery file not yet removed",
       [](const std::string &call, const std::string &file) {
         return call == "remove" && file == ".store.ini.recovery";
       },
       "new", kSawNew},
  };
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  for (const Crash &crash : crashes) {
    SCOPED_TRACE(crash.when);
    WriteFile(kBench);
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
    ASSERT_TRUE(SaveInPlaceAndDie(path_, crash.dies));
    const std::string onDisk = ReadFile();
    EXPECT_EQ(onDisk == kBench ? "old" : onDisk == Shortened() ? "new" : "torn",
              std::string(crash.onDisk));
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{".store.ini.lock", ".store.ini.recovery",
                                                         "store.ini"}));
    if (geteuid() == 0) {
      // A reader cannot put the store right: it reads around it.
      EXPECT_EQ(DescriptionSeenBy(User::kNobody, path_), crash.seen);
      EXPECT_EQ(ReadFile(), onDisk);
    }
    EXPECT_EQ(DescriptionSeenBy(User::kSelf, path_), crash.seen);
    EXPECT_EQ(ReadFile(), crash.seen == kSawOld ? std::string(kBench) : Shortened());
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{".store.ini.lock", "store.ini"}));
  }
}

TEST_F(FileStore, AFailedInPlaceWritePutsTheOldBytesAndTimeBack) {
  IviIniHandle h = Open(kBench);
  const struct stat before = StatOf(path_.c_str());
  EXPECT_EQ(IviIni_SetDeviceDescription(h, "Rack1Slot2", "moved"), kIviIniSuccess);
  g_fileOnItsOwnMount = true;
  Inject("resize", ENOSPC, 1, "/store.ini");  // the new bytes are in: the file is torn
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniStoreWriteFailed);
  EXPECT_EQ(g_injection.done, 1);
  EXPECT_EQ(ReadFile(), kBench);
  const struct stat after = StatOf(path_.c_str());
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{".store.ini.lock", "store.ini"}));
  const auto &last = static_cast<velmora::store::Store *>(h->state.store)->LastFailure();
  EXPECT_EQ(last.step, FileStep::kWriteInPlace);
  EXPECT_EQ(last.error, ENOSPC);
  // Still open, and the file reads as the one loaded: the same save goes through.
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess);
  EXPECT_EQ(ReadFile(), Shortened());
}

TEST_F(FileStore, OldBytesThatCannotGoBackStayInTheRecoveryFileForEveryOpen) {
  IviIniHandle h = Open(kBench);
  // Longer: the old bytes written back leave the new ones' tail behind.
  EXPECT_EQ(IviIni_SetDeviceDescription(h, "Rack1Slot2", "moved to the second rack of bench 3"),
            kIviIniSuccess);
  g_fileOnItsOwnMount = true;
  Inject("resize", EIO, 0, "/store.ini");
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniStoreLeftForRecovery);
  Inject("", 0);
  EXPECT_NE(ReadFile(), kBench);
  EXPECT_EQ(ReadFile().find("moved to the second rack"), std::string::npos);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{".store.ini.lock", ".store.ini.recovery",
                                                       "store.ini"}));
  EXPECT_EQ(DescriptionSeenBy(User::kSelf, path_), kSawOld);
  EXPECT_EQ(ReadFile(), kBench) << "the next writer's open put the old bytes back";
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{".store.ini.lock", "store.ini"}));
  EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
}

// ---- What a save refuses to write ---------------------------------------------------

// A store that a save would take past the size limit is refused before the
// file is touched: no open could load it again.
TEST_F(FileStore, ASaveThatNoOpenCouldLoadIsRefusedAndWritesNothing) {
  std::string text;
  const std::string comment = "# " + std::string(65000, 'x') + "\n";
  while (text.size() + comment.size() + strlen(kBench) < velmora::store::kMaxFileBytes - 100) {
    text += comment;
  }
  text += kBench;
  IviIniHandle h = Open(text);
  text.clear();
  text.shrink_to_fit();
  const struct stat before = StatOf(path_.c_str());
  EXPECT_EQ(IviIni_AddDevice(h, "Huge"), kIviIniSuccess);
  EXPECT_EQ(IviIni_SetDeviceDescription(h, "Huge", std::string(60000, 'y').c_str()),
            kIviIniSuccess);
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniStoreTooLargeToSave);
  const struct stat after = StatOf(path_.c_str());
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(WithoutLock(FolderEntries()), std::vector<std::string>{"store.ini"}) << "no temporary";
  // Still open with its edits; without the one that did not fit, it saves.
  EXPECT_EQ(IviIni_GetDeviceDescription(h, "Huge", nullptr, 0), 60001);
  EXPECT_EQ(IviIni_RemoveDevice(h, "Huge"), kIviIniSuccess);
  EXPECT_EQ(IviIni_AddDevice(h, "Small"), kIviIniSuccess);
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess);
  EXPECT_GT(StatOf(path_.c_str()).st_size, before.st_size);
}

// After a save, the store knows the file by the bytes it wrote: another
// program's same-size edit with the time put back is refused by the next
// save from the same store, and a save without one goes through.
TEST_F(FileStore, AfterASaveTheNextComparesTheFileWithWhatItWrote) {
  for (const bool otherProgram : {false, true}) {
    SCOPED_TRACE(otherProgram ? "edited by another program" : "untouched");
    IviIniHandle h = Open(kBench);
    EXPECT_EQ(IviIni_SetDeviceDescription(h, "Rack1Slot2", "moved"), kIviIniSuccess);
    EXPECT_EQ(velmora::SaveStore(h->state.store, h->state.location), kIviIniSuccess);
    std::string expected = Shortened();
    if (otherProgram) {
      const struct stat saved = StatOf(path_.c_str());
      const int fd = open(path_.c_str(), O_WRONLY);
      EXPECT_EQ(pwrite(fd, "X", 1, 2), 1);
      close(fd);
      const struct timespec times[2] = {saved.st_atim, saved.st_mtim};
      EXPECT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
      expected[2] = 'X';
    }
    EXPECT_EQ(IviIni_SetDeviceDescription(h, "Rack1Slot2", "moved again"), kIviIniSuccess);
    EXPECT_EQ(velmora::SaveStore(h->state.store, h->state.location),
              otherProgram ? kIviIniStoreChangedOnDisk : kIviIniSuccess);
    if (!otherProgram) expected.replace(expected.find("moved"), 5, "moved again");
    EXPECT_EQ(ReadFile(), expected);
    EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
  }
}

// ---- Other programs saving the same store -----------------------------------------

// Six processes open the store, each adds a device, and all save at once:
// one save goes through, every other one is refused as changed on disk and
// loses nothing; each refused process reloads, adds again and saves again,
// until every device is in the file.
TEST_F(FileStore, SavesOfManyProcessesAtOnceLoseNoAddition) {
  constexpr int kProcesses = 6;
  velmora::store::UseFileSystem(nullptr);  // the system's, whose lock waits really wait
  WriteFile(kBench);
  int opened[2], go[2];
  ASSERT_EQ(pipe(opened), 0);
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(go[1]);
      const std::string device = "Concurrent" + std::to_string(i);
      IviIniHandle h = nullptr;
      int failed = IviIni_OpenIniFile(path_.c_str(), &h) != kIviIniSuccess;
      failed |= IviIni_AddDevice(h, device.c_str()) != kIviIniSuccess;
      char byte = 0;
      failed |= write(opened[1], &byte, 1) != 1;
      failed |= read(go[0], &byte, 1) != 0;  // every process waits for the go
      const int32_t first = IviIni_CloseIniFile(h, 1);
      int32_t status = first;
      for (int round = 0; status == kIviIniStoreChangedOnDisk && round < 100; ++round) {
        failed |= IviIni_CloseIniFile(h, 0) != kIviIniSuccess;
        failed |= IviIni_OpenIniFile(path_.c_str(), &h) != kIviIniSuccess;
        failed |= IviIni_AddDevice(h, device.c_str()) != kIviIniSuccess;
        status = IviIni_CloseIniFile(h, 1);
      }
      if (failed || status != kIviIniSuccess) _exit(3);
      _exit(first == kIviIniSuccess ? 0 : first == kIviIniStoreChangedOnDisk ? 1 : 2);
    }
    children.push_back(child);
  }
  close(opened[1]);
  close(go[0]);
  char byte;
  for (int i = 0; i < kProcesses; ++i) ASSERT_EQ(read(opened[0], &byte, 1), 1);
  close(go[1]);  // go
  int firstSaves = 0, refused = 0;
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    ASSERT_LT(WEXITSTATUS(status), 2) << "a save failed otherwise, or never went through";
    (WEXITSTATUS(status) == 0 ? firstSaves : refused) += 1;
  }
  close(opened[0]);
  EXPECT_EQ(firstSaves, 1) << "all opened before any saved: only one can have saved first";
  EXPECT_EQ(refused, kProcesses - 1);
  IviIniHandle h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(path_.c_str(), &h), kIviIniSuccess);
  int32_t devices = 0;
  EXPECT_EQ(IviIni_GetNumberOfDevices(h, &devices), kIviIniSuccess);
  EXPECT_EQ(devices, 1 + kProcesses);
  for (int i = 0; i < kProcesses; ++i) {
    const std::string device = "Concurrent" + std::to_string(i);
    EXPECT_EQ(Text(IviIni_GetDeviceDescription, h, device.c_str()), "") << device;
  }
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{".store.ini.lock", "store.ini"}))
      << "no temporary, one lock file";
}

// ---- Changes that change nothing -----------------------------------------------------

// Random edits of the example store (with a section of quoted values and
// unusual spellings added), each property set back to what it read at the
// start in the end: the save leaves the file byte for byte and its
// modification time alone.
TEST_F(FileStore, EditSequencesThatEndWhereTheyStartedLeaveTheFileAndItsTimeAlone) {
  const std::string original =
      ReadFileAt(VELMORA_EXAMPLE_STORE) +
      "\n[Session Odd.Session]\nDescription = \"say \\\"hi\\\"\"\nSimulate = YES\n"
      "DriverSetup=\n[Device Odd.Device]\nDescription=\"  padded  \"\n";
  using Set = int32_t (*)(IviIniHandle, const char *, const char *);
  using Get = int32_t (*)(IviIniHandle, const char *, char *, int32_t);
  struct Property {
    Get get;
    Set set;
    std::string item;
    std::vector<std::string> targets;  // a reference's choices; empty for text
    std::string loaded;
  };
  const std::vector<std::string> sessions = {"Bench3.ScopeSession", "Bench3.GenSession",
                                             "Meter7Session", "Odd.Session"};
  const std::vector<std::string> devices = {"Rack1Slot2", "Bench3.Gen", "Meter7", "Odd.Device"};
  const std::vector<std::string> logicalNames = {"Bench3.Scope", "Bench3.Gen", "Meter7", "Spare"};
  // Texts, and references that name an item (none can be set back to naming none).
  std::vector<Property> properties;
  const auto add = [&properties](Get get, Set set, const std::string &item,
                                 const std::vector<std::string> &targets = {}) {
    properties.push_back({get, set, item, targets, ""});
  };
  for (const std::string &n : logicalNames) {
    add(IviIni_GetLogicalNameDescription, IviIni_SetLogicalNameDescription, n);
    if (n != "Spare") add(IviIni_GetLogicalNameVI, IviIni_SetLogicalNameVI, n, sessions);
  }
  for (const std::string &n : sessions) {
    add(IviIni_GetVIDescription, IviIni_SetVIDescription, n);
    add(IviIni_GetVIDriverSetup, IviIni_SetVIDriverSetup, n);
    if (n != "Meter7Session" && n != "Odd.Session") {
      add(IviIni_GetVIDriver, IviIni_SetVIDriver, n, {"acmeScope", "zetaFgen"});
    }
    if (n != "Odd.Session") add(IviIni_GetVIDevice, IviIni_SetVIDevice, n, devices);
  }
  for (const std::string &n : devices) {
    add(IviIni_GetDeviceDescription, IviIni_SetDeviceDescription, n);
    add(IviIni_GetDeviceResourceDescriptor, IviIni_SetDeviceResourceDescriptor, n);
  }
  const std::vector<std::string> values = {"",
                                           "x",
                                           " padded ",
                                           "\"quoted\"",
                                           "a\\b",
                                           "Meter7",
                                           "Driver for the acme four-channel oscilloscopes"};
  const bool simulated[] = {false, false, true, true};  // as the file says, for `sessions`
  std::mt19937 random(17);
  for (int sequence = 0; sequence < 100; ++sequence) {
    SCOPED_TRACE("sequence " + std::to_string(sequence));
    WriteFile(original);
    const struct timespec old[2] = {{1000000000, 123}, {1000000000, 123}};
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), old, 0), 0);
    IviIniHandle h = nullptr;
    ASSERT_EQ(IviIni_OpenIniFile(path_.c_str(), &h), kIviIniSuccess);
    for (Property &p : properties) p.loaded = Text(p.get, h, p.item.c_str());
    for (int edit = 0; edit < 12; ++edit) {
      Property &p = properties[random() % properties.size()];
      const std::string &value = p.targets.empty() ? values[random() % values.size()]
                                                   : p.targets[random() % p.targets.size()];
      EXPECT_EQ(p.set(h, p.item.c_str(), value.c_str()), kIviIniSuccess) << p.item << " " << value;
      const size_t session = random() % sessions.size();
      IviIni_SetVISimulation(h, sessions[session].c_str(), static_cast<int32_t>(random() % 2));
      if (random() % 4 == 0) {
        EXPECT_EQ(IviIni_AddDevice(h, "Passing"), kIviIniSuccess);
        EXPECT_EQ(IviIni_SetDeviceDescription(h, "Passing", value.c_str()), kIviIniSuccess);
        EXPECT_EQ(IviIni_RemoveDevice(h, "Passing"), kIviIniSuccess);
      }
    }
    std::shuffle(properties.begin(), properties.end(), random);
    for (const Property &p : properties) {
      EXPECT_EQ(p.set(h, p.item.c_str(), p.loaded.c_str()), kIviIniSuccess) << p.item;
    }
    for (size_t i = 0; i < sessions.size(); ++i) {
      EXPECT_EQ(IviIni_SetVISimulation(h, sessions[i].c_str(), simulated[i]), kIviIniSuccess);
    }
    EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess);
    EXPECT_EQ(ReadFile(), original);
    struct stat info;
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 123);
  }
}

// The change test through the file back end: the identity the store took
// from the descriptor it read sees a rewrite of the same size in the same
// second and a rename-replace by an identical file.
TEST_F(FileStore, TheChangeTestSeesSameSecondRewritesAndReplacements) {
  IviIniHandle h = Open(kBench);
  uint8_t changed = 0xAA;
  EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 0);
  struct stat loaded;
  ASSERT_EQ(stat(path_.c_str(), &loaded), 0);
  std::string same = kBench;
  same[2] = 'X';  // "# Xench": one byte other, the size kept
  WriteFile(same);
  const struct timespec sameSecond[2] = {loaded.st_mtim, {loaded.st_mtim.tv_sec, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), sameSecond, 0), 0);
  EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, loaded.st_mtim.tv_nsec == 0 ? 0 : 1);
  EXPECT_EQ(IviIni_ReloadConfiguration(h), kIviIniSuccess);
  EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 0);

  struct stat reloaded;
  ASSERT_EQ(stat(path_.c_str(), &reloaded), 0);
  WriteFileAt(path_ + ".new", same);
  const struct timespec times[2] = {reloaded.st_mtim, reloaded.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, (path_ + ".new").c_str(), times, 0), 0);
  ASSERT_EQ(rename((path_ + ".new").c_str(), path_.c_str()), 0);
  EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 1) << "another inode";
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniSuccess) << "nothing edited: nothing to refuse";
}

// A folder its user cannot write to, though the file is. Root writes
// anywhere, so as root the case runs in a child process that has become an
// ordinary user.
TEST_F(FileStore, SavingIntoAnUnwritableFolderFailsAndKeepsTheOldFile) {
  WriteFile(kBench);
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(dir_.c_str(), root ? 0755 : 0555), 0);
  ASSERT_EQ(chmod(path_.c_str(), 0666), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (root && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(2);
    IviIniHandle h = nullptr;
    int failed = IviIni_OpenIniFile(path_.c_str(), &h) != kIviIniSuccess;
    failed |= IviIni_RemoveVI(h, "Meter7") != kIviIniSuccess;
    failed |= IviIni_CloseIniFile(h, 1) != kIviIniStoreCannotCreateTemporary;
    failed |= IviIni_CloseIniFile(h, 0) != kIviIniSuccess;  // it stayed open
    _exit(failed ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  chmod(dir_.c_str(), 0700);
  EXPECT_EQ(ReadFile(), kBench);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"store.ini"});
}

}  // namespace

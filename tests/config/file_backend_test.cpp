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
};
Injection g_injection;
std::vector<std::string> g_trace;

void Inject(const std::string &call, int error, int times = 1) {
  g_injection = {call, error, times, 0};
}

bool Failing(const char *call) {
  if (g_injection.call != call) return false;
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
  seam.sync = [](int fd) { return Failing("sync") ? Failed<int>() : Real().sync(fd); };
  seam.rename = [](int folder, const char *from, const char *to) {
    return Failing("rename") ? Failed<int>() : Real().rename(folder, from, to);
  };
  seam.lock = [](int fd, int operation) {
    return Failing("lock") ? Failed<int>() : Real().lock(fd, operation);
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
  static void WriteFileAt(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::trunc | std::ios::binary) << text;
  }

  std::string ReadFile() const { return ReadFileAt(path_); }
  static std::string ReadFileAt(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::vector<std::string> FolderEntries() const { return FolderEntriesOf(dir_); }
  static std::vector<std::string> FolderEntriesOf(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
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
      {"open", EACCES, 1, kIviIniStoreCannotCreateTemporary, FileStep::kOpenFolder},
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
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"store.ini"});
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
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"store.ini"});
  }
}

// ---- What the file system holds -------------------------------------------------

enum class User { kSelf, kNobody, kGroupMember };
constexpr uid_t kNobody = 65534;
constexpr gid_t kSharedGroup = 4242;
constexpr uid_t kStoreOwner = 4444;
constexpr uid_t kGroupMember = 4343;
constexpr int32_t kNotRun = INT32_MIN;

// Runs `body` as `user` and answers what it answered: another user's body
// runs in a child process that has switched to that user, which takes root;
// kNotRun when that cannot be done here.
int32_t RunAs(User user, const std::function<int32_t()> &body) {
  if (user == User::kSelf) return body();
  if (geteuid() != 0) return kNotRun;
  int channel[2];
  if (pipe(channel) != 0) return kNotRun;
  const pid_t child = fork();
  if (child == 0) {
    const bool member = user == User::kGroupMember;
    const gid_t groups[] = {kSharedGroup};
    const uid_t uid = member ? kGroupMember : kNobody;
    const bool switched = setgroups(member ? 1 : 0, groups) == 0 &&
                          setresgid(kNobody, kNobody, kNobody) == 0 &&
                          setresuid(uid, uid, uid) == 0;
    const int32_t result = switched ? body() : kNotRun;
    _exit(write(channel[1], &result, sizeof result) == sizeof result ? 0 : 1);
  }
  close(channel[1]);
  int32_t result = kNotRun;
  if (child < 0 || read(channel[0], &result, sizeof result) != sizeof result) result = kNotRun;
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return result;
}

struct FileSystemCase {
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
};

std::string Target(const char *link) {
  char target[256] = {};
  return readlink(link, target, sizeof target - 1) > 0 ? target : "(no link)";
}

// Every case ends in a complete save or a refusal that leaves every file as
// it was (the configuration staying open), and in no temporary left over.
TEST_F(FileStore, EachKindOfFileEndsInACompleteSaveOrARefusalThatTouchesNothing) {
  const std::string bench = kBench;
  const std::string added = bench + "\n[Device Added]\n";
  const auto entries = [] { return FolderEntriesOf("."); };
  const auto names = [](std::vector<std::string> list) {
    std::sort(list.begin(), list.end());
    return list;
  };
  const std::string longName = std::string(251, 's') + ".ini";
  const bool root = geteuid() == 0;
  const FileSystemCase cases[] = {
      {"a relative path, then a change of working folder: saved to the file loaded", User::kSelf,
       [&] {
         mkdir("a", 0700), mkdir("b", 0700);
         WriteFileAt("a/store.ini", bench), WriteFileAt("b/store.ini", "[Device Other]\n");
         EXPECT_EQ(chdir("a"), 0);
         return std::string("store.ini");
       },
       [] { EXPECT_EQ(chdir("../b"), 0); }, kIviIniSuccess,
       [&] {
         EXPECT_EQ(ReadFileAt("../a/store.ini"), added);
         EXPECT_EQ(ReadFileAt("store.ini"), "[Device Other]\n");
       }},
      {"a symbolic link re-pointed at another file: refused, both files untouched", User::kSelf,
       [&] {
         WriteFileAt("store.ini", bench), WriteFileAt("secret.ini", "[Device Secret]\n");
         EXPECT_EQ(chmod("secret.ini", 0600), 0);
         EXPECT_EQ(symlink("store.ini", "link.ini"), 0);
         return std::string("link.ini");
       },
       [] {
         EXPECT_EQ(unlink("link.ini"), 0);
         EXPECT_EQ(symlink("secret.ini", "link.ini"), 0);
       },
       kIviIniStoreChangedOnDisk,
       [&] {
         EXPECT_EQ(ReadFileAt("secret.ini"), "[Device Secret]\n");
         EXPECT_EQ(ReadFileAt("store.ini"), bench);
         EXPECT_EQ(Target("link.ini"), "secret.ini");
         EXPECT_EQ(entries(), names({"link.ini", "secret.ini", "store.ini"}));
       }},
      {"a symbolic link whose file was deleted: refused, the link stays a link", User::kSelf,
       [&] {
         WriteFileAt("store.ini", bench);
         EXPECT_EQ(symlink("store.ini", "link.ini"), 0);
         return std::string("link.ini");
       },
       [] { unlink("store.ini"); }, kIviIniStoreChangedOnDisk,
       [&] {
         EXPECT_EQ(Target("link.ini"), "store.ini");
         EXPECT_EQ(entries(), names({"link.ini"}));
       }},
      {"the file deleted since loading: refused, not made anew", User::kSelf,
       [&] {
         WriteFileAt("store.ini", bench);
         return std::string("store.ini");
       },
       [] { unlink("store.ini"); }, kIviIniStoreChangedOnDisk,
       [&] { EXPECT_EQ(entries(), names({})); }},
      {"a file with a second hard link: refused, the two names keep one file", User::kSelf,
       [&] {
         WriteFileAt("store.ini", bench);
         EXPECT_EQ(link("store.ini", "other.ini"), 0);
         return std::string("store.ini");
       },
       [] {}, kIviIniStoreHardLinked,
       [&] {
         struct stat one, other;
         ASSERT_EQ(stat("store.ini", &one), 0);
         ASSERT_EQ(stat("other.ini", &other), 0);
         EXPECT_EQ(one.st_ino, other.st_ino);
         EXPECT_EQ(ReadFileAt("other.ini"), bench);
         EXPECT_EQ(entries(), names({"other.ini", "store.ini"}));
       }},
      {"a FIFO: refused at once, never waited on", User::kSelf,
       [&] {
         EXPECT_EQ(mkfifo("store.ini", 0600), 0);
         return std::string("store.ini");
       },
       [] {}, kIviIniStoreUnreadable, [&] { EXPECT_EQ(entries(), names({"store.ini"})); }},
      {"a file name of 255 bytes: saved", User::kSelf,
       [&] {
         WriteFileAt(longName, bench);
         return longName;
       },
       [] {}, kIviIniSuccess,
       [&] {
         EXPECT_EQ(ReadFileAt(longName), added);
         EXPECT_EQ(entries(), names({longName}));
       }},
      {"extended attributes (ACLs, labels): kept by the new file", User::kSelf,
       [&] {
         WriteFileAt("store.ini", bench);
         const bool set = setxattr("store.ini", "user.velmora.origin", "bench3", 6, 0) == 0;
         return std::string(set ? "store.ini" : "");
       },
       [] {}, kIviIniSuccess,
       [&] {
         char value[16] = {};
         EXPECT_EQ(getxattr("store.ini", "user.velmora.origin", value, sizeof value), 6);
         EXPECT_STREQ(value, "bench3");
         EXPECT_EQ(ReadFileAt("store.ini"), added);
       }},
      {"a read-only file: refused, though its folder would let it be replaced",
       root ? User::kNobody : User::kSelf,
       [&] {
         WriteFileAt("store.ini", bench), chmod("store.ini", 0444);
         if (root &&
             (chown(".", kNobody, kNobody) != 0 || chown("store.ini", kNobody, kNobody) != 0))
           return std::string();
         return std::string("store.ini");
       },
       [] {}, kIviIniStoreNotWritable,
       [&] {
         EXPECT_EQ(ReadFileAt("store.ini"), bench);
         EXPECT_EQ(entries(), names({"store.ini"}));
       }},
      {"a group-shared file saved by a member who is not its owner: the group stays",
       User::kGroupMember,
       [&] {
         WriteFileAt("store.ini", bench);
         const bool shared = chown(".", 0, kSharedGroup) == 0 && chmod(".", 0775) == 0 &&
                             chown("store.ini", kStoreOwner, kSharedGroup) == 0 &&
                             chmod("store.ini", 0660) == 0;
         return std::string(shared ? "store.ini" : "");
       },
       [] {}, kIviIniSuccess,
       [&] {
         struct stat info;
         ASSERT_EQ(stat("store.ini", &info), 0);
         EXPECT_EQ(info.st_gid, kSharedGroup);
         EXPECT_EQ(info.st_mode & 07777, 0660u);
         EXPECT_EQ(ReadFileAt("store.ini"), added);
       }},
  };
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);  // other users reach the cases' folders
  const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(home, 0);
  int number = 0;
  for (const FileSystemCase &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir_ + "/" + std::to_string(++number);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(chdir(folder.c_str()), 0);
    const std::string path = c.prepare();
    int32_t status = kNotRun;
    if (!path.empty()) {
      alarm(20);  // a call that waits on a FIFO ends the test instead of hanging it
      status = RunAs(c.user, [&] {
        IviIniHandle h = nullptr;
        int32_t result = IviIni_OpenIniFile(path.c_str(), &h);
        if (result != kIviIniSuccess) return result;
        IviIni_AddDevice(h, "Added");
        c.meanwhile();
        result = IviIni_CloseIniFile(h, 1);
        if (result != kIviIniSuccess) IviIni_CloseIniFile(h, 0);  // it stayed open
        return result;
      });
      alarm(0);
    }
    if (status == kNotRun) {
      printf("note: not run here (needs root to switch users or set attributes): %s\n", c.name);
    } else {
      EXPECT_EQ(status, c.status);
      c.check();
    }
    ASSERT_EQ(fchdir(home), 0);
  }
  close(home);
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
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"store.ini"}) << "no temporary, no lock";
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

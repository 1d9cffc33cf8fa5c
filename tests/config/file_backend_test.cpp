// The library with its file back end, through the C interface: a store file
// opened, read, walked, edited and saved, and what happens when saving
// fails. The executable is linked with --wrap for rename, fsync, mkstemp and
// write, so that a case can make one of them fail once (see FailNext).
#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/backend.h"
#include "config/configuration.h"
#include "velmora/velmora.h"

namespace {

// ---- The system-call seam ------------------------------------------------------

std::string g_failing;  // the call to fail next, or empty
int g_failingErrno = 0;

bool Failing(const char *call) {
  if (g_failing != call) return false;
  g_failing.clear();
  errno = g_failingErrno;
  return true;
}

void FailNext(const std::string &call, int error) {
  g_failing = call;
  g_failingErrno = error;
}

}  // namespace

extern "C" {
int __real_rename(const char *from, const char *to);
int __real_fsync(int fd);
int __real_mkstemp(char *pattern);
ssize_t __real_write(int fd, const void *data, size_t length);

int __wrap_rename(const char *from, const char *to) {
  return Failing("rename") ? -1 : __real_rename(from, to);
}
int __wrap_fsync(int fd) {
  return Failing("fsync") ? -1 : __real_fsync(fd);
}
int __wrap_mkstemp(char *pattern) {
  return Failing("mkstemp") ? -1 : __real_mkstemp(pattern);
}
ssize_t __wrap_write(int fd, const void *data, size_t length) {
  return Failing("write") ? -1 : __real_write(fd, data, length);
}
}  // extern "C"

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
  }

  void TearDown() override {
    while (velmora::RegistryCount() > 0) IviIni_CloseIniFile(velmora::RegistryEntries()[0], 0);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void WriteFile(const std::string &text) const { std::ofstream(path_, std::ios::trunc) << text; }

  std::string ReadFile() const {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
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
  int32_t status;
};

TEST_F(FileStore, AFailedSaveLeavesTheOldFileAndNoTemporaryAndStaysOpen) {
  const InjectedFailure failures[] = {
      {"mkstemp", EACCES, kIviIniStoreCannotCreateTemporary},
      {"write", ENOSPC, kIviIniStoreWriteFailed},
      {"fsync", EIO, kIviIniStoreWriteFailed},
      {"rename", EIO, kIviIniStoreReplaceFailed},
  };
  for (const InjectedFailure &failure : failures) {
    SCOPED_TRACE(failure.call);
    IviIniHandle h = Open(kBench);
    ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
    EXPECT_EQ(IviIni_SetDeviceDescription(h, "Rack1Slot2", "moved to rack 2"), kIviIniSuccess);
    FailNext(failure.call, failure.error);
    EXPECT_EQ(IviIni_CloseIniFile(h, 1), failure.status);
    EXPECT_TRUE(g_failing.empty()) << "the save never called " << failure.call;
    EXPECT_EQ(ReadFile(), kBench);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"store.ini"});

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

// A folder its user cannot write to. Root writes anywhere, so as root the
// case runs in a child process that has become an ordinary user.
TEST_F(FileStore, SavingIntoAnUnwritableFolderFailsAndKeepsTheOldFile) {
  WriteFile(kBench);
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(dir_.c_str(), root ? 0755 : 0555), 0);
  ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
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

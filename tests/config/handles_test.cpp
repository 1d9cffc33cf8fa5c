// Opening, closing, change tracking, reloading and the registry of open
// configurations, against the in-memory store.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/config/export_table.h"
#include "tests/config/store_fixture.h"

namespace {

using memstore::Trace;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

IniConfiguration *const kSentinel = reinterpret_cast<IniConfiguration *>(uintptr_t{0xBADC0DE0});

std::vector<IviIniHandle> Registered() {
  IniConfiguration *const *entries = velmora::RegistryEntries();
  return std::vector<IviIniHandle>(entries, entries + velmora::RegistryCount());
}

struct timespec ModificationTime(const std::string &path) {
  struct stat info;
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_mtim;
}

// Sets a file's modification time, so that tests need not sleep.
void SetModificationTime(const std::string &path, struct timespec time) {
  const struct timespec times[2] = {time, time};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

int32_t LogicalNameCount(IviIniHandle h) {
  int32_t count = -1;
  EXPECT_EQ(IviIni_GetNumberOfLogicalNames(h, &count), kIviIniSuccess);
  return count;
}

using Registry = StoreTest;

TEST_F(Registry, KeepsOpeningOrderAndRemovalFromMiddleKeepsTheRest) {
  IviIniHandle a = OpenText("", "a.txt");
  IviIniHandle b = OpenText("", "b.txt");
  IviIniHandle c = OpenText("", "c.txt");
  IviIniHandle d = OpenText("", "d.txt");
  EXPECT_THAT(Registered(), ElementsAre(a, b, c, d));

  EXPECT_EQ(IviIni_CloseIniFile(b, 0), kIviIniSuccess);
  EXPECT_THAT(Registered(), ElementsAre(a, c, d));
  EXPECT_FALSE(velmora::FindConfiguration(b));
  EXPECT_TRUE(velmora::FindConfiguration(a));
  EXPECT_TRUE(velmora::FindConfiguration(c));

  EXPECT_EQ(IviIni_CloseIniFile(a, 0), kIviIniSuccess);
  EXPECT_THAT(Registered(), ElementsAre(c, d));
}

TEST_F(Registry, HoldsNoArrayOnceEmptyAndStartsANewOne) {
  EXPECT_EQ(velmora::RegistryEntries(), nullptr);
  IviIniHandle h = OpenText("");
  EXPECT_NE(velmora::RegistryEntries(), nullptr);
  EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
  EXPECT_EQ(velmora::RegistryCount(), 0);
  EXPECT_EQ(velmora::RegistryEntries(), nullptr);

  IviIniHandle again = OpenText("");
  EXPECT_THAT(Registered(), ElementsAre(again));
}

TEST_F(Registry, RemovingAnUnknownHandleAnswersInvalidHandleAndKeepsTheRest) {
  EXPECT_EQ(velmora::RemoveConfiguration(MadeUpHandle()), kIviIniInvalidHandle);
  EXPECT_EQ(velmora::RegistryEntries(), nullptr);

  IviIniHandle h = OpenText("");
  EXPECT_EQ(velmora::RemoveConfiguration(MadeUpHandle()), kIviIniInvalidHandle);
  EXPECT_EQ(velmora::RemoveConfiguration(nullptr), kIviIniInvalidHandle);
  EXPECT_THAT(Registered(), ElementsAre(h));
}

using Open = StoreTest;

TEST_F(Open, NullHandleOutPointerAnswersNullPointerAndTouchesNothing) {
  EXPECT_EQ(IviIni_OpenIniFile(Write("x.txt", "").c_str(), nullptr), kIviIniNullPointer);
  EXPECT_EQ(IviIni_OpenIniFile(nullptr, nullptr), kIviIniNullPointer);
  EXPECT_EQ(velmora::RegistryEntries(), nullptr);
  EXPECT_TRUE(Trace().empty());
}

TEST_F(Open, PathOf257CharactersIsTooLongAndLeavesTheHandleVariable) {
  const std::string path(257, 'p');
  IviIniHandle h = kSentinel;
  EXPECT_EQ(IviIni_OpenIniFile(path.c_str(), &h), kIviIniPathTooLong);
  EXPECT_EQ(h, kSentinel);
  EXPECT_EQ(velmora::RegistryEntries(), nullptr);
  EXPECT_TRUE(Trace().empty());
}

TEST_F(Open, PathOf256CharactersIsLoaded) {
  std::string name = "n";
  name.resize(256 - Path("").size(), 'n');
  const std::string path = Write(name, "logicalname|Only\n");
  ASSERT_EQ(path.size(), 256u);

  IviIniHandle h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(path.c_str(), &h), kIviIniSuccess);
  EXPECT_STREQ(h->state.path, path.c_str());
  EXPECT_EQ(LogicalNameCount(h), 1);
}

TEST_F(Open, NullAndEmptyPathTakeTheDefaultLocationOfAttribute5) {
  const std::string first = Write("first.txt", "logicalname|A\n");
  const std::string second = Write("second.txt", "logicalname|A\nlogicalname|B\n");
  memstore::SetDefaultLocations(first, second);

  for (const char *path : {static_cast<const char *>(nullptr), ""}) {
    SCOPED_TRACE(path == nullptr ? "null path" : "empty path");
    memstore::ClearTrace();
    IviIniHandle h = nullptr;
    ASSERT_EQ(IviIni_OpenIniFile(path, &h), kIviIniSuccess);
    EXPECT_THAT(Trace(), ElementsAre("CreateStore", "GetStoreString 5", "LoadStore " + first));
    EXPECT_STREQ(h->state.path, first.c_str());
    EXPECT_EQ(LogicalNameCount(h), 1);
    EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
  }
}

TEST_F(Open, EmptyAttribute5FallsBackToAttribute3) {
  const std::string fallback = Write("fallback.txt", "logicalname|A\nlogicalname|B\n");
  memstore::SetDefaultLocations("", fallback);
  IviIniHandle h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile("", &h), kIviIniSuccess);
  EXPECT_THAT(Trace(), ElementsAre("CreateStore", "GetStoreString 5", "GetStoreString 3",
                                   "LoadStore " + fallback));
  EXPECT_EQ(LogicalNameCount(h), 2);
}

TEST_F(Open, NoDefaultLocationLoadsWithAnEmptyPathThatNeverReadsAsChanged) {
  IviIniHandle h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(nullptr, &h), kIviIniSuccess);
  EXPECT_THAT(Trace(), Contains("LoadStore"));
  EXPECT_STREQ(h->state.path, "");
  uint8_t changed = 0xAA;
  EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 0);
}

TEST_F(Open, FailingDefaultLocationQueryFailsTheOpen) {
  for (int attribute : {5, 3}) {
    SCOPED_TRACE(attribute);
    memstore::Reset();
    memstore::FailOn("GetStoreString", -77, attribute == 5 ? 1 : 2);
    IviIniHandle h = kSentinel;
    EXPECT_EQ(IviIni_OpenIniFile("", &h), -77);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(velmora::RegistryEntries(), nullptr);
    EXPECT_EQ(memstore::LiveStores(), 0);
  }
}

TEST_F(Open, LoadFailureUnregistersReleasesAndNullsTheHandle) {
  IviIniHandle other = OpenText("");
  memstore::FailOn("LoadStore", -42);
  IviIniHandle h = kSentinel;
  EXPECT_EQ(IviIni_OpenIniFile(Write("y.txt", "").c_str(), &h), -42);
  EXPECT_EQ(h, nullptr);
  EXPECT_THAT(Registered(), ElementsAre(other));
  EXPECT_EQ(memstore::LiveStores(), 1);  // the other configuration's only
}

TEST_F(Open, FailureOfTheOnlyOpenLeavesNoRegistryArray) {
  memstore::FailOn("CreateStore", -5);
  IviIniHandle h = kSentinel;
  EXPECT_EQ(IviIni_OpenIniFile(Write("y.txt", "").c_str(), &h), -5);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(velmora::RegistryCount(), 0);
  EXPECT_EQ(velmora::RegistryEntries(), nullptr);
}

TEST_F(Open, MissingFileAnswersTheStoresStatus) {
  IviIniHandle h = kSentinel;
  EXPECT_EQ(IviIni_OpenIniFile(Path("absent.txt").c_str(), &h), memstore::kNotFound);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(memstore::LiveStores(), 0);
}

TEST_F(Open, PositiveLoadResultIsTheAnswer) {
  memstore::FailOn("LoadStore", 7);
  IviIniHandle h = nullptr;
  EXPECT_EQ(IviIni_OpenIniFile(Write("x.txt", "").c_str(), &h), 7);
  EXPECT_TRUE(velmora::FindConfiguration(h));
}

using Close = StoreTest;

TEST_F(Close, SavingWritesTheStoreBackThenReleasesIt) {
  IviIniHandle h = OpenText("logicalname|A\n");
  ContentOf(h).Add(memstore::Kind::Device, "Added");
  EXPECT_EQ(IviIni_CloseIniFile(h, 0x80), kIviIniSuccess);  // any nonzero byte saves
  EXPECT_THAT(Trace(), ElementsAre("SaveStore " + Path("config.txt"), "ReleaseStore"));
  EXPECT_EQ(memstore::LiveStores(), 0);
  EXPECT_EQ(velmora::RegistryEntries(), nullptr);

  IviIniHandle reopened = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(Path("config.txt").c_str(), &reopened), kIviIniSuccess);
  EXPECT_NE(ContentOf(reopened).Find(memstore::Kind::Device, "Added"), nullptr);
}

TEST_F(Close, WithoutSavingLeavesTheFileAlone) {
  IviIniHandle h = OpenText("logicalname|A\n");
  ContentOf(h).Add(memstore::Kind::Device, "Added");
  EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
  EXPECT_THAT(Trace(), ElementsAre("ReleaseStore"));
  IviIniHandle reopened = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(Path("config.txt").c_str(), &reopened), kIviIniSuccess);
  EXPECT_EQ(ContentOf(reopened).Find(memstore::Kind::Device, "Added"), nullptr);
}

TEST_F(Close, FailingSaveKeepsTheConfigurationOpenAndASecondCloseSucceeds) {
  IviIniHandle h = OpenText("logicalname|A\n");
  memstore::FailOn("SaveStore", -31, 1);
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), -31);
  EXPECT_TRUE(velmora::FindConfiguration(h));
  EXPECT_EQ(memstore::LiveStores(), 1);
  EXPECT_EQ(LogicalNameCount(h), 1);

  EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
  EXPECT_FALSE(velmora::FindConfiguration(h));
  EXPECT_EQ(memstore::LiveStores(), 0);
}

TEST_F(Close, PositiveSaveResultIsTheAnswerAndAFailingReleaseIsIgnored) {
  IviIniHandle h = OpenText("");
  memstore::FailOn("SaveStore", 9);
  memstore::FailOn("ReleaseStore", -8);
  EXPECT_EQ(IviIni_CloseIniFile(h, 1), 9);
  EXPECT_FALSE(velmora::FindConfiguration(h));
}

TEST_F(Close, ClosedNullAndMadeUpHandlesAnswerInvalidHandleWhileOthersStayOpen) {
  IviIniHandle open = OpenText("", "open.txt");
  IviIniHandle closed = OpenText("", "closed.txt");
  ASSERT_EQ(IviIni_CloseIniFile(closed, 0), kIviIniSuccess);
  memstore::ClearTrace();
  for (IviIniHandle h : {closed, static_cast<IviIniHandle>(nullptr), MadeUpHandle()}) {
    EXPECT_EQ(IviIni_CloseIniFile(h, 1), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_ReloadConfiguration(h), kIviIniInvalidHandle);
    uint8_t changed = 0xAA;
    EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniInvalidHandle);
    EXPECT_EQ(IviIni_ConfigurationChanged(h, nullptr), kIviIniInvalidHandle);
    EXPECT_EQ(changed, 0xAA);
  }
  EXPECT_TRUE(Trace().empty());
  EXPECT_THAT(Registered(), ElementsAre(open));
}

using ConfigurationChanged = StoreTest;

// Each change happens within the second the store was loaded in, and each
// one alone is what tells it apart from the loaded file.
struct FileChange {
  const char *name;
  void (*change)(const std::string &path, struct timespec loaded);
};

const FileChange kFileChanges[] = {
    {"rewritten in place within the same second, other size",
     [](const std::string &path, struct timespec loaded) {
       std::ofstream(path, std::ios::trunc) << "logicalname|AB\n";
       SetModificationTime(path, {loaded.tv_sec, (loaded.tv_nsec + 1) % 1000000000});
     }},
    {"rewritten in place keeping the size and the second",
     [](const std::string &path, struct timespec loaded) {
       std::ofstream(path, std::ios::trunc) << "logicalname|B\n";
       SetModificationTime(path, {loaded.tv_sec, (loaded.tv_nsec + 1) % 1000000000});
     }},
    {"replaced by a rename, same size and time to the nanosecond",
     [](const std::string &path, struct timespec loaded) {
       const std::string other = path + ".new";
       std::ofstream(other) << "logicalname|B\n";
       SetModificationTime(other, loaded);
       ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
     }},
    {"set back to an earlier time",
     [](const std::string &path, struct timespec loaded) {
       SetModificationTime(path, {loaded.tv_sec - 60, loaded.tv_nsec});
     }},
    {"deleted", [](const std::string &path, struct timespec) { unlink(path.c_str()); }},
};

TEST_F(ConfigurationChanged, SeesEveryChangeOfTheFileAndNoneAfterAReload) {
  for (const FileChange &c : kFileChanges) {
    SCOPED_TRACE(c.name);
    IviIniHandle h = OpenText("logicalname|A\n");
    const std::string path = Path("config.txt");
    uint8_t changed = 0xAA;
    EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
    EXPECT_EQ(changed, 0) << "unchanged file";

    c.change(path, ModificationTime(path));
    changed = 0xAA;
    EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
    EXPECT_EQ(changed, 1);
    if (access(path.c_str(), F_OK) == 0) {
      EXPECT_EQ(IviIni_ReloadConfiguration(h), kIviIniSuccess);
      EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
      EXPECT_EQ(changed, 0) << "the reload took the new file";
    }
    EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
  }
}

TEST_F(ConfigurationChanged, FileThatCouldNotBeExaminedAtLoadReadsAsChanged) {
  memstore::FailOn("LoadStore", 0);  // the store loads without a file
  IviIniHandle h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile(Path("never-written.txt").c_str(), &h), kIviIniSuccess);
  EXPECT_FALSE(h->state.loadedKnown);
  uint8_t changed = 0xAA;
  EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 1);
}

TEST_F(ConfigurationChanged, NullOutPointerAnswersNullPointerOnAnOpenHandle) {
  IviIniHandle h = OpenText("");
  EXPECT_EQ(IviIni_ConfigurationChanged(h, nullptr), kIviIniNullPointer);
}

using Reload = StoreTest;

TEST_F(Reload, SuccessSwapsTheStoreAndKeepsTheHandle) {
  IviIniHandle h = OpenText("logicalname|A\n");
  const std::string path = Path("config.txt");
  Write("config.txt", "logicalname|A\nlogicalname|B\n");
  const struct timespec rewritten = {ModificationTime(path).tv_sec + 5, 0};
  SetModificationTime(path, rewritten);
  memstore::ClearTrace();

  EXPECT_EQ(IviIni_ReloadConfiguration(h), kIviIniSuccess);
  EXPECT_THAT(Trace(), ElementsAre("CreateStore", "LoadStore " + path, "ReleaseStore"));
  EXPECT_THAT(Registered(), ElementsAre(h));
  EXPECT_EQ(memstore::LiveStores(), 1);
  EXPECT_EQ(LogicalNameCount(h), 2);
  EXPECT_EQ(h->state.loaded.seconds, rewritten.tv_sec);
  uint8_t changed = 0xAA;
  EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 0);
}

TEST_F(Reload, FailureKeepsThePreviousStorePathAndTime) {
  IviIniHandle h = OpenText("logicalname|A\n");
  const velmora::StoreState before = h->state;
  const std::string path = Path("config.txt");
  Write("config.txt", "not a configuration\n");
  SetModificationTime(path, {before.loaded.seconds + 5, 0});

  EXPECT_EQ(IviIni_ReloadConfiguration(h), memstore::kBadFile);
  EXPECT_EQ(h->state.store, before.store);
  EXPECT_STREQ(h->state.path, before.path);
  EXPECT_TRUE(velmora::SameIdentity(h->state.loaded, before.loaded));
  EXPECT_EQ(memstore::LiveStores(), 1);
  EXPECT_EQ(LogicalNameCount(h), 1);
  uint8_t changed = 0;
  EXPECT_EQ(IviIni_ConfigurationChanged(h, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 1);

  memstore::FailOn("CreateStore", -13);
  EXPECT_EQ(IviIni_ReloadConfiguration(h), -13);
  EXPECT_EQ(h->state.store, before.store);
}

TEST_F(Reload, TakesUpADefaultLocationThatAppearedSinceOpening) {
  IviIniHandle h = nullptr;
  ASSERT_EQ(IviIni_OpenIniFile("", &h), kIviIniSuccess);
  const std::string path = Write("later.txt", "device|D\n");
  memstore::SetDefaultLocations(path, "");

  EXPECT_EQ(IviIni_ReloadConfiguration(h), kIviIniSuccess);
  EXPECT_STREQ(h->state.path, path.c_str());
  EXPECT_EQ(h->state.loaded.nanoseconds, ModificationTime(path).tv_nsec);
  EXPECT_NE(ContentOf(h).Find(memstore::Kind::Device, "D"), nullptr);
}

TEST_F(Reload, WithoutAStoreAnswersNoStoreAndReleasesTheFreshOne) {
  IviIniHandle h = OpenText("");
  velmora::ReleaseStore(h->state.store);
  h->state.store = nullptr;

  EXPECT_EQ(IviIni_ReloadConfiguration(h), kIviIniNoStore);
  EXPECT_EQ(h->state.store, nullptr);
  EXPECT_EQ(memstore::LiveStores(), 0) << "the freshly loaded store was kept";
}

}  // namespace

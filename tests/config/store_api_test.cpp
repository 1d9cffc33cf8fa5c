// libvelmora-store through its C interface only, linked as a program or a
// language binding links it: what each call answers, writes and leaves, on
// copies of a small bench store in a private folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "velmora/velmora_store.h"

namespace {

constexpr char kBench[] =
    "# bench 3\n"
    "[Driver acmeScope]\n"
    "Module = libacmeScope.so\n"
    "Classes = IviDriver, IviScope,, IviDigitizer\n"
    "[Device Rack1Slot2]\n"
    "Resource = TCPIP0::10.0.0.5::INSTR\n"
    "[Session Bench3.ScopeSession]\n"
    "Description =\n"
    "Driver = acmeScope\n"
    "Device = Rack1Slot2\n"
    "Simulate = Yes\n"
    "Channels = CH[1..2], TRIG\n"
    "[Session Meter7Session]\n"
    "Driver = orionDmm\n"
    "Device = Rack1Slot2\n"
    "[LogicalName Bench3.Scope]\n"
    "Session = \"Bench3.ScopeSession\"\n";

class StoreApi : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "velmora-store-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }

  void TearDown() override {
    velmora_store_close(store_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Path(const std::string &name) const { return dir_ + "/" + name; }

  std::string Write(const std::string &name, const std::string &text) const {
    std::ofstream(Path(name), std::ios::binary | std::ios::trunc) << text;
    return Path(name);
  }

  std::string Read(const std::string &name) const {
    std::stringstream text;
    text << std::ifstream(Path(name), std::ios::binary).rdbuf();
    return text.str();
  }

  // Opens a copy of `text` as store.ini into store_.
  void OpenText(const std::string &text = kBench) {
    velmora_store_problem problem;
    ASSERT_EQ(velmora_store_open(Write("store.ini", text).c_str(), &store_, &problem),
              kIviIniSuccess)
        << problem.message;
  }

  // A string call answered in full: its status, and the string on success.
  template <typename Call>
  static std::string Text(Call call, int32_t *status = nullptr) {
    const int32_t needed = call(nullptr, 0);
    std::string text(needed > 0 ? static_cast<size_t>(needed) : 0, '\0');
    const int32_t answer = needed > 0 ? call(&text[0], needed) : needed;
    if (status != nullptr) *status = answer;
    if (answer != kIviIniSuccess) return "(status " + std::to_string(answer) + ")";
    text.resize(static_cast<size_t>(needed) - 1);
    return text;
  }

  std::string Get(velmora_store_kind kind, const char *name, const char *key) {
    return Text(
        [&](char *b, int32_t n) { return velmora_store_get(store_, kind, name, key, b, n); });
  }

  std::vector<std::string> Channels(const char *session) {
    uint32_t count = 0;
    EXPECT_EQ(velmora_store_channel_count(store_, session, &count), kIviIniSuccess);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
      names.push_back(Text(
          [&](char *b, int32_t n) { return velmora_store_channel(store_, session, i, b, n); }));
    }
    return names;
  }

  std::vector<std::string> Classes(const char *driver) {
    uint32_t count = 0;
    EXPECT_EQ(velmora_store_class_count(store_, driver, &count), kIviIniSuccess);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
      names.push_back(
          Text([&](char *b, int32_t n) { return velmora_store_class(store_, driver, i, b, n); }));
    }
    return names;
  }

  std::vector<std::string> Referrers(velmora_store_kind kind, const char *name) {
    uint32_t count = 0;
    EXPECT_EQ(velmora_store_referrer_count(store_, kind, name, &count), kIviIniSuccess);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
      velmora_store_kind from = VELMORA_STORE_DEVICE;
      const std::string item = Text([&](char *b, int32_t n) {
        return velmora_store_referrer(store_, kind, name, i, &from, b, n);
      });
      names.push_back(std::string(velmora_store_kind_name(from)) + " " + item);
    }
    return names;
  }

  std::string dir_;
  velmora_store *store_ = nullptr;
};

TEST_F(StoreApi, OpenNamesTheLineOfARefusedFileAndTheStepOfAFailedRead) {
  velmora_store_problem problem;
  velmora_store *store = reinterpret_cast<velmora_store *>(&problem);
  EXPECT_EQ(velmora_store_open(Write("bad.ini", "[Session s]\nSimulate = maybe\n").c_str(), &store,
                               &problem),
            kIviIniStoreBadSimulate);
  EXPECT_EQ(store, nullptr);
  EXPECT_EQ(problem.status, kIviIniStoreBadSimulate);
  EXPECT_EQ(problem.line, 2u);
  EXPECT_STREQ(problem.step, "");
  EXPECT_NE(std::string(problem.message).find("Simulate"), std::string::npos) << problem.message;

  EXPECT_EQ(velmora_store_open(Path("none.ini").c_str(), &store, &problem), kIviIniStoreNotFound);
  EXPECT_EQ(problem.line, 0u);
  EXPECT_STREQ(problem.step, "open");
  EXPECT_EQ(problem.path, Path("none.ini"));
  EXPECT_EQ(problem.error_number, ENOENT);
  EXPECT_EQ(std::string(problem.message),
            "opening " + Path("none.ini") + ": No such file or directory");

  EXPECT_EQ(velmora_store_open(std::string(257, 'a').c_str(), &store, &problem),
            kIviIniPathTooLong);
  EXPECT_EQ(velmora_store_open("store.ini", nullptr, &problem), kIviIniNullPointer);
  EXPECT_EQ(problem.status, kIviIniNullPointer);
  EXPECT_STREQ(problem.message, velmora_store_status_text(kIviIniNullPointer));
}

// A relative path from a working folder that cannot be named is refused
// with the status libvelmora answers too, never kept relative.
TEST_F(StoreApi, ARelativePathFromAFolderThatCannotBeNamedIsRefused) {
  const std::string here = std::filesystem::current_path();
  const std::string gone = dir_ + "/gone";
  ASSERT_EQ(mkdir(gone.c_str(), 0700), 0);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);
  velmora_store_problem problem;
  velmora_store *store = nullptr;
  EXPECT_EQ(velmora_store_open("store.ini", &store, &problem), kIviIniStoreNoWorkingFolder);
  ASSERT_EQ(chdir(here.c_str()), 0);
  EXPECT_EQ(store, nullptr);
  EXPECT_EQ(problem.error_number, ENOENT);
  EXPECT_STREQ(problem.path, "store.ini");
}

TEST_F(StoreApi, APathIsMadeAbsoluteAndAnEmptyOneOpensTheDefaultStore) {
  Write("store.ini", kBench);
  const std::string here = std::filesystem::current_path();
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  velmora_store_problem problem;
  ASSERT_EQ(velmora_store_open("store.ini", &store_, &problem), kIviIniSuccess);
  ASSERT_EQ(chdir(here.c_str()), 0);
  EXPECT_EQ(velmora_store_path(store_), Path("store.ini"));
  EXPECT_EQ(problem.status, kIviIniSuccess);
  EXPECT_STREQ(problem.message, "");
  // Saves go where the store was opened, wherever the process is now.
  ASSERT_EQ(velmora_store_set(store_, VELMORA_STORE_DEVICE, "Rack1Slot2", "Description", "d"),
            kIviIniSuccess);
  ASSERT_EQ(velmora_store_save(store_, &problem), kIviIniSuccess) << problem.message;
  EXPECT_NE(Read("store.ini").find("Description = d\n"), std::string::npos);

  velmora_store *other = nullptr;
  ASSERT_EQ(setenv("VELMORA_STORE", Write("mine.ini", "[Device d]\n").c_str(), 1), 0);
  ASSERT_EQ(velmora_store_open(nullptr, &other, nullptr), kIviIniSuccess);
  EXPECT_EQ(velmora_store_path(other), Path("mine.ini"));
  velmora_store_close(other);
  ASSERT_EQ(velmora_store_open("", &other, nullptr), kIviIniSuccess);
  velmora_store_close(other);
}

TEST_F(StoreApi, ReadsEveryKeyAsTheFileHoldsItAndTellsAMissingKeyFromAnEmptyOne) {
  OpenText();
  uint32_t count = 0;
  EXPECT_EQ(velmora_store_count(store_, VELMORA_STORE_SESSION, &count), kIviIniSuccess);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Text([&](char *b, int32_t n) {
              return velmora_store_name(store_, VELMORA_STORE_SESSION, 1, b, n);
            }),
            "Meter7Session");
  EXPECT_EQ(Get(VELMORA_STORE_LOGICAL_NAME, "Bench3.Scope", "session"), "Bench3.ScopeSession");
  EXPECT_EQ(Get(VELMORA_STORE_SESSION, "Meter7Session", "Driver"), "orionDmm");  // as stored
  EXPECT_EQ(Get(VELMORA_STORE_SESSION, "Bench3.ScopeSession", "SIMULATE"), "Yes");
  EXPECT_EQ(Get(VELMORA_STORE_SESSION, "Bench3.ScopeSession", "Channels"), "CH[1..2], TRIG");
  EXPECT_EQ(Get(VELMORA_STORE_DRIVER, "acmeScope", "Classes"),
            "IviDriver, IviScope,, IviDigitizer");
  EXPECT_EQ(Get(VELMORA_STORE_SESSION, "Bench3.ScopeSession", "Description"), "");
  EXPECT_EQ(Get(VELMORA_STORE_SESSION, "Meter7Session", "Description"), "(status -1325)");
  int has = -1;
  EXPECT_EQ(velmora_store_has_key(store_, VELMORA_STORE_SESSION, "Bench3.ScopeSession",
                                  "Description", &has),
            kIviIniSuccess);
  EXPECT_EQ(has, 1);
  EXPECT_EQ(
      velmora_store_has_key(store_, VELMORA_STORE_SESSION, "Meter7Session", "Description", &has),
      kIviIniSuccess);
  EXPECT_EQ(has, 0);
  int simulate = -1;
  EXPECT_EQ(velmora_store_simulate(store_, "Bench3.ScopeSession", &simulate), kIviIniSuccess);
  EXPECT_EQ(simulate, 1);
  EXPECT_EQ(velmora_store_simulate(store_, "Meter7Session", &simulate), kIviIniSuccess);
  EXPECT_EQ(simulate, 0);
  EXPECT_EQ(Channels("Bench3.ScopeSession"), (std::vector<std::string>{"CH1", "CH2", "TRIG"}));
  EXPECT_TRUE(Channels("Meter7Session").empty());
  EXPECT_EQ(Classes("acmeScope"),
            (std::vector<std::string>{"IviDriver", "IviScope", "IviDigitizer"}));

  // The string-return rule: a short buffer is cut, a size below 1 writes nothing.
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(velmora_store_get(store_, VELMORA_STORE_DRIVER, "acmeScope", "Module", buffer, 4), 16);
  EXPECT_STREQ(buffer, "lib");
  EXPECT_EQ(velmora_store_get(store_, VELMORA_STORE_DRIVER, "acmeScope", "Module", buffer, -1), 16);
  EXPECT_STREQ(buffer, "lib");
  EXPECT_EQ(velmora_store_channel(store_, "Bench3.ScopeSession", 3, buffer, 8),
            kIviIniStoreNoSuchItem);
  EXPECT_EQ(velmora_store_class(store_, "acmeScope", 3, buffer, 8), kIviIniStoreNoSuchItem);
  EXPECT_EQ(velmora_store_name(store_, VELMORA_STORE_DEVICE, 1, buffer, 8), kIviIniStoreNoSuchItem);
  EXPECT_STREQ(buffer, "lib");
}

TEST_F(StoreApi, EditsOfEveryKindAreSavedWithOnlyTheirBytesChanged) {
  OpenText();
  velmora_store *s = store_;
  EXPECT_EQ(velmora_store_add(s, VELMORA_STORE_DRIVER, "orionDmm"), kIviIniSuccess);
  // A null value unsets; Simulate is a truth value: a word meaning what the
  // session reads keeps the file's word, another is written true or false.
  const struct {
    velmora_store_kind kind;
    const char *name, *key, *value;
  } edits[] = {
      {VELMORA_STORE_DRIVER, "orionDmm", "prefix", "orionDmm"},
      {VELMORA_STORE_DRIVER, "acmeScope", "Classes", "IviDriver"},
      {VELMORA_STORE_SESSION, "Meter7Session", "Channels", "DMM"},
      {VELMORA_STORE_SESSION, "Meter7Session", "Description", ""},
      {VELMORA_STORE_SESSION, "Bench3.ScopeSession", "Device", ""},
      {VELMORA_STORE_SESSION, "Bench3.ScopeSession", "Simulate", nullptr},
      {VELMORA_STORE_SESSION, "Meter7Session", "Simulate", "no"},
      {VELMORA_STORE_SESSION, "Meter7Session", "Simulate", "1"},
      {VELMORA_STORE_SESSION, "Bench3.ScopeSession", "DriverSetup", nullptr},  // none to take out
  };
  for (const auto &e : edits) {
    SCOPED_TRACE(std::string(e.name) + " " + e.key);
    EXPECT_EQ(e.value != nullptr ? velmora_store_set(s, e.kind, e.name, e.key, e.value)
                                 : velmora_store_unset(s, e.kind, e.name, e.key),
              kIviIniSuccess);
  }
  EXPECT_EQ(Channels("Meter7Session"), std::vector<std::string>{"DMM"});
  EXPECT_EQ(Classes("acmeScope"), std::vector<std::string>{"IviDriver"});
  velmora_store_problem problem;
  ASSERT_EQ(velmora_store_save(s, &problem), kIviIniSuccess) << problem.message;
  EXPECT_EQ(Read("store.ini"),
            "# bench 3\n"
            "[Driver acmeScope]\n"
            "Module = libacmeScope.so\n"
            "Classes = IviDriver\n"
            "[Device Rack1Slot2]\n"
            "Resource = TCPIP0::10.0.0.5::INSTR\n"
            "[Session Bench3.ScopeSession]\n"
            "Description =\n"
            "Driver = acmeScope\n"
            "Device =\n"
            "Channels = CH[1..2], TRIG\n"
            "[Session Meter7Session]\n"
            "Driver = orionDmm\n"
            "Device = Rack1Slot2\n"
            "Description =\n"
            "Simulate = true\n"
            "Channels = DMM\n"
            "[LogicalName Bench3.Scope]\n"
            "Session = \"Bench3.ScopeSession\"\n"
            "\n"
            "[Driver orionDmm]\n"
            "Prefix = orionDmm\n");
}

TEST_F(StoreApi, RefusedEditsNameTheirStatusAndChangeNothing) {
  OpenText();
  velmora_store *s = store_;
  const velmora_store_kind session = VELMORA_STORE_SESSION;
  const char *scope = "Bench3.ScopeSession";
  EXPECT_EQ(velmora_store_set(s, session, scope, "Channels", "CH[2..1]"), kIviIniStoreBadValue);
  EXPECT_EQ(velmora_store_set(s, session, scope, "Simulate", "maybe"), kIviIniStoreBadValue);
  EXPECT_EQ(velmora_store_set(s, session, scope, "Description", "two\nlines"),
            kIviIniStoreBadValue);
  EXPECT_EQ(velmora_store_set(s, session, scope, "Description", nullptr), kIviIniStoreBadValue);
  EXPECT_EQ(velmora_store_set(s, session, scope, "Driver", "orionDmm"), kIviIniStoreNoSuchItem);
  EXPECT_EQ(velmora_store_set(s, session, "Meter8Session", "Driver", "acmeScope"),
            kIviIniStoreNoSuchItem);
  EXPECT_EQ(velmora_store_set(s, session, scope, "Colour", "red"), kIviIniStoreNoSuchProperty);
  EXPECT_EQ(velmora_store_set(s, session, scope, "Module", "x"), kIviIniStoreNoSuchProperty);
  EXPECT_EQ(velmora_store_unset(s, session, scope, nullptr), kIviIniStoreNoSuchProperty);
  EXPECT_EQ(velmora_store_set(s, static_cast<velmora_store_kind>(4), scope, "Description", "x"),
            kIviIniStoreNoSuchKind);
  EXPECT_EQ(velmora_store_add(s, session, scope), kIviIniStoreItemExists);
  EXPECT_EQ(velmora_store_add(s, session, ""), kIviIniStoreBadName);
  EXPECT_EQ(velmora_store_remove(s, VELMORA_STORE_DEVICE, "Meter7", 0), kIviIniStoreNoSuchItem);
  EXPECT_EQ(velmora_store_set(nullptr, session, scope, "Description", "x"), kIviIniInvalidHandle);
  velmora_store_problem problem;
  ASSERT_EQ(velmora_store_save(s, &problem), kIviIniSuccess);
  EXPECT_EQ(Read("store.ini"), kBench);
}

TEST_F(StoreApi, RemoveRefusesAReferencedItemUnlessForcedAndListsItsReferrers) {
  OpenText();
  EXPECT_EQ(Referrers(VELMORA_STORE_DEVICE, "Rack1Slot2"),
            (std::vector<std::string>{"Session Bench3.ScopeSession", "Session Meter7Session"}));
  EXPECT_EQ(Referrers(VELMORA_STORE_SESSION, "Bench3.ScopeSession"),
            std::vector<std::string>{"LogicalName Bench3.Scope"});
  // A driver the store lacks is named all the same, and a logical name by none.
  EXPECT_EQ(Referrers(VELMORA_STORE_DRIVER, "orionDmm"),
            std::vector<std::string>{"Session Meter7Session"});
  EXPECT_TRUE(Referrers(VELMORA_STORE_LOGICAL_NAME, "Bench3.Scope").empty());
  char buffer[8] = "";
  velmora_store_kind kind;
  EXPECT_EQ(velmora_store_referrer(store_, VELMORA_STORE_DEVICE, "Rack1Slot2", 2, &kind, buffer, 8),
            kIviIniStoreNoSuchItem);

  EXPECT_EQ(velmora_store_remove(store_, VELMORA_STORE_DEVICE, "Rack1Slot2", 0),
            kIviIniStoreReferenced);
  EXPECT_EQ(velmora_store_remove(store_, VELMORA_STORE_SESSION, "Bench3.ScopeSession", 0),
            kIviIniStoreReferenced);
  velmora_store_problem problem;
  ASSERT_EQ(velmora_store_save(store_, &problem), kIviIniSuccess);
  EXPECT_EQ(Read("store.ini"), kBench);

  EXPECT_EQ(velmora_store_remove(store_, VELMORA_STORE_SESSION, "Bench3.ScopeSession", 1),
            kIviIniSuccess);
  EXPECT_EQ(velmora_store_remove(store_, VELMORA_STORE_LOGICAL_NAME, "Bench3.Scope", 0),
            kIviIniSuccess);
  EXPECT_EQ(velmora_store_remove(store_, VELMORA_STORE_DRIVER, "acmeScope", 0), kIviIniSuccess);
  int has = -1;
  EXPECT_EQ(velmora_store_has_item(store_, VELMORA_STORE_DRIVER, "acmeScope", &has),
            kIviIniSuccess);
  EXPECT_EQ(has, 0);
}

TEST_F(StoreApi, SaveRefusesAFileChangedSinceAndReloadTakesTheNewContent) {
  OpenText();
  int changed = -1;
  EXPECT_EQ(velmora_store_changed(store_, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 0);
  ASSERT_EQ(
      velmora_store_set(store_, VELMORA_STORE_DEVICE, "Rack1Slot2", "Resource", "GPIB0::1::INSTR"),
      kIviIniSuccess);
  // Another program replaces the file.
  const std::string theirs = std::string(kBench) + "[Device Meter7]\n";
  Write("theirs.ini", theirs);
  ASSERT_EQ(rename(Path("theirs.ini").c_str(), Path("store.ini").c_str()), 0);
  EXPECT_EQ(velmora_store_changed(store_, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 1);
  velmora_store_problem problem;
  EXPECT_EQ(velmora_store_save(store_, &problem), kIviIniStoreChangedOnDisk);
  EXPECT_EQ(problem.status, kIviIniStoreChangedOnDisk);
  EXPECT_STREQ(problem.step, "compare");
  EXPECT_EQ(problem.path, Path("store.ini"));
  EXPECT_EQ(Read("store.ini"), theirs);

  // Reload, edit again, save: the retry a script makes.
  ASSERT_EQ(velmora_store_reload(store_, &problem), kIviIniSuccess);
  int has = 0;
  EXPECT_EQ(velmora_store_has_item(store_, VELMORA_STORE_DEVICE, "Meter7", &has), kIviIniSuccess);
  EXPECT_EQ(has, 1);
  ASSERT_EQ(
      velmora_store_set(store_, VELMORA_STORE_DEVICE, "Meter7", "Resource", "GPIB0::7::INSTR"),
      kIviIniSuccess);
  ASSERT_EQ(velmora_store_save(store_, &problem), kIviIniSuccess) << problem.message;
  EXPECT_EQ(Read("store.ini"), theirs + "Resource = GPIB0::7::INSTR\n");
  EXPECT_EQ(velmora_store_changed(store_, &changed), kIviIniSuccess);
  EXPECT_EQ(changed, 0);

  // A failed reload keeps the store as it was.
  Write("store.ini", "[Session s]\nChannels = [\n");
  EXPECT_EQ(velmora_store_reload(store_, &problem), kIviIniStoreBadChannels);
  EXPECT_EQ(problem.line, 2u);
  EXPECT_EQ(velmora_store_has_item(store_, VELMORA_STORE_DEVICE, "Meter7", &has), kIviIniSuccess);
  EXPECT_EQ(has, 1);
  // Once the file is gone the save says which step found out, with errno.
  ASSERT_EQ(unlink(Path("store.ini").c_str()), 0);
  ASSERT_EQ(velmora_store_set(store_, VELMORA_STORE_DEVICE, "Meter7", "Resource", ""),
            kIviIniSuccess);
  EXPECT_EQ(velmora_store_save(store_, &problem), kIviIniStoreChangedOnDisk);
  EXPECT_STREQ(problem.step, "compare");
  EXPECT_EQ(problem.error_number, ENOENT);
  EXPECT_EQ(std::string(problem.message),
            "saving over " + Path("store.ini") + ": the file was deleted since it was loaded");
}

TEST_F(StoreApi, TheVocabularyReadsBothSpellingsOfAKindAndNamesKeysAndStatuses) {
  const struct {
    const char *word;
    int32_t status;
    velmora_store_kind kind;
  } words[] = {
      {"LogicalName", 0, VELMORA_STORE_LOGICAL_NAME},
      {"logical-name", 0, VELMORA_STORE_LOGICAL_NAME},
      {"LOGICALNAME", 0, VELMORA_STORE_LOGICAL_NAME},
      {"session", 0, VELMORA_STORE_SESSION},
      {"Driver", 0, VELMORA_STORE_DRIVER},
      {"DEVICE", 0, VELMORA_STORE_DEVICE},
      {"logical_name", kIviIniStoreNoSuchKind, {}},
      {"sessions", kIviIniStoreNoSuchKind, {}},
      {"", kIviIniStoreNoSuchKind, {}},
      {nullptr, kIviIniStoreNoSuchKind, {}},
  };
  for (const auto &w : words) {
    SCOPED_TRACE(w.word != nullptr ? w.word : "(null)");
    velmora_store_kind kind = VELMORA_STORE_DEVICE;
    EXPECT_EQ(velmora_store_kind_parse(w.word, &kind), w.status);
    if (w.status == 0) {
      EXPECT_EQ(kind, w.kind);
    }
  }
  EXPECT_EQ(velmora_store_kind_parse("Device", nullptr), kIviIniNullPointer);

  std::vector<std::string> keys;
  for (int32_t i = 0; i < velmora_store_key_count(VELMORA_STORE_SESSION); ++i) {
    keys.push_back(velmora_store_key_name(VELMORA_STORE_SESSION, i));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"Description", "DriverSetup", "Driver", "Device",
                                            "Simulate", "Channels"}));
  EXPECT_EQ(velmora_store_key_name(VELMORA_STORE_DEVICE, 2), nullptr);
  EXPECT_EQ(velmora_store_key_count(static_cast<velmora_store_kind>(-1)), kIviIniStoreNoSuchKind);
  EXPECT_STREQ(velmora_store_kind_name(VELMORA_STORE_LOGICAL_NAME), "LogicalName");
  EXPECT_EQ(velmora_store_kind_name(static_cast<velmora_store_kind>(4)), nullptr);

  EXPECT_STREQ(velmora_store_status_name(kIviIniStoreReferenced), "kIviIniStoreReferenced");
  EXPECT_STREQ(velmora_store_status_text(kIviIniStoreNoSuchKey),
               "the item has no line for that key");
  EXPECT_STREQ(velmora_store_status_name(kIviIniSuccess), "kIviIniSuccess");
  EXPECT_EQ(velmora_store_status_name(-9999), nullptr);
  EXPECT_EQ(velmora_store_is_instrument_class("IviDmm"), 1);
  EXPECT_EQ(velmora_store_is_instrument_class("IviDriver"), 0);
  EXPECT_EQ(velmora_store_is_instrument_class("Ividmm"), 0);
  EXPECT_EQ(velmora_store_is_instrument_class(nullptr), 0);
  EXPECT_EQ(velmora_store_status_text(1), nullptr);
}

TEST_F(StoreApi, NullStoresAndOutputPointersAnswerTheirStatus) {
  OpenText();
  uint32_t count = 0;
  int flag = 0;
  velmora_store_kind kind;
  const velmora_store_kind device = VELMORA_STORE_DEVICE;
  EXPECT_EQ(velmora_store_count(nullptr, device, &count), kIviIniInvalidHandle);
  EXPECT_EQ(velmora_store_count(store_, device, nullptr), kIviIniNullPointer);
  EXPECT_EQ(velmora_store_has_item(store_, device, nullptr, &flag), kIviIniSuccess);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(velmora_store_has_item(store_, device, "Rack1Slot2", nullptr), kIviIniNullPointer);
  EXPECT_EQ(velmora_store_has_key(store_, device, "Rack1Slot2", "Resource", nullptr),
            kIviIniNullPointer);
  EXPECT_EQ(velmora_store_simulate(store_, nullptr, &flag), kIviIniStoreNoSuchItem);
  EXPECT_EQ(velmora_store_simulate(store_, "Meter7Session", nullptr), kIviIniNullPointer);
  EXPECT_EQ(velmora_store_channel_count(store_, "Meter8Session", &count), kIviIniStoreNoSuchItem);
  EXPECT_EQ(velmora_store_class_count(store_, "acmeScope", nullptr), kIviIniNullPointer);
  EXPECT_EQ(velmora_store_referrer_count(store_, device, nullptr, &count), kIviIniStoreNoSuchItem);
  EXPECT_EQ(velmora_store_referrer(store_, device, "Rack1Slot2", 0, nullptr, nullptr, 0),
            kIviIniNullPointer);
  EXPECT_EQ(velmora_store_referrer(store_, device, "Rack1Slot2", 0, &kind, nullptr, 0), 20);
  EXPECT_EQ(velmora_store_changed(store_, nullptr), kIviIniNullPointer);
  EXPECT_EQ(velmora_store_changed(nullptr, &flag), kIviIniInvalidHandle);
  EXPECT_EQ(velmora_store_save(nullptr, nullptr), kIviIniInvalidHandle);
  EXPECT_EQ(velmora_store_reload(nullptr, nullptr), kIviIniInvalidHandle);
  EXPECT_EQ(velmora_store_path(nullptr), nullptr);
  velmora_store_close(nullptr);
}

}  // namespace

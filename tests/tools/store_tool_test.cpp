// velmora-store's table of exit statuses and its edit-and-retry step, the
// latter on real files: the "other program" is the edit itself, which
// rewrites the file on its first run, so that the save meets a change
// without any timing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/exit_status.h"
#include "tools/store_edit.h"

namespace {

using velmora_tool::EditAndSave;
using velmora_tool::EditResult;
using velmora_tool::ExitCodeOf;
using velmora_tool::Outcome;

struct Status {
  const char *name;
  int32_t value;
};
#define VELMORA_TEST_STATUS(name, value, meaning) {#name, value},
constexpr Status kStatuses[] = {IVIINI_STATUS_TABLE(VELMORA_TEST_STATUS)};
#undef VELMORA_TEST_STATUS

std::string ReadFile(const std::string &path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// A status added to the table without an exit status fails here, and so does
// one the manual's table of exit statuses does not name.
TEST(ExitStatus, EveryStatusHasOneExitStatusAndItsRowInTheManual) {
  const std::string manual = ReadFile(VELMORA_STORE_MANUAL);
  ASSERT_FALSE(manual.empty());
  for (const Status &s : kStatuses) {
    SCOPED_TRACE(s.name);
    const int code = ExitCodeOf(s.value);
    EXPECT_GE(code, velmora_tool::kExitDone);
    EXPECT_LE(code, velmora_tool::kExitSaveFailed);
    EXPECT_EQ(code == velmora_tool::kExitDone, s.value == kIviIniSuccess);
    if (s.value != kIviIniSuccess) {
      EXPECT_NE(manual.find(s.name), std::string::npos) << "velmora-store(1) does not name it";
    }
  }
  EXPECT_EQ(ExitCodeOf(-424242), velmora_tool::kExitUnmapped);
  EXPECT_EQ(velmora_tool::kExitRowCount, static_cast<int>(sizeof kStatuses / sizeof kStatuses[0]))
      << "a row for a status the table does not have";
}

TEST(ExitStatus, ScriptsCanTellARetryFromARefusalAndAFailure) {
  EXPECT_EQ(ExitCodeOf(kIviIniStoreNoSuchItem), 1);
  EXPECT_EQ(ExitCodeOf(kIviIniStoreNoSuchKey), 1);
  EXPECT_EQ(ExitCodeOf(kIviIniStoreNoSuchKind), 2);
  EXPECT_EQ(ExitCodeOf(kIviIniStoreBadChannels), 3);
  EXPECT_EQ(ExitCodeOf(kIviIniStoreChangedOnDisk), 4);
  EXPECT_EQ(ExitCodeOf(kIviIniStoreBusy), 4);
  EXPECT_EQ(ExitCodeOf(kIviIniStoreReferenced), 5);
  EXPECT_EQ(ExitCodeOf(kIviIniStoreBadValue), 5);
  EXPECT_EQ(ExitCodeOf(kIviIniStoreHardLinked), 6);
}

class StoreEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "velmora-edit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    path_ = pattern + "/store.ini";
    Replace("[Device Meter7]\n[Device Meter8]\n");
    ASSERT_EQ(velmora_store_open(path_.c_str(), &store_, nullptr), kIviIniSuccess);
  }
  void TearDown() override {
    velmora_store_close(store_);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path_).parent_path(), ignored);
  }

  // Another program's save: a new file renamed over the store.
  void Replace(const std::string &text) const {
    std::ofstream(path_ + ".new", std::ios::binary | std::ios::trunc) << text;
    ASSERT_EQ(rename((path_ + ".new").c_str(), path_.c_str()), 0);
  }

  // Sets Meter7's Resource; on the runs listed in `interfere` (from 1),
  // another program first saves `theirs`.
  auto Edit(int interfereUpTo, const std::string &theirs, int *runs) {
    return [this, interfereUpTo, theirs, runs](velmora_store *s) {
      if (++*runs <= interfereUpTo) Replace(theirs);
      return Outcome{
          velmora_store_set(s, VELMORA_STORE_DEVICE, "Meter7", "Resource", "GPIB0::7::INSTR"),
          std::string()};
    };
  }

  std::string path_;
  velmora_store *store_ = nullptr;
};

TEST_F(StoreEdit, AnEditMetByAnotherSaveIsMadeAgainOnTheNewContent) {
  int runs = 0;
  const std::string theirs = "[Device Meter7]\n[Device Meter8]\nResource = GPIB0::8::INSTR\n";
  const EditResult result = EditAndSave(store_, 3, Edit(2, theirs, &runs));
  EXPECT_EQ(result.outcome.status, kIviIniSuccess);
  EXPECT_EQ(result.attempts, 3);
  EXPECT_EQ(
      ReadFile(path_),
      "[Device Meter7]\nResource = GPIB0::7::INSTR\n[Device Meter8]\nResource = GPIB0::8::INSTR\n");
}

TEST_F(StoreEdit, WithoutRetriesOrPastThemTheChangeIsReportedAndTheirsKept) {
  int runs = 0;
  const std::string theirs = "[Device Meter7]\n";
  EditResult result = EditAndSave(store_, 0, Edit(1, theirs, &runs));
  EXPECT_EQ(result.outcome.status, kIviIniStoreChangedOnDisk);
  EXPECT_TRUE(result.fromFile);
  EXPECT_EQ(result.problem.status, kIviIniStoreChangedOnDisk);
  EXPECT_EQ(result.attempts, 1);
  EXPECT_EQ(ReadFile(path_), theirs);

  ASSERT_EQ(velmora_store_reload(store_, nullptr), kIviIniSuccess);
  runs = 0;
  result = EditAndSave(store_, 2, Edit(5, theirs, &runs));
  EXPECT_EQ(result.outcome.status, kIviIniStoreChangedOnDisk);
  EXPECT_EQ(result.attempts, 3);
  EXPECT_EQ(ReadFile(path_), theirs);
}

TEST_F(StoreEdit, AnEditTheNewContentRefusesEndsTheRetries) {
  int runs = 0;
  // The other program removed the item the edit is about.
  const EditResult result = EditAndSave(store_, 5, Edit(1, "[Device Meter8]\n", &runs));
  EXPECT_EQ(result.outcome.status, kIviIniStoreNoSuchItem);
  EXPECT_FALSE(result.fromFile);
  EXPECT_EQ(result.attempts, 2);
  EXPECT_EQ(ReadFile(path_), "[Device Meter8]\n");
}

TEST_F(StoreEdit, ARefusedReloadEndsTheRetriesWithItsLine) {
  int runs = 0;
  const EditResult result =
      EditAndSave(store_, 5, Edit(1, "[Device Meter7]\nResource = \"\n", &runs));
  EXPECT_EQ(result.outcome.status, kIviIniStoreBadQuoting);
  EXPECT_TRUE(result.fromFile);
  EXPECT_EQ(result.problem.line, 2u);
  EXPECT_EQ(result.attempts, 1);
}

}  // namespace

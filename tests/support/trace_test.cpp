#include "support/trace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

// Redirects file descriptor 2 into a temporary file for its lifetime and
// hands back everything written to it.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    file_ = std::tmpfile();
    if (saved_ >= 0 && file_ != nullptr) dup2(fileno(file_), STDERR_FILENO);
  }
  ~StderrCapture() {
    Restore();
    if (file_ != nullptr) std::fclose(file_);
  }
  bool ok() const { return saved_ >= 0 && file_ != nullptr; }

  std::string Finish() {
    Restore();
    std::string text;
    if (file_ == nullptr) return text;
    std::rewind(file_);
    char chunk[256];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, n);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  int saved_ = -1;
  std::FILE *file_ = nullptr;
};

TEST(Trace, LevelsBelowTheThresholdWriteNothing) {
  StderrCapture capture;
  ASSERT_TRUE(capture.ok());
  qxsdbg_Trace(4095, "below");
  qxsdbg_Trace(0, "zero");
  qxsdbg_Trace(-4096, "negative");
  qxsdbg_Trace(INT_MIN, "lowest");
  EXPECT_EQ(capture.Finish(), "");
}

TEST(Trace, LevelsFromTheThresholdUpWriteTheText) {
  StderrCapture capture;
  ASSERT_TRUE(capture.ok());
  qxsdbg_Trace(4096, "at|");
  qxsdbg_Trace(4097, "above|");
  qxsdbg_Trace(INT_MAX, "highest");
  EXPECT_EQ(capture.Finish(), "at|above|highest");
}

TEST(Trace, TextsFollowEachOtherWithoutAddedLineEnds) {
  StderrCapture capture;
  ASSERT_TRUE(capture.ok());
  qxsdbg_Trace(4096, "GetIOControlNames");
  qxsdbg_Trace(4096, "IVI Open Sessions Count: %d", 2);
  qxsdbg_Trace(4096, "Session Name: %s, OrigName: %s\n", "dmm", "DMM1");
  qxsdbg_Trace(4096, "Session Name: %s, OrigName: %s\n", "scope", "Scope 2");
  EXPECT_EQ(capture.Finish(),
            "GetIOControlNamesIVI Open Sessions Count: 2"
            "Session Name: dmm, OrigName: DMM1\n"
            "Session Name: scope, OrigName: Scope 2\n");
}

TEST(Trace, ExpansionLongerThan511CharactersIsCut) {
  const std::string long_text(600, 'x');
  StderrCapture capture;
  ASSERT_TRUE(capture.ok());
  qxsdbg_Trace(4096, "<%s>", long_text.c_str());
  EXPECT_EQ(capture.Finish(), "<" + std::string(510, 'x'));
}

TEST(Trace, ExpansionOfExactly511CharactersIsWhole) {
  const std::string text(511, 'y');
  StderrCapture capture;
  ASSERT_TRUE(capture.ok());
  qxsdbg_Trace(4096, "%s", text.c_str());
  qxsdbg_Trace(4096, "%s|", text.c_str());
  EXPECT_EQ(capture.Finish(), text + text);
}

TEST(Trace, FormatWithoutConversionsIsWrittenUnchanged) {
  StderrCapture capture;
  ASSERT_TRUE(capture.ok());
  qxsdbg_Trace(4096, "plain text, 100 / 3 \\ \"quoted\"\t");
  EXPECT_EQ(capture.Finish(), "plain text, 100 / 3 \\ \"quoted\"\t");
}

}  // namespace

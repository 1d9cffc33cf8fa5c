// The shipped libvelmora.so with its placeholder back end: the argument
// checks answer before the store is reached, opening fails with the back
// end's status, and nothing can be done with a handle that was never opened.
#include <gtest/gtest.h>

#include <string>

#include "tests/config/export_table.h"
#include "velmora/velmora.h"

namespace {

IniConfiguration *const kSentinel = reinterpret_cast<IniConfiguration *>(uintptr_t{0xBADC0DE0});

TEST(ShippedOpen, AnswersBackEndFailureAndNullsTheHandle) {
  for (const char *path : {static_cast<const char *>(nullptr), "", "/tmp/velmora.ini"}) {
    SCOPED_TRACE(path == nullptr ? "(null)" : path);
    IviIniHandle h = kSentinel;
    EXPECT_EQ(IviIni_OpenIniFile(path, &h), kIviIniBackEndFailure);
    EXPECT_EQ(h, nullptr);
  }
}

TEST(ShippedOpen, PathOf257CharactersIsTooLongAndLeavesTheHandleVariable) {
  const std::string path(257, 'x');
  IviIniHandle h = kSentinel;
  EXPECT_EQ(IviIni_OpenIniFile(path.c_str(), &h), kIviIniPathTooLong);
  EXPECT_EQ(h, kSentinel);
}

TEST(ShippedOpen, PathOf256CharactersReachesTheBackEnd) {
  const std::string path = "/" + std::string(255, 'x');
  IviIniHandle h = kSentinel;
  EXPECT_EQ(IviIni_OpenIniFile(path.c_str(), &h), kIviIniBackEndFailure);
  EXPECT_EQ(h, nullptr);
}

TEST(ShippedOpen, NullHandleOutPointerIsCheckedFirst) {
  EXPECT_EQ(IviIni_OpenIniFile("/tmp/velmora.ini", nullptr), kIviIniNullPointer);
  EXPECT_EQ(IviIni_OpenIniFile(std::string(300, 'x').c_str(), nullptr), kIviIniNullPointer);
  EXPECT_EQ(IviIni_OpenIniFile(nullptr, nullptr), kIviIniNullPointer);
}

TEST(ShippedHandles, EveryCallTakingAHandleAnswersInvalidHandleAndWritesNothing) {
  // A handle whose open failed is null; the made-up one was never handed out.
  IviIniHandle failed = kSentinel;
  ASSERT_EQ(IviIni_OpenIniFile("/tmp/velmora.ini", &failed), kIviIniBackEndFailure);
  std::vector<ExportCall> calls = CollectionExports();
  calls.insert(calls.end(), OtherHandleExports().begin(), OtherHandleExports().end());
  ASSERT_EQ(calls.size(), 40u);
  for (IviIniHandle h : {failed, MadeUpHandle()}) {
    for (const ExportCall &e : calls) {
      SCOPED_TRACE(e.name);
      CallIo io;
      io.h = h;
      EXPECT_EQ(e.call(io), kIviIniInvalidHandle);
      EXPECT_TRUE(io.OutputsUntouched());
      io.size = -1;  // a caller vouching for any room still gets nothing written
      io.index = 0;
      EXPECT_EQ(e.call(io), kIviIniInvalidHandle);
      EXPECT_TRUE(io.OutputsUntouched());
    }
  }
  EXPECT_EQ(IviIni_GetNumberOfVIs(MadeUpHandle(), nullptr), kIviIniInvalidHandle);
  EXPECT_EQ(IviIni_GetNthDevice(nullptr, 1, nullptr), kIviIniInvalidHandle);
  EXPECT_EQ(IviIni_ConfigurationChanged(nullptr, nullptr), kIviIniInvalidHandle);
  EXPECT_EQ(IviIni_CloseIniFile(MadeUpHandle(), 0), kIviIniInvalidHandle);
}

TEST(ShippedHandles, ChannelCallsAnswerZeroAndWriteNothing) {
  for (IviIniHandle h : {static_cast<IviIniHandle>(nullptr), MadeUpHandle()}) {
    for (const ExportCall &e : ChannelExports()) {
      SCOPED_TRACE(e.name);
      for (int32_t index : {1, 0, -1}) {
        CallIo io;
        io.h = h;
        io.index = index;
        EXPECT_EQ(e.call(io), kIviIniSuccess);
        EXPECT_TRUE(io.OutputsUntouched());
      }
    }
  }
}

}  // namespace

// A driver's instrument classes, counted and looked up by index, against the
// in-memory store with a chosen set of names that count as classes.
#include <string>

#include "tests/config/export_table.h"
#include "tests/config/store_fixture.h"

namespace {

using memstore::Kind;

// Two of the four entries are not classes; the accepted ones in order are
// IviDmm, IviScope, IviDCPwr.
constexpr const char *kDriver =
    "driver|multi\n"
    "class|IviDmm\n"
    "class|Helper\n"
    "class|IviScope\n"
    "class|IviDCPwr\n"
    "driver|plain\n"
    "class|Helper\n";

class DriverClasses : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    memstore::AcceptClassNames({"IviDmm", "IviScope", "IviDCPwr"});
    h_ = OpenText(kDriver);
  }

  std::string ByIndex(int32_t index, int32_t *status) {
    char buffer[64];
    *status = IviIni_GetDriverClassByIndex(h_, "multi", index, buffer, sizeof buffer);
    return *status == kIviIniSuccess ? buffer : "";
  }

  IviIniHandle h_ = nullptr;
};

TEST_F(DriverClasses, CountAndLookupByIndexAgree) {
  int32_t count = -1;
  ASSERT_EQ(IviIni_GetDriverClassCount(h_, "multi", &count), kIviIniSuccess);
  ASSERT_EQ(count, 3);
  const char *expected[] = {"IviDmm", "IviScope", "IviDCPwr"};
  for (int32_t index = 1; index <= count; ++index) {
    int32_t status = -1;
    EXPECT_EQ(ByIndex(index, &status), expected[index - 1]);
    EXPECT_EQ(status, kIviIniSuccess);
  }
  char buffer[16];
  EXPECT_EQ(IviIni_GetDriverClass(h_, "multi", buffer, sizeof buffer), kIviIniSuccess);
  EXPECT_STREQ(buffer, "IviDmm");
}

TEST_F(DriverClasses, IndexZeroAndPastTheCountAreOutOfRangeAndLeaveTheBuffer) {
  for (int32_t index : {0, 4, -1}) {
    SCOPED_TRACE(index);
    CallIo io;
    EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "multi", index, io.buffer, 64),
              kIviIniClassIndexOutOfRange);
    EXPECT_TRUE(io.BufferUntouched());
  }
}

TEST_F(DriverClasses, DriverWithoutAcceptedClassesHasNoneAndNoFirstClass) {
  int32_t count = -1;
  EXPECT_EQ(IviIni_GetDriverClassCount(h_, "plain", &count), kIviIniSuccess);
  EXPECT_EQ(count, 0);
  CallIo io;
  EXPECT_EQ(IviIni_GetDriverClass(h_, "plain", io.buffer, 64), kIviIniClassIndexOutOfRange);
  EXPECT_TRUE(io.BufferUntouched());
}

TEST_F(DriverClasses, ClassNameFollowsTheStringReturnRule) {
  CallIo io;
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "multi", 1, io.buffer, 0), 7);  // "IviDmm"
  EXPECT_TRUE(io.BufferUntouched());
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "multi", 1, io.buffer, 4), 7);
  EXPECT_EQ(std::string(io.buffer, 5), std::string("Ivi\0#", 5));
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "multi", 2, io.buffer, -1), kIviIniSuccess);
  EXPECT_EQ(std::string(io.buffer, 10), std::string("IviScope\0#", 10));
}

TEST_F(DriverClasses, StoreLosingClassesBetweenTheTwoWalksAnswersTheEmptyString) {
  // The second walk's collection is fetched after the count: drop the classes then.
  memstore::OnCall("DriverClass.getCollection", 2,
                   [this] { ContentOf(h_).Find(Kind::Driver, "multi")->classes = {"IviDmm"}; });
  CallIo io;
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "multi", 3, io.buffer, 64), kIviIniSuccess);
  EXPECT_EQ(std::string(io.buffer, 2), std::string("\0#", 2));
}

TEST_F(DriverClasses, StoreLosingClassesAnswersOneForSizeZero) {
  memstore::OnCall("DriverClass.getCollection", 2,
                   [this] { ContentOf(h_).Find(Kind::Driver, "multi")->classes.clear(); });
  CallIo io;
  EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "multi", 1, io.buffer, 0), 1);
  EXPECT_TRUE(io.BufferUntouched());
}

TEST_F(DriverClasses, LongEntryNamesAreJudgedByTheirFirst63Characters) {
  const std::string longName(70, 'L');
  memstore::AcceptClassNames({std::string(63, 'L')});
  ContentOf(h_).Find(Kind::Driver, "plain")->classes = {longName};
  int32_t count = -1;
  // The walk's last step is the truncated read, whose needed size is its answer.
  EXPECT_EQ(IviIni_GetDriverClassCount(h_, "plain", &count), 71);
  EXPECT_EQ(count, 1);
  char buffer[128];
  EXPECT_EQ(IviIni_GetDriverClass(h_, "plain", buffer, sizeof buffer), kIviIniSuccess);
  EXPECT_EQ(std::string(buffer), std::string(63, 'L'));
}

TEST_F(DriverClasses, FailurePartWayKeepsTheClassesCountedSoFar) {
  memstore::FailOn("DriverClass.getString", -60, 4);
  int32_t count = -1;
  EXPECT_EQ(IviIni_GetDriverClassCount(h_, "multi", &count), -60);
  EXPECT_EQ(count, 2);
}

TEST_F(DriverClasses, FailureBeforeTheWalkLeavesTheCount) {
  for (const char *operation : {"Driver.getCollection", "Driver.findItem",
                                "DriverClass.getCollection", "DriverClass.getCount"}) {
    SCOPED_TRACE(operation);
    memstore::FailOn(operation, -61, 1);
    int32_t count = CallIo::kCountSentinel;
    EXPECT_EQ(IviIni_GetDriverClassCount(h_, "multi", &count), -61);
    EXPECT_EQ(count, CallIo::kCountSentinel);
    EXPECT_EQ(memstore::LiveObjects(), 0);
  }
}

TEST_F(DriverClasses, FailureInEitherWalkOfTheLookupLeavesTheBuffer) {
  // Each walk reads four entries; fail a read in the first, then in the second.
  for (int nth : {2, 5, 7}) {
    SCOPED_TRACE(nth);
    memstore::FailOn("DriverClass.getItemByIndex", -62, nth);
    CallIo io;
    EXPECT_EQ(IviIni_GetDriverClassByIndex(h_, "multi", 3, io.buffer, 64), -62);
    EXPECT_TRUE(io.BufferUntouched());
    EXPECT_EQ(memstore::LiveObjects(), 0);
    ASSERT_EQ(IviIni_CloseIniFile(h_, 0), kIviIniSuccess);
    memstore::Reset();
    memstore::AcceptClassNames({"IviDmm", "IviScope", "IviDCPwr"});
    h_ = OpenText(kDriver);
  }
}

TEST_F(DriverClasses, UnknownDriverIsTheStoresFailure) {
  int32_t count = CallIo::kCountSentinel;
  EXPECT_EQ(IviIni_GetDriverClassCount(h_, "absent", &count), memstore::kNotFound);
  EXPECT_EQ(count, CallIo::kCountSentinel);
  CallIo io;
  EXPECT_EQ(IviIni_GetDriverClass(h_, "absent", io.buffer, 64), memstore::kNotFound);
  EXPECT_TRUE(io.BufferUntouched());
}

TEST_F(DriverClasses, NullCountAnswersNullPointerAfterTheHandleCheck) {
  EXPECT_EQ(IviIni_GetDriverClassCount(h_, "multi", nullptr), kIviIniNullPointer);
  EXPECT_EQ(IviIni_GetDriverClassCount(MadeUpHandle(), "multi", nullptr), kIviIniInvalidHandle);
  EXPECT_TRUE(memstore::Trace().empty());
}

}  // namespace

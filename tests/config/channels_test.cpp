// A session's channels and its simulation flag, against the in-memory store.
#include <stdint.h>

#include <string>
#include <vector>

#include "tests/config/export_table.h"
#include "tests/config/store_fixture.h"

namespace {

using memstore::Kind;
using memstore::Trace;
using ::testing::ElementsAre;

constexpr const char *kSessions =
    "session|s\n"
    "channel|A\n"
    "channel|B|1|2|5|5\n"
    "session|c\n"
    "channel|C|-1|0\n"
    "session|d\n"
    "channel|C|0|3\n"
    "session|three\n"
    "channel|A\n"
    "channel|B|1|2|5|5\n"
    "channel|E\n";

class Channels : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    h_ = OpenText(kSessions);
  }

  int32_t Count(const char *session, int32_t start) {
    int32_t count = start;
    EXPECT_EQ(IviIni_GetNumberOfChannels(h_, session, &count), kIviIniSuccess);
    return count;
  }

  // The name handed out, or "(unwritten)".
  std::string Nth(const char *session, int32_t index) {
    const char *name = nullptr;
    EXPECT_EQ(IviIni_GetNthChannel(h_, session, index, &name), kIviIniSuccess);
    if (name == nullptr) return "(unwritten)";
    EXPECT_EQ(name, h_->channelBuffer);
    return name;
  }

  IviIniHandle h_ = nullptr;
};

TEST_F(Channels, CountAddsTheSessionsChannelsToTheValueHeld) {
  EXPECT_EQ(Count("s", 0), 4);
  EXPECT_EQ(Count("s", 3), 7);
  EXPECT_EQ(Count("c", 0), 2);
  EXPECT_EQ(Count("d", 0), 4);
  EXPECT_EQ(memstore::LiveObjects(), 0);
}

TEST_F(Channels, NamesFollowEntryRangeAndIntegerOrder) {
  EXPECT_EQ(Nth("s", 1), "A");
  EXPECT_EQ(Nth("s", 2), "B1");
  EXPECT_EQ(Nth("s", 3), "B2");
  EXPECT_EQ(Nth("s", 4), "B5");
  EXPECT_EQ(Nth("c", 1), "C-1");
  EXPECT_EQ(Nth("c", 2), "C0");
  EXPECT_EQ(Nth("d", 1), "C0");
  EXPECT_EQ(Nth("d", 4), "C3");
  EXPECT_EQ(memstore::LiveObjects(), 0);
}

TEST_F(Channels, WalkStopsAtTheChannelAsked) {
  EXPECT_EQ(Nth("three", 2), "B1");
  EXPECT_THAT(
      Trace(),
      ElementsAre("Session.getCollection", "Session.findItem three", "GetChannelEntries",
                  "CountChannelEntries", "GetChannelEntry 1", "GetEntryRanges", "CountRanges",
                  "GetChannelEntry 2", "GetEntryRanges", "CountRanges", "GetRange 1",
                  "GetRangeInteger 2", "GetRangeInteger 3", "GetEntryString 1 511"));
}

TEST_F(Channels, IndexBelowOneOrPastTheLastLeavesTheNameOutUnwritten) {
  ASSERT_EQ(Nth("s", 2), "B1");  // the buffer now holds a name
  for (const char *session : {"s", "c"}) {
    for (int32_t index : {0, -3, 5, 1000}) {
      SCOPED_TRACE(std::string(session) + " " + std::to_string(index));
      EXPECT_EQ(Nth(session, index), "(unwritten)");
    }
  }
}

TEST_F(Channels, FailureInTheMiddleKeepsTheSharesCountedSoFar) {
  memstore::FailOn("GetRange", -70, 2);  // B's second range
  EXPECT_EQ(Count("three", 10), 11);
  memstore::FailOn("GetChannelEntry", -71, 3);  // E
  EXPECT_EQ(Count("three", 0), 4);
  EXPECT_EQ(memstore::LiveObjects(), 0);
}

TEST_F(Channels, AnyFailingStepOfTheNameWalkLeavesTheNameOutUnwritten) {
  ASSERT_EQ(Nth("three", 4), "B5");
  const std::vector<std::string> steps = Trace();
  for (size_t step = 0; step < steps.size(); ++step) {
    const std::string operation = steps[step].substr(0, steps[step].find(' '));
    int occurrence = 0;
    for (size_t k = 0; k <= step; ++k) {
      if (steps[k].substr(0, steps[k].find(' ')) == operation) ++occurrence;
    }
    SCOPED_TRACE(steps[step]);
    memstore::FailOn(operation, -72, occurrence);
    EXPECT_EQ(Nth("three", 4), "(unwritten)");
    EXPECT_EQ(memstore::LiveObjects(), 0);
    memstore::ClearTrace();
  }
}

TEST_F(Channels, EntryWithANegativeRangeCountAddsNoChannel) {
  memstore::Item &session = *ContentOf(h_).Find(Kind::Session, "three");
  session.channels[1].reportedRangeCount = -1;
  EXPECT_EQ(Count("three", 0), 2);
  EXPECT_EQ(Nth("three", 2), "E");
}

TEST_F(Channels, LongEntryNameLeavesRoomForTheNumber) {
  memstore::Item &session = ContentOf(h_).Add(Kind::Session, "long");
  session.channels.push_back({std::string(600, 'n'), {{10, 10}}, std::nullopt});
  session.channels.push_back({std::string(600, 'm'), {}, std::nullopt});
  EXPECT_EQ(Nth("long", 1), std::string(509, 'n') + "10");
  EXPECT_EQ(Nth("long", 2), std::string(511, 'm'));
}

TEST_F(Channels, RangesWiderThanACountSaturateInsteadOfOverflowing) {
  memstore::Item &session = ContentOf(h_).Add(Kind::Session, "wide");
  session.channels.push_back({"X", {{INT32_MIN, INT32_MAX}}, std::nullopt});
  EXPECT_EQ(Count("wide", 0), INT32_MAX);
  EXPECT_EQ(Count("wide", -5), INT32_MAX);
  EXPECT_EQ(Nth("wide", 1), "X-2147483648");
  EXPECT_EQ(Nth("wide", INT32_MAX), "X-2");
}

TEST_F(Channels, UnknownHandleSessionOrNullOutAnswersZeroAndWritesNothing) {
  for (const ExportCall &e : ChannelExports()) {
    SCOPED_TRACE(e.name);
    CallIo io;
    io.h = MadeUpHandle();
    io.name = "s";
    EXPECT_EQ(e.call(io), kIviIniSuccess);
    EXPECT_TRUE(io.OutputsUntouched());
    io.h = h_;
    io.name = "absent";
    EXPECT_EQ(e.call(io), kIviIniSuccess);
    EXPECT_TRUE(io.OutputsUntouched());
  }
  EXPECT_EQ(IviIni_GetNumberOfChannels(h_, "s", nullptr), kIviIniSuccess);
  EXPECT_EQ(IviIni_GetNthChannel(h_, "s", 1, nullptr), kIviIniSuccess);
  EXPECT_EQ(memstore::LiveObjects(), 0);
}

using Simulation = StoreTest;

TEST_F(Simulation, AnyNonzeroFlagStoresOne) {
  IviIniHandle h = OpenText("session|s\n");
  const struct {
    int32_t flag;
    int32_t stored;
  } cases[] = {{5, 1}, {0, 0}, {-1, 1}, {1, 1}, {INT32_MIN, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.flag);
    memstore::ClearTrace();
    EXPECT_EQ(IviIni_SetVISimulation(h, "s", c.flag), kIviIniSuccess);
    EXPECT_EQ(ContentOf(h).Find(Kind::Session, "s")->booleans.at(9), c.stored);
    EXPECT_THAT(Trace(), ElementsAre("Session.getCollection", "Session.findItem s",
                                     "SetSessionBoolean 9=" + std::to_string(c.stored)));
  }
}

TEST_F(Simulation, FailingStepIsAnsweredAndEverythingIsReleased) {
  IviIniHandle h = OpenText("session|s\n");
  for (const char *operation : {"Session.getCollection", "Session.findItem", "SetSessionBoolean"}) {
    SCOPED_TRACE(operation);
    memstore::FailOn(operation, -80, 1);
    EXPECT_EQ(IviIni_SetVISimulation(h, "s", 1), -80);
    EXPECT_EQ(ContentOf(h).Find(Kind::Session, "s")->booleans.count(9), 0u);
    EXPECT_EQ(memstore::LiveObjects(), 0);
  }
  EXPECT_EQ(IviIni_SetVISimulation(h, "absent", 1), memstore::kNotFound);
  EXPECT_EQ(IviIni_SetVISimulation(MadeUpHandle(), "s", 1), kIviIniInvalidHandle);
}

}  // namespace

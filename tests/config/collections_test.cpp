// The collection exports and the string-return rule, against the in-memory
// store: every export reaches its own operation set and property, fails
// cleanly at every step, and releases every handle it obtained.
#include <map>
#include <string>
#include <vector>

#include "config/string_return.h"
#include "tests/config/export_table.h"
#include "tests/config/store_fixture.h"

namespace {

using memstore::Kind;
using memstore::Trace;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// ---- String return -----------------------------------------------------------

struct StringReturnCase {
  int32_t size;
  std::string written;  // the first bytes of a buffer filled with '#' afterwards
  int32_t result;
};

TEST(StringReturn, ThreeCharacterStringUnderEverySize) {
  const StringReturnCase cases[] = {
      {0, std::string("######"), 4},     {2, std::string("a\0####", 6), 4},
      {3, std::string("ab\0###", 6), 4}, {4, std::string("abc\0##", 6), 0},
      {5, std::string("abc\0##", 6), 0}, {-1, std::string("abc\0##", 6), 0},
      {1, std::string("\0#####", 6), 4},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.size);
    char buffer[6];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(velmora::StringReturn("abc", buffer, c.size), c.result);
    EXPECT_EQ(std::string(buffer, sizeof buffer), c.written);
    // A null buffer is never written, and the answer stays the same.
    EXPECT_EQ(velmora::StringReturn("abc", nullptr, c.size), c.result);
  }
}

TEST(StringReturn, EmptyStringNeedsOneByte) {
  char buffer[2] = {'#', '#'};
  EXPECT_EQ(velmora::StringReturn("", buffer, 0), 1);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(velmora::StringReturn("", buffer, 1), 0);
  EXPECT_EQ(std::string(buffer, 2), std::string("\0#", 2));
}

// ---- A store where every kind, property and reference is told apart ----------

const std::map<std::string, Kind> kKindOfSet = {{"LogicalName", Kind::LogicalName},
                                                {"Session", Kind::Session},
                                                {"SessionTarget", Kind::Session},
                                                {"Driver", Kind::Driver},
                                                {"Device", Kind::Device}};

// Item names of a kind: ln1.., vi1.., drv1.., dvc1..
std::string ItemName(Kind kind, int i) {
  static const std::map<Kind, std::string> prefixes = {{Kind::LogicalName, "ln"},
                                                       {Kind::Session, "vi"},
                                                       {Kind::Driver, "drv"},
                                                       {Kind::Device, "dvc"}};
  return prefixes.at(kind) + std::to_string(i);
}

// A different number of items per kind, every string property set to a value
// naming its item and property, and ln<i> -> vi<i> -> drv<i>, dvc<i>.
std::string DistinctContent() {
  const std::map<Kind, int> counts = {
      {Kind::LogicalName, 2}, {Kind::Session, 3}, {Kind::Driver, 4}, {Kind::Device, 5}};
  std::string text;
  for (const auto &[kind, count] : counts) {
    for (int i = 1; i <= count; ++i) {
      const std::string name = ItemName(kind, i);
      text += std::string(memstore::KindName(kind)) + "|" + name + "\n";
      for (int property : {2, 3, 4, 10}) {
        text += "string|" + std::to_string(property) + "|" + name + "-p" +
                std::to_string(property) + "\n";
      }
      if (kind == Kind::LogicalName) text += "ref|session|" + ItemName(Kind::Session, i) + "\n";
      if (kind == Kind::Session) {
        text += "ref|driver|" + ItemName(Kind::Driver, i) + "\n";
        text += "ref|device|" + ItemName(Kind::Device, i) + "\n";
      }
    }
  }
  return text;
}

int ItemCount(Kind kind) {
  return kind == Kind::LogicalName ? 2 : kind == Kind::Session ? 3 : kind == Kind::Driver ? 4 : 5;
}

// Reference slots of the session-target set are the session set's own.
std::string ReferenceSet(const std::string &set) {
  return set == "SessionTarget" ? "Session" : set;
}

// Keeps the texts a prepared call points at.
struct CallTexts {
  std::string name;
  std::string value;
};

// Sets up `io` for a successful call of `e` and answers the operations that
// call must run, in order.
std::vector<std::string> Prepare(const ExportCall &e, CallIo &io, CallTexts &texts) {
  const std::string set = e.set;
  const Kind kind = kKindOfSet.at(set);
  const std::string first = ItemName(kind, 1);
  switch (e.shape) {
    case Shape::Count:
      return {set + ".getCollection", set + ".getCount"};
    case Shape::Nth:
      io.index = 2;
      return {set + ".getCollection", set + ".getItemByIndex 2", set + ".getString 1"};
    case Shape::Get:
    case Shape::Set:
    case Shape::Remove:
      texts.name = first;
      io.name = texts.name.c_str();
      io.value = "changed";
      return {set + ".getCollection", set + ".findItem " + first,
              e.shape == Shape::Get   ? set + ".getString " + std::to_string(e.property)
              : e.shape == Shape::Set ? set + ".setString " + std::to_string(e.property)
                                      : set + ".removeItem"};
    case Shape::Add:
      io.name = "added";
      return {set + ".getCollection", set + ".addItem added"};
    case Shape::GetRef: {
      texts.name = first;
      io.name = texts.name.c_str();
      const std::string target = e.target;
      return {set + ".getCollection", set + ".findItem " + first,
              ReferenceSet(target) + ".getReference", target + ".getString 1"};
    }
    case Shape::SetRef: {
      texts.name = first;
      io.name = texts.name.c_str();
      const std::string target = e.target;
      const std::string targetName = ItemName(kKindOfSet.at(target), 2);
      texts.value = targetName;
      io.value = texts.value.c_str();
      return {set + ".getCollection", set + ".findItem " + first, target + ".getCollection",
              target + ".findItem " + targetName, ReferenceSet(target) + ".setReference"};
    }
    case Shape::Other:
      break;
  }
  ADD_FAILURE() << "no collection export: " << e.name;
  return {};
}

// Checks what a successful call of `e` answered and left in the store.
void ExpectEffect(const ExportCall &e, const CallIo &io, int32_t status, IviIniHandle h) {
  const Kind kind = kKindOfSet.at(e.set);
  memstore::Store &store = *memstore::StoreOf(h->state.store);
  EXPECT_EQ(status, kIviIniSuccess);
  switch (e.shape) {
    case Shape::Count:
      EXPECT_EQ(io.count, ItemCount(kind));
      break;
    case Shape::Nth:
      EXPECT_EQ(io.nameOut, h->nameBuffer);
      EXPECT_STREQ(io.nameOut, ItemName(kind, 2).c_str());
      break;
    case Shape::Get:
      EXPECT_STREQ(io.buffer, (ItemName(kind, 1) + "-p" + std::to_string(e.property)).c_str());
      break;
    case Shape::Set:
      EXPECT_EQ(store.Find(kind, io.name)->strings.at(e.property), "changed");
      break;
    case Shape::GetRef:
      EXPECT_STREQ(io.buffer, ItemName(kKindOfSet.at(e.target), 1).c_str());
      break;
    case Shape::SetRef:
      EXPECT_EQ(store.Find(kind, io.name)->refs.at(kKindOfSet.at(e.target)), io.value);
      break;
    case Shape::Add:
      EXPECT_NE(store.Find(kind, "added"), nullptr);
      EXPECT_EQ(static_cast<int>(store.Of(kind).size()), ItemCount(kind) + 1);
      break;
    case Shape::Remove:
      EXPECT_EQ(store.Find(kind, io.name), nullptr);
      EXPECT_EQ(static_cast<int>(store.Of(kind).size()), ItemCount(kind) - 1);
      break;
    case Shape::Other:
      break;
  }
}

using CollectionSequences = StoreTest;

TEST_F(CollectionSequences, EveryExportReachesItsOwnSetAndProperty) {
  ASSERT_EQ(CollectionExports().size(), 33u);
  for (const ExportCall &e : CollectionExports()) {
    SCOPED_TRACE(e.name);
    memstore::Reset();
    IviIniHandle h = OpenText(DistinctContent());
    CallIo io;
    io.h = h;
    CallTexts texts;
    const std::vector<std::string> expected = Prepare(e, io, texts);
    const int32_t status = e.call(io);
    EXPECT_THAT(Trace(), ElementsAreArray(expected));
    ExpectEffect(e, io, status, h);
    EXPECT_EQ(memstore::LiveObjects(), 0);
    EXPECT_EQ(memstore::Misuses(), 0);
    EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
  }
}

TEST_F(CollectionSequences, AFailingStepIsAnsweredUnchangedAndLeavesEverythingAsItWas) {
  for (const ExportCall &e : CollectionExports()) {
    CallTexts texts;
    CallIo probe;
    const std::vector<std::string> steps = Prepare(e, probe, texts);
    for (size_t step = 0; step < steps.size(); ++step) {
      const std::string operation = steps[step].substr(0, steps[step].find(' '));
      int occurrence = 0;
      for (size_t k = 0; k <= step; ++k) {
        if (steps[k].substr(0, steps[k].find(' ')) == operation) ++occurrence;
      }
      SCOPED_TRACE(std::string(e.name) + " failing at " + steps[step]);
      memstore::Reset();
      IviIniHandle h = OpenText(DistinctContent());
      const std::string before = memstore::Serialize(ContentOf(h));
      const int32_t failure = -900 - static_cast<int32_t>(step);
      memstore::FailOn(operation, failure, occurrence);

      CallIo io;
      io.h = h;
      Prepare(e, io, texts);
      EXPECT_EQ(e.call(io), failure);
      EXPECT_TRUE(io.OutputsUntouched());
      EXPECT_EQ(memstore::Serialize(ContentOf(h)), before);
      EXPECT_EQ(memstore::LiveObjects(), 0);
      EXPECT_EQ(memstore::Misuses(), 0);
      EXPECT_EQ(IviIni_CloseIniFile(h, 0), kIviIniSuccess);
    }
  }
}

TEST_F(CollectionSequences, UnknownHandlesAnswerInvalidHandleAndReachNoStore) {
  IviIniHandle open = OpenText(DistinctContent(), "open.txt");
  IviIniHandle closed = OpenText("", "closed.txt");
  ASSERT_EQ(IviIni_CloseIniFile(closed, 0), kIviIniSuccess);
  memstore::ClearTrace();
  for (IviIniHandle h : {closed, static_cast<IviIniHandle>(nullptr), MadeUpHandle()}) {
    for (const ExportCall &e : CollectionExports()) {
      SCOPED_TRACE(e.name);
      CallIo io;
      io.h = h;
      EXPECT_EQ(e.call(io), kIviIniInvalidHandle);
      EXPECT_TRUE(io.OutputsUntouched());
    }
  }
  EXPECT_TRUE(Trace().empty());
  EXPECT_TRUE(velmora::FindConfiguration(open));
}

TEST_F(CollectionSequences, NullCountOrNameOutAnswersNullPointerAfterTheHandleCheck) {
  IviIniHandle h = OpenText(DistinctContent());
  for (auto count : {IviIni_GetNumberOfLogicalNames, IviIni_GetNumberOfVIs,
                     IviIni_GetNumberOfDrivers, IviIni_GetNumberOfDevices}) {
    EXPECT_EQ(count(h, nullptr), kIviIniNullPointer);
    EXPECT_EQ(count(MadeUpHandle(), nullptr), kIviIniInvalidHandle);
  }
  for (auto nth :
       {IviIni_GetNthLogicalName, IviIni_GetNthVI, IviIni_GetNthDriver, IviIni_GetNthDevice}) {
    EXPECT_EQ(nth(h, 1, nullptr), kIviIniNullPointer);
    EXPECT_EQ(nth(MadeUpHandle(), 1, nullptr), kIviIniInvalidHandle);
  }
  EXPECT_TRUE(Trace().empty());
}

// ---- N-th name ---------------------------------------------------------------------

using NthName = StoreTest;

TEST_F(NthName, NamesBeyond511CharactersArriveTruncatedWithTheNeededSize) {
  IviIniHandle h = OpenText("");
  for (size_t length : {511u, 512u, 513u}) {
    ContentOf(h).Add(Kind::LogicalName, std::string(length, static_cast<char>('a' + length % 3)));
  }
  const struct {
    int32_t index;
    size_t length;
    int32_t result;
  } cases[] = {{1, 511, 0}, {2, 512, 513}, {3, 513, 514}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.length);
    const char *name = nullptr;
    EXPECT_EQ(IviIni_GetNthLogicalName(h, c.index, &name), c.result);
    ASSERT_EQ(name, h->nameBuffer);
    EXPECT_EQ(std::string(name), std::string(511, static_cast<char>('a' + c.length % 3)));
  }
}

TEST_F(NthName, CallsOnOneConfigurationShareItsBuffer) {
  IviIniHandle h = OpenText(DistinctContent());
  IviIniHandle other = OpenText(DistinctContent(), "other.txt");
  const char *logicalName = nullptr;
  const char *session = nullptr;
  const char *elsewhere = nullptr;
  ASSERT_EQ(IviIni_GetNthLogicalName(h, 1, &logicalName), kIviIniSuccess);
  EXPECT_STREQ(logicalName, "ln1");
  ASSERT_EQ(IviIni_GetNthVI(h, 3, &session), kIviIniSuccess);
  ASSERT_EQ(IviIni_GetNthDevice(other, 5, &elsewhere), kIviIniSuccess);
  EXPECT_EQ(logicalName, session);
  EXPECT_STREQ(logicalName, "vi3");
  EXPECT_NE(elsewhere, session);
  EXPECT_STREQ(elsewhere, "dvc5");
}

TEST_F(NthName, IndexOutsideTheCollectionIsTheStoresFailure) {
  IviIniHandle h = OpenText(DistinctContent());
  for (int32_t index : {0, -1, 3}) {
    const char *name = CallIo::kNameSentinel;
    EXPECT_EQ(IviIni_GetNthLogicalName(h, index, &name), memstore::kNotFound);
    EXPECT_EQ(name, CallIo::kNameSentinel);
  }
}

// ---- References ----------------------------------------------------------------------

using References = StoreTest;

TEST_F(References, NoReferencedItemAnswersTheEmptyString) {
  IviIniHandle h = OpenText("session|lonely\nlogicalname|unbound\n");
  const struct {
    int32_t size;
    std::string written;
    int32_t result;
  } cases[] = {
      {0, std::string("####", 4), 1},
      {8, std::string("\0###", 4), 0},
      {1, std::string("\0###", 4), 0},
      {-1, std::string("\0###", 4), 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.size);
    char buffer[4];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(IviIni_GetVIDriver(h, "lonely", buffer, c.size), c.result);
    EXPECT_EQ(std::string(buffer, sizeof buffer), c.written);
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(IviIni_GetLogicalNameVI(h, "unbound", buffer, c.size), c.result);
    EXPECT_EQ(std::string(buffer, sizeof buffer), c.written);
  }
  EXPECT_EQ(memstore::EmptyReferenceNotes(), 8);
  EXPECT_EQ(IviIni_GetVIDevice(h, "lonely", nullptr, 8), kIviIniSuccess);
}

TEST_F(References, EmptyReferencePassesOnAPositiveLookupResultWhereTheStringFits) {
  IviIniHandle h = OpenText("session|lonely\n");
  memstore::FailOn("Driver.getReference", 5);
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(IviIni_GetVIDriver(h, "lonely", buffer, 4), 5);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(IviIni_GetVIDriver(h, "lonely", buffer, 0), 1);
  EXPECT_EQ(IviIni_GetVIDriver(h, "lonely", buffer, -1), 5);
}

TEST_F(References, ReferencedNameFollowsTheStringReturnRule) {
  IviIniHandle h = OpenText(DistinctContent());
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(IviIni_GetVIDriver(h, "vi2", buffer, 3), 5);
  EXPECT_EQ(std::string(buffer, 4), std::string("dr\0#", 4));
  EXPECT_EQ(IviIni_GetVIDriver(h, "vi2", buffer, 0), 5);
  EXPECT_EQ(IviIni_GetVIDevice(h, "vi2", buffer, 5), kIviIniSuccess);
  EXPECT_STREQ(buffer, "dvc2");
  EXPECT_EQ(memstore::EmptyReferenceNotes(), 0);
}

TEST_F(References, SetThroughTheSessionSetReadsBackThroughTheTargetSet) {
  IviIniHandle h = OpenText(DistinctContent());
  ASSERT_EQ(IviIni_SetLogicalNameVI(h, "ln1", "vi3"), kIviIniSuccess);
  char buffer[16];
  EXPECT_EQ(IviIni_GetLogicalNameVI(h, "ln1", buffer, sizeof buffer), kIviIniSuccess);
  EXPECT_STREQ(buffer, "vi3");
  EXPECT_EQ(IviIni_SetLogicalNameVI(h, "ln1", "no-such-session"), memstore::kNotFound);
  EXPECT_EQ(IviIni_SetVIDriver(h, "no-such-session", "drv1"), memstore::kNotFound);
}

// ---- Adding, removing and changing items ------------------------------------------

using Items = StoreTest;

TEST_F(Items, AddedItemsCountAndKnownNamesAreTheStoresFailure) {
  IviIniHandle h = OpenText(DistinctContent());
  ASSERT_EQ(IviIni_AddVI(h, "vi-new"), kIviIniSuccess);
  int32_t count = 0;
  EXPECT_EQ(IviIni_GetNumberOfVIs(h, &count), kIviIniSuccess);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(IviIni_AddVI(h, "vi-new"), memstore::kAlreadyExists);

  ASSERT_EQ(IviIni_SetVIDriverSetup(h, "vi-new", "Simulate=1"), kIviIniSuccess);
  char buffer[32];
  EXPECT_EQ(IviIni_GetVIDriverSetup(h, "vi-new", buffer, sizeof buffer), kIviIniSuccess);
  EXPECT_STREQ(buffer, "Simulate=1");

  ASSERT_EQ(IviIni_RemoveVI(h, "vi-new"), kIviIniSuccess);
  EXPECT_EQ(IviIni_RemoveVI(h, "vi-new"), memstore::kNotFound);
  EXPECT_EQ(IviIni_GetVIDescription(h, "vi-new", buffer, sizeof buffer), memstore::kNotFound);
  EXPECT_EQ(IviIni_GetNumberOfVIs(h, &count), kIviIniSuccess);
  EXPECT_EQ(count, 3);
}

TEST_F(Items, PropertyLongerThanTheCallersBufferAnswersTheNeededSize) {
  IviIniHandle h = OpenText("device|d\nstring|3|TCPIP0::10.0.0.1::INSTR\n");
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(IviIni_GetDeviceResourceDescriptor(h, "d", buffer, 8), 24);
  EXPECT_EQ(std::string(buffer, 8), std::string("TCPIP0:\0", 8));
  EXPECT_EQ(IviIni_GetDeviceResourceDescriptor(h, "d", buffer, 0), 24);
}

}  // namespace

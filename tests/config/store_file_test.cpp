// The file store on its own: what it reads from a text, what it refuses and
// why, and what it writes back after edits; the checksum and the recovery
// header by which saves tell files apart. Linked against the store library
// directly, so these run in both flavours of the build.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "config/channels.h"
#include "config/store_file/content_sum.h"
#include "config/store_file/recovery_file.h"
#include "config/store_file/store_model.h"
#include "velmora/velmora.h"

namespace {

using velmora::store::Field;
using velmora::store::Kind;
using velmora::store::kNoItem;
using velmora::store::ParseError;
using velmora::store::Store;
using velmora::store::TextView;

struct StoreDeleter {
  void operator()(Store *store) const { Store::Destroy(store); }
};
using StorePtr = std::unique_ptr<Store, StoreDeleter>;

std::string Str(TextView view) {
  return std::string(view.data, view.length);
}

StorePtr Load(const std::string &text, ParseError *error = nullptr) {
  StorePtr store(Store::Create());
  ParseError ignored;
  const int32_t status = store->LoadText(text.data(), text.size(), error ? error : &ignored);
  EXPECT_EQ(status, kIviIniSuccess) << (error ? error->message : ignored.message);
  return store;
}

std::string Render(const Store &store) {
  std::string out;
  EXPECT_TRUE(store.Render(
      [](void *context, const char *data, size_t length) {
        static_cast<std::string *>(context)->append(data, length);
        return true;
      },
      &out));
  return out;
}

std::vector<std::string> Names(const Store &store, Kind kind) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < store.Count(kind); ++i)
    names.push_back(Str(store.Name(store.ItemAt(kind, i))));
  return names;
}

std::string ValueOf(const Store &store, Kind kind, const std::string &name, Field field) {
  const uint32_t item = store.Find(kind, name.data(), name.size());
  if (item == kNoItem) return "(no item " + name + ")";
  return store.HasValue(item, field) ? Str(store.Value(item, field)) : "(absent)";
}

// Every channel name of a session, as the library's channel exports name them.
std::vector<std::string> Channels(Store &store, const std::string &session) {
  int32_t count = 0;
  EXPECT_EQ(velmora::CountSessionChannels(&store, session.c_str(), &count), kIviIniSuccess);
  std::vector<std::string> names;
  char name[kIviIniNameBufferSize];
  for (int32_t i = 1; i <= count; ++i) {
    EXPECT_EQ(velmora::NameSessionChannel(&store, session.c_str(), i, name), 1);
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> Classes(Store &store, const std::string &driver) {
  const uint32_t item = store.Find(Kind::kDriver, driver.data(), driver.size());
  EXPECT_EQ(store.PrepareLists(item), kIviIniSuccess);
  std::vector<std::string> names;
  for (uint32_t i = 0; i < store.ClassCount(item); ++i)
    names.push_back(Str(store.ClassAt(item, i)));
  return names;
}

constexpr const char *kBench =
    "# Bench 3\n"
    "[Driver acmeScope]\n"
    "Description = Four-channel scope\n"
    "Module = libacmeScope.so\n"
    "Prefix = acmeScope\n"
    "Classes = IviDriver, IviScope,, IviDigitizer\n"
    "\n"
    "[Device Rack1Slot2]\n"
    "Resource = TCPIP0::10.0.0.5::INSTR\n"
    "[Session Bench3.Scope]\n"
    "driver=acmeScope\n"
    "DEVICE = Rack1Slot2\n"
    "Channels = CH[1..4], TRIG, B[1..2, 5], C[-1..0]\n"
    "Simulate = yes\n"
    "Vendor.Extra = kept as it is\n"
    "[Calibration Rack1Slot2]\n"
    "Due = 2031-04-01\n"
    "[LogicalName Bench3.Scope]\n"
    "Session = Bench3.Scope\n"
    "[LogicalName Meter7]\n"
    "Session = NoSuchSession\n";

TEST(StoreRead, ItemsValuesReferencesChannelsAndClassesOfABench) {
  StorePtr store = Load(kBench);
  EXPECT_EQ(Names(*store, Kind::kDriver), std::vector<std::string>{"acmeScope"});
  EXPECT_EQ(Names(*store, Kind::kDevice), std::vector<std::string>{"Rack1Slot2"});
  EXPECT_EQ(Names(*store, Kind::kSession), std::vector<std::string>{"Bench3.Scope"});
  EXPECT_EQ(Names(*store, Kind::kLogicalName),
            (std::vector<std::string>{"Bench3.Scope", "Meter7"}));
  EXPECT_EQ(ValueOf(*store, Kind::kDriver, "acmeScope", Field::kModule), "libacmeScope.so");
  EXPECT_EQ(ValueOf(*store, Kind::kDevice, "Rack1Slot2", Field::kResource),
            "TCPIP0::10.0.0.5::INSTR");
  EXPECT_EQ(ValueOf(*store, Kind::kDevice, "Rack1Slot2", Field::kDescription), "(absent)");
  // Keys are read whatever their letter case; unknown keys and kinds are not items.
  EXPECT_EQ(ValueOf(*store, Kind::kSession, "Bench3.Scope", Field::kDriver), "acmeScope");
  EXPECT_EQ(ValueOf(*store, Kind::kSession, "Bench3.Scope", Field::kDevice), "Rack1Slot2");

  const uint32_t session = store->Find(Kind::kSession, "Bench3.Scope", 12);
  EXPECT_EQ(store->Target(session, Field::kDriver), store->Find(Kind::kDriver, "acmeScope", 9));
  const uint32_t meter = store->Find(Kind::kLogicalName, "Meter7", 6);
  EXPECT_EQ(store->Target(meter, Field::kSession), kNoItem) << "a missing name refers to none";

  EXPECT_EQ(Channels(*store, "Bench3.Scope"),
            (std::vector<std::string>{"CH1", "CH2", "CH3", "CH4", "TRIG", "B1", "B2", "B5", "C-1",
                                      "C0"}));
  EXPECT_EQ(Classes(*store, "acmeScope"),
            (std::vector<std::string>{"IviDriver", "IviScope", "IviDigitizer"}));
}

struct SyntaxCase {
  const char *text;
  const char *name;  // of the session
  Field field;
  const char *value;
};

TEST(StoreRead, NamesAndValuesAreTrimmedUnquotedAndTakenWithTheirLineEnds) {
  const SyntaxCase cases[] = {
      {"[Session a]\nDescription =   spaced out\t \n", "a", Field::kDescription, "spaced out"},
      {"[Session a]\r\nDescription = crlf\r\n", "a", Field::kDescription, "crlf"},
      {"\xEF\xBB\xBF[Session a]\nDescription = after a BOM", "a", Field::kDescription,
       "after a BOM"},
      {"  [  Session   b c  ]  \n  DriverSetup=x=y\n", "b c", Field::kDriverSetup, "x=y"},
      {"[Session \"  pad ]\\\\ \\\" \"]\nDescription = q", "  pad ]\\ \" ", Field::kDescription,
       "q"},
      {"[Session a]\nDescription = \"  kept \\\"blanks\\\"  \"  \n", "a", Field::kDescription,
       "  kept \"blanks\"  "},
      {"[Session a]\nDescription = say \"hi\" \\ there\n", "a", Field::kDescription,
       "say \"hi\" \\ there"},
      {"[Session a]\nDescription = \"\"\n", "a", Field::kDescription, ""},
      {"[Session a]\nDescription =\n", "a", Field::kDescription, ""},
      {"[Session a]\nDescription = a\rb\n", "a", Field::kDescription, "a\rb"},
      {"; c\n# c\n[Session a]\n   # indented comment\nDescription = #not a comment\n", "a",
       Field::kDescription, "#not a comment"},
      {"[session a]\nDESCRIPTION = any case\n", "a", Field::kDescription, "any case"},
  };
  for (const SyntaxCase &c : cases) {
    SCOPED_TRACE(c.text);
    StorePtr store = Load(c.text);
    EXPECT_EQ(ValueOf(*store, Kind::kSession, c.name, c.field), c.value);
  }
}

struct BadCase {
  const char *text;
  int32_t status;
  uint32_t line;
  size_t size;  // of a text with a NUL inside; 0: up to its NUL
};

TEST(StoreRead, RefusesBadInputWithItsStatusAndLine) {
  const BadCase cases[] = {
      {"[Session a]\njust words\n", kIviIniStoreBadLine, 2, 0},
      {"[Session a]\n = no key\n", kIviIniStoreBadLine, 2, 0},
      {"# top\nKey = before any header\n[Session a]\n", kIviIniStoreKeyOutsideSection, 2, 0},
      {"[Session a\n", kIviIniStoreBadHeader, 1, 0},
      {"[Session a] trailing\n", kIviIniStoreBadHeader, 1, 0},
      {"[Session]\n", kIviIniStoreBadHeader, 1, 0},
      {"[Device \"\"]\n", kIviIniStoreBadHeader, 1, 0},
      {"[]\n", kIviIniStoreBadHeader, 1, 0},
      {"[Session \"a]\n", kIviIniStoreBadQuoting, 1, 0},
      {"[Session a]\nDescription = \"open\n", kIviIniStoreBadQuoting, 2, 0},
      {"[Session a]\nDescription = \"a\" b\n", kIviIniStoreBadQuoting, 2, 0},
      {"[Session a]\nDescription = \"a\\n\"\n", kIviIniStoreBadQuoting, 2, 0},
      {"[Session a]\n\n[Session a]\n", kIviIniStoreDuplicateSection, 3, 0},
      {"[Session a]\nDriver = x\ndriver = y\n", kIviIniStoreDuplicateKey, 3, 0},
      {"[Session a]\nSimulate = maybe\n", kIviIniStoreBadSimulate, 2, 0},
      {"[Session a]\nSimulate =\n", kIviIniStoreBadSimulate, 2, 0},
      {"[Session a]\nChannels = CH[1..]\n", kIviIniStoreBadChannels, 2, 0},
      {"[Session a]\n\n\nx\0y\n", kIviIniStoreNulByte, 4, 19},
      // The first problem in file order is the one named.
      {"[Session a]\nbad\n\nx\0y\n", kIviIniStoreBadLine, 2, 21},
      {"[Session a]\n[Session a]\nbad\n", kIviIniStoreDuplicateSection, 2, 0},
      {"[Device d]\nbad\n[Device d]\n", kIviIniStoreBadLine, 2, 0},
      {"[Session s]\n[Device d]\n[Device d]\n[Session s]\n", kIviIniStoreDuplicateSection, 3, 0},
  };
  for (const BadCase &c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.size > 0 ? std::string(c.text, c.size) : c.text;
    StorePtr store(Store::Create());
    ParseError error{};
    EXPECT_EQ(store->LoadText(text.data(), text.size(), &error), c.status);
    EXPECT_EQ(error.status, c.status);
    EXPECT_EQ(error.line, c.line) << error.message;
    EXPECT_NE(error.message[0], '\0');
  }
}

TEST(StoreRead, UnknownKindsMayRepeatAndHoldAnyLines) {
  // Never read, so never refused: lines that a known section would not take.
  StorePtr store = Load(
      "[Notes]\nx = 1\n[Notes]\nx = 2\n[Calibration Meter7]\nDue = soon\n"
      "[Desktop Entry]\nExec=\"run\" --now\njust words\n = no key\nName = \"open\n"
      "[Other \"unterminated]\n");
  for (int k = 0; k < velmora::store::kKindCount; ++k) EXPECT_EQ(store->Count(Kind(k)), 0u);
}

TEST(StoreRead, ChannelListsParseOrAreRefused) {
  const struct {
    const char *value;
    std::vector<std::string> channels;
  } good[] = {
      {"", {}},
      {"A", {"A"}},
      {" A , B[ 1 .. 2 ,5 ] ", {"A", "B1", "B2", "B5"}},
      {"C[0..3]", {"C0", "C1", "C2", "C3"}},
      {"Out 1[7]", {"Out 17"}},
      {"N[-2147483648..-2147483647]", {"N-2147483648", "N-2147483647"}},
  };
  for (const auto &c : good) {
    SCOPED_TRACE(c.value);
    StorePtr store = Load(std::string("[Session s]\nChannels = ") + c.value + "\n");
    EXPECT_EQ(Channels(*store, "s"), c.channels);
  }
  for (const char *bad : {"A,", ",A", "A,,B", "[1]", "A[]", "A[1", "A[1..2", "A]", "A[2..1]",
                          "A[1..2]x", "A[x]", "A[1 2]", "A[2147483648]", "A[--1]", "A B[1]C"}) {
    SCOPED_TRACE(bad);
    StorePtr store(Store::Create());
    const std::string text = std::string("[Session s]\nChannels = ") + bad + "\n";
    EXPECT_EQ(store->LoadText(text.data(), text.size(), nullptr), kIviIniStoreBadChannels);
  }
}

TEST(StoreRead, SimulateTakesThreeSpellingsOfEachTruthValue) {
  for (const char *word : {"true", "FALSE", "1", "0", "Yes", "no"}) {
    SCOPED_TRACE(word);
    Load(std::string("[Session s]\nSimulate = ") + word + "\n");
  }
}

TEST(StoreRead, LinesAndFilesHaveSizeLimits) {
  const std::string fits = "[Session a]\nDescription = " + std::string(65536 - 14, 'x') + "\n";
  EXPECT_EQ(ValueOf(*Load(fits), Kind::kSession, "a", Field::kDescription).size(), 65536u - 14);
  const std::string over = "[Session a]\n# " + std::string(65535, 'x') + "\r\n";
  StorePtr store(Store::Create());
  ParseError error{};
  EXPECT_EQ(store->LoadText(over.data(), over.size(), &error), kIviIniStoreLineTooLong);
  EXPECT_EQ(error.line, 2u);

  // A sparse file just past the limit is refused before it is read.
  char path[] = "/tmp/velmora-large-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t{64} * 1024 * 1024 + 1), 0);
  close(fd);
  StorePtr large(Store::Create());
  EXPECT_EQ(large->LoadFile(path, &error), kIviIniStoreFileTooLarge);
  unlink(path);
}

TEST(StoreRead, MissingFilesAndFoldersAreRefusedWithTheirOwnStatus) {
  ParseError error{};
  EXPECT_EQ(StorePtr(Store::Create())->LoadFile("/nonexistent/velmora/store.ini", &error),
            kIviIniStoreNotFound);
  EXPECT_EQ(error.line, 0u);
  EXPECT_EQ(StorePtr(Store::Create())->LoadFile("", &error), kIviIniStoreNotFound);
  EXPECT_EQ(StorePtr(Store::Create())->LoadFile("/tmp", &error), kIviIniStoreUnreadable);
}

// ---- Writing back -------------------------------------------------------------

TEST(StoreWrite, UneditedStoresRenderByteForByte) {
  for (const char *text :
       {kBench, "", "\xEF\xBB\xBF", "\n\n", "[Session a]", "[Session a]\r\nDriver = x\r\n\r\n; end",
        "# only\n# comments", "[Session a]\r",
        "[Session a]\nDescription = \"quoted\"   \n\t\n[Other]\nz=1"}) {
    SCOPED_TRACE(text);
    StorePtr store = Load(text);
    EXPECT_EQ(Render(*store), text);
    EXPECT_FALSE(store->Changed());
  }
}

struct EditCase {
  const char *name;
  const char *before;
  void (*edit)(Store &store);
  const char *after;
};

uint32_t Item(Store &store, Kind kind, const char *name) {
  return store.Find(kind, name, strlen(name));
}

const EditCase kEdits[] = {
    {"value rewritten where it stands, key spelling and blanks kept",
     "[Session a]\n  description   =   old   \nDriver = x\n",
     [](Store &s) { s.SetValue(Item(s, Kind::kSession, "a"), Field::kDescription, "new"); },
     "[Session a]\n  description   =   new   \nDriver = x\n"},
    {"value that needs quotes is quoted", "[Session a]\nDescription = old\n",
     [](Store &s) { s.SetValue(Item(s, Kind::kSession, "a"), Field::kDescription, " \"q\" \\ "); },
     "[Session a]\nDescription = \" \\\"q\\\" \\\\ \"\n"},
    {"empty value gets a blank before its new text; a value right after '=' stays there",
     "[Session a]\nDescription =\nDriverSetup=old\n",
     [](Store &s) {
       s.SetValue(Item(s, Kind::kSession, "a"), Field::kDescription, "now");
       s.SetValue(Item(s, Kind::kSession, "a"), Field::kDriverSetup, "new");
     },
     "[Session a]\nDescription = now\nDriverSetup=new\n"},
    {"missing keys go after the section's last key, in key order",
     "[Session a]\nDriver = x\n# about b\n\n[Session b]\n",
     [](Store &s) {
       s.SetValue(Item(s, Kind::kSession, "a"), Field::kSimulate, "true");
       s.SetValue(Item(s, Kind::kSession, "a"), Field::kDescription, "d");
     },
     "[Session a]\nDriver = x\nDescription = d\nSimulate = true\n# about b\n\n[Session b]\n"},
    {"last line without a line end gets one first; CRLF files get CRLF",
     "[Device d]\r\nResource = GPIB0::12::INSTR",
     [](Store &s) { s.SetValue(Item(s, Kind::kDevice, "d"), Field::kDescription, "Meter7"); },
     "[Device d]\r\nResource = GPIB0::12::INSTR\r\nDescription = Meter7\r\n"},
    {"a CRLF cut short at the end of the file is completed, not doubled",
     "[Device d]\r\nResource = GPIB0::12::INSTR\r\n\r",
     [](Store &s) {
       s.SetValue(Item(s, Kind::kDevice, "d"), Field::kDescription, "Meter7");
       s.Add(Kind::kDevice, "e", nullptr);
     },
     "[Device d]\r\nResource = GPIB0::12::INSTR\r\nDescription = Meter7\r\n\r\n[Device e]\r\n"},
    {"removal takes the header and lines up to the last key, not what follows",
     "# a\n[Session a]\nDriver = x\n; inner\nDevice = y\n# about b\n[Session b]\n",
     [](Store &s) { s.Remove(Item(s, Kind::kSession, "a")); }, "# a\n# about b\n[Session b]\n"},
    {"added sections come last, after a blank line, names quoted when needed",
     "[Session a]\nDriver = x",
     [](Store &s) {
       uint32_t added;
       s.Add(Kind::kLogicalName, "Bench3]Scope", &added);
       s.SetValue(added, Field::kDescription, "d");
       s.SetReference(added, Field::kSession, Item(s, Kind::kSession, "a"));
       s.Add(Kind::kDevice, "Meter7", nullptr);
     },
     "[Session a]\nDriver = x\n\n[LogicalName \"Bench3]Scope\"]\nDescription = d\nSession = a\n\n"
     "[Device Meter7]\n"},
    {"edits in several sections apply in file order",
     "\xEF\xBB\xBF[Device d2]\nDescription = 2\n[Device d1]\nDescription = 1\n[Device d3]\n",
     [](Store &s) {
       s.SetValue(Item(s, Kind::kDevice, "d3"), Field::kDescription, "three");
       s.Remove(Item(s, Kind::kDevice, "d1"));
       s.SetValue(Item(s, Kind::kDevice, "d2"), Field::kDescription, "two");
     },
     "\xEF\xBB\xBF[Device d2]\nDescription = two\n[Device d3]\nDescription = three\n"},
    {"unset takes a key's line out, comments and other keys kept, CRLF and all",
     "[Session a]\r\nDriver = x\r\n; about the device\r\nDevice = \"y\"\r\nSimulate = "
     "no\r\n[Session b]\r\n",
     [](Store &s) {
       const uint32_t a = Item(s, Kind::kSession, "a");
       s.Unset(a, Field::kDevice);
       s.Unset(a, Field::kSimulate);
       s.Unset(a, Field::kChannels);  // none to take out
     },
     "[Session a]\r\nDriver = x\r\n; about the device\r\n[Session b]\r\n"},
    {"unset of the last line of a file without a line end",
     "[Device d]\nDescription = x\nResource = GPIB0::1::INSTR",
     [](Store &s) { s.Unset(Item(s, Kind::kDevice, "d"), Field::kResource); },
     "[Device d]\nDescription = x\n"},
    {"an empty value kept as a line of its own; Channels and Classes set like any value",
     "[Session a]\nChannels = A\n[Driver d]\n",
     [](Store &s) {
       const uint32_t a = Item(s, Kind::kSession, "a");
       s.SetValue(a, Field::kDescription, "", true);
       s.SetValue(a, Field::kChannels, "CH[1..2], TRIG");
       s.SetValue(Item(s, Kind::kDriver, "d"), Field::kClasses, "IviDriver, IviDmm");
     },
     "[Session a]\nChannels = CH[1..2], TRIG\nDescription =\n[Driver d]\nClasses = IviDriver, "
     "IviDmm\n"},
};

TEST(StoreWrite, EditsChangeOnlyTheirBytes) {
  for (const EditCase &c : kEdits) {
    SCOPED_TRACE(c.name);
    StorePtr store = Load(c.before);
    c.edit(*store);
    const std::string after = Render(*store);
    EXPECT_EQ(after, c.after);
    EXPECT_TRUE(store->Changed());
    Load(after);  // what is written can be read again
  }
}

// Edits that leave every value as the file has it change nothing: the store
// writes the file byte for byte, whatever it went through on the way.
const EditCase kNoChanges[] = {
    {"values and references set to what they read",
     "[Session a]\nDriver = \"x\"\nDescription =\n[Driver x]\n",
     [](Store &s) {
       const uint32_t a = Item(s, Kind::kSession, "a");
       s.SetValue(a, Field::kDriver, "x");
       s.SetReference(a, Field::kDriver, Item(s, Kind::kDriver, "x"));
       s.SetValue(a, Field::kDescription, "");
       s.SetValue(a, Field::kDriverSetup, "");  // absent: it reads as the empty string
     },
     nullptr},
    {"values changed and set back, quoted and escaped ones included",
     "[Session a]\nDescription = \"quoted\"\nDriverSetup=\"a \\\"b\\\"\"  \n[Device d]\n",
     [](Store &s) {
       const uint32_t a = Item(s, Kind::kSession, "a");
       s.SetValue(a, Field::kDescription, "other");
       s.SetValue(a, Field::kDescription, "quoted");
       s.SetValue(a, Field::kDriverSetup, "");
       s.SetValue(a, Field::kDriverSetup, "a \"b\"");
       s.SetValue(Item(s, Kind::kDevice, "d"), Field::kResource, "GPIB0::1::INSTR");
       s.SetValue(Item(s, Kind::kDevice, "d"), Field::kResource, "");
     },
     nullptr},
    {"a truth value keeps its word while it means the same",
     "[Session a]\nSimulate = no\n[Session b]\n",
     [](Store &s) {
       s.SetBoolean(Item(s, Kind::kSession, "a"), Field::kSimulate, false);
       s.SetBoolean(Item(s, Kind::kSession, "a"), Field::kSimulate, true);
       s.SetBoolean(Item(s, Kind::kSession, "a"), Field::kSimulate, false);
       s.SetBoolean(Item(s, Kind::kSession, "b"), Field::kSimulate, false);
     },
     nullptr},
    {"keys unset and set back to the file's value, an added key set and unset",
     "[Session a]\nDescription = \"q\"\nDriver = x\n[Driver x]\n",
     [](Store &s) {
       const uint32_t a = Item(s, Kind::kSession, "a");
       s.Unset(a, Field::kDescription);
       s.SetValue(a, Field::kDescription, "q");
       s.Unset(a, Field::kDriver);
       s.SetReference(a, Field::kDriver, Item(s, Kind::kDriver, "x"));
       s.SetValue(a, Field::kDriverSetup, "", true);
       s.Unset(a, Field::kDriverSetup);
     },
     nullptr},
    {"added then removed", "[Session a]\nDriver = x\n",
     [](Store &s) {
       uint32_t added;
       s.Add(Kind::kSession, "b", &added);
       s.SetValue(added, Field::kDescription, "d");
       s.Remove(added);
     },
     nullptr},
};

TEST(StoreWrite, EditsThatEndWhereTheFileIsChangeNothing) {
  for (const EditCase &c : kNoChanges) {
    SCOPED_TRACE(c.name);
    StorePtr store = Load(c.before);
    c.edit(*store);
    EXPECT_FALSE(store->Changed());
    EXPECT_EQ(Render(*store), c.before);
  }
}

TEST(StoreWrite, EditedValuesReadBackExactly) {
  const char *values[] = {
      "plain", " lead",        "trail\t", "\"starts quoted", "ends quoted\"", "back\\slash",
      "a\rb",  "ends in CR\r", "",        "[Session x]",     "# no comment"};
  StorePtr store = Load("[Session s]\nDescription = x\n[LogicalName n]\n");
  const uint32_t session = Item(*store, Kind::kSession, "s");
  const uint32_t logical = Item(*store, Kind::kLogicalName, "n");
  for (const char *value : values) {
    SCOPED_TRACE(value);
    ASSERT_EQ(store->SetValue(session, Field::kDescription, value), kIviIniSuccess);
    ASSERT_EQ(store->SetValue(logical, Field::kDescription, value), kIviIniSuccess);
    uint32_t added;
    ASSERT_EQ(store->Add(Kind::kDevice, (std::string(value) + "!").c_str(), &added),
              kIviIniSuccess);
    StorePtr again = Load(Render(*store));
    for (Kind kind : {Kind::kSession, Kind::kLogicalName}) {
      const uint32_t item = Item(*again, kind, kind == Kind::kSession ? "s" : "n");
      EXPECT_EQ(Str(again->Value(item, Field::kDescription)), value);
    }
    EXPECT_NE(Item(*again, Kind::kDevice, (std::string(value) + "!").c_str()), kNoItem);
  }
}

TEST(StoreWrite, EditsThatCannotBeWrittenAreRefusedAndChangeNothing) {
  StorePtr store = Load("[Session s]\nDescription = x\n[Driver d]\n");
  const uint32_t session = Item(*store, Kind::kSession, "s");
  EXPECT_EQ(store->SetValue(session, Field::kDescription, "two\nlines"), kIviIniStoreBadValue);
  EXPECT_EQ(store->SetValue(session, Field::kDescription, std::string(65536, 'x').c_str()),
            kIviIniStoreBadValue);
  // Channels values the parser would refuse.
  EXPECT_EQ(store->SetValue(session, Field::kChannels, "A[2..1]"), kIviIniStoreBadValue);
  EXPECT_EQ(store->SetValue(session, Field::kChannels, "A, [1]"), kIviIniStoreBadValue);
  EXPECT_EQ(store->SetValue(session, Field::kModule, "m"), kIviIniStoreNoSuchProperty);
  EXPECT_EQ(store->SetReference(session, Field::kDriver, session), kIviIniStoreNoSuchItem);
  // The parser refuses these Simulate values, so no edit writes them.
  EXPECT_EQ(store->SetValue(session, Field::kSimulate, "maybe"), kIviIniStoreBadValue);
  EXPECT_EQ(store->SetValue(session, Field::kSimulate, "yes"), kIviIniSuccess);
  EXPECT_EQ(store->SetValue(session, Field::kSimulate, "sometimes"), kIviIniStoreBadValue);
  EXPECT_EQ(store->SetValue(session, Field::kSimulate, ""), kIviIniSuccess);  // as loaded: none
  EXPECT_EQ(store->Add(Kind::kSession, "s", nullptr), kIviIniStoreItemExists);
  EXPECT_EQ(store->Add(Kind::kSession, "", nullptr), kIviIniStoreBadName);
  EXPECT_EQ(store->Add(Kind::kSession, "a\nb", nullptr), kIviIniStoreBadName);
  EXPECT_EQ(store->Add(Kind::kSession, std::string(65530, 'n').c_str(), nullptr),
            kIviIniStoreBadName);
  EXPECT_FALSE(store->Changed());
  EXPECT_EQ(store->Remove(session), kIviIniSuccess);
  EXPECT_EQ(store->Remove(session), kIviIniStoreNoSuchItem);
  EXPECT_EQ(store->SetValue(session, Field::kDescription, "y"), kIviIniStoreNoSuchItem);
}

TEST(StoreWrite, ChannelAndClassListsFollowEditsOfTheirValues) {
  StorePtr store = Load(kBench);
  const uint32_t session = Item(*store, Kind::kSession, "Bench3.Scope");
  const uint32_t driver = Item(*store, Kind::kDriver, "acmeScope");
  // Read once, so that the lists are kept before the edits.
  EXPECT_EQ(Channels(*store, "Bench3.Scope").size(), 10u);
  EXPECT_EQ(Classes(*store, "acmeScope").size(), 3u);
  ASSERT_EQ(store->SetValue(session, Field::kChannels, "OUT[1..2], SYNC"), kIviIniSuccess);
  ASSERT_EQ(store->SetValue(driver, Field::kClasses, " IviFgen ,, "), kIviIniSuccess);
  EXPECT_EQ(Channels(*store, "Bench3.Scope"), (std::vector<std::string>{"OUT1", "OUT2", "SYNC"}));
  EXPECT_EQ(Classes(*store, "acmeScope"), std::vector<std::string>{"IviFgen"});
  ASSERT_EQ(store->Unset(session, Field::kChannels), kIviIniSuccess);
  ASSERT_EQ(store->Unset(driver, Field::kClasses), kIviIniSuccess);
  EXPECT_TRUE(Channels(*store, "Bench3.Scope").empty());
  EXPECT_TRUE(Classes(*store, "acmeScope").empty());
  // Back to the file's values: the file's lists again.
  ASSERT_EQ(store->SetValue(session, Field::kChannels, "CH[1..4], TRIG, B[1..2, 5], C[-1..0]"),
            kIviIniSuccess);
  EXPECT_EQ(Channels(*store, "Bench3.Scope").size(), 10u);
  EXPECT_FALSE(store->HasValue(driver, Field::kClasses));
}

TEST(StoreWrite, AValueOfTheLongestLineCanBeChangedAndSetBack) {
  const std::string loaded(65536 - 14, 'x');
  StorePtr store = Load("[Session a]\nDescription = " + loaded + "\n");
  const uint32_t session = Item(*store, Kind::kSession, "a");
  EXPECT_EQ(store->SetValue(session, Field::kDescription, std::string(loaded.size(), 'y').c_str()),
            kIviIniSuccess);
  EXPECT_EQ(store->SetValue(session, Field::kDescription, (loaded + "y").c_str()),
            kIviIniStoreBadValue);
  EXPECT_EQ(store->SetValue(session, Field::kDescription, loaded.c_str()), kIviIniSuccess);
  EXPECT_FALSE(store->Changed());
}

TEST(StoreIndex, FindsEveryNameThroughAddsAndRemovals) {
  StorePtr store = Load("[Session keep]\n");
  std::vector<uint32_t> added;
  for (int i = 0; i < 2000; ++i) {
    uint32_t item;
    ASSERT_EQ(store->Add(Kind::kSession, ("s" + std::to_string(i)).c_str(), &item), kIviIniSuccess);
    added.push_back(item);
  }
  for (int i = 0; i < 2000; i += 2) ASSERT_EQ(store->Remove(added[i]), kIviIniSuccess);
  ASSERT_EQ(store->Count(Kind::kSession), 1001u);
  EXPECT_EQ(Str(store->Name(store->ItemAt(Kind::kSession, 1))), "s1");
  for (int i = 0; i < 2000; ++i) {
    const std::string name = "s" + std::to_string(i);
    EXPECT_EQ(store->Find(Kind::kSession, name.data(), name.size()), i % 2 ? added[i] : kNoItem);
  }
  // A removed name can be added again.
  EXPECT_EQ(store->Add(Kind::kSession, "s0", nullptr), kIviIniSuccess);
  EXPECT_EQ(store->Find(Kind::kSession, "S1", 2), kNoItem) << "names compare exactly";
}

}  // namespace

// ---- What tells one file's bytes from another's --------------------------------

namespace {

using velmora::store::ContentSum;
using velmora::store::RecoveryHeader;

// The checksum a save keeps of what it wrote, and compares the file with
// before the next: the same however the bytes come in pieces, and different
// for any one bit changed, any length, trailing zeros included.
TEST(ContentSum, DependsOnEveryBitAndTheLengthNotOnThePieces) {
  std::string bytes(3000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + 7);
  const uint64_t whole = ContentSum::Of(bytes.data(), bytes.size());
  for (size_t cut = 0; cut <= bytes.size(); cut += 61) {
    ContentSum pieces;
    pieces.Add(bytes.data(), cut);
    pieces.Add(bytes.data() + cut, 1);
    pieces.Add(bytes.data() + cut + 1, bytes.size() - cut - 1);
    EXPECT_EQ(pieces.Value(), whole) << "cut at " << cut;
    EXPECT_EQ(pieces.length(), bytes.size());
  }
  std::set<uint64_t> seen = {whole};
  for (size_t i = 0; i < bytes.size(); i += 7) {
    for (int bit = 0; bit < 8; ++bit) {
      bytes[i] = static_cast<char>(bytes[i] ^ (1 << bit));
      EXPECT_TRUE(seen.insert(ContentSum::Of(bytes.data(), bytes.size())).second) << i << "/" << bit;
      bytes[i] = static_cast<char>(bytes[i] ^ (1 << bit));
    }
  }
  const std::string zeros(100, '\0');
  for (size_t n = 0; n <= zeros.size(); ++n) {
    EXPECT_TRUE(seen.insert(ContentSum::Of(zeros.data(), n)).second) << n << " zeros";
  }
}

// The recovery file's header reads back as written, and is refused when any
// byte of it is not what it was.
TEST(RecoveryHeader, ReadsBackAsWrittenAndRefusesAnyOtherByte) {
  const RecoveryHeader header = {2049, 1234567, 64u << 20, 0x0123456789ABCDEFull, 17,
                                 0xFEDCBA9876543210ull};
  char line[velmora::store::kRecoveryHeaderBytes + 1];
  velmora::store::FormatRecoveryHeader(header, line);
  EXPECT_EQ(strlen(line), velmora::store::kRecoveryHeaderBytes);
  EXPECT_EQ(std::string(line, 19), "velmora-recovery/1 ");
  RecoveryHeader read = {};
  ASSERT_TRUE(velmora::store::ParseRecoveryHeader(line, sizeof line - 1, &read));
  EXPECT_EQ(memcmp(&read, &header, sizeof header), 0);
  EXPECT_FALSE(velmora::store::ParseRecoveryHeader(line, sizeof line - 2, &read)) << "cut short";
  for (size_t i = 0; i < sizeof line - 1; ++i) {
    for (const char other : {'0', '9', 'f', ' ', 'x'}) {
      if (line[i] == other) continue;
      std::string changed(line, sizeof line - 1);
      changed[i] = other;
      EXPECT_FALSE(velmora::store::ParseRecoveryHeader(changed.data(), changed.size(), &read))
          << "byte " << i << " as " << other;
    }
  }
}

}  // namespace

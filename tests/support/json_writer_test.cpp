#include "support/json_writer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "text_buffer.h"

namespace {

using velmora_test::TextBuffer;

constexpr std::size_t kRoomy = 256;

struct Insertion {
  const char *text;
  std::size_t cursor;  // offset of the character the insertion goes before
  const char *name;    // null: array element
  const char *expected;
};

// Comma placement by what lies under and before the cursor.
const Insertion kCommaRules[] = {
    {"{}", 1, "k", R"({"k":"v"})"},
    {"{ }", 2, "k", R"({ "k":"v"})"},
    {"{ \t\r\n}", 5, "k", "{ \t\r\n\"k\":\"v\"}"},
    {R"({"a":1})", 6, "k", R"({"a":1,"k":"v"})"},
    {R"({"a":1 })", 7, "k", R"({"a":1 ,"k":"v"})"},
    {R"({"a":{}})", 6, "k", R"({"a":{"k":"v"}})"},
    {R"({"a":{"b":2}})", 11, "k", R"({"a":{"b":2,"k":"v"}})"},
    {R"({"a":"{"})", 8, "k", R"({"a":"{","k":"v"})"},
    {"[]", 1, nullptr, R"(["v"])"},
    {"[ ]", 2, nullptr, R"([ "v"])"},
    {"[1]", 2, nullptr, R"([1,"v"])"},
    {"[1,2]", 2, nullptr, R"([1,"v",2])"},
    {R"({"a":[]})", 6, nullptr, R"({"a":["v"]})"},
    {"", 0, nullptr, R"("v")"},
};

TEST(JsonWriter, CommaGoesOnlyAfterAnExistingEntry) {
  for (const Insertion &c : kCommaRules) {
    TextBuffer buffer(c.text, kRoomy);
    const char under = *buffer.at(c.cursor);
    char *after = json_add_string(buffer.data(), buffer.at(c.cursor), c.name, "v");
    ASSERT_NE(after, nullptr) << c.text;
    EXPECT_EQ(buffer.text(), c.expected) << c.text;
    EXPECT_TRUE(buffer.layout_intact()) << c.text;
    // The returned cursor is the character that was under the cursor.
    EXPECT_EQ(*after, under) << c.text;
    EXPECT_EQ(buffer.offset_of(after), c.cursor + std::strlen(c.expected) - std::strlen(c.text))
        << c.text;
  }
}

TEST(JsonWriter, MembersOfAnOpenedObjectLandInsideIt) {
  TextBuffer buffer("{}", kRoomy);
  char *cursor = json_open_object(buffer.data(), buffer.at(1), "name");
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(buffer.text(), R"({"name":{}})");
  EXPECT_EQ(buffer.offset_of(cursor), 9u);
  cursor = json_add_string(buffer.data(), cursor, "a", "1");
  cursor = json_add_string(buffer.data(), cursor, "b", "2");
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(buffer.text(), R"({"name":{"a":"1","b":"2"}})");
  cursor = json_close_object(cursor);
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(*cursor, '}');
  cursor = json_add_int(buffer.data(), cursor, "c", 3);
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(buffer.text(), R"({"name":{"a":"1","b":"2"},"c":3})");
  EXPECT_TRUE(buffer.layout_intact());
}

TEST(JsonWriter, ArrayElementsAndObjectsWithoutNames) {
  TextBuffer buffer("[]", kRoomy);
  char *cursor = json_open_object(buffer.data(), buffer.at(1), nullptr);
  cursor = json_add_int(buffer.data(), cursor, "x", 1);
  cursor = json_close_object(cursor);
  cursor = json_add_int(buffer.data(), cursor, nullptr, 2);
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(buffer.text(), R"([{"x":1},2])");
}

struct IntCase {
  std::int32_t value;
  const char *expected;
};

const IntCase kInts[] = {
    {-1, R"({"n":-1})"},
    {0, R"({"n":0})"},
    {65, R"({"n":65})"},
    {INT32_MAX, R"({"n":2147483647})"},
    {INT32_MIN, R"({"n":-2147483648})"},
};

TEST(JsonWriter, IntegersAreWrittenInDecimal) {
  for (const IntCase &c : kInts) {
    TextBuffer buffer("{}", kRoomy);
    ASSERT_NE(json_add_int(buffer.data(), buffer.at(1), "n", c.value), nullptr);
    EXPECT_EQ(buffer.text(), c.expected);
  }
}

struct EscapeCase {
  std::string raw;
  const char *escaped;
};

const EscapeCase kEscapes[] = {
    {"\b", R"(\b)"},
    {"\t", R"(\t)"},
    {"\n", R"(\n)"},
    {"\f", R"(\f)"},
    {"\r", R"(\r)"},
    {"\"", R"(\")"},
    {"\\", R"(\\)"},
    {"\x01", R"(\u0001)"},
    {"\x0b", R"(\u000b)"},
    {"\x1f", R"(\u001f)"},
    {"\x7f", R"(\u007f)"},
    {"/", "/"},
    {"\x80", "\x80"},
    {"\xc3\xa9", "\xc3\xa9"},
    {"\xff", "\xff"},
    {" ~", " ~"},
    {"a\x01z\x7f", R"(a\u0001z\u007f)"},
};

TEST(JsonWriter, EscapingFollowsTheTable) {
  for (const EscapeCase &c : kEscapes) {
    EXPECT_EQ(json_escaped_length(c.raw.c_str()), std::strlen(c.escaped)) << c.escaped;
    char out[32];
    std::memset(out, '#', sizeof out);
    char *end = json_write_escaped(out, c.raw.c_str());
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(end - out)), c.escaped);
    EXPECT_EQ(*end, '#') << "wrote past the escaped text";
  }
  EXPECT_EQ(json_escaped_length(nullptr), 0u);
}

TEST(JsonWriter, NamesAndValuesAreBothEscaped) {
  TextBuffer buffer("{}", kRoomy);
  ASSERT_NE(json_add_string(buffer.data(), buffer.at(1), "a\"b", "c\\d/e\x01"), nullptr);
  EXPECT_EQ(buffer.text(), R"({"a\"b":"c\\d/e\u0001"})");
}

TEST(JsonWriter, CursorOnAnOpeningBracketIsRefusedAndTextKept) {
  const struct {
    const char *text;
    std::size_t cursor;
  } cases[] = {{R"({"a":{}})", 0}, {R"({"a":{}})", 5}, {R"({"a":[1]})", 5}, {"[[]]", 1}};
  for (const auto &c : cases) {
    TextBuffer buffer(c.text, kRoomy);
    const std::vector<char> before = buffer.bytes();
    EXPECT_EQ(json_add_string(buffer.data(), buffer.at(c.cursor), "k", "v"), nullptr) << c.text;
    EXPECT_EQ(json_add_int(buffer.data(), buffer.at(c.cursor), nullptr, 1), nullptr) << c.text;
    EXPECT_EQ(json_open_object(buffer.data(), buffer.at(c.cursor), "k"), nullptr) << c.text;
    EXPECT_EQ(json_make_room(buffer.data(), buffer.at(c.cursor), 0), nullptr) << c.text;
    EXPECT_EQ(buffer.bytes(), before) << c.text;
  }
}

TEST(JsonWriter, CloseStepsOnlyPastAClosingBracket) {
  TextBuffer buffer(R"({"a":[1]})", kRoomy);
  EXPECT_EQ(json_close_object(buffer.at(8)), buffer.at(9));
  EXPECT_EQ(json_close_object(buffer.at(7)), buffer.at(8));
  EXPECT_EQ(json_close_object(buffer.at(1)), nullptr);  // on a quote
  EXPECT_EQ(json_close_object(buffer.at(0)), nullptr);  // on an opening brace
  EXPECT_EQ(json_close_object(buffer.at(9)), nullptr);  // on the NUL
}

int g_grow_calls = 0;
char *CountingGrow(char *, void *) {
  ++g_grow_calls;
  return nullptr;
}

TEST(JsonWriter, NullTextOrCursorDoesNothing) {
  g_grow_calls = 0;
  const GrowHandler grow{CountingGrow, nullptr};
  TextBuffer buffer("{}", kRoomy);
  for (char *text : {static_cast<char *>(nullptr), buffer.data()}) {
    char *cursor = text == nullptr ? buffer.at(1) : nullptr;
    EXPECT_EQ(json_add_string(text, cursor, "k", "v"), nullptr);
    EXPECT_EQ(json_add_string(text, cursor, "k", "v", grow), nullptr);
    EXPECT_EQ(json_add_int(text, cursor, "k", 1), nullptr);
    EXPECT_EQ(json_add_int(text, cursor, "k", 1, grow), nullptr);
    EXPECT_EQ(json_open_object(text, cursor, "k"), nullptr);
    EXPECT_EQ(json_open_object(text, cursor, "k", grow), nullptr);
    EXPECT_EQ(json_make_room(text, cursor, 1), nullptr);
  }
  EXPECT_EQ(json_close_object(nullptr), nullptr);
  EXPECT_EQ(g_grow_calls, 0);
  EXPECT_EQ(buffer.text(), "{}");
}

TEST(JsonWriter, NullValueIsRefusedAndTextKept) {
  TextBuffer buffer("{}", kRoomy);
  EXPECT_EQ(json_add_string(buffer.data(), buffer.at(1), "k", nullptr), nullptr);
  EXPECT_EQ(buffer.text(), "{}");
}

// "k":"v" is 7 bytes; after an existing member it needs 8 with the comma.
TEST(JsonWriter, RoomCountsTheCommaAndStopsAtTheMarker) {
  const std::string text = R"({"a":1})";
  // Capacity = text + NUL + 7 zero bytes + marker: 7 bytes of room.
  TextBuffer tight(text, text.size() + 1 + 7 + 1);
  const std::vector<char> before = tight.bytes();
  EXPECT_EQ(json_add_string(tight.data(), tight.at(6), "k", "v"), nullptr);
  EXPECT_EQ(tight.bytes(), before);

  TextBuffer exact(text, text.size() + 1 + 8 + 1);
  ASSERT_NE(json_add_string(exact.data(), exact.at(6), "k", "v"), nullptr);
  EXPECT_EQ(exact.text(), R"({"a":1,"k":"v"})");
  EXPECT_TRUE(exact.layout_intact());

  // In an empty object no comma is needed, so 7 bytes suffice.
  TextBuffer empty("{}", 2 + 1 + 7 + 1);
  ASSERT_NE(json_add_string(empty.data(), empty.at(1), "k", "v"), nullptr);
  EXPECT_EQ(empty.text(), R"({"k":"v"})");
  EXPECT_TRUE(empty.layout_intact());
}

TEST(JsonWriter, MakeRoomOfZeroBytesInAnEmptyContainerChangesNothing) {
  TextBuffer buffer("{}", 8);
  const std::vector<char> before = buffer.bytes();
  EXPECT_EQ(json_make_room(buffer.data(), buffer.at(1), 0), buffer.at(1));
  EXPECT_EQ(buffer.bytes(), before);
}

// A grow function that moves the text into a larger buffer, as a real owner
// whose allocation moves would.
struct Relocation {
  TextBuffer *from;
  TextBuffer *to;
  int calls = 0;
};

char *RelocatingGrow(char *cursor, void *context) {
  auto *r = static_cast<Relocation *>(context);
  ++r->calls;
  if (r->calls > 1) return nullptr;
  std::strcpy(r->to->data(), r->from->data());
  return r->to->at(r->from->offset_of(cursor));
}

TEST(JsonWriter, GrowingFormRetriesAtTheCursorTheGrowFunctionGives) {
  TextBuffer small(R"({"a":1})", 10);
  TextBuffer large("", 64);
  Relocation relocation{&small, &large};
  const GrowHandler grow{RelocatingGrow, &relocation};
  char *cursor = json_add_string(small.data(), small.at(6), "k", "v", grow);
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(relocation.calls, 1);
  EXPECT_EQ(large.text(), R"({"a":1,"k":"v"})");
  EXPECT_EQ(large.offset_of(cursor), 14u);
  EXPECT_TRUE(large.layout_intact());
  EXPECT_EQ(small.text(), R"({"a":1})");
}

TEST(JsonWriter, GrowingFormGivesNullAndKeepsTextWhenGrowthFails) {
  TextBuffer small(R"({"a":1})", 10);
  const std::vector<char> before = small.bytes();
  g_grow_calls = 0;
  EXPECT_EQ(json_open_object(small.data(), small.at(6), "object", GrowHandler{CountingGrow, nullptr}), nullptr);
  EXPECT_EQ(g_grow_calls, 1);
  EXPECT_EQ(json_add_int(small.data(), small.at(6), "k", 1, GrowHandler{nullptr, nullptr}), nullptr);
  EXPECT_EQ(small.bytes(), before);
}

char *UselessGrow(char *cursor, void *context) {
  ++*static_cast<int *>(context);
  return cursor;  // claims success but adds no room
}

TEST(JsonWriter, GrowFunctionThatAddsNoRoomEndsTheAttempt) {
  TextBuffer small(R"({"a":1})", 10);
  int calls = 0;
  EXPECT_EQ(json_add_string(small.data(), small.at(6), "k", "value",
                            GrowHandler{UselessGrow, &calls}),
            nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(small.text(), R"({"a":1})");
}

// Moves the text into a buffer one byte larger on every call, as a grow
// function with a stingy allocator might: slow, but always progress.
struct Creeping {
  std::vector<TextBuffer> buffers;
  int calls = 0;
};

char *CreepingGrow(char *cursor, void *context) {
  auto *c = static_cast<Creeping *>(context);
  ++c->calls;
  TextBuffer &from = c->buffers.back();
  const std::size_t offset = from.offset_of(cursor);
  TextBuffer to(from.text(), from.bytes().size() + 1);
  c->buffers.push_back(to);
  return c->buffers.back().at(offset);
}

TEST(JsonWriter, GrowingFormRetriesForAsLongAsGrowthAddsRoom) {
  Creeping creeping;
  creeping.buffers.reserve(256);
  creeping.buffers.emplace_back("{}", 4);  // no room at all
  const std::string value(60, 'v');        // "k":"vvv..." is 66 bytes
  TextBuffer &first = creeping.buffers.front();
  char *after = json_add_string(first.data(), first.at(1), "k", value.c_str(),
                                GrowHandler{CreepingGrow, &creeping});
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(creeping.calls, 66);
  EXPECT_EQ(creeping.buffers.back().text(), "{\"k\":\"" + value + "\"}");
  EXPECT_TRUE(creeping.buffers.back().layout_intact());
}

TEST(JsonWriter, RefusedCursorIsNotGrownFor) {
  TextBuffer buffer(R"({"a":{}})", 9);  // full: no room
  g_grow_calls = 0;
  const GrowHandler grow{CountingGrow, nullptr};
  EXPECT_EQ(json_add_string(buffer.data(), buffer.at(0), "k", "v", grow), nullptr);
  EXPECT_EQ(json_add_int(buffer.data(), buffer.at(5), "k", 1, grow), nullptr);
  EXPECT_EQ(json_open_object(buffer.data(), buffer.at(5), "k", grow), nullptr);
  EXPECT_EQ(g_grow_calls, 0);
  // A cursor outside the text is refused the same way.
  EXPECT_EQ(json_add_int(buffer.at(1), buffer.at(0), "k", 1, grow), nullptr);
  EXPECT_EQ(json_add_int(buffer.data(), buffer.at(9), "k", 1, grow), nullptr);
  EXPECT_EQ(g_grow_calls, 0);
}

// Texts whose closing bracket has nothing but whitespace before it: walking
// back for the opening bracket would leave the buffer. The buffers are heap
// blocks of exactly their size, so a read before one is an
// AddressSanitizer report.
TEST(JsonWriter, MakeRoomNeverReadsBeforeTheText) {
  const struct {
    const char *text;
    std::size_t cursor;
  } cases[] = {{"}", 0}, {"]", 0}, {" }", 1}, {"\t\r\n ]", 4}};
  for (const auto &c : cases) {
    TextBuffer buffer(c.text, std::strlen(c.text) + 2 + 8);
    const std::vector<char> before = buffer.bytes();
    EXPECT_EQ(json_make_room(buffer.data(), buffer.at(c.cursor), 1), nullptr) << c.text;
    EXPECT_EQ(json_add_int(buffer.data(), buffer.at(c.cursor), nullptr, 1), nullptr) << c.text;
    EXPECT_EQ(buffer.bytes(), before) << c.text;
  }
}

}  // namespace

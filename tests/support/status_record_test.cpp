#include "support/status_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "text_buffer.h"

namespace {

using velmora_test::TextBuffer;

const ErrorContext kLoadContext{"dynload", 65, "velmora_hx", "qxapalerr_invalidParameter"};
const char kLoadContextText[] =
    R"({"error_constant":"qxapalerr_invalidParameter","file":"dynload","line":65,)"
    R"("component":"velmora_hx"})";

// Owns a record and releases it however the test ends.
struct Record {
  StatusRecord r = status_record_make();
  ~Record() { status_release(&r); }
  std::string text() const { return r.json != nullptr ? std::string(r.json) : "<none>"; }
  bool layout_intact() const { return TextBuffer::LayoutIntact(r.json, r.capacity); }
  std::vector<char> bytes() const { return std::vector<char>(r.json, r.json + r.capacity); }
};

// A record with code and the text {"x":1}.
void Prepare(Record &record, std::int32_t code) {
  {
    char *end = status_json_end(&record.r, 0);
    ASSERT_NE(json_add_int(record.r.json, end, "x", 1), nullptr);
  }
  record.r.code = code;
  ASSERT_EQ(record.text(), R"({"x":1})");
}

struct Precedence {
  std::int32_t current;
  std::int32_t offered;
  bool taken;
};

const Precedence kPrecedence[] = {
    {0, 0, false},  {0, 5, true},    {0, -3, true},  {5, -3, true},   {5, 7, false},
    {5, 5, false},  {5, 0, false},   {-3, -4, false}, {-3, 5, false}, {-3, 0, false},
    {-3, -3, false}, {1, INT32_MIN, true}, {0, INT32_MAX, true},
};

TEST(StatusRecord, CodeIsTakenByPrecedenceAndResetsTheText) {
  for (const Precedence &p : kPrecedence) {
    Record record;
    Prepare(record, p.current);
    EXPECT_EQ(status_set_code(&record.r, p.offered), p.taken) << p.current << " <- " << p.offered;
    EXPECT_EQ(record.r.code, p.taken ? p.offered : p.current);
    EXPECT_EQ(record.text(), p.taken ? "{}" : R"({"x":1})");
    EXPECT_TRUE(record.layout_intact());
  }
}

TEST(StatusRecord, TakingACodeWithoutABufferAllocatesNothing) {
  Record record;
  EXPECT_TRUE(status_set_code(&record.r, 5));
  EXPECT_EQ(record.r.code, 5);
  EXPECT_EQ(record.r.json, nullptr);
  EXPECT_EQ(record.r.capacity, 0u);
}

TEST(StatusRecord, FreshErrorWritesContextMembersInOrder) {
  Record record;
  EXPECT_TRUE(status_set_error(&record.r, -52005, &kLoadContext));
  EXPECT_EQ(record.r.code, -52005);
  EXPECT_EQ(record.r.capacity, 512u);
  EXPECT_EQ(record.text(), kLoadContextText);
  EXPECT_TRUE(record.layout_intact());
}

TEST(StatusRecord, ContextWithoutComponentWritesNoComponent) {
  Record record;
  const ErrorContext context{"f", -7, nullptr, "e"};
  EXPECT_TRUE(status_set_error(&record.r, 9, &context));
  EXPECT_EQ(record.text(), R"({"error_constant":"e","file":"f","line":-7})");
}

TEST(StatusRecord, ErrorReplacesAWarningAndItsText) {
  Record record;
  Prepare(record, 5);
  EXPECT_TRUE(status_set_error(&record.r, -52005, &kLoadContext));
  EXPECT_EQ(record.text(), kLoadContextText);
}

TEST(StatusRecord, ErrorNotTakenLeavesCodeAndTextAlone) {
  Record record;
  Prepare(record, -3);
  const std::vector<char> before = record.bytes();
  EXPECT_FALSE(status_set_error(&record.r, -52005, &kLoadContext));
  EXPECT_EQ(record.r.code, -3);
  EXPECT_EQ(record.bytes(), before);
}

bool RefusingResize(StatusRecord *record, std::uint32_t size) {
  return size == 0 ? status_default_resize(record, 0) : false;
}

// Allows the first 512-byte buffer and no growth.
bool CappedResize(StatusRecord *record, std::uint32_t size) {
  return size > 512 ? false : status_default_resize(record, size);
}

TEST(StatusRecord, ErrorIsTakenEvenWhenNoBufferCanBeHad) {
  Record record;
  record.r.resize = RefusingResize;
  EXPECT_TRUE(status_set_error(&record.r, -1, &kLoadContext));
  EXPECT_EQ(record.r.code, -1);
  EXPECT_EQ(record.r.json, nullptr);
}

TEST(StatusRecord, MembersAfterAFailedGrowthAreSkippedWhole) {
  Record record;
  record.r.resize = CappedResize;
  const std::string long_file(600, 'f');
  const ErrorContext context{long_file.c_str(), 1, "c", "e"};
  EXPECT_TRUE(status_set_error(&record.r, -1, &context));
  EXPECT_EQ(record.text(), R"({"error_constant":"e"})");
  EXPECT_EQ(record.r.capacity, 512u);
  EXPECT_TRUE(record.layout_intact());
}

TEST(StatusRecord, JsonEndGivesTheTopLevelClosingBrace) {
  Record record;
  char *end = status_json_end(&record.r, 2);
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(record.r.capacity, 512u);
  EXPECT_EQ(end, record.r.json + 1);
  ASSERT_NE(json_open_object(record.r.json, end, "o"), nullptr);
  EXPECT_EQ(status_json_end(&record.r, 2), record.r.json + 7);  // {"o":{}}
}

std::vector<std::uint32_t> g_requests;
bool RecordingResize(StatusRecord *record, std::uint32_t size) {
  g_requests.push_back(size);
  return size == 0 ? status_default_resize(record, 0) : false;
}

TEST(StatusRecord, JsonEndRefusesRequestsBeyondTheLimit) {
  Record record;
  record.r.resize = RecordingResize;
  g_requests.clear();
  EXPECT_EQ(status_json_end(&record.r, 2147483646u), nullptr);
  EXPECT_EQ(status_json_end(&record.r, UINT32_MAX), nullptr);
  EXPECT_TRUE(g_requests.empty());
  EXPECT_EQ(status_json_end(&record.r, 2147483645u), nullptr);
  EXPECT_EQ(g_requests, std::vector<std::uint32_t>{2147483647u});
}

TEST(StatusRecord, JsonEndRefusesTextsThatDoNotScan) {
  const char *const broken[] = {R"( {"a":1})", R"({"a":1,})", R"({"a":"\q"})", "{\"a\":\"\x01\"}"};
  for (const char *text : broken) {
    Record record;
    ASSERT_NE(status_json_end(&record.r, 0), nullptr);
    std::strcpy(record.r.json, text);
    EXPECT_EQ(status_json_end(&record.r, 0), nullptr) << text;
    EXPECT_EQ(status_grow(record.r.json + 1, &record.r), nullptr) << text;
  }
}

// Fills a fresh 512-byte record's text to exactly length characters with
// one member {"a":"aaa..."}.
void FillTo(Record &record, std::size_t length) {
  const std::string value(length - 8, 'a');  // {"a":""} is 8 characters
  {
    char *end = status_json_end(&record.r, 0);
    ASSERT_NE(json_add_string(record.r.json, end, "a", value.c_str()), nullptr);
  }
  ASSERT_EQ(record.text().size(), length);
}

TEST(StatusRecord, LargestTextOfABufferIsCapacityMinusTwo) {
  Record full;
  FillTo(full, 510);
  EXPECT_EQ(full.r.capacity, 512u);
  EXPECT_TRUE(full.layout_intact());

  // ,"b":1 is 6 bytes: 504 + 6 = 510 fits, 505 + 6 = 511 does not.
  Record fits;
  FillTo(fits, 504);
  {
    char *end = status_json_end(&fits.r, 0);
    ASSERT_NE(json_add_int(fits.r.json, end, "b", 1), nullptr);
  }
  EXPECT_EQ(fits.text().size(), 510u);
  EXPECT_EQ(fits.r.capacity, 512u);
  EXPECT_EQ(fits.r.json[510], '\0');
  EXPECT_EQ(fits.r.json[511], 'J');

  Record one_more;
  FillTo(one_more, 505);
  const std::vector<char> before = one_more.bytes();
  {
    char *end = status_json_end(&one_more.r, 0);
    EXPECT_EQ(json_add_int(one_more.r.json, end, "b", 1), nullptr);
  }
  EXPECT_EQ(one_more.bytes(), before);
}

TEST(StatusRecord, MemberThatDoesNotFitGrowsTheBufferTo1024) {
  Record record;
  FillTo(record, 505);
  const std::vector<char> before = record.bytes();
  char *end = status_json_end(&record.r, 0);
  // ,"b":"bb" is 9 bytes: 514 > 510.
  EXPECT_EQ(json_add_string(record.r.json, end, "b", "bb"), nullptr);
  EXPECT_EQ(record.bytes(), before);

  char *after = json_add_string(record.r.json, end, "b", "bb", status_grow_handler(&record.r));
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(record.r.capacity, 1024u);
  const std::string expected = std::string(before.data()).substr(0, 504) + R"(,"b":"bb"})";
  EXPECT_EQ(record.text(), expected);
  EXPECT_EQ(after, record.r.json + 513);
  EXPECT_TRUE(record.layout_intact());
}

TEST(StatusRecord, GrowthDoublesAndRebasesTheCursor) {
  Record record;
  {
    char *end = status_json_end(&record.r, 0);
    ASSERT_NE(json_add_int(record.r.json, end, "x", 1), nullptr);  // {"x":1}
  }
  char *cursor = record.r.json + 6;
  for (std::uint32_t expected : {1024u, 2048u, 4096u}) {
    cursor = status_grow(cursor, &record.r);
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(record.r.capacity, expected);
    EXPECT_EQ(cursor, record.r.json + 6);
    EXPECT_EQ(record.text(), R"({"x":1})");
    EXPECT_TRUE(record.layout_intact());
  }
}

TEST(StatusRecord, GrowthWithoutABufferOrAtTheLargestBufferFails) {
  Record record;
  char dummy[] = "{}";
  EXPECT_EQ(status_grow(dummy + 1, &record.r), nullptr);
  EXPECT_EQ(record.r.json, nullptr);

  // A record claiming the largest buffer: doubling would need 2^32 bytes, so
  // growth must fail before the hook is asked.
  char small[] = "{}\0J";
  StatusRecord largest{0, 0x80000000u, RecordingResize, small};
  g_requests.clear();
  EXPECT_EQ(status_grow(small + 1, &largest), nullptr);
  EXPECT_TRUE(g_requests.empty());
}

struct ResizeCase {
  std::uint32_t size;
  std::uint32_t capacity;
};

const ResizeCase kResizes[] = {
    {1, 512}, {4, 512}, {512, 512}, {513, 1024}, {1024, 1024}, {1025, 2048}, {5000, 8192},
};

TEST(StatusRecord, DefaultResizeRoundsUpTo512OrAPowerOfTwo) {
  for (const ResizeCase &c : kResizes) {
    Record record;
    ASSERT_TRUE(status_default_resize(&record.r, c.size));
    EXPECT_EQ(record.r.capacity, c.capacity) << c.size;
    EXPECT_EQ(record.text(), "{}");
    EXPECT_TRUE(record.layout_intact());
  }
}

TEST(StatusRecord, DefaultResizeKeepsTheTextAndNeverShrinks) {
  Record record;
  {
    char *end = status_json_end(&record.r, 0);
    ASSERT_NE(json_add_string(record.r.json, end, "k", "v"), nullptr);
  }
  char *const first = record.r.json;
  EXPECT_TRUE(status_default_resize(&record.r, 100));
  EXPECT_EQ(record.r.json, first);
  EXPECT_EQ(record.r.capacity, 512u);
  ASSERT_TRUE(status_default_resize(&record.r, 600));
  EXPECT_EQ(record.r.capacity, 1024u);
  EXPECT_EQ(record.text(), R"({"k":"v"})");
  EXPECT_TRUE(record.layout_intact());
}

TEST(StatusRecord, DefaultResizeRefusesTwoGigabytesAndLeavesTheRecord) {
  Record record;
  ASSERT_NE(status_json_end(&record.r, 0), nullptr);
  char *const json = record.r.json;
  EXPECT_FALSE(status_default_resize(&record.r, 0x80000000u));
  EXPECT_FALSE(status_default_resize(&record.r, UINT32_MAX));
  EXPECT_EQ(record.r.json, json);
  EXPECT_EQ(record.r.capacity, 512u);
}

TEST(StatusRecord, ReleasingTwiceOrWithoutABufferIsHarmless) {
  StatusRecord record = status_record_make();
  status_release(&record);
  EXPECT_EQ(record.json, nullptr);
  ASSERT_NE(status_json_end(&record, 0), nullptr);
  status_release(&record);
  EXPECT_EQ(record.json, nullptr);
  EXPECT_EQ(record.capacity, 0u);
  status_release(&record);
  EXPECT_TRUE(status_default_resize(&record, 0));
  EXPECT_EQ(record.json, nullptr);
}

}  // namespace

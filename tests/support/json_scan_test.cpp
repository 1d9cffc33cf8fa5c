#include "support/json_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Accepted {
  const char *text;
  std::size_t end;  // offset of the top-level closing bracket
};

// Golden texts that scan, with where their top-level value ends.
const Accepted kAccepted[] = {
    {"{}", 1},
    {"[]", 1},
    {"{ }", 2},
    {"{\t\n\r }", 5},
    {R"({"a":1})", 6},
    {R"({ "a" : [ 1 , 2 ] , "b" : { } })", 30},
    {R"({"error_constant":"x","file":"dynload","line":65,"qxdynlib_debug":{"debug":"d"}})", 79},
    {R"(["s",-1,2.5,1e5,3E-2,4e+1,true,false,null,{},[]])", 47},
    {R"([-])", 2},           // lenient numbers: a lone minus,
    {R"([1.])", 3},          // a bare decimal point,
    {R"([007])", 4},         // leading zeros,
    {R"([-.5])", 4},         // a minus before the point
    {R"(["\"\/\\\b\f\n\r\t"])", 19},
    {R"(["\u00aF\uABCD"])", 15},
    {"[\"\x7f\x80\xc3\xa9\xff\"]", 8},  // bytes from 0x7F up as they stand
    {"{}trailing, not examined", 1},
    {"[1]]", 2},
    {R"({"a":{"b":{"c":[[[]]]}}})", 23},
};

TEST(JsonScan, AcceptedTextsEndAtTheirTopLevelBracket) {
  for (const Accepted &c : kAccepted) {
    const char *end = json_find_end(c.text);
    ASSERT_NE(end, nullptr) << c.text;
    EXPECT_EQ(static_cast<std::size_t>(end - c.text), c.end) << c.text;
  }
}

// Texts the scanner must refuse, each beside the reason.
const char *const kRefused[] = {
    "",                      // empty
    " {}",                   // leading space
    "\n{}",                  // leading line feed
    "\"a\"",                 // not a container
    "1",                     // not a container
    "{",                     // unterminated
    "{\"a\":1",              // unterminated
    "{\"a\":1,}",            // trailing comma in an object
    "[1,]",                  // trailing comma in an array
    "{,}",                   // comma without a member
    "[,1]",                  // leading comma
    "{\"a\" 1}",             // missing colon
    "{\"a\":}",              // missing value
    "{a:1}",                 // unquoted name
    "{1:2}",                 // number as name
    "{\"a\":1 \"b\":2}",     // missing comma
    "[1 2]",                 // missing comma
    "{]",                    // mismatched brackets
    "[}",                    // mismatched brackets
    "{\"a\":[}",             // mismatched brackets
    "[\"\\x\"]",             // bad escape
    "[\"\\u12\"]",           // short \u escape
    "[\"\\u12G4\"]",         // non-hex digit
    "[\"\\",                 // escape at end of text
    "[\"a\x01\"]",           // control byte in a string
    "[\"a\tb\"]",            // raw tab in a string
    "[\"a\x1f\"]",           // last control byte
    "[\"abc",                // unterminated string
    "[+1]",                  // plus sign
    "[.5]",                  // leading point
    "[True]",                // capitalised word
    "[nul]",                 // truncated word
    "[fals]",                // truncated word
    "[nulll]",               // word followed by garbage
    "[1e]",                  // exponent without digits leaves 'e' behind
    "['a']",                 // single quotes
};

TEST(JsonScan, MalformedTextsAreRefused) {
  for (const char *text : kRefused) {
    EXPECT_EQ(json_find_end(text), nullptr) << '"' << text << '"';
  }
  EXPECT_EQ(json_find_end(static_cast<const char *>(nullptr)), nullptr);
}

std::string Nested(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

TEST(JsonScan, NestingUpToTheLimitIsAccepted) {
  const std::string text = Nested(kJsonMaxDepth);
  const char *end = json_find_end(text.c_str());
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(static_cast<std::size_t>(end - text.c_str()), text.size() - 1);
}

TEST(JsonScan, NestingBeyondTheLimitIsRefused) {
  EXPECT_EQ(json_find_end(Nested(kJsonMaxDepth + 1).c_str()), nullptr);
  std::string objects;
  for (std::size_t i = 0; i <= kJsonMaxDepth; ++i) objects += "{\"a\":";
  objects += "1";
  objects += std::string(kJsonMaxDepth + 1, '}');
  EXPECT_EQ(json_find_end(objects.c_str()), nullptr);
}

TEST(JsonScan, MillionOpeningBracketsAreRefusedWithoutExhaustingTheStack) {
  const std::string brackets(1000000, '[');
  EXPECT_EQ(json_find_end(brackets.c_str()), nullptr);
  const std::string balanced = Nested(1000000);
  EXPECT_EQ(json_find_end(balanced.c_str()), nullptr);
}

}  // namespace

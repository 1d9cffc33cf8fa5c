// Fuzzes the validating scanner against a straightforward recursive
// reference of the same grammar, and checks that the scanner never reads
// past the end of the value it reports.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/json_scan.h"

namespace {

using Byte = const unsigned char *;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

namespace reference {

bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHex(unsigned char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
Byte Space(Byte p) {
  while (IsSpace(*p)) ++p;
  return p;
}

Byte String(Byte p) {
  ++p;
  while (*p != '"') {
    if (*p < 0x20) return nullptr;
    if (*p == '\\') {
      ++p;
      if (*p == 'u') {
        for (int i = 0; i < 4; ++i) {
          if (!IsHex(*++p)) return nullptr;
        }
      } else if (std::strchr("\"/\\bfnrt", *p) == nullptr || *p == 0) {
        return nullptr;
      }
    }
    ++p;
  }
  return p + 1;
}

Byte Number(Byte p) {
  ++p;
  while (IsDigit(*p)) ++p;
  if (*p == '.') {
    ++p;
    while (IsDigit(*p)) ++p;
  }
  if ((*p == 'e' || *p == 'E') && (p[1] == '+' || p[1] == '-' || IsDigit(p[1]))) {
    p += 2;
    while (IsDigit(*p)) ++p;
  }
  return p;
}

Byte Word(Byte p, const char *word) {
  const std::size_t n = std::strlen(word);
  return std::strncmp(reinterpret_cast<const char *>(p), word, n) == 0 ? p + n : nullptr;
}

Byte Value(Byte p, std::size_t depth);

// p on the opening bracket of a container at nesting level depth.
Byte Container(Byte p, std::size_t depth) {
  if (depth > kJsonMaxDepth) return nullptr;
  const bool object = *p == '{';
  const unsigned char close = object ? '}' : ']';
  p = Space(p + 1);
  if (*p == close) return p + 1;
  for (;;) {
    if (object) {
      if (*p != '"' || (p = String(p)) == nullptr) return nullptr;
      p = Space(p);
      if (*p != ':') return nullptr;
      p = Space(p + 1);
    }
    if ((p = Value(p, depth)) == nullptr) return nullptr;
    p = Space(p);
    if (*p == close) return p + 1;
    if (*p != ',') return nullptr;
    p = Space(p + 1);
  }
}

Byte Value(Byte p, std::size_t depth) {
  switch (*p) {
    case '"': return String(p);
    case '{': case '[': return Container(p, depth + 1);
    case 't': return Word(p, "true");
    case 'f': return Word(p, "false");
    case 'n': return Word(p, "null");
    default: return (*p == '-' || IsDigit(*p)) ? Number(p) : nullptr;
  }
}

const char *FindEnd(const char *text) {
  Byte p = reinterpret_cast<Byte>(text);
  if (*p != '{' && *p != '[') return nullptr;
  Byte after = Container(p, 1);
  return after != nullptr ? reinterpret_cast<const char *>(after - 1) : nullptr;
}

}  // namespace reference

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const char *end = json_find_end(text.data());
  Check(end == reference::FindEnd(text.data()));
  if (end == nullptr) return 0;

  const std::size_t offset = static_cast<std::size_t>(end - text.data());
  Check(offset < std::strlen(text.data()));
  Check(*end == (text[0] == '{' ? '}' : ']'));
  // Only the value itself was read: cut right after its closing bracket, in
  // an exact-size buffer, the text scans the same.
  std::vector<char> prefix(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset) + 1);
  prefix.push_back('\0');
  Check(json_find_end(prefix.data()) == prefix.data() + offset);
  return 0;
}

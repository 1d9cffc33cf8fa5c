#include "support/json_scan.h"

namespace {

// Hexadecimal digits after "\u".
constexpr int kUnicodeEscapeDigits = 4;
constexpr unsigned char kFirstPrintable = 0x20;

bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_hex(unsigned char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

using Byte = const unsigned char *;

Byte skip_space(Byte p) {
  while (is_space(*p)) ++p;
  return p;
}

// p is on the opening quote; gives the position after the closing quote.
Byte scan_string(Byte p) {
  for (++p;; ++p) {
    const unsigned char c = *p;
    if (c == '"') return p + 1;
    if (c < kFirstPrintable) return nullptr;  // also the end of the text
    if (c != '\\') continue;
    ++p;
    switch (*p) {
      case '"': case '/': case '\\': case 'b': case 'f': case 'n': case 'r': case 't':
        break;
      case 'u':
        for (int i = 0; i < kUnicodeEscapeDigits; ++i) {
          if (!is_hex(*++p)) return nullptr;
        }
        break;
      default:
        return nullptr;
    }
  }
}

Byte skip_digits(Byte p) {
  while (is_digit(*p)) ++p;
  return p;
}

// p is on '-' or a digit. Deliberately lenient ("-", "1.", "007" pass): the
// scanner's job is to find the end of a record text, not to police numbers.
Byte scan_number(Byte p) {
  p = skip_digits(p + 1);
  if (*p == '.') p = skip_digits(p + 1);
  if ((*p == 'e' || *p == 'E') && (p[1] == '+' || p[1] == '-' || is_digit(p[1]))) {
    p = skip_digits(p + 2);
  }
  return p;
}

// Gives the position after word when p starts with it, else null. Stops at
// the first mismatch, so it never reads past the terminating NUL.
Byte scan_word(Byte p, const char *word) {
  for (; *word != '\0'; ++p, ++word) {
    if (*p != static_cast<unsigned char>(*word)) return nullptr;
  }
  return p;
}

// What the scanner expects next inside the innermost container.
enum class Expect {
  kFirstMemberOrClose,  // just after '{'
  kFirstValueOrClose,   // just after '['
  kMember,              // after ',' in an object
  kValue,               // after ':' or after ',' in an array
  kCommaOrClose,        // after a complete member or element
};

}  // namespace

const char *json_find_end(const char *text) noexcept {
  if (text == nullptr) return nullptr;
  // Closing bracket awaited at each open level; an explicit stack keeps the
  // scanner's own stack use fixed however deep the input nests.
  char closers[kJsonMaxDepth];
  std::size_t depth = 0;
  Byte p = reinterpret_cast<Byte>(text);
  Expect expect = Expect::kValue;
  if (*p != '{' && *p != '[') return nullptr;

  for (;;) {
    if (expect != Expect::kValue || depth != 0) p = skip_space(p);
    switch (expect) {
      case Expect::kFirstMemberOrClose:
        if (*p == '}') break;  // close below
        [[fallthrough]];
      case Expect::kMember:
        if (*p != '"') return nullptr;
        p = scan_string(p);
        if (p == nullptr) return nullptr;
        p = skip_space(p);
        if (*p != ':') return nullptr;
        ++p;
        expect = Expect::kValue;
        continue;
      case Expect::kFirstValueOrClose:
        if (*p == ']') break;  // close below
        [[fallthrough]];
      case Expect::kValue: {
        const unsigned char c = *p;
        if (c == '{' || c == '[') {
          if (depth == kJsonMaxDepth) return nullptr;
          closers[depth++] = c == '{' ? '}' : ']';
          ++p;
          expect = c == '{' ? Expect::kFirstMemberOrClose : Expect::kFirstValueOrClose;
          continue;
        }
        if (c == '"') {
          p = scan_string(p);
        } else if (c == '-' || is_digit(c)) {
          p = scan_number(p);
        } else if (c == 't') {
          p = scan_word(p, "true");
        } else if (c == 'f') {
          p = scan_word(p, "false");
        } else if (c == 'n') {
          p = scan_word(p, "null");
        } else {
          return nullptr;
        }
        if (p == nullptr) return nullptr;
        expect = Expect::kCommaOrClose;
        continue;
      }
      case Expect::kCommaOrClose:
        if (*p == ',') {
          ++p;
          expect = closers[depth - 1] == '}' ? Expect::kMember : Expect::kValue;
          continue;
        }
        if (*p != static_cast<unsigned char>(closers[depth - 1])) return nullptr;
        break;  // close below
    }
    // p is on the closing bracket of the innermost container.
    if (*p != static_cast<unsigned char>(closers[depth - 1])) return nullptr;
    if (--depth == 0) return reinterpret_cast<const char *>(p);
    ++p;
    expect = Expect::kCommaOrClose;
  }
}

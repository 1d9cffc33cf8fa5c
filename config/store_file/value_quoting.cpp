#include "config/store_file/value_quoting.h"

#include <string.h>

namespace velmora {
namespace store {

bool ScanQuoted(const char *open, const char *end, QuotedText *quoted, const char **problem) {
  uint32_t decoded = 0;
  bool escaped = false;
  for (const char *p = open + 1; p < end; ++p) {
    if (*p == '"') {
      *quoted = {p, decoded, escaped};
      return true;
    }
    if (*p == '\\') {
      if (p + 1 == end || (p[1] != '"' && p[1] != '\\')) {
        *problem = "a backslash in quotes must be followed by \" or \\";
        return false;
      }
      escaped = true;
      ++p;
    }
    ++decoded;
  }
  *problem = "the closing quote is missing";
  return false;
}

void DecodeQuoted(const char *open, const QuotedText &quoted, char *out) {
  for (const char *p = open + 1; p < quoted.closing; ++p) {
    if (*p == '\\') ++p;  // the scan has checked what follows
    *out++ = *p;
  }
}

bool NeedsQuotes(const char *text, size_t length, QuoteRule rule) {
  if (length == 0) return false;
  const char last = text[length - 1];
  // A trailing carriage return would merge with the line feed that follows.
  if (text[0] == '"' || IsBlank(text[0]) || IsBlank(last) || last == '\r') return true;
  return rule == QuoteRule::kName && memchr(text, ']', length) != nullptr;
}

size_t EncodedLength(const char *text, size_t length, QuoteRule rule) {
  if (!NeedsQuotes(text, length, rule)) return length;
  size_t encoded = length + 2;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '"' || text[i] == '\\') ++encoded;
  }
  return encoded;
}

bool WriteEncoded(TextView text, QuoteRule rule, PieceWriter write, void *context) {
  if (!NeedsQuotes(text.data, text.length, rule)) {
    return text.length == 0 || write(context, text.data, text.length);
  }
  if (!write(context, "\"", 1)) return false;
  const char *p = text.data;
  const char *end = text.data + text.length;
  while (p < end) {
    const char *special = p;
    while (special < end && *special != '"' && *special != '\\') ++special;
    if (special > p && !write(context, p, static_cast<size_t>(special - p))) return false;
    if (special == end) break;
    if (!write(context, "\\", 1) || !write(context, special, 1)) return false;
    p = special + 1;
  }
  return write(context, "\"", 1);
}

}  // namespace store
}  // namespace velmora

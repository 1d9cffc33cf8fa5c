// Validating scanner for the JSON texts of status records.
#ifndef VELMORA_SUPPORT_JSON_SCAN_H
#define VELMORA_SUPPORT_JSON_SCAN_H

#include <cstddef>

// Deepest nesting of objects and arrays the scanner accepts; the top-level
// container counts as level 1. Record texts nest two levels, so this only
// bounds hostile or corrupt input. The scanner does not recurse.
inline constexpr std::size_t kJsonMaxDepth = 256;

// Scans the object or array that text starts with and gives the position of
// its closing bracket, or null when text is null, does not start with '{' or
// '[' (no leading whitespace), is not valid JSON up to that bracket, or nests
// deeper than kJsonMaxDepth. What follows the closing bracket is not examined.
//
// Accepted grammar: whitespace is space, tab, LF, CR; strings refuse bytes
// below 0x20 and take the escapes \" \/ \\ \b \f \n \r \t \uXXXX (hex of
// either case), bytes from 0x7F up as they stand; numbers are '-' or a digit,
// digits, optional '.' digits, optional e/E followed by '+', '-' or a digit,
// digits (so "-", "1." and "007" pass); words true, false, null in lower case;
// a ',' directly before a closing bracket is refused.
const char *json_find_end(const char *text) noexcept;
inline char *json_find_end(char *text) noexcept {
  return const_cast<char *>(json_find_end(static_cast<const char *>(text)));
}

#endif  // VELMORA_SUPPORT_JSON_SCAN_H

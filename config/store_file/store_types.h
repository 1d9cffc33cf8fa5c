// Small value types shared by the parts of the file store.
#ifndef VELMORA_CONFIG_STORE_FILE_STORE_TYPES_H
#define VELMORA_CONFIG_STORE_FILE_STORE_TYPES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace velmora {
namespace store {

// Where a string of the store lives: the file's bytes as loaded, or (top bit
// of offset set) the store's pool of strings made since: decoded quoted text,
// set values, added names. Offsets rather than pointers, so that the pool may
// move when it grows.
struct Str {
  uint32_t offset;
  uint32_t length;
};
constexpr uint32_t kPoolBit = 0x80000000u;

// A string to read, valid until the store changes.
struct TextView {
  const char *data;
  uint32_t length;
};

// A channel entry of a session: `name`, or `name[low..high, ...]`.
struct Range {
  int32_t low;
  int32_t high;
};
struct ChannelEntry {
  Str name;
  uint32_t firstRange;  // into the store's ranges
  uint32_t rangeCount;
};

// Item numbers are stable for the life of a store; removed items keep theirs.
constexpr uint32_t kNoItem = UINT32_MAX;

// Takes `length` bytes of output; answers false when they could not be written.
using PieceWriter = bool (*)(void *context, const char *data, size_t length);

// Blanks are what the file format trims around keys, values and names.
inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// One line of a store file: its text ends at `contentEnd`, the next line
// starts at `next`. A line feed ends a line, and a carriage return just
// before it belongs to the line end; so does a carriage return that is the
// file's last byte (a CRLF cut short). Any other carriage return is text.
// Every reader of lines (the parser, the edits, the writer) asks this.
struct LineSpan {
  const char *contentEnd;
  const char *next;
};

inline LineSpan LineAt(const char *p, const char *end) {
  const char *lineFeed = static_cast<const char *>(memchr(p, '\n', end - p));
  LineSpan line = {lineFeed != nullptr ? lineFeed : end, lineFeed != nullptr ? lineFeed + 1 : end};
  if (line.contentEnd > p && line.contentEnd[-1] == '\r') --line.contentEnd;
  return line;
}

// The end of `p`..`end` with trailing blanks trimmed.
inline const char *TrimEnd(const char *p, const char *end) {
  while (end > p && IsBlank(end[-1])) --end;
  return end;
}

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_STORE_TYPES_H

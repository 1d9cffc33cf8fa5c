#include "support/json_writer.h"

#include <charconv>
#include <cstring>

namespace {

// Bytes around an escaped member name: two quotes and the colon.
constexpr std::size_t kNameOverhead = 3;
// Bytes around an escaped string value: two quotes.
constexpr std::size_t kStringOverhead = 2;
// Local buffer for a decimal integer; far more than any int32 needs.
constexpr std::size_t kIntTextSize = 64;
// Bytes of "{}".
constexpr std::size_t kEmptyObjectLength = 2;
// Bytes of a "\u00xx" escape.
constexpr std::size_t kUnicodeEscapeLength = 6;
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

// Per byte: how many bytes its escaped form takes, and for two-byte escapes
// the letter after the backslash. A table keeps the per-byte work of the
// writer's two passes (measure, then write) to one lookup.
constexpr int kByteValues = 256;
struct EscapeTable {
  unsigned char length[kByteValues];
  char letter[kByteValues];
};

constexpr EscapeTable make_escape_table() {
  EscapeTable table{};
  for (int byte = 0; byte < kByteValues; ++byte) {
    const bool unicode = byte < kFirstPrintable || byte == kDelete;
    table.length[byte] = static_cast<unsigned char>(unicode ? kUnicodeEscapeLength : 1);
  }
  const char two_byte[][2] = {{'\b', 'b'}, {'\t', 't'}, {'\n', 'n'}, {'\f', 'f'},
                              {'\r', 'r'}, {'"', '"'},   {'\\', '\\'}};
  for (const auto &escape : two_byte) {
    const auto byte = static_cast<unsigned char>(escape[0]);
    table.length[byte] = 2;
    table.letter[byte] = escape[1];
  }
  return table;
}

constexpr EscapeTable kEscapes = make_escape_table();

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// What json_make_room decided.
enum class RoomResult {
  kMade,     // the gap is open
  kRefused,  // nothing can go before this cursor: growing would not help
  kNoRoom,   // the buffer is too small
};

struct Room {
  RoomResult result;
  char *gap;          // kMade: where the caller writes
  std::size_t found;  // kNoRoom: zero bytes found, counted up to the need
};

// Decides whether content inserted before the cursor needs a comma in front.
// False when nothing can go there: before an opening bracket (a value
// position, or the start of the text), or before a closing bracket with
// nothing but whitespace back to the start of the text (no container is
// open there). The walk back stops at the start of the text.
bool decide_comma(const char *text, const char *cursor, bool *comma) {
  switch (*cursor) {
    case '}':
    case ']': {
      const char opening = *cursor == '}' ? '{' : '[';
      const char *p = cursor;
      while (p > text && is_json_space(p[-1])) --p;
      if (p == text) return false;
      // Only whitespace back to the matching opening bracket: the container
      // is empty and the new content is its first.
      *comma = p[-1] != opening;
      return true;
    }
    case '\0':
      *comma = false;
      return true;
    case '{':
    case '[':
      return false;
    default:
      *comma = true;
      return true;
  }
}

Room make_room(char *text, char *cursor, std::size_t n) {
  if (text == nullptr || cursor == nullptr) return Room{RoomResult::kRefused, nullptr, 0};
  // The cursor must lie in the text, on a character or on the NUL; pointers
  // are compared as addresses since the two may come from unrelated places.
  const std::size_t length = std::strlen(text);
  const auto start = reinterpret_cast<std::uintptr_t>(text);
  const auto at = reinterpret_cast<std::uintptr_t>(cursor);
  if (at < start || at - start > length) return Room{RoomResult::kRefused, nullptr, 0};
  bool comma = false;
  if (!decide_comma(text, cursor, &comma)) return Room{RoomResult::kRefused, nullptr, 0};
  const std::size_t m = n + (comma ? 1 : 0);
  if (m < n) return Room{RoomResult::kRefused, nullptr, 0};
  char *const end = text + length;
  const std::size_t tail = static_cast<std::size_t>(end - cursor);
  // Room is the run of zero bytes between the NUL and the end marker; look at
  // no more of it than the gap needs, and never past the marker.
  for (std::size_t i = 1; i <= m; ++i) {
    if (end[i] != '\0') return Room{RoomResult::kNoRoom, nullptr, i - 1};
  }
  std::memmove(cursor + m, cursor, tail);
  end[m] = '\0';
  if (comma) {
    *cursor = ',';
    return Room{RoomResult::kMade, cursor + 1, 0};
  }
  return Room{RoomResult::kMade, cursor, 0};
}

// A text to be written escaped, measured once. Most texts need no escape at
// all, and those are then copied in one piece.
struct Measured {
  const char *raw;
  std::size_t raw_length;
  std::size_t escaped_length;
};

Measured measure(const char *text) {
  std::size_t escaped = 0;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  for (; *p != 0; ++p) escaped += kEscapes.length[*p];
  return Measured{text, static_cast<std::size_t>(p - reinterpret_cast<const unsigned char *>(text)),
                  escaped};
}

char *write_measured(char *out, const Measured &text) {
  if (text.escaped_length != text.raw_length) return json_write_escaped(out, text.raw);
  std::memcpy(out, text.raw, text.raw_length);
  return out + text.raw_length;
}

// What an insertion writes after its member name.
struct Value {
  enum class Kind { kString, kInt, kEmptyObject };
  Kind kind;
  Measured text;       // kString: the raw value; kInt: the digits
  std::size_t length;  // bytes written for the value
};

char *write_value(char *out, const Value &value) {
  switch (value.kind) {
    case Value::Kind::kString:
      *out++ = '"';
      out = write_measured(out, value.text);
      *out++ = '"';
      return out;
    case Value::Kind::kInt:
      std::memcpy(out, value.text.raw, value.length);
      return out + value.length;
    case Value::Kind::kEmptyObject:
      *out++ = '{';
      *out++ = '}';
      return out;
  }
  return out;
}

// Inserts one member (or element) whole or not at all: the size is computed
// once, room is made once the buffer is big enough, and the tail moves once.
// The growing form grows for as long as each growth adds room: a cursor that
// no growth could help is refused at once, and a grow function that reports
// success without adding room ends the attempt instead of looping.
char *insert(char *text, char *cursor, const char *name, const Value &value,
             const GrowHandler *grow) {
  if (text == nullptr || cursor == nullptr) return nullptr;
  const Measured name_text = name != nullptr ? measure(name) : Measured{nullptr, 0, 0};
  const std::size_t name_length = name != nullptr ? name_text.escaped_length + kNameOverhead : 0;
  const std::size_t n = name_length + value.length;
  bool grown = false;
  std::size_t room_before = 0;
  for (;;) {
    const Room room = make_room(text, cursor, n);
    if (room.result == RoomResult::kRefused) return nullptr;
    if (room.result == RoomResult::kMade) {
      char *out = room.gap;
      if (name != nullptr) {
        *out++ = '"';
        out = write_measured(out, name_text);
        *out++ = '"';
        *out++ = ':';
      }
      out = write_value(out, value);
      // An opened object hands its own closing brace to the next insertion.
      return value.kind == Value::Kind::kEmptyObject ? out - 1 : out;
    }
    if (grown && room.found <= room_before) return nullptr;
    if (grow == nullptr || grow->grow == nullptr) return nullptr;
    // The grow function keeps the cursor's offset, so the text moves with it.
    const std::ptrdiff_t offset = cursor - text;
    cursor = grow->grow(cursor, grow->context);
    if (cursor == nullptr) return nullptr;
    text = cursor - offset;
    grown = true;
    room_before = room.found;
  }
}

char *add_string(char *text, char *cursor, const char *name, const char *value,
                 const GrowHandler *grow) {
  if (value == nullptr) return nullptr;
  const Measured measured = measure(value);
  return insert(text, cursor, name,
                Value{Value::Kind::kString, measured, measured.escaped_length + kStringOverhead},
                grow);
}

char *add_int(char *text, char *cursor, const char *name, std::int32_t value,
              const GrowHandler *grow) {
  char digits[kIntTextSize];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const auto length = static_cast<std::size_t>(result.ptr - digits);
  return insert(text, cursor, name, Value{Value::Kind::kInt, {digits, length, length}, length},
                grow);
}

char *open_object(char *text, char *cursor, const char *name, const GrowHandler *grow) {
  return insert(text, cursor, name,
                Value{Value::Kind::kEmptyObject, {nullptr, 0, 0}, kEmptyObjectLength}, grow);
}

}  // namespace

std::size_t json_escaped_length(const char *text) noexcept {
  return text != nullptr ? measure(text).escaped_length : 0;
}

char *json_write_escaped(char *destination, const char *text) noexcept {
  if (text == nullptr) return destination;
  char *out = destination;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p) {
    switch (kEscapes.length[*p]) {
      case 1:
        *out++ = static_cast<char>(*p);
        break;
      case 2:
        *out++ = '\\';
        *out++ = kEscapes.letter[*p];
        break;
      default:
        *out++ = '\\';
        *out++ = 'u';
        *out++ = '0';
        *out++ = '0';
        *out++ = kHexDigits[*p >> 4];
        *out++ = kHexDigits[*p & 0x0F];
        break;
    }
  }
  return out;
}

char *json_make_room(char *text, char *cursor, std::size_t n) noexcept {
  return make_room(text, cursor, n).gap;
}

char *json_add_string(char *text, char *cursor, const char *name, const char *value) noexcept {
  return add_string(text, cursor, name, value, nullptr);
}

char *json_add_string(char *text, char *cursor, const char *name, const char *value,
                      GrowHandler grow) noexcept {
  return add_string(text, cursor, name, value, &grow);
}

char *json_add_int(char *text, char *cursor, const char *name, std::int32_t value) noexcept {
  return add_int(text, cursor, name, value, nullptr);
}

char *json_add_int(char *text, char *cursor, const char *name, std::int32_t value,
                   GrowHandler grow) noexcept {
  return add_int(text, cursor, name, value, &grow);
}

char *json_open_object(char *text, char *cursor, const char *name) noexcept {
  return open_object(text, cursor, name, nullptr);
}

char *json_open_object(char *text, char *cursor, const char *name, GrowHandler grow) noexcept {
  return open_object(text, cursor, name, &grow);
}

char *json_close_object(char *cursor) noexcept {
  if (cursor == nullptr || (*cursor != '}' && *cursor != ']')) return nullptr;
  return cursor + 1;
}

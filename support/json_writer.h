// In-place JSON writer over a caller-owned text buffer.
//
// Buffer layout (every buffer the writer edits has it):
//   bytes 0 .. L-1        the JSON text, L characters
//   byte  L               the terminating NUL
//   bytes L+1 .. C-2      zero
//   byte  C-1             kJsonEndMarker
// The writer is handed the start of the text and a cursor, never the
// capacity C: it finds the room left (C - 2 - L bytes) by counting the zero
// bytes between the NUL and the end marker, so the layout is what keeps it
// inside the buffer at the end, and the text's start at the beginning.
//
// Cursor: a position on a character of the text or on its terminating NUL.
// New content is inserted before the character under the cursor. Every
// insertion takes the text's start and a cursor and gives back a cursor, or
// null when it failed; a null text or cursor, or a cursor outside the text,
// makes it do nothing and give back null. A failed insertion leaves the text
// exactly as it was, so the text stays one valid JSON value whatever fails
// half way through a sequence.
//
// Insertions keep the text valid when the cursor sits on the closing bracket
// of a container (where status_json_end and json_open_object leave it).
// A cursor on an opening bracket is refused: no insertion before '{' or '['
// can keep the text valid. So is a closing bracket with nothing but
// whitespace before it back to the start of the text: no container is open
// there.
//
// All functions are thread-compatible (no shared state) and never throw.
#ifndef VELMORA_SUPPORT_JSON_WRITER_H
#define VELMORA_SUPPORT_JSON_WRITER_H

#include <cstddef>
#include <cstdint>

// Last byte of every text buffer.
inline constexpr char kJsonEndMarker = 'J';
// Bytes a buffer needs beyond its text: the terminating NUL and the marker.
inline constexpr std::uint32_t kJsonLayoutOverhead = 2;

// Grow function of a GrowHandler: enlarges the buffer that holds the cursor's
// text and gives back a cursor at the same offset in the (possibly moved)
// text, or null when it cannot.
using GrowFunction = char *(*)(char *cursor, void *context);

// Growth policy of the growing writer forms. A null grow function never grows.
struct GrowHandler {
  GrowFunction grow;
  void *context;
};

// Number of bytes json_write_escaped writes for text (0 for null).
std::size_t json_escaped_length(const char *text) noexcept;

// Writes text JSON-escaped to destination, without quotes and without a
// terminating NUL; gives back the position after the last byte written.
// Escapes: \b \t \n \f \r \" \\, "\u00xx" (lower-case hex) for the other
// bytes below 0x20 and for 0x7F; every other byte, '/' and bytes from 0x80
// included, is copied unchanged. A null text writes nothing.
char *json_write_escaped(char *destination, const char *text) noexcept;

// Opens a gap of n bytes before the cursor in the text starting at text,
// preceded by a comma when JSON needs one, and gives back where the caller
// must write exactly n bytes. Comma rule by the character under the cursor:
// a closing bracket gets a comma unless its container is empty (only
// whitespace back to the matching opening bracket); the terminating NUL gets
// none; any other character gets one. Refused (null) on an opening bracket,
// on a closing bracket with only whitespace back to the start of the text,
// and for a cursor outside the text. Nothing before text is ever read. Gives
// null and changes nothing when the buffer lacks the room.
char *json_make_room(char *text, char *cursor, std::size_t n) noexcept;

// Insertions into the text starting at text. name is a member name or null
// for an array element (then no name is written). The plain form gives null
// when the buffer has no room; the growing form then calls
// grow.grow(cursor, grow.context) and retries at the cursor it gives back (the
// text having moved with it), for as long as each growth adds room: it gives
// null when the grow function does, when a growth added no room, and at once
// for a refused cursor. On success each gives back the position after the
// inserted bytes, i.e. the character that was under the cursor before.

// String member; a null value is refused (null, nothing written).
char *json_add_string(char *text, char *cursor, const char *name, const char *value) noexcept;
char *json_add_string(char *text, char *cursor, const char *name, const char *value,
                      GrowHandler grow) noexcept;

// Integer member written in decimal.
char *json_add_int(char *text, char *cursor, const char *name, std::int32_t value) noexcept;
char *json_add_int(char *text, char *cursor, const char *name, std::int32_t value,
                   GrowHandler grow) noexcept;

// Empty-object member; gives back a cursor on the new object's closing brace
// so that the next insertions land inside it.
char *json_open_object(char *text, char *cursor, const char *name) noexcept;
char *json_open_object(char *text, char *cursor, const char *name, GrowHandler grow) noexcept;

// Steps past the closing bracket under the cursor. Gives null when the cursor
// is not on '}' or ']', so that a cursor can never leave the text.
char *json_close_object(char *cursor) noexcept;

#endif  // VELMORA_SUPPORT_JSON_WRITER_H

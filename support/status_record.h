// Caller-owned status record: a status code plus a JSON text that describes
// the failure in force.
//
// Ownership: the caller owns the record (typically on its stack) and its text
// buffer. Only the record's resize hook allocates, grows or frees the buffer;
// the operations below call it, and the owner calls status_release (the hook
// with size 0) once it no longer needs the text.
//
// The text follows the buffer layout of json_writer.h and is always one JSON
// object; a new or reset text is "{}". Codes move only by precedence: the
// first warning (positive) stays until an error (negative) replaces it, and
// the first error stays for good. Every time a code is taken the text starts
// again from "{}", so it always describes the code in force.
//
// A record belongs to one thread at a time. Nothing here throws; a null
// record makes every operation answer false or null.
#ifndef VELMORA_SUPPORT_STATUS_RECORD_H
#define VELMORA_SUPPORT_STATUS_RECORD_H

#include <cstdint>

#include "support/json_scan.h"
#include "support/json_writer.h"

struct StatusRecord;

// Grows or releases record->json. Size 0 releases the buffer (and must be
// harmless without one); any other size asks for a buffer of at least that
// many bytes that still holds the current text ("{}" when there was none),
// laid out as json_writer.h describes. Answers whether it succeeded; on
// failure the record must be left unchanged.
using StatusResizeHook = bool (*)(StatusRecord *record, std::uint32_t size);

struct StatusRecord {
  std::int32_t code;        // 0 success, positive warning, negative error
  std::uint32_t capacity;   // bytes in json, 0 while there is no buffer
  StatusResizeHook resize;  // the only code that allocates or frees json
  char *json;               // text buffer or null
};

// The constant place of a failure; written as the members "error_constant",
// "file", "line" and (when component is not null) "component".
struct ErrorContext {
  const char *file;
  std::int32_t line;
  const char *component;  // may be null
  const char *error_constant;
};

// Capacity of the first buffer status_default_resize allocates.
inline constexpr std::uint32_t kStatusInitialCapacity = 512;
// status_default_resize refuses buffers of this size or more (2^31).
inline constexpr std::uint32_t kStatusCapacityLimit = 0x80000000u;
// Largest request status_json_end accepts (2^31 - 3).
inline constexpr std::uint32_t kStatusMaxRequest = 2147483645u;
// Smallest buffer that holds "{}", its NUL and the end marker.
inline constexpr std::uint32_t kStatusMinCapacity = 4;

// Default resize hook of every record in this system: size 0 frees; a size
// not above the capacity changes nothing; sizes of 2^31 or more are refused;
// otherwise the buffer becomes 512 bytes or the smallest power of two not
// below size, holding the old text (or "{}"). Answers false and leaves the
// record unchanged when allocation fails.
bool status_default_resize(StatusRecord *record, std::uint32_t size) noexcept;

// A record ready for use: code 0, no buffer, the default resize hook.
inline StatusRecord status_record_make() noexcept {
  return StatusRecord{0, 0, status_default_resize, nullptr};
}

// Releases the text through the record's hook (size 0). Harmless when there
// is no text or when called twice.
void status_release(StatusRecord *record) noexcept;

// Takes code by precedence: 0 over 0 no; anything non-zero over 0 yes; a
// negative over a positive yes; otherwise no. When taken, stores it and
// resets an existing text to "{}". Answers whether it was taken.
bool status_set_code(StatusRecord *record, std::int32_t code) noexcept;

// Takes code as status_set_code does and, if taken, rewrites the text as "{}"
// plus the context members (each inserted with the record's own growth).
// Answers whether the code was taken: true also when the buffer could not be
// had or grown and some or all members are missing. A null context writes
// no members.
bool status_set_error(StatusRecord *record, std::int32_t code,
                      const ErrorContext *context) noexcept;

// Makes sure the buffer holds at least request + 2 bytes and gives back a
// cursor on the closing brace of the text's top-level object. Null when
// request exceeds kStatusMaxRequest, the hook fails, or the text does not scan.
char *status_json_end(StatusRecord *record, std::uint32_t request) noexcept;

// Grow function for a GrowHandler whose context is a StatusRecord: asks
// status_json_end for 2 * capacity - 4 (unsigned 32-bit arithmetic, so a
// record without a buffer gets null) and gives back the cursor rebased to the
// new buffer, or null.
char *status_grow(char *cursor, void *record) noexcept;

// The handler that grows a record's own text.
inline GrowHandler status_grow_handler(StatusRecord *record) noexcept {
  return GrowHandler{status_grow, record};
}

#endif  // VELMORA_SUPPORT_STATUS_RECORD_H

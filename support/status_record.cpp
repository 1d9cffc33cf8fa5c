#include "support/status_record.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kEmptyObject[] = "{}";
constexpr std::uint32_t kEmptyObjectLength = sizeof kEmptyObject - 1;

// Writes "{}", the zero fill and the end marker over the whole buffer.
void reset_text(StatusRecord *record) {
  char *json = record->json;
  const std::uint32_t capacity = record->capacity;
  if (json == nullptr || capacity < kStatusMinCapacity) return;
  std::memcpy(json, kEmptyObject, kEmptyObjectLength);
  std::memset(json + kEmptyObjectLength, 0, capacity - kEmptyObjectLength - 1);
  json[capacity - 1] = kJsonEndMarker;
}

bool call_resize(StatusRecord *record, std::uint32_t size) {
  return record->resize != nullptr && record->resize(record, size);
}

// 512 for small sizes, else the smallest power of two not below size.
// size is below 2^31 here, so the result fits in 32 bits.
std::uint32_t default_capacity_for(std::uint32_t size) {
  std::uint32_t capacity = kStatusInitialCapacity;
  while (capacity < size) capacity <<= 1;
  return capacity;
}

}  // namespace

bool status_default_resize(StatusRecord *record, std::uint32_t size) noexcept {
  if (record == nullptr) return false;
  if (size == 0) {
    std::free(record->json);
    record->json = nullptr;
    record->capacity = 0;
    return true;
  }
  if (size <= record->capacity) return true;
  if (size >= kStatusCapacityLimit) return false;

  const std::uint32_t capacity = default_capacity_for(size);
  char *json = static_cast<char *>(std::malloc(capacity));
  if (json == nullptr) return false;
  const char *old_text = record->json != nullptr ? record->json : kEmptyObject;
  const std::size_t length = std::strlen(old_text);
  std::memcpy(json, old_text, length);
  std::memset(json + length, 0, capacity - length - 1);
  json[capacity - 1] = kJsonEndMarker;
  std::free(record->json);
  record->json = json;
  record->capacity = capacity;
  return true;
}

void status_release(StatusRecord *record) noexcept {
  if (record != nullptr) call_resize(record, 0);
}

bool status_set_code(StatusRecord *record, std::int32_t code) noexcept {
  if (record == nullptr) return false;
  const std::int32_t current = record->code;
  // The first warning holds until an error comes; the first error holds.
  const bool taken = current == 0 ? code != 0 : (current > 0 && code < 0);
  if (!taken) return false;
  record->code = code;
  reset_text(record);
  return true;
}

bool status_set_error(StatusRecord *record, std::int32_t code,
                      const ErrorContext *context) noexcept {
  if (!status_set_code(record, code)) return false;
  if (record->capacity < kStatusMinCapacity) {
    if (!call_resize(record, kStatusMinCapacity) || record->json == nullptr) return true;
    reset_text(record);
  }
  if (context == nullptr) return true;

  // Each insertion may move the text, so its start is read afresh each time.
  const GrowHandler grow = status_grow_handler(record);
  char *cursor = record->json + kEmptyObjectLength - 1;
  cursor = json_add_string(record->json, cursor, "error_constant", context->error_constant, grow);
  cursor = json_add_string(record->json, cursor, "file", context->file, grow);
  cursor = json_add_int(record->json, cursor, "line", context->line, grow);
  if (context->component != nullptr) {
    json_add_string(record->json, cursor, "component", context->component, grow);
  }
  return true;
}

char *status_json_end(StatusRecord *record, std::uint32_t request) noexcept {
  if (record == nullptr || request > kStatusMaxRequest) return nullptr;
  const std::uint32_t needed = request + kJsonLayoutOverhead;
  if (needed > record->capacity && !call_resize(record, needed)) return nullptr;
  return json_find_end(record->json);
}

char *status_grow(char *cursor, void *context) noexcept {
  auto *record = static_cast<StatusRecord *>(context);
  if (cursor == nullptr || record == nullptr || record->json == nullptr) return nullptr;
  const auto offset = cursor - record->json;
  // Twice the current room for text (capacity - 2), which doubles the
  // buffer. Unsigned wrap-around is intended: without a buffer, or at the
  // largest one, the request exceeds the limit and growth fails.
  const std::uint32_t request = 2u * (record->capacity - kJsonLayoutOverhead);
  if (status_json_end(record, request) == nullptr) return nullptr;
  return record->json + offset;
}

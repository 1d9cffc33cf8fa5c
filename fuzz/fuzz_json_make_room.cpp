// Fuzzes the writer's insertions on arbitrary texts, valid JSON or not, at
// any cursor: whatever the text, nothing outside the buffer is read or
// written (the buffer is a heap block of exactly its size, so AddressSanitizer
// sees any step past either end), a refused or failed insertion leaves every
// byte as it was, and a successful one keeps the text before the cursor and
// the buffer's layout.
//
// Input: one byte choosing the cursor, one byte of extra room, one byte
// choosing the insertion, then the text (up to its first NUL).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/json_writer.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool LayoutIntact(const char *buffer, std::size_t capacity) {
  if (buffer[capacity - 1] != kJsonEndMarker) return false;
  const std::size_t length = strnlen(buffer, capacity - 1);
  if (length > capacity - 2) return false;
  for (std::size_t i = length; i < capacity - 1; ++i) {
    if (buffer[i] != '\0') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t cursorChoice = data[0];
  const std::size_t room = data[1] % 64;
  const std::uint8_t operation = data[2];
  const char *text = reinterpret_cast<const char *>(data + 3);
  const std::size_t length = strnlen(text, size - 3);

  const std::size_t capacity = length + kJsonLayoutOverhead + room;
  char *buffer = static_cast<char *>(std::malloc(capacity));
  if (buffer == nullptr) return 0;
  std::memcpy(buffer, text, length);
  std::memset(buffer + length, 0, capacity - length - 1);
  buffer[capacity - 1] = kJsonEndMarker;
  const std::vector<char> before(buffer, buffer + capacity);

  const std::size_t offset = cursorChoice % (length + 1);
  char *cursor = buffer + offset;
  char *result = nullptr;
  switch (operation % 4) {
    case 0:
      result = json_make_room(buffer, cursor, operation / 4);
      // The caller writes exactly n bytes into the gap.
      if (result != nullptr) std::memset(result, 'x', operation / 4);
      break;
    case 1:
      result = json_add_string(buffer, cursor, operation & 0x10 ? "k" : nullptr, "v\"\x01");
      break;
    case 2:
      result = json_add_int(buffer, cursor, "n", -operation);
      break;
    default:
      result = json_open_object(buffer, cursor, nullptr);
      break;
  }

  if (result == nullptr) {
    Check(std::memcmp(buffer, before.data(), capacity) == 0);
  } else {
    Check(result >= cursor && result < buffer + capacity);
    Check(std::memcmp(buffer, before.data(), offset) == 0);
    Check(LayoutIntact(buffer, capacity));
  }
  std::free(buffer);
  return 0;
}

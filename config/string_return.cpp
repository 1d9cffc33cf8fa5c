#include "config/string_return.h"

#include <string.h>

#include "velmora/velmora.h"

namespace velmora {

int32_t StringReturn(const char *text, char *buffer, int32_t size) {
  return StringReturn(text, strlen(text), buffer, size);
}

int32_t StringReturn(const char *text, size_t length, char *buffer, int32_t size) {
  // A string longer than the answer can express asks for the largest size.
  const int32_t needed =
      length < static_cast<size_t>(INT32_MAX) ? static_cast<int32_t>(length) + 1 : INT32_MAX;
  if (size == 0) return needed;
  if (size < 0 || static_cast<size_t>(size) > length) {
    if (buffer != nullptr) {
      memcpy(buffer, text, length);
      buffer[length] = '\0';
    }
    return kIviIniSuccess;
  }
  if (buffer != nullptr) {
    memcpy(buffer, text, static_cast<size_t>(size) - 1);
    buffer[size - 1] = '\0';
  }
  return needed;
}

}  // namespace velmora

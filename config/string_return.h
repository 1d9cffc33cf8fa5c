// The library's one way of filling a caller's buffer with a string.
#ifndef VELMORA_CONFIG_STRING_RETURN_H
#define VELMORA_CONFIG_STRING_RETURN_H

#include <stddef.h>
#include <stdint.h>

namespace velmora {

// Copies `text` (length L) into `buffer` of `size` bytes:
//   size < 0:             the whole string and its NUL, answers 0;
//   size = 0:             nothing, answers L + 1;
//   size >= L + 1:        the whole string and its NUL, answers 0;
//   0 < size < L + 1:     the first size - 1 characters and a NUL, answers L + 1.
// A null buffer is never written; the answer stays the same.
int32_t StringReturn(const char *text, char *buffer, int32_t size);

// The same for `length` bytes at `text` that need not end in a NUL.
int32_t StringReturn(const char *text, size_t length, char *buffer, int32_t size);

}  // namespace velmora

#endif  // VELMORA_CONFIG_STRING_RETURN_H

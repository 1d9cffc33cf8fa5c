// Test helper: a text buffer with the writer's layout (text, NUL, zero fill,
// end marker) at an exact capacity, so tests control the room precisely.
#ifndef VELMORA_TESTS_SUPPORT_TEXT_BUFFER_H
#define VELMORA_TESTS_SUPPORT_TEXT_BUFFER_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace velmora_test {

class TextBuffer {
 public:
  // capacity must hold the text, its NUL and the marker.
  TextBuffer(const std::string &text, std::size_t capacity)
      : bytes_(std::max(capacity, text.size() + 2), '\0') {
    std::copy(text.begin(), text.end(), bytes_.begin());
    bytes_[bytes_.size() - 1] = 'J';
  }

  char *data() { return bytes_.data(); }
  char *at(std::size_t offset) { return bytes_.data() + offset; }
  std::size_t offset_of(const char *p) const { return static_cast<std::size_t>(p - bytes_.data()); }
  std::string text() const { return std::string(bytes_.data()); }
  const std::vector<char> &bytes() const { return bytes_; }

  // True when everything after the text's NUL is zero up to a final 'J'.
  bool layout_intact() const { return LayoutIntact(bytes_.data(), bytes_.size()); }

  static bool LayoutIntact(const char *buffer, std::size_t capacity) {
    if (capacity < 2 || buffer[capacity - 1] != 'J') return false;
    const std::size_t length = strnlen(buffer, capacity - 1);
    if (length > capacity - 2) return false;
    for (std::size_t i = length; i < capacity - 1; ++i) {
      if (buffer[i] != '\0') return false;
    }
    return true;
  }

 private:
  std::vector<char> bytes_;
};

}  // namespace velmora_test

#endif  // VELMORA_TESTS_SUPPORT_TEXT_BUFFER_H

// Small helpers over the host's data forms: length-prefixed attribute names,
// list blocks, long strings and variant attributes. Each convention of the
// host is spelled out once here and used everywhere else.
#ifndef VELMORA_PLUGIN_HOST_DATA_H
#define VELMORA_PLUGIN_HOST_DATA_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "plugin/host/host_api.h"

namespace hx {

// A length-prefixed string built at compile time from a literal.
template <size_t N>
struct PStrLiteral {
  static_assert(N >= 1 && N <= 256, "a length-prefixed string holds at most 255 characters");
  unsigned char bytes[N];

  constexpr explicit PStrLiteral(const char (&text)[N]) : bytes{} {
    bytes[0] = static_cast<unsigned char>(N - 1);
    for (size_t i = 0; i + 1 < N; ++i) bytes[i + 1] = static_cast<unsigned char>(text[i]);
  }
  ConstPStr get() const { return bytes; }
};

// The names the plug-in passes to the host.
inline constexpr PStrLiteral kIviClass("IVI");
inline constexpr PStrLiteral kDisplayFilterAttr("displayFilter");
inline constexpr PStrLiteral kTypeClassAttr("typeClass");
inline constexpr PStrLiteral kNameAttr("n");
inline constexpr PStrLiteral kGroupAttr("g");
inline constexpr PStrLiteral kIdAttr("id");
inline constexpr PStrLiteral kFlagsAttr("f");
inline constexpr PStrLiteral kOrigAttr("orig");

// Values the plug-in writes; the host gives them their meaning.
constexpr uint32_t kOpenSessionGroup = 1123;     // "g" of an open session
constexpr uint32_t kSeparatorId = 0xFFFFFFFFu;   // "id" of a separator entry
constexpr uint32_t kBeforeMarkerId = 6;          // "id" of the entry before the marker
constexpr uint32_t kSearchingMarkerId = 7;       // "id" of "<Searching for more>"
constexpr uint32_t kTailFirstId = 3;
constexpr uint32_t kTailSecondId = 2;

// Number of bytes in a list block holding `entries` slots.
constexpr size_t ListBlockSize(size_t entries) { return kListHeaderSize + kListSlotSize * entries; }

// Address of entry `index`'s variant slot in a list handle.
HxVariantRef *ListSlot(HxHandle list, size_t index);
// The entry count of a list handle.
int32_t ListCount(HxHandle list);
void SetListCount(HxHandle list, int32_t count);

// Text owned by malloc, released with free.
struct FreeDeleter {
  void operator()(char *p) const { std::free(p); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

// Reads string attribute `name` of the variant `var` into a NUL-terminated
// malloc'd copy. Answers the host's status (out untouched on failure); 0 with
// a null text when the attribute has no value; 2 when the copy cannot be
// allocated.
MgErr CopyStringAttribute(HxVariantRef var, ConstPStr name, MallocText *out);

// Sets "id" (when id is not 0) and then "f" (when f is not 0) on an entry
// slot; the host's answers are not needed by any caller.
void SetItemAttributes(HxVariantRef *slot, uint32_t id, uint32_t f);

// A temporary host long string, reused for every name of one list. Its room
// is fixed when it is allocated, from the longest name it will carry.
class TemporaryLongString {
 public:
  // Room for at least 256 characters, more when a list holds longer names.
  explicit TemporaryLongString(size_t longestName);
  TemporaryLongString(const TemporaryLongString &) = delete;
  TemporaryLongString &operator=(const TemporaryLongString &) = delete;
  // Disposes of the handle if Dispose was not called.
  ~TemporaryLongString();

  bool ok() const { return handle_ != nullptr; }
  HxHandle handle() const { return handle_; }
  // Makes the string hold `text`, which must fit the room given at creation.
  void Assign(std::string_view text);
  // Disposes of the handle now and answers the host's status.
  MgErr Dispose();

 private:
  HxHandle handle_;
};

}  // namespace hx

#endif

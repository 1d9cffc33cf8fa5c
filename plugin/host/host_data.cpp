#include "plugin/host/host_data.h"

#include <algorithm>
#include <cstring>

namespace hx {
namespace {

// Room of a temporary long string: a length and 256 characters at least.
constexpr size_t kMinLongStringSize = 260;

char *Block(HxHandle h) { return static_cast<char *>(*h); }

}  // namespace

HxVariantRef *ListSlot(HxHandle list, size_t index) {
  return reinterpret_cast<HxVariantRef *>(Block(list) + ListBlockSize(index));
}

int32_t ListCount(HxHandle list) {
  int32_t count = 0;
  std::memcpy(&count, Block(list), sizeof count);
  return count;
}

void SetListCount(HxHandle list, int32_t count) {
  std::memcpy(Block(list), &count, sizeof count);
}

MgErr CopyStringAttribute(HxVariantRef var, ConstPStr name, MallocText *out) {
  HxHandle text = nullptr;
  const MgErr status = HxVariantPStrGetStringAttr(&var, name, &text);
  if (status != kHostOk) return status;
  if (text == nullptr) {
    out->reset();
    return kHostOk;
  }
  int32_t length = 0;
  std::memcpy(&length, Block(text), sizeof length);
  const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  MgErr result = kHostOk;
  if (char *copy = static_cast<char *>(std::malloc(size + 1))) {
    std::memcpy(copy, Block(text) + kLongStringHeaderSize, size);
    copy[size] = '\0';
    out->reset(copy);
  } else {
    out->reset();
    result = kHostOutOfMemory;
  }
  DSDisposeHandle(text);
  return result;
}

void SetItemAttributes(HxVariantRef *slot, uint32_t id, uint32_t f) {
  if (id != 0) HxVariantPStrSetUI32Attr(slot, kIdAttr.get(), id);
  if (f != 0) HxVariantPStrSetUI32Attr(slot, kFlagsAttr.get(), f);
}

TemporaryLongString::TemporaryLongString(size_t longestName)
    : handle_(DSNewHandle(std::max(kMinLongStringSize, kLongStringHeaderSize + longestName))) {}

TemporaryLongString::~TemporaryLongString() {
  if (handle_ != nullptr) DSDisposeHandle(handle_);
}

void TemporaryLongString::Assign(std::string_view text) {
  const auto length = static_cast<int32_t>(text.size());
  std::memcpy(Block(handle_), &length, sizeof length);
  std::memcpy(Block(handle_) + kLongStringHeaderSize, text.data(), text.size());
}

MgErr TemporaryLongString::Dispose() {
  HxHandle h = handle_;
  handle_ = nullptr;
  return h != nullptr ? DSDisposeHandle(h) : kHostOk;
}

}  // namespace hx

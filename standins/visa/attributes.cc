#include "attributes.h"

#include <algorithm>
#include <cstring>

namespace visa_standin {
namespace {

constexpr unsigned kBoth = kResourceManagerAttribute | kInstrumentAttribute;

// Values a session starts with. The two versions say which revision of the
// interface the library follows (major, minor and sub-minor in the standard's
// 12/12/8 bits) and which release of its own it is.
constexpr uint64_t kSpecVersion = 0x00300000;
constexpr uint64_t kImplVersion = 0x00100000;
constexpr uint64_t kManufacturerId = 0x0FFF;  // no registered maker
constexpr uint64_t kTimeoutMs = 2000;
constexpr uint64_t kQueueLength = 50;
constexpr uint64_t kLineFeed = 0x0A;

// Instrument attributes whose value comes from the session (its name, class,
// interface and lock) have initial 0 here; viOpen sets them.
constexpr Attribute kAttributes[] = {
    {VI_ATTR_RSRC_CLASS, AttributeType::kString, kInstrumentAttribute, false, 0},
    {VI_ATTR_RSRC_NAME, AttributeType::kString, kInstrumentAttribute, false, 0},
    {VI_ATTR_RSRC_IMPL_VERSION, AttributeType::kUInt32, kBoth, false, kImplVersion},
    {VI_ATTR_RSRC_LOCK_STATE, AttributeType::kUInt32, kBoth, false, VI_NO_LOCK},
    {VI_ATTR_MAX_QUEUE_LENGTH, AttributeType::kUInt32, kBoth, true, kQueueLength},
    {VI_ATTR_USER_DATA, AttributeType::kUInt64, kBoth, true, 0},
    {VI_ATTR_SEND_END_EN, AttributeType::kBoolean, kInstrumentAttribute, true, VI_TRUE},
    {VI_ATTR_TERMCHAR, AttributeType::kUInt8, kInstrumentAttribute, true, kLineFeed},
    {VI_ATTR_TMO_VALUE, AttributeType::kUInt32, kBoth, true, kTimeoutMs},
    {VI_ATTR_TERMCHAR_EN, AttributeType::kBoolean, kInstrumentAttribute, true, VI_FALSE},
    {VI_ATTR_RSRC_SPEC_VERSION, AttributeType::kUInt32, kBoth, false, kSpecVersion},
    {VI_ATTR_INTF_TYPE, AttributeType::kUInt16, kInstrumentAttribute, false, 0},
    {VI_ATTR_RSRC_MANF_NAME, AttributeType::kString, kBoth, false, 0},
    {VI_ATTR_RSRC_MANF_ID, AttributeType::kUInt16, kBoth, false, kManufacturerId},
    {VI_ATTR_INTF_NUM, AttributeType::kUInt16, kInstrumentAttribute, false, 0},
};

template <typename T>
void Store(uint64_t value, void *state) {
  const T typed = static_cast<T>(value);
  std::memcpy(state, &typed, sizeof typed);
}

}  // namespace

const Attribute *FindAttribute(ViAttr id) {
  const auto *found = std::find_if(std::begin(kAttributes), std::end(kAttributes),
                                   [id](const Attribute &attribute) { return attribute.id == id; });
  return found == std::end(kAttributes) ? nullptr : found;
}

bool AcceptState(const Attribute &attribute, ViAttrState state, uint64_t *stored) {
  const uint64_t value = attribute.type == AttributeType::kUInt64 ? state : state & UINT32_MAX;
  switch (attribute.type) {
    case AttributeType::kBoolean:
      if (value != VI_TRUE && value != VI_FALSE) return false;
      break;
    case AttributeType::kUInt8:
      if (value > UINT8_MAX) return false;
      break;
    case AttributeType::kUInt16:
      if (value > UINT16_MAX) return false;
      break;
    case AttributeType::kUInt32:
    case AttributeType::kUInt64:
      break;
    case AttributeType::kString:
      return false;
  }
  *stored = value;
  return true;
}

void WriteNumber(const Attribute &attribute, uint64_t value, void *state) {
  switch (attribute.type) {
    case AttributeType::kUInt8:
      return Store<ViUInt8>(value, state);
    case AttributeType::kUInt16:
      return Store<ViUInt16>(value, state);
    case AttributeType::kBoolean:
      return Store<ViBoolean>(value, state);
    case AttributeType::kUInt32:
      return Store<ViUInt32>(value, state);
    case AttributeType::kUInt64:
      return Store<ViUInt64>(value, state);
    case AttributeType::kString:
      return;
  }
}

void WriteString(std::string_view text, void *state) {
  const size_t n = std::min(text.size(), static_cast<size_t>(VI_FIND_BUFLEN - 1));
  char *buffer = static_cast<char *>(state);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace visa_standin

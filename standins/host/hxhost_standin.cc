// The test-side functions of the host stand-in (hxhost_standin.h): argument
// checks, conversion between C strings and the host object's types, and the
// exception guard; the work happens in Host.
#include "hxhost_standin.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "c_guard.h"
#include "host_state.h"

using hxhost::Attribute;
using hxhost::Host;
using standins::Guarded;

namespace {

// The shared convention for handing a text to a C caller: the length is the
// result, and at most size - 1 characters and a NUL go into the buffer.
int32_t CopyOut(const std::string &text, char *buffer, size_t size) {
  if (buffer != nullptr && size > 0) {
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(text.size());
}

MgErr SetAttribute(HxVariantRef var, const char *name, Attribute attribute) {
  if (name == nullptr) return HXHOST_ERR_BAD_ARGUMENT;
  return Host::Instance().SetAttribute(var, name, std::move(attribute));
}

std::optional<std::string> OptionalText(const char *text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

}  // namespace

extern "C" {

void hxhost_reset(void) {
  Guarded([] { Host::Instance().Reset(); });
}

int64_t hxhost_handles_outstanding(void) {
  return Guarded<int64_t>(-1, [] { return Host::Instance().HandlesOutstanding(); });
}

int64_t hxhost_variants_outstanding(void) {
  return Guarded<int64_t>(-1, [] { return Host::Instance().VariantsOutstanding(); });
}

uint64_t hxhost_call_count(const char *function) {
  if (function == nullptr) return 0;
  return Guarded<uint64_t>(0, [&] { return Host::Instance().CallCount(function); });
}

uint64_t hxhost_invalid_dispose_count(void) {
  return Guarded<uint64_t>(0, [] { return Host::Instance().InvalidDisposeCount(); });
}

uint64_t hxhost_bad_argument_count(void) {
  return Guarded<uint64_t>(0, [] { return Host::Instance().BadArgumentCount(); });
}

size_t hxhost_requested_sizes(const char *function, size_t *sizes, size_t capacity) {
  if (function == nullptr) return 0;
  return Guarded<size_t>(0, [&] {
    const std::vector<size_t> all = Host::Instance().RequestedSizes(function);
    if (sizes != nullptr) std::copy_n(all.begin(), std::min(capacity, all.size()), sizes);
    return all.size();
  });
}

int hxhost_handle_is_live(HxHandle h) {
  return Guarded<int>(0, [&] { return Host::Instance().IsLive(h) ? 1 : 0; });
}

size_t hxhost_handle_size(HxHandle h) {
  return Guarded<size_t>(0, [&] { return Host::Instance().HandleSize(h); });
}

MgErr hxhost_arm_fault(const char *function, uint32_t nth, uint32_t count, MgErr status) {
  if (function == nullptr) return HXHOST_ERR_BAD_ARGUMENT;
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().ArmFault(function, nth, count, status); });
}

void hxhost_disarm_faults(void) {
  Guarded([] { Host::Instance().DisarmFaults(); });
}

void hxhost_sessions_clear(void) {
  Guarded([] { Host::Instance().ClearSessions(); });
}

MgErr hxhost_sessions_add(const char *name, const char *orig) {
  return Guarded<MgErr>(kHostOutOfMemory, [&] {
    Host::Instance().AddSession(hxhost::SessionSpec{OptionalText(name), OptionalText(orig)});
    return kHostOk;
  });
}

void hxhost_sessions_set_status(MgErr status) {
  Guarded([&] { Host::Instance().SetSessionsStatus(status); });
}

void hxhost_sessions_set_null_handle(int enabled) {
  Guarded([&] { Host::Instance().SetSessionsNullHandle(enabled != 0); });
}

void hxhost_sessions_override_count(int enabled, int32_t count) {
  Guarded([&] {
    Host::Instance().OverrideSessionsCount(enabled != 0 ? std::optional<int32_t>(count)
                                                        : std::nullopt);
  });
}

int hxhost_sessions_last_call(hxhost_sessions_call *call) {
  if (call == nullptr) return 0;
  return Guarded<int>(0, [&] { return Host::Instance().LastSessionsCall(call) ? 1 : 0; });
}

unsigned char *hxhost_pstr(const char *text, unsigned char *buffer, size_t size) {
  if (text == nullptr || buffer == nullptr) return nullptr;
  const size_t length = std::strlen(text);
  if (length > 255 || size < length + 1) return nullptr;
  buffer[0] = static_cast<unsigned char>(length);
  std::memcpy(buffer + 1, text, length);
  return buffer;
}

HxHandle hxhost_long_string_new(const char *text) {
  if (text == nullptr) return nullptr;
  return Guarded<HxHandle>(nullptr, [&] { return Host::Instance().NewLongString(text); });
}

int32_t hxhost_long_string_get(HxHandle h, char *buffer, size_t size) {
  return Guarded<int32_t>(-1, [&] {
    const std::optional<std::string> text = Host::Instance().LongStringText(h);
    return text ? CopyOut(*text, buffer, size) : -1;
  });
}

HxVariantRef hxhost_variant_new(void) {
  return Guarded<HxVariantRef>(nullptr, [] { return Host::Instance().NewVariant(); });
}

MgErr hxhost_variant_dispose(HxVariantRef var) {
  return Guarded<MgErr>(kHostOutOfMemory, [&] { return Host::Instance().DisposeVariant(var); });
}

MgErr hxhost_variant_set_u32(HxVariantRef var, const char *name, uint32_t value) {
  return Guarded<MgErr>(kHostOutOfMemory, [&] {
    Attribute attribute;
    attribute.kind = Attribute::Kind::kU32;
    attribute.u32 = value;
    return SetAttribute(var, name, std::move(attribute));
  });
}

MgErr hxhost_variant_set_string(HxVariantRef var, const char *name, const char *text) {
  if (text == nullptr) return HXHOST_ERR_BAD_ARGUMENT;
  return Guarded<MgErr>(kHostOutOfMemory, [&] {
    Attribute attribute;
    attribute.kind = Attribute::Kind::kString;
    attribute.text = text;
    return SetAttribute(var, name, std::move(attribute));
  });
}

MgErr hxhost_variant_set_null_string(HxVariantRef var, const char *name) {
  return Guarded<MgErr>(kHostOutOfMemory, [&] {
    Attribute attribute;
    attribute.kind = Attribute::Kind::kNullString;
    return SetAttribute(var, name, std::move(attribute));
  });
}

int hxhost_variant_has(HxVariantRef var, const char *name) {
  if (name == nullptr) return 0;
  return Guarded<int>(0, [&] {
    Attribute attribute;
    return Host::Instance().FindAttribute(var, name, &attribute) == kHostOk ? 1 : 0;
  });
}

int32_t hxhost_variant_attribute_count(HxVariantRef var) {
  return Guarded<int32_t>(-1, [&] { return Host::Instance().AttributeCount(var); });
}

MgErr hxhost_variant_get_u32(HxVariantRef var, const char *name, uint32_t *value) {
  if (name == nullptr || value == nullptr) return HXHOST_ERR_BAD_ARGUMENT;
  return Guarded<MgErr>(kHostOutOfMemory, [&] {
    Attribute attribute;
    const MgErr status = Host::Instance().FindAttribute(var, name, &attribute);
    if (status != kHostOk) return status;
    if (attribute.kind != Attribute::Kind::kU32) return MgErr{HXHOST_ERR_TYPE_MISMATCH};
    *value = attribute.u32;
    return MgErr{kHostOk};
  });
}

int32_t hxhost_variant_get_string(HxVariantRef var, const char *name, char *buffer, size_t size) {
  if (name == nullptr) return -1;
  return Guarded<int32_t>(-1, [&] {
    Attribute attribute;
    if (Host::Instance().FindAttribute(var, name, &attribute) != kHostOk) return -1;
    if (attribute.kind != Attribute::Kind::kString) return -1;
    return CopyOut(attribute.text, buffer, size);
  });
}

int32_t hxhost_list_count(HxHandle list) {
  return Guarded<int32_t>(-1, [&] { return Host::Instance().ListCount(list); });
}

HxVariantRef hxhost_list_slot(HxHandle list, int32_t index) {
  return Guarded<HxVariantRef>(nullptr, [&] { return Host::Instance().ListSlot(list, index); });
}

MgErr hxhost_dispose_list(HxHandle list) {
  return Guarded<MgErr>(kHostOutOfMemory, [&] { return Host::Instance().DisposeList(list); });
}

}  // extern "C"

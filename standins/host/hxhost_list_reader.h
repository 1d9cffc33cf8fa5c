// C++ reading of a name-list handle through the host stand-in: the "n",
// "g" and "id" attributes of each slot, as a host looks at what the plug-in
// answered. Header-only, so that the demo host and the tests read a list the
// same way without the stand-in's C interface growing C++ types.
#ifndef HXHOST_LIST_READER_H
#define HXHOST_LIST_READER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hxhost_standin.h"

namespace hxhost_list {

// One slot of a list handle; an attribute the slot lacks stays empty.
struct ListEntry {
  std::optional<std::string> n;  // the name shown
  std::optional<uint32_t> g;     // the group (1123: an open session)
  std::optional<uint32_t> id;    // separators, the searching marker, tail entries
};

// A string attribute whatever its length; empty when the variant lacks it.
inline std::optional<std::string> StringAttribute(HxVariantRef var, const char *name) {
  const int32_t length = hxhost_variant_get_string(var, name, nullptr, 0);
  if (length < 0) return std::nullopt;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  hxhost_variant_get_string(var, name, text.data(), text.size());
  text.resize(static_cast<size_t>(length));
  return text;
}

// A UI32 attribute; empty when the variant lacks it or holds a string.
inline std::optional<uint32_t> U32Attribute(HxVariantRef var, const char *name) {
  uint32_t value = 0;
  if (hxhost_variant_get_u32(var, name, &value) != kHostOk) return std::nullopt;
  return value;
}

// Slot `index` of a list handle, whatever its count field says.
inline ListEntry ReadListSlot(HxHandle list, int32_t index) {
  HxVariantRef var = hxhost_list_slot(list, index);
  return ListEntry{StringAttribute(var, "n"), U32Attribute(var, "g"), U32Attribute(var, "id")};
}

// The slots of a list handle up to its count field.
inline std::vector<ListEntry> ReadListEntries(HxHandle list) {
  std::vector<ListEntry> entries;
  const int32_t count = hxhost_list_count(list);
  for (int32_t i = 0; i < count; ++i) entries.push_back(ReadListSlot(list, i));
  return entries;
}

}  // namespace hxhost_list

#endif

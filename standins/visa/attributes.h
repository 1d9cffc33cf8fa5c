// The attributes that viGetAttribute and viSetAttribute know: their types,
// which objects carry them, whether they may be set, and the value a new
// object starts with (see visa_standin.h for the list).
#ifndef VISA_STANDIN_ATTRIBUTES_H
#define VISA_STANDIN_ATTRIBUTES_H

#include <cstdint>
#include <string_view>

#include "visa_standin.h"

namespace visa_standin {

enum class AttributeType : uint8_t { kUInt8, kUInt16, kUInt32, kUInt64, kBoolean, kString };

// The objects an attribute belongs to, as bits.
enum AttributeHolder : unsigned { kResourceManagerAttribute = 1, kInstrumentAttribute = 2 };

struct Attribute {
  ViAttr id;
  AttributeType type;
  unsigned holders;  // AttributeHolder bits
  bool writable;
  uint64_t initial;  // numbers: the value until it is set; strings come from the object
};

// The attribute with that id, or null for one this library does not know.
const Attribute *FindAttribute(ViAttr id);

// The value viSetAttribute stores for state, or false when the attribute
// cannot take it (a Boolean other than VI_TRUE and VI_FALSE, a number wider
// than the attribute). Every attribute narrower than 64 bits reads only the
// low 32 bits of state: callers that declare ViAttrState with 32 bits leave
// the upper half of the register undefined.
bool AcceptState(const Attribute &attribute, ViAttrState state, uint64_t *stored);

// Writes a number as the attribute's type to state (the caller's variable
// of that type).
void WriteNumber(const Attribute &attribute, uint64_t value, void *state);

// Writes text to state, a buffer of VI_FIND_BUFLEN bytes, cut to fit with
// its NUL.
void WriteString(std::string_view text, void *state);

}  // namespace visa_standin

#endif

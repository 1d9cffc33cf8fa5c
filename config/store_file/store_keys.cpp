#include "config/store_file/store_keys.h"

#include <string.h>
#include <strings.h>

namespace velmora {
namespace store {
namespace {

// Slot order is the order in which keys that a section lacked are written
// when they are set.
constexpr KeySpec kLogicalNameKeys[] = {
    {"Description", Field::kDescription},
    {"Session", Field::kSession},
};
constexpr KeySpec kSessionKeys[] = {
    {"Description", Field::kDescription}, {"DriverSetup", Field::kDriverSetup},
    {"Driver", Field::kDriver},           {"Device", Field::kDevice},
    {"Simulate", Field::kSimulate},       {"Channels", Field::kChannels},
};
constexpr KeySpec kDriverKeys[] = {
    {"Description", Field::kDescription},
    {"Module", Field::kModule},
    {"Prefix", Field::kPrefix},
    {"Classes", Field::kClasses},
};
constexpr KeySpec kDeviceKeys[] = {
    {"Description", Field::kDescription},
    {"Resource", Field::kResource},
};

template <size_t N>
constexpr KindSpec Spec(const char *name, const KeySpec (&keys)[N]) {
  return {name, keys, static_cast<int>(N)};
}

constexpr KindSpec kKinds[kKindCount] = {
    Spec("LogicalName", kLogicalNameKeys),
    Spec("Session", kSessionKeys),
    Spec("Driver", kDriverKeys),
    Spec("Device", kDeviceKeys),
};

static_assert(sizeof kSessionKeys / sizeof kSessionKeys[0] <= kMaxFields, "slots per item");

bool SameWord(const char *word, size_t length, const char *known) {
  return strlen(known) == length && strncasecmp(word, known, length) == 0;
}

}  // namespace

const KindSpec &SpecOf(Kind kind) {
  return kKinds[static_cast<int>(kind)];
}

bool KindFromWord(const char *word, size_t length, Kind *kind) {
  for (int k = 0; k < kKindCount; ++k) {
    if (SameWord(word, length, kKinds[k].name)) {
      *kind = static_cast<Kind>(k);
      return true;
    }
  }
  return false;
}

int SlotOfKey(Kind kind, const char *key, size_t length) {
  const KindSpec &spec = SpecOf(kind);
  for (int slot = 0; slot < spec.keyCount; ++slot) {
    if (SameWord(key, length, spec.keys[slot].key)) return slot;
  }
  return -1;
}

int SlotOf(Kind kind, Field field) {
  const KindSpec &spec = SpecOf(kind);
  for (int slot = 0; slot < spec.keyCount; ++slot) {
    if (spec.keys[slot].field == field) return slot;
  }
  return -1;
}

bool TargetOf(Field field, Kind *target) {
  switch (field) {
    case Field::kSession:
      *target = Kind::kSession;
      return true;
    case Field::kDriver:
      *target = Kind::kDriver;
      return true;
    case Field::kDevice:
      *target = Kind::kDevice;
      return true;
    default:
      return false;
  }
}

bool ReferenceField(Kind from, Kind to, Field *field) {
  if (from == Kind::kLogicalName && to == Kind::kSession) {
    *field = Field::kSession;
  } else if (from == Kind::kSession && to == Kind::kDriver) {
    *field = Field::kDriver;
  } else if (from == Kind::kSession && to == Kind::kDevice) {
    *field = Field::kDevice;
  } else {
    return false;
  }
  return true;
}

bool IsInstrumentClassName(const char *name, size_t length) {
  if (length < 4 || memcmp(name, "Ivi", 3) != 0 || name[3] < 'A' || name[3] > 'Z') return false;
  return !(length == 9 && memcmp(name, "IviDriver", 9) == 0);
}

}  // namespace store
}  // namespace velmora

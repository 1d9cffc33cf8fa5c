#include "config/store_file/store_keys.h"

#include <string.h>

namespace velmora {
namespace store {
namespace {

template <size_t N>
constexpr KeySpec Key(const char (&key)[N], Field field) {
  return {key, static_cast<uint8_t>(N - 1), field};
}

// Slot order is the order in which keys that a section lacked are written
// when they are set.
constexpr KeySpec kLogicalNameKeys[] = {
    Key("Description", Field::kDescription),
    Key("Session", Field::kSession),
};
constexpr KeySpec kSessionKeys[] = {
    Key("Description", Field::kDescription), Key("DriverSetup", Field::kDriverSetup),
    Key("Driver", Field::kDriver),           Key("Device", Field::kDevice),
    Key("Simulate", Field::kSimulate),       Key("Channels", Field::kChannels),
};
constexpr KeySpec kDriverKeys[] = {
    Key("Description", Field::kDescription),
    Key("Module", Field::kModule),
    Key("Prefix", Field::kPrefix),
    Key("Classes", Field::kClasses),
};
constexpr KeySpec kDeviceKeys[] = {
    Key("Description", Field::kDescription),
    Key("Resource", Field::kResource),
};

template <size_t L, size_t N>
constexpr KindSpec Spec(const char (&name)[L], const KeySpec (&keys)[N]) {
  return {name, static_cast<uint8_t>(L - 1), keys, static_cast<int>(N)};
}

constexpr KindSpec kKinds[kKindCount] = {
    Spec("LogicalName", kLogicalNameKeys),
    Spec("Session", kSessionKeys),
    Spec("Driver", kDriverKeys),
    Spec("Device", kDeviceKeys),
};

static_assert(sizeof kSessionKeys / sizeof kSessionKeys[0] <= kMaxFields, "slots per item");

// Letter case aside, whether `length` bytes at `word` spell `known`, a word
// of ASCII letters: OR-ing 0x20 lowers a capital and leaves a small letter,
// and turns no other byte into a letter. Keys are checked on every line of a
// store, so this stays a plain loop.
bool SameWord(const char *word, const char *known, size_t length) {
  if (memcmp(word, known, length) == 0) return true;  // the usual spelling
  for (size_t i = 0; i < length; ++i) {
    if ((word[i] | 0x20) != (known[i] | 0x20)) return false;
  }
  return true;
}

}  // namespace

const KindSpec &SpecOf(Kind kind) {
  return kKinds[static_cast<int>(kind)];
}

bool KindFromWord(const char *word, size_t length, Kind *kind) {
  for (int k = 0; k < kKindCount; ++k) {
    const KindSpec &known = kKinds[k];
    if (known.nameLength == length && (known.name[0] | 0x20) == (word[0] | 0x20) &&
        SameWord(word, known.name, length)) {
      *kind = static_cast<Kind>(k);
      return true;
    }
  }
  return false;
}

int SlotOfKey(Kind kind, const char *key, size_t length) {
  const KindSpec &spec = SpecOf(kind);
  if (length == 0) return -1;
  const char first = static_cast<char>(key[0] | 0x20);
  for (int slot = 0; slot < spec.keyCount; ++slot) {
    const KeySpec &known = spec.keys[slot];
    if (known.length == length && (known.key[0] | 0x20) == first &&
        SameWord(key, known.key, length)) {
      return slot;
    }
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

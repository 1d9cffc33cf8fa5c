// The vocabulary of a store file: the four kinds of section and the keys
// each kind knows, with the spelling that is written for them.
#ifndef VELMORA_CONFIG_STORE_FILE_STORE_KEYS_H
#define VELMORA_CONFIG_STORE_FILE_STORE_KEYS_H

#include <stddef.h>
#include <stdint.h>

namespace velmora {
namespace store {

enum class Kind : uint8_t { kLogicalName, kSession, kDriver, kDevice };
constexpr int kKindCount = 4;

enum class Field : uint8_t {
  kDescription,
  kDriverSetup,  // sessions
  kModule,       // drivers
  kPrefix,       // drivers
  kResource,     // devices: a VISA resource descriptor
  kSession,      // logical names: reference to a session
  kDriver,       // sessions: reference to a driver
  kDevice,       // sessions: reference to a device
  kSimulate,     // sessions: a boolean
  kChannels,     // sessions: channel entries
  kClasses,      // drivers: class entries
};

// A kind has at most this many known keys; an item keeps one slot for each.
constexpr int kMaxFields = 6;

// A word of 4 to 12 letters with its letter case folded away, as three
// overlapping 4-byte pieces, so that a word of the file is matched with three
// comparisons (store_keys.cpp).
struct FoldedWord {
  uint32_t pieces[3];
};

struct KeySpec {
  const char *key;  // as written
  uint8_t length;   // of key
  Field field;
  FoldedWord folded;
};

struct KindSpec {
  const char *name;  // as written in headers
  uint8_t nameLength;
  const KeySpec *keys;
  int keyCount;
  FoldedWord folded;
};

// The four kinds, in the order of Kind.
extern const KindSpec kKindSpecs[kKindCount];

inline const KindSpec &SpecOf(Kind kind) {
  return kKindSpecs[static_cast<int>(kind)];
}

// The kind a header word names, ignoring letter case; false for any other word.
bool KindFromWord(const char *word, size_t length, Kind *kind);

// The slot of the kind's key spelled `key` (letter case ignored), or -1.
int SlotOfKey(Kind kind, const char *key, size_t length);

// The common shape of a key line, matched without a scan for '=' first: the
// slot of the kind's key spelled at `p` (letter case ignored) and followed by
// blanks and '=' within [p, end), with `equals` set to the '='; else -1.
int MatchKeyLine(Kind kind, const char *p, const char *end, const char **equals);

// The slot that holds `field` in items of `kind`, or -1 when they have none.
int SlotOf(Kind kind, Field field);

// The kind a reference field names; false for fields that are no reference.
bool TargetOf(Field field, Kind *target);

// The reference field through which items of `from` refer to items of `to`;
// false when they do not.
bool ReferenceField(Kind from, Kind to, Field *field);

// Whether a class entry names an instrument class: "Ivi" and a capital
// letter (IviScope, IviDmm, ...), except IviDriver, which every driver is.
bool IsInstrumentClassName(const char *name, size_t length);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_STORE_KEYS_H

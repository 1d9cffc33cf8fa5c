#include "config/store_file/store_keys.h"

#include <string.h>

#include "config/store_file/store_types.h"

namespace velmora {
namespace store {
namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pieces are loaded as little-endian");

constexpr uint32_t kFold = 0x20202020u;

// Four bytes as a load from memory gives them.
constexpr uint32_t Piece(const char *p) {
  return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24;
}

// The pieces at the start, the middle and the end: together every byte of a
// word of 4 to 12 bytes. OR-ing 0x20 lowers a capital letter and leaves a
// small one, and turns no other byte into a letter, so a word of letters
// matches whatever its letter case.
constexpr FoldedWord Fold(const char *word, size_t length) {
  return {{Piece(word) | kFold, Piece(word + (length - 4) / 2) | kFold,
           Piece(word + length - 4) | kFold}};
}

template <size_t N>
constexpr KeySpec Key(const char (&key)[N], Field field) {
  static_assert(N - 1 >= 4 && N - 1 <= 12, "keys are folded whole");
  return {key, static_cast<uint8_t>(N - 1), field, Fold(key, N - 1)};
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
  static_assert(L - 1 >= 4 && L - 1 <= 12, "kind words are folded whole");
  return {name, static_cast<uint8_t>(L - 1), keys, static_cast<int>(N), Fold(name, L - 1)};
}

static_assert(sizeof kSessionKeys / sizeof kSessionKeys[0] <= kMaxFields, "slots per item");

uint32_t Load(const char *p) {
  uint32_t piece;
  memcpy(&piece, p, sizeof piece);
  return piece;
}

// Letter case aside, whether `length` bytes at `word` (as many as the known
// word has) spell it. Keys are checked on every line of a store.
bool SameWord(const char *word, size_t length, const FoldedWord &known) {
  return (Load(word) | kFold) == known.pieces[0] &&
         (Load(word + (length - 4) / 2) | kFold) == known.pieces[1] &&
         (Load(word + length - 4) | kFold) == known.pieces[2];
}

// The keys of a kind by their first four letters: a line is matched against
// the one or two keys whose start falls in the same of 32 buckets, rather
// than against each key in turn, whose order in a section varies from one
// to the next.
constexpr uint32_t Bucket(uint32_t firstPiece) {
  return (firstPiece * 0x9E3779B1u) >> 27;
}

struct KeyTable {
  uint8_t candidates[32][2];  // slot + 1 of the keys of a bucket; 0: none
};

template <size_t N>
constexpr KeyTable MakeKeyTable(const KeySpec (&keys)[N]) {
  KeyTable table{};
  for (size_t slot = 0; slot < N; ++slot) {
    uint8_t *bucket = table.candidates[Bucket(keys[slot].folded.pieces[0])];
    bucket[bucket[0] == 0 ? 0 : 1] = static_cast<uint8_t>(slot + 1);
  }
  return table;
}

// A third key in a bucket would be lost.
template <size_t N>
constexpr bool BucketsHoldTwo(const KeySpec (&keys)[N]) {
  for (size_t a = 0; a < N; ++a) {
    size_t same = 0;
    for (size_t b = 0; b < N; ++b) {
      if (Bucket(keys[a].folded.pieces[0]) == Bucket(keys[b].folded.pieces[0])) ++same;
    }
    if (same > 2) return false;
  }
  return true;
}
static_assert(BucketsHoldTwo(kLogicalNameKeys) && BucketsHoldTwo(kSessionKeys) &&
                  BucketsHoldTwo(kDriverKeys) && BucketsHoldTwo(kDeviceKeys),
              "at most two keys of a kind share a bucket");

constexpr KeyTable kKeyTables[kKindCount] = {
    MakeKeyTable(kLogicalNameKeys),
    MakeKeyTable(kSessionKeys),
    MakeKeyTable(kDriverKeys),
    MakeKeyTable(kDeviceKeys),
};

}  // namespace

constexpr KindSpec kKindSpecs[kKindCount] = {
    Spec("LogicalName", kLogicalNameKeys),
    Spec("Session", kSessionKeys),
    Spec("Driver", kDriverKeys),
    Spec("Device", kDeviceKeys),
};

bool KindFromWord(const char *word, size_t length, Kind *kind) {
  for (int k = 0; k < kKindCount; ++k) {
    const KindSpec &known = kKindSpecs[k];
    if (known.nameLength == length && SameWord(word, length, known.folded)) {
      *kind = static_cast<Kind>(k);
      return true;
    }
  }
  return false;
}

int SlotOfKey(Kind kind, const char *key, size_t length) {
  const KindSpec &spec = SpecOf(kind);
  for (int slot = 0; slot < spec.keyCount; ++slot) {
    const KeySpec &known = spec.keys[slot];
    if (known.length == length && SameWord(key, length, known.folded)) return slot;
  }
  return -1;
}

int MatchKeyLine(Kind kind, const char *p, const char *end, const char **equals) {
  const size_t available = static_cast<size_t>(end - p);
  if (available < 5) return -1;
  const KindSpec &spec = SpecOf(kind);
  const uint32_t first = Load(p) | kFold;
  const uint8_t *candidates = kKeyTables[static_cast<int>(kind)].candidates[Bucket(first)];
  for (int c = 0; c < 2 && candidates[c] != 0; ++c) {
    const int slot = candidates[c] - 1;
    const KeySpec &known = spec.keys[slot];
    if (known.folded.pieces[0] != first || available <= known.length ||
        !SameWord(p, known.length, known.folded)) {
      continue;
    }
    const char *q = p + known.length;
    while (q < end && IsBlank(*q)) ++q;
    if (q < end && *q == '=') {
      *equals = q;
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

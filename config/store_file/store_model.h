// A configuration store kept as the text of its file plus what was read from
// it. Loading parses the file once into items (logical names, sessions,
// drivers, devices) whose values point into the text; edits are kept beside
// the text, and saving writes the text back with only the edited bytes
// changed, so comments, blank lines, order, unknown keys and unknown kinds of
// section survive byte for byte.
//
// The store is used by the library's file back end, by the velmora-store tool
// and by tests; it keeps to the C runtime like the library. Every operation
// that can fail answers a status of velmora.h (0 on success).
#ifndef VELMORA_CONFIG_STORE_FILE_STORE_MODEL_H
#define VELMORA_CONFIG_STORE_FILE_STORE_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include "config/store_file/growable_array.h"
#include "config/store_file/name_index.h"
#include "config/store_file/store_keys.h"
#include "config/store_file/store_types.h"

namespace velmora {
namespace store {

// Limits on what a store file may be.
constexpr uint32_t kMaxFileBytes = 64u << 20;  // 64 MiB
constexpr uint32_t kMaxLineBytes = 64u << 10;  // 64 KiB, without the line end

// Why a file was refused: the status LoadFile answers, the line it is about
// (from 1; 0 for the file as a whole) and a sentence for a person.
struct ParseError {
  int32_t status;
  uint32_t line;
  char message[192];
};

class Store {
 public:
  // Stores are made and destroyed through these (no operator new here).
  static Store *Create();  // null when out of memory
  static void Destroy(Store *store);

  // ---- Loading: once per store; `error` may be null.
  int32_t LoadFile(const char *path, ParseError *error);
  int32_t LoadText(const char *data, size_t size, ParseError *error);

  // ---- Items of one kind, in file order (items added since come last).
  uint32_t Count(Kind kind) const { return order_[static_cast<int>(kind)].size(); }
  // From 0; kNoItem past the last.
  uint32_t ItemAt(Kind kind, uint32_t position) const;
  // Exact bytes; kNoItem when no item of the kind has that name.
  uint32_t Find(Kind kind, const char *name, size_t length) const;

  // ---- One item (a number from ItemAt, Find or Add).
  bool IsLive(uint32_t item) const;  // known and not removed
  Kind KindOf(uint32_t item) const { return items_[item].kind; }
  TextView Name(uint32_t item) const { return View(items_[item].name); }
  // Whether the section has the key (in the file, or set since).
  bool HasValue(uint32_t item, Field field) const;
  // The value, empty when the section lacks the key or its kind has none.
  TextView Value(uint32_t item, Field field) const;
  // The item a reference field names, or kNoItem when it names none that exists.
  uint32_t Target(uint32_t item, Field reference) const;
  // Line number of the item's header in the file as loaded (0 for added items).
  uint32_t HeaderLine(uint32_t item) const;

  // Channel entries of a session and class entries of a driver, in order.
  uint32_t ChannelEntryCount(uint32_t session) const;
  TextView ChannelEntryName(uint32_t session, uint32_t entry) const;
  uint32_t RangeCount(uint32_t session, uint32_t entry) const;
  Range RangeAt(uint32_t session, uint32_t entry, uint32_t range) const;
  uint32_t ClassCount(uint32_t driver) const;
  TextView ClassAt(uint32_t driver, uint32_t index) const;

  // ---- Edits. Values are NUL-terminated; a value equal to the current one
  // changes nothing. Channels and classes are read-only.
  // kIviIniStoreNoSuchProperty: the item's kind has no such field (or it is
  // Channels or Classes); kIviIniStoreBadValue: the value has a line feed or
  // would make a line over the limit.
  int32_t SetValue(uint32_t item, Field field, const char *value);
  // Makes a reference field name `target`, an item of the kind it refers to.
  int32_t SetReference(uint32_t item, Field field, uint32_t target);
  // Appends a section; kIviIniStoreItemExists, kIviIniStoreBadName.
  int32_t Add(Kind kind, const char *name, uint32_t *item);
  // Removes the section: its header and lines up to its last key line.
  int32_t Remove(uint32_t item);
  // Whether anything was edited since loading.
  bool Changed() const { return changed_; }

  // ---- Writing: the text with the edits applied. Render hands it to
  // `write` in pieces; Save replaces the file at `path` by a complete new one
  // (nothing at all happens when nothing changed and `path` is the file the
  // store was loaded from).
  bool Render(PieceWriter write, void *context) const;
  int32_t Save(const char *path);

 private:
  // One key of one item. Where its value ends on the line is found again
  // when it is needed (the rest of the line, blanks trimmed), so that a
  // large store costs less memory to hold.
  struct FieldValue {
    Str value;          // current value, decoded
    uint32_t rawStart;  // keys with a line in the file: where the value is written
  };

  enum : uint8_t {
    kRemoved = 1,  // taken out of the store
    kAdded = 2,    // not in the file as loaded: rendered whole at the end
    kTouched = 4,  // a section of the file that has edits: listed in touched_
  };

  struct Item {
    Str name;
    uint32_t headerStart;  // sections of the file: offset of the header line
    uint32_t tailEnd;      // just past the line end of the section's last key line
    uint32_t listFirst;    // sessions: first channel entry; drivers: first class entry
    uint32_t listCount;
    uint32_t nameHash;
    uint32_t firstField;  // into fields_: one per key of the kind, in key order
    Kind kind;
    uint8_t flags;
    uint8_t inFile;   // bit per slot: the key has a line in the file as loaded
    uint8_t present;  // bit per slot: the key has a value
    uint8_t edited;   // bit per slot: the value was set since loading
  };

  class Parser;  // store_parser.cpp
  class Writer;  // store_writer.cpp
  friend class Parser;
  friend class Writer;

  Store() = default;
  ~Store();

  const char *Data(Str s) const {
    return (s.offset & kPoolBit) != 0 ? pool_.data() + (s.offset & ~kPoolBit) : text_ + s.offset;
  }
  TextView View(Str s) const { return {Data(s), s.length}; }
  int32_t Parse(ParseError *error);
  uint32_t FindHashed(Kind kind, const char *name, size_t length, uint32_t hash) const;
  // Copies bytes into the pool; false when out of memory.
  bool Keep(const char *data, size_t length, Str *kept);
  // Registers a new item (index and order of its kind); false when out of memory.
  bool AppendItem(const Item &item, uint32_t *number);
  // Lists a section of the file among those with edits; false when out of memory.
  bool Touch(uint32_t number);
  FieldValue &FieldOf(uint32_t number, int slot) {
    return fields_[items_[number].firstField + slot];
  }
  const FieldValue &FieldOf(uint32_t number, int slot) const {
    return fields_[items_[number].firstField + slot];
  }
  // Where a value written at `rawStart` ends: the end of its line, less a
  // line end and trailing blanks.
  uint32_t ValueEnd(uint32_t rawStart) const;
  // The length of the line a value written at `rawStart` stands on, less the value.
  uint32_t LineLengthAround(uint32_t rawStart) const;
  // Makes room for the items the text may hold, by a quick count of its
  // headers, so that loading does not grow the arrays step by step. A hint:
  // where the room cannot be had, the arrays grow as they fill.
  void ReserveForText();
  uint32_t LineOf(uint32_t offset) const;
  // The slot of a field that edits may set.
  int32_t EditableSlot(uint32_t number, Field field, int *slot) const;
  // Whether a value of `length` bytes keeps the field's line within the limit.
  bool Fits(uint32_t number, int slot, const char *value, size_t length) const;
  int32_t Assign(uint32_t number, int slot, Str value);

  char *text_ = nullptr;  // the file as loaded (never null once loaded)
  uint32_t textSize_ = 0;
  uint32_t bodyStart_ = 0;  // 3 after a byte-order mark
  bool loaded_ = false;
  bool crlf_ = false;  // lines written anew end like the file's first line
  bool changed_ = false;
  char *loadedPath_ = nullptr;
  GrowableArray<char> pool_;
  GrowableArray<Item> items_;
  GrowableArray<FieldValue> fields_;
  GrowableArray<uint32_t> order_[kKindCount];
  NameIndex index_[kKindCount];
  GrowableArray<ChannelEntry> channelEntries_;
  GrowableArray<Range> ranges_;
  GrowableArray<Str> classes_;
  GrowableArray<uint32_t> touched_;  // sections of the file with edits, in file order
  GrowableArray<uint32_t> added_;    // sections added since loading, in order of adding
};

// Reads a Simulate value (true/false, 1/0, yes/no, letter case ignored).
bool ParseBoolean(const char *text, size_t length, bool *value);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_STORE_MODEL_H

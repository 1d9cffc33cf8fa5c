// A configuration store kept as the text of its file plus what was read from
// it. Loading parses the file once into items (logical names, sessions,
// drivers, devices) whose names and values are views into the text; edits are
// kept beside the text, and saving writes the text back with only the edited
// bytes changed, so comments, blank lines, order, unknown keys and unknown
// kinds of section survive byte for byte. An edit that brings a value back to
// what the file holds undoes itself: the file is then written as it was, or
// not at all.
//
// Memory: the text, plus per item one record (its name, where its section
// is, and one 4-byte slot per key of its kind) and a slot or two of its
// kind's name index. Channel and class lists are taken apart only when asked
// for. Nothing is sized from counts a file announces.
//
// The store is used by the library's file back end, by the velmora-store tool
// and by tests; it keeps to the C runtime like the library. Every operation
// that can fail answers a status of velmora.h (0 on success).
#ifndef VELMORA_CONFIG_STORE_FILE_STORE_MODEL_H
#define VELMORA_CONFIG_STORE_FILE_STORE_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include "config/file_identity.h"
#include "config/store_file/file_system.h"
#include "config/store_file/growable_array.h"
#include "config/store_file/name_index.h"
#include "config/store_file/record_blocks.h"
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

  // ---- Loading: once per store; `error` may be null. A refusal is also
  // written to the trace of file_system.h.
  int32_t LoadFile(const char *path, ParseError *error);
  int32_t LoadText(const char *data, size_t size, ParseError *error);

  // ---- Items of one kind, in file order (items added since come last).
  // Item numbers name the kind and stay valid for the life of the store.
  uint32_t Count(Kind kind) const;
  // From 0; kNoItem past the last. Constant time, logarithmic once items of
  // the kind were removed.
  uint32_t ItemAt(Kind kind, uint32_t position) const;
  // Exact bytes; kNoItem when no item of the kind has that name.
  uint32_t Find(Kind kind, const char *name, size_t length) const;

  // ---- One item (a number from ItemAt, Find or Add).
  bool IsLive(uint32_t item) const;  // known and not removed
  static Kind KindOf(uint32_t item) { return static_cast<Kind>(item >> kKindShift); }
  TextView Name(uint32_t item) const;
  // Whether the item has the key (in the file, or set since).
  bool HasValue(uint32_t item, Field field) const;
  // The value, empty when the section lacks the key or its kind has none.
  TextView Value(uint32_t item, Field field) const;
  // The item a reference field names, or kNoItem when it names none that exists.
  uint32_t Target(uint32_t item, Field reference) const;
  // Line number of the item's header in the file as loaded (0 for added items).
  uint32_t HeaderLine(uint32_t item) const;

  // Channel entries of a session and class entries of a driver, in order.
  // They are taken apart from their values the first time PrepareLists is
  // asked for the item, and kept until the value is edited; until then the
  // counts below are 0. Answers 0 or kIviIniOutOfMemory.
  int32_t PrepareLists(uint32_t item);
  uint32_t ChannelEntryCount(uint32_t session) const;
  TextView ChannelEntryName(uint32_t session, uint32_t entry) const;
  uint32_t RangeCount(uint32_t session, uint32_t entry) const;
  Range RangeAt(uint32_t session, uint32_t entry, uint32_t range) const;
  uint32_t ClassCount(uint32_t driver) const;
  TextView ClassAt(uint32_t driver, uint32_t index) const;

  // ---- Edits, each in constant or logarithmic time. Values are
  // NUL-terminated. A value equal to the one the item reads changes nothing
  // (for a key the section lacks, that is the empty string); a value equal
  // to the one the file holds undoes the edits of that key, so that its line
  // is written back byte for byte.
  // kIviIniStoreNoSuchProperty: the item's kind has no such field;
  // kIviIniStoreBadValue: the value has a line feed, would make a line over
  // the limit, or is a Simulate or Channels value the parser would refuse:
  // the store never writes a file it cannot read back. With `keepLine`, an
  // empty value is a line of its own ("Key ="), which a section that lacks
  // the key gains: the key is then present, with an empty value.
  int32_t SetValue(uint32_t item, Field field, const char *value, bool keepLine = false);
  // Takes the key's line out of the item's section (nothing when it has
  // none); setting the value the file holds again puts the line back as it
  // was.
  int32_t Unset(uint32_t item, Field field);
  // Sets a truth value (Simulate), written "true" or "false". A word that
  // already means it ("no" for false; no key at all for false too) is kept,
  // and so is the file's word when the value comes back to it.
  int32_t SetBoolean(uint32_t item, Field field, bool value);
  // Makes a reference field name `target`, an item of the kind it refers to.
  int32_t SetReference(uint32_t item, Field field, uint32_t target);
  // Appends a section; kIviIniStoreItemExists, kIviIniStoreBadName.
  int32_t Add(Kind kind, const char *name, uint32_t *item);
  // Removes the section: its header and lines up to its last key line.
  int32_t Remove(uint32_t item);
  // Whether the store, written now, would differ from the file as loaded.
  bool Changed() const { return changes_ != 0; }

  // ---- Writing: the text with the edits applied. Render hands it to
  // `write` in pieces. Save writes it over the file the store was loaded
  // from, whose path `path` must be, under the rules of SaveFile
  // (file_access.h): never over a file other than the one loaded, nor over
  // bytes other than those loaded or last saved. Nothing at all happens
  // when the file already holds what the store would write; a file over the
  // size limit, which no load would take, is refused with
  // kIviIniStoreTooLargeToSave before the file is touched.
  bool Render(PieceWriter write, void *context) const;
  int32_t Save(const char *path);

  // ---- The file: its identity as read (or as last saved), false for a
  // store loaded from text; and what the last failing file operation was.
  bool FileIdentityOf(FileIdentity *identity) const;
  const FileFailure &LastFailure() const { return failure_; }

 private:
  // An item number is its kind in the top two bits and its index among the
  // items of its kind below.
  static constexpr uint32_t kKindShift = 30;
  static constexpr uint32_t kIndexMask = (1u << kKindShift) - 1;
  static uint32_t Number(Kind kind, uint32_t index) {
    return (static_cast<uint32_t>(kind) << kKindShift) | index;
  }
  static uint32_t IndexOf(uint32_t number) { return number & kIndexMask; }

  // The record of one item; its kind's key slots follow it. A slot is 0 when
  // the key has no value, the offset of the value in the text when the value
  // is as the file has it (and needs no decoding), or kOverride and the
  // number of an Override when it was set since loading or had escapes.
  struct Item {
    Str name;
    uint32_t headerStart;  // sections of the file: offset of the header line
    uint32_t tailEnd;      // just past the line end of the section's last key line
    uint32_t nameHash;
    uint8_t flags;
    uint8_t edited;  // bit per slot: the value differs from the file's
    uint16_t unused;
  };
  static constexpr uint32_t kOverride = 0x80000000u;

  struct Override {
    Str value;          // what the key reads now
    Str loaded;         // what it read in the file
    uint32_t rawStart;  // where the file's line has its value; 0 for none
    uint8_t present;
    uint8_t loadedPresent;
  };

  enum : uint8_t {
    kRemoved = 1,  // taken out of the store
    kAdded = 2,    // not in the file as loaded: rendered whole at the end
  };

  // A key's value as it stands, or as the file had it.
  struct SlotValue {
    bool present;
    Str value;
  };

  // A kept list: channel entries of a session or class entries of a driver.
  struct ListSpan {
    uint32_t item;
    uint32_t first;
    uint32_t count;
  };

  class Parser;  // store_parser.cpp
  class Writer;  // store_writer.cpp
  friend class Parser;
  friend class Writer;

  Store();
  ~Store() = default;

  const char *Data(Str s) const {
    return (s.offset & kPoolBit) != 0 ? pool_.data() + (s.offset & ~kPoolBit) : text_ + s.offset;
  }
  TextView View(Str s) const { return {Data(s), s.length}; }
  Item &ItemOf(uint32_t number) {
    return *reinterpret_cast<Item *>(records_[number >> kKindShift].At(IndexOf(number)));
  }
  const Item &ItemOf(uint32_t number) const {
    return *reinterpret_cast<const Item *>(records_[number >> kKindShift].At(IndexOf(number)));
  }
  uint32_t *SlotsOf(uint32_t number) { return reinterpret_cast<uint32_t *>(&ItemOf(number) + 1); }
  const uint32_t *SlotsOf(uint32_t number) const {
    return reinterpret_cast<const uint32_t *>(&ItemOf(number) + 1);
  }

  int32_t Parse(ParseError *error);
  uint32_t FindHashed(Kind kind, const char *name, size_t length, uint32_t hash) const;
  // Appends an item's record; null when out of memory.
  Item *AppendRecord(Kind kind, uint32_t *number);
  // Appends an item's record and indexes its name; null when out of memory.
  Item *AppendItem(Kind kind, Str name, uint32_t hash, uint32_t *number);
  // Indexes an item's name, growing the index when needed.
  bool IndexName(uint32_t number);
  // Copies bytes into the pool; false when out of memory.
  bool Keep(const char *data, size_t length, Str *kept);

  // The value a line of the file holds at `rawStart`: the rest of the line,
  // blanks trimmed, without its quotes.
  Str FileValue(uint32_t rawStart) const;
  SlotValue SlotState(uint32_t number, int slot, bool asLoaded) const;
  SlotValue Current(uint32_t number, int slot) const { return SlotState(number, slot, false); }
  SlotValue Loaded(uint32_t number, int slot) const { return SlotState(number, slot, true); }
  uint32_t RawStart(uint32_t number, int slot) const;
  // Where a value written at `rawStart` ends: the end of its line, less a
  // line end and trailing blanks.
  uint32_t ValueEnd(uint32_t rawStart) const;
  // Whether writing a non-empty value in place of an empty one at `rawStart`
  // puts a blank before it ("Key =" becomes "Key = value").
  bool BlankGoesBefore(uint32_t rawStart, uint32_t valueEnd) const;
  uint32_t LineOf(uint32_t offset) const;

  // The slot of a field that edits may set.
  int32_t EditableSlot(uint32_t number, Field field, int *slot) const;
  // Whether the field's line stays within the limit with `value` written.
  bool Fits(uint32_t number, int slot, TextView value) const;
  // Sets a value: nothing when it reads so already, an undo when the file
  // has it, else a new value (the bytes of `shared` when given, else a copy).
  // Without `keepLine` an empty value reads as a key the section lacks.
  int32_t SetText(uint32_t number, int slot, TextView value, const Str *shared,
                  bool keepLine = false);
  int32_t Restore(uint32_t number, int slot);
  // A value that differs from the file's; `present` false takes the key out.
  int32_t Assign(uint32_t number, int slot, Str value, bool present);
  void NoteEdit(uint32_t number, int slot, bool edited);
  // Forgets the kept channel or class list of an item whose value changed.
  void DropList(uint32_t item);

  // Live items of a kind by position, once any was removed: a Fenwick tree
  // over the kind's records, 1 for a live one.
  bool BuildLiveTree(int kind);
  void AddToLiveTree(int kind, uint32_t index, int32_t delta);
  bool AppendToLiveTree(int kind);
  uint32_t SelectLive(int kind, uint32_t position) const;

  const ListSpan *ListOf(uint32_t item) const;
  int32_t ParseLists(uint32_t number, Str value);

  char *text_ = nullptr;  // the file as loaded (never null once loaded)
  uint32_t textSize_ = 0;
  uint32_t bodyStart_ = 0;  // 3 after a byte-order mark
  bool loaded_ = false;
  bool crlf_ = false;  // lines written anew end like the file's first line
  // Edits by which the store differs from the file as loaded: edited keys of
  // the file's sections, removed sections, added ones.
  int32_t changes_ = 0;
  // Counts edits, so that a store saved once knows whether the file holds it.
  uint32_t generation_ = 0;
  uint32_t savedGeneration_ = 0;
  bool saved_ = false;

  RecordBlocks records_[kKindCount];
  uint32_t fileCount_[kKindCount] = {};  // records of sections in the file
  uint32_t removed_[kKindCount] = {};
  GrowableArray<uint32_t> liveTree_[kKindCount];  // empty until an item of the kind goes
  NameIndex index_[kKindCount];
  GrowableArray<Override> overrides_;
  GrowableArray<char> pool_;
  GrowableArray<uint32_t> added_;  // items added since loading, in order of adding

  GrowableArray<ListSpan> lists_;
  NameIndex listIndex_;
  GrowableArray<ChannelEntry> channelEntries_;
  GrowableArray<Range> ranges_;
  GrowableArray<Str> classes_;

  HeapBlock textBlock_;
  HeapBlock loadedPath_;
  bool fromFile_ = false;
  FileIdentity identity_ = {};
  // What the file holds once saved: the length and checksum of what was
  // written. Until then it holds the text as loaded.
  uint64_t savedLength_ = 0;
  uint64_t savedSum_ = 0;
  FileFailure failure_ = {};
};

// Reads a Simulate value (true/false, 1/0, yes/no, letter case ignored).
bool ParseBoolean(const char *text, size_t length, bool *value);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_STORE_MODEL_H

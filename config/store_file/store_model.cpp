// The store's items: loading, questions and edits. Parsing lives in
// store_parser.cpp, writing in store_writer.cpp.
#include "config/store_file/store_model.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>

#include "config/store_file/file_access.h"
#include "config/store_file/value_quoting.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {

Store *Store::Create() {
  void *memory = malloc(sizeof(Store));
  return memory != nullptr ? new (memory) Store() : nullptr;
}

void Store::Destroy(Store *store) {
  if (store == nullptr) return;
  store->~Store();
  free(store);
}

Store::~Store() {
  free(text_);
  free(loadedPath_);
}

int32_t Store::LoadFile(const char *path, ParseError *error) {
  if (loaded_) return kIviIniBackEndFailure;
  int32_t status = kIviIniStoreNotFound;
  const char *reason = "no file is named: give a path or set VELMORA_STORE";
  if (path != nullptr && path[0] != '\0') {
    status = ReadWholeFile(path, kMaxFileBytes, &text_, &textSize_, &reason);
    if (status == kIviIniOutOfMemory) reason = "out of memory";
  }
  if (status == kIviIniSuccess) {
    const size_t length = strlen(path);
    loadedPath_ = static_cast<char *>(malloc(length + 1));
    if (loadedPath_ == nullptr) {
      status = kIviIniOutOfMemory;
      reason = "out of memory";
    } else {
      memcpy(loadedPath_, path, length + 1);
    }
  }
  if (status != kIviIniSuccess) {
    if (error != nullptr) {
      error->status = status;
      error->line = 0;
      snprintf(error->message, sizeof error->message, "cannot read the file: %s", reason);
    }
    return status;
  }
  loaded_ = true;
  return Parse(error);
}

int32_t Store::LoadText(const char *data, size_t size, ParseError *error) {
  if (loaded_) return kIviIniBackEndFailure;
  int32_t status = kIviIniSuccess;
  const char *reason = "out of memory";
  if (size > kMaxFileBytes) {
    status = kIviIniStoreFileTooLarge;
    reason = "the text is larger than 64 MiB";
  } else {
    text_ = static_cast<char *>(malloc(size + 1));  // never null once loaded
    if (text_ == nullptr) status = kIviIniOutOfMemory;
  }
  if (status != kIviIniSuccess) {
    if (error != nullptr) {
      error->status = status;
      error->line = 0;
      snprintf(error->message, sizeof error->message, "%s", reason);
    }
    return status;
  }
  if (size > 0) memcpy(text_, data, size);
  textSize_ = static_cast<uint32_t>(size);
  loaded_ = true;
  return Parse(error);
}

bool Store::Keep(const char *data, size_t length, Str *kept) {
  if (length == 0) {
    *kept = {0, 0};  // an empty string needs no bytes of its own
    return true;
  }
  const uint32_t offset = pool_.size();
  if (length > UINT32_MAX || !pool_.Append(data, static_cast<uint32_t>(length))) return false;
  *kept = {offset | kPoolBit, static_cast<uint32_t>(length)};
  return true;
}

bool Store::AppendItem(const Item &item, uint32_t *number) {
  const int k = static_cast<int>(item.kind);
  const uint32_t next = items_.size();
  const uint32_t slots = static_cast<uint32_t>(SpecOf(item.kind).keyCount);
  if (!items_.EnsureRoom(1) || !order_[k].EnsureRoom(1) || !fields_.EnsureRoom(slots)) {
    return false;
  }
  if (!index_[k].Insert(item.nameHash, next)) return false;
  items_.Append(item);
  items_.back().firstField = fields_.size();
  FieldValue *fields = fields_.Extend(slots);  // cannot fail: the room is there
  memset(fields, 0, slots * sizeof *fields);
  order_[k].Append(next);
  *number = next;
  return true;
}

void Store::ReserveForText() {
  // Every header starts with '['; so do some values. Counting them by the
  // kind their word starts with gives each kind an upper bound, close
  // enough for the arrays and indexes to be sized once.
  uint32_t headers[kKindCount] = {0, 0, 0, 0};
  const char *end = text_ + textSize_;
  for (const char *p = text_; (p = static_cast<const char *>(memchr(p, '[', end - p))) != nullptr;
       ++p) {
    const char first = end - p > 2 ? static_cast<char>(p[1] | 0x20) : '\0';
    const char second = end - p > 2 ? static_cast<char>(p[2] | 0x20) : '\0';
    if (first == 'l') ++headers[static_cast<int>(Kind::kLogicalName)];
    if (first == 's') ++headers[static_cast<int>(Kind::kSession)];
    if (first == 'd' && second == 'r') ++headers[static_cast<int>(Kind::kDriver)];
    if (first == 'd' && second == 'e') ++headers[static_cast<int>(Kind::kDevice)];
  }
  uint64_t items = 0, fields = 0;
  for (int k = 0; k < kKindCount; ++k) {
    items += headers[k];
    fields += uint64_t{headers[k]} * static_cast<uint32_t>(SpecOf(static_cast<Kind>(k)).keyCount);
    order_[k].Reserve(headers[k]);
    index_[k].Reserve(headers[k]);
  }
  if (items <= UINT32_MAX / 32 && fields <= UINT32_MAX) {
    items_.Reserve(static_cast<uint32_t>(items));
    fields_.Reserve(static_cast<uint32_t>(fields));
    pool_.Reserve(static_cast<uint32_t>(items * 24));  // names are short
  }
}

uint32_t Store::ItemAt(Kind kind, uint32_t position) const {
  const GrowableArray<uint32_t> &order = order_[static_cast<int>(kind)];
  return position < order.size() ? order[position] : kNoItem;
}

uint32_t Store::Find(Kind kind, const char *name, size_t length) const {
  if (length > UINT32_MAX) return kNoItem;
  return FindHashed(kind, name, length, HashName(name, length));
}

uint32_t Store::FindHashed(Kind kind, const char *name, size_t length, uint32_t hash) const {
  const uint32_t found = index_[static_cast<int>(kind)].Find(hash, [&](uint32_t number) {
    const Str &candidate = items_[number].name;
    return candidate.length == length && memcmp(Data(candidate), name, length) == 0;
  });
  return found == NameIndex::kAbsent ? kNoItem : found;
}

bool Store::IsLive(uint32_t item) const {
  return item < items_.size() && (items_[item].flags & kRemoved) == 0;
}

bool Store::HasValue(uint32_t item, Field field) const {
  const int slot = SlotOf(items_[item].kind, field);
  return slot >= 0 && (items_[item].present & (1u << slot)) != 0;
}

TextView Store::Value(uint32_t item, Field field) const {
  if (!HasValue(item, field)) return {text_, 0};
  return View(FieldOf(item, SlotOf(items_[item].kind, field)).value);
}

uint32_t Store::Target(uint32_t item, Field reference) const {
  Kind target;
  if (!TargetOf(reference, &target)) return kNoItem;
  const TextView name = Value(item, reference);
  return name.length == 0 ? kNoItem : Find(target, name.data, name.length);
}

uint32_t Store::LineOf(uint32_t offset) const {
  uint32_t line = 1;
  for (const char *p = text_, *end = text_ + offset;
       (p = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(end - p)))) != nullptr;
       ++p) {
    ++line;
  }
  return line;
}

uint32_t Store::HeaderLine(uint32_t item) const {
  return (items_[item].flags & kAdded) != 0 ? 0 : LineOf(items_[item].headerStart);
}

uint32_t Store::ChannelEntryCount(uint32_t session) const {
  return items_[session].kind == Kind::kSession ? items_[session].listCount : 0;
}

TextView Store::ChannelEntryName(uint32_t session, uint32_t entry) const {
  return View(channelEntries_[items_[session].listFirst + entry].name);
}

uint32_t Store::RangeCount(uint32_t session, uint32_t entry) const {
  return channelEntries_[items_[session].listFirst + entry].rangeCount;
}

Range Store::RangeAt(uint32_t session, uint32_t entry, uint32_t range) const {
  return ranges_[channelEntries_[items_[session].listFirst + entry].firstRange + range];
}

uint32_t Store::ClassCount(uint32_t driver) const {
  return items_[driver].kind == Kind::kDriver ? items_[driver].listCount : 0;
}

TextView Store::ClassAt(uint32_t driver, uint32_t index) const {
  return View(classes_[items_[driver].listFirst + index]);
}

// ---- Edits ------------------------------------------------------------------

bool Store::Touch(uint32_t number) {
  Item &item = items_[number];
  if ((item.flags & (kAdded | kTouched)) != 0) return true;
  // Kept in file order, so that writing walks the file once.
  uint32_t low = 0, high = touched_.size();
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (items_[touched_[middle]].headerStart < item.headerStart) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (!touched_.InsertAt(low, number)) return false;
  item.flags |= kTouched;
  return true;
}

uint32_t Store::ValueEnd(uint32_t rawStart) const {
  const char *start = text_ + rawStart;
  const char *lineFeed = static_cast<const char *>(memchr(start, '\n', textSize_ - rawStart));
  const char *end = lineFeed != nullptr ? lineFeed : text_ + textSize_;
  if (end > start && end[-1] == '\r') --end;  // as the parser takes line ends
  while (end > start && IsBlank(end[-1])) --end;
  return static_cast<uint32_t>(end - text_);
}

uint32_t Store::LineLengthAround(uint32_t rawStart) const {
  uint32_t lineStart = rawStart;
  while (lineStart > bodyStart_ && text_[lineStart - 1] != '\n') --lineStart;
  const uint32_t valueEnd = ValueEnd(rawStart);
  const char *after = text_ + valueEnd;
  const char *lineFeed = static_cast<const char *>(memchr(after, '\n', textSize_ - valueEnd));
  const char *lineEnd = lineFeed != nullptr ? lineFeed : text_ + textSize_;
  if (lineEnd > after && lineEnd[-1] == '\r') --lineEnd;
  return (rawStart - lineStart) + static_cast<uint32_t>(lineEnd - after);
}

int32_t Store::EditableSlot(uint32_t number, Field field, int *slot) const {
  if (!IsLive(number)) return kIviIniStoreNoSuchItem;
  *slot = SlotOf(items_[number].kind, field);
  if (*slot < 0 || field == Field::kChannels || field == Field::kClasses) {
    return kIviIniStoreNoSuchProperty;
  }
  return kIviIniSuccess;
}

bool Store::Fits(uint32_t number, int slot, const char *value, size_t length) const {
  // The line the value will be written on must stay within the limit: the
  // rest of its line in the file, or "Key = " on a line of its own (one byte
  // more is kept for a blank that may go before the value).
  const Item &item = items_[number];
  const size_t around = (item.inFile & (1u << slot)) != 0
                            ? LineLengthAround(FieldOf(number, slot).rawStart) + 1
                            : strlen(SpecOf(item.kind).keys[slot].key) + 3;
  return length <= kMaxLineBytes &&
         around + EncodedLength(value, length, QuoteRule::kValue) <= kMaxLineBytes;
}

int32_t Store::Assign(uint32_t number, int slot, Str value) {
  const uint8_t bit = static_cast<uint8_t>(1u << slot);
  const FieldValue &current = FieldOf(number, slot);
  if ((items_[number].present & bit) != 0 && current.value.length == value.length &&
      memcmp(Data(current.value), Data(value), value.length) == 0) {
    return kIviIniSuccess;  // nothing changes, and the file is not rewritten for it
  }
  if (!Touch(number)) return kIviIniOutOfMemory;
  FieldOf(number, slot).value = value;
  Item &item = items_[number];
  item.present |= bit;
  item.edited |= bit;
  changed_ = true;
  return kIviIniSuccess;
}

int32_t Store::SetValue(uint32_t number, Field field, const char *value) {
  int slot;
  const int32_t status = EditableSlot(number, field, &slot);
  if (status != kIviIniSuccess) return status;
  if (value == nullptr) return kIviIniStoreBadValue;
  const size_t length = strlen(value);
  if (memchr(value, '\n', length) != nullptr || !Fits(number, slot, value, length)) {
    return kIviIniStoreBadValue;
  }
  const TextView current = Value(number, field);
  if (HasValue(number, field) && current.length == length &&
      memcmp(current.data, value, length) == 0) {
    return kIviIniSuccess;  // spares the pool a copy
  }
  Str kept;
  if (!Keep(value, length, &kept)) return kIviIniOutOfMemory;
  return Assign(number, slot, kept);
}

int32_t Store::SetReference(uint32_t number, Field field, uint32_t target) {
  int slot;
  const int32_t status = EditableSlot(number, field, &slot);
  if (status != kIviIniSuccess) return status;
  Kind kind;
  if (!TargetOf(field, &kind)) return kIviIniStoreNoSuchProperty;
  if (!IsLive(target) || items_[target].kind != kind) return kIviIniStoreNoSuchItem;
  // Names never change, so the value can share the target's bytes.
  const Str name = items_[target].name;
  if (!Fits(number, slot, Data(name), name.length)) return kIviIniStoreBadValue;
  return Assign(number, slot, name);
}

int32_t Store::Add(Kind kind, const char *name, uint32_t *number) {
  if (!loaded_) return kIviIniBackEndFailure;
  if (name == nullptr) return kIviIniStoreBadName;
  const size_t length = strlen(name);
  const size_t header = strlen(SpecOf(kind).name) + 3;  // "[Kind Name]"
  if (length == 0 || memchr(name, '\n', length) != nullptr || length > kMaxLineBytes ||
      header + EncodedLength(name, length, QuoteRule::kName) > kMaxLineBytes) {
    return kIviIniStoreBadName;
  }
  if (Find(kind, name, length) != kNoItem) return kIviIniStoreItemExists;

  Item item;
  memset(&item, 0, sizeof item);
  item.kind = kind;
  item.flags = kAdded;
  item.nameHash = HashName(name, length);
  uint32_t added;
  if (!Keep(name, length, &item.name) || !added_.EnsureRoom(1) || !AppendItem(item, &added)) {
    return kIviIniOutOfMemory;
  }
  added_.Append(added);
  changed_ = true;
  if (number != nullptr) *number = added;
  return kIviIniSuccess;
}

int32_t Store::Remove(uint32_t number) {
  if (!IsLive(number)) return kIviIniStoreNoSuchItem;
  if (!Touch(number)) return kIviIniOutOfMemory;
  Item &item = items_[number];
  const int k = static_cast<int>(item.kind);
  index_[k].Erase(item.nameHash, number);
  GrowableArray<uint32_t> &order = order_[k];
  for (uint32_t i = 0; i < order.size(); ++i) {
    if (order[i] == number) {
      order.EraseAt(i);
      break;
    }
  }
  item.flags |= kRemoved;
  changed_ = true;
  return kIviIniSuccess;
}

bool ParseBoolean(const char *text, size_t length, bool *value) {
  static const struct {
    const char *word;
    bool value;
  } kWords[] = {{"true", true}, {"false", false}, {"1", true},
                {"0", false},   {"yes", true},    {"no", false}};
  if (length == 0 || length > 5) return false;
  for (const auto &known : kWords) {
    if (strlen(known.word) == length && strncasecmp(text, known.word, length) == 0) {
      *value = known.value;
      return true;
    }
  }
  return false;
}

}  // namespace store
}  // namespace velmora

// The store's items: loading, questions and edits. Parsing lives in
// store_parser.cpp, writing in store_writer.cpp.
#include "config/store_file/store_model.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "config/store_file/channel_list.h"
#include "config/store_file/file_access.h"
#include "config/store_file/value_quoting.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

uint32_t HashItem(uint32_t item) {
  uint32_t hash = item * 0x9E3779B1u;
  return hash ^ (hash >> 15);
}

bool SameText(TextView a, const char *data, size_t length) {
  return a.length == length && (length == 0 || memcmp(a.data, data, length) == 0);
}

}  // namespace

Store *Store::Create() {
  void *memory = malloc(sizeof(Store));
  return memory != nullptr ? new (memory) Store() : nullptr;
}

void Store::Destroy(Store *store) {
  if (store == nullptr) return;
  store->~Store();
  free(store);
}

Store::Store() {
  for (int k = 0; k < kKindCount; ++k) {
    const uint32_t slots = static_cast<uint32_t>(SpecOf(static_cast<Kind>(k)).keyCount);
    records_[k].SetRecordSize(static_cast<uint32_t>(sizeof(Item) + slots * sizeof(uint32_t)));
  }
}

// ---- Loading ------------------------------------------------------------------

int32_t Store::LoadFile(const char *path, ParseError *error) {
  if (loaded_) return kIviIniBackEndFailure;
  int32_t status;
  if (path == nullptr || path[0] == '\0') {
    status = Fail(&failure_, kIviIniStoreNotFound, FileStep::kOpen, "", 0,
                  "no file is named: give a path or set VELMORA_STORE");
  } else {
    status = ReadWholeFile(path, kMaxFileBytes, &text_, &textSize_, &identity_, &failure_);
    if (status == kIviIniSuccess) textBlock_.Reset(text_);
  }
  if (status == kIviIniSuccess) {
    const size_t length = strlen(path);
    loadedPath_.Reset(malloc(length + 1));
    if (loadedPath_.get() == nullptr) {
      status = kIviIniOutOfMemory;
    } else {
      memcpy(loadedPath_.get(), path, length + 1);
    }
  }
  if (status != kIviIniSuccess) {
    if (error != nullptr) {
      error->status = status;
      error->line = 0;
      if (status == kIviIniOutOfMemory) {
        snprintf(error->message, sizeof error->message, "out of memory");
      } else {
        DescribeFailure(failure_, nullptr, error->message, sizeof error->message);
      }
    }
    return status;
  }
  loaded_ = true;
  fromFile_ = true;
  ParseError local;
  ParseError &reported = error != nullptr ? *error : local;
  status = Parse(&reported);
  if (status != kIviIniSuccess && status != kIviIniOutOfMemory) {
    // A refused file is worth a line in the trace: it says why a program
    // finds no configuration.
    // Traced only: LastFailure is about the file system, which did its part.
    char line[sizeof reported.message + 64];
    snprintf(line, sizeof line, "line %u: %s", reported.line, reported.message);
    Fail(nullptr, status, FileStep::kRead, path, 0, line);
  }
  return status;
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
    textBlock_.Reset(text_);
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

Store::Item *Store::AppendRecord(Kind kind, uint32_t *number) {
  const int k = static_cast<int>(kind);
  const uint32_t index = records_[k].size();
  if (index > kIndexMask) return nullptr;
  if (!liveTree_[k].empty() && !liveTree_[k].EnsureRoom(1)) return nullptr;
  char *record = records_[k].Append();
  if (record == nullptr) return nullptr;
  if (!liveTree_[k].empty()) AppendToLiveTree(k);
  *number = Number(kind, index);
  return reinterpret_cast<Item *>(record);
}

bool Store::IndexName(uint32_t number) {
  const int k = static_cast<int>(KindOf(number));
  return index_[k].Insert(ItemOf(number).nameHash, IndexOf(number), [this, k](uint32_t entry) {
    return reinterpret_cast<const Item *>(records_[k].At(entry))->nameHash;
  });
}

Store::Item *Store::AppendItem(Kind kind, Str name, uint32_t hash, uint32_t *number) {
  Item *item = AppendRecord(kind, number);
  if (item == nullptr) return nullptr;
  item->name = name;
  item->nameHash = hash;
  if (!IndexName(*number)) {
    // Taken back: the record is the last one, and nothing refers to it yet.
    records_[static_cast<int>(kind)].PopBack();
    if (!liveTree_[static_cast<int>(kind)].empty()) {
      liveTree_[static_cast<int>(kind)].Truncate(liveTree_[static_cast<int>(kind)].size() - 1);
    }
    return nullptr;
  }
  return item;
}

// ---- Questions --------------------------------------------------------------

uint32_t Store::Count(Kind kind) const {
  const int k = static_cast<int>(kind);
  return records_[k].size() - removed_[k];
}

uint32_t Store::ItemAt(Kind kind, uint32_t position) const {
  const int k = static_cast<int>(kind);
  if (position >= Count(kind)) return kNoItem;
  return Number(kind, removed_[k] == 0 ? position : SelectLive(k, position));
}

uint32_t Store::Find(Kind kind, const char *name, size_t length) const {
  if (length > UINT32_MAX) return kNoItem;
  return FindHashed(kind, name, length, HashName(name, length));
}

uint32_t Store::FindHashed(Kind kind, const char *name, size_t length, uint32_t hash) const {
  const int k = static_cast<int>(kind);
  const uint32_t found = index_[k].Find(hash, [&](uint32_t index) {
    const Item &item = *reinterpret_cast<const Item *>(records_[k].At(index));
    return item.nameHash == hash && item.name.length == length &&
           memcmp(Data(item.name), name, length) == 0;
  });
  return found == NameIndex::kAbsent ? kNoItem : Number(kind, found);
}

bool Store::IsLive(uint32_t item) const {
  if (item == kNoItem) return false;
  const uint32_t index = IndexOf(item);
  return index < records_[item >> kKindShift].size() && (ItemOf(item).flags & kRemoved) == 0;
}

TextView Store::Name(uint32_t item) const {
  return View(ItemOf(item).name);
}

Str Store::FileValue(uint32_t rawStart) const {
  const char *start = text_ + rawStart;
  const char *end = TrimEnd(start, LineAt(start, text_ + textSize_).contentEnd);
  const uint32_t length = static_cast<uint32_t>(end - start);
  // A quoted value whose escapes needed decoding is kept decoded instead.
  if (length >= 2 && *start == '"') return {rawStart + 1, length - 2};
  return {rawStart, length};
}

Store::SlotValue Store::SlotState(uint32_t number, int slot, bool asLoaded) const {
  const uint32_t s = SlotsOf(number)[slot];
  if (s == 0) return {false, {0, 0}};
  if ((s & kOverride) == 0) return {true, FileValue(s)};
  const Override &o = overrides_[s & ~kOverride];
  return asLoaded ? SlotValue{o.loadedPresent != 0, o.loaded} : SlotValue{o.present != 0, o.value};
}

uint32_t Store::RawStart(uint32_t number, int slot) const {
  const uint32_t s = SlotsOf(number)[slot];
  return (s & kOverride) == 0 ? s : overrides_[s & ~kOverride].rawStart;
}

bool Store::HasValue(uint32_t item, Field field) const {
  const int slot = SlotOf(KindOf(item), field);
  return slot >= 0 && Current(item, slot).present;
}

TextView Store::Value(uint32_t item, Field field) const {
  const int slot = SlotOf(KindOf(item), field);
  if (slot < 0) return {text_, 0};
  const SlotValue value = Current(item, slot);
  return value.present ? View(value.value) : TextView{text_, 0};
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
  const Item &record = ItemOf(item);
  return (record.flags & kAdded) != 0 ? 0 : LineOf(record.headerStart);
}

bool Store::FileIdentityOf(FileIdentity *identity) const {
  if (!fromFile_) return false;
  *identity = identity_;
  return true;
}

// ---- Channel and class lists ----------------------------------------------------

const Store::ListSpan *Store::ListOf(uint32_t item) const {
  const uint32_t found = listIndex_.Find(
      HashItem(item), [this, item](uint32_t span) { return lists_[span].item == item; });
  return found == NameIndex::kAbsent ? nullptr : &lists_[found];
}

int32_t Store::PrepareLists(uint32_t item) {
  if (!IsLive(item)) return kIviIniStoreNoSuchItem;
  const Kind kind = KindOf(item);
  const int slot = SlotOf(kind, kind == Kind::kSession ? Field::kChannels : Field::kClasses);
  if (slot < 0 || ListOf(item) != nullptr) return kIviIniSuccess;
  const SlotValue value = Current(item, slot);
  return ParseLists(item, value.present ? value.value : Str{0, 0});
}

int32_t Store::ParseLists(uint32_t number, Str value) {
  const bool session = KindOf(number) == Kind::kSession;
  const uint32_t entries = channelEntries_.size(), ranges = ranges_.size();
  const uint32_t classes = classes_.size();
  const char *text = Data(value);
  int32_t status = kIviIniSuccess;
  if (session) {
    const char *problem = nullptr;
    status = ParseChannelList(text, value.length, value, &channelEntries_, &ranges_, &problem);
  } else {
    // Class entries: the comma-separated pieces of the value, blanks
    // trimmed; empty pieces name nothing.
    const char *end = text + value.length;
    for (const char *p = text; status == kIviIniSuccess && p <= end;) {
      const char *comma = static_cast<const char *>(memchr(p, ',', static_cast<size_t>(end - p)));
      const char *pieceEnd = comma != nullptr ? comma : end;
      const char *start = p;
      while (start < pieceEnd && IsBlank(*start)) ++start;
      pieceEnd = TrimEnd(start, pieceEnd);
      const Str entry = {value.offset + static_cast<uint32_t>(start - text),
                         static_cast<uint32_t>(pieceEnd - start)};
      if (pieceEnd > start && !classes_.Append(entry)) status = kIviIniOutOfMemory;
      if (comma == nullptr) break;
      p = comma + 1;
    }
  }
  const uint32_t first = session ? entries : classes;
  const uint32_t count = (session ? channelEntries_.size() : classes_.size()) - first;
  if (status == kIviIniSuccess && !lists_.Append({number, first, count})) {
    status = kIviIniOutOfMemory;
  }
  if (status == kIviIniSuccess &&
      !listIndex_.Insert(HashItem(number), lists_.size() - 1,
                         [this](uint32_t span) { return HashItem(lists_[span].item); })) {
    lists_.Truncate(lists_.size() - 1);
    status = kIviIniOutOfMemory;
  }
  if (status != kIviIniSuccess) {
    channelEntries_.Truncate(entries);
    ranges_.Truncate(ranges);
    classes_.Truncate(classes);
  }
  return status;
}

uint32_t Store::ChannelEntryCount(uint32_t session) const {
  const ListSpan *list = KindOf(session) == Kind::kSession ? ListOf(session) : nullptr;
  return list != nullptr ? list->count : 0;
}

TextView Store::ChannelEntryName(uint32_t session, uint32_t entry) const {
  return View(channelEntries_[ListOf(session)->first + entry].name);
}

uint32_t Store::RangeCount(uint32_t session, uint32_t entry) const {
  return channelEntries_[ListOf(session)->first + entry].rangeCount;
}

Range Store::RangeAt(uint32_t session, uint32_t entry, uint32_t range) const {
  return ranges_[channelEntries_[ListOf(session)->first + entry].firstRange + range];
}

uint32_t Store::ClassCount(uint32_t driver) const {
  const ListSpan *list = KindOf(driver) == Kind::kDriver ? ListOf(driver) : nullptr;
  return list != nullptr ? list->count : 0;
}

TextView Store::ClassAt(uint32_t driver, uint32_t index) const {
  return View(classes_[ListOf(driver)->first + index]);
}

// ---- Live items by position ------------------------------------------------------

bool Store::BuildLiveTree(int k) {
  const uint32_t n = records_[k].size();
  GrowableArray<uint32_t> &tree = liveTree_[k];
  if (tree.Extend(n + 1) == nullptr) return false;
  tree[0] = 0;
  for (uint32_t i = 1; i <= n; ++i) {
    const auto &item = *reinterpret_cast<const Item *>(records_[k].At(i - 1));
    tree[i] = (item.flags & kRemoved) == 0 ? 1 : 0;
  }
  for (uint32_t i = 1; i <= n; ++i) {
    const uint32_t parent = i + (i & (0u - i));
    if (parent <= n) tree[parent] += tree[i];
  }
  return true;
}

void Store::AddToLiveTree(int k, uint32_t index, int32_t delta) {
  GrowableArray<uint32_t> &tree = liveTree_[k];
  for (uint32_t i = index + 1; i < tree.size(); i += i & (0u - i)) {
    tree[i] += static_cast<uint32_t>(delta);
  }
}

// A new live record at the end: its node sums itself and the nodes it covers.
bool Store::AppendToLiveTree(int k) {
  GrowableArray<uint32_t> &tree = liveTree_[k];
  const uint32_t i = tree.size();
  uint32_t sum = 1;
  for (uint32_t j = i - 1; j > i - (i & (0u - i)); j -= j & (0u - j)) sum += tree[j];
  return tree.Append(sum);
}

uint32_t Store::SelectLive(int k, uint32_t position) const {
  const GrowableArray<uint32_t> &tree = liveTree_[k];
  const uint32_t n = tree.size() - 1;
  uint32_t step = 1;
  while (step * 2 <= n) step *= 2;
  uint32_t at = 0, remaining = position + 1;
  for (; step > 0; step /= 2) {
    if (at + step <= n && tree[at + step] < remaining) {
      at += step;
      remaining -= tree[at];
    }
  }
  return at;  // the index of the record: node at + 1
}

// ---- Edits ------------------------------------------------------------------

uint32_t Store::ValueEnd(uint32_t rawStart) const {
  const char *start = text_ + rawStart;
  return static_cast<uint32_t>(TrimEnd(start, LineAt(start, text_ + textSize_).contentEnd) - text_);
}

bool Store::BlankGoesBefore(uint32_t rawStart, uint32_t valueEnd) const {
  return valueEnd == rawStart && text_[rawStart - 1] == '=';
}

int32_t Store::EditableSlot(uint32_t number, Field field, int *slot) const {
  if (!IsLive(number)) return kIviIniStoreNoSuchItem;
  *slot = SlotOf(KindOf(number), field);
  return *slot < 0 ? kIviIniStoreNoSuchProperty : kIviIniSuccess;
}

bool Store::Fits(uint32_t number, int slot, TextView value) const {
  if (value.length > kMaxLineBytes) return false;
  const size_t encoded = EncodedLength(value.data, value.length, QuoteRule::kValue);
  const uint32_t rawStart = RawStart(number, slot);
  if (rawStart == 0) {  // "Key = value" (or "Key =") on a line of its own
    const size_t key = SpecOf(KindOf(number)).keys[slot].length;
    return key + (value.length == 0 ? 2 : 3 + encoded) <= kMaxLineBytes;
  }
  // The line as the writer will write it: what stands before the value, a
  // blank where "Key =" had nothing, the value, and what followed it.
  uint32_t lineStart = rawStart;
  while (lineStart > bodyStart_ && text_[lineStart - 1] != '\n') --lineStart;
  const uint32_t valueEnd = ValueEnd(rawStart);
  const char *after = text_ + valueEnd;
  const size_t following = static_cast<size_t>(LineAt(after, text_ + textSize_).contentEnd - after);
  const size_t blank = value.length > 0 && BlankGoesBefore(rawStart, valueEnd) ? 1 : 0;
  return (rawStart - lineStart) + blank + encoded + following <= kMaxLineBytes;
}

void Store::NoteEdit(uint32_t number, int slot, bool edited) {
  Item &item = ItemOf(number);
  const uint8_t bit = static_cast<uint8_t>(1u << slot);
  ++generation_;
  const Field field = SpecOf(KindOf(number)).keys[slot].field;
  if (field == Field::kChannels || field == Field::kClasses) DropList(number);
  if (((item.edited & bit) != 0) == edited) return;
  item.edited = static_cast<uint8_t>(edited ? item.edited | bit : item.edited & ~bit);
  // An added section counts once, as a whole.
  if ((item.flags & kAdded) == 0) changes_ += edited ? 1 : -1;
}

void Store::DropList(uint32_t item) {
  const uint32_t hash = HashItem(item);
  const uint32_t span =
      listIndex_.Find(hash, [this, item](uint32_t s) { return lists_[s].item == item; });
  // The old entries stay in their arrays, unreferenced, until the store goes:
  // lists are edited rarely, and moving the other lists' spans is not worth it.
  if (span != NameIndex::kAbsent) listIndex_.Erase(hash, span);
}

int32_t Store::Restore(uint32_t number, int slot) {
  Override &o = overrides_[SlotsOf(number)[slot] & ~kOverride];
  o.value = o.loaded;
  o.present = o.loadedPresent;
  NoteEdit(number, slot, false);
  return kIviIniSuccess;
}

int32_t Store::Assign(uint32_t number, int slot, Str value, bool present) {
  uint32_t &s = SlotsOf(number)[slot];
  if ((s & kOverride) == 0) {
    const Override o = {
        {0, 0}, s != 0 ? FileValue(s) : Str{0, 0}, s, 0, static_cast<uint8_t>(s != 0 ? 1 : 0)};
    if (overrides_.size() >= kOverride || !overrides_.Append(o)) return kIviIniOutOfMemory;
    s = kOverride | (overrides_.size() - 1);
  }
  Override &o = overrides_[s & ~kOverride];
  o.value = value;
  o.present = present ? 1 : 0;
  NoteEdit(number, slot, true);
  return kIviIniSuccess;
}

int32_t Store::SetText(uint32_t number, int slot, TextView value, const Str *shared,
                       bool keepLine) {
  const bool readsAsLacking = value.length == 0 && !keepLine;
  const SlotValue current = Current(number, slot);
  if (current.present ? SameText(View(current.value), value.data, value.length) : readsAsLacking) {
    return kIviIniSuccess;  // it reads so already
  }
  const SlotValue loaded = Loaded(number, slot);
  if (loaded.present ? SameText(View(loaded.value), value.data, value.length) : readsAsLacking) {
    return Restore(number, slot);  // back to the file's own bytes
  }
  // What the parser would refuse, no edit writes.
  const Field field = SpecOf(KindOf(number)).keys[slot].field;
  bool simulate;
  const char *problem;
  if (memchr(value.data, '\n', value.length) != nullptr || !Fits(number, slot, value) ||
      (field == Field::kSimulate && !ParseBoolean(value.data, value.length, &simulate)) ||
      (field == Field::kChannels && ParseChannelList(value.data, value.length, {0, 0}, nullptr,
                                                     nullptr, &problem) != kIviIniSuccess)) {
    return kIviIniStoreBadValue;
  }
  Str kept;
  if (shared != nullptr) {
    kept = *shared;
  } else if (!Keep(value.data, value.length, &kept)) {
    return kIviIniOutOfMemory;
  }
  return Assign(number, slot, kept, true);
}

int32_t Store::SetValue(uint32_t number, Field field, const char *value, bool keepLine) {
  int slot;
  const int32_t status = EditableSlot(number, field, &slot);
  if (status != kIviIniSuccess) return status;
  if (value == nullptr) return kIviIniStoreBadValue;
  const TextView text = {value, static_cast<uint32_t>(strnlen(value, kMaxLineBytes + 1))};
  if (text.length > kMaxLineBytes) return kIviIniStoreBadValue;
  return SetText(number, slot, text, nullptr, keepLine);
}

int32_t Store::Unset(uint32_t number, Field field) {
  int slot;
  const int32_t status = EditableSlot(number, field, &slot);
  if (status != kIviIniSuccess) return status;
  if (!Current(number, slot).present) return kIviIniSuccess;
  // A key the file lacks was set since: it goes back to lacking it.
  if (!Loaded(number, slot).present) return Restore(number, slot);
  return Assign(number, slot, {0, 0}, false);
}

int32_t Store::SetBoolean(uint32_t number, Field field, bool value) {
  int slot;
  const int32_t status = EditableSlot(number, field, &slot);
  if (status != kIviIniSuccess) return status;
  // What a value means: no value at all is false, as for a session that
  // never says it simulates.
  const auto means = [this, value](SlotValue v) {
    bool meant = false;
    return (!v.present || ParseBoolean(Data(v.value), v.value.length, &meant)) && meant == value;
  };
  if (means(Current(number, slot))) return kIviIniSuccess;
  if (means(Loaded(number, slot))) return Restore(number, slot);
  const char *word = value ? "true" : "false";
  return SetText(number, slot, {word, static_cast<uint32_t>(strlen(word))}, nullptr);
}

int32_t Store::SetReference(uint32_t number, Field field, uint32_t target) {
  int slot;
  const int32_t status = EditableSlot(number, field, &slot);
  if (status != kIviIniSuccess) return status;
  Kind kind;
  if (!TargetOf(field, &kind)) return kIviIniStoreNoSuchProperty;
  if (!IsLive(target) || KindOf(target) != kind) return kIviIniStoreNoSuchItem;
  // Names never change, so the value can share the target's bytes.
  const Str name = ItemOf(target).name;
  return SetText(number, slot, View(name), &name);
}

int32_t Store::Add(Kind kind, const char *name, uint32_t *number) {
  if (!loaded_) return kIviIniBackEndFailure;
  if (name == nullptr) return kIviIniStoreBadName;
  const size_t length = strnlen(name, kMaxLineBytes + 1);
  const size_t header = SpecOf(kind).nameLength + 3;  // "[Kind Name]"
  if (length == 0 || memchr(name, '\n', length) != nullptr || length > kMaxLineBytes ||
      header + EncodedLength(name, length, QuoteRule::kName) > kMaxLineBytes) {
    return kIviIniStoreBadName;
  }
  const uint32_t hash = HashName(name, length);
  if (FindHashed(kind, name, length, hash) != kNoItem) return kIviIniStoreItemExists;

  Str kept;
  uint32_t added;
  if (!Keep(name, length, &kept) || !added_.EnsureRoom(1)) return kIviIniOutOfMemory;
  Item *item = AppendItem(kind, kept, hash, &added);
  if (item == nullptr) return kIviIniOutOfMemory;
  item->flags = kAdded;
  added_.Append(added);
  ++changes_;
  ++generation_;
  if (number != nullptr) *number = added;
  return kIviIniSuccess;
}

int32_t Store::Remove(uint32_t number) {
  if (!IsLive(number)) return kIviIniStoreNoSuchItem;
  const int k = static_cast<int>(KindOf(number));
  // From the first removal of its kind on, positions come from the tree.
  if (liveTree_[k].empty() && !BuildLiveTree(k)) return kIviIniOutOfMemory;
  Item &item = ItemOf(number);
  index_[k].Erase(item.nameHash, IndexOf(number));
  item.flags |= kRemoved;
  ++removed_[k];
  AddToLiveTree(k, IndexOf(number), -1);
  // A removed section's edits no longer count: it counts once, as a whole.
  if ((item.flags & kAdded) != 0) {
    --changes_;
  } else {
    changes_ += 1 - __builtin_popcount(item.edited);
  }
  ++generation_;
  return kIviIniSuccess;
}

bool ParseBoolean(const char *text, size_t length, bool *value) {
  // The six words, letter case aside, one of each length but 1: read on
  // every Simulate line.
  static const char *const kWords[] = {nullptr, "01", "no", "yes", "true", "false"};
  if (length == 0 || length > 5) return false;
  if (length == 1) {
    if (text[0] != '0' && text[0] != '1') return false;
    *value = text[0] == '1';
    return true;
  }
  const char *word = kWords[length];
  for (size_t i = 0; i < length; ++i) {
    if ((text[i] | 0x20) != word[i]) return false;  // folding lowers a capital
  }
  *value = length != 2 && length != 5;
  return true;
}

}  // namespace store
}  // namespace velmora

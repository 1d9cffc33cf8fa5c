// Reading a store file: one pass over the text, one line at a time, with no
// allocation per line. Names and values stay where they are in the text; an
// item's record keeps where each of its values starts, and only quoted ones
// with escapes are decoded into the pool. The name indexes are built after
// the pass, each at once for the items there are, and that is where a second
// section of a name shows. The first problem in file order ends the load
// with its status, line number and a sentence that says what is wrong.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "config/store_file/channel_list.h"
#include "config/store_file/store_model.h"
#include "config/store_file/value_quoting.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {

class Store::Parser {
 public:
  Parser(Store &store, ParseError *error) : s_(store), error_(error) {}

  int32_t Run() { return Index(Lines()); }

 private:
  enum class Section { kNone, kKnown, kUnknown };

  int32_t Lines() {
    const char *text = s_.text_;
    const char *end = text + s_.textSize_;
    // A NUL would cut every C string made from the file short. It is looked
    // for once, and reported when the pass reaches its line, so that a
    // problem on an earlier line is named first.
    const char *nul = static_cast<const char *>(memchr(text, '\0', s_.textSize_));
    if (nul == nullptr) nul = end;
    const char *p = text;
    if (s_.textSize_ >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) p += 3;
    s_.bodyStart_ = static_cast<uint32_t>(p - text);

    bool sawLineEnd = false;
    while (p < end) {
      ++line_;
      lineStart_ = p;
      const LineSpan span = LineAt(p, end);
      if (nul < span.next) {
        return Fail(kIviIniStoreNulByte, "the line holds a NUL byte: this is not a text file");
      }
      if (!sawLineEnd && span.next[-1] == '\n') {
        s_.crlf_ = span.next - span.contentEnd == 2;
        sawLineEnd = true;
      }
      if (span.contentEnd - p > static_cast<ptrdiff_t>(kMaxLineBytes)) {
        return Fail(kIviIniStoreLineTooLong, "the line is %ld bytes long; at most %u are allowed",
                    static_cast<long>(span.contentEnd - p), kMaxLineBytes);
      }
      const int32_t status = Line(p, span.contentEnd, span.next);
      if (status != kIviIniSuccess) return status;
      p = span.next;
    }
    return kIviIniSuccess;
  }

  // Indexes the names of the items read, kind by kind, each index sized at
  // once for them. A name met twice is refused, unless the pass stopped at a
  // problem earlier in the file.
  int32_t Index(int32_t status) {
    if (status == kIviIniOutOfMemory) return status;
    const uint32_t stopped = status == kIviIniSuccess ? UINT32_MAX : Offset(lineStart_);
    uint32_t second = kNoItem, first = kNoItem;
    for (int k = 0; k < kKindCount; ++k) {
      const Kind kind = static_cast<Kind>(k);
      if (!s_.index_[k].Reserve(s_.records_[k].size())) return OutOfMemory();
      for (uint32_t i = 0; i < s_.records_[k].size(); ++i) {
        const Item &item = s_.ItemOf(Store::Number(kind, i));
        const char *name = s_.Data(item.name);
        const uint32_t previous = s_.index_[k].FindOrPlace(item.nameHash, i, [&](uint32_t other) {
          const Item &candidate = s_.ItemOf(Store::Number(kind, other));
          return candidate.nameHash == item.nameHash && candidate.name.length == item.name.length &&
                 memcmp(s_.Data(candidate.name), name, item.name.length) == 0;
        });
        if (previous == NameIndex::kAbsent) continue;
        const uint32_t at = item.headerStart;
        if (at < stopped && (second == kNoItem || at < s_.ItemOf(second).headerStart)) {
          second = Store::Number(kind, i);
          first = Store::Number(kind, previous);
        }
        break;  // the kind's first repeated name is its earliest
      }
    }
    if (second == kNoItem) return status;
    const TextView name = s_.Name(second);
    line_ = s_.HeaderLine(second);
    return Fail(kIviIniStoreDuplicateSection, "a second [%s %.*s] section; the first is on line %u",
                SpecOf(Store::KindOf(second)).name, Shown(name.length), name.data,
                s_.HeaderLine(first));
  }

  uint32_t Offset(const char *p) const { return static_cast<uint32_t>(p - s_.text_); }

  int32_t Line(const char *start, const char *end, const char *next) {
    const char *p = start;
    SkipBlanks(p, end);
    if (p == end || *p == '#' || *p == ';') return kIviIniSuccess;
    if (*p == '[') return Header(start, p, end, next);
    // A section of a kind this store does not know is kept as it is and
    // never read, so nothing in it is refused either.
    if (section_ == Section::kUnknown) return kIviIniSuccess;
    return KeyLine(p, end, next);
  }

  // [Kind Name] or [Kind "Name"]. A header of a kind this store does not
  // know opens a section that is kept as it is; only its kind word is read.
  int32_t Header(const char *lineStart, const char *p, const char *end, const char *next) {
    ++p;
    SkipBlanks(p, end);
    const char *word = p;
    while (p < end && !IsBlank(*p) && *p != ']') ++p;
    const size_t wordLength = static_cast<size_t>(p - word);
    if (wordLength == 0) return Fail(kIviIniStoreBadHeader, "a header is [Kind Name]");
    Kind kind;
    if (!KindFromWord(word, wordLength, &kind)) {
      section_ = Section::kUnknown;
      return kIviIniSuccess;
    }
    SkipBlanks(p, end);

    const char *name = p;
    size_t nameLength = 0;
    QuotedText quoted = {nullptr, 0, false};
    if (p < end && *p == '"') {
      const char *problem;
      if (!ScanQuoted(p, end, &quoted, &problem)) {
        return Fail(kIviIniStoreBadQuoting, "in the quoted name: %s", problem);
      }
      p = quoted.closing + 1;
      SkipBlanks(p, end);
      if (p == end || *p != ']') {
        return Fail(kIviIniStoreBadHeader, "']' must follow the quoted name");
      }
      ++name;
      nameLength = quoted.decodedLength;
    } else {
      const char *close = static_cast<const char *>(memchr(p, ']', end - p));
      if (close == nullptr) return Fail(kIviIniStoreBadHeader, "the header's ']' is missing");
      p = close;
      nameLength = static_cast<size_t>(TrimEnd(name, close) - name);
    }
    ++p;  // past ']'
    SkipBlanks(p, end);
    if (p != end) return Fail(kIviIniStoreBadHeader, "text follows the header's ']'");
    const char *kindName = SpecOf(kind).name;
    if (nameLength == 0) return Fail(kIviIniStoreBadHeader, "a %s section needs a name", kindName);

    Str itemName;
    if (!Decoded(quoted, name, nameLength, &itemName)) return OutOfMemory();
    uint32_t number;
    item_ = s_.AppendRecord(kind, &number);
    if (item_ == nullptr) return OutOfMemory();
    item_->name = itemName;
    item_->nameHash = HashName(s_.Data(itemName), nameLength);
    item_->headerStart = Offset(lineStart);
    item_->tailEnd = Offset(next);
    slots_ = s_.SlotsOf(number);
    kind_ = kind;
    ++s_.fileCount_[static_cast<int>(kind)];
    section_ = Section::kKnown;
    return kIviIniSuccess;
  }

  int32_t KeyLine(const char *p, const char *end, const char *next) {
    // Most lines spell a key of their section's kind: matched at once.
    const char *equals = nullptr;
    int slot = section_ == Section::kKnown ? MatchKeyLine(kind_, p, end, &equals) : -1;
    size_t keyLength = slot >= 0 ? SpecOf(kind_).keys[slot].length : 0;
    if (slot < 0) {
      equals = static_cast<const char *>(memchr(p, '=', static_cast<size_t>(end - p)));
      if (equals == nullptr) {
        return Fail(kIviIniStoreBadLine,
                    "expected a [Kind Name] header, a Key = Value line, a comment or a blank "
                    "line");
      }
      keyLength = static_cast<size_t>(TrimEnd(p, equals) - p);
      if (keyLength == 0) return Fail(kIviIniStoreBadLine, "the line has no key before '='");
      if (section_ == Section::kNone) {
        return Fail(kIviIniStoreKeyOutsideSection,
                    "'%.*s' comes before the first [Kind Name] header", Shown(keyLength), p);
      }
      slot = SlotOfKey(kind_, p, keyLength);
    }

    const char *raw = equals + 1;
    SkipBlanks(raw, end);
    QuotedText quoted = {nullptr, 0, false};
    if (raw < end && *raw == '"') {
      const char *rawEnd = TrimEnd(raw, end);
      const char *problem;
      if (!ScanQuoted(raw, rawEnd, &quoted, &problem)) {
        return Fail(kIviIniStoreBadQuoting, "in the value of '%.*s': %s", Shown(keyLength), p,
                    problem);
      }
      if (quoted.closing + 1 != rawEnd) {
        return Fail(kIviIniStoreBadQuoting, "text follows the closing quote of '%.*s'",
                    Shown(keyLength), p);
      }
    }

    // Every key line, known or not, moves the place where new keys go.
    item_->tailEnd = Offset(next);
    if (slot < 0) return kIviIniSuccess;  // kept in the file, not read
    if (slots_[slot] != 0) {
      return Fail(kIviIniStoreDuplicateKey, "a second '%s' key in this %s section",
                  SpecOf(kind_).keys[slot].key, SpecOf(kind_).name);
    }
    const uint32_t rawStart = Offset(raw);
    Str value = {0, 0};
    if (quoted.escaped) {
      if (!Decoded(quoted, raw + 1, quoted.decodedLength, &value)) return OutOfMemory();
      const Override decoded = {value, value, rawStart, 1, 1};
      if (!s_.overrides_.Append(decoded)) return OutOfMemory();
      slots_[slot] = kOverride | (s_.overrides_.size() - 1);
    } else {
      slots_[slot] = rawStart;
    }
    const Field field = SpecOf(kind_).keys[slot].field;
    if (field != Field::kSimulate && field != Field::kChannels) return kIviIniSuccess;
    if (!quoted.escaped) {
      value = quoted.closing != nullptr
                  ? Str{rawStart + 1, quoted.decodedLength}
                  : Str{rawStart, static_cast<uint32_t>(TrimEnd(raw, end) - raw)};
    }
    return Interpret(field, value);
  }

  // Checks the values that are more than text. Channel lists are taken apart
  // again when they are asked for; here they are only checked.
  int32_t Interpret(Field field, Str value) {
    const char *text = s_.Data(value);
    if (field == Field::kSimulate) {
      bool simulate;
      if (ParseBoolean(text, value.length, &simulate)) return kIviIniSuccess;
      return Fail(kIviIniStoreBadSimulate, "Simulate is '%.*s'; it takes true or false",
                  Shown(value.length), text);
    }
    if (field == Field::kChannels) {
      const char *problem = nullptr;
      const int32_t status =
          ParseChannelList(text, value.length, value, nullptr, nullptr, &problem);
      if (status == kIviIniStoreBadChannels) return Fail(status, "in Channels: %s", problem);
      return status;
    }
    return kIviIniSuccess;
  }

  // The string a name or value stands for: its bytes in the text, unless
  // escapes had to be resolved into the pool. `text` follows the opening
  // quote of a quoted one.
  bool Decoded(const QuotedText &quoted, const char *text, size_t length, Str *out) {
    if (!quoted.escaped) {
      *out = {length > 0 ? Offset(text) : 0, static_cast<uint32_t>(length)};
      return true;
    }
    const uint32_t offset = s_.pool_.size();
    char *decoded = s_.pool_.Extend(static_cast<uint32_t>(length));
    if (decoded == nullptr) return false;
    DecodeQuoted(text - 1, quoted, decoded);
    *out = {offset | kPoolBit, static_cast<uint32_t>(length)};
    return true;
  }

  static void SkipBlanks(const char *&p, const char *end) {
    while (p < end && IsBlank(*p)) ++p;
  }

  // Names and keys quoted in messages are cut to a readable length.
  static int Shown(size_t length) { return length < 60 ? static_cast<int>(length) : 60; }

  int32_t OutOfMemory() { return Fail(kIviIniOutOfMemory, "out of memory"); }

  __attribute__((format(printf, 3, 4))) int32_t Fail(int32_t status, const char *format, ...) {
    if (error_ != nullptr) {
      error_->status = status;
      error_->line = line_;
      va_list arguments;
      va_start(arguments, format);
      vsnprintf(error_->message, sizeof error_->message, format, arguments);
      va_end(arguments);
    }
    return status;
  }

  Store &s_;
  ParseError *error_;
  uint32_t line_ = 0;
  const char *lineStart_ = nullptr;  // of the line being read
  Section section_ = Section::kNone;
  // The known section being read: its record (which never moves) and slots.
  Item *item_ = nullptr;
  uint32_t *slots_ = nullptr;
  Kind kind_ = Kind::kLogicalName;
};

int32_t Store::Parse(ParseError *error) {
  Parser parser(*this, error);
  return parser.Run();
}

}  // namespace store
}  // namespace velmora

// Reading a store file: one pass over the text, one line at a time, with no
// allocation per line. Names and values stay where they are in the text;
// only quoted ones with escapes are decoded into the pool. The first problem
// ends the pass with its status, line number and a sentence that says what
// is wrong.
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

  int32_t Run() {
    const char *text = s_.text_;
    const char *end = text + s_.textSize_;
    // A NUL would cut every C string made from the file short.
    const char *nul = static_cast<const char *>(memchr(text, '\0', s_.textSize_));
    if (nul != nullptr) {
      line_ = s_.LineOf(static_cast<uint32_t>(nul - text));
      return Fail(kIviIniStoreNulByte, "the line holds a NUL byte: this is not a text file");
    }
    const char *p = text;
    if (s_.textSize_ >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) p += 3;
    s_.bodyStart_ = static_cast<uint32_t>(p - text);

    bool sawLineEnd = false;
    while (p < end) {
      ++line_;
      const char *lineFeed = static_cast<const char *>(memchr(p, '\n', end - p));
      const char *contentEnd = lineFeed != nullptr ? lineFeed : end;
      const char *next = lineFeed != nullptr ? lineFeed + 1 : end;
      // A carriage return ends a line only before a line feed, or as the last
      // byte of the file (a CRLF cut short): elsewhere it is text.
      if (contentEnd > p && contentEnd[-1] == '\r') --contentEnd;
      if (!sawLineEnd && lineFeed != nullptr) {
        s_.crlf_ = contentEnd != lineFeed;
        sawLineEnd = true;
      }
      if (contentEnd - p > static_cast<ptrdiff_t>(kMaxLineBytes)) {
        return Fail(kIviIniStoreLineTooLong, "the line is %ld bytes long; at most %u are allowed",
                    static_cast<long>(contentEnd - p), kMaxLineBytes);
      }
      const int32_t status = Line(p, contentEnd, next);
      if (status != kIviIniSuccess) return status;
      p = next;
    }
    return kIviIniSuccess;
  }

 private:
  enum class Section { kNone, kKnown, kUnknown };

  uint32_t Offset(const char *p) const { return static_cast<uint32_t>(p - s_.text_); }

  int32_t Line(const char *start, const char *end, const char *next) {
    const char *p = start;
    while (p < end && IsBlank(*p)) ++p;
    if (p == end || *p == '#' || *p == ';') return kIviIniSuccess;
    if (*p == '[') return Header(start, p, end, next);
    return KeyLine(p, end, next);
  }

  // [Kind Name] or [Kind "Name"]; a kind this store does not know opens a
  // section that is kept as it is.
  int32_t Header(const char *lineStart, const char *p, const char *end, const char *next) {
    ++p;
    SkipBlanks(p, end);
    const char *word = p;
    while (p < end && !IsBlank(*p) && *p != ']') ++p;
    const size_t wordLength = static_cast<size_t>(p - word);
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
      if (p == end || *p != ']')
        return Fail(kIviIniStoreBadHeader, "']' must follow the quoted name");
      ++name;
      nameLength = quoted.decodedLength;
    } else {
      const char *close = static_cast<const char *>(memchr(p, ']', end - p));
      if (close == nullptr) return Fail(kIviIniStoreBadHeader, "the header's ']' is missing");
      p = close;
      const char *nameEnd = close;
      while (nameEnd > name && IsBlank(nameEnd[-1])) --nameEnd;
      nameLength = static_cast<size_t>(nameEnd - name);
    }
    ++p;  // past ']'
    SkipBlanks(p, end);
    if (p != end) return Fail(kIviIniStoreBadHeader, "text follows the header's ']'");
    if (wordLength == 0) return Fail(kIviIniStoreBadHeader, "a header is [Kind Name]");

    Kind kind;
    if (!KindFromWord(word, wordLength, &kind)) {
      section_ = Section::kUnknown;
      return kIviIniSuccess;
    }
    const char *kindName = SpecOf(kind).name;
    if (nameLength == 0) return Fail(kIviIniStoreBadHeader, "a %s section needs a name", kindName);

    Item item;
    memset(&item, 0, sizeof item);
    item.kind = kind;
    item.headerStart = Offset(lineStart);
    item.tailEnd = Offset(next);
    // Names are copied together into the pool, so that looking one up reads
    // a compact block rather than lines all over the file.
    const bool kept = quoted.escaped ? Decoded(quoted, name, nameLength, &item.name)
                                     : s_.Keep(name, nameLength, &item.name);
    if (!kept) return OutOfMemory();
    const char *itemName = s_.Data(item.name);
    item.nameHash = HashName(itemName, nameLength);
    const uint32_t previous = s_.FindHashed(kind, itemName, nameLength, item.nameHash);
    if (previous != kNoItem) {
      return Fail(kIviIniStoreDuplicateSection,
                  "a second [%s %.*s] section; the first is on line %u", kindName,
                  Shown(nameLength), itemName, s_.HeaderLine(previous));
    }
    if (!s_.AppendItem(item, &item_)) return OutOfMemory();
    section_ = Section::kKnown;
    return kIviIniSuccess;
  }

  int32_t KeyLine(const char *p, const char *end, const char *next) {
    const char *equals = static_cast<const char *>(memchr(p, '=', end - p));
    if (equals == nullptr) {
      return Fail(kIviIniStoreBadLine,
                  "expected a [Kind Name] header, a Key = Value line, a comment or a blank line");
    }
    const char *keyEnd = equals;
    while (keyEnd > p && IsBlank(keyEnd[-1])) --keyEnd;
    const size_t keyLength = static_cast<size_t>(keyEnd - p);
    if (keyLength == 0) return Fail(kIviIniStoreBadLine, "the line has no key before '='");
    if (section_ == Section::kNone) {
      return Fail(kIviIniStoreKeyOutsideSection, "'%.*s' comes before the first [Kind Name] header",
                  Shown(keyLength), p);
    }

    const char *raw = equals + 1;
    SkipBlanks(raw, end);
    const char *rawEnd = end;
    while (rawEnd > raw && IsBlank(rawEnd[-1])) --rawEnd;
    const char *value = raw;
    size_t valueLength = static_cast<size_t>(rawEnd - raw);
    QuotedText quoted = {nullptr, 0, false};
    if (raw < rawEnd && *raw == '"') {
      const char *problem;
      if (!ScanQuoted(raw, rawEnd, &quoted, &problem)) {
        return Fail(kIviIniStoreBadQuoting, "in the value of '%.*s': %s", Shown(keyLength), p,
                    problem);
      }
      if (quoted.closing + 1 != rawEnd) {
        return Fail(kIviIniStoreBadQuoting, "text follows the closing quote of '%.*s'",
                    Shown(keyLength), p);
      }
      value = raw + 1;
      valueLength = quoted.decodedLength;
    }
    if (section_ == Section::kUnknown) return kIviIniSuccess;

    // Every key line, known or not, moves the place where new keys go.
    s_.items_[item_].tailEnd = Offset(next);
    const Kind kind = s_.items_[item_].kind;
    const int slot = SlotOfKey(kind, p, keyLength);
    if (slot < 0) return kIviIniSuccess;  // kept in the file, not read
    const uint8_t bit = static_cast<uint8_t>(1u << slot);
    if ((s_.items_[item_].present & bit) != 0) {
      return Fail(kIviIniStoreDuplicateKey, "a second '%s' key in this %s section",
                  SpecOf(kind).keys[slot].key, SpecOf(kind).name);
    }

    FieldValue field = {{0, 0}, Offset(raw)};
    if (!Decoded(quoted, value, valueLength, &field.value)) return OutOfMemory();
    const int32_t status = Interpret(SpecOf(kind).keys[slot].field, field.value);
    if (status != kIviIniSuccess) return status;
    s_.FieldOf(item_, slot) = field;
    Item &item = s_.items_[item_];
    item.inFile |= bit;
    item.present |= bit;
    return kIviIniSuccess;
  }

  // Checks and takes apart the values that are more than text.
  int32_t Interpret(Field field, Str value) {
    const char *text = s_.Data(value);
    switch (field) {
      case Field::kSimulate: {
        bool simulate;
        if (ParseBoolean(text, value.length, &simulate)) return kIviIniSuccess;
        return Fail(kIviIniStoreBadSimulate, "Simulate is '%.*s'; it takes true or false",
                    Shown(value.length), text);
      }
      case Field::kChannels: {
        const uint32_t first = s_.channelEntries_.size();
        const char *problem = nullptr;
        const int32_t status =
            ParseChannelList(text, value.length, value, s_.channelEntries_, s_.ranges_, &problem);
        if (status == kIviIniStoreBadChannels) return Fail(status, "in Channels: %s", problem);
        if (status != kIviIniSuccess) return OutOfMemory();
        s_.items_[item_].listFirst = first;
        s_.items_[item_].listCount = s_.channelEntries_.size() - first;
        return kIviIniSuccess;
      }
      case Field::kClasses:
        return SplitClasses(text, value);
      default:
        return kIviIniSuccess;
    }
  }

  // Class entries: the comma-separated pieces of the value, blanks trimmed;
  // empty pieces name nothing.
  int32_t SplitClasses(const char *text, Str value) {
    const uint32_t first = s_.classes_.size();
    const char *end = text + value.length;
    for (const char *p = text; p <= end;) {
      const char *comma = static_cast<const char *>(memchr(p, ',', end - p));
      const char *pieceEnd = comma != nullptr ? comma : end;
      const char *start = p;
      SkipBlanks(start, pieceEnd);
      while (pieceEnd > start && IsBlank(pieceEnd[-1])) --pieceEnd;
      if (pieceEnd > start) {
        const Str entry = {value.offset + static_cast<uint32_t>(start - text),
                           static_cast<uint32_t>(pieceEnd - start)};
        if (!s_.classes_.Append(entry)) return OutOfMemory();
      }
      if (comma == nullptr) break;
      p = comma + 1;
    }
    s_.items_[item_].listFirst = first;
    s_.items_[item_].listCount = s_.classes_.size() - first;
    return kIviIniSuccess;
  }

  // The string a name or value stands for: its bytes in the text, unless
  // escapes had to be resolved into the pool.
  bool Decoded(const QuotedText &quoted, const char *text, size_t length, Str *out) {
    if (!quoted.escaped) {
      *out = {length > 0 ? Offset(text) : 0, static_cast<uint32_t>(length)};
      return true;
    }
    const uint32_t offset = s_.pool_.size();
    char *decoded = s_.pool_.Extend(static_cast<uint32_t>(length));
    if (decoded == nullptr) return false;
    DecodeQuoted(text - 1, quoted, decoded);  // `text` follows the opening quote
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
  Section section_ = Section::kNone;
  uint32_t item_ = kNoItem;  // the known section being read
};

int32_t Store::Parse(ParseError *error) {
  ReserveForText();
  Parser parser(*this, error);
  return parser.Run();
}

}  // namespace store
}  // namespace velmora

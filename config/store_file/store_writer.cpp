// Writing a store back: the file's bytes as they were loaded, except for the
// edits. A changed value is rewritten where it stands on its line; a key a
// section lacked goes on a new line after the section's last key line; an
// unset key loses its line, line end included; a
// removed section loses its header and the lines up to its last key line;
// added sections come at the end, each after a blank line. Lines written anew
// end like the file's first line.
#include <string.h>

#include "config/store_file/file_access.h"
#include "config/store_file/store_model.h"
#include "config/store_file/value_quoting.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {

class Store::Writer {
 public:
  Writer(const Store &store, PieceWriter write, void *context)
      : s_(store), write_(write), context_(context) {}

  bool Run() {
    // The byte-order mark goes first and does not count as a line's text.
    if (!write_(context_, s_.text_, s_.bodyStart_)) return false;
    uint32_t copied = s_.bodyStart_;
    // The sections with edits, in file order: each kind's records are in
    // file order, so the earliest of the four next ones comes first.
    uint32_t next[kKindCount] = {0, 0, 0, 0};
    for (;;) {
      uint32_t earliest = kNoItem;
      for (int k = 0; k < kKindCount; ++k) {
        while (next[k] < s_.fileCount_[k] && !Touched(Number(static_cast<Kind>(k), next[k]))) {
          ++next[k];
        }
        if (next[k] == s_.fileCount_[k]) continue;
        const uint32_t number = Number(static_cast<Kind>(k), next[k]);
        if (earliest == kNoItem ||
            s_.ItemOf(number).headerStart < s_.ItemOf(earliest).headerStart) {
          earliest = number;
        }
      }
      if (earliest == kNoItem) break;
      ++next[static_cast<int>(KindOf(earliest))];
      if (!Section(earliest, &copied)) return false;
    }
    if (!Put(s_.text_ + copied, s_.textSize_ - copied)) return false;
    for (uint32_t i = 0; i < s_.added_.size(); ++i) {
      const uint32_t number = s_.added_[i];
      if ((s_.ItemOf(number).flags & kRemoved) == 0 && !Added(number)) return false;
    }
    return true;
  }

 private:
  bool Touched(uint32_t number) const {
    const Item &item = s_.ItemOf(number);
    return (item.flags & kRemoved) != 0 || item.edited != 0;
  }

  // A section of the file with edits; everything before it that was not yet
  // written is copied first.
  bool Section(uint32_t number, uint32_t *copied) {
    const Item &item = s_.ItemOf(number);
    if (!Put(s_.text_ + *copied, item.headerStart - *copied)) return false;
    *copied = item.tailEnd;
    if ((item.flags & kRemoved) != 0) return true;

    // Changed values of lines in the file, in the order they stand.
    int slots[kMaxFields];
    int changed = 0;
    unsigned lacking = 0;
    for (int slot = 0; slot < SpecOf(KindOf(number)).keyCount; ++slot) {
      if ((item.edited & (1u << slot)) == 0) continue;
      const uint32_t rawStart = s_.RawStart(number, slot);
      if (rawStart == 0) {
        lacking |= 1u << slot;
        continue;
      }
      int i = changed++;
      for (; i > 0 && s_.RawStart(number, slots[i - 1]) > rawStart; --i) slots[i] = slots[i - 1];
      slots[i] = slot;
    }
    uint32_t position = item.headerStart;
    for (int i = 0; i < changed; ++i) {
      const uint32_t rawStart = s_.RawStart(number, slots[i]);
      const SlotValue current = s_.Current(number, slots[i]);
      if (!current.present) {
        uint32_t lineStart = rawStart;
        while (lineStart > s_.bodyStart_ && s_.text_[lineStart - 1] != '\n') --lineStart;
        if (!Put(s_.text_ + position, lineStart - position)) return false;
        const char *next = LineAt(s_.text_ + rawStart, s_.text_ + s_.textSize_).next;
        position = static_cast<uint32_t>(next - s_.text_);
        continue;
      }
      const TextView value = s_.View(current.value);
      // An emptied value leaves no blanks behind its '='.
      uint32_t before = rawStart;
      while (value.length == 0 && before > position && IsBlank(s_.text_[before - 1])) --before;
      if (!Put(s_.text_ + position, before - position)) return false;
      // "Key =" with nothing after it gets a blank before its new value;
      // "Key=old" keeps its style.
      const uint32_t end = s_.ValueEnd(rawStart);
      if (value.length > 0 && s_.BlankGoesBefore(rawStart, end) && !Put(" ", 1)) return false;
      if (!PutEncoded(value, QuoteRule::kValue)) return false;
      position = end;
    }
    if (!Put(s_.text_ + position, item.tailEnd - position)) return false;
    if (lacking == 0) return true;
    return StartLine() && KeyLines(number, lacking);
  }

  bool Added(uint32_t number) {
    unsigned present = 0;
    for (int slot = 0; slot < SpecOf(KindOf(number)).keyCount; ++slot) {
      if (s_.Current(number, slot).present) present |= 1u << slot;
    }
    if (!StartLine()) return false;
    if (!(last_ == '\n' && beforeLast_ == '\n') && !PutLineEnd()) return false;
    const char *kind = SpecOf(KindOf(number)).name;
    return Put("[", 1) && Put(kind, strlen(kind)) && Put(" ", 1) &&
           PutEncoded(s_.View(s_.ItemOf(number).name), QuoteRule::kName) && Put("]", 1) &&
           PutLineEnd() && KeyLines(number, present);
  }

  // "Key = Value" lines for the slots in `slots`, in slot order.
  bool KeyLines(uint32_t number, unsigned slots) {
    const KindSpec &spec = SpecOf(KindOf(number));
    for (int slot = 0; slot < spec.keyCount; ++slot) {
      if ((slots & (1u << slot)) == 0) continue;
      const TextView value = s_.View(s_.Current(number, slot).value);
      const char *key = spec.keys[slot].key;
      if (!Put(key, strlen(key))) return false;
      if (value.length == 0 ? !Put(" =", 2)
                            : !(Put(" = ", 3) && PutEncoded(value, QuoteRule::kValue))) {
        return false;
      }
      if (!PutLineEnd()) return false;
    }
    return true;
  }

  bool PutEncoded(TextView text, QuoteRule rule) {
    return WriteEncoded(
        text, rule,
        [](void *self, const char *data, size_t length) {
          return static_cast<Writer *>(self)->Put(data, length);
        },
        this);
  }

  // Ends the line written last, unless it has ended. A file may end in a
  // CRLF cut short: its carriage return is completed, not doubled.
  bool StartLine() {
    if (lastByte_ == '\r') return Put("\n", 1);
    return last_ == '\n' || PutLineEnd();
  }

  bool PutLineEnd() { return s_.crlf_ ? Put("\r\n", 2) : Put("\n", 1); }

  bool Put(const char *data, size_t length) {
    if (length == 0) return true;
    if (!write_(context_, data, length)) return false;
    lastByte_ = data[length - 1];
    // Remember the last two bytes other than carriage returns: enough to
    // tell whether the output ends a line, or a blank line.
    char found[2];
    int count = 0;
    for (size_t i = length; i > 0 && count < 2; --i) {
      if (data[i - 1] != '\r') found[count++] = data[i - 1];
    }
    if (count == 2) {
      last_ = found[0];
      beforeLast_ = found[1];
    } else if (count == 1) {
      beforeLast_ = last_;
      last_ = found[0];
    }
    return true;
  }

  const Store &s_;
  PieceWriter write_;
  void *context_;
  // The start of the file counts as following a blank line.
  char last_ = '\n';
  char beforeLast_ = '\n';
  char lastByte_ = '\n';
};

bool Store::Render(PieceWriter write, void *context) const {
  if (!loaded_) return false;
  Writer writer(*this, write, context);
  return writer.Run();
}

int32_t Store::Save(const char *path) {
  // The library saves a store where it loaded it, and only there.
  if (!fromFile_ || path == nullptr ||
      strcmp(path, static_cast<const char *>(loadedPath_.get())) != 0) {
    return kIviIniBackEndFailure;
  }
  // Nothing is written when the file holds what the store would write:
  // not after edits that cancel out, nor again after a save.
  const bool differs = saved_ ? generation_ != savedGeneration_ : changes_ != 0;
  if (!differs) return kIviIniSuccess;
  // LastFailure speaks of this save only.
  failure_.step = FileStep::kNone;
  const KnownContent known = saved_ ? KnownContent{nullptr, savedLength_, savedSum_}
                                    : KnownContent{text_, textSize_, 0};
  const NewContent content = {[](const void *store, PieceWriter write, void *context) {
                                return static_cast<const Store *>(store)->Render(write, context);
                              },
                              this, kMaxFileBytes};
  SavedFile written;
  const int32_t status = SaveFile(path, identity_, known, content, &written, &failure_);
  if (status == kIviIniSuccess) {
    identity_ = written.identity;
    savedLength_ = written.length;
    savedSum_ = written.sum;
    saved_ = true;
    savedGeneration_ = generation_;
  }
  return status;
}

}  // namespace store
}  // namespace velmora

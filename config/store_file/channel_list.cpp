#include "config/store_file/channel_list.h"

#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

class ChannelListParser {
 public:
  ChannelListParser(const char *text, uint32_t length)
      : text_(text), p_(text), end_(text + length) {}

  int32_t Parse(Str where, GrowableArray<ChannelEntry> *entries, GrowableArray<Range> *ranges) {
    SkipBlanks();
    if (p_ == end_) return kIviIniSuccess;  // no channel entries at all
    for (;;) {
      SkipBlanks();
      const char *nameStart = p_;
      while (p_ < end_ && *p_ != ',' && *p_ != '[' && *p_ != ']') ++p_;
      const char *nameEnd = p_;
      while (nameEnd > nameStart && IsBlank(nameEnd[-1])) --nameEnd;
      if (nameEnd == nameStart) return Fail("a channel entry has no name");
      if (p_ < end_ && *p_ == ']') return Fail("a ']' without its '['");

      ChannelEntry entry = {{where.offset + static_cast<uint32_t>(nameStart - text_),
                             static_cast<uint32_t>(nameEnd - nameStart)},
                            ranges != nullptr ? ranges->size() : 0,
                            0};
      if (p_ < end_ && *p_ == '[') {
        ++p_;
        const int32_t status = ParseRanges(ranges, entry);
        if (status != kIviIniSuccess) return status;
      }
      if (entries != nullptr && !entries->Append(entry)) return kIviIniOutOfMemory;
      SkipBlanks();
      if (p_ == end_) return kIviIniSuccess;
      if (*p_ != ',') return Fail("channel entries are separated by ','");
      ++p_;
    }
  }

  const char *problem() const { return problem_; }

 private:
  int32_t ParseRanges(GrowableArray<Range> *ranges, ChannelEntry &entry) {
    for (;;) {
      Range range;
      SkipBlanks();
      if (!ParseInteger(&range.low)) return Fail("a range needs an integer: low..high or one");
      range.high = range.low;
      SkipBlanks();
      if (end_ - p_ >= 2 && p_[0] == '.' && p_[1] == '.') {
        p_ += 2;
        SkipBlanks();
        if (!ParseInteger(&range.high)) return Fail("a range needs its high bound after '..'");
        SkipBlanks();
      }
      if (range.low > range.high) return Fail("a range's low bound is above its high bound");
      if (ranges != nullptr && !ranges->Append(range)) return kIviIniOutOfMemory;
      ++entry.rangeCount;
      if (p_ < end_ && *p_ == ',') {
        ++p_;
      } else if (p_ < end_ && *p_ == ']') {
        ++p_;
        return kIviIniSuccess;
      } else {
        return Fail("ranges are separated by ',' and closed by ']'");
      }
    }
  }

  // A signed 32-bit decimal integer: an optional '-' and digits.
  bool ParseInteger(int32_t *value) {
    const bool negative = p_ < end_ && *p_ == '-';
    if (negative) ++p_;
    const char *digits = p_;
    int64_t magnitude = 0;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
      magnitude = magnitude * 10 + (*p_ - '0');
      if (magnitude > int64_t{INT32_MAX} + 1) return false;
      ++p_;
    }
    if (p_ == digits) return false;
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX) return false;
    *value = static_cast<int32_t>(signedValue);
    return true;
  }

  void SkipBlanks() {
    while (p_ < end_ && IsBlank(*p_)) ++p_;
  }

  int32_t Fail(const char *problem) {
    problem_ = problem;
    return kIviIniStoreBadChannels;
  }

  const char *text_;
  const char *p_;
  const char *end_;
  const char *problem_ = nullptr;
};

}  // namespace

int32_t ParseChannelList(const char *text, uint32_t length, Str where,
                         GrowableArray<ChannelEntry> *entries, GrowableArray<Range> *ranges,
                         const char **problem) {
  ChannelListParser parser(text, length);
  const int32_t status = parser.Parse(where, entries, ranges);
  if (status == kIviIniStoreBadChannels) *problem = parser.problem();
  return status;
}

}  // namespace store
}  // namespace velmora

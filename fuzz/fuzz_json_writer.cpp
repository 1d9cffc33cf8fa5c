// Drives random sequences of record and writer operations on one status
// record and checks each step against a plain std::string model of the text:
// the text always scans as exactly one object, the buffer layout and its end
// marker hold, nothing is written past the capacity (guard bytes, plus ASan
// on exact-size allocations), a failed insertion leaves the text unchanged,
// and success or failure is exactly what the room and the growth policy allow.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/status_record.h"

namespace {

constexpr std::uint32_t kGuardSize = 32;
constexpr unsigned char kGuardByte = 0xA5;
// Growth beyond this is refused, which also exercises failed growth.
constexpr std::uint32_t kMaxCapacity = 1u << 16;
constexpr int kMaxSteps = 256;
constexpr std::size_t kMaxNameLength = 48;
constexpr std::size_t kMaxValueLength = 700;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The resize hook's policy, switchable by the input.
bool g_refuse_growth = false;

// Allocates exactly the size asked for (at least 4), followed by guard bytes,
// so that the capacity boundaries are hit exactly and any write past the
// capacity shows.
bool FuzzResize(StatusRecord *record, std::uint32_t size) {
  // Releasing is the default hook's job; only growth is the fuzzer's own.
  if (size == 0) return status_default_resize(record, 0);
  if (size <= record->capacity) return true;
  if (g_refuse_growth || size > kMaxCapacity) return false;
  const std::uint32_t capacity = std::max<std::uint32_t>(size, kStatusMinCapacity);
  char *json = static_cast<char *>(std::malloc(capacity + kGuardSize));
  if (json == nullptr) return false;
  const char *old = record->json != nullptr ? record->json : "{}";
  const std::size_t length = std::strlen(old);
  std::memcpy(json, old, length);
  std::memset(json + length, 0, capacity - length - 1);
  json[capacity - 1] = kJsonEndMarker;
  std::memset(json + capacity, kGuardByte, kGuardSize);
  std::free(record->json);
  record->json = json;
  record->capacity = capacity;
  return true;
}

std::string Escape(const std::string &raw) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : raw) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

bool Taken(std::int32_t current, std::int32_t offered) {
  if (current == 0) return offered != 0;
  return current > 0 && offered < 0;
}

class Harness {
 public:
  explicit Harness(FuzzedDataProvider &input) : in_(input) {}
  ~Harness() { status_release(&record_); }

  void Run() {
    for (int step = 0; step < kMaxSteps && in_.remaining_bytes() > 0; ++step) {
      switch (in_.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: Insert(Kind::kString); break;
        case 1: Insert(Kind::kInt); break;
        case 2: Insert(Kind::kObject); break;
        case 3: Close(); break;
        case 4: Refetch(); break;
        case 5: SetCode(); break;
        case 6: SetError(); break;
        case 7: g_refuse_growth = !g_refuse_growth; break;
        case 8: Release(); break;
        case 9: Insert(in_.ConsumeBool() ? Kind::kString : Kind::kObject); break;
      }
      CheckInvariants();
    }
  }

 private:
  enum class Kind { kString, kInt, kObject };

  // Capacity the record reaches when it must hold `needed` text characters,
  // growing as status_grow does; 0 when growth fails on the way.
  std::uint32_t CapacityAfterGrowth(std::uint32_t capacity, std::size_t needed) const {
    while (needed + kJsonLayoutOverhead > capacity) {
      const std::uint32_t request = 2u * (capacity - kJsonLayoutOverhead);
      if (capacity == 0 || request > kStatusMaxRequest) return 0;
      const std::uint32_t size = request + kJsonLayoutOverhead;
      Check(size > capacity);  // every growth step asks for more
      if (g_refuse_growth || size > kMaxCapacity) return 0;
      capacity = size;
    }
    return capacity;
  }

  // What an insertion at model offset `at` (a closing brace) writes.
  std::string Inserted(std::size_t at, const std::string &member) const {
    std::size_t p = at;
    while (p > 0 && std::strchr(" \t\n\r", model_[p - 1]) != nullptr) --p;
    const bool empty = p > 0 && model_[p - 1] == '{';
    return (empty ? "" : ",") + member;
  }

  void Insert(Kind kind) {
    const std::string name = in_.ConsumeRandomLengthString(kMaxNameLength);
    const bool growing = in_.ConsumeBool();
    std::string value;
    std::int32_t number = 0;
    std::string member = "\"" + Escape(name.c_str()) + "\":";
    switch (kind) {
      case Kind::kString:
        value = in_.ConsumeRandomLengthString(kMaxValueLength);
        member += "\"" + Escape(value.c_str()) + "\"";
        break;
      case Kind::kInt:
        number = in_.ConsumeIntegral<std::int32_t>();
        member += std::to_string(number);
        break;
      case Kind::kObject:
        member += "{}";
        break;
    }
    char *const cursor = have_cursor_ ? cursor_ : nullptr;
    const GrowHandler grow = status_grow_handler(&record_);
    char *result = nullptr;
    switch (kind) {
      case Kind::kString:
        result = growing ? json_add_string(record_.json, cursor, name.c_str(), value.c_str(), grow)
                         : json_add_string(record_.json, cursor, name.c_str(), value.c_str());
        break;
      case Kind::kInt:
        result = growing ? json_add_int(record_.json, cursor, name.c_str(), number, grow)
                         : json_add_int(record_.json, cursor, name.c_str(), number);
        break;
      case Kind::kObject:
        result = growing ? json_open_object(record_.json, cursor, name.c_str(), grow)
                         : json_open_object(record_.json, cursor, name.c_str());
        break;
    }
    if (!have_cursor_) {
      Check(result == nullptr);
      return;
    }
    const std::string inserted = Inserted(offset_, member);
    const std::size_t needed = model_.size() + inserted.size();
    const std::uint32_t expected_capacity =
        growing ? CapacityAfterGrowth(record_.capacity, needed)
                : (needed + kJsonLayoutOverhead <= record_.capacity ? record_.capacity : 0);
    if (expected_capacity == 0) {
      // Failed: the text is as it was (checked against the model below), and
      // like every caller we drop the broken cursor chain.
      Check(result == nullptr);
      have_cursor_ = false;
      return;
    }
    Check(result != nullptr);
    Check(record_.capacity == expected_capacity);
    model_.insert(offset_, inserted);
    offset_ += inserted.size();
    if (kind == Kind::kObject) {
      --offset_;  // on the new object's closing brace
      ++depth_;
    }
    Check(result == record_.json + offset_);
    cursor_ = result;
  }

  void Close() {
    if (!have_cursor_) {
      Check(json_close_object(nullptr) == nullptr);
      return;
    }
    char *result = json_close_object(cursor_);
    Check(result == cursor_ + 1);
    ++offset_;
    if (depth_ > 1) {
      --depth_;
      Check(model_[offset_] == '}');
      cursor_ = result;
    } else {
      // Past the top-level object: inserting there would add a second value.
      Check(offset_ == model_.size());
      have_cursor_ = false;
    }
  }

  void Refetch() {
    const std::uint32_t request = in_.ConsumeIntegralInRange<std::uint32_t>(0, 2048);
    const std::uint32_t size = request + kJsonLayoutOverhead;
    const bool needs_hook = size > record_.capacity;
    const bool ok = !needs_hook || (!g_refuse_growth && size <= kMaxCapacity);
    char *end = status_json_end(&record_, request);
    if (!ok) {
      Check(end == nullptr);
      return;
    }
    if (!has_text_) {
      model_ = "{}";
      has_text_ = true;
    }
    Check(end == record_.json + model_.size() - 1);
    cursor_ = end;
    offset_ = model_.size() - 1;
    depth_ = 1;
    have_cursor_ = true;
  }

  std::int32_t ConsumeCode() {
    static const std::int32_t kCodes[] = {0, 1, 5, -3, -52005, INT32_MIN, INT32_MAX};
    return in_.ConsumeBool() ? in_.PickValueInArray(kCodes) : in_.ConsumeIntegral<std::int32_t>();
  }

  // Bookkeeping common to status_set_code and status_set_error.
  bool TakeCode(std::int32_t code, bool taken) {
    Check(taken == Taken(code_, code));
    if (!taken) return false;
    code_ = code;
    if (has_text_) model_ = "{}";
    have_cursor_ = false;
    return true;
  }

  void SetCode() {
    const std::int32_t code = ConsumeCode();
    TakeCode(code, status_set_code(&record_, code));
  }

  void SetError() {
    const std::int32_t code = ConsumeCode();
    const std::string file = in_.ConsumeRandomLengthString(kMaxValueLength);
    const std::string constant = in_.ConsumeRandomLengthString(kMaxNameLength);
    const std::string component = in_.ConsumeRandomLengthString(kMaxNameLength);
    const bool with_component = in_.ConsumeBool();
    const std::int32_t line = in_.ConsumeIntegral<std::int32_t>();
    const ErrorContext context{file.c_str(), line, with_component ? component.c_str() : nullptr,
                               constant.c_str()};
    const std::uint32_t capacity_before = record_.capacity;
    const bool taken = status_set_error(&record_, code, &context);
    if (!TakeCode(code, taken)) return;
    if (capacity_before < kStatusMinCapacity) {
      if (g_refuse_growth) {
        Check(record_.json == nullptr);
        return;
      }
      model_ = "{}";
      has_text_ = true;
    }
    // Members go in one by one with growth; the first that fails ends it.
    std::string members[] = {"\"error_constant\":\"" + Escape(constant.c_str()) + "\"",
                             "\"file\":\"" + Escape(file.c_str()) + "\"",
                             "\"line\":" + std::to_string(line),
                             "\"component\":\"" + Escape(component.c_str()) + "\""};
    // A record without a buffer first gets one of exactly 4 bytes from this hook.
    std::uint32_t capacity = std::max(capacity_before, kStatusMinCapacity);
    for (int i = 0; i < (with_component ? 4 : 3); ++i) {
      const std::string inserted = Inserted(model_.size() - 1, members[i]);
      const std::uint32_t grown = CapacityAfterGrowth(capacity, model_.size() + inserted.size());
      if (grown == 0) break;
      capacity = grown;
      model_.insert(model_.size() - 1, inserted);
    }
    Check(record_.capacity == capacity);
  }

  void Release() {
    status_release(&record_);
    Check(record_.json == nullptr && record_.capacity == 0);
    has_text_ = false;
    have_cursor_ = false;
    model_.clear();
  }

  void CheckInvariants() const {
    Check(record_.code == code_);
    if (!has_text_) {
      Check(record_.json == nullptr && record_.capacity == 0);
      return;
    }
    const char *json = record_.json;
    const std::uint32_t capacity = record_.capacity;
    Check(json != nullptr && capacity >= kStatusMinCapacity);
    Check(model_.size() <= capacity - kJsonLayoutOverhead);
    Check(std::memcmp(json, model_.data(), model_.size()) == 0);
    for (std::size_t i = model_.size(); i < capacity - 1; ++i) Check(json[i] == '\0');
    Check(json[capacity - 1] == kJsonEndMarker);
    for (std::uint32_t i = 0; i < kGuardSize; ++i) {
      Check(static_cast<unsigned char>(json[capacity + i]) == kGuardByte);
    }
    // Exactly one object, with nothing after it.
    Check(json_find_end(json) == json + model_.size() - 1);
    Check(json[0] == '{');
  }

  FuzzedDataProvider &in_;
  StatusRecord record_{0, 0, FuzzResize, nullptr};
  std::string model_;       // the text the record must hold
  bool has_text_ = false;   // whether the record has a buffer
  std::int32_t code_ = 0;   // the code the record must hold
  bool have_cursor_ = false;
  char *cursor_ = nullptr;
  std::size_t offset_ = 0;  // cursor_ - record_.json
  int depth_ = 0;           // open objects around the cursor, top level included
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  g_refuse_growth = false;
  FuzzedDataProvider input(data, size);
  Harness harness(input);
  harness.Run();
  return 0;
}

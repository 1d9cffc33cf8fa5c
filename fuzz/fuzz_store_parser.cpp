// Fuzzes the file store's parser and writer. For any input, loading either
// refuses it with one of the store's statuses and a line within the input,
// or gives a store that
//  1. writes back exactly the input while nothing is edited,
//  2. after edits chosen from the input (every editable value set anew,
//     often to text that must be quoted or is refused, one item of each kind
//     removed, items added under names taken from the input) writes a text
//     that loads into the same items, values, references, channels and
//     classes as the edited store holds (channels named by the library's
//     own expansion, as the channel exports name them), and
//  3. once every value is set back to what the file had, writes the input
//     again, byte for byte.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "config/channels.h"
#include "config/store_file/channel_list.h"
#include "config/store_file/store_model.h"
#include "velmora/velmora.h"

namespace {

using velmora::store::Field;
using velmora::store::Kind;
using velmora::store::kKindCount;
using velmora::store::kNoItem;
using velmora::store::ParseError;
using velmora::store::Store;
using velmora::store::TextView;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string Text(TextView view) {
  return std::string(view.data, view.length);
}

constexpr Field kFields[] = {Field::kDescription, Field::kDriverSetup, Field::kModule,
                             Field::kPrefix,      Field::kResource,    Field::kSession,
                             Field::kDriver,      Field::kDevice,      Field::kSimulate,
                             Field::kChannels,    Field::kClasses};

// Everything a store holds that a caller can see, in order.
struct ItemView {
  std::string name;
  std::map<int, std::string> values;   // present fields only
  std::map<int, std::string> targets;  // reference fields: the name of the item found, if any
  std::vector<std::string> channels;   // "name[low..high|...]", then the first channel names
  std::vector<std::string> classes;
  bool operator==(const ItemView &other) const {
    return name == other.name && values == other.values && targets == other.targets &&
           channels == other.channels && classes == other.classes;
  }
};

std::vector<ItemView> Snapshot(Store &store, Kind kind) {
  std::vector<ItemView> items;
  for (uint32_t i = 0; i < store.Count(kind); ++i) {
    const uint32_t item = store.ItemAt(kind, i);
    Check(store.PrepareLists(item) == kIviIniSuccess);
    ItemView view;
    view.name = Text(store.Name(item));
    for (Field field : kFields) {
      if (!store.HasValue(item, field)) continue;
      view.values[static_cast<int>(field)] = Text(store.Value(item, field));
      const uint32_t target = store.Target(item, field);
      if (target != kNoItem) view.targets[static_cast<int>(field)] = Text(store.Name(target));
    }
    for (uint32_t e = 0; e < store.ChannelEntryCount(item); ++e) {
      std::string entry = Text(store.ChannelEntryName(item, e)) + "[";
      for (uint32_t r = 0; r < store.RangeCount(item, e); ++r) {
        const auto range = store.RangeAt(item, e, r);
        entry += std::to_string(range.low) + ".." + std::to_string(range.high) + "|";
      }
      view.channels.push_back(entry);
    }
    if (kind == Kind::kSession) {
      // The first channels as the library numbers and names them.
      const std::string name = Text(store.Name(item));
      int32_t count = 0;
      Check(velmora::CountSessionChannels(&store, name.c_str(), &count) == kIviIniSuccess);
      char channel[kIviIniNameBufferSize];
      for (int32_t c = 1; c <= count && c <= 8; ++c) {
        Check(velmora::NameSessionChannel(&store, name.c_str(), c, channel) == 1);
        view.channels.push_back(channel);
      }
      view.channels.push_back(std::to_string(count));
    }
    for (uint32_t c = 0; c < store.ClassCount(item); ++c) {
      view.classes.push_back(Text(store.ClassAt(item, c)));
    }
    items.push_back(view);
  }
  return items;
}

std::string Render(const Store &store) {
  std::string out;
  Check(store.Render(
      [](void *context, const char *data, size_t length) {
        static_cast<std::string *>(context)->append(data, length);
        return true;
      },
      &out));
  return out;
}

// Picks from the input, over and over, so that edits depend on it.
class Choices {
 public:
  Choices(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull +
             (size_ > 0 ? data_[position_++ % size_] : 0);
    return static_cast<uint32_t>(state_ >> 33);
  }
  // A piece of the input, up to its first NUL: any byte but NUL may appear.
  std::string Piece() {
    if (size_ == 0) return "";
    const size_t start = Next() % size_;
    const size_t length = Next() % 24;
    std::string piece(reinterpret_cast<const char *>(data_) + start,
                      start + length <= size_ ? length : size_ - start);
    return piece.substr(0, piece.find('\0'));
  }
  // A value that often needs quoting.
  std::string Value() {
    static const char *const kShapes[] = {"", " ", "\t", "\"", "\\", "\r", "]", "x"};
    return kShapes[Next() % 8] + Piece() + kShapes[Next() % 8];
  }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t position_ = 0;
  uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

void Edit(Store &store, Choices &choices) {
  for (int k = 0; k < kKindCount; ++k) {
    const Kind kind = static_cast<Kind>(k);
    for (uint32_t i = 0; i < store.Count(kind); ++i) {
      const uint32_t item = store.ItemAt(kind, i);
      for (Field field : kFields) {
        Kind target;
        const std::string value =
            field == Field::kSimulate ? (choices.Next() % 2 ? "true" : "no") : choices.Value();
        if (velmora::store::TargetOf(field, &target) && store.Count(target) > 0 &&
            choices.Next() % 2 == 0) {
          store.SetReference(item, field,
                             store.ItemAt(target, choices.Next() % store.Count(target)));
        } else {
          const int32_t status = store.SetValue(item, field, value.c_str());
          Check(status == kIviIniSuccess || status == kIviIniStoreBadValue ||
                status == kIviIniStoreNoSuchProperty);
          // A refused value is one that cannot be written as a line, or a
          // Channels value the parser would refuse.
          const char *problem = nullptr;
          if (status == kIviIniStoreBadValue) {
            Check(value.find('\n') != std::string::npos ||
                  (field == Field::kChannels &&
                   velmora::store::ParseChannelList(value.data(),
                                                    static_cast<uint32_t>(value.size()), {0, 0},
                                                    nullptr, nullptr, &problem) != kIviIniSuccess));
          }
        }
      }
    }
    if (store.Count(kind) > 0) {
      Check(store.Remove(store.ItemAt(kind, choices.Next() % store.Count(kind))) == kIviIniSuccess);
    }
    uint32_t added = kNoItem;
    const std::string name = choices.Value();
    const int32_t status = store.Add(kind, name.c_str(), &added);
    Check(status == kIviIniSuccess || status == kIviIniStoreBadName ||
          status == kIviIniStoreItemExists);
    if (status == kIviIniSuccess)
      store.SetValue(added, Field::kDescription, choices.Value().c_str());
  }
}

// Sets every editable value anew (or takes its line out), then back to what
// the file had: the store must then be unchanged and write the input again.
void EditAndUndo(const std::string &input, Choices &choices) {
  Store *store = Store::Create();
  Check(store != nullptr && store->LoadText(input.data(), input.size(), nullptr) == kIviIniSuccess);
  struct Loaded {
    uint32_t item;
    Field field;
    std::string value;
    bool present;
  };
  std::vector<Loaded> loaded;
  for (int k = 0; k < kKindCount; ++k) {
    for (uint32_t i = 0; i < store->Count(static_cast<Kind>(k)); ++i) {
      const uint32_t item = store->ItemAt(static_cast<Kind>(k), i);
      for (Field field : kFields) {
        loaded.push_back(
            {item, field, Text(store->Value(item, field)), store->HasValue(item, field)});
        const std::string value = field == Field::kSimulate ? "yes" : choices.Value();
        if (choices.Next() % 4 == 0) {
          store->Unset(item, field);
        } else {
          store->SetValue(item, field, value.c_str(), choices.Next() % 2 == 0);
        }
      }
      store->SetBoolean(item, Field::kSimulate, choices.Next() % 2 == 0);
    }
  }
  // An empty value the file had as a line comes back as a line.
  for (const Loaded &l : loaded) {
    const int32_t status = l.present ? store->SetValue(l.item, l.field, l.value.c_str(), true)
                                     : store->Unset(l.item, l.field);
    Check(status == kIviIniSuccess || status == kIviIniStoreNoSuchProperty);
  }
  Check(!store->Changed());
  Check(Render(*store) == input);
  Store::Destroy(store);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Store *store = Store::Create();
  Check(store != nullptr);
  ParseError error{};
  const int32_t status = store->LoadText(reinterpret_cast<const char *>(data), size, &error);
  if (status != kIviIniSuccess) {
    Check(status <= kIviIniStoreNotFound && status >= kIviIniStoreBadSimulate);
    Check(error.status == status && error.line >= 1 && error.message[0] != '\0');
    Check(error.line <= 1 + static_cast<uint32_t>(std::count(data, data + size, '\n')));
    Store::Destroy(store);
    return 0;
  }
  const std::string input(reinterpret_cast<const char *>(data), size);
  Check(Render(*store) == input);

  Choices choices(data, size);
  EditAndUndo(input, choices);
  Edit(*store, choices);
  const std::string written = Render(*store);
  Store *again = Store::Create();
  Check(again != nullptr);
  Check(again->LoadText(written.data(), written.size(), &error) == kIviIniSuccess);
  for (int k = 0; k < kKindCount; ++k) {
    Check(Snapshot(*store, static_cast<Kind>(k)) == Snapshot(*again, static_cast<Kind>(k)));
  }
  Check(Render(*again) == written);
  Store::Destroy(again);
  Store::Destroy(store);
  return 0;
}

// The configuration stand-in: its store, handles, settings and counters, the
// twelve configuration entries and the test controls.
#include "config_standin.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "c_guard.h"
#include "config/string_return.h"
#include "devices_file.h"
#include "standin_support.h"
// Declares the entries: a definition below that strayed from libvelmora's
// signature would conflict with it and fail to compile.
#include "velmora/velmora.h"

using standins::Guarded;

namespace config_standin {
namespace {

constexpr int kEntries = CONFIG_STANDIN_ENTRIES;

// Each entry's exported name, and its part of the environment variables'
// names (CONFIG_STANDIN_<key>_DELAY_MS, CONFIG_STANDIN_<key>_STATUS).
struct EntryNames {
  const char *exported;
  const char *key;
};
constexpr EntryNames kEntryNames[kEntries] = {
    {"IviIni_OpenIniFile", "OPEN_INI_FILE"},
    {"IviIni_CloseIniFile", "CLOSE_INI_FILE"},
    {"IviIni_ConfigurationChanged", "CONFIGURATION_CHANGED"},
    {"IviIni_ReloadConfiguration", "RELOAD_CONFIGURATION"},
    {"IviIni_GetNumberOfLogicalNames", "GET_NUMBER_OF_LOGICAL_NAMES"},
    {"IviIni_GetNthLogicalName", "GET_NTH_LOGICAL_NAME"},
    {"IviIni_GetLogicalNameVI", "GET_LOGICAL_NAME_VI"},
    {"IviIni_GetVIDriver", "GET_VI_DRIVER"},
    {"IviIni_GetDriverClass", "GET_DRIVER_CLASS"},
    {"IviIni_GetDriverClassCount", "GET_DRIVER_CLASS_COUNT"},
    {"IviIni_GetDriverClassByIndex", "GET_DRIVER_CLASS_BY_INDEX"},
    {"IviIni_GetDriverPrefix", "GET_DRIVER_PREFIX"},
};

bool IsEntry(config_standin_entry entry) {
  return static_cast<int>(entry) >= 0 && static_cast<int>(entry) < kEntries;
}

struct LogicalName {
  std::string name;
  std::string session;  // "<name>Session"
  std::string driver;   // the prefix; empty: the session has no driver
};

struct Driver {
  std::string name;                  // also its prefix
  std::vector<std::string> classes;  // distinct, in the order first seen
};

// What a handle reads. Built whole by a set and never changed afterwards,
// so that handles share it and keep it as long as they need.
struct Store {
  std::vector<LogicalName> names;
  std::vector<Driver> drivers;

  const LogicalName *ByName(const char *name) const {
    return FindIn(names, name, &LogicalName::name);
  }
  const LogicalName *BySession(const char *session) const {
    return FindIn(names, session, &LogicalName::session);
  }
  const Driver *ByDriver(const char *driver) const {
    return FindIn(drivers, driver, &Driver::name);
  }

 private:
  template <typename Item>
  static const Item *FindIn(const std::vector<Item> &items, const char *name,
                            const std::string Item::*field) {
    if (name == nullptr) return nullptr;
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const Item &item) { return item.*field == name; });
    return it == items.end() ? nullptr : &*it;
  }
};
// Null stands for the empty store, so that settings made at unload hold no
// heap block.
using StorePtr = std::shared_ptr<const Store>;

const Store &Contents(const StorePtr &store) {
  static const Store empty;
  return store ? *store : empty;
}

struct NamesSet {
  StorePtr store;
  std::vector<std::string> errors;
};

// Builds a store from "Name | Class | Prefix" lines; source names the text
// in the errors.
NamesSet ParseNames(std::string_view text, std::string_view source) {
  qxmodinst::ParsedDevices lines = qxmodinst::ParseDevices(text, source);
  NamesSet parsed;
  parsed.errors = std::move(lines.errors);
  auto store = std::make_shared<Store>();
  for (qxmodinst::Device &line : lines.devices) {
    if (store->ByName(line.name.c_str()) != nullptr) {
      parsed.errors.push_back(std::string(source) + ": the logical name '" + line.name +
                              "' is given twice; the later line is left out");
      continue;
    }
    if (!line.prefix.empty()) {
      std::vector<Driver> &drivers = store->drivers;
      auto driver = std::find_if(drivers.begin(), drivers.end(),
                                 [&](const Driver &known) { return known.name == line.prefix; });
      if (driver == drivers.end()) driver = drivers.insert(driver, Driver{line.prefix, {}});
      std::vector<std::string> &classes = driver->classes;
      if (!line.deviceClass.empty() &&
          std::find(classes.begin(), classes.end(), line.deviceClass) == classes.end()) {
        classes.push_back(line.deviceClass);
      }
    }
    store->names.push_back(LogicalName{line.name, line.name + "Session", std::move(line.prefix)});
  }
  parsed.store = std::move(store);
  return parsed;
}

NamesSet ReadNamesFile(const std::string &path) {
  std::string text;
  const int error = qxmodinst::ReadWholeFile(path, &text);
  if (error != 0) {
    NamesSet failed;
    failed.errors.push_back("cannot read names file '" + path + "': " + std::strerror(error));
    return failed;
  }
  return ParseNames(text, path);
}

// An injected failure: calls nth .. nth + count - 1 after arming, counted
// from the entry's call count when it was armed. status 0: none armed.
struct Fault {
  uint32_t nth = 0;
  uint32_t count = 0;
  int32_t status = kIviIniSuccess;
  int64_t armedAt = 0;

  int32_t StatusOf(int64_t call) const {
    if (status == kIviIniSuccess) return kIviIniSuccess;
    const int64_t k = call - armedAt;
    if (k < nth) return kIviIniSuccess;
    if (count != CONFIG_STANDIN_FAIL_ALWAYS && k - nth >= count) return kIviIniSuccess;
    return status;
  }
};

struct Settings {
  StorePtr store;
  uint32_t delayMs[kEntries] = {};
  Fault faults[kEntries] = {};
};

// An open handle: the store as it was at its open or latest reload, and the
// buffer its n-th names are handed out in.
struct Configuration {
  StorePtr store;
  uint64_t version = 0;  // of the store set it took
  char nameBuffer[kIviIniNameBufferSize] = {};
};

// Handles are the numbers of the object table, which are never 0 and never
// reused, as opaque pointers: a handle is only ever looked up, never
// dereferenced.
using Handles = standins::ObjectTable<uintptr_t, Configuration>;

IviIniHandle ToHandle(uintptr_t number) {
  return reinterpret_cast<IviIniHandle>(number);
}

class Library;
using Core = standins::LibraryCore<Library, Settings, config_standin_counters, Handles>;

class Library : public Core {
 public:
  // ---- The entries ------------------------------------------------------

  int32_t Open(const char *path, IviIniHandle *handle) {
    return Run(CONFIG_STANDIN_OPEN_INI_FILE, [&]() -> int32_t {
      if (handle == nullptr) return kIviIniNullPointer;
      if (path != nullptr && strnlen(path, kIviIniMaxPathLength + 1) > kIviIniMaxPathLength) {
        return kIviIniPathTooLong;
      }
      Configuration opened;
      opened.store = settings_.store;
      opened.version = version_;
      const uintptr_t number = objects_.Add(std::move(opened));
      ++counters_.handles_opened;
      *handle = ToHandle(number);
      return kIviIniSuccess;
    });
  }

  int32_t Close(IviIniHandle h, uint8_t save) {
    return Run(CONFIG_STANDIN_CLOSE_INI_FILE, [&]() -> int32_t {
      if (!objects_.Remove(reinterpret_cast<uintptr_t>(h))) return kIviIniInvalidHandle;
      ++counters_.handles_closed;
      if (save != 0) ++counters_.closes_with_save;
      return kIviIniSuccess;
    });
  }

  int32_t Changed(IviIniHandle h, uint8_t *changed) {
    return WithHandle(CONFIG_STANDIN_CONFIGURATION_CHANGED, h, changed,
                      [&](Configuration &c) { *changed = c.version != version_ ? 1 : 0; });
  }

  int32_t Reload(IviIniHandle h) {
    return Run(CONFIG_STANDIN_RELOAD_CONFIGURATION, [&]() -> int32_t {
      Configuration *c = Find(h);
      if (c == nullptr) return kIviIniInvalidHandle;
      c->store = settings_.store;
      c->version = version_;
      return kIviIniSuccess;
    });
  }

  int32_t Count(IviIniHandle h, int32_t *count) {
    return WithHandle(CONFIG_STANDIN_GET_NUMBER_OF_LOGICAL_NAMES, h, count, [&](Configuration &c) {
      *count = static_cast<int32_t>(Contents(c.store).names.size());
    });
  }

  int32_t NthName(IviIniHandle h, int32_t index, const char **name) {
    int32_t answer = kIviIniSuccess;
    const int32_t status =
        WithHandle(CONFIG_STANDIN_GET_NTH_LOGICAL_NAME, h, name, [&](Configuration &c) {
          const std::vector<LogicalName> &names = Contents(c.store).names;
          if (index < 1 || static_cast<size_t>(index) > names.size()) {
            answer = kIviIniStoreNoSuchItem;
            return;
          }
          // The buffer outlives the call; a name too long for it is cut,
          // and the answer says the size it needs.
          const std::string &found = names[static_cast<size_t>(index) - 1].name;
          answer = velmora::StringReturn(found.data(), found.size(), c.nameBuffer,
                                         kIviIniNameBufferSize);
          *name = c.nameBuffer;
        });
    return status != kIviIniSuccess ? status : answer;
  }

  int32_t LogicalNameVI(IviIniHandle h, const char *name, char *buffer, int32_t size) {
    return Text(CONFIG_STANDIN_GET_LOGICAL_NAME_VI, h, buffer, size, [&](const Store &store) {
      const LogicalName *found = store.ByName(name);
      return found == nullptr ? nullptr : &found->session;
    });
  }

  int32_t VIDriver(IviIniHandle h, const char *session, char *buffer, int32_t size) {
    return Text(CONFIG_STANDIN_GET_VI_DRIVER, h, buffer, size, [&](const Store &store) {
      const LogicalName *found = store.BySession(session);
      return found == nullptr ? nullptr : &found->driver;
    });
  }

  int32_t DriverPrefix(IviIniHandle h, const char *driver, char *buffer, int32_t size) {
    return Text(CONFIG_STANDIN_GET_DRIVER_PREFIX, h, buffer, size, [&](const Store &store) {
      const Driver *found = store.ByDriver(driver);
      return found == nullptr ? nullptr : &found->name;
    });
  }

  int32_t ClassCount(IviIniHandle h, const char *driver, int32_t *count) {
    return Run(CONFIG_STANDIN_GET_DRIVER_CLASS_COUNT, [&]() -> int32_t {
      const Configuration *c = Find(h);
      if (c == nullptr) return kIviIniInvalidHandle;
      if (count == nullptr) return kIviIniNullPointer;
      const Driver *found = Contents(c->store).ByDriver(driver);
      if (found == nullptr) return kIviIniStoreNoSuchItem;
      *count = static_cast<int32_t>(found->classes.size());
      return kIviIniSuccess;
    });
  }

  // IviIni_GetDriverClass is the class with index 1, as in libvelmora, but
  // counted and steered as an entry of its own.
  int32_t ClassByIndex(config_standin_entry entry, IviIniHandle h, const char *driver,
                       int32_t index, char *buffer, int32_t size) {
    return Run(entry, [&]() -> int32_t {
      const Configuration *c = Find(h);
      if (c == nullptr) return kIviIniInvalidHandle;
      const Driver *found = Contents(c->store).ByDriver(driver);
      if (found == nullptr) return kIviIniStoreNoSuchItem;
      if (index < 1 || static_cast<size_t>(index) > found->classes.size()) {
        return kIviIniClassIndexOutOfRange;
      }
      const std::string &value = found->classes[static_cast<size_t>(index) - 1];
      return velmora::StringReturn(value.data(), value.size(), buffer, size);
    });
  }

  // ---- The controls -----------------------------------------------------

  // Ends the delays in progress as well. The handles are closed before any
  // waiting call is let go, so that each finds the state after the reset.
  void Reset() {
    Core::Reset();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++resets_;
      ++version_;
    }
    wake_.notify_all();
    for (std::optional<standins::Gate> &gate : gates_) gate->Hold(false);
  }

  int32_t SetNames(NamesSet parsed) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.store = std::move(parsed.store);
    ++version_;
    const auto problems = static_cast<int32_t>(parsed.errors.size());
    errors_.SetFile(std::move(parsed.errors));
    return problems;
  }

  void Hold(config_standin_entry entry, int hold) {
    if (IsEntry(entry)) gates_[entry]->Hold(hold != 0);
  }

  int32_t Waiting(config_standin_entry entry) {
    return IsEntry(entry) ? gates_[entry]->Waiting() : 0;
  }

  int32_t Fail(config_standin_entry entry, uint32_t nth, uint32_t count, int32_t status) {
    if (!IsEntry(entry) || nth == 0 || count == 0 || status == kIviIniSuccess) {
      return CONFIG_STANDIN_REFUSED;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.faults[entry] = Fault{nth, count, status, counters_.calls[entry]};
    return CONFIG_STANDIN_ARMED;
  }

  config_standin_counters Counters() {
    std::lock_guard<std::mutex> lock(mutex_);
    config_standin_counters counters = counters_;
    counters.handles_open = static_cast<int64_t>(objects_.size());
    counters.calls_inside = inside_;
    return counters;
  }

 private:
  friend Core;

  // The environment is read once, when the library is loaded; a reset puts
  // back what it gave.
  Library() {
    for (std::optional<standins::Gate> &gate : gates_) gate.emplace(mutex_);
    const char *path = std::getenv("CONFIG_STANDIN_NAMES");
    if (path != nullptr && *path != '\0') {
      NamesSet parsed = ReadNamesFile(path);
      loadSettings_.store = std::move(parsed.store);
      for (std::string &error : parsed.errors) errors_.AddEnvironment(std::move(error));
    }
    for (int entry = 0; entry < kEntries; ++entry) {
      const std::string prefix = std::string("CONFIG_STANDIN_") + kEntryNames[entry].key;
      LoadNumberInto(prefix + "_DELAY_MS", 0, 600000, &loadSettings_.delayMs[entry]);
      int32_t status = kIviIniSuccess;
      LoadNumberInto(prefix + "_STATUS", INT32_MIN, INT32_MAX, &status);
      if (status != kIviIniSuccess) {
        loadSettings_.faults[entry] = Fault{1, CONFIG_STANDIN_FAIL_ALWAYS, status, 0};
      }
    }
    settings_ = loadSettings_;
  }

  // Keeps the count of calls inside the library; the lock is held wherever
  // a call leaves it, by an answer or an exception.
  class Stay {
   public:
    explicit Stay(int64_t &inside) : inside_(inside) { ++inside_; }
    ~Stay() { --inside_; }
    Stay(const Stay &) = delete;
    Stay &operator=(const Stay &) = delete;

   private:
    int64_t &inside_;
  };

  // How every entry runs: counted (and its injected failure decided, so that
  // "the nth call" means the nth to arrive), held at its gate, delayed, then
  // answered by act under the lock. Handles are looked up only in act, since
  // they may have been closed while the call waited.
  template <typename Act>
  int32_t Run(config_standin_entry entry, Act &&act) {
    std::unique_lock<std::mutex> lock(mutex_);
    const int64_t call = ++counters_.calls[entry];
    if (inside_ > 0) ++counters_.overlaps;
    const Stay stay(inside_);
    counters_.deepest_overlap = std::max(counters_.deepest_overlap, inside_ - 1);
    const int32_t injected = settings_.faults[entry].StatusOf(call);
    gates_[entry]->Pass(lock);
    Delay(lock, settings_.delayMs[entry]);
    if (injected != kIviIniSuccess) {
      ++counters_.failures_injected;
      return injected;
    }
    return act();
  }

  // Sleeps without the lock (the wait gives it up), for a slow store or
  // disk; a reset wakes it early.
  void Delay(std::unique_lock<std::mutex> &lock, uint32_t milliseconds) {
    if (milliseconds == 0) return;
    const uint64_t resets = resets_;
    wake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                   [&] { return resets_ != resets; });
  }

  Configuration *Find(IviIniHandle h) { return objects_.Find(reinterpret_cast<uintptr_t>(h)); }

  // The shape of the entries that check a handle, then an output pointer,
  // then write it.
  template <typename Output, typename Write>
  int32_t WithHandle(config_standin_entry entry, IviIniHandle h, Output *output, Write &&write) {
    return Run(entry, [&]() -> int32_t {
      Configuration *c = Find(h);
      if (c == nullptr) return kIviIniInvalidHandle;
      if (output == nullptr) return kIviIniNullPointer;
      write(*c);
      return kIviIniSuccess;
    });
  }

  // The shape of the string entries: a value found by name, answered under
  // the string-return rule, or no such item.
  template <typename Lookup>
  int32_t Text(config_standin_entry entry, IviIniHandle h, char *buffer, int32_t size,
               Lookup &&lookup) {
    return Run(entry, [&]() -> int32_t {
      const Configuration *c = Find(h);
      if (c == nullptr) return kIviIniInvalidHandle;
      const std::string *value = lookup(Contents(c->store));
      if (value == nullptr) return kIviIniStoreNoSuchItem;
      return velmora::StringReturn(value->data(), value->size(), buffer, size);
    });
  }

  // Guarded by mutex_, like everything in Core. inside_ is never reset: the
  // calls it counts leave after a reset too.
  uint64_t version_ = 0;  // store sets so far
  uint64_t resets_ = 0;
  int64_t inside_ = 0;
  std::optional<standins::Gate> gates_[kEntries];
  std::condition_variable wake_;  // a reset ends the delays
};

STANDINS_LIBRARY_HOOKS(Library)

}  // namespace
}  // namespace config_standin

using config_standin::Library;
using config_standin::Settings;

extern "C" {

int32_t IviIni_OpenIniFile(const char *path, IviIniHandle *handle) {
  return Guarded<int32_t>(kIviIniOutOfMemory,
                          [&] { return Library::Instance().Open(path, handle); });
}

int32_t IviIni_CloseIniFile(IviIniHandle h, uint8_t save) {
  return Guarded<int32_t>(kIviIniOutOfMemory, [&] { return Library::Instance().Close(h, save); });
}

int32_t IviIni_ConfigurationChanged(IviIniHandle h, uint8_t *changed) {
  return Guarded<int32_t>(kIviIniOutOfMemory,
                          [&] { return Library::Instance().Changed(h, changed); });
}

int32_t IviIni_ReloadConfiguration(IviIniHandle h) {
  return Guarded<int32_t>(kIviIniOutOfMemory, [&] { return Library::Instance().Reload(h); });
}

int32_t IviIni_GetNumberOfLogicalNames(IviIniHandle h, int32_t *count) {
  return Guarded<int32_t>(kIviIniOutOfMemory, [&] { return Library::Instance().Count(h, count); });
}

int32_t IviIni_GetNthLogicalName(IviIniHandle h, int32_t index, const char **name) {
  return Guarded<int32_t>(kIviIniOutOfMemory,
                          [&] { return Library::Instance().NthName(h, index, name); });
}

int32_t IviIni_GetLogicalNameVI(IviIniHandle h, const char *name, char *buffer, int32_t size) {
  return Guarded<int32_t>(kIviIniOutOfMemory,
                          [&] { return Library::Instance().LogicalNameVI(h, name, buffer, size); });
}

int32_t IviIni_GetVIDriver(IviIniHandle h, const char *name, char *buffer, int32_t size) {
  return Guarded<int32_t>(kIviIniOutOfMemory,
                          [&] { return Library::Instance().VIDriver(h, name, buffer, size); });
}

int32_t IviIni_GetDriverClass(IviIniHandle h, const char *driver, char *buffer, int32_t size) {
  return Guarded<int32_t>(kIviIniOutOfMemory, [&] {
    return Library::Instance().ClassByIndex(CONFIG_STANDIN_GET_DRIVER_CLASS, h, driver, 1, buffer,
                                            size);
  });
}

int32_t IviIni_GetDriverClassCount(IviIniHandle h, const char *driver, int32_t *count) {
  return Guarded<int32_t>(kIviIniOutOfMemory,
                          [&] { return Library::Instance().ClassCount(h, driver, count); });
}

int32_t IviIni_GetDriverClassByIndex(IviIniHandle h, const char *driver, int32_t index,
                                     char *buffer, int32_t size) {
  return Guarded<int32_t>(kIviIniOutOfMemory, [&] {
    return Library::Instance().ClassByIndex(CONFIG_STANDIN_GET_DRIVER_CLASS_BY_INDEX, h, driver,
                                            index, buffer, size);
  });
}

int32_t IviIni_GetDriverPrefix(IviIniHandle h, const char *driver, char *buffer, int32_t size) {
  return Guarded<int32_t>(kIviIniOutOfMemory, [&] {
    return Library::Instance().DriverPrefix(h, driver, buffer, size);
  });
}

void config_standin_reset(void) {
  Library::ResetControl();
}

int32_t config_standin_set_names(const char *text) {
  return Guarded<int32_t>(0, [&] {
    return Library::Instance().SetNames(config_standin::ParseNames(
        text == nullptr ? std::string_view() : text, "config_standin_set_names"));
  });
}

int32_t config_standin_load_names_file(const char *path) {
  return Guarded<int32_t>(0, [&] {
    return Library::Instance().SetNames(path == nullptr || *path == '\0'
                                            ? config_standin::NamesSet{}
                                            : config_standin::ReadNamesFile(path));
  });
}

void config_standin_set_delay_ms(config_standin_entry entry, uint32_t milliseconds) {
  if (!config_standin::IsEntry(entry)) return;
  Library::ChangeControl([&](Settings &settings) { settings.delayMs[entry] = milliseconds; });
}

void config_standin_hold(config_standin_entry entry, int hold) {
  Guarded([&] { Library::Instance().Hold(entry, hold); });
}

int32_t config_standin_calls_waiting(config_standin_entry entry) {
  return Guarded<int32_t>(0, [&] { return Library::Instance().Waiting(entry); });
}

int32_t config_standin_fail(config_standin_entry entry, uint32_t nth, uint32_t count,
                            int32_t status) {
  return Guarded<int32_t>(CONFIG_STANDIN_REFUSED,
                          [&] { return Library::Instance().Fail(entry, nth, count, status); });
}

void config_standin_disarm(void) {
  Library::ChangeControl([](Settings &settings) {
    for (config_standin::Fault &fault : settings.faults) fault = config_standin::Fault{};
  });
}

void config_standin_get_counters(config_standin_counters *counters) {
  Library::CountersControl(counters);
}

const char *config_standin_entry_name(config_standin_entry entry) {
  return config_standin::IsEntry(entry) ? config_standin::kEntryNames[entry].exported : nullptr;
}

int32_t config_standin_error_count(void) {
  return Library::ErrorCountControl();
}

size_t config_standin_errors(char *buffer, size_t size) {
  return Library::ErrorsControl(buffer, size);
}

}  // extern "C"

// The frame the discovery and VISA stand-ins are built in: one mutex over all
// of a library's state, settings read from the environment once at load and
// restored by a reset, counters, a list of problems, a gate that holds calls
// for as long as a test wants, and a table of numbered open objects. Each
// library adds its own entries and objects on top.
#ifndef STANDINS_COMMON_STANDIN_SUPPORT_H
#define STANDINS_COMMON_STANDIN_SUPPORT_H

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "c_guard.h"

namespace standins {

// Parses an environment value as a whole decimal number within [low, high].
inline bool ParseNumber(const char *text, long long low, long long high, long long *value) {
  errno = 0;
  char *end = nullptr;
  const long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

// Gives a container's memory back to the heap; clear() may keep capacity.
template <typename Container>
void Release(Container &container) {
  Container().swap(container);
}

// Writes lines joined by '\n' into buffer, as much as fits with a NUL, and
// answers the full length, so that (null, 0) sizes the buffer.
inline size_t CopyLines(const std::vector<std::string> &lines, char *buffer, size_t size) {
  std::string joined;
  for (const std::string &line : lines) {
    if (!joined.empty()) joined += '\n';
    joined += line;
  }
  if (buffer != nullptr && size > 0) {
    const size_t n = std::min(joined.size(), size - 1);
    std::memcpy(buffer, joined.data(), n);
    buffer[n] = '\0';
  }
  return joined.size();
}

// The problems a library reports: those of the environment, found once at
// load, and those of the latest read of its file, which a reset forgets.
class ErrorList {
 public:
  void AddEnvironment(std::string error) { environment_.push_back(std::move(error)); }
  void ForgetFile() { file_.clear(); }
  void SetFile(std::vector<std::string> errors) { file_ = std::move(errors); }
  std::vector<std::string> All() const {
    std::vector<std::string> all = environment_;
    all.insert(all.end(), file_.begin(), file_.end());
    return all;
  }
  void ReleaseMemory() {
    Release(environment_);
    Release(file_);
  }

 private:
  std::vector<std::string> environment_;
  std::vector<std::string> file_;
};

// Calls wait at the gate while a test holds it. The gate waits on its
// owner's mutex, so that a call is counted and queued in one step, and the
// owner's calls that do not pass the gate are served meanwhile.
class Gate {
 public:
  explicit Gate(std::mutex &mutex) : mutex_(mutex) {}

  void Hold(bool hold) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      held_ = hold;
    }
    if (!hold) opened_.notify_all();
  }

  // How many calls wait now; 0 while the gate is open.
  int32_t Waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_ ? waiting_ : 0;
  }

  // Expects lock to hold the owner's mutex; returns with it held again.
  void Pass(std::unique_lock<std::mutex> &lock) {
    ++waiting_;
    opened_.wait(lock, [this] { return !held_; });
    --waiting_;
  }

 private:
  std::mutex &mutex_;
  std::condition_variable opened_;
  bool held_ = false;    // guarded by mutex_
  int32_t waiting_ = 0;  // guarded by mutex_
};

// Open objects by number. Numbers are never 0 and, within a process, never
// handed out twice, so a stale number cannot reach a newer object; a reset
// does not start them again. Guarded by the owner's mutex.
template <typename Number, typename Object>
class ObjectTable {
 public:
  Number Add(Object object) {
    do {
      last_ = last_ == std::numeric_limits<Number>::max() ? 1 : last_ + 1;
    } while (objects_.count(last_) != 0);
    objects_.emplace(last_, std::move(object));
    return last_;
  }
  // Null when number is not open.
  Object *Find(Number number) {
    const auto it = objects_.find(number);
    return it == objects_.end() ? nullptr : &it->second;
  }
  bool Remove(Number number) { return objects_.erase(number) == 1; }
  template <typename Predicate>
  void RemoveIf(Predicate &&predicate) {
    for (auto it = objects_.begin(); it != objects_.end();) {
      it = predicate(it->second) ? objects_.erase(it) : std::next(it);
    }
  }
  void Clear() { objects_.clear(); }
  void ReleaseMemory() { Release(objects_); }
  size_t size() const { return objects_.size(); }
  typename std::map<Number, Object>::const_iterator begin() const { return objects_.begin(); }
  typename std::map<Number, Object>::const_iterator end() const { return objects_.end(); }

 private:
  std::map<Number, Object> objects_;
  Number last_ = 0;
};

// The shared part of a stand-in library. Library derives from it, makes it
// a friend (it builds the one instance) and provides Counters(), which
// completes the counters from the open objects. Library's constructor reads
// the environment with LoadText and LoadNumber, then starts from those
// settings.
template <typename Library, typename Settings, typename Counters, typename Objects>
class LibraryCore {
 public:
  // Created when the library is loaded (STANDINS_LIBRARY_HOOKS) in static
  // storage and never destroyed: a plug-in worker may still call in while
  // the process exits, and must find a working mutex then.
  static Library &Instance() {
    alignas(Library) static unsigned char storage[sizeof(Library)];
    static Library *const library = new (storage) Library;
    return *library;
  }

  // Frees every heap block the library holds. Runs when the library is
  // unloaded: the plug-in unloads it when an entry is missing, and memory
  // still held then would be lost with the library's static storage. The
  // object stays usable, as if freshly reset without settings.
  void ReleaseMemory() {
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.ReleaseMemory();
    errors_.ReleaseMemory();
    // Destroyed and made again, since assigning fresh settings may keep
    // the old strings' blocks.
    for (Settings *settings : {&settings_, &loadSettings_}) {
      settings->~Settings();
      new (settings) Settings;
    }
  }

  // Closes every object without counting it; object numbers go on.
  void Reset() {
    gate_.Hold(false);
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.Clear();
    counters_ = Counters{};
    errors_.ForgetFile();
    settings_ = loadSettings_;
  }

  // The controls every stand-in has, as its C exports call them: no
  // exception escapes.
  static void ResetControl() noexcept {
    Guarded([] { Instance().Reset(); });
  }
  template <typename Field, typename Value>
  static void SetControl(Field Settings::*field, Value value) noexcept {
    ChangeControl([&](Settings &settings) { settings.*field = value; });
  }
  template <typename Change>
  static void ChangeControl(Change &&change) noexcept {
    Guarded([&] {
      LibraryCore &core = Shared();
      std::lock_guard<std::mutex> lock(core.mutex_);
      change(core.settings_);
    });
  }
  static void HoldControl(int hold) noexcept {
    Guarded([&] { Shared().gate_.Hold(hold != 0); });
  }
  static int32_t WaitingControl() noexcept {
    return Guarded<int32_t>(0, [] { return Shared().gate_.Waiting(); });
  }
  static void CountersControl(Counters *counters) noexcept {
    if (counters == nullptr) return;
    Guarded([&] { *counters = Instance().Counters(); });
  }
  static int32_t ErrorCountControl() noexcept {
    return Guarded<int32_t>(0, [] { return static_cast<int32_t>(Errors().size()); });
  }
  static size_t ErrorsControl(char *buffer, size_t size) noexcept {
    return Guarded<size_t>(0, [&] { return CopyLines(Errors(), buffer, size); });
  }

 protected:
  LibraryCore() = default;

  // For Library's constructor: the environment variable name, when set,
  // becomes a load setting.
  void LoadText(const char *name, std::string Settings::*field) {
    if (const char *text = std::getenv(name)) loadSettings_.*field = text;
  }
  // The same for a whole number within [low, high]; any other value is
  // ignored and reported.
  template <typename Value>
  void LoadNumber(const char *name, long long low, long long high, Value Settings::*field) {
    LoadNumberInto(name, low, high, &(loadSettings_.*field));
  }
  // The same for a load setting that is not a member of its own, such as
  // one element of a per-entry table.
  template <typename Value>
  void LoadNumberInto(const std::string &name, long long low, long long high, Value *setting) {
    const char *text = std::getenv(name.c_str());
    if (text == nullptr) return;
    long long value = 0;
    if (!ParseNumber(text, low, high, &value)) {
      errors_.AddEnvironment(name + "='" + text +
                             "' is not a number in the allowed range; ignored");
      return;
    }
    *setting = static_cast<Value>(value);
  }

  // How an entry that passes the gate begins: under the lock, counted, then
  // held at the gate while it is. Callers look their objects up only after
  // this, since the objects may have been closed meanwhile.
  std::unique_lock<std::mutex> Enter(int64_t Counters::*calls) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++(counters_.*calls);
    gate_.Pass(lock);
    return lock;
  }

  std::mutex mutex_;
  // Everything below is guarded by mutex_. loadSettings_ and the
  // environment's errors are written only by the constructor and
  // ReleaseMemory.
  Settings loadSettings_;
  Settings settings_;
  Counters counters_{};
  ErrorList errors_;
  Objects objects_;
  Gate gate_{mutex_};

 private:
  static LibraryCore &Shared() { return Instance(); }

  static std::vector<std::string> Errors() {
    LibraryCore &core = Shared();
    std::lock_guard<std::mutex> lock(core.mutex_);
    return core.errors_.All();
  }
};

}  // namespace standins

// Defines a library's load and unload hooks. The environment is read when
// the library is loaded rather than at its first call, so that a process
// sees the settings it was started with; unloading gives the memory back.
#define STANDINS_LIBRARY_HOOKS(Library)                               \
  __attribute__((constructor)) void LoadSettings() {                  \
    ::standins::Guarded([] { Library::Instance(); });                 \
  }                                                                   \
  __attribute__((destructor)) void ReleaseAtUnload() {                \
    ::standins::Guarded([] { Library::Instance().ReleaseMemory(); }); \
  }

#endif

// One entry of an outside library as the plug-in holds it: a function
// pointer that stays null while the library is not bound.
#ifndef VELMORA_PLUGIN_SOURCES_ENTRY_SLOT_H
#define VELMORA_PLUGIN_SOURCES_ENTRY_SLOT_H

#include <atomic>

namespace hx {

// Stores publish with release, loads acquire, so a caller that sees the
// pointer also sees everything bound before it.
template <class Fn>
class EntrySlot {
 public:
  Fn get() const { return fn_.load(std::memory_order_acquire); }
  void set(Fn fn) { fn_.store(fn, std::memory_order_release); }
  explicit operator bool() const { return get() != nullptr; }

 private:
  std::atomic<Fn> fn_{nullptr};
};

}  // namespace hx

#endif

// Storage for process-wide objects that must outlive every thread.
#ifndef VELMORA_PLUGIN_IMMORTAL_H
#define VELMORA_PLUGIN_IMMORTAL_H

#include <new>
#include <utility>

namespace hx {

// Holds a T that is constructed in place and never destroyed. A detached
// worker may still run while the process exits or after the host unloads the
// plug-in; the lists and objects it touches must therefore stay valid for
// good rather than be torn down by static destructors.
template <class T>
class Immortal {
 public:
  template <class... Args>
  explicit Immortal(Args &&...args) {
    ::new (static_cast<void *>(storage_)) T(std::forward<Args>(args)...);
  }
  Immortal(const Immortal &) = delete;
  Immortal &operator=(const Immortal &) = delete;

  T &get() { return *std::launder(reinterpret_cast<T *>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace hx

#endif

// Lock rules the compiler checks: Clang's thread-safety analysis
// (-Wthread-safety) holds every function to the locks its declaration names.
// Other compilers see plain declarations.
//
// libstdc++'s std::mutex carries no annotations, so the plug-in's locks are
// the Mutex below (or types built on it), taken through the scoped Locked.
#ifndef VELMORA_PLUGIN_THREAD_ANNOTATIONS_H
#define VELMORA_PLUGIN_THREAD_ANNOTATIONS_H

#include <mutex>

#if defined(__clang__)
#define VELMORA_TSA(x) __attribute__((x))
#else
#define VELMORA_TSA(x)
#endif

#define CAPABILITY(x) VELMORA_TSA(capability(x))
#define SCOPED_CAPABILITY VELMORA_TSA(scoped_lockable)
#define GUARDED_BY(x) VELMORA_TSA(guarded_by(x))
#define REQUIRES(...) VELMORA_TSA(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) VELMORA_TSA(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VELMORA_TSA(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELMORA_TSA(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VELMORA_TSA(try_acquire_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS VELMORA_TSA(no_thread_safety_analysis)

namespace hx {

class CAPABILITY("mutex") Mutex {
 public:
  constexpr Mutex() noexcept = default;
  Mutex(const Mutex &) = delete;
  Mutex &operator=(const Mutex &) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a lock (a Mutex, or any type with Lock, Unlock and the capability
// annotations) for its scope.
template <class Lockable>
class SCOPED_CAPABILITY Locked {
 public:
  explicit Locked(Lockable &lock) ACQUIRE(lock) : lock_(lock) { lock_.Lock(); }
  // Takes over a lock the caller took with TryLock.
  Locked(Lockable &lock, std::adopt_lock_t) REQUIRES(lock) : lock_(lock) {}
  ~Locked() RELEASE() { lock_.Unlock(); }
  Locked(const Locked &) = delete;
  Locked &operator=(const Locked &) = delete;

 private:
  Lockable &lock_;
};

using MutexLock = Locked<Mutex>;

}  // namespace hx

#endif

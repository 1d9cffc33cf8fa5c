// Lock rules the compiler checks: Clang's thread-safety analysis
// (-Wthread-safety) holds every function to the locks its declaration names.
// Other compilers see plain declarations.
//
// libstdc++'s std::mutex carries no annotations, so the plug-in's locks are
// the Mutex below (or types built on it), taken through the scoped
// MutexLock.
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

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex &mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() { mutex_.Unlock(); }
  MutexLock(const MutexLock &) = delete;
  MutexLock &operator=(const MutexLock &) = delete;

 private:
  Mutex &mutex_;
};

}  // namespace hx

#endif

#include "plugin/sources/release_gate.h"

namespace hx {

// The analysis cannot see through the inner std::mutex; the annotations on
// the declarations state what these do.
void ReleaseGate::Lock() NO_THREAD_SAFETY_ANALYSIS {
  mutex_.lock();
  CarryOut();
}

bool ReleaseGate::TryLock() NO_THREAD_SAFETY_ANALYSIS {
  if (!mutex_.try_lock()) return false;
  CarryOut();
  return true;
}

void ReleaseGate::Unlock() NO_THREAD_SAFETY_ANALYSIS {
  CarryOut();
  mutex_.unlock();
  CarryOutLate();
}

void ReleaseGate::AskRelease() noexcept {
  asked_.fetch_add(1, std::memory_order_acq_rel);
  CarryOutLate();
}

// mutex_ is held.
void ReleaseGate::CarryOut() noexcept {
  const Ticket asked = asked_.load(std::memory_order_acquire);
  if (asked == done_.load(std::memory_order_relaxed)) return;
  close_();
  done_.store(asked, std::memory_order_release);
}

// Runs after letting go of mutex_, and by AskRelease: a release asked for
// meanwhile is carried out here, unless another thread holds the gate now,
// which then carries it out on its own way out.
//
// Why no release is lost: the asking side increments asked_ and then tries
// the lock; the letting-go side unlocks and then reads asked_ with a
// read-modify-write. Both touch asked_ with acq_rel read-modify-writes, so
// either the reader sees the new count, or the increment comes later in its
// order and the unlock happens before the asking side's try_lock, which then
// finds the lock free or held by a newer holder that will look again.
// glibc's try_lock fails only when the mutex is held.
void ReleaseGate::CarryOutLate() noexcept {
  for (;;) {
    const Ticket asked = asked_.fetch_add(0, std::memory_order_acq_rel);
    if (asked == done_.load(std::memory_order_acquire)) return;
    if (!mutex_.try_lock()) return;
    CarryOut();
    mutex_.unlock();
  }
}

}  // namespace hx

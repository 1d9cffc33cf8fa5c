// The handshake between the host's release and the threads that use what
// the release closes: the discovery session, the configuration handle and
// the VISA resource manager.
//
// Each of them is opened, used and closed only by the holder of its gate.
// The host's release must not wait for a holder that sits in a slow library
// call, so it only asks (AskRelease): when the gate is free the release is
// carried out at once, otherwise the holder carries it out before it lets go.
//
// Rule: once AskRelease has returned and whoever held the gate meanwhile has
// let go of it, the resource is closed; and a run that was decided before
// the release (a worker started because a request saw the resource open)
// opens nothing once it gets the gate (Overtaken), so the release holds.
//
// Why a ticket is the count of releases carried out, read before the
// resource is looked at, and never the count asked: a release is asked
// before its close begins, and a request may look at the resource while the
// close is still under way.
//
//   request                         release                  worker
//   ticket = done (0)
//                                   asked = 1; takes gate;
//                                   close begins ...
//   sees the session open,
//   starts the worker (ticket 0)
//                                                            waits for gate
//                                   ... session 0; done = 1;
//                                   lets go
//                                                            asked 1 != 0:
//                                                            overtaken, opens
//                                                            no session
//
// Had the worker compared the count asked when it was started (1), it
// would have reopened the session for good. When the release has finished
// before the request looks, the request sees no session and starts nothing:
//
//   ticket = done (0)
//                                   asked = 1; close; session 0; done = 1
//   sees no session: no worker
//
// A release asked while a worker holds the gate finds it taken; the worker
// may open its session, and carries the release out as it lets go:
//
//   worker takes gate (asked 0 == ticket 0: goes on)
//                                   asked = 1; gate taken: leaves it
//   opens a session; lets go:
//   asked 1 != done 0: closes it, done = 1
#ifndef VELMORA_PLUGIN_RELEASE_GATE_H
#define VELMORA_PLUGIN_RELEASE_GATE_H

#include <atomic>
#include <cstdint>
#include <mutex>

#include "plugin/common/thread_annotations.h"

namespace hx {

class CAPABILITY("mutex") ReleaseGate {
 public:
  // Closes and forgets the resource; called with the gate held, only when a
  // release was asked for since the last one was carried out.
  using CloseFn = void (*)();
  // Releases counted up to some moment (see the rule above).
  using Ticket = uint64_t;

  explicit constexpr ReleaseGate(CloseFn close) noexcept : close_(close) {}
  ReleaseGate(const ReleaseGate &) = delete;
  ReleaseGate &operator=(const ReleaseGate &) = delete;

  // Waits for the gate: for the IviIni_* exports and the workers, whose
  // library calls are synchronous by nature. A pending release is carried
  // out first.
  void Lock() ACQUIRE();
  // Takes the gate only if it is free at once: for the host's UI path.
  bool TryLock() TRY_ACQUIRE(true);
  // Carries out a release asked meanwhile, then lets go.
  void Unlock() RELEASE();

  // Asks for the resource to be closed, never waiting for the gate.
  void AskRelease() noexcept;

  // For a run decided by looking at the resource: read before looking.
  Ticket BeforeLooking() const noexcept { return done_.load(std::memory_order_acquire); }
  // For a run decided without looking at it (the one-time binding): a
  // release asked before this moment does not overtake the run.
  Ticket Now() const noexcept { return asked_.load(std::memory_order_acquire); }
  // Whether a release was asked that the ticket's run was decided before.
  bool Overtaken(Ticket ticket) const noexcept {
    return asked_.load(std::memory_order_acquire) != ticket;
  }

 private:
  void CarryOut() noexcept;
  void CarryOutLate() noexcept;

  std::mutex mutex_;
  // Releases asked (any thread) and carried out (the holder of mutex_ only).
  // They differ while a release waits for the holder.
  std::atomic<Ticket> asked_{0};
  std::atomic<Ticket> done_{0};
  const CloseFn close_;
};

// Holds a gate for its scope.
using GateLock = Locked<ReleaseGate>;

}  // namespace hx

#endif

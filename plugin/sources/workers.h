// The background workers that bind the libraries and rebuild the slow master
// lists without holding up the host: one object per worker, each run on a
// detached thread.
//
// Hand-over rule: a worker's running flag is raised by whoever starts it,
// with one compare-and-exchange, before the worker's thread exists, and
// cleared by the worker as its very last action, with release ordering. So
// no two threads ever run the same worker at once, and a request that reads
// the flag as false with acquire ordering sees everything the worker wrote.
#ifndef VELMORA_PLUGIN_SOURCES_WORKERS_H
#define VELMORA_PLUGIN_SOURCES_WORKERS_H

#include <atomic>
#include <cstdint>

#include "plugin/sources/release_gate.h"

namespace hx {

// What a worker run was decided before: one ticket per gate (release_gate.h).
struct ReleaseTickets {
  ReleaseGate::Ticket session = 0;
  ReleaseGate::Ticket config = 0;
  ReleaseGate::Ticket visa = 0;
};
// For a run decided by looking at what it will use: taken before looking.
ReleaseTickets TicketsBeforeLooking();
// For the one-time binding, decided without looking: releases asked so far
// do not overtake it.
ReleaseTickets TicketsNow();

class GetResourceListThread {
 public:
  GetResourceListThread(const GetResourceListThread &) = delete;
  GetResourceListThread &operator=(const GetResourceListThread &) = delete;

  virtual void Run() = 0;

  bool IsRunning() const { return running.load(std::memory_order_acquire); }

  // Raised by StartWorker before the thread starts, cleared by the worker as
  // the last action of Run.
  std::atomic<bool> running{false};

  // What this run was decided before (release_gate.h): written by the
  // thread that won the start, before the worker's thread exists, and read
  // only by the run. A run that a release has overtaken when it gets a gate
  // opens nothing behind it, so that the release holds.
  ReleaseTickets ticketsAtStart;

 protected:
  GetResourceListThread() = default;
  // Worker objects live for the whole process and are never destroyed.
  ~GetResourceListThread() = default;
};

// Binds the discovery library and opens the installed-devices session, once.
// Requests answer "binding" until it has finished, and only until then: the
// opt-in sources bind on their own workers.
class LoadLibraryThread final : public GetResourceListThread {
 public:
  void Run() override;  // discovery.cpp
  bool IsLoaded() const { return loaded.load(std::memory_order_acquire); }

  // Set by the worker just before it clears running, and never cleared: a
  // request that sees running false after a run also sees loaded true.
  std::atomic<bool> loaded{false};
};

// Rebuilds the modular-instrument master list from a fresh discovery session.
class GetModInstrMasterListThread final : public GetResourceListThread {
 public:
  void Run() override;  // discovery.cpp

  // Wall-clock seconds at which the last run started; written by the worker
  // at the start of a run, read by requests for the rescan throttle.
  std::atomic<int64_t> lastStart{0};
};

// Brings the configuration source up (binds the configuration library and
// opens its store) and builds the IVI list from it; started only when a user
// named a configuration library.
class GetIviMasterListThread final : public GetResourceListThread {
 public:
  void Run() override;  // configuration.cpp
};

// Binds the VISA library, opens its resource manager and rebuilds the VISA
// list; started only when a user named a VISA library.
class GetVISAMasterListThread final : public GetResourceListThread {
 public:
  void Run() override;  // visa.cpp
};

// The one object of each worker, created on first use and never destroyed.
LoadLibraryThread &TheLoadLibraryThread();
GetModInstrMasterListThread &TheModInstrMasterListThread();
GetIviMasterListThread &TheIviMasterListThread();
GetVISAMasterListThread &TheVisaMasterListThread();

// Starts the worker's Run on a detached thread, giving the run the release
// tickets it was decided with, unless it is running already. Answers
// whether this call started it; when no thread can be started the flag is
// lowered again and false is answered: the worker then counts as never
// started.
bool StartWorker(GetResourceListThread &worker, const ReleaseTickets &tickets);

// Thread entry: runs the worker at the given address.
void RunWorkerThread(void *worker);

// A failed rebuild is silent by design: the previous list stays and requests
// answer from what is there. Exceptions (running out of memory) are treated
// the same way, so that a worker always reaches its final store of running.
template <class Body>
void RunQuietly(Body &&body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace hx

#endif

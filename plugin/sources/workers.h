// The background workers that bind the libraries once and rebuild the slow
// master lists without holding up the host.
//
// Hand-over rule: a worker's running flag is set by the request (which is
// serialised) before the worker's thread exists and cleared by the worker as
// its very last action, with release ordering. A request that reads the flag
// as false with acquire ordering therefore sees everything the worker wrote,
// and no worker is writing: only a request starts one.
#ifndef VELMORA_PLUGIN_WORKERS_H
#define VELMORA_PLUGIN_WORKERS_H

#include <atomic>
#include <cstdint>

#include "plugin/sources/bindings.h"

namespace hx {

class GetResourceListThread {
 public:
  GetResourceListThread(const GetResourceListThread &) = delete;
  GetResourceListThread &operator=(const GetResourceListThread &) = delete;

  virtual void Run() = 0;

  bool IsRunning() const { return running.load(std::memory_order_acquire); }

  // Written by the request (true, before the thread starts) and by the worker
  // (false, last action of Run).
  std::atomic<bool> running{false};

  // What this run was decided before (release_gate.h): written by the
  // request before the thread exists, read only by the run. A run that a
  // release has overtaken when it gets a gate opens nothing behind it, so
  // that the release holds.
  ReleaseTickets ticketsAtStart;

 protected:
  GetResourceListThread() = default;
  // Worker objects live for the whole process and are never destroyed.
  ~GetResourceListThread() = default;
};

// Binds the discovery library (and, where they exist, the configuration and
// VISA libraries) and opens the installed-devices session, once.
class LoadLibraryThread final : public GetResourceListThread {
 public:
  void Run() override;
  bool IsLoaded() const { return loaded.load(std::memory_order_acquire); }

  // Set by the worker just before it clears running, and never cleared: a
  // request that sees running false after a run also sees loaded true.
  std::atomic<bool> loaded{false};
};

// Rebuilds the modular-instrument master list from a fresh discovery session.
class GetModInstrMasterListThread final : public GetResourceListThread {
 public:
  void Run() override;

  // Wall-clock seconds at which the last run started; written by the worker
  // at the start of a run, read by requests for the 20-second throttle.
  std::atomic<int64_t> lastStart{0};
};

// Rebuilds the VISA master list.
class GetVISAMasterListThread final : public GetResourceListThread {
 public:
  void Run() override;
};

// The one object of each worker, created on first use and never destroyed.
LoadLibraryThread &TheLoadLibraryThread();
GetModInstrMasterListThread &TheModInstrMasterListThread();
GetVISAMasterListThread &TheVisaMasterListThread();

// Sets the worker's running flag and starts its Run on a detached thread,
// giving the run the release tickets it was decided with. When no thread can
// be started the flag is reset and false is answered: the worker then counts
// as never started.
bool StartWorker(GetResourceListThread &worker, const ReleaseTickets &tickets);

// Thread entry: runs the worker at the given address.
void RunWorkerThread(void *worker);

}  // namespace hx

#endif

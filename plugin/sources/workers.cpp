#include "plugin/sources/workers.h"

#include <ctime>
#include <thread>

#include "plugin/sources/bindings.h"
#include "plugin/common/immortal.h"
#include "plugin/lists/master_lists.h"

namespace hx {
namespace {

// A failed rebuild is silent by design: the previous list stays and requests
// answer from what is there. Exceptions (running out of memory) are treated
// the same way, so the worker always reaches its final store of running.
template <class Body>
void RunQuietly(Body &&body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace

void LoadLibraryThread::Run() {
  RunQuietly([this] {
    const ReleaseTickets &tickets = ticketsAtStart;
    {
      GateLock lock(configGate);
      EnsureConfigLibrary();
    }
    {
      GateLock lock(sessionGate);
      if (!sessionGate.Overtaken(tickets.session)) BindModInstLibrary();
    }
    {
      GateLock lock(visaGate);
      if (!visaGate.Overtaken(tickets.visa)) EnsureVisaLibrary();
    }
    {
      GateLock lock(configGate);
      if (!configGate.Overtaken(tickets.config)) OpenDefaultConfiguration();
    }
    GateLock lock(sessionGate);
    if (GetModInstSession() == 0 && !sessionGate.Overtaken(tickets.session)) {
      if (auto open = slots.qxModInst_OpenInstalledDevicesSession.get()) {
        int32_t session = 0;
        int32_t count = 0;
        open(QXMODINST_DRIVER_NAME, &session, &count);
        SetModInstSession(session);
      }
    }
  });
  // loaded first: a request between the two stores must not find the loader
  // idle and unloaded, or it would start a second one.
  loaded.store(true, std::memory_order_release);
  running.store(false, std::memory_order_release);
}

void GetModInstrMasterListThread::Run() {
  // The throttle counts from the start of a run, so a slow run allows the
  // next one as soon as it ends.
  lastStart.store(static_cast<int64_t>(time(nullptr)), std::memory_order_release);
  RunQuietly([this] {
    GateLock lock(sessionGate);
    // A run decided before a release and reaching the session after it
    // would reopen what the release closed; it keeps the previous list.
    if (!sessionGate.Overtaken(ticketsAtStart.session)) BuildModInstrMasterList();
  });
  running.store(false, std::memory_order_release);
}

void GetVISAMasterListThread::Run() {
  RunQuietly([this] {
    GateLock lock(visaGate);
    // A run decided before a release would reopen the resource manager the
    // release closed; it keeps the previous list.
    if (!visaGate.Overtaken(ticketsAtStart.visa)) BuildVisaMasterList();
  });
  running.store(false, std::memory_order_release);
}

LoadLibraryThread &TheLoadLibraryThread() {
  static Immortal<LoadLibraryThread> worker;
  return worker.get();
}

GetModInstrMasterListThread &TheModInstrMasterListThread() {
  static Immortal<GetModInstrMasterListThread> worker;
  return worker.get();
}

GetVISAMasterListThread &TheVisaMasterListThread() {
  static Immortal<GetVISAMasterListThread> worker;
  return worker.get();
}

void RunWorkerThread(void *worker) { static_cast<GetResourceListThread *>(worker)->Run(); }

bool StartWorker(GetResourceListThread &worker, const ReleaseTickets &tickets) {
  worker.running.store(true, std::memory_order_relaxed);
  worker.ticketsAtStart = tickets;
  try {
    std::thread(RunWorkerThread, static_cast<void *>(&worker)).detach();
    return true;
  } catch (...) {
    worker.running.store(false, std::memory_order_release);
    return false;
  }
}

}  // namespace hx

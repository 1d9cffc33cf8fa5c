#include "plugin/sources/workers.h"

#include <thread>

#include "plugin/common/immortal.h"
#include "plugin/sources/configuration.h"
#include "plugin/sources/discovery.h"
#include "plugin/sources/visa.h"

namespace hx {

ReleaseTickets TicketsBeforeLooking() {
  return ReleaseTickets{sessionGate.BeforeLooking(), configGate.BeforeLooking(),
                        visaGate.BeforeLooking()};
}
ReleaseTickets TicketsNow() {
  return ReleaseTickets{sessionGate.Now(), configGate.Now(), visaGate.Now()};
}

LoadLibraryThread &TheLoadLibraryThread() {
  static Immortal<LoadLibraryThread> worker;
  return worker.get();
}

GetModInstrMasterListThread &TheModInstrMasterListThread() {
  static Immortal<GetModInstrMasterListThread> worker;
  return worker.get();
}

GetIviMasterListThread &TheIviMasterListThread() {
  static Immortal<GetIviMasterListThread> worker;
  return worker.get();
}

GetVISAMasterListThread &TheVisaMasterListThread() {
  static Immortal<GetVISAMasterListThread> worker;
  return worker.get();
}

void RunWorkerThread(void *worker) {
  static_cast<GetResourceListThread *>(worker)->Run();
}

bool StartWorker(GetResourceListThread &worker, const ReleaseTickets &tickets) {
  bool idle = false;
  if (!worker.running.compare_exchange_strong(idle, true, std::memory_order_acq_rel)) {
    return false;
  }
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

#include "binding_dlopen_probe.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

namespace bindtest {
namespace {

using DlopenFn = void *(*)(const char *, int);

// Everything the probe has seen; guarded by its own mutex because the
// plug-in loads from host threads and from its worker threads alike.
struct ProbeState {
  std::mutex mutex;
  std::vector<DlopenCall> calls;
  std::map<std::string, int> inFlight;
  std::map<std::string, int> maxInFlight;
  std::string delayedName;
  std::chrono::microseconds delay{0};
};

// Never destroyed: a detached plug-in worker may still load while the
// process exits.
ProbeState &State() {
  static ProbeState *const state = new ProbeState;
  return *state;
}

DlopenFn NextDlopen() {
  static const DlopenFn next = reinterpret_cast<DlopenFn>(dlsym(RTLD_NEXT, "dlopen"));
  if (next == nullptr) std::abort();
  return next;
}

void *ProbedDlopen(const char *file, int mode) {
  const std::string name = file != nullptr ? file : "(null)";
  ProbeState &state = State();
  std::chrono::microseconds delay{0};
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    int &now = ++state.inFlight[name];
    int &most = state.maxInFlight[name];
    most = std::max(most, now);
    if (name == state.delayedName) delay = state.delay;
  }
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
  void *handle = NextDlopen()(file, mode);
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    --state.inFlight[name];
    state.calls.push_back(DlopenCall{name, mode, handle != nullptr});
  }
  return handle;
}

}  // namespace

std::vector<DlopenCall> DlopenCalls() {
  ProbeState &state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.calls;
}

std::vector<DlopenCall> DlopenCallsNaming(const std::string &name) {
  ProbeState &state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::vector<DlopenCall> matching;
  for (const DlopenCall &call : state.calls) {
    if (call.name == name) matching.push_back(call);
  }
  return matching;
}

int MaxConcurrentDlopens(const std::string &name) {
  ProbeState &state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  const auto it = state.maxInFlight.find(name);
  return it == state.maxInFlight.end() ? 0 : it->second;
}

void DelayDlopens(const std::string &name, std::chrono::microseconds delay) {
  ProbeState &state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.delayedName = name;
  state.delay = delay;
}

}  // namespace bindtest

// Exported from the executable, so that it comes first in the process's
// symbol search order. dlerror's state stays the callee's: nothing between
// the forwarded call and the return touches the dynamic linker.
extern "C" __attribute__((visibility("default"))) void *dlopen(const char *file, int mode) {
  return bindtest::ProbedDlopen(file, mode);
}

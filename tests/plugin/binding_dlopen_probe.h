// Records every dlopen the test process makes, the plug-in's included.
//
// binding_dlopen_probe.cpp defines dlopen in the test executable, which is
// linked with its symbols exported: the dynamic linker resolves the
// plug-in's dlopen against the executable before the C library, so each
// call passes through the probe, which notes it and forwards it to the next
// definition (the C library's, or a sanitizer's interceptor in front of it).
#ifndef VELMORA_TESTS_PLUGIN_BINDING_DLOPEN_PROBE_H
#define VELMORA_TESTS_PLUGIN_BINDING_DLOPEN_PROBE_H

#include <chrono>
#include <string>
#include <vector>

namespace bindtest {

struct DlopenCall {
  std::string name;  // as passed ("(null)" for a null name)
  int mode;
  bool loaded;  // dlopen gave a handle
};

// Every call so far, oldest first.
std::vector<DlopenCall> DlopenCalls();

// The calls whose name is exactly `name`, oldest first.
std::vector<DlopenCall> DlopenCallsNaming(const std::string &name);

// The largest number of dlopen calls naming `name` that were in progress at
// the same moment since the process started.
int MaxConcurrentDlopens(const std::string &name);

// Makes every later dlopen naming `name` wait this long before it forwards
// the call, so that two loads on different threads overlap if nothing
// serialises them.
void DelayDlopens(const std::string &name, std::chrono::microseconds delay);

}  // namespace bindtest

#endif

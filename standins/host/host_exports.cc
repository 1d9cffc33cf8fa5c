// The host functions that libvelmora_hx.so imports. Each one forwards to the
// host object; an exception (memory exhaustion in a table) becomes the host's
// out-of-memory status instead of crossing into the plug-in.

// Declared with default visibility (the build hides everything else), so that
// the version script can export exactly these names.
#pragma GCC visibility push(default)
#include "host_api.h"
#pragma GCC visibility pop

#include "c_guard.h"
#include "host_state.h"

using hxhost::Host;
using standins::Guarded;

extern "C" {

HxHandle DSNewHandle(size_t size) {
  return Guarded<HxHandle>(nullptr, [&] { return Host::Instance().NewHandle(size, false); });
}

HxHandle DSNewHClr(size_t size) {
  return Guarded<HxHandle>(nullptr, [&] { return Host::Instance().NewHandle(size, true); });
}

MgErr DSDisposeHandle(HxHandle h) {
  return Guarded<MgErr>(kHostOutOfMemory, [&] { return Host::Instance().DisposeHandle(h); });
}

int32_t PStrCmp(ConstPStr a, ConstPStr b) {
  return Guarded<int32_t>(1, [&] { return Host::Instance().CompareStrings(a, b); });
}

MgErr HxVariantPStrGetUI32Attr(HxVariantRef *var, ConstPStr name, uint32_t *value) {
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().GetU32(var, name, value); });
}

MgErr HxVariantPStrGetStringAttr(HxVariantRef *var, ConstPStr name, HxHandle *longString) {
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().GetString(var, name, longString); });
}

MgErr HxVariantPStrSetUI32Attr(HxVariantRef *slot, ConstPStr name, uint32_t value) {
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().SetU32(slot, name, value); });
}

MgErr HxVariantPStrSetStringAttr(HxVariantRef *slot, ConstPStr name, HxHandle longString) {
  return Guarded<MgErr>(kHostOutOfMemory,
                        [&] { return Host::Instance().SetString(slot, name, longString); });
}

MgErr GetIOControlOpenSessionsEx(uint32_t appContext, ConstPStr ioClass, HxVariantRef properties,
                                 int32_t one, HxHandle *sessions) {
  return Guarded<MgErr>(kHostOutOfMemory, [&] {
    return Host::Instance().OpenSessions(appContext, ioClass, properties, one, sessions);
  });
}

}  // extern "C"

// Switching a driver session between the real instrument and simulation.
#include "config/configuration.h"
#include "config/object_guard.h"

namespace velmora {
namespace {

int32_t SetSimulation(IviIniHandle h, const char *session, int32_t flag) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  ObjectGuard sessions, sessionItem;
  int32_t status = FindNamedItem(SessionOps, h->state.store, session, sessions, sessionItem);
  // The store keeps a boolean: any nonzero flag means simulate.
  if (status >= 0) status = SetSessionBoolean(sessionItem.get(), kPropertySimulate, flag != 0);
  return status;
}

}  // namespace
}  // namespace velmora

extern "C" int32_t IviIni_SetVISimulation(IviIniHandle h, const char *session, int32_t flag) {
  return velmora::SetSimulation(h, session, flag);
}

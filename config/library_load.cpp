// Start-up of the shipped library. The only set-up the library needs is the
// back end's, once, as the dynamic loader maps libvelmora.so; nothing is torn
// down at unload. This file is linked into the shared library only, so the
// tests decide themselves when their store starts.
#include "config/backend.h"

namespace {

__attribute__((constructor)) void StartBackEndAtLoad() {
  velmora::InitializeBackEnd();
}

}  // namespace

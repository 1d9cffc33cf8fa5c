// Statuses the plug-in's host entries answer, and its trace level. The
// request's statuses are the public header's.
#ifndef VELMORA_PLUGIN_COMMON_STATUS_H
#define VELMORA_PLUGIN_COMMON_STATUS_H

#include <cstdint>

#include "velmora/velmora_hx.h"

namespace hx {

constexpr int32_t kRequestOk = VELMORA_HX_OK;
constexpr int32_t kRequestBinding = VELMORA_HX_BINDING;            // libraries still being bound
constexpr int32_t kRequestRefused = VELMORA_HX_REFUSED;            // wrong class or mode
constexpr int32_t kRequestOutOfMemory = VELMORA_HX_OUT_OF_MEMORY;  // memory ran out building it
constexpr int32_t kRequestHostFailure = VELMORA_HX_HOST_FAILURE;   // another host call failed
// Host answer of GetIOControlOpenSessionsEx: the previous answer still holds.
constexpr int32_t kSessionsUnchanged = 1;

// Level of every trace line the plug-in writes.
constexpr int32_t kTraceLevel = 4096;

constexpr int32_t kMenuNoOutput = 1;  // right-click menu without an output address
constexpr int32_t kPluginInterfaceVersion = 4;

}  // namespace hx

#endif

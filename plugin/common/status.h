// Statuses the plug-in's host entries answer.
#ifndef VELMORA_PLUGIN_STATUS_H
#define VELMORA_PLUGIN_STATUS_H

#include <cstdint>

namespace hx {

constexpr int32_t kRequestOk = 0;
constexpr int32_t kRequestBinding = 2;       // libraries still being bound
constexpr int32_t kRequestRefused = 5;       // wrong class or mode
constexpr int32_t kRequestOutOfMemory = 6;   // memory ran out building the result
constexpr int32_t kRequestHostFailure = 7;   // another host call failed
// Host answer of GetIOControlOpenSessionsEx: the previous answer still holds.
constexpr int32_t kSessionsUnchanged = 1;

// Level of every trace line the plug-in writes.
constexpr int32_t kTraceLevel = 4096;

constexpr int32_t kMenuNoOutput = 1;         // right-click menu without an output address
constexpr int32_t kPluginInterfaceVersion = 4;

}  // namespace hx

#endif

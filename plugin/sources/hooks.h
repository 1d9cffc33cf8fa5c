// The hooks around the host entries: slots of a library the plug-in does not
// name, which nothing fills in this build. Only their calls are fixed: the
// request hook and its fallback before the request's loader gate, the
// release hook as the release's answer.
#ifndef VELMORA_PLUGIN_SOURCES_HOOKS_H
#define VELMORA_PLUGIN_SOURCES_HOOKS_H

#include <cstdint>

#include "plugin/host/host_api.h"
#include "plugin/sources/entry_slot.h"

namespace hx {

using RequestHookFn = int32_t (*)(uint32_t appContext, ConstPStr ioClass, void *reserved,
                                  HxHandle *names, HxVariantRef properties, uint32_t mode);
using RequestFallbackFn = void (*)();
using ReleaseHookFn = int32_t (*)();

struct HookSlots {
  EntrySlot<RequestHookFn> requestHook;
  EntrySlot<RequestFallbackFn> requestFallback;
  EntrySlot<ReleaseHookFn> releaseHook;
};
// All null at load, never freed.
inline HookSlots hookSlots;

}  // namespace hx

#endif

// The three other entries of the host's I/O-control plug-in interface.
#include <cstdint>

#include "plugin/common/guarded.h"
#include "plugin/common/status.h"
#include "plugin/host/host_data.h"
#include "plugin/sources/configuration.h"
#include "plugin/sources/discovery.h"
#include "plugin/sources/hooks.h"
#include "plugin/sources/visa.h"
#include "velmora/velmora_hx.h"

namespace hx {
namespace {

// Flag bits of GetIOControlRtClickMenuItems under which the plug-in adds no
// menu items.
constexpr uint32_t kNoMenuFlags = 0x1 | 0x8;

// The two menu items: "id" 6 and 7, both with "f" 2.
constexpr size_t kMenuItemCount = 2;
constexpr uint32_t kMenuItemIds[kMenuItemCount] = {6, 7};
constexpr uint32_t kMenuItemFlags = 2;

int32_t BuildMenuItems(uint32_t flags, HxHandle *items) {
  if (items == nullptr) return kMenuNoOutput;
  if ((flags & kNoMenuFlags) != 0) return kRequestOk;
  // Sized like a name-list result of two entries: header, two slots and the
  // unused slot that such blocks carry.
  HxHandle menu = DSNewHClr(ListBlockSize(kMenuItemCount + 1));
  *items = menu;
  if (menu == nullptr) return kRequestOutOfMemory;
  SetListCount(menu, static_cast<int32_t>(kMenuItemCount));
  for (size_t i = 0; i < kMenuItemCount; ++i) {
    SetItemAttributes(ListSlot(menu, i), kMenuItemIds[i], kMenuItemFlags);
  }
  return kRequestOk;
}

// Never waits for a call in flight: each source closes what it holds (the
// store, the discovery session, the VISA resource manager) here when its
// gate is free, otherwise the thread inside its library does as soon as its
// call returns (release_gate.h).
int32_t ReleaseAppRef() {
  configGate.AskRelease();
  sessionGate.AskRelease();
  visaGate.AskRelease();
  if (auto hook = hookSlots.releaseHook.get()) return hook();
  return kRequestOk;
}

}  // namespace
}  // namespace hx

extern "C" {

int32_t GetIOControlRtClickMenuItems(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                     uint32_t flags, HxHandle *items) {
  return hx::Guarded(hx::kRequestOutOfMemory, hx::kRequestHostFailure,
                     [&] { return hx::BuildMenuItems(flags, items); });
}

int32_t ReleasingAppRef(void *) {
  return hx::Guarded(hx::kRequestHostFailure, [] { return hx::ReleaseAppRef(); });
}

int32_t GetInfo(void) {
  return hx::kPluginInterfaceVersion;
}

}  // extern "C"

// The display filters through which every list passes on its way into a
// request: a control's "displayFilter" bits decide which kinds of names it
// offers at all, its "typeClass" narrows IVI and modular-instrument names to
// one instrument class.
#ifndef VELMORA_PLUGIN_FILTERS_H
#define VELMORA_PLUGIN_FILTERS_H

#include <cstdint>

#include "plugin/entries.h"
#include "plugin/host_api.h"

namespace hx {

// "displayFilter" bits; every other bit is ignored.
constexpr uint32_t kShowNameEntries = 0x1000;      // IVI and modular-instrument names
constexpr uint32_t kShowResourceEntries = 0x2000;  // VISA resource names

// Makes `destination` (empty on entry) the entries of `source` that the
// control shows. Answers 0, or the host's status of a failed attribute read:
// "displayFilter" unreadable leaves the destination as it was; "typeClass"
// unreadable (or its copy out of memory) applies no class filter.
MgErr FilterNameEntries(const NameList &source, NameList &destination, HxVariantRef properties);
MgErr FilterResourceEntries(const ResourceList &source, ResourceList &destination,
                            HxVariantRef properties);

}  // namespace hx

#endif

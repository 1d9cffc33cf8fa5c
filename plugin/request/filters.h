// The display filters through which every list passes on its way into a
// request: a control's "displayFilter" bits decide which kinds of names it
// offers at all, its "typeClass" narrows IVI and modular-instrument names to
// one instrument class.
//
// A request copies nothing of what it filters: a master list's snapshot is
// filtered into a Selection (one mark per entry), a list of session entries
// into a view (pointers to the entries it keeps).
#ifndef VELMORA_PLUGIN_FILTERS_H
#define VELMORA_PLUGIN_FILTERS_H

#include <cstdint>
#include <vector>

#include "plugin/lists/entries.h"
#include "plugin/host/host_api.h"
#include "plugin/lists/snapshot.h"

namespace hx {

// "displayFilter" bits; every other bit is ignored.
constexpr uint32_t kShowNameEntries = 0x1000;      // IVI and modular-instrument names
constexpr uint32_t kShowResourceEntries = 0x2000;  // VISA resource names

// Entries of a list that a request keeps, in the list's order.
using NameView = std::vector<const NameEntry *>;
using ResourceView = std::vector<const ResourceEntry *>;

// What a request does with each entry of a snapshot.
enum Mark : uint8_t {
  kHidden = 0,     // left out by the filters
  kShown = 1,      // shown
  kShownOpen = 2,  // shown, and the host holds a session open under its name
};

// The entries of one snapshot that a request shows. A selection that no
// filter has filled (null list) shows nothing.
template <class Entry>
struct Selection {
  std::shared_ptr<const Snapshot<Entry>> list;
  std::vector<uint8_t> marks;  // one Mark per entry of list
};
using NameSelection = Selection<NameEntry>;
using ResourceSelection = Selection<ResourceEntry>;

// Marks the entries of `source` that the control shows. Answers 0, or the
// host's status of a failed attribute read: "displayFilter" unreadable leaves
// the selection as it was; "typeClass" unreadable (or its copy out of
// memory) applies no class filter.
MgErr SelectNameEntries(const NameSnapshotRef &source, NameSelection &selection,
                        HxVariantRef properties);
MgErr SelectResourceEntries(const ResourceSnapshotRef &source, ResourceSelection &selection,
                            HxVariantRef properties);

// The same filters over a plain list: `destination` (empty on entry) gets
// the entries of `source` that the control shows.
MgErr FilterNameEntries(const NameList &source, NameView &destination, HxVariantRef properties);
MgErr FilterResourceEntries(const ResourceList &source, ResourceView &destination,
                            HxVariantRef properties);

}  // namespace hx

#endif

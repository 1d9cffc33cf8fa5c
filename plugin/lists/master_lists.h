// The plug-in's three master lists, as requests take them.
//
// Each list is an immutable snapshot (snapshot.h): its source's builder
// collects the entries aside and publishes them, sorted, when it has them
// all; a builder that gives up (memory running out, a failing call that
// ends its run) publishes nothing and the previous snapshot stays. The
// builders live with their sources (plugin/sources/). Requests still leave
// out the list of a worker that is running, so that what they show is as it
// always was: a list is either left out or shown as its last run finished
// it.
#ifndef VELMORA_PLUGIN_LISTS_MASTER_LISTS_H
#define VELMORA_PLUGIN_LISTS_MASTER_LISTS_H

#include "plugin/lists/entries.h"
#include "plugin/lists/snapshot.h"

namespace hx {

// The current snapshot of each list (never null).
NameSnapshotRef iviMasterList();
NameSnapshotRef modInstrMasterList();
ResourceSnapshotRef visaMasterList();

// Publishes a new snapshot of the entries, given in the builder's order.
void PublishIviMasterList(NameList built);
void PublishModInstrMasterList(NameList built);
void PublishVisaMasterList(ResourceList built);

}  // namespace hx

#endif

// The plug-in's three master lists and their builders.
//
// Each list is an immutable snapshot (snapshot.h): its builder collects the
// entries aside and publishes them, sorted, when it has them all; a builder
// that fails part way (a failing entry, or memory running out) publishes
// nothing and the previous snapshot stays. Requests still leave out the list
// of a worker that is running, so that what they show is as it always was:
// a list is either left out or shown as its last run finished it.
#ifndef VELMORA_PLUGIN_MASTER_LISTS_H
#define VELMORA_PLUGIN_MASTER_LISTS_H

#include <cstdint>

#include "plugin/sources/bindings.h"
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

// Rebuilds iviMasterList from the configuration library. Answers 0 or the
// failing entry's status (the list then stays as it was).
int32_t BuildIviMasterList() REQUIRES(configGate);

// Replaces the discovery session by a fresh one and rebuilds
// modInstrMasterList from it. Answers 0 or the failing close or open's
// status (the list then stays as it was).
int32_t BuildModInstrMasterList() REQUIRES(sessionGate);

// Rebuilds visaMasterList from the VISA library. Answers 0 or the failing
// entry's status (the list then stays as it was).
int32_t BuildVisaMasterList() REQUIRES(visaGate);

}  // namespace hx

#endif

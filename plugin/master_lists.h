// The plug-in's three master lists and their builders.
//
// Each list is read by requests only while its builder is idle: the
// modular-instrument and VISA lists belong to their worker while the worker's
// running flag is set (see workers.h); the IVI list is rebuilt and read on
// request threads, which the request serialises.
#ifndef VELMORA_PLUGIN_MASTER_LISTS_H
#define VELMORA_PLUGIN_MASTER_LISTS_H

#include <cstdint>

#include "plugin/bindings.h"
#include "plugin/entries.h"

namespace hx {

NameList &iviMasterList();
NameList &modInstrMasterList();
ResourceList &visaMasterList();

// Rebuilds iviMasterList from the configuration library, building aside and
// swapping the finished list in. Answers 0 or the failing entry's status
// (the list then stays as it was).
int32_t BuildIviMasterList(const ConfigLock &);

// Replaces the discovery session by a fresh one and refills
// modInstrMasterList in place from it.
int32_t BuildModInstrMasterList(const SessionLock &);

// Rebuilds visaMasterList from the VISA library, building aside and swapping.
int32_t BuildVisaMasterList();

}  // namespace hx

#endif

// The seven sequences of store operations behind the collection exports. Each
// worker checks the handle, runs its steps over the operation set(s) it is
// given, stops at the first failing step and answers its status, and releases
// every handle it obtained. Out-pointers are written only on success.
#ifndef VELMORA_CONFIG_SEQUENCES_H
#define VELMORA_CONFIG_SEQUENCES_H

#include <stdint.h>

#include "config/backend.h"
#include "velmora/velmora.h"

namespace velmora {

int32_t CountItems(IviIniHandle h, const CollectionOps &set, int32_t *count);

// Answers the item's name in the configuration's name buffer.
int32_t NthItemName(IviIniHandle h, const CollectionOps &set, int32_t index, const char **name);

int32_t GetItemString(IviIniHandle h, const CollectionOps &set, int32_t property, const char *name,
                      char *buffer, int32_t size);

int32_t SetItemString(IviIniHandle h, const CollectionOps &set, int32_t property, const char *name,
                      const char *value);

// The name of the `to` item that the `from` item called `name` refers to.
int32_t GetReferenceName(IviIniHandle h, const CollectionOps &from, const CollectionOps &to,
                         const char *name, char *buffer, int32_t size);

int32_t SetReference(IviIniHandle h, const CollectionOps &from, const CollectionOps &to,
                     const char *name, const char *target);

int32_t AddItem(IviIniHandle h, const CollectionOps &set, const char *name);

int32_t RemoveItem(IviIniHandle h, const CollectionOps &set, const char *name);

}  // namespace velmora

#endif  // VELMORA_CONFIG_SEQUENCES_H

// The store back end: every operation the library performs on a configuration
// store. The library is linked against exactly one definition of everything
// declared here: the placeholder in the shipped library, or a working store
// (the tests link an in-memory one).
//
// Rules every definition keeps and every caller relies on:
// - Each operation returns a signed 32-bit status, negative on failure.
// - Every collection, item or range handle an operation hands out is released
//   by its caller with ReleaseObject, on success and failure alike. Callers
//   start each out-handle as null and release it only when it is not null; a
//   failing operation may leave it null.
#ifndef VELMORA_CONFIG_BACKEND_H
#define VELMORA_CONFIG_BACKEND_H

#include <stdint.h>

#include "config/file_identity.h"

namespace velmora {

// Opaque handles. A store handle lives in a configuration; object handles
// (collections, items, index ranges) live within one call.
using StoreHandle = void *;
using ObjectHandle = void *;

// Property identifiers of getString / setString.
enum : int32_t {
  kPropertyName = 1,
  kPropertyDescription = 2,
  kPropertyModule = 3,              // drivers
  kPropertyResourceDescriptor = 3,  // devices
  kPropertyPrefix = 4,              // drivers
  kPropertySimulate = 9,            // sessions, boolean, via SetSessionBoolean
  kPropertyDriverSetup = 10,        // sessions
};

// Integer properties of an index range (GetRangeInteger).
enum : int32_t {
  kRangeLow = 2,
  kRangeHigh = 3,
};

// String attributes of a store (GetStoreString): default configuration
// locations, asked for in this order when a configuration has no path.
enum : int32_t {
  kStoreDefaultLocation = 5,
  kStoreFallbackLocation = 3,
};

// Capacities the library passes to the back end.
enum : int32_t {
  kPathCapacity = 257,      // 256 characters and the NUL
  kClassNameCapacity = 64,  // class entry names: 63 characters are seen
};

// The ten operations on one kind of item. Slots a set leaves empty are null
// and never reached by the library.
struct CollectionOps {
  // owner: the store handle, or a driver item for DriverClassOps.
  int32_t (*getCollection)(void *owner, ObjectHandle *collection);
  int32_t (*getCount)(ObjectHandle collection, int32_t *count);
  // index counts from 1.
  int32_t (*getItemByIndex)(ObjectHandle collection, int32_t index, ObjectHandle *item);
  // Fails when no item has that name.
  int32_t (*findItem)(ObjectHandle collection, const char *name, ObjectHandle *item);
  int32_t (*addItem)(ObjectHandle collection, const char *name, ObjectHandle *item);
  int32_t (*removeItem)(ObjectHandle collection, ObjectHandle item);
  // Fills buffer under the library's string-return rule.
  int32_t (*getString)(ObjectHandle item, int32_t property, int32_t size, char *buffer);
  int32_t (*setString)(ObjectHandle item, int32_t property, const char *value);
  // The item of this set's kind that `referrer` (an item of another kind)
  // refers to; success with a null out-handle when it refers to none.
  int32_t (*getReference)(ObjectHandle referrer, ObjectHandle *target);
  int32_t (*setReference)(ObjectHandle referrer, ObjectHandle target);
};

extern const CollectionOps LogicalNameOps;    // slots 0-7
extern const CollectionOps SessionOps;        // driver sessions (VIs), all slots
extern const CollectionOps SessionTargetOps;  // sessions read through a logical name;
                                              // slots 8 and 9 are SessionOps'
extern const CollectionOps DriverOps;         // all slots
extern const CollectionOps DeviceOps;         // all slots
extern const CollectionOps DriverClassOps;    // class entries of one driver: 0, 1, 2, 6

// Runs once when the shipped library is loaded.
void InitializeBackEnd();

int32_t CreateStore(StoreHandle *store);
// attribute: kStoreDefaultLocation or kStoreFallbackLocation.
int32_t GetStoreString(StoreHandle store, int32_t attribute, int32_t capacity, char *buffer);
// The non-negative result of LoadStore becomes the result of opening.
int32_t LoadStore(StoreHandle store, const char *path);
// Writes the store back to the file it was loaded from; `path` is the one
// LoadStore was given.
int32_t SaveStore(StoreHandle store, const char *path);
// The identity of the file the store was last read from (or saved to),
// taken from the very descriptor that read (or wrote) it, so that a change
// made while the store was reading shows as a change. Negative when the store
// knows none (it read no file).
int32_t GetStoreFileIdentity(StoreHandle store, FileIdentity *identity);
int32_t ReleaseStore(StoreHandle store);     // result ignored by callers
int32_t ReleaseObject(ObjectHandle object);  // result ignored by callers
int32_t NoteEmptyReference();                // result ignored by callers
// value: 0 or 1.
int32_t SetSessionBoolean(ObjectHandle session, int32_t property, int32_t value);

// Channel entries of a session, each with a name and a collection of index
// ranges; indexes count from 1.
int32_t GetChannelEntries(ObjectHandle session, ObjectHandle *entries);
int32_t CountChannelEntries(ObjectHandle entries, int32_t *count);
int32_t GetChannelEntry(ObjectHandle entries, int32_t index, ObjectHandle *entry);
int32_t GetEntryString(ObjectHandle entry, int32_t property, int32_t capacity, char *buffer);
int32_t GetEntryRanges(ObjectHandle entry, ObjectHandle *ranges);
int32_t CountRanges(ObjectHandle ranges, int32_t *count);
int32_t GetRange(ObjectHandle ranges, int32_t index, ObjectHandle *range);
int32_t GetRangeInteger(ObjectHandle range, int32_t property, int32_t *value);

// Nonzero when a class entry name (at most 63 characters) names an
// instrument class.
uint16_t IsDriverClassName(const char *name);

}  // namespace velmora

#endif  // VELMORA_CONFIG_BACKEND_H

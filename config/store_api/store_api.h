// What the exports of libvelmora-store (velmora_store.h) share: the object
// behind a velmora_store pointer, and the checks and answers every export
// makes, written once so that each export is a few lines.
#ifndef VELMORA_CONFIG_STORE_API_STORE_API_H
#define VELMORA_CONFIG_STORE_API_STORE_API_H

#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "config/store_file/store_keys.h"
#include "config/store_file/store_model.h"
#include "velmora/velmora_store.h"

// Completes the opaque type of the public header. Made by velmora_store_open
// with calloc, freed by velmora_store_close.
struct velmora_store {
  velmora::store::Store *store;  // never null while open
  // The file the store was opened from, made absolute at open: saves,
  // reloads and the change test go to it wherever the process moves.
  char location[PATH_MAX];
};

namespace velmora {
namespace store_api {

using store::Field;
using store::Kind;
using store::Store;
using store::TextView;

// kIviIniInvalidHandle for a null store, else 0.
int32_t CheckStore(const velmora_store *s);

// CheckStore, then kIviIniStoreNoSuchKind for a value outside the enum;
// writes the kind the model uses.
int32_t CheckKind(const velmora_store *s, velmora_store_kind kind, Kind *out);

// The checks above, then the item of `kind` called `name`:
// kIviIniStoreNoSuchItem when there is none (or name is null).
int32_t FindItem(const velmora_store *s, velmora_store_kind kind, const char *name, uint32_t *item);

// The field `key` names for items of `kind` (letter case ignored):
// kIviIniStoreNoSuchProperty for a null key or one the kind lacks.
int32_t FindField(Kind kind, const char *key, Field *field);

// The string-return rule of velmora_store.h: a size below 1 writes nothing.
int32_t Answer(TextView text, char *buffer, int32_t size);

// The items that refer to `name` of kind `target`, in file order: each is
// handed to visit(item); a true answer stops the walk. Answers whether it
// was stopped. A walk over every item of the referring kind: removals and
// listings of referrers are rare next to reads.
template <typename Visit>
bool ForEachReferrer(const Store &store, Kind target, const char *name, size_t length, Visit visit);

// The kind that refers to items of `target` and the field it names them in;
// false for logical names, which nothing refers to.
bool ReferringKind(Kind target, Kind *from, Field *field);

template <typename Visit>
bool ForEachReferrer(const Store &store, Kind target, const char *name, size_t length,
                     Visit visit) {
  Kind from;
  Field field;
  // No item has an empty name; the items that lack the key would match it.
  if (length == 0 || !ReferringKind(target, &from, &field)) return false;
  for (uint32_t i = 0; i < store.Count(from); ++i) {
    const uint32_t item = store.ItemAt(from, i);
    const TextView value = store.Value(item, field);
    if (value.length == length && (length == 0 || memcmp(value.data, name, length) == 0) &&
        visit(item)) {
      return true;
    }
  }
  return false;
}

}  // namespace store_api
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_API_STORE_API_H

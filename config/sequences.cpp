#include "config/sequences.h"

#include "config/configuration.h"
#include "config/object_guard.h"
#include "config/string_return.h"

namespace velmora {

int32_t CountItems(IviIniHandle h, const CollectionOps &set, int32_t *count) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  if (count == nullptr) return kIviIniNullPointer;
  ObjectGuard collection;
  int32_t status = set.getCollection(h->state.store, collection.out());
  // Counted into a local so that a failing getCount leaves the caller's value.
  int32_t items = 0;
  if (status >= 0) status = set.getCount(collection.get(), &items);
  if (status >= 0) *count = items;
  return status;
}

int32_t NthItemName(IviIniHandle h, const CollectionOps &set, int32_t index, const char **name) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  if (name == nullptr) return kIviIniNullPointer;
  ObjectGuard collection, item;
  int32_t status = set.getCollection(h->state.store, collection.out());
  if (status >= 0) status = set.getItemByIndex(collection.get(), index, item.out());
  // The name goes straight into the configuration's buffer, which outlives
  // the call; the caller receives its address.
  if (status >= 0) {
    status = set.getString(item.get(), kPropertyName, kIviIniNameBufferSize, h->nameBuffer);
  }
  if (status >= 0) *name = h->nameBuffer;  // a positive status is a truncated name
  return status;
}

int32_t GetItemString(IviIniHandle h, const CollectionOps &set, int32_t property, const char *name,
                      char *buffer, int32_t size) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  ObjectGuard collection, item;
  int32_t status = FindNamedItem(set, h->state.store, name, collection, item);
  if (status >= 0) status = set.getString(item.get(), property, size, buffer);
  return status;
}

int32_t SetItemString(IviIniHandle h, const CollectionOps &set, int32_t property, const char *name,
                      const char *value) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  ObjectGuard collection, item;
  int32_t status = FindNamedItem(set, h->state.store, name, collection, item);
  if (status >= 0) status = set.setString(item.get(), property, value);
  return status;
}

int32_t GetReferenceName(IviIniHandle h, const CollectionOps &from, const CollectionOps &to,
                         const char *name, char *buffer, int32_t size) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  ObjectGuard collection, referrer, target;
  int32_t status = FindNamedItem(from, h->state.store, name, collection, referrer);
  if (status >= 0) status = to.getReference(referrer.get(), target.out());
  if (status < 0) return status;
  if (target.get() != nullptr) return to.getString(target.get(), kPropertyName, size, buffer);

  // No referenced item: answer the empty string, passing on getReference's
  // result wherever the string fitted.
  NoteEmptyReference();
  const int32_t answer = StringReturn("", buffer, size);
  return answer != kIviIniSuccess ? answer : status;
}

int32_t SetReference(IviIniHandle h, const CollectionOps &from, const CollectionOps &to,
                     const char *name, const char *target) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  ObjectGuard fromCollection, referrer, toCollection, targetItem;
  int32_t status = FindNamedItem(from, h->state.store, name, fromCollection, referrer);
  if (status >= 0) status = FindNamedItem(to, h->state.store, target, toCollection, targetItem);
  // The reference is stored by the target's set: it knows its kind of item.
  if (status >= 0) status = to.setReference(referrer.get(), targetItem.get());
  return status;
}

int32_t AddItem(IviIniHandle h, const CollectionOps &set, const char *name) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  ObjectGuard collection, item;
  int32_t status = set.getCollection(h->state.store, collection.out());
  if (status >= 0) status = set.addItem(collection.get(), name, item.out());
  return status;
}

int32_t RemoveItem(IviIniHandle h, const CollectionOps &set, const char *name) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  ObjectGuard collection, item;
  int32_t status = FindNamedItem(set, h->state.store, name, collection, item);
  if (status >= 0) status = set.removeItem(collection.get(), item.get());
  return status;
}

}  // namespace velmora

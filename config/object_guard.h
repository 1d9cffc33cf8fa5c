// Ownership of back-end object handles within one call. The library keeps to
// the C runtime, so this small guard stands in for a smart pointer: whatever
// path a call takes, every collection, item and range handle it obtained is
// released, in reverse order of declaration.
#ifndef VELMORA_CONFIG_OBJECT_GUARD_H
#define VELMORA_CONFIG_OBJECT_GUARD_H

#include "config/backend.h"

namespace velmora {

class ObjectGuard {
 public:
  ObjectGuard() = default;
  ~ObjectGuard() { Release(); }
  ObjectGuard(const ObjectGuard &) = delete;
  ObjectGuard &operator=(const ObjectGuard &) = delete;

  ObjectHandle get() const { return handle_; }

  // A null out-handle for an operation to fill; releases what was held.
  ObjectHandle *out() {
    Release();
    return &handle_;
  }

  void Release() {
    if (handle_ != nullptr) {
      ReleaseObject(handle_);  // the back end's answer changes nothing here
      handle_ = nullptr;
    }
  }

 private:
  ObjectHandle handle_ = nullptr;
};

// Finds the item called `name` in the collection of `ops` under `owner`:
// getCollection, then findItem. Both handles stay with the caller's guards.
inline int32_t FindNamedItem(const CollectionOps &ops, void *owner, const char *name,
                             ObjectGuard &collection, ObjectGuard &item) {
  int32_t status = ops.getCollection(owner, collection.out());
  if (status >= 0) status = ops.findItem(collection.get(), name, item.out());
  return status;
}

}  // namespace velmora

#endif  // VELMORA_CONFIG_OBJECT_GUARD_H

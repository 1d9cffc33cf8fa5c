// A driver's instrument classes: the entries of its class collection that the
// back end recognises as class names. The store keeps no count of them, so
// both exports walk the entries; the lookup by index walks twice.
#include <string.h>

#include "config/configuration.h"
#include "config/object_guard.h"
#include "config/string_return.h"

namespace velmora {
namespace {

// Walks the class entries of `driver`: onCount() once the number of entries
// is known, then onClass(name) for every accepted entry until it answers
// true. Answers the first failure, else the result of the last operation run.
template <typename OnCount, typename OnClass>
int32_t WalkDriverClasses(StoreHandle store, const char *driver, OnCount onCount, OnClass onClass) {
  ObjectGuard drivers, driverItem, classes;
  int32_t status = FindNamedItem(DriverOps, store, driver, drivers, driverItem);
  if (status >= 0) status = DriverClassOps.getCollection(driverItem.get(), classes.out());
  int32_t entries = 0;
  if (status >= 0) status = DriverClassOps.getCount(classes.get(), &entries);
  if (status < 0) return status;

  onCount();
  for (int32_t i = 1; i <= entries; ++i) {
    char name[kClassNameCapacity];
    memset(name, 0, sizeof name);
    ObjectGuard entry;
    status = DriverClassOps.getItemByIndex(classes.get(), i, entry.out());
    if (status >= 0) {
      status = DriverClassOps.getString(entry.get(), kPropertyName, kClassNameCapacity, name);
    }
    if (status < 0) break;
    // A truncated name is no failure: its first 63 characters are judged.
    name[kClassNameCapacity - 1] = '\0';
    if (IsDriverClassName(name) != 0 && onClass(name)) break;
  }
  return status;
}

int32_t ClassCount(IviIniHandle h, const char *driver, int32_t *count) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  if (count == nullptr) return kIviIniNullPointer;
  // Counted in place: after a failure part-way the caller sees the classes
  // counted before it.
  return WalkDriverClasses(
      h->state.store, driver, [count] { *count = 0; },
      [count](const char *) {
        ++*count;
        return false;
      });
}

int32_t ClassByIndex(IviIniHandle h, const char *driver, int32_t index, char *buffer,
                     int32_t size) {
  if (!FindConfiguration(h)) return kIviIniInvalidHandle;
  int32_t classes = 0;
  const int32_t counted = ClassCount(h, driver, &classes);
  if (counted < 0) return counted;
  if (index < 1 || index > classes) return kIviIniClassIndexOutOfRange;

  int32_t number = 1;
  bool found = false;
  int32_t answer = kIviIniSuccess;
  const int32_t status = WalkDriverClasses(
      h->state.store, driver, [] {},
      [&](const char *name) {
        if (number++ != index) return false;
        answer = StringReturn(name, buffer, size);
        found = true;
        return true;
      });
  if (status < 0) return status;
  // The store lost classes since they were counted: answer the empty string.
  return found ? answer : StringReturn("", buffer, size);
}

}  // namespace
}  // namespace velmora

extern "C" {

int32_t IviIni_GetDriverClassCount(IviIniHandle h, const char *driver, int32_t *count) {
  return velmora::ClassCount(h, driver, count);
}

int32_t IviIni_GetDriverClassByIndex(IviIniHandle h, const char *driver, int32_t index,
                                     char *buffer, int32_t size) {
  return velmora::ClassByIndex(h, driver, index, buffer, size);
}

int32_t IviIni_GetDriverClass(IviIniHandle h, const char *driver, char *buffer, int32_t size) {
  return velmora::ClassByIndex(h, driver, 1, buffer, size);
}

}  // extern "C"

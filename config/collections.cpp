// The 33 collection exports, expanded from the table in collection_table.h.
#include "config/collection_table.h"
#include "config/sequences.h"

#define VELMORA_COUNT(fn, set)                          \
  int32_t fn(IviIniHandle h, int32_t *count) {          \
    return velmora::CountItems(h, velmora::set, count); \
  }
#define VELMORA_NTH(fn, set)                                     \
  int32_t fn(IviIniHandle h, int32_t index, const char **name) { \
    return velmora::NthItemName(h, velmora::set, index, name);   \
  }
#define VELMORA_GET(fn, set, property)                                                     \
  int32_t fn(IviIniHandle h, const char *name, char *buffer, int32_t size) {               \
    return velmora::GetItemString(h, velmora::set, velmora::property, name, buffer, size); \
  }
#define VELMORA_SET(fn, set, property)                                              \
  int32_t fn(IviIniHandle h, const char *name, const char *value) {                 \
    return velmora::SetItemString(h, velmora::set, velmora::property, name, value); \
  }
#define VELMORA_GET_REF(fn, from, to)                                                    \
  int32_t fn(IviIniHandle h, const char *name, char *buffer, int32_t size) {             \
    return velmora::GetReferenceName(h, velmora::from, velmora::to, name, buffer, size); \
  }
#define VELMORA_SET_REF(fn, from, to)                                          \
  int32_t fn(IviIniHandle h, const char *name, const char *target) {           \
    return velmora::SetReference(h, velmora::from, velmora::to, name, target); \
  }
#define VELMORA_ADD(fn, set)                        \
  int32_t fn(IviIniHandle h, const char *name) {    \
    return velmora::AddItem(h, velmora::set, name); \
  }
#define VELMORA_REMOVE(fn, set)                        \
  int32_t fn(IviIniHandle h, const char *name) {       \
    return velmora::RemoveItem(h, velmora::set, name); \
  }

extern "C" {
VELMORA_COLLECTION_EXPORTS(VELMORA_COUNT, VELMORA_NTH, VELMORA_GET, VELMORA_SET, VELMORA_GET_REF,
                           VELMORA_SET_REF, VELMORA_ADD, VELMORA_REMOVE)
}  // extern "C"

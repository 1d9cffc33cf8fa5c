// The keys of an item: read as the file holds them, set as the file's reader
// would accept them, removed, and the Simulate flag read as a truth value.
#include "config/store_api/store_api.h"

namespace velmora {
namespace store_api {
namespace {

// The item and the field a key names, after every check.
int32_t FindKey(const velmora_store *s, velmora_store_kind kind, const char *name, const char *key,
                uint32_t *item, Field *field) {
  const int32_t status = FindItem(s, kind, name, item);
  if (status != kIviIniSuccess) return status;
  return FindField(static_cast<Kind>(kind), key, field);
}

int32_t HasKey(const velmora_store *s, velmora_store_kind kind, const char *name, const char *key,
               int *has) {
  uint32_t item;
  Field field;
  const int32_t status = FindKey(s, kind, name, key, &item, &field);
  if (status != kIviIniSuccess) return status;
  if (has == nullptr) return kIviIniNullPointer;
  *has = s->store->HasValue(item, field) ? 1 : 0;
  return kIviIniSuccess;
}

int32_t Get(const velmora_store *s, velmora_store_kind kind, const char *name, const char *key,
            char *buffer, int32_t size) {
  uint32_t item;
  Field field;
  const int32_t status = FindKey(s, kind, name, key, &item, &field);
  if (status != kIviIniSuccess) return status;
  if (!s->store->HasValue(item, field)) return kIviIniStoreNoSuchKey;
  return Answer(s->store->Value(item, field), buffer, size);
}

int32_t Set(velmora_store *s, velmora_store_kind kind, const char *name, const char *key,
            const char *value) {
  uint32_t item;
  Field field;
  const int32_t status = FindKey(s, kind, name, key, &item, &field);
  if (status != kIviIniSuccess) return status;
  if (value == nullptr) return kIviIniStoreBadValue;
  if (field == Field::kSimulate) {
    bool simulate;
    if (!store::ParseBoolean(value, strlen(value), &simulate)) return kIviIniStoreBadValue;
    return s->store->SetBoolean(item, field, simulate);
  }
  Kind target;
  // A reference names an item of its kind, or none at all.
  if (store::TargetOf(field, &target) && value[0] != '\0') {
    const uint32_t named = s->store->Find(target, value, strlen(value));
    if (named == store::kNoItem) return kIviIniStoreNoSuchItem;
    return s->store->SetReference(item, field, named);
  }
  return s->store->SetValue(item, field, value, true);
}

int32_t Unset(velmora_store *s, velmora_store_kind kind, const char *name, const char *key) {
  uint32_t item;
  Field field;
  const int32_t status = FindKey(s, kind, name, key, &item, &field);
  if (status != kIviIniSuccess) return status;
  return s->store->Unset(item, field);
}

int32_t Simulate(const velmora_store *s, const char *session, int *simulate) {
  uint32_t item;
  const int32_t status = FindItem(s, VELMORA_STORE_SESSION, session, &item);
  if (status != kIviIniSuccess) return status;
  if (simulate == nullptr) return kIviIniNullPointer;
  // The store reads every Simulate word when it loads or sets one; a session
  // without the line does not simulate.
  const TextView word = s->store->Value(item, Field::kSimulate);
  bool value = false;
  store::ParseBoolean(word.data, word.length, &value);
  *simulate = value ? 1 : 0;
  return kIviIniSuccess;
}

}  // namespace
}  // namespace store_api
}  // namespace velmora

extern "C" {

int32_t velmora_store_has_key(const velmora_store *store, velmora_store_kind kind, const char *name,
                              const char *key, int *has) {
  return velmora::store_api::HasKey(store, kind, name, key, has);
}

int32_t velmora_store_get(const velmora_store *store, velmora_store_kind kind, const char *name,
                          const char *key, char *buffer, int32_t size) {
  return velmora::store_api::Get(store, kind, name, key, buffer, size);
}

int32_t velmora_store_set(velmora_store *store, velmora_store_kind kind, const char *name,
                          const char *key, const char *value) {
  return velmora::store_api::Set(store, kind, name, key, value);
}

int32_t velmora_store_unset(velmora_store *store, velmora_store_kind kind, const char *name,
                            const char *key) {
  return velmora::store_api::Unset(store, kind, name, key);
}

int32_t velmora_store_simulate(const velmora_store *store, const char *session, int *simulate) {
  return velmora::store_api::Simulate(store, session, simulate);
}

}  // extern "C"

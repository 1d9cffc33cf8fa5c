// The items of a store: counted and named in file order, added, removed
// (a referenced one only by force), and the items that refer to one.
#include "config/store_api/store_api.h"

namespace velmora {
namespace store_api {
namespace {

int32_t Count(const velmora_store *s, velmora_store_kind kind, uint32_t *count) {
  Kind k;
  const int32_t status = CheckKind(s, kind, &k);
  if (status != kIviIniSuccess) return status;
  if (count == nullptr) return kIviIniNullPointer;
  *count = s->store->Count(k);
  return kIviIniSuccess;
}

int32_t Name(const velmora_store *s, velmora_store_kind kind, uint32_t index, char *buffer,
             int32_t size) {
  Kind k;
  const int32_t status = CheckKind(s, kind, &k);
  if (status != kIviIniSuccess) return status;
  const uint32_t item = s->store->ItemAt(k, index);
  if (item == store::kNoItem) return kIviIniStoreNoSuchItem;
  return Answer(s->store->Name(item), buffer, size);
}

int32_t HasItem(const velmora_store *s, velmora_store_kind kind, const char *name, int *has) {
  uint32_t item;
  const int32_t status = FindItem(s, kind, name, &item);
  if (status != kIviIniSuccess && status != kIviIniStoreNoSuchItem) return status;
  if (has == nullptr) return kIviIniNullPointer;
  *has = status == kIviIniSuccess ? 1 : 0;
  return kIviIniSuccess;
}

int32_t Add(velmora_store *s, velmora_store_kind kind, const char *name) {
  Kind k;
  const int32_t status = CheckKind(s, kind, &k);
  if (status != kIviIniSuccess) return status;
  if (name == nullptr) return kIviIniStoreNoSuchItem;
  return s->store->Add(k, name, nullptr);
}

// The checks every referrer call makes; the name need not be an item's.
int32_t ReferrerArguments(const velmora_store *s, velmora_store_kind kind, const char *name,
                          Kind *k) {
  const int32_t status = CheckKind(s, kind, k);
  if (status != kIviIniSuccess) return status;
  return name != nullptr ? kIviIniSuccess : kIviIniStoreNoSuchItem;
}

int32_t Remove(velmora_store *s, velmora_store_kind kind, const char *name, int force) {
  uint32_t item;
  const int32_t status = FindItem(s, kind, name, &item);
  if (status != kIviIniSuccess) return status;
  const bool referenced = ForEachReferrer(*s->store, static_cast<Kind>(kind), name, strlen(name),
                                          [](uint32_t) { return true; });
  if (referenced && force == 0) return kIviIniStoreReferenced;
  return s->store->Remove(item);
}

int32_t ReferrerCount(const velmora_store *s, velmora_store_kind kind, const char *name,
                      uint32_t *count) {
  Kind k;
  const int32_t status = ReferrerArguments(s, kind, name, &k);
  if (status != kIviIniSuccess) return status;
  if (count == nullptr) return kIviIniNullPointer;
  uint32_t found = 0;
  ForEachReferrer(*s->store, k, name, strlen(name), [&found](uint32_t) {
    ++found;
    return false;
  });
  *count = found;
  return kIviIniSuccess;
}

int32_t Referrer(const velmora_store *s, velmora_store_kind kind, const char *name, uint32_t index,
                 velmora_store_kind *referrerKind, char *buffer, int32_t size) {
  Kind k;
  const int32_t status = ReferrerArguments(s, kind, name, &k);
  if (status != kIviIniSuccess) return status;
  if (referrerKind == nullptr) return kIviIniNullPointer;
  uint32_t seen = 0, found = store::kNoItem;
  ForEachReferrer(*s->store, k, name, strlen(name), [&](uint32_t item) {
    if (seen++ != index) return false;
    found = item;
    return true;
  });
  if (found == store::kNoItem) return kIviIniStoreNoSuchItem;
  *referrerKind = static_cast<velmora_store_kind>(Store::KindOf(found));
  return Answer(s->store->Name(found), buffer, size);
}

}  // namespace
}  // namespace store_api
}  // namespace velmora

extern "C" {

int32_t velmora_store_count(const velmora_store *store, velmora_store_kind kind, uint32_t *count) {
  return velmora::store_api::Count(store, kind, count);
}

int32_t velmora_store_name(const velmora_store *store, velmora_store_kind kind, uint32_t index,
                           char *buffer, int32_t size) {
  return velmora::store_api::Name(store, kind, index, buffer, size);
}

int32_t velmora_store_has_item(const velmora_store *store, velmora_store_kind kind,
                               const char *name, int *has) {
  return velmora::store_api::HasItem(store, kind, name, has);
}

int32_t velmora_store_add(velmora_store *store, velmora_store_kind kind, const char *name) {
  return velmora::store_api::Add(store, kind, name);
}

int32_t velmora_store_remove(velmora_store *store, velmora_store_kind kind, const char *name,
                             int force) {
  return velmora::store_api::Remove(store, kind, name, force);
}

int32_t velmora_store_referrer_count(const velmora_store *store, velmora_store_kind kind,
                                     const char *name, uint32_t *count) {
  return velmora::store_api::ReferrerCount(store, kind, name, count);
}

int32_t velmora_store_referrer(const velmora_store *store, velmora_store_kind kind,
                               const char *name, uint32_t index, velmora_store_kind *referrer_kind,
                               char *buffer, int32_t size) {
  return velmora::store_api::Referrer(store, kind, name, index, referrer_kind, buffer, size);
}

}  // extern "C"

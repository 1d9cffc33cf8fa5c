// What a caller needs to know to ask the store anything: the statuses' names
// and meanings, the kinds of item and their keys, and the checks every
// export makes on its arguments.
#include <strings.h>

#include "config/store_api/store_api.h"
#include "config/string_return.h"

namespace velmora {
namespace store_api {
namespace {

struct StatusRow {
  int32_t status;
  const char *name;
  const char *text;
};

#define VELMORA_STORE_STATUS_ROW(name, value, meaning) {value, #name, meaning},
constexpr StatusRow kStatuses[] = {IVIINI_STATUS_TABLE(VELMORA_STORE_STATUS_ROW)};
#undef VELMORA_STORE_STATUS_ROW

const StatusRow *RowOf(int32_t status) {
  for (const StatusRow &row : kStatuses) {
    if (row.status == status) return &row;
  }
  return nullptr;
}

// velmora-store's spelling of the one kind whose file spelling is two words.
constexpr char kLogicalNameWord[] = "logical-name";

int32_t ParseKind(const char *word, velmora_store_kind *kind) {
  if (kind == nullptr) return kIviIniNullPointer;
  if (word == nullptr) return kIviIniStoreNoSuchKind;
  Kind found;
  if (strcasecmp(word, kLogicalNameWord) == 0) {
    found = Kind::kLogicalName;
  } else if (!store::KindFromWord(word, strlen(word), &found)) {
    return kIviIniStoreNoSuchKind;
  }
  *kind = static_cast<velmora_store_kind>(found);
  return kIviIniSuccess;
}

bool KnownKind(velmora_store_kind kind) {
  return static_cast<int>(kind) >= 0 && static_cast<int>(kind) < store::kKindCount;
}

}  // namespace

// The model's kinds are the header's, in the same order.
static_assert(static_cast<int>(Kind::kLogicalName) == VELMORA_STORE_LOGICAL_NAME &&
                  static_cast<int>(Kind::kSession) == VELMORA_STORE_SESSION &&
                  static_cast<int>(Kind::kDriver) == VELMORA_STORE_DRIVER &&
                  static_cast<int>(Kind::kDevice) == VELMORA_STORE_DEVICE &&
                  store::kKindCount == VELMORA_STORE_KIND_COUNT,
              "one order of kinds");

int32_t CheckKind(const velmora_store *s, velmora_store_kind kind, Kind *out) {
  const int32_t status = CheckStore(s);
  if (status != kIviIniSuccess) return status;
  if (!KnownKind(kind)) return kIviIniStoreNoSuchKind;
  *out = static_cast<Kind>(kind);
  return kIviIniSuccess;
}

int32_t FindItem(const velmora_store *s, velmora_store_kind kind, const char *name,
                 uint32_t *item) {
  Kind k;
  const int32_t status = CheckKind(s, kind, &k);
  if (status != kIviIniSuccess) return status;
  if (name == nullptr) return kIviIniStoreNoSuchItem;
  *item = s->store->Find(k, name, strlen(name));
  return *item != store::kNoItem ? kIviIniSuccess : kIviIniStoreNoSuchItem;
}

int32_t FindField(Kind kind, const char *key, Field *field) {
  if (key == nullptr) return kIviIniStoreNoSuchProperty;
  const int slot = store::SlotOfKey(kind, key, strlen(key));
  if (slot < 0) return kIviIniStoreNoSuchProperty;
  *field = store::SpecOf(kind).keys[slot].field;
  return kIviIniSuccess;
}

int32_t Answer(TextView text, char *buffer, int32_t size) {
  return StringReturn(text.data, text.length, buffer, size < 1 ? 0 : size);
}

bool ReferringKind(Kind target, Kind *from, Field *field) {
  switch (target) {
    case Kind::kSession:
      *from = Kind::kLogicalName;
      break;
    case Kind::kDriver:
    case Kind::kDevice:
      *from = Kind::kSession;
      break;
    default:
      return false;
  }
  return store::ReferenceField(*from, target, field);
}

}  // namespace store_api
}  // namespace velmora

extern "C" {

const char *velmora_store_status_name(int32_t status) {
  const velmora::store_api::StatusRow *row = velmora::store_api::RowOf(status);
  return row != nullptr ? row->name : nullptr;
}

const char *velmora_store_status_text(int32_t status) {
  const velmora::store_api::StatusRow *row = velmora::store_api::RowOf(status);
  return row != nullptr ? row->text : nullptr;
}

int32_t velmora_store_kind_parse(const char *word, velmora_store_kind *kind) {
  return velmora::store_api::ParseKind(word, kind);
}

const char *velmora_store_kind_name(velmora_store_kind kind) {
  if (!velmora::store_api::KnownKind(kind)) return nullptr;
  return velmora::store::SpecOf(static_cast<velmora::store::Kind>(kind)).name;
}

int32_t velmora_store_key_count(velmora_store_kind kind) {
  if (!velmora::store_api::KnownKind(kind)) return kIviIniStoreNoSuchKind;
  return velmora::store::SpecOf(static_cast<velmora::store::Kind>(kind)).keyCount;
}

const char *velmora_store_key_name(velmora_store_kind kind, int32_t index) {
  if (!velmora::store_api::KnownKind(kind)) return nullptr;
  const velmora::store::KindSpec &spec =
      velmora::store::SpecOf(static_cast<velmora::store::Kind>(kind));
  return index >= 0 && index < spec.keyCount ? spec.keys[index].key : nullptr;
}

}  // extern "C"

// The lists derived from an item's value: a session's channels, expanded by
// the library's one expansion (config/channels.h), and a driver's class
// entries as written.
#include "config/channels.h"
#include "config/store_api/store_api.h"

namespace velmora {
namespace store_api {
namespace {

int32_t ChannelCount(velmora_store *s, const char *session, uint32_t *count) {
  uint32_t item;
  const int32_t status = FindItem(s, VELMORA_STORE_SESSION, session, &item);
  if (status != kIviIniSuccess) return status;
  if (count == nullptr) return kIviIniNullPointer;
  int32_t channels = 0;
  const int32_t walked = CountSessionChannels(s->store, session, &channels);
  if (walked < 0) return walked;
  *count = static_cast<uint32_t>(channels);
  return kIviIniSuccess;
}

int32_t Channel(velmora_store *s, const char *session, uint32_t index, char *buffer, int32_t size) {
  uint32_t item;
  const int32_t status = FindItem(s, VELMORA_STORE_SESSION, session, &item);
  if (status != kIviIniSuccess) return status;
  if (index >= static_cast<uint32_t>(INT32_MAX)) return kIviIniStoreNoSuchItem;
  char name[kIviIniNameBufferSize];
  const int32_t named =
      NameSessionChannel(s->store, session, static_cast<int32_t>(index) + 1, name);
  if (named < 0) return named;
  if (named == 0) return kIviIniStoreNoSuchItem;
  return Answer({name, static_cast<uint32_t>(strlen(name))}, buffer, size);
}

// The driver's class entries, taken apart once and kept until Classes changes.
int32_t PrepareClasses(velmora_store *s, const char *driver, uint32_t *item) {
  const int32_t status = FindItem(s, VELMORA_STORE_DRIVER, driver, item);
  if (status != kIviIniSuccess) return status;
  return s->store->PrepareLists(*item);
}

int32_t ClassCount(velmora_store *s, const char *driver, uint32_t *count) {
  uint32_t item;
  const int32_t status = PrepareClasses(s, driver, &item);
  if (status != kIviIniSuccess) return status;
  if (count == nullptr) return kIviIniNullPointer;
  *count = s->store->ClassCount(item);
  return kIviIniSuccess;
}

int32_t Class(velmora_store *s, const char *driver, uint32_t index, char *buffer, int32_t size) {
  uint32_t item;
  const int32_t status = PrepareClasses(s, driver, &item);
  if (status != kIviIniSuccess) return status;
  if (index >= s->store->ClassCount(item)) return kIviIniStoreNoSuchItem;
  return Answer(s->store->ClassAt(item, index), buffer, size);
}

}  // namespace
}  // namespace store_api
}  // namespace velmora

extern "C" {

int32_t velmora_store_channel_count(velmora_store *store, const char *session, uint32_t *count) {
  return velmora::store_api::ChannelCount(store, session, count);
}

int32_t velmora_store_channel(velmora_store *store, const char *session, uint32_t index,
                              char *buffer, int32_t size) {
  return velmora::store_api::Channel(store, session, index, buffer, size);
}

int32_t velmora_store_class_count(velmora_store *store, const char *driver, uint32_t *count) {
  return velmora::store_api::ClassCount(store, driver, count);
}

int32_t velmora_store_class(velmora_store *store, const char *driver, uint32_t index, char *buffer,
                            int32_t size) {
  return velmora::store_api::Class(store, driver, index, buffer, size);
}

int velmora_store_is_instrument_class(const char *entry) {
  return entry != nullptr && velmora::store::IsInstrumentClassName(entry, strlen(entry)) ? 1 : 0;
}

}  // extern "C"

// The back end shipped on this platform: no configuration store is available,
// so every operation fails with kIviIniBackEndFailure and writes nothing. The
// library's own logic stays complete in front of it.
#include "config/backend.h"

#include "velmora/velmora.h"

namespace velmora {
namespace {

// Any collection operation, whatever it is asked: there is no store. Each
// table slot instantiates it with the slot's own signature.
template <typename... Arguments>
int32_t Unavailable(Arguments...) {
  return kIviIniBackEndFailure;
}

constexpr CollectionOps kAllSlots = {Unavailable, Unavailable, Unavailable, Unavailable,
                                     Unavailable, Unavailable, Unavailable, Unavailable,
                                     Unavailable, Unavailable};

}  // namespace

const CollectionOps LogicalNameOps = {Unavailable, Unavailable, Unavailable, Unavailable,
                                      Unavailable, Unavailable, Unavailable, Unavailable,
                                      nullptr,     nullptr};
const CollectionOps SessionOps = kAllSlots;
const CollectionOps SessionTargetOps = kAllSlots;
const CollectionOps DriverOps = kAllSlots;
const CollectionOps DeviceOps = kAllSlots;
const CollectionOps DriverClassOps = {Unavailable, Unavailable, Unavailable, nullptr, nullptr,
                                      nullptr,     Unavailable, nullptr,     nullptr, nullptr};

void InitializeBackEnd() {}

int32_t CreateStore(StoreHandle *) {
  return kIviIniBackEndFailure;
}
int32_t GetStoreString(StoreHandle, int32_t, int32_t, char *) {
  return kIviIniBackEndFailure;
}
int32_t LoadStore(StoreHandle, const char *) {
  return kIviIniBackEndFailure;
}
int32_t SaveStore(StoreHandle, const char *) {
  return kIviIniBackEndFailure;
}
int32_t GetStoreFileIdentity(StoreHandle, FileIdentity *) {
  return kIviIniBackEndFailure;
}
int32_t ReleaseStore(StoreHandle) {
  return kIviIniBackEndFailure;
}
int32_t ReleaseObject(ObjectHandle) {
  return kIviIniBackEndFailure;
}
int32_t NoteEmptyReference() {
  return kIviIniBackEndFailure;
}
int32_t SetSessionBoolean(ObjectHandle, int32_t, int32_t) {
  return kIviIniBackEndFailure;
}

int32_t GetChannelEntries(ObjectHandle, ObjectHandle *) {
  return kIviIniBackEndFailure;
}
int32_t CountChannelEntries(ObjectHandle, int32_t *) {
  return kIviIniBackEndFailure;
}
int32_t GetChannelEntry(ObjectHandle, int32_t, ObjectHandle *) {
  return kIviIniBackEndFailure;
}
int32_t GetEntryString(ObjectHandle, int32_t, int32_t, char *) {
  return kIviIniBackEndFailure;
}
int32_t GetEntryRanges(ObjectHandle, ObjectHandle *) {
  return kIviIniBackEndFailure;
}
int32_t CountRanges(ObjectHandle, int32_t *) {
  return kIviIniBackEndFailure;
}
int32_t GetRange(ObjectHandle, int32_t, ObjectHandle *) {
  return kIviIniBackEndFailure;
}
int32_t GetRangeInteger(ObjectHandle, int32_t, int32_t *) {
  return kIviIniBackEndFailure;
}

uint16_t IsDriverClassName(const char *) {
  return 0;
}

}  // namespace velmora

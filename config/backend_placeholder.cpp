// The back end shipped on this platform: no configuration store is available,
// so every operation fails with kIviIniBackEndFailure and writes nothing. The
// library's own logic stays complete in front of it.
#include "config/backend.h"

#include "velmora/velmora.h"

namespace velmora {
namespace {

int32_t NoCollection(void *, ObjectHandle *) { return kIviIniBackEndFailure; }
int32_t NoCount(ObjectHandle, int32_t *) { return kIviIniBackEndFailure; }
int32_t NoItemByIndex(ObjectHandle, int32_t, ObjectHandle *) { return kIviIniBackEndFailure; }
int32_t NoItemByName(ObjectHandle, const char *, ObjectHandle *) { return kIviIniBackEndFailure; }
int32_t NoRemove(ObjectHandle, ObjectHandle) { return kIviIniBackEndFailure; }
int32_t NoGetString(ObjectHandle, int32_t, int32_t, char *) { return kIviIniBackEndFailure; }
int32_t NoSetString(ObjectHandle, int32_t, const char *) { return kIviIniBackEndFailure; }
int32_t NoReference(ObjectHandle, ObjectHandle *) { return kIviIniBackEndFailure; }
int32_t NoSetReference(ObjectHandle, ObjectHandle) { return kIviIniBackEndFailure; }

constexpr CollectionOps kAllSlots = {NoCollection, NoCount,     NoItemByIndex, NoItemByName,
                                     NoItemByName, NoRemove,    NoGetString,   NoSetString,
                                     NoReference,  NoSetReference};

}  // namespace

const CollectionOps LogicalNameOps = {NoCollection, NoCount,     NoItemByIndex, NoItemByName,
                                      NoItemByName, NoRemove,    NoGetString,   NoSetString,
                                      nullptr,      nullptr};
const CollectionOps SessionOps = kAllSlots;
const CollectionOps SessionTargetOps = kAllSlots;
const CollectionOps DriverOps = kAllSlots;
const CollectionOps DeviceOps = kAllSlots;
const CollectionOps DriverClassOps = {NoCollection, NoCount, NoItemByIndex, nullptr, nullptr,
                                      nullptr,      NoGetString, nullptr,   nullptr, nullptr};

void InitializeBackEnd() {}

int32_t CreateStore(StoreHandle *) { return kIviIniBackEndFailure; }
int32_t GetStoreString(StoreHandle, int32_t, int32_t, char *) { return kIviIniBackEndFailure; }
int32_t LoadStore(StoreHandle, const char *) { return kIviIniBackEndFailure; }
int32_t SaveStore(StoreHandle, const char *) { return kIviIniBackEndFailure; }
int32_t ReleaseStore(StoreHandle) { return kIviIniBackEndFailure; }
int32_t ReleaseObject(ObjectHandle) { return kIviIniBackEndFailure; }
int32_t NoteEmptyReference() { return kIviIniBackEndFailure; }
int32_t SetSessionBoolean(ObjectHandle, int32_t, int32_t) { return kIviIniBackEndFailure; }

int32_t GetChannelEntries(ObjectHandle, ObjectHandle *) { return kIviIniBackEndFailure; }
int32_t CountChannelEntries(ObjectHandle, int32_t *) { return kIviIniBackEndFailure; }
int32_t GetChannelEntry(ObjectHandle, int32_t, ObjectHandle *) { return kIviIniBackEndFailure; }
int32_t GetEntryString(ObjectHandle, int32_t, int32_t, char *) { return kIviIniBackEndFailure; }
int32_t GetEntryRanges(ObjectHandle, ObjectHandle *) { return kIviIniBackEndFailure; }
int32_t CountRanges(ObjectHandle, int32_t *) { return kIviIniBackEndFailure; }
int32_t GetRange(ObjectHandle, int32_t, ObjectHandle *) { return kIviIniBackEndFailure; }
int32_t GetRangeInteger(ObjectHandle, int32_t, int32_t *) { return kIviIniBackEndFailure; }

uint16_t IsDriverClassName(const char *) { return 0; }

}  // namespace velmora

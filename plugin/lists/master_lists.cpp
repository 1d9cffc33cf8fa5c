#include "plugin/lists/master_lists.h"

#include <memory>
#include <utility>

#include "plugin/common/immortal.h"

namespace hx {
namespace {

// Immortal: a detached worker may publish while the process exits.
Immortal<NameSnapshotRef> theEmptyNames(std::make_shared<const NameSnapshot>());
Immortal<ResourceSnapshotRef> theEmptyResources(std::make_shared<const ResourceSnapshot>());
Immortal<Published<NameSnapshot>> theIviMasterList(theEmptyNames.get());
Immortal<Published<NameSnapshot>> theModInstrMasterList(theEmptyNames.get());
Immortal<Published<ResourceSnapshot>> theVisaMasterList(theEmptyResources.get());

}  // namespace

const NameSnapshotRef &EmptyNameSnapshot() {
  return theEmptyNames.get();
}
const ResourceSnapshotRef &EmptyResourceSnapshot() {
  return theEmptyResources.get();
}

NameSnapshotRef iviMasterList() {
  return theIviMasterList.get().Get();
}
NameSnapshotRef modInstrMasterList() {
  return theModInstrMasterList.get().Get();
}
ResourceSnapshotRef visaMasterList() {
  return theVisaMasterList.get().Get();
}

void PublishIviMasterList(NameList built) {
  theIviMasterList.get().Publish(std::make_shared<const NameSnapshot>(std::move(built)));
}
void PublishModInstrMasterList(NameList built) {
  theModInstrMasterList.get().Publish(std::make_shared<const NameSnapshot>(std::move(built)));
}
void PublishVisaMasterList(ResourceList built) {
  theVisaMasterList.get().Publish(std::make_shared<const ResourceSnapshot>(std::move(built)));
}

}  // namespace hx

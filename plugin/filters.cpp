#include "plugin/filters.h"

#include <strings.h>

#include "plugin/host_data.h"

namespace hx {
namespace {

// A "typeClass" of "Ivi" (any case) or none at all keeps every entry.
constexpr const char *kAllClasses = "Ivi";

// Reads "displayFilter"; an absent attribute counts as 0 (nothing shown).
MgErr ReadDisplayFilter(HxVariantRef properties, uint32_t *bits) {
  *bits = 0;
  const MgErr status = HxVariantPStrGetUI32Attr(&properties, kDisplayFilterAttr.get(), bits);
  return status == kHostAttributeAbsent ? kHostOk : status;
}

}  // namespace

MgErr FilterNameEntries(const NameList &source, NameList &destination, HxVariantRef properties) {
  uint32_t bits = 0;
  if (const MgErr status = ReadDisplayFilter(properties, &bits); status != kHostOk) return status;
  if ((bits & kShowNameEntries) == 0) {
    destination.clear();
    return kHostOk;
  }

  MallocText typeClass;
  MgErr status = CopyStringAttribute(properties, kTypeClassAttr.get(), &typeClass);
  if (status == kHostAttributeAbsent) status = kHostOk;
  const char *wanted = typeClass.get();
  if (wanted == nullptr || *wanted == '\0' || strcasecmp(wanted, kAllClasses) == 0) {
    destination = source;
    return status;
  }

  NameList kept;
  for (const NameEntry &entry : source) {
    if (strcasecmp(entry.driverClass.c_str(), wanted) == 0 ||
        strcasecmp(entry.driverPrefix.c_str(), wanted) == 0) {
      kept.push_back(entry);
    }
  }
  destination.swap(kept);
  return status;
}

MgErr FilterResourceEntries(const ResourceList &source, ResourceList &destination,
                            HxVariantRef properties) {
  uint32_t bits = 0;
  if (const MgErr status = ReadDisplayFilter(properties, &bits); status != kHostOk) return status;
  if ((bits & kShowResourceEntries) != 0) {
    destination = source;
  } else {
    destination.clear();
  }
  return kHostOk;
}

}  // namespace hx

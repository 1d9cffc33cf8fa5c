#include "plugin/request/filters.h"

#include <strings.h>

#include "plugin/host/host_data.h"

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

// What a control's attributes let through of a list of names, read once per
// list it filters.
class NameFilter {
 public:
  explicit NameFilter(HxVariantRef properties) {
    uint32_t bits = 0;
    status_ = ReadDisplayFilter(properties, &bits);
    if (status_ != kHostOk) {
      kind_ = Kind::kUnreadable;
      return;
    }
    if ((bits & kShowNameEntries) == 0) {
      kind_ = Kind::kNothing;
      return;
    }
    status_ = CopyStringAttribute(properties, kTypeClassAttr.get(), &typeClass_);
    if (status_ == kHostAttributeAbsent) status_ = kHostOk;
    const char *wanted = typeClass_.get();
    const bool everyClass =
        wanted == nullptr || *wanted == '\0' || strcasecmp(wanted, kAllClasses) == 0;
    kind_ = everyClass ? Kind::kEverything : Kind::kOneClass;
  }

  // "displayFilter" could not be read: the destination stays as it was.
  bool unreadable() const { return kind_ == Kind::kUnreadable; }
  MgErr status() const { return status_; }

  bool Keeps(const NameEntry &entry) const {
    switch (kind_) {
      case Kind::kEverything:
        return true;
      case Kind::kOneClass:
        return strcasecmp(entry.driverClass.c_str(), typeClass_.get()) == 0 ||
               strcasecmp(entry.driverPrefix.c_str(), typeClass_.get()) == 0;
      default:
        return false;
    }
  }

 private:
  enum class Kind { kUnreadable, kNothing, kEverything, kOneClass };
  Kind kind_ = Kind::kNothing;
  MgErr status_ = kHostOk;
  MallocText typeClass_;
};

// Whether a control shows VISA resource names; the status of the read.
MgErr ShowsResources(HxVariantRef properties, bool *shows) {
  uint32_t bits = 0;
  const MgErr status = ReadDisplayFilter(properties, &bits);
  *shows = (bits & kShowResourceEntries) != 0;
  return status;
}

}  // namespace

MgErr SelectNameEntries(const NameSnapshotRef &source, NameSelection &selection,
                        HxVariantRef properties) {
  const NameFilter filter(properties);
  if (filter.unreadable()) return filter.status();
  const std::vector<NameEntry> &entries = source->entries();
  selection.list = source;
  selection.marks.resize(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    selection.marks[i] = filter.Keeps(entries[i]) ? kShown : kHidden;
  }
  return filter.status();
}

MgErr SelectResourceEntries(const ResourceSnapshotRef &source, ResourceSelection &selection,
                            HxVariantRef properties) {
  bool shows = false;
  if (const MgErr status = ShowsResources(properties, &shows); status != kHostOk) return status;
  selection.list = source;
  selection.marks.assign(source->size(), shows ? kShown : kHidden);
  return kHostOk;
}

MgErr FilterNameEntries(const NameList &source, NameView &destination, HxVariantRef properties) {
  const NameFilter filter(properties);
  if (filter.unreadable()) return filter.status();
  destination.clear();
  for (const NameEntry &entry : source) {
    if (filter.Keeps(entry)) destination.push_back(&entry);
  }
  return filter.status();
}

MgErr FilterResourceEntries(const ResourceList &source, ResourceView &destination,
                            HxVariantRef properties) {
  bool shows = false;
  if (const MgErr status = ShowsResources(properties, &shows); status != kHostOk) return status;
  destination.clear();
  if (shows) {
    for (const ResourceEntry &entry : source) destination.push_back(&entry);
  }
  return kHostOk;
}

}  // namespace hx

#include "plugin/lists/master_lists.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "plugin/common/immortal.h"

namespace hx {
namespace {

// Size of the name buffers that the configuration and VISA entries fill.
constexpr uint32_t kEntryTextSize = 256;

// Immortal: a detached worker may publish while the process exits.
Immortal<NameSnapshotRef> theEmptyNames(std::make_shared<const NameSnapshot>());
Immortal<ResourceSnapshotRef> theEmptyResources(std::make_shared<const ResourceSnapshot>());
Immortal<Published<NameSnapshot>> theIviMasterList(theEmptyNames.get());
Immortal<Published<NameSnapshot>> theModInstrMasterList(theEmptyNames.get());
Immortal<Published<ResourceSnapshot>> theVisaMasterList(theEmptyResources.get());

// A 256-byte buffer for the configuration and VISA entries to fill; the text
// ends at the first NUL or at the end of the buffer, whichever comes first, so
// an entry that fills all of it is not read past.
// It starts as the empty text; the bytes after the first are never read
// before the entry writes them, so they are not cleared (a rebuild fills four
// of these per logical name).
class EntryText {
 public:
  EntryText() { bytes_[0] = '\0'; }
  char *data() { return bytes_; }
  std::string str() const { return std::string(bytes_, strnlen(bytes_, sizeof bytes_)); }

 private:
  char bytes_[kEntryTextSize];
};

// Reads one string attribute of an installed device whole: the library is
// asked for the size the value needs and writes into a buffer of that size.
std::string ReadDeviceText(qxModInst_GetInstalledDeviceAttributeViString_t read, int32_t session,
                           int32_t index, int32_t attribute) {
  const int32_t size = read(session, index, attribute, 0, nullptr);
  if (size <= 0) return std::string();
  std::string text(static_cast<size_t>(size), '\0');
  read(session, index, attribute, size, text.data());
  text.resize(strnlen(text.data(), text.size()));
  return text;
}

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

int32_t BuildIviMasterList() {
  NameList built;
  const int32_t opened = OpenDefaultConfiguration();
  if (opened != 0) return opened;
  void *const config = GetConfigHandle();

  auto countNames = slots.cfgGetNumberOfLogicalNames.get();
  if (countNames == nullptr) {
    PublishIviMasterList(std::move(built));
    return 0;
  }
  int32_t count = 0;
  const int32_t counted = countNames(config, &count);
  if (counted != 0) return counted;

  // Room for every name up front, within reason: the count is the library's
  // word, and a wrong one must not make a huge allocation.
  constexpr int32_t kReservedAtMost = 1 << 20;
  built.reserve(static_cast<size_t>(std::clamp(count, 0, kReservedAtMost)));
  int32_t lastStatus = 0;
  // 64 bits: a count of INT32_MAX must end the loop, not overflow it.
  for (int64_t i = 1; i <= count; ++i) {
    const char *name = nullptr;
    lastStatus = 0;
    if (auto nth = slots.cfgGetNthLogicalName.get()) {
      lastStatus = nth(config, static_cast<uint32_t>(i), &name);
    }
    // Without a name there is nothing to offer for this index.
    if (lastStatus != 0 || name == nullptr) continue;

    // Each step feeds the next; a name the store cannot resolve simply ends
    // up with an empty class and prefix.
    EntryText session, driver, driverClass, prefix;
    if (auto fn = slots.cfgGetLogicalNameVI.get()) fn(config, name, session.data(), kEntryTextSize);
    if (auto fn = slots.cfgGetVIDriver.get())
      fn(config, session.data(), driver.data(), kEntryTextSize);
    if (auto fn = slots.cfgGetDriverClass.get()) {
      fn(config, driver.data(), driverClass.data(), kEntryTextSize);
    }
    if (auto fn = slots.cfgGetDriverPrefix.get()) {
      fn(config, driver.data(), prefix.data(), kEntryTextSize);
    }
    built.push_back(NameEntry{name, false, driverClass.str(), prefix.str()});
  }
  if (lastStatus != 0) return lastStatus;
  PublishIviMasterList(std::move(built));
  return 0;
}

int32_t BuildModInstrMasterList() {
  int32_t count = 0;
  if (slots.qxModInst_OpenInstalledDevicesSession) {
    // Every run replaces the session, so that it lists the devices installed
    // now rather than when the previous session was opened.
    const int32_t status = ReopenModInstSession(&count);
    if (status != 0) return status;
  }

  NameList list;
  const int32_t session = GetModInstSession();
  auto read = slots.qxModInst_GetInstalledDeviceAttributeViString.get();
  if (count > 0) list.reserve(static_cast<size_t>(count));
  for (int32_t index = 0; index < count; ++index) {
    NameEntry entry;
    if (read != nullptr) {
      entry.name = ReadDeviceText(read, session, index, kModInstAttrName);
      // The prefix stands for both the class and the prefix: it is what the
      // "typeClass" filter of a control names for modular instruments.
      entry.driverPrefix = ReadDeviceText(read, session, index, kModInstAttrPrefix);
      entry.driverClass = entry.driverPrefix;
    }
    list.push_back(std::move(entry));
  }
  PublishModInstrMasterList(std::move(list));
  return 0;
}

int32_t BuildVisaMasterList() {
  ResourceList built;
  auto first = slots.visaGetNumberOfVisaNames.get();
  if (first == nullptr) {
    PublishVisaMasterList(std::move(built));
    return 0;
  }
  int32_t count = 0;
  uint32_t findList = 0;
  EntryText name;
  const int32_t started = first(&count, name.data(), &findList);
  if (started != 0) return started;
  // No resources is a count of 0 and no first name, not an empty name.
  if (count > 0) built.push_back(ResourceEntry{name.str(), false});

  for (int32_t i = 1; i < count; ++i) {
    EntryText next;
    if (auto fn = slots.visaGetNextVisaName.get()) {
      const int32_t status = fn(findList, next.data());
      if (status != 0) {
        if (auto close = slots.visaCloseVisaNameList.get()) close(findList);
        return status;
      }
    }
    built.push_back(ResourceEntry{next.str(), false});
  }
  if (auto close = slots.visaCloseVisaNameList.get()) close(findList);
  PublishVisaMasterList(std::move(built));
  return 0;
}

}  // namespace hx

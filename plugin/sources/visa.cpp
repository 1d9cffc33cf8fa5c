#include "plugin/sources/visa.h"

#include <utility>

#include "plugin/lists/master_lists.h"
#include "plugin/sources/entry_text.h"
#include "plugin/sources/library_binding.h"
#include "plugin/sources/workers.h"

namespace hx {
namespace {

// Closes a find list on every path out of the builder, memory running out
// included.
class FindList {
 public:
  FindList() = default;
  ~FindList() NO_THREAD_SAFETY_ANALYSIS {
    if (list_ == 0) return;
    if (auto close = visaSlots.visaCloseVisaNameList.get()) close(list_);
  }
  FindList(const FindList &) = delete;
  FindList &operator=(const FindList &) = delete;
  uint32_t *out() { return &list_; }
  uint32_t get() const { return list_; }

 private:
  uint32_t list_ = 0;
};

}  // namespace

int32_t BuildVisaMasterList() {
  ResourceList built;
  auto first = visaSlots.visaGetNumberOfVisaNames.get();
  if (first == nullptr) {
    PublishVisaMasterList(std::move(built));
    return 0;
  }
  int32_t count = 0;
  FindList findList;
  EntryText name;
  const int32_t started = first(&count, name.data(), findList.out());
  if (started != 0) return started;
  // No resources is a count of 0 and no first name, not an empty name.
  if (count > 0) built.push_back(ResourceEntry{name.str(), false});

  for (int32_t i = 1; i < count; ++i) {
    EntryText next;
    if (auto fn = visaSlots.visaGetNextVisaName.get()) {
      const int32_t status = fn(findList.get(), next.data());
      if (status != 0) return status;
    }
    built.push_back(ResourceEntry{next.str(), false});
  }
  PublishVisaMasterList(std::move(built));
  return 0;
}

bool VisaWanted(Refresh when) noexcept {
  if (when == Refresh::kNever || TheVisaMasterListThread().IsRunning()) return false;
  if (!IsVisaLibraryBound() && OptInSetting(kVisaLibraryVariable) == nullptr) return false;
  return when == Refresh::kAlways || VisaListingStale();
}

void GetVISAMasterListThread::Run() {
  RunQuietly([this] {
    GateLock lock(visaGate);
    // A run decided before a release would reopen the resource manager the
    // release closed; it keeps the previous list, and a later request starts
    // another.
    if (visaGate.Overtaken(ticketsAtStart.visa)) return;
    NoteVisaAttempt();
    if (EnsureVisaLibrary() == 0 && IsVisaLibraryBound()) BuildVisaMasterList();
  });
  running.store(false, std::memory_order_release);
}

}  // namespace hx

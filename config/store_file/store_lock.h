// The lock that lets the savers of a store go one at a time: a write lock
// owned by an open file description (F_OFD_SETLK) on a lock file beside the
// store, ".<name>.lock". The kernel drops it when the descriptor closes, also
// when the process dies, so a crash leaves nothing held.
//
// Only those who may write the store can open the lock file at all: its
// owner, group, mode and access control list follow the store's write
// access, set after making it whatever the umask. A reader therefore cannot
// take a lock that holds a save back, and a lock file that would let
// someone else in (made by a user who may not write the store in a sticky
// folder, say) is refused rather than used. The file is never truncated and
// never deleted: a saver waiting on it must find the very file the next
// saver locks. After locking, the file at the name must still be the one
// locked.
#ifndef VELMORA_CONFIG_STORE_FILE_STORE_LOCK_H
#define VELMORA_CONFIG_STORE_FILE_STORE_LOCK_H

#include <stdint.h>

#include "config/store_file/descriptor.h"
#include "config/store_file/file_system.h"
#include "config/store_file/store_access.h"
#include "config/store_file/store_folder.h"

namespace velmora {
namespace store {

// How long a save waits for another program's save to finish: a save takes
// milliseconds, so a lock held this long belongs to a program that hangs.
constexpr unsigned kLockPatienceMilliseconds = 10000;

class StoreLock {
 public:
  StoreLock() = default;
  StoreLock(const StoreLock &) = delete;
  StoreLock &operator=(const StoreLock &) = delete;

  // Opens the lock file of the store in `folder` (making it when there is
  // none) and takes its lock, waiting up to kLockPatienceMilliseconds while
  // another holds it, or not at all without `wait`. `store` is the store's
  // access. Answers 0, kIviIniStoreBusy, kIviIniStoreLockUnusable,
  // kIviIniStoreCannotCreateTemporary (no lock file can be made in the
  // folder: nor can a save's other files) or kIviIniOutOfMemory, with
  // `failure` saying why; never saves unlocked.
  int32_t Take(const StoreFolder &folder, const FileAccess &store, bool wait,
               FileFailure *failure);
  bool held() const { return fd_.get() >= 0; }

 private:
  int32_t Open(const StoreFolder &folder, const char *name, const FileAccess &store,
               const char *path, FileFailure *failure);
  int32_t Wait(bool wait, const char *path, FileFailure *failure);

  Descriptor fd_;  // holds the lock while open
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_STORE_LOCK_H

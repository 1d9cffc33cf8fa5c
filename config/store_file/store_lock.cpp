#include "config/store_file/store_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>

#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

constexpr unsigned kLongestLockPause = 100;
// Tries at finding the lock file still at its name once locked.
constexpr int kLockTries = 3;
constexpr int kLockFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

int32_t Unusable(FileFailure *failure, const char *path, int error, const char *reason = nullptr) {
  return Fail(failure, kIviIniStoreLockUnusable, FileStep::kOpenLock, path, error, reason);
}

}  // namespace

int32_t StoreLock::Take(const StoreFolder &folder, const FileAccess &store, bool wait,
                        FileFailure *failure) {
  const FileSystem &fs = Files();
  char name[NAME_MAX + 1], path[PATH_MAX];
  folder.SideName(kLockSuffix, name);
  folder.PathOf(name, path);
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    int32_t status = Open(folder, name, store, path, failure);
    if (status == kIviIniSuccess) status = Wait(wait, path, failure);
    if (status != kIviIniSuccess) {
      fd_.Close();
      return status;
    }
    // Someone may have renamed or deleted the file while this one waited:
    // a lock on a file no longer at the name excludes nobody.
    struct stat locked, named;
    if (fs.stat(fd_.get(), "", &locked, AT_EMPTY_PATH) == 0 &&
        fs.stat(folder.fd(), name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
      return kIviIniSuccess;
    }
    fd_.Close();
  }
  return Unusable(failure, path, 0, "the lock file was replaced each time it was locked");
}

int32_t StoreLock::Open(const StoreFolder &folder, const char *name, const FileAccess &store,
                        const char *path, FileFailure *failure) {
  const FileSystem &fs = Files();
  bool made = false;
  fd_.Reset(fs.open(folder.fd(), name, kLockFlags));
  if (fd_.get() < 0 && errno == ENOENT) {
    fd_.Reset(fs.create(folder.fd(), name, kLockFlags, 0600));
    // Another saver made it first: use theirs.
    if (fd_.get() < 0 && errno == EEXIST) {
      fd_.Reset(fs.open(folder.fd(), name, kLockFlags));
    } else if (fd_.get() < 0) {
      // A folder without room for a lock file has none for a save either.
      return Fail(failure, kIviIniStoreCannotCreateTemporary, FileStep::kOpenLock, path, errno);
    }
    made = fd_.get() >= 0;
  }
  if (fd_.get() < 0) {
    return Unusable(failure, path, errno,
                    errno == ELOOP ? "the lock file is a symbolic link" : nullptr);
  }
  struct stat info;
  if (fs.stat(fd_.get(), "", &info, AT_EMPTY_PATH) != 0) return Unusable(failure, path, errno);
  if (!S_ISREG(info.st_mode) || info.st_nlink != 1) {
    return Unusable(failure, path, 0, "the lock file is not a regular file with one name");
  }
  if (made) {
    // The store's owner and group where this user may give them; where not,
    // the list names them (Derive).
    if (fs.changeOwner(fd_.get(), store.owner(), store.group()) != 0) {
      fs.changeOwner(fd_.get(), static_cast<uid_t>(-1), store.group());
    }
    if (fs.stat(fd_.get(), "", &info, AT_EMPTY_PATH) != 0) return Unusable(failure, path, errno);
  } else {
    // In a sticky folder anyone who may make files can make this one, and
    // keep its owner's right to open it whatever its mode: its owner must be
    // one who may write the store. Elsewhere whoever could make it could as
    // well replace the store.
    struct stat place;
    if (fs.stat(folder.fd(), "", &place, AT_EMPTY_PATH) != 0) return Unusable(failure, path, errno);
    if ((place.st_mode & S_ISVTX) != 0 &&
        !store.MayWrite(info.st_uid, info.st_gid, (place.st_mode & S_ISGID) != 0)) {
      return Unusable(failure, path, 0,
                      "the lock file belongs to a user who may not write the store; its owner "
                      "or the folder's must remove it");
    }
  }
  FileAccess allowed, actual;
  int32_t status = store.Derive(true, info.st_uid, info.st_gid, &allowed);
  if (status == kIviIniSuccess && !made) status = actual.Read(fd_.get(), info);
  if (status == kIviIniOutOfMemory) return status;
  if (status != kIviIniSuccess) return Unusable(failure, path, errno);
  if (made || !actual.Within(allowed)) {
    // Made now, or the store's access changed since: only the lock file's
    // owner (or root) may correct it.
    if (allowed.Apply(fd_.get()) != 0) {
      if (errno == ENOMEM) return kIviIniOutOfMemory;
      return Unusable(failure, path, errno,
                      errno == EPERM ? "the lock file lets users who may not write the store "
                                       "open it, and only its owner may change that"
                                     : nullptr);
    }
  }
  return kIviIniSuccess;
}

int32_t StoreLock::Wait(bool wait, const char *path, FileFailure *failure) {
  const FileSystem &fs = Files();
  unsigned waited = 0, pause = 1;
  for (;;) {
    if (fs.lock(fd_.get()) == 0) return kIviIniSuccess;
    if (errno == EINTR) continue;
    // A file system without such locks (or a lock server that is down)
    // refuses the save: saving unlocked could lose another program's save.
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Unusable(failure, path, errno);
    if (!wait || waited >= kLockPatienceMilliseconds) {
      return Fail(failure, kIviIniStoreBusy, FileStep::kLock, path, EWOULDBLOCK,
                  wait ? "another program held the lock for 10 seconds"
                       : "another program is saving the file");
    }
    fs.pause(pause);
    waited += pause;
    pause = pause * 2 < kLongestLockPause ? pause * 2 : kLongestLockPause;
  }
}

}  // namespace store
}  // namespace velmora

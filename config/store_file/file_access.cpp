#include "config/store_file/file_access.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include "config/store_file/growable_array.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

// Closes a descriptor on every path out of a function, through the table.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;

  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  // Answers close's result: on some file systems the last write error shows
  // only here.
  int Close() {
    if (fd_ < 0) return 0;
    const int result = Files().close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// Writes all of `data`. False with errno set when the file system refuses,
// and with errno 0 when it takes nothing: retrying a write that makes no
// progress would never end.
bool WriteAll(int fd, const char *data, size_t length) {
  while (length > 0) {
    const ssize_t written = Files().write(fd, data, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = 0;
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

// Gathers small pieces so that the file gets few, large writes; a piece at
// least as large as the buffer goes straight through.
class BufferedFile {
 public:
  BufferedFile(int fd, char *buffer, size_t capacity)
      : fd_(fd), buffer_(buffer), capacity_(capacity) {}

  static bool Put(void *self, const char *data, size_t length) {
    return static_cast<BufferedFile *>(self)->Append(data, length);
  }

  bool Flush() {
    const bool ok = WriteAll(fd_, buffer_, used_);
    used_ = 0;
    return ok;
  }

 private:
  bool Append(const char *data, size_t length) {
    if (length > capacity_ - used_ && !Flush()) return false;
    if (length >= capacity_) return WriteAll(fd_, data, length);
    memcpy(buffer_ + used_, data, length);
    used_ += length;
    return true;
  }

  int fd_;
  char *buffer_;
  size_t capacity_;
  size_t used_ = 0;
};

constexpr size_t kWriteBufferBytes = 64 * 1024;
// How long a save waits for another program's save to finish: a save takes
// milliseconds, so a lock held this long belongs to a program that hangs.
constexpr unsigned kLockPatienceMilliseconds = 10000;
constexpr unsigned kLongestLockPause = 100;

const char *NotRegular(const struct stat &info) {
  if (S_ISDIR(info.st_mode)) return "it is a folder, not a regular file";
  if (S_ISFIFO(info.st_mode)) return "it is a FIFO, not a regular file";
  return "it is not a regular file";
}

int32_t OpenFailed(const char *path, int error, FileFailure *failure) {
  const int32_t status =
      error == ENOENT || error == ENOTDIR ? kIviIniStoreNotFound : kIviIniStoreUnreadable;
  return Fail(failure, status, FileStep::kOpen, path, error);
}

// One save: the steps of ReplaceFile, each answering 0 or the status that
// ends the save. Whatever the outcome, the destructor removes a temporary
// that was not renamed and closes every descriptor, which lets the lock go.
class Saver {
 public:
  Saver(const char *path, FileFailure *failure) : fs_(Files()), path_(path), failure_(failure) {}
  Saver(const Saver &) = delete;
  Saver &operator=(const Saver &) = delete;

  ~Saver() {
    if (temporaryExists_) {
      temporary_.Close();
      fs_.remove(folder_.get(), temporaryName_);
    }
  }

  int32_t Run(const FileIdentity &loaded, ContentSource source, const void *content,
              FileIdentity *written) {
    int32_t status = OpenFolder();
    if (status == kIviIniSuccess) status = Lock();
    if (status == kIviIniSuccess) status = CheckStillLoaded(loaded);
    if (status == kIviIniSuccess) status = CreateTemporary();
    if (status == kIviIniSuccess) status = WriteContent(source, content);
    if (status == kIviIniSuccess) status = KeepOwnerAndMode();
    if (status == kIviIniSuccess) status = KeepAttributes();
    if (status == kIviIniSuccess) status = Complete(written);
    return status;
  }

 private:
  // The folder of the file the path leads to: through a symbolic link, the
  // link's target is replaced and the link stays a link. A link that leads
  // nowhere no longer leads to the file that was loaded.
  int32_t OpenFolder() {
    struct stat info;
    if (fs_.stat(AT_FDCWD, path_, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
      resolved_.Reset(fs_.resolve(path_));
      if (resolved_.get() == nullptr) {
        if (errno == ENOMEM) return kIviIniOutOfMemory;
        return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kResolve, path_, errno);
      }
      path_ = static_cast<const char *>(resolved_.get());
    }
    const char *slash = strrchr(path_, '/');
    const size_t folderLength = slash == nullptr ? 1 : (slash == path_ ? 1 : slash - path_);
    folderPath_.Reset(malloc(folderLength + 1));
    auto *folder = static_cast<char *>(folderPath_.get());
    if (folder == nullptr) return kIviIniOutOfMemory;
    memcpy(folder, slash == nullptr ? "." : path_, folderLength);
    folder[folderLength] = '\0';
    name_ = slash == nullptr ? path_ : slash + 1;
    folder_.Reset(fs_.open(AT_FDCWD, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder_.get() < 0) {
      return Fail(failure_, kIviIniStoreCannotCreateTemporary, FileStep::kOpenFolder, path_, errno);
    }
    return kIviIniSuccess;
  }

  // Savers of one folder go one at a time. The lock is the kernel's, on the
  // folder's descriptor: it goes when the descriptor closes, also when the
  // process dies, so nothing is ever left on disk to clean up.
  int32_t Lock() {
    unsigned waited = 0, pause = 1;
    for (;;) {
      if (fs_.lock(folder_.get(), LOCK_EX | LOCK_NB) == 0) return kIviIniSuccess;
      if (errno == EINTR) continue;
      // A file system that cannot lock a folder (NFS locks only files open
      // for writing) saves without the lock; the comparison below still
      // refuses any change made before this save began.
      if (errno != EWOULDBLOCK) return kIviIniSuccess;
      if (waited >= kLockPatienceMilliseconds) {
        return Fail(failure_, kIviIniStoreBusy, FileStep::kLock, path_, EWOULDBLOCK,
                    "another program held the lock for 10 seconds");
      }
      fs_.pause(pause);
      waited += pause;
      pause = pause * 2 < kLongestLockPause ? pause * 2 : kLongestLockPause;
    }
  }

  int32_t CheckStillLoaded(const FileIdentity &loaded) {
    old_.Reset(fs_.open(folder_.get(), name_,
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (old_.get() < 0) {
      const int error = errno;
      if (error == ENOENT || error == ENOTDIR) {
        return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kCompare, path_, error,
                    "the file was deleted since it was loaded");
      }
      if (error == ELOOP) {
        return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kCompare, path_, error,
                    "a symbolic link took the file's place since it was loaded");
      }
      const int32_t status =
          error == EACCES || error == EPERM ? kIviIniStoreNotWritable : kIviIniStoreReplaceFailed;
      return Fail(failure_, status, FileStep::kOpen, path_, error);
    }
    if (fs_.stat(old_.get(), "", &old_info_, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreReplaceFailed, FileStep::kExamine, path_, errno);
    }
    if (!S_ISREG(old_info_.st_mode) || !SameIdentity(IdentityOf(old_info_), loaded)) {
      return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kCompare, path_, 0,
                  "the file changed on disk since it was loaded");
    }
    if (old_info_.st_nlink > 1) {
      return Fail(failure_, kIviIniStoreHardLinked, FileStep::kCompare, path_, 0,
                  "the file has other hard links, which replacing it would split");
    }
    // The folder may let this user replace a file that the file itself says
    // is not theirs to change; the file's word counts.
    if (fs_.access(folder_.get(), name_, W_OK) != 0) {
      return Fail(failure_, kIviIniStoreNotWritable, FileStep::kCheckAccess, path_, errno);
    }
    return kIviIniSuccess;
  }

  // ".<name>.XXXXXX" beside the file, the name cut short where the whole
  // would be longer than the folder takes, so that a file of any name that
  // the folder holds can be saved.
  int32_t CreateTemporary() {
    long limit = fs_.nameLimit(folder_.get());
    if (limit <= 0 || limit > NAME_MAX) limit = NAME_MAX;
    size_t kept = strlen(name_);
    if (kept + 8 > static_cast<size_t>(limit)) kept = static_cast<size_t>(limit) - 8;
    temporaryName_[0] = '.';
    memcpy(temporaryName_ + 1, name_, kept);
    char *suffix = temporaryName_ + 1 + kept;
    suffix[0] = '.';
    suffix[7] = '\0';
    for (int attempt = 0; attempt < 100; ++attempt) {
      Scramble(suffix + 1, 6);
      temporary_.Reset(
          fs_.create(folder_.get(), temporaryName_, O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (temporary_.get() >= 0) {
        temporaryExists_ = true;
        snprintf(temporaryPath_, sizeof temporaryPath_, "%s/%s",
                 static_cast<const char *>(folderPath_.get()), temporaryName_);
        return kIviIniSuccess;
      }
      if (errno != EEXIST) break;
    }
    return Fail(failure_, kIviIniStoreCannotCreateTemporary, FileStep::kCreateTemporary, path_,
                errno);
  }

  // Letters and digits that differ from one try, process and moment to the next.
  static void Scramble(char *out, int count) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static uint64_t counter = 0;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t bits =
        (static_cast<uint64_t>(now.tv_nsec) ^ (++counter << 32)) * 0x9E3779B97F4A7C15ull ^
        static_cast<uint64_t>(getpid()) * 0xC2B2AE3D27D4EB4Full;
    for (int i = 0; i < count; ++i, bits /= 62) out[i] = kLetters[bits % 62];
  }

  int32_t WriteContent(ContentSource source, const void *content) {
    HeapBlock buffer(malloc(kWriteBufferBytes));
    if (buffer.get() == nullptr) return kIviIniOutOfMemory;
    BufferedFile file(temporary_.get(), static_cast<char *>(buffer.get()), kWriteBufferBytes);
    if (!source(content, BufferedFile::Put, &file) || !file.Flush()) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWrite, temporaryPath_, errno,
                  errno == 0 ? "the file system took no bytes" : nullptr);
    }
    return kIviIniSuccess;
  }

  // The owner needs privileges to keep; without them the saver owns the new
  // file, but it keeps the old one's group, so that whoever could use the
  // store through its group still can. Owner first: changing it clears the
  // set-ID bits that the mode then restores.
  int32_t KeepOwnerAndMode() {
    struct stat mine;
    if (fs_.stat(temporary_.get(), "", &mine, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepOwner, temporaryPath_, errno);
    }
    const bool sameOwner = mine.st_uid == old_info_.st_uid && mine.st_gid == old_info_.st_gid;
    if (!sameOwner && fs_.changeOwner(temporary_.get(), old_info_.st_uid, old_info_.st_gid) != 0 &&
        mine.st_gid != old_info_.st_gid &&
        fs_.changeOwner(temporary_.get(), static_cast<uid_t>(-1), old_info_.st_gid) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepOwner, temporaryPath_, errno);
    }
    if (fs_.changeMode(temporary_.get(), old_info_.st_mode & 07777) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepMode, temporaryPath_, errno);
    }
    return kIviIniSuccess;
  }

  // Access control lists and security labels are extended attributes: the
  // new file gets every one the old file has.
  int32_t KeepAttributes() {
    ssize_t length = fs_.listAttributes(old_.get(), nullptr, 0);
    if (length < 0 && errno == ENOTSUP) return kIviIniSuccess;  // none can exist here
    if (length <= 0) return length == 0 ? kIviIniSuccess : AttributesFailed(path_);
    HeapBlock list(malloc(static_cast<size_t>(length)));
    if (list.get() == nullptr) return kIviIniOutOfMemory;
    length = fs_.listAttributes(old_.get(), static_cast<char *>(list.get()),
                                static_cast<size_t>(length));
    if (length < 0) return AttributesFailed(path_);
    const char *names = static_cast<const char *>(list.get());
    for (const char *name = names; name < names + length; name += strlen(name) + 1) {
      const int32_t status = CopyAttribute(name);
      if (status != kIviIniSuccess) return status;
    }
    return kIviIniSuccess;
  }

  int32_t CopyAttribute(const char *name) {
    const ssize_t size = fs_.getAttribute(old_.get(), name, nullptr, 0);
    if (size < 0) return errno == ENODATA ? kIviIniSuccess : AttributesFailed(path_);
    HeapBlock value(malloc(static_cast<size_t>(size) * 2 + 2));
    if (value.get() == nullptr) return kIviIniOutOfMemory;
    char *wanted = static_cast<char *>(value.get());
    char *present = wanted + size + 1;
    if (fs_.getAttribute(old_.get(), name, wanted, static_cast<size_t>(size)) != size) {
      return AttributesFailed(path_);
    }
    // A new file may have it already (a folder's default ACL, the security
    // label every new file gets): equal, it is left alone, since setting it
    // may take more rights than having it.
    if (fs_.getAttribute(temporary_.get(), name, present, static_cast<size_t>(size) + 1) == size &&
        memcmp(present, wanted, static_cast<size_t>(size)) == 0) {
      return kIviIniSuccess;
    }
    if (fs_.setAttribute(temporary_.get(), name, wanted, static_cast<size_t>(size)) != 0) {
      return AttributesFailed(temporaryPath_);
    }
    return kIviIniSuccess;
  }

  int32_t AttributesFailed(const char *path) {
    return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepAttributes, path, errno);
  }

  int32_t Complete(FileIdentity *written) {
    struct stat done;
    if (fs_.sync(temporary_.get()) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kSync, temporaryPath_, errno);
    }
    if (fs_.stat(temporary_.get(), "", &done, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kExamine, temporaryPath_, errno);
    }
    if (temporary_.Close() != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kClose, temporaryPath_, errno);
    }
    if (fs_.rename(folder_.get(), temporaryName_, name_) != 0) {
      return Fail(failure_, kIviIniStoreReplaceFailed, FileStep::kRename, path_, errno);
    }
    temporaryExists_ = false;
    *written = IdentityOf(done);  // a rename keeps the inode, size and time
    // Flushing the folder makes the rename last through a power cut. The
    // new file is in place whatever this answers, so a failure is only traced.
    if (fs_.sync(folder_.get()) != 0) {
      Fail(nullptr, kIviIniSuccess, FileStep::kSync, static_cast<const char *>(folderPath_.get()),
           errno);
    }
    return kIviIniSuccess;
  }

  const FileSystem &fs_;
  const char *path_;  // of the file to replace, a link's target once resolved
  FileFailure *failure_;
  HeapBlock resolved_;
  HeapBlock folderPath_;
  const char *name_ = nullptr;  // within the folder
  Descriptor folder_;           // holds the lock while open
  Descriptor old_;              // the file being replaced
  struct stat old_info_ = {};
  Descriptor temporary_;
  bool temporaryExists_ = false;
  char temporaryName_[NAME_MAX + 1] = {};
  char temporaryPath_[PATH_MAX] = {};
};

}  // namespace

int32_t ReadWholeFile(const char *path, uint32_t limit, char **data, uint32_t *size,
                      FileIdentity *identity, FileFailure *failure) {
  const FileSystem &fs = Files();
  struct stat info;
  // Looked at before it is opened: opening a FIFO waits for a writer, and a
  // device may act on being opened. The descriptor's own view below decides.
  if (fs.stat(AT_FDCWD, path, &info, 0) != 0) return OpenFailed(path, errno, failure);
  if (!S_ISREG(info.st_mode)) {
    return Fail(failure, kIviIniStoreUnreadable, FileStep::kOpen, path, 0, NotRegular(info));
  }
  Descriptor fd(fs.open(AT_FDCWD, path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) return OpenFailed(path, errno, failure);
  if (fs.stat(fd.get(), "", &info, AT_EMPTY_PATH) != 0) {
    return Fail(failure, kIviIniStoreUnreadable, FileStep::kExamine, path, errno);
  }
  if (!S_ISREG(info.st_mode)) {
    return Fail(failure, kIviIniStoreUnreadable, FileStep::kExamine, path, 0, NotRegular(info));
  }
  if (info.st_size > static_cast<off_t>(limit)) {
    return Fail(failure, kIviIniStoreFileTooLarge, FileStep::kExamine, path, 0,
                "the file is larger than 64 MiB");
  }
  // Taken before the read: a write during the read then shows as a change.
  const FileIdentity seen = IdentityOf(info);

  // One byte more than the size, so that a file that grew since shows.
  size_t capacity = static_cast<size_t>(info.st_size) + 1;
  HeapBlock block(malloc(capacity));
  if (block.get() == nullptr) return kIviIniOutOfMemory;
  size_t used = 0;
  for (;;) {
    if (used == capacity) {
      if (capacity > limit) break;
      const size_t grown = capacity * 2 > static_cast<size_t>(limit) + 1
                               ? static_cast<size_t>(limit) + 1
                               : capacity * 2;
      void *moved = realloc(block.get(), grown);
      if (moved == nullptr) return kIviIniOutOfMemory;
      block.release();  // realloc has freed or kept it: `moved` is the block now
      block.Reset(moved);
      capacity = grown;
    }
    const ssize_t got = fs.read(fd.get(), static_cast<char *>(block.get()) + used, capacity - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Fail(failure, kIviIniStoreUnreadable, FileStep::kRead, path, errno);
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  if (used > limit) {
    return Fail(failure, kIviIniStoreFileTooLarge, FileStep::kRead, path, 0,
                "the file is larger than 64 MiB");
  }
  *data = static_cast<char *>(block.release());
  *size = static_cast<uint32_t>(used);
  *identity = seen;
  return kIviIniSuccess;
}

int32_t ReplaceFile(const char *path, const FileIdentity &loaded, ContentSource source,
                    const void *content, FileIdentity *written, FileFailure *failure) {
  Saver saver(path, failure);
  return saver.Run(loaded, source, content, written);
}

}  // namespace store
}  // namespace velmora

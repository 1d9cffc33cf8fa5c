#include "config/store_file/file_access.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "config/store_file/content_sum.h"
#include "config/store_file/descriptor.h"
#include "config/store_file/growable_array.h"
#include "config/store_file/recovery_file.h"
#include "config/store_file/store_access.h"
#include "config/store_file/store_folder.h"
#include "config/store_file/store_lock.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

constexpr int kReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int kWriteFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr size_t kWriteBufferBytes = 64 * 1024;
// Reads of a store a save in place was writing, before giving up on a
// quiet moment and reading what the recovery file says.
constexpr int kReadTries = 3;

// Writes all of `data`, sequentially (`offset` negative) or from `offset`.
// False with errno set when the file system refuses, and with errno 0 when
// it takes nothing: retrying a write that makes no progress would never end.
bool WriteAll(int fd, const char *data, size_t length, off_t offset = -1) {
  while (length > 0) {
    const ssize_t written = offset < 0 ? Files().write(fd, data, length)
                                       : Files().writeAt(fd, data, length, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = 0;
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
    if (offset >= 0) offset += written;
  }
  return true;
}

// Gathers small pieces so that the file gets few, large writes (a piece at
// least as large as the buffer goes straight through), and sums what goes
// out: after a save the store knows what the file holds by its checksum.
class BufferedFile {
 public:
  // Writes from `offset` on, or sequentially when it is negative; takes no
  // more than `limit` bytes.
  BufferedFile(int fd, char *buffer, size_t capacity, uint64_t limit, off_t offset = -1)
      : fd_(fd), buffer_(buffer), capacity_(capacity), limit_(limit), offset_(offset) {}

  static bool Put(void *self, const char *data, size_t length) {
    return static_cast<BufferedFile *>(self)->Append(data, length);
  }

  bool Flush() {
    const bool ok = Out(buffer_, used_);
    used_ = 0;
    return ok;
  }
  uint64_t written() const { return sum_.length(); }
  uint64_t sum() const { return sum_.Value(); }
  bool overLimit() const { return overLimit_; }

 private:
  bool Append(const char *data, size_t length) {
    if (sum_.length() + used_ + length > limit_) {
      overLimit_ = true;
      errno = 0;
      return false;
    }
    if (length > capacity_ - used_ && !Flush()) return false;
    if (length >= capacity_) return Out(data, length);
    memcpy(buffer_ + used_, data, length);
    used_ += length;
    return true;
  }

  bool Out(const char *data, size_t length) {
    const off_t at = offset_ < 0 ? -1 : offset_ + static_cast<off_t>(sum_.length());
    sum_.Add(data, length);
    return WriteAll(fd_, data, length, at);
  }

  int fd_;
  char *buffer_;
  size_t capacity_;
  uint64_t limit_;
  off_t offset_;
  size_t used_ = 0;
  bool overLimit_ = false;
  ContentSum sum_;
};

// Whether a file's bytes, streamed through Take, are what the library knows
// the file holds: the very bytes it loaded, or bytes of the length and
// checksum it last wrote.
class ContentCheck {
 public:
  explicit ContentCheck(const KnownContent &known) : known_(known) {}

  // False as soon as the bytes differ from the known ones.
  bool Take(const char *data, size_t length) {
    if (known_.bytes != nullptr) {
      if (length > known_.length - seen_ || memcmp(known_.bytes + seen_, data, length) != 0) {
        return false;
      }
    }
    sum_.Add(data, length);
    seen_ += length;
    return true;
  }
  // Once the whole file went through.
  bool Matches() const {
    return seen_ == known_.length && (known_.bytes != nullptr || sum_.Value() == known_.sum);
  }
  uint64_t sum() const { return sum_.Value(); }

 private:
  const KnownContent &known_;
  uint64_t seen_ = 0;
  ContentSum sum_;
};

// Sums a whole rendering of the new content.
bool SumPiece(void *context, const char *data, size_t length) {
  static_cast<ContentSum *>(context)->Add(data, length);
  return true;
}

int32_t TooLarge(FileFailure *failure, const char *path) {
  return Fail(failure, kIviIniStoreTooLargeToSave, FileStep::kWrite, path, 0,
              "the file would be larger than 64 MiB, which no open could load");
}

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

bool SameFile(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Writes the old bytes of `recovery` back over the store open in `fd`.
bool PutBack(const RecoveryFile &recovery, int fd) {
  struct Target {
    int fd;
    off_t at;
  } target = {fd, 0};
  const bool copied = recovery.ReadOld(
      [](void *context, const char *data, size_t length) {
        auto *t = static_cast<Target *>(context);
        if (!WriteAll(t->fd, data, length, t->at)) return false;
        t->at += static_cast<off_t>(length);
        return true;
      },
      &target);
  return copied && Files().resize(fd, static_cast<off_t>(recovery.header().oldLength)) == 0 &&
         Files().sync(fd) == 0;
}

// With the store's lock held and the store `info` open for writing in `fd`:
// finds a recovery file a save left and puts the store right by it, keeping
// a store that holds the new or the old bytes, writing the old ones back
// over a torn one, and then removing the recovery file. A recovery file
// that was never relied on (incomplete, or of a file since replaced) is
// removed; one that cannot be trusted is left alone. Answers 0,
// kIviIniOutOfMemory, or -1 when the store could not be put right (traced;
// the recovery file then stays, and readers keep using it).
int32_t Recover(const StoreFolder &folder, int fd, const struct stat &info,
                const FileAccess &access) {
  const FileSystem &fs = Files();
  RecoveryFile recovery;
  RecoveryState state;
  int32_t status = recovery.Examine(folder, info, access, &state);
  if (status != kIviIniSuccess) return status;
  if (state == RecoveryState::kNone || state == RecoveryState::kUnusable) return kIviIniSuccess;
  if (state == RecoveryState::kValid) {
    const RecoveryHeader &h = recovery.header();
    ContentSum sum;
    const bool read = StreamFile(fd, 0, static_cast<uint64_t>(info.st_size), SumPiece, &sum);
    if (!read && errno == ENOMEM) return kIviIniOutOfMemory;
    const bool whole = read && ((sum.length() == h.newLength && sum.Value() == h.newSum) ||
                                (sum.length() == h.oldLength && sum.Value() == h.oldSum));
    if (!whole) {
      if (!PutBack(recovery, fd)) {
        if (errno == ENOMEM) return kIviIniOutOfMemory;
        Fail(nullptr, kIviIniStoreLeftForRecovery, FileStep::kRestore, folder.path(), errno);
        return -1;
      }
      Fail(nullptr, kIviIniSuccess, FileStep::kRestore, folder.path(), 0,
           "a save stopped half way: the old content is back");
    }
  }
  if (fs.remove(folder.fd(), recovery.name()) != 0 && errno != ENOENT) {
    Fail(nullptr, kIviIniSuccess, FileStep::kRestore, recovery.path(), errno);
    return -1;
  }
  folder.Flush();
  return kIviIniSuccess;
}

// One save: the steps of SaveFile, each answering 0 or the status that ends
// the save. Whatever the outcome, the destructor removes a temporary that
// was not renamed and a recovery file that is no longer needed, and closes
// every descriptor, which lets the lock go.
class Saver {
 public:
  Saver(const char *path, const FileIdentity &loaded, const KnownContent &known,
        const NewContent &content, FileFailure *failure)
      : fs_(Files()),
        path_(path),
        loaded_(loaded),
        known_(known),
        content_(content),
        failure_(failure) {}
  Saver(const Saver &) = delete;
  Saver &operator=(const Saver &) = delete;

  ~Saver() {
    RemoveTemporary();
    if (recoveryExists_) {
      recovery_.Close();
      fs_.remove(folder_.fd(), recoveryName_);
    }
  }

  int32_t Run(SavedFile *saved) {
    int32_t status = folder_.Open(path_, kIviIniStoreCannotCreateTemporary, failure_);
    if (status != kIviIniSuccess) return status;
    path_ = folder_.path();
    status = OpenStore();
    // Checked before the lock too: a save bound to be refused makes no lock
    // file beside a file it does not own.
    if (status == kIviIniSuccess) status = CheckStillLoaded();
    if (status == kIviIniSuccess) status = lock_.Take(folder_, access_, true, failure_);
    if (status == kIviIniSuccess) status = CheckStillLoaded();
    if (status != kIviIniSuccess) return status;
    const char *inPlace = MountPoint();
    if (inPlace == nullptr) {
      status = Replace(saved, &inPlace);
      if (status != kIviIniSuccess || inPlace == nullptr) return status;
    }
    return SaveInPlace(inPlace, saved);
  }

 private:
  // The store as it is before the lock is taken: its access decides who
  // may open the lock file.
  int32_t OpenStore() {
    old_.Reset(fs_.open(folder_.fd(), folder_.name(), kReadFlags));
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
    if (fs_.stat(old_.get(), "", &oldInfo_, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreReplaceFailed, FileStep::kExamine, path_, errno);
    }
    const int32_t status = access_.Read(old_.get(), oldInfo_);
    if (status == kIviIniOutOfMemory) return status;
    if (status != kIviIniSuccess) {
      return Fail(failure_, kIviIniStoreReplaceFailed, FileStep::kExamine, path_, errno);
    }
    return kIviIniSuccess;
  }

  // Under the lock: the file at the path is still the one loaded, and this
  // user may change it.
  int32_t CheckStillLoaded() {
    if (fs_.stat(old_.get(), "", &oldInfo_, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreReplaceFailed, FileStep::kExamine, path_, errno);
    }
    int32_t status = CheckIdentity(old_.get());
    if (status != kIviIniSuccess) return status;
    if (oldInfo_.st_nlink > 1) {
      return Fail(failure_, kIviIniStoreHardLinked, FileStep::kCompare, path_, 0,
                  "the file has other hard links, which replacing it would split");
    }
    // The folder may let this user replace a file that the file itself says
    // is not theirs to change; the file's word counts.
    if (fs_.access(folder_.fd(), folder_.name(), W_OK) != 0) {
      return Fail(failure_, kIviIniStoreNotWritable, FileStep::kCheckAccess, path_, errno);
    }
    return kIviIniSuccess;
  }

  // The file open in `fd` is the one loaded, as it was loaded, and still the
  // one at the path.
  int32_t CheckIdentity(int fd) {
    struct stat now, named;
    if (fs_.stat(fd, "", &now, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreReplaceFailed, FileStep::kExamine, path_, errno);
    }
    if (fs_.stat(folder_.fd(), folder_.name(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
      return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kCompare, path_, errno,
                  errno == ENOENT ? "the file was deleted since it was loaded" : nullptr);
    }
    if (!S_ISREG(now.st_mode) || !SameIdentity(IdentityOf(now), loaded_) ||
        !SameFile(now, named)) {
      return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kCompare, path_, 0,
                  "the file changed on disk since it was loaded");
    }
    return kIviIniSuccess;
  }

  // Under the lock, immediately before the old bytes go: the file still
  // holds what the library loaded or last wrote. Timestamps cannot always
  // tell (a one-second clock, a tool that puts the time back, an inode
  // number used again), the bytes can.
  int32_t CheckContent() {
    ContentCheck check(known_);
    const bool read = StreamFile(
        old_.get(), 0, static_cast<uint64_t>(oldInfo_.st_size),
        [](void *self, const char *data, size_t length) {
          return static_cast<ContentCheck *>(self)->Take(data, length);
        },
        &check);
    if (!read && errno == ENOMEM) return kIviIniOutOfMemory;
    return Compared(read, check);
  }

  int32_t Compared(bool read, const ContentCheck &check) {
    if (read && check.Matches()) return kIviIniSuccess;
    if (read || errno == 0) {
      return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kCompare, path_, 0,
                  "the file's bytes changed since it was loaded or last saved");
    }
    return Fail(failure_, kIviIniStoreReplaceFailed, FileStep::kRead, path_, errno);
  }

  // A file on another mount than its folder (a file bind-mounted into a
  // container, say) cannot be replaced by a rename.
  const char *MountPoint() const {
    uint64_t folder = 0, file = 0;
    if (fs_.mountOf(folder_.fd(), &folder) == 0 && fs_.mountOf(old_.get(), &file) == 0 &&
        folder != file) {
      return "it is a mount point, which a rename cannot replace";
    }
    return nullptr;
  }

  // ---- Replacing -------------------------------------------------------------
  // Answers 0 with `inPlace` set when it turns out that a new file could not
  // stand in for the old one; nothing is left of the attempt then.
  int32_t Replace(SavedFile *saved, const char **inPlace) {
    int32_t status = CreateTemporary();
    if (status == kIviIniSuccess) status = KeepOwner(inPlace);
    if (status == kIviIniSuccess && *inPlace == nullptr) status = KeepMode();
    if (status == kIviIniSuccess && *inPlace == nullptr) status = KeepAttributes(inPlace);
    if (status != kIviIniSuccess || *inPlace != nullptr) {
      RemoveTemporary();
      return status;
    }
    HeapBlock buffer(malloc(kWriteBufferBytes));
    if (buffer.get() == nullptr) return kIviIniOutOfMemory;
    BufferedFile file(temporary_.get(), static_cast<char *>(buffer.get()), kWriteBufferBytes,
                      content_.limit);
    status = WriteContent(&file, temporaryPath_);
    struct stat done;
    if (status == kIviIniSuccess && fs_.sync(temporary_.get()) != 0) {
      status = Fail(failure_, kIviIniStoreWriteFailed, FileStep::kSync, temporaryPath_, errno);
    }
    if (status == kIviIniSuccess && fs_.stat(temporary_.get(), "", &done, AT_EMPTY_PATH) != 0) {
      status = Fail(failure_, kIviIniStoreWriteFailed, FileStep::kExamine, temporaryPath_, errno);
    }
    if (status == kIviIniSuccess && temporary_.Close() != 0) {
      status = Fail(failure_, kIviIniStoreWriteFailed, FileStep::kClose, temporaryPath_, errno);
    }
    if (status == kIviIniSuccess) status = CheckContent();
    if (status == kIviIniSuccess) status = CheckIdentity(old_.get());
    if (status != kIviIniSuccess) return status;
    if (fs_.rename(folder_.fd(), temporaryName_, folder_.name()) != 0) {
      if (errno == EBUSY) {
        RemoveTemporary();
        *inPlace = "a rename cannot replace it (a mount point)";
        return kIviIniSuccess;
      }
      return Fail(failure_, kIviIniStoreReplaceFailed, FileStep::kRename, path_, errno);
    }
    temporaryExists_ = false;
    *saved = {IdentityOf(done), file.written(), file.sum()};  // a rename keeps them
    folder_.Flush();
    Trace("by replacing it", nullptr);
    return kIviIniSuccess;
  }

  // ".<name>.XXXXXX" beside the file, the name cut short where the whole
  // would be longer than the folder takes, so that a file of any name that
  // the folder holds can be saved.
  int32_t CreateTemporary() {
    const size_t limit = static_cast<size_t>(folder_.NameLimit());
    const char *name = folder_.name();
    size_t kept = strlen(name);
    if (kept + 8 > limit) kept = limit - 8;
    temporaryName_[0] = '.';
    memcpy(temporaryName_ + 1, name, kept);
    char *suffix = temporaryName_ + 1 + kept;
    suffix[0] = '.';
    suffix[7] = '\0';
    for (int attempt = 0; attempt < 100; ++attempt) {
      Scramble(suffix + 1, 6);
      temporary_.Reset(
          fs_.create(folder_.fd(), temporaryName_, O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (temporary_.get() >= 0) {
        temporaryExists_ = true;
        folder_.PathOf(temporaryName_, temporaryPath_);
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

  void RemoveTemporary() {
    if (!temporaryExists_) return;
    temporary_.Close();
    fs_.remove(folder_.fd(), temporaryName_);
    temporaryExists_ = false;
  }

  // The owner and group need privileges (or being the owner and a member of
  // the group) to keep. A new file that could not keep them would lock the
  // owner or the group out: the save goes in place instead.
  int32_t KeepOwner(const char **inPlace) {
    struct stat mine;
    if (fs_.stat(temporary_.get(), "", &mine, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepOwner, temporaryPath_, errno);
    }
    if (mine.st_uid == oldInfo_.st_uid && mine.st_gid == oldInfo_.st_gid) return kIviIniSuccess;
    if (fs_.changeOwner(temporary_.get(), oldInfo_.st_uid, oldInfo_.st_gid) == 0) {
      return kIviIniSuccess;
    }
    if (errno != EPERM && errno != EINVAL) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepOwner, temporaryPath_, errno);
    }
    *inPlace = mine.st_uid != oldInfo_.st_uid ? "a new file could not keep its owner"
                                              : "a new file could not keep its group";
    return kIviIniSuccess;
  }

  // Owner first: changing it clears the set-ID bits that the mode restores.
  // A list the new file got from the folder's default, where the old file
  // has none, would let in whom the old file did not.
  int32_t KeepMode() {
    if (!access_.extended() && fs_.removeAttribute(temporary_.get(), kAccessListAttribute) != 0 &&
        errno != ENODATA && errno != ENOTSUP) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepAttributes, temporaryPath_,
                  errno);
    }
    if (fs_.changeMode(temporary_.get(), oldInfo_.st_mode & 07777) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepMode, temporaryPath_, errno);
    }
    return kIviIniSuccess;
  }

  // Access control lists and security labels are extended attributes: the
  // new file gets every one the old file has, or the save goes in place.
  int32_t KeepAttributes(const char **inPlace) {
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
      const int32_t status = CopyAttribute(name, inPlace);
      if (status != kIviIniSuccess || *inPlace != nullptr) return status;
    }
    return kIviIniSuccess;
  }

  int32_t CopyAttribute(const char *name, const char **inPlace) {
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
      if (errno != EPERM && errno != EACCES && errno != ENOTSUP) {
        return AttributesFailed(temporaryPath_);
      }
      snprintf(reason_, sizeof reason_, "a new file could not keep its attribute %s", name);
      *inPlace = reason_;
    }
    return kIviIniSuccess;
  }

  int32_t AttributesFailed(const char *path) {
    return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kKeepAttributes, path, errno);
  }

  int32_t WriteContent(BufferedFile *file, const char *path) {
    if (!content_.source(content_.content, BufferedFile::Put, file) || !file->Flush()) {
      if (file->overLimit()) return TooLarge(failure_, path_);
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWrite, path, errno,
                  errno == 0 ? "the file system took no bytes" : nullptr);
    }
    return kIviIniSuccess;
  }

  // ---- In place -----------------------------------------------------------------
  // The old bytes go to a recovery file beside the store first, flushed with
  // the folder; then the store grows to the longer length, takes the new
  // bytes, is cut to their length and flushed; then the recovery file goes.
  // A crash at any point leaves either no recovery file and a whole store,
  // or a recovery file by which the next open keeps or restores the store.
  int32_t SaveInPlace(const char *reason, SavedFile *saved) {
    int32_t status = OpenForWriting();
    if (status == kIviIniSuccess) status = SumNewContent();
    if (status == kIviIniSuccess) status = CreateRecovery();
    if (status == kIviIniSuccess) status = CopyOldBytes();
    if (status == kIviIniSuccess && fs_.sync(recovery_.get()) != 0) {
      status = Fail(failure_, kIviIniStoreWriteFailed, FileStep::kSync, recoveryPath_, errno);
    }
    if (status == kIviIniSuccess) {
      folder_.Flush();
      status = CheckIdentity(store_.get());
    }
    if (status != kIviIniSuccess) return status;
    // From here on the store's own bytes change.
    status = WriteInPlace(saved);
    if (status != kIviIniSuccess) return PutOldBytesBack(status);
    recovery_.Close();
    if (fs_.remove(folder_.fd(), recoveryName_) != 0) {
      // The store is whole and holds the new bytes, which the recovery file
      // says: every open keeps them, and the next writer's removes it.
      Fail(nullptr, kIviIniSuccess, FileStep::kWriteRecovery, recoveryPath_, errno);
    }
    recoveryExists_ = false;
    folder_.Flush();
    Trace("in place", reason);
    return kIviIniSuccess;
  }

  int32_t OpenForWriting() {
    store_.Reset(fs_.open(folder_.fd(), folder_.name(), kWriteFlags));
    struct stat info;
    if (store_.get() < 0) {
      const int error = errno;
      const int32_t status = error == ENOENT || error == ELOOP ? kIviIniStoreChangedOnDisk
                             : error == EACCES || error == EPERM || error == EROFS
                                 ? kIviIniStoreNotWritable
                                 : kIviIniStoreWriteFailed;
      return Fail(failure_, status, FileStep::kOpen, path_, error);
    }
    if (fs_.stat(store_.get(), "", &info, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kExamine, path_, errno);
    }
    if (!SameFile(info, oldInfo_)) {
      return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kCompare, path_, 0,
                  "the file changed on disk since it was loaded");
    }
    return kIviIniSuccess;
  }

  // The recovery file's header tells new bytes from torn ones by their sum,
  // and the store grows to the longer length first.
  int32_t SumNewContent() {
    struct Sink {
      ContentSum sum;
      uint64_t limit;
    } sink = {ContentSum(), content_.limit};
    const bool whole = content_.source(
        content_.content,
        [](void *context, const char *data, size_t length) {
          auto *s = static_cast<Sink *>(context);
          s->sum.Add(data, length);
          return s->sum.length() <= s->limit;
        },
        &sink);
    if (sink.sum.length() > content_.limit) return TooLarge(failure_, path_);
    if (!whole) return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWrite, path_, 0);
    newLength_ = sink.sum.length();
    newSum_ = sink.sum.Value();
    return kIviIniSuccess;
  }

  // Holds the store's old bytes: readable by those who may read the store
  // and nobody else, made by one who may write it.
  int32_t CreateRecovery() {
    folder_.SideName(kRecoverySuffix, recoveryName_);
    folder_.PathOf(recoveryName_, recoveryPath_);
    for (int attempt = 0; attempt < 2; ++attempt) {
      recovery_.Reset(fs_.create(folder_.fd(), recoveryName_, kWriteFlags, 0600));
      if (recovery_.get() >= 0) break;
      if (errno != EEXIST || attempt > 0) {
        return Fail(failure_, kIviIniStoreCannotCreateTemporary, FileStep::kWriteRecovery,
                    path_, errno);
      }
      // One a save left since this store was loaded: put right first.
      const int32_t status = Recover(folder_, store_.get(), oldInfo_, access_);
      if (status == kIviIniOutOfMemory) return status;
      if (status != kIviIniSuccess) {
        return Fail(failure_, kIviIniStoreChangedOnDisk, FileStep::kWriteRecovery, path_, 0,
                    "a save that stopped half way left the file torn");
      }
    }
    recoveryExists_ = true;
    if (fs_.changeOwner(recovery_.get(), oldInfo_.st_uid, oldInfo_.st_gid) != 0) {
      fs_.changeOwner(recovery_.get(), static_cast<uid_t>(-1), oldInfo_.st_gid);
    }
    struct stat mine;
    if (fs_.stat(recovery_.get(), "", &mine, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWriteRecovery, recoveryPath_,
                  errno);
    }
    FileAccess readers;
    int32_t status = access_.Derive(false, mine.st_uid, mine.st_gid, &readers);
    if (status != kIviIniSuccess) return status;
    if (readers.Apply(recovery_.get()) != 0) {
      if (errno == ENOMEM) return kIviIniOutOfMemory;
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWriteRecovery, recoveryPath_,
                  errno);
    }
    return kIviIniSuccess;
  }

  // Copies the store's bytes after the header, comparing them with what the
  // library knows the store holds as they go by; then writes the header.
  int32_t CopyOldBytes() {
    struct Copy {
      ContentCheck check;
      int fd;
      off_t at;
      bool written;
      int error;
    } copy = {ContentCheck(known_), recovery_.get(), static_cast<off_t>(kRecoveryHeaderBytes),
              true, 0};
    const bool read = StreamFile(
        old_.get(), 0, static_cast<uint64_t>(oldInfo_.st_size),
        [](void *context, const char *data, size_t length) {
          auto *c = static_cast<Copy *>(context);
          if (!c->check.Take(data, length)) return false;
          c->written = WriteAll(c->fd, data, length, c->at);
          c->error = errno;
          c->at += static_cast<off_t>(length);
          return c->written;
        },
        &copy);
    if (!copy.written) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWriteRecovery, recoveryPath_,
                  copy.error, copy.error == 0 ? "the file system took no bytes" : nullptr);
    }
    if (!read && errno == ENOMEM) return kIviIniOutOfMemory;
    const int32_t status = Compared(read, copy.check);
    if (status != kIviIniSuccess) return status;
    const RecoveryHeader header = {static_cast<uint64_t>(oldInfo_.st_dev),
                                   static_cast<uint64_t>(oldInfo_.st_ino),
                                   static_cast<uint64_t>(oldInfo_.st_size),
                                   copy.check.sum(),
                                   newLength_,
                                   newSum_};
    char line[kRecoveryHeaderBytes + 1];
    FormatRecoveryHeader(header, line);
    if (!WriteAll(recovery_.get(), line, kRecoveryHeaderBytes, 0)) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWriteRecovery, recoveryPath_,
                  errno, errno == 0 ? "the file system took no bytes" : nullptr);
    }
    return kIviIniSuccess;
  }

  int32_t WriteInPlace(SavedFile *saved) {
    const off_t longer = static_cast<off_t>(
        newLength_ > static_cast<uint64_t>(oldInfo_.st_size) ? newLength_ : oldInfo_.st_size);
    // Room for every new byte first, where the file system can promise it,
    // so that a full disk stops the save before it writes anything.
    if (longer > 0 && fs_.reserve(store_.get(), longer) != 0) {
      if (errno != EOPNOTSUPP && errno != ENOSYS) {
        return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWriteInPlace, path_, errno);
      }
      if (longer > oldInfo_.st_size && fs_.resize(store_.get(), longer) != 0) {
        return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWriteInPlace, path_, errno);
      }
    }
    HeapBlock buffer(malloc(kWriteBufferBytes));
    if (buffer.get() == nullptr) return kIviIniOutOfMemory;
    BufferedFile file(store_.get(), static_cast<char *>(buffer.get()), kWriteBufferBytes,
                      content_.limit, 0);
    int32_t status = WriteContent(&file, path_);
    if (status == kIviIniSuccess && (file.written() != newLength_ || file.sum() != newSum_)) {
      status = Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWrite, path_, 0,
                    "the content changed while it was written");
    }
    if (status != kIviIniSuccess) return status;
    if (fs_.resize(store_.get(), static_cast<off_t>(newLength_)) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kWriteInPlace, path_, errno);
    }
    struct stat done;
    if (fs_.sync(store_.get()) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kSync, path_, errno);
    }
    if (fs_.stat(store_.get(), "", &done, AT_EMPTY_PATH) != 0) {
      return Fail(failure_, kIviIniStoreWriteFailed, FileStep::kExamine, path_, errno);
    }
    *saved = {IdentityOf(done), file.written(), file.sum()};
    return kIviIniSuccess;
  }

  // After a failure while the store's bytes changed: the old ones go back,
  // and the save answers `status`; when they cannot, the recovery file stays
  // for every open to use.
  int32_t PutOldBytesBack(int32_t status) {
    RecoveryFile recovery;
    RecoveryState state = RecoveryState::kNone;
    const int32_t examined = recovery.Examine(folder_, oldInfo_, access_, &state);
    if (examined == kIviIniSuccess && state == RecoveryState::kValid &&
        PutBack(recovery, store_.get())) {
      // The old bytes and the old time: the store reads as unchanged, so
      // that the same save may be tried again.
      const struct timespec times[2] = {{0, UTIME_OMIT}, oldInfo_.st_mtim};
      fs_.setTimes(store_.get(), times);
      return status;  // the destructor removes the recovery file
    }
    recovery_.Close();
    recoveryExists_ = false;
    return Fail(failure_, kIviIniStoreLeftForRecovery, FileStep::kRestore, path_, errno,
                "the old content could not be put back; the recovery file beside the file "
                "holds it, and every open uses it");
  }

  // One line per save, saying which way it went.
  void Trace(const char *way, const char *reason) const {
    char line[PATH_MAX + 200];
    snprintf(line, sizeof line, "saved %s %s%s%s%s", path_, way, reason != nullptr ? " (" : "",
             reason != nullptr ? reason : "", reason != nullptr ? ")" : "");
    fs_.trace(line);
  }

  const FileSystem &fs_;
  const char *path_;  // of the file to save over, a link's target once resolved
  const FileIdentity &loaded_;
  const KnownContent &known_;
  const NewContent &content_;
  FileFailure *failure_;
  StoreFolder folder_;
  StoreLock lock_;
  Descriptor old_;  // the file being saved over, for reading
  struct stat oldInfo_ = {};
  FileAccess access_;  // of the old file
  char reason_[96] = {};
  Descriptor temporary_;
  bool temporaryExists_ = false;
  char temporaryName_[NAME_MAX + 1] = {};
  char temporaryPath_[PATH_MAX] = {};
  Descriptor store_;  // the file being saved over, for writing in place
  uint64_t newLength_ = 0;
  uint64_t newSum_ = 0;
  Descriptor recovery_;
  bool recoveryExists_ = false;
  char recoveryName_[NAME_MAX + 1] = {};
  char recoveryPath_[PATH_MAX] = {};
};

// ---- Reading ----------------------------------------------------------------------

// One read of the file at `path`: its bytes, its identity before the read,
// and whether it changed while it was read.
struct FileRead {
  HeapBlock block;
  size_t used = 0;
  struct stat info = {};
  bool changed = false;
};

int32_t ReadOnce(const char *path, uint32_t limit, FileRead *out, FileFailure *failure) {
  const FileSystem &fs = Files();
  struct stat &info = out->info;
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
  // One byte more than the size, so that a file that grew since shows.
  size_t capacity = static_cast<size_t>(info.st_size) + 1;
  HeapBlock &block = out->block;
  block.Reset(malloc(capacity));
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
  out->used = used;
  struct stat after;
  out->changed = fs.stat(fd.get(), "", &after, AT_EMPTY_PATH) != 0 ||
                 !SameIdentity(IdentityOf(after), IdentityOf(info));
  return kIviIniSuccess;
}

// With the store's lock (taken without waiting: a lock that is held means a
// save is running), puts the store right by its recovery file. True when it
// did, so that the store is read again; false when this user cannot (a
// reader, or a save runs).
bool RecoverAsWriter(const StoreFolder &folder, const char *recoveryName,
                     const struct stat &read) {
  const FileSystem &fs = Files();
  Descriptor store(fs.open(folder.fd(), folder.name(), kWriteFlags));
  struct stat info;
  if (store.get() < 0 || fs.stat(store.get(), "", &info, AT_EMPTY_PATH) != 0 ||
      !SameFile(info, read)) {
    return false;
  }
  FileAccess access;
  StoreLock lock;
  if (access.Read(store.get(), info) != kIviIniSuccess ||
      lock.Take(folder, access, false, nullptr) != kIviIniSuccess ||
      fs.stat(store.get(), "", &info, AT_EMPTY_PATH) != 0) {
    return false;
  }
  struct stat left;
  return Recover(folder, store.get(), info, access) == kIviIniSuccess &&
         fs.stat(folder.fd(), recoveryName, &left, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// The old bytes of a valid recovery file of the store just read, unless
// the store already holds the new ones. Answers 0 (with `read` holding what
// to load) or kIviIniOutOfMemory.
int32_t ReadAroundSave(const StoreFolder &folder, FileRead *read) {
  const FileSystem &fs = Files();
  Descriptor store(fs.open(folder.fd(), folder.name(), kReadFlags));
  FileAccess access;
  if (store.get() < 0) return kIviIniSuccess;
  int32_t status = access.Read(store.get(), read->info);
  if (status == kIviIniOutOfMemory) return status;
  RecoveryFile recovery;
  RecoveryState state = RecoveryState::kNone;
  if (status == kIviIniSuccess) status = recovery.Examine(folder, read->info, access, &state);
  if (status != kIviIniSuccess || state != RecoveryState::kValid) return status;
  const RecoveryHeader &h = recovery.header();
  if (read->used == h.newLength && ContentSum::Of(read->block.get(), read->used) == h.newSum) {
    return kIviIniSuccess;  // the save has written everything
  }
  struct Sink {
    char *data;
    size_t used;
  } sink = {static_cast<char *>(malloc(static_cast<size_t>(h.oldLength) + 1)), 0};
  if (sink.data == nullptr) return kIviIniOutOfMemory;
  HeapBlock old(sink.data);
  const bool copied = recovery.ReadOld(
      [](void *context, const char *data, size_t length) {
        auto *s = static_cast<Sink *>(context);
        memcpy(s->data + s->used, data, length);
        s->used += length;
        return true;
      },
      &sink);
  if (!copied) return errno == ENOMEM ? kIviIniOutOfMemory : kIviIniSuccess;
  read->block.Reset(old.release());
  read->used = sink.used;
  Fail(nullptr, kIviIniSuccess, FileStep::kRestore, folder.path(), 0,
       "a save is writing the file in place, or stopped half way: the old content is read");
  return kIviIniSuccess;
}

}  // namespace

int32_t ReadWholeFile(const char *path, uint32_t limit, char **data, uint32_t *size,
                      FileIdentity *identity, FileFailure *failure) {
  FileRead read;
  for (int attempt = 1;; ++attempt) {
    const int32_t status = ReadOnce(path, limit, &read, failure);
    if (status != kIviIniSuccess) return status;
    if (read.changed && attempt < kReadTries) continue;
    // The recovery file of an in-place save lies beside the file the path
    // leads to; its absence costs one look.
    StoreFolder folder;
    const int32_t opened = folder.Open(path, kIviIniStoreUnreadable, nullptr);
    if (opened == kIviIniOutOfMemory) return opened;
    char recoveryName[NAME_MAX + 1];
    struct stat found;
    if (opened != kIviIniSuccess) break;
    folder.SideName(kRecoverySuffix, recoveryName);
    if (Files().stat(folder.fd(), recoveryName, &found, AT_SYMLINK_NOFOLLOW) != 0) break;
    if (attempt < kReadTries && RecoverAsWriter(folder, recoveryName, read.info)) continue;
    const int32_t around = ReadAroundSave(folder, &read);
    if (around != kIviIniSuccess) return around;
    break;
  }
  *data = static_cast<char *>(read.block.release());
  *size = static_cast<uint32_t>(read.used);
  *identity = IdentityOf(read.info);
  return kIviIniSuccess;
}

int32_t SaveFile(const char *path, const FileIdentity &loaded, const KnownContent &known,
                 const NewContent &content, SavedFile *saved, FileFailure *failure) {
  Saver saver(path, loaded, known, content, failure);
  return saver.Run(saved);
}

}  // namespace store
}  // namespace velmora

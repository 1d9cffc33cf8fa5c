// The file store's one way to the file system: a table of functions, in the
// manner of the back end's operation sets. Every call the store makes on a
// file or a folder goes through the table in use, which is the system's
// unless a test installs one of its own, so that a test can fail any step
// (and see what a failure reports) without linker tricks.
//
// What the store asks of it: reading a file whole and knowing which file it
// read (file_access.h), and saving over a file only if it still holds what
// was read, by replacing it or by writing it in place under a recovery file.
// Every failure is described by a FileFailure: the step, the path and errno,
// which the store keeps for its caller and writes to the trace.
#ifndef VELMORA_CONFIG_STORE_FILE_FILE_SYSTEM_H
#define VELMORA_CONFIG_STORE_FILE_FILE_SYSTEM_H

#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace velmora {
namespace store {

// Every descriptor the store opens is close-on-exec: the library runs inside
// other people's processes, which may start programs. The callers ask for
// O_CLOEXEC, and the system's versions add it as well, so that a call that
// forgets it cannot hand a descriptor to another program.
struct FileSystem {
  // openat of something that exists (never O_CREAT).
  int (*open)(int folder, const char *path, int flags);
  // openat with O_CREAT | O_EXCL: a new temporary file.
  int (*create)(int folder, const char *name, int flags, mode_t mode);
  // fstatat; with AT_EMPTY_PATH and "" the descriptor itself.
  int (*stat)(int folder, const char *path, struct stat *info, int flags);
  ssize_t (*read)(int fd, void *buffer, size_t size);
  ssize_t (*write)(int fd, const void *data, size_t size);
  // pread and pwrite: an in-place save and its recovery work at offsets.
  ssize_t (*readAt)(int fd, void *buffer, size_t size, off_t offset);
  ssize_t (*writeAt)(int fd, const void *data, size_t size, off_t offset);
  // ftruncate.
  int (*resize)(int fd, off_t length);
  // fallocate of the first `length` bytes, so that writing them cannot run
  // out of space; -1 with EOPNOTSUPP where the file system cannot.
  int (*reserve)(int fd, off_t length);
  int (*sync)(int fd);
  // renameat within one folder.
  int (*rename)(int folder, const char *from, const char *to);
  // unlinkat of a file.
  int (*remove)(int folder, const char *name);
  // A write lock on the whole of an open file, owned by the open file
  // description (F_OFD_SETLK): released when the last descriptor of it
  // closes, also when the process dies. Never waits: -1 with EAGAIN while
  // another description holds a lock on the file.
  int (*lock)(int fd);
  // faccessat with the effective user and groups.
  int (*access)(int folder, const char *name, int mode);
  int (*changeOwner)(int fd, uid_t owner, gid_t group);
  int (*changeMode)(int fd, mode_t mode);
  // futimens.
  int (*setTimes)(int fd, const struct timespec times[2]);
  // Extended attributes of an open file (ACLs and security labels live there).
  ssize_t (*listAttributes)(int fd, char *list, size_t size);
  ssize_t (*getAttribute)(int fd, const char *name, void *value, size_t size);
  int (*setAttribute)(int fd, const char *name, const void *value, size_t size);
  int (*removeAttribute)(int fd, const char *name);
  // The mount an open file or folder is on (statx's mount ID): a file on
  // another mount than its folder is a mount point (a bind-mounted file),
  // which a rename cannot replace. -1 with errno when the system cannot tell.
  int (*mountOf)(int fd, uint64_t *mount);
  int (*close)(int fd);
  // realpath: a new block from malloc, or null with errno set.
  char *(*resolve)(const char *path);
  // The longest file name the folder takes.
  long (*nameLimit)(int folder);
  // Waits, while another program holds the store's lock.
  void (*pause)(unsigned milliseconds);
  // Receives one line describing each failure (without a line end).
  void (*trace)(const char *line);
};

// The system's table: POSIX calls, and a trace written to standard error
// when the environment variable VELMORA_TRACE is set and not empty.
const FileSystem &SystemFileSystem();
// The table in use.
const FileSystem &Files();
// Installs a table (null: the system's again). The library takes no locks,
// so this is for tests that stand in for the system.
void UseFileSystem(const FileSystem *files);

// The steps of loading and saving, for failure reports.
enum class FileStep : uint8_t {
  kNone,     // no failure
  kOpen,     // the file, for reading
  kExamine,  // what it is, how large
  kRead,
  kResolve,          // the file a symbolic link leads to
  kOpenFolder,       // the file's folder, which the save works in
  kLock,             // the lock that serialises the file's savers
  kCompare,          // whether the file is still the one that was loaded
  kCheckAccess,      // whether this user may write it
  kCreateTemporary,  // the new file, beside the old
  kWrite,
  kKeepOwner,  // owner and group of the old file
  kKeepMode,
  kKeepAttributes,  // extended attributes of the old file
  kSync,
  kClose,
  kRename,  // the temporary over the old file
  kOpenLock,       // the lock file beside the file
  kWriteRecovery,  // the recovery file of an in-place save: the old bytes
  kWriteInPlace,   // the new bytes over the old ones
  kRestore,        // the old bytes back from the recovery file
};

// What failed: the step, the file it was about, and errno, or a reason in
// words for a step that found something wrong rather than failing (errno 0).
struct FileFailure {
  FileStep step;
  int error;
  const char *reason;  // static text, or null: the error's own text
  char path[PATH_MAX];
};

// The step as one short word for programs ("open", "rename"); "" for kNone.
const char *StepName(FileStep step);

// "<step> <path>: <reason>", e.g. "replacing /srv/velmora/store.ini:
// Permission denied"; with `path` null, "<step> the file: <reason>".
void DescribeFailure(const FileFailure &failure, const char *path, char *text, size_t size);

// Records a failure in `failure` (when not null), writes it to the trace with
// `status`'s name, and answers `status`.
int32_t Fail(FileFailure *failure, int32_t status, FileStep step, const char *path, int error,
             const char *reason = nullptr);

// The name velmora.h gives a status ("kIviIniStoreChangedOnDisk"), or null.
const char *StatusName(int32_t status);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_FILE_SYSTEM_H

// The file store's one way to the file system: a table of functions, in the
// manner of the back end's operation sets. Every call the store makes on a
// file or a folder goes through the table in use, which is the system's
// unless a test installs one of its own, so that a test can fail any step
// (and see what a failure reports) without linker tricks.
//
// What the store asks of it: reading a file whole and knowing which file it
// read (file_access.h), and replacing a file only if it is still that one.
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
  int (*sync)(int fd);
  // renameat within one folder.
  int (*rename)(int folder, const char *from, const char *to);
  // unlinkat of a file.
  int (*remove)(int folder, const char *name);
  // flock.
  int (*lock)(int fd, int operation);
  // faccessat with the effective user and groups.
  int (*access)(int folder, const char *name, int mode);
  int (*changeOwner)(int fd, uid_t owner, gid_t group);
  int (*changeMode)(int fd, mode_t mode);
  // Extended attributes of an open file (ACLs and security labels live there).
  ssize_t (*listAttributes)(int fd, char *list, size_t size);
  ssize_t (*getAttribute)(int fd, const char *name, void *value, size_t size);
  int (*setAttribute)(int fd, const char *name, const void *value, size_t size);
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
  kLock,             // the lock that serialises savers of the folder
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

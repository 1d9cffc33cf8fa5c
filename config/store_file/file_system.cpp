#include "config/store_file/file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

int SystemOpen(int folder, const char *path, int flags) {
  return openat(folder, path, flags | O_CLOEXEC);
}
int SystemCreate(int folder, const char *name, int flags, mode_t mode) {
  return openat(folder, name, flags | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}
int SystemStat(int folder, const char *path, struct stat *info, int flags) {
  return fstatat(folder, path, info, flags);
}
int SystemRename(int folder, const char *from, const char *to) {
  return renameat(folder, from, folder, to);
}
int SystemRemove(int folder, const char *name) {
  return unlinkat(folder, name, 0);
}
int SystemAccess(int folder, const char *name, int mode) {
  return faccessat(folder, name, mode, AT_EACCESS);
}
int SystemSetAttribute(int fd, const char *name, const void *value, size_t size) {
  return fsetxattr(fd, name, value, size, 0);
}
int SystemLock(int fd) {
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;  // from the start, l_len 0: the whole file, however it grows
  if (fcntl(fd, F_OFD_SETLK, &whole) == 0) return 0;
  if (errno == EACCES) errno = EAGAIN;  // POSIX lets a held lock answer either
  return -1;
}
int SystemReserve(int fd, off_t length) {
  return fallocate(fd, 0, 0, length);
}
int SystemMountOf(int fd, uint64_t *mount) {
  struct statx info;
  if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID, &info) != 0) return -1;
  if ((info.stx_mask & STATX_MNT_ID) == 0) {
    errno = ENOSYS;
    return -1;
  }
  *mount = info.stx_mnt_id;
  return 0;
}
char *SystemResolve(const char *path) {
  return realpath(path, nullptr);
}
long SystemNameLimit(int folder) {
  return fpathconf(folder, _PC_NAME_MAX);
}
void SystemPause(unsigned milliseconds) {
  struct timespec wait = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}
// A library has no business writing to its callers' standard error unasked;
// a user who wants to know why a store was refused sets VELMORA_TRACE (a
// set-user-ID program ignores it, like VELMORA_STORE).
void SystemTrace(const char *line) {
  const char *wanted = secure_getenv("VELMORA_TRACE");
  if (wanted != nullptr && wanted[0] != '\0') fprintf(stderr, "velmora: %s\n", line);
}

// In the order of the table's entries.
const FileSystem kSystem = {SystemOpen,
                            SystemCreate,
                            SystemStat,
                            read,
                            write,
                            pread,
                            pwrite,
                            ftruncate,
                            SystemReserve,
                            fsync,
                            SystemRename,
                            SystemRemove,
                            SystemLock,
                            SystemAccess,
                            fchown,
                            fchmod,
                            futimens,
                            flistxattr,
                            fgetxattr,
                            SystemSetAttribute,
                            fremovexattr,
                            SystemMountOf,
                            close,
                            SystemResolve,
                            SystemNameLimit,
                            SystemPause,
                            SystemTrace};

const FileSystem *g_files = &kSystem;  // callers serialise, as for every call of the library

// What each step does, in the order of FileStep, as a failure names it.
constexpr const char *kStepWords[] = {"using",
                                      "opening",
                                      "examining",
                                      "reading",
                                      "following the link",
                                      "opening the folder of",
                                      "locking",
                                      "saving over",
                                      "writing to",
                                      "creating a temporary file for",
                                      "writing",
                                      "giving the owner and group to",
                                      "giving the mode to",
                                      "giving the extended attributes to",
                                      "flushing",
                                      "closing",
                                      "replacing",
                                      "opening the lock file of",
                                      "writing the recovery file of",
                                      "writing in place",
                                      "restoring the old content of"};
static_assert(sizeof kStepWords / sizeof kStepWords[0] ==
                  static_cast<size_t>(FileStep::kRestore) + 1,
              "one text per step");

const char *StepWords(FileStep step) {
  return kStepWords[static_cast<int>(step)];
}

// The same steps for programs that act on them (velmora_store_problem).
constexpr const char *kStepNames[] = {"",
                                      "open",
                                      "examine",
                                      "read",
                                      "resolve",
                                      "open-folder",
                                      "lock",
                                      "compare",
                                      "check-access",
                                      "create-temporary",
                                      "write",
                                      "keep-owner",
                                      "keep-mode",
                                      "keep-attributes",
                                      "sync",
                                      "close",
                                      "rename",
                                      "open-lock",
                                      "write-recovery",
                                      "write-in-place",
                                      "restore"};
static_assert(sizeof kStepNames / sizeof kStepNames[0] == sizeof kStepWords / sizeof kStepWords[0],
              "one name per step");

}  // namespace

const FileSystem &SystemFileSystem() {
  return kSystem;
}

const FileSystem &Files() {
  return *g_files;
}

void UseFileSystem(const FileSystem *files) {
  g_files = files != nullptr ? files : &kSystem;
}

const char *StepName(FileStep step) {
  return kStepNames[static_cast<int>(step)];
}

void DescribeFailure(const FileFailure &failure, const char *path, char *text, size_t size) {
  const char *reason = failure.reason;
  if (reason == nullptr) reason = failure.error != 0 ? strerror(failure.error) : "it failed";
  snprintf(text, size, "%s %s: %s", StepWords(failure.step), path != nullptr ? path : "the file",
           reason);
}

int32_t Fail(FileFailure *failure, int32_t status, FileStep step, const char *path, int error,
             const char *reason) {
  FileFailure local;
  FileFailure &f = failure != nullptr ? *failure : local;
  f.step = step;
  f.error = error;
  f.reason = reason;
  snprintf(f.path, sizeof f.path, "%s", path != nullptr ? path : "");
  char line[sizeof f.path + 160];
  DescribeFailure(f, f.path, line, sizeof line);
  const char *name = StatusName(status);
  const size_t used = strlen(line);
  snprintf(line + used, sizeof line - used, " (%s, %d)", name != nullptr ? name : "status",
           static_cast<int>(status));
  Files().trace(line);
  return status;
}

const char *StatusName(int32_t status) {
#define VELMORA_STATUS_NAME(name, value, meaning) \
  if (status == (value)) return #name;
  IVIINI_STATUS_TABLE(VELMORA_STATUS_NAME)
#undef VELMORA_STATUS_NAME
  return nullptr;
}

}  // namespace store
}  // namespace velmora

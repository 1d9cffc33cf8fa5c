#include "config/store_file/recovery_file.h"

#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/store_file/content_sum.h"
#include "config/store_file/growable_array.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

constexpr const char *kHeaderFormat =
    "velmora-recovery/1 %020" PRIu64 " %020" PRIu64 " %010" PRIu64 " %016" PRIx64 " %010" PRIu64
    " %016" PRIx64 " %016" PRIx64 "\n";
constexpr const char *kScanFormat =
    "velmora-recovery/1 %20" SCNu64 " %20" SCNu64 " %10" SCNu64 " %16" SCNx64 " %10" SCNu64
    " %16" SCNx64 " %16" SCNx64;
// The header's checksum covers everything before its own field.
constexpr size_t kCheckedBytes = kRecoveryHeaderBytes - 18;
constexpr size_t kStreamChunk = 128 * 1024;

void Note(const char *path, const char *reason) {
  Fail(nullptr, kIviIniSuccess, FileStep::kRestore, path, 0, reason);
}

}  // namespace

void FormatRecoveryHeader(const RecoveryHeader &h, char (&line)[kRecoveryHeaderBytes + 1]) {
  snprintf(line, sizeof line, kHeaderFormat, h.device, h.inode, h.oldLength, h.oldSum, h.newLength,
           h.newSum, uint64_t{0});
  const uint64_t check = ContentSum::Of(line, kCheckedBytes);
  snprintf(line + kCheckedBytes + 1, sizeof line - kCheckedBytes - 1, "%016" PRIx64 "\n", check);
}

bool ParseRecoveryHeader(const char *line, size_t length, RecoveryHeader *header) {
  if (length < kRecoveryHeaderBytes || line[kRecoveryHeaderBytes - 1] != '\n') return false;
  char copy[kRecoveryHeaderBytes + 1];
  memcpy(copy, line, kRecoveryHeaderBytes);
  copy[kRecoveryHeaderBytes] = '\0';
  RecoveryHeader h;
  uint64_t check = 0;
  if (sscanf(copy, kScanFormat, &h.device, &h.inode, &h.oldLength, &h.oldSum, &h.newLength,
             &h.newSum, &check) != 7) {
    return false;
  }
  // The fields are read back exactly as they are written, or not at all.
  char again[kRecoveryHeaderBytes + 1];
  FormatRecoveryHeader(h, again);
  if (memcmp(again, copy, kRecoveryHeaderBytes) != 0) return false;
  *header = h;
  return true;
}

bool StreamFile(int fd, uint64_t start, uint64_t length,
                bool (*take)(void *context, const char *data, size_t length), void *context) {
  const FileSystem &fs = Files();
  HeapBlock buffer(malloc(kStreamChunk));
  if (buffer.get() == nullptr) {
    errno = ENOMEM;
    return false;
  }
  char *chunk = static_cast<char *>(buffer.get());
  uint64_t done = 0;
  for (;;) {
    // Asks for one byte past the end, so that a longer file shows.
    const uint64_t left = length - done + 1;
    const size_t wanted = left < kStreamChunk ? static_cast<size_t>(left) : kStreamChunk;
    const ssize_t got = fs.readAt(fd, chunk, wanted, static_cast<off_t>(start + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    if (done + static_cast<uint64_t>(got) > length) {
      errno = 0;
      return false;
    }
    if (!take(context, chunk, static_cast<size_t>(got))) {
      errno = 0;
      return false;
    }
    done += static_cast<uint64_t>(got);
  }
  if (done != length) {
    errno = 0;
    return false;
  }
  return true;
}

int32_t RecoveryFile::Examine(const StoreFolder &folder, const struct stat &info,
                              const FileAccess &store, RecoveryState *state) {
  const FileSystem &fs = Files();
  folder.SideName(kRecoverySuffix, name_);
  folder.PathOf(name_, path_);
  *state = RecoveryState::kNone;
  struct stat found;
  if (fs.stat(folder.fd(), name_, &found, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return kIviIniSuccess;
    *state = RecoveryState::kUnusable;
    Fail(nullptr, kIviIniSuccess, FileStep::kRestore, path_, errno);
    return kIviIniSuccess;
  }
  *state = RecoveryState::kUnusable;
  fd_.Reset(fs.open(folder.fd(), name_, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd_.get() < 0 || fs.stat(fd_.get(), "", &found, AT_EMPTY_PATH) != 0) {
    Fail(nullptr, kIviIniSuccess, FileStep::kRestore, path_, errno);
    return kIviIniSuccess;
  }
  if (!S_ISREG(found.st_mode) || found.st_nlink != 1) {
    Note(path_, "not a regular file with one name: not used");
    return kIviIniSuccess;
  }
  // Its bytes become the store's for every reader: only a writer's count.
  struct stat place;
  const bool inherited = fs.stat(folder.fd(), "", &place, AT_EMPTY_PATH) == 0 &&
                         (place.st_mode & S_ISGID) != 0;
  if (!store.MayWrite(found.st_uid, found.st_gid, inherited)) {
    Note(path_, "made by a user who may not write the store: not used");
    return kIviIniSuccess;
  }
  *state = RecoveryState::kStale;
  char line[kRecoveryHeaderBytes];
  const ssize_t got = fs.readAt(fd_.get(), line, sizeof line, 0);
  if (got != static_cast<ssize_t>(sizeof line) || !ParseRecoveryHeader(line, sizeof line, &header_)) {
    Note(path_, "incomplete (a save stopped before it touched the store)");
    return kIviIniSuccess;
  }
  if (header_.device != static_cast<uint64_t>(info.st_dev) ||
      header_.inode != static_cast<uint64_t>(info.st_ino)) {
    Note(path_, "of a file the store has been replaced by since");
    return kIviIniSuccess;
  }
  ContentSum sum;
  const bool read = StreamFile(
      fd_.get(), kRecoveryHeaderBytes, header_.oldLength,
      [](void *context, const char *data, size_t length) {
        static_cast<ContentSum *>(context)->Add(data, length);
        return true;
      },
      &sum);
  if (!read && errno == ENOMEM) return kIviIniOutOfMemory;
  if (!read || sum.Value() != header_.oldSum) {
    Note(path_, "incomplete (a save stopped before it touched the store)");
    return kIviIniSuccess;
  }
  *state = RecoveryState::kValid;
  return kIviIniSuccess;
}

bool RecoveryFile::ReadOld(bool (*take)(void *context, const char *data, size_t length),
                           void *context) const {
  return StreamFile(fd_.get(), kRecoveryHeaderBytes, header_.oldLength, take, context);
}

}  // namespace store
}  // namespace velmora

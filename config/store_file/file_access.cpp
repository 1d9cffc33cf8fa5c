#include "config/store_file/file_access.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/store_file/growable_array.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

// Closes a descriptor on every path out of a function.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor &) = delete;
  FileDescriptor &operator=(const FileDescriptor &) = delete;

  int get() const { return fd_; }
  // Answers close's result: on some file systems the last write error shows
  // only here.
  int Close() {
    if (fd_ < 0) return 0;
    const int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char *data, size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
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

// The folder part of `path` ("." for a bare name) and the name after it.
struct PathParts {
  char *folder;  // from malloc
  const char *name;
};

bool SplitPath(const char *path, PathParts *parts) {
  const char *slash = strrchr(path, '/');
  const size_t folderLength = slash == nullptr ? 1 : (slash == path ? 1 : slash - path);
  char *folder = static_cast<char *>(malloc(folderLength + 1));
  if (folder == nullptr) return false;
  memcpy(folder, slash == nullptr ? "." : path, folderLength);
  folder[folderLength] = '\0';
  *parts = {folder, slash == nullptr ? path : slash + 1};
  return true;
}

// Flushes the folder's entry of the renamed file to disk. The new file is in
// place whatever this answers, so a failure here is not reported.
void SyncFolder(const char *folder) {
  FileDescriptor fd(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) fsync(fd.get());
}

}  // namespace

int32_t ReadWholeFile(const char *path, uint32_t limit, char **data, uint32_t *size,
                      const char **reason) {
  FileDescriptor fd(open(path, O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *reason = strerror(errno);
    return errno == ENOENT || errno == ENOTDIR ? kIviIniStoreNotFound : kIviIniStoreUnreadable;
  }
  struct stat info;
  if (fstat(fd.get(), &info) != 0) {
    *reason = strerror(errno);
    return kIviIniStoreUnreadable;
  }
  if (!S_ISREG(info.st_mode)) {
    *reason = S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file";
    return kIviIniStoreUnreadable;
  }
  if (info.st_size > static_cast<off_t>(limit)) {
    *reason = "the file is larger than 64 MiB";
    return kIviIniStoreFileTooLarge;
  }

  // One byte more than the size, so that a file that grew since fstat shows.
  size_t capacity = static_cast<size_t>(info.st_size) + 1;
  HeapBlock block(malloc(capacity));
  if (block.get() == nullptr) return kIviIniOutOfMemory;
  size_t used = 0;
  for (;;) {
    if (used == capacity) {
      if (capacity > limit) {
        *reason = "the file is larger than 64 MiB";
        return kIviIniStoreFileTooLarge;
      }
      const size_t grown = capacity * 2 > static_cast<size_t>(limit) + 1
                               ? static_cast<size_t>(limit) + 1
                               : capacity * 2;
      void *moved = realloc(block.get(), grown);
      if (moved == nullptr) return kIviIniOutOfMemory;
      block.release();  // realloc has freed or kept it: `moved` is the block now
      block.Reset(moved);
      capacity = grown;
    }
    const ssize_t got = read(fd.get(), static_cast<char *>(block.get()) + used, capacity - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      *reason = strerror(errno);
      return kIviIniStoreUnreadable;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  if (used > limit) {
    *reason = "the file is larger than 64 MiB";
    return kIviIniStoreFileTooLarge;
  }
  *data = static_cast<char *>(block.release());
  *size = static_cast<uint32_t>(used);
  return kIviIniSuccess;
}

int32_t ReplaceFileAtomically(const char *path, ContentSource source, const void *content) {
  // Through a symbolic link, the file it points to is replaced and the link
  // stays a link.
  HeapBlock resolved;
  struct stat info;
  if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
    resolved.Reset(realpath(path, nullptr));
    if (resolved.get() != nullptr) path = static_cast<const char *>(resolved.get());
  }
  const bool existed = stat(path, &info) == 0;

  PathParts parts;
  if (!SplitPath(path, &parts)) return kIviIniOutOfMemory;
  HeapBlock folder(parts.folder);
  const size_t folderLength = strlen(parts.folder);
  const size_t nameLength = strlen(parts.name);
  // "<folder>/.<name>.XXXXXX": hidden, and beside the file so that the
  // rename stays within one file system.
  HeapBlock temporaryBlock(malloc(folderLength + nameLength + 10));
  auto *temporary = static_cast<char *>(temporaryBlock.get());
  if (temporary == nullptr) return kIviIniOutOfMemory;
  memcpy(temporary, parts.folder, folderLength);
  memcpy(temporary + folderLength, "/.", 2);
  memcpy(temporary + folderLength + 2, parts.name, nameLength);
  memcpy(temporary + folderLength + 2 + nameLength, ".XXXXXX", 8);

  HeapBlock buffer(malloc(kWriteBufferBytes));
  if (buffer.get() == nullptr) return kIviIniOutOfMemory;
  FileDescriptor fd(mkstemp(temporary));
  if (fd.get() < 0) return kIviIniStoreCannotCreateTemporary;

  BufferedFile file(fd.get(), static_cast<char *>(buffer.get()), kWriteBufferBytes);
  int32_t status = kIviIniSuccess;
  if (!source(content, BufferedFile::Put, &file) || !file.Flush() || fsync(fd.get()) != 0) {
    status = kIviIniStoreWriteFailed;
  } else if (fchmod(fd.get(), existed ? info.st_mode & 07777 : 0644) != 0) {
    status = kIviIniStoreWriteFailed;
  } else {
    // Keeping the owner needs privileges; without them the saver owns the file.
    if (existed && fchown(fd.get(), info.st_uid, info.st_gid) != 0) errno = 0;
    if (fd.Close() != 0) status = kIviIniStoreWriteFailed;
  }
  if (status == kIviIniSuccess && rename(temporary, path) != 0) {
    status = kIviIniStoreReplaceFailed;
  }
  if (status != kIviIniSuccess) {
    fd.Close();
    unlink(temporary);
    return status;
  }
  SyncFolder(parts.folder);
  return kIviIniSuccess;
}

}  // namespace store
}  // namespace velmora

#include "config/store_file/store_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/store_file/content_sum.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {

int32_t StoreFolder::Open(const char *path, int32_t whenNoFolder, FileFailure *failure) {
  const FileSystem &fs = Files();
  path_ = path;
  struct stat info;
  if (fs.stat(AT_FDCWD, path, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
    resolved_.Reset(fs.resolve(path));
    if (resolved_.get() == nullptr) {
      if (errno == ENOMEM) return kIviIniOutOfMemory;
      // The file the link led to is gone: not the file that was loaded.
      return Fail(failure, kIviIniStoreChangedOnDisk, FileStep::kResolve, path, errno);
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
  folder_.Reset(fs.open(AT_FDCWD, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder_.get() < 0 && errno == EACCES) {
    // Searchable but not readable: good enough to work in, not to flush.
    folder_.Reset(fs.open(AT_FDCWD, folder, O_PATH | O_DIRECTORY | O_CLOEXEC));
    flushable_ = false;
  }
  if (folder_.get() < 0) return Fail(failure, whenNoFolder, FileStep::kOpenFolder, path_, errno);
  return kIviIniSuccess;
}

long StoreFolder::NameLimit() const {
  const long limit = Files().nameLimit(folder_.get());
  return limit <= 0 || limit > NAME_MAX ? NAME_MAX : limit;
}

void StoreFolder::SideName(const char *suffix, char (&out)[NAME_MAX + 1]) const {
  const size_t limit = static_cast<size_t>(NameLimit());
  const size_t length = strlen(name_), suffixLength = strlen(suffix);
  if (1 + length + suffixLength <= limit) {
    out[0] = '.';
    memcpy(out + 1, name_, length);
    memcpy(out + 1 + length, suffix, suffixLength + 1);
    return;
  }
  // "." + kept + "~" + 8 hex digits + suffix, exactly as long as the folder takes.
  const size_t kept = limit - 1 - 9 - suffixLength;
  snprintf(out, sizeof out, ".%.*s~%08x%s", static_cast<int>(kept), name_,
           static_cast<unsigned>(ContentSum::Of(name_, length)), suffix);
}

void StoreFolder::PathOf(const char *file, char (&out)[PATH_MAX]) const {
  snprintf(out, sizeof out, "%s/%s", folderPath(), file);
}

void StoreFolder::Flush() const {
  if (!flushable_) {
    Fail(nullptr, kIviIniSuccess, FileStep::kSync, folderPath(), 0,
         "the folder cannot be read, so it cannot be flushed: a power cut may undo what was "
         "just done in it");
    return;
  }
  if (Files().sync(folder_.get()) != 0) {
    Fail(nullptr, kIviIniSuccess, FileStep::kSync, folderPath(), errno);
  }
}

}  // namespace store
}  // namespace velmora

// The folder a store file lives in, and the names of the files the library
// keeps beside it: a save's temporary, the store's lock file and the
// recovery file of an in-place save. Through a symbolic link, the folder is
// that of the link's target: the target is the store, and the link stays.
#ifndef VELMORA_CONFIG_STORE_FILE_STORE_FOLDER_H
#define VELMORA_CONFIG_STORE_FILE_STORE_FOLDER_H

#include <limits.h>
#include <stdint.h>

#include "config/store_file/descriptor.h"
#include "config/store_file/file_system.h"
#include "config/store_file/growable_array.h"

namespace velmora {
namespace store {

// Suffixes of the files beside a store "<name>": ".<name>.lock" and
// ".<name>.recovery".
constexpr const char *kLockSuffix = ".lock";
constexpr const char *kRecoverySuffix = ".recovery";

class StoreFolder {
 public:
  StoreFolder() = default;
  StoreFolder(const StoreFolder &) = delete;
  StoreFolder &operator=(const StoreFolder &) = delete;

  // Opens the folder of the file `path` leads to. A folder this user may
  // enter and write but not list (mode 0733) is opened for use as a place
  // only: files in it can be made, opened and renamed, but it cannot be
  // flushed (Flush says so). Answers 0, kIviIniOutOfMemory,
  // kIviIniStoreChangedOnDisk for a link that leads nowhere, or
  // `whenNoFolder` for a folder that cannot be opened, with `failure`
  // saying why.
  int32_t Open(const char *path, int32_t whenNoFolder, FileFailure *failure);

  int fd() const { return folder_.get(); }
  const char *path() const { return path_; }  // of the store: a link's target once resolved
  const char *name() const { return name_; }  // the store's name in the folder
  const char *folderPath() const { return static_cast<const char *>(folderPath_.get()); }
  bool flushable() const { return flushable_; }
  // The longest file name the folder takes.
  long NameLimit() const;

  // ".<name><suffix>" in `out`; where the whole would be longer than the
  // folder takes, the name is cut and ends in "~" and a checksum of the whole
  // name, so that the stores of one folder keep files of their own.
  void SideName(const char *suffix, char (&out)[NAME_MAX + 1]) const;
  // The path of a file in the folder, for failure reports.
  void PathOf(const char *file, char (&out)[PATH_MAX]) const;

  // Flushes the folder, so that files made, renamed or removed in it stay
  // so through a power cut. A failure (or a folder opened as a place only)
  // is traced, not answered: what was done is done either way.
  void Flush() const;

 private:
  Descriptor folder_;
  HeapBlock resolved_;
  HeapBlock folderPath_;
  const char *path_ = nullptr;
  const char *name_ = nullptr;
  bool flushable_ = true;
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_STORE_FOLDER_H

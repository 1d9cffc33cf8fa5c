// Which file, and which version of it. A configuration remembers this of the
// file its store was read from: the change test compares it with the file now
// at the path, and the file back end refuses to save over anything else.
#ifndef VELMORA_CONFIG_FILE_IDENTITY_H
#define VELMORA_CONFIG_FILE_IDENTITY_H

#include <stdint.h>
#include <sys/stat.h>

namespace velmora {

// Device and inode tell which file; size and the modification time to the
// nanosecond tell which version of it. A rename-replace gives another inode,
// a rewrite in place another time or size.
struct FileIdentity {
  uint64_t device;
  uint64_t inode;
  int64_t size;
  int64_t seconds;
  int64_t nanoseconds;
};

inline FileIdentity IdentityOf(const struct stat &info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
          static_cast<int64_t>(info.st_size), static_cast<int64_t>(info.st_mtim.tv_sec),
          static_cast<int64_t>(info.st_mtim.tv_nsec)};
}

inline bool SameIdentity(const FileIdentity &a, const FileIdentity &b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.seconds == b.seconds &&
         a.nanoseconds == b.nanoseconds;
}

}  // namespace velmora

#endif  // VELMORA_CONFIG_FILE_IDENTITY_H

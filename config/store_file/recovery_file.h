// The recovery file of an in-place save, ".<name>.recovery" beside the
// store: one header line, then the store's old bytes. The header names the
// store (device and inode) and gives the length and checksum of the old
// bytes and of the new ones, and a checksum of its own.
//
// An in-place save writes it whole and flushes it (and the folder) before
// it touches the store, and removes it once the store holds the new bytes
// and is flushed. So whoever finds one can tell by the checksums where a
// save stopped: a recovery file that is incomplete was never relied on (the
// store is untouched); a store that holds the new bytes or the old ones is
// whole; anything else is torn, and the old bytes are in the recovery file.
#ifndef VELMORA_CONFIG_STORE_FILE_RECOVERY_FILE_H
#define VELMORA_CONFIG_STORE_FILE_RECOVERY_FILE_H

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include "config/store_file/descriptor.h"
#include "config/store_file/file_system.h"
#include "config/store_file/store_access.h"
#include "config/store_file/store_folder.h"

namespace velmora {
namespace store {

struct RecoveryHeader {
  uint64_t device;  // of the store
  uint64_t inode;
  uint64_t oldLength;
  uint64_t oldSum;
  uint64_t newLength;
  uint64_t newSum;
};

// "velmora-recovery/1 <device> <inode> <old length> <old sum> <new length>
// <new sum> <header sum>\n", every field of fixed width.
constexpr size_t kRecoveryHeaderBytes = 134;
void FormatRecoveryHeader(const RecoveryHeader &header, char (&line)[kRecoveryHeaderBytes + 1]);
bool ParseRecoveryHeader(const char *line, size_t length, RecoveryHeader *header);

// What a store's folder holds of a recovery file.
enum class RecoveryState {
  kNone,     // no recovery file
  kUnusable, // one that cannot be read or trusted here: left alone
  kStale,    // incomplete, or of another file than the store now at the path
  kValid,    // complete, of this store: its old bytes are usable
};

// A recovery file, opened for reading and checked against the store `info`
// (whose access is `store`).
class RecoveryFile {
 public:
  RecoveryFile() = default;
  RecoveryFile(const RecoveryFile &) = delete;
  RecoveryFile &operator=(const RecoveryFile &) = delete;

  // Looks for the store's recovery file and, when there is one, checks it:
  // a regular file with one name, made by someone who may write the store,
  // with a sound header and as many old bytes as it announces, whose
  // checksum matches. Answers kIviIniOutOfMemory or 0 with the state.
  int32_t Examine(const StoreFolder &folder, const struct stat &info, const FileAccess &store,
                  RecoveryState *state);

  const RecoveryHeader &header() const { return header_; }
  const char *name() const { return name_; }
  const char *path() const { return path_; }
  // Hands the old bytes to `take` in pieces; false when reading fails (errno
  // set) or `take` refuses.
  bool ReadOld(bool (*take)(void *context, const char *data, size_t length), void *context) const;

 private:
  Descriptor fd_;
  RecoveryHeader header_ = {};
  char name_[NAME_MAX + 1] = {};
  char path_[PATH_MAX] = {};
};

// Streams `length` bytes of `fd` from offset `start` into `take` through a
// buffer of its own, and checks there are no more. False with errno set when
// reading fails, and with errno 0 for a file shorter or longer than that or
// when `take` refuses.
bool StreamFile(int fd, uint64_t start, uint64_t length,
                bool (*take)(void *context, const char *data, size_t length), void *context);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_RECOVERY_FILE_H

// The store's two trips to the file system, both through the table of
// file_system.h: reading a whole file, within the size limit, together with
// the identity of the very file read; and replacing a file by a new one
// only while it is still the file that was read, so that a save never
// overwrites another program's change, another file, or half a file.
#ifndef VELMORA_CONFIG_STORE_FILE_FILE_ACCESS_H
#define VELMORA_CONFIG_STORE_FILE_FILE_ACCESS_H

#include <stddef.h>
#include <stdint.h>

#include "config/file_identity.h"
#include "config/store_file/file_system.h"
#include "config/store_file/store_types.h"

namespace velmora {
namespace store {

// Reads the regular file at `path`, of at most `limit` bytes, into a new
// block from malloc that the caller frees (one byte at least, so never null
// on success), and writes the file's identity as the descriptor that read it
// saw it before reading: a change made during the read shows as a change
// later. Never waits: a FIFO or device at the path is refused, not opened for
// long. Answers 0, kIviIniStoreNotFound, kIviIniStoreUnreadable,
// kIviIniStoreFileTooLarge or kIviIniOutOfMemory; `failure` says what failed.
int32_t ReadWholeFile(const char *path, uint32_t limit, char **data, uint32_t *size,
                      FileIdentity *identity, FileFailure *failure);

// Hands the whole new content to `write`, piece by piece; false to give up.
using ContentSource = bool (*)(const void *source, PieceWriter write, void *context);

// Replaces the file at `path` (through a symbolic link, the file it leads to)
// by what `source` produces, provided it is still the file of `loaded`:
//  1. holding a lock on the file's folder (flock, released by the kernel
//     when the descriptor closes, so a crash leaves no lock behind), which
//     every saver of the folder takes, so that savers go one at a time;
//  2. refusing with kIviIniStoreChangedOnDisk when the file at the path is
//     not the one loaded (rewritten, replaced, deleted, a link re-pointed),
//     kIviIniStoreHardLinked when it has other names, which a replacement
//     would split, and kIviIniStoreNotWritable when this user may not write it;
//  3. writing a temporary beside it, flushing it, giving it the old file's
//     owner (where permitted), group, mode and extended attributes, and
//     renaming it over the old file, then flushing the folder.
// Answers 0 and the new file's identity in `written`; or one of the statuses
// above, kIviIniStoreBusy (the lock stayed taken), kIviIniStoreCannotCreate-
// Temporary, kIviIniStoreWriteFailed, kIviIniStoreReplaceFailed or
// kIviIniOutOfMemory, with `failure` saying what failed: then the file at
// the path is untouched and the temporary is gone.
int32_t ReplaceFile(const char *path, const FileIdentity &loaded, ContentSource source,
                    const void *content, FileIdentity *written, FileFailure *failure);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_FILE_ACCESS_H

// The store's two trips to the file system, both through the table of
// file_system.h: reading a whole file, within the size limit, together with
// the identity of the very file read; and saving over a file only while it
// is still the file that was read and still holds the bytes that were read
// (or last written), so that a save never overwrites another program's
// change, another file, or half a file.
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
// later (a file written in place while it was read is read again). Never
// waits: a FIFO or device at the path is refused, not opened for long.
//
// Beside a store that an in-place save is writing, or that one left torn,
// lies its recovery file (recovery_file.h). A user who may take the store's
// lock puts the store right first (keeping the new bytes or restoring the
// old ones, by the checksums); anyone else, or anyone while a save runs,
// reads the old bytes from the recovery file unless the store already holds
// the new ones.
//
// Answers 0, kIviIniStoreNotFound, kIviIniStoreUnreadable,
// kIviIniStoreFileTooLarge or kIviIniOutOfMemory; `failure` says what failed.
int32_t ReadWholeFile(const char *path, uint32_t limit, char **data, uint32_t *size,
                      FileIdentity *identity, FileFailure *failure);

// What the library knows a store file holds: the bytes it loaded (`bytes`
// not null; `length` of them), or, after a save, the length and checksum
// (content_sum.h) of the bytes it wrote.
struct KnownContent {
  const char *bytes;
  uint64_t length;
  uint64_t sum;
};

// Hands the whole new content to `write`, piece by piece; false to give up.
// It must hand over the same bytes each time it is asked.
using ContentSource = bool (*)(const void *source, PieceWriter write, void *context);

struct NewContent {
  ContentSource source;
  const void *content;
  // The most bytes a file may have that a load would take: a save of more
  // is refused with kIviIniStoreTooLargeToSave before it touches the file.
  uint64_t limit;
};

// The file a save left: its identity and what it holds.
struct SavedFile {
  FileIdentity identity;
  uint64_t length;
  uint64_t sum;
};

// Saves `content` over the file at `path` (through a symbolic link, the file
// it leads to), provided it is still the file of `loaded` holding `known`:
//  1. holding the store's lock (store_lock.h), which every saver takes, so
//     that savers go one at a time;
//  2. refusing with kIviIniStoreChangedOnDisk when the file at the path is
//     not the one loaded (rewritten, replaced, deleted, a link re-pointed),
//     kIviIniStoreHardLinked when it has other names, which a replacement
//     would split, and kIviIniStoreNotWritable when this user may not write it;
//  3. by replacing it: writing a temporary beside it, giving it the old
//     file's owner, group, mode and extended attributes, flushing it, and
//     renaming it over the old file, then flushing the folder; or, where a
//     rename cannot replace the file (a bind-mounted file) or the new file
//     could not keep the owner, the group or an attribute of the old one, in
//     place under a recovery file (recovery_file.h);
//  4. and, immediately before replacing or writing in place, comparing the
//     file's bytes with `known` and its identity with `loaded` again.
// One trace line says which way the save went and why.
// Answers 0 and what the file holds in `saved`; or one of the statuses
// above, kIviIniStoreTooLargeToSave, kIviIniStoreBusy (the lock stayed
// taken), kIviIniStoreLockUnusable,
// kIviIniStoreCannotCreateTemporary, kIviIniStoreWriteFailed,
// kIviIniStoreReplaceFailed or kIviIniOutOfMemory, with `failure` saying what
// failed: then the file at the path is untouched and no temporary or
// recovery file is left; or kIviIniStoreLeftForRecovery, when an in-place
// save failed and the old bytes could not be put back (the recovery file
// beside the store holds them for every open).
int32_t SaveFile(const char *path, const FileIdentity &loaded, const KnownContent &known,
                 const NewContent &content, SavedFile *saved, FileFailure *failure);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_FILE_ACCESS_H

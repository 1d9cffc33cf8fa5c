// The store's two trips to the file system: reading a whole file within the
// size limit, and replacing a file so that a failure at any point leaves the
// old one as it was.
#ifndef VELMORA_CONFIG_STORE_FILE_FILE_ACCESS_H
#define VELMORA_CONFIG_STORE_FILE_FILE_ACCESS_H

#include <stddef.h>
#include <stdint.h>

#include "config/store_file/store_types.h"

namespace velmora {
namespace store {

// Reads the regular file at `path`, of at most `limit` bytes, into a new
// block from malloc that the caller frees (one byte at least, so never null
// on success). Answers 0, kIviIniStoreNotFound, kIviIniStoreUnreadable,
// kIviIniStoreFileTooLarge or kIviIniOutOfMemory; `reason` then says why in
// words (it points to static text or to strerror's).
int32_t ReadWholeFile(const char *path, uint32_t limit, char **data, uint32_t *size,
                      const char **reason);

// Hands the whole new content to `write`, piece by piece; false to give up.
using ContentSource = bool (*)(const void *source, PieceWriter write, void *context);

// Writes what `source` produces to a temporary file in the folder of `path`
// (of the file a symbolic link at `path` points to), flushes it to disk,
// gives it the old file's mode (and owner, where permitted) and renames it
// over the old file. Answers 0, or kIviIniStoreCannotCreateTemporary,
// kIviIniStoreWriteFailed, kIviIniStoreReplaceFailed or kIviIniOutOfMemory,
// in which case the old file is untouched and the temporary is gone.
int32_t ReplaceFileAtomically(const char *path, ContentSource source, const void *content);

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_FILE_ACCESS_H

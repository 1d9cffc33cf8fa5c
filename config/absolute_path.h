// Where a store's file is, fixed once at open: a relative path is joined to
// the working folder of that moment, so that a later chdir cannot move a
// reload or a save to another folder's file. libvelmora and libvelmora-store
// both place their files this way.
#ifndef VELMORA_CONFIG_ABSOLUTE_PATH_H
#define VELMORA_CONFIG_ABSOLUTE_PATH_H

#include <stddef.h>
#include <stdint.h>

namespace velmora {

// Writes `path` made absolute into `out` (`capacity` bytes): an absolute or
// empty path as it is, a relative one after the working folder and a '/'.
// Links are not followed: a link stays the name the user chose. Answers
// kIviIniSuccess, or kIviIniStoreNoWorkingFolder with `out` empty when the
// working folder cannot be named (deeper than PATH_MAX, deleted: errno
// tells) or the joined path does not fit.
int32_t AbsolutePath(const char *path, char *out, size_t capacity);

}  // namespace velmora

#endif  // VELMORA_CONFIG_ABSOLUTE_PATH_H

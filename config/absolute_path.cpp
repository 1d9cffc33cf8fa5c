#include "config/absolute_path.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "velmora/velmora.h"

namespace velmora {

int32_t AbsolutePath(const char *path, char *out, size_t capacity) {
  const size_t length = strlen(path);
  if (capacity == 0) return kIviIniStoreNoWorkingFolder;
  out[0] = '\0';
  if (length == 0 || path[0] == '/') {
    if (length >= capacity) return kIviIniStoreNoWorkingFolder;
    memcpy(out, path, length + 1);
    return kIviIniSuccess;
  }
  if (getcwd(out, capacity) == nullptr || out[0] != '/') {
    out[0] = '\0';
    return kIviIniStoreNoWorkingFolder;
  }
  const size_t folderLength = strlen(out);
  if (folderLength + 1 + length >= capacity) {
    out[0] = '\0';
    errno = ENAMETOOLONG;
    return kIviIniStoreNoWorkingFolder;
  }
  out[folderLength] = '/';
  memcpy(out + folderLength + 1, path, length + 1);
  return kIviIniSuccess;
}

}  // namespace velmora

// An open descriptor of the file store, closed through the file-system
// table (file_system.h) on every path out of a scope.
#ifndef VELMORA_CONFIG_STORE_FILE_DESCRIPTOR_H
#define VELMORA_CONFIG_STORE_FILE_DESCRIPTOR_H

#include "config/store_file/file_system.h"

namespace velmora {
namespace store {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;

  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  // Answers close's result: on some file systems the last write error shows
  // only here.
  int Close() {
    if (fd_ < 0) return 0;
    const int result = Files().close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_DESCRIPTOR_H

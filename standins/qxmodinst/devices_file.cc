#include "devices_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qxmodinst {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string Problem(std::string_view source, size_t line, const std::string &what) {
  return std::string(source) + ":" + std::to_string(line) + ": " + what;
}

FileIdentity FromStat(const struct stat &st) {
  FileIdentity identity;
  identity.exists = true;
  identity.device = st.st_dev;
  identity.inode = st.st_ino;
  identity.size = st.st_size;
  identity.modified = st.st_mtim;
  return identity;
}

// Closes the descriptor on every path out of ReadDevicesFile.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads what is left of fd into *text; answers 0 or the read's errno value.
int ReadRest(int fd, std::string *text) {
  text->clear();
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text->append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace

ParsedDevices ParseDevices(std::string_view text, std::string_view source) {
  ParsedDevices result;
  size_t lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;

    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#') continue;
    if (line.find('\0') != std::string_view::npos) {
      result.errors.push_back(Problem(source, lineNumber, "contains a NUL byte"));
      continue;
    }
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
      const size_t bar = line.find('|', start);
      fields.push_back(Trim(line.substr(start, bar - start)));
      if (bar == std::string_view::npos) break;
      start = bar + 1;
    }
    if (fields.size() != 3) {
      result.errors.push_back(Problem(source, lineNumber,
                                      "expected 'name | class | prefix', found " +
                                          std::to_string(fields.size()) + " field(s)"));
      continue;
    }
    if (fields[0].empty()) {
      result.errors.push_back(Problem(source, lineNumber, "the device name is empty"));
      continue;
    }
    result.devices.push_back(
        Device{std::string(fields[0]), std::string(fields[1]), std::string(fields[2])});
  }
  return result;
}

bool operator==(const FileIdentity &a, const FileIdentity &b) {
  if (!a.exists || !b.exists) return a.exists == b.exists;
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
}

FileIdentity IdentityOf(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FileIdentity{};
  return FromStat(st);
}

int ReadWholeFile(const std::string &path, std::string *text) {
  const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  return ReadRest(fd.get(), text);
}

DevicesSnapshot ReadDevicesFile(const std::string &path) {
  DevicesSnapshot snapshot;
  const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  int error = fd.get() < 0 || fstat(fd.get(), &st) != 0 ? errno : 0;
  std::string text;
  if (error == 0) {
    snapshot.identity = FromStat(st);
    error = ReadRest(fd.get(), &text);
  }
  if (error != 0) {
    snapshot.parsed.errors.push_back("cannot read devices file '" + path +
                                     "': " + std::strerror(error));
    return snapshot;
  }
  snapshot.parsed = ParseDevices(text, path);
  return snapshot;
}

}  // namespace qxmodinst

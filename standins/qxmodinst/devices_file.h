// The installed-devices file of the discovery stand-in: its text format and
// the identity by which a session tells that the file changed.
#ifndef QXMODINST_STANDIN_DEVICES_FILE_H
#define QXMODINST_STANDIN_DEVICES_FILE_H

#include <sys/stat.h>

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace qxmodinst {

struct Device {
  std::string name;
  std::string deviceClass;
  std::string prefix;
};

struct ParsedDevices {
  std::vector<Device> devices;
  // One "source:line: problem" text per malformed line.
  std::vector<std::string> errors;
};

// Parses "name | class | prefix" lines; source names the file in errors.
ParsedDevices ParseDevices(std::string_view text, std::string_view source);

// What a later look at the file compares against. Two identities are equal
// only when both say "absent" or all their fields match.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
};
bool operator==(const FileIdentity &a, const FileIdentity &b);
inline bool operator!=(const FileIdentity &a, const FileIdentity &b) {
  return !(a == b);
}

// The identity of path now; absent when it cannot be examined.
FileIdentity IdentityOf(const std::string &path);

struct DevicesSnapshot {
  FileIdentity identity;
  ParsedDevices parsed;  // read errors are among parsed.errors
};

// Reads the whole file into *text. Answers 0, or the errno value of the
// failing open or read.
int ReadWholeFile(const std::string &path, std::string *text);

// Reads and parses the file. The identity comes from the descriptor that was
// read, so a file replaced in the meantime shows up as changed later.
DevicesSnapshot ReadDevicesFile(const std::string &path);

}  // namespace qxmodinst

#endif

// Who may read and who may write a store file, from its owner, group, mode
// and POSIX access control list, and the access the files beside it get
// from that: the lock file is for the store's writers alone (a reader who
// could open it could hold every save back), the recovery file for its
// readers alone (it holds the store's old bytes).
//
// The access control list is read and written as the extended attribute
// "system.posix_acl_access" in the kernel's own layout (a version word, then
// tag, permissions and id per entry), so the library needs nothing beyond
// the C library.
#ifndef VELMORA_CONFIG_STORE_FILE_STORE_ACCESS_H
#define VELMORA_CONFIG_STORE_FILE_STORE_ACCESS_H

#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "config/store_file/growable_array.h"

namespace velmora {
namespace store {

constexpr const char *kAccessListAttribute = "system.posix_acl_access";

// One class of a file's access: the owner, a named user, the owning group,
// a named group, the mask or everyone else; permissions as in a mode
// (4 read, 2 write, 1 execute).
struct AccessEntry {
  uint16_t tag;  // kOwnerEntry ... kOtherEntry
  uint16_t permissions;
  uint32_t id;  // of a named user or group; unused for the others
};
enum : uint16_t {
  kOwnerEntry = 0x01,
  kUserEntry = 0x02,
  kGroupEntry = 0x04,
  kNamedGroupEntry = 0x08,
  kMaskEntry = 0x10,
  kOtherEntry = 0x20,
};

// A file's access: its mode's three classes, or its access control list.
class FileAccess {
 public:
  FileAccess() = default;
  FileAccess(const FileAccess &) = delete;
  FileAccess &operator=(const FileAccess &) = delete;

  // Reads the owner, group and mode from `info` and the list of the open
  // file `fd`. Answers 0, kIviIniOutOfMemory, or -1 with errno set.
  int32_t Read(int fd, const struct stat &info);

  uid_t owner() const { return owner_; }
  gid_t group() const { return group_; }
  bool extended() const { return extended_; }  // named users or groups
  // What a named user or group may do, the mask applied; -1 when the list
  // names no such user or group.
  int NamedUser(uid_t user) const;
  int NamedGroup(gid_t group) const;
  // What the members of `group` get through it: the owning group's or a
  // named group's permissions, the mask applied; -1 when it gets nothing.
  int Group(gid_t group) const;
  int Other() const { return other_; }

  // Whether `user` may write the file: a process of that user, with its
  // groups as the user database lists them. `fileGroup` is the group of a
  // file that user made beside the store and `inheritedGroup` whether the
  // folder hands its group to new files: a file made with the store's group
  // shows its maker belongs to it, for users the database does not know.
  bool MayWrite(uid_t user, gid_t fileGroup, bool inheritedGroup) const;

  // The access of a file beside this one, owned by `owner` and `group`:
  // every user and group of this file's list gets read and write where it
  // may write this file (`forWriters`), or read where it may read it; the
  // file's own owner read and write (writers) or read. Where the owner or
  // group differ from this file's, they are named in the list instead.
  int32_t Derive(bool forWriters, uid_t owner, gid_t group, FileAccess *derived) const;

  // Whether nobody gets more from this access than from `allowed` (made by
  // Derive for the same owner and group).
  bool Within(const FileAccess &allowed) const;

  // Gives an open file this access: its mode, and its list (or none, so
  // that a folder's default list adds nobody). Answers 0 or -1 with errno.
  int Apply(int fd) const;

  mode_t Mode() const;

 private:
  int Masked(int permissions) const { return extended_ ? permissions & mask_ : permissions; }
  const AccessEntry *Find(uint16_t tag, uint32_t id) const;
  bool Append(uint16_t tag, uint16_t permissions, uint32_t id);

  uid_t owner_ = 0;
  gid_t group_ = 0;
  uint16_t ownerPermissions_ = 0;
  uint16_t groupPermissions_ = 0;
  uint16_t other_ = 0;
  uint16_t mask_ = 7;
  bool extended_ = false;
  mode_t special_ = 0;  // set-user-ID, set-group-ID and sticky bits
  GrowableArray<AccessEntry> named_;  // users by id, then groups by id
};

}  // namespace store
}  // namespace velmora

#endif  // VELMORA_CONFIG_STORE_FILE_STORE_ACCESS_H

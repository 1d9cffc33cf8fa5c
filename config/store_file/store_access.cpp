#include "config/store_file/store_access.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "config/store_file/file_system.h"
#include "velmora/velmora.h"

namespace velmora {
namespace store {
namespace {

// The kernel's layout of the attribute: a little-endian version word, then
// one little-endian entry per class (this library runs on little-endian
// machines, where the layout is the structures' own).
constexpr uint32_t kAccessListVersion = 2;
constexpr uint32_t kNoId = UINT32_MAX;
struct StoredEntry {
  uint16_t tag;
  uint16_t permissions;
  uint32_t id;
};
static_assert(sizeof(StoredEntry) == 8, "the kernel's entry is 8 bytes");

constexpr int kRead = 4, kWrite = 2;

bool Subset(int permissions, int allowed) {
  return (permissions & ~allowed & 7) == 0;
}

bool IsAbsent(int error) {
  return error == ENODATA || error == ENOTSUP || error == EOPNOTSUPP;
}

// The groups the user database gives `user`; false when it does not know
// the user (or memory runs out: the answer is then "not shown").
bool UserGroups(uid_t user, GrowableArray<gid_t> *groups) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  for (;;) {
    HeapBlock buffer(malloc(static_cast<size_t>(size)));
    if (buffer.get() == nullptr) return false;
    struct passwd entry, *found = nullptr;
    const int error = getpwuid_r(user, &entry, static_cast<char *>(buffer.get()),
                                 static_cast<size_t>(size), &found);
    if (error == ERANGE && size < (1L << 20)) {
      size *= 2;
      continue;
    }
    if (error != 0 || found == nullptr) return false;
    int count = 32;
    for (;;) {
      groups->Clear();
      if (groups->Extend(static_cast<uint32_t>(count)) == nullptr) return false;
      int wanted = count;
      if (getgrouplist(entry.pw_name, entry.pw_gid, groups->data(), &wanted) >= 0) {
        groups->Truncate(static_cast<uint32_t>(wanted));
        return true;
      }
      if (wanted <= count) return false;
      count = wanted;
    }
  }
}

}  // namespace

int32_t FileAccess::Read(int fd, const struct stat &info) {
  owner_ = info.st_uid;
  group_ = info.st_gid;
  ownerPermissions_ = (info.st_mode >> 6) & 7;
  groupPermissions_ = (info.st_mode >> 3) & 7;
  other_ = info.st_mode & 7;
  special_ = info.st_mode & 07000;
  mask_ = 7;
  extended_ = false;
  named_.Clear();
  const FileSystem &fs = Files();
  const ssize_t size = fs.getAttribute(fd, kAccessListAttribute, nullptr, 0);
  if (size < 0) return IsAbsent(errno) ? kIviIniSuccess : -1;
  HeapBlock block(malloc(static_cast<size_t>(size) + 1));
  if (block.get() == nullptr) return kIviIniOutOfMemory;
  const ssize_t got = fs.getAttribute(fd, kAccessListAttribute, block.get(), static_cast<size_t>(size));
  if (got < 0) return IsAbsent(errno) ? kIviIniSuccess : -1;
  const auto *bytes = static_cast<const unsigned char *>(block.get());
  uint32_t version = 0;
  if (got < 4 || (got - 4) % 8 != 0 || (memcpy(&version, bytes, 4), version != kAccessListVersion)) {
    errno = EINVAL;
    return -1;
  }
  for (const unsigned char *p = bytes + 4; p < bytes + got; p += 8) {
    StoredEntry e;
    memcpy(&e, p, sizeof e);
    switch (e.tag) {
      case kOwnerEntry:
        ownerPermissions_ = e.permissions & 7;
        break;
      case kGroupEntry:
        groupPermissions_ = e.permissions & 7;
        break;
      case kMaskEntry:
        mask_ = e.permissions & 7;
        extended_ = true;
        break;
      case kOtherEntry:
        other_ = e.permissions & 7;
        break;
      case kUserEntry:
      case kNamedGroupEntry:
        if (!Append(e.tag, e.permissions & 7, e.id)) return kIviIniOutOfMemory;
        extended_ = true;
        break;
      default:
        break;
    }
  }
  return kIviIniSuccess;
}

const AccessEntry *FileAccess::Find(uint16_t tag, uint32_t id) const {
  for (uint32_t i = 0; i < named_.size(); ++i) {
    if (named_[i].tag == tag && named_[i].id == id) return &named_[i];
  }
  return nullptr;
}

// Keeps users before groups and each by id, the order the kernel wants.
bool FileAccess::Append(uint16_t tag, uint16_t permissions, uint32_t id) {
  uint32_t at = named_.size();
  while (at > 0 && (named_[at - 1].tag > tag || (named_[at - 1].tag == tag && named_[at - 1].id > id))) {
    --at;
  }
  return named_.InsertAt(at, {tag, permissions, id});
}

int FileAccess::NamedUser(uid_t user) const {
  const AccessEntry *e = Find(kUserEntry, user);
  return e != nullptr ? Masked(e->permissions) : -1;
}

int FileAccess::NamedGroup(gid_t group) const {
  const AccessEntry *e = Find(kNamedGroupEntry, group);
  return e != nullptr ? Masked(e->permissions) : -1;
}

int FileAccess::Group(gid_t group) const {
  return group == group_ ? Masked(groupPermissions_) : NamedGroup(group);
}

mode_t FileAccess::Mode() const {
  // With a list, the mode's group bits are its mask.
  return special_ | static_cast<mode_t>(ownerPermissions_ << 6) |
         static_cast<mode_t>((extended_ ? mask_ : groupPermissions_) << 3) | other_;
}

bool FileAccess::MayWrite(uid_t user, gid_t fileGroup, bool inheritedGroup) const {
  if (user == 0 || user == owner_) return true;  // the owner can always give itself the right
  const int named = NamedUser(user);
  if (named >= 0) return (named & kWrite) != 0;  // a user's own entry decides alone
  if ((other_ & kWrite) != 0) return true;
  GrowableArray<gid_t> groups;
  if (UserGroups(user, &groups)) {
    for (uint32_t i = 0; i < groups.size(); ++i) {
      const int permissions = Group(groups[i]);
      if (permissions > 0 && (permissions & kWrite) != 0) return true;
    }
    return false;
  }
  // A user the database does not know: only a member (or root) can give a
  // file a group, unless the folder handed it down.
  return !inheritedGroup && Group(fileGroup) > 0 && (Group(fileGroup) & kWrite) != 0;
}

int32_t FileAccess::Derive(bool forWriters, uid_t owner, gid_t group, FileAccess *derived) const {
  const auto follow = [forWriters](int permissions) -> uint16_t {
    if (permissions < 0) return 0;
    if (forWriters) return (permissions & kWrite) != 0 ? kRead | kWrite : 0;
    return (permissions & kRead) != 0 ? kRead : 0;
  };
  FileAccess &d = *derived;
  d.owner_ = owner;
  d.group_ = group;
  d.special_ = 0;
  d.named_.Clear();
  d.ownerPermissions_ = forWriters ? kRead | kWrite : kRead;
  d.groupPermissions_ = follow(Group(group));
  d.other_ = follow(other_);
  if (owner != owner_ && !d.Append(kUserEntry, follow(ownerPermissions_), owner_)) {
    return kIviIniOutOfMemory;
  }
  if (group != group_ && !d.Append(kNamedGroupEntry, follow(Masked(groupPermissions_)), group_)) {
    return kIviIniOutOfMemory;
  }
  for (uint32_t i = 0; i < named_.size(); ++i) {
    const AccessEntry &e = named_[i];
    if ((e.tag == kUserEntry && e.id == owner) || (e.tag == kNamedGroupEntry && e.id == group)) {
      continue;  // the derived file's own owner or group
    }
    if (!d.Append(e.tag, follow(Masked(e.permissions)), e.id)) return kIviIniOutOfMemory;
  }
  d.extended_ = !d.named_.empty();
  d.mask_ = d.groupPermissions_;
  for (uint32_t i = 0; i < d.named_.size(); ++i) d.mask_ |= d.named_[i].permissions;
  return kIviIniSuccess;
}

bool FileAccess::Within(const FileAccess &allowed) const {
  if (owner_ != allowed.owner_ || group_ != allowed.group_) return false;
  if (!Subset(ownerPermissions_, allowed.ownerPermissions_) ||
      !Subset(other_, allowed.other_) ||
      !Subset(Masked(groupPermissions_), allowed.Masked(allowed.groupPermissions_))) {
    return false;
  }
  for (uint32_t i = 0; i < named_.size(); ++i) {
    const AccessEntry *a = allowed.Find(named_[i].tag, named_[i].id);
    if (a == nullptr || !Subset(Masked(named_[i].permissions), allowed.Masked(a->permissions))) {
      return false;
    }
  }
  // An entry that keeps someone out must be there: without it they would
  // get what their groups or everyone else get.
  for (uint32_t i = 0; i < allowed.named_.size(); ++i) {
    const AccessEntry &a = allowed.named_[i];
    if (allowed.Masked(a.permissions) == 0 && Find(a.tag, a.id) == nullptr) return false;
  }
  return true;
}

int FileAccess::Apply(int fd) const {
  const FileSystem &fs = Files();
  if (!extended_) {
    if (fs.removeAttribute(fd, kAccessListAttribute) != 0 && !IsAbsent(errno)) return -1;
    return fs.changeMode(fd, Mode());
  }
  if (fs.changeMode(fd, Mode()) != 0) return -1;
  const uint32_t count = 4 + named_.size();
  HeapBlock block(malloc(4 + 8 * static_cast<size_t>(count)));
  if (block.get() == nullptr) {
    errno = ENOMEM;
    return -1;
  }
  auto *bytes = static_cast<unsigned char *>(block.get());
  memcpy(bytes, &kAccessListVersion, 4);
  unsigned char *p = bytes + 4;
  const auto put = [&p](uint16_t tag, uint16_t permissions, uint32_t id) {
    const StoredEntry e = {tag, permissions, id};
    memcpy(p, &e, sizeof e);
    p += sizeof e;
  };
  put(kOwnerEntry, ownerPermissions_, kNoId);
  uint32_t i = 0;
  for (; i < named_.size() && named_[i].tag == kUserEntry; ++i) put(kUserEntry, named_[i].permissions, named_[i].id);
  put(kGroupEntry, groupPermissions_, kNoId);
  for (; i < named_.size(); ++i) put(kNamedGroupEntry, named_[i].permissions, named_[i].id);
  put(kMaskEntry, mask_, kNoId);
  put(kOtherEntry, other_, kNoId);
  if (fs.setAttribute(fd, kAccessListAttribute, bytes, static_cast<size_t>(p - bytes)) == 0) return 0;
  if (!IsAbsent(errno)) return -1;
  // No lists here: the mode alone, with only the owning group's own access.
  // Those named in the list are left out, never let in.
  const mode_t narrow = static_cast<mode_t>(ownerPermissions_ << 6) |
                        static_cast<mode_t>(groupPermissions_ << 3) | other_;
  return fs.changeMode(fd, narrow);
}

}  // namespace store
}  // namespace velmora

// The host stand-in's whole state: the handle and variant tables, the
// accounts, the armed faults and the configured open sessions. The C layers
// (host_exports.cc for the host functions, hxhost_standin.cc for the test
// side) only check for exceptions and forward here.
#ifndef HXHOST_STANDIN_HOST_STATE_H
#define HXHOST_STANDIN_HOST_STATE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "hxhost_standin.h"

namespace hxhost {

// Names of the host functions, as counted and as faults are armed by.
inline constexpr const char kNewHandle[] = "DSNewHandle";
inline constexpr const char kNewHClr[] = "DSNewHClr";
inline constexpr const char kDisposeHandle[] = "DSDisposeHandle";
inline constexpr const char kPStrCmp[] = "PStrCmp";
inline constexpr const char kGetU32[] = "HxVariantPStrGetUI32Attr";
inline constexpr const char kGetString[] = "HxVariantPStrGetStringAttr";
inline constexpr const char kSetU32[] = "HxVariantPStrSetUI32Attr";
inline constexpr const char kSetString[] = "HxVariantPStrSetStringAttr";
inline constexpr const char kOpenSessions[] = "GetIOControlOpenSessionsEx";
// The test-side allocator, logged beside the host's own.
inline constexpr const char kLongStringNew[] = "hxhost_long_string_new";

enum class Owner { kCaller, kHost };

// A relocatable block. The handle is the address of data_, so the handle
// stays valid for as long as the Block object lives.
class Block {
 public:
  // Null when size exceeds HXHOST_MAX_BLOCK_SIZE or memory runs out.
  static std::unique_ptr<Block> Allocate(size_t size, bool clear, Owner owner);
  ~Block();
  Block(const Block &) = delete;
  Block &operator=(const Block &) = delete;

  HxHandle handle() { return &data_; }
  unsigned char *bytes() { return static_cast<unsigned char *>(data_); }
  size_t size() const { return size_; }
  Owner owner() const { return owner_; }

 private:
  Block(void *data, size_t size, Owner owner) : data_(data), size_(size), owner_(owner) {}
  void *data_;
  size_t size_;
  Owner owner_;
};

struct Attribute {
  enum class Kind { kU32, kString, kNullString };
  Kind kind = Kind::kU32;
  uint32_t u32 = 0;
  std::string text;
};

struct Variant {
  explicit Variant(Owner o) : owner(o) {}
  Owner owner;
  std::map<std::string, Attribute> attributes;
};

struct SessionSpec {
  std::optional<std::string> name;
  std::optional<std::string> orig;
};

class Host {
 public:
  // The one host of the process. It is never destroyed: plug-in threads that
  // outlive main may still call in while static objects are torn down.
  static Host &Instance();

  // Host functions.
  HxHandle NewHandle(size_t size, bool clear);
  MgErr DisposeHandle(HxHandle h);
  int32_t CompareStrings(ConstPStr a, ConstPStr b);
  MgErr GetU32(HxVariantRef *var, ConstPStr name, uint32_t *value);
  MgErr GetString(HxVariantRef *var, ConstPStr name, HxHandle *longString);
  MgErr SetU32(HxVariantRef *slot, ConstPStr name, uint32_t value);
  MgErr SetString(HxVariantRef *slot, ConstPStr name, HxHandle longString);
  MgErr OpenSessions(uint32_t appContext, ConstPStr ioClass, HxVariantRef properties, int32_t one,
                     HxHandle *sessions);

  // Test side, one method per hxhost_ function of the same meaning.
  void Reset();
  int64_t HandlesOutstanding();
  int64_t VariantsOutstanding();
  uint64_t CallCount(const std::string &function);
  uint64_t InvalidDisposeCount();
  uint64_t BadArgumentCount();
  std::vector<size_t> RequestedSizes(const std::string &function);
  bool IsLive(HxHandle h);
  size_t HandleSize(HxHandle h);
  MgErr ArmFault(const std::string &function, uint32_t nth, uint32_t count, MgErr status);
  void DisarmFaults();
  void ClearSessions();
  void AddSession(SessionSpec session);
  void SetSessionsStatus(MgErr status);
  void SetSessionsNullHandle(bool enabled);
  void OverrideSessionsCount(std::optional<int32_t> count);
  bool LastSessionsCall(hxhost_sessions_call *call);
  HxHandle NewLongString(const std::string &text);
  std::optional<std::string> LongStringText(HxHandle h);
  HxVariantRef NewVariant();
  MgErr DisposeVariant(HxVariantRef var);
  MgErr SetAttribute(HxVariantRef var, const std::string &name, Attribute value);
  // kHostOk with a copy in *found, kHostAttributeAbsent or
  // HXHOST_ERR_BAD_VARIANT.
  MgErr FindAttribute(HxVariantRef var, const std::string &name, Attribute *found);
  int32_t AttributeCount(HxVariantRef var);
  int32_t ListCount(HxHandle list);
  HxVariantRef ListSlot(HxHandle list, int32_t index);
  MgErr DisposeList(HxHandle list);

 private:
  struct Fault {
    uint64_t seen = 0;  // calls since arming
    uint32_t nth = 0;
    uint32_t count = 0;
    MgErr status = kHostOk;
  };
  struct SessionsCall {
    uint32_t appContext = 0;
    std::string ioClass;
    HxVariantRef properties = nullptr;
    int32_t one = 0;
  };

  Host() = default;

  // The helpers below expect mutex_ held.
  // Counts a call of function and answers the armed fault's status when this
  // call is one it covers, else kHostOk.
  MgErr BeginCall(const char *function);
  MgErr Reject(MgErr status);
  Block *FindBlock(HxHandle h);
  Variant *FindVariant(HxVariantRef ref);
  Block *Allocate(const char *function, size_t size, bool clear, Owner owner);
  Variant *CreateVariant(Owner owner);
  // Reads a long string out of a live handle; HXHOST_ERR_BAD_HANDLE or
  // HXHOST_ERR_BAD_STRING when there is none.
  MgErr ReadLongString(HxHandle h, std::string *text);
  MgErr FindForGet(MgErr fault, HxVariantRef *var, ConstPStr name, const void *out,
                   const Attribute **found);
  MgErr StoreForSet(MgErr fault, HxVariantRef *slot, ConstPStr name, Attribute value);
  // Frees a list handle and every live variant in its slots; answers how many
  // non-null slots named no live variant.
  size_t FreeList(HxHandle list);

  std::mutex mutex_;
  // Everything below is guarded by mutex_.
  std::unordered_map<HxHandle, std::unique_ptr<Block>> blocks_;
  std::unordered_map<HxVariantRef, std::unique_ptr<Variant>> variants_;
  std::map<std::string, uint64_t> calls_;
  std::map<std::string, std::vector<size_t>> requestedSizes_;
  std::map<std::string, Fault> faults_;
  uint64_t invalidDisposals_ = 0;
  uint64_t badArguments_ = 0;
  std::vector<SessionSpec> sessions_;
  MgErr sessionsStatus_ = kHostOk;
  bool sessionsNullHandle_ = false;
  std::optional<int32_t> sessionsCountOverride_;
  std::optional<SessionsCall> lastSessionsCall_;
  // Session lists handed out, oldest first; the host frees them once
  // HXHOST_RETAINED_SESSION_LISTS newer ones exist, or on reset.
  std::deque<HxHandle> retainedSessionLists_;
};

}  // namespace hxhost

#endif

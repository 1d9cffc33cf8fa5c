#include "host_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace hxhost {
namespace {

const char *const kArmableFunctions[] = {kNewHandle, kNewHClr, kDisposeHandle, kGetU32,
                                         kGetString, kSetU32,  kSetString,     kOpenSessions};

std::string FromPStr(ConstPStr p) {
  return std::string(reinterpret_cast<const char *>(p + 1), p[0]);
}

int32_t ReadInt32(const unsigned char *at) {
  int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void WriteInt32(unsigned char *at, int32_t value) {
  std::memcpy(at, &value, sizeof value);
}

// Slots are written and read with memcpy: list blocks are byte arrays to the
// host, and a test may hand in a block whose slots are not pointer-aligned.
HxVariantRef ReadSlot(const unsigned char *block, size_t index) {
  HxVariantRef ref;
  std::memcpy(&ref, block + kListHeaderSize + kListSlotSize * index, sizeof ref);
  return ref;
}

size_t SlotCapacity(const Block &block) {
  return block.size() < kListHeaderSize ? 0 : (block.size() - kListHeaderSize) / kListSlotSize;
}

}  // namespace

std::unique_ptr<Block> Block::Allocate(size_t size, bool clear, Owner owner) {
  if (size > static_cast<size_t>(HXHOST_MAX_BLOCK_SIZE)) return nullptr;
  // A zero-byte request still gets a distinct block, so that its handle is
  // as unique as any other.
  void *data = std::malloc(size == 0 ? 1 : size);
  if (data == nullptr) return nullptr;
  std::memset(data, clear ? 0 : int{HXHOST_UNINITIALISED_BYTE}, size);
  return std::unique_ptr<Block>(new Block(data, size, owner));
}

Block::~Block() {
  std::free(data_);
}

Host &Host::Instance() {
  static Host *const host = new Host;
  return *host;
}

MgErr Host::BeginCall(const char *function) {
  ++calls_[function];
  const auto it = faults_.find(function);
  if (it == faults_.end()) return kHostOk;
  Fault &fault = it->second;
  ++fault.seen;
  if (fault.seen < fault.nth) return kHostOk;
  if (fault.count != HXHOST_FAULT_ALWAYS && fault.seen - fault.nth >= fault.count) return kHostOk;
  return fault.status;
}

MgErr Host::Reject(MgErr status) {
  ++badArguments_;
  return status;
}

Block *Host::FindBlock(HxHandle h) {
  const auto it = blocks_.find(h);
  return it == blocks_.end() ? nullptr : it->second.get();
}

Variant *Host::FindVariant(HxVariantRef ref) {
  const auto it = variants_.find(ref);
  return it == variants_.end() ? nullptr : it->second.get();
}

Block *Host::Allocate(const char *function, size_t size, bool clear, Owner owner) {
  requestedSizes_[function].push_back(size);
  std::unique_ptr<Block> block = Block::Allocate(size, clear, owner);
  if (block == nullptr) return nullptr;
  Block *raw = block.get();
  blocks_.emplace(raw->handle(), std::move(block));
  return raw;
}

Variant *Host::CreateVariant(Owner owner) {
  auto variant = std::make_unique<Variant>(owner);
  Variant *raw = variant.get();
  variants_.emplace(static_cast<HxVariantRef>(raw), std::move(variant));
  return raw;
}

MgErr Host::ReadLongString(HxHandle h, std::string *text) {
  Block *block = FindBlock(h);
  if (block == nullptr) return HXHOST_ERR_BAD_HANDLE;
  if (block->size() < kLongStringHeaderSize) return HXHOST_ERR_BAD_STRING;
  const int32_t length = ReadInt32(block->bytes());
  if (length < 0 || static_cast<size_t>(length) > block->size() - kLongStringHeaderSize) {
    return HXHOST_ERR_BAD_STRING;
  }
  text->assign(reinterpret_cast<const char *>(block->bytes() + kLongStringHeaderSize),
               static_cast<size_t>(length));
  return kHostOk;
}

HxHandle Host::NewHandle(size_t size, bool clear) {
  const char *function = clear ? kNewHClr : kNewHandle;
  std::lock_guard<std::mutex> lock(mutex_);
  const MgErr fault = BeginCall(function);
  if (fault != kHostOk) {
    requestedSizes_[function].push_back(size);
    return nullptr;
  }
  Block *block = Allocate(function, size, clear, Owner::kCaller);
  return block == nullptr ? nullptr : block->handle();
}

MgErr Host::DisposeHandle(HxHandle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  const MgErr fault = BeginCall(kDisposeHandle);
  Block *block = FindBlock(h);
  // The session lists are the host's: a plug-in that disposes of one has a
  // bug, which is counted like a double disposal rather than obeyed.
  if (block == nullptr || block->owner() == Owner::kHost) {
    ++invalidDisposals_;
    return Reject(HXHOST_ERR_BAD_HANDLE);
  }
  if (fault != kHostOk) return fault;
  blocks_.erase(h);
  return kHostOk;
}

int32_t Host::CompareStrings(ConstPStr a, ConstPStr b) {
  std::lock_guard<std::mutex> lock(mutex_);
  BeginCall(kPStrCmp);
  if (a == nullptr || b == nullptr) {
    ++badArguments_;
    return 1;  // never equal
  }
  const int common = std::memcmp(a + 1, b + 1, std::min(a[0], b[0]));
  if (common != 0) return common;
  return static_cast<int32_t>(a[0]) - static_cast<int32_t>(b[0]);
}

MgErr Host::FindForGet(MgErr fault, HxVariantRef *var, ConstPStr name, const void *out,
                       const Attribute **found) {
  if (var == nullptr || name == nullptr || out == nullptr) return Reject(HXHOST_ERR_BAD_ARGUMENT);
  Variant *variant = nullptr;
  if (*var != nullptr) {
    variant = FindVariant(*var);
    if (variant == nullptr) return Reject(HXHOST_ERR_BAD_VARIANT);
  }
  if (fault != kHostOk) return fault;
  // A null reference is a variant without attributes: a control that has no
  // properties simply answers "absent" to every question.
  if (variant == nullptr) return kHostAttributeAbsent;
  const auto it = variant->attributes.find(FromPStr(name));
  if (it == variant->attributes.end()) return kHostAttributeAbsent;
  *found = &it->second;
  return kHostOk;
}

MgErr Host::GetU32(HxVariantRef *var, ConstPStr name, uint32_t *value) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Attribute *attribute = nullptr;
  const MgErr status = FindForGet(BeginCall(kGetU32), var, name, value, &attribute);
  if (status != kHostOk) return status;
  if (attribute->kind != Attribute::Kind::kU32) return Reject(HXHOST_ERR_TYPE_MISMATCH);
  *value = attribute->u32;
  return kHostOk;
}

MgErr Host::GetString(HxVariantRef *var, ConstPStr name, HxHandle *longString) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Attribute *attribute = nullptr;
  const MgErr status = FindForGet(BeginCall(kGetString), var, name, longString, &attribute);
  if (status != kHostOk) return status;
  if (attribute->kind == Attribute::Kind::kU32) return Reject(HXHOST_ERR_TYPE_MISMATCH);
  if (attribute->kind == Attribute::Kind::kNullString) {
    *longString = nullptr;
    return kHostOk;
  }
  const std::string &text = attribute->text;
  Block *block = Allocate(kGetString, kLongStringHeaderSize + text.size(), false, Owner::kCaller);
  if (block == nullptr) return kHostOutOfMemory;
  WriteInt32(block->bytes(), static_cast<int32_t>(text.size()));
  std::memcpy(block->bytes() + kLongStringHeaderSize, text.data(), text.size());
  *longString = block->handle();
  return kHostOk;
}

MgErr Host::StoreForSet(MgErr fault, HxVariantRef *slot, ConstPStr name, Attribute value) {
  if (slot == nullptr || name == nullptr) return Reject(HXHOST_ERR_BAD_ARGUMENT);
  Variant *variant = nullptr;
  if (*slot != nullptr) {
    variant = FindVariant(*slot);
    if (variant == nullptr) return Reject(HXHOST_ERR_BAD_VARIANT);
  }
  if (fault != kHostOk) return fault;
  if (variant == nullptr) {
    variant = CreateVariant(Owner::kCaller);
    *slot = variant;
  }
  variant->attributes[FromPStr(name)] = std::move(value);
  return kHostOk;
}

MgErr Host::SetU32(HxVariantRef *slot, ConstPStr name, uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  const MgErr fault = BeginCall(kSetU32);
  Attribute attribute;
  attribute.kind = Attribute::Kind::kU32;
  attribute.u32 = value;
  return StoreForSet(fault, slot, name, std::move(attribute));
}

MgErr Host::SetString(HxVariantRef *slot, ConstPStr name, HxHandle longString) {
  std::lock_guard<std::mutex> lock(mutex_);
  const MgErr fault = BeginCall(kSetString);
  Attribute attribute;
  attribute.kind = Attribute::Kind::kString;
  // The text is copied now, so the caller may reuse or dispose of its handle
  // as soon as the call returns.
  const MgErr status = ReadLongString(longString, &attribute.text);
  if (status != kHostOk) return Reject(status);
  return StoreForSet(fault, slot, name, std::move(attribute));
}

MgErr Host::OpenSessions(uint32_t appContext, ConstPStr ioClass, HxVariantRef properties,
                         int32_t one, HxHandle *sessions) {
  std::lock_guard<std::mutex> lock(mutex_);
  const MgErr fault = BeginCall(kOpenSessions);
  if (ioClass == nullptr || sessions == nullptr) return Reject(HXHOST_ERR_BAD_ARGUMENT);
  lastSessionsCall_ = SessionsCall{appContext, FromPStr(ioClass), properties, one};
  if (fault != kHostOk) return fault;
  if (sessionsStatus_ != kHostOk || sessionsNullHandle_) return sessionsStatus_;

  const int32_t count = sessionsCountOverride_.value_or(static_cast<int32_t>(sessions_.size()));
  const size_t slots = std::max(sessions_.size(), static_cast<size_t>(std::max(count, 0)));
  Block *block =
      Allocate(kOpenSessions, kListHeaderSize + kListSlotSize * slots, true, Owner::kHost);
  if (block == nullptr) return kHostOutOfMemory;
  WriteInt32(block->bytes(), count);
  for (size_t i = 0; i < sessions_.size(); ++i) {
    Variant *variant = CreateVariant(Owner::kHost);
    auto setText = [variant](const char *attributeName, const std::optional<std::string> &text) {
      if (!text) return;
      Attribute &attribute = variant->attributes[attributeName];
      attribute.kind = Attribute::Kind::kString;
      attribute.text = *text;
    };
    setText("n", sessions_[i].name);
    setText("orig", sessions_[i].orig);
    HxVariantRef ref = variant;
    std::memcpy(block->bytes() + kListHeaderSize + kListSlotSize * i, &ref, sizeof ref);
  }
  // Earlier lists stay readable for a while: a second request thread may
  // still be reading the list it got just before this call.
  retainedSessionLists_.push_back(block->handle());
  while (retainedSessionLists_.size() > HXHOST_RETAINED_SESSION_LISTS) {
    FreeList(retainedSessionLists_.front());
    retainedSessionLists_.pop_front();
  }
  *sessions = block->handle();
  return kHostOk;
}

size_t Host::FreeList(HxHandle list) {
  size_t strays = 0;
  Block *block = FindBlock(list);
  if (block == nullptr) return strays;
  for (size_t i = 0; i < SlotCapacity(*block); ++i) {
    const HxVariantRef ref = ReadSlot(block->bytes(), i);
    if (ref == nullptr) continue;
    if (variants_.erase(ref) == 0) ++strays;
  }
  blocks_.erase(list);
  return strays;
}

void Host::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  blocks_.clear();
  variants_.clear();
  calls_.clear();
  requestedSizes_.clear();
  faults_.clear();
  invalidDisposals_ = 0;
  badArguments_ = 0;
  sessions_.clear();
  sessionsStatus_ = kHostOk;
  sessionsNullHandle_ = false;
  sessionsCountOverride_.reset();
  lastSessionsCall_.reset();
  retainedSessionLists_.clear();
}

int64_t Host::HandlesOutstanding() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::count_if(blocks_.begin(), blocks_.end(),
                       [](const auto &entry) { return entry.second->owner() == Owner::kCaller; });
}

int64_t Host::VariantsOutstanding() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::count_if(variants_.begin(), variants_.end(),
                       [](const auto &entry) { return entry.second->owner == Owner::kCaller; });
}

uint64_t Host::CallCount(const std::string &function) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = calls_.find(function);
  return it == calls_.end() ? 0 : it->second;
}

uint64_t Host::InvalidDisposeCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return invalidDisposals_;
}

uint64_t Host::BadArgumentCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return badArguments_;
}

std::vector<size_t> Host::RequestedSizes(const std::string &function) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = requestedSizes_.find(function);
  return it == requestedSizes_.end() ? std::vector<size_t>() : it->second;
}

bool Host::IsLive(HxHandle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  return FindBlock(h) != nullptr;
}

size_t Host::HandleSize(HxHandle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  Block *block = FindBlock(h);
  return block == nullptr ? 0 : block->size();
}

MgErr Host::ArmFault(const std::string &function, uint32_t nth, uint32_t count, MgErr status) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool known = std::any_of(std::begin(kArmableFunctions), std::end(kArmableFunctions),
                                 [&](const char *name) { return function == name; });
  if (!known || nth == 0 || count == 0 || status == kHostOk) return HXHOST_ERR_BAD_ARGUMENT;
  Fault fault;
  fault.nth = nth;
  fault.count = count;
  fault.status = status;
  faults_[function] = fault;
  return kHostOk;
}

void Host::DisarmFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

void Host::ClearSessions() {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.clear();
}

void Host::AddSession(SessionSpec session) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.push_back(std::move(session));
}

void Host::SetSessionsStatus(MgErr status) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessionsStatus_ = status;
}

void Host::SetSessionsNullHandle(bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessionsNullHandle_ = enabled;
}

void Host::OverrideSessionsCount(std::optional<int32_t> count) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessionsCountOverride_ = count;
}

bool Host::LastSessionsCall(hxhost_sessions_call *call) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!lastSessionsCall_) return false;
  call->app_context = lastSessionsCall_->appContext;
  const std::string &ioClass = lastSessionsCall_->ioClass;
  const size_t length = std::min(ioClass.size(), sizeof call->io_class - 1);
  std::memcpy(call->io_class, ioClass.data(), length);
  call->io_class[length] = '\0';
  call->properties = lastSessionsCall_->properties;
  call->one = lastSessionsCall_->one;
  return true;
}

HxHandle Host::NewLongString(const std::string &text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Block *block =
      Allocate(kLongStringNew, kLongStringHeaderSize + text.size(), false, Owner::kCaller);
  if (block == nullptr) return nullptr;
  WriteInt32(block->bytes(), static_cast<int32_t>(text.size()));
  std::memcpy(block->bytes() + kLongStringHeaderSize, text.data(), text.size());
  return block->handle();
}

std::optional<std::string> Host::LongStringText(HxHandle h) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  if (ReadLongString(h, &text) != kHostOk) return std::nullopt;
  return text;
}

HxVariantRef Host::NewVariant() {
  std::lock_guard<std::mutex> lock(mutex_);
  return CreateVariant(Owner::kCaller);
}

MgErr Host::DisposeVariant(HxVariantRef var) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (variants_.erase(var) == 0) return HXHOST_ERR_BAD_VARIANT;
  return kHostOk;
}

MgErr Host::SetAttribute(HxVariantRef var, const std::string &name, Attribute value) {
  std::lock_guard<std::mutex> lock(mutex_);
  Variant *variant = FindVariant(var);
  if (variant == nullptr) return HXHOST_ERR_BAD_VARIANT;
  variant->attributes[name] = std::move(value);
  return kHostOk;
}

MgErr Host::FindAttribute(HxVariantRef var, const std::string &name, Attribute *found) {
  std::lock_guard<std::mutex> lock(mutex_);
  Variant *variant = FindVariant(var);
  if (variant == nullptr) return HXHOST_ERR_BAD_VARIANT;
  const auto it = variant->attributes.find(name);
  if (it == variant->attributes.end()) return kHostAttributeAbsent;
  *found = it->second;
  return kHostOk;
}

int32_t Host::AttributeCount(HxVariantRef var) {
  std::lock_guard<std::mutex> lock(mutex_);
  Variant *variant = FindVariant(var);
  return variant == nullptr ? -1 : static_cast<int32_t>(variant->attributes.size());
}

int32_t Host::ListCount(HxHandle list) {
  std::lock_guard<std::mutex> lock(mutex_);
  Block *block = FindBlock(list);
  if (block == nullptr || block->size() < kListHeaderSize) return -1;
  return ReadInt32(block->bytes());
}

HxVariantRef Host::ListSlot(HxHandle list, int32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  Block *block = FindBlock(list);
  if (block == nullptr || index < 0 || static_cast<size_t>(index) >= SlotCapacity(*block)) {
    return nullptr;
  }
  return ReadSlot(block->bytes(), static_cast<size_t>(index));
}

MgErr Host::DisposeList(HxHandle list) {
  std::lock_guard<std::mutex> lock(mutex_);
  Block *block = FindBlock(list);
  if (block == nullptr || block->owner() != Owner::kCaller) return HXHOST_ERR_BAD_HANDLE;
  const size_t strays = FreeList(list);
  badArguments_ += strays;
  if (strays != 0) return HXHOST_ERR_BAD_VARIANT;
  return kHostOk;
}

}  // namespace hxhost

// The host stand-in as the plug-in meets it: handle accounting, fault
// injection, variant attributes, string comparison and the open-session list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hxhost_standin.h"

namespace {

// A length-prefixed string made from a C string.
class PStr {
 public:
  explicit PStr(const char *text) { EXPECT_NE(hxhost_pstr(text, bytes_, sizeof bytes_), nullptr); }
  operator ConstPStr() const { return bytes_; }

 private:
  unsigned char bytes_[256] = {};
};

unsigned char *Bytes(HxHandle h) {
  return static_cast<unsigned char *>(*h);
}

int32_t Int32At(HxHandle h, size_t offset) {
  int32_t value;
  std::memcpy(&value, Bytes(h) + offset, sizeof value);
  return value;
}

HxVariantRef SlotAt(HxHandle h, size_t index) {
  HxVariantRef ref;
  std::memcpy(&ref, Bytes(h) + kListHeaderSize + kListSlotSize * index, sizeof ref);
  return ref;
}

std::string StringAttribute(HxVariantRef var, const char *name) {
  char buffer[256];
  const int32_t length = hxhost_variant_get_string(var, name, buffer, sizeof buffer);
  return length < 0 ? std::string("<none>") : std::string(buffer);
}

std::vector<size_t> Sizes(const char *function) {
  std::vector<size_t> sizes(hxhost_requested_sizes(function, nullptr, 0));
  hxhost_requested_sizes(function, sizes.data(), sizes.size());
  return sizes;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { hxhost_reset(); }
  void TearDown() override { hxhost_reset(); }
};

using HostHandles = HostTest;
using HostFaults = HostTest;
using HostVariants = HostTest;
using HostStrings = HostTest;
using HostSessions = HostTest;
using HostLists = HostTest;

TEST_F(HostHandles, AllocationsAreCountedUntilDisposedOf) {
  HxHandle plain = DSNewHandle(10);
  HxHandle cleared = DSNewHClr(24);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(cleared, nullptr);
  EXPECT_EQ(hxhost_handles_outstanding(), 2);
  EXPECT_EQ(hxhost_handle_size(plain), 10u);
  EXPECT_EQ(hxhost_handle_size(cleared), 24u);
  EXPECT_EQ(Sizes("DSNewHandle"), std::vector<size_t>{10});
  EXPECT_EQ(Sizes("DSNewHClr"), std::vector<size_t>{24});
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(Bytes(plain)[i], HXHOST_UNINITIALISED_BYTE) << i;
  for (size_t i = 0; i < 24; ++i) EXPECT_EQ(Bytes(cleared)[i], 0) << i;

  EXPECT_EQ(DSDisposeHandle(plain), kHostOk);
  EXPECT_EQ(hxhost_handles_outstanding(), 1);
  EXPECT_EQ(hxhost_handle_is_live(plain), 0);
  EXPECT_EQ(hxhost_handle_is_live(cleared), 1);
  EXPECT_EQ(DSDisposeHandle(cleared), kHostOk);
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
  EXPECT_EQ(hxhost_call_count("DSNewHandle"), 1u);
  EXPECT_EQ(hxhost_call_count("DSNewHClr"), 1u);
  EXPECT_EQ(hxhost_call_count("DSDisposeHandle"), 2u);
  EXPECT_EQ(hxhost_invalid_dispose_count(), 0u);
}

TEST_F(HostHandles, DoubleForeignAndNullDisposalsAreCountedNotObeyed) {
  HxHandle kept = DSNewHandle(8);
  HxHandle once = DSNewHandle(4);
  ASSERT_EQ(DSDisposeHandle(once), kHostOk);
  EXPECT_EQ(DSDisposeHandle(once), HXHOST_ERR_BAD_HANDLE);
  void *foreignBlock = &kept;
  EXPECT_EQ(DSDisposeHandle(&foreignBlock), HXHOST_ERR_BAD_HANDLE);
  EXPECT_EQ(DSDisposeHandle(nullptr), HXHOST_ERR_BAD_HANDLE);

  EXPECT_EQ(hxhost_invalid_dispose_count(), 3u);
  EXPECT_EQ(hxhost_bad_argument_count(), 3u);
  EXPECT_EQ(hxhost_handles_outstanding(), 1);
  EXPECT_EQ(hxhost_handle_is_live(kept), 1);
}

TEST_F(HostHandles, OversizedRequestAnswersNullAndIsLogged) {
  const size_t huge = static_cast<size_t>(HXHOST_MAX_BLOCK_SIZE) + 1;
  EXPECT_EQ(DSNewHClr(huge), nullptr);
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
  EXPECT_EQ(Sizes("DSNewHClr"), std::vector<size_t>{huge});
}

TEST_F(HostFaults, NthCallCountedFromArmingFailsAlone) {
  HxHandle before = DSNewHClr(1);  // made before arming: not counted
  ASSERT_EQ(hxhost_arm_fault("DSNewHClr", 3, 1, kHostOutOfMemory), kHostOk);
  HxHandle first = DSNewHClr(16);
  HxHandle second = DSNewHClr(24);
  HxHandle third = DSNewHClr(32);
  HxHandle fourth = DSNewHClr(40);
  EXPECT_NE(before, nullptr);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  EXPECT_EQ(hxhost_handles_outstanding(), 4);
  EXPECT_EQ(Sizes("DSNewHClr"), (std::vector<size_t>{1, 16, 24, 32, 40}));
  // The other allocator is not affected.
  EXPECT_NE(DSNewHandle(8), nullptr);
}

TEST_F(HostFaults, AlwaysFaultFailsEveryCallFromNthUntilDisarmed) {
  ASSERT_EQ(hxhost_arm_fault("DSNewHandle", 2, HXHOST_FAULT_ALWAYS, kHostOutOfMemory), kHostOk);
  EXPECT_NE(DSNewHandle(4), nullptr);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(DSNewHandle(4), nullptr) << i;
  hxhost_disarm_faults();
  EXPECT_NE(DSNewHandle(4), nullptr);
  EXPECT_EQ(hxhost_handles_outstanding(), 2);
}

TEST_F(HostFaults, FailedCallsChangeNothing) {
  HxVariantRef slot = nullptr;
  ASSERT_EQ(hxhost_arm_fault("HxVariantPStrSetUI32Attr", 1, 1, kHostOutOfMemory), kHostOk);
  EXPECT_EQ(HxVariantPStrSetUI32Attr(&slot, PStr("id"), 3), kHostOutOfMemory);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(hxhost_variants_outstanding(), 0);

  HxHandle h = DSNewHandle(4);
  ASSERT_EQ(hxhost_arm_fault("DSDisposeHandle", 1, 1, 7), kHostOk);
  EXPECT_EQ(DSDisposeHandle(h), 7);
  EXPECT_EQ(hxhost_handle_is_live(h), 1);
  EXPECT_EQ(DSDisposeHandle(h), kHostOk);

  HxVariantRef var = hxhost_variant_new();
  ASSERT_EQ(hxhost_variant_set_string(var, "typeClass", "DMM"), kHostOk);
  ASSERT_EQ(hxhost_arm_fault("HxVariantPStrGetStringAttr", 1, 1, 7), kHostOk);
  HxHandle out = reinterpret_cast<HxHandle>(0x5a5a);
  EXPECT_EQ(HxVariantPStrGetStringAttr(&var, PStr("typeClass"), &out), 7);
  EXPECT_EQ(out, reinterpret_cast<HxHandle>(0x5a5a));
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
}

TEST_F(HostFaults, ArmingRefusesUnknownFunctionsAndEmptyFaults) {
  EXPECT_EQ(hxhost_arm_fault("DSNewPtr", 1, 1, 2), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(hxhost_arm_fault("PStrCmp", 1, 1, 2), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(hxhost_arm_fault("DSNewHClr", 0, 1, 2), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(hxhost_arm_fault("DSNewHClr", 1, 0, 2), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(hxhost_arm_fault("DSNewHClr", 1, 1, kHostOk), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(hxhost_arm_fault(nullptr, 1, 1, 2), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_NE(DSNewHClr(8), nullptr);
}

TEST_F(HostVariants, SetOnNullSlotCreatesTheVariantThereAndLaterSetsReuseIt) {
  HxVariantRef slot = nullptr;
  ASSERT_EQ(HxVariantPStrSetUI32Attr(&slot, PStr("g"), 1123), kHostOk);
  ASSERT_NE(slot, nullptr);
  const HxVariantRef created = slot;
  HxHandle name = hxhost_long_string_new("COM1");
  ASSERT_EQ(HxVariantPStrSetStringAttr(&slot, PStr("n"), name), kHostOk);
  ASSERT_EQ(HxVariantPStrSetUI32Attr(&slot, PStr("g"), 6), kHostOk);

  EXPECT_EQ(slot, created);
  EXPECT_EQ(hxhost_variants_outstanding(), 1);
  EXPECT_EQ(hxhost_variant_attribute_count(slot), 2);
  uint32_t g = 0;
  EXPECT_EQ(hxhost_variant_get_u32(slot, "g", &g), kHostOk);
  EXPECT_EQ(g, 6u);
  EXPECT_EQ(StringAttribute(slot, "n"), "COM1");
  EXPECT_EQ(DSDisposeHandle(name), kHostOk);
  EXPECT_EQ(hxhost_variant_dispose(slot), kHostOk);
  EXPECT_EQ(hxhost_variants_outstanding(), 0);
}

TEST_F(HostVariants, AbsentAttributeAnswers90AndLeavesOutputUntouched) {
  HxVariantRef properties = hxhost_variant_new();
  ASSERT_EQ(hxhost_variant_set_u32(properties, "displayFilter", 0x1000), kHostOk);
  uint32_t value = 0xDEADBEEF;
  EXPECT_EQ(HxVariantPStrGetUI32Attr(&properties, PStr("typeClass"), &value), kHostAttributeAbsent);
  EXPECT_EQ(value, 0xDEADBEEF);
  HxHandle text = reinterpret_cast<HxHandle>(0x5a5a);
  EXPECT_EQ(HxVariantPStrGetStringAttr(&properties, PStr("typeClass"), &text),
            kHostAttributeAbsent);
  EXPECT_EQ(text, reinterpret_cast<HxHandle>(0x5a5a));
  // Letter case matters in attribute names as everywhere else.
  EXPECT_EQ(HxVariantPStrGetUI32Attr(&properties, PStr("displayfilter"), &value),
            kHostAttributeAbsent);
  EXPECT_EQ(HxVariantPStrGetUI32Attr(&properties, PStr("displayFilter"), &value), kHostOk);
  EXPECT_EQ(value, 0x1000u);

  // A control without properties has a null variant: everything is absent.
  HxVariantRef none = nullptr;
  value = 17;
  EXPECT_EQ(HxVariantPStrGetUI32Attr(&none, PStr("displayFilter"), &value), kHostAttributeAbsent);
  EXPECT_EQ(value, 17u);
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
  EXPECT_EQ(hxhost_bad_argument_count(), 0u);
}

TEST_F(HostVariants, GetOfTheOtherTypeIsAMismatch) {
  HxVariantRef var = hxhost_variant_new();
  ASSERT_EQ(hxhost_variant_set_u32(var, "id", 3), kHostOk);
  ASSERT_EQ(hxhost_variant_set_string(var, "n", "scope"), kHostOk);
  HxHandle text = nullptr;
  uint32_t value = 9;
  EXPECT_EQ(HxVariantPStrGetStringAttr(&var, PStr("id"), &text), HXHOST_ERR_TYPE_MISMATCH);
  EXPECT_EQ(HxVariantPStrGetUI32Attr(&var, PStr("n"), &value), HXHOST_ERR_TYPE_MISMATCH);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(value, 9u);
}

TEST_F(HostVariants, StringAttributesAreCopiedInAndHandedOutAsNewHandles) {
  HxHandle source = hxhost_long_string_new("scope1");
  HxVariantRef slot = nullptr;
  ASSERT_EQ(HxVariantPStrSetStringAttr(&slot, PStr("n"), source), kHostOk);
  // The caller may reuse its handle at once.
  Bytes(source)[kLongStringHeaderSize] = 'X';
  ASSERT_EQ(DSDisposeHandle(source), kHostOk);
  EXPECT_EQ(StringAttribute(slot, "n"), "scope1");

  HxHandle out = nullptr;
  ASSERT_EQ(HxVariantPStrGetStringAttr(&slot, PStr("n"), &out), kHostOk);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(hxhost_handles_outstanding(), 1);
  EXPECT_EQ(hxhost_handle_size(out), kLongStringHeaderSize + 6u);
  EXPECT_EQ(Int32At(out, 0), 6);
  EXPECT_EQ(std::memcmp(Bytes(out) + kLongStringHeaderSize, "scope1", 6), 0);
  EXPECT_EQ(Sizes("HxVariantPStrGetStringAttr"), std::vector<size_t>{10});
  Bytes(out)[kLongStringHeaderSize] = 'Y';
  EXPECT_EQ(StringAttribute(slot, "n"), "scope1");
  EXPECT_EQ(DSDisposeHandle(out), kHostOk);
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
}

TEST_F(HostVariants, StringWithoutValueIsHandedOutAsNull) {
  HxVariantRef var = hxhost_variant_new();
  ASSERT_EQ(hxhost_variant_set_null_string(var, "orig"), kHostOk);
  HxHandle out = reinterpret_cast<HxHandle>(0x5a5a);
  EXPECT_EQ(HxVariantPStrGetStringAttr(&var, PStr("orig"), &out), kHostOk);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(hxhost_variant_has(var, "orig"), 1);
  EXPECT_EQ(hxhost_variant_get_string(var, "orig", nullptr, 0), -1);
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
}

TEST_F(HostVariants, BadInputIsRejectedCountedAndChangesNothing) {
  HxVariantRef slot = nullptr;
  uint32_t value = 0;
  HxHandle text = hxhost_long_string_new("abc");
  EXPECT_EQ(HxVariantPStrSetUI32Attr(nullptr, PStr("g"), 1), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(HxVariantPStrSetUI32Attr(&slot, nullptr, 1), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(HxVariantPStrGetUI32Attr(&slot, PStr("g"), nullptr), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(HxVariantPStrSetStringAttr(&slot, PStr("n"), nullptr), HXHOST_ERR_BAD_HANDLE);

  // A length that runs past the block is a malformed long string.
  const int32_t tooLong = 4;
  std::memcpy(Bytes(text), &tooLong, sizeof tooLong);
  EXPECT_EQ(HxVariantPStrSetStringAttr(&slot, PStr("n"), text), HXHOST_ERR_BAD_STRING);
  EXPECT_EQ(slot, nullptr);

  HxVariantRef stale = hxhost_variant_new();
  ASSERT_EQ(hxhost_variant_dispose(stale), kHostOk);
  EXPECT_EQ(HxVariantPStrGetUI32Attr(&stale, PStr("g"), &value), HXHOST_ERR_BAD_VARIANT);
  EXPECT_EQ(HxVariantPStrSetUI32Attr(&stale, PStr("g"), 1), HXHOST_ERR_BAD_VARIANT);

  EXPECT_EQ(hxhost_bad_argument_count(), 7u);
  EXPECT_EQ(hxhost_variants_outstanding(), 0);
  EXPECT_EQ(hxhost_call_count("HxVariantPStrSetUI32Attr"), 3u);
}

TEST_F(HostStrings, PStrCmpComparesLengthAndBytesExactly) {
  struct Case {
    const char *a;
    const char *b;
    bool equal;
  };
  const Case cases[] = {
      {"IVI", "IVI", true}, {"IVI", "ivi", false}, {"IVI", "IVIX", false}, {"IV", "IVI", false},
      {"", "", true},       {"", "IVI", false},    {"VISA", "IVI", false},
  };
  for (const Case &c : cases) {
    const int32_t result = PStrCmp(PStr(c.a), PStr(c.b));
    EXPECT_EQ(result == 0, c.equal) << '"' << c.a << "\" vs \"" << c.b << '"';
  }
  // Bytes past a NUL still count.
  const unsigned char withNulA[] = {3, 'a', 0, 'b'};
  const unsigned char withNulC[] = {3, 'a', 0, 'c'};
  EXPECT_NE(PStrCmp(withNulA, withNulC), 0);
  EXPECT_EQ(PStrCmp(withNulA, withNulA), 0);

  EXPECT_NE(PStrCmp(nullptr, PStr("IVI")), 0);
  EXPECT_NE(PStrCmp(PStr("IVI"), nullptr), 0);
  EXPECT_NE(PStrCmp(nullptr, nullptr), 0);
  EXPECT_EQ(hxhost_bad_argument_count(), 3u);
  EXPECT_EQ(hxhost_call_count("PStrCmp"), 12u);
}

TEST_F(HostStrings, HelpersRefuseTextsThatDoNotFit) {
  unsigned char small[4];
  EXPECT_EQ(hxhost_pstr("IVI", small, sizeof small), small);
  EXPECT_EQ(small[0], 3);
  EXPECT_EQ(hxhost_pstr("VISA", small, sizeof small), nullptr);
  const std::string longest(255, 'x');
  const std::string tooLong(256, 'x');
  unsigned char big[300];
  EXPECT_EQ(hxhost_pstr(longest.c_str(), big, sizeof big), big);
  EXPECT_EQ(big[0], 255);
  EXPECT_EQ(hxhost_pstr(tooLong.c_str(), big, sizeof big), nullptr);

  HxHandle h = hxhost_long_string_new("Bay1");
  char buffer[3];
  EXPECT_EQ(hxhost_long_string_get(h, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "Ba");
  EXPECT_EQ(DSDisposeHandle(h), kHostOk);
  EXPECT_EQ(hxhost_long_string_get(h, buffer, sizeof buffer), -1);
}

TEST_F(HostSessions, ListHasCountAtZeroAndOneSessionVariantPerSlot) {
  ASSERT_EQ(hxhost_sessions_add("scope", "MyScope"), kHostOk);
  ASSERT_EQ(hxhost_sessions_add(nullptr, "MyDMM"), kHostOk);
  ASSERT_EQ(hxhost_sessions_add("fgen", nullptr), kHostOk);
  HxVariantRef properties = hxhost_variant_new();
  HxHandle list = nullptr;
  ASSERT_EQ(GetIOControlOpenSessionsEx(77, PStr("IVI"), properties, 1, &list), kHostOk);
  ASSERT_NE(list, nullptr);

  EXPECT_EQ(hxhost_handle_size(list), 8u + 8u * 3);
  EXPECT_EQ(Int32At(list, 0), 3);
  EXPECT_EQ(Int32At(list, 4), 0);
  HxVariantRef slots[3] = {SlotAt(list, 0), SlotAt(list, 1), SlotAt(list, 2)};
  HxHandle text = nullptr;
  ASSERT_EQ(HxVariantPStrGetStringAttr(&slots[0], PStr("n"), &text), kHostOk);
  EXPECT_EQ(Int32At(text, 0), 5);
  EXPECT_EQ(std::memcmp(Bytes(text) + kLongStringHeaderSize, "scope", 5), 0);
  EXPECT_EQ(DSDisposeHandle(text), kHostOk);
  EXPECT_EQ(StringAttribute(slots[0], "orig"), "MyScope");
  EXPECT_EQ(HxVariantPStrGetStringAttr(&slots[1], PStr("n"), &text), kHostAttributeAbsent);
  EXPECT_EQ(StringAttribute(slots[1], "orig"), "MyDMM");
  EXPECT_EQ(StringAttribute(slots[2], "n"), "fgen");
  EXPECT_EQ(HxVariantPStrGetStringAttr(&slots[2], PStr("orig"), &text), kHostAttributeAbsent);

  // The list and its variants are the host's, not the caller's to account for.
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
  EXPECT_EQ(hxhost_variants_outstanding(), 1);  // the properties only
  hxhost_sessions_call call;
  ASSERT_EQ(hxhost_sessions_last_call(&call), 1);
  EXPECT_EQ(call.app_context, 77u);
  EXPECT_STREQ(call.io_class, "IVI");
  EXPECT_EQ(call.properties, properties);
  EXPECT_EQ(call.one, 1);
}

TEST_F(HostSessions, StatusOtherThanZeroOrNullHandleLeavesHandleUntouched) {
  ASSERT_EQ(hxhost_sessions_add("scope", "MyScope"), kHostOk);
  HxHandle list = nullptr;
  hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
  EXPECT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &list),
            HXHOST_SESSIONS_UNCHANGED);
  EXPECT_EQ(list, nullptr);
  hxhost_sessions_set_status(7);
  EXPECT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &list), 7);
  EXPECT_EQ(list, nullptr);
  hxhost_sessions_set_status(kHostOk);
  hxhost_sessions_set_null_handle(1);
  EXPECT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &list), kHostOk);
  EXPECT_EQ(list, nullptr);
  hxhost_sessions_set_null_handle(0);
  EXPECT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &list), kHostOk);
  EXPECT_NE(list, nullptr);
  EXPECT_EQ(GetIOControlOpenSessionsEx(1, nullptr, nullptr, 1, &list), HXHOST_ERR_BAD_ARGUMENT);
  EXPECT_EQ(hxhost_call_count("GetIOControlOpenSessionsEx"), 5u);
}

TEST_F(HostSessions, DisposingTheHostsListIsDetectedAndRefused) {
  HxHandle list = nullptr;
  ASSERT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &list), kHostOk);
  EXPECT_EQ(DSDisposeHandle(list), HXHOST_ERR_BAD_HANDLE);
  EXPECT_EQ(hxhost_invalid_dispose_count(), 1u);
  EXPECT_EQ(hxhost_handle_is_live(list), 1);
  EXPECT_EQ(hxhost_dispose_list(list), HXHOST_ERR_BAD_HANDLE);
  EXPECT_EQ(hxhost_handle_is_live(list), 1);
}

TEST_F(HostSessions, HostFreesListsAfterTheRetentionWindowAndOnReset) {
  ASSERT_EQ(hxhost_sessions_add("scope", "MyScope"), kHostOk);
  HxHandle first = nullptr;
  ASSERT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &first), kHostOk);
  HxHandle latest = nullptr;
  for (int i = 1; i < int{HXHOST_RETAINED_SESSION_LISTS}; ++i) {
    ASSERT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &latest), kHostOk);
  }
  EXPECT_EQ(hxhost_handle_is_live(first), 1);
  ASSERT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &latest), kHostOk);
  EXPECT_EQ(hxhost_handle_is_live(first), 0);
  EXPECT_EQ(hxhost_handle_is_live(latest), 1);
  hxhost_reset();
  EXPECT_EQ(hxhost_handle_is_live(latest), 0);
}

TEST_F(HostSessions, CountOverrideIsWrittenAndSlotsPastTheSessionsAreNull) {
  ASSERT_EQ(hxhost_sessions_add("scope", "MyScope"), kHostOk);
  HxHandle list = nullptr;
  hxhost_sessions_override_count(1, -1);
  ASSERT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &list), kHostOk);
  EXPECT_EQ(Int32At(list, 0), -1);
  EXPECT_EQ(hxhost_handle_size(list), 16u);
  hxhost_sessions_override_count(1, 3);
  ASSERT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &list), kHostOk);
  EXPECT_EQ(Int32At(list, 0), 3);
  EXPECT_EQ(hxhost_handle_size(list), 32u);
  EXPECT_NE(SlotAt(list, 0), nullptr);
  EXPECT_EQ(SlotAt(list, 1), nullptr);
  EXPECT_EQ(SlotAt(list, 2), nullptr);
}

TEST_F(HostLists, DisposeListFreesTheVariantsInEverySlotAndTheHandle) {
  HxHandle list = DSNewHClr(kListHeaderSize + 3 * kListSlotSize);
  auto *slots = reinterpret_cast<HxVariantRef *>(Bytes(list) + kListHeaderSize);
  ASSERT_EQ(HxVariantPStrSetUI32Attr(&slots[0], PStr("id"), 3), kHostOk);
  ASSERT_EQ(HxVariantPStrSetUI32Attr(&slots[2], PStr("id"), 2), kHostOk);
  EXPECT_EQ(hxhost_list_count(list), 0);
  EXPECT_EQ(hxhost_list_slot(list, 0), slots[0]);
  EXPECT_EQ(hxhost_list_slot(list, 1), nullptr);
  EXPECT_EQ(hxhost_list_slot(list, 3), nullptr);
  EXPECT_EQ(hxhost_variants_outstanding(), 2);

  EXPECT_EQ(hxhost_dispose_list(list), kHostOk);
  EXPECT_EQ(hxhost_variants_outstanding(), 0);
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
  EXPECT_EQ(hxhost_dispose_list(list), HXHOST_ERR_BAD_HANDLE);
}

TEST_F(HostLists, ResetFreesEverythingAndClearsAccountsAndFaults) {
  HxHandle h = DSNewHandle(4);
  HxVariantRef var = hxhost_variant_new();
  ASSERT_EQ(hxhost_arm_fault("DSNewHandle", 1, HXHOST_FAULT_ALWAYS, 2), kHostOk);
  ASSERT_EQ(DSDisposeHandle(nullptr), HXHOST_ERR_BAD_HANDLE);
  hxhost_sessions_set_status(7);
  hxhost_reset();
  EXPECT_EQ(hxhost_handle_is_live(h), 0);
  EXPECT_EQ(hxhost_variant_attribute_count(var), -1);
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
  EXPECT_EQ(hxhost_variants_outstanding(), 0);
  EXPECT_EQ(hxhost_call_count("DSNewHandle"), 0u);
  EXPECT_EQ(hxhost_invalid_dispose_count(), 0u);
  EXPECT_EQ(hxhost_bad_argument_count(), 0u);
  EXPECT_EQ(hxhost_requested_sizes("DSNewHandle", nullptr, 0), 0u);
  EXPECT_NE(DSNewHandle(4), nullptr);
  hxhost_sessions_call call;
  EXPECT_EQ(hxhost_sessions_last_call(&call), 0);
  HxHandle list = nullptr;
  EXPECT_EQ(GetIOControlOpenSessionsEx(1, PStr("IVI"), nullptr, 1, &list), kHostOk);
}

}  // namespace

// The result handle, the display filters and the string-attribute copy,
// called directly (no dlopen) against the host stand-in.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxhost_standin.h"
#include "plugin/request/filters.h"
#include "plugin/host/host_data.h"
#include "plugin/request/result_list.h"
#include "plugin_harness.h"

namespace hxtest {
namespace {

using hx::NameEntry;
using hx::NameList;
using hx::ResourceEntry;
using hx::ResourceList;

NameEntry Name(const std::string &name, bool open = false) {
  return NameEntry{name, open, "", ""};
}

// A plain list as the result builder takes it: a listing of its names.
template <class List>
hx::Listing Listed(const List &list) {
  hx::Listing listing;
  for (const auto &entry : list) listing.push_back(hx::ListedName{&entry.name, entry.sessionOpen});
  return listing;
}

int32_t HeaderPadding(HxHandle h) {
  int32_t pad = -1;
  std::memcpy(&pad, static_cast<const char *>(*h) + 4, sizeof pad);
  return pad;
}

class HostTest : public testing::Test {
 protected:
  void SetUp() override { hxhost_reset(); }
  void TearDown() override { EXPECT_EQ(0u, hxhost_invalid_dispose_count()); }
};

// ---- Layouts ------------------------------------------------------------

struct LayoutCase {
  const char *what;
  NameList m;
  ResourceList v;
  bool searching;
  size_t blockSize;
  Rendered entries;
};

void PrintTo(const LayoutCase &c, std::ostream *os) {
  *os << c.what;
}

class ResultLayout : public HostTest, public testing::WithParamInterface<LayoutCase> {};

TEST_P(ResultLayout, IsAllocatedOnceAtSixteenPlusEightBytesPerEntryAndFilledInOrder) {
  const LayoutCase &c = GetParam();
  HxHandle names = nullptr;
  ASSERT_EQ(0, hx::BuildNameListHandle(&names, Listed(c.m), Listed(c.v), c.searching));
  ASSERT_NE(nullptr, names);
  EXPECT_EQ(c.blockSize, hxhost_handle_size(names));
  EXPECT_EQ((std::vector<size_t>{c.blockSize}), RequestedSizes("DSNewHClr"));
  // One 260-byte temporary string per list, and one for the marker.
  EXPECT_EQ(std::vector<size_t>(c.searching ? 3 : 2, 260), RequestedSizes("DSNewHandle"));
  EXPECT_EQ(static_cast<int32_t>(c.entries.size()), hxhost_list_count(names));
  EXPECT_EQ(0, HeaderPadding(names));
  EXPECT_EQ(c.entries, RenderList(names));
  // The block's last slot stays unused.
  EXPECT_EQ(nullptr, hxhost_list_slot(names, static_cast<int32_t>(c.entries.size())));
  EXPECT_EQ(static_cast<int64_t>(c.entries.size()), hxhost_variants_outstanding());
  EXPECT_EQ(1, hxhost_handles_outstanding());
  EXPECT_EQ(0, hxhost_dispose_list(names));
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(0, hxhost_variants_outstanding());
  EXPECT_EQ(0u, hxhost_bad_argument_count());
}

INSTANTIATE_TEST_SUITE_P(
    Golden, ResultLayout,
    testing::Values(
        LayoutCase{"both lists empty", {}, {}, false, 32, {"#3", "#2"}},
        LayoutCase{"three names",
                   {Name("c"), Name("a"), Name("b")},
                   {},
                   false,
                   64,
                   {"c", "a", "b", "#-1", "#3", "#2"}},
        LayoutCase{"two names, one resource, searching",
                   {Name("m1"), Name("m2")},
                   {ResourceEntry{"v1", false}},
                   true,
                   16 + 8 * 9,
                   {"m1", "m2", "#-1", "v1", "#6", kMarker, "#-1", "#3", "#2"}},
        LayoutCase{"searching with nothing else", {}, {}, true, 48, {kMarker, "#-1", "#3", "#2"}},
        LayoutCase{"resources only, one open",
                   {},
                   {ResourceEntry{"v1", false}, ResourceEntry{"v2", true}},
                   false,
                   56,
                   {"v1", "v2 +g", "#-1", "#3", "#2"}},
        LayoutCase{"one open name, searching",
                   {Name("m", true)},
                   {},
                   true,
                   64,
                   {"m +g", "#6", kMarker, "#-1", "#3", "#2"}},
        LayoutCase{"a name and a resource",
                   {Name("m")},
                   {ResourceEntry{"v", true}},
                   false,
                   64,
                   {"m", "#-1", "v +g", "#-1", "#3", "#2"}}));

TEST_F(HostTest, LongNamesGetATemporaryStringSizedToTheLongestOfTheirList) {
  const std::string longName(1000, 'L');
  const std::string longResource(257, 'R');
  HxHandle names = nullptr;
  ASSERT_EQ(0,
            hx::BuildNameListHandle(&names, Listed(NameList{Name("short"), Name(longName, true)}),
                                    Listed(ResourceList{{longResource, false}}), false));
  EXPECT_EQ((std::vector<size_t>{1004, 261}), RequestedSizes("DSNewHandle"));
  EXPECT_EQ((Rendered{"short", longName + " +g", "#-1", longResource, "#-1", "#3", "#2"}),
            RenderList(names));
  hxhost_dispose_list(names);
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

TEST_F(HostTest, NameThatCannotBeSetStopsItsListEvenOnAnOpenEntry) {
  // The open entry's "g" is not set on an entry whose name failed, and the
  // entries after it stay empty; the result itself still succeeds.
  ASSERT_EQ(0, hxhost_arm_fault("HxVariantPStrSetStringAttr", 2, 1, 7));
  HxHandle names = nullptr;
  ASSERT_EQ(0,
            hx::BuildNameListHandle(
                &names, Listed(NameList{Name("a"), Name("b", true), Name("c", true)}), {}, false));
  EXPECT_EQ((Rendered{"a", "(empty)", "(empty)", "#-1", "#3", "#2"}), RenderList(names));
  EXPECT_EQ(3u, hxhost_call_count("HxVariantPStrSetUI32Attr"));
  hxhost_dispose_list(names);
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

// ---- Failures that only a resource list can reach -----------------------

struct ResourceFailureCase {
  const char *what;
  bool searching;
  const char *function;
  uint32_t nth;
  MgErr status;
  int32_t answer;
  Rendered slots;
};

void PrintTo(const ResourceFailureCase &c, std::ostream *os) {
  *os << c.what;
}

class ResourceListFailure : public HostTest,
                            public testing::WithParamInterface<ResourceFailureCase> {};

// Calls over one resource: DSNewHClr; DSNewHandle (empty M), DSDisposeHandle;
// DSNewHandle (V), its "n", DSDisposeHandle; "id" -1 after V; then, while
// searching, the marker's string and "n", "id" 6, 7 and -1; "id" 3 and 2.
TEST_P(ResourceListFailure, AnswersAsDocumented) {
  const ResourceFailureCase &c = GetParam();
  ASSERT_EQ(0, hxhost_arm_fault(c.function, c.nth, 1, c.status));
  HxHandle names = nullptr;
  EXPECT_EQ(c.answer,
            hx::BuildNameListHandle(&names, {}, Listed(ResourceList{{"v", false}}), c.searching));
  ASSERT_NE(nullptr, names);
  EXPECT_EQ(c.answer == 0 ? static_cast<int32_t>(c.slots.size()) : 0, hxhost_list_count(names));
  EXPECT_EQ(c.slots, RenderSlots(names, static_cast<int32_t>(c.slots.size())));
  hxhost_disarm_faults();
  hxhost_dispose_list(names);
}

INSTANTIATE_TEST_SUITE_P(
    Golden, ResourceListFailure,
    testing::Values(ResourceFailureCase{"separator after V, out of memory",
                                        false,
                                        "HxVariantPStrSetUI32Attr",
                                        1,
                                        2,
                                        6,
                                        {"v", "(empty)", "(empty)", "(empty)"}},
                    ResourceFailureCase{"separator after V, other failure",
                                        false,
                                        "HxVariantPStrSetUI32Attr",
                                        1,
                                        7,
                                        7,
                                        {"v", "(empty)", "(empty)", "(empty)"}},
                    // While searching, the separator after the marker is the status that
                    // counts; the one after V is overwritten by "id" 6 anyway.
                    ResourceFailureCase{"separator after V while searching",
                                        true,
                                        "HxVariantPStrSetUI32Attr",
                                        1,
                                        7,
                                        0,
                                        {"v", "#6", kMarker, "#-1", "#3", "#2"}},
                    ResourceFailureCase{"V's temporary string",
                                        false,
                                        "DSNewHandle",
                                        2,
                                        2,
                                        6,
                                        {"(empty)", "(empty)", "(empty)", "(empty)"}},
                    ResourceFailureCase{"disposing of V's string",
                                        false,
                                        "DSDisposeHandle",
                                        2,
                                        12,
                                        7,
                                        {"v", "(empty)", "(empty)", "(empty)"}},
                    ResourceFailureCase{"V's name",
                                        false,
                                        "HxVariantPStrSetStringAttr",
                                        1,
                                        7,
                                        0,
                                        {"(empty)", "#-1", "#3", "#2"}}));

TEST_F(HostTest, AppendResourceEntriesAnswersTheDisposalOrTwoWithoutString) {
  const ResourceList three = {{"a", false}, {"b", true}, {"c", false}};
  HxHandle wide = DSNewHClr(hx::ListBlockSize(4));

  ASSERT_EQ(0, hxhost_arm_fault("DSNewHandle", 1, 1, 2));
  EXPECT_EQ(2, hx::AppendResourceEntries(Listed(three), &wide, 0));
  EXPECT_EQ((Rendered{"(empty)", "(empty)", "(empty)", "(empty)"}), RenderSlots(wide, 4));

  // A failing name stops the list but is not the answer.
  ASSERT_EQ(0, hxhost_arm_fault("HxVariantPStrSetStringAttr", 2, 1, 7));
  EXPECT_EQ(0, hx::AppendResourceEntries(Listed(three), &wide, 1));
  EXPECT_EQ((Rendered{"(empty)", "a", "(empty)", "(empty)"}), RenderSlots(wide, 4));

  ASSERT_EQ(0, hxhost_arm_fault("DSDisposeHandle", 1, 1, 33));
  EXPECT_EQ(33, hx::AppendResourceEntries(Listed(ResourceList{{"x", true}}), &wide, 3));
  EXPECT_EQ((Rendered{"(empty)", "a", "(empty)", "x +g"}), RenderSlots(wide, 4));
  hxhost_disarm_faults();
  hxhost_dispose_list(wide);
  // The string whose disposal failed is still the host's to count.
  EXPECT_EQ(1, hxhost_handles_outstanding());
}

// ---- Filters ------------------------------------------------------------

// Sets up a control's properties as a host would.
class Control {
 public:
  Control(std::optional<uint32_t> displayFilter, std::optional<std::string> typeClass)
      : variant_(hxhost_variant_new()) {
    if (displayFilter) hxhost_variant_set_u32(variant_, "displayFilter", *displayFilter);
    if (typeClass) hxhost_variant_set_string(variant_, "typeClass", typeClass->c_str());
  }
  ~Control() { hxhost_variant_dispose(variant_); }
  HxVariantRef get() const { return variant_; }

 private:
  HxVariantRef variant_;
};

// In display order, so that a snapshot of it keeps its order.
const NameList kSource = {
    {"IviDmm1", false, "IviDmm", "orionDmm"},
    {"Meter", false, "acmeDmm", "acmeDmm"},
    {"Plain", false, "", ""},
    {"Scope", false, "IviScope", "acmeScope"},
};

template <class View>
std::vector<std::string> NamesOf(const View &view) {
  std::vector<std::string> names;
  for (const auto *e : view) names.push_back(e->name);
  return names;
}

// The names a selection shows, in the snapshot's order.
std::vector<std::string> ShownOf(const hx::NameSelection &selection) {
  std::vector<std::string> names;
  if (selection.list == nullptr) return names;
  for (size_t i = 0; i < selection.marks.size(); ++i) {
    if (selection.marks[i] != hx::kHidden) names.push_back(selection.list->entries()[i].name);
  }
  return names;
}

struct FilterCase {
  std::optional<uint32_t> displayFilter;
  std::optional<std::string> typeClass;
  std::vector<std::string> kept;
};

void PrintTo(const FilterCase &c, std::ostream *os) {
  *os << "displayFilter=" << (c.displayFilter ? std::to_string(*c.displayFilter) : "absent")
      << " typeClass=" << c.typeClass.value_or("(absent)");
}

class NameFilter : public HostTest, public testing::WithParamInterface<FilterCase> {};

TEST_P(NameFilter, KeepsWhatTheControlShows) {
  const FilterCase &c = GetParam();
  Control control(c.displayFilter, c.typeClass);
  hx::NameView out;
  EXPECT_EQ(0, hx::FilterNameEntries(kSource, out, control.get()));
  EXPECT_EQ(c.kept, NamesOf(out));
  // Kept entries are the source's own, not copies.
  for (const NameEntry *e : out) {
    EXPECT_TRUE(e >= kSource.data() && e < kSource.data() + kSource.size()) << e->name;
  }
  // A snapshot of the same entries shows the same ones (kSource is sorted).
  hx::NameSelection selection;
  EXPECT_EQ(0, hx::SelectNameEntries(std::make_shared<const hx::NameSnapshot>(kSource), selection,
                                     control.get()));
  EXPECT_EQ(c.kept, ShownOf(selection));
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

const std::vector<std::string> kAll = {"IviDmm1", "Meter", "Plain", "Scope"};

INSTANTIATE_TEST_SUITE_P(Golden, NameFilter,
                         testing::Values(FilterCase{std::nullopt, std::nullopt, {}},
                                         FilterCase{std::nullopt, std::string("IviDmm"), {}},
                                         FilterCase{0u, std::nullopt, {}},
                                         FilterCase{0x2000u, std::nullopt, {}},
                                         FilterCase{~0x1000u, std::nullopt, {}},
                                         FilterCase{0x1000u, std::nullopt, kAll},
                                         FilterCase{0x3000u, std::nullopt, kAll},
                                         FilterCase{0xFFFFFFFFu, std::nullopt, kAll},
                                         FilterCase{0x1000u, std::string(""), kAll},
                                         FilterCase{0x1000u, std::string("Ivi"), kAll},
                                         FilterCase{0x1000u, std::string("IVI"), kAll},
                                         FilterCase{0x1000u, std::string("iVi"), kAll},
                                         FilterCase{0x1000u, std::string("ividmm"), {"IviDmm1"}},
                                         FilterCase{0x1000u, std::string("ORIONDMM"), {"IviDmm1"}},
                                         FilterCase{0x1000u, std::string("AcmeDmm"), {"Meter"}},
                                         FilterCase{0x3000u, std::string("acmescope"), {"Scope"}},
                                         FilterCase{0x1000u, std::string("IviScope "), {}},
                                         FilterCase{0x1000u, std::string("Ivi "), {}},
                                         FilterCase{0x1000u, std::string("Nothing"), {}}));

TEST_F(HostTest, NameFilterWithoutTypeClassValueKeepsEverything) {
  Control control(0x1000u, std::nullopt);
  hxhost_variant_set_null_string(control.get(), "typeClass");
  hx::NameView out;
  EXPECT_EQ(0, hx::FilterNameEntries(kSource, out, control.get()));
  EXPECT_EQ(kAll, NamesOf(out));
}

TEST_F(HostTest, UnreadableDisplayFilterLeavesTheDestinationAndAnswersTheStatus) {
  const NameEntry keptName{"kept", false, "", ""};
  const ResourceEntry keptResource{"kept", false};
  const hx::NameView before = {&keptName};
  Control control(0x3000u, std::nullopt);
  for (MgErr status : {7, 2, -1}) {
    hx::NameView out = before;
    hx::ResourceView resources = {&keptResource};
    ASSERT_EQ(0, hxhost_arm_fault("HxVariantPStrGetUI32Attr", 1, 2, status));
    EXPECT_EQ(status, hx::FilterNameEntries(kSource, out, control.get()));
    EXPECT_EQ(status, hx::FilterResourceEntries({{"r", false}}, resources, control.get()));
    EXPECT_EQ((std::vector<std::string>{"kept"}), NamesOf(out));
    EXPECT_EQ((std::vector<std::string>{"kept"}), NamesOf(resources));
  }
  // A "displayFilter" that is not a number cannot be read either.
  hxhost_disarm_faults();
  Control wrongType(std::nullopt, std::nullopt);
  hxhost_variant_set_string(wrongType.get(), "displayFilter", "4096");
  hx::NameView out = before;
  EXPECT_EQ(HXHOST_ERR_TYPE_MISMATCH, hx::FilterNameEntries(kSource, out, wrongType.get()));
  EXPECT_EQ((std::vector<std::string>{"kept"}), NamesOf(out));
}

TEST_F(HostTest, UnreadableTypeClassAppliesNoClassFilterAndAnswersTheStatus) {
  Control control(0x1000u, std::string("acmeDmm"));
  ASSERT_EQ(0, hxhost_arm_fault("HxVariantPStrGetStringAttr", 1, 1, 7));
  hx::NameView out;
  EXPECT_EQ(7, hx::FilterNameEntries(kSource, out, control.get()));
  EXPECT_EQ(kAll, NamesOf(out));

  Control wrongType(0x1000u, std::nullopt);
  hxhost_variant_set_u32(wrongType.get(), "typeClass", 1);
  out.clear();
  EXPECT_EQ(HXHOST_ERR_TYPE_MISMATCH, hx::FilterNameEntries(kSource, out, wrongType.get()));
  EXPECT_EQ(kAll, NamesOf(out));
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

TEST_F(HostTest, ResourceFilterFollowsBitThirteenAlone) {
  const ResourceList source = {{"GPIB0::1::INSTR", false}, {"ASRL1::INSTR", true}};
  struct Case {
    std::optional<uint32_t> bits;
    const char *typeClass;
    size_t kept;
  };
  for (const Case &c :
       {Case{std::nullopt, nullptr, 0}, Case{0u, nullptr, 0}, Case{0x1000u, nullptr, 0},
        Case{~0x2000u, nullptr, 0}, Case{0x2000u, nullptr, 2}, Case{0x3000u, "acmeDmm", 2},
        Case{0x2000u, "Nothing", 2}}) {
    Control control(c.bits, c.typeClass ? std::optional<std::string>(c.typeClass) : std::nullopt);
    const ResourceEntry stale{"stale", false};
    hx::ResourceView out = {&stale};
    EXPECT_EQ(0, hx::FilterResourceEntries(source, out, control.get()));
    ASSERT_EQ(c.kept, out.size());
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(&source[i], out[i]);
  }
}

// ---- CopyStringAttribute ------------------------------------------------

TEST_F(HostTest, CopyStringAttributeCopiesWholeTextsAndDisposesOfTheHostString) {
  HxVariantRef var = hxhost_variant_new();
  const std::string longText(1000, 'x');
  hxhost_variant_set_string(var, "n", "abc");
  hxhost_variant_set_string(var, "empty", "");
  hxhost_variant_set_string(var, "long", longText.c_str());
  hxhost_variant_set_null_string(var, "none");
  hxhost_variant_set_u32(var, "number", 5);
  const PStr n("n"), empty("empty"), longName("long"), none("none"), absent("absent"),
      number("number");

  hx::MallocText text;
  EXPECT_EQ(0, hx::CopyStringAttribute(var, n.get(), &text));
  ASSERT_NE(nullptr, text);
  EXPECT_STREQ("abc", text.get());
  EXPECT_EQ(0, hx::CopyStringAttribute(var, empty.get(), &text));
  ASSERT_NE(nullptr, text);
  EXPECT_STREQ("", text.get());
  EXPECT_EQ(0, hx::CopyStringAttribute(var, longName.get(), &text));
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(longText, text.get());
  EXPECT_EQ(0, hx::CopyStringAttribute(var, none.get(), &text));
  EXPECT_EQ(nullptr, text);

  // Failures leave the output as it was.
  text.reset(strdup("kept"));
  EXPECT_EQ(90, hx::CopyStringAttribute(var, absent.get(), &text));
  EXPECT_STREQ("kept", text.get());
  EXPECT_EQ(HXHOST_ERR_TYPE_MISMATCH, hx::CopyStringAttribute(var, number.get(), &text));
  EXPECT_STREQ("kept", text.get());
  ASSERT_EQ(0, hxhost_arm_fault("HxVariantPStrGetStringAttr", 1, 1, 7));
  EXPECT_EQ(7, hx::CopyStringAttribute(var, n.get(), &text));
  EXPECT_STREQ("kept", text.get());
  EXPECT_EQ(90, hx::CopyStringAttribute(nullptr, n.get(), &text));

  hxhost_variant_dispose(var);
  EXPECT_EQ(0, hxhost_handles_outstanding());
  EXPECT_EQ(0, hxhost_variants_outstanding());
}

}  // namespace
}  // namespace hxtest

// The open-session list and the fold of sessions into a request's lists,
// called directly (no dlopen) against the host stand-in. Each case runs in
// its own process: MergeOpenSessions keeps the entries of its last run.
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxhost_standin.h"
#include "list_entries.h"
#include "plugin/request/listing.h"
#include "plugin/lists/master_lists.h"
#include "plugin/request/sessions.h"

namespace {

using hx::NameEntry;
using hx::NameList;
using hx::ResourceEntry;
using hx::ResourceList;

NameEntry Open(const std::string &name, const std::string &cls = "", const std::string &pre = "") {
  return NameEntry{name, true, cls, pre};
}

// The entries a view points to, as a list of their own.
template <class List, class View>
List Entries(const View &view) {
  List list;
  for (const auto *entry : view) list.push_back(*entry);
  return list;
}

// MergeOpenSessions with plain lists: the views start out pointing to the
// lists' entries, so that lists it does not touch come back as they were.
int32_t MergeInto(const hx::NameSnapshot &modInstr, const hx::ResourceSnapshot &visa,
                  NameList &names, ResourceList &resources, HxVariantRef properties) {
  const NameList namesBefore = names;
  const ResourceList resourcesBefore = resources;
  hx::NameView nameView;
  hx::ResourceView resourceView;
  for (const NameEntry &entry : namesBefore) nameView.push_back(&entry);
  for (const ResourceEntry &entry : resourcesBefore) resourceView.push_back(&entry);
  const int32_t status =
      hx::MergeOpenSessions(0, *hx::iviMasterList(), modInstr, visa, nameView, resourceView,
                            properties);
  names = Entries<NameList>(nameView);
  resources = Entries<ResourceList>(resourceView);
  return status;
}

class Merge : public testing::Test {
 protected:
  void SetUp() override {
    hxhost_reset();
    properties_ = hxhost_variant_new();
    hxhost_variant_set_u32(properties_, "displayFilter", 0x3000);
    hx::PublishIviMasterList(
        {{"MyScope", false, "IviScope", "orionScope"}, {"Shared", false, "IviDmm", "fromIvi"}});
  }
  void TearDown() override {
    hxhost_variant_dispose(properties_);
    EXPECT_EQ(0, hxhost_handles_outstanding());
    EXPECT_EQ(0u, hxhost_invalid_dispose_count());
  }

  int32_t Run(NameList &names, ResourceList &resources) {
    return MergeInto(modInstr_, visa_, names, resources, properties_);
  }

  HxVariantRef properties_ = nullptr;
  const hx::NameSnapshot modInstr_{NameList{{"Rack1Slot2", false, "acmeDmm", "acmeDmm"},
                                            {"shared", false, "acmeX", "fromModInstr"}}};
  const hx::ResourceSnapshot visa_{ResourceList{{"GPIB0::1::INSTR", false}}};
};

TEST_F(Merge, HostAnswerOfOneOnTheFirstCallHandsOutEmptyLists) {
  hxhost_sessions_add("ignored", "MyScope");
  hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
  NameList names;
  ResourceList resources;
  EXPECT_EQ(0, Run(names, resources));
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(resources.empty());
}

TEST_F(Merge, SortsSessionsByTheListTheirOriginIsFoundIn) {
  hxhost_sessions_add("scope", "myscope");
  hxhost_sessions_add("SCOPE", "MyScope");
  hxhost_sessions_add("loose", "nowhere");
  hxhost_sessions_add("dmm", "rack1slot2");
  hxhost_sessions_add("visa1", "gpib0::1::instr");
  // Found in both the IVI and the modular-instrument list: IVI comes first.
  hxhost_sessions_add("both", "SHARED");
  hxhost_sessions_add("noOrig", nullptr);
  hxhost_sessions_add(nullptr, "MyScope");
  NameList names;
  ResourceList resources;
  ASSERT_EQ(0, Run(names, resources));
  const NameList matchedThenUnmatched = {Open("scope", "IviScope", "orionScope"),
                                         Open("SCOPE", "IviScope", "orionScope"),
                                         Open("dmm", "acmeDmm", "acmeDmm"),
                                         Open("both", "IviDmm", "fromIvi"),
                                         Open("loose"),
                                         Open("noOrig")};
  EXPECT_EQ(matchedThenUnmatched, names);
  EXPECT_EQ((ResourceList{{"visa1", true}}), resources);

  // The same entries come back while the host answers "unchanged".
  hxhost_sessions_clear();
  hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
  for (int i = 0; i < 2; ++i) {
    NameList again;
    ResourceList resourcesAgain;
    ASSERT_EQ(0, Run(again, resourcesAgain));
    EXPECT_EQ(matchedThenUnmatched, again);
    EXPECT_EQ((ResourceList{{"visa1", true}}), resourcesAgain);
  }
}

TEST_F(Merge, FiltersMatchedSessionsButNeverUnmatchedOnes) {
  hxhost_sessions_add("scope", "MyScope");
  hxhost_sessions_add("dmm", "Rack1Slot2");
  hxhost_sessions_add("visa1", "GPIB0::1::INSTR");
  hxhost_sessions_add("loose", "nowhere");
  struct Case {
    std::optional<uint32_t> bits;
    const char *typeClass;
    NameList names;
    ResourceList resources;
  };
  const std::vector<Case> cases = {
      {std::nullopt, nullptr, {Open("loose")}, {}},
      {0x2000u, nullptr, {Open("loose")}, {{"visa1", true}}},
      {0x1000u, "orionscope", {Open("scope", "IviScope", "orionScope"), Open("loose")}, {}},
      {0x3000u, "ACMEDMM", {Open("dmm", "acmeDmm", "acmeDmm"), Open("loose")}, {{"visa1", true}}},
  };
  for (const Case &c : cases) {
    HxVariantRef control = hxhost_variant_new();
    if (c.bits) hxhost_variant_set_u32(control, "displayFilter", *c.bits);
    if (c.typeClass) hxhost_variant_set_string(control, "typeClass", c.typeClass);
    NameList names;
    ResourceList resources;
    ASSERT_EQ(0, MergeInto(modInstr_, visa_, names, resources, control));
    EXPECT_EQ(c.names, names);
    EXPECT_EQ(c.resources, resources);
    hxhost_variant_dispose(control);
  }
}

TEST_F(Merge, OnlyTheLastSessionsReadsDecideTheRun) {
  hxhost_sessions_add("first", "MyScope");
  NameList names;
  ResourceList resources;
  ASSERT_EQ(0, Run(names, resources));
  const NameList firstRun = {Open("first", "IviScope", "orionScope")};
  ASSERT_EQ(firstRun, names);

  hxhost_sessions_clear();
  hxhost_sessions_add("a", "MyScope");
  hxhost_sessions_add("b", "nowhere");
  // String reads, in order: "n" and "orig" of a, then of b; the filters'
  // "typeClass" only after that.
  struct Case {
    uint32_t read;
    MgErr status;
    int32_t answer;
  };
  for (const Case &c : {Case{4, 7, 7}, Case{4, 2, 6}, Case{3, 2, 6}, Case{3, -9, 7}}) {
    NameList untouched = {Open("sentinel")};
    ResourceList untouchedResources = {{"sentinel", false}};
    ASSERT_EQ(0, hxhost_arm_fault("HxVariantPStrGetStringAttr", c.read, 1, c.status));
    EXPECT_EQ(c.answer, Run(untouched, untouchedResources));
    EXPECT_EQ((NameList{Open("sentinel")}), untouched);
    EXPECT_EQ((ResourceList{{"sentinel", false}}), untouchedResources);
    hxhost_disarm_faults();
  }
  // Still the first run's entries.
  hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
  names.clear();
  ASSERT_EQ(0, Run(names, resources));
  EXPECT_EQ(firstRun, names);

  // A failure on an earlier session only drops that session.
  hxhost_sessions_set_status(0);
  for (uint32_t read : {1u, 2u}) {
    ASSERT_EQ(0, hxhost_arm_fault("HxVariantPStrGetStringAttr", read, 1, 7));
    names.clear();
    ASSERT_EQ(0, Run(names, resources));
    EXPECT_EQ((NameList{Open("b")}), names);
    hxhost_disarm_faults();
  }
}

TEST_F(Merge, HostFailuresAreAnsweredUnchangedAndKeepTheLastRun) {
  hxhost_sessions_add("first", "nowhere");
  NameList names;
  ResourceList resources;
  ASSERT_EQ(0, Run(names, resources));
  for (MgErr status : {2, 6, 7, 90, -1, INT32_MIN}) {
    hxhost_sessions_set_status(status);
    NameList untouched = {Open("sentinel")};
    EXPECT_EQ(status, Run(untouched, resources));
    EXPECT_EQ((NameList{Open("sentinel")}), untouched);
  }
  hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
  names.clear();
  ASSERT_EQ(0, Run(names, resources));
  EXPECT_EQ((NameList{Open("first")}), names);
}

TEST_F(Merge, RunsWithoutSessionsForgetTheEarlierOnes) {
  for (int variant = 0; variant < 3; ++variant) {
    hxhost_sessions_clear();
    hxhost_sessions_set_null_handle(0);
    hxhost_sessions_override_count(0, 0);
    hxhost_sessions_set_status(0);
    hxhost_sessions_add("first", "nowhere");
    NameList names;
    ResourceList resources;
    ASSERT_EQ(0, Run(names, resources));
    ASSERT_EQ(1u, names.size());
    if (variant == 0) hxhost_sessions_set_null_handle(1);
    if (variant == 1) hxhost_sessions_override_count(1, 0);
    if (variant == 2) hxhost_sessions_override_count(1, -1);
    names.clear();
    ASSERT_EQ(0, Run(names, resources));
    EXPECT_TRUE(names.empty()) << "variant " << variant;
    hxhost_sessions_set_status(HXHOST_SESSIONS_UNCHANGED);
    ASSERT_EQ(0, Run(names, resources));
    EXPECT_TRUE(names.empty()) << "variant " << variant;
  }
}

// ---- Folding sessions into a request's list -----------------------------

TEST(ListNames, MarksEveryEqualShownEntryOrAddsTheSessionOnce) {
  const auto devices =
      std::make_shared<const hx::NameSnapshot>(NameList{{"A", false, "c", "p"},
                                                        {"b", false, "", ""},
                                                        {"a", false, "", ""},
                                                        {"hidden", false, "", ""}});
  hx::NameSelection shown{devices, std::vector<uint8_t>(4, hx::kShown)};
  // "hidden" is left out by the filters: a session of that name is added.
  shown.marks[3] = hx::kHidden;
  hx::NameSelection none;
  const NameList sessions = {Open("a", "x", "y"), Open("D", "dc", "dp"),
                             NameEntry{"d", false, "", ""}, Open("B"),
                             NameEntry{"HIDDEN", false, "", ""}};
  hx::NameView view;
  for (const NameEntry &session : sessions) view.push_back(&session);
  std::vector<std::string> listed;
  for (const hx::ListedName &name : hx::ListNames({&none, &shown}, view)) {
    listed.push_back(*name.name + (name.open ? "+" : ""));
  }
  // A and a compare equal: their order is not fixed. "d" names the session
  // added for "D", which is then open although "d" alone is not; "hidden" is
  // not shown, so "HIDDEN" is added, closed as the host handed it over.
  ASSERT_EQ(5u, listed.size());
  std::sort(listed.begin(), listed.begin() + 2);
  EXPECT_EQ((std::vector<std::string>{"A+", "a+", "b+", "D+", "HIDDEN"}), listed);
  EXPECT_EQ((std::vector<uint8_t>{hx::kShownOpen, hx::kShownOpen, hx::kShownOpen, hx::kHidden}),
            shown.marks);
}

// Names from a small alphabet in random letter case, so that many are equal
// ignoring case and some exactly equal.
std::string RandomName(std::mt19937 &random, int spread) {
  std::uniform_int_distribution<int> number(0, spread);
  std::string name = "meter" + std::to_string(number(random));
  for (char &c : name) {
    if (random() % 2 != 0) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  }
  return name;
}

// The merge's look-ups of orig names at size: 10,000 devices and 1,000
// sessions, half of them opened from a device; each must take the first
// device a linear search would find.
TEST_F(Merge, LargeListsMatchOriginsAsALinearSearchWould) {
  std::mt19937 random(7u);
  NameList devices;
  for (int i = 0; i < 10000; ++i) {
    const std::string cls = "cls" + std::to_string(i % 17);
    devices.push_back(NameEntry{RandomName(random, 8000), false, cls, cls});
  }
  NameList expected;
  NameList unmatched;
  for (int i = 0; i < 1000; ++i) {
    const std::string name = "session" + std::to_string(i);
    const std::string orig = i % 2 == 0 ? RandomName(random, 8000) : "none" + std::to_string(i);
    hxhost_sessions_add(name.c_str(), orig.c_str());
    const NameEntry *origin = nullptr;
    for (const NameEntry &d : devices) {
      if (strcasecmp(d.name.c_str(), orig.c_str()) == 0) {
        origin = &d;
        break;
      }
    }
    if (origin != nullptr) {
      expected.push_back(Open(name, origin->driverClass, origin->driverPrefix));
    } else {
      unmatched.push_back(Open(name));
    }
  }
  expected.insert(expected.end(), unmatched.begin(), unmatched.end());
  ASSERT_GT(expected.size() - unmatched.size(), 100u);

  hx::PublishIviMasterList({});
  NameList names;
  ResourceList resources;
  ASSERT_EQ(0, MergeInto(hx::NameSnapshot(devices), hx::ResourceSnapshot(), names, resources,
                         properties_));
  EXPECT_TRUE(expected == names);
}

}  // namespace

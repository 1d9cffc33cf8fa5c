// The three master-list builders, called directly (no dlopen). The
// configuration and VISA libraries are never bound on this platform, so
// their entry slots are filled here with fakes; the discovery builder runs
// against the discovery stand-in, bound for real.
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxhost_standin.h"
#include "list_entries.h"
#include "plugin/lists/master_lists.h"
#include "plugin/sources/configuration.h"
#include "plugin/sources/discovery.h"
#include "plugin/sources/visa.h"
#include "plugin_harness.h"
#include "qxmodinst_standin.h"

namespace {

using hx::configSlots;
using hx::discoverySlots;
using hx::NameEntry;
using hx::NameList;
using hx::ResourceEntry;
using hx::ResourceList;
using hx::visaSlots;

// ---- A fake configuration store -----------------------------------------

// The request rebuilds the IVI list holding the configuration lock. The
// lists are published sorted, in display order.
int32_t BuildIvi() {
  hx::GateLock lock(hx::configGate);
  return hx::BuildIviMasterList();
}

struct FakeStore {
  std::vector<std::string> names;
  std::set<uint32_t> failingIndexes;  // 1-based, as the builder asks
  int32_t openStatus = 0;
  int32_t countStatus = 0;
  std::optional<int32_t> count;  // absent: the number of names
  int opens = 0;
  const char *openPath = "not called";
  bool fillWholeClassBuffer = false;
  std::vector<std::string> requests;
};
FakeStore store;

int32_t FakeOpen(const char *path, void **handle) {
  ++store.opens;
  store.openPath = path;
  if (store.openStatus != 0) return store.openStatus;
  *handle = &store;
  return 0;
}
int32_t FakeCount(void *handle, int32_t *count) {
  if (handle != &store) return -99;
  *count = store.count.value_or(static_cast<int32_t>(store.names.size()));
  return store.countStatus;
}
int32_t FakeNth(void *handle, uint32_t index, const char **name) {
  if (handle != &store || index == 0 || index > store.names.size()) return -98;
  if (store.failingIndexes.count(index) != 0) return -7;
  *name = store.names[index - 1].c_str();
  return 0;
}
// Each step of the name -> session -> driver -> class/prefix chain leaves a
// mark, so the test sees which buffer fed which call.
int32_t FakeVI(void *, const char *name, char *buffer, uint32_t size) {
  store.requests.push_back(std::string("vi:") + name + ":" + std::to_string(size));
  return std::snprintf(buffer, size, "%s.vi", name) < 0 ? -1 : 0;
}
int32_t FakeDriver(void *, const char *session, char *buffer, uint32_t size) {
  return std::snprintf(buffer, size, "%s.drv", session) < 0 ? -1 : 0;
}
int32_t FakeClass(void *, const char *driver, char *buffer, uint32_t size) {
  if (store.fillWholeClassBuffer) {
    std::memset(buffer, 'C', size);  // no terminator at all
    return 0;
  }
  return std::snprintf(buffer, size, "cls(%s)", driver) < 0 ? -1 : 0;
}
int32_t FakePrefix(void *, const char *driver, char *buffer, uint32_t size) {
  std::snprintf(buffer, size, "pre(%s)", driver);
  return -5;  // statuses of the resolving calls do not count
}

class IviMasterList : public testing::Test {
 protected:
  void SetUp() override {
    store = FakeStore{};
    store.names = {"Alpha", "Beta", "Gamma"};
    configSlots.cfgOpenIniFile.set(FakeOpen);
    configSlots.cfgGetNumberOfLogicalNames.set(FakeCount);
    configSlots.cfgGetNthLogicalName.set(FakeNth);
    configSlots.cfgGetLogicalNameVI.set(FakeVI);
    configSlots.cfgGetVIDriver.set(FakeDriver);
    configSlots.cfgGetDriverClass.set(FakeClass);
    configSlots.cfgGetDriverPrefix.set(FakePrefix);
    hx::PublishIviMasterList(kPrevious);
  }
  void TearDown() override {
    configSlots.cfgOpenIniFile.set(nullptr);
    configSlots.cfgGetNumberOfLogicalNames.set(nullptr);
    configSlots.cfgGetNthLogicalName.set(nullptr);
    configSlots.cfgGetLogicalNameVI.set(nullptr);
    configSlots.cfgGetVIDriver.set(nullptr);
    configSlots.cfgGetDriverClass.set(nullptr);
    configSlots.cfgGetDriverPrefix.set(nullptr);
  }

  static NameEntry Resolved(const std::string &name) {
    return NameEntry{name, false, "cls(" + name + ".vi.drv)", "pre(" + name + ".vi.drv)"};
  }

  const NameList kPrevious = {{"previous", false, "c", "p"}};
};

TEST_F(IviMasterList, ResolvesEachNameThroughSessionAndDriver) {
  EXPECT_EQ(0, BuildIvi());
  EXPECT_EQ((NameList{Resolved("Alpha"), Resolved("Beta"), Resolved("Gamma")}),
            hx::iviMasterList()->entries());
  EXPECT_EQ(1, store.opens);
  EXPECT_EQ(nullptr, store.openPath);
  EXPECT_EQ(&store, hx::GetConfigHandle());
  EXPECT_EQ((std::vector<std::string>{"vi:Alpha:256", "vi:Beta:256", "vi:Gamma:256"}),
            store.requests);
  // The configuration stays open: a rebuild does not open it again.
  store.names = {"Delta"};
  EXPECT_EQ(0, BuildIvi());
  EXPECT_EQ((NameList{Resolved("Delta")}), hx::iviMasterList()->entries());
  EXPECT_EQ(1, store.opens);
}

TEST_F(IviMasterList, FailedNameDropsOnlyThatNameUnlessItIsTheLast) {
  store.failingIndexes = {2};
  EXPECT_EQ(0, BuildIvi());
  EXPECT_EQ((NameList{Resolved("Alpha"), Resolved("Gamma")}), hx::iviMasterList()->entries());

  hx::PublishIviMasterList(kPrevious);
  store.failingIndexes = {1, 3};
  EXPECT_EQ(-7, BuildIvi());
  EXPECT_EQ(kPrevious, hx::iviMasterList()->entries());
}

TEST_F(IviMasterList, FailuresBeforeTheNamesKeepThePreviousList) {
  store.openStatus = -11;
  EXPECT_EQ(-11, BuildIvi());
  EXPECT_EQ(kPrevious, hx::iviMasterList()->entries());
  EXPECT_EQ(nullptr, hx::GetConfigHandle());

  store.openStatus = 0;
  store.countStatus = -12;
  EXPECT_EQ(-12, BuildIvi());
  EXPECT_EQ(kPrevious, hx::iviMasterList()->entries());
}

TEST_F(IviMasterList, NoNamesEmptiesTheList) {
  for (int32_t count : {0, -3}) {
    hx::PublishIviMasterList(kPrevious);
    store.count = count;
    EXPECT_EQ(0, BuildIvi());
    EXPECT_TRUE(hx::iviMasterList()->entries().empty()) << count;
  }
  // Without the counting entry there is nothing to list either.
  hx::PublishIviMasterList(kPrevious);
  configSlots.cfgGetNumberOfLogicalNames.set(nullptr);
  EXPECT_EQ(0, BuildIvi());
  EXPECT_TRUE(hx::iviMasterList()->entries().empty());
}

TEST_F(IviMasterList, MissingEntriesGiveEmptyTextsOrNoNames) {
  configSlots.cfgGetVIDriver.set(nullptr);
  configSlots.cfgGetDriverPrefix.set(nullptr);
  EXPECT_EQ(0, BuildIvi());
  EXPECT_EQ((NameList{{"Alpha", false, "cls()", ""},
                      {"Beta", false, "cls()", ""},
                      {"Gamma", false, "cls()", ""}}),
            hx::iviMasterList()->entries());
  // Without the n-th-name entry no index has a name to offer.
  configSlots.cfgGetNthLogicalName.set(nullptr);
  EXPECT_EQ(0, BuildIvi());
  EXPECT_TRUE(hx::iviMasterList()->entries().empty());
}

TEST_F(IviMasterList, BufferFilledWithoutTerminatorIsReadNoFurther) {
  store.fillWholeClassBuffer = true;
  store.names = {"Alpha"};
  EXPECT_EQ(0, BuildIvi());
  ASSERT_EQ(1u, hx::iviMasterList()->entries().size());
  EXPECT_EQ(std::string(256, 'C'), hx::iviMasterList()->entries()[0].driverClass);
}

TEST(IviMasterListUnbound, StaysEmptyWithoutAConfigurationLibrary) {
  hx::PublishIviMasterList({{"stale", false, "", ""}});
  EXPECT_EQ(0, BuildIvi());
  EXPECT_TRUE(hx::iviMasterList()->entries().empty());
  EXPECT_EQ(nullptr, hx::GetConfigHandle());
}

// ---- A fake VISA library ------------------------------------------------

struct FakeVisa {
  std::vector<std::string> names;
  int32_t firstStatus = 0;
  size_t failingNext = 0;   // 0: none; else the 1-based GetNext call that fails
  size_t throwingNext = 0;  // the same, for a call that runs out of memory
  size_t nextCalls = 0;
  std::vector<uint32_t> closed;
};
FakeVisa visa;
constexpr uint32_t kFindList = 0xF1D;

int32_t FakeVisaFirst(int32_t *count, char *buffer, uint32_t *list) {
  if (visa.firstStatus != 0) return visa.firstStatus;
  *count = static_cast<int32_t>(visa.names.size());
  std::snprintf(buffer, 256, "%s", visa.names.empty() ? "" : visa.names[0].c_str());
  *list = kFindList;
  return 0;
}
int32_t FakeVisaNext(uint32_t list, char *buffer) {
  ++visa.nextCalls;
  if (list != kFindList) return -97;
  if (visa.nextCalls == visa.failingNext) return -8;
  if (visa.nextCalls == visa.throwingNext) throw std::bad_alloc();
  std::snprintf(buffer, 256, "%s", visa.names[visa.nextCalls].c_str());
  return 0;
}
int32_t FakeVisaClose(uint32_t list) {
  visa.closed.push_back(list);
  return 0;
}

class VisaMasterList : public testing::Test {
 protected:
  void SetUp() override {
    visa = FakeVisa{};
    visa.names = {"GPIB0::1::INSTR", "ASRL1::INSTR", "USB0::1::INSTR"};
    visaSlots.visaGetNumberOfVisaNames.set(FakeVisaFirst);
    visaSlots.visaGetNextVisaName.set(FakeVisaNext);
    visaSlots.visaCloseVisaNameList.set(FakeVisaClose);
    hx::PublishVisaMasterList(kPrevious);
  }
  void TearDown() override {
    visaSlots.visaGetNumberOfVisaNames.set(nullptr);
    visaSlots.visaGetNextVisaName.set(nullptr);
    visaSlots.visaCloseVisaNameList.set(nullptr);
  }
  const ResourceList kPrevious = {{"previous", false}};
};

TEST_F(VisaMasterList, ListsEveryNameAndClosesTheFindList) {
  EXPECT_EQ(0, hx::BuildVisaMasterList());
  EXPECT_EQ((ResourceList{
                {"ASRL1::INSTR", false}, {"GPIB0::1::INSTR", false}, {"USB0::1::INSTR", false}}),
            hx::visaMasterList()->entries());
  EXPECT_EQ((std::vector<uint32_t>{kFindList}), visa.closed);
}

TEST_F(VisaMasterList, FailingNextNameClosesTheFindListAndKeepsThePreviousList) {
  visa.failingNext = 2;
  EXPECT_EQ(-8, hx::BuildVisaMasterList());
  EXPECT_EQ(kPrevious, hx::visaMasterList()->entries());
  EXPECT_EQ((std::vector<uint32_t>{kFindList}), visa.closed);
}

// Memory running out half-way is a failure like any other: the find list is
// closed on the way out, and the previous list stays.
TEST_F(VisaMasterList, RunningOutOfMemoryClosesTheFindListAndKeepsThePreviousList) {
  visa.throwingNext = 2;
  EXPECT_THROW(hx::BuildVisaMasterList(), std::bad_alloc);
  EXPECT_EQ(kPrevious, hx::visaMasterList()->entries());
  EXPECT_EQ((std::vector<uint32_t>{kFindList}), visa.closed);
}

TEST_F(VisaMasterList, FailingFirstCallKeepsThePreviousListAndClosesNothing) {
  visa.firstStatus = -9;
  EXPECT_EQ(-9, hx::BuildVisaMasterList());
  EXPECT_EQ(kPrevious, hx::visaMasterList()->entries());
  EXPECT_TRUE(visa.closed.empty());
}

TEST_F(VisaMasterList, MissingEntriesGiveEmptyNamesOrAnEmptyList) {
  visaSlots.visaGetNextVisaName.set(nullptr);
  visaSlots.visaCloseVisaNameList.set(nullptr);
  EXPECT_EQ(0, hx::BuildVisaMasterList());
  EXPECT_EQ((ResourceList{{"", false}, {"", false}, {"GPIB0::1::INSTR", false}}),
            hx::visaMasterList()->entries());
  visaSlots.visaGetNumberOfVisaNames.set(nullptr);
  EXPECT_EQ(0, hx::BuildVisaMasterList());
  EXPECT_TRUE(hx::visaMasterList()->entries().empty());
}

// ---- The discovery stand-in ---------------------------------------------

class ModInstrMasterList : public testing::Test {
 protected:
  void SetUp() override {
    qxmodinst_standin_reset();
    qxmodinst_standin_set_devices_file(devices_.path().c_str());
    hx::GateLock lock(hx::sessionGate);
    ASSERT_EQ(0, hx::BindModInstLibrary());
    firstSession_ = hx::GetModInstSession();
    ASSERT_NE(0, firstSession_);
    hx::PublishModInstrMasterList(kPrevious);
  }

  int32_t Build() {
    hx::GateLock lock(hx::sessionGate);
    return hx::BuildModInstrMasterList();
  }

  static qxmodinst_standin_counters Counters() {
    qxmodinst_standin_counters c{};
    qxmodinst_standin_get_counters(&c);
    return c;
  }

  hxtest::DevicesFile devices_{{"Rack1Slot2 | DMM | acmeDmm", "Rack1Slot3 | Scope | acmeScope"}};
  int32_t firstSession_ = 0;
  const NameList kPrevious = {{"previous", false, "c", "p"}};
};

TEST_F(ModInstrMasterList, ReplacesTheSessionAndTakesThePrefixAsClassAndPrefix) {
  EXPECT_EQ(0, Build());
  EXPECT_EQ((NameList{{"Rack1Slot2", false, "acmeDmm", "acmeDmm"},
                      {"Rack1Slot3", false, "acmeScope", "acmeScope"}}),
            hx::modInstrMasterList()->entries());
  const int32_t session = hx::GetModInstSession();
  EXPECT_NE(0, session);
  EXPECT_NE(firstSession_, session);
  const qxmodinst_standin_counters c = Counters();
  EXPECT_EQ(2, c.opens);
  EXPECT_EQ(1, c.closes);
  EXPECT_EQ(1, c.sessions_outstanding);
  // A size query and a read, for two attributes, per device.
  EXPECT_EQ(8, c.attribute_reads);
}

TEST_F(ModInstrMasterList, NoDevicesEmptiesTheList) {
  devices_.Write({});
  EXPECT_EQ(0, Build());
  EXPECT_TRUE(hx::modInstrMasterList()->entries().empty());
}

TEST_F(ModInstrMasterList, FailedOpenKeepsTheListAndLeavesNoSession) {
  qxmodinst_standin_fail_open(-31);
  EXPECT_EQ(-31, Build());
  EXPECT_EQ(kPrevious, hx::modInstrMasterList()->entries());
  EXPECT_EQ(0, hx::GetModInstSession());
  EXPECT_EQ(0, Counters().sessions_outstanding);
}

TEST_F(ModInstrMasterList, FailedCloseKeepsTheListAndTheSession) {
  qxmodinst_standin_fail_close(-32);
  EXPECT_EQ(-32, Build());
  EXPECT_EQ(kPrevious, hx::modInstrMasterList()->entries());
  EXPECT_EQ(firstSession_, hx::GetModInstSession());
  EXPECT_EQ(1, Counters().opens);
}

TEST_F(ModInstrMasterList, AttributesLongerThanTheUsualBufferAreReadWhole) {
  const std::string name(300, 'n');
  const std::string prefix(1000, 'p');
  devices_.Write({name + " | cls | " + prefix});
  EXPECT_EQ(0, Build());
  EXPECT_EQ((NameList{{name, false, prefix, prefix}}), hx::modInstrMasterList()->entries());
}

TEST_F(ModInstrMasterList, WithoutTheStringEntryDevicesGetEmptyTexts) {
  discoverySlots.qxModInst_GetInstalledDeviceAttributeViString.set(nullptr);
  EXPECT_EQ(0, Build());
  EXPECT_EQ((NameList{{"", false, "", ""}, {"", false, "", ""}}),
            hx::modInstrMasterList()->entries());
  // Unreadable attributes end the same way.
  discoverySlots.qxModInst_GetInstalledDeviceAttributeViString.set(
      qxModInst_GetInstalledDeviceAttributeViString);
  qxmodinst_standin_fail_attribute_reads(-33);
  EXPECT_EQ(0, Build());
  EXPECT_EQ((NameList{{"", false, "", ""}, {"", false, "", ""}}),
            hx::modInstrMasterList()->entries());
}

TEST_F(ModInstrMasterList, WithoutTheOpenEntryTheListIsEmptied) {
  discoverySlots.qxModInst_OpenInstalledDevicesSession.set(nullptr);
  EXPECT_EQ(0, Build());
  EXPECT_TRUE(hx::modInstrMasterList()->entries().empty());
  EXPECT_EQ(firstSession_, hx::GetModInstSession());
}

}  // namespace

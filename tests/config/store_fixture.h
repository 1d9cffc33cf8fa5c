// Fixture for tests of the library's core against the in-memory store: a
// fresh store and a private folder per test, files written there on demand,
// and a check at the end that every handle the library obtained came back.
#ifndef VELMORA_TESTS_CONFIG_STORE_FIXTURE_H
#define VELMORA_TESTS_CONFIG_STORE_FIXTURE_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/configuration.h"
#include "tests/config/memory_store.h"
#include "velmora/velmora.h"

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memstore::Reset();
    std::string pattern = ::testing::TempDir() + "velmora-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }

  void TearDown() override {
    // Close what a test left open, so the leak checks below see only faults.
    while (velmora::RegistryCount() > 0) {
      IviIni_CloseIniFile(velmora::RegistryEntries()[0], 0);
    }
    EXPECT_EQ(memstore::LiveObjects(), 0) << "object handles left unreleased";
    EXPECT_EQ(memstore::LiveStores(), 0) << "store handles left unreleased";
    EXPECT_EQ(memstore::Misuses(), 0) << "released, unknown or wrong handles passed to the store";
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Path(const std::string &name) const { return dir_ + "/" + name; }

  std::string Write(const std::string &name, const std::string &text) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::trunc) << text;
    return path;
  }

  // Writes `text` as a configuration file and opens it; fails the test
  // unless the open succeeds.
  IviIniHandle OpenText(const std::string &text, const std::string &name = "config.txt") {
    IviIniHandle h = nullptr;
    const int32_t status = IviIni_OpenIniFile(Write(name, text).c_str(), &h);
    EXPECT_EQ(status, kIviIniSuccess);
    EXPECT_NE(h, nullptr);
    memstore::ClearTrace();
    return h;
  }

  static memstore::Store &ContentOf(IviIniHandle h) { return *memstore::StoreOf(h->state.store); }

  std::string dir_;
};

#endif  // VELMORA_TESTS_CONFIG_STORE_FIXTURE_H

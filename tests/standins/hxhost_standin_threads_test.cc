// The plug-in calls the host from the request thread and its workers at
// once; the host's accounts must come out exact and, under ThreadSanitizer,
// without a race.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "hxhost_standin.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 300;

// One plug-in-like round: fill a temporary name string, set two attributes
// on a fresh slot, read one back, dispose of everything.
void NameRound(const unsigned char *nameAttr, const unsigned char *groupAttr, int round,
               int *failures) {
  HxHandle text = DSNewHandle(260);
  if (text == nullptr) {
    ++*failures;
    return;
  }
  const int32_t length = 4;
  std::memcpy(*text, &length, sizeof length);
  std::memcpy(static_cast<char *>(*text) + kLongStringHeaderSize, "Bay1", 4);
  HxVariantRef slot = nullptr;
  if (HxVariantPStrSetStringAttr(&slot, nameAttr, text) != kHostOk) ++*failures;
  if (HxVariantPStrSetUI32Attr(&slot, groupAttr, static_cast<uint32_t>(round)) != kHostOk) {
    ++*failures;
  }
  HxHandle copy = nullptr;
  if (HxVariantPStrGetStringAttr(&slot, nameAttr, &copy) != kHostOk || copy == nullptr) {
    ++*failures;
  } else if (DSDisposeHandle(copy) != kHostOk) {
    ++*failures;
  }
  if (DSDisposeHandle(text) != kHostOk) ++*failures;
  if (hxhost_variant_dispose(slot) != kHostOk) ++*failures;
}

TEST(HostThreads, ConcurrentCallersLeaveExactAccounts) {
  hxhost_reset();
  ASSERT_EQ(hxhost_sessions_add("scope", "MyScope"), kHostOk);
  unsigned char nameAttr[8];
  unsigned char groupAttr[8];
  unsigned char ivi[8];
  hxhost_pstr("n", nameAttr, sizeof nameAttr);
  hxhost_pstr("g", groupAttr, sizeof groupAttr);
  hxhost_pstr("IVI", ivi, sizeof ivi);

  std::vector<int> failures(kThreads + 1, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round)
        NameRound(nameAttr, groupAttr, round, &failures[t]);
    });
  }
  // Meanwhile a request thread reads the host's session lists.
  threads.emplace_back([&] {
    for (int round = 0; round < kRounds; ++round) {
      HxHandle list = nullptr;
      if (GetIOControlOpenSessionsEx(1, ivi, nullptr, 1, &list) != kHostOk || list == nullptr) {
        ++failures[kThreads];
        continue;
      }
      char name[16];
      if (hxhost_variant_get_string(hxhost_list_slot(list, 0), "n", name, sizeof name) != 5) {
        ++failures[kThreads];
      }
    }
  });
  for (std::thread &thread : threads) thread.join();

  EXPECT_EQ(failures, std::vector<int>(kThreads + 1, 0));
  const uint64_t rounds = static_cast<uint64_t>(kThreads) * kRounds;
  EXPECT_EQ(hxhost_call_count("DSNewHandle"), rounds);
  EXPECT_EQ(hxhost_call_count("DSDisposeHandle"), 2 * rounds);
  EXPECT_EQ(hxhost_call_count("HxVariantPStrGetStringAttr"), rounds);
  EXPECT_EQ(hxhost_call_count("GetIOControlOpenSessionsEx"), static_cast<uint64_t>(kRounds));
  EXPECT_EQ(hxhost_requested_sizes("DSNewHandle", nullptr, 0), rounds);
  EXPECT_EQ(hxhost_handles_outstanding(), 0);
  EXPECT_EQ(hxhost_variants_outstanding(), 0);
  EXPECT_EQ(hxhost_invalid_dispose_count(), 0u);
  EXPECT_EQ(hxhost_bad_argument_count(), 0u);
}

}  // namespace

#include "support/dynload.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

// Counters the counting fixture library increments from its constructor and
// destructor; exported so that the library binds to them when loaded.
extern "C" {
__attribute__((visibility("default"))) int velmora_test_load_count = 0;
__attribute__((visibility("default"))) int velmora_test_unload_count = 0;
}

namespace {

constexpr int kNowGlobal = RTLD_NOW | RTLD_GLOBAL;  // what the discovery binding passes

// Escapes a linker message the way JSON needs, independently of the writer.
std::string JsonEscape(const std::string &raw) {
  std::string out;
  for (unsigned char c : raw) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char u[8];
          std::snprintf(u, sizeof u, "\\u%04x", c);
          out += u;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

// What dlopen says about name, escaped; the thread's error state is cleared.
std::string LoadMessage(const char *name) {
  void *handle = dlopen(name, kNowGlobal);
  EXPECT_EQ(handle, nullptr) << name << " unexpectedly exists";
  const char *message = dlerror();
  return JsonEscape(message != nullptr ? message : "");
}

std::string SymbolMessage(void *handle, const char *symbol) {
  dlerror();
  EXPECT_EQ(dlsym(handle, symbol), nullptr);
  const char *message = dlerror();
  return JsonEscape(message != nullptr ? message : "");
}

// Golden texts; T is the linker's message after escaping.
std::string LoadFailureText(const std::string &escaped_path, const std::string &t) {
  return R"({"error_constant":"qxapalerr_invalidParameter","file":"dynload","line":65,)"
         R"("component":"velmora_hx","qxdynlib_debug":{"debug":"failed to qxdynlib_load library",)"
         R"("path":")" + escaped_path + R"("},"internal_error":{"api":"dlerror","string":")" + t +
         R"("}})";
}

std::string SymbolFailureText(const std::string &escaped_symbol, const std::string &t) {
  return R"({"error_constant":"qxapalerr_invalidParameter","file":"dynload","line":140,)"
         R"("component":"velmora_hx","qxdynlib_debug":{"debug":"failed to get symbol",)"
         R"("qxdynlib_symbol":")" + escaped_symbol +
         R"("},"internal_error":{"api":"dlerror","string":")" + t + R"("}})";
}

struct Record {
  StatusRecord r = status_record_make();
  ~Record() { status_release(&r); }
  std::string text() const { return r.json != nullptr ? std::string(r.json) : "<none>"; }
  std::vector<char> bytes() const {
    return r.json != nullptr ? std::vector<char>(r.json, r.json + r.capacity) : std::vector<char>{};
  }
};

bool IsResident(const char *path) {
  void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    dlerror();
    return false;
  }
  dlclose(handle);
  return true;
}

TEST(Dynload, LoadOfExistingLibraryLeavesRecordUntouched) {
  Record record;
  void *handle = qxdynlib_load(VELMORA_FIXTURE_LIB, kNowGlobal, &record.r);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(record.r.code, 0);
  EXPECT_EQ(record.r.json, nullptr);
  EXPECT_EQ(record.r.capacity, 0u);

  auto answer = reinterpret_cast<int (*)()>(qxdynlib_symbol(handle, "velmora_fixture_answer", &record.r));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(record.r.code, 0);
  EXPECT_EQ(record.r.json, nullptr);
  qxdynlib_unload(handle);
}

TEST(Dynload, FailedLoadWritesTheExactFailureText) {
  const std::string t = LoadMessage("libqxmodinst.so");
  ASSERT_FALSE(t.empty());
  Record record;
  EXPECT_EQ(qxdynlib_load("libqxmodinst.so", kNowGlobal, &record.r), nullptr);
  EXPECT_EQ(record.r.code, -52005);
  EXPECT_EQ(record.text(), LoadFailureText("libqxmodinst.so", t));
  EXPECT_EQ(dlerror(), nullptr);
}

TEST(Dynload, FailedLookupWritesTheExactFailureText) {
  Record record;
  void *handle = qxdynlib_load(VELMORA_FIXTURE_LIB, kNowGlobal, &record.r);
  ASSERT_NE(handle, nullptr);
  const std::string t = SymbolMessage(handle, "qxModInst_IsConfigurationCurrent");
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(qxdynlib_symbol(handle, "qxModInst_IsConfigurationCurrent", &record.r), nullptr);
  EXPECT_EQ(record.r.code, -52005);
  EXPECT_EQ(record.text(), SymbolFailureText("qxModInst_IsConfigurationCurrent", t));
  EXPECT_EQ(dlerror(), nullptr);
  qxdynlib_unload(handle);
}

TEST(Dynload, SymbolWhoseValueIsNullFailsWithAnEmptyMessage) {
  Record record;
  void *handle = qxdynlib_load(VELMORA_FIXTURE_LIB, kNowGlobal, &record.r);
  ASSERT_NE(handle, nullptr);
  // An earlier, unrelated linker error must not be reported for this lookup.
  EXPECT_EQ(dlopen("/nonexistent/velmora/stale.so", RTLD_NOW), nullptr);
  EXPECT_EQ(qxdynlib_symbol(handle, "velmora_fixture_null_symbol", &record.r), nullptr);
  EXPECT_EQ(record.r.code, -52005);
  EXPECT_EQ(record.text(), SymbolFailureText("velmora_fixture_null_symbol", ""));
  EXPECT_EQ(dlerror(), nullptr);
  qxdynlib_unload(handle);
}

TEST(Dynload, NullSymbolNameIsRecordedWithTheEmptyName) {
  Record record;
  void *handle = qxdynlib_load(VELMORA_FIXTURE_LIB, kNowGlobal, &record.r);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(qxdynlib_symbol(handle, nullptr, &record.r), nullptr);
  EXPECT_EQ(record.r.code, -52005);
  EXPECT_EQ(record.text(), SymbolFailureText("", ""));
  EXPECT_EQ(dlerror(), nullptr);
  qxdynlib_unload(handle);
}

TEST(Dynload, RecordHoldingAnErrorSkipsDlopenAndStaysUnchanged) {
  Record record;
  const ErrorContext earlier{"f", 1, nullptr, "e"};
  ASSERT_TRUE(status_set_error(&record.r, -3, &earlier));
  const std::vector<char> before = record.bytes();
  const int loads = velmora_test_load_count;

  EXPECT_EQ(qxdynlib_load(VELMORA_COUNTING_LIB, kNowGlobal, &record.r), nullptr);
  EXPECT_EQ(velmora_test_load_count, loads);
  EXPECT_FALSE(IsResident(VELMORA_COUNTING_LIB));
  EXPECT_EQ(record.r.code, -3);
  EXPECT_EQ(record.bytes(), before);
  EXPECT_EQ(record.text(), R"({"error_constant":"e","file":"f","line":1})");

  // The same library on a clean record does run its constructor.
  Record clean;
  void *handle = qxdynlib_load(VELMORA_COUNTING_LIB, kNowGlobal, &clean.r);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(velmora_test_load_count, loads + 1);
  qxdynlib_unload(handle);
}

TEST(Dynload, LookupOnRecordHoldingTheLoadErrorAddsNothing) {
  Record record;
  EXPECT_EQ(qxdynlib_load("/nonexistent/velmora/lib.so", kNowGlobal, &record.r), nullptr);
  ASSERT_EQ(record.r.code, -52005);
  const std::vector<char> before = record.bytes();

  Record other;
  void *handle = qxdynlib_load(VELMORA_FIXTURE_LIB, kNowGlobal, &other.r);
  ASSERT_NE(handle, nullptr);
  // Even a symbol that exists is not looked up.
  EXPECT_EQ(qxdynlib_symbol(handle, "velmora_fixture_answer", &record.r), nullptr);
  EXPECT_EQ(qxdynlib_symbol(handle, "missing", &record.r), nullptr);
  EXPECT_EQ(record.r.code, -52005);
  EXPECT_EQ(record.bytes(), before);
  qxdynlib_unload(handle);
}

TEST(Dynload, FailedLoadReplacesAWarningAndItsText) {
  Record record;
  ASSERT_TRUE(status_set_code(&record.r, 5));
  {
    char *end = status_json_end(&record.r, 0);
    ASSERT_NE(json_add_string(record.r.json, end, "note", "warning"), nullptr);
  }
  const char *name = "/nonexistent/velmora/libwarn.so";
  const std::string t = LoadMessage(name);
  EXPECT_EQ(qxdynlib_load(name, kNowGlobal, &record.r), nullptr);
  EXPECT_EQ(record.r.code, -52005);
  EXPECT_EQ(record.text(), LoadFailureText(name, t));
  EXPECT_EQ(dlerror(), nullptr);
}

TEST(Dynload, SuccessfulLoadKeepsAWarningAndItsText) {
  Record record;
  ASSERT_TRUE(status_set_code(&record.r, 5));
  {
    char *end = status_json_end(&record.r, 0);
    ASSERT_NE(json_add_string(record.r.json, end, "note", "warning"), nullptr);
  }
  void *handle = qxdynlib_load(VELMORA_FIXTURE_LIB, kNowGlobal, &record.r);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(record.r.code, 5);
  EXPECT_EQ(record.text(), R"({"note":"warning"})");
  qxdynlib_unload(handle);
}

TEST(Dynload, LibraryNameIsEscapedInThePath) {
  const char *name = "/nonexistent/velmora/a\"quote\\back\tslash.so";
  const std::string t = LoadMessage(name);
  Record record;
  EXPECT_EQ(qxdynlib_load(name, kNowGlobal, &record.r), nullptr);
  EXPECT_EQ(record.text(),
            LoadFailureText(R"(/nonexistent/velmora/a\"quote\\back\tslash.so)", t));
  EXPECT_EQ(dlerror(), nullptr);
}

// A hook that allows the first 512-byte buffer and no growth.
bool CappedResize(StatusRecord *record, std::uint32_t size) {
  return size > 512 ? false : status_default_resize(record, size);
}

TEST(Dynload, DetailsThatDoNotFitAreSkippedAndTheTextStaysValid) {
  Record record;
  record.r.resize = CappedResize;
  const std::string name = "/nonexistent/velmora/" + std::string(400, 'n') + ".so";
  EXPECT_EQ(qxdynlib_load(name.c_str(), kNowGlobal, &record.r), nullptr);
  EXPECT_EQ(record.r.code, -52005);
  EXPECT_EQ(record.r.capacity, 512u);
  EXPECT_EQ(record.text(),
            R"({"error_constant":"qxapalerr_invalidParameter","file":"dynload","line":65,)"
            R"("component":"velmora_hx",)"
            R"("qxdynlib_debug":{"debug":"failed to qxdynlib_load library"}})");
  EXPECT_EQ(dlerror(), nullptr);
}

TEST(Dynload, FailureTextOutgrowingTheFirstBufferIsComplete) {
  const std::string name = "/nonexistent/velmora/" + std::string(700, 'n') + ".so";
  const std::string t = LoadMessage(name.c_str());
  Record record;
  EXPECT_EQ(qxdynlib_load(name.c_str(), kNowGlobal, &record.r), nullptr);
  EXPECT_EQ(record.r.capacity, 2048u);
  EXPECT_EQ(record.text(), LoadFailureText(name, t));
}

TEST(Dynload, UnloadClosesTheLibrary) {
  Record record;
  const int loads = velmora_test_load_count;
  const int unloads = velmora_test_unload_count;
  void *handle = qxdynlib_load(VELMORA_COUNTING_LIB, kNowGlobal, &record.r);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(velmora_test_load_count, loads + 1);
  qxdynlib_unload(handle);
  EXPECT_EQ(velmora_test_unload_count, unloads + 1);
  EXPECT_FALSE(IsResident(VELMORA_COUNTING_LIB));
  qxdynlib_unload(nullptr);  // no handle: nothing to close, and no crash
  EXPECT_EQ(dlerror(), nullptr);
}

}  // namespace

// Cost of building the loader's failure text in a status record (set error,
// then both detail objects) against snprintf of the same final text into a
// fixed buffer, the cheapest way to produce those bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "support/status_record.h"

namespace {

const ErrorContext kContext{"dynload", 65, "velmora_hx", "qxapalerr_invalidParameter"};
constexpr std::int32_t kFailure = -52005;
constexpr char kName[] = "libqxmodinst.so";
constexpr char kMessage[] =
    "libqxmodinst.so: cannot open shared object file: No such file or directory";
constexpr std::size_t kBaselineSize = 512;
// Room for "{}": the writer grows the buffer as members need it.
constexpr std::uint32_t kDetailRequest = 2;

// The loader's failure path, without the dynamic linker.
void BuildFailureText(StatusRecord *record, const char *name, const char *message) {
  status_set_error(record, kFailure, &kContext);
  const GrowHandler grow = status_grow_handler(record);
  char *cursor = status_json_end(record, kDetailRequest);
  cursor = json_open_object(record->json, cursor, "qxdynlib_debug", grow);
  cursor = json_add_string(record->json, cursor, "debug", "failed to qxdynlib_load library", grow);
  cursor = json_add_string(record->json, cursor, "path", name, grow);
  cursor = json_close_object(cursor);
  cursor = json_open_object(record->json, cursor, "internal_error", grow);
  cursor = json_add_string(record->json, cursor, "api", "dlerror", grow);
  cursor = json_add_string(record->json, cursor, "string", message, grow);
  json_close_object(cursor);
}

int FormatBaseline(char *buffer, const ErrorContext &context, const char *name,
                   const char *message) {
  return std::snprintf(buffer, kBaselineSize,
                       "{\"error_constant\":\"%s\",\"file\":\"%s\",\"line\":%d,"
                       "\"component\":\"%s\",\"qxdynlib_debug\":{\"debug\":"
                       "\"failed to qxdynlib_load library\",\"path\":\"%s\"},"
                       "\"internal_error\":{\"api\":\"dlerror\",\"string\":\"%s\"}}",
                       context.error_constant, context.file, context.line, context.component,
                       name, message);
}

// Both sides must produce the same bytes, or the comparison means nothing.
bool SameText() {
  StatusRecord record = status_record_make();
  BuildFailureText(&record, kName, kMessage);
  char baseline[kBaselineSize];
  FormatBaseline(baseline, kContext, kName, kMessage);
  const bool same = record.json != nullptr && std::strcmp(record.json, baseline) == 0;
  status_release(&record);
  return same;
}

// A fresh record per text, as the loader's caller uses it: includes the
// 512-byte allocation and its release.
void BM_StatusRecordFailureText(benchmark::State &state) {
  if (!SameText()) state.SkipWithError("record text differs from the baseline");
  const char *name = kName;
  const char *message = kMessage;
  for (auto _ : state) {
    benchmark::DoNotOptimize(name);
    benchmark::DoNotOptimize(message);
    StatusRecord record = status_record_make();
    BuildFailureText(&record, name, message);
    benchmark::DoNotOptimize(record.json);
    benchmark::ClobberMemory();
    status_release(&record);
  }
}
BENCHMARK(BM_StatusRecordFailureText);

// The writer alone: one record whose buffer is kept between texts.
void BM_StatusRecordFailureTextKeptBuffer(benchmark::State &state) {
  const char *name = kName;
  const char *message = kMessage;
  StatusRecord record = status_record_make();
  for (auto _ : state) {
    benchmark::DoNotOptimize(name);
    benchmark::DoNotOptimize(message);
    record.code = 0;  // lets the next error be taken and reset the text
    BuildFailureText(&record, name, message);
    benchmark::DoNotOptimize(record.json);
    benchmark::ClobberMemory();
  }
  status_release(&record);
}
BENCHMARK(BM_StatusRecordFailureTextKeptBuffer);

void BM_SnprintfBaseline(benchmark::State &state) {
  const char *name = kName;
  const char *message = kMessage;
  char buffer[kBaselineSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(name);
    benchmark::DoNotOptimize(message);
    benchmark::DoNotOptimize(FormatBaseline(buffer, kContext, name, message));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SnprintfBaseline);

}  // namespace

#include "support/dynload.h"

#include <dlfcn.h>

namespace {

constexpr char kDynloadFile[] = "dynload";
constexpr char kComponent[] = "velmora_hx";
constexpr char kInvalidParameter[] = "qxapalerr_invalidParameter";
constexpr std::int32_t kLoadLine = 65;
constexpr std::int32_t kSymbolLine = 140;

// The places of the two failures; constant for the whole run.
const ErrorContext kLoadContext{kDynloadFile, kLoadLine, kComponent, kInvalidParameter};
const ErrorContext kSymbolContext{kDynloadFile, kSymbolLine, kComponent, kInvalidParameter};

// status_json_end request for the detail objects: just enough for "{}"; the
// writer grows the buffer as each member needs it.
constexpr std::uint32_t kDetailRequest = 2;

// What one operation writes into its "qxdynlib_debug" object.
struct FailureDetail {
  const ErrorContext *context;
  const char *debug;        // value of "debug"
  const char *subject_key;  // member that names the library or symbol
};

const FailureDetail kLoadFailure{&kLoadContext, "failed to qxdynlib_load library", "path"};
const FailureDetail kSymbolFailure{&kSymbolContext, "failed to get symbol", "qxdynlib_symbol"};

const char *text_or_empty(const char *text) { return text != nullptr ? text : ""; }

// Records a failure whose dynamic-linker message is linker_message (may be
// null). Each member goes in whole or not at all, so when memory runs out
// the text stays one valid object holding the members written so far. The
// text may move with each insertion, so its start is read afresh each time.
void record_failure(StatusRecord *record, const FailureDetail &detail, const char *subject,
                    const char *linker_message) {
  if (!status_set_error(record, kQxDynlibFailure, detail.context)) return;
  const GrowHandler grow = status_grow_handler(record);
  char *cursor = status_json_end(record, kDetailRequest);
  cursor = json_open_object(record->json, cursor, "qxdynlib_debug", grow);
  cursor = json_add_string(record->json, cursor, "debug", detail.debug, grow);
  cursor = json_add_string(record->json, cursor, detail.subject_key, text_or_empty(subject), grow);
  cursor = json_close_object(cursor);
  cursor = json_open_object(record->json, cursor, "internal_error", grow);
  cursor = json_add_string(record->json, cursor, "api", "dlerror", grow);
  cursor = json_add_string(record->json, cursor, "string", text_or_empty(linker_message), grow);
  json_close_object(cursor);
}

}  // namespace

void *qxdynlib_load(const char *name, std::int32_t mode, StatusRecord *record) noexcept {
  if (record == nullptr || record->code < 0) return nullptr;
  void *handle = dlopen(name, mode);
  if (handle != nullptr) return handle;
  // dlerror's text stays valid until the next dl call on this thread, and
  // recording the failure makes none.
  record_failure(record, kLoadFailure, name, dlerror());
  dlerror();  // leave this thread's linker error state clear
  return nullptr;
}

void *qxdynlib_symbol(void *handle, const char *symbol, StatusRecord *record) noexcept {
  if (record == nullptr || record->code < 0) return nullptr;
  void *address = nullptr;
  const char *message = nullptr;
  if (symbol != nullptr) {
    // A symbol whose value is null sets no error, so an older message must
    // not be taken for this lookup's.
    dlerror();
    address = dlsym(handle, symbol);
    if (address != nullptr) return address;
    message = dlerror();
  }
  record_failure(record, kSymbolFailure, symbol, message);
  dlerror();
  return nullptr;
}

void qxdynlib_unload(void *handle) noexcept {
  if (handle != nullptr) dlclose(handle);
}

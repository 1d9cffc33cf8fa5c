// One edit of a store file as velmora-store makes it: apply, save, and when
// another program got there first, reload and apply it again.
#ifndef VELMORA_TOOLS_STORE_EDIT_H
#define VELMORA_TOOLS_STORE_EDIT_H

#include <stdint.h>

#include <string>

#include "tools/exit_status.h"
#include "velmora/velmora_store.h"

namespace velmora_tool {

// What a command made of a store: a status, and for a failure the sentence
// that says why (empty: the status's meaning from the table), or nothing at
// all when `quiet`.
struct Outcome {
  int32_t status;
  std::string why;
  bool quiet = false;
};

inline Outcome Done() {
  return {kIviIniSuccess, std::string()};
}

// How EditAndSave ended.
struct EditResult {
  Outcome outcome;
  // True when the outcome is a save's or a reload's: `problem` says why.
  bool fromFile = false;
  velmora_store_problem problem{};
  int attempts = 0;  // times the edit was applied
};

// Applies edit(store), which answers an Outcome, and saves. When the save
// finds that another program changed the file since it was read, or held the
// save lock too long (exit status 4), the store is reloaded and the edit
// applied and saved again, up to `retries` more times: the edit then meets
// the other program's content, and may be refused by it. Stops at the first
// refused edit, failed reload or other failed save.
template <typename Edit>
EditResult EditAndSave(velmora_store *store, int retries, Edit edit) {
  EditResult result;
  for (;;) {
    ++result.attempts;
    result.fromFile = false;
    result.outcome = edit(store);
    if (result.outcome.status != kIviIniSuccess) return result;
    int32_t status = velmora_store_save(store, &result.problem);
    result.fromFile = status != kIviIniSuccess;
    result.outcome = {status, std::string()};
    if (status == kIviIniSuccess || ExitCodeOf(status) != kExitConflict ||
        result.attempts > retries) {
      return result;
    }
    status = velmora_store_reload(store, &result.problem);
    if (status != kIviIniSuccess) {
      result.outcome = {status, std::string()};
      return result;
    }
  }
}

}  // namespace velmora_tool

#endif  // VELMORA_TOOLS_STORE_EDIT_H

// velmora-store's exit statuses: what a script can act on. Every status of
// IVIINI_STATUS_TABLE has one of them, in the one table of exit_status.cpp.
#ifndef VELMORA_TOOLS_EXIT_STATUS_H
#define VELMORA_TOOLS_EXIT_STATUS_H

#include <stdint.h>

namespace velmora_tool {

enum ExitCode : int {
  kExitDone = 0,
  kExitNotFound = 1,    // a missing item or key
  kExitUsage = 2,       // the command line is wrong
  kExitUnreadable = 3,  // the store cannot be read: missing, refused, no memory
  kExitConflict = 4,    // another writer changed the store, or held its lock: retry
  kExitRefused = 5,     // the edit is refused: exists, referenced, invalid value
  kExitSaveFailed = 6,  // the save failed: the file is as it was
  kExitUnmapped = -1,   // a status the table lacks (its test makes sure there is none)
};

// The exit status of a library status.
int ExitCodeOf(int32_t status);

// What an exit status means, in a few words ("not found").
const char *ExitMeaning(int exitCode);

// Hands each status that has exit status `exitCode` to each(status), in
// table order.
template <typename Each>
void ForEachStatusOf(int exitCode, Each each);

struct ExitRow {
  int32_t status;
  int exitCode;
};
extern const ExitRow kExitRows[];
extern const int kExitRowCount;

template <typename Each>
void ForEachStatusOf(int exitCode, Each each) {
  for (int i = 0; i < kExitRowCount; ++i) {
    if (kExitRows[i].exitCode == exitCode) each(kExitRows[i].status);
  }
}

}  // namespace velmora_tool

#endif  // VELMORA_TOOLS_EXIT_STATUS_H

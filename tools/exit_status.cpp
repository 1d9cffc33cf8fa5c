#include "tools/exit_status.h"

#include "velmora/velmora.h"

namespace velmora_tool {

// A status a script can do nothing about but give up on is "unreadable" when
// it can only come from reading the store, so that 3 always means: look at
// the file (or the machine) before running again.
const ExitRow kExitRows[] = {
    {kIviIniSuccess, kExitDone},
    // The library's own failures: the tool meets them only while opening.
    {kIviIniBackEndFailure, kExitUnreadable},
    {kIviIniOutOfMemory, kExitUnreadable},
    {kIviIniInvalidHandle, kExitUnreadable},
    {kIviIniNullPointer, kExitUnreadable},
    {kIviIniPathTooLong, kExitUnreadable},
    {kIviIniClassIndexOutOfRange, kExitNotFound},
    {kIviIniNoStore, kExitUnreadable},
    // Loading.
    {kIviIniStoreNotFound, kExitUnreadable},
    {kIviIniStoreUnreadable, kExitUnreadable},
    {kIviIniStoreFileTooLarge, kExitUnreadable},
    {kIviIniStoreLineTooLong, kExitUnreadable},
    {kIviIniStoreNulByte, kExitUnreadable},
    {kIviIniStoreBadLine, kExitUnreadable},
    {kIviIniStoreKeyOutsideSection, kExitUnreadable},
    {kIviIniStoreBadHeader, kExitUnreadable},
    {kIviIniStoreBadQuoting, kExitUnreadable},
    {kIviIniStoreDuplicateSection, kExitUnreadable},
    {kIviIniStoreDuplicateKey, kExitUnreadable},
    {kIviIniStoreBadChannels, kExitUnreadable},
    {kIviIniStoreBadSimulate, kExitUnreadable},
    {kIviIniStoreNoWorkingFolder, kExitUnreadable},
    // Reading and editing an open store.
    {kIviIniStoreNoSuchItem, kExitNotFound},
    {kIviIniStoreNoSuchKey, kExitNotFound},
    {kIviIniStoreItemExists, kExitRefused},
    {kIviIniStoreBadName, kExitRefused},
    {kIviIniStoreBadValue, kExitRefused},
    {kIviIniStoreReferenced, kExitRefused},
    {kIviIniStoreTooLargeToSave, kExitRefused},  // the edit makes a file no open would take
    // A word of the command line that names no kind or key.
    {kIviIniStoreNoSuchProperty, kExitUsage},
    {kIviIniStoreNoSuchKind, kExitUsage},
    // Saving: another writer, worth a retry.
    {kIviIniStoreChangedOnDisk, kExitConflict},
    {kIviIniStoreBusy, kExitConflict},
    // Saving: the file system refused.
    {kIviIniStoreCannotCreateTemporary, kExitSaveFailed},
    {kIviIniStoreWriteFailed, kExitSaveFailed},
    {kIviIniStoreReplaceFailed, kExitSaveFailed},
    {kIviIniStoreHardLinked, kExitSaveFailed},
    {kIviIniStoreNotWritable, kExitSaveFailed},
    {kIviIniStoreLockUnusable, kExitSaveFailed},
    {kIviIniStoreLeftForRecovery, kExitSaveFailed},
};
const int kExitRowCount = static_cast<int>(sizeof kExitRows / sizeof kExitRows[0]);

int ExitCodeOf(int32_t status) {
  for (const ExitRow &row : kExitRows) {
    if (row.status == status) return row.exitCode;
  }
  return kExitUnmapped;
}

const char *ExitMeaning(int exitCode) {
  switch (exitCode) {
    case kExitDone:
      return "done";
    case kExitNotFound:
      return "not found: a missing item or key";
    case kExitUsage:
      return "the command line is wrong";
    case kExitUnreadable:
      return "the store cannot be read";
    case kExitConflict:
      return "another program changed the store or held its lock: run again (--retry)";
    case kExitRefused:
      return "the edit is refused";
    case kExitSaveFailed:
      return "the save failed; the file is as it was";
    default:
      return "unknown";
  }
}

}  // namespace velmora_tool

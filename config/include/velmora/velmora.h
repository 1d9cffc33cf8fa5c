/* libvelmora: access to an IVI instrument-driver configuration through handles.
 *
 * Conventions
 * -----------
 * Status. Every function returns a signed 32-bit status: 0 is success, a
 * negative value is one of the failures below or a failure that the store
 * back end reported (passed on unchanged), and a positive value is a
 * non-failure result: the buffer size a string needs (see "String return"),
 * or a positive result of the store back end that the call passes on.
 *
 * Handles. IviIni_OpenIniFile hands out an IviIniHandle; it stays valid until
 * IviIni_CloseIniFile succeeds on it. Every other function first checks its
 * handle against the open configurations and answers kIviIniInvalidHandle
 * for a null, closed or made-up handle, touching nothing else (the two
 * channel functions answer 0 instead). The handle is never dereferenced
 * before it is found among the open ones.
 *
 * String return. A function that fills a caller buffer of size S (signed)
 * with a string of length L (without its NUL) does this:
 *   S < 0            writes the whole string and its NUL (the caller vouches
 *                    for the room) and answers 0;
 *   S = 0            writes nothing and answers L + 1;
 *   S >= L + 1       writes the whole string and its NUL and answers 0;
 *   0 < S < L + 1    writes the first S - 1 characters and a NUL and answers
 *                    L + 1, the size the caller must provide.
 * A null buffer is never written; the answer is as above.
 *
 * Library-owned strings. The n-th name functions hand out the address of a
 * buffer inside the configuration (512 bytes, at most 511 characters); it
 * stays valid until the next n-th name call on the same configuration, or
 * until it is closed. IviIni_GetNthChannel does the same with a second
 * buffer of its own. The caller never frees them.
 *
 * Store handles. Every collection, item and store handle a call obtains from
 * the back end is released by that call, on success and failure alike. On a
 * failure the caller's out-pointers are left as they were, and so is the
 * caller's buffer, unless a function below says otherwise or the failing step
 * is the back end's own read of the string into that buffer: a back end whose
 * read fails may have written the buffer, in part or whole, before it gave
 * up.
 *
 * Threading. The library takes no locks and starts no threads: the set of
 * open configurations and each configuration's buffers are shared
 * unprotected, so callers serialise every call into the library.
 *
 * Store back ends. The library is built with one of two back ends (CMake
 * option VELMORA_STORE):
 * - placeholder (the default): there is no configuration store; every store
 *   operation fails with kIviIniBackEndFailure, so IviIni_OpenIniFile answers
 *   that status after its argument checks, no handle can be opened, and every
 *   function taking a handle answers kIviIniInvalidHandle (the channel
 *   functions 0).
 * - file: the configuration is a plain text file (format in the README). The
 *   kIviIniStore* statuses below are this back end's own; it also answers
 *   kIviIniOutOfMemory when an allocation fails, kIviIniPathTooLong when a
 *   default location is longer than 256 characters, and kIviIniBackEndFailure
 *   for a store object of the wrong kind (which the library never passes).
 */
#ifndef VELMORA_VELMORA_H
#define VELMORA_VELMORA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define IVIINI_API __attribute__((visibility("default")))
#else
#define IVIINI_API
#endif

/* The statuses: every one the library raises, as one table of name, value
 * and meaning. The enum below is made from it, and so is every list of
 * status names (velmora-store prints them); a new status is one more row.
 * Other negative values that a store back end answers are passed through. */
/* clang-format off */
#define IVIINI_STATUS_TABLE(X)                                                                    \
  X(kIviIniSuccess,               0, "success")                                                   \
  X(kIviIniBackEndFailure,       -1, "a store operation failed")                                  \
  X(kIviIniOutOfMemory,          -2, "out of memory")                                             \
  X(kIviIniInvalidHandle,        -3, "the handle is not an open configuration")                   \
  X(kIviIniNullPointer,          -4, "a required output pointer is null")                         \
  X(kIviIniPathTooLong,          -6, "the path is longer than 256 characters")                    \
  X(kIviIniClassIndexOutOfRange, -25, "driver class index below 1 or past the last")              \
  X(kIviIniNoStore,     -1074130400, "reload of a configuration that holds no store")             \
  /* Statuses of the file back end; the placeholder raises none of them.              */          \
  /* Loading (IviIni_OpenIniFile, IviIni_ReloadConfiguration): the file is refused and  */        \
  /* nothing is opened; a reload keeps the previous content.                            */        \
  X(kIviIniStoreNotFound,          -1301, "no file at the path (or no path at all)")              \
  X(kIviIniStoreUnreadable,        -1302, "the file cannot be opened or read: permissions, "      \
                                          "not a regular file (a folder, a FIFO), an I/O error")  \
  X(kIviIniStoreFileTooLarge,      -1303, "the file is over 64 MiB")                              \
  X(kIviIniStoreLineTooLong,       -1304, "a line is over 64 KiB")                                \
  X(kIviIniStoreNulByte,           -1305, "the file holds a NUL byte")                            \
  X(kIviIniStoreBadLine,           -1306, "a line is neither blank, a comment, a [Kind Name] "    \
                                          "header nor Key = Value, or has no key")                \
  X(kIviIniStoreKeyOutsideSection, -1307, "a Key = Value line before the first header")           \
  X(kIviIniStoreBadHeader,         -1308, "a header of no kind, or of a known kind without its "  \
                                          "']', with text after it, or without a name")           \
  X(kIviIniStoreBadQuoting,        -1309, "an unterminated quote, an escape other than \\\" and " \
                                          "\\\\, or text after the closing quote")                 \
  X(kIviIniStoreDuplicateSection,  -1310, "a second section of the same known kind and name")     \
  X(kIviIniStoreDuplicateKey,      -1311, "a known key twice in one section")                     \
  X(kIviIniStoreBadChannels,       -1312, "a Channels value that does not parse")                 \
  X(kIviIniStoreBadSimulate,       -1313, "a Simulate value other than true/false, 1/0, yes/no")  \
  X(kIviIniStoreNoWorkingFolder,   -1314, "a relative path, and the working folder cannot be "    \
                                          "named (deeper than PATH_MAX, deleted) or is too long " \
                                          "to join to it")                                        \
  /* Operations on an open store; nothing is changed.                                   */        \
  X(kIviIniStoreNoSuchItem,        -1320, "no item of that name, or an index past the last")      \
  X(kIviIniStoreItemExists,        -1321, "adding a name that is already in use")                 \
  X(kIviIniStoreBadName,           -1322, "adding an empty name, one with a line feed, or one "   \
                                          "whose header would be a line over 64 KiB")             \
  X(kIviIniStoreBadValue,          -1323, "a value with a line feed, a Simulate or Channels "     \
                                          "value the file's reader would refuse, or one whose "   \
                                          "line would be over 64 KiB")                            \
  X(kIviIniStoreNoSuchProperty,    -1324, "a property this kind of item does not have")           \
  /* Operations of libvelmora-store (velmora_store.h); libvelmora raises none of them.  */        \
  X(kIviIniStoreNoSuchKey,         -1325, "the item has no line for that key")                    \
  X(kIviIniStoreReferenced,        -1326, "removing an item that other items refer to")           \
  X(kIviIniStoreNoSuchKind,        -1327, "a word or value that names no kind of item")           \
  /* Saving (IviIni_CloseIniFile with save): the file at the path and everything beside */        \
  /* it are left as they were (but for the store's lock file, which stays once made), no */       \
  /* temporary or recovery file is left behind (but after kIviIniStoreLeftForRecovery), */        \
  /* and the configuration stays open (save again, reload, or close without saving).    */        \
  X(kIviIniStoreCannotCreateTemporary, -1330, "no temporary or recovery file could be made in "  \
                                              "the file's folder (not writable, full)")           \
  X(kIviIniStoreWriteFailed,           -1331, "writing, flushing or completing the new content "  \
                                              "failed (disk full, I/O error)")                    \
  X(kIviIniStoreReplaceFailed,         -1332, "the temporary could not replace the file")         \
  X(kIviIniStoreChangedOnDisk,         -1333, "the file changed on disk since it was loaded or "  \
                                              "last saved (its bytes, or it was replaced or "     \
                                              "deleted, or a link at the path now leads "         \
                                              "elsewhere)")                                       \
  X(kIviIniStoreHardLinked,            -1334, "the file has other hard links, which replacing "   \
                                              "it would split")                                   \
  X(kIviIniStoreBusy,                  -1335, "another program held the store's lock too long")   \
  X(kIviIniStoreNotWritable,           -1336, "the file is not writable for this user (its "      \
                                              "permissions, a read-only file system)")            \
  X(kIviIniStoreTooLargeToSave,        -1337, "the file the save would write is over 64 MiB, "    \
                                              "which no open could load")                         \
  X(kIviIniStoreLockUnusable,          -1338, "the store's lock file cannot be made, opened or "  \
                                              "locked by this user, is not a regular file, or "   \
                                              "lets someone who may not write the store hold it") \
  X(kIviIniStoreLeftForRecovery,       -1339, "an in-place save failed and the old content "      \
                                              "could not be put back: the recovery file beside "  \
                                              "the store holds it, and every open uses it")
/* clang-format on */

#define IVIINI_STATUS_ENUMERATOR(name, value, meaning) name = (value),
enum { IVIINI_STATUS_TABLE(IVIINI_STATUS_ENUMERATOR) };
#undef IVIINI_STATUS_ENUMERATOR

enum {
  kIviIniMaxPathLength = 256, /* characters, without the NUL */
  kIviIniNameBufferSize = 512 /* bytes of the library-owned name buffers */
};

typedef struct IniConfiguration *IviIniHandle; /* opaque */

/* ---- Handles and change tracking ------------------------------------- */

/* Opens the configuration stored at `path` and writes its handle to *handle.
 * A null or empty path asks the store for its default location.
 * Answers the (non-negative) result of loading the store on success.
 * kIviIniNullPointer: handle is null; nothing is written.
 * kIviIniPathTooLong: path has more than 256 characters; *handle untouched.
 * kIviIniOutOfMemory, or a back-end failure: *handle is set to null and
 * nothing stays open. */
IVIINI_API int32_t IviIni_OpenIniFile(const char *path, IviIniHandle *handle);

/* Closes the configuration; with a nonzero `save` it first writes the store
 * back to the file it was loaded from (a relative path stays the file it
 * named at open, wherever the process has moved since). Answers 0, or the
 * save's non-negative result. When the save fails its status comes back and
 * the configuration stays open and unchanged: retry, reload, or close without
 * saving. The file back end never replaces a file other than the one it
 * loaded: kIviIniStoreChangedOnDisk when another program changed it since. */
IVIINI_API int32_t IviIni_CloseIniFile(IviIniHandle h, uint8_t save);

/* Writes 1 to *changed when the file at the configuration's path is no longer
 * the one the store was loaded from, else 0: another device or inode, size,
 * or modification time (to the nanosecond) than the file had when it was
 * read, as the store reports it from the descriptor it read. A file that no
 * longer exists, or that could not be examined when it was loaded, reads as
 * changed; a configuration without a path always reads as unchanged. Checks
 * the handle first, then kIviIniNullPointer for a null `changed`. */
IVIINI_API int32_t IviIni_ConfigurationChanged(IviIniHandle h, uint8_t *changed);

/* Loads the configuration's file again (the one it was opened from) and
 * replaces the store in place; the handle stays the same. On failure the configuration keeps its
 * previous store, path and time. kIviIniNoStore: the configuration held no store. */
IVIINI_API int32_t IviIni_ReloadConfiguration(IviIniHandle h);

/* ---- Collections and item properties ---------------------------------- */
/* Four kinds of item: logical names, driver sessions (VIs), drivers and
 * devices. The shapes shared by the family:
 *   count:  writes the number of items to *count (kIviIniNullPointer when
 *           count is null, after the handle check).
 *   n-th:   index counts from 1; writes to *name the address of the
 *           configuration's name buffer holding the item's name (truncated to
 *           511 characters, the answer then being the size it needs);
 *           kIviIniNullPointer when name is null, after the handle check.
 *   get:    fills buffer (size bytes) with a property of the named item under
 *           the string-return rule.
 *   get reference: as get, with the name of the item the named item refers
 *           to; when it refers to none the answer is the empty string.
 *   set:    stores value as a property of the named item; set reference
 *           makes the named item refer to the item named by the value.
 *   add/remove: creates or deletes the named item.
 * An item name the store does not know is a back-end failure. */

IVIINI_API int32_t IviIni_GetNumberOfLogicalNames(IviIniHandle h, int32_t *count);
IVIINI_API int32_t IviIni_GetNthLogicalName(IviIniHandle h, int32_t index, const char **name);
IVIINI_API int32_t IviIni_GetLogicalNameDescription(IviIniHandle h, const char *name, char *buffer,
                                                    int32_t size);
IVIINI_API int32_t IviIni_SetLogicalNameDescription(IviIniHandle h, const char *name,
                                                    const char *value);
/* The session a logical name refers to. */
IVIINI_API int32_t IviIni_GetLogicalNameVI(IviIniHandle h, const char *name, char *buffer,
                                           int32_t size);
IVIINI_API int32_t IviIni_SetLogicalNameVI(IviIniHandle h, const char *name, const char *session);
IVIINI_API int32_t IviIni_AddLogicalName(IviIniHandle h, const char *name);
IVIINI_API int32_t IviIni_RemoveLogicalName(IviIniHandle h, const char *name);

IVIINI_API int32_t IviIni_GetNumberOfVIs(IviIniHandle h, int32_t *count);
IVIINI_API int32_t IviIni_GetNthVI(IviIniHandle h, int32_t index, const char **name);
IVIINI_API int32_t IviIni_GetVIDescription(IviIniHandle h, const char *name, char *buffer,
                                           int32_t size);
IVIINI_API int32_t IviIni_SetVIDescription(IviIniHandle h, const char *name, const char *value);
IVIINI_API int32_t IviIni_GetVIDriverSetup(IviIniHandle h, const char *name, char *buffer,
                                           int32_t size);
IVIINI_API int32_t IviIni_SetVIDriverSetup(IviIniHandle h, const char *name, const char *value);
/* The driver and the device a session refers to. */
IVIINI_API int32_t IviIni_GetVIDriver(IviIniHandle h, const char *name, char *buffer, int32_t size);
IVIINI_API int32_t IviIni_SetVIDriver(IviIniHandle h, const char *name, const char *driver);
IVIINI_API int32_t IviIni_GetVIDevice(IviIniHandle h, const char *name, char *buffer, int32_t size);
IVIINI_API int32_t IviIni_SetVIDevice(IviIniHandle h, const char *name, const char *device);
IVIINI_API int32_t IviIni_AddVI(IviIniHandle h, const char *name);
IVIINI_API int32_t IviIni_RemoveVI(IviIniHandle h, const char *name);

/* Drivers can be read but not added, removed or changed. */
IVIINI_API int32_t IviIni_GetNumberOfDrivers(IviIniHandle h, int32_t *count);
IVIINI_API int32_t IviIni_GetNthDriver(IviIniHandle h, int32_t index, const char **name);
IVIINI_API int32_t IviIni_GetDriverDescription(IviIniHandle h, const char *name, char *buffer,
                                               int32_t size);
IVIINI_API int32_t IviIni_GetDriverModule(IviIniHandle h, const char *name, char *buffer,
                                          int32_t size);
IVIINI_API int32_t IviIni_GetDriverPrefix(IviIniHandle h, const char *name, char *buffer,
                                          int32_t size);

IVIINI_API int32_t IviIni_GetNumberOfDevices(IviIniHandle h, int32_t *count);
IVIINI_API int32_t IviIni_GetNthDevice(IviIniHandle h, int32_t index, const char **name);
IVIINI_API int32_t IviIni_GetDeviceDescription(IviIniHandle h, const char *name, char *buffer,
                                               int32_t size);
IVIINI_API int32_t IviIni_SetDeviceDescription(IviIniHandle h, const char *name, const char *value);
IVIINI_API int32_t IviIni_GetDeviceResourceDescriptor(IviIniHandle h, const char *name,
                                                      char *buffer, int32_t size);
IVIINI_API int32_t IviIni_SetDeviceResourceDescriptor(IviIniHandle h, const char *name,
                                                      const char *value);
IVIINI_API int32_t IviIni_AddDevice(IviIniHandle h, const char *name);
IVIINI_API int32_t IviIni_RemoveDevice(IviIniHandle h, const char *name);

/* ---- Driver classes, channels and simulation -------------------------- */

/* Writes the number of the driver's class entries that count as instrument
 * classes. Answers the result of the last store operation (a positive one is
 * not a failure). On a failure part-way through, *count holds the classes
 * counted before it. kIviIniNullPointer when count is null, after the handle
 * check. */
IVIINI_API int32_t IviIni_GetDriverClassCount(IviIniHandle h, const char *driver, int32_t *count);

/* Fills buffer with the driver's index-th class (from 1) under the
 * string-return rule. kIviIniClassIndexOutOfRange, buffer untouched, when
 * index is below 1 or past the class count. When the store changes between
 * counting and finding so that the index is no longer reached, the answer is
 * the empty string. */
IVIINI_API int32_t IviIni_GetDriverClassByIndex(IviIniHandle h, const char *driver, int32_t index,
                                                char *buffer, int32_t size);

/* IviIni_GetDriverClassByIndex with index 1. */
IVIINI_API int32_t IviIni_GetDriverClass(IviIniHandle h, const char *driver, char *buffer,
                                         int32_t size);

/* Adds the session's number of channels to *count (it is not reset first).
 * Always answers 0: with an unknown handle or a null count nothing is
 * written, and when a store operation fails *count keeps the channels of the
 * entries walked before it. */
IVIINI_API int32_t IviIni_GetNumberOfChannels(IviIniHandle h, const char *session, int32_t *count);

/* Writes to *name the address of the configuration's channel buffer holding
 * the session's index-th channel name (from 1): the channel entry's name,
 * followed by the channel's number when the entry has index ranges. Always
 * answers 0; *name is left unwritten for an unknown handle, an index below 1
 * or past the last channel, or a failing store operation. */
IVIINI_API int32_t IviIni_GetNthChannel(IviIniHandle h, const char *session, int32_t index,
                                        const char **name);

/* Switches the session's simulation flag: any nonzero flag stores 1. */
IVIINI_API int32_t IviIni_SetVISimulation(IviIniHandle h, const char *session, int32_t flag);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VELMORA_VELMORA_H */

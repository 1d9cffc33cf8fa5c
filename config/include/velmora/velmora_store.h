/* libvelmora-store: the whole of a store file, for tools and language bindings.
 *
 * libvelmora's IviIni_* functions give a program what an IVI configuration
 * holds through handles; this library gives it everything the store file
 * holds: every key of every kind of item read, written and removed, drivers
 * added and removed, the raw Channels and Classes values, the Simulate flag
 * read back, the items that refer to an item, and why a file was refused or a
 * save failed. It is built from the same store code as libvelmora's file
 * flavour, so a file one accepts the other accepts, and a save keeps the same
 * guarantees: the file is replaced whole or not at all, never over a file
 * another program changed since it was read, and edits that bring every value
 * back to what the file holds leave it byte for byte as it was.
 *
 * Conventions
 * -----------
 * Status. Every function that can fail returns a signed 32-bit status from
 * IVIINI_STATUS_TABLE in velmora/velmora.h: 0 is success, a negative value a
 * failure. A positive value is the buffer size a string needs (see "String
 * return"). velmora_store_status_name and velmora_store_status_text give a
 * status's name and meaning.
 *
 * Arguments. A null store answers kIviIniInvalidHandle; a null output pointer
 * kIviIniNullPointer; a kind outside velmora_store_kind kIviIniStoreNoSuchKind;
 * a null or unknown item name kIviIniStoreNoSuchItem; a null key, or one the
 * kind does not have, kIviIniStoreNoSuchProperty. Arguments are checked in
 * the order they are declared. A store pointer must come from
 * velmora_store_open and not be closed yet: the library cannot tell a closed
 * one from a live one.
 *
 * On failure. A function that fails changes nothing: not the store, not the
 * file, not its output pointers or the caller's buffer, unless it says
 * otherwise below.
 *
 * String return. A function that fills a caller buffer of `size` bytes with a
 * string of length L (without its NUL) does this:
 *   size < 1         writes nothing and answers L + 1;
 *   size >= L + 1    writes the whole string and its NUL and answers 0;
 *   1 <= size <= L   writes the first size - 1 bytes and a NUL and answers
 *                    L + 1, the size the caller must provide.
 * (libvelmora's rule, except that a negative size never writes: the caller
 * never vouches for room it did not give.) A null buffer is never written.
 * Strings are the bytes of the file (UTF-8 by convention); none holds a NUL.
 *
 * Items. The four kinds of item are listed in file order, items added since
 * the store was opened last, and counted by index from 0. Item names are
 * exact bytes (letter case counts); key names are the file's, letter case
 * ignored; kind words are read as the file spells them or as velmora-store
 * does, letter case ignored.
 *
 * Edits stay in memory until velmora_store_save. A value equal to the one the
 * item reads changes nothing; a value equal to the one the file holds undoes
 * the edits of that key, so that its line is written back byte for byte.
 *
 * Threading. The library takes no locks and starts no threads. Calls on one
 * store must not overlap, reading calls included (the channel and class
 * calls fill a cache inside the store); different stores may be used from
 * different threads at the same time.
 */
#ifndef VELMORA_VELMORA_STORE_H
#define VELMORA_VELMORA_STORE_H

#include <stdint.h>

#include <velmora/velmora.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define VELMORA_STORE_API __attribute__((visibility("default")))
#else
#define VELMORA_STORE_API
#endif

/* One open store file; opaque. */
typedef struct velmora_store velmora_store;

/* The four kinds of item, in the order velmora-store and `show --json` list
 * them. Each has its own keys (velmora_store_key_name):
 *   LogicalName  Description Session
 *   Session      Description DriverSetup Driver Device Simulate Channels
 *   Driver       Description Module Prefix Classes
 *   Device       Description Resource
 * Session, Driver and Device name other items: a logical name refers to a
 * session, a session to a driver and a device. */
/* In C++ every int32_t is a value of the type, so that a value from a C
 * caller outside the four is refused (kIviIniStoreNoSuchKind), never
 * undefined. */
/* clang-format off */
typedef enum velmora_store_kind
#ifdef __cplusplus
    : int32_t
#endif
{
  VELMORA_STORE_LOGICAL_NAME = 0,
  VELMORA_STORE_SESSION = 1,
  VELMORA_STORE_DRIVER = 2,
  VELMORA_STORE_DEVICE = 3
} velmora_store_kind;
/* clang-format on */

enum { VELMORA_STORE_KIND_COUNT = 4 };

/* Why an open, a reload or a save failed. `status` is the status the call
 * answered. For a refused file, `line` is the line it is about (from 1; 0 for
 * the file as a whole). For a failed file operation, `step` names it
 * ("open", "read", "lock", "compare", "create-temporary", "write", "sync",
 * "rename", ...), `path` is the file or folder it was about and
 * `error_number` its errno (0 when the step found something wrong rather
 * than failing, such as a file changed on disk); otherwise `step` is empty.
 * `message` is one sentence for a person, e.g. "in Channels: a range's low
 * bound is above its high bound" or "replacing /srv/bench/store.ini:
 * Permission denied". Every string is NUL-terminated (and cut to fit). */
typedef struct velmora_store_problem {
  int32_t status;
  uint32_t line;
  int32_t error_number;
  char step[32];
  char path[4096];
  char message[256];
} velmora_store_problem;

/* ---- Statuses -------------------------------------------------------------- */

/* The name IVIINI_STATUS_TABLE gives a status ("kIviIniStoreNoSuchItem"), or
 * null for a value the table does not have. A static string. */
VELMORA_STORE_API const char *velmora_store_status_name(int32_t status);

/* The status's meaning from the same table ("no item of that name, or an
 * index past the last"), or null. A static string. */
VELMORA_STORE_API const char *velmora_store_status_text(int32_t status);

/* ---- Opening, saving, closing ------------------------------------------------ */

/* Opens the store file at `path` and writes the new store to *store.
 * A null or empty path opens the default store: the file named by the
 * environment variable VELMORA_STORE (ignored in set-user-ID programs), else
 * <sysconfdir>/velmora/store.ini of the install prefix (/etc/velmora/store.ini
 * in the packages). A relative path is taken from the working folder of this
 * moment: saves and reloads go to the same file wherever the process moves.
 * `problem` may be null; when given it is filled on failure and cleared
 * (status 0, empty strings) on success.
 * kIviIniNullPointer: store is null (nothing written).
 * kIviIniPathTooLong: the path, or the default location, has more than 256
 * characters, as for IviIni_OpenIniFile.
 * The loading statuses (kIviIniStoreNotFound ... kIviIniStoreBadSimulate),
 * kIviIniOutOfMemory: *store is set to null, and nothing stays open. */
VELMORA_STORE_API int32_t velmora_store_open(const char *path, velmora_store **store,
                                             velmora_store_problem *problem);

/* Closes the store and frees it, discarding edits that were not saved. A
 * null store is ignored. The store pointer is invalid afterwards. */
VELMORA_STORE_API void velmora_store_close(velmora_store *store);

/* Writes the store back to its file, which stays open: 0 when it was written,
 * or when the file already holds what it would write (nothing is then
 * touched). The file is replaced only while it is still the one the store
 * read or last saved. `problem` as for velmora_store_open.
 * kIviIniStoreChangedOnDisk: another program changed, replaced or removed the
 * file since; kIviIniStoreBusy: another program held the save lock too long
 * (for both: reload, apply the edits again, save again).
 * The other saving statuses (kIviIniStoreCannotCreateTemporary ...) and
 * kIviIniOutOfMemory: the file and everything beside it are as they were, and
 * the store keeps its edits. */
VELMORA_STORE_API int32_t velmora_store_save(velmora_store *store, velmora_store_problem *problem);

/* Reads the store's file again, discarding edits that were not saved; the
 * store pointer stays the same. On failure (a loading status, with `problem`
 * filled as for velmora_store_open) the store keeps its content and edits. */
VELMORA_STORE_API int32_t velmora_store_reload(velmora_store *store,
                                               velmora_store_problem *problem);

/* Writes 1 to *changed when the file at the store's path is no longer the one
 * the store read or last saved (another device, inode, size or modification
 * time, or no file at all), else 0. Answers 0, kIviIniInvalidHandle or
 * kIviIniNullPointer. */
VELMORA_STORE_API int32_t velmora_store_changed(const velmora_store *store, int *changed);

/* The absolute path of the store's file (the one opened, not where a symbolic
 * link leads), owned by the store and valid until it is closed; null for a
 * null store. */
VELMORA_STORE_API const char *velmora_store_path(const velmora_store *store);

/* ---- The vocabulary: kinds and their keys ------------------------------------ */

/* Reads a kind word: "LogicalName", "logical-name", "logicalname", "Session",
 * "Driver", "Device", letter case ignored. kIviIniStoreNoSuchKind for any
 * other word (or null); kIviIniNullPointer when kind is null. */
VELMORA_STORE_API int32_t velmora_store_kind_parse(const char *word, velmora_store_kind *kind);

/* The kind as the file spells it in a header ("LogicalName"), or null for a
 * value outside velmora_store_kind. A static string. */
VELMORA_STORE_API const char *velmora_store_kind_name(velmora_store_kind kind);

/* The number of keys items of `kind` have (at least 2), or
 * kIviIniStoreNoSuchKind. */
VELMORA_STORE_API int32_t velmora_store_key_count(velmora_store_kind kind);

/* The kind's index-th key (from 0) as the file spells it ("Description",
 * "DriverSetup"), in the order the list above gives; null past the last or
 * for an unknown kind. A static string. */
VELMORA_STORE_API const char *velmora_store_key_name(velmora_store_kind kind, int32_t index);

/* ---- Items --------------------------------------------------------------------- */

/* Writes the number of items of `kind` to *count. */
VELMORA_STORE_API int32_t velmora_store_count(const velmora_store *store, velmora_store_kind kind,
                                              uint32_t *count);

/* Fills buffer with the name of the index-th item of `kind` (from 0), under
 * the string-return rule. kIviIniStoreNoSuchItem past the last. */
VELMORA_STORE_API int32_t velmora_store_name(const velmora_store *store, velmora_store_kind kind,
                                             uint32_t index, char *buffer, int32_t size);

/* Writes 1 to *has when the store has an item of `kind` called `name`, else 0
 * (a null name has none). */
VELMORA_STORE_API int32_t velmora_store_has_item(const velmora_store *store,
                                                 velmora_store_kind kind, const char *name,
                                                 int *has);

/* Adds an item of `kind` called `name`, with no keys, after every other item
 * (its section goes at the end of the file). Any kind, drivers included.
 * kIviIniStoreItemExists: the name is in use for that kind;
 * kIviIniStoreBadName: an empty name, one with a line feed, or one whose
 * header line would be over 64 KiB. */
VELMORA_STORE_API int32_t velmora_store_add(velmora_store *store, velmora_store_kind kind,
                                            const char *name);

/* Removes the item: its header and its lines up to its last key line.
 * An item that others refer to (a session a logical name names, a driver or
 * a device a session names) is refused with kIviIniStoreReferenced, nothing
 * changed, unless `force` is nonzero: it is then removed and the references
 * stay as they are, naming an item the store lacks. */
VELMORA_STORE_API int32_t velmora_store_remove(velmora_store *store, velmora_store_kind kind,
                                               const char *name, int force);

/* Writes the number of items that refer to the item of `kind` called `name`
 * to *count: the logical names naming a session, the sessions naming a
 * driver or a device; 0 for a logical name. The item need not exist: the
 * items naming a missing one are its referrers too. */
VELMORA_STORE_API int32_t velmora_store_referrer_count(const velmora_store *store,
                                                       velmora_store_kind kind, const char *name,
                                                       uint32_t *count);

/* The index-th of those referrers (from 0), in file order: its kind to
 * *referrer_kind and its name into buffer under the string-return rule.
 * kIviIniStoreNoSuchItem past the last (nothing written). */
VELMORA_STORE_API int32_t velmora_store_referrer(const velmora_store *store,
                                                 velmora_store_kind kind, const char *name,
                                                 uint32_t index, velmora_store_kind *referrer_kind,
                                                 char *buffer, int32_t size);

/* ---- Keys ------------------------------------------------------------------------ */

/* Writes 1 to *has when the item's section has a line for `key` (in the
 * file, or set since and not unset), else 0. */
VELMORA_STORE_API int32_t velmora_store_has_key(const velmora_store *store, velmora_store_kind kind,
                                                const char *name, const char *key, int *has);

/* Fills buffer with the value of the item's `key` as the file holds it,
 * quotes removed, under the string-return rule: a reference is the name it
 * holds, whether or not such an item exists; Simulate the word as written;
 * Channels and Classes the whole value. An empty value is the empty string.
 * kIviIniStoreNoSuchKey: the item has no line for the key (distinct from an
 * empty value). */
VELMORA_STORE_API int32_t velmora_store_get(const velmora_store *store, velmora_store_kind kind,
                                            const char *name, const char *key, char *buffer,
                                            int32_t size);

/* Sets the item's `key` to `value`: a line the section has is rewritten in
 * place, a line it lacks is added after its last key line. Values are checked
 * as the file's reader would check them, so a store can always be read back:
 * kIviIniStoreBadValue for a null value, a line feed, a Simulate value other
 * than true/false, 1/0, yes/no (letter case ignored), a Channels value that
 * does not parse, or a line that would be over 64 KiB. A reference (Session,
 * Driver, Device) must name an item of its kind, or be empty (refers to
 * none): kIviIniStoreNoSuchItem otherwise, as for a missing item. Simulate
 * is a truth value: one that means what the session reads already (a session
 * without the line reads false) changes nothing, so the file keeps its word;
 * another is written "true" or "false". */
VELMORA_STORE_API int32_t velmora_store_set(velmora_store *store, velmora_store_kind kind,
                                            const char *name, const char *key, const char *value);

/* Removes the item's line for `key`; an item without one is left as it is
 * (answer 0). */
VELMORA_STORE_API int32_t velmora_store_unset(velmora_store *store, velmora_store_kind kind,
                                              const char *name, const char *key);

/* Writes the session's Simulate flag to *simulate: 1 or 0, and 0 when the
 * session has no Simulate line. */
VELMORA_STORE_API int32_t velmora_store_simulate(const velmora_store *store, const char *session,
                                                 int *simulate);

/* ---- Derived lists ---------------------------------------------------------------- */

/* A session's channels, as IviIni_GetNthChannel names them: the Channels
 * entries in order, an entry without index ranges one channel named like the
 * entry, an entry with ranges one channel per integer, named by the entry
 * followed by the integer ("CH[1..4], TRIG": CH1, CH2, CH3, CH4, TRIG). A
 * name is cut to 511 bytes, as in libvelmora. The count is at most INT32_MAX;
 * a session without Channels has none. Index from 0;
 * kIviIniStoreNoSuchItem past the last. */
VELMORA_STORE_API int32_t velmora_store_channel_count(velmora_store *store, const char *session,
                                                      uint32_t *count);
VELMORA_STORE_API int32_t velmora_store_channel(velmora_store *store, const char *session,
                                                uint32_t index, char *buffer, int32_t size);

/* A driver's class entries as written: the comma-separated pieces of its
 * Classes value, blanks trimmed, empty pieces dropped ("IviDriver, IviScope"
 * gives IviDriver and IviScope). Index from 0; kIviIniStoreNoSuchItem past
 * the last. */
VELMORA_STORE_API int32_t velmora_store_class_count(velmora_store *store, const char *driver,
                                                    uint32_t *count);
VELMORA_STORE_API int32_t velmora_store_class(velmora_store *store, const char *driver,
                                              uint32_t index, char *buffer, int32_t size);

/* 1 when a class entry names an instrument class, as libvelmora counts them
 * (IviIni_GetDriverClassCount): "Ivi" and a capital letter (IviScope,
 * IviDmm), except IviDriver, which every driver is; else 0, also for null. */
VELMORA_STORE_API int velmora_store_is_instrument_class(const char *entry);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VELMORA_VELMORA_STORE_H */

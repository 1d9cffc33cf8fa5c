/* Stand-in for a configuration library, libconfig_standin.so.

   It exports the twelve IviIni_* entries that libvelmora_hx.so binds from a
   configuration library, with libvelmora's own signatures (declared in
   velmora/velmora.h: an opaque IviIniHandle, signed sizes and indexes, a
   uint8_t close flag), over an in-memory store, and adds test controls
   prefixed config_standin_. It is test and demo infrastructure: never
   shipped, never installed. Everything here is safe to call from any thread
   (one mutex guards the library's state), but the library expects what
   libvelmora expects, that its caller serialises every call into it; it
   counts the calls that overlap instead of preventing them.

   This header declares only the controls. To call the entries directly,
   include velmora/velmora.h (not together with velmora_hx.h, whose IviIni_*
   functions take void pointers), or look them up with dlsym.

   The store: a list of logical names, each with a session, a driver, the
   driver's class and its prefix, set from lines "Name | Class | Prefix"
   (config_standin_set_names, config_standin_load_names_file, or the file
   named by CONFIG_STANDIN_NAMES when the library is loaded), in the format
   and with the error texts of the discovery stand-in's devices file:
   whitespace around each field and line is dropped; blank lines and lines
   whose first non-blank character is '#' are skipped; a line without
   exactly three fields or with an empty name is left out and reported
   through config_standin_errors, and so is a logical name given twice. Each logical name refers to
   the session "<Name>Session", which refers to the driver named by the
   prefix (none when the prefix is empty). A driver's classes are the
   distinct non-empty classes of the lines that name it, in the order they
   first appear; its prefix is its own name. Names match exactly (letter case
   counts).

   The entries, as libvelmora answers them:
   - IviIni_OpenIniFile opens a handle on the store for any path, null or
     empty included; a path over 256 characters answers kIviIniPathTooLong
     (-6), a null handle pointer kIviIniNullPointer (-4), and neither writes
     anything. Handles are never null and never handed out twice within a
     process, so a closed handle stays invalid.
   - A handle sees the store as it was when the handle was opened or last
     reloaded (a snapshot). IviIni_ConfigurationChanged writes 1 once the
     store was set (by either control, even to the same lines) since then,
     else 0; IviIni_ReloadConfiguration takes the store as it is now.
     IviIni_CloseIniFile closes the handle whatever its flag (there is
     nothing to save).
   - A null, closed or made-up handle answers kIviIniInvalidHandle (-3) and
     the handle is never dereferenced; a null output pointer answers
     kIviIniNullPointer (-4) after the handle check.
   - IviIni_GetNthLogicalName counts from 1 and writes the address of the
     handle's name buffer (512 bytes: a name over 511 characters is cut, and
     the answer is the size it needs); the name stays valid until the next
     IviIni_GetNthLogicalName on that handle, or its close.
   - The string entries (IviIni_GetLogicalNameVI with a logical name,
     IviIni_GetVIDriver with a session, IviIni_GetDriverClass,
     IviIni_GetDriverClassByIndex and IviIni_GetDriverPrefix with a driver)
     follow velmora.h's string-return rule: size 0 answers length + 1 and
     writes nothing; a size of at least that, or a negative size, writes the
     whole string and answers 0; a smaller positive size writes size - 1
     characters and a NUL and answers length + 1; a null buffer is never
     written. A session without a driver has the driver "".
   - An unknown (or null) name, and an n-th index below 1 or past the last,
     answer kIviIniStoreNoSuchItem (-1320). A class index below 1 or past the
     driver's class count answers kIviIniClassIndexOutOfRange (-25);
     IviIni_GetDriverClass is the class with index 1.
   - A failing call writes nothing.

   How each call runs: it is counted, its injected failure (if any) is
   decided, it waits at its entry's gate while the gate is held, sleeps its
   entry's delay, then answers. A call is "inside" the library from its start
   to its answer, gate and delay included. The library writes nothing to any
   stream. */
#ifndef CONFIG_STANDIN_H
#define CONFIG_STANDIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CONFIG_STANDIN_API __attribute__((visibility("default")))

/* The twelve entries, for the per-entry controls. */
typedef enum config_standin_entry {
  CONFIG_STANDIN_OPEN_INI_FILE,
  CONFIG_STANDIN_CLOSE_INI_FILE,
  CONFIG_STANDIN_CONFIGURATION_CHANGED,
  CONFIG_STANDIN_RELOAD_CONFIGURATION,
  CONFIG_STANDIN_GET_NUMBER_OF_LOGICAL_NAMES,
  CONFIG_STANDIN_GET_NTH_LOGICAL_NAME,
  CONFIG_STANDIN_GET_LOGICAL_NAME_VI,
  CONFIG_STANDIN_GET_VI_DRIVER,
  CONFIG_STANDIN_GET_DRIVER_CLASS,
  CONFIG_STANDIN_GET_DRIVER_CLASS_COUNT,
  CONFIG_STANDIN_GET_DRIVER_CLASS_BY_INDEX,
  CONFIG_STANDIN_GET_DRIVER_PREFIX,
  CONFIG_STANDIN_ENTRIES /* the number of entries, not an entry */
} config_standin_entry;

enum {
  /* config_standin_fail: keep failing every call from the nth on. */
  CONFIG_STANDIN_FAIL_ALWAYS = 0xFFFFFFFFu,
  /* What config_standin_fail answers when it arms a failure, and when it
     refuses its arguments. */
  CONFIG_STANDIN_ARMED = 0,
  CONFIG_STANDIN_REFUSED = -1,
};

/* ---- Test controls ------------------------------------------------------
   Settings with an environment variable are read once, when the library is
   loaded: CONFIG_STANDIN_NAMES (a names file), and per entry
   CONFIG_STANDIN_<ENTRY>_DELAY_MS (0 .. 600000) and CONFIG_STANDIN_<ENTRY>_STATUS
   (every call of the entry answers that status; 0: do not fail), where
   <ENTRY> is the enumerator's name without its CONFIG_STANDIN_ prefix, e.g.
   CONFIG_STANDIN_RELOAD_CONFIGURATION_DELAY_MS. A value that is not a whole
   number in range is ignored and reported by config_standin_errors. */

/* Puts everything back to what the environment gave at load: the store
   the delays and the failures. Closes every handle without counting it, zeroes the counters,
   forgets the errors of the latest names set, opens every gate and ends
   every delay in progress. Handles are not reused. Calls that were inside
   the library go on, find their handles closed and answer -3 (a decided
   injected failure still answers its status). */
CONFIG_STANDIN_API void config_standin_reset(void);

/* Replaces the store with the lines of text (null: no names). Answers the
   number of lines left out, each reported by config_standin_errors as
   "config_standin_set_names:line: what is wrong"; the errors of an earlier
   set are forgotten. */
CONFIG_STANDIN_API int32_t config_standin_set_names(const char *text);
/* The same with the lines of a file, read now ("path:line: what is wrong").
   A file that cannot be read leaves no names and one error, "cannot read
   names file 'path': reason". */
CONFIG_STANDIN_API int32_t config_standin_load_names_file(const char *path);

/* Every later call of entry sleeps this long after its gate, before it does
   anything else; other calls and the controls are served meanwhile. A reset
   ends the sleeps in progress. An unknown entry is ignored. */
CONFIG_STANDIN_API void config_standin_set_delay_ms(config_standin_entry entry,
                                                    uint32_t milliseconds);

/* Non-zero: every later call of entry, once counted, waits at the entry's
   gate until the gate is opened again with 0 (or by config_standin_reset).
   The other entries and the controls are served meanwhile. Stands for a
   configuration call that takes as long as a test wants. An unknown entry is
   ignored. */
CONFIG_STANDIN_API void config_standin_hold(config_standin_entry entry, int hold);
/* How many calls of entry wait at its held gate now (0 while it is open, and
   for an unknown entry). */
CONFIG_STANDIN_API int32_t config_standin_calls_waiting(config_standin_entry entry);

/* Makes the calls nth to nth + count - 1 of entry, counted from 1 at the
   first call after arming, answer status and write nothing (count
   CONFIG_STANDIN_FAIL_ALWAYS: every call from the nth on). A failing open
   opens nothing, a failing close leaves the handle open, a failing reload
   keeps the snapshot. One failure per entry; arming again replaces it.
   Answers CONFIG_STANDIN_ARMED, or CONFIG_STANDIN_REFUSED (and changes
   nothing) for an unknown entry, nth 0, count 0 or status 0. */
CONFIG_STANDIN_API int32_t config_standin_fail(config_standin_entry entry, uint32_t nth,
                                               uint32_t count, int32_t status);
/* Disarms every failure, those of the environment included, until a reset. */
CONFIG_STANDIN_API void config_standin_disarm(void);

typedef struct config_standin_counters {
  /* Calls of each entry, by config_standin_entry: failed and rejected calls
     count, held and sleeping ones from their start. */
  int64_t calls[CONFIG_STANDIN_ENTRIES];
  int64_t handles_opened;    /* handles IviIni_OpenIniFile handed out */
  int64_t handles_closed;    /* handles IviIni_CloseIniFile closed */
  int64_t closes_with_save;  /* of those, closes with a non-zero flag */
  int64_t handles_open;      /* handles open now */
  int64_t failures_injected; /* calls that answered an injected failure */
  /* Calls that started while another call was inside the library. Its
     callers promise to serialise their calls, so a test expects 0. */
  int64_t overlaps;
  /* The most calls inside the library at one moment, less one: 0 while no
     call has overlapped another. */
  int64_t deepest_overlap;
  int64_t calls_inside; /* calls inside the library now (not reset) */
} config_standin_counters;
/* Counts since load or reset. A null argument is ignored. */
CONFIG_STANDIN_API void config_standin_get_counters(config_standin_counters *counters);

/* The exported name of entry ("IviIni_OpenIniFile", ...), or null for an
   unknown entry. The text is static. */
CONFIG_STANDIN_API const char *config_standin_entry_name(config_standin_entry entry);

/* Problems found in the environment at load and in the latest names set,
   one line each. */
CONFIG_STANDIN_API int32_t config_standin_error_count(void);
/* The problems, joined by '\n', as much as fits with a NUL into buffer;
   answers the full length (without NUL), so (null, 0) sizes the buffer. */
CONFIG_STANDIN_API size_t config_standin_errors(char *buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif

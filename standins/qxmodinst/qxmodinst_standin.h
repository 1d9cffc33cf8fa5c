/* Stand-in for the modular-instrument discovery library, libqxmodinst.so.

   It answers the five entries that libvelmora_hx.so binds at run time from a
   plain text file of installed devices, and adds test controls prefixed
   qxmodinst_standin_. Everything here is safe to call from any thread (one
   mutex guards the library's state).

   Devices file: named by the environment variable QXMODINST_DEVICES or by
   qxmodinst_standin_set_devices_file. One device per line, three fields
   separated by '|': "name | class | prefix". Whitespace around each field and
   around the line is dropped; blank lines and lines whose first non-blank
   character is '#' are skipped. A line without exactly three fields, or with
   an empty name, is malformed: it is left out (the device is absent) and
   reported through qxmodinst_standin_errors. No file configured means no
   devices; a file that cannot be read means no devices and an error.

   Sessions: each open reads the file and keeps what it found (a snapshot);
   session numbers are positive and never 0; several may be open at once.
   qxModInst_IsConfigurationCurrent writes 0 once the file differs from the
   one the session read (modification time to the nanosecond, size, inode or
   device; a removed or newly created file; another configured path), else 1.

   The library writes nothing to any stream. Every entry answers a status:
   0 success, a positive needed size from the string entry, or one of the
   negative QXMODINST_ERROR_* values below (or a status a test configured). */
#ifndef QXMODINST_STANDIN_H
#define QXMODINST_STANDIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QXMODINST_API __attribute__((visibility("default")))

enum {
  QXMODINST_SUCCESS = 0,
  /* A null pointer where a value is needed, a negative size, or a positive
     size with a null buffer. */
  QXMODINST_ERROR_INVALID_ARGUMENT = -201,
  /* A session number that is not open (0 included). */
  QXMODINST_ERROR_INVALID_SESSION = -202,
  /* A device index outside 0 .. count - 1 of the session. */
  QXMODINST_ERROR_INVALID_INDEX = -203,
  /* An attribute number that the entry does not know. */
  QXMODINST_ERROR_INVALID_ATTRIBUTE = -204,
  /* An open for a driver other than "qxModularInstrument". */
  QXMODINST_ERROR_UNKNOWN_DRIVER = -205,
  /* The library ran out of memory. */
  QXMODINST_ERROR_OUT_OF_MEMORY = -206,
};

/* Integer attribute of qxModInst_GetInstalledDeviceAttributeViInt32: the
   device's 0-based index in its session. The string attributes are 0 name,
   3 class and 4 prefix. */
enum { QXMODINST_ATTR_INDEX = 1 };

/* ---- The library's entries ---------------------------------------------- */

/* Opens a session on the devices installed now. driver must be
   "qxModularInstrument". Writes the session and the device count and answers
   0; on failure writes nothing. */
QXMODINST_API int32_t qxModInst_OpenInstalledDevicesSession(const char *driver, int32_t *session,
                                                            int32_t *count);
/* String attribute 0, 3 or 4 of device index: size 0 answers the size the
   value needs (length + 1) and writes nothing; a size at least that large
   receives the value and answers 0; a smaller positive size receives size - 1
   bytes and a NUL and answers the needed size. Errors write nothing. */
QXMODINST_API int32_t qxModInst_GetInstalledDeviceAttributeViString(int32_t session, int32_t index,
                                                                    int32_t attribute, int32_t size,
                                                                    char *buffer);
/* Integer attribute QXMODINST_ATTR_INDEX of device index into *value. */
QXMODINST_API int32_t qxModInst_GetInstalledDeviceAttributeViInt32(int32_t session, int32_t index,
                                                                   int32_t attribute,
                                                                   int32_t *value);
/* Closes an open session; the number is not handed out again. */
QXMODINST_API int32_t qxModInst_CloseInstalledDevicesSession(int32_t session);
#ifndef QXMODINST_STANDIN_NO_CONFIGURATION_CHECK
/* *current = 1 while the devices file is as the session read it, else 0.
   Missing from the build made with QXMODINST_STANDIN_NO_CONFIGURATION_CHECK. */
QXMODINST_API int32_t qxModInst_IsConfigurationCurrent(int32_t session, uint16_t *current);
#endif

/* ---- Test controls ------------------------------------------------------
   Each setting also has an environment variable, read once when the library
   is loaded (see README.md): QXMODINST_DEVICES, QXMODINST_OPEN_DELAY_MS,
   QXMODINST_OPEN_STATUS, QXMODINST_CLOSE_STATUS, QXMODINST_ATTRIBUTE_STATUS,
   QXMODINST_OPEN_ZERO_SESSION. A status of 0 means "do not fail". */

/* Closes every session without counting, zeroes the counters, forgets the
   devices file's errors and puts every setting back to what the environment
   gave at load. */
QXMODINST_API void qxmodinst_standin_reset(void);
/* The devices file the next opens read; null or "" means none. */
QXMODINST_API void qxmodinst_standin_set_devices_file(const char *path);
/* Every open sleeps this long before it does anything else. */
QXMODINST_API void qxmodinst_standin_set_open_delay_ms(uint32_t milliseconds);
/* Opens, closes, or string and integer attribute reads answer status and
   write nothing (a failed close leaves the session open). */
QXMODINST_API void qxmodinst_standin_fail_open(int32_t status);
QXMODINST_API void qxmodinst_standin_fail_close(int32_t status);
QXMODINST_API void qxmodinst_standin_fail_attribute_reads(int32_t status);
/* Non-zero: opens answer 0 and write session 0 and the device count, and no
   session is registered. */
QXMODINST_API void qxmodinst_standin_open_gives_zero_session(int enabled);

/* Non-zero: every open, close and configuration check, once counted, waits
   at a gate until the gate is opened again with 0 (or by
   qxmodinst_standin_reset); the attribute reads are served meanwhile. Stands
   for a scan that takes as long as a test wants. */
QXMODINST_API void qxmodinst_standin_hold_session_calls(int hold);
/* How many calls wait at the held gate now (0 while it is open). */
QXMODINST_API int32_t qxmodinst_standin_session_calls_waiting(void);

typedef struct qxmodinst_standin_counters {
  int64_t opens;                /* qxModInst_OpenInstalledDevicesSession calls */
  int64_t closes;               /* qxModInst_CloseInstalledDevicesSession calls */
  int64_t sessions_outstanding; /* sessions open now */
  int64_t attribute_reads;      /* string and integer attribute calls */
  int64_t configuration_checks; /* qxModInst_IsConfigurationCurrent calls */
} qxmodinst_standin_counters;
/* Counts every call since load or reset, failed and rejected ones included. */
QXMODINST_API void qxmodinst_standin_get_counters(qxmodinst_standin_counters *counters);

/* Problems found in the environment at load and in the latest read of the
   devices file, one line each ("path:line: what is wrong"). */
QXMODINST_API int32_t qxmodinst_standin_error_count(void);
/* The problems, joined by '\n', as much as fits with a NUL into buffer;
   answers the full length (without NUL), so (null, 0) sizes the buffer. */
QXMODINST_API size_t qxmodinst_standin_errors(char *buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif

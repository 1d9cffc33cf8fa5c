/* Test-side interface of the Hexaflow host stand-in, libhxhost_standin.so.

   The library implements every host function that libvelmora_hx.so imports
   (host_api.h) for real, and adds the functions below, prefixed hxhost_, with
   which a test prepares the host, inspects what the plug-in did to it and
   injects failures.

   Conventions
   - Threads: every function, host or test-side, takes the stand-in's single
     mutex, so any of them may be called from any thread.
   - Ownership: handles and variants are either the caller's or the host's.
     Caller-owned ones come from DSNewHandle, DSNewHClr, a string read by
     HxVariantPStrGetStringAttr, a set-attribute call on a null slot and the
     hxhost_*_new helpers; they are counted as outstanding until disposed of.
     Host-owned ones (the open-session lists and their variants) are neither
     counted nor disposable through DSDisposeHandle; the stand-in frees them.
   - Bad input never crashes: a null pointer, a handle that is not live, a
     variant that does not exist or a malformed long string gets one of the
     HXHOST_ERR_* statuses below and is counted (hxhost_bad_argument_count,
     hxhost_invalid_dispose_count).
   - Fresh blocks from DSNewHandle are filled with HXHOST_UNINITIALISED_BYTE so
     that code which forgets to initialise a block misbehaves the same way on
     every run; DSNewHClr blocks are zero.
   - Attribute names in this header are NUL-terminated C strings; the host
     functions take length-prefixed ones. Both name the same attributes. */
#ifndef HXHOST_STANDIN_H
#define HXHOST_STANDIN_H

#include <stddef.h>
#include <stdint.h>

#include "host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HXHOST_API __attribute__((visibility("default")))

/* Statuses of the stand-in beyond the host's own (kHostOk, kHostOutOfMemory,
   kHostAttributeAbsent). The plug-in treats all of them as plain failures. */
enum {
  /* GetIOControlOpenSessionsEx: the previous answer still holds. */
  HXHOST_SESSIONS_UNCHANGED = 1,
  /* A null pointer where a value is needed, or an unknown function name. */
  HXHOST_ERR_BAD_ARGUMENT = 1001,
  /* A handle that is not live, or one that the host keeps for itself. */
  HXHOST_ERR_BAD_HANDLE = 1002,
  /* A non-null variant reference that names no live variant. */
  HXHOST_ERR_BAD_VARIANT = 1003,
  /* The attribute exists with the other type (string versus UI32). */
  HXHOST_ERR_TYPE_MISMATCH = 1004,
  /* A long string whose length is negative or runs past its block. */
  HXHOST_ERR_BAD_STRING = 1005,
};

enum {
  HXHOST_UNINITIALISED_BYTE = 0xA5,
  /* hxhost_arm_fault: keep failing every call from the nth on. */
  HXHOST_FAULT_ALWAYS = 0xFFFFFFFFu,
  /* Blocks larger than this are refused (null), as an exhausted host would. */
  HXHOST_MAX_BLOCK_SIZE = 1 << 30,
  /* hxhost_sessions_*: lists handed out by GetIOControlOpenSessionsEx stay
     readable for this many later calls, then the stand-in frees them. */
  HXHOST_RETAINED_SESSION_LISTS = 64,
};

/* ---- Lifecycle ---------------------------------------------------------- */

/* Frees every handle and variant (the caller's too), zeroes the accounts,
   disarms all faults and empties the session configuration (no sessions,
   status 0, handle filled, no count override). */
HXHOST_API void hxhost_reset(void);

/* ---- Accounts ----------------------------------------------------------- */

/* Caller-owned handles allocated and not yet disposed of. */
HXHOST_API int64_t hxhost_handles_outstanding(void);
/* Caller-owned variants created and not yet disposed of. */
HXHOST_API int64_t hxhost_variants_outstanding(void);
/* Calls of the named host function since the last reset; 0 for unknown names.
   Every call counts, including failed and rejected ones. */
HXHOST_API uint64_t hxhost_call_count(const char *function);
/* DSDisposeHandle calls given null, a foreign or already disposed pointer,
   or a host-owned handle. Such a call answers HXHOST_ERR_BAD_HANDLE. */
HXHOST_API uint64_t hxhost_invalid_dispose_count(void);
/* Calls of any host function rejected with an HXHOST_ERR_* status, invalid
   disposals included, and PStrCmp calls given a null string. */
HXHOST_API uint64_t hxhost_bad_argument_count(void);
/* Copies the sizes requested from the named allocating function (DSNewHandle,
   DSNewHClr, HxVariantPStrGetStringAttr, GetIOControlOpenSessionsEx,
   hxhost_long_string_new), oldest first, failed requests included, into
   sizes[0..capacity-1]; answers how many there are in all. */
HXHOST_API size_t hxhost_requested_sizes(const char *function, size_t *sizes, size_t capacity);
/* 1 when h is a live handle (the caller's or the host's), else 0. */
HXHOST_API int hxhost_handle_is_live(HxHandle h);
/* The block size of a live handle; 0 when h is not live. */
HXHOST_API size_t hxhost_handle_size(HxHandle h);

/* ---- Time spent in the host --------------------------------------------- */

/* Non-zero starts counting the time spent inside the host functions that the
   plug-in imports, on every thread, from zero; 0 stops counting. Lets a
   benchmark tell the plug-in's own time from the host's. Off at load. */
HXHOST_API void hxhost_timing(int enabled);
/* Nanoseconds spent inside the host functions, and calls of them, counted
   since timing last started. */
HXHOST_API int64_t hxhost_timed_nanoseconds(void);
HXHOST_API int64_t hxhost_timed_calls(void);

/* ---- Fault injection ---------------------------------------------------- */

/* Makes calls nth to nth+count-1 of the named host function, counted from 1
   at the first call after arming, fail with status (count
   HXHOST_FAULT_ALWAYS: every call from the nth on). DSNewHandle and DSNewHClr
   fail by answering null and ignore status. A failing call changes nothing:
   no variant is created, no output written, a handle to dispose of stays
   live. One fault per function; arming again replaces it. Answers kHostOk, or
   HXHOST_ERR_BAD_ARGUMENT for an unknown name, nth 0, count 0 or status 0.
   PStrCmp cannot be armed. */
HXHOST_API MgErr hxhost_arm_fault(const char *function, uint32_t nth, uint32_t count, MgErr status);
HXHOST_API void hxhost_disarm_faults(void);

/* ---- Open sessions (GetIOControlOpenSessionsEx) ------------------------- */

/* Removes every configured session. */
HXHOST_API void hxhost_sessions_clear(void);
/* Appends a session whose variant carries "n" = name and "orig" = orig; a
   null text leaves that attribute absent. */
HXHOST_API MgErr hxhost_sessions_add(const char *name, const char *orig);
/* The status the next calls answer: 0 fills the handle, anything else (1
   included) answers that status and leaves the handle untouched. */
HXHOST_API void hxhost_sessions_set_status(MgErr status);
/* With status 0: enabled non-zero leaves the handle untouched (null). */
HXHOST_API void hxhost_sessions_set_null_handle(int enabled);
/* Enabled non-zero writes count into the list's count field instead of the
   number of sessions (0 or negative counts included). A count above the
   number of sessions gets null slots up to it. */
HXHOST_API void hxhost_sessions_override_count(int enabled, int32_t count);

/* The arguments of the latest GetIOControlOpenSessionsEx call. */
typedef struct hxhost_sessions_call {
  uint32_t app_context;
  char io_class[256]; /* the class string, NUL-terminated */
  HxVariantRef properties;
  int32_t one;
} hxhost_sessions_call;
/* Answers 1 and fills *call when there was a call since the last reset,
   else 0. */
HXHOST_API int hxhost_sessions_last_call(hxhost_sessions_call *call);

/* ---- Strings ------------------------------------------------------------ */

/* Writes text as a length-prefixed string into buffer and answers buffer;
   answers null (buffer untouched) when text is null, longer than 255 bytes
   or the buffer is smaller than strlen(text) + 1. */
HXHOST_API unsigned char *hxhost_pstr(const char *text, unsigned char *buffer, size_t size);
/* A caller-owned long string holding text (dispose with DSDisposeHandle);
   null when text is null or memory runs out. */
HXHOST_API HxHandle hxhost_long_string_new(const char *text);
/* Copies a live long string's characters into buffer (at most size - 1 and a
   NUL; nothing when size is 0) and answers its length; -1 when h is not a
   live, well-formed long string. */
HXHOST_API int32_t hxhost_long_string_get(HxHandle h, char *buffer, size_t size);

/* ---- Variants ----------------------------------------------------------- */

/* A caller-owned variant without attributes; null when memory runs out. */
HXHOST_API HxVariantRef hxhost_variant_new(void);
/* Destroys a variant (the caller's or the host's); HXHOST_ERR_BAD_VARIANT
   when it does not exist. */
HXHOST_API MgErr hxhost_variant_dispose(HxVariantRef var);
/* Set an attribute, replacing one of the same name whatever its type. */
HXHOST_API MgErr hxhost_variant_set_u32(HxVariantRef var, const char *name, uint32_t value);
HXHOST_API MgErr hxhost_variant_set_string(HxVariantRef var, const char *name, const char *text);
/* A string attribute without a value: HxVariantPStrGetStringAttr answers 0
   and hands out null for it. */
HXHOST_API MgErr hxhost_variant_set_null_string(HxVariantRef var, const char *name);
/* 1 when the variant exists and has the attribute, else 0. */
HXHOST_API int hxhost_variant_has(HxVariantRef var, const char *name);
/* Number of attributes; -1 when the variant does not exist. */
HXHOST_API int32_t hxhost_variant_attribute_count(HxVariantRef var);
/* kHostOk with *value; kHostAttributeAbsent (value untouched);
   HXHOST_ERR_TYPE_MISMATCH; HXHOST_ERR_BAD_VARIANT. */
HXHOST_API MgErr hxhost_variant_get_u32(HxVariantRef var, const char *name, uint32_t *value);
/* Copies a string attribute like hxhost_long_string_get and answers its
   length; -1 when the variant does not exist or the attribute is absent, not
   a string, or a string without a value. */
HXHOST_API int32_t hxhost_variant_get_string(HxVariantRef var, const char *name, char *buffer,
                                             size_t size);

/* ---- List handles (name lists, menu items, session lists) --------------- */

/* The count field of a live list handle; -1 when h is not live or its block
   is shorter than the list header. */
HXHOST_API int32_t hxhost_list_count(HxHandle list);
/* Slot i of a live list handle, read from its block (0 <= i and the slot
   inside the block); null otherwise. */
HXHOST_API HxVariantRef hxhost_list_slot(HxHandle list, int32_t index);
/* Takes over a list handle that the plug-in handed to the host: destroys the
   variant in every slot of its block (whatever the count field says) and
   disposes of the handle. HXHOST_ERR_BAD_HANDLE when it is not a live
   caller-owned handle (nothing is freed then); HXHOST_ERR_BAD_VARIANT when a
   non-null slot names no live variant (counted, skipped; the rest is freed). */
HXHOST_API MgErr hxhost_dispose_list(HxHandle list);

#ifdef __cplusplus
}
#endif

#endif

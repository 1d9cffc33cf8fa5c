/* Stand-in for a VISA library, libvisa.so.

   It answers the five VISA entries that libvelmora_hx.so binds at run time
   (the default resource manager and the find-list protocol over resource
   names) from a plain text file of resource names, and adds test controls
   prefixed visa_standin_. Types and status values are those of the open VISA
   standard, as visa_api.h declares them. Everything here is safe to call from
   any thread (one mutex guards the library's state).

   Resources file: named by the environment variable VISA_STANDIN_RESOURCES
   or by visa_standin_set_resources_file. One resource name per line;
   whitespace around a line is dropped; blank lines and lines whose first
   non-blank character is '#' are skipped; a line with a NUL byte is left out
   and reported through visa_standin_errors. Names are served in file order.
   No file configured means no resources; a file that cannot be read means no
   resources and an error.

   Objects: resource-manager sessions and find lists are numbered from one
   counter, never 0 and never handed out twice within a process. Each
   viFindRsrc reads the file and its find list keeps what matched (a
   snapshot). Closing a resource manager closes every find list opened
   through it.

   Search expressions: '?' any one character; '[chars]' and '[^chars]' one
   character in (or not in) the set, with ranges such as 'a-z'; '\' makes the
   next character literal; '*' zero or more and '+' one or more of the
   element before it; any other character stands for itself. Letters match
   either case, and the expression must match the whole name. Alternation,
   grouping and attribute expressions ('|', '(', ')', '{', '}') are not
   supported and make the expression invalid, as do an unclosed or empty set,
   a reversed range, a trailing '\', and a '*' or '+' with no element before
   it.

   Descriptions are written as at most VI_FIND_BUFLEN - 1 bytes and a NUL: a
   longer name is cut. The library writes nothing to any stream. Every entry
   answers VI_SUCCESS or a VI_ERROR_* status (or a status a test configured),
   and writes nothing when it fails unless said otherwise below. */
#ifndef VISA_STANDIN_H
#define VISA_STANDIN_H

#include <stddef.h>
#include <stdint.h>

#include "visa_api.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VISA_STANDIN_API __attribute__((visibility("default")))

/* Further values of the standard that the stand-in answers. */
#ifndef VI_ERROR_ALLOC
#define VI_ERROR_ALLOC ((ViStatus)0xBFFF003Cu) /* out of memory */
#endif
#ifndef VI_ERROR_USER_BUF
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071u) /* a null output argument */
#endif
#ifndef VI_WARN_UNKNOWN_STATUS
#define VI_WARN_UNKNOWN_STATUS ((ViStatus)0x3FFF0085u) /* viStatusDesc: status not known */
#endif

/* ---- The library's entries ---------------------------------------------- */

/* Opens a new resource-manager session into *resourceManager. A null
   argument answers VI_ERROR_USER_BUF. */
VISA_STANDIN_API ViStatus viOpenDefaultRM(ViSession *resourceManager);
/* Reads the resources file and matches every name against expr. On success
   writes the first match into description, the number of matches into *count
   and a new find list into *findList (count and findList may be null: then
   they are not written, and a null findList keeps no list). Answers
   VI_ERROR_INV_OBJECT when resourceManager is not an open resource manager,
   VI_ERROR_INV_EXPR for a null or invalid expression, VI_ERROR_USER_BUF for a
   null description, and VI_ERROR_RSRC_NFOUND when nothing matches; that last
   one writes count 0, find list 0 and an empty description. */
VISA_STANDIN_API ViStatus viFindRsrc(ViSession resourceManager, ViConstString expr,
                                     ViFindList *findList, ViUInt32 *count, ViChar description[]);
#ifndef VISA_STANDIN_NO_FIND_NEXT
/* The find list's next name into description. VI_ERROR_RSRC_NFOUND once every
   match has been handed out; VI_ERROR_INV_OBJECT when findList is not an open
   find list; VI_ERROR_USER_BUF for a null description. Missing from the build
   made with VISA_STANDIN_NO_FIND_NEXT. */
VISA_STANDIN_API ViStatus viFindNext(ViFindList findList, ViChar description[]);
#endif
/* Closes a find list, or a resource manager together with every find list
   opened through it; the number is not handed out again. Anything else (0
   included) answers VI_ERROR_INV_OBJECT. */
VISA_STANDIN_API ViStatus viClose(ViObject object);
/* A short text for status into description, at most VI_FIND_BUFLEN bytes
   with the NUL. object is not looked at (a failed viOpenDefaultRM has none).
   A status the library does not know gets a generic text and the answer
   VI_WARN_UNKNOWN_STATUS; a null description answers VI_ERROR_USER_BUF. */
VISA_STANDIN_API ViStatus viStatusDesc(ViObject object, ViStatus status, ViChar description[]);

/* ---- Test controls ------------------------------------------------------
   Settings with an environment variable, read once when the library is
   loaded (see README.md): VISA_STANDIN_RESOURCES, VISA_STANDIN_FIND_DELAY_MS,
   VISA_STANDIN_OPEN_DELAY_MS, VISA_STANDIN_OPEN_STATUS. A status of VI_SUCCESS means "do not fail".
 */

/* Closes every object without counting, zeroes the counters, forgets the
   resources file's errors, opens both gates and puts every setting back to
   what the environment gave at load. Object numbers are not reused. */
VISA_STANDIN_API void visa_standin_reset(void);
/* The resources file the next viFindRsrc calls read; null or "" means none. */
VISA_STANDIN_API void visa_standin_set_resources_file(const char *path);
/* Every viFindRsrc sleeps this long (after the gate) before it does anything
   else; other calls are served meanwhile. */
VISA_STANDIN_API void visa_standin_set_find_delay_ms(uint32_t milliseconds);
/* Every viOpenDefaultRM sleeps this long (after the gates) before it does
   anything else; other calls are served meanwhile. */
VISA_STANDIN_API void visa_standin_set_open_delay_ms(uint32_t milliseconds);
/* viOpenDefaultRM answers status and writes nothing. */
VISA_STANDIN_API void visa_standin_fail_open_default_rm(ViStatus status);
/* viFindNext answers status and writes nothing (the list does not advance)
   on every find list that has handed out at least names names, the first
   one from viFindRsrc included; so names 1 fails the first viFindNext. */
VISA_STANDIN_API void visa_standin_fail_find_next_after(int names, ViStatus status);

/* Non-zero: every viOpenDefaultRM, viFindRsrc, viFindNext and viClose, once
   counted, waits at a gate until the gate is opened again with 0 (or by
   visa_standin_reset); viStatusDesc and the controls are served meanwhile.
   Stands for a VISA call that takes as long as a test wants. */
VISA_STANDIN_API void visa_standin_hold_calls(int hold);
/* How many calls wait at the held gate now (0 while it is open). */
VISA_STANDIN_API int32_t visa_standin_calls_waiting(void);
/* Non-zero: every viOpenDefaultRM, once counted and past the gate above,
   waits at a gate of its own until it is opened again with 0 (or by
   visa_standin_reset); every other entry is served meanwhile, so that a
   test keeps a resource manager's open in flight while finds go on. */
VISA_STANDIN_API void visa_standin_hold_opens(int hold);
/* How many viOpenDefaultRM calls wait at the opens' gate now (0 while it is
   open). */
VISA_STANDIN_API int32_t visa_standin_opens_waiting(void);

typedef struct visa_standin_counters {
  int64_t resource_managers_opened; /* sessions viOpenDefaultRM handed out */
  int64_t find_lists_opened;        /* find lists viFindRsrc handed out */
  int64_t open_default_rm_calls;    /* calls of each entry, failed ones included */
  int64_t find_rsrc_calls;
  int64_t find_next_calls;
  int64_t close_calls;
  int64_t status_desc_calls;
  int64_t resource_managers_open; /* objects open now */
  int64_t find_lists_open;
} visa_standin_counters;
/* Counts since load or reset. A null argument is ignored. */
VISA_STANDIN_API void visa_standin_get_counters(visa_standin_counters *counters);

/* Problems found in the environment at load and in the latest read of the
   resources file, one line each. */
VISA_STANDIN_API int32_t visa_standin_error_count(void);
/* The problems, joined by '\n', as much as fits with a NUL into buffer;
   answers the full length (without NUL), so (null, 0) sizes the buffer. */
VISA_STANDIN_API size_t visa_standin_errors(char *buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif

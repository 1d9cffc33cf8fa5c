/* Stand-in for a VISA library, libvisa.so.

   It answers the five VISA entries that libvelmora_hx.so binds at run time
   (the default resource manager and the find-list protocol over resource
   names) from a plain text file of resource names, the few more a client
   such as PyVISA needs to open and close an instrument session by name
   (viOpen, viParseRsrc, viParseRsrcEx, viGetAttribute, viSetAttribute,
   viDisableEvent, viDiscardEvents), and adds test controls
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

/* ---- What opening and closing an instrument needs ------------------------
   Types and values of the standard for viOpen, viParseRsrc(Ex), the
   attributes and the event calls, as a 64-bit library declares them. */
typedef uint8_t ViUInt8;
typedef uint16_t ViUInt16;
typedef uint64_t ViUInt64;
typedef ViUInt16 ViBoolean;
typedef ViUInt32 ViAttr;
typedef ViUInt64 ViAttrState; /* the value viSetAttribute takes, of any attribute's type */
typedef ViUInt32 ViAccessMode;
typedef ViUInt32 ViEventType;
typedef const ViChar *ViConstRsrc;

#define VI_NULL 0
#define VI_FALSE 0
#define VI_TRUE 1

#define VI_SUCCESS_EVENT_DIS ((ViStatus)0x3FFF0003u)     /* the event was not enabled */
#define VI_SUCCESS_QUEUE_EMPTY ((ViStatus)0x3FFF0004u)   /* no event was queued */
#define VI_WARN_NULL_OBJECT ((ViStatus)0x3FFF0082u)      /* viClose(VI_NULL) */
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012u)   /* not a resource name */
#define VI_ERROR_INV_ACC_MODE ((ViStatus)0xBFFF0013u)    /* an access mode of no meaning */
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001Du)       /* no such attribute on this object */
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001Eu) /* a value the attribute cannot take */
#define VI_ERROR_ATTR_READONLY ((ViStatus)0xBFFF001Fu)   /* the attribute cannot be set */
#define VI_ERROR_INV_EVENT ((ViStatus)0xBFFF0026u)       /* not an event type */
#define VI_ERROR_INV_MECH ((ViStatus)0xBFFF0027u)        /* not an event mechanism */

/* Access modes of viOpen. */
#define VI_NO_LOCK 0u
#define VI_EXCLUSIVE_LOCK 1u
#define VI_SHARED_LOCK 2u
#define VI_LOAD_CONFIG 4u

/* Interface types (VI_ATTR_INTF_TYPE, viParseRsrc). */
#define VI_INTF_GPIB 1
#define VI_INTF_VXI 2
#define VI_INTF_GPIB_VXI 3
#define VI_INTF_ASRL 4
#define VI_INTF_PXI 5
#define VI_INTF_TCPIP 6
#define VI_INTF_USB 7

/* Events: every type, and the mechanisms. */
#define VI_ALL_ENABLED_EVENTS 0x3FFF7FFFu
#define VI_QUEUE 1u
#define VI_HNDLR 2u
#define VI_SUSPEND_HNDLR 4u
#define VI_ALL_MECH 0xFFFFu

/* The attributes the library knows. */
#define VI_ATTR_RSRC_CLASS 0xBFFF0001u        /* string: "INSTR", "SOCKET", ... */
#define VI_ATTR_RSRC_NAME 0xBFFF0002u         /* string: the expanded resource name */
#define VI_ATTR_RSRC_IMPL_VERSION 0x3FFF0003u /* ViUInt32 */
#define VI_ATTR_RSRC_LOCK_STATE 0x3FFF0004u   /* ViAccessMode */
#define VI_ATTR_MAX_QUEUE_LENGTH 0x3FFF0005u  /* ViUInt32, 50 */
#define VI_ATTR_USER_DATA 0x3FFF0007u         /* ViUInt64, 0 */
#define VI_ATTR_SEND_END_EN 0x3FFF0016u       /* ViBoolean, VI_TRUE */
#define VI_ATTR_TERMCHAR 0x3FFF0018u          /* ViUInt8, line feed */
#define VI_ATTR_TMO_VALUE 0x3FFF001Au         /* ViUInt32, 2000 ms */
#define VI_ATTR_TERMCHAR_EN 0x3FFF0038u       /* ViBoolean, VI_FALSE */
#define VI_ATTR_RSRC_SPEC_VERSION 0x3FFF0170u /* ViUInt32 */
#define VI_ATTR_INTF_TYPE 0x3FFF0171u         /* ViUInt16 */
#define VI_ATTR_RSRC_MANF_NAME 0xBFFF0174u    /* string */
#define VI_ATTR_RSRC_MANF_ID 0x3FFF0175u      /* ViUInt16 */
#define VI_ATTR_INTF_NUM 0x3FFF0176u          /* ViUInt16: the board number */

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
/* Closes an instrument session, a find list, or a resource manager together
   with every find list and session opened through it; the number is not
   handed out again. VI_NULL answers the warning VI_WARN_NULL_OBJECT; any
   other number that is not open answers VI_ERROR_INV_OBJECT. */
VISA_STANDIN_API ViStatus viClose(ViObject object);
/* A short text for status into description, at most VI_FIND_BUFLEN bytes
   with the NUL. object is not looked at (a failed viOpenDefaultRM has none).
   A status the library does not know gets a generic text and the answer
   VI_WARN_UNKNOWN_STATUS; a null description answers VI_ERROR_USER_BUF. */
VISA_STANDIN_API ViStatus viStatusDesc(ViObject object, ViStatus status, ViChar description[]);

/* ---- Instrument sessions ------------------------------------------------
   Enough of the standard for a client such as PyVISA to open a resource by
   name, read and set its attributes, and close it again; the library does
   no I/O.

   Resource names: INTERFACE[board]::fields[::CLASS], the interface word
   and the class in either case, the board 0 when left out, the class INSTR
   when left out. The forms known: GPIB[n]::primary[::secondary][::INSTR],
   GPIB[n]::INTFC, GPIB[n]::SERVANT, VXI[n]::address[::INSTR],
   VXI[n]::MEMACC, VXI[n][::address]::BACKPLANE, VXI[n]::SERVANT, the same
   INSTR, MEMACC and BACKPLANE forms for GPIB-VXI[n], ASRL[n][::INSTR],
   PXI[n]::device[::function[::more]][::INSTR], PXI[n]::MEMACC,
   PXI[n]::chassis::BACKPLANE, TCPIP[n]::host[::device name][::INSTR],
   TCPIP[n]::host::port::SOCKET, USB[n]::maker::model::serial[::interface]
   [::INSTR] and the same with ::RAW. Addresses, ports and USB interface
   numbers are decimal. The expanded name writes the interface and class in
   capitals with the board number, and a LAN instrument's default device
   name inst0: "tcpip::10.0.0.5" expands to "TCPIP0::10.0.0.5::inst0::INSTR".
   A GPIB instrument's secondary address 0 names the same device as none
   (PyVISA writes "GPIB0::12::0::INSTR" for "GPIB0::12::INSTR"); the
   expanded name keeps what was written.
   A name without "::" that starts with no interface word would be an alias;
   the library knows none, so it is VI_ERROR_RSRC_NFOUND, where any other
   name that is not of these forms is VI_ERROR_INV_RSRC_NAME.

   Instrument sessions are numbered like every other object and belong to
   the resource manager they were opened through: closing it closes them. */

/* Parses rsrcName: its interface type and board number. resourceManager
   must be an open resource manager (VI_ERROR_INV_OBJECT); the outputs must
   not be null (VI_ERROR_USER_BUF). The resource need not be present. */
VISA_STANDIN_API ViStatus viParseRsrc(ViSession resourceManager, ViConstRsrc rsrcName,
                                      ViUInt16 *intfType, ViUInt16 *intfNum);
/* viParseRsrc, and also the resource class, the expanded name and the alias
   (always empty: the library has no aliases), each into a buffer of
   VI_FIND_BUFLEN bytes. */
VISA_STANDIN_API ViStatus viParseRsrcEx(ViSession resourceManager, ViConstRsrc rsrcName,
                                        ViUInt16 *intfType, ViUInt16 *intfNum, ViChar rsrcClass[],
                                        ViChar expandedUnaliasedName[], ViChar aliasIfExists[]);
/* Opens a session to rsrcName into *vi. The resource must be listed in the
   resources file (read anew by each call; names compared expanded, letters
   in either case): else VI_ERROR_RSRC_NFOUND. accessMode is VI_NO_LOCK,
   VI_EXCLUSIVE_LOCK or VI_SHARED_LOCK, optionally with VI_LOAD_CONFIG, else
   VI_ERROR_INV_ACC_MODE; a lock is recorded in VI_ATTR_RSRC_LOCK_STATE and
   never refused (the library keeps no locks between sessions). openTimeout
   is not looked at. Passes the gate like viOpenDefaultRM. */
VISA_STANDIN_API ViStatus viOpen(ViSession resourceManager, ViConstRsrc rsrcName,
                                 ViAccessMode accessMode, ViUInt32 openTimeout, ViSession *vi);
/* Reads an attribute of a resource manager or an instrument session into
   attrState, a variable of the attribute's type (a VI_FIND_BUFLEN buffer for
   a string). VI_ERROR_NSUP_ATTR for an attribute the object does not carry
   (find lists carry none). Resource managers carry the version, maker,
   lock state, timeout, queue length and user data; instrument sessions all
   the attributes above. */
VISA_STANDIN_API ViStatus viGetAttribute(ViObject object, ViAttr attribute, void *attrState);
/* Sets a writable attribute (timeout, queue length, user data, and on an
   instrument its termination character, its enable and VI_ATTR_SEND_END_EN).
   VI_ERROR_ATTR_READONLY for the others, VI_ERROR_NSUP_ATTR_STATE for a
   Boolean other than VI_TRUE or VI_FALSE or a value wider than the attribute.
   Attributes narrower than 64 bits read only the low 32 bits of attrState. */
VISA_STANDIN_API ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState attrState);
/* No event is ever enabled here: for a session (resource manager or
   instrument), a valid event type (VI_ALL_ENABLED_EVENTS or one of the
   standard's event numbers, 0x3FFF2000 to 0x3FFF20FF and 0xBFFF2000 to
   0xBFFF20FF) and mechanism (any non-empty combination of VI_QUEUE,
   VI_HNDLR and VI_SUSPEND_HNDLR, or VI_ALL_MECH), viDisableEvent answers
   VI_SUCCESS_EVENT_DIS and viDiscardEvents VI_SUCCESS_QUEUE_EMPTY. Otherwise
   VI_ERROR_INV_OBJECT, VI_ERROR_INV_EVENT or VI_ERROR_INV_MECH. */
VISA_STANDIN_API ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
VISA_STANDIN_API ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism);

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

/* Non-zero: every viOpenDefaultRM, viFindRsrc, viFindNext, viOpen and
   viClose, once counted, waits at a gate until the gate is opened again with
   0 (or by visa_standin_reset); the other entries and the controls are
   served meanwhile.
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
  int64_t open_calls;         /* viOpen calls, failed ones included */
  int64_t instruments_opened; /* instrument sessions viOpen handed out */
  int64_t instruments_open;   /* instrument sessions open now */
  int64_t parse_rsrc_calls;   /* viParseRsrc and viParseRsrcEx */
  int64_t attribute_calls;    /* viGetAttribute and viSetAttribute */
  int64_t event_calls;        /* viDisableEvent and viDiscardEvents */
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

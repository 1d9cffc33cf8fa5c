/*
 * libvelmora_hx: the Hexaflow I/O-name plug-in.
 *
 * The host loads this library into its own process and calls the four plug-in
 * entries below on any of its threads. The library in turn calls functions
 * that the host exports (memory manager, length-prefixed strings, variant
 * attributes, open sessions); they stay undefined in libvelmora_hx.so and
 * resolve against the host process when it is loaded.
 *
 * Conventions
 * - Every function answers a signed 32-bit status; 0 is success.
 * - Handles are host handles: a pointer to a pointer to a block that the host
 *   allocated. A handle that the plug-in stores at an output address belongs
 *   to the caller from then on; every other handle the plug-in allocates it
 *   disposes of before it returns.
 * - Strings passed in are length-prefixed (one length byte, then the bytes)
 *   where the type is ConstPStr, NUL-terminated where it is char *.
 * - No call raises an exception or keeps a lock when it returns. The entries
 *   the host calls on its UI path (GetIOControlNames, ReleasingAppRef) never
 *   wait for a call into an outside library that another thread is making:
 *   slow work (discovery, opening a store, VISA) runs on detached worker
 *   threads, one per library, and a request waits for none of them except
 *   for one pause of 100 ms for a running discovery worker.
 * - The library stays mapped after the host unloads it, because a worker may
 *   still be running.
 * - The IviIni_* functions below bear the names of libvelmora's functions
 *   with a different handle type: do not include this header and
 *   <velmora/velmora.h> in the same translation unit.
 */
#ifndef VELMORA_VELMORA_HX_H
#define VELMORA_VELMORA_HX_H

#include <stddef.h>
#include <stdint.h>

#if defined(VELMORA_HX_BUILDING)
#define VELMORA_HX_API __attribute__((visibility("default")))
#else
#define VELMORA_HX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Host data forms ---------------------------------------------------- */

typedef void **HxHandle;              /* host handle: *h is the block         */
typedef const unsigned char *ConstPStr; /* length-prefixed string             */
typedef void *HxVariantRef;           /* 8-byte slot referring to a variant   */

/* ---- Statuses of GetIOControlNames -------------------------------------- */

enum {
  VELMORA_HX_OK = 0,
  VELMORA_HX_BINDING = 2,       /* libraries still being bound; ask again     */
  VELMORA_HX_REFUSED = 5,       /* control class is not "IVI", or bad mode    */
  VELMORA_HX_OUT_OF_MEMORY = 6, /* memory ran out while building the result   */
  VELMORA_HX_HOST_FAILURE = 7   /* another host call failed building it       */
};

/* Refresh modes of GetIOControlNames. */
enum {
  VELMORA_HX_REFRESH_CHANGED = 0, /* rebuild what changed (discovery at most
                                     once per 20 seconds)                    */
  VELMORA_HX_REFRESH_FULL = 1,    /* rebuild everything                      */
  VELMORA_HX_CACHED_ONLY = 2      /* answer from the cached lists            */
};

/* ---- Plug-in entries ---------------------------------------------------- */

/*
 * Builds the list of names to offer in an I/O-name control.
 *
 * appContext  host context, passed on to GetIOControlOpenSessionsEx.
 * ioClass     the control's class; only "IVI" is served (null: refused).
 * reserved    not read.
 * names       receives the result handle: int32 count at offset 0, padding,
 *             then one variant per entry at offset 8 + 8*i, each with "n"
 *             (name), "g" = 1123 for open sessions, "id" = -1 for separators,
 *             7 for the "<Searching for more>" marker (6 on the entry before
 *             it), and two tail entries with "id" 3 and 2. The count is
 *             written only when the whole result succeeded.
 * properties  the control's properties: "displayFilter" bit 0x1000 offers
 *             IVI and modular-instrument names, bit 0x2000 VISA names;
 *             "typeClass" narrows IVI names to one class ("Ivi" or empty:
 *             all).
 * mode        VELMORA_HX_REFRESH_CHANGED, _FULL or VELMORA_HX_CACHED_ONLY. The
 *             first request after binding always runs as a full refresh.
 *
 * Answers, and what it leaves at *names:
 *   0      the result handle, which the host owns from then on;
 *   2      the libraries are still being bound: *names untouched;
 *   5      a class other than "IVI", or an unknown mode: untouched;
 *   6, 7   building the result handle failed, 6 when memory ran out (or a
 *          host call answered 2), 7 for another host failure: *names holds
 *          null when the handle itself could not be allocated, otherwise the
 *          partial handle with count 0 (the host's either way);
 *   6, 7   the last open session's "n" or "orig" could not be read (6 when
 *          the host answered 2): untouched;
 *   6      the plug-in's own memory ran out before the result handle existed
 *          (while reading sessions or merging the lists): untouched;
 *   other  the host's failure status from GetIOControlOpenSessionsEx, passed
 *          on: untouched.
 * A null names address answers 7 where the result would be stored.
 *
 * Never waits for another thread's call into the discovery, configuration or
 * VISA library; its only pause is one of 100 ms for a running discovery
 * worker. Each source on its own:
 * - discovery: answers 2 until the discovery library is bound, and only
 *   until then; modes 0 and 1 restart its worker as above.
 * - configuration (opt-in, below): the store is opened on the source's own
 *   worker, which modes 0 and 1 start whenever no store is open (mode 0, after
 *   a store that failed to open, only once 20 seconds have passed); while it
 *   runs, their answer carries "<Searching for more>" and the IVI names as
 *   they were. With the store open, mode 1 reloads it on this thread and
 *   mode 0 does so only when its file changed; while another thread is
 *   inside the configuration library the IVI names are served as they were,
 *   and the next mode-0 or mode-1 request makes the refresh.
 * - VISA (opt-in, below): bound, opened and listed on its own worker, which
 *   mode 1 starts, and mode 0 once the listing is more than 20 seconds old.
 */
VELMORA_HX_API int32_t GetIOControlNames(uint32_t appContext, ConstPStr ioClass, void *reserved,
                                         HxHandle *names, HxVariantRef properties, uint32_t mode);

/*
 * Stores at *items a new 32-byte handle of two right-click menu items ("id" 6
 * and 7, both "f" 2) and answers 0. With bit 0 or bit 3 of flags set it
 * answers 0 and writes nothing; with a null items address it answers 1; when
 * the handle cannot be allocated it stores null and answers 6.
 */
VELMORA_HX_API int32_t GetIOControlRtClickMenuItems(uintptr_t a1, uintptr_t a2, uintptr_t a3,
                                                    uintptr_t a4, uintptr_t a5, uint32_t flags,
                                                    HxHandle *items);

/* Closes the configuration handle (without saving), the installed-devices
   session and the VISA resource manager the plug-in holds open, each source
   on its own. Never waits for a call in flight: what another thread is using
   or opening is closed by that thread as soon as its call returns, so
   nothing opened before or during the release is left open. The lists stay
   as they were. Afterwards the store and the VISA resource manager are
   opened again by later requests, on their workers; a new installed-devices
   session only by the next call that binds the discovery library
   (IviIni_OpenIniFile, IviIni_ConfigurationChanged, the attribute
   functions). Answers what the release hook answers when one is bound
   (never in this build), otherwise 0. The argument is not used. */
VELMORA_HX_API int32_t ReleasingAppRef(void *appRef);

/* Answers the plug-in interface number, 4. */
VELMORA_HX_API int32_t GetInfo(void);

/* ---- Configuration wrappers --------------------------------------------- */
/*
 * These bear the names and arguments of libvelmora's functions and forward
 * to a configuration library when one is bound, answering what it answers.
 *
 * The configuration library is bound on opt-in only: the environment variable
 * VELMORA_HX_CONFIG_LIBRARY names it (a file name the dynamic loader searches
 * for, such as "libvelmora.so.1", or a path; ignored by set-user-ID and
 * set-group-ID processes). Unset or empty, nothing is loaded and these answer
 * 0 and write none of their outputs. Set, the first of them (or the
 * configuration source's worker) loads the library and binds its twelve
 * entries, all or none; when that fails they answer -1 and write nothing,
 * one trace line names the library and what was missing, and the next call
 * (or request) tries again. A host plug-in (this one, or a copy of it) is
 * refused the same way. The plug-in serialises every call into the library,
 * which takes no locks of its own.
 *
 * With the library bound, the "IVI" control lists the logical names of the
 * store that the library opens for a null path: for libvelmora's file store
 * the file VELMORA_STORE names, else <sysconfdir>/velmora/store.ini.
 *
 * IviIni_OpenIniFile additionally binds libqxmodinst.so and opens the
 * installed-devices session; IviIni_CloseIniFile closes that session first.
 * IviIni_ConfigurationChanged binds libqxmodinst.so too, and writes 1 to
 * *changed when the configuration library reports that the handle's store
 * changed, when the discovery library reports that the installed devices
 * changed since the session was opened, or when a bound VISA library's
 * listing is more than 20 seconds old; otherwise 0 (nothing when changed is
 * null). It never binds, opens or waits for the VISA library.
 */
VELMORA_HX_API int32_t IviIni_OpenIniFile(const char *path, void **handle);
VELMORA_HX_API int32_t IviIni_CloseIniFile(void *handle, uint8_t save);
VELMORA_HX_API int32_t IviIni_ConfigurationChanged(void *handle, uint8_t *changed);
VELMORA_HX_API int32_t IviIni_ReloadConfiguration(void *handle);
VELMORA_HX_API int32_t IviIni_GetNumberOfLogicalNames(void *handle, int32_t *count);
VELMORA_HX_API int32_t IviIni_GetNthLogicalName(void *handle, uint32_t index, const char **name);
VELMORA_HX_API int32_t IviIni_GetLogicalNameVI(void *handle, const char *name, char *buffer,
                                               uint32_t size);
VELMORA_HX_API int32_t IviIni_GetVIDriver(void *handle, const char *name, char *buffer,
                                          uint32_t size);
VELMORA_HX_API int32_t IviIni_GetDriverClass(void *handle, const char *name, char *buffer,
                                             uint32_t size);
VELMORA_HX_API int32_t IviIni_GetDriverClassCount(void *handle, const char *name, int32_t *count);
VELMORA_HX_API int32_t IviIni_GetDriverClassByIndex(void *handle, const char *name, int32_t index,
                                                    char *buffer, uint32_t size);
VELMORA_HX_API int32_t IviIni_GetDriverPrefix(void *handle, const char *name, char *buffer,
                                              uint32_t size);

/*
 * VISA wrappers: forward to the plug-in's VISA adapter when a VISA library is
 * bound, answering what it answers; otherwise they answer 0 and write
 * nothing. Name buffers are 256 bytes.
 *
 * A VISA library is bound on opt-in only: VELMORA_HX_VISA_LIBRARY names any
 * library with the standard VISA entries (viOpenDefaultRM, viFindRsrc,
 * viFindNext, viClose, viStatusDesc), by file name or path; ignored by
 * set-user-ID and set-group-ID processes. Bound, the "IVI" control lists its
 * resources that match VELMORA_HX_VISA_EXPRESSION ("?*::INSTR" by default),
 * and these wrappers walk the same find list:
 *   IviIni_GetNumberOfVisaNames  the number of resources, the first one's
 *                                name and a list handle (no resource: count
 *                                0, an empty name, list 0, status 0);
 *   IviIni_GetNextVisaName       the next name of that list;
 *   IviIni_CloseVisaNameList     closes the list (0 is no list).
 * The expression is used whole, whatever its length; one the library refuses
 * is named in a trace line. A failing binding answers -1 (one trace line
 * names the library and what was missing; the next call tries again); a
 * failing VISA call answers VISA's status (trace lines write it as VISA does,
 * in hexadecimal). ReleasingAppRef closes the resource manager and with it
 * every list.
 */
VELMORA_HX_API int32_t IviIni_GetNumberOfVisaNames(int32_t *count, char *buffer, uint32_t *list);
VELMORA_HX_API int32_t IviIni_GetNextVisaName(uint32_t list, char *buffer);
VELMORA_HX_API int32_t IviIni_CloseVisaNameList(uint32_t list);

/*
 * Installed modular instruments, from libqxmodinst.so. The handle argument is
 * ignored.
 *
 * IviIni_GetNumberOfModularInstruments: without an open session answers 0 and
 * writes nothing; otherwise closes and reopens the session, writes the device
 * count and answers 0, or answers the library's failing status.
 *
 * The three attribute functions bind the library if needed (answering -1 when
 * it cannot be bound, buffer untouched) and read the device's name, class or
 * prefix into buffer, which must hold the whole value: there is no size
 * argument. The class function answers the library's status of the read; the
 * name and prefix functions answer 0 once the library is bound.
 */
VELMORA_HX_API int32_t IviIni_GetNumberOfModularInstruments(void *handle, int32_t *count);
VELMORA_HX_API int32_t IviIni_GetModularInstrumentName(void *handle, uint32_t index, char *buffer);
VELMORA_HX_API int32_t IviIni_GetModularInstrumentClass(void *handle, uint32_t index, char *buffer);
VELMORA_HX_API int32_t IviIni_GetModularInstrumentPrefix(void *handle, uint32_t index,
                                                         char *buffer);

#ifdef __cplusplus
}
#endif

#endif /* VELMORA_VELMORA_HX_H */

// The Hexaflow host's functions as the plug-in calls them. The host process
// exports these; libvelmora_hx.so leaves them undefined and the dynamic linker
// resolves them against the host when the plug-in is loaded.
#ifndef VELMORA_PLUGIN_HOST_API_H
#define VELMORA_PLUGIN_HOST_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Host status: 0 success; the two values below are the only ones the
   plug-in gives a meaning to, every other non-zero value is a failure. */
typedef int32_t MgErr;
enum {
  kHostOk = 0,
  kHostOutOfMemory = 2,
  kHostAttributeAbsent = 90, /* from the get-attribute functions only */
};

/* A relocatable block: *h is the block's first byte. */
typedef void **HxHandle;
/* Length-prefixed string: p[0] is the length, p[1..len] the characters. */
typedef const unsigned char *ConstPStr;
/* An 8-byte slot that refers to a host variant; null refers to none. */
typedef void *HxVariantRef;

/* Layouts reached through a handle (*h is the block):
   - host long string: int32_t length at offset 0, then that many characters,
     no terminator;
   - list handle (name-list result, menu items, open sessions): int32_t count
     at offset 0, 4 bytes of padding, then one HxVariantRef slot per entry at
     offset 8 + 8*i. */
enum {
  kListHeaderSize = 8,
  kListSlotSize = 8,
  kLongStringHeaderSize = 4,
};

HxHandle DSNewHandle(size_t size);
HxHandle DSNewHClr(size_t size); /* zero-filled */
MgErr DSDisposeHandle(HxHandle h);
int32_t PStrCmp(ConstPStr a, ConstPStr b); /* 0 when length and bytes are equal */

/* Get: var is the address of a variant reference. 90 means absent and leaves
   the output untouched. A string comes back as a new long-string handle (or
   null) that the caller disposes of. */
MgErr HxVariantPStrGetUI32Attr(HxVariantRef *var, ConstPStr name, uint32_t *value);
MgErr HxVariantPStrGetStringAttr(HxVariantRef *var, ConstPStr name, HxHandle *longString);
/* Set: slot is the address of a variant slot; a null slot gets a new variant.
   The string is copied; the handle stays the caller's. */
MgErr HxVariantPStrSetUI32Attr(HxVariantRef *slot, ConstPStr name, uint32_t value);
MgErr HxVariantPStrSetStringAttr(HxVariantRef *slot, ConstPStr name, HxHandle longString);

/* Fills *sessions with a list handle of the host's open sessions of ioClass
   (or leaves it null). 0 success, 1 "the previous answer still holds", any
   other value a failure. The handle stays the host's. */
MgErr GetIOControlOpenSessionsEx(uint32_t appContext, ConstPStr ioClass,
                                 HxVariantRef properties, int32_t one, HxHandle *sessions);

#ifdef __cplusplus
}
#endif

#endif

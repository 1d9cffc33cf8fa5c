/* The part of the VISA library's C interface that the plug-in binds at run
   time when a user names a VISA library (VELMORA_HX_VISA_LIBRARY): the
   default resource manager and the find-list protocol over resource names.
   Types, values and shapes are those of the open VISA standard, which every
   VISA implementation exports; only the function types are declared, since
   the plug-in reaches the entries through pointers filled by dlsym. */
#ifndef VELMORA_PLUGIN_VISA_API_H
#define VELMORA_PLUGIN_VISA_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ViStatus;   /* negative: error; 0: success; positive: warning */
typedef uint32_t ViUInt32;
typedef uint32_t ViObject;  /* any VISA object: session, find list */
typedef ViObject ViSession;
typedef ViObject ViFindList;
typedef char ViChar;
typedef const ViChar *ViConstString;

/* Status values the plug-in tells apart. VISA writes them as unsigned hex;
   as ViStatus they are negative. */
#define VI_SUCCESS ((ViStatus)0)
#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000u) /* unknown system error */
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000Eu)   /* not a valid session or object */
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011u)  /* no resource matches the expression */
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010u)     /* the search expression is invalid */

/* A resource description, and a status description, fit in this many bytes
   with their NUL. */
#define VI_FIND_BUFLEN 256

typedef ViStatus (*viOpenDefaultRM_t)(ViSession *resourceManager);
/* Finds the resources whose names match expr: the first name into
   description, the number of matches into *count, a find list that
   viFindNext walks into *findList. No match answers VI_ERROR_RSRC_NFOUND. */
typedef ViStatus (*viFindRsrc_t)(ViSession resourceManager, ViConstString expr,
                                 ViFindList *findList, ViUInt32 *count, ViChar description[]);
typedef ViStatus (*viFindNext_t)(ViFindList findList, ViChar description[]);
/* Closes a session or a find list; closing a resource manager closes every
   object opened through it. */
typedef ViStatus (*viClose_t)(ViObject object);
typedef ViStatus (*viStatusDesc_t)(ViObject object, ViStatus status, ViChar description[]);

#ifdef __cplusplus
}
#endif

#endif

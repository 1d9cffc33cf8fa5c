// Entries of the modular-instrument discovery library libqxmodinst.so, which
// the plug-in binds at run time. Only the function types are declared here:
// the plug-in reaches the library through entry slots filled by dlsym.
#ifndef VELMORA_PLUGIN_MODINST_API_H
#define VELMORA_PLUGIN_MODINST_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QXMODINST_LIBRARY_NAME "libqxmodinst.so"
/* The driver name every session is opened with. */
#define QXMODINST_DRIVER_NAME "qxModularInstrument"

/* String attributes of an installed device. */
enum {
  kModInstAttrName = 0,
  kModInstAttrClass = 3,
  kModInstAttrPrefix = 4,
};

typedef int32_t (*qxModInst_OpenInstalledDevicesSession_t)(const char *driver, int32_t *session,
                                                           int32_t *count);
/* Size 0 with a null buffer answers the size the value needs (length + 1);
   a buffer of at least that size receives the value and 0 is answered; a
   smaller positive size receives size-1 bytes and a NUL and the needed size
   is answered; an unknown session or index answers a negative status. */
typedef int32_t (*qxModInst_GetInstalledDeviceAttributeViString_t)(int32_t session, int32_t index,
                                                                   int32_t attribute, int32_t size,
                                                                   char *buffer);
typedef int32_t (*qxModInst_GetInstalledDeviceAttributeViInt32_t)(int32_t session, int32_t index,
                                                                  int32_t attribute, int32_t *value);
typedef int32_t (*qxModInst_CloseInstalledDevicesSession_t)(int32_t session);
/* *current becomes non-zero while the installed devices are as they were when
   the session was opened, 0 once they changed. */
typedef int32_t (*qxModInst_IsConfigurationCurrent_t)(int32_t session, uint16_t *current);

#ifdef __cplusplus
}
#endif

#endif

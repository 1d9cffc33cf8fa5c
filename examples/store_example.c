/* store_example: libvelmora's C interface over a store file (build with
 * -DVELMORA_STORE=file). Usage: store_example STORE-FILE
 *
 * Lists the logical names and walks from each to its session, and on to the
 * session's driver and device; prints a session's channel names and a
 * driver's instrument classes; then edits the store, saves it, and reads the
 * edit back. It changes the file: run it on a copy of examples/store.ini. */
#include <stdio.h>
#include <stdlib.h>

#include "velmora/velmora.h"

/* Reports a failed call and ends the program. */
static void Check(const char *call, int32_t status) {
  if (status < 0) {
    fprintf(stderr, "%s failed with status %ld\n", call, (long)status);
    exit(1);
  }
}

/* One string property through one of the get functions into a buffer of
 * 256 bytes; "" when absent. */
typedef int32_t (*GetString)(IviIniHandle, const char *, char *, int32_t);
static const char *Get(GetString get, IviIniHandle h, const char *name, char *buffer) {
  Check("get", get(h, name, buffer, 256));
  return buffer;
}

static void WalkLogicalNames(IviIniHandle h) {
  int32_t count = 0;
  Check("IviIni_GetNumberOfLogicalNames", IviIni_GetNumberOfLogicalNames(h, &count));
  printf("%ld logical names\n", (long)count);
  for (int32_t i = 1; i <= count; ++i) {
    const char *name = NULL;
    char session[256], driver[256], device[256], text[256];
    Check("IviIni_GetNthLogicalName", IviIni_GetNthLogicalName(h, i, &name));
    printf("  %s", name);
    Get(IviIni_GetLogicalNameVI, h, name, session);
    if (session[0] == '\0') {
      printf(" -> no session\n");
      continue;
    }
    printf(" -> session %s\n", session);
    Get(IviIni_GetVIDriver, h, session, driver);
    Get(IviIni_GetVIDevice, h, session, device);
    if (driver[0] != '\0') {
      printf("       driver %s, prefix %s\n", driver, Get(IviIni_GetDriverPrefix, h, driver, text));
    } else {
      printf("       no driver in this store\n");
    }
    if (device[0] != '\0') {
      printf("       device %s at %s\n", device,
             Get(IviIni_GetDeviceResourceDescriptor, h, device, text));
    }
  }
}

static void ShowChannels(IviIniHandle h, const char *session) {
  int32_t count = 0; /* the library adds to the count it is given */
  IviIni_GetNumberOfChannels(h, session, &count);
  printf("channels of %s (%ld):", session, (long)count);
  for (int32_t i = 1; i <= count; ++i) {
    const char *name = NULL;
    IviIni_GetNthChannel(h, session, i, &name);
    printf(" %s", name != NULL ? name : "?");
  }
  printf("\n");
}

static void ShowClasses(IviIniHandle h, const char *driver) {
  int32_t count = 0;
  char name[64];
  Check("IviIni_GetDriverClassCount", IviIni_GetDriverClassCount(h, driver, &count));
  printf("instrument classes of %s (%ld):", driver, (long)count);
  for (int32_t i = 1; i <= count; ++i) {
    Check("IviIni_GetDriverClassByIndex",
          IviIni_GetDriverClassByIndex(h, driver, i, name, sizeof name));
    printf(" %s", name);
  }
  printf("\n");
}

int main(int argc, char **argv) {
  IviIniHandle h = NULL;
  char session[256], resource[256];
  if (argc != 2) {
    fprintf(stderr, "usage: store_example STORE-FILE   (a copy: the example saves into it)\n");
    return 2;
  }
  Check("IviIni_OpenIniFile", IviIni_OpenIniFile(argv[1], &h));

  WalkLogicalNames(h);
  printf("\n");
  ShowChannels(h, "Bench3.ScopeSession");
  ShowClasses(h, "acmeScope");

  /* The spare logical name gets the meter's session; a new device joins. */
  printf("\nediting: Spare -> Meter7Session, new device Bench3.Psu, Meter7 simulated off\n");
  Check("IviIni_SetLogicalNameVI", IviIni_SetLogicalNameVI(h, "Spare", "Meter7Session"));
  Check("IviIni_AddDevice", IviIni_AddDevice(h, "Bench3.Psu"));
  Check("IviIni_SetDeviceResourceDescriptor",
        IviIni_SetDeviceResourceDescriptor(h, "Bench3.Psu", "GPIB0::5::INSTR"));
  Check("IviIni_SetVISimulation", IviIni_SetVISimulation(h, "Meter7Session", 0));
  Check("IviIni_CloseIniFile", IviIni_CloseIniFile(h, 1));
  printf("saved\n\n");

  Check("IviIni_OpenIniFile", IviIni_OpenIniFile(argv[1], &h));
  printf("read back: Spare -> %s; Bench3.Psu at %s\n",
         Get(IviIni_GetLogicalNameVI, h, "Spare", session),
         Get(IviIni_GetDeviceResourceDescriptor, h, "Bench3.Psu", resource));
  Check("IviIni_CloseIniFile", IviIni_CloseIniFile(h, 0));
  return 0;
}

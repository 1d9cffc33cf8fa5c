/* velmora_example: drives libvelmora's C interface and prints what each call
 * answers. Usage: velmora_example [configuration-file]
 *
 * The back end shipped on this platform has no configuration store, so the
 * open fails with the back end's status and every later call reports that
 * the handle is not an open configuration; the program shows exactly that. */
#include <stdio.h>
#include <string.h>

#include "velmora/velmora.h"

static const char *Meaning(int32_t status) {
  switch (status) {
    case kIviIniSuccess:
      return "success";
    case kIviIniBackEndFailure:
      return "the configuration store failed";
    case kIviIniOutOfMemory:
      return "out of memory";
    case kIviIniInvalidHandle:
      return "not an open configuration";
    case kIviIniNullPointer:
      return "null output pointer";
    case kIviIniPathTooLong:
      return "path longer than 256 characters";
    case kIviIniClassIndexOutOfRange:
      return "driver class index out of range";
    case kIviIniNoStore:
      return "configuration holds no store";
    default:
      break;
  }
  return status > 0 ? "buffer size needed, or a result passed on" : "failure reported by the store";
}

static void Show(const char *call, int32_t status) {
  printf("%-44s %11ld  %s\n", call, (long)status, Meaning(status));
}

int main(int argc, char **argv) {
  const char *path = argc > 1 ? argv[1] : "velmora_example.ini";
  char longPath[300];
  char buffer[256] = "";
  const char *name = NULL;
  IviIniHandle h = NULL;
  IviIniHandle untouched = NULL;
  int32_t count = 0;
  int32_t status;
  uint8_t changed = 0;

  printf("libvelmora example, configuration file \"%s\"\n\n", path);

  /* The argument checks answer before the store is reached. */
  memset(longPath, 'x', sizeof longPath - 1);
  longPath[sizeof longPath - 1] = '\0';
  Show("IviIni_OpenIniFile(<299 characters>)", IviIni_OpenIniFile(longPath, &untouched));
  Show("IviIni_OpenIniFile(path, NULL)", IviIni_OpenIniFile(path, NULL));

  Show("IviIni_OpenIniFile(path, &h)", IviIni_OpenIniFile(path, &h));
  printf("%-44s %s\n", "  handle", h != NULL ? "open" : "null");

  Show("IviIni_ConfigurationChanged", IviIni_ConfigurationChanged(h, &changed));
  status = IviIni_GetNumberOfLogicalNames(h, &count);
  Show("IviIni_GetNumberOfLogicalNames", status);
  if (status == kIviIniSuccess) printf("%-44s %ld\n", "  logical names", (long)count);
  Show("IviIni_GetNthLogicalName(1)", IviIni_GetNthLogicalName(h, 1, &name));
  if (name != NULL) printf("%-44s %s\n", "  first logical name", name);
  Show("IviIni_GetVIDriver(\"DMM1\")", IviIni_GetVIDriver(h, "DMM1", buffer, sizeof buffer));
  Show("IviIni_GetDriverClassCount(\"ExampleDmm\")",
       IviIni_GetDriverClassCount(h, "ExampleDmm", &count));
  Show("IviIni_SetVISimulation(\"DMM1\", 1)", IviIni_SetVISimulation(h, "DMM1", 1));

  count = 0;
  Show("IviIni_GetNumberOfChannels(\"DMM1\")", IviIni_GetNumberOfChannels(h, "DMM1", &count));
  printf("%-44s %ld\n", "  channels", (long)count);

  Show("IviIni_CloseIniFile(h, 0)", IviIni_CloseIniFile(h, 0));
  return 0;
}

/* Uses an installed velmora: calls libvelmora through its header, and loads
   the plug-in from its installed location (plugin.c). */
#include <stdio.h>

#include <velmora/velmora.h>

int check_plugin(void);
#ifdef HAVE_VELMORA_STORE
int check_store(void);
#endif

int main(void) {
  IviIniHandle handle = (IviIniHandle)&handle;
  /* No such file, whichever back end is installed: a failure and a null
     handle (the placeholder opens nothing at all). */
  int32_t status = IviIni_OpenIniFile("no-such-consumer-store.ini", &handle);
  if (status >= 0 || handle != NULL) {
    printf("IviIni_OpenIniFile answered %d\n", (int)status);
    return 1;
  }
  if (check_plugin() != 0) return 1;
#ifdef HAVE_VELMORA_STORE
  if (check_store() != 0) return 1;
#endif
  printf("consumer ok\n");
  return 0;
}

/* The plug-in's side of the consumer, in a translation unit of its own: its
   header declares IviIni_* names of its own, with a different handle type
   than libvelmora's. */
#include <dlfcn.h>
#include <stdio.h>

#include <velmora/velmora_hx.h>

int check_plugin(void) {
  /* Lazy binding: the host's functions are not in this process, and GetInfo
     needs none of them. */
  void *plugin = dlopen(PLUGIN_PATH, RTLD_LAZY | RTLD_LOCAL);
  if (plugin == NULL) {
    printf("cannot load %s: %s\n", PLUGIN_PATH, dlerror());
    return 1;
  }
  typedef int32_t (*get_info_fn)(void);
  get_info_fn get_info = (get_info_fn)dlsym(plugin, "GetInfo");
  if (get_info == NULL || get_info() != 4) {
    printf("the plug-in does not answer GetInfo with 4\n");
    return 1;
  }
  return 0;
}

// libvelmora_hx.so is made of the whole of velmora_hx_core; this file only
// gives the shared library a source of its own.

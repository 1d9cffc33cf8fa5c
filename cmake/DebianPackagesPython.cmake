# The Debian package python3-velmora, from the install component python
# (python/CMakeLists.txt): the pure-Python package in
# /usr/lib/python3/dist-packages/velmora, for every architecture. It loads
# libvelmora-store.so.1 at run time through ctypes, so dpkg-shlibdeps cannot
# see that need: the dependency on the library's package of this very version
# is written here. The package ships sources only; postinst byte-compiles them
# and prerm removes what that made, as Debian's Python packages do, so that
# nothing of the package is left behind. Included by DebianPackages.cmake.

velmora_deb_package(python python3-velmora python
"IVI logical names for Python
The velmora package reads and edits the IVI configuration store files of
libvelmora from Python: logical names, driver sessions, drivers and devices,
with every key as an attribute, saved atomically and never over another
program's change. store.resolve(name) follows a logical name to its driver,
resource and settings, and velmora.visa.open_resource opens the instrument
a logical name stands for with PyVISA.
.
This package holds the Python 3 package; it needs no compiler.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, libvelmora-store1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-pyvisa")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
  "${PROJECT_SOURCE_DIR}/packaging/debian/python3-velmora/postinst"
  "${PROJECT_SOURCE_DIR}/packaging/debian/python3-velmora/prerm")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian packages of the file flavour, built with CPack's DEB generator from
# the install components that Packaging.cmake and tools/ declare:
#
#   runtime        libvelmora1        libvelmora.so.1*, and the empty /etc/velmora/
#   store_runtime  libvelmora-store1  libvelmora-store.so.1*: the store file, whole
#   plugin         libvelmora-hx1     the Hexaflow plug-in, velmora/libvelmora_hx.so
#   dev            libvelmora-dev     headers, the .so links, pkg-config files,
#                                     the CMake package, libvelmora(3) and
#                                     libvelmora-store(3)
#   tools          velmora-tools      velmora-store and velmora-store(1)
#   python         python3-velmora    the Python package velmora
#                                     (DebianPackagesPython.cmake)
#
# with the debug information of every binary in a -dbgsym package beside it,
# and a symbols file for each shared library. Every binary is built with
# Debian's hardening flags (VelmoraBuild.cmake), the plug-in without -z now:
# it resolves the host's functions, which only the host process has, so it
# is bound lazily.
# Only the file flavour configured for the prefix /usr is packaged: the
# library carries its default store path (<sysconfdir>/velmora/store.ini)
# from configure time, and a package must say /etc/velmora/store.ini. Any
# other configuration gets a `package` target that says so and fails.

if(NOT VELMORA_STORE STREQUAL "file" OR NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  add_custom_target(package
    COMMAND "${CMAKE_COMMAND}" -E echo
      "Debian packages are made from the file store configured for the prefix /usr: use the release-file preset (scripts/package.sh)"
    COMMAND false
    VERBATIM)
  return()
endif()

set(VELMORA_DEB_MAINTAINER "velmora developers <velmora-dev@example.org>")
set(_velmora_deb_doc "${PROJECT_SOURCE_DIR}/packaging/debian")

# Every package carries its copyright and changelog under /usr/share/doc.
# They belong to packages only, so a plain `cmake --install` leaves them out.
configure_file("${_velmora_deb_doc}/changelog.in" "${PROJECT_BINARY_DIR}/debian/changelog" @ONLY)
add_custom_command(OUTPUT "${PROJECT_BINARY_DIR}/debian/changelog.gz"
  COMMAND gzip -9 -n -c "${PROJECT_BINARY_DIR}/debian/changelog"
          > "${PROJECT_BINARY_DIR}/debian/changelog.gz"
  DEPENDS "${PROJECT_BINARY_DIR}/debian/changelog"
  VERBATIM)
add_custom_target(velmora_deb_changelog ALL DEPENDS "${PROJECT_BINARY_DIR}/debian/changelog.gz")

# velmora_deb_package(<component> <package> <section> <description>)
# The description's first line is the synopsis, the rest the long text.
function(velmora_deb_package component package section description)
  string(TOUPPER "${component}" c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME "${package}" PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_PACKAGE_SECTION "${section}" PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_DESCRIPTION "${description}" PARENT_SCOPE)
  set(CPACK_DEBIAN_${c}_FILE_NAME DEB-DEFAULT PARENT_SCOPE)
  install(FILES "${_velmora_deb_doc}/copyright" "${PROJECT_BINARY_DIR}/debian/changelog.gz"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}"
    COMPONENT ${component} EXCLUDE_FROM_ALL)
  if(EXISTS "${_velmora_deb_doc}/${package}.lintian-overrides")
    install(FILES "${_velmora_deb_doc}/${package}.lintian-overrides"
      DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides" RENAME "${package}"
      COMPONENT ${component} EXCLUDE_FROM_ALL)
  endif()
endfunction()

velmora_deb_package(runtime libvelmora1 libs
"IVI instrument-driver configuration access library
libvelmora opens an IVI configuration store (logical names, driver
sessions, drivers and devices) and lets programs read and edit it through
43 C functions named IviIni_*. This build keeps the store in a plain text
file, by default /etc/velmora/store.ini, and saves it atomically without
ever overwriting another program's change.
.
This package holds the shared library libvelmora.so.1 and the empty
/etc/velmora folder of the system's store.")

velmora_deb_package(store_runtime libvelmora-store1 libs
"IVI configuration store files - whole-file access library
libvelmora-store reads and edits everything a libvelmora store file holds,
through C functions named velmora_store_*: every key of every kind of item,
drivers added and removed, items removed only when nothing refers to them
(or by force), and why a file was refused (its line) or a save failed (its
step, path and errno). Built from the same store code as libvelmora, with
the same saves. velmora-store and language bindings use it.
.
This package holds the shared library libvelmora-store.so.1.")

velmora_deb_package(plugin libvelmora-hx1 libs
"IVI name plug-in for the Hexaflow host application
libvelmora_hx is loaded by Hexaflow to fill its I/O-name controls of class
IVI: IVI logical names, installed modular instruments and VISA resource
names, filtered and sorted in a natural order. It loads the modular-
instrument discovery library libqxmodinst.so of the host's installation,
and when the host's environment names them, libvelmora.so.1 for the
logical names of a store (VELMORA_HX_CONFIG_LIBRARY) and a VISA library
for the resource names (VELMORA_HX_VISA_LIBRARY).
.
This package holds the plug-in velmora/libvelmora_hx.so; the host loads it
with dlopen. It is bound lazily: the host's functions it calls exist only
inside the host.")

velmora_deb_package(dev libvelmora-dev libdevel
"IVI configuration access library - development files
Everything needed to build programs against libvelmora and libvelmora-store
and to locate the Hexaflow plug-in: the headers velmora/velmora.h,
velmora/velmora_store.h and velmora/velmora_hx.h, the libvelmora.so and
libvelmora-store.so links, pkg-config files (velmora, velmora-store,
velmora_hx), the CMake package (find_package(velmora)) and the
libvelmora(3) and libvelmora-store(3) manual pages.")

velmora_deb_package(tools velmora-tools utils
"command-line tool for IVI configuration store files
velmora-store checks, shows and edits the text files in which libvelmora
keeps IVI configurations, through libvelmora-store, built from the same
store code: a file it accepts is one every program using libvelmora
accepts, and its messages name the library's statuses. Suited to scripts:
its exit statuses tell not found, wrong usage, an unreadable store, a
change by another program (worth a retry, --retry), a refused edit and a
failed save apart.
.
This package holds velmora-store and its manual page velmora-store(1).")

include(DebianPackagesPython)

# libvelmora1 owns the folder of the default store; the store itself is the
# administrator's, so the package never ships or removes one.
install(DIRECTORY DESTINATION "${CMAKE_INSTALL_FULL_SYSCONFDIR}/velmora"
  COMPONENT runtime EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "velmora developers")
set(CPACK_PACKAGE_CONTACT "${VELMORA_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# Empty: each package's description starts with a synopsis of its own, which
# CPack would otherwise push down below the project's.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
# Absolute destinations (/etc/velmora) land inside the package's tree.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE velmora)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binaries need, through dpkg-shlibdeps, and a
# shlibs file for libvelmora1 so that packages built on it depend on it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# velmora-store links libvelmora-store, and the two are always upgraded
# together: velmora-tools depends on exactly this version of
# libvelmora-store1. dpkg-shlibdeps finds an unpackaged library through -l
# and reads its dependency from the DEBIAN/shlibs of the tree the library
# lies in, as a Debian source package building several binary packages does
# with debian/shlibs.local: this tree holds the built library and that file.
# Packages of others get the symbols file of libvelmora-store1 (>=).
set(_velmora_shlibs_root "${PROJECT_BINARY_DIR}/debian/shlibs.local/libvelmora-store1")
file(MAKE_DIRECTORY "${_velmora_shlibs_root}/lib")
file(WRITE "${_velmora_shlibs_root}/DEBIAN/shlibs"
  "libvelmora-store ${PROJECT_VERSION_MAJOR} libvelmora-store1 (= ${PROJECT_VERSION})\n")
add_custom_target(velmora_deb_shlibs ALL
  COMMAND "${CMAKE_COMMAND}" -E create_symlink "$<TARGET_SONAME_FILE:velmora_store>"
          "${_velmora_shlibs_root}/lib/$<TARGET_SONAME_FILE_NAME:velmora_store>"
  VERBATIM)
add_dependencies(velmora_deb_shlibs velmora_store)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${_velmora_shlibs_root}/lib")

# velmora_deb_symbols(<component> <package> <soname> <export list>)
# The symbols file of a shared library's package, from the library's list of
# exports: every function there since this first version, and the -dev
# package to build against it.
function(velmora_deb_symbols component package soname list)
  velmora_read_export_list("${list}" names)
  set(text "${soname} ${package} #MINVER#\n* Build-Depends-Package: libvelmora-dev\n")
  foreach(name IN LISTS names)
    string(APPEND text " ${name}@Base 1.0.0\n")
  endforeach()
  set(file "${PROJECT_BINARY_DIR}/debian/control/${package}/symbols")
  file(WRITE "${file}" "${text}")
  string(TOUPPER "${component}" c)
  set(CPACK_DEBIAN_${c}_PACKAGE_CONTROL_EXTRA "${file}" PARENT_SCOPE)
endfunction()
velmora_deb_symbols(runtime libvelmora1 libvelmora.so.1
  "${PROJECT_SOURCE_DIR}/config/libvelmora.symbols")
velmora_deb_symbols(store_runtime libvelmora-store1 libvelmora-store.so.1
  "${PROJECT_SOURCE_DIR}/config/libvelmora-store.symbols")
# Binaries are stripped; their debug information goes to <package>-dbgsym.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# Mends what CPack leaves undone (.comment sections, md5sums and docs of
# -dbgsym, ldconfig).
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/DebianPackagesFinish.cmake")
set(CPACK_VELMORA_OBJCOPY "${CMAKE_OBJCOPY}")
# The development files are of this exact build of the libraries: the CMake
# package names the plug-in's file too.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "libvelmora1 (= ${PROJECT_VERSION}), libvelmora-store1 (= ${PROJECT_VERSION}), libvelmora-hx1 (= ${PROJECT_VERSION})")
# The plug-in binds libvelmora.so.1 when the host's environment names it.
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SUGGESTS "libvelmora1")

include(CPack)

# Installation: the libraries, their public headers, a CMake package
# (find_package(velmora) gives velmora::velmora, velmora::velmora_hx and, in
# the file flavour, velmora::velmora_store) and pkg-config files. The demo host and the stand-ins are not installed: they
# exist for tests and the demo only, and so does the second, file-flavour copy
# of libvelmora that placeholder builds make (velmora_file_store).
#
# Every file belongs to one install component, which is one Debian package
# (DebianPackages.cmake): runtime (libvelmora.so.1*), store_runtime
# (libvelmora-store.so.1*, file flavour), plugin (velmora/libvelmora_hx.so),
# dev (headers, the .so links, the CMake package, pkg-config files, the
# section 3 manual pages) and tools (velmora-store, tools/).
include(CMakePackageConfigHelpers)

set(VELMORA_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/velmora")
# Shared objects are data to the loader: not executable, as Debian has them.
set(VELMORA_LIBRARY_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(TARGETS velmora EXPORT velmoraTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" PERMISSIONS ${VELMORA_LIBRARY_PERMISSIONS}
    COMPONENT runtime NAMELINK_COMPONENT dev
  PUBLIC_HEADER DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/velmora" COMPONENT dev)
# The plug-in is loaded with dlopen, never linked; the imported target exists
# so that consumers can find it ($<TARGET_FILE:velmora::velmora_hx>) and its
# header. Being nobody's link-time library, it lives in a folder of its own
# below the library folder, out of the dynamic linker's search path, as
# Debian keeps plug-ins.
set(VELMORA_PLUGIN_DIR "${CMAKE_INSTALL_LIBDIR}/velmora")
install(TARGETS velmora_hx EXPORT velmoraTargets
  LIBRARY DESTINATION "${VELMORA_PLUGIN_DIR}" PERMISSIONS ${VELMORA_LIBRARY_PERMISSIONS}
    COMPONENT plugin
  PUBLIC_HEADER DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/velmora" COMPONENT dev)

# The store file's whole C interface, built with the file flavour only.
if(TARGET velmora_store)
  install(TARGETS velmora_store EXPORT velmoraTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" PERMISSIONS ${VELMORA_LIBRARY_PERMISSIONS}
      COMPONENT store_runtime NAMELINK_COMPONENT dev
    PUBLIC_HEADER DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/velmora" COMPONENT dev)
endif()

install(EXPORT velmoraTargets NAMESPACE velmora:: DESTINATION "${VELMORA_CMAKE_DIR}"
  COMPONENT dev)
configure_package_config_file(cmake/velmoraConfig.cmake.in
  "${PROJECT_BINARY_DIR}/velmoraConfig.cmake" INSTALL_DESTINATION "${VELMORA_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/velmoraConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/velmoraConfig.cmake"
              "${PROJECT_BINARY_DIR}/velmoraConfigVersion.cmake"
  DESTINATION "${VELMORA_CMAKE_DIR}" COMPONENT dev)

# From <prefix>/<libdir>/pkgconfig back up to <prefix>.
file(RELATIVE_PATH VELMORA_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
# The answer may end in a slash, which would double the one the .pc files add.
string(REGEX REPLACE "/$" "" VELMORA_PC_UP "${VELMORA_PC_UP}")
set(_velmora_pc_files velmora velmora_hx)
if(TARGET velmora_store)
  list(APPEND _velmora_pc_files velmora-store)
endif()
foreach(pc IN LISTS _velmora_pc_files)
  configure_file("cmake/${pc}.pc.in" "${PROJECT_BINARY_DIR}/${pc}.pc" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/${pc}.pc"
    DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig" COMPONENT dev)
endforeach()

include(DebianPackages)

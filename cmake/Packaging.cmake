# Installation: both libraries, their public headers, a CMake package
# (find_package(velmora) gives velmora::velmora and velmora::velmora_hx) and
# pkg-config files. The demo host and the stand-ins are not installed: they
# exist for tests and the demo only.
include(CMakePackageConfigHelpers)

set(VELMORA_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/velmora")

install(TARGETS velmora EXPORT velmoraTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  PUBLIC_HEADER DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/velmora")
# The plug-in is loaded with dlopen, never linked; the imported target exists
# so that consumers can find it ($<TARGET_FILE:velmora::velmora_hx>) and its
# header.
install(TARGETS velmora_hx EXPORT velmoraTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  PUBLIC_HEADER DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/velmora")

install(EXPORT velmoraTargets NAMESPACE velmora:: DESTINATION "${VELMORA_CMAKE_DIR}")
configure_package_config_file(cmake/velmoraConfig.cmake.in
  "${PROJECT_BINARY_DIR}/velmoraConfig.cmake" INSTALL_DESTINATION "${VELMORA_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/velmoraConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/velmoraConfig.cmake"
              "${PROJECT_BINARY_DIR}/velmoraConfigVersion.cmake"
  DESTINATION "${VELMORA_CMAKE_DIR}")

# From <prefix>/<libdir>/pkgconfig back up to <prefix>.
file(RELATIVE_PATH VELMORA_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
# The answer may end in a slash, which would double the one the .pc files add.
string(REGEX REPLACE "/$" "" VELMORA_PC_UP "${VELMORA_PC_UP}")
foreach(pc velmora velmora_hx)
  configure_file("cmake/${pc}.pc.in" "${PROJECT_BINARY_DIR}/${pc}.pc" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/${pc}.pc"
    DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endforeach()

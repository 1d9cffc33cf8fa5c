# Build settings shared by every target of the project: warnings, sanitizers
# and the helper that registers a GoogleTest executable with CTest.

# Warnings every target compiles with; VELMORA_WERROR turns them into errors.
add_library(velmora_warnings INTERFACE)
target_compile_options(velmora_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
  -Wformat=2 -Wundef -Wcast-qual
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Woverloaded-virtual>
  $<$<BOOL:${VELMORA_WERROR}>:-Werror>)
# Clang's thread-safety analysis holds the plug-in's lock annotations
# (plugin/thread_annotations.h) to the code.
option(VELMORA_THREAD_SAFETY_ANALYSIS "Check lock annotations (Clang only)" OFF)
if(VELMORA_THREAD_SAFETY_ANALYSIS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELMORA_THREAD_SAFETY_ANALYSIS needs Clang")
  endif()
  target_compile_options(velmora_warnings INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-Wthread-safety>)
endif()

if(VELMORA_SANITIZE)
  string(REPLACE "," ";" _velmora_sanitizers "${VELMORA_SANITIZE}")
  set(_velmora_san_flags "-fsanitize=${VELMORA_SANITIZE}" -fno-omit-frame-pointer -g)
  if("undefined" IN_LIST _velmora_sanitizers)
    list(APPEND _velmora_san_flags -fno-sanitize-recover=all)
  endif()
  add_compile_options(${_velmora_san_flags})
  add_link_options("-fsanitize=${VELMORA_SANITIZE}")
endif()

# Applies a GNU ld version script to a shared library so that it exports
# exactly the symbols the script lists.
function(velmora_version_script target script)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${script}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${script}")
endfunction()

# velmora_read_export_list(<list file> <variable>): the function names of an
# export list (one name per line, '#' starts a comment), as a CMake list; the
# build configures again when the file changes.
function(velmora_read_export_list symbols_file variable)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${symbols_file}")
  file(STRINGS "${symbols_file}" lines)
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line)
      list(APPEND names "${line}")
    endif()
  endforeach()
  set(${variable} "${names}" PARENT_SCOPE)
endfunction()

# Exports exactly the functions named in a list file from a shared library:
# the version script is generated from the list, so the list is the one place
# that names what leaves it.
function(velmora_export_list target symbols_file)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
  velmora_read_export_list("${symbols_file}" names)
  set(globals "")
  foreach(name IN LISTS names)
    string(APPEND globals "    ${name};\n")
  endforeach()
  file(CONFIGURE OUTPUT "${script}"
    CONTENT "{\n  global:\n${globals}  local:\n    *;\n};\n")
  velmora_version_script(${target} "${script}")
endfunction()

# velmora_add_gtest(<name> SOURCES ... [LIBRARIES ...] [ENVIRONMENT ...]
#                   [FILTER_GROUPS <filter> <env> ...])
# Builds a GoogleTest executable and registers every test case as its own
# CTest test, so each case runs in a fresh process: the plug-in keeps
# process-wide state that never resets.
function(velmora_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main
    Threads::Threads velmora_warnings)
  set(_props TIMEOUT 120)
  if(ARG_ENVIRONMENT)
    list(APPEND _props ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${_props})
endfunction()

find_package(Threads REQUIRED)

# Debian's hardening, for every binary of the optimised builds the packages
# are made from: stack protector, fortified libc calls (they need -O1 or
# more, so debug builds at -O0 go without), format checks, control-flow
# protection (bookworm's dpkg-buildflags does not add it; GCC 12 on x86-64
# has it), a read-only relocation table, and, through velmora_bind_now, all
# symbols bound at load. Sanitizer builds are left as they are.
option(VELMORA_HARDENING "Debian's hardening flags in optimised builds" ON)
set(VELMORA_HARDENED OFF)
if(VELMORA_HARDENING AND NOT VELMORA_SANITIZE AND
   CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  set(VELMORA_HARDENED ON)
  include(CheckCCompilerFlag)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
  check_c_compiler_flag(-fcf-protection VELMORA_HAVE_CF_PROTECTION)
  if(VELMORA_HAVE_CF_PROTECTION)
    add_compile_options(-fcf-protection)
  endif()
  add_link_options("LINKER:-z,relro")
endif()

# velmora_bind_now(<target>...): binds every symbol when the binary is
# loaded, so that the whole relocation table is made read-only. Shipped
# libraries and programs take it; the plug-in does not: it resolves the
# host's functions, which exist only inside the host, and is loaded lazily
# by programs that check it without one.
function(velmora_bind_now)
  if(VELMORA_HARDENED)
    foreach(target IN LISTS ARGN)
      target_link_options(${target} PRIVATE "LINKER:-z,now")
    endforeach()
  endif()
endfunction()

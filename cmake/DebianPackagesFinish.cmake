# Run by CPack after it has made the Debian packages (CPACK_POST_BUILD_SCRIPTS),
# to finish them the way Debian's own tools would. CPack 3.25 leaves four
# things to mend:
#  - its stripped binaries keep the .comment section (the compiler's and the
#    start files' version strings), which dh_strip removes;
#  - the md5sums of a -dbgsym package list the files by their absolute path
#    in CPack's staging folder, so dpkg and lintian find none of them;
#  - a -dbgsym package has no /usr/share/doc entry; as debhelper does, it gets
#    a link to the documentation of the package it belongs to (on which it
#    depends exactly);
#  - a shared library package runs ldconfig from postinst and postrm; dpkg
#    does that once for all packages through the ldconfig trigger instead
#    (a package's own scripts, which never call ldconfig, are kept).
# Each package is unpacked, mended and packed again with root ownership.

# Writes <tree>/DEBIAN/md5sums for every regular file under <tree>.
function(velmora_write_md5sums tree)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/*")
  list(FILTER files EXCLUDE REGEX "^DEBIAN/")
  list(SORT files)
  set(sums "")
  foreach(f IN LISTS files)
    if(NOT IS_SYMLINK "${tree}/${f}")
      file(MD5 "${tree}/${f}" sum)
      string(APPEND sums "${sum}  ${f}\n")
    endif()
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
endfunction()

# Removes the .comment section of every ELF file of a package tree, as
# dh_strip does, and writes the md5sums anew. The build ID, and with it the
# binary's debug file in the -dbgsym package, stays the same.
function(velmora_drop_comments tree)
  file(GLOB_RECURSE files LIST_DIRECTORIES false "${tree}/usr/*")
  set(changed FALSE)
  foreach(f IN LISTS files)
    if(IS_SYMLINK "${f}")
      continue()
    endif()
    file(READ "${f}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      execute_process(COMMAND "${CPACK_VELMORA_OBJCOPY}" --remove-section=.comment "${f}"
        COMMAND_ERROR_IS_FATAL ANY)
      set(changed TRUE)
    endif()
  endforeach()
  if(changed)
    velmora_write_md5sums("${tree}")
  endif()
endfunction()

function(velmora_finish_package package_file)
  set(tree "${package_file}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package_file}" "${tree}"
    COMMAND_ERROR_IS_FATAL ANY)

  if(package_file MATCHES "\\.deb$")
    velmora_drop_comments("${tree}")
  endif()

  if(package_file MATCHES "\\.ddeb$")
    execute_process(COMMAND dpkg-deb --field "${package_file}" Package
      OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE "-dbgsym$" "" owner "${name}")
    file(MAKE_DIRECTORY "${tree}/usr/share/doc")
    file(CREATE_LINK "${owner}" "${tree}/usr/share/doc/${name}" SYMBOLIC)
    # Debug files are data, not programs.
    file(GLOB_RECURSE debug_files "${tree}/usr/lib/debug/*.debug")
    foreach(f IN LISTS debug_files)
      file(CHMOD "${f}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endforeach()
    velmora_write_md5sums("${tree}")
  endif()

  foreach(script postinst postrm)
    set(path "${tree}/DEBIAN/${script}")
    if(EXISTS "${path}")
      file(READ "${path}" text)
      # A package's own script (python3-velmora's) stays as it is.
      if(NOT text MATCHES "ldconfig")
        continue()
      endif()
      # CPack's script holds nothing but the ldconfig call.
      string(REGEX REPLACE "#![^\n]*\n|set -e\n|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then\n|\tldconfig\n|fi\n|\n" ""
        rest "${text}")
      if(NOT rest STREQUAL "")
        message(FATAL_ERROR "${package_file}: ${script} does more than run ldconfig:\n${text}")
      endif()
      file(REMOVE "${path}")
      file(WRITE "${tree}/DEBIAN/triggers" "activate-noawait ldconfig\n")
    endif()
  endforeach()

  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package_file}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endfunction()

foreach(package_file IN LISTS CPACK_PACKAGE_FILES)
  velmora_finish_package("${package_file}")
endforeach()

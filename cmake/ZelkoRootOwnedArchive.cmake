# SPDX-License-Identifier: MIT
# Run by CPack after packing: gives every entry of the tarballs it made to
# root (0:0), as CMake 4.3's CPACK_ARCHIVE_UID does, keeping the modes,
# the times and the order, so the archive stays reproducible. Needs GNU tar.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.tar\\.gz$")
    continue()
  endif()
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  file(MAKE_DIRECTORY ${tree})
  execute_process(COMMAND tar -xpzf ${package} -C ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB entries RELATIVE ${tree} ${tree}/*)
  execute_process(
    COMMAND tar --sort=name --owner=0 --group=0 --numeric-owner --format=gnu -C ${tree} -cf -
            ${entries}
    COMMAND gzip -9n
    OUTPUT_FILE ${package}.new COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME ${package}.new ${package})
  file(REMOVE_RECURSE ${tree})
endforeach()

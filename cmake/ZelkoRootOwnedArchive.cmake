# SPDX-License-Identifier: MIT
# Run by CPack after packing: gives every entry of the tarballs it made to
# root (0:0), as CMake 4.3's CPACK_ARCHIVE_UID does. The entries are
# written again from an unpacked copy, exactly those of the archive, in its
# order, with their modes and times, so the archive stays reproducible.
# Needs GNU tar.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.tar\\.gz$")
    continue()
  endif()
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  file(MAKE_DIRECTORY ${tree})
  execute_process(COMMAND tar -tzf ${package} OUTPUT_FILE ${tree}.list COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND tar -xpzf ${package} -C ${tree} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(
    COMMAND tar --no-recursion --owner=0 --group=0 --numeric-owner --format=gnu -C ${tree}
            -T ${tree}.list -cf -
    COMMAND gzip -9n
    OUTPUT_FILE ${package}.new COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME ${package}.new ${package})
  file(REMOVE_RECURSE ${tree} ${tree}.list)
endforeach()

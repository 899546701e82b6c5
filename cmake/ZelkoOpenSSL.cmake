# SPDX-License-Identifier: MIT
# OpenSSL's libcrypto for derodi-sim, checked against the target: in a cross
# build the library found may be the build machine's. Sets
# ZELKO_OPENSSL_USABLE; when it is false, one warning says what is missing,
# for which architecture.

set(openssl_package libssl-dev)
if(CMAKE_CROSSCOMPILING)
  set(openssl_package libssl-dev:${ZELKO_DEBIAN_ARCH})
endif()

# A cross toolchain file of a packager's own may not say where the target's
# libraries are in Debian's multiarch layout (lib/TRIPLET): its compiler
# does. And OPENSSL_ROOT_DIR is searched as a prefix too, so that layout
# is found under it.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine OUTPUT_VARIABLE machine
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_LIBRARY_ARCHITECTURE AND machine)
  set(CMAKE_LIBRARY_ARCHITECTURE ${machine})
endif()
if(OPENSSL_ROOT_DIR AND NOT OpenSSL_ROOT)
  set(OpenSSL_ROOT ${OPENSSL_ROOT_DIR})
endif()
# The build machine's pkg-config describes the build machine's libraries:
# in a cross build its answer would be searched before the target's, so
# unless it was set up for the target, it is asked of no library here.
set(host_pkg_config FALSE)
if(CMAKE_CROSSCOMPILING AND NOT DEFINED ENV{PKG_CONFIG_LIBDIR}
   AND NOT DEFINED ENV{PKG_CONFIG_SYSROOT_DIR} AND NOT DEFINED ENV{PKG_CONFIG})
  set(host_pkg_config TRUE)
  set(pkg_config_path "$ENV{PKG_CONFIG_PATH}")
  set(ENV{PKG_CONFIG_LIBDIR} ${PROJECT_BINARY_DIR}/no-pkg-config)
  unset(ENV{PKG_CONFIG_PATH})
endif()
find_package(OpenSSL COMPONENTS Crypto)
if(host_pkg_config)
  unset(ENV{PKG_CONFIG_LIBDIR})
  set(ENV{PKG_CONFIG_PATH} "${pkg_config_path}")
endif()
# Debian keeps the configuration headers of each architecture apart, under
# include/TRIPLET, which only the build machine's compiler searches itself.
if(OpenSSL_FOUND AND CMAKE_CROSSCOMPILING)
  foreach(triplet ${CMAKE_LIBRARY_ARCHITECTURE} ${machine})
    if(EXISTS ${OPENSSL_INCLUDE_DIR}/${triplet}/openssl/opensslconf.h)
      set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_INCLUDE_DIRECTORIES
                                                          ${OPENSSL_INCLUDE_DIR}/${triplet})
      break()
    endif()
  endforeach()
endif()

set(ZELKO_OPENSSL_USABLE FALSE)
set(openssl_fault "which was not found")
if(OpenSSL_FOUND)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LIBRARIES OpenSSL::Crypto)
  set(CMAKE_REQUIRED_QUIET ON)
  # Checked afresh at every configure: the answer depends on what is
  # installed, and on OPENSSL_ROOT_DIR.
  unset(ZELKO_OPENSSL_BUILDS CACHE)
  check_cxx_source_compiles(
    "#include <openssl/evp.h>\nint main() { return EVP_sha256() == nullptr; }\n"
    ZELKO_OPENSSL_BUILDS)
  unset(CMAKE_REQUIRED_LIBRARIES)
  unset(CMAKE_REQUIRED_QUIET)
  set(ZELKO_OPENSSL_USABLE ${ZELKO_OPENSSL_BUILDS})
  string(CONCAT openssl_fault "and the one found (${OPENSSL_CRYPTO_LIBRARY}, headers in "
                "${OPENSSL_INCLUDE_DIR}) does not build for it")
endif()
if(NOT ZELKO_OPENSSL_USABLE)
  message(WARNING "derodi-sim needs OpenSSL's libcrypto for ${CMAKE_SYSTEM_PROCESSOR}, "
                  "${openssl_fault}, so the stand-in daemon is not built, nor the tour and the "
                  "tests that use it; the client and its own tests are. libcrypto for "
                  "${CMAKE_SYSTEM_PROCESSOR}: install ${openssl_package} (Debian and Ubuntu), "
                  "or set OPENSSL_ROOT_DIR to the target's OpenSSL, or pass -DZELKO_BUILD_SIM=OFF.")
endif()

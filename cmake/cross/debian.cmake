# SPDX-License-Identifier: MIT
# Cross-building with one of Debian's cross toolchains, the tests run under
# qemu-user (no binfmt handler needed):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/cross/debian.cmake -DZELKO_CROSS=s390x-linux-gnu ...
# ZELKO_CROSS is the GNU triplet: s390x-linux-gnu, arm-linux-gnueabihf,
# aarch64-linux-gnu, ... (packages g++-TRIPLET and qemu-user). Libraries
# built for the target (OpenSSL's for derodi-sim, GoogleTest for the tests)
# are looked for where Debian installs them for a foreign architecture
# (libssl-dev:ARCH, libgtest-dev:ARCH: lib/TRIPLET and include/TRIPLET),
# under /usr/TRIPLET, and under ZELKO_CROSS_SYSROOT when it names a tree of
# the target's packages unpacked with dpkg-deb -x, where the emulated
# programs find them too. Without a GoogleTest for the target, the build
# compiles one from /usr/src/googletest (package googletest).
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELKO_CROSS ZELKO_CROSS_SYSROOT)
if(NOT ZELKO_CROSS)
  message(FATAL_ERROR "name the target with -DZELKO_CROSS=TRIPLET, such as s390x-linux-gnu")
endif()
string(REGEX MATCH "^[^-]+" arch "${ZELKO_CROSS}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${arch})
set(CMAKE_C_COMPILER ${ZELKO_CROSS}-gcc)
set(CMAKE_CXX_COMPILER ${ZELKO_CROSS}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZELKO_CROSS})
set(CMAKE_FIND_ROOT_PATH ${ZELKO_CROSS_SYSROOT} /usr/${ZELKO_CROSS} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# qemu names 32-bit ARM "arm" and takes the target's libraries from -L.
set(qemu_arch ${arch})
if(arch MATCHES "^arm")
  set(qemu_arch arm)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_arch} -L /usr/${ZELKO_CROSS})

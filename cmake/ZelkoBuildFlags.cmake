# SPDX-License-Identifier: MIT
# How every target is compiled and linked: warnings, hardening, and paths
# that do not depend on where the tree was built.

include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

# Warnings are errors only where the developers ask for it: the presets set
# CMAKE_COMPILE_WARNING_AS_ERROR. A packager's compiler or flags never
# break the build.
add_library(zelko_warnings INTERFACE)
target_compile_options(zelko_warnings INTERFACE -Wall -Wextra -Wpedantic)

# Debug information and __FILE__ name the files relative to the tree, so a
# build does not depend on the directory it was made in.
add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=" "-ffile-prefix-map=${CMAKE_BINARY_DIR}/=")

# Programs carry only the code they use, so the dynamic loader binds only
# the symbols they need: a run of zelko-cli costs mostly its start-up.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(LINKER:--gc-sections LINKER:-O1)

# Position-independent throughout, which a standalone static-pie program
# needs as much as a hardened one.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
check_pie_supported(LANGUAGES CXX)

set(ZELKO_EXPECT_HARDENED FALSE)
if(ZELKO_HARDENING)
  foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "ZELKO_HAVE${flag}" have)
    check_cxx_compiler_flag(${flag} ${have})
    if(${have})
      add_compile_options(${flag})
    endif()
  endforeach()

  # FORTIFY_SOURCE works only when optimising, and is left to the sanitizers
  # when they instrument the build (they check the same calls, and a fuzz
  # target that stands in for a system call needs the plain one); a level
  # the packager's flags already choose is kept.
  string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
  set(flags "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${build_type}}")
  set(can_fortify FALSE)
  if(flags MATCHES "(^| )-O([1-3gsz]|fast)?( |$)" AND NOT flags MATCHES "-fsanitize")
    set(can_fortify TRUE)
  endif()
  if(can_fortify AND NOT flags MATCHES "_FORTIFY_SOURCE")
    add_compile_definitions(_FORTIFY_SOURCE=3)
  endif()
  # The install test checks the program's hardening where it is complete.
  if(can_fortify AND NOT flags MATCHES "_FORTIFY_SOURCE=0")
    set(ZELKO_EXPECT_HARDENED TRUE)
  endif()

  # The control-flow marking (-fcf-protection) is left to the linker: the
  # program carries it only when every object, the C library's start-up
  # files included, does.
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()

# zelko-cli runs in shell prompts: with the C++ runtime linked in, it starts
# without loading libstdc++ (about half a millisecond a run), on the shared
# C library that security updates reach. Off by default, as distributions
# link system libraries dynamically; the presets for the tour, an install
# from source and the benchmarks turn it on.
function(zelko_link_lean target)
  if(ZELKO_STATIC_CXX_RUNTIME)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()

# A standalone program that needs no shared library at all: static-pie
# where the C library provides it (not every architecture's does), plain
# static otherwise. Given among the libraries, the flag comes after CMake's
# own -pie, which would otherwise override it.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
check_cxx_source_compiles("int main() { return 0; }" ZELKO_HAVE_STATIC_PIE)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
set(ZELKO_STANDALONE_FLAG -static-pie)
if(NOT ZELKO_HAVE_STATIC_PIE)
  set(ZELKO_STANDALONE_FLAG -static)
  if(ZELKO_STATIC OR ZELKO_BUILD_BENCHMARKS)
    message(STATUS "The C library cannot link static-pie programs: standalone programs are linked -static")
  endif()
endif()
function(zelko_link_standalone target)
  target_link_libraries(${target} PRIVATE ${ZELKO_STANDALONE_FLAG})
endfunction()

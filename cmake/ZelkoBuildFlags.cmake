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
# the symbols they need, and relative relocations are packed where the C
# library reads them packed: a run of zelko-cli costs mostly its start-up.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(LINKER:--gc-sections LINKER:-O1)
check_linker_flag(CXX "LINKER:-z,pack-relative-relocs" ZELKO_HAVE_PACKED_RELOCATIONS)
if(ZELKO_HAVE_PACKED_RELOCATIONS)
  add_link_options(LINKER:-z,pack-relative-relocs)
endif()

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

  add_link_options(LINKER:-z,relro LINKER:-z,now)
  # Every object the compiler makes is marked for indirect branch tracking
  # and the shadow stack; C libraries built without that marking leave it
  # off their start-up files, which would take it off the whole program.
  check_linker_flag(CXX "LINKER:-z,ibt,-z,shstk" ZELKO_HAVE_CET_MARKING)
  if(ZELKO_HAVE_CET_MARKING AND ZELKO_HAVE_fcf_protection)
    add_link_options(LINKER:-z,ibt LINKER:-z,shstk)
  endif()
endif()

# zelko-cli runs in shell prompts: with the C++ runtime linked in, it starts
# without loading libstdc++, on the shared C library that security updates
# reach.
function(zelko_link_lean target)
  target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
endfunction()

# A standalone program that needs no shared library at all. Given among
# the libraries, the flag comes after CMake's own -pie, which would
# otherwise override it.
function(zelko_link_standalone target)
  target_link_libraries(${target} PRIVATE -static-pie)
endfunction()

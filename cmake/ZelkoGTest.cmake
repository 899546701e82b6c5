# SPDX-License-Identifier: MIT
# GoogleTest for the target: the one installed for it (libgtest-dev, or
# libgtest-dev:ARCH in a cross build), or else, in a cross build, one
# compiled from the sources Debian's googletest package ships. Sets
# GTest_FOUND, and otherwise says once how to get it.

find_package(GTest QUIET)
set(ZELKO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest's sources, compiled for a cross build's target when it has no GoogleTest")
if(NOT GTest_FOUND AND CMAKE_CROSSCOMPILING AND EXISTS ${ZELKO_GTEST_SOURCE_DIR}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ZELKO_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Someone else's code, built with its own flags: its warnings are not
  # ours to fix, and they must not fail a build that treats ours as errors.
  set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
  set(GTest_FOUND TRUE)
  message(STATUS "GoogleTest for ${CMAKE_SYSTEM_PROCESSOR}: compiled from ${ZELKO_GTEST_SOURCE_DIR}")
endif()

if(NOT GTest_FOUND)
  set(gtest_package libgtest-dev)
  if(CMAKE_CROSSCOMPILING)
    set(gtest_package "libgtest-dev:${ZELKO_DEBIAN_ARCH}, or googletest for its sources,")
  endif()
  set(no_tests
    "GoogleTest for ${CMAKE_SYSTEM_PROCESSOR} was not found, so the tests are off. Install it "
    "(Debian and Ubuntu: apt-get install ${gtest_package}) and configure again, or pass "
    "-DBUILD_TESTING=OFF.")
  if(ZELKO_REQUIRE_TESTS)
    message(FATAL_ERROR ${no_tests})
  endif()
  message(WARNING ${no_tests})
endif()

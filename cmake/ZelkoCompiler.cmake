# SPDX-License-Identifier: MIT
# What the compiler and its standard library must offer, checked before
# anything is built, so that a compiler that lacks it stops here with one
# clear message rather than deep inside a header.

include(CheckCXXSourceCompiles)

set(CMAKE_REQUIRED_QUIET ON)
check_cxx_source_compiles([[
#include <expected>
int main() {
  std::expected<int, int> value = 1;
  return *value - 1;
}
]] ZELKO_HAVE_STD_EXPECTED)
unset(CMAKE_REQUIRED_QUIET)

if(NOT ZELKO_HAVE_STD_EXPECTED)
  message(FATAL_ERROR
    "zelko-cli needs a C++23 compiler and standard library that provide <expected> "
    "(std::expected), such as g++ 12 or later, or clang 19 or later; "
    "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} with its standard library does not.")
endif()

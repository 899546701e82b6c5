// SPDX-License-Identifier: MIT
// What ends zelko-cli when an exception escapes. Failures are values in
// this program, so the only thing ever thrown is the C++ library's own
// std::bad_alloc: the process ends with one line and abort(). This takes
// the place of the library's verbose handler, which names the exception's
// type through a demangler and stdio: linked into the program, those alone
// would have every run bind a fifth more of the C library at start-up.

#include <unistd.h>

#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  static constexpr char k_message[] = "zelko-cli: out of memory\n";
  if (::write(STDERR_FILENO, k_message, sizeof k_message - 1) < 0) {
    // Nothing more can be said.
  }
  std::abort();
}

}  // namespace __gnu_cxx

// SPDX-License-Identifier: MIT
#include "output_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "console.hpp"
#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace zelko_cli {

namespace {

Message cannot_write(std::string_view file, std::string_view error) {
  return Message("cannot write ").foreign(file).own(": ").own(error);
}

}  // namespace

Outcome write_line_to(std::string_view file, std::string text) {
  const std::string path(file);
  zelko_ipc::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) {
    return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(errno)));
  }
  std::expected<void, zelko_ipc::WriteError> written;
  if (::isatty(fd.get()) == 1) {
    // Shown as standard output shows it on a terminal: safely.
    Sink terminal(fd.get());
    written = terminal.field(text).text("\n").flush();
  } else {
    // The answer's buffer has room for the newline: no copy of the key.
    text.push_back('\n');
    written = zelko_ipc::write_all(fd.get(), text);
  }
  if (!written) {
    return std::unexpected(cannot_write(file, written.error().text));
  }
  if (::close(fd.release()) != 0) {
    return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(errno)));
  }
  return {};
}

}  // namespace zelko_cli

#include <fcntl.h>

#include <cerrno>

#include "ask.hpp"
#include "commands.hpp"
#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace zelko_cli {

namespace {

using zelko_ipc::KeyRecord;

constexpr std::string_view k_refresh_hint =
    "\n\nConnect your Zelko phone to refresh the key database.";

void print_plain(Sink& out, const KeyRecord& key) {
  out.field(key.name).text("\t").field(key.algorithm).text("\n");
}

void print_long(Sink& out, const KeyRecord& key) {
  out.field(key.name).text("\t").field(key.algorithm).text("\t").field(key.fingerprint);
  out.text("\t").field(key.state).text("\n");
}

void print_json(Sink& out, std::span<const KeyRecord> keys) {
  out.text("[\n");
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const KeyRecord& key = keys[i];
    out.text("  {\n    \"name\": ").json(key.name);
    out.text(",\n    \"algorithm\": ").json(key.algorithm);
    out.text(",\n    \"fingerprint\": ").json(key.fingerprint);
    out.text(",\n    \"comment\": ").json(key.comment);
    out.text(",\n    \"state\": ").json(key.state);
    out.text(i + 1 < keys.size() ? "\n  },\n" : "\n  }\n");
  }
  out.text("]\n");
}

std::string cannot_write(std::string_view file, std::string_view error) {
  std::string message = "cannot write ";
  message += file;
  message += ": ";
  message += error;
  return message;
}

// Creates or truncates `file` and writes `text` and a newline into it.
Outcome write_line_to(std::string_view file, std::string_view text) {
  const std::string path(file);
  zelko_ipc::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) {
    return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(errno)));
  }
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text);
  line.push_back('\n');
  if (auto written = zelko_ipc::write_all(fd.get(), line); !written) {
    return std::unexpected(cannot_write(file, written.error()));
  }
  // A failed close can be the first news of a failed write on some file systems.
  if (::close(fd.release()) != 0) {
    return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(errno)));
  }
  return {};
}

}  // namespace

Outcome keys(Console& console, bool long_listing, bool json) {
  const auto answer = ask<zelko_ipc::ControlResponse::Keys>({zelko_ipc::ControlRequest::Keys{}});
  if (!answer) {
    return std::unexpected(answer.error());
  }
  Sink& out = console.out;
  if (json) {
    print_json(out, answer->keys);
  } else if (answer->keys.empty()) {
    out.text("no keys\n");
  } else {
    for (const KeyRecord& key : answer->keys) {
      long_listing ? print_long(out, key) : print_plain(out, key);
    }
  }
  return {};
}

Outcome getpub(Console& console, std::string_view name, std::optional<std::string_view> file) {
  auto answer = ask<zelko_ipc::ControlResponse::PublicKey>(
      {zelko_ipc::ControlRequest::GetPub{std::string(name)}});
  if (!answer) {
    std::string message = std::move(answer.error());
    if (message.contains("STALE") || message.contains("never synchronised")) {
      message += k_refresh_hint;
    }
    return std::unexpected(std::move(message));
  }
  if (file) {
    return write_line_to(*file, answer->text);
  }
  console.out.field(answer->text).text("\n");
  return {};
}

}  // namespace zelko_cli

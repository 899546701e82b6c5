// SPDX-License-Identifier: MIT
#include <limits>
#include <optional>

#include "ask.hpp"
#include "commands.hpp"
#include "zelko/ipc/decimal.hpp"
#include "zelko/ipc/white_space.hpp"

namespace zelko_cli {

namespace {

using Request = zelko_ipc::ControlRequest::Generate;

// Reads the flag/value pairs from the left into a request. The name is
// checked separately: the pairs only tell whether "--name" was given.
std::expected<Request, Message> read_pairs(std::span<const std::string_view> arguments,
                                           bool& named) {
  Request request{"ed25519", 0, {}};
  std::size_t at = 0;
  for (; at + 1 < arguments.size(); at += 2) {
    const std::string_view flag = arguments[at];
    const std::string_view value = arguments[at + 1];
    if (flag == "--type") {
      request.key_type = value;
    } else if (flag == "--name") {
      request.name = value;
      named = true;
    } else if (flag == "--bits") {
      const auto bits =
          zelko_ipc::parse_unsigned_decimal(value, std::numeric_limits<std::uint32_t>::max());
      if (!bits) {
        return std::unexpected(Message().quoted(value).own(" is not a key size"));
      }
      request.bits = static_cast<std::uint32_t>(*bits);
    } else {
      return std::unexpected(Message("unknown flag ").quoted(flag));
    }
  }
  if (at < arguments.size()) {
    return std::unexpected(Message().quoted(arguments[at]).own(" is missing a value"));
  }
  return request;
}

std::expected<Request, Message> parse(std::span<const std::string_view> arguments) {
  if (arguments.empty()) {
    return std::unexpected(Message("a generated key needs --name"));
  }
  bool named = false;
  auto request = read_pairs(arguments, named);
  if (!request) {
    return request;
  }
  if (!named) {
    return std::unexpected(Message("a generated key needs --name"));
  }
  if (zelko_ipc::trim_white_space(request->name).empty()) {
    return std::unexpected(Message("a generated key needs a name"));
  }
  return request;
}

// The phone's own default size for RSA keys, used when no size is asked for.
constexpr std::uint32_t k_default_rsa_bits = 4096;

std::string rsa_progress_line(std::uint32_t bits) {
  std::string line = "generating RSA-";
  zelko_ipc::append_decimal(line, bits == 0 ? k_default_rsa_bits : bits);
  line += " on the phone; this can take a minute...\n";
  return line;
}

}  // namespace

Outcome generate(Console& console, std::span<const std::string_view> arguments) {
  auto request = parse(arguments);
  if (!request) {
    return std::unexpected(std::move(request.error()));
  }
  if (request->key_type == "rsa") {
    console.progress(rsa_progress_line(request->bits));
  }
  console.progress("approve the request on the phone...\n");
  auto answer = ask<zelko_ipc::ControlResponse::Generated>({std::move(*request)});
  if (!answer) {
    return std::unexpected(std::move(answer.error()));
  }
  console.err.text("generated '").field(answer->name()).text("'  ");
  console.err.field(answer->fingerprint()).text("\n");
  console.show_progress();
  console.out.field(answer->public_key()).text("\n");
  return {};
}

}  // namespace zelko_cli

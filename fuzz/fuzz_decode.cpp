// SPDX-License-Identifier: MIT
// Answer decoding on any input: nothing crashes, and an answer that decodes
// is stable: re-encoded the way a daemon encodes it, it decodes to the same
// value. Requests, the daemon's side, likewise.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "zelko/ipc/messages.hpp"
#include "zelko/ipc/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  // The exchange hands the decoder UTF-8 text only.
  if (!zelko_ipc::is_valid_utf8(data)) {
    return 0;
  }
  if (const auto answer = zelko_ipc::ControlResponse::decode(data)) {
    const auto again = zelko_ipc::ControlResponse::decode(answer->encode());
    if (!again || *again != *answer) {
      std::abort();
    }
  }
  if (const auto request = zelko_ipc::ControlRequest::decode(data)) {
    const auto again = zelko_ipc::ControlRequest::decode(request->encode());
    if (!again || *again != *request) {
      std::abort();
    }
  }
  return 0;
}

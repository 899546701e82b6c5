// SPDX-License-Identifier: MIT
// Answer decoding on any bytes: every input decodes or fails with a fixed
// message, and every text of a decoded answer can be read whole (the
// sanitizers watch each byte). Requests, the daemon's side, on any bytes
// too: one that decodes encodes back to a payload that decodes the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "zelko/ipc/daemon.hpp"
#include "zelko/ipc/overloaded.hpp"

namespace {

std::size_t sum;

// Reads every byte of `text`.
void touch(std::string_view text) {
  for (const char c : text) {
    sum += static_cast<unsigned char>(c);
  }
}

void visit_every_text(const zelko_ipc::ControlResponse& answer) {
  using R = zelko_ipc::ControlResponse;
  std::visit(
      zelko_ipc::Overloaded{
          [](const R::Status& a) {
            for (const auto text :
                 {a.endpoint(), a.phone(), a.metadata(), a.window(), a.pageant()}) {
              touch(text);
            }
          },
          [](const R::Glance&) {},
          [](const R::Keys& a) {
            a.for_each([](const zelko_ipc::KeyRecord& k) {
              for (const auto text : {k.name, k.algorithm, k.fingerprint, k.comment, k.state}) {
                touch(text);
              }
            });
          },
          [](const R::PublicKey& a) { touch(a.text); },
          [](const R::Devices& a) {
            a.for_each([](const zelko_ipc::DeviceRecord& d) {
              touch(d.name);
              touch(d.detail);
            });
          },
          [](const R::Authorized& a) { touch(a.scope); },
          [](const R::Generated& a) {
            for (const auto text : {a.public_key(), a.fingerprint(), a.name()}) {
              touch(text);
            }
          },
          [](const R::Error& a) { touch(a.message); },
      },
      answer.value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  if (const auto answer = zelko_ipc::ControlResponse::decode(std::string(data))) {
    visit_every_text(*answer);
  }
  if (const auto request = zelko_ipc::daemon::decode_request(data)) {
    const auto again = zelko_ipc::daemon::decode_request(request->encode());
    if (!again || *again != *request) {
      std::abort();
    }
  }
  return 0;
}

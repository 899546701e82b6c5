// SPDX-License-Identifier: MIT
// The record codec on any input: nothing crashes, and records joined one a
// line are decoded back exactly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "zelko/ipc/record.hpp"

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Splits the input at NUL bytes into exactly N fields (missing ones empty),
// joins them twice as two lines and decodes them again.
template <std::size_t N>
void check_decoding_undoes_joining(std::string_view data) {
  std::array<std::string, N> list;
  std::size_t field = 0;
  for (const char c : data) {
    if (c == '\0') {
      field = (field + 1) % N;
    } else if (c != '\xfe' && c != '\xff') {  // no UTF-8 holds these
      list[field].push_back(c);
    }
  }
  std::array<std::string_view, N> views;
  for (std::size_t i = 0; i < N; ++i) {
    views[i] = list[i];
  }
  std::string text = "\n";
  zelko_ipc::append_joined(text, views);
  text += "\n\n";
  zelko_ipc::append_joined(text, views);
  check(zelko_ipc::decode_records(text, 0, N, zelko_ipc::Lines::every_non_empty));
  int records = 0;
  zelko_ipc::Records<N>(text).for_each([&](const std::array<std::string_view, N>& fields) {
    ++records;
    for (std::size_t i = 0; i < N; ++i) {
      check(fields[i] == list[i]);
    }
  });
  check(records == 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  check_decoding_undoes_joining<2>(data);
  check_decoding_undoes_joining<3>(data);
  check_decoding_undoes_joining<5>(data);

  // Any bytes, decoded in place and walked, stay inside their text.
  std::string text(data);
  if (zelko_ipc::decode_records(text, 0, 3, zelko_ipc::Lines::every_non_empty)) {
    check(text.size() <= data.size());
    zelko_ipc::Records<3>(text).for_each([](const auto&) {});
  }
  return 0;
}

// SPDX-License-Identifier: MIT
// The record codec on any input: nothing crashes, and escaping and joining
// are undone exactly by unescaping and splitting.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "zelko/ipc/record.hpp"

namespace {

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Splits the input at NUL bytes into exactly N fields (missing ones empty).
template <std::size_t N>
void check_fields_undo_join(std::string_view data) {
  std::array<std::string, N> list;
  std::size_t field = 0;
  for (const char c : data) {
    if (c == '\0') {
      field = (field + 1) % N;
    } else {
      list[field].push_back(c);
    }
  }
  std::array<std::string_view, N> views;
  for (std::size_t i = 0; i < N; ++i) {
    views[i] = list[i];
  }
  const auto decoded = zelko_ipc::fields<N>(zelko_ipc::join(views));
  check(decoded.has_value() && *decoded == list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);

  const std::string escaped = zelko_ipc::escape(data);
  check(escaped.find_first_of("\t\n") == std::string::npos);
  check(zelko_ipc::unescape(escaped) == data);
  check(zelko_ipc::unescape(data).size() <= data.size());

  check_fields_undo_join<2>(data);
  check_fields_undo_join<3>(data);
  check_fields_undo_join<5>(data);

  // Splitting arbitrary text succeeds exactly when the TAB count fits.
  const auto tabs = static_cast<std::size_t>(std::count(data.begin(), data.end(), '\t'));
  check(zelko_ipc::fields<3>(data).has_value() == (tabs == 2));
  check(zelko_ipc::fields<5>(data).has_value() == (tabs == 4));
  return 0;
}

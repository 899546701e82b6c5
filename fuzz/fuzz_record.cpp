// SPDX-License-Identifier: MIT
// The record codec on any input: nothing crashes, fields undoes join, and
// the client's in-place decoding of a list gives, record by record, what
// fields gives.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
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

// Each non-empty line of `text` split by fields<N>; nothing when one fails.
template <std::size_t N>
std::optional<std::vector<std::array<std::string, N>>> by_fields(std::string_view text) {
  std::vector<std::array<std::string, N>> records;
  while (true) {
    const std::size_t lf = text.find('\n');
    if (const std::string_view line = text.substr(0, lf); !line.empty()) {
      auto record = zelko_ipc::fields<N>(line);
      if (!record) {
        return std::nullopt;
      }
      records.push_back(std::move(*record));
    }
    if (lf == std::string_view::npos) {
      return records;
    }
    text.remove_prefix(lf + 1);
  }
}

// The same records decoded in place and walked.
template <std::size_t N>
std::optional<std::vector<std::array<std::string, N>>> in_place(std::string text) {
  if (!zelko_ipc::decode_records(text, 0, N, zelko_ipc::Lines::every_non_empty)) {
    return std::nullopt;
  }
  std::vector<std::array<std::string, N>> records;
  zelko_ipc::Records<N>(std::move(text)).for_each([&](const auto& fields) {
    records.emplace_back();
    for (std::size_t i = 0; i < N; ++i) {
      records.back()[i] = fields[i];
    }
  });
  return records;
}

// `data` split at NUL bytes into exactly N fields (missing ones empty), and
// the text of lines that holds their record twice.
template <std::size_t N>
void check_codec(std::string_view data) {
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
    check(zelko_ipc::unescape(zelko_ipc::escape(list[i])) == list[i]);
  }
  const std::string record = zelko_ipc::join(views);
  check(zelko_ipc::fields<N>(record) == list);
  check(by_fields<N>(record + "\n\n" + record) ==
        std::vector<std::array<std::string, N>>{list, list});
}

// Any bytes but the two no UTF-8 holds (the client checks first).
template <std::size_t N>
void check_both_roads_agree(std::string_view data) {
  std::string text;
  for (const char c : data) {
    if (c != zelko_ipc::k_field_break && c != zelko_ipc::k_record_break) {
      text.push_back(c);
    }
  }
  check(in_place<N>(text) == by_fields<N>(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  check_codec<2>(data);
  check_codec<3>(data);
  check_codec<5>(data);
  check_both_roads_agree<2>(data);
  check_both_roads_agree<3>(data);
  check_both_roads_agree<5>(data);

  // Any bytes at all, decoded in place and walked, stay inside their text.
  std::string text(data);
  if (zelko_ipc::decode_records(text, 0, 3, zelko_ipc::Lines::every_non_empty)) {
    check(text.size() <= data.size());
    zelko_ipc::Records<3>(text).for_each([](const auto&) {});
  }
  return 0;
}

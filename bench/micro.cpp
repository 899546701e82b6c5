// SPDX-License-Identifier: MIT
// Micro-benchmarks of the hot paths on a 1 MiB key listing.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "json.hpp"
#include "zelko/ipc/messages.hpp"
#include "zelko/ipc/record.hpp"

namespace {

using zelko_ipc::ControlResponse;

std::string big_keys_answer() {
  std::string answer = "keys";
  const std::string fingerprint = "SHA256:" + std::string(43, 'Q');
  for (int i = 0; i < 10288; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "key-%05d", i);
    const std::string comment = std::string(name) + "@phone";
    const std::string_view fields[] = {name, "ssh-ed25519", fingerprint, comment, "ok"};
    answer += '\n';
    answer += zelko_ipc::join(fields);
  }
  return answer;
}

const std::string& answer() {
  static const std::string text = big_keys_answer();
  return text;
}

void decode_keys(benchmark::State& state) {
  for (auto _ : state) {
    auto decoded = ControlResponse::decode_owned(answer());
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * answer().size()));
}
BENCHMARK(decode_keys);

void json_string_of_text(benchmark::State& state) {
  const std::string text = "work laptop \"main\" key\twith a tab and caf\xc3\xa9";
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelko_cli::json_string(text));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(json_string_of_text);

void unescape_record(benchmark::State& state) {
  const std::string& text = answer();
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelko_ipc::unescape(text));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(unescape_record);

void fields_of_key_line(benchmark::State& state) {
  const std::string line =
      "key-00001\tssh-ed25519\tSHA256:" + std::string(43, 'Q') + "\tkey-00001@phone\tok";
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelko_ipc::fields<5>(line));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(fields_of_key_line);

}  // namespace

BENCHMARK_MAIN();

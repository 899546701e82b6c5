// SPDX-License-Identifier: MIT
// Micro-benchmarks of the hot paths on a 1 MiB key listing.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "json.hpp"
#include "zelko/ipc/messages.hpp"
#include "zelko/ipc/record.hpp"

namespace {

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
    auto decoded = zelko_ipc::ControlResponse::decode(answer());
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * answer().size()));
}
BENCHMARK(decode_keys);

void json_escaped(benchmark::State& state) {
  const std::string& text = answer();
  std::string out(text.size() * zelko_cli::k_json_expansion, '\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(zelko_cli::write_json_escaped(out.data(), text));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(json_escaped);

}  // namespace

BENCHMARK_MAIN();

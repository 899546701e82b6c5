// SPDX-License-Identifier: MIT
// The daemon the benchmarks talk to: it answers "keys" with a given number
// of generated records, and "status", "devices" and "getpub" with small
// fixed answers, as fast as it can; or every request with the one answer
// in a file.
//   bench_daemon RUNTIME_DIR KEY_COUNT [escaped]
//   bench_daemon RUNTIME_DIR --answer FILE

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "zelko/ipc/daemon.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/record.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace {

// A key list like a phone's: short names, ed25519 or RSA, real-length
// fingerprints, user@host comments. 10,288 keys make about 1 MiB, the most
// a client accepts. With `escaped`, every comment holds a TAB, which the
// answer carries as an escape.
std::string keys_answer(std::size_t count, bool escaped) {
  std::string answer = "keys";
  for (std::size_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "key-%05zu", i);
    std::string fingerprint = "SHA256:";
    for (int c = 0; c < 43; ++c) {
      fingerprint.push_back(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(i * 7 + c * 13) %
                                                                             64]);
    }
    const std::string comment =
        std::string(name) + (escaped ? "@laptop\texample" : "@laptop.example");
    const std::string_view fields[] = {name, i % 5 == 0 ? "ssh-rsa" : "ssh-ed25519", fingerprint,
                                       comment, "ok"};
    answer += '\n';
    answer += zelko_ipc::join(fields);
  }
  return answer;
}

// The answers by request word, each a whole frame.
struct Answers {
  std::string keys;
  std::string status;
  std::string devices;
  std::string pubkey;
  const std::string& to(std::string_view request) const {
    return request == "keys"      ? keys
           : request == "status"  ? status
           : request == "devices" ? devices
                                  : pubkey;
  }
};

Answers generated_answers(const std::string& directory, std::size_t key_count, bool escaped) {
  Answers answers;
  answers.keys = zelko_ipc::make_frame(keys_answer(key_count, escaped));
  answers.status = zelko_ipc::make_frame(zelko_ipc::daemon::status_answer(
      directory + "/agent.sock", "Pixel 8, connected", "fresh", "", ""));
  const zelko_ipc::DeviceRecord devices[] = {{"Pixel 8", "paired 2026-11-02", false}};
  answers.devices = zelko_ipc::make_frame(zelko_ipc::daemon::devices_answer(devices));
  answers.pubkey = zelko_ipc::make_frame(zelko_ipc::daemon::public_key_answer(
      "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIG3bbfsUWjONpShgnV0VnpGbnN+fvm8hlW652upMO+Ca "
      "key@phone"));
  return answers;
}

Answers one_answer(const char* file) {
  std::ifstream in(file, std::ios::binary);
  const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string frame = zelko_ipc::make_frame(body);
  return {frame, frame, frame, frame};
}

}  // namespace

int main(int argc, char** argv) {
  const bool from_file = argc == 4 && std::string_view(argv[2]) == "--answer";
  if (argc < 3 || argc > 4 || (argc == 4 && !from_file && std::string_view(argv[3]) != "escaped")) {
    std::fprintf(stderr,
                 "usage: bench_daemon RUNTIME_DIR KEY_COUNT [escaped]\n"
                 "       bench_daemon RUNTIME_DIR --answer FILE\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const std::string directory = std::string(argv[1]) + "/zelko";
  ::mkdir(directory.c_str(), 0700);
  const std::string path = directory + "/control.sock";
  const Answers answers =
      from_file ? one_answer(argv[3])
                : generated_answers(directory, std::strtoul(argv[2], nullptr, 10), argc == 4);

  ::unlink(path.c_str());
  auto listener = zelko_ipc::daemon::listen_unix(path, 128);
  if (!listener) {
    std::fprintf(stderr, "bench_daemon: cannot listen on %s: %s\n", path.c_str(),
                 listener.error().c_str());
    return 1;
  }
  while (true) {
    zelko_ipc::Fd connection(::accept4(listener->get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) {
      continue;
    }
    const auto request = zelko_ipc::read_frame(connection.get(), 4096);
    if (!request) {
      continue;
    }
    (void)zelko_ipc::write_all(connection.get(), answers.to(*request));
  }
}

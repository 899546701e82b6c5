// SPDX-License-Identifier: MIT
// The exchange against a hostile daemon. The fuzz input is a plan for how
// the daemon's bytes arrive (chunk sizes, interruptions, errors) followed by
// the bytes themselves; the stream ends early wherever the input does. The
// client must come back with a value or a message, never ask for bytes past
// the announced answer, and never allocate for the answer more than the
// announced length, which is itself at most 1 MiB.

#include <sanitizer/allocator_interface.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "zelko/ipc/client.hpp"
#include "zelko/ipc/frame.hpp"

namespace {

// The descriptor that stands for the connection to the daemon.
constexpr int k_daemon = 1000;

struct Daemon {
  std::string_view plan;    // one byte per read or write: how the call goes
  std::string_view stream;  // what the daemon sends
  std::size_t delivered = 0;
  std::size_t frame_size = 4;  // grows to 4 + length once the header is out
  bool header_known = false;
  bool reading = true;  // until the last byte of the answer has been delivered
};

Daemon g_daemon;
std::size_t g_largest_read_allocation = 0;

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

std::uint8_t next_step() {
  if (g_daemon.plan.empty()) {
    return 0xFF;
  }
  const auto step = static_cast<std::uint8_t>(g_daemon.plan.front());
  g_daemon.plan.remove_prefix(1);
  return step;
}

void on_allocation(const volatile void*, std::size_t size) {
  if (g_daemon.reading) {
    g_largest_read_allocation = std::max(g_largest_read_allocation, size);
  }
}

void on_free(const volatile void*) {}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, std::size_t size) {
  if (fd != k_daemon) {
    return syscall(SYS_write, fd, data, size);
  }
  const std::uint8_t step = next_step();
  if (step < 8) {
    errno = EINTR;
    return -1;
  }
  if (step < 12) {
    errno = EPIPE;
    return -1;
  }
  if (step < 16) {
    return 0;
  }
  return static_cast<ssize_t>(std::min<std::size_t>(size, 1 + step % 64 * 8));
}

extern "C" ssize_t recv(int fd, void* buffer, std::size_t size, int flags) {
  if (fd != k_daemon) {
    return syscall(SYS_recvfrom, fd, buffer, size, flags, nullptr, nullptr);
  }
  // The client never asks for more than what is left of the answer frame.
  check(g_daemon.delivered + size <= g_daemon.frame_size);
  const std::uint8_t step = next_step();
  if (step < 16) {
    errno = EINTR;
    return -1;
  }
  if (step < 20) {
    errno = ECONNRESET;
    g_daemon.reading = false;
    return -1;
  }
  const std::size_t left = g_daemon.stream.size() - g_daemon.delivered;
  const std::size_t chunk = std::min({size, left, static_cast<std::size_t>(step) * 4096 + 1});
  std::memcpy(buffer, g_daemon.stream.data() + g_daemon.delivered, chunk);
  g_daemon.delivered += chunk;
  if (!g_daemon.header_known && g_daemon.delivered >= 4) {
    unsigned char header[4];
    std::memcpy(header, g_daemon.stream.data(), 4);
    const std::uint32_t length = zelko_ipc::frame_length(header);
    g_daemon.header_known = true;
    g_daemon.frame_size = length > zelko_ipc::k_max_answer_length ? 4 : 4 + std::size_t{length};
  }
  if (chunk == 0 || g_daemon.delivered == g_daemon.frame_size) {
    g_daemon.reading = false;
  }
  return static_cast<ssize_t>(chunk);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(on_allocation, on_free);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  if (data.empty()) {
    return 0;
  }
  const std::size_t plan_size = std::min<std::size_t>(static_cast<std::uint8_t>(data[0]), size - 1);
  g_daemon = Daemon{data.substr(1, plan_size), data.substr(1 + plan_size)};
  g_largest_read_allocation = 0;

  const auto result = zelko_ipc::client::exchange_on(k_daemon, {zelko_ipc::ControlRequest::Keys{}});
  g_daemon.reading = false;

  // Either a decoded answer or a message, and a message is never empty.
  check(result.has_value() || !result.error().empty());
  // Nothing read for the answer needed more than its announced length (the
  // request frame and error texts are far smaller than the margin).
  const std::size_t announced = g_daemon.frame_size - 4;
  check(g_largest_read_allocation <= std::max<std::size_t>(announced, 256) + 64);
  check(announced <= zelko_ipc::k_max_answer_length);
  return 0;
}

// SPDX-License-Identifier: MIT
#include "scripted_daemon.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/frame.hpp"

namespace zelko_test {

namespace {

// Waits up to `timeout` for `fd` to become readable.
bool readable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) > 0;
}

// Reads up to `size` bytes, giving up after a few seconds of silence.
std::string read_some(int fd, std::size_t size) {
  std::string data;
  while (data.size() < size && readable(fd, 3000)) {
    char chunk[4096];
    const auto want = std::min(sizeof chunk, size - data.size());
    const ssize_t got = ::recv(fd, chunk, want, 0);
    if (got <= 0) {
      break;
    }
    data.append(chunk, static_cast<std::size_t>(got));
  }
  return data;
}

void send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) {
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

}  // namespace

std::string frame(std::string_view body) {
  return zelko_ipc::make_frame(body);
}

ScriptedDaemon::ScriptedDaemon(const std::string& runtime_dir, Script script)
    : m_script(std::move(script)) {
  const std::string directory = runtime_dir + "/zelko";
  ::mkdir(directory.c_str(), 0700);
  const std::string& path = m_path = directory + "/control.sock";
  ::unlink(path.c_str());
  auto listener = zelko_ipc::daemon::listen_unix(path, 16);
  if (!listener) {
    throw std::runtime_error("cannot listen on " + path + ": " + listener.error());
  }
  m_listener = listener->release();
  m_thread = std::thread([this] { serve(); });
}

ScriptedDaemon::~ScriptedDaemon() {
  stop();
}

void ScriptedDaemon::stop() {
  m_stopping = true;
  if (m_thread.joinable()) {
    m_thread.join();
  }
  if (m_listener >= 0) {
    ::close(m_listener);
    ::unlink(m_path.c_str());
    m_listener = -1;
  }
}

void ScriptedDaemon::wait_idle() const {
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard lock(m_mutex);
      if (m_finished == m_connections) {
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int ScriptedDaemon::connections() const {
  std::lock_guard lock(m_mutex);
  return m_connections;
}

std::string ScriptedDaemon::received() const {
  std::lock_guard lock(m_mutex);
  return m_received;
}

void ScriptedDaemon::serve() {
  // Connections that are already queued are still served after stop().
  while (true) {
    if (!readable(m_listener, 10)) {
      if (m_stopping) {
        return;
      }
      continue;
    }
    const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      continue;
    }
    {
      std::lock_guard lock(m_mutex);
      ++m_connections;
    }
    handle(connection);
    ::close(connection);
    std::lock_guard lock(m_mutex);
    ++m_finished;
  }
}

void ScriptedDaemon::handle(int connection) {
  if (!m_script.read_request) {
    return;
  }
  std::string request = read_some(connection, 4);
  if (request.size() == 4) {
    unsigned char header[4];
    std::memcpy(header, request.data(), 4);
    request += read_some(connection, zelko_ipc::frame_length(header));
  }
  {
    std::lock_guard lock(m_mutex);
    m_received += request;
  }
  if (m_script.drip.count() == 0) {
    send_all(connection, m_script.reply);
    return;
  }
  for (const char byte : m_script.reply) {
    send_all(connection, std::string_view(&byte, 1));
    std::this_thread::sleep_for(m_script.drip);
  }
}

}  // namespace zelko_test

// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <expected>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "stop_signals.hpp"
#include "trusted_directory.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// The longest path a Unix socket can have (sun_path, less its NUL).
inline constexpr std::size_t k_longest_socket_path = 107;

/// Fails when `path` is too long for a socket.
[[nodiscard]] std::expected<void, std::string> check_socket_path(const std::string& path);

/// A listening socket `name` in a directory of the sim's own, moved into
/// place once it listens (so a client that finds it can connect), and
/// removed at the end if the file is still the one it made.
class Listener {
 public:
  [[nodiscard]] static std::expected<Listener, std::string> open(const TrustedDirectory& directory,
                                                                 const std::string& name);

  Listener(Listener&& other) noexcept = default;
  Listener& operator=(Listener&&) = delete;
  ~Listener();

  [[nodiscard]] int fd() const { return m_fd.get(); }

 private:
  Listener(zelko_ipc::Fd fd, const TrustedDirectory& directory, std::string name, dev_t device,
           ino_t inode)
      : m_fd(std::move(fd)),
        m_directory(&directory),
        m_name(std::move(name)),
        m_device(device),
        m_inode(inode) {}

  zelko_ipc::Fd m_fd;
  const TrustedDirectory* m_directory;
  std::string m_name;
  dev_t m_device = 0;
  ino_t m_inode = 0;
};

/// Serves each connection a listener accepts on a thread of its own, so
/// no client holds up another.
class Server {
 public:
  /// What is done with one connection; the connection is closed after it.
  using Handler = std::function<void(int connection)>;

  /// Serves until `stop` is asked for.
  Server(Listener listener, Handler handler, const Stop& stop);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  /// Asks for the stop, shuts every open connection and waits for every
  /// handler to return.
  void stop();

 private:
  struct Connection {
    zelko_ipc::Fd fd;
    std::thread thread;
    bool done = false;
  };

  void accept_loop();
  void turn_away();
  void serve(zelko_ipc::Fd fd);
  void join_finished();

  Listener m_listener;
  Handler m_handler;
  const Stop& m_stop;
  zelko_ipc::Fd m_spare;  // a descriptor held back for turning clients away
  std::mutex m_mutex;     // guards m_connections
  std::list<Connection> m_connections;
  std::thread m_acceptor;
};
}  // namespace derodi_sim

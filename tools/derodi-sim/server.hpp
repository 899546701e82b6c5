// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "listener.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// Serves the connections a listener accepts, each on a thread of its own,
/// so that no client, however slow or silent, holds up another.
class Server {
 public:
  /// What is done with one connection; the connection is closed after it.
  using Handler = std::function<void(int connection)>;

  Server(Listener listener, Handler handler);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  /// Stops accepting, ends every open connection (a handler waiting on one
  /// sees it end) and waits for every handler to return.
  void stop();

 private:
  struct Connection {
    zelko_ipc::Fd fd;
    std::thread thread;
    bool done = false;
  };

  void accept_loop();
  void serve(zelko_ipc::Fd fd);
  void join_finished();

  Listener m_listener;
  Handler m_handler;
  zelko_ipc::Fd m_wake_read;
  zelko_ipc::Fd m_wake_write;
  std::mutex m_mutex;  // guards m_connections
  std::list<Connection> m_connections;
  std::thread m_acceptor;
};

}  // namespace derodi_sim

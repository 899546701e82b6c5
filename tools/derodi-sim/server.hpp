// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "listener.hpp"
#include "stop_signals.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// Serves the connections a listener accepts, each on a thread of its own,
/// so that no client, however slow or silent, holds up another.
class Server {
 public:
  /// What is done with one connection; the connection is closed after it.
  using Handler = std::function<void(int connection)>;

  /// Serves until `stop` is asked for.
  Server(Listener listener, Handler handler, const Stop& stop);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  /// Asks for the stop, stops accepting, ends every open connection (a
  /// handler waiting on one sees it end) and waits for every handler to
  /// return.
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

#pragma once

#include <csignal>
#include <expected>
#include <string>

#include "phone.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// The control socket: one request and one answer per connection, clients
/// served one after another. Nothing a client sends can stop it.
class Server {
 public:
  /// Listens on `socket_path`, reachable only by this user.
  [[nodiscard]] static std::expected<Server, std::string> listen(const std::string& socket_path);

  Server(Server&&) = default;
  ~Server();

  /// Serves clients until `stop` becomes non-zero.
  void serve(Phone& phone, const volatile std::sig_atomic_t& stop);

 private:
  Server(zelko_ipc::Fd listener, std::string path)
      : m_listener(std::move(listener)), m_path(std::move(path)) {}
  void handle(int connection, Phone& phone);

  zelko_ipc::Fd m_listener;
  std::string m_path;
};

}  // namespace derodi_sim

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <thread>

#include "scripted_daemon.hpp"
#include "temp_dir.hpp"
#include "zelko/ipc/client.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace {

using namespace std::chrono_literals;
using zelko_ipc::ControlRequest;
using zelko_ipc::ControlResponse;
using zelko_ipc::Fd;
using zelko_test::frame;

// A connected pair: the client's end and the daemon's end.
struct Connection {
  Fd client;
  Fd daemon;
  Connection() {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    client.reset(ends[0]);
    daemon.reset(ends[1]);
  }
};

// Interrupts the calling thread every 20 ms with a handler installed
// without SA_RESTART, so blocking calls fail with EINTR, while in scope.
class Interruptions {
 public:
  Interruptions() {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, &m_previous);
    itimerval timer{{0, 20000}, {0, 20000}};
    ::setitimer(ITIMER_REAL, &timer, nullptr);
  }
  ~Interruptions() {
    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &m_previous, nullptr);
  }

 private:
  struct sigaction m_previous {};
};

void block_alarms_in_this_thread() {
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
}

// Reads whatever the client sent, once it has stopped sending.
std::string drain(int fd) {
  std::string data;
  char chunk[4096];
  ssize_t got;
  while ((got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) {
    data.append(chunk, static_cast<std::size_t>(got));
  }
  return data;
}

// Runs one exchange_on against a daemon end that already holds `reply`.
std::expected<ControlResponse, zelko_ipc::Message> exchange_with_reply(
    const std::string& reply, std::string* request = nullptr, bool close_after = true) {
  Connection connection;
  std::thread daemon([&] {
    std::size_t sent = 0;
    while (sent < reply.size()) {
      const ssize_t n =
          ::send(connection.daemon.get(), reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        break;
      }
      sent += static_cast<std::size_t>(n);
    }
    if (close_after) {
      ::shutdown(connection.daemon.get(), SHUT_WR);
    }
  });
  auto result = zelko_ipc::client::exchange_on(connection.client.get(), {ControlRequest::Keys{}});
  daemon.join();
  if (request != nullptr) {
    *request = drain(connection.daemon.get());
  }
  return result;
}

TEST(ExchangeOn, SendsOneFrameAndDecodesTheAnswer) {
  std::string request;
  const auto result = exchange_with_reply(frame("keys\nk\ted\tSHA256:a\tc\tok"), &request);
  ASSERT_TRUE(result) << result.error().text();
  EXPECT_EQ(request, std::string("\0\0\0\x04keys", 8));
  std::string keys;
  std::get<ControlResponse::Keys>(result->value).for_each([&](const zelko_ipc::KeyRecord& key) {
    keys.append(key.name)
        .append(key.algorithm)
        .append(key.fingerprint)
        .append(key.comment)
        .append(key.state);
  });
  EXPECT_EQ(keys, "kedSHA256:acok");
}

TEST(ExchangeOn, ErrorAnswerIsASuccessfulExchange) {
  const auto result = exchange_with_reply(frame("error\nphone is away"));
  ASSERT_TRUE(result);
  EXPECT_EQ(std::get<ControlResponse::Error>(result->value).message, "phone is away");
}

// Every way an answer frame can fail, and the message each gives.
TEST(ExchangeOn, FailureMessages) {
  struct Row {
    std::string reply;
    std::string_view message;
  };
  const Row rows[] = {
      {"", "no answer from derodi: failed to fill whole buffer"},
      {std::string("\0", 1), "no answer from derodi: failed to fill whole buffer"},
      {std::string("\0\0\0", 3), "no answer from derodi: failed to fill whole buffer"},
      {std::string("\0\x10\0\x01", 4) + "status", "the daemon sent an oversized answer"},
      {std::string("\x7f\xff\xff\xff", 4), "the daemon sent an oversized answer"},
      {std::string("\xff\xff\xff\xff", 4), "the daemon sent an oversized answer"},
      {std::string("\0\0\0\x0akeys", 8),
       "truncated answer from derodi: failed to fill whole buffer"},
      {std::string("\0\x10\0\0", 4) + "keys",
       "truncated answer from derodi: failed to fill whole buffer"},
      {frame("keys\n\xff"), "the answer was not UTF-8"},
      {frame(""), "unknown control response"},
      {frame("KEYS\na\tb\tc\td\te"), "unknown control response"},
      {frame("status"), "status has no body"},
      {frame("keys\nab"), "control record has the wrong shape"},
  };
  for (const Row& row : rows) {
    const auto result = exchange_with_reply(row.reply);
    ASSERT_FALSE(result) << row.message;
    EXPECT_EQ(result.error().text(), row.message);
  }
}

TEST(ExchangeOn, AcceptsExactlyOneMebibyte) {
  std::string body = "keys";
  body.resize(1u << 20, '\n');
  const auto result = exchange_with_reply(frame(body));
  ASSERT_TRUE(result) << result.error().text();
  EXPECT_TRUE(std::get<ControlResponse::Keys>(result->value).empty());
}

TEST(ExchangeOn, IgnoresBytesAfterTheAnnouncedBody) {
  const auto result =
      exchange_with_reply(frame("error\nfirst") + "garbage\xff\xff", nullptr, false);
  ASSERT_TRUE(result);
  EXPECT_EQ(std::get<ControlResponse::Error>(result->value).message, "first");
}

TEST(ExchangeOn, PeerGoneBeforeTheRequestIsABrokenPipe) {
  ::signal(SIGPIPE, SIG_IGN);
  Connection connection;
  connection.daemon.reset();
  const auto result =
      zelko_ipc::client::exchange_on(connection.client.get(), {ControlRequest::Status{}});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text(), "cannot send the request: Broken pipe (os error 32)");
}

TEST(ExchangeOn, ReadsCarryOnAfterInterruptions) {
  Connection connection;
  const std::string reply = frame("error\ndripped slowly");
  std::thread daemon([&] {
    block_alarms_in_this_thread();
    for (const char byte : reply) {
      std::this_thread::sleep_for(15ms);
      ::send(connection.daemon.get(), &byte, 1, MSG_NOSIGNAL);
    }
  });
  std::expected<ControlResponse, zelko_ipc::Message> result;
  {
    Interruptions interruptions;
    result = zelko_ipc::client::exchange_on(connection.client.get(), {ControlRequest::Status{}});
  }
  daemon.join();
  ASSERT_TRUE(result) << result.error().text();
  EXPECT_EQ(std::get<ControlResponse::Error>(result->value).message, "dripped slowly");
}

TEST(WriteAll, CarriesOnAfterInterruptions) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  Fd reader(ends[0]);
  Fd writer(ends[1]);
  // Four times what the pipe holds, so the writer blocks and is interrupted.
  const std::string data(4 * 65536, 'z');
  std::string copied;
  std::thread drain_slowly([&] {
    block_alarms_in_this_thread();
    char chunk[8192];
    ssize_t got;
    std::this_thread::sleep_for(100ms);
    while (copied.size() < data.size() && (got = ::read(reader.get(), chunk, sizeof chunk)) > 0) {
      copied.append(chunk, static_cast<std::size_t>(got));
      std::this_thread::sleep_for(1ms);
    }
  });
  std::expected<void, zelko_ipc::WriteError> written;
  {
    Interruptions interruptions;
    written = zelko_ipc::write_all(writer.get(), data);
  }
  writer.reset();  // so the reader ends even when the write gave up early
  drain_slowly.join();
  EXPECT_TRUE(written) << written.error().text;
  EXPECT_EQ(copied, data);
}

// connect is made once: a signal that interrupts it ends the exchange.
TEST(Exchange, InterruptedConnectIsNotRetried) {
  zelko_test::TempDir runtime;
  ASSERT_EQ(::mkdir((runtime / "zelko").c_str(), 0700), 0);
  const std::string path = runtime / "zelko/control.sock";
  // With a backlog of 0 and nobody accepting, the second connect blocks.
  auto listener = zelko_ipc::daemon::listen_unix(path, 0);
  ASSERT_TRUE(listener) << listener.error();
  auto queued = zelko_ipc::connect_unix(path);
  ASSERT_TRUE(queued) << queued.error();

  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  std::expected<ControlResponse, zelko_ipc::Message> result;
  {
    Interruptions interruptions;
    result = zelko_ipc::client::exchange({ControlRequest::Status{}});
  }
  ::unsetenv("XDG_RUNTIME_DIR");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text(),
            "cannot reach derodi at " + path +
                ": Interrupted system call (os error 4)\nis the daemon running?");
}

}  // namespace

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>
#include <thread>

#include "scripted_daemon.hpp"
#include "zelko/ipc/client.hpp"
#include "zelko/ipc/fd.hpp"

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
std::expected<ControlResponse, std::string> exchange_with_reply(const std::string& reply,
                                                                std::string* request = nullptr,
                                                                bool close_after = true) {
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
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(request, std::string("\0\0\0\x04keys", 8));
  const auto* keys = std::get_if<ControlResponse::Keys>(&result->value);
  ASSERT_NE(keys, nullptr);
  ASSERT_EQ(keys->keys.size(), 1u);
  EXPECT_EQ(keys->keys[0].fingerprint, "SHA256:a");
}

TEST(ExchangeOn, ErrorAnswerIsASuccessfulExchange) {
  const auto result = exchange_with_reply(frame("error\nphone is away"));
  ASSERT_TRUE(result);
  EXPECT_EQ(std::get<ControlResponse::Error>(result->value).message, "phone is away");
}

TEST(ExchangeOn, FailureMessages) {
  struct Row {
    std::string reply;
    std::string_view message;
  };
  const Row rows[] = {
      {"", "no answer from derodi: failed to fill whole buffer"},
      {std::string("\0\0", 2), "no answer from derodi: failed to fill whole buffer"},
      {std::string("\0\x10\0\x01", 4), "the daemon sent an oversized answer"},
      {std::string("\xff\xff\xff\xff", 4), "the daemon sent an oversized answer"},
      {std::string("\0\0\0\x0akeys", 8),
       "truncated answer from derodi: failed to fill whole buffer"},
      {frame("keys\n\xff"), "the answer was not UTF-8"},
      {frame("keys\n\xed\xa0\x80"), "the answer was not UTF-8"},
      {frame("keys\n\xc0\x80"), "the answer was not UTF-8"},
      {frame("keys\nab"), "control record has the wrong shape"},
      {frame(""), "unknown control response"},
      {frame("status"), "status has no body"},
  };
  for (const Row& row : rows) {
    const auto result = exchange_with_reply(row.reply);
    ASSERT_FALSE(result) << row.message;
    EXPECT_EQ(result.error(), row.message);
  }
}

TEST(ExchangeOn, AcceptsExactlyOneMebibyte) {
  std::string body = "keys";
  body.resize(1u << 20, '\n');
  const auto result = exchange_with_reply(frame(body));
  ASSERT_TRUE(result) << result.error();
  EXPECT_TRUE(std::get<ControlResponse::Keys>(result->value).keys.empty());
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
  EXPECT_EQ(result.error(), "cannot send the request: Broken pipe (os error 32)");
}

// A signal handler installed without SA_RESTART makes blocking calls fail
// with EINTR; the reads must carry on regardless.
TEST(ExchangeOn, ReadsCarryOnAfterInterruptions) {
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
  itimerval timer{{0, 20000}, {0, 20000}};  // every 20 ms
  ASSERT_EQ(::setitimer(ITIMER_REAL, &timer, nullptr), 0);

  Connection connection;
  const std::string reply = frame("error\ndripped slowly");
  std::thread daemon([&] {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
    for (const char byte : reply) {
      std::this_thread::sleep_for(15ms);
      ::send(connection.daemon.get(), &byte, 1, MSG_NOSIGNAL);
    }
  });
  // Only this thread may take the alarm, so the interruptions land in recv.
  const auto result =
      zelko_ipc::client::exchange_on(connection.client.get(), {ControlRequest::Status{}});
  daemon.join();
  itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);

  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(std::get<ControlResponse::Error>(result->value).message, "dripped slowly");
}

}  // namespace

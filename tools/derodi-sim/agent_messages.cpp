// SPDX-License-Identifier: MIT
#include "agent_messages.hpp"

#include <openssl/evp.h>

#include "text.hpp"

namespace derodi_sim {

namespace {

// Takes the protocol's pieces off the front of a message, or fails.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : m_rest(bytes) {}

  std::optional<std::uint8_t> byte() {
    if (m_rest.empty()) {
      return std::nullopt;
    }
    const auto value = static_cast<std::uint8_t>(m_rest.front());
    m_rest.remove_prefix(1);
    return value;
  }

  // A 4-byte big-endian length, then that many bytes.
  std::optional<std::string_view> string() {
    if (m_rest.size() < 4) {
      return std::nullopt;
    }
    std::size_t length = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      length = length << 8 | static_cast<std::uint8_t>(m_rest[i]);
    }
    if (length > m_rest.size() - 4) {
      return std::nullopt;
    }
    const std::string_view text = m_rest.substr(4, length);
    m_rest.remove_prefix(4 + length);
    return text;
  }

 private:
  std::string_view m_rest;
};

constexpr std::uint8_t k_userauth_request = 50;  // SSH_MSG_USERAUTH_REQUEST

}  // namespace

std::optional<SignRequest> sign_request(std::string_view message) {
  Reader reader(message);
  const auto type = reader.byte();
  const auto key = reader.string();
  const auto data = reader.string();
  if (type != k_sign_request || !key || !data) {
    return std::nullopt;
  }
  return SignRequest{*key, *data};
}

std::optional<SessionBind> session_bind(std::string_view message) {
  Reader reader(message);
  if (reader.byte() != k_extension || reader.string() != "session-bind@openssh.com") {
    return std::nullopt;
  }
  const auto host_key = reader.string();
  const auto session_id = reader.string();
  const auto signature = reader.string();
  const auto forwarding = reader.byte();
  if (!host_key || !session_id || !signature || !forwarding) {
    return std::nullopt;
  }
  return SessionBind{*host_key, *session_id, *forwarding != 0};
}

Signed what_is_signed(std::string_view data) {
  if (data.starts_with("SSHSIG")) {
    const auto name_space = Reader(data.substr(6)).string();
    return name_space ? Signed(Sshsig{*name_space}) : Signed();
  }
  Reader login(data);
  const auto session_id = login.string();
  const auto type = login.byte();
  const auto user = login.string();
  const auto service = login.string();
  const auto method = login.string();
  if (session_id && type == k_userauth_request && user && service && method &&
      method->starts_with("publickey")) {
    return Login{*session_id, *user};
  }
  return {};
}

std::string fingerprint(std::string_view blob) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  if (EVP_Digest(blob.data(), blob.size(), digest, &digest_size, EVP_sha256(), nullptr) != 1) {
    return "SHA256:?";
  }
  std::string base64 =
      base64_encoded(std::string_view(reinterpret_cast<const char*>(digest), digest_size));
  base64.erase(base64.find_last_not_of('=') + 1);
  return "SHA256:" + base64;
}

std::string base64_encoded(std::string_view bytes) {
  // Four characters for every three bytes, and the terminating NUL.
  std::string base64((bytes.size() + 2) / 3 * 4 + 1, '\0');
  const int size = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()),
                                   reinterpret_cast<const unsigned char*>(bytes.data()),
                                   static_cast<int>(bytes.size()));
  base64.resize(static_cast<std::size_t>(size));
  return base64;
}

std::optional<std::string> key_blob(std::string_view public_line) {
  std::size_t at = 0;
  next_word(public_line, at);
  return base64_decoded(next_word(public_line, at));
}

std::optional<std::string> base64_decoded(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::string blob(text.size() / 4 * 3, '\0');
  const int size = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(blob.data()),
                                   reinterpret_cast<const unsigned char*>(text.data()),
                                   static_cast<int>(text.size()));
  if (size < 0) {
    return std::nullopt;
  }
  // EVP_DecodeBlock counts the padding as zero bytes.
  const std::size_t padding = text.size() - (text.find_last_not_of('=') + 1);
  blob.resize(static_cast<std::size_t>(size) - padding);
  return blob;
}

}  // namespace derodi_sim

// SPDX-License-Identifier: MIT
#pragma once
// What the agent protocol's messages say, as far as the phone tells of
// them. Readers of untrusted bytes: anything malformed is nothing.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace derodi_sim {

inline constexpr char k_agent_failure = 5;        // SSH_AGENT_FAILURE
inline constexpr char k_agent_success = 6;        // SSH_AGENT_SUCCESS
inline constexpr char k_request_identities = 11;  // SSH2_AGENTC_REQUEST_IDENTITIES
inline constexpr char k_sign_request = 13;        // SSH2_AGENTC_SIGN_REQUEST
inline constexpr char k_extension = 27;           // SSH_AGENTC_EXTENSION

/// A sign request: the blob of the key asked for, and the data to sign.
struct SignRequest {
  std::string_view key_blob;
  std::string_view data;
};
[[nodiscard]] std::optional<SignRequest> sign_request(std::string_view message);

/// A session-bind@openssh.com extension.
struct SessionBind {
  std::string_view host_key;
  std::string_view session_id;
  bool forwarding = false;
};
[[nodiscard]] std::optional<SessionBind> session_bind(std::string_view message);

/// Data an SSH client signs to log in: a user-authentication request.
struct Login {
  std::string_view session_id;
  std::string_view user;
};
/// Data ssh-keygen -Y signs: an SSHSIG signature in a namespace ("git", "file").
struct Sshsig {
  std::string_view name_space;
};
/// What the data of a sign request is, when it is a kind the phone knows.
using Signed = std::variant<std::monostate, Login, Sshsig>;
[[nodiscard]] Signed what_is_signed(std::string_view data);

/// A public key blob's fingerprint, as ssh-keygen -l prints it.
[[nodiscard]] std::string fingerprint(std::string_view blob);

/// `bytes` in base64, padded.
[[nodiscard]] std::string base64_encoded(std::string_view bytes);

/// `text` decoded from base64, or nothing when it is no base64.
[[nodiscard]] std::optional<std::string> base64_decoded(std::string_view text);

/// The blob of an authorized_keys line ("TYPE BASE64 [COMMENT]").
[[nodiscard]] std::optional<std::string> key_blob(std::string_view public_line);

}  // namespace derodi_sim

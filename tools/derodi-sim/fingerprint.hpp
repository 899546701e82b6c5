// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace derodi_sim {

/// OpenSSH's fingerprint of a public key blob: "SHA256:" and the SHA-256
/// digest in base64 without padding, as ssh-keygen -l prints it.
[[nodiscard]] std::string fingerprint(std::string_view blob);

/// The blob of an authorized_keys line ("TYPE BASE64 [COMMENT]"), or
/// nothing when its second word is no base64.
[[nodiscard]] std::optional<std::string> key_blob(std::string_view public_line);

}  // namespace derodi_sim

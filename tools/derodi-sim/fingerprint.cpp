// SPDX-License-Identifier: MIT
// Hashing and base64 from OpenSSL's libcrypto, which OpenSSH uses too.

#include "fingerprint.hpp"

#include <openssl/evp.h>

namespace derodi_sim {

std::string fingerprint(std::string_view blob) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  if (EVP_Digest(blob.data(), blob.size(), digest, &digest_size, EVP_sha256(), nullptr) != 1) {
    return "SHA256:?";
  }
  // Four characters for every three bytes, and the terminating NUL.
  std::string base64((digest_size + 2) / 3 * 4 + 1, '\0');
  const int size = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()), digest,
                                   static_cast<int>(digest_size));
  base64.resize(static_cast<std::size_t>(size));
  base64.erase(base64.find_last_not_of('=') + 1);
  return "SHA256:" + base64;
}

std::optional<std::string> key_blob(std::string_view public_line) {
  const std::size_t start = public_line.find(' ');
  if (start == std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view text = public_line.substr(start + 1);
  text = text.substr(0, text.find(' '));
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

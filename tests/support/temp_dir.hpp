// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace zelko_test {

/// A fresh private directory under the system's temporary folder, removed
/// with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  [[nodiscard]] const std::string& path() const { return m_path; }
  /// `path()` joined with `name`.
  [[nodiscard]] std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

/// The whole content of the file at `path`, or nothing when it cannot be read.
[[nodiscard]] std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

}  // namespace zelko_test

// SPDX-License-Identifier: MIT
#include "own_directory.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "text.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

std::unexpected<std::string> unsafe(const std::string& path, const std::string& why) {
  return std::unexpected(path + " is not safe to use: " + why);
}

}  // namespace

std::expected<void, std::string> check_own_directory(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) {
      return {};
    }
    return std::unexpected("cannot look at " + path + ": " + zelko_ipc::describe_os_error(errno));
  }
  if (S_ISLNK(info.st_mode)) {
    return unsafe(path, "it is a symbolic link");
  }
  if (!S_ISDIR(info.st_mode)) {
    return unsafe(path, "it is not a directory");
  }
  if (info.st_uid != ::geteuid()) {
    return unsafe(path, concat("it belongs to uid ", std::to_string(info.st_uid), ", not to uid ",
                               std::to_string(::geteuid())));
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return unsafe(path, concat("others can write to it (mode ", octal(info.st_mode), ")"));
  }
  return {};
}

std::expected<void, std::string> make_own_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return std::unexpected("cannot create " + path + ": " + zelko_ipc::describe_os_error(errno));
  }
  // Checked again: whatever was there, or appeared meanwhile, must pass.
  if (auto checked = check_own_directory(path); !checked) {
    return checked;
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    return std::unexpected("cannot create " + path + ": " + zelko_ipc::describe_os_error(errno));
  }
  return {};
}

}  // namespace derodi_sim

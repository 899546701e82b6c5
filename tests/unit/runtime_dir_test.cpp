// SPDX-License-Identifier: MIT
#include "zelko/ipc/runtime_dir.hpp"

#include <gtest/gtest.h>

namespace {

using zelko_ipc::runtime_dir::control_socket_path_in;

TEST(ControlSocketPath, JoinsTheRuntimeDirectory) {
  EXPECT_EQ(control_socket_path_in("/run/user/1000"), "/run/user/1000/zelko/control.sock");
  EXPECT_EQ(control_socket_path_in("/run/user/1000/"), "/run/user/1000/zelko/control.sock");
  EXPECT_EQ(control_socket_path_in("rt"), "rt/zelko/control.sock");
  EXPECT_EQ(control_socket_path_in("/"), "/zelko/control.sock");
  // The value is raw bytes: no UTF-8 needed, nothing canonicalised.
  EXPECT_EQ(control_socket_path_in("/tmp/\xff/../x"), "/tmp/\xff/../x/zelko/control.sock");
}

TEST(ControlSocketPath, UnsetOrEmptyIsNotSet) {
  EXPECT_EQ(control_socket_path_in(nullptr).error(), "XDG_RUNTIME_DIR is not set");
  EXPECT_EQ(control_socket_path_in("").error(), "XDG_RUNTIME_DIR is not set");
}

}  // namespace

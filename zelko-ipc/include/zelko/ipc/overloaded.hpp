// SPDX-License-Identifier: MIT
#pragma once

namespace zelko_ipc {

/// Combines lambdas into one visitor for std::visit.
template <class... Visitors>
struct Overloaded : Visitors... {
  using Visitors::operator()...;
};

}  // namespace zelko_ipc

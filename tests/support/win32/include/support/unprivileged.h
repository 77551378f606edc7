// Windows has no superuser whom file permissions do not bind: a part of a test meant for an
// unprivileged user runs as the user the tests run as.
#pragma once

#include <functional>

namespace remoteccm::testing {

inline bool RunsAsSuperuser() { return false; }

inline void AsUnprivilegedUser(const std::function<void()>& body) { body(); }

}  // namespace remoteccm::testing

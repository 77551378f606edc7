// Runs a part of a test as an unprivileged user, so that file permissions bind it even when
// the tests run as the superuser (as CI does).
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace remoteccm::testing {

// Whether the tests run as the superuser, whom file permissions do not bind.
inline bool RunsAsSuperuser() { return ::geteuid() == 0; }

// The user AsUnprivilegedUser runs its body as: "nobody" for the superuser, else this user.
inline uid_t UnprivilegedUid() {
  if (::geteuid() != 0) return ::geteuid();
  const passwd* nobody = ::getpwnam("nobody");
  return nobody != nullptr ? nobody->pw_uid : 65534;
}

// As the superuser: body runs in a child process that has dropped to the user "nobody" (its
// failed expectations are printed by the child and fail the test). Otherwise body runs here,
// as the user the tests run as. The files body works on must be reachable by "nobody".
inline void AsUnprivilegedUser(const std::function<void()>& body) {
  if (::geteuid() != 0) {
    body();
    return;
  }
  const uid_t uid = UnprivilegedUid();
  gid_t gid = 65534;
  if (const passwd* nobody = ::getpwnam("nobody")) gid = nobody->pw_gid;
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 ||
        ::geteuid() == 0) {
      ::_exit(3);
    }
    body();
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the unprivileged part died";
  ASSERT_NE(WEXITSTATUS(status), 3) << "could not drop to an unprivileged user";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the unprivileged part failed (see above)";
}

}  // namespace remoteccm::testing

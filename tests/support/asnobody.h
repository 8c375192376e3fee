// Part of a test run as the user "nobody", in a forked child: what a user
// may and may not do to another's files. Only root can run it.
#pragma once

#include <cerrno>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

// Whether this process can run work as nobody.
inline bool CanRunAsNobody() { return ::geteuid() == 0 && ::getpwnam("nobody") != nullptr; }

// Runs Work in a child as nobody; answers Work's answer (0 for success), or
// -1 when the child could not become nobody or did not end by itself.
inline int RunAsNobody(const std::function<int()>& Work) {
  const passwd* Nobody = ::getpwnam("nobody");
  if (!Nobody) return -1;
  const uid_t Uid = Nobody->pw_uid;
  const gid_t Gid = Nobody->pw_gid;
  const pid_t Child = ::fork();
  if (Child < 0) return -1;
  if (Child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(Gid) != 0 || ::setuid(Uid) != 0) ::_exit(255);
    // No destructor or exit handler of the parent's runs twice.
    ::_exit(Work() & 0x7f);
  }
  int Status = 0;
  while (::waitpid(Child, &Status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(Status) && WEXITSTATUS(Status) != 255 ? WEXITSTATUS(Status) : -1;
}

} // namespace testing_support

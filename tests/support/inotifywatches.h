// How many inotify watches this process holds, as the kernel tells it: one
// "inotify wd:" line per watch in the fdinfo of each inotify descriptor.
#pragma once

#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace testing_support {

inline int InotifyWatches() {
  int watches = 0;
  DIR* fds = ::opendir("/proc/self/fd");
  if (!fds) return -1;
  while (const dirent* entry = ::readdir(fds)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    char target[64] = {};
    const ssize_t n = ::readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
    if (n <= 0 || std::string(target, static_cast<std::size_t>(n)) != "anon_inode:inotify") continue;
    std::ifstream info("/proc/self/fdinfo/" + name);
    for (std::string line; std::getline(info, line);) watches += line.rfind("inotify wd:", 0) == 0;
  }
  ::closedir(fds);
  return watches;
}

} // namespace testing_support

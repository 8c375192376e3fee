// A run of the program killed amid a save and a copy: the work files it
// leaves behind are marked as its own, and its process is gone.
#pragma once

#include "platform/safesave.h"
#include "platform/shfileop.h"

#include <fstream>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

// A process that begins a save of Folder/Saved and a copy into Folder, and
// ends amid both, as a kill would end it; answers its number, 0 when it
// could not run.
inline pid_t KilledRun(const std::string& Folder, const std::string& Saved) {
  const std::string Source = Folder + "/.killed-run-source";
  std::ofstream(Source, std::ios::binary) << std::string(3 << 20, 'k');
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    // Never destroyed: the run ends before.
    new platform::TSafeSaveFile(Folder + "/" + Saved);
    platform::TSHFileOpStruct Op;
    Op.From = {Source};
    Op.To = {Folder + "/killed-run-copy"};
    Op.OnProgress = [](std::int64_t, std::int64_t, const std::string&) -> bool { ::_exit(0); };
    platform::SHFileOperation(Op);
    ::_exit(1);
  }
  int Status = 1;
  const bool Ended = Pid > 0 && ::waitpid(Pid, &Status, 0) == Pid && WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
  ::unlink(Source.c_str());
  return Ended ? Pid : 0;
}

} // namespace testing_support

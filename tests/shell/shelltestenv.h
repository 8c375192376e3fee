// A private home for shell tests: HOME and the XDG folders point into a
// temporary folder, so nothing touches the real home.
#pragma once

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QTemporaryDir>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <functional>
#include <string>
#include <unistd.h>

namespace shelltest {

class TPrivateHome {
public:
  TPrivateHome() {
    Save("HOME");
    Save("XDG_CONFIG_HOME");
    Save("XDG_DATA_HOME");
    Save("XDG_CACHE_HOME");
    Root = Dir.path().toStdString();
    Home = Root + "/home";
    QDir().mkpath(QString::fromStdString(Home + "/Desktop"));
    QDir().mkpath(QString::fromStdString(Home + "/Documents"));
    QDir().mkpath(QString::fromStdString(Home + "/.config"));
    QDir().mkpath(QString::fromStdString(Home + "/.local/share"));
    setenv("HOME", Home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (Home + "/.local/share").c_str(), 1);
    setenv("XDG_CACHE_HOME", (Home + "/.cache").c_str(), 1);
  }
  ~TPrivateHome() {
    for (const auto& [name, value, had] : FSaved) {
      if (had) setenv(name.c_str(), value.c_str(), 1);
      else unsetenv(name.c_str());
    }
  }

  std::string MakeDir(const std::string& rel) const {
    const std::string p = Root + "/" + rel;
    QDir().mkpath(QString::fromStdString(p));
    return p;
  }
  static void Touch(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd >= 0) ::close(fd);
  }

  QTemporaryDir Dir;
  std::string Root, Home;

private:
  void Save(const char* name) {
    const char* v = std::getenv(name);
    FSaved.push_back({name, v ? v : "", v != nullptr});
  }
  struct TSaved {
    std::string Name, Value;
    bool Had;
  };
  std::vector<TSaved> FSaved;
};

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Runs the event loop until cond holds or ms pass; answers cond. The time is
// generous: the wait ends once cond holds, and a worker thread may be slow to
// run at all on a busy machine of two cores.
inline bool WaitFor(const std::function<bool()>& cond, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    usleep(1000);
  }
  return true;
}

// Runs the event loop for ms.
inline void Pump(int ms) {
  WaitFor([] { return false; }, ms);
}

} // namespace shelltest

// A stand-in program first on PATH for the life of a test (xdg-email, or
// another desktop tool such as xdg-open): it records its process id and its
// arguments and ends with the exit code asked for, once released when held.
// Absent() instead leaves PATH with no such program at all.
#pragma once

#include "support/tempfolder.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

class TFakeProgram {
public:
  explicit TFakeProgram(const QString& Name, int ExitCode = 0) : FSavedPath(qgetenv("PATH")) {
    QFile script(FFolder.QPath() + "/" + Name);
    script.open(QIODevice::WriteOnly);
    // Its own files, not variables of the environment: two stand-ins may be
    // on PATH at once.
    script.write(QStringLiteral("#!/bin/sh\necho $$ > '%3'\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '%1'\n"
                                "while [ -e '%4' ]; do sleep 0.02; done\nexit $(cat '%2')\n")
                     .arg(ArgsFile(), ExitFile(), PidFile(), HoldFile())
                     .toLocal8Bit());
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    script.close();
    SetExitCode(ExitCode);
    qputenv("PATH", FFolder.QPath().toLocal8Bit() + ":" + FSavedPath);
  }
  ~TFakeProgram() { qputenv("PATH", FSavedPath); }
  TFakeProgram(const TFakeProgram&) = delete;
  TFakeProgram& operator=(const TFakeProgram&) = delete;

  void SetExitCode(int Code) {
    QFile file(ExitFile());
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray::number(Code));
  }
  // Runs from now on stay until Release(), as a program does that the user
  // has not closed yet.
  void Hold() { QFile(HoldFile()).open(QIODevice::WriteOnly); }
  void Release() { QFile::remove(HoldFile()); }
  // The process id of the last run; 0 before one.
  qint64 Pid() const {
    QFile file(PidFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
  }
  // PATH holds only an empty folder.
  void Absent() { qputenv("PATH", FEmpty.QPath().toLocal8Bit()); }

  // The arguments of the last run as their bytes; empty before one.
  std::vector<std::string> ArgumentBytes() const {
    QFile file(ArgsFile());
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArrayList parts = file.readAll().split('\0');
    parts.removeLast(); // after the last terminator
    std::vector<std::string> args;
    for (const QByteArray& a : parts) args.push_back(a.toStdString());
    return args;
  }
  // The same as text.
  QStringList Arguments() const {
    QStringList args;
    for (const std::string& a : ArgumentBytes()) args << QString::fromStdString(a);
    return args;
  }
  bool Ran() const { return QFile::exists(ArgsFile()); }

private:
  QString ArgsFile() const { return FFolder.QPath() + "/args"; }
  QString ExitFile() const { return FFolder.QPath() + "/exit"; }
  QString PidFile() const { return FFolder.QPath() + "/pid"; }
  QString HoldFile() const { return FFolder.QPath() + "/hold"; }
  TTempFolder FFolder;
  TTempFolder FEmpty;
  QByteArray FSavedPath;
};

class TFakeMailProgram : public TFakeProgram {
public:
  explicit TFakeMailProgram(int ExitCode = 0) : TFakeProgram(QStringLiteral("xdg-email"), ExitCode) {}
};

// Runs the event loop until Done answers true or Ms milliseconds have
// passed; answers Done's last answer.
inline bool WaitFor(const std::function<bool()>& Done, int Ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!Done() && clock.elapsed() < Ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return Done();
}

} // namespace testing_support

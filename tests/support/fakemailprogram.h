// A stand-in xdg-email first on PATH for the life of a test: it records its
// arguments and ends with the exit code asked for. Absent() instead leaves
// PATH with no xdg-email at all.
#pragma once

#include "support/tempfolder.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <functional>
#include <string>

namespace testing_support {

class TFakeMailProgram {
public:
  explicit TFakeMailProgram(int ExitCode = 0) : FSavedPath(qgetenv("PATH")) {
    QFile script(FFolder.QPath() + "/xdg-email");
    script.open(QIODevice::WriteOnly);
    script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$PICTROVA_MAIL_ARGS\"\n"
                 "exit ${PICTROVA_MAIL_EXIT:-0}\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    script.close();
    qputenv("PICTROVA_MAIL_ARGS", ArgsFile().toLocal8Bit());
    SetExitCode(ExitCode);
    qputenv("PATH", FFolder.QPath().toLocal8Bit() + ":" + FSavedPath);
  }
  ~TFakeMailProgram() {
    qputenv("PATH", FSavedPath);
    qunsetenv("PICTROVA_MAIL_ARGS");
    qunsetenv("PICTROVA_MAIL_EXIT");
  }
  TFakeMailProgram(const TFakeMailProgram&) = delete;
  TFakeMailProgram& operator=(const TFakeMailProgram&) = delete;

  void SetExitCode(int Code) { qputenv("PICTROVA_MAIL_EXIT", QByteArray::number(Code)); }
  // PATH holds only an empty folder.
  void Absent() { qputenv("PATH", FEmpty.QPath().toLocal8Bit()); }

  // The arguments of the last run; empty before one.
  QStringList Arguments() const {
    QFile file(ArgsFile());
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList args;
    for (const QByteArray& a : file.readAll().split('\0')) args << QString::fromUtf8(a);
    if (!args.isEmpty()) args.removeLast(); // after the last terminator
    return args;
  }
  bool Ran() const { return QFile::exists(ArgsFile()); }

private:
  QString ArgsFile() const { return FFolder.QPath() + "/args"; }
  TTempFolder FFolder;
  TTempFolder FEmpty;
  QByteArray FSavedPath;
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

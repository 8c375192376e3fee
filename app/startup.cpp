#include "app/startup.h"

#include "app/filetypes.h"
#include "app/genutil.h"
#include "app/mainform.h"
#include "image/model/rvbitmap.h"
#include "platform/application.h"
#include "platform/registry.h"
#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <exception>

namespace app {

QString SecondInstanceMacro(const QStringList& arguments) {
  if (arguments.isEmpty()) return QString();
  const QString last = arguments.back();
  if (last == QLatin1String("EXIT")) return last;
  QFileInfo info(last);
  // The running instance has another working folder: hand it an absolute
  // path. A folder goes too: the running instance opens it as a tab.
  if (info.exists() && (info.isFile() || info.isDir())) return info.absoluteFilePath();
  return QString();
}

namespace {

QStringList Arguments(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  return args;
}

int SecondInstance(int argc, char** argv, const QStringList& args) {
  QCoreApplication app(argc, argv);
  platform::TDdeClientConv client;
  client.SetLink(DdeService, DdeTopic);
  if (client.OpenLink()) {
    client.ExecuteMacro(SecondInstanceMacro(args));
    client.CloseLink();
  }
  return 0;
}

} // namespace

int ProgramEntry(int argc, char** argv) {
  const QStringList args = Arguments(argc, argv);
  platform::TNamedMutex mutex(MutexName);
  if (!mutex.Owned()) return SecondInstance(argc, argv, args);
  // Settings work files of an earlier run killed amid a write.
  platform::RemoveStaleKeyStoreFiles();

  if (!args.isEmpty()) {
    const QString& first = args.front();
    bool handled = true;
    int result = 0;
    try {
      if (first == QLatin1String("-install")) {
        FixInstallFileTypes();
        InstallFileTypes();
      } else if (first == QLatin1String("-fixinstall")) {
        FixInstallFileTypes();
      } else if (first == QLatin1String("-uninstall")) {
        UninstallFileTypes();
      } else if (first != QLatin1String("EXIT")) {
        handled = false;
      }
    } catch (const std::exception& e) {
      // A failed registration is reported and ends the process with an
      // error code, not with an abort.
      std::fprintf(stderr, "Pictrova 3: %s\n", e.what());
      result = 1;
    }
    if (handled) {
      mutex.Close();
      return result;
    }
  }

  // The session's end (platform/application.h): blocked before any thread
  // exists, read from the application object's start. Until the main window
  // is up, a signal ends the program as it would unblocked.
  platform::BlockTerminationSignals();
  platform::TApplication app(argc, argv);
  platform::TTerminationSignals ending;
  app.SetTitle(QString::fromLatin1(ApplicationTitle));
  app.OnException = [](std::exception_ptr error) {
    QMessageBox::critical(platform::DialogOwner(), QStringLiteral("Error"),
                          platform::TApplication::ExceptionMessage(error));
  };
  // Work files of earlier runs that were killed.
  rv::RvRemoveStaleTempFiles();
  RemoveStaleWorkFolders();
  // Listening before any window exists: a second start during ours is held.
  platform::TDdeServerConv server(DdeService, DdeTopic);
  server.Listen();

  int result = 0;
  {
    // The forms of start-up, in their order; only the main window shows.
    TMainForm mainForm(args, &server);
    TStartupForms forms(mainForm.RecentFolders());
    mainForm.FormsCreated();
    mainForm.show();
    // Ended by the session (logout, hang-up, interrupt) as by File > Exit;
    // a second signal of a kind ends it at once.
    ending.OnSignal = [&mainForm](int) { mainForm.CloseForSession(); };
    result = app.exec();
    ending.OnSignal = nullptr;
  }
  mutex.Close();
  return result;
}

} // namespace app

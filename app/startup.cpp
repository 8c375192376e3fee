#include "app/startup.h"

#include "app/filetypes.h"
#include "app/genutil.h"
#include "app/mainform.h"
#include "image/model/rvbitmap.h"
#include "platform/application.h"
#include "platform/registry.h"
#include "platform/shfileop.h"
#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <filesystem>

namespace app {

std::string SecondInstanceMacro(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::string();
  const std::string& last = arguments.back();
  if (last == "EXIT") return last;
  // The running instance has another working folder: hand it an absolute
  // path. A folder goes too: the running instance opens it as a tab.
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(last, error);
  if (std::filesystem::is_regular_file(status) || std::filesystem::is_directory(status))
    return platform::AbsoluteFilePath(last);
  return std::string();
}

namespace {

// The arguments as their bytes: a file's name need not be UTF-8.
std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

int SecondInstance(int argc, char** argv, const std::vector<std::string>& args) {
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
  const std::vector<std::string> args = Arguments(argc, argv);
  platform::TNamedMutex mutex(MutexName);
  if (!mutex.Owned()) return SecondInstance(argc, argv, args);
  // Settings work files of an earlier run killed amid a write.
  platform::RemoveStaleKeyStoreFiles();

  if (!args.empty()) {
    const std::string& first = args.front();
    bool handled = true;
    int result = 0;
    try {
      if (first == "-install") {
        FixInstallFileTypes();
        InstallFileTypes();
      } else if (first == "-fixinstall") {
        FixInstallFileTypes();
      } else if (first == "-uninstall") {
        UninstallFileTypes();
      } else if (first != "EXIT") {
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

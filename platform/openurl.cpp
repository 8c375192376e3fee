#include "platform/openurl.h"
#include "platform/childprocess.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QPointer>
#include <QtCore/QStandardPaths>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>

#include <atomic>
#include <sys/wait.h>

namespace platform {

namespace {

std::chrono::milliseconds OpenerAnswerTime{5000};
std::atomic<int> Running{0};

// Waits for one opener's end from the event loop and collects its status,
// so that none is left a zombie, whether or not anyone still waits for the
// answer. xdg-open hands Url to the desktop and ends at once; where it finds
// no desktop, it runs the program itself and ends when that program ends,
// with that program's failure as its own. So only an end within the answer
// time with one of its own failure codes (1 syntax, 2 no such file, 3 no
// tool found, 4 the action failed) is a failure to open; past that time the
// opener counts as having opened.
class TOpenerWatch : public QObject {
public:
  TOpenerWatch(pid_t Pid, QObject* Context, std::function<void(bool)> Done)
      : QObject(QCoreApplication::instance()), FContext(Context), FDone(std::move(Done)) {
    ++Running;
    QTimer::singleShot(OpenerAnswerTime, this, [this] { Answer(true); });
    new TChildEndWatch(Pid, this, [this](int Status) {
      FCollected = true;
      --Running;
      // Collected by someone else (children ignored): nothing known of it.
      const bool failed = Status >= 0 && WIFEXITED(Status) && WEXITSTATUS(Status) >= 1 && WEXITSTATUS(Status) <= 4;
      Answer(!failed);
      deleteLater();
    });
  }
  ~TOpenerWatch() override {
    if (!FCollected) --Running;
  }

private:
  void Answer(bool Opened) {
    if (!FDone) return;
    const auto done = std::move(FDone);
    FDone = nullptr;
    if (FContext) done(Opened);
  }

  bool FCollected = false;
  QPointer<QObject> FContext;
  std::function<void(bool)> FDone;
};

} // namespace

void OpenUrlAsync(const QUrl& Url, QObject* Context, std::function<void(bool Opened)> Done) {
  const QString Opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  // In a session of its own: it outlives the window that asked and the
  // program, as a program started from the desktop would.
  const pid_t Pid = Opener.isEmpty() ? -1
                                     : StartProgram(QFile::encodeName(Opener).toStdString(),
                                                    {Url.toString(QUrl::FullyEncoded).toStdString()}, true);
  if (Pid < 0) {
    // Without xdg-open, Qt's own choice of browser.
    const bool Opened = !Opener.isEmpty() ? false : QDesktopServices::openUrl(Url);
    // Answered from the event loop as the opener's end would be, so that
    // callers see one order of events.
    QTimer::singleShot(0, Context, [Done = std::move(Done), Opened] { Done(Opened); });
    return;
  }
  new TOpenerWatch(Pid, Context, std::move(Done));
}

void SetOpenerAnswerTime(std::chrono::milliseconds Time) { OpenerAnswerTime = Time; }

int RunningOpeners() { return Running; }

QByteArray FileUri(const std::string& Path) { return "file://" + QByteArray::fromStdString(Path).toPercentEncoding("/"); }

} // namespace platform

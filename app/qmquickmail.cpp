#include "app/qmquickmail.h"

#include "app/msgbox.h"
#include "platform/application.h"

#include <QProcess>

namespace app {

namespace {
const QString DefaultErrorMessage = QStringLiteral("Error sending mail");

bool Blank(const QString& Text) { return Text.trimmed().isEmpty(); }
} // namespace

TQmQuickMail::TQmQuickMail() : FErrorMessage(DefaultErrorMessage) {}

TQmQuickMail::~TQmQuickMail() {
  if (FProcess) {
    FProcess->disconnect();
    // The composer it started lives on; only xdg-email itself is waited for.
    FProcess->waitForFinished(5000);
  }
}

void TQmQuickMail::SetErrorMessage(const QString& Value) {
  FErrorMessage = Value.isEmpty() ? DefaultErrorMessage : Value;
}

QStringList TQmQuickMail::Arguments() const {
  // Qt hands arguments over in UTF-8 whatever the locale says.
  QStringList args{QStringLiteral("--utf8")};
  if (!Blank(Subject)) args << QStringLiteral("--subject") << Subject;
  const QString body = TextToSend.join(QLatin1Char('\n'));
  if (!Blank(body)) args << QStringLiteral("--body") << body;
  for (const QString& address : ToCCEmail)
    if (!Blank(address)) args << QStringLiteral("--cc") << address.trimmed();
  for (const QString& address : ToBCCEmail)
    if (!Blank(address)) args << QStringLiteral("--bcc") << address.trimmed();
  for (const QString& file : FileNames) args << QStringLiteral("--attach") << file;
  if (!Blank(ToEmail)) args << ToEmail.trimmed();
  return args;
}

int TQmQuickMail::ResultOfExitCode(int ExitCode) {
  switch (ExitCode) {
    case 0: return MailSuccess;
    case 2: return MailAttachmentNotFound;
    case 3: return MailNoMailProgram;
    case 5: return MailAttachmentOpenFailure;
    // 1 is a refused command line, 4 a mail program that failed: neither is
    // the user's choice, so neither may pass for an abort.
    default: return MailFailure;
  }
}

int TQmQuickMail::ResultOf(const QProcess& Process, bool Started) const {
  if (!Started || Process.error() == QProcess::FailedToStart) return MailNoMailProgram;
  if (Process.exitStatus() != QProcess::NormalExit) return MailFailure;
  return ResultOfExitCode(Process.exitCode());
}

void TQmQuickMail::ReportResult(int Result) {
  const TNotifyEvent* handler = nullptr;
  switch (Result) {
    case MailSuccess: return;
    case MailUserAbort: handler = &OnUserAbort; break;
    case MailTooManyFiles: handler = &OnTooManyFiles; break;
    case MailTooManyRecipients: handler = &OnTooManyRecips; break;
    case MailAttachmentNotFound: handler = &OnAttachmentNotFound; break;
    case MailAttachmentOpenFailure: handler = &OnAttachmentOpenFailure; break;
    case MailTextTooLarge: handler = &OnTextTooLarge; break;
    default: break;
  }
  if (handler != nullptr && *handler) {
    (*handler)(this);
    return;
  }
  MessageDlg(QStringLiteral("Error"), FErrorMessage + QStringLiteral(" (") + QString::number(Result) + QStringLiteral(")."),
             QMessageBox::Critical, QMessageBox::Ok);
}

bool TQmQuickMail::Send() {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  platform::UnblockTerminationSignalsInChild(process);
  process.start(QString::fromLatin1(MailProgram), Arguments());
  const bool started = process.waitForStarted(-1);
  if (started) process.waitForFinished(-1);
  const int result = ResultOf(process, started);
  ReportResult(result);
  return result == MailSuccess;
}

void TQmQuickMail::SendAsync(std::function<void(bool Success)> Done) {
  if (FProcess) return;
  FProcess = std::make_unique<QProcess>();
  FProcess->setProcessChannelMode(QProcess::ForwardedChannels);
  platform::UnblockTerminationSignalsInChild(*FProcess);
  auto finish = [this, Done = std::move(Done)] {
    // Released after this call: the process object is still delivering.
    std::unique_ptr<QProcess> process = std::move(FProcess);
    process->disconnect();
    const int result = ResultOf(*process, process->error() != QProcess::FailedToStart);
    process.release()->deleteLater();
    ReportResult(result);
    if (Done) Done(result == MailSuccess);
  };
  QObject::connect(FProcess.get(), &QProcess::finished, finish);
  QObject::connect(FProcess.get(), &QProcess::errorOccurred, [finish](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) finish();
  });
  FProcess->start(QString::fromLatin1(MailProgram), Arguments());
}

} // namespace app

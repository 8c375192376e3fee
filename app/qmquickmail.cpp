#include "app/qmquickmail.h"

#include "app/msgbox.h"
#include "platform/childprocess.h"

#include <sys/wait.h>

namespace app {

namespace {
const QString DefaultErrorMessage = QStringLiteral("Error sending mail");

bool Blank(const QString& Text) { return Text.trimmed().isEmpty(); }
} // namespace

TQmQuickMail::TQmQuickMail() : FErrorMessage(DefaultErrorMessage) {}

TQmQuickMail::~TQmQuickMail() {
  // The composer it started lives on; only xdg-email itself is waited for.
  if (FRun) FRun->EndQuietly(5000);
}

void TQmQuickMail::SetErrorMessage(const QString& Value) {
  FErrorMessage = Value.isEmpty() ? DefaultErrorMessage : Value;
}

std::vector<std::string> TQmQuickMail::Arguments() const {
  // With "--utf8" xdg-email takes the texts as UTF-8 and percent-encodes
  // the attachments' bytes as they are.
  std::vector<std::string> args{"--utf8"};
  const auto add = [&args](const char* Option, const QString& Value) {
    args.insert(args.end(), {Option, Value.toStdString()});
  };
  if (!Blank(Subject)) add("--subject", Subject);
  const QString body = TextToSend.join(QLatin1Char('\n'));
  if (!Blank(body)) add("--body", body);
  for (const QString& address : ToCCEmail)
    if (!Blank(address)) add("--cc", address.trimmed());
  for (const QString& address : ToBCCEmail)
    if (!Blank(address)) add("--bcc", address.trimmed());
  for (const std::string& file : FileNames) args.insert(args.end(), {"--attach", file});
  if (!Blank(ToEmail)) args.push_back(ToEmail.trimmed().toStdString());
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

int TQmQuickMail::ResultOfRun(bool Started, int Status) {
  if (!Started) return MailNoMailProgram;
  if (Status < 0 || !WIFEXITED(Status)) return MailFailure;
  return ResultOfExitCode(WEXITSTATUS(Status));
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
  const pid_t pid = platform::StartProgram(MailProgram, Arguments(), false);
  const int result = ResultOfRun(pid >= 0, pid >= 0 ? *platform::WaitProgram(pid) : -1);
  ReportResult(result);
  return result == MailSuccess;
}

void TQmQuickMail::SendAsync(std::function<void(bool Success)> Done) {
  if (FRun) return;
  const pid_t pid = platform::StartProgram(MailProgram, Arguments(), false);
  FRun = std::make_unique<platform::TChildEndWatch>(pid, nullptr, [this, pid, Done = std::move(Done)](int Status) {
    // Released after this call: the watch is still delivering.
    FRun.release()->deleteLater();
    const int result = ResultOfRun(pid >= 0, Status);
    ReportResult(result);
    if (Done) Done(result == MailSuccess);
  });
}

} // namespace app

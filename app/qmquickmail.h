// The mail sender: hands one message with attachments to the desktop's mail
// program through xdg-email, which opens its composer. There is no account
// store of our own: the mail program sends as its own account.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class TChildEndWatch;
}

namespace app {

// Results in the numbering of the mail interface the program was made for.
inline constexpr int MailSuccess = 0;
inline constexpr int MailUserAbort = 1;
inline constexpr int MailFailure = 2;
inline constexpr int MailTooManyFiles = 9;
inline constexpr int MailTooManyRecipients = 10;
inline constexpr int MailAttachmentNotFound = 11;
inline constexpr int MailAttachmentOpenFailure = 12;
inline constexpr int MailTextTooLarge = 18;
// No xdg-email, or no mail program behind it.
inline constexpr int MailNoMailProgram = -1;

class TQmQuickMail {
public:
  using TNotifyEvent = std::function<void(TQmQuickMail* Sender)>;

  TQmQuickMail();
  ~TQmQuickMail();
  TQmQuickMail(const TQmQuickMail&) = delete;
  TQmQuickMail& operator=(const TQmQuickMail&) = delete;

  QStringList TextToSend; // the body, one line each
  QString ToEmail;
  QString Subject;
  QStringList ToCCEmail;
  QStringList ToBCCEmail;
  // Full paths of the attachments, in order, as their bytes: a name need
  // not be UTF-8, and the mail program must attach that very file.
  std::vector<std::string> FileNames;

  const QString& ErrorMessage() const { return FErrorMessage; }
  // An empty text stands for "Error sending mail".
  void SetErrorMessage(const QString& Value);

  TNotifyEvent OnAttachmentNotFound;
  TNotifyEvent OnAttachmentOpenFailure;
  TNotifyEvent OnTooManyFiles;
  TNotifyEvent OnTooManyRecips;
  TNotifyEvent OnTextTooLarge;
  TNotifyEvent OnUserAbort;

  // The mail program's arguments: subject, body, copies, attachments, then
  // the recipients; the texts in UTF-8, the attachments' paths as they are.
  std::vector<std::string> Arguments() const;
  // Runs xdg-email and waits for it; true when the composer opened. A
  // failure goes to its event, or without one to an error box with
  // ErrorMessage and the result.
  bool Send();
  // The same without waiting: Done runs on this thread once xdg-email has
  // ended (after the failure was reported). One send at a time.
  void SendAsync(std::function<void(bool Success)> Done);
  bool Busy() const { return FRun != nullptr; }

  // The result an exit code of xdg-email stands for.
  static int ResultOfExitCode(int ExitCode);
  // The result of a run of xdg-email that ended with the wait status
  // Status (-1: not known), or that never started.
  static int ResultOfRun(bool Started, int Status);
  // Calls the result's event, or shows the error box; nothing for success.
  void ReportResult(int Result);

  // The program run; tests leave it as it is and put a stand-in first on PATH.
  static constexpr const char* MailProgram = "xdg-email";

private:
  QString FErrorMessage;
  std::unique_ptr<platform::TChildEndWatch> FRun;
};

} // namespace app

#include "platform/shfileopask.h"

#include "platform/cursors.h"

#include <QMessageBox>
#include <QObject>
#include <QProgressDialog>

#include <algorithm>
#include <filesystem>

namespace platform {

TFileOpAnswer AskFileOpConfirm(QWidget* Owner, const std::string& Title, TFileOpConfirm Kind,
                               const std::string& Source, const std::string& Target, bool ToTrash, bool Several) {
  QString Text;
  switch (Kind) {
    case TFileOpConfirm::Replace:
      Text = QObject::tr("\"%1\" already exists.\nReplace it with \"%2\"?")
                 .arg(QString::fromStdString(Target), QString::fromStdString(Source));
      break;
    case TFileOpConfirm::Delete:
      Text = ToTrash ? QObject::tr("Move \"%1\" to the trash?").arg(QString::fromStdString(Source))
                     : QObject::tr("Delete \"%1\" for good?").arg(QString::fromStdString(Source));
      break;
    case TFileOpConfirm::MakeFolder:
      Text = QObject::tr("The folder \"%1\" does not exist. Create it?").arg(QString::fromStdString(Source));
      break;
  }
  QMessageBox::StandardButtons Buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  if (Several) Buttons |= QMessageBox::YesToAll | QMessageBox::NoToAll;
  const TQuestionCursor Arrow;
  const auto Answer = QMessageBox::question(Owner, QString::fromStdString(Title), Text, Buttons, QMessageBox::No);
  switch (Answer) {
    case QMessageBox::Yes: return TFileOpAnswer::Yes;
    case QMessageBox::YesToAll: return TFileOpAnswer::YesToAll;
    case QMessageBox::No: return TFileOpAnswer::No;
    case QMessageBox::NoToAll: return TFileOpAnswer::NoToAll;
    default: return TFileOpAnswer::Cancel;
  }
}

void TellFileOpFailures(QWidget* Owner, const std::string& Title, const std::vector<TFileOpFailure>& Failures,
                        const std::vector<TFileOpFailure>& Warnings) {
  QString Text;
  for (const auto* List : {&Failures, &Warnings})
    for (const auto& F : *List) Text += QString::fromStdString(F.Path + "\n" + F.Message + "\n\n");
  const TQuestionCursor Arrow;
  QMessageBox::warning(Owner, QString::fromStdString(Title), Text.trimmed());
}

bool FileOpMayAskAgain(TFileOpConfirm Kind, const std::vector<std::string>& Sources) {
  if (Kind == TFileOpConfirm::MakeFolder) return false;
  const auto Count = std::count_if(Sources.begin(), Sources.end(), [](const std::string& S) { return !S.empty(); });
  if (Count != 1) return Count > 1;
  const auto& Only = *std::find_if(Sources.begin(), Sources.end(), [](const std::string& S) { return !S.empty(); });
  if (Only.substr(Only.rfind('/') + 1).find_first_of("*?") != std::string::npos) return true;
  std::error_code Error;
  return Kind == TFileOpConfirm::Replace && std::filesystem::is_directory(Only, Error);
}

TFileOpProgressWindow::TFileOpProgressWindow(QWidget* Owner, const std::string& Title, bool ShowNames)
    : FOwner(Owner), FTitle(Title), FShowNames(ShowNames) {}

TFileOpProgressWindow::~TFileOpProgressWindow() = default;

void TFileOpProgressWindow::Attach(TSHFileOpStruct& Op) {
  Op.OnConfirm = [this, Ask = std::move(Op.OnConfirm)](TFileOpConfirm Kind, const std::string& Source,
                                                        const std::string& Target) {
    // The question stands alone; the progress comes back after it, with
    // its own delay.
    FDialog.reset();
    return Ask ? Ask(Kind, Source, Target)
               : (Kind == TFileOpConfirm::Replace ? TFileOpAnswer::No : TFileOpAnswer::Yes);
  };
  Op.OnProgress = [this](std::int64_t Done, std::int64_t Total, const std::string& Current) {
    if (!FDialog) {
      // QProgressDialog times its delay from its making.
      FDialog = std::make_unique<QProgressDialog>(QString::fromStdString(FTitle), QObject::tr("Cancel"), 0, 1000,
                                                  FOwner);
      FDialog->setWindowModality(Qt::WindowModal);
      FDialog->setMinimumDuration(500);
      FDialog->setAutoReset(false);
      FDialog->setAutoClose(false);
    }
    if (FShowNames) FDialog->setLabelText(QString::fromStdString(Current));
    FDialog->setValue(Total > 0 ? static_cast<int>(std::min<std::int64_t>(Done * 1000 / Total, 1000)) : 0);
    return !FDialog->wasCanceled();
  };
}

} // namespace platform

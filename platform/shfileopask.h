// The question a file operation asks the user when nobody answers for it, and
// the progress window it shows meanwhile.
#pragma once

#include "platform/shfileop.h"

#include <memory>
#include <string>
#include <vector>

class QProgressDialog;
class QWidget;

namespace platform {

// Asks with a message box over Owner; ToTrash words a delete as a move to
// the trash. Only Several offers "Yes to All" and "No to All".
TFileOpAnswer AskFileOpConfirm(QWidget* Owner, const std::string& Title, TFileOpConfirm Kind,
                               const std::string& Source, const std::string& Target, bool ToTrash, bool Several);

// Tells the items an operation failed on, and those done without all they
// had, in one warning over Owner.
void TellFileOpFailures(QWidget* Owner, const std::string& Title, const std::vector<TFileOpFailure>& Failures,
                        const std::vector<TFileOpFailure>& Warnings);

// Whether an operation on Sources may ask Kind's question more than once: a
// new folder is asked for once, a delete once per item, a replace once per
// file (a folder holds many).
bool FileOpMayAskAgain(TFileOpConfirm Kind, const std::vector<std::string>& Sources);

// The progress window of one operation over Owner. It is made at the first
// progress, after any question, and taken down while a question is asked: a
// window-modal progress window coming up over a question would cover it and
// take its input.
class TFileOpProgressWindow {
public:
  TFileOpProgressWindow(QWidget* Owner, const std::string& Title, bool ShowNames);
  ~TFileOpProgressWindow();
  TFileOpProgressWindow(const TFileOpProgressWindow&) = delete;
  TFileOpProgressWindow& operator=(const TFileOpProgressWindow&) = delete;

  // Sets Op.OnProgress and puts itself before Op.OnConfirm; Op must not
  // outlive this window.
  void Attach(TSHFileOpStruct& Op);

private:
  QWidget* FOwner;
  std::string FTitle;
  bool FShowNames;
  std::unique_ptr<QProgressDialog> FDialog;
};

} // namespace platform

// The application's message window: caption, main text, detail memo, one of
// four icons and up to three buttons. One instance lives for the whole run;
// it also reports every exception that reaches the event loop.
#pragma once

#include <QDialog>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QPlainTextEdit;

namespace kel {
class TKelShapeButton;
}

namespace app {

// The look the forms give their shape buttons: rounded, a 3-pixel shadow,
// a raised one-pixel bevel, grey under the mouse, keyed out around the shape.
void ApplyFormButtonValues(kel::TKelShapeButton& button);

class THelpDlg : public QDialog {
public:
  explicit THelpDlg(QWidget* parent = nullptr);
  ~THelpDlg() override;

  QLabel* LblHelpText;
  QPlainTextEdit* MmoHelpDetail;
  QFrame* Bevel1;
  QLabel* ImgInfo;
  QLabel* ImgAlert;
  QLabel* ImgQuestion;
  QLabel* ImgError;
  kel::TKelShapeButton* SbtnOkay;
  kel::TKelShapeButton* SBtnCancel;
  kel::TKelShapeButton* SbtnOptional;

  // 0 information, 1 alert, 2 question, 3 error.
  void SetIconKind(int kind);
  int IconKind() const { return FIconKind; }
  // The message up is a question about leaving or saving an edited picture
  // (PromptOverwriteResized, PromptOverwriteRotated, PromptSaveNewImage,
  // PromptFileChanged, PromptSaveLoses): its answer decides whether the
  // edit is kept.
  bool AsksAboutEdit() const { return FAsksAboutEdit; }
  void SetDetailText(const QString& text);
  QStringList DetailLines() const { return FDetailLines; }

  // Shows the dialog modally; answers 1 (OK), 2 (Cancel), 3 (optional).
  int ShowModal();
  // Caption and texts, error icon, shown modally.
  int ShowMessage(const QString& caption, const QString& text, const QString& detail);

  // Prepared messages; the caller then calls ShowModal.
  void PromptOverwriteResized();
  void PromptOverwriteRotated();
  void PromptSaveNewImage();
  // The shown picture's file was changed or replaced by another program
  // since it was read: "Overwrite" (1), "Save As" (2), "Discard Changes" (3).
  // Enter answers "Save As".
  void PromptFileChanged(const QString& name);
  // A save of the edited picture as the file Name would leave out what Lost
  // lists. Over the picture's own file: "Overwrite" (1), "Save As" (2),
  // "Discard Changes" (3), Enter answering "Save As"; as a name the user
  // chose (Copy): "Save" (1) and "Cancel" (2), Enter answering "Cancel".
  void PromptSaveLoses(const QString& name, const QStringList& lost, bool copy);
  void ShowUnsupportedFormat(const QString& file);
  void ShowDefaultHandlerFailed(const QString& type);
  // Settings files that could not be read, kept under the names given.
  void ShowSettingsNotRead(const QStringList& keptFiles);
  // Settings files read earlier in the run that failed to be read again,
  // each as its name and the file system's error.
  void ShowSettingsNotReadAgain(const QStringList& failedFiles);
  void ShowEmailOptimizationResults(const QStringList& lines, bool error);
  // A picture that failed to load: "Delete" (1) and "Skip" (2), or OK alone.
  void PrepareLoadError(const QString& name, const QString& message, bool offerDelete);
  // An error with buttons of the caller's captions: Okay (1) and, unless
  // empty, Cancel (2).
  void PrepareChoice(const QString& caption, const QString& text, const QString& okay, const QString& cancel);

  // The event loop's exception handler: shown with the caption "Error".
  void ApplicationEvents1Exception(std::exception_ptr error);

  // When set, ShowModal shows the dialog without a modal loop and lets this
  // answer it (click a button, press a key) instead of a user.
  static std::function<void(THelpDlg&)> ModalAnswer;

  void done(int result) override;
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormShow();
  bool HandleKey(int key);
  void SetDetailLines(const QStringList& lines);
  // The text above the details; Hint is the label's tool tip.
  void SetHelpText(const QString& text, const QString& hint = QString());
  void PrepareOverwrite(const QStringList& firstLines);

  int FIconKind = 3;
  // Set where a question about the edit is prepared, until it is answered.
  bool FAsksAboutEdit = false;
  // The answer of Enter, until the message is answered.
  int FEnterAnswer = 1;
  QStringList FDetailLines;
  std::function<void(std::exception_ptr)> FPreviousHandler;
  bool FHandlerInstalled = false;
  // Stands in as the program's message dialog while this one is up.
  std::unique_ptr<THelpDlg> FStandby;
  static inline bool FStandbyMaking = false;
};

// The one message dialog of the program (set by the first THelpDlg created).
extern THelpDlg* HelpDlg;

int ShowHelpDlgMessage(const QString& caption, const QString& text, const QString& detail);
int ShowErrorDialog(const QString& text);

} // namespace app

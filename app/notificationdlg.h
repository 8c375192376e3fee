// The yes/no prompts that the user can silence for good: each belongs to a
// boolean setting, written when the dialog closes.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;

namespace wn {
class TQrCheckBox;
}
namespace kel {
class TKelShapeButton;
}

namespace app {

class TNotificationDlg : public QDialog {
public:
  explicit TNotificationDlg(QWidget* parent = nullptr);
  ~TNotificationDlg() override;

  QLabel* LblMain;
  QLabel* LblDetail;
  wn::TQrCheckBox* CbDoNotPrompt;
  kel::TKelShapeButton* SBtnOkay;
  kel::TKelShapeButton* SBtnCancel;

  // Each fills the dialog, shows it modally and answers 1 (first button) or 2.
  int PromptDisableAutoFit();
  int PromptCloseFolder();
  int PromptFullScreen();
  int PromptSlideShow();

  // The setting the prompt on show belongs to (empty when none).
  const std::string& SettingName() const { return FSettingName; }

  // When set, the dialog is shown without a modal loop and this answers it.
  static std::function<void(TNotificationDlg&)> ModalAnswer;

  void done(int result) override;
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  int Prompt(const QString& caption, const QString& main, const QString& detail, const QString& okay,
             const QString& cancel, const char* setting);
  int ShowModal();
  void FormShow();
  bool HandleKey(int key);

  std::string FSettingName;
};

// The one prompt dialog of the program (set by the first one created).
extern TNotificationDlg* NotificationDlg;

// Whether the prompt of this setting is still to be shown.
bool ReadPromptFlag(const std::string& name);

} // namespace app

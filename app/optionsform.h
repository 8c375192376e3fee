// The preferences dialog: general, slide-show, prompt, magnifier and
// file-type preferences on five pages. It reads the main window's present
// state when shown and hands it back when applied; only the prompt flags go
// to the settings store at once.
#pragma once

#include "app/mainform.h"

#include <QDialog>
#include <QSize>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTabWidget;

namespace kel {
class TKelShapeButton;
}
namespace wn {
class TQoSliderEdit;
class TWnMruList;
class TWnSpinEdit;
} // namespace wn

namespace app {

class TOptionsForm : public QDialog {
public:
  explicit TOptionsForm(QWidget* parent = nullptr);
  ~TOptionsForm() override;

  QTabWidget* OptionsPageControl;
  QWidget* GeneralTab;
  QWidget* SlideShowTab;
  QWidget* PromptsTab;
  QWidget* MagnifyToolTab;
  QWidget* FileTypesTab;

  wn::TWnSpinEdit* SEMRUSize;
  kel::TKelShapeButton* SBtnClearMRU;
  QCheckBox* CBGifAnimation;
  QCheckBox* CBAutoSave;
  QCheckBox* CBTransparency;
  QCheckBox* CBHideFolderTab;
  QComboBox* CmbMinutes;
  QComboBox* CmbSeconds;
  QCheckBox* CBStopAtStart;
  QCheckBox* CBPlayInReverse;
  QCheckBox* CBStartFromBeg;
  QCheckBox* CBAutoFit;
  QCheckBox* CBCloseFolder;
  QCheckBox* CBFullScreen;
  QCheckBox* CBSlideShowExit;
  QLabel* LblPromptHint;
  wn::TQoSliderEdit* EdtMagnifyWidth;
  wn::TQoSliderEdit* EdtMagnifyHeight;
  QSpinBox* UDMagnifyFactor;
  QLineEdit* EditMagnifyFactor;
  QCheckBox* CBShowMagnifyFrame;
  QCheckBox* CBShowMagnifyOptions;
  QListWidget* CBLFileTypes;
  kel::TKelShapeButton* SBtnOkay;
  kel::TKelShapeButton* SBtnApply;
  kel::TKelShapeButton* SBtnCancel;

  // The main window's present preferences: read when the dialog is shown.
  std::function<TMainSettings()> OnGetPreferences;
  // Applied preferences for the main window to take and act on.
  std::function<void(const TMainSettings&)> OnApplyPreferences;
  // The recent-folders list (not owned) and who rebuilds its menus.
  wn::TWnMruList* RecentFolders = nullptr;
  std::function<void()> OnRecentFoldersChanged;
  // The client size of the main picture view, which bounds the magnifier.
  std::function<QSize()> PictureViewClientSize;

  // Shows the dialog modally on Page (the page last shown when none);
  // answers 1 (OK) or 2 (Close).
  int ShowModal(QWidget* Page = nullptr);
  // True when everything was applied; otherwise the error was shown.
  bool Apply();

  int MaxMagnifyWidth() const { return FMaxMagnifyWidth; }
  int MaxMagnifyHeight() const { return FMaxMagnifyHeight; }

  // When set, ShowModal shows the dialog without a modal loop and this
  // answers it.
  static std::function<void(TOptionsForm&)> ModalAnswer;

  void done(int result) override;
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void FormShow();
  void EnableApply();
  void ShowError(const QString& Text);
  void MagnifyChanged();
  void ClearRecentFolders();
  void BuildGeneralTab();
  void BuildSlideShowTab();
  void BuildPromptsTab();
  void BuildMagnifyTab();
  void BuildFileTypesTab();

  TMainSettings FShown;
  int FMaxMagnifyWidth = 1;
  int FMaxMagnifyHeight = 1;
  // Whether the program was each extension's default handler when last read
  // or applied.
  std::array<bool, 32> FDefaultHandler{};
};

// The one preferences dialog of the program (set by the first one created).
extern TOptionsForm* OptionsForm;

} // namespace app

// The application's main window: its state, settings and the server side of
// the single-instance hand-off. Folder tabs, the picture view and the
// commands are added to this frame by their own units.
#pragma once

#include "platform/colors.h"

#include <QMainWindow>
#include <QStringList>
#include <memory>

namespace platform {
class TDdeServerConv;
}

namespace app {

class TAboutDlg;
class THelpDlg;

// The values kept under the settings key, read once at creation and written
// back at close.
struct TMainSettings {
  int SlideShowInterval = 5000;
  bool StartAtBeginning = false;
  bool StopAtStart = true;
  bool PlayInReverse = false;
  platform::TColor BackgroundColor = platform::clBtnFace;
  int BackgroundStyle = 10;
  bool AnimateGif = false;
  bool AutoSaveImages = true;
  bool HideFolderTab = false;
  bool AlphaChannel = false;
  int ImageTransitionEffect = 1;
  int ImageTransitionSound = 1;
  int MagnifyViewWidth = 124;
  int MagnifyViewHeight = 124;
  int MagnifyViewLevel = 2;
  bool MagnifyViewFrame = false;
  bool MagnifyShowOptions = false;
  bool MenuVisible = true;
  bool ThumbsVisible = true;
  bool NavVisible = true;
  bool StatusVisible = true;
  bool FullScreenMenuVisible = false;
  bool FullScreenThumbsVisible = true;
  bool FullScreenListVisible = false;
  bool FullScreenNavVisible = false;
  bool FullScreenStatusVisible = false;
  int FileMruMaxItems = 20;

  void Read();
  void Write() const;
  bool operator==(const TMainSettings&) const = default;
};

class TMainForm : public QMainWindow {
public:
  // arguments: the command line without the program name. server: the
  // conversation that has been listening since start-up (may be null).
  TMainForm(const QStringList& arguments, platform::TDdeServerConv* server, QWidget* parent = nullptr);
  ~TMainForm() override;

  void Ptv_MainExecuteMacro(const QStringList& macro);
  void OpenPath(const QString& path, bool refresh);

  const TMainSettings& Settings() const { return FSettings; }
  QString CurrentFilePath() const { return FCurrentFilePath; }
  bool Modified() const { return FModified; }
  void UpdateFileStatusText();

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void FormCreate(const QStringList& arguments);
  void ApplyBackground();

  platform::TDdeServerConv* FServer;
  // Made without owner at creation, freed with the main window.
  std::unique_ptr<THelpDlg> FHelpDlg;
  std::unique_ptr<TAboutDlg> FAboutDlg;
  TMainSettings FSettings;
  QString FCurrentFilePath;
  bool FModified = false;
  bool FSlideShow = false;
  int FMagnifyLevel = 2;
  QPoint FLastMousePos{-99, -99};
  QStringList FRememberedFiles;
  int FRememberMode = 0;
  bool FSettingsWritten = false;
};

} // namespace app

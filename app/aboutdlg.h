// The about box: the program's picture, name and version. At start-up it
// shows itself as a splash that closes on its own; later it is the modal
// about box.
#pragma once

#include <QDialog>
#include <QStringList>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QTimer;

namespace kel {
class TKelShapeButton;
}

namespace app {

inline constexpr int AboutAutoCloseInterval = 3500;
// The product's web page, also behind Help > "Visit Website...": a
// placeholder in a domain kept for examples, shown as it is.
inline constexpr const char* AboutWebPage = "https://pictrova.halvenworth.example/";
inline constexpr const char* AboutSupportMail = "mailto:support@halvenworth.com";

class TAboutDlg : public QDialog {
public:
  explicit TAboutDlg(QWidget* parent = nullptr);

  // Shown as the splash: not modal, without its close button, closing itself
  // when AutoCloseTimer fires; the caller goes on at once.
  void ShowWithTimer();
  // The modal about box, with its close button; a splash still up becomes it.
  int ShowModal();
  // Everything ShowModal does before running the modal loop.
  void PrepareModal();

  void AutoCloseTimerTimer();
  void SBtnCloseClick();

  // Closing from anywhere (timer, button, keys, the window) ends here.
  void done(int result) override;

  QLabel* ImgSplash() const { return FImgSplash; }
  QLabel* LblBuild() const { return FLblBuild; }
  kel::TKelShapeButton* SBtnClose() const { return FSBtnClose; }
  QTimer* AutoCloseTimer() const { return FAutoCloseTimer; }

  // The splash picture, drawn rather than stored.
  static QPixmap SplashPicture();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  void OpenLink(const QString& link);

  QFrame* FPanel;
  QLabel* FImgSplash;
  QLabel* FLblName;
  QLabel* FLblBuild;
  QLabel* FLblWeb;
  QLabel* FLblMail;
  kel::TKelShapeButton* FSBtnClose;
  QTimer* FAutoCloseTimer;
};

// Called once by the main window's creation with its command-line arguments
// (without the program name): the splash, unless the first is "/shell".
void ShowStartupSplash(TAboutDlg& dialog, const std::vector<std::string>& arguments);
// Help > "About... [F1]": the modal box, not while a slide show runs.
void ShowAboutBox(TAboutDlg& dialog, bool slideShowRunning);

} // namespace app

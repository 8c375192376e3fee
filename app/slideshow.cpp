// The slide show on its timer and the full-screen mode with its own set of
// visible controls.
#include "app/folderview.h"
#include "app/mainform.h"
#include "app/notificationdlg.h"
#include "app/toolbox.h"
#include "controls/kel/kelshapebutton.h"
#include "image/views/rastrumview.h"
#include "platform/application.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdlib>

namespace app {

namespace {

const char* const RunningHint = "Slide Show Running|Slide Show Running (Press [P] to Pause or [S] to Stop)";
const char* const PausedHint = "Slide Show Paused|Slide Show Paused (Press [P] to Continue)";

} // namespace

bool TMainForm::SlideShowPaused() const { return FSlideShow && !SlideShowTimerOn(); }

void TMainForm::SetSlideShowCaptions(bool running, bool paused) {
  SlideShow1->setText(running ? QStringLiteral("&Stop Slide Show [S]") : QStringLiteral("&Start Slide Show [S]"));
  PauseHoldH1->setText(paused ? QStringLiteral("Continue Silde Show [P]") : QStringLiteral("Pause Silde Show [P]"));
  SBtnSlideShow->setToolTip(running ? QStringLiteral("Stop Slide Show [S]") : QStringLiteral("Start Slide Show [S]"));
}

void TMainForm::StartSlideShow() {
  FinishPendingLoad();
  if (!FCurrentFolderView || FCurrentFolderView->Names().empty() || SlideShowTimerOn()) return;
  if (ReadPromptFlag("ShowSlideShowPrompt") && NotificationDlg && NotificationDlg->PromptSlideShow() != 1) return;
  const QPointer<TFolderViewForm> asked = FCurrentFolderView;
  if (QuerySaveModified() != TLeaveAnswer::Go) return;
  // The question is a modal loop: the show starts in the folder it was
  // asked for, when that is still there with its pictures.
  if (!asked || asked != FCurrentFolderView || asked->Names().empty()) return;
  FSlideShow = true;
  FHint = QString::fromLatin1(RunningHint);
  SetStatusPanelText(1, FHint.section(QLatin1Char('|'), 1));
  SetSlideShowCaptions(true, false);
  FFirstTick = true;
  FFullScreenBefore = FFullScreen;
  SetFullScreen(true, true);
  TFolderViewForm* view = FCurrentFolderView;
  if (FSettings.StartAtBeginning || !HasImage()) {
    if (FSettings.PlayInReverse) view->ShowLastFile();
    else view->ShowFirstFile();
  }
  // Where the show began: taken after the first picture is chosen above, so
  // that a show started at the folder's first (or, in reverse, last) file
  // stops when it comes back to that file.
  FStartPath = FCurrentFilePath;
  ShowSlideShowButtonState(true);
  SlideShowTimer->setInterval(std::max(1, FSettings.SlideShowInterval));
  SlideShowTimer->start();
  for (TFolderViewForm* v : FFolderViews)
    if (v->Floating()) v->setEnabled(false);
  if (ToolBox) ToolBox->hide();
  UpdateCommandStates();
  HideCursorInFullScreen();
}

void TMainForm::SlideShowTimerTimer() {
  // A picture slower to read than the interval is shown for one tick before
  // the show moves on.
  FinishPendingLoad();
  // The read's error was asked about meanwhile: the answer ended the show,
  // or its next step comes a whole interval after it.
  if (!FSlideShow || !SlideShowTimer->isActive()) return;
  if (FSettings.StopAtStart && !FFirstTick && FCurrentFilePath == FStartPath) {
    StopSlideShow();
    return;
  }
  if (FSettings.PlayInReverse) PreviousImage();
  else NextImage();
  if (FFullScreen) HideCursorInFullScreen();
  FFirstTick = false;
}

void TMainForm::PauseSlideShow() {
  if (!FSlideShow) return;
  if (!SlideShowTimerOn()) {
    // The show goes on to leave the picture: an edit made while it paused is
    // asked about now, while nothing moves. A save that failed (or a saved
    // copy opened in its place, which ends the show) keeps it paused.
    if (QuerySaveModified() != TLeaveAnswer::Go || !FSlideShow) return;
    SetSlideShowCaptions(true, false);
    SlideShowTimer->start();
    FHint = QString::fromLatin1(RunningHint);
    HideCursorInFullScreen();
    if (ToolBox) ToolBox->hide();
  } else {
    SetSlideShowCaptions(true, true);
    SlideShowTimer->stop();
    FHint = QString::fromLatin1(PausedHint);
    RestoreCursor();
  }
  SetStatusPanelText(1, FHint.section(QLatin1Char('|'), 1));
  if (HasImage() && FCurrentFolderView) UpdateCommandStates();
}

void TMainForm::StopSlideShow() {
  if (FSlideShow) {
    FSlideShow = false;
    SetSlideShowCaptions(false, false);
    ShowSlideShowButtonState(false);
    SlideShowTimer->stop();
    if (!FFullScreenBefore && FFullScreen) SetFullScreen(false, false);
    else if (FFullScreenBefore && FFullScreen) SetFullScreen(true, false);
    FHint.clear();
    SetStatusPanelText(1, QString());
    RestoreCursor();
  }
  if (HasImage() && FCurrentFolderView) {
    for (TFolderViewForm* v : FFolderViews)
      if (v->Floating()) v->setEnabled(!SlideShowTimerOn());
  }
  UpdateCommandStates();
}

// ---- The pointer during a show

void TMainForm::HideCursorInFullScreen() {
  FCursorHidden = true;
  RastrumView1->setCursor(Qt::BlankCursor);
  UpdateScreenCursor();
}

void TMainForm::RestoreCursor() {
  if (!FCursorHidden) RastrumView1->update();
  FCursorHidden = false;
  RastrumView1->unsetCursor();
  RastrumView1->SetCursor(FMouseMode == 1 ? rv::crRvZoomIn : platform::crDefault);
  UpdateScreenCursor();
  FLastMousePos = QPoint(-1, -1);
}

void TMainForm::PictureMouseMoved(const QPoint& at) {
  if (!FCursorHidden) return;
  if (FLastMousePos.x() < 0) {
    FLastMousePos = at;
    return;
  }
  // A small jiggle keeps the pointer hidden; a real move shows it.
  if (std::abs(at.x() - FLastMousePos.x()) >= 6 || std::abs(at.y() - FLastMousePos.y()) >= 6) {
    FCursorHidden = false;
    RastrumView1->unsetCursor();
    RastrumView1->SetCursor(FMouseMode == 1 ? rv::crRvZoomIn : platform::crDefault);
    UpdateScreenCursor();
    FLastMousePos = at;
  }
}

// The screen's cursor: hidden during a show, else the hourglass while the
// window waits, else none of its own.
void TMainForm::UpdateScreenCursor() {
  const bool want = FCursorHidden || FWaitCursorDepth > 0;
  const Qt::CursorShape shape = FCursorHidden ? Qt::BlankCursor : Qt::WaitCursor;
  if (want && !FOverrideCursor) QApplication::setOverrideCursor(shape);
  else if (want) QApplication::changeOverrideCursor(shape);
  else if (FOverrideCursor) QApplication::restoreOverrideCursor();
  FOverrideCursor = want;
}

// ---- Full screen

void TMainForm::TakeKeyboard() {
  activateWindow();
  KeyCatcher->setFocus();
}

void TMainForm::CoverScreen() {
  // A question asked first (full screen's, the slide show's) had the
  // keyboard. A compositor that hands it back as the question closes may
  // not once the window's state changes meanwhile (Wayland's reference
  // compositor then hands it to no window, and the window takes no key
  // until clicked): the window covers the screen once it has the keyboard
  // again, or after a while from a platform that never hands it back.
  TakeKeyboard();
  QObject::disconnect(FCoverOnFocus);
  const int Step = ++FCoverStep;
  const auto Cover = [this, Step] {
    if (Step != FCoverStep || !FFullScreen) return;
    ++FCoverStep;
    QObject::disconnect(FCoverOnFocus);
    // The window manager covers the screen with the window and drops its
    // frame; a geometry set after that would end the state it has granted.
    // Without a manager that does, the window covers the screen itself.
    showFullScreen();
    if (!platform::WindowManagerFullScreen())
      if (QScreen* screen = this->screen()) setGeometry(screen->geometry());
    TakeKeyboard();
  };
  if (isActiveWindow()) return Cover();
  FCoverOnFocus = connect(qApp, &QGuiApplication::focusWindowChanged, this, [this, Cover](QWindow* Focus) {
    if (Focus && Focus == windowHandle()) Cover();
  });
  QTimer::singleShot(CoverWaitMs, this, Cover);
}

void TMainForm::ToggleFullScreen() { SetFullScreen(!FFullScreen, true); }

void TMainForm::SetFullScreen(bool enter, bool prompt) {
  if (enter) {
    const bool asked = !FSlideShow && prompt && ReadPromptFlag("ShowFullScreenPrompt") && NotificationDlg;
    if (!asked || NotificationDlg->PromptFullScreen() == 1) {
      if (!FFullScreen) {
        FStateBeforeFullScreen = windowState() & (Qt::WindowMaximized | Qt::WindowNoState);
        FGeometryBeforeFullScreen = geometry();
      }
      FFullScreen = true;
      SetMainMenuVisible(IsMainMenuVisible());
      SetToolBarVisible(IsToolBarVisible());
      SetStatusBarVisible(IsStatusBarVisible());
      SetThumbsVisible(AreThumbsVisible());
      SetAdvancedListVisible(IsAdvancedListVisible());
      FullScreen1->setChecked(true);
      PopFullScreen1->setChecked(true);
      ListVisible1->setVisible(true);
      PopListVisible1->setVisible(true);
      CoverScreen();
    }
  } else {
    FFullScreen = false;
    // A cover still waiting for the keyboard is not wanted any more.
    ++FCoverStep;
    QObject::disconnect(FCoverOnFocus);
    if (FStateBeforeFullScreen & Qt::WindowMaximized) {
      showMaximized();
    } else {
      showNormal();
      // A Wayland compositor gives the window its former size back itself:
      // a size set before it answers races that answer, and parts of the
      // window painted meanwhile (the strip, the picture) stay blank.
      if (FGeometryBeforeFullScreen.isValid() && !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        setGeometry(FGeometryBeforeFullScreen);
    }
    SetMainMenuVisible(FSettings.MenuVisible);
    SetToolBarVisible(FSettings.NavVisible);
    SetStatusBarVisible(FSettings.StatusVisible);
    SetThumbsVisible(FSettings.ThumbsVisible);
    for (TFolderViewForm* v : FFolderViews)
      if (v->Floating()) v->show();
    FullScreen1->setChecked(false);
    PopFullScreen1->setChecked(false);
    ListVisible1->setVisible(false);
    PopListVisible1->setVisible(false);
    TakeKeyboard();
  }
  // Only a bare picture on the whole screen goes without a border.
  const bool bare = FFullScreen && !IsMainMenuVisible() && !IsToolBarVisible() && !IsStatusBarVisible() &&
                    !AreThumbsVisible();
  RastrumView1->SetBorderStyle(bare ? rv::bsNone : rv::bsSingle);
}

} // namespace app

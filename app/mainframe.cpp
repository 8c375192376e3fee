// The main window's frame: folder views and their tabs, the Folders and
// recent-folders menus, and copy and cut between folder views.
#include "app/folderview.h"
#include "app/genutil.h"
#include "app/mainform.h"
#include "app/pictureload.h"
#include "controls/kel/kelshapebutton.h"
#include "app/openfolderdlg.h"
#include "app/msgbox.h"
#include "controls/kel/kelprogressfill.h"
#include "controls/support/q32statusbar/q32statusbar.h"
#include "controls/support/wnmrulist/wnmrulist.h"
#include "controls/support/wnutils/wnshfileop.h"
#include "platform/shfileop.h"

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace app {

namespace {

// The tab sheet a docked folder view sits in; none for a floating one.
QWidget* SheetOf(TFolderViewForm* view) { return view && !view->Floating() ? view->parentWidget() : nullptr; }

// The folder view a tab sheet holds: its one control, when that is a view.
TFolderViewForm* ViewOfSheet(QWidget* sheet) {
  if (!sheet) return nullptr;
  TFolderViewForm* found = nullptr;
  int controls = 0;
  for (QObject* child : sheet->children()) {
    if (!child->isWidgetType() || static_cast<QWidget*>(child)->isWindow()) continue;
    ++controls;
    found = dynamic_cast<TFolderViewForm*>(child);
  }
  return controls == 1 ? found : nullptr;
}

} // namespace

void TMainForm::OpenFolderView(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return;
  auto* view = new TFolderViewForm(this);
  FLiveViews.push_back(view);
  // Docked and listed before it loads: the first picture's messages come
  // while it reads, it must not show meanwhile as a window of its own, and
  // a "Close Folder" answered there takes its tab with it.
  DockFolderView(view);
  FFolderViews.push_back(view);
  FCurrentFolderView = view;
  // A folder read while nothing is on screen says so where its first
  // picture will come.
  const bool wait = isVisible() && !HasImage() && !PictureLoadPending();
  if (wait) ShowPleaseWait(true);
  try {
    view->LoadFolder(path);
  } catch (...) {
    if (wait) ShowPleaseWait(false);
    throw;
  }
  // A large folder goes on from the event loop: the panel stays until its
  // first picture is asked for.
  if (wait && !StillWaiting()) ShowPleaseWait(false);
  if (view->Closing()) return;
  view->ApplyFolderViewLayout();
  view->UpdatePasteMenu(!FRememberedFiles.empty() && FRememberMode != 0, FRememberedFiles, FRememberMode == 2);
  ThumbPageControl->setCurrentIndex(ThumbPageControl->count() - 1);
  if (FileMruList->Active()) FileMruList->AddString(view->GetFolderPath());
  RebuildRecentFoldersMenu();
  UpdateCommandStates();
  AddFoldersMenuItem(view, QString());
}

void TMainForm::OpenPath(const std::string& path, bool refresh) {
  // Stopping the show and asking about a modified picture come first; the
  // request goes on unless the edit stays (a save that failed or was
  // cancelled).
  StopSlideShow();
  if (QuerySaveModified() == TLeaveAnswer::Kept) return;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return;
  const std::string full = platform::AbsoluteFilePath(path);
  const std::string folder = FolderOfPath(full);
  const std::string name = NameOfPath(full);
  for (TFolderViewForm* view : FFolderViews) {
    // Exact text: another spelling of the folder opens another view.
    if (view->GetFolderPath() != folder) continue;
    if (refresh) view->RefreshFolder(3, false);
    // The shown file itself (or one its view has still to list): the picture
    // stays, and the next step asks again.
    view->SelectAndShowFile(name);
    if (view->Floating()) {
      view->raise();
      view->activateWindow();
    } else {
      ThumbPageControl->setCurrentWidget(SheetOf(view));
      if (KeyCatcher) KeyCatcher->setFocus();
    }
    return;
  }
  OpenFolderView(full);
}

void TMainForm::ShowPleaseWait(bool shown) {
  if (!shown) {
    if (!PnlPleaseWait->isHidden()) PnlPleaseWait->hide();
    const bool nothing = FCurrentFileName.empty() && !HasImage();
    LblToOpen->setVisible(nothing);
    OpenBtnImage->setVisible(nothing);
    return;
  }
  LblToOpen->hide();
  OpenBtnImage->hide();
  PnlPleaseWait->raise();
  PnlPleaseWait->show();
  // The folder is read before the loop turns again.
  PnlPleaseWait->repaint();
}

bool TMainForm::StillWaiting() const {
  return !PnlPleaseWait->isHidden() && FCurrentFileName.empty() && FCurrentFolderView &&
         FCurrentFolderView->Listing();
}

void TMainForm::OpenImageFolder() {
  if (FSlideShow || !OpenFolderForm || QuerySaveModified() != TLeaveAnswer::Go) return;
  // No folder chosen: the picture stays, and the next step asks again.
  if (OpenFolderForm->ShowModal() != 1) return;
  update();
  const TWaitCursor Wait;
  OpenFolderView(OpenFolderForm->GetSelectedPath());
}

void TMainForm::DockFolderView(TFolderViewForm* view) {
  if (view && (view->Floating() || !view->parentWidget() || view->parentWidget() == this)) {
    auto* sheet = new QWidget(ThumbPageControl);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    view->setParent(sheet, Qt::Widget);
    layout->addWidget(view);
    ThumbPageControl->addTab(sheet, QString::fromStdString(view->FolderName()));
    ThumbPageControl->setCurrentWidget(sheet);
    view->show();
  }
  FolderTabsChanged();
}

void TMainForm::FolderTabsChanged() {
  // Sheets left empty by an undocked or closed view go; the others take
  // their view's folder name.
  for (int i = ThumbPageControl->count() - 1; i >= 0; --i) {
    QWidget* sheet = ThumbPageControl->widget(i);
    TFolderViewForm* view = ViewOfSheet(sheet);
    if (!view) {
      ThumbPageControl->removeTab(i);
      sheet->deleteLater();
    } else {
      ThumbPageControl->setTabText(i, QString::fromStdString(view->FolderName()));
    }
  }
  UpdateFolderTabHeight(nullptr);
}

void TMainForm::FolderViewClosed(TFolderViewForm* view) {
  const bool wasDocked = !view->Floating();
  if (FPendingLoad && FPendingLoad->View == view) DropPendingLoad();
  if (FCurrentFolderView == view) FCurrentFolderView = nullptr;
  const auto it = std::find(FFolderViews.begin(), FFolderViews.end(), view);
  if (it == FFolderViews.end()) return;
  const std::size_t position = static_cast<std::size_t>(it - FFolderViews.begin());
  FFolderViews.erase(it);
  RemoveFoldersMenuItem(view);
  if (wasDocked) {
    // The sheet goes with its view.
    if (QWidget* sheet = view->parentWidget()) {
      const int index = ThumbPageControl->indexOf(sheet);
      if (index >= 0) ThumbPageControl->removeTab(index);
      view->setParent(this, Qt::Widget);
      sheet->deleteLater();
    }
  }
  if (!FCurrentFolderView && !FFolderViews.empty())
    FCurrentFolderView = FFolderViews[std::min(position, FFolderViews.size() - 1)];
  if (FCurrentFolderView) {
    if (!wasDocked) {
      if (QWidget* sheet = SheetOf(FCurrentFolderView)) ThumbPageControl->setCurrentWidget(sheet);
      FCurrentFolderView->ApplyFolderViewLayout();
    }
    // The closed folder left nothing on the screen: the one now current
    // shows its picture.
    if (!HasImage() && !PictureLoadPending()) FCurrentFolderView->SyncSelection(true);
  } else if (QuerySaveModified() != TLeaveAnswer::Kept) {
    // An edit whose save failed or was cancelled stays on the screen.
    ClearPictureView();
  }
  // The folder waited for went; the view that takes its place is shown as it is.
  if (!PnlPleaseWait->isHidden() && !StillWaiting()) ShowPleaseWait(false);
  UpdateFolderTabHeight(nullptr);
  UpdateCommandStates();
  // The title named the closed folder while it showed no picture.
  UpdateFileStatusText();
}

bool TMainForm::FolderViewMayClose(TFolderViewForm* view) {
  // Only the last view takes the picture with it.
  if (FClosing || FFolderViews.size() != 1 || FFolderViews.front() != view) return true;
  return QuerySaveModified() != TLeaveAnswer::Kept;
}

void TMainForm::FolderViewDestroyed(TFolderViewForm* view) {
  if (FPendingLoad && FPendingLoad->View == view) DropPendingLoad();
  FLiveViews.erase(std::remove(FLiveViews.begin(), FLiveViews.end(), view), FLiveViews.end());
  FFolderViews.erase(std::remove(FFolderViews.begin(), FFolderViews.end(), view), FFolderViews.end());
  if (FCurrentFolderView == view) FCurrentFolderView = nullptr;
}

void TMainForm::AddFoldersMenuItem(QWidget* window, const QString& caption) {
  if (FOtherWindows.empty()) Windows1->clear();
  QString text = caption;
  auto* view = dynamic_cast<TFolderViewForm*>(window);
  if (text.isEmpty() && view) text = QString::fromStdString(view->GetFolderPath());
  if (text.isEmpty()) text = window->windowTitle();
  auto* item = new QAction(text, Windows1);
  // The caption is shown as it is, "&" included.
  item->setText(QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
  connect(item, &QAction::triggered, this, [this, item] { FoldersMenuClick(item); });
  if (view) {
    Windows1->addAction(item);
    FOtherWindows.push_back(window);
  } else {
    const QList<QAction*> items = Windows1->actions();
    Windows1->insertAction(items.isEmpty() ? nullptr : items.front(), item);
    FOtherWindows.insert(FOtherWindows.begin(), window);
  }
}

void TMainForm::RemoveFoldersMenuItem(QWidget* window) {
  const auto it = std::find(FOtherWindows.begin(), FOtherWindows.end(), window);
  if (it != FOtherWindows.end()) {
    const int position = static_cast<int>(it - FOtherWindows.begin());
    FOtherWindows.erase(it);
    const QList<QAction*> items = Windows1->actions();
    if (position < items.size()) {
      Windows1->removeAction(items[position]);
      items[position]->deleteLater();
    }
  }
  if (FOtherWindows.empty()) {
    Windows1->clear();
    Windows1->addAction(QStringLiteral("[Empty]"))->setEnabled(false);
  }
}

void TMainForm::FoldersMenuClick(QAction* item) {
  const int position = static_cast<int>(Windows1->actions().indexOf(item));
  if (position < 0 || position >= static_cast<int>(FOtherWindows.size())) return;
  QWidget* window = FOtherWindows[static_cast<std::size_t>(position)];
  window->show();
  if (auto* view = dynamic_cast<TFolderViewForm*>(window)) {
    if (QWidget* sheet = SheetOf(view)) ThumbPageControl->setCurrentWidget(sheet);
    else view->raise();
    view->ApplyFolderViewLayout();
  }
}

void TMainForm::ThumbPageControlChange() {
  TFolderViewForm* view = ViewOfSheet(ThumbPageControl->currentWidget());
  if (!view) return;
  FCurrentFolderView = view;
  view->ApplyFolderViewLayout();
  // Without a picture the title names the current tab's folder.
  UpdateFileStatusText();
  if (KeyCatcher) KeyCatcher->setFocus();
}

bool TMainForm::TabRowDrag(QDropEvent* event) {
  // Over a tab that is not the active one the drag acts as a click on it;
  // a drop only lands on the tab the user sees.
  const int tab = ThumbPageControl->tabBar()->tabAt(event->position().toPoint());
  if (event->type() != QEvent::Drop && tab >= 0 && tab != ThumbPageControl->currentIndex())
    ThumbPageControl->setCurrentIndex(tab);
  // The row takes every drag that enters it, so that the moves over the
  // other tabs reach it too; each move tells whether a drop may come.
  if (event->type() == QEvent::DragEnter) {
    event->accept();
    return true;
  }
  TFolderViewForm* view = FCurrentFolderView;
  if (!view || SheetOf(view) != ThumbPageControl->currentWidget() || !view->AcceptsFileDrag(event->mimeData())) {
    event->ignore();
    return true;
  }
  event->setDropAction(Qt::MoveAction);
  event->accept();
  if (event->type() == QEvent::Drop) view->DropDraggedFiles(event->mimeData());
  return true;
}

void TMainForm::PreviousFolderTab() {
  const int count = ThumbPageControl->count();
  if (count > 1) ThumbPageControl->setCurrentIndex((ThumbPageControl->currentIndex() + count - 1) % count);
}

void TMainForm::NextFolderTab() {
  const int count = ThumbPageControl->count();
  if (count > 1) ThumbPageControl->setCurrentIndex((ThumbPageControl->currentIndex() + 1) % count);
}

bool TMainForm::ThumbsShownOrHidden() const { return AreThumbsVisible() || !ThumbPageControl->isVisible(); }

void TMainForm::UpdateFolderTabHeight(QWidget* removing) {
  const int sheets = ThumbPageControl->count();
  auto holds = [&](int i) {
    TFolderViewForm* view = ViewOfSheet(ThumbPageControl->widget(i));
    return view != nullptr && view != removing;
  };
  int holding = 0;
  for (int i = 0; i < sheets; ++i) holding += holds(i) ? 1 : 0;
  TFolderViewForm* first = FFolderViews.empty() ? nullptr : FFolderViews.front();
  if (first == removing) first = FFolderViews.size() > 1 ? FFolderViews[1] : nullptr;
  const int border = 1;
  int height = ThumbPageControl->height();
  if (holding == 0) {
    height = ScaleByScreenDpi(10);
  } else if (FSettings.HideFolderTab && first && holding == 1) {
    height = first->FilmStripHeight() + 2 * border + 2;
  } else if (first) {
    height = first->FilmStripHeight() + ThumbPageControl->tabBar()->sizeHint().height() + 2 * border + 1;
  }
  if (height != ThumbPageControl->height()) ThumbPageControl->setFixedHeight(height);
  if (FSettings.HideFolderTab) TabHackTimer->start();
  else ThumbPageControl->tabBar()->setVisible(true);
}

void TMainForm::TabHackTimerTimer() {
  TabHackTimer->stop();
  ThumbPageControl->tabBar()->setVisible(!(FSettings.HideFolderTab && ThumbPageControl->count() == 1));
}

// ---- Recent folders

std::vector<std::string> TMainForm::RecentFolders() const {
  std::vector<std::string> folders;
  const int count = FileMruList->Active() ? FileMruList->GetItemsCount() : 0;
  for (int i = 0; i < count; ++i)
    if (FileMruList->ReadItem(i, false)) folders.push_back(FileMruList->ItemText());
  return folders;
}

void TMainForm::RebuildRecentFoldersMenu() {
  OpenRecent1->clear();
  // Each item keeps its folder in its data, whatever characters the name
  // holds ("&" included).
  const int added = FileMruList->Active()
                        ? wn::AddMruMenuItems(*OpenRecent1, *FileMruList, [this](QAction* item) { RecentFolderClick(item); })
                        : 0;
  if (added == 0) OpenRecent1->addAction(QStringLiteral("[Empty]"))->setEnabled(false);
}

void TMainForm::RecentFolderClick(QAction* item) {
  if (FSlideShow) return;
  const std::string folder = wn::MruMenuItemBytes(item);
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    // Dropped before the message: its nested loop must not find it in the
    // menu again.
    DropRecentFolder(folder);
    MessageDlg(windowTitle(),
               FileNameText(folder) +
                   QStringLiteral(" is not a valid Folder. It has been removed from the recent folders."),
               QMessageBox::Critical, QMessageBox::Ok);
    return;
  }
  // An edit whose save failed or was cancelled stays: the new folder's
  // first picture would replace it.
  if (QuerySaveModified() == TLeaveAnswer::Kept) return;
  const TWaitCursor Wait;
  OpenFolderView(folder);
}

bool TMainForm::ValidateFolder(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return true;
  MessageDlg(windowTitle(), QStringLiteral("Please choose a valid Folder"), QMessageBox::Critical, QMessageBox::Ok);
  DropRecentFolder(path);
  return false;
}

void TMainForm::DropRecentFolder(const std::string& path) {
  if (FileMruList->Active()) {
    const int index = FileMruList->FindString(path);
    if (index >= 0) FileMruList->DeleteItem(index);
  }
  if (OpenFolderForm) OpenFolderForm->DropRecentPath(path);
  RebuildRecentFoldersMenu();
}

// ---- Copy and cut between folder views

void TMainForm::RememberFiles(int mode, const std::string& folder, const std::vector<std::string>& names) {
  const TWaitCursor wait;
  FRememberMode = mode;
  FRememberedFiles.clear();
  for (const std::string& n : names) FRememberedFiles.push_back(JoinPath(folder, n));
  NotifyFolderViews(false, std::string(), std::string());
}

void TMainForm::RememberFilesForCopy(const std::string& folder, const std::vector<std::string>& names) {
  RememberFiles(1, folder, names);
}

void TMainForm::RememberFilesForMove(const std::string& folder, const std::vector<std::string>& names) {
  RememberFiles(2, folder, names);
}

bool TMainForm::PasteRememberedFiles(TFolderViewForm* target) {
  if (FRememberMode == 0 || FRememberedFiles.empty() || !target) return true;
  // A move takes the shown file away, and a paste may put another file in
  // its place: its edit is asked about before the paste goes on (at the
  // paste's own question where a file of its name is in the folder), and
  // kept, the files stay where they are (and remembered).
  const QPointer<TFolderViewForm> view = target;
  if (!ReleaseShownFile(platform::FileOpUnaskedChanges(FRememberedFiles, target->GetFolderPath(), FRememberMode == 2),
                        false) ||
      !view)
    return false;
  return PasteReleasedFiles(target);
}

bool TMainForm::MoveDraggedFiles(const std::string& folder, const std::vector<std::string>& names,
                                 TFolderViewForm* target) {
  if (names.empty() || !target) return true;
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back(JoinPath(folder, name));
  // Asked before the files are remembered: a drag stopped here leaves what
  // was cut or copied before as it was.
  const QPointer<TFolderViewForm> view = target;
  if (!ReleaseShownFile(platform::FileOpUnaskedChanges(paths, target->GetFolderPath(), true), false) || !view)
    return false;
  const std::vector<std::string> files = FRememberedFiles;
  const int mode = FRememberMode;
  RememberFilesForMove(folder, names);
  const bool result = PasteReleasedFiles(target);
  if (result || FRememberMode == 0) return result;
  // Stopped by the edit at the move's question: as if stopped before it.
  FRememberedFiles = files;
  FRememberMode = mode;
  NotifyFolderViews(false, std::string(), std::string());
  return false;
}

bool TMainForm::PasteReleasedFiles(TFolderViewForm* target) {
  const TWaitCursor wait;
  target->show();
  target->raise();
  const QPointer<TFolderViewForm> view = target;
  const std::string folder = target->GetFolderPath();
  const bool moved = FRememberMode == 2;
  const std::vector<std::string> files = FRememberedFiles;
  // The places the paste may fill, as they are before it: whether it did
  // anything, and which files of the folder it put others in place of.
  std::vector<std::pair<std::string, TFileIdentity>> places;
  for (const std::string& path : files) {
    const std::string place = JoinPath(folder, path.substr(path.rfind('/') + 1));
    places.emplace_back(place, TFileIdentity::Of(place));
  }
  wn::TWnSHFileOperation& operation = *target->WnSHFileOperator;
  operation.Owner = this;
  operation.SourceFiles = files;
  operation.DestFiles = {folder};
  operation.Operation = moved ? wn::foMove : wn::foCopy;
  // The shown picture's edit is settled once the user said yes to putting
  // another file in place of its file (or to taking it away); declined or
  // cancelled, the file and the edit stay as they were.
  bool kept = false;
  operation.OnAnswered = [&](platform::TFileOpConfirm kind, const std::string& source, const std::string& replaced,
                             platform::TFileOpAnswer answer) {
    using platform::TFileOpAnswer;
    const bool all = answer == TFileOpAnswer::YesToAll;
    if (kind != platform::TFileOpConfirm::Replace || (answer != TFileOpAnswer::Yes && !all)) return answer;
    if (ReleaseShownFile(platform::FileOpReplaceChanges(files, folder, moved, source, replaced, all), false) && view)
      return answer;
    kept = true;
    return TFileOpAnswer::Cancel;
  };
  struct TUnhook {
    wn::TWnSHFileOperation& Operation;
    ~TUnhook() { Operation.OnAnswered = nullptr; }
  } unhook{operation};
  const bool result = operation.Execute();
  const std::size_t slash = files.front().rfind('/');
  const std::string source = files.front().substr(0, slash == 0 ? 1 : slash);
  if (kept) {
    // What was cut stays cut, but for what went before the question.
    std::erase_if(FRememberedFiles, [](const std::string& path) {
      struct stat status;
      return ::lstat(path.c_str(), &status) != 0;
    });
    if (FRememberedFiles.empty()) FRememberMode = 0;
  } else if (std::any_of(places.begin(), places.end(),
                         [](const auto& place) { return TFileIdentity::Of(place.first) != place.second; })) {
    // Used up; a paste that put nothing anywhere (every file declined, or
    // refused) leaves what was copied or cut to be pasted again.
    FRememberMode = 0;
  }
  NotifyFolderViews(true, moved ? source : std::string(), folder);
  for (std::size_t i = 0; i < places.size(); ++i) {
    const auto& [place, identity] = places[i];
    if (place != files[i] && identity.Size >= 0 && TFileIdentity::Of(place) != identity) ShowReplacedFile(place);
  }
  return result && !kept;
}

void TMainForm::ShowReplacedFile(const std::string& place) {
  // Its row and thumbnail are read again, and the shown picture (whose edit
  // was settled at the answer) shows the file now there.
  ReportFileWritten(place, true);
  if (HasImage() && FCurrentFilePath == place) ReloadImage();
}

void TMainForm::NotifyFolderViews(bool afterPaste, const std::string& sourceFolder, const std::string& targetFolder) {
  for (TFolderViewForm* view : FFolderViews) {
    if (afterPaste) {
      if (view->GetFolderPath() == targetFolder) view->RefreshFolder(0, false);
      if (!sourceFolder.empty() && view->GetFolderPath() == sourceFolder) view->StartFileOpDelay();
    }
    view->UpdatePasteMenu(!FRememberedFiles.empty() && FRememberMode != 0, FRememberedFiles, FRememberMode == 2);
  }
}

// ---- Progress and status

void TMainForm::SetProgressMax(int max) { ProgressBar1->SetMaxValue(std::max(max, 1)); }

void TMainForm::SetProgress(int position) {
  ProgressBar1->SetUserValue(std::clamp(position, ProgressBar1->MinValue(), ProgressBar1->MaxValue()));
}

int TMainForm::ProgressPosition() const { return ProgressBar1->UserValue(); }

QString TMainForm::StatusPanelText(int panel) const {
  const wn::TQ32StatusPanels& panels = StatusBar1->Panels();
  return panel >= 0 && panel < panels.Count() ? panels[panel].Text() : QString();
}

void TMainForm::SetStatusPanelText(int panel, const QString& text) {
  wn::TQ32StatusPanels& panels = StatusBar1->Panels();
  if (panel >= 0 && panel < panels.Count()) panels[panel].SetText(text);
}


} // namespace app

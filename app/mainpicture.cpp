// The main window's picture: the road from a folder view's file to the
// picture view, the modified state, the questions before a picture is left,
// saving, zoom and auto-fit, and animated GIF playback.
#include "app/folderview.h"
#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/mainform.h"
#include "controls/kel/kelshapebutton.h"
#include "app/msgbox.h"
#include "app/notificationdlg.h"
#include "app/pictureload.h"
#include "app/pictureutil.h"
#include "app/settings.h"
#include "app/toolbox.h"
#include "image/io/rastrumio.h"
#include "image/model/rastrumproc.h"
#include "image/io/rvmio.h"
#include "image/io/rvsafeio.h"
#include "image/model/rvmask.h"
#include "image/io/tiff/exif.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmview.h"
#include "platform/safesave.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace app {

std::function<void(const QByteArray& wave)> TMainForm::PlayWave;

namespace {

// The time a transition between two pictures takes.
constexpr int TransitionDuration = 400;

bool IsFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

// Nothing is at Path any more: its file was deleted, moved or renamed away.
// A file only out of reach for now (its folder closed to the user) is
// still there.
bool Gone(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// Whether one of Paths names the file at Path: by the same name, or as the
// same file under another spelling (a link, a second view of its folder).
bool AmongFiles(const std::string& path, const std::vector<std::string>& paths) {
  struct stat file;
  const bool known = ::stat(path.c_str(), &file) == 0;
  for (const std::string& other : paths) {
    if (other == path) return true;
    struct stat status;
    if (known && ::stat(other.c_str(), &status) == 0 && status.st_dev == file.st_dev && status.st_ino == file.st_ino)
      return true;
  }
  return false;
}

// Whether a write to Target writes the shown file at Shown: the same name,
// or another spelling of the same file (a symbolic link, a bind mount, a
// case-insensitive disk), which the write goes through to. The file itself
// is compared, not its spelling. A second hard link is another name in a
// folder: the write puts a new file there and leaves the shown one as it
// was. A file of one link, or the same entry of the same folder, has no
// other name.
bool SameFilePath(const std::string& target, const std::string& shown) {
  if (target == shown) return true;
  struct stat file, status;
  if (::stat(shown.c_str(), &file) != 0 || ::stat(target.c_str(), &status) != 0) return false;
  if (status.st_dev != file.st_dev || status.st_ino != file.st_ino) return false;
  if (status.st_nlink == 1) return true;
  struct stat folder, targetFolder;
  return NameOfPath(target) == NameOfPath(shown) && ::stat(FolderOfPath(shown).c_str(), &folder) == 0 &&
         ::stat(FolderOfPath(target).c_str(), &targetFolder) == 0 && folder.st_dev == targetFolder.st_dev &&
         folder.st_ino == targetFolder.st_ino;
}

// The open folder view that holds Path, if any: after a tab switch or a
// closed folder the current view may be another folder with a file of the
// same name.
TFolderViewForm* ViewHolding(const std::vector<TFolderViewForm*>& views, const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  for (TFolderViewForm* view : views)
    if (JoinPath(view->GetFolderPath(), name) == path) return view;
  return nullptr;
}

} // namespace

void TMainForm::BeginWaitCursor() {
  ++FWaitCursorDepth;
  UpdateScreenCursor();
}

void TMainForm::EndWaitCursor() {
  if (FWaitCursorDepth > 0) --FWaitCursorDepth;
  UpdateScreenCursor();
}

bool TMainForm::HasImage() const { return !RastrumView1->IsEmpty(); }

void TMainForm::SetCurrentFileNames(const std::string& name, const std::string& path) {
  // A rename of the shown file or its folder: the picture's record names
  // the file by its new name too, so that nothing holds the old one.
  rv::TIOParamsVals& params = RastrumView1->GetIO()->Params();
  if (!params.FileName.empty() && params.FileName == FCurrentFilePath) params.FileName = path;
  FCurrentFileName = name;
  FCurrentFilePath = path;
  UpdateFileStatusText();
}

QString TMainForm::LoadErrorText(const std::string& name) const { return FileNameText(name); }

bool TMainForm::LoadFileIntoView(const std::string& path) {
  // A serial of its own, as a folder view's read has: another picture asked
  // for while this one is read (a hand-off opening another file) or the view
  // cleared has the screen, and this read's picture and identity would be
  // shown under the other's name.
  const unsigned serial = ++FPendingSerial;
  const auto overtaken = [&] { return serial != FPendingSerial || FCurrentFilePath != path; };
  rv::TRastrumIO* io = RastrumView1->GetIO();
  auto load = std::make_unique<TPictureLoad>(
      *RastrumView1, path, this,
      [this, serial, io](int percent) {
        if (serial == FPendingSerial && io->OnProgress) io->OnProgress(io, percent);
      },
      [this, serial] { LoadEnded(serial); });
  {
    const bool reloading = std::exchange(FReloading, true);
    struct TRestore {
      bool& Flag;
      bool Value;
      ~TRestore() { Flag = Value; }
    } restore{FReloading, reloading};
    while (!load->Ended() && !overtaken() && AwaitRead()) {
    }
  }
  if (overtaken()) {
    load->Abort();
    FDroppedLoads.emplace_back(serial, std::move(load));
    return false;
  }
  load->Wait();
  if (io->OnFinishWork) io->OnFinishWork(io);
  if (!load->Error().empty()) throw std::runtime_error(load->Error());
  io->AssignParams(&load->IO());
  RastrumView1->TakePicture(load->Picture());
  FShownIdentity = load->Identity();
  return true;
}

void TMainForm::PlayTransitionSound() {
  if (PlayWave && !FTransitionSounds[0].isEmpty()) PlayWave(FTransitionSounds[0]);
}

void TMainForm::ShowImageFile(TFolderViewForm* view, const std::string& name) {
  if (!view || FClosing) return;
  DropPendingLoad();
  FCurrentFolderView = view;
  FCurrentFileName = name;
  ShowPleaseWait(false);
  BeginWaitCursor();
  StartImageLoad(view, name, SteppingBackwards);
}

void TMainForm::StartImageLoad(TFolderViewForm* view, std::string current, bool backwards) {
  while (!view->Names().empty()) {
    FCurrentFilePath = JoinPath(view->GetFolderPath(), current);
    const std::string path = FCurrentFilePath;
    if (IsFile(path)) {
      FBusy = true;
      const unsigned serial = ++FPendingSerial;
      // The view's own component hears the progress and the end, as when
      // it read the file itself.
      rv::TRastrumIO* io = RastrumView1->GetIO();
      FPendingLoad = std::make_unique<TPictureLoad>(
          *RastrumView1, path, this,
          [this, serial, io](int percent) {
            if (serial == FPendingSerial && FPendingLoad && io->OnProgress) io->OnProgress(io, percent);
          },
          [this, serial] { LoadEnded(serial); });
      FPendingLoad->View = view;
      FPendingLoad->Name = current;
      FPendingLoad->Backwards = backwards;
      // A wait for a reload's read gives way to it.
      WakeReadWaits();
      return;
    }
    if (!HandleLoadError(view, current, "File \"" + path + "\" Does Not Exist", backwards)) return;
  }
  EndImageLoad(view);
}

void TMainForm::LoadEnded(unsigned serial) {
  if (FPendingLoad && serial == FPendingSerial) CompleteImageLoad();
  else std::erase_if(FDroppedLoads, [serial](const auto& dropped) { return dropped.first == serial; });
  WakeReadWaits();
}

bool TMainForm::PictureReadsRunning() {
  if (FPendingLoad && !FPendingLoad->Ended()) return true;
  return std::any_of(FDroppedLoads.begin(), FDroppedLoads.end(),
                     [](const auto& Dropped) { return !Dropped.second->Ended(); });
}

void TMainForm::FinishPendingLoad() {
  // The error path may go on to the next file: that read is finished too.
  while (FPendingLoad) {
    if (FPendingLoad->Ended()) CompleteImageLoad();
    else AwaitPendingLoad();
  }
  FinishHandOver();
  // The animation as well once its frames are read: what acts on the
  // picture finds it as it plays. Frames still being read are not waited
  // for: a command acts on the picture shown, and frames that come after an
  // edit keep the edit on show.
  if (FFramesLoad && FFramesLoad->Ended()) ShowFrames();
}

void TMainForm::AwaitPendingLoad() {
  // The program is ending and its loops no longer run: the read is waited
  // for as it is.
  if (!AwaitRead() && FPendingLoad) FPendingLoad->Wait();
}

bool TMainForm::AwaitRead() {
  // The window answers while the read runs (it paints, and its timers and
  // queued calls run); the user's input waits for the picture it would act
  // on. The wait cursor of the read is up meanwhile. A close that comes
  // meanwhile runs once the command that waited is done with the window.
  QEventLoop loop;
  const TEditQuestion::TReadWait wait(FQuestion, loop);
  return loop.exec(QEventLoop::ExcludeUserInputEvents) >= 0;
}

void TMainForm::WakeReadWaits() { FQuestion.WakeReadWaits(); }

void TMainForm::DropPendingLoad() {
  // The picture shown before gets its state before the next one is asked
  // for or the view is cleared; its frames are no longer wanted.
  FinishHandOver();
  DropFramesLoad();
  if (!FPendingLoad) return;
  FPendingLoad->Abort();
  FDroppedLoads.emplace_back(FPendingSerial, std::move(FPendingLoad));
  WakeReadWaits();
  // A new serial: the dropped read's reports no longer match.
  ++FPendingSerial;
  FBusy = false;
  EndWaitCursor();
  if (rv::TRastrumIO* io = RastrumView1->GetIO(); io->OnFinishWork) io->OnFinishWork(io);
}

void TMainForm::CompleteImageLoad() {
  std::unique_ptr<TPictureLoad> load = std::move(FPendingLoad);
  load->Wait();
  rv::TRastrumIO* io = RastrumView1->GetIO();
  if (io->OnFinishWork) io->OnFinishWork(io);
  TFolderViewForm* view = load->View;
  if (!view) {
    // The folder view went while its file was read.
    FBusy = false;
    EndWaitCursor();
    return;
  }
  std::string current = load->Name;
  if (!load->Error().empty()) {
    FBusy = false;
    if (HandleLoadError(view, current, load->Error(), load->Backwards, load->TooLarge()))
      StartImageLoad(view, current, load->Backwards);
    return;
  }
  // The transition starts from what the screen shows: the old picture.
  RastrumView1->PrepareTransition();
  io->AssignParams(&load->IO());
  RastrumView1->TakePicture(load->Picture());
  FShownIdentity = load->Identity();
  // The read's copy of the pixels goes; the view's is their only owner.
  load.reset();
  PlayTransitionSound();
  RastrumView1->RunTransition(static_cast<rv::TRvTransitionType>(std::clamp(FSettings.ImageTransitionEffect, 0, 30)),
                              TransitionDuration);
  FBusy = false;
  // What a command acts on is the new picture's at once; what only shows
  // it (commands, status, the animation's frames) waits for the next loop
  // turn, so that the swap and the transition's start keep the loop's turn
  // short. The transition holds the view meanwhile.
  StartWithoutEdit();
  FModified = false;
  FHandOverView = QPointer<TFolderViewForm>(view);
  QMetaObject::invokeMethod(this, [this] { FinishHandOver(); }, Qt::QueuedConnection);
}

void TMainForm::StartWithoutEdit() {
  RastrumView1->GetProc()->ClearUndo();
  FIsNewImage = false;
  FQuestion.PictureChanged();
  FAutoSaveFailed = false;
  FOnlyRotated = true;
  FPixelTurn.Reset();
}

void TMainForm::FinishHandOver() {
  if (!FHandOverView) return;
  TFolderViewForm* view = *FHandOverView;
  FHandOverView.reset();
  UpdateModifiedState();
  LoadImageIntoView();
  // A folder view closed meanwhile has nothing left to show.
  if (view) EndImageLoad(view);
  else EndWaitCursor();
}

void TMainForm::EndImageLoad(TFolderViewForm* view) {
  EndWaitCursor();
  if (view->Names().empty()) ClearPictureView();
  RefreshMagnifier();
}

bool TMainForm::HandleLoadError(TFolderViewForm* view, std::string& current, const std::string& message,
                                bool backwards, bool tooLarge) {
  const TShowHold hold(*this);
  // Once the session has asked the program to end, a file that cannot be
  // read is skipped without a word and the walk stops: the close comes.
  if (!IsFolder(view->GetFolderPath())) {
    EndWaitCursor();
    int answer = 2;
    if (HelpDlg && !FQuestion.SessionEnding()) {
      HelpDlg->PrepareChoice(QStringLiteral("Error"),
                             QStringLiteral("The Image Folder you have open has either been deleted, moved, or renamed."),
                             QStringLiteral("Close Folder"), QStringLiteral("Ignore"));
      answer = HelpDlg->ShowModal();
    }
    if (answer == 1) view->CloseFolderViewNoPrompt();
    return false;
  }
  int answer = 2;
  if (HelpDlg && !FQuestion.SessionEnding()) {
    HelpDlg->PrepareLoadError(FileNameText(current), FileNameText(message), !tooLarge);
    answer = HelpDlg->ShowModal();
  }
  std::string next = "-";
  // Its only button acknowledges a picture too large: it is skipped.
  const bool skipped = answer != 1 || tooLarge;
  if (!skipped) {
    view->RemoveFileItem(current, true, next, true);
  } else {
    view->FlagFileSkipped(current);
  }
  if (skipped || next == "-") {
    EndWaitCursor();
    ClearPictureView();
    if (FQuestion.SessionEnding()) return false;
    // The next file, unless the walk has come round to one already
    // skipped: every picture of a broken folder asks only once (a folder of
    // one name comes round to that name itself).
    const std::vector<std::string>& names = view->Names();
    const auto at = std::find(names.begin(), names.end(), current);
    if (at != names.end()) {
      const std::size_t index = static_cast<std::size_t>(at - names.begin());
      const std::string& following =
          backwards ? names[(index + names.size() - 1) % names.size()] : names[(index + 1) % names.size()];
      const int row = view->Rows().IndexOf(following);
      if (row >= 0 && view->Rows().Row(row).Skipped) return false;
    }
    if (backwards) view->ShowPreviousFile();
    else view->ShowNextFile();
    return false;
  }
  current = next;
  FCurrentFileName = current;
  if (current.empty()) {
    EndImageLoad(view);
    return false;
  }
  return true;
}

void TMainForm::ReloadImage() {
  FinishPendingLoad();
  const std::string path = FCurrentFilePath;
  // Through the folder view only when it is the shown file's own folder;
  // otherwise the file is read again from its own path.
  if (FCurrentFolderView && !path.empty() && ViewHolding({FCurrentFolderView}, path)) {
    ShowImageFile(FCurrentFolderView, FCurrentFileName);
    return;
  }
  if (!IsFile(path)) return;
  BeginWaitCursor();
  try {
    FBusy = true;
    const bool shown = LoadFileIntoView(path);
    FBusy = false;
    if (shown) {
      StartWithoutEdit();
      UpdateModifiedState();
      LoadImageIntoView();
    }
  } catch (const std::exception& error) {
    FBusy = false;
    if (HelpDlg) {
      HelpDlg->PrepareLoadError(FileNameText(NameOfPath(path)), QString::fromUtf8(error.what()), false);
      HelpDlg->ShowModal();
    }
  }
  EndWaitCursor();
}

void TMainForm::ClearPictureView() {
  DropPendingLoad();
  StopSlideShow();
  FCurrentFileName.clear();
  FCurrentFilePath.clear();
  FShownIdentity = {};
  RastrumView1->Blank();
  GifTimer->stop();
  FModified = false;
  FQuestion.PictureChanged();
  // A reload waiting for its read has nothing to show any more.
  WakeReadWaits();
  FAutoSaveFailed = false;
  FIsNewImage = false;
  FOnlyRotated = true;
  FPixelTurn.Reset();
  UpdateCommandStates();
  // A folder still listed has its first picture to come.
  if (!StillWaiting()) ShowPleaseWait(false);
  UpdateFileStatusText();
  RefreshMagnifier();
}

void TMainForm::UpdateModifiedState() {
  FModified = RastrumView1->GetProc()->CanUndo() || FIsNewImage;
  if (FModified) GifTimer->stop();
  ZoomBy(0);
  // The tool box's sizes follow the picture (its save button comes with
  // the command states).
  if (ToolBox) ToolBox->ResetToolBoxSizeFields();
  UpdateCommandStates();
  UpdateFileStatusText();
}

void TMainForm::UpdateFileStatusText() {
  // A read on its way to replace the picture holds the next file's names
  // already: the texts stay the shown picture's until its successor shows.
  if (FPendingLoad && HasImage()) return;
  if (HasImage() && !FCurrentFileName.empty()) {
    const platform::TBitmap* bitmap = RastrumView1->GetBitmap();
    QString text = FileNameText(FCurrentFileName) + QStringLiteral(" (") + QString::number(bitmap->Width()) +
                   QLatin1Char('x') + QString::number(bitmap->Height()) + QLatin1Char(')');
    if (FModified) text += QStringLiteral(" (Modified)");
    // A drawing whose play stopped at its bounds shows what fit: say so.
    if (RastrumView1->GetIO()->Params().MetafileShapesLeftOut > 0) text += QStringLiteral(" (Not every shape drawn)");
    SetStatusPanelText(0, text);
  } else {
    SetStatusPanelText(0, QString());
  }
  QString caption = QStringLiteral("Pictrova by Halvenworth");
  if (!FCurrentFilePath.empty()) {
    caption = QStringLiteral("Pictrova - ") + FileNameText(FCurrentFilePath);
    if (FModified) caption += QLatin1Char('*');
  } else if (FCurrentFolderView) {
    caption = QStringLiteral("Pictrova - ") + FileNameText(FCurrentFolderView->GetFolderPath());
  }
  setWindowTitle(caption);
}

// ---- Leaving a modified picture, saving

bool TMainForm::WithoutOwnFile() const {
  // A file gone by any road (the program's own delete or move, another
  // program's) is no place to write the picture back to.
  return FIsNewImage || FCurrentFilePath.empty() || FCurrentFilePath.front() != '/' || Gone(FCurrentFilePath);
}

TMainForm::TLeaveAnswer TMainForm::QuerySaveModified() {
  // The picture a read is on its way to replace was asked about before the
  // read began; the one coming is not modified.
  if (PictureLoadPending() || !HasImage() || !FModified) return TLeaveAnswer::Go;
  // A step that comes while the user is asked (a folder's change, a close's
  // own question) does not go on: only the answer moves the picture. Nor
  // does one once the window has closed.
  if (FQuestion.Asking() || FClosing) return TLeaveAnswer::Kept;
  const TShowHold hold(*this);
  const TEditQuestion::TAsking asking(FQuestion);
  const TLeaveAnswer answer = AskAboutEdit();
  if (!FQuestion.CloseWaits()) return answer;
  // A close came meanwhile (the session's end, the window's close button):
  // the answer is the close's, which runs once this step has stopped.
  FQuestion.AnswerClose(answer == TLeaveAnswer::Go);
  return TLeaveAnswer::Kept;
}

TMainForm::TShowHold::TShowHold(TMainForm& form) : Form(form), Held(form.SlideShowTimer->isActive()) {
  form.SlideShowTimer->stop();
}

TMainForm::TShowHold::~TShowHold() {
  if (!Held || !Form.FSlideShow || Form.FClosing || Form.SlideShowTimer->isActive()) return;
  Form.SlideShowTimer->start();
  Form.UpdateCommandStates();
}

TMainForm::TLeaveAnswer TMainForm::AskAboutEdit() {
  const platform::TBitmap* bitmap = RastrumView1->GetBitmap();
  const int smaller = std::min(bitmap->Width(), bitmap->Height());
  const bool withoutFile = WithoutOwnFile();
  const std::string path = FCurrentFilePath;
  const bool letGo = FQuestion.LetsGo(path);
  // A save that failed keeps the picture and its edit on screen: the caller
  // stops. After a failed silent save the user is asked, so that another
  // name or discarding the edit stays within reach. An edit already given
  // up, or saved as a copy, at a question of this step is not saved after all.
  if (FOnlyRotated && !withoutFile && FSettings.AutoSaveImages && smaller > 300 && !FAutoSaveFailed && !letGo) {
    const TSaveAsOutcome saved = SaveShownPicture();
    if (saved == TSaveAsOutcome::Failed) FAutoSaveFailed = true;
    return LeaveAnswerOf(saved);
  }
  auto saveAs = [this] { return LeaveAnswerOf(SaveImageAsOutcome()); };
  // A picture without a file to overwrite is offered a name, as a scan is.
  if (withoutFile && !letGo) {
    int answer = 0;
    if (HelpDlg) {
      HelpDlg->PromptSaveNewImage();
      answer = HelpDlg->ShowModal();
    }
    if (answer == 1) return saveAs();
    FQuestion.LetGo(path);
    return TLeaveAnswer::Go;
  }
  auto askOverwrite = [&](bool resized) {
    int answer = 0;
    if (HelpDlg) {
      if (resized) HelpDlg->PromptOverwriteResized();
      else HelpDlg->PromptOverwriteRotated();
      answer = HelpDlg->ShowModal();
    }
    if (answer == 1) return LeaveAnswerOf(SaveShownPicture());
    if (answer == 2) return saveAs();
    FQuestion.LetGo(path);
    return TLeaveAnswer::Go;
  };
  if (letGo) return TLeaveAnswer::Go;
  return askOverwrite(!FOnlyRotated || !FSettings.AutoSaveImages || FAutoSaveFailed);
}

TMainForm::TLeaveAnswer TMainForm::LeaveAnswerOf(TSaveAsOutcome outcome) {
  // A copy saved and opened in place of this picture stops the caller; a
  // write that failed or a question or dialog cancelled keeps the edit, as
  // only "Discard Changes" (or "No" for a new picture) drops it. A copy
  // written and not opened leaves this file as it was by the user's choice,
  // as the edit given up does: the rest of this move (the folder view's own
  // question on showing the next file) asks no more. A picture saved is no
  // longer modified: a later edit of it is asked about again.
  switch (outcome) {
  case TSaveAsOutcome::Opened:
    return TLeaveAnswer::OtherShown;
  case TSaveAsOutcome::Written:
  case TSaveAsOutcome::Discarded:
    if (FModified) FQuestion.LetGo(FCurrentFilePath);
    return TLeaveAnswer::Go;
  case TSaveAsOutcome::Failed:
  case TSaveAsOutcome::Cancelled:
    break;
  }
  return TLeaveAnswer::Kept;
}

bool TMainForm::ReleaseShownFile(const std::vector<std::string>& paths, bool shows) {
  FinishPendingLoad();
  if (!HasImage() || !FModified || !AmongFiles(FCurrentFilePath, paths)) return true;
  // The edit kept, or a copy saved and opened in the picture's place: the
  // operation stops, as a step to another picture would.
  if (QuerySaveModified() != TLeaveAnswer::Go) return false;
  // Discarded, or saved only as a copy: the picture shows its file again.
  if (shows && FModified) {
    const std::string shown = FCurrentFilePath;
    ReloadImage();
    const unsigned serial = FPendingSerial;
    FinishPendingLoad();
    // Another picture came while the file was read again (a hand-off): the
    // operation was for the file shown before, and does not go on.
    if (serial != FPendingSerial || FCurrentFilePath != shown) return false;
  }
  // Taken away, the file leaves the picture without its edit when its
  // folder view says so; left where it was, the next step asks again.
  if (!shows) FQuestion.LetGoWithFile();
  return true;
}

bool TMainForm::WritePicture(const std::string& target, bool keepQuality, const QString& convertMessage,
                             bool ownFile) {
  FBusy = true;
  FWriteFoundOther = false;
  // Turned or flipped pixels are the picture as the user made it upright: a
  // camera's orientation written with them would turn them once more. The
  // shown file's own orientation stays for what it holds.
  std::int32_t& orientation = RastrumView1->GetIO()->Params().ExifOrientation;
  const std::int32_t shown = orientation;
  if (FPixelTurn.Turned() && orientation > 1) orientation = 1;
  // A camera's thumbnail shows the pixels as they were stored, not turned:
  // it is left out of the bytes written. A quarter turn turns the pixels'
  // shape too: the Exif resolution is written swapped, as the picture's own
  // is. The orientation of the XMP packet follows the Exif one as the
  // markers are written. The shown picture keeps the markers so written
  // unless its own file was written without them; a failed write or a copy
  // leaves that file, and its markers, as they were.
  rv::TRvMarkerList& markers = RastrumView1->GetIO()->Params().JpegMarkers;
  struct TRestore {
    std::int32_t& Field;
    std::int32_t Value;
    rv::TRvMarkerList& Markers;
    bool Turned;
    rv::TRvMarkerList Shown = {};
    bool OwnFileWritten = false;
    ~TRestore() {
      Field = Value;
      if (Turned && !OwnFileWritten) Markers.Assign(&Shown);
    }
  } restore{orientation, shown, markers, FPixelTurn.Turned()};
  if (restore.Turned) {
    restore.Shown.Assign(&markers);
    rv::RvDropJpegExifThumbnail(markers);
    if (const int exif = rv::RvExifMarkerIndex(markers); exif >= 0 && FPixelTurn.Matrix()[0] == 0)
      rv::RvSwapExifResolution(markers.MarkerData(exif), markers.MarkerLength(exif));
  }
  try {
    const TFileIdentity written = WriteShownPicture(target, keepQuality);
    restore.OwnFileWritten = ownFile;
    // The file holds what the program wrote: a later save compares with it.
    if (ownFile) FShownIdentity = written;
    FBusy = false;
    return true;
  } catch (const platform::EFileChanged&) {
    // Nothing was written over: the caller asks about the file now there.
    FBusy = false;
    FWriteFoundOther = true;
  } catch (const EConvertError&) {
    FBusy = false;
    MessageDlg(windowTitle(), convertMessage, QMessageBox::Critical, QMessageBox::Ok);
  } catch (const std::exception& error) {
    FBusy = false;
    MessageDlg(windowTitle(), QString::fromUtf8(error.what()), QMessageBox::Critical, QMessageBox::Ok);
  }
  return false;
}

std::optional<TMainForm::TSaveAsOutcome> TMainForm::AskWhatTheSaveLoses(const std::string& target, bool overShown,
                                                                         bool fromSaveAs,
                                                                         const TFileIdentity& accepted) {
  rv::TRastrumIO* io = RastrumView1->GetIO();
  const rv::TRvMask* alpha = RastrumView1->HasAlphaChannel() ? RastrumView1->GetAlphaChannel() : nullptr;
  const std::array<int, 4> turn = FPixelTurn.Matrix();
  FSaveSubject = TSaveSubject{WithoutOwnFile() ? std::string() : FCurrentFilePath,
                              target,
                              overShown,
                              &io->Params(),
                              alpha != nullptr && !alpha->Full(),
                              FOnlyRotated,
                              rv::TRvGridTurn{turn[0], turn[1], turn[2], turn[3]},
                              accepted,
                              FShownIdentity};
  // The plan reads the file's other pages or frames (an animation's it
  // decodes whole): on a worker, with its own copy of the settings.
  rv::TIOParamsVals params;
  params.Assign(io->Params());
  TSaveSubject planned = FSaveSubject;
  planned.Params = &params;
  const unsigned serial = FPendingSerial;
  const std::string shown = FCurrentFilePath;
  // The picture planned for and asked about is still the one shown, with
  // its edit.
  const auto stillShown = [&] {
    return serial == FPendingSerial && !PictureLoadPending() && FCurrentFilePath == shown && HasImage() &&
           (fromSaveAs || FModified);
  };
  TSavePlan plan;
  AwaitSaveWork([&] { plan = PlanSave(planned); });
  FSavePlan = std::move(plan);
  if (!stillShown()) return TSaveAsOutcome::Cancelled;
  if (FSavePlan.Lost.isEmpty()) return std::nullopt;
  int answer = 0;
  if (HelpDlg) {
    HelpDlg->PromptSaveLoses(FileNameText(NameOfPath(target)), FSavePlan.Lost, fromSaveAs);
    answer = HelpDlg->ShowModal();
  }
  if (!stillShown()) return TSaveAsOutcome::Cancelled;
  if (answer == 1) return std::nullopt;
  // Nothing is written: the file the plan holds open is let go.
  FSavePlan = TSavePlan{};
  if (fromSaveAs) return TSaveAsOutcome::Cancelled;
  if (answer == 2) return SaveImageAsOutcome();
  if (answer == 3) return TSaveAsOutcome::Discarded;
  return TSaveAsOutcome::Cancelled;
}

void TMainForm::AwaitSaveWork(std::function<void()> work) {
  // On a worker, as pictures are read: the window paints, shows the
  // progress and answers the window manager meanwhile. The user's input
  // waits for the work, as it waits for a read; a step or a save that comes
  // otherwise (a hand-off) finds the question's scope and goes no further,
  // and a close waits for the work.
  TSaveWork task(this, std::move(work), [this] { WakeReadWaits(); });
  const TEditQuestion::TAsking asking(FQuestion);
  while (!task.Ended() && AwaitRead()) {
  }
}

TFileIdentity TMainForm::WriteShownPicture(const std::string& target, bool keepQuality) {
  // Only the save just planned for this target goes its own way; any other
  // write is of the picture alone, over the file there now.
  TSaveSubject subject = std::exchange(FSaveSubject, TSaveSubject{});
  TSavePlan plan = subject.Target == target ? std::exchange(FSavePlan, TSavePlan{}) : TSavePlan{};
  if (subject.Target != target) subject.Accepted = TFileIdentity::Of(target);
  subject.Target = target;
  rv::TRastrumIO* io = RastrumView1->GetIO();
  TPictureCopy copy(*io);
  subject.Params = &copy.IO().Params();
  // The bar shows the write's progress until it ends, and no report of it
  // after.
  const auto writing = std::make_shared<std::atomic<bool>>(true);
  TQueuedProgress report(this, [this, io, writing](int percent) {
    if (*writing && io->OnProgress) io->OnProgress(io, percent);
  });
  copy.IO().OnProgress = [&report](void*, int percent) { report(percent); };
  std::exception_ptr failure;
  TFileIdentity written;
  AwaitSaveWork([&] {
    try {
      WritePlannedSave(plan, subject, copy.IO(), keepQuality, copy.Bitmap());
      written = TFileIdentity::Of(target);
    } catch (...) {
      failure = std::current_exception();
    }
    // The file the plan held open is let go with the write.
    plan.Source.reset();
  });
  *writing = false;
  if (io->OnFinishWork) io->OnFinishWork(io);
  if (failure) std::rethrow_exception(failure);
  // Where the write put what the file holds after its picture, when it
  // wrote over the file read: a later save copies it from there.
  io->Params().Trailer = copy.IO().Params().Trailer;
  // The animation plays its frames as they now are in the file.
  if (plan.Way == TSavePlan::swTurnedFrames) LoadImageIntoView();
  return written;
}

void TMainForm::ReportFileWritten(const std::string& path, bool existed) {
  // The view of the folder written into, which need not be the current one.
  TFolderViewForm* view = ViewHolding(FFolderViews, path);
  if (!view) return;
  const std::string name = path.substr(path.rfind('/') + 1);
  const int row = view->Rows().IndexOf(name);
  TScannedFile file;
  if (existed && row >= 0 && ReadScannedFile(view->GetFolderPath(), name, file))
    view->UpdateFileItem(row, file.Size, file.Modified);
  else
    view->RefreshFolder(0, false);
}

bool TMainForm::SaveModifiedImage() {
  // One question about the edit at a time.
  if (FQuestion.Asking()) return false;
  TSaveAsOutcome outcome;
  {
    const TEditQuestion::TAsking asking(FQuestion);
    outcome = SaveShownPicture();
    // A close came while it asked (the session's end): the answer is the
    // close's, which runs once the save is done.
    if (FQuestion.CloseWaits()) {
      FQuestion.AnswerClose(LeaveAnswerOf(outcome) == TLeaveAnswer::Go);
      return false;
    }
  }
  // Given up at the question about a file another program changed: the
  // picture shows what its file holds now.
  if (outcome == TSaveAsOutcome::Discarded) ReloadImage();
  return outcome == TSaveAsOutcome::Written || outcome == TSaveAsOutcome::Opened;
}

TMainForm::TSaveAsOutcome TMainForm::SaveShownPicture() {
  FinishPendingLoad();
  // A paused show saves as any save does; a running one has no edit to save.
  if (SlideShowTimerOn()) return TSaveAsOutcome::Failed;
  if (!FModified) return TSaveAsOutcome::Written;
  // A picture with no file of its own is never written to a bare name (the
  // program's working folder): the user says where.
  if (WithoutOwnFile()) return SaveImageAsOutcome();
  std::string target = FCurrentFilePath;
  const std::string ext = LowerFileExt(target);
  // Icons and cursors have no writer: the picture goes beside them as a bitmap.
  const bool beside = ext == ".ico" || ext == ".cur";
  if (beside) target += ".bmp";
  // The file the write may replace: the one the program read or wrote,
  // or the one the user is asked about below as they are shown it; not a
  // file that comes later, while a question is up or the write runs.
  const TFileIdentity found = TFileIdentity::Of(target);
  // Another program's file in the picture's place, or its change of the
  // file, is never written over without a word, not even by the silent save.
  if (!beside && found != FShownIdentity) {
    const unsigned serial = FPendingSerial;
    int answer = 0;
    if (HelpDlg) {
      HelpDlg->PromptFileChanged(FileNameText(FCurrentFileName));
      answer = HelpDlg->ShowModal();
    }
    // The picture asked about is still the one shown, with its edit.
    if (serial != FPendingSerial || PictureLoadPending() || FCurrentFilePath != target || !FModified)
      return TSaveAsOutcome::Cancelled;
    if (answer == 2) return SaveImageAsOutcome();
    if (answer == 3) return TSaveAsOutcome::Discarded;
    if (answer != 1) return TSaveAsOutcome::Cancelled;
  }
  // The bitmap's name beside an icon may be the user's own file.
  if (beside && IsFile(target) && found != FBesideIdentity) {
    const QString question = FileNameText(target) + QStringLiteral(" already exists!\nDo you want to replace it?");
    const int answer =
        MessageDlg(windowTitle(), question, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    // The picture asked about is still the one shown, with its edit.
    if (FCurrentFilePath + ".bmp" != target || !FModified || answer != QMessageBox::Yes)
      return TSaveAsOutcome::Cancelled;
  }
  if (const std::optional<TSaveAsOutcome> asked = AskWhatTheSaveLoses(target, !beside, false, found)) return *asked;
  BeginWaitCursor();
  const bool existed = IsFile(target);
  const bool written = WritePicture(target, false, QStringLiteral("Error saving modified file!"), !beside);
  // Another file took the picture's place while it was written: asked
  // about as before a save.
  if (!written && FWriteFoundOther) {
    EndWaitCursor();
    return SaveShownPicture();
  }
  if (written && beside) FBesideIdentity = TFileIdentity::Of(target);
  if (written) {
    PictureSaved();
    UpdateModifiedState();
    ReportFileWritten(target, existed);
  }
  EndWaitCursor();
  return written ? TSaveAsOutcome::Written : TSaveAsOutcome::Failed;
}

void TMainForm::PictureSaved() {
  // The file now holds the turned pixels, with the orientation they were
  // written with.
  if (FPixelTurn.Turned() && RastrumView1->GetIO()->Params().ExifOrientation > 1)
    RastrumView1->GetIO()->Params().ExifOrientation = 1;
  FPixelTurn.Reset();
  RastrumView1->GetProc()->ClearUndo();
  FIsNewImage = false;
  FOnlyRotated = true;
  FQuestion.PictureChanged();
  FAutoSaveFailed = false;
}

bool TMainForm::SaveImageAs() { return SaveImageAsOutcome() == TSaveAsOutcome::Opened; }

TMainForm::TSaveAsOutcome TMainForm::SaveImageAsOutcome() {
  FinishPendingLoad();
  if (SlideShowTimerOn() || !HasImage()) return TSaveAsOutcome::Cancelled;
  rv::TIOParamsVals& params = RastrumView1->GetIO()->Params();
  if (params.JpegQuality == 50) params.JpegQuality = 80;
  std::string target;
  bool openSaved = false;
  const std::string shown = FCurrentFilePath;
  const unsigned serial = FPendingSerial;
  const int result = SaveAsPrompt ? SaveAsPrompt(FCurrentFilePath, target, openSaved) : 2;
  // A cancelled dialog leaves the edit as it was, still to be asked about
  // when the picture is left; so does another picture come meanwhile.
  if (result != 1 || serial != FPendingSerial || PictureLoadPending() || FCurrentFilePath != shown || !HasImage())
    return TSaveAsOutcome::Cancelled;
  TSaveAsOutcome outcome = TSaveAsOutcome::Failed;
  std::string path = target;
  if (LowerFileExt(path).empty()) path += LowerFileExt(FCurrentFileName);
  const bool existed = IsFile(path);
  // Asked before the write, which puts a new file in the old one's place.
  // Another name of the shown file (a hard link) is another file's place:
  // the write puts a new file there and leaves the shown one as it was, so
  // the picture is saved only as a copy.
  const bool other = !SameFilePath(path, FCurrentFilePath);
  const bool withoutFile = WithoutOwnFile();
  // The file the user chose to replace, as the dialog left it (or none).
  const TFileIdentity chosen = TFileIdentity::Of(path);
  if (const std::optional<TSaveAsOutcome> asked = AskWhatTheSaveLoses(path, !other && !withoutFile, true, chosen)) {
    UpdateModifiedState();
    return *asked;
  }
  BeginWaitCursor();
  if (WritePicture(path, true, QStringLiteral("Error converting to selected file format!"), withoutFile || !other)) {
    outcome = TSaveAsOutcome::Written;
    // A copy neither opened nor taking the place of a missing file leaves
    // the shown picture as it was: its own file unchanged, its edit still
    // to be asked about (or saved silently) when it is left.
    if (other && openSaved) {
      // Saved: leaving it for the copy asks nothing.
      PictureSaved();
      UpdateModifiedState();
      OpenPath(path, true);
      outcome = TSaveAsOutcome::Opened;
      ReportFileWritten(path, existed);
    } else if (withoutFile) {
      // The picture had no file: the one written becomes its own, as
      // opening it would make it, so that a later save goes there.
      PictureSaved();
      SetCurrentFileNames(NameOfPath(path), path);
    } else if (!other) {
      // Written over the shown file itself: it holds the picture now.
      PictureSaved();
      ReportFileWritten(path, existed);
    }
  } else if (FWriteFoundOther) {
    MessageDlg(windowTitle(),
               QStringLiteral("Another program changed ") + QString::fromStdString(path) +
                   QStringLiteral(" while the picture was saved: it was not written over."),
               QMessageBox::Critical, QMessageBox::Ok);
  }
  EndWaitCursor();
  UpdateModifiedState();
  return outcome;
}

// ---- Zoom

void TMainForm::SetZoomPercent(double percent) {
  if (FAutoFit) return;
  if (percent != RastrumView1->Zoom()) RastrumView1->SetZoom(percent);
}

void TMainForm::ZoomBy(double step) {
  const double zoom = RastrumView1->Zoom();
  if (zoom + step < 0) return;
  // The steps run 1, 10, 20, ... and back.
  if (zoom == 1 && step == 10) step = 9;
  if (zoom == 10 && step == -10) step = -9;
  SetZoomPercent(zoom + step);
  UpdateZoomControls();
}

void TMainForm::ZoomToFit() {
  if (!FAutoFit) RastrumView1->Fit();
}

void TMainForm::ToggleAutoFit() {
  FAutoFit = !FAutoFit;
  SBtnAutoFit->SetPressed(FAutoFit);
  AutoFit1->setChecked(FAutoFit);
  if (RastrumView1->AutoFit != FAutoFit) {
    RastrumView1->AutoFit = FAutoFit;
    RastrumView1->Update();
  }
  ZoomBy(0);
}

bool TMainForm::CheckAutoFitForZoom() {
  if (FInAutoFitCheck) return FAutoFit;
  FInAutoFitCheck = true;
  if (FAutoFit && (!ReadPromptFlag("ShowAutoFitPrompt") || (NotificationDlg && NotificationDlg->PromptDisableAutoFit() == 1)))
    ToggleAutoFit();
  FInAutoFitCheck = false;
  return FAutoFit;
}

// ---- Animated GIFs: the frames live in the hidden thumbnail view, each
// with its own parameter record; the canvas composes them. It keeps what the
// frames left, the background left transparent: the background's colour
// follows the frame on show, and comes in only when the canvas is shown.

namespace {

QRgb FrameColour(const rv::TRGB& C) { return qRgb(C.r, C.g, C.b); }

// The canvas the frames are composed on: their rectangles together, from
// the screen's top-left corner and inside the logical screen (a screen of
// no size holds them all). A frame that would take it past the pixel cap
// stays out and is drawn clipped: frames far apart, a few bytes each, must
// not make it gigabytes.
QSize GifCanvasSize(rv::TRastrumMView& frames) {
  std::int64_t width = 0, height = 0;
  for (int i = 0; i < frames.ImageCount(); ++i) {
    const rv::TIOParamsVals* p = frames.GetMIO()->GetParams(i);
    if (!p) continue;
    QRect placed(p->GifXPos, p->GifYPos, frames.ImageFullWidth(i), frames.ImageFullHeight(i));
    if (p->GifScreenWidth > 0 && p->GifScreenHeight > 0)
      placed &= QRect(0, 0, p->GifScreenWidth, p->GifScreenHeight);
    if (placed.isEmpty()) continue;
    const std::int64_t w = std::max<std::int64_t>(width, placed.right() + 1);
    const std::int64_t h = std::max<std::int64_t>(height, placed.bottom() + 1);
    if (w * h > rv::RvMaxPixels()) continue;
    width = w;
    height = h;
  }
  return {static_cast<int>(width), static_cast<int>(height)};
}

} // namespace

QRect TMainForm::GifFrameRect(int index) const {
  const rv::TIOParamsVals* p = RastrumMView1->GetMIO()->GetParams(index);
  if (!p) return {};
  return {p->GifXPos, p->GifYPos, RastrumMView1->ImageFullWidth(index), RastrumMView1->ImageFullHeight(index)};
}

void TMainForm::DrawGifFrame(int index, bool transparent, const QRect* area) {
  const rv::TIOParamsVals* params = RastrumMView1->GetMIO()->GetParams(index);
  if (!params) return;
  const QRect placed = GifFrameRect(index);
  QRect covered = placed & FGifCanvas.rect();
  if (area) covered &= *area;
  else ++FGifFramesDrawn;
  if (covered.isEmpty()) return;
  // Only the part drawn is read: a part of a large frame costs what it holds.
  QImage picture =
      RastrumMView1->ImageArea(index, covered.translated(-placed.topLeft())).convertToFormat(QImage::Format_ARGB32);
  if (picture.isNull()) return;
  if (transparent) {
    // The frame's transparent colour lets the canvas show through.
    const QRgb key = FrameColour(params->GifTransparentColor) & 0xFFFFFFu;
    for (int y = 0; y < picture.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
      for (int x = 0; x < picture.width(); ++x)
        if ((row[x] & 0xFFFFFFu) == key) row[x] = 0;
    }
  }
  // A frame that restores what it covers keeps a copy of it.
  if (!area && params->GifDisposal > 2) {
    FGifUnder = FGifCanvas.copy(covered);
    FGifUnderAt = covered.topLeft();
  }
  QPainter painter(&FGifCanvas);
  painter.drawImage(covered.topLeft(), picture);
  NoteGifChange(covered, false);
}

void TMainForm::ClearGifCanvas(const QRect& area) {
  const QRect cleared = area & FGifCanvas.rect();
  if (cleared.isEmpty()) return;
  QPainter painter(&FGifCanvas);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(cleared, Qt::transparent);
  NoteGifChange(cleared, true);
}

void TMainForm::NoteGifChange(const QRect& area, bool uncovers) {
  if (area.isEmpty()) return;
  if (!FGifChangedAll) FGifChanged.push_back(area);
  if (uncovers) FGifUncovered |= area;
  if (FGifSinceFirstArea < 0) return;
  // Composing the first frame anew costs the canvas's area: changes beyond
  // that are not worth putting back one by one.
  FGifSinceFirstArea += std::int64_t{area.width()} * area.height();
  if (FGifSinceFirstArea > std::int64_t{FGifCanvas.width()} * FGifCanvas.height()) {
    FGifSinceFirstArea = -1;
    std::vector<QRect>().swap(FGifSinceFirst);
  } else {
    FGifSinceFirst.push_back(area);
  }
}

QRgb TMainForm::GifBackground(int index) const {
  if (const rv::TIOParamsVals* p = RastrumMView1->GetMIO()->GetParams(index))
    return FrameColour(p->GifHasTransparentColor ? p->GifTransparentColor : p->GifBackground);
  const std::uint32_t rgb = platform::ColorToRGB(RastrumView1->GetBackground());
  return qRgb(platform::GetRValue(rgb), platform::GetGValue(rgb), platform::GetBValue(rgb));
}

bool TMainForm::GifFrameFillsCanvas(int index) const { return GifFrameRect(index).contains(FGifCanvas.rect()); }

void TMainForm::ComposeGifFrame(int current) {
  auto frameInfo = [this](int index) { return RastrumMView1->GetMIO()->GetParams(index); };
  FGifUnder = QImage();
  FGifChangedAll = true;
  FGifChanged.clear();
  FGifSinceFirstArea = -1;
  std::vector<QRect>().swap(FGifSinceFirst);
  FGifCanvas.fill(Qt::transparent);
  // The base: the last frame over the whole canvas that hides all before
  // it: opaque and left in place (or the frame on show, unless the next
  // tick puts back what it covers), or cleared. One that puts back what it
  // covered hides nothing.
  int base = 0;
  for (int i = current; i >= 1; --i) {
    const rv::TIOParamsVals* p = frameInfo(i);
    if (!p || !GifFrameFillsCanvas(i)) continue;
    const bool stays = p->GifDisposal <= 1 || (i == current && p->GifDisposal == 2);
    if ((!p->GifHasTransparentColor && stays) || (p->GifDisposal == 2 && i < current)) {
      base = i;
      break;
    }
  }
  for (int i = base; i < current; ++i) {
    const rv::TIOParamsVals* p = frameInfo(i);
    if (!p) continue;
    if (p->GifDisposal <= 1) DrawGifFrame(i, p->GifHasTransparentColor);
    else if (p->GifDisposal == 2 && i > base) ClearGifCanvas(GifFrameRect(i));
  }
  // Only the frame on show may restore what it covers.
  FGifUnder = QImage();
  const rv::TIOParamsVals* p = frameInfo(current);
  DrawGifFrame(current, p && p->GifHasTransparentColor);
  FGifComposed = current;
  if (current == 0) FGifSinceFirstArea = 0;
}

void TMainForm::NextGifFrame(int current) {
  // What the frame before leaves for this one.
  const int previous = current - 1;
  if (const rv::TIOParamsVals* p = RastrumMView1->GetMIO()->GetParams(previous)) {
    if (p->GifDisposal == 2) {
      ClearGifCanvas(GifFrameRect(previous));
    } else if (p->GifDisposal > 2 && !FGifUnder.isNull()) {
      QPainter painter(&FGifCanvas);
      painter.setCompositionMode(QPainter::CompositionMode_Source);
      painter.drawImage(FGifUnderAt, FGifUnder);
      NoteGifChange(QRect(FGifUnderAt, FGifUnder.size()), true);
    }
  }
  FGifUnder = QImage();
  const rv::TIOParamsVals* p = RastrumMView1->GetMIO()->GetParams(current);
  DrawGifFrame(current, p && p->GifHasTransparentColor);
  FGifComposed = current;
}

bool TMainForm::RewindGifCanvas() {
  const rv::TIOParamsVals* first = RastrumMView1->GetMIO()->GetParams(0);
  // A first frame that puts back what it covers would need that copy too.
  if (!first || first->GifDisposal > 2 || FGifSinceFirstArea < 0 ||
      FGifComposed != RastrumMView1->ImageCount() - 1)
    return false;
  std::vector<QRect> changed;
  changed.swap(FGifSinceFirst);
  FGifSinceFirstArea = -1;
  FGifUnder = QImage();
  for (const QRect& area : changed) {
    ClearGifCanvas(area);
    DrawGifFrame(0, first->GifHasTransparentColor, &area);
  }
  ++FGifFramesDrawn;
  FGifComposed = 0;
  FGifSinceFirstArea = 0;
  return true;
}

void TMainForm::ShowGifCanvas(QRgb background) {
  platform::TBitmap& shown = *RastrumView1->GetBitmap();
  const QRect all = FGifCanvas.rect();
  // The view keeps what the last show wrote, unless its picture changed
  // since (an edit and its undo, a save, another picture).
  const bool kept = !FGifChangedAll && FGifShownKey != 0 && shown.Image().cacheKey() == FGifShownKey &&
                    shown.PixelFormat() == platform::pf24bit && shown.Width() == all.width() &&
                    shown.Height() == all.height();
  std::vector<QRect> areas;
  if (kept) {
    areas.swap(FGifChanged);
    // A background of another colour shows wherever the canvas is clear.
    if (background != FGifShownBackground && !FGifUncovered.isEmpty()) areas.push_back(FGifUncovered);
  } else {
    if (shown.PixelFormat() != platform::pf24bit || shown.Width() != all.width() || shown.Height() != all.height()) {
      shown.SetSize(1, 1);
      shown.SetPixelFormat(platform::pf24bit);
      shown.SetSize(all.width(), all.height());
    }
    areas = {all};
  }
  FGifChanged.clear();
  FGifChangedAll = false;
  FGifShownKey = 0;
  QImage& to = shown.Image();
  if (to.isNull() || to.size() != all.size()) return;
  // The clear part of a whole show, by its bounds.
  int clearLeft = all.width(), clearTop = all.height(), clearRight = -1, clearBottom = -1;
  std::uint8_t* const bits = to.bits();
  const auto stride = static_cast<std::size_t>(to.bytesPerLine());
  for (const QRect& area : areas) {
    const QRect a = area & all;
    if (a.isEmpty()) continue;
    for (int y = a.top(); y <= a.bottom(); ++y) {
      const auto* from = reinterpret_cast<const QRgb*>(FGifCanvas.constScanLine(y));
      std::uint8_t* row = bits + static_cast<std::size_t>(y) * stride;
      for (int x = a.left(); x <= a.right(); ++x) {
        QRgb c = from[x];
        if (qAlpha(c) == 0) {
          c = background;
          clearLeft = std::min(clearLeft, x);
          clearRight = std::max(clearRight, x);
          clearTop = std::min(clearTop, y);
          clearBottom = y;
        }
        row[3 * x] = static_cast<std::uint8_t>(qBlue(c));
        row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(c));
        row[3 * x + 2] = static_cast<std::uint8_t>(qRed(c));
      }
    }
    FGifPixelsShown += std::int64_t{a.width()} * a.height();
  }
  if (!kept) FGifUncovered = clearRight < 0 ? QRect() : QRect(QPoint(clearLeft, clearTop), QPoint(clearRight, clearBottom));
  // A frame is no change of the picture: the modified state stays.
  const bool busy = FBusy;
  FBusy = true;
  if (kept) {
    RastrumView1->ImageAreasChange(areas);
  } else {
    RastrumView1->Update();
    RastrumView1->ImageChange();
  }
  FBusy = busy;
  FGifShownKey = shown.Image().cacheKey();
  FGifShownBackground = background;
}

void TMainForm::LoadImageIntoView() {
  DropFramesLoad();
  RastrumMView1->Clear();
  FGifComposed = -1;
  GifTimer->stop();
  if (LowerFileExt(FCurrentFilePath) != ".gif") return;
  // The frames are read on a worker, as the picture was: the window answers
  // while a long animation is read, and a move to another picture drops the
  // read.
  const unsigned serial = ++FFramesSerial;
  FFramesLoad = std::make_unique<TFramesLoad>(*RastrumMView1, FCurrentFilePath, this,
                                              [this, serial] { FramesEnded(serial); });
}

void TMainForm::FramesEnded(unsigned serial) {
  if (FFramesLoad && serial == FFramesSerial) {
    ShowFrames();
    return;
  }
  std::erase_if(FDroppedFrames, [serial](const auto& dropped) { return dropped.first == serial; });
}

void TMainForm::DropFramesLoad() {
  if (!FFramesLoad) return;
  FFramesLoad->Abort();
  FDroppedFrames.emplace_back(FFramesSerial, std::move(FFramesLoad));
}

void TMainForm::ShowFrames() {
  std::unique_ptr<TFramesLoad> load = std::move(FFramesLoad);
  load->Wait();
  RastrumMView1->TakeImages(load->Frames());
  load.reset();
  FGifComposed = -1;
  const int frames = RastrumMView1->ImageCount();
  const QSize canvas = GifCanvasSize(*RastrumMView1);
  FGifCanvas = QImage();
  if (frames > 0 && !canvas.isEmpty()) {
    // The canvas is this animation's also while an edit stays on show: the
    // frames play from the start once the edit is undone.
    FGifFrameIndex = 0;
    FGifCanvas = QImage(canvas, QImage::Format_ARGB32_Premultiplied);
    // A picture edited while its frames were read keeps the edit on show.
    if (!FGifCanvas.isNull() && !FModified) {
      ComposeGifFrame(0);
      ShowGifCanvas(GifBackground(0));
      // The picture is the canvas now, which can be larger than the frame read.
      UpdateFileStatusText();
      const rv::TIOParamsVals* first = RastrumMView1->GetMIO()->GetParams(0);
      GifTimer->setInterval(
          GifDelayToInterval(static_cast<std::uint32_t>(std::max(first ? first->GifDelayTime : 0, 0))));
    }
  }
  if (frames > 1 && !FGifCanvas.isNull() && FSettings.AnimateGif && !SlideShowTimerOn() && !FModified)
    GifTimer->start();
  else
    GifTimer->stop();
}

void TMainForm::SeekGifFrame(int index) {
  if (index < 0 || index >= RastrumMView1->ImageCount() || FGifCanvas.isNull()) return;
  FGifFrameIndex = index;
  ComposeGifFrame(index);
  ShowGifCanvas(GifBackground(index));
  const rv::TIOParamsVals* p = RastrumMView1->GetMIO()->GetParams(index);
  GifTimer->setInterval(GifDelayToInterval(static_cast<std::uint32_t>(std::max(p ? p->GifDelayTime : 0, 0))));
}

void TMainForm::GifTimerTimer() {
  if (FSlideShow) return;
  const int frames = RastrumMView1->ImageCount();
  if (!FSettings.AnimateGif || !HasImage() || frames == 0 || FGifCanvas.isNull()) {
    GifTimer->stop();
    return;
  }
  FGifFrameIndex = FGifFrameIndex + 1 >= frames ? 0 : FGifFrameIndex + 1;
  const int current = FGifFrameIndex;
  // The next frame is drawn over what the one before left, the first one
  // back where the loop changed it; a jump (a seek, the first tick after an
  // edit) composes the frame anew.
  if (current > 0 && FGifComposed == current - 1) NextGifFrame(current);
  else if (current > 0 || !RewindGifCanvas()) ComposeGifFrame(current);
  ShowGifCanvas(GifBackground(current));
  const rv::TIOParamsVals* p = RastrumMView1->GetMIO()->GetParams(current);
  GifTimer->setInterval(GifDelayToInterval(static_cast<std::uint32_t>(std::max(p ? p->GifDelayTime : 0, 0))));
}

} // namespace app

// The reads of a picture file for the main window's view, each on a worker
// thread of its own: the picture by the view's reader path (an input/output
// component attached to a picture that stands in for the view), the frames
// of an animation by the multi-image component; each with its own aborting
// flag and its end reported on the user-interface thread. The window swaps
// the result into its views there; the worker never touches a widget. The
// dialogs' previews are read the same way.
#pragma once

#include "app/pictureutil.h"
#include "image/io/rastrumio.h"
#include "image/io/rvloadedpicture.h"

#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace rv {
class TRastrumMView;
class TRastrumView;
class TRvMViewImages;
} // namespace rv

namespace app {

class TFolderViewForm;

// A read on a worker thread of its own whose end is told on the
// user-interface thread, and whose result is let go as soon as it ends when
// the read was dropped meanwhile.
class TWorkerRead {
public:
  virtual ~TWorkerRead();
  TWorkerRead(const TWorkerRead&) = delete;
  TWorkerRead& operator=(const TWorkerRead&) = delete;

  // Asks the reader to stop at its next progress report. The result of an
  // aborted read is let go as soon as the read has ended: a dropped read
  // keeps nothing while the window has yet to hear of its end.
  void Abort();
  // Waits until the worker has ended (the queued Done may still come).
  void Wait();
  // Whether the worker's read has ended, without waiting.
  bool Ended();

protected:
  TWorkerRead() = default;
  // Runs Work on the worker, then Done on Context's thread through its
  // event queue (a Context that is gone gets none). Called once, by the
  // constructor of the read, whose destructor aborts and waits.
  void Start(QObject* Context, std::function<void()> Work, std::function<void()> Done);
  bool Aborted() const { return FAbort.load(); }

private:
  // Under FEndLock, once the read of an aborted load has ended: the result
  // goes.
  virtual void Release() = 0;

  std::atomic<bool> FAbort{false};
  std::mutex FEndLock;
  bool FEnded = false;
  std::thread FThread;
};

// Reports of a worker's progress, made on the worker and told on Context's
// thread: one report on its way at a time, carrying the newest value when it
// arrives, so that a window busy for a while gets one report, not a burst of
// stale ones each repainting the bar in the same loop turn. A value equal to
// the last one is not sent again; an empty Progress gets nothing.
class TQueuedProgress {
public:
  TQueuedProgress(QObject* Context, std::function<void(int)> Progress);
  // On the worker.
  void operator()(int Value);

private:
  QObject* FContext;
  std::function<void(int)> FProgress;
  std::shared_ptr<std::atomic<int>> FWaiting;
  int FLast = -1;
};

class TPictureLoad : public TWorkerRead {
public:
  // Reads Path into a picture with View's background and resolution and a
  // copy of the settings of View's component. Progress (percent) and then
  // Done are called on Context's thread through its event queue; a Context
  // that is gone gets neither.
  TPictureLoad(rv::TRastrumView& View, const std::string& Path, QObject* Context,
               std::function<void(int Percent)> Progress, std::function<void()> Done);
  // Aborts the read and waits for the worker.
  ~TPictureLoad() override;

  const std::string& Path() const { return FPath; }
  // After Wait: the error that stopped the read, empty on success.
  const std::string& Error() const { return FError; }
  // After Wait: the read was refused for the picture's size, not its data.
  bool TooLarge() const { return FTooLarge; }
  // The file as it was when the read began: a change while it was read
  // shows as one since.
  const TFileIdentity& Identity() const { return FIdentity; }
  // After Wait, of a read not aborted: its component and picture.
  rv::TRastrumIO& IO() { return *FIO; }
  rv::TRvLoadedPicture& Picture() { return *FPicture; }

  // The file's folder view and name, for the window's steps after the read.
  QPointer<TFolderViewForm> View;
  std::string Name;
  // The user was stepping backwards when the file was asked for.
  bool Backwards = false;

private:
  void Run(QObject* Context, const std::function<void(int)>& Progress);
  // While a key is held down the window drops read after read, and hears of
  // their ends only between the keys: each kept a whole picture until then.
  void Release() override;

  std::string FPath;
  std::unique_ptr<rv::TRvLoadedPicture> FPicture;
  std::unique_ptr<rv::TRastrumIO> FIO;
  std::string FError;
  bool FTooLarge = false;
  TFileIdentity FIdentity;
};

// The read of every frame of an animated GIF for the main window's
// animation: on a worker, as the picture itself is read, into images away
// from any view that the window's hidden thumbnail view then takes whole.
// A dropped read stops at its next frame.
class TFramesLoad : public TWorkerRead {
public:
  // The frames of Path, read with the settings of View's multi-image
  // component; Done comes on Context's thread.
  TFramesLoad(rv::TRastrumMView& View, const std::string& Path, QObject* Context, std::function<void()> Done);
  ~TFramesLoad() override;

  const std::string& Path() const { return FPath; }
  // After Wait, of a read not aborted: the frames and their records. A
  // file that could not be opened has none.
  rv::TRvMViewImages& Frames() { return *FFrames; }

private:
  void Release() override;

  std::string FPath;
  std::unique_ptr<rv::TRvMViewImages> FFrames;
};

// The worker read asked for last, and those dropped before it until their
// workers end: a dropped read is aborted at once and let go when its end is
// told, so that the window never waits for a reader to notice. Reads are
// told apart by a serial, given to the read when it is made.
template <class TRead>
class TNewestRead {
public:
  // Makes the read for the next serial in place of the one asked for before.
  template <class TMake>
  TRead& Start(TMake Make) {
    Drop();
    FRead = Make(++FSerial);
    return *FRead;
  }
  void Drop() {
    if (!FRead) return;
    FRead->Abort();
    FDropped.emplace_back(FSerial, std::move(FRead));
  }
  // At the end of the read of Serial: the read when it is still the one
  // asked for last, taken out; else nothing, and the dropped read goes.
  std::unique_ptr<TRead> Ended(unsigned Serial) {
    if (FRead && Serial == FSerial) return std::move(FRead);
    std::erase_if(FDropped, [Serial](const auto& Dropped) { return Dropped.first == Serial; });
    return nullptr;
  }
  // The read asked for last while it is under way.
  TRead* Current() const { return FRead.get(); }
  // Serial is the read asked for last, still under way.
  bool Wanted(unsigned Serial) const { return FRead && Serial == FSerial; }

private:
  std::unique_ptr<TRead> FRead;
  unsigned FSerial = 0;
  std::vector<std::pair<unsigned, std::unique_ptr<TRead>>> FDropped;
};

// The preview picture of a dialog, read on workers: the read asked for last
// lands in View when it ends, and Shown is told of it there; a read asked for
// before it is dropped, and never lands. What the dialog shows beside the
// picture comes with it, from the read: a slow file never holds the dialog.
class TPreviewReads {
public:
  // Shown runs on Context's thread once the newest read has ended, the
  // picture already in View when the read succeeded. Context (the dialog)
  // holds the reads and outlives them.
  TPreviewReads(rv::TRastrumView& View, QObject* Context, std::function<void(TPictureLoad& Read)> Shown);
  // Aborts every read and waits for their workers.
  ~TPreviewReads() = default;
  TPreviewReads(const TPreviewReads&) = delete;
  TPreviewReads& operator=(const TPreviewReads&) = delete;

  // Reads Path for View in place of any read still under way.
  void Read(const std::string& Path);
  // The read under way, if any, will not land.
  void Drop();
  // A read is under way that is still wanted.
  bool Reading() const { return FReads.Current() != nullptr; }

private:
  void Ended(unsigned Serial);

  rv::TRastrumView& FView;
  QObject* FContext;
  std::function<void(TPictureLoad&)> FShown;
  TNewestRead<TPictureLoad> FReads;
};

// The read of Path by IO on the calling thread: an empty answer, or the
// text of what stopped it. TooLarge, when given, tells whether the picture
// was refused for its size (a valid file, not a damaged one).
std::string ReadPictureFile(rv::TRastrumIO& IO, const std::string& Path, bool* TooLarge = nullptr);

} // namespace app

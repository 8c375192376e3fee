// The read of a picture file for the main window's view, on a worker thread
// of its own: the view's reader path (an input/output component attached to
// a picture that stands in for the view), its own aborting flag, and the end
// reported on the user-interface thread. The window swaps the result into
// its view there; the worker never touches a widget.
#pragma once

#include "image/io/rastrumio.h"
#include "image/io/rvloadedpicture.h"

#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace rv {
class TRastrumView;
}

namespace app {

class TFolderViewForm;

class TPictureLoad {
public:
  // Reads Path into a picture with View's background and resolution and a
  // copy of the settings of View's component. Progress (percent) and then
  // Done are called on Context's thread through its event queue; a Context
  // that is gone gets neither.
  TPictureLoad(rv::TRastrumView& View, const std::string& Path, QObject* Context,
               std::function<void(int Percent)> Progress, std::function<void()> Done);
  // Aborts the read and waits for the worker.
  ~TPictureLoad();
  TPictureLoad(const TPictureLoad&) = delete;
  TPictureLoad& operator=(const TPictureLoad&) = delete;

  // Asks the reader to stop at its next progress report. The picture of an
  // aborted read is let go as soon as the read has ended: a dropped read
  // keeps nothing while the window has yet to hear of its end.
  void Abort();
  // Waits until the worker has ended (the queued Done may still come).
  void Wait();

  const std::string& Path() const { return FPath; }
  // After Wait: the error that stopped the read, empty on success.
  const std::string& Error() const { return FError; }
  // After Wait: the read was refused for the picture's size, not its data.
  bool TooLarge() const { return FTooLarge; }
  // After Wait, of a read not aborted: its component and picture.
  rv::TRastrumIO& IO() { return *FIO; }
  rv::TRvLoadedPicture& Picture() { return *FPicture; }

  // The file's folder view and name, for the window's steps after the read.
  QPointer<TFolderViewForm> View;
  std::string Name;
  // The user was stepping backwards when the file was asked for.
  bool Backwards = false;

private:
  void Run(QObject* Context, std::function<void(int)> Progress, std::function<void()> Done);
  // Under FEndLock, once the read of an aborted load has ended.
  void ReleasePicture();

  std::string FPath;
  std::unique_ptr<rv::TRvLoadedPicture> FPicture;
  std::unique_ptr<rv::TRastrumIO> FIO;
  std::string FError;
  bool FTooLarge = false;
  std::atomic<bool> FAbort{false};
  std::mutex FEndLock;
  bool FEnded = false;
  std::thread FThread;
};

// The read of Path by IO on the calling thread: an empty answer, or the
// text of what stopped it. TooLarge, when given, tells whether the picture
// was refused for its size (a valid file, not a damaged one).
std::string ReadPictureFile(rv::TRastrumIO& IO, const std::string& Path, bool* TooLarge = nullptr);

} // namespace app

// What a save of the shown picture keeps of the file it goes into, and what
// it would leave out: the other pages of a TIFF file and the other frames of
// an animation, a colour profile, a depth over 8 bits, transparency, the
// JPEG markers a read passed over and what a JPEG file holds after its
// picture, the components of a JPEG-2000 file a read left out, a
// metafile's drawing. A save writes back all the file held, or the user is
// asked first.
#pragma once

#include "app/pictureload.h"
#include "app/pictureutil.h"
#include "image/io/gif/gifturn.h"
#include "image/io/rvioparams.h"
#include "platform/stream.h"

#include <QStringList>

#include <functional>
#include <memory>

namespace app {

// The picture to be saved and where.
struct TSaveSubject {
  // The shown picture's own file; empty when it has none.
  std::string Shown;
  std::string Target;
  // Target is the shown file itself: what it holds is at stake.
  bool OverShown = false;
  const rv::TIOParamsVals* Params = nullptr;
  // The picture has pixels that are not wholly opaque.
  bool Transparent = false;
  // The edits since the picture was read (or saved) are turns and flips
  // only, adding up to Turn.
  bool OnlyTurned = false;
  rv::TRvGridTurn Turn;
  // The file at Target the save may replace: the one the user was asked
  // about (or chose in the dialog); empty when the name was free. Another
  // file there, or this one changed, is not written over.
  TFileIdentity Accepted;
  // The shown file as its picture was read: the pages and frames written
  // back are this file's, never those of a file that came since.
  TFileIdentity Seen;
};

struct TSavePlan {
  enum TWay {
    // The picture alone, in the format of the target's name.
    swPicture,
    // The picture in place of its page, the other pages as they are.
    swPageInPlace,
    // The animation with every frame turned as the picture was.
    swTurnedFrames,
  };
  TWay Way = swPicture;
  // One line for each thing the save would not write, for the question;
  // empty when it keeps everything.
  QStringList Lost;
  // The shown file the pages, frames or bytes after the picture are read
  // from, open since the plan found it to be the file seen: whatever comes
  // to its name meanwhile, the write reads what the plan read.
  std::shared_ptr<platform::TFileStream> Source;
  // The save copies what Source holds after its picture, which the plan
  // found there.
  bool KeepsTrailer = false;
};

TSavePlan PlanSave(const TSaveSubject& Subject);

// Writes the picture of IO (and, for an animation, the frames of the shown
// file) to the target as Plan says, over Subject.Accepted only. Raises
// EConvertError when the write was aborted, as SavePictureInFormat does;
// platform::EFileChanged when another file than the accepted one is at the
// target. IO's progress event hears of every way.
void WritePlannedSave(const TSavePlan& Plan, const TSaveSubject& Subject, rv::TRastrumIO& IO, bool KeepQuality,
                      const platform::TBitmap* DisplayBitmap);

// Work of a save on a worker thread of its own, as pictures are read: its
// end is told by Done on Context's thread through its event queue. The
// work is never cut short: one begun is finished (or fails) whole.
class TSaveWork : public TWorkerRead {
public:
  TSaveWork(QObject* Context, std::function<void()> Work, std::function<void()> Done) {
    Start(Context, std::move(Work), std::move(Done));
  }
  ~TSaveWork() override { Wait(); }

private:
  void Release() override {}
};

// The shown picture as a save writes it: its pixels, mask and settings,
// copied when it is made, so that nothing the window does while a worker
// writes it reaches the write.
class TPictureCopy {
public:
  explicit TPictureCopy(rv::TRastrumIO& Shown);
  ~TPictureCopy();
  TPictureCopy(const TPictureCopy&) = delete;
  TPictureCopy& operator=(const TPictureCopy&) = delete;

  rv::TRastrumIO& IO() { return *FIO; }
  const platform::TBitmap* Bitmap() { return FPicture->GetBitmap(); }

private:
  std::unique_ptr<rv::TRvLoadedPicture> FPicture;
  std::unique_ptr<rv::TRastrumIO> FIO;
};

} // namespace app

// What a save of the shown picture keeps of the file it goes into, and what
// it would leave out: the other pages of a TIFF file and the other frames of
// an animation, a colour profile, a depth over 8 bits, transparency, the
// JPEG markers a read passed over and what a JPEG file holds after its
// picture, the components of a JPEG-2000 file a read left out, a
// metafile's drawing. A save writes back all the file held, or the user is
// asked first.
#pragma once

#include "app/pictureutil.h"
#include "image/io/gif/gifturn.h"
#include "image/io/rvioparams.h"

#include <QStringList>

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
};

TSavePlan PlanSave(const TSaveSubject& Subject);

// Writes the picture of IO (and, for an animation, the frames of the shown
// file) to the target as Plan says. Raises EConvertError when the write
// was aborted, as SavePictureInFormat does.
void WritePlannedSave(const TSavePlan& Plan, const TSaveSubject& Subject, rv::TRastrumIO& IO, bool KeepQuality,
                      const platform::TBitmap* DisplayBitmap);

} // namespace app

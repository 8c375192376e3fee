#include "app/saveover.h"

#include "app/pictureutil.h"
#include "image/io/gif/gifread.h"
#include "image/io/rastrumio.h"
#include "image/io/rvformats.h"
#include "image/io/rvtrailer.h"
#include "image/io/tga/rvtga.h"
#include "image/io/tiff/tiffpages.h"
#include "image/io/tiff/tiffwrite.h"
#include "image/model/rvmask.h"
#include "platform/safesave.h"
#include "platform/stream.h"

#include <memory>

namespace app {

namespace {

// The type a save writes for the target's name: its extension's.
rv::TRvFileType TargetType(const std::string& Target) {
  const std::string Ext = LowerFileExt(Target);
  if (Ext.size() < 2) return rv::rvftUnknown;
  const rv::TRvFileFormatInfo* Info = rv::RvFindFileFormatInfoByExt(Ext.substr(1));
  return Info != nullptr ? Info->FileType : rv::rvftUnknown;
}

// Whether the format of the type keeps an alpha channel as it is.
bool HoldsAlpha(rv::TRvFileType Type) {
  switch (Type) {
  case rv::rvftPNG:
  case rv::rvftTGA:
  case rv::rvftBMP:
  case rv::rvftTIFF:
    return true;
  default:
    return false;
  }
}

// Whether the file the type writes keeps a colour profile: a BMP's
// version 5 header does, the OS/2 headers do not.
bool HoldsProfile(rv::TRvFileType Type, const rv::TIOParamsVals& P) {
  return Type == rv::rvftPNG || Type == rv::rvftTIFF || (Type == rv::rvftBMP && P.BmpVersion != 2 && P.BmpVersion != 3);
}

// Takes every byte and keeps none: a trial write that only has to succeed.
class TDiscardStream : public platform::TStream {
public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t Count) override {
    FPosition += Count;
    FSize = std::max(FSize, FPosition);
    return Count;
  }
  std::int64_t Seek(std::int64_t Offset, platform::TSeekOrigin Origin) override {
    if (Origin == platform::soBeginning) FPosition = Offset;
    else if (Origin == platform::soCurrent) FPosition += Offset;
    else FPosition = FSize + Offset;
    return FPosition;
  }

private:
  std::int64_t FPosition = 0, FSize = 0;
};

// A trial passes the frames to no coder: that they all decode and fit
// their turned places is what it has to find out.
void NoFrameCoded(platform::TStream&, int, int, int, const std::uint8_t*, bool) {}

bool WriteTurnedFrames(platform::TStream& Source, platform::TStream& Out, const rv::TRvGridTurn& Turn,
                       bool Trial = false, const rv::TRvProgressEvent& OnProgress = nullptr) {
  rv::TRvLocalProgress Progress;
  Progress.Rec.OnProgress = OnProgress;
  Source.SetPosition(0);
  return rv::GifWriteTurned(Source, Out, Turn, Progress.Rec, nullptr, Trial ? NoFrameCoded : nullptr) &&
         !Progress.Rec.IsAborting();
}

int GifFrames(platform::TStream& Source) {
  rv::TRvBitmap Unused;
  rv::TIOParamsVals Params;
  std::unique_ptr<rv::TRvMask> NoMask;
  rv::TRvLocalProgress Progress;
  int Frames = 0;
  rv::GifReadStream(Source, Unused, Frames, true, NoMask, true, Progress.Rec, Params);
  return Frames;
}

// What the shown file's layout holds that a write of its picture in the
// same format cannot give back.
std::vector<std::string> LayoutLost(rv::TRvFileType Type, const rv::TIOParamsVals& P) {
  if (Type != P.FileType) return {};
  if (Type == rv::rvftTIFF) return rv::TiffLayoutLost(P);
  if (Type == rv::rvftTGA) return rv::TgaLayoutLost(P);
  return {};
}

QString Others(int Count, const char* One, const char* Many) {
  return Count == 1 ? QString::fromLatin1(One) : QString::fromLatin1(Many).arg(Count);
}

// The question's line for what follows the picture that a save leaves out.
QString BytesAfter(std::int64_t Length) {
  return Length == 1 ? QStringLiteral("The byte the file holds after the picture")
                     : QStringLiteral("The %1 bytes the file holds after the picture").arg(Length);
}

// The shown file open, when it is still the file seen; nullptr else.
std::shared_ptr<platform::TFileStream> OpenSeen(const TSaveSubject& S) {
  std::shared_ptr<platform::TFileStream> Source;
  try {
    Source = std::make_shared<platform::TFileStream>(S.Shown, platform::fmOpenRead);
  } catch (const std::exception&) {
    return nullptr;
  }
  return TFileIdentity::OfOpen(Source->Handle()).SameContents(S.Seen) ? Source : nullptr;
}

// The pages or frames of the shown file and whether the save keeps them.
void PlanOtherImages(const TSaveSubject& S, rv::TRvFileType Type, TSavePlan& Plan) {
  if (Type != rv::rvftTIFF && Type != rv::rvftGIF) return;
  const std::shared_ptr<platform::TFileStream> Source = Plan.Source;
  if (!Source) {
    // The file seen is gone from its name or changed: what it held beside
    // the picture, as its read counted it, can no longer be written back.
    const int Count = Type == rv::rvftTIFF ? S.Params->TiffImageCount : S.Params->GifImageCount;
    if (Count > 1 && Type == rv::rvftTIFF)
      Plan.Lost << Others(Count - 1, "The other page of the file", "The other %1 pages of the file");
    else if (Count > 1)
      Plan.Lost << Others(Count - 1, "The other frame of the animation", "The other %1 frames of the animation");
    return;
  }
  if (Type == rv::rvftTIFF) {
    // A file of one page keeps its texts and tags the same way.
    rv::TTiffPages Pages(*Source);
    const int Index = S.Params->TiffImageIndex;
    if (Index >= 0 && Index < Pages.Count() && Pages.CanCopyAllBut(Index)) Plan.Way = TSavePlan::swPageInPlace;
    else if (Pages.Count() > 1)
      Plan.Lost << Others(Pages.Count() - 1, "The other page of the file", "The other %1 pages of the file");
    else if (Pages.Count() == 1)
      Plan.Lost << QStringLiteral("Tags of the file that cannot be copied as they are");
    // Only the copy of the pages keeps what the file holds after all they
    // reach; the writer of a picture ends with its own.
    if (Plan.Way != TSavePlan::swPageInPlace)
      if (const std::int64_t After = Pages.AfterReach(); After > 0) Plan.Lost << BytesAfter(After);
    return;
  }
  const int Frames = GifFrames(*Source);
  if (Frames < 1) return;
  // A still picture turned goes the same way: its table, transparent
  // index, comments and every other block stay as the file holds them.
  TDiscardStream Trial;
  if (S.OnlyTurned && WriteTurnedFrames(*Source, Trial, S.Turn, true)) Plan.Way = TSavePlan::swTurnedFrames;
  else if (Frames > 1)
    Plan.Lost << Others(Frames - 1, "The other frame of the animation", "The other %1 frames of the animation");
}

// What a PNG file held that its picture cannot be written back with: the
// frames of an animation, the chunks that describe its pixels as they were
// (unknown ones unsafe to copy, a signature) and those its read passed over.
void PlanPngChunks(const rv::TIOParamsVals& P, TSavePlan& Plan) {
  if (P.PngFramesLeftOut > 0)
    Plan.Lost << Others(P.PngFramesLeftOut, "The other frame of the animation", "The other %1 frames of the animation");
  if (!P.PngChunksTiedToPixels.empty()) {
    QStringList Names;
    for (const std::string& Name : P.PngChunksTiedToPixels) Names << QString::fromLatin1(Name.c_str());
    Plan.Lost << (Names.size() == 1 ? QStringLiteral("The chunk %1, which holds only for the pixels as they were")
                                    : QStringLiteral("The chunks %1, which hold only for the pixels as they were"))
                     .arg(Names.join(QStringLiteral(", ")));
  }
  if (P.PngChunksLeftOut > 0)
    Plan.Lost << Others(P.PngChunksLeftOut, "A chunk of the file's data that was not read",
                        "%1 chunks of the file's data that were not read");
}

// The boxes of a JP2 file a write of its picture does not make again: its
// metadata and other programs' boxes.
void PlanJp2Boxes(const rv::TIOParamsVals& P, TSavePlan& Plan) {
  if (!P.J2000BoxesLeftOut.empty()) {
    QStringList Names;
    for (const std::string& Name : P.J2000BoxesLeftOut) Names << QString::fromLatin1(Name.c_str());
    Plan.Lost << (Names.size() == 1 ? QStringLiteral("The box %1 of the file") : QStringLiteral("The boxes %1 of the file"))
                     .arg(Names.join(QStringLiteral(", ")));
  }
  if (P.J2000BoxesNotNamed > 0)
    Plan.Lost << Others(P.J2000BoxesNotNamed, "Another box of the file", "%1 other boxes of the file");
}

} // namespace

TSavePlan PlanSave(const TSaveSubject& S) {
  TSavePlan Plan;
  if (S.Params == nullptr) return Plan;
  const rv::TIOParamsVals& P = *S.Params;
  const rv::TRvFileType Type = TargetType(S.Target);
  if (S.OverShown && !S.Shown.empty()) {
    // Whatever the save copies from the file is read from this one, open
    // now and found to be the file seen, whatever its name has become.
    Plan.Source = OpenSeen(S);
    PlanOtherImages(S, Type, Plan);
    if (!P.IccProfile.empty() && !HoldsProfile(Type, P))
      Plan.Lost << QStringLiteral("The colour profile");
    // The picture holds 8 bits a sample whatever the file had.
    if (P.BitsPerSample > 8 && Plan.Way != TSavePlan::swTurnedFrames)
      Plan.Lost << QStringLiteral("The %1-bit depth of its colours (the picture is saved at 8 bits)")
                       .arg(P.BitsPerSample);
    for (const std::string& Line : LayoutLost(Type, P)) Plan.Lost << QString::fromStdString(Line);
    if (Type == P.FileType && P.ColorMapRepeatsUsed)
      Plan.Lost << QStringLiteral("Which of its palette entries of one colour each pixel has (it is saved with the first)");
    if (Type == rv::rvftJPEG && P.JpegMarkersLeftOut > 0)
      Plan.Lost << Others(P.JpegMarkersLeftOut, "A block of the file's data that was not read",
                          "%1 blocks of the file's data that were not read");
    if (P.FileType == rv::rvftJPEG && P.JpegBytesBefore > 0)
      Plan.Lost << Others(P.JpegBytesBefore, "The byte the file holds before the picture",
                          "The %1 bytes the file holds before the picture");
    // The rest follows the new picture where the format lets anything follow
    // it; pictures whose index counts from the file's start can be placed
    // again unless they lie in the picture.
    const rv::TRvTrailer& After = P.Trailer;
    if (Type == rv::rvftJPEG && After.Length > 0 && After.Unplaced > 0)
      Plan.Lost << Others(After.Unplaced, "All the file holds after the picture: its index places a picture in it",
                          "All the file holds after the picture: its index places %1 pictures in it");
    else if (After.Of != rv::rvftUnknown && After.Of == P.FileType && After.Length > 0) {
      // Kept only when the file open holds it as read.
      if (Type == After.Of && rv::RvKeepsTrailer(Type) && Plan.Source && rv::RvTrailerHeld(*Plan.Source, After))
        Plan.KeepsTrailer = true;
      else
        Plan.Lost << BytesAfter(After.Length);
    }
    // The read takes the colour channels of a JPEG-2000 file only.
    if (Type == rv::rvftJP2 || Type == rv::rvftJ2K) {
      if (P.J2000AlphaLeftOut) Plan.Lost << QStringLiteral("The transparency");
      const int Extra = P.J2000ComponentsLeftOut - (P.J2000AlphaLeftOut ? 1 : 0);
      if (Extra > 0)
        Plan.Lost << Others(Extra, "A component of the file that was not read",
                            "%1 components of the file that were not read");
      if (P.FileType == rv::rvftJP2) PlanJp2Boxes(P, Plan);
    }
    // A metafile is shown as the pixels its drawing makes; they are what is
    // written.
    if (P.FileType == rv::rvftWMF || P.FileType == rv::rvftEMF)
      Plan.Lost << QStringLiteral("The drawing: its shapes are saved as a picture of pixels");
    if (Type == rv::rvftPNG) PlanPngChunks(P, Plan);
  }
  // A GIF keeps its own transparent colour; no other picture's alpha.
  const bool KeyColour = Type == rv::rvftGIF && P.FileType == rv::rvftGIF && P.GifHasTransparentColor;
  if (S.Transparent && !HoldsAlpha(Type) && !KeyColour && Plan.Way != TSavePlan::swTurnedFrames &&
      !Plan.Lost.contains(QStringLiteral("The transparency")))
    Plan.Lost << QStringLiteral("The transparency");
  return Plan;
}

void WritePlannedSave(const TSavePlan& Plan, const TSaveSubject& S, rv::TRastrumIO& IO, bool KeepQuality,
                      const platform::TBitmap* DisplayBitmap) {
  const platform::TReplaceOnly Accepted(S.Target, S.Accepted);
  // Pages and frames come only from the file the plan read them from.
  if (Plan.Way != TSavePlan::swPicture && !Plan.Source) throw EConvertError(ConvertErrorText);
  switch (Plan.Way) {
  case TSavePlan::swPicture: {
    // A save of the file's picture keeps what the file holds after it, as
    // planned; the program's other writes (a copy for mail) leave it out.
    struct TTrailerKept {
      rv::TIOParamsVals& Params;
      ~TTrailerKept() {
        Params.WriteTrailer = false;
        Params.TrailerFrom = nullptr;
      }
    } Kept{IO.Params()};
    IO.Params().WriteTrailer = Plan.KeepsTrailer;
    IO.Params().TrailerFrom = Plan.Source.get();
    IO.Params().TrailerMissed = false;
    try {
      SavePictureInFormat(S.Target, IO, KeepQuality, DisplayBitmap);
    } catch (const EConvertError&) {
      // The file changed since the plan: nothing was written, and the
      // caller asks about the file as it is now.
      if (IO.Params().TrailerMissed) throw platform::EFileChanged(S.Target);
      throw;
    }
    return;
  }
  case TSavePlan::swPageInPlace:
    IO.SaveTIFFPageFile(S.Target, *Plan.Source);
    if (IO.Aborting) throw EConvertError(ConvertErrorText);
    return;
  case TSavePlan::swTurnedFrames: {
    platform::TSafeSaveFile Target(S.Target);
    if (!WriteTurnedFrames(*Plan.Source, Target.Stream(), S.Turn, false, IO.OnProgress))
      throw EConvertError(ConvertErrorText);
    if (Target.Commit()) return;
    // Nothing was written over: the caller asks about the file there.
    if (Target.FoundOther()) throw platform::EFileChanged(S.Target);
    throw EConvertError(ConvertErrorText);
  }
  }
}

TPictureCopy::TPictureCopy(rv::TRastrumIO& Shown) : FIO(std::make_unique<rv::TRastrumIO>()) {
  rv::TRvViewLink* View = Shown.AttachedRastrum();
  FPicture = std::make_unique<rv::TRvLoadedPicture>(Shown.GetBackground(), View ? View->DpiX() : 0,
                                                    View ? View->DpiY() : 0);
  if (const platform::TBitmap* Pixels = Shown.Bitmap()) FPicture->GetBitmap()->Assign(*Pixels);
  const rv::TRvMask* Alpha = View ? (View->HasAlphaChannel() ? View->GetAlphaChannel() : nullptr) : Shown.AlphaMask();
  if (Alpha != nullptr) {
    auto Copy = std::make_unique<rv::TRvMask>();
    Copy->Assign(Alpha);
    FPicture->SetAlphaChannel(Copy.release());
  }
  FIO->SetAttachedRastrum(FPicture.get());
  FIO->AssignParams(&Shown);
}

TPictureCopy::~TPictureCopy() {
  // The component lets go of the picture before the picture goes.
  FIO.reset();
}

} // namespace app

#include "app/saveover.h"

#include "app/pictureutil.h"
#include "image/io/gif/gifread.h"
#include "image/io/rastrumio.h"
#include "image/io/rvformats.h"
#include "image/io/tiff/tiffpages.h"
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
                       bool Trial = false) {
  rv::TRvLocalProgress Progress;
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

QString Others(int Count, const char* One, const char* Many) {
  return Count == 1 ? QString::fromLatin1(One) : QString::fromLatin1(Many).arg(Count);
}

// The pages or frames of the shown file and whether the save keeps them.
void PlanOtherImages(const TSaveSubject& S, rv::TRvFileType Type, TSavePlan& Plan) {
  if (Type != rv::rvftTIFF && Type != rv::rvftGIF) return;
  std::unique_ptr<platform::TFileStream> Source;
  try {
    Source = std::make_unique<platform::TFileStream>(S.Shown, platform::fmOpenRead);
  } catch (const std::exception&) {
    return; // nothing there to keep
  }
  if (Type == rv::rvftTIFF) {
    // A file of one page keeps its texts and tags the same way.
    rv::TTiffPages Pages(*Source);
    const int Index = S.Params->TiffImageIndex;
    if (Index >= 0 && Index < Pages.Count() && Pages.CanCopyAllBut(Index)) Plan.Way = TSavePlan::swPageInPlace;
    else if (Pages.Count() > 1)
      Plan.Lost << Others(Pages.Count() - 1, "The other page of the file", "The other %1 pages of the file");
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

} // namespace

TSavePlan PlanSave(const TSaveSubject& S) {
  TSavePlan Plan;
  if (S.Params == nullptr) return Plan;
  const rv::TIOParamsVals& P = *S.Params;
  const rv::TRvFileType Type = TargetType(S.Target);
  if (S.OverShown && !S.Shown.empty()) {
    PlanOtherImages(S, Type, Plan);
    if (!P.IccProfile.empty() && !HoldsProfile(Type, P))
      Plan.Lost << QStringLiteral("The colour profile");
    // The picture holds 8 bits a sample whatever the file had.
    if (P.BitsPerSample > 8 && Plan.Way != TSavePlan::swTurnedFrames)
      Plan.Lost << QStringLiteral("The %1-bit depth of its colours (the picture is saved at 8 bits)")
                       .arg(P.BitsPerSample);
    if (Type == rv::rvftJPEG && P.JpegMarkersLeftOut > 0)
      Plan.Lost << Others(P.JpegMarkersLeftOut, "A block of the file's data that was not read",
                          "%1 blocks of the file's data that were not read");
  }
  // A GIF keeps its own transparent colour; no other picture's alpha.
  const bool KeyColour = Type == rv::rvftGIF && P.FileType == rv::rvftGIF && P.GifHasTransparentColor;
  if (S.Transparent && !HoldsAlpha(Type) && !KeyColour && Plan.Way != TSavePlan::swTurnedFrames)
    Plan.Lost << QStringLiteral("The transparency");
  return Plan;
}

void WritePlannedSave(const TSavePlan& Plan, const TSaveSubject& S, rv::TRastrumIO& IO, bool KeepQuality,
                      const platform::TBitmap* DisplayBitmap) {
  switch (Plan.Way) {
  case TSavePlan::swPicture:
    SavePictureInFormat(S.Target, IO, KeepQuality, DisplayBitmap);
    return;
  case TSavePlan::swPageInPlace:
    IO.SaveTIFFPageFile(S.Target, S.Shown);
    if (IO.Aborting) throw EConvertError(ConvertErrorText);
    return;
  case TSavePlan::swTurnedFrames: {
    platform::TFileStream Source(S.Shown, platform::fmOpenRead);
    platform::TSafeSaveFile Target(S.Target);
    if (!WriteTurnedFrames(Source, Target.Stream(), S.Turn)) throw EConvertError(ConvertErrorText);
    if (Target.Commit()) return;
    // Nothing was written over: the caller asks about the file there.
    if (Target.FoundOther()) throw platform::EFileChanged(S.Target);
    throw EConvertError(ConvertErrorText);
  }
  }
}

} // namespace app

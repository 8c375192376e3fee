#include "app/pictureutil.h"

#include "image/io/rastrumio.h"
#include "platform/graphics.h"
#include "platform/safesave.h"
#include "platform/stream.h"


#include <memory>

namespace app {

namespace {

struct TTypeDescription {
  const char* Extensions; // each with its dot, each followed by a space
  const char* Description;
};

constexpr TTypeDescription TypeDescriptions[] = {
    {".jpeg .jpg .jpe ", "JPEG Bitmap"},
    {".bmp .dib .rle ", "Windows Bitmap"},
    {".ico ", "Windows Icon"},
    {".cur ", "Windows Cursor"},
    {".png ", "Portable Network Graphics"},
    {".wmf ", "Windows Metafile"},
    {".emf ", "Enhanced Windows Metafile"},
    {".gif ", "CompuServe Bitmap"},
    {".pcx ", "PaintBrush"},
    {".jp2 ", "JPEG2000"},
    {".j2k .jpc .j2c ", "JPEG2000 Code Stream"},
    {".tif .tiff .fax .g3n .g3f ", "TIFF Bitmap"},
    {".tga .targa .vda .icb .vst .win ", "Targa Bitmap"},
    {".pxm .ppm .pgm .pbm ", "Portable Pixmap, GreyMap, BitMap"},
};

} // namespace

std::string LowerFileExt(const std::string& FileName) {
  const std::size_t Pos = FileName.find_last_of("./");
  if (Pos == std::string::npos || FileName[Pos] != '.') return std::string();
  std::string Ext = FileName.substr(Pos);
  for (char& C : Ext)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
  return Ext;
}

std::string ChangeFileExt(const std::string& Name, const std::string& Ext) {
  const std::size_t Dot = Name.rfind('.');
  return (Dot == std::string::npos ? Name : Name.substr(0, Dot)) + Ext;
}

bool IsImageFileExtension(const std::string& FileNameOrExt) {
  const std::string Ext = LowerFileExt(FileNameOrExt);
  for (const char* Known : ImageFileExtensions)
    if (Ext == Known) return true;
  return false;
}

std::string GetImageTypeDescription(const std::string& FileNameOrExt) {
  const std::string Ext = LowerFileExt(FileNameOrExt);
  if (Ext.empty()) return "Unknown";
  const std::string Key = Ext + ' ';
  for (const TTypeDescription& Type : TypeDescriptions) {
    const std::string List = Type.Extensions;
    for (std::size_t Pos = List.find(Key); Pos != std::string::npos; Pos = List.find(Key, Pos + 1))
      if (Pos == 0 || List[Pos - 1] == ' ') return Type.Description;
  }
  return "Unknown";
}

void TPicture::Assign(const QImage& Bitmap) {
  FIsMetafile = false;
  FMetafile.Clear();
  FBitmap = Bitmap;
}

void TPicture::Assign(const platform::TBitmap& Bitmap) { Assign(Bitmap.ToImage().copy()); }

void TPicture::Assign(const platform::TMetafile& Metafile) {
  FIsMetafile = true;
  FBitmap = QImage();
  FMetafile = Metafile;
}

void TPicture::SaveToFile(const std::string& FileName) const {
  if (IsMetafile()) {
    FMetafile.SaveToFile(FileName);
  } else if (FBitmap.isNull() || !FBitmap.save(QString::fromStdString(FileName), "BMP")) {
    throw platform::EInvalidGraphic("Cannot write " + FileName);
  }
}

void ConvertGraphicToMetafile(TPicture& Picture, bool Enhanced) {
  if (Picture.IsMetafile()) return;
  // A bitmap drawn 1:1 at (0, 0) into a metafile of its own size is the
  // metafile that holds it in one stretched-bitmap record.
  platform::TMetafile Metafile;
  Metafile.Assign(Picture.Bitmap(), Enhanced);
  Picture.Assign(Metafile);
}

namespace {
void SavePictureObject(TPicture& Picture, const std::string& Target) {
  // An empty picture would leave an empty file behind and look like success.
  if (Picture.Empty()) throw platform::EInvalidGraphic("No picture to save");
  // Another program opens the file by what its name says it is.
  ConvertGraphicToMetafile(Picture, LowerFileExt(Target) != ".wmf");
  // A file confirmed for replacement stays whole until the new one is complete.
  platform::TMemoryStream Memory;
  Picture.Metafile().SaveToStream(Memory);
  platform::SaveFileSafely(Target, std::string_view(reinterpret_cast<const char*>(Memory.Memory()), Memory.Data().size()));
}
} // namespace

void SavePictureAsMetafile(const platform::TBitmap& Source, const std::string& Target) {
  TPicture Picture;
  Picture.Assign(Source);
  SavePictureObject(Picture, Target);
}

void SavePictureAsMetafile(const platform::TMetafile& Source, const std::string& Target) {
  TPicture Picture;
  Picture.Assign(Source);
  SavePictureObject(Picture, Target);
}

void TPixelTurn::Rotate(int Angle) {
  for (int Quarters = ((Angle / 90) % 4 + 4) % 4; Quarters > 0; --Quarters) Then(0, -1, 1, 0);
}

void TPixelTurn::Then(int A, int B, int C, int D) {
  const int NA = A * FA + B * FC, NB = A * FB + B * FD;
  const int NC = C * FA + D * FC, ND = C * FB + D * FD;
  FA = NA;
  FB = NB;
  FC = NC;
  FD = ND;
}

void SavePictureInFormat(const std::string& Target, rv::TRastrumIO& IO, bool KeepQuality,
                         const platform::TBitmap* DisplayBitmap) {
  const std::string Ext = LowerFileExt(Target);
  if (Ext == ".emf" || Ext == ".wmf") {
    if (!DisplayBitmap) DisplayBitmap = IO.Bitmap();
    std::unique_ptr<platform::TBitmap> Rendered;
    if (!DisplayBitmap && IO.RvBitmap()) {
      Rendered = std::make_unique<platform::TBitmap>();
      IO.RvBitmap()->CopyToTBitmap(Rendered.get());
      DisplayBitmap = Rendered.get();
    }
    if (!DisplayBitmap) throw platform::EInvalidGraphic("No picture to save");
    SavePictureAsMetafile(*DisplayBitmap, Target);
    return;
  }
  if (!KeepQuality && IO.Params().JpegQuality == 50) IO.Params().JpegQuality = 80;
  IO.SaveToFile(Target);
  if (IO.Aborting) throw EConvertError(ConvertErrorText);
}

} // namespace app

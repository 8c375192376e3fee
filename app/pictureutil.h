// The application's picture-file routines: the table of picture extensions,
// their type descriptions, and saving the shown picture in the format of the
// target's extension (metafiles included).
#pragma once

#include "platform/metafile.h"
#include "platform/safesave.h"

#include <QImage>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {
class TBitmap;
}
namespace rv {
class TRastrumIO;
}

namespace app {

// A picture that could not be written in the chosen format.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
inline constexpr const char* ConvertErrorText = "Error converting to selected file format!";

// Lower-case, with their dot, in the order the dialogs list them.
inline constexpr std::array<const char*, 32> ImageFileExtensions = {
    ".jpeg", ".jpg", ".jpe", ".cur", ".ico", ".bmp", ".dib", ".rle", ".png", ".wmf", ".emf",
    ".gif",  ".pcx", ".jp2", ".j2k", ".jpc", ".j2c", ".tif", ".tiff", ".fax", ".g3n", ".g3f",
    ".tga",  ".targa", ".vda", ".icb", ".vst", ".win", ".pxm", ".ppm", ".pgm", ".pbm"};

// The quarter turns and flips a picture's pixels have had, as the one
// transform they add up to. Identity when none, or when they cancel out
// (four quarter turns, a flip and the same flip again).
class TPixelTurn {
public:
  // Angle in degrees clockwise, a multiple of 90 (90, -90, 180, ...).
  void Rotate(int Angle);
  void FlipHorizontal() { Then(-1, 0, 0, 1); }
  void FlipVertical() { Then(1, 0, 0, -1); }
  bool Turned() const { return !(FA == 1 && FB == 0 && FC == 0 && FD == 1); }
  void Reset() { *this = TPixelTurn(); }
  // The transform as a matrix (a b / c d): a pixel at (x, y), y downwards,
  // goes to (a x + b y, c x + d y), moved back into the picture. The same
  // turn applies to what else the file holds (an animation's frames).
  std::array<int, 4> Matrix() const { return {FA, FB, FC, FD}; }

private:
  // Applies the matrix (a b / c d) after the transform so far.
  void Then(int A, int B, int C, int D);
  int FA = 1, FB = 0, FC = 0, FD = 1;
};

// What a file was at one moment (see platform::TFileIdentity).
using TFileIdentity = platform::TFileIdentity;

// The lower-cased text from the last dot of the name (after its last path
// delimiter), dot included; empty without a dot.
std::string LowerFileExt(const std::string& FileName);
// The name with its extension (from its last dot) replaced by Ext.
std::string ChangeFileExt(const std::string& Name, const std::string& Ext);
// FileNameOrExt: a file name or an extension with its dot.
bool IsImageFileExtension(const std::string& FileNameOrExt);
// "Unknown" when no description fits.
std::string GetImageTypeDescription(const std::string& FileNameOrExt);

// A picture object holding one graphic: a bitmap or a metafile.
class TPicture {
public:
  bool Empty() const { return IsMetafile() ? FMetafile.Empty() : FBitmap.isNull(); }
  bool IsMetafile() const { return FIsMetafile; }
  int Width() const { return IsMetafile() ? FMetafile.Width() : FBitmap.width(); }
  int Height() const { return IsMetafile() ? FMetafile.Height() : FBitmap.height(); }
  const QImage& Bitmap() const { return FBitmap; }
  const platform::TMetafile& Metafile() const { return FMetafile; }

  void Assign(const QImage& Bitmap);
  void Assign(const platform::TBitmap& Bitmap);
  void Assign(const platform::TMetafile& Metafile);
  // The graphic writes itself: a metafile as its records, a bitmap as BMP.
  void SaveToFile(const std::string& FileName) const;

private:
  bool FIsMetafile = false;
  QImage FBitmap;
  platform::TMetafile FMetafile;
};

// Makes the picture's graphic a metafile of its size holding the graphic
// drawn at (0, 0), an EMF or (Enhanced false) a WMF; a metafile stays as it is.
void ConvertGraphicToMetafile(TPicture& Picture, bool Enhanced = true);
// A bitmap becomes the kind of metafile the target's name says: a WMF for
// ".wmf", an EMF otherwise.
void SavePictureAsMetafile(const platform::TBitmap& Source, const std::string& Target);
void SavePictureAsMetafile(const platform::TMetafile& Source, const std::string& Target);

// Saves the shown picture under Target in the format of its extension. IO is
// the picture view's input/output component; DisplayBitmap the view's display
// bitmap, which metafiles are drawn from (nullptr: IO's class-library
// bitmap, else its picture). Without KeepQuality a JPEG quality of exactly 50
// is raised to 80. Raises EConvertError when the save was aborted.
void SavePictureInFormat(const std::string& Target, rv::TRastrumIO& IO, bool KeepQuality,
                         const platform::TBitmap* DisplayBitmap = nullptr);

} // namespace app

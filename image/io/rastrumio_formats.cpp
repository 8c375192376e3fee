// The per-format reader and writer wrappers of the input/output component,
// the alpha bookkeeping around them, the resolution adjustment after a load
// and the rendering of metafiles.
#include <QColor>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/io/bmp/rvbmp.h"
#include "image/io/bmp/rvico.h"
#include "image/io/gif/gifread.h"
#include "image/io/gif/gifwrite.h"
#include "image/io/jpeg/jpegfilt.h"
#include "image/io/jpeg2000/rvjpeg2000.h"
#include "image/io/pcx/rvpcx.h"
#include "image/io/png/rvpng.h"
#include "image/io/pnm/rvpnm.h"
#include "image/io/rastrumio.h"
#include "image/io/rvformats.h"
#include "image/io/rvsafeio.h"
#include "image/io/rvtrailer.h"
#include "image/io/tga/rvtga.h"
#include "image/io/tiff/exif.h"
#include "image/io/tiff/tiffpages.h"
#include "image/io/tiff/tiffread.h"
#include "image/io/tiff/tiffwrite.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvmask.h"
#include "image/model/rvresample.h"
#include "platform/metafile.h"
#include "platform/safesave.h"
#include "platform/stream.h"

namespace rv {

namespace {

// Readers that hand transparency to a mask (alpha steps 3 to 6); the others
// only get the preparation of step 3.
bool HasAlphaSteps(TRvFileType FileType) {
  switch (FileType) {
  case rvftTIFF:
  case rvftGIF:
  case rvftBMP:
  case rvftICO:
  case rvftCUR:
  case rvftPNG:
  case rvftTGA:
    return true;
  default:
    return false;
  }
}

// Whether an attached view takes the file's resolution after the load.
bool ViewTakesDPI(TRvFileType FileType, bool FromFile) {
  switch (FileType) {
  case rvftPXM:
    return false;
  case rvftGIF:
  case rvftBMP:
  case rvftICO:
  case rvftCUR:
  case rvftTGA:
    return FromFile;
  default:
    return true;
  }
}

platform::TColor ColorOfRGB(const TRGB& C) {
  return static_cast<platform::TColor>(RvSwapRedBlue(static_cast<int>(RvRGBToPacked(C))));
}

// Nearest-neighbour stretch in the source's own pixel format.
void StretchPlain(TRvBitmap& Source, TRvBitmap& Dest, int Width, int Height) {
  const TRvPixelFormat pf = Source.PixelFormat();
  Dest.Allocate(Width, Height, pf);
  if (Dest.Width() != Width || Dest.Height() != Height) return;
  if (Source.Palette() != nullptr && Dest.Palette() != nullptr)
    std::memcpy(Dest.Palette(), Source.Palette(),
                sizeof(TRGB) * static_cast<std::size_t>(
                                   std::min(Source.PaletteCount(), Dest.PaletteCount())));
  const int sw = Source.Width();
  const int sh = Source.Height();
  if (sw < 1 || sh < 1) return;
  const int bits = RvPixelFormatBitCount(pf);
  std::vector<int> columns(static_cast<std::size_t>(Width));
  for (int x = 0; x < Width; ++x)
    columns[static_cast<std::size_t>(x)] =
        static_cast<int>(static_cast<std::int64_t>(x) * sw / Width);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(Source.RowLen()));
  for (int y = 0; y < Height; ++y) {
    const int sy = static_cast<int>(static_cast<std::int64_t>(y) * sh / Height);
    // Rows of a mapped picture stay valid only until the next one is asked for.
    std::memcpy(row.data(), Source.Scanline(sy), row.size());
    std::uint8_t* d = Dest.Scanline(y);
    if (bits == 1) {
      std::memset(d, 0, static_cast<std::size_t>(Dest.RowLen()));
      for (int x = 0; x < Width; ++x) {
        const int sx = columns[static_cast<std::size_t>(x)];
        if (row[static_cast<std::size_t>(sx >> 3)] & (0x80 >> (sx & 7)))
          d[x >> 3] = static_cast<std::uint8_t>(d[x >> 3] | (0x80 >> (x & 7)));
      }
    } else {
      const int bytes = bits / 8;
      for (int x = 0; x < Width; ++x)
        std::memcpy(d + static_cast<std::ptrdiff_t>(x) * bytes,
                    row.data() + static_cast<std::ptrdiff_t>(columns[static_cast<std::size_t>(x)]) * bytes,
                    static_cast<std::size_t>(bytes));
    }
  }
}

} // namespace

// ------------------------------------------------------------ alpha

void TRastrumIO::ResetAlphaBeforeLoad() {
  if (FAttachedView != nullptr) {
    FAttachedView->RemoveAlphaChannel();
  } else if (FAlphaMask != nullptr) {
    FAlphaMask->Allocate(FRvBitmap->Width(), FRvBitmap->Height(), 8);
    FAlphaMask->Fill(255);
  }
  FRvBitmap->RemoveAlphaChannel();
  if (FAttachedView != nullptr) ReadView();
}

void TRastrumIO::SyncAlphaChannel(std::unique_ptr<TRvMask>& ReadMask, bool HadMask) {
  if (FAttachedView != nullptr) {
    if (ReadMask != nullptr && !FAttachedView->HasAlphaChannel()) {
      // The view takes ownership of the mask.
      FAttachedView->SetAlphaChannel(ReadMask.release());
    } else if (ReadMask == nullptr && FAttachedView->HasAlphaChannel()) {
      FAttachedView->RemoveAlphaChannel();
    }
    ReadView();
    return;
  }
  // Without a view the mask the reader filled is FOwnedMask itself.
  if (!FOwnsRvBitmap && FOwnedMask != nullptr) {
    if (TRvBitmap* alpha = FRvBitmap->GetAlphaChannel()) alpha->CopyFromMask(FOwnedMask.get());
  }
  if (!HadMask && FOwnedMask != nullptr) FOwnedMask.reset();
  FAlphaMask = FOwnedMask.get();
}

const TRvMask* TRastrumIO::SaveAlphaSource(std::unique_ptr<TRvMask>& Temp) {
  if (!FOwnsRvBitmap && FRvBitmap->HasAlphaChannel()) {
    Temp = std::make_unique<TRvMask>();
    FRvBitmap->GetAlphaChannel()->CopyToMask(Temp.get());
    return Temp.get();
  }
  if (FAttachedView != nullptr)
    return FAttachedView->HasAlphaChannel() ? FAttachedView->GetAlphaChannel() : nullptr;
  return FAlphaMask;
}

// ------------------------------------------------------------ JPEG metadata

void TRastrumIO::ReadJpegMetadata(bool HeaderOnly) {
  TIOParamsVals& p = *FParams;
  const int app13 = p.JpegMarkers.IndexOf(0xED);
  if (app13 >= 0)
    p.IptcRecords.LoadFromStandardBuffer(p.JpegMarkers.MarkerData(app13),
                                         p.JpegMarkers.MarkerLength(app13));
  const int app1 = RvExifMarkerIndex(p.JpegMarkers);
  if (app1 >= 0 &&
      RvLoadExifFromApp1(p.JpegMarkers.MarkerData(app1), p.JpegMarkers.MarkerLength(app1), p, HeaderOnly) &&
      (!p.DpiStated || (p.DpiX == 1 && p.DpiY == 1))) {
    // No JFIF header, or one that states only an aspect ratio: Exif has the
    // resolution.
    const double f = p.ExifResolutionUnit == 3 ? 2.54 : 1.0;
    const double x = p.ExifXResolution * f;
    const double y = p.ExifYResolution * f;
    // Resolutions outside what fits, or of no dot an inch, are not taken.
    if (x >= 1 && x < 2147483647.0 && y >= 1 && y < 2147483647.0) {
      p.DpiX = static_cast<std::int32_t>(std::trunc(x));
      p.DpiY = static_cast<std::int32_t>(std::trunc(y));
      p.DpiStated = true;
    }
  }
}

void TRastrumIO::PrepareJpegMarkers() {
  TIOParamsVals& p = *FParams;
  // The Exif block is written with the orientation the field holds: a
  // caller that turned the pixels upright has set it to 1, and a copy
  // telling to turn them once more would show the picture on its side.
  // The XMP packet's copy of the orientation changes with it, or a program
  // that reads the packet would turn the picture still.
  if (p.ExifOrientation >= 1 && p.ExifOrientation <= 8) {
    int was = 0;
    if (const int app1 = RvExifMarkerIndex(p.JpegMarkers);
        app1 >= 0 &&
        RvSetExifOrientation(p.JpegMarkers.MarkerData(app1), p.JpegMarkers.MarkerLength(app1), p.ExifOrientation,
                             &was) &&
        was != p.ExifOrientation)
      RvSetJpegXmpOrientation(p.JpegMarkers, p.ExifOrientation);
  }
  const int index = p.JpegMarkers.IndexOf(0xED);
  // No records where the file had no block: no block of none is added.
  if (!p.IptcRecords.Changed || (index < 0 && p.IptcRecords.Count() == 0)) return;
  const std::vector<std::uint8_t> block = p.IptcRecords.SaveToStandardBuffer();
  const int length = static_cast<int>(std::min<std::size_t>(block.size(), 0x7fffffff));
  if (index >= 0)
    p.JpegMarkers.SetMarkerData(index, 0xED, block.data(), length);
  else
    p.JpegMarkers.AddMarker(0xED, block.data(), length);
}

// ------------------------------------------------------------ codecs

int TRastrumIO::ReadBuiltIn(platform::TStream& Stream, TRvBitmap& Target, TRvFileType FileType,
                            bool HeaderOnly, std::int64_t DataLength, TRvProgressRec& Progress,
                            std::unique_ptr<TRvMask>* Mask) {
  TIOParamsVals& p = *FParams;
  std::unique_ptr<TRvMask> none;
  std::unique_ptr<TRvMask>& mask = Mask != nullptr ? *Mask : none;
  const bool noMask = Mask == nullptr;
  int count = 0;
  switch (FileType) {
  case rvftTIFF:
    // Our TIFF writer stores absolute stream positions, framed or not.
    TiffReadStream(Target, Stream, count, noMask, false, mask, HeaderOnly, Progress, &p);
    break;
  case rvftGIF:
    GifReadStream(Stream, Target, count, noMask, mask, HeaderOnly, Progress, p);
    break;
  case rvftJPEG:
    JpegReadStream(Stream, Target, p, HeaderOnly, Progress);
    break;
  case rvftPCX:
    PcxReadStream(Stream, Target, p, HeaderOnly, Progress, DataLength);
    break;
  case rvftBMP:
    BmpReadStream(Stream, &Target, DataLength, p, Progress, HeaderOnly, noMask ? nullptr : &mask);
    break;
  case rvftICO:
    IcoReadStream(Stream, &Target, p, noMask, mask, Progress, HeaderOnly);
    break;
  case rvftCUR:
    CurReadStream(Stream, &Target, p, noMask, mask, Progress, HeaderOnly);
    break;
  case rvftPNG:
    PngReadStream(Stream, Target, p, Progress, HeaderOnly, mask, false);
    break;
  case rvftTGA:
    TgaReadStream(Stream, Target, p, Progress, HeaderOnly, mask, noMask);
    break;
  case rvftPXM:
    PnmReadStream(Stream, Target, p, Progress, HeaderOnly);
    break;
  case rvftJP2:
  case rvftJ2K:
    Jpeg2000ReadStream(Stream, Target, p, HeaderOnly, Progress);
    break;
  default:
    Progress.Abort();
    break;
  }
  return count;
}

void TRastrumIO::WriteBuiltIn(platform::TStream& Stream, TRvFileType FileType,
                              TRvProgressRec& Progress) {
  TIOParamsVals& p = *FParams;
  TRvBitmap& b = *FRvBitmap;
  std::unique_ptr<TRvMask> temp;
  const std::int64_t Start = Stream.Position();
  switch (FileType) {
  case rvftTIFF: TiffWriteStream(Stream, b, Progress, p, SaveAlphaSource(temp)); break;
  case rvftGIF: GifWriteStream(Stream, b, p, Progress, SaveAlphaSource(temp)); break;
  case rvftJPEG:
    PrepareJpegMarkers();
    JpegWriteStream(Stream, b, p, Progress);
    break;
  case rvftPCX: PcxWriteStream(Stream, b, p, Progress); break;
  case rvftBMP: BmpWriteStream(Stream, b, p, Progress, SaveAlphaSource(temp)); break;
  case rvftPNG: PngWriteStream(Stream, b, p, SaveAlphaSource(temp), Progress); break;
  case rvftTGA: TgaWriteStream(Stream, b, p, SaveAlphaSource(temp), Progress); break;
  case rvftPXM: PnmWriteStream(Stream, b, p, Progress); break;
  case rvftJP2: Jpeg2000WriteStream(Stream, b, p, 0, Progress); break;
  case rvftJ2K: Jpeg2000WriteStream(Stream, b, p, 1, Progress); break;
  default:
    if (const TRvFileFormatInfo* info = RvFindFileFormatInfo(FileType);
        info != nullptr && info->WriteEntry) {
      info->WriteEntry(Stream, b, p, Progress);
    } else {
      Progress.Abort();
    }
    break;
  }
  // The JPEG writer copies its own, placing its index's pictures again.
  if (FileType != rvftJPEG && RvKeepsTrailer(FileType) && !Progress.IsAborting())
    RvWriteTrailer(Stream, Start, FileType, p, Progress);
}

// ------------------------------------------------------------ load body

int TRastrumIO::RunLoad(TRvFileType FileType, const std::string& FileName,
                        platform::TStream* Stream) {
  if (!StartOperation()) return 0;
  TIOParamsVals& p = *FParams;
  p.ResetInfo();
  TRvProgressRec progress;
  MakeProgress(progress);
  const bool alphaSteps = HasAlphaSteps(FileType);
  int count = 0;
  try {
    std::unique_ptr<platform::TFileStream> file;
    platform::TStream* source = Stream;
    std::int64_t dataLength = 0;
    std::int64_t afterImage = -1;
    if (Stream == nullptr) {
      file = std::make_unique<platform::TFileStream>(FileName, platform::fmOpenRead);
      source = file.get();
      dataLength = file->Size();
    } else {
      // Stream headers, read before anything of the target changes.
      const std::int64_t q = Stream->Position();
      TRvStreamHeader header;
      if (FileType == rvftJPEG) {
        if (RvReadStreamHeader(*Stream, header) && header.Tag == RvStreamTagJpeg)
          afterImage = q + RvStreamHeaderSize + header.Length;
        else
          Stream->SetPosition(q);
      } else if (FileType == rvftTIFF && StreamHeaders) {
        if (!RvReadStreamHeader(*Stream, header) || header.Tag != RvStreamTagTiff) {
          Aborting = true;
          FinishWork();
          return 0;
        }
        afterImage = Stream->Position() + header.Length;
      } else if (FileType == rvftPCX && StreamHeaders) {
        if (!RvReadStreamHeader(*Stream, header) || header.Tag.compare(0, 3, "PCX") != 0) {
          Aborting = true;
          FinishWork();
          return 0;
        }
        if (header.Tag == RvStreamTagPcx) {
          dataLength = header.Length;
          afterImage = q + RvStreamHeaderSize + header.Length;
        } else {
          Stream->SetPosition(q + RvOldPcxHeaderSize);
          dataLength = Stream->Size() - Stream->Position();
        }
      } else if (FileType == rvftPCX) {
        // The data run to the end of the stream, counted from here.
        dataLength = Stream->Size() - q;
      }
    }
    ResetAlphaBeforeLoad();
    const bool hadMask = FAlphaMask != nullptr;
    std::unique_ptr<TRvMask> viewMask;
    std::unique_ptr<TRvMask>* mask = nullptr;
    if (alphaSteps) mask = FAttachedView != nullptr ? &viewMask : &FOwnedMask;
    if (FileType == rvftPNG && Stream == nullptr) RvColorToRGB(GetBackground(), p.PngBackground);
    count = ReadBuiltIn(*source, *FRvBitmap, FileType, false, dataLength, progress, mask);
    if (alphaSteps) SyncAlphaChannel(*mask, hadMask);
    if (afterImage >= 0) source->SetPosition(afterImage);
  } catch (...) {
    // A load that raised is a failed load.
    Aborting = true;
    UpdateView();
    FinishWork();
    throw;
  }
  p.FileName = Stream == nullptr ? FileName : std::string();
  p.FileType = FileType;
  if (FileType == rvftGIF)
    SetBackground(ColorOfRGB(p.GifHasTransparentColor ? p.GifTransparentColor : p.GifBackground));
  else if (FileType == rvftPNG)
    SetBackground(ColorOfRGB(p.PngBackground));
  else if (FileType == rvftJPEG)
    ReadJpegMetadata(false);
  EndLoad(ViewTakesDPI(FileType, Stream == nullptr));
  return count;
}

// ------------------------------------------------------------ save bodies

void TRastrumIO::Commit(platform::TSafeSaveFile& Target, const std::string& FileName) {
  if (Target.Commit()) return;
  Aborting = true;
  // Nothing was written over: the caller may ask about the file there.
  if (Target.FoundOther()) throw platform::EFileChanged(FileName);
}

void TRastrumIO::NoteTrailerWritten(TRvFileType FileType, platform::TStream& Written) {
  // The file read is the one written over: what it holds after its picture
  // is now where this write put it, or gone. The file written tells, by the
  // handle it was written through.
  const TRvTrailer Placed = FParams->TrailerWritten;
  FParams->Trailer = TRvTrailer{};
  if (Placed.Of != FileType || Placed.At < 0) return;
  RvNoteTrailer(Written, Placed.At, FileType, *FParams);
  FParams->Trailer.MpfBase = Placed.MpfBase;
}

void TRastrumIO::RunSaveFile(TRvFileType FileType, const std::string& FileName) {
  if (!StartOperation()) return;
  ConvertForSave();
  TRvProgressRec progress;
  MakeProgress(progress);
  try {
    // The old file stays untouched until the new one is complete.
    platform::TSafeSaveFile target(FileName);
    WriteBuiltIn(target.Stream(), FileType, progress);
    if (!Aborting) Commit(target, FileName);
    if (!Aborting && FileName == FParams->FileName) NoteTrailerWritten(FileType, target.Stream());
  } catch (...) {
    Aborting = true;
    FinishWork();
    throw;
  }
  FinishWork();
}

void TRastrumIO::RunSaveStream(TRvFileType FileType, platform::TStream& Stream) {
  if (!StartOperation()) return;
  ConvertForSave();
  TRvProgressRec progress;
  MakeProgress(progress);
  try {
    const char* tag = nullptr;
    if (StreamHeaders) {
      if (FileType == rvftJPEG) tag = RvStreamTagJpeg;
      if (FileType == rvftTIFF) tag = RvStreamTagTiff;
      if (FileType == rvftPCX) tag = RvStreamTagPcx;
    }
    const std::int64_t headerPos = tag != nullptr ? RvBeginStreamHeader(Stream) : -1;
    WriteBuiltIn(Stream, FileType, progress);
    if (tag != nullptr && !(FileType == rvftPCX && Aborting)) {
      // A length that does not fit the header is a failed write.
      if (!RvFinishStreamHeader(Stream, headerPos, tag)) Aborting = true;
    }
  } catch (...) {
    Aborting = true;
    FinishWork();
    throw;
  }
  FinishWork();
}

// ------------------------------------------------------------ reader wrappers

int TRastrumIO::LoadTIFFFile(const std::string& FileName) {
  if (HandOff(TRvIOFileFunc([this](const std::string& N) { return LoadTIFFFile(N); }), FileName))
    return -1;
  return RunLoad(rvftTIFF, FileName, nullptr);
}

int TRastrumIO::LoadTIFFStream(platform::TStream& Stream) {
  if (HandOff(TRvIOStreamFunc([this](platform::TStream& S) { return LoadTIFFStream(S); }), Stream))
    return -1;
  return RunLoad(rvftTIFF, std::string(), &Stream);
}

int TRastrumIO::LoadGIFFile(const std::string& FileName) {
  if (HandOff(TRvIOFileFunc([this](const std::string& N) { return LoadGIFFile(N); }), FileName))
    return -1;
  return RunLoad(rvftGIF, FileName, nullptr);
}

int TRastrumIO::LoadGIFStream(platform::TStream& Stream) {
  if (HandOff(TRvIOStreamFunc([this](platform::TStream& S) { return LoadGIFStream(S); }), Stream))
    return -1;
  return RunLoad(rvftGIF, std::string(), &Stream);
}

#define RV_FILE_READER(Name, Type)                                                                \
  void TRastrumIO::Name(const std::string& FileName) {                                            \
    if (HandOff(TRvIOFileProc([this](const std::string& N) { Name(N); }), FileName)) return;     \
    RunLoad(Type, FileName, nullptr);                                                             \
  }
#define RV_STREAM_READER(Name, Type)                                                              \
  void TRastrumIO::Name(platform::TStream& Stream) {                                              \
    if (HandOff(TRvIOStreamProc([this](platform::TStream& S) { Name(S); }), Stream)) return;      \
    RunLoad(Type, std::string(), &Stream);                                                        \
  }
#define RV_FILE_WRITER(Name, Type)                                                                \
  void TRastrumIO::Name(const std::string& FileName) {                                            \
    if (HandOff(TRvIOFileProc([this](const std::string& N) { Name(N); }), FileName)) return;     \
    RunSaveFile(Type, FileName);                                                                  \
  }
#define RV_STREAM_WRITER(Name, Type)                                                              \
  void TRastrumIO::Name(platform::TStream& Stream) {                                              \
    if (HandOff(TRvIOStreamProc([this](platform::TStream& S) { Name(S); }), Stream)) return;      \
    RunSaveStream(Type, Stream);                                                                  \
  }

RV_FILE_READER(LoadJpegFile, rvftJPEG)
RV_STREAM_READER(LoadJpegStream, rvftJPEG)
RV_FILE_READER(LoadPCXFile, rvftPCX)
RV_STREAM_READER(LoadPCXStream, rvftPCX)
RV_FILE_READER(LoadBMPFile, rvftBMP)
RV_STREAM_READER(LoadBMPStream, rvftBMP)
RV_FILE_READER(LoadICOFile, rvftICO)
RV_STREAM_READER(LoadICOStream, rvftICO)
RV_FILE_READER(LoadCURFile, rvftCUR)
RV_STREAM_READER(LoadCURStream, rvftCUR)
RV_FILE_READER(LoadPNGFile, rvftPNG)
RV_STREAM_READER(LoadPNGStream, rvftPNG)
RV_FILE_READER(LoadTGAFile, rvftTGA)
RV_STREAM_READER(LoadTGAStream, rvftTGA)
RV_FILE_READER(LoadPXMFile, rvftPXM)
RV_STREAM_READER(LoadPXMStream, rvftPXM)
RV_FILE_READER(LoadJP2File, rvftJP2)
RV_STREAM_READER(LoadJP2Stream, rvftJP2)
RV_FILE_READER(LoadJ2KFile, rvftJ2K)
RV_STREAM_READER(LoadJ2KStream, rvftJ2K)

RV_FILE_WRITER(SaveJpegFile, rvftJPEG)
RV_STREAM_WRITER(SaveJpegStream, rvftJPEG)
RV_FILE_WRITER(SaveTIFFFile, rvftTIFF)
RV_STREAM_WRITER(SaveTIFFStream, rvftTIFF)
RV_FILE_WRITER(SaveGIFFile, rvftGIF)
RV_STREAM_WRITER(SaveGIFStream, rvftGIF)
RV_FILE_WRITER(SavePCXFile, rvftPCX)
RV_STREAM_WRITER(SavePCXStream, rvftPCX)
RV_FILE_WRITER(SaveBMPFile, rvftBMP)
RV_STREAM_WRITER(SaveBMPStream, rvftBMP)
RV_FILE_WRITER(SavePNGFile, rvftPNG)
RV_STREAM_WRITER(SavePNGStream, rvftPNG)
RV_FILE_WRITER(SaveTGAFile, rvftTGA)
RV_STREAM_WRITER(SaveTGAStream, rvftTGA)
RV_FILE_WRITER(SavePXMFile, rvftPXM)
RV_STREAM_WRITER(SavePXMStream, rvftPXM)
RV_FILE_WRITER(SaveJP2File, rvftJP2)
RV_STREAM_WRITER(SaveJP2Stream, rvftJP2)
RV_FILE_WRITER(SaveJ2KFile, rvftJ2K)
RV_STREAM_WRITER(SaveJ2KStream, rvftJ2K)

void TRastrumIO::SaveTIFFPageFile(const std::string& FileName, const std::string& PagesFrom) {
  if (HandOff(TRvIOFileProc([this, PagesFrom](const std::string& N) { SaveTIFFPageFile(N, PagesFrom); }), FileName))
    return;
  std::unique_ptr<platform::TFileStream> source;
  try {
    source = std::make_unique<platform::TFileStream>(PagesFrom, platform::fmOpenRead);
  } catch (...) {
    Aborting = true;
    FinishWork();
    throw;
  }
  SaveTIFFPageFile(FileName, *source);
}

void TRastrumIO::SaveTIFFPageFile(const std::string& FileName, platform::TStream& PagesFrom) {
  if (!StartOperation()) return;
  ConvertForSave();
  TRvProgressRec progress;
  MakeProgress(progress);
  try {
    // Read while the new file is written beside it: the old one stays in
    // place, and readable, until the new one is complete.
    PagesFrom.SetPosition(0);
    TTiffPages pages(PagesFrom);
    TIOParamsVals& p = *FParams;
    std::unique_ptr<TRvMask> temp;
    const TRvMask* alpha = SaveAlphaSource(temp);
    platform::TSafeSaveFile target(FileName);
    const bool written = p.TiffImageIndex >= 0 && p.TiffImageIndex < pages.Count() &&
                         pages.Write(target.Stream(), p.TiffImageIndex, Aborting,
                                     [&](std::int64_t& NextAt, const std::vector<TTiffEntry>& Kept) {
                                       return TiffWritePage(target.Stream(), *FRvBitmap, progress, p, alpha,
                                                            pages.Intel(), NextAt, &Kept);
                                     });
    if (!written || Aborting) Aborting = true;
    else Commit(target, FileName);
  } catch (...) {
    Aborting = true;
    FinishWork();
    throw;
  }
  FinishWork();
}

#undef RV_FILE_READER
#undef RV_STREAM_READER
#undef RV_FILE_WRITER
#undef RV_STREAM_WRITER

// ------------------------------------------------------------ resolution

void TRastrumIO::AdjustDPI() {
  TIOParamsVals& p = *FParams;
  if (p.DpiX == p.DpiY || p.DpiX <= 0 || p.DpiY <= 0 || FRvBitmap == nullptr) return;
  const double w = p.Width;
  const double h = p.Height;
  double nw = w;
  double nh = h;
  if (h < w)
    nh = std::trunc(h / p.DpiY * p.DpiX);
  else
    nw = std::trunc(w / p.DpiX * p.DpiY);
  // Resolutions from a file can ask for any size: what the library would
  // refuse to allocate is left as loaded.
  if (!(nw >= 1 && nh >= 1 && nw <= 2147483647.0 && nh <= 2147483647.0) ||
      !RvPixelsAllowed(static_cast<std::int64_t>(nw), static_cast<std::int64_t>(nh)))
    return;
  const int newW = static_cast<int>(nw);
  const int newH = static_cast<int>(nh);
  if (h < w)
    p.DpiY = p.DpiX;
  else
    p.DpiX = p.DpiY;
  p.Width = newW;
  p.Height = newH;

  std::unique_ptr<TRvBitmap> keptAlpha;
  if (!FOwnsRvBitmap && FRvBitmap->HasAlphaChannel()) {
    keptAlpha = std::make_unique<TRvBitmap>();
    keptAlpha->Assign(FRvBitmap->GetAlphaChannel());
  }
  auto fresh = std::make_unique<TRvBitmap>();
  if (FilteredAdjustDPI) {
    if (FRvBitmap->PixelFormat() != rvpf24Bit) FRvBitmap->SetPixelFormat(rvpf24Bit);
    fresh->Allocate(newW, newH, rvpf24Bit);
    RvResampleBitmap(FRvBitmap, fresh.get(), rfFastLinear);
  } else {
    StretchPlain(*FRvBitmap, *fresh, newW, newH);
  }
  FRvBitmap->Assign(fresh.get());
  StretchAlphaAfterAdjust(std::move(keptAlpha), newW, newH);
}

void TRastrumIO::StretchAlphaAfterAdjust(std::unique_ptr<TRvBitmap> KeptAlpha, int Width,
                                         int Height) {
  if (KeptAlpha != nullptr) {
    if (TRvBitmap* alpha = FRvBitmap->GetAlphaChannel()) {
      TRvBitmap stretched;
      StretchPlain(*KeptAlpha, stretched, Width, Height);
      alpha->Assign(&stretched);
    }
    return;
  }
  TRvMask* mask = nullptr;
  if (FAttachedView != nullptr && FAttachedView->HasAlphaChannel())
    mask = FAttachedView->GetAlphaChannel();
  else
    mask = FAlphaMask;
  if (mask == nullptr) return;
  if (!mask->Full()) {
    TRvMask source;
    source.Assign(mask);
    mask->Allocate(Width, Height, 8);
    RvResampleMask(&source, mask, rfFastLinear);
  } else {
    mask->Allocate(Width, Height, 8);
    mask->Fill(255);
  }
}

// ------------------------------------------------------------ metafiles

void TRastrumIO::LoadMetafile(const std::string& FileName, int Width, int Height) {
  if (HandOff(TRvIOFileValue2Proc([this](const std::string& N, int W, int H) {
                LoadMetafile(N, W, H);
              }),
              FileName, Width, Height))
    return;
  if (!StartOperation()) return;
  // A side of nothing draws nothing: no picture is read.
  if (Width == 0 || Height == 0) {
    Aborting = true;
    FinishWork();
    return;
  }
  TIOParamsVals& p = *FParams;
  p.ResetInfo();
  p.MetafileShapesLeftOut = 0;
  platform::TMetafile metafile;
  try {
    metafile.LoadFromFile(FileName);
  } catch (...) {
    Aborting = true;
    FinishWork();
    throw;
  }
  const std::int64_t mw = metafile.Width();
  const std::int64_t mh = metafile.Height();
  // A metafile without a size cannot be scaled: refused before any division.
  if (mw <= 0 || mh <= 0) {
    Aborting = true;
    FinishWork();
    return;
  }
  std::int64_t w = mw;
  std::int64_t h = mh;
  if (Width >= 0 && Height >= 0) {
    w = Width;
    h = Height;
  } else if (Width < 0 && Height >= 0) {
    w = mw * Height / mh;
    h = Height;
  } else if (Height < 0 && Width >= 0) {
    h = mh * Width / mw;
    w = Width;
  }
  if (w > 2800 || h > 2800) {
    if (w >= h) {
      h = h * 2800 / w;
      w = 2800;
    } else {
      w = w * 2800 / h;
      h = 2800;
    }
  }
  const int dibW = static_cast<int>(w - 1);
  const int dibH = static_cast<int>(h - 1);
  // A side that comes out empty leaves nothing to draw on.
  if (dibW < 1 || dibH < 1) {
    Aborting = true;
    FinishWork();
    return;
  }
  QImage dib(dibW, dibH, QImage::Format_BGR888);
  if (dib.isNull()) {
    Aborting = true;
    FinishWork();
    return;
  }
  p.FileName = FileName;
  p.FileType = metafile.Enhanced() ? rvftEMF : rvftWMF;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 3;
  p.Width = dibW;
  p.Height = dibH;
  p.DpiX = RvDefaultDpiX;
  p.DpiY = RvDefaultDpiY;
  p.FreeColorMap();
  if (FAttachedView != nullptr) FAttachedView->SetDPI(p.DpiX, p.DpiY);
  {
    const std::uint32_t rgb = platform::ColorToRGB(GetBackground());
    dib.fill(QColor(static_cast<int>(rgb & 255), static_cast<int>((rgb >> 8) & 255),
                    static_cast<int>((rgb >> 16) & 255)));
    QPainter painter(&dib);
    // Between records the play reports how far it got and stops once the
    // load is aborted, as the codecs do between rows.
    TRvProgressRec progress;
    MakeProgress(progress);
    progress.Per = 1;
    const platform::TMetafileDrawStats drawn =
        metafile.Draw(painter, QRect(0, 0, static_cast<int>(w), static_cast<int>(h)), [&progress](int Percent) {
          if (Percent != progress.Val) progress.Step(Percent);
          return !progress.IsAborting();
        });
    // A picture drawn without what the budgets left out says so, as a JPEG
    // read counts its warnings, rather than passing for the whole drawing.
    p.MetafileShapesLeftOut = drawn.ShapesSkipped + drawn.StrokesSkipped;
  }
  if (!RvAllocateBitmap(*FRvBitmap, dibW, dibH, rvpf24Bit)) {
    Aborting = true;
    UpdateView();
    FinishWork();
    return;
  }
  for (int y = 0; y < dibH; ++y)
    std::memcpy(FRvBitmap->Scanline(y), dib.constScanLine(y), static_cast<std::size_t>(dibW) * 3);
  ResetAlphaBeforeLoad();
  UpdateView();
  FinishWork();
}

} // namespace rv

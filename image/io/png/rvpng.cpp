#include "image/io/png/rvpng.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

#include "image/io/rvsafeio.h"
#include "image/io/rvwriteconv.h"

// libpng reports a fatal error by a call that must not return: our error
// callbacks jump back with png_longjmp to the point the calling step set.
// The frames that set that point keep no object with a destructor; every
// C++ object lives one frame further out, and exceptions are raised there.

namespace rv {

namespace {

constexpr std::size_t PngIdatReadSize = 2048;
constexpr png_alloc_size_t PngChunkLimit = 8u << 20;

bool IsSet(const TRvAbortFlag* Flag) {
  return Flag != nullptr && Flag->load(std::memory_order_relaxed);
}

// ---- Reading

struct TPngReader {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  TRvStreamReader* Source = nullptr;
  TRvAbortFlag* Aborting = nullptr;
  // Rows of a picture allocated without clearing from this one down are not
  // yet read, and are cleared should the read end early.
  TRvBitmap* Uncleared = nullptr;
  int RowsDone = 0;

  TPngReader() = default;
  ~TPngReader() {
    if (Png != nullptr) png_destroy_read_struct(&Png, Info != nullptr ? &Info : nullptr, nullptr);
  }
  TPngReader(const TPngReader&) = delete;
  TPngReader& operator=(const TPngReader&) = delete;
};

[[noreturn]] void PngErrorCallback(png_structp Png, png_const_charp) {
  auto* Flag = static_cast<TRvAbortFlag*>(png_get_error_ptr(Png));
  if (Flag != nullptr) Flag->store(true, std::memory_order_relaxed);
  png_longjmp(Png, 1);
}

void PngWarningCallback(png_structp, png_const_charp) {}

bool ReadFromSource(TRvStreamReader* Source, png_bytep Data, std::size_t Length) {
  try {
    return Source->Read(Data, static_cast<std::int64_t>(Length));
  } catch (...) {
    return false;
  }
}

void PngReadCallback(png_structp Png, png_bytep Data, std::size_t Length) {
  auto* R = static_cast<TPngReader*>(png_get_io_ptr(Png));
  // A file cut short is an error, not a block of whatever the buffer held.
  if (!ReadFromSource(R->Source, Data, Length)) png_error(Png, "short read");
}

std::uint8_t SampleToByte(unsigned Value, int Depth) {
  if (Depth >= 16) return static_cast<std::uint8_t>(Value >> 8);
  if (Depth == 8) return static_cast<std::uint8_t>(Value);
  const unsigned Max = (1u << Depth) - 1;
  return static_cast<std::uint8_t>(std::min(Value, Max) * 255 / Max);
}

bool PaletteIsBlackWhite(png_structp Png, png_infop Info) {
  png_colorp Palette = nullptr;
  int Count = 0;
  if (png_get_PLTE(Png, Info, &Palette, &Count) == 0 || Count < 2) return false;
  if (png_get_valid(Png, Info, PNG_INFO_tRNS) != 0) return false;
  return Palette[0].red == 0 && Palette[0].green == 0 && Palette[0].blue == 0 &&
         Palette[1].red == 255 && Palette[1].green == 255 && Palette[1].blue == 255;
}

void PrepareMask(std::unique_ptr<TRvMask>& AlphaMask, int Width, int Height) {
  if (!AlphaMask) AlphaMask = std::make_unique<TRvMask>();
  AlphaMask->Allocate(Width, Height, 8);
  AlphaMask->Fill(255);
}

// Keeps the pixels earlier passes of an interlaced file put into this row:
// libpng writes only the current pass's pixels into the buffer.
void LoadAlphaRow(std::uint8_t* Buffer, const std::uint8_t* Row, const std::uint8_t* Alpha,
                  int Width) {
  for (int X = 0; X < Width; ++X) {
    Buffer[4 * X] = Row[3 * X];
    Buffer[4 * X + 1] = Row[3 * X + 1];
    Buffer[4 * X + 2] = Row[3 * X + 2];
    Buffer[4 * X + 3] = Alpha[X];
  }
}

void SplitAlphaRow(const std::uint8_t* Buffer, std::uint8_t* Row, std::uint8_t* Alpha, int Width) {
  for (int X = 0; X < Width; ++X) {
    Row[3 * X] = Buffer[4 * X];
    Row[3 * X + 1] = Buffer[4 * X + 1];
    Row[3 * X + 2] = Buffer[4 * X + 2];
    Alpha[X] = Buffer[4 * X + 3];
  }
}

void ReadProfile(TPngReader& R, TIOParamsVals& Params) {
  png_charp Name = nullptr;
  int Compression = 0;
  png_bytep Profile = nullptr;
  png_uint_32 Length = 0;
  Params.IccProfile.clear();
  if (png_get_iCCP(R.Png, R.Info, &Name, &Compression, &Profile, &Length) != 0 && Profile != nullptr)
    Params.IccProfile.assign(Profile, Profile + Length);
}

// The reduction of a read at a wished size: Factor x Factor source pixels
// averaged into one, row by row as they are decoded, so that the full-size
// picture is never held. Sums holds one running total per reduced sample.
struct TPngReduction {
  int Factor = 1;
  int Width = 0, Height = 0; // reduced
  std::uint32_t* Sums = nullptr;
};

// The largest whole factor whose reduced size still covers the wish (1 when
// nothing is wished), as the JPEG reader picks its scale; at most 4096, so
// that the 32-bit totals of a box cannot overflow.
int PngReductionFactor(int StoredWidth, int StoredHeight, int WishedWidth, int WishedHeight) {
  if (WishedWidth <= 0 || WishedHeight <= 0) return 1;
  return std::clamp(std::min(StoredWidth / WishedWidth, StoredHeight / WishedHeight), 1, 4096);
}

// Adds one decoded row of Channels-byte pixels to the running totals.
void AccumulateRow(const TPngReduction& Red, const std::uint8_t* Row, int Width, int Channels) {
  std::uint32_t* Sum = Red.Sums;
  const int F = Red.Factor;
  for (int X0 = 0; X0 < Width; X0 += F, Sum += Channels) {
    const int X1 = std::min(X0 + F, Width);
    std::uint32_t A = 0, B = 0, C = 0, D = 0;
    const std::uint8_t* P = Row + static_cast<std::size_t>(X0) * Channels;
    if (Channels == 4) {
      for (int X = X0; X < X1; ++X, P += 4) {
        A += P[0];
        B += P[1];
        C += P[2];
        D += P[3];
      }
      Sum[3] += D;
    } else {
      for (int X = X0; X < X1; ++X, P += 3) {
        A += P[0];
        B += P[1];
        C += P[2];
      }
    }
    Sum[0] += A;
    Sum[1] += B;
    Sum[2] += C;
  }
}

// Writes the averages of a band of Rows source rows into reduced row Y and
// clears the totals for the next band.
void FlushBand(const TPngReduction& Red, int Rows, int Width, int Channels, TRvBitmap& Bitmap,
               TRvMask* Alpha, int Y) {
  std::uint8_t* Out = Bitmap.Scanline(Y);
  std::uint8_t* OutAlpha = Alpha != nullptr && Channels == 4 ? Alpha->ScanLine(Y) : nullptr;
  const std::uint32_t* Sum = Red.Sums;
  for (int X = 0; X < Red.Width; ++X, Sum += Channels) {
    const std::uint32_t Count = static_cast<std::uint32_t>(std::min(Red.Factor, Width - X * Red.Factor) * Rows);
    Out[3 * X] = static_cast<std::uint8_t>((Sum[0] + Count / 2) / Count);
    Out[3 * X + 1] = static_cast<std::uint8_t>((Sum[1] + Count / 2) / Count);
    Out[3 * X + 2] = static_cast<std::uint8_t>((Sum[2] + Count / 2) / Count);
    if (OutAlpha != nullptr) OutAlpha[X] = static_cast<std::uint8_t>((Sum[3] + Count / 2) / Count);
  }
  std::memset(Red.Sums, 0, static_cast<std::size_t>(Red.Width) * Channels * sizeof(std::uint32_t));
}

// The rows of a non-interlaced picture averaged into a reduced one as they
// are decoded; called from PngReadSteps, whose jump point covers it.
void PngReadReduced(TPngReader& R, TRvBitmap& Bitmap, TIOParamsVals& Params, TRvProgressRec& Progress,
                    std::unique_ptr<TRvMask>& AlphaMask, TPngReduction& Red, TRvBuffer& Buffer,
                    TRvBuffer& SumBuffer) {
  const int W = Params.Width, H = Params.Height;
  const int Channels = png_get_channels(R.Png, R.Info);
  if ((Channels != 3 && Channels != 4) || png_get_rowbytes(R.Png, R.Info) != static_cast<std::size_t>(W) * Channels ||
      (Channels == 4 && !AlphaMask) || !Buffer.Allocate(static_cast<std::int64_t>(W) * Channels) ||
      !SumBuffer.Allocate(static_cast<std::int64_t>(Red.Width) * Channels * 4) ||
      !RvAllocateBitmap(Bitmap, Red.Width, Red.Height, rvpf24Bit)) {
    Progress.Abort();
    return;
  }
  Red.Sums = reinterpret_cast<std::uint32_t*>(SumBuffer.Data());
  std::memset(Red.Sums, 0, static_cast<std::size_t>(SumBuffer.Size()));
  if (Channels == 4) AlphaMask->SetFull(false);
  Params.Width = Red.Width;
  Params.Height = Red.Height;
  Progress.Val = 0;
  Progress.Per = 100.0 / H;
  int Band = 0;
  for (int Y = 0; Y < H; ++Y) {
    png_read_row(R.Png, Buffer.Data(), nullptr);
    AccumulateRow(Red, Buffer.Data(), W, Channels);
    if (++Band == Red.Factor || Y == H - 1) {
      FlushBand(Red, Band, W, Channels, Bitmap, AlphaMask.get(), Y / Red.Factor);
      Band = 0;
    }
    Progress.Step(Y + 1);
    if (IsSet(Progress.Aborting)) return;
  }
  png_read_end(R.Png, nullptr);
}

// The library calls of one read; no object with a destructor in this frame.
void PngReadSteps(TPngReader& R, TRvBitmap& Bitmap, TIOParamsVals& Params,
                  TRvProgressRec& Progress, bool HeaderOnly, std::unique_ptr<TRvMask>& AlphaMask,
                  bool UseBackground, TRvBuffer& Buffer, TRvBuffer& SumBuffer) {
  if (setjmp(png_jmpbuf(R.Png)) != 0) return;
  // A thumbnail-size read (automatic scale) wishes a size, as for JPEG.
  const int WishedWidth = Params.JpegScale == 0 ? Params.Width : 0;
  const int WishedHeight = Params.JpegScale == 0 ? Params.Height : 0;

  png_set_read_fn(R.Png, &R, PngReadCallback);
  // Compressed data is fetched in small pieces, so that a file cut short
  // still yields the rows its data reached before the cut.
  png_set_compression_buffer_size(R.Png, PngIdatReadSize);
  // Text and other variable-length chunks are of no use here and may
  // declare up to 2 GB: they are skipped unread instead of buffered. The
  // colour profile of a picture read whole is kept for a save to write
  // back (it inflates to no more than the chunk limit); a header or a
  // thumbnail has no use for it.
  png_set_chunk_malloc_max(R.Png, PngChunkLimit);
  static const png_byte Skipped[] = "iCCP\0tEXt\0zTXt\0iTXt\0sPLT\0eXIf\0pCAL\0sCAL\0";
  const bool KeepProfile = !HeaderOnly && Params.JpegScale != 0;
  png_set_keep_unknown_chunks(R.Png, PNG_HANDLE_CHUNK_NEVER, KeepProfile ? Skipped + 5 : Skipped, KeepProfile ? 7 : 8);
  png_read_info(R.Png, R.Info);
  ReadProfile(R, Params);

  png_uint_32 Width = 0;
  png_uint_32 Height = 0;
  int Depth = 0;
  int ColorType = 0;
  int Interlace = 0;
  png_get_IHDR(R.Png, R.Info, &Width, &Height, &Depth, &ColorType, &Interlace, nullptr, nullptr);
  // The compressed data must be able to fill the picture the header claims:
  // deflate gives at most 1032 bytes for a byte (a 258-byte copy coded in
  // two bits), which still lets a blank picture of any size be a small
  // file. A picture its data could not fill is refused before anything of
  // its size is allocated.
  if (!HeaderOnly) {
    std::int64_t Bits = 0;
    if (!RvSizeMul(std::int64_t{Width} * Height, std::int64_t{png_get_channels(R.Png, R.Info)} * Depth, Bits))
      Bits = INT64_MAX;
    const std::int64_t Held = R.Source->Remaining() + 8; // the first data chunk's header is read
    if (!RvDataCanFill(Held, RvLeastStoredBytes(Bits / 8, 1032, 1), Width, Height)) {
      Progress.Abort();
      return;
    }
  }

  if (UseBackground) {
    png_color_16p FileBackground = nullptr;
    if (png_get_bKGD(R.Png, R.Info, &FileBackground) != 0) {
      png_set_background(R.Png, FileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
      // The chunk holds samples of the file's own depth (palette entries
      // are 8-bit); read as 16-bit values they would all come out black.
      const int SampleDepth = ColorType == PNG_COLOR_TYPE_PALETTE ? 8 : Depth;
      Params.PngBackground.r = SampleToByte(FileBackground->red, SampleDepth);
      Params.PngBackground.g = SampleToByte(FileBackground->green, SampleDepth);
      Params.PngBackground.b = SampleToByte(FileBackground->blue, SampleDepth);
    } else {
      // libpng takes this colour in the output's 8 bits (a gray picture's
      // from the gray field); shifted into the high byte it composes as
      // black or as a wrapped value.
      const TRGB& Bg = Params.PngBackground;
      png_color_16 Prepared;
      std::memset(&Prepared, 0, sizeof(Prepared));
      Prepared.red = Bg.r;
      Prepared.green = Bg.g;
      Prepared.blue = Bg.b;
      Prepared.gray = static_cast<png_uint_16>(RvRGBToGray(Bg));
      png_set_background(R.Png, &Prepared, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    }
  } else {
    if (!RvPixelsAllowed(Width, Height)) {
      Progress.Abort();
      return;
    }
  }

  // A two-colour palette that is not plain black and white would lose its
  // colours in a 1-bit picture: it is expanded like deeper palettes.
  // A tRNS colour key of a gray or RGB picture is transparency as much as a
  // palette's tRNS is: it becomes alpha at every depth.
  const bool KeyColour = png_get_valid(R.Png, R.Info, PNG_INFO_tRNS) != 0 &&
                         (ColorType == PNG_COLOR_TYPE_GRAY || ColorType == PNG_COLOR_TYPE_RGB);
  const bool OneBit =
      Depth == 1 && ((ColorType == PNG_COLOR_TYPE_GRAY && !KeyColour) ||
                     (ColorType == PNG_COLOR_TYPE_PALETTE && PaletteIsBlackWhite(R.Png, R.Info)));
  // Interlaced files and 1-bit pictures are read whole; the caller reduces.
  TPngReduction Red;
  if (Interlace == PNG_INTERLACE_NONE && !OneBit)
    Red.Factor = PngReductionFactor(static_cast<int>(Width), static_cast<int>(Height), WishedWidth, WishedHeight);
  Red.Width = static_cast<int>((Width + Red.Factor - 1) / Red.Factor);
  Red.Height = static_cast<int>((Height + Red.Factor - 1) / Red.Factor);
  if (Red.Factor > 1 && !HeaderOnly) {
    // A thumbnail is a preview: the checksums over the compressed and the
    // inflated data cost a tenth of the read and are left unchecked; broken
    // deflate data still stops the read.
    png_set_crc_action(R.Png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#ifdef PNG_IGNORE_ADLER32
    png_set_option(R.Png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
  }
  if (ColorType == PNG_COLOR_TYPE_PALETTE && !OneBit) png_set_expand(R.Png);
  if (ColorType == PNG_COLOR_TYPE_GRAY && Depth <= 7 && !OneBit) png_set_expand(R.Png);
  if (KeyColour) png_set_tRNS_to_alpha(R.Png);
  if (Depth == 16) png_set_strip_16(R.Png);
  if (Depth >= 2 && Depth <= 7) png_set_packing(R.Png);
  if ((ColorType == PNG_COLOR_TYPE_GRAY || ColorType == PNG_COLOR_TYPE_GRAY_ALPHA) && !OneBit)
    png_set_gray_to_rgb(R.Png);
  if (!OneBit) png_set_bgr(R.Png);
  const int Passes = png_set_interlace_handling(R.Png);
  png_read_update_info(R.Png, R.Info);

  Params.Width = static_cast<std::int32_t>(Width);
  Params.Height = static_cast<std::int32_t>(Height);
  Params.BitsPerSample = Depth;
  switch (ColorType) {
  case PNG_COLOR_TYPE_GRAY:
  case PNG_COLOR_TYPE_PALETTE: Params.SamplesPerPixel = 1; break;
  case PNG_COLOR_TYPE_RGB: Params.SamplesPerPixel = 3; break;
  case PNG_COLOR_TYPE_GRAY_ALPHA: Params.SamplesPerPixel = 2; break;
  case PNG_COLOR_TYPE_RGB_ALPHA: Params.SamplesPerPixel = 4; break;
  default: break;
  }

  png_uint_32 ResX = 0;
  png_uint_32 ResY = 0;
  int Unit = 0;
  Params.DpiX = 0;
  Params.DpiY = 0;
  if (png_get_pHYs(R.Png, R.Info, &ResX, &ResY, &Unit) != 0 && Unit == PNG_RESOLUTION_METER) {
    Params.DpiX = RvRound(ResX / 100.0 * 2.54);
    Params.DpiY = RvRound(ResY / 100.0 * 2.54);
  }
  if (Params.DpiX == 0) Params.DpiX = RvDefaultDpiX;
  if (Params.DpiY == 0) Params.DpiY = RvDefaultDpiY;

  Params.FreeColorMap();
  png_colorp Palette = nullptr;
  int PaletteCount = 0;
  if (ColorType == PNG_COLOR_TYPE_PALETTE &&
      png_get_PLTE(R.Png, R.Info, &Palette, &PaletteCount) != 0 && PaletteCount > 0) {
    TRGB* Map = Params.AllocColorMap(PaletteCount);
    for (int I = 0; I < PaletteCount && Map != nullptr; ++I) {
      Map[I].r = Palette[I].red;
      Map[I].g = Palette[I].green;
      Map[I].b = Palette[I].blue;
    }
  }
  Params.PngInterlaced = Interlace != PNG_INTERLACE_NONE;
  Params.UnscaledWidth = Params.Width;
  Params.UnscaledHeight = Params.Height;
  if (HeaderOnly) return;
  // Only a read that decodes needs the mask: one of the header's size would
  // cost a header read hundreds of megabytes.
  if (!UseBackground) PrepareMask(AlphaMask, Red.Width, Red.Height);
  if (Red.Factor > 1) {
    PngReadReduced(R, Bitmap, Params, Progress, AlphaMask, Red, Buffer, SumBuffer);
    return;
  }

  const int W = static_cast<int>(Width);
  const int H = static_cast<int>(Height);
  const int Channels = png_get_channels(R.Png, R.Info);
  const std::size_t RowBytes = png_get_rowbytes(R.Png, R.Info);
  // The transformed rows must be exactly what the bitmap row (or the alpha
  // buffer) holds, or libpng would write past it.
  const std::size_t Expected = OneBit ? (static_cast<std::size_t>(W) + 7) / 8
                                      : static_cast<std::size_t>(W) * (Channels == 4 ? 4 : 3);
  if (RowBytes != Expected || (!OneBit && Channels != 3 && Channels != 4) ||
      (OneBit && Channels != 1) || (Channels == 4 && !AlphaMask) ||
      !RvAllocateBitmap(Bitmap, W, H, OneBit ? rvpf1Bit : rvpf24Bit, Passes > 1) ||
      (Channels == 4 && !Buffer.Allocate(static_cast<std::int64_t>(W) * 4))) {
    Progress.Abort();
    return;
  }
  // Each row of a picture read in one pass is written whole: clearing it
  // first would cost a pass over the picture that libpng does not need.
  if (Passes == 1) R.Uncleared = &Bitmap;
  Progress.Val = 0;
  Progress.Per = 100.0 / (static_cast<double>(H) * Passes);
  std::int32_t Work = 0;
  if (Channels == 4) AlphaMask->SetFull(false);

  for (int Pass = 0; Pass < Passes; ++Pass) {
    for (int Y = 0; Y < H; ++Y) {
      std::uint8_t* Row = Bitmap.Scanline(Y);
      if (Channels == 4) {
        std::uint8_t* Alpha = AlphaMask->ScanLine(Y);
        if (Passes > 1) LoadAlphaRow(Buffer.Data(), Row, Alpha, W);
        png_read_row(R.Png, Buffer.Data(), nullptr);
        SplitAlphaRow(Buffer.Data(), Row, Alpha, W);
      } else {
        png_read_row(R.Png, Row, nullptr);
      }
      R.RowsDone = Y + 1;
      Progress.Step(++Work);
      if (IsSet(Progress.Aborting)) break;
    }
    if (IsSet(Progress.Aborting)) break;
  }
  if (!IsSet(Progress.Aborting)) png_read_end(R.Png, nullptr);
}

// ---- Writing

struct TPngWriter {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  platform::TStream* Stream = nullptr;
  TRvAbortFlag* Aborting = nullptr;

  TPngWriter() = default;
  ~TPngWriter() {
    if (Png != nullptr) png_destroy_write_struct(&Png, Info != nullptr ? &Info : nullptr);
  }
  TPngWriter(const TPngWriter&) = delete;
  TPngWriter& operator=(const TPngWriter&) = delete;
};

[[noreturn]] void PngWriteErrorCallback(png_structp Png, png_const_charp) { png_longjmp(Png, 1); }

void PngWriteCallback(png_structp Png, png_bytep Data, std::size_t Length) {
  auto* W = static_cast<TPngWriter*>(png_get_io_ptr(Png));
  std::int64_t Written = -1;
  try {
    Written = W->Stream->Write(Data, static_cast<std::int64_t>(Length));
  } catch (...) {
    Written = -1;
  }
  if (Written != static_cast<std::int64_t>(Length) && W->Aborting != nullptr)
    W->Aborting->store(true, std::memory_order_relaxed);
}

void PngFlushCallback(png_structp) {}

enum TPngLayout { plGray1, plGray8, plGrayAlpha, plPalette, plRGB, plRGBA };

struct TPngWriteJob {
  TRvBitmap* Source = nullptr;
  TPngLayout Layout = plRGB;
  const TRvMask* Mask = nullptr; // given and not full
  const TRvPaletteMapper* Mapper = nullptr;
  png_color Palette[256];
  int PaletteCount = 0;
  std::uint8_t* Buffer = nullptr;
  // The colour profile to write, null for none.
  const std::vector<std::uint8_t>* Profile = nullptr;
};

// A profile's data colour space (bytes 16 to 19 of its header) fits the
// colour type: gray for gray data, RGB for the others. libpng refuses any
// other pairing, and a gray picture read from a gray file must not take an
// RGB profile nor the reverse.
bool ProfileFits(const std::vector<std::uint8_t>& Profile, TPngLayout Layout) {
  if (Profile.size() < 20) return false;
  const bool GrayLayout = Layout == plGray1 || Layout == plGray8 || Layout == plGrayAlpha;
  return std::memcmp(Profile.data() + 16, GrayLayout ? "GRAY" : "RGB ", 4) == 0;
}

// 255 where the mask has no pixel: a mask of another size than the
// picture must not be read outside its rows.
std::uint8_t AlphaAt(const TRvMask* Mask, int X, int Y) {
  if (X >= Mask->Width() || Y >= Mask->Height()) return 255;
  const int V = Mask->GetPixel(X, Y);
  return Mask->BitCount() == 1 ? (V != 0 ? 255 : 0) : static_cast<std::uint8_t>(V);
}

void BuildRow(const TPngWriteJob& J, const std::uint8_t* Row, int Y, int Width) {
  std::uint8_t* Out = J.Buffer;
  if (J.Layout == plGray8) {
    for (int X = 0; X < Width; ++X) Out[X] = Row[3 * X];
  } else if (J.Layout == plGrayAlpha) {
    for (int X = 0; X < Width; ++X) {
      Out[2 * X] = Row[3 * X];
      Out[2 * X + 1] = AlphaAt(J.Mask, X, Y);
    }
  } else if (J.Layout == plPalette) {
    for (int X = 0; X < Width; ++X) {
      if (J.Mask != nullptr && AlphaAt(J.Mask, X, Y) < 255)
        Out[X] = 0;
      else
        Out[X] = static_cast<std::uint8_t>(J.Mapper->Index(Row + 3 * X) + 1);
    }
  } else {
    for (int X = 0; X < Width; ++X) {
      Out[4 * X] = Row[3 * X];
      Out[4 * X + 1] = Row[3 * X + 1];
      Out[4 * X + 2] = Row[3 * X + 2];
      Out[4 * X + 3] = AlphaAt(J.Mask, X, Y);
    }
  }
}

png_uint_32 PixelsPerMetre(std::int32_t Dpi) {
  const double V = std::clamp(Dpi * 100.0 / 2.54, 0.0, 2147483647.0);
  return static_cast<png_uint_32>(RvRound(V));
}

// The library calls of one write; false after a libpng error. No object
// with a destructor in this frame.
bool PngWriteSteps(TPngWriter& Wr, TPngWriteJob& J, TIOParamsVals& Params,
                   TRvProgressRec& Progress) {
  if (setjmp(png_jmpbuf(Wr.Png)) != 0) return false;

  png_set_write_fn(Wr.Png, &Wr, PngWriteCallback, PngFlushCallback);
  const int Width = J.Source->Width();
  const int Height = J.Source->Height();
  int ColorType = PNG_COLOR_TYPE_RGB;
  int Depth = 8;
  switch (J.Layout) {
  case plGray1:
    ColorType = PNG_COLOR_TYPE_GRAY;
    Depth = 1;
    break;
  case plGray8: ColorType = PNG_COLOR_TYPE_GRAY; break;
  case plGrayAlpha: ColorType = PNG_COLOR_TYPE_GRAY_ALPHA; break;
  case plPalette: ColorType = PNG_COLOR_TYPE_PALETTE; break;
  case plRGB: ColorType = PNG_COLOR_TYPE_RGB; break;
  case plRGBA: ColorType = PNG_COLOR_TYPE_RGB_ALPHA; break;
  }
  png_set_IHDR(Wr.Png, Wr.Info, static_cast<png_uint_32>(std::max(Width, 0)),
               static_cast<png_uint_32>(std::max(Height, 0)), Depth, ColorType,
               Params.PngInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (J.Layout == plPalette) {
    png_set_PLTE(Wr.Png, Wr.Info, J.Palette, J.PaletteCount);
    if (J.Mask != nullptr) {
      const png_byte Transparent = 0;
      png_set_tRNS(Wr.Png, Wr.Info, &Transparent, 1, nullptr);
    }
  }
  if (J.Profile != nullptr)
    png_set_iCCP(Wr.Png, Wr.Info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, J.Profile->data(),
                 static_cast<png_uint_32>(J.Profile->size()));
  png_set_pHYs(Wr.Png, Wr.Info, PixelsPerMetre(Params.DpiX), PixelsPerMetre(Params.DpiY),
               PNG_RESOLUTION_METER);
  switch (Params.PngFilter) {
  case 0: png_set_filter(Wr.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE); break;
  case 1: png_set_filter(Wr.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB); break;
  case 2: png_set_filter(Wr.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH); break;
  default: break;
  }

  // bKGD holds samples of the picture's own depth; 16-bit values in an
  // 8-bit picture make a chunk that readers reject.
  png_color_16 Background;
  std::memset(&Background, 0, sizeof(Background));
  const TRGB& Bg = Params.PngBackground;
  if (J.Layout == plPalette) {
    Background.index = 0; // entry 0 is the background colour itself
  } else if (J.Layout == plGray1) {
    Background.gray = RvRGBToGray(Bg) >= 128 ? 1 : 0;
  } else if (J.Layout == plGray8 || J.Layout == plGrayAlpha) {
    Background.gray = static_cast<png_uint_16>(RvRGBToGray(Bg));
  } else {
    Background.red = Bg.r;
    Background.green = Bg.g;
    Background.blue = Bg.b;
  }
  png_set_bKGD(Wr.Png, Wr.Info, &Background);
  png_set_compression_level(Wr.Png, Params.PngCompression);
  png_set_bgr(Wr.Png);
  png_write_info(Wr.Png, Wr.Info);
  const int Passes = png_set_interlace_handling(Wr.Png);
  Progress.Val = 0;
  Progress.Per = Height > 0 ? 100.0 / (static_cast<double>(Height) * Passes) : 0;
  std::int32_t Work = 0;

  for (int Pass = 0; Pass < Passes; ++Pass) {
    for (int Y = 0; Y < Height; ++Y) {
      std::uint8_t* Row = J.Source->Scanline(Y);
      if (J.Layout != plGray1 && J.Layout != plRGB) {
        BuildRow(J, Row, Y, Width);
        png_write_row(Wr.Png, J.Buffer);
      } else {
        png_write_row(Wr.Png, Row);
      }
      Progress.Step(++Work);
      if (IsSet(Progress.Aborting)) break;
    }
    if (IsSet(Progress.Aborting)) break;
  }
  if (!IsSet(Progress.Aborting)) png_write_end(Wr.Png, Wr.Info);
  return true;
}

} // namespace

bool IsPngStream(platform::TStream& Stream) {
  const std::int64_t Start = Stream.Position();
  png_byte Signature[8] = {};
  const std::int64_t Got = Stream.Read(Signature, 8);
  Stream.SetPosition(Start);
  return Got == 8 && png_sig_cmp(Signature, 0, 8) == 0;
}

void PngReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                   TRvProgressRec& Progress, bool HeaderOnly, std::unique_ptr<TRvMask>& AlphaMask,
                   bool UseBackground) {
  TRvStreamReader Source(Stream);
  TRvBuffer Buffer, SumBuffer;
  TPngReader R;
  R.Source = &Source;
  R.Aborting = Progress.Aborting;
  R.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, Progress.Aborting, PngErrorCallback,
                                 PngWarningCallback);
  if (R.Png != nullptr) R.Info = png_create_info_struct(R.Png);
  if (R.Png == nullptr || R.Info == nullptr) {
    Progress.Abort();
    return;
  }
  PngReadSteps(R, Bitmap, Params, Progress, HeaderOnly, AlphaMask, UseBackground, Buffer, SumBuffer);
  // Rows a damaged or cut file never reached show as zeros, not as old memory.
  if (R.Uncleared != nullptr)
    for (int Y = R.RowsDone; Y < Bitmap.Height(); ++Y)
      std::memset(Bitmap.Scanline(Y), 0, static_cast<std::size_t>(Bitmap.RowLen()));
}

void PngWriteStream(platform::TStream& Stream, TRvBitmap& Bitmap, TIOParamsVals& Params,
                    const TRvMask* AlphaMask, TRvProgressRec& Progress) {
  TPngWriter Wr;
  Wr.Stream = &Stream;
  Wr.Aborting = Progress.Aborting;
  Wr.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngWriteErrorCallback,
                                   PngWarningCallback);
  if (Wr.Png != nullptr) Wr.Info = png_create_info_struct(Wr.Png);
  if (Wr.Png == nullptr || Wr.Info == nullptr) throw EInvalidGraphic("Error on creating PNG");
  // The profile passed libpng's checks when it was read: a stricter word
  // on the way out leaves it out rather than failing the save.
  png_set_benign_errors(Wr.Png, 1);

  TPngWriteJob J;
  std::unique_ptr<TRvBitmap> Holder;
  if (Params.BitsPerSample == 1) {
    TRGB TwoColors[2];
    J.Source = RvAsBlackWhite(Bitmap, Holder, TwoColors);
  } else {
    J.Source = RvAs24Bit(Bitmap, Holder);
  }
  // An empty picture goes to libpng as it is, which refuses it.
  if (J.Source == nullptr) J.Source = &Bitmap;
  const bool HasMask = AlphaMask != nullptr && !AlphaMask->Full();
  J.Mask = HasMask ? AlphaMask : nullptr;

  // A 1-bit source is always written as 1-bit gray: an RGB colour type
  // would make libpng read three bytes a pixel from one-bit rows. A gray
  // file's picture goes back as gray: a palette holds 255 of its 256 shades.
  const bool GrayFile = Params.ColorMapCount == 0 && (Params.SamplesPerPixel == 1 || Params.SamplesPerPixel == 2);
  if (J.Source->PixelFormat() == rvpf1Bit)
    J.Layout = plGray1;
  else if (GrayFile && RvAllGray(*J.Source))
    J.Layout = HasMask ? plGrayAlpha : plGray8;
  else if (Params.SamplesPerPixel == 1)
    J.Layout = plPalette;
  else
    J.Layout = HasMask ? plRGBA : plRGB;
  if (J.Layout == plGray1) J.Mask = nullptr;
  if (ProfileFits(Params.IccProfile, J.Layout)) J.Profile = &Params.IccProfile;

  std::unique_ptr<TRvPaletteMapper> Mapper;
  TRvBuffer Buffer;
  if (J.Layout == plPalette) {
    const int Bits = std::clamp(Params.BitsPerSample, 1, 8);
    const int N = std::min(1 << Bits, 255);
    TRGB Colors[256];
    Mapper = std::make_unique<TRvPaletteMapper>(*J.Source, Colors, N);
    J.Mapper = Mapper.get();
    J.Palette[0].red = Params.PngBackground.r;
    J.Palette[0].green = Params.PngBackground.g;
    J.Palette[0].blue = Params.PngBackground.b;
    for (int I = 0; I < N; ++I) {
      J.Palette[I + 1].red = Colors[I].r;
      J.Palette[I + 1].green = Colors[I].g;
      J.Palette[I + 1].blue = Colors[I].b;
    }
    J.PaletteCount = std::min(N + 1, 256);
  }
  if (J.Layout != plGray1 && J.Layout != plRGB) {
    const std::int64_t PixelBytes = J.Layout == plRGBA ? 4 : J.Layout == plGrayAlpha ? 2 : 1;
    if (!Buffer.Allocate(std::max<std::int64_t>(J.Source->Width(), 1) * PixelBytes)) {
      Progress.Abort();
      return;
    }
    J.Buffer = Buffer.Data();
  }
  if (!PngWriteSteps(Wr, J, Params, Progress)) throw EInvalidGraphic("Error on creating PNG");
}

} // namespace rv

#include "image/io/png/rvpng.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "image/io/rvsafeio.h"
#include "image/io/rvtrailer.h"
#include "image/io/rvwriteconv.h"
#include "image/io/tiff/exif.h"

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

// ---- The file's other chunks, kept for a save

// What a read keeps of chunks that are neither the picture's look nor tied
// to its layout, as the JPEG reader keeps its markers: past these the
// chunks are counted, not kept.
constexpr int PngChunksKept = 1024;
constexpr std::int64_t PngChunkBytesKept = std::int64_t{16} << 20;
// The chunks kept whatever the counts are small by their definition.
constexpr std::uint32_t PngSmallChunk = 512;
// Names of chunks tied to the old pixels listed at most.
constexpr std::size_t PngTiedNamesKept = 16;
// A profile's name: up to 79 characters and its terminating zero.
constexpr std::uint32_t PngKeywordRoom = 80;
// The bytes in front of the TIFF structure of a JPEG Exif block.
const std::uint8_t ExifHead[6] = {'E', 'x', 'i', 'f', 0, 0};

bool IsType(const std::array<char, 4>& Type, const char* Name) { return std::memcmp(Type.data(), Name, 4) == 0; }

// The whole dots per inch a read gives a resolution in pixels per metre:
// Default for one of less than half a dot an inch.
std::int32_t DpiOfMetres(png_uint_32 PerMetre, std::int32_t Default) {
  const std::int32_t Dpi = RvRound(PerMetre / 100.0 * 2.54);
  return Dpi != 0 ? Dpi : Default;
}

// What a save does with a chunk of a type.
enum class TPngChunkUse {
  Written,   // the picture and what the record holds: IHDR, PLTE, IDAT, IEND
  Frame,     // an animation's: its frames are asked about
  Look,      // the picture's look or tied to its layout: kept whatever the counts
  Kept,      // written back as it was, within the counts
  TiedToOld, // holds only for the pixels as they were
};

TPngChunkUse ChunkUse(const std::array<char, 4>& Type) {
  // A critical chunk libpng does not know fails the read.
  if ((Type[0] & 0x20) == 0) return TPngChunkUse::Written;
  for (const char* Name : {"acTL", "fcTL", "fdAT"})
    if (IsType(Type, Name)) return TPngChunkUse::Frame;
  for (const char* Name : {"tRNS", "bKGD", "sBIT", "hIST", "pHYs", "iCCP", "gAMA", "cHRM", "sRGB", "cICP", "mDCV",
                           "cLLI", "eXIf"})
    if (IsType(Type, Name)) return TPngChunkUse::Look;
  // Known chunks that a turn leaves true, though their names say unsafe to
  // copy for a program that does not know them.
  for (const char* Name : {"sPLT", "tIME", "pCAL", "sCAL"})
    if (IsType(Type, Name)) return TPngChunkUse::Kept;
  return (Type[3] & 0x20) != 0 ? TPngChunkUse::Kept : TPngChunkUse::TiedToOld;
}

// A keyword as the PNG rules allow it: 1 to 79 Latin-1 characters, no
// leading, trailing or double space.
bool IsKeyword(const std::vector<std::uint8_t>& Name) {
  if (Name.empty() || Name.size() >= PngKeywordRoom || Name.front() == ' ' || Name.back() == ' ') return false;
  for (std::size_t I = 0; I < Name.size(); ++I) {
    const std::uint8_t C = Name[I];
    if (C < 32 || (C > 126 && C < 161) || (C == ' ' && Name[I - 1] == ' ')) return false;
  }
  return true;
}

// The camera's fields of an eXIf chunk, its orientation among them, as a
// JPEG's Exif block gives them; the thumbnail is not decoded.
void LoadPngExif(const std::vector<std::uint8_t>& Data, TIOParamsVals& Params) {
  std::vector<std::uint8_t> Block(ExifHead, ExifHead + sizeof(ExifHead));
  Block.insert(Block.end(), Data.begin(), Data.end());
  RvLoadExifFromApp1(Block.data(), static_cast<std::int64_t>(Block.size()), Params, true);
}

// Walks the chunks from the signature to IEND ahead of libpng, keeping the
// ancillary ones a save writes back and noting the rest: one step per chunk,
// the data of a kept chunk read once, so that a file of many or large
// chunks costs time in proportion to its size and memory within the counts.
// The stream is left where it was. Answers where IEND ends, -1 when the walk
// did not reach it whole.
std::int64_t KeepPngChunks(TRvStreamReader& Source, TIOParamsVals& Params) {
  const std::int64_t Start = Source.Position();
  std::int64_t End = -1;
  std::uint8_t Head[8];
  int Place = 0, Frames = 0, Kept = 0;
  bool FrameFirst = false;
  std::int64_t Bytes = 0;
  std::vector<std::array<char, 4>> LooksMet;
  if (!Source.Skip(8)) return End;
  while (Source.Read(Head, 8)) {
    const std::uint32_t Length = png_get_uint_32(Head);
    TRvPngChunk Chunk;
    std::memcpy(Chunk.Type.data(), Head + 4, 4);
    if (IsType(Chunk.Type, "IEND") && Length <= 0x7FFFFFFFu && Source.Skip(std::int64_t{Length} + 4))
      End = Source.Position();
    if (Length > 0x7FFFFFFFu || IsType(Chunk.Type, "IEND")) break;
    if (IsType(Chunk.Type, "PLTE") && Place == 0) Place = 1;
    if (IsType(Chunk.Type, "IDAT")) Place = 2;
    Chunk.Place = static_cast<std::uint8_t>(Place);
    TPngChunkUse Use = ChunkUse(Chunk.Type);
    if (Use == TPngChunkUse::Look) {
      const bool Met = std::find(LooksMet.begin(), LooksMet.end(), Chunk.Type) != LooksMet.end();
      const bool Small = Length <= PngSmallChunk || IsType(Chunk.Type, "iCCP") ||
                         (IsType(Chunk.Type, "eXIf") && Length <= PngChunkLimit);
      if (Met || !Small) Use = TPngChunkUse::Kept;
      else LooksMet.push_back(Chunk.Type);
    }
    if (Use == TPngChunkUse::Kept &&
        (Kept >= PngChunksKept || Length > PngChunkLimit || Bytes + Length > PngChunkBytesKept)) {
      ++Params.PngChunksLeftOut;
      Use = TPngChunkUse::Written;
    }
    if (Use == TPngChunkUse::Frame && IsType(Chunk.Type, "fcTL")) {
      ++Frames;
      FrameFirst = FrameFirst || Place < 2;
    }
    if (Use == TPngChunkUse::TiedToOld) {
      const std::string Name(Chunk.Type.data(), 4);
      std::vector<std::string>& Names = Params.PngChunksTiedToPixels;
      if (std::find(Names.begin(), Names.end(), Name) == Names.end()) {
        if (Names.size() < PngTiedNamesKept) Names.push_back(Name);
        else ++Params.PngChunksLeftOut;
      }
    }
    if (Use != TPngChunkUse::Look && Use != TPngChunkUse::Kept) {
      if (!Source.Skip(std::int64_t{Length} + 4)) break;
      continue;
    }
    if (std::int64_t{Length} + 4 > Source.Remaining()) break;
    // Of a profile only its name: the profile itself is the record's.
    const bool Profile = IsType(Chunk.Type, "iCCP");
    const std::uint32_t Taken = Profile ? std::min(Length, PngKeywordRoom) : Length;
    Chunk.Data.resize(Taken);
    std::uint8_t Crc[4];
    if (!Source.Read(Chunk.Data.data(), Taken) || !Source.Skip(Length - Taken) || !Source.Read(Crc, 4)) break;
    if (Profile) {
      Chunk.Data.erase(std::find(Chunk.Data.begin(), Chunk.Data.end(), 0), Chunk.Data.end());
      if (!IsKeyword(Chunk.Data)) continue;
    } else {
      // A damaged chunk is not written back as if it were whole.
      uLong Sum = crc32(0, Head + 4, 4);
      // zlib takes no data as a call for the initial value.
      if (!Chunk.Data.empty()) Sum = crc32(Sum, Chunk.Data.data(), static_cast<uInt>(Chunk.Data.size()));
      if (Sum != png_get_uint_32(Crc)) {
        ++Params.PngChunksLeftOut;
        continue;
      }
    }
    if (Use == TPngChunkUse::Kept) {
      ++Kept;
      Bytes += Length;
    }
    if (IsType(Chunk.Type, "eXIf") && Use == TPngChunkUse::Look) LoadPngExif(Chunk.Data, Params);
    Params.PngChunks.push_back(std::move(Chunk));
  }
  Params.PngFramesLeftOut = std::max(Frames - (FrameFirst ? 1 : 0), 0);
  Source.Seek(Start);
  return End;
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
  // Only a resolution in metres is one: a pHYs of unknown unit gives the
  // pixels' shape alone, which a save writes back as it was.
  Params.DpiStated = png_get_pHYs(R.Png, R.Info, &ResX, &ResY, &Unit) != 0 && Unit == PNG_RESOLUTION_METER;
  Params.DpiX = Params.DpiStated ? DpiOfMetres(ResX, RvDefaultDpiX) : RvDefaultDpiX;
  Params.DpiY = Params.DpiStated ? DpiOfMetres(ResY, RvDefaultDpiY) : RvDefaultDpiY;

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

enum TPngLayout {
  plGray1,     // the rows of a 1-bit picture as they are
  plGray,      // gray levels of Depth bits
  plGrayAlpha, // 8-bit gray and alpha
  plIndexed,   // the entries of Indexes, Depth bits each
  plPalette,   // the quantiser's entries after entry 0, 8 bits each
  plRGB,
  plRGBA
};

struct TPngWriteJob {
  TRvBitmap* Source = nullptr;
  TPngLayout Layout = plRGB;
  int ColorType = PNG_COLOR_TYPE_RGB;
  int Depth = 8;
  const TRvMask* Mask = nullptr; // given, not full, and written
  const TRvPaletteMapper* Mapper = nullptr;
  const std::uint8_t* Indexes = nullptr; // width x height, top row first
  png_color Palette[256];
  int PaletteCount = 0;
  std::uint8_t* Buffer = nullptr;
  // The file's own colour type and depth (and palette): its chunks tied to
  // the layout go back as they were, its tRNS when FileTransparency.
  bool FileLayout = false;
  bool FileTransparency = false;
  // Else tRNS: the alphas of the palette written.
  png_byte Alphas[256];
  int AlphaCount = 0;
  bool HasBackground = false;
  png_color_16 Background{};
  bool HasSignificant = false;
  png_color_8 Significant{};
  bool HasHistogram = false;
  png_uint_16 Histogram[256];
  bool HasPhys = false;
  png_uint_32 PhysX = 0, PhysY = 0;
  int PhysUnit = PNG_RESOLUTION_METER;
  // The colour profile to write, null for none, and its name.
  const std::vector<std::uint8_t>* Profile = nullptr;
  const char* ProfileName = "ICC profile";
  // The file's other chunks, in their places.
  png_unknown_chunk* Chunks = nullptr;
  int ChunkCount = 0;
};

// A profile's data colour space (bytes 16 to 19 of its header) fits the
// colour type: gray for gray data, RGB for the others. libpng refuses any
// other pairing, and a gray picture read from a gray file must not take an
// RGB profile nor the reverse.
bool ProfileFits(const std::vector<std::uint8_t>& Profile, int ColorType) {
  if (Profile.size() < 20) return false;
  const bool GrayLayout = (ColorType & PNG_COLOR_MASK_COLOR) == 0;
  return std::memcmp(Profile.data() + 16, GrayLayout ? "GRAY" : "RGB ", 4) == 0;
}

// 255 where the mask has no pixel: a mask of another size than the
// picture must not be read outside its rows.
std::uint8_t AlphaAt(const TRvMask* Mask, int X, int Y) {
  if (Mask == nullptr || X >= Mask->Width() || Y >= Mask->Height()) return 255;
  const int V = Mask->GetPixel(X, Y);
  return Mask->BitCount() == 1 ? (V != 0 ? 255 : 0) : static_cast<std::uint8_t>(V);
}

std::uint32_t PackedAt(const std::uint8_t* BGR) {
  return std::uint32_t{BGR[2]} << 16 | std::uint32_t{BGR[1]} << 8 | BGR[0];
}

// Samples of Depth bits (1, 2, 4 or 8), the leftmost in the high bits.
template <typename TSample>
void PackRow(std::uint8_t* Out, int Width, int Depth, TSample Sample) {
  if (Depth == 8) {
    for (int X = 0; X < Width; ++X) Out[X] = static_cast<std::uint8_t>(Sample(X));
    return;
  }
  std::memset(Out, 0, (static_cast<std::size_t>(Width) * Depth + 7) / 8);
  const int PerByte = 8 / Depth;
  for (int X = 0; X < Width; ++X)
    Out[X / PerByte] |= static_cast<std::uint8_t>(Sample(X) << (8 - Depth * (X % PerByte + 1)));
}

void BuildRow(const TPngWriteJob& J, const std::uint8_t* Row, int Y, int Width) {
  std::uint8_t* Out = J.Buffer;
  if (J.Layout == plGray) {
    const int Step = 255 / ((1 << J.Depth) - 1);
    PackRow(Out, Width, J.Depth, [&](int X) { return Row[3 * X] / Step; });
  } else if (J.Layout == plIndexed) {
    const std::uint8_t* Indexes = J.Indexes + static_cast<std::size_t>(Y) * static_cast<std::size_t>(Width);
    PackRow(Out, Width, J.Depth, [&](int X) { return Indexes[X]; });
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
  png_set_IHDR(Wr.Png, Wr.Info, static_cast<png_uint_32>(std::max(Width, 0)),
               static_cast<png_uint_32>(std::max(Height, 0)), J.Depth, J.ColorType,
               Params.PngInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (J.PaletteCount > 0) png_set_PLTE(Wr.Png, Wr.Info, J.Palette, J.PaletteCount);
  if (J.AlphaCount > 0) png_set_tRNS(Wr.Png, Wr.Info, J.Alphas, J.AlphaCount, nullptr);
  if (J.Profile != nullptr)
    png_set_iCCP(Wr.Png, Wr.Info, J.ProfileName, PNG_COMPRESSION_TYPE_BASE, J.Profile->data(),
                 static_cast<png_uint_32>(J.Profile->size()));
  if (J.HasSignificant) png_set_sBIT(Wr.Png, Wr.Info, &J.Significant);
  if (J.HasHistogram) png_set_hIST(Wr.Png, Wr.Info, J.Histogram);
  if (J.HasBackground) png_set_bKGD(Wr.Png, Wr.Info, &J.Background);
  if (J.HasPhys) png_set_pHYs(Wr.Png, Wr.Info, J.PhysX, J.PhysY, J.PhysUnit);
  // Every chunk handed over is written, whatever its name says about
  // copying: this program knows why each one is kept.
  png_set_keep_unknown_chunks(Wr.Png, PNG_HANDLE_CHUNK_ALWAYS, nullptr, 0);
  if (J.ChunkCount > 0) png_set_unknown_chunks(Wr.Png, Wr.Info, J.Chunks, J.ChunkCount);
  switch (Params.PngFilter) {
  case 0: png_set_filter(Wr.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE); break;
  case 1: png_set_filter(Wr.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB); break;
  case 2: png_set_filter(Wr.Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH); break;
  default: break;
  }
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

// ---- What the file held, for the layout written

const TRvPngChunk* KeptChunk(const TIOParamsVals& Params, const char* Type) {
  for (const TRvPngChunk& C : Params.PngChunks)
    if (IsType(C.Type, Type)) return &C;
  return nullptr;
}

// The colour type of the file the record was read from.
int FileColorType(const TIOParamsVals& Params) {
  switch (Params.SamplesPerPixel) {
  case 1: return Params.ColorMapCount > 0 ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_GRAY;
  case 2: return PNG_COLOR_TYPE_GRAY_ALPHA;
  case 4: return PNG_COLOR_TYPE_RGB_ALPHA;
  default: return PNG_COLOR_TYPE_RGB;
  }
}

bool PackableDepth(int Depth) { return Depth == 1 || Depth == 2 || Depth == 4 || Depth == 8; }

// The colour a tRNS colour key of a gray or RGB file of Depth bits names,
// packed; -1 for none, or a key no sample of 8 bits or less can hold.
std::int64_t KeyColour(const TRvPngChunk* Trns, int ColorType, int Depth) {
  if (Trns == nullptr || Depth > 8) return -1;
  const std::vector<std::uint8_t>& D = Trns->Data;
  const unsigned Max = (1u << Depth) - 1;
  if (ColorType == PNG_COLOR_TYPE_GRAY && D.size() == 2 && png_get_uint_16(D.data()) <= Max) {
    const std::uint32_t G = png_get_uint_16(D.data()) * 255 / Max;
    return G << 16 | G << 8 | G;
  }
  if (ColorType != PNG_COLOR_TYPE_RGB || D.size() != 6) return -1;
  const unsigned R = png_get_uint_16(&D[0]), G = png_get_uint_16(&D[2]), B = png_get_uint_16(&D[4]);
  return R <= Max && G <= Max && B <= Max ? std::int64_t{R} << 16 | G << 8 | B : -1;
}

// How a colour key holds the picture's transparency: 1 written with the
// key; 0 opaque, written without it (an opaque pixel may have its colour);
// -1 not at all (alpha between, a transparent pixel of another colour, or
// an opaque one of the key's beside transparent ones).
int KeyFit(TRvBitmap& Source24, const TRvMask* Mask, std::int64_t Key) {
  bool Clear = false, OpaqueKey = false;
  for (int Y = 0; Y < Source24.Height(); ++Y) {
    const std::uint8_t* Row = Source24.Scanline(Y);
    for (int X = 0; X < Source24.Width(); ++X) {
      const std::uint8_t A = AlphaAt(Mask, X, Y);
      const bool IsKey = PackedAt(Row + 3 * X) == Key;
      if (A == 0 && !IsKey) return -1;
      if (A != 0 && A != 255) return -1;
      Clear = Clear || A == 0;
      OpaqueKey = OpaqueKey || (A == 255 && IsKey);
    }
  }
  if (Clear) return OpaqueKey ? -1 : 1;
  return OpaqueKey || Key < 0 ? 0 : 1;
}

// Every pixel a gray that a sample of Depth bits holds exactly.
bool GrayLevelsFit(TRvBitmap& Source24, int Depth) {
  const int Step = 255 / ((1 << Depth) - 1);
  for (int Y = 0; Y < Source24.Height(); ++Y) {
    const std::uint8_t* P = Source24.Scanline(Y);
    for (int X = 0; X < Source24.Width(); ++X, P += 3)
      if (P[0] != P[1] || P[1] != P[2] || P[0] % Step != 0) return false;
  }
  return true;
}

// The picture's colour-and-alpha pairs in the order met, up to Count;
// false when it has more.
bool FewColours(TRvBitmap& Source24, const TRvMask* Mask, int Count, TRGB* Colours, std::uint8_t* Alphas,
                int& Found) {
  std::uint32_t Keys[256];
  Found = 0;
  for (int Y = 0; Y < Source24.Height(); ++Y) {
    const std::uint8_t* Row = Source24.Scanline(Y);
    for (int X = 0; X < Source24.Width(); ++X) {
      const std::uint32_t Key = std::uint32_t{AlphaAt(Mask, X, Y)} << 24 | PackedAt(Row + 3 * X);
      if (std::find(Keys, Keys + Found, Key) != Keys + Found) continue;
      if (Found == Count) return false;
      Keys[Found] = Key;
      std::memcpy(&Colours[Found], Row + 3 * X, 3);
      Alphas[Found++] = static_cast<std::uint8_t>(Key >> 24);
    }
  }
  return true;
}

void SetPalette(TPngWriteJob& J, const TRGB* Colours, const std::uint8_t* Alphas, int Count) {
  J.PaletteCount = Count;
  J.AlphaCount = 0;
  for (int I = 0; I < Count; ++I) {
    J.Palette[I].red = Colours[I].r;
    J.Palette[I].green = Colours[I].g;
    J.Palette[I].blue = Colours[I].b;
    J.Alphas[I] = Alphas != nullptr ? Alphas[I] : 255;
    // tRNS may end before the palette: the entries after it are opaque.
    if (J.Alphas[I] != 255) J.AlphaCount = I + 1;
  }
}

// The layout the picture is written in: the file's own while the picture
// still fits it (its palette, its gray depth, its colour key), else the
// nearest that holds the picture.
void ChooseLayout(TPngWriteJob& J, TRvBitmap& Bitmap, const TIOParamsVals& Params, const TRvMask* Mask,
                  std::unique_ptr<TRvBitmap>& Holder, std::vector<std::uint8_t>& Indexes) {
  const int FileType = FileColorType(Params), FileDepth = Params.BitsPerSample;
  const TRvPngChunk* Trns = KeptChunk(Params, "tRNS");
  J.Mask = Mask;
  J.Source = &Bitmap;
  J.Depth = 8;
  // The palette the file was read with, its entries in their order and
  // depth, each with its own alpha.
  if (FileType == PNG_COLOR_TYPE_PALETTE && PackableDepth(FileDepth) && Params.ColorMapCount <= (1 << FileDepth)) {
    std::uint8_t Alphas[256];
    std::memset(Alphas, 255, sizeof(Alphas));
    if (Trns != nullptr)
      std::memcpy(Alphas, Trns->Data.data(), std::min<std::size_t>(Trns->Data.size(), Params.ColorMapCount));
    if (RvIndexesInPalette(Bitmap, Mask, Params.ColorMap.get(), Alphas, Params.ColorMapCount, Indexes)) {
      J.Layout = plIndexed;
      J.Depth = FileDepth;
      J.Indexes = Indexes.data();
      SetPalette(J, Params.ColorMap.get(), nullptr, Params.ColorMapCount);
      J.FileLayout = true;
      // A tRNS longer than the palette is none: libpng's reading left it out.
      J.FileTransparency = Trns != nullptr && Trns->Data.size() <= static_cast<std::size_t>(Params.ColorMapCount);
      return;
    }
  }
  if (Params.BitsPerSample == 1 && Bitmap.PixelFormat() == rvpf1Bit && Mask == nullptr) {
    J.Layout = plGray1;
    J.Depth = 1;
    J.FileLayout = FileType == PNG_COLOR_TYPE_GRAY;
    return;
  }
  TRvBitmap* Source24 = RvAs24Bit(Bitmap, Holder);
  // An empty picture goes to libpng as it is, which refuses it.
  if (Source24 == nullptr) return;
  J.Source = Source24;
  // A gray file in its depth, or an RGB one, with the colour key it had.
  if ((FileType == PNG_COLOR_TYPE_GRAY && PackableDepth(FileDepth) && GrayLevelsFit(*Source24, FileDepth)) ||
      (FileType == PNG_COLOR_TYPE_RGB && FileDepth == 8)) {
    const int Fit = KeyFit(*Source24, Mask, KeyColour(Trns, FileType, FileDepth));
    if (Fit >= 0) {
      J.Layout = FileType == PNG_COLOR_TYPE_GRAY ? plGray : plRGB;
      J.Depth = FileDepth;
      J.Mask = nullptr;
      J.FileLayout = true;
      J.FileTransparency = Fit > 0;
      return;
    }
  }
  // One bit a pixel: the picture's own two colours with their alphas;
  // plain black and white, or a picture of more colours, as 1-bit gray.
  if (Params.BitsPerSample == 1) {
    TRGB Colours[2];
    std::uint8_t Alphas[2];
    int Found = 0;
    if (FewColours(*Source24, Mask, 2, Colours, Alphas, Found)) {
      bool BlackWhite = true;
      for (int I = 0; I < Found; ++I) {
        const std::uint32_t C = RvRGBToPacked(Colours[I]);
        BlackWhite = BlackWhite && Alphas[I] == 255 && (C == 0 || C == 0xFFFFFF);
      }
      if (!BlackWhite && RvIndexesInPalette(*Source24, Mask, Colours, Alphas, Found, Indexes)) {
        J.Layout = plIndexed;
        J.Depth = 1;
        J.Indexes = Indexes.data();
        SetPalette(J, Colours, Alphas, Found);
        return;
      }
    }
    TRGB TwoColors[2];
    J.Source = RvAsBlackWhite(Bitmap, Holder, TwoColors);
    if (J.Source == nullptr) J.Source = &Bitmap;
    J.Layout = plGray1;
    J.Depth = 1;
    J.Mask = nullptr;
    return;
  }
  // A gray file's picture goes back as gray: a palette holds 255 of its
  // 256 shades.
  const bool GrayFile = Params.ColorMapCount == 0 && (Params.SamplesPerPixel == 1 || Params.SamplesPerPixel == 2);
  // A palette of partial alphas the picture no longer fits (resized, its
  // colours changed) would keep one transparent entry: its alphas go as RGBA.
  const bool PartialAlphas = FileType == PNG_COLOR_TYPE_PALETTE && Trns != nullptr &&
                             std::any_of(Trns->Data.begin(), Trns->Data.end(), [](std::uint8_t A) { return A != 0 && A != 255; });
  if (GrayFile && RvAllGray(*Source24))
    J.Layout = Mask != nullptr ? plGrayAlpha : plGray;
  else if (Params.SamplesPerPixel == 1 && !(PartialAlphas && Mask != nullptr))
    J.Layout = plPalette;
  else
    J.Layout = Mask != nullptr ? plRGBA : plRGB;
  J.FileLayout = FileDepth == 8 && ((J.Layout == plGrayAlpha && FileType == PNG_COLOR_TYPE_GRAY_ALPHA) ||
                                    (J.Layout == plRGBA && FileType == PNG_COLOR_TYPE_RGB_ALPHA));
}

int LayoutColorType(TPngLayout Layout) {
  switch (Layout) {
  case plGray1:
  case plGray: return PNG_COLOR_TYPE_GRAY;
  case plGrayAlpha: return PNG_COLOR_TYPE_GRAY_ALPHA;
  case plIndexed:
  case plPalette: return PNG_COLOR_TYPE_PALETTE;
  case plRGBA: return PNG_COLOR_TYPE_RGB_ALPHA;
  default: return PNG_COLOR_TYPE_RGB;
  }
}

// The colour of the file's bKGD.
bool FileBackground(const TIOParamsVals& Params, const TRvPngChunk& Chunk, TRGB& Colour) {
  const std::vector<std::uint8_t>& D = Chunk.Data;
  const int Type = FileColorType(Params), Depth = Params.BitsPerSample;
  if (Type == PNG_COLOR_TYPE_PALETTE) {
    if (D.size() != 1 || D[0] >= Params.ColorMapCount) return false;
    Colour = Params.ColorMap[D[0]];
  } else if ((Type & PNG_COLOR_MASK_COLOR) == 0) {
    if (D.size() != 2) return false;
    Colour.r = Colour.g = Colour.b = SampleToByte(png_get_uint_16(D.data()), Depth);
  } else {
    if (D.size() != 6) return false;
    Colour.r = SampleToByte(png_get_uint_16(&D[0]), Depth);
    Colour.g = SampleToByte(png_get_uint_16(&D[2]), Depth);
    Colour.b = SampleToByte(png_get_uint_16(&D[4]), Depth);
  }
  return true;
}

// A colour as bKGD holds it in the layout written: the nearest palette
// entry, a gray level of the depth, or 8-bit samples.
png_color_16 BackgroundIn(const TPngWriteJob& J, const TRGB& C) {
  png_color_16 B{};
  if (J.PaletteCount > 0) {
    int Best = INT32_MAX;
    for (int I = 0; I < J.PaletteCount; ++I) {
      const int R = J.Palette[I].red - C.r, G = J.Palette[I].green - C.g, Bl = J.Palette[I].blue - C.b;
      const int D = R * R + G * G + Bl * Bl;
      if (D < Best) {
        Best = D;
        B.index = static_cast<png_byte>(I);
      }
    }
  } else if ((J.ColorType & PNG_COLOR_MASK_COLOR) == 0) {
    const int Max = (1 << J.Depth) - 1;
    B.gray = static_cast<png_uint_16>((RvRGBToGray(C) * Max + 127) / 255);
  } else {
    B.red = C.r;
    B.green = C.g;
    B.blue = C.b;
  }
  return B;
}

// The file's sBIT for the channels written, each within the depth written.
bool SignificantBits(const TIOParamsVals& Params, const TRvPngChunk& Chunk, const TPngWriteJob& J,
                     png_color_8& Out) {
  const std::vector<std::uint8_t>& D = Chunk.Data;
  const int Type = FileColorType(Params);
  const bool Gray = (Type & PNG_COLOR_MASK_COLOR) == 0;
  const bool Alpha = (Type & PNG_COLOR_MASK_ALPHA) != 0;
  if (D.size() != (Gray ? 1u : 3u) + (Alpha ? 1u : 0u)) return false;
  const int Limit = J.ColorType == PNG_COLOR_TYPE_PALETTE ? 8 : J.Depth;
  const auto Clamp = [&](int V) { return static_cast<png_byte>(std::clamp(V, 1, Limit)); };
  const int R = D[0], G = Gray ? D[0] : D[1], B = Gray ? D[0] : D[2];
  Out.red = Clamp(R);
  Out.green = Clamp(G);
  Out.blue = Clamp(B);
  Out.gray = Clamp(Gray ? D[0] : std::max({R, G, B}));
  Out.alpha = Clamp(Alpha ? D.back() : Limit);
  return true;
}

// An sCAL's two lengths exchanged: a pixel's width is its height once
// turned a quarter.
std::vector<std::uint8_t> ScaleTurned(const std::vector<std::uint8_t>& Data) {
  const auto Zero = std::find(Data.begin(), Data.end(), 0);
  if (Data.empty() || Zero == Data.end()) return Data;
  std::vector<std::uint8_t> Out{Data.front()};
  Out.insert(Out.end(), Zero + 1, Data.end());
  Out.push_back(0);
  Out.insert(Out.end(), Data.begin() + 1, Zero);
  return Out;
}

// The chunks the file held, for the layout chosen, in file order and in
// their places: those tied to the layout as they were when it is the
// file's, else converted (hIST then left out: its palette is gone); the
// resolution as the record has it; what states the pixels' shape (pHYs,
// sCAL, the Exif resolution) turned with them when the picture was turned
// a quarter since the read, whatever its sides are now; the rest as they
// were. Copies holds the chunks changed on the way.
void PrepareChunks(TPngWriteJob& J, const TIOParamsVals& Params, std::vector<png_unknown_chunk>& Chunks,
                   std::vector<std::vector<std::uint8_t>>& Copies) {
  const bool Turned = Params.QuarterTurned;
  if (const TRvPngChunk* C = KeptChunk(Params, "bKGD"); C != nullptr && !J.FileLayout) {
    TRGB Colour;
    J.HasBackground = FileBackground(Params, *C, Colour);
    J.Background = BackgroundIn(J, Colour);
  }
  if (const TRvPngChunk* C = KeptChunk(Params, "sBIT"); C != nullptr && !J.FileLayout)
    J.HasSignificant = SignificantBits(Params, *C, J, J.Significant);
  if (Params.DpiStated && KeptChunk(Params, "pHYs") == nullptr) {
    J.HasPhys = true;
    J.PhysX = PixelsPerMetre(Params.DpiX);
    J.PhysY = PixelsPerMetre(Params.DpiY);
  }
  if (const TRvPngChunk* C = KeptChunk(Params, "iCCP"); C != nullptr && !C->Data.empty()) {
    Copies.emplace_back(C->Data);
    Copies.back().push_back(0);
    J.ProfileName = reinterpret_cast<const char*>(Copies.back().data());
  }
  for (const TRvPngChunk& C : Params.PngChunks) {
    png_unknown_chunk U{};
    std::memcpy(U.name, C.Type.data(), 4);
    U.data = const_cast<png_byte*>(C.Data.data());
    U.size = C.Data.size();
    U.location = static_cast<png_byte>(C.Place == 0 ? PNG_HAVE_IHDR : C.Place == 1 ? PNG_HAVE_PLTE : PNG_AFTER_IDAT);
    // One of each chunk the PNG rules allow once.
    bool Once = false;
    for (const char* Name : {"tRNS", "bKGD", "sBIT", "hIST", "pHYs", "iCCP", "eXIf"})
      Once = Once || IsType(C.Type, Name);
    if (Once && KeptChunk(Params, C.Type.data()) != &C) continue;
    if ((IsType(C.Type, "tRNS") && !J.FileTransparency) || IsType(C.Type, "iCCP") ||
        ((IsType(C.Type, "bKGD") || IsType(C.Type, "sBIT")) && !J.FileLayout) ||
        (IsType(C.Type, "hIST") && (!J.FileLayout || J.Layout != plIndexed)))
      continue;
    if (IsType(C.Type, "pHYs")) {
      const bool Whole = C.Data.size() == 9;
      const bool Shape = Whole && C.Data[8] != PNG_RESOLUTION_METER;
      if (!Params.DpiStated && !Shape) continue;
      // The stored values turned with the pixels, and the dots per inch the
      // read gave them. While the record still holds those, the stored
      // values are written: whole dots per inch are only their rounding.
      png_uint_32 X = Whole ? png_get_uint_32(C.Data.data()) : 0, Y = Whole ? png_get_uint_32(C.Data.data() + 4) : 0;
      std::int32_t DpiX = DpiOfMetres(X, RvDefaultDpiX), DpiY = DpiOfMetres(Y, RvDefaultDpiY);
      if (Turned) {
        std::swap(X, Y);
        std::swap(DpiX, DpiY);
      }
      if (Params.DpiStated && (!Whole || Shape || DpiX != Params.DpiX || DpiY != Params.DpiY)) {
        X = PixelsPerMetre(Params.DpiX);
        Y = PixelsPerMetre(Params.DpiY);
      }
      std::vector<std::uint8_t>& Data = Copies.emplace_back(9, Params.DpiStated ? PNG_RESOLUTION_METER : C.Data[8]);
      png_save_uint_32(Data.data(), X);
      png_save_uint_32(Data.data() + 4, Y);
      U.data = Data.data();
      U.size = Data.size();
    }
    // Exif with the orientation of the record, as the JPEG writer does: a
    // picture turned upright says so. Its resolution turns as the pHYs does.
    const bool Oriented = Params.ExifOrientation >= 1 && Params.ExifOrientation <= 8;
    if (IsType(C.Type, "eXIf") && (Oriented || Turned)) {
      std::vector<std::uint8_t>& Block = Copies.emplace_back(ExifHead, ExifHead + sizeof(ExifHead));
      Block.insert(Block.end(), C.Data.begin(), C.Data.end());
      const auto Size = static_cast<std::int64_t>(Block.size());
      if (Oriented) RvSetExifOrientation(Block.data(), Size, Params.ExifOrientation);
      if (Turned) RvSwapExifResolution(Block.data(), Size);
      U.data = Block.data() + sizeof(ExifHead);
    }
    if (IsType(C.Type, "sCAL") && Turned) U.data = Copies.emplace_back(ScaleTurned(C.Data)).data();
    Chunks.push_back(U);
  }
  J.Chunks = Chunks.data();
  J.ChunkCount = static_cast<int>(Chunks.size());
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
  Params.Trailer = TRvTrailer{};
  Params.PngChunks.clear();
  Params.PngChunksLeftOut = 0;
  Params.PngChunksTiedToPixels.clear();
  Params.PngFramesLeftOut = 0;
  // What a save writes back matters only for a picture read whole.
  if (!HeaderOnly && Params.JpegScale != 0) {
    const std::int64_t End = KeepPngChunks(Source, Params);
    // What follows IEND is another program's: a save copies it after its own.
    if (End >= 0) RvNoteTrailer(Stream, End, rvftPNG, Params);
  }
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
  std::vector<std::uint8_t> Indexes;
  ChooseLayout(J, Bitmap, Params, AlphaMask != nullptr && !AlphaMask->Full() ? AlphaMask : nullptr, Holder, Indexes);
  J.ColorType = LayoutColorType(J.Layout);
  if (ProfileFits(Params.IccProfile, J.ColorType)) J.Profile = &Params.IccProfile;

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
    // Entry 0 stands for every pixel that is not wholly opaque.
    J.Alphas[0] = 0;
    J.AlphaCount = J.Mask != nullptr ? 1 : 0;
  }
  std::vector<png_unknown_chunk> Chunks;
  std::vector<std::vector<std::uint8_t>> Copies;
  PrepareChunks(J, Params, Chunks, Copies);
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

// Headers that claim more than their data hold: every reader refuses the
// picture before allocating it, while legal files that compress a large
// blank picture into a few bytes still read.
#include "image/io/bmp/rvbmp.h"
#include "image/io/bmp/rvico.h"
#include "image/io/codectest_util.h"
#include "image/io/gif/giflzw.h"
#include "image/io/gif/gifread.h"
#include "image/io/gif/gifwrite.h"
#include "image/io/jpeg/jpegfilt.h"
#include "image/io/pcx/rvpcx.h"
#include "image/io/png/rvpng.h"
#include "image/io/pnm/rvpnm.h"
#include "image/io/tga/rvtga.h"
#include "image/io/tiff/tiffread.h"
#include "image/io/tiff/tiffwrite.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <cstring>
#include <string>

namespace {

using namespace rv;
using namespace codectest;

enum TFamily { fyBmp, fyBmpRle, fyIco, fyPcx, fyTga, fyTgaRle, fyPnm, fyTiff, fyTiffLzw, fyTiffPackBits, fyTiffG4, fyGif, fyPng, fyJpeg };

const char* Name(TFamily F) {
  static const char* const Names[] = {"BMP",  "BMP RLE4", "ICO",        "PCX",         "TGA",         "TGA RLE", "PNM",
                                      "TIFF", "TIFF LZW", "TIFF PackBits", "TIFF G4", "GIF",     "PNG", "JPEG"};
  return Names[F];
}

TReadFn Reader(TFamily F) {
  switch (F) {
  case fyBmp:
  case fyBmpRle: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { BmpReadStream(S, &D.Bitmap, 0, D.Params, R, false); };
  case fyIco: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { IcoReadStream(S, &D.Bitmap, D.Params, false, D.Mask, R, false); };
  case fyPcx: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { PcxReadStream(S, D.Bitmap, D.Params, false, R, S.Size()); };
  case fyTga:
  case fyTgaRle: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { TgaReadStream(S, D.Bitmap, D.Params, R, false, D.Mask, false); };
  case fyPnm: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { PnmReadStream(S, D.Bitmap, D.Params, R, false); };
  case fyGif:
    return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) {
      int Count = 0;
      D.Params.GifLzwDecompress = GifLzwDecompress;
      GifReadStream(S, D.Bitmap, Count, false, D.Mask, false, R, D.Params);
    };
  case fyPng: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { PngReadStream(S, D.Bitmap, D.Params, R, false, D.Mask, false); };
  case fyJpeg: return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) { JpegReadStream(S, D.Bitmap, D.Params, false, R); };
  default:
    return [](platform::TStream& S, TDecoded& D, TRvProgressRec& R) {
      int Count = 0;
      D.Params.TiffLzwDecompress = TiffLzwDecompress;
      TiffReadStream(D.Bitmap, S, Count, false, false, D.Mask, false, R, &D.Params);
    };
  }
}

// A picture of one colour (a 1-bit one for the fax scheme).
void Plain(TRvBitmap& B, int W, int H, bool OneBit = false) {
  RvAllocateBitmap(B, W, H, OneBit ? rvpf1Bit : rvpf24Bit);
  for (int Y = 0; Y < H; ++Y) std::memset(B.Scanline(Y), OneBit ? 0xFF : 0xC8, static_cast<std::size_t>(B.RowLen()));
}

// Noise, so that the data are about as large as the pixels.
void Noise(TRvBitmap& B, int W, int H) {
  RvAllocateBitmap(B, W, H, rvpf24Bit);
  std::uint32_t S = 7;
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < B.RowLen(); ++X) B.Scanline(Y)[X] = static_cast<std::uint8_t>((S = S * 1103515245u + 12345u) >> 24);
}

// The family's file of Source, written by our own writer.
Bytes Write(TFamily F, TRvBitmap& Source) {
  TLzwSlots Slots;
  TIOParamsVals P;
  platform::TMemoryStream S;
  TRvLocalProgress R;
  switch (F) {
  case fyBmp:
  case fyBmpRle:
    P.BitsPerSample = 4;
    P.SamplesPerPixel = 1;
    P.BmpCompression = F == fyBmpRle ? 1 : 0;
    BmpWriteStream(S, Source, P, R.Rec);
    break;
  case fyPcx: PcxWriteStream(S, Source, P, R.Rec); break;
  case fyTga:
  case fyTgaRle:
    P.TgaCompressed = F == fyTgaRle;
    TgaWriteStream(S, Source, P, nullptr, R.Rec);
    break;
  case fyPnm: PnmWriteStream(S, Source, P, R.Rec); break;
  case fyGif:
    P.GifLzwCompress = GifLzwCompress;
    GifWriteStream(S, Source, P, R.Rec);
    break;
  case fyPng: PngWriteStream(S, Source, P, nullptr, R.Rec); break;
  case fyJpeg: JpegWriteStream(S, Source, P, R.Rec); break;
  default:
    P.TiffCompression = F == fyTiffLzw ? 5 : F == fyTiffPackBits ? 8 : F == fyTiffG4 ? 4 : 0;
    P.BitsPerSample = F == fyTiffG4 ? 1 : 8;
    P.SamplesPerPixel = F == fyTiffG4 ? 1 : 3;
    TiffWriteStream(S, Source, R.Rec, P);
    break;
  }
  EXPECT_FALSE(R.Rec.IsAborting()) << Name(F);
  return S.Data();
}

void Put16(Bytes& B, std::size_t At, unsigned V, bool Big = false) {
  B.at(At + (Big ? 1 : 0)) = static_cast<std::uint8_t>(V);
  B.at(At + (Big ? 0 : 1)) = static_cast<std::uint8_t>(V >> 8);
}
void Put32(Bytes& B, std::size_t At, std::uint32_t V, bool Big = false) {
  Put16(B, At + (Big ? 2 : 0), V & 0xFFFF, Big);
  Put16(B, At + (Big ? 0 : 2), V >> 16, Big);
}

// The first At where Pattern stands in B.
std::size_t Find(const Bytes& B, std::initializer_list<std::uint8_t> Pattern) {
  for (std::size_t At = 0; At + Pattern.size() <= B.size(); ++At)
    if (std::equal(Pattern.begin(), Pattern.end(), B.begin() + static_cast<std::ptrdiff_t>(At))) return At;
  ADD_FAILURE() << "pattern not found";
  return 0;
}

// A legal 32 x 32 file of the family, its height (or for GIF and JPEG, whose
// height fields are short, its width and height) set to many times more than
// the data hold. Each would take from 30 MB to 800 MB if allocated.
Bytes Enlarged(TFamily F) {
  TRvBitmap Source;
  if (F == fyIco) {
    // A 4-bit icon: directory, 40-byte header of a picture 1 000 000 high, palette, 32 rows and the mask.
    Bytes B = {0, 0, 1, 0, 1, 0, 0, 0, 16, 0, 1, 0, 4, 0, 0, 0, 0, 0, 22, 0, 0, 0};
    B.resize(22 + 40 + 64 + 32 * 16 + 32 * 4);
    Put32(B, 14, static_cast<std::uint32_t>(B.size() - 22));
    Put32(B, 22, 40);
    Put32(B, 26, 32);
    Put32(B, 30, 2000000);
    Put16(B, 34, 1);
    Put16(B, 36, 4);
    return B;
  }
  Noise(Source, 32, 32);
  if (F == fyTiffG4) {
    Source.ConvertPixelFormat(rvpf1Bit);
  }
  Bytes B = Write(F, Source);
  switch (F) {
  case fyBmp: Put32(B, 22, 1000000); break;
  case fyBmpRle:
    // Without its end-of-bitmap escape: an escape would make the rows
    // never reached a legal blank.
    Put32(B, 22, 1000000);
    B.resize(B.size() - 2);
    break;
  case fyPcx: Put16(B, 10, 65535); break;            // YMax
  case fyTga:
  case fyTgaRle: Put16(B, 14, 65535); break;
  case fyPnm: {
    const std::string Text(B.begin(), B.begin() + 16);
    const std::size_t At = Text.find("32 32");
    const std::string Bigger = "32 2000000";
    B.erase(B.begin() + static_cast<std::ptrdiff_t>(At), B.begin() + static_cast<std::ptrdiff_t>(At + 5));
    B.insert(B.begin() + static_cast<std::ptrdiff_t>(At), Bigger.begin(), Bigger.end());
    break;
  }
  case fyGif: {
    const std::size_t At = Find(B, {0x2C, 0, 0, 0, 0, 32, 0, 32, 0});
    Put16(B, At + 5, 4096);
    Put16(B, At + 7, 65535);
    Put16(B, 6, 4096);
    Put16(B, 8, 65535);
    break;
  }
  case fyPng: {
    Put32(B, 20, 3000000, true);
    Put32(B, 29, static_cast<std::uint32_t>(crc32(0, B.data() + 12, 17)), true);
    break;
  }
  case fyJpeg: {
    const std::size_t At = Find(B, {0xFF, 0xC0});
    Put16(B, At + 5, 60000, true);
    Put16(B, At + 7, 4000, true);
    break;
  }
  default: {
    // ImageLength (tag 257) in the first directory.
    const std::size_t Ifd = B[4] | (B[5] << 8) | (B[6] << 16) | (std::size_t{B[7]} << 24);
    const unsigned Count = B[Ifd] | (B[Ifd + 1] << 8);
    for (unsigned I = 0; I < Count; ++I) {
      const std::size_t E = Ifd + 2 + 12 * I;
      if ((B[E] | (B[E + 1] << 8)) == 257 || (B[E] | (B[E + 1] << 8)) == 278) {
        const bool Short = (B[E + 2] | (B[E + 3] << 8)) == 3;
        if (Short) Put16(B, E + 8, 65535);
        else Put32(B, E + 8, F == fyTiffG4 ? 4000000 : 1000000);
      }
    }
    break;
  }
  }
  return B;
}

const TFamily All[] = {fyBmp, fyBmpRle, fyIco, fyPcx, fyTga, fyTgaRle, fyPnm, fyTiff, fyTiffLzw, fyTiffPackBits, fyTiffG4, fyGif, fyPng, fyJpeg};

long PeakKilobytes() {
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  return Usage.ru_maxrss;
}

} // namespace

TEST(EnlargedHeader, EveryReaderRefusesAPictureItsDataCannotFill) {
  for (TFamily F : All) {
    SCOPED_TRACE(Name(F));
    const TDecodedPtr D = ReadBytes(Reader(F), Enlarged(F));
    EXPECT_TRUE(D->Failed);
    EXPECT_EQ(D->Bitmap.Width(), 0);
    EXPECT_TRUE(D->Mask == nullptr || D->Mask->Width() == 0);
  }
}

// Run in a process of its own, whose peak memory no other test has raised.
TEST(EnlargedHeaderDeathTest, PeakMemoryStaysSmall) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::vector<Bytes> Files;
        for (TFamily F : All) Files.push_back(Enlarged(F));
        const long Before = PeakKilobytes();
        for (std::size_t I = 0; I < Files.size(); ++I) ReadBytes(Reader(All[I]), Files[I]);
        const long Grown = PeakKilobytes() - Before;
        std::fprintf(stderr, "peak grew by %ld KB\n", Grown);
        std::_Exit(Grown < 4096 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "peak grew by");
}

TEST(EnlargedHeader, LargeBlankPicturesInFewBytesStillRead) {
  // 1024 x 1024 is well above the size a cut file may have without its data.
  for (TFamily F : {fyBmpRle, fyPcx, fyTgaRle, fyTiffLzw, fyTiffPackBits, fyTiffG4, fyGif, fyPng, fyJpeg}) {
    SCOPED_TRACE(Name(F));
    TRvBitmap Source;
    Plain(Source, 1024, 1024, F == fyTiffG4);
    const Bytes File = Write(F, Source);
    const TDecodedPtr D = ReadBytes(Reader(F), File);
    EXPECT_FALSE(D->Failed);
    EXPECT_EQ(D->Bitmap.Height(), 1024);
    EXPECT_LT(File.size(), 1024u * 1024 / 8) << "not a small file";
  }
  // Run-length data may end the picture at once: the rest is left blank.
  Bytes Rle = Enlarged(fyBmpRle);
  Put32(Rle, 22, 1024);
  Put32(Rle, 18, 1024);
  const std::size_t Data = Rle[10] | (Rle[11] << 8);
  Rle.resize(Data);
  Rle.insert(Rle.end(), {0, 1});
  const TDecodedPtr D = ReadBytes(Reader(fyBmpRle), Rle);
  EXPECT_FALSE(D->Failed);
  EXPECT_EQ(D->Bitmap.Width(), 1024);
}

TEST(EnlargedHeader, SmallCutFilesStillShowWhatTheyHeld) {
  // The whole data but half, of a picture small enough to be allocated
  // without its data: the rows held are shown, as before.
  for (TFamily F : {fyBmp, fyTga, fyPnm, fyPcx}) {
    SCOPED_TRACE(Name(F));
    TRvBitmap Source;
    Noise(Source, 64, 64);
    Bytes File = Write(F, Source);
    File.resize(File.size() / 2);
    const TDecodedPtr D = ReadBytes(Reader(F), File);
    EXPECT_FALSE(D->Failed);
    EXPECT_EQ(D->Bitmap.Height(), 64);
  }
}

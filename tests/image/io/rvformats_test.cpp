// Format registry, detection by content and stream headers.
#include "image/io/rvformats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "image/io/codectest_util.h"
#include "image/io/rvknownformat.h"
#include "image/io/tga/rvtga.h"
#include "image/model/rvbitmap.h"
#include "platform/stream.h"

namespace {

using namespace rv;
using Bytes = std::vector<std::uint8_t>;

TRvFileType Detect(const Bytes& B, std::int64_t At = 0) {
  platform::TBytesStream S(B.data(), static_cast<std::int64_t>(B.size()));
  S.SetPosition(At);
  const TRvFileType T = RvFindStreamFormat(S);
  EXPECT_EQ(S.Position(), At);
  return T;
}

Bytes WithPrefix(const std::string& Text, std::size_t Size) {
  Bytes B(Size, 0);
  for (std::size_t I = 0; I < Text.size() && I < Size; ++I) B[I] = static_cast<std::uint8_t>(Text[I]);
  return B;
}

Bytes Of(std::initializer_list<int> Values, std::size_t Size) {
  Bytes B(Size, 0);
  std::size_t I = 0;
  for (int V : Values) B[I++] = static_cast<std::uint8_t>(V);
  return B;
}

// ---------------------------------------------------------------- registry

TEST(RvFormatsRegistry, FourteenBuiltInRecordsInOrder) {
  struct TExpected {
    TRvFileType Type;
    const char* Description;
    const char* Extensions;
    bool Writes;
  };
  const TExpected Expected[] = {
      {1, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F", true},
      {2, "CompuServe Bitmap", "GIF", true},
      {3, "JPEG Bitmap", "JPG;JPEG;JPE", true},
      {4, "PaintBrush", "PCX", true},
      {5, "Windows Bitmap", "BMP;DIB;RLE", true},
      {6, "Windows Icon", "ICO", false},
      {7, "Windows Cursor", "CUR", false},
      {8, "Portable Network Graphics", "PNG", true},
      {9, "Windows Metafile", "WMF", false},
      {10, "Enhanced Windows Metafile", "EMF", false},
      {11, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", true},
      {12, "Portable Pixmap, GreyMap, BitMap", "PXM;PPM;PGM;PBM", true},
      {13, "JPEG2000", "JP2", true},
      {14, "JPEG2000 Code Stream", "J2K;JPC;J2C", true},
  };
  ASSERT_GE(RvFileFormatCount(), 14);
  int BuiltIn = 0;
  for (int I = 0; I < RvFileFormatCount(); ++I)
    if (RvFileFormatInfo(I)->FileType >= 1 && RvFileFormatInfo(I)->FileType <= 14) ++BuiltIn;
  EXPECT_EQ(BuiltIn, 14);
  for (int I = 0; I < 14; ++I) {
    const TRvFileFormatInfo* Info = RvFileFormatInfo(I);
    ASSERT_NE(Info, nullptr);
    EXPECT_EQ(Info->FileType, Expected[I].Type);
    EXPECT_EQ(Info->Description, Expected[I].Description);
    EXPECT_EQ(Info->Extensions, Expected[I].Extensions);
    EXPECT_TRUE(static_cast<bool>(Info->ReadEntry)) << I;
    EXPECT_EQ(static_cast<bool>(Info->WriteEntry), Expected[I].Writes) << I;
    EXPECT_FALSE(static_cast<bool>(Info->ProbeEntry)) << I;
    EXPECT_EQ(RvFindFileFormatInfo(Expected[I].Type), Info);
  }
  EXPECT_EQ(RvFileFormatInfo(-1), nullptr);
}

TEST(RvFormatsRegistry, ExtensionsAndLookups) {
  EXPECT_EQ(RvFileFormatExtension(1, 0), "TIF");
  EXPECT_EQ(RvFileFormatExtension(1, 4), "G3F");
  EXPECT_EQ(RvFileFormatExtension(1, 5), "");
  EXPECT_EQ(RvFileFormatExtension(1, -1), "");
  EXPECT_EQ(RvFileFormatExtension(99, 0), "");
  EXPECT_EQ(RvFileFormatExtensionCount(11), 6);
  EXPECT_EQ(RvFileFormatExtensionCount(2), 1);
  EXPECT_EQ(RvFileFormatExtensionCount(99), 0);

  EXPECT_EQ(RvFindFileFormatInfoByExt("JpE")->FileType, 3);
  EXPECT_EQ(RvFindFileFormatInfoByExt("pix")->FileType, 11);
  EXPECT_EQ(RvFindFileFormatInfoByExt("j2c")->FileType, 14);
  EXPECT_EQ(RvFindFileFormatInfoByExt("txt"), nullptr);
  EXPECT_EQ(RvFindFileFormatInfoByExt(""), nullptr);
  EXPECT_EQ(RvFindFileFormatInfoByExt(".jpg"), nullptr); // given without the dot
  EXPECT_EQ(RvFindFileFormatInfo(0), nullptr);
}

TEST(RvFormatsRegistry, KnownFormatByName) {
  EXPECT_TRUE(RvIsKnownFormat("/pictures/holiday.JPEG"));
  EXPECT_TRUE(RvIsKnownFormat("scan.g3f"));
  EXPECT_TRUE(RvIsKnownFormat("old.pix"));
  EXPECT_FALSE(RvIsKnownFormat("notes.txt"));
  EXPECT_FALSE(RvIsKnownFormat("README"));
  EXPECT_FALSE(RvIsKnownFormat("photo."));
  EXPECT_FALSE(RvIsKnownFormat("/albums/2019.jpg/README")); // the dot is in a folder name
  EXPECT_FALSE(RvIsKnownFormat("C:\\albums.png\\README"));
  EXPECT_EQ(RvExtractExtension("a/b.c/D.TiFf"), "tiff");
}

TEST(RvFormatsRegistry, RegisteredTypeIsProbedFirstAndFoundFirst) {
  TRvFileFormatInfo Info;
  Info.FileType = 1000;
  Info.Description = std::string(100, 'd'); // cut to 80
  Info.Extensions = "ZQA;ZQB";
  Info.ReadEntry = [](platform::TStream&, TRvBitmap&, TIOParamsVals&, TRvProgressRec&, bool) {};
  Info.ProbeEntry = [](platform::TStream& S) {
    char M[4] = {};
    const bool Hit = S.Read(M, 4) == 4 && std::string(M, 4) == "ZQA!";
    S.Seek(3, platform::soCurrent); // a careless probe: detection restores the position
    if (std::string(M, 4) == "OOM!") throw std::bad_alloc();
    if (std::string(M, 4) == "ERR!") throw platform::EStreamError("probe");
    return Hit;
  };
  RvRegisterFileFormat(Info);
  TRvFileFormatInfo Twin = Info;
  Twin.Description = "twin";
  RvRegisterFileFormat(Twin);

  const TRvFileFormatInfo* Found = RvFindFileFormatInfo(1000);
  ASSERT_NE(Found, nullptr);
  EXPECT_EQ(Found->Description.size(), 80u);
  EXPECT_EQ(RvFindFileFormatInfoByExt("zqb"), Found);
  EXPECT_TRUE(RvIsKnownFormat("x.zqa"));
  EXPECT_EQ(RvFileFormatExtension(1000, 1), "ZQB");
  TRvFileFormatInfo Accented;
  Accented.FileType = 1001;
  Accented.Description = std::string(79, 'd') + "\xC3\xA9\xC3\xA9"; // "é" across byte 80
  RvRegisterFileFormat(Accented);
  EXPECT_EQ(RvFindFileFormatInfo(1001)->Description, std::string(79, 'd'));

  // The probe runs before the fixed steps: this would otherwise be a BMP.
  Bytes B = WithPrefix("ZQA!BM", 64);
  EXPECT_EQ(Detect(B), 1000);
  Bytes Framed = WithPrefix("xxZQA!", 64);
  EXPECT_EQ(Detect(Framed, 2), 1000);
  // Memory exhaustion or a stream error inside a probe: unknown, no throw.
  EXPECT_EQ(Detect(WithPrefix("OOM!", 64)), 0);
  EXPECT_EQ(Detect(WithPrefix("ERR!", 64)), 0);
}

// ------------------------------------------------ detection at thresholds

TEST(RvFormatsDetect, StreamHeaderTagsNeedMoreThanTwelveBytes) {
  EXPECT_EQ(Detect(WithPrefix("JFIF", 12)), 0);
  EXPECT_EQ(Detect(WithPrefix("JFIF", 13)), 3);
  EXPECT_EQ(Detect(WithPrefix("JFIFx", 13)), 0); // the tag runs to the fifth byte
  EXPECT_EQ(Detect(WithPrefix("PCX2", 12)), 0);
  EXPECT_EQ(Detect(WithPrefix("PCX2", 13)), 4);
  EXPECT_EQ(Detect(WithPrefix("TIFF", 12)), 0);
  EXPECT_EQ(Detect(WithPrefix("TIFF", 13)), 1);
}

TEST(RvFormatsDetect, SignatureThresholds) {
  EXPECT_EQ(Detect(WithPrefix("GIF89a", 13)), 0);
  EXPECT_EQ(Detect(WithPrefix("GIF89a", 14)), 2);
  EXPECT_EQ(Detect(WithPrefix("PCX", 4)), 0);
  EXPECT_EQ(Detect(WithPrefix("PCX", 5)), 4);
  EXPECT_EQ(Detect(WithPrefix("PCXA", 5)), 0);
  EXPECT_EQ(Detect(WithPrefix("BM", 14)), 0);
  EXPECT_EQ(Detect(WithPrefix("BM", 15)), 5);
  EXPECT_EQ(Detect(Of({10, 5}, 128)), 0);
  EXPECT_EQ(Detect(Of({10, 5}, 129)), 4);
  EXPECT_EQ(Detect(Of({10, 6}, 129)), 0);
  EXPECT_EQ(Detect(WithPrefix("II*", 8)), 0);
  EXPECT_EQ(Detect(WithPrefix("II*", 9)), 1);
  EXPECT_EQ(Detect(WithPrefix("MM", 9)), 1);
  const Bytes Png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes P8(Png), P9(Png);
  P9.push_back(0);
  EXPECT_EQ(Detect(P8), 0);
  EXPECT_EQ(Detect(P9), 8);
}

TEST(RvFormatsDetect, JpegStartWithinOneHundredBytes) {
  for (int At : {0, 1, 50, 99, 100}) {
    Bytes B(300, 0x20);
    B[At] = 0xFF;
    B[At + 1] = 0xD8;
    B[At + 2] = 0xFF;
    EXPECT_EQ(Detect(B), At < 100 ? 3 : 0) << At;
  }
}

TEST(RvFormatsDetect, Jpeg2000Signatures) {
  const Bytes Box = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  EXPECT_EQ(Detect(Box), 13);
  Bytes Broken(Box);
  Broken[11] = 0x0B;
  EXPECT_EQ(Detect(Broken), 0);
  EXPECT_EQ(Detect({0xFF, 0x4F, 0xFF, 0x51}), 14);
  EXPECT_EQ(Detect({0xFF, 0x4F, 0xFF, 0x52}), 0);
}

TEST(RvFormatsDetect, StepOrderDecidesAmbiguousData) {
  // "BM" and a JPEG start: step 6 comes before the JPEG search.
  Bytes B = WithPrefix("BM", 40);
  B[10] = 0xFF, B[11] = 0xD8, B[12] = 0xFF;
  EXPECT_EQ(Detect(B), 5);
  // A PCX2 tag wins over the older PCX tag read from the same bytes.
  EXPECT_EQ(Detect(WithPrefix("PCX2", 20)), 4);
  // The JFIF header wins over the TIFF byte-order test that follows.
  EXPECT_EQ(Detect(WithPrefix("JFIF", 20)), 3);
}

Bytes IconDirectory(int Type) {
  // reserved, type, one entry; entry: 16x16, 0 colours, reserved 0, planes,
  // bit count, 40 bytes of data at offset 22.
  Bytes B = Of({0, 0, Type, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 22, 0, 0, 0}, 62);
  return B;
}

TEST(RvFormatsDetect, IconAndCursorDirectories) {
  EXPECT_EQ(Detect(IconDirectory(1)), 6);
  EXPECT_EQ(Detect(IconDirectory(2)), 7);
  // A directory that claims 65535 entries in a few bytes is nothing.
  Bytes Huge = Of({0, 0, 1, 0, 0xFF, 0xFF}, 40);
  EXPECT_EQ(Detect(Huge), 0);
}

TEST(RvFormatsDetect, PositionAfterDetectionIsTheEntryPosition) {
  Bytes B(7, 0x55);
  for (int V : {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0})
    B.push_back(static_cast<std::uint8_t>(V));
  EXPECT_EQ(Detect(B, 7), 8);
  Bytes G = WithPrefix("....GIF89a", 40);
  EXPECT_EQ(Detect(G, 4), 2);
  EXPECT_EQ(Detect(G, 40), 0); // at the very end
  // Thresholds use the whole size: 13 bytes after a 3-byte prefix, yet the
  // JFIF tag is read from the entry position.
  Bytes J = WithPrefix("abcJFIF", 16);
  EXPECT_EQ(Detect(J, 3), 3);
}

using codectest::TCountingStream;

TEST(RvFormatsDetect, ReadsOnlyTheFirstBytesOfALargeStream) {
  std::string Text;
  while (Text.size() < (1u << 20)) Text += "lorem ipsum dolor sit amet ";
  const Bytes B = WithPrefix(Text, Text.size());
  platform::TBytesStream S(B.data(), static_cast<std::int64_t>(B.size()));
  TCountingStream C(S);
  EXPECT_EQ(RvFindStreamFormat(C), 0);
  EXPECT_LE(C.BytesRead, 512);
  EXPECT_EQ(C.Position(), 0);
}

TEST(RvFormatsDetect, ProbeReadingFarIntoTheStreamSeesEveryByte) {
  // An icon directory of 100 entries spans several of detection's blocks.
  const int Count = 100;
  const int Data = 6 + 16 * Count;
  Bytes B = Of({0, 0, 1, 0, Count, 0}, static_cast<std::size_t>(Data + 40));
  for (int I = 0; I < Count; ++I) {
    std::uint8_t* E = B.data() + 6 + 16 * I;
    E[0] = 16, E[1] = 16, E[4] = 1, E[6] = 32, E[8] = 40;
    E[12] = static_cast<std::uint8_t>(Data), E[13] = static_cast<std::uint8_t>(Data >> 8);
  }
  EXPECT_EQ(Detect(B), 6);
  Bytes Framed(300, 0x20);
  Framed.insert(Framed.end(), B.begin(), B.end());
  EXPECT_EQ(Detect(Framed, 300), 6);
  // The last entry broken: the probe must have read it.
  B[6 + 16 * (Count - 1) + 3] = 1;
  EXPECT_EQ(Detect(B), 0);
}

// ------------------------------------------------ broken and hostile data

class TLyingStream : public platform::TStream {
public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t Count) override { return Count; }
  std::int64_t Seek(std::int64_t Offset, platform::TSeekOrigin Origin) override {
    if (Origin == platform::soBeginning) FPos = Offset;
    else if (Origin == platform::soCurrent) FPos += Offset;
    else FPos = Size() + Offset;
    return FPos;
  }
  std::int64_t Size() override { return std::int64_t{1} << 60; }
  std::int64_t FPos = 0;
};

class TThrowingStream : public TLyingStream {
public:
  std::int64_t Read(void*, std::int64_t) override { throw std::bad_alloc(); }
};

TEST(RvFormatsDetect, GarbageEmptyAndHugeClaimsAnswerUnknown) {
  EXPECT_EQ(Detect({}), 0);
  EXPECT_EQ(Detect({0x42}), 0);
  std::string Text;
  for (int I = 0; I < 40; ++I) Text += "lorem ipsum dolor sit amet ";
  EXPECT_EQ(Detect(WithPrefix(Text, Text.size())), 0);
  std::uint32_t Seed = 12345;
  for (int Round = 0; Round < 200; ++Round) {
    Bytes B(static_cast<std::size_t>(Round * 3), 0);
    for (auto& V : B) {
      Seed = Seed * 1103515245u + 12345u;
      V = static_cast<std::uint8_t>(Seed >> 16);
    }
    EXPECT_NO_THROW(Detect(B));
  }

  TLyingStream Lying;
  Lying.FPos = 5;
  EXPECT_EQ(RvFindStreamFormat(Lying), 0);
  EXPECT_EQ(Lying.FPos, 5);
  TThrowingStream Throwing;
  EXPECT_EQ(RvFindStreamFormat(Throwing), 0);
  EXPECT_EQ(Throwing.FPos, 0);
}

// --------------------------------------------------- files of each format

class RvFormatsFiles : public ::testing::Test {
protected:
  void SetUp() override {
    char Template[] = "/tmp/rvformatsXXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Dir = Template;
    // A 24-bit pixel map every tool reads.
    std::ofstream F(Dir + "/src.ppm", std::ios::binary);
    F << "P6\n13 7\n255\n";
    for (int I = 0; I < 13 * 7 * 3; ++I) F.put(static_cast<char>(I * 37));
  }
  void TearDown() override { std::system(("rm -rf '" + Dir + "'").c_str()); }

  static bool Have(const std::string& Tool) {
    return std::system(("command -v " + Tool + " >/dev/null 2>&1").c_str()) == 0;
  }
  // Runs Command on src.ppm into Name; false when the tool is missing.
  bool Make(const std::string& Tool, const std::string& Command, const std::string& Name) {
    if (!Have(Tool)) {
      Missing += Tool + " ";
      return false;
    }
    const std::string Line = "cd '" + Dir + "' && (" + Command + ") 2>/dev/null";
    EXPECT_EQ(std::system(Line.c_str()), 0) << Line;
    return true;
  }

  std::string Dir;
  std::string Missing;
};

TEST_F(RvFormatsFiles, EveryFormatWrittenByOtherProgramsIsDetected) {
  struct TCase {
    const char* Tool;
    const char* Command;
    const char* Name;
    TRvFileType Type;
  };
  const TCase Cases[] = {
      {"pnmtotiff", "pnmtotiff src.ppm > a.tif", "a.tif", 1},
      {"tiffcp", "pnmtotiff src.ppm > t0.tif && tiffcp -c lzw t0.tif b.tiff", "b.tiff", 1},
      {"ppmtogif", "ppmquant 256 src.ppm | ppmtogif > a.gif", "a.gif", 2},
      {"cjpeg", "cjpeg src.ppm > a.jpg", "a.jpg", 3},
      {"ppmtopcx", "ppmtopcx src.ppm > a.pcx", "a.pcx", 4},
      {"ppmtobmp", "ppmtobmp src.ppm > a.bmp", "a.bmp", 5},
      {"pamtowinicon", "pnmscale -xsize 16 -ysize 16 src.ppm | pamtowinicon > a.ico", "a.ico", 6},
      {"pnmtopng", "pnmtopng src.ppm > a.png", "a.png", 8},
      {"pamtotga", "pamtotga src.ppm > a.tga", "a.tga", 11},
      {"opj_compress", "opj_compress -n 2 -i src.ppm -o a.jp2 >/dev/null", "a.jp2", 13},
      {"opj_compress", "opj_compress -n 2 -i src.ppm -o a.j2k >/dev/null", "a.j2k", 14},
  };
  for (const TCase& C : Cases) {
    if (!Make(C.Tool, C.Command, C.Name)) continue;
    const std::string Path = Dir + "/" + C.Name;
    EXPECT_EQ(RvFindFileFormat(Path, false), C.Type) << C.Name;
    EXPECT_EQ(RvFindFileFormat(Path, true), C.Type) << C.Name;
  }
  // Our own files: the pixel map itself, and a Targa from our writer.
  EXPECT_EQ(RvFindFileFormat(Dir + "/src.ppm", true), 12);
  TRvBitmap Bmp;
  Bmp.Allocate(5, 3, rvpf24Bit);
  TIOParamsVals Params;
  TRvLocalProgress P;
  {
    platform::TFileStream F(Dir + "/ours.vst", platform::fmCreate);
    TgaWriteStream(F, Bmp, Params, nullptr, P.Rec);
  }
  EXPECT_EQ(RvFindFileFormat(Dir + "/ours.vst", true), 11);
  if (!Missing.empty()) GTEST_SKIP() << "missing: " << Missing;
}

TEST_F(RvFormatsFiles, VerifyExtension) {
  if (!Make("pnmtopng", "pnmtopng src.ppm > a.png && cp a.png a.bmp", "a.bmp")) GTEST_SKIP() << "pnmtopng";
  EXPECT_EQ(RvFindFileFormat(Dir + "/a.bmp", false), 8);
  EXPECT_EQ(RvFindFileFormat(Dir + "/a.bmp", true), 0);
  EXPECT_EQ(RvFindFileFormat(Dir + "/a.png", true), 8);

  // An icon named as a cursor takes the extension's type, and the reverse.
  const Bytes Icon = IconDirectory(1);
  const Bytes Cursor = IconDirectory(2);
  for (auto [Name, Data] : {std::pair{"i.cur", Icon}, std::pair{"c.ico", Cursor}}) {
    std::ofstream F(Dir + "/" + Name, std::ios::binary);
    F.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
  }
  EXPECT_EQ(RvFindFileFormat(Dir + "/i.cur", false), 6);
  EXPECT_EQ(RvFindFileFormat(Dir + "/i.cur", true), 7);
  EXPECT_EQ(RvFindFileFormat(Dir + "/c.ico", true), 6);
  std::system(("cp '" + Dir + "/a.png' '" + Dir + "/a.txt'").c_str());
  EXPECT_EQ(RvFindFileFormat(Dir + "/a.txt", true), 0);
  EXPECT_EQ(RvFindFileFormat(Dir + "/missing.png", false), 0);
  EXPECT_EQ(RvFindFileFormat(Dir, false), 0); // a folder
}

// ----------------------------------------------------------- stream headers

TEST(RvFormatsStreamHeader, WrittenAroundTheImageAndReadBack) {
  platform::TMemoryStream S;
  S.WriteBuffer("ab", 2);
  const std::int64_t Q = RvBeginStreamHeader(S);
  EXPECT_EQ(Q, 2);
  EXPECT_EQ(S.Position(), 14);
  S.WriteBuffer("0123456789", 10);
  ASSERT_TRUE(RvFinishStreamHeader(S, Q, RvStreamTagTiff));
  EXPECT_EQ(S.Position(), 24);
  const Bytes Expected = {'a', 'b', 'T', 'I', 'F', 'F', 0, 0, 0, 0, 10, 0, 0, 0};
  EXPECT_EQ(Bytes(S.Data().begin(), S.Data().begin() + 14), Expected);

  S.SetPosition(2);
  TRvStreamHeader H;
  ASSERT_TRUE(RvReadStreamHeader(S, H));
  EXPECT_EQ(H.Tag, "TIFF");
  EXPECT_EQ(H.Length, 10u);
  EXPECT_EQ(S.Position(), 14);
  // Skipping the image by its length lands after it.
  S.SetPosition(S.Position() + H.Length);
  EXPECT_EQ(S.Position(), S.Size());
  // The framed stream is detected by its tag.
  S.SetPosition(2);
  EXPECT_EQ(RvFindStreamFormat(S), 1);
}

TEST(RvFormatsStreamHeader, OlderPcxHeaderAndShortHeaders) {
  const Bytes Old = {'P', 'C', 'X', 0, 10, 5, 1, 8, 0, 0, 0, 0, 7};
  platform::TBytesStream S(Old.data(), static_cast<std::int64_t>(Old.size()));
  TRvStreamHeader H;
  ASSERT_TRUE(RvReadStreamHeader(S, H));
  EXPECT_EQ(H.Tag, "PCX");
  EXPECT_EQ(H.Tag.compare(0, 3, "PCX"), 0);

  const Bytes Short = {'J', 'F', 'I', 'F', 0};
  platform::TBytesStream T(Short.data(), 5);
  T.SetPosition(1);
  EXPECT_FALSE(RvReadStreamHeader(T, H));
  EXPECT_EQ(T.Position(), 1);
}

TEST(RvFormatsStreamHeader, LengthBeyondThirtyTwoBitsIsRefused) {
  TLyingStream S;
  const std::int64_t Q = RvBeginStreamHeader(S);
  const std::int64_t End = Q + RvStreamHeaderSize + (std::int64_t{1} << 32);
  S.SetPosition(End);
  EXPECT_FALSE(RvFinishStreamHeader(S, Q, RvStreamTagJpeg));
  EXPECT_EQ(S.Position(), End);
  S.SetPosition(Q + RvStreamHeaderSize + 0xFFFFFFFFll);
  EXPECT_TRUE(RvFinishStreamHeader(S, Q, RvStreamTagJpeg));
}

// --------------------------------------------------------- registry entries

TEST(RvFormatsEntries, TargaRecordReadsAndWritesTarga) {
  const TRvFileFormatInfo* Info = RvFindFileFormatInfoByExt("pix");
  ASSERT_NE(Info, nullptr);
  TRvBitmap Src;
  Src.Allocate(4, 2, rvpf24Bit);
  Src.Scanline(0)[0] = 200;
  TIOParamsVals Params;
  TRvLocalProgress P;
  platform::TMemoryStream S;
  Info->WriteEntry(S, Src, Params, P.Rec);
  EXPECT_FALSE(P.Rec.IsAborting());
  S.SetPosition(0);
  EXPECT_EQ(RvFindStreamFormat(S), 11);
  TRvBitmap Dst;
  TIOParamsVals Read;
  Info->ReadEntry(S, Dst, Read, P.Rec, false);
  EXPECT_FALSE(P.Rec.IsAborting());
  EXPECT_EQ(Dst.Width(), 4);
  EXPECT_EQ(Dst.Height(), 2);
  EXPECT_EQ(Dst.Scanline(0)[0], 200);
}

TEST(RvFormatsEntries, OtherBuiltInEntriesReportFailureNotSuccess) {
  TRvBitmap Bmp;
  Bmp.Allocate(2, 2, rvpf24Bit);
  TIOParamsVals Params;
  for (TRvFileType T : {1, 3, 9, 10, 12}) {
    TRvLocalProgress P;
    platform::TMemoryStream S;
    RvFindFileFormatInfo(T)->ReadEntry(S, Bmp, Params, P.Rec, false);
    EXPECT_TRUE(P.Rec.IsAborting()) << T;
  }
  TRvLocalProgress P;
  platform::TMemoryStream S;
  RvFindFileFormatInfo(1)->WriteEntry(S, Bmp, Params, P.Rec);
  EXPECT_TRUE(P.Rec.IsAborting());
  EXPECT_EQ(S.Size(), 0);
}

} // namespace

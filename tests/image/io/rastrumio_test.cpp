#include "image/io/rastrumio.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "codectest_util.h"
#include "image/io/gif/giflzw.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvformats.h"
#include "image/model/rvmask.h"
#include "platform/metafile.h"
#include "platform/safesave.h"
#include "platform/stream.h"
#include "support/asnobody.h"
#include "support/crowdedwmf.h"
#include "support/drawings.h"

namespace {

using namespace rv;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const std::string& Name) {
  std::ifstream f(Name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& Name, const Bytes& B) {
  std::ofstream f(Name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(B.data()), static_cast<std::streamsize>(B.size()));
}

void MakePicture(TRvBitmap& B, int W, int H) {
  B.Allocate(W, H, rvpf24Bit);
  for (int y = 0; y < H; ++y) {
    std::uint8_t* r = B.Scanline(y);
    for (int x = 0; x < W; ++x) {
      r[3 * x] = static_cast<std::uint8_t>(x * 4);
      r[3 * x + 1] = static_cast<std::uint8_t>(y * 5);
      r[3 * x + 2] = static_cast<std::uint8_t>(128);
    }
  }
}

// A 4 x 4 icon (Type 1) or cursor (Type 2), 24-bit, every pixel opaque.
Bytes MakeIcon(int Type) {
  Bytes b;
  auto put16 = [&](int v) { b.push_back(static_cast<std::uint8_t>(v)), b.push_back(static_cast<std::uint8_t>(v >> 8)); };
  auto put32 = [&](std::uint32_t v) { put16(static_cast<int>(v & 0xffff)), put16(static_cast<int>(v >> 16)); };
  put16(0), put16(Type), put16(1);                        // directory: reserved, type, count
  b.insert(b.end(), {4, 4, 0, 0});                          // width, height, colours, reserved
  put16(Type == 2 ? 1 : 1), put16(Type == 2 ? 2 : 24);      // planes or hot spot x, bits or hot spot y
  put32(40 + 4 * 12 + 4 * 4);                               // bytes of the image
  put32(22);                                                // offset of the image
  put32(40), put32(4), put32(8), put16(1), put16(24);       // header, height doubled for the mask
  put32(0), put32(0), put32(0), put32(0), put32(0), put32(0);
  for (int i = 0; i < 4 * 12; ++i) b.push_back(static_cast<std::uint8_t>(i * 5));
  for (int i = 0; i < 4 * 4; ++i) b.push_back(0); // AND mask: opaque
  return b;
}

struct TRecorder {
  std::vector<int> Progress;
  int Finished = 0;
  void Attach(TRastrumIO& IO) {
    IO.OnProgress = [this](void*, int Per) { Progress.push_back(Per); };
    IO.OnFinishWork = [this](void*) { ++Finished; };
  }
};

class RastrumIOTest : public ::testing::Test {
protected:
  // The program installs its LZW coders at start-up; so does this fixture.
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    SavedDecode = RvDefaultGifLzwDecompress;
    SavedEncode = RvDefaultGifLzwCompress;
    RvDefaultGifLzwDecompress = GifLzwDecompress;
    RvDefaultGifLzwCompress = GifLzwCompress;
  }
  void TearDown() override {
    RvDefaultGifLzwDecompress = SavedDecode;
    RvDefaultGifLzwCompress = SavedEncode;
  }
  TGifLzwDecompressProc SavedDecode = nullptr;
  TGifLzwCompressProc SavedEncode = nullptr;
  std::string Path(const std::string& Name) const { return Dir.filePath(QString::fromStdString(Name)).toStdString(); }
  QTemporaryDir Dir;
};

struct TFormatCase {
  TRvFileType Type;
  const char* Ext;
};

const TFormatCase WritableFormats[] = {
    {rvftTIFF, "tif"}, {rvftGIF, "gif"}, {rvftJPEG, "jpg"}, {rvftPCX, "pcx"},  {rvftBMP, "bmp"},
    {rvftPNG, "png"},  {rvftTGA, "tga"}, {rvftPXM, "ppm"},  {rvftJP2, "jp2"}, {rvftJ2K, "j2k"},
};

// ---------------------------------------------------------------- round trips

TEST_F(RastrumIOTest, EveryWritableFormatSavesAndLoadsByNameTypeAndContent) {
  for (const TFormatCase& c : WritableFormats) {
    SCOPED_TRACE(c.Ext);
    const std::string name = Path(std::string("pic.") + c.Ext);
    TRastrumIO out;
    TRecorder rec;
    rec.Attach(out);
    MakePicture(*out.RvBitmap(), 40, 30);
    out.SaveToFile(name);
    ASSERT_FALSE(out.Aborting);
    EXPECT_EQ(rec.Finished, 1);
    ASSERT_FALSE(rec.Progress.empty());
    for (std::size_t i = 1; i < rec.Progress.size(); ++i) EXPECT_LE(rec.Progress[i - 1], rec.Progress[i]);
    EXPECT_LE(rec.Progress.back(), 100);

    // By name.
    TRastrumIO in;
    TRecorder inRec;
    inRec.Attach(in);
    in.LoadFromFile(name);
    EXPECT_FALSE(in.Aborting);
    EXPECT_EQ(in.RvBitmap()->Width(), 40);
    EXPECT_EQ(in.RvBitmap()->Height(), 30);
    EXPECT_EQ(in.Params().FileType, c.Type);
    EXPECT_EQ(in.Params().FileName, name);
    EXPECT_EQ(inRec.Finished, 1);
    ASSERT_FALSE(inRec.Progress.empty());
    for (std::size_t i = 1; i < inRec.Progress.size(); ++i) EXPECT_LE(inRec.Progress[i - 1], inRec.Progress[i]);

    // By type.
    TRastrumIO byType;
    byType.LoadFromFileFormat(name, c.Type);
    EXPECT_FALSE(byType.Aborting);
    EXPECT_EQ(byType.RvBitmap()->Width(), 40);
    EXPECT_EQ(byType.Params().FileType, c.Type);

    // By content, and back through a stream.
    platform::TMemoryStream stream;
    stream.LoadFromFile(name);
    TRastrumIO byContent;
    byContent.LoadFromStream(stream);
    EXPECT_FALSE(byContent.Aborting);
    EXPECT_EQ(byContent.RvBitmap()->Height(), 30);
    EXPECT_EQ(byContent.Params().FileType, c.Type);
    EXPECT_TRUE(byContent.Params().FileName.empty());

    platform::TMemoryStream saved;
    byContent.SaveToStream(saved, c.Type);
    ASSERT_FALSE(byContent.Aborting);
    saved.SetPosition(0);
    TRastrumIO again;
    again.LoadFromStreamFormat(saved, c.Type);
    EXPECT_FALSE(again.Aborting);
    EXPECT_EQ(again.RvBitmap()->Width(), 40);
  }
}

// A new file takes the process's creation mask; a saved-over one keeps its
// own mode; saving leaves the mask as it was.
TEST_F(RastrumIOTest, SavedFilesTakeTheCreationMaskOrTheirOwnMode) {
  const mode_t before = ::umask(027);
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 8, 8);
  const std::string name = Path("mode.png");
  out.SaveToFile(name);
  ASSERT_FALSE(out.Aborting);
  struct stat st {};
  ASSERT_EQ(::stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_EQ(::chmod(name.c_str(), 0604), 0);
  out.SaveToFile(name);
  ASSERT_EQ(::stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
  EXPECT_EQ(::umask(before), 027u);
}

TEST_F(RastrumIOTest, LosslessFormatsKeepEveryPixel) {
  for (const TFormatCase& c : {TFormatCase{rvftBMP, "bmp"}, TFormatCase{rvftPNG, "png"}, TFormatCase{rvftTGA, "tga"},
                               TFormatCase{rvftTIFF, "tiff"}, TFormatCase{rvftPXM, "ppm"}}) {
    SCOPED_TRACE(c.Ext);
    TRastrumIO out;
    MakePicture(*out.RvBitmap(), 9, 7);
    out.SaveToFile(Path(std::string("l.") + c.Ext));
    TRastrumIO in;
    in.LoadFromFile(Path(std::string("l.") + c.Ext));
    ASSERT_EQ(in.RvBitmap()->PixelFormat(), rvpf24Bit);
    for (int y = 0; y < 7; ++y)
      EXPECT_EQ(0, std::memcmp(in.RvBitmap()->Scanline(y), out.RvBitmap()->Scanline(y), 27)) << y;
  }
}

TEST_F(RastrumIOTest, IconAndCursorLoadByNameTypeAndContentButDoNotSave) {
  for (int kind : {1, 2}) {
    const TRvFileType type = kind == 1 ? rvftICO : rvftCUR;
    const std::string name = Path(kind == 1 ? "a.ico" : "a.cur");
    WriteAll(name, MakeIcon(kind));
    TRastrumIO io;
    io.LoadFromFile(name);
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(io.RvBitmap()->Width(), 4);
    EXPECT_EQ(io.Params().FileType, type);
    TRastrumIO byType;
    byType.LoadFromFileFormat(name, type);
    EXPECT_FALSE(byType.Aborting);
    EXPECT_EQ(byType.RvBitmap()->Height(), 4);
    platform::TMemoryStream s;
    s.LoadFromFile(name);
    TRastrumIO byContent;
    byContent.LoadFromStream(s);
    EXPECT_FALSE(byContent.Aborting);
    EXPECT_EQ(byContent.Params().FileType, type);

    TRecorder rec;
    rec.Attach(io);
    const std::string target = Path(kind == 1 ? "out.ico" : "out.cur");
    io.SaveToFile(target);
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(rec.Finished, 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(target)));
  }
}

TEST_F(RastrumIOTest, MetafileLoadsByNameAndTypeAndTakesItsOwnSize) {
  platform::TMetafile mf;
  QImage pic(30, 20, QImage::Format_RGB32);
  pic.fill(Qt::red);
  mf.Assign(pic);
  const std::string name = Path("m.emf");
  mf.SaveToFile(name);
  TRastrumIO io;
  io.LoadFromFile(name);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params().FileType, rvftEMF);
  EXPECT_EQ(io.RvBitmap()->Width(), mf.Width() - 1);
  EXPECT_EQ(io.RvBitmap()->Height(), mf.Height() - 1);
  TRastrumIO byType;
  byType.LoadFromFileFormat(name, rvftEMF);
  EXPECT_FALSE(byType.Aborting);
  EXPECT_EQ(byType.RvBitmap()->Width(), mf.Width() - 1);
}

TEST_F(RastrumIOTest, LargeMetafileIsCappedAt2800) {
  platform::TMetafile mf;
  QImage pic(4000, 1000, QImage::Format_RGB32);
  pic.fill(Qt::blue);
  mf.Assign(pic);
  if (mf.Width() != 4000 || mf.Height() != 1000) GTEST_SKIP() << "metafile not sized 4000 x 1000";
  const std::string name = Path("big.emf");
  mf.SaveToFile(name);
  TRastrumIO io;
  io.LoadMetafile(name, -1, -1);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.RvBitmap()->Width(), 2799);
  EXPECT_EQ(io.RvBitmap()->Height(), 699);
  // Only the height given: the width follows the aspect (4000 x 100 div 1000).
  io.LoadMetafile(name, -1, 101);
  EXPECT_EQ(io.RvBitmap()->Width(), 403);
  EXPECT_EQ(io.RvBitmap()->Height(), 100);
  // A zero side does nothing but finish.
  TRecorder rec;
  rec.Attach(io);
  io.LoadMetafile(name, 0, 50);
  EXPECT_EQ(rec.Finished, 1);
  EXPECT_TRUE(io.Aborting) << "no picture was read";
  EXPECT_EQ(io.RvBitmap()->Width(), 403);
}

TEST_F(RastrumIOTest, MetafileReportsBetweenRecordsAndStopsWhenAborted) {
  // A placeable WMF of 100 x 80: a red rectangle at the top left, a hundred
  // records that change nothing, a red rectangle at the bottom right.
  Bytes wmf;
  auto put16 = [&](int v) { wmf.push_back(static_cast<std::uint8_t>(v)), wmf.push_back(static_cast<std::uint8_t>(v >> 8)); };
  auto record = [&](int function, std::initializer_list<int> words) {
    put16(static_cast<int>(3 + words.size())), put16(0), put16(function);
    for (int w : words) put16(w);
  };
  put16(0xCDD7), put16(0x9AC6), put16(0), put16(0), put16(0), put16(100), put16(80), put16(96), put16(0), put16(0), put16(0);
  put16(1), put16(9), put16(0x0300), put16(0), put16(0), put16(1), put16(0), put16(0), put16(0);
  record(0x02FC, {0, 0x00FF, 0, 0}); // red brush
  record(0x012D, {0});
  record(0x041B, {30, 40, 10, 10}); // bottom, right, top, left
  for (int i = 0; i < 100; ++i) record(0x0102, {1});
  record(0x041B, {70, 90, 50, 60});
  record(0, {});
  const std::string name = Path("steps.wmf");
  WriteAll(name, wmf);
  auto red = [](TRvBitmap& B, int X, int Y) {
    const std::uint8_t* p = B.Scanline(Y) + 3 * X;
    return p[0] == 0 && p[1] == 0 && p[2] == 255;
  };

  TRastrumIO io;
  TRecorder rec;
  rec.Attach(io);
  io.LoadMetafile(name, -1, -1);
  ASSERT_FALSE(io.Aborting);
  EXPECT_TRUE(red(*io.RvBitmap(), 20, 20));
  EXPECT_TRUE(red(*io.RvBitmap(), 80, 60));
  ASSERT_GT(rec.Progress.size(), 10u);
  EXPECT_TRUE(std::is_sorted(rec.Progress.begin(), rec.Progress.end()));
  EXPECT_LE(rec.Progress.back(), 100);

  // Aborted once a tenth is played, as a read that is no longer wanted is.
  io.OnProgress = [&io](void*, int Per) {
    if (Per >= 10) io.Aborting = true;
  };
  io.LoadMetafile(name, -1, -1);
  EXPECT_TRUE(io.Aborting);
  EXPECT_TRUE(red(*io.RvBitmap(), 20, 20));
  EXPECT_FALSE(red(*io.RvBitmap(), 80, 60)) << "records after the abort are not played";
}

TEST_F(RastrumIOTest, MetafileSaysWhatItsPlayLeftOut) {
  // Placeable WMFs of 300 x 300 with a red brush: a square alone, and after
  // a polygon of 2,000 points zigzagging across the frame, which the fill
  // budget leaves out. The read says so instead of passing for the drawing.
  for (const bool crowded : {false, true}) {
    const Bytes wmf = testsupport::SquareWmf(crowded);
    const std::string name = Path(crowded ? "crowded.wmf" : "square.wmf");
    WriteAll(name, wmf);
    TRastrumIO io;
    io.Params().MetafileShapesLeftOut = 7;
    io.LoadMetafile(name, -1, -1);
    ASSERT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params().MetafileShapesLeftOut, crowded ? 1 : 0);
    const std::uint8_t* p = io.RvBitmap()->Scanline(20) + 3 * 20;
    EXPECT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 255) << "the square";
  }
}

TEST_F(RastrumIOTest, MetafileClipsAsTheReferenceDoes) {
  // Placeable WMFs of 100 x 80: a white background over the frame (the
  // reference sizes a drawing by what it draws), clip records, a red
  // ellipse over the frame and a blue band across it, read as the program
  // reads them and by ImageMagick through libwmf. Only pixels whose
  // neighbours the reference paints alike are compared: it antialiases
  // edges, and leaves out the first column and row a clip rectangle keeps.
  CODECTEST_NEED_TOOLS("convert");
  const std::vector<std::pair<int, std::vector<int>>> cases[] = {
      {{0x0416, {60, 70, 20, 30}}}, // IntersectClipRect
      {{0x0416, {60, 60, 10, 10}}, {0x0416, {70, 90, 30, 40}}},
      {{0x0416, {70, 90, 10, 10}}, {0x001E, {}}, {0x0416, {60, 70, 20, 30}}, {0x0127, {-1}}}, // SaveDC, RestoreDC
  };
  auto kind = [](const std::uint8_t* rgb) { // red, blue, white or between
    return (rgb[0] > 200) * 1 + (rgb[1] > 200) * 2 + (rgb[2] > 200) * 4 +
           8 * std::any_of(rgb, rgb + 3, [](std::uint8_t v) { return v > 55 && v <= 200; });
  };
  for (const auto& clip : cases) {
    testsupport::TWmfWriter w;
    for (const auto& [function, words] : std::vector<std::pair<int, std::vector<int>>>{
             {0x02FA, {5, 0, 0, 0, 0}}, {0x012D, {0}}, {0x02FC, {0, 0xFFFF, 0x00FF, 0}}, {0x012D, {1}},
             {0x041B, {80, 100, 0, 0}}})
      w.Record(static_cast<std::uint16_t>(function), words);
    for (const auto& [function, words] : clip) w.Record(static_cast<std::uint16_t>(function), words);
    for (const auto& [function, words] : std::vector<std::pair<int, std::vector<int>>>{
             {0x02FC, {0, 0x00FF, 0, 0}}, {0x012D, {2}}, {0x0418, {78, 98, 2, 2}}, {0x02FC, {0, 0, 0x00FF, 0}},
             {0x012D, {3}}, {0x041B, {55, 95, 45, 5}}})
      w.Record(static_cast<std::uint16_t>(function), words);
    WriteAll(Path("clip.wmf"), w.Finish(100, 80));
    const codectest::TRgba ref = codectest::Reference(Path("clip.wmf"), "", "-density 96");
    ASSERT_EQ(ref.Width, 100);
    TRastrumIO io;
    io.LoadMetafile(Path("clip.wmf"), -1, -1);
    int compared = 0, wrong = 0;
    for (int y = 1; y + 1 < io.RvBitmap()->Height(); ++y)
      for (int x = 1; x + 1 < io.RvBitmap()->Width(); ++x) {
        bool alike = kind(ref.At(x, y)) < 8;
        for (int n = 0; n < 9 && alike; ++n) alike = kind(ref.At(x - 1 + n % 3, y - 1 + n / 3)) == kind(ref.At(x, y));
        const std::uint8_t* bgr = io.RvBitmap()->Scanline(y) + 3 * x;
        const std::uint8_t ours[] = {bgr[2], bgr[1], bgr[0]};
        compared += alike;
        wrong += alike && kind(ours) != kind(ref.At(x, y));
      }
    EXPECT_GT(compared, 97 * 77 * 3 / 4);
    EXPECT_EQ(wrong, 0) << "case " << &clip - cases;
  }
}

TEST_F(RastrumIOTest, MetafileWithoutSizeIsRefused) {
  const std::string name = Path("bad.wmf");
  WriteAll(name, Bytes(40, 0));
  TRastrumIO io;
  MakePicture(*io.RvBitmap(), 5, 5);
  try {
    io.LoadMetafile(name, -1, -1);
  } catch (const std::exception&) {
  }
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(io.RvBitmap()->Width(), 5);
}

// ---------------------------------------------------------------- .pix

TEST_F(RastrumIOTest, PixIsTarga) {
  const std::string name = Path("pic.PIX");
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 12, 8);
  out.SaveToFile(name);
  ASSERT_FALSE(out.Aborting);
  platform::TMemoryStream s;
  s.LoadFromFile(name);
  EXPECT_EQ(RvFindStreamFormat(s), rvftTGA);

  TRastrumIO in;
  MakePicture(*in.RvBitmap(), 3, 3);
  in.LoadFromFile(name);
  EXPECT_FALSE(in.Aborting);
  EXPECT_EQ(in.Params().FileType, rvftTGA);
  EXPECT_EQ(in.RvBitmap()->Width(), 12);
}

// ---------------------------------------------------------------- abort and failures

TEST_F(RastrumIOTest, AbortFromProgressStopsLoad) {
  const std::string name = Path("a.bmp");
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 64, 64);
  out.SaveToFile(name);
  TRastrumIO in;
  int calls = 0;
  in.OnProgress = [&](void*, int) {
    ++calls;
    in.Aborting = true;
  };
  in.LoadFromFile(name);
  EXPECT_TRUE(in.Aborting);
  EXPECT_GE(calls, 1);
  EXPECT_LT(calls, 64);
}

TEST_F(RastrumIOTest, SaveAbortedMidwayLeavesOriginalByteForByte) {
  for (const TFormatCase& c : WritableFormats) {
    SCOPED_TRACE(c.Ext);
    const std::string name = Path(std::string("keep.") + c.Ext);
    const Bytes original = {'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't', 0, 1, 2};
    WriteAll(name, original);
    TRastrumIO io;
    MakePicture(*io.RvBitmap(), 64, 64);
    TRecorder rec;
    rec.Attach(io);
    io.OnProgress = [&](void*, int Per) {
      rec.Progress.push_back(Per);
      if (rec.Progress.size() == 2) io.Aborting = true;
    };
    io.SaveToFile(name);
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(rec.Finished, 1);
    EXPECT_EQ(ReadAll(name), original);
    // No temporary file is left behind.
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    QFile::remove(QString::fromStdString(name));
  }
}

TEST_F(RastrumIOTest, SuccessfulSaveReplacesAndKeepsPermissions) {
  const std::string name = Path("p.png");
  WriteAll(name, Bytes{1, 2, 3});
  QFile::setPermissions(QString::fromStdString(name), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  TRastrumIO io;
  MakePicture(*io.RvBitmap(), 8, 8);
  io.SaveToFile(name);
  EXPECT_FALSE(io.Aborting);
  EXPECT_GT(ReadAll(name).size(), 8u);
  EXPECT_EQ(QFile::permissions(QString::fromStdString(name)),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
}

// Anyone who may write the folder can put a link at the hidden name between
// its making and the write: the picture goes into the file made, never into
// the one the link names, and the save fails with the target as it was.
TEST_F(RastrumIOTest, ALinkPutAtTheHiddenNameTakesNoByte) {
  const std::string name = Path("p.png"), elsewhere = Path("elsewhere.txt");
  const Bytes old = {1, 2, 3}, other = {'m', 'i', 'n', 'e'};
  WriteAll(name, old);
  WriteAll(elsewhere, other);
  std::string hidden;
  platform::TSafeSaveFile::AfterTempMade = [&](const std::string& Temp) {
    hidden = Temp;
    ASSERT_EQ(::unlink(Temp.c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), Temp.c_str()), 0);
  };
  TRastrumIO io;
  MakePicture(*io.RvBitmap(), 8, 8);
  io.SaveToFile(name);
  platform::TSafeSaveFile::AfterTempMade = nullptr;
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(ReadAll(elsewhere), other);
  EXPECT_EQ(ReadAll(name), old);
  // The link is the other's: it stays.
  struct stat st {};
  EXPECT_EQ(::lstat(hidden.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// An access list as the kernel keeps it: owner, the user 4321, group, mask
// and others.
std::string AclValue(int Owner, int Named, int Group) {
  std::string value;
  auto put = [&](std::uint32_t number, int bytes) {
    for (int i = 0; i < bytes; ++i) value += static_cast<char>((number >> (8 * i)) & 0xff);
  };
  put(2, 4);
  const std::uint32_t entries[][3] = {{0x01, std::uint32_t(Owner), ~0u}, {0x02, std::uint32_t(Named), 4321},
                                      {0x04, std::uint32_t(Group), ~0u}, {0x10, std::uint32_t(Named | Group), ~0u},
                                      {0x20, 0, ~0u}};
  for (const auto& e : entries) put(e[0], 2), put(e[1], 2), put(e[2], 4);
  return value;
}

std::string Attribute(const std::string& Name, const char* Key) {
  char value[256];
  const ssize_t size = ::getxattr(Name.c_str(), Key, value, sizeof value);
  return size < 0 ? "-" : std::string(value, static_cast<std::size_t>(size));
}

// A save puts a new file in the old one's place, yet the file stays its
// owner's with its mode, attributes and access list (and gets none the
// folder would give a new file); a file the user may not write is refused
// by its own name, though the folder is open to all.
TEST_F(RastrumIOTest, ASaveKeepsTheFileAsItWasAndRefusesAFileTheUserMayNotWrite) {
  if (!testing_support::CanRunAsNobody()) GTEST_SKIP() << "another user is needed: run as root";
  const std::string name = Path("Garden.jpg"), plain = Path("plain.jpg");
  TRastrumIO io;
  MakePicture(*io.RvBitmap(), 8, 8);
  io.SaveToFile(name);
  io.SaveToFile(plain);
  ASSERT_EQ(::chown(name.c_str(), 1234, 1234), 0);
  ASSERT_EQ(::chmod(name.c_str(), 06750), 0);
  const std::string acl = AclValue(7, 4, 5);
  if (::setxattr(name.c_str(), "user.comment", "garden", 6, 0) != 0 ||
      ::setxattr(name.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
    GTEST_SKIP() << "no extended attributes here";
  const std::string folderAcl = AclValue(7, 7, 5);
  ASSERT_EQ(::setxattr(Dir.path().toLocal8Bit().constData(), "system.posix_acl_default", folderAcl.data(),
                       folderAcl.size(), 0),
            0);
  io.SaveToFile(name);
  io.SaveToFile(plain);
  ASSERT_FALSE(io.Aborting);
  struct stat st {};
  ASSERT_EQ(::stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 1234u);
  EXPECT_EQ(st.st_gid, 1234u);
  EXPECT_EQ(st.st_mode & 07777, 06750u);
  EXPECT_EQ(Attribute(name, "user.comment"), "garden");
  EXPECT_EQ(Attribute(name, "system.posix_acl_access"), acl);
  EXPECT_EQ(Attribute(plain, "system.posix_acl_access"), "-");

  ASSERT_EQ(::chown(name.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(name.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(Dir.path().toLocal8Bit().constData(), 0777), 0);
  // A temporary folder under one closed to others (a private TMPDIR) is out
  // of another user's reach altogether.
  if (testing_support::RunAsNobody([&] { return ::access(Dir.path().toLocal8Bit().constData(), W_OK | X_OK); }) != 0)
    GTEST_SKIP() << "the temporary folder is out of another user's reach";
  const Bytes before = ReadAll(name);
  const int result = testing_support::RunAsNobody([&] {
    try {
      io.SaveToFile(name);
    } catch (const platform::EStreamError& error) {
      return std::string(error.what()) == "Cannot create file \"" + name + "\". The file is read-only." ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadAll(name), before);
  EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(RastrumIOTest, LoadFailuresAreNeverSuccess) {
  TRastrumIO io;
  MakePicture(*io.RvBitmap(), 5, 5);
  // Garbage under a picture's name.
  const std::string junk = Path("junk.png");
  WriteAll(junk, Bytes(100, 0x55));
  io.LoadFromFile(junk);
  EXPECT_TRUE(io.Aborting);
  // Truncated JPEG.
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 32, 32);
  out.SaveToFile(Path("t.jpg"));
  Bytes jpg = ReadAll(Path("t.jpg"));
  jpg.resize(jpg.size() / 3);
  WriteAll(Path("t.jpg"), jpg);
  io.LoadFromFile(Path("t.jpg"));
  EXPECT_TRUE(io.Aborting);
  // A file that is not there raises and is no success either.
  TRecorder rec;
  rec.Attach(io);
  EXPECT_THROW(io.LoadFromFile(Path("missing.bmp")), platform::EStreamError);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(rec.Finished, 1);
  // Unknown extension: refused without finishing.
  io.LoadFromFile(Path("x.txt"));
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(rec.Finished, 1);
  // Empty stream: nothing to detect.
  platform::TMemoryStream empty;
  io.LoadFromStream(empty);
  EXPECT_TRUE(io.Aborting);
}

TEST_F(RastrumIOTest, FilesThatHoldNoPixelAreRefusedNotShown) {
  // Each file ends where its pixels would begin, or holds no picture: no
  // picture of zeros, gray, the background or the old one's may pass for it.
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 6, 4);
  auto head = [&](const char* Ext, auto Length) {
    out.SaveToFile(Path(std::string("whole.") + Ext));
    const Bytes B = ReadAll(Path(std::string("whole.") + Ext));
    return Bytes(B.begin(), B.begin() + std::ptrdiff_t(Length(B)));
  };
  platform::TMetafile Emf;
  Emf.Assign(QImage(6, 4, QImage::Format_RGB32));
  // The JPEG up to the end of its scan's header, then with its end marker.
  const Bytes Jpg = head("jpg", [](const Bytes& B) {
    std::size_t At = 2;
    while (B[At + 1] != 0xDA) At += 2 + (B[At + 2] << 8 | B[At + 3]);
    return At + 2 + (B[At + 2] << 8 | B[At + 3]);
  });
  Bytes Ended = Jpg;
  Ended.insert(Ended.end(), {0xFF, 0xD9});
  const std::pair<const char*, Bytes> Cases[] = {
      {"header.pcx", head("pcx", [](const Bytes&) { return 128; })},
      {"header.tga", head("tga", [](const Bytes& B) { return 18 + B[0]; })},
      {"header.ppm", {'P', '6', ' ', '6', ' ', '4', ' ', '2', '5', '5', '\n'}},
      {"header.bmp", head("bmp", [](const Bytes& B) { return B[10] | B[11] << 8; })},
      {"header.ico", [] { Bytes B = MakeIcon(1); B.resize(22 + 40); return B; }()},
      {"none.ico", {0, 0, 1, 0, 0, 0}},
      {"header.jpg", Jpg},
      {"ended.jpg", Ended},
      // A placeable metafile's header and the one after it, of 100 x 80.
      {"header.wmf", {0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0, 0, 100, 0, 80, 0, 96, 0, 0, 0, 0, 0,
                      0, 0, 1, 0, 9, 0, 0, 3, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"header.emf", Bytes(Emf.Data().begin(), Emf.Data().begin() + Emf.Data()[4] + (Emf.Data()[5] << 8))},
      {"nopage.tif", {'I', 'I', 42, 0, 0, 0, 0, 0}},
  };
  for (const auto& [Name, File] : Cases) {
    SCOPED_TRACE(Name);
    WriteAll(Path(Name), File);
    TRastrumIO io;
    MakePicture(*io.RvBitmap(), 9, 9);
    try {
      io.LoadFromFile(Path(Name));
    } catch (const std::exception&) {
    }
    EXPECT_TRUE(io.Aborting);
    EXPECT_EQ(io.RvBitmap()->Width(), 9) << "a picture stands in for the file's";
  }
}

TEST_F(RastrumIOTest, SaveIntoMissingFolderRaisesAndAborts) {
  TRastrumIO io;
  MakePicture(*io.RvBitmap(), 4, 4);
  EXPECT_THROW(io.SaveToFile(Path("nofolder/x.bmp")), platform::EStreamError);
  EXPECT_TRUE(io.Aborting);
}

// ---------------------------------------------------------------- header-only reads

TEST_F(RastrumIOTest, ParamsFromFileReadsOnlyTheHeader) {
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 33, 21);
  out.SaveToFile(Path("h.png"));
  out.SaveToFile(Path("h.jpg"));
  for (const char* n : {"h.png", "h.jpg"}) {
    TRastrumIO io;
    MakePicture(*io.RvBitmap(), 3, 2);
    TRecorder rec;
    rec.Attach(io);
    io.ParamsFromFile(Path(n));
    EXPECT_FALSE(io.Aborting);
    EXPECT_EQ(io.Params().Width, 33);
    EXPECT_EQ(io.Params().Height, 21);
    EXPECT_EQ(io.Params().FileName, Path(n));
    EXPECT_EQ(rec.Finished, 1);
    EXPECT_TRUE(rec.Progress.empty());
    // The target is untouched.
    EXPECT_EQ(io.RvBitmap()->Width(), 3);
  }
  TRastrumIO io;
  EXPECT_NO_THROW(io.ParamsFromFile(Path("missing.png")));
  EXPECT_EQ(io.Params().FileType, rvftUnknown);
  // Content and extension disagree.
  QFile::copy(QString::fromStdString(Path("h.png")), QString::fromStdString(Path("h.bmp")));
  io.ParamsFromFile(Path("h.bmp"));
  EXPECT_EQ(io.Params().FileType, rvftUnknown);
  EXPECT_TRUE(io.Aborting);

  platform::TMemoryStream s;
  s.LoadFromFile(Path("h.jpg"));
  io.ParamsFromStream(s);
  EXPECT_EQ(io.Params().FileType, rvftJPEG);
  EXPECT_EQ(io.Params().Width, 33);
}

// ---------------------------------------------------------------- stream headers

TEST_F(RastrumIOTest, StreamHeadersFrameJpegTiffAndPcx) {
  for (TRvFileType type : {rvftJPEG, rvftTIFF, rvftPCX}) {
    SCOPED_TRACE(type);
    TRastrumIO io;
    io.StreamHeaders = true;
    MakePicture(*io.RvBitmap(), 10, 6);
    platform::TMemoryStream s;
    s.WriteBuffer("abc", 3);
    io.SaveToStream(s, type);
    ASSERT_FALSE(io.Aborting);
    s.WriteBuffer("xyz", 3);
    const std::uint8_t* m = s.Memory();
    const std::string tag(reinterpret_cast<const char*>(m + 3), 4);
    EXPECT_EQ(tag, type == rvftJPEG ? "JFIF" : type == rvftTIFF ? "TIFF" : "PCX2");
    const std::uint32_t len = m[11] | m[12] << 8 | m[13] << 16 | static_cast<std::uint32_t>(m[14]) << 24;
    EXPECT_EQ(static_cast<std::int64_t>(len), s.Size() - 3 - 12 - 3);
    TRastrumIO in;
    in.StreamHeaders = true;
    s.SetPosition(3);
    in.LoadFromStreamFormat(s, type);
    EXPECT_FALSE(in.Aborting);
    EXPECT_EQ(in.RvBitmap()->Width(), 10);
    // The stream is left after the framed image.
    EXPECT_EQ(s.Position(), s.Size() - 3);
  }
}

TEST_F(RastrumIOTest, TiffStreamWithoutExpectedHeaderIsRefused) {
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 10, 6);
  platform::TMemoryStream s;
  out.SaveToStream(s, rvftTIFF);
  s.SetPosition(0);
  TRastrumIO in;
  in.StreamHeaders = true;
  MakePicture(*in.RvBitmap(), 2, 2);
  EXPECT_EQ(in.LoadTIFFStream(s), 0);
  EXPECT_TRUE(in.Aborting);
  EXPECT_EQ(in.RvBitmap()->Width(), 2);
}

// ---------------------------------------------------------------- resolution

TEST_F(RastrumIOTest, AdjustDPIStretchesTheShorterAxis) {
  TRastrumIO io;
  MakePicture(*io.RvBitmap(), 300, 200);
  io.Params().Width = 300, io.Params().Height = 200, io.Params().DpiX = 100, io.Params().DpiY = 200;
  io.AdjustDPI();
  EXPECT_EQ(io.RvBitmap()->Width(), 300);
  EXPECT_EQ(io.RvBitmap()->Height(), 100);
  EXPECT_EQ(io.Params().DpiY, 100);

  MakePicture(*io.RvBitmap(), 200, 300);
  io.Params().Width = 200, io.Params().Height = 300, io.Params().DpiX = 100, io.Params().DpiY = 200;
  io.FilteredAdjustDPI = true;
  io.AdjustDPI();
  EXPECT_EQ(io.RvBitmap()->Width(), 400);
  EXPECT_EQ(io.RvBitmap()->Height(), 300);
  EXPECT_EQ(io.Params().DpiX, 200);

  io.Params().DpiX = io.Params().DpiY = 200;
  io.AdjustDPI();
  EXPECT_EQ(io.RvBitmap()->Width(), 400);
  // A resolution pair that asks for an absurd size is left alone.
  io.Params().DpiX = 1, io.Params().DpiY = 2000000000;
  io.Params().Width = 400, io.Params().Height = 300;
  io.AdjustDPI();
  EXPECT_EQ(io.RvBitmap()->Width(), 400);
  EXPECT_EQ(io.Params().DpiX, 1);
}

// ---------------------------------------------------------------- JPEG metadata

// An Exif block: "Exif", two zeros, a little-endian TIFF structure with
// XResolution, YResolution (rationals) and ResolutionUnit.
Bytes ExifBlock(std::uint32_t Num, std::uint32_t Den, int Unit) {
  Bytes b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
  auto put16 = [&](int v) { b.push_back(static_cast<std::uint8_t>(v)), b.push_back(static_cast<std::uint8_t>(v >> 8)); };
  auto put32 = [&](std::uint32_t v) { put16(static_cast<int>(v & 0xffff)), put16(static_cast<int>(v >> 16)); };
  put16(3);                                   // entries
  put16(0x011A), put16(5), put32(1), put32(50); // XResolution at 50
  put16(0x011B), put16(5), put32(1), put32(58); // YResolution at 58
  put16(0x0128), put16(3), put32(1), put16(Unit), put16(0);
  put32(0);                                   // no next directory
  put32(Num), put32(Den), put32(Num), put32(Den);
  return b;
}

TEST_F(RastrumIOTest, JpegAspectOnlyDensityTakesExifResolution) {
  for (int unit : {2, 3}) {
    SCOPED_TRACE(unit);
    TRastrumIO out;
    MakePicture(*out.RvBitmap(), 16, 16);
    out.Params().DpiX = out.Params().DpiY = 1;
    const Bytes exif = unit == 2 ? ExifBlock(72, 1, 2) : ExifBlock(2835, 100, 3);
    out.Params().JpegMarkers.AddMarker(0xE1, exif.data(), static_cast<int>(exif.size()));
    out.SaveToFile(Path("e.jpg"));
    ASSERT_FALSE(out.Aborting);
    TRastrumIO in;
    in.LoadFromFile(Path("e.jpg"));
    ASSERT_FALSE(in.Aborting);
    EXPECT_EQ(in.Params().DpiX, 72);
    EXPECT_EQ(in.Params().DpiY, 72);
    TRastrumIO header;
    header.ParamsFromFile(Path("e.jpg"));
    EXPECT_EQ(header.Params().DpiX, 72);
  }
}

// Orientation 6 in a little-endian Exif block.
const Bytes Orientation6 = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
                            6, 0, 0, 0, 0, 0, 0, 0};

TEST_F(RastrumIOTest, JpegExifOrientationIsWrittenAsTheFieldSays) {
  // After an XMP block.
  const Bytes& exif = Orientation6;
  const std::string xmp = "http://ns.adobe.com/xap/1.0/";
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 16, 16);
  out.Params().JpegMarkers.AddMarker(0xE1, xmp.data(), static_cast<int>(xmp.size()) + 1);
  out.Params().JpegMarkers.AddMarker(0xE1, exif.data(), static_cast<int>(exif.size()));
  out.SaveToFile(Path("o.jpg"));
  TRastrumIO io;
  io.LoadFromFile(Path("o.jpg"));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params().ExifOrientation, 6);
  // Saved as read, the tag stays; set to 1, the block says 1.
  io.SaveToFile(Path("p.jpg"));
  TRastrumIO same;
  same.LoadFromFile(Path("p.jpg"));
  EXPECT_EQ(same.Params().ExifOrientation, 6);
  io.Params().ExifOrientation = 1;
  io.SaveToFile(Path("q.jpg"));
  TRastrumIO upright;
  upright.LoadFromFile(Path("q.jpg"));
  EXPECT_EQ(upright.Params().ExifOrientation, 1);
  EXPECT_EQ(upright.Params().JpegMarkers.IndexOf(0xE1), 0);
}

// Behind more markers than a read keeps, the Exif block is read as
// ImageMagick reads it, and a save writes it and the ICC profile back.
TEST_F(RastrumIOTest, JpegExifAndProfileBehindManyMarkersAreReadAndSaved) {
  CODECTEST_NEED_TOOLS("identify", "convert");
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 16, 16);
  for (int n = 0; n < 1100; ++n) out.Params().JpegMarkers.AddMarker(0xFE, "c", 1);
  out.Params().JpegMarkers.AddMarker(0xE1, Orientation6.data(), static_cast<int>(Orientation6.size()));
  Bytes profile(100000);
  for (std::size_t n = 0; n < profile.size(); ++n) profile[n] = static_cast<std::uint8_t>(n * 7 + n / 251);
  for (std::uint8_t chunk : {1, 2}) {
    Bytes b = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, chunk, 2};
    b.insert(b.end(), profile.begin() + (chunk - 1) * 50000, profile.begin() + chunk * 50000);
    out.Params().JpegMarkers.AddMarker(0xE2, b.data(), static_cast<int>(b.size()));
  }
  out.SaveToFile(Path("m.jpg"));
  TRastrumIO io;
  io.LoadFromFile(Path("m.jpg"));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params().JpegMarkersLeftOut, 1100 - 1024);
  io.SaveToFile(Path("n.jpg"));
  for (const char* name : {"m.jpg", "n.jpg"}) {
    ASSERT_TRUE(codectest::Run("identify -format '%[EXIF:Orientation]' " + Path(name) + " > " + Path("o.txt")));
    EXPECT_EQ(ReadAll(Path("o.txt")), Bytes{'6'}) << name;
  }
  EXPECT_EQ(io.Params().ExifOrientation, 6);
  ASSERT_TRUE(codectest::Run("convert " + Path("n.jpg") + " " + Path("n.icc")));
  EXPECT_EQ(ReadAll(Path("n.icc")), profile);
}

// ---------------------------------------------------------------- attachment

class TFakeView : public TRvHiddenViewLink {
public:
  platform::TBitmap Bmp{16, 16, platform::pf24bit};
  int Registered = 0, Removed = 0, Updates = 0, DpiCalls = 0;
  TRvBitmapChangeEvent Callback;
  platform::TBitmap* GetBitmap() override { return &Bmp; }
  void SetAlphaChannel(TRvMask* M) override { delete M; }
  platform::TColor GetBackground() const override { return 0x123456; }
  void SetDPI(int, int) override { ++DpiCalls; }
  void Update() override { ++Updates; }
  int RegisterBitmapChangeEvent(TRvBitmapChangeEvent C) override {
    Callback = std::move(C);
    return ++Registered;
  }
  void RemoveBitmapChangeEvent(int) override { ++Removed; }
  void CallBitmapChangeEvents() override {}
};

TEST_F(RastrumIOTest, AttachedViewIsTheTargetAndTakesResolutionByFormat) {
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 20, 10);
  out.SaveToFile(Path("v.png"));
  out.SaveToFile(Path("v.ppm"));
  TFakeView view;
  TRastrumIO io;
  io.SetAttachedRastrum(&view);
  io.SetBackground(0x999999);
  EXPECT_EQ(io.GetBackground(), 0x123456);
  io.LoadFromFile(Path("v.png"));
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(view.Bmp.Width(), 20);
  EXPECT_EQ(view.Bmp.Height(), 10);
  EXPECT_EQ(view.DpiCalls, 1);
  EXPECT_EQ(view.Updates, 1);
  io.LoadFromFile(Path("v.ppm"));
  EXPECT_EQ(view.DpiCalls, 1); // PBM/PGM/PPM files leave the view's resolution
  EXPECT_EQ(view.Updates, 2);
  TFakeView other;
  io.SetAttachedRastrum(&other);
  EXPECT_EQ(view.Removed, 1);
  other.Callback(&other, true);
  EXPECT_EQ(io.AttachedRastrum(), nullptr);
}

// ---------------------------------------------------------------- asynchronous

TEST_F(RastrumIOTest, AsyncLoadReportsOnTheUserInterfaceThreadAndFreesItsWorker) {
  TRastrumIO out;
  MakePicture(*out.RvBitmap(), 200, 150);
  out.SaveToFile(Path("async.jpg"));
  TRvBitmap target;
  TRastrumIO io;
  io.SetAttachedRvBitmap(&target);
  io.AsyncMode = true;
  bool finished = false;
  bool finishedOnUi = false;
  bool progressOnUi = true;
  std::vector<int> progress;
  io.OnFinishWork = [&](void*) {
    finished = true;
    finishedOnUi = QThread::currentThread() == QCoreApplication::instance()->thread();
  };
  io.OnProgress = [&](void*, int Per) {
    progress.push_back(Per);
    progressOnUi = progressOnUi && QThread::currentThread() == QCoreApplication::instance()->thread();
  };
  io.LoadFromFile(Path("async.jpg"));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!finished && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_TRUE(finished);
  EXPECT_TRUE(finishedOnUi);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(target.Width(), 200);
  QCoreApplication::processEvents();
  EXPECT_TRUE(progressOnUi);
  for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_LT(progress[i - 1], progress[i]);
  io.Threads().WaitUntilEmpty();
  EXPECT_EQ(io.Threads().Count(), 0);
}

TEST_F(RastrumIOTest, AsyncSaveOfMissingFolderEndsAborted) {
  TRvBitmap source;
  MakePicture(source, 8, 8);
  TRastrumIO io;
  io.SetAttachedRvBitmap(&source);
  io.AsyncMode = true;
  bool finished = false;
  io.OnFinishWork = [&](void*) { finished = true; };
  io.SaveToFile(Path("none/x.png"));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!finished && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(finished);
  EXPECT_TRUE(io.Aborting);
}

} // namespace

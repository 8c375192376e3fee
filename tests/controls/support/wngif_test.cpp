#include "controls/support/wngif/wngif.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <random>

#include "controls/support/wngif/wngiflzw.h"
#include "controls/support/wngraphics/wnanicursor.h"
#include "image/io/rvsafeio.h"
#include "support/tempfolder.h"
#include "tests/controls/support/wnicontestdata.h"

using namespace wn;
using wntest::Put16;
using wntest::TBytes;

namespace {

// GIF file images built block by block.
struct TGif {
  TBytes B;
  TGif& Raw(std::initializer_list<int> bytes) {
    for (int v : bytes) B.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  TGif& Add(const TBytes& bytes) {
    B.insert(B.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // Signature and screen descriptor; a global table of 2^Bits grey levels
  // (entry i = 40 i) when Bits > 0.
  TGif& Header(const char* Version, int Width, int Height, int Bits, int Background = 0) {
    B.insert(B.end(), {'G', 'I', 'F'});
    B.insert(B.end(), Version, Version + 3);
    Put16(B, Width);
    Put16(B, Height);
    Raw({Bits > 0 ? 0x80 | (Bits - 1) : 0, Background, 0});
    for (int i = 0; i < (Bits > 0 ? 1 << Bits : 0); ++i) Raw({40 * i, 40 * i, 40 * i});
    return *this;
  }
  TGif& Control(int Flags, int Delay, int Index) { return Raw({0x21, 0xF9, 4, Flags, Delay & 255, Delay >> 8, Index, 0}); }
  TGif& SubBlocks(const std::vector<std::string>& Blocks) {
    for (const auto& s : Blocks) {
      B.push_back(static_cast<std::uint8_t>(s.size()));
      B.insert(B.end(), s.begin(), s.end());
    }
    return Raw({0});
  }
  TGif& Comment(const std::vector<std::string>& Lines) { return Raw({0x21, 0xFE}).SubBlocks(Lines); }
  TGif& Loop(int Count, const char* Id = "NETSCAPE2.0") {
    Raw({0x21, 0xFF, 11});
    B.insert(B.end(), Id, Id + 11);
    return SubBlocks({std::string{1, static_cast<char>(Count & 255), static_cast<char>(Count >> 8)}});
  }
  TGif& PlainText() {
    Raw({0x21, 0x01, 12, 0, 0, 0, 0, 8, 8, 8, 8, 1, 0, 0, 0});
    return SubBlocks({"hi"});
  }
  TGif& Image(int Left, int Top, int Width, int Height, int Flags, const TBytes& Data) {
    Raw({0x2C});
    Put16(B, Left);
    Put16(B, Top);
    Put16(B, Width);
    Put16(B, Height);
    Raw({Flags});
    return Add(Data);
  }
};

// Codes of the given sizes, least significant bit first, in one sub-block.
TBytes Codes(int MinSize, const std::vector<std::pair<int, int>>& CodesAndSizes) {
  TBytes packed;
  std::uint32_t acc = 0;
  int bits = 0;
  for (auto [code, size] : CodesAndSizes) {
    acc |= static_cast<std::uint32_t>(code) << bits;
    for (bits += size; bits >= 8; bits -= 8, acc >>= 8) packed.push_back(static_cast<std::uint8_t>(acc));
  }
  if (bits > 0) packed.push_back(static_cast<std::uint8_t>(acc));
  TBytes data{static_cast<std::uint8_t>(MinSize), static_cast<std::uint8_t>(packed.size())};
  data.insert(data.end(), packed.begin(), packed.end());
  data.push_back(0);
  return data;
}

// Encoded data of 8-bit indices by the class's own encoder.
TBytes Encoded(const std::vector<std::uint8_t>& Indices, int Width, int Height) {
  std::vector<std::uint8_t> rows(Indices);
  TGIFPixelRows pixels{rows.data(), Width, Width, Height, 8};
  platform::TMemoryStream s;
  LzwEncode(s, false, nullptr, pixels);
  return s.Data();
}

void Load(TWnGIFImage& Gif, const TBytes& Bytes) {
  platform::TBytesStream s(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
  Gif.LoadFromStream(s);
}

TBytes Save(TWnGIFImage& Gif) {
  platform::TMemoryStream s;
  Gif.SaveToStream(s);
  return s.Data();
}

template <class TError>
std::string ErrorOf(const std::function<void()>& Action) {
  try {
    Action();
  } catch (const TError& e) {
    return e.what();
  }
  return "no error";
}

int IndexAt(const platform::TBitmap& B, int X, int Y) {
  const std::uint8_t* row = B.ScanLine(Y);
  switch (B.PixelFormat()) {
    case platform::pf1bit: return (row[X >> 3] >> (7 - (X & 7))) & 1;
    case platform::pf4bit: return (X & 1) ? row[X >> 1] & 15 : row[X >> 1] >> 4;
    default: return row[X];
  }
}

std::vector<int> Indices(const platform::TBitmap& B) {
  std::vector<int> v;
  for (int y = 0; y < B.Height(); ++y)
    for (int x = 0; x < B.Width(); ++x) v.push_back(IndexAt(B, x, y));
  return v;
}

// The frame's pixels as red, green, blue bytes.
QByteArray Rgb(const platform::TBitmap& B) {
  const QImage image = B.ToImage().convertToFormat(QImage::Format_RGB888);
  QByteArray out;
  for (int y = 0; y < image.height(); ++y)
    out.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width() * 3);
  return out;
}

bool HaveTool(const char* Name) { return !QStandardPaths::findExecutable(QString::fromLatin1(Name)).isEmpty(); }

QByteArray RunTool(const QString& Program, const QStringList& Args, const QByteArray& Input = {}) {
  QProcess p;
  p.start(Program, Args);
  if (!Input.isEmpty()) p.write(Input);
  p.closeWriteChannel();
  if (!p.waitForFinished(30000) || p.exitCode() != 0) {
    ADD_FAILURE() << Program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
    return {};
  }
  return p.readAllStandardOutput();
}

QByteArray ConvertRgb(const std::string& File, int Frame) {
  return RunTool("convert", {QString::fromStdString(File) + QStringLiteral("[%1]").arg(Frame), "-depth", "8", "rgb:-"});
}

// Width x Height of the bitmap's format, with a palette of distinct colours.
std::unique_ptr<platform::TBitmap> RandomBitmap(int Width, int Height, platform::TPixelFormat Format, unsigned Seed) {
  auto bitmap = std::make_unique<platform::TBitmap>(Width, Height, Format);
  platform::TBitmap& b = *bitmap;
  const int colours = b.PaletteSize();
  std::vector<platform::TPaletteEntry> palette(static_cast<std::size_t>(colours));
  for (int i = 0; i < colours; ++i)
    palette[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(255 - i),
                                            static_cast<std::uint8_t>(i * 13), 0};
  b.SetPaletteEntries(0, colours, palette.data());
  std::mt19937 rng(Seed);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      // Runs of repeats as well as noise, so that long strings are coded.
      const int v = (x / 5 + y) % 3 == 0 ? static_cast<int>(rng() % static_cast<unsigned>(colours)) : (x / 9) % colours;
      std::uint8_t* row = b.ScanLine(y);
      if (Format == platform::pf1bit)
        row[x >> 3] = static_cast<std::uint8_t>(v ? row[x >> 3] | (0x80 >> (x & 7)) : row[x >> 3] & ~(0x80 >> (x & 7)));
      else if (Format == platform::pf4bit)
        row[x >> 1] = static_cast<std::uint8_t>((x & 1) ? (row[x >> 1] & 0xF0) | v : (row[x >> 1] & 0x0F) | v << 4);
      else
        row[x] = static_cast<std::uint8_t>(v);
    }
  return bitmap;
}

// A 4 x 2 frame over a 2-bit grey table: 0 1 2 3 / 3 2 1 0.
TBytes SmallFrame() { return Encoded({0, 1, 2, 3, 3, 2, 1, 0}, 4, 2); }

} // namespace

TEST(WnGifRead, HeaderFramesAndColours) {
  TWnGIFImage gif;
  Load(gif, TGif().Header("87a", 6, 5, 2, 3).Image(1, 2, 4, 2, 0, SmallFrame()).Raw({0x3B}).B);
  EXPECT_EQ(gif.Version, 1);
  EXPECT_EQ(gif.ScreenWidth, 6);
  EXPECT_EQ(gif.ScreenHeight, 5);
  EXPECT_EQ(gif.BackgroundColor, static_cast<platform::TColor>(platform::RGB(120, 120, 120)));
  ASSERT_EQ(gif.FrameCount(), 1);
  EXPECT_EQ(gif.FrameIndex, 0);
  TWnGIFFrame& f = *gif.Frame(0);
  EXPECT_EQ(f.TopLeft.X, 1);
  EXPECT_EQ(f.TopLeft.Y, 2);
  EXPECT_FALSE(f.HasLocalMap);
  EXPECT_EQ(f.Item().ColorMap.Count, 4);
  ASSERT_TRUE(f.HasBitmap()) << "frame 0 is decoded on load";
  const platform::TBitmap& b = *f.GetBitmap();
  EXPECT_EQ(b.PixelFormat(), platform::pf4bit);
  EXPECT_EQ(Indices(b), (std::vector<int>{0, 1, 2, 3, 3, 2, 1, 0}));
  platform::TPaletteEntry e[16];
  b.GetPaletteEntries(0, 16, e);
  EXPECT_EQ(e[3].peRed, 120);
  EXPECT_EQ(e[4].peRed, 128) << "entries past the table are mid-grey";
  EXPECT_EQ(gif.GetWidth(), 4);
  EXPECT_EQ(gif.GetHeight(), 2);
}

// The reader's edge cases, each on hand-built bytes.
TEST(WnGifRead, EdgeCases) {
  {  // no trailer after a complete frame
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, SmallFrame()).B);
    EXPECT_EQ(gif.FrameCount(), 1);
  }
  {  // comments after the last frame, the second after a CR LF CR LF line
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, SmallFrame()).Comment({"one", "two"}).Comment({"three"}).Raw({0x3B}).B);
    EXPECT_EQ(gif.Data().Comment, (std::vector<std::string>{"one", "two", "\r\n\r\n", "three"}));
  }
  {  // loop counts: 0 stays 0, above 30000 stops at 30000; the other name too
    for (auto [count, id, want] : {std::tuple{0, "NETSCAPE2.0", 0}, {40000, "NETSCAPE2.0", 30000}, {7, "ANIMEXTS1.0", 7}}) {
      TWnGIFImage gif;
      Load(gif, TGif().Header("89a", 4, 2, 2).Loop(count, id).Image(0, 0, 4, 2, 0, SmallFrame()).B);
      EXPECT_TRUE(gif.Looping);
      EXPECT_EQ(gif.RepeatCount, want);
    }
  }
  {  // a descriptor of width and height 0 takes the screen's
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 2, 2).Image(0, 0, 0, 0, 0, SmallFrame()).B);
    EXPECT_EQ(gif.GetWidth(), 4);
    EXPECT_EQ(gif.GetHeight(), 2);
  }
  {  // two control blocks: the longer delay; the last one's transparency and disposal
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 2, 2).Control(0x01 | 1 << 2, 30, 2).Control(0x01 | 3 << 2, 5, 1).Image(0, 0, 4, 2, 0, SmallFrame()).B);
    EXPECT_EQ(gif.Frame(0)->AnimateInterval, 300);
    EXPECT_EQ(gif.Frame(0)->DisposalMethod, 3);
    EXPECT_EQ(gif.Frame(0)->TransparentColor, static_cast<platform::TColor>(platform::RGB(40, 40, 40)));
  }
  {  // a transparent index past the table
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 2, 2).Control(0x01, 0, 9).Image(0, 0, 4, 2, 0, SmallFrame()).B);
    EXPECT_EQ(gif.Frame(0)->TransparentColor, platform::clNone);
  }
  {  // plain text drops what was collected before it
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 2, 2).Control(0x01, 0, 1).PlainText().Image(0, 0, 4, 2, 0, SmallFrame()).B);
    EXPECT_EQ(gif.Frame(0)->TransparentColor, platform::clNone);
    EXPECT_TRUE(gif.Frame(0)->Extensions.empty());
  }
  {  // a delay of 65535 hundredths keeps its length
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 2, 2).Control(0, 65535, 0).Image(0, 0, 4, 2, 0, SmallFrame()).B);
    EXPECT_EQ(gif.Frame(0)->AnimateInterval, 655350);
  }
  {  // unknown bytes after a frame end the picture quietly
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, SmallFrame()).Raw({0x55, 0x2C, 1, 2}).B);
    EXPECT_EQ(gif.FrameCount(), 1);
  }
}

TEST(WnGifRead, Failures) {
  using platform::EInvalidGraphicOperation;
  using platform::EStreamError;
  auto load = [](const TBytes& bytes) {
    return [bytes] {
      TWnGIFImage gif;
      Load(gif, bytes);
    };
  };
  const TBytes frame = SmallFrame();
  EXPECT_EQ(ErrorOf<EInvalidGraphicOperation>(load(TGif().Header("89b", 4, 2, 2).B)), "Unknown GIF version");
  EXPECT_EQ(ErrorOf<EInvalidGraphicOperation>(load(TGif().Header("89a", 4, 2, 2).Raw({0x21, 0x42, 0}).B)),
            "Unrecognized extension block: 42");
  // Fixed-size reads past the end: screen descriptor, colour table,
  // extension header, image descriptor.
  for (std::size_t cut : {8u, 20u}) {
    TBytes b = TGif().Header("89a", 4, 2, 2).B;
    b.resize(cut);
    EXPECT_EQ(ErrorOf<EStreamError>(load(b)), "Stream read error") << cut;
  }
  EXPECT_EQ(ErrorOf<EStreamError>(load(TGif().Header("89a", 4, 2, 2).Raw({0x21, 0xF9, 4, 1}).B)), "Stream read error");
  EXPECT_EQ(ErrorOf<EStreamError>(load(TGif().Header("89a", 4, 2, 2).Raw({0x2C, 0, 0, 0}).B)), "Stream read error");
  EXPECT_EQ(ErrorOf<EStreamError>(load(TGif().Header("89a", 4, 2, 2).Raw({0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0x87, 1, 2}).B)),
            "Stream read error");
  // A label that is no block, right after the header.
  EXPECT_EQ(ErrorOf<EStreamError>(load(TGif().Header("89a", 4, 2, 2).Raw({0x55, 0x2C}).B)), "Stream read error");
  // A frame too large for the pixel cap fails before its pixels exist.
  EXPECT_EQ(ErrorOf<EStreamError>(load(TGif().Header("89a", 65535, 65535, 2).Image(0, 0, 65535, 65535, 0, frame).B)),
            "Stream read error");
}

TEST(WnGifRead, StoredFormAndClipboardLengthsAreChecked) {
  TWnGIFImage gif;
  Load(gif, TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, SmallFrame()).Raw({0x3B}).B);
  platform::TMemoryStream stored;
  gif.WriteData(stored);
  stored.SetPosition(0);
  TWnGIFImage back;
  back.ReadData(stored);
  EXPECT_EQ(Indices(*back.Frame(0)->GetBitmap()), Indices(*gif.Frame(0)->GetBitmap()));

  stored.Memory()[3] = 0x7F; // a length of 2 GB over a few bytes
  stored.SetPosition(0);
  EXPECT_EQ(ErrorOf<platform::EStreamError>([&] { back.ReadData(stored); }), "Stream read error");
  QMimeData mime;
  mime.setData(GIFImageMimeType(), QByteArray(reinterpret_cast<const char*>(stored.Memory()), 12));
  EXPECT_EQ(ErrorOf<platform::EStreamError>([&] { back.LoadFromClipboardFormat(mime); }), "Stream read error");
}

// Damaged data: tolerated (the frame is marked) unless GIFLoadCorrupted is
// off.
TEST(WnGifRead, CorruptedFrames) {
  struct TCase {
    const char* What;
    TBytes Data;
    const char* Strict;
  };
  TBytes truncated = TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, SmallFrame()).B;
  truncated.resize(truncated.size() - 3);
  const TCase cases[] = {
      {"sub-block past the end", truncated, "Stream read error"},
      {"code size 12", TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, Codes(12, {{0, 13}})).B,
       "GIF code size not in range 2 to 9"},
  };
  for (const TCase& c : cases) {
    TWnGIFImage gif;
    Load(gif, c.Data);
    ASSERT_EQ(gif.FrameCount(), 1) << c.What;
    EXPECT_TRUE(gif.Frame(0)->Corrupted) << c.What;
    GIFLoadCorrupted = false;
    const std::string error = ErrorOf<std::runtime_error>([&] { Load(gif, c.Data); });
    GIFLoadCorrupted = true;
    EXPECT_EQ(error, c.Strict) << c.What;
    EXPECT_EQ(gif.FrameCount(), 0) << "the failed frame is gone";
  }
}

// Codes between the table size and the clear code are single pixels,
// masked to the frame's bits; a code past the table stands for the entry it
// makes; data may start without a clear code.
TEST(WnGifLzw, DecodesOddCodesToDefinedPixels) {
  struct TCase {
    const char* What;
    int Bits;  // global table
    TBytes Data;
    std::vector<int> Pixels;
  };
  const TCase cases[] = {
      {"literals above the table", 1, Codes(8, {{256, 9}, {3, 9}, {2, 9}, {5, 9}, {257, 9}}), {1, 0, 1, 0}},
      {"no clear first", 2, Codes(2, {{1, 3}, {2, 3}, {6, 3}, {5, 3}}), {1, 2, 1, 2}},
      {"code past the table", 2, Codes(2, {{4, 3}, {3, 3}, {7, 3}, {5, 3}}), {3, 3, 3, 0}},
      {"first code past the literals", 2, Codes(2, {{4, 3}, {6, 3}, {6, 3}, {5, 3}}), {2, 2, 2, 0}},
  };
  for (const TCase& c : cases) {
    TWnGIFImage gif;
    Load(gif, TGif().Header("89a", 4, 1, c.Bits).Image(0, 0, 4, 1, 0, c.Data).B);
    EXPECT_EQ(Indices(*gif.Frame(0)->GetBitmap()), c.Pixels) << c.What;
  }
}

// decode(encode(x)) = x, long enough for the table to fill and clear.
TEST(WnGifWrite, RoundTripsAtEachDepth) {
  struct TCase {
    platform::TPixelFormat Format;
    int Width, Height;
  };
  const TCase cases[] = {{platform::pf1bit, 1, 1},   {platform::pf1bit, 33, 17}, {platform::pf4bit, 7, 3},
                         {platform::pf4bit, 301, 90}, {platform::pf8bit, 1, 5},  {platform::pf8bit, 300, 200}};
  for (const TCase& c : cases) {
    const auto sourceBitmap = RandomBitmap(c.Width, c.Height, c.Format, static_cast<unsigned>(c.Width));
    const platform::TBitmap& source = *sourceBitmap;
    TWnGIFImage gif;
    gif.Assign(&source);
    const TBytes bytes = Save(gif);
    TWnGIFImage back;
    Load(back, bytes);
    ASSERT_EQ(back.FrameCount(), 1);
    const platform::TBitmap& got = *back.Frame(0)->GetBitmap();
    EXPECT_EQ(got.PixelFormat(), c.Format);
    EXPECT_EQ(Indices(got), Indices(source)) << c.Width << "x" << c.Height;
    EXPECT_EQ(Rgb(got), Rgb(source));
    EXPECT_FALSE(back.Frame(0)->Corrupted);
  }
}

TEST(WnGifWrite, LayoutOfAFrameWithControlAndComment) {
  const auto b = RandomBitmap(3, 2, platform::pf1bit, 1);
  TWnGIFImage gif;
  gif.Assign(b.get());
  TWnGIFFrame& f = *gif.Frame(0);
  f.AnimateInterval = 700000; // past the 16-bit field: clamped, not wrapped
  f.TransparentColor = static_cast<platform::TColor>(platform::RGB(0, 255, 0)); // entry 0
  f.DisposalMethod = 2;
  gif.MutableData().Comment = {std::string(300, 'c'), "", "end"};
  const TBytes bytes = Save(gif);
  const TBytes head(bytes.begin(), bytes.begin() + 13);
  EXPECT_EQ(head, (TBytes{'G', 'I', 'F', '8', '9', 'a', 3, 0, 2, 0, 0x80, 0, 0}));
  // Global table of 2 entries, then the control block: disposal 2,
  // transparent, delay 65535, index 0.
  const TBytes control(bytes.begin() + 19, bytes.begin() + 27);
  EXPECT_EQ(control, (TBytes{0x21, 0xF9, 4, 0x09, 0xFF, 0xFF, 0, 0}));
  // The comment: a 300-byte line cut to 255, the empty one skipped.
  const std::size_t comment = bytes.size() - (2 + 1 + 255 + 1 + 3 + 1 + 1);
  EXPECT_EQ(bytes[comment], 0x21);
  EXPECT_EQ(bytes[comment + 1], 0xFE);
  EXPECT_EQ(bytes[comment + 2], 255);
  EXPECT_EQ(bytes[comment + 258], 3);
  EXPECT_EQ(bytes.back(), 0x3B);

  TWnGIFImage back;
  Load(back, bytes);
  EXPECT_EQ(back.Frame(0)->AnimateInterval, 655350);
  EXPECT_EQ(back.Frame(0)->DisposalMethod, 2);
  EXPECT_EQ(back.Data().Comment, (std::vector<std::string>{std::string(255, 'c'), "end"}));
}

TEST(WnGifWrite, EdgeCases) {
  {
    TWnGIFImage gif;
    EXPECT_EQ(ErrorOf<platform::EInvalidGraphicOperation>([&] { Save(gif); }), "No GIF Data to write");
    EXPECT_EQ(ErrorOf<platform::EInvalidGraphicOperation>([&] { gif.SetWidth(5); }),
              "Cannot change the Size of a GIF image");
    EXPECT_EQ(ErrorOf<platform::EInvalidGraphicOperation>([&] { gif.SetHeight(5); }),
              "Cannot change the Size of a GIF image");
  }
  // A 24-bit bitmap becomes an 8-bit frame with a global table; a second
  // frame added afterwards gets a local one; two frames carry the loop.
  platform::TBitmap photo(20, 10, platform::pf24bit);
  photo.Canvas().Brush.Color = platform::clRed;
  photo.Canvas().FillRect(platform::Rect(0, 0, 10, 10));
  TWnGIFImage gif;
  gif.Assign(&photo);
  gif.Looping = true;
  gif.RepeatCount = 3;
  TBytes one = Save(gif);
  EXPECT_EQ(one[10], 0xF7) << "global table of 256 entries";
  EXPECT_EQ(std::search(one.begin(), one.end(), std::begin("NETSCAPE"), std::end("NETSCAPE") - 1), one.end())
      << "no loop block for one frame";
  const auto second = RandomBitmap(4, 4, platform::pf1bit, 9);
  gif.AddFrame(second.get());
  EXPECT_EQ(gif.Version, 2);
  TBytes two = Save(gif);
  TWnGIFImage back;
  Load(back, two);
  ASSERT_EQ(back.FrameCount(), 2);
  EXPECT_FALSE(back.Frame(0)->HasLocalMap);
  EXPECT_TRUE(back.Frame(1)->HasLocalMap);
  EXPECT_EQ(back.Frame(1)->Item().ColorMap.Count, 2);
  EXPECT_TRUE(back.Looping);
  EXPECT_EQ(back.RepeatCount, 3);
  EXPECT_EQ(back.Frame(0)->GetBitmap()->PixelFormat(), platform::pf8bit);
  EXPECT_EQ(Rgb(*back.Frame(0)->GetBitmap()).left(3), QByteArray("\xFF\x00\x00", 3));
}

// A local table whose colours do not fill its size field is padded, so the
// file stays readable by others.
TEST(WnGifWrite, LocalTablePaddedToItsDeclaredLength) {
  TWnGIFImage gif;
  Load(gif, TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, SmallFrame()).B);
  TWnGIFFrame& f = *gif.Frame(0);
  f.HasLocalMap = true;
  f.Item().ColorMap.Count = 3;
  const TBytes bytes = Save(gif);
  TWnGIFImage back;
  Load(back, bytes);
  EXPECT_EQ(back.Frame(0)->Item().ColorMap.Count, 4);
  EXPECT_EQ(Indices(*back.Frame(0)->GetBitmap()), (std::vector<int>{0, 1, 2, 3, 3, 2, 1, 0}));
}

TEST(WnGifPicture, AssignSharesDataAndCopiesFrames) {
  TWnGIFImage gif;
  Load(gif, TGif().Header("89a", 4, 2, 2).Control(1, 12, 1).Image(0, 0, 4, 2, 0, SmallFrame()).Comment({"c"}).B);
  TWnGIFImage copy;
  copy.Assign(&gif);
  EXPECT_TRUE(copy.Equals(&gif));
  EXPECT_EQ(copy.Frame(0)->Image, gif.Frame(0)->Image) << "the encoded frame is shared";
  EXPECT_EQ(copy.Frame(0)->AnimateInterval, 120);
  TWnGIFImage frameCopy;
  frameCopy.Assign(gif.Frame(0));
  EXPECT_FALSE(frameCopy.Equals(&gif));
  EXPECT_EQ(frameCopy.Data().ColorMap.Count, 4);
  platform::TBitmap out;
  gif.AssignTo(out);
  EXPECT_EQ(Indices(out), (std::vector<int>{0, 1, 2, 3, 3, 2, 1, 0}));
  gif.Assign(nullptr);
  EXPECT_TRUE(gif.GetEmpty());
  EXPECT_EQ(gif.GetWidth(), 0);
}

TEST(WnGifPicture, FromAnimatedCursor) {
  TWnAnimatedCursorImage cursor;
  for (std::uint32_t jiffies : {12u, 7u}) {
    auto frame = std::make_unique<TWnIconFrame>(0, jiffies);
    auto icon = std::make_unique<TIcon>();
    const TBytes bytes = wntest::MakeIcon();
    icon->LoadFromBytes(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    frame->SetIcon(std::move(icon));
    cursor.IconFrames.push_back(std::move(frame));
  }
  TWnGIFImage gif;
  gif.Assign(&cursor);
  ASSERT_EQ(gif.FrameCount(), 2);
  EXPECT_EQ(gif.BackgroundColor, platform::clWindow);
  EXPECT_EQ(gif.Frame(0)->AnimateInterval, 200);
  EXPECT_EQ(gif.Frame(1)->AnimateInterval, 116);
  EXPECT_EQ(gif.Frame(0)->TransparentColor, platform::clWhite) << "the icon's clear parts";
  platform::TBitmap& b = *gif.Frame(0)->GetBitmap();
  EXPECT_EQ(b.Canvas().Pixels(0, 0), platform::clWhite);
  EXPECT_EQ(b.Canvas().Pixels(1, 0), static_cast<platform::TColor>(platform::RGB(16, 239, 8)));
}

// Drawn stretched, the transparent colour leaving the canvas as it was.
TEST(WnGifPicture, DrawLeavesTransparentPixels) {
  TWnGIFImage gif;
  Load(gif, TGif().Header("89a", 4, 2, 2).Control(1, 0, 0).Image(0, 0, 4, 2, 0, SmallFrame()).B);
  platform::TBitmap canvas(10, 6, platform::pf24bit);
  canvas.Canvas().Brush.Color = platform::clBlue;
  canvas.Canvas().FillRect(platform::Rect(0, 0, 10, 6));
  gif.Draw(canvas.Canvas(), platform::Rect(1, 1, 9, 5));
  struct TProbe {
    int X, Y;
    platform::TColor Want;
  };
  const platform::TColor grey1 = platform::RGB(40, 40, 40), grey2 = platform::RGB(80, 80, 80),
                         grey3 = platform::RGB(120, 120, 120);
  const TProbe probes[] = {{0, 0, platform::clBlue}, {1, 1, platform::clBlue}, {2, 2, platform::clBlue},
                           {3, 1, grey1},            {5, 2, grey2},            {7, 1, grey3},
                           {1, 3, grey3},            {7, 4, platform::clBlue}, {9, 5, platform::clBlue}};
  for (const TProbe& p : probes) EXPECT_EQ(canvas.Canvas().Pixels(p.X, p.Y), p.Want) << p.X << "," << p.Y;
  gif.SetTransparent(false);
  gif.Draw(canvas.Canvas(), platform::Rect(1, 1, 9, 5));
  EXPECT_EQ(canvas.Canvas().Pixels(1, 1), platform::clBlack) << "opaque: entry 0 is black";
}

TEST(WnGifPicture, ClipboardCarriesFrameZeroAndTheGif) {
  TWnGIFImage gif;
  Load(gif, TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, SmallFrame()).Image(0, 0, 4, 2, 0, SmallFrame()).B);
  auto* mime = new QMimeData;
  gif.SaveToClipboardFormat(*mime);
  EXPECT_TRUE(mime->hasImage());
  EXPECT_TRUE(mime->hasFormat(GIFImageMimeType()));
  EXPECT_EQ(GIFImageMimeType(), "application/x-gif-image");
  QGuiApplication::clipboard()->setMimeData(mime);
  const std::unique_ptr<platform::TGraphic> pasted = platform::LoadGraphicFromClipboard(*QGuiApplication::clipboard()->mimeData());
  auto* back = dynamic_cast<TWnGIFImage*>(pasted.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->FrameCount(), 2);
  EXPECT_EQ(back->FrameIndex, 0);
  EXPECT_EQ(Rgb(*back->Frame(0)->GetBitmap()), Rgb(*gif.Frame(0)->GetBitmap()));
  // A bitmap alone becomes one frame.
  QMimeData plain;
  plain.setImageData(QImage(3, 3, QImage::Format_RGB32));
  TWnGIFImage fromBitmap;
  fromBitmap.LoadFromClipboardFormat(plain);
  EXPECT_EQ(fromBitmap.FrameCount(), 1);
  EXPECT_EQ(fromBitmap.GetWidth(), 3);
}

TEST(WnGifPicture, RegisteredForFilesAndClipboard) {
  const auto gif = platform::FindGraphicClass(".GIF");
  ASSERT_TRUE(gif.has_value());
  EXPECT_EQ(gif->Description, "CompuServe GIF Image");
  testing_support::TTempFolder temp;
  const TBytes bytes = TGif().Header("89a", 4, 2, 2).Image(0, 0, 4, 2, 0, SmallFrame()).B;
  platform::TMemoryStream file;
  file.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  file.SaveToFile(temp.File("a.Gif"));
  const auto loaded = platform::LoadGraphicFromFile(temp.File("a.Gif"));
  EXPECT_EQ(loaded->ClassName(), "TWnGIFImage");
  EXPECT_EQ(loaded->GetWidth(), 4);
  platform::UnregisterGraphicClass("TWnGIFImage");
  EXPECT_FALSE(platform::FindGraphicClass("gif").has_value());
  RegisterWnGIF();
}

// Our files decode alike in giflib and ImageMagick; theirs (made by
// ImageMagick and by gifbuild) decode alike in ours.
TEST(WnGifPeers, OurFilesInTheirDecoders) {
  if (!HaveTool("gif2rgb") || !HaveTool("convert")) GTEST_SKIP() << "giflib-tools or imagemagick missing";
  testing_support::TTempFolder temp;
  for (auto format : {platform::pf1bit, platform::pf4bit, platform::pf8bit}) {
    const auto b = RandomBitmap(61, 37, format, 5);
    TWnGIFImage gif;
    gif.Assign(b.get());
    gif.SaveToFile(temp.File("ours.gif"));
    const QByteArray ours = Rgb(*b);
    RunTool("gif2rgb", {"-1", "-o", QString::fromStdString(temp.File("ours.rgb")), QString::fromStdString(temp.File("ours.gif"))});
    QFile rgb(QString::fromStdString(temp.File("ours.rgb")));
    ASSERT_TRUE(rgb.open(QIODevice::ReadOnly));
    EXPECT_EQ(rgb.readAll(), ours) << "gif2rgb, format " << format;
    EXPECT_EQ(ConvertRgb(temp.File("ours.gif"), 0), ours) << "convert, format " << format;
  }
}

TEST(WnGifPeers, TheirFilesInOurDecoder) {
  if (!HaveTool("convert")) GTEST_SKIP() << "imagemagick missing";
  testing_support::TTempFolder temp;
  struct TCase {
    const char* Name;
    QStringList Args;
    int Frames;
  };
  const TCase cases[] = {
      {"plain", {"-size", "53x29", "gradient:red-blue", "-colors", "200"}, 1},
      {"interlaced", {"-seed", "3", "-size", "40x23", "plasma:fractal", "-colors", "64", "-interlace", "GIF"}, 1},
      {"transparent", {"-size", "16x9", "xc:red", "-fill", "blue", "-draw", "rectangle 2,2 9,6", "-transparent", "red"}, 1},
      {"animated",
       {"-delay", "7", "-size", "12x10", "xc:red", "(", "-size", "5x4", "xc:blue", "-repage", "+3+2", ")", "(", "-size",
        "12x10", "gradient:yellow-green", "-colors", "16", ")", "-loop", "0"},
       3},
  };
  for (const TCase& c : cases) {
    const std::string file = temp.File(std::string(c.Name) + ".gif");
    RunTool("convert", c.Args + QStringList{QString::fromStdString(file)});
    TWnGIFImage gif;
    gif.LoadFromFile(file);
    ASSERT_EQ(gif.FrameCount(), c.Frames) << c.Name;
    for (int i = 0; i < c.Frames; ++i)
      EXPECT_EQ(Rgb(*gif.Frame(i)->GetBitmap()), ConvertRgb(file, i)) << c.Name << " frame " << i;
  }
  TWnGIFImage anim;
  anim.LoadFromFile(temp.File("animated.gif"));
  EXPECT_TRUE(anim.Looping);
  EXPECT_EQ(anim.Frame(1)->AnimateInterval, 70);
  EXPECT_EQ(anim.Frame(1)->TopLeft.X, 3);
  EXPECT_EQ(anim.Frame(1)->TopLeft.Y, 2);
}

TEST(WnGifPeers, HandMadeBlockOrdersFromGifbuild) {
  if (!HaveTool("gifbuild")) GTEST_SKIP() << "giflib-tools missing";
  const QByteArray text = "screen width 4\nscreen height 3\nscreen colors 4\nscreen background 1\npixel aspect byte 0\n"
                          "screen map\n rgb 255 000 000 is 0\n rgb 000 000 255 is 1\n rgb 000 255 000 is 2\n"
                          " rgb 255 255 255 is 3\nend\n"
                          "comment\nbefore\nend\n"
                          "graphics control\n disposal mode 2\n user input flag off\n delay 7\n transparent index 3\nend\n"
                          "image # 1\nimage left 0\nimage top 0\nimage interlaced\nimage bits 4 by 3\n0123\n3210\n0011\n"
                          "comment\nafter one\nend\ncomment\nafter two\nend\n";
  const QByteArray bytes = RunTool("gifbuild", {}, text);
  TWnGIFImage gif;
  Load(gif, TBytes(bytes.begin(), bytes.end()));
  ASSERT_EQ(gif.FrameCount(), 1);
  const TWnGIFFrame& f = *gif.Frame(0);
  EXPECT_TRUE(f.Interlaced);
  EXPECT_EQ(Indices(*gif.Frame(0)->GetBitmap()), (std::vector<int>{0, 1, 2, 3, 3, 2, 1, 0, 0, 0, 1, 1}));
  EXPECT_EQ(f.DisposalMethod, 2);
  EXPECT_EQ(f.AnimateInterval, 70);
  EXPECT_EQ(f.TransparentColor, platform::clWhite);
  EXPECT_EQ(gif.BackgroundColor, platform::clBlue);
  ASSERT_EQ(f.Extensions.size(), 2u) << "the comment before the frame stays with it";
  EXPECT_EQ(*f.Extensions[0]->Data, (std::vector<std::string>{"before"}));
  EXPECT_EQ(gif.Data().Comment, (std::vector<std::string>{"after one", "\r\n\r\n", "after two"}));
}

#include "image/model/rvbitmap.h"
#include "image/model/rvbits.h"
#include "image/model/rvmask.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

using namespace rv;

namespace {
std::unique_ptr<TRvBitmap> Make(int w, int h, TRvPixelFormat f, TRvBitmapLocation where = rvlMemory) {
  auto b = std::make_unique<TRvBitmap>();
  b->SetLocation(where);
  if (where == rvlFile) b->SetMapThreshold(0);
  b->Allocate(w, h, f);
  return b;
}
int Word(TRvBitmap& b, int x, int y) { return b.Scanline(y)[2 * x] | (b.Scanline(y)[2 * x + 1] << 8); }
} // namespace

TEST(RvBitmapLayout, RowLengthsPerFormat) {
  EXPECT_EQ(Make(1, 1, rvpf1Bit)->RowLen(), 4);
  EXPECT_EQ(Make(33, 1, rvpf1Bit)->RowLen(), 8);
  EXPECT_EQ(Make(3, 1, rvpf24Bit)->RowLen(), 12);
  EXPECT_EQ(Make(3, 1, rvpf16BitGray)->RowLen(), 8);
  EXPECT_EQ(Make(5, 1, rvpf8BitGray)->RowLen(), 8);
  auto p = Make(5, 1, rvpf8BitPalette);
  EXPECT_EQ(p->PaletteCount(), 256);
  EXPECT_NE(p->Palette(), nullptr);
  EXPECT_EQ(Make(5, 1, rvpf8BitGray)->Palette(), nullptr);
}

TEST(RvBitmapLayout, MemoryRowsAreBottomUp) {
  auto b = Make(3, 4, rvpf24Bit);
  EXPECT_EQ(b->Scanline(0) - b->Scanline(3), 3 * 12);
  EXPECT_EQ(b->Scanline(1) - b->Scanline(2), 12);
}

TEST(RvBitmapLayout, NoStorageWithoutSizeOrFormat) {
  auto b = Make(0, 10, rvpf24Bit);
  EXPECT_EQ(b->RowLen(), 0);
  EXPECT_EQ(b->Height(), 10);
  auto n = Make(10, 10, rvpfNone);
  EXPECT_EQ(n->RowLen(), 0);
}

TEST(RvBitmapLayout, OverflowingRowIsRefusedAndLeavesItEmpty) {
  TRvBitmap b;
  b.SetLocation(rvlMemory);
  b.Allocate(2, 2, rvpf24Bit);
  EXPECT_THROW(b.Allocate(INT_MAX, 1, rvpf24Bit), std::bad_alloc);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_EQ(b.RowLen(), 0);
}

TEST(RvBitmapStorage, ThresholdChoosesTheKind) {
  // 8-bit gray, 4 x 1024: 4096 bytes.
  TRvBitmap exact;
  exact.SetMapThreshold(4096);
  exact.Allocate(4, 1024, rvpf8BitGray);
  EXPECT_EQ(exact.Location(), rvlFile);
  TRvBitmap below;
  below.SetMapThreshold(4097);
  below.Allocate(4, 1024, rvpf8BitGray);
  EXPECT_EQ(below.Location(), rvlMemory);
}

TEST(RvBitmapStorage, FileKindKeepsRowsAcrossWindowsAndDeletesItsFile) {
  // 40 MB: rows in two mapped windows.
  const int w = 4096, h = 3414;
  std::string fileName;
  {
    auto b = Make(w, h, rvpf24Bit, rvlFile);
    ASSERT_EQ(b->Location(), rvlFile);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = b->Scanline(y);
      row[0] = static_cast<std::uint8_t>(y);
      row[b->RowLen() - 1] = static_cast<std::uint8_t>(y >> 8);
    }
    for (int y = h - 1; y >= 0; --y) {
      const std::uint8_t* row = b->Scanline(y);
      ASSERT_EQ(row[0], static_cast<std::uint8_t>(y));
      ASSERT_EQ(row[b->RowLen() - 1], static_cast<std::uint8_t>(y >> 8));
    }
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(RvTempPath()))
      files += e.path().filename().string().rfind("rastrum", 0) == 0;
    EXPECT_GE(files, 1);
  }
}

TEST(RvBitmapStorage, MemoryMappedFileLifecycle) {
  TRvMemoryMapped store;
  EXPECT_FALSE(store.IsAllocated());
  ASSERT_TRUE(store.Allocate("", 200000, 0));
  const std::string name = store.FileName();
  EXPECT_NE(name.find("rastrum"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(name), 200000u);
  auto* v = static_cast<std::uint8_t*>(store.MapView(0, 65536, 100)); // unaligned offsets are fine
  ASSERT_NE(v, nullptr);
  v[0] = 42;
  EXPECT_EQ(store.MapView(0, 199990, 100), nullptr); // past the end
  store.UnmapView(v);
  auto* again = static_cast<std::uint8_t*>(store.MapView(65536, 1));
  EXPECT_EQ(again[0], 42);
  EXPECT_TRUE(store.Resize(300000));
  EXPECT_EQ(std::filesystem::file_size(name), 300000u);
  store.Deallocate();
  EXPECT_FALSE(std::filesystem::exists(name));
}

// Work files left by a process that is gone go at the next start; those of
// a live process, other names and other kinds of entry stay.
TEST(RvBitmapStorage, StaleWorkFilesOfDeadProcessesOnly) {
  const std::string kept = RvTempFolder;
  char folder[] = "/tmp/rvstaleXXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  RvTempFolder = folder;
  const pid_t dead = ::fork();
  if (dead == 0) _exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string base = std::string(folder) + "/rastrum";
  const std::string gone = base + std::to_string(dead) + "-aB3dE9";
  const std::vector<std::string> stay = {base + std::to_string(::getppid()) + "-aB3dE9", base + "Ab3dE9",
                                         base + std::to_string(dead) + "-abc", std::string(folder) + "/x" + std::to_string(dead) + "-aB3dE9"};
  for (const std::string& f : stay) std::ofstream(f) << "x";
  std::ofstream(gone) << "x";
  ::mkdir((base + std::to_string(dead) + "-dirdir").c_str(), 0700);
  TRvMemoryMapped mine;
  ASSERT_TRUE(mine.Allocate("", 4096));
  EXPECT_EQ(mine.FileName().rfind(base + std::to_string(::getpid()) + "-", 0), 0u) << mine.FileName();

  EXPECT_EQ(RvRemoveStaleTempFiles(), 1);
  EXPECT_FALSE(std::filesystem::exists(gone));
  for (const std::string& f : stay) EXPECT_TRUE(std::filesystem::exists(f)) << f;
  EXPECT_TRUE(std::filesystem::exists(base + std::to_string(dead) + "-dirdir"));
  EXPECT_TRUE(std::filesystem::exists(mine.FileName()));
  mine.Deallocate();
  RvTempFolder = kept;
  std::filesystem::remove_all(folder);
}

TEST(RvBitmapFill, FullFlagFollowsTheValue) {
  auto bw = Make(10, 2, rvpf1Bit);
  bw->Fill(1);
  EXPECT_TRUE(bw->Full());
  EXPECT_EQ(bw->Scanline(1)[0], 0xFF);
  EXPECT_EQ(bw->Scanline(1)[3], 0xFF);
  auto g = Make(3, 3, rvpf8BitGray);
  g->Fill(254);
  EXPECT_FALSE(g->Full());
  g->Fill(255);
  EXPECT_TRUE(g->Full());
  auto w = Make(2, 2, rvpf16BitGray);
  w->Fill(0x1234);
  EXPECT_EQ(Word(*w, 1, 1), 0x1234);
  auto c = Make(2, 2, rvpf24Bit);
  c->Fill(platform::clRed); // TColor 0x0000FF: stored blue, green, red
  EXPECT_EQ(c->Scanline(0)[0], 0);
  EXPECT_EQ(c->Scanline(0)[2], 255);
  TRGB px;
  c->GetPixelRGB(1, 1, px);
  EXPECT_EQ(px.r, 255);
  EXPECT_FALSE(c->Full());
}

TEST(RvBitmapConvert, WorkedValues) {
  auto w = Make(1, 1, rvpf16BitGray);
  w->Scanline(0)[0] = 0x34;
  w->Scanline(0)[1] = 0x12;
  w->SetPixelFormat(rvpf8BitGray);
  EXPECT_EQ(w->Scanline(0)[0], 0x12);
  w->SetPixelFormat(rvpf16BitGray);
  EXPECT_EQ(Word(*w, 0, 0), 0x1200);

  auto c = Make(1, 1, rvpf24Bit);
  c->Scanline(0)[0] = 0;
  c->Scanline(0)[1] = 0;
  c->Scanline(0)[2] = 255;
  auto c16 = Make(1, 1, rvpf24Bit);
  c16->Assign(c.get());
  c->SetPixelFormat(rvpf8BitGray);
  EXPECT_EQ(c->Scanline(0)[0], 53);
  c16->SetPixelFormat(rvpf16BitGray);
  EXPECT_EQ(Word(*c16, 0, 0), 13839);
}

TEST(RvBitmapConvert, OneBitToPaletteAndBack) {
  auto b = Make(9, 1, rvpf1Bit);
  b->Scanline(0)[0] = 0x81;
  b->Scanline(0)[1] = 0x80;
  b->SetPixelFormat(rvpf8BitPalette);
  EXPECT_EQ(b->Palette()[0].r, 0);
  EXPECT_EQ(b->Palette()[1].g, 255);
  const std::uint8_t expected[9] = {1, 0, 0, 0, 0, 0, 0, 1, 1};
  for (int x = 0; x < 9; ++x) EXPECT_EQ(b->Scanline(0)[x], expected[x]) << x;
  // Back through the dither: white is 63 after shr 2, and 63 > D fails
  // where the matrix holds 63 (x = 7, y = 0).
  b->SetPixelFormat(rvpf1Bit);
  EXPECT_EQ(b->Scanline(0)[0], 0x80);
  EXPECT_EQ(b->Scanline(0)[1] & 0x80, 0x80);
}

TEST(RvBitmapConvert, DitherToOneBitWritesEveryBit) {
  auto g = Make(8, 8, rvpf8BitGray);
  g->Fill(128);
  g->SetPixelFormat(rvpf1Bit);
  int white = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(RvTestBit(g->Scanline(y), x), RvDitherMatrix[x][y] < 32);
      white += RvTestBit(g->Scanline(y), x);
    }
  EXPECT_EQ(white, 32);
}

TEST(RvBitmapConvert, SameFormatKeepsAlphaConversionDropsIt) {
  auto b = Make(4, 4, rvpf24Bit);
  b->GetAlphaChannel()->Fill(255);
  b->SetPixelFormat(rvpf24Bit);
  EXPECT_TRUE(b->HasAlphaChannel());
  b->SetPixelFormat(rvpf8BitGray);
  EXPECT_FALSE(b->HasAlphaChannel());
  EXPECT_EQ(b->GetAlphaChannel()->GetAlphaChannel(), nullptr);
}

TEST(RvBitmapConvert, TrueColourToPaletteThroughTheQuantiser) {
  auto b = Make(40, 40, rvpf24Bit);
  b->Fill(platform::clBlack);
  for (int y = 0; y < 40; ++y)
    for (int x = 20; x < 40; ++x) std::memset(b->Scanline(y) + 3 * x, 255, 3);
  b->SetPixelFormat(rvpf8BitPalette);
  TRGB left, right;
  b->GetPixelRGB(0, 5, left);
  b->GetPixelRGB(39, 5, right);
  EXPECT_LT(left.r + left.g + left.b, 30);
  EXPECT_GT(right.r + right.g + right.b, 3 * 255 - 30);
}

TEST(RvBitmapConvert, InsideAClassLibraryBitmap) {
  auto b = Make(2, 1, rvpf24Bit, rvlTBitmap);
  ASSERT_EQ(b->Location(), rvlTBitmap);
  std::memset(b->Scanline(0), 0, 6);
  b->Scanline(0)[5] = 255; // red at x = 1
  b->SetPixelFormat(rvpf8BitGray);
  EXPECT_EQ(b->TBitmap()->PixelFormat(), platform::pf8bit);
  EXPECT_EQ(b->Scanline(0)[0], 0);
  EXPECT_EQ(b->Scanline(0)[1], 53);
  b->SetPixelFormat(rvpf16BitGray); // kept as 8 bits there
  EXPECT_EQ(b->PixelFormat(), rvpf8BitGray);
  EXPECT_EQ(b->Scanline(0)[1], 53);
}

TEST(RvBitmapStorage, RoundTripBetweenKindsKeepsPixelsAndAlpha) {
  auto b = Make(5, 3, rvpf24Bit);
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < 15; ++i) b->Scanline(y)[i] = static_cast<std::uint8_t>(y * 16 + i);
  TRvBitmap* alpha = b->GetAlphaChannel();
  for (int y = 0; y < 3; ++y) std::memset(alpha->Scanline(y), 10 + y, 5);
  b->SetMapThreshold(0);
  for (TRvBitmapLocation where : {rvlFile, rvlTBitmap, rvlMemory, rvlTBitmap, rvlFile}) {
    b->SetLocation(where);
    ASSERT_EQ(b->Location(), where);
    ASSERT_TRUE(b->HasAlphaChannel());
    for (int y = 0; y < 3; ++y) {
      for (int i = 0; i < 15; ++i) ASSERT_EQ(b->Scanline(y)[i], y * 16 + i) << where;
      ASSERT_EQ(b->GetAlphaChannel()->Scanline(y)[4], 10 + y) << where;
    }
  }
}

TEST(RvBitmapStorage, SixteenBitGrayIntoClassLibraryKeepsHighBytes) {
  auto b = Make(2, 1, rvpf16BitGray);
  b->Scanline(0)[0] = 0xFF;
  b->Scanline(0)[1] = 0x12;
  b->Scanline(0)[2] = 0x00;
  b->Scanline(0)[3] = 0xAB;
  b->SetLocation(rvlTBitmap);
  EXPECT_EQ(b->PixelFormat(), rvpf8BitGray);
  EXPECT_EQ(b->Scanline(0)[0], 0x12);
  EXPECT_EQ(b->Scanline(0)[1], 0xAB);
}

TEST(RvBitmapResize, KeepsOverlapAndPaletteDropsAlpha) {
  auto b = Make(3, 3, rvpf8BitPalette);
  b->Palette()[7] = TRGB{1, 2, 3};
  for (int y = 0; y < 3; ++y) std::memset(b->Scanline(y), y + 1, 3);
  b->GetAlphaChannel();
  b->SetWidth(5);
  EXPECT_EQ(b->Width(), 5);
  EXPECT_EQ(b->RowLen(), 8);
  EXPECT_FALSE(b->HasAlphaChannel());
  EXPECT_EQ(b->Palette()[7].g, 2);
  EXPECT_EQ(b->Scanline(2)[2], 3);
  b->SetHeight(2);
  EXPECT_EQ(b->Scanline(1)[0], 2);
  TRvBitmap empty;
  empty.SetWidth(7); // no format: only the field
  EXPECT_EQ(empty.Width(), 7);
}

TEST(RvBitmapClassLibrary, WrappingWritesIntoTheCallersBitmap) {
  platform::TBitmap view(4, 2, platform::pf24bit);
  {
    TRvBitmap b;
    b.CopyFromTBitmap(&view);
    EXPECT_EQ(b.Location(), rvlTBitmap);
    EXPECT_TRUE(b.External());
    EXPECT_EQ(b.PixelFormat(), rvpf24Bit);
    b.Scanline(1)[0] = 99;
    b.Allocate(6, 3, rvpf24Bit); // a load into the wrapped bitmap resizes it
    EXPECT_EQ(view.Width(), 6);
  }
  EXPECT_EQ(view.Height(), 3); // still alive after the wrapper is gone
  platform::TBitmap indexed(2, 2, platform::pf8bit);
  TRvBitmap refused;
  refused.CopyFromTBitmap(&indexed);
  EXPECT_EQ(refused.PixelFormat(), rvpfNone);
  EXPECT_FALSE(refused.External());
}

TEST(RvBitmapClassLibrary, CopyToTBitmapByFormat) {
  auto g = Make(2, 1, rvpf16BitGray);
  g->Scanline(0)[1] = 0x80;
  g->Scanline(0)[3] = 0x40;
  platform::TBitmap out;
  g->CopyToTBitmap(&out);
  EXPECT_EQ(out.PixelFormat(), platform::pf8bit);
  EXPECT_EQ(out.ScanLine(0)[0], 0x80);
  EXPECT_EQ(out.ScanLine(0)[1], 0x40);
  platform::TPaletteEntry e[1];
  out.GetPaletteEntries(0x40, 1, e);
  EXPECT_EQ(e[0].peRed, 0x40);

  auto bw = Make(3, 1, rvpf1Bit);
  bw->Scanline(0)[0] = 0xA0;
  bw->CopyToTBitmap(&out);
  EXPECT_TRUE(out.Monochrome());
  EXPECT_EQ(out.ScanLine(0)[0] & 0xE0, 0xA0);
}

TEST(RvBitmapClassLibrary, AssignConvertsEveryFormat) {
  TRvBitmap b;
  b.SetLocation(rvlMemory);
  platform::TBitmap w15(1, 1, platform::pf15bit);
  w15.ScanLine(0)[0] = 0xFF;
  w15.ScanLine(0)[1] = 0x7F;
  b.AssignTBitmap(&w15);
  EXPECT_EQ(b.PixelFormat(), rvpf24Bit);
  EXPECT_EQ(b.Scanline(0)[0], 248);
  EXPECT_EQ(b.Scanline(0)[2], 248);
  platform::TBitmap w16(1, 1, platform::pf16bit);
  w16.ScanLine(0)[0] = 0x00;
  w16.ScanLine(0)[1] = 0xF8; // red only
  b.AssignTBitmap(&w16);
  EXPECT_EQ(b.Scanline(0)[2], 0xF8);
  EXPECT_EQ(b.Scanline(0)[1], 0);
  platform::TBitmap nib(3, 1, platform::pf4bit);
  nib.ScanLine(0)[0] = 0x3C;
  nib.ScanLine(0)[1] = 0x50;
  const platform::TPaletteEntry red{255, 0, 0, 0};
  nib.SetPaletteEntries(0x0C, 1, &red);
  b.AssignTBitmap(&nib);
  EXPECT_EQ(b.PixelFormat(), rvpf8BitPalette);
  EXPECT_EQ(b.Scanline(0)[0], 3);
  EXPECT_EQ(b.Scanline(0)[1], 12);
  EXPECT_EQ(b.Scanline(0)[2], 5);
  EXPECT_EQ(b.Palette()[12].r, 255);
  EXPECT_EQ(b.Palette()[12].b, 0);
  platform::TBitmap w32(2, 1, platform::pf32bit);
  w32.ScanLine(0)[4] = 1;
  w32.ScanLine(0)[6] = 3;
  w32.ScanLine(0)[7] = 4;
  b.AssignTBitmap(&w32);
  EXPECT_EQ(b.Scanline(0)[3], 1);
  EXPECT_EQ(b.Scanline(0)[5], 3);
  platform::TBitmap device(2, 2, platform::pfDevice);
  b.AssignTBitmap(&device); // nothing copied
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.Height(), 1);
}

TEST(RvBitmapAssign, CopiesAlphaAndFull) {
  auto src = Make(3, 2, rvpf24Bit, rvlFile);
  src->Fill(platform::clWhite);
  src->GetAlphaChannel()->Fill(7);
  auto dst = Make(1, 1, rvpf8BitGray, rvlTBitmap);
  dst->Assign(src.get());
  EXPECT_EQ(dst->Location(), rvlTBitmap);
  EXPECT_TRUE(dst->Full());
  EXPECT_EQ(dst->Width(), 3);
  EXPECT_EQ(dst->Scanline(1)[8], 255);
  ASSERT_TRUE(dst->HasAlphaChannel());
  EXPECT_EQ(dst->GetAlphaChannel()->Width(), 3);
  EXPECT_EQ(dst->GetAlphaChannel()->Scanline(1)[2], 7);
}

TEST(RvBitmapMasks, AlphaRoundTripThroughAMask) {
  TRvMask mask;
  mask.Allocate(3, 2, 8);
  mask.Fill(255);
  mask.SetPixel(2, 1, 255);
  TRvBitmap alpha;
  alpha.SetLocation(rvlMemory);
  alpha.CopyFromMask(&mask);
  EXPECT_EQ(alpha.PixelFormat(), rvpf8BitGray);
  EXPECT_TRUE(alpha.Full());
  alpha.Scanline(0)[1] = 9;
  TRvMask back;
  alpha.SetFull(false);
  alpha.CopyToMask(&back);
  EXPECT_EQ(back.BitCount(), 8);
  EXPECT_EQ(back.GetPixel(1, 0), 9);
  EXPECT_EQ(back.GetPixel(2, 1), 255);
  EXPECT_FALSE(back.Full());
  auto c = Make(2, 2, rvpf24Bit);
  c->CopyToMask(&back); // unsupported: the mask stays as it was
  EXPECT_EQ(back.Width(), 3);
  alpha.CopyFromMask(nullptr);
  EXPECT_TRUE(alpha.Full());
  EXPECT_EQ(alpha.Scanline(0)[1], 255);
}

TEST(RvBitmapPixels, GetPixelRGBPerFormat) {
  TRGB c;
  auto bw = Make(2, 1, rvpf1Bit);
  bw->Scanline(0)[0] = 0x40;
  bw->GetPixelRGB(1, 0, c);
  EXPECT_EQ(c.g, 255);
  bw->GetPixelRGB(0, 0, c);
  EXPECT_EQ(c.g, 0);
  auto w = Make(1, 1, rvpf16BitGray);
  w->Fill(0xAB12);
  w->GetPixelRGB(0, 0, c);
  EXPECT_EQ(c.r, 0xAB);
  auto p = Make(1, 1, rvpf8BitPalette);
  p->Palette()[4] = TRGB{1, 2, 3};
  p->Fill(4);
  p->GetPixelRGB(0, 0, c);
  EXPECT_EQ(c.b, 1);
  EXPECT_EQ(c.r, 3);
}

TEST(RvBitmapCanvas, DrawingMovesPixelsIntoTheClassLibraryKind) {
  auto b = Make(4, 4, rvpf24Bit);
  b->Fill(platform::clWhite);
  platform::TCanvas& canvas = b->Canvas();
  EXPECT_EQ(b->Location(), rvlTBitmap);
  canvas.Brush.Color = platform::clBlue;
  canvas.FillRect(platform::Rect(1, 1, 3, 3));
  TRGB c;
  b->GetPixelRGB(1, 1, c);
  EXPECT_EQ(c.b, 255);
  EXPECT_EQ(c.r, 0);
  b->GetPixelRGB(3, 3, c);
  EXPECT_EQ(c.r, 255);
}

#include "image/views/rvmview.h"

#include <QScrollBar>
#include <QStyle>
#include <gtest/gtest.h>

#include <fstream>

#include "image/io/gif/giflzw.h"
#include "image/io/lzwhooks.h"
#include "image/io/rvioparams.h"
#include "image/io/rvmio.h"
#include "image/views/rvmviewimages.h"
#include "mviewtestutil.h"
#include "support/heldbytes.h"
#include "platform/stream.h"
#include "support/tempfolder.h"

namespace {

using namespace rv;
using namespace mviewtest;

void Fill(TRastrumMView& View, int Count) {
  for (int i = 0; i < Count; ++i) View.AppendImage();
}

// ---- Layout

struct TLayoutCase {
  int Grid, ClientWidth, Count;
  TRvMDisplayMode Mode;
  int Probe, X, Y, Row, Col;
  int ContentWidth, ContentHeight;
};

class TLayout : public testing::TestWithParam<TLayoutCase> {};

TEST_P(TLayout, PlacesCellsAndSizesTheContent) {
  const TLayoutCase& c = GetParam();
  TRastrumMView view;
  Shape(view, c.ClientWidth, 100, c.Grid);
  view.SetDisplayMode(c.Mode);
  Fill(view, c.Count);
  EXPECT_EQ(view.ImageID(c.Probe), c.X);
  EXPECT_EQ(view.ImageTag(c.Probe), c.Y);
  EXPECT_EQ(view.ImageRow(c.Probe), c.Row);
  EXPECT_EQ(view.ImageCol(c.Probe), c.Col);
  EXPECT_EQ(view.ContentWidth(), c.ContentWidth);
  EXPECT_EQ(view.ContentHeight(), c.ContentHeight);
}

INSTANTIATE_TEST_SUITE_P(
    Grids, TLayout,
    testing::Values(
        // One row: X = 54 i + 4 at Y 4; content = last X + 54, one cell high.
        TLayoutCase{0, 200, 5, mdGrid, 4, 220, 4, 0, 4, 274, 48},
        // Three columns: image 4 in row 1, column 1; image 6 starts row 2.
        TLayoutCase{3, 200, 7, mdGrid, 4, 58, 48, 1, 1, 166, 136},
        TLayoutCase{3, 200, 7, mdGrid, 6, 4, 92, 2, 0, 166, 136},
        // As many as fit: (170 - 4) div 54 = 3 columns.
        TLayoutCase{-1, 170, 7, mdGrid, 6, 4, 92, 2, 0, 166, 136},
        // Narrower than one cell: no column fits, one row.
        TLayoutCase{-1, 50, 3, mdGrid, 2, 112, 4, 0, 2, 166, 48},
        // A single cell shows every image at 0, 0.
        TLayoutCase{3, 200, 4, mdSingle, 3, 0, 0, 0, 0, 54, 44},
        // No image: one empty cell of content.
        TLayoutCase{3, 200, 0, mdGrid, 0, 0, 0, 0, 0, 54, 44}));

TEST(MView, InsertsAndDeletesKeepTheLayoutOfAFreshView) {
  TRastrumMView view;
  Shape(view, 200, 100, 3);
  Fill(view, 6);
  view.InsertImage(2);
  view.DeleteImage(0);
  view.InsertImageEx(100); // past the end: appended
  view.DeleteImage(-1);    // refused
  view.DeleteImage(view.ImageCount());
  ASSERT_EQ(view.ImageCount(), 7);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(view.ImageID(i), 54 * (i % 3) + 4) << i;
    EXPECT_EQ(view.ImageTag(i), 44 * (i / 3) + 4) << i;
  }
  EXPECT_EQ(view.ImageID(7), 0);
  EXPECT_EQ(view.ImageFileName(-1), "");
  EXPECT_EQ(view.ImageInfoText(7), nullptr);
  // Steps of no size divide nothing: the layout stays, hit tests find none.
  view.SetHorizBorder(-50);
  view.SetGridWidth(-1);
  view.KeyDown(Qt::Key_Down, 0);
  EXPECT_EQ(view.ImageAtPos(10, 10), -1);
  EXPECT_EQ(view.ImageID(1), 58);
}

TEST(MView, LastOperationAndCurrentImageAfterListChanges) {
  TRastrumMView view;
  Shape(view, 200, 100, 0);
  Fill(view, 4);
  EXPECT_EQ(view.SelectedImage(), 3); // the appended image became current
  EXPECT_EQ(view.TakeLastOp(), RvMOpInsert);
  EXPECT_EQ(view.LastOpIndex(), 3);
  EXPECT_EQ(view.TakeLastOp(), RvMOpNone);
  view.DeleteImage(3); // the current image, and the last
  EXPECT_EQ(view.SelectedImage(), 2);
  EXPECT_EQ(view.TakeLastOp(), RvMOpDelete);
  EXPECT_EQ(view.LastOpIndex(), 3);
  view.DeleteImage(0); // before the current one: same image, index minus one
  EXPECT_EQ(view.SelectedImage(), 1);
  view.Clear();
  EXPECT_EQ(view.ImageCount(), 0);
  EXPECT_EQ(view.SelectedImage(), -1);
}

// ---- Hit test and visibility

TEST(MView, HitTestOnAThreeColumnGrid) {
  TRastrumMView view;
  Shape(view, 200, 100, 3);
  Fill(view, 7);
  const struct {
    int X, Y, ViewY, Expected;
  } cases[] = {
      {4, 4, 0, 0},   {53, 4, 0, 0},   // last column of the cell
      {54, 4, 0, -1}, {57, 4, 0, -1},  // the border between cells
      {58, 4, 0, 1},  {4, 3, 0, -1},   // above the cell
      {4, 43, 0, 0},  {4, 44, 0, -1},  // the cell's last row, then the border
      {58, 92, 0, -1},                 // no image 7
      {4, 92, 0, 6},  {4, 38, 10, 3},  // scrolled down by 10
  };
  for (const auto& c : cases) {
    view.SetViewY(c.ViewY);
    EXPECT_EQ(view.ImageAtPos(c.X, c.Y), c.Expected) << c.X << "," << c.Y << " at " << c.ViewY;
  }
  view.SetViewY(0);
  EXPECT_EQ(view.ImageVisibility(0), 2);
  EXPECT_EQ(view.ImageVisibility(3), 2); // 48 .. 87 inside 100
  EXPECT_EQ(view.ImageVisibility(6), 1); // 92 .. 131
  EXPECT_EQ(view.ImageVisibility(7), 0);
  EXPECT_EQ(view.ImageVisibility(-1), 0);
}

// ---- Scrolling and scroll bars

TEST(MView, ScrollPositionIsClampedToTheContent) {
  TRastrumMView view;
  Shape(view, 200, 100, 0);
  view.show(); // resizing a shown control lays it out again
  Fill(view, 10); // content 54 x 10 + 4 = 544 wide
  EXPECT_EQ(view.MaxViewX(), 344);
  view.SetViewX(1000);
  EXPECT_EQ(view.ViewX(), 344);
  view.SetViewX(-5);
  EXPECT_EQ(view.ViewX(), 0);
  view.SetViewXY(100, 100);
  EXPECT_EQ(view.ViewX(), 100);
  EXPECT_EQ(view.ViewY(), 0); // one row: nothing to scroll down
  int changes = 0;
  view.OnViewChange = [&](void*, int Change) { changes += Change == 0; };
  view.SetViewX(344);
  view.resize(500, 100); // the content no longer reaches that far
  EXPECT_EQ(view.ViewX(), 44);
  EXPECT_EQ(changes, 1);
}

TEST(MView, ScrollBarsFollowTheContentAndTheSetter) {
  TRastrumMView view;
  Shape(view, 200, 100, 0);
  Fill(view, 10);
  const int extent = view.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view.HorzScrollBar());
  view.SetScrollBars(ssBoth);
  EXPECT_FALSE(view.HorzScrollBar()->isHidden());
  EXPECT_TRUE(view.VertScrollBar()->isHidden()); // nothing to scroll down
  EXPECT_EQ(view.ClientHeight(), 100 - extent);
  // scale = (200 + 344 - 1) / 65536 units per pixel
  const double scale = 543.0 / 65536;
  EXPECT_EQ(view.HorzScrollBar()->pageStep(), static_cast<int>(200 / scale));
  const struct {
    TRvScrollCode Code;
    int Position, Expected;
  } cases[] = {{scLineDown, 0, 54},    {scLineDown, 0, 108},  {scLineUp, 0, 54},
               {scPageDown, 0, 254},   {scPageUp, 0, 54},     {scBottom, 0, 344},
               {scTop, 0, 0},          {scPosition, 20000, 165},
               {scTrack, 30000, 248}, {scEndScroll, 0, 248}};
  for (const auto& c : cases) {
    view.ScrollMessage(false, c.Code, c.Position);
    EXPECT_EQ(view.ViewX(), c.Expected) << "code " << c.Code;
    // The thumb stops where the page reaches the end of the range.
    EXPECT_EQ(view.HorzScrollBar()->value(),
              std::min(static_cast<int>(view.ViewX() / scale), view.HorzScrollBar()->maximum()))
        << c.Code;
  }
  view.HorzScrollParams().Tracking = false;
  view.ScrollMessage(false, scTrack, 0);
  EXPECT_EQ(view.ViewX(), 248);
  view.HorzScrollParams().LineStep = 7;
  view.ScrollMessage(false, scLineDown, 0);
  EXPECT_EQ(view.ViewX(), 255);
  // Leaving out the bar hides it and gives its room back.
  view.SetScrollBars(ssVertical);
  EXPECT_TRUE(view.HorzScrollBar()->isHidden());
  EXPECT_EQ(view.ClientHeight(), 100);
}

// ---- Pixels and captions

TEST(MView, StoredPixelsFollowTheStoreType) {
  TRastrumMView view;
  Shape(view, 200, 100, 0);
  Fill(view, 2);
  TRvBitmap big;
  MarkedPicture(big, 200, 100, 0x336699);
  view.SetImage(0, &big);
  EXPECT_EQ(view.ImageFullWidth(0), 200);
  platform::TBitmap* whole = view.GetImageBitmap(0);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole->Width(), 200);
  view.ReleaseImageBitmap(whole);
  view.StoreType = rvtThumb;
  view.SetImage(1, &big);
  platform::TBitmap* thumb = view.GetImageBitmap(1);
  ASSERT_NE(thumb, nullptr);
  EXPECT_EQ(thumb->Width(), 50); // 200 x 100 fitted into 50 x 40
  EXPECT_EQ(thumb->Height(), 25);
  EXPECT_EQ(view.ImageFullWidth(1), 200);
  EXPECT_EQ(view.ImageFullHeight(1), 100);
  view.ReleaseImageBitmap(thumb);
  // A palette picture keeps its colours although the store has no palette.
  TRvBitmap indexed;
  indexed.Allocate(4, 4, rvpf8BitPalette);
  indexed.Palette()[7] = TRGB{0x10, 0x20, 0x30};
  for (int y = 0; y < 4; ++y) std::memset(indexed.Scanline(y), 7, 4);
  view.SetImage(0, &indexed);
  platform::TBitmap* colours = view.GetImageBitmap(0);
  ASSERT_NE(colours, nullptr);
  EXPECT_EQ(colours->PixelFormat(), platform::pf24bit);
  EXPECT_EQ(colours->ScanLine(2)[6], 0x10);
  EXPECT_EQ(colours->ScanLine(2)[8], 0x30);
  view.ReleaseImageBitmap(colours);
  view.SetImage(5, &big); // out of range: nothing
}

class TMViewPaint : public testing::Test {
protected:
  void SetUp() override {
    Shape(View, 200, 60, 0);
    View.SetStyle(rvmsFlat);
    View.SetBackground(0x00FFFF);           // yellow (0x00BBGGRR)
    View.ThumbnailsBackground = 0x800000;   // navy
    View.SetSelectionWidth(1);
    Fill(View, 2);
    View.DeselectNU();
  }
  TRastrumMView View;
};

TEST_F(TMViewPaint, SmallPicturesAtTheirSizeLargeOnesFitted) {
  TRvBitmap small, wide;
  MarkedPicture(small, 30, 20, 0x123456, 4);
  MarkedPicture(wide, 80, 40, 0x654321);
  View.SetImage(0, &small);
  View.SetImage(1, &wide);
  View.SetEnlargeSmallImages(false);
  QImage img = Grab(View);
  // Cell 0 at 4,4: the 30 x 20 picture at 4 + 10, 4 + 10.
  EXPECT_EQ(At(img, 14, 14), TopLeft);
  EXPECT_EQ(At(img, 43, 14), TopRight);
  EXPECT_EQ(At(img, 14, 33), BottomLeft);
  EXPECT_EQ(At(img, 43, 33), BottomRight);
  EXPECT_EQ(At(img, 25, 25), 0x123456u);
  EXPECT_EQ(At(img, 13, 14), 0x000080u); // band around the picture
  EXPECT_EQ(At(img, 14, 34), 0x000080u);
  EXPECT_EQ(At(img, 2, 2), 0xFFFF00u);   // background outside the cells
  EXPECT_EQ(At(img, 150, 30), 0xFFFF00u);
  // Cell 1 at 58,4: 80 x 40 fitted into 46 x 40 is 46 x 23 at 58 + 2, 4 + 8.
  EXPECT_EQ(At(img, 60, 12), TopLeft);
  EXPECT_EQ(At(img, 105, 12), TopRight);
  EXPECT_EQ(At(img, 60, 34), BottomLeft);
  EXPECT_EQ(At(img, 105, 34), BottomRight);
  EXPECT_EQ(At(img, 59, 12), 0x000080u);
  EXPECT_EQ(At(img, 106, 12), 0x000080u);
  EXPECT_EQ(At(img, 60, 11), 0x000080u);
  // Enlarged, the small one fills the width less the border: 46 x 30.
  View.SetEnlargeSmallImages(true);
  img = Grab(View);
  EXPECT_EQ(At(img, 6, 9), TopLeft);
  EXPECT_EQ(At(img, 51, 38), BottomRight);
  EXPECT_EQ(At(img, 5, 9), 0x000080u);
  // Scrolled by 10, the second picture moves left by 10; repainting from the
  // scaled copies gives the same pixels.
  View.resize(100, 60);
  View.Update();
  View.SetViewX(10);
  img = Grab(View);
  EXPECT_EQ(At(img, 50, 12), TopLeft);
  EXPECT_EQ(At(img, 95, 34), BottomRight);
}

TEST_F(TMViewPaint, SelectionRingsBevelsAndCaptions) {
  TRvBitmap pic;
  MarkedPicture(pic, 30, 20, 0x123456, 4);
  View.SetImage(0, &pic);
  View.SetEnlargeSmallImages(false);
  View.SetSelectedImage(0);
  QImage img = Grab(View);
  // Without focus one ring of the selection colour (red) just outside.
  EXPECT_EQ(At(img, 3, 3), 0xFF0000u);
  EXPECT_EQ(At(img, 54, 44), 0xFF0000u);
  EXPECT_EQ(At(img, 2, 2), 0xFFFF00u);
  EXPECT_EQ(At(img, 57, 3), 0xFFFF00u); // the unselected cell has no ring
  // The sunken bevel of the ACD style: grey left and top, white right and
  // bottom, on the picture's outermost pixels.
  View.SetStyle(rvmsACD);
  img = Grab(View);
  EXPECT_EQ(At(img, 14, 20), 0x808080u);
  EXPECT_EQ(At(img, 20, 14), 0x808080u);
  EXPECT_EQ(At(img, 43, 20), 0xFFFFFFu);
  EXPECT_EQ(At(img, 20, 33), 0xFFFFFFu);
  // An info caption raises the bottom gap by its height plus 4 and gets a
  // band in its background at the foot of the cell.
  TRvMText* info = View.ImageInfoText(1);
  const int h = RvTextHeight(info->Font);
  info->Background = 0x00FF00;
  info->SetCaption("x");
  EXPECT_EQ(View.BottomGap(), h + 4);
  View.ImageTopText(1)->SetCaption("top");
  EXPECT_EQ(View.UpperGap(), h + 2);
  View.ImageBottomText(1)->SetCaption("bottom");
  EXPECT_EQ(View.BottomGap(), h + 4);
  View.Update();
  img = Grab(View);
  EXPECT_EQ(At(img, 60, 44 - 2), 0x00FF00u);
}

TEST_F(TMViewPaint, DrawProgressPerCellThenDone) {
  std::vector<std::pair<int, int>> calls;
  View.OnDrawProgress = [&](void*, int Per, int Idx) { calls.emplace_back(Per, Idx); };
  Grab(View);
  EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{0, 0}, {50, 1}, {100, 0}}));
  calls.clear();
  View.DeleteImage(1); // a single cell reports nothing
  Grab(View);
  EXPECT_TRUE(calls.empty());
}

TEST_F(TMViewPaint, WallPaperLiesBehindTheCells) {
  platform::TBitmap tile(3, 3, platform::pf24bit);
  tile.Canvas().Brush.Color = 0x0000FF; // red
  tile.Canvas().FillRect(platform::Rect(0, 0, 3, 3));
  tile.Canvas().SetPixels(0, 0, 0xFF0000); // blue corner
  View.SetWallPaper(tile);
  QImage img = Grab(View);
  EXPECT_EQ(At(img, 0, 0), 0x0000FFu);
  EXPECT_EQ(At(img, 2, 2), 0xFF0000u);
  EXPECT_EQ(At(img, 3, 3), 0xFFFF00u); // beside the picture: background
  View.SetWallPaperStyle(rvwoTile);
  img = Grab(View);
  EXPECT_EQ(At(img, 150, 30), 0x0000FFu); // 150 % 3 == 0, 30 % 3 == 0
  EXPECT_EQ(At(img, 151, 30), 0xFF0000u);
  EXPECT_EQ(At(img, 10, 10), 0x000080u); // cells stay on top
}

// ---- Synchronous loads from files

TEST(MView, ForegroundLoadsMarkFailuresOnce) {
  testing_support::TTempFolder dir;
  SaveMarked(dir.File("good.bmp"), 30, 20, 0x445566);
  std::ofstream(dir.File("broken.bmp")) << "BM not really";
  TRastrumMView view;
  Shape(view, 200, 60, 0);
  view.ThreadPoolSize = 0;
  Fill(view, 4);
  view.DeselectNU();
  view.SetImageFileName(0, dir.File("good.bmp"));
  view.SetImageFileName(1, dir.File("broken.bmp"));
  view.SetImageFileName(2, dir.File("missing.bmp")); // raises inside the reader
  view.SetImageFileName(3, dir.File("broken.bmp"));
  view.ThumbnailsBackground = 0xFFFFFF;
  view.SetStyle(rvmsFlat);
  QImage img = Grab(view);
  EXPECT_TRUE(view.ImageHasPixels(0));
  EXPECT_EQ(view.GetMIO()->GetParams(0)->Width, 30);
  for (int i : {1, 2, 3}) EXPECT_TRUE(view.ImageLoadFailed(i)) << i;
  // A crossed blank cell: the diagonal through cell 1 (58,4 .. 107,43).
  EXPECT_EQ(At(img, 58, 4), 0x808080u);
  EXPECT_EQ(At(img, 70, 4), 0xFFFFFFu);
  // Not read again at the next paint, even when the file has become good.
  SaveMarked(dir.File("broken.bmp"), 30, 20, 0x445566);
  Grab(view);
  EXPECT_FALSE(view.ImageHasPixels(1));
  view.SetImageFileName(1, dir.File("broken.bmp"));
  Grab(view);
  EXPECT_TRUE(view.ImageHasPixels(1));
  // Asking for the bitmap tries once more; a raising reader is a failed
  // load, reported as no pixels.
  platform::TBitmap* missing = nullptr;
  EXPECT_NO_THROW(missing = view.GetImageBitmap(2));
  EXPECT_EQ(missing, nullptr);
  EXPECT_TRUE(view.ImageLoadFailed(2));
  // With RemoveCorrupted the unreadable images leave the list while painting.
  view.SetRemoveCorrupted(true);
  view.SetImageFileName(2, dir.File("missing.bmp"));
  view.SetImageFileName(3, dir.File("missing.bmp"));
  Grab(view);
  EXPECT_EQ(view.ImageCount(), 2);
}

TEST(MView, AFileThatVanishedIsAFailedLoadNeverAnException) {
  testing_support::TTempFolder dir;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) SaveMarked(dir.File(name), 30, 20, 0x445566);
  TRastrumMView view;
  Shape(view, 200, 60, 0);
  view.ThreadPoolSize = 0;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) view.SetImageFileName(view.AppendImage(), dir.File(name));
  view.SetSelectedImage(0);
  ASSERT_NE(view.GetBitmap(), nullptr);
  std::remove(dir.File("b.jpg").c_str());
  // The first image leaves the list: the vanished one takes its place as the
  // current image and is read at once.
  EXPECT_NO_THROW(view.DeleteImage(0));
  EXPECT_EQ(view.SelectedImage(), 0);
  EXPECT_EQ(view.GetBitmap(), nullptr);
  EXPECT_TRUE(view.ImageLoadFailed(0));
  bool loaded = true;
  EXPECT_NO_THROW(loaded = view.LoadImageNow(0));
  EXPECT_FALSE(loaded);
  // A stream whose medium goes away while it is read is no different.
  struct TGoneStream : platform::TMemoryStream {
    std::int64_t Read(void*, std::int64_t) override { throw platform::EStreamError("Stream read error"); }
  } gone;
  gone.Write("\xFF\xD8\xFF\xE0", 4);
  gone.SetPosition(0);
  EXPECT_NO_THROW(loaded = view.LoadImageFromStream(1, gone));
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(view.ImageLoadFailed(1));
  // The paint that follows draws both failed cells without reading again.
  EXPECT_NO_THROW(Grab(view));
  EXPECT_EQ(view.ImageCount(), 2);
  EXPECT_TRUE(view.ImageLoadFailed(0) && view.ImageLoadFailed(1));
  EXPECT_FALSE(view.ImageHasPixels(1));
}

// Each image the selection reaches before its thumbnail is read is read at
// once and its bitmap lent out as the current one; moving on gives it back,
// so nothing stays for the images passed.
TEST(MView, SelectingImagesAsTheyAreReadKeepsOnlyTheCurrentBitmap) {
  testing_support::TTempFolder dir;
  SaveMarked(dir.File("p.bmp"), 400, 300, 0x445566);
  TRastrumMView view;
  Shape(view, 200, 60, 0);
  view.SetThumbWidth(200);
  view.SetThumbHeight(150);
  view.ThreadPoolSize = 0;
  view.SetEnableMultiSelect(true);
  constexpr int Images = 40;
  for (int i = 0; i < Images; ++i) view.SetImageFileName(view.AppendImage(), dir.File("p.bmp"));
  view.SetSelectedImage(0);
  ASSERT_NE(view.GetBitmap(), nullptr);
  const std::size_t Bitmap = static_cast<std::size_t>(view.GetBitmap()->ScanLineSize()) * view.GetBitmap()->Height();
  const std::size_t Before = testsupport::HeldBytes();
  for (int i = 1; i < Images; ++i) {
    // As a click selects, and as a folder view selects its file.
    if (i % 2) {
      view.SetSelectedImage(i);
    } else {
      view.BeginSelectImages();
      view.SetSelectedImage(i);
      view.EndSelectImages();
    }
    ASSERT_EQ(view.SelectedImage(), i);
    ASSERT_NE(view.GetBitmap(), nullptr);
  }
  EXPECT_LT(testsupport::HeldBytes(), Before + 4 * Bitmap);
}

TEST(MView, GifAndTiffFramesEnterAtTheCurrentImage) {
  testing_support::TTempFolder dir;
  const std::string a = dir.File("a.tif"), b = dir.File("b.tif"), both = dir.File("two.TIF");
  SaveMarked(a, 16, 8, 0x112233);
  SaveMarked(b, 12, 6, 0x445566);
  if (std::system(("tiffcp '" + a + "' '" + b + "' '" + both + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "tiffcp missing";
  TRastrumMView view;
  Shape(view, 200, 60, 0);
  Fill(view, 10);
  TRastrumMIO* mio = view.GetMIO();
  for (int i = 0; i < 10; ++i) mio->GetParams(i)->JpegQuality = i;
  view.SetSelectedImage(3);
  mio->LoadMultiImageFile(both);
  ASSERT_EQ(view.ImageCount(), 12);
  ASSERT_EQ(mio->ParamsCount(), 12);
  EXPECT_EQ(view.ImageFullWidth(3), 16);
  EXPECT_EQ(view.ImageFullWidth(4), 12);
  EXPECT_EQ(mio->GetParams(3)->Width, 16);
  EXPECT_EQ(mio->GetParams(4)->FileType, rvftTIFF);
  EXPECT_EQ(view.ImageDelayTime(4), 100);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(mio->GetParams(i)->TiffImageIndex, i);
  EXPECT_EQ(mio->GetParams(5)->JpegQuality, 3); // the old image 3, renumbered
  platform::TBitmap* page = view.GetImageBitmap(4);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->ScanLine(0)[2], 0xFF); // red top left of the second page
  view.ReleaseImageBitmap(page);
  view.DeleteImage(2);
  EXPECT_EQ(mio->GetParams(2)->Width, 16);
  EXPECT_EQ(mio->GetParams(view.ImageCount()), nullptr);
}

// A view of many images holds no caption or reader record per image until
// one is asked for, and what it then makes is what it made before at once.
TEST(MView, CaptionsAndReaderRecordsAreMadeWhenAskedFor) {
  TRastrumMView view;
  Shape(view, 200, 60, 0);
  view.Font.Color = 0x0000FF;
  const platform::TColor before = view.GetBackground();
  Fill(view, 100);
  view.Font.Color = 0x00FF00;
  view.SetBackground(0x123456);
  Fill(view, 1);
  EXPECT_EQ(view.CaptionCount(), 0);
  // A caption has the font and background of its image's insertion.
  EXPECT_EQ(view.ImageInfoText(5)->Font.Color, 0x0000FF);
  EXPECT_EQ(view.ImageInfoText(5)->Background, before);
  EXPECT_EQ(view.ImageBottomText(100)->Font.Color, 0x00FF00);
  EXPECT_EQ(view.ImageBottomText(100)->Background, 0x123456);
  EXPECT_EQ(view.ImageInfoText(5), view.ImageInfoText(5));
  EXPECT_EQ(view.CaptionCount(), 2);

  TRastrumMIO* mio = view.GetMIO();
  EXPECT_EQ(mio->ParamsCount(), 101);
  EXPECT_EQ(mio->ParamsMade(), 0);
  mio->GetParams(7)->JpegQuality = 7;
  const int fresh = mio->GetParams(50)->JpegQuality;
  EXPECT_EQ(mio->GetParams(50)->TiffImageIndex, 50);
  // An image inserted takes its made neighbour's settings; beside a fresh
  // record it gets a fresh one, numbered where it stands.
  view.InsertImageEx(7);
  view.InsertImageEx(30);
  EXPECT_EQ(mio->ParamsCount(), 103);
  EXPECT_EQ(mio->ParamsMade(), 3);
  EXPECT_EQ(mio->GetParams(7)->JpegQuality, 7);
  EXPECT_EQ(mio->GetParams(8)->JpegQuality, 7);
  EXPECT_EQ(mio->GetParams(8)->GifImageIndex, 8);
  EXPECT_EQ(mio->GetParams(52)->TiffImageIndex, 52); // the old image 50
  EXPECT_EQ(mio->GetParams(30)->JpegQuality, fresh);
  EXPECT_EQ(mio->GetParams(30)->TiffImageIndex, 30);
  view.DeleteImage(0);
  EXPECT_EQ(mio->GetParams(51)->GifImageIndex, 51);
  EXPECT_EQ(mio->ParamsMade(), 4);
}

// File names shown in the info band without a caption per image: the gap
// and the pixels of captions set one by one, in the insertion's font.
TEST(MView, FileNameCaptionsLookLikeCaptionsSetOneByOne) {
  TRastrumMView set, named;
  named.SetInfoFileNames(true);
  TRvBitmap picture;
  MarkedPicture(picture, 30, 20, 0x123456, 4);
  for (TRastrumMView* view : {&set, &named}) {
    Shape(*view, 200, 60, 0);
    view->SetStyle(rvmsACD);
    view->SetBackground(0x000000);
    view->Font.Color = 0xFFFFFF;
    for (int i = 0; i < 3; ++i) {
      const int at = view->AppendImage();
      view->SetImageFileName(at, "/pictures/n" + std::to_string(i) + ".png");
      view->SetImage(at, &picture);
      if (view == &set) view->ImageInfoText(at)->SetCaption("n" + std::to_string(i) + ".png");
    }
    view->Font.Color = 0x00FF00; // later images only
    view->DeselectNU();
  }
  EXPECT_EQ(named.CaptionCount(), 0);
  EXPECT_GT(set.BottomGap(), 0);
  EXPECT_EQ(named.BottomGap(), set.BottomGap());
  EXPECT_EQ(Grab(named), Grab(set));
  EXPECT_EQ(named.ImageInfoText(1)->Caption(), "n1.png");
  EXPECT_EQ(named.ImageInfoText(1)->Font.Color, 0xFFFFFF);
}

// A caption longer than its cell is cut to the cell: its neighbours look as
// beside a short one, and the long one still shows some of its text.
TEST(MView, ALongCaptionStaysInItsOwnCell) {
  TRvBitmap picture;
  MarkedPicture(picture, 30, 20, 0x123456, 4);
  const auto draw = [&](const std::string& Middle) {
    TRastrumMView view;
    view.SetInfoFileNames(true);
    Shape(view, 200, 60, 0);
    view.SetBackground(0x000000);
    view.Font.Color = 0xFFFFFF;
    for (const std::string& name : {std::string("a.png"), Middle, std::string("c.png")}) {
      const int at = view.AppendImage();
      view.SetImageFileName(at, "/pictures/" + name);
      view.SetImage(at, &picture);
    }
    view.ImageTopText(1)->SetCaption(Middle);
    view.DeselectNU();
    return std::pair{Grab(view), view.ImageID(1)};
  };
  const auto [shortImage, left] = draw("m.png");
  const auto [longImage, sameLeft] = draw("holiday_by_the_sea_with_the_whole_family_IMG_0042.png");
  ASSERT_EQ(left, sameLeft);
  int outside = 0, inside = 0;
  for (int y = 0; y < shortImage.height(); ++y)
    for (int x = 0; x < shortImage.width(); ++x) {
      const bool differs = At(shortImage, x, y) != At(longImage, x, y);
      (x >= left && x < left + 50 ? inside : outside) += differs;
    }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(inside, 0);
}

TEST(MView, AnimatedGifAndVideoFramesInTheirOrder) {
  testing_support::TTempFolder dir;
  const std::uint32_t fills[3] = {0x00FF00, 0x0000FF, 0xFFFF00};
  for (int i = 0; i < 3; ++i) SaveMarked(dir.File("f" + std::to_string(i) + ".ppm"), 24, 16, fills[i]);
  const std::string gif = dir.File("anim.gif"), avi = dir.File("clip.AVI");
  auto run = [](const std::string& Command) { return std::system((Command + " >/dev/null 2>&1").c_str()) == 0; };
  if (!run("command -v convert") || !run("command -v ffmpeg")) GTEST_SKIP() << "convert or ffmpeg missing";
  ASSERT_TRUE(run("convert -delay 10 '" + dir.File("f0.ppm") + "' -delay 0 '" + dir.File("f1.ppm") +
                  "' -delay 30 '" + dir.File("f2.ppm") + "' '" + gif + "'"));
  ASSERT_TRUE(run("ffmpeg -v error -y -framerate 15 -i '" + dir.File("f%d.ppm") +
                  "' -c:v rawvideo -pix_fmt bgr24 '" + avi + "'"));
  const TGifLzwDecompressProc saved = RvDefaultGifLzwDecompress;
  RvDefaultGifLzwDecompress = GifLzwDecompress;
  TRastrumMView view;
  Shape(view, 200, 60, 0);
  TRastrumMIO* mio = view.GetMIO();
  mio->LoadMultiImageFile(gif);
  mio->LoadMultiImageFile(avi); // at the current image: before the GIF's frames
  RvDefaultGifLzwDecompress = saved;
  ASSERT_EQ(view.ImageCount(), 6);
  // Video frames 0..2 (66 ms each at 15 per second), then GIF frames 0..2
  // (a frame without delay keeps the one before).
  const int delays[6] = {66, 66, 66, 100, 100, 300};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(view.ImageDelayTime(i), delays[i]);
    EXPECT_EQ(mio->GetParams(i)->GifImageIndex, i);
    platform::TBitmap* b = view.GetImageBitmap(i);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Width(), 24);
    auto rgb = [&](int X, int Y) {
      const std::uint8_t* p = b->ScanLine(Y) + 3 * X;
      return (static_cast<std::uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
    };
    EXPECT_EQ(rgb(12, 8), fills[i % 3]);
    EXPECT_EQ(rgb(0, 0), TopLeft);
    EXPECT_EQ(rgb(23, 15), BottomRight);
    view.ReleaseImageBitmap(b);
  }
  EXPECT_EQ(mio->GetParams(0)->FileName, avi);
  EXPECT_EQ(mio->GetParams(1)->Width, 24);
  EXPECT_EQ(mio->GetParams(4)->FileType, rvftGIF);
  mio->LoadMultiImageFile(dir.File("f0.gifx")); // not a multi-image extension
  mio->LoadAviFileFrames(dir.File("missing.avi"));
  EXPECT_TRUE(mio->Aborting.load());
  EXPECT_EQ(view.ImageCount(), 6);
}

// An animation's frames read away from any view, as the main window reads
// them on a worker, and taken by a view whole: the view holds what a read
// into it holds, and the list they were read into is left empty.
TEST(MView, ImagesReadAwayFromTheViewAreTakenWhole) {
  testing_support::TTempFolder dir;
  const std::uint32_t fills[3] = {0x00FF00, 0x0000FF, 0xFFFF00};
  for (int i = 0; i < 3; ++i) SaveMarked(dir.File("f" + std::to_string(i) + ".ppm"), 24 - 4 * i, 16 - 2 * i, fills[i]);
  const std::string gif = dir.File("anim.gif");
  if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "convert missing";
  ASSERT_EQ(std::system(("convert -dispose Background -delay 10 '" + dir.File("f0.ppm") +
                         "' -dispose None -delay 0 -page +2+1 '" + dir.File("f1.ppm") +
                         "' -dispose Previous -delay 30 -page +4+2 '" + dir.File("f2.ppm") +
                         "' -transparent '#FFFF00' '" + gif + "'")
                            .c_str()),
            0);
  const TGifLzwDecompressProc saved = RvDefaultGifLzwDecompress;
  RvDefaultGifLzwDecompress = GifLzwDecompress;
  TRastrumMView direct, taken;
  direct.GetMIO()->LoadMultiImageFile(gif);
  TRvMViewImages images;
  images.MIO().LoadMultiImageFile(gif);
  RvDefaultGifLzwDecompress = saved;
  Fill(taken, 2); // replaced
  taken.TakeImages(images);
  EXPECT_EQ(images.ImageCount(), 0);
  EXPECT_EQ(images.MIO().ParamsCount(), 0);
  EXPECT_EQ(images.Store(), nullptr);
  ASSERT_EQ(direct.ImageCount(), 3);
  ASSERT_EQ(taken.ImageCount(), 3);
  ASSERT_EQ(taken.GetMIO()->ParamsCount(), 3);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(taken.ImageDelayTime(i), direct.ImageDelayTime(i));
    EXPECT_EQ(taken.GetImageBackground(i), direct.GetImageBackground(i));
    EXPECT_EQ(taken.ImageFullWidth(i), direct.ImageFullWidth(i));
    EXPECT_EQ(taken.ImageFullHeight(i), direct.ImageFullHeight(i));
    const TIOParamsVals& a = *taken.GetMIO()->GetParams(i);
    const TIOParamsVals& b = *direct.GetMIO()->GetParams(i);
    EXPECT_EQ(a.GifImageIndex, i);
    EXPECT_EQ(a.GifXPos, b.GifXPos);
    EXPECT_EQ(a.GifYPos, b.GifYPos);
    EXPECT_EQ(a.GifDelayTime, b.GifDelayTime);
    EXPECT_EQ(a.GifDisposal, b.GifDisposal);
    EXPECT_EQ(a.GifHasTransparentColor, b.GifHasTransparentColor);
    EXPECT_EQ(RvRGBToPacked(a.GifTransparentColor), RvRGBToPacked(b.GifTransparentColor));
    EXPECT_EQ(a.GifImageCount, 3);
    EXPECT_EQ(a.FileType, rvftGIF);
    platform::TBitmap* x = taken.GetImageBitmap(i);
    platform::TBitmap* y = direct.GetImageBitmap(i);
    ASSERT_TRUE(x && y);
    EXPECT_EQ(x->ToImage(), y->ToImage());
    taken.ReleaseImageBitmap(x);
    direct.ReleaseImageBitmap(y);
  }
  EXPECT_EQ(taken.ImageDelayTime(1), 100); // no delay: the one before
}

TEST(MView, ResolutionsAreEvenedOutAlongTheSmallerSide) {
  const struct {
    int W, H, DpiX, DpiY, NewW, NewH, NewDpi;
  } cases[] = {
      {300, 200, 300, 150, 300, 400, 300}, // height smaller: stretched to DpiX
      {200, 300, 150, 300, 400, 300, 300}, // width smaller (or equal): to DpiY
      {50, 40, 96, 96, 50, 40, 96},        // even already: untouched
  };
  for (const auto& c : cases) {
    TRvBitmap bitmap;
    MarkedPicture(bitmap, c.W, c.H, 0x808080, 2);
    TIOParamsVals params;
    params.Width = c.W;
    params.Height = c.H;
    params.DpiX = c.DpiX;
    params.DpiY = c.DpiY;
    TRastrumMIO::AdjustDPI(bitmap, params, false);
    EXPECT_EQ(bitmap.Width(), c.NewW);
    EXPECT_EQ(bitmap.Height(), c.NewH);
    EXPECT_EQ(params.Width, c.NewW);
    EXPECT_EQ(params.Height, c.NewH);
    EXPECT_EQ(params.DpiX, c.NewDpi);
    EXPECT_EQ(params.DpiY, c.NewDpi);
  }
}

} // namespace

// Printing: the page layout's worked values, the pixels of pages drawn on
// bitmaps, and a real PDF rasterised by pdftoppm.
#include "image/views/rvprint.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QPrinter>
#include <QProcess>

#include <fstream>

#include "image/io/rastrumio.h"
#include "image/model/rvbitmap.h"
#include "support/tempfolder.h"

namespace {

using namespace rv;

struct TRgb {
  int R, G, B;
  bool operator==(const TRgb& O) const { return R == O.R && G == O.G && B == O.B; }
};
std::ostream& operator<<(std::ostream& Os, const TRgb& C) {
  return Os << "(" << C.R << "," << C.G << "," << C.B << ")";
}

const TRgb Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255}, Yellow{255, 255, 0}, White{255, 255, 255};

// A picture whose quadrants are red, green (top), blue, yellow (bottom), so
// that a shift or a flip shows.
void MakeQuadrants(TRvBitmap& B, int W, int H) {
  B.Allocate(W, H, rvpf24Bit);
  for (int y = 0; y < H; ++y) {
    std::uint8_t* row = B.Scanline(y);
    for (int x = 0; x < W; ++x) {
      const TRgb c = y < H / 2 ? (x < W / 2 ? Red : Green) : (x < W / 2 ? Blue : Yellow);
      row[3 * x] = static_cast<std::uint8_t>(c.B);
      row[3 * x + 1] = static_cast<std::uint8_t>(c.G);
      row[3 * x + 2] = static_cast<std::uint8_t>(c.R);
    }
  }
}

TRgb At(platform::TBitmap& B, int X, int Y) {
  const std::uint8_t* p = B.ScanLine(Y) + 3 * X;
  return {p[2], p[1], p[0]};
}

// A white page of W x H pixels.
struct TPage {
  platform::TBitmap Bitmap;
  TPage(int W, int H) : Bitmap(W, H, platform::pf24bit) {
    Bitmap.Canvas().Brush.Color = platform::clWhite;
    Bitmap.Canvas().FillRect(platform::Rect(0, 0, W, H));
  }
};

struct TIO {
  TRastrumIO IO;
  TIO(int W, int H, int Dpi) {
    MakeQuadrants(*IO.RvBitmap(), W, H);
    IO.Params().DpiX = IO.Params().DpiY = Dpi;
  }
};

TEST(PrintLayout, WorkedPlaces) {
  struct TCase {
    const char* Name;
    int W, H, Mode, Horizontal, Vertical;
    double X, Y, Width, Height;
  } cases[] = {
      {"normal, centred", 600, 400, rvpsNormal, 1, 1, 3.25, 1 + (9 - 4.0 / 3) / 2, 2, 4.0 / 3},
      {"fit, 2:1, top left", 800, 400, rvpsFit, 0, 0, 1, 1, 6.5, 3.25},
      {"stretch", 50, 70, rvpsStretch, 1, 1, 1, 1, 6.5, 9},
      {"specified, bottom right", 50, 70, rvpsSpecified, 2, 2, 1.5, 6, 6, 4},
      {"positions out of range", 600, 400, rvpsNormal, 3, -1, 0, 0, 2, 4.0 / 3},
  };
  for (const TCase& c : cases) {
    TIO io(c.W, c.H, 300);
    TRvPrintLayout l;
    l.SizeMode = c.Mode;
    l.HorizontalPosition = c.Horizontal;
    l.VerticalPosition = c.Vertical;
    const TRvPrintRect r = RvPrintPlace(io.IO, 300, 300, 8.5, 11, l);
    EXPECT_DOUBLE_EQ(r.X, c.X) << c.Name;
    EXPECT_DOUBLE_EQ(r.Y, c.Y) << c.Name;
    EXPECT_DOUBLE_EQ(r.Width, c.Width) << c.Name;
    EXPECT_DOUBLE_EQ(r.Height, c.Height) << c.Name;
  }
}

TEST(PrintDraw, PictureLandsInItsDeviceRectangle) {
  // 600 x 400 at 300 dpi, centred on Letter with 1-inch margins, drawn at
  // 100 dpi: (325, 483) to (525, 616).
  TIO io(600, 400, 300);
  TPage page(850, 1100);
  TRvPrintLayout l;
  l.SizeMode = rvpsNormal;
  ASSERT_EQ(RvPrintLayout(io.IO, page.Bitmap.Canvas(), 100, 100, 8.5, 11, l), "");
  struct TProbe {
    int X, Y;
    TRgb Colour;
  } probes[] = {{325, 483, Red},     {524, 483, Green}, {325, 615, Blue}, {524, 615, Yellow},
                {324, 483, White},   {325, 482, White}, {526, 616, White}, {525, 617, White}};
  for (const TProbe& p : probes) EXPECT_EQ(At(page.Bitmap, p.X, p.Y), p.Colour) << p.X << "," << p.Y;
}

TEST(PrintDraw, GammaCorrectsOnlyAboveZeroAndNotOne) {
  std::uint8_t table[256];
  RvGammaTable(2, table);
  EXPECT_EQ(table[64], 128);
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[255], 255);
  struct TCase {
    double Gamma;
    int Printed;
  } cases[] = {{1, 64}, {0, 64}, {-2, 64}, {2, 128}, {0.5, 16}};
  for (const TCase& c : cases) {
    TRastrumIO io;
    io.RvBitmap()->Allocate(4, 4, rvpf24Bit);
    io.RvBitmap()->Fill(0x404040);
    io.Params().DpiX = io.Params().DpiY = 4;
    TPage page(20, 20);
    TRvPrintLayout l;
    l.SizeMode = rvpsNormal;
    l.LeftMargin = l.TopMargin = l.RightMargin = l.BottomMargin = 0;
    l.HorizontalPosition = l.VerticalPosition = 0;
    l.Gamma = c.Gamma;
    ASSERT_EQ(RvPrintLayout(io, page.Bitmap.Canvas(), 4, 4, 5, 5, l), "");
    EXPECT_EQ(At(page.Bitmap, 1, 1), (TRgb{c.Printed, c.Printed, c.Printed})) << c.Gamma;
  }
}

TEST(PrintDraw, GrayAndPalettePicturesPrintThroughAColourCopy) {
  for (TRvPixelFormat format : {rvpf8BitGray, rvpf16BitGray, rvpf8BitPalette}) {
    TIO io(8, 8, 8);
    io.IO.RvBitmap()->SetPixelFormat(format);
    TPage page(20, 20);
    TRvPrintLayout l;
    l.SizeMode = rvpsStretch;
    l.LeftMargin = l.TopMargin = l.RightMargin = l.BottomMargin = 0;
    ASSERT_EQ(RvPrintLayout(io.IO, page.Bitmap.Canvas(), 4, 4, 2, 2, l), "") << format;
    EXPECT_NE(At(page.Bitmap, 1, 1), White) << format;
    EXPECT_EQ(io.IO.RvBitmap()->PixelFormat(), format); // the picture itself stays
  }
}

TEST(PrintDraw, RefusalsSayWhy) {
  TRvPrintLayout l;
  TPage page(20, 20);
  TRastrumIO empty;
  EXPECT_EQ(RvPrintLayout(empty, page.Bitmap.Canvas(), 2, 2, 8.5, 11, l), "There is no picture to print.");
  TIO io(8, 8, 8);
  l.LeftMargin = l.RightMargin = 4.25;
  EXPECT_EQ(RvPrintLayout(io.IO, page.Bitmap.Canvas(), 2, 2, 8.5, 11, l),
            "The margins leave no room on the page for the picture.");
  EXPECT_EQ(RvPrintCheck(io.IO, TRvPageMetrics{300, 300, 2550, 3300}, l),
            "The margins leave no room on the page for the picture.");
  l.LeftMargin = l.RightMargin = 1;
  EXPECT_EQ(RvPrintCheck(io.IO, TRvPageMetrics{300, 300, 2550, 3300}, l), "");
  // A folder below a plain file cannot be made.
  testing_support::TTempFolder temp;
  std::ofstream(temp.File("file")) << "x";
  const std::string kept = RvTempFolder;
  RvTempFolder = temp.File("file/below");
  EXPECT_EQ(RvPrintLayout(io.IO, page.Bitmap.Canvas(), 2, 2, 8.5, 11, l),
            "The page cannot be composed: no room for its temporary file.");
  RvTempFolder = kept;
  EXPECT_EQ(At(page.Bitmap, 10, 10), White);
}

TEST(PrintPreview, ScalesThePageIntoThePreview) {
  // A 4000 x 5000 page at 300 dpi in 405 x 505: 400 x 500 at 30 dpi.
  TIO io(300, 300, 300);
  platform::TBitmap target;
  TRvPrintLayout l;
  l.SizeMode = rvpsNormal;
  l.HorizontalPosition = l.VerticalPosition = 0;
  ASSERT_EQ(RvPreviewPrintImage(io.IO, target, 405, 505, TRvPageMetrics{300, 300, 4000, 5000}, l), "");
  EXPECT_EQ(target.Width(), 400);
  EXPECT_EQ(target.Height(), 500);
  // The one-inch picture at (30, 30), 30 pixels a side; the dashed margin
  // frame inverts the white page along x = 30 and y = 30.
  EXPECT_EQ(At(target, 31, 31), Red);
  EXPECT_EQ(At(target, 58, 58), Yellow);
  EXPECT_EQ(At(target, 61, 61), White);
  EXPECT_EQ(At(target, 100, 30), (TRgb{0, 0, 0}));
  // A coarse preview keeps one dot per inch at least.
  ASSERT_EQ(RvPreviewPrintImage(io.IO, target, 40, 50, TRvPageMetrics{10, 10, 4000, 5000}, l), "");
  EXPECT_EQ(target.Width(), 35);
}

TEST(PrintPdf, LetterAt300DpiPutsThePictureWherePdftoppmFindsIt) {
  testing_support::TTempFolder temp;
  const QString pdf = temp.QPath() + "/page.pdf";
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(pdf);
  printer.setResolution(300);
  printer.setPageSize(QPageSize(QPageSize::Letter));
  printer.setFullPage(true);
  printer.setPageMargins(QMarginsF(0, 0, 0, 0));
  TIO io(600, 400, 300);
  TRvPrintLayout l;
  l.SizeMode = rvpsNormal;
  {
    QPainter painter;
    ASSERT_TRUE(painter.begin(&printer));
    platform::TCanvas canvas(&painter);
    ASSERT_EQ(RvPrintImage(io.IO, canvas, l), "");
  }
  QProcess p;
  p.start("pdftoppm", {"-r", "300", "-singlefile", pdf, temp.QPath() + "/page"});
  ASSERT_TRUE(p.waitForFinished(60000));
  ASSERT_EQ(p.exitCode(), 0);
  QImage page(temp.QPath() + "/page.ppm");
  ASSERT_EQ(page.size(), QSize(2550, 3300));
  // The PDF may keep the picture compressed with loss: colours within 8.
  auto near = [&](int X, int Y, TRgb Want) {
    const QRgb c = page.pixel(X, Y);
    return std::abs(qRed(c) - Want.R) <= 8 && std::abs(qGreen(c) - Want.G) <= 8 && std::abs(qBlue(c) - Want.B) <= 8;
  };
  // (975, 1450, 600, 400)
  struct TProbe {
    int X, Y;
    TRgb Colour;
  } probes[] = {{977, 1452, Red},  {1572, 1452, Green}, {977, 1847, Blue}, {1572, 1847, Yellow},
                {972, 1452, White}, {977, 1447, White},  {1578, 1852, White}};
  for (const TProbe& pr : probes) EXPECT_TRUE(near(pr.X, pr.Y, pr.Colour)) << pr.X << "," << pr.Y;
}

} // namespace

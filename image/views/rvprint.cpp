#include "image/views/rvprint.h"

#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <memory>

#include "image/io/rastrumio.h"
#include "image/io/rvioparams.h"
#include "image/model/rvdib.h"
#include "image/model/rvhelpers.h"

namespace rv {

namespace {

// The picture as it prints: 1-bit and 24-bit pictures as they are, any
// other through a 24-bit copy (Copy holds it).
// The component's target wraps the attached bitmap again, as it may have
// changed since.
TRvBitmap* Rewrap(TRastrumIO& IO) {
  TRvBitmap* bitmap = IO.RvBitmap();
  if (bitmap == nullptr) return nullptr;
  if (platform::TBitmap* attached = IO.Bitmap(); attached != nullptr) {
    if (IO.AttachedTImage() != nullptr && attached->PixelFormat() != platform::pf1bit &&
        attached->PixelFormat() != platform::pf24bit)
      attached->SetPixelFormat(platform::pf24bit);
    bitmap->CopyFromTBitmap(attached);
  }
  return bitmap;
}

TRvBitmap* PrintSource(TRastrumIO& IO, std::unique_ptr<TRvBitmap>& Copy) {
  TRvBitmap* bitmap = Rewrap(IO);
  if (bitmap == nullptr) return nullptr;
  if (bitmap->PixelFormat() == rvpf1Bit || bitmap->PixelFormat() == rvpf24Bit) return bitmap;
  if (bitmap->PixelFormat() == rvpfNone) return bitmap;
  // Gray, palette and 16-bit pictures would otherwise print nothing at all.
  Copy = std::make_unique<TRvBitmap>();
  Copy->SetLocation(rvlMemory);
  Copy->Assign(bitmap);
  Copy->SetPixelFormat(rvpf24Bit);
  return Copy.get();
}

// The resolution the picture was made at, for printing at its own size.
void ImageDpi(TRastrumIO& IO, double& DpiX, double& DpiY) {
  if (IO.AttachedRastrum() != nullptr) {
    DpiX = IO.AttachedRastrum()->DpiX();
    DpiY = IO.AttachedRastrum()->DpiY();
  } else {
    DpiX = IO.Params().DpiX;
    DpiY = IO.Params().DpiY;
  }
  if (DpiX == 0) DpiX = RvDefaultDpiX;
  if (DpiY == 0) DpiY = RvDefaultDpiY;
  // The library's default is the screen's; before a view set it, the
  // screen is asked itself rather than dividing by nothing.
  if (DpiX <= 0 || DpiY <= 0) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double screenDpi = screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
    if (DpiX <= 0) DpiX = screenDpi;
    if (DpiY <= 0) DpiY = screenDpi;
  }
}

bool HasPicture(TRvBitmap* Bitmap) {
  return Bitmap != nullptr && Bitmap->Width() > 0 && Bitmap->Height() > 0 &&
         Bitmap->PixelFormat() != rvpfNone;
}

const char* const EmptyPicture = "There is no picture to print.";
const char* const NoRoom = "The margins leave no room on the page for the picture.";
const char* const NoVirtualBitmap = "The page cannot be composed: no room for its temporary file.";

} // namespace

TRvPageMetrics RvPageMetrics(const QPaintDevice& Device) {
  TRvPageMetrics m;
  m.DpiX = Device.logicalDpiX();
  m.DpiY = Device.logicalDpiY();
  m.Width = Device.width();
  m.Height = Device.height();
  return m;
}

void RvGammaTable(double Gamma, std::uint8_t Table[256]) {
  for (int i = 0; i < 256; ++i)
    Table[i] = static_cast<std::uint8_t>(
        RvClampByte(RvRound(static_cast<double>(RvPower(i * (1.0L / 255), 1.0L / Gamma) * 255))));
}

void RvApplyGammaLUT(int, int, std::uint8_t* Pixel, void* Table) {
  const auto* t = static_cast<const std::uint8_t*>(Table);
  Pixel[0] = t[Pixel[0]];
  Pixel[1] = t[Pixel[1]];
  Pixel[2] = t[Pixel[2]];
}

TRvPrintRect RvPrintPlace(TRastrumIO& IO, int DpiX, int DpiY, double PageWidth, double PageHeight,
                          const TRvPrintLayout& Layout) {
  TRvPrintRect r;
  const double aw = PageWidth - (Layout.LeftMargin + Layout.RightMargin);
  const double ah = PageHeight - (Layout.TopMargin + Layout.BottomMargin);
  const TRvBitmap* bitmap = IO.RvBitmap();
  const double bw = bitmap != nullptr ? bitmap->Width() : 0;
  const double bh = bitmap != nullptr ? bitmap->Height() : 0;
  switch (Layout.SizeMode) {
  case rvpsNormal: {
    double dx = 0, dy = 0;
    ImageDpi(IO, dx, dy);
    r.Width = bw / dx;
    r.Height = bh / dy;
    break;
  }
  case rvpsFit: {
    const double w0 = bw / DpiX, h0 = bh / DpiY;
    const double f = std::min(ah / h0, aw / w0);
    r.Width = w0 * f;
    r.Height = h0 * f;
    break;
  }
  case rvpsStretch:
    r.Width = aw;
    r.Height = ah;
    break;
  case rvpsSpecified:
    r.Width = Layout.SpecifiedWidth;
    r.Height = Layout.SpecifiedHeight;
    break;
  default: break;
  }
  switch (Layout.HorizontalPosition) {
  case 0: r.X = Layout.LeftMargin; break;
  case 1: r.X = (aw - r.Width) / 2 + Layout.LeftMargin; break;
  case 2: r.X = Layout.LeftMargin + aw - r.Width; break;
  default: break;
  }
  switch (Layout.VerticalPosition) {
  case 0: r.Y = Layout.TopMargin; break;
  case 1: r.Y = (ah - r.Height) / 2 + Layout.TopMargin; break;
  case 2: r.Y = Layout.TopMargin + ah - r.Height; break;
  default: break;
  }
  return r;
}

TRvPrintRefusal RvPrintLayout(TRastrumIO& IO, platform::TCanvas& Canvas, int DpiX, int DpiY,
                              double PageWidth, double PageHeight, const TRvPrintLayout& Layout,
                              TRvPrintRect* Placed) {
  if (!HasPicture(Rewrap(IO))) return EmptyPicture;
  if (PageWidth - (Layout.LeftMargin + Layout.RightMargin) <= 0 ||
      PageHeight - (Layout.TopMargin + Layout.BottomMargin) <= 0)
    return NoRoom;
  const TRvPrintRect r = RvPrintPlace(IO, DpiX, DpiY, PageWidth, PageHeight, Layout);
  if (Placed != nullptr) *Placed = r;
  return RvPrintDrawImage(IO, Canvas, DpiX, DpiY, r, Layout.Gamma);
}

TRvPrintRefusal RvPrintDrawImage(TRastrumIO& IO, platform::TCanvas& Canvas, int DpiX, int DpiY,
                                 const TRvPrintRect& Rect, double Gamma) {
  std::unique_ptr<TRvBitmap> copy;
  TRvBitmap* bitmap = PrintSource(IO, copy);
  if (!HasPicture(bitmap)) return EmptyPicture;
  TRvVirtualBitmap page;
  const int bits = bitmap->PixelFormat() == rvpf1Bit ? 1 : 24;
  if (!page.Allocate(bitmap->Width(), bitmap->Height(), bits)) return NoVirtualBitmap;
  page.CopyRect(bitmap, 0, 0, bitmap->Width(), bitmap->Height());
  if (bits == 24 && Gamma > 0 && Gamma != 1) {
    std::uint8_t table[256];
    RvGammaTable(Gamma, table);
    page.ApplyPixelFunction(0, 0, bitmap->Width(), bitmap->Height(), &RvApplyGammaLUT, table);
  }
  page.DrawTo(nullptr, Canvas, true, 0, 0, bitmap->Width(), bitmap->Height(),
              static_cast<int>(Rect.X * DpiX), static_cast<int>(Rect.Y * DpiY),
              static_cast<int>(Rect.Width * DpiX), static_cast<int>(Rect.Height * DpiY));
  return {};
}

TRvPrintRefusal RvPrintCheck(TRastrumIO& IO, const TRvPageMetrics& Printer, const TRvPrintLayout& Layout) {
  if (!HasPicture(Rewrap(IO))) return EmptyPicture;
  if (Printer.DpiX <= 0 || Printer.DpiY <= 0 ||
      static_cast<double>(Printer.Width) / Printer.DpiX - (Layout.LeftMargin + Layout.RightMargin) <= 0 ||
      static_cast<double>(Printer.Height) / Printer.DpiY - (Layout.TopMargin + Layout.BottomMargin) <= 0)
    return NoRoom;
  return {};
}

TRvPrintRefusal RvPrintImage(TRastrumIO& IO, platform::TCanvas& Canvas, const TRvPrintLayout& Layout) {
  TRvPageMetrics m;
  Canvas.Paint([&m](QPainter& P) {
    if (P.device() != nullptr) m = RvPageMetrics(*P.device());
  });
  if (m.DpiX <= 0 || m.DpiY <= 0) return NoRoom;
  return RvPrintLayout(IO, Canvas, m.DpiX, m.DpiY, static_cast<double>(m.Width) / m.DpiX,
                       static_cast<double>(m.Height) / m.DpiY, Layout);
}

TRvPrintRefusal RvPreviewPrintImage(TRastrumIO& IO, platform::TBitmap& Target, int PreviewWidth,
                                    int PreviewHeight, const QPaintDevice& Printer,
                                    const TRvPrintLayout& Layout) {
  return RvPreviewPrintImage(IO, Target, PreviewWidth, PreviewHeight, RvPageMetrics(Printer), Layout);
}

TRvPrintRefusal RvPreviewPrintImage(TRastrumIO& IO, platform::TBitmap& Target, int PreviewWidth,
                                    int PreviewHeight, const TRvPageMetrics& Printer,
                                    const TRvPrintLayout& Layout) {
  if (Printer.Width <= 0 || Printer.Height <= 0) return NoRoom;
  const double f = std::min((PreviewWidth - 5) / (Printer.Width / 100.0),
                            (PreviewHeight - 5) / (Printer.Height / 100.0));
  const double scale = f / 100;
  const int pw = static_cast<int>(Printer.Width * scale);
  const int ph = static_cast<int>(Printer.Height * scale);
  // A small preview of a coarse printer would have no dots per inch at all.
  const int dpiX = std::max(1, static_cast<int>(Printer.DpiX * scale));
  const int dpiY = std::max(1, static_cast<int>(Printer.DpiY * scale));
  Target.SetSize(1, 1);
  Target.SetPixelFormat(platform::pf24bit);
  if (pw <= 0 || ph <= 0) return NoRoom;
  Target.SetSize(pw, ph);
  platform::TCanvas& canvas = Target.Canvas();
  canvas.Brush.Style = platform::bsSolid;
  canvas.Brush.Color = platform::clWhite;
  canvas.FillRect(platform::Rect(0, 0, pw, ph));
  const TRvPrintRefusal refusal = RvPrintLayout(IO, canvas, dpiX, dpiY, static_cast<double>(pw) / dpiX,
                                                static_cast<double>(ph) / dpiY, Layout);
  canvas.Brush.Style = platform::bsClear;
  canvas.Pen.Color = platform::clBlack;
  canvas.Pen.Mode = platform::pmNot;
  canvas.Pen.Style = platform::psDash;
  canvas.Pen.Width = 1;
  canvas.Rectangle(static_cast<int>(dpiX * Layout.LeftMargin), static_cast<int>(dpiY * Layout.TopMargin),
                   static_cast<int>(pw - dpiX * Layout.RightMargin),
                   static_cast<int>(ph - dpiY * Layout.BottomMargin));
  canvas.Pen.Mode = platform::pmCopy;
  canvas.Pen.Style = platform::psSolid;
  canvas.Brush.Style = platform::bsSolid;
  return refusal;
}

} // namespace rv

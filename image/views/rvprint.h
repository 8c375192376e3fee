// Printing the picture of an input/output component: placed inside margins
// (inches) by one of four size rules and three positions per axis, gamma
// corrected on the way, drawn through a tiled virtual bitmap so that a
// picture of any size prints without a device bitmap of its size; and the
// same page drawn small for a preview.
#pragma once

#include <cstdint>
#include <string>

#include "platform/graphics.h"

class QPaintDevice;

namespace rv {

class TRastrumIO;

// Size rules.
inline constexpr int rvpsNormal = 0;    // the picture's own resolution
inline constexpr int rvpsFit = 1;       // fit the page, aspect kept
inline constexpr int rvpsStretch = 2;   // fill the page
inline constexpr int rvpsSpecified = 3; // SpecifiedWidth x SpecifiedHeight

// What a page is laid out by.
struct TRvPrintLayout {
  double LeftMargin = 1;
  double TopMargin = 1;
  double RightMargin = 1;
  double BottomMargin = 1;
  int HorizontalPosition = 1; // 0 left, 1 centre, 2 right
  int VerticalPosition = 1;   // 0 top, 1 centre, 2 bottom
  int SizeMode = rvpsFit;
  double SpecifiedWidth = 6;
  double SpecifiedHeight = 4;
  double Gamma = 1;
};

// A printing device as the layout sees it: LOGPIXELS and the printable
// area in device pixels.
struct TRvPageMetrics {
  int DpiX = 0;
  int DpiY = 0;
  int Width = 0;
  int Height = 0;
};
TRvPageMetrics RvPageMetrics(const QPaintDevice& Device);

// The picture's place on the page in inches.
struct TRvPrintRect {
  double X = 0;
  double Y = 0;
  double Width = 0;
  double Height = 0;
};

// Why nothing was printed; empty when the picture was drawn.
using TRvPrintRefusal = std::string;

// Lays the picture out by Layout on a page of PageWidth x PageHeight inches
// and draws it. Printer dpi is that of Canvas' device.
TRvPrintRefusal RvPrintLayout(TRastrumIO& IO, platform::TCanvas& Canvas, int DpiX, int DpiY,
                              double PageWidth, double PageHeight, const TRvPrintLayout& Layout,
                              TRvPrintRect* Placed = nullptr);
// The layout alone.
TRvPrintRect RvPrintPlace(TRastrumIO& IO, int DpiX, int DpiY, double PageWidth, double PageHeight,
                          const TRvPrintLayout& Layout);
// Draws the picture into the device rectangle trunc(X x dpi) ... of the
// rectangle in inches.
TRvPrintRefusal RvPrintDrawImage(TRastrumIO& IO, platform::TCanvas& Canvas, int DpiX, int DpiY,
                                 const TRvPrintRect& Rect, double Gamma);
// Why a print on a device of these metrics would draw nothing (empty when
// it would draw): a print job is not opened for a blank page.
TRvPrintRefusal RvPrintCheck(TRastrumIO& IO, const TRvPageMetrics& Printer, const TRvPrintLayout& Layout);
// Prints on a canvas that paints on a printer (an open page); the caller
// opens and closes the job.
TRvPrintRefusal RvPrintImage(TRastrumIO& IO, platform::TCanvas& Canvas, const TRvPrintLayout& Layout);
// Draws the page as it would print into Target, scaled into PreviewWidth x
// PreviewHeight, with the margins framed.
TRvPrintRefusal RvPreviewPrintImage(TRastrumIO& IO, platform::TBitmap& Target, int PreviewWidth,
                                    int PreviewHeight, const QPaintDevice& Printer,
                                    const TRvPrintLayout& Layout);
TRvPrintRefusal RvPreviewPrintImage(TRastrumIO& IO, platform::TBitmap& Target, int PreviewWidth,
                                    int PreviewHeight, const TRvPageMetrics& Printer,
                                    const TRvPrintLayout& Layout);

// The gamma table of the printed picture: entry i = nearest of
// (i / 255)^(1 / Gamma) x 255, kept within a byte.
void RvGammaTable(double Gamma, std::uint8_t Table[256]);
// The per-pixel step: each byte of a 24-bit pixel through Table.
void RvApplyGammaLUT(int X, int Y, std::uint8_t* Pixel, void* Table);

} // namespace rv

// Painting of the thumbnail view: cells with their pictures, captions,
// bevels, selection and border rings, then wallpaper or background around
// them.
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

#include "image/model/rvbwgray.h"
#include "image/views/rvmview.h"

namespace rv {

namespace {

QColor QColorOf(platform::TColor Color) { return QColor::fromRgb(platform::ColorToQRgb(Color)); }

void FillBand(platform::TCanvas& Canvas, int X1, int Y1, int X2, int Y2) {
  Canvas.FillRect(platform::Rect(X1, Y1, X2, Y2));
}

} // namespace

void TRastrumMView::Paint() {
  platform::TCanvas* canvas = GetCanvas();
  if (canvas != nullptr && UpdateLockCount() == 0) DrawThumbnail(*canvas);
}

// Rings j = 1..N around the cell, each a one-pixel rectangle outline, kept
// out of what earlier rings and cells reserved.
void TRastrumMView::ExcludeRings(int X, int Y, int N) {
  FPainted += QRect(X - N, Y - N, FThumbWidth + 2 * N, FThumbHeight + 2 * N);
}

bool TRastrumMView::PaintCell(platform::TCanvas& Canvas, int Index, int& Restart) {
  TImageRecord& r = *FImages[static_cast<std::size_t>(Index)];
  if (WantsRead(r) && !r.LoadFailed) {
    bool queued = false;
    // The current image's cell as well: with workers the window never waits
    // for a file, however slow.
    if (ThreadPoolSize != 0) queued = RequestLoad(Index);
    if (!queued) {
      bool loaded = false;
      // A reader that raises must not end the paint: the image counts as
      // unreadable like one that reported its failure.
      try {
        loaded = LoadImageNow(Index);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "[Paint] %s\n", e.what());
      } catch (...) {
      }
      if (!loaded) {
        if (FRemoveCorrupted) {
          DeleteImageNU(Index);
          ++Restart;
          return false;
        }
        // Not tried again at every paint; a new file name clears the mark.
        r.LoadFailed = true;
      }
    }
  }
  const bool selected =
      Index == FSelectedImage ||
      (FEnableMultiSelect && std::find(FMultiSelected.begin(), FMultiSelected.end(), Index) != FMultiSelected.end());
  DrawThumbnailCell(Canvas, r, Index, selected && FVisibleSelection && FDisplayMode == mdGrid);
  return true;
}

void TRastrumMView::DrawThumbnail(platform::TCanvas& Canvas) {
  const int cw = ClientWidth(), ch = ClientHeight();
  int restarts = 0;
  for (;;) {
    FPainted = QRegion();
    const int count = ImageCount();
    const int n = (FDisplayMode == mdSingle && count >= 1) ? 1 : count;
    int first = 0;
    if (FPlaying || FDisplayMode == mdSingle) first = std::max(0, std::min(FPlayFrame, count - 1));
    const int before = restarts;
    for (int k = 0; k < n; ++k) {
      const int i = (first + k) % count;
      if (OnDrawProgress && n >= 2) OnDrawProgress(this, static_cast<int>(static_cast<double>(k) / n * 100), i);
      const TImageRecord& r = *FImages[static_cast<std::size_t>(i)];
      const int x = r.X - FViewX, y = r.Y - FViewY;
      if (x > cw - 1 || y > ch - 1 || x + FThumbWidth - 1 < 0 || y + FThumbHeight - 1 < 0) continue;
      if (!PaintCell(Canvas, i, restarts)) break;
    }
    if (restarts == before) break;
  }
  DrawWallPaper(Canvas);
  if (OnDrawProgress && ImageCount() >= 2 && FDisplayMode != mdSingle) OnDrawProgress(this, 100, 0);
}

void TRastrumMView::DrawWallPaper(platform::TCanvas& Canvas) {
  const QRect client(0, 0, ClientWidth(), ClientHeight());
  QRegion free = QRegion(client) - FPainted;
  if (!FWallPaper.Empty()) {
    const QImage image = FWallPaper.ToImage();
    Canvas.Paint([&](QPainter& p) {
      p.setClipRegion(free, Qt::IntersectClip);
      switch (FWallPaperStyle) {
      case rvwoNormal: p.drawImage(0, 0, image); break;
      case rvwoStretch: p.drawImage(client, image); break;
      case rvwoTile:
        for (int y = 0; y < client.height(); y += image.height())
          for (int x = 0; x < client.width(); x += image.width()) p.drawImage(x, y, image);
        break;
      }
    });
    if (FWallPaperStyle != rvwoNormal) return;
    free -= QRect(0, 0, FWallPaper.Width(), FWallPaper.Height());
  }
  const QColor background = QColorOf(GetBackground());
  Canvas.Paint([&](QPainter& p) {
    for (const QRect& rect : free) p.fillRect(rect, background);
  });
}

void TRastrumMView::DrawCellPicture(platform::TCanvas& Canvas, TImageRecord& R, int X, int Y, int Ah,
                                    int& Ix, int& Iy, int& W, int& H) {
  if (R.Scaled != nullptr) {
    W = FScaledStore->ImageWidth(R.Scaled);
    H = FScaledStore->ImageHeight(R.Scaled);
    Ix = X + std::abs(FThumbWidth - W) / 2;
    Iy = Y + FUpperGap + std::abs(Ah - H) / 2;
    const platform::TBitmapInfo* info = FScaledStore->ImageBitmapInfo(R.Scaled);
    const std::uint8_t* bits = FScaledStore->ImagePixels(R.Scaled);
    if (info != nullptr && bits != nullptr) RvDrawDIB(FDrawDib, Canvas, Ix, Iy, W, H, *info, bits, 0, 0, W, H, 0);
    return;
  }
  const int fw = FStore->ImageWidth(R.Image), fh = FStore->ImageHeight(R.Image);
  W = H = 0;
  if (!FEnlargeSmallImages && fw <= FThumbWidth && fh <= Ah) {
    W = fw;
    H = fh;
  } else {
    ThumbFitSize(fw, fh, FThumbWidth - FHorizBorder, Ah, W, H);
  }
  Ix = X + std::abs(FThumbWidth - W) / 2;
  Iy = Y + FUpperGap + std::abs(Ah - H) / 2;
  if (W < 1 || H < 1) return;
  TRvDibbitmap copy;
  if (!copy.AllocateDIB(W, H, 24)) return;
  const platform::TBitmapInfo* stored = FStore->ImageBitmapInfo(R.Image);
  if (stored == nullptr) return;
  const platform::TBitmapInfo info = *stored;
  const std::uint8_t* bits = FStore->ImagePixels(R.Image);
  if (bits == nullptr) return;
  if (info.bmiHeader.biBitCount == 1 && !(W >= fw && H >= fh)) {
    // A reduced black-and-white picture is averaged to gray, not thinned out.
    const bool bottomUp = info.bmiHeader.biHeight > 0;
    const std::size_t rowLen = static_cast<std::size_t>(RvRowLen(fw, 1));
    RvShrinkBWRows(
        [&](int y) { return bits + rowLen * static_cast<std::size_t>(bottomUp ? fh - 1 - y : y); }, fw, fh,
        0, 0, fw - 1, fh - 1, W, H, [&](int y) { return copy.Scanline(y); });
  } else {
    RvDrawDIB(FDrawDib, *copy.Canvas(), 0, 0, W, H, info, bits, 0, 0, fw, fh, 0);
  }
  RvDrawDIB(FDrawDib, Canvas, Ix, Iy, W, H, copy.Info(), copy.Bits(), 0, 0, W, H, 0);
  R.Scaled = FScaledStore->AddBitmap(&copy);
  if (R.Scaled != nullptr) FWithScaledCopy.push_back(&R);
}

void TRastrumMView::DrawThumbnailCell(platform::TCanvas& Canvas, TImageRecord& R, int Index, bool Selected) {
  const int x = R.X - FViewX, y = R.Y - FViewY;
  const int tw = FThumbWidth, th = FThumbHeight;
  if (OnBeforeImageDraw) OnBeforeImageDraw(this, Index, x, y, Canvas);
  // A caption never made is empty, and an empty one is not drawn.
  const TRvMText* top = R.TopText && !R.TopText->Caption().empty() ? R.TopText.get() : nullptr;
  const TRvMText* info = R.InfoText && !R.InfoText->Caption().empty() ? R.InfoText.get() : nullptr;
  std::optional<TRvMText> fileName;
  if (!R.InfoText && FInfoFileNames) {
    fileName.emplace(FileNameCaption(R, nullptr));
    if (!fileName->Caption().empty()) info = &*fileName;
  }
  const TRvMText* bottom = R.BottomText && !R.BottomText->Caption().empty() ? R.BottomText.get() : nullptr;
  const int hb = bottom ? RvTextHeight(bottom->Font) : 0;
  const int ah = th - FBottomGap - FUpperGap - hb;
  const bool acdSelected = Selected && FSelectionStyle == rvssACD;
  const platform::TColor bg = acdSelected ? platform::clHighlight
                              : FDrawImageBackground ? R.Background
                                                     : ThumbnailsBackground;
  int ix = x, iy = y, w = 0, h = 0;
  const bool hasPixels = R.Image != nullptr;
  Canvas.Brush.Style = platform::bsSolid;
  if (hasPixels) {
    DrawCellPicture(Canvas, R, x, y, ah, ix, iy, w, h);
    Canvas.Brush.Color = bg;
    FillBand(Canvas, x, y, ix, y + th);
    FillBand(Canvas, ix + w, y, x + tw, y + th);
    FillBand(Canvas, ix, y, ix + w, iy);
    FillBand(Canvas, ix, iy + h, ix + w, y + th);
  } else {
    Canvas.Brush.Color = bg;
    FillBand(Canvas, x, y, x + tw, y + th);
    if (R.LoadFailed) {
      // An unreadable file: a blank cell crossed corner to corner.
      Canvas.Pen.Color = platform::clGray;
      Canvas.Pen.Width = 1;
      Canvas.Pen.Style = platform::psSolid;
      Canvas.Pen.Mode = platform::pmCopy;
      Canvas.MoveTo(x, y);
      Canvas.LineTo(x + tw, y + th);
      Canvas.MoveTo(x + tw - 1, y);
      Canvas.LineTo(x - 1, y + th);
    }
  }

  // Captions.
  auto prepare = [&](const TRvMText& Text) {
    Canvas.Font = Text.Font;
    Canvas.Brush.Style = platform::bsSolid;
    Canvas.Brush.Color = acdSelected ? platform::clHighlight : Text.Background;
    if (acdSelected) Canvas.Font.Color = platform::clHighlightText;
  };
  // Each caption stays in its own cell: a longer one is cut in its middle,
  // where the start and the end of a file name (its number, its type) stay.
  const auto fitted = [](const TRvMText& Text, int Width) {
    const QFontMetrics metrics(Text.Font.ToQFont());
    const QString caption = QString::fromStdString(Text.Caption());
    if (metrics.horizontalAdvance(caption) <= Width) return Text.Caption();
    return metrics.elidedText(caption, Qt::ElideMiddle, Width).toStdString();
  };
  if (top) {
    prepare(*top);
    const std::string caption = fitted(*top, tw);
    Canvas.TextOut(x + (tw - RvTextWidth(top->Font, caption)) / 2, y, caption);
  }
  if (bottom) {
    prepare(*bottom);
    const std::string caption = fitted(*bottom, tw);
    Canvas.TextOut(x + (tw - RvTextWidth(bottom->Font, caption)) / 2, y + th - FBottomGap - hb, caption);
  }
  int infoHeight = 0;
  if (info) {
    prepare(*info);
    const int ith = RvTextHeight(info->Font);
    FillBand(Canvas, x, y + th - ith - 1, x + tw, y + th);
    const std::string caption = fitted(*info, tw - 2);
    Canvas.TextOut(x + 1 + (tw - RvTextWidth(info->Font, caption) - 2) / 2, y + th - ith - 1, caption);
    infoHeight = ith + 3;
  }

  // Bevels.
  if (FStyle == rvmsACD) {
    const platform::TColor grey = 0x808080;
    if (hasPixels && w > 0 && h > 0) RvDrawBevel(Canvas, ix, iy, ix + w - 1, iy + h - 1, grey, platform::clWhite);
    if (FUpperGap + FBottomGap >= 1 || bottom)
      RvDrawBevel(Canvas, x, y, x + tw - 1, y + th - 1 - infoHeight, platform::clWhite, platform::clBlack);
    if (info)
      RvDrawBevel(Canvas, x, y + th - infoHeight + 2, x + tw - 1, y + th - 1, grey, platform::clWhite);
  }

  if (OnImageDraw) OnImageDraw(this, Index, x, y, Canvas);

  // Rings: the selection first, then the border; what a ring covers is
  // kept out of everything drawn after it.
  auto rings = [&](int N, platform::TColor Color) {
    if (N < 1) return;
    const QRegion allowed = QRegion(QRect(x - N, y - N, tw + 2 * N, th + 2 * N)) - FPainted;
    const QColor c = QColorOf(Color);
    Canvas.Paint([&](QPainter& p) {
      p.setClipRegion(allowed, Qt::IntersectClip);
      for (int j = 1; j <= N; ++j) {
        const QRect ring(x - j, y - j, tw + 2 * j, th + 2 * j);
        p.fillRect(QRect(ring.left(), ring.top(), ring.width(), 1), c);
        p.fillRect(QRect(ring.left(), ring.bottom(), ring.width(), 1), c);
        p.fillRect(QRect(ring.left(), ring.top(), 1, ring.height()), c);
        p.fillRect(QRect(ring.right(), ring.top(), 1, ring.height()), c);
      }
    });
  };
  if (Selected && FSelectionStyle == rvssAround) {
    const int n = hasFocus() ? FSelectionWidth : 1;
    rings(n, FSelectionColor);
    ExcludeRings(x, y, n);
  }
  rings(FThumbnailsBorderWidth, FThumbnailsBorderColor);
  ExcludeRings(x, y, std::max(0, FThumbnailsBorderWidth));
}

} // namespace rv

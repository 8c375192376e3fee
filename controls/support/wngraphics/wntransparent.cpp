#include "controls/support/wngraphics/wntransparent.h"

#include <QPainter>

namespace wn {

void DrawTransparentBitmap(QPainter& Canvas, int X, int Y, platform::TColor TransparentColor, const QImage& Bitmap) {
  DrawTransparentBitmap(Canvas, QRect(), QRect(X, Y, 0, 0), TransparentColor, Bitmap);
}

void DrawTransparentBitmap(QPainter& Canvas, QRect Source, QRect Dest, platform::TColor TransparentColor,
                           const QImage& Bitmap) {
  if (Bitmap.isNull()) return;
  if (Dest.width() < 1 || Dest.height() < 1) Dest.setSize(Bitmap.size());
  if (Source.width() < 1 || Source.height() < 1) Source = Bitmap.rect();
  Source = Source.intersected(Bitmap.rect());
  if (Source.isEmpty()) return;

  Canvas.save();
  Canvas.setRenderHint(QPainter::SmoothPixmapTransform, false);
  if (TransparentColor == platform::clNone) {
    Canvas.drawImage(Dest, Bitmap, Source);
    Canvas.restore();
    return;
  }
  QImage Work = Bitmap.copy(Source).convertToFormat(QImage::Format_ARGB32);
  QRgb Key;
  if (Bitmap.format() == QImage::Format_Mono || Bitmap.format() == QImage::Format_MonoLSB)
    Key = qRgb(255, 255, 255);
  else if (TransparentColor == platform::clDefault)
    Key = Bitmap.pixel(0, Bitmap.height() - 1);
  else {
    const std::uint32_t Rgb = platform::ColorToRGB(TransparentColor);
    Key = qRgb(platform::GetRValue(Rgb), platform::GetGValue(Rgb), platform::GetBValue(Rgb));
  }
  Key &= 0xFFFFFF;
  // Fully clear where the key colour is, fully opaque elsewhere: the same
  // result as masking the background and OR-ing the blacked-out source.
  for (int Y = 0; Y < Work.height(); ++Y) {
    auto* Row = reinterpret_cast<QRgb*>(Work.scanLine(Y));
    for (int X = 0; X < Work.width(); ++X)
      Row[X] = (Row[X] & 0xFFFFFF) == Key ? 0u : (Row[X] | 0xFF000000u);
  }
  Canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
  Canvas.drawImage(Dest, Work);
  Canvas.restore();
}

}  // namespace wn

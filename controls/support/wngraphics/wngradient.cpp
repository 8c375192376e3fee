#include "controls/support/wngraphics/wngradient.h"

#include <QPainter>

#include <cmath>

namespace wn {

namespace {

QColor ToQColor(std::uint32_t Rgb) {
  return QColor(platform::GetRValue(Rgb), platform::GetGValue(Rgb), platform::GetBValue(Rgb));
}

}  // namespace

TWnGradient::TWnGradient(QWidget* Parent) : QWidget(Parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TWnGradient::Changed() {
  FCachedWidth = 0;
  FCachedHeight = 0;
  update();
}

void TWnGradient::SetStyle(TGradStyle Value) {
  FStyle = Value;
  Changed();
}

void TWnGradient::SetStartColor(platform::TColor Value) {
  FStartColor = Value;
  Changed();
}

void TWnGradient::SetEndColor(platform::TColor Value) {
  FEndColor = Value;
  Changed();
}

void TWnGradient::SetSteps(std::uint16_t Value) {
  FSteps = Value;
  Changed();
}

const QImage& TWnGradient::CachedImage() {
  if (width() != FCachedWidth || height() != FCachedHeight || FCache.isNull()) Build();
  return FCache;
}

void TWnGradient::Build() {
  ++FBuildCount;
  const std::uint32_t Start = platform::ColorToRGB(FStartColor);
  const std::uint32_t End = platform::ColorToRGB(FEndColor);
  FCachedWidth = width();
  FCachedHeight = height();
  FCache = QImage(FCachedWidth, FCachedHeight, QImage::Format_RGB32);
  // An empty control has nothing to fill, and its size must not cut Steps
  // to 0, which would divide by zero now and lose the setting.
  if (FCache.isNull()) return;
  QPainter P(&FCache);
  if (FStyle == grFilled) {
    P.fillRect(FCache.rect(), ToQColor(Start));
    return;
  }
  // The remaining shapes are drawn as the vertical or horizontal ones.
  const bool Vertical = FStyle == grVertical;
  const int Length = Vertical ? FCachedHeight : FCachedWidth;
  if (FSteps > Length) FSteps = static_cast<std::uint16_t>(Length);
  const int Steps = std::max<int>(FSteps, 1);  // a Steps of 0 would divide by zero
  const double Channels[3][2] = {{static_cast<double>(platform::GetRValue(Start)), static_cast<double>(platform::GetRValue(End))},
                                 {static_cast<double>(platform::GetGValue(Start)), static_cast<double>(platform::GetGValue(End))},
                                 {static_cast<double>(platform::GetBValue(Start)), static_cast<double>(platform::GetBValue(End))}};
  double Delta[3];
  for (int C = 0; C < 3; ++C) Delta[C] = (Channels[C][1] - Channels[C][0]) / Steps;
  const double Band = static_cast<double>(Length) / Steps;
  for (int I = 0; I <= Steps; ++I) {
    const int From = static_cast<int>(std::nearbyint(I * Band));
    const int To = static_cast<int>(std::nearbyint((I + 1) * Band));
    if (From >= Length) break;
    int Rgb[3];
    for (int C = 0; C < 3; ++C)
      Rgb[C] = std::clamp(static_cast<int>(std::nearbyint(Channels[C][0] + I * Delta[C])), 0, 255);
    const QColor Color(Rgb[0], Rgb[1], Rgb[2]);
    if (Vertical)
      P.fillRect(QRect(0, From, FCachedWidth, To - From), Color);
    else
      P.fillRect(QRect(From, 0, To - From, FCachedHeight), Color);
  }
}

void TWnGradient::paintEvent(QPaintEvent*) {
  const QImage& Image = CachedImage();
  if (Image.isNull()) return;
  QPainter P(this);
  P.drawImage(0, 0, Image);
}

}  // namespace wn

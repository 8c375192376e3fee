// A control that fills itself with a colour gradient, built once per size.
#pragma once

#include "platform/colors.h"

#include <QImage>
#include <QWidget>

#include <cstdint>

namespace wn {

enum TGradStyle { grFilled, grEllipse, grHorizontal, grVertical, grPyramid, grMount };

class TWnGradient : public QWidget {
  Q_OBJECT

 public:
  explicit TWnGradient(QWidget* Parent = nullptr);

  TGradStyle Style() const { return FStyle; }
  void SetStyle(TGradStyle Value);
  platform::TColor StartColor() const { return FStartColor; }
  void SetStartColor(platform::TColor Value);
  platform::TColor EndColor() const { return FEndColor; }
  void SetEndColor(platform::TColor Value);
  std::uint16_t Steps() const { return FSteps; }
  void SetSteps(std::uint16_t Value);

  // The picture for the current size, built when the size has changed.
  const QImage& CachedImage();
  int BuildCount() const { return FBuildCount; }

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  void Changed();
  void Build();

  TGradStyle FStyle = grHorizontal;
  platform::TColor FStartColor = platform::clBlue;
  platform::TColor FEndColor = platform::clBlack;
  std::uint16_t FSteps = 100;
  QImage FCache;
  int FCachedWidth = 0;
  int FCachedHeight = 0;
  int FBuildCount = 0;
};

}  // namespace wn

#include "controls/kel/kelmmbutton.h"

#include <QPainter>

#include "controls/kel/kelbitmaplist.h"

namespace kel {

using namespace platform;

// ---------------------------------------------------------------- TKelButtonFace

void TKelButtonFace::SetFace(int state, std::int32_t listIndex, std::int32_t imageIndex) {
  if (state < 0 || state >= Count) return;
  TPair& pair = FFaces[std::size_t(state)];
  if (pair.ListIndex == listIndex && pair.ImageIndex == imageIndex) return;
  pair = {listIndex, imageIndex};
  Change();
}

void TKelButtonFace::Assign(const TKelObject& source) {
  const auto* s = dynamic_cast<const TKelButtonFace*>(&source);
  if (s == nullptr) return TKelObject::Assign(source);
  if (s == this) return;
  FFaces = s->FFaces;
  Change();
}

void TKelButtonFace::WriteData(TStream& stream) const {
  for (const TPair& pair : FFaces) {
    KelWriteU32(stream, std::uint32_t(pair.ListIndex));
    KelWriteU32(stream, std::uint32_t(pair.ImageIndex));
  }
}

void TKelButtonFace::ReadData(TStream& stream) {
  if (stream.Size() - stream.Position() != std::int64_t(Count) * 8)
    throw EKelContainerError("ButtonFace: nine pairs expected");
  std::array<TPair, Count> faces{};
  for (TPair& pair : faces) {
    pair.ListIndex = std::int32_t(KelReadU32(stream));
    pair.ImageIndex = std::int32_t(KelReadU32(stream));
  }
  FFaces = faces;
  Change();
}

// ---------------------------------------------------------------- TKelCustomMMButton

TKelCustomMMButton::TKelCustomMMButton(QWidget* parent)
    : TKelBaseGraphicButton(parent), FFaceBinding(this, [this] { UpdateControl(); }) {
  FButtonFace.OnChange = [this](TKelObject*) { UpdateControl(); };
}

void TKelCustomMMButton::SetFaceTransparentColor(TColor value) { SetControlProp(FTransparentColor, value); }

bool TKelCustomMMButton::FaceExists() const {
  const TKelCustomImageList* list = ButtonFaceImageList();
  const TKelButtonFace::TPair& face = CurrentFace();
  return list != nullptr && list->ItemExists(face.ListIndex, face.ImageIndex);
}

unsigned TKelCustomMMButton::FaceFlags() const { return KelBitmapStyleFlags(FButtonFaceStyle); }

TRect TKelCustomMMButton::FaceRect() const {
  if (!FaceExists()) return {};
  const TKelButtonFace::TPair& face = CurrentFace();
  const int w = ButtonFaceImageList()->ItemSize(face.ListIndex, 0);
  const int h = ButtonFaceImageList()->ItemSize(face.ListIndex, 1);
  const std::vector<TRect> targets = KelStyledTargets(Rect(0, 0, width(), height()), w, h, FaceFlags());
  return targets.empty() ? TRect{} : targets.front();
}

bool TKelCustomMMButton::PointInShape(int x, int y) {
  // A button without a face still takes presses on its whole area, as the
  // plain button it is then drawn as.
  if (!FaceExists()) return TKelBaseGraphicButton::PointInShape(x, y);
  const TKelButtonFace::TPair& face = CurrentFace();
  TKelCustomImageList* list = ButtonFaceImageList();
  const int w = list->ItemSize(face.ListIndex, 0), h = list->ItemSize(face.ListIndex, 1);
  for (const TRect& t : KelStyledTargets(Rect(0, 0, width(), height()), w, h, FaceFlags())) {
    if (x < t.Left || x >= t.Right || y < t.Top || y >= t.Bottom) continue;
    // The face pixel under the point, the face scaled to its target.
    const int px = int(std::int64_t(x - t.Left) * w / t.Width());
    const int py = int(std::int64_t(y - t.Top) * h / t.Height());
    const TColor pixel = list->ItemPixel(face.ListIndex, face.ImageIndex, px, py);
    return (pixel & 0xFFFFFF) != (ColorToRGB(FTransparentColor) & 0xFFFFFF);
  }
  return false;
}

void TKelCustomMMButton::PaintTo(TCanvas& canvas) {
  const TRect all = Rect(0, 0, width(), height());
  if (IsTransparentNow()) {
    PaintParentBackground(canvas);
  } else {
    canvas.Brush = TBrush{Color(), bsSolid, {}};
    canvas.FillRect(all);
  }
  if (FaceExists()) {
    const TKelButtonFace::TPair& face = CurrentFace();
    TBitmap picture;
    ButtonFaceImageList()->AssignItemTo(face.ListIndex, face.ImageIndex, &picture);
    unsigned flags = FaceFlags();
    if (FForceTransparent) flags |= kbfTransparentColor;
    if (!FQuickDraw) flags |= kbfRealizePalette;
    KelDrawBitmapStyled(canvas, all, picture, nullptr, ColorToRGB(FTransparentColor), flags,
                        Rect(0, 0, picture.Width(), picture.Height()));
  }
  const int state = State();
  const bool pressedLook = state == bsOptionSet || state == bsDown || state == bsDropDown ||
                           state == bsDisabledOptionSet;
  const int down = pressedLook ? CaptionDown : 0;
  canvas.Brush = TBrush{Color(), bsClear, {}};
  PaintGlyphAndCaption(canvas, Rect(down, down, all.Right + down, all.Bottom + down));
}

void TKelCustomMMButton::paintEvent(QPaintEvent*) {
  if (Loading() || width() <= 0 || height() <= 0) return;
  TBitmap work(width(), height(), pf32bit);
  PaintTo(work.Canvas());
  QPainter painter(this);
  TCanvas canvas(&painter);
  canvas.Draw(0, 0, work);
}

} // namespace kel

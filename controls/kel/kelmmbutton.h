// The face-image button: a graphic button on the shape button's state
// machine whose face is one picture per state from an image list; the face's
// transparent colour decides where it can be pressed.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "controls/kel/kelshapebutton.h"

namespace kel {

// One (list index, image index) pair per button state. Pair k belongs to
// state k: 0 up, 1 disabled, 2 mouse over, 3 latched, 4 down, 6 drop-down
// menu shown, 7 disabled while latched. Pairs 5 and 8 are kept and stored
// but no state of the button shows them. The stored form is the nine pairs
// in this order, list index first, as 4-byte little-endian integers.
class TKelButtonFace : public TKelObject {
public:
  static constexpr int Count = 9;
  struct TPair {
    std::int32_t ListIndex = 0;
    std::int32_t ImageIndex = 0;
  };
  const TPair& Face(int state) const { return FFaces[std::size_t(state)]; }
  void SetFace(int state, std::int32_t listIndex, std::int32_t imageIndex);

  void Assign(const TKelObject& source) override;
  void WriteData(platform::TStream& stream) const;
  // The 72 bytes of the nine pairs; anything else is refused whole.
  void ReadData(platform::TStream& stream);

private:
  std::array<TPair, Count> FFaces{};
};

class TKelCustomMMButton : public TKelBaseGraphicButton {
  Q_OBJECT
public:
  explicit TKelCustomMMButton(QWidget* parent = nullptr);

  TKelCustomImageList* ButtonFaceImageList() const { return FFaceBinding.List(); }
  void SetButtonFaceImageList(TKelCustomImageList* value) { FFaceBinding.SetList(value); }
  TKelButtonFace& ButtonFace() { return FButtonFace; }
  TColor FaceTransparentColor() const { return FTransparentColor; }
  void SetFaceTransparentColor(TColor value);
  TKelBitmapStyle ButtonFaceStyle() const { return FButtonFaceStyle; }
  void SetButtonFaceStyle(TKelBitmapStyle value) { SetControlProp(FButtonFaceStyle, value); }
  // Offset of the caption in the pressed look; only stored.
  int CaptionDown = 1;
  // Draws the face with its transparent colour left out.
  bool ForceTransparent() const { return FForceTransparent; }
  void SetForceTransparent(bool value) { SetControlProp(FForceTransparent, value); }
  // Skips the palette work of the face drawing.
  bool QuickDraw() const { return FQuickDraw; }
  void SetQuickDraw(bool value) { SetControlProp(FQuickDraw, value); }

  // Whether the list has the face of the current state.
  bool FaceExists() const;
  // Where the face of the current state is drawn (an empty rectangle
  // without a face; the first tile for a tiled face).
  TRect FaceRect() const;
  bool PointInShape(int x, int y) override;
  bool ShowDesignFrame() const override { return ButtonFaceImageList() == nullptr; }

  // Draws the button into canvas (the client area).
  void PaintTo(TCanvas& canvas);

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  const TKelButtonFace::TPair& CurrentFace() const { return FButtonFace.Face(State()); }
  unsigned FaceFlags() const;

  TKelListBinding FFaceBinding;
  TKelButtonFace FButtonFace;
  TColor FTransparentColor = 0xFFFFFF;
  TKelBitmapStyle FButtonFaceStyle = sbNone;
  bool FForceTransparent = true;
  bool FQuickDraw = false;
};

} // namespace kel

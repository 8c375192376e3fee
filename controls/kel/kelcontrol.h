// The graphic-control chain of the control library:
// TKelControl > TKelBaseControl > TKelBaseGraphicControl > TKelGraphicControl.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "controls/kel/kelbevel.h"
#include "controls/kel/kelbitmaplist.h"
#include "controls/kel/kelfill.h"

#include "platform/graphics.h"

namespace kel {

class TKelCustomImageList;
class TKelChangeLink;

// Bits of the bounds-change flag byte.
inline constexpr std::uint8_t kelBoundsResized = 0x01;
inline constexpr std::uint8_t kelBoundsMoved = 0x02;

// A parent widget whose background shows through (a windowed control of the
// library, a shaped form) says so with this dynamic property set to true.
inline constexpr const char* kelTransparentBackgroundProperty = "kelTransparentBackground";

// What a parent answers its transparent graphic controls: whether their
// background is its own just now, and what lies under one of them. The
// windowed bases answer for themselves (a scroll box for its content), a
// form shape for its form.
class TKelParentBackground {
public:
  virtual ~TKelParentBackground() = default;
  virtual bool ChildrenTransparent() const = 0;
  // Paints what lies under child into canvas, child's top-left at (0, 0).
  virtual void PaintChildBackground(QWidget* child, platform::TCanvas& canvas) = 0;
};

// The answerer registered for widget (none: nullptr removes it).
void KelSetParentBackground(const QWidget* widget, TKelParentBackground* source);
TKelParentBackground* KelParentBackground(const QWidget* widget);
// Whether children of parent paint its background under themselves: its
// answerer's reply, else the widget's transparent-background property.
bool KelParentPaintsTransparent(const QWidget* parent);
// Paints the background of child's parent under child into canvas: through
// the parent's answerer, else by rendering the parent's own painting.
void KelPaintParentBackground(QWidget* child, platform::TCanvas& canvas);

// A control's binding to an image list: the list, the indexes into it and the
// change link through which the list reports. Changed runs whenever what the
// binding shows may have changed.
class TKelListBinding {
public:
  TKelListBinding(QObject* owner, std::function<void()> changed) : FHolder(owner, std::move(changed)) {}

  TKelCustomImageList* List() const { return FHolder.List(); }
  void SetList(TKelCustomImageList* value) { FHolder.SetList(value); }
  std::int32_t ImageIndex() const { return FImageIndex; }
  std::int32_t ListIndex() const { return FListIndex; }
  // index 0 ImageIndex, 1 ListIndex; negative or unchanged values are ignored.
  // True when the value changed.
  bool SetIndex(int index, std::int32_t value);
  // True when no list is bound or it has no item at (ListIndex, ImageIndex).
  bool ItemMissing() const;

private:
  TKelListHolder<TKelCustomImageList> FHolder;
  std::int32_t FImageIndex = 0;
  std::int32_t FListIndex = 0;
};

class TKelControl : public QWidget {
public:
  explicit TKelControl(QWidget* parent = nullptr);

  std::function<void(TKelControl* sender)> OnMouseEnter;
  std::function<void(TKelControl* sender)> OnMouseExit;
  std::function<void(TKelControl* sender, std::uint8_t flags)> OnBoundsChange;

  // Sets position and size at once and reports what changed.
  void SetBounds(int left, int top, int width, int height);

  // While the lock count is above 0 changes do not repaint; the last
  // EndUpdate repaints once.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  bool IsUpdating() const { return FUpdateCount > 0; }

  // Reading stored settings: no repaint, no bounds events meanwhile.
  void BeginLoading() { FLoading = true; }
  void EndLoading();
  bool Loading() const { return FLoading; }

  // The theme setting, in force only where themes are supported and active.
  std::uint8_t ThemeMode() const;
  void SetThemeMode(std::uint8_t value) { FThemeSetting = value; }

  virtual void ThemeChanged();
  virtual bool SupportsThemes() const { return false; }
  virtual void BoundsChanged(std::uint8_t flags);
  virtual void MouseEnter();
  virtual void MouseExit();
  // Any settings change of the control ends here.
  virtual void UpdateControl();
  virtual bool ShowDesignFrame() const { return true; }

  // The widget's own font as the canvas takes it.
  platform::TFont WidgetFont() const;

protected:
  // The setter pattern of the controls: nothing for an unchanged value,
  // else store and repaint.
  template <class T, class U> bool SetControlProp(T& field, const U& value) {
    if (field == value) return false;
    field = value;
    UpdateControl();
    return true;
  }
  virtual void Loaded() {}
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

private:
  std::int32_t FUpdateCount = 0;
  std::uint8_t FThemeSetting = 0;
  bool FLoading = false;
};

class TKelBaseControl : public TKelControl {
public:
  explicit TKelBaseControl(QWidget* parent = nullptr);

  TKelBitmapEffectObject& BitmapEffect() { return FBitmapEffect; }
  // True when no list is bound or it has no item at (ListIndex, ImageIndex).
  bool ListItemMissing() const;

  TKelCustomImageList* ImageList() const { return FBinding.List(); }
  void SetImageList(TKelCustomImageList* value) { FBinding.SetList(value); }
  std::int32_t ImageIndex() const { return FBinding.ImageIndex(); }
  std::int32_t ListIndex() const { return FBinding.ListIndex(); }
  void SetImageIndex(std::int32_t value) { SetIndexes(0, value); }
  void SetListIndex(std::int32_t value) { SetIndexes(1, value); }
  // index 0 ImageIndex, 1 ListIndex; negative or unchanged values are ignored.
  void SetIndexes(int index, std::int32_t value);

  virtual bool IsTransparentNow() const { return false; }
  // The bound list changed (or another list was bound).
  virtual void ListChanged();

protected:
  void Loaded() override;

private:
  TKelListBinding FBinding;
  TKelBitmapEffectObject FBitmapEffect;
};

class TKelBaseGraphicControl : public TKelBaseControl {
public:
  explicit TKelBaseGraphicControl(QWidget* parent = nullptr);

  bool Transparent() const { return FTransparent; }
  // A descendant that paints its own opaque background clears the flag.
  void SetTransparent(bool value);

  bool IsTransparentNow() const override;
  // Nothing while updating; invalidates a transparent control, paints an
  // opaque one at once.
  void UpdateControl() override;

private:
  bool FTransparent = true;
};

class TKelGraphicControl : public TKelBaseGraphicControl {
public:
  explicit TKelGraphicControl(QWidget* parent = nullptr);

  TKelBevel& Bevel() { return FBevel; }
  const TKelBevel& Bevel() const { return FBevel; }
  void SetBevel(const TKelBevel& value) { FBevel.Assign(value); }

protected:
  void paintEvent(QPaintEvent* event) override;
  // Draws the control onto its client area: here the bevel.
  virtual void Paint(platform::TCanvas& canvas);

private:
  TKelBevel FBevel;
};

// Sends the library's theme-change notice to every control of the library
// below root.
void KelBroadcastThemeChanged(QWidget* root);

} // namespace kel

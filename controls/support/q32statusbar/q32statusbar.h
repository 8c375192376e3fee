// A status bar whose panels are text panels, owner-drawn panels or container
// panels that host ordinary widgets (the main window's load progress sits in
// one). Panel widths are the program's; hints of menus and controls can go
// to the first panel by themselves.
#pragma once

#include "controls/support/q32statusbar/q32statusparts.h"
#include "controls/support/qoedit/qocomponent.h"
#include "platform/colors.h"
#include "platform/graphics.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace wn {

class TQ32CustomStatusBar;
class TQ32StatusPanels;

enum TQ32StatusPanelBevel { spbNone, spbLowered, spbRaised };
enum TQ32StatusPanelStyle { spsText, spsContainer, spsOwnerDraw };
// Scoped: the check box's left-right choice already names two of these.
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TBiDiMode { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };
enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };

class TQ32StatusPanel {
 public:
  explicit TQ32StatusPanel(TQ32StatusPanels* Collection);
  // A container panel takes its container with it.
  ~TQ32StatusPanel();
  TQ32StatusPanel(const TQ32StatusPanel&) = delete;
  TQ32StatusPanel& operator=(const TQ32StatusPanel&) = delete;

  int Index() const;
  TQ32CustomStatusBar* StatusBar() const;
  // Copies Text, Width, Alignment, Bevel and Style.
  void Assign(const TQ32StatusPanel& Source);

  const QString& Text() const { return FText; }
  void SetText(const QString& Value);
  int Width() const { return FWidth; }
  void SetWidth(int Value);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);
  TQ32StatusPanelBevel Bevel() const { return FBevel; }
  void SetBevel(TQ32StatusPanelBevel Value);
  TBiDiMode BiDiMode() const;
  void SetBiDiMode(TBiDiMode Value);
  bool ParentBiDiMode() const { return FParentBiDiMode; }
  void SetParentBiDiMode(bool Value);
  TQ32StatusPanelStyle Style() const { return FStyle; }
  void SetStyle(TQ32StatusPanelStyle Value);
  // Index in the bar's container list; -1 once its container is gone.
  int ContainerIndex() const { return FContainerIndex; }
  void SetContainerIndex(int Value) { FContainerIndex = Value; }

  bool UseRightToLeftReading() const { return BiDiMode() != bdLeftToRight; }
  bool UseRightToLeftAlignment() const { return BiDiMode() == bdRightToLeft; }

 private:
  friend class TQ32CustomStatusBar;
  void Changed(bool AllItems);
  void FreeContainer();

  TQ32StatusPanels* FCollection;
  QString FText;
  int FWidth = 50;
  TAlignment FAlignment = TAlignment::taLeftJustify;
  TQ32StatusPanelBevel FBevel = spbLowered;
  TBiDiMode FBiDiMode = bdLeftToRight;
  bool FParentBiDiMode = true;
  TQ32StatusPanelStyle FStyle = spsText;
  int FContainerIndex = 0;
  bool FNeedsUpdate = false;
};

class TQ32StatusPanels {
 public:
  explicit TQ32StatusPanels(TQ32CustomStatusBar* StatusBar) : FStatusBar(StatusBar) {}
  TQ32StatusPanels(const TQ32StatusPanels&) = delete;
  TQ32StatusPanels& operator=(const TQ32StatusPanels&) = delete;

  TQ32CustomStatusBar* StatusBar() const { return FStatusBar; }
  TQ32StatusPanel* Add();
  void Delete(int Index);
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  TQ32StatusPanel* Items(int Index) const { return FItems.at(static_cast<std::size_t>(Index)).get(); }
  TQ32StatusPanel& operator[](int Index) const { return *Items(Index); }
  int IndexOf(const TQ32StatusPanel* Panel) const;
  void Assign(const TQ32StatusPanels& Source);
  // Reverses the order of the panels.
  void Reverse();

  // Changes between the two calls update the bar once, at the end.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();

 private:
  friend class TQ32StatusPanel;
  // One item: that panel only; none: every panel and the parts.
  void Update(TQ32StatusPanel* Item);

  TQ32CustomStatusBar* FStatusBar;
  std::vector<std::unique_ptr<TQ32StatusPanel>> FItems;
  int FUpdateCount = 0;
};

// The panel that a container panel keeps over its part; any widget can be
// put in it.
class TQ32SBContainer : public QWidget {
 public:
  TQ32SBContainer(TQ32CustomStatusBar* StatusBar, int Index);

  TQ32CustomStatusBar* StatusBar() const { return FStatusBar; }
  int Index() const { return FIndex; }
  void SetIndex(int Value) { FIndex = Value; }

  TPanelBevel BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TPanelBevel Value);
  TPanelBevel BevelInner() const { return FBevelInner; }
  void SetBevelInner(TPanelBevel Value);
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor Value);

  // Puts Control into the container so that it fills it and follows its size.
  void Host(QWidget* Control);
  // Children run from the top over the container's whole height; an edit
  // loses its frame.
  void AdjustChildren();
  // Repaints the container and everything in it.
  void Invalidate();

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void childEvent(QChildEvent* Event) override;

 private:
  TQ32CustomStatusBar* FStatusBar;
  int FIndex;
  TPanelBevel FBevelOuter = bvNone;
  TPanelBevel FBevelInner = bvNone;
  platform::TColor FColor = platform::clBtnFace;
};

class TQ32CustomStatusBar : public QWidget {
 public:
  using TNotifyEvent = std::function<void(TQ32CustomStatusBar* Sender)>;
  using TQ32DrawPanelEvent =
      std::function<void(TQ32CustomStatusBar* StatusBar, TQ32StatusPanel* Panel, const platform::TRect& Rect)>;

  explicit TQ32CustomStatusBar(QWidget* Parent = nullptr);
  ~TQ32CustomStatusBar() override;

  std::string About() const { return "v4.06"; }

  TQ32StatusPanels& Panels() { return FPanels; }
  const TQ32StatusPanels& Panels() const { return FPanels; }
  void SetPanels(const TQ32StatusPanels& Value) { FPanels.Assign(Value); }

  bool AutoHint() const { return FAutoHint; }
  void SetAutoHint(bool Value) { FAutoHint = Value; }
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value);
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool Value);
  bool SimplePanel() const { return FSimplePanel; }
  void SetSimplePanel(bool Value);
  const QString& SimpleText() const { return FSimpleText; }
  void SetSimpleText(const QString& Value);
  bool SizeGrip() const { return FSizeGrip; }
  void SetSizeGrip(bool Value);
  bool UseSystemFont() const { return FUseSystemFont; }
  void SetUseSystemFont(bool Value);
  TBiDiMode BiDiMode() const { return FBiDiMode; }
  void SetBiDiMode(TBiDiMode Value);

  // The bar's containers, by container number.
  TQ32ContainerList& Containers() { return *FContainers; }
  TQ32SBContainer* Container(int Index) const;
  // The canvas of an owner drawing; nullptr outside one.
  platform::TCanvas* Canvas() const { return FCanvas; }
  // The window's parts, texts and kinds.
  const TQ32StatusParts& StatusWindow() const { return FWindow; }
  // The length of SimpleText.
  int GetTextLen() const { return static_cast<int>(FSimpleText.size()); }

  void UpdatePanels(bool UpdateRects, bool UpdateText);
  void UpdatePanel(int Index, bool Repaint);
  // Makes the window again: parts, simple text and simple mode come back.
  void RecreateWnd();
  // Mirrors the panels for right-to-left reading.
  void FlipChildren(bool AllLevels);
  // An application hint; answers whether the bar took it.
  bool HintAction(const QString& Hint);
  // The last hint that reached the bar.
  const QString& Hint() const { return FHint; }

  TNotifyEvent OnHint;
  TQ32DrawPanelEvent OnDrawPanel;
  TNotifyEvent OnResize;

 protected:
  virtual bool DoHint();
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  bool event(QEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  friend class TQ32StatusPanel;
  void CreateWnd();
  void SyncToSystemFont();
  void WatchHints();
  void DrawPanel(platform::TCanvas& Canvas, int Part, const platform::TRect& Rect);
  TQ32SBContainer* CreateContainer();
  void RemoveContainer(int Index);
  int SimpleTextFlags() const;

  TQ32StatusPanels FPanels;
  std::unique_ptr<TQ32ContainerList> FContainers;
  TQ32StatusParts FWindow;
  platform::TCanvas* FCanvas = nullptr;
  QPointer<QWidget> FHintWindow;
  QString FHint;
  bool FDestroying = false;
  bool FAutoHint = false;
  platform::TColor FColor = platform::clBtnFace;
  bool FParentColor = false;
  bool FParentFont = false;
  bool FSimplePanel = false;
  QString FSimpleText;
  bool FSizeGrip = true;
  bool FUseSystemFont = true;
  TBiDiMode FBiDiMode = bdLeftToRight;
};

class TQ32StatusBar : public TQ32CustomStatusBar {
 public:
  using TQ32CustomStatusBar::TQ32CustomStatusBar;
};

}  // namespace wn

// The single-picture view: one picture with zoom, fit, scrolling, a choice
// of backgrounds, transparency display, transitions between pictures,
// selections drawn with the mouse, and the input/output and processing
// components that load into it and work on it.
//
// Geometry lives here in one place: Zoom and the view position (ViewX,
// ViewY, in zoomed pixels) give the zoomed size, the drawn size, the offset
// of a centred picture and, before each paint, the visible source rectangle;
// ScreenToBitmapX/Y and BitmapToScreenX/Y map between client and bitmap
// coordinates. The picture is rendered into a back buffer of the client's
// size and copied to the window; overlays (selection outline, grips, the
// polygon's rubber band) are drawn over it in the paint event.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "image/model/rvhelpers.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "image/model/rvresample.h"
#include "image/model/rvtransitions.h"
#include "image/model/rvviewparams.h"
#include "image/views/rvbackground.h"
#include "image/views/rvselection.h"
#include "image/views/rvview.h"
#include "platform/cursors.h"
#include "platform/input.h"

class QScrollBar;
class QTimer;

namespace rv {

class TRastrumIO;
class TRastrumProc;

enum TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

// A set of flags.
using TRvSelectionOptions = std::uint8_t;
inline constexpr TRvSelectionOptions rvsoAnimated = 1u << 0;   // outline marches
inline constexpr TRvSelectionOptions rvsoSizeable = 1u << 1;   // grips on rectangles
inline constexpr TRvSelectionOptions rvsoMoveable = 1u << 2;   // a drag inside moves it
inline constexpr TRvSelectionOptions rvsoFilled = 1u << 3;     // selected area inverted
inline constexpr TRvSelectionOptions rvsoCutBorders = 1u << 4; // moving clips at the border

// A set of TRvMouseInteractItems, one bit each.
using TRvMouseInteract = std::uint8_t;
inline constexpr TRvMouseInteract miZoom = 1u << 0;
inline constexpr TRvMouseInteract miScroll = 1u << 1;
inline constexpr TRvMouseInteract miSelect = 1u << 2;
inline constexpr TRvMouseInteract miSelectPolygon = 1u << 3;
inline constexpr TRvMouseInteract miSelectCircle = 1u << 4;
inline constexpr TRvMouseInteract miSelectZoom = 1u << 5;
inline constexpr TRvMouseInteract miSelectMagicWand = 1u << 6;
inline constexpr TRvMouseInteract miSelectLasso = 1u << 7;

// Coordinates given to the selection operations: client (converted with
// ScreenToBitmapX/Y) or bitmap coordinates.
enum TRvSelectionBase : std::uint8_t { rvsbClientArea, rvsbBitmap };

// The scroll bar's requests.
enum TRvScrollCode : std::uint8_t {
  scLineUp,
  scLineDown,
  scPageUp,
  scPageDown,
  scPosition,
  scTrack,
  scTop,
  scBottom,
  scEndScroll,
};

// (Sender, Change): 0 the view position changed, 1 the zoom changed.
using TViewChangeEvent = std::function<void(void* Sender, int Change)>;
// (Sender, Grip): the grip under the mouse, -1 none.
using TRvMouseInResizingGripEvent = std::function<void(void* Sender, int Grip)>;
// (Sender, NewZoom): the handler may change the zoom about to be set.
using TRvZoomEvent = std::function<void(void* Sender, double& NewZoom)>;

// The view's drawn cursors, in the screen's cursor table from the first view
// on.
inline constexpr platform::TCursor crRvZoomOut = 1778;
inline constexpr platform::TCursor crRvZoomIn = 1779;
inline constexpr platform::TCursor crRvCross = 1780;
inline constexpr platform::TCursor crRvEraser = 1781;
inline constexpr platform::TCursor crRvHand = 1782;
inline constexpr platform::TCursor crRvPen = 1783;
inline constexpr platform::TCursor crRvCross1 = 1784;
inline constexpr platform::TCursor crRvCross3 = 1785; // the default
inline constexpr platform::TCursor crRvSizeNWSE = 1786;
inline constexpr platform::TCursor crRvSizeNS = 1787;
inline constexpr platform::TCursor crRvSizeNESW = 1788;
inline constexpr platform::TCursor crRvSizeWE = 1789;
inline constexpr platform::TCursor crRvMove = 1790;
inline constexpr platform::TCursor crRvCross3Add = 1791;
inline constexpr platform::TCursor crRvCross3Sub = 1792;
inline constexpr platform::TCursor crRvCross2 = 1793;
inline constexpr platform::TCursor crRvCross2Add = 1794;
inline constexpr platform::TCursor crRvCross2Sub = 1795;

// Draws the eighteen cursors and puts them into the screen's cursor table
// (once per process).
void RvRegisterViewCursors();

class TRvLoadedPicture;

class TRastrumView : public TRvView {
public:
  explicit TRastrumView(QWidget* AOwner = nullptr);
  ~TRastrumView() override;

  // ---- Attached components, created on first use and owned by the view.
  TRastrumIO* GetIO();
  TRastrumProc* GetProc();
  const TRvProgressEvent& GetOnProgress() const { return FOnProgress; }
  // Handed on to the components that exist.
  virtual void SetOnProgress(TRvProgressEvent Value);

  // ---- The picture.
  platform::TBitmap* GetBitmap() override { return &FBitmap; }
  // An 8-bit mask at the bitmap's size, made opaque when there was none.
  TRvMask* GetAlphaChannel() override;
  // Takes ownership (nullptr allowed).
  void SetAlphaChannel(TRvMask* Value) override;
  bool HasAlphaChannel() override { return FAlpha != nullptr; }
  void RemoveAlphaChannel() override;
  // A 1 x 1 picture: the view shows only its background.
  void Blank();
  // Fills the picture with Background and drops the alpha channel.
  void Clear();
  // No pixels, or only the one pixel Blank left (a picture of 1 x 1 that
  // arrived since is a picture).
  virtual bool IsEmpty() const;
  // A view: its picture, alpha channel, background and resolution. A 24- or
  // 1-bit bitmap: its pixels; another bitmap: drawn onto a 24-bit one.
  virtual void Assign(const TRastrumView* Source);
  void Assign(const platform::TBitmap* Source);
  void Assign(std::nullptr_t) { Clear(); }
  // The picture an input/output component read into Source elsewhere: its
  // pixels are shared, not copied (Source is to go right after), its alpha
  // mask moves over and its resolution is taken.
  void TakePicture(TRvLoadedPicture& Source);
  void SetBackground(platform::TColor Value) override;
  void ImageChange() override;

  // ---- Geometry.
  // The central recomputation after every change: automatic zoom, view
  // position clamps, scroll bars, drawn size and offsets; then a repaint.
  void Update() override;
  double Zoom() const { return FZoom; }
  // Percent, 100 = 1:1; keeps the bitmap point at the view's centre where
  // the limits of the old zoom allow it. Values <= 0 are ignored.
  void SetZoom(double Value);
  // Zooms so that the bitmap point under client (X, Y) comes to the centre.
  void ZoomAt(int X, int Y, double Value);
  void Fit();
  // The zoom at which the picture fits the control's outer size less the
  // background border; 100 for a picture without pixels.
  double FitZoom() const;
  void FitToWidth();
  void FitToHeight();
  int ViewX() const { return FViewX; }
  int ViewY() const { return FViewY; }
  void SetViewXY(int X, int Y);
  void SetViewX(int X);
  void SetViewY(int Y);
  void GetMaxViewXY(int& MaxX, int& MaxY) const;
  // The client area less the scroll bars shown.
  virtual int ExtentX() const;
  virtual int ExtentY() const;
  // A Qt widget can always paint, with or without a parent.
  virtual bool HasParentWindow() const { return true; }
  int OffsetX() const { return FOffX; }
  int OffsetY() const { return FOffY; }
  int DrawWidth() const { return FDrawW; }
  int DrawHeight() const { return FDrawH; }
  int ZoomedWidth() const { return FZoomW; }
  int ZoomedHeight() const { return FZoomH; }
  // The visible rectangle of the last paint (bitmap pixels) and the client
  // size it is stretched to.
  platform::TRect SourceRect() const { return platform::Bounds(FSrcX, FSrcY, FSrcW, FSrcH); }
  int DestWidth() const { return FDestW; }
  int DestHeight() const { return FDestH; }
  // Recomputes the visible rectangle from the geometry (each paint does).
  void ComputeVisibleRect();
  int ScreenToBitmapX(int X) const;
  int ScreenToBitmapY(int Y) const;
  int BitmapToScreenX(int X) const;
  int BitmapToScreenY(int Y) const;

  // ---- Properties.
  bool DoubleBuffer = true; // stored only: painting always uses the back buffer
  TResampleFilter ZoomFilter() const { return FZoomFilter; }
  void SetZoomFilter(TResampleFilter Value);
  bool DelayZoomFilter = true;
  TScrollStyle ScrollBars() const { return FScrollBars; }
  virtual void SetScrollBars(TScrollStyle Value);
  bool Center() const { return FCenter; }
  void SetCenter(bool Value);
  // Applied by the next Update.
  bool AutoFit = false;
  bool AutoStretch = false;
  bool AutoShrink = false;
  TRvBackgroundStyle BackgroundStyle() const { return FBackgroundStyle; }
  void SetBackgroundStyle(TRvBackgroundStyle Value);
  bool EnableAlphaChannel() const { return FEnableAlpha; }
  void SetEnableAlphaChannel(bool Value);
  platform::TCursor Cursor() const { return FCursor; }
  // The view's default cursor; shown at once.
  void SetCursor(platform::TCursor Value);
  int ChessboardSize = 16;
  platform::TBrushStyle ChessboardBrushStyle = platform::bsSolid;
  // A grid along the pixel edges from zoom 400 on.
  bool DisplayGrid = false;
  // A bar that is not needed is disabled instead of hidden.
  bool ScrollBarsAlwaysVisible = false;
  TRvScrollBarParams& VScrollBarParams() { return FVParams; }
  TRvScrollBarParams& HScrollBarParams() { return FHParams; }
  TRvMouseWheelParams& MouseWheelParams() { return FWheelParams; }

  // ---- Events.
  TViewChangeEvent OnViewChange;
  TNotifyEvent OnImageChange;
  TNotifyEvent OnPaint;
  TNotifyEvent OnSelectionChange;
  TNotifyEvent OnSelectionChanging;
  TNotifyEvent OnMouseInSel;
  TRvMouseInResizingGripEvent OnMouseInResizingGrip;
  TRvZoomEvent OnZoomIn;
  TRvZoomEvent OnZoomOut;
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  platform::TMouseEvent OnMouseDown;
  platform::TMouseMoveEvent OnMouseMove;
  platform::TMouseEvent OnMouseUp;
  platform::TKeyEvent OnKeyDown;
  platform::TKeyEvent OnKeyUp;

  // ---- Transitions.
  // Captures what the view shows as the start of a transition. Until
  // RunTransition the view keeps showing that picture, whatever is loaded
  // meanwhile and whoever forces a paint; the event loop's next turn ends
  // the hold should RunTransition never come.
  void PrepareTransition();
  // Blends from the captured picture to the present one.
  void RunTransition(TRvTransitionType Effect, int Duration);
  // The end picture of a transition that runs, drawn now if RunTransition
  // left it for the first frame.
  void DrawPendingTransitionEnd();
  bool HoldingTransitionStart() const { return FHoldingStart; }
  bool TransitionRunning() const { return FTransition->Running(); }
  TRvTransitionEffects& Transition() { return *FTransition; }

  // ---- Painting.
  // The software renderer: the visible part of the picture, its background,
  // the filled selection and the pixel grid onto Dest (24- or 32-bit, at
  // most the client's size), only inside Clip when one is given.
  virtual void DrawImageTo(platform::TBitmap& Dest, const platform::TRect* Clip = nullptr);
  // The filtered painter: the visible part resampled with ZoomFilter.
  // Bitmap, when given, is the pixel buffer behind Canvas.
  virtual void PaintTo(platform::TCanvas& Canvas, platform::TBitmap* Bitmap);
  // Paints the background onto Canvas: the style, the colour, the area and
  // the picture's rectangle in it.
  void DrawBackground(platform::TCanvas& Canvas, TRvBackgroundStyle Style, platform::TColor Color,
                      int Width, int Height, const platform::TRect& ImageRect,
                      const platform::TRect* Clip = nullptr);
  // The whole client is painted again at the next paint event.
  void Invalidate();
  // The back buffer: the client's size, whatever the zoom.
  const platform::TBitmap& BackBuffer() const { return FBackBuffer; }
  // Renders the back buffer now when it is out of date (the next paint
  // event would).
  void RenderBackBuffer();
  // Back-buffer pixels the renderer wrote at the last render: the whole
  // client, only the strips a scroll uncovered, or only what shows the
  // areas of ImageAreasChange.
  std::int64_t RenderedPixels() const { return FRenderedPixels; }
  // The picture's pixels inside Areas changed, not its size: only the parts
  // of the back buffer that show them are rendered again (the whole client
  // at the next paint when that cannot be told); then ImageChange.
  void ImageAreasChange(const std::vector<QRect>& Areas);

  // ---- Selections.
  TRvSelectionOptions SelectionOptions() const { return FSelectionOptions; }
  void SetSelectionOptions(TRvSelectionOptions Value);
  TRvMouseInteract MouseInteract() const { return FMouseInteract; }
  virtual void SetMouseInteract(TRvMouseInteract Value);
  TRvSelectionBase SelectionBase() const { return FSelectionBase; }
  void SetSelectionBase(TRvSelectionBase Value) { FSelectionBase = Value; }
  void SetSelectionColor1(platform::TColor Value);
  void SetSelectionColor2(platform::TColor Value);
  void SetSelectionGripStyle(platform::TColor GripColor1, platform::TColor GripColor2,
                             platform::TBrushStyle GripBrushStyle, int GripSize,
                             bool ExtendedGrips);
  // Op 0 replaces the selection, 1 adds to it.
  virtual void SelectRect(int X1, int Y1, int X2, int Y2, int Op);
  virtual void AddSelectionPoint(int X, int Y);
  // Fills the polygons into the selection mask.
  virtual void EndSelect();
  void Deselect();
  bool Selected() const { return FSelected; }
  // The bounding box of the selection, inclusive.
  int SelX1() const;
  int SelY1() const;
  int SelX2() const;
  int SelY2() const;
  TRvSelectionRecord& CurrentSelection() { return *FSel; }
  TRvMask* SelectionMask() override { return &FSelMask; }
  bool HasSelection() const override { return FSelected; }
  const platform::TPoint* SelectionPoints() const override { return FSel->Points(); }
  int SelectionPointCount() const override { return FSel->Count(); }
  void MagicWand(int X, int Y, bool Add);
  // Zooms and scrolls so that the selection fills the view.
  void ZoomSelection();
  // Shifts the stored mouse positions while the view scrolls under a drag.
  virtual void OffsetMousePoints(int DX, int DY);
  bool PolygonEntry() const { return FPolyEntry; }
  int MagicWandTolerance = 15;
  int MagicWandMode = 0; // 0 outline, 1 fill, 2 every similar colour
  bool MagicWandMaxFilter = false;
  // Every drag behaves as if Alt were held (squares, snapped lines, kept ratios).
  bool ConstrainAlways = false;

  // ---- Input, as the class library's handlers (client coordinates).
  virtual void MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y);
  virtual void MouseMove(platform::TShiftState Shift, int X, int Y);
  virtual void MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y);
  virtual void DblClick();
  virtual void KeyDown(int& Key, platform::TShiftState Shift);
  virtual void KeyUp(int& Key, platform::TShiftState Shift);
  // A scroll bar's request; Position is in the bar's units.
  void HScroll(TRvScrollCode Code, int Position);
  void VScroll(TRvScrollCode Code, int Position);
  // A wheel turn of Delta eighths of a degree at client point (X, Y); parts
  // of a notch add up until they make a whole one.
  void MouseWheel(int Delta, int X, int Y);
  // One step of the scrolling that follows a drag beyond the picture: true
  // when the view moved.
  bool AutoScroll();
  // One tick of the 210 ms selection timer.
  void SelectionTimerTick();
  // Ticks left before the filtered repaint and before the selection's
  // outline shows again after a view change (0: none).
  int DelayedFilterCountdown() const { return FDelayCount; }
  int FastPaintCountdown() const { return FFastCount; }
  bool SelectionTimerActive() const;
  // The grip under client (X, Y): 0 to 3 the corners from the top-left
  // clockwise, 4 to 7 the left, right, top and bottom edges, -1 none.
  int GripAt(int X, int Y) const;

  // The screen's logical resolution, which the library's readers take for
  // files that state none; set when the first view is created.
  static void SetDefaultResolutionFromScreen();

protected:
  void Paint() override;
  void PaintLocked() override;
  virtual void DoViewChange(int Change);
  // Whether a scroll may move the back buffer's pixels by ShiftX, ShiftY
  // (old column x + ShiftX becomes column x) and render only the uncovered
  // strips through DrawImageTo with a clip. A descendant whose DrawImageTo
  // draws beyond its clip, or whose drawing does not move by the same
  // pixels, answers false.
  virtual bool CanScrollBackBuffer(int ShiftX, int ShiftY) const {
    (void)ShiftX;
    (void)ShiftY;
    return true;
  }

  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void keyReleaseEvent(QKeyEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;

private:
  class TTransitionLink;

  // Geometry.
  void UpdateScrollBars(int MaxX, int MaxY);
  void LayoutScrollBars();
  void SetBarShown(bool Horizontal, bool Shown, bool Enabled);
  void ScrollTo(bool Vertical, TRvScrollCode Code, int Position);
  void ViewMoved();
  void ArmDelayedFilter();
  void ArmCountdowns();
  void ViewChanged(bool Horizontal, bool Vertical);
  double AutoZoom(int W, int H, int CW, int CH, bool Stretch, bool Shrink) const;
  QPoint ClientPos(const QPointF& WidgetPos) const;
  void SchedulePaint();
  void PaintRequested();
  void ReleaseTransitionStart();

  // Painting.
  void PaintBackBuffer(const QRect& R);
  bool AlphaDisplayed() const;
  bool ScrollBackBuffer();
  // The filled selection and the pixel grid are drawn over the whole back
  // buffer, not only inside a clip: no part of it can be rendered alone.
  bool ExtrasCoverAll() const;
  bool RenderAreas(const std::vector<QRect>& Areas);
  // The software renderer's map along one axis: the first source pixel, the
  // start inside it and the step, anchored at a place of the whole zoomed
  // picture, so that the same zoomed pixel always shows the same source pixel.
  struct TAxisMap {
    int First = 0, Phase = 0;
    std::int64_t Step = 0, Anchor = 0;
  };
  TAxisMap AxisMap(bool Vertical) const;
  void ComputeMaps(std::vector<int>& Cols, std::vector<int>& Rows) const;
  void RecordRenderedMaps();
  bool Dragging() const;
  void RenderNearest(platform::TBitmap& Dest, const QRect& Clip, bool WithAlpha);
  void DrawSelectionExtras(platform::TBitmap& Dest);
  void DrawOverlays(QPainter& P);
  void DrawPolygonOutline(QPainter& P, TRvSelectionRecord& Record);
  void DrawGrips(QPainter& P, const TRvSelectionRecord& Record);
  void MapSelectionPoint(const platform::TPoint& P, int& X, int& Y, bool Truncate) const;
  void PaintFiltered(platform::TBitmap& Dest);
  void DrawBackgroundFor(platform::TBitmap& Dest, const platform::TRect* Clip);

  // Selections.
  void RectSelection(int X1, int Y1, int X2, int Y2, int Op, bool Square);
  int InsideSelection(int X, int Y) const;
  bool Constrained(platform::TShiftState Shift) const;
  void ClampMouse(int& X, int& Y) const;
  int ToBitmapX(int X) const;
  int ToBitmapY(int Y) const;
  int ResizeByGrip(int Grip, int X, int Y, bool Constrain);
  void MoveSelection(int DX, int DY);
  void SnapToLastPoint(int& X, int& Y) const;
  void ShowOutline();
  void EndMoves();
  void DragTo(platform::TShiftState Shift, int X, int Y);
  void SetShownCursor(platform::TCursor Value);
  void UpdateSelectionTimer();

  platform::TBitmap FBitmap;
  std::unique_ptr<TRvMask> FAlpha;
  bool FEnableAlpha = false;

  std::unique_ptr<TRastrumIO> FIO;
  std::unique_ptr<TRastrumProc> FProc;
  TRvProgressEvent FOnProgress;

  double FZoom = 100;
  double FZZ = 1;  // zoom factor
  double FIZ = 1;  // inverse zoom
  int FViewX = 0, FViewY = 0;
  double FExtra = 0.5;
  int FOffX = 0, FOffY = 0;
  int FDrawW = 0, FDrawH = 0;
  int FZoomW = 0, FZoomH = 0;
  int FSrcX = 0, FSrcY = 0, FSrcW = 0, FSrcH = 0;
  int FDestW = 0, FDestH = 0;
  int FLastBitmapW = -1, FLastBitmapH = -1;
  double FHScale = 1, FVScale = 1;
  bool FHBarShown = false, FVBarShown = false;
  bool FDirty = true;
  bool FFullRepaint = true;
  // The back buffer must be rendered whole: its picture or layout changed,
  // not only the view position.
  bool FRenderAll = true;
  int FDelayCount = 0;
  int FFastCount = 0;
  bool FSkipMaskOutlineWhileFast = true;
  bool FInvalidateOnUpdate = true;
  bool FNoInvalidate = false;
  int FUpdateDepth = 0;
  bool FDestroying = false;
  // Set by Blank until a picture arrives (ImageChange); a change of the
  // background alone is none.
  bool FBlank = false;
  bool FBackgroundChange = false;

  TResampleFilter FZoomFilter = rfNone;
  TResampleFilter FRestoreFilter = rfNone;
  TScrollStyle FScrollBars = ssNone;
  bool FCenter = false;
  TRvBackgroundStyle FBackgroundStyle = rvbsSolid;
  platform::TCursor FCursor = crRvCross3;
  platform::TCursor FShownCursor = crRvCross3;

  TRvScrollBarParams FVParams, FHParams;
  TRvMouseWheelParams FWheelParams;
  int FWheelRest = 0;
  QScrollBar* FHBar = nullptr;
  QScrollBar* FVBar = nullptr;

  platform::TBitmap FBackBuffer;
  // Where the back buffer's columns and rows came from at its last render
  // (-1 for background), to tell whether a scroll can reuse its pixels.
  std::vector<int> FRenderedCols, FRenderedRows;
  std::int64_t FRenderedAnchorX = 0, FRenderedAnchorY = 0;
  std::int64_t FRenderedPixels = 0;

  std::unique_ptr<TTransitionLink> FTransitionLink;
  std::unique_ptr<TRvTransitionEffects> FTransition;
  // PrepareTransition holds the update lock until RunTransition; the serial
  // tells a hold from the ones before it.
  bool FHoldingStart = false;
  // RunTransition left the end picture to the first frame's paint.
  bool FEndPending = false;
  unsigned FHoldSerial = 0;

  // Selection state.
  std::vector<std::unique_ptr<TRvSelectionRecord>> FSelList;
  TRvSelectionRecord* FSel = nullptr;
  TRvMask FSelMask;
  std::unique_ptr<QTimer> FSelTimer;
  std::unique_ptr<QTimer> FAutoScrollTimer;
  TRvSelectionOptions FSelectionOptions = rvsoAnimated | rvsoSizeable | rvsoMoveable;
  TRvMouseInteract FMouseInteract = 0;
  TRvSelectionBase FSelectionBase = rvsbClientArea;
  bool FSelected = false;
  bool FPolyEntry = false;
  bool FLasso = false;
  bool FRubberBand = false;
  bool FEllipse = false;
  bool FButtonDown = false;
  platform::TMouseButton FDownButton = platform::mbLeft;
  int FGrip = -1;
  int FMoveState = -1;
  QPoint FDownPos, FPrevPos, FCurPos, FLastMouse;
  QPoint FDownView;
  int FDownCount = 0;
  int FDownBox[4] = {0, 0, 0, 0};
  platform::TShiftState FDragShift = 0;
  platform::TColor FMaskColor1 = platform::clBlack;
  platform::TColor FMaskColor2 = platform::clWhite;
  platform::TColor FGripPen = platform::clBlack;
  platform::TColor FGripBrush = platform::clWhite;
  platform::TBrushStyle FGripBrushStyle = platform::bsSolid;
  int FGripSize = 5;
  bool FExtendedGrips = true;
  int FAnimCounter = 0;
};

} // namespace rv

// The picture view with a layer of vector objects over the picture: lines
// with arrow heads, boxes, ellipses, arcs, masked bitmaps, text boxes,
// rulers, polylines and angle gauges, held in picture coordinates so that
// they follow zoom and scrolling, never merged into the picture. The same
// view measures lengths, areas and angles in a chosen unit and shows them in
// a floating hint, and lets the user make, select, move, resize and edit the
// objects with the mouse and keyboard.
//
// Objects are drawn into the back buffer after the picture, so a repaint of
// a small rectangle (the hint following the pointer) copies pixels and draws
// nothing again. The frame with the objects is kept too: while they and the
// view stay as they are and the picture renders to the same pixels, a new
// frame takes them from it instead of drawing thousands of objects again.
// What follows the pointer (rubber bands, preview lines, grips, the hint) is
// overlay state painted in the paint event; changing it repaints only the
// rectangles it covered and covers.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QPen>
#include <QPointF>
#include <QStyle>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/views/rastrumview.h"

class QLineEdit;

namespace rv {

enum TRvVObjKind : std::uint8_t {
  rvokNone,
  rvokLine,
  rvokBox,
  rvokEllipse,
  rvokArc,
  rvokBitmap,
  rvokText,
  rvokRuler,
  rvokPolyline,
  rvokAngle,
};

enum TRvArrowShape : std::uint8_t { rvasNone, rvasBaseAtEnd, rvasTipAtEnd };

enum TRvRulerType : std::uint8_t { rvrtGraduated, rvrtLabelStart, rvrtLabelMiddle, rvrtLabelEnd };

enum TRvUnits : std::uint8_t {
  rvuPIXELS,
  rvuINCHES,
  rvuKM,
  rvuMETERS,
  rvuCENTIMETERS,
  rvuMILLIMETERS,
  rvuMICRONS,
  rvuNANOMETERS,
};

// A set of flags.
using TRvVObjStyle = std::uint8_t;
inline constexpr TRvVObjStyle rvosSelectable = 1u << 0;
inline constexpr TRvVObjStyle rvosMoveable = 1u << 1;
inline constexpr TRvVObjStyle rvosSizeable = 1u << 2;
inline constexpr TRvVObjStyle rvosVisible = 1u << 3;

// A set of TRvVectInteract items, one bit each.
using TRvVectInteract = std::uint16_t;
inline constexpr TRvVectInteract mviMeasureArea = 1u << 0;
inline constexpr TRvVectInteract mviMeasurePerimeter = 1u << 1;
inline constexpr TRvVectInteract mviPutLine = 1u << 2;
inline constexpr TRvVectInteract mviPutBox = 1u << 3;
inline constexpr TRvVectInteract mviPutEllipse = 1u << 4;
inline constexpr TRvVectInteract mviPutBitmap = 1u << 5;
inline constexpr TRvVectInteract mviPutText = 1u << 6;
inline constexpr TRvVectInteract mviSelectObjects = 1u << 7;
inline constexpr TRvVectInteract mviMeasureDrag = 1u << 8;
inline constexpr TRvVectInteract mviPutRuler = 1u << 9;
inline constexpr TRvVectInteract mviPutPolyline = 1u << 10;
inline constexpr TRvVectInteract mviPutAngle = 1u << 11;

// The platform's font description as text objects store it (ANSI layout,
// 60 bytes): height in pixels (negative: the character height), escapement
// in tenths of a degree counter-clockwise, weight 0..1000.
struct TRvLogFont {
  std::int32_t lfHeight = 0;
  std::int32_t lfWidth = 0;
  std::int32_t lfEscapement = 0;
  std::int32_t lfOrientation = 0;
  std::int32_t lfWeight = 0;
  std::uint8_t lfItalic = 0;
  std::uint8_t lfUnderline = 0;
  std::uint8_t lfStrikeOut = 0;
  std::uint8_t lfCharSet = 0;
  std::uint8_t lfOutPrecision = 0;
  std::uint8_t lfClipPrecision = 0;
  std::uint8_t lfQuality = 0;
  std::uint8_t lfPitchAndFamily = 0;
  char lfFaceName[32] = {};

  std::string FaceName() const;
  void SetFaceName(const std::string& Name);
  bool operator==(const TRvLogFont&) const = default;
};
static_assert(sizeof(TRvLogFont) == 60);

// An X or Y of an angle gauge's point not placed yet.
inline constexpr std::int32_t RvNotPlaced = -1000000;
// The box a gauge or polyline starts from: nothing yet, so that its first
// point becomes the whole box.
inline constexpr platform::TRect RvVectEmptyBox{1000000, 1000000, -1000000, -1000000};

// One object. Left/Top/Right/Bottom are picture coordinates: for lines and
// rulers the two end points in drawing order, for the others an ordered box
// (inclusive). Points of a polyline are picture points as captured; the
// base box is their box at that time, so moving or resizing the object
// changes only its box.
struct TRvVObject {
  std::int32_t Left = 0, Top = 0, Right = 63, Bottom = 63;
  TRvVObjKind Kind = rvokNone;
  TRvArrowShape BeginShape = rvasNone;
  TRvArrowShape EndShape = rvasNone;
  std::int32_t ShapeWidth = 10;  // arrow head base, picture pixels
  std::int32_t ShapeHeight = 20; // arrow head length
  platform::TColor PenColor = platform::clWindowText; // also the text colour
  platform::TPenStyle PenStyle = platform::psSolid;
  std::int32_t PenWidth = 1;
  platform::TColor BrushColor = platform::clWhite;
  platform::TBrushStyle BrushStyle = platform::bsClear;
  double ArcStart = 0;      // radians
  double ArcEnd = 6.283185307179586;
  std::int32_t BitmapIndex = -1; // entry of the shared bitmap list
  std::optional<std::string> Text; // UTF-8
  std::optional<TRvLogFont> Font;
  std::uint8_t TextAlign = 0; // 0 left, 1 right, 2 centred
  bool AutoSize = false;      // the width follows the text while it is edited
  std::optional<std::string> Name; // carried along, never drawn
  TRvVObjStyle Style = rvosSelectable | rvosMoveable | rvosSizeable | rvosVisible;
  TRvUnits RulerUnit = rvuPIXELS;
  TRvRulerType RulerType = rvrtLabelMiddle;
  std::vector<platform::TPoint> Points;
  std::int32_t BaseLeft = 0, BaseTop = 0, BaseRight = 0, BaseBottom = 0;
  // First arm end, vertex, second arm end.
  std::array<platform::TPoint, 3> AnglePoints{};
  // The corners when the current resize began.
  platform::TRect SavedRect;

  int PointCount() const { return static_cast<int>(Points.size()); }
};

// A shared bitmap: the pixels (1 or 24 bits), an 8-bit transparency of the
// same size, and how many objects use it.
struct TRvVBitmapEntry {
  std::unique_ptr<platform::TBitmap> Bitmap; // null: the entry is free
  std::unique_ptr<TRvMask> Mask;
  std::int32_t RefCount = 0;
  // What drawing needs to know of the mask: 0 all transparent, 255 all
  // opaque, anything else mixed.
  int MaskKind = 255;
};

using TRvVMeasureHintEvent = std::function<void(void* Sender, std::string& Text, double Value)>;
using TRvVDragLenEndEvent = std::function<void(void* Sender, double Value)>;
using TRvVNewObject = std::function<void(void* Sender, int hobj)>;
using TRvVObjectMoveResizeEvent =
    std::function<void(void* Sender, int hobj, int Grip, int& OffsetX, int& OffsetY)>;
using TRvVObjectClickEvent = std::function<void(void* Sender, int hobj)>;

// The display name of a unit: "pixels", "inches", "km", "mt", "cm", "mm",
// "microns", "nanometers".
const char* RvUnitName(TRvUnits Unit);
// Units of Unit per picture pixel at Dpi dots per inch, times Scale; 1 for
// pixels whatever the resolution.
double RvUnitPerPixel(TRvUnits Unit, int Dpi, double Scale);
// The library's fixed-point number text: Value rounded to Precision
// significant digits with Digits digits after the point ("12.50").
std::string RvFloatText(double Value, int Precision, int Digits);
// "12.50 cm": the number text, a blank and the unit's name.
std::string RvLengthText(double Value, int Precision, int Digits, TRvUnits Unit);
// The angle at the vertex B between the arms to A and C, in degrees,
// counter-clockwise as seen on the screen from arm BA to arm BC (Y points
// down), so 0 <= result < 360.
double RvGaugeAngle(platform::TPoint A, platform::TPoint B, platform::TPoint C);
// Where a graduated ruler puts its ticks: the distance in client pixels
// from one tick to the next (a tenth of a unit, widened by powers of ten to
// at least one pixel) and the units a tick stands for. False when the ruler
// can have no ticks (no length per unit).
bool RvGraduation(double UnitPerClientPixel, double& Step, double& UnitsPerTick);

// The MIME type of the objects on the clipboard: Qt's spelling of a
// registered clipboard format, so the format keeps the name "RASTRUM VECT".
extern const char* const RvVectMimeType;

// Objects and the bitmaps they use, as the clipboard carries them.
struct TRvVectPacket {
  std::vector<TRvVObject> Objects; // BitmapIndex: an index into Bitmaps
  std::vector<TRvVBitmapEntry> Bitmaps;
};
std::vector<std::uint8_t> RvVectEncode(const TRvVectPacket& Packet);
// False, leaving Packet empty, for anything but a whole, well-formed packet.
bool RvVectDecode(const void* Data, std::size_t Size, TRvVectPacket& Packet);

// How many of a gauge's points are placed, counted from the first.
int RvPlacedPoints(const TRvVObject& Gauge);

class TRastrumVect : public TRastrumView {
public:
  explicit TRastrumVect(QWidget* AOwner = nullptr);
  ~TRastrumVect() override;

  // ---- The object store. Handles are indexes that stay valid; -1 is the
  // template, -2 the newest object, -3 and -4 nothing.
  int AddNewObject(const TRvVObject& Obj);
  TRvVObject* ObjectAt(int hobj);
  int ObjectsCount() const { return static_cast<int>(FObjects.size()); }
  // Handles in drawing order (later ones lie on top).
  const std::vector<int>& DrawingOrder() const { return FOrder; }
  // The shared bitmaps; an entry without a bitmap is free.
  const std::vector<TRvVBitmapEntry>& SharedBitmaps() const { return FBitmaps; }
  void SetObjBitmap(int hobj, const platform::TBitmap* Bitmap, const TRvMask* Mask);
  void SetObjBitmapIcon(int hobj, QStyle::StandardPixmap IconID, int Width, int Height);
  void SetObjBitmapIndex(int hobj, int Index);
  void SetObjFont(int hobj, const platform::TFont& Font);
  void AddPolylinePoint(int hobj, int X, int Y);
  void RemoveAllObjects();
  void CopyObjectsTo(TRastrumVect* Dest) const;

  // ---- Selection of objects.
  void SelectObject(int hobj);
  bool IsSelected(int hobj) const;
  void UnselectObject(int hobj);
  void UnselectAll();
  const std::vector<int>& SelectedObjects() const { return FSelected; }

  // ---- Clipboard: the selected objects under RvVectMimeType.
  bool CopyObjectsToClipboard() const;
  // Adds the objects found on the clipboard and selects them; answers how
  // many (0 when there are none or the data are not whole).
  int PasteObjectsFromClipboard();
  // The selected objects (all when SelectedOnly is false) as a packet.
  TRvVectPacket ObjectsToPacket(bool SelectedOnly) const;
  // Adds a packet's objects after the others; answers their first handle.
  int AddPacket(const TRvVectPacket& Packet);

  // ---- Measures.
  TRvUnits MUnit() const { return FMUnit; }
  void SetMUnit(TRvUnits Value);
  int FloatDigits() const { return FFloatDigits; }
  void SetFloatDigits(int Value);
  int FloatPrecision() const { return FFloatPrecision; }
  void SetFloatPrecision(int Value);
  double MeasureScale() const { return FMeasureScale; }
  void SetMeasureScale(double Value);
  double UnitPerPixelX() const { return FUnitPerPixelX; }
  double UnitPerPixelY() const { return FUnitPerPixelY; }
  // "12.50 cm", "12.50 cm²" (area), "12.50°" (angle).
  std::string LengthText(double Value) const;
  std::string AreaText(double Value) const;
  std::string AngleText(double Degrees) const;
  // Of the view's polygon selection, in the unit.
  double MeasureSelectionArea() const;
  double MeasureSelectionPerimeter() const;
  bool PerimeterToCursor = true;

  // ---- Hit tests, in picture coordinates for ObjectDistance and client
  // coordinates for FindObjectAt (-3 when nothing is hit).
  double ObjectDistance(const TRvVObject& Obj, int X, int Y) const;
  int FindObjectAt(int X, int Y, bool SelectableOnly, double& Distance) const;
  // Screen pixels; -1 means no limit.
  int MaxSelectionDistance = -1;

  // ---- Drawing.
  // The object pass onto Canvas, grips included.
  void DrawObjects(platform::TCanvas& Canvas);
  // The objects in the last frame, taken from the cache or drawn.
  int DrawnObjectsCount() const { return FDrawnObjectsCount; }
  // Objects drawn since the view was made: a frame taken from the cache of
  // the layer adds none.
  std::int64_t DrawCalls() const { return FDrawCalls; }
  // Objects whose painted bounds miss the area being drawn are left out;
  // tests turn this off to compare with every object drawn.
  void SetCullObjects(bool Value) { FCullObjects = Value; }
  // The back buffer's frame with the objects is kept and taken again while
  // neither the objects nor the view changed and the picture renders to
  // the same pixels; off, every frame draws the objects.
  bool CacheObjects() const { return FCacheObjects; }
  void SetCacheObjects(bool Value);
  bool ObjectsHidden() const { return FObjectsHidden; }
  void SetObjectsHidden(bool Value);
  bool ZoomObjectsWidth() const { return FZoomObjectsWidth; }
  void SetZoomObjectsWidth(bool Value);
  TResampleFilter BitmapResampleFilter() const { return FBitmapResampleFilter; }
  void SetBitmapResampleFilter(TResampleFilter Value);
  bool ShareBitmaps = true;
  int GripSize = 4; // half size, screen pixels
  int GripPenWidth = 1;
  platform::TPenStyle GripPenStyle = platform::psSolid;

  // ---- Interaction.
  TRvVectInteract VectInteract() const { return FVectInteract; }
  void SetVectInteract(TRvVectInteract Value);
  // Drops what the mouse was making and commits a text being edited; a
  // half-built polyline or gauge stays as it is.
  void EndInteraction();
  // The handle of the text object being edited, -1 none.
  int EditingObject() const { return FEditing; }
  QLineEdit* TextEditor() const { return FEditor; }
  virtual void PlaceTextEditor();
  virtual void DoVectorialChanged();

  // ---- The measure hint.
  bool MeasureHintVisible() const { return FHintVisible; }
  void SetMeasureHintVisible(bool Value);
  // X or Y equal to -1000000 keep the last position.
  void ShowMeasureHint(int X, int Y);
  void RemoveMeasureHint();
  void RefreshMeasureHint();
  // The hint box on the client while it is shown, else empty.
  QRect MeasureHintRect() const { return FHintShown ? FHintRect : QRect(); }
  const std::string& MeasureHintText() const { return FHintText; }
  double LastMeasure() const { return FLastValue; }
  const platform::TFont& MeasureHintFont() const { return FHintFont; }
  void SetMeasureHintFont(const platform::TFont& Value);
  platform::TBrush MeasureHintBrush; // 0x60FFFF, solid
  platform::TColor MeasureHintColor1 = platform::clWhite;
  platform::TColor MeasureHintColor2 = platform::clGray;

  // ---- Events.
  TNotifyEvent OnSelectObject;
  TRvVMeasureHintEvent OnMeasureHint;
  TNotifyEvent OnVectorialChanged;
  TRvVDragLenEndEvent OnDragLenEnd;
  TRvVNewObject OnNewObject;
  TRvVObjectMoveResizeEvent OnObjectMoveResize;
  TRvVObjectClickEvent OnObjectClick;
  TRvVObjectClickEvent OnObjectDblClick;
  TRvVObjectClickEvent OnObjectOver;

  // ---- The view's operations, with the layer's part added.
  void Assign(const TRastrumView* Source) override;
  using TRastrumView::Assign;
  void Assign(std::nullptr_t) { Assign(static_cast<const TRastrumView*>(nullptr)); }
  void Update() override;
  void SetDpiX(int Value) override;
  void SetDpiY(int Value) override;
  void SetMouseInteract(TRvMouseInteract Value) override;
  void OffsetMousePoints(int DX, int DY) override;
  void DrawImageTo(platform::TBitmap& Dest, const platform::TRect* Clip = nullptr) override;
  void PaintTo(platform::TCanvas& Canvas, platform::TBitmap* Bitmap) override;
  void MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y) override;
  void MouseMove(platform::TShiftState Shift, int X, int Y) override;
  void MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y) override;
  void KeyDown(int& Key, platform::TShiftState Shift) override;

protected:
  void Paint() override;
  void DoViewChange(int Change) override;
  bool CanScrollBackBuffer(int ShiftX, int ShiftY) const override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  class TEditorFilter;
  struct TClientBox {
    double X1, Y1, X2, Y2;
  };
  struct TFontEntry {
    QFont Font;
    QFontMetrics Metrics{QFont()};
  };
  // A stored font at a height in client pixels (negative: points).
  struct TFontKey {
    TRvLogFont Font;
    int Pixels = 0;
    bool operator==(const TFontKey&) const = default;
  };
  struct TFontKeyHash {
    std::size_t operator()(const TFontKey& K) const;
  };
  struct TTextKey {
    std::string Text;
    QRgb Color;
    TFontKey Font;
    double Degrees; // counter-clockwise on the screen
    bool operator==(const TTextKey&) const = default;
  };
  // A text as an image, turned as asked: Origin is where the text's
  // top-left corner lies in it; Width and Height are the text's own.
  struct TTextImage {
    QImage Image;
    QPoint Origin;
    int Width = 0, Height = 0, Ascent = 0;
  };
  struct TTextKeyHash {
    std::size_t operator()(const TTextKey& K) const;
  };
  // Picture to client: (X + OX) x Z + OffX, as BitmapToScreenX maps.
  struct TMapping {
    double OX, OY, Z, OffX, OffY;
    double X(double V) const { return (V + OX) * Z + OffX; }
    double Y(double V) const { return (V + OY) * Z + OffY; }
    int IX(double V) const;
    int IY(double V) const;
  };
  struct TPass;
  // What the objects' pixels in a frame depend on, besides the objects and
  // the pixels under them.
  struct TLayerKey {
    std::uint64_t Version = 0;
    double OX = 0, OY = 0, Z = 0, OffX = 0, OffY = 0;
    int Width = 0, Height = 0, Format = 0;
    int Editing = -1, DpiX = 0, DpiY = 0, Precision = 0, Digits = 0;
    double MeasureScale = 0;
    bool Cull = true, ZoomWidth = true;
    TResampleFilter Filter = rfNone;
    bool operator==(const TLayerKey&) const = default;
  };
  // The last whole frame of the back buffer: the picture's pixels under the
  // objects and the same pixels with them, within the rectangle the drawn
  // objects can reach (outside it they change nothing).
  struct TLayerCache {
    bool Valid = false;
    TLayerKey Key;
    QRect Reach;
    QImage Under, Composed;
    int Drawn = 0;
  };

  // Store (rastrumvect.cpp).
  const TRvVObject* Record(int hobj) const;
  int Resolve(int hobj) const;
  void ReleaseBitmap(int Index);
  int FindOrAddBitmap(const platform::TBitmap& Bitmap, const TRvMask* Mask);
  int AddEntry(std::unique_ptr<platform::TBitmap> Bitmap, std::unique_ptr<TRvMask> Mask);
  int CopyEntry(int Index);
  void RecomputeUnits();
  double PicturePerClient() const { return 100.0 / Zoom(); }
  double DragMeasure(int X, int Y) const;
  static bool ShapeBox(const TRvVObject& O, double& X1, double& Y1, double& X2, double& Y2);

  // Drawing (rastrumvect_draw.cpp).
  TMapping Mapping() const;
  int ClientX(double X) const;
  int ClientY(double Y) const;
  TClientBox ClientBox(const TRvVObject& O, const TMapping& M) const;
  TClientBox ClientBox(const TRvVObject& O) const { return ClientBox(O, Mapping()); }
  int PenWidthOf(const TRvVObject& O, double Z) const;
  QRect PaintedBounds(const TRvVObject& O, const TMapping& M) const;
  // The client pixels an object can paint around its box (pen, arrow heads,
  // labels), and a quick test on the unrounded box that errs only towards
  // keeping the object.
  double PaintedMargin(const TRvVObject& O, double Z) const;
  bool SurelyOutside(const TRvVObject& O, const TMapping& M, const QRect& Area) const;
  static TFontKey LabelKey();
  const TFontEntry& FontFor(const TFontKey& Key) const;
  const QFontMetrics& LabelMetrics() const;
  int LabelMargin() const;
  const TTextImage& TextImage(const TFontKey& Font, const std::string& Text, platform::TColor Color,
                              double Degrees) const;
  void DrawText(TPass& S, const TFontKey& Font, const std::string& Text, platform::TColor Color, QPointF At,
                double Degrees) const;
  // Keep: a whole frame of the back buffer, which may come from the cache.
  void DrawObjectPass(QPainter& P, QImage* Image, const QRect& Clip, bool Grips, bool Keep = false);
  // The visible objects in Area in drawing order, and the client rectangle
  // within Area they can paint.
  void ObjectsIn(const TMapping& M, const QRect& Area, std::vector<int>& Handles, QRect& Reach) const;
  TLayerKey LayerKey(const QImage& Image, const TMapping& M) const;
  bool ReuseLayer(QImage& Image) const;
  // Whatever an object's drawing depends on changed (or may change through
  // a pointer handed out): the kept frame is stale.
  void ObjectsChanged() { ++FObjectsVersion; }
  void DrawObject(TPass& S, const TRvVObject& O, int hobj);
  // One object alone onto a painter of the client (a preview).
  void DrawObjectPreview(QPainter& P, const TRvVObject& O);
  void DrawArrowHead(TPass& S, QPointF End, QPointF Other, TRvArrowShape Shape, double W, double H);
  void DrawBitmapObject(TPass& S, const TRvVObject& O);
  void DrawTextObject(TPass& S, const TRvVObject& O);
  void DrawRuler(TPass& S, const TRvVObject& O);
  void DrawGauge(TPass& S, const TRvVObject& O);

  // Overlays (rastrumvect_overlay.cpp).
  std::vector<std::pair<int, QPoint>> ShownGrips() const;
  int GripHalf() const;
  void DrawGrips(QPainter& P);
  std::vector<QRect> GripRects() const;
  void InvalidateGrips();
  void InvalidateRects(const std::vector<QRect>& Rects);
  void DrawOverlays(QPainter& P);
  void SetOverlay(int Kind, QPoint A, QPoint B);
  std::vector<QRect> OverlayRects() const;
  TRvVObject PreviewObject() const;

  // Interaction (rastrumvect_interact.cpp).
  void InstallEditorFilter();
  void ClampToPicture(int& X, int& Y) const;
  QPoint ToPicture(QPoint P) const;
  // Client positions of the grips 1 to 5 (index 0 unused).
  void GripPositions(const TRvVObject& O, QPoint (&Grips)[6]) const;
  bool BoxOnScreen(const TRvVObject& O) const;
  int GripHit(int X, int Y) const;
  int AddBuiltObject(TRvVObjKind Kind);
  void FinishBuilt(int& Handle);
  void AngleClick(QPoint At);
  void PolylineClick(QPoint At, bool Double);
  void SelectModeDown(platform::TShiftState Shift, QPoint At);
  void GripDragTo(platform::TShiftState Shift, QPoint At);
  void RubberBandTo(platform::TShiftState Shift, QPoint At);
  void MakingMove(platform::TShiftState Shift, QPoint At);
  void FinishMaking();
  void SelectClick(platform::TShiftState Shift, QPoint At);
  void StartEditing(int hobj);
  void EndEditing();
  void EditorChanged();
  int PictureWidth(int ClientPixels) const;

  // Store.
  std::vector<TRvVObject> FObjects;
  std::vector<int> FOrder;
  std::vector<int> FSelected;
  std::vector<bool> FSelFlags; // per handle: in FSelected
  std::vector<TRvVBitmapEntry> FBitmaps;
  TRvVObject FTemplate;
  double FMeasureScale = 1.0;
  double FUnitPerPixelX = 1.0, FUnitPerPixelY = 1.0;
  TRvUnits FMUnit = rvuPIXELS;
  int FFloatDigits = 2;
  int FFloatPrecision = 15;
  bool FObjectsHidden = false;
  bool FZoomObjectsWidth = true;
  TResampleFilter FBitmapResampleFilter = rfNone;
  int FDrawnObjectsCount = 0;
  std::int64_t FDrawCalls = 0;
  bool FCullObjects = true;
  bool FCacheObjects = true;
  std::uint64_t FObjectsVersion = 0;
  TLayerCache FLayer;
  bool FDestroying = false;
  // The picture origin of the last render, to tell whether a scroll moves
  // every object by whole pixels (then the back buffer's pixels can move).
  int FRenderedOriginX = 0, FRenderedOriginY = 0;
  bool FRendered = false;
  mutable std::unordered_map<TFontKey, TFontEntry, TFontKeyHash> FFonts;
  mutable std::unordered_map<TTextKey, TTextImage, TTextKeyHash> FTexts;
  mutable std::int64_t FTextBytes = 0;
  mutable int FLabelMargin = -1;

  // Interaction state.
  TRvVectInteract FVectInteract = 0;
  int FMaking = rvokNone;  // the kind being made; rvokLine also for the drag measure
  bool FMeasuring = false; // the drag measure, not a line
  int FPolyline = -3;      // being built
  int FAngle = -3;         // being built
  int FGrip = 0;           // 1 top-left, 2 bottom-right, 3 move, 4 top-right, 5 bottom-left
  bool FMoving = false;
  bool FButtonDown = false;
  bool FBand = false;
  int FAppliedX = 0, FAppliedY = 0;
  QPoint FDown, FCur, FRaw;
  int FEditing = -1;
  QLineEdit* FEditor = nullptr;

  // Overlays: 0 none, 1 inverted line, 2 inverted rectangle, 3 inverted
  // ellipse, 4 preview ruler, 5 preview gauge.
  int FOverlay = 0;
  QPoint FOverlayA, FOverlayB;

  // Measure hint.
  bool FHintVisible = false;
  bool FHintShown = false;
  QPoint FHintPos{0, 0};
  QRect FHintRect;
  std::string FHintText;
  double FLastValue = 0;
  platform::TFont FHintFont;
};

} // namespace rv

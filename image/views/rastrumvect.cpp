// The vector layer's object store, shared bitmaps, template, units and
// measure texts, hit tests, and the view operations it extends.
#include "image/views/rastrumvect.h"

#include <QApplication>
#include <QIcon>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>

#include "image/io/rvioparams.h"
#include "image/model/rvbits.h"
#include "image/model/rvclipboard.h"
#include "image/model/rvhelpers.h"
#include "image/views/rvviewmath.h"

namespace rv {

namespace {

// Vertices of the polygon that stands for an ellipse in hit tests: beyond
// this a huge ellipse would cost seconds per click for no visible gain.
constexpr std::int64_t kMaxEllipseVertices = 65536;

bool HasOrderedCorners(TRvVObjKind Kind) {
  return Kind != rvokLine && Kind != rvokRuler && Kind != rvokPolyline;
}

// Coordinates handed to the distance helpers: within a billion, their
// squared differences stay inside 64 bits.
constexpr int kFarCoordinate = 1000000000;
int Cut(std::int64_t V) { return static_cast<int>(std::clamp<std::int64_t>(V, -kFarCoordinate, kFarCoordinate)); }

// 0 when every value is 0, 255 when every value is 255, 1 otherwise.
int ClassifyMask(const TRvMask& Mask) {
  bool zero = true, full = true;
  for (int y = 0; y < Mask.Height() && (zero || full); ++y) {
    const std::uint8_t* row = Mask.ScanLine(y);
    for (int x = 0; x < Mask.Width(); ++x) {
      zero = zero && row[x] == 0;
      full = full && row[x] == 255;
    }
  }
  return zero ? 0 : (full ? 255 : 1);
}

bool SameMask(const TRvMask& A, const TRvMask& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height()) return false;
  for (int y = 0; y < A.Height(); ++y)
    if (std::memcmp(A.ScanLine(y), B.ScanLine(y), static_cast<std::size_t>(A.Width())) != 0) return false;
  return true;
}

// An 8-bit transparency of Width x Height from Mask (1 bit: a set bit is
// opaque), or opaque when Mask is missing, of another size or transparent
// everywhere.
std::unique_ptr<TRvMask> PrepareMask(const TRvMask* Mask, int Width, int Height) {
  auto m = std::make_unique<TRvMask>();
  m->Allocate(Width, Height, 8);
  bool copied = false;
  if (Mask != nullptr && Mask->Width() == Width && Mask->Height() == Height &&
      (Mask->BitCount() == 8 || Mask->BitCount() == 1)) {
    for (int y = 0; y < Height; ++y) {
      std::uint8_t* d = m->ScanLine(y);
      const std::uint8_t* s = Mask->ScanLine(y);
      for (int x = 0; x < Width; ++x)
        d[x] = Mask->BitCount() == 8 ? s[x] : ((s[x >> 3] & (0x80u >> (x & 7))) != 0 ? 255 : 0);
    }
    copied = ClassifyMask(*m) != 0;
  }
  if (!copied) m->Fill(255);
  return m;
}

} // namespace

// ------------------------------------------------------------ helpers

int RvPlacedPoints(const TRvVObject& Gauge) {
  int placed = 0;
  while (placed < 3 && (Gauge.AnglePoints[static_cast<std::size_t>(placed)].X != RvNotPlaced ||
                        Gauge.AnglePoints[static_cast<std::size_t>(placed)].Y != RvNotPlaced))
    ++placed;
  return placed;
}

std::string TRvLogFont::FaceName() const {
  return std::string(lfFaceName, strnlen(lfFaceName, sizeof lfFaceName));
}

void TRvLogFont::SetFaceName(const std::string& Name) {
  std::memset(lfFaceName, 0, sizeof lfFaceName);
  std::memcpy(lfFaceName, Name.data(), std::min(Name.size(), sizeof lfFaceName - 1));
}

const char* RvUnitName(TRvUnits Unit) {
  static const char* const names[] = {"pixels", "inches", "km", "mt", "cm", "mm", "microns", "nanometers"};
  return Unit <= rvuNANOMETERS ? names[Unit] : "";
}

double RvUnitPerPixel(TRvUnits Unit, int Dpi, double Scale) {
  if (Unit == rvuPIXELS) return Scale;
  if (Dpi <= 0) return 0;
  static const double factors[] = {1, 1, 2.54 / 100000, 2.54 / 100, 2.54, 2.54 * 10, 2.54 * 10000,
                                   2.54 * 10000000};
  return 1.0 / Dpi * (Unit <= rvuNANOMETERS ? factors[Unit] : 1) * Scale;
}

std::string RvFloatText(double Value, int Precision, int Digits) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value > 0 ? "INF" : "-INF";
  Precision = std::clamp(Precision, 1, 17);
  Digits = std::clamp(Digits, 0, 18);
  char buffer[400];
  // Rounded to the precision first, as the library's formatting does.
  auto r = std::to_chars(buffer, buffer + sizeof buffer, Value, std::chars_format::scientific, Precision - 1);
  double rounded = Value;
  std::from_chars(buffer, r.ptr, rounded);
  const double magnitude = std::fabs(rounded);
  if (magnitude >= 1 && std::floor(std::log10(magnitude)) + 1 > Precision) {
    r = std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::scientific, Precision - 1);
    return std::string(buffer, r.ptr);
  }
  r = std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, Digits);
  std::string text(buffer, r.ptr);
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

double RvGaugeAngle(platform::TPoint A, platform::TPoint B, platform::TPoint C) {
  auto length = [](platform::TPoint P, platform::TPoint Q) {
    const double d = std::hypot(static_cast<double>(Q.X) - P.X, static_cast<double>(Q.Y) - P.Y);
    return d == 0 ? 1.0 : d;
  };
  const double a = length(B, C), b = length(A, B), c = length(A, C);
  const double cosine = (b * b + a * a - c * c) / (2 * a * b);
  double angle = cosine >= -1 && cosine <= 1 ? std::acos(cosine) : 0;
  // The orientation test on picture coordinates as they are (Y down): a
  // negative turn from A over B to C is counter-clockwise on the screen,
  // where the arm BC lies beyond a straight angle from BA.
  const double turn = (static_cast<double>(B.X) - A.X) * (static_cast<double>(C.Y) - A.Y) -
                      (static_cast<double>(B.Y) - A.Y) * (static_cast<double>(C.X) - A.X);
  if (turn < 0) angle = 2 * std::numbers::pi - angle;
  return angle / std::numbers::pi * 180;
}

bool RvGraduation(double UnitPerClientPixel, double& Step, double& UnitsPerTick) {
  if (!(UnitPerClientPixel > 0) || !std::isfinite(UnitPerClientPixel)) return false;
  Step = 1 / (UnitPerClientPixel * 10);
  UnitsPerTick = 0.1;
  if (!std::isfinite(Step)) return false;
  // At most one tick per pixel: in microns a tenth of a unit can be a
  // millionth of a pixel, and the ruler would draw millions of ticks.
  while (Step < 1) {
    Step *= 10;
    UnitsPerTick *= 10;
  }
  return true;
}

// ------------------------------------------------------------ construction

TRastrumVect::TRastrumVect(QWidget* AOwner) : TRastrumView(AOwner) {
  FEditor = new QLineEdit(this);
  FEditor->hide();
  FEditor->setFrame(false);
  QObject::connect(FEditor, &QLineEdit::textChanged, this, [this] { EditorChanged(); });
  FHintFont.Color = platform::clBlack;
  FHintFont.Bold = true;
  MeasureHintBrush.Color = 0x60FFFF;
  MeasureHintBrush.Style = platform::bsSolid;
  // The template starts from the view's canvas font with the face "Arial".
  const platform::TFont canvasFont;
  FTemplate.PenColor = canvasFont.Color;
  TRvLogFont font;
  font.lfHeight = -RvMulDiv(canvasFont.Size, RvDefaultDpiY > 0 ? RvDefaultDpiY : 96, 72);
  font.lfWeight = canvasFont.Bold ? 700 : 400;
  font.lfCharSet = 1;
  font.SetFaceName("Arial");
  FTemplate.Font = font;
  FTemplate.RulerUnit = FMUnit;
  RecomputeUnits();
  SetObjBitmapIcon(-1, QStyle::SP_MessageBoxCritical, 64, 64);
  InstallEditorFilter();
}

TRastrumVect::~TRastrumVect() {
  FDestroying = true;
  EndEditing();
  delete FEditor;
  FEditor = nullptr;
}

// ------------------------------------------------------------ store

int TRastrumVect::Resolve(int hobj) const {
  const int count = ObjectsCount();
  if (hobj == -2) return count > 0 ? count - 1 : -3;
  // A handle at or past the count, or below -4, names no record.
  if (hobj == -1 || (hobj >= 0 && hobj < count)) return hobj;
  return -3;
}

const TRvVObject* TRastrumVect::Record(int hobj) const {
  const int h = Resolve(hobj);
  if (h == -1) return &FTemplate;
  return h >= 0 ? &FObjects[static_cast<std::size_t>(h)] : nullptr;
}

TRvVObject* TRastrumVect::ObjectAt(int hobj) {
  // The object may be changed through the pointer: the kept frame is stale.
  if (Resolve(hobj) >= 0) ObjectsChanged();
  return const_cast<TRvVObject*>(Record(hobj));
}

int TRastrumVect::AddNewObject(const TRvVObject& Obj) {
  TRvVObject o = Obj;
  o.BitmapIndex = -1;
  o.Text.reset();
  o.Font.reset();
  const auto& entries = FBitmaps;
  const bool validEntry = Obj.BitmapIndex >= 0 && Obj.BitmapIndex < static_cast<int>(entries.size()) &&
                          entries[static_cast<std::size_t>(Obj.BitmapIndex)].Bitmap != nullptr;
  if (Obj.Kind == rvokBitmap && validEntry) {
    if (ShareBitmaps) {
      ++FBitmaps[static_cast<std::size_t>(Obj.BitmapIndex)].RefCount;
      o.BitmapIndex = Obj.BitmapIndex;
    } else {
      o.BitmapIndex = CopyEntry(Obj.BitmapIndex);
    }
  }
  if (Obj.Kind == rvokText) {
    o.Text = Obj.Text.value_or(std::string());
    o.Font = Obj.Font;
  }
  o.Name = Obj.Name.value_or(std::string());
  if (HasOrderedCorners(o.Kind)) RvOrderRect(o.Left, o.Top, o.Right, o.Bottom);
  if (o.Kind != rvokPolyline) {
    o.Points.clear();
    o.BaseLeft = o.BaseTop = o.BaseRight = o.BaseBottom = 0;
  }
  // Room grows in blocks, as the handles stay indexes into one array.
  if (FObjects.size() % 512 == 0) FObjects.reserve(FObjects.size() + 522);
  if (FOrder.size() % 512 == 0) FOrder.reserve(FOrder.size() + 522);
  FObjects.push_back(std::move(o));
  FSelFlags.push_back(false);
  ObjectsChanged();
  const int handle = ObjectsCount() - 1;
  FOrder.push_back(handle);
  return handle;
}

int TRastrumVect::AddEntry(std::unique_ptr<platform::TBitmap> Bitmap, std::unique_ptr<TRvMask> Mask) {
  TRvVBitmapEntry entry;
  entry.MaskKind = ClassifyMask(*Mask) == 255 ? 255 : 1;
  entry.Bitmap = std::move(Bitmap);
  entry.Mask = std::move(Mask);
  entry.RefCount = 1;
  for (std::size_t i = 0; i < FBitmaps.size(); ++i)
    if (FBitmaps[i].Bitmap == nullptr) {
      FBitmaps[i] = std::move(entry);
      return static_cast<int>(i);
    }
  FBitmaps.push_back(std::move(entry));
  return static_cast<int>(FBitmaps.size()) - 1;
}

int TRastrumVect::CopyEntry(int Index) {
  const TRvVBitmapEntry& e = FBitmaps[static_cast<std::size_t>(Index)];
  auto mask = std::make_unique<TRvMask>();
  mask->Assign(e.Mask.get());
  return AddEntry(RvCloneBitmap(e.Bitmap.get()), std::move(mask));
}

int TRastrumVect::FindOrAddBitmap(const platform::TBitmap& Bitmap, const TRvMask* Mask) {
  // Pictures are held in the two depths the object pass draws.
  std::unique_ptr<platform::TBitmap> converted;
  const platform::TBitmap* source = &Bitmap;
  if (Bitmap.PixelFormat() != platform::pf1bit && Bitmap.PixelFormat() != platform::pf24bit) {
    converted = RvCloneBitmap(&Bitmap);
    converted->SetPixelFormat(platform::pf24bit);
    source = converted.get();
  }
  std::unique_ptr<TRvMask> mask = PrepareMask(Mask, source->Width(), source->Height());
  if (ShareBitmaps)
    for (int i = static_cast<int>(FBitmaps.size()) - 1; i >= 0; --i) {
      TRvVBitmapEntry& e = FBitmaps[static_cast<std::size_t>(i)];
      // The transparency must match too, or this object would show
      // another's.
      if (e.Bitmap != nullptr && RvSameBitmapPixels(e.Bitmap.get(), source) && SameMask(*e.Mask, *mask)) {
        ++e.RefCount;
        return i;
      }
    }
  if (!converted) converted = RvCloneBitmap(&Bitmap);
  return AddEntry(std::move(converted), std::move(mask));
}

void TRastrumVect::ReleaseBitmap(int Index) {
  if (Index < 0 || Index >= static_cast<int>(FBitmaps.size())) return;
  TRvVBitmapEntry& e = FBitmaps[static_cast<std::size_t>(Index)];
  if (e.Bitmap == nullptr) return;
  if (--e.RefCount <= 0) {
    e.Bitmap.reset();
    e.Mask.reset();
    e.RefCount = 0;
  }
}

void TRastrumVect::SetObjBitmap(int hobj, const platform::TBitmap* Bitmap, const TRvMask* Mask) {
  if (Record(hobj) == nullptr) return;
  // The new entry is taken before the old one is let go: both may be one.
  const int entry = Bitmap != nullptr && !Bitmap->Empty() ? FindOrAddBitmap(*Bitmap, Mask) : -1;
  TRvVObject* o = ObjectAt(hobj);
  const int old = o->BitmapIndex;
  o->BitmapIndex = entry;
  ReleaseBitmap(old);
}

void TRastrumVect::SetObjBitmapIcon(int hobj, QStyle::StandardPixmap IconID, int Width, int Height) {
  if (Width <= 0 || Height <= 0) return;
  platform::TBitmap bitmap(Width, Height, platform::pf24bit);
  const QPixmap pixmap = style()->standardIcon(IconID).pixmap(Width, Height);
  bitmap.Canvas().Paint([&](QPainter& P) { P.drawPixmap(QRect(0, 0, Width, Height), pixmap); });
  SetObjBitmap(hobj, &bitmap, nullptr);
  if (hobj != -1) Update();
}

void TRastrumVect::SetObjBitmapIndex(int hobj, int Index) {
  TRvVObject* o = ObjectAt(hobj);
  if (o == nullptr) return;
  int entry = -1;
  if (Index >= 0) {
    // An index that names no entry would point the object at nothing.
    if (Index >= static_cast<int>(FBitmaps.size()) || FBitmaps[static_cast<std::size_t>(Index)].Bitmap == nullptr)
      return;
    if (ShareBitmaps) {
      ++FBitmaps[static_cast<std::size_t>(Index)].RefCount;
      entry = Index;
    } else {
      entry = CopyEntry(Index);
    }
  }
  const int old = o->BitmapIndex;
  o->BitmapIndex = entry;
  ReleaseBitmap(old);
}

void TRastrumVect::SetObjFont(int hobj, const platform::TFont& Font) {
  TRvVObject* o = ObjectAt(hobj);
  if (o == nullptr) return;
  TRvLogFont f = o->Font.value_or(TRvLogFont{});
  f.lfHeight = -RvMulDiv(Font.Size, RvDefaultDpiY > 0 ? RvDefaultDpiY : 96, 72);
  f.lfWeight = Font.Bold ? 700 : 400;
  f.lfItalic = Font.Italic;
  f.lfUnderline = Font.Underline;
  f.lfStrikeOut = Font.StrikeOut;
  f.SetFaceName(Font.Name);
  o->Font = f;
  o->PenColor = Font.Color;
  if (hobj != -1) Update();
}

void TRastrumVect::AddPolylinePoint(int hobj, int X, int Y) {
  TRvVObject* o = ObjectAt(hobj);
  if (o == nullptr) return;
  if (!o->Points.empty() && o->Points.back().X == X && o->Points.back().Y == Y) return;
  o->Points.push_back({X, Y});
  o->Left = std::min(o->Left, X);
  o->Top = std::min(o->Top, Y);
  o->Right = std::max(o->Right, X);
  o->Bottom = std::max(o->Bottom, Y);
  o->BaseLeft = o->Left;
  o->BaseTop = o->Top;
  o->BaseRight = o->Right;
  o->BaseBottom = o->Bottom;
}

void TRastrumVect::RemoveAllObjects() {
  EndInteraction();
  InvalidateGrips();
  FObjects.clear();
  FOrder.clear();
  FSelected.clear();
  FSelFlags.clear();
  FBitmaps.clear();
  FTemplate.BitmapIndex = -1;
  ObjectsChanged();
  DoVectorialChanged();
  Update();
}

void TRastrumVect::CopyObjectsTo(TRastrumVect* Dest) const {
  if (Dest == nullptr || Dest == this) return;
  // Through a packet, so that the bitmaps come along into the other view's
  // own list instead of pointing at entries of this one.
  Dest->AddPacket(ObjectsToPacket(false));
  Dest->Update();
}

TRvVectPacket TRastrumVect::ObjectsToPacket(bool SelectedOnly) const {
  TRvVectPacket packet;
  std::vector<int> map(FBitmaps.size(), -1);
  for (int h : FOrder) {
    if (SelectedOnly && !FSelFlags[static_cast<std::size_t>(h)]) continue;
    TRvVObject o = FObjects[static_cast<std::size_t>(h)];
    const int b = o.BitmapIndex;
    o.BitmapIndex = -1;
    if (b >= 0 && b < static_cast<int>(FBitmaps.size()) && FBitmaps[static_cast<std::size_t>(b)].Bitmap) {
      int& slot = map[static_cast<std::size_t>(b)];
      if (slot < 0) {
        const TRvVBitmapEntry& e = FBitmaps[static_cast<std::size_t>(b)];
        TRvVBitmapEntry copy;
        copy.Bitmap = RvCloneBitmap(e.Bitmap.get());
        copy.Mask = std::make_unique<TRvMask>();
        copy.Mask->Assign(e.Mask.get());
        copy.MaskKind = e.MaskKind;
        copy.RefCount = 1;
        packet.Bitmaps.push_back(std::move(copy));
        slot = static_cast<int>(packet.Bitmaps.size()) - 1;
      }
      o.BitmapIndex = slot;
    }
    packet.Objects.push_back(std::move(o));
  }
  return packet;
}

int TRastrumVect::AddPacket(const TRvVectPacket& Packet) {
  const int first = Packet.Objects.empty() ? -3 : ObjectsCount();
  // Each packet bitmap is taken once (a hold), then every object using it
  // takes its own reference; the holds are let go at the end.
  std::vector<int> held(Packet.Bitmaps.size(), -2);
  for (const TRvVObject& source : Packet.Objects) {
    TRvVObject o = source;
    const int b = source.BitmapIndex;
    o.BitmapIndex = -1;
    if (b >= 0 && b < static_cast<int>(Packet.Bitmaps.size()) && Packet.Bitmaps[static_cast<std::size_t>(b)].Bitmap) {
      int& slot = held[static_cast<std::size_t>(b)];
      const TRvVBitmapEntry& e = Packet.Bitmaps[static_cast<std::size_t>(b)];
      if (slot == -2) slot = FindOrAddBitmap(*e.Bitmap, e.Mask.get());
      o.BitmapIndex = slot;
    }
    AddNewObject(o);
  }
  for (int slot : held) ReleaseBitmap(slot);
  return first;
}

// ------------------------------------------------------------ selection

void TRastrumVect::SelectObject(int hobj) {
  const int h = Resolve(hobj);
  // The handle -2 stands for is stored, and a handle already selected is
  // left alone: twice in the list, a move would shift it twice per step.
  if (h >= 0 && !FSelFlags[static_cast<std::size_t>(h)] &&
      (FObjects[static_cast<std::size_t>(h)].Style & rvosSelectable) != 0) {
    InvalidateGrips();
    FSelected.push_back(h);
    FSelFlags[static_cast<std::size_t>(h)] = true;
    InvalidateGrips();
  }
  if (OnSelectObject) OnSelectObject(this);
}

bool TRastrumVect::IsSelected(int hobj) const {
  const int h = Resolve(hobj);
  return h >= 0 && FSelFlags[static_cast<std::size_t>(h)];
}

void TRastrumVect::UnselectObject(int hobj) {
  const int h = Resolve(hobj);
  if (h < 0 || !FSelFlags[static_cast<std::size_t>(h)]) return;
  InvalidateGrips();
  FSelected.erase(std::find(FSelected.begin(), FSelected.end(), h));
  FSelFlags[static_cast<std::size_t>(h)] = false;
  InvalidateGrips();
  if (OnSelectObject) OnSelectObject(this);
}

void TRastrumVect::UnselectAll() {
  InvalidateGrips();
  for (int h : FSelected) FSelFlags[static_cast<std::size_t>(h)] = false;
  FSelected.clear();
  if (OnSelectObject) OnSelectObject(this);
}

// ------------------------------------------------------------ units and texts

void TRastrumVect::RecomputeUnits() {
  FUnitPerPixelX = RvUnitPerPixel(FMUnit, DpiX(), FMeasureScale);
  FUnitPerPixelY = RvUnitPerPixel(FMUnit, DpiY(), FMeasureScale);
}

void TRastrumVect::SetMUnit(TRvUnits Value) {
  FMUnit = Value;
  FTemplate.RulerUnit = Value;
  RecomputeUnits();
  RefreshMeasureHint();
}

void TRastrumVect::SetFloatDigits(int Value) {
  FFloatDigits = Value;
  FLabelMargin = -1;
  RefreshMeasureHint();
}

void TRastrumVect::SetFloatPrecision(int Value) {
  FFloatPrecision = Value;
  FLabelMargin = -1;
  RefreshMeasureHint();
}

void TRastrumVect::SetMeasureScale(double Value) {
  FMeasureScale = Value;
  RecomputeUnits();
  RefreshMeasureHint();
  Update();
}

void TRastrumVect::SetDpiX(int Value) {
  TRastrumView::SetDpiX(Value);
  RecomputeUnits();
  RefreshMeasureHint();
  Update();
}

void TRastrumVect::SetDpiY(int Value) {
  TRastrumView::SetDpiY(Value);
  RecomputeUnits();
  RefreshMeasureHint();
  Update();
}

std::string RvLengthText(double Value, int Precision, int Digits, TRvUnits Unit) {
  std::string text = RvFloatText(Value, Precision, Digits);
  text += ' ';
  text += RvUnitName(Unit);
  return text;
}

std::string TRastrumVect::LengthText(double Value) const {
  return RvLengthText(Value, FFloatPrecision, FFloatDigits, FMUnit);
}

std::string TRastrumVect::AreaText(double Value) const { return LengthText(Value) + "\u00B2"; }

std::string TRastrumVect::AngleText(double Degrees) const {
  return RvFloatText(Degrees, FFloatPrecision, FFloatDigits) + "\u00B0";
}

// ------------------------------------------------------------ measures

double TRastrumVect::MeasureSelectionArea() const {
  const int n = SelectionPointCount();
  const platform::TPoint* p = SelectionPoints();
  if (n <= 2 || p == nullptr) return 0;
  const double k = FUnitPerPixelX * FUnitPerPixelY;
  auto separator = [&](int i) { return p[i].X == RvPolygonSeparator; };
  double total = 0, polygon = 0;
  int start = 0;
  for (int i = 0; i < n; ++i) {
    if (separator(i)) {
      start = i + 1;
      continue;
    }
    if (i == n - 1 || separator(i + 1)) {
      polygon += (static_cast<double>(p[i].X) - p[start].X) * (static_cast<double>(p[start].Y) + p[i].Y) * k;
      // Each polygon counts by its own size, whichever way it was drawn.
      total += std::fabs(polygon);
      polygon = 0;
    } else {
      polygon += (static_cast<double>(p[i].X) - p[i + 1].X) * (static_cast<double>(p[i + 1].Y) + p[i].Y) * k;
    }
  }
  return total / 2;
}

double TRastrumVect::MeasureSelectionPerimeter() const {
  const int n = SelectionPointCount();
  const platform::TPoint* p = SelectionPoints();
  if (n == 0 || p == nullptr) return 0;
  auto segment = [&](platform::TPoint A, platform::TPoint B) {
    const double dx = std::fabs(static_cast<double>(B.X) - A.X) * FUnitPerPixelX;
    const double dy = std::fabs(static_cast<double>(B.Y) - A.Y) * FUnitPerPixelY;
    return std::sqrt(dx * dx + dy * dy);
  };
  auto separator = [&](int i) { return p[i].X == RvPolygonSeparator; };
  double total = 0;
  int start = 0;
  for (int i = 0; i < n; ++i) {
    if (separator(i)) {
      if (i > start) total += segment(p[i - 1], p[start]);
      start = i + 1;
    } else if (i + 1 < n && !separator(i + 1)) {
      total += segment(p[i], p[i + 1]);
    }
  }
  const bool drawing = PolygonEntry();
  int last = n - 1;
  while (last >= 0 && separator(last)) --last;
  if (!drawing && n >= 3 && last >= start) total += segment(p[last], p[start]);
  if (PerimeterToCursor && drawing && last >= 0)
    total += segment(p[last], {ScreenToBitmapX(FRaw.x()), ScreenToBitmapY(FRaw.y())});
  return total;
}

double TRastrumVect::DragMeasure(int X, int Y) const {
  const double s = PicturePerClient();
  const double dx = (X - FDown.x()) * FUnitPerPixelX * s, dy = (Y - FDown.y()) * FUnitPerPixelY * s;
  return std::sqrt(dx * dx + dy * dy);
}

// ------------------------------------------------------------ hit tests

double TRastrumVect::ObjectDistance(const TRvVObject& Obj, int X, int Y) const {
  const int l = Cut(Obj.Left), t = Cut(Obj.Top), r = Cut(Obj.Right), b = Cut(Obj.Bottom);
  X = Cut(X);
  Y = Cut(Y);
  switch (Obj.Kind) {
    case rvokLine:
    case rvokRuler: return RvPointSegmentDistance(X, Y, l, t, r, b);
    case rvokBox:
    case rvokBitmap:
    case rvokText: {
      const bool solid = Obj.Kind != rvokBox || Obj.BrushStyle != platform::bsClear;
      if (solid && RvPointInRectOrdered(X, Y, l, t, r, b)) return 0;
      return std::min({RvPointSegmentDistance(X, Y, l, t, r, t), RvPointSegmentDistance(X, Y, r, t, r, b),
                       RvPointSegmentDistance(X, Y, r, b, l, b), RvPointSegmentDistance(X, Y, l, b, l, t)});
    }
    case rvokEllipse:
    case rvokArc: {
      const std::int64_t rx = (static_cast<std::int64_t>(r) - l) / 2, ry = (static_cast<std::int64_t>(b) - t) / 2;
      const std::int64_t n = static_cast<std::int64_t>(std::min(rx, ry) * 2 * std::numbers::pi) / 8;
      if (n < 2) return 2147483647.0;
      const std::int64_t count = std::min(n, kMaxEllipseVertices);
      const double cx = static_cast<double>(l) + rx, cy = static_cast<double>(t) + ry;
      auto vertex = [&](std::int64_t i) {
        const double a = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(count);
        return platform::TPoint{RvRound(cx + rx * std::cos(a)), RvRound(cy + ry * std::sin(a))};
      };
      double best = RvFarAway;
      platform::TPoint prev = vertex(0);
      for (std::int64_t i = 1; i <= count; ++i) {
        const platform::TPoint next = vertex(i % count);
        best = std::min(best, RvPointSegmentDistance(X, Y, prev.X, prev.Y, next.X, next.Y));
        prev = next;
      }
      return best;
    }
    case rvokPolyline: {
      double x1, y1, x2, y2;
      // Points scaled out of all proportion are never hit.
      if (!ShapeBox(Obj, x1, y1, x2, y2)) return RvFarAway;
      if (std::min(x1, y1) < -kFarCoordinate || std::max(x2, y2) > kFarCoordinate) return 2147483647.0;
      const double bw = static_cast<double>(Obj.BaseRight) - Obj.BaseLeft;
      const double bh = static_cast<double>(Obj.BaseBottom) - Obj.BaseTop;
      const double sx = bw == 0 ? 1.0 : (static_cast<double>(Obj.Right) - Obj.Left) / bw;
      const double sy = bh == 0 ? 1.0 : (static_cast<double>(Obj.Bottom) - Obj.Top) / bh;
      return RvPointPolylineDistance(X, Y, Obj.Points.data(), Obj.PointCount(), sx, sy, Obj.Left, Obj.Top,
                                     Obj.BaseLeft, Obj.BaseTop);
    }
    case rvokAngle: {
      platform::TPoint points[3];
      const int placed = RvPlacedPoints(Obj);
      for (int i = 0; i < placed; ++i)
        points[i] = {Cut(Obj.AnglePoints[static_cast<std::size_t>(i)].X), Cut(Obj.AnglePoints[static_cast<std::size_t>(i)].Y)};
      return RvPointPolylineDistance(X, Y, points, placed, 1, 1, 0, 0, 0, 0);
    }
    default: return -1;
  }
}

// The box of what ObjectDistance measures against, in picture coordinates.
bool TRastrumVect::ShapeBox(const TRvVObject& O, double& X1, double& Y1, double& X2, double& Y2) {
  X1 = std::min(O.Left, O.Right);
  Y1 = std::min(O.Top, O.Bottom);
  X2 = std::max(O.Left, O.Right);
  Y2 = std::max(O.Top, O.Bottom);
  if (O.Kind == rvokAngle) {
    const int placed = RvPlacedPoints(O);
    if (placed == 0) return false;
    X1 = Y1 = 1e300;
    X2 = Y2 = -1e300;
    for (int i = 0; i < placed; ++i) {
      const platform::TPoint& p = O.AnglePoints[static_cast<std::size_t>(i)];
      X1 = std::min(X1, double(p.X));
      Y1 = std::min(Y1, double(p.Y));
      X2 = std::max(X2, double(p.X));
      Y2 = std::max(Y2, double(p.Y));
    }
  } else if (O.Kind == rvokPolyline) {
    // The points mapped into the box: each axis maps by one scale, so the
    // box of the mapped points is the mapped box of the points.
    if (O.Points.empty()) return false;
    auto [minX, maxX] = std::minmax_element(O.Points.begin(), O.Points.end(), [](auto& A, auto& B) { return A.X < B.X; });
    auto [minY, maxY] = std::minmax_element(O.Points.begin(), O.Points.end(), [](auto& A, auto& B) { return A.Y < B.Y; });
    const double bw = static_cast<double>(O.BaseRight) - O.BaseLeft, bh = static_cast<double>(O.BaseBottom) - O.BaseTop;
    const double sx = bw == 0 ? 1.0 : (static_cast<double>(O.Right) - O.Left) / bw;
    const double sy = bh == 0 ? 1.0 : (static_cast<double>(O.Bottom) - O.Top) / bh;
    auto mx = [&](double V) { return std::nearbyint((V - O.BaseLeft) * sx) + static_cast<double>(O.Left); };
    auto my = [&](double V) { return std::nearbyint((V - O.BaseTop) * sy) + static_cast<double>(O.Top); };
    X1 = std::min(mx(minX->X), mx(maxX->X));
    X2 = std::max(mx(minX->X), mx(maxX->X));
    Y1 = std::min(my(minY->Y), my(maxY->Y));
    Y2 = std::max(my(minY->Y), my(maxY->Y));
  }
  return true;
}

int TRastrumVect::FindObjectAt(int X, int Y, bool SelectableOnly, double& Distance) const {
  const int px = ScreenToBitmapX(X), py = ScreenToBitmapY(Y);
  const platform::TRect visible = SourceRect();
  double best = 2147483647.0;
  int found = -3;
  for (auto it = FOrder.rbegin(); it != FOrder.rend(); ++it) {
    const TRvVObject& o = FObjects[static_cast<std::size_t>(*it)];
    // Kinds without a shape are never hit: their distance is no distance.
    if (o.Kind == rvokNone || o.Kind > rvokAngle) continue;
    if (SelectableOnly && (o.Style & rvosSelectable) == 0) continue;
    if (!RvRectsIntersect(o.Left, o.Top, o.Right, o.Bottom, visible.Left, visible.Top, visible.Right - 1,
                          visible.Bottom - 1))
      continue;
    // A shape whose box lies farther than the best so far cannot be
    // strictly nearer.
    double x1, y1, x2, y2;
    if (!ShapeBox(o, x1, y1, x2, y2)) continue;
    const double bx = std::max({0.0, x1 - px, px - x2}), by = std::max({0.0, y1 - py, py - y2});
    if (bx * bx + by * by >= best * best) continue;
    const double d = ObjectDistance(o, px, py);
    if (d >= 0 && d < best) {
      best = d;
      found = *it;
    }
  }
  Distance = best;
  if (found >= 0 && MaxSelectionDistance >= 0 && best >= MaxSelectionDistance * PicturePerClient()) return -3;
  return found;
}

// ------------------------------------------------------------ view operations

void TRastrumVect::Assign(const TRastrumView* Source) {
  TRastrumView::Assign(Source);
  if (Source == this) return;
  if (Source == nullptr) {
    EndInteraction();
    RemoveAllObjects();
    return;
  }
  if (const auto* vect = dynamic_cast<const TRastrumVect*>(Source)) {
    EndInteraction();
    RemoveAllObjects();
    vect->CopyObjectsTo(this);
    FMeasureScale = vect->FMeasureScale;
    RecomputeUnits();
    DoVectorialChanged();
    Update();
  }
}

void TRastrumVect::Update() {
  TRastrumView::Update();
  // Clicks map through the visible rectangle: it follows every layout
  // change at once, not only at the next paint.
  ComputeVisibleRect();
  PlaceTextEditor();
}

void TRastrumVect::SetMouseInteract(TRvMouseInteract Value) {
  TRastrumView::SetMouseInteract(Value);
  if (Value == 0) return;
  FVectInteract &= mviMeasureArea | mviMeasurePerimeter;
  EndInteraction();
}

void TRastrumVect::DoViewChange(int Change) {
  TRastrumView::DoViewChange(Change);
  // The editor follows the new zoom and scroll (placing it again keeps the
  // user's typing and its undo).
  if (FEditing >= 0) PlaceTextEditor();
}

void TRastrumVect::OffsetMousePoints(int DX, int DY) {
  TRastrumView::OffsetMousePoints(DX, DY);
  FCur -= QPoint(DX, DY);
  FDown -= QPoint(DX, DY);
}

void TRastrumVect::resizeEvent(QResizeEvent* Event) {
  TRastrumView::resizeEvent(Event);
  EndInteraction();
  Update();
}

void TRastrumVect::DoVectorialChanged() {
  if (OnVectorialChanged) OnVectorialChanged(this);
}

void TRastrumVect::SetObjectsHidden(bool Value) {
  if (Value == FObjectsHidden) return;
  FObjectsHidden = Value;
  Update();
}

void TRastrumVect::SetZoomObjectsWidth(bool Value) {
  if (Value == FZoomObjectsWidth) return;
  FZoomObjectsWidth = Value;
  Update();
}

void TRastrumVect::SetBitmapResampleFilter(TResampleFilter Value) {
  if (Value == FBitmapResampleFilter) return;
  FBitmapResampleFilter = Value;
  Update();
}

void TRastrumVect::SetVectInteract(TRvVectInteract Value) { FVectInteract = Value; }

void TRastrumVect::SetCacheObjects(bool Value) {
  FCacheObjects = Value;
  if (!Value) FLayer = TLayerCache();
}

} // namespace rv

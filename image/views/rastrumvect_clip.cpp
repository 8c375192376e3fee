// Vector objects on the clipboard: the byte layout of a packet of objects
// with the bitmaps they use, its reader (which trusts nothing of what it
// reads) and the copy and paste of the layer.
//
// Layout, little-endian: "RVEC", version 1 (16 bits), 0 (16 bits), bitmap
// count and object count (32 bits each). Each bitmap: width, height (32
// bits), bits per pixel (8 bits: 1 or 24), the rows top first, each packed
// to whole bytes, then the 8-bit transparency, one byte per pixel. Each
// object: the fixed fields in record order (see WriteObject), then flags
// (bit 0 a text, bit 1 a font, bit 2 a name), the text and the name as a
// 32-bit length and UTF-8 bytes, the font as its 60 bytes, and the points
// as a 32-bit count and X, Y pairs.
#include "image/views/rastrumvect.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <cmath>
#include <cstring>

#include "image/io/rvsafeio.h"

namespace rv {

const char* const RvVectMimeType = "application/x-qt-windows-mime;value=\"RASTRUM VECT\"";

namespace {

constexpr std::uint16_t kVersion = 1;
// The fixed part of an object: what a count of objects must at least take.
constexpr std::int64_t kFixedObjectBytes = 4 * 4 + 3 + 4 * 2 + 4 + 1 + 4 + 4 + 1 + 8 * 2 + 4 + 5 + 4 * 4 + 6 * 4 + 1 + 4;

class TWriter {
public:
  void Bytes(const void* Data, std::size_t Size) {
    const auto* p = static_cast<const std::uint8_t*>(Data);
    FOut.insert(FOut.end(), p, p + Size);
  }
  void U8(std::uint32_t V) { FOut.push_back(static_cast<std::uint8_t>(V)); }
  void U16(std::uint32_t V) {
    U8(V);
    U8(V >> 8);
  }
  void U32(std::uint32_t V) {
    U16(V);
    U16(V >> 16);
  }
  void I32(std::int32_t V) { U32(static_cast<std::uint32_t>(V)); }
  void F64(double V) {
    std::uint64_t bits;
    std::memcpy(&bits, &V, sizeof bits);
    U32(static_cast<std::uint32_t>(bits));
    U32(static_cast<std::uint32_t>(bits >> 32));
  }
  void Text(const std::string& S) {
    U32(static_cast<std::uint32_t>(S.size()));
    Bytes(S.data(), S.size());
  }
  std::vector<std::uint8_t> Take() { return std::move(FOut); }

private:
  std::vector<std::uint8_t> FOut;
};

std::int32_t I32(TRvByteReader& R) { return static_cast<std::int32_t>(R.U32LE()); }

double F64(TRvByteReader& R) {
  const std::uint64_t low = R.U32LE(), high = R.U32LE();
  const std::uint64_t bits = low | (high << 32);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

bool ReadText(TRvByteReader& R, std::string& Text) {
  const std::uint32_t size = R.U32LE();
  if (R.Short() || size > R.Remaining()) return false;
  Text.assign(reinterpret_cast<const char*>(R.Data() + R.Position()), size);
  return R.Skip(size);
}

void WriteBitmap(TWriter& W, const TRvVBitmapEntry& E) {
  const platform::TBitmap& b = *E.Bitmap;
  const int bits = b.PixelFormat() == platform::pf1bit ? 1 : 24;
  W.U32(static_cast<std::uint32_t>(b.Width()));
  W.U32(static_cast<std::uint32_t>(b.Height()));
  W.U8(static_cast<std::uint32_t>(bits));
  const std::size_t row = static_cast<std::size_t>(RvPackedRowBytes(b.Width(), bits));
  for (int y = 0; y < b.Height(); ++y) W.Bytes(b.ScanLine(y), row);
  for (int y = 0; y < b.Height(); ++y) {
    if (E.Mask != nullptr && E.Mask->Width() == b.Width() && E.Mask->Height() == b.Height())
      W.Bytes(E.Mask->ScanLine(y), static_cast<std::size_t>(b.Width()));
    else
      for (int x = 0; x < b.Width(); ++x) W.U8(255);
  }
}

bool ReadBitmap(TRvByteReader& R, TRvVBitmapEntry& E) {
  const std::uint32_t w = R.U32LE(), h = R.U32LE();
  const int bits = R.U8();
  if (R.Short() || (bits != 1 && bits != 24) || w > 0x7FFFFFFF || h > 0x7FFFFFFF || !RvPixelsAllowed(w, h))
    return false;
  const std::int64_t row = RvPackedRowBytes(w, bits);
  std::int64_t pixels, mask, total;
  // Sizes checked against what is there before anything is allocated.
  if (row < 0 || !RvSizeMul(row, h, pixels) || !RvSizeMul(w, h, mask) || !RvSizeAdd(pixels, mask, total) ||
      total > R.Remaining() || !RvAllocationAllowed(total))
    return false;
  E.Bitmap = std::make_unique<platform::TBitmap>(static_cast<int>(w), static_cast<int>(h),
                                                 bits == 1 ? platform::pf1bit : platform::pf24bit);
  for (std::uint32_t y = 0; y < h; ++y)
    if (!R.Read(E.Bitmap->ScanLine(static_cast<int>(y)), row)) return false;
  E.Mask = std::make_unique<TRvMask>();
  E.Mask->Allocate(static_cast<int>(w), static_cast<int>(h), 8);
  for (std::uint32_t y = 0; y < h; ++y)
    if (!R.Read(E.Mask->ScanLine(static_cast<int>(y)), w)) return false;
  E.RefCount = 1;
  return true;
}

void WriteObject(TWriter& W, const TRvVObject& O) {
  for (std::int32_t v : {O.Left, O.Top, O.Right, O.Bottom}) W.I32(v);
  W.U8(O.Kind);
  W.U8(O.BeginShape);
  W.U8(O.EndShape);
  W.I32(O.ShapeWidth);
  W.I32(O.ShapeHeight);
  W.I32(O.PenColor);
  W.U8(static_cast<std::uint32_t>(O.PenStyle));
  W.I32(O.PenWidth);
  W.I32(O.BrushColor);
  W.U8(static_cast<std::uint32_t>(O.BrushStyle));
  W.F64(O.ArcStart);
  W.F64(O.ArcEnd);
  W.I32(O.BitmapIndex);
  W.U8(O.TextAlign);
  W.U8(O.AutoSize ? 1 : 0);
  W.U8(O.Style);
  W.U8(O.RulerUnit);
  W.U8(O.RulerType);
  for (std::int32_t v : {O.BaseLeft, O.BaseTop, O.BaseRight, O.BaseBottom}) W.I32(v);
  for (const platform::TPoint& p : O.AnglePoints) {
    W.I32(p.X);
    W.I32(p.Y);
  }
  W.U8((O.Text ? 1u : 0u) | (O.Font ? 2u : 0u) | (O.Name ? 4u : 0u));
  if (O.Text) W.Text(*O.Text);
  if (O.Font) W.Bytes(&*O.Font, sizeof(TRvLogFont));
  if (O.Name) W.Text(*O.Name);
  W.U32(static_cast<std::uint32_t>(O.Points.size()));
  for (const platform::TPoint& p : O.Points) {
    W.I32(p.X);
    W.I32(p.Y);
  }
}

bool ReadObject(TRvByteReader& R, int Bitmaps, TRvVObject& O) {
  O.Left = I32(R);
  O.Top = I32(R);
  O.Right = I32(R);
  O.Bottom = I32(R);
  O.Kind = static_cast<TRvVObjKind>(R.U8());
  const int begin = R.U8(), end = R.U8();
  O.ShapeWidth = I32(R);
  O.ShapeHeight = I32(R);
  O.PenColor = I32(R);
  const int penStyle = R.U8();
  O.PenWidth = I32(R);
  O.BrushColor = I32(R);
  const int brushStyle = R.U8();
  O.ArcStart = F64(R);
  O.ArcEnd = F64(R);
  O.BitmapIndex = I32(R);
  O.TextAlign = R.U8();
  const int autoSize = R.U8();
  O.Style = R.U8();
  const int unit = R.U8(), rulerType = R.U8();
  O.BaseLeft = I32(R);
  O.BaseTop = I32(R);
  O.BaseRight = I32(R);
  O.BaseBottom = I32(R);
  for (platform::TPoint& p : O.AnglePoints) {
    p.X = I32(R);
    p.Y = I32(R);
  }
  const int flags = R.U8();
  if (R.Short() || begin > rvasTipAtEnd || end > rvasTipAtEnd || penStyle > platform::psInsideFrame ||
      brushStyle > platform::bsDiagCross || O.TextAlign > 2 || autoSize > 1 || O.Style > 15 || unit > rvuNANOMETERS ||
      rulerType > rvrtLabelEnd || flags > 7 || !std::isfinite(O.ArcStart) || !std::isfinite(O.ArcEnd) ||
      O.BitmapIndex < -1 || O.BitmapIndex >= Bitmaps)
    return false;
  O.BeginShape = static_cast<TRvArrowShape>(begin);
  O.EndShape = static_cast<TRvArrowShape>(end);
  O.PenStyle = static_cast<platform::TPenStyle>(penStyle);
  O.BrushStyle = static_cast<platform::TBrushStyle>(brushStyle);
  O.AutoSize = autoSize != 0;
  O.RulerUnit = static_cast<TRvUnits>(unit);
  O.RulerType = static_cast<TRvRulerType>(rulerType);
  std::string text;
  if (flags & 1) {
    if (!ReadText(R, text)) return false;
    O.Text = text;
  }
  if (flags & 2) {
    TRvLogFont font;
    if (!R.Read(&font, sizeof font)) return false;
    font.lfFaceName[sizeof font.lfFaceName - 1] = 0;
    O.Font = font;
  }
  if (flags & 4) {
    if (!ReadText(R, text)) return false;
    O.Name = text;
  }
  const std::uint32_t points = R.U32LE();
  if (R.Short() || points > R.Remaining() / 8) return false;
  O.Points.resize(points);
  for (platform::TPoint& p : O.Points) {
    p.X = I32(R);
    p.Y = I32(R);
  }
  return !R.Short();
}

} // namespace

std::vector<std::uint8_t> RvVectEncode(const TRvVectPacket& Packet) {
  TWriter w;
  w.Bytes("RVEC", 4);
  w.U16(kVersion);
  w.U16(0);
  w.U32(static_cast<std::uint32_t>(Packet.Bitmaps.size()));
  w.U32(static_cast<std::uint32_t>(Packet.Objects.size()));
  for (const TRvVBitmapEntry& e : Packet.Bitmaps) WriteBitmap(w, e);
  for (const TRvVObject& o : Packet.Objects) WriteObject(w, o);
  return w.Take();
}

bool RvVectDecode(const void* Data, std::size_t Size, TRvVectPacket& Packet) {
  Packet = TRvVectPacket();
  TRvByteReader r(Data, static_cast<std::int64_t>(Size));
  char magic[4] = {};
  r.Read(magic, 4);
  const std::uint16_t version = r.U16LE(), reserved = r.U16LE();
  const std::uint32_t bitmaps = r.U32LE(), objects = r.U32LE();
  // Every bitmap takes at least 9 bytes, every object its fixed part.
  if (r.Short() || std::memcmp(magic, "RVEC", 4) != 0 || version != kVersion || reserved != 0 ||
      bitmaps > static_cast<std::uint64_t>(r.Remaining()) / 9 ||
      objects > static_cast<std::uint64_t>(r.Remaining()) / kFixedObjectBytes)
    return false;
  TRvVectPacket packet;
  packet.Bitmaps.resize(bitmaps);
  for (TRvVBitmapEntry& e : packet.Bitmaps)
    if (!ReadBitmap(r, e)) return false;
  packet.Objects.resize(objects);
  for (TRvVObject& o : packet.Objects)
    if (!ReadObject(r, static_cast<int>(bitmaps), o)) return false;
  if (!r.AtEnd()) return false;
  Packet = std::move(packet);
  return true;
}

// ------------------------------------------------------------ the layer

bool TRastrumVect::CopyObjectsToClipboard() const {
  const TRvVectPacket packet = ObjectsToPacket(true);
  if (packet.Objects.empty() || QGuiApplication::clipboard() == nullptr) return false;
  const std::vector<std::uint8_t> bytes = RvVectEncode(packet);
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(RvVectMimeType),
                QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
  QGuiApplication::clipboard()->setMimeData(mime);
  return true;
}

int TRastrumVect::PasteObjectsFromClipboard() {
  const QMimeData* mime = QGuiApplication::clipboard() != nullptr ? QGuiApplication::clipboard()->mimeData() : nullptr;
  if (mime == nullptr || !mime->hasFormat(QString::fromLatin1(RvVectMimeType))) return 0;
  const QByteArray bytes = mime->data(QString::fromLatin1(RvVectMimeType));
  TRvVectPacket packet;
  if (!RvVectDecode(bytes.constData(), static_cast<std::size_t>(bytes.size()), packet) || packet.Objects.empty())
    return 0;
  const int first = AddPacket(packet);
  UnselectAll();
  for (int h = first; h < ObjectsCount(); ++h) SelectObject(h);
  DoVectorialChanged();
  Update();
  return ObjectsCount() - first;
}

} // namespace rv

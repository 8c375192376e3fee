#include "image/model/rvhelpers.h"

#include <QObject>
#include <QWidget>
#include <cmath>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/types.h>

namespace rv {

// ---------------------------------------------------------------- colours

void RvCreateRGB(std::uint8_t R, std::uint8_t G, std::uint8_t B, TRGB& C) {
  C.b = B;
  C.g = G;
  C.r = R;
}

int RvRGBToGray(const TRGB& C) { return RvGray(C.r, C.g, C.b); }

int RvSwapRedBlue(int Value) {
  const std::uint32_t v = static_cast<std::uint32_t>(Value);
  return static_cast<int>(((v >> 16) & 255) | (((v >> 8) & 255) << 8) | ((v & 255) << 16));
}

void RvColorToRGB(TColor Color, TRGB& C) {
  const std::uint32_t rgb = platform::ColorToRGB(Color);
  C.r = static_cast<std::uint8_t>(rgb);
  C.g = static_cast<std::uint8_t>(rgb >> 8);
  C.b = static_cast<std::uint8_t>(rgb >> 16);
}

bool RvSameRGB(const TRGB& A, const TRGB& B) { return A.r == B.r && A.g == B.g && A.b == B.b; }

// ---------------------------------------------------------------- numbers

double RvFMin(double A, double B) { return B < A ? B : A; }
double RvFMax(double A, double B) { return B > A ? B : A; }

int RvClamp(int Value, int Low, int High) {
  if (Value <= Low) return Low;
  if (Value < High) return Value;
  return High;
}

int RvClampByte(int Value) { return Value < 0 ? 0 : (Value > 255 ? 255 : Value); }

int RvCeil(long double X) {
  const long double t = std::trunc(X);
  return static_cast<int>(t) + (X - t > 0 ? 1 : 0);
}

int RvFloor(long double X) {
  const long double t = std::trunc(X);
  return static_cast<int>(t) - (X - t < 0 ? 1 : 0);
}

int RvRound(double X) { return static_cast<int>(std::nearbyint(X)); }

void RvSwapInt(int& A, int& B) { std::swap(A, B); }
void RvSwapBytePair(std::uint8_t& A, std::uint8_t& B) { std::swap(A, B); }

void RvOrderRect(int& X1, int& Y1, int& X2, int& Y2) {
  if (X1 > X2) std::swap(X1, X2);
  if (Y1 > Y2) std::swap(Y1, Y2);
}

long double RvIntPower(int Exponent, long double Base) {
  if (Exponent == 0) return 1;
  std::uint64_t e = Exponent < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(Exponent))
                                 : static_cast<std::uint64_t>(Exponent);
  long double result = 1, square = Base;
  while (e != 0) {
    if (e & 1) result *= square;
    square *= square;
    e >>= 1;
  }
  return Exponent < 0 ? 1 / result : result;
}

long double RvPower(long double Base, long double Exponent) {
  if (Exponent == 0) return 1;
  if (Base == 0 && Exponent > 0) return 0;
  if (std::trunc(Exponent) == Exponent && std::fabs(Exponent) <= 2147483647.0L)
    return RvIntPower(static_cast<int>(Exponent), Base);
  return std::exp(Exponent * std::log(Base));
}

int RvMulDiv(int Number, int Numerator, int Denominator) {
  if (Denominator == 0) return -1;
  const std::int64_t n = static_cast<std::int64_t>(Number) * Numerator;
  std::int64_t q = n / Denominator;
  const std::int64_t r = n % Denominator;
  if (2 * std::llabs(r) >= std::llabs(static_cast<std::int64_t>(Denominator)))
    q += ((n < 0) != (Denominator < 0)) ? -1 : 1;
  return static_cast<int>(q);
}

// ---------------------------------------------------------------- bits and bytes

std::int64_t RvRowLen(std::int64_t Width, int BitCount) {
  return ((Width * BitCount + 31) / 32) * 4;
}

int RvPixelFormatBits(platform::TPixelFormat Format) {
  switch (Format) {
    case platform::pf1bit: return 1;
    case platform::pf4bit: return 4;
    case platform::pf8bit: return 8;
    case platform::pf15bit: return 15;
    case platform::pf16bit: return 16;
    case platform::pf24bit: return 24;
    case platform::pf32bit: return 32;
    default: return 0;
  }
}

std::int64_t RvBitmapRowLen(std::int64_t Width, platform::TPixelFormat Format) {
  return RvRowLen(Width, RvPixelFormatBits(Format));
}

int RvMaskShiftWidth(std::uint32_t Mask) {
  int bit = 0;
  while (bit <= 31 && !(Mask & (1u << bit))) ++bit;
  if (bit > 31) return 0;
  int width = 0;
  while (bit <= 31 && (Mask & (1u << bit))) {
    ++width;
    ++bit;
  }
  return width;
}

int RvMaskBitEnd(std::uint32_t Mask) {
  if (Mask == 0) return -1;
  int high = 31;
  while (!(Mask & (1u << high))) --high;
  if ((Mask & (Mask - 1)) == 0) return high;
  return high + 1;
}

namespace {
struct TReverseTable {
  std::uint8_t Values[256];
  TReverseTable() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= 0x80 >> b;
      Values[i] = static_cast<std::uint8_t>(r);
    }
  }
};
const TReverseTable ReverseTable;
} // namespace

void RvReverseBits8(std::uint8_t& B) { B = ReverseTable.Values[B]; }

void RvReverseBits32(std::uint32_t& V) {
  const std::uint32_t s = RvSwapDWord(V);
  V = static_cast<std::uint32_t>(ReverseTable.Values[s & 255]) |
      (static_cast<std::uint32_t>(ReverseTable.Values[(s >> 8) & 255]) << 8) |
      (static_cast<std::uint32_t>(ReverseTable.Values[(s >> 16) & 255]) << 16) |
      (static_cast<std::uint32_t>(ReverseTable.Values[s >> 24]) << 24);
}

std::uint16_t RvSwapWord(std::uint16_t V) { return static_cast<std::uint16_t>((V >> 8) | (V << 8)); }

std::uint32_t RvSwapDWord(std::uint32_t V) {
  return (V >> 24) | ((V >> 8) & 0xFF00u) | ((V << 8) & 0xFF0000u) | (V << 24);
}

bool RvHasMMX() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("mmx");
#else
  return false;
#endif
}

// ---------------------------------------------------------------- hash set

THash1::THash1(int Bits)
    : FBits(Bits), FSize(1 << Bits), FKeys(static_cast<std::size_t>(FSize)),
      FStates(static_cast<std::size_t>(FSize), 0), FChains(static_cast<std::size_t>(FSize), nullptr) {}

THash1::~THash1() {
  for (TNode* n : FChains) {
    while (n != nullptr) {
      TNode* next = n->Next;
      delete n;
      n = next;
    }
  }
}

bool THash1::Insert(std::uint32_t Key) {
  const std::size_t slot = Key & static_cast<std::uint32_t>(FSize - 1);
  switch (FStates[slot]) {
    case 0:
      FKeys[slot] = Key;
      FStates[slot] = 1;
      break;
    case 1:
      if (FKeys[slot] == Key) return false;
      FChains[slot] = new TNode{FKeys[slot], new TNode{Key, nullptr}};
      FStates[slot] = 2;
      break;
    default: {
      TNode* n = FChains[slot];
      while (true) {
        if (n->Key == Key) return false;
        if (n->Next == nullptr) break;
        n = n->Next;
      }
      n->Next = new TNode{Key, nullptr};
      break;
    }
  }
  ++FCount;
  return true;
}

// ---------------------------------------------------------------- CIE L*a*b*

void RvRGBToCIELab(int Color, std::uint8_t Lab[3]) {
  auto linear = [](int byte) {
    const double c = byte / 255.0;
    return (c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4)) * 100;
  };
  const double R = linear((Color >> 16) & 255), G = linear((Color >> 8) & 255), B = linear(Color & 255);
  const double X = 0.4124 * R + 0.3576 * G + 0.1805 * B;
  const double Y = 0.2126 * R + 0.7152 * G + 0.0722 * B;
  const double Z = 0.0193 * R + 0.1192 * G + 0.9505 * B;
  auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
  const double L = ((116 * f(Y) - 16) / 550) * 255;
  const double a = ((f(X) - f(Y)) * 500 / 200) * 128;
  const double b = ((f(Y) - f(Z)) * 200 / 500) * 128;
  auto signedByte = [](double v) {
    const double t = std::trunc(v);
    if (t < -128) return static_cast<std::uint8_t>(0x80);
    if (t > 127) return static_cast<std::uint8_t>(0x7F);
    return static_cast<std::uint8_t>(static_cast<int>(t) & 255);
  };
  const double l = std::trunc(L);
  Lab[0] = static_cast<std::uint8_t>(l < 0 ? 0 : (l > 255 ? 255 : static_cast<int>(l)));
  Lab[1] = signedByte(a);
  Lab[2] = signedByte(b);
}

void RvCIELabToRGB(int Lab, TRGB& C) {
  const double L = ((Lab & 255) / 255.0) * 100;
  auto signedValue = [](int byte) {
    const int v = static_cast<std::int8_t>(static_cast<std::uint8_t>(byte));
    return v == -128 ? 128 : v;
  };
  const int a = signedValue((Lab >> 8) & 255), b = signedValue((Lab >> 16) & 255);
  const double as = ((a + 127) / 255.0) * 200 - 100;
  const double bs = ((b + 127) / 255.0) * 200 - 100;
  const double fy = (L + 16) / 116;
  double X, Y, Z;
  if (L >= 7.9996) {
    X = std::pow(as / 500 + fy, 3);
    Y = fy * fy * fy;
    Z = std::pow(fy - bs / 200, 3);
  } else {
    Y = L / 903.3;
    X = as / 3893.5 + Y;
    Z = Y - bs / 1557.4;
  }
  auto channel = [](double v) {
    if (v <= 0) return static_cast<std::uint8_t>(0);
    if (v >= 1) return static_cast<std::uint8_t>(255);
    return static_cast<std::uint8_t>(std::trunc(std::sqrt(v) * 256));
  };
  C.r = channel(2.69 * X - 1.276 * Y - 0.414 * Z);
  C.g = channel(-1.022 * X + 1.978 * Y + 0.044 * Z);
  C.b = channel(0.061 * X - 0.224 * Y + 1.163 * Z);
}

// ---------------------------------------------------------------- files and windows

bool RvDirectoryExists(const std::string& Path) {
  struct stat st {};
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RvForceDirectories(const std::string& Path) {
  if (Path.empty()) throw std::runtime_error("Cannot Create Directory");
  std::string path = Path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == "/" || RvDirectoryExists(path)) return;
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos) {
    const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    if (parent != path) RvForceDirectories(parent);
  }
  ::mkdir(path.c_str(), 0777);
}

QWidget* RvOwnerWindowHandle(QObject* Component) {
  for (QObject* o = Component; o != nullptr; o = o->parent())
    if (QWidget* w = qobject_cast<QWidget*>(o)) return w;
  return nullptr;
}

// ---------------------------------------------------------------- geometry

double RvDistance(int X1, int Y1, int X2, int Y2) {
  // Squares in 64 bits: picture coordinates far apart must not wrap.
  const std::int64_t dx = static_cast<std::int64_t>(X2) - X1, dy = static_cast<std::int64_t>(Y2) - Y1;
  return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

double RvPointLineDistance(int PX, int PY, int AX, int AY, int BX, int BY) {
  const double len = RvDistance(AX, AY, BX, BY);
  // A line through two equal points is that point.
  if (len == 0) return RvDistance(PX, PY, AX, AY);
  const double n = static_cast<double>(BY - static_cast<std::int64_t>(AY)) * PX -
                   static_cast<double>(BX - static_cast<std::int64_t>(AX)) * PY +
                   static_cast<double>(BX) * AY - static_cast<double>(BY) * AX;
  return std::fabs(n) / len;
}

double RvPointSegmentDistance(int PX, int PY, int AX, int AY, int BX, int BY) {
  if (AX == BX && AY == BY) return RvDistance(PX, PY, AX, AY);
  const double abx = static_cast<double>(BX) - AX, aby = static_cast<double>(BY) - AY;
  const double t = ((static_cast<double>(PX) - AX) * abx + (static_cast<double>(PY) - AY) * aby) /
                   (abx * abx + aby * aby);
  if (t >= 0 && t <= 1) return RvPointLineDistance(PX, PY, AX, AY, BX, BY);
  const int EX = t < 0 ? AX : BX, EY = t < 0 ? AY : BY;
  if (std::llabs(static_cast<std::int64_t>(PX) - EX) > 45000 ||
      std::llabs(static_cast<std::int64_t>(PY) - EY) > 45000)
    return RvFarAway;
  return RvDistance(PX, PY, EX, EY);
}

double RvPointPolylineDistance(int X, int Y, const platform::TPoint* Points, int Count,
                               double ZoomX, double ZoomY, int OffsetX, int OffsetY, int OriginX,
                               int OriginY) {
  double best = RvFarAway;
  if (Count < 2) return best;
  auto map = [&](const platform::TPoint& p, int& sx, int& sy) {
    sx = RvRound((p.X - static_cast<double>(OriginX)) * ZoomX + OffsetX);
    sy = RvRound((p.Y - static_cast<double>(OriginY)) * ZoomY + OffsetY);
  };
  int ax, ay;
  map(Points[0], ax, ay);
  for (int i = 1; i < Count; ++i) {
    int bx, by;
    map(Points[i], bx, by);
    best = std::min(best, RvPointSegmentDistance(X, Y, ax, ay, bx, by));
    ax = bx;
    ay = by;
  }
  return best;
}

bool RvRectsIntersect(int X1, int Y1, int X2, int Y2, int RX1, int RY1, int RX2, int RY2) {
  return !(std::max(X1, X2) < RX1 || std::min(X1, X2) > RX2 || std::max(Y1, Y2) < RY1 ||
           std::min(Y1, Y2) > RY2);
}

int RvRectInRect(int AX1, int AY1, int AX2, int AY2, int BX1, int BY1, int BX2, int BY2) {
  const bool xr = AX1 <= BX2 && BX2 <= AX2;
  const bool xl = AX1 <= BX1 && BX1 <= AX2;
  const bool yb = AY1 <= BY2 && BY2 <= AY2;
  const bool yt = AY1 <= BY1 && BY1 <= AY2;
  if (xl && xr && yb && yt) return 2;
  if ((xl != xr && (yb || yt)) || ((xl || xr) && yb != yt)) return 1;
  return 0;
}

bool RvPointInRect(int X, int Y, int X1, int Y1, int X2, int Y2) {
  return X1 <= X && X <= X2 && Y1 <= Y && Y <= Y2;
}

bool RvPointInRectOrdered(int X, int Y, int X1, int Y1, int X2, int Y2) {
  RvOrderRect(X1, Y1, X2, Y2);
  return RvPointInRect(X, Y, X1, Y1, X2, Y2);
}

void RvSnapLine(int X1, int Y1, int& X2, int& Y2) {
  const int dx = X1 - X2, dy = Y1 - Y2;
  const int ax = std::abs(dx), ay = std::abs(dy);
  if (ay > ax + 30) {
    X2 = X1;
    return;
  }
  if (ay < ax - 30) {
    Y2 = Y1;
    return;
  }
  const int d = std::abs(ax - ay);
  const bool steep = ay > ax;
  if (dx < 0 && dy < 0) {
    if (steep) X2 += d; else Y2 += d;
  } else if (dx <= 0 && dy >= 1) {
    if (steep) X2 += d; else Y2 -= d;
  } else if (dx >= 1 && dy <= 0) {
    if (steep) X2 -= d; else Y2 += d;
  } else if (dx >= 1 && dy >= 1) {
    if (steep) Y2 += d; else X2 += d;
  }
}

} // namespace rv

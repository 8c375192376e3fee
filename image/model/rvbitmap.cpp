#include "image/model/rvbitmap.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <atomic>
#include <chrono>
#include <unistd.h>

#include "image/model/rvbits.h"
#include "image/model/rvmask.h"
#include "image/model/rvquantizer.h"

namespace rv {

std::string RvTempFolder;

int RvPixelFormatBitCount(TRvPixelFormat Format) {
  switch (Format) {
    case rvpf1Bit: return 1;
    case rvpf8BitPalette:
    case rvpf8BitGray: return 8;
    case rvpf16BitGray: return 16;
    case rvpf24Bit: return 24;
    default: return 0;
  }
}

std::string RvTempPath() {
  if (!RvTempFolder.empty()) return RvTempFolder;
  std::error_code ec;
  const auto path = std::filesystem::temp_directory_path(ec);
  return ec ? std::string("/tmp") : path.string();
}

int RvRemoveStaleTempFiles() {
  int removed = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(RvTempPath(), ec)) {
    // Only names we make: "rastrum", the process number, "-", six characters.
    const std::string name = entry.path().filename().string();
    if (name.rfind("rastrum", 0) != 0) continue;
    const std::size_t dash = name.find('-', 7);
    if (dash == std::string::npos || dash == 7 || name.size() != dash + 7 ||
        !std::all_of(name.begin() + 7, name.begin() + static_cast<std::ptrdiff_t>(dash),
                     [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const long pid = std::strtol(name.c_str() + 7, nullptr, 10);
    if (pid <= 0 || pid > INT_MAX || pid == ::getpid()) continue;
    struct stat st {};
    if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
    // A live process (of any owner) keeps its files.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    if (::unlink(entry.path().c_str()) == 0) ++removed;
  }
  return removed;
}

std::uint64_t RvAvailablePhysicalMemory() {
  // What the kernel could hand out without swapping, page cache included.
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    if (line.rfind("MemAvailable:", 0) == 0) {
      std::istringstream in(line.substr(13));
      std::uint64_t kb = 0;
      if (in >> kb) return kb * 1024;
    }
  }
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return 0;
  return (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
}

// ---------------------------------------------------------------- TRvMemoryMapped

namespace {

// Gives the file Size bytes with its blocks reserved where the file system
// can (a sparse file on a full disk would fail later, on a write through the
// mapping, where it cannot be reported); else by its length alone. A
// reservation on a memory file system stops (and undoes itself) at any
// signal: it is tried again a few times, not taken as a full disk at once.
int SizeFile(int Fd, off_t Size, bool Reserve) {
  int rc;
  if (Reserve) {
    int tries = 0;
    do {
      rc = ::fallocate(Fd, 0, 0, Size);
    } while (rc != 0 && errno == EINTR && ++tries < 8);
    if (rc == 0 || (errno != EOPNOTSUPP && errno != ENOSYS)) return rc;
  }
  do {
    rc = ::ftruncate(Fd, Size);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

} // namespace

TRvMemoryMapped::~TRvMemoryMapped() { Deallocate(); }

bool TRvMemoryMapped::Allocate(const std::string& Name, std::uint64_t Size) {
  Deallocate();
  if (Size == 0 || Size > static_cast<std::uint64_t>(INT64_MAX)) return false;
  std::string name = Name;
  int fd = -1;
  if (name.empty()) {
    const std::string folder = RvTempPath();
    try {
      RvForceDirectories(folder);
    } catch (const std::exception&) {
      return false;
    }
    // The owner's process number in the name: a later start can tell the
    // files of a process that is gone from those of one still running.
    std::string templ =
        folder + (folder.back() == '/' ? "" : "/") + "rastrum" + std::to_string(::getpid()) + "-XXXXXX";
    std::vector<char> buffer(templ.begin(), templ.end());
    buffer.push_back('\0');
    fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    name = buffer.data();
  } else {
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  }
  if (fd < 0) return false;
  const int rc = SizeFile(fd, static_cast<off_t>(Size), true);
  struct stat st {};
  if (rc != 0 || ::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) != Size) {
    ::close(fd);
    ::unlink(name.c_str());
    return false;
  }
  FFile = fd;
  FFileName = name;
  FSize = Size;
  return true;
}

void TRvMemoryMapped::Deallocate() {
  if (FFile < 0) return;
  UnmapAll();
  ::close(FFile);
  ::unlink(FFileName.c_str());
  FFile = -1;
  FFileName.clear();
  FSize = 0;
}

bool TRvMemoryMapped::Resize(std::uint64_t Size) {
  if (FFile < 0 || Size == 0) return false;
  if (SizeFile(FFile, static_cast<off_t>(Size), Size > FSize) != 0) return false;
  FSize = Size;
  return true;
}

void* TRvMemoryMapped::MapView(std::uint64_t Offset, std::size_t Size) {
  // A view past the end of the file would fault on its first access.
  if (FFile < 0 || Size == 0 || Offset > FSize || Size > FSize - Offset) return nullptr;
  static const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t base = Offset - Offset % page;
  const std::size_t length = static_cast<std::size_t>(Size + (Offset - base));
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, FFile, static_cast<off_t>(base));
  if (p == MAP_FAILED) return nullptr;
  void* address = static_cast<std::uint8_t*>(p) + (Offset - base);
  FViews.push_back({address, p, length});
  return address;
}

void TRvMemoryMapped::UnmapView(void* View) {
  for (auto it = FViews.begin(); it != FViews.end(); ++it) {
    if (it->Address == View) {
      ::munmap(it->Base, it->Length);
      FViews.erase(it);
      return;
    }
  }
}

void TRvMemoryMapped::UnmapAll() {
  while (!FViews.empty()) {
    ::munmap(FViews.back().Base, FViews.back().Length);
    FViews.pop_back();
  }
}

// ---------------------------------------------------------------- TRvBitmap

namespace {

// The free memory as read at most every half second: a folder of thousands
// of pictures makes a bitmap per file, and the reading is a file of the
// kernel's parsed each time.
std::uint64_t RecentAvailablePhysicalMemory() {
  static std::atomic<std::int64_t> readAt{-(std::int64_t{1} << 40)};
  static std::atomic<std::uint64_t> value{0};
  const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  if (now - readAt.load(std::memory_order_relaxed) >= 500) {
    value.store(RvAvailablePhysicalMemory(), std::memory_order_relaxed);
    readAt.store(now, std::memory_order_relaxed);
  }
  return value.load(std::memory_order_relaxed);
}

} // namespace

TRvBitmap::TRvBitmap() : FStore(std::make_unique<TRvMemoryMapped>()) {
  const std::uint64_t available = RecentAvailablePhysicalMemory();
  FMapThreshold = available == 0 ? 8388608u : available / 2;
}

TRvBitmap::~TRvBitmap() { FreeBits(); }

std::unique_ptr<TRvBitmap> TRvBitmap::CreateAsAlpha(int Width, int Height, TRvBitmapLocation Location) {
  auto alpha = std::make_unique<TRvBitmap>();
  alpha->FIsAlpha = true;
  alpha->FExternal = false;
  alpha->FLocation = Location;
  alpha->Allocate(Width, Height, rvpf8BitGray);
  return alpha;
}

void TRvBitmap::UnmapCurrent() {
  if (FView != nullptr) FStore->UnmapView(FView);
  FView = nullptr;
  FViewOffset = 0;
  FViewSize = 0;
}

std::uint8_t* TRvBitmap::Scanline(int Row) {
  switch (FLocation) {
    case rvlMemory:
      return FMemory.get() + static_cast<std::size_t>(FHeight - Row - 1) * static_cast<std::size_t>(FRowLen);
    case rvlFile: {
      const std::uint64_t offset = static_cast<std::uint64_t>(Row) * static_cast<std::uint64_t>(FRowLen);
      if (FView != nullptr && offset >= FViewOffset && offset + FRowLen <= FViewOffset + FViewSize)
        return FView + (offset - FViewOffset);
      UnmapCurrent();
      // One window of many rows: one system call per window, not per row,
      // while the address space (and resident memory) stays small.
      const std::uint64_t start = offset - offset % MapWindow;
      const std::uint64_t end =
          std::min(FStore->Size(), std::max(start + MapWindow, offset + static_cast<std::uint64_t>(FRowLen)));
      void* view = FStore->MapView(start, static_cast<std::size_t>(end - start));
      if (view == nullptr) throw std::bad_alloc();
      FView = static_cast<std::uint8_t*>(view);
      FViewOffset = start;
      FViewSize = end - start;
      return FView + (offset - start);
    }
    default:
      return FTBitmap->ScanLine(Row);
  }
}

void TRvBitmap::Fail() {
  // No fields may describe pixels that do not exist.
  FreeBits();
  throw std::bad_alloc();
}

void TRvBitmap::Allocate(int Width, int Height, TRvPixelFormat PixelFormat) {
  if (!FExternal) FreeBits();
  FWidth = Width;
  FHeight = Height;
  FPixelFormat = PixelFormat;
  AllocateStorage();
}

void TRvBitmap::AllocateStorage() {
  if (FWidth < 1 || FHeight < 1 || FPixelFormat == rvpfNone) {
    FBitCount = 0;
    FRowLen = 0;
    return;
  }
  FPalette.clear();
  FPaletteCount = 0;
  if (FPixelFormat == rvpf8BitPalette) {
    FPalette.assign(256, TRGB{});
    FPaletteCount = 256;
  }
  FBitCount = RvPixelFormatBitCount(FPixelFormat);
  const std::int64_t rowLen = RvRowLen(FWidth, FBitCount);
  // Sizes come from file headers: a row that does not fit 32 bits is refused.
  if (rowLen > INT_MAX) Fail();
  FRowLen = static_cast<int>(rowLen);
  const std::uint64_t size = static_cast<std::uint64_t>(rowLen) * static_cast<std::uint64_t>(FHeight);
  constexpr std::uint64_t fourGB = 1ull << 32;
  if (FLocation == rvlFile && size < fourGB && size < FMapThreshold) FLocation = rvlMemory;
  if (FLocation == rvlFile && !FStore->Allocate("", size)) {
    // Too large for memory and no file for it: refused rather than
    // overcommitted.
    if (size >= fourGB) Fail();
    FLocation = rvlMemory;
  }
  if (FLocation == rvlMemory) {
    FMemory.reset(new (std::nothrow) std::uint8_t[size]);
    if (!FMemory) Fail();
  }
  if (FLocation == rvlTBitmap) {
    try {
      BuildTBitmap();
    } catch (const std::bad_alloc&) {
      Fail();
    }
  }
  FFull = false;
}

void TRvBitmap::BuildTBitmap() {
  if (FTBitmap == nullptr) {
    FOwnedTBitmap = std::make_unique<platform::TBitmap>();
    FTBitmap = FOwnedTBitmap.get();
  }
  FTBitmap->SetSize(1, 1);
  switch (FPixelFormat) {
    case rvpf1Bit:
      FTBitmap->SetPixelFormat(platform::pf1bit);
      FTBitmap->SetMonochrome(true);
      break;
    case rvpf8BitPalette:
      FTBitmap->SetPixelFormat(platform::pf8bit);
      break;
    case rvpf16BitGray:
    case rvpf8BitGray: {
      // The class-library bitmap has no 16-bit gray: it keeps 8-bit gray.
      FTBitmap->SetPixelFormat(platform::pf8bit);
      platform::TPaletteEntry gray[256];
      for (int i = 0; i < 256; ++i)
        gray[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), 0};
      FTBitmap->SetPaletteEntries(0, 256, gray);
      FPixelFormat = rvpf8BitGray;
      break;
    }
    default:
      FTBitmap->SetPixelFormat(platform::pf24bit);
      break;
  }
  FTBitmap->SetSize(FWidth, FHeight);
  FBitCount = RvPixelFormatBitCount(FPixelFormat);
  FRowLen = static_cast<int>(RvRowLen(FWidth, FBitCount));
}

void TRvBitmap::FreeBits() {
  FAlpha.reset();
  FPalette.clear();
  UnmapCurrent();
  FStore->Deallocate();
  FMemory.reset();
  FOwnedTBitmap.reset();
  FTBitmap = nullptr;
  FWidth = FHeight = FBitCount = FRowLen = FPaletteCount = 0;
  FFull = false;
  FExternal = false;
}

void TRvBitmap::MoveStorageTo(TRvBitmap* Dest) {
  Dest->FreeBits();
  Dest->FWidth = FWidth;
  Dest->FHeight = FHeight;
  Dest->FBitCount = FBitCount;
  Dest->FView = FView;
  Dest->FViewOffset = FViewOffset;
  Dest->FViewSize = FViewSize;
  Dest->FRowLen = FRowLen;
  Dest->FPixelFormat = FPixelFormat;
  Dest->FPalette = std::move(FPalette);
  Dest->FPaletteCount = FPaletteCount;
  Dest->FAlpha = std::move(FAlpha);
  Dest->FIsAlpha = FIsAlpha;
  Dest->FMemory = std::move(FMemory);
  Dest->FTBitmap = FTBitmap;
  Dest->FOwnedTBitmap = std::move(FOwnedTBitmap);
  Dest->FLocation = FLocation;
  Dest->FFull = FFull;
  Dest->FExternal = FExternal;
  Dest->FStore = std::move(FStore);
  FStore = std::make_unique<TRvMemoryMapped>();
  FView = nullptr;
  FViewOffset = FViewSize = 0;
  FPalette.clear();
  FTBitmap = nullptr;
  FWidth = FHeight = FBitCount = FRowLen = FPaletteCount = 0;
  FPixelFormat = rvpfNone;
  FFull = false;
  FExternal = false;
}

void TRvBitmap::CopyRowsFrom(TRvBitmap& Source, int Rows, int Bytes) {
  for (int r = 0; r < Rows; ++r) {
    const std::uint8_t* s = Source.Scanline(r);
    std::memcpy(Scanline(r), s, static_cast<std::size_t>(Bytes));
  }
}

void TRvBitmap::CopyPaletteFrom(const TRvBitmap& Source) {
  const int n = std::min(Source.FPaletteCount, FPaletteCount);
  for (int i = 0; i < n; ++i) FPalette[static_cast<std::size_t>(i)] = Source.FPalette[static_cast<std::size_t>(i)];
}

TRvBitmap* TRvBitmap::GetAlphaChannel() {
  if (FIsAlpha) return nullptr;
  if (!FAlpha) FAlpha = CreateAsAlpha(FWidth, FHeight, FLocation);
  return FAlpha.get();
}

void TRvBitmap::RemoveAlphaChannel() {
  if (!FIsAlpha) FAlpha.reset();
}

// ---------------------------------------------------------------- size, format, storage

void TRvBitmap::SetWidth(int Value) { ResizeAxis(Value, true); }
void TRvBitmap::SetHeight(int Value) { ResizeAxis(Value, false); }

void TRvBitmap::ResizeAxis(int Value, bool Horizontal) {
  if (Value == (Horizontal ? FWidth : FHeight)) return;
  const int other = Horizontal ? FHeight : FWidth;
  if (FLocation == rvlTBitmap) {
    if (FTBitmap == nullptr) {
      FOwnedTBitmap = std::make_unique<platform::TBitmap>();
      FTBitmap = FOwnedTBitmap.get();
    }
    if (Horizontal) {
      FTBitmap->SetWidth(Value);
      FWidth = FTBitmap->Width();
      FRowLen = static_cast<int>(RvRowLen(FWidth, FBitCount));
    } else {
      FTBitmap->SetHeight(Value);
      FHeight = FTBitmap->Height();
    }
    return;
  }
  if (FPixelFormat == rvpfNone || other < 1) {
    (Horizontal ? FWidth : FHeight) = Value;
    return;
  }
  TRvBitmap temp;
  MoveStorageTo(&temp);
  Allocate(Horizontal ? Value : temp.FWidth, Horizontal ? temp.FHeight : Value, temp.FPixelFormat);
  if (FWidth >= 1 && FHeight >= 1)
    CopyRowsFrom(temp, std::min(temp.FHeight, FHeight), std::min(temp.FRowLen, FRowLen));
  FFull = false;
  CopyPaletteFrom(temp);
}

void TRvBitmap::SetPixelFormat(TRvPixelFormat Value) {
  if (Value == FPixelFormat) return;
  ConvertPixelFormat(Value);
}

void TRvBitmap::ConvertRows(TRvBitmap& Source) {
  const TRvPixelFormat from = Source.FPixelFormat, to = FPixelFormat;
  if (from == rvpfNone || to == rvpfNone || FWidth < 1 || FHeight < 1) return;
  const int w = FWidth;
  if (from == to) {
    CopyRowsFrom(Source, FHeight, std::min(FRowLen, Source.FRowLen));
    CopyPaletteFrom(Source);
    return;
  }
  std::unique_ptr<TRvQuantizer> quantizer;
  if (to == rvpf8BitPalette) {
    if (from == rvpf1Bit) {
      FPalette[0] = TRGB{0, 0, 0};
      FPalette[1] = TRGB{255, 255, 255};
    } else if (from == rvpf8BitGray || from == rvpf16BitGray) {
      for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        FPalette[static_cast<std::size_t>(i)] = TRGB{v, v, v};
      }
    } else if (from == rvpf24Bit) {
      quantizer = std::make_unique<TRvQuantizer>(&Source, FPalette.data(), 256);
    }
  }
  // Gray levels of the source palette, worked out once.
  std::vector<int> y8(256), y16(256);
  if (from == rvpf8BitPalette)
    for (int i = 0; i < 256; ++i) {
      const TRGB& c = Source.FPalette[static_cast<std::size_t>(i)];
      y8[static_cast<std::size_t>(i)] = RvGray(c.r, c.g, c.b);
      y16[static_cast<std::size_t>(i)] = RvGray16(c.r, c.g, c.b);
    }
  std::vector<std::uint8_t> line(static_cast<std::size_t>(Source.FRowLen));
  for (int y = 0; y < FHeight; ++y) {
    // The source row is copied away: in the file kind only one row of a
    // bitmap is addressable at a time, and the quantiser reads the source.
    std::memcpy(line.data(), Source.Scanline(y), line.size());
    const std::uint8_t* s = line.data();
    std::uint8_t* d = Scanline(y);
    auto put16 = [&](int x, unsigned v) {
      d[2 * x] = static_cast<std::uint8_t>(v);
      d[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto get16 = [&](int x) { return static_cast<unsigned>(s[2 * x] | (s[2 * x + 1] << 8)); };
    for (int x = 0; x < w; ++x) {
      const int D = RvDitherMatrix[x & 7][y & 7];
      switch (from) {
        case rvpf1Bit: {
          const bool set = RvTestBit(s, x);
          switch (to) {
            case rvpf8BitPalette: d[x] = set ? 1 : 0; break;
            case rvpf8BitGray: d[x] = set ? 255 : 0; break;
            case rvpf16BitGray: put16(x, set ? 65535u : 0u); break;
            case rvpf24Bit: std::memset(d + 3 * x, set ? 255 : 0, 3); break;
            default: break;
          }
          break;
        }
        case rvpf8BitPalette: {
          const TRGB& c = Source.FPalette[s[x]];
          switch (to) {
            case rvpf1Bit: RvSetBit(d, x, (y8[s[x]] >> 2) > D); break;
            case rvpf8BitGray: d[x] = static_cast<std::uint8_t>(y8[s[x]]); break;
            case rvpf16BitGray: put16(x, static_cast<unsigned>(y16[s[x]])); break;
            case rvpf24Bit:
              d[3 * x] = c.b;
              d[3 * x + 1] = c.g;
              d[3 * x + 2] = c.r;
              break;
            default: break;
          }
          break;
        }
        case rvpf8BitGray: {
          const unsigned g = s[x];
          switch (to) {
            case rvpf1Bit: RvSetBit(d, x, static_cast<int>(g >> 2) > D); break;
            case rvpf8BitPalette: d[x] = static_cast<std::uint8_t>(g); break;
            case rvpf16BitGray: put16(x, g << 8); break;
            case rvpf24Bit: std::memset(d + 3 * x, static_cast<int>(g), 3); break;
            default: break;
          }
          break;
        }
        case rvpf16BitGray: {
          const unsigned G = get16(x);
          switch (to) {
            case rvpf1Bit: RvSetBit(d, x, static_cast<int>(G >> 10) > D); break;
            case rvpf8BitPalette:
            case rvpf8BitGray: d[x] = static_cast<std::uint8_t>(G >> 8); break;
            case rvpf24Bit: std::memset(d + 3 * x, static_cast<int>(G >> 8), 3); break;
            default: break;
          }
          break;
        }
        case rvpf24Bit: {
          const unsigned B = s[3 * x], Gc = s[3 * x + 1], R = s[3 * x + 2];
          switch (to) {
            case rvpf1Bit: RvSetBit(d, x, (RvGray(R, Gc, B) >> 2) > D); break;
            case rvpf8BitPalette: {
              const int index = quantizer->RGBIndex((R << 16) | (Gc << 8) | B);
              d[x] = static_cast<std::uint8_t>(std::clamp(index, 0, 255));
              break;
            }
            case rvpf8BitGray: d[x] = static_cast<std::uint8_t>(RvGray(R, Gc, B)); break;
            case rvpf16BitGray: put16(x, static_cast<unsigned>(RvGray16(R, Gc, B))); break;
            default: break;
          }
          break;
        }
        default: break;
      }
    }
  }
}

void TRvBitmap::ConvertPixelFormat(TRvPixelFormat Value) {
  if (FLocation == rvlTBitmap) {
    ConvertInTBitmap(Value);
    return;
  }
  TRvBitmap temp;
  MoveStorageTo(&temp);
  Allocate(temp.FWidth, temp.FHeight, Value);
  ConvertRows(temp);
  UpdateTBitmapPalette();
}

void TRvBitmap::ConvertInTBitmap(TRvPixelFormat Value) {
  // The class-library bitmap converts only between 1 and 24 bits; every
  // pair goes through a library bitmap instead, into the same TBitmap so
  // that a wrapped one stays its owner's.
  TRvBitmap temp;
  temp.Allocate(FWidth, FHeight, FPixelFormat);
  if (temp.FWidth >= 1 && temp.FHeight >= 1 && temp.FPixelFormat != rvpfNone) {
    temp.CopyRowsFrom(*this, FHeight, FRowLen);
    temp.CopyPaletteFrom(*this);
  }
  temp.ConvertPixelFormat(Value == rvpf16BitGray ? rvpf8BitGray : Value);
  RemoveAlphaChannel();
  const bool external = FExternal;
  platform::TBitmap* bitmap = FTBitmap;
  std::unique_ptr<platform::TBitmap> owned = std::move(FOwnedTBitmap);
  FPalette.clear();
  FPaletteCount = 0;
  FWidth = temp.FWidth;
  FHeight = temp.FHeight;
  FPixelFormat = Value;
  FTBitmap = bitmap;
  FOwnedTBitmap = std::move(owned);
  FExternal = external;
  if (FPixelFormat == rvpf8BitPalette) {
    FPalette.assign(256, TRGB{});
    FPaletteCount = 256;
  }
  if (FWidth >= 1 && FHeight >= 1 && FPixelFormat != rvpfNone) {
    BuildTBitmap();
    CopyRowsFrom(temp, FHeight, FRowLen);
    CopyPaletteFrom(temp);
  } else {
    FBitCount = RvPixelFormatBitCount(FPixelFormat);
    FRowLen = static_cast<int>(RvRowLen(std::max(FWidth, 0), FBitCount));
  }
  FFull = false;
  UpdateTBitmapPalette();
}

void TRvBitmap::SetLocation(TRvBitmapLocation Value) {
  if (Value == FLocation) return;
  const bool empty = FWidth < 1 || FHeight < 1 || FPixelFormat == rvpfNone ||
                     (FLocation == rvlTBitmap && FTBitmap == nullptr);
  if (empty) {
    FLocation = Value;
    return;
  }
  TRvBitmap temp;
  MoveStorageTo(&temp);
  FLocation = Value;
  Allocate(temp.FWidth, temp.FHeight, temp.FPixelFormat);
  if (temp.FPixelFormat == rvpf16BitGray && FPixelFormat == rvpf8BitGray) {
    // 16-bit gray kept as 8 bits: the high byte of each value.
    for (int y = 0; y < FHeight; ++y) {
      const std::uint8_t* s = temp.Scanline(y);
      std::uint8_t* d = Scanline(y);
      for (int x = 0; x < FWidth; ++x) d[x] = s[2 * x + 1];
    }
  } else {
    CopyRowsFrom(temp, FHeight, std::min(FRowLen, temp.FRowLen));
  }
  CopyPaletteFrom(temp);
  UpdateTBitmapPalette();
  FFull = temp.FFull;
  // The alpha channel moves along instead of being lost.
  if (temp.FAlpha) {
    FAlpha = std::move(temp.FAlpha);
    FAlpha->SetLocation(Value);
  }
}

void TRvBitmap::UpdateTBitmapPalette() {
  if (FLocation != rvlTBitmap || FPaletteCount < 1 || FTBitmap == nullptr) return;
  std::vector<platform::TPaletteEntry> entries(static_cast<std::size_t>(FPaletteCount));
  for (int i = 0; i < FPaletteCount; ++i) {
    const TRGB& c = FPalette[static_cast<std::size_t>(i)];
    entries[static_cast<std::size_t>(i)] = {c.r, c.g, c.b, 0};
  }
  FTBitmap->SetPaletteEntries(0, FPaletteCount, entries.data());
}

platform::TCanvas& TRvBitmap::Canvas() {
  if (FLocation == rvlMemory || FLocation == rvlFile) SetLocation(rvlTBitmap);
  if (FTBitmap == nullptr) {
    FOwnedTBitmap = std::make_unique<platform::TBitmap>();
    FTBitmap = FOwnedTBitmap.get();
  }
  return FTBitmap->Canvas();
}

// ---------------------------------------------------------------- assignment

void TRvBitmap::Assign(TRvBaseBitmap* Source) {
  TRvBitmap* src = dynamic_cast<TRvBitmap*>(Source);
  if (src == nullptr || src == this) return;
  const bool sixteenToEight = FLocation == rvlTBitmap && src->FPixelFormat == rvpf16BitGray;
  if (FLocation != rvlTBitmap) {
    FreeBits();
    FWidth = src->FWidth;
    FHeight = src->FHeight;
    FPixelFormat = src->FPixelFormat;
    AllocateStorage();
  } else {
    FPalette.clear();
    FPaletteCount = 0;
    FWidth = src->FWidth;
    FHeight = src->FHeight;
    FPixelFormat = src->FPixelFormat;
    if (FPixelFormat == rvpf8BitPalette) {
      FPalette.assign(256, TRGB{});
      FPaletteCount = 256;
    }
    if (FWidth >= 1 && FHeight >= 1 && FPixelFormat != rvpfNone) {
      BuildTBitmap();
    } else {
      FBitCount = 0;
      FRowLen = 0;
    }
    // An alpha channel of another size would describe pixels that do not exist.
    if (FAlpha && (FAlpha->FWidth != FWidth || FAlpha->FHeight != FHeight)) FAlpha.reset();
  }
  FFull = src->FFull;
  if (FWidth >= 1 && FHeight >= 1 && FPixelFormat != rvpfNone) {
    if (sixteenToEight) {
      for (int y = 0; y < FHeight; ++y) {
        const std::uint8_t* s = src->Scanline(y);
        std::uint8_t* d = Scanline(y);
        for (int x = 0; x < FWidth; ++x) d[x] = s[2 * x + 1];
      }
    } else {
      CopyRowsFrom(*src, FHeight, FRowLen);
    }
  }
  if (!FIsAlpha && src->FAlpha) {
    TRvBitmap* alpha = GetAlphaChannel();
    if (alpha->FWidth >= 1 && alpha->FHeight >= 1)
      alpha->CopyRowsFrom(*src->FAlpha, alpha->FHeight, std::min(alpha->FRowLen, src->FAlpha->FRowLen));
    alpha->FFull = src->FAlpha->FFull;
  }
  CopyPaletteFrom(*src);
  UpdateTBitmapPalette();
}

void TRvBitmap::AssignTBitmapOutside(const platform::TBitmap* Bitmap) {
  using namespace platform;
  const TPixelFormat pf = Bitmap->PixelFormat();
  const int w = Bitmap->Width(), h = Bitmap->Height();
  TRvPixelFormat format;
  switch (pf) {
    case pf1bit: format = Bitmap->Monochrome() ? rvpf1Bit : rvpf8BitPalette; break;
    case pf4bit:
    case pf8bit: format = rvpf8BitPalette; break;
    case pf15bit:
    case pf16bit:
    case pf24bit:
    case pf32bit: format = rvpf24Bit; break;
    default: return;
  }
  Allocate(w, h, format);
  if (format == rvpf8BitPalette) {
    const int n = Bitmap->PaletteSize();
    std::vector<TPaletteEntry> entries(static_cast<std::size_t>(n));
    Bitmap->GetPaletteEntries(0, n, entries.data());
    for (int i = 0; i < n && i < FPaletteCount; ++i) {
      const auto& e = entries[static_cast<std::size_t>(i)];
      FPalette[static_cast<std::size_t>(i)] = TRGB{e.peBlue, e.peGreen, e.peRed};
    }
  }
  if (w >= 1 && h >= 1) {
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* s = Bitmap->ScanLine(y);
      std::uint8_t* d = Scanline(y);
      switch (pf) {
        case pf1bit:
          if (format == rvpf1Bit)
            std::memcpy(d, s, static_cast<std::size_t>(FRowLen));
          else
            for (int x = 0; x < w; ++x) d[x] = RvTestBit(s, x) ? 1 : 0;
          break;
        case pf4bit:
          for (int x = 0; x < w; ++x) d[x] = (x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4);
          break;
        case pf8bit: std::memcpy(d, s, static_cast<std::size_t>(w)); break;
        case pf15bit:
          for (int x = 0; x < w; ++x) {
            const unsigned v = s[2 * x] | (s[2 * x + 1] << 8);
            d[3 * x + 2] = static_cast<std::uint8_t>(((v >> 10) & 31) << 3);
            d[3 * x + 1] = static_cast<std::uint8_t>(((v >> 5) & 31) << 3);
            d[3 * x] = static_cast<std::uint8_t>((v & 31) << 3);
          }
          break;
        case pf16bit:
          for (int x = 0; x < w; ++x) {
            const unsigned v = s[2 * x] | (s[2 * x + 1] << 8);
            d[3 * x + 2] = static_cast<std::uint8_t>((v >> 8) & 0xF8);
            d[3 * x + 1] = static_cast<std::uint8_t>(((v >> 5) & 63) << 2);
            d[3 * x] = static_cast<std::uint8_t>((v & 31) << 3);
          }
          break;
        case pf24bit: std::memcpy(d, s, static_cast<std::size_t>(w) * 3); break;
        case pf32bit:
          for (int x = 0; x < w; ++x) std::memcpy(d + 3 * x, s + 4 * x, 3);
          break;
        default: break;
      }
    }
  }
  FFull = false;
}

void TRvBitmap::AssignTBitmap(const platform::TBitmap* Bitmap) {
  if (Bitmap == nullptr || Bitmap == FTBitmap) return;
  if (FLocation != rvlTBitmap) {
    AssignTBitmapOutside(Bitmap);
    return;
  }
  const platform::TPixelFormat pf = Bitmap->PixelFormat();
  if (pf == platform::pf1bit || pf == platform::pf24bit) {
    if (FTBitmap == nullptr) {
      FOwnedTBitmap = std::make_unique<platform::TBitmap>();
      FTBitmap = FOwnedTBitmap.get();
    }
    FAlpha.reset();
    RvCopyBitmap(Bitmap, FTBitmap);
    if (pf == platform::pf1bit) FTBitmap->SetMonochrome(true);
    FWidth = FTBitmap->Width();
    FHeight = FTBitmap->Height();
    FPixelFormat = pf == platform::pf1bit ? rvpf1Bit : rvpf24Bit;
    FPalette.clear();
    FPaletteCount = 0;
    FBitCount = RvPixelFormatBitCount(FPixelFormat);
    FRowLen = static_cast<int>(RvRowLen(FWidth, FBitCount));
    FFull = false;
    return;
  }
  // Other formats are converted through a library bitmap in memory.
  TRvBitmap temp;
  temp.SetLocation(rvlMemory);
  temp.AssignTBitmapOutside(Bitmap);
  if (temp.FPixelFormat == rvpfNone) return;
  FAlpha.reset();
  Assign(&temp);
}

// ---------------------------------------------------------------- other pictures

void TRvBitmap::CopyFromTBitmap(platform::TBitmap* Bitmap) {
  FreeBits();
  if (Bitmap == nullptr) return;
  TRvPixelFormat format;
  if (Bitmap->PixelFormat() == platform::pf1bit)
    format = rvpf1Bit;
  else if (Bitmap->PixelFormat() == platform::pf24bit)
    format = rvpf24Bit;
  else
    return; // only 1- and 24-bit class-library bitmaps share our row layout
  FWidth = Bitmap->Width();
  FHeight = Bitmap->Height();
  FPixelFormat = format;
  FBitCount = RvPixelFormatBitCount(format);
  FRowLen = static_cast<int>(RvRowLen(FWidth, FBitCount));
  FLocation = rvlTBitmap;
  FExternal = true;
  FTBitmap = Bitmap;
}

void TRvBitmap::CopyToTBitmap(platform::TBitmap* Bitmap) {
  using namespace platform;
  if (Bitmap == nullptr || Bitmap == FTBitmap) return;
  Bitmap->SetSize(1, 1);
  auto grayPalette = [&] {
    TPaletteEntry gray[256];
    for (int i = 0; i < 256; ++i)
      gray[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), 0};
    Bitmap->SetPaletteEntries(0, 256, gray);
  };
  switch (FPixelFormat) {
    case rvpf1Bit: {
      Bitmap->SetPixelFormat(pf1bit);
      const TPaletteEntry bw[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
      Bitmap->SetPaletteEntries(0, 2, bw);
      Bitmap->SetMonochrome(true);
      break;
    }
    case rvpf8BitPalette: {
      Bitmap->SetPixelFormat(pf8bit);
      TPaletteEntry entries[256];
      for (int i = 0; i < 256 && i < FPaletteCount; ++i)
        entries[i] = {FPalette[static_cast<std::size_t>(i)].r, FPalette[static_cast<std::size_t>(i)].g,
                      FPalette[static_cast<std::size_t>(i)].b, 0};
      Bitmap->SetPaletteEntries(0, 256, entries);
      break;
    }
    case rvpf8BitGray:
      Bitmap->SetPixelFormat(pf8bit);
      grayPalette();
      break;
    case rvpf16BitGray:
      Bitmap->SetPixelFormat(pf8bit);
      grayPalette();
      Bitmap->SetSize(FWidth, FHeight);
      for (int y = 0; y < FHeight; ++y) {
        const std::uint8_t* s = Scanline(y);
        std::uint8_t* d = Bitmap->ScanLine(y);
        for (int x = 0; x < FWidth; ++x) d[x] = s[2 * x + 1];
      }
      return;
    case rvpf24Bit: Bitmap->SetPixelFormat(pf24bit); break;
    default: break;
  }
  Bitmap->SetSize(FWidth, FHeight);
  if (FPixelFormat == rvpfNone || FWidth < 1 || FHeight < 1) return;
  for (int y = 0; y < FHeight; ++y) {
    const std::uint8_t* s = Scanline(y);
    std::memcpy(Bitmap->ScanLine(y), s, static_cast<std::size_t>(FRowLen));
  }
}

void TRvBitmap::CopyFromMask(const TRvMask* Mask) {
  if (Mask == nullptr) {
    Fill(255);
    return;
  }
  TRvMask* mask = const_cast<TRvMask*>(Mask);
  if (mask->BitCount() == 1)
    Allocate(mask->Width(), mask->Height(), rvpf1Bit);
  else if (mask->BitCount() == 8)
    Allocate(mask->Width(), mask->Height(), rvpf8BitGray);
  else
    return;
  if (FWidth >= 1 && FHeight >= 1) {
    const int bytes = std::min(FRowLen, mask->RowLen());
    for (int y = 0; y < FHeight; ++y)
      std::memcpy(Scanline(y), mask->ScanLine(y), static_cast<std::size_t>(bytes));
  }
  FFull = mask->Full();
}

void TRvBitmap::CopyToMask(TRvMask* Mask) {
  if (Mask == nullptr) return;
  if (FPixelFormat == rvpf1Bit)
    Mask->Allocate(FWidth, FHeight, 1);
  else if (FPixelFormat == rvpf8BitGray)
    Mask->Allocate(FWidth, FHeight, 8);
  else
    return;
  if (Mask->Bits() != nullptr) {
    const int bytes = std::min(FRowLen, Mask->RowLen());
    for (int y = 0; y < FHeight; ++y) {
      const std::uint8_t* s = Scanline(y);
      std::memcpy(Mask->ScanLine(y), s, static_cast<std::size_t>(bytes));
    }
  }
  Mask->SetFull(FFull);
}

void TRvBitmap::CopyFromDIB(TRvBaseBitmap* Dib) {
  if (Dib == nullptr || Dib == this) return;
  TRvPixelFormat format;
  if (Dib->BitCount() == 1)
    format = rvpf1Bit;
  else if (Dib->BitCount() == 24)
    format = rvpf24Bit;
  else
    return;
  if (FLocation != rvlTBitmap) {
    Allocate(Dib->Width(), Dib->Height(), format);
  } else {
    FAlpha.reset();
    FPalette.clear();
    FPaletteCount = 0;
    FWidth = Dib->Width();
    FHeight = Dib->Height();
    FPixelFormat = format;
    if (FWidth >= 1 && FHeight >= 1) BuildTBitmap();
    FFull = false;
  }
  if (FWidth < 1 || FHeight < 1) return;
  const int bytes = std::min(FRowLen, Dib->RowLen());
  for (int y = 0; y < FHeight; ++y) {
    const std::uint8_t* s = Dib->Scanline(y);
    std::memcpy(Scanline(y), s, static_cast<std::size_t>(bytes));
  }
}

void TRvBitmap::GetPixelRGB(int X, int Y, TRGB& Color) {
  Color = TRGB{0, 0, 0};
  if (FPixelFormat == rvpfNone || FWidth < 1 || FHeight < 1) return;
  const std::uint8_t* row = Scanline(Y);
  switch (FPixelFormat) {
    case rvpf1Bit:
      if (RvTestBit(row, X)) Color = TRGB{255, 255, 255};
      break;
    case rvpf8BitPalette:
      if (!FPalette.empty()) Color = FPalette[row[X]];
      break;
    case rvpf8BitGray: Color = TRGB{row[X], row[X], row[X]}; break;
    case rvpf16BitGray: Color = TRGB{row[2 * X + 1], row[2 * X + 1], row[2 * X + 1]}; break;
    case rvpf24Bit: Color = TRGB{row[3 * X], row[3 * X + 1], row[3 * X + 2]}; break;
    default: break;
  }
}

void TRvBitmap::Fill(int Value) {
  if (FPixelFormat == rvpfNone) return;
  const bool rows = FWidth >= 1 && FHeight >= 1;
  switch (FPixelFormat) {
    case rvpf1Bit: {
      const int byte = Value > 0 ? 255 : (Value & 255);
      if (rows)
        for (int y = 0; y < FHeight; ++y) std::memset(Scanline(y), byte, static_cast<std::size_t>(FRowLen));
      FFull = Value != 0;
      break;
    }
    case rvpf8BitPalette:
    case rvpf8BitGray:
      if (rows)
        for (int y = 0; y < FHeight; ++y) std::memset(Scanline(y), Value & 255, static_cast<std::size_t>(FRowLen));
      FFull = Value == 255;
      break;
    case rvpf16BitGray:
      if (rows)
        for (int y = 0; y < FHeight; ++y) {
          std::uint8_t* d = Scanline(y);
          for (int x = 0; x < FWidth; ++x) {
            d[2 * x] = static_cast<std::uint8_t>(Value);
            d[2 * x + 1] = static_cast<std::uint8_t>(Value >> 8);
          }
        }
      FFull = Value == 65535;
      break;
    case rvpf24Bit: {
      TRGB c;
      RvColorToRGB(Value, c);
      if (rows)
        for (int y = 0; y < FHeight; ++y) {
          std::uint8_t* d = Scanline(y);
          for (int x = 0; x < FWidth; ++x, d += 3) {
            d[0] = c.b;
            d[1] = c.g;
            d[2] = c.r;
          }
        }
      FFull = c.r == 255 && c.g == 255 && c.b == 255;
      break;
    }
    default: break;
  }
}

} // namespace rv

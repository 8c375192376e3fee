// The image library's picture: pixels in one of six formats, kept in process
// memory, in a mapped temporary file (pictures too large for memory) or in a
// class-library bitmap, with an optional 8-bit alpha channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/model/rvhelpers.h"
#include "platform/graphics.h"

namespace rv {

class TRvMask;

enum TRvPixelFormat : std::uint8_t {
  rvpfNone = 0,
  rvpf1Bit = 1,        // a set bit is white, most significant bit leftmost
  rvpf8BitPalette = 2, // index into the 256-entry palette
  rvpf8BitGray = 3,
  rvpf16BitGray = 4, // little-endian words
  rvpf24Bit = 5,     // blue, green, red
};

enum TRvBitmapLocation : std::uint8_t { rvlMemory = 0, rvlFile = 1, rvlTBitmap = 2 };

// Bits per pixel of a format (0 for none).
int RvPixelFormatBitCount(TRvPixelFormat Format);

// The library's temporary-folder setting; empty means the system's.
extern std::string RvTempFolder;
// The folder temporaries go to: RvTempFolder, else the system's.
std::string RvTempPath();
// Removes the work files left in RvTempPath() by processes that are gone
// (killed, or crashed); answers how many.
int RvRemoveStaleTempFiles();
// Free physical memory in bytes (0 when it cannot be read).
std::uint64_t RvAvailablePhysicalMemory();

// What row-by-row code (copies, resampling, the thumbnail store) needs of a
// picture, shared by the library bitmap and the DIB bitmap.
class TRvBaseBitmap {
public:
  virtual ~TRvBaseBitmap() = default;
  // Row Row, 0 the top row; no range check.
  virtual std::uint8_t* Scanline(int Row) = 0;
  virtual int BitCount() const = 0;
  virtual int Height() const = 0;
  virtual int Width() const = 0;
  virtual TRvPixelFormat PixelFormat() const = 0;
  virtual int RowLen() const = 0;
  virtual void Allocate(int Width, int Height, TRvPixelFormat PixelFormat) = 0;
  // Copies a source of the same class; others are ignored.
  virtual void Assign(TRvBaseBitmap* Source) = 0;
};

// A temporary file mapped into memory in views.
class TRvMemoryMapped {
public:
  TRvMemoryMapped() = default;
  ~TRvMemoryMapped();
  TRvMemoryMapped(const TRvMemoryMapped&) = delete;
  TRvMemoryMapped& operator=(const TRvMemoryMapped&) = delete;

  // Creates the file (a new "rastrum" file in the temporary folder when Name
  // is empty) at Size bytes. False, with nothing left behind, on failure.
  bool Allocate(const std::string& Name, std::uint64_t Size);
  bool Allocate(const std::string& Name, std::uint32_t SizeLow, std::uint32_t SizeHigh) {
    return Allocate(Name, (static_cast<std::uint64_t>(SizeHigh) << 32) | SizeLow);
  }
  // Unmaps every view, closes and deletes the file.
  void Deallocate();
  bool IsAllocated() const { return FFile >= 0; }
  // Moves the end of the file; views stay mapped. False on failure.
  bool Resize(std::uint64_t Size);
  // Maps Size bytes from Offset (any offset; the platform's alignment is
  // handled here). Null on failure.
  void* MapView(std::uint64_t Offset, std::size_t Size);
  void* MapView(std::uint32_t OffsetHigh, std::uint32_t OffsetLow, std::uint32_t Size) {
    return MapView((static_cast<std::uint64_t>(OffsetHigh) << 32) | OffsetLow, Size);
  }
  void UnmapView(void* View);
  void UnmapAll();

  const std::string& FileName() const { return FFileName; }
  std::uint64_t Size() const { return FSize; }
  int ViewCount() const { return static_cast<int>(FViews.size()); }

private:
  struct TView {
    void* Address; // as handed out
    void* Base;    // as mapped (page aligned)
    std::size_t Length;
  };
  int FFile = -1;
  std::string FFileName;
  std::uint64_t FSize = 0;
  std::vector<TView> FViews;
};

class TRvBitmap : public TRvBaseBitmap {
public:
  TRvBitmap();
  ~TRvBitmap() override;
  TRvBitmap(const TRvBitmap&) = delete;
  TRvBitmap& operator=(const TRvBitmap&) = delete;

  // An alpha channel: 8-bit gray, pixels not initialised.
  static std::unique_ptr<TRvBitmap> CreateAsAlpha(int Width, int Height,
                                                  TRvBitmapLocation Location);

  // In the file kind a window of rows around the one asked for is mapped;
  // a row address stays valid only until the next Scanline call.
  std::uint8_t* Scanline(int Row) override;
  int BitCount() const override { return FBitCount; }
  int Height() const override { return FHeight; }
  int Width() const override { return FWidth; }
  TRvPixelFormat PixelFormat() const override { return FPixelFormat; }
  int RowLen() const override { return FRowLen; }
  // Raises std::bad_alloc (leaving the bitmap empty) when the pixels cannot
  // be held, a row length that does not fit 32 bits included.
  void Allocate(int Width, int Height, TRvPixelFormat PixelFormat) override;
  // From a TRvBitmap; anything else is ignored.
  void Assign(TRvBaseBitmap* Source) override;
  // A copy of a class-library bitmap, converted to a library format.
  void AssignTBitmap(const platform::TBitmap* Bitmap);

  // Alpha channel (none for a bitmap that is itself one).
  TRvBitmap* GetAlphaChannel();
  bool HasAlphaChannel() const { return FAlpha != nullptr; }
  void RemoveAlphaChannel();
  bool IsAlpha() const { return FIsAlpha; }

  void SetWidth(int Value);
  void SetHeight(int Value);
  void SetPixelFormat(TRvPixelFormat Value);
  void ConvertPixelFormat(TRvPixelFormat Value);
  TRvBitmapLocation Location() const { return FLocation; }
  void SetLocation(TRvBitmapLocation Value);
  void FreeBits();
  // Moves the pixels into the class-library kind first.
  platform::TCanvas& Canvas();

  // Wraps (does not copy) a 1- or 24-bit class-library bitmap; other
  // formats leave this bitmap empty.
  void CopyFromTBitmap(platform::TBitmap* Bitmap);
  void CopyToTBitmap(platform::TBitmap* Bitmap);
  void CopyFromMask(const TRvMask* Mask);
  void CopyToMask(TRvMask* Mask);
  // Takes the pixels of a 1- or 24-bit DIB bitmap.
  void CopyFromDIB(TRvBaseBitmap* Dib);
  void GetPixelRGB(int X, int Y, TRGB& Color);
  void Fill(int Value);

  // 256 entries for the palette format, null otherwise.
  TRGB* Palette() { return FPalette.empty() ? nullptr : FPalette.data(); }
  const TRGB* Palette() const { return FPalette.empty() ? nullptr : FPalette.data(); }
  int PaletteCount() const { return FPaletteCount; }
  void UpdateTBitmapPalette();

  bool Full() const { return FFull; }
  void SetFull(bool Value) { FFull = Value; }
  // The class-library bitmap of the TBitmap kind.
  platform::TBitmap* TBitmap() const { return FTBitmap; }
  bool External() const { return FExternal; }

  // Below this many bytes a picture asked for in the file kind stays in
  // memory: half the free physical memory (8 MB when unknown).
  std::uint64_t MapThreshold() const { return FMapThreshold; }
  void SetMapThreshold(std::uint64_t Value) { FMapThreshold = Value; }
  // Size of the file kind's mapped window of rows.
  static constexpr std::uint64_t MapWindow = 32ull << 20;

  void MoveStorageTo(TRvBitmap* Dest);

private:
  void AllocateStorage();
  void BuildTBitmap();
  void ConvertInTBitmap(TRvPixelFormat Value);
  void AssignTBitmapOutside(const platform::TBitmap* Bitmap);
  void UnmapCurrent();
  void ResizeAxis(int Value, bool Horizontal);
  void CopyRowsFrom(TRvBitmap& Source, int Rows, int Bytes);
  void CopyPaletteFrom(const TRvBitmap& Source);
  void ConvertRows(TRvBitmap& Source);
  void Fail();

  std::unique_ptr<TRvMemoryMapped> FStore;
  int FWidth = 0;
  int FHeight = 0;
  int FBitCount = 0;
  // The mapped window of the file kind.
  std::uint8_t* FView = nullptr;
  std::uint64_t FViewOffset = 0;
  std::uint64_t FViewSize = 0;
  int FRowLen = 0;
  TRvPixelFormat FPixelFormat = rvpfNone;
  std::vector<TRGB> FPalette;
  int FPaletteCount = 0;
  std::unique_ptr<TRvBitmap> FAlpha;
  bool FIsAlpha = false;
  std::unique_ptr<std::uint8_t[]> FMemory;
  platform::TBitmap* FTBitmap = nullptr;
  std::unique_ptr<platform::TBitmap> FOwnedTBitmap; // FTBitmap when not External
  TRvBitmapLocation FLocation = rvlFile;
  bool FFull = false;
  bool FExternal = false;
  std::uint64_t FMapThreshold = 0;
};

} // namespace rv

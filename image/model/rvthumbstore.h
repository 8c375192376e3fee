// The thumbnail view's picture store: every picture a bottom-up DIB (a
// 48-byte header, then its rows) in its own 64 KB-aligned block of one mapped
// temporary file. Only a few blocks are mapped at a time, least recently used
// out first; a picture to be drawn or edited is lent out as a class-library
// bitmap from a reference-counted cache.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/model/rvbitmap.h"
#include "platform/graphics.h"

namespace rv {

// One picture of the store; its address is the handle the view keeps.
struct TRvDIBEntry {
  std::uint64_t Offset = 0;   // of the block in the file
  std::uint32_t DataSize = 0; // 48 + Height x RowLen
  std::uint32_t BlockSize = 0;
  std::uint8_t* View = nullptr; // the mapped block, null when not mapped
  int Cached = 0;               // 1 while a bitmap of it is lent out
  int FullWidth = 0;            // free for the owner
  int FullHeight = 0;
};
using TRvDIBHandle = TRvDIBEntry*;

class TRvVirtualDIBList {
public:
  static constexpr std::uint32_t HeaderSize = 48;
  static constexpr std::uint32_t BlockAlign = 65536;

  TRvVirtualDIBList();
  ~TRvVirtualDIBList();
  TRvVirtualDIBList(const TRvVirtualDIBList&) = delete;
  TRvVirtualDIBList& operator=(const TRvVirtualDIBList&) = delete;

  void Clear();
  // Pixels not initialised; null when no block could be had.
  TRvDIBHandle AddBlankImage(int Width, int Height, int BitCount);
  TRvDIBHandle AddBitmap(TRvBaseBitmap* Bitmap);
  void Delete(TRvDIBHandle Handle);

  // Lends the picture out (the same bitmap while it is lent); null when its
  // block cannot be mapped.
  platform::TBitmap* GetBitmap(TRvDIBHandle Handle);
  void ReleaseBitmap(platform::TBitmap* Bitmap, bool WriteBack);
  void ReleaseBitmapOf(TRvDIBHandle Handle, bool WriteBack);

  int ImageWidth(TRvDIBHandle Handle);
  int ImageHeight(TRvDIBHandle Handle);
  int ImageBitCount(TRvDIBHandle Handle);
  // Pixels and header to paint the picture directly. A lent-out picture is
  // described top-down (negative height) from its first row; a stored one is
  // the block's bottom-up rows. Valid until the next call on the store.
  std::uint8_t* ImagePixels(TRvDIBHandle Handle);
  const platform::TBitmapInfo* ImageBitmapInfo(TRvDIBHandle Handle);

  int GetFullWidth(TRvDIBHandle Handle) const { return Handle->FullWidth; }
  int GetFullHeight(TRvDIBHandle Handle) const { return Handle->FullHeight; }
  void SetFullWidth(TRvDIBHandle Handle, int Value) { Handle->FullWidth = Value; }
  void SetFullHeight(TRvDIBHandle Handle, int Value) { Handle->FullHeight = Value; }

  // Grows the file at once by Count blocks for such pictures.
  void Reserve(int Width, int Height, int Count, int BitCount);
  void CopyToTBitmap(TRvDIBHandle Handle, platform::TBitmap* Bitmap);
  void CopyFromTBitmap(TRvDIBHandle Handle, platform::TBitmap* Bitmap);

  int ImageCacheSize() const { return FImageCacheSize; }
  void SetImageCacheSize(int Value) { FImageCacheSize = Value < 1 ? 1 : Value; }
  int Count() const { return static_cast<int>(FImages.size()); }
  TRvDIBHandle Image(int Index) const { return FImages[static_cast<std::size_t>(Index)].get(); }
  int MappedCount() const { return FMappedCount; }
  std::uint64_t FileSize() const { return FFileSize; }
  std::uint64_t Frontier() const { return FFrontier; }
  std::uint64_t GrowBy() const { return FGrowBy; }

private:
  struct TFreeBlock {
    std::uint64_t Offset;
    std::uint64_t Capacity;
  };
  struct TCacheRecord {
    TRvDIBHandle Entry;
    std::unique_ptr<platform::TBitmap> Bitmap;
    int RefCount;
  };

  bool AllocateBlock(TRvDIBEntry& Entry, int Width, int Height, int BitCount);
  void ResetFile();
  bool MapEntry(TRvDIBEntry& Entry);
  void UnmapEntry(TRvDIBEntry& Entry);
  TCacheRecord* FindCache(TRvDIBHandle Handle);
  TCacheRecord* FindCache(const platform::TBitmap* Bitmap);
  void RemoveCache(TCacheRecord* Record);
  const platform::TBitmapInfoHeader* Header(TRvDIBEntry& Entry);

  TRvMemoryMapped FStore;
  std::uint64_t FFileSize = 65536;
  std::vector<std::unique_ptr<TRvDIBEntry>> FImages;
  std::vector<TRvDIBEntry*> FMapped; // oldest first
  std::vector<TFreeBlock> FFreeBlocks;
  std::uint64_t FFrontier = 0;
  std::uint64_t FGrowBy = 65536;
  int FImageCacheSize = 10;
  int FMappedCount = 0;
  std::vector<TCacheRecord> FCache;
  std::uint64_t FLastBlockSize = 0;
  platform::TBitmapInfo FHeaderBuffer;
};

} // namespace rv

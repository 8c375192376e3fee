#include "image/model/rvthumbstore.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

namespace rv {

namespace {

platform::TPixelFormat FormatOfBits(int BitCount) {
  if (BitCount == 1) return platform::pf1bit;
  // An 8-bit picture keeps its bytes; widened to 24 bits its rows would not fit.
  if (BitCount == 8) return platform::pf8bit;
  return platform::pf24bit;
}

} // namespace

TRvVirtualDIBList::TRvVirtualDIBList() { FStore.Allocate(std::string(), FFileSize); }

TRvVirtualDIBList::~TRvVirtualDIBList() { Clear(); }

void TRvVirtualDIBList::Clear() {
  FCache.clear();
  for (auto& entry : FImages) entry->View = nullptr;
  FImages.clear();
  FMapped.clear();
  FFreeBlocks.clear();
  FStore.Deallocate();
  FFrontier = 0;
  FMappedCount = 0;
}

// --- blocks and mapping ------------------------------------------------------

void TRvVirtualDIBList::ResetFile() {
  FFreeBlocks.clear();
  // The views die with the mapping: no entry may keep the address of one.
  for (TRvDIBEntry* entry : FMapped) entry->View = nullptr;
  FMapped.clear();
  FMappedCount = 0;
  if (FStore.IsAllocated()) {
    FStore.UnmapAll();
    FStore.Resize(FFileSize);
  } else {
    FStore.Deallocate();
    FStore.Allocate(std::string(), FFileSize);
  }
}

bool TRvVirtualDIBList::MapEntry(TRvDIBEntry& Entry) {
  if (Entry.View != nullptr) {
    auto it = std::find(FMapped.begin(), FMapped.end(), &Entry);
    if (it != FMapped.end()) {
      FMapped.erase(it);
      FMapped.push_back(&Entry);
    }
    return true;
  }
  if (!FStore.IsAllocated()) return false;
  // A block past the end of the file (a growth that failed) cannot be mapped.
  if (Entry.Offset + Entry.BlockSize > FStore.Size()) return false;
  while (FMappedCount + 1 > FImageCacheSize && !FMapped.empty()) UnmapEntry(*FMapped.front());
  void* view = FStore.MapView(Entry.Offset, Entry.BlockSize);
  if (view == nullptr) return false;
  Entry.View = static_cast<std::uint8_t*>(view);
  ++FMappedCount;
  FMapped.push_back(&Entry);
  return true;
}

void TRvVirtualDIBList::UnmapEntry(TRvDIBEntry& Entry) {
  if (Entry.View == nullptr) return;
  FStore.UnmapView(Entry.View);
  auto it = std::find(FMapped.begin(), FMapped.end(), &Entry);
  if (it != FMapped.end()) FMapped.erase(it);
  --FMappedCount;
  Entry.View = nullptr;
}

bool TRvVirtualDIBList::AllocateBlock(TRvDIBEntry& Entry, int Width, int Height, int BitCount) {
  if (Width < 1 || Height < 1 || BitCount < 1 || BitCount > 32) return false;
  const std::uint64_t rowLen = static_cast<std::uint64_t>(RvRowLen(Width, BitCount));
  const std::uint64_t dataSize = static_cast<std::uint64_t>(Height) * rowLen + HeaderSize;
  if (dataSize > std::numeric_limits<std::uint32_t>::max() - BlockAlign) return false;
  const std::uint64_t blockSize = (dataSize + BlockAlign - 1) & ~std::uint64_t{BlockAlign - 1};

  std::uint64_t offset = 0;
  std::uint64_t newFrontier = FFrontier;
  auto freeBlock = std::find_if(FFreeBlocks.begin(), FFreeBlocks.end(),
                                [&](const TFreeBlock& b) { return b.Capacity >= blockSize; });
  std::optional<TFreeBlock> reused;
  if (freeBlock != FFreeBlocks.end()) {
    reused = *freeBlock;
    offset = freeBlock->Offset;
    FFreeBlocks.erase(freeBlock);
  } else {
    offset = FFrontier;
    if (blockSize > FGrowBy) FGrowBy = FLastBlockSize + blockSize;
    FLastBlockSize = blockSize;
    newFrontier = FFrontier + blockSize;
    if (newFrontier > FFileSize || !FStore.IsAllocated() || newFrontier > FStore.Size()) {
      if (newFrontier > FFileSize) FFileSize = std::max(FFileSize + FGrowBy, newFrontier);
      ResetFile();
      if (!FStore.IsAllocated() || FStore.Size() < newFrontier) {
        // The file could not grow (a full disk, a size limit): no block. The
        // size is the one the file has, so that the next picture tries again
        // instead of taking a block past the end.
        if (FStore.IsAllocated()) FFileSize = FStore.Size();
        return false;
      }
    }
  }

  // A block whose header cannot be written is no picture: the entry keeps
  // what it described before, and a reused block goes back to the free list.
  const TRvDIBEntry before = Entry;
  Entry.Offset = offset;
  Entry.DataSize = static_cast<std::uint32_t>(dataSize);
  Entry.BlockSize = static_cast<std::uint32_t>(blockSize);
  Entry.View = nullptr;
  Entry.Cached = 0;
  Entry.FullWidth = Width;
  Entry.FullHeight = Height;
  if (!MapEntry(Entry)) {
    Entry = before;
    if (reused) FFreeBlocks.push_back(*reused);
    return false;
  }
  std::memset(Entry.View, 0, HeaderSize);
  platform::TBitmapInfoHeader header;
  header.biWidth = Width;
  header.biHeight = Height;
  header.biBitCount = static_cast<std::uint16_t>(BitCount);
  std::memcpy(Entry.View, &header, sizeof header);
  const platform::TRGBQuad white{255, 255, 255, 0};
  std::memcpy(Entry.View + 44, &white, sizeof white);
  FFrontier = newFrontier;
  return true;
}

const platform::TBitmapInfoHeader* TRvVirtualDIBList::Header(TRvDIBEntry& Entry) {
  if (!MapEntry(Entry)) return nullptr;
  return reinterpret_cast<const platform::TBitmapInfoHeader*>(Entry.View);
}

// --- pictures ----------------------------------------------------------------

TRvDIBHandle TRvVirtualDIBList::AddBlankImage(int Width, int Height, int BitCount) {
  auto entry = std::make_unique<TRvDIBEntry>();
  if (!AllocateBlock(*entry, Width, Height, BitCount)) return nullptr;
  FImages.push_back(std::move(entry));
  return FImages.back().get();
}

TRvDIBHandle TRvVirtualDIBList::AddBitmap(TRvBaseBitmap* Bitmap) {
  if (Bitmap == nullptr) return nullptr;
  const int height = Bitmap->Height();
  TRvDIBHandle handle = AddBlankImage(Bitmap->Width(), height, Bitmap->BitCount());
  if (handle == nullptr || handle->View == nullptr) return handle;
  const std::size_t rowLen = static_cast<std::size_t>(RvRowLen(Bitmap->Width(), Bitmap->BitCount()));
  for (int i = 0; i < height; ++i)
    std::memcpy(handle->View + HeaderSize + i * rowLen, Bitmap->Scanline(height - 1 - i), rowLen);
  return handle;
}

void TRvVirtualDIBList::Delete(TRvDIBHandle Handle) {
  auto it = std::find_if(FImages.begin(), FImages.end(),
                         [&](const auto& e) { return e.get() == Handle; });
  if (it == FImages.end()) return;
  FFreeBlocks.push_back({Handle->Offset, Handle->BlockSize});
  if (TCacheRecord* record = FindCache(Handle)) RemoveCache(record);
  UnmapEntry(*Handle);
  FImages.erase(it);
  if (FImages.empty()) {
    FFileSize = FGrowBy;
    FFrontier = 0;
    ResetFile();
  }
}

// --- lending -----------------------------------------------------------------

TRvVirtualDIBList::TCacheRecord* TRvVirtualDIBList::FindCache(TRvDIBHandle Handle) {
  for (auto& r : FCache)
    if (r.Entry == Handle) return &r;
  return nullptr;
}

TRvVirtualDIBList::TCacheRecord* TRvVirtualDIBList::FindCache(const platform::TBitmap* Bitmap) {
  for (auto& r : FCache)
    if (r.Bitmap.get() == Bitmap) return &r;
  return nullptr;
}

void TRvVirtualDIBList::RemoveCache(TCacheRecord* Record) {
  Record->Entry->Cached = 0;
  FCache.erase(FCache.begin() + (Record - FCache.data()));
}

platform::TBitmap* TRvVirtualDIBList::GetBitmap(TRvDIBHandle Handle) {
  if (Handle == nullptr || !MapEntry(*Handle)) return nullptr;
  if (TCacheRecord* record = FindCache(Handle)) {
    ++record->RefCount;
    return record->Bitmap.get();
  }
  auto bitmap = std::make_unique<platform::TBitmap>();
  CopyToTBitmap(Handle, bitmap.get());
  FCache.push_back({Handle, std::move(bitmap), 1});
  Handle->Cached = 1;
  return FCache.back().Bitmap.get();
}

void TRvVirtualDIBList::ReleaseBitmap(platform::TBitmap* Bitmap, bool WriteBack) {
  TCacheRecord* record = FindCache(Bitmap);
  if (record == nullptr) return;
  --record->RefCount;
  if (WriteBack) CopyFromTBitmap(record->Entry, Bitmap);
  if (record->RefCount <= 0) RemoveCache(record);
}

void TRvVirtualDIBList::ReleaseBitmapOf(TRvDIBHandle Handle, bool WriteBack) {
  if (TCacheRecord* record = FindCache(Handle)) ReleaseBitmap(record->Bitmap.get(), WriteBack);
}

// --- queries -----------------------------------------------------------------

int TRvVirtualDIBList::ImageWidth(TRvDIBHandle Handle) {
  if (TCacheRecord* record = FindCache(Handle)) return record->Bitmap->Width();
  const auto* h = Header(*Handle);
  return h ? h->biWidth : 0;
}

int TRvVirtualDIBList::ImageHeight(TRvDIBHandle Handle) {
  if (TCacheRecord* record = FindCache(Handle)) return record->Bitmap->Height();
  const auto* h = Header(*Handle);
  return h ? h->biHeight : 0;
}

int TRvVirtualDIBList::ImageBitCount(TRvDIBHandle Handle) {
  if (TCacheRecord* record = FindCache(Handle)) return record->Bitmap->BitsPerPixel();
  const auto* h = Header(*Handle);
  return h ? h->biBitCount : 0;
}

std::uint8_t* TRvVirtualDIBList::ImagePixels(TRvDIBHandle Handle) {
  if (TCacheRecord* record = FindCache(Handle)) {
    // The lent bitmap's rows run top-down from its first row.
    return record->Bitmap->Empty() ? nullptr : record->Bitmap->ScanLine(0);
  }
  if (!MapEntry(*Handle)) return nullptr;
  return Handle->View + HeaderSize;
}

const platform::TBitmapInfo* TRvVirtualDIBList::ImageBitmapInfo(TRvDIBHandle Handle) {
  FHeaderBuffer = platform::TBitmapInfo();
  if (TCacheRecord* record = FindCache(Handle)) {
    const platform::TBitmap& b = *record->Bitmap;
    FHeaderBuffer.bmiHeader.biWidth = b.Width();
    FHeaderBuffer.bmiHeader.biHeight = -b.Height();
    FHeaderBuffer.bmiHeader.biBitCount = static_cast<std::uint16_t>(b.BitsPerPixel());
    FHeaderBuffer.bmiColors[1] = {255, 255, 255, 0};
    return &FHeaderBuffer;
  }
  if (!MapEntry(*Handle)) return nullptr;
  // The block holds the header and two palette entries only.
  std::memcpy(&FHeaderBuffer.bmiHeader, Handle->View, sizeof FHeaderBuffer.bmiHeader);
  std::memcpy(&FHeaderBuffer.bmiColors[0], Handle->View + 40, 2 * sizeof(platform::TRGBQuad));
  return &FHeaderBuffer;
}

void TRvVirtualDIBList::Reserve(int Width, int Height, int Count, int BitCount) {
  if (Width < 1 || Height < 1 || Count < 1 || BitCount < 1 || BitCount > 32) return;
  const std::uint64_t dataSize =
      static_cast<std::uint64_t>(Height) * static_cast<std::uint64_t>(RvRowLen(Width, BitCount)) + HeaderSize;
  const std::uint64_t blockSize = (dataSize + BlockAlign - 1) & ~std::uint64_t{BlockAlign - 1};
  FFileSize += blockSize * static_cast<std::uint64_t>(Count);
  ResetFile();
}

// --- copies --------------------------------------------------------------------

void TRvVirtualDIBList::CopyToTBitmap(TRvDIBHandle Handle, platform::TBitmap* Bitmap) {
  if (Handle == nullptr || Bitmap == nullptr) return;
  const auto* h = Header(*Handle);
  if (h == nullptr) return;
  const int width = h->biWidth, height = h->biHeight, bits = h->biBitCount;
  const platform::TPixelFormat format = FormatOfBits(bits);
  if (Bitmap->PixelFormat() != format || Bitmap->Width() != width || Bitmap->Height() != height) {
    Bitmap->SetSize(1, 1);
    Bitmap->SetPixelFormat(format);
    Bitmap->SetSize(width, height);
  }
  const std::size_t rowLen = static_cast<std::size_t>(RvRowLen(width, bits));
  const std::size_t bytes = std::min<std::size_t>(rowLen, static_cast<std::size_t>(Bitmap->ScanLineSize()));
  const std::uint8_t* rows = Handle->View + HeaderSize;
  for (int i = 0; i < height; ++i) std::memcpy(Bitmap->ScanLine(height - 1 - i), rows + i * rowLen, bytes);
}

void TRvVirtualDIBList::CopyFromTBitmap(TRvDIBHandle Handle, platform::TBitmap* Bitmap) {
  if (Handle == nullptr || Bitmap == nullptr) return;
  const auto* h = Header(*Handle);
  if (h == nullptr) return;
  const int width = Bitmap->Width(), height = Bitmap->Height(), bits = Bitmap->BitsPerPixel();
  if (h->biWidth != width || h->biHeight != height || h->biBitCount != bits) {
    // A new block for the new size; the old one goes back to the free list.
    const TFreeBlock old{Handle->Offset, Handle->BlockSize};
    const int fullWidth = Handle->FullWidth, fullHeight = Handle->FullHeight;
    UnmapEntry(*Handle);
    if (!AllocateBlock(*Handle, width, height, bits)) return;
    FFreeBlocks.push_back(old);
    // The owner's two integers describe the full picture, not this copy.
    Handle->FullWidth = fullWidth;
    Handle->FullHeight = fullHeight;
    if (Handle->View == nullptr) return;
  }
  const std::size_t rowLen = static_cast<std::size_t>(RvRowLen(width, bits));
  const std::size_t bytes = std::min<std::size_t>(rowLen, static_cast<std::size_t>(Bitmap->ScanLineSize()));
  std::uint8_t* rows = Handle->View + HeaderSize;
  for (int i = 0; i < height; ++i) std::memcpy(rows + i * rowLen, Bitmap->ScanLine(height - 1 - i), bytes);
}

} // namespace rv

#include "image/io/rvsafeio.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/stream.h"

namespace rv {

namespace {
std::atomic<std::int64_t> GMaxPixels{RvDefaultMaxPixels};
std::atomic<std::int64_t> GMaxAllocation{RvDefaultMaxAllocation};
thread_local TRvSizeRefusal GSizeRefusal;
thread_local std::string GKindRefusal;

void NoteSizeRefusal(std::int64_t Width, std::int64_t Height) {
  GSizeRefusal.Refused = true;
  GSizeRefusal.Width = Width;
  GSizeRefusal.Height = Height;
}
} // namespace

void RvClearSizeRefusal() { GSizeRefusal = TRvSizeRefusal(); }
TRvSizeRefusal RvLastSizeRefusal() { return GSizeRefusal; }

void RvNoteKindRefusal(const char* Why) { GKindRefusal = Why; }
void RvClearKindRefusal() { GKindRefusal.clear(); }
std::string RvLastKindRefusal() { return GKindRefusal; }

std::int64_t RvMaxPixels() { return GMaxPixels.load(std::memory_order_relaxed); }
void RvSetMaxPixels(std::int64_t Value) { GMaxPixels.store(Value, std::memory_order_relaxed); }
std::int64_t RvMaxAllocation() { return GMaxAllocation.load(std::memory_order_relaxed); }
void RvSetMaxAllocation(std::int64_t Value) {
  GMaxAllocation.store(Value, std::memory_order_relaxed);
}

bool RvPixelsAllowed(std::int64_t Width, std::int64_t Height) {
  std::int64_t Pixels;
  if (Width < 1 || Height < 1) return false;
  if (RvSizeMul(Width, Height, Pixels) && Pixels <= RvMaxPixels()) return true;
  NoteSizeRefusal(Width, Height);
  return false;
}

bool RvAllocationAllowed(std::int64_t Bytes) { return Bytes >= 0 && Bytes <= RvMaxAllocation(); }

bool RvDataCanFill(std::int64_t Held, std::int64_t Needed, std::int64_t Width, std::int64_t Height) {
  std::int64_t Pixels;
  if (Width >= 0 && Height >= 0 && RvSizeMul(Width, Height, Pixels) && Pixels <= RvUnbackedPixels) return true;
  return Needed <= std::max<std::int64_t>(Held, 0);
}

std::int64_t RvLeastStoredBytes(std::int64_t Decoded, std::int64_t Out, std::int64_t In) {
  if (Decoded <= 0 || Out <= 0 || In <= 0) return 0;
  // Decoded x In / Out rounded up, split so that no product overflows.
  std::int64_t Whole, Rest, Least;
  if (!RvSizeMul(Decoded / Out, In, Whole) || !RvSizeMul(Decoded % Out, In, Rest) ||
      !RvSizeAdd(Whole, (Rest + Out - 1) / Out, Least))
    return INT64_MAX;
  return Least;
}

bool RvSizeMul(std::int64_t A, std::int64_t B, std::int64_t& Result) {
  if (A < 0 || B < 0) return false;
  return !__builtin_mul_overflow(A, B, &Result);
}

bool RvSizeAdd(std::int64_t A, std::int64_t B, std::int64_t& Result) {
  if (A < 0 || B < 0) return false;
  return !__builtin_add_overflow(A, B, &Result);
}

std::int64_t RvPackedRowBytes(std::int64_t Width, std::int64_t BitsPerPixel) {
  std::int64_t Bits;
  if (!RvSizeMul(Width, BitsPerPixel, Bits) || !RvSizeAdd(Bits, 7, Bits)) return -1;
  return Bits / 8;
}

// ---- TRvBuffer

bool TRvBuffer::Allocate(std::int64_t Size) {
  Free();
  if (!RvAllocationAllowed(Size)) return false;
  // One byte at least, so that Data() is never null after success.
  const auto Bytes = static_cast<std::size_t>(std::max<std::int64_t>(Size, 1));
  FData.reset(new (std::nothrow) std::uint8_t[Bytes]());
  if (!FData) return false;
  FSize = Size;
  return true;
}

void TRvBuffer::Free() {
  FData.reset();
  FSize = 0;
}

bool RvAllocateBitmap(TRvBitmap& Bitmap, std::int64_t Width, std::int64_t Height,
                      TRvPixelFormat PixelFormat, bool Clear) {
  const int Bits = RvPixelFormatBitCount(PixelFormat);
  if (Bits == 0) return false;
  if (Width > INT32_MAX || Height > INT32_MAX) {
    NoteSizeRefusal(Width, Height);
    return false;
  }
  if (!RvPixelsAllowed(Width, Height)) return false;
  std::int64_t RowBytes = RvRowLen(Width, Bits);
  std::int64_t Total;
  if (RowBytes < 0 || !RvSizeMul(RowBytes, Height, Total) || !RvAllocationAllowed(Total)) {
    NoteSizeRefusal(Width, Height);
    return false;
  }
  try {
    Bitmap.Allocate(static_cast<int>(Width), static_cast<int>(Height), PixelFormat);
    if (Bitmap.Width() != Width || Bitmap.Height() != Height || Bitmap.PixelFormat() != PixelFormat) {
      NoteSizeRefusal(Width, Height);
      return false;
    }
    // Rows a truncated file never reaches show as zeros, not as old memory.
    const auto RowLen = static_cast<std::size_t>(Bitmap.RowLen());
    for (int Y = 0; Clear && Y < Bitmap.Height(); ++Y) std::memset(Bitmap.Scanline(Y), 0, RowLen);
  } catch (const std::bad_alloc&) {
    NoteSizeRefusal(Width, Height);
    return false;
  }
  return true;
}

// ---- TRvStreamReader

TRvStreamReader::TRvStreamReader(platform::TStream& Stream, std::int64_t Limit)
    : FStream(Stream), FBuf(new std::uint8_t[BufferSize]) {
  FStart = Stream.Position();
  const std::int64_t StreamEnd = std::max(Stream.Size(), FStart);
  FEnd = (Limit < 0 || Limit > StreamEnd - FStart) ? StreamEnd : FStart + Limit;
  FBufPos = FStart;
}

TRvStreamReader::~TRvStreamReader() {
  try {
    Sync();
  } catch (...) {
    // A stream that cannot seek back is left where it stands.
  }
}

void TRvStreamReader::Sync() { FStream.Seek(Position(), platform::soBeginning); }

bool TRvStreamReader::Fill() {
  const std::int64_t Pos = Position();
  FBufPos = Pos;
  FCur = 0;
  FLen = 0;
  const std::int64_t Want = std::min<std::int64_t>(static_cast<std::int64_t>(BufferSize), FEnd - Pos);
  if (Want <= 0) return false;
  if (FStream.Position() != Pos) FStream.Seek(Pos, platform::soBeginning);
  const std::int64_t Got = FStream.Read(FBuf.get(), Want);
  if (Got <= 0) {
    // The stream holds less than it said: its end is here.
    FEnd = Pos;
    return false;
  }
  FLen = static_cast<std::size_t>(Got);
  return true;
}

bool TRvStreamReader::Seek(std::int64_t Pos) {
  if (Pos < FStart || Pos > FEnd) {
    FShort = true;
    return false;
  }
  if (Pos >= FBufPos && Pos <= FBufPos + static_cast<std::int64_t>(FLen)) {
    FCur = static_cast<std::size_t>(Pos - FBufPos);
  } else {
    FBufPos = Pos;
    FCur = 0;
    FLen = 0;
  }
  return true;
}

bool TRvStreamReader::Skip(std::int64_t Count) {
  if (Count < 0 || Count > Remaining()) {
    FShort = true;
    if (Count > 0) Seek(FEnd);
    return false;
  }
  return Seek(Position() + Count);
}

std::int64_t TRvStreamReader::ReadSome(void* Buffer, std::int64_t Count) {
  auto* Out = static_cast<std::uint8_t*>(Buffer);
  std::int64_t Done = 0;
  while (Done < Count) {
    if (FCur >= FLen && !Fill()) break;
    const std::size_t N =
        static_cast<std::size_t>(std::min<std::int64_t>(Count - Done, static_cast<std::int64_t>(FLen - FCur)));
    std::memcpy(Out + Done, FBuf.get() + FCur, N);
    FCur += N;
    Done += static_cast<std::int64_t>(N);
  }
  return Done;
}

bool TRvStreamReader::ReadSlow(void* Buffer, std::int64_t Count) {
  if (Count <= 0) return Count == 0;
  const std::int64_t Got = ReadSome(Buffer, Count);
  if (Got == Count) return true;
  std::memset(static_cast<std::uint8_t*>(Buffer) + Got, 0, static_cast<std::size_t>(Count - Got));
  FShort = true;
  return false;
}

int TRvStreamReader::ReadByteSlow() {
  if (FCur >= FLen && !Fill()) return -1;
  return FBuf[FCur++];
}

int TRvStreamReader::PeekByte() {
  if (FCur >= FLen && !Fill()) return -1;
  return FBuf[FCur];
}

std::uint8_t TRvStreamReader::U8() {
  std::uint8_t B[1];
  Read(B, 1);
  return B[0];
}

std::uint16_t TRvStreamReader::U16LE() {
  std::uint8_t B[2];
  Read(B, 2);
  return static_cast<std::uint16_t>(B[0] | (B[1] << 8));
}

std::uint16_t TRvStreamReader::U16BE() {
  std::uint8_t B[2];
  Read(B, 2);
  return static_cast<std::uint16_t>((B[0] << 8) | B[1]);
}

std::uint32_t TRvStreamReader::U32LE() {
  std::uint8_t B[4];
  Read(B, 4);
  return std::uint32_t{B[0]} | (std::uint32_t{B[1]} << 8) | (std::uint32_t{B[2]} << 16) |
         (std::uint32_t{B[3]} << 24);
}

std::uint32_t TRvStreamReader::U32BE() {
  std::uint8_t B[4];
  Read(B, 4);
  return (std::uint32_t{B[0]} << 24) | (std::uint32_t{B[1]} << 16) | (std::uint32_t{B[2]} << 8) |
         std::uint32_t{B[3]};
}

// ---- TRvByteReader

bool TRvByteReader::Seek(std::int64_t Pos) {
  if (Pos < 0 || Pos > FSize) {
    FShort = true;
    return false;
  }
  FPos = Pos;
  return true;
}

bool TRvByteReader::Skip(std::int64_t Count) {
  if (Count < 0 || Count > Remaining()) {
    FShort = true;
    if (Count > 0) FPos = FSize;
    return false;
  }
  FPos += Count;
  return true;
}

bool TRvByteReader::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0) return Count == 0;
  const std::int64_t N = std::min(Count, Remaining());
  if (N > 0) std::memcpy(Buffer, FData + FPos, static_cast<std::size_t>(N));
  FPos += N;
  if (N == Count) return true;
  std::memset(static_cast<std::uint8_t*>(Buffer) + N, 0, static_cast<std::size_t>(Count - N));
  FShort = true;
  return false;
}

std::uint8_t TRvByteReader::U8() {
  std::uint8_t B[1];
  Read(B, 1);
  return B[0];
}

std::uint16_t TRvByteReader::U16LE() {
  std::uint8_t B[2];
  Read(B, 2);
  return static_cast<std::uint16_t>(B[0] | (B[1] << 8));
}

std::uint16_t TRvByteReader::U16BE() {
  std::uint8_t B[2];
  Read(B, 2);
  return static_cast<std::uint16_t>((B[0] << 8) | B[1]);
}

std::uint32_t TRvByteReader::U32LE() {
  std::uint8_t B[4];
  Read(B, 4);
  return std::uint32_t{B[0]} | (std::uint32_t{B[1]} << 8) | (std::uint32_t{B[2]} << 16) |
         (std::uint32_t{B[3]} << 24);
}

std::uint32_t TRvByteReader::U32BE() {
  std::uint8_t B[4];
  Read(B, 4);
  return (std::uint32_t{B[0]} << 24) | (std::uint32_t{B[1]} << 16) | (std::uint32_t{B[2]} << 8) |
         std::uint32_t{B[3]};
}

} // namespace rv

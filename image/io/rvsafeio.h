// What every reader uses to stay inside its input and its memory: a bounded
// reader that answers "short" instead of reading past the end, a library-wide
// cap on pixel count and allocation checked before any allocation, checked
// 64-bit size arithmetic and zero-filled buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "image/model/rvbitmap.h"

namespace platform {
class TStream;
}

namespace rv {

// ---- Caps --------------------------------------------------------------
// Library-wide, settable (fuzzers and tests lower them); atomic, so a thread
// may read them while another sets them.
inline constexpr std::int64_t RvDefaultMaxPixels = std::int64_t{1} << 28;     // 268 M pixels
inline constexpr std::int64_t RvDefaultMaxAllocation = std::int64_t{1} << 31; // 2 GiB

std::int64_t RvMaxPixels();
void RvSetMaxPixels(std::int64_t Value);
std::int64_t RvMaxAllocation();
void RvSetMaxAllocation(std::int64_t Value);

// Width and height at least 1, and their product within the pixel cap.
bool RvPixelsAllowed(std::int64_t Width, std::int64_t Height);

// ---- Refused for size ----------------------------------------------------
// A picture refused for the caps (or for memory) is not a damaged one: the
// refusal leaves a note on the refusing thread, so that the caller of a read
// that failed can say the picture is too large instead of calling it
// damaged. A read runs on its caller's thread; the caller clears the note
// before it and looks at it after.
struct TRvSizeRefusal {
  bool Refused = false;
  // The size asked for (0 when the refusal came without one).
  std::int64_t Width = 0;
  std::int64_t Height = 0;
};
void RvClearSizeRefusal();
TRvSizeRefusal RvLastSizeRefusal();
// 0 <= Bytes <= the allocation cap.
bool RvAllocationAllowed(std::int64_t Bytes);

// ---- Refused for kind ------------------------------------------------------
// A file of a kind a reader knows but does not read (a BigTIFF) is no damaged
// file either: the reader notes what to tell the user, on the refusing
// thread as the size refusal is, and its caller clears the note before the
// read and looks at it after. Empty when there is none.
void RvNoteKindRefusal(const char* Why);
void RvClearKindRefusal();
std::string RvLastKindRefusal();

// ---- Data behind a header ------------------------------------------------
// A header can claim any size; the pixels must come from the data behind it.
// A reader asks before it allocates a picture (or a decoder's buffer of its
// size) whether the bytes the stream holds could fill it: Held bytes are
// there, the pixels cannot be coded in fewer than Needed. A picture of at
// most RvUnbackedPixels pixels passes whatever the data, so that a small cut
// file still shows what it held; a larger one is refused, so that a few
// bytes cannot make a reader take gigabytes it could never fill.
inline constexpr std::int64_t RvUnbackedPixels = std::int64_t{1} << 18; // 768 KB at 24 bits
bool RvDataCanFill(std::int64_t Held, std::int64_t Needed, std::int64_t Width, std::int64_t Height);
// The fewest stored bytes of Decoded output when a scheme gives at most Out
// units for every In stored bytes (uncompressed: 1 for 1; PackBits: 128 for
// 2; LZW: 4096 for every 9-bit code, 4096 for 9 / 8). Saturates instead of
// overflowing; a negative or unknown Decoded gives 0.
std::int64_t RvLeastStoredBytes(std::int64_t Decoded, std::int64_t Out, std::int64_t In);

// ---- Size arithmetic ----------------------------------------------------
// Each answers false (leaving Result unspecified) on overflow or when an
// operand is negative.
bool RvSizeMul(std::int64_t A, std::int64_t B, std::int64_t& Result);
bool RvSizeAdd(std::int64_t A, std::int64_t B, std::int64_t& Result);
// Bytes of Width pixels of BitsPerPixel bits, rounded up to whole bytes;
// -1 on overflow or a negative operand.
std::int64_t RvPackedRowBytes(std::int64_t Width, std::int64_t BitsPerPixel);

// ---- Buffers ------------------------------------------------------------
// A zero-filled byte block whose size was checked against the allocation cap.
class TRvBuffer {
public:
  TRvBuffer() = default;
  // False (and empty) when Size is negative, over the cap or cannot be had.
  bool Allocate(std::int64_t Size);
  void Free();
  std::uint8_t* Data() { return FData.get(); }
  const std::uint8_t* Data() const { return FData.get(); }
  std::int64_t Size() const { return FSize; }
  std::uint8_t& operator[](std::size_t I) { return FData[I]; }

private:
  std::unique_ptr<std::uint8_t[]> FData;
  std::int64_t FSize = 0;
};

// Allocates Bitmap at Width x Height after checking both caps, zero-filled
// unless the caller writes every row itself (Clear false). False (bitmap
// left empty) when the size is refused or memory cannot be had.
bool RvAllocateBitmap(TRvBitmap& Bitmap, std::int64_t Width, std::int64_t Height,
                      TRvPixelFormat PixelFormat, bool Clear = true);

// ---- Bounded reading ----------------------------------------------------
// Reads from a stream, never beyond a limit (the stream's end, or fewer
// bytes when the caller knows the data's length). Reads are buffered: call
// Sync (or let the destructor do it) before using the stream directly again.
// A read that cannot be satisfied fills what it could not read with zeros,
// answers false and sets the sticky Short flag.
class TRvStreamReader {
public:
  // Limit: bytes available from the current position; negative means up to
  // the end of the stream.
  explicit TRvStreamReader(platform::TStream& Stream, std::int64_t Limit = -1);
  ~TRvStreamReader();
  TRvStreamReader(const TRvStreamReader&) = delete;
  TRvStreamReader& operator=(const TRvStreamReader&) = delete;

  // Absolute stream position of the next byte to be read.
  std::int64_t Position() const { return FBufPos + static_cast<std::int64_t>(FCur); }
  // Absolute position where the data start and where they end.
  std::int64_t Start() const { return FStart; }
  std::int64_t End() const { return FEnd; }
  std::int64_t Remaining() const { return FEnd - Position(); }
  bool AtEnd() const { return Position() >= FEnd; }
  bool Short() const { return FShort; }

  // Moves to an absolute position inside [Start, End]; false (and Short)
  // outside, where the position is left unchanged.
  bool Seek(std::int64_t Position);
  bool Skip(std::int64_t Count);

  bool Read(void* Buffer, std::int64_t Count) {
    if (Count > 0 && static_cast<std::uint64_t>(Count) <= FLen - FCur) {
      std::memcpy(Buffer, FBuf.get() + FCur, static_cast<std::size_t>(Count));
      FCur += static_cast<std::size_t>(Count);
      return true;
    }
    return ReadSlow(Buffer, Count);
  }
  // Reads at most Count bytes; answers how many (no Short flag).
  std::int64_t ReadSome(void* Buffer, std::int64_t Count);
  // The next byte, or -1 at the end (no Short flag).
  int ReadByte() { return FCur < FLen ? FBuf[FCur++] : ReadByteSlow(); }
  // The next byte without consuming it, or -1.
  int PeekByte();

  // Integers; 0 (and Short) when the bytes are not there.
  std::uint8_t U8();
  std::uint16_t U16LE();
  std::uint16_t U16BE();
  std::uint32_t U32LE();
  std::uint32_t U32BE();

  // Puts the stream at Position().
  void Sync();

private:
  bool Fill();
  bool ReadSlow(void* Buffer, std::int64_t Count);
  int ReadByteSlow();
  platform::TStream& FStream;
  std::int64_t FStart = 0;
  std::int64_t FEnd = 0;
  std::int64_t FBufPos = 0; // stream position of FBuf[0]
  std::size_t FCur = 0;
  std::size_t FLen = 0;
  bool FShort = false;
  std::unique_ptr<std::uint8_t[]> FBuf;
  static constexpr std::size_t BufferSize = 16384;
};

// The same over bytes in memory (a decoder's input buffer).
class TRvByteReader {
public:
  TRvByteReader(const void* Data, std::int64_t Size)
      : FData(static_cast<const std::uint8_t*>(Data)), FSize(Size < 0 ? 0 : Size) {}

  std::int64_t Position() const { return FPos; }
  std::int64_t Size() const { return FSize; }
  std::int64_t Remaining() const { return FSize - FPos; }
  bool AtEnd() const { return FPos >= FSize; }
  bool Short() const { return FShort; }
  const std::uint8_t* Data() const { return FData; }

  bool Seek(std::int64_t Position);
  bool Skip(std::int64_t Count);
  bool Read(void* Buffer, std::int64_t Count);
  int ReadByte() { return FPos < FSize ? FData[FPos++] : -1; }

  std::uint8_t U8();
  std::uint16_t U16LE();
  std::uint16_t U16BE();
  std::uint32_t U32LE();
  std::uint32_t U32BE();

private:
  const std::uint8_t* FData;
  std::int64_t FSize;
  std::int64_t FPos = 0;
  bool FShort = false;
};

} // namespace rv

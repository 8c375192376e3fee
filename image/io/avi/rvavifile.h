// The frames of an AVI file's first video stream, read through FFmpeg in the
// shape the multi-image component expects of an AVI file interface: the
// stream's rate, scale, length and frame size, and any frame by its number
// as a packed 24-bit device-independent bitmap.
//
// Frame N is the N-th frame in display order. Streams whose every frame is
// a key frame are read by seeking straight to the frame; others are decoded
// forward from a key frame, every frame recognised by the packet it came
// from, so that streams that reorder frames (B-frames, open GOPs) still give
// the exact frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rv {

class TRvAviFile {
public:
  TRvAviFile();
  ~TRvAviFile();
  TRvAviFile(const TRvAviFile&) = delete;
  TRvAviFile& operator=(const TRvAviFile&) = delete;

  // False (and nothing open) when the file is no AVI file, has no video
  // stream, no decoder for it, or frames larger than the library allows.
  bool Open(const std::string& FileName);
  // The same over bytes that stay valid while the file is open.
  bool OpenMemory(const std::uint8_t* Data, std::size_t Size);
  void Close();
  bool IsOpen() const;

  // Frames per second as Rate / Scale.
  int Rate() const;
  int Scale() const;
  // Number of frames of the stream.
  int Length() const;
  int Width() const;
  int Height() const;
  bool IntraOnly() const;

  // Frame N as a packed DIB: the 40-byte header, then bottom-up 24-bit
  // rows padded to 4 bytes. Empty when the frame cannot be read.
  std::vector<std::uint8_t> GetFrame(int N);
  // Packets handed to the decoder so far (how much a frame cost).
  std::int64_t DecodedPackets() const;

  struct TImpl;

private:
  bool Start();
  std::unique_ptr<TImpl> F;
};

} // namespace rv

#include "image/io/rvtrailer.h"

#include <algorithm>
#include <cstring>

#include "image/io/rvsafeio.h"
#include "image/model/rvlists.h"

namespace rv {

namespace {

constexpr std::int64_t CopyChunk = 65536;

} // namespace

bool RvTrailerHeld(platform::TStream& File, const TRvTrailer& T) {
  const std::int64_t Before = std::min<std::int64_t>(T.At, sizeof(T.Before));
  const std::int64_t After = std::min<std::int64_t>(T.Length, sizeof(T.Head));
  std::uint8_t Bytes[sizeof(T.Before) + sizeof(T.Head)];
  if (File.Size() != T.FileSize || T.At < 0) return false;
  File.SetPosition(T.At - Before);
  return File.Read(Bytes, Before + After) == Before + After &&
         std::memcmp(Bytes, T.Before.data() + sizeof(T.Before) - Before, static_cast<std::size_t>(Before)) == 0 &&
         std::memcmp(Bytes + Before, T.Head.data(), static_cast<std::size_t>(After)) == 0;
}

void RvNoteTrailer(platform::TStream& Stream, std::int64_t At, TRvFileType Of, TIOParamsVals& Params) {
  TRvTrailer T;
  T.Of = Of;
  T.FileSize = Stream.Size();
  if (At < 0 || At > T.FileSize) return;
  T.At = At;
  T.Length = T.FileSize - At;
  const std::int64_t Here = Stream.Position();
  // The bytes before the end stand right-aligned.
  const std::int64_t Before = std::min<std::int64_t>(At, sizeof(T.Before));
  Stream.SetPosition(At - Before);
  Stream.Read(T.Before.data() + sizeof(T.Before) - Before, Before);
  Stream.Read(T.Head.data(), std::min<std::int64_t>(T.Length, sizeof(T.Head)));
  Stream.SetPosition(Here);
  Params.Trailer = T;
}

void RvWriteTrailer(platform::TStream& Stream, std::int64_t Start, TRvFileType Of, TIOParamsVals& Params,
                    TRvProgressRec& Progress, const std::function<void(std::int64_t NewAt)>& Placed) {
  const TRvTrailer& T = Params.Trailer;
  TRvTrailer& Written = Params.TrailerWritten;
  Written = TRvTrailer{};
  Written.Of = Of;
  Written.At = Stream.Position() - Start;
  Written.FileSize = Written.At;
  if (!Params.WriteTrailer || T.Of != Of || T.At < 0 || T.Length <= 0) return;
  // The save was planned to keep it: a file that no longer holds it aborts
  // the write, which leaves the file as it was, rather than lose it unsaid.
  if (Params.TrailerFrom == nullptr || !RvTrailerHeld(*Params.TrailerFrom, T)) {
    Params.TrailerMissed = true;
    Progress.Abort();
    return;
  }
  platform::TStream& File = *Params.TrailerFrom;
  if (Placed) Placed(Written.At);
  if (Progress.IsAborting() || !RvCopyBytes(File, T.At, T.Length, Stream, *Progress.Aborting)) return;
  Written.Length = T.Length;
  Written.FileSize = Written.At + T.Length;
  Written.Head = T.Head;
}

bool RvCopyBytes(platform::TStream& From, std::int64_t At, std::int64_t Length, platform::TStream& Out,
                 TRvAbortFlag& Aborting) {
  TRvBuffer Buffer;
  if (!Buffer.Allocate(std::min(std::max<std::int64_t>(Length, 1), CopyChunk))) {
    Aborting = true;
    return false;
  }
  From.SetPosition(At);
  for (std::int64_t Left = Length; Left > 0 && !Aborting.load(std::memory_order_relaxed);) {
    const std::int64_t Part = std::min(Left, CopyChunk);
    if (From.Read(Buffer.Data(), Part) != Part) {
      Aborting = true;
      break;
    }
    RvSafeStreamWrite(Out, Aborting, Buffer.Data(), Part);
    Left -= Part;
  }
  return !Aborting.load(std::memory_order_relaxed);
}

bool RvKeepsTrailer(TRvFileType Type) {
  return Type == rvftJPEG || Type == rvftPNG || Type == rvftBMP || Type == rvftPXM || Type == rvftGIF;
}

} // namespace rv

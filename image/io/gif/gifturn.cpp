#include "image/io/gif/gifturn.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "image/io/rvsafeio.h"
#include "image/model/rvlists.h"

namespace rv {

bool TRvGridTurn::Valid() const {
  const auto Unit = [](int V) { return V >= -1 && V <= 1; };
  return Unit(A) && Unit(B) && Unit(C) && Unit(D) && (A == 0) == (D == 0) && (B == 0) == (C == 0) &&
         (A == 0) != (B == 0);
}

namespace {

// A grid of Width x Height turned: its size and where a cell goes.
struct TTurnedGrid {
  TTurnedGrid(const TRvGridTurn& Turn, int Width, int Height)
      : T(Turn), NewWidth(Turn.Swaps() ? Height : Width), NewHeight(Turn.Swaps() ? Width : Height) {
    OffsetX = (T.A < 0 ? Width - 1 : 0) + (T.B < 0 ? Height - 1 : 0);
    OffsetY = (T.C < 0 ? Width - 1 : 0) + (T.D < 0 ? Height - 1 : 0);
  }
  int X(int X0, int Y0) const { return T.A * X0 + T.B * Y0 + OffsetX; }
  int Y(int X0, int Y0) const { return T.C * X0 + T.D * Y0 + OffsetY; }

  TRvGridTurn T;
  int NewWidth, NewHeight;
  int OffsetX = 0, OffsetY = 0;
};

void PutLE16(std::uint8_t* P, int V) {
  P[0] = static_cast<std::uint8_t>(V);
  P[1] = static_cast<std::uint8_t>(V >> 8);
}

class TTurner {
public:
  TTurner(platform::TStream& Source, platform::TStream& Out, const TRvGridTurn& Turn, TRvProgressRec& Progress,
          TGifLzwDecompressProc Decode, TGifLzwCompressProc Encode)
      : FSource(Source), FReader(Source), FOut(Out), FTurn(Turn), FProgress(Progress), FDecode(Decode),
        FEncode(Encode) {}

  bool Run();

private:
  void Write(const void* Data, std::int64_t Count) {
    if (Count > 0 && !FProgress.IsAborting()) RvSafeStreamWrite(FOut, *FProgress.Aborting, Data, Count);
  }
  // Copies Count bytes of the source; false when they are not all there.
  bool Copy(std::int64_t Count);
  // Data sub-blocks up to and with their 0 length.
  bool CopySubBlocks();
  bool Frame();

  platform::TStream& FSource;
  TRvStreamReader FReader;
  platform::TStream& FOut;
  TRvGridTurn FTurn;
  TRvProgressRec& FProgress;
  TGifLzwDecompressProc FDecode;
  TGifLzwCompressProc FEncode;
  int FScreenWidth = 0, FScreenHeight = 0;
};

bool TTurner::Copy(std::int64_t Count) {
  std::uint8_t Piece[256];
  while (Count > 0) {
    const std::int64_t N = std::min<std::int64_t>(Count, sizeof(Piece));
    if (!FReader.Read(Piece, N)) return false;
    Write(Piece, N);
    Count -= N;
  }
  return true;
}

bool TTurner::CopySubBlocks() {
  for (;;) {
    const int Length = FReader.ReadByte();
    if (Length < 0) return false;
    const std::uint8_t Byte = static_cast<std::uint8_t>(Length);
    Write(&Byte, 1);
    if (Length == 0) return true;
    if (!Copy(Length)) return false;
  }
}

bool TTurner::Frame() {
  std::uint8_t Descriptor[10];
  Descriptor[0] = 0x2C;
  if (!FReader.Read(Descriptor + 1, 9)) return false;
  const int Left = Descriptor[1] | (Descriptor[2] << 8), Top = Descriptor[3] | (Descriptor[4] << 8);
  const int Width = Descriptor[5] | (Descriptor[6] << 8), Height = Descriptor[7] | (Descriptor[8] << 8);
  const bool Interlaced = (Descriptor[9] & 0x40) != 0;
  // Readers show a frame only as far as the screen reaches (a screen of no
  // size holds every frame whole): the part past it is left out, or the
  // frame would turn to a place before the turned screen's start, which no
  // GIF can say. A frame with nothing on the screen stays whole, and off
  // the turned screen: past its far corner.
  const bool Clips = FScreenWidth > 0 && FScreenHeight > 0 && Width > 0 && Height > 0;
  int KeptWidth = Clips ? std::min(Width, FScreenWidth - Left) : Width;
  int KeptHeight = Clips ? std::min(Height, FScreenHeight - Top) : Height;
  const bool Unseen = Clips && (KeptWidth <= 0 || KeptHeight <= 0);
  if (Unseen) {
    KeptWidth = Width;
    KeptHeight = Height;
  }
  // The frame's place on the turned screen: where its corners go.
  const TTurnedGrid Screen(FTurn, FScreenWidth, FScreenHeight);
  const int Right = Left + std::max(KeptWidth, 1) - 1, Bottom = Top + std::max(KeptHeight, 1) - 1;
  const int NewLeft = Unseen ? Screen.NewWidth : std::min(Screen.X(Left, Top), Screen.X(Right, Bottom));
  const int NewTop = Unseen ? Screen.NewHeight : std::min(Screen.Y(Left, Top), Screen.Y(Right, Bottom));
  // A frame on a screen of no size may turn to a place no GIF can say.
  if (NewLeft < 0 || NewTop < 0 || NewLeft > 0xFFFF || NewTop > 0xFFFF) return false;
  const TTurnedGrid Grid(FTurn, KeptWidth, KeptHeight);
  PutLE16(Descriptor + 1, NewLeft);
  PutLE16(Descriptor + 3, NewTop);
  PutLE16(Descriptor + 5, Grid.NewWidth);
  PutLE16(Descriptor + 7, Grid.NewHeight);
  Write(Descriptor, sizeof(Descriptor));
  if ((Descriptor[9] & 0x80) != 0 && !Copy(std::int64_t{3} << ((Descriptor[9] & 7) + 1))) return false;

  const int CodeSize = FReader.PeekByte();
  if (Width == 0 || Height == 0) {
    // Nothing to turn: the data go over as they are.
    if (FReader.ReadByte() < 0) return false;
    const std::uint8_t Byte = static_cast<std::uint8_t>(CodeSize);
    Write(&Byte, 1);
    return CopySubBlocks();
  }
  // As the reader weighs a frame: data that could not fill it are no GIF's.
  const int CodeBits = CodeSize >= 1 && CodeSize <= 11 ? CodeSize + 1 : 2;
  const std::int64_t Least = RvLeastStoredBytes(std::int64_t{Width} * Height, 4096 * 8, CodeBits);
  if (CodeSize < 1 || CodeSize > 8 || !RvPixelsAllowed(Width, Height) ||
      !RvDataCanFill(FReader.Remaining(), Least, Width, Height))
    return false;
  TRvBuffer Indices, Turned;
  if (!Indices.Allocate(std::int64_t{Width} * Height) || !Turned.Allocate(std::int64_t{KeptWidth} * KeptHeight))
    return false;
  FReader.Sync();
  const std::int64_t Before = FSource.Position();
  FDecode(FSource, Height, Width, Indices.Data(), Interlaced);
  const std::int64_t After = FSource.Position();
  if (After == Before || !FReader.Seek(After)) return false;
  for (int Y = 0; Y < KeptHeight; ++Y) {
    const std::uint8_t* Row = Indices.Data() + static_cast<std::size_t>(Y) * static_cast<std::size_t>(Width);
    for (int X = 0; X < KeptWidth; ++X)
      Turned[static_cast<std::size_t>(Grid.Y(X, Y)) * static_cast<std::size_t>(Grid.NewWidth) +
             static_cast<std::size_t>(Grid.X(X, Y))] = Row[X];
  }
  if (FProgress.IsAborting()) return false;
  FEncode(FOut, Grid.NewHeight, Grid.NewWidth, CodeSize, Turned.Data(), Interlaced);
  return true;
}

bool TTurner::Run() {
  if (FDecode == nullptr || FEncode == nullptr || !FTurn.Valid()) return false;
  std::uint8_t Head[13];
  if (!FReader.Read(Head, sizeof(Head)) || std::memcmp(Head, "GIF", 3) != 0) return false;
  FScreenWidth = Head[6] | (Head[7] << 8);
  FScreenHeight = Head[8] | (Head[9] << 8);
  if (FTurn.Swaps()) {
    std::swap(Head[6], Head[8]);
    std::swap(Head[7], Head[9]);
    Head[12] = static_cast<std::uint8_t>(GifAspectTurned(Head[12]));
  }
  Write(Head, sizeof(Head));
  if ((Head[10] & 0x80) != 0 && !Copy(std::int64_t{3} << ((Head[10] & 7) + 1))) return false;
  std::int64_t Frames = 0;
  while (!FProgress.IsAborting()) {
    const int Block = FReader.ReadByte();
    if (Block < 0) break;
    if (Block == 0x3B) {
      // What follows the trailer is no GIF's, but the file's all the same.
      const std::uint8_t Trailer = 0x3B;
      Write(&Trailer, 1);
      return Copy(FReader.Remaining()) && Frames > 0 && !FProgress.IsAborting();
    }
    if (Block == 0x21) {
      const int Label = FReader.ReadByte();
      if (Label < 0) break;
      const std::uint8_t Introducer[2] = {0x21, static_cast<std::uint8_t>(Label)};
      Write(Introducer, 2);
      // A graphic control block's size byte reads as its first sub-block's.
      if (!CopySubBlocks()) return false;
    } else if (Block == 0x2C) {
      if (!Frame()) return false;
      ++Frames;
      if (FProgress.OnProgress)
        FProgress.OnProgress(FProgress.Sender,
                             static_cast<int>(FReader.Position() * 100 / std::max<std::int64_t>(FReader.End(), 1)));
    }
    // Any other byte is no block: the reader steps over it too.
  }
  const std::uint8_t Trailer = 0x3B;
  Write(&Trailer, 1);
  return Frames > 0 && !FProgress.IsAborting();
}

} // namespace

int GifAspectTurned(int Aspect) {
  if (Aspect <= 0 || Aspect > 255) return Aspect;
  // The ratio is (Aspect + 15) / 64; its inverse, 64 / (Aspect + 15), is
  // the ratio of the byte 4096 / (Aspect + 15) - 15.
  const int Sum = Aspect + 15;
  return std::clamp((4096 + Sum / 2) / Sum - 15, 1, 255);
}

bool GifWriteTurned(platform::TStream& Source, platform::TStream& Out, const TRvGridTurn& Turn,
                    TRvProgressRec& Progress, TGifLzwDecompressProc Decode, TGifLzwCompressProc Encode) {
  TTurner Turner(Source, Out, Turn, Progress, Decode != nullptr ? Decode : RvDefaultGifLzwDecompress,
                 Encode != nullptr ? Encode : RvDefaultGifLzwCompress);
  return Turner.Run();
}

} // namespace rv

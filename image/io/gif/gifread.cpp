#include "image/io/gif/gifread.h"

#include <algorithm>
#include <cstring>

#include "image/io/lzwhooks.h"
#include "image/io/rvsafeio.h"
#include "image/io/rvtrailer.h"

namespace rv {

namespace {

constexpr int ExtensionIntroducer = 0x21;
constexpr int ImageSeparator = 0x2C;
constexpr int Trailer = 0x3B;
constexpr int GraphicControlLabel = 0xF9;
constexpr int CommentLabel = 0xFE;

// A colour table as the frame uses it: always 256 entries, those the file
// does not give black, so that any index byte finds a colour.
struct TGifPalette {
  TRGB Entries[256];
  int Bits = 1;
};

void ReadPalette(TRvStreamReader& R, int Bits, TGifPalette& Palette) {
  std::uint8_t Raw[3 * 256];
  const int Count = 1 << Bits;
  R.Read(Raw, 3 * Count); // what the file lacks reads as zeros
  std::fill(std::begin(Palette.Entries), std::end(Palette.Entries), TRGB{});
  for (int I = 0; I < Count; ++I) RvCreateRGB(Raw[3 * I], Raw[3 * I + 1], Raw[3 * I + 2], Palette.Entries[I]);
  Palette.Bits = Bits;
}

// Data sub-blocks up to the 0 length or the end of the input.
void SkipSubBlocks(TRvStreamReader& R) {
  for (;;) {
    const int Length = R.ReadByte();
    if (Length <= 0 || !R.Skip(Length)) return;
  }
}

// Packed byte, delay (two bytes) and transparent index.
void ReadGraphicControl(TRvStreamReader& R, std::uint8_t (&State)[4]) {
  const int Size = R.ReadByte();
  if (Size < 0) return;
  std::memset(State, 0, sizeof(State));
  // A size of 0 ends the block as it ends any run of sub-blocks: the block
  // is then read as it is stepped over for every other frame, and as
  // ImageMagick reads it.
  if (Size == 0) return;
  const int Taken = std::min(Size, 4);
  R.ReadSome(State, Taken);
  // A block whose size byte is not 4 is stepped over by its own length, so
  // the blocks after it are still found.
  R.Skip(Size - Taken);
  SkipSubBlocks(R);
}

void ReadComment(TRvStreamReader& R, std::vector<std::string>& Comments) {
  char Text[255];
  for (;;) {
    const int Length = R.ReadByte();
    if (Length <= 0) return;
    const auto Got = static_cast<std::size_t>(R.ReadSome(Text, Length));
    const std::size_t Used = static_cast<std::size_t>(std::find(Text, Text + Got, '\0') - Text);
    if (Used > 0) Comments.emplace_back(Text, Used);
    if (Got < static_cast<std::size_t>(Length)) return;
  }
}

void Report(TRvProgressRec& Progress, int Percent) {
  if (Progress.OnProgress) Progress.OnProgress(Progress.Sender, Percent);
}

// What the signature, the logical screen and the global table give every
// record read from the file.
struct TGifHeader {
  std::string Version;
  int ScreenWidth = 0;
  int ScreenHeight = 0;
  int AspectRatio = 0;
  int ColorResolution = 0;
  bool HasGlobal = false;
  TRGB Background{};
  TGifPalette Global;

  void Apply(TIOParamsVals& Params) const {
    Params.GifVersion = Version;
    Params.GifScreenWidth = ScreenWidth;
    Params.GifScreenHeight = ScreenHeight;
    Params.GifAspectRatio = AspectRatio;
    Params.GifColorResolution = ColorResolution;
    // A GIF states no resolution: the defaults stand in for one.
    Params.DpiX = RvDefaultDpiX;
    Params.DpiY = RvDefaultDpiY;
    Params.DpiStated = false;
    Params.SamplesPerPixel = 1;
    if (HasGlobal) Params.GifBackground = Background;
  }
};

// False (and the abort flag set) when the data are no GIF; data that end
// with the global table set the flag too, but the header is good.
bool ReadHeader(TRvStreamReader& R, TRvProgressRec& Progress, TGifHeader& H) {
  std::uint8_t Head[13];
  R.Read(Head, sizeof(Head));
  if (std::memcmp(Head, "GIF", 3) != 0) {
    Progress.Abort();
    return false;
  }
  H.Version.assign(reinterpret_cast<const char*>(Head), 6);
  H.ScreenWidth = Head[6] | (Head[7] << 8);
  H.ScreenHeight = Head[8] | (Head[9] << 8);
  H.AspectRatio = Head[12];
  std::fill(std::begin(H.Global.Entries), std::end(H.Global.Entries), TRGB{});
  H.Global.Bits = (Head[10] & 7) + 1;
  H.ColorResolution = (Head[10] >> 4) & 7;
  H.HasGlobal = (Head[10] & 0x80) != 0;
  if (H.HasGlobal) {
    ReadPalette(R, H.Global.Bits, H.Global);
    H.Background = H.Global.Entries[Head[11]];
  }
  if (R.AtEnd()) Progress.Abort();
  return true;
}

struct TGifDescriptor {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Interlaced = false;
  bool HasLocal = false;
  int LocalBits = 1;
};

TGifDescriptor ReadDescriptor(TRvStreamReader& R) {
  std::uint8_t Raw[9];
  R.Read(Raw, sizeof(Raw));
  TGifDescriptor D;
  D.Left = Raw[0] | (Raw[1] << 8);
  D.Top = Raw[2] | (Raw[3] << 8);
  D.Width = Raw[4] | (Raw[5] << 8);
  D.Height = Raw[6] | (Raw[7] << 8);
  D.Interlaced = (Raw[8] & 0x40) != 0;
  D.HasLocal = (Raw[8] & 0x80) != 0;
  D.LocalBits = (Raw[8] & 7) + 1;
  return D;
}

// The blocks after the header, up to the trailer, the end of the data or an
// abort: comments go to Comments, a graphic control block into Control when
// WantsControl(frames so far) says so, and each image descriptor to
// OnImage(frames so far, descriptor), which takes the frame's table and
// data and answers false to end the walk there. Answers the number of image
// descriptors met.
template <class TWantsControl, class TOnImage>
int WalkBlocks(TRvStreamReader& R, TRvProgressRec& Progress, std::vector<std::string>& Comments,
               std::uint8_t (&Control)[4], TWantsControl WantsControl, TOnImage OnImage) {
  int FrameCount = 0;
  while (!Progress.IsAborting()) {
    const int Block = R.ReadByte();
    // The last byte of the file ends it, whatever it holds.
    if (Block < 0 || R.AtEnd() || Block == Trailer) break;
    if (Block == ExtensionIntroducer) {
      const int Label = R.ReadByte();
      if (Label == GraphicControlLabel && WantsControl(FrameCount))
        ReadGraphicControl(R, Control);
      else if (Label == CommentLabel)
        ReadComment(R, Comments);
      else
        SkipSubBlocks(R);
    } else if (Block == ImageSeparator) {
      const bool More = OnImage(FrameCount, ReadDescriptor(R));
      ++FrameCount;
      if (!More) break;
    }
  }
  return FrameCount;
}

// A frame's table and data stepped over.
void SkipFrame(TRvStreamReader& R, const TGifDescriptor& D) {
  if (D.HasLocal) R.Skip(3 << D.LocalBits);
  R.ReadByte(); // LZW code size
  SkipSubBlocks(R);
}

// The reports a frame's read makes when it starts and once its data are
// decoded.
struct TFramePercents {
  int Start = 30;
  int Decoded = 70;
};

// The frame the reader stands on (its table read); false when reading has
// to stop.
bool ReadFrame(TRvStreamReader& R, platform::TStream& Stream, const TGifDescriptor& D,
               const TGifPalette& Palette, const std::uint8_t (&Control)[4], TRvBitmap& Bitmap,
               bool NoAlpha, std::unique_ptr<TRvMask>& Mask, bool HeaderOnly,
               TRvProgressRec& Progress, TFramePercents Percents, TIOParamsVals& Params) {
  Report(Progress, Percents.Start);
  if (Progress.IsAborting()) return false;
  const TRGB* Colors = Palette.Entries;
  const std::uint8_t TransparentIndex = Control[3];
  Params.GifTransparentColor = Colors[TransparentIndex];
  Params.GifXPos = D.Left;
  Params.GifYPos = D.Top;
  Params.Width = D.Width;
  Params.Height = D.Height;
  Params.GifDelayTime = Control[1] | (Control[2] << 8);
  Params.GifHasTransparentColor = (Control[0] & 1) != 0;
  Params.GifTransparentIndex = Params.GifHasTransparentColor ? TransparentIndex : -1;
  Params.GifDisposal = static_cast<std::uint8_t>((Control[0] >> 2) & 7);
  Params.GifInterlaced = D.Interlaced;

  TRvBuffer Indices;
  if (HeaderOnly) {
    R.ReadByte(); // LZW code size
    SkipSubBlocks(R);
  } else {
    // An empty frame would give an empty picture reported as read. A frame
    // its data could not fill is refused before anything is allocated: every
    // LZW code gives at most 4096 pixels and takes at least one bit more than
    // the minimum code size that starts the data.
    const int MinCodeSize = R.PeekByte();
    const int CodeBits = MinCodeSize >= 1 && MinCodeSize <= 11 ? MinCodeSize + 1 : 2;
    const std::int64_t Least = RvLeastStoredBytes(std::int64_t{D.Width} * D.Height, 4096 * 8, CodeBits);
    if (!RvPixelsAllowed(D.Width, D.Height) || !RvDataCanFill(R.Remaining(), Least, D.Width, D.Height) ||
        !Indices.Allocate(std::int64_t{D.Width} * D.Height)) {
      Progress.Abort();
      return false;
    }
    const TGifLzwDecompressProc Decode =
        Params.GifLzwDecompress != nullptr ? Params.GifLzwDecompress : RvDefaultGifLzwDecompress;
    R.Sync();
    const std::int64_t Before = Stream.Position();
    if (Decode != nullptr) Decode(Stream, D.Height, D.Width, Indices.Data(), D.Interlaced);
    const std::int64_t After = Stream.Position();
    if (After == Before) {
      Progress.Abort();
      return false;
    }
    if (!R.Seek(After)) R.Seek(R.End());
    Report(Progress, Percents.Decoded);
    if (Progress.IsAborting()) return false;
  }

  Params.FreeColorMap();
  Params.BitsPerSample = Palette.Bits;
  Params.SetColorMap(Colors, 1 << Palette.Bits);
  if (HeaderOnly) return true;

  const bool OneBit = Palette.Bits == 1 && RvRGBToPacked(Colors[0]) == 0 &&
                      RvRGBToPacked(Colors[1]) == 0xFFFFFF;
  if (!RvAllocateBitmap(Bitmap, D.Width, D.Height, OneBit ? rvpf1Bit : rvpf24Bit)) {
    Progress.Abort();
    return false;
  }
  if (!NoAlpha) {
    if (!Mask) Mask = std::make_unique<TRvMask>();
    Mask->Allocate(D.Width, D.Height, 8);
    Mask->Fill(255);
  }
  const bool Transparent = !NoAlpha && Params.GifHasTransparentColor;
  bool AnyTransparent = false;
  const std::size_t Width = static_cast<std::size_t>(D.Width);
  for (int Y = 0; Y < D.Height; ++Y) {
    const std::uint8_t* Source = Indices.Data() + static_cast<std::size_t>(Y) * Width;
    std::uint8_t* Row = Bitmap.Scanline(Y);
    if (OneBit) {
      std::memset(Row, 0, (Width + 7) / 8);
      // An index past the two entries is black, like every colour the table
      // does not give.
      for (std::size_t X = 0; X < Width; ++X)
        if (Source[X] == 1) Row[X >> 3] |= static_cast<std::uint8_t>(0x80 >> (X & 7));
    } else {
      // Entries past the file's table are black, so an index beyond the
      // table never reads outside the palette.
      for (std::size_t X = 0; X < Width; ++X) {
        const TRGB& C = Colors[Source[X]];
        Row[3 * X] = C.b;
        Row[3 * X + 1] = C.g;
        Row[3 * X + 2] = C.r;
      }
    }
    if (Transparent) {
      std::uint8_t* Alpha = Mask->ScanLine(Y);
      for (std::size_t X = 0; X < Width; ++X)
        if (Source[X] == TransparentIndex) {
          Alpha[X] = 0;
          AnyTransparent = true;
        }
    }
  }
  if (AnyTransparent) Mask->SetFull(false);
  return true;
}

} // namespace

void GifReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, int& FrameCount, bool NoAlpha,
                   std::unique_ptr<TRvMask>& Mask, bool HeaderOnly, TRvProgressRec& Progress,
                   TIOParamsVals& Params) {
  FrameCount = 0;
  Params.Trailer = TRvTrailer{};
  Report(Progress, 0);
  if (Progress.IsAborting()) return;
  std::uint8_t Control[4] = {0, 0, 0, 0};

  TRvStreamReader R(Stream);
  TGifHeader Header;
  if (!ReadHeader(R, Progress, Header)) return;
  Header.Apply(Params);

  const int Wanted = Params.GifImageIndex;
  TGifPalette Local;
  FrameCount = WalkBlocks(
      R, Progress, Params.GifComments, Control, [Wanted](int Index) { return Index == Wanted; },
      [&](int Index, const TGifDescriptor& D) {
        if (Index != Wanted) {
          SkipFrame(R, D);
          return true;
        }
        if (D.HasLocal) ReadPalette(R, D.LocalBits, Local);
        ReadFrame(R, Stream, D, D.HasLocal ? Local : Header.Global, Control, Bitmap, NoAlpha, Mask, HeaderOnly,
                  Progress, TFramePercents{}, Params);
        return true;
      });
  Params.GifImageCount = FrameCount;
  // A screen with no frame is no picture: shown, an edit of it would be
  // saved over the file as a picture it never held.
  if (FrameCount == 0 && !Progress.IsAborting()) {
    Progress.Abort();
    return;
  }
  // What follows the trailer is no GIF's, but the file's: a save copies it
  // after its own.
  if (!HeaderOnly && !Progress.IsAborting() && R.Position() > R.Start() && R.Seek(R.Position() - 1) &&
      R.ReadByte() == Trailer)
    RvNoteTrailer(Stream, R.Position(), rvftGIF, Params);
  if (!Progress.IsAborting()) Report(Progress, 100);
}

int GifReadFrames(platform::TStream& Stream, TGifFrameSink& Sink, std::vector<std::string>& Comments,
                  TRvProgressRec& Progress) {
  Report(Progress, 0);
  if (Progress.IsAborting()) return 0;
  TRvStreamReader R(Stream);
  TGifHeader Header;
  if (!ReadHeader(R, Progress, Header)) return 0;

  // Each frame's own graphic control block: none before a frame leaves its
  // state clear.
  std::uint8_t Control[4] = {0, 0, 0, 0};
  TGifPalette Local;
  const std::int64_t Size = std::max<std::int64_t>(R.End() - R.Start(), 1);
  const int FrameCount = WalkBlocks(
      R, Progress, Comments, Control, [](int) { return true; },
      [&](int Index, const TGifDescriptor& D) {
        TIOParamsVals* Params = Sink.FrameParams(Index);
        if (Params == nullptr) return false;
        Header.Apply(*Params);
        if (D.HasLocal) ReadPalette(R, D.LocalBits, Local);
        // The reports go by the share of the file read.
        const int Percent = static_cast<int>((R.Position() - R.Start()) * 100 / Size);
        TRvBitmap Bitmap;
        std::unique_ptr<TRvMask> NoMask;
        const bool Read = ReadFrame(R, Stream, D, D.HasLocal ? Local : Header.Global, Control, Bitmap, true, NoMask,
                                    false, Progress, TFramePercents{Percent, Percent}, *Params);
        std::memset(Control, 0, sizeof(Control));
        return Read && Sink.FrameRead(Index, Bitmap);
      });
  if (!Progress.IsAborting()) Report(Progress, 100);
  return FrameCount;
}

void GifReadFile(const std::string& FileName, TRvBitmap& Bitmap, int& FrameCount, bool NoAlpha,
                 std::unique_ptr<TRvMask>& Mask, TRvProgressRec& Progress, TIOParamsVals& Params) {
  platform::TFileStream Stream(FileName, platform::fmOpenRead);
  GifReadStream(Stream, Bitmap, FrameCount, NoAlpha, Mask, false, Progress, Params);
}

} // namespace rv

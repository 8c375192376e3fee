// Reading and writing GIF data: files, the stored form and the clipboard.
#include "controls/support/wngif/wngif.h"

#include <QMimeData>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "controls/support/wngif/wngiflzw.h"
#include "controls/support/wngraphics/wncolorreduce.h"
#include "image/io/rvsafeio.h"

namespace wn {

using platform::EInvalidGraphicOperation;
using platform::EStreamError;
using platform::TBitmap;
using platform::TColor;

namespace {

const char* const StreamReadError = "Stream read error";
const char* const NoDataText = "No GIF Data to write";
const char* const ColorCountText = "Wrong number of colors; must be a power of 2";
const char* const EncodingErrorText = "GIF image encoding error";

constexpr std::uint8_t ExtensionIntroducer = 0x21; // "!"
constexpr std::uint8_t ImageSeparator = 0x2C;      // ","
constexpr std::uint8_t Trailer = 0x3B;             // ";"

TColor ColorOf(const TGIFColor& c) { return static_cast<TColor>(platform::RGB(c.Red, c.Green, c.Blue)); }

// The smallest b >= 1 with 2^b >= Count.
int BitsFor(int Count) {
  int bits = 1;
  while ((1 << bits) < Count && bits < 8) ++bits;
  return bits;
}

// Reads only what is there: a read past the end fails before anything is
// allocated for it.
class TGIFReader {
public:
  TGIFReader(const std::uint8_t* Data, std::int64_t Size) : FData(Data), FSize(Size) {}
  std::int64_t Remaining() const { return FSize - FPos; }
  std::uint8_t Byte() {
    if (FPos >= FSize) throw EStreamError(StreamReadError);
    return FData[FPos++];
  }
  std::uint16_t Word() {
    const std::uint8_t* p = Take(2);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  }
  const std::uint8_t* Take(std::int64_t Count) {
    if (Count > Remaining()) throw EStreamError(StreamReadError);
    const std::uint8_t* p = FData + FPos;
    FPos += Count;
    return p;
  }
  // Zero bytes between blocks are skipped; 0 at the end of the data.
  std::uint8_t NextLabel() {
    while (FPos < FSize)
      if (const std::uint8_t b = FData[FPos++]; b != 0) return b;
    return 0;
  }

private:
  const std::uint8_t* FData;
  std::int64_t FSize;
  std::int64_t FPos = 0;
};

void ReadColorMap(TGIFReader& Reader, int Bits, TGIFColorMap& Map) {
  const int count = 1 << Bits;
  const std::uint8_t* p = Reader.Take(3 * count);
  Map.Count = count;
  for (int i = 0; i < count; ++i) Map.Colors[static_cast<std::size_t>(i)] = {p[3 * i], p[3 * i + 1], p[3 * i + 2]};
}

// Data sub-blocks, one string each; they also end with the data.
std::vector<std::string> ReadSubBlocks(TGIFReader& Reader) {
  std::vector<std::string> blocks;
  while (Reader.Remaining() > 0) {
    const std::int64_t length = Reader.Byte();
    if (length == 0) break;
    const std::int64_t present = std::min(length, Reader.Remaining());
    const std::uint8_t* p = Reader.Take(present);
    blocks.emplace_back(reinterpret_cast<const char*>(p), static_cast<std::size_t>(present));
  }
  return blocks;
}

std::unique_ptr<TExtension> ReadExtension(TGIFReader& Reader) {
  const std::uint8_t label = Reader.Byte();
  const std::uint8_t* labels = TExtension::Labels;
  const auto* found = std::find(labels, labels + 4, label);
  if (found == labels + 4) {
    char text[64];
    std::snprintf(text, sizeof text, "Unrecognized extension block: %.2x", label);
    throw EInvalidGraphicOperation(text);
  }
  auto extension = std::make_unique<TExtension>(static_cast<TExtensionKind>(found - labels));
  const int headerSize = TExtension::HeaderSizes[extension->Kind];
  std::memcpy(extension->Header.data(), Reader.Take(headerSize), static_cast<std::size_t>(headerSize));
  if (extension->Kind != ekGraphicControl)
    extension->Data = std::make_unique<std::vector<std::string>>(ReadSubBlocks(Reader));
  return extension;
}

bool IsLoopExtension(const TExtension& Extension, std::uint16_t& Count) {
  if (Extension.Kind != ekApplication || !Extension.Data || Extension.Data->empty()) return false;
  const int compared = std::min<int>(Extension.Header[0], 11);
  const char* id = reinterpret_cast<const char*>(Extension.Header.data() + 1);
  if (std::memcmp(id, "NETSCAPE2.0", static_cast<std::size_t>(compared)) != 0 &&
      std::memcmp(id, "ANIMEXTS1.0", static_cast<std::size_t>(compared)) != 0)
    return false;
  const std::string& first = Extension.Data->front();
  if (first.size() < 3 || first[0] != 1) return false;
  const int count = static_cast<std::uint8_t>(first[1]) + 256 * static_cast<std::uint8_t>(first[2]);
  Count = static_cast<std::uint16_t>(std::min(count, 30000));
  return true;
}

void PutWord(std::vector<std::uint8_t>& Out, int Value) {
  Out.push_back(static_cast<std::uint8_t>(Value));
  Out.push_back(static_cast<std::uint8_t>(Value >> 8));
}

void PutColorMap(std::vector<std::uint8_t>& Out, const TGIFColorMap& Map, int Entries) {
  for (int i = 0; i < Entries; ++i) {
    // Entries past the map's count stand as black, so that the table has the
    // length its size field declares.
    const TGIFColor c = i < Map.Count ? Map.Colors[static_cast<std::size_t>(i)] : TGIFColor{};
    Out.insert(Out.end(), {c.Red, c.Green, c.Blue});
  }
}

void PutSubBlocks(std::vector<std::uint8_t>& Out, const std::vector<std::string>& Blocks) {
  for (const std::string& block : Blocks) {
    if (block.empty()) continue;
    const std::size_t length = std::min<std::size_t>(block.size(), 255);
    Out.push_back(static_cast<std::uint8_t>(length));
    Out.insert(Out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length));
  }
  Out.push_back(0);
}

std::uint32_t U32At(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// The 32-bit length of stored and clipboard data, checked against what the
// stream holds before anything is read for it.
std::int64_t ReadLength(platform::TStream& Stream) {
  std::uint8_t b[4];
  Stream.ReadBuffer(b, 4);
  const std::int64_t length = U32At(b);
  if (length > Stream.Size() - Stream.Position()) throw EStreamError(StreamReadError);
  return length;
}

void ReadFrame(TGIFReader& Reader, TWnGIFFrame& Frame, const TWnGIFImage& Picture) {
  TGIFItem& item = Frame.Item();
  const int left = Reader.Word();
  const int top = Reader.Word();
  int width = Reader.Word();
  int height = Reader.Word();
  const std::uint8_t packed = Reader.Byte();
  Frame.Interlaced = (packed & 0x40) != 0;
  if (packed & 0x80) {
    item.BitsPerPixel = static_cast<std::uint8_t>((packed & 7) + 1);
    Frame.HasLocalMap = true;
    ReadColorMap(Reader, item.BitsPerPixel, item.ColorMap);
  } else {
    Frame.HasLocalMap = false;
    item.ColorMap = TGIFColorMap();
  }

  auto data = std::make_unique<platform::TMemoryStream>();
  std::vector<std::uint8_t>& bytes = data->Data();
  bytes.push_back(Reader.Byte());
  while (Reader.Remaining() > 0) {
    const std::int64_t length = Reader.Byte();
    bytes.push_back(static_cast<std::uint8_t>(length));
    if (length == 0) break;
    const std::int64_t present = std::min(length, Reader.Remaining());
    const std::uint8_t* p = Reader.Take(present);
    bytes.insert(bytes.end(), p, p + present);
    if (present < length) {
      Frame.Corrupted = true;
      break;
    }
  }
  if (Frame.Corrupted && !GIFLoadCorrupted) throw EStreamError(StreamReadError);
  item.ImageData = std::move(data);

  if (width == 0) width = Picture.ScreenWidth;
  if (height == 0) height = Picture.ScreenHeight;
  Frame.TopLeft = {left, top};
  item.Width = width;
  item.Height = height;
  item.DescriptorFlags = packed;
  if (!Frame.HasLocalMap) item.ColorMap = Picture.Data().ColorMap;

  Frame.AnimateInterval = 0;
  for (const auto& extension : Frame.Extensions) {
    if (extension->Kind != ekGraphicControl) continue;
    const std::uint8_t flags = extension->Header[1];
    const int delay = extension->Header[2] | extension->Header[3] << 8;
    const int index = extension->Header[4];
    if (flags & 1) {
      if (index < item.ColorMap.Count) Frame.TransparentColor = ColorOf(item.ColorMap.Colors[static_cast<std::size_t>(index)]);
    } else {
      Frame.TransparentColor = platform::clNone;
    }
    Frame.AnimateInterval = std::max(delay * 10, Frame.AnimateInterval);
    Frame.DisposalMethod = static_cast<std::uint8_t>((flags & 0x1C) >> 2);
  }
}

} // namespace

void TWnGIFImage::LoadFromStream(platform::TStream& Stream) {
  ReadGIFData(Stream.Size() - Stream.Position(), Stream, true);
}

void TWnGIFImage::SaveToStream(platform::TStream& Stream) { WriteGIFData(Stream, false); }

void TWnGIFImage::ReadData(platform::TStream& Stream) { ReadGIFData(ReadLength(Stream), Stream, true); }

void TWnGIFImage::WriteData(platform::TStream& Stream) { WriteGIFData(Stream, true); }

void TWnGIFImage::LoadFromClipboardFormat(const QMimeData& Data) {
  if (Data.hasFormat(GIFImageMimeType())) {
    const QByteArray bytes = Data.data(GIFImageMimeType());
    platform::TBytesStream memory(bytes.constData(), bytes.size());
    ReadGIFData(ReadLength(memory), memory, false);
    if (!FFrames.empty()) {
      FrameIndex = 0;
      if (Data.hasImage()) {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetImage(qvariant_cast<QImage>(Data.imageData()));
        FFrames.front()->FBitmap = std::move(bitmap);
      }
    }
    return;
  }
  if (!Data.hasImage()) throw platform::EInvalidGraphic("Unsupported clipboard format");
  TBitmap bitmap;
  bitmap.SetImage(qvariant_cast<QImage>(Data.imageData()));
  Assign(&bitmap);
}

void TWnGIFImage::SaveToClipboardFormat(QMimeData& Data) {
  if (FFrames.empty()) return;
  Data.setImageData(FFrames.front()->GetBitmap()->ToImage());
  const bool encoded =
      std::all_of(FFrames.begin(), FFrames.end(), [](const auto& frame) { return frame->Image->HasData(); });
  if (!encoded) return;
  platform::TMemoryStream memory;
  WriteGIFData(memory, true);
  Data.setData(GIFImageMimeType(), QByteArray(reinterpret_cast<const char*>(memory.Memory()),
                                              static_cast<qsizetype>(memory.Size())));
}

// ------------------------------------------------------------------ reading

void TWnGIFImage::ReadGIFData(std::int64_t Size, platform::TStream& Stream, bool DecodeFirst) {
  NewImage();
  // The size comes from stored data: nothing is allocated for bytes that
  // are not there.
  if (Size < 0 || Size > Stream.Size() - Stream.Position()) throw EStreamError(StreamReadError);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Size));
  Stream.ReadBuffer(bytes.data(), Size);
  if (Size > 0) {
    TGIFReader reader(bytes.data(), Size);
    if (std::memcmp(reader.Take(3), "GIF", 3) != 0) throw EInvalidGraphicOperation("Unknown GIF version");
    const std::uint8_t* version = reader.Take(3);
    if (std::memcmp(version, "87a", 3) == 0)
      Version = 1;
    else if (std::memcmp(version, "89a", 3) == 0)
      Version = 2;
    else
      throw EInvalidGraphicOperation("Unknown GIF version");

    TGIFData& data = *FData;
    ScreenWidth = reader.Word();
    ScreenHeight = reader.Word();
    const std::uint8_t packed = reader.Byte();
    const std::uint8_t background = reader.Byte();
    data.AspectRatio = reader.Byte();
    data.BitsPerPixel = static_cast<std::uint8_t>((packed & 7) + 1);
    data.ColorResBits = static_cast<std::uint8_t>(((packed & 0x70) >> 4) + 1);
    if (packed & 0x80) {
      ReadColorMap(reader, data.BitsPerPixel, data.ColorMap);
      if (background < data.ColorMap.Count) BackgroundColor = ColorOf(data.ColorMap.Colors[background]);
    }

    std::vector<std::unique_ptr<TExtension>> collected;
    auto labelAfterBlock = [&reader] { return reader.Remaining() > 0 ? reader.NextLabel() : Trailer; };
    std::uint8_t label = reader.NextLabel();
    while (label != 0 && label != Trailer && reader.Remaining() > 0) {
      while (label == ExtensionIntroducer) {
        std::unique_ptr<TExtension> extension = ReadExtension(reader);
        if (extension->Kind == ekPlainText) {
          collected.clear();
        } else if (extension->Kind == ekApplication) {
          std::uint16_t count = 0;
          if (IsLoopExtension(*extension, count)) {
            Looping = true;
            RepeatCount = count;
          }
        } else {
          collected.push_back(std::move(extension));
        }
        label = labelAfterBlock();
      }
      if (label == ImageSeparator) {
        auto frame = std::make_unique<TWnGIFFrame>(this);
        if (data.ColorMap.Count > 0)
          frame->Item().BitsPerPixel = static_cast<std::uint8_t>(ColorsToBits(data.ColorMap.Count));
        frame->Extensions = std::move(collected);
        collected.clear();
        ReadFrame(reader, *frame, *this);
        FFrames.push_back(std::move(frame));
        label = labelAfterBlock();
        if (label != ExtensionIntroducer && label != ImageSeparator && label != Trailer) label = 0;
      } else if (label != ExtensionIntroducer) {
        if (data.Comment.empty() && !collected.empty()) {
          for (const auto& extension : collected) {
            if (extension->Kind != ekComment || !extension->Data) continue;
            if (!data.Comment.empty()) data.Comment.emplace_back("\r\n\r\n");
            data.Comment.insert(data.Comment.end(), extension->Data->begin(), extension->Data->end());
          }
          collected.clear();
        } else {
          collected.clear();
          if (label != 0 && label != Trailer) throw EStreamError(StreamReadError);
        }
      }
    }
  }

  if (!FFrames.empty()) {
    FrameIndex = 0;
    if (DecodeFirst) {
      try {
        FFrames.front()->GetBitmap();
      } catch (...) {
        FFrames.erase(FFrames.begin());
        throw;
      }
    }
  }
  Changed();
}


void TWnGIFImage::DecodeFrame(TWnGIFFrame& Frame, TBitmap& Bitmap) {
  const TGIFItem& item = Frame.Item();
  const int bits = item.BitsPerPixel;
  if (bits < 1 || bits > 8) throw EInvalidGraphicOperation(ColorCountText);
  const int bitCount = bits == 1 ? 1 : bits <= 4 ? 4 : 8;
  const std::int64_t width = item.Width, height = item.Height;
  if (width <= 0 || height <= 0) {
    Bitmap.SetSize(0, 0);
    return;
  }
  // The size comes from the file: checked in 64 bits against the pixel cap
  // before the pixels are allocated.
  if (!rv::RvPixelsAllowed(width, height) ||
      !rv::RvAllocationAllowed(rv::RvPackedRowBytes(width, bitCount) * height))
    throw EStreamError(StreamReadError);
  const platform::TPixelFormat format = bitCount == 1 ? platform::pf1bit : bitCount == 4 ? platform::pf4bit
                                                                                          : platform::pf8bit;
  TBitmap decoded(static_cast<int>(width), static_cast<int>(height), format);
  std::array<platform::TPaletteEntry, 256> palette;
  for (int i = 0; i < (1 << bitCount); ++i) {
    const TGIFColor c = i < item.ColorMap.Count ? item.ColorMap.Colors[static_cast<std::size_t>(i)]
                                                : TGIFColor{128, 128, 128};
    palette[static_cast<std::size_t>(i)] = {c.Red, c.Green, c.Blue, 0};
  }
  decoded.SetPaletteEntries(0, 1 << bitCount, palette.data());

  TGIFPixelRows rows;
  rows.Row0 = decoded.ScanLine(0);
  rows.Stride = height > 1 ? decoded.ScanLine(1) - decoded.ScanLine(0) : 0;
  rows.Width = static_cast<int>(width);
  rows.Height = static_cast<int>(height);
  rows.BitCount = bitCount;
  TGIFProgress progress;
  if (OnProgress) progress = [this](platform::TProgressStage Stage, int Percent) { Progress(Stage, Percent); };
  const std::vector<std::uint8_t>& data = item.ImageData->Data();
  Frame.Corrupted |= LzwDecode(data.data(), static_cast<std::int64_t>(data.size()), Frame.Interlaced, progress, rows,
                               bits, GIFLoadCorrupted);
  Bitmap.Assign(decoded);
}

// ------------------------------------------------------------------ writing

void TWnGIFImage::UpdateExtensions(TWnGIFFrame& Frame) {
  auto& extensions = Frame.Extensions;
  if (Frame.AnimateInterval > 0 || Frame.TransparentColor != platform::clNone || Frame.DisposalMethod != 0) {
    auto control = std::find_if(extensions.begin(), extensions.end(),
                                [](const auto& e) { return e->Kind == ekGraphicControl; });
    if (control == extensions.end()) {
      auto created = std::make_unique<TExtension>(ekGraphicControl);
      created->Header[0] = 4;
      extensions.push_back(std::move(created));
      control = extensions.end() - 1;
    }
    std::array<std::uint8_t, 14>& header = (*control)->Header;
    // Delays past the 16-bit field stay at its largest value instead of
    // wrapping to a short one.
    const int delay = std::min(std::max(Frame.AnimateInterval, 0) / 10, 65535);
    header[2] = static_cast<std::uint8_t>(delay);
    header[3] = static_cast<std::uint8_t>(delay >> 8);
    const int index = FindColorIndex(Frame.Item().ColorMap, Frame.TransparentColor);
    std::uint8_t flags = header[1];
    if (index >= 0) {
      header[4] = static_cast<std::uint8_t>(index);
      flags |= 1;
    } else {
      flags &= ~1;
    }
    flags = static_cast<std::uint8_t>((flags & ~0x1C) | ((Frame.DisposalMethod & 7) << 2));
    header[1] = flags;
  }
  std::erase_if(extensions, [](const auto& e) { return e->Kind == ekComment && (!e->Data || e->Data->empty()); });
  if (!extensions.empty()) Version = 2;
}

namespace {

// The parts of a BMP file image the encoder reads; false when it is not one
// it can take.
struct TBmpView {
  int Width = 0;
  int Height = 0; // rows bottom-up
  int BitCount = 0;
  const std::uint8_t* Palette = nullptr;
  int PaletteEntries = 0;
  const std::uint8_t* Bits = nullptr;
  std::int64_t RowBytes = 0;

  bool Parse(const std::vector<std::uint8_t>& Bmp) {
    const std::int64_t size = static_cast<std::int64_t>(Bmp.size());
    if (size < 54 || Bmp[0] != 'B' || Bmp[1] != 'M') return false;
    const std::uint8_t* p = Bmp.data();
    const std::int64_t offset = U32At(p + 10), infoSize = U32At(p + 14);
    Width = static_cast<std::int32_t>(U32At(p + 18));
    Height = static_cast<std::int32_t>(U32At(p + 22));
    BitCount = p[28] | p[29] << 8;
    if (Width <= 0 || Height <= 0 || infoSize < 40 || offset < 14 + infoSize || offset > size) return false;
    RowBytes = BytesPerScanLine(Width, BitCount, 32);
    if (RowBytes * Height > size - offset) return false;
    Palette = p + 14 + infoSize;
    PaletteEntries = static_cast<int>((offset - 14 - infoSize) / 4);
    Bits = p + offset;
    return true;
  }
};

} // namespace

void TWnGIFImage::EncodeBitmap(TWnGIFFrame& Frame) {
  TBitmap* bitmap = Frame.FBitmap.get();
  if (bitmap == nullptr || bitmap->Empty()) throw EInvalidGraphicOperation(NoDataText);
  std::vector<std::uint8_t> bmp;
  const platform::TPixelFormat format = bitmap->PixelFormat();
  if (format == platform::pf1bit || format == platform::pf4bit || format == platform::pf8bit) {
    bmp = DIBFromBitmap(*bitmap, format);
  } else {
    const TColorReduction method = Frame.GrayScale ? crGrayscale : DefaultColorReduction;
    bmp = BitmapToBMPStream(*bitmap, platform::pf8bit, method)->Data();
    if (method == crGrayscale) Frame.GrayScale = true;
  }

  TBmpView view;
  if (!view.Parse(bmp) || (view.BitCount != 1 && view.BitCount != 4 && view.BitCount != 8))
    throw EInvalidGraphicOperation(EncodingErrorText);
  // The image descriptor holds 16-bit sizes.
  if (view.Width > 65535 || view.Height > 65535) throw EInvalidGraphicOperation(EncodingErrorText);
  const int colors = 1 << view.BitCount;
  Frame.Interlaced = false;
  TGIFItem& item = Frame.Item();
  item.ColorMap = TGIFColorMap();
  item.ColorMap.Count = std::min(256, colors);
  for (int i = 0; i < item.ColorMap.Count && i < view.PaletteEntries; ++i) {
    const std::uint8_t* q = view.Palette + 4 * i;
    item.ColorMap.Colors[static_cast<std::size_t>(i)] = {q[2], q[1], q[0]};
  }
  item.ImageData = std::make_unique<platform::TMemoryStream>();
  TGIFPixelRows rows;
  rows.Row0 = const_cast<std::uint8_t*>(view.Bits) + (view.Height - 1) * view.RowBytes;
  rows.Stride = -view.RowBytes;
  rows.Width = view.Width;
  rows.Height = view.Height;
  rows.BitCount = view.BitCount;
  TGIFProgress progress;
  if (OnProgress) progress = [this](platform::TProgressStage Stage, int Percent) { Progress(Stage, Percent); };
  LzwEncode(*item.ImageData, false, progress, rows);
  item.BitsPerPixel = static_cast<std::uint8_t>(BitsFor(colors));
  if (FData->ColorMap.Count == 0) {
    TGIFData& data = MutableData();
    data.ColorMap = item.ColorMap;
    data.BitsPerPixel = item.BitsPerPixel;
    Frame.HasLocalMap = false;
  } else {
    Frame.HasLocalMap = true;
  }
  item.Width = view.Width;
  item.Height = view.Height;
  ScreenWidth = static_cast<std::uint16_t>(std::clamp(std::max<int>(ScreenWidth, view.Width + Frame.TopLeft.X), 0, 65535));
  ScreenHeight =
      static_cast<std::uint16_t>(std::clamp(std::max<int>(ScreenHeight, view.Height + Frame.TopLeft.Y), 0, 65535));
}

void TWnGIFImage::EncodeFrames() {
  for (const auto& frame : FFrames) {
    if (!frame->Image->HasData()) {
      frame->NewItem();
      EncodeBitmap(*frame);
    }
    UpdateExtensions(*frame);
  }
}

void TWnGIFImage::WriteGIFData(platform::TStream& Stream, bool WithLength) {
  if (FFrames.empty()) throw EInvalidGraphicOperation(NoDataText);
  EncodeFrames();
  const TGIFData& data = *FData;
  if (!data.Comment.empty()) Version = 2;

  std::vector<std::uint8_t> out;
  const char* signature = Version >= 2 ? "GIF89a" : "GIF87a";
  out.insert(out.end(), signature, signature + 6);
  UpdateScreenSize();
  PutWord(out, ScreenWidth);
  PutWord(out, ScreenHeight);
  if (data.ColorMap.Count >= 1) {
    const int sizeBits = std::clamp<int>(data.BitsPerPixel, 1, 8);
    out.push_back(static_cast<std::uint8_t>(0x80 + ((ColorsToBits(data.ColorMap.Count) - 1) << 4) + (sizeBits - 1)));
    const int background = BackgroundColor != platform::clNone ? FindColorIndex(data.ColorMap, BackgroundColor) : -1;
    out.push_back(static_cast<std::uint8_t>(std::max(background, 0)));
    out.push_back(data.AspectRatio);
    PutColorMap(out, data.ColorMap, 1 << sizeBits);
  } else {
    out.insert(out.end(), {0, 0, data.AspectRatio});
  }

  if (Looping && FFrames.size() > 1) {
    out.insert(out.end(), {ExtensionIntroducer, 0xFF, 11});
    const char* id = "NETSCAPE2.0";
    out.insert(out.end(), id, id + 11);
    out.insert(out.end(), {3, 1, static_cast<std::uint8_t>(RepeatCount), static_cast<std::uint8_t>(RepeatCount >> 8), 0});
  }

  for (const auto& frame : FFrames) {
    for (const auto& extension : frame->Extensions) {
      out.push_back(ExtensionIntroducer);
      out.push_back(TExtension::Labels[extension->Kind]);
      const int headerSize = TExtension::HeaderSizes[extension->Kind];
      out.insert(out.end(), extension->Header.begin(), extension->Header.begin() + headerSize);
      if (extension->Kind != ekGraphicControl)
        PutSubBlocks(out, extension->Data ? *extension->Data : std::vector<std::string>());
    }
    TGIFItem& item = frame->Item();
    out.push_back(ImageSeparator);
    PutWord(out, frame->TopLeft.X);
    PutWord(out, frame->TopLeft.Y);
    PutWord(out, item.Width);
    PutWord(out, item.Height);
    item.BitsPerPixel = static_cast<std::uint8_t>(BitsFor(item.ColorMap.Count));
    out.push_back(static_cast<std::uint8_t>((frame->HasLocalMap ? 0x80 + item.BitsPerPixel - 1 : 0) +
                                            (frame->Interlaced ? 0x40 : 0)));
    // The table has the length its size field declares, however few
    // colours the frame holds.
    if (frame->HasLocalMap) PutColorMap(out, item.ColorMap, 1 << item.BitsPerPixel);
    const std::vector<std::uint8_t>& encoded = item.ImageData->Data();
    out.insert(out.end(), encoded.begin(), encoded.end());
  }

  if (!data.Comment.empty()) {
    out.insert(out.end(), {ExtensionIntroducer, 0xFE});
    PutSubBlocks(out, data.Comment);
  }
  out.push_back(Trailer);

  if (WithLength) {
    const std::uint32_t length = static_cast<std::uint32_t>(out.size());
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                               static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
    Stream.WriteBuffer(b, 4);
  }
  Stream.WriteBuffer(out.data(), static_cast<std::int64_t>(out.size()));
}

} // namespace wn

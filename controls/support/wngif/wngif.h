// GIF pictures as a picture class of the graphic framework: read, held as
// their encoded frames, decoded on first use, drawn and written again, with
// their extension blocks, comments and loop count.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/colors.h"
#include "platform/graphicclass.h"
#include "platform/graphics.h"
#include "platform/stream.h"

namespace wn {

class TIcon;
class TWnAnimatedCursorImage;
class TWnGIFImage;

// Damaged frame data is read tolerantly (the frame is marked Corrupted)
// instead of failing.
extern bool GIFLoadCorrupted;

// The clipboard format of whole GIF pictures.
extern const char* const GIFImageFormatName;
QString GIFImageMimeType();

struct TGIFColor {
  std::uint8_t Red = 0;
  std::uint8_t Green = 0;
  std::uint8_t Blue = 0;
};

struct TGIFColorMap {
  std::int32_t Count = 0; // 0: no table
  std::array<TGIFColor, 256> Colors{};
};

// 2 -> 1, 4 -> 2 ... 256 -> 8; other counts fail.
int ColorsToBits(int Count);
// The first entry of Map with the colour's RGB value; -1 for none and for
// clNone.
int FindColorIndex(const TGIFColorMap& Map, platform::TColor Color);

// What the pictures that share it have in common.
class TGIFData {
public:
  std::vector<std::string> Comment;
  std::uint8_t AspectRatio = 0;
  std::uint8_t BitsPerPixel = 0;
  std::uint8_t ColorResBits = 0;
  TGIFColorMap ColorMap;
};

// The encoded image of one frame, shared by frames assigned from each other.
class TGIFItem {
public:
  // Code-size byte, data sub-blocks and terminator, as they stand in a GIF.
  std::unique_ptr<platform::TMemoryStream> ImageData;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::uint8_t DescriptorFlags = 0;
  std::uint8_t BitsPerPixel = 0;
  TGIFColorMap ColorMap;

  bool HasData() const { return ImageData && ImageData->Size() > 0; }
};

enum TExtensionKind : std::uint8_t { ekGraphicControl, ekPlainText, ekApplication, ekComment };

class TExtension {
public:
  explicit TExtension(TExtensionKind Kind) : Kind(Kind) {}
  void Assign(const TExtension& Source);

  // The label that follows "!" for each kind.
  static constexpr std::uint8_t Labels[4] = {0xF9, 0x01, 0xFF, 0xFE};
  // Fixed bytes after the label: graphic control 6 (its terminator
  // included), plain text 13, application 12, comment none.
  static constexpr int HeaderSizes[4] = {6, 13, 12, 0};

  TExtensionKind Kind;
  std::unique_ptr<std::vector<std::string>> Data; // one string per sub-block
  std::array<std::uint8_t, 14> Header{};
};

class TWnGIFFrame {
public:
  explicit TWnGIFFrame(TWnGIFImage* Owner);
  TWnGIFFrame(const TWnGIFFrame&) = delete;
  TWnGIFFrame& operator=(const TWnGIFFrame&) = delete;

  // Another frame; frame FrameIndex (or 0) of a picture; a bitmap; an icon
  // (drawn on white, which becomes the transparent colour); nothing.
  void Assign(const TWnGIFFrame* Source);
  void Assign(const TWnGIFImage* Source);
  void Assign(const platform::TBitmap* Source);
  void Assign(const TIcon* Source);
  void Assign(std::nullptr_t);
  void AssignTo(platform::TBitmap& Dest);

  // The decoded picture, decoded on first use and kept: 1, 4 or 8 bits with
  // the frame's colour table. Empty without data.
  platform::TBitmap* GetBitmap();
  bool HasBitmap() const { return FBitmap != nullptr; }
  int Width();
  int Height();
  // The frame's size as it stands, without decoding.
  int KnownWidth() const;
  int KnownHeight() const;

  TWnGIFImage* Owner() const { return FOwner; }
  TGIFItem& Item() { return *Image; }
  const TGIFItem& Item() const { return *Image; }
  // Drops the encoded data (the bitmap is encoded afresh when written).
  void NewItem();

  std::shared_ptr<TGIFItem> Image;
  std::vector<std::unique_ptr<TExtension>> Extensions;
  platform::TPoint TopLeft;
  bool Interlaced = false;
  bool Corrupted = false;
  bool GrayScale = false;
  platform::TColor TransparentColor = platform::clNone;
  std::int32_t AnimateInterval = 0; // milliseconds; 32 bits, so long delays keep their length
  std::uint8_t DisposalMethod = 0;
  bool HasLocalMap = false;

private:
  friend class TWnGIFImage;
  void Finished();

  TWnGIFImage* FOwner;
  std::unique_ptr<platform::TBitmap> FBitmap;
};

class TWnGIFImage : public platform::TGraphic {
public:
  TWnGIFImage();
  ~TWnGIFImage() override;

  std::string ClassName() const override { return "TWnGIFImage"; }

  // Another GIF picture (sharing its data), nothing (empty); anything else
  // as the framework does.
  void Assign(const platform::TGraphic* Source) override;
  void Assign(const TWnGIFImage* Source);
  void Assign(const TWnGIFFrame* Source);
  void Assign(const platform::TBitmap* Source);
  // One frame per icon, each shown for its display rate.
  void Assign(const TWnAnimatedCursorImage* Source);
  void Assign(std::nullptr_t);
  void AssignTo(TWnGIFImage& Dest) const;
  void AssignTo(platform::TBitmap& Dest);

  void Draw(platform::TCanvas& Canvas, const platform::TRect& Rect) override;
  bool Equals(const platform::TGraphic* Other) const;
  bool GetEmpty() override;
  int GetWidth() override;
  int GetHeight() override;
  std::vector<platform::TPaletteEntry> GetPalette();
  bool GetTransparent() override;
  // Always refused: "Cannot change the Size of a GIF image".
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;

  void LoadFromStream(platform::TStream& Stream) override;
  void SaveToStream(platform::TStream& Stream) override;
  // The stored form: a 32-bit little-endian length, then the GIF.
  void ReadData(platform::TStream& Stream);
  void WriteData(platform::TStream& Stream);
  // "GIF Image" (with frame 0 as a bitmap beside it), or a bitmap alone.
  void LoadFromClipboardFormat(const QMimeData& Data) override;
  void SaveToClipboardFormat(QMimeData& Data) override;

  // Appends a frame assigned from Graphic and selects it.
  template <class T>
  int AddFrame(const T* Graphic) {
    const int index = AppendFrame();
    FFrames[static_cast<std::size_t>(index)]->Assign(Graphic);
    return index;
  }

  int FrameCount() const { return static_cast<int>(FFrames.size()); }
  TWnGIFFrame* Frame(int Index) const { return FFrames.at(static_cast<std::size_t>(Index)).get(); }
  // Frame FrameIndex, else frame 0; without frames, a new empty frame.
  platform::TBitmap* GetCurrentBitmap();
  void NewImage();
  // ScreenWidth and ScreenHeight from the frames' extents.
  void UpdateScreenSize();

  const TGIFData& Data() const { return *FData; }
  // The shared data, copied first when another picture shares it.
  TGIFData& MutableData();

  std::int32_t FrameIndex = -1;
  std::uint8_t Version = 0; // 0 none, 1 "87a", 2 "89a"
  std::uint16_t ScreenWidth = 0;
  std::uint16_t ScreenHeight = 0;
  platform::TColor BackgroundColor = platform::clNone;
  bool Looping = false;
  std::uint16_t RepeatCount = 1;
  bool Corrupted = false;

private:
  friend class TWnGIFFrame;
  int AppendFrame();
  void ReadGIFData(std::int64_t Size, platform::TStream& Stream, bool DecodeFirst);
  void WriteGIFData(platform::TStream& Stream, bool WithLength);
  void EncodeFrames();
  void EncodeBitmap(TWnGIFFrame& Frame);
  void UpdateExtensions(TWnGIFFrame& Frame);
  void DecodeFrame(TWnGIFFrame& Frame, platform::TBitmap& Bitmap);

  std::shared_ptr<TGIFData> FData;
  std::vector<std::unique_ptr<TWnGIFFrame>> FFrames;
};

// Registers the class for "gif" files and the "GIF Image" clipboard format
// (done at start; again after an unregistering).
void RegisterWnGIF();

} // namespace wn

#include "controls/kel/kelcont.h"

#include <QPainter>
#include <algorithm>

#include "controls/kel/kelgraph.h"

namespace kel {

using namespace platform;

namespace {

[[noreturn]] void InvalidSize() { throw EKelException("Invalid image size"); }
[[noreturn]] void TooMany() { throw EKelException("Too many images"); }

// Copies an area between bitmaps, pixels as they are.
void CopyArea(TBitmap& dest, int dx, int dy, const TBitmap& source, int sx, int sy, int w, int h) {
  if (w <= 0 || h <= 0 || dest.Empty() || source.Empty()) return;
  BitBlt(dest.Canvas(), dx, dy, w, h, const_cast<TBitmap&>(source).Canvas(), sx, sy, SRCCOPY);
}

std::uint8_t ReadByte(TStream& stream) {
  std::uint8_t b;
  stream.ReadBuffer(&b, 1);
  return b;
}

} // namespace

// ---------------------------------------------------------------- TKelImageListItem

TKelImageListItem::TKelImageListItem() {
  FImage.SetPixelFormat(pf24bit);
  FImage.SetSize(0, FHeight);
}

std::unique_ptr<TKelImageListItem> TKelImageListItem::CreateSize(int width, int height) {
  if (width < 1 || height < 1) InvalidSize();
  auto item = std::make_unique<TKelImageListItem>();
  item->FWidth = width;
  item->FHeight = height;
  item->Clear();
  return item;
}

void TKelImageListItem::SetWidth(int value) {
  if (value < 1 || value == FWidth) return;
  FWidth = value;
  Clear();
  Change();
}

void TKelImageListItem::SetHeight(int value) {
  if (value < 1 || value == FHeight) return;
  FHeight = value;
  Clear();
  Change();
}

void TKelImageListItem::SetMasked(bool value) {
  if (value == FMasked) return;
  FMasked = value;
  if (value) {
    FMask.SetPixelFormat(pf1bit);
    FMask.SetMonochrome(true);
    FMask.SetSize(FImage.Width(), FHeight);
  } else {
    FMask.Assign(TBitmap());
  }
  Change();
}

int TKelImageListItem::Offset(int index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return FOffsets[std::size_t(index)];
}

bool TKelImageListItem::ValidImage(const TBitmap* graphic) const {
  if (graphic == nullptr) return false;
  if (graphic->Height() != FHeight || graphic->Width() <= 0 || graphic->Width() % FWidth != 0) InvalidSize();
  return true;
}

int TKelImageListItem::AllocImage() {
  const int x = FUsedWidth;
  if (FImage.Width() < FUsedWidth + FWidth) {
    const int width = FImage.Width() + FAllocBy * FWidth;
    if (width > kelMaxStripWidth) TooMany();
    FImage.SetSize(width, FHeight);
    if (FMasked) FMask.SetSize(width, FHeight);
  }
  FUsedWidth += FWidth;
  FOffsets.push_back(static_cast<std::int16_t>(x));
  return Count() - 1;
}

int TKelImageListItem::Add(const TBitmap* image, const TBitmap* mask) {
  if (image == nullptr && mask == nullptr) return AllocImage();
  if (image == nullptr) return -1;
  ValidImage(image);
  if (FMasked && mask != nullptr) ValidImage(mask);
  const int index = AllocImage();
  Replace(index, image, mask);
  return index;
}

void TKelImageListItem::Replace(int index, const TBitmap* image, const TBitmap* mask) {
  if (image == nullptr) return;
  ValidImage(image);
  if (FMasked && mask != nullptr) ValidImage(mask);
  const int x = Offset(index);
  CopyArea(FImage, x, 0, *image, 0, 0, FWidth, FHeight);
  if (FMasked) {
    if (mask != nullptr) {
      FMask.SetMonochrome(true);
      CopyArea(FMask, x, 0, *mask, 0, 0, FWidth, FHeight);
    } else {
      FMask.Canvas().Brush = TBrush{clBlack, bsSolid, {}};
      FMask.Canvas().FillRect(Bounds(x, 0, FWidth, FHeight));
    }
  }
  FOffsets[std::size_t(index)] = static_cast<std::int16_t>(x);
  Change();
}

void TKelImageListItem::ReplaceMasked(int index, const TBitmap* image, TColor transparentColor) {
  if (image == nullptr || !ValidImage(image)) return;
  if (!FMasked) return Replace(index, image, nullptr);
  TBitmap colour, mask;
  KelMaskTransparentColor(colour, mask, *image, transparentColor);
  // The mask routine marks the transparent pixels white; opaque ones stay black.
  Replace(index, &colour, &mask);
}

void TKelImageListItem::AddImages(const TKelImageListItem& source) {
  if (source.FWidth != FWidth || source.FHeight != FHeight) InvalidSize();
  const int n = source.Count();
  if (n == 0) return;
  const int used = FUsedWidth + n * FWidth;
  if (used > kelMaxStripWidth) TooMany();
  BeginUpdate();
  if (FImage.Width() < used) {
    FImage.SetSize(used, FHeight);
    if (FMasked) FMask.SetSize(used, FHeight);
  }
  // Each image is taken from where the source keeps it and recorded where it
  // went: after an earlier stored form the used width is not count x Width.
  for (int j = 0; j < n; ++j) {
    const int to = FUsedWidth + j * FWidth;
    CopyArea(FImage, to, 0, source.FImage, source.FOffsets[std::size_t(j)], 0, FWidth, FHeight);
    if (FMasked && source.FMasked)
      CopyArea(FMask, to, 0, source.FMask, source.FOffsets[std::size_t(j)], 0, FWidth, FHeight);
    FOffsets.push_back(static_cast<std::int16_t>(to));
  }
  FUsedWidth = used;
  EndUpdate(true);
}

void TKelImageListItem::Clear() {
  BeginUpdate();
  FImage.Assign(TBitmap());
  FImage.SetPixelFormat(pf24bit);
  FImage.SetSize(0, FHeight);
  if (FMasked) {
    FMask.Assign(TBitmap());
    FMask.SetPixelFormat(pf1bit);
    FMask.SetSize(0, FHeight);
  } else {
    FMask.Assign(TBitmap());
  }
  FUsedWidth = 0;
  FOffsets.clear();
  EndUpdate(false);
}

TRect TKelImageListItem::GetImageRect(int index) const {
  const int x = Offset(index);
  return Rect(x, 0, x + FWidth, FHeight);
}

void TKelImageListItem::GetBitmap(int index, TBitmap* target) const {
  if (target == nullptr) return;
  const int x = Offset(index);
  target->SetPixelFormat(FImage.PixelFormat() == pfDevice ? pf24bit : FImage.PixelFormat());
  target->SetSize(FWidth, FHeight);
  CopyArea(*target, 0, 0, FImage, x, 0, FWidth, FHeight);
}

TColor TKelImageListItem::GetTransparentColor(int index) const {
  return const_cast<TBitmap&>(FImage).Canvas().Pixels(Offset(index), FHeight - 1);
}

TColor TKelImageListItem::GetPixel(TPoint point, int index) const {
  return const_cast<TBitmap&>(FImage).Canvas().Pixels(Offset(index) + point.X, point.Y);
}

void TKelImageListItem::Compose(TCanvas& canvas, int x, int y, int offset) {
  const std::uint32_t mode = canvas.CopyMode;
  const TRect area = Rect(offset, 0, offset + FWidth, FHeight);
  const TRect target = Bounds(x, y, FWidth, FHeight);
  canvas.CopyMode = SRCAND;
  canvas.CopyRect(target, FMask.Canvas(), area);
  canvas.CopyMode = SRCPAINT;
  canvas.CopyRect(target, FImage.Canvas(), area);
  canvas.CopyMode = mode;
}

void TKelImageListItem::Draw(TCanvas& canvas, int x, int y, int index) {
  const int offset = Offset(index);
  const TRect area = Rect(offset, 0, offset + FWidth, FHeight);
  const TRect target = Bounds(x, y, FWidth, FHeight);
  const auto plain = [&](TBitmap& strip) {
    const std::uint32_t mode = canvas.CopyMode;
    canvas.CopyMode = SRCCOPY;
    canvas.CopyRect(target, strip.Canvas(), area);
    canvas.CopyMode = mode;
  };
  if (!FMasked) return plain(FImage);
  if (ImageType == itMask) return plain(FMask);
  const bool onSquare = DrawingStyle == dsFocus || DrawingStyle == dsSelected ||
                        (DrawingStyle == dsNormal && BkColor != clNone);
  if (!onSquare) return Compose(canvas, x, y, offset);
  TBitmap square(FWidth, FHeight, pf24bit);
  KelFillSolidBitmap(square, Rect(0, 0, FWidth, FHeight), BkColor);
  Compose(square.Canvas(), 0, 0, offset);
  if ((DrawingStyle == dsFocus || DrawingStyle == dsSelected) && BlendColor != clNone) {
    const QRgb blend = ColorToQRgb(BlendColor);
    QImage& pixels = square.Image();
    for (int py = 0; py < FHeight; ++py)
      for (int px = 0; px < FWidth; ++px) {
        const bool set = DrawingStyle == dsSelected ? ((px + py) & 1) != 0 : !((px & 1) && (py & 1));
        if (set) pixels.setPixel(px, py, blend);
      }
  }
  const std::uint32_t mode = canvas.CopyMode;
  canvas.CopyMode = SRCCOPY;
  canvas.CopyRect(target, square.Canvas(), Rect(0, 0, FWidth, FHeight));
  canvas.CopyMode = mode;
}

void TKelImageListItem::DrawStyled(TCanvas& canvas, const TRect& rect, unsigned flags, int index, TRect* result) {
  if (result != nullptr) *result = TRect{};
  const TRect source = GetImageRect(index);
  if (FMasked)
    KelDrawBitmapStyled(canvas, rect, FImage, &FMask, clNone, flags | kbfMask, source);
  else
    KelDrawBitmapStyled(canvas, rect, FImage, nullptr, GetTransparentColor(index) | 0x02000000, flags, source);
}

void TKelImageListItem::DrawClipped(TCanvas& canvas, const TRect& rect, unsigned flags, std::uint32_t clip,
                                    TColor transparentColor, int index) {
  const TRect source = GetImageRect(index);
  const bool had = canvas.HasClip();
  const QRegion old = canvas.ClipRegion();
  if (flags & kbfClip) {
    const QRegion region((clip ? KelOffsetRect(rect, clip) : rect).ToQRect());
    canvas.SetClipRegion(had ? old.intersected(region) : region);
  }
  if (FMasked)
    KelDrawBitmapStyled(canvas, rect, FImage, &FMask, clNone, (flags & ~kbfClip) | kbfMask, source);
  else
    KelDrawBitmapStyled(canvas, rect, FImage, nullptr, transparentColor, flags & ~kbfClip, source);
  if (had) canvas.SetClipRegion(old);
  else canvas.RemoveClip();
}

void TKelImageListItem::WriteData(TStream& stream) const {
  WriteHead(stream, KelPixelFormatFlags(FPixelFormat));
  KelWriteU32(stream, std::uint32_t(FHeight));
  KelWriteU32(stream, std::uint32_t(FWidth));
  KelWriteU32(stream, std::uint32_t(FAllocBy));
  const std::uint8_t masked = FMasked ? 1 : 0;
  stream.WriteBuffer(&masked, 1);
  KelWriteU32(stream, std::uint32_t(Count()));
  if (Count() == 0) return;
  // The images side by side in their order, whatever the strip holds beyond.
  const int width = Count() * FWidth;
  TBitmap strip(width, FHeight, FImage.PixelFormat() == pfDevice ? pf24bit : FImage.PixelFormat());
  if (FImage.PaletteSize() > 0) {
    std::vector<TPaletteEntry> palette(std::size_t(FImage.PaletteSize()));
    FImage.GetPaletteEntries(0, int(palette.size()), palette.data());
    strip.SetPaletteEntries(0, int(palette.size()), palette.data());
  }
  TBitmap mask;
  if (FMasked) {
    mask.SetPixelFormat(pf1bit);
    mask.SetMonochrome(true);
    mask.SetSize(width, FHeight);
  }
  for (int i = 0; i < Count(); ++i) {
    CopyArea(strip, i * FWidth, 0, FImage, FOffsets[std::size_t(i)], 0, FWidth, FHeight);
    if (FMasked) CopyArea(mask, i * FWidth, 0, FMask, FOffsets[std::size_t(i)], 0, FWidth, FHeight);
  }
  KelStreamWriteBitmap(stream, strip, Compressed(), KelSavePixelFormatColors(FPixelFormat));
  if (FMasked) KelStreamWriteBitmap(stream, mask, Compressed(), 2);
}

void TKelImageListItem::ReadData(TStream& stream) {
  const std::uint8_t flags = ReadHead(stream);
  const auto height = std::int32_t(KelReadU32(stream));
  const auto width = std::int32_t(KelReadU32(stream));
  const auto allocBy = std::int32_t(KelReadU32(stream));
  const std::uint8_t masked = ReadByte(stream);
  const std::uint32_t count = KelReadU32(stream);
  // Sizes and counts come from the data: check them before anything is built.
  if (height < 1 || width < 1 || allocBy < 1 || masked > 1 || width > kelMaxStripWidth ||
      height > kelMaxStripWidth || std::int64_t(count) * width > kelMaxStripWidth)
    throw EKelContainerError("Damaged image strip");
  TBitmap strip, mask;
  if (count > 0) {
    KelStreamReadBitmap(stream, strip, flags & kelItemCompressed);
    if (strip.Height() != height || strip.Width() < std::int64_t(count) * width)
      throw EKelContainerError("Damaged image strip");
    if (masked) {
      KelStreamReadBitmap(stream, mask, flags & kelItemCompressed);
      if (mask.Height() != height || mask.Width() < strip.Width()) throw EKelContainerError("Damaged image strip");
      mask.SetMonochrome(true);
    }
  }
  FPixelFormat = KelPixelFormatFromFlags(flags);
  FHeight = height;
  FWidth = width;
  FAllocBy = allocBy;
  FMasked = masked != 0;
  Clear();
  if (count > 0) {
    strip.SetWidth(int(count) * width);
    FImage.Assign(strip);
    if (FMasked) {
      mask.SetWidth(int(count) * width);
      FMask.Assign(mask);
    }
    for (std::uint32_t i = 0; i < count; ++i) FOffsets.push_back(std::int16_t(i * std::uint32_t(width)));
    FUsedWidth = int(count) * width;
  }
}

void TKelImageListItem::ReadBitmapProperty(TStream& stream) {
  KelReadBinaryProperty(stream, "Bitmap", [this](TStream& s) {
    const std::uint32_t count = KelReadU32(s);
    Clear();
    if (count == 0) return;
    TBitmap strip, mask;
    KelStreamReadBitmap(s, strip, Compressed());
    if (strip.Height() != FHeight || strip.Width() > kelMaxStripWidth ||
        std::int64_t(count) * FWidth > strip.Width())
      throw EKelContainerError("Damaged image strip");
    if (FMasked) {
      KelStreamReadBitmap(s, mask, Compressed());
      if (mask.Height() != FHeight || mask.Width() < strip.Width()) throw EKelContainerError("Damaged image strip");
      mask.SetMonochrome(true);
      FMask.Assign(mask);
    }
    FImage.Assign(strip);
    FUsedWidth = strip.Width();
    for (std::uint32_t i = 0; i < count; ++i) FOffsets.push_back(std::int16_t(i * std::uint32_t(FWidth)));
  });
}

void TKelImageListItem::Assign(const TKelListItem& source) {
  TKelListItem::Assign(source);
  const auto* s = dynamic_cast<const TKelImageListItem*>(&source);
  if (s == nullptr || s == this) return;
  BeginUpdate();
  FWidth = s->FWidth;
  FHeight = s->FHeight;
  FAllocBy = s->FAllocBy;
  FMasked = s->FMasked;
  FPixelFormat = s->FPixelFormat;
  BkColor = s->BkColor;
  BlendColor = s->BlendColor;
  DrawingStyle = s->DrawingStyle;
  ImageType = s->ImageType;
  Clear();
  EndUpdate(false);
  AddImages(*s);
}

// ---------------------------------------------------------------- TKelImageList

std::unique_ptr<TKelListItem> TKelImageList::CreateItem() const {
  auto item = std::make_unique<TKelImageListItem>();
  item->SetCompressed(DefaultCompressed());
  item->SetPixelFormat(DefaultPixelFormat());
  return item;
}

TKelImageListItem* TKelImageList::Strip(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return static_cast<TKelImageListItem*>(FItems[std::size_t(index)].get());
}

platform::TCanvas* TKelImageList::ItemCanvas(int listIndex) {
  TKelImageListItem* s = Strip(listIndex);
  return s ? &s->ImageBitmap().Canvas() : nullptr;
}
TRect TKelImageList::ItemRect(int listIndex) const {
  const TKelImageListItem* s = Strip(listIndex);
  return s ? Rect(0, 0, s->Width(), s->Height()) : TRect{};
}
int TKelImageList::ItemSize(int listIndex, int selector) const {
  const TKelImageListItem* s = Strip(listIndex);
  return s ? (selector == 0 ? s->Width() : s->Height()) : 0;
}
bool TKelImageList::ItemEmpty(int listIndex) const {
  const TKelImageListItem* s = Strip(listIndex);
  return s ? s->IsEmpty() : false;
}
bool TKelImageList::ItemExists(int listIndex, int imageIndex) const {
  const TKelImageListItem* s = Strip(listIndex);
  return s && imageIndex >= 0 && imageIndex < s->Count();
}
void TKelImageList::AssignItemTo(int listIndex, int imageIndex, TBitmap* target) const {
  if (ItemExists(listIndex, imageIndex)) Strip(listIndex)->GetBitmap(imageIndex, target);
}
int TKelImageList::ImageCount(int listIndex) const {
  const TKelImageListItem* s = Strip(listIndex);
  return s ? s->Count() : -1;
}
TColor TKelImageList::ItemTransparentColor(int listIndex, int imageIndex) const {
  return ItemExists(listIndex, imageIndex) ? Strip(listIndex)->GetTransparentColor(imageIndex) : 0xFFFFFF;
}
bool TKelImageList::ItemMasked(int listIndex) const {
  const TKelImageListItem* s = Strip(listIndex);
  return s != nullptr && s->Masked();
}
TColor TKelImageList::ItemPixel(int listIndex, int imageIndex, int x, int y) const {
  return ItemExists(listIndex, imageIndex) ? Strip(listIndex)->GetPixel({x, y}, imageIndex) : 0xFFFFFF;
}
void TKelImageList::DrawItem(TCanvas& canvas, int x, int y, int listIndex, int imageIndex) {
  if (ItemExists(listIndex, imageIndex)) Strip(listIndex)->Draw(canvas, x, y, imageIndex);
}
void TKelImageList::DrawItemRect(TCanvas& canvas, const TRect& rect, int listIndex, int imageIndex) {
  if (ItemExists(listIndex, imageIndex)) Strip(listIndex)->DrawStyled(canvas, rect, kbfStretch, imageIndex, nullptr);
}
void TKelImageList::DrawItemEffect(TCanvas& canvas, int x, int y, int listIndex, int imageIndex, bool transparent) {
  if (!ItemExists(listIndex, imageIndex)) return;
  TKelImageListItem* strip = Strip(listIndex);
  strip->DrawClipped(canvas, Bounds(x, y, strip->Width(), strip->Height()), transparent ? kbfTransparentColor : 0, 0,
                     strip->GetTransparentColor(imageIndex), imageIndex);
}

// ---------------------------------------------------------------- strings and waves

void TKelStringListItem::WriteData(TStream& stream) const {
  WriteHead(stream, Lines.empty() ? 0 : kelItemImage);
  if (Lines.empty()) return;
  std::string text;
  for (const std::string& line : Lines) text += line + "\r\n";
  KelWriteDataBlock(stream, std::vector<std::uint8_t>(text.begin(), text.end()), Compressed());
}

void TKelStringListItem::ReadData(TStream& stream) {
  const std::uint8_t flags = ReadHead(stream);
  Lines.clear();
  if (!(flags & kelItemImage)) return;
  const std::vector<std::uint8_t> data = KelReadDataBlock(stream, Compressed());
  // Lines end at a carriage return, a line feed or both.
  std::string line;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const char c = char(data[i]);
    if (c == '\r' || c == '\n') {
      Lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) Lines.push_back(line);
}

void TKelStringListItem::Assign(const TKelListItem& source) {
  TKelListItem::Assign(source);
  if (const auto* s = dynamic_cast<const TKelStringListItem*>(&source)) Lines = s->Lines;
}

void TKelWaveListItem::WriteData(TStream& stream) const {
  WriteHead(stream, Wave.Empty() ? 0 : kelItemImage);
  KelWriteDataBlock(stream, Wave.Bytes(), Compressed());
}

void TKelWaveListItem::ReadData(TStream& stream) {
  const std::uint8_t flags = ReadHead(stream);
  // The writer appends the block even for an empty wave: read it always, or
  // the next item would be read 4 bytes early.
  const std::vector<std::uint8_t> data = KelReadDataBlock(stream, Compressed());
  if (!(flags & kelItemImage) && !data.empty()) throw EKelContainerError("Damaged wave item");
  TBytesStream bytes(data.data(), std::int64_t(data.size()));
  Wave.LoadFromStream(bytes);
}

void TKelWaveListItem::Assign(const TKelListItem& source) {
  TKelListItem::Assign(source);
  if (const auto* s = dynamic_cast<const TKelWaveListItem*>(&source)) Wave.Assign(s->Wave);
}

std::unique_ptr<TKelListItem> TKelStringList::CreateItem() const {
  auto item = std::make_unique<TKelStringListItem>();
  item->SetCompressed(DefaultCompressed());
  return item;
}

std::unique_ptr<TKelListItem> TKelWaveList::CreateItem() const {
  auto item = std::make_unique<TKelWaveListItem>();
  item->SetCompressed(DefaultCompressed());
  return item;
}

// ---------------------------------------------------------------- TKelContainer

TKelContainer::TKelContainer() {
  for (TKelCustomComponent* list : std::initializer_list<TKelCustomComponent*>{&FBitmapList, &FImageList, &FStringList, &FWaveList})
    list->OnChange = [this](TKelCustomComponent*) { Change(); };
}

TKelContainer::~TKelContainer() {
  for (TKelCustomComponent* list : std::initializer_list<TKelCustomComponent*>{&FBitmapList, &FImageList, &FStringList, &FWaveList})
    list->OnChange = nullptr;
}

TKelContainer& KelGlobalContainer() {
  static TKelContainer container;
  return container;
}

TKelBitmapList& KelGlobalBitmapList() { return KelGlobalContainer().BitmapList(); }
TKelImageList& KelGlobalImageList() { return KelGlobalContainer().ImageList(); }
TKelCustomImageList* KelGlobalImageListPtr() { return &KelGlobalContainer().ImageList(); }

} // namespace kel

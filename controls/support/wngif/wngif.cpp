#include "controls/support/wngif/wngif.h"

#include <QPainter>
#include <algorithm>

#include "controls/support/wngraphics/wnanicursor.h"
#include "controls/support/wngraphics/wniconlist.h"
#include "controls/support/wngraphics/wntransparent.h"

namespace wn {

using platform::EInvalidGraphicOperation;
using platform::TBitmap;
using platform::TColor;

bool GIFLoadCorrupted = true;
const char* const GIFImageFormatName = "GIF Image";

QString GIFImageMimeType() { return platform::ClipboardFormatMimeType(GIFImageFormatName); }

namespace {

struct TRegistrar {
  TRegistrar() { RegisterWnGIF(); }
  ~TRegistrar() { platform::UnregisterGraphicClass("TWnGIFImage"); }
};
const TRegistrar Registrar;

} // namespace

int ColorsToBits(int Count) {
  for (int bits = 1; bits <= 8; ++bits)
    if (Count == 1 << bits) return bits;
  throw EInvalidGraphicOperation("Wrong number of colors; must be a power of 2");
}

int FindColorIndex(const TGIFColorMap& Map, TColor Color) {
  if (Color == platform::clNone) return -1;
  const std::uint32_t rgb = platform::ColorToRGB(Color);
  for (int i = 0; i < Map.Count && i < 256; ++i)
    if (platform::RGB(Map.Colors[static_cast<std::size_t>(i)].Red, Map.Colors[static_cast<std::size_t>(i)].Green,
                      Map.Colors[static_cast<std::size_t>(i)].Blue) == rgb)
      return i;
  return -1;
}

void RegisterWnGIF() {
  auto create = [] { return std::unique_ptr<platform::TGraphic>(new TWnGIFImage); };
  platform::RegisterFileFormat("gif", "CompuServe GIF Image", "TWnGIFImage", create);
  platform::RegisterClipboardFormat(GIFImageFormatName, "TWnGIFImage", create);
}

// ------------------------------------------------------------- TExtension

void TExtension::Assign(const TExtension& Source) {
  if (&Source == this) return;
  Kind = Source.Kind;
  Header = Source.Header;
  if (Source.Data) {
    if (!Data) Data = std::make_unique<std::vector<std::string>>();
    *Data = *Source.Data;
  } else if (Data) {
    Data->clear();
  }
}

// ------------------------------------------------------------ TWnGIFFrame

TWnGIFFrame::TWnGIFFrame(TWnGIFImage* Owner) : Image(std::make_shared<TGIFItem>()), FOwner(Owner) {}

void TWnGIFFrame::NewItem() { Image = std::make_shared<TGIFItem>(); }

void TWnGIFFrame::Finished() {
  if (FOwner) FOwner->UpdateScreenSize();
}

void TWnGIFFrame::Assign(const TWnGIFFrame* Source) {
  if (Source == nullptr) return Assign(nullptr);
  if (Source == this) return;
  Image = Source->Image;
  HasLocalMap = Source->FOwner == FOwner ? Source->HasLocalMap : true;
  TopLeft = Source->TopLeft;
  Interlaced = Source->Interlaced;
  if (Source->FBitmap) {
    FBitmap = std::make_unique<TBitmap>();
    FBitmap->Assign(*Source->FBitmap);
  } else {
    // A picture decoded earlier would stand for the new data.
    FBitmap.reset();
  }
  TransparentColor = Source->TransparentColor;
  AnimateInterval = Source->AnimateInterval;
  DisposalMethod = Source->DisposalMethod;
  GrayScale = Source->GrayScale;
  Corrupted = Source->Corrupted;
  for (const auto& extension : Source->Extensions)
    if (extension->Kind == ekComment && extension->Data && !extension->Data->empty()) {
      auto comment = std::make_unique<TExtension>(ekComment);
      comment->Assign(*extension);
      Extensions.push_back(std::move(comment));
      break;
    }
  Finished();
}

void TWnGIFFrame::Assign(const TWnGIFImage* Source) {
  if (Source == nullptr) return Assign(nullptr);
  if (Source->FrameCount() == 0) return;
  Assign(Source->Frame(std::max(Source->FrameIndex, 0)));
}

void TWnGIFFrame::Assign(const TBitmap* Source) {
  if (Source == nullptr || Source->Empty()) return Assign(nullptr);
  NewItem();
  FBitmap = std::make_unique<TBitmap>();
  FBitmap->Assign(*Source);
  Finished();
}

void TWnGIFFrame::Assign(const TIcon* Source) {
  if (Source == nullptr || Source->Empty()) return Assign(nullptr);
  NewItem();
  // Drawn over the new bitmap's brush colour, which then stands for the
  // icon's transparent parts.
  const TColor brush = platform::clWhite;
  QImage image(Source->Width(), Source->Height(), QImage::Format_RGB32);
  image.fill(platform::ColorToQRgb(brush));
  {
    QPainter painter(&image);
    painter.drawImage(0, 0, Source->Image());
  }
  FBitmap = std::make_unique<TBitmap>();
  FBitmap->SetImage(image.convertToFormat(QImage::Format_BGR888));
  TransparentColor = static_cast<TColor>(platform::ColorToRGB(brush));
  Finished();
}

void TWnGIFFrame::Assign(std::nullptr_t) {
  NewItem();
  FBitmap.reset();
  Finished();
}

void TWnGIFFrame::AssignTo(TBitmap& Dest) { Dest.Assign(*GetBitmap()); }

TBitmap* TWnGIFFrame::GetBitmap() {
  if (FBitmap && !FBitmap->Empty()) return FBitmap.get();
  auto bitmap = std::make_unique<TBitmap>();
  if (Image->HasData()) {
    if (FOwner) {
      FOwner->DecodeFrame(*this, *bitmap);
    } else {
      TWnGIFImage scratch;
      scratch.DecodeFrame(*this, *bitmap);
    }
  }
  FBitmap = std::move(bitmap);
  return FBitmap.get();
}

int TWnGIFFrame::Width() { return FBitmap || Image->HasData() ? GetBitmap()->Width() : 0; }
int TWnGIFFrame::Height() { return FBitmap || Image->HasData() ? GetBitmap()->Height() : 0; }

int TWnGIFFrame::KnownWidth() const {
  if (FBitmap && !FBitmap->Empty()) return FBitmap->Width();
  return Image->HasData() ? Image->Width : 0;
}

int TWnGIFFrame::KnownHeight() const {
  if (FBitmap && !FBitmap->Empty()) return FBitmap->Height();
  return Image->HasData() ? Image->Height : 0;
}

// ------------------------------------------------------------ TWnGIFImage

TWnGIFImage::TWnGIFImage() {
  NewImage();
  FTransparent = true;
}

TWnGIFImage::~TWnGIFImage() { OnChange = nullptr; }

void TWnGIFImage::NewImage() {
  FData = std::make_shared<TGIFData>();
  FFrames.clear();
  FrameIndex = -1;
  Version = 0;
  ScreenWidth = ScreenHeight = 0;
  BackgroundColor = platform::clNone;
  Looping = false;
  RepeatCount = 1;
  Corrupted = false;
}

TGIFData& TWnGIFImage::MutableData() {
  if (FData.use_count() > 1) FData = std::make_shared<TGIFData>(*FData);
  return *FData;
}

int TWnGIFImage::AppendFrame() {
  FFrames.push_back(std::make_unique<TWnGIFFrame>(this));
  FrameIndex = FrameCount() - 1;
  if (Version == 0) Version = 1;
  if (FrameCount() > 1) Version = 2;
  return FrameIndex;
}

void TWnGIFImage::UpdateScreenSize() {
  int width = 0, height = 0;
  for (const auto& frame : FFrames) {
    width = std::max(width, frame->KnownWidth() + frame->TopLeft.X);
    height = std::max(height, frame->KnownHeight() + frame->TopLeft.Y);
  }
  ScreenWidth = static_cast<std::uint16_t>(std::clamp(width, 0, 65535));
  ScreenHeight = static_cast<std::uint16_t>(std::clamp(height, 0, 65535));
}

void TWnGIFImage::Assign(const platform::TGraphic* Source) {
  if (Source == nullptr) return Assign(nullptr);
  if (const auto* gif = dynamic_cast<const TWnGIFImage*>(Source)) return Assign(gif);
  platform::TGraphic::Assign(Source);
}

void TWnGIFImage::Assign(const TWnGIFImage* Source) {
  if (Source == nullptr) return Assign(nullptr);
  if (Source == this) return;
  FData = Source->FData;
  Version = Source->Version;
  BackgroundColor = Source->BackgroundColor;
  RepeatCount = Source->RepeatCount;
  Looping = Source->Looping;
  Corrupted = Source->Corrupted;
  FFrames.clear();
  for (const auto& source : Source->FFrames) {
    auto frame = std::make_unique<TWnGIFFrame>(this);
    frame->Item().BitsPerPixel = source->Item().BitsPerPixel;
    frame->Assign(source.get());
    frame->HasLocalMap = source->HasLocalMap;
    FFrames.push_back(std::move(frame));
  }
  ScreenWidth = Source->ScreenWidth;
  ScreenHeight = Source->ScreenHeight;
  FrameIndex = Source->FrameIndex;
  Changed();
}

void TWnGIFImage::Assign(const TWnGIFFrame* Source) {
  if (Source == nullptr) return Assign(nullptr);
  // One of our own frames outlives the clearing below.
  std::unique_ptr<TWnGIFFrame> own;
  for (auto& frame : FFrames)
    if (frame.get() == Source) own = std::move(frame);
  const std::shared_ptr<TGIFData> ownerData = Source->Owner() ? Source->Owner()->FData : nullptr;
  NewImage();
  if (ownerData) {
    TGIFData& data = *FData;
    data.AspectRatio = ownerData->AspectRatio;
    data.BitsPerPixel = ownerData->BitsPerPixel;
    data.ColorResBits = ownerData->ColorResBits;
    data.ColorMap = ownerData->ColorMap;
  }
  AddFrame(Source);
  if (Version < 1) Version = 1;
  Changed();
}

void TWnGIFImage::Assign(const TBitmap* Source) {
  NewImage();
  AddFrame(Source);
  Changed();
}

void TWnGIFImage::Assign(const TWnAnimatedCursorImage* Source) {
  if (Source == nullptr) return Assign(nullptr);
  NewImage();
  BackgroundColor = platform::clWindow;
  for (const auto& iconFrame : Source->IconFrames) {
    const int index = AddFrame(iconFrame->Icon());
    // Display rates are in sixtieths of a second.
    Frame(index)->AnimateInterval = static_cast<std::int32_t>(std::int64_t{iconFrame->Jiffies} * 100 / 6);
  }
  Changed();
}

void TWnGIFImage::Assign(std::nullptr_t) {
  NewImage();
  Changed();
}

void TWnGIFImage::AssignTo(TWnGIFImage& Dest) const { Dest.Assign(this); }

void TWnGIFImage::AssignTo(TBitmap& Dest) {
  if (GetEmpty()) {
    Dest.SetSize(0, 0);
    return;
  }
  if (FrameIndex < 0) {
    Dest.Assign(*GetCurrentBitmap());
    return;
  }
  Frame(FrameIndex)->AssignTo(Dest);
}

TBitmap* TWnGIFImage::GetCurrentBitmap() {
  if (FFrames.empty()) {
    FrameIndex = 0;
    const TBitmap empty;
    return Frame(AddFrame(&empty))->GetBitmap();
  }
  const bool valid = FrameIndex >= 0 && FrameIndex < FrameCount();
  return Frame(valid ? FrameIndex : 0)->GetBitmap();
}

void TWnGIFImage::Draw(platform::TCanvas& Canvas, const platform::TRect& Rect) {
  if (FrameIndex < 0 || FrameIndex >= FrameCount()) return;
  TWnGIFFrame* frame = Frame(FrameIndex);
  const TBitmap* bitmap = frame->GetBitmap();
  if (bitmap->Empty()) return;
  if (frame->TransparentColor != platform::clNone && GetTransparent()) {
    const QImage image = bitmap->ToImage();
    const TColor key = frame->TransparentColor;
    Canvas.Paint([&](QPainter& painter) { DrawTransparentBitmap(painter, QRect(), Rect.ToQRect(), key, image); });
  } else {
    Canvas.StretchDraw(Rect, *bitmap);
  }
}

bool TWnGIFImage::Equals(const platform::TGraphic* Other) const {
  const auto* gif = dynamic_cast<const TWnGIFImage*>(Other);
  return gif != nullptr && gif->FData == FData;
}

bool TWnGIFImage::GetEmpty() {
  if (FFrames.empty()) return true;
  const TWnGIFFrame* frame = Frame(std::max(FrameIndex, 0));
  if (frame->HasBitmap()) return false;
  return !frame->Image->HasData();
}

int TWnGIFImage::GetWidth() {
  if (GetEmpty() || FrameIndex < 0 || FrameIndex >= FrameCount()) return 0;
  return Frame(FrameIndex)->GetBitmap()->Width();
}

int TWnGIFImage::GetHeight() {
  if (GetEmpty() || FrameIndex < 0 || FrameIndex >= FrameCount()) return 0;
  return Frame(FrameIndex)->GetBitmap()->Height();
}

std::vector<platform::TPaletteEntry> TWnGIFImage::GetPalette() {
  if (FFrames.empty()) return {};
  const TBitmap* bitmap = GetCurrentBitmap();
  std::vector<platform::TPaletteEntry> entries(static_cast<std::size_t>(bitmap->PaletteSize()));
  if (!entries.empty()) bitmap->GetPaletteEntries(0, static_cast<int>(entries.size()), entries.data());
  return entries;
}

bool TWnGIFImage::GetTransparent() {
  if (!FTransparent) return false;
  return std::any_of(FFrames.begin(), FFrames.end(),
                     [](const auto& frame) { return frame->TransparentColor != platform::clNone; });
}

void TWnGIFImage::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the Size of a GIF image"); }
void TWnGIFImage::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the Size of a GIF image"); }

} // namespace wn

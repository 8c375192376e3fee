#include "controls/support/wngraphics/wnanicursor.h"

#include <QPainter>
#include <algorithm>
#include <climits>
#include <cstring>

#include "controls/support/wngraphics/wncolorreduce.h"
#include "platform/application.h"

namespace wn {

using platform::EStreamError;

namespace {

[[noreturn]] void ReadError() { throw EStreamError("Stream read error"); }

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

bool IdIs(const char* id, const char* name) { return std::memcmp(id, name, 4) == 0; }

// A bounded reader over the file image: every read answers false instead of
// going past the end it was given.
struct TChunkReader {
  const std::uint8_t* Data;
  std::int64_t End;
  std::int64_t Pos = 0;

  std::int64_t Remaining() const { return End - Pos; }
  bool Read(void* dest, std::int64_t count) {
    if (count < 0 || count > Remaining()) return false;
    std::memcpy(dest, Data + Pos, static_cast<std::size_t>(count));
    Pos += count;
    return true;
  }
  bool Skip(std::int64_t count) {
    if (count < 0 || count > Remaining()) return false;
    Pos += count;
    return true;
  }
  bool ReadHeader(TWnChunkHeader& header) {
    std::uint8_t b[8];
    if (!Read(b, 8)) return false;
    std::memcpy(header.ckID, b, 4);
    header.ckSize = U32(b + 4);
    return true;
  }
};

std::int64_t Padded(std::uint32_t size) { return std::int64_t{size} + (size & 1); }

// Text of an INFO sub-chunk: at most 255 bytes, zero-terminated.
void ReadInfoText(const std::uint8_t* data, std::uint32_t size, char (&dest)[256]) {
  std::memset(dest, 0, sizeof dest);
  std::memcpy(dest, data, std::min<std::size_t>(size, 255));
}

} // namespace

void TWnIconFrame::Assign(const TWnIconFrame& Source) {
  if (&Source == this) return;
  if (Source.FIcon) {
    if (!FIcon) FIcon = std::make_unique<TIcon>();
    FIcon->Assign(Source.FIcon.get());
  } else if (FIcon) {
    FIcon->Clear();
  }
  IsIcon = Source.IsIcon;
  ChunkHeader = Source.ChunkHeader;
  HotSpot = Source.HotSpot;
  Jiffies = Source.Jiffies;
  FIndex = Source.FIndex;
}

void TWnAnimatedCursorImage::Clear() {
  IconFrames.clear();
  std::memset(Title, 0, sizeof Title);
  std::memset(Creator, 0, sizeof Creator);
  FHeader = TWnAniHeader();
  MaxColors = 0;
}

TWnIconFrame* TWnAnimatedCursorImage::Frame(int Index) const {
  if (Index < 0 || Index >= FrameCount())
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
  return IconFrames[static_cast<std::size_t>(Index)].get();
}

void TWnAnimatedCursorImage::LoadFromStream(platform::TStream& Stream) {
  const std::int64_t rest = Stream.Size() - Stream.Position();
  if (rest <= 0) return;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(rest));
  Stream.ReadBuffer(data.data(), rest);
  ReadAniStream(data.data(), rest);
}

void TWnAnimatedCursorImage::SaveToStream(platform::TStream&) { throw platform::EAbort(); }

void TWnAnimatedCursorImage::LoadFromFile(const std::string& FileName) {
  platform::TFileStream stream(FileName, platform::fmOpenRead);
  LoadFromStream(stream);
}

bool TWnAnimatedCursorImage::ReadIconChunk(const std::uint8_t* Data, std::uint32_t Size, TWnIconFrame& Frame) {
  if (Size < 6) return false;
  std::vector<std::uint8_t> copy(Data, Data + Size);
  const std::uint16_t type = U16(copy.data() + 2);
  const std::uint16_t count = U16(copy.data() + 4);
  if (type != 1 && type != 2) return false;
  Frame.IsIcon = type == 1;
  // The icon loader takes icon directories only; a cursor's differs in
  // the meaning of two entry words, which are read here first.
  copy[2] = 1;
  copy[3] = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::int64_t entry = 6 + std::int64_t{i} * 16;
    if (entry + 16 > Size) break;
    const std::uint8_t* e = copy.data() + entry;
    const std::int64_t offset = U32(e + 12);
    if (offset + 16 <= Size) {
      const std::uint16_t bits = U16(copy.data() + offset + 14);
      const std::uint16_t colors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
      MaxColors = std::max(MaxColors, colors);
    }
    Frame.HotSpot = {U16(e + 4), U16(e + 6)};
  }
  auto icon = std::make_unique<TIcon>();
  icon->LoadFromBytes(copy.data(), Size);
  if (Frame.IsIcon) Frame.HotSpot = {icon->Width() / 2, icon->Height() / 2};
  Frame.SetIcon(std::move(icon));
  return true;
}

void TWnAnimatedCursorImage::ReadAniStream(const std::uint8_t* Data, std::int64_t Size) {
  TChunkReader r{Data, Size};
  TWnChunkHeader riff;
  char form[4];
  if (!r.ReadHeader(riff) || !IdIs(riff.ckID, "RIFF") || !r.Read(form, 4) || !IdIs(form, "ACON")) ReadError();
  Clear();

  std::size_t rateCounter = 0;
  std::size_t seqCounter = 0;
  std::int32_t iconNumber = 0;
  // Frames a "rate" or "seq " value reaches beyond the announced ones are
  // appended, so the file's arrays map one value to one frame.
  auto frameAt = [&](std::size_t i) -> TWnIconFrame& {
    while (IconFrames.size() <= i)
      IconFrames.push_back(
          std::make_unique<TWnIconFrame>(static_cast<std::int32_t>(IconFrames.size()), FHeader.jifRate));
    return *IconFrames[i];
  };

  TWnChunkHeader chunk;
  bool reading = true;
  while (reading && r.ReadHeader(chunk)) {
    if (IdIs(chunk.ckID, "anih")) {
      // A shorter header leaves fields unknown; a longer one's extra bytes
      // are skipped, as the header holds nine values only.
      if (chunk.ckSize < 36) ReadError();
      std::uint8_t b[36];
      if (!r.Read(b, 36)) break;
      std::uint32_t v[9];
      for (int i = 0; i < 9; ++i) v[i] = U32(b + 4 * i);
      FHeader = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]};
      if ((FHeader.flags & 1) == 0 || FHeader.cSteps == 0) ReadError();
      if (!r.Skip(Padded(chunk.ckSize) - 36)) reading = false;
      // A frame count beyond what the file could hold is not taken at its
      // word: every frame needs at least an 8-byte chunk header.
      const std::int64_t frames = std::min<std::int64_t>(FHeader.cFrames, r.Remaining() / 8);
      for (std::int64_t i = 0; i < frames; ++i)
        IconFrames.push_back(std::make_unique<TWnIconFrame>(static_cast<std::int32_t>(i), FHeader.jifRate));
    } else if (IdIs(chunk.ckID, "rate") || IdIs(chunk.ckID, "seq ")) {
      const bool rate = IdIs(chunk.ckID, "rate");
      if (std::int64_t{chunk.ckSize} > r.Remaining()) break;
      const std::uint8_t* p = Data + r.Pos;
      for (std::uint32_t i = 0; i + 4 <= chunk.ckSize; i += 4) {
        const std::uint32_t value = U32(p + i);
        if (rate) {
          frameAt(rateCounter++).Jiffies = value;
        } else {
          frameAt(seqCounter++).SetIndex(static_cast<std::int32_t>(std::min<std::uint32_t>(value, INT32_MAX)));
        }
      }
      if (!r.Skip(Padded(chunk.ckSize))) reading = false;
    } else if (IdIs(chunk.ckID, "LIST")) {
      char type[4];
      if (chunk.ckSize < 4 || !r.Read(type, 4)) break;
      const std::int64_t listEnd = std::min(r.Pos + std::int64_t{chunk.ckSize} - 4, r.End);
      TChunkReader list{Data, listEnd, r.Pos};
      TWnChunkHeader sub;
      if (IdIs(type, "fram")) {
        while (list.Remaining() >= 8 && list.ReadHeader(sub)) {
          if (std::int64_t{sub.ckSize} > list.Remaining()) {
            reading = false;
            break;
          }
          if (IdIs(sub.ckID, "icon")) {
            TWnIconFrame read(-1, FHeader.jifRate);
            bool got;
            try {
              got = ReadIconChunk(Data + list.Pos, sub.ckSize, read);
            } catch (const platform::EInvalidGraphic&) {
              reading = false;
              break;
            }
            if (got) {
              read.ChunkHeader = sub;
              bool given = false;
              for (auto& frame : IconFrames) {
                if (frame->Index() != iconNumber) continue;
                // Each frame owns its own copy, so none is freed twice.
                auto icon = std::make_unique<TIcon>();
                icon->Assign(read.Icon());
                frame->SetIcon(std::move(icon));
                frame->IsIcon = read.IsIcon;
                frame->ChunkHeader = read.ChunkHeader;
                frame->HotSpot = read.HotSpot;
                given = true;
              }
              if (!given) {
                auto frame = std::make_unique<TWnIconFrame>(-1, FHeader.jifRate);
                const std::uint32_t jiffies = frame->Jiffies;
                frame->Assign(read);
                frame->SetIndex(-1);
                frame->Jiffies = jiffies;
                IconFrames.push_back(std::move(frame));
              }
            }
            ++iconNumber;
          }
          if (!list.Skip(std::min(Padded(sub.ckSize), list.Remaining()))) break;
        }
      } else if (IdIs(type, "INFO")) {
        while (list.Remaining() >= 8 && list.ReadHeader(sub)) {
          if (std::int64_t{sub.ckSize} > list.Remaining()) break;
          if (IdIs(sub.ckID, "INAM")) ReadInfoText(Data + list.Pos, sub.ckSize, Title);
          else if (IdIs(sub.ckID, "IART")) ReadInfoText(Data + list.Pos, sub.ckSize, Creator);
          list.Skip(std::min(Padded(sub.ckSize), list.Remaining()));
        }
      }
      if (!reading) break;
      const std::int64_t next = r.Pos + Padded(chunk.ckSize) - 4;
      if (next > r.End) break;
      r.Pos = next;
    } else if (!r.Skip(Padded(chunk.ckSize))) {
      break;
    }
  }

  IconFrames.erase(std::remove_if(IconFrames.begin(), IconFrames.end(),
                                  [](const std::unique_ptr<TWnIconFrame>& f) { return f->Icon() == nullptr; }),
                   IconFrames.end());
  FHeader.cSteps = static_cast<std::uint32_t>(IconFrames.size());
  if (IconFrames.empty()) ReadError();
}

void TWnAnimatedCursorImage::Assign(const TWnAnimatedCursorImage* Source) {
  if (Source == this) return;
  Clear();
  if (Source == nullptr) return;
  FHeader = Source->FHeader;
  std::memcpy(Title, Source->Title, sizeof Title);
  std::memcpy(Creator, Source->Creator, sizeof Creator);
  MaxColors = Source->MaxColors;
  for (const auto& frame : Source->IconFrames) {
    auto copy = std::make_unique<TWnIconFrame>(frame->Index(), frame->Jiffies);
    copy->Assign(*frame);
    IconFrames.push_back(std::move(copy));
  }
}

void TWnAnimatedCursorImage::AssignTo(TIcon& Dest) const {
  if (!IconFrames.empty()) Dest.Assign(IconFrames.front()->Icon());
}

void TWnAnimatedCursorImage::AssignTo(platform::TBitmap& Dest) const {
  if (!IconFrames.empty()) AssignToBitmap(Dest, Dest.Canvas().Brush.Color, false, true);
}

void TWnAnimatedCursorImage::AssignTo(TWnIconList& Dest) const {
  Dest.BeginUpdate();
  try {
    Dest.Clear();
    for (const auto& frame : IconFrames) Dest.Add(frame->Icon());
  } catch (...) {
    Dest.EndUpdate();
    throw;
  }
  Dest.EndUpdate();
}

void TWnAnimatedCursorImage::AssignToBitmap(platform::TBitmap& Dest, platform::TColor BackColor, bool Vertical,
                                            bool DecreaseColors) const {
  if (IconFrames.empty() || IconFrames.front()->Icon() == nullptr) return;
  const std::int64_t width = IconFrames.front()->Icon()->Width();
  const std::int64_t height = IconFrames.front()->Icon()->Height();
  const std::int64_t count = FrameCount();
  const std::int64_t stripWidth = Vertical ? width : width * count;
  const std::int64_t stripHeight = Vertical ? height * count : height;
  if (stripWidth > INT_MAX || stripHeight > INT_MAX) throw platform::EInvalidGraphic("Strip too large");
  QImage strip(static_cast<int>(stripWidth), static_cast<int>(stripHeight), QImage::Format_RGB32);
  if (strip.isNull()) throw platform::EInvalidGraphic("Strip too large");
  strip.fill(QColor::fromRgb(platform::ColorToQRgb(BackColor)));
  {
    QPainter painter(&strip);
    for (std::int64_t i = 0; i < count; ++i) {
      const TIcon* icon = IconFrames[static_cast<std::size_t>(i)]->Icon();
      if (icon == nullptr) continue;
      const QImage& image = icon->Image();
      const int offset = static_cast<int>(i * (Vertical ? height : width));
      painter.drawImage(Vertical ? 0 : offset, Vertical ? offset : 0, image);
    }
  }
  platform::TBitmap bitmap;
  bitmap.SetImage(strip);
  if (DecreaseColors) DecreaseBitmapColors(bitmap, std::max<int>(MaxColors, 16));
  Dest.Assign(bitmap);
}

void DecreaseBitmapColors(platform::TBitmap& Bitmap, int Colors) {
  if (Colors <= 0 || Bitmap.Empty()) return;
  auto stream = BitmapToBMPStreamByColors(Bitmap, Colors);
  QImage image;
  if (!image.loadFromData(stream->Memory(), static_cast<int>(stream->Size()), "BMP"))
    throw platform::EInvalidGraphic("Invalid bitmap");
  Bitmap.SetImage(image);
}

} // namespace wn

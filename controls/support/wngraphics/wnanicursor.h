// Animated cursor files (RIFF form "ACON"): their icon frames with display
// rates, handed on as one icon, a strip bitmap or an icon list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controls/support/wngraphics/wniconlist.h"
#include "platform/colors.h"
#include "platform/graphics.h"
#include "platform/stream.h"

namespace wn {

// The "anih" chunk as stored.
struct TWnAniHeader {
  std::uint32_t cbSizeOf = 0;
  std::uint32_t cFrames = 0;
  std::uint32_t cSteps = 0;
  std::uint32_t cx = 0;
  std::uint32_t cy = 0;
  std::uint32_t cBitCount = 0;
  std::uint32_t cPlanes = 0;
  std::uint32_t jifRate = 0;  // default display rate in 1/60 s
  std::uint32_t flags = 0;    // bit 0: frames are icon resources
};

struct TWnChunkHeader {
  char ckID[4] = {0, 0, 0, 0};
  std::uint32_t ckSize = 0;
};

class TWnIconFrame {
public:
  TWnIconFrame(std::int32_t Index, std::uint32_t Jiffies) : Jiffies(Jiffies), FIndex(Index) {}
  TWnIconFrame(const TWnIconFrame&) = delete;
  TWnIconFrame& operator=(const TWnIconFrame&) = delete;

  void Assign(const TWnIconFrame& Source);

  TIcon* Icon() const { return FIcon.get(); }
  void SetIcon(std::unique_ptr<TIcon> Icon) { FIcon = std::move(Icon); }
  std::int32_t Index() const { return FIndex; }
  void SetIndex(std::int32_t Value) { FIndex = Value; }

  bool IsIcon = false;
  TWnChunkHeader ChunkHeader;
  platform::TPoint HotSpot;
  std::uint32_t Jiffies;

private:
  std::unique_ptr<TIcon> FIcon;
  std::int32_t FIndex;
};

class TWnAnimatedCursorImage {
public:
  TWnAnimatedCursorImage() = default;
  virtual ~TWnAnimatedCursorImage() = default;
  TWnAnimatedCursorImage(const TWnAnimatedCursorImage&) = delete;
  TWnAnimatedCursorImage& operator=(const TWnAnimatedCursorImage&) = delete;

  // Damaged files raise platform::EStreamError "Stream read error".
  virtual void LoadFromStream(platform::TStream& Stream);
  // Refused: ends the operation silently (platform::EAbort).
  virtual void SaveToStream(platform::TStream& Stream);
  virtual void LoadFromFile(const std::string& FileName);

  // Null copies nothing and clears.
  void Assign(const TWnAnimatedCursorImage* Source);
  // Frame 0's icon (nothing without frames).
  void AssignTo(TIcon& Dest) const;
  // The frames side by side on the bitmap's brush colour, colours reduced
  // (nothing without frames).
  void AssignTo(platform::TBitmap& Dest) const;
  void AssignTo(TWnIconList& Dest) const;
  void AssignToBitmap(platform::TBitmap& Dest, platform::TColor BackColor, bool Vertical,
                      bool DecreaseColors) const;

  void Clear();
  int FrameCount() const { return static_cast<int>(IconFrames.size()); }
  TWnIconFrame* Frame(int Index) const;
  TIcon* FrameIcon(int Index) const { return Frame(Index)->Icon(); }

  const TWnAniHeader& Header() const { return FHeader; }

  char Title[256] = {};
  char Creator[256] = {};
  std::vector<std::unique_ptr<TWnIconFrame>> IconFrames;
  std::uint16_t MaxColors = 0;

protected:
  void ReadAniStream(const std::uint8_t* Data, std::int64_t Size);
  // Reads the "icon" chunk of Size bytes at Data into Frame; false when the
  // chunk holds no icon.
  bool ReadIconChunk(const std::uint8_t* Data, std::uint32_t Size, TWnIconFrame& Frame);

private:
  TWnAniHeader FHeader;
};

// Reloads Bitmap from its colour reduction to Colors colours (nothing for
// Colors <= 0 or an empty bitmap).
void DecreaseBitmapColors(platform::TBitmap& Bitmap, int Colors);

} // namespace wn

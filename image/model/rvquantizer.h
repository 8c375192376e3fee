// Colour reduction of a 24-bit picture to a palette: the neural-network
// quantiser for 128 colours or more, median cut below.
#pragma once

#include <cstdint>
#include <memory>

#include "image/model/rvhelpers.h"
#include "platform/graphics.h"

namespace rv {

class TRvBitmap;

// Read access to the 24-bit rows of either kind of bitmap.
struct TRvQuantSource {
  platform::TBitmap* VclBitmap = nullptr;
  TRvBitmap* RvBitmap = nullptr;
  int Width = 0;
  int Height = 0;
  const std::uint8_t* Row(int Y) const;
};

struct TRvMedianCutState;
struct TRvNeuralState;

TRvMedianCutState* MedianCutQuantizerCreate(const TRvQuantSource& Bitmap, TRGB* Palette, int N);
int MedianCutQuantizerIndex(const TRvMedianCutState* State, std::uint32_t Colour);
// Boxes made (palette entries written).
int MedianCutQuantizerBoxes(const TRvMedianCutState* State);
void MedianCutQuantizerFree(TRvMedianCutState* State);

int NeuralQuantSampleFactor(std::int64_t Pixels);
TRvNeuralState* NeuralQuantCreate(const TRvQuantSource& Bitmap, TRGB* Palette, int N);
int NeuralQuantIndex(const TRvNeuralState* State, std::uint32_t Colour);
void NeuralQuantFree(TRvNeuralState* State);

class TRvQuantizer {
public:
  // Palette: a buffer of N triples that receives the palette.
  TRvQuantizer(platform::TBitmap* Bitmap, TRGB* Palette, int N);
  TRvQuantizer(TRvBitmap* Bitmap, TRGB* Palette, int N);
  ~TRvQuantizer();
  TRvQuantizer(const TRvQuantizer&) = delete;
  TRvQuantizer& operator=(const TRvQuantizer&) = delete;

  // Palette index of a packed 0x00RRGGBB colour.
  int RGBIndex(std::uint32_t Colour) const;
  // 0 neural, 1 median cut.
  int Method() const { return FMethod; }
  bool GrayIdentity() const { return FGray; }

private:
  void Build(const TRvQuantSource& Source, TRGB* Palette, int N);
  int FMethod = 0;
  bool FGray = false;
  TRvMedianCutState* FMedian = nullptr;
  TRvNeuralState* FNeural = nullptr;
};

} // namespace rv

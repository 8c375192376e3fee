// Reading one frame of a GIF file (GIF87a or GIF89a) by its index. The LZW
// stage is whatever decoder the parameter record or the library-wide slot
// holds; without one, reading fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/io/rvioparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmask.h"
#include "image/model/rvprogress.h"
#include "platform/stream.h"

namespace rv {

// Reads frame Params.GifImageIndex (0-based) into Bitmap: 1-bit when the
// palette is exactly black then white, 24-bit otherwise. Walks the whole
// file, so FrameCount (and GifImageCount) receive the number of frames. Unless
// NoAlpha, Mask (created when null) becomes the frame's transparency: 8-bit,
// 255 opaque, 0 transparent. With HeaderOnly only Params are filled. Bad data
// and a file without a frame set the abort flag; an index beyond the last
// frame decodes nothing and is no failure.
void GifReadStream(platform::TStream& Stream, TRvBitmap& Bitmap, int& FrameCount, bool NoAlpha,
                   std::unique_ptr<TRvMask>& Mask, bool HeaderOnly, TRvProgressRec& Progress,
                   TIOParamsVals& Params);

// What a read of every frame hands its frames to.
class TGifFrameSink {
public:
  virtual ~TGifFrameSink() = default;
  // The record frame Index (0-based) fills; null ends the read before it.
  virtual TIOParamsVals* FrameParams(int Index) = 0;
  // Frame Index, read into Bitmap (which the sink may take) with its record
  // filled; false ends the read after it. A frame whose read failed is not
  // handed over: the abort flag tells.
  virtual bool FrameRead(int Index, TRvBitmap& Bitmap) = 0;
};

// Reads every frame in one walk over the file, each as GifReadStream reads
// it by its index without alpha, except that no record receives the
// comments or the frame count: the file's comments go to Comments, and the
// number of frames met is the answer. Stops at the first frame whose read
// fails, which is counted. Reports go by the share of the file read.
int GifReadFrames(platform::TStream& Stream, TGifFrameSink& Sink, std::vector<std::string>& Comments,
                  TRvProgressRec& Progress);

// Opens the file for reading (EStreamError when it cannot be opened) and
// reads the whole frame.
void GifReadFile(const std::string& FileName, TRvBitmap& Bitmap, int& FrameCount, bool NoAlpha,
                 std::unique_ptr<TRvMask>& Mask, TRvProgressRec& Progress, TIOParamsVals& Params);

} // namespace rv

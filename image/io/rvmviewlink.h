// What the multi-image input/output component needs of the thumbnail view it
// fills. The view implements it, so that input/output never sees a widget.
#pragma once

#include "image/model/rvbitmap.h"
#include "image/model/rvviewlink.h"
#include "platform/colors.h"

namespace rv {

// Kinds of the last list change a thumbnail view reports.
inline constexpr int RvMOpNone = 0;
inline constexpr int RvMOpInsert = 1;
inline constexpr int RvMOpDelete = 2;

class TRvMViewLink {
public:
  virtual ~TRvMViewLink() = default;

  // The same view as a plain view: change callbacks, update, resolution.
  virtual TRvViewLink& ViewLink() = 0;

  virtual int ImageCount() const = 0;
  // Inserts an empty image without touching the selection.
  virtual void InsertImageEx(int Index) = 0;
  virtual void DeleteImage(int Index) = 0;
  virtual void SetImage(int Index, TRvBaseBitmap* Bitmap) = 0;
  virtual void ImageBackground(int Index, platform::TColor Color) = 0;
  virtual void SetImageDelayTime(int Index, int Milliseconds) = 0;
  virtual void ReserveCacheSpace(int Width, int Height, int Count, int BitCount) = 0;
  // The last list change (RvMOp...), reset to none by the call.
  virtual int TakeLastOp() = 0;
  virtual int LastOpIndex() const = 0;
  // The current image, -1 when none.
  virtual int SelectedImage() const = 0;
};

} // namespace rv

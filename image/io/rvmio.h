// The multi-image input/output component: loads every frame of a GIF, every
// page of a TIFF and every frame of an AVI file into a thumbnail view, and
// keeps one parameter record per image of that view, in step with its list.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/io/rastrumio.h"
#include "image/io/rvioparams.h"
#include "image/io/rvmviewlink.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmsglanguage.h"
#include "image/model/rvprogress.h"
#include "platform/graphics.h"

namespace platform {
class TStream;
}

namespace rv {

class TRastrumMIO {
public:
  TRastrumMIO();
  virtual ~TRastrumMIO();
  TRastrumMIO(const TRastrumMIO&) = delete;
  TRastrumMIO& operator=(const TRastrumMIO&) = delete;

  TRvMViewLink* AttachedMView() const { return FView; }
  // Registers with the view and adds a record per image it already holds.
  void SetAttachedMView(TRvMViewLink* View);

  // The record of image Index; null out of range. Records are made when
  // first asked for: until then an image's record is a fresh one.
  TIOParamsVals* GetParams(int Index);
  int ParamsCount() const { return static_cast<int>(FParams.size()); }
  // The records made so far.
  int ParamsMade() const;
  // For a view that took the images of Source's view: Source's records take
  // the places of the records from First on, renumbered, and Source is left
  // with none.
  void TakeParams(TRastrumMIO& Source, int First);

  // By the extension: ".gif", ".tif"/".tiff", ".avi" (any case); others
  // load nothing.
  void LoadMultiImageFile(const std::string& FileName);
  void LoadGifFileFrames(const std::string& FileName);
  void LoadTiffFileFrames(const std::string& FileName);
  void LoadGifStreamFrames(platform::TStream& Stream);
  void LoadTiffStreamFrames(platform::TStream& Stream);
  void LoadAviFileFrames(const std::string& FileName);

  // A scanned page: inserted at the acquisition index unless the event
  // handled it; Params receives the page's record (null when none).
  virtual void AcquiredBitmap(TRvBitmap* Bitmap, TIOParamsVals*& Params);
  virtual void ResetAcquireState() { AcquireState = 0; }

  // Makes DpiX and DpiY equal by stretching the smaller dimension.
  static void AdjustDPI(TRvBitmap& Bitmap, TIOParamsVals& Params, bool Filtered);

  TRvTWainParams& TWainParams() { return *FTWainParams; }
  const platform::TFont& PreviewFont() const { return FPreviewFont; }
  void SetPreviewFont(const platform::TFont& Value) { FPreviewFont = Value; }

  TMsgLanguage MsgLanguage = msSystem;
  TIOPreviewsParams PreviewsParams = 0;
  int AcquisitionIndex = 0;
  bool AutoAdjustDPI = false;
  bool FilteredAdjustDPI = false;
  int AcquireState = 0;
  // The flag of the loaders' progress record: set by a codec on bad data or
  // by the caller (from OnProgress) to stop a load.
  TRvAbortFlag Aborting{false};
  TRvProgressEvent OnProgress;
  TRvAcquireBitmapEvent OnAcquireBitmap;

private:
  void Detach();
  void ViewChanged(TRvViewLink* Sender, bool Destroying);
  void InsertParams(int Index);
  void DeleteParams(int Index);
  void Renumber(int From);
  void LoadFrames(platform::TStream& Stream, bool Gif);
  void LoadGifFrames(platform::TStream& Stream, TRvProgressRec& Progress, int Position);
  void LoadTiffFrames(platform::TStream& Stream, TRvProgressRec& Progress, int Position);
  // The frame read at Position with its record, into the view; false, its
  // image deleted again, when the load stops there.
  bool PlaceFrame(int Position, TRvBitmap& Bitmap, TIOParamsVals& Params, bool Gif, int& Delay);
  void UpdateView();
  void Report(TRvProgressRec& Progress, int Per);

  TRvMViewLink* FView = nullptr;
  int FCallbackHandle = RvNoBitmapChangeEvent;
  // Null for a record never asked for (a fresh record, numbered by its
  // index): a view of many images needs no record per image.
  std::vector<std::unique_ptr<TIOParamsVals>> FParams;
  std::unique_ptr<TRvTWainParams> FTWainParams;
  platform::TFont FPreviewFont;
};

} // namespace rv

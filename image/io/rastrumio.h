// The input/output component: the one entry point through which views and
// the application load, save and inspect picture files. It loads into its
// own bitmap, the picture of an attached view or picture control, or a
// bitmap handed in, and saves from the same target.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/io/rviothread.h"
#include "image/io/rvioparams.h"
#include "image/io/twain/rvtwainparams.h"
#include "image/model/rvbitmap.h"
#include "image/model/rvmsglanguage.h"
#include "image/model/rvprogress.h"
#include "image/model/rvviewlink.h"
#include "platform/colors.h"
#include "platform/graphics.h"

class QWidget;

namespace platform {
class TSafeSaveFile;
class TStream;
}

namespace rv {

class TRvMask;
class TRastrumIO;

// Options of the parameters-preview dialog, a set of flags.
using TIOPreviewsParams = std::uint32_t;
inline constexpr TIOPreviewsParams ioppDefaultLockPreview = 1u << 0;
inline constexpr TIOPreviewsParams ioppApplyButton = 1u << 1;

// Pages of the parameters-preview dialog, a 16-bit set.
using TRvPreviewPages = std::uint16_t;
inline constexpr TRvPreviewPages pvpAll = 1u << 0;
inline constexpr TRvPreviewPages pvpAuto = 1u << 1;
inline constexpr TRvPreviewPages pvpJPEG = 1u << 2;
inline constexpr TRvPreviewPages pvpTIFF = 1u << 3;
inline constexpr TRvPreviewPages pvpGIF = 1u << 4;
inline constexpr TRvPreviewPages pvpBMP = 1u << 5;
inline constexpr TRvPreviewPages pvpPCX = 1u << 6;
inline constexpr TRvPreviewPages pvpPNG = 1u << 7;
inline constexpr TRvPreviewPages pvpTGA = 1u << 8;
inline constexpr TRvPreviewPages pvpJPEG2000 = 1u << 9;

enum TRvDialogsMeasureUnit : std::uint8_t {
  rvduInches,
  rvduCm,
  rvduSelectableDefInches,
  rvduSelectableDefCm,
};

// (Sender, ABitmap, Handled)
using TRvAcquireBitmapEvent = std::function<void(void* Sender, TRvBitmap* ABitmap, bool& Handled)>;
// (Sender, Handled)
using TRvDoPreviewsEvent = std::function<void(void* Sender, bool& Handled)>;
// (Sender, PreviewForm)
using TRvIOPreviewEvent = std::function<void(void* Sender, QWidget* PreviewForm)>;

// Shows the parameters-preview dialog of IO with Pages over Owner (nullptr
// for none) and answers whether it closed with OK. The dialog shows picture
// views, so the views library owns it and installs it here.
using TRvIOPreviewsDialog =
    std::function<bool(TRastrumIO& IO, TRvPreviewPages Pages, QWidget* Owner)>;
void RvSetIOPreviewsDialog(TRvIOPreviewsDialog Dialog);
bool RvHasIOPreviewsDialog();

class TRastrumIO {
public:
  TRastrumIO();
  // Waits until every worker has left the thread list.
  virtual ~TRastrumIO();
  TRastrumIO(const TRastrumIO&) = delete;
  TRastrumIO& operator=(const TRastrumIO&) = delete;

  // ---- Attachment
  TRvViewLink* AttachedRastrum() const { return FAttachedView; }
  void SetAttachedRastrum(TRvViewLink* View);
  TImage* AttachedTImage() const { return FAttachedTImage; }
  void SetAttachedTImage(TImage* Image);
  void SetAttachedBitmap(platform::TBitmap* ABitmap);
  void SetAttachedRvBitmap(TRvBitmap* ABitmap);
  // The class-library bitmap of the view, picture control or caller (not
  // owned; nullptr when none).
  platform::TBitmap* Bitmap() const { return FBitmap; }
  // The target of every load and the source of every save (nullptr only
  // after a caller's nil bitmap was attached).
  TRvBitmap* RvBitmap() const { return FRvBitmap; }
  bool OwnsRvBitmap() const { return FOwnsRvBitmap; }
  // The view's alpha mask while a view with an alpha channel is attached,
  // otherwise a mask kept from a reader; nullptr when none.
  TRvMask* AlphaMask() const { return FAlphaMask; }
  // The change callback registered with the attached view.
  void ViewBitmapChanged(TRvViewLink* Sender, bool Destroying);

  // ---- Properties
  platform::TColor GetBackground() const;
  // Without effect while a view is attached.
  void SetBackground(platform::TColor Value);
  TIOPreviewsParams GetPreviewsParams() const { return FPreviewsParams; }
  void SetPreviewsParams(TIOPreviewsParams Value) { FPreviewsParams = Value; }
  const platform::TFont& PreviewFont() const { return FPreviewFont; }
  void SetPreviewFont(const platform::TFont& Value) { FPreviewFont = Value; }
  TRvTWainParams& TWainParams() { return *FTWainParams; }

  TMsgLanguage MsgLanguage = msSystem;
  bool SimplifiedParamsDialogs = true;
  bool StreamHeaders = false;
  TRvDialogsMeasureUnit DialogsMeasureUnit = rvduInches;
  bool AutoAdjustDPI = false;
  bool FilteredAdjustDPI = false;
  // Hands loads and saves into a caller's bitmap to a worker thread.
  bool AsyncMode = false;

  TRvProgressEvent OnProgress;
  TNotifyEvent OnFinishWork;
  TRvAcquireBitmapEvent OnAcquireBitmap;
  TRvDoPreviewsEvent OnDoPreviews;
  TRvIOPreviewEvent OnIOPreview;

  // Set by a codec or by the caller (any thread, e.g. from OnProgress) to
  // stop the running operation; every operation clears it when it starts
  // and leaves it true when it failed or was refused.
  TRvAbortFlag Aborting{false};

  // The parameter record of the last file.
  TIOParamsVals& Params() { return *FParams; }
  const TIOParamsVals& Params() const { return *FParams; }
  // Params takes a copy of Source's Params (or of Source); nullptr is ignored.
  void AssignParams(const TRastrumIO* Source);
  void AssignParams(const TIOParamsVals* Source);

  // ---- Workers
  TRvIOThreadList& Threads() { return FThreads; }
  // True on one of this component's workers.
  bool IsInsideIOThread();

  // ---- Loading and saving
  // By extension; an unknown extension goes through the format registry.
  virtual void LoadFromFile(const std::string& FileName);
  virtual void SaveToFile(const std::string& FileName);
  virtual void LoadFromFileFormat(const std::string& FileName, TRvFileType FileType);
  // By content detection at the stream's position.
  virtual void LoadFromStream(platform::TStream& Stream);
  virtual void LoadFromStreamFormat(platform::TStream& Stream, TRvFileType FileType);
  virtual void SaveToStream(platform::TStream& Stream, TRvFileType FileType);
  // Header-only reads into Params; never raise.
  virtual void ParamsFromFile(const std::string& FileName);
  virtual void ParamsFromFileFormat(const std::string& FileName, TRvFileType FileType);
  virtual void ParamsFromStream(platform::TStream& Stream);
  virtual void ParamsFromStreamFormat(platform::TStream& Stream, TRvFileType FileType);

  // ---- Per-format readers (results: page or frame count, -1 when handed
  // to a worker)
  int LoadTIFFFile(const std::string& FileName);
  int LoadTIFFStream(platform::TStream& Stream);
  int LoadGIFFile(const std::string& FileName);
  int LoadGIFStream(platform::TStream& Stream);
  void LoadJpegFile(const std::string& FileName);
  void LoadJpegStream(platform::TStream& Stream);
  void LoadPCXFile(const std::string& FileName);
  void LoadPCXStream(platform::TStream& Stream);
  void LoadBMPFile(const std::string& FileName);
  void LoadBMPStream(platform::TStream& Stream);
  void LoadICOFile(const std::string& FileName);
  void LoadICOStream(platform::TStream& Stream);
  void LoadCURFile(const std::string& FileName);
  void LoadCURStream(platform::TStream& Stream);
  void LoadPNGFile(const std::string& FileName);
  void LoadPNGStream(platform::TStream& Stream);
  void LoadTGAFile(const std::string& FileName);
  void LoadTGAStream(platform::TStream& Stream);
  void LoadPXMFile(const std::string& FileName);
  void LoadPXMStream(platform::TStream& Stream);
  void LoadJP2File(const std::string& FileName);
  void LoadJP2Stream(platform::TStream& Stream);
  void LoadJ2KFile(const std::string& FileName);
  void LoadJ2KStream(platform::TStream& Stream);

  // ---- Per-format writers. A file writer writes a temporary file beside
  // FileName and puts it in place only when the write succeeded.
  void SaveJpegFile(const std::string& FileName);
  void SaveJpegStream(platform::TStream& Stream);
  void SaveTIFFFile(const std::string& FileName);
  void SaveTIFFStream(platform::TStream& Stream);
  void SaveGIFFile(const std::string& FileName);
  void SaveGIFStream(platform::TStream& Stream);
  void SavePCXFile(const std::string& FileName);
  void SavePCXStream(platform::TStream& Stream);
  void SaveBMPFile(const std::string& FileName);
  void SaveBMPStream(platform::TStream& Stream);
  void SavePNGFile(const std::string& FileName);
  void SavePNGStream(platform::TStream& Stream);
  void SaveTGAFile(const std::string& FileName);
  void SaveTGAStream(platform::TStream& Stream);
  void SavePXMFile(const std::string& FileName);
  void SavePXMStream(platform::TStream& Stream);
  void SaveJP2File(const std::string& FileName);
  void SaveJP2Stream(platform::TStream& Stream);
  void SaveJ2KFile(const std::string& FileName);
  void SaveJ2KStream(platform::TStream& Stream);
  // The picture written in place of page Params().TiffImageIndex of the
  // TIFF file PagesFrom (FileName itself, or another name), every other
  // page copied as that file stores it, all into FileName.
  void SaveTIFFPageFile(const std::string& FileName, const std::string& PagesFrom);
  // The same with the pages read from PagesFrom, a file the caller holds
  // open (whatever has come to its name since), on the calling thread.
  void SaveTIFFPageFile(const std::string& FileName, platform::TStream& PagesFrom);

  // ---- Other operations
  // Renders a WMF or EMF file at Width x Height; a negative side follows the
  // aspect, both negative keep the metafile's own size.
  void LoadMetafile(const std::string& FileName, int Width, int Height);
  // The after-load resolution adjustment: makes DpiX and DpiY equal by
  // stretching the picture along one axis.
  void AdjustDPI();
  // One picture from the selected scanner source into the target; true
  // when one arrived. A call while another runs answers false.
  bool Acquire();
  bool AcquireBusy() const { return FAcquireBusy != 0; }
  // The manager's source selection; the chosen source becomes the selected
  // one of TWainParams. True when one was chosen.
  bool SelectAcquireSource();
  virtual void AcquiredBitmap(TRvBitmap* ABitmap, TIOParamsVals& AParams);
  virtual void ResetAcquireState() { FAcquireBusy = 0; }
  // The parameters-preview dialog over the picture, which is first made
  // 24-bit unless it is 24- or 1-bit; edits Params in place. True when
  // OnDoPreviews handled it or the dialog closed with OK; false when no
  // page was chosen, there is no picture or no dialog is installed.
  virtual bool DoPreviews(TRvPreviewPages PreviewKinds);

protected:
  virtual void DoAcquireBitmap(TRvBitmap* ABitmap, bool& Handled);

private:
  // The common start: false when the operation ends there (no target).
  bool StartOperation();
  void FinishWork();
  // The common end of a load: adjustment, view resolution (when SetViewDPI),
  // refresh, OnFinishWork.
  void EndLoad(bool SetViewDPI);
  void UpdateView();
  void ConvertForSave();
  // The end a worker reports on the user-interface thread.
  TRvIOThreadEnd WorkerEnd();
  bool ShouldHandOff();
  // Hands the call to a new worker when the asynchronous mode applies.
  template <class Method, class... Args>
  bool HandOff(Method M, Args&&... A) {
    if (!ShouldHandOff()) return false;
    new TRvIOThread(this, FThreads, std::move(M), std::forward<Args>(A)..., WorkerEnd());
    return true;
  }

  // The window of the attached view: it parents the scanner's windows.
  QWidget* OwnerWindow() const;
  void DetachView();
  void ReadView();
  void ForgetTImage();
  void TImageDestroyed(TImage* Sender);

  // Alpha bookkeeping around a reader.
  void ResetAlphaBeforeLoad();
  void SyncAlphaChannel(std::unique_ptr<TRvMask>& ReadMask, bool HadMask);
  const TRvMask* SaveAlphaSource(std::unique_ptr<TRvMask>& Temp);
  void StretchAlphaAfterAdjust(std::unique_ptr<TRvBitmap> KeptAlpha, int Width, int Height);

  // The IPTC records and Exif fields of the markers just read; a header read
  // leaves the Exif thumbnail undecoded.
  void ReadJpegMetadata(bool HeaderOnly);
  void PrepareJpegMarkers();
  void MakeProgress(TRvProgressRec& Progress, bool WithEvent = true);
  // Calls the codec of a built-in type. Mask: where a reader with
  // transparency puts it, nullptr for none.
  int ReadBuiltIn(platform::TStream& Stream, TRvBitmap& Target, TRvFileType FileType,
                  bool HeaderOnly, std::int64_t DataLength, TRvProgressRec& Progress,
                  std::unique_ptr<TRvMask>* Mask);
  void WriteBuiltIn(platform::TStream& Stream, TRvFileType FileType, TRvProgressRec& Progress);

  // Bodies shared by the wrappers: Stream nullptr reads or writes FileName.
  int RunLoad(TRvFileType FileType, const std::string& FileName, platform::TStream* Stream);
  void RunSaveFile(TRvFileType FileType, const std::string& FileName);
  // Puts a complete file in place; raises EFileChanged when another file
  // took its place meanwhile, and sets Aborting on any failure.
  void Commit(platform::TSafeSaveFile& Target, const std::string& FileName);
  // After a write over the file read: what follows its picture, as written.
  void NoteTrailerWritten(TRvFileType FileType, platform::TStream& Written);
  void RunSaveStream(TRvFileType FileType, platform::TStream& Stream);
  // The built-in wrapper of a type; false when the type has none.
  bool LoadFileByType(const std::string& FileName, TRvFileType FileType);
  bool LoadStreamByType(platform::TStream& Stream, TRvFileType FileType);
  bool SaveFileByType(const std::string& FileName, TRvFileType FileType);
  bool SaveStreamByType(platform::TStream& Stream, TRvFileType FileType);

  platform::TBitmap* FBitmap = nullptr;
  TRvBitmap* FRvBitmap = nullptr;
  std::unique_ptr<TRvBitmap> FOwnBitmap;
  bool FOwnsRvBitmap = true;
  TRvViewLink* FAttachedView = nullptr;
  int FViewCallbackHandle = RvNoBitmapChangeEvent;
  TImage* FAttachedTImage = nullptr;
  int FTImageHandle = 0;
  platform::TColor FBackgroundColor = 0;
  TIOPreviewsParams FPreviewsParams = 0;
  std::unique_ptr<TRvTWainParams> FTWainParams;
  platform::TFont FPreviewFont;
  TRvMask* FAlphaMask = nullptr;
  std::unique_ptr<TRvMask> FOwnedMask;
  // Shared with queued progress reports of the workers, which must not
  // reach a component that is gone.
  std::shared_ptr<std::atomic<bool>> FAlive;
  TRvIOThreadList FThreads;
  std::int32_t FAcquireBusy = 0;
  std::unique_ptr<TIOParamsVals> FParams;
};

} // namespace rv

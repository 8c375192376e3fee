// The thumbnail view: a scrollable grid (or one row, the film strip) of
// cells, one per image of an ordered list. Each image names where its pixels
// come from; pixels are read only when a cell has to be painted or becomes
// the current one, by the background loader when the view has one, else at
// once.
#pragma once

#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/io/rvmviewlink.h"
#include "image/model/rvdib.h"
#include "image/model/rvresample.h"
#include "image/model/rvthumbstore.h"
#include "image/model/rvtransitions.h"
#include "image/model/rvviewparams.h"
#include "image/views/rastrumview.h"
#include "image/views/rvmtext.h"
#include "image/views/rvview.h"
#include "platform/input.h"

class QScrollBar;

namespace platform {
class TStream;
}

namespace rv {

class TIOParamsVals;
class TRastrumIO;
class TRastrumMIO;
class TRastrumProc;
class TRvMViewImages;
class TRvStarter;
struct TRvLoadResult;

enum TRvStoreType : std::uint8_t { rvtNormal, rvtThumb };
enum TRvMDisplayMode : std::uint8_t { mdGrid, mdSingle };
enum TRvMStyle : std::uint8_t { rvmsFlat, rvmsACD };
enum TRvSStyle : std::uint8_t { rvssAround, rvssACD };
enum TRvWallPaperStyle : std::uint8_t { rvwoNormal, rvwoStretch, rvwoTile };

// Sets of flags.
using TRvMMouseInteract = std::uint8_t;
inline constexpr TRvMMouseInteract mmiScroll = 1;
inline constexpr TRvMMouseInteract mmiSelect = 2;
using TRvMKeyInteract = std::uint8_t;
inline constexpr TRvMKeyInteract mkiMoveSelected = 1;
using TRvMultiSelectionOptions = std::uint8_t;
inline constexpr TRvMultiSelectionOptions rvmoRegion = 1;

// (Sender, ID, Bitmap): the handler sets Bitmap (owned by the handler).
using TRvImageIDRequestEvent = std::function<void(void* Sender, int ID, platform::TBitmap*& Bitmap)>;
// (Sender, idx, Left, Top, Canvas)
using TRvImageDrawEvent =
    std::function<void(void* Sender, int idx, int Left, int Top, platform::TCanvas& Canvas)>;
// (Sender, idx)
using TRvImageSelectEvent = std::function<void(void* Sender, int idx)>;
// (Sender, idx, Params): the reader's parameters of a load from the image's
// file, null when the load failed.
using TRvImageLoadedEvent = std::function<void(void* Sender, int idx, const TIOParamsVals* Params)>;
// (Sender, per, idx)
using TRvMProgressEvent = std::function<void(void* Sender, int per, int idx)>;

// Fits W x H into BoxW x BoxH keeping the aspect (each side at least 1);
// with W or H 0 the outputs are left as they were.
void ThumbFitSize(int W, int H, int BoxW, int BoxH, int& Width, int& Height);

class TRastrumMView : public TRvView, public TRvMViewLink {
  Q_OBJECT

public:
  explicit TRastrumMView(QWidget* AOwner = nullptr);
  ~TRastrumMView() override;

  // ---- Image list
  int ImageCount() const override { return static_cast<int>(FImages.size()); }
  void InsertImage(int Index);
  void InsertImageEx(int Index) override;
  int AppendImage();
  bool DeleteImageNU(int Index);
  void DeleteImage(int Index) override;
  void Clear();
  // Every image replaced by those of Images, which is left empty: their
  // pictures (the store that holds them comes along, no picture is copied),
  // backgrounds, delays and parameter records.
  void TakeImages(TRvMViewImages& Images);
  int TakeLastOp() override;
  int LastOpIndex() const override { return FLastOpIndex; }

  // ---- Per-image data (out-of-range indexes: getters answer 0 or empty,
  // setters do nothing)
  std::string ImageFileName(int Index) const;
  void SetImageFileName(int Index, const std::string& Name);
  void ImageBackground(int Index, platform::TColor Color) override;
  platform::TColor GetImageBackground(int Index) const;
  void SetImageDelayTime(int Index, int Milliseconds) override;
  int ImageDelayTime(int Index) const;
  // The cell's left and top in content coordinates.
  int ImageID(int Index) const;
  int ImageTag(int Index) const;
  int ImageRow(int Index) const;
  int ImageCol(int Index) const;
  int ImageFullWidth(int Index) const;
  int ImageFullHeight(int Index) const;
  void SetImageFullWidth(int Index, int Value);
  void SetImageFullHeight(int Index, int Value);
  // A cell's captions are made when first asked for, with the font and
  // background the view had when the image was inserted.
  TRvMText* ImageInfoText(int Index) const;
  TRvMText* ImageTopText(int Index) const;
  TRvMText* ImageBottomText(int Index) const;
  // The caption objects made so far, over all images.
  int CaptionCount() const;
  // Images whose info caption was never asked for show their file's name
  // (without its folder) there, in their captions' font and background; the
  // caption, once asked for, starts with that name. Naming a file raises
  // the bottom gap as setting that caption would.
  bool InfoFileNames() const { return FInfoFileNames; }
  void SetInfoFileNames(bool Value) { FInfoFileNames = Value; }
  // Whether the image holds pixels now, and whether its last load failed.
  bool ImageHasPixels(int Index) const;
  bool ImageLoadFailed(int Index) const;

  // ---- Pixels
  void SetImage(int Index, TRvBaseBitmap* Bitmap) override;
  void SetImageFromBitmap(int Index, platform::TBitmap* Bitmap);
  // Loads the pixels first when the image has none; null when there are
  // still none. The bitmap is lent by the store: give it back with
  // ReleaseImageBitmap.
  platform::TBitmap* GetImageBitmap(int Index);
  void ReleaseImageBitmap(platform::TBitmap* Bitmap, bool WriteBack = false);
  // The pixels of image Index inside Area (its own coordinates, clipped to
  // it), read from the store without lending the whole picture out: a part
  // of a large picture costs what the part holds. Null when there are none.
  QImage ImageArea(int Index, const QRect& Area);
  bool LoadImageFromFile(int Index, const std::string& FileName);
  // The image's file changed: it is read again, by the workers when the
  // view has them (the picture held stays on show until the new one
  // arrives, and whatever was read or asked for before is dropped), else at
  // once.
  void RereadImage(int Index);
  bool LoadImageFromStream(int Index, platform::TStream& Stream);
  void ReserveCacheSpace(int Width, int Height, int Count, int BitCount) override;
  TRastrumMIO* GetMIO();
  TRastrumProc* GetProc();
  // Loads image Index now; false when a load failed.
  bool LoadImageNow(int Index);

  // ---- Scrolling
  int ViewX() const { return FViewX; }
  int ViewY() const { return FViewY; }
  void SetViewX(int Value);
  void SetViewY(int Value);
  void SetViewXY(int X, int Y);
  int MaxViewX() const;
  int MaxViewY() const;
  int ContentWidth() const { return FContentWidth; }
  int ContentHeight() const { return FContentHeight; }
  virtual void DoViewChange(int Change);
  // The scroll-bar requests (SB_...) of the vertical or horizontal bar.
  void ScrollMessage(bool Vertical, TRvScrollCode Code, int Position);
  TRvScrollBarParams& VertScrollParams() { return FVScrollParams; }
  TRvScrollBarParams& HorzScrollParams() { return FHScrollParams; }
  QScrollBar* HorzScrollBar() const { return FHorzBar; }
  QScrollBar* VertScrollBar() const { return FVertBar; }

  // ---- Selection, navigation and play mode
  int SelectedImage() const override { return FSelectedImage; }
  // Ignored while playing; fires OnImageSelect unless in a batch.
  void SetSelectedImage(int Index);
  void DeselectNU();
  void BeginSelectImages();
  void EndSelectImages();
  int MultiSelectedImages(int I) const;
  int MultiSelectedImagesCount() const { return static_cast<int>(FMultiSelected.size()); }
  bool IsSelected(int Index) const;
  int ImageAtPos(int X, int Y) const;
  int ImageAtGridPos(int Row, int Col) const;
  // 0 outside, 1 partly inside, 2 wholly inside the client area.
  int ImageVisibility(int Index) const;
  bool IsImageVisible(int Index) const;
  bool Playing() const { return FPlaying; }
  void SetPlaying(bool Value);
  int PlayFrame() const { return FPlayFrame; }
  // The time the frame on show stays up; 0 while no step is pending.
  int PlayInterval() const { return FPlayTimer.isActive() ? FPlayTimer.interval() : 0; }
  void PlayStep();
  void MoveSelection(int Direction);
  // The keyboard (Qt key codes), mouse and wheel handlers, in client
  // coordinates.
  void KeyDown(int Key, platform::TShiftState Shift);
  void MouseDown(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y);
  void MouseMove(platform::TShiftState Shift, int X, int Y);
  void MouseUp(platform::TMouseButton Button, platform::TShiftState Shift, int X, int Y);
  void MouseWheel(int Delta);
  void SelectAt(int X, int Y, platform::TShiftState Shift);

  // ---- Loader
  virtual void StopLoaders();
  bool RequestLoad(int Index);
  void PruneLoadRequests();
  void ReapLoaderJobs();
  // The end of a background load, on the user-interface thread.
  void LoadJobFinished(const std::shared_ptr<TRvLoadResult>& Result);
  // Takes the loader's waiting results into the images they belong to.
  Q_INVOKABLE void TakeLoadResults();
  // What a worker calls when results wait. The thread checker is told of
  // this hand-over by this name (its reports name the function that calls
  // into the class library, not the one that ends there).
  std::function<void()> LoadResultsAnnouncer();
  // A queued call of TakeLoadResults.
  [[gnu::noinline]] void QueueTakeLoadResults();
  int LoadQueueCount() const;
  int LoadRunningCount() const;

  // ---- Painting
  virtual void DrawThumbnail(platform::TCanvas& Canvas);
  void SetEnlargeSmallImages(bool Value);
  bool EnlargeSmallImages() const { return FEnlargeSmallImages; }

  // ---- Properties
  TScrollStyle ScrollBars() const { return FScrollBars; }
  virtual void SetScrollBars(TScrollStyle Value);
  TRvStoreType StoreType = rvtNormal;
  int ThumbWidth() const { return FThumbWidth; }
  void SetThumbWidth(int Value);
  int ThumbHeight() const { return FThumbHeight; }
  void SetThumbHeight(int Value);
  int HorizBorder() const { return FHorizBorder; }
  void SetHorizBorder(int Value);
  int VertBorder() const { return FVertBorder; }
  void SetVertBorder(int Value);
  int BottomGap() const { return FBottomGap; }
  void SetBottomGap(int Value);
  int UpperGap() const { return FUpperGap; }
  void SetUpperGap(int Value);
  bool VisibleSelection() const { return FVisibleSelection; }
  void SetVisibleSelection(bool Value);
  TRvMMouseInteract MouseInteract() const { return FMouseInteract; }
  virtual void SetMouseInteract(TRvMMouseInteract Value);
  TRvMKeyInteract KeyInteract() const { return FKeyInteract; }
  virtual void SetKeyInteract(TRvMKeyInteract Value);
  TRvMDisplayMode DisplayMode() const { return FDisplayMode; }
  void SetDisplayMode(TRvMDisplayMode Value);
  int GridWidth() const { return FGridWidth; }
  void SetGridWidth(int Value);
  int SelectionWidth() const { return FSelectionWidth; }
  void SetSelectionWidth(int Value);
  platform::TColor SelectionColor() const { return FSelectionColor; }
  void SetSelectionColor(platform::TColor Value);
  bool RemoveCorrupted() const { return FRemoveCorrupted; }
  void SetRemoveCorrupted(bool Value);
  bool DrawImageBackground() const { return FDrawImageBackground; }
  void SetDrawImageBackground(bool Value);
  int ImageCacheSize() const { return FImageCacheSize; }
  void SetImageCacheSize(int Value);
  TRvTransitionType TransitionEffect = rvttNone;
  int TransitionDuration = 1000;
  TRvMStyle Style() const { return FStyle; }
  void SetStyle(TRvMStyle Value);
  TRvSStyle SelectionStyle() const { return FSelectionStyle; }
  void SetSelectionStyle(TRvSStyle Value);
  platform::TColor ThumbnailsBackground = platform::clBtnFace;
  bool EnableMultiSelect() const { return FEnableMultiSelect; }
  void SetEnableMultiSelect(bool Value);
  TRvMultiSelectionOptions MultiSelectionOptions = 0;
  int ThumbnailsBorderWidth() const { return FThumbnailsBorderWidth; }
  void SetThumbnailsBorderWidth(int Value);
  platform::TColor ThumbnailsBorderColor() const { return FThumbnailsBorderColor; }
  void SetThumbnailsBorderColor(platform::TColor Value);
  const platform::TBitmap& WallPaper() const { return FWallPaper; }
  void SetWallPaper(const platform::TBitmap& Value);
  TRvWallPaperStyle WallPaperStyle() const { return FWallPaperStyle; }
  void SetWallPaperStyle(TRvWallPaperStyle Value);
  TRvProgressEvent GetOnProgress() const { return FOnProgress; }
  virtual void SetOnProgress(const TRvProgressEvent& Value);
  // 0: no background loading.
  int ThreadPoolSize = 5;
  // The filter that reduces large images when thumbnails are stored.
  TResampleFilter ThumbResampleFilter = rfFastLinear;
  // The captions take a copy of it at creation.
  platform::TFont Font;

  TViewChangeEvent OnViewChange;
  TRvImageIDRequestEvent OnImageIDRequest;
  TRvImageDrawEvent OnBeforeImageDraw;
  TRvImageDrawEvent OnImageDraw;
  TRvImageSelectEvent OnImageSelect;
  // After each load from an image's file, in the background or at once.
  TRvImageLoadedEvent OnImageLoaded;
  // Progress of synchronous loads.
  TRvProgressEvent OnIOProgress;
  TRvMProgressEvent OnDrawProgress;
  TNotifyEvent OnDblClick;

  // ---- TRvView and the links
  void SetBackground(platform::TColor Value) override;
  platform::TBitmap* GetBitmap() override;
  int LockUpdate() override;
  int UnlockUpdate() override;
  int UnlockUpdateEx() override;
  // Layout, scroll bars, change callbacks, repaint.
  void Update() override;
  TRvViewLink& ViewLink() override { return *this; }

protected:
  void Paint() override;
  void RecreateWnd() override;
  void resizeEvent(QResizeEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;

private:
  friend class TRvMText;

  // The captions' font and background at an image's insertion: one for
  // all the images inserted alike, copied into a caption when it is made.
  struct TCaptionStyle {
    platform::TFont Font;
    platform::TColor Background = 0;
  };

  struct TImageRecord {
    TRvDIBHandle Image = nullptr;
    TRvDIBHandle Scaled = nullptr;
    int X = 0, Y = 0, Row = 0, Col = 0;
    platform::TColor Background = 0;
    std::string FileName;
    int ID = -1;
    int DTime = 0;
    std::shared_ptr<const TCaptionStyle> CaptionStyle;
    // Null until asked for: a caption never asked for is empty.
    std::unique_ptr<TRvMText> TopText, InfoText, BottomText;
    // Stable identity of the record: a background result finds its image
    // by it, whatever was inserted or deleted meanwhile.
    std::uint64_t Key = 0;
    int Index = 0;
    // A failed load is not tried again at every paint.
    bool LoadFailed = false;
    // The pixels held are of the file as it was: a read is still wanted.
    bool Reread = false;
  };

  TImageRecord* Record(int Index) const;
  // A field of image Index; 0 (or null) out of range.
  int RecordInt(int Index, int TImageRecord::*Field) const;
  TRvMText* RecordText(int Index, std::unique_ptr<TRvMText> TImageRecord::*Field, int Position) const;
  int InsertRecord(int Index);
  // An info caption of the record's font and background showing its file's
  // name; Owner raises gaps when its caption is set.
  TRvMText FileNameCaption(const TImageRecord& R, TRastrumMView* Owner) const;
  // The image of a load request still exists and shows, or is the current
  // one.
  bool StillWanted(std::uint64_t Key) const;
  // The image wants pixels from its file.
  static bool WantsRead(const TImageRecord& R) { return R.Image == nullptr || R.Reread; }
  void Renumber(int From);
  void MarkLayout(int From);
  void LayoutImages();
  int Columns() const;
  void DropScaledCopies();
  void DropScaledCopy(TImageRecord& R);
  void FreeImagePixels(TImageRecord& R);
  void StoreBitmap(TImageRecord& R, TRvBaseBitmap* Bitmap);
  void RetakeCurrentBitmap();
  // Lends the selected image's bitmap out as the current one.
  void TakeCurrentBitmap();
  bool CanUpdate() const;
  void ApplyBarMargins();
  void ShowBar(bool Vertical, bool Show);
  void SetBarPosition(bool Vertical);
  void BarAction(bool Vertical, int Action);
  bool LoadThroughIO(TImageRecord& R, int Index, platform::TStream* Stream);
  void PrepareLoader(TRastrumIO& IO, TImageRecord& R);
  bool PaintCell(platform::TCanvas& Canvas, int Index, int& Pass);
  void DrawThumbnailCell(platform::TCanvas& Canvas, TImageRecord& R, int Index, bool Selected);
  void DrawCellPicture(platform::TCanvas& Canvas, TImageRecord& R, int X, int Y, int Ah, int& Ix,
                       int& Iy, int& W, int& H);
  void DrawWallPaper(platform::TCanvas& Canvas);
  void ExcludeRings(int X, int Y, int N);
  void SetSelectedInternal(int Index);
  void ClearSelection();
  void ReleaseCurrent();
  int FittingColumns() const;
  void ScrollAfterMove(int Direction);

  std::vector<std::unique_ptr<TImageRecord>> FImages;
  std::unordered_map<std::uint64_t, TImageRecord*> FByKey;
  std::uint64_t FNextKey = 1;
  std::shared_ptr<const TCaptionStyle> FCaptionStyle;
  std::unique_ptr<TRvVirtualDIBList> FStore;
  std::unique_ptr<TRvVirtualDIBList> FScaledStore;
  std::vector<TImageRecord*> FWithScaledCopy;

  int FViewX = 0, FViewY = 0;
  int FContentWidth = 0, FContentHeight = 0;
  double FScaleX = 1.0, FScaleY = 1.0;
  // Images from this index on need a new position; past the end when all
  // positions are current.
  int FLayoutFrom = 0;
  struct TLayoutKey {
    int Cols = -2, ThumbW = 0, ThumbH = 0, HB = 0, VB = 0;
    TRvMDisplayMode Mode = mdGrid;
    bool operator==(const TLayoutKey&) const = default;
  } FLayoutKey;

  int FSelectedImage = -1;
  platform::TBitmap* FCurrentBitmap = nullptr;
  std::vector<int> FMultiSelected;
  bool FMultiSelecting = false;
  bool FSelectingBatch = false;
  bool FKeepOnToggle = false;
  // Shift selection adds the images in between without loading them.
  bool FAddingRange = false;

  int FDownX = 0, FDownY = 0, FDownViewX = 0, FDownViewY = 0;
  int FDownImage = -1, FLastDragImage = -1;
  bool FSkipMouseDown = false;
  bool FMouseCaptured = false;
  int FWheelRest = 0;

  bool FPlaying = false;
  int FPlayFrame = 0;
  TRvMDisplayMode FSavedDisplayMode = mdGrid;
  int FSavedSelected = -1;
  QTimer FPlayTimer;
  bool FPlayStepRunning = false;
  bool FPlayLoop = true;

  int FLastOp = RvMOpNone;
  int FLastOpIndex = 0;
  bool FInLayout = false;
  bool FDestroying = false;

  std::unique_ptr<TRastrumIO> FIO;
  std::unique_ptr<TRastrumMIO> FMIO;
  std::unique_ptr<TRastrumProc> FProc;
  TRvScrollBarParams FVScrollParams;
  TRvScrollBarParams FHScrollParams;
  TRvDrawDibHandle FDrawDib = nullptr;
  platform::TBitmap FWallPaper;
  QScrollBar* FHorzBar = nullptr;
  QScrollBar* FVertBar = nullptr;
  bool FSettingBar = false;
  std::unique_ptr<TRvStarter> FStarter;

  // Parts of the client area a pass of painting has covered.
  QRegion FPainted;

  TScrollStyle FScrollBars = ssNone;
  int FThumbWidth = 100, FThumbHeight = 100;
  int FHorizBorder = 4, FVertBorder = 4;
  int FBottomGap = 0, FUpperGap = 0;
  bool FVisibleSelection = true;
  TRvMMouseInteract FMouseInteract = mmiSelect;
  TRvMKeyInteract FKeyInteract = mkiMoveSelected;
  TRvMDisplayMode FDisplayMode = mdGrid;
  int FGridWidth = 0;
  int FSelectionWidth = 3;
  platform::TColor FSelectionColor = platform::clRed;
  bool FRemoveCorrupted = false;
  bool FDrawImageBackground = false;
  int FImageCacheSize = 10;
  TRvMStyle FStyle = rvmsACD;
  TRvSStyle FSelectionStyle = rvssAround;
  bool FEnableMultiSelect = false;
  int FThumbnailsBorderWidth = 0;
  platform::TColor FThumbnailsBorderColor = platform::clBtnFace;
  TRvWallPaperStyle FWallPaperStyle = rvwoNormal;
  TRvProgressEvent FOnProgress;
  bool FEnlargeSmallImages = true;
  bool FInfoFileNames = false;
};

} // namespace rv

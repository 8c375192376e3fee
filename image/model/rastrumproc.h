// The processing component: resampling, rotation, flipping, colour
// conversion and clipboard copy of one target bitmap (the picture of an
// attached view or picture control, or a bitmap handed in), with undo and
// redo lists of earlier pictures.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/model/rvbitmap.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvmsglanguage.h"
#include "image/model/rvprogress.h"
#include "image/model/rvresample.h"
#include "image/model/rvviewlink.h"
#include "platform/graphics.h"

class QWidget;

namespace rv {

class TRvMask;

// Options of the preview dialogs, a set of flags.
using TPRPreviewsParams = std::uint32_t;
inline constexpr TPRPreviewsParams prppDefaultLockPreview = 1u << 0;

// (Sender, PreviewForm)
using TRvPreviewEvent = std::function<void(void* Sender, QWidget* PreviewForm)>;

// Flip directions.
enum TRvFlipDirection : int { rvfdHorizontal = 0, rvfdVertical = 1 };

class TRastrumProc {
public:
  TRastrumProc();
  virtual ~TRastrumProc();
  TRastrumProc(const TRastrumProc&) = delete;
  TRastrumProc& operator=(const TRastrumProc&) = delete;

  // Attachment.
  TRvViewLink* AttachedRastrum() const { return FAttachedView; }
  void SetAttachedRastrum(TRvViewLink* Value);
  TImage* AttachedTImage() const { return FAttachedTImage; }
  void SetAttachedTImage(TImage* Value);
  void SetAttachedBitmap(platform::TBitmap* Value);
  // The bitmap every operation works on (not owned; nullptr when none).
  platform::TBitmap* Bitmap() const { return FBitmap; }
  // The change callback registered with the attached view.
  void ViewBitmapChanged(TRvViewLink* Sender, bool Destroying);

  bool AutoUndo = true;
  TRvProgressEvent OnProgress;
  TMsgLanguage MsgLanguage = msSystem;
  TRvPreviewEvent OnPreview;

  platform::TColor GetBackground() const;
  void SetBackground(platform::TColor Value);
  TPRPreviewsParams GetPreviewsParams() const { return FPreviewsParams; }
  void SetPreviewsParams(TPRPreviewsParams Value) { FPreviewsParams = Value; }
  const platform::TFont& PreviewFont() const { return FPreviewFont; }
  void SetPreviewFont(const platform::TFont& Value) { FPreviewFont = Value; }
  int UndoLimit() const { return FUndoLimit; }
  // Values below 1 are refused.
  void SetUndoLimit(int Value);

  // The alpha mask of the target (nullptr when none).
  TRvMask* GetAlphaMask();
  // Refreshes whoever shows the target after a change.
  void UpdateView();
  // The area an operation works on; true when it comes from a selection.
  virtual bool GetProcessRect(int& X1, int& Y1, int& X2, int& Y2, const platform::TPoint*& PolySel,
                              int& PolySelCount, TRvMask*& Mask);

  // Undo and redo.
  virtual void SaveUndo();
  void SaveUndoCaption(const std::string& Caption);
  virtual void Undo();
  // Index counts from the newest entry (0); a negative index is refused.
  virtual void UndoAt(int Index);
  virtual void RemoveLastRedo();
  virtual void Redo();
  virtual void RedoAt(int Index);
  virtual void SaveRedo();
  void ClearUndo();
  void ClearRedo();
  bool CanUndo() const { return !FUndoList.empty(); }
  // The entries, oldest first, and their captions.
  int UndoCount() const { return static_cast<int>(FUndoList.size()); }
  int RedoCount() const { return static_cast<int>(FRedoList.size()); }
  const TRvBitmap* UndoEntry(int Index) const { return FUndoList.at(static_cast<std::size_t>(Index)).get(); }
  const TRvBitmap* RedoEntry(int Index) const { return FRedoList.at(static_cast<std::size_t>(Index)).get(); }
  const std::vector<std::string>& UndoCaptions() const { return FUndoCaptions; }
  const std::vector<std::string>& RedoCaptions() const { return FRedoCaptions; }

  // Geometric operations.
  void Resample(int NewWidth, int NewHeight, TResampleFilter Filter);
  void Flip(int Direction);
  // Degrees, counter-clockwise for positive values; the uncovered corners
  // take Background.
  void Rotate(double Angle, bool AntiAlias);
  void Rotate(double Angle, bool AntiAlias, platform::TColor Background);

  // Colour conversions (24-bit targets only).
  void ConvertToGray();
  void ConvertTo(int NumColors);
  void ConvertToPalette(int NumColors, TRGB* Palette);

  // The whole target on the clipboard as a packed device-independent
  // bitmap; no undo entry, no view update.
  void CopyToClipboard();

private:
  using TEntryList = std::vector<std::unique_ptr<TRvBitmap>>;
  void DetachView();
  void ReadView();
  void ForgetTImage();
  void TImageDestroyed(TImage* Sender);
  void SaveEntry(TEntryList& List, std::vector<std::string>& Captions);
  void RestoreEntry(TEntryList& List, int Index);
  // One report of the component's progress, when the event is assigned.
  void Progress(int Per);

  TRvViewLink* FAttachedView = nullptr;
  int FCallbackHandle = RvNoBitmapChangeEvent;
  platform::TColor FBackground = 0;
  TPRPreviewsParams FPreviewsParams = 0;
  platform::TFont FPreviewFont;
  TImage* FAttachedTImage = nullptr;
  int FTImageHandle = 0;
  TRvMask* FAlphaMask = nullptr;
  TEntryList FUndoList;
  TRvBitmapLocation FUndoLocation = rvlFile;
  int FUndoLimit = 1;
  std::vector<std::string> FUndoCaptions;
  TEntryList FRedoList;
  std::vector<std::string> FRedoCaptions;
  platform::TBitmap* FBitmap = nullptr;
};

} // namespace rv

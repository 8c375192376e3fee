#include "image/model/rastrumproc.h"

#include "image/model/rvmask.h"

namespace rv {

TRastrumProc::TRastrumProc() = default;

TRastrumProc::~TRastrumProc() {
  DetachView();
  ForgetTImage();
  ClearUndo();
  ClearRedo();
}

// ------------------------------------------------------------ attachment

void TRastrumProc::DetachView() {
  if (FAttachedView != nullptr && FCallbackHandle != RvNoBitmapChangeEvent)
    FAttachedView->RemoveBitmapChangeEvent(FCallbackHandle);
  FCallbackHandle = RvNoBitmapChangeEvent;
}

void TRastrumProc::ReadView() {
  FBitmap = FAttachedView->GetBitmap();
  FAlphaMask = FAttachedView->HasAlphaChannel() ? FAttachedView->GetAlphaChannel() : nullptr;
}

void TRastrumProc::ForgetTImage() {
  if (FAttachedTImage != nullptr) FAttachedTImage->RemoveFreeNotification(FTImageHandle);
  FAttachedTImage = nullptr;
  FTImageHandle = 0;
}

void TRastrumProc::TImageDestroyed(TImage* Sender) {
  if (Sender != FAttachedTImage) return;
  FAttachedTImage = nullptr;
  FTImageHandle = 0;
  // The target was the picture control's bitmap and is gone with it.
  FBitmap = nullptr;
}

void TRastrumProc::SetAttachedRastrum(TRvViewLink* Value) {
  const bool hadView = FAttachedView != nullptr;
  DetachView();
  FAttachedView = Value;
  if (Value == nullptr) {
    // Without the view's callback its bitmap could vanish unnoticed.
    if (hadView) FBitmap = nullptr;
    FAlphaMask = nullptr;
    return;
  }
  ForgetTImage();
  FCallbackHandle = Value->RegisterBitmapChangeEvent(
      [this](TRvViewLink* Sender, bool Destroying) { ViewBitmapChanged(Sender, Destroying); });
  ReadView();
}

void TRastrumProc::SetAttachedTImage(TImage* Value) {
  // Clearing the picture control while a view is attached keeps the view
  // fully attached, callback included.
  if (Value == nullptr && FAttachedView != nullptr) return;
  DetachView();
  const bool hadTImage = FAttachedTImage != nullptr;
  ForgetTImage();
  if (Value == nullptr) {
    // Unwatched, the control's bitmap could vanish unnoticed.
    if (hadTImage) FBitmap = nullptr;
    return;
  }
  FAttachedView = nullptr;
  FAlphaMask = nullptr;
  FAttachedTImage = Value;
  FBitmap = Value->PictureBitmap();
  FTImageHandle = Value->FreeNotification([this](TImage* Sender) { TImageDestroyed(Sender); });
}

void TRastrumProc::SetAttachedBitmap(platform::TBitmap* Value) {
  if (Value == nullptr && (FAttachedView != nullptr || FAttachedTImage != nullptr)) return;
  DetachView();
  FBitmap = Value;
  if (Value != nullptr) {
    FAttachedView = nullptr;
    ForgetTImage();
    FAlphaMask = nullptr;
  }
}

void TRastrumProc::ViewBitmapChanged(TRvViewLink* Sender, bool Destroying) {
  if (Destroying) {
    if (Sender != FAttachedView) return;
    FAttachedView = nullptr;
    FCallbackHandle = RvNoBitmapChangeEvent;
    FAlphaMask = nullptr;
    // The target belonged to the view.
    FBitmap = nullptr;
    return;
  }
  if (FAttachedView != nullptr) ReadView();
}

platform::TColor TRastrumProc::GetBackground() const {
  return FAttachedView != nullptr ? FAttachedView->GetBackground() : FBackground;
}

void TRastrumProc::SetBackground(platform::TColor Value) {
  if (FAttachedView != nullptr)
    FAttachedView->SetBackground(Value);
  else
    FBackground = Value;
}

void TRastrumProc::SetUndoLimit(int Value) {
  // The lists always keep room for the entry being saved.
  if (Value < 1) return;
  FUndoLimit = Value;
}

TRvMask* TRastrumProc::GetAlphaMask() {
  if (FAttachedView != nullptr)
    return FAttachedView->HasAlphaChannel() ? FAttachedView->GetAlphaChannel() : nullptr;
  return FAlphaMask;
}

void TRastrumProc::UpdateView() {
  if (FAttachedView != nullptr) {
    FAttachedView->Update();
    FAttachedView->ImageChange();
  } else if (FAttachedTImage != nullptr && FBitmap != nullptr) {
    FAttachedTImage->Modified();
  }
}

bool TRastrumProc::GetProcessRect(int& X1, int& Y1, int& X2, int& Y2,
                                  const platform::TPoint*& PolySel, int& PolySelCount,
                                  TRvMask*& Mask) {
  X1 = 0;
  Y1 = 0;
  X2 = FBitmap != nullptr ? FBitmap->Width() : 0;
  Y2 = FBitmap != nullptr ? FBitmap->Height() : 0;
  PolySel = nullptr;
  PolySelCount = 0;
  Mask = nullptr;
  if (FAttachedView == nullptr) return false;
  Mask = FAttachedView->SelectionMask();
  if (Mask == nullptr || !FAttachedView->HasSelection()) return false;
  if (!Mask->IsEmpty()) {
    X1 = Mask->X1();
    Y1 = Mask->Y1();
    X2 = Mask->X2() + 1;
    Y2 = Mask->Y2() + 1;
  }
  PolySel = FAttachedView->SelectionPoints();
  PolySelCount = FAttachedView->SelectionPointCount();
  return true;
}

void TRastrumProc::Progress(int Per) {
  if (OnProgress) OnProgress(this, Per);
}

// ------------------------------------------------------------ undo, redo

void TRastrumProc::SaveEntry(TEntryList& List, std::vector<std::string>& Captions) {
  if (FBitmap == nullptr || FBitmap->Width() <= 0 || FBitmap->Height() <= 0) return;
  while (static_cast<int>(List.size()) >= FUndoLimit && !List.empty()) {
    List.erase(List.begin());
    Captions.erase(Captions.begin());
  }
  auto entry = std::make_unique<TRvBitmap>();
  entry->SetLocation(FUndoLocation);
  entry->AssignTBitmap(FBitmap);
  if (TRvMask* mask = GetAlphaMask()) entry->GetAlphaChannel()->CopyFromMask(mask);
  List.push_back(std::move(entry));
  Captions.emplace_back();
}

void TRastrumProc::RestoreEntry(TEntryList& List, int Index) {
  const int count = static_cast<int>(List.size());
  // Indices count back from the newest entry; negative ones name nothing.
  if (FBitmap == nullptr || Index < 0 || Index >= count) return;
  TRvBitmap* entry = List[static_cast<std::size_t>(count - 1 - Index)].get();
  entry->CopyToTBitmap(FBitmap);
  if (entry->HasAlphaChannel() && FAttachedView != nullptr) {
    if (TRvMask* mask = FAttachedView->GetAlphaChannel()) entry->GetAlphaChannel()->CopyToMask(mask);
  }
  UpdateView();
}

void TRastrumProc::SaveUndo() { SaveEntry(FUndoList, FUndoCaptions); }

void TRastrumProc::SaveUndoCaption(const std::string& Caption) {
  if (FBitmap == nullptr || FBitmap->Width() <= 0 || FBitmap->Height() <= 0) return;
  SaveUndo();
  if (!FUndoCaptions.empty()) FUndoCaptions.back() = Caption;
}

void TRastrumProc::Undo() { UndoAt(0); }
void TRastrumProc::UndoAt(int Index) { RestoreEntry(FUndoList, Index); }

void TRastrumProc::RemoveLastRedo() {
  if (FRedoList.empty()) return;
  FRedoList.pop_back();
  FRedoCaptions.pop_back();
}

void TRastrumProc::Redo() { RedoAt(0); }
void TRastrumProc::RedoAt(int Index) { RestoreEntry(FRedoList, Index); }
void TRastrumProc::SaveRedo() { SaveEntry(FRedoList, FRedoCaptions); }

void TRastrumProc::ClearUndo() {
  while (!FUndoList.empty()) {
    FUndoList.erase(FUndoList.begin());
    FUndoCaptions.erase(FUndoCaptions.begin());
  }
}

void TRastrumProc::ClearRedo() {
  while (!FRedoList.empty()) {
    FRedoList.erase(FRedoList.begin());
    FRedoCaptions.erase(FRedoCaptions.begin());
  }
}

} // namespace rv

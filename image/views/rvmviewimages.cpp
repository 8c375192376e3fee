#include "image/views/rvmviewimages.h"

#include <algorithm>

#include "image/io/rvmio.h"
#include "image/views/rvthumbfit.h"

namespace rv {

TRvMViewImages::TRvMViewImages() : FMIO(std::make_unique<TRastrumMIO>()) { FMIO->SetAttachedMView(this); }

// The component lets go of the list before the list goes.
TRvMViewImages::~TRvMViewImages() { FMIO.reset(); }

TRvMViewImages::TImage* TRvMViewImages::Image(int Index) {
  if (Index < 0 || Index >= ImageCount()) return nullptr;
  return &FImages[static_cast<std::size_t>(Index)];
}

TRvVirtualDIBList& TRvMViewImages::TheStore() {
  // The first picture makes the store (and its file); a view that took the
  // store leaves none.
  if (!FStore) FStore = std::make_unique<TRvVirtualDIBList>();
  return *FStore;
}

void TRvMViewImages::InsertImageEx(int Index) {
  const int at = std::clamp(Index, 0, ImageCount());
  FImages.insert(FImages.begin() + at, TImage{});
  FLastOp = RvMOpInsert;
  FLastOpIndex = Index;
  CallBitmapChangeEvents();
}

void TRvMViewImages::DeleteImage(int Index) {
  TImage* image = Image(Index);
  if (image == nullptr) return;
  if (image->Picture != nullptr) FStore->Delete(image->Picture);
  FImages.erase(FImages.begin() + Index);
  FLastOp = RvMOpDelete;
  FLastOpIndex = Index;
  CallBitmapChangeEvents();
}

void TRvMViewImages::SetImage(int Index, TRvBaseBitmap* Bitmap) {
  TImage* image = Image(Index);
  if (image == nullptr || Bitmap == nullptr) return;
  TRvVirtualDIBList& store = TheStore();
  if (image->Picture != nullptr) store.Delete(image->Picture);
  image->Picture = RvStorePicture(store, Bitmap, Bitmap->Width(), Bitmap->Height());
}

void TRvMViewImages::ImageBackground(int Index, platform::TColor Color) {
  if (TImage* image = Image(Index)) image->Background = Color;
}

void TRvMViewImages::SetImageDelayTime(int Index, int Milliseconds) {
  if (TImage* image = Image(Index)) image->DTime = Milliseconds;
}

void TRvMViewImages::ReserveCacheSpace(int Width, int Height, int Count, int BitCount) {
  TheStore().Reserve(Width, Height, Count, BitCount);
}

int TRvMViewImages::TakeLastOp() {
  const int op = FLastOp;
  FLastOp = RvMOpNone;
  return op;
}

} // namespace rv

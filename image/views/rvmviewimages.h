// Images made away from any thumbnail view, for a view to take whole: a list
// that the multi-image component fills as it fills a view, on whatever one
// thread holds it, keeping the pictures in a store of its own as a view of
// normal store type keeps them. A view takes the store, the images and their
// records without copying a picture (TRastrumMView::TakeImages).
#pragma once

#include <memory>
#include <vector>

#include "image/io/rvmviewlink.h"
#include "image/model/rvthumbstore.h"

namespace rv {

class TRastrumMIO;

class TRvMViewImages : public TRvMViewLink, public TRvHiddenViewLink {
public:
  // With a multi-image component of its own attached.
  TRvMViewImages();
  ~TRvMViewImages() override;
  TRvMViewImages(const TRvMViewImages&) = delete;
  TRvMViewImages& operator=(const TRvMViewImages&) = delete;

  // The component that fills the list and keeps a record per image.
  TRastrumMIO& MIO() { return *FMIO; }
  // The pictures' store, null while none is held.
  const TRvVirtualDIBList* Store() const { return FStore.get(); }

  // ---- The list, as the multi-image component fills it
  TRvViewLink& ViewLink() override { return *this; }
  int ImageCount() const override { return static_cast<int>(FImages.size()); }
  void InsertImageEx(int Index) override;
  void DeleteImage(int Index) override;
  void SetImage(int Index, TRvBaseBitmap* Bitmap) override;
  void ImageBackground(int Index, platform::TColor Color) override;
  void SetImageDelayTime(int Index, int Milliseconds) override;
  void ReserveCacheSpace(int Width, int Height, int Count, int BitCount) override;
  int TakeLastOp() override;
  int LastOpIndex() const override { return FLastOpIndex; }
  int SelectedImage() const override { return -1; }

private:
  friend class TRastrumMView;

  struct TImage {
    TRvDIBHandle Picture = nullptr;
    platform::TColor Background = 0;
    int DTime = 0;
  };

  TImage* Image(int Index);
  TRvVirtualDIBList& TheStore();

  std::unique_ptr<TRvVirtualDIBList> FStore;
  std::vector<TImage> FImages;
  int FLastOp = RvMOpNone;
  int FLastOpIndex = 0;
  std::unique_ptr<TRastrumMIO> FMIO;
};

} // namespace rv

#include "controls/kel/kelconnector.h"

#include <algorithm>

#include "controls/kel/kelgraph.h"

namespace kel {

using namespace platform;

// ---------------------------------------------------------------- TCustomImageList

TCustomImageList::~TCustomImageList() {
  // A link's handler may unregister it: walk a copy.
  const std::vector<TKelChangeLink*> links = FLinks;
  FLinks.clear();
  for (TKelChangeLink* link : links)
    if (link->OnFree) link->OnFree(link);
}

void TCustomImageList::RegisterChanges(TKelChangeLink* link) {
  if (link != nullptr && std::find(FLinks.begin(), FLinks.end(), link) == FLinks.end()) FLinks.push_back(link);
}

void TCustomImageList::UnregisterChanges(TKelChangeLink* link) {
  FLinks.erase(std::remove(FLinks.begin(), FLinks.end(), link), FLinks.end());
}

void TCustomImageList::Changed() {
  const std::vector<TKelChangeLink*> links = FLinks;
  for (TKelChangeLink* link : links)
    if (link->OnChange) link->OnChange(link);
}

// ---------------------------------------------------------------- TImageList

void TImageList::SetMasked(bool value) {
  if (value == FMasked) return;
  FMasked = value;
  Changed();
}

int TImageList::Add(const TBitmap& image) {
  auto copy = std::make_unique<TBitmap>(FWidth, FHeight, pf24bit);
  copy->Canvas().Draw(0, 0, image);
  FImages.push_back(std::move(copy));
  Changed();
  return Count() - 1;
}

void TImageList::Clear() {
  FImages.clear();
  Changed();
}

void TImageList::GetBitmap(int index, TBitmap& target) const {
  if (index < 0 || index >= Count()) return;
  target.Assign(*FImages[std::size_t(index)]);
}

void TImageList::Draw(TCanvas& canvas, int x, int y, int index) const {
  if (index < 0 || index >= Count()) return;
  const TBitmap& image = *FImages[std::size_t(index)];
  KelDrawBitmapStyled(canvas, Bounds(x, y, FWidth, FHeight), image, nullptr, KelBitmapTransparentColor(image),
                      FMasked ? kbfTransparentColor : 0, Rect(0, 0, FWidth, FHeight));
}

// ---------------------------------------------------------------- TKelDovImageListItem

std::string TKelDovImageListItem::DisplayName() const {
  if (!Name.empty()) return Name;
  return ImageList() != nullptr ? ImageList()->Name : std::string();
}

// ---------------------------------------------------------------- TKelImageListConnector

TKelDovImageListItem& TKelImageListConnector::AddEntry() {
  FEntries.push_back(std::make_unique<TKelDovImageListItem>(nullptr, [this] { Change(); }));
  Change();
  return *FEntries.back();
}

void TKelImageListConnector::DeleteEntry(int index) {
  if (index < 0 || index >= EntryCount()) return;
  FEntries.erase(FEntries.begin() + index);
  Change();
}

TKelDovImageListItem* TKelImageListConnector::Entry(int index) const {
  return index >= 0 && index < EntryCount() ? FEntries[std::size_t(index)].get() : nullptr;
}

std::unique_ptr<TKelListItem> TKelImageListConnector::CreateItem() const {
  throw EKelContainerError("The image-list connector keeps no items of its own");
}

TCustomImageList* TKelImageListConnector::List(int listIndex) const {
  const TKelDovImageListItem* entry = Entry(listIndex);
  return entry != nullptr ? entry->ImageList() : nullptr;
}

TRect TKelImageListConnector::ItemRect(int listIndex) const {
  const TCustomImageList* list = List(listIndex);
  return list != nullptr ? Rect(0, 0, list->Width(), list->Height()) : TRect{};
}

int TKelImageListConnector::ItemSize(int listIndex, int selector) const {
  const TCustomImageList* list = List(listIndex);
  if (list == nullptr) return 0;
  return selector == 0 ? list->Width() : list->Height();
}

bool TKelImageListConnector::ItemEmpty(int listIndex) const {
  const TCustomImageList* list = List(listIndex);
  return list == nullptr || list->Count() == 0;
}

bool TKelImageListConnector::ItemExists(int listIndex, int imageIndex) const {
  const TCustomImageList* list = List(listIndex);
  return list != nullptr && imageIndex >= 0 && imageIndex < list->Count();
}

void TKelImageListConnector::AssignItemTo(int listIndex, int imageIndex, TBitmap* target) const {
  if (target != nullptr && ItemExists(listIndex, imageIndex)) List(listIndex)->GetBitmap(imageIndex, *target);
}

int TKelImageListConnector::ImageCount(int listIndex) const {
  const TCustomImageList* list = List(listIndex);
  return list != nullptr ? list->Count() : -1;
}

TColor TKelImageListConnector::ItemTransparentColor(int listIndex, int imageIndex) const {
  if (!ItemExists(listIndex, imageIndex)) return 0xFFFFFF;
  TBitmap image;
  List(listIndex)->GetBitmap(imageIndex, image);
  return KelBitmapTransparentColor(image);
}

bool TKelImageListConnector::ItemMasked(int listIndex) const {
  const TCustomImageList* list = List(listIndex);
  return list != nullptr && list->Masked();
}

void TKelImageListConnector::DrawItem(TCanvas& canvas, int x, int y, int listIndex, int imageIndex) {
  if (ItemExists(listIndex, imageIndex)) List(listIndex)->Draw(canvas, x, y, imageIndex);
}

void TKelImageListConnector::DrawItemRect(TCanvas& canvas, const TRect& rect, int listIndex, int imageIndex) {
  if (!ItemExists(listIndex, imageIndex)) return;
  TBitmap image;
  List(listIndex)->GetBitmap(imageIndex, image);
  KelDrawBitmapStyled(canvas, rect, image, nullptr, clNone, kbfStretch, Rect(0, 0, image.Width(), image.Height()));
}

void TKelImageListConnector::DrawItemEffect(TCanvas& canvas, int x, int y, int listIndex, int imageIndex,
                                            bool transparent) {
  if (!ItemExists(listIndex, imageIndex)) return;
  TBitmap image;
  List(listIndex)->GetBitmap(imageIndex, image);
  KelDrawBitmapStyled(canvas, Bounds(x, y, image.Width(), image.Height()), image, nullptr,
                      KelBitmapTransparentColor(image), transparent ? kbfTransparentColor : 0,
                      Rect(0, 0, image.Width(), image.Height()));
}

} // namespace kel

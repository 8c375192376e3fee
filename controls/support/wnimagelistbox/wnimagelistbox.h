// An owner-drawn list box whose items each show an image of an image list
// beside (or above) a text. The items live in a collection, but each item's
// text is the list box's own line at the item's index, so both line up.
#pragma once

#include "platform/colors.h"

#include <QImage>
#include <QListWidget>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QPainter;

namespace platform {
class TCanvas;
}

namespace wn {

// Images of one size; controls that show them follow its changes through a
// change link.
class TImageList : public QObject {
public:
  explicit TImageList(int Width = 16, int Height = 16, QObject* parent = nullptr);
  ~TImageList() override;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int Count() const { return static_cast<int>(FImages.size()); }
  // Adds the image scaled to the list's size; answers its index.
  int Add(const QImage& Image);
  void Clear();
  const QImage& Image(int Index) const { return FImages.at(static_cast<std::size_t>(Index)); }
  // Draws image Index with its transparency; nothing for an invalid index.
  void Draw(platform::TCanvas& Canvas, int X, int Y, int Index) const;

  void RegisterChanges(const void* Link, std::function<void()> OnChange);
  void UnRegisterChanges(const void* Link);

private:
  void Change();

  int FWidth;
  int FHeight;
  std::vector<QImage> FImages;
  std::vector<std::pair<const void*, std::function<void()>>> FLinks;
};

class TWnImageListBox;
class TWnListItems;

class TWnListItem {
public:
  explicit TWnListItem(TWnListItems* Collection);
  ~TWnListItem();
  TWnListItem(const TWnListItem&) = delete;
  TWnListItem& operator=(const TWnListItem&) = delete;

  TWnListItems* Collection() const { return FCollection; }
  int Index() const;
  // Moves the item, and its line with it.
  void SetIndex(int Value);

  QString Text() const;
  void SetText(const QString& Value);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int Value);
  int Indent() const { return FIndent; }
  void SetIndent(int Value);

  void Assign(const TWnListItem& Source);

private:
  void Repaint() const;

  TWnListItems* FCollection;
  int FImageIndex = -1;
  int FIndent = 0;
};

class TWnListItems {
public:
  explicit TWnListItems(TWnImageListBox* ListBox);
  ~TWnListItems();
  TWnListItems(const TWnListItems&) = delete;
  TWnListItems& operator=(const TWnListItems&) = delete;

  TWnImageListBox* ListBox() const { return FListBox; }
  TWnListItem* Add();
  int Count() const { return static_cast<int>(FItems.size()); }
  TWnListItem* Item(int Index) const { return FItems.at(static_cast<std::size_t>(Index)).get(); }
  TWnListItem* operator[](int Index) const { return Item(Index); }
  void Delete(int Index);
  void Clear();

  void Assign(const TWnListItems& Source);
  void Assign(const QStringList& Source);

private:
  friend class TWnListItem;
  int IndexOf(const TWnListItem* Item) const;
  void Move(int CurIndex, int NewIndex);

  TWnImageListBox* FListBox;
  std::vector<std::unique_ptr<TWnListItem>> FItems;
};

enum TWnButtonColors { fsLighter, fsLight, fsMedium, fsDark, fsDarker };

class TWnImageListBox : public QListWidget {
public:
  // Image left of the text, right of it, or centred above it.
  enum TAlignment { taLeftJustify, taRightJustify, taCenter };
  using TNotifyEvent = std::function<void(TWnImageListBox*)>;

  explicit TWnImageListBox(QWidget* parent = nullptr);
  ~TWnImageListBox() override;

  TImageList* ImageList() const { return FImageList; }
  void SetImageList(TImageList* Value);
  TWnListItems& Items() { return *FItems; }
  const TWnListItems& Items() const { return *FItems; }
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);
  bool ButtonFrame() const { return FButtonFrame; }
  void SetButtonFrame(bool Value);
  TWnButtonColors ButtonStyle() const { return FButtonStyle; }
  void SetButtonStyle(TWnButtonColors Value);
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor Value);
  platform::TColor ColorHighLight() const { return FColorHighLight; }
  void SetColorHighLight(platform::TColor Value);
  platform::TColor ColorHighLightText() const { return FColorHighLightText; }
  void SetColorHighLightText(platform::TColor Value);
  bool MultiSelect() const;
  void SetMultiSelect(bool Value);
  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int Value);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;

  // The list box's own lines: item i's text is line i.
  QStringList Lines() const;
  void AddLine(const QString& Text);
  void ClearLines();

  // The height of every item, from the font and the image list's size.
  int MeasureItem() const;
  // Draws item Index (below 0: only its background) into rectangle Rect.
  void DrawItem(platform::TCanvas& Canvas, int Index, const QRect& Rect, bool Selected);
  // Repaints item Index.
  void InvalidateItem(int Index);

protected:
  void changeEvent(QEvent* event) override;

private:
  friend class TWnListItem;
  friend class TWnListItems;
  class TItemPainter;

  void EnsureLine(int Index);
  void SetLine(int Index, const QString& Text);
  void DeleteLine(int Index);
  void MoveLine(int CurIndex, int NewIndex);
  void ImageListChange();
  void RecreateWnd();
  void Frame3D(platform::TCanvas& Canvas, const QRect& FrameRect, bool Highlighted);
  void DrawFocusRect(platform::TCanvas& Canvas, const QRect& Rect);
  void DrawText(platform::TCanvas& Canvas, const QString& Text, const QRect& Rect, int Flags);

  QPointer<TImageList> FImageList;
  int FImageWidth = 0;
  int FImageHeight = 0;
  std::unique_ptr<TWnListItems> FItems;
  TAlignment FAlignment = taLeftJustify;
  bool FButtonFrame = false;
  TWnButtonColors FButtonStyle = fsLighter;
  platform::TColor FColor = platform::clWindow;
  platform::TColor FColorHighLight = platform::clHighlight;
  platform::TColor FColorHighLightText = platform::clHighlightText;
  int FItemHeight = 0;
  bool FDestroying = false;
};

} // namespace wn

#include "controls/support/wnimagelistbox/wnimagelistbox.h"

#include "platform/graphics.h"

#include <QAbstractItemDelegate>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace wn {

using platform::TCanvas;
using platform::TColor;

// ---------------------------------------------------------------- TImageList

TImageList::TImageList(int Width, int Height, QObject* parent)
    : QObject(parent), FWidth(std::max(Width, 0)), FHeight(std::max(Height, 0)) {}

TImageList::~TImageList() = default;

int TImageList::Add(const QImage& Image) {
  QImage stored = Image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (stored.width() != FWidth || stored.height() != FHeight)
    stored = stored.scaled(FWidth, FHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  FImages.push_back(stored);
  Change();
  return Count() - 1;
}

void TImageList::Clear() {
  FImages.clear();
  Change();
}

void TImageList::Draw(TCanvas& Canvas, int X, int Y, int Index) const {
  if (Index < 0 || Index >= Count()) return;
  const QImage& image = FImages[static_cast<std::size_t>(Index)];
  Canvas.Paint([&](QPainter& p) { p.drawImage(X, Y, image); });
}

void TImageList::RegisterChanges(const void* Link, std::function<void()> OnChange) {
  UnRegisterChanges(Link);
  FLinks.emplace_back(Link, std::move(OnChange));
}

void TImageList::UnRegisterChanges(const void* Link) {
  FLinks.erase(std::remove_if(FLinks.begin(), FLinks.end(), [Link](const auto& l) { return l.first == Link; }),
               FLinks.end());
}

void TImageList::Change() {
  // A handler may unhook itself; walk a copy.
  const auto links = FLinks;
  for (const auto& link : links)
    if (link.second) link.second();
}

// --------------------------------------------------------------- TWnListItem

TWnListItem::TWnListItem(TWnListItems* Collection) : FCollection(Collection) {}

TWnListItem::~TWnListItem() = default;

int TWnListItem::Index() const { return FCollection->IndexOf(this); }

void TWnListItem::SetIndex(int Value) {
  const int current = Index();
  Value = std::clamp(Value, 0, FCollection->Count() - 1);
  if (Value != current) FCollection->Move(current, Value);
}

QString TWnListItem::Text() const {
  TWnImageListBox* box = FCollection->ListBox();
  const int index = Index();
  box->EnsureLine(index);
  return box->item(index)->text();
}

void TWnListItem::SetText(const QString& Value) {
  TWnImageListBox* box = FCollection->ListBox();
  const int index = Index();
  box->EnsureLine(index);
  if (box->item(index)->text() != Value) {
    box->SetLine(index, Value);
    Repaint();
  }
}

void TWnListItem::SetImageIndex(int Value) {
  if (Value == FImageIndex) return;
  FImageIndex = Value;
  Repaint();
}

void TWnListItem::SetIndent(int Value) {
  if (Value == FIndent) return;
  FIndent = Value;
  Repaint();
}

void TWnListItem::Assign(const TWnListItem& Source) {
  if (&Source == this) return;
  SetText(Source.Text());
  SetImageIndex(Source.ImageIndex());
  SetIndent(Source.Indent());
}

void TWnListItem::Repaint() const { FCollection->ListBox()->InvalidateItem(Index()); }

// -------------------------------------------------------------- TWnListItems

TWnListItems::TWnListItems(TWnImageListBox* ListBox) : FListBox(ListBox) {}

TWnListItems::~TWnListItems() = default;

TWnListItem* TWnListItems::Add() {
  FItems.push_back(std::make_unique<TWnListItem>(this));
  return FItems.back().get();
}

int TWnListItems::IndexOf(const TWnListItem* Item) const {
  // The item just added, whose text and image are set next, at once: a
  // list filled with thousands of files is not searched once per line.
  if (!FItems.empty() && FItems.back().get() == Item) return Count() - 1;
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Item) return static_cast<int>(i);
  return -1;
}

void TWnListItems::Delete(int Index) {
  if (Index < 0 || Index >= Count()) return;
  // While the list box itself goes, its lines go with it.
  if (!FListBox->FDestroying) FListBox->DeleteLine(Index);
  FItems.erase(FItems.begin() + Index);
}

void TWnListItems::Clear() {
  while (!FItems.empty()) Delete(Count() - 1);
}

void TWnListItems::Move(int CurIndex, int NewIndex) {
  auto item = std::move(FItems[static_cast<std::size_t>(CurIndex)]);
  FItems.erase(FItems.begin() + CurIndex);
  FItems.insert(FItems.begin() + NewIndex, std::move(item));
  FListBox->MoveLine(CurIndex, NewIndex);
}

void TWnListItems::Assign(const TWnListItems& Source) {
  if (&Source == this) return;
  Clear();
  for (int i = 0; i < Source.Count(); ++i) Add()->Assign(*Source.Item(i));
}

void TWnListItems::Assign(const QStringList& Source) {
  Clear();
  FListBox->ClearLines();
  for (const QString& line : Source) Add()->SetText(line);
}

// ----------------------------------------------------------- TWnImageListBox

class TWnImageListBox::TItemPainter : public QAbstractItemDelegate {
public:
  explicit TItemPainter(TWnImageListBox* box) : QAbstractItemDelegate(box), FBox(box) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    painter->save();
    {
      TCanvas canvas(painter);
      FBox->DrawItem(canvas, index.row(), option.rect, (option.state & QStyle::State_Selected) != 0);
    }
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return QSize(FBox->viewport()->width(), FBox->ItemHeight());
  }

private:
  TWnImageListBox* FBox;
};

TWnImageListBox::TWnImageListBox(QWidget* parent) : QListWidget(parent) {
  FItems = std::make_unique<TWnListItems>(this);
  setGeometry(0, 0, 97, 121);
  setItemDelegate(new TItemPainter(this));
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  FItemHeight = MeasureItem();
  connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex&) {
    if (OnClick) OnClick(this);
  });
  connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) {
    if (OnDblClick) OnDblClick(this);
  });
}

TWnImageListBox::~TWnImageListBox() {
  FDestroying = true;
  if (FImageList) FImageList->UnRegisterChanges(this);
  FItems.reset();
}

void TWnImageListBox::SetImageList(TImageList* Value) {
  if (Value == FImageList) return;
  if (FImageList) {
    FImageList->UnRegisterChanges(this);
    disconnect(FImageList, &QObject::destroyed, this, nullptr);
  }
  FImageList = Value;
  if (FImageList) {
    FImageList->RegisterChanges(this, [this] { ImageListChange(); });
    // A list that goes away leaves no dangling reference behind.
    connect(FImageList, &QObject::destroyed, this, [this] { viewport()->update(); });
    FImageWidth = FImageList->Width();
    FImageHeight = FImageList->Height();
  } else {
    FImageWidth = 0;
    FImageHeight = 0;
  }
  FItemHeight = MeasureItem();
  RecreateWnd();
}

void TWnImageListBox::ImageListChange() { viewport()->update(); }

void TWnImageListBox::SetAlignment(TAlignment Value) {
  if (Value == FAlignment) return;
  FAlignment = Value;
  FItemHeight = MeasureItem();
  RecreateWnd();
}

void TWnImageListBox::SetButtonFrame(bool Value) {
  if (Value == FButtonFrame) return;
  FButtonFrame = Value;
  viewport()->update();
}

void TWnImageListBox::SetButtonStyle(TWnButtonColors Value) {
  if (Value == FButtonStyle) return;
  FButtonStyle = Value;
  viewport()->update();
}

void TWnImageListBox::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  viewport()->update();
}

void TWnImageListBox::SetColorHighLight(TColor Value) {
  if (Value == FColorHighLight) return;
  FColorHighLight = Value;
  viewport()->update();
}

void TWnImageListBox::SetColorHighLightText(TColor Value) {
  if (Value == FColorHighLightText) return;
  FColorHighLightText = Value;
  viewport()->update();
}

bool TWnImageListBox::MultiSelect() const { return selectionMode() == QAbstractItemView::ExtendedSelection; }

void TWnImageListBox::SetMultiSelect(bool Value) {
  setSelectionMode(Value ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void TWnImageListBox::SetItemHeight(int Value) {
  if (Value <= 0 || Value == FItemHeight) return;
  FItemHeight = Value;
  RecreateWnd();
}

QStringList TWnImageListBox::Lines() const {
  QStringList lines;
  for (int i = 0; i < count(); ++i) lines << item(i)->text();
  return lines;
}

void TWnImageListBox::AddLine(const QString& Text) { addItem(Text); }

void TWnImageListBox::ClearLines() { clear(); }

void TWnImageListBox::EnsureLine(int Index) {
  while (count() <= Index) addItem(QString());
}

void TWnImageListBox::SetLine(int Index, const QString& Text) {
  EnsureLine(Index);
  item(Index)->setText(Text);
}

void TWnImageListBox::DeleteLine(int Index) {
  if (Index >= 0 && Index < count()) delete takeItem(Index);
}

void TWnImageListBox::MoveLine(int CurIndex, int NewIndex) {
  EnsureLine(std::max(CurIndex, NewIndex));
  QListWidgetItem* line = takeItem(CurIndex);
  insertItem(NewIndex, line);
}

void TWnImageListBox::InvalidateItem(int Index) {
  // A hidden list is painted whole when it shows.
  if (!isVisible() || Index < 0 || Index >= count()) return;
  viewport()->update(visualItemRect(item(Index)));
}

void TWnImageListBox::RecreateWnd() {
  doItemsLayout();
  viewport()->update();
}

void TWnImageListBox::changeEvent(QEvent* event) {
  QListWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    FItemHeight = MeasureItem();
    RecreateWnd();
  }
}

int TWnImageListBox::MeasureItem() const {
  const int textHeight = QFontMetrics(font()).height();
  if (FAlignment == taCenter) return FImageHeight + textHeight + 8;
  return std::max(textHeight + 4, FImageHeight + 4);
}

void TWnImageListBox::Frame3D(TCanvas& Canvas, const QRect& FrameRect, bool Highlighted) {
  static constexpr TColor TopColors[] = {platform::clBtnHighlight, platform::clBtnHighlight,
                                         platform::clBtnHighlight, platform::clBtnFace, platform::clBtnShadow};
  static constexpr TColor BottomColors[] = {platform::clBtnFace, platform::clBtnShadow, platform::cl3DDkShadow,
                                            platform::cl3DDkShadow, platform::cl3DDkShadow};
  const TColor top = Highlighted ? TopColors[FButtonStyle] : FColor;
  const TColor bottom = Highlighted ? BottomColors[FButtonStyle] : FColor;
  const int l = FrameRect.left();
  const int t = FrameRect.top();
  const int r = FrameRect.left() + FrameRect.width() - 1;
  const int b = FrameRect.top() + FrameRect.height() - 1;
  const TColor savedPen = Canvas.Pen.Color;
  Canvas.Pen.Color = top;
  const platform::TPoint topLeft[] = {{l, b}, {l, t}, {r, t}};
  Canvas.Polyline(topLeft, 3);
  Canvas.Pen.Color = bottom;
  const platform::TPoint bottomRight[] = {{r, t}, {r, b}, {l - 1, b}};
  Canvas.Polyline(bottomRight, 3);
  Canvas.Pen.Color = savedPen;
}

void TWnImageListBox::DrawFocusRect(TCanvas& Canvas, const QRect& Rect) {
  if (Rect.width() <= 0 || Rect.height() <= 0) return;
  // Every other pixel of the outline, each once, inverted: drawing it again
  // takes it away.
  std::vector<QPoint> outline;
  const int l = Rect.left(), t = Rect.top(), r = Rect.left() + Rect.width() - 1, b = Rect.top() + Rect.height() - 1;
  for (int x = l; x <= r; ++x) outline.emplace_back(x, t);
  for (int y = t + 1; y <= b; ++y) outline.emplace_back(r, y);
  if (b > t)
    for (int x = r - 1; x >= l; --x) outline.emplace_back(x, b);
  if (r > l)
    for (int y = b - 1; y > t; --y) outline.emplace_back(l, y);
  Canvas.Paint([&](QPainter& p) {
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.setPen(QPen(QColor(Qt::white), 1));
    for (std::size_t i = 0; i < outline.size(); i += 2) p.drawPoint(outline[i]);
  });
}

void TWnImageListBox::DrawText(TCanvas& Canvas, const QString& Text, const QRect& Rect, int Flags) {
  const QColor color(platform::ColorToQRgb(Canvas.Font.Color));
  const QFont itemFont = font();
  Canvas.Paint([&](QPainter& p) {
    p.setFont(itemFont);
    p.setPen(color);
    p.drawText(Rect, Flags | Qt::TextSingleLine | Qt::TextDontClip, Text);
  });
}

void TWnImageListBox::DrawItem(TCanvas& Canvas, int Index, const QRect& Rect, bool Selected) {
  Canvas.Brush.Color = Selected ? FColorHighLight : FColor;
  Canvas.Brush.Style = platform::bsSolid;
  Canvas.Font.Color = Selected ? FColorHighLightText : platform::clWindowText;
  const platform::TRect itemRect = platform::Bounds(Rect.left(), Rect.top(), Rect.width(), Rect.height());
  if (Index < 0) {
    Canvas.FillRect(itemRect);
    return;
  }

  const TWnListItem* listItem = Index < FItems->Count() ? FItems->Item(Index) : nullptr;
  const int imageIndex = listItem ? listItem->ImageIndex() : -1;
  const QString text = Index < count() ? item(Index)->text() : QString();
  TImageList* images = FImageList;
  const bool validImage = images && imageIndex >= 0 && imageIndex < images->Count();
  const bool highlightedFrame = Selected && validImage;
  const bool showFocus = Selected && FColor != FColorHighLight;
  const QFontMetrics metrics(font());
  const int textWidth = metrics.horizontalAdvance(text);
  const int textHeight = metrics.height();
  const int L = Rect.left(), T = Rect.top(), R = Rect.left() + Rect.width(), B = Rect.top() + Rect.height();
  const int iw = FImageWidth, ih = FImageHeight;

  const TColor brush = Canvas.Brush.Color;
  Canvas.Brush.Color = FColor;
  Canvas.FillRect(itemRect);
  Canvas.Brush.Color = brush;

  if (FAlignment == taCenter) {
    int l = L, r = R, b = B;
    if (images) {
      const int x = L + (R - L - iw) / 2;
      images->Draw(Canvas, x, T + 2, imageIndex);
      if (FButtonFrame) Frame3D(Canvas, QRect(QPoint(x - 2, T), QPoint(x + iw + 1, T + ih + 1)), highlightedFrame);
      l -= 1;
      r += 1;
      b -= 4;
    }
    if (text.isEmpty()) {
      Canvas.FillRect(itemRect);
      if (showFocus) DrawFocusRect(Canvas, Rect);
      return;
    }
    // Counted from the item's own left edge, so that the text stays under
    // the image wherever the item is drawn.
    const int left = L + (r - l - textWidth) / 2 - 1;
    const QRect textRect(QPoint(left, b - textHeight - 1), QPoint(left + textWidth, b - 1));
    Canvas.FillRect(platform::Bounds(textRect.left(), textRect.top(), textRect.width(), textRect.height()));
    DrawText(Canvas, text, textRect, Qt::AlignHCenter | Qt::AlignBottom);
    if (showFocus) DrawFocusRect(Canvas, textRect);
    return;
  }

  const bool right = FAlignment == taRightJustify;
  if (images) {
    const int offset = (FItemHeight - ih) / 2;
    const int x = right ? R - iw - 2 : L + 2;
    images->Draw(Canvas, x, T + offset, imageIndex);
    if (FButtonFrame) {
      const int frameLeft = right ? R - iw - 4 : L;
      Frame3D(Canvas, QRect(frameLeft, T, iw + 4, ih + 4), highlightedFrame);
    }
  }
  if (text.isEmpty()) {
    Canvas.FillRect(itemRect);
    if (showFocus) DrawFocusRect(Canvas, Rect);
    return;
  }
  QRect textRect;
  if (right) {
    const int textEnd = R - iw - 8;
    textRect = QRect(QPoint(textEnd - textWidth - 2, T + 1), QPoint(textEnd + 1, B - 2));
  } else {
    const int textStart = L + iw + 8;
    textRect = QRect(QPoint(textStart - 2, T + 1), QPoint(textStart + textWidth + 1, B - 2));
  }
  Canvas.FillRect(platform::Bounds(textRect.left(), textRect.top(), textRect.width(), textRect.height()));
  const QRect inner = textRect.adjusted(2, 0, -2, 0);
  DrawText(Canvas, text, inner, (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  if (showFocus) DrawFocusRect(Canvas, textRect);
}

} // namespace wn

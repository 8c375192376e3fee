#include "image/model/rvpalettedlg.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "platform/graphics.h"

namespace rv {

TRastrumPaletteDialog::TRastrumPaletteDialog(QWidget* AOwner)
    : QDialog(AOwner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QString());
  setModal(true);
  resize(539, 199);
  setMouseTracking(true);
  FCancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
  FCancelButton->setGeometry(8, 144, 75, 25);
  FCancelButton->setAutoDefault(false);
  // QDialog itself rejects on Escape: the button's Cancel role.
  connect(FCancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TRastrumPaletteDialog::SetPalette(const TRGB* Palette, int Count) {
  FPalette = Palette;
  FCount = Palette ? std::clamp(Count, 0, MaxEntries) : 0;
  if (FSelected >= FCount) FSelected = -1;
  update();
}

bool TRastrumPaletteDialog::Execute() { return exec() == QDialog::Accepted; }

int TRastrumPaletteDialog::CellAt(int X, int Y) const {
  // Integer division toward zero, as the grid was laid out.
  const int column = (X - 1) / CellSize;
  const int row = (Y - 1) / CellSize;
  // A point right of the grid belongs to no cell, not to the next row's first.
  if (column >= Columns) return -1;
  return row * Columns + column;
}

int TRastrumPaletteDialog::EntryAt(int X, int Y) const {
  const int index = CellAt(X, Y);
  return index >= 0 && index < FCount ? index : -1;
}

void TRastrumPaletteDialog::FormMouseMove(int X, int Y) {
  const int index = EntryAt(X, Y);
  if (index >= 0 && index != FSelected) {
    FSelected = index;
    update();
  }
}

void TRastrumPaletteDialog::FormClick(int X, int Y) {
  // A click beside the grid chooses nothing; the form stays open.
  if (CellAt(X, Y) < 0) return;
  if (FSelected < 0 || FSelected >= FCount) {
    // Nothing was pointed at yet: no colour to answer.
    reject();
    return;
  }
  FColor = RvSwapRedBlue(static_cast<int>(RvRGBToPacked(FPalette[FSelected])));
  accept();
}

void TRastrumPaletteDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  platform::TCanvas canvas(&painter);
  for (int i = 0; i < FCount; ++i) {
    const int c = i % Columns;
    const int r = i / Columns;
    canvas.Brush.Color = RvSwapRedBlue(static_cast<int>(RvRGBToPacked(FPalette[i])));
    canvas.Brush.Style = platform::bsSolid;
    canvas.Pen.Color = i == FSelected ? platform::clBlack : platform::clWhite;
    canvas.Rectangle(c * CellSize + 1, r * CellSize + 1, c * CellSize + CellSize,
                     r * CellSize + CellSize);
  }
}

void TRastrumPaletteDialog::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint p = Event->position().toPoint();
  FormMouseMove(p.x(), p.y());
}

void TRastrumPaletteDialog::mousePressEvent(QMouseEvent* Event) {
  FPressed = Event->button() == Qt::LeftButton;
}

void TRastrumPaletteDialog::mouseReleaseEvent(QMouseEvent* Event) {
  const bool click =
      FPressed && Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint());
  FPressed = false;
  if (click) {
    const QPoint p = Event->position().toPoint();
    FormClick(p.x(), p.y());
  }
}

void TRastrumPaletteDialog::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

} // namespace rv

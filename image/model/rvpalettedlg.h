// A small modal form that shows a palette as a grid of colour cells and
// answers the colour the user clicks.
#pragma once

#include <QDialog>

#include "image/model/rvhelpers.h"
#include "platform/colors.h"

class QPushButton;

namespace rv {

class TRastrumPaletteDialog : public QDialog {
public:
  static constexpr int CellSize = 16;
  static constexpr int Columns = 32;
  static constexpr int MaxEntries = 256;

  explicit TRastrumPaletteDialog(QWidget* AOwner = nullptr);

  // The entries to show (not copied: they must outlive the dialog's use);
  // at most 256 are shown.
  void SetPalette(const TRGB* Palette, int Count);
  // Shows the form modally; true when a colour was chosen, which is then in
  // Color.
  bool Execute();

  int Selected() const { return FSelected; }
  int Count() const { return FCount; }
  TColor Color() const { return FColor; }
  QPushButton* CancelButton() const { return FCancelButton; }

  // The entry under client point (X, Y), -1 when the point is beside the
  // grid or beyond the last entry.
  int EntryAt(int X, int Y) const;

  // The form's event routines, reachable for direct use.
  void FormMouseMove(int X, int Y);
  void FormClick(int X, int Y);

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void showEvent(QShowEvent* Event) override;

private:
  // The cell index of a point by the grid's arithmetic, -1 beside the grid.
  int CellAt(int X, int Y) const;

  int FSelected = -1;
  const TRGB* FPalette = nullptr;
  int FCount = 0;
  QPushButton* FCancelButton = nullptr;
  TColor FColor = platform::clBlack;
  bool FPressed = false;
};

} // namespace rv

// The tool box: a small window beside the main window that rotates, flips,
// resizes, reloads and saves the shown picture. The main window carries out
// every command; the tool box gathers the numbers and keeps its controls in
// step with the picture.
#pragma once

#include <QDialog>
#include <QSize>

class QComboBox;
class QGroupBox;
class QLineEdit;

namespace kel {
class TKelShapeButton;
}
namespace wn {
class TQrCheckBox;
}

namespace app {

// What the tool box asks of the main window.
class TToolBoxHost {
public:
  virtual ~TToolBoxHost() = default;
  // Clockwise degrees: 90, -90, 180.
  virtual void RotateImage(int Angle) = 0;
  // rv::rvfdHorizontal or rv::rvfdVertical.
  virtual void FlipImage(int Direction) = 0;
  virtual void ResizeImage(int Width, int Height) = 0;
  virtual void ReloadImage() = 0;
  virtual void SaveModifiedImage() = 0;
  virtual bool HasImage() const = 0;
  virtual bool IsImageModified() const = 0;
  virtual bool IsNewImage() const = 0;
  // The main window's own reason not to save (none by default).
  virtual bool ToolBoxSaveBlocked() const { return false; }
  // Width and height of the main view's input/output parameters.
  virtual QSize PictureSize() const = 0;
};

class TToolBox : public QDialog {
public:
  explicit TToolBox(QWidget* parent = nullptr);
  ~TToolBox() override;

  // Not owned; the tool box does nothing without one.
  TToolBoxHost* Host = nullptr;

  QGroupBox* RotateFrame;
  QGroupBox* FlipFrame;
  QGroupBox* ResizeFrame;
  kel::TKelShapeButton* SBtnRotateCW;
  kel::TKelShapeButton* SBtnRotateCCW;
  kel::TKelShapeButton* SBtnRotateFull;
  kel::TKelShapeButton* SBtnFlipHorz;
  kel::TKelShapeButton* SBtnFlipVert;
  QLineEdit* EditWidth;
  QComboBox* CmbWidthType;
  QLineEdit* EditHeight;
  QComboBox* CmbHeightType;
  wn::TQrCheckBox* CbProportional;
  kel::TKelShapeButton* SBtnResize;
  kel::TKelShapeButton* SBtnResetSizes;
  kel::TKelShapeButton* SBtnReload;
  kel::TKelShapeButton* SBtnSave;
  kel::TKelShapeButton* SBtnCancel;

  // Every control takes Enabled, except the five with rules of their own.
  void UpdateToolBoxState(bool Enabled);
  // Both boxes show the picture's size: pixels, or 100 percent.
  void ResetToolBoxSizeFields();

  // The sizes the boxes stand for; 0 for a box that holds no integer or a
  // picture of no size.
  int WidthInPercent() const;
  int HeightInPercent() const;
  int WidthInPixels() const;
  int HeightInPixels() const;

protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void SizeEdited(bool width);
  void UnitChanged(bool width);
  QSize Picture() const;

  // Set while one box is written from the other.
  bool FUpdating = false;
  bool FEnabled = false;
};

// The one tool box of the program (set by the first one created).
extern TToolBox* ToolBox;

} // namespace app

// The two print windows: a large preview with a tool bar (tfrvprnform1) and
// a compact print-options dialog with a small preview (Tfrvprnform2). Both
// collect margins, position, size rule, size and gamma, show the page as it
// would print and print it on the program's printer.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "image/io/rastrumio.h"
#include "image/model/rvmsglanguage.h"
#include "image/views/rastrumview.h"
#include "image/views/rvprint.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QToolButton;

namespace rv {

// The printer the print windows use unless told otherwise; set up once for
// the whole program.
QPrinter& RvPrinter();

// Arrow buttons beside an edit: Up true for the upper one.
class TRvUpDown : public QWidget {
public:
  explicit TRvUpDown(QWidget* Parent = nullptr);
  std::function<void(bool Up)> OnClick;
  QToolButton* UpButton() const { return FUp; }
  QToolButton* DownButton() const { return FDown; }

private:
  QToolButton* FUp;
  QToolButton* FDown;
};

// What both windows share: the fields, reading them, the preview and the
// print.
class TRvPrintForm : public QDialog {
public:
  explicit TRvPrintForm(QWidget* Parent);

  // Set by the opener before showing.
  TRastrumIO* IO = nullptr;
  TRvDialogsMeasureUnit MeasureUnit = rvduInches;
  std::string JobTitle;
  // The printer to use (RvPrinter() unless set).
  QPrinter* Printer = nullptr;
  // Told why a print did not happen; a message box when unset.
  std::function<void(const std::string& Why)> OnRefusal;
  // Asked before a print to a file replaces another picture's print there;
  // true lets it. A message box (No the default) when unset.
  std::function<bool(const std::string& Question)> OnReplaceQuestion;

  // The layout the controls describe, lengths in inches.
  TRvPrintLayout ReadLayout() const;
  // Previews, or prints when Print is set; false when a print was refused.
  bool PrintPreview(bool Print = false);
  // An arrow of up-down Index (0-6) was clicked.
  void StepEditValue(int Index, bool Up);
  // The printer set-up dialog, then a new preview.
  void PrinterSetup();

  QLineEdit* Edit[7] = {};
  TRvUpDown* UpDown[7] = {};
  QComboBox* ComboBox1 = nullptr;
  QToolButton* PositionButton[9] = {};
  TRastrumView* RastrumView1 = nullptr;

protected:
  // Builds the fields with their default texts and hooks their changes.
  void MakeFields();
  void SizeModeChanged();
  virtual void SizeFieldsEnabled(bool On);
  void Refuse(const std::string& Why);
  // Whether the print may go to File: not when it holds the print of
  // another picture and the user says no.
  bool MayPrintInto(const QString& File);
  // The print into File through a PDF writer of its own.
  TRvPrintRefusal PrintToFile(const QPrinter& Printer, const QString& File, const TRvPrintLayout& Layout);
  QPrinter& ThePrinter() const;
  double UnitFactor() const;
  // Changes of the fields preview only after the window was first shown.
  bool FReady = false;
};

class tfrvprnform1 : public TRvPrintForm {
public:
  explicit tfrvprnform1(QWidget* Parent = nullptr);
  void ApplyLanguage(TMsgLanguage Language);

  QToolButton* SpeedButton10 = nullptr;
  QToolButton* SpeedButton11 = nullptr;
  QToolButton* SpeedButton12 = nullptr;
  QAction* Print1 = nullptr;
  QAction* PrintSetup1 = nullptr;
  QAction* Exit1 = nullptr;

protected:
  void showEvent(QShowEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
};

class Tfrvprnform2 : public TRvPrintForm {
public:
  explicit Tfrvprnform2(QWidget* Parent = nullptr);
  void ApplyLanguage(TMsgLanguage Language);
  void UpdateUnitCaptions();
  // Units box: 0 inches, 1 centimetres; lengths are converted.
  void UnitsChanged(int Index);

  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QGroupBox* GroupBox4 = nullptr;
  QGroupBox* GroupBox5 = nullptr;
  QGroupBox* GroupBox6 = nullptr;
  QLabel* Label[10] = {};
  QComboBox* ComboBox2 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button4 = nullptr;

protected:
  void showEvent(QShowEvent* Event) override;
  void SizeFieldsEnabled(bool On) override;

private:
  TMsgLanguage FLanguage = msSystem;
};

} // namespace rv

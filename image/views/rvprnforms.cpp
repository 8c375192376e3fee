#include "image/views/rvprnforms.h"
#include "platform/application.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "image/model/rvdib.h"
#include "image/model/rvwords.h"
#include "platform/safesave.h"

namespace rv {

QPrinter& RvPrinter() {
  static QPrinter printer(QPrinter::HighResolution);
  return printer;
}

// ------------------------------------------------------------ small controls

TRvUpDown::TRvUpDown(QWidget* Parent) : QWidget(Parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  FUp = new QToolButton(this);
  FDown = new QToolButton(this);
  FUp->setArrowType(Qt::UpArrow);
  FDown->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {FUp, FDown}) {
    b->setAutoRepeat(true);
    b->setFixedSize(16, 11);
    layout->addWidget(b);
  }
  connect(FUp, &QToolButton::clicked, this, [this] { if (OnClick) OnClick(true); });
  connect(FDown, &QToolButton::clicked, this, [this] { if (OnClick) OnClick(false); });
}

// ------------------------------------------------------------ shared

namespace {

const char* const EditTexts[7] = {"1", "1", "1", "1", "6", "4", "1"};
const char* const PositionHints[9] = {"Top Left",    "Top Center", "Top Right",
                                      "Center Left", "Center",     "Center Right",
                                      "Bottom Left", "Bottom Center", "Bottom Right"};
const char* const SizeModes[4] = {"Normal", "Fit to page", "Stretch to page", "Specified size"};

QString Word(int Index, TMsgLanguage Language) {
  return QString::fromStdString(RvWord(static_cast<std::uint8_t>(Index), Language));
}

// What a field contributes: its number, 0 when it holds none.
double FieldValue(const QLineEdit* Edit) {
  try {
    return static_cast<double>(RvStrToFloat(Edit->text().trimmed().toStdString()));
  } catch (const std::exception&) {
    return 0;
  }
}

QString NumberText(double Value) { return QString::number(Value, 'g', 15); }

// The file the last print to a file went to, and whose print it was: the
// printer keeps its file from one picture to the next.
struct TPrintedFile {
  QString File;
  std::string Job;
};
TPrintedFile& LastPrintedFile() {
  static TPrintedFile printed;
  return printed;
}

// The PDF writer says nothing of a write that failed (a full disk): a file
// written whole ends with the document's end mark.
bool PrintFileWhole(const QString& Name) {
  QFile file(Name);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const qint64 size = file.size();
  if (!file.seek(std::max<qint64>(0, size - 32))) return false;
  return file.readAll().contains("%%EOF");
}

// The PDF writer's output into a safely saved file: a write refused or cut
// short is remembered, where a file device would report only part of it.
class TSaveDevice : public QIODevice {
public:
  explicit TSaveDevice(platform::TStream& Stream) : FStream(Stream) {}
  bool Failed = false;

protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* Data, qint64 Length) override {
    if (Failed) return -1;
    try {
      FStream.WriteBuffer(Data, Length);
      return Length;
    } catch (const std::exception&) {
      Failed = true;
      return -1;
    }
  }

private:
  platform::TStream& FStream;
};

std::string NotWritten(const QString& File) {
  return "The print could not be written to " + File.toStdString() + ".";
}

} // namespace

TRvPrintForm::TRvPrintForm(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("Print"));
}

QPrinter& TRvPrintForm::ThePrinter() const { return Printer != nullptr ? *Printer : RvPrinter(); }

double TRvPrintForm::UnitFactor() const {
  return MeasureUnit == rvduCm || MeasureUnit == rvduSelectableDefCm ? 2.54 : 1;
}

void TRvPrintForm::MakeFields() {
  for (int i = 0; i < 7; ++i) {
    Edit[i] = new QLineEdit(QString::fromLatin1(EditTexts[i]), this);
    Edit[i]->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
    Edit[i]->setFixedWidth(48);
    UpDown[i] = new TRvUpDown(this);
    UpDown[i]->setObjectName(QStringLiteral("UpDown%1").arg(i + 1));
    UpDown[i]->OnClick = [this, i](bool Up) { StepEditValue(i, Up); };
    connect(Edit[i], &QLineEdit::textChanged, this, [this] { PrintPreview(); });
  }
  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  for (const char* mode : SizeModes) ComboBox1->addItem(QString::fromLatin1(mode));
  ComboBox1->setToolTip(QStringLiteral("Location/size"));
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { SizeModeChanged(); });
  auto* group = new QButtonGroup(this);
  for (int i = 0; i < 9; ++i) {
    PositionButton[i] = new QToolButton(this);
    PositionButton[i]->setObjectName(QStringLiteral("SpeedButton%1").arg(i + 1));
    PositionButton[i]->setCheckable(true);
    PositionButton[i]->setFixedSize(18, 18);
    PositionButton[i]->setToolTip(QString::fromLatin1(PositionHints[i]));
    group->addButton(PositionButton[i], i);
  }
  PositionButton[4]->setChecked(true);
  connect(group, &QButtonGroup::idClicked, this, [this] { PrintPreview(); });
  RastrumView1 = new TRastrumView(this);
  RastrumView1->setObjectName(QStringLiteral("RastrumView1"));
  // The page is made to fit the view: shown whole, in the middle.
  RastrumView1->SetScrollBars(ssNone);
  RastrumView1->SetCenter(true);
  SizeFieldsEnabled(false);
}

TRvPrintLayout TRvPrintForm::ReadLayout() const {
  TRvPrintLayout l;
  l.VerticalPosition = 1;
  for (int i : {0, 1, 2})
    if (PositionButton[i]->isChecked()) l.VerticalPosition = 0;
  for (int i : {6, 7, 8})
    if (PositionButton[i]->isChecked()) l.VerticalPosition = 2;
  l.HorizontalPosition = 1;
  for (int i : {0, 3, 6})
    if (PositionButton[i]->isChecked()) l.HorizontalPosition = 0;
  for (int i : {2, 5, 8})
    if (PositionButton[i]->isChecked()) l.HorizontalPosition = 2;
  l.SizeMode = std::max(0, ComboBox1->currentIndex());
  const double factor = UnitFactor();
  // A typed negative length counts as 0, as the arrows never go below it.
  auto length = [&](int i) { return std::max(0.0, FieldValue(Edit[i]) / factor); };
  // The first field is the top margin, the second the left one.
  l.TopMargin = length(0);
  l.LeftMargin = length(1);
  l.RightMargin = length(2);
  l.BottomMargin = length(3);
  l.SpecifiedWidth = length(4);
  l.SpecifiedHeight = length(5);
  l.Gamma = FieldValue(Edit[6]);
  return l;
}

void TRvPrintForm::Refuse(const std::string& Why) {
  if (OnRefusal) {
    OnRefusal(Why);
    return;
  }
  QMessageBox::warning(platform::DialogOwner(this), windowTitle(), QString::fromStdString(Why));
}

bool TRvPrintForm::MayPrintInto(const QString& File) {
  const TPrintedFile& printed = LastPrintedFile();
  if (File != printed.File || printed.Job == JobTitle || !QFileInfo::exists(File)) return true;
  const std::string question = File.toStdString() + " already holds the print of " + printed.Job +
                               ".\nDo you want to replace it?";
  if (OnReplaceQuestion) return OnReplaceQuestion(question);
  return QMessageBox::question(platform::DialogOwner(this), windowTitle(), QString::fromStdString(question),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

// The printer's own PDF writer says nothing of a write that failed (a full
// disk), empties the old file before it begins and, after such a failure,
// writes nothing more for the rest of the session: a print to a file goes
// into a file that takes the old one's place only once it is whole, in
// colour through a writer of its own, in gray (which only a printer makes)
// through a printer of its own, set up as the user's.
TRvPrintRefusal TRvPrintForm::PrintToFile(const QPrinter& Printer, const QString& File,
                                          const TRvPrintLayout& Layout) {
  std::unique_ptr<platform::TSafeSaveFile> save;
  try {
    save = std::make_unique<platform::TSafeSaveFile>(File.toStdString());
  } catch (const std::exception&) {
    return NotWritten(File);
  }
  TRvPrintRefusal why;
  // Whether the print began and ended on the device.
  const auto paint = [&](QPaintDevice& Device) {
    QPainter painter;
    if (!painter.begin(&Device)) return false;
    {
      platform::TCanvas canvas(&painter);
      why = RvPrintImage(*IO, canvas, Layout);
    }
    return painter.end();
  };
  bool whole = false;
  if (Printer.colorMode() == QPrinter::GrayScale) {
    // The work file as it was made, whatever its name leads to now.
    const QString work = QString::fromStdString(save->OpenName());
    QPrinter gray(QPrinter::HighResolution);
    gray.setOutputFormat(QPrinter::PdfFormat);
    gray.setOutputFileName(work);
    gray.setColorMode(QPrinter::GrayScale);
    gray.setResolution(Printer.resolution());
    gray.setPageLayout(Printer.pageLayout());
    gray.setDocName(Printer.docName());
    gray.setCreator(Printer.creator());
    gray.setPdfVersion(Printer.pdfVersion());
    whole = paint(gray) && gray.printerState() != QPrinter::Error && PrintFileWhole(work);
  } else {
    TSaveDevice out(save->Stream());
    out.open(QIODevice::WriteOnly);
    {
      QPdfWriter writer(&out);
      writer.setResolution(Printer.resolution());
      writer.setPageLayout(Printer.pageLayout());
      writer.setTitle(Printer.docName());
      writer.setCreator(Printer.creator());
      writer.setPdfVersion(Printer.pdfVersion());
      whole = paint(writer);
    }
    whole = whole && !out.Failed;
  }
  // A print refused leaves the old file as it was.
  if (!why.empty()) return why;
  return whole && save->Commit() ? TRvPrintRefusal() : NotWritten(File);
}

bool TRvPrintForm::PrintPreview(bool Print) {
  if (IO == nullptr || !FReady) return false;
  const TRvPrintLayout layout = ReadLayout();
  QPrinter& printer = ThePrinter();
  if (Print) {
    printer.setDocName(QString::fromStdString(JobTitle));
    if (TRvPrintRefusal why = RvPrintCheck(*IO, RvPageMetrics(printer), layout); !why.empty()) {
      Refuse(why);
      return false;
    }
    // A PDF printer without a file (what a machine with no printer set up
    // gives) is not asked at all: it would refuse the job yet stay taken
    // by it, and refuse every later change of its set-up and every job.
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    const QString file = toFile ? printer.outputFileName() : QString();
    if (toFile && file.isEmpty()) {
      Refuse("The printer did not accept the print job.");
      return false;
    }
    if (toFile && !MayPrintInto(file)) return false;
    TRvPrintRefusal why;
    // Whether the file now holds this print, whole or not.
    bool written = false;
    if (toFile) {
      why = PrintToFile(printer, file, layout);
      written = why.empty();
    } else {
      QPainter painter;
      if (!painter.begin(&printer)) {
        Refuse("The printer did not accept the print job.");
        return false;
      }
      {
        platform::TCanvas canvas(&painter);
        why = RvPrintImage(*IO, canvas, layout);
      }
      const bool ended = painter.end();
      if (why.empty() && (!ended || printer.printerState() == QPrinter::Error))
        why = "The printer did not accept the print job.";
    }
    if (toFile && written) LastPrintedFile() = {file, JobTitle};
    if (!why.empty()) Refuse(why);
    return why.empty();
  }
  // A window too small to show a page previews nothing.
  if (width() < 100 || height() < 100) return true;
  RvPreviewPrintImage(*IO, *RastrumView1->GetBitmap(), RastrumView1->width(), RastrumView1->height(),
                      printer, layout);
  RastrumView1->Update();
  return true;
}

void TRvPrintForm::StepEditValue(int Index, bool Up) {
  if (Index < 0 || Index > 6) return;
  const double step = Index == 6 ? 0.1 : 0.01;
  double v = FieldValue(Edit[Index]) + (Up ? step : -step);
  if (v < 0) v = 0;
  Edit[Index]->setText(NumberText(v));
}

void TRvPrintForm::SizeModeChanged() {
  SizeFieldsEnabled(ComboBox1->currentIndex() == rvpsSpecified);
  PrintPreview();
}

void TRvPrintForm::SizeFieldsEnabled(bool On) {
  for (int i : {4, 5}) {
    Edit[i]->setEnabled(On);
    UpDown[i]->setEnabled(On);
  }
}

void TRvPrintForm::PrinterSetup() {
  QPrintDialog dialog(&ThePrinter(), this);
  dialog.exec();
  PrintPreview();
}

// ------------------------------------------------------------ preview window

tfrvprnform1::tfrvprnform1(QWidget* Parent) : TRvPrintForm(Parent) {
  setObjectName(QStringLiteral("TFRVPRNFORM1"));
  MakeFields();
  Edit[0]->setToolTip(QStringLiteral("Top Margin"));
  Edit[1]->setToolTip(QStringLiteral("Left Margin"));
  Edit[2]->setToolTip(QStringLiteral("Right Margin"));
  Edit[3]->setToolTip(QStringLiteral("Bottom Margin"));
  Edit[4]->setToolTip(QStringLiteral("Width"));
  Edit[5]->setToolTip(QStringLiteral("Height"));
  Edit[6]->setToolTip(QStringLiteral("Gamma Correction"));
  auto makeButton = [this](const QString& Name, const QString& Hint) {
    auto* b = new QToolButton(this);
    b->setObjectName(Name);
    b->setToolTip(Hint);
    b->setText(Hint);
    return b;
  };
  SpeedButton10 = makeButton(QStringLiteral("SpeedButton10"), QStringLiteral("Print Setup"));
  SpeedButton11 = makeButton(QStringLiteral("SpeedButton11"), QStringLiteral("Print"));
  SpeedButton12 = makeButton(QStringLiteral("SpeedButton12"), QStringLiteral("Close"));
  SpeedButton12->setText(QStringLiteral("&Close"));
  connect(SpeedButton10, &QToolButton::clicked, this, [this] { PrinterSetup(); });
  connect(SpeedButton11, &QToolButton::clicked, this, [this] { PrintPreview(true); });
  connect(SpeedButton12, &QToolButton::clicked, this, [this] { done(1); });

  auto* menuBar = new QMenuBar(this);
  QMenu* file = menuBar->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  Print1 = file->addAction(QStringLiteral("&Print..."), this, [this] { PrintPreview(true); });
  PrintSetup1 = file->addAction(QStringLiteral("P&rint Setup..."), this, [this] { PrinterSetup(); });
  file->addSeparator();
  Exit1 = file->addAction(QStringLiteral("&Close"), this, [this] { done(1); });

  auto* bar = new QHBoxLayout;
  for (int i = 0; i < 4; ++i) {
    bar->addWidget(Edit[i]);
    bar->addWidget(UpDown[i]);
  }
  bar->addWidget(ComboBox1);
  for (int i = 4; i < 7; ++i) {
    bar->addWidget(Edit[i]);
    bar->addWidget(UpDown[i]);
  }
  auto* grid = new QGridLayout;
  grid->setSpacing(0);
  for (int i = 0; i < 9; ++i) grid->addWidget(PositionButton[i], i / 3, i % 3);
  bar->addLayout(grid);
  bar->addWidget(SpeedButton10);
  bar->addWidget(SpeedButton11);
  bar->addWidget(SpeedButton12);
  bar->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menuBar);
  layout->addLayout(bar);
  layout->addWidget(RastrumView1, 1);
  resize(760, 560);
}

void tfrvprnform1::ApplyLanguage(TMsgLanguage Language) {
  setWindowTitle(Word(91, Language));
  Print1->setText(Word(91, Language));
  SpeedButton11->setToolTip(Word(91, Language));
  PrintSetup1->setText(Word(104, Language) + QStringLiteral("..."));
  SpeedButton10->setToolTip(Word(104, Language));
  Exit1->setText(Word(119, Language));
  SpeedButton12->setText(Word(119, Language));
  // The hints name what each field does: the first is the top margin.
  Edit[0]->setToolTip(Word(106, Language));
  Edit[1]->setToolTip(Word(105, Language));
  Edit[2]->setToolTip(Word(107, Language));
  Edit[3]->setToolTip(Word(108, Language));
  ComboBox1->setToolTip(Word(109, Language));
  Edit[4]->setToolTip(Word(31, Language));
  Edit[5]->setToolTip(Word(32, Language));
  for (int i = 0; i < 9; ++i) PositionButton[i]->setToolTip(Word(110 + i, Language));
  Edit[6]->setToolTip(Word(102, Language));
}

void tfrvprnform1::showEvent(QShowEvent* Event) {
  TRvPrintForm::showEvent(Event);
  FReady = true;
  if (ComboBox1->currentIndex() != rvpsFit)
    ComboBox1->setCurrentIndex(rvpsFit);
  else
    PrintPreview();
}

void tfrvprnform1::resizeEvent(QResizeEvent* Event) {
  TRvPrintForm::resizeEvent(Event);
  PrintPreview();
}

// ------------------------------------------------------------ options dialog

Tfrvprnform2::Tfrvprnform2(QWidget* Parent) : TRvPrintForm(Parent) {
  setObjectName(QStringLiteral("TFRVPRNFORM2"));
  MakeFields();
  const char* const labels[10] = {"Top", "Left", "Right", "Bottom", "Width", "Height",
                                  "inches", "inches", "Value", "Units"};
  for (int i = 0; i < 10; ++i) {
    Label[i] = new QLabel(QString::fromLatin1(labels[i]), this);
    Label[i]->setObjectName(QStringLiteral("Label%1").arg(i + 1));
  }
  auto pair = [this](int i) {
    auto* box = new QHBoxLayout;
    box->setSpacing(0);
    box->addWidget(Edit[i]);
    box->addWidget(UpDown[i]);
    return box;
  };
  GroupBox1 = new QGroupBox(QStringLiteral(" Margins (inches) "), this);
  auto* margins = new QGridLayout(GroupBox1);
  margins->addWidget(Label[0], 0, 1);
  margins->addLayout(pair(0), 1, 1);
  margins->addWidget(Label[1], 2, 0);
  margins->addLayout(pair(1), 3, 0);
  margins->addWidget(Label[2], 2, 2);
  margins->addLayout(pair(2), 3, 2);
  margins->addWidget(Label[3], 4, 1);
  margins->addLayout(pair(3), 5, 1);
  GroupBox2 = new QGroupBox(QStringLiteral(" Position "), this);
  auto* position = new QGridLayout(GroupBox2);
  for (int i = 0; i < 9; ++i) position->addWidget(PositionButton[i], i / 3, i % 3);
  GroupBox3 = new QGroupBox(QStringLiteral(" Size "), this);
  auto* size = new QGridLayout(GroupBox3);
  size->addWidget(ComboBox1, 0, 0, 1, 3);
  size->addWidget(Label[4], 1, 0);
  size->addLayout(pair(4), 1, 1);
  size->addWidget(Label[6], 1, 2);
  size->addWidget(Label[5], 2, 0);
  size->addLayout(pair(5), 2, 1);
  size->addWidget(Label[7], 2, 2);
  GroupBox4 = new QGroupBox(QStringLiteral(" Gamma correction "), this);
  auto* gamma = new QHBoxLayout(GroupBox4);
  gamma->addWidget(Label[8]);
  gamma->addLayout(pair(6));
  GroupBox6 = new QGroupBox(QStringLiteral(" Measure units "), this);
  auto* units = new QHBoxLayout(GroupBox6);
  ComboBox2 = new QComboBox(this);
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  ComboBox2->addItems({QStringLiteral("Inches"), QStringLiteral("Cm")});
  units->addWidget(Label[9]);
  units->addWidget(ComboBox2);
  connect(ComboBox2, &QComboBox::activated, this, [this](int Index) { UnitsChanged(Index); });
  GroupBox5 = new QGroupBox(QStringLiteral(" Preview "), this);
  auto* preview = new QVBoxLayout(GroupBox5);
  preview->addWidget(RastrumView1);
  RastrumView1->setMinimumSize(160, 200);
  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button4 = new QPushButton(QStringLiteral("Printer Setup"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2->setObjectName(QStringLiteral("Button2"));
  Button4->setObjectName(QStringLiteral("Button4"));
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, [this] {
    if (PrintPreview(true)) accept();
  });
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(Button4, &QPushButton::clicked, this, [this] { PrinterSetup(); });

  auto* left = new QVBoxLayout;
  left->addWidget(GroupBox1);
  left->addWidget(GroupBox2);
  left->addWidget(GroupBox3);
  left->addWidget(GroupBox4);
  left->addWidget(GroupBox6);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Button4);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addWidget(GroupBox5, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  SizeFieldsEnabled(false);
}

void Tfrvprnform2::ApplyLanguage(TMsgLanguage Language) {
  FLanguage = Language;
  auto boxed = [](const QString& Text) { return QStringLiteral(" ") + Text + QStringLiteral(" "); };
  setWindowTitle(Word(91, Language));
  Button4->setText(Word(104, Language) + QStringLiteral("..."));
  Label[4]->setText(Word(31, Language));
  Label[5]->setText(Word(32, Language));
  GroupBox4->setTitle(boxed(Word(102, Language)));
  Label[0]->setText(Word(30, Language));
  Label[1]->setText(Word(29, Language));
  Label[2]->setText(Word(94, Language));
  Label[3]->setText(Word(95, Language));
  GroupBox2->setTitle(boxed(Word(96, Language)));
  GroupBox5->setTitle(boxed(Word(0, Language)));
  GroupBox3->setTitle(boxed(Word(97, Language)));
  for (int i = 0; i < 4; ++i) ComboBox1->setItemText(i, Word(98 + i, Language));
  Label[8]->setText(Word(103, Language));
  Button1->setText(Word(3, Language));
  Button2->setText(Word(4, Language));
  GroupBox6->setTitle(Word(121, Language));
  Label[9]->setText(Word(122, Language));
  ComboBox2->setItemText(0, Word(93, Language));
  UpdateUnitCaptions();
}

void Tfrvprnform2::UpdateUnitCaptions() {
  const bool cm = MeasureUnit == rvduCm || MeasureUnit == rvduSelectableDefCm;
  const QString unit = cm ? QStringLiteral("Cm") : Word(93, FLanguage);
  GroupBox1->setTitle(QStringLiteral(" ") + Word(92, FLanguage) + QStringLiteral(" (") + unit +
                      QStringLiteral(") "));
  Label[6]->setText(unit);
  Label[7]->setText(unit);
}

void Tfrvprnform2::UnitsChanged(int Index) {
  const TRvDialogsMeasureUnit unit = Index == 1 ? rvduSelectableDefCm : rvduSelectableDefInches;
  if (unit == MeasureUnit) return;
  const bool toCm = unit == rvduSelectableDefCm;
  MeasureUnit = unit;
  // One preview for the whole conversion, not one per field.
  const bool ready = FReady;
  FReady = false;
  for (int i = 0; i < 6; ++i)
    Edit[i]->setText(NumberText(FieldValue(Edit[i]) * (toCm ? 2.54 : 0.3937007874015748)));
  FReady = ready;
  UpdateUnitCaptions();
  PrintPreview();
}

void Tfrvprnform2::SizeFieldsEnabled(bool On) {
  TRvPrintForm::SizeFieldsEnabled(On);
  if (Label[4] == nullptr) return;
  for (int i : {4, 5, 6, 7}) Label[i]->setEnabled(On);
}

void Tfrvprnform2::showEvent(QShowEvent* Event) {
  TRvPrintForm::showEvent(Event);
  const bool selectable = MeasureUnit == rvduSelectableDefInches || MeasureUnit == rvduSelectableDefCm;
  GroupBox6->setVisible(selectable);
  ComboBox2->setCurrentIndex(MeasureUnit == rvduSelectableDefCm ? 1 : 0);
  UpdateUnitCaptions();
  FReady = true;
  if (ComboBox1->currentIndex() != rvpsFit)
    ComboBox1->setCurrentIndex(rvpsFit);
  else
    PrintPreview();
}

} // namespace rv

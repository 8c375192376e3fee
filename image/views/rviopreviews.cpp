#include "image/views/rviopreviews.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "image/io/rvioparams.h"
#include "image/model/rastrumproc.h"
#include "image/model/rvbits.h"
#include "image/model/rvhelpers.h"
#include "image/model/rvlists.h"
#include "image/model/rvpalettedlg.h"
#include "image/model/rvwords.h"
#include "image/views/rastrumview.h"
#include "image/views/rvprnforms.h"
#include "platform/stream.h"

namespace rv {

// ------------------------------------------------------------ colour panel

TRvColorPanel::TRvColorPanel(QWidget* Parent) : QFrame(Parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  setCursor(Qt::PointingHandCursor);
}

void TRvColorPanel::SetColor(platform::TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  update();
}

void TRvColorPanel::paintEvent(QPaintEvent* Event) {
  {
    QPainter p(this);
    p.fillRect(contentsRect(), QColor::fromRgb(platform::ColorToQRgb(FColor)));
  }
  QFrame::paintEvent(Event);
}

void TRvColorPanel::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()) && OnClick)
    OnClick();
}

// ------------------------------------------------------------ helpers

namespace {

// Page geometry: a label column, a control column, rows 26 pixels apart.
constexpr int LabelX = 8;
constexpr int ControlX = 124;
constexpr int RightX = 330;
// Inside the group boxes on the right.
constexpr int GroupWidth = 296;
constexpr int GroupLabelWidth = 140;
constexpr int GroupControlX = 150;
constexpr int Row0 = 8;
constexpr int RowStep = 26;
constexpr int FullPageHeight = 230;
constexpr int FullFormWidth = 660;
constexpr int FullFormHeight = 560;
// The simplified pages: page control and form heights, rows of the sizes.
constexpr int SimplePageHeight = 122;
constexpr int SimpleFormHeight = 330;
constexpr int SimpleSizeRow1 = 61;
constexpr int SimpleSizeRow2 = 77;
constexpr int FullSizeRow1 = 150;
constexpr int FullSizeRow2 = 170;

constexpr int Row(int N) { return Row0 + N * RowStep; }

QString Word(int Index, TMsgLanguage Language) {
  return QString::fromStdString(RvWord(static_cast<std::uint8_t>(Index), Language));
}

QString Text(const std::string& S) { return QString::fromStdString(S); }

// A whole number in Edit, Default when it holds none, kept within the range.
int EditNumber(const QLineEdit* Edit, int Default, int Low, int High) {
  bool ok = false;
  const int v = Edit->text().trimmed().toInt(&ok);
  return std::clamp(ok ? v : Default, Low, High);
}

QString ByteCount(std::int64_t Bytes) { return QString::number(Bytes) + QStringLiteral(" bytes"); }

platform::TColor ColorOf(const TRGB& C) {
  return static_cast<platform::TColor>(RvSwapRedBlue(static_cast<int>(RvRGBToPacked(C))));
}

TRGB RGBOf(platform::TColor C) {
  TRGB rgb;
  RvColorToRGB(C, rgb);
  return rgb;
}

// (bits per sample, samples per pixel) of each colours choice.
struct TLayout {
  int Bits;
  int Samples;
};
constexpr TLayout TiffFullColors[] = {{1, 1}, {4, 1}, {8, 1}, {16, 1}, {8, 3}};
constexpr TLayout TiffSimpleColors[] = {{1, 1}, {4, 1}, {8, 1}, {8, 3}};
constexpr TLayout BmpColors[] = {{1, 1}, {4, 1}, {8, 1}, {5, 3}, {8, 3}, {8, 3}};
constexpr TLayout PcxColors[] = {{1, 1}, {4, 1}, {8, 1}, {8, 3}};
constexpr TLayout PngColors[] = {{1, 1}, {8, 1}, {8, 3}};

template <std::size_t N>
TLayout LayoutAt(const TLayout (&Table)[N], int Index) {
  return Table[std::clamp<std::size_t>(static_cast<std::size_t>(std::max(Index, 0)), 0, N - 1)];
}

// The colours choice that shows a layout: an exact row, else the nearest by
// the number of gray or palette levels.
int TiffFullColorsIndex(int Bits, int Samples) {
  if (Samples >= 3) return 4;
  return Bits <= 1 ? 0 : Bits <= 4 ? 1 : Bits <= 8 ? 2 : 3;
}
// "B/W", "16", "256", then true colour: the simplified TIFF and the PCX lists.
int FourColorsIndex(int Bits, int Samples) {
  if (Samples >= 3) return 3;
  return Bits <= 1 ? 0 : Bits <= 4 ? 1 : 2;
}
int BmpColorsIndex(int Bits, int Samples) {
  if (Samples >= 3) return Bits == 5 ? 3 : 4;
  return Bits <= 1 ? 0 : Bits <= 4 ? 1 : 2;
}
int PngColorsIndex(int Bits, int Samples) {
  if (Samples > 1) return 2;
  return Bits == 1 ? 0 : 1;
}

// The simplified TIFF compressions: 0 to 5, then PackBits.
constexpr int TiffSimpleCompressions[] = {0, 1, 2, 3, 4, 5, 8};

int TiffSimpleCompressionIndex(int Compression) {
  const auto* end = std::end(TiffSimpleCompressions);
  const auto* at = std::find(std::begin(TiffSimpleCompressions), end, Compression);
  return at == end ? -1 : static_cast<int>(at - std::begin(TiffSimpleCompressions));
}

bool IsFaxCompression(int Compression) { return Compression >= 1 && Compression <= 4; }

// The page bit of each page.
constexpr TRvPreviewPages PageBits[TfIOPreviews::pgCount] = {
    pvpJPEG, pvpJPEG, pvpTIFF, pvpTIFF, pvpGIF, pvpGIF, pvpBMP, pvpPCX, pvpPNG, pvpTGA, pvpJPEG2000};
constexpr const char* PageCaptions[TfIOPreviews::pgCount] = {
    "JPEG", "JPEG", "TIFF", "TIFF", "GIF", "GIF", "BMP", "PCX", "PNG", "TGA", "JPEG2000"};
constexpr const char* PageNames[TfIOPreviews::pgCount] = {
    "TabSheetJPEG1", "TabSheetJPEG2", "TabSheetTIFF1", "TabSheetTIFF2", "TabSheetGIF1",
    "TabSheetGIF2",  "TabSheetBMP1",  "TabSheetPCX1",  "TabSheetPNG1",  "TabSheetTGA1",
    "TabSheetJ20001"};
// Pages with a simplified twin, and the pages both kinds of dialog show.
bool FullOnly(int Page) {
  return Page == TfIOPreviews::pgJPEG1 || Page == TfIOPreviews::pgTIFF1 || Page == TfIOPreviews::pgGIF1;
}
bool SimpleOnly(int Page) {
  return Page == TfIOPreviews::pgJPEG2 || Page == TfIOPreviews::pgTIFF2 || Page == TfIOPreviews::pgGIF2;
}

// The page bit of a file type; 0 for a type without a page.
TRvPreviewPages PageOfFileType(TRvFileType FileType) {
  switch (FileType) {
  case rvftTIFF: return pvpTIFF;
  case rvftGIF: return pvpGIF;
  case rvftJPEG: return pvpJPEG;
  case rvftPCX: return pvpPCX;
  case rvftBMP: return pvpBMP;
  case rvftPNG: return pvpPNG;
  case rvftTGA: return pvpTGA;
  case rvftJP2:
  case rvftJ2K: return pvpJPEG2000;
  default: return 0;
  }
}

constexpr TRvPreviewPages AnyPage = pvpAll | pvpJPEG | pvpTIFF | pvpGIF | pvpBMP | pvpPCX | pvpPNG |
                                    pvpTGA | pvpJPEG2000;

QLabel* AddLabel(QWidget* Page, const QString& Caption, int X, int Y, int Width = 112) {
  auto* label = new QLabel(Caption, Page);
  label->setGeometry(X, Y + 3, Width, 16);
  return label;
}

QComboBox* AddCombo(QWidget* Page, const char* Name, std::initializer_list<const char*> Items, int X,
                    int Y, int Width = 150) {
  auto* box = new QComboBox(Page);
  box->setObjectName(QString::fromLatin1(Name));
  for (const char* item : Items) box->addItem(QString::fromLatin1(item));
  box->setGeometry(X, Y, Width, 22);
  return box;
}

QLineEdit* AddEdit(QWidget* Page, const char* Name, int X, int Y, int Width) {
  auto* edit = new QLineEdit(Page);
  edit->setObjectName(QString::fromLatin1(Name));
  edit->setGeometry(X, Y, Width, 22);
  return edit;
}

QSlider* AddTrackBar(QWidget* Page, const char* Name, int Maximum, int Tick, int X, int Y) {
  auto* track = new QSlider(Qt::Horizontal, Page);
  track->setObjectName(QString::fromLatin1(Name));
  track->setRange(0, Maximum);
  track->setTickInterval(Tick);
  track->setTickPosition(QSlider::TicksBelow);
  track->setGeometry(X, Y - 2, 150, 26);
  return track;
}

QCheckBox* AddCheck(QWidget* Page, const char* Name, const char* Caption, int X, int Y) {
  auto* check = new QCheckBox(QString::fromLatin1(Caption), Page);
  check->setObjectName(QString::fromLatin1(Name));
  check->setGeometry(X, Y, 160, 22);
  return check;
}

TRvColorPanel* AddPanel(QWidget* Page, const char* Name, int X, int Y) {
  auto* panel = new TRvColorPanel(Page);
  panel->setObjectName(QString::fromLatin1(Name));
  panel->setGeometry(X, Y, 40, 22);
  return panel;
}

TRvUpDown* AddUpDown(QWidget* Page, const char* Name, QLineEdit* Edit) {
  auto* updown = new TRvUpDown(Page);
  updown->setObjectName(QString::fromLatin1(Name));
  const QRect r = Edit->geometry();
  updown->setGeometry(r.right() + 1, r.top(), 16, 22);
  return updown;
}

} // namespace

// ------------------------------------------------------------ creation

TfIOPreviews::TfIOPreviews(QWidget* Owner)
    : QDialog(Owner), FIO(std::make_unique<TRastrumIO>()), FProc(std::make_unique<TRastrumProc>()) {
  setObjectName(QStringLiteral("TFIOPREVIEWS"));
  setWindowTitle(QStringLiteral("Parameters preview"));
  setModal(true);
  Register(this, 37, ckTitle);

  Panel2 = new QWidget(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Label1 = new QLabel(QStringLiteral("Source:"), Panel2);
  Label2 = new QLabel(QStringLiteral("Result:"), Panel2);
  Register(Label1, 1, ckColon);
  Register(Label2, 2, ckColon);
  Rastrum1 = new TRastrumView(Panel2);
  Rastrum2 = new TRastrumView(Panel2);
  Rastrum1->setObjectName(QStringLiteral("Rastrum1"));
  Rastrum2->setObjectName(QStringLiteral("Rastrum2"));
  for (TRastrumView* view : {Rastrum1, Rastrum2}) {
    // Without a frame a fitted picture needs no scroll bar.
    view->SetBorderStyle(bsNone);
    view->SetScrollBars(ssBoth);
    view->setMinimumSize(120, 90);
  }
  Rastrum1->SetMouseInteract(miZoom | miScroll);
  Rastrum1->OnViewChange = [this](void*, int) { Rastrum1ViewChange(); };
  ProgressBar1 = new QProgressBar(Panel2);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setFixedHeight(12);
  auto* views = new QGridLayout(Panel2);
  views->setContentsMargins(0, 0, 0, 0);
  views->addWidget(Label1, 0, 0);
  views->addWidget(Label2, 0, 1);
  views->addWidget(Rastrum1, 1, 0);
  views->addWidget(Rastrum2, 1, 1);
  views->addWidget(ProgressBar1, 2, 0, 1, 2);
  views->setColumnStretch(0, 1);
  views->setColumnStretch(1, 1);
  views->setRowStretch(1, 1);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setTabPosition(QTabWidget::South);
  PageControl1->setFixedHeight(FullPageHeight);
  for (int i = 0; i < pgCount; ++i) {
    TabSheet[i] = new QWidget;
    TabSheet[i]->setObjectName(QString::fromLatin1(PageNames[i]));
    PageControl1->addTab(TabSheet[i], QString::fromLatin1(PageCaptions[i]));
  }
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
    if (FActivating || !FActivated) return;
    PageControl1Changing();
    PageControl1Change();
  });

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button3 = new QPushButton(QStringLiteral("&Preview"), this);
  Button4 = new QPushButton(QStringLiteral("&Apply"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2->setObjectName(QStringLiteral("Button2"));
  Button3->setObjectName(QStringLiteral("Button3"));
  Button4->setObjectName(QStringLiteral("Button4"));
  Button1->setDefault(true);
  Register(Button2, 4, ckText);
  Register(Button1, 3, ckText);
  Register(Button3, 0, ckText);
  Register(Button4, 120, ckText);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setCheckable(true);
  SpeedButton1->setText(QStringLiteral("Lock"));
  SpeedButton1->setToolTip(QStringLiteral("Lock preview"));
  Register(SpeedButton1, 5, ckHint);
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

  auto* buttons = new QVBoxLayout;
  for (QWidget* b : std::initializer_list<QWidget*>{Button1, Button2, Button3, SpeedButton1, Button4})
    buttons->addWidget(b);
  buttons->addStretch(1);
  // The buttons stand beside the views, so that the simplified form keeps
  // its height with the page control under both.
  auto* top = new QHBoxLayout;
  top->addWidget(Panel2, 1);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(PageControl1);

  BuildJpegPages();
  BuildTiffPages();
  BuildGifPages();
  BuildSimplePages();
  for (int i = 0; i < pgCount; ++i) BuildSizeLabels(i);

  ColorDialog1 = new QColorDialog(this);
  ColorDialog1->setObjectName(QStringLiteral("ColorDialog1"));
  ColorDialog1->setOption(QColorDialog::DontUseNativeDialog);
  PaletteDialog1 = new TRastrumPaletteDialog(this);
  FPaletteCancel = QStringLiteral("&Cancel");

  // The trial encodings are measured as plain files.
  FIO->StreamHeaders = false;
  FIO->OnProgress = [this](void*, int Per) {
    ProgressBar1->setValue(FProgressBase + Per / FProgressDivisor);
  };
  FProc->AutoUndo = false;
  Button4->setEnabled(false);
  resize(FullFormWidth, FullFormHeight);
}

TfIOPreviews::~TfIOPreviews() = default;

void TfIOPreviews::Register(QObject* Target, int Word, TCaptionKind Kind) {
  FCaptions.push_back({Target, Word, Kind});
}

void TfIOPreviews::BuildSizeLabels(int Page) {
  QWidget* page = TabSheet[Page];
  FSizeCaption[Page][0] = AddLabel(page, QStringLiteral("Original size:"), LabelX, FullSizeRow1);
  FSizeCaption[Page][1] = AddLabel(page, QStringLiteral("Compressed size:"), LabelX, FullSizeRow2);
  OriginalSize[Page] = AddLabel(page, QStringLiteral("---"), ControlX, FullSizeRow1, 160);
  CompressedSize[Page] = AddLabel(page, QStringLiteral("---"), ControlX, FullSizeRow2, 160);
  OriginalSize[Page]->setObjectName(QStringLiteral("OriginalSize%1").arg(Page));
  CompressedSize[Page]->setObjectName(QStringLiteral("CompressedSize%1").arg(Page));
  Register(FSizeCaption[Page][0], 43, ckColon);
  Register(FSizeCaption[Page][1], 44, ckColon);
}

void TfIOPreviews::PlaceSizeLabels(int Page, int Row1, int Row2) {
  for (QLabel* label : {FSizeCaption[Page][0], OriginalSize[Page]})
    label->move(label->x(), Row1);
  for (QLabel* label : {FSizeCaption[Page][1], CompressedSize[Page]})
    label->move(label->x(), Row2);
}

QLabel* TfIOPreviews::AddCaption(QWidget* Page, const char* Text, int Word, QWidget* Buddy, int X,
                                 int Y, int Width, TCaptionKind Kind) {
  QLabel* label = AddLabel(Page, QString::fromLatin1(Text), X, Y, Width);
  label->setBuddy(Buddy);
  Register(label, Word, Kind);
  return label;
}

void TfIOPreviews::BuildJpegPages() {
  QWidget* p = TabSheet[pgJPEG1];
  Edit22 = AddEdit(p, "Edit22", ControlX, Row(0), 40);
  TrackBar13 = AddTrackBar(p, "TrackBar13", 100, 5, ControlX + 44, Row(0));
  AddCaption(p, "&Quality:", 38, Edit22, LabelX, Row(0));
  ComboBox13 = AddCombo(p, "ComboBox13", {"RGB", "GrayScale", "YCbCr", "CMYK", "YCbCrK"}, ControlX, Row(1));
  AddCaption(p, "P&hotometric:", 49, ComboBox13, LabelX, Row(1));
  auto* advanced = new QGroupBox(QStringLiteral(" Advanced "), p);
  advanced->setGeometry(RightX, 2, GroupWidth, 130);
  Register(advanced, 45, ckSpaced);
  ComboBox1 = AddCombo(advanced, "ComboBox1", {"ISLOW", "IFAST", "FLOAT"}, GroupControlX, 20, 100);
  AddCaption(advanced, "&DCT method:", 39, ComboBox1, LabelX, 20, GroupLabelWidth);
  Edit23 = AddEdit(advanced, "Edit23", GroupControlX, 46, 44);
  UpDown11 = AddUpDown(advanced, "UpDown11", Edit23);
  AddCaption(advanced, "&Smoothing factor:", 40, Edit23, LabelX, 46, GroupLabelWidth);
  CheckBox2 = AddCheck(advanced, "CheckBox2", "&Optimal Huffman", LabelX, 72);
  CheckBox3 = AddCheck(advanced, "CheckBox3", "P&rogressive", LabelX, 98);
  Register(CheckBox2, 42, ckText);
  Register(CheckBox3, 46, ckText);

  QWidget* s = TabSheet[pgJPEG2];
  Edit16 = AddEdit(s, "Edit16", ControlX, Row(0), 40);
  TrackBar2 = AddTrackBar(s, "TrackBar2", 100, 5, ControlX + 44, Row(0));
  AddCaption(s, "&Quality:", 38, Edit16, LabelX, Row(0));

  connect(TrackBar13, &QSlider::valueChanged, this, [this] { TrackBarChange(TrackBar13, Edit22); });
  connect(Edit22, &QLineEdit::textChanged, this, [this] { EditChange(Edit22, TrackBar13, 50); });
  connect(TrackBar2, &QSlider::valueChanged, this, [this] { TrackBarChange(TrackBar2, Edit16); });
  connect(Edit16, &QLineEdit::textChanged, this, [this] { EditChange(Edit16, TrackBar2, 50); });
  for (QComboBox* box : {ComboBox13, ComboBox1})
    connect(box, &QComboBox::currentIndexChanged, this, [this] { ParamsChange(); });
  for (QCheckBox* box : {CheckBox2, CheckBox3})
    connect(box, &QCheckBox::toggled, this, [this] { ParamsChange(); });
  connect(Edit23, &QLineEdit::textChanged, this, [this] { ParamsChange(); });
  UpDown11->OnClick = [this](bool Up) { StepEdit(Edit23, Up, 100); };
}

void TfIOPreviews::BuildTiffPages() {
  QWidget* p = TabSheet[pgTIFF1];
  ComboBox2 = AddCombo(p, "ComboBox2",
                       {"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX", "LZW", "OLDJPEG",
                        "JPEG", "PACKBITS"},
                       ControlX, Row(0));
  AddCaption(p, "&Compression:", 47, ComboBox2, LabelX, Row(0));
  Edit1 = AddEdit(p, "Edit1", ControlX, Row(1), 50);
  UpDown1 = AddUpDown(p, "UpDown1", Edit1);
  AddCaption(p, "&Image index:", 48, Edit1, LabelX, Row(1));
  ComboBox3 = AddCombo(p, "ComboBox3",
                       {"WHITEISZERO/Gray", "BLACKISZERO/Gray", "RGB", "RGBPALETTE", "TRANSPMASK",
                        "CMYK", "YCBCR", "CIELAB"},
                       ControlX, Row(2));
  AddCaption(p, "P&hotometric:", 49, ComboBox3, LabelX, Row(2));
  ComboBox4 = AddCombo(p, "ComboBox4", {"B/W", "16", "256", "65536", "16M"}, ControlX, Row(3));
  AddCaption(p, "C&olors:", 58, ComboBox4, LabelX, Row(3));
  auto* info = new QGroupBox(QStringLiteral(" Scanned document info "), p);
  info->setGeometry(RightX, 2, GroupWidth, 186);
  Register(info, 50, ckSpaced);
  const char* const captions[6] = {"H&oriz. Position (inch):", "&Vert. Position (inch):", "&Name:",
                                   "&Description:", "P&age name:", "Page N&umber:"};
  const char* const names[7] = {"Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8"};
  const int words[6] = {56, 57, 51, 52, 53, 54};
  for (int i = 0; i < 6; ++i) {
    const int y = 20 + i * RowStep;
    const bool number = i < 2 || i == 5;
    TiffEdit[i] = AddEdit(info, names[i], GroupControlX, y, number ? 44 : 130);
    AddCaption(info, captions[i], words[i], TiffEdit[i], LabelX, y, GroupLabelWidth);
  }
  const int last = 20 + 5 * RowStep;
  TiffEdit[6] = AddEdit(info, names[6], GroupControlX + 70, last, 44);
  AddCaption(info, "o&f", 55, TiffEdit[6], GroupControlX + 48, last, 20, ckText);

  QWidget* s = TabSheet[pgTIFF2];
  ComboBox16 = AddCombo(s, "ComboBox16",
                        {"Uncompressed", "CCITT1D", "G3Fax1D", "G3Fax2D", "G4Fax", "LZW", "PackBits"},
                        ControlX, Row(0));
  AddCaption(s, "&Compression:", 47, ComboBox16, LabelX, Row(0));
  ComboBox17 = AddCombo(s, "ComboBox17", {"2", "16", "256", "16777216"}, ControlX, Row(1));
  AddCaption(s, "C&olors:", 58, ComboBox17, LabelX, Row(1));

  connect(ComboBox2, &QComboBox::currentIndexChanged, this, [this] { ParamsChange(); });
  connect(ComboBox3, &QComboBox::currentIndexChanged, this, [this] { TiffPhotometricChange(); });
  connect(ComboBox4, &QComboBox::currentIndexChanged, this, [this] { TiffColorsChange(); });
  connect(Edit1, &QLineEdit::textChanged, this, [this] { ParamsChange(); });
  for (QLineEdit* edit : TiffEdit)
    connect(edit, &QLineEdit::textChanged, this, [this] { ParamsChange(); });
  UpDown1->OnClick = [this](bool Up) { StepEdit(Edit1, Up, 1000); };
  connect(ComboBox16, &QComboBox::currentIndexChanged, this, [this] { TiffSimpleCompressionChange(); });
  connect(ComboBox17, &QComboBox::currentIndexChanged, this, [this] { TiffSimpleColorsChange(); });
}

void TfIOPreviews::BuildGifPages() {
  QWidget* p = TabSheet[pgGIF1];
  Edit9 = AddEdit(p, "Edit9", ControlX, Row(0), 50);
  UpDown2 = AddUpDown(p, "UpDown2", Edit9);
  AddCaption(p, "&Image index:", 48, Edit9, LabelX, Row(0));
  ComboBox5 = AddCombo(p, "ComboBox5", {"B/W", "4", "8", "16", "32", "64", "128", "256"}, ControlX, Row(1));
  AddCaption(p, "&Colors:", 58, ComboBox5, LabelX, Row(1));
  CheckBox4 = AddCheck(p, "CheckBox4", "&Transparent:", LabelX, Row(2));
  Register(CheckBox4, 59, ckColon);
  Panel3 = AddPanel(p, "Panel3", ControlX + 124, Row(2));
  AddCaption(p, "T&ransparent color:", 60, Panel3, ControlX, Row(2), 120);
  CheckBox5 = AddCheck(p, "CheckBox5", "I&nterlaced:", LabelX, Row(3));
  Register(CheckBox5, 61, ckColon);
  Panel4 = AddPanel(p, "Panel4", ControlX, Row(4));
  AddCaption(p, "&Background:", 62, Panel4, LabelX, Row(4));
  auto* advanced = new QGroupBox(QStringLiteral(" Advanced "), p);
  advanced->setGeometry(RightX, 2, GroupWidth, 104);
  Register(advanced, 45, ckSpaced);
  Edit12 = AddEdit(advanced, "Edit12", GroupControlX, 20, 50);
  AddCaption(advanced, "&Delay time:", 65, Edit12, LabelX, 20, GroupLabelWidth);
  AddLabel(advanced, QStringLiteral("1/100 s"), GroupControlX + 54, 20, 60);
  Edit10 = AddEdit(advanced, "Edit10", GroupControlX, 46, 50);
  AddCaption(advanced, "&Horiz. Position:", 63, Edit10, LabelX, 46, GroupLabelWidth);
  Edit11 = AddEdit(advanced, "Edit11", GroupControlX, 72, 50);
  AddCaption(advanced, "&Vert. Position:", 64, Edit11, LabelX, 72, GroupLabelWidth);

  QWidget* s = TabSheet[pgGIF2];
  ComboBox18 = AddCombo(s, "ComboBox18", {"B/W", "4", "8", "16", "32", "64", "128", "256"}, ControlX, Row(0));
  AddCaption(s, "&Colors:", 58, ComboBox18, LabelX, Row(0));

  for (QComboBox* box : {ComboBox5, ComboBox18})
    connect(box, &QComboBox::currentIndexChanged, this, [this] { ParamsChange(); });
  for (QCheckBox* box : {CheckBox4, CheckBox5})
    connect(box, &QCheckBox::toggled, this, [this] { ParamsChange(); });
  for (QLineEdit* edit : {Edit9, Edit10, Edit11, Edit12})
    connect(edit, &QLineEdit::textChanged, this, [this] { ParamsChange(); });
  UpDown2->OnClick = [this](bool Up) { StepEdit(Edit9, Up, 1000); };
  Panel3->OnClick = [this] { Panel3Click(); };
  Panel4->OnClick = [this] { Panel4Click(); };
}

void TfIOPreviews::BuildSimplePages() {
  QWidget* b = TabSheet[pgBMP1];
  ComboBox6 = AddCombo(b, "ComboBox6", {"UNCOMPRESSED", "RLE"}, ControlX, Row(0));
  AddCaption(b, "&Compression:", 47, ComboBox6, LabelX, Row(0));
  ComboBox7 = AddCombo(b, "ComboBox7", {"B/W", "16", "256", "65536", "16M", "16M (32bit)"}, ControlX, Row(1));
  AddCaption(b, "C&olors:", 58, ComboBox7, LabelX, Row(1));

  QWidget* x = TabSheet[pgPCX1];
  ComboBox8 = AddCombo(x, "ComboBox8", {"UNCOMPRESSED", "RLE"}, ControlX, Row(0));
  AddCaption(x, "&Compression:", 47, ComboBox8, LabelX, Row(0));
  ComboBox9 = AddCombo(x, "ComboBox9", {"B/W", "16", "256", "16M"}, ControlX, Row(1));
  AddCaption(x, "C&olors:", 58, ComboBox9, LabelX, Row(1));

  QWidget* n = TabSheet[pgPNG1];
  ComboBox10 = AddCombo(n, "ComboBox10", {"B/W", "256", "16M"}, ControlX, Row(0));
  AddCaption(n, "C&olors:", 58, ComboBox10, LabelX, Row(0));
  Panel1 = AddPanel(n, "Panel1", ControlX, Row(1));
  AddCaption(n, "&Background:", 62, Panel1, LabelX, Row(1));
  PngAdvanced = new QGroupBox(QStringLiteral(" Advanced "), n);
  PngAdvanced->setGeometry(RightX, 2, GroupWidth, 104);
  Register(PngAdvanced, 45, ckSpaced);
  ComboBox11 = AddCombo(PngAdvanced, "ComboBox11", {"None", "Sub", "Paeth"}, GroupControlX, 20, 100);
  AddCaption(PngAdvanced, "&Filter", 66, ComboBox11, LabelX, 20, GroupLabelWidth);
  CheckBox6 = AddCheck(PngAdvanced, "CheckBox6", "I&nterlaced:", LabelX, 46);
  Register(CheckBox6, 61, ckText);
  ComboBox12 = AddCombo(PngAdvanced, "ComboBox12",
                        {"None", "1", "2", "3", "4", "5", "6", "7", "8", "Max"}, GroupControlX, 72, 100);
  AddCaption(PngAdvanced, "Co&mpression", 47, ComboBox12, LabelX, 72, GroupLabelWidth);

  QWidget* t = TabSheet[pgTGA1];
  ComboBox14 = AddCombo(t, "ComboBox14", {"B/W", "256", "16M"}, ControlX, Row(0));
  AddCaption(t, "C&olors:", 58, ComboBox14, LabelX, Row(0));
  Panel5 = AddPanel(t, "Panel5", ControlX, Row(1));
  AddCaption(t, "&Background:", 62, Panel5, LabelX, Row(1));
  CheckBox1 = AddCheck(t, "CheckBox1", "Compression:", RightX, Row(0));
  Register(CheckBox1, 47, ckColon);
  Edit13 = AddEdit(t, "Edit13", RightX + GroupControlX, Row(1), 130);
  Edit14 = AddEdit(t, "Edit14", RightX + GroupControlX, Row(2), 130);
  QLabel* name = AddCaption(t, "&Name:", 51, Edit13, RightX, Row(1), GroupLabelWidth);
  QLabel* description = AddCaption(t, "&Description:", 52, Edit14, RightX, Row(2), GroupLabelWidth);
  FTgaExtras = {name, Edit13, description, Edit14};

  QWidget* j = TabSheet[pgJ20001];
  Edit15 = AddEdit(j, "Edit15", ControlX, Row(0), 40);
  TrackBar1 = AddTrackBar(j, "TrackBar1", 1000, 20, ControlX + 44, Row(0));
  AddCaption(j, "&Rate:", 123, Edit15, LabelX, Row(0));
  ComboBox15 = AddCombo(j, "ComboBox15", {"GrayScale", "RGB", "YCbCr"}, ControlX, Row(1));
  AddCaption(j, "P&hotometric:", 49, ComboBox15, LabelX, Row(1));

  for (QComboBox* box : {ComboBox6, ComboBox7, ComboBox8, ComboBox9, ComboBox10, ComboBox11,
                         ComboBox12, ComboBox14, ComboBox15})
    connect(box, &QComboBox::currentIndexChanged, this, [this] { ParamsChange(); });
  for (QCheckBox* box : {CheckBox6, CheckBox1})
    connect(box, &QCheckBox::toggled, this, [this] { ParamsChange(); });
  for (QLineEdit* edit : {Edit13, Edit14})
    connect(edit, &QLineEdit::textChanged, this, [this] { ParamsChange(); });
  connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBarChange(TrackBar1, Edit15); });
  connect(Edit15, &QLineEdit::textChanged, this, [this] { EditChange(Edit15, TrackBar1, 1000); });
  Panel1->OnClick = [this] { Panel1Click(); };
  Panel5->OnClick = [this] { Panel5Click(); };
}

// ------------------------------------------------------------ captions and pages

void TfIOPreviews::ApplyLanguage(TMsgLanguage Language) {
  for (const TCaption& c : FCaptions) {
    const QString word = Word(c.Word, Language);
    switch (c.Kind) {
    case ckTitle: static_cast<QWidget*>(c.Target)->setWindowTitle(word); break;
    case ckHint: static_cast<QWidget*>(c.Target)->setToolTip(word); break;
    case ckSpaced: static_cast<QGroupBox*>(c.Target)->setTitle(QStringLiteral(" ") + word + QStringLiteral(" ")); break;
    case ckText:
    case ckColon: {
      const QString text = c.Kind == ckColon ? word + QStringLiteral(":") : word;
      if (auto* label = qobject_cast<QLabel*>(c.Target))
        label->setText(text);
      else if (auto* button = qobject_cast<QAbstractButton*>(c.Target))
        button->setText(text);
      break;
    }
    }
  }
  FPaletteCancel = QStringLiteral("&") + Word(4, Language);
}

bool TfIOPreviews::SetPreviewPages(TRvPreviewPages Pages) {
  FPages = Pages;
  if ((Pages & pvpAuto) != 0 && Params != nullptr) FPages |= PageOfFileType(Params->FileType);
  // A set that names no page at all (empty, or pvpAuto for a type without
  // a page) would open a dialog with nothing to edit.
  return (FPages & AnyPage) != 0;
}

int TfIOPreviews::ActivePage() const { return FActivated ? PageControl1->currentIndex() : -1; }

void TfIOPreviews::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (!FActivated) FormActivate();
}

void TfIOPreviews::FormActivate() {
  FReady = false;
  SpeedButton1->setChecked(DefaultLockPreview);
  Button3->setEnabled(!SpeedButton1->isChecked());
  FActivating = true;
  int first = -1;
  for (int i = 0; i < pgCount; ++i) {
    const bool kind = SimplifiedParamsDialogs ? !FullOnly(i) : !SimpleOnly(i);
    const bool shown = kind && (FPages & (pvpAll | PageBits[i])) != 0;
    PageControl1->setTabVisible(i, shown);
    if (shown && first < 0) first = i;
    if (SimplifiedParamsDialogs)
      PlaceSizeLabels(i, SimpleSizeRow1, SimpleSizeRow2);
    else
      PlaceSizeLabels(i, FullSizeRow1, FullSizeRow2);
  }
  PngAdvanced->setVisible(!SimplifiedParamsDialogs);
  for (QWidget* w : FTgaExtras) w->setVisible(!SimplifiedParamsDialogs);
  PageControl1->setFixedHeight(SimplifiedParamsDialogs ? SimplePageHeight : FullPageHeight);
  // The form's minimum follows the page control's new height first.
  if (QLayout* l = layout()) l->activate();
  resize(width(), SimplifiedParamsDialogs ? SimpleFormHeight : FullFormHeight);
  if (first >= 0) PageControl1->setCurrentIndex(first);
  FActivating = false;
  FActivated = true;
  Button4->setEnabled(false);
  if (first < 0) return;
  LoadValues();
  FillPages();
  // The views take their final size before the source is fitted to them.
  if (QLayout* l = layout()) l->activate();
  Rastrum1->Fit();
  PageControl1Change();
}

namespace {

// Copies fields between the caller's record and the working values, toward
// the record or from it.
struct TPass {
  bool ToRecord;
  template <class T>
  void operator()(T& Record, T& Work) const {
    if (ToRecord)
      Record = Work;
    else
      Work = Record;
  }
  void operator()(std::uint8_t& Record, int& Work) const {
    if (ToRecord)
      Record = static_cast<std::uint8_t>(Work);
    else
      Work = Record;
  }
  void operator()(TRGB& Record, platform::TColor& Work) const {
    if (ToRecord)
      Record = RGBOf(Work);
    else
      Work = ColorOf(Record);
  }
};

// The fields of each format that pass unchanged; the colour choices and the
// sample layouts they stand for are the callers' part.
void PassJpeg(TPass F, TIOParamsVals& P, TRvPreviewValues& V) {
  F(P.JpegQuality, V.JpegQuality);
  F(P.JpegColorSpace, V.JpegColorSpace);
  F(P.JpegDctMethod, V.JpegDctMethod);
  F(P.JpegOptimalHuffman, V.JpegOptimalHuffman);
  F(P.JpegSmoothing, V.JpegSmoothing);
  F(P.JpegProgressive, V.JpegProgressive);
}

void PassTiff(TPass F, TIOParamsVals& P, TRvPreviewValues& V) {
  F(P.TiffCompression, V.TiffCompression);
  F(P.TiffImageIndex, V.TiffImageIndex);
  F(P.TiffPhotometric, V.TiffPhotometric);
  F(P.TiffXPos, V.TiffXPos);
  F(P.TiffYPos, V.TiffYPos);
  F(P.TiffDocumentName, V.TiffDocumentName);
  F(P.TiffImageDescription, V.TiffImageDescription);
  F(P.TiffPageName, V.TiffPageName);
  F(P.TiffPageNumber, V.TiffPageNumber);
  F(P.TiffPageCount, V.TiffPageCount);
  F(P.BitsPerSample, V.TiffBits);
  F(P.SamplesPerPixel, V.TiffSamples);
}

void PassGif(TPass F, TIOParamsVals& P, TRvPreviewValues& V) {
  F(P.GifImageIndex, V.GifImageIndex);
  F(P.GifXPos, V.GifXPos);
  F(P.GifYPos, V.GifYPos);
  F(P.GifDelayTime, V.GifDelayTime);
  F(P.GifHasTransparentColor, V.GifHasTransparentColor);
  F(P.GifTransparentColor, V.GifTransparentColor);
  F(P.GifInterlaced, V.GifInterlaced);
  F(P.GifBackground, V.GifBackground);
}

void PassPng(TPass F, TIOParamsVals& P, TRvPreviewValues& V) {
  F(P.PngInterlaced, V.PngInterlaced);
  F(P.PngBackground, V.PngBackground);
  F(P.PngFilter, V.PngFilter);
  F(P.PngCompression, V.PngCompression);
}

void PassTga(TPass F, TIOParamsVals& P, TRvPreviewValues& V) {
  F(P.TgaKeyColor, V.TgaKeyColor);
  F(P.TgaCompressed, V.TgaCompressed);
  F(P.TgaJobName, V.TgaJobName);
  F(P.TgaImageId, V.TgaImageId);
}

} // namespace

void TfIOPreviews::LoadValues() {
  if (Params == nullptr) return;
  TIOParamsVals& p = *Params;
  TRvPreviewValues& v = FValues;
  const TPass from{false};
  PassJpeg(from, p, v);
  from(p.J2000Rate, v.J2000Rate);
  from(p.J2000ColorSpace, v.J2000ColorSpace);
  PassTiff(from, p, v);
  v.TiffLzwDecompress = p.TiffLzwDecompress;
  v.TiffLzwCompress = p.TiffLzwCompress;
  PassGif(from, p, v);
  v.GifLzwDecompress = p.GifLzwDecompress;
  v.GifLzwCompress = p.GifLzwCompress;
  v.GifBits = std::clamp(p.BitsPerSample, 1, 8);
  from(p.BmpCompression, v.BmpCompression);
  v.BmpColors = BmpColorsIndex(p.BitsPerSample, p.SamplesPerPixel);
  from(p.PcxCompression, v.PcxCompression);
  v.PcxColors = FourColorsIndex(p.BitsPerSample, p.SamplesPerPixel);
  PassPng(from, p, v);
  v.PngColors = PngColorsIndex(p.BitsPerSample, p.SamplesPerPixel);
  PassTga(from, p, v);
  v.TgaColors = PngColorsIndex(p.BitsPerSample, p.SamplesPerPixel);
}

void TfIOPreviews::FillPages() {
  FReady = false;
  const TRvPreviewValues& v = FValues;
  const auto setEdit = [](QLineEdit* Edit, const QString& Text) { Edit->setText(Text); };
  const auto number = [](int N) { return QString::number(N); };
  setEdit(Edit22, number(v.JpegQuality));
  TrackBar13->setValue(v.JpegQuality);
  setEdit(Edit16, number(v.JpegQuality));
  TrackBar2->setValue(v.JpegQuality);
  ComboBox13->setCurrentIndex(v.JpegColorSpace <= 4 ? v.JpegColorSpace : -1);
  ComboBox1->setCurrentIndex(v.JpegDctMethod <= 2 ? v.JpegDctMethod : -1);
  CheckBox2->setChecked(v.JpegOptimalHuffman);
  setEdit(Edit23, number(v.JpegSmoothing));
  CheckBox3->setChecked(v.JpegProgressive);

  ComboBox2->setCurrentIndex(v.TiffCompression <= 8 ? v.TiffCompression : -1);
  setEdit(Edit1, number(v.TiffImageIndex));
  ComboBox3->setCurrentIndex(v.TiffPhotometric <= 7 ? v.TiffPhotometric : -1);
  ComboBox4->setCurrentIndex(TiffFullColorsIndex(v.TiffBits, v.TiffSamples));
  setEdit(TiffEdit[0], number(v.TiffXPos));
  setEdit(TiffEdit[1], number(v.TiffYPos));
  setEdit(TiffEdit[2], Text(v.TiffDocumentName));
  setEdit(TiffEdit[3], Text(v.TiffImageDescription));
  setEdit(TiffEdit[4], Text(v.TiffPageName));
  setEdit(TiffEdit[5], number(v.TiffPageNumber));
  setEdit(TiffEdit[6], number(v.TiffPageCount));
  ComboBox16->setCurrentIndex(TiffSimpleCompressionIndex(v.TiffCompression));
  ComboBox17->setCurrentIndex(FourColorsIndex(v.TiffBits, v.TiffSamples));

  setEdit(Edit9, number(v.GifImageIndex));
  ComboBox5->setCurrentIndex(v.GifBits - 1);
  ComboBox18->setCurrentIndex(v.GifBits - 1);
  CheckBox4->setChecked(v.GifHasTransparentColor);
  Panel3->SetColor(v.GifTransparentColor);
  CheckBox5->setChecked(v.GifInterlaced);
  Panel4->SetColor(v.GifBackground);
  setEdit(Edit12, number(v.GifDelayTime));
  setEdit(Edit10, number(v.GifXPos));
  setEdit(Edit11, number(v.GifYPos));

  ComboBox6->setCurrentIndex(v.BmpCompression <= 1 ? v.BmpCompression : -1);
  ComboBox7->setCurrentIndex(v.BmpColors);
  ComboBox8->setCurrentIndex(v.PcxCompression <= 1 ? v.PcxCompression : -1);
  ComboBox9->setCurrentIndex(v.PcxColors);
  ComboBox10->setCurrentIndex(v.PngColors);
  Panel1->SetColor(v.PngBackground);
  ComboBox11->setCurrentIndex(v.PngFilter <= 2 ? v.PngFilter : -1);
  CheckBox6->setChecked(v.PngInterlaced);
  ComboBox12->setCurrentIndex(v.PngCompression >= 0 && v.PngCompression <= 9 ? v.PngCompression : -1);
  ComboBox14->setCurrentIndex(v.TgaColors);
  Panel5->SetColor(v.TgaKeyColor);
  CheckBox1->setChecked(v.TgaCompressed);
  setEdit(Edit13, Text(v.TgaJobName));
  setEdit(Edit14, Text(v.TgaImageId));

  const int rate = RvRound(v.J2000Rate * 1000);
  setEdit(Edit15, number(rate));
  TrackBar1->setValue(std::clamp(rate, 0, 1000));
  ComboBox15->setCurrentIndex(v.J2000ColorSpace <= 2 ? v.J2000ColorSpace : -1);

  const platform::TBitmap* source = Rastrum1->GetBitmap();
  const int bits = source->PixelFormat() == platform::pf1bit ? 1 : 24;
  const std::int64_t original = static_cast<std::int64_t>(source->Height()) * RvRowLen(source->Width(), bits);
  for (QLabel* label : OriginalSize) label->setText(ByteCount(original));
  FReady = true;
}

// ------------------------------------------------------------ reading the controls

void TfIOPreviews::ReadPage(int Page, TRvPreviewValues& V) const {
  // A list without a choice keeps the working value.
  const auto pick = [](const QComboBox* Box, int& Value) {
    if (Box->currentIndex() >= 0) Value = Box->currentIndex();
  };
  const auto text = [](const QLineEdit* Edit) { return Edit->text().toStdString(); };
  constexpr int IntMax = 2147483647;
  constexpr int IntMin = -IntMax - 1;
  switch (Page) {
  case pgJPEG1:
    V.JpegQuality = EditNumber(Edit22, 50, 0, 100);
    pick(ComboBox13, V.JpegColorSpace);
    pick(ComboBox1, V.JpegDctMethod);
    V.JpegOptimalHuffman = CheckBox2->isChecked();
    V.JpegSmoothing = EditNumber(Edit23, 0, 0, 100);
    V.JpegProgressive = CheckBox3->isChecked();
    break;
  case pgJPEG2: V.JpegQuality = EditNumber(Edit16, 50, 0, 100); break;
  case pgTIFF1: {
    pick(ComboBox2, V.TiffCompression);
    V.TiffImageIndex = EditNumber(Edit1, 0, 0, 1000);
    pick(ComboBox3, V.TiffPhotometric);
    if (ComboBox4->currentIndex() >= 0) {
      const TLayout l = LayoutAt(TiffFullColors, ComboBox4->currentIndex());
      V.TiffBits = l.Bits;
      V.TiffSamples = l.Samples;
    }
    if (V.TiffPhotometric == 5) {
      V.TiffBits = 8;
      V.TiffSamples = 4;
    }
    V.TiffXPos = EditNumber(TiffEdit[0], 0, IntMin, IntMax);
    V.TiffYPos = EditNumber(TiffEdit[1], 0, IntMin, IntMax);
    V.TiffDocumentName = text(TiffEdit[2]);
    V.TiffImageDescription = text(TiffEdit[3]);
    V.TiffPageName = text(TiffEdit[4]);
    V.TiffPageNumber = EditNumber(TiffEdit[5], 0, 0, 65535);
    V.TiffPageCount = EditNumber(TiffEdit[6], 0, 0, 65535);
    break;
  }
  case pgTIFF2:
    if (ComboBox16->currentIndex() >= 0)
      V.TiffCompression = TiffSimpleCompressions[ComboBox16->currentIndex()];
    if (ComboBox17->currentIndex() >= 0) {
      const TLayout l = LayoutAt(TiffSimpleColors, ComboBox17->currentIndex());
      V.TiffBits = l.Bits;
      V.TiffSamples = l.Samples;
    }
    break;
  case pgGIF1:
    // The frame's fields are 16-bit words in the file.
    V.GifImageIndex = EditNumber(Edit9, 0, 0, 1000);
    if (ComboBox5->currentIndex() >= 0) V.GifBits = ComboBox5->currentIndex() + 1;
    V.GifHasTransparentColor = CheckBox4->isChecked();
    V.GifInterlaced = CheckBox5->isChecked();
    V.GifDelayTime = EditNumber(Edit12, 0, 0, 65535);
    V.GifXPos = EditNumber(Edit10, 0, 0, 65535);
    V.GifYPos = EditNumber(Edit11, 0, 0, 65535);
    break;
  case pgGIF2:
    if (ComboBox18->currentIndex() >= 0) V.GifBits = ComboBox18->currentIndex() + 1;
    break;
  case pgBMP1:
    pick(ComboBox6, V.BmpCompression);
    pick(ComboBox7, V.BmpColors);
    break;
  case pgPCX1:
    pick(ComboBox8, V.PcxCompression);
    pick(ComboBox9, V.PcxColors);
    break;
  case pgPNG1:
    pick(ComboBox10, V.PngColors);
    pick(ComboBox11, V.PngFilter);
    V.PngInterlaced = CheckBox6->isChecked();
    pick(ComboBox12, V.PngCompression);
    break;
  case pgTGA1:
    pick(ComboBox14, V.TgaColors);
    V.TgaCompressed = CheckBox1->isChecked();
    V.TgaJobName = text(Edit13);
    V.TgaImageId = text(Edit14);
    break;
  case pgJ20001:
    V.J2000Rate = EditNumber(Edit15, 1000, 0, 1000) / 1000.0;
    pick(ComboBox15, V.J2000ColorSpace);
    break;
  default: break;
  }
}

void TfIOPreviews::ParamsChange() {
  if (!FReady) return;
  TRvPreviewValues next = FValues;
  ReadPage(ActivePage(), next);
  if (!(next == FValues)) {
    FValues = next;
    if (SpeedButton1->isChecked()) DoPreview(Rastrum2);
  }
  Button4->setEnabled(true);
}

void TfIOPreviews::TrackBarChange(QSlider* TrackBar, QLineEdit* Edit) {
  if (!FReady) return;
  {
    const QSignalBlocker block(Edit);
    Edit->setText(QString::number(TrackBar->value()));
  }
  ParamsChange();
}

void TfIOPreviews::EditChange(QLineEdit* Edit, QSlider* TrackBar, int Default) {
  if (!FReady) return;
  {
    const QSignalBlocker block(TrackBar);
    TrackBar->setValue(EditNumber(Edit, Default, TrackBar->minimum(), TrackBar->maximum()));
  }
  ParamsChange();
}

void TfIOPreviews::StepEdit(QLineEdit* Edit, bool Up, int Maximum) {
  const int v = EditNumber(Edit, 0, 0, Maximum);
  Edit->setText(QString::number(std::clamp(v + (Up ? 1 : -1), 0, Maximum)));
}

namespace {

// Moves Box to Index without running its handler.
void SetQuietly(QComboBox* Box, int Index) {
  if (Box->currentIndex() == Index) return;
  const QSignalBlocker block(Box);
  Box->setCurrentIndex(Index);
}

} // namespace

void TfIOPreviews::TiffColorsChange() {
  if (!FReady) return;
  const int photometric = ComboBox3->currentIndex();
  switch (ComboBox4->currentIndex()) {
  case 0: if (photometric > 1) SetQuietly(ComboBox3, 1); break;
  case 1: SetQuietly(ComboBox3, 3); break;
  case 2: if (photometric != 0 && photometric != 1) SetQuietly(ComboBox3, 3); break;
  default: break;
  }
  ParamsChange();
}

void TfIOPreviews::TiffPhotometricChange() {
  if (!FReady) return;
  switch (ComboBox3->currentIndex()) {
  case 0:
  case 1: if (ComboBox4->currentIndex() != 0) SetQuietly(ComboBox4, 2); break;
  case 3: SetQuietly(ComboBox4, 2); break;
  case 2:
  case 5:
  case 6:
  case 7: SetQuietly(ComboBox4, 4); break;
  default: break;
  }
  ParamsChange();
}

void TfIOPreviews::TiffSimpleCompressionChange() {
  if (!FReady) return;
  const int index = ComboBox16->currentIndex();
  if (index >= 0 && IsFaxCompression(TiffSimpleCompressions[index])) SetQuietly(ComboBox17, 0);
  ParamsChange();
}

void TfIOPreviews::TiffSimpleColorsChange() {
  if (!FReady) return;
  const int index = ComboBox16->currentIndex();
  if (ComboBox17->currentIndex() > 0 && index >= 0 && IsFaxCompression(TiffSimpleCompressions[index]))
    SetQuietly(ComboBox16, 0);
  ParamsChange();
}

// ------------------------------------------------------------ buttons and panels

void TfIOPreviews::WriteValues() {
  if (Params == nullptr) return;
  TIOParamsVals& p = *Params;
  TRvPreviewValues& v = FValues;
  const TPass to{true};
  const auto layout = [&p](TLayout L) {
    p.BitsPerSample = L.Bits;
    p.SamplesPerPixel = L.Samples;
  };
  switch (ActivePage()) {
  case pgJPEG1:
  case pgJPEG2: PassJpeg(to, p, v); break;
  case pgJ20001:
    layout({8, v.J2000ColorSpace == 0 ? 1 : 3});
    to(p.J2000ColorSpace, v.J2000ColorSpace);
    to(p.J2000Rate, v.J2000Rate);
    break;
  case pgTIFF1:
  case pgTIFF2: PassTiff(to, p, v); break;
  case pgGIF1:
  case pgGIF2:
    PassGif(to, p, v);
    layout({v.GifBits, 1});
    break;
  case pgBMP1:
    to(p.BmpCompression, v.BmpCompression);
    layout(LayoutAt(BmpColors, v.BmpColors));
    break;
  case pgPCX1:
    to(p.PcxCompression, v.PcxCompression);
    layout(LayoutAt(PcxColors, v.PcxColors));
    break;
  case pgPNG1:
    layout(LayoutAt(PngColors, v.PngColors));
    PassPng(to, p, v);
    break;
  case pgTGA1:
    layout(LayoutAt(PngColors, v.TgaColors));
    PassTga(to, p, v);
    break;
  default: break;
  }
}

void TfIOPreviews::Button1Click() {
  WriteValues();
  accept();
}

void TfIOPreviews::Button3Click() { DoPreview(Rastrum2); }

void TfIOPreviews::Button4Click() {
  WriteValues();
  Button4->setEnabled(false);
}

void TfIOPreviews::SpeedButton1Click() {
  if (SpeedButton1->isChecked()) DoPreview(Rastrum2);
  Button3->setEnabled(!SpeedButton1->isChecked());
}

bool TfIOPreviews::ChooseColor(TRvColorPanel* Panel, std::int64_t Colors, bool WithColorDialog) {
  const TIOParamsVals& trial = FIO->Params();
  bool chosen = false;
  if (trial.ColorMap != nullptr || !WithColorDialog) {
    // The map may be older than the colours chosen since: the dialog shows
    // no entry beyond it.
    const std::int64_t count = trial.ColorMap != nullptr ? std::min<std::int64_t>(Colors, trial.ColorMapCount) : 0;
    PaletteDialog1->CancelButton()->setText(FPaletteCancel);
    PaletteDialog1->SetPalette(trial.ColorMap.get(), static_cast<int>(count));
    chosen = PaletteDialog1->Execute();
    if (chosen) Panel->SetColor(PaletteDialog1->Color());
  } else {
    ColorDialog1->setCurrentColor(QColor::fromRgb(platform::ColorToQRgb(Panel->Color())));
    chosen = ColorDialog1->exec() == QDialog::Accepted;
    if (chosen) {
      const QColor c = ColorDialog1->selectedColor();
      Panel->SetColor(static_cast<platform::TColor>(
          platform::RGB(static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                        static_cast<std::uint8_t>(c.blue()))));
    }
  }
  Button4->setEnabled(true);
  return chosen;
}

void TfIOPreviews::Panel1Click() {
  const TLayout l = LayoutAt(PngColors, FValues.PngColors);
  if (ChooseColor(Panel1, RvIntPow2(l.Bits, l.Samples), true)) FValues.PngBackground = Panel1->Color();
}

void TfIOPreviews::Panel3Click() {
  if (ChooseColor(Panel3, RvIntPow2(FValues.GifBits, 1), false))
    FValues.GifTransparentColor = Panel3->Color();
}

void TfIOPreviews::Panel4Click() {
  if (ChooseColor(Panel4, RvIntPow2(FValues.GifBits, 1), false)) FValues.GifBackground = Panel4->Color();
}

void TfIOPreviews::Panel5Click() {
  const TLayout l = LayoutAt(PngColors, FValues.TgaColors);
  if (ChooseColor(Panel5, RvIntPow2(l.Bits, l.Samples), true)) FValues.TgaKeyColor = Panel5->Color();
}

// ------------------------------------------------------------ page change and views

void TfIOPreviews::PageControl1Changing() { FReady = false; }

void TfIOPreviews::PageControl1Change() {
  LoadValues();
  FillPages();
  DoPreview(Rastrum2);
  Button4->setEnabled(false);
}

void TfIOPreviews::SyncResultView() {
  Rastrum2->LockUpdate();
  Rastrum2->SetZoom(Rastrum1->Zoom());
  Rastrum2->SetViewXY(Rastrum1->ViewX(), Rastrum1->ViewY());
  Rastrum2->UnlockUpdate();
}

void TfIOPreviews::Rastrum1ViewChange() { SyncResultView(); }

// ------------------------------------------------------------ the trial encoding

void TfIOPreviews::ShowCompressed(int Page, int Twin, const QString& Text) {
  CompressedSize[Page]->setText(Text);
  CompressedSize[Twin]->setText(Text);
}

void TfIOPreviews::ReduceCopy(TRastrumView* Target, std::int64_t Colors, bool WithMap) {
  TIOParamsVals& trial = FIO->Params();
  if (Colors > 256) {
    if (WithMap) trial.FreeColorMap();
    return;
  }
  const int count = static_cast<int>(Colors);
  if (!WithMap) {
    FProc->ConvertTo(count);
    return;
  }
  if (Target->GetBitmap()->PixelFormat() == platform::pf1bit) {
    // A black-and-white copy stays as it is: its map is its two colours,
    // not entries nobody filled.
    const TRGB bw[2] = {{0, 0, 0}, {255, 255, 255}};
    trial.SetColorMap(bw, 2);
    return;
  }
  FProc->ConvertToPalette(count, trial.AllocColorMap(count));
}

void TfIOPreviews::DoPreview(TRastrumView* Target) {
  if (Target == nullptr || !FActivated) return;
  const int page = ActivePage();
  platform::TMemoryStream memory;
  TNulStream counter;
  TIOParamsVals& trial = FIO->Params();
  const TRvPreviewValues& v = FValues;
  platform::TBitmap* source = Rastrum1->GetBitmap();
  FIO->SetAttachedBitmap(source);
  FProc->SetAttachedBitmap(Target->GetBitmap());
  FProgressBase = 0;
  FProgressDivisor = 1;
  // The page whose twin shows the same size.
  int twin = page;
  const auto written = [&](std::int64_t Bytes) {
    // A trial that failed has no size to show.
    ShowCompressed(page, twin, FIO->Aborting ? QStringLiteral("---") : ByteCount(Bytes));
  };
  const auto copySource = [&] { RvCopyBitmap(source, Target->GetBitmap()); };
  const auto layout = [&trial](TLayout L) {
    trial.BitsPerSample = L.Bits;
    trial.SamplesPerPixel = L.Samples;
  };
  try {
    switch (page) {
    case pgJPEG1:
    case pgJPEG2:
      twin = page == pgJPEG1 ? pgJPEG2 : pgJPEG1;
      FProgressDivisor = 2;
      PassJpeg(TPass{true}, trial, FValues);
      FIO->SaveJpegStream(memory);
      written(memory.Size());
      memory.SetPosition(0);
      FIO->SetAttachedBitmap(Target->GetBitmap());
      FProgressBase = 50;
      FIO->LoadJpegStream(memory);
      break;
    case pgJ20001:
      FProgressDivisor = 2;
      trial.J2000Rate = v.J2000Rate;
      trial.J2000ColorSpace = static_cast<std::uint8_t>(v.J2000ColorSpace);
      layout({8, v.J2000ColorSpace == 0 ? 1 : 3});
      FIO->SaveJ2KStream(memory);
      written(memory.Size());
      memory.SetPosition(0);
      FIO->SetAttachedBitmap(Target->GetBitmap());
      FProgressBase = 50;
      FIO->LoadJ2KStream(memory);
      break;
    case pgTIFF1:
    case pgTIFF2:
      twin = page == pgTIFF1 ? pgTIFF2 : pgTIFF1;
      trial.TiffLzwDecompress = v.TiffLzwDecompress;
      trial.TiffLzwCompress = v.TiffLzwCompress;
      trial.TiffCompression = static_cast<std::uint8_t>(v.TiffCompression);
      trial.TiffPhotometric = static_cast<std::uint8_t>(v.TiffPhotometric);
      layout({v.TiffBits, v.TiffSamples});
      FIO->SaveTIFFStream(counter);
      written(counter.Size());
      copySource();
      if (v.TiffPhotometric <= 1 && v.TiffBits == 8 && v.TiffSamples == 1) {
        FProc->ConvertToGray();
        trial.FreeColorMap();
      } else if (v.TiffPhotometric < 5) {
        ReduceCopy(Target, RvIntPow2(v.TiffBits, v.TiffSamples), true);
      }
      break;
    case pgGIF1:
    case pgGIF2:
      twin = page == pgGIF1 ? pgGIF2 : pgGIF1;
      trial.GifLzwDecompress = v.GifLzwDecompress;
      trial.GifLzwCompress = v.GifLzwCompress;
      layout({v.GifBits, 1});
      trial.GifInterlaced = v.GifInterlaced;
      FIO->SaveGIFStream(counter);
      written(counter.Size());
      copySource();
      ReduceCopy(Target, RvIntPow2(v.GifBits, 1), true);
      break;
    case pgBMP1:
    case pgPCX1: {
      const bool bmp = page == pgBMP1;
      const TLayout l = bmp ? LayoutAt(BmpColors, v.BmpColors) : LayoutAt(PcxColors, v.PcxColors);
      layout(l);
      if (bmp) {
        trial.BmpCompression = static_cast<std::uint8_t>(v.BmpCompression);
        FIO->SaveBMPStream(counter);
      } else {
        trial.PcxCompression = static_cast<std::uint8_t>(v.PcxCompression);
        FIO->SavePCXStream(counter);
      }
      written(counter.Size());
      copySource();
      ReduceCopy(Target, RvIntPow2(l.Bits, l.Samples), false);
      break;
    }
    case pgPNG1:
    case pgTGA1: {
      const bool png = page == pgPNG1;
      const TLayout l = LayoutAt(PngColors, png ? v.PngColors : v.TgaColors);
      layout(l);
      if (png) {
        trial.PngInterlaced = v.PngInterlaced;
        trial.PngFilter = static_cast<std::uint8_t>(v.PngFilter);
        trial.PngCompression = v.PngCompression;
        FIO->SavePNGStream(counter);
      } else {
        trial.TgaCompressed = v.TgaCompressed;
        FIO->SaveTGAStream(counter);
      }
      written(counter.Size());
      copySource();
      ReduceCopy(Target, RvIntPow2(l.Bits, l.Samples), true);
      break;
    }
    default: break;
    }
  } catch (const std::exception&) {
    // The writers raise on a library failure: the trial simply has no size.
    ShowCompressed(page, twin, QStringLiteral("---"));
  }
  ProgressBar1->setValue(0);
  // The trial components must not keep the views' pictures wrapped.
  FIO->SetAttachedBitmap(nullptr);
  FProc->SetAttachedBitmap(nullptr);
  if (Target == Rastrum2)
    SyncResultView();
  else
    Target->Update();
}

// ------------------------------------------------------------ opening

bool RvShowIOPreviews(TRastrumIO& IO, TRvPreviewPages Pages, QWidget* Owner) {
  TfIOPreviews dialog(Owner);
  dialog.DefaultLockPreview = (IO.GetPreviewsParams() & ioppDefaultLockPreview) != 0;
  dialog.Button4->setVisible((IO.GetPreviewsParams() & ioppApplyButton) != 0);
  dialog.Params = &IO.Params();
  dialog.SimplifiedParamsDialogs = IO.SimplifiedParamsDialogs;
  dialog.ApplyLanguage(IO.MsgLanguage);
  dialog.setFont(IO.PreviewFont().ToQFont());
  if (TRvBitmap* picture = IO.RvBitmap()) picture->CopyToTBitmap(dialog.Rastrum1->GetBitmap());
  dialog.Rastrum1->Update();
  if (!dialog.SetPreviewPages(Pages)) return false;
  if (IO.OnIOPreview) IO.OnIOPreview(&IO, &dialog);
  return dialog.exec() == QDialog::Accepted;
}

void RvInstallIOPreviews() {
  if (!RvHasIOPreviewsDialog()) RvSetIOPreviewsDialog(RvShowIOPreviews);
}

} // namespace rv

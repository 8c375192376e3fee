#include "app/toolbox.h"

#include "app/dialogglyphs.h"
#include "app/genutil.h"
#include "app/helpdlg.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/qrcheckbox/qrcheckbox.h"
#include "image/model/rastrumproc.h"
#include "platform/graphics.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>

namespace app {

TToolBox* ToolBox = nullptr;

namespace {

constexpr int ClientWidth = 220;
constexpr QKeySequence::StandardKey EditingKeys[] = {QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut,
                                                     QKeySequence::Paste,     QKeySequence::Undo, QKeySequence::Redo};
constexpr int PixelsItem = 0;
constexpr int PercentItem = 1;

// A size past what an integer holds stays the largest one, so that it is
// refused as too large rather than wrapped into a small one.
int Round(double Value) {
  return static_cast<int>(std::clamp(std::nearbyint(Value), double(INT_MIN), double(INT_MAX)));
}

// A box holds an integer; anything else reads 0.
int BoxValue(const QLineEdit* Box) {
  bool ok = false;
  const int value = Box->text().trimmed().toInt(&ok);
  return ok ? value : 0;
}

kel::TKelShapeButton* MakeButton(QWidget* parent, const QString& caption, const QString& hint, QRect bounds) {
  auto* button = new kel::TKelShapeButton(parent);
  ApplyFormButtonValues(*button);
  button->SetCaption(caption.toStdString());
  // A hint "short|long": the short part pops up, the long one is the status tip.
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  button->setToolTip(bar < 0 ? hint : hint.left(bar));
  button->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
  button->setGeometry(bounds);
  return button;
}

kel::TKelShapeButton* MakeGlyphButton(QWidget* parent, TDialogGlyph glyph, const QString& hint, QRect bounds) {
  kel::TKelShapeButton* button = MakeButton(parent, QString(), hint, bounds);
  platform::TBitmap image;
  MakeDialogGlyph(glyph, image);
  button->SetGlyph(image);
  return button;
}

QComboBox* MakeUnitList(QWidget* parent, QRect bounds) {
  auto* list = new QComboBox(parent);
  list->addItems({QStringLiteral("Pixels"), QStringLiteral("Percent")});
  list->setCurrentIndex(PixelsItem);
  list->setGeometry(bounds);
  return list;
}

} // namespace

TToolBox::TToolBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Image Tools"));
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setModal(false);

  RotateFrame = new QGroupBox(QStringLiteral("Rotate"), this);
  RotateFrame->setGeometry(8, 6, ClientWidth - 16, 54);
  SBtnRotateCW = MakeGlyphButton(RotateFrame, dgRotateCW,
                                 QString::fromUtf8("90° Clockwise|Rotate Image 90° Clockwise"), {12, 18, 40, 28});
  SBtnRotateCCW = MakeGlyphButton(RotateFrame, dgRotateCCW,
                                  QString::fromUtf8("90° Counter Clockwise|Rotate Image 90° Counter Clockwise"),
                                  {58, 18, 40, 28});
  SBtnRotateFull = MakeGlyphButton(RotateFrame, dgRotate180, QString::fromUtf8("Full 180°|Rotate Image Full 180°"),
                                   {104, 18, 40, 28});

  FlipFrame = new QGroupBox(QStringLiteral("Flip"), this);
  FlipFrame->setGeometry(8, 64, ClientWidth - 16, 54);
  SBtnFlipHorz = MakeGlyphButton(FlipFrame, dgFlipHorizontal, QStringLiteral("Flip Horizontally|Flip Image Horizontally"),
                                 {12, 18, 40, 28});
  SBtnFlipVert = MakeGlyphButton(FlipFrame, dgFlipVertical, QStringLiteral("Flip Vertically|Flip Image Vertically"),
                                 {58, 18, 40, 28});

  ResizeFrame = new QGroupBox(QStringLiteral("Resize"), this);
  ResizeFrame->setGeometry(8, 122, ClientWidth - 16, 132);
  auto* widthCaption = new QLabel(QStringLiteral("Width:"), ResizeFrame);
  widthCaption->setGeometry(10, 24, 44, 20);
  EditWidth = new QLineEdit(ResizeFrame);
  EditWidth->setGeometry(56, 22, 60, 22);
  CmbWidthType = MakeUnitList(ResizeFrame, {122, 22, 76, 22});
  auto* heightCaption = new QLabel(QStringLiteral("Height:"), ResizeFrame);
  heightCaption->setGeometry(10, 52, 44, 20);
  EditHeight = new QLineEdit(ResizeFrame);
  EditHeight->setGeometry(56, 50, 60, 22);
  CmbHeightType = MakeUnitList(ResizeFrame, {122, 50, 76, 22});
  CbProportional = new wn::TQrCheckBox(ResizeFrame);
  CbProportional->SetCaption(QStringLiteral("Constrain Proportions"));
  CbProportional->SetTransparent(true);
  CbProportional->SetChecked(true);
  CbProportional->setGeometry(10, 78, 180, 17);
  SBtnResize = MakeGlyphButton(ResizeFrame, dgResize, QStringLiteral("Resize Image|Resize Image"), {56, 98, 40, 28});
  SBtnResetSizes =
      MakeGlyphButton(ResizeFrame, dgResetSizes,
                      QStringLiteral("Revert Width and Height|Revert Width and Height to Current Image Width and Height"),
                      {102, 98, 40, 28});

  SBtnReload = MakeButton(this, QStringLiteral("Reload from File"), QString(), {8, 262, ClientWidth - 16, 25});
  SBtnSave = MakeButton(this, QStringLiteral("Save to File"), QString(), {8, 292, ClientWidth - 16, 25});
  SBtnCancel = MakeButton(this, QStringLiteral("Close"), QString(), {8, 322, ClientWidth - 16, 25});

  const auto command = [this](kel::TKelShapeButton* button, std::function<void(TToolBoxHost&)> act) {
    button->OnClick = [this, act](kel::TKelBaseGraphicButton*) {
      if (Host) act(*Host);
    };
  };
  command(SBtnRotateCW, [](TToolBoxHost& h) { h.RotateImage(90); });
  command(SBtnRotateCCW, [](TToolBoxHost& h) { h.RotateImage(-90); });
  command(SBtnRotateFull, [](TToolBoxHost& h) { h.RotateImage(180); });
  command(SBtnFlipHorz, [](TToolBoxHost& h) { h.FlipImage(rv::rvfdHorizontal); });
  command(SBtnFlipVert, [](TToolBoxHost& h) { h.FlipImage(rv::rvfdVertical); });
  command(SBtnResize, [this](TToolBoxHost& h) {
    h.ResizeImage(WidthInPixels(), HeightInPixels());
    ResetToolBoxSizeFields();
  });
  command(SBtnReload, [](TToolBoxHost& h) { h.ReloadImage(); });
  command(SBtnSave, [](TToolBoxHost& h) { h.SaveModifiedImage(); });
  SBtnResetSizes->OnClick = [this](kel::TKelBaseGraphicButton*) { ResetToolBoxSizeFields(); };
  SBtnCancel->OnClick = [this](kel::TKelBaseGraphicButton*) { close(); };

  for (QLineEdit* box : {EditWidth, EditHeight}) box->installEventFilter(this);
  connect(EditWidth, &QLineEdit::textEdited, this, [this] { SizeEdited(true); });
  connect(EditHeight, &QLineEdit::textEdited, this, [this] { SizeEdited(false); });
  connect(CmbWidthType, &QComboBox::currentIndexChanged, this, [this] { UnitChanged(true); });
  connect(CmbHeightType, &QComboBox::currentIndexChanged, this, [this] { UnitChanged(false); });

  setFixedSize(ClientWidth, 356);
  AdjustControlsForDpi(this);
  if (ToolBox == nullptr) ToolBox = this;
}

TToolBox::~TToolBox() {
  if (ToolBox == this) ToolBox = nullptr;
}

QSize TToolBox::Picture() const { return Host ? Host->PictureSize() : QSize(); }

int TToolBox::WidthInPercent() const {
  if (CmbWidthType->currentIndex() == PercentItem) return BoxValue(EditWidth);
  const int w = Picture().width();
  return w == 0 ? 0 : Round(BoxValue(EditWidth) / static_cast<double>(w) * 100);
}

int TToolBox::HeightInPercent() const {
  if (CmbHeightType->currentIndex() == PercentItem) return BoxValue(EditHeight);
  const int h = Picture().height();
  return h == 0 ? 0 : Round(BoxValue(EditHeight) / static_cast<double>(h) * 100);
}

int TToolBox::WidthInPixels() const {
  if (CmbWidthType->currentIndex() == PixelsItem) return BoxValue(EditWidth);
  return Round(Picture().width() * static_cast<double>(BoxValue(EditWidth)) / 100);
}

int TToolBox::HeightInPixels() const {
  if (CmbHeightType->currentIndex() == PixelsItem) return BoxValue(EditHeight);
  return Round(Picture().height() * static_cast<double>(BoxValue(EditHeight)) / 100);
}

void TToolBox::UpdateToolBoxState(bool Enabled) {
  FEnabled = Enabled;
  const std::vector<QWidget*> own = {SBtnSave, SBtnResize, SBtnResetSizes, SBtnReload, SBtnCancel};
  for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    SetEnabledRecursive(child, Enabled, own);
  const bool picture = Host && Host->HasImage();
  SBtnSave->setEnabled(picture && Host->IsImageModified() && !Host->ToolBoxSaveBlocked());
  const bool sized = WidthInPercent() != 100 || HeightInPercent() != 100;
  // A size the main window cannot make (under a pixel, too large) is
  // offered all the same, so that it can say why.
  SBtnResize->setEnabled(picture && sized);
  SBtnResetSizes->setEnabled(picture && sized);
  SBtnReload->setEnabled(picture && !Host->IsNewImage());
  SBtnCancel->setEnabled(true);
}

void TToolBox::ResetToolBoxSizeFields() {
  const QSize picture = Picture();
  FUpdating = true;
  EditWidth->setText(CmbWidthType->currentIndex() == PixelsItem ? QString::number(picture.width())
                                                                : QStringLiteral("100"));
  EditHeight->setText(CmbHeightType->currentIndex() == PixelsItem ? QString::number(picture.height())
                                                                  : QStringLiteral("100"));
  FUpdating = false;
  UpdateToolBoxState(FEnabled);
}

void TToolBox::UnitChanged(bool width) {
  QLineEdit* box = width ? EditWidth : EditHeight;
  const QComboBox* unit = width ? CmbWidthType : CmbHeightType;
  const int size = width ? Picture().width() : Picture().height();
  const int value = BoxValue(box);
  int converted = 0;
  if (unit->currentIndex() == PercentItem) converted = size == 0 ? 0 : Round(value / static_cast<double>(size) * 100);
  else converted = Round(size * static_cast<double>(value) / 100);
  FUpdating = true;
  box->setText(QString::number(converted));
  FUpdating = false;
  UpdateToolBoxState(FEnabled);
}

void TToolBox::SizeEdited(bool width) {
  if (FUpdating) return;
  if (CbProportional->Checked()) {
    QLineEdit* other = width ? EditHeight : EditWidth;
    const bool thisPercent = (width ? CmbWidthType : CmbHeightType)->currentIndex() == PercentItem;
    const bool otherPercent = (width ? CmbHeightType : CmbWidthType)->currentIndex() == PercentItem;
    const QSize picture = Picture();
    const int thisSize = width ? picture.width() : picture.height();
    const int otherSize = width ? picture.height() : picture.width();
    FUpdating = true;
    if (thisPercent && otherPercent) {
      other->setText(QString::number(BoxValue(width ? EditWidth : EditHeight)));
    } else if (thisSize > 0) {
      const double factor = (width ? WidthInPixels() : HeightInPixels()) / static_cast<double>(thisSize);
      other->setText(QString::number(otherPercent ? Round(factor * 100) : Round(otherSize * factor)));
    }
    FUpdating = false;
  }
  UpdateToolBoxState(FEnabled);
}

bool TToolBox::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == EditWidth || watched == EditHeight)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    // The box's own editing keys (select all, copy, cut, paste, undo) are
    // no characters typed into it, though they come with a control one.
    const bool editing = std::any_of(std::begin(EditingKeys), std::end(EditingKeys),
                                     [key](QKeySequence::StandardKey Standard) { return key->matches(Standard); });
    if (text.size() == 1 && !editing) {
      const char16_t c = text[0].unicode();
      const bool accepted = (c >= '0' && c <= '9') || c == '.' || c == 8 || c == 9 || c == 13 || c == 27 || c == 12;
      if (!accepted) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TToolBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QDialog::keyPressEvent(event);
}

} // namespace app

#include "app/optionsform.h"

#include "app/dialogglyphs.h"
#include "app/filetypes.h"
#include "app/genutil.h"
#include "app/helpdlg.h"
#include "app/msgbox.h"
#include "app/notificationdlg.h"
#include "app/pictureutil.h"
#include "app/settings.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/qoslider/qoslider.h"
#include "controls/support/wnmrulist/wnmrulist.h"
#include "controls/support/wnspinedit/wnspinedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>

#include "app/modalrun.h"

#include <stdexcept>

namespace app {

TOptionsForm* OptionsForm = nullptr;
std::function<void(TOptionsForm&)> TOptionsForm::ModalAnswer;

namespace {

constexpr int ClientWidth = 424;
constexpr int ClientHeight = 330;
constexpr int PageWidth = ClientWidth - 16;
constexpr int MaxMagnifyFactor = 16;

struct TPromptBox {
  const char* Caption;
  const char* Setting;
  const char* Hint;
};

constexpr TPromptBox PromptBoxes[] = {
    {"Prompt before leaving Auto-fit mode", "ShowAutoFitPrompt",
     "Asks whether \"Auto-fit\" mode is to be turned off when you zoom while it is on."},
    {"Prompt before closing a folder window", "ShowCloseFolderPrompt",
     "Asks before an advanced folder window is closed."},
    {"Prompt before entering Full-Screen mode", "ShowFullScreenPrompt",
     "Tells you how to leave \"Full-Screen\" mode each time you enter it."},
    {"Prompt before starting a Slide Show", "ShowSlideShowPrompt",
     "Tells you how to stop a Slide Show each time one starts."},
};

QCheckBox* MakeCheckBox(QWidget* page, const char* caption, int top) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), page);
  box->setGeometry(16, top, PageWidth - 32, 20);
  return box;
}

// A combo box text read as an integer; no number counts as 0.
int ComboNumber(const QComboBox* box) {
  bool ok = false;
  const int value = box->currentText().trimmed().toInt(&ok);
  return ok ? value : 0;
}

} // namespace

TOptionsForm::TOptionsForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Preferences"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  OptionsPageControl = new QTabWidget(this);
  OptionsPageControl->setGeometry(8, 8, PageWidth, ClientHeight - 56);
  BuildGeneralTab();
  BuildSlideShowTab();
  BuildPromptsTab();
  BuildMagnifyTab();
  BuildFileTypesTab();

  SBtnOkay = new kel::TKelShapeButton(this);
  SBtnApply = new kel::TKelShapeButton(this);
  SBtnCancel = new kel::TKelShapeButton(this);
  SBtnOkay->SetCaption("OK");
  SBtnApply->SetCaption("Apply");
  SBtnCancel->SetCaption("Close");
  int left = ClientWidth - 3 * 88 - 2 * 6 - 8;
  for (kel::TKelShapeButton* button : {SBtnOkay, SBtnApply, SBtnCancel}) {
    ApplyFormButtonValues(*button);
    button->setGeometry(left, ClientHeight - 38, 88, 25);
    button->installEventFilter(this);
    left += 94;
  }
  SBtnOkay->OnClick = [this](kel::TKelBaseGraphicButton*) { done(1); };
  SBtnCancel->OnClick = [this](kel::TKelBaseGraphicButton*) { done(2); };
  SBtnApply->OnClick = [this](kel::TKelBaseGraphicButton*) { SBtnApply->setEnabled(!Apply()); };

  setFixedSize(ClientWidth, ClientHeight);
  AdjustControlsForDpi(this);
  OptionsPageControl->setCurrentWidget(GeneralTab);
  if (OptionsForm == nullptr) OptionsForm = this;
}

TOptionsForm::~TOptionsForm() {
  if (OptionsForm == this) OptionsForm = nullptr;
}

void TOptionsForm::BuildGeneralTab() {
  GeneralTab = new QWidget;
  OptionsPageControl->addTab(GeneralTab, QStringLiteral("General"));
  auto* caption = new QLabel(QStringLiteral("Max Size of Recent Folders List:"), GeneralTab);
  caption->setGeometry(16, 18, 200, 20);
  SEMRUSize = new wn::TWnSpinEdit(GeneralTab);
  SEMRUSize->SetDecimal(0);
  SEMRUSize->SetMaxValue(30);
  SEMRUSize->setMaxLength(2);
  SEMRUSize->setGeometry(220, 16, 48, 22);
  SEMRUSize->OnChange = [this](QObject*) { EnableApply(); };
  SBtnClearMRU = new kel::TKelShapeButton(GeneralTab);
  ApplyFormButtonValues(*SBtnClearMRU);
  SBtnClearMRU->SetCaption("Clear Recent Folder List");
  SBtnClearMRU->setGeometry(16, 48, 180, 25);
  SBtnClearMRU->OnClick = [this](kel::TKelBaseGraphicButton*) { ClearRecentFolders(); };
  CBGifAnimation = MakeCheckBox(GeneralTab, "Enable Gif Animation", 92);
  CBAutoSave = MakeCheckBox(GeneralTab, "Auto-Save Large Rotated Images", 118);
  CBTransparency = MakeCheckBox(GeneralTab, "Enable Transparency", 144);
  CBHideFolderTab = MakeCheckBox(GeneralTab, "Hide Folder Tab for Single Folder", 170);
  for (QCheckBox* box : {CBGifAnimation, CBAutoSave, CBTransparency, CBHideFolderTab})
    connect(box, &QCheckBox::toggled, this, [this] { EnableApply(); });
}

void TOptionsForm::BuildSlideShowTab() {
  SlideShowTab = new QWidget;
  OptionsPageControl->addTab(SlideShowTab, QStringLiteral("Slide Show"));
  auto* caption = new QLabel(QStringLiteral("Slide Show Interval:"), SlideShowTab);
  caption->setGeometry(16, 18, 130, 20);
  CmbMinutes = new QComboBox(SlideShowTab);
  CmbMinutes->setEditable(true);
  for (int m = 0; m <= 10; ++m) CmbMinutes->addItem(QString::number(m));
  CmbMinutes->setGeometry(150, 16, 52, 22);
  auto* minutes = new QLabel(QStringLiteral("min"), SlideShowTab);
  minutes->setGeometry(206, 18, 30, 20);
  CmbSeconds = new QComboBox(SlideShowTab);
  CmbSeconds->setEditable(true);
  for (int s : {0, 1, 2, 3, 4, 5, 10, 15, 20, 30, 45}) CmbSeconds->addItem(QString::number(s));
  CmbSeconds->setGeometry(240, 16, 52, 22);
  auto* seconds = new QLabel(QStringLiteral("sec"), SlideShowTab);
  seconds->setGeometry(296, 18, 30, 20);
  CBStopAtStart = MakeCheckBox(SlideShowTab, "Stop Slide Show where it Starts", 56);
  CBPlayInReverse = MakeCheckBox(SlideShowTab, "Play Slide Show in Reverse Order", 82);
  CBStartFromBeg = MakeCheckBox(SlideShowTab, "Always Start Slide Show At First Image", 108);
  for (QCheckBox* box : {CBStopAtStart, CBPlayInReverse, CBStartFromBeg})
    connect(box, &QCheckBox::toggled, this, [this] { EnableApply(); });
  // The interval is a preference too: a change of it can be applied at once.
  for (QComboBox* box : {CmbMinutes, CmbSeconds})
    connect(box, &QComboBox::currentTextChanged, this, [this] { EnableApply(); });
}

void TOptionsForm::BuildPromptsTab() {
  PromptsTab = new QWidget;
  OptionsPageControl->addTab(PromptsTab, QStringLiteral("Prompts"));
  QCheckBox** boxes[] = {&CBAutoFit, &CBCloseFolder, &CBFullScreen, &CBSlideShowExit};
  int top = 16;
  for (std::size_t i = 0; i < std::size(PromptBoxes); ++i) {
    QCheckBox* box = MakeCheckBox(PromptsTab, PromptBoxes[i].Caption, top);
    box->setToolTip(QString::fromUtf8(PromptBoxes[i].Hint));
    box->installEventFilter(this);
    connect(box, &QCheckBox::toggled, this, [this] { EnableApply(); });
    *boxes[i] = box;
    top += 26;
  }
  LblPromptHint = new QLabel(PromptsTab);
  LblPromptHint->setWordWrap(true);
  LblPromptHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  LblPromptHint->setGeometry(16, top + 12, PageWidth - 40, 60);
}

void TOptionsForm::BuildMagnifyTab() {
  MagnifyToolTab = new QWidget;
  OptionsPageControl->addTab(MagnifyToolTab, QStringLiteral("Magnify Tool"));
  platform::TBitmap glyph;
  MakeDialogGlyph(dgSliderButton, glyph);
  const char* captions[] = {"Width:", "Height:"};
  wn::TQoSliderEdit** edits[] = {&EdtMagnifyWidth, &EdtMagnifyHeight};
  for (int i = 0; i < 2; ++i) {
    auto* caption = new QLabel(QString::fromUtf8(captions[i]), MagnifyToolTab);
    caption->setGeometry(16, 18 + 30 * i, 100, 20);
    auto* edit = new wn::TQoSliderEdit(MagnifyToolTab);
    edit->SetPopupMax(100);
    edit->SetPopupStep(1);
    edit->Validate = true;
    edit->SetButtonGlyph(&glyph);
    edit->setGeometry(120, 16 + 30 * i, 57, 21);
    edit->OnChange = [this](QObject*) { MagnifyChanged(); };
    *edits[i] = edit;
  }
  auto* factor = new QLabel(QStringLiteral("Magnification:"), MagnifyToolTab);
  factor->setGeometry(16, 78, 100, 20);
  UDMagnifyFactor = new QSpinBox(MagnifyToolTab);
  UDMagnifyFactor->setRange(1, MaxMagnifyFactor);
  UDMagnifyFactor->setGeometry(120, 76, 57, 22);
  EditMagnifyFactor = UDMagnifyFactor->findChild<QLineEdit*>();
  connect(EditMagnifyFactor, &QLineEdit::textChanged, this, [this] { MagnifyChanged(); });
  CBShowMagnifyFrame = MakeCheckBox(MagnifyToolTab, "Show Frame around Magnify Tool", 112);
  CBShowMagnifyOptions = MakeCheckBox(MagnifyToolTab, "Show this window when enabling Magnify Tool", 138);
  for (QCheckBox* box : {CBShowMagnifyFrame, CBShowMagnifyOptions})
    connect(box, &QCheckBox::toggled, this, [this] { EnableApply(); });
}

void TOptionsForm::BuildFileTypesTab() {
  FileTypesTab = new QWidget;
  OptionsPageControl->addTab(FileTypesTab, QStringLiteral("File Types"));
  CBLFileTypes = new QListWidget(FileTypesTab);
  CBLFileTypes->setGeometry(8, 8, PageWidth - 22, ClientHeight - 56 - 46);
  for (const char* ext : ImageFileExtensions) {
    auto* item = new QListWidgetItem(QStringLiteral("(%1) %2").arg(QString::fromUtf8(ext),
                                                                    QString::fromStdString(GetImageTypeDescription(ext))),
                                     CBLFileTypes);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  connect(CBLFileTypes, &QListWidget::itemChanged, this, [this] { EnableApply(); });
}

void TOptionsForm::EnableApply() { SBtnApply->setEnabled(true); }

void TOptionsForm::ShowError(const QString& Text) {
  MessageDlg(windowTitle(), Text, QMessageBox::Critical, QMessageBox::Ok);
}

void TOptionsForm::MagnifyChanged() {
  const auto differs = [](const wn::TQoSliderEdit* edit, int present) {
    try {
      return edit->GetIntegerValue() != present;
    } catch (const std::exception&) {
      return true;
    }
  };
  if (differs(EdtMagnifyWidth, FShown.MagnifyViewWidth) || differs(EdtMagnifyHeight, FShown.MagnifyViewHeight) ||
      EditMagnifyFactor->text() != QString::number(FShown.MagnifyViewLevel))
    EnableApply();
}

void TOptionsForm::ClearRecentFolders() {
  if (!RecentFolders) return;
  for (int i = RecentFolders->GetItemsCount() - 1; i >= 0; --i) RecentFolders->DeleteItem(i);
  if (OnRecentFoldersChanged) OnRecentFoldersChanged();
}

int TOptionsForm::ShowModal(QWidget* Page) {
  if (Page) OptionsPageControl->setCurrentWidget(Page);
  return RunModal(*this, ModalAnswer);
}

void TOptionsForm::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TOptionsForm::FormShow() {
  FShown = OnGetPreferences ? OnGetPreferences() : TMainSettings();
  const int interval = FShown.SlideShowInterval;
  CmbMinutes->setCurrentText(QString::number(interval / 60000));
  CmbSeconds->setCurrentText(QString::number(interval % 60000 / 1000));
  CBStopAtStart->setChecked(FShown.StopAtStart);
  CBPlayInReverse->setChecked(FShown.PlayInReverse);
  CBStartFromBeg->setChecked(FShown.StartAtBeginning);
  CBGifAnimation->setChecked(FShown.AnimateGif);
  CBAutoSave->setChecked(FShown.AutoSaveImages);
  CBTransparency->setChecked(FShown.AlphaChannel);
  CBHideFolderTab->setChecked(FShown.HideFolderTab);
  QCheckBox* prompts[] = {CBAutoFit, CBCloseFolder, CBFullScreen, CBSlideShowExit};
  for (std::size_t i = 0; i < std::size(PromptBoxes); ++i) prompts[i]->setChecked(ReadPromptFlag(PromptBoxes[i].Setting));

  SEMRUSize->SetIntegerValue(RecentFolders ? RecentFolders->MaxItems() : FShown.FileMruMaxItems);

  const QSize client = PictureViewClientSize ? PictureViewClientSize() : QSize();
  // A view under two pixels still gives the edits a range they can hold.
  FMaxMagnifyWidth = std::max(1, client.width() / 2);
  FMaxMagnifyHeight = std::max(1, client.height() / 2);
  EdtMagnifyWidth->SetIntegerValue(FShown.MagnifyViewWidth);
  EdtMagnifyHeight->SetIntegerValue(FShown.MagnifyViewHeight);
  EdtMagnifyWidth->SetPopupMax(FMaxMagnifyWidth);
  EdtMagnifyHeight->SetPopupMax(FMaxMagnifyHeight);
  CBShowMagnifyFrame->setChecked(FShown.MagnifyViewFrame);
  CBShowMagnifyOptions->setChecked(FShown.MagnifyShowOptions);
  UDMagnifyFactor->setValue(FShown.MagnifyViewLevel);

  for (std::size_t i = 0; i < ImageFileExtensions.size(); ++i) {
    FDefaultHandler[i] = IsDefaultHandler(ImageFileExtensions[i]);
    CBLFileTypes->item(static_cast<int>(i))->setCheckState(FDefaultHandler[i] ? Qt::Checked : Qt::Unchecked);
  }
  SBtnApply->setEnabled(false);
}

bool TOptionsForm::Apply() {
  try {
    const auto magnify = [](const wn::TQoSliderEdit* edit, int largest, const char* name) {
      int value = -1;
      try {
        value = edit->GetIntegerValue();
      } catch (const std::exception&) {
        value = -1;
      }
      if (value < 0 || value > largest)
        throw std::runtime_error(std::string("Magnify Tool ") + name + " must be between 0 and " +
                                 std::to_string(largest));
      return value;
    };
    const int width = magnify(EdtMagnifyWidth, FMaxMagnifyWidth, "Width");
    const int height = magnify(EdtMagnifyHeight, FMaxMagnifyHeight, "Height");

    const int capacity = SEMRUSize->GetIntegerValue();
    if (RecentFolders) {
      if (capacity < RecentFolders->MaxItems()) {
        // The list keeps its newest entries first: the oldest go.
        for (int count = RecentFolders->GetItemsCount(); count > capacity; --count)
          RecentFolders->DeleteItem(count - 1);
        if (OnRecentFoldersChanged) OnRecentFoldersChanged();
      }
      RecentFolders->SetMaxItems(static_cast<wn::TMRUCount>(capacity));
    }

    for (std::size_t i = 0; i < ImageFileExtensions.size(); ++i) {
      QListWidgetItem* item = CBLFileTypes->item(static_cast<int>(i));
      const bool checked = item->checkState() == Qt::Checked;
      if (checked == FDefaultHandler[i]) continue;
      const char* ext = ImageFileExtensions[i];
      if (!checked) {
        ClearDefaultHandler(ext);
        FDefaultHandler[i] = false;
      } else if (SetAsDefaultHandler(ext)) {
        FDefaultHandler[i] = true;
      } else {
        if (HelpDlg) {
          HelpDlg->ShowDefaultHandlerFailed(QString::fromUtf8(ext));
          HelpDlg->ShowModal();
        }
        item->setCheckState(Qt::Unchecked);
      }
    }

    const int interval = ComboNumber(CmbMinutes) * 60000 + ComboNumber(CmbSeconds) * 1000;
    if (interval == 0) {
      ShowError(QStringLiteral("Slide Show Interval Must be Greater than 0"));
      return false;
    }

    TMainSettings applied = OnGetPreferences ? OnGetPreferences() : FShown;
    applied.SlideShowInterval = interval;
    applied.StopAtStart = CBStopAtStart->isChecked();
    applied.PlayInReverse = CBPlayInReverse->isChecked();
    applied.StartAtBeginning = CBStartFromBeg->isChecked();
    applied.AnimateGif = CBGifAnimation->isChecked();
    applied.AutoSaveImages = CBAutoSave->isChecked();
    applied.AlphaChannel = CBTransparency->isChecked();
    applied.HideFolderTab = CBHideFolderTab->isChecked();
    const QCheckBox* prompts[] = {CBAutoFit, CBCloseFolder, CBFullScreen, CBSlideShowExit};
    for (std::size_t i = 0; i < std::size(PromptBoxes); ++i)
      WriteSetting(PromptBoxes[i].Setting, BooleanToText(prompts[i]->isChecked()));
    applied.MagnifyViewWidth = width;
    applied.MagnifyViewHeight = height;
    applied.MagnifyViewFrame = CBShowMagnifyFrame->isChecked();
    applied.MagnifyViewLevel = UDMagnifyFactor->value();
    applied.MagnifyShowOptions = CBShowMagnifyOptions->isChecked();
    applied.FileMruMaxItems = capacity;
    FShown = applied;
    if (OnApplyPreferences) OnApplyPreferences(applied);
  } catch (const std::exception& error) {
    ShowError(QString::fromUtf8(error.what()));
    return false;
  }
  return true;
}

void TOptionsForm::done(int result) {
  // An OK that cannot be applied keeps the dialog open.
  if (result == 1 && !Apply()) return;
  QDialog::done(result);
}

void TOptionsForm::reject() { done(2); }

void TOptionsForm::keyPressEvent(QKeyEvent* event) {
  if (!DialogKey(*this, event->key())) QDialog::keyPressEvent(event);
}

bool TOptionsForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && dynamic_cast<kel::TKelShapeButton*>(watched) != nullptr &&
      DialogKey(*this, static_cast<QKeyEvent*>(event)->key()))
    return true;
  if (auto* box = qobject_cast<QCheckBox*>(watched)) {
    if (event->type() == QEvent::FocusIn) LblPromptHint->setText(box->toolTip());
    else if (event->type() == QEvent::FocusOut) LblPromptHint->clear();
  }
  return QDialog::eventFilter(watched, event);
}

} // namespace app

#include "app/helpdlg.h"
#include "app/modalrun.h"

#include "controls/kel/kelshapebutton.h"
#include "platform/application.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace app {

THelpDlg* HelpDlg = nullptr;

void ApplyFormButtonValues(kel::TKelShapeButton& button) {
  button.SetAllowTransparency(true);
  button.SetAllowMouseOver(true);
  button.Colors().SetMouseOver(platform::clGray);
  button.Shape().SetShape(kel::stRoundRect);
  button.Shape().Bevel().SetStyle(kel::sbOffset);
  button.Shape().Bevel().SetWidth(1);
  button.Shape().Bevel().SetColor(1, platform::clSilver);
  button.Shape().SetBrushColor(platform::clBtnFace);
  button.Shape().Shadow().SetDepth(3);
  button.SetTransparent(true);
}
std::function<void(THelpDlg&)> THelpDlg::ModalAnswer;

namespace {

constexpr int ClientWidth = 434;
constexpr int ButtonWidth = 100;
constexpr int ButtonHeight = 25;
constexpr int MemoHeight = 96;

const QString OverwriteCaption =
    QStringLiteral("Overwrite current image file with modified image before continuing?");
const QString OverwriteText = QStringLiteral(
    "The current image has been modified. Do you want to overwrite the current image file with "
    "these changes before continuing?");

QLabel* MakeIcon(QWidget* parent, QStyle::StandardPixmap kind) {
  auto* icon = new QLabel(parent);
  icon->setGeometry(20, 20, 32, 32);
  icon->setPixmap(parent->style()->standardIcon(kind).pixmap(32, 32));
  icon->hide();
  return icon;
}

} // namespace

THelpDlg::THelpDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Helpful Hint"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  Bevel1 = new QFrame(this);
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(8, 8, ClientWidth - 16, 56);

  ImgInfo = MakeIcon(this, QStyle::SP_MessageBoxInformation);
  ImgAlert = MakeIcon(this, QStyle::SP_MessageBoxWarning);
  ImgQuestion = MakeIcon(this, QStyle::SP_MessageBoxQuestion);
  ImgError = MakeIcon(this, QStyle::SP_MessageBoxCritical);

  LblHelpText = new QLabel(this);
  LblHelpText->setWordWrap(true);
  LblHelpText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont larger = LblHelpText->font();
  larger.setPointSize(10);
  LblHelpText->setFont(larger);
  LblHelpText->setGeometry(64, 16, 338, 32);

  MmoHelpDetail = new QPlainTextEdit(this);
  MmoHelpDetail->setReadOnly(true);
  MmoHelpDetail->setGeometry(64, 64, 338, MemoHeight);
  MmoHelpDetail->installEventFilter(this);

  SbtnOkay = new kel::TKelShapeButton(this);
  SBtnCancel = new kel::TKelShapeButton(this);
  SbtnOptional = new kel::TKelShapeButton(this);
  SbtnOkay->SetCaption("OK");
  SBtnCancel->SetCaption("Cancel");
  SbtnOptional->SetCaption("Abort");
  int answer = 1;
  for (kel::TKelShapeButton* button : {SbtnOkay, SBtnCancel, SbtnOptional}) {
    ApplyFormButtonValues(*button);
    button->resize(ButtonWidth, ButtonHeight);
    // Enter and Escape are the dialog's own, whichever control has the focus.
    button->installEventFilter(this);
    button->OnClick = [this, answer](kel::TKelBaseGraphicButton*) { done(answer); };
    ++answer;
  }
  SBtnCancel->hide();
  SbtnOptional->hide();
  SetIconKind(0);
  resize(ClientWidth, 120);

  if (HelpDlg == nullptr) HelpDlg = this;
  else if (FStandbyMaking) return; // the shared dialog's stand-in handles no exceptions of its own
  if (auto* application = dynamic_cast<platform::TApplication*>(QCoreApplication::instance())) {
    FPreviousHandler = application->OnException;
    application->OnException = [this](std::exception_ptr error) { ApplicationEvents1Exception(error); };
    FHandlerInstalled = true;
  }
}

THelpDlg::~THelpDlg() {
  if (FHandlerInstalled) {
    if (auto* application = dynamic_cast<platform::TApplication*>(QCoreApplication::instance()))
      application->OnException = FPreviousHandler;
  }
  if (HelpDlg == this) HelpDlg = nullptr;
}

void THelpDlg::SetIconKind(int kind) {
  FIconKind = kind;
  ImgInfo->setVisible(kind == 0);
  ImgAlert->setVisible(kind == 1);
  ImgQuestion->setVisible(kind == 2);
  ImgError->setVisible(kind == 3);
}

void THelpDlg::SetDetailLines(const QStringList& lines) {
  FDetailLines = lines;
  MmoHelpDetail->setPlainText(lines.join(QLatin1Char('\n')));
}

void THelpDlg::SetHelpText(const QString& text, const QString& hint) {
  LblHelpText->setText(text);
  LblHelpText->setToolTip(hint);
}

void THelpDlg::SetDetailText(const QString& text) { SetDetailLines({text}); }

int THelpDlg::ShowModal() {
  if (HelpDlg != this) return RunModal(*this, ModalAnswer);
  // A message raised while this one waits for its answer (a timer, a
  // hand-off, an exception) gets a dialog of its own: preparing it here would
  // change the question the user is answering, and the second modal loop on
  // one dialog would answer at once.
  if (!FStandby) {
    FStandbyMaking = true;
    FStandby = std::make_unique<THelpDlg>(parentWidget());
    FStandbyMaking = false;
  }
  HelpDlg = FStandby.get();
  const int answer = RunModal(*this, ModalAnswer);
  if (HelpDlg == FStandby.get()) HelpDlg = this;
  return answer;
}

int THelpDlg::ShowMessage(const QString& caption, const QString& text, const QString& detail) {
  setWindowTitle(caption);
  if (!text.isEmpty()) {
    SetHelpText(text);
    SetDetailText(detail);
  } else {
    SetHelpText(detail);
    SetDetailLines({});
  }
  SetIconKind(3);
  return ShowModal();
}

void THelpDlg::PrepareOverwrite(const QStringList& firstLines) {
  setWindowTitle(OverwriteCaption);
  SetHelpText(OverwriteText);
  SetDetailLines(firstLines + QStringList{QString(),
                                          QStringLiteral("Selecting \"Yes\" will cause the current file to be overwritten."),
                                          QStringLiteral("Selecting \"No\" will allow you to choose a new file name.")});
  SbtnOkay->SetCaption("Yes");
  SBtnCancel->SetCaption("No");
  SbtnOptional->SetCaption("Discard Changes");
  SBtnCancel->show();
  SbtnOptional->show();
  SetIconKind(2);
  FAsksAboutEdit = true;
}

void THelpDlg::PromptOverwriteResized() {
  PrepareOverwrite({QStringLiteral("Whenever an image is resized or modified and then saved, its quality can diminish."),
                    QStringLiteral("We recommend saving a modified image to a new file name so that the original "
                                   "file can be reused without loss of quality.")});
}

void THelpDlg::PromptOverwriteRotated() {
  PrepareOverwrite({QStringLiteral("Rotating or flipping an image of this small size can compromise its quality."),
                    QStringLiteral("We recommend saving a rotated or flipped image of this size to a new file name "
                                   "so that the original file can be reused without loss of quality.")});
}

void THelpDlg::PromptSaveNewImage() {
  setWindowTitle(QStringLiteral("Save new image before continuing?"));
  SetHelpText(QStringLiteral(
      "The current image has not yet been saved. Would you like to save this image before continuing?"));
  SetDetailLines({});
  SbtnOkay->SetCaption("Yes");
  SBtnCancel->SetCaption("No");
  SBtnCancel->show();
  SetIconKind(2);
  FAsksAboutEdit = true;
}

void THelpDlg::PromptFileChanged(const QString& name) {
  setWindowTitle(QStringLiteral("File changed by another program"));
  SetHelpText(QLatin1Char('"') + name +
              QStringLiteral("\" was changed by another program since it was opened. Overwrite it with the "
                             "modified image?"));
  SetDetailLines({});
  SbtnOkay->SetCaption("Overwrite");
  SBtnCancel->SetCaption("Save As");
  SbtnOptional->SetCaption("Discard Changes");
  SBtnCancel->show();
  SbtnOptional->show();
  SetIconKind(2);
  // Enter writes over nobody's file: the other program's may be the only
  // copy of what it holds.
  FEnterAnswer = 2;
  FAsksAboutEdit = true;
}

void THelpDlg::PromptSaveLoses(const QString& name, const QStringList& lost, bool copy) {
  setWindowTitle(QStringLiteral("Not everything can be saved"));
  SetHelpText(copy ? QLatin1Char('"') + name +
                         QStringLiteral("\" cannot hold all of the modified image. Saving it loses what is listed below.")
                   : QLatin1Char('"') + name +
                         QStringLiteral("\" holds more than the modified image can be saved with. Overwriting it loses "
                                        "what is listed below."));
  QStringList lines;
  for (const QString& line : lost) lines << QStringLiteral(" - ") + line;
  if (!copy)
    lines << QString() << QStringLiteral("Selecting \"Save As\" will allow you to choose a new file name and keep the "
                                         "file as it is.");
  SetDetailLines(lines);
  SbtnOkay->SetCaption(copy ? "Save" : "Overwrite");
  SBtnCancel->SetCaption(copy ? "Cancel" : "Save As");
  SBtnCancel->show();
  if (!copy) {
    SbtnOptional->SetCaption("Discard Changes");
    SbtnOptional->show();
  }
  SetIconKind(2);
  // Enter loses nothing: the file stays as it is.
  FEnterAnswer = 2;
  FAsksAboutEdit = true;
}

void THelpDlg::ShowUnsupportedFormat(const QString& file) {
  setWindowTitle(QStringLiteral("Unsupported File Format"));
  SetHelpText(file + QStringLiteral(" is not in a supported image format."));
  SetDetailLines({QStringLiteral("The following image formats are supported:"),
                  QStringLiteral(" - JPEG (.jpeg, .jpg)"), QStringLiteral(" - Bitmap (.bmp)"),
                  QStringLiteral(" - Icon (.ico) (Read-only)"), QStringLiteral(" - PNG (.png)"),
                  QStringLiteral(" - Windows Metafile (.wmf)"), QStringLiteral(" - Enhanced Metafile (.emf)"),
                  QStringLiteral(" - GIF (.gif)")});
  SbtnOkay->SetCaption("OK");
  SetIconKind(1);
}

void THelpDlg::ShowDefaultHandlerFailed(const QString& type) {
  setWindowTitle(QStringLiteral("Unable to Set as Default Handler"));
  SetHelpText(QStringLiteral("Pictrova could not be set as the default handler for ") + type +
              QStringLiteral(" images."));
  SetDetailLines({QStringLiteral("Pictrova may not have been installed properly, or you may not have the access "
                                 "permissions required to perform this operation.")});
  SbtnOkay->SetCaption("OK");
  SetIconKind(1);
}

void THelpDlg::ShowSettingsNotRead(const QStringList& keptFiles) {
  setWindowTitle(QStringLiteral("Settings Not Read"));
  SetHelpText(QStringLiteral("Pictrova could not read its settings and uses its default settings."));
  QStringList lines{QStringLiteral("The file that could not be read was kept as:")};
  for (const QString& file : keptFiles) lines << QStringLiteral(" - ") + file;
  SetDetailLines(lines);
  SbtnOkay->SetCaption("OK");
  SetIconKind(1);
}

void THelpDlg::ShowSettingsNotReadAgain(const QStringList& failedFiles) {
  setWindowTitle(QStringLiteral("Settings Not Read"));
  SetHelpText(QStringLiteral("Pictrova could not read its settings again and goes on with the settings it read "
                             "before."));
  QStringList lines{QStringLiteral("The file that could not be read:")};
  for (const QString& file : failedFiles) lines << QStringLiteral(" - ") + file;
  lines << QStringLiteral("Changes to the settings are saved once the file can be read again.");
  SetDetailLines(lines);
  SbtnOkay->SetCaption("OK");
  SetIconKind(1);
}

void THelpDlg::ShowEmailOptimizationResults(const QStringList& lines, bool error) {
  setWindowTitle(QStringLiteral("Results of Email Optimization"));
  SetHelpText(QStringLiteral("Results of Email Optimization:"));
  SetDetailLines(lines);
  SbtnOkay->SetCaption("Continue");
  SetIconKind(error ? 3 : 0);
}

void THelpDlg::PrepareLoadError(const QString& name, const QString& message, bool offerDelete) {
  setWindowTitle(QStringLiteral("File Error"));
  // A long name is cut in its middle to fit the label, where it would run
  // out of sight: its start and its type stay, the whole name is the hint.
  const QString before = QStringLiteral("The following error occured while attempting to open \"");
  const QString after = QStringLiteral("\":");
  const QFontMetrics metrics(LblHelpText->font());
  const int width = LblHelpText->width();
  const auto bounds = [&](const QString& shown) {
    return metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, before + shown + after);
  };
  // As many lines as the text takes with a short name, at least the label's.
  const int height = std::max(LblHelpText->height(), bounds(QStringLiteral("a")).height());
  QString shown = name;
  for (int room = width; room > 0; room -= metrics.averageCharWidth()) {
    const QRect need = bounds(shown);
    if (need.width() <= width && need.height() <= height) break;
    shown = metrics.elidedText(name, Qt::ElideMiddle, room);
  }
  SetHelpText(before + shown + after, shown == name ? QString() : name);
  SetDetailText(message);
  if (offerDelete) {
    SbtnOkay->SetCaption("Delete");
    SBtnCancel->SetCaption("Skip");
    SBtnCancel->show();
  } else {
    SbtnOkay->SetCaption("OK");
  }
  SetIconKind(3);
}

void THelpDlg::PrepareChoice(const QString& caption, const QString& text, const QString& okay,
                             const QString& cancel) {
  setWindowTitle(caption);
  SetHelpText(text);
  SetDetailLines({});
  SbtnOkay->SetCaption(okay.toStdString());
  if (!cancel.isEmpty()) {
    SBtnCancel->SetCaption(cancel.toStdString());
    SBtnCancel->show();
  }
  SetIconKind(3);
}

void THelpDlg::ApplicationEvents1Exception(std::exception_ptr error) {
  // Through the dialog free to ask: this one may be up already.
  THelpDlg* dialog = HelpDlg && HelpDlg != this && HelpDlg == FStandby.get() ? HelpDlg : this;
  dialog->ShowMessage(QStringLiteral("Error"), QString(), platform::TApplication::ExceptionMessage(error));
}

void THelpDlg::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void THelpDlg::FormShow() {
  const int labelHeight = std::max(32, LblHelpText->heightForWidth(338));
  LblHelpText->resize(338, labelHeight);
  const bool hasDetail = !MmoHelpDetail->toPlainText().isEmpty();
  int bevelHeight;
  if (hasDetail) {
    MmoHelpDetail->move(LblHelpText->x(), LblHelpText->y() + labelHeight + 16);
    MmoHelpDetail->show();
    bevelHeight = labelHeight + MmoHelpDetail->height() + 40;
  } else {
    MmoHelpDetail->hide();
    bevelHeight = labelHeight + 24;
  }
  Bevel1->resize(Bevel1->width(), bevelHeight);

  const int buttonTop = Bevel1->y() + bevelHeight + 8;
  const int width = ClientWidth;
  const int middle = width / 2;
  if (!SbtnOptional->isHidden()) {
    const int left = static_cast<int>(std::nearbyint((width - 3 * ButtonWidth) / 2.0)) - 10;
    SbtnOkay->move(left, buttonTop);
    SBtnCancel->move(SbtnOkay->x() + ButtonWidth + 5, buttonTop);
    SbtnOptional->move(SBtnCancel->x() + ButtonWidth + 5, buttonTop);
  } else if (!SBtnCancel->isHidden()) {
    SbtnOkay->move(middle - 5 - ButtonWidth, buttonTop);
    SBtnCancel->move(middle + 5, buttonTop);
  } else {
    SbtnOkay->move((width - ButtonWidth) / 2, buttonTop);
  }
  setFixedSize(width, buttonTop + ButtonHeight + 8);

  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

bool THelpDlg::HandleKey(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    done(FEnterAnswer);
    return true;
  }
  if (key == Qt::Key_Escape) {
    // With the optional button the user has to choose one of the three.
    if (SbtnOptional->isHidden()) done(2);
    return true;
  }
  return false;
}

void THelpDlg::keyPressEvent(QKeyEvent* event) {
  if (!HandleKey(event->key())) QDialog::keyPressEvent(event);
}

bool THelpDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && HandleKey(static_cast<QKeyEvent*>(event)->key())) return true;
  return QDialog::eventFilter(watched, event);
}

void THelpDlg::reject() {
  if (SbtnOptional->isHidden()) done(2);
}

void THelpDlg::done(int result) {
  QDialog::done(result);
  FAsksAboutEdit = false;
  FEnterAnswer = 1;
  SBtnCancel->hide();
  SbtnOptional->hide();
  SbtnOkay->SetCaption("OK");
  SBtnCancel->SetCaption("Cancel");
  SbtnOptional->SetCaption("Abort");
}

int ShowHelpDlgMessage(const QString& caption, const QString& text, const QString& detail) {
  return HelpDlg != nullptr ? HelpDlg->ShowMessage(caption, text, detail) : 0;
}

int ShowErrorDialog(const QString& text) { return ShowHelpDlgMessage(QStringLiteral("Error"), QString(), text); }

} // namespace app

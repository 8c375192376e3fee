#include "app/notificationdlg.h"
#include "app/modalrun.h"

#include "app/helpdlg.h"
#include "app/settings.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/qrcheckbox/qrcheckbox.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

namespace app {

TNotificationDlg* NotificationDlg = nullptr;
std::function<void(TNotificationDlg&)> TNotificationDlg::ModalAnswer;

namespace {

constexpr int ClientWidth = 400;
constexpr int ButtonWidth = 100;
constexpr int ButtonHeight = 25;
constexpr int LabelWidth = ClientWidth - 32;

} // namespace

bool ReadPromptFlag(const std::string& name) {
  return ReadSettingBool(name, name != "ShowAutoFitPrompt");
}

TNotificationDlg::TNotificationDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  LblMain = new QLabel(this);
  LblMain->setWordWrap(true);
  QFont larger = LblMain->font();
  larger.setPointSize(10);
  LblMain->setFont(larger);
  LblMain->setGeometry(16, 16, LabelWidth, 20);

  LblDetail = new QLabel(this);
  LblDetail->setWordWrap(true);
  LblDetail->setGeometry(16, 52, LabelWidth, 20);

  CbDoNotPrompt = new wn::TQrCheckBox(this);
  CbDoNotPrompt->SetCaption(QStringLiteral("Do not prompt me again."));
  CbDoNotPrompt->SetTransparent(true);
  CbDoNotPrompt->setGeometry(16, 88, 200, 17);

  SBtnOkay = new kel::TKelShapeButton(this);
  SBtnCancel = new kel::TKelShapeButton(this);
  int answer = 1;
  for (kel::TKelShapeButton* button : {SBtnOkay, SBtnCancel}) {
    ApplyFormButtonValues(*button);
    button->resize(ButtonWidth, ButtonHeight);
    button->installEventFilter(this);
    button->OnClick = [this, answer](kel::TKelBaseGraphicButton*) { done(answer); };
    ++answer;
  }
  resize(ClientWidth, 160);
  if (NotificationDlg == nullptr) NotificationDlg = this;
}

TNotificationDlg::~TNotificationDlg() {
  if (NotificationDlg == this) NotificationDlg = nullptr;
}

int TNotificationDlg::Prompt(const QString& caption, const QString& main, const QString& detail,
                             const QString& okay, const QString& cancel, const char* setting) {
  setWindowTitle(caption);
  LblMain->setText(main);
  LblDetail->setText(detail);
  SBtnOkay->SetCaption(okay.toStdString());
  SBtnCancel->SetCaption(cancel.toStdString());
  FSettingName = setting;
  return ShowModal();
}

int TNotificationDlg::PromptDisableAutoFit() {
  return Prompt(QStringLiteral("Disable Auto-fit Mode?"),
                QStringLiteral("Would you like to disable \"Auto-fit\" mode?"),
                QStringLiteral("Zooming capabilities are disabled while \"Auto-fit\" mode is enabled."),
                QStringLiteral("Yes"), QStringLiteral("No"), "ShowAutoFitPrompt");
}

int TNotificationDlg::PromptCloseFolder() {
  return Prompt(QStringLiteral("Close Folder?"), QStringLiteral("Are you sure that you want to close this folder?"),
                QStringLiteral("If you would rather return this folder view to filmstrip mode, then click \"No\" and "
                               "then click \"File | Return to Filmstrip\"."),
                QStringLiteral("Yes"), QStringLiteral("No"), "ShowCloseFolderPrompt");
}

int TNotificationDlg::PromptFullScreen() {
  return Prompt(QStringLiteral("Enable Full-Screen Mode?"), QStringLiteral("You are enabling \"Full-Screen\" mode."),
                QStringLiteral("To exit from Full Screen mode, press \"Esc\" or \"F11\"."), QStringLiteral("OK"),
                QStringLiteral("Cancel"), "ShowFullScreenPrompt");
}

int TNotificationDlg::PromptSlideShow() {
  return Prompt(QStringLiteral("Begin Slide Show?"),
                QStringLiteral("You are starting a slide show, which is shown in \"Full-Screen\" mode."),
                QStringLiteral("To stop the Slide Show, press \"Esc\" or \"S\"."), QStringLiteral("OK"),
                QStringLiteral("Cancel"), "ShowSlideShowPrompt");
}

int TNotificationDlg::ShowModal() {
  return RunModal(*this, ModalAnswer);
}

void TNotificationDlg::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TNotificationDlg::FormShow() {
  CbDoNotPrompt->SetChecked(false);
  LblMain->resize(LabelWidth, LblMain->heightForWidth(LabelWidth));
  LblDetail->resize(LabelWidth, LblDetail->heightForWidth(LabelWidth));
  LblDetail->move(LblDetail->x(), LblMain->y() + LblMain->height() + 16);
  CbDoNotPrompt->move(CbDoNotPrompt->x(), LblDetail->y() + LblDetail->height() + 16);
  const int buttonTop = CbDoNotPrompt->y() + CbDoNotPrompt->height() + 16;
  SBtnOkay->move(ClientWidth / 2 - 5 - ButtonWidth, buttonTop);
  SBtnCancel->move(ClientWidth / 2 + 5, buttonTop);
  setFixedSize(ClientWidth, buttonTop + ButtonHeight + 8);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

bool TNotificationDlg::HandleKey(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    done(1);
    return true;
  }
  if (key == Qt::Key_Escape) {
    done(2);
    return true;
  }
  return false;
}

void TNotificationDlg::keyPressEvent(QKeyEvent* event) {
  if (!HandleKey(event->key())) QDialog::keyPressEvent(event);
}

bool TNotificationDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && HandleKey(static_cast<QKeyEvent*>(event)->key())) return true;
  return QDialog::eventFilter(watched, event);
}

void TNotificationDlg::reject() { done(2); }

void TNotificationDlg::done(int result) {
  QDialog::done(result);
  if (!FSettingName.empty()) WriteSetting(FSettingName, BooleanToText(!CbDoNotPrompt->Checked()));
  FSettingName.clear();
}

} // namespace app

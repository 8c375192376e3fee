#include "app/aboutdlg.h"
#include "app/helpdlg.h"
#include "controls/kel/kelshapebutton.h"
#include "platform/openurl.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMainWindow>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QUrl>

namespace app {

namespace {
constexpr int SplashWidth = 321;
constexpr int SplashHeight = 241;
} // namespace

TAboutDlg::TAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("AboutDlg"));
  setWindowTitle(QStringLiteral("About Pictrova 3"));

  FPanel = new QFrame(this);
  FPanel->setObjectName(QStringLiteral("Panel1"));
  FPanel->setFrameShape(QFrame::Panel);
  FPanel->setFrameShadow(QFrame::Raised);
  FPanel->setGeometry(0, 0, SplashWidth + 8, SplashHeight + 96);

  FImgSplash = new QLabel(FPanel);
  FImgSplash->setObjectName(QStringLiteral("ImgSplash"));
  FImgSplash->setGeometry(4, 4, SplashWidth, SplashHeight);
  FImgSplash->setScaledContents(true);
  FImgSplash->setPixmap(SplashPicture());

  FLblName = new QLabel(QStringLiteral("Pictrova 3"), FPanel);
  FLblName->setObjectName(QStringLiteral("LblName"));
  QFont nameFont = FLblName->font();
  nameFont.setBold(true);
  nameFont.setPointSize(nameFont.pointSize() + 2);
  FLblName->setFont(nameFont);
  FLblName->setGeometry(12, SplashHeight + 10, 200, 20);

  FLblBuild = new QLabel(QStringLiteral("Version 3.0.5"), FPanel);
  FLblBuild->setObjectName(QStringLiteral("LblBuild"));
  FLblBuild->setGeometry(12, SplashHeight + 32, 200, 16);

  const auto makeLink = [this](const char* name, const QString& url, const QString& text, int top) {
    auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text), FPanel);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    label->setCursor(Qt::PointingHandCursor);
    label->setGeometry(12, top, 220, 16);
    connect(label, &QLabel::linkActivated, this, [this](const QString& link) { OpenLink(link); });
    return label;
  };
  FLblWeb = makeLink("LblWeb", QString::fromLatin1(AboutWebPage), QStringLiteral("pictrova.halvenworth.example"),
                     SplashHeight + 52);
  FLblMail = makeLink("LblMail", QString::fromLatin1(AboutSupportMail), QStringLiteral("support@halvenworth.com"),
                      SplashHeight + 70);

  FSBtnClose = new kel::TKelShapeButton(FPanel);
  FSBtnClose->setObjectName(QStringLiteral("SBtnClose"));
  FSBtnClose->SetCaption("Close");
  ApplyFormButtonValues(*FSBtnClose);
  FSBtnClose->setGeometry(SplashWidth + 4 - 75, SplashHeight + 62, 75, 25);
  FSBtnClose->OnClick = [this](kel::TKelBaseGraphicButton*) { SBtnCloseClick(); };

  FAutoCloseTimer = new QTimer(this);
  FAutoCloseTimer->setObjectName(QStringLiteral("AutoCloseTimer"));
  FAutoCloseTimer->setInterval(AboutAutoCloseInterval);
  connect(FAutoCloseTimer, &QTimer::timeout, this, [this] { AutoCloseTimerTimer(); });

  setFixedSize(FPanel->size());
}

QPixmap TAboutDlg::SplashPicture() {
  QPixmap picture(SplashWidth, SplashHeight);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, SplashHeight);
  sky.setColorAt(0, QColor(32, 64, 128));
  sky.setColorAt(1, QColor(150, 190, 230));
  painter.fillRect(picture.rect(), sky);
  // A film strip across the lower part, the program's subject.
  const QRect strip(0, SplashHeight - 70, SplashWidth, 50);
  painter.fillRect(strip, QColor(24, 24, 24));
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(230, 230, 230));
  for (int x = 6; x < SplashWidth; x += 18) {
    painter.drawRect(x, strip.top() + 4, 8, 6);
    painter.drawRect(x, strip.bottom() - 9, 8, 6);
  }
  painter.setBrush(QColor(200, 160, 60));
  for (int x = 10; x + 60 < SplashWidth; x += 76) painter.drawRect(x, strip.top() + 14, 60, 22);
  painter.setPen(Qt::white);
  QFont font(QStringLiteral("Sans Serif"), 28, QFont::Bold);
  painter.setFont(font);
  painter.drawText(QRect(0, 30, SplashWidth, 80), Qt::AlignCenter, QStringLiteral("Pictrova 3"));
  return picture;
}

void TAboutDlg::ShowWithTimer() {
  // The modal loop restores the modality it found when it ends: the splash
  // must not inherit it.
  setModal(false);
  FAutoCloseTimer->start();
  FSBtnClose->hide();
  show();
}

void TAboutDlg::PrepareModal() {
  FAutoCloseTimer->stop();
  FSBtnClose->show();
  // A window that is up already cannot turn modal: take the splash down first.
  if (isVisible()) hide();
  setModal(true);
}

int TAboutDlg::ShowModal() {
  PrepareModal();
  return exec();
}

void TAboutDlg::AutoCloseTimerTimer() { done(QDialog::Rejected); }

void TAboutDlg::SBtnCloseClick() { done(QDialog::Rejected); }

void TAboutDlg::done(int result) {
  FSBtnClose->show();
  FAutoCloseTimer->stop();
  const QWidgetList windows = QApplication::topLevelWidgets();
  for (QWidget* window : windows)
    if (qobject_cast<QMainWindow*>(window)) window->setEnabled(true);
  QDialog::done(result);
}

void TAboutDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
  case Qt::Key_Return:
  case Qt::Key_Enter:
  case Qt::Key_Escape:
    done(QDialog::Rejected);
    return;
  default:
    QDialog::keyPressEvent(event);
  }
}

void TAboutDlg::showEvent(QShowEvent* event) {
  if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    QRect frame = geometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
}

void TAboutDlg::OpenLink(const QString& link) {
  // As the Help menu's pages: a link that nothing could open is told.
  platform::OpenUrlAsync(QUrl(link), this, [link](bool opened) {
    if (!opened) ShowErrorDialog(QStringLiteral("No program could open %1.").arg(link));
  });
}

void ShowStartupSplash(TAboutDlg& dialog, const std::vector<std::string>& arguments) {
  if (!arguments.empty() && arguments.front() == "/shell") return;
  dialog.ShowWithTimer();
}

void ShowAboutBox(TAboutDlg& dialog, bool slideShowRunning) {
  if (slideShowRunning) return;
  dialog.ShowModal();
}

} // namespace app

// The e-mail wizard on a real display, as the e-mail command shows it: made
// at start-up, then shown without being modal on a large picture. A
// screenshot must hold the dialog as it renders itself; "Send Email" must
// hand the reduced picture to a stand-in xdg-email.
// Usage: emailcheck <screenshot file>
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QMouseEvent>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <random>

#include "app/emailsizedlg.h"
#include "app/helpdlg.h"
#include "app/msgbox.h"
#include "controls/kel/kelshapebutton.h"
#include "support/fakemailprogram.h"
#include "support/tempkeystore.h"

namespace {

int Fail(const char* What) {
  std::fprintf(stderr, "EMAIL CHECK FAILED: %s\n", What);
  return 1;
}

int CheckScreenshot(app::TEmailSizeDlg& Dialog, const QImage& Screen) {
  const QImage own = Dialog.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QPoint origin = Dialog.mapToGlobal(QPoint(0, 0));
  long same = 0, total = 0;
  for (int y = 0; y < own.height(); ++y)
    for (int x = 0; x < own.width(); ++x) {
      ++total;
      if ((Screen.pixel(origin.x() + x, origin.y() + y) & 0xFFFFFF) == (own.pixel(x, y) & 0xFFFFFF)) ++same;
    }
  std::printf("dialog %dx%d at %d,%d: %.2f %% of its pixels on the screenshot\n", own.width(), own.height(),
              origin.x(), origin.y(), 100.0 * same / total);
  return total > 50000 && same >= total * 0.98 ? 0 : Fail("the dialog is not on the screenshot");
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: emailcheck <screenshot file>");
  QApplication application(argc, argv);
  // The dialog closes after the hand-off; the check goes on after it.
  application.setQuitOnLastWindowClosed(false);
  const QString shotFile = QString::fromLocal8Bit(argv[1]);
  testing_support::TTempKeyStore keys;
  testing_support::TTempFolder pictures, work;
  testing_support::TFakeMailProgram mailProgram;

  // A 1600 x 1200 photograph-like JPEG, far over the 64 KB of "Medium".
  QImage photo(1600, 1200, QImage::Format_RGB32);
  std::mt19937 rng(1);
  for (int y = 0; y < photo.height(); ++y)
    for (int x = 0; x < photo.width(); ++x)
      photo.setPixel(x, y, qRgb((x / 7 + static_cast<int>(rng() % 40)) & 255, (y / 5) & 255, (x + y) / 12 & 255));
  const QString picture = pictures.QPath() + "/holiday.jpg";
  if (!photo.save(picture, "JPG", 92)) return Fail("cannot write the picture");

  app::THelpDlg help; // the main window's message dialog
  app::TEmailSizeDlg dialog;
  dialog.WorkFolder = [&work] { return work.Path(); };
  app::MessageDlgAnswer = [](QMessageBox& box) { box.button(QMessageBox::No)->click(); };
  dialog.SetSpeedIndex(1);
  dialog.move(120, 90);
  dialog.ShowWithFiles({picture.toStdString()});

  int result = 2;
  QTimer::singleShot(500, &application, [&] {
    QProcess import;
    import.start("import", {"-window", "root", shotFile});
    if (!import.waitForFinished(20000) || import.exitCode() != 0) {
      result = Fail("import could not take the screenshot");
      application.quit();
      return;
    }
    result = CheckScreenshot(dialog, QImage(shotFile).convertToFormat(QImage::Format_RGB32));
    if (dialog.windowTitle() != "Email holiday.jpg") result = Fail("caption");
    if (result != 0) {
      application.quit();
      return;
    }
    const QPoint at = dialog.SBtnContinue->rect().center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, at, dialog.SBtnContinue->mapToGlobal(at), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(dialog.SBtnContinue, &event);
    }
  });
  QTimer poll;
  poll.setInterval(50);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (result != 0 || !mailProgram.Ran() || dialog.Sending()) return;
    poll.stop();
    const QStringList args = mailProgram.Arguments();
    const QString reduced = QString::fromStdString(work.File("holiday.jpg"));
    std::printf("xdg-email %s\n", args.join(' ').toLocal8Bit().constData());
    const QSize size = QImageReader(reduced).size();
    std::printf("attachment %dx%d, %lld bytes\n", size.width(), size.height(), QFile(reduced).size());
    if (args != QStringList{"--utf8", "--subject", "holiday.jpg", "--attach", reduced})
      result = Fail("the stand-in did not get the reduced attachment");
    else if (size.width() >= 1600 || size.width() * 3 != size.height() * 4)
      result = Fail("the attachment was not reduced");
    else if (dialog.isVisible())
      result = Fail("the dialog did not close");
    application.quit();
  });
  poll.start();
  QTimer::singleShot(60000, &application, [&] {
    result = Fail("no hand-off within 60 s");
    application.quit();
  });
  application.exec();
  app::MessageDlgAnswer = nullptr;
  return result;
}

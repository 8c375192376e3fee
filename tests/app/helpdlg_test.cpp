#include "app/helpdlg.h"

#include "platform/application.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include "controls/kel/kelshapebutton.h"
#include <gtest/gtest.h>
#include <stdexcept>

using namespace app;

namespace {

// What the user saw when the dialog came up.
struct TSeen {
  QString Caption;
  QString Text;
  QStringList Detail;
  bool MemoVisible = false;
  int Icon = -1;
  QStringList Buttons;
  int BevelHeight = 0;
  int LabelHeight = 0;
  int MemoHeight = 0;
  int Height = 0;
  QList<int> ButtonX;
  int ButtonTop = 0;
};

class HelpDialog : public ::testing::Test {
protected:
  void TearDown() override { THelpDlg::ModalAnswer = nullptr; }

  // Answers the next modal show with a key (or a button click).
  void Answer(std::function<void(THelpDlg&)> act) {
    THelpDlg::ModalAnswer = [this, act](THelpDlg& dlg) {
      FSeen.Caption = dlg.windowTitle();
      FSeen.Text = dlg.LblHelpText->text();
      FSeen.Detail = dlg.DetailLines();
      FSeen.MemoVisible = dlg.MmoHelpDetail->isVisible();
      FSeen.Icon = -1;
      const QLabel* icons[] = {dlg.ImgInfo, dlg.ImgAlert, dlg.ImgQuestion, dlg.ImgError};
      for (int i = 0; i < 4; ++i)
        if (icons[i]->isVisible()) {
          EXPECT_EQ(FSeen.Icon, -1) << "exactly one icon";
          FSeen.Icon = i;
        }
      FSeen.Buttons.clear();
      FSeen.ButtonX.clear();
      for (kel::TKelShapeButton* b : {dlg.SbtnOkay, dlg.SBtnCancel, dlg.SbtnOptional})
        if (b->isVisible()) {
          FSeen.Buttons << QString::fromStdString(b->Caption());
          FSeen.ButtonX << b->x();
          FSeen.ButtonTop = b->y();
        }
      FSeen.BevelHeight = dlg.Bevel1->height();
      FSeen.LabelHeight = dlg.LblHelpText->height();
      FSeen.MemoHeight = dlg.MmoHelpDetail->height();
      FSeen.Height = dlg.height();
      act(dlg);
    };
  }
  static void Key(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }

  THelpDlg FDlg;
  TSeen FSeen;
};

const QStringList SelectingLines = {QString(),
                                    "Selecting \"Yes\" will cause the current file to be overwritten.",
                                    "Selecting \"No\" will allow you to choose a new file name."};

} // namespace

TEST_F(HelpDialog, OneInstanceIsTheGlobalAndStartsPlain) {
  EXPECT_EQ(HelpDlg, &FDlg);
  EXPECT_EQ(FDlg.windowTitle(), "Helpful Hint");
  EXPECT_EQ(QString::fromStdString(FDlg.SbtnOkay->Caption()), "OK");
  EXPECT_EQ(QString::fromStdString(FDlg.SBtnCancel->Caption()), "Cancel");
  EXPECT_EQ(QString::fromStdString(FDlg.SbtnOptional->Caption()), "Abort");
  EXPECT_TRUE(FDlg.SBtnCancel->isHidden());
  EXPECT_TRUE(FDlg.SbtnOptional->isHidden());
}

TEST_F(HelpDialog, OverwriteResizedAnswersAndResets) {
  for (int answer = 1; answer <= 3; ++answer) {
    Answer([answer](THelpDlg& d) { (answer == 1 ? d.SbtnOkay : answer == 2 ? d.SBtnCancel : d.SbtnOptional)->Click(); });
    FDlg.PromptOverwriteResized();
    EXPECT_EQ(FDlg.ShowModal(), answer);
  }
  EXPECT_EQ(FSeen.Caption, "Overwrite current image file with modified image before continuing?");
  EXPECT_EQ(FSeen.Text, "The current image has been modified. Do you want to overwrite the current image file "
                        "with these changes before continuing?");
  EXPECT_EQ(FSeen.Detail,
            QStringList({"Whenever an image is resized or modified and then saved, its quality can diminish.",
                         "We recommend saving a modified image to a new file name so that the original file can be "
                         "reused without loss of quality."}) +
                SelectingLines);
  EXPECT_EQ(FSeen.Buttons, QStringList({"Yes", "No", "Discard Changes"}));
  EXPECT_EQ(FSeen.Icon, 2);
  // Three buttons of 100 in 434: Round(67) - 10, then 5 apart.
  EXPECT_EQ(FSeen.ButtonX, QList<int>({57, 162, 267}));

  // The next message has OK alone again.
  Answer([](THelpDlg& d) { d.SbtnOkay->Click(); });
  FDlg.ShowDefaultHandlerFailed("JPEG");
  EXPECT_EQ(FDlg.ShowModal(), 1);
  EXPECT_EQ(FSeen.Buttons, QStringList({"OK"}));
  EXPECT_EQ(FSeen.ButtonX, QList<int>({167}));
}

TEST_F(HelpDialog, EscapeDoesNothingWhileTheOptionalButtonShows) {
  Answer([](THelpDlg& d) {
    Key(&d, Qt::Key_Escape);
    Key(d.SbtnOkay, Qt::Key_Escape);
    d.reject();
    EXPECT_TRUE(d.isVisible());
    d.SbtnOptional->Click();
  });
  FDlg.PromptOverwriteRotated();
  EXPECT_EQ(FDlg.ShowModal(), 3);
  EXPECT_EQ(FSeen.Detail,
            QStringList({"Rotating or flipping an image of this small size can compromise its quality.",
                         "We recommend saving a rotated or flipped image of this size to a new file name so that "
                         "the original file can be reused without loss of quality."}) +
                SelectingLines);
  EXPECT_TRUE(FDlg.SbtnOptional->isHidden());
  EXPECT_EQ(QString::fromStdString(FDlg.SbtnOptional->Caption()), "Abort");
}

TEST_F(HelpDialog, EnterAndEscapeWithTwoButtons) {
  Answer([](THelpDlg& d) { Key(d.SBtnCancel, Qt::Key_Return); });
  FDlg.PromptSaveNewImage();
  EXPECT_EQ(FDlg.ShowModal(), 1) << "Enter is OK even with the focus elsewhere";
  EXPECT_EQ(FSeen.Caption, "Save new image before continuing?");
  EXPECT_EQ(FSeen.Text,
            "The current image has not yet been saved. Would you like to save this image before continuing?");
  EXPECT_TRUE(FSeen.Detail.isEmpty());
  EXPECT_FALSE(FSeen.MemoVisible);
  EXPECT_EQ(FSeen.Buttons, QStringList({"Yes", "No"}));
  EXPECT_EQ(FSeen.Icon, 2);
  // OK ends 5 left of the middle (217), Cancel starts 5 right of it.
  EXPECT_EQ(FSeen.ButtonX, QList<int>({112, 222}));
  // No memo: bevel = label + 24; buttons 8 below it; 8 below the buttons.
  EXPECT_EQ(FSeen.BevelHeight, FSeen.LabelHeight + 24);
  EXPECT_EQ(FSeen.ButtonTop, 8 + FSeen.BevelHeight + 8);
  EXPECT_EQ(FSeen.Height, FSeen.ButtonTop + 25 + 8);

  Answer([](THelpDlg& d) { Key(&d, Qt::Key_Escape); });
  FDlg.PromptSaveNewImage();
  EXPECT_EQ(FDlg.ShowModal(), 2);
}

TEST_F(HelpDialog, UnsupportedFormat) {
  Answer([](THelpDlg& d) { Key(&d, Qt::Key_Enter); });
  FDlg.ShowUnsupportedFormat("/tmp/notes.txt");
  EXPECT_EQ(FDlg.ShowModal(), 1);
  EXPECT_EQ(FSeen.Caption, "Unsupported File Format");
  EXPECT_EQ(FSeen.Text, "/tmp/notes.txt is not in a supported image format.");
  EXPECT_EQ(FSeen.Detail, QStringList({"The following image formats are supported:", " - JPEG (.jpeg, .jpg)",
                                       " - Bitmap (.bmp)", " - Icon (.ico) (Read-only)", " - PNG (.png)",
                                       " - Windows Metafile (.wmf)", " - Enhanced Metafile (.emf)", " - GIF (.gif)"}));
  EXPECT_EQ(FSeen.Buttons, QStringList({"OK"}));
  EXPECT_EQ(FSeen.Icon, 1);
  EXPECT_TRUE(FSeen.MemoVisible);
  EXPECT_GT(FSeen.LabelHeight, 31);
  EXPECT_EQ(FSeen.BevelHeight, FSeen.LabelHeight + FSeen.MemoHeight + 40);
}

TEST_F(HelpDialog, DefaultHandlerAndEmailResults) {
  Answer([](THelpDlg& d) { d.SbtnOkay->Click(); });
  FDlg.ShowDefaultHandlerFailed("GIF");
  FDlg.ShowModal();
  EXPECT_EQ(FSeen.Caption, "Unable to Set as Default Handler");
  EXPECT_EQ(FSeen.Text, "Pictrova could not be set as the default handler for GIF images.");
  EXPECT_EQ(FSeen.Detail, QStringList({"Pictrova may not have been installed properly, or you may not have the "
                                       "access permissions required to perform this operation."}));
  EXPECT_EQ(FSeen.Icon, 1);

  FDlg.ShowEmailOptimizationResults({"a.jpg: 12 KB", "b.png: 30 KB"}, false);
  FDlg.ShowModal();
  EXPECT_EQ(FSeen.Caption, "Results of Email Optimization");
  EXPECT_EQ(FSeen.Text, "Results of Email Optimization:");
  EXPECT_EQ(FSeen.Detail, QStringList({"a.jpg: 12 KB", "b.png: 30 KB"}));
  EXPECT_EQ(FSeen.Buttons, QStringList({"Continue"}));
  EXPECT_EQ(FSeen.Icon, 0);
  FDlg.ShowEmailOptimizationResults({"c.bmp: failed"}, true);
  FDlg.ShowModal();
  EXPECT_EQ(FSeen.Icon, 3);
}

TEST_F(HelpDialog, LoadErrorOffersDeleteOrSkip) {
  Answer([](THelpDlg& d) { d.SBtnCancel->Click(); });
  FDlg.PrepareLoadError("broken.jpg", "Not a JPEG file", true);
  EXPECT_EQ(FDlg.ShowModal(), 2);
  EXPECT_EQ(FSeen.Caption, "File Error");
  EXPECT_EQ(FSeen.Text, "The following error occured while attempting to open \"broken.jpg\":");
  EXPECT_EQ(FSeen.Detail, QStringList({"Not a JPEG file"}));
  EXPECT_EQ(FSeen.Buttons, QStringList({"Delete", "Skip"}));
  EXPECT_EQ(FSeen.Icon, 3);

  Answer([](THelpDlg& d) { d.SbtnOkay->Click(); });
  FDlg.PrepareLoadError("broken.jpg", "Not a JPEG file", false);
  EXPECT_EQ(FDlg.ShowModal(), 1);
  EXPECT_EQ(FSeen.Buttons, QStringList({"OK"}));

  // A name longer than the label keeps its start and its end in sight, cut
  // in the middle; the whole name is the hint. A name without spaces would
  // run past the label's edge, one with spaces below it.
  const QString Start = QStringLiteral("Holiday_on_the_coast_with_the_whole_family_");
  for (const QString& Middle : {QString(120, QLatin1Char('x')), QStringLiteral("and a day by the sea ").repeated(6)}) {
    const QString Name = Start + Middle + QStringLiteral("IMG_0042.jpg");
    FDlg.PrepareLoadError(Name, "Not a JPEG file", true);
    FDlg.ShowModal();
    const QString Shown = FSeen.Text;
    EXPECT_TRUE(Shown.startsWith(QStringLiteral("The following error occured while attempting to open \"Holiday_on")))
        << Shown.toStdString();
    EXPECT_TRUE(Shown.endsWith(QStringLiteral("IMG_0042.jpg\":"))) << Shown.toStdString();
    EXPECT_TRUE(Shown.contains(QChar(0x2026))) << Shown.toStdString();
    const QRect Label = FDlg.LblHelpText->rect();
    const QRect Need = FDlg.LblHelpText->fontMetrics().boundingRect(Label, Qt::TextWordWrap, Shown);
    EXPECT_LE(Need.width(), Label.width()) << Shown.toStdString();
    EXPECT_LE(Need.height(), std::max(Label.height(), 2 * FDlg.LblHelpText->fontMetrics().lineSpacing()));
    EXPECT_EQ(FDlg.LblHelpText->toolTip(), Name);
  }
  FDlg.PrepareLoadError("broken.jpg", "Not a JPEG file", true);
  EXPECT_TRUE(FDlg.LblHelpText->toolTip().isEmpty());
}

TEST_F(HelpDialog, MessagesWithAndWithoutText) {
  Answer([](THelpDlg& d) { d.SbtnOkay->Click(); });
  EXPECT_EQ(ShowHelpDlgMessage("Caption", "Main", "More"), 1);
  EXPECT_EQ(FSeen.Caption, "Caption");
  EXPECT_EQ(FSeen.Text, "Main");
  EXPECT_EQ(FSeen.Detail, QStringList({"More"}));
  EXPECT_EQ(FSeen.Icon, 3);

  EXPECT_EQ(ShowErrorDialog("Disk full"), 1);
  EXPECT_EQ(FSeen.Caption, "Error");
  EXPECT_EQ(FSeen.Text, "Disk full");
  EXPECT_TRUE(FSeen.Detail.isEmpty());
  EXPECT_FALSE(FSeen.MemoVisible);
}

TEST_F(HelpDialog, ExceptionsReachingTheEventLoop) {
  Answer([](THelpDlg& d) { d.SbtnOkay->Click(); });
  auto* application = dynamic_cast<platform::TApplication*>(QCoreApplication::instance());
  ASSERT_NE(application, nullptr);
  application->HandleException(std::make_exception_ptr(std::runtime_error("Out of paper")));
  EXPECT_EQ(FSeen.Caption, "Error");
  EXPECT_EQ(FSeen.Text, "Out of paper");
  EXPECT_FALSE(FSeen.MemoVisible);

  application->HandleException(std::make_exception_ptr(std::runtime_error("")));
  EXPECT_EQ(FSeen.Caption, "Error");
  EXPECT_EQ(FSeen.Text, "");
  EXPECT_FALSE(FSeen.MemoVisible) << "an empty message: empty label and no memo";
}

TEST_F(HelpDialog, ShapeButtonsAnswerTheMouseWithTheFormsLook) {
  FDlg.PromptSaveNewImage();
  QImage seen;
  Answer([&seen](THelpDlg& d) {
    seen = d.SBtnCancel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPointF at(30, 10);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent e(type, at, d.SBtnCancel->mapToGlobal(at), Qt::LeftButton,
                    type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(d.SBtnCancel, &e);
    }
  });
  EXPECT_EQ(FDlg.ShowModal(), 2);
  EXPECT_EQ(seen.pixel(4, 10), qRgb(212, 208, 200));                  // face
  EXPECT_EQ(seen.pixel(seen.width() - 2, 12), qRgb(128, 128, 128));  // shadow strip
  EXPECT_EQ(seen.pixel(seen.width() - 4, 12), qRgb(192, 192, 192));  // dark bevel
}

TEST(HelpDialogLifetime, HandlerIsRestoredWhenTheDialogGoes) {
  auto* application = dynamic_cast<platform::TApplication*>(QCoreApplication::instance());
  ASSERT_NE(application, nullptr);
  bool previous = false;
  application->OnException = [&previous](std::exception_ptr) { previous = true; };
  {
    THelpDlg dlg;
    THelpDlg::ModalAnswer = [](THelpDlg& d) { d.SbtnOkay->Click(); };
    application->HandleException(std::make_exception_ptr(std::runtime_error("x")));
    THelpDlg::ModalAnswer = nullptr;
    EXPECT_FALSE(previous);
  }
  EXPECT_EQ(HelpDlg, nullptr);
  application->HandleException(std::make_exception_ptr(std::runtime_error("x")));
  EXPECT_TRUE(previous);
  application->OnException = nullptr;
}

// A message raised while the shared dialog waits for its answer (a timer, an
// exception) is asked in a dialog of its own: the first question keeps its
// text and its answer.
TEST(HelpDialogLifetime, MessageWhileUpIsAskedApart) {
  THelpDlg dlg;
  ASSERT_EQ(HelpDlg, &dlg);
  QString nestedText, firstTextAfter;
  int nestedAnswer = -1;
  THelpDlg::ModalAnswer = [&](THelpDlg& d) {
    if (&d != &dlg) {
      nestedText = d.LblHelpText->text();
      d.SBtnCancel->Click();
      return;
    }
    ASSERT_NE(HelpDlg, &dlg);
    HelpDlg->PrepareLoadError(QStringLiteral("b.jpg"), QStringLiteral("gone"), true);
    nestedAnswer = HelpDlg->ShowModal();
    firstTextAfter = d.LblHelpText->text();
    d.SbtnOkay->Click();
  };
  dlg.PrepareLoadError(QStringLiteral("a.jpg"), QStringLiteral("damaged"), true);
  const QString firstText = dlg.LblHelpText->text();
  EXPECT_EQ(dlg.ShowModal(), 1);
  THelpDlg::ModalAnswer = nullptr;
  EXPECT_EQ(nestedAnswer, 2);
  EXPECT_TRUE(nestedText.contains("b.jpg"));
  EXPECT_EQ(firstTextAfter, firstText);
  EXPECT_EQ(HelpDlg, &dlg);
}

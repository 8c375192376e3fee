// The print windows driven by synthetic input; their previews are read back
// as pixels.
#include "image/views/rvprnforms.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPrinter>
#include <QPushButton>
#include <QToolButton>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "image/model/rvwords.h"
#include "support/filesizelimit.h"
#include "support/tempfolder.h"
#include "viewtest_support.h"

namespace {

using namespace rv;

using viewtest::Click;
using viewtest::Key;
using viewtest::Type;

// The first row and column where a picture's red corner is.
QPoint RedCorner(const QImage& Image) {
  const QImage rgb = Image.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < rgb.height(); ++y)
    for (int x = 0; x < rgb.width(); ++x) {
      const QRgb p = rgb.pixel(x, y);
      if (qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60) return {x, y};
    }
  return {-1, -1};
}

// In the page the preview made, and on the screen.
struct TCorners {
  QPoint Page, Shown;
};
TCorners RedCorners(TRastrumView* View) {
  return {RedCorner(View->GetBitmap()->ToImage()), RedCorner(View->grab().toImage())};
}

class PrintForms : public testing::Test {
protected:
  PrintForms() {
    Printer.setOutputFormat(QPrinter::PdfFormat);
    Printer.setOutputFileName(Temp.QPath() + "/out.pdf");
    Printer.setResolution(300);
    Printer.setPageSize(QPageSize(QPageSize::Letter));
    Printer.setFullPage(true);
    Printer.setPageMargins(QMarginsF(0, 0, 0, 0));
    TRvBitmap& b = *IO.RvBitmap();
    b.Allocate(300, 200, rvpf24Bit);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 300; ++x) {
        std::uint8_t* p = b.Scanline(y) + 3 * x;
        const bool red = x < 150 && y < 100;
        p[0] = red ? 0 : 200, p[1] = red ? 0 : 200, p[2] = red ? 255 : 200;
      }
    IO.Params().DpiX = IO.Params().DpiY = 100;
  }
  void Open(TRvPrintForm& F) {
    F.IO = &IO;
    F.Printer = &Printer;
    F.OnRefusal = [this](const std::string& Why) { Refusals.push_back(Why); };
    F.show();
  }
  testing_support::TTempFolder Temp;
  QPrinter Printer{QPrinter::HighResolution};
  TRastrumIO IO;
  std::vector<std::string> Refusals;
};

TEST_F(PrintForms, TheFirstFieldMovesThePictureDown) {
  tfrvprnform1 preview;
  Tfrvprnform2 options;
  for (TRvPrintForm* form : {static_cast<TRvPrintForm*>(&preview), static_cast<TRvPrintForm*>(&options)}) {
    Open(*form);
    EXPECT_EQ(form->ComboBox1->currentIndex(), rvpsFit);
    form->ComboBox1->setCurrentIndex(rvpsNormal);
    Click(form->PositionButton[1]); // top centre
    const TCorners before = RedCorners(form->RastrumView1);
    ASSERT_GE(before.Page.y(), 0);
    ASSERT_GE(before.Shown.y(), 0);
    Type(form->Edit[0], "2");
    const TCorners after = RedCorners(form->RastrumView1);
    EXPECT_EQ(after.Page.x(), before.Page.x());
    EXPECT_GT(after.Page.y(), before.Page.y());
    EXPECT_EQ(after.Shown.x(), before.Shown.x());
    EXPECT_EQ(after.Shown.y() - before.Shown.y(), after.Page.y() - before.Page.y());
    EXPECT_DOUBLE_EQ(form->ReadLayout().TopMargin, 2);
    EXPECT_DOUBLE_EQ(form->ReadLayout().LeftMargin, 1);
    form->hide();
  }
}

TEST_F(PrintForms, ArrowsStepAndStopAtZero) {
  Tfrvprnform2 form;
  Open(form);
  struct TCase {
    int Field;
    const char* Text;
    bool Up;
    const char* Result;
  } cases[] = {{0, "0", false, "0"}, {0, "0", true, "0.01"}, {3, "1", false, "0.99"},
               {6, "1", true, "1.1"}, {6, "0.05", false, "0"}, {2, "abc", true, "0.01"}};
  for (const TCase& c : cases) {
    form.Edit[c.Field]->setText(c.Text);
    Click(c.Up ? form.UpDown[c.Field]->UpButton() : form.UpDown[c.Field]->DownButton());
    EXPECT_EQ(form.Edit[c.Field]->text().toStdString(), c.Result) << c.Text;
  }
  // Typed negative lengths count as 0, as the arrows would leave them.
  Type(form.Edit[1], "-3");
  EXPECT_DOUBLE_EQ(form.ReadLayout().LeftMargin, 0);
}

TEST_F(PrintForms, UnitsTurnLengthsIntoCentimetresAndBack) {
  Tfrvprnform2 form;
  form.MeasureUnit = rvduSelectableDefInches;
  Open(form);
  EXPECT_TRUE(form.GroupBox6->isVisible());
  form.ComboBox2->setFocus();
  Key(form.ComboBox2, Qt::Key_Down);
  const char* const cm[6] = {"2.54", "2.54", "2.54", "2.54", "15.24", "10.16"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(form.Edit[i]->text().toStdString(), cm[i]) << i;
  EXPECT_EQ(form.GroupBox1->title(), " Margins (Cm) ");
  EXPECT_EQ(form.Label[6]->text(), "Cm");
  EXPECT_DOUBLE_EQ(form.ReadLayout().TopMargin, 1);
  Key(form.ComboBox2, Qt::Key_Up);
  const char* const inches[6] = {"1", "1", "1", "1", "6", "4"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(form.Edit[i]->text().toStdString(), inches[i]) << i;
  EXPECT_EQ(form.GroupBox1->title(), " Margins (inches) ");
}

TEST_F(PrintForms, FixedCentimetresHideTheUnitBox) {
  Tfrvprnform2 form;
  form.MeasureUnit = rvduCm;
  form.ApplyLanguage(msEnglish);
  Open(form);
  EXPECT_FALSE(form.GroupBox6->isVisible());
  EXPECT_EQ(form.GroupBox1->title(), " Margins (Cm) ");
  form.Edit[1]->setText("2.54");
  form.Edit[4]->setText("5,08");
  const TRvPrintLayout l = form.ReadLayout();
  EXPECT_DOUBLE_EQ(l.LeftMargin, 1);
  EXPECT_DOUBLE_EQ(l.SpecifiedWidth, 2);
  EXPECT_DOUBLE_EQ(l.Gamma, 1);
}

TEST_F(PrintForms, HintsNameWhatEachFieldDoes) {
  tfrvprnform1 form;
  EXPECT_EQ(form.Edit[0]->toolTip(), "Top Margin");
  EXPECT_EQ(form.Edit[1]->toolTip(), "Left Margin");
  form.ApplyLanguage(msGerman);
  EXPECT_EQ(form.Edit[0]->toolTip().toStdString(), RvWord(106, msGerman));
  EXPECT_EQ(form.Edit[1]->toolTip().toStdString(), RvWord(105, msGerman));
  EXPECT_EQ(form.windowTitle().toStdString(), RvWord(91, msGerman));
}

TEST_F(PrintForms, OkPrintsAndCloses) {
  Tfrvprnform2 form;
  Open(form);
  Click(form.Button1);
  EXPECT_TRUE(Refusals.empty());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_GT(QFileInfo(Temp.QPath() + "/out.pdf").size(), 1000);
}

TEST_F(PrintForms, ARefusedPrintSaysWhyAndStays) {
  tfrvprnform1 form;
  Open(form);
  Type(form.Edit[1], "5"); // left margin
  Type(form.Edit[2], "4"); // right margin: no room on 8.5 inches
  Click(form.SpeedButton11);
  ASSERT_EQ(Refusals.size(), 1u);
  EXPECT_EQ(Refusals[0], "The margins leave no room on the page for the picture.");
  EXPECT_FALSE(QFileInfo::exists(Temp.QPath() + "/out.pdf"));
  EXPECT_TRUE(form.isVisible());
  Click(form.SpeedButton12);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), 1);
}

// A print to a file the disk cannot hold says so and is no success, in
// colour and in gray: the earlier print stays whole, and no work file is
// left.
TEST_F(PrintForms, APrintTheDiskCannotHoldSaysSo) {
  for (const QPrinter::ColorMode Mode : {QPrinter::Color, QPrinter::GrayScale}) {
    SCOPED_TRACE(Mode);
    Printer.setColorMode(Mode);
    Refusals.clear();
    QFile::remove(Temp.QPath() + "/out.pdf");
    // A job of a long title, whose print is far larger than the page's work
    // file (the limit holds for every file).
    Tfrvprnform2 form;
    form.JobTitle = std::string(1000000, 'x');
    Open(form);
    Click(form.Button1);
    const qint64 Whole = QFileInfo(Temp.QPath() + "/out.pdf").size();
    ASSERT_GT(Whole, 1000000);
    Open(form);
    {
      const testing_support::TFileSizeLimit full(static_cast<rlim_t>(Whole / 2));
      Click(form.Button1);
    }
    EXPECT_EQ(Refusals, std::vector<std::string>{"The print could not be written to " + Temp.Path() + "/out.pdf."});
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(QFileInfo(Temp.QPath() + "/out.pdf").size(), Whole) << "the earlier print is kept";
    EXPECT_EQ(QDir(Temp.QPath()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.pdf"})
        << "no work file is left";
    Click(form.Button1);
    EXPECT_EQ(Refusals.size(), 1u) << "with room, the same print goes through";
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(QFileInfo(Temp.QPath() + "/out.pdf").size(), Whole);
    EXPECT_EQ(Printer.outputFileName(), Temp.QPath() + "/out.pdf");
    EXPECT_EQ(Printer.colorMode(), Mode);
  }
}

// The printer keeps its file from one picture to the next: another
// picture's print there is replaced only when the user says so; the same
// picture's print again is.
TEST_F(PrintForms, AnotherPicturesPrintIsReplacedOnlyWhenAllowed) {
  const QString Pdf = Temp.QPath() + "/out.pdf";
  auto Bytes = [&] {
    QFile File(Pdf);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
  };
  struct TCase {
    const char* Job;
    bool Allow;       // the answer, when asked
    bool Asked;
    bool Printed;
  };
  const TCase Cases[] = {
      {"a.png", false, false, true}, // a new file
      {"a.png", false, false, true}, // its own print again
      {"b.png", false, true, false}, // a's print kept
      {"b.png", true, true, true},
      {"a.png", true, true, true},
  };
  tfrvprnform1 form;
  Open(form);
  std::vector<std::string> Questions;
  bool Allow = false;
  form.OnReplaceQuestion = [&](const std::string& Question) {
    Questions.push_back(Question);
    return Allow;
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Job);
    Questions.clear();
    Allow = C.Allow;
    form.JobTitle = C.Job;
    // Each print tells its own by the picture's size.
    IO.Params().DpiX = IO.Params().DpiY = C.Job[0] == 'a' ? 100 : 150;
    const QByteArray Before = Bytes();
    Click(form.SpeedButton11);
    EXPECT_EQ(Questions.size(), C.Asked ? 1u : 0u);
    if (C.Asked) {
      EXPECT_EQ(Questions[0], Temp.Path() + "/out.pdf already holds the print of " +
                                  (C.Job[0] == 'a' ? "b.png" : "a.png") + ".\nDo you want to replace it?");
    }
    if (!C.Printed) EXPECT_EQ(Bytes(), Before);
    else if (C.Asked) EXPECT_NE(Bytes(), Before);
    EXPECT_TRUE(Bytes().trimmed().endsWith("%%EOF"));
    EXPECT_TRUE(Refusals.empty());
  }
}

} // namespace

#include "app/emailsizedlg.h"

#include "app/helpdlg.h"
#include "app/msgbox.h"
#include "app/qmquickmail.h"
#include "app/settings.h"
#include "apptestenv.h"
#include "controls/kel/kelprogressfill.h"
#include "controls/kel/kelshapebutton.h"
#include "controls/support/qrcheckbox/qrcheckbox.h"
#include "image/views/rastrumview.h"
#include "platform/application.h"
#include "support/fakemailprogram.h"
#include "support/filesizelimit.h"
#include "support/gatedreads.h"
#include "support/tempkeystore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace app;
using apptest::WaitUntil;
using testing_support::TTempFolder;

namespace {

void Click(QWidget* widget, QPoint at = {-1, -1}) {
  if (at.x() < 0) at = widget->rect().center();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  }
}

// A picture with soft bands and some noise, saved in Format and padded
// with zero bytes after its end to exactly Size bytes (0: as it is).
QString Picture(const TTempFolder& Folder, const QString& Name, int Width, int Height, const char* Format,
                qint64 Size = 0) {
  QImage image(Width, Height, QImage::Format_RGB32);
  std::mt19937 rng(static_cast<unsigned>(Width * 31 + Height));
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x)
      image.setPixel(x, y, qRgb((x * 3 + static_cast<int>(rng() % 24)) & 255, (y * 5) & 255, (x + y) & 255));
  const QString path = Folder.QPath() + "/" + Name;
  EXPECT_TRUE(image.save(path, Format, 90)) << Name.toStdString();
  if (Size > 0) {
    QFile file(path);
    EXPECT_LE(file.size(), Size) << Name.toStdString() << " is too large to pad";
    file.open(QIODevice::Append);
    file.write(QByteArray(static_cast<qsizetype>(Size - file.size()), '\0'));
  }
  return path;
}

QSize SizeOf(const QString& Path) { return QImageReader(Path).size(); }

// Paths as the dialog keeps them (bytes), and as text again.
std::vector<std::string> Bytes(const QStringList& Paths) {
  std::vector<std::string> Out;
  for (const QString& P : Paths) Out.push_back(P.toStdString());
  return Out;
}
QStringList Texts(const std::vector<std::string>& Paths) {
  QStringList Out;
  for (const std::string& P : Paths) Out << QString::fromStdString(P);
  return Out;
}

class EmailDialog : public ::testing::Test {
protected:
  void SetUp() override {
    THelpDlg::ModalAnswer = [this](THelpDlg& d) {
      FResults << d.windowTitle() << d.DetailLines();
      d.SbtnOkay->Click();
    };
    MessageDlgAnswer = [this](QMessageBox& box) {
      FBoxes << box.text();
      (box.button(FAnswer) ? box.button(FAnswer) : box.buttons().front())->click();
    };
    FDlg = std::make_unique<TEmailSizeDlg>();
    FDlg->WorkFolder = [this] { return FWork.Path(); };
  }
  void TearDown() override {
    FDlg.reset();
    THelpDlg::ModalAnswer = nullptr;
    MessageDlgAnswer = nullptr;
  }
  QString Work(const QString& Name) const { return FWork.QPath() + "/" + Name; }

  testing_support::TTempKeyStore FKeys;
  TTempFolder FFiles, FOther, FWork;
  std::unique_ptr<TEmailSizeDlg> FDlg;
  QStringList FResults, FBoxes;
  QMessageBox::StandardButton FAnswer = QMessageBox::Yes;
};

} // namespace

TEST(EmailMath, LimitsAndScaleFactors) {
  const std::pair<int, int> limits[] = {{0, 393216}, {1, 65536}, {2, 32768}, {3, 65536}, {-1, 65536}};
  for (auto [index, bytes] : limits) EXPECT_EQ(EmailSizeLimit(index), bytes) << index;
  // Rounded to hundredths, down to a multiple of 4, plus 4, at most 1.
  const std::pair<double, double> factors[] = {{1.5 * 65536 / 200000, 0.52}, {0.0, 0.04}, {0.47, 0.48},
                                               {0.48, 0.52},                 {0.96, 1.0}, {0.995, 1.0},
                                               {16.0 * 65536 / 921654, 1.0}};
  for (auto [ratio, factor] : factors) EXPECT_DOUBLE_EQ(EmailScaleFactor(ratio), factor) << ratio;
}

TEST_F(EmailDialog, CaptionsAndTheListOfFiles) {
  EXPECT_EQ(FDlg->windowTitle(), "No Files to Email");
  EXPECT_EQ(FDlg->SBtnCancel->Caption(), "Close");
  FDlg->StartWithFiles(FFiles.Path(), {"a.jpg"});
  EXPECT_EQ(FDlg->windowTitle(), "Email a.jpg");
  EXPECT_EQ(FDlg->SBtnCancel->Caption(), "Cancel");
  FDlg->StartWithFiles(Bytes({FFiles.QPath() + "/a.jpg", FOther.QPath() + "/a.jpg", FFiles.QPath() + "/b.png"}));
  EXPECT_EQ(FDlg->windowTitle(), "Email 3 Images") << "a path already listed is not added twice";
  EXPECT_EQ(FDlg->FileListBox->count(), 3);
  EXPECT_EQ(FDlg->FileListBox->item(2)->text(), "b.png");

  FDlg->FileListBox->item(0)->setSelected(true);
  FDlg->FileListBox->item(2)->setSelected(true);
  QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
  QApplication::sendEvent(FDlg->FileListBox, &del);
  EXPECT_EQ(FDlg->Paths(), std::vector<std::string>{FOther.File("a.jpg")});
  FDlg->show();
  FDlg->SBtnMoreFiles->Click();
  EXPECT_FALSE(FDlg->isVisible());
  EXPECT_EQ(FDlg->Paths().size(), 1u) << "\"Add More Files\" keeps the list";
  FDlg->show();
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(FDlg.get(), &escape);
  EXPECT_FALSE(FDlg->isVisible());
  EXPECT_TRUE(FDlg->Paths().empty()) << "Esc is \"Close\", which clears";
  EXPECT_EQ(FDlg->windowTitle(), "No Files to Email");
}

// The edge cases of the reduction on real files, "Medium" (64 KB).
TEST_F(EmailDialog, ReducesWhatIsTooLarge) {
  const QString small = Picture(FFiles, "small.jpg", 120, 90, "JPG", 61440);
  const QString middle = Picture(FFiles, "middle.jpg", 120, 90, "JPG", 92160);
  const QString big = Picture(FFiles, "big.jpg", 400, 300, "JPG", 200000);
  const QString bmp = Picture(FFiles, "pic.bmp", 640, 480, "BMP");
  const QString twin = Picture(FFiles, "pic.jpg", 300, 200, "JPG", 200000);
  const QString otherBig = Picture(FOther, "big.jpg", 200, 100, "JPG", 300000);
  const QString png = Picture(FFiles, "noise.png", 600, 600, "PNG");
  const QString broken = FFiles.QPath() + "/broken.jpg";
  {
    QFile file(broken);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(150000, 'x'));
  }
  ASSERT_EQ(QFile(bmp).size(), 921654);
  FDlg->StartWithFiles(Bytes({small, middle, big, bmp, twin, otherBig, png, broken}));
  FDlg->SetSpeedIndex(1);
  FDlg->CBShowResults->SetChecked(true);
  std::vector<int> steps;
  const TEmailOptimization result = FDlg->Optimize(FWork.Path(), [&](int step) { steps.push_back(step); });

  const int pngSide = static_cast<int>(std::nearbyint(600 * EmailScaleFactor(1.5 * 65536 / QFile(png).size())));
  EXPECT_EQ(result.Results,
            (QStringList{"small.jpg - Unchanged", "middle.jpg - Unchanged",
                         "big.jpg - Resized from 400x300 to 208x156", "pic.bmp - Converted to Jpeg",
                         "pic.jpg - Resized from 300x200 to 156x104", "big.jpg - Resized from 200x100 to 72x36",
                         QStringLiteral("noise.png - Resized from 600x600 to %1x%1").arg(pngSide),
                         result.Results.value(7)}));
  EXPECT_TRUE(result.Results.value(7).startsWith("broken.jpg - ERROR: ")) << result.Results.value(7).toStdString();
  EXPECT_TRUE(result.Error);
  // Every output keeps its own name in the work folder.
  EXPECT_EQ(Texts(result.Attachments), (QStringList{small, middle, Work("big.jpg"), Work("pic.jpg"), Work("pic (2).jpg"),
                                             Work("big (2).jpg"), Work("noise.png")}));
  const std::pair<QString, QSize> sizes[] = {{Work("big.jpg"), {208, 156}},   {Work("pic.jpg"), {640, 480}},
                                             {Work("pic (2).jpg"), {156, 104}}, {Work("big (2).jpg"), {72, 36}},
                                             {Work("noise.png"), {pngSide, pngSide}}};
  for (const auto& [path, size] : sizes) {
    EXPECT_EQ(SizeOf(path), size) << path.toStdString();
    // The user's own pictures, for the user alone.
    EXPECT_EQ(std::filesystem::status(path.toStdString()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << path.toStdString();
  }
  EXPECT_EQ(QImageReader(Work("pic.jpg")).format(), "jpeg");
  EXPECT_EQ(result.SubjectNames, "small.jpg, middle.jpg, big.jpg, pic.bmp, pic.jpg, big.jpg");
  EXPECT_EQ(steps.size(), 8u + 5u * 2u + 1u);
  EXPECT_EQ(steps.back(), 24);
}

// Names that are no UTF-8 (Latin-1 beside its twin, a lone continuation
// byte) keep their bytes through the reduction: each copy in the work folder
// is named as its own picture, and the list shows the bytes marked.
TEST_F(EmailDialog, ReducedCopiesKeepTheirNamesBytes) {
  const std::pair<std::string, const char*> Pictures[] = {
      {"caf\xe9.jpg", "JPG"}, {"caf\xef\xbf\xbd.jpg", "JPG"}, {"a\x80z.bmp", "BMP"}};
  std::vector<std::string> paths;
  for (const auto& [name, format] : Pictures) {
    paths.push_back(FFiles.File(name));
    const QString made = Picture(FFiles, QString("made.") + format, 400, 300, format, *format == 'J' ? 200000 : 0);
    std::filesystem::rename(made.toStdString(), paths.back());
  }
  FDlg->StartWithFiles(paths);
  EXPECT_EQ(FDlg->FileListBox->item(0)->text(), "caf\uFFFD.jpg");
  const TEmailOptimization result = FDlg->Optimize(FWork.Path(), nullptr);
  EXPECT_FALSE(result.Error) << result.Results.join('\n').toStdString();
  EXPECT_EQ(result.Attachments,
            (std::vector<std::string>{FWork.File("caf\xe9.jpg"), FWork.File("caf\xef\xbf\xbd.jpg"), FWork.File("a\x80z.jpg")}));
}

TEST_F(EmailDialog, DoNotResizeAttachesEverythingAsItIs) {
  const QString big = Picture(FFiles, "big.jpg", 400, 300, "JPG", 200000);
  const QString bmp = Picture(FFiles, "pic.bmp", 640, 480, "BMP");
  FDlg->StartWithFiles(Bytes({big, bmp}));
  FDlg->CBDontResize->SetChecked(true);
  FDlg->CBShowResults->SetChecked(true);
  testing_support::TFakeMailProgram fake;
  Click(FDlg->SBtnContinue);
  ASSERT_TRUE(testing_support::WaitFor([&] { return !FDlg->Sending(); }));
  EXPECT_TRUE(FResults.isEmpty()) << "no results without resizing";
  EXPECT_EQ(fake.Arguments(), (QStringList{"--utf8", "--subject", "big.jpg, pic.bmp", "--attach", big, "--attach", bmp}));
}

TEST_F(EmailDialog, SendEmailHandsTheReducedFilesOverAndClearsOnYes) {
  const QString big = Picture(FFiles, "big.jpg", 400, 300, "JPG", 200000);
  const QString small = Picture(FFiles, "a-rather-long-file-name-for-the-subject.jpg", 30, 20, "JPG");
  const QString other = Picture(FFiles, "another-long-name.jpg", 30, 20, "JPG");
  testing_support::TFakeMailProgram fake;
  for (int exitCode : {2, 0}) {
    FResults.clear();
    FBoxes.clear();
    fake.SetExitCode(exitCode);
    FDlg->ShowWithFiles(Bytes({big, small, other}));
    FDlg->SetSpeedIndex(1);
    FDlg->CBShowResults->SetChecked(true);
    Click(FDlg->SBtnContinue);
    EXPECT_TRUE(FDlg->Sending());
    ASSERT_TRUE(testing_support::WaitFor([&] { return !FDlg->Sending(); }));
    EXPECT_EQ(FResults, (QStringList{"Results of Email Optimization", "big.jpg - Resized from 400x300 to 208x156",
                                     "a-rather-long-file-name-for-the-subject.jpg - Unchanged",
                                     "another-long-name.jpg - Unchanged"}));
    const QString reduced = exitCode == 2 ? Work("big.jpg") : Work("big (2).jpg");
    EXPECT_EQ(fake.Arguments(), (QStringList{"--utf8", "--subject", "3 Images", "--attach", reduced, "--attach",
                                             small, "--attach", other}));
    EXPECT_FALSE(FDlg->isVisible());
    EXPECT_EQ(FDlg->PBProgress->Position(), 0);
    if (exitCode == 2) {
      EXPECT_EQ(FBoxes, QStringList{"Error sending mail (11)."});
      EXPECT_EQ(FDlg->Paths().size(), 3u) << "a mail error keeps the list";
    } else {
      EXPECT_EQ(FBoxes, QStringList{"Finished. Would you like to clear the file list?"});
      EXPECT_TRUE(FDlg->Paths().empty());
      EXPECT_EQ(FDlg->windowTitle(), "No Files to Email");
    }
  }
}

TEST_F(EmailDialog, ShowFilesAndPreview) {
  QImage halves(60, 30, QImage::Format_RGB32);
  halves.fill(Qt::red);
  for (int y = 0; y < 30; ++y)
    for (int x = 30; x < 60; ++x) halves.setPixel(x, y, qRgb(0, 0, 255));
  ASSERT_TRUE(halves.save(FFiles.QPath() + "/halves.png"));
  FDlg->ShowWithFiles({FFiles.File("missing.jpg"), FFiles.File("halves.png")});
  const int narrow = FDlg->width();
  EXPECT_FALSE(FDlg->FileListBox->isVisible());
  Click(FDlg->SBtnShowFiles);
  EXPECT_TRUE(FDlg->FileListBox->isVisible());
  EXPECT_TRUE(FDlg->ImgPreview->isVisible());
  EXPECT_GT(FDlg->width(), narrow + 300);
  EXPECT_EQ(FDlg->SBtnShowFiles->Caption(), "< Hide Files");

  QListWidget* list = FDlg->FileListBox;
  Click(list->viewport(), list->visualItemRect(list->item(1)).center());
  // Read on a worker: the name comes with the picture.
  ASSERT_TRUE(WaitUntil([&] { return FDlg->LblPreviewName->text() == "halves.png"; }));
  EXPECT_EQ(FDlg->LblPreviewSize->text(), "60 x 30");
  rv::TRastrumView& view = *FDlg->ImgPreview;
  const QImage shown = view.grab().toImage();
  const int left = view.FrameWidth() + view.OffsetX(), top = view.FrameWidth() + view.OffsetY();
  EXPECT_EQ(shown.pixel(left + view.DrawWidth() / 4, top + view.DrawHeight() / 2) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(shown.pixel(left + 3 * view.DrawWidth() / 4, top + view.DrawHeight() / 2) & 0xFFFFFF, 0x0000FFu);
  Click(list->viewport(), list->visualItemRect(list->item(0)).center());
  ASSERT_TRUE(WaitUntil([&] { return FDlg->LblPreviewName->text() == "missing.jpg"; }));
  EXPECT_EQ(FDlg->LblPreviewSize->text(), "");

  Click(FDlg->SBtnShowFiles);
  EXPECT_EQ(FDlg->width(), narrow);
  EXPECT_FALSE(FDlg->FileListBox->isVisible());
  EXPECT_EQ(FDlg->SBtnShowFiles->Caption(), "Show Files >");
}

// A file slow to read (held at the gate) is read off the window's thread; a
// file chosen meanwhile takes its place, and the first one's picture never
// comes.
TEST_F(EmailDialog, ThePreviewIsReadOffTheWindowsThread) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  Reads.Reset();
  const QString slow = FFiles.QPath() + "/slow.gate", other = FFiles.QPath() + "/other.gate";
  testsupport::TGatedReads::Write(slow.toStdString(), 0xFF0000, 40, 30);
  testsupport::TGatedReads::Write(other.toStdString(), 0x0000FF, 20, 10);
  FDlg->ShowWithFiles(Bytes({slow, other}));
  Click(FDlg->SBtnShowFiles);
  QListWidget* list = FDlg->FileListBox;
  Reads.Close();
  Click(list->viewport(), list->visualItemRect(list->item(0)).center());
  ASSERT_TRUE(WaitUntil([&] { return Reads.Held == 1; }));
  EXPECT_EQ(FDlg->LblPreviewName->text(), "");
  Click(list->viewport(), list->visualItemRect(list->item(1)).center());
  Reads.Open();
  ASSERT_TRUE(WaitUntil([&] { return FDlg->LblPreviewName->text() == "other.gate"; }));
  EXPECT_EQ(FDlg->LblPreviewSize->text(), "20 x 10");
  WaitUntil([] { return false; }, 200);
  EXPECT_EQ(FDlg->LblPreviewName->text(), "other.gate");
  EXPECT_EQ(Reads.OnWindow, 0);
}

// "Send Email" reads, reduces and writes on a worker, with its progress
// shown and the window answering while a file is slow to read (held at the
// gate). "Cancel" stops the run at the reader and sends nothing; closing the
// dialog or its end mid-run waits for no reader and leaves no copy behind.
TEST_F(EmailDialog, TheReductionsAreMadeOffTheWindowsThread) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  Reads.Reset();
  const QString small = FFiles.QPath() + "/small.gate", big = FFiles.QPath() + "/big.gate";
  testsupport::TGatedReads::Write(small.toStdString(), 0x00FF00, 8, 8);
  testsupport::TGatedReads::Write(big.toStdString(), 0xFF0000, 40, 30, 100000);
  testing_support::TFakeMailProgram fake;
  FDlg->ShowWithFiles(Bytes({small, big}));
  FDlg->SetSpeedIndex(2);
  FDlg->CBShowResults->SetChecked(true);
  const auto workFiles = [&] { return QDir(FWork.QPath()).entryList(QDir::Files); };

  Reads.Close();
  Click(FDlg->SBtnContinue);
  ASSERT_TRUE(WaitUntil([&] { return Reads.Held == 1; }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return FDlg->PBProgress->Position() == 3; })) << "the small file's steps are shown";
  bool fired = false;
  QTimer::singleShot(0, FDlg.get(), [&] { fired = true; });
  ASSERT_TRUE(WaitUntil([&] { return fired; }));
  EXPECT_TRUE(FDlg->Sending());
  EXPECT_FALSE(FDlg->SBtnContinue->isEnabled());
  EXPECT_FALSE(FDlg->FileListBox->isEnabled());
  Click(FDlg->SBtnCancel);
  ASSERT_TRUE(WaitUntil([&] { return Reads.Held == 0; })) << "the reader stops at its abort flag";
  EXPECT_FALSE(FDlg->Sending());
  EXPECT_TRUE(FDlg->isVisible());
  EXPECT_EQ(FDlg->Paths().size(), 2u) << "Cancel stops the run and keeps the list";
  EXPECT_TRUE(FDlg->SBtnContinue->isEnabled());
  EXPECT_EQ(FDlg->PBProgress->Position(), 0);
  WaitUntil([] { return false; }, 100);
  EXPECT_FALSE(fake.Ran());
  EXPECT_TRUE(FResults.isEmpty());

  Reads.Open();
  Click(FDlg->SBtnContinue);
  ASSERT_TRUE(WaitUntil([&] { return !FDlg->Sending(); }));
  EXPECT_EQ(FResults, (QStringList{"Results of Email Optimization", "small.gate - Unchanged",
                                   "big.gate - Resized from 40x30 to 21x16"}));
  EXPECT_EQ(fake.Arguments(), (QStringList{"--utf8", "--subject", "small.gate, big.gate", "--attach", small,
                                           "--attach", Work("big.gate")}));
  EXPECT_EQ(workFiles(), QStringList{"big.gate"});
  EXPECT_EQ(Reads.OnWindow, 0);

  FDlg->ShowWithFiles(Bytes({big}));
  Reads.Close();
  Click(FDlg->SBtnContinue);
  ASSERT_TRUE(WaitUntil([&] { return Reads.Held == 1; }, 10000));
  FDlg->close();
  FDlg.reset();
  EXPECT_EQ(Reads.Held, 0);
  Reads.Open();
  EXPECT_EQ(workFiles(), QStringList{"big.gate"}) << "a run that was stopped leaves no copy";
}

TEST_F(EmailDialog, OptionsAreKeptInTheSettings) {
  EXPECT_EQ(FDlg->SpeedIndex(), 1);
  EXPECT_FALSE(FDlg->CBShowResults->Checked());
  EXPECT_FALSE(FDlg->CBDontResize->Checked());
  FDlg->RbSmall->setChecked(true);
  FDlg->CBShowResults->SetChecked(true);
  FDlg->CBDontResize->SetChecked(true);
  FDlg.reset();
  EXPECT_EQ(ReadSetting("InetSpeed"), "2");
  EXPECT_EQ(ReadSetting("ShowOptResults"), "True");
  EXPECT_EQ(ReadSetting("DontOptimize"), "True");
  WriteSetting("InetSpeed", "0");
  TEmailSizeDlg again;
  EXPECT_TRUE(again.RbLarge->isChecked());
  EXPECT_TRUE(again.CBDontResize->Checked());

  // Settings that cannot be saved (the disk is full) are told, and the
  // program goes on.
  auto* application = dynamic_cast<platform::TApplication*>(QCoreApplication::instance());
  ASSERT_NE(application, nullptr);
  QStringList errors;
  application->OnException = [&](std::exception_ptr e) { errors << platform::TApplication::ExceptionMessage(e); };
  FDlg = std::make_unique<TEmailSizeDlg>();
  FDlg->RbMedium->setChecked(true);
  {
    testing_support::TFileSizeLimit full(16);
    FDlg.reset();
  }
  application->OnException = nullptr;
  EXPECT_EQ(errors, QStringList{"Failed to set data for 'InetSpeed'"});
  EXPECT_EQ(ReadSetting("InetSpeed"), "0");
}

#include "app/saveasform.h"

#include "app/mainform.h"
#include "app/pictureutil.h"
#include "apptestenv.h"
#include "image/views/rastrumview.h"
#include "image/views/rviopreviews.h"
#include "image/io/rastrumio.h"
#include "image/views/rastrum.h"
#include "platform/graphics.h"
#include "shell/shelltestenv.h"
#include "shell/sxshelllist.h"
#include "support/gatedreads.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QtTest/QTest>

#include "app/msgbox.h"

#include <QAbstractButton>
#include "controls/kel/kelshapebutton.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

using namespace app;
using shelltest::WaitFor;

namespace {

class SaveAs : public ::testing::Test {
protected:
  void SetUp() override {
    sx::TSxCustomShellListView::SortColumn = 0;
    sx::TSxCustomShellListView::SortAscending = true;
    Folder = Env.MakeDir("home/shots");
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(qRgb(255, 0, 0));
    for (int y = 0; y < 30; ++y)
      for (int x = 20; x < 40; ++x) picture.setPixel(x, y, qRgb(0, 0, 255));
    ASSERT_TRUE(picture.save(QString::fromStdString(Folder + "/a.png")));
    shelltest::TPrivateHome::Touch(Folder + "/photo.ico");
    shelltest::TPrivateHome::Touch(Folder + "/notes.txt");
    MessageDlgAnswer = [this](QMessageBox& box) {
      const bool question = box.icon() == QMessageBox::Warning;
      (question ? Questions : Messages).push_back(box.text().toStdString());
      // Enter never replaces a file.
      if (question) EXPECT_EQ(static_cast<QAbstractButton*>(box.defaultButton()), box.button(QMessageBox::No)) << box.text().toStdString();
      box.button(!question ? QMessageBox::Ok : Replace ? QMessageBox::Yes : QMessageBox::No)->click();
    };
  }
  void TearDown() override {
    MessageDlgAnswer = nullptr;
    TSaveAsForm::ModalAnswer = nullptr;
  }
  void PrepareAndWait(const std::string& path, bool newImage = false) {
    Form.Prepare(path, newImage);
    ASSERT_TRUE(WaitFor([&] { return !Form.SxShellList->Loading(); }));
  }
  // Shows the dialog, lets Act answer it, and the result with the target.
  int Run(std::function<void(TSaveAsForm&)> Act, std::string& target) {
    TSaveAsForm::ModalAnswer = std::move(Act);
    bool open = false;
    return Form.Execute(Folder + "/photo.ico", false, target, open);
  }

  shelltest::TPrivateHome Env;
  std::string Folder;
  std::vector<std::string> Messages, Questions;
  bool Replace = false;
  TSaveAsForm Form;
};

} // namespace

TEST(SaveAsTable, RowsAndTheirExtensions) {
  ASSERT_EQ(SaveAsFileTypes.size(), 11u);
  const char* texts[] = {"JPEG Bitmap (*.jpeg,*.jpg,*.jpe)",
                         "Windows Bitmap (*.bmp,*.dib,*.rle)",
                         "Portable Network Graphics (*.png)",
                         "Enhanced Windows Metafile (*.wmf,*.emf)",
                         "CompuServe Bitmap (*.gif)",
                         "PaintBrush (*.pcx)",
                         "JPEG2000 (*.jp2)",
                         "JPEG2000 Code Stream (*.j2k,*.jpc,*.j2c)",
                         "TIFF Bitmap (*.tif,*.tiff,*.fax,*.g3n,*.g3f)",
                         "Targa Bitmap (*.tga,*.targa,*.vda,*.icb,*.vst,*.win)",
                         "Portable Pixmap, GreyMap, BitMap (*.pxm,*.ppm,*.pgm,*.pbm)"};
  const int pages[] = {4, 32, 128, 0, 16, 64, 512, 512, 8, 256, 0};
  for (std::size_t i = 0; i < 11; ++i) {
    EXPECT_EQ(SaveAsFilterText(SaveAsFileTypes[i]).toStdString(), texts[i]);
    EXPECT_EQ(SaveAsFileTypes[i].Pages, pages[i]);
  }
  for (auto [ext, row] : {std::pair{".jpg", 0}, {".jpeg", 0}, {".ico", 1}, {".bmp", 1}, {".png", 2}, {".wmf", 3},
                          {".emf", 3}, {".j2c", 7}, {".tiff", 8}, {".pbm", 10}, {".cur", -1}, {".txt", -1}, {"", -1}})
    EXPECT_EQ(SaveAsRowOfExtension(ext), row) << ext;
}

TEST_F(SaveAs, PreparesWithTheFilesFolderAndType) {
  PrepareAndWait(Folder + "/photo.ico");
  EXPECT_EQ(Form.windowTitle(), "Save Image");
  EXPECT_EQ(Form.CmbFilter->currentIndex(), 1) << "an icon is saved as a bitmap";
  EXPECT_EQ(Form.SxShellList->FileFilter(), "*.bmp;*.dib;*.rle");
  EXPECT_EQ(Form.EdtFileName->text(), "photo.ico") << "preparing keeps the name";
  EXPECT_EQ(Form.GetSaveAsTargetPath(), Folder + "/photo.ico");

  Env.MakeDir("home/Documents");
  PrepareAndWait(Folder + "/photo.ico", true);
  EXPECT_EQ(Form.GetSaveAsTargetPath(), Env.Home + "/Documents/photo.ico") << "a new picture: documents";
  Env.MakeDir("home/Documents/My Pictures");
  PrepareAndWait("", true);
  EXPECT_EQ(Form.GetSaveAsTargetPath(), Env.Home + "/Documents/My Pictures/");
  // The desktop's pictures folder comes first: the default one, then the
  // one the user's folder settings name.
  Env.MakeDir("home/Pictures");
  PrepareAndWait("", true);
  EXPECT_EQ(Form.GetSaveAsTargetPath(), Env.Home + "/Pictures/");
  Env.MakeDir("home/Bilder");
  std::ofstream(Env.Home + "/.config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
  PrepareAndWait(Folder + "/photo.ico", true);
  EXPECT_EQ(Form.GetSaveAsTargetPath(), Env.Home + "/Bilder/photo.ico");
}

TEST_F(SaveAs, ChoosingATypeChangesTheExtension) {
  PrepareAndWait(Folder + "/photo.ico");
  Form.EdtFileName->setText("photo.jpg");
  Form.CmbFilter->setCurrentIndex(2);
  EXPECT_EQ(Form.EdtFileName->text(), "photo.png");
  EXPECT_EQ(Form.SxShellList->FileFilter(), "*.png");
  Form.EdtFileName->setText("");
  Form.CmbFilter->setCurrentIndex(0);
  EXPECT_EQ(Form.EdtFileName->text(), "");
}

TEST_F(SaveAs, ClosingChecksTheName) {
  struct TCase {
    const char* Name;
    int Row;
    bool Replace;
    int Result;
    const char* Target;
    const char* Message;
    const char* Question;
  };
  const TCase cases[] = {
      {"photo", 2, false, 1, "photo.png", nullptr, nullptr},
      {"", 2, false, 0, nullptr, nullptr, nullptr},
      {"notes.txt", 2, false, 0, nullptr, "notes.txt is not a supported save format!", nullptr},
      {"a.png", 2, false, 0, nullptr, nullptr, "a.png already exists!\n\rDo you you want to replace it?"},
      {"a", 2, true, 1, "a.png", nullptr, "a.png already exists!\n\rDo you you want to replace it?"},
  };
  for (const TCase& c : cases) {
    Messages.clear();
    Questions.clear();
    Replace = c.Replace;
    std::string target;
    const int result = Run(
        [&](TSaveAsForm& f) {
          ASSERT_TRUE(WaitFor([&] { return !f.SxShellList->Loading(); }));
          f.CmbFilter->setCurrentIndex(c.Row);
          f.EdtFileName->setText(c.Name);
          f.SBtnSave->Click();
        },
        target);
    EXPECT_EQ(result, c.Result) << c.Name;
    if (c.Target) {
      EXPECT_EQ(target, Folder + "/" + c.Target);
    }
    EXPECT_EQ(Messages, c.Message ? std::vector<std::string>{Folder + "/" + c.Message} : std::vector<std::string>{});
    EXPECT_EQ(Questions, c.Question ? std::vector<std::string>{Folder + "/" + c.Question} : std::vector<std::string>{});
  }
}

TEST_F(SaveAs, PreviewOfTheSelectedPicture) {
  PrepareAndWait(Folder + "/a.png");
  Form.show();
  ASSERT_TRUE(WaitFor([&] { return Form.LblDimensions->text() != "Dimensions:"; }));
  EXPECT_EQ(Form.LblDimensions->text(), "Dimensions: 40 x 30");
  EXPECT_EQ(Form.LblSize->text().toStdString(),
            "Size: " + std::to_string(QFileInfo(QString::fromStdString(Folder + "/a.png")).size()) + " bytes");
  EXPECT_TRUE(Form.LblModified->text().startsWith("Modified Date: "));
  const QImage shown = Form.ImagePreview->grab().toImage();
  const QPoint centre(Form.ImagePreview->width() / 2, Form.ImagePreview->height() / 2);
  EXPECT_EQ(shown.pixel(centre + QPoint(-10, 0)) & 0xFFFFFF, 0xFF0000u) << "left half red";
  EXPECT_EQ(shown.pixel(centre + QPoint(10, 0)) & 0xFFFFFF, 0x0000FFu) << "right half blue";
  EXPECT_NE(shown.pixel(centre + QPoint(-30, 0)) & 0xFFFFFF, 0xFF0000u) << "shown at its own size";

  bool accepted = false;
  TSaveAsForm::ModalAnswer = [&](TSaveAsForm& f) {
    QTest::mouseDClick(f.ImagePreview, Qt::LeftButton, {}, centre);
    accepted = !f.isVisible();
  };
  Replace = true;
  EXPECT_EQ(Form.ShowModal(), 1);
  EXPECT_TRUE(accepted) << "a double click on a picture saves";

  Form.SxShellList->SetFileFilter("");
  Form.SxShellList->SelectItemByName("notes.txt");
  Form.RefreshPreview();
  EXPECT_EQ(Form.LblDimensions->text(), "Dimensions:");
  EXPECT_EQ(Form.LblSize->text(), "Size:");
  EXPECT_TRUE(Form.ImagePreview->IsEmpty());
}

// The preview's texts show whole inside the dialog, those of a very large
// picture too.
TEST_F(SaveAs, ThePreviewsTextsShowWhole) {
  apptest::WriteLargePng(Folder + "/huge.png", 12000, 12000, true);
  PrepareAndWait(Folder + "/huge.png");
  Form.show();
  ASSERT_TRUE(WaitFor([&] { return Form.LblDimensions->text() != "Dimensions:"; }, 60000));
  EXPECT_EQ(Form.LblDimensions->text(), "Dimensions: 12000 x 12000");
  const QLabel* labels[] = {Form.LblDimensions, Form.LblSize, Form.LblModified};
  for (const QLabel* label : labels) {
    const std::string text = label->text().toStdString();
    const QRect box = label->geometry();
    EXPECT_TRUE(Form.rect().contains(box)) << text;
    if (label->wordWrap()) {
      EXPECT_LE(label->heightForWidth(box.width()), box.height()) << text;
    } else {
      EXPECT_LE(label->sizeHint().width(), box.width()) << text;
      EXPECT_LE(label->sizeHint().height(), box.height()) << text;
    }
    for (const QLabel* other : labels)
      if (other != label) EXPECT_FALSE(box.intersects(other->geometry())) << text;
  }
}

// A picture slow to read (its decoding held at the gate) is read off the
// window's thread with the window answering, and shows when its read ends;
// a file selected meanwhile takes its place.
TEST_F(SaveAs, ThePreviewIsReadOffTheWindowsThread) {
  testsupport::TGatedReads& Reads = testsupport::TGatedReads::Get();
  testsupport::TGatedGifDecodes Gifs;
  Reads.Reset();
  Gifs.Write(Folder + "/slow.gif", 0xFF0000, 40, 30);
  Gifs.Write(Folder + "/other.gif", 0x0000FF, 20, 10);
  PrepareAndWait(Folder + "/slow.gif");
  Reads.Close();
  Form.show();
  ASSERT_TRUE(WaitFor([&] { return Reads.Held == 1; }));
  bool fired = false;
  QTimer::singleShot(0, &Form, [&] { fired = true; });
  ASSERT_TRUE(WaitFor([&] { return fired; }));
  EXPECT_EQ(Form.LblDimensions->text(), "Dimensions:");
  EXPECT_TRUE(Form.ImagePreview->IsEmpty());
  Form.SxShellList->SelectItemByName("other.gif");
  ASSERT_TRUE(WaitFor([&] { return Reads.Held == 2; }));
  Reads.Open();
  ASSERT_TRUE(WaitFor([&] { return Form.LblDimensions->text() != "Dimensions:"; }));
  shelltest::Pump(200);
  EXPECT_EQ(Form.LblDimensions->text(), "Dimensions: 20 x 10");
  EXPECT_EQ(Form.ImagePreview->GetBitmap()->Canvas().Pixels(0, 0), platform::TColor(platform::RGB(0, 0, 255)));
  EXPECT_EQ(Reads.OnWindow, 0);
  EXPECT_EQ(Reads.Elsewhere, 2);
}

TEST_F(SaveAs, APathTypedInFullIsTakenAsItStands) {
  const std::string elsewhere = Env.MakeDir("home/else.d");
  struct TCase {
    std::string Name;
    std::string Target;
  };
  const TCase cases[] = {
      {elsewhere + "/new.bmp", elsewhere + "/new.bmp"},
      // The folder's dot is no extension: the name still gets the row's.
      {elsewhere + "/new", elsewhere + "/new.png"},
      {"else/new.bmp", Folder + "/else/new.bmp"},
  };
  for (const TCase& c : cases) {
    std::string target;
    const int result = Run(
        [&](TSaveAsForm& f) {
          ASSERT_TRUE(WaitFor([&] { return !f.SxShellList->Loading(); }));
          f.CmbFilter->setCurrentIndex(2);
          f.EdtFileName->setText(QString::fromStdString(c.Name));
          f.SBtnSave->Click();
        },
        target);
    EXPECT_EQ(result, 1) << c.Name;
    EXPECT_EQ(target, c.Target);
  }
  EXPECT_TRUE(Messages.empty());
}

namespace {

// The first value of a JPEG file's first quantisation table.
int FirstQuantValue(const std::string& Path) {
  QFile file(QString::fromStdString(Path));
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QByteArray data = file.readAll();
  const int at = data.indexOf(QByteArray("\xFF\xDB", 2));
  return at < 0 || at + 5 >= data.size() ? -1 : static_cast<unsigned char>(data[at + 5]);
}

// The first luminance quantiser the JPEG library chooses for a quality.
int QuantForQuality(int Quality) {
  const int scale = Quality < 50 ? 5000 / Quality : 200 - Quality * 2;
  return std::clamp((16 * scale + 50) / 100, 1, 255);
}

} // namespace

// The dialog as the main window's Save As opens it: "Advanced..." edits the
// shown picture's save parameters, and the file written uses them.
TEST(SaveAsFromTheMainWindow, AdvancedSetsTheParametersTheSaveUses) {
  apptest::TAppEnv env;
  TSaveAsForm dialog;
  TMainForm main({}, nullptr);
  main.FormsCreated();
  main.resize(640, 480);
  main.show();
  env.Picture("p.png", 120, 90);
  main.OpenPath(env.File("p.png"), false);
  ASSERT_TRUE(apptest::WaitUntil(
      [&] { return !main.PictureLoadPending() && !main.RastrumView1->TransitionRunning(); }));
  const std::string elsewhere = env.File("out");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(elsewhere)));

  using Dlg = rv::TfIOPreviews;
  std::vector<int> pagesShown;
  QString quality;
  main.RastrumView1->GetIO()->OnIOPreview = [&](void*, QWidget* form) {
    auto* d = static_cast<Dlg*>(form);
    QTimer::singleShot(0, d, [&, d] {
      pagesShown.push_back(d->ActivePage());
      if (d->ActivePage() != Dlg::pgJPEG2) return d->reject();
      d->Edit16->setText(quality);
      d->Button1->click();
    });
  };
  auto saveAs = [&](const std::string& name, const QString& chosenQuality) {
    quality = chosenQuality;
    pagesShown.clear();
    TSaveAsForm::ModalAnswer = [&](TSaveAsForm& f) {
      ASSERT_TRUE(apptest::WaitUntil([&] { return !f.SxShellList->Loading(); }));
      for (int row : {2, 3, 8, 0}) {
        f.CmbFilter->setCurrentIndex(row);
        f.SBtnAdvanced->Click();
      }
      f.EdtFileName->setText(QString::fromStdString(name));
      f.SBtnSave->Click();
    };
    main.Execute("SaveAs");
    TSaveAsForm::ModalAnswer = nullptr;
  };

  saveAs(elsewhere + "/low.jpg", "12");
  EXPECT_EQ(pagesShown, (std::vector<int>{Dlg::pgPNG1, Dlg::pgTIFF2, Dlg::pgJPEG2}))
      << "the metafile row has no parameters";
  EXPECT_EQ(main.RastrumView1->GetIO()->Params().JpegQuality, 12);
  EXPECT_EQ(FirstQuantValue(elsewhere + "/low.jpg"), QuantForQuality(12)) << "written where typed, at its quality";
  saveAs("high.jpg", "95");
  EXPECT_EQ(FirstQuantValue(env.File("high.jpg")), QuantForQuality(95));
  EXPECT_EQ(dialog.PictureIO, nullptr) << "linked only while the dialog is open";
  EXPECT_TRUE(env.MessageBoxes.isEmpty()) << env.MessageBoxes.join('\n').toStdString();
  main.RastrumView1->GetIO()->OnIOPreview = nullptr;
}

TEST_F(SaveAs, DoubleClickedFileIsTheTarget) {
  Replace = true;
  std::string target;
  const int result = Run(
      [&](TSaveAsForm& f) {
        ASSERT_TRUE(WaitFor([&] { return !f.SxShellList->Loading(); }));
        f.CmbFilter->setCurrentIndex(2);
        f.EdtFileName->setText("other.png");
        sx::TSxShellItem* item = f.SxShellList->RowItem(f.SxShellList->RowByCaption("a.png"));
        ASSERT_NE(item, nullptr);
        bool defaultAction = true;
        f.SxShellList->OnItemDblClick(f.SxShellList, item, defaultAction);
        EXPECT_FALSE(defaultAction);
      },
      target);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(target, Folder + "/a.png");
}

// A name that is no UTF-8 shows with its bytes marked, and stays its bytes
// while the box reads so: the shown file's own name, its extension
// changed, a file double-clicked beside its U+FFFD twin.
TEST_F(SaveAs, ANameThatIsNoUtf8IsTheTargetAsItsBytes) {
  Replace = true;
  const std::string Latin1 = Folder + "/caf\xe9.png", Twin = Folder + "/caf\xef\xbf\xbd.png";
  shelltest::TPrivateHome::Touch(Latin1);
  shelltest::TPrivateHome::Touch(Twin);
  struct TCase {
    int Row;
    bool DoubleClicked;
    std::string Target;
  };
  const TCase Cases[] = {{-1, false, Latin1}, {0, false, Folder + "/caf\xe9.jpg"}, {2, true, Latin1}};
  for (const TCase& c : Cases) {
    TSaveAsForm::ModalAnswer = [&](TSaveAsForm& f) {
      ASSERT_TRUE(WaitFor([&] { return !f.SxShellList->Loading(); }));
      EXPECT_EQ(f.EdtFileName->text(), QString::fromUtf8("caf\uFFFD.png"));
      if (c.Row >= 0) f.CmbFilter->setCurrentIndex(c.Row);
      if (!c.DoubleClicked) return f.SBtnSave->Click();
      f.EdtFileName->setText("other.png");
      for (int row = 0; row < f.SxShellList->RowCount(); ++row)
        if (sx::TSxShellItem* item = f.SxShellList->RowItem(row); item && item->Path == Latin1) {
          bool defaultAction = true;
          f.SxShellList->OnItemDblClick(f.SxShellList, item, defaultAction);
        }
    };
    std::string target;
    bool open = false;
    EXPECT_EQ(Form.Execute(Latin1, false, target, open), 1) << c.Row;
    EXPECT_EQ(target, c.Target) << c.Row;
  }
}

TEST_F(SaveAs, ReplacedMetafileIsSwappedInWhole) {
  const std::string target = Folder + "/old.emf";
  shelltest::TPrivateHome::Touch(target);
  struct stat before {};
  ASSERT_EQ(::stat(target.c_str(), &before), 0);
  rv::TRastrum view;
  view.GetBitmap()->SetSize(8, 6);
  SavePictureInFormat(target, *view.GetIO(), true, view.GetBitmap());
  struct stat after {};
  ASSERT_EQ(::stat(target.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "a new file renamed over the old one";
  EXPECT_GT(after.st_size, 0);
}

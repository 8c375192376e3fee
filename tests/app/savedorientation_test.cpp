// A camera picture's orientation tag after the window saved it: turned
// pixels are written upright, unturned ones keep the camera's tag.
#include "app/mainform.h"
#include "app/saveasform.h"
#include "shell/sxshelllist.h"
#include "image/io/rastrumio.h"
#include "image/io/tiffbuild_testutil.h"
#include "mainwindowhost.h"
#include "platform/shfileop.h"

#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QImageReader>
#include <QLineEdit>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace app;

namespace {

// An Exif block that says Orientation 6 (to be turned a quarter clockwise)
// and nothing else.
const QByteArray OrientationOnly("Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 32);

// A 40 x 20 JPEG with the Exif block written after the JFIF header.
void WriteCameraJpeg(const std::string& Path, const QByteArray& Exif = OrientationOnly) {
  QImage Picture(40, 20, QImage::Format_RGB32);
  Picture.fill(Qt::red);
  const QString Name = QString::fromStdString(Path);
  ASSERT_TRUE(Picture.save(Name, "JPG", 95));
  QFile File(Name);
  ASSERT_TRUE(File.open(QIODevice::ReadOnly));
  QByteArray Data = File.readAll();
  File.close();
  ASSERT_EQ(static_cast<unsigned char>(Data[3]), 0xE0);
  const int AfterJfif = 4 + ((static_cast<unsigned char>(Data[4]) << 8) | static_cast<unsigned char>(Data[5]));
  QByteArray App1("\xFF\xE1", 2);
  App1.append(static_cast<char>((Exif.size() + 2) >> 8)).append(static_cast<char>(Exif.size() + 2)).append(Exif);
  Data.insert(AfterJfif, App1);
  ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  File.write(Data);
}

// The Exif block of a camera: its name, the orientation, an Exif directory
// and an 8 x 4 JPEG thumbnail. Cameras put the thumbnail at the block's end;
// Tail false puts it before the camera's tags.
QByteArray CameraExif(const QByteArray& Thumbnail, bool Tail, std::uint32_t Orientation) {
  tiffbuild::TBuilder B(false);
  const std::uint32_t Sub = B.AddIfd({B.Short(40962, {40}), B.Short(40963, {20})}, 0);
  const auto First = [&](std::uint32_t Next, std::size_t* NextAt) {
    return B.AddIfd({B.Ascii(271, "Camera Co"), B.Short(274, {Orientation}), B.Long(34665, {Sub})}, Next, NextAt);
  };
  const auto Second = [&] {
    const std::uint32_t Data = B.AddBlob(tiffbuild::Bytes(Thumbnail.begin(), Thumbnail.end()));
    return B.AddIfd({B.Short(256, {8}), B.Short(257, {4}), B.Short(259, {6}), B.Long(513, {Data}),
                     B.Long(514, {static_cast<std::uint32_t>(Thumbnail.size())})},
                    0);
  };
  if (Tail) {
    std::size_t Link = 0;
    B.SetFirst(First(0, &Link));
    B.Patch32(Link, Second());
  } else {
    B.SetFirst(First(Second(), nullptr));
  }
  return QByteArray("Exif\0\0", 6) +
         QByteArray(reinterpret_cast<const char*>(B.B.data()), static_cast<qsizetype>(B.B.size()));
}

// An 8 x 4 blue JPEG, a camera's thumbnail.
QByteArray SmallJpeg() {
  QImage Small(8, 4, QImage::Format_RGB32);
  Small.fill(Qt::blue);
  QByteArray Thumbnail;
  QBuffer Buffer(&Thumbnail);
  Buffer.open(QIODevice::WriteOnly);
  Small.save(&Buffer, "JPG");
  return Thumbnail;
}

QByteArray Saved(const std::string& Path) {
  QFile File(QString::fromStdString(Path));
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

// What our reader finds in a saved file.
struct TRead {
  int Orientation, ThumbnailWidth, ExifWidth;
  std::string Make;
};
TRead Read(const std::string& Path) {
  rv::TRastrumIO IO;
  IO.LoadFromFile(Path);
  const rv::TIOParamsVals& P = IO.Params();
  return TRead{P.ExifOrientation, P.ExifBitmap ? P.ExifBitmap->Width() : -1, P.ExifImageWidth, P.ExifMake};
}

// The turn the file's tag asks of a viewer, as another reader sees it.
QImageIOHandler::Transformations TagOf(const std::string& Path) {
  return QImageReader(QString::fromStdString(Path)).transformation();
}

class SavedOrientationTest : public ::testing::Test, protected apptest::TMainWindowHost {};

} // namespace

TEST_F(SavedOrientationTest, TurnedPixelsAreSavedUpright) {
  WriteCameraJpeg(Env.File("camera.jpg"));
  ASSERT_EQ(TagOf(Env.File("camera.jpg")), QImageIOHandler::TransformationRotate90);
  Show(Env.File("camera.jpg"));
  Form().Execute("RotateCW");
  Form().Execute("Save");
  EXPECT_FALSE(Form().IsImageModified());
  EXPECT_EQ(TagOf(Env.File("camera.jpg")), QImageIOHandler::TransformationNone);
  EXPECT_EQ(QImageReader(QString::fromStdString(Env.File("camera.jpg"))).size(), QSize(20, 40));

  // Saved again after another edit, the upright tag stays.
  Form().Execute("FlipHorizontal");
  Form().Execute("Save");
  EXPECT_EQ(TagOf(Env.File("camera.jpg")), QImageIOHandler::TransformationNone);
}

TEST_F(SavedOrientationTest, UnturnedPixelsKeepTheTag) {
  WriteCameraJpeg(Env.File("camera.jpg"));
  Show(Env.File("camera.jpg"));
  // Turns that cancel out leave the pixels as the camera stored them.
  Form().Execute("RotateCW");
  Form().Execute("RotateCCW");
  Form().Execute("FlipVertical");
  Form().Execute("FlipVertical");
  ASSERT_TRUE(Form().IsImageModified());
  Form().Execute("Save");
  EXPECT_FALSE(Form().IsImageModified());
  EXPECT_EQ(TagOf(Env.File("camera.jpg")), QImageIOHandler::TransformationRotate90);
  // A resize is not a turn either.
  Form().ResizeImage(20, 10);
  Form().Execute("Save");
  EXPECT_EQ(TagOf(Env.File("camera.jpg")), QImageIOHandler::TransformationRotate90);
  EXPECT_EQ(QImageReader(QString::fromStdString(Env.File("camera.jpg"))).size(), QSize(20, 10));
}

// The camera's thumbnail was stored as the pixels were: written with the
// turned pixels under Orientation 1 it would show on its side (or, from an
// upright camera, turned the other way), so it is left out, its bytes too
// where they end the block; the camera's other tags stay. Unturned pixels
// keep it as it was.
TEST_F(SavedOrientationTest, TurnedPixelsAreSavedWithoutTheCamerasThumbnail) {
  const QByteArray Thumbnail = SmallJpeg();
  ASSERT_FALSE(Thumbnail.isEmpty());
  struct TCase {
    const char* Name;
    bool Tail;
    std::uint32_t Orientation;
  };
  const TCase Cases[] = {{"tail.jpg", true, 6}, {"front.jpg", false, 6}, {"upright.jpg", true, 1}};
  // All written before the folder is shown.
  for (const TCase& c : Cases) WriteCameraJpeg(Env.File(c.Name), CameraExif(Thumbnail, c.Tail, c.Orientation));
  for (const TCase& c : Cases) {
    SCOPED_TRACE(c.Name);
    const std::string Path = Env.File(c.Name);
    EXPECT_EQ(Read(Path).ThumbnailWidth, 8);

    Show(Path);
    Form().Execute("RotateCW");
    Form().Execute("RotateCCW");
    Form().Execute("Save");
    EXPECT_EQ(Read(Path).ThumbnailWidth, 8);
    EXPECT_TRUE(Saved(Path).contains(Thumbnail));

    Form().Execute("RotateCW");
    Form().Execute("Save");
    const TRead Upright = Read(Path);
    EXPECT_EQ(Upright.Orientation, 1);
    EXPECT_EQ(Upright.ThumbnailWidth, 0);
    EXPECT_EQ(Upright.Make, "Camera Co");
    EXPECT_EQ(Upright.ExifWidth, 40);
    EXPECT_EQ(Saved(Path).contains(Thumbnail), !c.Tail);
    EXPECT_EQ(TagOf(Path), QImageIOHandler::TransformationNone);
  }
}

// The thumbnail is left out of the bytes written, not out of the shown
// picture: after a turned copy written beside it, or a write that failed,
// the picture turned back and saved over its own file keeps a thumbnail
// still right for it.
TEST_F(SavedOrientationTest, ACopyOrAFailedWriteLeavesTheShownFilesThumbnail) {
  const QByteArray Thumbnail = SmallJpeg();
  TSaveAsForm SaveAs;
  Form().FormsCreated();
  // The second copy's write fails as it would take its name.
  const std::string Copies[] = {"copy.jpg", "failing.jpg"};
  platform::FileOpCallFault = [&](const char* Call, const std::string& Path) {
    return std::strcmp(Call, "renameat2") == 0 && Path == Env.File("failing.jpg") ? EIO : 0;
  };
  const auto NameFor = [](const std::string& Copy) { return "camera" + std::to_string(Copy.size()) + ".jpg"; };
  // All written before the folder is shown.
  for (const std::string& Copy : Copies) WriteCameraJpeg(Env.File(NameFor(Copy)), CameraExif(Thumbnail, true, 6));
  for (const std::string& Copy : Copies) {
    SCOPED_TRACE(Copy.size());
    const std::string Path = Env.File(NameFor(Copy));
    Show(Path);
    ASSERT_EQ(Form().CurrentFileName().toStdString(), NameFor(Copy));
    Form().Execute("RotateCW");
    TSaveAsForm::ModalAnswer = [&](TSaveAsForm& F) {
      ASSERT_TRUE(apptest::WaitUntil([&] { return !F.SxShellList->Loading(); }));
      F.EdtFileName->setText(QString::fromStdString(Copy));
      F.CBOpenSavedImage->setChecked(false);
      F.SBtnSave->Click();
    };
    Form().Execute("SaveAs");
    TSaveAsForm::ModalAnswer = nullptr;
    Form().Execute("RotateCCW");
    Form().Execute("Save");
    EXPECT_FALSE(Form().IsImageModified());
    EXPECT_EQ(Read(Path).ThumbnailWidth, 8);
    EXPECT_TRUE(Saved(Path).contains(Thumbnail));
    EXPECT_EQ(TagOf(Path), QImageIOHandler::TransformationRotate90);
  }
  // The copy holds the turned pixels upright, without the thumbnail; the
  // failed write said so once.
  EXPECT_EQ(Read(Env.File("copy.jpg")).Orientation, 1);
  EXPECT_EQ(Read(Env.File("copy.jpg")).ThumbnailWidth, 0);
  EXPECT_EQ(Env.MessageBoxes.size(), 1);
  platform::FileOpCallFault = nullptr;
}

// Save As onto the shown file under another spelling (by a link to its
// folder) writes its own file: the camera's thumbnail left out of the bytes
// stays out of the shown picture too, and a later save of another edit
// does not write it back beside the turned pixels.
TEST_F(SavedOrientationTest, ASaveAsOntoTheShownFileByAnotherPathIsASaveOfItsOwnFile) {
  const QByteArray Thumbnail = SmallJpeg();
  const std::string Path = Env.File("camera.jpg");
  WriteCameraJpeg(Path, CameraExif(Thumbnail, true, 6));
  std::filesystem::create_directory_symlink(Env.Folder(), Env.File("link"));
  Show(Path);
  Form().Execute("RotateCW");
  Form().SaveAsPrompt = [&](const std::string&, std::string& Target, bool& OpenSaved) {
    Target = Env.File("link") + "/camera.jpg";
    OpenSaved = true;
    return 1;
  };
  Form().Execute("SaveAs");
  EXPECT_FALSE(Form().IsImageModified());
  EXPECT_EQ(Read(Path).ThumbnailWidth, 0);
  Form().ResizeImage(10, 20);
  Form().Execute("Save");
  EXPECT_EQ(Read(Path).ThumbnailWidth, 0);
  EXPECT_FALSE(Saved(Path).contains(Thumbnail));
  EXPECT_EQ(Read(Path).Orientation, 1);
}

// A camera picture's orientation tag after the window saved it: turned
// pixels are written upright, unturned ones keep the camera's tag.
#include "app/mainform.h"
#include "mainwindowhost.h"

#include <QFile>
#include <QImageReader>
#include <gtest/gtest.h>

using namespace app;

namespace {

// A 40 x 20 JPEG whose Exif block says Orientation 6 (to be turned a
// quarter clockwise), written after the JFIF header.
void WriteCameraJpeg(const std::string& Path) {
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
  const QByteArray Exif("Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 32);
  QByteArray App1("\xFF\xE1", 2);
  App1.append(static_cast<char>((Exif.size() + 2) >> 8)).append(static_cast<char>(Exif.size() + 2)).append(Exif);
  Data.insert(AfterJfif, App1);
  ASSERT_TRUE(File.open(QIODevice::WriteOnly));
  File.write(Data);
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

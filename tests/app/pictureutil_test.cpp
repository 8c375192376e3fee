#include "app/pictureutil.h"

#include "image/io/rastrumio.h"
#include "platform/graphics.h"
#include "platform/metafile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(ImageFileExtensionsTest, ThirtyTwoInTheDialogsOrder) {
  const char* expected[] = {".jpeg", ".jpg", ".jpe", ".cur", ".ico", ".bmp", ".dib", ".rle",
                            ".png",  ".wmf", ".emf", ".gif", ".pcx", ".jp2", ".j2k", ".jpc",
                            ".j2c",  ".tif", ".tiff", ".fax", ".g3n", ".g3f", ".tga", ".targa",
                            ".vda",  ".icb", ".vst", ".win", ".pxm", ".ppm", ".pgm", ".pbm"};
  ASSERT_EQ(app::ImageFileExtensions.size(), 32u);
  for (std::size_t i = 0; i < 32; ++i) EXPECT_STREQ(app::ImageFileExtensions[i], expected[i]) << i;
}

TEST(ImageFileExtensionsTest, IsImageFileExtension) {
  EXPECT_TRUE(app::IsImageFileExtension("/home/u/PHOTO.JPG"));
  EXPECT_TRUE(app::IsImageFileExtension(".TIFF"));
  EXPECT_TRUE(app::IsImageFileExtension("a.b.pbm"));
  EXPECT_FALSE(app::IsImageFileExtension(".jpeg2"));
  EXPECT_FALSE(app::IsImageFileExtension("picture"));
  EXPECT_FALSE(app::IsImageFileExtension("/x.jpg/picture")); // the dot is in a folder's name
  EXPECT_FALSE(app::IsImageFileExtension(""));
}

TEST(ImageTypeDescriptionTest, DescriptionsByExtension) {
  EXPECT_EQ(app::GetImageTypeDescription(".JP2"), "JPEG2000");
  EXPECT_EQ(app::GetImageTypeDescription("x.j2k"), "JPEG2000 Code Stream");
  EXPECT_EQ(app::GetImageTypeDescription("X.JPE"), "JPEG Bitmap");
  EXPECT_EQ(app::GetImageTypeDescription(".rle"), "Windows Bitmap");
  EXPECT_EQ(app::GetImageTypeDescription(".cur"), "Windows Cursor");
  EXPECT_EQ(app::GetImageTypeDescription(".emf"), "Enhanced Windows Metafile");
  EXPECT_EQ(app::GetImageTypeDescription(".g3f"), "TIFF Bitmap");
  EXPECT_EQ(app::GetImageTypeDescription(".win"), "Targa Bitmap");
  EXPECT_EQ(app::GetImageTypeDescription(".pxm"), "Portable Pixmap, GreyMap, BitMap");
  // Fragments and near misses of listed extensions.
  EXPECT_EQ(app::GetImageTypeDescription(""), "Unknown");
  EXPECT_EQ(app::GetImageTypeDescription("."), "Unknown");
  EXPECT_EQ(app::GetImageTypeDescription(".jp"), "Unknown");
  EXPECT_EQ(app::GetImageTypeDescription(".pg"), "Unknown");
  EXPECT_EQ(app::GetImageTypeDescription(".jpeg2"), "Unknown");
  EXPECT_EQ(app::GetImageTypeDescription("tif"), "Unknown");
}

TEST(ImageTypeDescriptionTest, EveryListedExtensionHasOne) {
  for (const char* ext : app::ImageFileExtensions) EXPECT_NE(app::GetImageTypeDescription(ext), "Unknown") << ext;
}

class SavePictureTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Fill(Source);
  }
  std::string Path(const char* name) const { return Dir.filePath(QString::fromLatin1(name)).toStdString(); }

  static void Fill(rv::TRastrumIO& io) {
    rv::TRvBitmap& b = *io.RvBitmap();
    b.Allocate(Width, Height, rv::rvpf24Bit);
    for (int y = 0; y < Height; ++y) {
      std::uint8_t* row = b.Scanline(y);
      for (int x = 0; x < Width; ++x) {
        row[3 * x] = std::uint8_t(x * 20);
        row[3 * x + 1] = std::uint8_t(y * 30);
        row[3 * x + 2] = std::uint8_t(200 - x * 10);
      }
    }
  }
  static bool SamePixels(rv::TRvBitmap& a, rv::TRvBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
    for (int y = 0; y < a.Height(); ++y) {
      std::vector<std::uint8_t> row(a.Scanline(y), a.Scanline(y) + 3 * a.Width());
      if (std::memcmp(row.data(), b.Scanline(y), row.size()) != 0) return false;
    }
    return true;
  }
  static QByteArray Bytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  static constexpr int Width = 12;
  static constexpr int Height = 7;
  QTemporaryDir Dir;
  rv::TRastrumIO Source;
};

TEST_F(SavePictureTest, LosslessFormatsRoundTrip) {
  for (const char* name : {"a.png", "b.BMP", "c.tif", "d.ppm", "e.tga"}) {
    app::SavePictureInFormat(Path(name), Source, false);
    rv::TRastrumIO back;
    back.LoadFromFile(Path(name));
    ASSERT_FALSE(back.Aborting) << name;
    back.RvBitmap()->ConvertPixelFormat(rv::rvpf24Bit);
    EXPECT_TRUE(SamePixels(*Source.RvBitmap(), *back.RvBitmap())) << name;
  }
}

TEST_F(SavePictureTest, JpegQualityFiftyBecomesEighty) {
  Source.Params().JpegQuality = 50;
  app::SavePictureInFormat(Path("saved.jpg"), Source, false);
  EXPECT_EQ(Source.Params().JpegQuality, 80);

  rv::TRastrumIO reference;
  Fill(reference);
  reference.Params().JpegQuality = 80;
  reference.SaveToFile(Path("q80.jpg"));
  EXPECT_EQ(Bytes(Path("saved.jpg")), Bytes(Path("q80.jpg")));

  rv::TRastrumIO back;
  back.LoadFromFile(Path("saved.jpg"));
  EXPECT_FALSE(back.Aborting);
  EXPECT_EQ(back.RvBitmap()->Width(), Width);
  EXPECT_EQ(back.RvBitmap()->Height(), Height);
}

TEST_F(SavePictureTest, OtherQualitiesAndKeepQualityStay) {
  Source.Params().JpegQuality = 60;
  app::SavePictureInFormat(Path("q60.jpg"), Source, false);
  EXPECT_EQ(Source.Params().JpegQuality, 60);

  Source.Params().JpegQuality = 50;
  app::SavePictureInFormat(Path("kept.jpg"), Source, true);
  EXPECT_EQ(Source.Params().JpegQuality, 50);
  rv::TRastrumIO reference;
  Fill(reference);
  reference.Params().JpegQuality = 50;
  reference.SaveToFile(Path("q50.jpg"));
  EXPECT_EQ(Bytes(Path("kept.jpg")), Bytes(Path("q50.jpg")));
}

TEST_F(SavePictureTest, AbortedSaveRaisesConversionError) {
  // No writer for icons or an unknown extension: the component gives up.
  for (const char* name : {"a.ico", "b.xyz"}) {
    try {
      app::SavePictureInFormat(Path(name), Source, false);
      ADD_FAILURE() << name << ": no exception";
    } catch (const app::EConvertError& e) {
      EXPECT_STREQ(e.what(), "Error converting to selected file format!");
    }
  }
}

TEST_F(SavePictureTest, MetafileFromTheDisplayBitmap) {
  platform::TBitmap display(30, 20, platform::pf24bit);
  display.Image().fill(QColor(10, 200, 30));
  app::SavePictureInFormat(Path("view.emf"), Source, false, &display);
  platform::TMetafile metafile;
  metafile.LoadFromFile(Path("view.emf"));
  EXPECT_TRUE(metafile.Enhanced());
  EXPECT_EQ(metafile.Width(), 30);
  EXPECT_EQ(metafile.Height(), 20);

  rv::TRastrumIO back;
  back.LoadFromFile(Path("view.emf"));
  ASSERT_FALSE(back.Aborting);
  rv::TRvBitmap& read = *back.RvBitmap();
  ASSERT_EQ(read.PixelFormat(), rv::rvpf24Bit);
  ASSERT_GT(read.Width(), 10);
  const std::uint8_t* centre = read.Scanline(read.Height() / 2) + 3 * (read.Width() / 2);
  EXPECT_NEAR(centre[0], 30, 2);  // blue
  EXPECT_NEAR(centre[1], 200, 2); // green
  EXPECT_NEAR(centre[2], 10, 2);  // red
}

TEST_F(SavePictureTest, MetafileFromTheComponentsOwnPicture) {
  // A stand-alone component has no display bitmap: its picture is drawn.
  app::SavePictureInFormat(Path("own.WMF"), Source, false);
  platform::TMetafile metafile;
  metafile.LoadFromFile(Path("own.WMF"));
  EXPECT_EQ(metafile.Width(), Width);
  EXPECT_EQ(metafile.Height(), Height);
}

TEST_F(SavePictureTest, EmptyPictureIsNotSavedAsMetafile) {
  platform::TBitmap empty;
  EXPECT_THROW(app::SavePictureInFormat(Path("empty.emf"), Source, false, &empty), platform::EInvalidGraphic);
  EXPECT_FALSE(std::filesystem::exists(Path("empty.emf")));
}

TEST(ConvertGraphicTest, MetafileStaysBitmapBecomesOne) {
  QImage image(5, 3, QImage::Format_RGB32);
  image.fill(Qt::red);
  app::TPicture picture;
  picture.Assign(image);
  app::ConvertGraphicToMetafile(picture);
  ASSERT_TRUE(picture.IsMetafile());
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(picture.Height(), 3);
  const std::vector<std::uint8_t> bytes = picture.Metafile().Data();
  app::ConvertGraphicToMetafile(picture);
  EXPECT_EQ(picture.Metafile().Data(), bytes);
}

} // namespace

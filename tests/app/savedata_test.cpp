// The silent save of a turned picture keeps what its file held beyond the
// pixels: a phone's video after a JPEG, saved again and again, the XMP
// orientation and the Exif resolution turned with the pixels. Files are
// made and read back by ImageMagick and the other reference tools.
#include "app/saveover.h"
#include "image/io/rastrumio.h"
#include "mainwindowhost.h"
#include "reftools.h"

#include <QFile>
#include <cmath>
#include <gtest/gtest.h>

using namespace app;

namespace {

using apptest::Bytes;
using apptest::Q;

// What a tool prints, its arguments separated by "|"; empty when it fails.
QByteArray Tool(const char* Program, const QString& Arguments) {
  return apptest::Tool(QString::fromLatin1(Program), apptest::Args(Arguments));
}
void Write(const std::string& Path, const QByteArray& Data) { ASSERT_TRUE(apptest::WriteBytes(Path, Data)); }

// An Exif block, big-endian: orientation 6, resolution 300 x 150 an inch.
const QByteArray CameraExif("Exif\0\0MM\0\x2A\0\0\0\x08\0\x03\x01\x12\0\x03\0\0\0\x01\0\x06\0\0"
                            "\x01\x1A\0\x05\0\0\0\x01\0\0\0\x32\x01\x1B\0\x05\0\0\0\x01\0\0\0\x3A\0\0\0\0"
                            "\0\0\x01\x2C\0\0\0\x01\0\0\0\x96\0\0\0\x01",
                            72);

// A phone's XMP: a video of Length bytes ends the file; orientation 6.
QByteArray PhoneXmp(qsizetype Length, char Orientation = '6') {
  return QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
         QStringLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:Description xmlns:GCamera=\"http://ns.google.com/"
                        "photos/1.0/camera/\" xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" GCamera:MicroVideo=\"1\" "
                        "GCamera:MicroVideoOffset=\"%1\"><tiff:Orientation>%2</tiff:Orientation></rdf:Description>"
                        "</x:xmpmeta>")
             .arg(Length)
             .arg(QChar::fromLatin1(Orientation))
             .toLatin1();
}

class SaveDataTest : public ::testing::Test, protected apptest::TMainWindowHost {
protected:
  void SetUp() override {
    if (Tool("convert", "-version").isEmpty()) GTEST_SKIP() << "ImageMagick is not installed";
    Env.Picture("zz.png", 40, 30);
  }
  void TurnAndLeave(const std::string& Path) {
    Show(Path);
    Form().Execute("RotateCW");
    Form().Execute("NextImage");
    Loaded();
  }
  // The mean difference of the samples of A and of B turned by ImageMagick.
  static double MeanDifference(const std::string& A, const std::string& B) {
    const QByteArray X = Tool("convert", Q(A) + "|rgb:-"), Y = Tool("convert", Q(B) + "|-rotate|90|rgb:-");
    if (X.isEmpty() || X.size() != Y.size()) return 255;
    double Sum = 0;
    for (qsizetype I = 0; I < X.size(); ++I) Sum += std::abs(int(uchar(X[I])) - int(uchar(Y[I])));
    return Sum / double(X.size());
  }
};

} // namespace

// Ctrl+R and the next picture: the turned picture is written with the
// video that followed it, byte for byte, where the XMP's offset from the
// end still finds it; the orientation is upright in Exif and XMP alike, the
// Exif resolution turned and the JFIF header of a ratio only as it was.
// Saved twice more, as the file now is, the video stays.
TEST_F(SaveDataTest, APhonesVideoFollowsTheTurnedPicture) {
  const std::string Path = Env.File("phone.jpg"), Was = Env.File("was.jpg"), Clip = Env.File("clip.mp4");
  Tool("convert", "-size|480x320|gradient:red-navy|-fill|white|-draw|circle 100,100 140,140|-quality|92|" + Q(Path));
  Tool("ffmpeg", "-v|error|-f|lavfi|-i|testsrc=duration=2:size=96x64:rate=10|-pix_fmt|yuv420p|" + Q(Clip));
  const QByteArray Video = Bytes(Clip).isEmpty() ? QByteArray(200000, 'v') : Bytes(Clip);
  QByteArray Jpeg = Bytes(Path);
  for (const QByteArray& Block : {PhoneXmp(Video.size()), CameraExif})
    Jpeg.insert(20, "\xFF\xE1" + QByteArray(1, char((Block.size() + 2) >> 8)) + char(Block.size() + 2) + Block);
  Write(Path, Jpeg + Video);
  ASSERT_TRUE(QFile::copy(Q(Path), Q(Was)));

  TurnAndLeave(Path);
  EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpDetail.toStdString();
  const QByteArray Saved = Bytes(Path);
  ASSERT_TRUE(Saved.endsWith(Video));
  EXPECT_EQ(Saved.mid(Saved.size() - Video.size() - 2, 2), "\xFF\xD9");
  EXPECT_TRUE(Saved.contains(PhoneXmp(Video.size(), '1')));
  EXPECT_EQ(Tool("identify", "-format|%w %h %[exif:Orientation] %[exif:XResolution] %[exif:YResolution]|" + Q(Path)),
            "320 480 1 150/1 300/1");
  EXPECT_EQ(Saved.mid(2, 18), Jpeg.mid(2, 18));
  // Within what a JPEG's coding again moves the pixels: 0.67 of 255 measured.
  EXPECT_LT(MeanDifference(Path, Was), 2.0);
  Write(Env.File("out.mp4"), Saved.right(Video.size()));
  if (!Bytes(Clip).isEmpty())
    EXPECT_EQ(Tool("ffprobe", "-v|error|-show_entries|stream=width,height|-of|csv=p=0|" + Q(Env.File("out.mp4"))),
              "96,64\n");
  Show(Path);
  for (int I = 0; I < 2; ++I) {
    Form().Execute("RotateCW");
    Form().Execute("Save");
  }
  EXPECT_TRUE(Bytes(Path).endsWith(Video));
  EXPECT_EQ(Tool("identify", "-format|%w %h|" + Q(Path)), "320 480");
}

// An MPF index that places a picture inside the picture itself: what
// follows the picture is named, for the save leaves it out.
TEST(SavePlan, AnIndexTheSaveCannotKeepIsNamed) {
  rv::TIOParamsVals Params;
  Params.Trailer.Length = 5000;
  Params.Trailer.Unplaced = 2;
  const TSaveSubject Subject{"/nowhere/a.jpg", "/nowhere/a.jpg", true, &Params};
  EXPECT_EQ(PlanSave(Subject).Lost, QStringList{"All the file holds after the picture: its index places 2 pictures in it"});
}

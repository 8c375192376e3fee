// The silent save of a turned picture keeps what its file held beyond the
// pixels: a phone's video after a JPEG, the XMP orientation and the Exif
// resolution turned with the pixels, a PNM file's form and maximum. What it
// cannot keep - a metafile's drawing, a JPEG-2000 file's transparency, a
// depth over 8 bits - it asks about. Files are made and read back by
// ImageMagick and the other reference tools.
#include "app/saveover.h"
#include "image/io/rastrumio.h"
#include "mainwindowhost.h"

#include <QFile>
#include <QProcess>
#include <cmath>
#include <gtest/gtest.h>

using namespace app;

namespace {

QString Q(const std::string& Text) { return QString::fromStdString(Text); }

// What a tool prints, its arguments separated by "|"; empty when it fails.
QByteArray Tool(const char* Program, const QString& Arguments) {
  QProcess P;
  P.start(QString::fromLatin1(Program), Arguments.split('|'));
  if (!P.waitForFinished(60000) || P.exitStatus() != QProcess::NormalExit || P.exitCode() != 0) return {};
  return P.readAllStandardOutput();
}
QByteArray Bytes(const std::string& Path) {
  QFile File(Q(Path));
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}
void Write(const std::string& Path, const QByteArray& Data) {
  QFile File(Q(Path));
  ASSERT_TRUE(File.open(QIODevice::WriteOnly) && File.write(Data) == Data.size());
}

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

// A placeable WMF of 640 x 480 pixels (1440 units an inch): a red
// rectangle and a blue ellipse.
QByteArray TwoShapes() {
  QByteArray W;
  const auto Words = [&](std::initializer_list<int> Values) {
    for (int V : Values) W.append(char(V & 0xFF)).append(char((V >> 8) & 0xFF));
  };
  Words({0xCDD7, 0x9AC6, 0, 0, 0, 9600, 7200, 1440, 0, 0});
  quint16 Check = 0;
  for (int I = 0; I < 20; I += 2) Check ^= quint16(uchar(W[I]) | uchar(W[I + 1]) << 8);
  Words({Check, 1, 9, 0x300, 58, 0, 2, 7, 0, 0, 5, 0, 0x20B, 0, 0, 5, 0, 0x20C, 7200, 9600});
  Words({7, 0, 0x2FC, 0, 0x00FF, 0, 0, 4, 0, 0x12D, 0, 7, 0, 0x41B, 5000, 6000, 1000, 1000});
  Words({7, 0, 0x2FC, 0, 0, 0xFF, 0, 4, 0, 0x12D, 1, 7, 0, 0x418, 6800, 9000, 3000, 4000, 3, 0, 0});
  return W;
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

// What the save cannot keep is named: a metafile's drawing (written, when
// the user says so, as the kind of metafile its name says), a JPEG-2000
// file's opacity, a PNM file's bits below the picture's 8. A PNM file of
// a maximum of 15 in plain form is kept as it was, turned.
TEST_F(SaveDataTest, WhatCannotBeKeptIsNamedAndAPlainPnmIsKept) {
  Write(Env.File("plan.wmf"), TwoShapes());
  platform::TMetafile Emf;
  Emf.Assign(QImage(Q(Env.Picture("src.png", 500, 400))));
  Write(Env.File("plan.emf"), QByteArray(reinterpret_cast<const char*>(Emf.Data().data()), qsizetype(Emf.Data().size())));
  Tool("convert", "-size|480x320|gradient:red-blue|-alpha|set|-channel|A|-fx|i/w|+channel|PNG32:" + Q(Env.File("a.png")));
  Tool("opj_compress", "-i|" + Q(Env.File("a.png")) + "|-o|" + Q(Env.File("rgba.jp2")));
  Tool("convert", "-size|480x320|gradient:red-blue|-depth|16|" + Q(Env.File("deep.ppm")));
  QByteArray Plain("P2\n480 320\n15\n");
  for (int I = 0; I < 480 * 320; ++I) Plain += QByteArray::number(I % 480 / 30) + (I % 16 == 15 ? "\n" : " ");
  Write(Env.File("plain.pgm"), Plain);
  const QString Drawing = " - The drawing: its shapes are saved as a picture of pixels";
  const struct {
    const char* Name;
    QString Lost;
    QByteArray Written; // how the file written begins
  } Cases[] = {{"plan.wmf", Drawing, QByteArray("\xD7\xCD\xC6\x9A", 4)},
               {"plan.emf", Drawing, QByteArray("\x01\0\0\0", 4)},
               {"rgba.jp2", " - The transparency", QByteArray("\0\0\0\x0CjP  ", 8)},
               {"deep.ppm", " - The 16-bit depth of its colours (the picture is saved at 8 bits)", "P6 "},
               {"plain.pgm", {}, "P2 "}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = Env.File(C.Name), Was = Env.File(std::string("was-") + C.Name);
    ASSERT_TRUE(QFile::copy(Q(Path), Q(Was)));
    Env.HelpShown = 0;
    Env.HelpAnswer = 1;
    TurnAndLeave(Path);
    EXPECT_EQ(Env.HelpShown, C.Lost.isEmpty() ? 0 : 1);
    if (!C.Lost.isEmpty()) EXPECT_EQ(Env.LastHelpDetail.split('\n').value(0), C.Lost);
    EXPECT_TRUE(Bytes(Path).startsWith(C.Written));
    if (C.Lost == Drawing) {
      platform::TMetafile Turned;
      Turned.LoadFromFile(Path);
      EXPECT_LT(Turned.Width(), Turned.Height());
    }
  }
  EXPECT_EQ(Tool("pamfile", Q(Env.File("plain.pgm"))).split('\t').value(1), "PGM plain, 320 by 480  maxval 15\n");
  EXPECT_EQ(MeanDifference(Env.File("plain.pgm"), Env.File("was-plain.pgm")), 0);
}

// An MPF index that places a picture inside the picture itself: what
// follows the picture is named, for the save leaves it out.
TEST(SavePlan, AnIndexTheSaveCannotKeepIsNamed) {
  rv::TIOParamsVals Params;
  Params.JpegTrailer.Length = 5000;
  Params.JpegTrailer.Unplaced = 2;
  const TSaveSubject Subject{"/nowhere/a.jpg", "/nowhere/a.jpg", true, &Params};
  EXPECT_EQ(PlanSave(Subject).Lost, QStringList{"All the file holds after the picture: its index places 2 pictures in it"});
}

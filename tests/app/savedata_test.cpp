// The silent save of a turned picture keeps what its file held beyond the
// pixels: a phone's video and an MPF index's second picture after a JPEG,
// the XMP orientation and the Exif resolution turned with the pixels, a
// PNM file's form and maximum. What it cannot keep - a metafile's drawing,
// a JPEG-2000 file's transparency, a depth over 8 bits - it asks about.
// Files are made and read back by ImageMagick and the other reference tools.
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

QByteArray Tool(const QString& Program, const QStringList& Arguments) {
  QProcess P;
  P.start(Program, Arguments);
  if (!P.waitForFinished(60000) || P.exitStatus() != QProcess::NormalExit || P.exitCode() != 0) return {};
  return P.readAllStandardOutput();
}
QByteArray Magick(const QString& Arguments) { return Tool(QStringLiteral("convert"), Arguments.split('|')); }
QByteArray Bytes(const std::string& Path) {
  QFile File(Q(Path));
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}
void Write(const std::string& Path, const QByteArray& Data) {
  QFile File(Q(Path));
  ASSERT_TRUE(File.open(QIODevice::WriteOnly) && File.write(Data) == Data.size());
}
quint32 Le32(const QByteArray& B, qsizetype At) {
  return quint32(uchar(B[At])) | quint32(uchar(B[At + 1])) << 8 | quint32(uchar(B[At + 2])) << 16 |
         quint32(uchar(B[At + 3])) << 24;
}
QByteArray AsLe32(quint32 V) {
  const char B[4] = {char(V), char(V >> 8), char(V >> 16), char(V >> 24)};
  return QByteArray(B, 4);
}

// A JPEG with these APPn blocks (marker, data) after its JFIF header.
QByteArray WithBlocks(QByteArray Jpeg, const QList<QPair<char, QByteArray>>& Blocks) {
  qsizetype At = 4 + ((uchar(Jpeg[4]) << 8) | uchar(Jpeg[5]));
  for (const auto& [Marker, Data] : Blocks) {
    QByteArray Block = QByteArray("\xFF") + Marker;
    Block.append(char((Data.size() + 2) >> 8)).append(char(Data.size() + 2)).append(Data);
    Jpeg.insert(At, Block);
    At += Block.size();
  }
  return Jpeg;
}

// An Exif block, big-endian: orientation 6, resolution 300 x 150 an inch.
const QByteArray CameraExif("Exif\0\0MM\0\x2A\0\0\0\x08\0\x03\x01\x12\0\x03\0\0\0\x01\0\x06\0\0"
                            "\x01\x1A\0\x05\0\0\0\x01\0\0\0\x32\x01\x1B\0\x05\0\0\0\x01\0\0\0\x3A\0\0\0\0"
                            "\0\0\x01\x2C\0\0\0\x01\0\0\0\x96\0\0\0\x01",
                            6 + 8 + 2 + 36 + 4 + 16);

// A phone's XMP: a video of Length bytes ends the file, orientation 6.
QByteArray PhoneXmp(qsizetype Length) {
  return QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
         QStringLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/"
                        "22-rdf-syntax-ns#\"><rdf:Description xmlns:GCamera=\"http://ns.google.com/photos/1.0/camera/\""
                        " xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" GCamera:MicroVideo=\"1\""
                        " GCamera:MicroVideoOffset=\"%1\" tiff:Orientation=\"6\"/></rdf:RDF></x:xmpmeta>")
             .arg(Length)
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
  Words({Check});
  Words({1, 9, 0x300, 58, 0, 2, 7, 0, 0});
  Words({5, 0, 0x20B, 0, 0, 5, 0, 0x20C, 7200, 9600});
  Words({7, 0, 0x2FC, 0, 0x00FF, 0, 0, 4, 0, 0x12D, 0, 7, 0, 0x41B, 5000, 6000, 1000, 1000});
  Words({7, 0, 0x2FC, 0, 0, 0xFF, 0, 4, 0, 0x12D, 1, 7, 0, 0x418, 6800, 9000, 3000, 4000});
  Words({3, 0, 0});
  return W;
}

class SaveDataTest : public ::testing::Test, protected apptest::TMainWindowHost {
protected:
  void SetUp() override {
    if (Magick(QStringLiteral("-version")).isEmpty()) GTEST_SKIP() << "ImageMagick is not installed";
    Env.Picture("zz.png", 40, 30);
  }
  std::string Photo(const char* Name) {
    const std::string Path = Env.File(Name);
    Magick(QStringLiteral("-size|480x320|gradient:red-navy|-fill|white|-draw|circle 100,100 140,140|-quality|92|") +
           Q(Path));
    return Path;
  }
  void TurnAndLeave(const std::string& Path) {
    Show(Path);
    Form().Execute("RotateCW");
    ASSERT_TRUE(Form().IsImageModified());
    Form().Execute("NextImage");
    Loaded();
  }
  // Mean and largest difference of two files' samples, as ImageMagick
  // decodes them, after its options for the second.
  static std::pair<double, int> Difference(const std::string& A, const std::string& B, const QString& Options) {
    const QByteArray X = Magick(Q(A) + QStringLiteral("|rgb:-")), Y = Magick(Q(B) + "|" + Options + "|rgb:-");
    if (X.isEmpty() || X.size() != Y.size()) return {1e9, 255};
    double Sum = 0;
    int Largest = 0;
    for (qsizetype I = 0; I < X.size(); ++I) {
      const int D = std::abs(int(uchar(X[I])) - int(uchar(Y[I])));
      Sum += D;
      Largest = std::max(Largest, D);
    }
    return {Sum / double(X.size()), Largest};
  }
};

} // namespace

// Ctrl+R and the next picture: the turned picture is written with the
// video that followed it, byte for byte, where the XMP's offset from the
// end still finds it; the orientation is upright in Exif and XMP alike and
// the Exif resolution is turned as the JFIF one. Saved twice over, as the
// file now is, the video stays.
TEST_F(SaveDataTest, APhonesVideoFollowsTheTurnedPicture) {
  QByteArray Video;
  const std::string Clip = Env.File("clip.mp4");
  if (!Tool(QStringLiteral("ffmpeg"), QStringLiteral("-v|error|-f|lavfi|-i|testsrc=duration=2:size=96x64:rate=10|"
                                                     "-pix_fmt|yuv420p|%1").arg(Q(Clip)).split('|'))
           .isNull())
    Video = Bytes(Clip);
  if (Video.isEmpty()) Video = QByteArray(200000, 'v');
  const std::string Path = Photo("phone.jpg");
  Write(Path, WithBlocks(Bytes(Path), {{'\xE1', CameraExif}, {'\xE1', PhoneXmp(Video.size())}}) + Video);
  const std::string Was = Env.File("before.jpg");
  ASSERT_TRUE(QFile::copy(Q(Path), Q(Was)));

  TurnAndLeave(Path);
  EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpDetail.toStdString();
  const QByteArray Saved = Bytes(Path);
  ASSERT_TRUE(Saved.endsWith(Video));
  const qsizetype Start = Saved.size() - Video.size();
  EXPECT_EQ(Saved.mid(Start - 2, 2), QByteArray("\xFF\xD9"));
  EXPECT_TRUE(Saved.contains(PhoneXmp(Video.size()).replace("tiff:Orientation=\"6\"", "tiff:Orientation=\"1\"")));
  EXPECT_EQ(Tool(QStringLiteral("identify"), {QStringLiteral("-format"),
                                              QStringLiteral("%w %h %[exif:Orientation] %[exif:XResolution] "
                                                             "%[exif:YResolution]"),
                                              Q(Path)}),
            "320 480 1 150/1 300/1");
  // The JFIF header of a ratio only, as the file had it.
  EXPECT_EQ(Saved.mid(2, 18), Bytes(Was).mid(2, 18));
  // The pixels: ImageMagick's turn of the file, within what a JPEG's
  // coding again moves them.
  const auto [Mean, Largest] = Difference(Path, Was, QStringLiteral("-rotate|90"));
  EXPECT_LT(Mean, 2.0) << Largest;
  RecordProperty("MeanDifference", QString::number(Mean, 'f', 3).toStdString());
  RecordProperty("LargestDifference", Largest);
  if (Video != QByteArray(200000, 'v')) {
    Write(Env.File("out.mp4"), Saved.mid(Start));
    EXPECT_EQ(Tool(QStringLiteral("ffprobe"), QStringLiteral("-v|error|-show_entries|stream=width,height|-of|csv=p=0|%1")
                                                   .arg(Q(Env.File("out.mp4")))
                                                   .split('|')),
              "96,64\n");
  }
  // Turned and saved again, twice, without a read between.
  Show(Path);
  for (int I = 0; I < 2; ++I) {
    Form().Execute("RotateCW");
    Form().Execute("Save");
  }
  EXPECT_TRUE(Bytes(Path).endsWith(Video));
  EXPECT_EQ(Tool(QStringLiteral("identify"), {QStringLiteral("-format"), QStringLiteral("%w %h"), Q(Path)}), "320 480");
}

// An MPF index places a second picture after the first: turned, the first
// is written anew and the second after it, the index measuring the one and
// finding the other.
TEST_F(SaveDataTest, AnMpfIndexFindsItsSecondPictureAfterTheTurnedOne) {
  const QByteArray Second = Bytes(Env.Picture("second.jpg", 64, 48));
  ASSERT_FALSE(Second.isEmpty());
  QByteArray Index("MPF\0II\x2A\0\x08\0\0\0\x03\0", 14);
  for (const auto& Entry : {QList<quint32>{0xB000, 7, 4, 0x30303130}, {0xB001, 4, 1, 2}, {0xB002, 7, 32, 50}})
    Index += AsLe32(Entry[0] | Entry[1] << 16) + AsLe32(Entry[2]) + AsLe32(Entry[3]);
  Index += QByteArray(4 + 32, '\0');
  const std::string Path = Photo("mpf.jpg");
  QByteArray File = WithBlocks(Bytes(Path), {{'\xE2', Index}});
  const qsizetype Base = File.indexOf("MPF") + 4, Entries = Base + 50;
  File.replace(Entries, 32, AsLe32(0x030000) + AsLe32(quint32(File.size())) + AsLe32(0) + AsLe32(0) + AsLe32(0) +
                                AsLe32(quint32(Second.size())) + AsLe32(quint32(File.size() - Base)) + AsLe32(0));
  Write(Path, File + Second);

  TurnAndLeave(Path);
  EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpDetail.toStdString();
  const QByteArray Saved = Bytes(Path);
  const qsizetype NewBase = Saved.indexOf("MPF") + 4, First = Saved.size() - Second.size();
  ASSERT_TRUE(Saved.endsWith(Second));
  EXPECT_EQ(Le32(Saved, NewBase + 50 + 4), quint32(First));
  EXPECT_EQ(NewBase + Le32(Saved, NewBase + 50 + 24), First);
  EXPECT_EQ(Tool(QStringLiteral("identify"), {QStringLiteral("-format"), QStringLiteral("%w %h "), Q(Path)}),
            "320 480 ");
}

// What the save cannot keep is named: a metafile's drawing (written, when
// the user says so, as the kind of metafile its name says), a JPEG-2000
// file's opacity, a PNM file's bits below the picture's 8. A PNM file of
// a maximum of 15 in plain form is kept as it was, turned.
TEST_F(SaveDataTest, WhatCannotBeKeptIsNamedAndAPlainPnmIsKept) {
  Write(Env.File("plan.wmf"), TwoShapes());
  {
    platform::TMetafile Emf;
    Emf.Assign(QImage(Q(Env.Picture("src.png", 500, 400))));
    Write(Env.File("plan.emf"), QByteArray(reinterpret_cast<const char*>(Emf.Data().data()), qsizetype(Emf.Data().size())));
  }
  Magick(QStringLiteral("-size|480x320|gradient:red-blue|-alpha|set|-channel|A|-fx|i/w|+channel|PNG32:") +
         Q(Env.File("rgba.png")));
  Tool(QStringLiteral("opj_compress"), {"-i", Q(Env.File("rgba.png")), "-o", Q(Env.File("rgba.jp2"))});
  Magick(QStringLiteral("-size|480x320|gradient:red-blue|-depth|16|") + Q(Env.File("deep.ppm")));
  QByteArray Plain("P2\n480 320\n15\n");
  for (int I = 0; I < 480 * 320; ++I) Plain += QByteArray::number(I % 480 * 16 / 480) + (I % 16 == 15 ? "\n" : " ");
  Write(Env.File("plain.pgm"), Plain);
  const struct {
    const char* Name;
    QString Lost;
    QByteArray Written; // how the file written begins
  } Cases[] = {
      {"plan.wmf", " - The drawing: its shapes are saved as a picture of pixels", QByteArray("\xD7\xCD\xC6\x9A", 4)},
      {"plan.emf", " - The drawing: its shapes are saved as a picture of pixels", QByteArray("\x01\0\0\0", 4)},
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
    if (std::string(C.Name).find("plan") == 0) {
      platform::TMetafile Turned;
      Turned.LoadFromFile(Path);
      EXPECT_LT(Turned.Width(), Turned.Height());
    }
    if (C.Lost.isEmpty()) {
      EXPECT_EQ(Tool(QStringLiteral("pamfile"), {Q(Path)}).split('\t').value(1), "PGM plain, 320 by 480  maxval 15\n");
      EXPECT_EQ(Difference(Path, Was, QStringLiteral("-rotate|90")).second, 0);
    }
  }
}

// The lines of the question for what the parameters of a file say.
TEST(SavePlan, TheDataAfterAJpegsPictureAndAJpeg2000FilesComponentsAreNamed) {
  rv::TIOParamsVals Params;
  TSaveSubject Subject;
  Subject.OverShown = true;
  Subject.Params = &Params;
  Subject.Shown = Subject.Target = "/nowhere/a.jpg";
  Params.JpegTrailer.Length = 5000;
  EXPECT_TRUE(PlanSave(Subject).Lost.isEmpty());
  Params.JpegTrailer.Unplaced = 2;
  EXPECT_EQ(PlanSave(Subject).Lost, QStringList{"All the file holds after the picture: its index places 2 pictures in it"});
  Subject.Shown = Subject.Target = "/nowhere/a.jp2";
  Params.J2000ComponentsLeftOut = 3;
  Params.J2000AlphaLeftOut = true;
  EXPECT_EQ(PlanSave(Subject).Lost,
            QStringList({"The transparency", "2 components of the file that were not read"}));
  // The picture's own transparency is not named twice.
  Subject.Transparent = true;
  EXPECT_EQ(PlanSave(Subject).Lost.count("The transparency"), 1);
}

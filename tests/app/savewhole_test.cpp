// A save over a picture's file writes back all the file held: the other
// pages of a TIFF file and the frames of an animation (turned with the
// picture), a colour profile and transparency; what it cannot write back
// (a depth over 8 bits, frames an edit other than a turn cannot reach,
// transparency a format cannot hold) is asked about first. Files are made
// and read back by ImageMagick.
#include "app/mainform.h"
#include "app/saveover.h"
#include "apptestenv.h"
#include "mainwindowhost.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace app;

namespace {

// What a reference tool prints; empty when it fails.
QByteArray Tool(const QString& Program, const QStringList& Arguments) {
  QProcess P;
  P.start(Program, Arguments);
  if (!P.waitForFinished(60000) || P.exitStatus() != QProcess::NormalExit || P.exitCode() != 0) return {};
  return P.readAllStandardOutput();
}
QByteArray Magick(const QStringList& Arguments) { return Tool(QStringLiteral("convert"), Arguments); }
QByteArray Identify(const std::string& Path, const char* Format) {
  return Tool(QStringLiteral("identify"), {QStringLiteral("-format"), QString::fromLatin1(Format), QString::fromStdString(Path)});
}
QByteArray Bytes(const std::string& Path) {
  QFile File(QString::fromStdString(Path));
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

// A small RGB display profile as colour-managed programs write them: a
// header, the colourants, white point, curves and texts.
QByteArray Profile() {
  auto Be32 = [](QByteArray& B, quint32 V) { B.append(char(V >> 24)).append(char(V >> 16)).append(char(V >> 8)).append(char(V)); };
  auto Xyz = [&](double X, double Y, double Z) {
    QByteArray B("XYZ \0\0\0\0", 8);
    for (double V : {X, Y, Z}) Be32(B, quint32(qint32(V * 65536)));
    return B;
  };
  const QByteArray Curve("curv\0\0\0\0\0\0\0\x01\x02\x33\0\0", 16);
  const QList<QPair<QByteArray, QByteArray>> Tags = {
      {"cprt", QByteArray("text\0\0\0\0No copyright\0\0\0\0", 24)}, {"wtpt", Xyz(0.9642, 1, 0.8249)},
      {"rXYZ", Xyz(0.4361, 0.2225, 0.0139)}, {"gXYZ", Xyz(0.3851, 0.7169, 0.0971)},
      {"bXYZ", Xyz(0.1431, 0.0606, 0.7141)}, {"rTRC", Curve}, {"gTRC", Curve}, {"bTRC", Curve}};
  QByteArray Table, Data;
  Be32(Table, quint32(Tags.size()));
  for (const auto& [Signature, Value] : Tags) {
    Table += Signature;
    Be32(Table, quint32(128 + 4 + 12 * Tags.size() + Data.size()));
    Be32(Table, quint32(Value.size()));
    Data += Value;
  }
  QByteArray Header(128, '\0');
  qToBigEndian<quint32>(quint32(128 + Table.size() + Data.size()), Header.data());
  Header.replace(8, 4, QByteArray("\x02\x10\0\0", 4));
  Header.replace(12, 12, "mntrRGB XYZ ");
  Header.replace(36, 4, "acsp");
  Header.replace(68, 12, QByteArray("\0\0\xF6\xD6\0\x01\0\0\0\0\xD3\x2D", 12));
  return Header + Table + Data;
}

class SaveWholeTest : public ::testing::Test, protected apptest::TMainWindowHost {
protected:
  void SetUp() override {
    if (Magick({QStringLiteral("-version")}).isEmpty()) GTEST_SKIP() << "ImageMagick is not installed";
    // Somewhere to step to: the silent save runs on the way.
    Env.Picture("zz.png", 40, 30);
  }
  // A 480 x 320 picture by ImageMagick: a gradient from Fill to navy with a
  // white corner, of many colours, so that no file is made of a palette.
  std::string Made(const std::string& Name, const QStringList& Options, const char* Fill = "red") {
    const std::string Path = Env.File(Name);
    Magick(QStringList{QStringLiteral("-size"), QStringLiteral("480x320"),
                       QStringLiteral("gradient:") + Fill + QStringLiteral("-navy"), QStringLiteral("-depth"),
                       Options.contains(QStringLiteral("-depth")) ? QStringLiteral("16") : QStringLiteral("8"),
                       QStringLiteral("-fill"), QStringLiteral("white"), QStringLiteral("-draw"),
                       QStringLiteral("rectangle 0,0 119,79")} +
           Options + QStringList{QString::fromStdString(Path)});
    EXPECT_FALSE(Bytes(Path).isEmpty()) << Name;
    return Path;
  }
  // Turned clockwise and left for the next picture: the silent save.
  void TurnAndLeave(const std::string& Path) {
    Show(Path);
    Form().Execute("RotateCW");
    ASSERT_TRUE(Form().IsImageModified());
    Form().Execute("NextImage");
    Loaded();
  }
  // The frames or pages of a file as RGBA bytes, top row first whatever
  // corner the file starts at, with ImageMagick's options.
  static QByteArray Pixels(const std::string& Path, const QStringList& Options = {}) {
    return Magick(QStringList{QString::fromStdString(Path), QStringLiteral("-auto-orient")} + Options +
                  QStringList{QStringLiteral("rgba:-")});
  }
};

} // namespace

TEST_F(SaveWholeTest, ATurnedMultiPageTiffOrAnimationKeepsEveryPageAndFrame) {
  const std::string Red = Made("r.png", {}), Green = Made("g.png", {}, "green"), Blue = Made("b.png", {}, "blue");
  const QStringList Frames = {QString::fromStdString(Red), QString::fromStdString(Green), QString::fromStdString(Blue)};
  Magick(Frames + QStringList{QStringLiteral("-compress"), QStringLiteral("lzw"),
                              QString::fromStdString(Env.File("pages.tif"))});
  // Three delays and three ways to dispose; white is transparent in the second.
  Magick({QStringLiteral("-delay"), QStringLiteral("10"), QStringLiteral("-dispose"), QStringLiteral("none"), Frames[0],
          QStringLiteral("-delay"), QStringLiteral("20"), QStringLiteral("-dispose"), QStringLiteral("background"),
          QStringLiteral("("), Frames[1], QStringLiteral("-transparent"), QStringLiteral("white"), QStringLiteral(")"),
          QStringLiteral("-delay"), QStringLiteral("30"), QStringLiteral("-dispose"), QStringLiteral("previous"),
          Frames[2], QStringLiteral("-loop"), QStringLiteral("0"), QString::fromStdString(Env.File("anim.gif"))});
  for (const char* Name : {"pages.tif", "anim.gif"}) {
    SCOPED_TRACE(Name);
    const std::string Path = Env.File(Name), Before = Env.File(std::string("before-") + Name);
    ASSERT_TRUE(QFile::copy(QString::fromStdString(Path), QString::fromStdString(Before)));
    TurnAndLeave(Path);
    EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpDetail.toStdString();
    EXPECT_NE(Form().CurrentFileName(), Name);
    const bool Animation = std::string(Name) == "anim.gif";
    // Every page or frame is there, turned in an animation; the frames keep
    // their delays, disposal and transparency.
    if (Animation)
      EXPECT_EQ(Identify(Path, "%w %h %T %D %A\n"),
                "320 480 10 None False\n320 480 20 Background True\n320 480 30 Previous False\n");
    else
      EXPECT_EQ(Identify(Path, "%w %h\n"), "320 480\n480 320\n480 320\n");
    if (Animation) {
      EXPECT_EQ(Pixels(Path, {QStringLiteral("-coalesce")}),
                Pixels(Before, {QStringLiteral("-coalesce"), QStringLiteral("-rotate"), QStringLiteral("90")}));
      continue;
    }
    // The page shown is turned; the others are as they were.
    EXPECT_EQ(Pixels(Path + "[0]"), Pixels(Before + "[0]", {QStringLiteral("-rotate"), QStringLiteral("90")}));
    for (const char* Page : {"[1]", "[2]"}) EXPECT_EQ(Pixels(Path + Page), Pixels(Before + Page)) << Page;
  }
}

TEST_F(SaveWholeTest, AColourProfileAndTransparencyAreWrittenBack) {
  QFile Icc(QString::fromStdString(Env.File("p.icc")));
  ASSERT_TRUE(Icc.open(QIODevice::WriteOnly));
  Icc.write(Profile());
  Icc.close();
  const QStringList WithProfile = {QStringLiteral("-profile"), Icc.fileName()};
  // Opaque on the left, fading to transparent downwards on the right.
  const QStringList Transparent = {QStringLiteral("-alpha"), QStringLiteral("set"), QStringLiteral("-channel"),
                                   QStringLiteral("A"), QStringLiteral("-fx"), QStringLiteral("i < w / 2 ? 1 : 1 - j / h"),
                                   QStringLiteral("+channel")};
  struct TCase {
    const char* Name;
    bool Profile, Alpha;
  };
  const TCase Cases[] = {{"icc.png", true, false}, {"icc.tif", true, false}, {"alpha.bmp", false, true},
                         {"alpha.tif", false, true}, {"alpha.png", false, true}, {"alpha.tga", false, true}};
  for (const TCase& C : Cases) Made(C.Name, C.Profile ? WithProfile : Transparent);
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = Env.File(C.Name), Before = Env.File(std::string("before-") + C.Name);
    ASSERT_TRUE(QFile::copy(QString::fromStdString(Path), QString::fromStdString(Before)));
    if (C.Alpha) {
      ASSERT_EQ(Identify(Path, "%A"), "True");
    }
    TurnAndLeave(Path);
    EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpDetail.toStdString();
    EXPECT_EQ(Identify(Path, "%w %h"), "320 480");
    if (C.Profile) {
      EXPECT_EQ(Magick({QString::fromStdString(Path), QStringLiteral("icc:-")}), Profile());
    }
    if (C.Alpha) {
      EXPECT_EQ(Identify(Path, "%A"), "True");
      EXPECT_EQ(Pixels(Path, {QStringLiteral("-alpha"), QStringLiteral("extract")}),
                Pixels(Before, {QStringLiteral("-rotate"), QStringLiteral("90"), QStringLiteral("-alpha"),
                                QStringLiteral("extract")}));
    }
  }
}

// What a save cannot write back is asked about, with the file named and
// what it would lose listed: closed unanswered the file and the edit stay;
// "Discard Changes" moves on without a write; "Overwrite" writes what it can.
TEST_F(SaveWholeTest, WhatASaveCannotWriteBackIsAskedAbout) {
  const QStringList Deep = {QStringLiteral("-depth"), QStringLiteral("16"), QStringLiteral("-type"),
                            QStringLiteral("TrueColor"), QStringLiteral("-fill"), QStringLiteral("#123456"),
                            QStringLiteral("-draw"), QStringLiteral("rectangle 200,200 210,210")};
  Made("deep.png", Deep);
  Made("deep.tif", Deep);
  const std::string Frame = Made("frame.png", {});
  Magick({QString::fromStdString(Frame), QString::fromStdString(Frame), QString::fromStdString(Env.File("anim.gif"))});
  const QString Depth = QStringLiteral(" - The 16-bit depth of its colours (the picture is saved at 8 bits)");
  struct TCase {
    const char* Name;
    bool Resize;
    QString Lost;
  };
  const TCase Cases[] = {{"deep.png", false, Depth},
                         {"deep.tif", false, Depth},
                         {"anim.gif", true, QStringLiteral(" - The other frame of the animation")}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = Env.File(C.Name);
    const QByteArray Was = Bytes(Path);
    Show(Path);
    Env.HelpShown = 0;
    for (int Answer : {0, 3}) {
      Env.HelpAnswer = Answer;
      // A resize by Ctrl+S (leaving would ask about the resize first); a
      // turn by the silent save.
      if (C.Resize) {
        Form().ResizeImage(240, 160);
        Form().Execute("Save");
      } else {
        Form().Execute("RotateCW");
        Form().Execute("NextImage");
      }
      Loaded();
      EXPECT_EQ(Env.LastHelpCaption, "Not everything can be saved");
      EXPECT_EQ(Env.LastHelpText, QStringLiteral("\"%1\" holds more than the modified image can be saved with. "
                                                 "Overwriting it loses what is listed below.")
                                      .arg(C.Name));
      EXPECT_EQ(Env.LastHelpDetail.split('\n').value(0), C.Lost);
      EXPECT_EQ(Env.LastHelpButtons, QStringList({"Overwrite", "Save As", "Discard Changes"}));
      EXPECT_EQ(Bytes(Path), Was);
      if (Answer == 0) {
        EXPECT_TRUE(Form().IsImageModified());
      }
    }
    // The user's own choice: written as it can be.
    Show(Path);
    if (C.Resize) Form().ResizeImage(240, 160);
    else Form().Execute("RotateCW");
    Env.HelpAnswer = 1;
    Form().Execute("Save");
    EXPECT_FALSE(Form().IsImageModified());
    EXPECT_NE(Bytes(Path), Was);
  }
}

TEST_F(SaveWholeTest, TransparencyAFormatCannotHoldIsAskedAboutBeforeACopy) {
  const std::string Path = Made("alpha.png", {QStringLiteral("-alpha"), QStringLiteral("set"), QStringLiteral("-channel"),
                                              QStringLiteral("A"), QStringLiteral("-fx"), QStringLiteral("1 - j / h"),
                                              QStringLiteral("+channel")});
  const std::string Copy = Env.File("copy.jpg");
  Form().SaveAsPrompt = [&](const QString&, QString& Target, bool& OpenSaved) {
    Target = QString::fromStdString(Copy);
    OpenSaved = false;
    return 1;
  };
  Show(Path);
  for (int Answer : {2, 1}) {
    Env.HelpAnswer = Answer;
    Form().Execute("SaveAs");
    EXPECT_EQ(Env.LastHelpText, "\"copy.jpg\" cannot hold all of the modified image. Saving it loses what is listed below.");
    EXPECT_EQ(Env.LastHelpDetail, " - The transparency");
    EXPECT_EQ(Env.LastHelpButtons, QStringList({"Save", "Cancel"}));
    EXPECT_EQ(QFile::exists(QString::fromStdString(Copy)), Answer == 1);
  }
  EXPECT_EQ(Env.HelpShown, 2);
}

// The blocks of a JPEG file its read passed over cannot be written back.
TEST(SavePlan, AJpegsBlocksLeftOutByTheReadAreNamed) {
  rv::TIOParamsVals Params;
  Params.FileType = rv::rvftJPEG;
  TSaveSubject Subject;
  Subject.Shown = Subject.Target = "/nowhere/a.jpg";
  Subject.OverShown = true;
  Subject.Params = &Params;
  struct TCase {
    int LeftOut;
    QStringList Lost;
  };
  const TCase Cases[] = {{0, {}},
                         {1, {"A block of the file's data that was not read"}},
                         {7, {"7 blocks of the file's data that were not read"}}};
  for (const TCase& C : Cases) {
    Params.JpegMarkersLeftOut = C.LeftOut;
    EXPECT_EQ(PlanSave(Subject).Lost, C.Lost) << C.LeftOut;
  }
  // A copy under another name leaves the file as it is.
  Subject.OverShown = false;
  EXPECT_TRUE(PlanSave(Subject).Lost.isEmpty());
}

// A save over a picture's file writes back all the file held: the other
// pages of a TIFF file and the frames of an animation (turned with the
// picture), a colour profile and transparency; what it cannot write back
// (a depth over 8 bits, frames an edit other than a turn cannot reach,
// transparency a format cannot hold) is asked about first. Files are made
// and read back by ImageMagick.
#include "app/mainform.h"
#include "app/saveover.h"
#include "image/io/rvformats.h"
#include "apptestenv.h"
#include "image/io/gif/giflzw.h"
#include "mainwindowhost.h"
#include "reftools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

#include <cstdio>

using namespace app;

namespace {

using apptest::Args;
using apptest::Bytes;
using apptest::Identify;
using apptest::Magick;
using apptest::Profile;
using apptest::Q;

class SaveWholeTest : public ::testing::Test, protected apptest::TMainWindowHost {
protected:
  void SetUp() override {
    if (Magick({QStringLiteral("-version")}).isEmpty()) GTEST_SKIP() << "ImageMagick is not installed";
    // Somewhere to step to: the silent save runs on the way.
    Env.Picture("zz.png", 40, 30);
  }
  // A 480 x 320 gradient from Fill to navy with a white corner, of many
  // colours (no palette), 8 bits a sample unless Options give a depth.
  std::string Made(const std::string& Name, const QString& Options = {}, const char* Fill = "red") {
    const std::string Path = Env.File(Name);
    const QString Depth = Options.contains(QStringLiteral("-depth")) ? QString() : QStringLiteral("|-depth|8");
    Magick(Args(QStringLiteral("-size|480x320|gradient:%1-navy%2|-fill|white|-draw|rectangle 0,0 119,79").arg(Fill, Depth)) +
           (Options.isEmpty() ? QStringList() : Args(Options)) + QStringList{Q(Path)});
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
  // A copy of the file as it was, beside it.
  std::string Before(const char* Name) {
    const std::string Copy = Env.File(std::string("before-") + Name);
    EXPECT_TRUE(QFile::copy(Q(Env.File(Name)), Q(Copy)));
    return Copy;
  }
  // The frames or pages of a file as RGBA bytes, top row first whatever
  // corner the file starts at, after ImageMagick's options.
  static QByteArray Pixels(const std::string& Path, const QString& Options = {}) {
    return Magick(QStringList{Q(Path), QStringLiteral("-auto-orient")} +
                  (Options.isEmpty() ? QStringList() : Args(Options)) + QStringList{QStringLiteral("rgba:-")});
  }
};

} // namespace

TEST_F(SaveWholeTest, ATurnedMultiPageTiffOrAnimationKeepsEveryPageAndFrame) {
  const QString R = Q(Made("r.png")), G = Q(Made("g.png", {}, "green")), B = Q(Made("b.png", {}, "blue"));
  Magick(Args(R + "|" + G + "|" + B + "|-compress|lzw|" + Q(Env.File("pages.tif"))));
  // Three delays and three ways to dispose; white is transparent in the second.
  Magick(Args(QStringLiteral("-delay|10|-dispose|none|%1|-delay|20|-dispose|background|(|%2|-transparent|white|)|"
                             "-delay|30|-dispose|previous|%3|-loop|0|%4")
                  .arg(R, G, B, Q(Env.File("anim.gif")))));
  for (const char* Name : {"pages.tif", "anim.gif"}) {
    SCOPED_TRACE(Name);
    const std::string Path = Env.File(Name), Was = Before(Name);
    TurnAndLeave(Path);
    EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpDetail.toStdString();
    EXPECT_NE(Form().CurrentFileName(), Name);
    if (std::string(Name) == "anim.gif") {
      // Every frame turned, with its delay, disposal and transparency.
      EXPECT_EQ(Identify(Path, "%w %h %T %D %A\n"),
                "320 480 10 None False\n320 480 20 Background True\n320 480 30 Previous False\n");
      EXPECT_EQ(Pixels(Path, "-coalesce"), Pixels(Was, "-coalesce|-rotate|90"));
      continue;
    }
    // The page shown is turned; the others are as they were.
    EXPECT_EQ(Identify(Path, "%w %h\n"), "320 480\n480 320\n480 320\n");
    EXPECT_EQ(Pixels(Path + "[0]"), Pixels(Was + "[0]", "-rotate|90"));
    for (const char* Page : {"[1]", "[2]"}) EXPECT_EQ(Pixels(Path + Page), Pixels(Was + Page)) << Page;
  }
}

TEST_F(SaveWholeTest, AColourProfileAndTransparencyAreWrittenBack) {
  QFile Icc(Q(Env.File("p.icc")));
  ASSERT_TRUE(Icc.open(QIODevice::WriteOnly));
  Icc.write(Profile());
  Icc.close();
  // Opaque on the left, fading to transparent downwards on the right.
  const QString Transparent = QStringLiteral("-alpha|set|-channel|A|-fx|i < w / 2 ? 1 : 1 - j / h|+channel");
  const struct {
    const char* Name;
    bool Alpha;
  } Cases[] = {{"icc.png", false},  {"icc.tif", false},  {"alpha.bmp", true},
               {"alpha.tif", true}, {"alpha.png", true}, {"alpha.tga", true}};
  for (const auto& C : Cases) Made(C.Name, C.Alpha ? Transparent : QStringLiteral("-profile|") + Icc.fileName());
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = Env.File(C.Name), Was = Before(C.Name);
    if (C.Alpha) {
      ASSERT_EQ(Identify(Path, "%A"), "True");
    }
    TurnAndLeave(Path);
    EXPECT_EQ(Env.HelpShown, 0) << Env.LastHelpDetail.toStdString();
    EXPECT_EQ(Identify(Path, "%w %h"), "320 480");
    if (!C.Alpha) {
      EXPECT_EQ(Magick({Q(Path), QStringLiteral("icc:-")}), Profile());
      continue;
    }
    EXPECT_EQ(Identify(Path, "%A"), "True");
    EXPECT_EQ(Pixels(Path, "-alpha|extract"), Pixels(Was, "-rotate|90|-alpha|extract"));
  }
}

// A 480 x 320 GIF whose transparent entry is black while other pixels are
// opaque black: entries black, red, black (transparent), white.
QByteArray KeyedGif() {
  QByteArray B("GIF89a\xE0\x01\x40\x01\xF1\0\0" "\0\0\0\xFF\0\0\0\0\0\xFF\xFF\xFF"
               "\x21\xF9\x04\x01\0\0\x02\0" "\x2C\0\0\0\0\xE0\x01\x40\x01\0", 13 + 12 + 8 + 10);
  std::vector<std::uint8_t> Indexes(480 * 320);
  for (int Y = 0; Y < 320; ++Y)
    for (int X = 0; X < 480; ++X)
      Indexes[std::size_t(Y) * 480 + X] =
          std::uint8_t(X < 200 ? 2 : X < 300 && Y < 160 ? 0 : 1 + 2 * ((X / 40 + Y / 40) % 2));
  platform::TMemoryStream Data;
  rv::GifLzwCompress(Data, 320, 480, 2, Indexes.data(), false);
  return B + QByteArray(reinterpret_cast<const char*>(Data.Data().data()), qsizetype(Data.Data().size())) + "\x3B";
}

// What a save cannot write back is asked about, with the file named and
// what it would lose listed: closed unanswered the file and the edit stay;
// "Discard Changes" moves on without a write; "Overwrite" writes what it can.
TEST_F(SaveWholeTest, WhatASaveCannotWriteBackIsAskedAbout) {
  const QString Deep = QStringLiteral("-depth|16|-type|TrueColor|-fill|#123456|-draw|rectangle 200,200 210,210");
  Made("deep.png", Deep);
  Made("deep.tif", Deep);
  const QString Frame = Q(Made("frame.png"));
  Magick({Frame, Frame, Q(Env.File("anim.gif"))});
  // A JPEG of 1,100 comments after its JFIF header: more than a read keeps.
  QByteArray Jpeg = Bytes(Made("many.jpg"));
  const int AfterJfif = 4 + ((uchar(Jpeg[4]) << 8) | uchar(Jpeg[5]));
  for (int I = 0; I < 1100; ++I) Jpeg.insert(AfterJfif, QByteArray("\xFF\xFE\0\x04hi", 6));
  QFile Many(Q(Env.File("many.jpg")));
  ASSERT_TRUE(Many.open(QIODevice::WriteOnly) && Many.write(Jpeg) == Jpeg.size());
  Many.close();
  const QString Depth = QStringLiteral(" - The 16-bit depth of its colours (the picture is saved at 8 bits)");
  const struct {
    const char* Name;
    bool Resize;
    QString Lost;
  } Cases[] = {{"deep.png", false, Depth},
               {"deep.tif", false, Depth},
               {"anim.gif", true, QStringLiteral(" - The other frame of the animation")},
               {"many.jpg", false, QStringLiteral(" - 76 blocks of the file's data that were not read")}};
  // A resize by Ctrl+S (leaving would ask about the resize first); a turn
  // by the silent save.
  const auto Edit = [&](bool Resize) {
    if (Resize) Form().ResizeImage(240, 160);
    else Form().Execute("RotateCW");
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = Env.File(C.Name);
    const QByteArray Was = Bytes(Path);
    Show(Path);
    for (int Answer : {0, 3}) {
      Env.HelpAnswer = Answer;
      Edit(C.Resize);
      Form().Execute(C.Resize ? "Save" : "NextImage");
      Loaded();
      EXPECT_EQ(Env.LastHelpCaption, "Not everything can be saved");
      EXPECT_EQ(Env.LastHelpText, QStringLiteral("\"%1\" holds more than the modified image can be saved with. "
                                                 "Overwriting it loses what is listed below.")
                                      .arg(C.Name));
      EXPECT_EQ(Env.LastHelpDetail.split('\n').value(0), C.Lost);
      EXPECT_EQ(Env.LastHelpButtons, QStringList({"Overwrite", "Save As", "Discard Changes"}));
      EXPECT_EQ(Bytes(Path), Was);
      EXPECT_EQ(Form().IsImageModified(), Answer == 0);
    }
    // The user's own choice: written as it can be.
    Show(Path);
    Edit(C.Resize);
    Env.HelpAnswer = 1;
    Form().Execute("Save");
    EXPECT_FALSE(Form().IsImageModified());
    EXPECT_NE(Bytes(Path), Was);
  }
}

TEST_F(SaveWholeTest, TransparencyAFormatCannotHoldIsAskedAboutBeforeACopy) {
  const std::string Path = Made("alpha.png", QStringLiteral("-alpha|set|-channel|A|-fx|1 - j / h|+channel"));
  const std::string Copy = Env.File("copy.jpg");
  Form().SaveAsPrompt = [&](const std::string&, std::string& Target, bool& OpenSaved) {
    Target = Copy;
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
    EXPECT_EQ(QFile::exists(Q(Copy)), Answer == 1);
  }
  EXPECT_EQ(Env.HelpShown, 2);
}

// Another program's file moved to the picture's name while the save asks
// about it is never written over: a save replaces only the file the program
// read (or the one the user was asked about, as shown), and writes back the
// frames of the file the picture was read from, never another's. Ctrl+S,
// the silent save and Save As over the shown file.
TEST_F(SaveWholeTest, AFileThatComesWhileTheSaveAsksIsNeverWrittenOver) {
  Made("deep.png", QStringLiteral("-depth|16|-type|TrueColor"));
  const QString R = Q(Made("r.png")), G = Q(Made("g.png", {}, "green")), B = Q(Made("b.png", {}, "blue"));
  Magick(Args(R + "|" + G + "|" + B + "|" + Q(Env.File("anim.gif"))));
  Magick(Args(G + "|" + R + "|" + Q(Env.File("other.gif"))));
  Made("other.png", {}, "yellow");
  for (const char* Name : {"deep.png", "anim.gif"}) Before(Name);
  // The other program's file, written beside and renamed over the name.
  QByteArray Other;
  const auto Arrive = [&](const std::string& Path) {
    const std::string Beside = Path + ".new";
    EXPECT_TRUE(QFile::copy(Q(Env.File(Path.ends_with(".gif") ? "other.gif" : "other.png")), Q(Beside)));
    EXPECT_EQ(std::rename(Beside.c_str(), Path.c_str()), 0);
    Other = Bytes(Path);
  };
  const QString Changed = QStringLiteral("File changed by another program"),
                Loses = QStringLiteral("Not everything can be saved");
  struct TAsked {
    QString Caption;
    bool OtherComes;
    int Answer;
  };
  const struct {
    const char* Name;
    const char* Command;
    bool ChangedBefore;
    std::vector<TAsked> Asked;
    // Empty: the other program's file stays; else the sizes of what was written.
    const char* Written;
  } Cases[] = {
      {"deep.png", "Save", false, {{Loses, true, 1}, {Changed, false, 0}}, ""},
      {"deep.png", "NextImage", false, {{Loses, true, 1}, {Changed, false, 0}}, ""},
      {"deep.png", "SaveAs", false, {{Loses, true, 1}}, ""},
      // The frames of the file seen are gone with it: asked about, and the
      // other program's frames are not written in their place.
      {"anim.gif", "Save", true, {{Changed, false, 1}, {Loses, false, 1}}, "320 480;"},
      {"anim.gif", "Save", true, {{Changed, true, 1}, {Loses, false, 1}, {Changed, false, 0}}, ""},
  };
  const auto EnvAnswer = THelpDlg::ModalAnswer;
  std::string Path;
  std::vector<TAsked> Asked;
  QStringList Captions, Details;
  THelpDlg::ModalAnswer = [&](THelpDlg& D) {
    const TAsked A = Asked.size() > static_cast<std::size_t>(Captions.size()) ? Asked[Captions.size()] : TAsked{};
    Captions << D.windowTitle();
    Details << D.DetailLines().value(0);
    if (A.OtherComes) Arrive(Path);
    Env.HelpAnswer = A.Answer;
    EnvAnswer(D);
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.Name) + " " + C.Command);
    Path = Env.File(C.Name);
    std::remove(Path.c_str());
    ASSERT_TRUE(QFile::copy(Q(Env.File(std::string("before-") + C.Name)), Q(Path)));
    FForm.reset();
    Show(Path);
    Form().SaveAsPrompt = [&](const std::string&, std::string& Target, bool& OpenSaved) {
      Target = Path;
      OpenSaved = false;
      return 1;
    };
    Form().Execute("RotateCW");
    if (C.ChangedBefore) Arrive(Path);
    Asked = C.Asked;
    Captions.clear();
    Details.clear();
    Env.MessageBoxes.clear();
    Form().Execute(C.Command);
    Loaded();
    QStringList Expected;
    for (const TAsked& A : C.Asked) Expected << A.Caption;
    EXPECT_EQ(Captions.join(" / ").toStdString(), Expected.join(" / ").toStdString());
    if (C.ChangedBefore) EXPECT_EQ(Details.value(1), " - The other 2 frames of the animation");
    if (*C.Written == '\0') {
      EXPECT_EQ(Bytes(Path), Other);
      EXPECT_TRUE(Form().IsImageModified());
    } else {
      EXPECT_EQ(Identify(Path, "%w %h;"), C.Written);
    }
    EXPECT_EQ(Env.MessageBoxes.size(), std::string(C.Command) == "SaveAs" ? 1 : 0);
    EXPECT_EQ(QDir(Env.QFolder()).entryList({"*pictrova-*"}, QDir::Hidden | QDir::Files), QStringList());
  }
  THelpDlg::ModalAnswer = EnvAnswer;
}

// A long save runs off the window's thread: the window's loop turns while
// the frames are written, the picture and its edit stay on show, a second
// save or a step that comes meanwhile goes no further (no second writer, no
// edit lost), and the file is right afterwards. A second start naming a
// folder meanwhile opens it once the save is done.
TEST_F(SaveWholeTest, TheWindowsLoopRunsWhileALongSaveWrites) {
  std::filesystem::create_directory(Env.File("other"));
  Env.Picture("other/o.png", 40, 30);
  const std::string Path = Env.File("long.gif");
  Magick(Args(QStringLiteral("-size|480x320|xc:gray|-duplicate|39|+noise|Random|-delay|5|") + Q(Path)));
  const std::string Was = Before("long.gif");
  Show(Path);
  Form().Execute("RotateCW");
  int Turns = 0, WhileWritten = 0;
  qint64 Longest = 0;
  QElapsedTimer Gap;
  QTimer Ping;
  Ping.setInterval(2);
  QObject::connect(&Ping, &QTimer::timeout, [&] {
    Longest = std::max(Longest, Gap.restart());
    ++Turns;
    if (QDir(Env.QFolder()).entryList({".long.gif.pictrova-*"}, QDir::Hidden | QDir::Files).isEmpty()) return;
    if (++WhileWritten > 1) return;
    EXPECT_TRUE(Form().IsImageModified());
    EXPECT_EQ(Form().RastrumView1->GetBitmap()->Width(), 320);
    Form().Execute("Save");
    Form().Execute("NextImage");
    Form().Ptv_MainExecuteMacro({Env.File("other")});
  });
  Ping.start();
  Gap.start();
  QElapsedTimer Took;
  Took.start();
  Form().Execute("Save");
  const qint64 Save = Took.elapsed();
  Ping.stop();
  std::printf("save %lld ms, loop turns %d, longest gap %lld ms\n", Save, Turns, Longest);
  EXPECT_GT(WhileWritten, 0);
  EXPECT_EQ(Env.HelpShown, 0);
  EXPECT_EQ(Form().CurrentFileName(), "long.gif");
  EXPECT_FALSE(Form().IsImageModified());
  EXPECT_EQ(Identify(Path, "%w %h;").count("320 480;"), 40);
  EXPECT_EQ(Pixels(Path, "-coalesce"), Pixels(Was, "-coalesce|-rotate|90"));
  EXPECT_TRUE(apptest::WaitUntil([&] { return Form().CurrentFileName() == "o.png"; }));
  EXPECT_EQ(Form().FolderViews().size(), 2u);
}

// The blocks of a JPEG file its read passed over cannot be written back.
TEST(SavePlan, AJpegsBlocksLeftOutByTheReadAreNamed) {
  rv::TIOParamsVals Params;
  Params.FileType = rv::rvftJPEG;
  TSaveSubject Subject;
  Subject.Shown = Subject.Target = "/nowhere/a.jpg";
  Subject.OverShown = true;
  Subject.Params = &Params;
  const struct {
    int LeftOut;
    QStringList Lost;
  } Cases[] = {{0, {}},
               {1, {"A block of the file's data that was not read"}},
               {7, {"7 blocks of the file's data that were not read"}}};
  for (const auto& C : Cases) {
    Params.JpegMarkersLeftOut = C.LeftOut;
    EXPECT_EQ(PlanSave(Subject).Lost, C.Lost) << C.LeftOut;
  }
  // A copy under another name leaves the file as it is.
  Subject.OverShown = false;
  EXPECT_TRUE(PlanSave(Subject).Lost.isEmpty());
}

// What a PNG file held that a save cannot write back: the frames of an
// animation, chunks that hold only for the pixels as they were, and chunks
// its read passed over.
TEST(SavePlan, APngsFramesAndChunksLeftBehindAreNamed) {
  rv::TIOParamsVals Params;
  TSaveSubject Subject;
  Subject.Shown = Subject.Target = "/nowhere/a.png";
  Subject.OverShown = true;
  Subject.Params = &Params;
  EXPECT_TRUE(PlanSave(Subject).Lost.isEmpty());
  Params.PngFramesLeftOut = 2;
  Params.PngChunksTiedToPixels = {"sTER"};
  Params.PngChunksLeftOut = 1;
  EXPECT_EQ(PlanSave(Subject).Lost,
            QStringList({"The other 2 frames of the animation", "The chunk sTER, which holds only for the pixels as they were",
                         "A chunk of the file's data that was not read"}));
  Params.PngFramesLeftOut = 1;
  Params.PngChunksTiedToPixels = {"dSIG", "prVT"};
  Params.PngChunksLeftOut = 76;
  EXPECT_EQ(PlanSave(Subject).Lost,
            QStringList({"The other frame of the animation", "The chunks dSIG, prVT, which hold only for the pixels as they were",
                         "76 chunks of the file's data that were not read"}));
  Subject.OverShown = false;
  EXPECT_TRUE(PlanSave(Subject).Lost.isEmpty());
}

// What a file's own layout holds that no write of its picture gives back is
// named: a TIFF's inks and a sample it does not call transparency; a TGA's
// bytes it does not call transparency and a depth its writer has not;
// which of two palette entries of one colour a pixel had.
TEST(SavePlan, LayoutsAWriteCannotGiveBackAreNamed) {
  const QString Repeats = "Which of its palette entries of one colour each pixel has (it is saved with the first)";
  const struct {
    const char* Name;
    int Bits, Samples, Photometric, Extra, Descriptor;
    bool Repeated;
    QStringList Lost;
  } Cases[] = {{"a.tif", 8, 4, 5, -1, 0, false, {"Its CMYK ink amounts (they are worked out anew from the colours)"}},
               {"a.tif", 8, 4, 2, 0, 0, false, {"The extra sample of each pixel, which the file does not call transparency"}},
               {"a.tif", 8, 4, 2, 1, 0, false, {}},
               {"a.tif", 8, 1, 3, -1, 0, true, {Repeats}},
               {"a.tga", 8, 4, 2, -1, 0x20, false, {"The last byte of each pixel, which the file does not call transparency"}},
               {"a.tga", 8, 4, 2, -1, 0x28, false, {}},
               {"a.tga", 1, 1, 2, -1, 0x20, false, {"Its depth of 1 bit (the picture is saved at 8 bits of gray)"}},
               {"a.pcx", 8, 1, 2, -1, 0x00, true, {Repeats}}};
  for (const auto& C : Cases) {
    rv::TIOParamsVals P;
    P.FileType = rv::RvFindFileFormatInfoByExt(std::string(C.Name).substr(2))->FileType;
    P.BitsPerSample = C.Bits, P.SamplesPerPixel = C.Samples, P.TiffPhotometric = std::uint8_t(C.Photometric);
    P.TiffExtraSamples = C.Extra, P.TgaDescriptor = std::uint8_t(C.Descriptor), P.ColorMapRepeatsUsed = C.Repeated;
    TSaveSubject Subject{"/nowhere/" + std::string(C.Name), "/nowhere/" + std::string(C.Name), true, &P};
    EXPECT_EQ(PlanSave(Subject).Lost, C.Lost) << C.Name << " " << C.Bits << "x" << C.Samples;
  }
}

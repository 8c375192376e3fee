#include "app/filetypes.h"
#include "app/pictureutil.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <gtest/gtest.h>

using namespace app;
using platform::TRegistry;

namespace {

const std::string LongPath = "/opt/Pictrova 3/pictrova";
const std::string StartPath = "/opt/PICTRO~1/pictrova";
const std::string Command = "\"/opt/Pictrova 3/pictrova\" /shell \"%1\"";

// Every test runs against a key store, home and XDG folders of its own, with
// a PATH that holds nothing but an optional fake xdg-mime.
class FileTypes : public testing::Test {
protected:
  void SetUp() override {
    for (const char* Name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "PATH"}) {
      const char* Old = std::getenv(Name);
      FSaved.emplace_back(Name, Old ? std::optional<std::string>(Old) : std::nullopt);
    }
    for (const char* Sub : {"keys", "home", "data", "config", "bin"}) QDir().mkpath(FTemp.QPath() + "/" + Sub);
    platform::SetKeyStoreFolder(FTemp.File("keys"));
    setenv("HOME", FTemp.File("home").c_str(), 1);
    setenv("XDG_DATA_HOME", FTemp.File("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", FTemp.File("config").c_str(), 1);
    setenv("PATH", FTemp.File("bin").c_str(), 1);
    SetFileTypeProgramPaths(LongPath, LongPath);
  }
  void TearDown() override {
    SetFileTypeProgramPaths("", "");
    platform::SetKeyStoreFolder("");
    for (const auto& [Name, Value] : FSaved) {
      if (Value) setenv(Name.c_str(), Value->c_str(), 1);
      else unsetenv(Name.c_str());
    }
  }

  void InstallFakeXdgMime() {
    QFile Script(FTemp.QPath() + "/bin/xdg-mime");
    ASSERT_TRUE(Script.open(QIODevice::WriteOnly));
    Script.write(("#!/bin/sh\necho \"$@\" >> '" + FTemp.File("xdg-mime.log") + "'\n").c_str());
    Script.close();
    Script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  std::string XdgMimeLog() const { return ReadText(FTemp.File("xdg-mime.log")); }
  std::string MimeAppsList() const { return FTemp.File("config") + "/mimeapps.list"; }

  static std::string ReadText(const std::string& FileName) {
    QFile File(QString::fromStdString(FileName));
    if (!File.open(QIODevice::ReadOnly)) return "<none>";
    return File.readAll().toStdString();
  }
  static void WriteText(const std::string& FileName, const std::string& Text) {
    QFile File(QString::fromStdString(FileName));
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write(Text.c_str());
  }

  // "<none>" when the key is absent.
  static std::string Default(const std::string& Key) {
    TRegistry Reg(platform::KEY_READ);
    Reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
    if (!Reg.OpenKeyReadOnly(Key)) return "<none>";
    return Reg.ReadString("");
  }
  static void SetDefault(const std::string& Key, const std::string& Value) {
    TRegistry Reg;
    Reg.SetRootKey(platform::HKEY_CLASSES_ROOT);
    ASSERT_TRUE(Reg.OpenKey(Key, true));
    Reg.WriteString("", Value);
  }
  // A ".jpg" that another program owns, with its own "Browse" verb as default.
  static void RegisterOtherJpegViewer() {
    SetDefault("\\.jpg", "OtherApp.Jpeg");
    SetDefault("\\OtherApp.Jpeg", "Other JPEG picture");
    SetDefault("\\OtherApp.Jpeg\\DefaultIcon", "/usr/bin/other,1");
    SetDefault("\\OtherApp.Jpeg\\shell", "Browse");
    SetDefault("\\OtherApp.Jpeg\\shell\\Browse\\command", "/usr/bin/other \"%1\"");
  }

  testing_support::TTempFolder FTemp;
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

} // namespace

TEST_F(FileTypes, CleanInstallWritesClassIconAndBrowseButNoDefaultVerb) {
  InstallFileTypes();
  EXPECT_EQ(Default("\\.png"), "Pictrova.pngImage");
  EXPECT_EQ(Default("\\Pictrova.pngImage"), GetImageTypeDescription(".png"));
  EXPECT_EQ(Default("\\Pictrova.pngImage\\DefaultIcon"), LongPath + ",0");
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell\\Browse\\command"), Command);
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell"), "");
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell\\Browse with Pictrova"), "<none>");
  EXPECT_EQ(Default("\\Pictrova.icoImage\\DefaultIcon"), "%1");
  for (const char* Ext : ImageFileExtensions)
    EXPECT_EQ(Default(std::string("\\Pictrova") + Ext + "Image\\shell\\Browse\\command"), Command) << Ext;
  EXPECT_FALSE(IsDefaultHandler(".png"));

  // A second run changes nothing, and our own "Browse" gets no second verb.
  InstallFileTypes();
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell\\Browse with Pictrova"), "<none>");
}

TEST_F(FileTypes, AnotherProgramsTypeGetsOnlyTheOwnVerb) {
  RegisterOtherJpegViewer();
  SetDefault("\\OtherApp.Jpeg\\DefaultIcon", "");
  InstallFileTypes();
  EXPECT_EQ(Default("\\.jpg"), "OtherApp.Jpeg");
  EXPECT_EQ(Default("\\OtherApp.Jpeg"), "Other JPEG picture");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell"), "Browse");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell\\Browse\\command"), "/usr/bin/other \"%1\"");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell\\Browse with Pictrova\\command"), Command);
  // Only an empty value is filled in.
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\DefaultIcon"), LongPath + ",0");
  EXPECT_EQ(Default("\\Pictrova.jpgImage"), "<none>");
}

TEST_F(FileTypes, DefaultHandlerFollowsOurVerbAndIsMirroredToXdg) {
  InstallFakeXdgMime();
  RegisterOtherJpegViewer();
  InstallFileTypes();
  EXPECT_EQ(XdgMimeLog(), "<none>"); // installing makes us nobody's default
  EXPECT_FALSE(IsDefaultHandler(".jpg"));
  EXPECT_FALSE(SetAsDefaultHandler(".xyz"));

  ASSERT_TRUE(SetAsDefaultHandler(".jpg"));
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell"), "Browse with Pictrova");
  EXPECT_TRUE(IsDefaultHandler(".jpg"));
  ASSERT_TRUE(SetAsDefaultHandler(".png"));
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell"), "Browse");
  EXPECT_EQ(XdgMimeLog(), "default pictrova.desktop image/jpeg\ndefault pictrova.desktop image/png\n");

  // What xdg-mime would have written, beside another program's choice.
  WriteText(MimeAppsList(), "[Default Applications]\nimage/jpeg=pictrova.desktop;\n"
                            "image/gif=other.desktop;pictrova.desktop;\nimage/png=pictrova.desktop;\n");
  ClearDefaultHandler(".jpg");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell"), "");
  EXPECT_FALSE(IsDefaultHandler(".jpg"));
  EXPECT_EQ(ReadText(MimeAppsList()),
            "[Default Applications]\nimage/gif=other.desktop;pictrova.desktop;\nimage/png=pictrova.desktop;\n");

  // Reinstalling associates what the key store says is ours.
  InstallFileTypes();
  EXPECT_EQ(XdgMimeLog(), "default pictrova.desktop image/jpeg\ndefault pictrova.desktop image/png\n"
                          "default pictrova.desktop image/png\n");
}

TEST_F(FileTypes, ClearingLeavesAnotherProgramsDefaultVerb) {
  RegisterOtherJpegViewer();
  InstallFileTypes();
  ClearDefaultHandler(".jpg");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell"), "Browse");
}

TEST_F(FileTypes, WithoutXdgMimeSettingTheDefaultStillWorks) {
  InstallFileTypes();
  EXPECT_TRUE(SetAsDefaultHandler(".gif"));
  EXPECT_TRUE(IsDefaultHandler(".gif"));
}

TEST_F(FileTypes, UninstallRemovesOurCommandsOnly) {
  InstallFakeXdgMime();
  RegisterOtherJpegViewer();
  InstallFileTypes();
  ASSERT_TRUE(SetAsDefaultHandler(".png"));
  ASSERT_TRUE(SetAsDefaultHandler(".jpg"));
  SetDefault("\\Pictrova.gifImage\\DefaultIcon", "/home/me/gif.png");
  WriteText(MimeAppsList(), "[Added Associations]\nimage/png=pictrova.desktop;other.desktop;\n"
                            "[Default Applications]\nimage/png=pictrova.desktop;\nimage/gif=other.desktop;\n");
  ASSERT_NE(ReadText(DesktopEntryPath()), "<none>");

  UninstallFileTypes();
  EXPECT_EQ(Default("\\.png"), "Pictrova.pngImage");
  EXPECT_EQ(Default("\\Pictrova.pngImage"), GetImageTypeDescription(".png"));
  EXPECT_EQ(Default("\\Pictrova.pngImage\\DefaultIcon"), "");
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell\\Browse"), "<none>");
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell"), "");
  EXPECT_EQ(Default("\\Pictrova.gifImage\\DefaultIcon"), "/home/me/gif.png");
  EXPECT_EQ(Default("\\Pictrova.icoImage\\DefaultIcon"), "%1");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell\\Browse with Pictrova"), "<none>");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell\\Browse\\command"), "/usr/bin/other \"%1\"");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\DefaultIcon"), "/usr/bin/other,1");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell"), "");
  for (const char* Ext : ImageFileExtensions) EXPECT_FALSE(IsDefaultHandler(Ext)) << Ext;

  EXPECT_EQ(ReadText(DesktopEntryPath()), "<none>");
  EXPECT_EQ(ReadText(MimeAppsList()), "[Added Associations]\nimage/png=other.desktop;\n"
                                      "[Default Applications]\nimage/gif=other.desktop;\n");
}

TEST_F(FileTypes, FixInstallMovesCommandsFromTheStartPathToTheLongPath) {
  const std::string OldCommand = "\"" + StartPath + "\" /shell \"%1\"";
  for (const char* Class : {"Pictrova.pngImage", "Pictrova.tifImage"}) {
    SetDefault(std::string("\\.") + std::string(Class).substr(9, 3), Class);
    SetDefault(std::string("\\") + Class + "\\DefaultIcon", StartPath + ",0");
    SetDefault(std::string("\\") + Class + "\\shell\\Browse\\command", OldCommand);
    SetDefault(std::string("\\") + Class + "\\shell\\Browse with Pictrova\\command", OldCommand);
  }
  RegisterOtherJpegViewer();

  // Started from the long path: nothing to do.
  FixInstallFileTypes();
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell\\Browse\\command"), OldCommand);

  SetFileTypeProgramPaths(LongPath, StartPath);
  FixInstallFileTypes();
  EXPECT_EQ(Default("\\Pictrova.pngImage\\DefaultIcon"), LongPath + ",0");
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell\\Browse\\command"), Command);
  EXPECT_EQ(Default("\\Pictrova.pngImage\\shell\\Browse with Pictrova\\command"), Command);
  // ".tif" is not among the repaired types; other programs' entries stay.
  EXPECT_EQ(Default("\\Pictrova.tifImage\\shell\\Browse\\command"), OldCommand);
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell\\Browse\\command"), "/usr/bin/other \"%1\"");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\DefaultIcon"), "/usr/bin/other,1");
  // Keys are not created.
  EXPECT_EQ(Default("\\Pictrova.bmpImage"), "<none>");
  EXPECT_EQ(Default("\\OtherApp.Jpeg\\shell\\Browse with Pictrova"), "<none>");
}

TEST_F(FileTypes, DesktopEntryNamesTheBrowseActionAndTheMimeTypes) {
  InstallFileTypes();
  EXPECT_EQ(DesktopEntryPath(), FTemp.File("data") + "/applications/pictrova.desktop");
  const std::string Text = ReadText(DesktopEntryPath());
  EXPECT_EQ(Text, DesktopEntryText());
  const std::string Exec = "Exec=\"/opt/Pictrova 3/pictrova\" /shell %f\n";
  EXPECT_EQ(Text.find("[Desktop Entry]\nType=Application\nName=Pictrova 3\n" + Exec), 0u);
  EXPECT_NE(Text.find("\nMimeType=image/jpeg;"), std::string::npos);
  EXPECT_NE(Text.find("\nActions=Browse;\n\n[Desktop Action Browse]\nName=Browse\n" + Exec), std::string::npos);
  const std::vector<std::string> Mimes = FileTypeMimeTypes();
  for (const char* Mime : {"image/jpeg", "image/png", "image/gif", "image/bmp", "image/tiff"}) {
    EXPECT_NE(std::find(Mimes.begin(), Mimes.end(), Mime), Mimes.end()) << Mime;
    EXPECT_NE(Text.find(std::string(Mime) + ";"), std::string::npos) << Mime;
  }
  EXPECT_EQ(std::count(Mimes.begin(), Mimes.end(), "image/jpeg"), 1);
  for (const std::string& Mime : Mimes) EXPECT_EQ(Mime.rfind("image/", 0), 0u) << Mime;
  EXPECT_EQ(MimeTypeOfExtension(".vst").rfind("application/", 0), std::string::npos);

  // Characters the entry's quoting rules reserve.
  SetFileTypeProgramPaths("/opt/a\\b%c$d/pictrova", "");
  EXPECT_NE(DesktopEntryText().find("Exec=\"/opt/a\\\\\\\\b%%c\\\\$d/pictrova\" /shell %f\n"), std::string::npos);
}

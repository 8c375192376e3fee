#include "app/mainform.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/genutil.h"
#include "controls/support/wnmrulist/wnmrulist.h"
#include "image/io/lzwhooks.h"
#include "image/io/rastrumio.h"
#include "image/io/twain/rvtwainparams.h"
#include "image/views/rastrumview.h"
#include "apptestenv.h"
#include "support/tempfolder.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QTabWidget>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

using namespace app;

TEST(SecondInstance, SendsExitAnAbsoluteExistingFileOrNothing) {
  testing_support::TTempFolder temp;
  QFile f(temp.QPath() + "/shot.jpg");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  EXPECT_EQ(SecondInstanceMacro({}), "");
  EXPECT_EQ(SecondInstanceMacro({"EXIT"}), "EXIT");
  EXPECT_EQ(SecondInstanceMacro({"exit"}), "");
  EXPECT_EQ(SecondInstanceMacro({"-install"}), "");
  EXPECT_EQ(SecondInstanceMacro({"/shell", f.fileName().toStdString()}), f.fileName().toStdString());
  EXPECT_EQ(SecondInstanceMacro({temp.File("missing.jpg")}), "");
  EXPECT_EQ(SecondInstanceMacro({temp.Path()}), temp.Path()); // a folder opens as a tab

  QDir::setCurrent(temp.QPath());
  EXPECT_EQ(SecondInstanceMacro({"shot.jpg"}), f.fileName().toStdString());
  // A name that is no UTF-8 goes as its bytes.
  std::ofstream(temp.File("caf\xe9.jpg")) << "x";
  EXPECT_EQ(SecondInstanceMacro({"caf\xe9.jpg"}), temp.File("caf\xe9.jpg"));
}

TEST(MainWindow, MacroOpensAPathOrClosesTheWindow) {
  apptest::TAppEnv env;
  const QString file = QString::fromStdString(env.Picture("a.png"));
  {
    TMainForm form({}, nullptr);
    EXPECT_EQ(form.windowTitle(), "Pictrova by Halvenworth");
    form.Ptv_MainExecuteMacro({file.toStdString()});
    EXPECT_EQ(form.CurrentFilePath(), file);
    ASSERT_TRUE(apptest::WaitUntil([&] { return !form.PictureLoadPending(); }));
    EXPECT_EQ(form.windowTitle(), "Pictrova - " + file);
    form.Ptv_MainExecuteMacro({env.File("none.png")});
    EXPECT_EQ(form.CurrentFilePath(), file);
    form.show();
    form.Ptv_MainExecuteMacro({"EXIT"});
    EXPECT_FALSE(form.isVisible());
  }
  // Closing wrote the settings back.
  platform::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(SettingsKey, false));
  EXPECT_EQ(reg.ReadString("SlideShowInterval"), "5000");
}

TEST(MainWindow, WhatTheCommandLineOpens) {
  apptest::TAppEnv env;
  const std::string picture = env.Picture("b.JPEG");
  const std::string latin1 = env.Picture("caf\xe9.png");
  env.Picture("a.png");
  std::ofstream(env.File("notes.txt")) << "x";
  struct TCase {
    std::vector<std::string> Arguments;
    std::string Shown;
    int Views;
    int Unsupported;
  };
  const TCase Cases[] = {
      {{"/shell", picture}, picture, 1, 0},
      // A folder opens as a tab showing its first picture.
      {{env.Folder()}, env.File("a.png"), 1, 0},
      // A later picture replaces an earlier one; other files are reported.
      {{env.File("notes.txt"), env.File("a.png"), picture}, picture, 1, 1},
      {{"/shell"}, std::string(), 0, 0},
      // A name is its bytes, UTF-8 or not.
      {{latin1}, latin1, 1, 0},
  };
  for (const TCase& c : Cases) {
    env.HelpShown = 0;
    TMainForm form(c.Arguments, nullptr);
    EXPECT_EQ(form.CurrentPathBytes(), c.Shown) << c.Arguments.back();
    EXPECT_EQ(static_cast<int>(form.FolderViews().size()), c.Views);
    EXPECT_EQ(env.HelpShown, c.Unsupported);
  }
}

namespace {

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

// Settings that a start cannot read (here saved by an editor as UTF-16) are
// kept beside the defaults the program goes on with, and said once, not at
// every start. Settings kept as a link to the user's dotfiles are read and
// written through the link, which stays.
TEST(MainWindow, UnreadableSettingsAreKeptAndSaidOnceALinkStays) {
  apptest::TAppEnv env;
  const std::string keys = platform::KeyStoreFolder() + "/HKEY_CURRENT_USER.keys";
  std::string foreign = "\xff\xfe";
  for (char c : std::string("Pictrova key store 1\nkey \"Software\"\n")) foreign += {c, '\0'};
  std::ofstream(keys, std::ios::binary) << foreign;
  for (int start = 0; start < 2; ++start) {
    TMainForm form({}, nullptr);
    EXPECT_EQ(form.Settings(), TMainSettings{});
    form.show();
    form.Ptv_MainExecuteMacro({"EXIT"});
  }
  EXPECT_EQ(env.HelpShown, 1);
  EXPECT_EQ(env.LastHelpCaption, "Settings Not Read");
  EXPECT_EQ(env.LastHelpDetail.toStdString(), "The file that could not be read was kept as:\n - " + keys + ".unreadable");
  EXPECT_EQ(FileBytes(keys + ".unreadable"), foreign);
  EXPECT_EQ(ReadSetting("SlideShowInterval"), "5000");

  testing_support::TTempFolder dotfiles;
  const std::string linked = dotfiles.File("pictrova.keys");
  std::ofstream(linked) << "Pictrova key store 1\nkey \"Software\"\nkey \"Software\" \"Halvenworth\"\n"
                           "key \"Software\" \"Halvenworth\" \"Pictrova 3\"\nsz \"SlideShowInterval\" \"7000\"\n";
  ASSERT_EQ(std::remove(keys.c_str()), 0);
  ASSERT_EQ(::symlink(linked.c_str(), keys.c_str()), 0);
  {
    TMainForm form({}, nullptr);
    EXPECT_EQ(form.Settings().SlideShowInterval, 7000);
    form.MutableSettings().SlideShowInterval = 8000;
    form.show();
    form.Ptv_MainExecuteMacro({"EXIT"});
  }
  char target[4096] = {};
  ASSERT_GT(::readlink(keys.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(target, linked);
  EXPECT_NE(FileBytes(linked).find("sz \"SlideShowInterval\" \"8000\"\n"), std::string::npos);
  EXPECT_EQ(env.HelpShown, 1);
}

// Settings the file system fails to give (EIO of a network home) are no
// damaged file: the window runs on the defaults without a word, and its
// close writes nothing over the file, though it reads again by then.
// An editor's CRLF line ends are read as they are; a file found holding
// another program's text in the middle of the run is kept aside and said
// then.
TEST(MainWindow, SettingsThatFailToBeReadStayAndALaterMoveIsSaid) {
  apptest::TAppEnv env;
  const std::string keys = platform::KeyStoreFolder() + "/HKEY_CURRENT_USER.keys";
  const std::string stored = "Pictrova key store 1\r\nkey \"Software\"\r\nkey \"Software\" \"Halvenworth\"\r\n"
                             "key \"Software\" \"Halvenworth\" \"Pictrova 3\"\r\nsz \"SlideShowInterval\" \"7000\"\r\n";
  std::ofstream(keys, std::ios::binary) << stored;
  platform::KeyStoreReadFault = [](const std::string&) { return EIO; };
  {
    TMainForm form({}, nullptr);
    platform::KeyStoreReadFault = nullptr;
    EXPECT_EQ(form.Settings(), TMainSettings{});
    form.MutableSettings().SlideShowInterval = 8000;
    form.show();
    form.Ptv_MainExecuteMacro({"EXIT"});
  }
  EXPECT_EQ(env.HelpShown, 0) << env.LastHelpText.toStdString();
  EXPECT_EQ(FileBytes(keys), stored);

  // The same file in another folder, read this time.
  testing_support::TTempFolder other;
  platform::SetKeyStoreFolder(other.Path());
  const std::string otherKeys = other.File("HKEY_CURRENT_USER.keys");
  std::ofstream(otherKeys, std::ios::binary) << stored;
  TMainForm form({}, nullptr);
  EXPECT_EQ(form.Settings().SlideShowInterval, 7000);
  EXPECT_EQ(env.HelpShown, 0);
  std::ofstream(otherKeys) << "[Settings]\nSlideShowInterval=9000\n";
  EXPECT_EQ(ReadSetting("SlideShowInterval"), "");
  ASSERT_TRUE(apptest::WaitUntil([&] { return env.HelpShown == 1; }));
  EXPECT_EQ(env.LastHelpCaption, "Settings Not Read");
  EXPECT_EQ(env.LastHelpDetail.toStdString(),
            "The file that could not be read was kept as:\n - " + otherKeys + ".unreadable");
}

// Settings read well at the start, where their many reads copy none of the
// store's keys, that the file system fails to give later (no descriptor
// left) stay as read: the failure is said once however often it is met,
// and what the window changed meanwhile reaches the file, beside another
// program's change, once the file reads again.
TEST(MainWindow, SettingsThatFailLaterKeepTheirValuesAndAreSaidOnce) {
  apptest::TAppEnv env;
  const std::string keys = platform::KeyStoreFolder() + "/HKEY_CURRENT_USER.keys";
  const std::string stored = "Pictrova key store 1\nkey \"Software\"\nkey \"Software\" \"Halvenworth\"\n"
                             "key \"Software\" \"Halvenworth\" \"Pictrova 3\"\nsz \"SlideShowInterval\" \"7000\"\n";
  std::ofstream(keys, std::ios::binary) << stored;
  const std::uint64_t copies = platform::KeyNodeCopies();
  TMainForm form({}, nullptr);
  EXPECT_EQ(platform::KeyNodeCopies() - copies, 0u);
  EXPECT_EQ(form.Settings().SlideShowInterval, 7000);
  std::ofstream(keys, std::ios::binary) << stored << "sz \"Theirs\" \"t\"\n";
  platform::KeyStoreReadFault = [](const std::string&) { return EMFILE; };
  for (int read = 0; read < 3; ++read) EXPECT_EQ(ReadSettingInt("SlideShowInterval", 5000), 7000);
  ASSERT_TRUE(apptest::WaitUntil([&] { return env.HelpShown == 1; }));
  EXPECT_EQ(env.LastHelpCaption, "Settings Not Read");
  EXPECT_EQ(env.LastHelpDetail.toStdString(), "The file that could not be read:\n - " + keys + " (" +
                                                  std::strerror(EMFILE) +
                                                  ")\nChanges to the settings are saved once the file can be read again.");
  form.MutableSettings().SlideShowInterval = 8000;
  form.show();
  form.Ptv_MainExecuteMacro({"EXIT"});
  EXPECT_EQ(FileBytes(keys), stored + "sz \"Theirs\" \"t\"\n");
  platform::KeyStoreReadFault = nullptr;
  EXPECT_EQ(ReadSetting("SlideShowInterval"), "8000");
  const std::string written = FileBytes(keys);
  EXPECT_NE(written.find("sz \"SlideShowInterval\" \"8000\"\n"), std::string::npos) << written;
  EXPECT_NE(written.find("sz \"Theirs\" \"t\"\n"), std::string::npos) << written;
  EXPECT_EQ(env.HelpShown, 1);
}

// The work files of a settings write that was killed (its hidden file, its
// lock) go at the start, before anything is read; while another running
// write holds the lock, both stay.
TEST(Startup, ClearsTheWorkFilesOfAKilledSettingsWrite) {
  apptest::TAppEnv env;
  testing_support::TTempFolder runtime;
  const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", runtime.QPath().toUtf8());
  WriteSetting("SlideShowInterval", "7000");
  const std::string folder = platform::KeyStoreFolder(), lock = folder + "/HKEY_CURRENT_USER.keys.lock";
  // A hidden name of a write, and one that only looks like it.
  const std::string hidden = folder + "/.HKEY_CURRENT_USER.keys.a1B2c3";
  const std::string other = folder + "/.HKEY_CURRENT_USER.keys.a1B2c3d";
  std::ofstream(other) << "not a write's";
  char program[] = "pictrova", exitWord[] = "EXIT";
  char* argv[] = {program, exitWord, nullptr};
  for (const bool held : {true, false}) {
    std::ofstream(hidden) << "half";
    std::ofstream{lock};
    const int holder = held ? ::open(lock.c_str(), O_RDWR | O_CLOEXEC) : -1;
    if (held) {
      ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    }
    EXPECT_EQ(ProgramEntry(2, argv), 0);
    EXPECT_EQ(QFile::exists(QString::fromStdString(hidden)), held);
    EXPECT_EQ(QFile::exists(QString::fromStdString(lock)), held);
    if (held) ::close(holder);
  }
  EXPECT_TRUE(QFile::exists(QString::fromStdString(other)));
  EXPECT_EQ(ReadSetting("SlideShowInterval"), "7000");
  if (savedRuntime.isNull()) qunsetenv("XDG_RUNTIME_DIR");
  else qputenv("XDG_RUNTIME_DIR", savedRuntime);
}

// A key store that cannot be written (its folder cannot be made) opens no
// recent-folders list: the main window opens and closes without one.
TEST(MainWindow, OpensAndClosesWhenTheSettingsCannotBeWritten) {
  apptest::TAppEnv env;
  std::ofstream(env.File("blocked")) << "x";
  platform::SetKeyStoreFolder(env.File("blocked") + "/keys");
  TMainForm form({}, nullptr);
  EXPECT_FALSE(form.FileMruList->Active());
  form.show();
  form.Ptv_MainExecuteMacro({"EXIT"});
  EXPECT_FALSE(form.isVisible());
}

TEST(MainWindow, CreationInstallsTheFourLzwCoders) {
  apptest::TAppEnv env;
  rv::RvDefaultGifLzwDecompress = nullptr;
  rv::RvDefaultGifLzwCompress = nullptr;
  rv::RvDefaultTiffLzwDecompress = nullptr;
  rv::RvDefaultTiffLzwCompress = nullptr;
  TMainForm form({}, nullptr);
  EXPECT_NE(rv::RvDefaultGifLzwDecompress, nullptr);
  EXPECT_NE(rv::RvDefaultGifLzwCompress, nullptr);
  EXPECT_NE(rv::RvDefaultTiffLzwDecompress, nullptr);
  EXPECT_NE(rv::RvDefaultTiffLzwCompress, nullptr);
}

TEST(MainWindow, ThePictureViewIsPreparedAtCreation) {
  apptest::TAppEnv env;
  TMainForm form({}, nullptr);
  rv::TRastrumView& view = *form.RastrumView1;
  EXPECT_TRUE(view.IsEmpty());
  EXPECT_DOUBLE_EQ(view.Zoom(), 100);
  EXPECT_TRUE(view.AutoFit);
  EXPECT_TRUE(form.AutoFit());
  rv::TRvTWainParams& scanner = view.GetIO()->TWainParams();
  const std::pair<std::string, std::string> identity[] = {{scanner.VersionInfo(), "3.0"},
                                                           {scanner.Manufacturer(), "Halvenworth"},
                                                           {scanner.ProductFamily(), "Image processing"},
                                                           {scanner.ProductName(), "Pictrova"}};
  for (const auto& [value, expected] : identity) EXPECT_EQ(value, expected);
  EXPECT_TRUE(scanner.BufferedTransfer());
  // The folder tab row starts at its empty height; no folder, "[Empty]".
  EXPECT_EQ(form.ThumbPageControl->height(), ScaleByScreenDpi(10));
  EXPECT_EQ(form.Windows1->actions().size(), 1);
  EXPECT_FALSE(form.Windows1->actions().front()->isEnabled());
  EXPECT_FALSE(form.CloseCurrentFolder1->isEnabled());
}

TEST(MainWindow, TheFormsOfStartUpAreReachableAndHiddenUntilAsked) {
  apptest::TAppEnv env;
  {
    TStartupForms forms({env.Folder()});
    const std::pair<QWidget*, QWidget*> reachable[] = {
        {OptionsForm, &forms.Options},       {ToolBox, &forms.Tools},
        {EmailSizeDlg, &forms.EmailSize},    {RenameDlg, &forms.Rename},
        {NewFolderDlg, &forms.NewFolder},    {NotificationDlg, &forms.Notification},
        {OpenFolderForm, &forms.OpenFolder}, {SaveAsForm, &forms.SaveAs},
    };
    for (const auto& [global, form] : reachable) {
      EXPECT_EQ(global, form) << form->metaObject()->className();
      EXPECT_FALSE(form->isVisible()) << form->metaObject()->className();
    }
    // The main window links itself to them: save-as, the tool box's host,
    // the preferences' recent list.
    TMainForm main({}, nullptr);
    main.FormsCreated();
    EXPECT_TRUE(main.SaveAsPrompt);
    EXPECT_NE(forms.Tools.Host, nullptr);
    EXPECT_EQ(forms.Options.RecentFolders, main.FileMruList);
  }
  // Gone with the run: no form is left reachable after it was freed.
  for (QWidget* global : std::initializer_list<QWidget*>{OptionsForm, ToolBox, EmailSizeDlg, RenameDlg, NewFolderDlg,
                                                          NotificationDlg, OpenFolderForm, SaveAsForm})
    EXPECT_EQ(global, nullptr);
}

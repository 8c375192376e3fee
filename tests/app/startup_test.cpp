#include "app/mainform.h"
#include "app/settings.h"
#include "app/startup.h"
#include "image/io/lzwhooks.h"
#include "support/tempfolder.h"

#include <QFile>
#include <gtest/gtest.h>

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
  EXPECT_EQ(SecondInstanceMacro({"/shell", f.fileName()}), f.fileName());
  EXPECT_EQ(SecondInstanceMacro({temp.QPath() + "/missing.jpg"}), "");
  EXPECT_EQ(SecondInstanceMacro({temp.QPath()}), ""); // a folder is no file

  QDir::setCurrent(temp.QPath());
  EXPECT_EQ(SecondInstanceMacro({"shot.jpg"}), f.fileName());
}

TEST(MainWindow, MacroOpensAPathOrClosesTheWindow) {
  testing_support::TTempFolder temp;
  platform::SetKeyStoreFolder(temp.Path());
  QFile f(temp.QPath() + "/a.png");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  {
    TMainForm form({}, nullptr);
    EXPECT_EQ(form.windowTitle(), "Pictrova by Halvenworth");
    form.Ptv_MainExecuteMacro({f.fileName()});
    EXPECT_EQ(form.CurrentFilePath(), f.fileName());
    EXPECT_EQ(form.windowTitle(), "Pictrova - " + f.fileName());
    form.Ptv_MainExecuteMacro({temp.QPath() + "/none.png"});
    EXPECT_EQ(form.CurrentFilePath(), f.fileName());
    form.show();
    form.Ptv_MainExecuteMacro({"EXIT"});
    EXPECT_FALSE(form.isVisible());
  }
  // Closing wrote the settings back.
  platform::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(SettingsKey, false));
  EXPECT_EQ(reg.ReadString("SlideShowInterval"), "5000");
  platform::SetKeyStoreFolder("");
}

TEST(MainWindow, APictureOnTheCommandLineIsOpened) {
  testing_support::TTempFolder temp;
  platform::SetKeyStoreFolder(temp.Path());
  QFile f(temp.QPath() + "/b.JPEG");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  TMainForm form({"/shell", f.fileName()}, nullptr);
  EXPECT_EQ(form.CurrentFilePath(), f.fileName());
  platform::SetKeyStoreFolder("");
}

TEST(MainWindow, CreationInstallsTheFourLzwCoders) {
  testing_support::TTempFolder temp;
  platform::SetKeyStoreFolder(temp.Path());
  rv::RvDefaultGifLzwDecompress = nullptr;
  rv::RvDefaultGifLzwCompress = nullptr;
  rv::RvDefaultTiffLzwDecompress = nullptr;
  rv::RvDefaultTiffLzwCompress = nullptr;
  TMainForm form({}, nullptr);
  EXPECT_NE(rv::RvDefaultGifLzwDecompress, nullptr);
  EXPECT_NE(rv::RvDefaultGifLzwCompress, nullptr);
  EXPECT_NE(rv::RvDefaultTiffLzwDecompress, nullptr);
  EXPECT_NE(rv::RvDefaultTiffLzwCompress, nullptr);
  platform::SetKeyStoreFolder("");
}

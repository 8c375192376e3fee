#include "app/mainform.h"
#include "app/settings.h"
#include "support/tempfolder.h"

#include <gtest/gtest.h>

using namespace app;

namespace {

class Settings : public ::testing::Test {
protected:
  void SetUp() override { platform::SetKeyStoreFolder(FTemp.Path()); }
  void TearDown() override { platform::SetKeyStoreFolder(""); }
  static std::string StoredText(const std::string& name) {
    platform::TRegistry reg;
    EXPECT_TRUE(reg.OpenKey(SettingsKey, false));
    return reg.ReadString(name);
  }
  testing_support::TTempFolder FTemp;
};

} // namespace

TEST_F(Settings, FirstStartTakesEveryDefaultAndCreatesTheKey) {
  TMainSettings s;
  s.SlideShowInterval = 1; // overwritten by the read
  s.Read();
  EXPECT_EQ(s, TMainSettings{});
  EXPECT_EQ(s.BackgroundColor, -2147483633);
  platform::TRegistry reg;
  EXPECT_TRUE(reg.KeyExists(SettingsKey));
}

TEST_F(Settings, BooleanTextsAndNumbers) {
  WriteSetting("B1", "1");
  WriteSetting("B0", "0");
  WriteSetting("Yes", "yes");
  WriteSetting("Upper", "TRUE");
  WriteSetting("Lower", "false");
  WriteSetting("Empty", "");
  EXPECT_TRUE(ReadSettingBool("B1", false));
  EXPECT_FALSE(ReadSettingBool("B0", true));
  EXPECT_TRUE(ReadSettingBool("Yes", true));
  EXPECT_FALSE(ReadSettingBool("Yes", false));
  EXPECT_TRUE(ReadSettingBool("Upper", false));
  EXPECT_FALSE(ReadSettingBool("Lower", true));
  EXPECT_TRUE(ReadSettingBool("Empty", true));
  EXPECT_TRUE(ReadSettingBool("Absent", true));
  EXPECT_EQ(BooleanToText(true), "True");
  EXPECT_EQ(BooleanToText(false), "False");

  WriteSetting("Neg", "-2147483633");
  WriteSetting("Over", "2147483648");
  WriteSetting("Junk", "12a");
  EXPECT_EQ(ReadSettingInt("Neg", 0), -2147483633);
  EXPECT_EQ(ReadSettingInt("Over", 5), 5);
  EXPECT_EQ(ReadSettingInt("Junk", 5), 5);
}

TEST_F(Settings, AValueOfAnotherKindReadsAsTheDefault) {
  platform::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(SettingsKey, true));
  reg.WriteInteger("SlideShowInterval", 1234);
  EXPECT_THROW(ReadSetting("SlideShowInterval"), platform::ERegistryException);
  EXPECT_EQ(ReadSettingInt("SlideShowInterval", 5000), 5000);
  EXPECT_TRUE(ReadSettingBool("SlideShowInterval", true));
}

TEST_F(Settings, WrittenAtCloseAndReadBackAtTheNextStart) {
  TMainSettings s;
  s.SlideShowInterval = 210000; // 3 minutes 30 seconds
  s.BackgroundColor = 0xFFFFFF;
  s.AnimateGif = true;
  s.FileMruMaxItems = 7;
  s.Write();
  EXPECT_EQ(StoredText("SlideShowInterval"), "210000");
  EXPECT_EQ(StoredText("QmFja0dyb3VuZENvbG9y"), "16777215");
  EXPECT_EQ(StoredText("AnimateGif"), "True");
  EXPECT_EQ(StoredText("StopAtStart"), "True");
  EXPECT_EQ(StoredText("BackGroundColor"), "");
  TMainSettings next;
  next.Read();
  EXPECT_EQ(next, s);

  s.BackgroundColor = 0;
  s.Write();
  EXPECT_EQ(StoredText("QmFja0dyb3VuZENvbG9y"), "0");
}

TEST_F(Settings, WriteRegistryValueByKind) {
  const std::string key = "\\Control Panel\\Desktop";
  WriteRegistryValue(platform::HKEY_CURRENT_USER, key, "WallpaperStyle", QVariant("2"), 1);
  WriteRegistryValue(platform::HKEY_CURRENT_USER, key, "Count", QVariant(5), 3);
  WriteRegistryValue(platform::HKEY_CURRENT_USER, key, "Raw", QVariant("AB"), 4);
  WriteRegistryValue(platform::HKEY_CURRENT_USER, key, "Path", QVariant("%HOME%"), 2);
  // Kind 0 keeps the kind already stored.
  WriteRegistryValue(platform::HKEY_CURRENT_USER, key, "Count", QVariant(9), 0);
  platform::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(key, false));
  EXPECT_EQ(reg.ReadString("WallpaperStyle"), "2");
  EXPECT_EQ(reg.ReadInteger("Count"), 9);
  EXPECT_EQ(reg.ReadBinaryData("Raw"), (std::vector<std::uint8_t>{'A', 'B'}));
  EXPECT_EQ(reg.GetDataType("Path"), platform::rdExpandString);
  EXPECT_THROW(WriteRegistryValue(platform::HKEY_CURRENT_USER, key, "New", QVariant(1), 0), std::runtime_error);
  EXPECT_THROW(WriteRegistryValue(platform::HKEY_CURRENT_USER, key, "Bad", QVariant(1), 5), std::runtime_error);
  EXPECT_THROW(WriteRegistryValue(platform::HKEY_CURRENT_USER, key, "NaN", QVariant("x"), 3), std::runtime_error);
}

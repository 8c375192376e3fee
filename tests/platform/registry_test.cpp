#include "platform/registry.h"
#include "support/tempfolder.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

class KeyStore : public ::testing::Test {
protected:
  void SetUp() override { SetKeyStoreFolder(FTemp.Path()); }
  void TearDown() override { SetKeyStoreFolder(""); }
  std::string FileText(const char* name = "HKEY_CURRENT_USER.keys") {
    std::ifstream in(FTemp.File(name));
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  testing_support::TTempFolder FTemp;
};

} // namespace

TEST_F(KeyStore, ValueKindsRoundTripThroughTheFile) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\Halvenworth\\Pictrova 3", true));
    reg.WriteString("Text", "line one\nline \"two\" \\ end");
    reg.WriteExpandString("Expand", "%HOME%/pictures");
    reg.WriteInteger("Colour", -2147483633);
    reg.WriteBinaryData("Bytes", {0x00, 0xff, 0x10});
    reg.WriteBinaryData("Empty", {});
  }
  TRegistry reg(KEY_READ);
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\software\\HALVENWORTH\\pictrova 3"));
  EXPECT_EQ(reg.ReadString("text"), "line one\nline \"two\" \\ end");
  EXPECT_EQ(reg.ReadString("Expand"), "%HOME%/pictures");
  EXPECT_EQ(reg.GetDataType("Expand"), rdExpandString);
  EXPECT_EQ(reg.ReadInteger("Colour"), -2147483633);
  EXPECT_EQ(reg.ReadBinaryData("Bytes"), (std::vector<std::uint8_t>{0x00, 0xff, 0x10}));
  EXPECT_TRUE(reg.ReadBinaryData("Empty").empty());
  EXPECT_EQ(reg.GetDataSize("Text"), 26); // the terminator counts
  EXPECT_EQ(reg.GetDataSize("Colour"), 4);
  EXPECT_EQ(reg.GetDataSize("Missing"), -1);
  // Names keep the case they were written with.
  std::vector<std::string> names;
  reg.GetValueNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Bytes", "Colour", "Empty", "Expand", "Text"}));
}

TEST_F(KeyStore, ValuesRoundTripAtTheRootAndInKeys) {
  // How the writer reaches its key: nothing opened, the root opened, keys below.
  const struct {
    const char* Open;
    const char* Path;
    std::int32_t Number;
  } cases[] = {{nullptr, "", 1}, {"\\", "", 2}, {"\\Software", "Software", 3}, {"\\Software\\A\\B", "Software\\A\\B", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Number);
    const std::string text = "at " + std::to_string(c.Number);
    {
      TRegistry reg;
      if (c.Open) ASSERT_TRUE(reg.OpenKey(c.Open, true));
      reg.WriteString("Text", text);
      reg.WriteInteger("Number", c.Number);
      reg.WriteBinaryData("Bytes", {static_cast<std::uint8_t>(c.Number)});
    }
    TRegistry reg(KEY_READ);
    if (*c.Path) ASSERT_TRUE(reg.OpenKeyReadOnly(c.Path));
    EXPECT_EQ(reg.ReadString("Text"), text);
    EXPECT_EQ(reg.ReadInteger("Number"), c.Number);
    EXPECT_EQ(reg.ReadBinaryData("Bytes"), std::vector<std::uint8_t>{static_cast<std::uint8_t>(c.Number)});
  }
  const TRegKeyNode root = ParseKeyStore(FileText());
  EXPECT_EQ(root.Values.at("text").Text, "at 2");
  EXPECT_EQ(root.SubKeys.at("software").Values.at("number").Integer, 3);
  EXPECT_EQ(root.SubKeys.at("software").SubKeys.at("a").SubKeys.at("b").Values.at("text").Text, "at 4");
}

TEST_F(KeyStore, ReadingAnotherKindRaisesAndAbsentTextIsEmpty) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Test", true));
  reg.WriteInteger("Number", 7);
  reg.WriteString("Word", "seven");
  EXPECT_THROW(reg.ReadString("Number"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("Word"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("Absent"), ERegistryException);
  EXPECT_EQ(reg.ReadString("Absent"), "");
}

TEST_F(KeyStore, OpenKeyWithoutCreateFailsAndRelativePathsNest) {
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("\\Software\\Nothing", false));
  ASSERT_TRUE(reg.OpenKey("\\Software\\Halvenworth", true));
  ASSERT_TRUE(reg.OpenKey("Pictrova 3\\WinState\\", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Halvenworth\\Pictrova 3\\WinState");
  EXPECT_TRUE(reg.KeyExists("\\Software\\Halvenworth\\Pictrova 3"));
}

TEST_F(KeyStore, DeleteKeyRemovesTheWholeSubtree) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\A\\B\\C", true));
  reg.WriteString("Deep", "x");
  ASSERT_TRUE(reg.OpenKey("\\Software\\A\\Sibling", true));
  reg.CloseKey();
  EXPECT_TRUE(reg.DeleteKey("\\Software\\A\\B"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\A\\B\\C"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\A\\B"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\A\\Sibling"));
  EXPECT_FALSE(reg.DeleteKey("\\Software\\A\\B"));
  ASSERT_TRUE(reg.OpenKey("\\Software\\A", false));
  std::vector<std::string> keys;
  reg.GetKeyNames(keys);
  EXPECT_EQ(keys, std::vector<std::string>{"Sibling"});
}

TEST_F(KeyStore, ReadOnlyAccessRefusesWrites) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\Test", true));
  }
  TRegistry reg(KEY_READ);
  EXPECT_FALSE(reg.OpenKey("\\Software\\Other", true));
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\Test"));
  EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
}

TEST_F(KeyStore, RootsAreSeparateFiles) {
  TRegistry classes;
  classes.SetRootKey(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(classes.OpenKey("\\.jpg", true));
  classes.WriteString("", "Pictrova.jpg");
  TRegistry user;
  EXPECT_FALSE(user.KeyExists("\\.jpg"));
  EXPECT_NE(FileText("HKEY_CLASSES_ROOT.keys").find("Pictrova.jpg"), std::string::npos);
}

TEST_F(KeyStore, WritesLeaveNoTemporaryFilesAndSeeOtherWriters) {
  TRegistry a, b;
  ASSERT_TRUE(a.OpenKey("\\K", true));
  ASSERT_TRUE(b.OpenKey("\\K", true));
  a.WriteString("One", "1");
  b.WriteString("Two", "2");
  EXPECT_EQ(a.ReadString("Two"), "2");
  EXPECT_EQ(b.ReadString("One"), "1");
  for (const auto& entry : QDir(FTemp.QPath()).entryList(QDir::Files | QDir::Hidden))
    EXPECT_TRUE(entry.endsWith(".keys") || entry.endsWith(".lock")) << entry.toStdString();
}

TEST_F(KeyStore, TwoProcessesWritingAtOnceLoseNoValue) {
  constexpr int kEach = 150;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      TRegistry reg;
      if (!reg.OpenKey("\\Software\\Race", true)) _exit(2);
      for (int i = 0; i < kEach; ++i) reg.WriteString("P" + std::to_string(c) + "_" + std::to_string(i), "v");
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
  }
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Race", false));
  std::vector<std::string> names;
  reg.GetValueNames(names);
  EXPECT_EQ(names.size(), 2u * kEach);
}

TEST(KeyStoreText, DamagedLinesAreSkippedNotFatal) {
  const std::string text =
      "Pictrova key store 1\n"
      "key \"Software\"\n"
      "sz \"Good\" \"yes\"\n"
      "sz \"Unterminated x\n"
      "dword \"TooBig\" 99999999999\n"
      "hex \"Odd\" abc\n"
      "dword \"Fine\" -5\n"
      "key \"Bad\\\\Name\"\n"
      "sz \"Orphan\" \"o\"\n";
  TRegKeyNode root = ParseKeyStore(text);
  ASSERT_EQ(root.SubKeys.size(), 1u);
  const TRegKeyNode& sw = root.SubKeys.at("software");
  EXPECT_EQ(sw.Values.size(), 2u);
  EXPECT_EQ(sw.Values.at("good").Text, "yes");
  EXPECT_EQ(sw.Values.at("fine").Integer, -5);
  EXPECT_EQ(ParseKeyStore(SerializeKeyStore(root)), root);
}

#include "platform/registry.h"
#include "support/tempfolder.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

class KeyStore : public ::testing::Test {
protected:
  void SetUp() override { SetKeyStoreFolder(FTemp.Path()); }
  void TearDown() override {
    KeyStoreReadFault = nullptr;
    SetOnKeyStoreReadFailed(nullptr);
    SetKeyStoreFolder("");
  }
  std::string FileText(const char* name = "HKEY_CURRENT_USER.keys") { return TextOf(FTemp.File(name)); }
  static std::string TextOf(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  testing_support::TTempFolder FTemp;
};

std::vector<std::string> Names(const TRegKeyNode& node) {
  std::vector<std::string> names;
  for (const auto& [_, v] : node.Values) names.push_back(v.Name);
  return names;
}

} // namespace

TEST_F(KeyStore, ValuesRoundTripAtTheRootAndInKeys) {
  // How the writer reaches its key: nothing opened, the root opened, keys below.
  const std::pair<const char*, const char*> cases[] = {{nullptr, "1"}, {"\\", "2"}, {"\\Software", "3"},
                                                       {"\\Software\\A\\B", "4"}};
  for (auto [open, text] : cases) {
    TRegistry writer, reader(KEY_READ);
    if (open) {
      ASSERT_TRUE(writer.OpenKey(open, true));
      ASSERT_TRUE(reader.OpenKeyReadOnly(open));
    }
    writer.WriteString("Text", text);
    writer.WriteBinaryData("Bytes", {static_cast<std::uint8_t>(*text)});
    EXPECT_EQ(reader.ReadString("Text"), text);
    EXPECT_EQ(reader.ReadBinaryData("Bytes"), std::vector<std::uint8_t>{static_cast<std::uint8_t>(*text)});
  }
  const TRegKeyNode root = ParseKeyStore(FileText());
  EXPECT_EQ(root.Values.at("text").Text, "2");
  EXPECT_EQ(root.SubKeys.at("software").Values.at("text").Text, "3");
  EXPECT_EQ(root.SubKeys.at("software").SubKeys.at("a").SubKeys.at("b").Values.at("text").Text, "4");
}

TEST_F(KeyStore, EveryKindRoundTripsWithItsSizeAndItsLine) {
  std::string allBytes;
  for (int c = 1; c < 256; ++c) allBytes += static_cast<char>(c);
  const struct {
    TRegValue Value;
    int Size; // as the system counts it: text with its terminator
    const char* Line;
  } values[] = {
      {{"Control", rdString, "\x01\x1f \x7e\x7f\t\r\n\"\\", 0, {}}, 11, "sz \"Control\" \"\\x01\\x1f ~\\x7f\\t\\r\\n\\\"\\\\\"\n"},
      {{"Every", rdString, allBytes, 0, {}}, 256, "sz \"Every\" \"\\x01\\x02"},
      {{"", rdString, "default", 0, {}}, 8, "sz \"\" \"default\"\n"},
      {{"Expand", rdExpandString, "%HOME%/x", 0, {}}, 9, "expand \"Expand\" \"%HOME%/x\"\n"},
      {{"Min", rdInteger, "", INT_MIN, {}}, 4, "dword \"Min\" -2147483648\n"},
      {{"Max", rdInteger, "", INT_MAX, {}}, 4, "dword \"Max\" 2147483647\n"},
      {{"Bytes", rdBinary, "", 0, {0x00, 0x0f, 0x10, 0x9a, 0xff}}, 5, "hex \"Bytes\" 000f109aff\n"},
      {{"Empty", rdBinary, "", 0, {}}, 0, "hex \"Empty\" -\n"},
  };
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\Halvenworth\\Pictrova 3", true));
    for (const auto& v : values) {
      switch (v.Value.Kind) {
        case rdString: reg.WriteString(v.Value.Name, v.Value.Text); break;
        case rdExpandString: reg.WriteExpandString(v.Value.Name, v.Value.Text); break;
        case rdInteger: reg.WriteInteger(v.Value.Name, v.Value.Integer); break;
        default: reg.WriteBinaryData(v.Value.Name, v.Value.Bytes); break;
      }
    }
    reg.WriteBool("Yes", true);
    reg.WriteBool("No", false);
  }
  TRegistry reg(KEY_READ);
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\software\\HALVENWORTH\\pictrova 3"));
  const std::string text = FileText();
  EXPECT_EQ(text.rfind("Pictrova key store 1\nkey \"Software\"\nkey \"Software\" \"Halvenworth\"\n"
                       "key \"Software\" \"Halvenworth\" \"Pictrova 3\"\nsz \"\" \"default\"\n", 0), 0u);
  for (const auto& v : values) {
    const std::string& name = v.Value.Name;
    EXPECT_EQ(reg.GetDataType(name), v.Value.Kind) << name;
    EXPECT_EQ(reg.GetDataSize(name), v.Size) << name;
    EXPECT_NE(text.find(v.Line), std::string::npos) << v.Line;
    if (v.Value.Kind == rdInteger)
      EXPECT_EQ(reg.ReadInteger(name), v.Value.Integer);
    else if (v.Value.Kind == rdBinary)
      EXPECT_EQ(reg.ReadBinaryData(name), v.Value.Bytes);
    else
      EXPECT_EQ(reg.ReadString(name), v.Value.Text);
  }
  EXPECT_TRUE(reg.ReadBool("Yes"));
  EXPECT_FALSE(reg.ReadBool("No"));
  EXPECT_TRUE(reg.ReadBool("Min")); // any number but 0
  EXPECT_EQ(reg.GetDataType("Missing"), rdUnknown);
  EXPECT_EQ(reg.GetDataSize("Missing"), -1);
  std::vector<std::string> names;
  ASSERT_TRUE(reg.GetValueNames(names));
  EXPECT_EQ(names, (std::vector<std::string>{"", "Bytes", "Control", "Empty", "Every", "Expand", "Max", "Min", "No", "Yes"}));
}

TEST_F(KeyStore, ReadingAnotherKindRaisesAndAbsentTextIsEmpty) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Test", true));
  reg.WriteInteger("Number", 7);
  reg.WriteString("Word", "seven");
  reg.WriteBinaryData("Bytes", {7});
  EXPECT_EQ(reg.ReadString("Absent"), "");
  const std::function<void(const char*)> readers[] = {
      [&](const char* n) { reg.ReadString(n); }, [&](const char* n) { reg.ReadInteger(n); },
      [&](const char* n) { reg.ReadBool(n); }, [&](const char* n) { reg.ReadBinaryData(n); }};
  const std::pair<int, const char*> refused[] = {{0, "Number"}, {0, "Bytes"}, {1, "Word"},   {1, "Absent"}, {2, "Word"},
                                                 {2, "Absent"}, {3, "Word"},  {3, "Number"}, {3, "Absent"}};
  for (auto [reader, name] : refused) EXPECT_THROW(readers[reader](name), ERegistryException) << reader << name;
}

TEST_F(KeyStore, KeysAreCreatedOpenedListedAndDeleted) {
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("\\Software\\Nothing", false));
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_TRUE(reg.CreateKey("\\Software\\Halvenworth"));
  EXPECT_TRUE(reg.CreateKey("\\software\\halvenworth")); // there already: as good as made
  EXPECT_FALSE(reg.CreateKey("\\"));                      // the root always exists
  ASSERT_TRUE(reg.OpenKey("\\Software\\Halvenworth", false));
  EXPECT_FALSE(reg.HasSubKeys());
  // Relative to the open key, a trailing backslash ignored.
  EXPECT_TRUE(reg.CreateKey("Pictrova 3\\WinState\\"));
  EXPECT_TRUE(reg.HasSubKeys());
  ASSERT_TRUE(reg.OpenKey("Pictrova 3\\", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Halvenworth\\Pictrova 3");
  EXPECT_TRUE(reg.KeyExists("WinState"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\Halvenworth\\Pictrova 3\\WinState"));
  EXPECT_FALSE(reg.KeyExists("\\WinState"));

  reg.WriteString("Gone", "x");
  EXPECT_TRUE(reg.DeleteValue("gone"));
  EXPECT_FALSE(reg.DeleteValue("Gone"));
  EXPECT_FALSE(reg.ValueExists("Gone"));

  reg.CloseKey();
  EXPECT_TRUE(reg.HasSubKeys()); // the root holds Software
  ASSERT_TRUE(reg.OpenKey("\\Software\\Sibling", true));
  reg.WriteString("Deep", "x");
  std::vector<std::string> keys;
  ASSERT_TRUE(reg.OpenKey("\\Software", false));
  ASSERT_TRUE(reg.GetKeyNames(keys));
  EXPECT_EQ(keys, (std::vector<std::string>{"Halvenworth", "Sibling"}));
  EXPECT_FALSE(reg.DeleteKey("\\"));
  EXPECT_FALSE(reg.DeleteKey("Missing"));
  EXPECT_FALSE(reg.DeleteKey("\\Missing\\Key"));
  TRegistry other;
  ASSERT_TRUE(other.OpenKey("\\Software\\Halvenworth\\Pictrova 3", false));
  EXPECT_TRUE(reg.DeleteKey("Halvenworth")); // with its whole subtree
  // A key deleted under another object's feet holds nothing any more.
  EXPECT_FALSE(other.ValueExists("Gone"));
  EXPECT_EQ(other.ReadString("Gone"), "");
  EXPECT_FALSE(other.GetValueNames(keys));
  EXPECT_FALSE(reg.KeyExists("\\Software\\Halvenworth\\Pictrova 3\\WinState"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\Halvenworth"));
  ASSERT_TRUE(reg.GetKeyNames(keys));
  EXPECT_EQ(keys, std::vector<std::string>{"Sibling"});
  EXPECT_TRUE(reg.KeyExists("Sibling"));
}

TEST_F(KeyStore, ReadOnlyAccessRefusesWrites) {
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\Test", true));
    reg.WriteString("Kept", "k");
  }
  TRegistry reg(KEY_READ);
  EXPECT_FALSE(reg.OpenKey("\\Software\\Other", true));
  EXPECT_FALSE(reg.OpenKeyReadOnly("\\Software\\Other"));
  EXPECT_FALSE(reg.KeyExists("\\Software\\Other"));
  ASSERT_TRUE(reg.OpenKey("\\Software\\Test", false));
  EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
  EXPECT_THROW(reg.WriteInteger("x", 1), ERegistryException);
  EXPECT_THROW(reg.DeleteValue("Kept"), ERegistryException);
  EXPECT_EQ(reg.ReadString("Kept"), "k");
  // Opening read-only lowers the access of a full-access object.
  TRegistry full;
  ASSERT_TRUE(full.OpenKeyReadOnly("\\Software\\Test"));
  EXPECT_EQ(full.Access(), KEY_READ);
  EXPECT_THROW(full.WriteBool("x", true), ERegistryException);
}

TEST_F(KeyStore, AWriteThatCannotBeSavedRaises) {
  // A file where the folder should be.
  std::ofstream(FTemp.File("blocked")) << "x";
  SetKeyStoreFolder(FTemp.File("blocked") + "/keys");
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("\\Software", true));
  EXPECT_FALSE(reg.CreateKey("\\Software"));
  EXPECT_THROW(reg.WriteString("Lost", "x"), ERegistryException);
  // A folder several levels deep is made on the first write.
  SetKeyStoreFolder(FTemp.File("one/two/three"));
  reg.WriteString("Saved", "x");
  EXPECT_EQ(reg.ReadString("Saved"), "x");
  // A file of one byte is read in full, and found to hold nothing.
  std::ofstream(FTemp.File("one/two/three/HKEY_CURRENT_USER.keys")) << "\n";
  reg.WriteString("Again", "y");
  EXPECT_EQ(Names(ParseKeyStore(FileText("one/two/three/HKEY_CURRENT_USER.keys"))), std::vector<std::string>{"Again"});
}

// A file the file system fails to give (a network home's EIO, no descriptor
// left, a folder in its place) is no damaged file: it stays as it is, and
// the run starts from nothing and keeps what it writes in memory, never
// over the file, not even once the file could be read again.
TEST_F(KeyStore, AFileThatFailsToBeReadIsLeftAsItIs) {
  const std::string stored = "Pictrova key store 1\nsz \"V\" \"stored\"\n";
  const struct {
    const char* Name;
    int Fault;
  } cases[] = {{"EIO", EIO}, {"EMFILE", EMFILE}, {"a folder", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    testing_support::TTempFolder folder;
    SetKeyStoreFolder(folder.Path());
    const std::string file = folder.File("HKEY_CURRENT_USER.keys");
    if (c.Fault == 0) ASSERT_EQ(::mkdir(file.c_str(), 0700), 0);
    else std::ofstream(file) << stored;
    KeyStoreReadFault = [&](const std::string&) { return c.Fault; };
    TRegistry reg;
    EXPECT_EQ(reg.ReadString("V"), "");
    KeyStoreReadFault = nullptr;
    reg.WriteString("V", "this run's");
    ASSERT_TRUE(reg.OpenKey("\\Software", true));
    reg.WriteString("W", "w");
    EXPECT_EQ(TRegistry().ReadString("V"), "this run's");
    EXPECT_EQ(TakeKeptUnreadableFiles(), std::vector<std::string>{});
    if (c.Fault != 0) {
      EXPECT_EQ(TextOf(file), stored);
    }
    EXPECT_EQ(QDir(folder.QPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"HKEY_CURRENT_USER.keys"});
  }
}

// A file read well that the file system then fails to give (a network
// home's EIO, no descriptor left) keeps what it held: reads answer the
// values last read, this run's writes wait over them and reach the file,
// over what another program wrote meanwhile, once it reads again; the
// failure is told once.
TEST_F(KeyStore, AFileReadWellThenFailingKeepsItsValuesAndWritesLater) {
  const std::string before = "Pictrova key store 1\nkey \"K\"\nsz \"Kept\" \"k\"\nsz \"Mine\" \"old\"\n";
  const std::string others = before + "sz \"Theirs\" \"t\"\n"; // another program's write
  for (const int fault : {EIO, EMFILE}) {
    SCOPED_TRACE(fault);
    testing_support::TTempFolder folder;
    SetKeyStoreFolder(folder.Path());
    const std::string file = folder.File("HKEY_CURRENT_USER.keys");
    std::ofstream(file) << before;
    int told = 0;
    SetOnKeyStoreReadFailed([&] { ++told; });
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\K", false));
    EXPECT_EQ(reg.ReadString("Kept"), "k");
    std::ofstream(file) << others;
    KeyStoreReadFault = [&](const std::string&) { return fault; };
    for (int read = 0; read < 3; ++read) EXPECT_EQ(reg.ReadString("Kept"), "k");
    reg.WriteString("Mine", "this run's");
    EXPECT_TRUE(reg.DeleteValue("Kept"));
    EXPECT_EQ(reg.ReadString("Mine"), "this run's");
    EXPECT_FALSE(reg.ValueExists("Kept"));
    EXPECT_EQ(TextOf(file), others);
    KeyStoreReadFault = nullptr;
    // The first read that reads the file again writes what waited.
    EXPECT_EQ(reg.ReadString("Theirs"), "t");
    EXPECT_EQ(TextOf(file), "Pictrova key store 1\nkey \"K\"\nsz \"Mine\" \"this run's\"\nsz \"Theirs\" \"t\"\n");
    SetOnKeyStoreReadFailed(nullptr);
    EXPECT_EQ(told, 1);
    const auto failures = TakeKeyStoreReadFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].File, file);
    EXPECT_EQ(failures[0].Error, fault);
  }
  // No descriptor left at all, for real, in a child: its writes cannot even
  // take the lock, and wait for the next write.
  SetKeyStoreFolder(FTemp.Path());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TRegistry reg;
    reg.WriteString("V", "before");
    struct rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 256);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(2);
    std::vector<int> filled;
    for (int fd; (fd = ::dup(0)) >= 0;) filled.push_back(fd);
    if (errno != EMFILE) _exit(3);
    try {
      reg.WriteString("V", "during");
    } catch (const ERegistryException&) {
      _exit(4);
    }
    if (reg.ReadString("V") != "during") _exit(5);
    for (int fd : filled) ::close(fd);
    reg.WriteString("W", "after");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FileText(), "Pictrova key store 1\nsz \"V\" \"during\"\nsz \"W\" \"after\"\n");
}

// A read looks its value up in the tree the store keeps: reads of every
// kind, however many, copy none of its keys.
TEST_F(KeyStore, ReadsCopyNoKeyOfTheTree) {
  const std::string key = "\\Software\\Halvenworth\\Pictrova 3";
  TRegistry writer, reader(KEY_READ);
  ASSERT_TRUE(writer.OpenKey(key, true));
  writer.WriteString("Text", "t");
  writer.WriteInteger("Number", 1);
  writer.WriteBinaryData("Bytes", {1});
  ASSERT_TRUE(writer.CreateKey("Sub"));
  const std::uint64_t copies = KeyNodeCopies();
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(writer.OpenKey(key, true));
    ASSERT_TRUE(reader.OpenKeyReadOnly(key));
    EXPECT_EQ(reader.ReadString("Text"), "t");
    EXPECT_EQ(reader.ReadInteger("Number"), 1);
    EXPECT_EQ(reader.ReadBinaryData("Bytes").size(), 1u);
    EXPECT_EQ(reader.GetDataType("Text"), rdString);
    EXPECT_EQ(reader.GetDataSize("Absent"), -1);
    EXPECT_TRUE(reader.ValueExists("Number"));
    EXPECT_TRUE(reader.KeyExists("Sub"));
    EXPECT_TRUE(reader.HasSubKeys());
    std::vector<std::string> names;
    EXPECT_TRUE(reader.GetValueNames(names));
    EXPECT_TRUE(reader.GetKeyNames(names));
  }
  EXPECT_EQ(KeyNodeCopies() - copies, 0u);
}

// An editor's CRLF line ends read as the store's own; text of another
// program's is moved aside, and each move is told, also one that a read
// finds in the middle of the run.
TEST_F(KeyStore, CrLfLinesAreReadAndEveryMoveAsideIsTold) {
  int told = 0;
  SetOnUnreadableKept([&] { ++told; });
  const std::string file = FTemp.File("HKEY_CURRENT_USER.keys");
  std::ofstream(file, std::ios::binary) << "Pictrova key store 1 \r\nkey \"K\"\r\nsz \"V\" \"crlf\"\r\n";
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\K", false));
  EXPECT_EQ(reg.ReadString("V"), "crlf");
  reg.WriteString("W", "w");
  EXPECT_EQ(FileText(), "Pictrova key store 1\nkey \"K\"\nsz \"V\" \"crlf\"\nsz \"W\" \"w\"\n");
  for (int move = 1; move <= 2; ++move) {
    std::ofstream(file) << "[Settings]\nV=other\n";
    EXPECT_EQ(reg.ReadString("V"), "");
    EXPECT_EQ(told, move);
  }
  SetOnUnreadableKept(nullptr);
  EXPECT_EQ(TakeKeptUnreadableFiles(), (std::vector<std::string>{file + ".unreadable", file + ".unreadable.2"}));
}

// A key line four times deeper than the deepest key is refused with its
// values, as a damaged one; the rest of the file is read, the deepest key
// allowed is kept, and what is written back stays small. (A store that took
// the line would write each of its levels with its whole path: its depth
// bounds that work, which grows with its square.)
TEST_F(KeyStore, AKeyDeeperThanAnyKeyIsRefused) {
  std::string deep = "key", deepest = "key", deepestPath;
  for (size_t i = 0; i < 4 * MaxKeyDepth; ++i) deep += " a";
  for (size_t i = 0; i < MaxKeyDepth; ++i) {
    deepest += " b";
    deepestPath += "\\b";
  }
  std::ofstream(FTemp.File("HKEY_CURRENT_USER.keys"))
      << "Pictrova key store 1\nkey \"Software\"\nsz \"Kept\" \"k\"\n"
      << deep << "\nsz \"Orphan\" \"o\"\n" << deepest << "\nsz \"Deepest\" \"d\"\n";
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software", false));
  EXPECT_EQ(reg.ReadString("Kept"), "k");
  reg.WriteString("Written", "w");
  EXPECT_FALSE(reg.KeyExists("\\a"));
  ASSERT_TRUE(reg.OpenKey(deepestPath, false));
  EXPECT_EQ(reg.ReadString("Deepest"), "d");
  // Nothing deeper is made, from the root or from the deepest key.
  EXPECT_FALSE(reg.CreateKey("c"));
  EXPECT_FALSE(reg.OpenKey("c", true));
  EXPECT_FALSE(reg.CreateKey(deepestPath + "\\c"));
  EXPECT_FALSE(reg.KeyExists(deepestPath + "\\c"));
  // The deepest key's 64 lines, each with its path, and two values.
  EXPECT_LT(FileText().size(), 10000u);
  EXPECT_EQ(Names(ParseKeyStore(FileText()).SubKeys.at("software")), (std::vector<std::string>{"Kept", "Written"}));
}

TEST_F(KeyStore, RootsAreSeparateFilesAndChangesFromOutsideAreSeen) {
  TRegistry classes;
  classes.SetRootKey(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(classes.OpenKey("\\.jpg", true));
  classes.WriteString("", "Pictrova.jpg");
  classes.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(classes.HasCurrentKey());
  classes.WriteString("Machine", "m");
  TRegistry user;
  EXPECT_FALSE(user.KeyExists("\\.jpg"));
  user.WriteString("User", "u");
  EXPECT_EQ(ParseKeyStore(FileText("HKEY_CLASSES_ROOT.keys")).SubKeys.at(".jpg").Values.at("").Text, "Pictrova.jpg");
  EXPECT_EQ(Names(ParseKeyStore(FileText("HKEY_LOCAL_MACHINE.keys"))), std::vector<std::string>{"Machine"});
  EXPECT_EQ(Names(ParseKeyStore(FileText())), std::vector<std::string>{"User"});

  // Another program rewrites the file: the next read sees it.
  EXPECT_EQ(user.ReadString("User"), "u");
  std::ofstream(FTemp.File("HKEY_CURRENT_USER.keys")) << "Pictrova key store 1\nsz \"User\" \"changed\"\n";
  EXPECT_EQ(user.ReadString("User"), "changed");
  std::remove(FTemp.File("HKEY_CURRENT_USER.keys").c_str());
  EXPECT_FALSE(user.ValueExists("User"));
  // Another folder is another store.
  testing_support::TTempFolder other;
  SetKeyStoreFolder(other.Path());
  EXPECT_FALSE(user.ValueExists("User"));
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
  // Nor the lock: it goes with its write.
  EXPECT_EQ(QDir(FTemp.QPath()).entryList({"*.lock"}, QDir::Files | QDir::Hidden), QStringList());
}

// Run by root with another user's home, the program leaves that user's
// store the user's.
TEST_F(KeyStore, AStoreRewrittenKeepsItsOwnerAndMode) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  TRegistry reg;
  reg.WriteString("Value", "one");
  const std::string file = FTemp.File("HKEY_CURRENT_USER.keys");
  ASSERT_EQ(::chown(file.c_str(), 1234, 1234), 0);
  reg.WriteString("Value", "two");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 1234u);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(reg.ReadString("Value"), "two");
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
      for (int i = 0; i < kEach; ++i) reg.WriteString(std::to_string(c) + "_" + std::to_string(i), "v");
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

TEST(KeyStoreText, EachDamagedLineIsSkippedOnItsOwn) {
  const struct {
    const char* Line;
    const char* Value; // what "V" reads as, nullptr when the line is refused
  } cases[] = {
      {"sz \"V\" \"yes\"", "yes"},       {"sz  \"V\"   \"two blanks\"", "two blanks"},
      {"sz \"V\" \"\\x4a\\x4B\"", "JK"}, {"sz \"V\" \"\\x0", nullptr}, {"sz \"V\" \"\\x4g\"", nullptr},
      {"sz \"V\" \"\\xg4\"", nullptr},  {"sz \"V\" \"\\q\"", nullptr},  {"sz \"V\" \"open", nullptr},
      {"sz \"V\" \"end\\", nullptr},    {"sz \"V\"", nullptr},             {"sz \"V\" \"a\" \"b\"", nullptr},
      {"word \"V\" \"x\"", nullptr},     {"dword \"V\" 2147483647", "2147483647"},
      {"dword \"V\" -2147483648", "-2147483648"}, {"dword \"V\" 2147483648", nullptr},
      {"dword \"V\" -2147483649", nullptr}, {"dword \"V\" 99999999999999999999", nullptr},
      {"dword \"V\" 12x", nullptr},     {"dword \"V\" x", nullptr},        {"hex \"V\" 00fF", "2"},
      {"hex \"V\" -", "0"},             {"hex \"V\" abc", nullptr},        {"hex \"V\" 0g", nullptr},
      {"hex \"V\" g0", nullptr},
  };
  for (const auto& c : cases) {
    const std::string text = std::string("Pictrova key store 1\nkey \"K\"\nsz \"Before\" \"b\"\n") + c.Line +
                             "\nsz \"After\" \"a\"\n";
    const TRegKeyNode root = ParseKeyStore(text);
    const TRegKeyNode& k = root.SubKeys.at("k");
    EXPECT_EQ(k.Values.at("before").Text, "b") << c.Line;
    EXPECT_EQ(k.Values.at("after").Text, "a") << c.Line;
    const auto v = k.Values.find("v");
    ASSERT_EQ(v != k.Values.end(), c.Value != nullptr) << c.Line;
    if (!c.Value) continue;
    const TRegValue& got = v->second;
    const std::string seen = got.Kind == rdInteger  ? std::to_string(got.Integer)
                             : got.Kind == rdBinary ? std::to_string(got.Bytes.size())
                                                    : got.Text;
    EXPECT_EQ(seen, c.Value) << c.Line;
  }
  EXPECT_EQ(ParseKeyStore("hex \"V\" 00fF\n").Values.at("v").Bytes, (std::vector<std::uint8_t>{0x00, 0xff}));
}

TEST(KeyStoreText, DamagedKeyLinesOrphanTheirValues) {
  const char* badKeys[] = {"key", "key \"Bad\\\\Name\"", "key \"A\" \"\"", "key \"open"};
  for (const char* bad : badKeys) {
    const TRegKeyNode root =
        ParseKeyStore(std::string("sz \"Root\" \"r\"\nkey \"Good\"\n") + bad + "\nsz \"Orphan\" \"o\"\n");
    EXPECT_EQ(Names(root), std::vector<std::string>{"Root"}) << bad;
    EXPECT_TRUE(root.SubKeys.at("good").Values.empty()) << bad;
    EXPECT_EQ(ParseKeyStore(SerializeKeyStore(root)), root) << bad;
  }
  // Key names compare without case; the first spelling stays.
  const TRegKeyNode root = ParseKeyStore("key \"Soft\" \"Ware\"\n\n  \nsz \"A\" \"1\"\nkey \"SOFT\"\nsz \"B\" \"2\"\n");
  ASSERT_EQ(root.SubKeys.size(), 1u);
  EXPECT_EQ(root.SubKeys.at("soft").Name, "Soft");
  EXPECT_EQ(root.SubKeys.at("soft").SubKeys.at("ware").Name, "Ware");
  EXPECT_EQ(Names(root.SubKeys.at("soft")), std::vector<std::string>{"B"});
}

TEST(KeyStoreFolderName, FollowsTheEnvironment) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedXdg = xdg ? xdg : "", home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const struct {
    const char* Xdg;
    const char* Home;
    const char* Folder;
  } cases[] = {{"/cfg", "/home/u", "/cfg/Halvenworth/Pictrova 3"},
               {"relative", "/home/u", "/home/u/.config/Halvenworth/Pictrova 3"},
               {"", "/home/u", "/home/u/.config/Halvenworth/Pictrova 3"},
               {"", "", "/tmp/Halvenworth/Pictrova 3"}};
  for (const auto& c : cases) {
    setenv("XDG_CONFIG_HOME", c.Xdg, 1);
    setenv("HOME", c.Home, 1);
    EXPECT_EQ(KeyStoreFolder(), c.Folder) << c.Xdg << " " << c.Home;
  }
  SetKeyStoreFolder("/elsewhere");
  EXPECT_EQ(KeyStoreFolder(), "/elsewhere");
  SetKeyStoreFolder("");
  if (xdg) setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", home.c_str(), 1);
}

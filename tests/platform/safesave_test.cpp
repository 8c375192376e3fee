#include "platform/safesave.h"
#include "platform/registry.h"
#include "platform/stream.h"
#include "support/asnobody.h"
#include "support/tempfolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <vector>

namespace {

using testing_support::TTempFolder;

std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

void WriteAll(const std::string& Path, const std::string& Text) { std::ofstream(Path, std::ios::binary) << Text; }

// An access control list as the kernel keeps it in its attribute: the owner,
// the named user 4321, the group, the mask and the others.
std::string AclValue(int Owner, int Named, int Group, int Mask, int Other) {
  std::string Value;
  auto Put = [&](std::uint32_t Number, int Bytes) {
    for (int I = 0; I < Bytes; ++I) Value += static_cast<char>((Number >> (8 * I)) & 0xff);
  };
  Put(2, 4); // version
  const int Entries[][3] = {{0x01, Owner, -1}, {0x02, Named, 4321}, {0x04, Group, -1}, {0x10, Mask, -1}, {0x20, Other, -1}};
  for (const auto& E : Entries) {
    Put(static_cast<std::uint32_t>(E[0]), 2);
    Put(static_cast<std::uint32_t>(E[1]), 2);
    Put(static_cast<std::uint32_t>(E[2]), 4);
  }
  return Value;
}

// The attribute's value; "-" when the file has none.
std::string Attribute(const std::string& Path, const char* Name) {
  std::vector<char> Value(4096);
  const ssize_t Size = ::getxattr(Path.c_str(), Name, Value.data(), Value.size());
  return Size < 0 ? std::string("-") : std::string(Value.data(), static_cast<std::size_t>(Size));
}

bool SetAttribute(const std::string& Path, const char* Name, const std::string& Value) {
  return ::setxattr(Path.c_str(), Name, Value.data(), Value.size(), 0) == 0;
}

struct stat StatOf(const std::string& Path) {
  struct stat St {};
  ::stat(Path.c_str(), &St);
  return St;
}

int HiddenFiles(const TTempFolder& Folder) {
  return static_cast<int>(QDir(Folder.QPath()).entryList({".*"}, QDir::Files | QDir::Hidden).size());
}

} // namespace

// Root saving over another user's file: the file stays that user's, with its
// mode (set-user and set-group bits too), its attributes and its access
// list; a list the folder would give a new file is not added.
TEST(SafeSaveTest, AFileReplacedKeepsOwnerModeAttributesAndAccessList) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  TTempFolder Folder;
  const std::string File = Folder.File("Garden.jpg");
  WriteAll(File, "old");
  ASSERT_EQ(::chown(File.c_str(), 1234, 1234), 0);
  ASSERT_EQ(::chmod(File.c_str(), 06750), 0);
  const std::string Acl = AclValue(7, 4, 5, 5, 0);
  if (!SetAttribute(File, "user.comment", "a garden") || !SetAttribute(File, "system.posix_acl_access", Acl))
    GTEST_SKIP() << "no extended attributes here";
  // New files of the folder would get a list of their own.
  ASSERT_TRUE(SetAttribute(Folder.Path(), "system.posix_acl_default", AclValue(7, 7, 5, 7, 5)));
  const std::string Plain = Folder.File("plain.jpg");
  WriteAll(Plain, "old");
  ASSERT_EQ(::removexattr(Plain.c_str(), "system.posix_acl_access"), 0);
  ASSERT_EQ(::chmod(Plain.c_str(), 0604), 0);

  platform::SaveFileSafely(File, "new");
  platform::SaveFileSafely(Plain, "new");
  EXPECT_EQ(ReadAll(File), "new");
  const struct stat St = StatOf(File);
  EXPECT_EQ(St.st_uid, 1234u);
  EXPECT_EQ(St.st_gid, 1234u);
  EXPECT_EQ(St.st_mode & 07777, 06750u);
  EXPECT_EQ(Attribute(File, "user.comment"), "a garden");
  EXPECT_EQ(Attribute(File, "system.posix_acl_access"), Acl);
  EXPECT_EQ(ReadAll(Plain), "new");
  EXPECT_EQ(StatOf(Plain).st_mode & 07777, 0604u);
  EXPECT_EQ(Attribute(Plain, "system.posix_acl_access"), "-");
  EXPECT_EQ(HiddenFiles(Folder), 0);
}

// A user who may write the folder but not the file does not replace it: the
// refusal names the file, not the hidden one a save writes first. A file
// the user may write is saved.
TEST(SafeSaveTest, AFileTheUserMayNotWriteIsRefusedByItsName) {
  if (!testing_support::CanRunAsNobody()) GTEST_SKIP() << "another user is needed: run as root";
  TTempFolder Folder;
  ASSERT_EQ(::chmod(Folder.Path().c_str(), 0777), 0);
  const std::string Others = Folder.File("Garden.jpg");
  const std::string Shared = Folder.File("shared.jpg");
  for (const std::string& File : {Others, Shared}) WriteAll(File, "old");
  ASSERT_EQ(::chmod(Others.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(Shared.c_str(), 0666), 0);
  const int Result = testing_support::RunAsNobody([&] {
    try {
      platform::SaveFileSafely(Others, "new");
      return 1;
    } catch (const platform::EStreamError& Error) {
      if (std::string(Error.what()) != "Cannot create file \"" + Others + "\". The file is read-only.") return 2;
    }
    // Its own file, made read-only, is refused alike.
    const std::string Own = Folder.File("own.jpg");
    WriteAll(Own, "old");
    ::chmod(Own.c_str(), 0444);
    try {
      platform::SaveFileSafely(Own, "new");
      return 3;
    } catch (const platform::EStreamError& Error) {
      if (std::strstr(Error.what(), "own.jpg\". The file is read-only.") == nullptr) return 4;
    }
    platform::SaveFileSafely(Shared, "new");
    return ReadAll(Shared) == "new" ? 0 : 5;
  });
  EXPECT_EQ(Result, 0);
  EXPECT_EQ(ReadAll(Others), "old");
  EXPECT_EQ(StatOf(Others).st_uid, 0u);
  EXPECT_EQ(HiddenFiles(Folder), 0);
}

// The key store's file is written the same way: another user's store (a
// program run by root with the user's home) stays the user's.
TEST(SafeSaveTest, TheKeyStoreKeepsItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  TTempFolder Folder;
  platform::SetKeyStoreFolder(Folder.Path());
  {
    platform::TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey("\\Software\\Test", true));
    Reg.WriteString("Value", "one");
  }
  const std::string File = Folder.File("HKEY_CURRENT_USER.keys");
  ASSERT_EQ(StatOf(File).st_mode & 0777, 0600u);
  ASSERT_EQ(::chown(File.c_str(), 1234, 1234), 0);
  {
    platform::TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey("\\Software\\Test", true));
    Reg.WriteString("Value", "two");
  }
  platform::SetKeyStoreFolder("");
  EXPECT_NE(ReadAll(File).find("two"), std::string::npos);
  EXPECT_EQ(StatOf(File).st_uid, 1234u);
  EXPECT_EQ(StatOf(File).st_mode & 0777, 0600u);
}

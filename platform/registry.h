// The typed hierarchical key store that stands in for the system registry.
//
// Three roots (current user, classes, machine), each kept in one file under
// "$XDG_CONFIG_HOME/Halvenworth/Pictrova 3/". Key and value names compare
// case-insensitively and keep the case they were created with. Every change
// is a locked read-modify-write of the root's file, written to a temporary
// file and renamed over the old one, so a crash never leaves half a file and
// two processes writing at once lose no value. A file that is a symbolic link
// stays one: the file it leads to is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

using HKEY = std::uint32_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

// Access rights of an opened key.
inline constexpr std::uint32_t KEY_READ = 0x20019u;
inline constexpr std::uint32_t KEY_WRITE = 0x20006u;
inline constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003Fu;

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One stored value.
struct TRegValue {
  std::string Name;
  TRegDataType Kind = rdUnknown;
  std::string Text;                // rdString, rdExpandString
  std::int32_t Integer = 0;        // rdInteger
  std::vector<std::uint8_t> Bytes; // rdBinary
  bool operator==(const TRegValue&) const = default;
};

// One key with its values and sub-keys; the maps are keyed by lower-case name.
struct TRegKeyNode {
  std::string Name;
  std::map<std::string, TRegValue> Values;
  std::map<std::string, TRegKeyNode> SubKeys;
  TRegKeyNode() = default;
  // Each copy of a key, its sub-keys' included, is counted: a read must copy
  // none of the tree (KeyNodeCopies).
  TRegKeyNode(const TRegKeyNode& other);
  TRegKeyNode(TRegKeyNode&&) noexcept = default;
  TRegKeyNode& operator=(const TRegKeyNode& other);
  TRegKeyNode& operator=(TRegKeyNode&&) noexcept = default;
  bool operator==(const TRegKeyNode&) const = default;
};

// The keys copied so far in this process, for those who watch the cost of a read.
std::uint64_t KeyNodeCopies();

// The deepest key the store holds, far beyond any key of the program's. A
// deeper key line of a file is refused as damaged, and a deeper key is never
// made: every level of a key writes its whole path.
inline constexpr std::size_t MaxKeyDepth = 64;

// The text form of one root's file. Parse never throws: damaged lines are
// skipped, so a damaged file loses only what it damaged.
std::string SerializeKeyStore(const TRegKeyNode& root);
TRegKeyNode ParseKeyStore(const std::string& text);

// Where the roots' files live. Empty means the default from XDG_CONFIG_HOME
// (read at each call, so tests can point it elsewhere).
void SetKeyStoreFolder(const std::string& folder);
std::string KeyStoreFolder();

// A root's file that holds no key store is moved aside, to
// "<file>.unreadable" (with a number after it when that name is taken), and
// the root starts from nothing. Answers the names the files were kept under
// since the last call.
std::vector<std::string> TakeKeptUnreadableFiles();
// Called after each such move, on the thread that made it and with the
// store locked: it must neither use the store nor wait for another thread.
void SetOnUnreadableKept(std::function<void()> notify);

// A root's file the file system fails to open or read (an error that may
// pass) before the run has read it is left as it is: for the rest of the run
// the root lives in memory only, starting empty, and nothing is written to
// the file.
//
// One the run has read keeps what it held: reads answer the values last
// read, this run's changes are kept over them in memory and written with
// the next write that reads the file again, and the failure is told once a
// run for each file.
struct TKeyStoreReadFailure {
  std::string File;
  int Error = 0; // the file system's error number
};
std::vector<TKeyStoreReadFailure> TakeKeyStoreReadFailures();
// Called after each failure told, on the same terms as SetOnUnreadableKept.
void SetOnKeyStoreReadFailed(std::function<void()> notify);
//
// When set, asked before each open of a root's file: an error number stands
// in for the file system's answer, 0 lets the file be opened (a test seam).
extern std::function<int(const std::string& file)> KeyStoreReadFault;

// The hidden files and lock that writes cut short by a killed process left
// beside the roots' files; what a write of another running process holds
// stays. For the start of the program.
void RemoveStaleKeyStoreFiles();

class TRegistry {
public:
  explicit TRegistry(std::uint32_t access = KEY_ALL_ACCESS);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY RootKey() const { return FRootKey; }
  void SetRootKey(HKEY root);
  std::uint32_t Access() const { return FAccess; }
  void SetAccess(std::uint32_t access) { FAccess = access; }
  // The opened key's path below the root, without leading backslash.
  const std::string& CurrentPath() const { return FCurrentPath; }
  bool HasCurrentKey() const { return FOpen; }

  // A path that begins with a backslash starts at the root; any other path
  // is relative to the open key. A trailing backslash is ignored.
  bool OpenKey(const std::string& key, bool canCreate);
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();
  bool CreateKey(const std::string& key);
  bool DeleteKey(const std::string& key); // the whole subtree
  bool KeyExists(const std::string& key);
  bool GetKeyNames(std::vector<std::string>& names);
  bool GetValueNames(std::vector<std::string>& names);
  bool HasSubKeys();

  bool ValueExists(const std::string& name);
  bool DeleteValue(const std::string& name);
  TRegDataType GetDataType(const std::string& name);
  // Bytes the value takes as the system would store it; -1 when absent.
  int GetDataSize(const std::string& name);

  // Readers of another kind raise ERegistryException; ReadString of an
  // absent value gives the empty text, the other readers raise.
  std::string ReadString(const std::string& name);
  std::int32_t ReadInteger(const std::string& name);
  bool ReadBool(const std::string& name);
  std::vector<std::uint8_t> ReadBinaryData(const std::string& name);

  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, std::int32_t value);
  void WriteBool(const std::string& name, bool value);
  void WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value);

  // The open key as stored now, handed to read under the store's lock (read
  // must not use the store). Answers false when the key is missing.
  bool ReadKey(const std::function<void(const TRegKeyNode& key)>& read);
  // Runs change on the open key as stored now, under the lock of the root's
  // file, and writes the root when change answers true: no other process
  // writes between the read and the write. The key is made when missing.
  // change must not use the store, holds what it needs by value and answers
  // the same on a newer key: while the file cannot be read it runs again on
  // what a later read finds. Answers false when the root cannot be written.
  bool ChangeKey(const std::function<bool(TRegKeyNode& key)>& change);

private:
  std::string Resolve(const std::string& key) const;
  std::string OpenPath() const { return FOpen ? FCurrentPath : std::string(); }
  // Runs use on the value (nullptr when absent) under the store's lock.
  void LookUp(const std::string& name, const std::function<void(const TRegValue*)>& use);
  void PutValue(TRegValue value);
  void RequireWrite(const std::string& name) const;

  HKEY FRootKey = HKEY_CURRENT_USER;
  std::uint32_t FAccess;
  std::string FCurrentPath;
  bool FOpen = false;
};

} // namespace platform

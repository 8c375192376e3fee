#include "platform/registry.h"

#include "platform/safesave.h"
#include "platform/stream.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string JoinPath(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) {
    if (!s.empty()) s += '\\';
    s += p;
  }
  return s;
}

// ---- text form ------------------------------------------------------------

const char StoreHeader[] = "Pictrova key store 1";

std::string Quote(const std::string& s) {
  static const char* hex = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits one line into words; a quoted word may hold any byte. Answers false
// on an unterminated quote or a bad escape.
bool Tokenize(const std::string& line, std::vector<std::string>& words) {
  words.clear();
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    std::string w;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c != '\\') {
          w += c;
          continue;
        }
        if (i >= line.size()) return false;
        char e = line[i++];
        switch (e) {
          case '\\': w += '\\'; break;
          case '"': w += '"'; break;
          case 'n': w += '\n'; break;
          case 'r': w += '\r'; break;
          case 't': w += '\t'; break;
          case 'x': {
            if (i + 2 > line.size()) return false;
            int h = HexDigit(line[i]), l = HexDigit(line[i + 1]);
            if (h < 0 || l < 0) return false;
            w += static_cast<char>(h * 16 + l);
            i += 2;
            break;
          }
          default: return false;
        }
      }
      if (!closed) return false;
    } else {
      while (i < line.size() && line[i] != ' ') w += line[i++];
    }
    words.push_back(std::move(w));
  }
  return true;
}

void WriteValues(const TRegKeyNode& node, std::string& out) {
  static const char* hex = "0123456789abcdef";
  for (const auto& [_, v] : node.Values) {
    switch (v.Kind) {
      case rdString: out += "sz " + Quote(v.Name) + ' ' + Quote(v.Text) + '\n'; break;
      case rdExpandString: out += "expand " + Quote(v.Name) + ' ' + Quote(v.Text) + '\n'; break;
      case rdInteger: out += "dword " + Quote(v.Name) + ' ' + std::to_string(v.Integer) + '\n'; break;
      case rdBinary: {
        out += "hex " + Quote(v.Name) + ' ';
        for (auto b : v.Bytes) {
          out += hex[b >> 4];
          out += hex[b & 15];
        }
        if (v.Bytes.empty()) out += '-';
        out += '\n';
        break;
      }
      case rdUnknown: break;
    }
  }
}

const TRegKeyNode* FindNode(const TRegKeyNode& root, const std::string& path) {
  const TRegKeyNode* node = &root;
  for (const auto& part : SplitPath(path)) {
    auto it = node->SubKeys.find(Lower(part));
    if (it == node->SubKeys.end()) return nullptr;
    node = &it->second;
  }
  return node;
}

TRegKeyNode* FindNode(TRegKeyNode& root, const std::string& path) {
  return const_cast<TRegKeyNode*>(FindNode(std::as_const(root), path));
}

bool TooDeep(const std::string& path) { return SplitPath(path).size() > MaxKeyDepth; }

TRegKeyNode& MakeNode(TRegKeyNode& root, const std::string& path) {
  TRegKeyNode* node = &root;
  for (const auto& part : SplitPath(path)) {
    auto& sub = node->SubKeys[Lower(part)];
    if (sub.Name.empty()) sub.Name = part;
    node = &sub;
  }
  return *node;
}

const char* RootFileName(HKEY root) {
  switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT.keys";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE.keys";
    default: return "HKEY_CURRENT_USER.keys";
  }
}

std::mutex& FolderMutex() {
  static std::mutex m;
  return m;
}
std::string& FolderOverride() {
  static std::string folder;
  return folder;
}

bool MakeFolders(const std::string& folder) {
  std::string sofar;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = folder.find('/', pos + 1);
    sofar = folder.substr(0, pos);
    if (sofar.empty()) continue;
    if (mkdir(sofar.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Unreadable: text that is no key store's (another program's, another
// encoding); Failed: the file system's error (a network home's EIO, no
// descriptor left), which may pass and says nothing of the contents.
enum class TFileState { Read, Absent, Unreadable, Failed };

// error: the file system's error number of a failed read.
TFileState ReadStoreFile(const std::string& path, TRegKeyNode& tree, int* error = nullptr) {
  tree = TRegKeyNode{};
  const int fault = KeyStoreReadFault ? KeyStoreReadFault(path) : 0;
  const int fd = fault != 0 ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int failure = fault != 0 ? fault : errno;
    if (failure == ENOENT || failure == ENOTDIR) return TFileState::Absent;
    if (error) *error = failure;
    return TFileState::Failed;
  }
  std::string text;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  const int failure = errno;
  ::close(fd);
  if (n != 0) {
    if (error) *error = failure;
    return TFileState::Failed;
  }
  // The header line, also as an editor may have saved it (CRLF line ends,
  // blanks after it).
  const size_t headerEnd = sizeof StoreHeader - 1;
  const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
  const size_t lineEnd = std::min(text.find('\n'), text.size());
  if (!blank && (text.compare(0, headerEnd, StoreHeader) != 0 ||
                 text.find_first_not_of(" \t\r", headerEnd) < lineEnd))
    return TFileState::Unreadable;
  tree = ParseKeyStore(text);
  return TFileState::Read;
}

std::mutex& KeptMutex() {
  static std::mutex m;
  return m;
}
std::vector<std::string>& KeptFiles() {
  static std::vector<std::string> kept;
  return kept;
}
std::function<void()>& KeptNotify() {
  static std::function<void()> notify;
  return notify;
}
std::vector<TKeyStoreReadFailure>& ReadFailures() {
  static std::vector<TKeyStoreReadFailure> failures;
  return failures;
}
std::vector<std::string>& FilesToldFailing() {
  static std::vector<std::string> files;
  return files;
}
std::function<void()>& FailureNotify() {
  static std::function<void()> notify;
  return notify;
}

// Once a run for each file: a file system that keeps failing would
// otherwise be told at every read.
void TellReadFailure(const std::string& file, int error) {
  std::function<void()> notify;
  {
    std::lock_guard lock(KeptMutex());
    auto& told = FilesToldFailing();
    if (std::find(told.begin(), told.end(), file) != told.end()) return;
    told.push_back(file);
    ReadFailures().push_back({file, error});
    notify = FailureNotify();
  }
  if (notify) notify();
}

// Errors of the file system that may pass (a network home's, no descriptor
// or memory left), unlike a folder this user may not write.
bool Passing(int error) {
  return error == EIO || error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOLCK ||
         error == EAGAIN || error == ETIMEDOUT;
}

// Moves an unreadable root's file out of the way under a name of its own
// beside it, never over an earlier one, so that the defaults the program
// goes on with are written without losing it.
bool KeepAside(const std::string& file) {
  for (int n = 1; n <= 100; ++n) {
    const std::string kept = file + ".unreadable" + (n > 1 ? "." + std::to_string(n) : std::string());
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, kept.c_str(), RENAME_NOREPLACE) == 0) {
      std::function<void()> notify;
      {
        std::lock_guard lock(KeptMutex());
        KeptFiles().push_back(kept);
        notify = KeptNotify();
      }
      if (notify) notify();
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// The lock beside a root's file. The lock file goes again before its lock is
// released, so that no run leaves one behind: whoever opened it meanwhile
// finds, once it holds the lock, that the name no longer leads to its file,
// and tries again.
int LockFile(const std::string& lockName, bool wait = true) {
  for (;;) {
    const int fd = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    int locked;
    while ((locked = flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
      ::close(fd);
      return -1;
    }
    struct stat held {}, named {};
    if (::fstat(fd, &held) == 0 && ::stat(lockName.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev)
      return fd;
    ::close(fd);
  }
}

void UnlockFile(const std::string& lockName, int fd) {
  ::unlink(lockName.c_str());
  flock(fd, LOCK_UN);
  ::close(fd);
}

// A change of a tree: answers whether it changed anything. It holds what it
// needs by value, as one made while the file cannot be read is kept and run
// again on the tree read later.
using TTreeChange = std::function<bool(TRegKeyNode&)>;

// One root's file with a parsed copy kept while the file stays the same.
class TRootStore {
public:
  explicit TRootStore(HKEY root) : FRoot(root) {}

  // Runs read on the newest tree under the store's lock: a read copies no
  // more of the tree than it takes out of it.
  template <class F>
  auto Read(F&& read) {
    std::lock_guard lock(FMutex);
    Refresh();
    return read(std::as_const(FTree));
  }

  // Runs change on the newest tree under the file lock and writes the result
  // when change answers true (what it answered goes to changed). Answers
  // false when the file cannot be written.
  bool Modify(TTreeChange change, bool* changed = nullptr) {
    std::lock_guard lock(FMutex);
    return ModifyLocked(std::move(change), changed);
  }

private:
  bool ModifyLocked(TTreeChange change, bool* changed = nullptr) {
    const std::string folder = KeyStoreFolder();
    const std::string file = folder + "/" + RootFileName(FRoot);
    if (file == FHeld) {
      const bool answer = change(FTree);
      if (changed) *changed = answer;
      return true;
    }
    if (!MakeFolders(folder)) return false;
    const std::string lockName = file + ".lock";
    const int lockFd = LockFile(lockName);
    if (lockFd < 0) {
      const int error = errno;
      if (file != FFile || !Passing(error)) return false;
      Defer(file, error, std::move(change), changed);
      return true;
    }
    bool ok = false;
    TRegKeyNode tree;
    int error = 0;
    TFileState state = ReadStoreFile(file, tree, &error);
    if (state == TFileState::Failed) {
      UnlockFile(lockName, lockFd);
      if (file == FFile) {
        Defer(file, error, std::move(change), changed);
      } else {
        Hold(file);
        const bool answer = change(FTree);
        if (changed) *changed = answer;
      }
      return true;
    }
    if (state == TFileState::Unreadable && KeepAside(file)) state = TFileState::Absent;
    if (state != TFileState::Unreadable) {
      // What this run changed while the file could not be read goes onto
      // what the file holds now, before this change.
      if (file != FFile) FDeferred.clear();
      bool dirty = false;
      for (const TTreeChange& deferred : FDeferred) dirty = deferred(tree) || dirty;
      const bool answer = change(tree);
      if (changed) *changed = answer;
      ok = !(dirty || answer) || WriteAtomically(file, SerializeKeyStore(tree));
      if (ok) FDeferred.clear();
      FTree = std::move(tree);
      FFile = file;
      FValid = false; // re-stat on the next read
    }
    UnlockFile(lockName, lockFd);
    return ok;
  }

  void Refresh() {
    const std::string file = KeyStoreFolder() + "/" + RootFileName(FRoot);
    if (file == FHeld) return;
    for (bool keptAside = false;; keptAside = true) {
      struct stat st {};
      const bool exists = ::stat(file.c_str(), &st) == 0;
      if (FValid && file == FFile && exists == FExists &&
          (!exists || (st.st_ino == FStat.st_ino && st.st_dev == FStat.st_dev &&
                       st.st_size == FStat.st_size &&
                       st.st_mtim.tv_sec == FStat.st_mtim.tv_sec &&
                       st.st_mtim.tv_nsec == FStat.st_mtim.tv_nsec)))
        return;
      // A file that cannot be read goes aside once, before any default
      // read in its place can be written over it.
      TRegKeyNode tree;
      int error = 0;
      const TFileState state = ReadStoreFile(file, tree, &error);
      if (state == TFileState::Failed) {
        // Read well before: what it held stays, and the next read tries again.
        if (file == FFile) {
          FValid = false;
          TellReadFailure(file, error);
        } else {
          Hold(file);
        }
        return;
      }
      if (state == TFileState::Unreadable && !keptAside) {
        KeepAsideLocked(file);
        FValid = false;
        continue;
      }
      if (file != FFile) FDeferred.clear();
      FTree = std::move(tree);
      for (const TTreeChange& deferred : FDeferred) deferred(FTree);
      FFile = file;
      FExists = exists;
      FStat = st;
      FValid = true;
      // Readable again: what waited is written now rather than with a
      // write that may never come in this run. One that fails waits for
      // the next write or change of the file, not for every read.
      if (!FDeferred.empty() && !(ModifyLocked([](TRegKeyNode&) { return false; }) && FDeferred.empty()))
        FValid = true;
      return;
    }
  }

  // A file the file system failed to give before it was ever read is not
  // known to hold nothing: the run goes on with the defaults and keeps what
  // it writes in memory, never over the file, not even once it could be
  // read again (the values written would stem from the defaults).
  void Hold(const std::string& file) {
    FHeld = file;
    FTree = TRegKeyNode{};
    FValid = false;
  }

  // A file read well before that the file system fails to give now: the
  // tree last read stays, and the change waits over it for the next write
  // that reads the file again. A change that changes nothing is no change
  // of this run's.
  void Defer(const std::string& file, int error, TTreeChange change, bool* changed) {
    const bool answer = change(FTree);
    if (changed) *changed = answer;
    if (answer) FDeferred.push_back(std::move(change));
    FValid = false;
    TellReadFailure(file, error);
  }

  // Under the file lock, as no writer is then half-way.
  static void KeepAsideLocked(const std::string& file) {
    const std::string lockName = file + ".lock";
    const int lockFd = LockFile(lockName);
    if (lockFd < 0) return;
    TRegKeyNode tree;
    if (ReadStoreFile(file, tree) == TFileState::Unreadable) KeepAside(file);
    UnlockFile(lockName, lockFd);
  }

  // The file keeps its owner, group and mode (a new one is the user's own
  // alone); one this user may not write is left as it is.
  static bool WriteAtomically(const std::string& file, const std::string& text) {
    try {
      SaveFileSafely(file, text, 0600);
      return true;
    } catch (const EStreamError&) {
      return false;
    }
  }

  HKEY FRoot;
  std::mutex FMutex;
  TRegKeyNode FTree;
  // The file FTree was last read from, and this run's changes of it that
  // wait for it to be read again.
  std::string FFile;
  std::vector<TTreeChange> FDeferred;
  std::string FHeld;
  bool FExists = false;
  bool FValid = false;
  struct stat FStat {};
};

TRootStore& Store(HKEY root) {
  static TRootStore user(HKEY_CURRENT_USER), classes(HKEY_CLASSES_ROOT),
      machine(HKEY_LOCAL_MACHINE);
  switch (root) {
    case HKEY_CLASSES_ROOT: return classes;
    case HKEY_LOCAL_MACHINE: return machine;
    default: return user;
  }
}

} // namespace

namespace {
std::atomic<std::uint64_t> NodeCopies{0};
} // namespace

TRegKeyNode::TRegKeyNode(const TRegKeyNode& other)
    : Name(other.Name), Values(other.Values), SubKeys(other.SubKeys) {
  NodeCopies.fetch_add(1, std::memory_order_relaxed);
}

TRegKeyNode& TRegKeyNode::operator=(const TRegKeyNode& other) {
  if (this != &other) {
    Name = other.Name;
    Values = other.Values;
    SubKeys = other.SubKeys;
    NodeCopies.fetch_add(1, std::memory_order_relaxed);
  }
  return *this;
}

std::uint64_t KeyNodeCopies() { return NodeCopies.load(std::memory_order_relaxed); }

std::string SerializeKeyStore(const TRegKeyNode& root) {
  std::string out = StoreHeader;
  out += '\n';
  WriteValues(root, out);
  // Every key, parents first, each with its whole path: walked with a stack
  // of our own, so that no tree is too deep for the thread's.
  struct TLevel {
    const TRegKeyNode* Node;
    std::map<std::string, TRegKeyNode>::const_iterator Next;
    size_t LineLength; // of keyLine up to this key
  };
  std::vector<TLevel> levels{{&root, root.SubKeys.begin(), 3}};
  std::string keyLine = "key";
  while (!levels.empty()) {
    TLevel& level = levels.back();
    if (level.Next == level.Node->SubKeys.end()) {
      levels.pop_back();
      continue;
    }
    const TRegKeyNode& sub = (level.Next++)->second;
    keyLine.resize(level.LineLength);
    keyLine += ' ';
    keyLine += Quote(sub.Name);
    out += keyLine;
    out += '\n';
    WriteValues(sub, out);
    levels.push_back({&sub, sub.SubKeys.begin(), keyLine.size()});
  }
  return out;
}

TRegKeyNode ParseKeyStore(const std::string& text) {
  TRegKeyNode root;
  // The root's values come first, without a key line of their own.
  TRegKeyNode* current = &root;
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    // A line end an editor made CRLF (a line break in a value is written as
    // an escape, never as itself).
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!Tokenize(line, words)) {
      // The values after an unreadable key line are its own, not the last key's.
      if (line.compare(0, 4, "key ") == 0) current = nullptr;
      continue;
    }
    if (words.empty()) continue;
    const std::string& kind = words[0];
    if (kind == "key") {
      if (words.size() < 2 || words.size() - 1 > MaxKeyDepth) {
        current = nullptr;
        continue;
      }
      TRegKeyNode* node = &root;
      for (size_t i = 1; i < words.size(); ++i) {
        if (words[i].empty() || words[i].find('\\') != std::string::npos) {
          node = nullptr;
          break;
        }
        auto& sub = node->SubKeys[Lower(words[i])];
        if (sub.Name.empty()) sub.Name = words[i];
        node = &sub;
      }
      current = node;
      continue;
    }
    if (!current || words.size() != 3) continue;
    TRegValue v;
    v.Name = words[1];
    if (kind == "sz" || kind == "expand") {
      v.Kind = kind == "sz" ? rdString : rdExpandString;
      v.Text = words[2];
    } else if (kind == "dword") {
      errno = 0;
      char* endp = nullptr;
      long long n = std::strtoll(words[2].c_str(), &endp, 10);
      if (errno != 0 || endp == words[2].c_str() || *endp != '\0' || n < INT32_MIN || n > INT32_MAX)
        continue;
      v.Kind = rdInteger;
      v.Integer = static_cast<std::int32_t>(n);
    } else if (kind == "hex") {
      const std::string& h = words[2];
      v.Kind = rdBinary;
      if (h != "-") {
        if (h.size() % 2) continue;
        bool bad = false;
        for (size_t i = 0; i < h.size(); i += 2) {
          int hi = HexDigit(h[i]), lo = HexDigit(h[i + 1]);
          if (hi < 0 || lo < 0) {
            bad = true;
            break;
          }
          v.Bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        if (bad) continue;
      }
    } else {
      continue;
    }
    current->Values[Lower(v.Name)] = std::move(v);
  }
  return root;
}

std::vector<std::string> TakeKeptUnreadableFiles() {
  std::lock_guard lock(KeptMutex());
  return std::exchange(KeptFiles(), {});
}

void SetOnUnreadableKept(std::function<void()> notify) {
  std::lock_guard lock(KeptMutex());
  KeptNotify() = std::move(notify);
}

std::vector<TKeyStoreReadFailure> TakeKeyStoreReadFailures() {
  std::lock_guard lock(KeptMutex());
  return std::exchange(ReadFailures(), {});
}

void SetOnKeyStoreReadFailed(std::function<void()> notify) {
  std::lock_guard lock(KeptMutex());
  FailureNotify() = std::move(notify);
}

std::function<int(const std::string& file)> KeyStoreReadFault;

void RemoveStaleKeyStoreFiles() {
  const std::string folder = KeyStoreFolder();
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE}) {
    const std::string file = folder + "/" + RootFileName(root);
    const std::string lockName = file + ".lock";
    // A lock left by a run that was killed is held by no one: taking it and
    // letting it go removes it. One held is another run's, writing now.
    const int lockFd = LockFile(lockName, false);
    if (lockFd < 0) continue;
    // No write is under way: every hidden file of one is a killed run's.
    RemoveUnfinishedSaves(file);
    UnlockFile(lockName, lockFd);
  }
}

void SetKeyStoreFolder(const std::string& folder) {
  std::lock_guard lock(FolderMutex());
  FolderOverride() = folder;
}

std::string KeyStoreFolder() {
  {
    std::lock_guard lock(FolderMutex());
    if (!FolderOverride().empty()) return FolderOverride();
  }
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/Halvenworth/Pictrova 3";
}

// ---- TRegistry -------------------------------------------------------------

TRegistry::TRegistry(std::uint32_t access) : FAccess(access) {}
TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY root) {
  CloseKey();
  FRootKey = root;
}

std::string TRegistry::Resolve(const std::string& key) const {
  if (!key.empty() && key[0] == '\\') return JoinPath(SplitPath(key));
  if (!FOpen || FCurrentPath.empty()) return JoinPath(SplitPath(key));
  return JoinPath(SplitPath(FCurrentPath + '\\' + key));
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  const std::string path = Resolve(key);
  const bool found = Store(FRootKey).Read([&](const TRegKeyNode& t) { return FindNode(t, path) != nullptr; });
  if (!found) {
    if (!canCreate || (FAccess & KEY_WRITE) != KEY_WRITE || TooDeep(path)) return false;
    bool made = Store(FRootKey).Modify([path](TRegKeyNode& t) {
      if (FindNode(t, path)) return false;
      MakeNode(t, path);
      return true;
    });
    if (!made) return false;
  }
  FCurrentPath = path;
  FOpen = true;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  const std::string path = Resolve(key);
  if (!Store(FRootKey).Read([&](const TRegKeyNode& t) { return FindNode(t, path) != nullptr; })) return false;
  FAccess = KEY_READ;
  FCurrentPath = path;
  FOpen = true;
  return true;
}

void TRegistry::CloseKey() {
  FOpen = false;
  FCurrentPath.clear();
}

bool TRegistry::CreateKey(const std::string& key) {
  const std::string path = Resolve(key);
  if (SplitPath(path).empty() || TooDeep(path)) return false;
  return Store(FRootKey).Modify([path](TRegKeyNode& t) {
    if (FindNode(t, path)) return false;
    MakeNode(t, path);
    return true;
  });
}

bool TRegistry::DeleteKey(const std::string& key) {
  auto parts = SplitPath(Resolve(key));
  if (parts.empty()) return false;
  const std::string leaf = Lower(parts.back());
  parts.pop_back();
  bool found = false;
  bool written = Store(FRootKey).Modify(
      [parent = JoinPath(parts), leaf](TRegKeyNode& t) {
        TRegKeyNode* node = FindNode(t, parent);
        return node && node->SubKeys.erase(leaf) > 0;
      },
      &found);
  return written && found;
}

bool TRegistry::KeyExists(const std::string& key) {
  const std::string path = Resolve(key);
  return Store(FRootKey).Read([&](const TRegKeyNode& t) { return FindNode(t, path) != nullptr; });
}

bool TRegistry::GetKeyNames(std::vector<std::string>& names) {
  names.clear();
  return Store(FRootKey).Read([&](const TRegKeyNode& t) {
    const TRegKeyNode* node = FindNode(t, OpenPath());
    if (!node) return false;
    for (const auto& [_, sub] : node->SubKeys) names.push_back(sub.Name);
    return true;
  });
}

bool TRegistry::GetValueNames(std::vector<std::string>& names) {
  names.clear();
  return Store(FRootKey).Read([&](const TRegKeyNode& t) {
    const TRegKeyNode* node = FindNode(t, OpenPath());
    if (!node) return false;
    for (const auto& [_, v] : node->Values) names.push_back(v.Name);
    return true;
  });
}

bool TRegistry::HasSubKeys() {
  return Store(FRootKey).Read([&](const TRegKeyNode& t) {
    const TRegKeyNode* node = FindNode(t, OpenPath());
    return node && !node->SubKeys.empty();
  });
}

void TRegistry::LookUp(const std::string& name, const std::function<void(const TRegValue*)>& use) {
  Store(FRootKey).Read([&](const TRegKeyNode& t) {
    const TRegKeyNode* node = FindNode(t, OpenPath());
    const TRegValue* value = nullptr;
    if (node) {
      auto it = node->Values.find(Lower(name));
      if (it != node->Values.end()) value = &it->second;
    }
    use(value);
  });
}

bool TRegistry::ValueExists(const std::string& name) {
  bool exists = false;
  LookUp(name, [&](const TRegValue* v) { exists = v != nullptr; });
  return exists;
}

bool TRegistry::DeleteValue(const std::string& name) {
  RequireWrite(name);
  bool found = false;
  bool written = Store(FRootKey).Modify(
      [path = OpenPath(), lower = Lower(name)](TRegKeyNode& t) {
        TRegKeyNode* node = FindNode(t, path);
        return node && node->Values.erase(lower) > 0;
      },
      &found);
  return written && found;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
  TRegDataType kind = rdUnknown;
  LookUp(name, [&](const TRegValue* v) {
    if (v) kind = v->Kind;
  });
  return kind;
}

int TRegistry::GetDataSize(const std::string& name) {
  int size = -1;
  LookUp(name, [&](const TRegValue* v) {
    if (!v) return;
    switch (v->Kind) {
      case rdString:
      case rdExpandString: size = static_cast<int>(v->Text.size() + 1); break;
      case rdInteger: size = 4; break;
      case rdBinary: size = static_cast<int>(v->Bytes.size()); break;
      default: break;
    }
  });
  return size;
}

namespace {
// How a typed read found its value: the readers raise outside the store's lock.
enum class TLookUp { Found, Absent, OtherKind };
} // namespace

std::string TRegistry::ReadString(const std::string& name) {
  std::string text;
  TLookUp found = TLookUp::Absent;
  LookUp(name, [&](const TRegValue* v) {
    if (!v) return;
    if (v->Kind != rdString && v->Kind != rdExpandString) {
      found = TLookUp::OtherKind;
      return;
    }
    found = TLookUp::Found;
    text = v->Text;
  });
  if (found == TLookUp::OtherKind) throw ERegistryException("Invalid data type for '" + name + "'");
  return text;
}

std::int32_t TRegistry::ReadInteger(const std::string& name) {
  std::int32_t number = 0;
  TLookUp found = TLookUp::Absent;
  LookUp(name, [&](const TRegValue* v) {
    if (!v) return;
    found = v->Kind == rdInteger ? TLookUp::Found : TLookUp::OtherKind;
    number = v->Integer;
  });
  if (found == TLookUp::Absent) throw ERegistryException("Unable to read data for '" + name + "'");
  if (found == TLookUp::OtherKind) throw ERegistryException("Invalid data type for '" + name + "'");
  return number;
}

bool TRegistry::ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

std::vector<std::uint8_t> TRegistry::ReadBinaryData(const std::string& name) {
  std::vector<std::uint8_t> bytes;
  TLookUp found = TLookUp::Absent;
  LookUp(name, [&](const TRegValue* v) {
    if (!v) return;
    found = v->Kind == rdBinary ? TLookUp::Found : TLookUp::OtherKind;
    if (found == TLookUp::Found) bytes = v->Bytes;
  });
  if (found == TLookUp::Absent) throw ERegistryException("Unable to read data for '" + name + "'");
  if (found == TLookUp::OtherKind) throw ERegistryException("Invalid data type for '" + name + "'");
  return bytes;
}

bool TRegistry::ReadKey(const std::function<void(const TRegKeyNode& key)>& read) {
  return Store(FRootKey).Read([&](const TRegKeyNode& t) {
    const TRegKeyNode* node = FindNode(t, OpenPath());
    if (node) read(*node);
    return node != nullptr;
  });
}

bool TRegistry::ChangeKey(const std::function<bool(TRegKeyNode& key)>& change) {
  if ((FAccess & KEY_WRITE) != KEY_WRITE) return false;
  return Store(FRootKey).Modify([path = OpenPath(), change](TRegKeyNode& t) {
    const bool made = FindNode(t, path) == nullptr;
    return change(MakeNode(t, path)) || made;
  });
}

void TRegistry::RequireWrite(const std::string& name) const {
  if ((FAccess & KEY_WRITE) != KEY_WRITE)
    throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::PutValue(TRegValue value) {
  RequireWrite(value.Name);
  const std::string name = value.Name;
  bool ok = Store(FRootKey).Modify([path = OpenPath(), value = std::move(value)](TRegKeyNode& t) {
    TRegKeyNode& node = MakeNode(t, path);
    auto& slot = node.Values[Lower(value.Name)];
    if (slot == value) return false;
    slot = value;
    return true;
  });
  if (!ok) throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  PutValue({name, rdString, value, 0, {}});
}
void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  PutValue({name, rdExpandString, value, 0, {}});
}
void TRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  PutValue({name, rdInteger, {}, value, {}});
}
void TRegistry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }
void TRegistry::WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value) {
  PutValue({name, rdBinary, {}, 0, value});
}

} // namespace platform

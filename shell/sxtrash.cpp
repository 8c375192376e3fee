#include "shell/sxtrash.h"

#include <QtCore/QByteArray>
#include <QtCore/QUrl>

#include <fstream>
#include <sstream>

namespace sx {

namespace {

constexpr std::size_t kMaxInfoSize = 64 * 1024;

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

} // namespace

std::optional<TSxTrashInfo> SxParseTrashInfo(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  bool inGroup = false;
  TSxTrashInfo info;
  bool havePath = false;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[Trash Info]";
      continue;
    }
    if (!inGroup) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    // The first of a repeated key counts, as desktop files have it.
    if (key == "Path" && !havePath) {
      const QByteArray decoded = QByteArray::fromPercentEncoding(QByteArray::fromStdString(value));
      // A name cut short by a NUL would point somewhere else.
      if (decoded.isEmpty() || decoded.contains('\0')) return std::nullopt;
      info.OriginalPath = decoded.toStdString();
      havePath = true;
    } else if (key == "DeletionDate" && info.DeletionDate.empty()) {
      info.DeletionDate = value;
    }
  }
  if (!havePath) return std::nullopt;
  return info;
}

std::optional<TSxTrashInfo> SxReadTrashInfo(const std::string& trashedPath) {
  const std::size_t files = trashedPath.rfind("/files/");
  if (files == std::string::npos) return std::nullopt;
  const std::string name = trashedPath.substr(files + 7);
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  const std::string infoPath = trashedPath.substr(0, files) + "/info/" + name + ".trashinfo";
  std::ifstream in(infoPath, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxInfoSize + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  const std::size_t got = static_cast<std::size_t>(in.gcount());
  if (got > kMaxInfoSize) return std::nullopt;
  text.resize(got);
  return SxParseTrashInfo(text);
}

} // namespace sx

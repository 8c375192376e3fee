// A temporary folder removed with its contents at the end of a test.
#pragma once

#include <QTemporaryDir>
#include <filesystem>
#include <string>

namespace testing_support {

class TTempFolder {
public:
  TTempFolder() : FDir(QDir::tempPath() + "/pictrova-test-XXXXXX") {}
  // By the names' bytes: a name that is no UTF-8 is out of the text-named
  // removal's reach.
  ~TTempFolder() {
    std::error_code Error;
    std::filesystem::remove_all(Path(), Error);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  std::string Path() const { return FDir.path().toStdString(); }
  QString QPath() const { return FDir.path(); }
  std::string File(const std::string& name) const { return Path() + "/" + name; }

private:
  QTemporaryDir FDir;
};

} // namespace testing_support

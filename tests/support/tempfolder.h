// A temporary folder removed with its contents at the end of a test.
#pragma once

#include <QTemporaryDir>
#include <string>

namespace testing_support {

class TTempFolder {
public:
  TTempFolder() : FDir(QDir::tempPath() + "/pictrova-test-XXXXXX") {}
  std::string Path() const { return FDir.path().toStdString(); }
  QString QPath() const { return FDir.path(); }
  std::string File(const std::string& name) const { return Path() + "/" + name; }

private:
  QTemporaryDir FDir;
};

} // namespace testing_support

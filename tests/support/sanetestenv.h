// A private SANE configuration that knows only SANE's test backend, for
// the scanner tests; and scanimage run with the same configuration.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace testing_support {

// A picture in a PNM file: P4 (1 = black), P5 or P6, maxval 255 or 65535.
struct TPnm {
  char Kind = 0;
  int Width = 0;
  int Height = 0;
  int MaxVal = 0;
  std::vector<unsigned char> Data;
  int BytesPerRow() const {
    const int samples = Kind == '6' ? 3 : 1;
    return Kind == '4' ? (Width + 7) / 8 : Width * samples * (MaxVal > 255 ? 2 : 1);
  }
  // Sample s of pixel x in row y, reduced to 8 bits (high byte).
  int Sample(int x, int y, int s) const {
    const int samples = Kind == '6' ? 3 : 1;
    const int wide = MaxVal > 255 ? 2 : 1;
    return Data[static_cast<std::size_t>(y) * BytesPerRow() + (x * samples + s) * wide];
  }
  bool Black(int x, int y) const {
    return (Data[static_cast<std::size_t>(y) * BytesPerRow() + x / 8] & (0x80 >> (x % 8))) != 0;
  }
};

inline TPnm ParsePnm(const QByteArray& Bytes) {
  TPnm p;
  std::size_t at = 0;
  auto token = [&]() {
    while (at < static_cast<std::size_t>(Bytes.size())) {
      if (Bytes[at] == '#') {
        while (at < static_cast<std::size_t>(Bytes.size()) && Bytes[at] != '\n') ++at;
      } else if (std::isspace(static_cast<unsigned char>(Bytes[at]))) {
        ++at;
      } else {
        break;
      }
    }
    std::string t;
    while (at < static_cast<std::size_t>(Bytes.size()) && !std::isspace(static_cast<unsigned char>(Bytes[at])))
      t += Bytes[at++];
    return t;
  };
  const std::string magic = token();
  if (magic.size() != 2 || magic[0] != 'P') return p;
  p.Kind = magic[1];
  p.Width = std::atoi(token().c_str());
  p.Height = std::atoi(token().c_str());
  p.MaxVal = p.Kind == '4' ? 1 : std::atoi(token().c_str());
  ++at; // the one blank after the header
  p.Data.assign(Bytes.begin() + static_cast<qsizetype>(at), Bytes.end());
  return p;
}

// SANE reads SANE_CONFIG_DIR once per process, so every test of a process
// shares one folder and writes its own files into it.
class TSaneTestEnv {
public:
  // Options lines for test.conf; WithTest false leaves dll.conf empty.
  explicit TSaneTestEnv(const std::string& TestConf, bool WithTest = true) {
    const std::string dir = Dir().path().toStdString();
    std::ofstream(dir + "/dll.conf") << (WithTest ? "test\n" : "");
    // Every value is written: the backend keeps what an earlier test set.
    std::ofstream(dir + "/test.conf")
        << "number_of_devices 2\nmode Gray\ndepth 8\nhand-scanner false\nthree-pass false\n"
           "three-pass-order RGB\nresolution_min 1.0\nresolution_max 1200.0\nresolution_quant 1.0\n"
           "resolution 50.0\ntest-picture \"Solid black\"\ninvert-endianess false\nread-limit false\n"
           "read-limit-size 1\nread-delay false\nread-delay-duration 1000\nread-status-code \"Default\"\nfuzzy-parameters false\nppl-loss 0\n"
           "non-blocking false\nselect-fd false\nenable-test-options false\ngeometry_min 0.0\n"
           "geometry_max 200.0\ngeometry_quant 1.0\ntl_x 0.0\ntl_y 0.0\nbr_x 80.0\nbr_y 100.0\n"
        << TestConf << "\n";
    setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
  }
  TSaneTestEnv(const TSaneTestEnv&) = delete;
  TSaneTestEnv& operator=(const TSaneTestEnv&) = delete;

  std::string Path() const { return Dir().path().toStdString(); }

  // scanimage's picture of device test:0 (PNM), empty when it failed.
  // scanimage itself now and then hangs for good: SANE cancels the test
  // device's reader thread at any instruction, and one caught in malloc or
  // in the dynamic loader keeps that lock. A scanimage that is not done in
  // a while is stopped and run again.
  QByteArray ScanImage(const QStringList& Args = {}) const {
    for (int attempt = 0; attempt < 4; ++attempt) {
      QProcess p;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert(QStringLiteral("SANE_CONFIG_DIR"), Dir().path());
      p.setProcessEnvironment(env);
      p.start(QStringLiteral("scanimage"),
              QStringList{QStringLiteral("-d"), QStringLiteral("test:0"), QStringLiteral("--format=pnm")} + Args);
      if (p.waitForFinished(20000)) {
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
        return p.readAllStandardOutput();
      }
      p.kill();
      p.waitForFinished();
    }
    return {};
  }

private:
  static QTemporaryDir& Dir() {
    static QTemporaryDir dir;
    return dir;
  }
};

} // namespace testing_support

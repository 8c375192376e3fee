// A window's placement comes back from stored text at every start: any
// values must restore without fault, and a window that moves must land on a
// screen and fit the desktop.
#include "controls/support/qoformstate/qoformstate.h"
#include "fuzz_application.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

namespace {

// The stored values without the key store's files: those have their own fuzzer.
class TMemoryStore : public wn::TQoAbstractStore {
 public:
  std::map<std::string, std::string> Values;
  std::string ReadString(const std::string&, const std::string& Item, const std::string& Default) override {
    const auto Found = Values.find(Item);
    return Found == Values.end() ? Default : Found->second;
  }
  void WriteString(const std::string&, const std::string& Item, const std::string& Value) override {
    Values[Item] = Value;
  }

 protected:
  void DoOpen() override {}
  void DoClose() override {}
};

}  // namespace

// The input: lines of "Flags", "ShowCmd", "NormalPos", "PixelsPerInch",
// "Color", "DefaultMonitor" and "ActiveControl" in that order (a missing
// line is a missing value), then one byte: the options in bits 0 to 5, a
// form of fixed size in bit 6.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnsureFuzzApplication<QApplication>();
  static const char* Names[] = {"Flags", "ShowCmd", "NormalPos", "PixelsPerInch", "Color", "DefaultMonitor",
                                "ActiveControl"};
  std::string Text(reinterpret_cast<const char*>(data), size);
  wn::TQoFormStateOptions Options{wn::fsState, wn::fsPosition};
  std::uint8_t Bits = 3;
  if (!Text.empty()) {
    Bits = static_cast<std::uint8_t>(Text.back());
    Text.pop_back();
    Options.clear();
    for (int Bit = 0; Bit < 6; ++Bit)
      if (Bits & (1 << Bit)) Options.insert(static_cast<wn::TQoFormStateOption>(Bit));
  }
  TMemoryStore Store;
  std::size_t Pos = 0;
  for (const char* Name : Names) {
    if (Pos > Text.size()) break;
    const std::size_t End = std::min(Text.find('\n', Pos), Text.size());
    Store.Values[Name] = Text.substr(Pos, End - Pos);
    Pos = End + 1;
  }

  QWidget Form;
  Form.setWindowFlag(Qt::FramelessWindowHint);
  if (Bits & 0x40) Form.setFixedSize(300, 200);
  Form.setGeometry(20, 30, 300, 200);
  (new QLineEdit(&Form))->setObjectName("Edit1");
  const QRect Before = Form.normalGeometry();
  wn::TQoFormState State(&Form);
  State.Options = Options;
  State.SetSection("MainForm");
  State.SetStorage(&Store);
  State.RestoreState();
  QCoreApplication::sendPostedEvents();

  const QRect After = Form.normalGeometry();
  if (After != Before) {
    const QSize Desktop = QGuiApplication::primaryScreen()->virtualGeometry().size();
    if (After.width() > Desktop.width() || After.height() > Desktop.height()) std::abort();
    bool OnScreen = false;
    for (const QScreen* Screen : QGuiApplication::screens()) OnScreen |= Screen->geometry().intersects(After);
    if (!OnScreen && !After.isEmpty()) std::abort();
  }
  State.SaveState();
  return 0;
}

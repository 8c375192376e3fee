// What the window tests of the program share: a private key store, a folder
// of pictures with marked corners, waiting on conditions with a deadline,
// and answers for the modal dialogs.
#pragma once

#include "app/helpdlg.h"
#include "app/mainform.h"
#include "app/msgbox.h"
#include "app/settings.h"
#include "controls/kel/kelshapebutton.h"
#include "app/notificationdlg.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "support/tempfolder.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <zlib.h>

#include <gtest/gtest.h>

namespace apptest {

// The corners of every test picture: red top left, green top right, blue
// bottom left, white bottom right; the rest is Fill.
inline QImage MarkedPicture(int Width, int Height, QColor Fill = QColor(128, 128, 128)) {
  QImage Picture(Width, Height, QImage::Format_RGB32);
  Picture.fill(Fill);
  QPainter P(&Picture);
  const int W = std::max(1, Width / 4), H = std::max(1, Height / 4);
  P.fillRect(0, 0, W, H, Qt::red);
  P.fillRect(Width - W, 0, W, H, Qt::green);
  P.fillRect(0, Height - H, W, H, Qt::blue);
  P.fillRect(Width - W, Height - H, W, H, Qt::white);
  return Picture;
}

// A valid PNG of Width x Height, written row by row: black with one white
// byte a row, so that it is a few megabytes however large; 8-bit RGB, or
// 1-bit gray when Bilevel (a small bitmap when read).
inline void WriteLargePng(const std::string& Path, std::uint32_t Width, std::uint32_t Height, bool Bilevel = false) {
  std::ofstream Out(Path, std::ios::binary);
  auto Chunk = [&](const char* Type, const std::string& Data) {
    auto Be32 = [&](std::uint32_t V) {
      const char B[4] = {char(V >> 24), char(V >> 16), char(V >> 8), char(V)};
      Out.write(B, 4);
    };
    Be32(static_cast<std::uint32_t>(Data.size()));
    std::string Body = std::string(Type, 4) + Data;
    Out.write(Body.data(), static_cast<std::streamsize>(Body.size()));
    Be32(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(Body.data()), Body.size())));
  };
  Out.write("\x89PNG\r\n\x1a\n", 8);
  std::string Header;
  for (std::uint32_t V : {Width, Height}) Header += {char(V >> 24), char(V >> 16), char(V >> 8), char(V)};
  // Depth and colour type (1-bit gray or 8-bit RGB), not interlaced.
  Header += {char(Bilevel ? 1 : 8), char(Bilevel ? 0 : 2), 0, 0, 0};
  Chunk("IHDR", Header);
  z_stream Z{};
  ASSERT_EQ(deflateInit(&Z, 6), Z_OK);
  const std::size_t RowBytes = Bilevel ? (std::size_t{Width} + 7) / 8 : std::size_t{Width} * 3;
  std::string Row(1 + RowBytes, '\0'), Packed(1 << 20, '\0'), Data;
  for (std::uint32_t Y = 0; Y < Height; ++Y) {
    Row[1 + (Y * 7) % (Row.size() - 1)] = char(255);
    Z.next_in = reinterpret_cast<Bytef*>(Row.data());
    Z.avail_in = static_cast<uInt>(Row.size());
    do {
      Z.next_out = reinterpret_cast<Bytef*>(Packed.data());
      Z.avail_out = static_cast<uInt>(Packed.size());
      deflate(&Z, Y + 1 == Height ? Z_FINISH : Z_NO_FLUSH);
      Data.append(Packed.data(), Packed.size() - Z.avail_out);
    } while (Z.avail_out == 0 || (Y + 1 == Height && Z.avail_in > 0));
    Row[1 + (Y * 7) % (Row.size() - 1)] = 0;
  }
  deflateEnd(&Z);
  Chunk("IDAT", Data);
  Chunk("IEND", "");
}

// Writes Picture to Path in the format of its extension, the name taken as
// its bytes (a name need not be UTF-8).
inline bool SavePicture(const QImage& Picture, const std::string& Path) {
  const std::string Ext = Path.substr(Path.rfind('.') + 1);
  QBuffer Data;
  Data.open(QIODevice::WriteOnly);
  if (!Picture.save(&Data, QByteArray::fromStdString(Ext).toUpper().constData(), 100)) return false;
  std::ofstream Out(Path, std::ios::binary);
  Out.write(Data.data().constData(), Data.data().size());
  return static_cast<bool>(Out);
}

// The picture in the file at Path, read by its name's bytes.
inline QImage LoadPicture(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  const std::string Bytes((std::istreambuf_iterator<char>(In)), {});
  return QImage::fromData(QByteArray::fromStdString(Bytes));
}

// Pumps events (and the threads' synchronised calls) until Done answers
// true or Ms milliseconds have passed; answers Done's last word.
inline bool WaitUntil(const std::function<bool()>& Done, int Ms = 5000) {
  QElapsedTimer Timer;
  Timer.start();
  while (!Done()) {
    if (Timer.elapsed() > Ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    platform::CheckSynchronize();
    QThread::msleep(2);
  }
  return true;
}

// A synthetic press and release of Button at Point of Widget.
inline void Click(QWidget* Widget, QPoint Point, Qt::MouseButton Button = Qt::LeftButton,
                  Qt::KeyboardModifiers Mods = Qt::NoModifier) {
  const QPointF Local(Point), Global(Widget->mapToGlobal(Point));
  QMouseEvent Press(QEvent::MouseButtonPress, Local, Global, Button, Button, Mods);
  QApplication::sendEvent(Widget, &Press);
  QMouseEvent Release(QEvent::MouseButtonRelease, Local, Global, Button, Qt::NoButton, Mods);
  QApplication::sendEvent(Widget, &Release);
}

inline void PressKey(QWidget* Widget, int Key, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
  QKeyEvent Press(QEvent::KeyPress, Key, Mods);
  QApplication::sendEvent(Widget, &Press);
  QKeyEvent Release(QEvent::KeyRelease, Key, Mods);
  QApplication::sendEvent(Widget, &Release);
}

// The main window as the program shows it, made on first use.
inline app::TMainForm& ShownMainForm(std::unique_ptr<app::TMainForm>& Form) {
  if (!Form) {
    Form = std::make_unique<app::TMainForm>(std::vector<std::string>{}, nullptr);
    Form->resize(640, 480);
    Form->show();
  }
  return *Form;
}

// Closes every modal window that comes up with no answer of the test's own
// (a message box of the system's), counting it: a test that meets one fails
// at once instead of waiting for a user until its time runs out.
class TUnansweredModals {
public:
  TUnansweredModals() {
    QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this] {
      QWidget* Modal = QApplication::activeModalWidget();
      if (!Modal) return;
      ++Count;
      Modal->close();
    });
    FTimer.start(50);
  }
  int Count = 0;

private:
  QTimer FTimer;
};

// A key store and a folder of the test's own; the dialogs answer as told.
class TAppEnv {
public:
  TAppEnv() {
    platform::SetKeyStoreFolder(FStore.Path());
    app::THelpDlg::ModalAnswer = [this](app::THelpDlg& D) {
      ++HelpShown;
      LastHelpText = D.LblHelpText->text();
      LastHelpCaption = D.windowTitle();
      LastHelpDetail = D.DetailLines().join('\n');
      LastHelpButtons.clear();
      for (kel::TKelShapeButton* B : {D.SbtnOkay, D.SBtnCancel, D.SbtnOptional})
        if (B->isVisible()) LastHelpButtons << QString::fromStdString(B->Caption());
      D.done(HelpAnswer);
    };
    app::TNotificationDlg::ModalAnswer = [this](app::TNotificationDlg& D) {
      ++PromptsShown;
      D.done(PromptAnswer);
    };
    app::MessageDlgAnswer = [this](QMessageBox& Box) {
      MessageBoxes << Box.text();
      Box.done(QMessageBox::Ok);
    };
    // Deleted files go to a trash of the test's own.
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(FStore.Path() + "/data"));
  }
  ~TAppEnv() {
    app::MessageDlgAnswer = nullptr;
    qunsetenv("XDG_DATA_HOME");
    app::THelpDlg::ModalAnswer = nullptr;
    app::TNotificationDlg::ModalAnswer = nullptr;
    platform::SetKeyStoreFolder("");
  }
  std::string Folder() const { return FFiles.Path(); }
  QString QFolder() const { return FFiles.QPath(); }
  std::string File(const std::string& Name) const { return FFiles.File(Name); }
  // Writes a picture in the format of the name's extension.
  std::string Picture(const std::string& Name, int Width = 64, int Height = 48,
                      QColor Fill = QColor(128, 128, 128)) const {
    const std::string Path = File(Name);
    SavePicture(MarkedPicture(Width, Height, Fill), Path);
    return Path;
  }

  int HelpAnswer = 2;
  int HelpShown = 0;
  QString LastHelpText, LastHelpCaption, LastHelpDetail;
  // The captions of the buttons shown, left to right.
  QStringList LastHelpButtons;
  int PromptAnswer = 1;
  int PromptsShown = 0;
  QStringList MessageBoxes;

private:
  testing_support::TTempFolder FStore;
  testing_support::TTempFolder FFiles;
};

} // namespace apptest

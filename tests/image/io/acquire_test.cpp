// Acquisition from SANE's test device through the input/output component,
// checked against scanimage with the same configuration.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <link.h>
#include <unistd.h>

#include "image/io/rastrumio.h"
#include "image/io/rvsafeio.h"
#include "platform/twainsane.h"
#include "support/sanetestenv.h"

namespace {

using namespace rv;
using testing_support::ParsePnm;
using testing_support::TPnm;
using testing_support::TSaneTestEnv;

const char* const ColourConf = "mode Color\ndepth 8\nresolution 50\ntest-picture \"Color pattern\"";

// A component that scans without the source's window.
struct TScanner {
  TRastrumIO IO;
  TScanner() {
    IO.TWainParams().VisibleDialog = false;
    IO.TWainParams().SetProgressIndicators(false);
  }
};

// Compares the acquired picture with scanimage's, pixel for pixel.
void ExpectSamePicture(TRvBitmap& B, const TPnm& P) {
  ASSERT_EQ(B.Width(), P.Width);
  ASSERT_EQ(B.Height(), P.Height);
  int wrong = 0;
  for (int y = 0; y < P.Height && wrong < 5; ++y) {
    const std::uint8_t* row = B.Scanline(y);
    for (int x = 0; x < P.Width && wrong < 5; ++x) {
      if (P.Kind == '4') {
        const bool white = (row[x / 8] & (0x80 >> (x % 8))) != 0;
        if (white == P.Black(x, y)) ADD_FAILURE() << "bit " << x << "," << y, ++wrong;
        continue;
      }
      for (int s = 0; s < 3; ++s) {
        const int want = P.Sample(x, y, P.Kind == '6' ? 2 - s : 0);
        if (row[3 * x + s] != want) {
          ADD_FAILURE() << "pixel " << x << "," << y << " byte " << s << ": " << int(row[3 * x + s])
                        << " != " << want;
          ++wrong;
          break;
        }
      }
    }
  }
}

struct TModeCase {
  const char* Name;
  const char* Conf;
  TRvPixelFormat Format;
  int BitsPerSample, SamplesPerPixel, Dpi;
};
void PrintTo(const TModeCase& C, std::ostream* Os) { *Os << C.Name; }

class AcquireMode : public testing::TestWithParam<TModeCase> {};

TEST_P(AcquireMode, EqualsScanimage) {
  const TModeCase& c = GetParam();
  for (bool buffered : {true, false}) {
    SCOPED_TRACE(buffered ? "memory transfer" : "native transfer");
    TSaneTestEnv env(c.Conf);
    const TPnm reference = ParsePnm(env.ScanImage());
    ASSERT_GT(reference.Width, 0);
    TScanner s;
    s.IO.TWainParams().SetBufferedTransfer(buffered);
    int finished = 0;
    s.IO.OnFinishWork = [&](void*) { ++finished; };
    ASSERT_TRUE(s.IO.Acquire());
    EXPECT_FALSE(s.IO.Aborting);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(s.IO.RvBitmap()->PixelFormat(), c.Format);
    ExpectSamePicture(*s.IO.RvBitmap(), reference);
    EXPECT_EQ(s.IO.Params().DpiX, c.Dpi);
    EXPECT_EQ(s.IO.Params().DpiY, c.Dpi);
    EXPECT_EQ(s.IO.Params().Width, reference.Width);
    EXPECT_EQ(s.IO.Params().BitsPerSample, c.BitsPerSample);
    EXPECT_EQ(s.IO.Params().SamplesPerPixel, c.SamplesPerPixel);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AcquireMode,
    testing::Values(TModeCase{"colour", ColourConf, rvpf24Bit, 8, 3, 50},
                    TModeCase{"colour16", "mode Color\ndepth 16\nresolution 40\ntest-picture \"Color pattern\"",
                              rvpf24Bit, 8, 3, 40},
                    TModeCase{"gray", "mode Gray\ndepth 8\nresolution 50\ntest-picture \"Color pattern\"",
                              rvpf24Bit, 8, 1, 50},
                    TModeCase{"lineart", "mode Gray\ndepth 1\nresolution 75\ntest-picture \"Grid\"",
                              rvpf1Bit, 1, 1, 75},
                    TModeCase{"threepass",
                              "mode Color\ndepth 8\nthree-pass true\nresolution 30\ntest-picture \"Color pattern\"",
                              rvpf24Bit, 8, 3, 30}),
    [](const testing::TestParamInfo<TModeCase>& I) { return std::string(I.param.Name); });

TEST(Acquire, HandScannerPageOfUnknownLength) {
  // Hand-scanner pages come without a length; both ways of asking give the
  // page scanimage sees.
  for (bool undefined : {false, true}) {
    TSaneTestEnv env("mode Color\ndepth 8\nresolution 20\nhand-scanner true\ntest-picture \"Color pattern\"");
    const TPnm reference = ParsePnm(env.ScanImage());
    ASSERT_GT(reference.Height, 0);
    TScanner s;
    s.IO.TWainParams().SetUndefinedImageSize(undefined);
    ASSERT_TRUE(s.IO.Acquire());
    ExpectSamePicture(*s.IO.RvBitmap(), reference);
    EXPECT_EQ(s.IO.Params().Height, reference.Height);
  }
}

TEST(Acquire, APageOfUnknownLengthStopsAtThePixelCap) {
  TSaneTestEnv env("mode Color\ndepth 8\nresolution 20\nhand-scanner true\ntest-picture \"Color pattern\"");
  const TPnm reference = ParsePnm(env.ScanImage());
  ASSERT_GT(reference.Height, 30);
  const std::int64_t kept = RvMaxPixels();
  RvSetMaxPixels(static_cast<std::int64_t>(reference.Width) * 30);
  for (bool undefined : {false, true}) {
    TScanner s;
    s.IO.TWainParams().SetUndefinedImageSize(undefined);
    EXPECT_TRUE(s.IO.Acquire());
    EXPECT_EQ(s.IO.RvBitmap()->Height(), 30);
    EXPECT_EQ(s.IO.RvBitmap()->Width(), reference.Width);
  }
  RvSetMaxPixels(kept);
}

TEST(Acquire, FailureKeepsThePicture) {
  struct TCase {
    const char* Conf;
    bool WithTest;
    int ErrorState; // where the job's first error happened
    platform::TW_UINT16 Condition;
  } cases[] = {
      {"mode Color\nread-status-code \"SANE_STATUS_JAMMED\"", true, 6, 0},
      {"mode Color\nread-status-code \"SANE_STATUS_NO_DOCS\"", true, 6, 0},
      {"mode Color", false, 3, platform::TWCC_NODS}, // no scanner at all
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Conf);
    TSaneTestEnv env(c.Conf, c.WithTest);
    TScanner s;
    s.IO.RvBitmap()->Allocate(3, 2, rvpf24Bit);
    s.IO.RvBitmap()->Fill(0x40);
    s.IO.Params().Width = 3;
    EXPECT_FALSE(s.IO.Acquire());
    EXPECT_TRUE(s.IO.Aborting);
    EXPECT_EQ(s.IO.RvBitmap()->Width(), 3);
    EXPECT_EQ(s.IO.RvBitmap()->Scanline(1)[5], 0x40);
    EXPECT_EQ(s.IO.Params().Width, 3);
    const TRvTWainError& e = s.IO.TWainParams().Shared().LastError;
    EXPECT_TRUE(e.Set);
    EXPECT_EQ(e.State, c.ErrorState);
    EXPECT_EQ(e.ConditionCode, c.Condition);
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible());
  }
}

TEST(Acquire, AScanThatNeverEndsIsCancelledFromItsProgressWindow) {
  // A byte a read and a fifth of a second a read: the page would take days.
  TSaneTestEnv env("mode Color\nresolution 300\nread-limit true\nread-limit-size 1\nread-delay true\n"
                   "read-delay-duration 200000");
  TRastrumIO io;
  io.TWainParams().VisibleDialog = false;
  io.TWainParams().SetProgressIndicators(true);
  io.RvBitmap()->Allocate(3, 2, rvpf24Bit);
  bool clicked = false;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == platform::TwainProgressName && w->isVisible() && !clicked)
        if (auto* cancel = w->findChild<QPushButton*>()) {
          cancel->click();
          clicked = true;
        }
  });
  user.start(50);
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(io.Acquire());
  EXPECT_TRUE(clicked);
  EXPECT_TRUE(io.Aborting);
  EXPECT_LT(clock.elapsed(), 30000);
  EXPECT_EQ(io.RvBitmap()->Width(), 3);
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible());
}

TEST(Acquire, AfterAScanTheProgramsBrokenPipesAreErrors) {
  TSaneTestEnv env(ColourConf);
  TScanner s;
  ASSERT_TRUE(s.IO.Acquire());
  // Neither the end of the program nor a wait: the write just fails.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(write(ends[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  EXPECT_LT(clock.elapsed(), 500);
  close(ends[1]);
}

// SANE cancels its reader thread without waiting for it: once SANE has
// exited, the backend's code stays for a reader still ending, and the leak
// checker can name what the reader leaves behind.
TEST(Acquire, TheBackendStaysLoadedAfterSaneExits) {
  {
    TSaneTestEnv env(ColourConf);
    TScanner s;
    ASSERT_TRUE(s.IO.Acquire());
  }
  bool loaded = false;
  dl_iterate_phdr(
      [](dl_phdr_info* Info, size_t, void* Loaded) {
        if (Info->dlpi_name && std::strstr(Info->dlpi_name, "/sane/libsane-test")) *static_cast<bool*>(Loaded) = true;
        return 0;
      },
      &loaded);
  EXPECT_TRUE(loaded);
}

TEST(Acquire, ACallWhileOneRunsAnswersFalse) {
  TSaneTestEnv env(ColourConf);
  TScanner s;
  bool inner = true;
  s.IO.OnProgress = [&](void*, int) {
    if (s.IO.AcquireBusy()) inner = s.IO.Acquire();
  };
  EXPECT_TRUE(s.IO.Acquire());
  EXPECT_FALSE(inner);
  EXPECT_FALSE(s.IO.AcquireBusy());
}

TEST(Acquire, SourceWindowScansOnItsButton) {
  struct TCase {
    const char* Button;
    bool Acquired;
  } cases[] = {{"Scan", true}, {"Cancel", false}};
  for (const TCase& c : cases) {
    TSaneTestEnv env(ColourConf);
    TRastrumIO io;
    io.TWainParams().VisibleDialog = true;
    QString title;
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == platform::TwainSourceDialogName && w->isVisible()) {
          title = w->windowTitle();
          w->findChild<QPushButton*>(QString::fromLatin1(c.Button))->click();
        }
    });
    EXPECT_EQ(io.Acquire(), c.Acquired) << c.Button;
    EXPECT_EQ(title, QStringLiteral("Noname frontend-tester (test:0)"));
    EXPECT_EQ(io.RvBitmap()->Width() > 0, c.Acquired);
  }
}

TEST(Acquire, SelectAcquireSourceSelectsTheChosenDevice) {
  TSaneTestEnv env(ColourConf);
  TRastrumIO io;
  QObject guard;
  QTimer::singleShot(0, &guard, [] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->objectName(), QString::fromLatin1(platform::TwainSelectDialogName));
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("Sources"));
    list->setCurrentRow(1);
    dialog->findChild<QPushButton*>(QStringLiteral("Select"))->click();
  });
  EXPECT_TRUE(io.SelectAcquireSource());
  EXPECT_EQ(io.TWainParams().SelectedSource(), 1);
  EXPECT_EQ(io.TWainParams().SourceName(1), "Noname frontend-tester (test:1)");
  QTimer::singleShot(0, &guard, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_FALSE(io.SelectAcquireSource());
  EXPECT_EQ(io.TWainParams().SelectedSource(), 1);
}

TEST(Acquire, WithoutSourcesNothingIsShown) {
  TSaneTestEnv env("", false);
  TRastrumIO io;
  EXPECT_FALSE(io.SelectAcquireSource());
  EXPECT_FALSE(io.Acquire());
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(io.TWainParams().SourceCount(), 0);
}

} // namespace

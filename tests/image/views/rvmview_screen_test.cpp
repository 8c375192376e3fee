// The film strip in a real window: run by ctest under a virtual X display
// (PICTROVA_SCREEN_TEST set, see tests/CMakeLists.txt); skipped elsewhere.
// The screen is captured with ImageMagick's import and each cell checked
// against its picture.
#include <QGuiApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>

#include "image/views/rvmview.h"
#include "mviewtestutil.h"
#include "support/tempfolder.h"

namespace {

using namespace rv;
using namespace mviewtest;

TEST(MViewScreen, StripOfRealThumbnails) {
  if (std::getenv("PICTROVA_SCREEN_TEST") == nullptr || QGuiApplication::platformName() != "xcb")
    GTEST_SKIP() << "needs the virtual display of the screen test";
  testing_support::TTempFolder dir;
  const std::uint32_t fills[4] = {0x20A040, 0xC08020, 0x4060E0, 0x909090};
  TRastrumMView view;
  view.SetBorderStyle(bsNone);
  view.StoreType = rvtThumb;
  view.SetStyle(rvmsFlat);
  view.SetThumbWidth(100);
  view.SetThumbHeight(80);
  view.ThumbnailsBackground = platform::clBlack;
  for (int i = 0; i < 6; ++i) {
    // 400 x 300 pictures with 40-pixel corner marks, BMP and PNG in turn.
    const std::string name = dir.File("p" + std::to_string(i) + (i % 2 ? ".png" : ".bmp"));
    TRastrumIO io;
    MarkedPicture(*io.RvBitmap(), 400, 300, fills[i % 4], 40);
    io.SaveToFile(name);
    view.SetImageFileName(view.AppendImage(), name);
  }
  view.DeselectNU();
  view.setGeometry(40, 30, 500, 96);
  view.show();
  ASSERT_TRUE(WaitFor([&] {
    for (int i = 0; i < 4; ++i)
      if (!view.ImageHasPixels(i)) return false;
    return view.isVisible();
  }));
  view.repaint();
  // Let the X server show what was painted before it is read back.
  WaitFor([] { return false; }, 300);
  const std::string shot = dir.File("screen.png");
  ASSERT_EQ(std::system(("import -window root '" + shot + "' 2>/dev/null").c_str()), 0);
  const QImage screen = QImage(QString::fromStdString(shot)).convertToFormat(QImage::Format_RGB32);
  ASSERT_FALSE(screen.isNull());
  const QPoint origin = view.mapToGlobal(QPoint(0, 0));
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    // Cell i at 104 i + 4, 4; the 100 x 75 thumbnail fitted into 96 x 80
    // is 96 x 72 at 2 + its left, 4 + its top; the marks are 9 pixels.
    const int x = origin.x() + 104 * i + 4 + 2, y = origin.y() + 4 + 4;
    EXPECT_EQ(At(screen, x + 2, y + 2), TopLeft);
    EXPECT_EQ(At(screen, x + 93, y + 2), TopRight);
    EXPECT_EQ(At(screen, x + 2, y + 69), BottomLeft);
    EXPECT_EQ(At(screen, x + 93, y + 69), BottomRight);
    EXPECT_EQ(At(screen, x + 48, y + 36), fills[i]);
    EXPECT_EQ(At(screen, x - 1, y + 36), 0x000000u); // the band beside the picture
  }
}

} // namespace

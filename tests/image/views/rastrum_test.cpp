#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <string>

#include "image/views/rastrum.h"
#include "support/tempfolder.h"
#include "viewtest_support.h"

namespace {

using namespace rv;

TEST(Rastrum, ItsComponentsExistFromTheStartAndShareTheLanguage) {
  TRastrum control;
  EXPECT_NE(control.GetIO(), nullptr);
  EXPECT_NE(control.GetProc(), nullptr);
  EXPECT_EQ(control.GetIO()->AttachedRastrum(), &control);
  EXPECT_EQ(control.GetProc()->AttachedRastrum(), &control);
  control.SetMsgLanguage(msGerman);
  EXPECT_EQ(control.GetIO()->MsgLanguage, msGerman);
  EXPECT_EQ(control.GetProc()->MsgLanguage, msGerman);
  control.GetProc()->MsgLanguage = msItalian; // read from the processing side
  EXPECT_EQ(control.MsgLanguage(), msItalian);
  platform::TFont font;
  font.Size = 13;
  control.SetPreviewFont(font);
  EXPECT_EQ(control.GetProc()->PreviewFont().Size, 13);
  EXPECT_EQ(control.PreviewFont().Size, 13);
}

TEST(Rastrum, LoadsAFileAndAssignsPictureAndParameters) {
  testing_support::TTempFolder folder;
  const std::string file = folder.Path() + "/marked.png";
  QImage marked(30, 20, QImage::Format_RGB32);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) marked.setPixel(x, y, viewtest::MarkedPixel(x, y));
  ASSERT_TRUE(marked.save(QString::fromStdString(file)));

  TRastrum source;
  int changes = 0;
  source.OnImageChange = [&](void*) { ++changes; };
  source.LoadFromFile(file);
  EXPECT_FALSE(source.GetIO()->Aborting);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(source.GetBitmap()->Width(), 30);
  EXPECT_EQ(source.IOParams().Width, 30);

  TRastrum copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.IOParams().Width, 30);
  EXPECT_EQ(copy.IOParams().FileName, source.IOParams().FileName);
  ASSERT_EQ(copy.GetBitmap()->Height(), 20);
  EXPECT_EQ(copy.GetBitmap()->ScanLine(7)[3 * 11], 11); // blue = column
  EXPECT_EQ(copy.GetBitmap()->ScanLine(7)[3 * 11 + 1], 7);

  // A failed load reports to its caller; the view still paints what it holds.
  EXPECT_ANY_THROW(copy.LoadFromFile(folder.Path() + "/missing.png"));
  copy.resize(40, 40);
  copy.show();
  EXPECT_FALSE(copy.grab().isNull());
}

} // namespace

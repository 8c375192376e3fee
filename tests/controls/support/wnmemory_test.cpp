#include "controls/support/wngraphics/wnmemory.h"
#include "controls/support/wnutils/wnproperties.h"
#include "platform/colors.h"

#include <QCoreApplication>
#include <QObject>
#include <cstring>
#include <gtest/gtest.h>

using namespace wn;

TEST(WnMemory, BlocksAreZeroedAndFreedOnce) {
  EXPECT_EQ(AllocMemo(0), nullptr);
  EXPECT_EQ(AllocMemo(-5), nullptr);
  void* p = AllocMemo(64);
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(static_cast<unsigned char*>(p)[i], 0);
  FreeMemo(p);
  EXPECT_EQ(p, nullptr);
  FreeMemo(p); // a second free of the same variable does nothing
}

TEST(WnMemory, CopiesOverlapAndCompare) {
  char buf[] = "abcdefgh";
  HMemCpy(buf + 2, buf, 5);
  EXPECT_STREQ(buf, "ababcdeh");
  EXPECT_TRUE(CompareMem("abcdefg", "abcdefg", 7));
  EXPECT_FALSE(CompareMem("abcdefg", "abcdefx", 7));
  EXPECT_TRUE(CompareMem("a", "b", 0));
  EXPECT_EQ(HugeOffset(buf, 3), static_cast<void*>(buf + 3));
}

TEST(WnMemory, PaletteColorMarksPaletteRelative) {
  EXPECT_EQ(PaletteColor(0x123456), 0x02123456);
  EXPECT_EQ(PaletteColor(platform::clBtnFace), 0x02C8D0D4); // classic button face
}

TEST(WnProperties, NothingToShowGivesFalse) {
  TWnObjectPropertiesDialog dlg;
  EXPECT_FALSE(dlg.Execute());
  dlg.ObjectName = "/no/such/file";
  EXPECT_FALSE(dlg.Execute());
  dlg.ObjectName = "/";
  dlg.ObjectType = sdPrinterObject;
  EXPECT_FALSE(dlg.Execute());
}

// The refusal comes from the event loop, never inside the call, and not
// once its context is gone.
TEST(WnProperties, TheAsyncAnswerComesLaterAndOnlyWhileItsContextLives) {
  TWnObjectPropertiesDialog dlg;
  dlg.ObjectName = "/no/such/file";
  int answers = 0;
  bool shown = true;
  QObject context;
  dlg.ExecuteAsync(&context, [&](bool ok) {
    ++answers;
    shown = ok;
  });
  EXPECT_EQ(answers, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(answers, 1);
  EXPECT_FALSE(shown);
  {
    QObject gone;
    dlg.ExecuteAsync(&gone, [&](bool) { ++answers; });
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(answers, 1);
}

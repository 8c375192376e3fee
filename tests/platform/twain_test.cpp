#include "platform/twain.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(TwainFix32, RoundsHalfAwayFromZeroAndSplitsWholeAndFraction) {
  struct TCase {
    double Value;
    TW_INT16 Whole;
    TW_UINT16 Frac;
  } cases[] = {
      {300, 300, 0},       {1.5, 1, 0x8000},        {-1.5, -2, 0x8000},
      {-1, -1, 0},         {0.3 / 65536, 0, 0},     {0.5 / 65536, 0, 1},
      {-0.5 / 65536, -1, 0xFFFF}, {2.54, 2, 35389},
  };
  for (const TCase& c : cases) {
    const TW_FIX32 f = TwainToFix32(c.Value);
    EXPECT_EQ(f.Whole, c.Whole) << c.Value;
    EXPECT_EQ(f.Frac, c.Frac) << c.Value;
    EXPECT_EQ(TwainFix32FromBits(TwainFix32Bits(f)).Whole, f.Whole);
    EXPECT_NEAR(TwainFromFix32(f), c.Value, 0.5 / 65536);
  }
}

TEST(TwainContainers, CurrentItemOfEveryKind) {
  struct TCase {
    const char* Name;
    TW_UINT16 ConType;
    TW_HANDLE Container;
    TW_UINT16 Type;
    TW_UINT32 Item;
    bool Ok;
  } cases[] = {
      {"one value", TWON_ONEVALUE, TwainMakeOneValue(TWTY_UINT16, 7), TWTY_UINT16, 7, true},
      {"signed one value", TWON_ONEVALUE, TwainMakeOneValue(TWTY_INT16, 0xFFFE), TWTY_INT16, 0xFFFFFFFE, true},
      {"enumeration", TWON_ENUMERATION, TwainMakeEnumeration(TWTY_FIX32, {0x10000, 0x20000, 0x30000}, 2, 0),
       TWTY_FIX32, 0x30000, true},
      {"enumeration past its end", TWON_ENUMERATION, TwainMakeEnumeration(TWTY_UINT16, {1, 2}, 2, 0), 0, 0, false},
      {"range", TWON_RANGE, TwainMakeRange(TWTY_INT32, 1, 9, 1, 3, 5), TWTY_INT32, 5, true},
      {"array", TWON_ARRAY, TwainMakeArray(TWTY_BOOL, {1, 0}), TWTY_BOOL, 1, true},
      {"empty array", TWON_ARRAY, TwainMakeArray(TWTY_BOOL, {}), 0, 0, false},
      {"unknown item type", TWON_ONEVALUE, TwainMakeOneValue(99, 1), 0, 0, false},
      {"unknown container", 42, TwainMakeOneValue(TWTY_UINT16, 1), 0, 0, false},
  };
  for (const TCase& c : cases) {
    TW_CAPABILITY cap;
    cap.ConType = c.ConType;
    cap.hContainer = c.Container;
    TW_UINT32 item = 0;
    TW_UINT16 type = 0;
    EXPECT_EQ(TwainCurrentItem(cap, item, type), c.Ok) << c.Name;
    if (c.Ok) {
      EXPECT_EQ(type, c.Type) << c.Name;
      EXPECT_EQ(item, c.Item) << c.Name;
    }
    TwainFree(c.Container);
  }
}

} // namespace

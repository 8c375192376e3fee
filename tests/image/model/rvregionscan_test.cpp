#include "image/model/rvregionscan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace rv;

namespace {

// Draws a picture from rows of characters: '.' white, '#' black, 'r' red,
// 'g' a dark gray (10, 10, 10).
void Draw(platform::TBitmap& B, const std::vector<std::string>& Rows) {
  B.SetPixelFormat(platform::pf24bit);
  B.SetSize(static_cast<int>(Rows[0].size()), static_cast<int>(Rows.size()));
  for (int y = 0; y < B.Height(); ++y)
    for (int x = 0; x < B.Width(); ++x) {
      std::uint8_t* p = B.ScanLine(y) + 3 * x;
      switch (Rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]) {
        case '#': p[0] = p[1] = p[2] = 0; break;
        case 'r': p[0] = 0; p[1] = 0; p[2] = 255; break;
        case 'g': p[0] = p[1] = p[2] = 10; break;
        default: p[0] = p[1] = p[2] = 255; break;
      }
    }
}

// The mask as rows of characters: '1' selected, '.' not.
std::vector<std::string> Rows(const TRvMask& M) {
  std::vector<std::string> rows;
  for (int y = 0; y < M.Height(); ++y) {
    std::string row;
    for (int x = 0; x < M.Width(); ++x) row += M.GetPixel(x, y) != 0 ? '1' : '.';
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::pair<int, int>> Pairs(const std::vector<platform::TPoint>& Points) {
  std::vector<std::pair<int, int>> v;
  for (const auto& p : Points) v.emplace_back(p.X, p.Y);
  return v;
}

} // namespace

// --- the connected fill -----------------------------------------------------

TEST(RvRegionScan, IslandOfOnePixel) {
  platform::TBitmap b;
  Draw(b, {"....", ".#..", "...."});
  TRvMask m;
  m.Allocate(4, 3, 1);
  RvMagicWandFill(&b, 1, 1, &m, 0, false);
  EXPECT_EQ(Rows(m), (std::vector<std::string>{"....", ".1..", "...."}));
  EXPECT_EQ(m.X1(), 1);
  EXPECT_EQ(m.Y2(), 1);
}

TEST(RvRegionScan, FillIsFourConnectedSimilarIsNot) {
  platform::TBitmap b;
  Draw(b, {"##...",
           "##...",
           "..##.",
           "..###",
           "#...."});
  TRvMask fill, similar;
  fill.Allocate(5, 5, 1);
  similar.Allocate(5, 5, 1);
  RvMagicWandFill(&b, 0, 0, &fill, 0, false);
  EXPECT_EQ(Rows(fill), (std::vector<std::string>{"11...", "11...", ".....", ".....", "....."}));
  RvSelectSimilarColors(&b, 0, 0, &similar, 0);
  EXPECT_EQ(Rows(similar),
            (std::vector<std::string>{"11...", "11...", "..11.", "..111", "1...."}));
}

TEST(RvRegionScan, FillFollowsAWindingRegion) {
  // A spiral of white around black walls: the fill must reach its end
  // through turns to the left, right, up and down.
  platform::TBitmap b;
  Draw(b, {"........",
           "######.#",
           "#.....#.",
           "#.###.#.",
           "#.#...#.",
           "#.#####.",
           "#.......",
           "########"});
  TRvMask m;
  m.Allocate(8, 8, 1);
  RvMagicWandFill(&b, 0, 0, &m, 0, false);
  EXPECT_EQ(Rows(m), (std::vector<std::string>{"11111111",
                                               "......1.",
                                               "........",
                                               "........",
                                               "........",
                                               "........",
                                               "........",
                                               "........"}));
  // The spiral's corridor, entered at either end.
  const std::vector<std::string> corridor{"........",
                                          "........",
                                          ".11111.1",
                                          ".1...1.1",
                                          ".1.111.1",
                                          ".1.....1",
                                          ".1111111",
                                          "........"};
  m.Clear();
  RvMagicWandFill(&b, 7, 2, &m, 0, false);
  EXPECT_EQ(Rows(m), corridor);
  m.Clear();
  RvMagicWandFill(&b, 3, 4, &m, 0, false);
  EXPECT_EQ(Rows(m), corridor);
}

TEST(RvRegionScan, ToleranceIsTheLargestChannelDifference) {
  platform::TBitmap b;
  Draw(b, {"#g.", "#gr"});
  TRvMask m;
  m.Allocate(3, 2, 1);
  RvMagicWandFill(&b, 0, 0, &m, 9, false);
  EXPECT_EQ(Rows(m), (std::vector<std::string>{"1..", "1.."}));
  m.Clear();
  RvMagicWandFill(&b, 0, 0, &m, 10, false);
  EXPECT_EQ(Rows(m), (std::vector<std::string>{"11.", "11."}));
  m.Clear();
  RvMagicWandFill(&b, 0, 0, &m, 255, false);
  EXPECT_EQ(Rows(m), (std::vector<std::string>{"111", "111"}));
}

TEST(RvRegionScan, MaxFilterGrowsTheRegionWithinThePicture) {
  platform::TBitmap b;
  Draw(b, {"#....", ".....", "....#"});
  TRvMask m;
  m.Allocate(5, 3, 1);
  RvMagicWandFill(&b, 0, 0, &m, 0, true);
  EXPECT_EQ(Rows(m), (std::vector<std::string>{"11...", "11...", "....."}));
  m.Clear();
  RvMagicWandFill(&b, 4, 2, &m, 0, true);
  EXPECT_EQ(Rows(m), (std::vector<std::string>{".....", "...11", "...11"}));
}

TEST(RvRegionScan, SeedOutsideOrOtherFormatSelectsNothing) {
  platform::TBitmap b;
  Draw(b, {"...", "..."});
  TRvMask m;
  m.Allocate(3, 2, 1);
  for (auto [x, y] : std::vector<std::pair<int, int>>{{-1, 0}, {3, 0}, {0, -1}, {0, 2}}) {
    RvMagicWandFill(&b, x, y, &m, 255, false);
    RvSelectSimilarColors(&b, x, y, &m, 255);
    EXPECT_TRUE(RvMagicWandOutline(&b, x, y, 255, false).empty());
  }
  EXPECT_TRUE(m.IsEmpty());
  platform::TBitmap gray(3, 2, platform::pf8bit);
  RvMagicWandFill(&gray, 0, 0, &m, 255, false);
  RvSelectSimilarColors(&gray, 0, 0, &m, 255);
  EXPECT_TRUE(RvMagicWandOutline(&gray, 0, 0, 255, false).empty());
  EXPECT_TRUE(m.IsEmpty());
}

// --- the outline ------------------------------------------------------------

TEST(RvRegionScan, OutlineOfOnePixelIsItsCornersTwice) {
  platform::TBitmap b;
  Draw(b, {"....", "..#.", "...."});
  const auto points = RvMagicWandOutline(&b, 2, 1, 0, false);
  EXPECT_EQ(Pairs(points), (std::vector<std::pair<int, int>>{
                               {2, 1}, {3, 1}, {3, 1}, {3, 2}, {3, 2}, {2, 2}, {2, 2}, {2, 1}}));
}

TEST(RvRegionScan, OutlineOfARectangleRunsAlongItsEdges) {
  platform::TBitmap b;
  Draw(b, {"......", ".###..", ".###..", "......"});
  EXPECT_EQ(Pairs(RvMagicWandOutline(&b, 2, 2, 0, false)),
            (std::vector<std::pair<int, int>>{
                {1, 1}, {4, 1}, {4, 1}, {4, 3}, {4, 3}, {1, 3}, {1, 3}, {1, 1}}));
  // The filter is cut to the region's box: a rectangle stays as it is.
  EXPECT_EQ(Pairs(RvMagicWandOutline(&b, 2, 2, 0, true)),
            (std::vector<std::pair<int, int>>{
                {1, 1}, {4, 1}, {4, 1}, {4, 3}, {4, 3}, {1, 3}, {1, 3}, {1, 1}}));
}

TEST(RvRegionScan, OutlineOfAnLShapeTurnsInward) {
  platform::TBitmap b;
  Draw(b, {"#.", "##"});
  // Clockwise from the top-left corner; the inner corner (1, 1) is passed
  // once, as the chain turns there without running straight.
  EXPECT_EQ(Pairs(RvMagicWandOutline(&b, 0, 0, 0, false)),
            (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {1, 0}, {1, 1}, {2, 1}, {2, 1},
                                              {2, 2}, {2, 2}, {0, 2}, {0, 2}, {0, 0}}));
}

// Pane rectangles of every layout: the grid rules, the exact rectangles of
// the 8-pane layout, the order panes are given out around a large pane, and
// that the panes of a layout tile the area without overlap.
#include <gtest/gtest.h>

#include <vector>

#include "app/PaneGeometry.h"

namespace {

using app::LayoutForCount;
using app::PaneRect;

std::vector<QRect> Rects(int count, QSize client, int first = 0) {
  std::vector<QRect> out;
  for (int p = 0; p < app::kPanes; ++p) out.push_back(PaneRect(LayoutForCount(count), p, first, -1, client).value_or(QRect()));
  return out;
}

// Every pixel of the client area belongs to exactly one pane when the layout
// has no more cells than there are panes.
void ExpectTiles(int count, QSize client) {
  SCOPED_TRACE(count);
  std::vector<int> owners(static_cast<size_t>(client.width() * client.height()), 0);
  for (const QRect& r : Rects(count, client)) {
    for (int y = r.top(); y <= r.bottom() && !r.isEmpty(); ++y)
      for (int x = r.left(); x <= r.right(); ++x) ++owners[static_cast<size_t>(y * client.width() + x)];
  }
  for (size_t i = 0; i < owners.size(); ++i) ASSERT_EQ(owners[i], 1) << "pixel " << i;
}

}  // namespace

TEST(PaneGeometry, CountsAndStyles) {
  EXPECT_EQ(LayoutForCount(9), (app::PaneLayout{1, 9}));
  EXPECT_EQ(LayoutForCount(12), (app::PaneLayout{2, 12}));
  EXPECT_EQ(LayoutForCount(17), (app::PaneLayout{3, 17}));
  for (int odd : {0, 2, 5, 7, 11, 37, -1}) EXPECT_EQ(LayoutForCount(odd), (app::PaneLayout{1, 4})) << odd;
}

TEST(PaneGeometry, EightPanesAreWhereTheyBelong) {
  const int W = 803, H = 601;  // not multiples of 4: integer division, last edge at W and H
  const auto r = Rects(8, {W, H});
  auto edges = [](int x0, int y0, int x1, int y1) { return QRect(x0, y0, x1 - x0, y1 - y0); };
  EXPECT_EQ(r[0], edges(0, 0, 3 * W / 4, 3 * H / 4));
  EXPECT_EQ(r[1], edges(3 * W / 4, 0, W, H / 4));
  EXPECT_EQ(r[2], edges(3 * W / 4, H / 4, W, 2 * H / 4));
  EXPECT_EQ(r[3], edges(3 * W / 4, 2 * H / 4, W, 3 * H / 4));
  EXPECT_EQ(r[4], edges(3 * W / 4, 3 * H / 4, W, H));
  EXPECT_EQ(r[5], edges(2 * W / 4, 3 * H / 4, 3 * W / 4, H));
  EXPECT_EQ(r[6], edges(W / 4, 3 * H / 4, 2 * W / 4, H));
  EXPECT_EQ(r[7], edges(0, 3 * H / 4, W / 4, H));
  for (int p = 8; p < 12; ++p) EXPECT_TRUE(r[static_cast<size_t>(p)].isEmpty()) << p;
}

TEST(PaneGeometry, TwelvePanesOneLargeAndElevenSmallWithoutOverlap) {
  const QSize client(1200, 900);
  const auto r = Rects(12, client);
  EXPECT_EQ(r[0], QRect(0, 0, 1000, 750)) << "five sixths";
  EXPECT_EQ(r[1], QRect(1000, 0, 200, 150));
  EXPECT_EQ(r[6], QRect(1000, 750, 200, 150)) << "the bottom-right cell";
  EXPECT_EQ(r[11], QRect(0, 750, 200, 150)) << "the bottom row ends at the left";
  for (int p = 1; p < 12; ++p) EXPECT_EQ(r[static_cast<size_t>(p)].size(), QSize(200, 150)) << p;
  for (int count : {1, 4, 6, 8, 9, 10, 12}) ExpectTiles(count, {97, 61});
}

TEST(PaneGeometry, AroundTheLargePaneColumnsFirstThenTheRowsBelowFromTheRight) {
  const QSize client(400, 400);  // cells of 100 for 13 panes
  const auto r = Rects(13, client);
  EXPECT_EQ(r[0], QRect(0, 0, 200, 200));
  EXPECT_EQ(r[1], QRect(200, 0, 100, 100));
  EXPECT_EQ(r[2], QRect(300, 0, 100, 100));
  EXPECT_EQ(r[8], QRect(300, 300, 100, 100));
  EXPECT_EQ(r[9], QRect(100, 200, 100, 100));
  EXPECT_EQ(r[10], QRect(100, 300, 100, 100));
  EXPECT_EQ(r[11], QRect(0, 200, 100, 100));
  // 17: a 3 x 3 large pane of 5 x 5 cells; only twelve panes exist.
  const auto s = Rects(17, {500, 500});
  EXPECT_EQ(s[0], QRect(0, 0, 300, 300));
  EXPECT_EQ(s[10], QRect(400, 400, 100, 100));
  EXPECT_EQ(s[11], QRect(200, 300, 100, 100));
  // 36 of a 6 x 6 grid: the twelve panes fill the first two rows.
  const auto t = Rects(36, {600, 600});
  EXPECT_EQ(t[11], QRect(500, 100, 100, 100));
}

TEST(PaneGeometry, MaximisedAndTheSecondPage) {
  const QSize client(640, 480);
  for (int p = 0; p < 12; ++p) {
    const auto r = PaneRect(LayoutForCount(4), p, 0, 5, client);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, p == 5 ? QRect(0, 0, 640, 480) : QRect()) << p;
  }
  const app::PaneLayout four = LayoutForCount(4);
  EXPECT_EQ(app::FirstPosition(four, 5), 4) << "channel 6 is on the second page";
  EXPECT_EQ(app::FirstPosition(four, 2), 0);
  EXPECT_EQ(app::FirstPosition(four, 9), 0) << "channels past 8 have no page of their own";
  EXPECT_EQ(app::FirstPosition(LayoutForCount(8), 7), 0);
  EXPECT_FALSE(PaneRect(four, 3, 4, -1, client)) << "before the first position: not moved";
  EXPECT_EQ(PaneRect(four, 4, 4, -1, client), QRect(0, 0, 320, 240));
  EXPECT_EQ(PaneRect(four, 7, 4, -1, client), QRect(320, 240, 320, 240));
  EXPECT_EQ(PaneRect(four, 8, 4, -1, client), QRect());
}

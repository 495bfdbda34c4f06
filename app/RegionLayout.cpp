#include "app/RegionLayout.h"

#include <algorithm>

namespace app {
namespace {

// A rectangle with no room is empty, never negative.
QRect Box(int x, int y, int width, int height) { return QRect(x, y, std::max(0, width), std::max(0, height)); }

}  // namespace

Regions ComputeRegions(QSize client, QMargins margins, const RegionFactors& f) {
  const int k = std::clamp(f.k, 1, 3), q = std::clamp(f.q, 0, 3);
  const int x0 = margins.left(), y0 = margins.top();
  const int w = client.width() - margins.left() - margins.right();
  const int h = client.height() - margins.top() - margins.bottom() - 2;
  Regions r;
  r.title = Box(0, 0, client.width(), margins.top());
  const int upper = (4 - k) * h / 4;
  r.wave = Box(x0, y0 + upper, w - 2, k * h / 4 - kControlStripHeight);
  r.controls = Box(x0, y0 + upper + std::max(0, k * h / 4 - kControlStripHeight), w - 2, kControlStripHeight);
  if (f.map_only) {
    r.map = Box(x0, y0, w, upper);
    return r;
  }
  const int split = x0 + q * w / 3;
  const int column = (3 - q) * w / 3;
  const QRect left = Box(x0, y0, split - 11 - x0, upper);
  r.buttons = Box(split, y0, column - 4, column > 0 ? kButtonRowHeight : 0);
  r.search = Box(split, y0 + upper - kSearchHeight, column - 4, column > 0 ? kSearchHeight : 0);
  const QRect slot = Box(split, y0 + kButtonRowHeight + 2, column - 4, upper - kButtonRowHeight - kSearchHeight - 6);
  r.list = slot;
  r.panes = f.swap ? slot : left;
  r.map = f.swap ? left : slot;
  // The two buttons that change q stand in the gap before the split line.
  const int middle = y0 + upper / 2;
  r.widen = Box(split - 10, middle - 24, 9, 22);
  r.narrow = Box(split - 10, middle + 2, 9, 22);
  return r;
}

Qt::Edges FrameEdgesAt(QSize size, QPoint p) {
  constexpr int kCorner = 11, kEdge = 5;
  const int w = size.width(), h = size.height();
  const bool left_corner = p.x() < kCorner, right_corner = p.x() >= w - kCorner;
  const bool top_corner = p.y() < kCorner, bottom_corner = p.y() >= h - kCorner;
  if (top_corner && left_corner) return Qt::TopEdge | Qt::LeftEdge;
  if (top_corner && right_corner) return Qt::TopEdge | Qt::RightEdge;
  if (bottom_corner && left_corner) return Qt::BottomEdge | Qt::LeftEdge;
  if (bottom_corner && right_corner) return Qt::BottomEdge | Qt::RightEdge;
  Qt::Edges edges;
  if (p.x() < kEdge) edges |= Qt::LeftEdge;
  if (p.x() >= w - kEdge) edges |= Qt::RightEdge;
  if (p.y() < kEdge) edges |= Qt::TopEdge;
  if (p.y() >= h - kEdge) edges |= Qt::BottomEdge;
  return edges;
}

}  // namespace app

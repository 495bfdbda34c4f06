#include "app/PaneGeometry.h"

namespace app {
namespace {

// Cells [c0, c1) x [r0, r1) of an m x m grid.
QRect Cells(int c0, int r0, int c1, int r1, int m, QSize client) {
  auto edge = [m](int i, int size) { return i >= m ? size : i * size / m; };
  const int x0 = edge(c0, client.width()), x1 = edge(c1, client.width());
  const int y0 = edge(r0, client.height()), y1 = edge(r1, client.height());
  return QRect(x0, y0, x1 - x0, y1 - y0);
}

QRect EvenGrid(int cell, int count, QSize client) {
  int m = 1;
  while (m * m < count) ++m;
  if (cell >= count) return {};
  return Cells(cell % m, cell / m, cell % m + 1, cell / m + 1, m, client);
}

// One large pane of (m - 1) x (m - 1) cells, then the right column top down,
// the bottom-right cell, and the bottom row right to left.
QRect RightAndBottom(int cell, int count, QSize client) {
  const int m = count / 2;  // 6 -> 3, 8 -> 4, 10 -> 5, 12 -> 6
  if (cell >= count) return {};
  if (cell == 0) return Cells(0, 0, m - 1, m - 1, m, client);
  if (cell < m) return Cells(m - 1, cell - 1, m, cell, m, client);
  const int column = m - 1 - (cell - m);
  return Cells(column, m - 1, column + 1, m, m, client);
}

// One large pane of b x b cells; the columns right of it row by row, then the
// rows below it column by column from column b - 1 to 0, each top down.
QRect AroundLarge(int cell, int count, QSize client) {
  const int m = count == 13 ? 4 : 5;
  const int b = m - 2;
  if (cell >= count) return {};
  if (cell == 0) return Cells(0, 0, b, b, m, client);
  int i = cell - 1;
  const int right = m - b;  // cells a row right of the large pane
  if (i < m * right) {
    const int row = i / right, column = b + i % right;
    return Cells(column, row, column + 1, row + 1, m, client);
  }
  i -= m * right;
  const int below = m - b;  // rows below the large pane
  const int column = b - 1 - i / below, row = b + i % below;
  return Cells(column, row, column + 1, row + 1, m, client);
}

}  // namespace

PaneLayout LayoutForCount(int count) {
  switch (count) {
    case 1: case 4: case 9: case 16: case 25: case 36: return {1, count};
    case 6: case 8: case 10: case 12: return {2, count};
    case 13: case 17: return {3, count};
    default: return {1, 4};
  }
}

std::optional<QRect> PaneRect(const PaneLayout& layout, int position, int first, int maximised, QSize client) {
  if (maximised >= 0) return position == maximised ? QRect(QPoint(0, 0), client) : QRect();
  if (position < first) return std::nullopt;
  const int cell = position - first;
  switch (layout.style) {
    case 2: return RightAndBottom(cell, layout.count, client);
    case 3: return AroundLarge(cell, layout.count, client);
    default: return EvenGrid(cell, layout.count, client);
  }
}

int FirstPosition(const PaneLayout& layout, int selected_channel) {
  return selected_channel >= layout.count && selected_channel < 8 ? layout.count : 0;
}

}  // namespace app

#pragma once
// Where each display position of the pane container goes. A layout is a
// style and a pane count: style 1 an even m x m grid (1, 4, 9, 16, 25, 36),
// style 2 one large pane top left with small panes down the right column and
// along the bottom row (6, 8, 10, 12), style 3 one large pane top left with
// small panes filled around it (13, 17). Edges fall on multiples of W/m and
// H/m (integer division); the last column and row end at W and H.
#include <QRect>
#include <QSize>
#include <optional>

namespace app {

struct PaneLayout {
  int style = 1;
  int count = 4;
  bool operator==(const PaneLayout&) const = default;
};

inline constexpr int kPanes = 12;

// The layout of `count` panes; a count not offered means 4.
PaneLayout LayoutForCount(int count);

// The rectangle of display position `position` (0 .. 11) in a client area of
// `client`: the maximised position (>= 0) takes all of it and the others
// nothing; otherwise the layout's cells are given out from display position
// `first` on. Positions before `first` are not moved (nullopt); positions the
// layout has no cell for get an empty rectangle.
std::optional<QRect> PaneRect(const PaneLayout& layout, int position, int first, int maximised, QSize client);

// The first display position used: 0, or the layout's count when the selected
// channel lies between the count and 8 (with 4 panes, channels 5 to 8 are the
// second page).
int FirstPosition(const PaneLayout& layout, int selected_channel);

}  // namespace app

#pragma once
// Where the main window's regions go. The window paints its own frame; inside
// the margins, W x H is the working area (H also less 2 pixels). The waveform
// panel takes k quarters of the height (less the 60-pixel strip of playback
// buttons below it), the upper area the other 4 - k quarters. The upper area
// is split at x = q * W / 3: the pane container on the left (its right edge 11
// pixels before the split) and the right column on the right, or the other
// way round when the swap flag is set (the map then takes the left part and
// the panes the right column's slot). The right column holds the button row,
// the slot of the list (or the map) and the 100-pixel search panel.
// All divisions are integer divisions; a region with no room is empty.
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace app {

struct RegionFactors {
  int k = 1;     // waveform height: 1 .. 3 quarters
  int q = 2;     // pane area width: 0 .. 3 thirds
  bool swap = false;
  bool map_only = false;  // the map fills the upper area, no search panel
};

struct Regions {
  QRect panes, map, list, search, wave, controls;
  QRect buttons;          // the row of "OpenFile", "Map"/"Video", "Language", "Help"
  QRect widen, narrow;    // the two buttons that change q, at the split line
  QRect title;            // the caption strip the window draws its title in
};

inline constexpr int kButtonRowHeight = 30;
inline constexpr int kSearchHeight = 100;
inline constexpr int kControlStripHeight = 60;

Regions ComputeRegions(QSize client, QMargins margins, const RegionFactors& factors);

// What a press at `point` of a frameless window of `size` does: a resize
// handle (11 x 11 corners, 5-pixel edges) or a move (no edge).
Qt::Edges FrameEdgesAt(QSize size, QPoint point);

}  // namespace app

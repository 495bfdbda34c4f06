#pragma once
// A channel pane's context menu: "Exit Fullscreen", "Default Screen", "Mute",
// "Audio 1" .. "Audio 8", "Close", "Open", "Property", in that order. Russian
// has a menu of its own; every other language gets the English one.
#include <QMenu>
#include <string>

namespace app {

enum PaneMenuCommand : int {
  kMenuExitFullscreen = 1,
  kMenuDefaultScreen = 2,
  kMenuMute = 3,
  kMenuAudio1 = 4,  // .. kMenuAudio1 + 7 for "Audio 8"
  kMenuClose = 12,
  kMenuOpen = 13,
  kMenuProperty = 14,
};

struct PaneMenuState {
  bool full_screen = false;
  bool channel_closed = false;
  bool has_recording = false;  // a recording of the list plays on the channel
  int audio_channel = 0;       // checked entry: 0 .. 7, -10 muted
};

// Fills `menu` (cleared first); each action's data is its PaneMenuCommand.
void FillPaneMenu(QMenu* menu, const std::string& language_name, const PaneMenuState& state);

}  // namespace app

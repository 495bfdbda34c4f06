#pragma once
// What the player's command line asks for:
//   Dravik [PATH] [--home DIR] [--screenshot OUT.png --after SECONDS]
//          [--map-demo FILE] [--play-stats] [--scan-stats] [--regserver | --unregserver] [--embedding | --automation]
//          [--help] [--version]
// The registration switches are also taken in their "/RegServer" and
// "-Embedding" spellings, without regard to case.
#include <string>
#include <vector>

namespace app {

struct CommandLine {
  std::string path;        // a recording or a folder to open
  std::string home;        // the folder of setting.ini and Language/; empty: chosen
  std::string screenshot;  // grab the main window into this PNG ...
  double after_seconds = 0;  // ... this long after start, then quit
  std::string map_demo;
  bool play_stats = false;  // print what every channel showed when the window closes
  bool scan_stats = false;  // print the folder scan's time and the window's longest stall, then quit
  bool help = false, version = false;
  bool regserver = false, unregserver = false;
  bool embedding = false, automation = false;  // started by D-Bus activation
  std::string error;       // set when the line cannot be understood

  bool activated() const { return embedding || automation; }
};

// The path the command line names may carry the map key after a comma:
// "PATH,KEY". A path that exists as it stands has no key (its name may hold
// a comma); otherwise the text after the last comma is the key.
struct PathAndMapKey {
  std::string path, map_key;
};
PathAndMapKey SplitPathAndMapKey(const std::string& text);

// `args` without the program name; Qt's own options already taken out.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string CommandLineHelp();

}  // namespace app

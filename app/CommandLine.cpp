#include "app/CommandLine.h"

#include <filesystem>

#include <cstdlib>

namespace app {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

// "--regserver", "-RegServer" and "/regserver" are one switch.
std::string SwitchName(const std::string& arg) {
  if (arg.rfind("--", 0) == 0) return Lower(arg.substr(2));
  if ((arg[0] == '-' || arg[0] == '/') && arg.size() > 1) return Lower(arg.substr(1));
  return {};
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine c;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty()) continue;
    // What Qt WebEngine is given on the command line is its own.
    if (arg == "--webEngineArgs") break;
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        c.error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    const std::string name = arg[0] == '/' && arg.find('/', 1) != std::string::npos ? std::string() : SwitchName(arg);
    if (name == "home") {
      if (!value(c.home)) break;
    } else if (name == "screenshot") {
      if (!value(c.screenshot)) break;
    } else if (name == "after") {
      std::string text;
      if (!value(text)) break;
      char* end = nullptr;
      c.after_seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || c.after_seconds < 0 || c.after_seconds > 86400) {
        c.error = "--after needs a number of seconds";
        break;
      }
    } else if (name == "map-demo") {
      if (!value(c.map_demo)) break;
    } else if (name == "play-stats") {
      c.play_stats = true;
    } else if (name == "scan-stats") {
      c.scan_stats = true;
    } else if (name == "help" || name == "h" || name == "?") {
      c.help = true;
    } else if (name == "version") {
      c.version = true;
    } else if (name == "regserver") {
      c.regserver = true;
    } else if (name == "unregserver" || name == "unregister") {
      c.unregserver = true;
    } else if (name == "embedding") {
      c.embedding = true;
    } else if (name == "automation") {
      c.automation = true;
    } else if (!name.empty() && arg[0] == '-') {
      c.error = "unknown option " + arg;
      break;
    } else if (c.path.empty()) {
      c.path = arg;  // a path (also one that starts with '/')
    } else {
      c.error = "only one recording or folder can be opened: " + arg;
      break;
    }
  }
  if (c.error.empty() && !c.screenshot.empty() && c.after_seconds <= 0) c.after_seconds = 1;
  return c;
}

std::string CommandLineHelp() {
  return "Usage: Dravik [PATH] [options]\n"
         "Plays the recordings of multi-channel vehicle recorders.\n"
         "\n"
         "  PATH                  a recording or a folder of recordings to open\n"
         "  --home DIR            keep setting.ini and Language/ in DIR\n"
         "                        (default: the program's folder when writable, else ~/.config/Dravik)\n"
         "  --screenshot OUT.png  save a picture of the main window and quit ...\n"
         "  --after SECONDS       ... this long after start (default 1)\n"
         "  --map-demo FILE       show only the map, driven by FILE's GPS records\n"
         "  --play-stats          when the window closes, print per channel the pictures shown\n"
         "                        and the largest skew between channels (for benchmarks)\n"
         "  --scan-stats          list PATH, print how long the scan took and the longest stall\n"
         "                        of the window's thread meanwhile, and quit\n"
         "  --regserver           register the automation service QVShow.Application for this user\n"
         "  --unregserver         remove that registration\n"
         "  --automation          started by the session bus (the window hides instead of closing)\n"
         "  --help, --version\n"
         "\n"
         "Environment: DRAVIK_REMOTE_DEBUGGING=PORT opens the map browser's debugging port on 127.0.0.1.\n";
}

PathAndMapKey SplitPathAndMapKey(const std::string& text) {
  std::error_code error;
  const size_t comma = text.find_last_of(',');
  if (comma == std::string::npos || std::filesystem::exists(text, error)) return {text, {}};
  return {text.substr(0, comma), text.substr(comma + 1)};
}

}  // namespace app

#pragma once
// The folder that holds "setting.ini", "Language/" and "temp.ini": the one
// given on the command line, else the program's own folder when the program
// may write there, else the user's configuration folder. An installed program
// (`cmake --install`, the Debian package) carries the file "INSTALLED" beside
// itself: its folder is never the home, not even for root, who may write
// anywhere.
#include <filesystem>
#include <string>

namespace app {

// The file beside an installed program.
inline constexpr const char* kInstalledMarker = "INSTALLED";

struct AppHome {
  std::filesystem::path folder;  // with no trailing separator
  bool chosen_explicitly = false;
};

// `xdg_config_home` and `home` as the environment gives them (either may be empty).
AppHome ChooseHome(const std::string& explicit_home, const std::filesystem::path& program_folder,
                   const std::string& xdg_config_home, const std::string& home);
// ChooseHome with this process's folder and environment.
AppHome ChooseHomeForThisProcess(const std::string& explicit_home);

}  // namespace app

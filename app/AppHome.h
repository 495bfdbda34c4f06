#pragma once
// The folder that holds "setting.ini", "Language/" and "temp.ini": the one
// given on the command line, else the program's own folder when the program
// may write there, else the user's configuration folder ($XDG_CONFIG_HOME,
// else $HOME/.config, else .config in the home folder of the user's account
// entry). An installed program (`cmake --install`, the Debian package)
// carries the file "INSTALLED" beside itself: its folder is never the home,
// not even for root, who may write anywhere; when none of the others can be
// found it has no home and does not start.
#include <filesystem>
#include <string>

namespace app {

// The file beside an installed program.
inline constexpr const char* kInstalledMarker = "INSTALLED";

struct AppHome {
  std::filesystem::path folder;  // with no trailing separator; empty: there is none
  bool chosen_explicitly = false;
};

// `xdg_config_home` and `home` as the environment gives them, `account_home`
// the home folder of the user's account entry (any may be empty).
AppHome ChooseHome(const std::string& explicit_home, const std::filesystem::path& program_folder,
                   const std::string& xdg_config_home, const std::string& home,
                   const std::string& account_home = {});
// The home folder in this process's user's account entry, or empty.
std::string AccountHome();
// ChooseHome with this process's folder and environment.
AppHome ChooseHomeForThisProcess(const std::string& explicit_home);

}  // namespace app

#include "app/AppHome.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "app/AppConfig.h"

namespace app {

AppHome ChooseHome(const std::string& explicit_home, const std::filesystem::path& program_folder,
                   const std::string& xdg_config_home, const std::string& home) {
  std::error_code ec;
  if (!explicit_home.empty()) {
    // Created when missing; one that cannot be written is still used, and
    // the start-up says so file by file.
    std::filesystem::path folder = std::filesystem::absolute(explicit_home, ec);
    if (ec) folder = explicit_home;
    std::filesystem::create_directories(folder, ec);
    return {folder.lexically_normal(), true};
  }
  std::filesystem::path own = program_folder;
  if (own.filename().empty()) own = own.parent_path();
  const bool installed = std::filesystem::exists(own / kInstalledMarker, ec);
  if (!installed && ::access(own.c_str(), W_OK) == 0) return {own, false};
  std::filesystem::path config;
  if (!xdg_config_home.empty() && xdg_config_home[0] == '/') {
    config = xdg_config_home;
  } else if (!home.empty()) {
    config = std::filesystem::path(home) / ".config";
  } else {
    return {own, false};  // nowhere else to go: the messages will say so
  }
  std::filesystem::path folder = config / "Dravik";
  std::filesystem::create_directories(folder, ec);
  return {folder, false};
}

AppHome ChooseHomeForThisProcess(const std::string& explicit_home) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  return ChooseHome(explicit_home, AppConfig::ApplicationDirectory(), xdg ? xdg : "", home ? home : "");
}

}  // namespace app

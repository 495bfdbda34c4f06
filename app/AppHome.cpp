#include "app/AppHome.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "app/AppConfig.h"

namespace app {

AppHome ChooseHome(const std::string& explicit_home, const std::filesystem::path& program_folder,
                   const std::string& xdg_config_home, const std::string& home, const std::string& account_home) {
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
  } else if (!account_home.empty() && account_home[0] == '/' && account_home != "/" &&
             std::filesystem::is_directory(account_home, ec)) {
    // A service account's "/nonexistent" (or "/") is no home.
    config = std::filesystem::path(account_home) / ".config";
  } else if (installed) {
    return {{}, false};  // never the installed program's own folder
  } else {
    return {own, false};  // nowhere else to go: the messages will say so
  }
  std::filesystem::path folder = config / "Dravik";
  std::filesystem::create_directories(folder, ec);
  return {folder, false};
}

std::string AccountHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  return found && found->pw_dir ? std::string(found->pw_dir) : std::string();
}

AppHome ChooseHomeForThisProcess(const std::string& explicit_home) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const bool from_environment = (xdg && xdg[0] == '/') || (home && home[0]);
  return ChooseHome(explicit_home, AppConfig::ApplicationDirectory(), xdg ? xdg : "", home ? home : "",
                    explicit_home.empty() && !from_environment ? AccountHome() : std::string());
}

}  // namespace app

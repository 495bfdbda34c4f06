#include "app/AppConfig.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>

#include "platform/PrivateProfile.h"

namespace app {

AppConfig::AppConfig(std::filesystem::path ini_path) : path_(std::move(ini_path)) {}

std::filesystem::path AppConfig::ApplicationDirectory() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec) / "";
  return exe.parent_path() / "";
}

AppConfig AppConfig::ForApplication() { return AppConfig(ApplicationDirectory() / kFileName); }

int AppConfig::ReadInt(std::string_view section, std::string_view key, int default_value) const {
  return platform::GetPrivateProfileInt(section, key, default_value, path_);
}

std::string AppConfig::ReadString(std::string_view section, std::string_view key,
                                  std::string_view default_value, size_t buffer_chars) const {
  return platform::GetPrivateProfileString(section, key, default_value, path_, buffer_chars);
}

bool AppConfig::WriteInt(std::string_view section, std::string_view key, int value) const {
  return platform::WritePrivateProfileInt(section, key, value, path_);
}

bool AppConfig::WriteString(std::string_view section, std::string_view key, std::string_view value) const {
  return platform::WritePrivateProfileString(section, key, value, path_);
}

bool AppConfig::EnsureExists() const {
  std::error_code ec;
  if (std::filesystem::exists(path_, ec)) return true;
  // O_EXCL: never overwrite a file another instance created meanwhile.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST;
  const ssize_t n = ::write(fd, kDefaultContent.data(), kDefaultContent.size());
  const bool ok = n == static_cast<ssize_t>(kDefaultContent.size());
  ::close(fd);
  if (!ok) std::filesystem::remove(path_, ec);
  return ok;
}

}  // namespace app

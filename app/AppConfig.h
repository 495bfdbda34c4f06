#pragma once
// The program's configuration "setting.ini" next to the executable, reached
// only through these four routines. Nothing is cached: every read goes to the
// file and every write goes to it at once.
#include <filesystem>
#include <string>
#include <string_view>

namespace app {

class AppConfig {
 public:
  static constexpr const char* kFileName = "setting.ini";
  // What a first start writes: the language section alone.
  static constexpr std::string_view kDefaultContent = "[Setting]\r\nLanguage=English\r\n";
  static constexpr size_t kDefaultBufferChars = 260;

  explicit AppConfig(std::filesystem::path ini_path);
  // The directory of the running executable, with a trailing separator.
  static std::filesystem::path ApplicationDirectory();
  // ApplicationDirectory() / "setting.ini".
  static AppConfig ForApplication();

  const std::filesystem::path& Path() const { return path_; }

  int ReadInt(std::string_view section, std::string_view key, int default_value) const;
  std::string ReadString(std::string_view section, std::string_view key, std::string_view default_value,
                         size_t buffer_chars = kDefaultBufferChars) const;
  bool WriteInt(std::string_view section, std::string_view key, int value) const;
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) const;

  // Writes the built-in default when the file does not exist. False when it is
  // missing and cannot be created (the caller tells the user; every key then
  // reads as its default).
  bool EnsureExists() const;

 private:
  std::filesystem::path path_;
};

}  // namespace app

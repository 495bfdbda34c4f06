#pragma once
// The display language: the language files in "Language/" of the program's
// home folder (UTF-16LE INI files with a byte-order mark, a [Setting] section
// naming the language and a [String] section of texts), which one is in use,
// and text lookup. The four built-in files are written when no file matches
// the configured language. Nothing here knows a widget.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppConfig.h"
#include "platform/MessageBoxHook.h"

namespace app {

class LanguageResources {
 public:
  // Shown once for every file that cannot be written into the home folder.
  static constexpr const char* kNoPermission =
      "The installation directory does not have permission to create files. Please reinstall and change the "
      "installation directory";
  static constexpr const char* kNotFound = "Not found";
  static constexpr size_t kMaxValueChars = 1000;

  struct LanguageFile {
    std::filesystem::path path;
    std::string name;  // its [Setting] Language
  };

  LanguageResources(std::filesystem::path home, const AppConfig& config, platform::MessageBoxHook* messages);

  // Chooses the language named `name` (the configured one when empty): the
  // first file listed whose language matches, else the built-in files are
  // written and English is used. The name chosen is written to setting.ini.
  void Select(std::string name = {});

  // Every "*.ini" of the language folder with a non-empty language name, in
  // the order the folder lists them; names are cut to `max_chars` - 1.
  std::vector<LanguageFile> List(size_t max_chars = kMaxValueChars + 1) const;

  // [String] `key` of the file in use with "\n" turned into line breaks;
  // "Not found" when missing.
  std::string Text(std::string_view key) const;
  // As Text, but empty when missing: a caption that is not there changes nothing.
  std::string Caption(std::string_view key) const;
  // The language name the file in use carries ("Not found" when none).
  std::string NameInFile() const;

  const std::string& current_name() const { return current_name_; }
  void set_current_name(std::string name) { current_name_ = std::move(name); }
  const std::filesystem::path& file() const { return file_; }
  std::filesystem::path folder() const { return home_ / "Language"; }

  // Writes the four built-in files into the language folder; false when any
  // could not be written (each failure was shown).
  bool WriteBuiltinFiles() const;

 private:
  std::string Lookup(std::string_view section, std::string_view key, std::string_view fallback) const;

  std::filesystem::path home_;
  const AppConfig& config_;
  platform::MessageBoxHook* messages_;
  std::filesystem::path file_;
  std::string current_name_ = "English";
};

// The two characters backslash and 'n' stand for a line break in the files.
std::string ExpandLineBreaks(std::string_view text);
// A language file's bytes: UTF-16LE with a byte-order mark, CR LF line ends.
std::string EncodeLanguageFile(std::string_view language_name, const std::vector<std::pair<std::string_view, std::string_view>>& strings);

}  // namespace app

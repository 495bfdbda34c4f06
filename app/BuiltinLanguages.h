#pragma once
// The four language files the program carries inside itself. When no file in
// the Language folder names the configured language, these are written out
// (English first) and the English one is taken. Each table is the [String]
// section of its file in file order; the [Setting] section holds only
// Language=<language_name>.
#include <span>
#include <string_view>

namespace app {

// One key of the [String] section. Values are UTF-8; the two characters
// backslash and "n" stand for a line break, as in the files themselves.
struct LanguageText {
  std::string_view key;
  std::string_view value;
};

struct BuiltinLanguage {
  std::string_view file_name;      // "language_eng.ini", "language_ch.ini", "language_jp.ini", "language_ru.ini"
  std::string_view language_name;  // "English", "Chinese", "Japanese", "Русский"
  std::span<const LanguageText> strings;  // the [String] section in file order
};

// The four files written when no language file matches, in that order.
std::span<const BuiltinLanguage> BuiltinLanguages();

}  // namespace app

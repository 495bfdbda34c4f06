#include "app/LanguageResources.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "app/BuiltinLanguages.h"
#include "platform/PrivateProfile.h"
#include "platform/TextEncoding.h"

namespace app {
namespace {

bool HasIniExtension(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == ".ini";
}

// Written beside the target and renamed over it: a failed write never leaves
// a half-written language file.
bool WriteWhole(const std::filesystem::path& path, const std::string& bytes) {
  const std::filesystem::path temp = path.string() + ".part";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = done == bytes.size() && ::fsync(fd) == 0;
  ::close(fd);
  std::error_code ec;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace

std::string ExpandLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out.push_back('\n');
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string EncodeLanguageFile(std::string_view language_name,
                               const std::vector<std::pair<std::string_view, std::string_view>>& strings) {
  std::string text = "[Setting]\r\nLanguage=";
  text += language_name;
  text += "\r\n[String]\r\n";
  for (const auto& [key, value] : strings) {
    text += key;
    text += '=';
    text += value;
    text += "\r\n";
  }
  const std::u16string wide = platform::Utf8ToUtf16(text);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + wide.size() * 2);
  for (const char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

LanguageResources::LanguageResources(std::filesystem::path home, const AppConfig& config,
                                     platform::MessageBoxHook* messages)
    : home_(std::move(home)), config_(config), messages_(messages) {}

std::vector<LanguageResources::LanguageFile> LanguageResources::List(size_t max_chars) const {
  std::vector<LanguageFile> files;
  std::error_code ec;
  // directory_iterator lists in the order the file system returns.
  for (std::filesystem::directory_iterator it(folder(), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) || !HasIniExtension(it->path())) continue;
    std::string name = platform::GetPrivateProfileString("Setting", "Language", "", it->path(), max_chars);
    if (!name.empty()) files.push_back({it->path(), std::move(name)});
  }
  return files;
}

void LanguageResources::Select(std::string name) {
  if (name.empty()) name = config_.ReadString("Setting", "Language", "English", kMaxValueChars + 1);
  bool found = false;
  for (const LanguageFile& f : List()) {
    if (f.name == name) {
      file_ = f.path;
      found = true;
      break;
    }
  }
  if (!found) {
    WriteBuiltinFiles();
    file_ = folder() / std::string(BuiltinLanguages().front().file_name);
    name = std::string(BuiltinLanguages().front().language_name);
  }
  current_name_ = name;
  config_.WriteString("Setting", "Language", name);
}

bool LanguageResources::WriteBuiltinFiles() const {
  std::error_code ec;
  std::filesystem::create_directories(folder(), ec);
  bool all = true;
  for (const BuiltinLanguage& language : BuiltinLanguages()) {
    std::vector<std::pair<std::string_view, std::string_view>> strings;
    strings.reserve(language.strings.size());
    for (const LanguageText& t : language.strings) strings.emplace_back(t.key, t.value);
    if (!WriteWhole(folder() / std::string(language.file_name), EncodeLanguageFile(language.language_name, strings))) {
      platform::MessageBoxHook::Show(messages_, kNoPermission);
      all = false;
    }
  }
  return all;
}

std::string LanguageResources::Lookup(std::string_view section, std::string_view key,
                                      std::string_view fallback) const {
  if (file_.empty()) return std::string(fallback);
  return ExpandLineBreaks(platform::GetPrivateProfileString(section, key, fallback, file_, kMaxValueChars + 1));
}

std::string LanguageResources::Text(std::string_view key) const { return Lookup("String", key, kNotFound); }
std::string LanguageResources::Caption(std::string_view key) const { return Lookup("String", key, ""); }
std::string LanguageResources::NameInFile() const { return Lookup("Setting", "Language", kNotFound); }

}  // namespace app

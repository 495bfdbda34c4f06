#include "platform/PrivateProfile.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/TextEncoding.h"

namespace platform {
namespace {

enum class FileEncoding { Plain, Utf8Bom, Utf16LeBom };

// The file as lines of UTF-8 text, plus what is needed to write it back as it was.
struct IniText {
  FileEncoding encoding = FileEncoding::Plain;
  std::string newline = "\r\n";
  std::vector<std::string> lines;
  bool exists = false;
};

std::string_view Trim(std::string_view s) {
  const char* ws = " \t\r\n\v\f";
  const size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

IniText Load(const std::filesystem::path& file) {
  IniText ini;
  std::ifstream in(file, std::ios::binary);
  if (!in) return ini;
  ini.exists = true;
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string text;
  if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFF && static_cast<uint8_t>(raw[1]) == 0xFE) {
    ini.encoding = FileEncoding::Utf16LeBom;
    std::u16string wide;
    wide.reserve(raw.size() / 2);
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
      wide += static_cast<char16_t>(static_cast<uint8_t>(raw[i]) | (static_cast<uint8_t>(raw[i + 1]) << 8));
    text = Utf16ToUtf8(wide);
  } else if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    ini.encoding = FileEncoding::Utf8Bom;
    text = raw.substr(3);
  } else {
    text = std::move(raw);
  }
  const size_t first_lf = text.find('\n');
  ini.newline = (first_lf == std::string::npos || (first_lf > 0 && text[first_lf - 1] == '\r')) ? "\r\n" : "\n";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ini.lines.push_back(std::move(line));
    start = end + 1;
  }
  return ini;
}

// "[name]" (leading blanks allowed; text after ']' ignored) -> name.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  return Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

bool IsComment(std::string_view line) {
  line = Trim(line);
  return !line.empty() && line.front() == ';';
}

std::string_view KeyOf(std::string_view line) { return Trim(line.substr(0, line.find('='))); }

// Line range [begin, end) of the section's body, header at begin - 1.
struct SectionRange {
  size_t header;
  size_t end;
};

std::optional<SectionRange> FindSection(const IniText& ini, std::string_view section) {
  for (size_t i = 0; i < ini.lines.size(); ++i) {
    auto name = SectionName(ini.lines[i]);
    if (!name || !EqualsNoCase(*name, section)) continue;
    size_t end = i + 1;
    while (end < ini.lines.size() && !SectionName(ini.lines[end])) ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const IniText& ini, const SectionRange& range, std::string_view key) {
  for (size_t i = range.header + 1; i < range.end; ++i) {
    const std::string_view line = ini.lines[i];
    if (Trim(line).empty() || IsComment(line)) continue;
    if (EqualsNoCase(KeyOf(line), key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> LookUp(std::string_view section, std::string_view key,
                                  const std::filesystem::path& file) {
  const IniText ini = Load(file);
  const auto range = FindSection(ini, section);
  if (!range) return std::nullopt;
  const auto at = FindKey(ini, *range, Trim(key));
  if (!at) return std::nullopt;
  const std::string_view line = ini.lines[*at];
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::string();
  std::string_view value = Trim(line.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

bool HasLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

bool Save(const IniText& ini, const std::filesystem::path& file) {
  std::string text;
  for (const auto& line : ini.lines) {
    text += line;
    text += ini.newline;
  }
  std::string bytes;
  if (ini.encoding == FileEncoding::Utf16LeBom) {
    const std::u16string wide = Utf8ToUtf16(text);
    bytes.reserve(2 + wide.size() * 2);
    bytes += "\xFF\xFE";
    for (char16_t c : wide) {
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>(c >> 8);
    }
  } else {
    if (ini.encoding == FileEncoding::Utf8Bom) bytes = "\xEF\xBB\xBF";
    bytes += text;
  }

  std::filesystem::path tmp = file;
  tmp += ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (out) {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.flush();
      if (out) {
        out.close();
        std::error_code ec;
        std::filesystem::rename(tmp, file, ec);
        if (!ec) return true;
      }
    }
  }
  std::error_code ignored;
  std::filesystem::remove(tmp, ignored);
  return false;
}

}  // namespace

int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         const std::filesystem::path& file) {
  const auto value = LookUp(section, key, file);
  if (!value || value->empty()) return default_value;
  std::string_view s = Trim(*value);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() >= 2 && s[0] == '0') {
    const char p = static_cast<char>(std::tolower(static_cast<unsigned char>(s[1])));
    if (p == 'x') base = 16;
    if (p == 'o') base = 8;
    if (p == 'b') base = 2;
    if (base != 10) s.remove_prefix(2);
  }
  uint32_t result = 0;  // wraps like the 32-bit conversion it stands in for
  for (char c : s) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0 || digit >= base) break;
    result = result * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
  }
  if (negative) result = 0u - result;
  return static_cast<int>(result);
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value,
                                    const std::filesystem::path& file, size_t buffer_size) {
  std::string value = LookUp(section, key, file).value_or(std::string(default_value));
  if (buffer_size > 0 && value.size() > buffer_size - 1) {
    size_t cut = buffer_size - 1;
    while (cut > 0 && (static_cast<uint8_t>(value[cut]) & 0xC0) == 0x80) --cut;  // keep sequences whole
    value.resize(cut);
  }
  return value;
}

bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value,
                               const std::filesystem::path& file) {
  section = Trim(section);
  if (section.empty() || HasLineBreakOrNul(section) || section.find(']') != std::string_view::npos)
    return false;
  if (key) {
    key = Trim(*key);
    if (key->empty() || HasLineBreakOrNul(*key) || key->find('=') != std::string_view::npos) return false;
  }
  if (value && HasLineBreakOrNul(*value)) return false;

  IniText ini = Load(file);
  const auto range = FindSection(ini, section);

  if (!key) {  // delete the section
    if (!range) return true;
    ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(range->header),
                    ini.lines.begin() + static_cast<std::ptrdiff_t>(range->end));
    return Save(ini, file);
  }

  if (!range) {
    if (!value) return true;
    if (!ini.lines.empty() && !Trim(ini.lines.back()).empty()) ini.lines.emplace_back();
    std::string header(1, '[');  // built piecewise: GCC 12 warns falsely on "[" + string
    header.append(section).push_back(']');
    ini.lines.push_back(std::move(header));
    ini.lines.push_back(std::string(*key) + "=" + std::string(*value));
    return Save(ini, file);
  }

  if (const auto at = FindKey(ini, *range, *key)) {
    const auto pos = ini.lines.begin() + static_cast<std::ptrdiff_t>(*at);
    if (!value) {
      ini.lines.erase(pos);
    } else {
      // Keep the key as the file spells it.
      *pos = std::string(KeyOf(*pos)) + "=" + std::string(*value);
    }
    return Save(ini, file);
  }
  if (!value) return true;
  size_t insert_at = range->end;
  while (insert_at > range->header + 1 && Trim(ini.lines[insert_at - 1]).empty()) --insert_at;
  ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(insert_at),
                   std::string(*key) + "=" + std::string(*value));
  return Save(ini, file);
}

bool WritePrivateProfileInt(std::string_view section, std::string_view key, int value,
                            const std::filesystem::path& file) {
  return WritePrivateProfileString(section, key, std::to_string(value), file);
}

}  // namespace platform

#pragma once
// Private-profile (INI) files with the semantics programs written for Windows
// expect: sections and keys match without regard to ASCII case, values are
// trimmed and lose one pair of enclosing quotes, reads fall back to a default,
// writes go to the file at once, and nothing is cached. Files may be UTF-8/ANSI
// (with or without a byte-order mark) or UTF-16LE with a byte-order mark; a
// write keeps the file's encoding and line endings. Text in the API is UTF-8.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The value's leading integer (decimal, or 0x/0o/0b prefixed; optional sign;
// leading blanks), 0 when it has none, `default_value` when the key is absent
// or its value is empty.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         const std::filesystem::path& file);

// The value, or `default_value` when the section or key is absent. With a
// buffer size N (> 0) the result is cut to at most N - 1 bytes without
// splitting a UTF-8 sequence, as a caller's fixed buffer would.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value,
                                    const std::filesystem::path& file, size_t buffer_size = 0);

// Writes key=value into the section, creating the file and section as needed.
// A null value deletes the key; a null key deletes the whole section. The file
// is replaced atomically (written beside it, then renamed), so a failed write
// never leaves a half-written file. Values or names containing a line break or
// a NUL are refused (they would inject lines). Returns false on failure.
bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value,
                               const std::filesystem::path& file);
bool WritePrivateProfileInt(std::string_view section, std::string_view key, int value,
                            const std::filesystem::path& file);

}  // namespace platform

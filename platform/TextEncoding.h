#pragma once
// Text encodings: the "system code page" here is UTF-8; wide text is UTF-16.
// Text read from recordings (plates, vehicle text) is UTF-8 when it is valid
// UTF-8, else GB18030, the recorders' other encoding.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

bool IsValidUtf8(std::string_view bytes);
// The code point of the UTF-8 sequence at bytes[i], or nothing when the bytes
// there are not one (overlong, surrogate, cut short); advances i past what it
// read (at least one byte).
std::optional<char32_t> NextUtf8(std::string_view bytes, size_t& i);
void AppendUtf8(std::string& out, char32_t cp);
// Invalid input becomes U+FFFD; never fails.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Conversions through iconv; nullopt when the input is not valid in `from` or
// iconv does not know the encoding.
std::optional<std::string> ConvertEncoding(std::string_view bytes, const char* from, const char* to);
std::optional<std::string> Gb18030ToUtf8(std::string_view bytes);
std::optional<std::string> Utf8ToGb18030(std::string_view utf8);

// Recording text to UTF-8: as it is when valid UTF-8, else from GB18030, else
// with U+FFFD for every byte that is neither.
std::string RecordTextToUtf8(std::string_view bytes);

}  // namespace platform

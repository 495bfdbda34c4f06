#include "map/ScriptCalls.h"

#include <charconv>
#include <cstdint>

namespace map::script {
namespace {

void AppendEscape(std::string& out, uint32_t unit) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

// The next code point of `text` from `i` (advanced), or U+FFFD for a byte
// that does not start a valid sequence.
uint32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || i + static_cast<size_t>(length) > text.size()) {
    ++i;
    return 0xFFFD;
  }
  uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    const uint8_t b = byte(i + static_cast<size_t>(k));
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  i += static_cast<size_t>(length);
  if (cp < kMin[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;  // overlong, surrogate
  return cp;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string StringLiteral(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const uint32_t cp = NextCodePoint(text, i);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': case '>': case '&': case 0x2028: case 0x2029: AppendEscape(out, cp); break;
      default:
        if (cp < 0x20 || cp == 0x7F) AppendEscape(out, cp);
        else AppendUtf8(out, cp);
    }
  }
  return out + "\"";
}

std::string Number(double value) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
  return r.ec == std::errc() ? std::string(text, r.ptr) : std::string("0.000000");
}

std::string DrawTrackLine(std::string_view text, double latitude, double longitude) {
  return "DrawTrackLine(" + StringLiteral(text) + ", " + Number(latitude) + ", " + Number(longitude) + ")";
}

std::string MoveCar(std::string_view text, double latitude, double longitude, double course) {
  return "MoveCar(" + StringLiteral(text) + ", " + Number(latitude) + ", " + Number(longitude) + ", " +
         Number(course) + ")";
}

std::string FlyTo(double latitude, double longitude) {
  return "flyto(" + Number(latitude) + ", " + Number(longitude) + ")";
}

std::string CreateGpsBackLine(std::string_view text, std::string_view points) {
  return "CreateGpsBackLine(" + StringLiteral(text) + ", " + StringLiteral(points) + ")";
}

std::string SetPlayBackIndex(int index) { return "SetPlayBackIndex(" + std::to_string(index) + ", 1)"; }
std::string ClearAllTrackLine() { return "clearAllTrackLine()"; }
std::string OnlyClearLine() { return "OnlyClearLine()"; }

}  // namespace map::script

#include "map/ScriptCalls.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "platform/TextEncoding.h"

namespace map::script {
namespace {

void AppendEscape(std::string& out, uint32_t unit) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

std::string StringLiteral(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const uint32_t cp = platform::NextUtf8(text, i).value_or(0xFFFD);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': case '>': case '&': case 0x2028: case 0x2029: AppendEscape(out, cp); break;
      default:
        if (cp < 0x20 || cp == 0x7F) AppendEscape(out, cp);
        else platform::AppendUtf8(out, cp);
    }
  }
  return out + "\"";
}

std::string Number(double value) {
  if (!std::isfinite(value)) value = 0;  // never "nan" or "inf" in a script
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

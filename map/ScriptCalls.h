#pragma once
// The calls the map view makes into its page, as script text. Text from a
// recording (the vehicle text) goes in only as a JSON string literal, so that
// a quote, a backslash, "</script>" or a line break in a plate can neither
// break the call nor run as script. Numbers are written with '.' whatever the
// locale, six decimals.
#include <string>
#include <string_view>

namespace map::script {

// A JSON string literal of UTF-8 text (quotes included); '<', '>', '&', U+2028
// and U+2029 escaped too, and invalid UTF-8 replaced by U+FFFD.
std::string StringLiteral(std::string_view utf8);
// "%.6f" in the C locale.
std::string Number(double value);

std::string DrawTrackLine(std::string_view text, double latitude, double longitude);
std::string MoveCar(std::string_view text, double latitude, double longitude, double course);
std::string FlyTo(double latitude, double longitude);
std::string CreateGpsBackLine(std::string_view text, std::string_view points);
std::string SetPlayBackIndex(int index);
std::string ClearAllTrackLine();
std::string OnlyClearLine();

}  // namespace map::script

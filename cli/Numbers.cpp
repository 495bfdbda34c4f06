#include "cli/Numbers.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

namespace cli {

bool ParseInt(std::string_view text, int& out) {
  if (text.empty()) return false;
  const std::string s(text);
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(s.c_str(), &end, 10);
  if (!end || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  out = static_cast<int>(value);
  return true;
}

bool ParseDouble(std::string_view text, double& out) {
  if (text.empty()) return false;
  const std::string s(text);
  char* end = nullptr;
  const double value = std::strtod(s.c_str(), &end);
  if (!end || *end != '\0' || !std::isfinite(value)) return false;
  out = value;
  return true;
}

bool NextInt(const Args& args, size_t& i, int& out) { return i + 1 < args.size() && ParseInt(args[++i], out); }

bool NextDouble(const Args& args, size_t& i, double& out) {
  return i + 1 < args.size() && ParseDouble(args[++i], out);
}

}  // namespace cli

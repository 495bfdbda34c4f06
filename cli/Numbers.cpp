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

bool ParseRate(std::string_view text, int64_t& out) {
  int64_t scale = 1;
  if (text.ends_with('k') || text.ends_with('K')) scale = 1000;
  if (text.ends_with('m') || text.ends_with('M')) scale = 1000000;
  if (scale != 1) text.remove_suffix(1);
  // Digits with at most one point, in decimal arithmetic ("2.3M" is exactly
  // 2300000): no sign, exponent, blanks or "inf".
  int64_t digits = 0, divisor = 1;
  int count = 0;
  bool point = false;
  for (const char ch : text) {
    if (ch == '.' && !point) {
      point = true;
    } else if (ch >= '0' && ch <= '9' && ++count <= 12) {
      digits = digits * 10 + (ch - '0');
      if (point) divisor *= 10;
    } else {
      return false;
    }
  }
  if (count == 0 || (digits * scale) % divisor != 0 || digits * scale / divisor < 1) return false;
  out = digits * scale / divisor;
  return true;
}

bool NextInt(const Args& args, size_t& i, int& out) { return i + 1 < args.size() && ParseInt(args[++i], out); }

bool NextDouble(const Args& args, size_t& i, double& out) {
  return i + 1 < args.size() && ParseDouble(args[++i], out);
}

bool NextRate(const Args& args, size_t& i, int64_t& out) { return i + 1 < args.size() && ParseRate(args[++i], out); }

}  // namespace cli

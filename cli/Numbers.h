#pragma once
// Numbers on dravik-tool's command line: the whole argument must be the
// number, in range (no silent wrap of "4294967297" to 1, no "nan").
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cli/Commands.h"

namespace cli {

bool ParseInt(std::string_view text, int& out);
bool ParseDouble(std::string_view text, double& out);
// A rate in units a second: plain ("2000000"), or with a k or M suffix for
// thousands or millions ("4000k", "2M", "1.5M"); positive and whole once scaled.
bool ParseRate(std::string_view text, int64_t& out);

// The argument after option `i` as a number, advancing `i`; false when it is
// missing or not a number.
bool NextInt(const Args& args, size_t& i, int& out);
bool NextDouble(const Args& args, size_t& i, double& out);
bool NextRate(const Args& args, size_t& i, int64_t& out);

}  // namespace cli

#pragma once
// Numbers on dravik-tool's command line: the whole argument must be the
// number, in range (no silent wrap of "4294967297" to 1, no "nan").
#include <cstddef>
#include <string_view>

#include "cli/Commands.h"

namespace cli {

bool ParseInt(std::string_view text, int& out);
bool ParseDouble(std::string_view text, double& out);

// The argument after option `i` as a number, advancing `i`; false when it is
// missing or not a number.
bool NextInt(const Args& args, size_t& i, int& out);
bool NextDouble(const Args& args, size_t& i, double& out);

}  // namespace cli

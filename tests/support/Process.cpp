#include "tests/support/Process.h"

#include <sys/wait.h>

#include <cstdio>

namespace testing_support {

int RunShell(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = pclose(pipe);
  if (out) *out = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string MakeSampleQvv(const std::string& tool, const std::string& dir, int channels, int seconds) {
  std::string out;
  if (RunShell(tool + " mksample '" + dir + "' --channels " + std::to_string(channels) + " --seconds " +
                   std::to_string(seconds) + " --groups 1 --width 160 --height 96 --audio none",
               &out) != 0)
    return {};
  return out.substr(0, out.find('\n'));
}

}  // namespace testing_support

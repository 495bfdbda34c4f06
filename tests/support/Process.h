#pragma once
// Runs peer tools (ffmpeg, ffprobe, nm, dravik-tool) from tests.
#include <string>

namespace testing_support {

// Runs `command` through the shell; returns its exit status (-1 if it did not
// exit normally) and, when asked, its standard output.
int RunShell(const std::string& command, std::string* out = nullptr);

}  // namespace testing_support

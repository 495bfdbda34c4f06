#pragma once
// Runs peer tools (ffmpeg, ffprobe, nm, dravik-tool) from tests.
#include <string>

namespace testing_support {

// Runs `command` through the shell; returns its exit status (-1 if it did not
// exit normally) and, when asked, its standard output.
int RunShell(const std::string& command, std::string* out = nullptr);

// Small sample recording(s) of real H.264 (160 x 96, one group, no audio)
// made by `tool mksample` in `dir`; the first file's path, or empty when the
// tool failed.
std::string MakeSampleQvv(const std::string& tool, const std::string& dir, int channels, int seconds);

}  // namespace testing_support

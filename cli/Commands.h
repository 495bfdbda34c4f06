#pragma once
// dravik-tool subcommands. Each takes the arguments after its name and returns
// the process exit code (0 success, 1 bad input or failure, 2 usage error).
#include <string_view>
#include <vector>

namespace cli {

using Args = std::vector<std::string_view>;

int RunVoice(const Args& args);
int RunConfig(const Args& args);
int RunPackets(const Args& args);
int RunProbe(const Args& args);
int RunRecords(const Args& args);
int RunName(const Args& args);
int RunClip(const Args& args);
int RunMkSample(const Args& args);
int RunPlay(const Args& args);
int RunSnapshot(const Args& args);
int RunGps(const Args& args);
int RunBackup(const Args& args);

}  // namespace cli

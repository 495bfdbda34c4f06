// dravik-tool config: reads and writes private-profile files the way the player
// does, so support staff can inspect or fix a setting.ini by hand.
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "platform/PrivateProfile.h"

namespace cli {

int RunConfig(const Args& args) {
  if (args.size() == 4 && args[0] == "get") {
    const std::string file(args[1]);
    const std::string value = platform::GetPrivateProfileString(args[2], args[3], "", file);
    std::printf("%s\n", value.c_str());
    return 0;
  }
  if (args.size() == 5 && args[0] == "set") {
    const std::string file(args[1]);
    if (!platform::WritePrivateProfileString(args[2], args[3], args[4], file)) {
      std::fprintf(stderr, "dravik-tool config: cannot write %s\n", file.c_str());
      return 1;
    }
    return 0;
  }
  std::fprintf(stderr, "usage: dravik-tool config get FILE SECTION KEY | set FILE SECTION KEY VALUE\n");
  return 2;
}

}  // namespace cli

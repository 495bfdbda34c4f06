// dravik-tool: the command-line companion of the Dravik player. Inspects,
// converts and checks recordings without a GUI, and drives each layer for tests.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "QVVReader/Diagnostics.h"
#include "cli/Commands.h"

namespace {

struct Command {
  const char* name;
  const char* usage;
  int (*run)(const cli::Args&);
};

constexpr Command kCommands[] = {
    {"packets", "packets FILE [--reverse] [--seek SECONDS]     list a recording's streams and packets",
     cli::RunPackets},
    {"probe", "probe FILE                                    a recording's start, duration and streams (JSON)",
     cli::RunProbe},
    {"records", "records FILE                                  GPS, G-sensor and overlay records, one a line",
     cli::RunRecords},
    {"gps", "gps FILE... --format gpx|kml|csv [--datum wgs84|gcj02|bd09] [--out PATH]  the GPS track",
     cli::RunGps},
    {"name", "name NAME                                     what a recording's file name says (JSON)", cli::RunName},
    {"mksample", "mksample DIR [--format F] [--channels N] [--seconds S] [--groups G] ...  write sample recordings",
     cli::RunMkSample},
    {"play", "play FILE.qvv [--speed N] [--reverse] [--channels N] [--audio-channel C [--wav OUT]]  play through the engine, report sync",
     cli::RunPlay},
    {"snapshot", "snapshot FILE --channel C --at S [--overlay] [--pane WxH [--rotate N] [--fit]] --out X  save a picture",
     cli::RunSnapshot},
    {"clip", "clip IN --from S --to S [--stream N ...] OUT.avi  copy a time range into an AVI clip", cli::RunClip},
    {"voice", "voice encode|decode --type T [--samples N]   s16le PCM <-> voice frames (stdin -> stdout)",
     cli::RunVoice},
    {"config", "config get|set FILE SECTION KEY [VALUE]     read or write a setting.ini-style file",
     cli::RunConfig},
    {"backup", "backup --from FOLDER [--types T] [--since TIME] [--until TIME] [--plate P] --to DEST  copy recordings",
     cli::RunBackup},
};

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: dravik-tool <command> [arguments]\n"
               "\n"
               "Commands:\n");
  for (const auto& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
  std::fprintf(out, "\n  --help, -h   this text\n");
}

}  // namespace

int main(int argc, char** argv) {
  // Results go to stdout; the reader's diagnostics must not mix with them.
  qvv::SetDiagnosticStream(stderr);
  if (argc < 2) {
    PrintHelp(stderr);
    return 2;
  }
  const std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return 0;
  }
  for (const auto& c : kCommands) {
    if (name == c.name) {
      cli::Args args(argv + 2, argv + argc);
      return c.run(args);
    }
  }
  std::fprintf(stderr, "dravik-tool: unknown command '%s' (see dravik-tool --help)\n", argv[1]);
  return 2;
}

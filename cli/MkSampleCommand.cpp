// dravik-tool mksample DIR [--format qvv|avi|flv|mp4] [--channels N] [--seconds S]
//   [--groups G] [--width W --height H] [--fps F] [--audio voice|adpcm|aac|none] [--long-names]
//   [--content plain|textured] [--bitrate B] [--sync-marks] [--start "YYYY-MM-DD HH:MM:SS"]
// Writes realistic recordings (real H.264, audio, GPS, G-sensor and overlay
// records) named as the recorder names them. Plain pictures are quick to make
// and to decode; textured ones at a bit rate cost a decoder what a vehicle
// camera's footage costs, for measuring playback.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "cli/Commands.h"
#include "cli/Numbers.h"
#include "cli/sample/SampleGenerator.h"

namespace cli {

int RunMkSample(const Args& args) {
  sample::SampleOptions o;
  auto usage = [] {
    std::fprintf(stderr,
                 "usage: dravik-tool mksample DIR [--format qvv|avi|flv|mp4] [--channels N] [--seconds S] [--groups G]\n"
                 "                            [--width W --height H] [--fps F] [--audio voice|adpcm|aac|none] [--long-names]\n"
                 "                            [--content plain|textured] [--bitrate B] [--sync-marks]\n"
                 "                            [--start \"YYYY-MM-DD HH:MM:SS\"]\n"
                 "  --content textured  a noisy textured scene panning past (default plain: flat gradients)\n"
                 "  --bitrate B         video bits a second, e.g. 2M, 4000k, 1500000: H.264 Main profile with\n"
                 "                      CABAC held at that rate; textured content defaults to 2M at 720p25,\n"
                 "                      in proportion to pixels a second; plain content without it: constant quality\n"
                 "  --sync-marks        at every whole second a white picture and a 40 ms 1 kHz beep in every\n"
                 "                      channel, for holding a player's sound against its pictures\n"
                 "  --start T           the first recording's start (default 2024-03-15 08:00:00); the\n"
                 "                      names carry it, the pictures' clocks show it\n");
    return 2;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    auto value = [&](int& out) { return NextInt(args, i, out); };
    if (args[i] == "--format" && i + 1 < args.size()) {
      o.format = std::string(args[++i]);
    } else if (args[i] == "--audio" && i + 1 < args.size()) {
      o.audio = std::string(args[++i]);
    } else if (args[i] == "--content" && i + 1 < args.size()) {
      o.content = std::string(args[++i]);
    } else if (args[i] == "--bitrate" && NextRate(args, i, o.bit_rate)) {
    } else if (args[i] == "--long-names") {
      o.long_names = true;
    } else if (args[i] == "--sync-marks") {
      o.sync_marks = true;
    } else if (args[i] == "--start" && i + 1 < args.size()) {
      std::tm tm{};
      char rest = 0;
      const std::string text(args[++i]);
      if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                      &tm.tm_min, &tm.tm_sec, &rest) != 6 || tm.tm_year < 1970 || tm.tm_year > 2099)
        return usage();
      tm.tm_year -= 1900;
      tm.tm_mon -= 1;
      o.start_utc = timegm(&tm);
    } else if ((args[i] == "--channels" && value(o.channels)) || (args[i] == "--seconds" && value(o.seconds)) ||
               (args[i] == "--groups" && value(o.groups)) || (args[i] == "--width" && value(o.width)) ||
               (args[i] == "--height" && value(o.height)) || (args[i] == "--fps" && value(o.fps))) {
    } else if (o.dir.empty() && !args[i].starts_with("--")) {
      o.dir = std::string(args[i]);
    } else {
      return usage();
    }
  }
  if (o.dir.empty() || (o.format != "qvv" && o.format != "avi" && o.format != "flv" && o.format != "mp4") ||
      (o.content != "plain" && o.content != "textured"))
    return usage();
  std::vector<std::string> written;
  std::string error;
  if (!sample::GenerateSamples(o, written, error)) {
    std::fprintf(stderr, "dravik-tool mksample: %s\n", error.c_str());
    return 1;
  }
  for (const auto& path : written) std::printf("%s\n", path.c_str());
  return 0;
}

}  // namespace cli

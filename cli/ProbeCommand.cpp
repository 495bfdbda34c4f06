// dravik-tool probe FILE: what the file list needs to know of a recording, as JSON.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Recording.h"

namespace cli {

int RunProbe(const Args& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: dravik-tool probe FILE\n");
    return 2;
  }
  const std::string path(args[0]);
  OpenedRecording rec;
  if (!OpenRecording(path, false, rec)) return 1;
  const qvv::AVFormatContext& ctx = rec.demuxer->context();
  uint32_t channel_mask = 0;
  std::string streams;
  for (int i = 0; i < ctx.nb_streams; ++i) {
    const qvv::AVStream& st = *ctx.streams[static_cast<size_t>(i)];
    if (st.kind == qvv::kKindVideo && st.stream_number >= 0 && st.stream_number < 32)
      channel_mask |= 1u << st.stream_number;
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s\n    {\"number\": %d, \"kind\": \"%s\", \"codec\": %d, \"width\": %d, \"height\": %d, "
                  "\"frame_rate\": %d, \"bit_rate\": %d, \"sample_rate\": %d, \"channels\": %d, "
                  "\"bits_per_sample\": %d}",
                  i ? "," : "", st.stream_number, KindName(st.kind), st.codec_id, st.width, st.height,
                  st.frame_rate, st.bit_rate, st.sample_rate, st.channels, st.bits_per_sample);
    streams += line;
  }
  std::printf("{\n  \"format\": \"%s\",\n  \"start_time\": %" PRId64 ",\n", rec.format.c_str(), ctx.start_time);
  if (ctx.duration == qvv::kNoPtsValue) {
    std::printf("  \"duration_us\": null,\n");
  } else {
    std::printf("  \"duration_us\": %" PRId64 ",\n", ctx.duration);
  }
  std::printf("  \"file_size\": %" PRId64 ",\n  \"bus_number\": %s,\n  \"channel_mask\": %u,\n", ctx.file_size,
              JsonString(ctx.bus_number).c_str(), channel_mask);
  std::printf("  \"streams\": [%s\n  ]\n}\n", streams.c_str());
  return 0;
}

}  // namespace cli

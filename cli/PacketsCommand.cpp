// dravik-tool packets FILE [--reverse] [--seek SECONDS]
// Lists the streams ("# stream ...") and then every packet in the order the
// reader delivers them: stream kind pts key size crc32.
#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "cli/Commands.h"
#include "cli/Numbers.h"
#include "cli/Recording.h"

namespace cli {
namespace {

void PrintStream(const qvv::AVStream& st) {
  std::printf("# stream %d %s codec=%d tb=%d/%d width=%d height=%d\n", st.stream_number, KindName(st.kind),
              st.codec_id, st.time_base.num, st.time_base.den, st.width, st.height);
}

int Usage() {
  std::fprintf(stderr, "usage: dravik-tool packets FILE [--reverse] [--seek SECONDS]\n");
  return 2;
}

}  // namespace

int RunPackets(const Args& args) {
  std::string path;
  bool reverse = false;
  double seek_seconds = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--reverse") {
      reverse = true;
    } else if (args[i] == "--seek") {
      if (!NextDouble(args, i, seek_seconds) || seek_seconds < 0) return Usage();
    } else if (path.empty() && !args[i].starts_with("--")) {
      path = args[i];
    } else {
      return Usage();
    }
  }
  if (path.empty() || (reverse && seek_seconds >= 0)) return Usage();

  OpenedRecording rec;
  if (!OpenRecording(path, reverse, rec)) return 1;
  qvv::Demuxer& demuxer = *rec.demuxer;
  if (seek_seconds >= 0 && !demuxer.Seek(static_cast<int64_t>(seek_seconds * 1e6))) {
    std::fprintf(stderr, "dravik-tool: %s: no video key frame at or before %.3f s\n", path.c_str(), seek_seconds);
    return 1;
  }

  std::set<int32_t> described;
  auto describe_new_streams = [&] {
    const auto& ctx = demuxer.context();
    for (int i = 0; i < ctx.nb_streams; ++i) {
      const auto& st = *ctx.streams[static_cast<size_t>(i)];
      if (described.insert(st.stream_number).second) PrintStream(st);
    }
  };
  describe_new_streams();

  qvv::ReaderPacket packet;
  for (;;) {
    const int r = reverse ? demuxer.ReadPacketReverse(packet) : demuxer.ReadPacket(packet);
    if (IsEndOfReading(demuxer, r)) break;
    if (r < 0) {
      std::fprintf(stderr, "dravik-tool: %s: damaged recording: a packet could not be read (error %d)\n",
                   path.c_str(), r);
      return 1;
    }
    describe_new_streams();
    const qvv::AVStream* st = demuxer.context().FindStream(packet.stream_index);
    const unsigned long crc = crc32(0L, packet.data.get(), static_cast<uInt>(packet.size));
    std::printf("%d %s %" PRId64 " %d %d %08lx\n", packet.stream_index, KindName(st ? st->kind : 0), packet.pts,
                (packet.flags & qvv::kPacketFlagKey) ? 1 : 0, packet.size, crc);
  }
  ReportDamage(path, demuxer.damage());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace cli

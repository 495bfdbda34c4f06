// libFuzzer target: the MP4 reader (libavformat's parsing behind it, the
// stream table, the Annex B filters, seek, refused reverse play), opened
// over memory like the other containers.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "QVVReader/ByteIO.h"
#include "QVVReader/Mp4Demuxer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  // A track header may ask for tables of billions of entries in a few bytes;
  // libavformat then allocates gigabytes before it notices. That is a
  // libavformat finding, not the reader's: keep such requests small here.
  av_max_alloc(4 << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  ++data;
  --size;
  const char* name = "20240102030405_NM_0060000_0000000001_0001_0002_03_00000004_ID_01.mp4";
  qvv::ByteIOContext* pb = qvv::url_open_memory(data, size);
  qvv::Mp4Demuxer mp4;
  if (mp4.OpenReverse(pb, name) != qvv::Mp4Demuxer::kErrNoBackward) __builtin_trap();
  if (mp4.Open(pb, name) == 0) {
    const auto& ctx = mp4.context();
    for (int i = 0; i < ctx.nb_streams; ++i) {
      const auto& st = *ctx.streams[static_cast<size_t>(i)];
      // Every time computation divides by the time base.
      if (st.time_base.num <= 0 || st.time_base.den <= 0) __builtin_trap();
    }
    if (control & 1) mp4.Seek(static_cast<int64_t>(control >> 1) * 100000);
    qvv::ReaderPacket packet;
    // libavformat may describe many samples over the same bytes: the number
    // of packets is bounded here, not by the input's size.
    for (int n = 0; n < 20000; ++n) {
      const int r = mp4.ReadPacket(packet);
      if (r < 0) break;
      if (r != packet.size) __builtin_trap();
      if (packet.size > 0 && packet.data[static_cast<size_t>(packet.size)] != 0) __builtin_trap();  // padding
      if (!ctx.FindStream(packet.stream_index)) __builtin_trap();
      if (n == 100 && (control & 2)) mp4.Seek(0);
    }
    if (mp4.ReadPacketReverse(packet) != qvv::Mp4Demuxer::kErrNoBackward) __builtin_trap();
  }
  qvv::url_fclose(pb);
  return 0;
}

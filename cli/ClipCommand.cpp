// dravik-tool clip IN --from S --to S [--stream N ...] OUT.avi
// Copies a time range of a recording's video (and audio where AVI can carry it)
// into an AVI clip, starting at the video key frame at or before S.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "QVVReader/AviDemuxer.h"
#include "QVVReader/AviWriter.h"
#include "QVVReader/FourCC.h"
#include "QVVReader/FlvDemuxer.h"
#include "cli/Commands.h"
#include "cli/Numbers.h"
#include "cli/Recording.h"

namespace cli {
namespace {

int Usage() {
  std::fprintf(stderr, "usage: dravik-tool clip IN --from SECONDS --to SECONDS [--stream N ...] OUT.avi\n");
  return 2;
}

// H.264 in FLV is length-prefixed with its parameter sets in the sequence
// header; AVI carries Annex B start codes, parameter sets before key frames.
class AvccToAnnexB {
 public:
  bool Configure(const std::vector<uint8_t>& avcc) {
    if (avcc.size() < 7 || avcc[0] != 1) return false;
    length_size_ = (avcc[4] & 3) + 1;
    size_t at = 5;
    for (int list = 0; list < 2; ++list) {
      if (at >= avcc.size()) return false;
      const int count = list == 0 ? (avcc[at] & 0x1F) : avcc[at];
      ++at;
      for (int i = 0; i < count; ++i) {
        if (at + 2 > avcc.size()) return false;
        const size_t n = (static_cast<size_t>(avcc[at]) << 8) | avcc[at + 1];
        at += 2;
        if (at + n > avcc.size()) return false;
        parameter_sets_.insert(parameter_sets_.end(), {0, 0, 0, 1});
        parameter_sets_.insert(parameter_sets_.end(), avcc.begin() + static_cast<std::ptrdiff_t>(at),
                               avcc.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
      }
    }
    return true;
  }
  std::vector<uint8_t> Convert(const uint8_t* data, size_t size, bool key) const {
    std::vector<uint8_t> out;
    if (key) out = parameter_sets_;
    size_t at = 0;
    while (at + static_cast<size_t>(length_size_) <= size) {
      size_t n = 0;
      for (int i = 0; i < length_size_; ++i) n = (n << 8) | data[at + static_cast<size_t>(i)];
      at += static_cast<size_t>(length_size_);
      if (n > size - at) break;
      out.insert(out.end(), {0, 0, 0, 1});
      out.insert(out.end(), data + at, data + at + n);
      at += n;
    }
    return out;
  }

 private:
  int length_size_ = 4;
  std::vector<uint8_t> parameter_sets_;
};

// What AVI can carry of an audio stream: its format chunk and time base.
std::optional<qvv::AviClipStream> AudioFor(const OpenedRecording& rec, int position) {
  const qvv::AVStream& st = *rec.demuxer->context().streams[static_cast<size_t>(position)];
  qvv::AviClipStream out;
  out.kind = 1;
  if (rec.format == "avi") {
    const auto& info = static_cast<const qvv::AviDemuxer&>(*rec.demuxer).stream_info(position);
    if (info.format.empty()) return std::nullopt;
    out.format = info.format;
    out.time_base = st.time_base;
    out.sample_size = info.sample_size;
    out.bit_rate = st.bit_rate;
    return out;
  }
  if (rec.format == "flv" && st.codec_id == qvv::codec_id::kAac && st.sample_rate > 0) {
    const auto& asc = static_cast<const qvv::FlvDemuxer&>(*rec.demuxer).extradata(1);
    std::vector<uint8_t> wave = {0xFF, 0x00};  // WAVE_FORMAT_AAC
    auto u16 = [&](uint32_t v) { wave.push_back(static_cast<uint8_t>(v)); wave.push_back(static_cast<uint8_t>(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    u16(static_cast<uint32_t>(std::max(1, st.channels)));
    u32(static_cast<uint32_t>(st.sample_rate));
    u32(static_cast<uint32_t>(std::max(0, st.bit_rate / 8)));
    u16(1024);
    u16(16);
    u16(static_cast<uint32_t>(asc.size()));
    wave.insert(wave.end(), asc.begin(), asc.end());
    out.format = std::move(wave);
    out.time_base = {1024, st.sample_rate};  // one AAC frame a tick
    return out;
  }
  return std::nullopt;  // the recorder's voice, Flash ADPCM, ...: not storable in AVI
}

}  // namespace

int RunClip(const Args& args) {
  std::string in, out;
  double from = -1, to = -1;
  std::vector<int> wanted;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--from") {
      if (!NextDouble(args, i, from)) return Usage();
    } else if (args[i] == "--to") {
      if (!NextDouble(args, i, to)) return Usage();
    } else if (args[i] == "--stream") {
      int n;
      if (!NextInt(args, i, n)) return Usage();
      wanted.push_back(n);
    } else if (in.empty()) {
      in = args[i];
    } else if (out.empty()) {
      out = args[i];
    } else {
      return Usage();
    }
  }
  if (in.empty() || out.empty() || from < 0 || to <= from) return Usage();

  OpenedRecording rec;
  if (!OpenRecording(in, false, rec)) return 1;
  const qvv::AVFormatContext& ctx = rec.demuxer->context();
  int video = -1, audio = -1;
  for (int i = 0; i < ctx.nb_streams; ++i) {
    const auto& st = *ctx.streams[static_cast<size_t>(i)];
    const bool chosen = wanted.empty() || std::find(wanted.begin(), wanted.end(), st.stream_number) != wanted.end();
    if (!chosen) continue;
    if (st.kind == qvv::kKindVideo && video < 0) video = i;
    if (st.kind == qvv::kKindAudio && audio < 0) audio = i;
  }
  if (video < 0) {
    std::fprintf(stderr, "dravik-tool: %s: no video stream to copy\n", in.c_str());
    return 1;
  }
  const qvv::AVStream& vst = *ctx.streams[static_cast<size_t>(video)];

  // Start on the key frame at or before the start.
  bool positioned;
  const int64_t from_us = static_cast<int64_t>(std::llround(from * 1e6));
  const int64_t to_us = static_cast<int64_t>(std::llround(to * 1e6));
  const int32_t video_number = ctx.streams[static_cast<size_t>(video)]->stream_number;
  auto seek = [&](int64_t target) {
    if (rec.format == "avi") return static_cast<qvv::AviDemuxer&>(*rec.demuxer).SeekKeyAtOrBefore(target);
    return rec.demuxer->Seek(target);
  };
  // The first key frame of this channel after a seek, in microseconds (-1: none).
  auto first_key_after_seek = [&](int64_t target) -> int64_t {
    if (!seek(target)) return -1;
    qvv::ReaderPacket p;
    while (rec.demuxer->ReadPacket(p) >= 0) {
      if (p.stream_index != video_number || !(p.flags & qvv::kPacketFlagKey)) continue;
      const int64_t ts = p.dts != qvv::kNoPtsValue ? p.dts : p.pts;
      return qvv::av_rescale_q(ts, ctx.streams[static_cast<size_t>(video)]->time_base, {1, 1000000});
    }
    return -1;
  };
  // A multi-channel seek lands on the earliest key frame of any channel in
  // that second; when this channel's own key frame comes later, step back a
  // second at a time until it is at or before the start.
  int64_t target = from_us;
  for (int back = 0; back < 10 && target > 0; ++back, target = std::max<int64_t>(0, target - 1000000)) {
    const int64_t key = first_key_after_seek(target);
    if (key >= 0 && key <= from_us) break;
  }
  positioned = seek(target);
  if (!positioned) {
    std::fprintf(stderr, "dravik-tool: %s: no video key frame at or before %.3f s\n", in.c_str(), from);
    return 1;
  }

  // Streams of the clip.
  std::vector<qvv::AviClipStream> streams;
  qvv::AviClipStream v;
  v.kind = 0;
  v.width = vst.width;
  v.height = vst.height;
  const bool hevc = vst.codec_id == qvv::codec_id::kHevc;
  v.codec_tag = qvv::FourCC(hevc ? "HEVC" : "H264");
  AvccToAnnexB annexb;
  const bool convert = rec.format == "flv" && annexb.Configure(static_cast<qvv::FlvDemuxer&>(*rec.demuxer).extradata(0));
  int fps = vst.frame_rate > 0 ? vst.frame_rate : 25;
  if (rec.format == "avi") {
    const auto& info = static_cast<qvv::AviDemuxer&>(*rec.demuxer).stream_info(video);
    v.time_base = vst.time_base;
    v.codec_tag = info.codec_tag;
    v.format = info.format;
  } else {
    v.time_base = {1, fps};
    v.format = qvv::AviWriter::BitmapInfoHeader(v.width, v.height, v.codec_tag);
  }
  v.bit_rate = vst.bit_rate;
  streams.push_back(v);
  std::optional<qvv::AviClipStream> a;
  if (audio >= 0) {
    a = AudioFor(rec, audio);
    if (a) {
      streams.push_back(*a);
    } else {
      std::fprintf(stderr, "dravik-tool: note: audio of %s is not copied (its codec cannot be stored in AVI)\n", in.c_str());
    }
  }

  const std::filesystem::path out_path(out);
  const std::filesystem::path partial = out_path.string() + ".part";
  qvv::AviWriter writer;
  uint32_t cipher = rec.format == "avi" ? static_cast<qvv::AviDemuxer&>(*rec.demuxer).cipher_marker() : 0;
  if (writer.Begin(partial.string(), streams, cipher) < 0) {
    std::fprintf(stderr, "dravik-tool: %s: cannot write the clip\n", out.c_str());
    return 1;
  }
  qvv::ReaderPacket packet;
  std::optional<int64_t> first_video_us, first_audio_ts;
  int64_t written = 0;
  int status = 0;
  for (;;) {
    const int r = rec.demuxer->ReadPacket(packet);
    if (IsEndOfReading(*rec.demuxer, r)) break;
    if (r < 0) {
      status = r;
      break;
    }
    const int position = [&] {
      for (int i = 0; i < ctx.nb_streams; ++i) {
        if (ctx.streams[static_cast<size_t>(i)]->stream_number == packet.stream_index) return i;
      }
      return -1;
    }();
    const qvv::AVStream* st = position >= 0 ? ctx.streams[static_cast<size_t>(position)].get() : nullptr;
    if (!st) continue;
    const int64_t ts = packet.dts != qvv::kNoPtsValue ? packet.dts : packet.pts;
    const int64_t us = qvv::av_rescale_q(ts, st->time_base, {1, 1000000});
    if (position == video) {
      if (us > to_us) break;
      const bool key = packet.flags & qvv::kPacketFlagKey;
      // A clip starts with a key frame of its own channel: in a QVV file the
      // seek lands on a key frame of any channel.
      if (!first_video_us && !key) continue;
      if (!first_video_us) first_video_us = us;
      int64_t dts;
      if (rec.format == "avi") {
        dts = ts - qvv::av_rescale_q(*first_video_us, {1, 1000000}, st->time_base);
      } else {
        dts = static_cast<int64_t>(std::llround(static_cast<double>(us - *first_video_us) * fps / 1e6));
      }
      int wr;
      if (convert) {
        const auto nal = annexb.Convert(packet.data.get(), static_cast<size_t>(packet.size), key);
        wr = writer.WritePacket(0, dts, key, nal.data(), nal.size());
      } else {
        wr = writer.WritePacket(0, dts, key, packet.data.get(), static_cast<size_t>(packet.size));
      }
      if (wr < 0) {
        status = wr;
        break;
      }
      ++written;
    } else if (position == audio && a && first_video_us && us >= *first_video_us && us <= to_us) {
      int64_t dts = 0;
      if (rec.format == "flv") {
        dts = static_cast<int64_t>(std::llround(static_cast<double>(us - *first_video_us) * st->sample_rate / 1024.0 / 1e6));
        if (!first_audio_ts) first_audio_ts = dts;
      }
      if (writer.WritePacket(1, dts, true, packet.data.get(), static_cast<size_t>(packet.size)) < 0) {
        status = -1;
        break;
      }
    }
  }
  ReportDamage(in, rec.demuxer->damage());
  const int finished = writer.Finish();
  std::error_code ec;
  if (status < 0 || finished < 0 || written == 0) {
    std::filesystem::remove(partial, ec);  // never leave half a clip that looks like a recording
    std::fprintf(stderr, "dravik-tool: %s: %s\n", out.c_str(),
                 written == 0 ? "no video in the range" : "the clip could not be written completely");
    return 1;
  }
  std::filesystem::rename(partial, out_path, ec);
  if (ec) {
    std::filesystem::remove(partial, ec);
    std::fprintf(stderr, "dravik-tool: %s: cannot write the clip\n", out.c_str());
    return 1;
  }
  std::printf("%s: %" PRId64 " video frames from %.3f s\n", out.c_str(), written,
              static_cast<double>(*first_video_us) / 1e6);
  return 0;
}

}  // namespace cli

#include "cli/sample/SampleGenerator.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
}

#include "QVVReader/AviWriter.h"
#include "QVVReader/FlvWriter.h"
#include "QVVReader/FourCC.h"
#include "QVVReader/QvvWriter.h"
#include "cli/sample/Encoders.h"
#include "cli/sample/SampleRecords.h"
#include "voice/voxcore.h"

namespace sample {
namespace {

constexpr int kVoiceRate = 8000;
constexpr int kVoiceFrame = 161;  // samples in one voice frame (type 35)

const char* kTypeDigits[4] = {"1000", "0100", "0010", "0001"};  // manual, timing, motion, alarm
const char* kTypeCodes[4] = {"NM", "TI", "MO", "GS"};

int64_t GroupStart(const SampleOptions& o, int group) { return o.start_utc + static_cast<int64_t>(group) * o.seconds; }

std::string ClockText(int64_t utc, int64_t frame, int fps) {
  const std::time_t t = static_cast<std::time_t>(utc + frame / fps);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>((frame % fps) * 100 / fps));
  return text;
}

// Seconds whose start carries a sync mark's beep.
int MarkedSeconds(const SampleOptions& o) { return o.sync_marks ? o.seconds : 0; }

bool UseLongNames(const SampleOptions& o) {
  // MP4 names are long only; one count byte of a short-named QVV file holds 7 video streams.
  return o.long_names || o.format == "mp4" || (o.format == "qvv" && o.channels > 7);
}

std::string DefaultAudio(const std::string& format) {
  if (format == "qvv") return "voice";
  if (format == "avi") return "adpcm";
  return "aac";
}

struct Channel {
  H264Encoder video;
  YuvPicture picture;
  std::optional<TexturedScene> scene;  // textured content only
};

bool OpenVideo(const SampleOptions& o, Channel& ch, int channel, bool global_header, std::string& error) {
  ch.picture.width = o.width;
  ch.picture.height = o.height;
  ch.picture.pixels.resize(static_cast<size_t>(o.width * o.height * 3 / 2));
  if (o.content == "textured") ch.scene.emplace(channel, o.width, o.height);
  return ch.video.Open(o.width, o.height, o.fps, global_header, o.bit_rate, error);
}

EncodedPacket NextPicture(const SampleOptions& o, Channel& ch, int channel, int64_t frame, int64_t start_utc) {
  const std::string clock = ClockText(start_utc, frame, o.fps);
  if (ch.scene) {
    ch.scene->Render(ch.picture, frame, o.fps, clock);
  } else {
    RenderFrame(ch.picture, channel, frame, o.fps, clock);
  }
  if (o.sync_marks && IsSyncMarkFrame(frame, o.fps)) PaintSyncMark(ch.picture);
  auto packets = ch.video.Encode(ch.picture, frame);
  return packets.empty() ? EncodedPacket{} : std::move(packets.front());  // zero latency: one in, one out
}

// ---------------------------------------------------------------- QVV

bool WriteQvvGroup(const SampleOptions& o, int group, const std::string& path, std::string& error) {
  const int n = o.channels;
  const bool audio = o.audio != "none";
  qvv::QvvFileConfig config;
  config.long_header = UseLongNames(o);
  config.video = n;
  config.audio = audio ? n : 0;
  config.data = 1;
  config.start_time = GroupStart(o, group);
  config.bus_number = "BUS-0001";
  for (int c = 0; c < n; ++c) config.streams.push_back({0, 28, o.width, o.height, o.fps, 512, 0, 0, 0});
  for (int c = 0; audio && c < n; ++c) config.streams.push_back({1, 0x11000, 0, 0, 0, 0, kVoiceRate, 16, 1});
  config.streams.push_back({2, 0, 0, 0, 0, 0, 0, 0, 0});
  qvv::QvvWriter writer;
  if (writer.Open(path, config) < 0) {
    error = "cannot write " + path;
    return false;
  }
  // Every channel's pictures are encoded first, channels in parallel (the
  // compressed stream is small), then interleaved with audio and records.
  std::vector<std::vector<EncodedPacket>> pictures(static_cast<size_t>(n));
  std::vector<std::string> errors(static_cast<size_t>(n));
  std::atomic<int> next_channel{0};
  auto encode = [&] {
    for (int c = next_channel++; c < n; c = next_channel++) {
      Channel ch;
      if (!OpenVideo(o, ch, c, false, errors[static_cast<size_t>(c)])) continue;
      for (int64_t f = 0; f < static_cast<int64_t>(o.seconds) * o.fps; ++f)
        pictures[static_cast<size_t>(c)].push_back(NextPicture(o, ch, c, f, GroupStart(o, group)));
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < std::clamp(std::thread::hardware_concurrency(), 1u, 8u); ++t) pool.emplace_back(encode);
  encode();
  for (auto& t : pool) t.join();
  for (const auto& e : errors) {
    if (!e.empty()) {
      error = e;
      return false;
    }
  }
  std::vector<std::vector<uint8_t>> voice(static_cast<size_t>(n), std::vector<uint8_t>(ZN_VOICE_STATE_SIZE));
  for (auto& state : voice) ZN_VOICE_EncReset(state.data(), 35);
  std::vector<int64_t> voice_samples(static_cast<size_t>(n), 0);
  const auto records = SensorRecords(DriveFor(group, o.groups, GroupStart(o, group), o.seconds));
  size_t next_record = 0;
  const uint32_t data_stream = static_cast<uint32_t>(audio ? 2 * n : n);

  for (int64_t f = 0; f < static_cast<int64_t>(o.seconds) * o.fps; ++f) {
    const int64_t t_us = f * 1000000 / o.fps;
    for (int c = 0; audio && c < n; ++c) {
      auto& done = voice_samples[static_cast<size_t>(c)];
      while (done * 1000000 / kVoiceRate <= t_us) {
        int16_t pcm[kVoiceFrame];
        ChannelSound(c, MarkedSeconds(o), done, kVoiceFrame, kVoiceRate, pcm);
        uint8_t frame[ZN_VOICE_MAX_FRAME_BYTES];
        ZN_VOICE_EncodeFrame(voice[static_cast<size_t>(c)].data(), pcm, frame, kVoiceFrame);
        writer.WriteAudio(static_cast<uint32_t>(n + c), static_cast<uint32_t>(done * 1000000 / kVoiceRate), 0x02, frame,
                          4 + 2 * static_cast<size_t>(frame[2]));
        done += kVoiceFrame;
      }
    }
    for (; next_record < records.size() && records[next_record].us <= t_us; ++next_record) {
      const auto& r = records[next_record];
      writer.WriteRecord(data_stream, static_cast<uint32_t>(r.us), r.amf0.data(), r.amf0.size());
    }
    for (int c = 0; c < n; ++c) {
      const auto& p = pictures[static_cast<size_t>(c)][static_cast<size_t>(f)];
      writer.WriteVideo(static_cast<uint32_t>(c), static_cast<uint32_t>(p.pts * 1000000 / o.fps), p.key, p.data.data(),
                        p.data.size());
    }
  }
  if (writer.Finish(static_cast<int64_t>(o.seconds) * 1000) < 0) {
    error = "cannot finish " + path;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- AVI

std::vector<uint8_t> WaveFormat(uint16_t tag, int rate, int avg_bytes, int block_align, int bits,
                                const std::vector<uint8_t>& extra) {
  std::vector<uint8_t> v;
  auto u16 = [&](uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  };
  u16(tag);
  u16(1);
  u16(static_cast<uint32_t>(rate) & 0xFFFF);
  u16(static_cast<uint32_t>(rate) >> 16);
  u16(static_cast<uint32_t>(avg_bytes) & 0xFFFF);
  u16(static_cast<uint32_t>(avg_bytes) >> 16);
  u16(static_cast<uint32_t>(block_align));
  u16(static_cast<uint32_t>(bits));
  u16(static_cast<uint32_t>(extra.size()));
  v.insert(v.end(), extra.begin(), extra.end());
  return v;
}

bool WriteAviChannel(const SampleOptions& o, int group, int channel, const std::string& path, std::string& error) {
  const bool audio = o.audio != "none";
  Channel ch;
  if (!OpenVideo(o, ch, channel, false, error)) return false;
  AudioEncoder adpcm;
  if (audio && !adpcm.Open("adpcm_ms", kVoiceRate, error)) return false;
  qvv::AviClipStream v;
  v.kind = 0;
  v.codec_tag = qvv::FourCC("H264");
  v.time_base = {1, o.fps};
  v.width = o.width;
  v.height = o.height;
  v.format = qvv::AviWriter::BitmapInfoHeader(o.width, o.height, v.codec_tag);
  std::vector<qvv::AviClipStream> streams = {v};
  if (audio) {
    qvv::AviClipStream a;
    a.kind = 1;
    const int block_align = adpcm.context()->block_align;
    const int avg = block_align * kVoiceRate / adpcm.frame_size();
    a.time_base = {block_align, avg};
    a.sample_size = block_align;
    a.bit_rate = avg * 8;
    a.format = WaveFormat(0x0002, kVoiceRate, avg, block_align, 4, adpcm.extradata());
    streams.push_back(a);
  }
  qvv::AviClipStream d;
  d.kind = 2;
  d.time_base = {1, 50};  // 20 ms ticks: records land on distinct ticks
  streams.push_back(d);
  const int data_stream = audio ? 2 : 1;

  auto records = SensorRecords(DriveFor(group, o.groups, GroupStart(o, group), o.seconds));
  auto overlay = OverlayRecords(channel, o.seconds, o.width, o.height, o.fps);
  records.insert(records.end(), overlay.begin(), overlay.end());
  std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.us < b.us; });

  qvv::AviWriter writer;
  if (writer.Begin(path, streams, 0, {{"Title", std::filesystem::path(path).filename().string()}}) < 0) {
    error = "cannot write " + path;
    return false;
  }
  size_t next_record = 0;
  int64_t samples = 0;
  for (int64_t f = 0; f < static_cast<int64_t>(o.seconds) * o.fps; ++f) {
    const int64_t t_us = f * 1000000 / o.fps;
    while (audio && samples * 1000000 / kVoiceRate <= t_us) {
      std::vector<int16_t> pcm(static_cast<size_t>(adpcm.frame_size()));
      ChannelSound(channel, MarkedSeconds(o), samples, adpcm.frame_size(), kVoiceRate, pcm.data());
      for (const auto& p : adpcm.Encode(pcm.data(), samples)) writer.WritePacket(1, 0, true, p.data.data(), p.data.size());
      samples += adpcm.frame_size();
    }
    for (; next_record < records.size() && records[next_record].us <= t_us; ++next_record) {
      const auto& r = records[next_record];
      writer.WritePacket(data_stream, r.us / 20000, true, r.amf0.data(), r.amf0.size());
    }
    const auto p = NextPicture(o, ch, channel, f, GroupStart(o, group));
    writer.WritePacket(0, p.pts, p.key, p.data.data(), p.data.size());
  }
  if (writer.Finish() < 0) {
    error = "cannot finish " + path;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- FLV

bool WriteFlvChannel(const SampleOptions& o, int group, int channel, const std::string& path, std::string& error) {
  const bool audio = o.audio != "none";
  const bool aac = o.audio == "aac";
  Channel ch;
  if (!OpenVideo(o, ch, channel, true, error)) return false;
  const int rate = aac ? kVoiceRate : 22050;  // Flash ADPCM knows 11, 22 and 44 kHz only
  AudioEncoder encoder;
  if (audio && !encoder.Open(aac ? "aac" : "adpcm_swf", rate, error)) return false;
  qvv::FlvConfig config;
  config.width = o.width;
  config.height = o.height;
  config.frame_rate = o.fps;
  config.audio = audio;
  config.audio_format = aac ? 10 : 1;
  config.sample_rate = rate;
  config.duration_seconds = o.seconds;
  qvv::FlvWriter writer;
  if (writer.Open(path, config) < 0) {
    error = "cannot write " + path;
    return false;
  }
  const auto extradata = ch.video.extradata();
  writer.WriteVideoSequenceHeader(qvv::FlvWriter::AvccFromAnnexB(extradata.data(), extradata.size()));
  if (aac) writer.WriteAacSequenceHeader(encoder.extradata());
  const auto records = SensorRecords(DriveFor(group, o.groups, GroupStart(o, group), o.seconds));
  size_t next_record = 0;
  int64_t samples = 0, audio_packets = 0;
  // With sync marks the encoder is fed its delay ahead, so that packets still go
  // into the file in time order with the pictures.
  const int64_t lead = audio && o.sync_marks ? encoder.context()->initial_padding : 0;
  for (int64_t f = 0; f < static_cast<int64_t>(o.seconds) * o.fps; ++f) {
    const int64_t t_us = f * 1000000 / o.fps;
    while (audio && (samples - lead) * 1000000 / rate <= t_us) {
      std::vector<int16_t> pcm(static_cast<size_t>(encoder.frame_size()));
      ChannelSound(channel, MarkedSeconds(o), samples, encoder.frame_size(), rate, pcm.data());
      for (const auto& p : encoder.Encode(pcm.data(), samples)) {
        // Packet times follow the packets, not the encoder's priming delay...
        auto ms = static_cast<uint32_t>(audio_packets++ * encoder.frame_size() * 1000 / rate);
        if (o.sync_marks) {
          // ...except where a beep must sound with its white picture: there a
          // packet carries the time of the samples it decodes to, and AAC's
          // priming packet (samples before the first) is left out.
          if (p.pts < 0) continue;
          ms = static_cast<uint32_t>(p.pts * 1000 / rate);
        }
        writer.WriteAudio(ms, p.data.data(), p.data.size());
      }
      samples += encoder.frame_size();
    }
    for (; next_record < records.size() && records[next_record].us <= t_us; ++next_record) {
      const auto& r = records[next_record];
      writer.WriteRecord(static_cast<uint32_t>(r.us / 1000), r.amf0.data(), r.amf0.size());
    }
    const auto p = NextPicture(o, ch, channel, f, GroupStart(o, group));
    const auto nal = qvv::FlvWriter::AnnexBToLengthPrefixed(p.data.data(), p.data.size());
    writer.WriteVideo(static_cast<uint32_t>(p.pts * 1000 / o.fps), 0, p.key, nal.data(), nal.size());
  }
  if (writer.Finish() < 0) {
    error = "cannot finish " + path;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- MP4

bool WriteMp4Channel(const SampleOptions& o, int group, int channel, const std::string& path, std::string& error) {
  const bool audio = o.audio != "none";
  Channel ch;
  if (!OpenVideo(o, ch, channel, true, error)) return false;
  AudioEncoder aac;
  if (audio && !aac.Open("aac", kVoiceRate, error)) return false;
  AVFormatContext* oc = nullptr;
  if (avformat_alloc_output_context2(&oc, nullptr, "mp4", path.c_str()) < 0 || !oc) {
    error = "libavformat cannot write MP4";
    return false;
  }
  oc->flags |= AVFMT_FLAG_BITEXACT;  // no version strings or dates: the same bytes every time
  AVStream* vs = avformat_new_stream(oc, nullptr);
  avcodec_parameters_from_context(vs->codecpar, ch.video.context());
  vs->time_base = {1, o.fps};
  AVStream* as = nullptr;
  if (audio) {
    as = avformat_new_stream(oc, nullptr);
    avcodec_parameters_from_context(as->codecpar, aac.context());
    as->time_base = {1, kVoiceRate};
  }
  bool ok = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(oc, nullptr) >= 0;
  AVPacket* pkt = av_packet_alloc();
  auto write = [&](const EncodedPacket& p, AVStream* st, AVRational from, int64_t duration) {
    av_new_packet(pkt, static_cast<int>(p.data.size()));
    std::memcpy(pkt->data, p.data.data(), p.data.size());
    pkt->pts = p.pts;
    pkt->dts = p.dts;
    pkt->duration = duration;  // without it the last frame falls outside the track
    pkt->flags = p.key ? AV_PKT_FLAG_KEY : 0;
    pkt->stream_index = st->index;
    av_packet_rescale_ts(pkt, from, st->time_base);
    if (av_interleaved_write_frame(oc, pkt) < 0) ok = false;
  };
  int64_t samples = 0;
  for (int64_t f = 0; ok && f < static_cast<int64_t>(o.seconds) * o.fps; ++f) {
    const int64_t t_us = f * 1000000 / o.fps;
    while (audio && samples * 1000000 / kVoiceRate <= t_us) {
      std::vector<int16_t> pcm(static_cast<size_t>(aac.frame_size()));
      ChannelSound(channel, MarkedSeconds(o), samples, aac.frame_size(), kVoiceRate, pcm.data());
      for (const auto& p : aac.Encode(pcm.data(), samples)) write(p, as, {1, kVoiceRate}, aac.frame_size());
      samples += aac.frame_size();
    }
    write(NextPicture(o, ch, channel, f, GroupStart(o, group)), vs, {1, o.fps}, 1);
  }
  av_packet_free(&pkt);
  if (ok && av_write_trailer(oc) < 0) ok = false;
  avio_closep(&oc->pb);
  avformat_free_context(oc);
  if (!ok) error = "cannot write " + path;
  return ok;
}

}  // namespace

std::string SampleFileName(const SampleOptions& o, int group, int channel) {
  const std::time_t t = static_cast<std::time_t>(GroupStart(o, group));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char date[64];
  std::snprintf(date, sizeof date, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  const bool qvv = o.format == "qvv";
  const int type = group % 4;
  char name[192];
  if (!UseLongNames(o)) {
    if (qvv) {
      std::snprintf(name, sizeof name, "%s_%s.qvv", date, kTypeDigits[type]);
    } else {
      std::snprintf(name, sizeof name, "%s_%s_%02d.%s", date, kTypeDigits[type], channel + 1, o.format.c_str());
    }
    return name;
  }
  // Long form: date_code_duration(ms)_n3_n4_n5_n6_n7_identifier_channel.ext,
  // the identifier padded with zeros (the parser trims them) to the long length.
  char channel_token[16];
  if (qvv) {
    std::snprintf(channel_token, sizeof channel_token, "%x", (1u << o.channels) - 1);
  } else {
    std::snprintf(channel_token, sizeof channel_token, "%02d", channel + 1);
  }
  char head[192];
  std::snprintf(head, sizeof head, "%s_%s_%07d_%010d_%04d_%04d_%02d_%08d_", date, kTypeCodes[type], o.seconds * 1000, 1,
                1, qvv ? 0 : channel + 1, 0, group);
  const std::string tail = std::string("DRAVIK") + std::to_string(group + 1) + "_" + channel_token + "." + o.format;
  const size_t target = qvv ? 113 : 112;
  const size_t used = std::strlen(head) + tail.size();
  return head + std::string(target > used ? target - used : 0, '0') + tail;
}

bool GenerateSamples(const SampleOptions& in, std::vector<std::string>& written, std::string& error) {
  av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics are not for the user
  SampleOptions o = in;
  if (o.audio.empty()) o.audio = DefaultAudio(o.format);
  const bool formats_ok = (o.format == "qvv" && (o.audio == "voice" || o.audio == "none")) ||
                          (o.format == "avi" && (o.audio == "adpcm" || o.audio == "none")) ||
                          (o.format == "flv" && (o.audio == "aac" || o.audio == "adpcm" || o.audio == "none")) ||
                          (o.format == "mp4" && (o.audio == "aac" || o.audio == "none"));
  if (!formats_ok) {
    error = "--audio " + o.audio + " cannot go into ." + o.format + " (qvv: voice; avi: adpcm; flv: aac, adpcm; mp4: aac)";
    return false;
  }
  if (o.channels < 1 || o.channels > 12 || o.seconds < 1 || o.seconds > 4000 || o.groups < 1 || o.groups > 100 ||
      o.fps < 1 || o.fps > 60 || o.width < 32 || o.height < 32 || o.width % 2 || o.height % 2 || o.width > 3840 ||
      o.height > 2160) {
    error = "options out of range (channels 1-12, seconds 1-4000, groups 1-100, fps 1-60, even sizes 32-3840 x 32-2160)";
    return false;
  }
  if (o.content != "plain" && o.content != "textured") {
    error = "--content is plain or textured";
    return false;
  }
  if (o.content == "textured" && o.bit_rate == 0) {
    o.bit_rate = std::max<int64_t>(16000, int64_t{o.width} * o.height * o.fps * kDefaultMilliBitsPerPixel / 1000);
  }
  if (o.bit_rate != 0 && (o.bit_rate < 16000 || o.bit_rate > 200000000)) {
    error = "--bitrate out of range (16k-200M)";
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(o.dir, ec);
  struct Job {
    int group, channel;
    std::string path;
    bool ok = false;
    std::string error;
  };
  std::vector<Job> jobs;
  for (int g = 0; g < o.groups; ++g) {
    const int files = o.format == "qvv" ? 1 : o.channels;
    for (int c = 0; c < files; ++c) {
      const int channel = o.format == "qvv" ? -1 : c;
      jobs.push_back({g, channel, (std::filesystem::path(o.dir) / SampleFileName(o, g, channel)).string(), false, {}});
    }
  }
  // Every file is written by one thread from start to end, so the bytes do not
  // depend on how many run at once.
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i = next++; i < jobs.size(); i = next++) {
      Job& job = jobs[i];
      if (o.format == "qvv") job.ok = WriteQvvGroup(o, job.group, job.path, job.error);
      else if (o.format == "avi") job.ok = WriteAviChannel(o, job.group, job.channel, job.path, job.error);
      else if (o.format == "flv") job.ok = WriteFlvChannel(o, job.group, job.channel, job.path, job.error);
      else job.ok = WriteMp4Channel(o, job.group, job.channel, job.path, job.error);
    }
  };
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (auto& t : pool) t.join();
  for (const Job& job : jobs) {
    if (!job.ok) {
      error = job.error;
      for (const Job& j : jobs) std::filesystem::remove(j.path, ec);  // no half-written set
      return false;
    }
    written.push_back(job.path);
  }
  return true;
}

}  // namespace sample

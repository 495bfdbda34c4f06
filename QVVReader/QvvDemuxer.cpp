#include "QVVReader/QvvDemuxer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "QVVReader/Amf0.h"
#include "QVVReader/FileName.h"

namespace qvv {
namespace {

constexpr int kTypeAudio = 8;
constexpr int kTypeVideo = 9;
constexpr int kTypeMetadata = 18;
constexpr int kTypeData = 22;
constexpr int kFrameKey = 1;
constexpr int kFrameDisposable = 3;
constexpr int kFrameInfo = 5;
constexpr int64_t kScanChunk = 65536;

bool ValidType(int type) {
  return type == kTypeAudio || type == kTypeVideo || type == kTypeMetadata || type == kTypeData;
}

int KindOfTagType(int type) {
  if (type == kTypeAudio) return kKindAudio;
  if (type == kTypeData) return kKindData;
  return kKindVideo;
}

int64_t SecondOf(uint32_t timestamp_us) { return timestamp_us / 1000000; }

// Applies the "onMetaData" arrays: array 0 holds the file's keys (and keys for
// stream 0), array k the keys of stream k - 1.
class MetadataParse : public Parse {
 public:
  MetadataParse(AVFormatContext& ctx, int array_index) : ctx_(ctx), array_index_(array_index) {}
  void Reset() override {}

  void Value(double number, std::string_view text, int type, std::string_view key) override {
    if (type == kAmf0String) {
      if (key == "busnum") {
        const size_t n = std::min(text.size(), sizeof ctx_.bus_number - 1);
        std::memcpy(ctx_.bus_number, text.data(), n);
        ctx_.bus_number[n] = '\0';
      }
      return;
    }
    if (type == kAmf0Boolean) {
      if (key == "stereo" && Stream()) Stream()->channels = number != 0 ? 2 : 1;
      return;
    }
    if (type != kAmf0Number) return;
    if (key == "filesize") {
      ctx_.file_size = Amf0ToInt64(number);
      return;
    }
    if (key == "start_time") {
      ctx_.start_time = Amf0ToInt64(number);
      return;
    }
    if (key == "duration") {
      ctx_.duration = Amf0ToInt64(number * 1000.0);  // milliseconds in the file, microseconds here
      return;
    }
    AVStream* st = Stream();
    if (!st) return;
    const int32_t v = Amf0ToInt32(number);
    if (key == "streamtype") {
      if (v >= kKindVideo && v <= kKindData) st->kind = v;
    } else if (key == "streamid") {
      st->stream_number = v;
    } else if (key == "width") {
      if (v > 0) st->width = v;
    } else if (key == "height") {
      if (v > 0) st->height = v;
    } else if (key == "framerate") {
      if (v > 0) st->frame_rate = v;
    } else if (key == "videodatarate") {
      if (number >= 0) st->bit_rate = Amf0ToInt32(number * 1024.0);
    } else if (key == "audiocodecid") {
      st->codec_id = v;
    } else if (key == "videocodecid") {
      if (v == 2) st->codec_id = codec_id::kH263;
      if (v == 7) st->codec_id = codec_id::kH264;
    } else if (key == "audiosamplesize") {
      st->bits_per_sample = v;
      if (v == 8 && (st->codec_id == codec_id::kPcmS16le || st->codec_id == codec_id::kPcmS16be))
        st->codec_id = codec_id::kPcmU8;
    } else if (key == "audiosamplerate") {
      if (st->sample_rate == 0) {
        switch (v) {
          case 5000: st->sample_rate = 5512; break;
          case 11000: st->sample_rate = 11025; break;
          case 22000: st->sample_rate = 22050; break;
          case 44000: st->sample_rate = 44100; break;
          default: st->sample_rate = v; break;
        }
      }
    }
  }

 private:
  AVStream* Stream() const {
    const int index = array_index_ == 0 ? 0 : array_index_ - 1;
    return index < ctx_.nb_streams ? ctx_.streams[static_cast<size_t>(index)].get() : nullptr;
  }
  AVFormatContext& ctx_;
  int array_index_;
};

}  // namespace

// ------------------------------------------------------------------ opening

int QvvDemuxer::Open(ByteIOContext* pb, std::string_view file_name) {
  ctx_ = AVFormatContext{};
  ctx_.pb = pb;
  pb_ = pb;
  duration_probed_ = false;
  last_tag_pos_ = -1;
  reverse_ = ReverseWindow{};

  get_be32(pb);  // signature and version, not checked
  int video = 0, audio = 0, data = 0;
  if (BaseName(file_name).size() >= kQvvLongHeaderNameLength) {
    video = get_byte(pb);
    audio = get_byte(pb);
    data = get_byte(pb);
  } else {
    int counts = get_byte(pb);
    if (counts == 0) counts = 0x91;  // 4 video, 4 audio, 1 data
    video = counts >> 5;
    audio = (counts >> 2) & 7;
    data = counts & 3;
  }
  data_offset_ = get_be32(pb);
  if (url_feof(pb)) return kErrEndOfStream;

  // Declared streams: video, then audio, then data. Video and audio keep kind 0
  // until the metadata's "streamtype" says otherwise.
  for (int i = 0; i < video + audio + data; ++i) {
    AVStream* st = av_new_stream(&ctx_, i);
    if (!st) break;  // the 49th stream: the table is full
    if (i >= video + audio) st->kind = kKindData;
  }
  ctx_.nb_video = std::min(video, ctx_.nb_streams);
  ctx_.nb_audio = std::clamp(ctx_.nb_streams - video, 0, audio);
  ctx_.nb_data = std::max(0, ctx_.nb_streams - video - audio);
  ctx_.start_time = 0;
  const int64_t r = url_fseek(pb, data_offset_, SEEK_SET);
  return r < 0 ? static_cast<int>(r) : 0;
}

int QvvDemuxer::ReadLeadingMetadata() {
  int applied = 0;
  for (;;) {
    const int64_t before = url_ftell(pb_);
    Tag tag;
    if (ReadTagHeader(tag) < 0) {
      url_fseek(pb_, before, SEEK_SET);
      return applied;
    }
    if (tag.type != kTypeMetadata) {
      url_fseek(pb_, tag.pos - 4, SEEK_SET);
      return applied;
    }
    if (tag.data_size > 18) {
      ParseMetadata(tag.data_size);
      ++applied;
    }
    url_fseek(pb_, tag.DataEnd(), SEEK_SET);
  }
}

int QvvDemuxer::OpenReverse(ByteIOContext* pb, std::string_view file_name) {
  const int r = Open(pb, file_name);
  if (r < 0) return r;
  ReadLeadingMetadata();
  reverse_.active = true;
  return 0;
}

// ------------------------------------------------------------------ tags

QvvDemuxer::Found QvvDemuxer::ScanForTag(Tag& tag, bool validate_type) {
  int previous = -1;
  for (;;) {
    const int c = url_fgetc(pb_);
    if (c < 0) return Found::EndOfFile;
    if (previous == 0x01 && c == 0xFF) {
      const int type = url_fgetc(pb_);
      if (type < 0) return Found::EndOfFile;
      if (ValidType(type) || !validate_type) {
        tag.pos = url_ftell(pb_) - 3;
        tag.type = type;
        return ValidType(type) ? Found::Tag : Found::BadType;
      }
      previous = type;
      continue;
    }
    previous = c;
  }
}

int QvvDemuxer::ReadTagHeader(Tag& tag) {
  url_fskip(pb_, 4);  // PreviousTagSize
  const int b0 = url_fgetc(pb_);
  const int b1 = url_fgetc(pb_);
  if (b0 < 0 || b1 < 0) return kErrEndOfStream;
  bool direct = false;
  if (b0 == 0x01 && b1 == 0xFF) {
    tag.pos = url_ftell(pb_) - 2;
    tag.type = url_fgetc(pb_);
    if (tag.type < 0) return kErrEndOfStream;
    // An unknown type right after a "marker" means the bytes only looked like
    // one (a PreviousTagSize ending in 01 FF): resynchronise instead of
    // skipping a size read from the wrong place.
    direct = ValidType(tag.type);
    if (!direct) url_fseek(pb_, tag.pos + 1, SEEK_SET);
  } else {
    url_fseek(pb_, -1, SEEK_CUR);
  }
  if (!direct) {
    // Damaged stretch: find the next marker that is followed by a known type.
    if (ScanForTag(tag, true) != Found::Tag) return kErrEndOfStream;
  }
  tag.data_size = get_be24(pb_);
  tag.timestamp = get_be24(pb_);
  tag.timestamp |= static_cast<uint32_t>(get_byte(pb_)) << 24;
  tag.stream = get_be24(pb_);
  tag.flags = -1;
  if (url_feof(pb_)) return kErrEndOfStream;
  last_tag_pos_ = tag.pos;
  return 0;
}

bool QvvDemuxer::ReadTagAt(int64_t marker_pos, Tag& tag) {
  if (marker_pos < 0 || url_fseek(pb_, marker_pos, SEEK_SET) < 0) return false;
  if (get_byte(pb_) != 0x01 || get_byte(pb_) != 0xFF) return false;
  tag.pos = marker_pos;
  tag.type = get_byte(pb_);
  tag.data_size = get_be24(pb_);
  tag.timestamp = get_be24(pb_);
  tag.timestamp |= static_cast<uint32_t>(get_byte(pb_)) << 24;
  tag.stream = get_be24(pb_);
  tag.flags = tag.data_size > 0 ? get_byte(pb_) : -1;
  return !url_feof(pb_) && ValidType(tag.type);
}

QvvDemuxer::Found QvvDemuxer::FindPlausibleTag(Tag& tag) {
  const int64_t file_size = url_fsize(pb_);
  for (;;) {
    const Found found = ScanForTag(tag, true);
    if (found != Found::Tag) return found;
    const int64_t resume = tag.pos + 2;
    // Payload bytes can look like a marker: a real tag lies inside the file and
    // is followed by its PreviousTagSize (data size + 15, or + 11 as in FLV).
    if (ReadTagAt(tag.pos, tag) && tag.DataEnd() <= file_size) {
      const int64_t end = tag.DataEnd();
      if (end + 4 >= file_size) return Found::Tag;
      url_fseek(pb_, end + 2, SEEK_SET);
      const uint32_t recorder_style = get_be32(pb_);
      url_fseek(pb_, end, SEEK_SET);
      const uint32_t flv_style = get_be32(pb_);
      if (recorder_style == tag.data_size + kPreviousTagSizeExtra || flv_style == tag.data_size + 11)
        return Found::Tag;
    }
    url_fseek(pb_, resume, SEEK_SET);
  }
}

bool QvvDemuxer::PreviousTag(const Tag& tag, Tag& previous) {
  const int64_t field = tag.pos - 4;  // the PreviousTagSize before this tag
  if (field < data_offset_ + 4) return false;
  if (url_fseek(pb_, field, SEEK_SET) < 0) return false;
  const int64_t distance = get_be32(pb_);
  if (!url_feof(pb_) && distance >= kTagHeaderSize && distance <= field - data_offset_) {
    if (ReadTagAt(field - distance, previous) && previous.data_size + kPreviousTagSizeExtra == distance)
      return true;
  }
  // No trustworthy PreviousTagSize: scan backwards for the nearest marker of a
  // tag that ends before this one starts.
  scan_buffer_.resize(kScanChunk + 2);
  uint8_t* chunk = scan_buffer_.data();
  int64_t end = field;
  while (end > data_offset_) {
    const int64_t begin = std::max<int64_t>(data_offset_, end - kScanChunk);
    const int64_t length = std::min<int64_t>(end - begin + 2, field - begin);
    if (length < 3 || url_fseek(pb_, begin, SEEK_SET) < 0) return false;
    const int got = get_buffer(pb_, chunk, static_cast<int>(length));
    for (int64_t i = std::min<int64_t>(got, end - begin) - 1; i >= 0; --i) {
      if (i + 2 >= got || chunk[i] != 0x01 || chunk[i + 1] != 0xFF || !ValidType(chunk[i + 2])) continue;
      Tag candidate;
      if (ReadTagAt(begin + i, candidate) && candidate.DataEnd() <= field) {
        previous = candidate;
        return true;
      }
    }
    end = begin;
  }
  return false;
}

bool QvvDemuxer::IsVideoStream(uint32_t stream_number) const {
  if (stream_number >= static_cast<uint32_t>(kMaxStreams) || reverse_.not_video[stream_number]) return false;
  const AVStream* st = ctx_.FindStream(static_cast<int32_t>(stream_number));
  return st == nullptr || st->kind == kKindVideo;
}

// ------------------------------------------------------------------ metadata

void QvvDemuxer::ParseMetadata(uint32_t data_size) {
  const size_t n = std::min<size_t>(data_size, kMaxMetadataBytes);
  metadata_.resize(n);
  const int got = get_buffer(pb_, metadata_.data(), static_cast<int>(n));
  const uint8_t* p = metadata_.data();
  size_t remaining = static_cast<size_t>(std::max(got, 0));
  if (Amf0Walk(p, remaining, std::nullopt, nullptr) < 0) return;  // "onMetaData"
  for (int k = 0; k <= ctx_.nb_streams && remaining > 0; ++k) {
    MetadataParse parse(ctx_, k);
    if (Amf0Walk(p, remaining, std::nullopt, &parse) < 0) return;  // the rest of the tag is abandoned
  }
}

void QvvDemuxer::ProbeDurationFromLastTag() {
  duration_probed_ = true;
  if (pb_->is_streamed || ctx_.duration != kNoPtsValue) return;
  const int64_t resume = url_ftell(pb_);
  const int64_t size = url_fsize(pb_);
  if (size > 4 && url_fseek(pb_, size - 4, SEEK_SET) >= 0) {
    const int64_t distance = get_be32(pb_);
    Tag last;
    // A writer that counts only the FLV tag header (data size + 11) lets the
    // last tag give the duration; the recorder's files carry it in metadata.
    if (distance > 0 && ReadTagAt(size - 4 - distance, last) && last.data_size + 11 == distance)
      ctx_.duration = last.timestamp;  // already microseconds
  }
  url_fseek(pb_, resume, SEEK_SET);
}

// ------------------------------------------------------------------ reading

int QvvDemuxer::ReadPacket(ReaderPacket& packet) {
  for (;;) {
    Tag tag;
    const int r = ReadTagHeader(tag);
    if (r < 0) return r;
    if (tag.data_size == 0) continue;
    const int64_t data_end = tag.DataEnd();
    if (tag.type == kTypeMetadata && tag.data_size > 18) {
      ParseMetadata(tag.data_size);
      url_fseek(pb_, data_end, SEEK_SET);
      continue;
    }
    if (tag.type != kTypeAudio && tag.type != kTypeVideo && tag.type != kTypeData) {
      url_fseek(pb_, data_end, SEEK_SET);
      continue;
    }
    const int flags = get_byte(pb_);
    const int frame_type = flags >> 4;
    if (tag.type == kTypeVideo && frame_type == kFrameInfo) {
      url_fseek(pb_, data_end, SEEK_SET);
      continue;
    }
    int64_t payload = static_cast<int64_t>(tag.data_size) - 1;
    int64_t cts = 0;
    if (tag.type == kTypeVideo && (flags & 0x0F) == 7) {
      // H.264 in the FLV way: packet type and composition time before the NAL units.
      if (payload < 4) {
        url_fseek(pb_, data_end, SEEK_SET);
        continue;
      }
      get_byte(pb_);
      cts = static_cast<int32_t>(get_be24(pb_) << 8) >> 8;
      payload -= 4;
    }
    if (payload <= 0) continue;

    AVStream* st = ctx_.FindStream(static_cast<int32_t>(tag.stream));
    if (!st) {
      st = av_new_stream(&ctx_, static_cast<int>(tag.stream));
      if (!st) {
        url_fseek(pb_, data_end, SEEK_SET);  // table full: skip the tag
        continue;
      }
      st->kind = KindOfTagType(tag.type);
      if (st->kind == kKindVideo) ++ctx_.nb_video;
      if (st->kind == kKindAudio) ++ctx_.nb_audio;
      if (st->kind == kKindData) ++ctx_.nb_data;
    }
    if (st->discard >= kDiscardAll ||
        (st->discard >= kDiscardNonKey && tag.type == kTypeVideo && frame_type != kFrameKey) ||
        (st->discard >= kDiscardNonReference && tag.type == kTypeVideo && frame_type == kFrameDisposable)) {
      url_fseek(pb_, data_end, SEEK_SET);
      continue;
    }
    if (!duration_probed_) ProbeDurationFromLastTag();
    if (ctx_.duration != kNoPtsValue && ctx_.duration < 1) ctx_.duration = 0;

    if (tag.type == kTypeAudio) {
      if (!st->channels || !st->sample_rate || !st->bits_per_sample) {
        st->channels = (flags & 1) ? 2 : 1;
        st->sample_rate = (44100 << ((flags >> 2) & 3)) >> 3;
        st->bits_per_sample = (flags & 2) ? 16 : 8;
      }
      if (st->codec_id == codec_id::kUnknown) {
        switch (flags >> 4) {
          case 0:
          case 3: st->codec_id = (flags & 2) ? codec_id::kPcmS16le : codec_id::kPcmU8; break;
          case 1: st->codec_id = codec_id::kFlashAdpcm; break;
          case 5: st->sample_rate = 8000; break;
          case 10: st->codec_id = codec_id::kAac; break;
          default: break;
        }
      }
    } else if (tag.type == kTypeVideo) {
      if ((flags & 0x0F) == 2) st->codec_id = codec_id::kH263;
      if ((flags & 0x0F) == 7) st->codec_id = codec_id::kH264;
    }

    if (!packet.Reserve(static_cast<int32_t>(payload))) return kErrNoMemory;
    packet.pos = url_ftell(pb_);
    const int got = get_buffer(pb_, packet.data.get(), static_cast<int>(payload));
    if (got != payload) {
      packet.Release();
      return kErrIO;
    }
    std::memset(packet.data.get() + payload, 0, ReaderPacket::kPadding);
    packet.size = static_cast<int32_t>(payload);
    packet.pts = packet.dts = static_cast<int64_t>(tag.timestamp) + cts * 1000;
    packet.dts = tag.timestamp;
    packet.stream_index = static_cast<int32_t>(tag.stream);
    packet.flags = (tag.type == kTypeAudio || frame_type == kFrameKey) ? kPacketFlagKey : 0;
    if (data_end > url_ftell(pb_)) url_fseek(pb_, data_end, SEEK_SET);
    return packet.size;
  }
}

// ------------------------------------------------------------------ seeking

bool QvvDemuxer::Seek(int64_t target_us) {
  if (target_us == 0) {
    url_fseek(pb_, 0, SEEK_SET);  // reading resynchronises on the first tag
    return true;
  }
  if (target_us < 0) return false;
  const int64_t remembered = url_ftell(pb_);
  const int64_t target_second = target_us / 1000000;
  auto fail = [&] {
    url_fseek(pb_, remembered, SEEK_SET);
    return false;
  };

  if (ctx_.duration != kNoPtsValue && ctx_.duration > target_us) {
    const int64_t file_size = ctx_.file_size >= 1 ? ctx_.file_size : url_fsize(pb_);
    const __int128 estimate =
        static_cast<__int128>(target_second) * file_size / ctx_.duration * 1000000;
    const int64_t pos = static_cast<int64_t>(std::clamp<__int128>(estimate, 0, std::max<int64_t>(file_size, 0)));
    url_fseek(pb_, pos, SEEK_SET);
  }
  url_fskip(pb_, 4);
  Tag tag;
  switch (FindPlausibleTag(tag)) {
    case Found::EndOfFile: return true;  // left where the search ended
    case Found::BadType: return fail();
    case Found::Tag: break;
  }

  if (SecondOf(tag.timestamp) < target_second) {
    int64_t last_key = -1;
    for (;;) {
      if (SecondOf(tag.timestamp) > target_second) break;
      if (tag.type == kTypeVideo && (tag.flags >> 4) == kFrameKey) last_key = tag.pos;
      if (url_fseek(pb_, tag.DataEnd(), SEEK_SET) < 0) break;
      Tag next;
      if (FindPlausibleTag(next) != Found::Tag) break;
      tag = next;
    }
    if (last_key < 0) return fail();
    url_fseek(pb_, last_key - 4, SEEK_SET);
    return true;
  }

  for (;;) {
    if (tag.type == kTypeVideo && (tag.flags >> 4) == kFrameKey && SecondOf(tag.timestamp) <= target_second) {
      url_fseek(pb_, tag.pos - 4, SEEK_SET);
      return true;
    }
    Tag previous;
    if (!PreviousTag(tag, previous)) return fail();
    tag = previous;
  }
}

// ------------------------------------------------------------------ reverse play

int QvvDemuxer::StepBack() {
  if (!reverse_.started) {
    // Begin behind the last tag: the first window is the last group of every stream.
    reverse_.started = true;
    const int64_t size = url_fsize(pb_);
    if (size <= data_offset_) return kErrEndOfStream;
    reverse_.start = size;
    reverse_.range_start.fill(INT64_MAX);
    reverse_.range_end.fill(INT64_MAX);
  }
  // The tag to walk back from: the first one of the current window.
  Tag tag;
  const int64_t old_start = reverse_.start;
  if (old_start >= url_fsize(pb_)) {
    const int64_t size = url_fsize(pb_);
    if (url_fseek(pb_, size - 4, SEEK_SET) < 0) return kErrEndOfStream;
    const int64_t distance = get_be32(pb_);
    Tag end_marker;  // a virtual tag just after the final PreviousTagSize
    end_marker.pos = size + 4;
    if (!(distance > 0 && ReadTagAt(size - 4 - distance, tag) &&
          tag.data_size + kPreviousTagSizeExtra == distance) &&
        !PreviousTag(end_marker, tag))
      return kErrEndOfStream;
  } else if (!ReadTagAt(old_start + 4, tag)) {
    return kErrEndOfStream;
  }

  std::array<int64_t, kMaxStreams> new_start;
  std::array<bool, kMaxStreams> found{};
  std::array<bool, kMaxStreams> seen{};
  new_start.fill(-1);
  int64_t window_start = -1;
  bool any = false;
  // When walking back from the end, the tag we start from belongs to the window.
  bool include_current = old_start >= url_fsize(pb_);
  for (;;) {
    if (!include_current) {
      Tag previous;
      if (!PreviousTag(tag, previous)) break;
      tag = previous;
    }
    include_current = false;
    if (tag.stream >= static_cast<uint32_t>(kMaxStreams)) continue;
    if (tag.type == kTypeAudio || tag.type == kTypeData) reverse_.not_video[tag.stream] = true;
    if (tag.type != kTypeVideo || !IsVideoStream(tag.stream)) continue;
    seen[tag.stream] = true;
    if (!found[tag.stream] && (tag.flags >> 4) == kFrameKey) {
      found[tag.stream] = true;
      new_start[tag.stream] = tag.timestamp;
      window_start = tag.pos - 4;
      any = true;
    }
    // Done when every video stream the walk has met has its key frame.
    bool complete = any;
    for (int n = 0; n < kMaxStreams && complete; ++n) complete = !seen[static_cast<size_t>(n)] || found[static_cast<size_t>(n)];
    if (complete) {
      // Streams met only later (their tags lie further back) are picked up by
      // the next step; streams never met stay untouched.
      break;
    }
  }
  if (!any) return kErrEndOfStream;
  for (int n = 0; n < kMaxStreams; ++n) {
    const auto i = static_cast<size_t>(n);
    if (found[i]) {
      reverse_.range_end[i] = reverse_.range_start[i];
      reverse_.range_start[i] = new_start[i];
    }
  }
  reverse_.end = old_start;
  reverse_.start = window_start;
  url_fseek(pb_, window_start, SEEK_SET);
  return 0;
}

int QvvDemuxer::ReadPacketReverse(ReaderPacket& packet) {
  if (!reverse_.active) return kErrInvalid;
  for (;;) {
    if (!reverse_.started || url_ftell(pb_) >= reverse_.end) {
      const int r = StepBack();
      if (r < 0) return r;
    }
    const int r = ReadPacket(packet);
    if (r == kErrEndOfStream || (r >= 0 && last_tag_pos_ - 4 >= reverse_.end)) {
      // Left the window: the next pass steps back.
      url_fseek(pb_, reverse_.end, SEEK_SET);
      continue;
    }
    if (r < 0) return r;
    const uint32_t n = static_cast<uint32_t>(packet.stream_index);
    const AVStream* st = ctx_.FindStream(packet.stream_index);
    const bool video = n < static_cast<uint32_t>(kMaxStreams) && st && st->kind == kKindVideo && IsVideoStream(n);
    if (!video) return r;  // audio and data: delivered as they come
    if (packet.dts >= reverse_.range_start[n] && packet.dts < reverse_.range_end[n]) return r;
  }
}

// ------------------------------------------------------------------ probe

int ProbeQvvFile(const std::string& path, QvvProbe& out) {
  ByteIOContext* pb = nullptr;
  int r = url_fopen(&pb, path.c_str(), kUrlReadOnly);
  if (r < 0) return r;
  QvvDemuxer demuxer;
  r = demuxer.Open(pb, path);
  if (r >= 0) {
    demuxer.ReadLeadingMetadata();
    const AVFormatContext& ctx = demuxer.context();
    out.start_time = ctx.start_time;
    out.duration = ctx.duration;
    out.bus_number = ctx.bus_number;
    for (int i = 0; i < ctx.nb_streams; ++i) {
      const AVStream& st = *ctx.streams[static_cast<size_t>(i)];
      if (st.kind == kKindVideo) {
        out.video.push_back({st.stream_number, st.width, st.height, st.bit_rate, st.frame_rate});
        if (st.stream_number >= 0 && st.stream_number < 32) out.channel_mask |= 1u << st.stream_number;
      } else if (st.kind == kKindAudio) {
        out.audio.push_back({st.stream_number, st.bit_rate});
      }
    }
  }
  url_fclose(pb);
  return r < 0 ? r : 0;
}

}  // namespace qvv

#include "QVVReader/FlvDemuxer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "QVVReader/Amf0.h"
#include "QVVReader/FlvTags.h"

namespace qvv {
namespace {

constexpr int kTypeAudio = 8, kTypeVideo = 9, kTypeData = 16, kTypeScript = 18;
constexpr int kVideoStream = 0, kAudioStream = 1, kDataStream = 2;
constexpr int kCodecH263 = 2, kCodecH264 = 7;
constexpr int kSoundAac = 10;
constexpr size_t kMaxMetadataBytes = 65536;

class FlvMetadata : public Parse {
 public:
  FlvMetadata(AVFormatContext& ctx, AVStream* video, AVStream* audio) : ctx_(ctx), video_(video), audio_(audio) {}
  void Reset() override {}
  void Value(double number, std::string_view, int type, std::string_view key) override {
    if (type == kAmf0Boolean) {
      if (key == "stereo" && audio_) audio_->channels = number != 0 ? 2 : 1;
      return;
    }
    if (type != kAmf0Number) return;
    const int32_t v = Amf0ToInt32(number);
    if (key == "duration") {
      ctx_.duration = Amf0ToInt64(number * 1000000.0);
    } else if (video_ && key == "width") {
      if (v > 0) video_->width = v;
    } else if (video_ && key == "height") {
      if (v > 0) video_->height = v;
    } else if (video_ && key == "framerate") {
      if (v > 0) video_->frame_rate = v;
    } else if (video_ && key == "videodatarate") {
      if (number >= 0) video_->bit_rate = Amf0ToInt32(number * 1024.0);
    } else if (audio_ && key == "audiodatarate") {
      if (number >= 0) audio_->bit_rate = Amf0ToInt32(number * 1024.0);
    } else if (video_ && key == "videocodecid") {
      if (v == kCodecH263) video_->codec_id = codec_id::kH263;
      if (v == kCodecH264) video_->codec_id = codec_id::kH264;
    } else if (audio_ && key == "audiocodecid") {
      if (v == kSoundAac) audio_->codec_id = codec_id::kAac;
      if (v == 1) audio_->codec_id = codec_id::kFlashAdpcm;
    } else if (audio_ && key == "audiosamplesize") {
      audio_->bits_per_sample = v;
    } else if (audio_ && key == "audiosamplerate") {
      if (audio_->sample_rate == 0) audio_->sample_rate = v;
    }
  }

 private:
  AVFormatContext& ctx_;
  AVStream* video_;
  AVStream* audio_;
};

}  // namespace

AVStream* FlvDemuxer::StreamFor(int number, int kind) {
  if (AVStream* st = ctx_.FindStream(number)) return st;
  AVStream* st = av_new_stream(&ctx_, number);
  if (!st) return nullptr;
  st->stream_number = number;
  st->kind = kind;
  st->time_base = {1, 1000};
  if (kind == kKindVideo) ++ctx_.nb_video;
  if (kind == kKindAudio) ++ctx_.nb_audio;
  if (kind == kKindData) ++ctx_.nb_data;
  return st;
}

int FlvDemuxer::Open(ByteIOContext* pb, std::string_view) {
  ctx_ = AVFormatContext{};
  ctx_.pb = pb;
  pb_ = pb;
  negative_cts_seen_ = duration_probed_ = index_complete_ = reverse_active_ = false;
  ForgetResync();
  ResetDamage();
  for (auto& e : extradata_) e.clear();
  for (auto& i : index_) i.clear();
  file_size_ = url_fsize(pb);
  if (file_size_ < 0) file_size_ = INT64_MAX;
  const uint32_t signature = get_be24(pb);
  get_byte(pb);  // version
  int flags = get_byte(pb);
  data_offset_ = get_be32(pb);
  if (url_feof(pb) || signature != (('F' << 16) | ('L' << 8) | 'V')) return kErrInvalid;
  if (flags == 0) flags = 0x05;  // audio and video
  no_header_ = (flags & 0x05) != 0x05;
  if (flags & 0x01) StreamFor(kVideoStream, kKindVideo);
  if (flags & 0x04) StreamFor(kAudioStream, kKindAudio);
  if (file_size_ != INT64_MAX) ctx_.file_size = file_size_;
  // A damaged offset: the first tag follows the 9-byte header.
  constexpr int64_t kFileHeaderSize = 9;
  if (data_offset_ < kFileHeaderSize || data_offset_ >= file_size_) data_offset_ = kFileHeaderSize;
  return url_fseek(pb, data_offset_, SEEK_SET) < 0 ? kErrInvalid : 0;
}

void FlvDemuxer::ParseMetadata(uint32_t size) {
  metadata_.resize(std::min<size_t>(size, kMaxMetadataBytes));
  const int got = get_buffer(pb_, metadata_.data(), static_cast<int>(metadata_.size()));
  const uint8_t* p = metadata_.data();
  size_t remaining = static_cast<size_t>(std::max(got, 0));
  const auto name = Amf0RecordName(p, remaining);
  if (!name || *name != "onMetaData") return;
  p += 3 + name->size();
  remaining -= 3 + name->size();
  FlvMetadata parse(ctx_, ctx_.FindStream(kVideoStream), ctx_.FindStream(kAudioStream));
  Amf0Walk(p, remaining, std::nullopt, &parse);
}

void FlvDemuxer::ProbeDuration() {
  duration_probed_ = true;
  if (ctx_.duration != kNoPtsValue) return;
  if (const auto last = LastTagTimestamp(pb_, nullptr, 0)) ctx_.duration = static_cast<int64_t>(*last) * 1000;
}

FlvDemuxer::Tag FlvDemuxer::ParseHeader(const uint8_t* p, int64_t pos) {
  Tag tag;
  tag.pos = pos;
  tag.type = p[4];
  tag.size = (uint32_t{p[5]} << 16) | (uint32_t{p[6]} << 8) | p[7];
  tag.timestamp = (uint32_t{p[11]} << 24) | (uint32_t{p[8]} << 16) | (uint32_t{p[9]} << 8) | p[10];
  return tag;
}

namespace {
bool KnownType(int type) { return type == kTypeAudio || type == kTypeVideo || type == kTypeData || type == kTypeScript; }
// The stream id of an FLV tag is always 0.
bool ZeroStreamId(const uint8_t* p) { return p[12] == 0 && p[13] == 0 && p[14] == 0; }
}  // namespace

bool FlvDemuxer::Plausible(const Tag& tag) const { return KnownType(tag.type) && tag.DataEnd() <= file_size_; }

namespace {

// The next PreviousTagSize holds the tag's size, or a tag header follows.
bool TagBehindData(const uint8_t* p, uint32_t size) {
  const uint32_t previous = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  return previous == size + 11 || (KnownType(p[4]) && ZeroStreamId(p));
}

}  // namespace

bool FlvDemuxer::FollowedByTag(const Tag& tag) {
  const int64_t end = tag.DataEnd();
  if (url_fseek(pb_, end, SEEK_SET) < 0) return false;
  if (file_size_ - end < kHeaderSize) return true;  // the closing PreviousTagSize, or a cut-off tag
  const uint8_t* p = url_fpeek(pb_, kHeaderSize);
  return !p || TagBehindData(p, tag.size);
}

bool FlvDemuxer::FollowedAt(const Tag& tag) {
  // Looked at without moving: a scan keeps its buffer, however far the data end lies.
  const int64_t end = tag.DataEnd();
  if (file_size_ - end < kHeaderSize) return true;
  uint8_t behind[kHeaderSize];
  return url_fpeek_at(pb_, end, behind, kHeaderSize) != kHeaderSize || TagBehindData(behind, tag.size);
}

bool FlvDemuxer::SettleEnd(const Tag& tag, int64_t& garbage_after) {
  garbage_after = 0;
  if (FollowedByTag(tag)) return true;
  // Either the size was damaged and the data ran into the tags behind it, or
  // garbage follows an intact tag: where the next trustworthy tag starts
  // tells which.
  url_fseek(pb_, tag.pos + 1, SEEK_SET);
  Tag next;
  const bool found = ScanForTrustedTag(next, false) == Found::Tag;
  if (found) pending_ = next;
  if (found && (next.pos < tag.DataEnd() || ReachesTo(tag, next))) {
    NoteDropped();
    NoteSkipped(next.pos - tag.pos - 1);
    return false;
  }
  garbage_after = (found ? next.pos : std::min(url_ftell(pb_), file_size_)) - tag.DataEnd();
  return true;
}

bool FlvDemuxer::ReachesTo(const Tag& tag, const Tag& next) {
  // The PreviousTagSize of `next` measures the tag before it.
  if (url_fseek(pb_, next.pos, SEEK_SET) < 0) return false;
  const int64_t previous = get_be32(pb_);
  url_fseek(pb_, next.pos + kHeaderSize, SEEK_SET);
  return previous == next.pos - tag.pos - 4 && previous != tag.size + 11;
}

void FlvDemuxer::Reject(const Tag& tag) {
  NoteDropped();
  url_fseek(pb_, tag.pos + 1, SEEK_SET);
  resync_next_ = true;
}

FlvDemuxer::Found FlvDemuxer::ScanForTrustedTag(Tag& tag, bool count_damage) {
  const int64_t begin = url_ftell(pb_);
  for (;;) {
    const uint8_t* p = url_fpeek(pb_, kHeaderSize);
    if (!p) {
      if (count_damage) NoteSkipped(std::min(url_ftell(pb_), file_size_) - begin);  // trailing garbage
      return Found::EndOfFile;
    }
    // Candidates inside the buffer: a known type and a zero stream id.
    const auto available = pb_->buf_end - pb_->buf_ptr;
    std::ptrdiff_t i = 0;
    while (i + kHeaderSize <= available && !(KnownType(p[i + 4]) && ZeroStreamId(p + i))) ++i;
    if (i + kHeaderSize > available) {
      url_fconsume(pb_, static_cast<int>(i));
      continue;
    }
    url_fconsume(pb_, static_cast<int>(i));
    const int64_t at = url_ftell(pb_);
    const Tag candidate = ParseHeader(p + i, at);
    if (Plausible(candidate) && FollowedAt(candidate)) {
      if (count_damage) NoteSkipped(at - begin);
      tag = candidate;
      url_fseek(pb_, at + kHeaderSize, SEEK_SET);
      return Found::Tag;
    }
    url_fseek(pb_, at + 1, SEEK_SET);
  }
}

int FlvDemuxer::NextTag(Tag& tag, bool count_damage) {
  if (pending_) {
    tag = *pending_;
    pending_.reset();
    url_fseek(pb_, tag.pos + kHeaderSize, SEEK_SET);
    return 0;
  }
  if (resync_next_) {
    ForgetResync();
    return ScanForTrustedTag(tag, count_damage) == Found::Tag ? 0 : kErrEndOfStream;
  }
  const int64_t pos = url_ftell(pb_);
  const uint8_t* p = url_fpeek(pb_, kHeaderSize);
  if (!p) return kErrEndOfStream;  // the file ends inside a tag header
  tag = ParseHeader(p, pos);
  if (Plausible(tag) && ZeroStreamId(p)) {
    url_fconsume(pb_, kHeaderSize);
    return 0;
  }
  // A damaged header, or the last tag of a file cut short: a trustworthy tag
  // further on tells the two apart.
  const Tag suspect = tag;
  const bool cut_short = KnownType(tag.type) && ZeroStreamId(p) && tag.DataEnd() > file_size_;
  url_fseek(pb_, pos + 1, SEEK_SET);
  if (ScanForTrustedTag(tag, count_damage && !cut_short) == Found::Tag) {
    if (count_damage && cut_short) {
      NoteDropped();
      NoteSkipped(tag.pos - pos - 1);
    }
    return 0;
  }
  if (!cut_short) return kErrEndOfStream;
  tag = suspect;
  url_fseek(pb_, pos + kHeaderSize, SEEK_SET);
  return 0;
}

int FlvDemuxer::ReadPacket(ReaderPacket& packet) {
  // Tags without a packet are passed over; one whose end is not followed by
  // the next tag had a damaged size and is left out.
  auto pass_over = [this](const Tag& tag) {
    if (!FollowedByTag(tag)) Reject(tag);
  };
  for (;;) {
    Tag tag;
    const int r = NextTag(tag, true);
    if (r < 0) return r;
    uint32_t size = tag.size;
    const uint32_t dts = tag.timestamp;
    const int type = tag.type;
    if (size == 0) {
      pass_over(tag);
      continue;
    }
    if (type == kTypeScript) {
      ParseMetadata(size);
      pass_over(tag);
      continue;
    }
    if (!duration_probed_) ProbeDuration();
    const int flags = get_byte(pb_);
    --size;
    const int number = type == kTypeVideo ? kVideoStream : type == kTypeAudio ? kAudioStream : kDataStream;
    AVStream* st = StreamFor(number, type == kTypeVideo ? kKindVideo : type == kTypeAudio ? kKindAudio : kKindData);
    if (!st || (type == kTypeVideo && (flags >> 4) == 5)) {
      pass_over(tag);
      continue;
    }

    int64_t pts = dts;
    int64_t packet_dts = dts;
    bool sequence_header = false;
    if (type == kTypeAudio) {
      const int format = flags >> 4;
      ApplyFlvAudioFlags(*st, flags);
      if (format == kSoundAac) {
        if (size < 1) {
          pass_over(tag);
          continue;
        }
        sequence_header = get_byte(pb_) == 0;
        --size;
      }
    } else if (type == kTypeVideo) {
      const int codec = flags & 0x0F;
      if (codec == kCodecH263) st->codec_id = codec_id::kH263;
      if (codec == kCodecH264) {
        st->codec_id = codec_id::kH264;
        if (size < 4) {
          pass_over(tag);
          continue;
        }
        sequence_header = get_byte(pb_) == 0;
        const int32_t cts = static_cast<int32_t>(get_be24(pb_) << 8) >> 8;
        size -= 4;
        if (cts < 0) negative_cts_seen_ = true;
        pts = static_cast<int64_t>(dts) + cts;
        if (negative_cts_seen_) packet_dts = kNoPtsValue;
      }
    }
    if (sequence_header) {
      auto& extra = extradata_[static_cast<size_t>(number)];
      extra.resize(std::min<uint32_t>(size, 1 << 20));
      extra.resize(static_cast<size_t>(std::max(0, get_buffer(pb_, extra.data(), static_cast<int>(extra.size())))));
      pass_over(tag);
      continue;
    }
    if (size == 0) {
      pass_over(tag);
      continue;
    }
    if (!packet.Reserve(static_cast<int32_t>(size))) return kErrNoMemory;
    packet.pos = url_ftell(pb_);
    if (get_buffer(pb_, packet.data.get(), static_cast<int>(size)) != static_cast<int>(size)) {
      damage_.truncated = true;
      packet.Release();
      return kErrIO;
    }
    int64_t garbage_after = 0;
    if (!SettleEnd(tag, garbage_after)) continue;
    // Only tags that carry a picture or samples go into the index: an AVC
    // end-of-sequence tag has key-frame flags too.
    if ((flags >> 4) == 1) index_[static_cast<size_t>(number)].Add({tag.pos, static_cast<int64_t>(dts), size, true});
    packet.size = static_cast<int32_t>(size);
    packet.pts = pts;
    packet.dts = packet_dts;
    packet.stream_index = number;
    packet.flags = (type != kTypeVideo || (flags >> 4) == 1) ? kPacketFlagKey : 0;
    last_tag_pos_ = tag.pos;
    NoteDelivered(static_cast<int64_t>(dts) * 1000);
    NoteSkipped(garbage_after);
    return packet.size;
  }
}

void FlvDemuxer::ReadLeadingMetadata() {
  // Script tags and sequence headers come before the first picture; take them
  // all, so that a seek past them still finds the decoders' extra data.
  for (;;) {
    Tag tag;
    if (NextTag(tag, false) < 0) break;
    if (tag.type == kTypeScript) {
      ParseMetadata(tag.size);
    } else if ((tag.type == kTypeVideo || tag.type == kTypeAudio) && tag.size >= 2) {
      const int flags = get_byte(pb_);
      const bool avc = tag.type == kTypeVideo && (flags & 0x0F) == kCodecH264;
      const bool aac = tag.type == kTypeAudio && (flags >> 4) == kSoundAac;
      if (!(avc || aac) || get_byte(pb_) != 0) break;  // a real packet: stop before it
      if (avc) url_fskip(pb_, 3);  // composition time
      const int number = avc ? kVideoStream : kAudioStream;
      if (AVStream* st = StreamFor(number, avc ? kKindVideo : kKindAudio))
        st->codec_id = avc ? codec_id::kH264 : codec_id::kAac;
      auto& extra = extradata_[static_cast<size_t>(number)];
      const int64_t length = tag.DataEnd() - url_ftell(pb_);
      extra.resize(static_cast<size_t>(std::clamp<int64_t>(length, 0, 1 << 20)));
      extra.resize(static_cast<size_t>(std::max(0, get_buffer(pb_, extra.data(), static_cast<int>(extra.size())))));
    } else {
      break;
    }
    if (!FollowedByTag(tag)) break;
  }
  // Reading starts again at the first tag: the header tags are read once more and skipped.
  url_fseek(pb_, data_offset_, SEEK_SET);
  ForgetResync();
}

void FlvDemuxer::BuildIndex() {
  if (index_complete_) return;
  index_complete_ = true;
  // Reading meets the same damage again: the walk does not count it.
  const int64_t resume = url_ftell(pb_);
  const bool resync = resync_next_;
  const std::optional<Tag> pending = pending_;
  ForgetResync();
  url_fseek(pb_, data_offset_, SEEK_SET);
  for (;;) {
    Tag tag;
    if (NextTag(tag, false) < 0) break;
    const uint8_t* p = tag.size >= 2 ? url_fpeek(pb_, 2) : nullptr;
    const int flags = p ? p[0] : 0;
    if (tag.type == kTypeData) StreamFor(kDataStream, kKindData);
    if (tag.type == kTypeVideo && p) {
      AVStream* st = StreamFor(kVideoStream, kKindVideo);
      const int codec = flags & 0x0F;
      if (st && codec == kCodecH264) st->codec_id = codec_id::kH264;
      if (st && codec == kCodecH263) st->codec_id = codec_id::kH263;
      // AVC: packet type 1 holds pictures (0 is the sequence header, 2 its end).
      const int avc_packet_type = codec == kCodecH264 ? p[1] : 1;
      if ((flags >> 4) == 1 && avc_packet_type == 1 && tag.size > 5)
        index_[kVideoStream].Add({tag.pos, static_cast<int64_t>(tag.timestamp), tag.size, true});
    }
    if (!FollowedByTag(tag)) {
      url_fseek(pb_, tag.pos + 1, SEEK_SET);
      resync_next_ = true;
    }
  }
  resync_next_ = resync;
  pending_ = pending;
  url_fseek(pb_, resume, SEEK_SET);
}

bool FlvDemuxer::Seek(int64_t target_us) {
  if (target_us < 0) return false;
  BuildIndex();
  ForgetResync();
  const int e = index_[kVideoStream].KeyAtOrBefore(target_us / 1000);
  if (e < 0) return false;
  return url_fseek(pb_, index_[kVideoStream].entries()[static_cast<size_t>(e)].pos, SEEK_SET) >= 0;
}

int FlvDemuxer::OpenReverse(ByteIOContext* pb, std::string_view file_name) {
  const int r = Open(pb, file_name);
  if (r < 0) return r;
  ReadLeadingMetadata();  // codecs and the decoders' extra data
  BuildIndex();
  reverse_.Reset(url_fsize(pb_));
  reverse_active_ = true;
  in_group_ = false;
  return 0;
}

bool FlvDemuxer::SeekReverse(int64_t target_us) {
  if (!reverse_active_ || target_us < 0) return false;
  // Behind the group that holds the target: where the next group begins.
  const int next = index_[kVideoStream].KeyAtOrAfter(target_us / 1000 + 1);
  if (next >= 0) {
    const IndexEntry& key = index_[kVideoStream].entries()[static_cast<size_t>(next)];
    reverse_.Reset(key.pos, key.timestamp);
  } else {
    reverse_.Reset(url_fsize(pb_));
  }
  in_group_ = false;
  ForgetResync();
  return true;
}

int FlvDemuxer::ReadPacketReverse(ReaderPacket& packet) {
  if (!reverse_active_) return kErrInvalid;
  for (;;) {
    if (!in_group_ || !reverse_.Contains(url_ftell(pb_))) {
      in_group_ = true;
      if (!reverse_.StepBack(index_[kVideoStream])) return kErrEndOfStream;
      url_fseek(pb_, reverse_.group_start(), SEEK_SET);
      ForgetResync();
    }
    const int r = ReadPacket(packet);
    const bool cut_short = r == kErrIO && damage_.truncated;  // the group holds the file's cut end
    if (r == kErrEndOfStream || cut_short || (r >= 0 && !reverse_.Contains(last_tag_pos_))) {
      in_group_ = false;  // outside the group: step back on the next pass
      continue;
    }
    if (r < 0) return r;
    // Video packets of the group; the index and the group times are tag timestamps.
    const int64_t tag_time = packet.dts != kNoPtsValue ? packet.dts : packet.pts;
    if (packet.stream_index != kVideoStream || reverse_.InGroup(tag_time)) return r;
  }
}

}  // namespace qvv

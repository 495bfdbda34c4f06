#include "QVVReader/QvvDemuxer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "QVVReader/Amf0.h"
#include "QVVReader/FileName.h"
#include "QVVReader/FlvTags.h"

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

bool QvvDemuxer::ReadHeaderForm(bool long_form, int counts[3], int64_t& data_offset) {
  if (url_fseek(pb_, 4, SEEK_SET) < 0) return false;  // signature and version, not checked
  if (long_form) {
    counts[0] = get_byte(pb_);
    counts[1] = get_byte(pb_);
    counts[2] = get_byte(pb_);
  } else {
    int packed = get_byte(pb_);
    if (packed == 0) packed = 0x91;  // 4 video, 4 audio, 1 data
    counts[0] = packed >> 5;
    counts[1] = (packed >> 2) & 7;
    counts[2] = packed & 3;
  }
  data_offset = get_be32(pb_);
  return !url_feof(pb_);
}

bool QvvDemuxer::TagStartsAt(int64_t field) {
  if (field < 0 || field + 4 + kTagHeaderSize > file_size_ || url_fseek(pb_, field + 4, SEEK_SET) < 0) return false;
  const uint8_t* p = url_fpeek(pb_, 3);
  return p && p[0] == 0x01 && p[1] == 0xFF && ValidType(p[2]);
}

bool QvvDemuxer::HasCompletePacket() {
  url_fseek(pb_, data_offset_, SEEK_SET);
  scan_end_ = data_offset_ + kOpenScanLimit;
  bool found = false;
  for (;;) {
    Tag tag;
    if (NextTag(tag) < 0 || tag.pos > scan_end_) break;
    const bool media = tag.type == kTypeAudio || tag.type == kTypeVideo || tag.type == kTypeData;
    if (media && tag.data_size > 1 && tag.DataEnd() <= file_size_) {
      found = true;
      break;
    }
    url_fseek(pb_, tag.DataEnd(), SEEK_SET);
  }
  scan_end_ = INT64_MAX;
  return found;
}

int QvvDemuxer::Open(ByteIOContext* pb, std::string_view file_name) {
  ctx_ = AVFormatContext{};
  ctx_.pb = pb;
  pb_ = pb;
  duration_probed_ = false;
  ForgetResync();
  last_tag_pos_ = -1;
  reverse_ = ReverseWindow{};
  ResetDamage();
  file_size_ = url_fsize(pb);
  if (file_size_ < 0) file_size_ = INT64_MAX;

  // The header form follows the name's length. A file renamed to the other
  // length still has its first tag where the other form's offset says.
  const bool long_name = BaseName(file_name).size() >= kQvvLongHeaderNameLength;
  int counts[3];
  int64_t offset = 0;
  if (!ReadHeaderForm(long_name, counts, offset)) return kErrEndOfStream;
  bool found_first = TagStartsAt(offset);
  if (!found_first) {
    int other_counts[3];
    int64_t other_offset = 0;
    if (ReadHeaderForm(!long_name, other_counts, other_offset) && TagStartsAt(other_offset)) {
      std::copy(other_counts, other_counts + 3, counts);
      offset = other_offset;
      found_first = true;
    }
  }
  const int64_t header_end = long_name ? 11 : 9;
  // An offset outside the file leads nowhere: reading starts behind the
  // header and resynchronises on the first tag.
  data_offset_ = found_first || (offset >= header_end && offset < file_size_) ? offset : header_end;
  const int video = counts[0], audio = counts[1], data = counts[2];

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
  // Bytes with no whole packet in them are not a recording (random data, a
  // file cut inside its first tags).
  if (!HasCompletePacket()) return kErrInvalid;
  ResetDamage();  // what the check crossed is met again when reading
  ForgetResync();
  last_tag_pos_ = -1;
  const int64_t r = url_fseek(pb, data_offset_, SEEK_SET);
  return r < 0 ? static_cast<int>(r) : 0;
}

int QvvDemuxer::ReadLeadingMetadata() {
  int applied = 0;
  for (;;) {
    const int64_t before = url_ftell(pb_);
    Tag tag;
    if (NextTag(tag) < 0) {
      url_fseek(pb_, before, SEEK_SET);
      ForgetResync();
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

namespace {

// Tag header fields behind the marker: type, data size, timestamp, stream.
void ParseTagHeader(const uint8_t* p, int& type, uint32_t& data_size, uint32_t& timestamp, uint32_t& stream) {
  type = p[2];
  data_size = (uint32_t{p[3]} << 16) | (uint32_t{p[4]} << 8) | p[5];
  timestamp = (uint32_t{p[9]} << 24) | (uint32_t{p[6]} << 16) | (uint32_t{p[7]} << 8) | p[8];
  stream = (uint32_t{p[10]} << 16) | (uint32_t{p[11]} << 8) | p[12];
}

}  // namespace

namespace {

constexpr int kFollowWindow = 64;  // PreviousTagSize, spare bytes, the next marker and type

// A marker and a known type among the bytes behind a tag's data (past its
// 4-byte PreviousTagSize).
bool MarkerBehindData(const uint8_t* p) {
  for (int k = 4; k + 2 < kFollowWindow; ++k) {
    if (p[k] == 0x01 && p[k + 1] == 0xFF && ValidType(p[k + 2])) return true;
  }
  return false;
}

}  // namespace

bool QvvDemuxer::FollowedByTag(const Tag& tag) {
  const int64_t end = tag.DataEnd();
  if (url_fseek(pb_, end, SEEK_SET) < 0) return false;
  if (file_size_ - end <= kFollowWindow) return true;  // the file ends here (perhaps inside the next tag)
  const uint8_t* p = url_fpeek(pb_, kFollowWindow);
  return !p || MarkerBehindData(p);
}

bool QvvDemuxer::Trusted(const Tag& tag) {
  if (!ValidType(tag.type) || tag.stream >= kMaxStreamNumber || tag.DataEnd() > file_size_) return false;
  // Looked at without moving: a scan keeps its buffer, however far the data end lies.
  const int64_t end = tag.DataEnd();
  if (file_size_ - end <= kFollowWindow) return true;
  uint8_t behind[kFollowWindow];
  return url_fpeek_at(pb_, end, behind, kFollowWindow) != kFollowWindow || MarkerBehindData(behind);
}

bool QvvDemuxer::SettleEnd(const Tag& tag, int64_t& garbage_after) {
  garbage_after = 0;
  if (FollowedByTag(tag)) return true;
  // Either the size was damaged and the data ran into the tags behind it, or
  // garbage follows an intact tag: where the next trustworthy tag starts
  // tells which.
  url_fseek(pb_, tag.pos + 2, SEEK_SET);
  Tag next;
  const bool found = ScanForTrustedTag(next, false) == Found::Tag;
  if (found) pending_ = next;
  if (found && (next.pos < tag.DataEnd() || ReachesTo(tag, next))) {
    NoteDropped();
    NoteSkipped(next.pos - tag.pos - 2);
    return false;
  }
  garbage_after = std::max<int64_t>(
      0, (found ? next.pos : std::min(url_ftell(pb_), file_size_)) - tag.DataEnd() - kLayoutBytes);
  return true;
}

bool QvvDemuxer::ReachesTo(const Tag& tag, const Tag& next) {
  // The PreviousTagSize before `next` measures from the marker of the tag
  // before it: a tag whose own size says otherwise was damaged.
  for (const int64_t field : {next.pos - 4, next.pos - 6}) {
    if (field <= tag.pos || url_fseek(pb_, field, SEEK_SET) < 0) continue;
    const int64_t distance = get_be32(pb_);
    if (distance == field - tag.pos && distance != tag.data_size + kPreviousTagSizeExtra) return true;
  }
  url_fseek(pb_, next.pos + kTagHeaderSize, SEEK_SET);
  return false;
}

void QvvDemuxer::Reject(const Tag& tag) {
  NoteDropped();
  url_fseek(pb_, tag.pos + 2, SEEK_SET);
  resync_next_ = true;
}

QvvDemuxer::Found QvvDemuxer::ScanForTrustedTag(Tag& tag, bool count_damage, int64_t layout_bytes) {
  const int64_t begin = url_ftell(pb_);
  auto at_end = [&] {
    if (count_damage) NoteSkipped(std::min(url_ftell(pb_), file_size_) - begin - layout_bytes);  // trailing garbage
    return Found::EndOfFile;
  };
  for (;;) {
    const uint8_t* p = url_fpeek(pb_, 3);
    if (!p) return at_end();
    if (url_ftell(pb_) > scan_end_) return Found::EndOfFile;
    // Only a 0x01 can start a marker: skip to the next one in the buffer.
    const auto available = static_cast<size_t>(pb_->buf_end - pb_->buf_ptr) - 2;
    const auto* hit = static_cast<const uint8_t*>(std::memchr(p, 0x01, available));
    if (!hit) {
      url_fconsume(pb_, static_cast<int>(available));
      continue;
    }
    url_fconsume(pb_, static_cast<int>(hit - p));
    if (hit[1] != 0xFF || !ValidType(hit[2])) {
      url_fconsume(pb_, 1);
      continue;
    }
    const int64_t at = url_ftell(pb_);
    if (at > scan_end_) return Found::EndOfFile;
    if (ReadTagAt(at, tag) && Trusted(tag)) {
      if (count_damage) NoteSkipped(at - begin - layout_bytes);
      url_fseek(pb_, at + kTagHeaderSize, SEEK_SET);
      last_tag_pos_ = at;
      return Found::Tag;
    }
    url_fseek(pb_, at + 1, SEEK_SET);
  }
}

int QvvDemuxer::NextTag(Tag& tag) {
  if (pending_) {
    tag = *pending_;
    pending_.reset();
    url_fseek(pb_, tag.pos + kTagHeaderSize, SEEK_SET);
    last_tag_pos_ = tag.pos;
    return 0;
  }
  if (resync_next_) {
    ForgetResync();
    return ScanForTrustedTag(tag, true) == Found::Tag ? 0 : kErrEndOfStream;
  }
  // The marker follows the 4-byte PreviousTagSize, after the spare bytes some
  // writers leave behind a tag's data.
  constexpr int kLayoutGap = 12;
  constexpr int kWanted = 4 + kLayoutGap + kTagHeaderSize;
  const int64_t field = url_ftell(pb_);
  const uint8_t* p = url_fpeek(pb_, kWanted);
  const int available = p ? kWanted : static_cast<int>(pb_->buf_end - pb_->buf_ptr);
  p = pb_->buf_ptr;
  int k = 4;
  while (k <= 4 + kLayoutGap && k + kTagHeaderSize <= available &&
         !(p[k] == 0x01 && p[k + 1] == 0xFF && ValidType(p[k + 2])))
    ++k;
  if (k > 4 + kLayoutGap) {
    // No marker where a tag belongs: a damaged stretch (less the bytes an
    // intact file has there).
    return ScanForTrustedTag(tag, true, kLayoutBytes) == Found::Tag ? 0 : kErrEndOfStream;
  }
  if (k + kTagHeaderSize > available) return kErrEndOfStream;  // the file ends inside a tag header
  tag.pos = field + k;
  ParseTagHeader(p + k, tag.type, tag.data_size, tag.timestamp, tag.stream);
  tag.flags = -1;
  url_fconsume(pb_, k + kTagHeaderSize);
  last_tag_pos_ = tag.pos;
  if (tag.stream < kMaxStreamNumber && tag.DataEnd() <= file_size_) return 0;
  // Data running past the end of the file, or a stream number no recorder
  // writes: a damaged header, unless nothing trustworthy follows it, when it
  // is the last tag of a file cut short.
  const Tag suspect = tag;
  url_fseek(pb_, tag.pos + 2, SEEK_SET);
  if (ScanForTrustedTag(tag, false) == Found::Tag) {
    NoteDropped();
    NoteSkipped(tag.pos - suspect.pos - 2);
    return 0;
  }
  tag = suspect;
  last_tag_pos_ = tag.pos;
  if (tag.stream >= kMaxStreamNumber) return kErrEndOfStream;
  url_fseek(pb_, tag.pos + kTagHeaderSize, SEEK_SET);
  return 0;
}

bool QvvDemuxer::ReadTagAt(int64_t marker_pos, Tag& tag) {
  if (marker_pos < 0 || url_fseek(pb_, marker_pos, SEEK_SET) < 0) return false;
  const uint8_t* p = url_fpeek(pb_, kTagHeaderSize + 1);
  if (!p) {
    p = url_fpeek(pb_, kTagHeaderSize);
    if (!p) return false;
  }
  if (p[0] != 0x01 || p[1] != 0xFF) return false;
  tag.pos = marker_pos;
  ParseTagHeader(p, tag.type, tag.data_size, tag.timestamp, tag.stream);
  tag.flags = -1;
  if (tag.data_size > 0) {
    if (pb_->buf_end - pb_->buf_ptr < kTagHeaderSize + 1) return false;
    tag.flags = p[kTagHeaderSize];
  }
  return ValidType(tag.type);
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
      if (i + kTagHeaderSize + 1 <= got) {  // the header is in the chunk: no seek for it
        candidate.pos = begin + i;
        ParseTagHeader(chunk + i, candidate.type, candidate.data_size, candidate.timestamp, candidate.stream);
        candidate.flags = candidate.data_size > 0 ? chunk[i + kTagHeaderSize] : -1;
      } else if (!ReadTagAt(begin + i, candidate)) {
        continue;
      }
      if (candidate.stream < kMaxStreamNumber && candidate.DataEnd() <= field) {
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
  if (ctx_.duration != kNoPtsValue) return;
  // A writer that counts only the FLV tag header (data size + 11) lets the
  // last tag give the duration; the recorder's files carry it in metadata.
  static const uint8_t kMarker[] = {0x01, 0xFF};
  if (const auto last = LastTagTimestamp(pb_, kMarker, 2)) ctx_.duration = *last;  // already microseconds
}

// ------------------------------------------------------------------ reading

int QvvDemuxer::ReadPacket(ReaderPacket& packet) {
  // Tags that carry no packet are passed over; one whose end is not followed
  // by the next tag had a damaged size and is left out.
  auto pass_over = [this](const Tag& tag) {
    if (!FollowedByTag(tag)) Reject(tag);
  };
  for (;;) {
    Tag tag;
    const int r = NextTag(tag);
    if (r < 0) return r;
    if (tag.data_size == 0) {
      pass_over(tag);
      continue;
    }
    if (tag.type == kTypeMetadata && tag.data_size > 18) {
      ParseMetadata(tag.data_size);
      pass_over(tag);
      continue;
    }
    if (tag.type != kTypeAudio && tag.type != kTypeVideo && tag.type != kTypeData) {
      pass_over(tag);
      continue;
    }
    const int flags = get_byte(pb_);
    const int frame_type = flags >> 4;
    if (tag.type == kTypeVideo && frame_type == kFrameInfo) {
      pass_over(tag);
      continue;
    }
    int64_t payload = static_cast<int64_t>(tag.data_size) - 1;
    int64_t cts = 0;
    if (tag.type == kTypeVideo && (flags & 0x0F) == 7) {
      // H.264 in the FLV way: packet type and composition time before the NAL units.
      if (payload < 4) {
        pass_over(tag);
        continue;
      }
      get_byte(pb_);
      cts = static_cast<int32_t>(get_be24(pb_) << 8) >> 8;
      payload -= 4;
    }
    if (payload <= 0) {
      pass_over(tag);
      continue;
    }

    // A stream is made, and the flags byte describes it, only once the tag
    // is known to be whole: a damaged tag must not leave a phantom channel.
    AVStream* st = ctx_.FindStream(static_cast<int32_t>(tag.stream));
    if (!st && ctx_.nb_streams >= kMaxStreams) {
      pass_over(tag);  // table full: skip the tag
      continue;
    }
    if (st && (st->discard >= kDiscardAll ||
               (st->discard >= kDiscardNonKey && tag.type == kTypeVideo && frame_type != kFrameKey) ||
               (st->discard >= kDiscardNonReference && tag.type == kTypeVideo && frame_type == kFrameDisposable))) {
      pass_over(tag);
      continue;
    }
    if (!duration_probed_) ProbeDurationFromLastTag();
    if (ctx_.duration != kNoPtsValue && ctx_.duration < 1) ctx_.duration = 0;

    if (!packet.Reserve(static_cast<int32_t>(payload))) return kErrNoMemory;
    packet.pos = url_ftell(pb_);
    const int got = get_buffer(pb_, packet.data.get(), static_cast<int>(payload));
    if (got != payload) {
      damage_.truncated = true;
      packet.Release();
      return kErrIO;
    }
    int64_t garbage_after = 0;
    if (!SettleEnd(tag, garbage_after)) continue;

    if (!st) {
      st = av_new_stream(&ctx_, static_cast<int>(tag.stream));
      if (!st) continue;
      st->kind = KindOfTagType(tag.type);
      if (st->kind == kKindVideo) ++ctx_.nb_video;
      if (st->kind == kKindAudio) ++ctx_.nb_audio;
      if (st->kind == kKindData) ++ctx_.nb_data;
    }
    if (tag.type == kTypeAudio) {
      ApplyFlvAudioFlags(*st, flags);
    } else if (tag.type == kTypeVideo) {
      if ((flags & 0x0F) == 2) st->codec_id = codec_id::kH263;
      if ((flags & 0x0F) == 7) st->codec_id = codec_id::kH264;
    }
    std::memset(packet.data.get() + payload, 0, ReaderPacket::kPadding);
    packet.size = static_cast<int32_t>(payload);
    packet.pts = static_cast<int64_t>(tag.timestamp) + cts * 1000;
    packet.dts = tag.timestamp;
    packet.stream_index = static_cast<int32_t>(tag.stream);
    packet.flags = (tag.type == kTypeAudio || frame_type == kFrameKey) ? kPacketFlagKey : 0;
    last_tag_pos_ = tag.pos;  // the look-ahead past garbage may have moved it
    NoteDelivered(packet.dts);
    NoteSkipped(garbage_after);
    return packet.size;
  }
}

// ------------------------------------------------------------------ seeking

bool QvvDemuxer::Seek(int64_t target_us) {
  ForgetResync();
  if (target_us == 0) {
    url_fseek(pb_, data_offset_, SEEK_SET);  // the first tag
    return true;
  }
  if (target_us < 0) return false;
  const int64_t remembered = url_ftell(pb_);
  const int64_t target_second = target_us / 1000000;
  auto fail = [&] {
    url_fseek(pb_, remembered, SEEK_SET);
    return false;
  };
  auto is_key = [](const Tag& t) { return t.type == kTypeVideo && (t.flags >> 4) == kFrameKey; };

  if (ctx_.duration != kNoPtsValue && ctx_.duration > target_us) {
    const int64_t file_size = ctx_.file_size >= 1 ? ctx_.file_size : url_fsize(pb_);
    const __int128 estimate =
        static_cast<__int128>(target_second) * file_size / ctx_.duration * 1000000;
    const int64_t pos = static_cast<int64_t>(std::clamp<__int128>(estimate, 0, std::max<int64_t>(file_size, 0)));
    url_fseek(pb_, pos, SEEK_SET);
  }
  url_fskip(pb_, 4);
  Tag tag;
  if (ScanForTrustedTag(tag, false) != Found::Tag) return true;  // left where the search ended

  // Every channel whose key frame falls in the chosen second starts with its
  // group: the seek lands on the earliest key frame of that second.
  if (SecondOf(tag.timestamp) < target_second) {
    int64_t chosen = -1, chosen_second = -1;
    for (;;) {
      const int64_t second = SecondOf(tag.timestamp);
      if (second > target_second) break;
      if (is_key(tag) && second != chosen_second) {
        chosen = tag.pos;
        chosen_second = second;
      }
      if (url_fseek(pb_, tag.DataEnd(), SEEK_SET) < 0) break;
      Tag next;
      if (ScanForTrustedTag(next, false) != Found::Tag) break;
      tag = next;
    }
    if (chosen < 0) return fail();
    url_fseek(pb_, chosen - 4, SEEK_SET);
    return true;
  }

  while (!(is_key(tag) && SecondOf(tag.timestamp) <= target_second)) {
    Tag previous;
    if (!PreviousTag(tag, previous)) return fail();
    tag = previous;
  }
  // Earlier key frames of the same second; channels are written a little
  // out of step, so the walk goes on until a tag a whole second earlier.
  const int64_t second = SecondOf(tag.timestamp);
  int64_t chosen = tag.pos;
  for (Tag walk = tag;;) {
    Tag previous;
    if (!PreviousTag(walk, previous) || SecondOf(previous.timestamp) + 1 < second) break;
    walk = previous;
    if (is_key(walk) && SecondOf(walk.timestamp) == second) chosen = walk.pos;
  }
  url_fseek(pb_, chosen - 4, SEEK_SET);
  return true;
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
  ForgetResync();
  return 0;
}

bool QvvDemuxer::SeekReverse(int64_t target_us) {
  if (!reverse_.active || target_us < 0) return false;
  // Behind the group that holds the target: the first key frame of a later
  // second. Without one (the target's group is the last) from the end.
  reverse_.started = false;
  const int64_t target_second = target_us / 1000000;
  if (Seek(target_us)) {
    url_fskip(pb_, 4);
    Tag tag;
    while (ScanForTrustedTag(tag, false) == Found::Tag) {
      if (tag.type == kTypeVideo && (tag.flags >> 4) == kFrameKey && SecondOf(tag.timestamp) > target_second) {
        reverse_.started = true;
        reverse_.start = tag.pos - 4;
        reverse_.end = reverse_.start;  // nothing left of a window: the next read steps back
        reverse_.range_start.fill(INT64_MAX);
        reverse_.range_end.fill(INT64_MAX);
        break;
      }
      if (url_fseek(pb_, tag.DataEnd(), SEEK_SET) < 0) break;
    }
  }
  ForgetResync();
  return true;
}

int QvvDemuxer::ReadPacketReverse(ReaderPacket& packet) {
  if (!reverse_.active) return kErrInvalid;
  for (;;) {
    if (!reverse_.started || url_ftell(pb_) >= reverse_.end) {
      const int r = StepBack();
      if (r < 0) return r;
    }
    const int r = ReadPacket(packet);
    const bool cut_short = r == kErrIO && damage_.truncated;  // the window holds the file's cut end
    if (r == kErrEndOfStream || cut_short || (r >= 0 && last_tag_pos_ - 4 >= reverse_.end)) {
      // Left the window: the next pass steps back.
      url_fseek(pb_, reverse_.end, SEEK_SET);
      ForgetResync();
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

#include "QVVReader/AviDemuxer.h"

#include "QVVReader/FourCC.h"
#include "QVVReader/KeyFrame.h"

#include <algorithm>
#include <cstring>

namespace qvv {
namespace {

constexpr uint32_t kRiff = FourCC("RIFF"), kList = FourCC("LIST"), kMovi = FourCC("movi"), kRec = FourCC("rec ");
constexpr uint32_t kStrl = FourCC("strl"), kInfo = FourCC("INFO"), kAvih = FourCC("avih"), kAmvh = FourCC("amvh");
constexpr uint32_t kStrh = FourCC("strh"), kStrf = FourCC("strf"), kIndx = FourCC("indx"), kDmlh = FourCC("dmlh");
constexpr uint32_t kIdx1 = FourCC("idx1"), kJunk = FourCC("JUNK"), kVprp = FourCC("vprp");
constexpr int64_t kMaxHeaderChunk = 1000000;
constexpr size_t kKeyProbeBytes = 1024;
constexpr uint32_t kMaxChunkSize = 256u << 20;  // no frame comes near; larger sizes are damage  // of a payload, to tell a key frame without an index
constexpr size_t kMaxKeptFormat = 1 << 20;  // a "strf" larger than this is not kept

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Chunk ids begin with a stream's two digits, or are LIST, RIFF, JUNK, idx1,
// indx or ix##.
bool CanBeginChunk(uint8_t c) { return (c >= '0' && c <= '9') || c == 'L' || c == 'R' || c == 'J' || c == 'i'; }

int StreamOfChunkId(uint32_t id) {
  const int c0 = static_cast<int>(id & 0xFF), c1 = static_cast<int>((id >> 8) & 0xFF);
  if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9') return -1;
  return (c0 - '0') * 10 + (c1 - '0');
}

bool IsStandardIndexId(uint32_t id) {
  const int c0 = static_cast<int>(id & 0xFF), c1 = static_cast<int>((id >> 8) & 0xFF);
  const int c2 = static_cast<int>((id >> 16) & 0xFF), c3 = static_cast<int>(id >> 24);
  return (c0 == 'i' && c1 == 'x' && c2 >= '0' && c2 <= '9' && c3 >= '0' && c3 <= '9') ||
         (c2 == 'i' && c3 == 'x' && c0 >= '0' && c0 <= '9' && c1 >= '0' && c1 <= '9');
}

// Whether a chunk header (or a list, an index, JUNK) can start with this id.
bool ChunkHeaderId(uint32_t id) {
  if (id == kList || id == kRiff || id == kJunk || id == kIdx1 || id == kIndx || IsStandardIndexId(id)) return true;
  const int c2 = static_cast<int>((id >> 16) & 0xFF), c3 = static_cast<int>(id >> 24);
  return StreamOfChunkId(id) >= 0 && c2 >= 'a' && c2 <= 'z' && c3 >= 'a' && c3 <= 'z';
}

int32_t VideoCodecOf(uint32_t tag) {
  switch (tag) {
    case FourCC("H264"): case FourCC("h264"): case FourCC("X264"): case FourCC("x264"):
    case FourCC("AVC1"): case FourCC("avc1"): case FourCC("DAVC"): return codec_id::kH264;
    case FourCC("HEVC"): case FourCC("H265"): case FourCC("hev1"): case FourCC("hvc1"): return codec_id::kHevc;
    case FourCC("FLV1"): return codec_id::kH263;
    default: return codec_id::kUnknown;
  }
}

int32_t AudioCodecOf(uint32_t format_tag, int bits) {
  switch (format_tag) {
    case 0x0001: return bits == 8 ? codec_id::kPcmU8 : codec_id::kPcmS16le;
    case 0x0002: return codec_id::kAdpcmMs;
    case 0x0011: return codec_id::kAdpcmImaWav;
    case 0x0055: return codec_id::kMp3;
    case 0x00FF: case 0x1600: case 0x706D: return codec_id::kAac;
    default: return codec_id::kUnknown;
  }
}

// Little-endian readers over a kept chunk.
struct Cursor {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;
  uint32_t U(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(at < bytes.size() ? bytes[at++] : 0) << (8 * i);
    return v;
  }
};

}  // namespace

int AviDemuxer::VideoStream() const {
  for (int i = 0; i < ctx_.nb_streams; ++i) {
    if (ctx_.streams[static_cast<size_t>(i)]->kind == kKindVideo) return i;
  }
  return -1;
}

int AviDemuxer::Open(ByteIOContext* pb, std::string_view) {
  ctx_ = AVFormatContext{};
  ctx_.pb = pb;
  pb_ = pb;
  info_.clear();
  tags_.clear();
  odml_ = non_interleaved_ = index_loaded_ = index_scanned_ = dv_ = reverse_active_ = false;
  cipher_marker_ = 0;
  us_per_frame_ = 0;
  ResetDamage();
  const int r = ReadHeader();
  if (r < 0) return r;
  if (!index_loaded_ && !pb_->is_streamed) ReadIdx1();
  CheckInterleave();
  for (auto& info : info_) info.frame_offset = 0;
  if (file_size_ != INT64_MAX) ctx_.file_size = file_size_;
  // Duration: the video stream's length, else its index.
  if (const int v = VideoStream(); v >= 0) {
    const AviStreamInfo& info = info_[static_cast<size_t>(v)];
    const AVRational tb = ctx_.streams[static_cast<size_t>(v)]->time_base;
    int64_t frames = info.length;
    if (frames <= 0 && !info.index.empty()) frames = info.index.entries().back().timestamp + 1;
    if (frames > 0) ctx_.duration = av_rescale_q(frames, tb, {1, 1000000});
  }
  url_fseek(pb_, movi_start_, SEEK_SET);
  return 0;
}

int AviDemuxer::ReadHeader() {
  file_size_ = url_fsize(pb_);
  if (file_size_ < 0) file_size_ = INT64_MAX;
  const uint32_t riff = get_le32(pb_);
  get_le32(pb_);
  const uint32_t form = get_le32(pb_);
  const bool valid = (riff == kRiff && (form == FourCC("AVI ") || form == FourCC("AVIX") ||
                                        form == (FourCC("AVI ") & 0x00FFFFFF) + (0x19u << 24) ||
                                        form == FourCC("AMV "))) ||
                     (riff == FourCC("ON2 ") && form == FourCC("ON2f"));
  if (!valid || url_feof(pb_)) return -1;

  int strl_lists = 0;
  int current = -1;  // position of the stream the next "strf" / "indx" belongs to
  std::vector<std::pair<int, std::vector<uint64_t>>> super_indexes;
  for (;;) {
    const int64_t chunk_pos = url_ftell(pb_);
    const uint32_t tag = get_le32(pb_);
    const uint32_t size = get_le32(pb_);
    if (url_feof(pb_)) return -1;  // no "movi": not a playable file
    const int64_t chunk_end = chunk_pos + 8 + size + (size & 1);
    if (tag == kList) {
      const uint32_t type = get_le32(pb_);
      if (type == kMovi) {
        movi_list_ = chunk_pos + 8;
        movi_start_ = movi_list_ + 4;
        movi_end_ = size >= 4 ? std::min<int64_t>(movi_list_ + size, file_size_) : file_size_;
        break;
      }
      if (type == kStrl) ++strl_lists;
      if (type == kInfo) {
        const int64_t list_end = std::min<int64_t>(chunk_pos + 8 + size, file_size_);
        while (url_ftell(pb_) + 8 <= list_end) {
          const int64_t at = url_ftell(pb_);
          const uint32_t id = get_le32(pb_);
          const uint32_t n = get_le32(pb_);
          if (url_feof(pb_)) break;
          std::string text(std::min<uint32_t>(n, 1024), '\0');
          text.resize(static_cast<size_t>(get_buffer(pb_, reinterpret_cast<uint8_t*>(text.data()), static_cast<int>(text.size()))));
          text.resize(std::strlen(text.c_str()));
          static const std::pair<uint32_t, const char*> kInfoTags[] = {
              {FourCC("INAM"), "Title"}, {FourCC("IART"), "Artist"}, {FourCC("ICOP"), "Copyright"},
              {FourCC("ICMT"), "Comment"}, {FourCC("IPRD"), "Album"}, {FourCC("IGNR"), "Genre"},
              {FourCC("IPRT"), "Track"}, {FourCC("ISFT"), "Software"}};
          for (const auto& [code, name] : kInfoTags) {
            if (code == id) tags_[name] = text;
          }
          url_fseek(pb_, at + 8 + n + (n & 1), SEEK_SET);
        }
        url_fseek(pb_, chunk_end, SEEK_SET);
      }
      continue;  // other lists: read their chunks in turn
    }
    if (tag == kAvih || tag == kAmvh) {
      us_per_frame_ = get_le32(pb_);
      const uint32_t max_bytes_per_sec = get_le32(pb_);
      get_le32(pb_);  // padding granularity
      const uint32_t flags = get_le32(pb_);
      for (int i = 0; i < 4; ++i) get_le32(pb_);  // total/initial frames, streams, buffer size
      get_le32(pb_);  // width
      get_le32(pb_);  // height
      cipher_marker_ = get_le32(pb_);
      if (flags & 0x20) non_interleaved_ = true;  // must use the index
      (void)max_bytes_per_sec;
    } else if (tag == kStrh) {
      const uint32_t type = get_le32(pb_);
      const uint32_t handler = get_le32(pb_);
      if (type == FourCC("pads")) {
        --strl_lists;  // padding streams are not counted
        current = -1;
        url_fseek(pb_, chunk_end, SEEK_SET);
        continue;
      }
      int kind;
      if (type == FourCC("vids")) {
        kind = kKindVideo;
      } else if (type == FourCC("auds")) {
        kind = kKindAudio;
      } else if (type == FourCC("dats") || type == FourCC("txts")) {
        kind = kKindData;
      } else if ((type == FourCC("iavs") || type == FourCC("ivas")) &&
                 (handler == FourCC("dvsd") || handler == FourCC("dvhd") || handler == FourCC("dvsl"))) {
        kind = kKindVideo;
        dv_ = true;
      } else {
        return -1;
      }
      AVStream* st = av_new_stream(&ctx_, ctx_.nb_streams);
      if (!st) return -1;
      st->kind = kind;
      if (kind == kKindVideo) ++ctx_.nb_video;
      if (kind == kKindAudio) ++ctx_.nb_audio;
      if (kind == kKindData) ++ctx_.nb_data;
      AviStreamInfo& info = info_.emplace_back();
      info.type = type;
      info.handler = handler;
      url_fskip(pb_, 12);  // flags, priority, language, initial frames
      uint32_t scale = get_le32(pb_);
      uint32_t rate = get_le32(pb_);
      if (scale == 0 || rate == 0) {
        scale = us_per_frame_ ? static_cast<uint32_t>(us_per_frame_) : 1;
        rate = us_per_frame_ ? 1000000 : 25;
      }
      info.start = get_le32(pb_);
      info.length = get_le32(pb_);
      url_fskip(pb_, 8);  // suggested buffer size, quality
      info.sample_size = static_cast<int32_t>(get_le32(pb_));
      if (kind == kKindVideo || info.sample_size < 0) info.sample_size = 0;
      const int64_t g = av_gcd(scale, rate);
      const int64_t num = static_cast<int64_t>(scale) / g, den = static_cast<int64_t>(rate) / g;
      info.scale = static_cast<int32_t>(std::min<int64_t>(num, INT32_MAX));
      info.rate = static_cast<int32_t>(std::min<int64_t>(den, INT32_MAX));
      st->time_base = {info.scale, info.rate};
      st->pts_wrap_bits = 64;
      if (kind == kKindVideo && rate && scale) st->frame_rate = static_cast<int32_t>(rate / scale);
      current = ctx_.nb_streams - 1;
    } else if (tag == kStrf && current >= 0) {
      AviStreamInfo& info = info_[static_cast<size_t>(current)];
      AVStream& st = *ctx_.streams[static_cast<size_t>(current)];
      if (size <= kMaxKeptFormat) {
        info.format.resize(size);
        info.format.resize(static_cast<size_t>(std::max(0, get_buffer(pb_, info.format.data(), static_cast<int>(size)))));
      }
      Cursor in{info.format};
      if (st.kind == kKindVideo && info.format.size() >= 40) {
        in.U(4);
        const int32_t width = static_cast<int32_t>(in.U(4));
        const int32_t height = static_cast<int32_t>(in.U(4));
        // A negative height marks a top-down bitmap; the most negative value
        // has no positive counterpart and, like a negative width, is no size.
        st.width = std::max(width, 0);
        st.height = height == INT32_MIN ? 0 : height < 0 ? -height : height;
        in.U(2);
        st.bits_per_sample = static_cast<int32_t>(in.U(2));
        info.codec_tag = in.U(4);
        st.codec_id = VideoCodecOf(info.codec_tag);
        if (info.format.size() > 40) info.extradata.assign(info.format.begin() + 40, info.format.end());
        if (info.codec_tag == 0 && height > 0) {
          static const uint8_t kBottomUp[] = {'B', 'o', 't', 't', 'o', 'm', 'U', 'p', 0};
          info.extradata.insert(info.extradata.end(), std::begin(kBottomUp), std::end(kBottomUp));
        }
      } else if (st.kind == kKindAudio && info.format.size() >= 16) {
        info.codec_tag = in.U(2);
        st.channels = static_cast<int32_t>(in.U(2));
        st.sample_rate = static_cast<int32_t>(in.U(4));
        info.avg_bytes_per_sec = static_cast<int32_t>(in.U(4));
        info.block_align = static_cast<int32_t>(in.U(2));
        st.bits_per_sample = static_cast<int32_t>(in.U(2));
        st.bit_rate = info.avg_bytes_per_sec > 0 && info.avg_bytes_per_sec < INT32_MAX / 8 ? info.avg_bytes_per_sec * 8 : 0;
        st.codec_id = AudioCodecOf(info.codec_tag, st.bits_per_sample);
        if (info.handler == FourCC("Axan")) st.codec_id = codec_id::kXanDpcm;
        if (info.format.size() >= 18) {
          const size_t extra = std::min<size_t>(in.U(2), info.format.size() - 18);
          info.extradata.assign(info.format.begin() + 18, info.format.begin() + 18 + static_cast<std::ptrdiff_t>(extra));
        }
      }
    } else if (tag == kIndx && current >= 0 && !pb_->is_streamed) {
      // OpenDML super index: the standard indexes it points to are read below.
      get_le16(pb_);
      get_byte(pb_);
      const int index_type = get_byte(pb_);
      uint32_t entries = get_le32(pb_);
      url_fskip(pb_, 16);  // chunk id, reserved
      if (index_type == 0 /* index of indexes */) {
        entries = std::min<uint32_t>(entries, size >= 24 ? (size - 24) / 16 : 0);
        std::vector<uint64_t> offsets;
        for (uint32_t i = 0; i < entries && !url_feof(pb_); ++i) {
          offsets.push_back(get_le64(pb_));
          get_le32(pb_);
          get_le32(pb_);
        }
        super_indexes.emplace_back(current, std::move(offsets));
      }
    } else if (tag == kDmlh) {
      odml_ = true;
    } else if (tag != kVprp && tag != kJunk && size > kMaxHeaderChunk) {
      // Something this large where a header chunk belongs: the data starts here.
      movi_list_ = chunk_pos - 4;
      movi_start_ = chunk_pos;
      movi_end_ = file_size_;
      break;
    }
    url_fseek(pb_, chunk_end, SEEK_SET);
  }
  if (ctx_.nb_streams != strl_lists || ctx_.nb_streams == 0) return -1;
  if (dv_ && ctx_.nb_streams != 1) return -1;
  const int64_t resume = url_ftell(pb_);
  for (auto& [stream, offsets] : super_indexes) {
    AviStreamInfo& info = info_[static_cast<size_t>(stream)];
    info.frame_offset = 0;
    for (uint64_t offset : offsets) {
      if (offset < static_cast<uint64_t>(file_size_)) ReadStandardIndex(info, static_cast<int64_t>(offset));
    }
    if (!info.index.empty()) index_loaded_ = true;
  }
  url_fseek(pb_, resume, SEEK_SET);
  return 0;
}

int64_t AviDemuxer::Duration(const AviStreamInfo& info, uint32_t size) const {
  return info.sample_size ? static_cast<int64_t>(size) : 1;
}

int64_t AviDemuxer::TimestampOf(const AviStreamInfo& info) const {
  return info.sample_size ? info.frame_offset / info.sample_size : info.frame_offset;
}

void AviDemuxer::ReadStandardIndex(AviStreamInfo& info, int64_t pos) {
  if (url_fseek(pb_, pos, SEEK_SET) < 0) return;
  const uint32_t id = get_le32(pb_);
  const uint32_t size = get_le32(pb_);
  get_le16(pb_);
  get_byte(pb_);
  const int index_type = get_byte(pb_);
  uint32_t entries = get_le32(pb_);
  get_le32(pb_);  // chunk id
  const uint64_t base = get_le64(pb_);
  get_le32(pb_);
  if (!IsStandardIndexId(id) || index_type != 1 || url_feof(pb_)) return;
  entries = std::min<uint32_t>(entries, size >= 24 ? (size - 24) / 8 : 0);
  for (uint32_t i = 0; i < entries && !url_feof(pb_); ++i) {
    const uint32_t offset = get_le32(pb_);
    const uint32_t raw = get_le32(pb_);
    const uint32_t chunk_size = raw & 0x7FFFFFFF;
    // Offsets point at the data; the index keeps the chunk header's position.
    info.index.Add({static_cast<int64_t>(base + offset) - 8, TimestampOf(info), chunk_size, (raw & 0x80000000u) == 0});
    info.frame_offset += Duration(info, chunk_size);
  }
}

bool AviDemuxer::ReadIdx1() {
  if (movi_end_ <= 0 || url_fseek(pb_, movi_end_, SEEK_SET) < 0) return false;
  for (;;) {
    const int64_t chunk_pos = url_ftell(pb_);
    const uint32_t tag = get_le32(pb_);
    const uint32_t size = get_le32(pb_);
    if (url_feof(pb_)) return false;
    if (tag != kIdx1) {
      if (url_fseek(pb_, chunk_pos + 8 + size + (size & 1), SEEK_SET) < 0) return false;
      continue;
    }
    std::vector<int64_t> last_pos(info_.size(), -1);
    for (auto& info : info_) info.frame_offset = 0;
    int64_t base = -1;
    for (uint32_t i = 0; i < size / 16 && !url_feof(pb_); ++i) {
      const uint32_t id = get_le32(pb_);
      const uint32_t flags = get_le32(pb_);
      const uint32_t offset = get_le32(pb_);
      const uint32_t chunk_size = get_le32(pb_);
      const int stream = StreamOfChunkId(id);
      if (stream < 0 || stream >= ctx_.nb_streams) continue;
      // Offsets count from the "movi" fourcc, unless the first one already
      // lies beyond the data start (absolute offsets).
      if (base < 0) base = offset >= movi_start_ ? 0 : movi_list_;
      const int64_t pos = base + offset;
      AviStreamInfo& info = info_[static_cast<size_t>(stream)];
      if (pos == last_pos[static_cast<size_t>(stream)]) non_interleaved_ = true;
      last_pos[static_cast<size_t>(stream)] = pos;
      info.index.Add({pos, TimestampOf(info), chunk_size, (flags & 0x10) != 0});
      info.frame_offset += Duration(info, chunk_size);
    }
    for (auto& info : info_) {
      info.frame_offset = 0;
      if (!info.index.empty()) index_loaded_ = true;
    }
    return index_loaded_;
  }
}

void AviDemuxer::CheckInterleave() {
  for (const auto& a : info_) {
    for (const auto& b : info_) {
      if (&a == &b || a.index.empty() || b.index.empty()) continue;
      if (a.index.entries().front().pos > b.index.entries().back().pos) non_interleaved_ = true;
    }
  }
  if (!index_loaded_) non_interleaved_ = false;  // without an index there is only the scan
}

int AviDemuxer::ReadChunkPayload(int stream, uint32_t size, int64_t chunk_pos, ReaderPacket& packet) {
  AviStreamInfo& info = info_[static_cast<size_t>(stream)];
  const AVStream& st = *ctx_.streams[static_cast<size_t>(stream)];
  if (!packet.Reserve(static_cast<int32_t>(size))) return kErrNoMemory;
  packet.pos = chunk_pos + 8;
  if (get_buffer(pb_, packet.data.get(), static_cast<int>(size)) != static_cast<int>(size)) {
    packet.Release();
    return kAviEndOfFile;  // truncated
  }
  packet.size = static_cast<int32_t>(size);
  packet.pts = packet.dts = TimestampOf(info);
  packet.stream_index = stream;
  bool key = true;
  if (st.kind == kKindVideo && !info.index.empty()) {
    const IndexEntry* e = info.index.AtPosition(chunk_pos);
    key = e ? e->key : false;
  } else if (st.kind == kKindVideo) {
    key = StartsGroupOfPictures(st.codec_id, packet.data.get(), std::min<size_t>(size, kKeyProbeBytes));
  }
  packet.flags = key ? kPacketFlagKey : 0;
  info.frame_offset += Duration(info, size);
  if (size & 1) get_byte(pb_);
  last_chunk_pos_ = chunk_pos;
  return packet.size;
}

int AviDemuxer::NextChunk(Chunk& chunk) {
  int64_t damaged_from = -1;  // where the bytes that are no chunk began
  bool cut_short = false;     // ... with a chunk whose data runs past the end
  auto at_end = [&] {
    if (damaged_from >= 0) {
      if (cut_short) {
        damage_.truncated = true;
      } else {
        NoteSkipped(url_ftell(pb_) - damaged_from);
      }
    }
    return kAviEndOfFile;
  };
  for (;;) {
    const uint8_t* p = url_fpeek(pb_, 12);
    if (!p) {
      p = url_fpeek(pb_, 8);
      if (!p) return at_end();
    }
    const int64_t pos = url_ftell(pb_);
    const uint32_t id = Le32(p);
    const uint32_t size = Le32(p + 4);
    const int64_t next = pos + 8 + size + (size & 1);
    const bool whole_header = pb_->buf_end - pb_->buf_ptr >= 12;
    if (id == kList && whole_header && (Le32(p + 8) == kMovi || Le32(p + 8) == kRec)) {
      url_fconsume(pb_, 12);  // step inside
      continue;
    }
    if (id == kRiff && whole_header && Le32(p + 8) == FourCC("AVIX")) {
      url_fconsume(pb_, 12);  // the next movi list follows
      continue;
    }
    const bool index = id == kIdx1 || id == kIndx || IsStandardIndexId(id);
    if (index && next > file_size_ && damaged_from < 0) return at_end();  // an index cut short ends the data
    if ((index || id == kList || id == kJunk) && next <= file_size_) {
      url_fseek(pb_, next, SEEK_SET);
      continue;
    }
    const int stream = StreamOfChunkId(id);
    const int c2 = static_cast<int>((id >> 16) & 0xFF), c3 = static_cast<int>(id >> 24);
    const bool letters = c2 >= 'a' && c2 <= 'z' && c3 >= 'a' && c3 <= 'z';
    if (stream >= 0 && stream < ctx_.nb_streams && letters) {
      // While resynchronising, a candidate counts only when the next chunk
      // follows it: a stray id in noise must not swallow what comes after.
      const auto followed = [&] {
        if (damaged_from < 0) return true;
        uint8_t behind[4];  // looked at without moving: the scan keeps its buffer
        return url_fpeek_at(pb_, next, behind, 4) != 4 || ChunkHeaderId(Le32(behind));
      };
      if (size <= kMaxChunkSize && pos + 8 + static_cast<int64_t>(size) <= file_size_ && followed()) {
        if (damaged_from >= 0) NoteSkipped(pos - damaged_from);
        damaged_from = -1;
        if (c2 == 'p' && c3 == 'c') {  // palette change
          url_fseek(pb_, next, SEEK_SET);
          continue;
        }
        url_fseek(pb_, pos + 8, SEEK_SET);
        if (size == 0) {  // an empty chunk holds a frame's place
          info_[static_cast<size_t>(stream)].frame_offset += Duration(info_[static_cast<size_t>(stream)], 0);
          continue;
        }
        chunk = {pos, stream, size};
        return 0;
      }
      if (damaged_from < 0) cut_short = true;  // the file may end inside this chunk
    }
    // Not a chunk header: damage. Try again one byte further, passing over
    // the buffered bytes that cannot begin one.
    if (damaged_from < 0) damaged_from = pos;
    url_fseek(pb_, pos + 1, SEEK_SET);
    if (!url_fpeek(pb_, 1)) continue;
    const uint8_t* q = pb_->buf_ptr;
    while (q < pb_->buf_end && !CanBeginChunk(*q)) ++q;
    url_fconsume(pb_, static_cast<int>(q - pb_->buf_ptr));
  }
}

bool AviDemuxer::ChunkFollows() {
  const uint8_t* p = url_fpeek(pb_, 8);
  return !p || ChunkHeaderId(Le32(p));  // or the end of the file
}

bool AviDemuxer::HoldsChunkHeader(const ReaderPacket& packet) const {
  const uint8_t* d = packet.data.get();
  for (int32_t i = 0; i + 8 <= packet.size; ++i) {
    if (d[i] < '0' || d[i] > '9' || d[i + 1] < '0' || d[i + 1] > '9') continue;
    const int stream = (d[i] - '0') * 10 + (d[i + 1] - '0');
    if (stream >= ctx_.nb_streams || d[i + 7] != 0) continue;  // chunks of 16 MiB and more are not expected
    const bool video = ctx_.streams[static_cast<size_t>(stream)]->kind == kKindVideo;
    if ((video && d[i + 2] == 'd' && (d[i + 3] == 'c' || d[i + 3] == 'b')) ||
        (!video && d[i + 2] == 'w' && d[i + 3] == 'b'))
      return true;
  }
  return false;
}

int AviDemuxer::ReadInterleaved(ReaderPacket& packet) {
  for (;;) {
    Chunk chunk;
    const int r = NextChunk(chunk);
    if (r < 0) return r;
    const int read = ReadChunkPayload(chunk.stream, chunk.size, chunk.pos, packet);
    if (read < 0) return read;
    if (!ChunkFollows() && HoldsChunkHeader(packet)) {
      // The size was damaged and the payload swallowed the chunks after it:
      // what was read is not this chunk. Resynchronise from just behind its
      // header. (Garbage after an intact chunk is crossed by the next read.)
      AviStreamInfo& info = info_[static_cast<size_t>(chunk.stream)];
      info.frame_offset -= Duration(info, chunk.size);
      NoteDropped();
      url_fseek(pb_, chunk.pos + 1, SEEK_SET);
      continue;
    }
    const AVStream& st = *ctx_.streams[static_cast<size_t>(chunk.stream)];
    NoteDelivered(av_rescale_q(packet.pts, st.time_base, {1, 1000000}));
    return read;
  }
}

void AviDemuxer::EnsureIndex() {
  if (index_loaded_ || index_scanned_ || pb_->is_streamed) return;
  index_scanned_ = true;
  // Reading meets the same damage again: the scan does not count it.
  const DamageState damage = SaveDamage();
  const int64_t resume = url_ftell(pb_);
  std::vector<int64_t> offsets;
  for (auto& info : info_) {
    offsets.push_back(info.frame_offset);
    info.frame_offset = 0;
  }
  url_fseek(pb_, movi_start_, SEEK_SET);
  std::vector<uint8_t> head(kKeyProbeBytes);
  Chunk chunk;
  while (NextChunk(chunk) == 0) {
    AviStreamInfo& info = info_[static_cast<size_t>(chunk.stream)];
    const AVStream& st = *ctx_.streams[static_cast<size_t>(chunk.stream)];
    bool key = true;
    if (st.kind == kKindVideo) {
      const int n = get_buffer(pb_, head.data(), static_cast<int>(std::min<size_t>(chunk.size, head.size())));
      key = StartsGroupOfPictures(st.codec_id, head.data(), static_cast<size_t>(std::max(n, 0)));
    }
    info.index.Add({chunk.pos, TimestampOf(info), chunk.size, key});
    info.frame_offset += Duration(info, chunk.size);
    url_fseek(pb_, chunk.pos + 8 + chunk.size + (chunk.size & 1), SEEK_SET);
  }
  for (size_t i = 0; i < info_.size(); ++i) {
    info_[i].frame_offset = offsets[i];
    if (!info_[i].index.empty()) index_loaded_ = true;
  }
  RestoreDamage(damage);
  url_fseek(pb_, resume, SEEK_SET);
}

int AviDemuxer::ReadByIndex(ReaderPacket& packet) {
  for (;;) {
    int best = -1;
    int64_t best_us = INT64_MAX;
    for (size_t i = 0; i < info_.size(); ++i) {
      const auto& entries = info_[i].index.entries();
      if (info_[i].next_entry >= entries.size()) continue;
      const int64_t us = av_rescale_q(entries[info_[i].next_entry].timestamp, ctx_.streams[i]->time_base, {1, 1000000});
      if (us < best_us) {
        best_us = us;
        best = static_cast<int>(i);
      }
    }
    if (best < 0) return kAviEndOfFile;
    AviStreamInfo& info = info_[static_cast<size_t>(best)];
    const IndexEntry& e = info.index.entries()[info.next_entry++];
    info.frame_offset = info.sample_size ? e.timestamp * info.sample_size : e.timestamp;
    if (e.size == 0) continue;
    if (url_fseek(pb_, e.pos, SEEK_SET) < 0) return kAviEndOfFile;
    const uint32_t id = get_le32(pb_);
    const uint32_t size = get_le32(pb_);
    if (url_feof(pb_)) return kAviEndOfFile;
    if (StreamOfChunkId(id) != best || size != e.size) {  // the index lies: skip the entry
      NoteDropped();
      continue;
    }
    const int read = ReadChunkPayload(best, size, e.pos, packet);
    if (read >= 0) NoteDelivered(best_us);
    return read;
  }
}

int AviDemuxer::ReadPacket(ReaderPacket& packet) {
  return non_interleaved_ ? ReadByIndex(packet) : ReadInterleaved(packet);
}

void AviDemuxer::PositionStreamsAt(int64_t pos, int64_t time_us) {
  for (size_t i = 0; i < info_.size(); ++i) {
    AviStreamInfo& info = info_[i];
    const AVRational tb = ctx_.streams[i]->time_base;
    const int by_time = info.index.FirstAtOrAfter(av_rescale_q(time_us, {1, 1000000}, tb));
    const int at = non_interleaved_ ? by_time : info.index.FirstAtOrAfterPosition(pos);
    const auto& entries = info.index.entries();
    info.next_entry = at < 0 ? entries.size() : static_cast<size_t>(at);
    const int64_t ts = at < 0 ? (entries.empty() ? 0 : entries.back().timestamp + 1) : entries[static_cast<size_t>(at)].timestamp;
    info.frame_offset = info.sample_size ? ts * info.sample_size : ts;
  }
}

bool AviDemuxer::Seek(int64_t target_us) { return SeekTo(target_us, true); }

bool AviDemuxer::SeekKeyAtOrBefore(int64_t target_us) { return SeekTo(target_us, false); }

bool AviDemuxer::SeekTo(int64_t target_us, bool nearest) {
  EnsureIndex();
  const int v = VideoStream();
  if (v < 0 || target_us < 0) return false;
  const AviStreamInfo& video = info_[static_cast<size_t>(v)];
  const AVRational tb = ctx_.streams[static_cast<size_t>(v)]->time_base;
  const int64_t target = av_rescale_q(target_us, {1, 1000000}, tb);
  const int e = nearest ? video.index.NearestKey(target) : video.index.KeyAtOrBefore(target);
  if (e < 0) return false;
  const IndexEntry& key = video.index.entries()[static_cast<size_t>(e)];
  PositionStreamsAt(key.pos, av_rescale_q(key.timestamp, tb, {1, 1000000}));
  return url_fseek(pb_, key.pos, SEEK_SET) >= 0;
}

int AviDemuxer::OpenReverse(ByteIOContext* pb, std::string_view file_name) {
  const int r = Open(pb, file_name);
  if (r < 0) return r;
  if (non_interleaved_) return kErrInvalid;  // reverse play follows the file order of groups
  EnsureIndex();
  reverse_.Reset(movi_end_ > movi_start_ ? movi_end_ : file_size_);
  reverse_active_ = true;
  in_group_ = false;
  return 0;
}

bool AviDemuxer::SeekReverse(int64_t target_us) {
  const int v = VideoStream();
  if (!reverse_active_ || v < 0 || target_us < 0) return false;
  const AviStreamInfo& video = info_[static_cast<size_t>(v)];
  const int64_t target = av_rescale_q(target_us, {1, 1000000}, ctx_.streams[static_cast<size_t>(v)]->time_base);
  // Behind the group that holds the target: where the next group begins.
  const int next = video.index.KeyAtOrAfter(target + 1);
  if (next >= 0) {
    const IndexEntry& key = video.index.entries()[static_cast<size_t>(next)];
    reverse_.Reset(key.pos, key.timestamp);
  } else {
    reverse_.Reset(movi_end_ > movi_start_ ? movi_end_ : file_size_);
  }
  in_group_ = false;
  return true;
}

int AviDemuxer::ReadPacketReverse(ReaderPacket& packet) {
  if (!reverse_active_) return kErrInvalid;
  const int v = VideoStream();
  if (v < 0) return kAviEndOfFile;
  const AviStreamInfo& video = info_[static_cast<size_t>(v)];
  const AVRational tb = ctx_.streams[static_cast<size_t>(v)]->time_base;
  for (;;) {
    if (!in_group_ || !reverse_.Contains(url_ftell(pb_))) {
      in_group_ = true;
      if (!reverse_.StepBack(video.index)) return kAviEndOfFile;
      PositionStreamsAt(reverse_.group_start(), av_rescale_q(reverse_.key_time(), tb, {1, 1000000}));
      url_fseek(pb_, reverse_.group_start(), SEEK_SET);
    }
    const int r = ReadInterleaved(packet);
    if (r == kAviEndOfFile || (r >= 0 && !reverse_.Contains(last_chunk_pos_))) {
      in_group_ = false;  // outside the group: step back on the next pass
      continue;
    }
    if (r < 0) return r;
    if ((packet.flags & kPacketFlagKey) || (packet.stream_index == v && reverse_.InGroup(packet.dts))) return r;
  }
}

}  // namespace qvv

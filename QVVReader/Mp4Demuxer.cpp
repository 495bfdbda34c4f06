#include "QVVReader/Mp4Demuxer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace qvv {
namespace {

constexpr int kIoBufferSize = 32768;
// AV_TIME_BASE_Q spelled out: inside qvv its macro would name the reader's AVRational.
constexpr ::AVRational kMicroseconds{1, AV_TIME_BASE};

// libavformat reads the caller's byte context through these.
int ReadThrough(void* opaque, uint8_t* buf, int size) {
  auto* pb = static_cast<ByteIOContext*>(opaque);
  const int got = get_buffer(pb, buf, size);
  if (got > 0) return got;
  return pb->error < 0 ? AVERROR(EIO) : AVERROR_EOF;
}

int64_t SeekThrough(void* opaque, int64_t offset, int whence) {
  auto* pb = static_cast<ByteIOContext*>(opaque);
  if (whence & AVSEEK_SIZE) {
    const int64_t size = url_fsize(pb);
    return size >= 0 ? size : AVERROR(ENOSYS);
  }
  whence &= ~AVSEEK_FORCE;
  if (whence == SEEK_END) {
    const int64_t size = url_fsize(pb);
    if (size < 0) return AVERROR(ENOSYS);
    offset += size;
    whence = SEEK_SET;
  }
  if (whence != SEEK_SET && whence != SEEK_CUR) return AVERROR(EINVAL);
  const int64_t at = url_fseek(pb, offset, whence);
  return at < 0 ? AVERROR(EIO) : at;
}

int KindOf(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: return kKindVideo;
    case AVMEDIA_TYPE_AUDIO: return kKindAudio;
    case AVMEDIA_TYPE_DATA: return kKindData;
    default: return -1;
  }
}

// libavcodec's ids are the engine's, except H.264: the reader's other
// containers and the engine know it by the older number.
int32_t EngineCodecId(AVCodecID id) {
  if (id == AV_CODEC_ID_H264) return codec_id::kH264;
  return static_cast<int32_t>(id);
}

// The HEVC track header (hvcC) lists its parameter sets in arrays of
// length-prefixed units. libavcodec's filter pads a list that runs past the
// header's end with empty units, up to sixteen million of them, one
// reallocation each: such a header is damaged and is not handed on.
bool HevcHeaderFits(const uint8_t* p, int size) {
  constexpr int kFixedPart = 22;
  if (!p || size < 4) return false;
  if (p[0] == 0 && p[1] == 0 && (p[2] == 1 || (p[2] == 0 && p[3] == 1))) return true;  // already Annex B
  if (size < kFixedPart + 1) return false;
  int at = kFixedPart;
  const int arrays = p[at++];
  for (int a = 0; a < arrays; ++a) {
    if (size - at < 3) return false;
    const int units = (p[at + 1] << 8) | p[at + 2];
    at += 3;
    for (int u = 0; u < units; ++u) {
      if (size - at < 2) return false;
      const int length = (p[at] << 8) | p[at + 1];
      at += 2;
      if (size - at < length) return false;
      at += length;
    }
  }
  return true;
}

int32_t ClampToInt32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, INT32_MAX)); }

int64_t ToMicroseconds(int64_t t, ::AVRational tb) {
  if (t == AV_NOPTS_VALUE) return kNoPtsValue;
  return ::av_rescale_q(t, tb, kMicroseconds);
}

}  // namespace

Mp4Demuxer::~Mp4Demuxer() { Close(); }

void Mp4Demuxer::Close() {
  for (auto*& f : filters_) av_bsf_free(&f);
  filters_.clear();
  filter_state_.clear();
  draining_ = nullptr;
  av_packet_free(&pkt_);
  avformat_close_input(&fmt_);
  if (avio_) {
    av_freep(&avio_->buffer);
    avio_context_free(&avio_);
  }
  file_cut_ = false;
}

int Mp4Demuxer::Fail(int averror, const char* what) {
  char reason[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(averror, reason, sizeof reason);
  error_text_ = std::string(what) + ": " + reason;
  if (averror == AVERROR(ENOMEM)) return kErrNoMemory;
  if (averror == AVERROR(ENOENT)) return kErrNotFound;
  // Negated errno values are the system's word (a read failed); libavformat's
  // own codes say the data is not what it should be.
  return averror > -4096 ? kErrIO : kErrInvalid;
}

int Mp4Demuxer::Open(ByteIOContext* pb, std::string_view file_name) {
  Close();
  ctx_ = AVFormatContext{};
  ctx_.pb = pb;
  ResetDamage();
  error_text_.clear();
  const std::string name(file_name);
  // The recorder writes MP4 only: other containers under this extension are
  // not read, and no other protocol than a plain file is opened.
  const AVInputFormat* mp4 = av_find_input_format("mp4");
  fmt_ = avformat_alloc_context();
  pkt_ = av_packet_alloc();
  if (!mp4 || !fmt_ || !pkt_) {
    Close();
    return Fail(AVERROR(ENOMEM), "cannot start libavformat");
  }
  if (pb) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    avio_ = buffer ? avio_alloc_context(buffer, kIoBufferSize, 0, pb, ReadThrough, nullptr, SeekThrough) : nullptr;
    if (!avio_) {
      av_free(buffer);
      Close();
      return Fail(AVERROR(ENOMEM), "cannot start libavformat");
    }
    fmt_->pb = avio_;
    fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  const int r = avformat_open_input(&fmt_, name.c_str(), mp4, &options);  // frees fmt_ on failure
  av_dict_free(&options);
  if (r < 0) {
    const int code = Fail(r, "not a readable MP4 file (its 'moov' box, the track header, is missing or damaged)");
    Close();
    return code;
  }
  file_size_ = pb ? url_fsize(pb) : avio_size(fmt_->pb);
  if (file_size_ > 0) ctx_.file_size = file_size_;
  FillStreams();
  return 0;
}

int Mp4Demuxer::OpenReverse(ByteIOContext*, std::string_view) {
  Close();
  error_text_ = "MP4 recordings play forwards only";
  return kErrNoBackward;
}

int Mp4Demuxer::ReadPacketReverse(ReaderPacket&) { return kErrNoBackward; }

void Mp4Demuxer::FillStreams() {
  const unsigned count = fmt_->nb_streams;
  filters_.assign(count, nullptr);
  filter_state_.assign(count, Filter::Untried);
  int64_t longest = 0, earliest = INT64_MAX, promised_end = 0;
  for (unsigned i = 0; i < count; ++i) {
    ::AVStream* st = fmt_->streams[i];
    const AVCodecParameters* par = st->codecpar;
    const int kind = KindOf(par->codec_type);
    // A time base of nothing would divide by zero in every time computation.
    const bool usable = kind >= 0 && st->time_base.num > 0 && st->time_base.den > 0 &&
                        !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
    AVStream* ours = usable ? av_new_stream(&ctx_, static_cast<int>(i)) : nullptr;
    if (!ours) {
      st->discard = AVDISCARD_ALL;
      continue;
    }
    ours->kind = kind;
    ours->codec_id = EngineCodecId(par->codec_id);
    ours->bit_rate = ClampToInt32(par->bit_rate);
    ours->time_base = {st->time_base.num, st->time_base.den};
    ours->pts_wrap_bits = st->pts_wrap_bits;
    ours->start_time = st->start_time == AV_NOPTS_VALUE ? kNoPtsValue : st->start_time;
    ours->duration = st->duration == AV_NOPTS_VALUE ? kNoPtsValue : st->duration;
    if (kind == kKindVideo) {
      ++ctx_.nb_video;
      ours->width = std::max(par->width, 0);
      ours->height = std::max(par->height, 0);
      const ::AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
      if (rate.num > 0 && rate.den > 0) ours->frame_rate = ClampToInt32(std::llround(av_q2d(rate)));
    } else if (kind == kKindAudio) {
      ++ctx_.nb_audio;
      ours->sample_rate = std::max(par->sample_rate, 0);
      ours->channels = std::max(par->ch_layout.nb_channels, 0);
      ours->bits_per_sample = std::max(par->bits_per_coded_sample, 0);
    } else {
      ++ctx_.nb_data;
    }
    const int64_t start_us = ToMicroseconds(st->start_time, st->time_base);
    if (start_us != kNoPtsValue) earliest = std::min(earliest, start_us);
    const int64_t duration_us = ToMicroseconds(st->duration, st->time_base);
    if (duration_us != kNoPtsValue) longest = std::max(longest, duration_us);
    // Where the track header says the samples end: beyond the file's end
    // the file was cut short.
    const int entries = avformat_index_get_entries_count(st);
    for (int e = 0; e < entries; ++e) {
      if (const AVIndexEntry* entry = avformat_index_get_entry(st, e))
        promised_end = std::max(promised_end, entry->pos + entry->size);
    }
  }
  // The container's duration, or the longest stream's when it has none.
  if (fmt_->duration != AV_NOPTS_VALUE && fmt_->duration > 0) {
    ctx_.duration = fmt_->duration;
  } else if (longest > 0) {
    ctx_.duration = longest;
  }
  if (fmt_->start_time != AV_NOPTS_VALUE) {
    ctx_.start_time = fmt_->start_time;
  } else if (earliest != INT64_MAX) {
    ctx_.start_time = earliest;
  }
  file_cut_ = file_size_ > 0 && promised_end > file_size_;
}

Mp4Demuxer::Filter Mp4Demuxer::PrepareFilter(int index) {
  Filter& state = filter_state_[static_cast<size_t>(index)];
  if (state != Filter::Untried) return state;
  const AVCodecParameters* par = fmt_->streams[index]->codecpar;
  const char* name = par->codec_id == AV_CODEC_ID_H264   ? "h264_mp4toannexb"
                     : par->codec_id == AV_CODEC_ID_HEVC ? "hevc_mp4toannexb"
                                                         : nullptr;
  if (!name) return state = Filter::NotNeeded;
  if (par->codec_id == AV_CODEC_ID_HEVC && !HevcHeaderFits(par->extradata, par->extradata_size))
    return state = Filter::Unusable;
  AVBSFContext*& filter = filters_[static_cast<size_t>(index)];
  const AVBitStreamFilter* bsf = av_bsf_get_by_name(name);
  if (!bsf || av_bsf_alloc(bsf, &filter) < 0) return state = Filter::Unusable;
  filter->time_base_in = fmt_->streams[index]->time_base;
  // The filter takes the parameter sets from the track header; without
  // usable ones the track cannot be turned into a byte stream.
  if (avcodec_parameters_copy(filter->par_in, par) < 0 || av_bsf_init(filter) < 0) {
    av_bsf_free(&filter);
    return state = Filter::Unusable;
  }
  return state = Filter::Ready;
}

int Mp4Demuxer::Deliver(ReaderPacket& packet) {
  const int size = pkt_->size;
  if (!packet.Reserve(size)) {
    av_packet_unref(pkt_);
    return kErrNoMemory;
  }
  if (size > 0) std::memcpy(packet.data.get(), pkt_->data, static_cast<size_t>(size));
  packet.size = size;
  packet.pts = pkt_->pts == AV_NOPTS_VALUE ? kNoPtsValue : pkt_->pts;
  packet.dts = pkt_->dts == AV_NOPTS_VALUE ? kNoPtsValue : pkt_->dts;
  packet.stream_index = pkt_->stream_index;
  packet.flags = (pkt_->flags & AV_PKT_FLAG_KEY) ? kPacketFlagKey : 0;
  packet.pos = pkt_->pos;
  const ::AVRational tb = fmt_->streams[pkt_->stream_index]->time_base;
  const int64_t t = ToMicroseconds(pkt_->pts != AV_NOPTS_VALUE ? pkt_->pts : pkt_->dts, tb);
  if (t != kNoPtsValue) NoteDelivered(t);
  av_packet_unref(pkt_);
  return size;
}

int Mp4Demuxer::ReadPacket(ReaderPacket& packet) {
  if (!fmt_) return kErrInvalid;
  for (;;) {
    if (draining_) {
      const int r = av_bsf_receive_packet(draining_, pkt_);
      if (r == 0) {
        pkt_->stream_index = draining_index_;  // whatever the filter left there
        return Deliver(packet);
      }
      draining_ = nullptr;
      if (r != AVERROR(EAGAIN)) NoteDropped();  // the filter could not take the packet apart
      continue;
    }
    const int r = av_read_frame(fmt_, pkt_);
    if (r < 0) {
      // The track header promises samples behind the file's end: the end
      // of what can be read, not of the recording.
      if (file_cut_) {
        damage_.truncated = true;
        error_text_ = "the file ends before its last packets (cut short)";
        return kErrIO;
      }
      if (r == AVERROR_EOF) return kErrEndOfStream;
      return Fail(r, "a packet could not be read");
    }
    const int index = pkt_->stream_index;
    const AVStream* ours = ctx_.FindStream(index);
    const bool key = pkt_->flags & AV_PKT_FLAG_KEY;
    if (!ours || index < 0 || static_cast<size_t>(index) >= filters_.size() || ours->discard >= kDiscardAll ||
        (ours->kind == kKindVideo && ours->discard >= kDiscardNonKey && !key) ||
        (ours->kind == kKindVideo && ours->discard >= kDiscardNonReference && (pkt_->flags & AV_PKT_FLAG_DISPOSABLE))) {
      av_packet_unref(pkt_);
      continue;
    }
    if (pkt_->flags & AV_PKT_FLAG_CORRUPT) {
      // libavformat read less than the sample's size.
      av_packet_unref(pkt_);
      if (file_cut_) {
        damage_.truncated = true;
        error_text_ = "the file ends inside a packet (cut short)";
        return kErrIO;
      }
      NoteDropped();
      continue;
    }
    if (ours->kind != kKindVideo) return Deliver(packet);
    // An empty packet would tell the filter that the stream has ended.
    if (pkt_->size <= 0) {
      av_packet_unref(pkt_);
      continue;
    }
    const Filter filter = PrepareFilter(index);
    if (filter == Filter::NotNeeded) return Deliver(packet);
    if (filter == Filter::Unusable || av_bsf_send_packet(filters_[static_cast<size_t>(index)], pkt_) < 0) {
      av_packet_unref(pkt_);
      NoteDropped();
      continue;
    }
    draining_ = filters_[static_cast<size_t>(index)];
    draining_index_ = index;
  }
}

bool Mp4Demuxer::Seek(int64_t target_us) {
  if (!fmt_) return false;
  int index = -1;
  for (unsigned i = 0; i < fmt_->nb_streams && index < 0; ++i) {
    const AVStream* ours = ctx_.FindStream(static_cast<int32_t>(i));
    if (ours && ours->kind == kKindVideo) index = static_cast<int>(i);
  }
  const int64_t target = std::max<int64_t>(target_us, 0);
  const int64_t ts = index >= 0 ? ::av_rescale_q(target, kMicroseconds, fmt_->streams[index]->time_base) : target;
  if (av_seek_frame(fmt_, index, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
  // A packet half through a filter belongs to the old position.
  for (auto* f : filters_) {
    if (f) av_bsf_flush(f);
  }
  draining_ = nullptr;
  return true;
}

}  // namespace qvv

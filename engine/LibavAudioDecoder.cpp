#include "engine/LibavAudioDecoder.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include "engine/EngineGlobals.h"
#include "engine/LibavLog.h"

namespace engine {

namespace {

// An AVChannelLayout that frees what a custom layout holds.
struct Layout {
  AVChannelLayout value{};
  Layout() = default;
  Layout(const Layout&) = delete;
  Layout& operator=(const Layout&) = delete;
  ~Layout() { av_channel_layout_uninit(&value); }
  // `layout` when it is set and valid, else the default for `channels`.
  bool Take(const AVChannelLayout& layout, int channels) {
    av_channel_layout_uninit(&value);
    if (layout.order != AV_CHANNEL_ORDER_UNSPEC && av_channel_layout_check(&layout))
      return av_channel_layout_copy(&value, &layout) == 0;
    if (channels <= 0) return false;
    av_channel_layout_default(&value, channels);
    return value.nb_channels > 0;
  }
};

}  // namespace

// libswresample set up for one input format, rate and layout and one output
// rate and layout (always signed 16-bit interleaved). Kept while the frames
// stay alike: setting one up for every packet made decoding 20-50% slower
// (bench/audio_decode_bench.cpp), and a resampler that changes the rate holds
// samples back that a new one would lose.
class LibavAudioDecoder::Resampler {
 public:
  ~Resampler() { swr_free(&swr_); }

  // Ready for frames like these; false when libswresample refuses them.
  bool Prepare(const AVChannelLayout& in_layout, AVSampleFormat in_format, int in_rate,
               const AVChannelLayout& out_layout, int out_rate) {
    if (swr_ && in_format == in_format_ && in_rate == in_rate_ && out_rate == out_rate_ &&
        av_channel_layout_compare(&in_layout, &in_layout_.value) == 0 &&
        av_channel_layout_compare(&out_layout, &out_layout_.value) == 0)
      return true;
    swr_free(&swr_);
    // FFmpeg 5.1 takes the layouts by non-const pointer but only reads them.
    if (swr_alloc_set_opts2(&swr_, const_cast<AVChannelLayout*>(&out_layout), AV_SAMPLE_FMT_S16, out_rate,
                            const_cast<AVChannelLayout*>(&in_layout), in_format, in_rate, 0, nullptr) < 0 ||
        swr_init(swr_) < 0) {
      swr_free(&swr_);
      return false;
    }
    av_channel_layout_uninit(&in_layout_.value);
    av_channel_layout_uninit(&out_layout_.value);
    if (av_channel_layout_copy(&in_layout_.value, &in_layout) < 0 ||
        av_channel_layout_copy(&out_layout_.value, &out_layout) < 0) {
      swr_free(&swr_);
      return false;
    }
    in_format_ = in_format;
    in_rate_ = in_rate;
    out_rate_ = out_rate;
    return true;
  }
  SwrContext* get() const { return swr_; }

 private:
  SwrContext* swr_ = nullptr;
  Layout in_layout_, out_layout_;
  AVSampleFormat in_format_ = AV_SAMPLE_FMT_NONE;
  int in_rate_ = 0;
  int out_rate_ = 0;
};

LibavAudioDecoder::LibavAudioDecoder() : resampler_(std::make_unique<Resampler>()), output_(kInitialOutputBytes) {}

LibavAudioDecoder::~LibavAudioDecoder() {
  Close();
  av_frame_free(&frame_);
  av_packet_free(&packet_);
}

void LibavAudioDecoder::Close() {
  if (!ctx_) return;
  // Codec set-up and tear-down are not safe to run in parallel.
  std::lock_guard lock(CodecLock());
  avcodec_free_context(&ctx_);
}

bool LibavAudioDecoder::Open(const Setup& setup) {
  libav_log::Install();
  if (!frame_) frame_ = av_frame_alloc();
  if (!packet_) packet_ = av_packet_alloc();
  bool found = true;
  bool opened = false;
  {
    std::lock_guard lock(CodecLock());
    avcodec_free_context(&ctx_);
    const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(setup.codec_id));
    found = codec && codec->type == AVMEDIA_TYPE_AUDIO;
    if (found && frame_ && packet_ && (ctx_ = avcodec_alloc_context3(codec))) {
      ctx_->bits_per_coded_sample = 16;
      ctx_->sample_rate = setup.sample_rate;
      av_channel_layout_uninit(&ctx_->ch_layout);
      av_channel_layout_default(&ctx_->ch_layout, 1);
      ctx_->bit_rate = setup.bit_rate;
      ctx_->block_align = setup.block_align;
      bool ready = true;
      if (!setup.extradata.empty()) {
        ctx_->extradata = static_cast<uint8_t*>(av_mallocz(setup.extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        ready = ctx_->extradata != nullptr;
        if (ready) {
          std::memcpy(ctx_->extradata, setup.extradata.data(), setup.extradata.size());
          ctx_->extradata_size = static_cast<int>(setup.extradata.size());
        }
      }
      opened = ready && avcodec_open2(ctx_, codec, nullptr) >= 0;
      if (!opened) avcodec_free_context(&ctx_);
    }
  }
  if (!found) {
    std::fputs("pCodec not found\n", stderr);
  } else if (!opened) {
    std::fputs(setup.open_failure, stderr);
  }
  return opened;
}

const uint8_t* LibavAudioDecoder::DecodePacket(const uint8_t* data, int size, int* out_bytes) {
  if (out_bytes) *out_bytes = 0;
  // An empty packet would put the codec into draining, after which it takes
  // nothing more.
  if (!ctx_ || !data || size <= 0) return nullptr;
  packet_->data = const_cast<uint8_t*>(data);  // libavcodec copies it, padded
  packet_->size = size;
  size_t used = 0;
  bool failed = false;
  int received = 0;
  last_result_ = avcodec_send_packet(ctx_, packet_);
  if (last_result_ < 0 && last_result_ != AVERROR(EAGAIN)) failed = true;
  while ((received = avcodec_receive_frame(ctx_, frame_)) == 0) {
    Convert(used);  // a frame that cannot be converted is left out
    av_frame_unref(frame_);
  }
  if (received != AVERROR(EAGAIN)) {
    last_result_ = received;
    failed = true;
  }
  av_packet_unref(packet_);
  if (failed) avcodec_flush_buffers(ctx_);
  if (used == 0) return nullptr;
  if (out_bytes) *out_bytes = static_cast<int>(used);
  return output_.data();
}

bool LibavAudioDecoder::Convert(size_t& used) {
  const AVFrame* f = frame_;
  if (f->nb_samples <= 0) return true;
  const int in_rate = f->sample_rate > 0 ? f->sample_rate : ctx_->sample_rate;
  const int out_rate = ctx_->sample_rate > 0 ? ctx_->sample_rate : in_rate;
  if (in_rate <= 0) return false;
  Layout in_layout, out_layout;
  if (!in_layout.Take(f->ch_layout, f->ch_layout.nb_channels) ||
      !out_layout.Take(ctx_->ch_layout, ctx_->ch_layout.nb_channels))
    return false;
  const int channels = out_layout.value.nb_channels;
  // One packet's frames share a buffer only when they share a rate and
  // channel count; otherwise the later frame starts it afresh.
  if (used > 0 && (out_rate != out_rate_ || channels != out_channels_)) used = 0;
  if (!resampler_->Prepare(in_layout.value, static_cast<AVSampleFormat>(f->format), in_rate, out_layout.value,
                           out_rate))
    return false;
  SwrContext* swr = resampler_->get();
  // An upper bound that counts what the resampler holds back.
  const int capacity = swr_get_out_samples(swr, f->nb_samples);
  if (capacity <= 0) return capacity == 0;
  const size_t frame_bytes = static_cast<size_t>(capacity) * 2 * static_cast<size_t>(channels);
  if (used + frame_bytes > static_cast<size_t>(INT_MAX)) return false;
  if (output_.size() < used + frame_bytes) output_.resize(used + frame_bytes);
  uint8_t* out = output_.data() + used;
  const int converted = swr_convert(swr, &out, capacity, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
  if (converted < 0) return false;
  used += static_cast<size_t>(converted) * 2 * static_cast<size_t>(channels);
  out_rate_ = out_rate;
  out_channels_ = channels;
  return true;
}

}  // namespace engine

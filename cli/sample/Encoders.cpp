#include "cli/sample/Encoders.h"

#include <cmath>
#include <cstring>
#include <numbers>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace sample {
namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

bool H264Encoder::Open(int width, int height, int fps, bool global_header, int64_t bit_rate, std::string& error) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) {
    error = "libavcodec has no libx264 encoder";
    return false;
  }
  ctx_.reset(avcodec_alloc_context3(codec));
  AVCodecContext* c = ctx_.get();
  c->width = width;
  c->height = height;
  c->time_base = {1, fps};
  c->framerate = {fps, 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->gop_size = fps;  // a key frame every second, and only then
  c->keyint_min = fps;
  c->max_b_frames = 0;
  c->thread_count = 1;  // the same input gives the same bytes
  if (global_header) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // Zero latency in both modes: no look-ahead and no B-frames, one packet a picture.
  av_opt_set(c->priv_data, "tune", "zerolatency", 0);
  if (bit_rate == 0) {
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "crf", "28", 0);
    av_opt_set(c->priv_data, "x264-params", "scenecut=0:repeat-headers=1", 0);
  } else {
    // P-frames only, one reference, CABAC, as a recorder's main-profile chip
    // encodes; the buffer of one second keeps every second near the rate.
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "profile", "main", 0);
    c->bit_rate = bit_rate;
    c->rc_max_rate = bit_rate;
    c->rc_buffer_size = static_cast<int>(bit_rate);
    av_opt_set(c->priv_data, "x264-params", "scenecut=0:repeat-headers=1:cabac=1:ref=1", 0);
  }
  const int r = avcodec_open2(c, codec, nullptr);
  if (r < 0) {
    error = "cannot open libx264: " + AvError(r);
    return false;
  }
  return true;
}

std::vector<uint8_t> H264Encoder::extradata() const {
  return ctx_ && ctx_->extradata ? std::vector<uint8_t>(ctx_->extradata, ctx_->extradata + ctx_->extradata_size)
                                 : std::vector<uint8_t>{};
}

std::vector<EncodedPacket> H264Encoder::Drain() {
  std::vector<EncodedPacket> out;
  AVPacket* pkt = av_packet_alloc();
  while (avcodec_receive_packet(ctx_.get(), pkt) == 0) {
    out.push_back({std::vector<uint8_t>(pkt->data, pkt->data + pkt->size), pkt->pts, pkt->dts,
                   (pkt->flags & AV_PKT_FLAG_KEY) != 0});
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  return out;
}

std::vector<EncodedPacket> H264Encoder::Encode(YuvPicture& picture, int64_t frame) {
  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_YUV420P;
  f->width = picture.width;
  f->height = picture.height;
  f->data[0] = picture.y();
  f->data[1] = picture.u();
  f->data[2] = picture.v();
  f->linesize[0] = picture.width;
  f->linesize[1] = f->linesize[2] = picture.width / 2;
  f->pts = frame;
  // A key frame at every whole second, whatever the encoder would choose.
  f->pict_type = frame % ctx_->gop_size == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  avcodec_send_frame(ctx_.get(), f);
  av_frame_free(&f);
  return Drain();
}

std::vector<EncodedPacket> H264Encoder::Flush() {
  avcodec_send_frame(ctx_.get(), nullptr);
  return Drain();
}

bool AudioEncoder::Open(const std::string& name, int sample_rate, std::string& error) {
  const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
  if (!codec) {
    error = "libavcodec has no " + name + " encoder";
    return false;
  }
  ctx_.reset(avcodec_alloc_context3(codec));
  AVCodecContext* c = ctx_.get();
  c->sample_rate = sample_rate;
  c->sample_fmt = name == "aac" ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
  av_channel_layout_default(&c->ch_layout, 1);
  c->time_base = {1, sample_rate};
  c->bit_rate = name == "aac" ? 32000 : 0;
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_BITEXACT;
  if (name == "adpcm_ms") c->block_align = 256;
  if (name == "aac") c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int r = avcodec_open2(c, codec, nullptr);
  if (r < 0) {
    error = "cannot open " + name + ": " + AvError(r);
    return false;
  }
  return true;
}

int AudioEncoder::frame_size() const { return ctx_->frame_size > 0 ? ctx_->frame_size : 1024; }

std::vector<uint8_t> AudioEncoder::extradata() const {
  return ctx_ && ctx_->extradata ? std::vector<uint8_t>(ctx_->extradata, ctx_->extradata + ctx_->extradata_size)
                                 : std::vector<uint8_t>{};
}

std::vector<EncodedPacket> AudioEncoder::Encode(const int16_t* samples, int64_t first_sample) {
  AVFrame* f = av_frame_alloc();
  f->nb_samples = frame_size();
  f->format = ctx_->sample_fmt;
  av_channel_layout_copy(&f->ch_layout, &ctx_->ch_layout);
  f->sample_rate = ctx_->sample_rate;
  av_frame_get_buffer(f, 0);
  if (ctx_->sample_fmt == AV_SAMPLE_FMT_FLTP) {
    auto* out = reinterpret_cast<float*>(f->data[0]);
    for (int i = 0; i < f->nb_samples; ++i) out[i] = static_cast<float>(samples[i]) / 32768.0f;
  } else {
    std::memcpy(f->data[0], samples, static_cast<size_t>(f->nb_samples) * 2);
  }
  f->pts = first_sample;
  avcodec_send_frame(ctx_.get(), f);
  av_frame_free(&f);
  std::vector<EncodedPacket> out;
  AVPacket* pkt = av_packet_alloc();
  while (avcodec_receive_packet(ctx_.get(), pkt) == 0) {
    out.push_back({std::vector<uint8_t>(pkt->data, pkt->data + pkt->size), pkt->pts, pkt->dts, true});
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  return out;
}

void ChannelTone(int channel, int64_t first_sample, int count, int sample_rate, int16_t* out) {
  const double frequency = 300.0 + 100.0 * channel;
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(first_sample + i) / sample_rate;
    out[i] = static_cast<int16_t>(std::lround(6000.0 * std::sin(2 * std::numbers::pi * frequency * t)));
  }
}

void ChannelSound(int channel, int marked_seconds, int64_t first_sample, int count, int sample_rate, int16_t* out) {
  ChannelTone(channel, first_sample, count, sample_rate, out);
  const int64_t beep = int64_t{sample_rate} * kBeepMs / 1000;
  for (int i = 0; i < count; ++i) {
    const int64_t into_second = (first_sample + i) % sample_rate;
    if ((first_sample + i) / sample_rate >= marked_seconds || into_second >= beep) continue;
    const double t = static_cast<double>(into_second) / sample_rate;
    out[i] = static_cast<int16_t>(std::lround(kBeepAmplitude * std::sin(2 * std::numbers::pi * kBeepHz * t)));
  }
}

}  // namespace sample

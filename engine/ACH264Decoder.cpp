#include "engine/ACH264Decoder.h"

#include <algorithm>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "engine/EngineGlobals.h"
#include "engine/LibavLog.h"
#include "QVVReader/Format.h"

namespace engine {

ACH264Decoder::~ACH264Decoder() {
  std::lock_guard lock(CodecLock());
  Close();
}

void ACH264Decoder::Close() {
  const void* context = ctx_;
  avcodec_free_context(&ctx_);
  if (context) libav_log::Detach(context);
  av_frame_free(&frame_);
  av_frame_free(&picture_);
  sws_freeContext(scaler_);
  scaler_ = nullptr;
  av_packet_free(&packet_);
}

bool ACH264Decoder::Reopen(bool hevc, int channel) {
  libav_log::Install();
  // Codec set-up and tear-down are not safe to run in parallel.
  std::lock_guard lock(CodecLock());
  Close();
  const AVCodec* codec = avcodec_find_decoder(hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
  if (!codec) return false;
  ctx_ = avcodec_alloc_context3(codec);
  if (!ctx_) return false;
  libav_log::Attach(ctx_, channel);
  if (!extradata_.empty()) {
    ctx_->extradata = static_cast<uint8_t*>(av_mallocz(extradata_.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx_->extradata) {
      Close();
      return false;
    }
    std::memcpy(ctx_->extradata, extradata_.data(), extradata_.size());
    ctx_->extradata_size = static_cast<int>(extradata_.size());
  }
  ctx_->workaround_bugs = FF_BUG_MS;
  ctx_->lowres = 0;
  // Four threads on slices: frame threads would hold pictures back, and each
  // packet's picture must come out with it.
  ctx_->thread_count = 4;
  ctx_->thread_type = FF_THREAD_SLICE;
  if (avcodec_open2(ctx_, codec, nullptr) < 0) {
    Close();
    return false;
  }
  frame_ = av_frame_alloc();
  picture_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  hevc_ = hevc;
  return frame_ && picture_ && packet_;
}

void ACH264Decoder::SetExtradata(std::span<const uint8_t> extradata) {
  if (std::equal(extradata.begin(), extradata.end(), extradata_.begin(), extradata_.end())) return;
  extradata_.assign(extradata.begin(), extradata.end());
  opened_width_ = -1;  // reopen with it on the next packet
}

bool ACH264Decoder::IsHevc(int codec_id, const uint8_t* data, int size) {
  if (codec_id == qvv::codec_id::kHevc) return true;
  if (codec_id == qvv::codec_id::kH264 || codec_id == 27 /* libavcodec's H.264 */) return false;
  // The first NAL unit after a 3- or 4-byte start code: HEVC parameter sets,
  // delimiters, SEI and random-access pictures carry a two-byte header whose
  // second byte is 1; no H.264 unit starts that way with these types.
  for (int i = 0; i + 4 < size && i < 64; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    const int type = (data[i + 3] >> 1) & 0x3F;
    const bool hevc_type = (type >= 16 && type <= 21) || (type >= 32 && type <= 35) || type == 39;
    return hevc_type && (data[i + 3] & 0x81) == 0 && data[i + 4] == 0x01;
  }
  return false;
}

bool ACH264Decoder::TakePicture() {
  av_frame_unref(picture_);
  if (frame_->format == AV_PIX_FMT_YUV420P || frame_->format == AV_PIX_FMT_YUVJ420P) {
    av_frame_move_ref(picture_, frame_);  // the decoder's own buffer: no copy here
    return true;
  }
  // 4:2:2, 4:4:4, 10-bit and the like: converted once into a 4:2:0 picture.
  const int w = frame_->width & ~1, h = frame_->height & ~1;
  scaler_ = sws_getCachedContext(scaler_, frame_->width, frame_->height, static_cast<AVPixelFormat>(frame_->format), w,
                                 h, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!scaler_) return false;
  picture_->format = AV_PIX_FMT_YUV420P;
  picture_->width = w;
  picture_->height = h;
  if (av_frame_get_buffer(picture_, 0) < 0) return false;
  sws_scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, picture_->data, picture_->linesize);
  picture_->key_frame = frame_->key_frame;
  av_frame_unref(frame_);
  return true;
}

uint8_t* ACH264Decoder::Decode(int channel, const uint8_t* data, int size, int* key_frame, int width, int height,
                               uint8_t* output, size_t output_capacity) {
  got_picture_ = false;
  failed_ = false;
  if (!data || size <= 0) return nullptr;
  const bool hevc = IsHevc(codec_id_, data, size);
  if (width != opened_width_ || height != opened_height_ || !ctx_ || (hevc != hevc_ && codec_id_ != 0)) {
    if (!Reopen(hevc, channel)) {
      failed_ = true;
      return nullptr;
    }
    opened_width_ = width;
    opened_height_ = height;
  }
  av_frame_unref(picture_);
  packet_->data = const_cast<uint8_t*>(data);
  packet_->size = size;
  packet_->stream_index = channel;
  packet_->pts = packet_->dts = AV_NOPTS_VALUE;
  const uint64_t errors_before = libav_log::ErrorCount(ctx_);
  last_result_ = avcodec_send_packet(ctx_, packet_);
  failed_ = last_result_ < 0 && last_result_ != AVERROR(EAGAIN);
  int received;
  while ((received = avcodec_receive_frame(ctx_, frame_)) == 0) {
    if (frame_->decode_error_flags || (frame_->flags & AV_FRAME_FLAG_CORRUPT)) failed_ = true;
    if (frame_->width < 2 || frame_->height < 2 || !TakePicture()) {
      av_frame_unref(frame_);
      continue;
    }
    got_picture_ = true;
    picture_width_ = picture_->width;
    picture_height_ = picture_->height;
    if (key_frame) *key_frame = picture_->key_frame ? 1 : 0;
  }
  if (received != AVERROR(EAGAIN) && received != AVERROR_EOF) failed_ = true;
  if (libav_log::ErrorCount(ctx_) != errors_before) failed_ = true;
  if (output && got_picture_) CopyPicture(output, output_capacity);
  return output;
}

bool ACH264Decoder::CopyPicture(uint8_t* output, size_t output_capacity) const {
  if (!got_picture_ || !output) return false;
  const AVFrame* f = picture_;
  const int w = f->width, h = f->height;
  if (static_cast<size_t>(w) * h * 3 / 2 > output_capacity) return false;
  uint8_t* out = output;
  for (int y = 0; y < h; ++y)
    std::memcpy(out + static_cast<size_t>(y) * w, f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0], static_cast<size_t>(w));
  out += static_cast<size_t>(w) * h;
  for (int plane = 1; plane <= 2; ++plane) {
    for (int y = 0; y < h / 2; ++y)
      std::memcpy(out + static_cast<size_t>(y) * (w / 2), f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane],
                  static_cast<size_t>(w / 2));
    out += static_cast<size_t>(w / 2) * (h / 2);
  }
  return true;
}

}  // namespace engine

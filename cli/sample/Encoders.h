#pragma once
// Encoders for sample recordings: H.264 through libavcodec's libx264, AAC,
// ADPCM MS and Flash ADPCM through libavcodec, and the recorder's voice frames
// through voxcore. One thread each, so the same input gives the same bytes.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "cli/sample/SyntheticVideo.h"

namespace sample {

struct EncodedPacket {
  std::vector<uint8_t> data;
  int64_t pts = 0;  // in the encoder's time base (frames / samples)
  int64_t dts = 0;
  bool key = false;
};

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

class H264Encoder {
 public:
  // global_header: parameter sets in extradata (MP4, FLV) instead of before key frames.
  // bit_rate 0: constant quality at the fastest setting, small and quick to
  // decode; else that many bits a second as a recorder's encoder makes them
  // (Main profile, CABAC, deblocking, the rate held over every second).
  bool Open(int width, int height, int fps, bool global_header, int64_t bit_rate, std::string& error);
  // One picture in, the packets it completes out (zero latency: one each).
  std::vector<EncodedPacket> Encode(YuvPicture& picture, int64_t frame);
  std::vector<EncodedPacket> Flush();
  const AVCodecContext* context() const { return ctx_.get(); }
  std::vector<uint8_t> extradata() const;

 private:
  std::vector<EncodedPacket> Drain();
  std::unique_ptr<AVCodecContext, CodecContextDeleter> ctx_;
};

class AudioEncoder {
 public:
  // name: "aac", "adpcm_ms" or "adpcm_swf"; mono s16 input.
  bool Open(const std::string& name, int sample_rate, std::string& error);
  int frame_size() const;  // samples a packet
  std::vector<EncodedPacket> Encode(const int16_t* samples, int64_t first_sample);
  const AVCodecContext* context() const { return ctx_.get(); }
  std::vector<uint8_t> extradata() const;

 private:
  std::unique_ptr<AVCodecContext, CodecContextDeleter> ctx_;
};

// The tone of a channel: its pitch says which channel it is (300 Hz + 100 Hz a channel).
void ChannelTone(int channel, int64_t first_sample, int count, int sample_rate, int16_t* out);

// Sync marks: a beep at every whole second of the recording, in every channel
// at once, so that a player's sound can be held against its pictures (which
// turn white at the same time stamps). It starts on the second's first sample,
// rising from zero, and replaces the channel's tone for 40 ms; louder than the
// tone, so that it stands out even where a channel's tone is 1 kHz itself.
inline constexpr int kBeepHz = 1000;
inline constexpr int kBeepMs = 40;
inline constexpr int kBeepAmplitude = 16000;

// The channel's tone, with beeps at the whole seconds before `marked_seconds`
// (0: none). The sound a recording carries past its end stays the tone: no beep
// without its white picture.
void ChannelSound(int channel, int marked_seconds, int64_t first_sample, int count, int sample_rate, int16_t* out);

}  // namespace sample

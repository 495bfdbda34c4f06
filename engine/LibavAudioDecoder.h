#pragma once
// What the ADPCM and AAC decoders share: a libavcodec audio decoder opened on
// demand, packets in through send/receive, and every frame that comes out
// converted by libswresample to signed 16-bit interleaved PCM at the
// context's rate and layout, appended to one output buffer that only grows.
// Context set-up, opening and freeing hold the codec lock; decoding does not.
// libav's messages are counted by LibavLog, never printed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/ACDecoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace engine {

class LibavAudioDecoder : public ACDecoder {
 public:
  static constexpr size_t kInitialOutputBytes = 384000;

  ~LibavAudioDecoder() override;
  LibavAudioDecoder(const LibavAudioDecoder&) = delete;
  LibavAudioDecoder& operator=(const LibavAudioDecoder&) = delete;

  // The last send or receive result (0, or a negative AVERROR code).
  int Status() const override { return last_result_; }
  int AudioSampleRate() const override { return out_rate_; }
  int AudioChannels() const override { return out_channels_; }
  size_t output_capacity() const { return output_.size(); }
  bool is_open() const { return ctx_ != nullptr; }

 protected:
  LibavAudioDecoder();

  struct Setup {
    int codec_id = 0;
    int sample_rate = 0;
    int64_t bit_rate = 0;
    int block_align = 0;
    std::span<const uint8_t> extradata;
    const char* open_failure = "";  // printed when the codec will not open
  };
  // Frees any open decoder and opens one as `setup` says (mono, 16 bits a
  // coded sample). A codec libavcodec lacks prints "pCodec not found".
  bool Open(const Setup& setup);
  void Close();
  // Decodes one packet (size > 0); returns the PCM of every frame it gave, or
  // nullptr when none came out. A decoding error drops what the codec held
  // back so that the next packet starts clean.
  const uint8_t* DecodePacket(const uint8_t* data, int size, int* out_bytes);

 private:
  class Resampler;

  // Appends `frame_` converted at `used`; false when it cannot be.
  bool Convert(size_t& used);

  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::unique_ptr<Resampler> resampler_;

  std::vector<uint8_t> output_;
  int last_result_ = 0;
  int out_rate_ = 0;
  int out_channels_ = 0;
};

}  // namespace engine

#pragma once
// The decoders' small class family: owners reset and destroy a decoder without
// knowing its codec.
#include <cstdint>

namespace engine {

class ACCoder {
 public:
  virtual ~ACCoder() = default;
  virtual int Reset() { return 1; }
  int SetUserValue(int64_t value) {
    user_value_ = value;
    return 1;
  }
  int ClearUserValue() {
    user_value_ = 0;
    return 1;
  }
  int64_t user_value() const { return user_value_; }

 private:
  int64_t user_value_ = 0;
};

class ACDecoder : public virtual ACCoder {
 public:
  virtual void SetWidth(int) {}
  virtual void SetHeight(int) {}
  int ResetDecoder() { return Reset(); }
  virtual int Status() const { return 0; }

  // Audio decoders: one packet of `codec_id` in, signed 16-bit interleaved
  // PCM out, held by the decoder until its next call; *out_bytes is its size.
  // nullptr (and *out_bytes 0) when nothing came out. `sample_rate` is the
  // container's (0: unknown); only codecs without a rate of their own use it.
  virtual const uint8_t* DecodeAudio(int codec_id, const uint8_t* data, int size, int* out_bytes, int sample_rate) {
    if (out_bytes) *out_bytes = 0;
    return nullptr;
  }
  // Rate and channel count of the PCM the last DecodeAudio gave (0 before any).
  virtual int AudioSampleRate() const { return 0; }
  virtual int AudioChannels() const { return 0; }
};

}  // namespace engine

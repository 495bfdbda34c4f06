#pragma once
// Writes per-channel ".flv" recordings: FLV header, "onMetaData", H.264 (AVC
// sequence header, then length-prefixed NAL units) and AAC or Flash ADPCM
// audio, plus the recorder's type 16 data tags carrying data records.
#include <cstdint>
#include <string>
#include <vector>

#include "QVVReader/ByteIO.h"

namespace qvv {

struct FlvConfig {
  bool video = true;
  int width = 0, height = 0, frame_rate = 25;
  bool audio = false;
  int audio_format = 10;  // FLV sound format: 10 AAC, 1 Flash ADPCM
  int sample_rate = 8000;
  double duration_seconds = 0;  // written into "onMetaData"
};

class FlvWriter {
 public:
  FlvWriter() = default;
  ~FlvWriter();
  FlvWriter(const FlvWriter&) = delete;
  FlvWriter& operator=(const FlvWriter&) = delete;

  int Open(const std::string& path, const FlvConfig& config);
  // avcC record (AVCDecoderConfigurationRecord) / AudioSpecificConfig.
  int WriteVideoSequenceHeader(const std::vector<uint8_t>& avcc);
  int WriteAacSequenceHeader(const std::vector<uint8_t>& asc);
  // Length-prefixed NAL units of one picture; times in milliseconds.
  int WriteVideo(uint32_t dts_ms, int32_t cts_ms, bool key, const uint8_t* data, size_t size);
  int WriteAudio(uint32_t ms, const uint8_t* data, size_t size);
  int WriteRecord(uint32_t ms, const uint8_t* amf0, size_t size);
  int Finish();

  // Converts an Annex B access unit to length-prefixed NAL units, and
  // collects the first SPS and PPS it meets into an avcC record.
  static std::vector<uint8_t> AnnexBToLengthPrefixed(const uint8_t* data, size_t size);
  static std::vector<uint8_t> AvccFromAnnexB(const uint8_t* data, size_t size);

 private:
  int Tag(int type, uint32_t ms, const std::vector<uint8_t>& prefix, const uint8_t* data, size_t size);
  ByteIOContext* pb_ = nullptr;
  FlvConfig config_;
};

}  // namespace qvv

#pragma once
// Writes ".qvv" recordings: the header, a metadata tag with the file's and
// every stream's keys, and video, audio and data-record tags, each preceded by
// the 01 FF marker and followed by two spare bytes and its PreviousTagSize
// (data size + 15), as the recorder lays them out. File size and duration are
// patched into the metadata when the file is finished.
#include <cstdint>
#include <string>
#include <vector>

#include "QVVReader/ByteIO.h"

namespace qvv {

struct QvvStreamConfig {
  int kind = 0;  // 0 video, 1 audio, 2 data
  int codec_id = 0;  // engine codec id: 28 H.264, 0x11000 voice, 86018 AAC, ...
  int width = 0, height = 0, frame_rate = 0;
  int bit_rate_kbit = 0;
  int sample_rate = 0, sample_size = 0, channels = 0;
};

struct QvvFileConfig {
  bool long_header = false;  // three count bytes; readers expect it for names of 113+ characters
  int video = 0, audio = 0, data = 0;  // declared stream counts; streams numbered in this order
  std::vector<QvvStreamConfig> streams;  // metadata per stream, in stream order
  int64_t start_time = 0;
  std::string bus_number;
};

class QvvWriter {
 public:
  QvvWriter() = default;
  ~QvvWriter();
  QvvWriter(const QvvWriter&) = delete;
  QvvWriter& operator=(const QvvWriter&) = delete;

  // 0 or a negative code. Writes header and metadata.
  int Open(const std::string& path, const QvvFileConfig& config);
  // One tag; flags is the first data byte (frame type / sound format / record key).
  int WriteTag(int type, uint32_t stream, uint32_t timestamp_us, uint8_t flags, const uint8_t* payload,
               size_t size);
  int WriteVideo(uint32_t stream, uint32_t timestamp_us, bool key, const uint8_t* data, size_t size) {
    return WriteTag(9, stream, timestamp_us, key ? 0x10 : 0x20, data, size);
  }
  int WriteAudio(uint32_t stream, uint32_t timestamp_us, uint8_t flags, const uint8_t* data, size_t size) {
    return WriteTag(8, stream, timestamp_us, flags, data, size);
  }
  int WriteRecord(uint32_t stream, uint32_t timestamp_us, const uint8_t* amf0, size_t size) {
    return WriteTag(22, stream, timestamp_us, 0x10, amf0, size);
  }
  // Bytes as they are (damage for tests).
  int WriteRaw(const uint8_t* data, size_t size);
  // Patches duration (milliseconds) and file size, then closes. 0 or negative.
  int Finish(int64_t duration_ms);

 private:
  ByteIOContext* pb_ = nullptr;
  int64_t filesize_at_ = -1;  // file offsets of the patched metadata numbers
  int64_t duration_at_ = -1;
};

}  // namespace qvv

#pragma once
// Writes AVI clips: RIFF "AVI " with the OpenDML extensions. On a seekable
// output every stream gets a super index ("indx") and every RIFF standard
// indexes ("ix##"); the first RIFF also gets "idx1"; past 1 GiB the file
// continues in "RIFF" "AVIX" lists. Frames missing from a video stream's
// timeline are written as empty chunks.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "QVVReader/ByteIO.h"
#include "QVVReader/Rational.h"

namespace qvv {

struct AviClipStream {
  int kind = 0;             // 0 video, 1 audio, 2 data
  uint32_t codec_tag = 0;   // video: compression fourcc ("H264")
  AVRational time_base{1, 25};
  int width = 0, height = 0;
  int32_t sample_size = 0;  // bytes per sample for block-aligned audio, else 0
  int32_t bit_rate = 0;
  std::vector<uint8_t> format;  // "strf" contents: BITMAPINFOHEADER or WAVEFORMATEX
};

class AviWriter {
 public:
  static constexpr int64_t kMaxRiffSize = 0x40000000;  // 1 GiB
  static constexpr int kMasterIndexSize = 256;

  AviWriter() = default;
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  int Begin(const std::string& path, const std::vector<AviClipStream>& streams, uint32_t cipher_marker,
            const std::map<std::string, std::string>& tags = {});
  // dts in the stream's time base.
  int WritePacket(int stream, int64_t dts, bool key, const uint8_t* data, size_t size);
  int Finish();

  // A bitmap info header for a compressed video stream.
  static std::vector<uint8_t> BitmapInfoHeader(int width, int height, uint32_t fourcc,
                                               const std::vector<uint8_t>& extradata = {});

  // Lets tests force the RIFF switch without writing a gigabyte.
  void set_max_riff_size(int64_t bytes) { max_riff_size_ = bytes; }

 private:
  struct Entry {
    uint32_t flags;
    int64_t pos;  // chunk header, relative to the current "movi" fourcc
    uint32_t size;
  };
  struct Stream {
    AviClipStream config;
    int64_t frames_written = 0;  // chunks, empty ones included
    int64_t audio_bytes = 0;
    int64_t length_field = -1;   // file offset of strh's length
    int64_t super_index = -1;    // file offset of the reserved super index content
    std::vector<Entry> entries;  // of the current RIFF
    std::vector<Entry> first_riff_entries;
    int master_entries = 0;
    char chunk_id[5] = {};
  };

  int64_t StartTag(const char* tag);
  void EndTag(int64_t start);
  void StartRiff(const char* form);
  void WriteStandardIndexes();
  void WriteIdx1();
  int WriteChunk(Stream& s, bool key, const uint8_t* data, size_t size);

  ByteIOContext* pb_ = nullptr;
  bool seekable_ = false;
  std::vector<Stream> streams_;
  int64_t riff_start_ = -1;
  int64_t movi_list_ = -1;  // position of the "movi" fourcc of the current RIFF
  int64_t movi_start_tag_ = -1;
  int riff_count_ = 0;
  int64_t avih_frames_ = -1;
  int64_t odml_list_ = -1;
  int64_t max_riff_size_ = kMaxRiffSize;
};

}  // namespace qvv

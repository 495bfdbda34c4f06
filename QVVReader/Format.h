#pragma once
// The reader's own container structures. These are this program's types, not
// FFmpeg's (the MP4 path uses libavformat's; keep the two apart).
#include <array>
#include <cstdint>
#include <memory>

#include "QVVReader/ByteIO.h"
#include "QVVReader/Rational.h"

namespace qvv {

inline constexpr int kMaxStreams = 48;  // 12 channels of video, audio and data fit

enum StreamKind : int32_t { kKindVideo = 0, kKindAudio = 1, kKindData = 2 };

// Codec ids as handed to the playback engine.
namespace codec_id {
inline constexpr int32_t kUnknown = 0;
inline constexpr int32_t kH263 = 22;  // Sorenson H.263
inline constexpr int32_t kH264 = 28;
inline constexpr int32_t kHevc = 173;
inline constexpr int32_t kPcmS16le = 65536;
inline constexpr int32_t kPcmS16be = 65537;
inline constexpr int32_t kPcmU8 = 65540;
inline constexpr int32_t kFlashAdpcm = 69645;
inline constexpr int32_t kAac = 86018;
inline constexpr int32_t kVoice = 0x11000;  // the recorder's voice frames (type 35)
inline constexpr int32_t kAdpcmImaWav = 69633;
inline constexpr int32_t kAdpcmMs = 69638;
inline constexpr int32_t kMp3 = 86017;
inline constexpr int32_t kXanDpcm = 81924;
}  // namespace codec_id

// Values of AVStream::discard.
inline constexpr int32_t kDiscardNone = 0;
inline constexpr int32_t kDiscardNonReference = 16;  // disposable inter frames
inline constexpr int32_t kDiscardNonKey = 32;
inline constexpr int32_t kDiscardAll = 48;

struct AVStream {
  int32_t stream_number = 0;  // the number tags refer to the stream by
  int32_t kind = kKindVideo;
  int32_t codec_id = codec_id::kUnknown;
  int32_t bit_rate = 0;
  AVRational time_base{1, 1000000};
  int32_t pts_wrap_bits = 32;
  int32_t width = 0, height = 0;
  int32_t bits_per_sample = 0, sample_rate = 0, channels = 0;
  int32_t frame_rate = 0;  // whole frames per second
  int32_t discard = kDiscardNone;
  int64_t start_time = kNoPtsValue;
  int64_t duration = kNoPtsValue;
};

struct AVFormatContext {
  ByteIOContext* pb = nullptr;  // not owned: the caller closes it with url_fclose
  int32_t nb_streams = 0;
  int32_t nb_audio = 0, nb_video = 0, nb_data = 0;
  std::array<std::unique_ptr<AVStream>, kMaxStreams> streams;
  int64_t start_time = 0;
  int64_t duration = kNoPtsValue;  // microseconds
  int64_t file_size = 0;
  char bus_number[256] = {};

  AVStream* FindStream(int32_t stream_number) const;
};

// A new zero-filled stream numbered by its position; nullptr when 48 exist.
AVStream* av_new_stream(AVFormatContext* s, int id);

inline constexpr int32_t kPacketFlagKey = 1;

// One packet. The buffer is reused across reads and only grows when a payload
// does not fit, so a whole file is read without further allocation.
struct ReaderPacket {
  static constexpr int32_t kMinCapacity = 614400;
  static constexpr int32_t kPadding = 8;  // zero bytes after the payload, for decoders

  int64_t pts = kNoPtsValue;
  int64_t dts = kNoPtsValue;
  std::unique_ptr<uint8_t[]> data;
  int32_t size = 0;
  int32_t stream_index = 0;  // the tag's stream number
  int32_t flags = 0;
  int64_t pos = -1;  // byte offset of the payload in the file
  int32_t capacity = 0;

  // Makes room for `size` bytes plus padding; false when memory runs out.
  bool Reserve(int32_t payload_size);
  void Release();
};

}  // namespace qvv

#include "QVVReader/FlvTags.h"

#include <cstdio>
#include <cstring>

namespace qvv {

void ApplyFlvAudioFlags(AVStream& st, int flags) {
  if (!st.channels || !st.sample_rate || !st.bits_per_sample) {
    st.channels = (flags & 1) ? 2 : 1;
    st.sample_rate = (44100 << ((flags >> 2) & 3)) >> 3;
    st.bits_per_sample = (flags & 2) ? 16 : 8;
  }
  if (st.codec_id != codec_id::kUnknown) return;
  switch (flags >> 4) {
    case 0:
    case 3: st.codec_id = (flags & 2) ? codec_id::kPcmS16le : codec_id::kPcmU8; break;
    case 1: st.codec_id = codec_id::kFlashAdpcm; break;
    case 2: st.codec_id = codec_id::kMp3; break;
    case 5: st.sample_rate = 8000; break;  // Nellymoser 8 kHz mono
    case 10: st.codec_id = codec_id::kAac; break;
    default: break;
  }
}

std::optional<uint32_t> LastTagTimestamp(ByteIOContext* pb, const uint8_t* marker, int marker_size) {
  if (pb->is_streamed) return std::nullopt;
  const int64_t resume = url_ftell(pb);
  const int64_t size = url_fsize(pb);
  std::optional<uint32_t> found;
  if (size > 15 + marker_size && url_fseek(pb, size - 4, SEEK_SET) >= 0) {
    const int64_t distance = get_be32(pb);
    const int64_t tag = size - 4 - distance;  // where the marker, then the type, stand
    if (distance > 11 && tag >= 0 && url_fseek(pb, tag, SEEK_SET) >= 0) {
      uint8_t head[2] = {};
      const bool marked = marker_size == 0 || (get_buffer(pb, head, marker_size) == marker_size &&
                                               std::memcmp(head, marker, static_cast<size_t>(marker_size)) == 0);
      get_byte(pb);  // type
      const uint32_t data_size = get_be24(pb);
      uint32_t timestamp = get_be24(pb);
      timestamp |= static_cast<uint32_t>(get_byte(pb)) << 24;
      if (marked && !url_feof(pb) && data_size + 11 == distance) found = timestamp;
    }
  }
  url_fseek(pb, resume, SEEK_SET);
  return found;
}

}  // namespace qvv

#include "QVVReader/KeyFrame.h"

#include "QVVReader/Format.h"

namespace qvv {

bool StartsGroupOfPictures(int32_t codec_id, const uint8_t* data, size_t size) {
  const bool h264 = codec_id == codec_id::kH264;
  if (!h264 && codec_id != codec_id::kHevc) return true;
  bool any_nal = false;
  for (size_t i = 0; i + 3 < size; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    any_nal = true;
    const uint8_t header = data[i + 3];
    if (h264) {
      const int type = header & 0x1F;
      if (type == 5 || type == 7) return true;  // IDR slice, sequence parameter set
      if (type >= 1 && type <= 4) return false;  // another picture's slice comes first
    } else {
      const int type = (header >> 1) & 0x3F;
      if ((type >= 16 && type <= 21) || type == 32 || type == 33) return true;  // IRAP, VPS, SPS
      if (type <= 9) return false;
    }
    i += 2;
  }
  return !any_nal;
}

}  // namespace qvv

#pragma once
// Whether a video packet starts a group of pictures, read from its own bytes:
// for files whose index is missing, so that reading, seeking and reverse play
// still know their key frames.
#include <cstddef>
#include <cstdint>

namespace qvv {

// H.264 and HEVC in Annex B form: true when an IDR/IRAP picture or a sequence
// parameter set comes before the first other picture. Packets of other codecs,
// and packets whose NAL units cannot be told apart, count as key frames (as
// every packet did before this was known). Looks at `size` bytes at most.
bool StartsGroupOfPictures(int32_t codec_id, const uint8_t* data, size_t size);

}  // namespace qvv

#pragma once
// What the QVV and FLV readers share of the FLV tag conventions: the audio
// flags byte, and the duration read from the last tag of a file.
#include <cstdint>
#include <optional>

#include "QVVReader/ByteIO.h"
#include "QVVReader/Format.h"

namespace qvv {

// An audio tag's flags byte (bits 7..4 sound format, 3..2 rate index, 1 16-bit
// samples, 0 stereo): sets channels, sample rate and sample size unless all
// three are known, and the codec while it is unknown.
void ApplyFlvAudioFlags(AVStream& st, int flags);

// The timestamp field of a file's last tag, when the closing PreviousTagSize
// counts that tag as FLV does (data size + 11); nothing otherwise. `marker`
// bytes (QVV's 01 FF) stand before the tag's type. Seekable input only; the
// position is kept.
std::optional<uint32_t> LastTagTimestamp(ByteIOContext* pb, const uint8_t* marker, int marker_size);

}  // namespace qvv

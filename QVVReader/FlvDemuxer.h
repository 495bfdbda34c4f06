#pragma once
// FLV as published, plus this program's type 16 data tags (a flags byte and a
// data record). Streams: 0 video, 1 audio, 2 data; time base 1/1000 s. H.264
// and AAC sequence headers become the streams' extra data, not packets.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "QVVReader/Demuxer.h"
#include "QVVReader/StreamIndex.h"

namespace qvv {

class FlvDemuxer final : public Demuxer {
 public:
  int Open(ByteIOContext* pb, std::string_view file_name) override;
  int OpenReverse(ByteIOContext* pb, std::string_view file_name) override;
  int ReadPacket(ReaderPacket& packet) override;
  int ReadPacketReverse(ReaderPacket& packet) override;
  bool Seek(int64_t target_us) override;

  const std::vector<uint8_t>& extradata(int stream_number) const {
    return extradata_[static_cast<size_t>(std::clamp(stream_number, 0, 2))];
  }
  bool no_header() const { return no_header_; }
  // Applies the "onMetaData" tags at the start, then positions on the first other tag.
  void ReadLeadingMetadata();

 private:
  AVStream* StreamFor(int number, int kind);
  void ParseMetadata(uint32_t size);
  void ProbeDuration();
  // Reads every tag header once so that seeking and reverse play have an index.
  void BuildIndex();

  ByteIOContext* pb_ = nullptr;
  int64_t data_offset_ = 0;
  bool no_header_ = false;
  bool negative_cts_seen_ = false;
  bool duration_probed_ = false;
  bool index_complete_ = false;
  int64_t last_tag_pos_ = -1;  // of the PreviousTagSize field before the tag
  std::array<std::vector<uint8_t>, 3> extradata_;
  std::array<StreamIndex, 3> index_;
  std::vector<uint8_t> metadata_;
  GroupStepper reverse_;
  bool reverse_active_ = false;
  bool in_group_ = false;
};

}  // namespace qvv

#pragma once
// FLV as published, plus this program's type 16 data tags (a flags byte and a
// data record). Streams: 0 video, 1 audio, 2 data; time base 1/1000 s. H.264
// and AAC sequence headers become the streams' extra data, not packets.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
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
  bool SeekReverse(int64_t target_us) override;

  const std::vector<uint8_t>& extradata(int stream_number) const {
    return extradata_[static_cast<size_t>(std::clamp(stream_number, 0, 2))];
  }
  bool no_header() const { return no_header_; }
  // Applies the "onMetaData" tags at the start, then positions on the first other tag.
  void ReadLeadingMetadata();

 private:
  // A tag: `pos` is its PreviousTagSize field, the header follows.
  struct Tag {
    int64_t pos = 0;
    int type = 0;
    uint32_t size = 0;
    uint32_t timestamp = 0;
    int64_t DataEnd() const { return pos + kHeaderSize + size; }
  };
  static constexpr int kHeaderSize = 15;  // PreviousTagSize (4) and the tag header (11)
  enum class Found { Tag, EndOfFile };

  AVStream* StreamFor(int number, int kind);
  void ParseMetadata(uint32_t size);
  void ProbeDuration();
  // Reads every tag header once so that seeking and reverse play have an index.
  void BuildIndex();
  // The next tag from the current position; a damaged stretch is crossed by
  // resynchronising. Leaves the position after the header.
  int NextTag(Tag& tag, bool count_damage);
  // Scans for a tag whose header is plausible and that the next tag follows.
  Found ScanForTrustedTag(Tag& tag, bool count_damage);
  bool Plausible(const Tag& tag) const;
  // The next PreviousTagSize holds this tag's size, or a tag header follows,
  // or the file ends.
  bool FollowedByTag(const Tag& tag);
  // The same test, without moving the position (for scan candidates).
  bool FollowedAt(const Tag& tag);
  void Reject(const Tag& tag);
  // Whether the PreviousTagSize of `next` says that `tag` runs up to it.
  bool ReachesTo(const Tag& tag, const Tag& next);
  // After a packet's data: false when the tag turned out damaged (left out,
  // reading goes on at the next trustworthy tag); else how many bytes of
  // garbage follow it, to be reported once the packet is delivered.
  bool SettleEnd(const Tag& tag, int64_t& garbage_after);
  static Tag ParseHeader(const uint8_t* p, int64_t pos);

  ByteIOContext* pb_ = nullptr;
  int64_t data_offset_ = 0;
  int64_t file_size_ = INT64_MAX;
  bool resync_next_ = false;
  // A tag already found by a resynchronisation; NextTag hands it out next.
  std::optional<Tag> pending_;
  void ForgetResync() {
    resync_next_ = false;
    pending_.reset();
  }
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

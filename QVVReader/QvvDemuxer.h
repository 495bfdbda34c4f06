#pragma once
// The recorder's ".qvv" container: all channels in one FLV-like tag stream with
// a two-byte synchronisation marker (01 FF) before every tag, a stream number
// in every tag, microsecond timestamps, and data-record tags.
//
//   header:  signature+version (4), stream counts (1 or 3), offset of the
//            first PreviousTagSize (4)
//   body:    PreviousTagSize (4), tag, PreviousTagSize, tag, ...
//   tag:     01 FF, type (8 audio, 9 video, 18 metadata, 22 data record),
//            data size (3), timestamp bits 23..0 (3), bits 31..24 (1),
//            stream number (3), data (flags byte + payload for 8/9/22)
//
// PreviousTagSize holds the distance from the previous tag's marker to the
// field itself, which the recorder writes as data size + 15.
#include <cstdint>
#include <optional>
#include <climits>
#include <string>
#include <vector>

#include "QVVReader/Demuxer.h"

namespace qvv {

class QvvDemuxer final : public Demuxer {
 public:
  static constexpr int kTagHeaderSize = 13;      // marker through stream number
  static constexpr int kPreviousTagSizeExtra = 15;  // PreviousTagSize = data size + 15
  static constexpr size_t kMaxMetadataBytes = 65536;
  // Stream numbers at or above this come from damaged tags: recorders number
  // their streams by position in a table far smaller than this.
  static constexpr uint32_t kMaxStreamNumber = 256;
  // Opening gives up looking for the first tag after this many bytes.
  static constexpr int64_t kOpenScanLimit = int64_t{64} << 20;

  int Open(ByteIOContext* pb, std::string_view file_name) override;
  int OpenReverse(ByteIOContext* pb, std::string_view file_name) override;
  int ReadPacket(ReaderPacket& packet) override;
  int ReadPacketReverse(ReaderPacket& packet) override;
  bool Seek(int64_t target_us) override;
  bool SeekReverse(int64_t target_us) override;

  // Reads the metadata tags at the start of the body, then positions on the
  // first other tag. Returns how many metadata tags were applied.
  int ReadLeadingMetadata();
  // Byte offset of the first PreviousTagSize field.
  int64_t data_offset() const { return data_offset_; }

 private:
  struct Tag {
    int64_t pos = -1;  // of the marker
    int type = 0;
    uint32_t data_size = 0;
    uint32_t timestamp = 0;
    uint32_t stream = 0;
    int flags = -1;  // first data byte, -1 when the tag has no data
    int64_t DataEnd() const { return pos + kTagHeaderSize + data_size; }
  };
  enum class Found { Tag, EndOfFile, BadType };

  // The next tag from the current position (a PreviousTagSize field): where
  // it belongs when the file is intact, else by resynchronising. Leaves the
  // position after the tag header.
  int NextTag(Tag& tag);
  // Scans forward from the current position for a tag that can be trusted
  // (see Trusted); leaves the position after its header. Damage is counted
  // when `count_damage`; the scan gives up past `scan_end_`.
  Found ScanForTrustedTag(Tag& tag, bool count_damage, int64_t layout_bytes = 0);
  // Bytes between one tag's data and the next marker in an intact file: the
  // spare bytes and the PreviousTagSize. Not counted as damage.
  static constexpr int64_t kLayoutBytes = 6;
  // A plausible header (known type, a stream number a recorder writes, data
  // inside the file) followed by the next tag's marker or by the file's end.
  bool Trusted(const Tag& tag);
  bool FollowedByTag(const Tag& tag);
  // Leaves a tag that turned out to be damaged: reading resynchronises from
  // just behind its marker.
  void Reject(const Tag& tag);
  // Whether the PreviousTagSize before `next` says that `tag` runs up to it.
  bool ReachesTo(const Tag& tag, const Tag& next);
  // After a packet's data: false when the tag turned out damaged (left out,
  // reading goes on at the next trustworthy tag); else how many bytes of
  // garbage follow it, to be reported once the packet is delivered.
  bool SettleEnd(const Tag& tag, int64_t& garbage_after);
  bool ReadTagAt(int64_t marker_pos, Tag& tag);
  // The tag before `tag`, through its PreviousTagSize or by scanning back.
  bool PreviousTag(const Tag& tag, Tag& previous);
  // Reads the counts and data offset of one header form.
  bool ReadHeaderForm(bool long_form, int counts[3], int64_t& data_offset);
  // Whether a tag's marker sits behind the PreviousTagSize field at `field`.
  bool TagStartsAt(int64_t field);
  // A recording holds at least one whole audio, video or data packet.
  bool HasCompletePacket();
  void ParseMetadata(uint32_t data_size);
  void ProbeDurationFromLastTag();
  bool IsVideoStream(uint32_t stream_number) const;
  int StepBack();

  ByteIOContext* pb_ = nullptr;
  int64_t data_offset_ = 0;
  int64_t file_size_ = INT64_MAX;  // INT64_MAX when the input cannot tell
  bool resync_next_ = false;       // the last tag was rejected: scan for the next
  int64_t scan_end_ = INT64_MAX;   // scans give up past this position (opening looks at a bounded start)
  // A tag already found by a resynchronisation; NextTag hands it out next.
  std::optional<Tag> pending_;
  void ForgetResync() {
    resync_next_ = false;
    pending_.reset();
  }       // the last tag was rejected: scan for the next
  int64_t last_tag_pos_ = -1;
  bool duration_probed_ = false;
  std::vector<uint8_t> metadata_;
  std::vector<uint8_t> scan_buffer_;

  // Reverse play: a byte window [start, end) of PreviousTagSize positions and,
  // per stream number, the timestamp range of the group being delivered.
  struct ReverseWindow {
    bool active = false;
    bool started = false;
    int64_t start = 0;
    int64_t end = 0;
    std::array<int64_t, kMaxStreams> range_start{};
    std::array<int64_t, kMaxStreams> range_end{};
    std::array<bool, kMaxStreams> not_video{};  // stream numbers seen in audio/data tags
  } reverse_;
};

// What the file list needs of a recording, read from its header and leading metadata.
struct QvvProbe {
  int64_t start_time = 0;
  int64_t duration = kNoPtsValue;  // microseconds
  std::string bus_number;
  struct Video {
    int32_t stream_number, width, height, bit_rate, frame_rate;
  };
  struct Audio {
    int32_t stream_number, bit_rate;
  };
  std::vector<Video> video;
  std::vector<Audio> audio;
  uint32_t channel_mask = 0;  // bit n: a video stream numbered n
};

int ProbeQvvFile(const std::string& path, QvvProbe& out);

}  // namespace qvv

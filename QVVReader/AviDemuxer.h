#pragma once
// RIFF AVI 1.0 with the OpenDML extensions: "AVIX" continuation lists, the
// "odml"/"dmlh" header, "indx" super indexes with "ix##" standard indexes, and
// "idx1". Interleaved files are read by scanning "movi" (resynchronising on
// damage); files that are not are read through the index.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "QVVReader/Demuxer.h"
#include "QVVReader/StreamIndex.h"

namespace qvv {

struct AviStreamInfo {
  uint32_t type = 0;     // fourcc of the stream header: vids, auds, dats, txts
  uint32_t handler = 0;
  uint32_t codec_tag = 0;  // video compression fourcc, or the audio format tag
  int32_t scale = 1, rate = 25;
  int64_t start = 0, length = 0;
  int32_t sample_size = 0;
  int32_t block_align = 0;
  int32_t avg_bytes_per_sec = 0;
  std::vector<uint8_t> format;     // the whole "strf" chunk, for clips
  std::vector<uint8_t> extradata;  // bytes after the fixed header
  StreamIndex index;
  int64_t frame_offset = 0;  // running position in time-base units (bytes for sample-size streams)
  size_t next_entry = 0;     // reading without interleave
};

class AviDemuxer final : public Demuxer {
 public:
  int Open(ByteIOContext* pb, std::string_view file_name) override;
  int OpenReverse(ByteIOContext* pb, std::string_view file_name) override;
  int ReadPacket(ReaderPacket& packet) override;
  int ReadPacketReverse(ReaderPacket& packet) override;
  // The nearer of the key frames around the target; on a tie the later one.
  bool Seek(int64_t target_us) override;
  bool SeekReverse(int64_t target_us) override;
  // The key frame at or before the target (clips start there).
  bool SeekKeyAtOrBefore(int64_t target_us);

  bool is_odml() const { return odml_; }
  bool interleaved() const { return !non_interleaved_; }
  uint32_t cipher_marker() const { return cipher_marker_; }
  int64_t us_per_frame() const { return us_per_frame_; }
  const std::map<std::string, std::string>& tags() const { return tags_; }
  const AviStreamInfo& stream_info(int position) const { return info_[static_cast<size_t>(position)]; }
  int64_t movi_start() const { return movi_start_; }

 private:
  int ReadHeader();
  bool ReadSuperIndex(AviStreamInfo& info, uint32_t size);
  void ReadStandardIndex(AviStreamInfo& info, int64_t pos);
  bool ReadIdx1();
  void CheckInterleave();
  // A stream chunk of "movi": where its header starts, its stream, its size.
  struct Chunk {
    int64_t pos = 0;
    int stream = 0;
    uint32_t size = 0;
  };
  // The next stream chunk from the current position, stepping into lists and
  // over indexes and JUNK, and resynchronising byte by byte on damage. Leaves
  // the position at the payload.
  int NextChunk(Chunk& chunk);
  // Files whose recorder stopped before writing an index: one is built by
  // reading the chunk headers, the first time a seek or reverse play needs it.
  void EnsureIndex();
  // Whether a chunk header (or the file's end) follows at the position.
  bool ChunkFollows();
  // Whether a payload holds what looks like another stream chunk's header.
  bool HoldsChunkHeader(const ReaderPacket& packet) const;
  int ReadInterleaved(ReaderPacket& packet);
  int ReadByIndex(ReaderPacket& packet);
  int ReadChunkPayload(int stream, uint32_t size, int64_t chunk_pos, ReaderPacket& packet);
  int64_t Duration(const AviStreamInfo& info, uint32_t size) const;
  int64_t TimestampOf(const AviStreamInfo& info) const;
  void PositionStreamsAt(int64_t pos, int64_t time_us);
  int VideoStream() const;
  bool SeekTo(int64_t target_us, bool nearest);

  ByteIOContext* pb_ = nullptr;
  std::vector<AviStreamInfo> info_;
  std::map<std::string, std::string> tags_;
  int64_t movi_list_ = 0;   // position of the "movi" fourcc
  int64_t movi_start_ = 0;  // first chunk
  int64_t movi_end_ = 0;
  int64_t file_size_ = 0;
  int64_t us_per_frame_ = 0;
  uint32_t cipher_marker_ = 0;
  bool odml_ = false;
  bool non_interleaved_ = false;
  bool index_loaded_ = false;
  bool index_scanned_ = false;
  bool dv_ = false;
  GroupStepper reverse_;
  bool reverse_active_ = false;
  bool in_group_ = false;
  int64_t last_chunk_pos_ = -1;
};

}  // namespace qvv

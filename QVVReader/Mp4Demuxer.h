#pragma once
// MP4 recordings, read by libavformat. The recorder writes one MP4 file per
// channel. Its H.264 (or HEVC) track keeps the parameter sets in the track
// header and length-prefixed NAL units in the samples, which the playback
// engine cannot take: every video packet leaves here as an Annex B byte
// stream with the parameter sets in front of each key frame. Streams keep
// libavformat's numbers and time bases, packet times are the file's own, and
// MP4 recordings play forwards only.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "QVVReader/Demuxer.h"

// libavformat's own types; the reader's types of the same names live in qvv.
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVBSFContext;

namespace qvv {

class Mp4Demuxer final : public Demuxer {
 public:
  // What backward play gets (EOPNOTSUPP): the player tells the user instead.
  static constexpr int kErrNoBackward = -95;

  Mp4Demuxer() = default;
  ~Mp4Demuxer() override;
  Mp4Demuxer(const Mp4Demuxer&) = delete;
  Mp4Demuxer& operator=(const Mp4Demuxer&) = delete;

  // With `pb`, libavformat reads the file through it (the caller keeps it
  // open while this reader lives, as with every reader); with nullptr it
  // opens `file_name` itself. 0, or a negative code with error_text() set.
  int Open(ByteIOContext* pb, std::string_view file_name) override;
  // Refused: kErrNoBackward.
  int OpenReverse(ByteIOContext* pb, std::string_view file_name) override;
  int ReadPacket(ReaderPacket& packet) override;
  int ReadPacketReverse(ReaderPacket& packet) override;  // kErrNoBackward
  // libavformat's seek on the first video stream, backwards to a key frame.
  bool Seek(int64_t target_us) override;

  // Why the last Open or ReadPacket failed, in libavformat's words.
  const std::string& error_text() const { return error_text_; }

 private:
  enum class Filter : uint8_t { Untried, Ready, NotNeeded, Unusable };

  void Close();
  void FillStreams();
  // The Annex B filter of a video stream, made from its track header on the
  // stream's first packet.
  Filter PrepareFilter(int index);
  // Copies the packet libavformat gave into `packet` and releases it.
  int Deliver(ReaderPacket& packet);
  int Fail(int averror, const char* what);

  ::AVFormatContext* fmt_ = nullptr;
  ::AVIOContext* avio_ = nullptr;  // over the caller's byte context
  ::AVPacket* pkt_ = nullptr;
  int64_t file_size_ = -1;
  bool file_cut_ = false;  // the track header places samples behind the file's end
  std::vector<::AVBSFContext*> filters_;  // by libavformat's stream index
  std::vector<Filter> filter_state_;
  ::AVBSFContext* draining_ = nullptr;  // a filter that may hold more output
  int draining_index_ = 0;              // and the stream it filters
  std::string error_text_;
};

}  // namespace qvv

#pragma once
// What every container reader offers: open (forward or for reverse play), read
// a packet, read a packet backwards group by group, seek to a key frame, and
// the file's streams. One reader per file; the caller owns the byte context.
#include <cstdint>
#include <string_view>

#include "QVVReader/Format.h"

namespace qvv {

class Demuxer {
 public:
  virtual ~Demuxer() = default;

  // Reads the header; `file_name` is the recording's path (some containers
  // pick their header form from the name). 0 or a negative code.
  virtual int Open(ByteIOContext* pb, std::string_view file_name) = 0;
  virtual int OpenReverse(ByteIOContext* pb, std::string_view file_name) = 0;
  // Payload size, -32 at the end, another negative code on damage.
  virtual int ReadPacket(ReaderPacket& packet) = 0;
  // Groups of pictures from the end towards the start, each group forward.
  virtual int ReadPacketReverse(ReaderPacket& packet) = 0;
  // Positions on the video key frame at or before the target (microseconds).
  virtual bool Seek(int64_t target_us) = 0;

  AVFormatContext& context() { return ctx_; }
  const AVFormatContext& context() const { return ctx_; }

 protected:
  AVFormatContext ctx_;
};

}  // namespace qvv

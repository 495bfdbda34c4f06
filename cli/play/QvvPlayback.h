#pragma once
// A QVV recording's video played through the playback filter and clock, fed
// straight from the demuxer on a thread of its own, with statistics of what
// every channel showed and when. The command-line player runs it on the real
// clock; tests run it on a fake one.
#include <cstdint>
#include <vector>

#include "QVVReader/QvvDemuxer.h"
#include "engine/LibavLog.h"
#include "platform/Sleeper.h"

namespace cli {

struct PlayOptions {
  int speed = 16;  // sixteenths of normal speed
  bool reverse = false;
  int channels = 12;
  // Null for the real ones.
  platform::TimeSource* time = nullptr;
  platform::Sleeper* sleeper = nullptr;
};

struct ChannelReport {
  int channel = 0;
  int shown = 0;
  int64_t first = 0, last = 0;
  bool order_ok = true;  // time stamps only grew
  // The largest difference between the moment this channel showed a time
  // stamp and the moment any other channel showed the same one.
  int64_t max_skew_ms = 0;
  int64_t played_ms = 0;  // from showing the first picture to showing the last
  int decode_errors = 0;  // packets the decoder refused or that gave an error
};

// What the run saw besides the channels' pictures.
struct PlaySummary {
  uint64_t dropped_timestamps = 0;  // video packets dropped for a time stamp far off the time line
  uint32_t preroll_ms = 0;          // waited for the decoders before playing
  // libav's messages per channel that had any (see engine/LibavLog.h).
  std::vector<engine::libav_log::Tally> libav_messages;
};

// Plays to the end; one report per channel the recording has (a video stream
// or video packets) among channels 0 .. options.channels-1, by channel.
std::vector<ChannelReport> PlayQvv(qvv::QvvDemuxer& demuxer, const PlayOptions& options,
                                   PlaySummary* summary = nullptr);

}  // namespace cli

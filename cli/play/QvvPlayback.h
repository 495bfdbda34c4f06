#pragma once
// A QVV recording's video played through the playback filter and clock, fed
// straight from the demuxer on a thread of its own, with statistics of what
// every channel showed and when. The command-line player runs it on the real
// clock; tests run it on a fake one.
#include <cstdint>
#include <string>
#include <vector>

#include "QVVReader/QvvDemuxer.h"
#include "engine/LibavLog.h"
#include "platform/Sleeper.h"

namespace cli {

struct PlayOptions {
  int speed = 16;  // sixteenths of normal speed
  bool reverse = false;
  int channels = 12;
  // The channel whose sound is played (-1: none), and where it goes: a WAV
  // file (paced like a sound card) or SDL's device (driver: SDL's choice,
  // "dummy" when that opens nothing).
  int audio_channel = -1;
  std::string wav_path;
  std::string audio_driver;
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

// The played channel's sound against its pictures, on the sync marks (a white
// picture and a 1 kHz beep at the same time stamp).
struct AudioReport {
  bool played = false;      // a sound device was open
  int channel = -1;
  int64_t played_ms = 0;    // sound the device played
  int marks = 0;            // white pictures matched with a beep
  int64_t av_offset_ms = -1;  // largest |picture shown - its beep played|; -1: no marks
  int64_t median_offset_ms = -1;
  std::vector<int64_t> offsets_ms;  // picture minus beep, one a mark (+: the picture came later)
  uint64_t decoded_packets = 0, failed_packets = 0;
};

// Sensor and overlay records the reader handed on.
struct RecordReport {
  uint64_t gps = 0, gsensor = 0, other = 0, alg = 0;
};

// What the run saw besides the channels' pictures.
struct PlaySummary {
  AudioReport audio;
  RecordReport records;
  int reader_exit = 0;  // how the reader thread ended (275: normally)
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

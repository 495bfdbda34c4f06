#pragma once
// Writes small ".qvv" files with known packets for the reader tests: video
// streams with one key frame a second, optional audio and data records, and
// payloads of pseudo-random bytes (which contain stray 01 FF pairs, as real
// H.264 does).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "QVVReader/QvvWriter.h"

namespace testing_support {

struct WrittenPacket {
  int stream;
  int kind;  // 0 video, 1 audio, 2 data
  int64_t pts_us;
  bool key;
  std::vector<uint8_t> payload;
};

struct QvvSampleOptions {
  int video = 2;
  int audio = 0;
  int data = 0;
  int seconds = 4;
  int fps = 5;
  int gop = 5;  // frames per group of pictures
  bool long_header = false;
  int payload_min = 200;
  int payload_max = 3000;
  uint32_t seed = 1;
  int size_trend = 0;  // +1: payloads grow over the file, -1: shrink (uneven byte rates for seeking)
  int first_key_frame = 0;  // frames before it are not key frames
  int key_frame_size = 0;   // bytes of every key frame's payload (0: like the others)
};

// Writes the file and returns the packets in file order.
std::vector<WrittenPacket> WriteQvvSample(const std::filesystem::path& path, const QvvSampleOptions& options);

// The video packets of a ".qvv" file in file order (empty when it does not open).
struct VideoPacket {
  int stream;
  int64_t pts_us;  // for FLV: milliseconds, the stream's time base
  std::vector<uint8_t> data;
};
std::vector<VideoPacket> ReadQvvVideoPackets(const std::string& path);

// A one-channel FLV recording of one second (160 x 96, 25 pictures) made by
// dravik-tool in `dir`: its stream's extradata (the avcC sequence header) and
// its video packets, length-prefixed as FLV carries them.
struct FlvVideo {
  std::vector<uint8_t> extradata;
  std::vector<VideoPacket> packets;
};
FlvVideo MakeFlvVideo(const std::filesystem::path& dir, const std::string& tool);

// A GPS record payload as the recorder writes it.
std::vector<uint8_t> GpsRecord(double lat, double lon, double speed, const std::string& car_info);

}  // namespace testing_support

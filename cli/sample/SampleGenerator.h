#pragma once
// Writes groups of sample recordings with real H.264, audio and data records,
// named as the recorder names them. The same options give the same bytes.
#include <cstdint>
#include <string>
#include <vector>

namespace sample {

struct SampleOptions {
  std::string dir;
  std::string format = "qvv";  // qvv, avi, flv, mp4
  int channels = 4;
  int seconds = 10;
  int groups = 2;
  int width = 640, height = 360, fps = 25;
  std::string audio;  // voice, adpcm, aac, none; empty: the format's usual one
  // plain: flat gradients, quick to encode and decode; textured: a vehicle
  // camera's moving, noisy scene (TexturedScene).
  std::string content = "plain";
  // Bits a second of the video, as a recorder's encoder holds them; 0: plain
  // pictures at constant quality, textured ones at kDefaultMilliBitsPerPixel.
  int64_t bit_rate = 0;
  bool long_names = false;
  // A white picture and a 1 kHz beep in every channel at every whole second.
  bool sync_marks = false;
  // The first group's start, UTC seconds: 2024-03-15 08:00:00 unless chosen.
  int64_t start_utc = 1710489600;
};

// Textured pictures without a bit rate get this many bits a pixel a second,
// in thousandths: 2 Mbit/s at 1280 x 720 x 25.
constexpr int64_t kDefaultMilliBitsPerPixel = 87;

// The recordings written, in order; false with a reason on failure.
bool GenerateSamples(const SampleOptions& options, std::vector<std::string>& written, std::string& error);

// The file name of a group's recording (channel -1 for QVV's all-channel file).
std::string SampleFileName(const SampleOptions& options, int group, int channel);

}  // namespace sample

// A WAV file in place of a sound card: a thread takes the samples every 10 ms
// at the pace a card would (on the monotonic clock, against a fixed schedule so
// that it does not drift) and appends them; the header's sizes are written as
// the file grows, so a file cut short by a crash still plays. Only what is
// played goes into the file: while the buffer is stopped or held the time
// passes without samples, so the file lasts as long as the sound played.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/SoundDevice.h"
#include "platform/TickCount.h"

namespace platform {

namespace {

constexpr int kPeriodMs = 10;

void PutLe(uint8_t* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class WavSoundDevice final : public SoundDevice {
 public:
  WavSoundDevice(std::FILE* file, const SoundDeviceOptions& options, std::string path)
      : file_(file), rate_(options.rate), channels_(options.channels), path_(std::move(path)) {
    WriteHeader();
    thread_ = std::thread([this] { Run(); });
  }
  ~WavSoundDevice() override {
    stop_.store(true);
    thread_.join();
    WriteHeader();
    std::fclose(file_);
  }
  int rate() const override { return rate_; }
  int channels() const override { return channels_; }
  std::string name() const override { return "wav:" + path_; }
  int latency_ms() const override { return 0; }

 private:
  void WriteHeader() {
    uint8_t h[44];
    const uint32_t block = static_cast<uint32_t>(2 * channels_);
    std::memcpy(h, "RIFF", 4);
    PutLe(h + 4, 36 + data_bytes_, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe(h + 16, 16, 4);
    PutLe(h + 20, 1, 2);  // PCM
    PutLe(h + 22, static_cast<uint32_t>(channels_), 2);
    PutLe(h + 24, static_cast<uint32_t>(rate_), 4);
    PutLe(h + 28, static_cast<uint32_t>(rate_) * block, 4);
    PutLe(h + 32, block, 2);
    PutLe(h + 34, 16, 2);
    std::memcpy(h + 36, "data", 4);
    PutLe(h + 40, data_bytes_, 4);
    const long end = std::ftell(file_);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof h, file_);
    std::fseek(file_, end > 44 ? end : 44, SEEK_SET);
  }

  void Run() {
    using Clock = std::chrono::steady_clock;
    const int frames = rate_ * kPeriodMs / 1000;
    std::vector<int16_t> block(static_cast<size_t>(frames * channels_));
    auto due = Clock::now();
    int written_periods = 0;
    while (!stop_.load()) {
      std::this_thread::sleep_until(due);
      due += std::chrono::milliseconds(kPeriodMs);
      if (!Render(block.data(), frames, TickCount32())) continue;
      const size_t bytes = block.size() * sizeof(int16_t);
      if (std::fwrite(block.data(), 1, bytes, file_) != bytes) {
        if (!failed_) std::fprintf(stderr, "dravik: cannot write %s\n", path_.c_str());
        failed_ = true;
        continue;
      }
      data_bytes_ += static_cast<uint32_t>(bytes);
      if (++written_periods % 100 == 0) WriteHeader();  // once a second
    }
  }

  std::FILE* file_;
  const int rate_, channels_;
  const std::string path_;
  uint32_t data_bytes_ = 0;  // the thread's until it is joined
  bool failed_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<SoundDevice> OpenWavSoundDevice(const SoundDeviceOptions& options, std::string* error) {
  std::FILE* file = std::fopen(options.wav_path.c_str(), "wb");
  if (!file) {
    if (error) *error = "cannot create " + options.wav_path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<WavSoundDevice>(file, options, options.wav_path);
}

}  // namespace platform

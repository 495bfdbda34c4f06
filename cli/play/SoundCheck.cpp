#include "cli/play/SoundCheck.h"

#include <algorithm>
#include <cmath>

namespace cli {

SoundCheck::~SoundCheck() {
  if (player_) {
    player_->StopOutput();
    if (player_->device()) player_->device()->SetTap(nullptr);
  }
}

bool SoundCheck::Open(const PlayOptions& options, int sample_rate, const void* owner) {
  player_ = std::make_unique<engine::ACAudioPlayer>();
  platform::SoundDeviceOptions device;
  device.driver = options.audio_driver;
  device.wav_path = options.wav_path;
  player_->SetDeviceOptions(device);
  if (!player_->OpenOutput(owner, 1, sample_rate > 0 ? sample_rate : 8000, 16)) {
    player_.reset();
    return false;
  }
  device_rate_ = player_->device()->rate();
  beeps_ = std::make_unique<BeepDetector>(device_rate_);
  player_->device()->SetTap([this](const int16_t* samples, int frames, uint32_t tick) {
    std::lock_guard lock(mutex_);
    beeps_->Feed(samples, frames, tick);
    played_frames_ += static_cast<uint64_t>(frames);
  });
  player_->PauseAudio(true);  // until the clock plays
  player_->StartOutput();
  return true;
}

void SoundCheck::DrainAndStop(platform::Sleeper& sleeper) {
  if (!player_) return;
  int64_t heard = player_->Position();
  for (int i = 0; i < 40; ++i) {
    sleeper.SleepMs(25);
    const int64_t now = player_->Position();
    if (now == heard) break;
    heard = now;
  }
  player_->StopOutput();
  player_->device()->SetTap(nullptr);
}

void SoundCheck::Report(int channel, const std::vector<uint32_t>& white_ticks, AudioReport* report) {
  if (!player_ || !report) return;
  AudioReport& a = *report;
  a.played = true;
  a.channel = channel;
  a.decoded_packets = player_->decoded_packets();
  a.failed_packets = player_->failed_packets();
  std::lock_guard lock(mutex_);
  a.played_ms = device_rate_ > 0 ? static_cast<int64_t>(played_frames_ * 1000 / static_cast<uint64_t>(device_rate_)) : 0;
  // Each white picture against the nearest beep (marks are a second apart).
  for (const uint32_t shown : white_ticks) {
    double best = 1e18;
    for (const double onset : beeps_->onsets()) {
      const double apart = static_cast<double>(static_cast<int32_t>(shown - static_cast<uint32_t>(onset))) -
                           (onset - static_cast<double>(static_cast<uint32_t>(onset)));
      if (std::abs(apart) < std::abs(best)) best = apart;
    }
    if (std::abs(best) >= 500) continue;
    ++a.marks;
    a.offsets_ms.push_back(static_cast<int64_t>(std::lround(best)));
    a.av_offset_ms = std::max<int64_t>(a.av_offset_ms, static_cast<int64_t>(std::lround(std::abs(best))));
  }
  if (!a.offsets_ms.empty()) {
    std::vector<int64_t> sorted;
    for (const int64_t o : a.offsets_ms) sorted.push_back(std::abs(o));
    std::sort(sorted.begin(), sorted.end());
    a.median_offset_ms = sorted[sorted.size() / 2];
  }
}

}  // namespace cli

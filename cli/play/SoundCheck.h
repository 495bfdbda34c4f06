#pragma once
// The played channel's sound in a playback run: the audio player on the sound
// card or a WAV file, with a tap on what the device takes that finds the sync
// marks' beeps, and the report of the sound against the white pictures.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/play/BeepDetector.h"
#include "cli/play/QvvPlayback.h"
#include "engine/ACAudioPlayer.h"
#include "platform/Sleeper.h"

namespace cli {

class SoundCheck {
 public:
  ~SoundCheck();
  // Opens the device (held until the clock plays) and starts the player;
  // false when no device opens (the run goes on without sound).
  bool Open(const PlayOptions& options, int sample_rate, const void* owner);
  engine::ACAudioPlayer* player() { return player_.get(); }
  // Lets the last queued sound play out (at most a second), then stops.
  void DrainAndStop(platform::Sleeper& sleeper);
  // Played time, and each white picture against the nearest beep.
  void Report(int channel, const std::vector<uint32_t>& white_ticks, AudioReport* report);

 private:
  std::unique_ptr<engine::ACAudioPlayer> player_;
  std::mutex mutex_;
  std::unique_ptr<BeepDetector> beeps_;  // guarded by mutex_
  uint64_t played_frames_ = 0;           // guarded by mutex_
  int device_rate_ = 0;
};

}  // namespace cli

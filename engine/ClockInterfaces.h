#pragma once
// What the playback clock drives and listens to, as small interfaces: the
// filter takes the clock time, the audio player gives its position.
#include <cstdint>

namespace engine {

class ClockTarget {
 public:
  virtual ~ClockTarget() = default;
  virtual void CurDTS(int64_t clock_ms, int step_ms, int speed, bool backward) = 0;
  virtual void OneFrame(int on) = 0;
  virtual void PushFrame(int on) = 0;
};

class AudioClock {
 public:
  virtual ~AudioClock() = default;
  virtual void SetSpeed(int speed) = 0;
  virtual int64_t Position() = 0;  // ms of the sound being heard; 0 when none plays
  virtual void Pause() = 0;
  virtual void Resume() = 0;
};

}  // namespace engine

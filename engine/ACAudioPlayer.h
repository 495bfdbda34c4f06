#pragma once
// The sound of one channel: the reader puts compressed packets in, the decode
// thread turns them into PCM in a ring, the output thread keeps a looping
// one-second sound buffer topped up from the ring five times a second. Its
// position (the time of the sound being heard) is what the playback clock
// paces the pictures against; a speed change plays the buffer at another
// frequency.
//
// Who owns what (the threads keep the Core alive; nothing waits on a GUI):
//   field                    written by                 guarded by
//   packets (ACMediaList)    reader (InputAudio), flush  its object lock
//   pcm (ACSoundBuffer)      decode thread, output thread its object lock
//   last_written_ms          decode thread               pcm's object lock
//   device_written           output thread               pcm's object lock
//   speed, rate, frequency   clock thread, decode thread atomics (frequency:
//                                                         the sound buffer's mutex)
//   sound buffer bytes       output thread (Lock/Unlock) the buffer's mutex
//   decoder                  decode thread only          -
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/ClockInterfaces.h"
#include "platform/SoundDevice.h"

namespace engine {

class ACAudioPlayer final : public engine::AudioClock {
 public:
  static constexpr uint32_t kPcmRingBytes = 102400;
  // A packet's bytes beyond this are cut off. Larger than the recorder's own
  // 2048: a Flash ADPCM packet of 4096 samples is 2051 bytes.
  static constexpr int kInputBytes = 65536;

  ACAudioPlayer();
  ~ACAudioPlayer() override;
  ACAudioPlayer(const ACAudioPlayer&) = delete;
  ACAudioPlayer& operator=(const ACAudioPlayer&) = delete;

  // Where the sound goes (before OpenOutput): SDL's device, or a WAV file.
  void SetDeviceOptions(const platform::SoundDeviceOptions& options);

  // 1 when a device and its one-second buffer are ready; 0 without an owner
  // or a device (the player then stays silent and drops what it is given).
  int OpenOutput(const void* owner, int channels, int rate, int bits);
  void StartOutput();
  void StopOutput();

  // 1: taken, or dropped (no threads, no source active); 0: the packet ring
  // is full, try again; -1: no data.
  int InputAudio(int channel, uint32_t codec_id, int64_t time_ms, const uint8_t* data, int size, int sample_rate,
                 int reserved);
  // Empties the packet ring, the PCM and what the device still has queued;
  // false when the decode thread did not confirm within 2 s.
  bool FlushAudio();
  void SetAudioSpeed(int speed);
  void SetSampleRate(int rate);
  int GetSampleRate() const;
  void PauseAudio(bool on);
  // The time (ms) of the sound being heard: the end of the PCM written so far,
  // less what waits in the ring and in the device. 0 when nothing has been
  // written; when that would be negative the buffered PCM is dropped.
  int64_t AudioClock(int speed);

  // The clock's side.
  void SetSpeed(int speed) override { SetAudioSpeed(speed); }
  int64_t Position() override;
  void Pause() override { PauseAudio(true); }
  void Resume() override { PauseAudio(false); }

  bool running() const;
  // The device (for a tap that watches what is played), or null.
  platform::SoundDevice* device();
  int frequency() const;
  // Packets decoded to PCM, packets dropped for an unknown codec, decode
  // failures.
  uint64_t decoded_packets() const;
  uint64_t unknown_codec_packets() const;
  uint64_t failed_packets() const;

 private:
  struct Core;
  std::shared_ptr<Core> core_;
};

}  // namespace engine

// The audio player end to end on a WAV sink: voice packets in, PCM in the
// ring, sound out at the device's pace; its position for the clock; pause,
// flush, the rate rules of codec switches; and no device at all.
#include "engine/ACAudioPlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "engine/AudioDecoders.h"
#include "engine/EngineGlobals.h"
#include "tests/support/TempDir.h"
#include "voice/voxcore.h"

namespace {

using engine::ACAudioPlayer;
constexpr double kPi = 3.14159265358979323846;
const int kOwner = 0;  // the window the output belongs to: any address

// Voice frames (type 35) of `samples` samples of a `hz` tone at 8000 Hz.
std::vector<std::vector<uint8_t>> VoiceFrames(int count, int samples, double hz) {
  std::vector<uint8_t> state(ZN_VOICE_STATE_SIZE);
  EXPECT_EQ(ZN_VOICE_EncReset(state.data(), 35), ZN_VOICE_OK);
  std::vector<std::vector<uint8_t>> frames;
  for (int f = 0; f < count; ++f) {
    std::vector<int16_t> pcm(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i)
      pcm[static_cast<size_t>(i)] = static_cast<int16_t>(8000 * std::sin(2 * kPi * hz * (f * samples + i) / 8000.0));
    std::vector<uint8_t> frame(ZN_VOICE_MAX_FRAME_BYTES);
    EXPECT_EQ(ZN_VOICE_EncodeFrame(state.data(), pcm.data(), frame.data(), static_cast<uint16_t>(samples)), ZN_VOICE_OK);
    frame.resize(4 + 2 * static_cast<size_t>(frame[2]));
    frames.push_back(frame);
  }
  return frames;
}

// Waits for a condition the player's threads bring about; fails after 10 s.
void WaitUntil(const std::function<bool()>& done, const char* what) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    ASSERT_LT(std::chrono::steady_clock::now(), until) << "waiting for " << what;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void Feed(ACAudioPlayer& player, uint32_t codec, int64_t time, const std::vector<uint8_t>& data) {
  while (player.InputAudio(0, codec, time, data.data(), static_cast<int>(data.size()), 0, 0) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class AudioPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::ResetAllSourceEvents();
    engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  }
  void TearDown() override { engine::ResetAllSourceEvents(); }
  void Open(ACAudioPlayer& player) {
    platform::SoundDeviceOptions options;
    options.wav_path = (dir_ / "out.wav").string();
    player.SetDeviceOptions(options);
    ASSERT_EQ(player.OpenOutput(&kOwner, 1, 8000, 16), 1);
  }
  testing_support::TempDir dir_;
};

TEST_F(AudioPlayer, PausedItDecodesButPlaysNothingAndItsClockIsTheEndLessWhatIsBuffered) {
  auto owned = std::make_unique<ACAudioPlayer>();
  ACAudioPlayer& player = *owned;
  Open(player);
  player.PauseAudio(true);
  player.StartOutput();
  // Four frames of 401 samples: 3208 bytes, 200 ms at 8000 Hz.
  const auto frames = VoiceFrames(4, 401, 500);
  for (int i = 0; i < 4; ++i) Feed(player, engine::kVoiceCodec, 1000 + 50 * i, frames[static_cast<size_t>(i)]);
  WaitUntil([&] { return player.decoded_packets() == 4; }, "four decoded packets");
  // The last packet ends at 1150 + 50 = 1200; 200 ms of it wait in the ring.
  EXPECT_EQ(player.AudioClock(16), 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(player.AudioClock(16), 1000) << "paused: nothing taken from the ring";
  EXPECT_EQ(std::filesystem::file_size(dir_ / "out.wav"), 44u) << "paused: nothing played";

  player.PauseAudio(false);
  WaitUntil([&] { return player.AudioClock(16) >= 1200; }, "the sound to play out");
  owned.reset();  // closes the WAV file
  const std::string wav = testing_support::ReadFileBytes(dir_ / "out.wav");
  ASSERT_GT(wav.size(), 44u + 2 * 48000 / 5);
  // The tone comes out at its pitch (the device runs at 48 kHz).
  std::vector<int16_t> s((wav.size() - 44) / 2);
  std::memcpy(s.data(), wav.data() + 44, s.size() * 2);
  // Rising crossings with some hysteresis: the codec's first samples dither
  // around zero while it adapts.
  int crossings = 0, first = -1, last = -1;
  bool low = false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] < -1000) low = true;
    if (low && s[i] > 1000) {
      low = false;
      ++crossings;
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
    }
  }
  ASSERT_GT(crossings, 50);
  EXPECT_NEAR((crossings - 1) * 48000.0 / (last - first), 500.0, 10.0);
}

TEST_F(AudioPlayer, AFlushEmptiesTheRingAndTheClock) {
  ACAudioPlayer player;
  Open(player);
  player.PauseAudio(true);
  player.StartOutput();
  const auto frames = VoiceFrames(3, 401, 500);
  for (int i = 0; i < 3; ++i) Feed(player, engine::kVoiceCodec, 5000 + 50 * i, frames[static_cast<size_t>(i)]);
  WaitUntil([&] { return player.decoded_packets() == 3; }, "three decoded packets");
  EXPECT_GT(player.AudioClock(16), 0);
  EXPECT_TRUE(player.FlushAudio());
  EXPECT_EQ(player.AudioClock(16), 0);
  Feed(player, engine::kVoiceCodec, 9000, frames[0]);
  WaitUntil([&] { return player.decoded_packets() == 4; }, "a packet after the flush");
  EXPECT_EQ(player.AudioClock(16), 9000);
}

TEST_F(AudioPlayer, CodecSwitchesAndSpeedSetTheFrequency) {
  ACAudioPlayer player;
  Open(player);
  player.PauseAudio(true);
  player.StartOutput();
  const std::vector<uint8_t> junk(64, 0x5A);  // decodes to nothing; the rate rules come first
  uint64_t handled = 0;
  auto feed = [&](uint32_t codec) {
    Feed(player, codec, 100, junk);
    ++handled;
    WaitUntil([&] { return player.decoded_packets() + player.failed_packets() + player.unknown_codec_packets() == handled; },
              "the packet");
  };
  EXPECT_EQ(player.frequency(), 8000);
  feed(engine::kAdpcmSwf);
  EXPECT_EQ(player.frequency(), 11025) << "Flash ADPCM plays at 11025 Hz";
  feed(engine::kAdpcmMs);
  EXPECT_EQ(player.frequency(), 8000) << "from Flash ADPCM to ADPCM MS: 8000 Hz";
  feed(engine::kAdpcmSwf);
  feed(engine::kAac);
  EXPECT_EQ(player.frequency(), 11025) << "AAC keeps the rate until the reader gives one";
  player.SetAudioSpeed(32);
  EXPECT_EQ(player.frequency(), 22050);
  player.SetSampleRate(16000);
  EXPECT_EQ(player.frequency(), 32000) << "a new rate plays at the speed chosen";
  player.SetAudioSpeed(1);
  EXPECT_EQ(player.frequency(), 1000);
  feed(0x12345);
  EXPECT_EQ(player.unknown_codec_packets(), 1u);
}

TEST_F(AudioPlayer, WithoutADeviceItStaysSilentAndNothingWaits) {
  ACAudioPlayer player;
  platform::SoundDeviceOptions options;
  options.driver = "no-such-driver";
  player.SetDeviceOptions(options);
  EXPECT_EQ(player.OpenOutput(nullptr, 1, 8000, 16), 0) << "no window";
  EXPECT_EQ(player.OpenOutput(&kOwner, 1, 8000, 16), 0);
  player.StartOutput();
  EXPECT_FALSE(player.running());
  const auto frames = VoiceFrames(1, 401, 500);
  EXPECT_EQ(player.InputAudio(0, engine::kVoiceCodec, 0, frames[0].data(), static_cast<int>(frames[0].size()), 0, 0), 1)
      << "dropped, not refused: the reader must not retry forever";
  EXPECT_TRUE(player.FlushAudio());
  EXPECT_EQ(player.Position(), 0) << "the clock paces on real time";
  player.PauseAudio(true);
  player.SetAudioSpeed(32);
  player.StopOutput();
}

}  // namespace

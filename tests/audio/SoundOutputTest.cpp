// The looping sound buffer and the devices that play it: the frequency a
// buffer plays at is what comes out of the device (SDL's disk driver writes
// what it plays to a file), holding plays silence without moving the cursor,
// notifications fire as the cursor passes them, a lost buffer is restored.
#include "platform/LoopingSoundBuffer.h"
#include "platform/SoundDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

using platform::LoopingSoundBuffer;
using platform::PcmFormat;

constexpr double kPi = 3.14159265358979323846;

// One second of a 1 kHz tone at 8000 Hz: the loop joins without a seam.
void FillTone(LoopingSoundBuffer& buffer) {
  platform::SoundSpan a, b;
  ASSERT_TRUE(buffer.Lock(0, buffer.size(), &a, &b));
  auto* samples = reinterpret_cast<int16_t*>(a.data);
  for (uint32_t i = 0; i < a.bytes / 2; ++i) samples[i] = static_cast<int16_t>(10000 * std::sin(2 * kPi * 1000 * i / 8000.0));
  buffer.Unlock();
}

// Rising zero crossings a second.
double Frequency(const std::vector<int16_t>& s, int rate) {
  int crossings = 0;
  for (size_t i = 1; i < s.size(); ++i) crossings += s[i - 1] < 0 && s[i] >= 0;
  return crossings * static_cast<double>(rate) / static_cast<double>(s.size());
}

std::vector<int16_t> ReadSamples(const std::filesystem::path& file) {
  const std::string bytes = testing_support::ReadFileBytes(file);
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

TEST(SoundDevice, TheBuffersFrequencyIsThePitchThatComesOut) {
  // Speed 16 plays at the stream's rate, 32 at twice it, 8 at half.
  for (const auto& [speed, expected] : {std::pair{16, 1000.0}, std::pair{32, 2000.0}, std::pair{8, 500.0}}) {
    testing_support::TempDir dir;
    const auto file = dir / "played.raw";
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);  // as fast as it takes them
    LoopingSoundBuffer buffer(PcmFormat{1, 8000, 16}, 16000);
    FillTone(buffer);
    ASSERT_TRUE(buffer.SetFrequency(8000 * speed / 16));
    platform::SoundDeviceOptions options;
    options.driver = "disk";
    options.rate = 48000;
    std::string error;
    {
      auto device = platform::OpenSoundDevice(options, &error);
      ASSERT_NE(device, nullptr) << error;
      EXPECT_EQ(device->name(), "disk");
      buffer.Play();
      device->Attach(&buffer);
      while (buffer.BytesPlayed() < 40000) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      device->Attach(nullptr);
    }
    const std::vector<int16_t> played = ReadSamples(file);
    ASSERT_GT(played.size(), 48000u / 4);
    // Leave out the first blocks (silence before the buffer was attached).
    std::vector<int16_t> steady(played.begin() + static_cast<ptrdiff_t>(played.size() / 2), played.end());
    EXPECT_NEAR(Frequency(steady, 48000), expected, expected * 0.02) << "speed " << speed;
  }
}

TEST(LoopingSoundBuffer, HeldOrStoppedItPlaysSilenceAndKeepsItsCursor) {
  LoopingSoundBuffer buffer(PcmFormat{1, 8000, 16}, 16000);
  FillTone(buffer);
  std::vector<int16_t> out(800);
  EXPECT_FALSE(buffer.Pull(out.data(), 800, 8000)) << "not playing yet";
  buffer.Play();
  ASSERT_TRUE(buffer.Pull(out.data(), 800, 8000));
  EXPECT_EQ(buffer.BytesPlayed(), 1600u);
  EXPECT_NE(out[2], 0);
  buffer.Hold(true);
  EXPECT_FALSE(buffer.Pull(out.data(), 800, 8000));
  EXPECT_EQ(buffer.BytesPlayed(), 1600u);
  for (const int16_t s : out) ASSERT_EQ(s, 0);
  buffer.Hold(false);
  EXPECT_TRUE(buffer.Pull(out.data(), 800, 8000));
  EXPECT_EQ(buffer.PlayCursor(), 3200u);
}

TEST(LoopingSoundBuffer, NotificationsFireAsTheCursorPassesAndOnStop) {
  LoopingSoundBuffer buffer(PcmFormat{1, 8000, 16}, 16000);
  platform::Event fifth(platform::Event::Mode::ManualReset), last(platform::Event::Mode::ManualReset),
      stopped(platform::Event::Mode::ManualReset);
  buffer.SetNotifications({{3200, &fifth}, {15999, &last}, {platform::SoundNotification::kNotifyOnStop, &stopped}});
  buffer.Play();
  std::vector<int16_t> out(8000);
  buffer.Pull(out.data(), 1599, 8000);  // up to byte 3198
  EXPECT_FALSE(fifth.IsSet());
  buffer.Pull(out.data(), 1, 8000);  // 3198..3199
  EXPECT_FALSE(fifth.IsSet());
  buffer.Pull(out.data(), 1, 8000);  // 3200..3201: passes it
  EXPECT_TRUE(fifth.IsSet());
  EXPECT_FALSE(last.IsSet());
  buffer.Pull(out.data(), 8000 - 1601, 8000);  // to the end of the loop
  EXPECT_TRUE(last.IsSet());
  EXPECT_EQ(buffer.PlayCursor(), 0u);
  EXPECT_FALSE(stopped.IsSet());
  buffer.Stop();
  EXPECT_TRUE(stopped.IsSet());
}

TEST(LoopingSoundBuffer, ALockAtTheWrapComesInTwoAndALostBufferIsRestored) {
  LoopingSoundBuffer buffer(PcmFormat{1, 8000, 16}, 1000);
  platform::SoundSpan a, b;
  ASSERT_TRUE(buffer.Lock(900, 300, &a, &b));
  EXPECT_EQ(a.bytes, 100u);
  EXPECT_EQ(b.bytes, 200u);
  std::memset(a.data, 0x11, a.bytes);
  std::memset(b.data, 0x22, b.bytes);
  EXPECT_FALSE(buffer.Lock(0, 10, &a, &b)) << "one lock at a time";
  buffer.Unlock();
  buffer.Play();
  std::vector<int16_t> out(500);
  buffer.Pull(out.data(), 100, 8000);  // bytes 0..199: written through the second part
  EXPECT_EQ(static_cast<uint16_t>(out[0]), 0x2222);
  buffer.MarkLost();
  EXPECT_FALSE(buffer.Lock(0, 10, &a, &b));
  EXPECT_FALSE(buffer.Pull(out.data(), 10, 8000)) << "a lost buffer plays nothing";
  ASSERT_TRUE(buffer.Restore());
  ASSERT_TRUE(buffer.Lock(0, 10, &a, &b));
  buffer.Unlock();
  ASSERT_TRUE(buffer.Pull(out.data(), 450, 8000));  // round to byte 900..999: the 0x11 part is gone
  EXPECT_EQ(out[449], 0) << "a restored buffer's old contents are silence";
}

TEST(SoundDevice, NoDriverMeansNoDevice) {
  platform::SoundDeviceOptions options;
  options.driver = "no-such-driver";
  std::string error;
  EXPECT_EQ(platform::OpenSoundDevice(options, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace

// Mixer volume and mute over ALSA. Without a sound card the "no mixer device"
// paths are the real ones; the rest runs against a card-less fake mixer (an ALSA
// control plugin, FakeMixerPlugin.c) through an ALSA configuration of the
// test's own, read back through a second, independent ALSA mixer.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "engine/MixerMapping.h"
#include "engine/mutecontrol.h"
#include "engine/volumcontrol.h"
#include "platform/MessageBoxHook.h"
#include "tests/support/TempDir.h"

namespace {

using engine::mutecontrol;
using engine::volumcontrol;
namespace mixer = engine::mixer;

const std::string kNoDevice = "没有找到音频设备!";
const std::string kLineInfoFailed = "GetLinInfo Resource faile!";

struct RecordingHook : platform::MessageBoxHook {
  void ShowMessageBox(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

TEST(MixerMappingTest, VolumeScaleMapsLinearlyOntoTheElementRange) {
  for (auto [min, max] : {std::pair<long, long>{0, 31}, {-10239, 400}, {0, 1000000}}) {
    SCOPED_TRACE(std::to_string(min) + ".." + std::to_string(max));
    EXPECT_EQ(mixer::ScaleToElement(0, min, max), min);
    EXPECT_EQ(mixer::ScaleToElement(65535, min, max), max);
    EXPECT_EQ(mixer::ScaleToElement(1000000, min, max), max);  // past the scale
    EXPECT_EQ(mixer::ElementToScale(max + 5, min, max), 65535u);
    EXPECT_EQ(mixer::ElementToScale(min - 5, min, max), 0u);
  }
  // Rounded to the nearest step, and every element value survives the trip
  // through the scale.
  EXPECT_EQ(mixer::ScaleToElement(32768, 0, 31), 16);  // 15.5008
  EXPECT_EQ(mixer::ScaleToElement(32767, 0, 31), 15);  // 15.4993
  for (long v = -300; v <= 300; ++v) EXPECT_EQ(mixer::ScaleToElement(mixer::ElementToScale(v, -300, 300), -300, 300), v);
  // A single-valued element.
  EXPECT_EQ(mixer::ScaleToElement(40000, 7, 7), 7);
  EXPECT_EQ(mixer::ElementToScale(7, 7, 7), 0u);
}

// Points ALSA at a configuration of the test's own for the test's life.
class MixerTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("ALSA_CONFIG_PATH")) saved_ = old;
  }
  void TearDown() override {
    if (saved_) {
      setenv("ALSA_CONFIG_PATH", saved_->c_str(), 1);
    } else {
      unsetenv("ALSA_CONFIG_PATH");
    }
  }

  // A new file each time: ALSA rereads its configuration only when the file
  // list, a file's inode or its modification second changed.
  void UseConfig(const std::string& text) {
    const auto file = dir_ / ("asound" + std::to_string(++configs_) + ".conf");
    testing_support::WriteFileBytes(file, text);
    setenv("ALSA_CONFIG_PATH", file.c_str(), 1);
  }

  // A default device that names a card no machine has (ALSA knows 32 at most),
  // so that it fails as the default device of a machine without a card does.
  void UseNoCard() { UseConfig("ctl.!default { type hw card 31 }\n"); }

  // The fake card as the default device; "observer" sees the same card.
  void UseFakeCard(const std::string& elements, const std::string& extra = "") {
    UseConfig("ctl.!default { type dravik_fake_mixer elements \"" + elements + "\" " + extra +
              " }\n"
              "ctl.observer { type dravik_fake_mixer }\n"
              "ctl_type.dravik_fake_mixer { lib \"" DRAVIK_FAKE_MIXER "\" }\n");
  }

  testing_support::TempDir dir_;
  std::optional<std::string> saved_;
  int configs_ = 0;
};

// A second ALSA mixer on the fake card: what the card holds, apart from what the
// classes under test cached.
class Observer {
 public:
  Observer() {
    EXPECT_EQ(snd_mixer_open(&mixer_, 0), 0);
    EXPECT_EQ(snd_mixer_attach(mixer_, "observer"), 0);
    EXPECT_EQ(snd_mixer_selem_register(mixer_, nullptr, nullptr), 0);
    EXPECT_EQ(snd_mixer_load(mixer_), 0);
  }
  ~Observer() { snd_mixer_close(mixer_); }

  long Volume(const char* name, snd_mixer_selem_channel_id_t channel) {
    long value = -1;
    EXPECT_EQ(snd_mixer_selem_get_playback_volume(Find(name), channel, &value), 0);
    return value;
  }
  int Switch(const char* name) {
    int value = -1;
    EXPECT_EQ(snd_mixer_selem_get_playback_switch(Find(name), SND_MIXER_SCHN_FRONT_LEFT, &value), 0);
    return value;
  }
  void SetVolume(const char* name, long left, long right) {
    EXPECT_EQ(snd_mixer_selem_set_playback_volume(Find(name), SND_MIXER_SCHN_FRONT_LEFT, left), 0);
    EXPECT_EQ(snd_mixer_selem_set_playback_volume(Find(name), SND_MIXER_SCHN_FRONT_RIGHT, right), 0);
  }
  void SetSwitch(const char* name, int on) {
    EXPECT_EQ(snd_mixer_selem_set_playback_switch_all(Find(name), on), 0);
  }

 private:
  snd_mixer_elem_t* Find(const char* name) {
    snd_mixer_selem_id_t* id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    snd_mixer_selem_id_set_name(id, name);
    snd_mixer_elem_t* elem = snd_mixer_find_selem(mixer_, id);
    EXPECT_NE(elem, nullptr) << name;
    return elem;
  }

  snd_mixer_t* mixer_ = nullptr;
};

TEST_F(MixerTest, WithoutACardNeitherControlOpens) {
  UseNoCard();
  mutecontrol mute;
  EXPECT_EQ(mute.Open(nullptr, mixer::kSpeakers, -1), mutecontrol::kNoDevice);
  EXPECT_EQ(mute.Open(nullptr, mixer::kHeadphones, -1), mutecontrol::kNoDevice);
  EXPECT_EQ(mute.GetMute(), -1);
  EXPECT_FALSE(mute.SetMute(1));
  mute.CloseMixer();
  mute.CloseMixer();

  RecordingHook hook;
  volumcontrol volume;
  EXPECT_FALSE(volume.Open(&hook, mixer::kSpeakers, -1, mixer::kVolumeControl));
  EXPECT_EQ(hook.shown, std::vector<std::string>{kNoDevice});
  uint32_t left = 77;
  uint32_t right = 88;
  EXPECT_EQ(volume.GetVolume(&left, &right), -1);
  EXPECT_EQ(left, 77u);
  EXPECT_EQ(right, 88u);
  EXPECT_FALSE(volume.SetVolume(1, 1));
  volume.CloseMixer();
  volume.CloseMixer();
  // Without a hook the message goes to stderr.
  EXPECT_FALSE(volume.Open(nullptr, mixer::kSpeakers, -1, mixer::kVolumeControl));
}

// The machine's own ALSA configuration, on a machine without a sound card.
TEST_F(MixerTest, MachineWithoutACardHasNoMixerDevice) {
  if (std::filesystem::exists("/dev/snd")) GTEST_SKIP() << "this machine has sound devices";
  unsetenv("ALSA_CONFIG_PATH");
  mutecontrol mute;
  EXPECT_EQ(mute.Open(nullptr, mixer::kSpeakers, -1), mutecontrol::kNoDevice);
  RecordingHook hook;
  volumcontrol volume;
  EXPECT_FALSE(volume.Open(&hook, mixer::kSpeakers, -1, mixer::kVolumeControl));
  EXPECT_EQ(hook.shown, std::vector<std::string>{kNoDevice});
}

TEST_F(MixerTest, VolumeReachesTheCardOnTheSixteenBitScale) {
  UseFakeCard("Master:vs2,PCM:v2", "min 0 max 31 volume 31");
  RecordingHook hook;
  volumcontrol volume;
  ASSERT_TRUE(volume.Open(&hook, mixer::kSpeakers, -1, mixer::kVolumeControl));
  EXPECT_TRUE(hook.shown.empty());
  EXPECT_EQ(volume.ControlName(), "Master Playback Volume");
  EXPECT_EQ(volume.Channels(), 2);
  EXPECT_EQ(volume.GetMinimum(), 0u);
  EXPECT_EQ(volume.GetMaximum(), 65535u);
  EXPECT_EQ(volume.ElementMinimum(), 0);
  EXPECT_EQ(volume.ElementMaximum(), 31);

  uint32_t left = 0;
  uint32_t right = 0;
  ASSERT_EQ(volume.GetVolume(&left, &right), 1);
  EXPECT_EQ(left, 65535u);
  EXPECT_EQ(right, 65535u);

  // Slider positions 100 and 20: 51200 and 10240 of 65535 are 24.2 and 4.8 of 31.
  ASSERT_TRUE(volume.SetVolume(100 * 512, 20 * 512));
  {
    Observer card;
    EXPECT_EQ(card.Volume("Master", SND_MIXER_SCHN_FRONT_LEFT), 24);
    EXPECT_EQ(card.Volume("Master", SND_MIXER_SCHN_FRONT_RIGHT), 5);
    EXPECT_EQ(card.Volume("PCM", SND_MIXER_SCHN_FRONT_LEFT), 31);
  }
  ASSERT_EQ(volume.GetVolume(&left, &right), 1);
  EXPECT_EQ(left, 50737u);
  EXPECT_EQ(right, 10570u);

  // A change made by another program is read back.
  Observer().SetVolume("Master", 0, 31);
  ASSERT_EQ(volume.GetVolume(&left, &right), 1);
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(right, 65535u);

  volume.CloseMixer();
  EXPECT_EQ(volume.GetVolume(&left, &right), -1);
  EXPECT_FALSE(volume.SetVolume(0, 0));
  volume.CloseMixer();
}

TEST_F(MixerTest, MonoVolumeReadsTheSameOnBothSides) {
  UseFakeCard("Master:v1", "min -50 max 50 volume 0");
  volumcontrol volume;
  ASSERT_TRUE(volume.Open(nullptr, mixer::kSpeakers, -1, mixer::kVolumeControl));
  EXPECT_EQ(volume.Channels(), 1);
  uint32_t left = 0;
  uint32_t right = 0;
  ASSERT_EQ(volume.GetVolume(&left, &right), 1);
  EXPECT_EQ(left, 32768u);
  EXPECT_EQ(right, 32768u);
  ASSERT_TRUE(volume.SetVolume(65535, 0));
  EXPECT_EQ(Observer().Volume("Master", SND_MIXER_SCHN_MONO), 50);
}

TEST_F(MixerTest, MuteInvertsThePlaybackSwitch) {
  UseFakeCard("Master:vs2", "switch 1");
  mutecontrol mute;
  ASSERT_EQ(mute.Open(nullptr, mixer::kSpeakers, -1), mutecontrol::kOk);
  EXPECT_EQ(mute.GetMute(), 0);
  ASSERT_TRUE(mute.SetMute(1));
  EXPECT_EQ(Observer().Switch("Master"), 0);
  EXPECT_EQ(mute.GetMute(), 1);
  ASSERT_TRUE(mute.SetMute(0));
  EXPECT_EQ(Observer().Switch("Master"), 1);
  EXPECT_EQ(mute.GetMute(), 0);
  Observer().SetSwitch("Master", 0);
  EXPECT_EQ(mute.GetMute(), 1);
  mute.CloseMixer();
  EXPECT_EQ(mute.GetMute(), -1);
  mute.CloseMixer();
}

TEST_F(MixerTest, DestinationFallsBackToTheOutputsTheCardHas) {
  UseFakeCard("PCM:v2,Speaker:v2,Headphone:vs2");
  volumcontrol volume;
  ASSERT_TRUE(volume.Open(nullptr, mixer::kSpeakers, -1, mixer::kVolumeControl));
  EXPECT_EQ(volume.ControlName(), "Speaker Playback Volume");
  EXPECT_EQ(volume.Destination(), mixer::kSpeakers);
  ASSERT_TRUE(volume.Open(nullptr, mixer::kHeadphones, -1, mixer::kVolumeControl));
  EXPECT_EQ(volume.ControlName(), "Headphone Playback Volume");
  // Only the headphone output can be muted.
  mutecontrol mute;
  EXPECT_EQ(mute.Open(nullptr, mixer::kSpeakers, -1), mutecontrol::kOk);
  ASSERT_TRUE(mute.SetMute(1));
  EXPECT_EQ(Observer().Switch("Headphone"), 0);
  // No control of the asked type.
  EXPECT_FALSE(volume.Open(nullptr, mixer::kSpeakers, -1, mixer::kMuteControl));
  EXPECT_FALSE(volume.IsOpen());

  UseFakeCard("PCM:v2");
  EXPECT_EQ(mute.Open(nullptr, mixer::kSpeakers, -1), mutecontrol::kNoMuteControl);
  EXPECT_FALSE(mute.IsOpen());
  EXPECT_TRUE(volume.Open(nullptr, mixer::kHeadphones, -1, mixer::kVolumeControl));

  UseFakeCard("Mic:vs2,Line:vs2");
  EXPECT_EQ(mute.Open(nullptr, mixer::kSpeakers, -1), mutecontrol::kNoLine);
  EXPECT_EQ(mute.Open(nullptr, mixer::kHeadphones, -1), mutecontrol::kNoLine);
  EXPECT_FALSE(volume.Open(nullptr, mixer::kSpeakers, -1, mixer::kVolumeControl));
  UseFakeCard("Master:vs2");
  EXPECT_EQ(mute.Open(nullptr, 6, -1), mutecontrol::kNoLine);  // telephone: not an output here
}

// In the order ALSA's simple mixer sorts its elements: PCM, CD, Mic.
TEST_F(MixerTest, SourceLinesAreTheOtherPlaybackElements) {
  UseFakeCard("Master:vs2,Mic:vs2,CD:v1,PCM:v2,Capture:v2");
  volumcontrol volume;
  ASSERT_TRUE(volume.Open(nullptr, mixer::kSpeakers, mixer::kSourceMicrophone, mixer::kVolumeControl));
  EXPECT_EQ(volume.ConnectionCount(), 4);
  EXPECT_EQ(volume.SourceIndex(), 2);
  ASSERT_TRUE(volume.Open(nullptr, mixer::kSpeakers, mixer::kSourceAuxiliary, mixer::kVolumeControl));
  EXPECT_EQ(volume.SourceIndex(), -1);
  mutecontrol mute;
  ASSERT_EQ(mute.Open(nullptr, mixer::kSpeakers, mixer::kSourceCompactDisc), mutecontrol::kOk);
  EXPECT_EQ(mute.SourceIndex(), 1);
}

TEST_F(MixerTest, DeviceFailuresAreToldApart) {
  RecordingHook hook;
  volumcontrol volume;
  mutecontrol mute;
  UseFakeCard("Master:vs2", "fail \"open\"");
  EXPECT_EQ(mute.Open(&hook, mixer::kSpeakers, -1), mutecontrol::kOpenFailed);
  EXPECT_FALSE(volume.Open(&hook, mixer::kSpeakers, -1, mixer::kVolumeControl));
  UseFakeCard("Master:vs2", "fail \"load\"");
  EXPECT_EQ(mute.Open(&hook, mixer::kSpeakers, -1), mutecontrol::kLoadFailed);
  EXPECT_FALSE(volume.Open(&hook, mixer::kSpeakers, -1, mixer::kVolumeControl));
  EXPECT_TRUE(hook.shown.empty());

  // A card that goes away: walking the sources fails, and so does every read.
  UseFakeCard("Master:vs2,PCM:v2", "fail \"events\"");
  EXPECT_FALSE(volume.Open(&hook, mixer::kSpeakers, mixer::kSourceWaveOut, mixer::kVolumeControl));
  EXPECT_EQ(hook.shown, std::vector<std::string>{kLineInfoFailed});
  ASSERT_TRUE(volume.Open(&hook, mixer::kSpeakers, -1, mixer::kVolumeControl));
  uint32_t left = 5;
  uint32_t right = 5;
  EXPECT_EQ(volume.GetVolume(&left, &right), 0);
  EXPECT_EQ(left, 5u);

  hook.shown.clear();
  EXPECT_EQ(mute.Open(&hook, mixer::kSpeakers, mixer::kSourceWaveOut), mutecontrol::kOk);
  EXPECT_EQ(hook.shown, std::vector<std::string>{kLineInfoFailed});
  EXPECT_EQ(mute.GetMute(), -1);
}

}  // namespace

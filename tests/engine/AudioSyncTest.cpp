// A channel's sound against its pictures on the real clock: dravik-tool play
// of a recording with sync marks (a white picture and a 1 kHz beep at every
// whole second) into a WAV file paced like a sound card. Runs alone
// (RUN_SERIAL): the measurement is of timing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::RunShell;
using testing_support::TempDir;

TEST(AudioSync, TheSoundOfChannelTwoPacesItsPicturesWithinAFrame) {
  TempDir dir;
  std::string out;
  ASSERT_EQ(RunShell(std::string(DRAVIK_TOOL) + " mksample '" + dir.path().string() +
                         "' --channels 4 --seconds 20 --groups 1 --width 160 --height 96 --sync-marks",
                     &out),
            0);
  const std::string file = out.substr(0, out.find('\n'));
  const std::string wav = (dir / "channel2.wav").string();
  ASSERT_EQ(RunShell(std::string(DRAVIK_TOOL) + " play '" + file + "' --audio-channel 2 --wav '" + wav + "'", &out), 0);
  int channel = -1;
  long played = 0, offset = 0;
  std::istringstream lines(out);
  std::string line;
  bool found = false;
  while (std::getline(lines, line))
    found |= std::sscanf(line.c_str(), "audio channel=%d played_ms=%ld av_offset_ms=%ld", &channel, &played, &offset) == 3;
  ASSERT_TRUE(found) << out;
  EXPECT_EQ(channel, 2);
  EXPECT_GE(offset, 0) << "the sync marks were seen";
  EXPECT_LE(offset, 45) << "a beep and its white picture within 45 ms";
  EXPECT_NEAR(played, 20000, 400) << "the sound lasts the recording";

  // The WAV file: as long as the recording, in channel 2's tone (500 Hz).
  const std::string bytes = testing_support::ReadFileBytes(wav);
  ASSERT_GT(bytes.size(), 44u);
  uint32_t rate = 0;
  std::memcpy(&rate, bytes.data() + 24, 4);
  ASSERT_EQ(rate, 48000u);
  std::vector<int16_t> s((bytes.size() - 44) / 2);
  std::memcpy(s.data(), bytes.data() + 44, s.size() * 2);
  EXPECT_NEAR(static_cast<double>(s.size()) / rate, 20.0, 0.4);
  std::vector<int> periods;
  int last = -1;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i - 1] < 0 && s[i] >= 0) {
      if (last >= 0) periods.push_back(static_cast<int>(i) - last);
      last = static_cast<int>(i);
    }
  }
  ASSERT_GT(periods.size(), 1000u);
  std::nth_element(periods.begin(), periods.begin() + static_cast<ptrdiff_t>(periods.size() / 2), periods.end());
  EXPECT_NEAR(48000.0 / periods[periods.size() / 2], 500.0, 10.0) << "channel 2's tone";
}

}  // namespace

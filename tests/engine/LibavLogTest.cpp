// libav's messages counted per channel instead of printed, from many decode
// threads at once.
#include "engine/LibavLog.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

#include "engine/ACH264Decoder.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

namespace libav_log = engine::libav_log;

TEST(LibavLog, DecoderMessagesCountForTheirChannelAndNeverReachStderr) {
  testing_support::TempDir dir;
  const std::string file = testing_support::MakeSampleQvv(DRAVIK_TOOL, dir.path().string(), 1, 1);
  ASSERT_FALSE(file.empty());
  const auto packets = testing_support::ReadQvvVideoPackets(file);
  ASSERT_EQ(packets.size(), 25u);

  libav_log::Reset();
  testing::internal::CaptureStderr();
  // Channel 3 decodes the sample; channels 4 .. 11 decode damage at the same
  // time: zeros, and pseudo-random bytes behind a start code.
  int clean_failures = 0;
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    engine::ACH264Decoder decoder;
    for (const auto& p : packets) {
      decoder.Decode(3, p.data.data(), static_cast<int>(p.data.size()), nullptr, 160, 96, nullptr, 0);
      clean_failures += decoder.failed();
    }
  });
  std::vector<int> failed(12);
  for (int channel = 4; channel < 12; ++channel) {
    threads.emplace_back([channel, &failed] {
      engine::ACH264Decoder decoder;
      std::vector<uint8_t> zeros(16384);
      std::vector<uint8_t> garbage(4000);
      uint32_t lcg = static_cast<uint32_t>(channel);
      for (int i = 0; i < 20; ++i) {
        for (auto& b : garbage) b = static_cast<uint8_t>((lcg = lcg * 1664525u + 1013904223u) >> 24);
        garbage[0] = garbage[1] = garbage[2] = 0;
        garbage[3] = 1;
        garbage[4] = 0x65;  // a slice of an IDR picture, to get the decoder talking
        const auto& data = i % 2 ? garbage : zeros;
        decoder.Decode(channel, data.data(), static_cast<int>(data.size()), nullptr, 160, 96, nullptr, 0);
        failed[static_cast<size_t>(channel)] += decoder.failed();
      }
    });
  }
  for (auto& t : threads) t.join();
  const std::string printed = testing::internal::GetCapturedStderr();

  EXPECT_EQ(printed, "");
  EXPECT_EQ(clean_failures, 0);
  std::map<int, libav_log::Tally> by_channel;
  for (const auto& t : libav_log::Tallies()) by_channel[t.channel] = t;
  EXPECT_EQ(by_channel.count(3), 0u) << "the clean channel: " << by_channel[3].first;
  EXPECT_EQ(by_channel.count(libav_log::kUnattributed), 0u) << by_channel[libav_log::kUnattributed].first;
  for (int channel = 4; channel < 12; ++channel) {
    SCOPED_TRACE(channel);
    EXPECT_GE(failed[static_cast<size_t>(channel)], 10) << "every packet of zeros is refused";
    ASSERT_EQ(by_channel.count(channel), 1u);
    EXPECT_GE(by_channel[channel].messages, 10u);
    EXPECT_GE(by_channel[channel].errors, 10u);
    EXPECT_FALSE(by_channel[channel].first.empty());
    EXPECT_EQ(by_channel[channel].first.find('\n'), std::string::npos);
  }
  libav_log::Reset();
  EXPECT_TRUE(libav_log::Tallies().empty());
}

}  // namespace

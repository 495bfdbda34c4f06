// The analysis overlay through the playing filter: a record with every
// picture, taken by the play thread as its picture comes, drawn into it, while
// the alg thread waits between records instead of polling a full ring.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "QVVReader/Amf0Writer.h"
#include "engine/ACMovieFilter.h"
#include "engine/EngineGlobals.h"
#include "engine/GuiForDrawing.h"
#include "tests/support/FakeClock.h"
#include "tests/support/Process.h"
#include "tests/support/QvvSample.h"
#include "tests/support/TempDir.h"

namespace {

using testing_support::FakeClock;

// A record as the recorder writes it: a green disc at the middle of a
// 1920 x 1080 space, at `ms`.
std::vector<uint8_t> DiscRecord(int64_t ms) {
  qvv::Amf0Writer amf;
  amf.String("ALG");
  amf.BeginArray(5);
  amf.Field("SysPts", static_cast<double>(ms * 1000));
  amf.Field("PColor", 3);
  amf.Field("PThickness", 200);
  amf.Field("PX", 960.0);
  amf.Field("PY", 540.0);
  amf.EndArray();
  return amf.bytes();
}

// Keeps the luma at the middle of the last picture of channel 0.
struct MiddleLuma : engine::PictureObserver {
  void OnPicture(int channel, int64_t, const uint8_t* yuv, int width, int height, const char* text) override {
    // Not the blank picture a channel shows when it waited a second for its next.
    if (channel != 0 || text || width < 2 || width == engine::ACMovieFilter::kBlankWidth) return;
    last.store(yuv[static_cast<size_t>(height / 2) * static_cast<size_t>(width) + static_cast<size_t>(width / 2)]);
    shown.fetch_add(1);
  }
  std::atomic<int> last{-1};
  std::atomic<int> shown{0};
};

TEST(OverlayPlay, TenThousandRecordsOnePerPictureKeepTheAlgThreadIdleBetweenThem) {
  engine::EnsureGuiForDrawing();
  testing_support::TempDir dir;
  const std::string file = testing_support::MakeSampleQvv(DRAVIK_TOOL, dir.path().string(), 1, 1);
  ASSERT_FALSE(file.empty());
  std::vector<testing_support::VideoPacket> packets;
  for (auto& p : testing_support::ReadQvvVideoPackets(file))
    if (p.stream == 0) packets.push_back(std::move(p));
  ASSERT_EQ(packets.size(), 25u);  // one group of pictures, played round and round

  engine::ResetAllSourceEvents();
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  engine::DisplaySettings(0).overlay.store(true);
  FakeClock clock;
  MiddleLuma middle;
  constexpr int kPictures = 10000;
  {
    engine::ACMovieFilter filter(&clock, &clock);
    engine::ACParam param;
    param.channel_count = 1;
    filter.InitFilter(&param);
    filter.SetObserver(&middle);
    filter.CurDTS(int64_t{1} << 40, 40, 256, false);  // every picture is due at once
    for (int i = 0; i < kPictures; ++i) {
      const int64_t ms = 40 + 40 * int64_t{i};
      const auto record = DiscRecord(ms);
      while (filter.InputAlgData(0, record.data(), static_cast<int>(record.size())) == 0) clock.SleepMs(2);
      // The recorder writes a picture's record before it: the record is
      // parsed before the picture goes in, however busy the machine is.
      while (filter.OverlaysQueued(0) + filter.OverlaysTaken(0) <= static_cast<uint64_t>(i))
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      const auto& p = packets[static_cast<size_t>(i) % packets.size()];
      while (filter.InputData(0, 7, ms, p.data.data(), static_cast<int>(p.data.size()), 160, 96, 0) == 0)
        clock.SleepMs(2);
    }
    filter.InputData(-3);
    // Bounded in real time, not in the fake clock's: on a busy machine the
    // fake time runs on whenever every thread happens to wait.
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (filter.OverlaysTaken(0) < kPictures - 1 && std::chrono::steady_clock::now() < until) clock.SleepMs(10);
    EXPECT_GE(filter.OverlaysTaken(0), static_cast<uint64_t>(kPictures - 1)) << "the last picture stays pending";
    // A few passes a record (take it, wait for room, put it): not a poll.
    EXPECT_LT(filter.AlgWakeups(0), static_cast<uint64_t>(4 * kPictures));
    EXPECT_GT(filter.AlgWakeups(0), static_cast<uint64_t>(kPictures));
    filter.FinalFilter();
  }
  engine::DisplaySettings(0).overlay.store(false);
  engine::ResetAllSourceEvents();
  EXPECT_GE(middle.shown.load(), kPictures - 1);
  EXPECT_EQ(middle.last.load(), 255) << "the green disc turns the middle to Y 255";
}

}  // namespace

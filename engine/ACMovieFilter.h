#pragma once
// The playback engine as the rest of the program sees it: twelve channel
// positions, each with a decode, a play and an alg thread, fed with compressed
// packets and overlay records, kept in step with the playback clock (CurDTS)
// and drawing into each channel's surface.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "QVVReader/RecordParsers.h"
#include "engine/ACH264Decoder.h"
#include "engine/ACMediaList.h"
#include "engine/ACMovieList.h"
#include "engine/ACRAWDataList.h"
#include "engine/AlgProtocolList.h"
#include "engine/ClockInterfaces.h"
#include "platform/Event.h"
#include "platform/Sleeper.h"
#include "platform/Surface.h"
#include "platform/Thread.h"

namespace engine {

inline constexpr int kChannelPositions = 12;

struct ACParam {
  int32_t display[4] = {-1, -1, -1, -1};
  int32_t display_value1 = -1, display_value2 = -1;
  uint8_t display_bytes[4] = {0x80, 0x5C, 0x80, 0x80};
  int32_t channel_count = 0;
  std::array<platform::Surface*, kChannelPositions> windows{};  // the panes; null where there is none
  void* owner = nullptr;
  uint16_t audio_channels = 1, audio_sample_rate = 22050, audio_bits = 16;
  int64_t reserved[6] = {-1, -1, -1, -1, -1, -1};
};

// Sees every picture a play thread shows (the command-line player's statistics, tests).
class PictureObserver {
 public:
  virtual ~PictureObserver() = default;
  virtual void OnPicture(int channel, int64_t time_ms, const uint8_t* yuv, int width, int height, const char* text) = 0;
};

class ACMovieFilter : public ClockTarget {
 public:
  static constexpr int kBlankWidth = 176, kBlankHeight = 144;
  static constexpr uint32_t kInputBuffer = 7838208;
  static constexpr uint32_t kOutputBuffer = 10450944;
  static constexpr int kAheadLimitMs = 200;

  // time / sleeper: null for the real ones.
  explicit ACMovieFilter(platform::TimeSource* time = nullptr, platform::Sleeper* sleeper = nullptr);
  ~ACMovieFilter() override;

  int InitFilter(const ACParam* param);
  int FinalFilter();
  int getFilterType() const { return 108; }
  void SetFilter(void* next) { next_filter_ = next; }
  void SetObserver(PictureObserver* observer) { observer_ = observer; }
  void SetShowMode(int mode) { show_mode_ = mode; }

  void InputData(int marker);
  int InputData(int channel, int codec_id, int64_t time_ms, const uint8_t* data, int size, int width, int height,
                int backward);
  int InputAlgData(int channel, const uint8_t* data, int size);
  void ShowMovie(int channel, int64_t time_ms, const uint8_t* picture, int width, int height);
  void ShowMovieandText(int channel, int64_t time_ms, const uint8_t* picture, int width, int height, const char* text);

  void CurDTS(int64_t clock_ms, int step_ms, int speed, bool backward) override;
  void OneFrame(int on) override { step_.store(on != 0); }
  void PushFrame(int on) override;

  void EmptyData();
  void EmptyAlgData(int channel);
  void SetChannelClosed(int channel, bool closed);

  int running_threads() const;
  int movie_count() const;
  int64_t clock_time() const { return clock_time_.load(); }
  // Introspection for tests: queue fill of one channel (under its lock).
  int PacketCount(int channel);
  int ReadyFrames(int channel);
  // Packets of the channel the decoder refused or that gave an error, since
  // the filter was made.
  int DecodeErrors(int channel) const;
  // Nothing to decode: no packet queued and none being decoded.
  bool DecoderIdle(int channel);

 private:
  struct Position;
  void ThreadStarted();
  void DecodeLoop(int channel, const platform::StopToken& stop);
  void PlayLoop(int channel, const platform::StopToken& stop);
  void AlgLoop(int channel, const platform::StopToken& stop);
  void ProcessAlgData(int channel, const uint8_t* data, int size);
  void Show(Position& p, int channel, int64_t time, const uint8_t* pixels, int width, int height);

  platform::SystemTimeSource system_time_;
  platform::SystemSleeper system_sleeper_;
  platform::TimeSource* time_;
  platform::Sleeper* sleeper_;
  std::array<std::unique_ptr<Position>, kChannelPositions> positions_;
  int channel_count_ = -1;
  void* next_filter_ = nullptr;
  PictureObserver* observer_ = nullptr;
  int show_mode_ = 1;

  std::atomic<bool> stop_{false};
  std::atomic<int> started_threads_{0};
  std::atomic<bool> step_{false};
  platform::Event hold_{platform::Event::Mode::ManualReset};
  platform::Event released_{platform::Event::Mode::ManualReset, true};  // the opposite of hold_, to wake on
  std::atomic<int64_t> clock_time_{0};
  std::atomic<int64_t> previous_clock_time_{0};
  std::atomic<int> clock_step_{-1};
  std::atomic<int> speed_{16};
  std::atomic<bool> backward_{false};
  std::unique_ptr<uint8_t[]> blank_;
};

}  // namespace engine

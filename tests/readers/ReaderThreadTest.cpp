// The reader threads driving the real engine on sample recordings of each
// container: every picture of every channel reaches the pane in order, the end
// reaches the clock once, sensor records reach the map and the waveform, and
// the control fields (speed, reverse, a new recording) do what they say.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/ACAudioPlayer.h"
#include "engine/ACMovieFilter.h"
#include "engine/ACPlayClock.h"
#include "engine/EngineGlobals.h"
#include "playback/ChannelFilesReaderThread.h"
#include "playback/ChannelSlots.h"
#include "playback/ClipExport.h"
#include "playback/QvvReaderThread.h"
#include "playback/SensorWorker.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

using playback::Container;
using testing_support::RunShell;

// Pictures shown per channel, in the order shown.
struct Shown : engine::PictureObserver {
  void OnPicture(int channel, int64_t time_ms, const uint8_t*, int width, int, const char* text) override {
    if (text || width == engine::ACMovieFilter::kBlankWidth) return;
    std::lock_guard lock(mutex);
    times[channel].push_back(time_ms);
  }
  std::map<int, std::vector<int64_t>> Snapshot() {
    std::lock_guard lock(mutex);
    return times;
  }
  std::mutex mutex;
  std::map<int, std::vector<int64_t>> times;
};

// The window: counts the end notices and opened files.
struct Window : platform::MessageSink {
  void Post(uint32_t message, platform::MsgParam first, platform::MsgParam second) override {
    if (message == platform::msg::kProgress && second == -3) ends.fetch_add(1);
    if (message == platform::msg::kFileOpened) opened.fetch_add(1);
    if (message == platform::msg::kExportProgress) {
      progress.store(static_cast<int>(first));
      if (first == 100) outcome.store(static_cast<int>(second));
    }
    if (message == platform::msg::kMp4NoBackward) no_backward.fetch_add(1);
  }
  platform::MsgParam Send(uint32_t, platform::MsgParam, platform::MsgParam) override { return 0; }
  std::atomic<int> ends{0}, opened{0}, progress{-1}, no_backward{0}, outcome{1};
};

struct Sinks : playback::MapSink, playback::WaveSink {
  void PushGpsRecord(const uint8_t* record, int size, int64_t) override {
    std::lock_guard lock(mutex);
    // A record starts with its AMF0 name: 02, a 16-bit length, the name.
    map.emplace_back(size == 5 ? std::string("Seek") : std::string(reinterpret_cast<const char*>(record) + 3, 3));
  }
  void AddTrackPoint(const uint8_t*, int, int64_t) override {}
  void PushRecord(const uint8_t* record, int size, int64_t) override {
    std::lock_guard lock(mutex);
    wave.emplace_back(size == 6 ? "Clear" : std::string(reinterpret_cast<const char*>(record) + 3, 3));
  }
  void SetStartTime(int64_t s) override { start = s; }
  std::mutex mutex;
  std::vector<std::string> map, wave;
  std::atomic<int64_t> start{0};
};

// A filter of four panes and a playing clock, watched by `shown`.
struct LiveEngine {
  LiveEngine(Shown& shown, platform::MessageSink& window) : clock(&window) {
    engine::ACParam param;
    param.channel_count = 4;
    filter.InitFilter(&param);
    filter.SetObserver(&shown);
    clock.Start(&filter, nullptr);
    clock.SetState(engine::kStatePlay);
  }
  ~LiveEngine() {
    clock.Stop();
    filter.FinalFilter();
  }
  engine::ACMovieFilter filter;
  engine::ACPlayClock clock;
};

class ReaderThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::ResetAllSourceEvents();
    auto& c = playback::Control();
    c.quit_requested = c.command_pending = c.stop_requested = c.reverse_play = c.seek_requested = false;
    c.end_reached = false;
    c.play_speed = 256;
    c.audio_channel = 0;
    c.export_active = false;
    c.export_pending = false;
    c.seek_target_seconds = 0;
    c.hold.Reset();
    c.set_names({});
  }
  void TearDown() override { engine::ResetAllSourceEvents(); }

  // A group of 4 channels of 2 s (25 pictures a second, a key frame a second).
  std::vector<std::string> Sample(const std::string& format, int seconds = 2) {
    std::string out;
    const auto dir = dir_ / (format + std::to_string(seconds));
    std::filesystem::create_directories(dir);
    EXPECT_EQ(RunShell(std::string(DRAVIK_TOOL) + " mksample '" + dir.string() + "' --format " + format +
                           " --channels 4 --seconds " + std::to_string(seconds) + " --groups 1 --width 160 --height 96",
                       &out),
              0);
    std::vector<std::string> files;
    size_t at = 0;
    for (size_t nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1) files.push_back(out.substr(at, nl - at));
    return files;
  }

  // Plays the named recording with a reader thread of `type` to its end.
  std::map<int, std::vector<int64_t>> Play(Container type, const playback::PlaybackControl::Names& names,
                                           int speed, bool reverse, engine::ACAudioPlayer* audio = nullptr,
                                           size_t expect = 50) {
    auto& control = playback::Control();
    control.play_speed = speed;
    control.reverse_play = reverse;
    control.set_names(names);
    Shown shown;
    engine::ACMovieFilter filter;
    engine::ACParam param;
    param.channel_count = 4;
    filter.InitFilter(&param);
    filter.SetObserver(&shown);
    engine::ACPlayClock clock(&window_);
    clock.SetSpeed(speed);
    clock.Start(&filter, nullptr);
    clock.SetState(engine::kStatePlay);
    playback::EngineTargets targets{&filter, audio, &clock, &sinks_, &sinks_, &window_};
    std::unique_ptr<playback::ReaderThread> reader;
    if (type == Container::Qvv) reader = std::make_unique<playback::QvvReaderThread>(targets);
    else reader = std::make_unique<playback::ChannelFilesReaderThread>(type, targets);
    const int ends_before = window_.ends.load();
    engine::SourceActiveEvent(playback::SourceOf(type)).Set();
    EXPECT_TRUE(reader->Start());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (window_.ends.load() == ends_before && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(window_.ends.load(), ends_before + 1) << "the end reached the clock";
    // The last pictures reach the pane (a busy machine may take a while to
    // decode the last group played backwards): until every channel has the
    // pictures expected, or none came for two seconds.
    for (size_t total = SIZE_MAX, unchanged = 0; unchanged < 20;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      size_t now = 0, complete = 0;
      const auto snapshot = shown.Snapshot();
      for (const auto& [channel, times] : snapshot) {
        now += times.size();
        complete += expect > 0 && times.size() >= expect;
      }
      if (expect > 0 && complete == 4) break;
      unchanged = now == total ? unchanged + 1 : 0;
      total = now;
    }
    EXPECT_EQ(window_.ends.load(), ends_before + 1) << "and only once";
    EXPECT_FALSE(engine::SourceActiveEvent(playback::SourceOf(type)).IsSet()) << "the thread stopped playing";
    reader->Stop(2000);
    clock.Stop();
    filter.FinalFilter();
    return shown.Snapshot();
  }

  static void ExpectEveryPictureInOrder(const std::map<int, std::vector<int64_t>>& shown, size_t per_channel) {
    ASSERT_EQ(shown.size(), 4u);
    for (const auto& [channel, times] : shown) {
      EXPECT_EQ(times.size(), per_channel) << "channel " << channel << ": " << testing::PrintToString(times);
      EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << "channel " << channel;
    }
  }

  testing_support::TempDir dir_;
  Window window_;
  Sinks sinks_;
};

TEST(ChannelSlots, AQvvFileMapsVideoToPanesAndAudioAfterTheVideo) {
  playback::ChannelSlots slots;
  EXPECT_EQ(slots.Video(0), -1);
  slots.SetQvv(4);
  EXPECT_EQ(slots.Video(3), 3);
  EXPECT_EQ(slots.Video(12), -1) << "a video stream numbered 12 or more is not shown";
  EXPECT_EQ(slots.Audio(5), 1) << "4 video streams: audio stream 5 is channel 1's";
  EXPECT_EQ(slots.Audio(3), -1);
}

TEST_F(ReaderThreads, AQvvRecordingPlaysEveryPictureOfEveryChannelInOrder) {
  const auto files = Sample("qvv");
  ASSERT_EQ(files.size(), 1u);
  playback::PlaybackControl::Names names;
  names.qvv = files[0];
  ExpectEveryPictureInOrder(Play(Container::Qvv, names, 32, false), 50);
  EXPECT_EQ(window_.opened.load(), 1);
  std::lock_guard lock(sinks_.mutex);
  EXPECT_EQ(std::count(sinks_.map.begin(), sinks_.map.end(), "GPS"), 2) << "a GPS record a second";
  EXPECT_GE(std::count(sinks_.wave.begin(), sinks_.wave.end(), "GSe"), 15) << "G-sensor ten times a second";
  EXPECT_GT(sinks_.start.load(), 0) << "the start time from the name";
}

TEST_F(ReaderThreads, PerChannelFilesPlayEveryPictureInOrder) {
  for (const auto& [format, type] :
       {std::pair{"avi", Container::Avi}, std::pair{"flv", Container::Flv}, std::pair{"mp4", Container::Mp4}}) {
    SCOPED_TRACE(format);
    const auto files = Sample(format);
    ASSERT_EQ(files.size(), 4u);
    playback::PlaybackControl::Names names;
    for (size_t i = 0; i < 4; ++i) names.channel[i] = files[i];
    ExpectEveryPictureInOrder(Play(type, names, 32, false), 50);
  }
}

TEST_F(ReaderThreads, BackwardsEveryPictureComesGroupByGroupFromTheEnd) {
  const auto files = Sample("qvv");
  playback::PlaybackControl::Names names;
  names.qvv = files[0];
  // Times count back from the end, so they grow as playback goes on.
  ExpectEveryPictureInOrder(Play(Container::Qvv, names, 32, true), 50);
}

TEST_F(ReaderThreads, BackwardsFromASeekStartsAtTheGroupOfItsSecond) {
  for (const std::string format : {"qvv", "avi"}) {
    SCOPED_TRACE(format);
    const auto files = Sample(format, 4);
    playback::PlaybackControl::Names names;
    if (format == "qvv") names.qvv = files[0];
    else std::copy(files.begin(), files.end(), names.channel.begin());
    auto& control = playback::Control();
    control.seek_requested = true;
    control.seek_target_seconds = 2;
    // Seconds 2, 1 and 0, not the last one.
    ExpectEveryPictureInOrder(Play(format == "qvv" ? Container::Qvv : Container::Avi, names, 32, true, nullptr, 75), 75);
  }
}

TEST_F(ReaderThreads, Mp4RefusesToPlayBackwardsAndSaysSo) {
  const auto files = Sample("mp4");
  playback::PlaybackControl::Names names;
  for (size_t i = 0; i < 4; ++i) names.channel[i] = files[i];
  auto& control = playback::Control();
  control.reverse_play = true;
  control.set_names(names);
  engine::ACMovieFilter filter;
  filter.InitFilter(nullptr);
  playback::ChannelFilesReaderThread reader(Container::Mp4, {&filter, nullptr, nullptr, &sinks_, &sinks_, &window_});
  engine::SourceActiveEvent(engine::SourceKind::Media).Set();
  ASSERT_TRUE(reader.Start());
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (reader.running() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(window_.no_backward.load(), 1);
  EXPECT_EQ(reader.exit_code(), playback::kExitCannotOpen);
  filter.FinalFilter();
}

TEST_F(ReaderThreads, AboveDoubleSpeedOnlyKeyFramesAreShown) {
  const auto files = Sample("avi");
  playback::PlaybackControl::Names names;
  for (size_t i = 0; i < 4; ++i) names.channel[i] = files[i];
  const auto shown = Play(Container::Avi, names, 64, false, nullptr, 2);
  ASSERT_EQ(shown.size(), 4u);
  for (const auto& [channel, times] : shown) {
    EXPECT_EQ(times, (std::vector<int64_t>{0, 1000})) << "channel " << channel << ": the two key frames";
  }
}

TEST_F(ReaderThreads, AMissingOrDamagedChannelFileLeavesTheOthersPlaying) {
  const auto files = Sample("avi");
  playback::PlaybackControl::Names names;
  for (size_t i = 0; i < 4; ++i) names.channel[i] = files[i];
  // Channel 2 is cut to half its length, channel 3 is missing.
  std::filesystem::resize_file(files[2], std::filesystem::file_size(files[2]) / 2);
  names.channel[3] = (dir_ / "missing.avi").string();
  const auto shown = Play(Container::Avi, names, 32, false);
  EXPECT_EQ(shown.at(0).size(), 50u);
  EXPECT_EQ(shown.at(1).size(), 50u);
  EXPECT_GT(shown.at(2).size(), 5u);
  EXPECT_LT(shown.at(2).size(), 50u);
  EXPECT_EQ(shown.count(3), 0u);
}

TEST_F(ReaderThreads, ASeekStartsAtTheKeyFrameOfItsSecond) {
  const auto files = Sample("qvv");
  playback::PlaybackControl::Names names;
  names.qvv = files[0];
  auto& control = playback::Control();
  control.seek_requested = true;
  control.seek_target_seconds = 1;
  const auto shown = Play(Container::Qvv, names, 32, false, nullptr, 25);
  ASSERT_EQ(shown.size(), 4u);
  for (const auto& [channel, times] : shown) {
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), 1000) << "channel " << channel;
    EXPECT_EQ(times.size(), 25u) << "the second second, all of it";
  }
}

TEST_F(ReaderThreads, ASeekToMinusOneRepositionsWhereTheReaderIs) {
  const auto files = Sample("qvv", 6);
  auto& control = playback::Control();
  playback::PlaybackControl::Names names;
  names.qvv = files[0];
  control.set_names(names);
  control.play_speed = 16;
  Shown shown;
  LiveEngine live(shown, window_);
  engine::ACMovieFilter& filter = live.filter;
  engine::ACPlayClock& clock = live.clock;
  playback::QvvReaderThread reader({&filter, nullptr, &clock, &sinks_, &sinks_, &window_});
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  ASSERT_TRUE(reader.Start());
  while (shown.Snapshot()[0].size() < 10) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  control.seek_target_seconds = -1;
  control.seek_requested = true;
  while (control.seek_requested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const int target = control.seek_target_seconds.load();
  EXPECT_GE(target, 0) << "the reader wrote back where it was";
  EXPECT_LT(target, 6);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (window_.ends.load() == 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  reader.Stop(2000);
  // Playback went on from that second's key frame, to the end.
  const auto times = shown.Snapshot()[0];
  // (the last time it was shown: the reader may have been ahead of the pane)
  const auto last = std::find(times.rbegin(), times.rend(), int64_t{target} * 1000);
  ASSERT_NE(last, times.rend());
  EXPECT_EQ(times.back(), 5960);
  EXPECT_TRUE(std::is_sorted(last.base() - 1, times.end()));
}

TEST_F(ReaderThreads, HeldOnlyKeyFramesPassAndTheMapIsToldOnce) {
  const auto files = Sample("avi");
  playback::PlaybackControl::Names names;
  for (size_t i = 0; i < 4; ++i) names.channel[i] = files[i];
  playback::Control().hold.Set();
  const auto shown = Play(Container::Avi, names, 32, false, nullptr, 2);
  playback::Control().hold.Reset();
  for (const auto& [channel, times] : shown) EXPECT_EQ(times, (std::vector<int64_t>{0, 1000})) << channel;
  std::lock_guard lock(sinks_.mutex);
  EXPECT_EQ(std::count(sinks_.map.begin(), sinks_.map.end(), "GPS"), 0) << "no GPS while held";
  EXPECT_EQ(std::count(sinks_.map.begin(), sinks_.map.end(), "Seek"), 1) << "the map forgets its place once";
}

TEST_F(ReaderThreads, TheSensorWorkerGivesTheMapEveryGpsPointWithASeparatorAfterEachFile) {
  // A zone east of UTC, so that counting the name's time as local would show.
  const char* old_tz = std::getenv("TZ");
  const std::string saved_tz = old_tz ? old_tz : "";
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  const auto files = Sample("avi");
  struct Track : playback::MapSink {
    void PushGpsRecord(const uint8_t*, int, int64_t) override {}
    void AddTrackPoint(const uint8_t* record, int size, int64_t seconds) override {
      std::lock_guard lock(mutex);
      points.push_back(record && size > 0 ? seconds : -1);
    }
    std::mutex mutex;
    std::vector<int64_t> points;
  } track;
  std::vector<int> finished;
  std::mutex finished_mutex;
  {
    playback::SensorWorker worker(track, [&](int index, bool opened) {
      std::lock_guard lock(finished_mutex);
      finished.push_back(opened ? index : -100);
    });
    std::vector<std::string> list = files;
    list.push_back((dir_ / "missing.avi").string());
    worker.ReadAll(list);
  }
  EXPECT_EQ(finished, (std::vector<int>{0, 1, 2, 3, -100}));
  std::lock_guard lock(track.mutex);
  // Two GPS points a file (one a second), at the file's start from its name
  // plus their second; a separator after each file, the missing one too.
  ASSERT_EQ(track.points.size(), 4u * 3 + 1);
  EXPECT_EQ(track.points[0], 1710489600) << "the name's 2024-03-15 08:00:00 counted as UTC, as the list counts it";
  for (size_t f = 0; f < 4; ++f) {
    EXPECT_GT(track.points[3 * f], 1000000000) << "an absolute time";
    EXPECT_EQ(track.points[3 * f + 1], track.points[3 * f] + 1);
    EXPECT_EQ(track.points[3 * f + 2], -1);
  }
  EXPECT_EQ(track.points.back(), -1);
  if (old_tz) setenv("TZ", saved_tz.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

TEST_F(ReaderThreads, ExportWritesClipsOfTheFirstSecondsThenPlaybackGoesOn) {
  const auto files = Sample("qvv", 4);
  playback::PlaybackControl::Names names;
  names.qvv = files[0];
  names.exports[0] = (dir_ / "clip0.avi").string();
  names.exports[2] = (dir_ / "clip2.avi").string();
  auto& control = playback::Control();
  control.export_active = true;
  control.export_end_seconds = 2;
  control.seek_target_seconds = 0;
  const auto shown = Play(Container::Qvv, names, 32, false);
  EXPECT_FALSE(control.export_active.load()) << "export ended at its last second";
  EXPECT_EQ(window_.progress.load(), 100);
  EXPECT_TRUE(control.names().exports[0].empty());
  // The pictures after the export played.
  EXPECT_EQ(shown.at(0).front(), 2000);
  EXPECT_EQ(shown.at(0).size(), 50u);
  for (const char* clip : {"clip0.avi", "clip2.avi"}) {
    SCOPED_TRACE(clip);
    std::string out;
    ASSERT_EQ(RunShell("ffprobe -v error -select_streams v -count_packets -show_entries "
                       "stream=codec_name,width,height,nb_read_packets -of csv=p=0 '" + (dir_ / clip).string() + "'",
                       &out),
              0);
    EXPECT_EQ(out, "h264,160,96,50\n") << "two seconds of the channel's pictures";
    EXPECT_FALSE(std::filesystem::exists(dir_ / (std::string(clip) + ".part")));
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "clip1.avi")) << "only the channels asked for";
}

TEST_F(ReaderThreads, AnExportWaitingForItsSeekWritesFromTheStretchsStartAndOneWithNothingToWriteSaysSo) {
  const auto files = Sample("qvv");
  auto& control = playback::Control();
  {
    // Armed with its seek to 1 s: nothing before it is written.
    playback::PlaybackControl::Names names;
    names.qvv = files[0];
    names.exports[1] = (dir_ / "from1.avi").string();
    control.export_pending = true;
    control.export_end_seconds = 2;
    control.seek_target_seconds = 1;
    control.seek_requested = true;
    Play(Container::Qvv, names, 32, false, nullptr, 0);
    EXPECT_FALSE(control.export_pending.load());
    EXPECT_FALSE(control.export_active.load());
    EXPECT_EQ(window_.outcome.load(), 0);
    std::string out;
    ASSERT_EQ(RunShell("ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets "
                       "-show_entries format=start_time -of default=nw=1 '" + (dir_ / "from1.avi").string() + "'",
                       &out),
              0);
    EXPECT_NE(out.find("nb_read_packets=25\n"), std::string::npos) << out;
  }
  {
    // Channel 7 has no pictures in a 4-channel recording: the export ends
    // with the recording and says that nothing was written.
    window_.outcome = 1;
    playback::PlaybackControl::Names names;
    names.qvv = files[0];
    names.exports[6] = (dir_ / "none.avi").string();
    control.export_active = true;
    control.export_end_seconds = 10;
    control.seek_target_seconds = 0;
    Play(Container::Qvv, names, 32, false, nullptr, 0);
    EXPECT_FALSE(control.export_active.load());
    EXPECT_EQ(window_.progress.load(), 100);
    EXPECT_EQ(window_.outcome.load(), playback::kExportEmpty);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "none.avi"));
    EXPECT_TRUE(control.names().exports[6].empty());
  }
}

TEST_F(ReaderThreads, AClipEndedBeforeItsFirstKeyFrameIsDroppedWithoutAFault) {
  // Stopped or cut before the channel's first key frame: nothing to keep,
  // which is no failure to report.
  playback::ClipExport clips;
  qvv::AVStream video;
  video.kind = qvv::kKindVideo;
  video.width = 160;
  video.height = 96;
  video.frame_rate = 25;
  const std::string path = (dir_ / "early.avi").string();
  ASSERT_TRUE(clips.Open(0, path, video));
  int kept = -1;
  EXPECT_TRUE(clips.Finish(&kept));
  EXPECT_EQ(kept, 0);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

TEST_F(ReaderThreads, AClipThatCannotBeCreatedSwitchesExportOffAndPlaybackGoesOn) {
  const auto files = Sample("qvv");
  playback::PlaybackControl::Names names;
  names.qvv = files[0];
  names.exports[0] = (dir_ / "no-such-folder" / "clip.avi").string();
  auto& control = playback::Control();
  control.export_active = true;
  control.export_end_seconds = 1;
  control.seek_target_seconds = 0;
  ExpectEveryPictureInOrder(Play(Container::Qvv, names, 32, false), 50);
  EXPECT_FALSE(control.export_active.load());
}

TEST_F(ReaderThreads, SoundIsHandedOnlyForwardsAtNormalSpeedOrSlower) {
  const auto files = Sample("qvv");
  playback::PlaybackControl::Names names;
  names.qvv = files[0];
  playback::Control().audio_channel = 1;
  struct Case {
    int speed;
    bool reverse, heard;
  };
  for (const Case c : {Case{16, false, true}, Case{32, false, false}, Case{16, true, false}}) {
    SCOPED_TRACE(testing::Message() << "speed " << c.speed << (c.reverse ? " backwards" : ""));
    engine::ACAudioPlayer audio;
    platform::SoundDeviceOptions device;
    device.wav_path = (dir_ / "sound.wav").string();
    audio.SetDeviceOptions(device);
    ASSERT_EQ(audio.OpenOutput(&window_, 1, 8000, 16), 1);
    audio.StartOutput();
    Play(Container::Qvv, names, c.speed, c.reverse, &audio);
    audio.StopOutput();
    if (c.heard) {
      EXPECT_GT(audio.decoded_packets(), 20u) << "two seconds of channel 1's voice";
    } else {
      EXPECT_EQ(audio.decoded_packets(), 0u);
    }
  }
}

TEST_F(ReaderThreads, ANewRecordingWhilePlayingFlushesInOrderAndTheEndComesOnceToEachInput) {
  const auto first = Sample("qvv", 6);  // longer than the engine's queues hold
  auto& control = playback::Control();
  playback::PlaybackControl::Names names;
  names.qvv = first[0];
  control.set_names(names);
  control.play_speed = 16;
  Shown shown;
  LiveEngine live(shown, window_);
  engine::ACMovieFilter& filter = live.filter;
  engine::ACPlayClock& clock = live.clock;
  engine::ACAudioPlayer audio;
  platform::SoundDeviceOptions device;
  device.wav_path = (dir_ / "sound.wav").string();
  audio.SetDeviceOptions(device);
  ASSERT_EQ(audio.OpenOutput(&window_, 1, 8000, 16), 1);
  audio.StartOutput();
  std::mutex trace_mutex;
  std::vector<std::string> trace;
  playback::EngineTargets targets{&filter, &audio, &clock, &sinks_, &sinks_, &window_};
  targets.trace = [&](const std::string& what) {
    std::lock_guard lock(trace_mutex);
    trace.push_back(what);
  };
  playback::QvvReaderThread reader(targets);
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  ASSERT_TRUE(reader.Start());
  while (shown.Snapshot()[0].size() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // The same recording under another name: a new one for the reader.
  const std::string second = (dir_ / "second.qvv").string();
  std::filesystem::copy_file(first[0], second);
  names.qvv = second;
  control.set_names(names);
  control.play_speed = 64;
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (window_.ends.load() == 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(window_.ends.load(), 1);
  EXPECT_EQ(window_.opened.load(), 2);
  reader.Stop(2000);
  audio.StopOutput();
  std::lock_guard lock(trace_mutex);
  EXPECT_EQ(trace, (std::vector<std::string>{"audio -1", "filter -1", "clock -1",                      // the first opens
                                             "map Seek", "wave Clear", "audio -2", "filter -2", "clock -2",  // a new one
                                             "audio -1", "filter -1", "clock -1",                        // it is open
                                             "audio -3", "filter -3", "clock -3"}));                     // its end, once
  // The second recording played to its last key frame after the first was cut short.
  const auto times = shown.Snapshot()[0];
  EXPECT_EQ(std::count(times.begin(), times.end(), 5000), 1);
}

}  // namespace

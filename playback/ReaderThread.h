#pragma once
// A reader thread: created on first use, it lives until it is told to quit,
// waits on its container's source-active event, and while that is set reads
// the recording the main window named and hands every packet to its consumer
// (pictures to the filter, sound to the audio player, time stamps to the
// clock, sensor records to the map and the waveform). A consumer that is full
// is offered the packet again (every 1 ms, markers and time stamps every 2
// ms) until it takes it or the window interrupts (quit, a new command).
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "QVVReader/Format.h"
#include "engine/ACAudioPlayer.h"
#include "engine/ACMovieFilter.h"
#include "engine/ACPlayClock.h"
#include "engine/EngineGlobals.h"
#include "platform/MessageSink.h"
#include "platform/Thread.h"
#include "playback/ChannelSlots.h"
#include "playback/ClipExport.h"
#include "playback/PlaybackControl.h"
#include "playback/RecordSinks.h"

namespace playback {

struct EngineTargets {
  engine::ACMovieFilter* filter = nullptr;
  engine::ACAudioPlayer* audio = nullptr;  // none: no sound
  engine::ACPlayClock* clock = nullptr;
  MapSink* map = nullptr;
  WaveSink* wave = nullptr;
  platform::MessageSink* window = nullptr;
  // Sees every control marker handed on ("audio -2", "filter -1", "clock -3")
  // and every "Seek"/"Clear" to the views, in order: for diagnostics and tests.
  std::function<void(const std::string&)> trace;
};

// How a reader thread ended.
inline constexpr int kExitNoName = 272;
inline constexpr int kExitCannotOpen = 274;
inline constexpr int kExitNormal = 275;
// The second word of the last export report (1158 with 100).
inline constexpr int kExportFailed = -1;  // a clip could not be created or written: none is kept
inline constexpr int kExportEmpty = -2;   // the channels chosen had no pictures in the stretch

engine::SourceKind SourceOf(Container type);

class ReaderThread {
 public:
  ReaderThread(Container type, EngineTargets targets, PlaybackControl& control);
  virtual ~ReaderThread();
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;

  bool Start();
  // Asks the thread to end without waiting; Join waits for it (true: ended).
  void RequestStop() { thread_.RequestStop(); }
  bool Join(int wait_ms) { return thread_.Join(wait_ms); }
  // Ends the thread (waits up to wait_ms; a thread that does not end is left).
  bool Stop(int wait_ms);
  bool running() const { return thread_.Running(); }
  int exit_code() const { return exit_code_.load(); }  // 0 while it runs
  Container type() const { return type_; }
  // Records handed on since the thread started, by kind.
  struct RecordCounts {
    uint64_t gps = 0, gsensor = 0, other = 0, alg = 0;
  };
  RecordCounts records() const {
    return {gps_.load(), gsensor_.load(), other_.load(), alg_.load()};
  }

 protected:
  // What a container's reader does within the shared loop (Run).
  enum class Recording { kNoName, kCannotOpen, kOpened, kOpen };
  // Opens the recording the window names when it is a new one.
  virtual Recording OpenNamed(const platform::StopToken& stop) = 0;
  virtual void SeekTo(const platform::StopToken& stop) = 0;
  // Reads and hands on the next packet (or pass); false at the end.
  virtual bool ReadNext(const platform::StopToken& stop) = 0;
  virtual void CloseRecording() = 0;

  bool Quitting(const platform::StopToken& stop) const;
  bool Interrupted(const platform::StopToken& stop) const;
  // Offers until taken (true) or interrupted (false).
  bool Offer(const std::function<int()>& hand_off, int step_ms, const platform::StopToken& stop);
  // -2, -1 or -3 to the audio player, the filter and the clock, in that order.
  void SendMarker(int marker, const platform::StopToken& stop);
  void FlushEngine();
  // Waits while the source-active event is clear; false when quitting.
  bool WaitUntilPlaying(const platform::StopToken& stop);
  platform::Event& Source() const { return engine::SourceActiveEvent(SourceOf(type_)); }
  // Handles a pending command; true when it stopped playing (nothing to read).
  bool HandleCommand();

  // A sensor record of `stream`'s data packet; `first_data_channel` decides
  // whether GPS and sensors are taken from it. `overlay_channel` >= 0 passes
  // "ALG" records to the filter for that channel.
  void DispatchRecord(const uint8_t* data, int size, int64_t time_ms, bool sensors, int overlay_channel,
                      const platform::StopToken& stop);
  void SendSeekAndClear();
  // While clips are exported a packet goes to its channel's clip instead of
  // the engine: true when export took it. Export ends at export_end_seconds
  // (the clips are completed, the slots cleared) or when a clip cannot be
  // created (export is switched off and playback goes on).
  bool Export(int channel, const qvv::ReaderPacket& packet, const qvv::AVStream& stream, int64_t ms);
  // Completes the clips (or, not `completed`, removes them), clears the
  // slots and tells the window: 1158 with 100, and kExportFailed when a clip
  // could not be written, kExportEmpty when the stretch had nothing to write.
  void EndExport(bool completed);
  ClipExport export_;
  // The "Seek" the map gets once per hold.
  bool gps_seek_sent_ = false;
  int64_t start_seconds_ = 0;  // local start time of the open file

  const Container type_;
  EngineTargets t_;
  PlaybackControl& c_;
  ChannelSlots slots_;

 private:
  // The loop every reader thread runs: commands, a new recording, seeks,
  // reading, and one -3 to every input at the end.
  int Run(const platform::StopToken& stop);

  platform::WorkerThread thread_{"reader"};
  std::atomic<int> exit_code_{0};
  std::atomic<uint64_t> gps_{0}, gsensor_{0}, other_{0}, alg_{0};
};

// The time of a packet in milliseconds, and counted back from the end in
// reverse play.
int64_t PacketMs(const qvv::ReaderPacket& packet, const qvv::AVStream& stream);

}  // namespace playback

#pragma once
// The playback engine as the rest of the program sees it: twelve channel
// positions, each with a decode, a play and an alg thread, fed with compressed
// packets and overlay records, kept in step with the playback clock (CurDTS)
// and drawing into each channel's surface.
//
// Who touches what. The threads share the filter's state (`Core`), which they
// keep alive: a thread that does not stop in time at destruction is left
// running on it instead of on freed memory.
//
// | field                          | written by                         | guarded by                      |
// |--------------------------------|------------------------------------|---------------------------------|
// | packet ring, raw alg ring      | readers (Input*), decode/alg thread, flushes | the ring's object lock |
// | frame queue                    | decode thread, play thread, flushes | the queue's object lock        |
// | overlay ring                   | alg thread, play thread, flushes   | the ring's object lock          |
// | surface of a position          | InitFilter / FinalFilter (caller)  | the position's surface mutex; swapped only while its play thread is not drawing |
// | decoder, its extradata copy    | decode thread (extradata: SetExtradata) | decode thread only (extradata: the packet ring's lock) |
// | observer, show mode            | the window's thread, any time      | atomics                         |
// | clock time, step, speed, backward | clock thread (CurDTS); play threads reset the time to 0 on a flush | atomics |
// | step flag, hold / released     | clock thread (OneFrame, PushFrame) | atomic, events                  |
// | flush requests and answers     | EmptyData / EmptyAlgData; decode, alg, play threads | atomic generation counters |
// | stop flag                      | InitFilter / FinalFilter           | atomic                          |
// | channel count, next filter     | InitFilter / SetFilter, before input | set-up only                   |
//
// Waits a caller can trigger are bounded: EmptyData and EmptyAlgData wait at
// most kAnswerWaitMs for the threads' answer, a marker waits at most
// kAnswerWaitMs for room in a ring, FinalFilter at most kStopWaitMs for the
// threads to end. Each says on stderr what did not answer and counts it
// (unanswered_waits()). No engine thread waits for the caller.
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "engine/ClockInterfaces.h"
#include "platform/Sleeper.h"
#include "platform/Surface.h"
#include "platform/Thread.h"

namespace engine {

class ACSnapshotFilter;

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
// Called on the play threads; it must not wait for the window's thread.
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
  static constexpr int kAnswerWaitMs = 2000;  // flush answers, room for a marker
  static constexpr int kStopWaitMs = 3000;    // all threads ending, together

  // time / sleeper: null for the real ones; given ones must outlive the threads.
  explicit ACMovieFilter(platform::TimeSource* time = nullptr, platform::Sleeper* sleeper = nullptr);
  ~ACMovieFilter() override;
  ACMovieFilter(const ACMovieFilter&) = delete;
  ACMovieFilter& operator=(const ACMovieFilter&) = delete;

  // 1 when all 36 threads run (and the surfaces are taken), 0 when a thread
  // could not be started or a surface could not be swapped in time.
  int InitFilter(const ACParam* param);
  // Always 1; threads that did not end in time are reported and counted.
  int FinalFilter();
  int getFilterType() const { return 108; }
  // Passes of a channel's alg thread (its waits included), and the overlay
  // records its play thread took to draw: an idle alg thread makes few passes.
  uint64_t AlgWakeups(int channel) const;
  uint64_t OverlaysTaken(int channel) const;
  // Records the alg thread has parsed that no picture has taken yet.
  int OverlaysQueued(int channel);
  // The snapshot filter, which sees every picture shown (set before input).
  void SetFilter(ACSnapshotFilter* next);
  void SetObserver(PictureObserver* observer);
  void SetShowMode(int mode);

  // A control marker into every ring. 1 when all twelve took it; 0 when the
  // filter is stopping or a ring stayed full for kAnswerWaitMs.
  int InputData(int marker);
  // 1 taken (or dropped: no source active, too large, out of memory), 0 the
  // ring is full (retry), -1 an argument no retry can fix (channel, size).
  int InputData(int channel, int codec_id, int64_t time_ms, const uint8_t* data, int size, int width, int height,
                int backward);
  // The same contract for overlay blocks.
  int InputAlgData(int channel, const uint8_t* data, int size);
  // The stream's decoder set-up (an avcC / hvcC record, or parameter sets in
  // Annex B) for the packets that follow; empty for none. The decoder reopens
  // with it on the next packet.
  void SetExtradata(int channel, std::span<const uint8_t> extradata);
  void ShowMovie(int channel, int64_t time_ms, const uint8_t* picture, int width, int height);
  void ShowMovieandText(int channel, int64_t time_ms, const uint8_t* picture, int width, int height, const char* text);

  void CurDTS(int64_t clock_ms, int step_ms, int speed, bool backward) override;
  void OneFrame(int on) override;
  void PushFrame(int on) override;

  // Flushes; true when every running play thread answered within kAnswerWaitMs.
  bool EmptyData();
  bool EmptyAlgData(int channel);
  void SetChannelClosed(int channel, bool closed);

  int running_threads() const;
  int movie_count() const;
  int64_t clock_time() const;
  // Bounded waits that ended without their answer, since the filter was made.
  int unanswered_waits() const;
  // Introspection for tests: queue fill of one channel (under its lock).
  int PacketCount(int channel);
  int ReadyFrames(int channel);
  // Packets of the channel the decoder refused or that gave an error, since
  // the filter was made.
  int DecodeErrors(int channel) const;
  // Packets and overlay blocks taken but dropped: too large, or no memory
  // could be had for them.
  int DroppedPackets(int channel);
  // Nothing to decode: no packet queued and none being decoded.
  bool DecoderIdle(int channel);
  // A held start may go: some channel has pictures, and every channel that
  // decodes has 8 (or a full queue) or has nothing more to decode.
  bool ReadyToStart();

 private:
  struct Position;
  struct Core;
  struct Threads {
    platform::WorkerThread decode{"decode"}, play{"play"}, alg{"alg"};
  };
  bool DecodeThreadRunning(int channel) const;
  bool PlayThreadRunning(int channel) const;
  bool AlgThreadRunning(int channel) const;

  std::shared_ptr<Core> core_;
  std::array<Threads, kChannelPositions> threads_;
};

}  // namespace engine

#pragma once
// What the main window tells the reader threads: the recording to play (one
// QVV path, or one file per channel for the other containers), where clips go,
// and the control fields it changes while they play. Process-wide: one
// recording plays at a time; the threads read it, the window writes it.
#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "platform/Event.h"

namespace playback {

inline constexpr int kChannels = 12;

enum class Container { Qvv = 0, Avi = 1, Flv = 2, Mp4 = 3 };

struct PlaybackControl {
  std::atomic<bool> quit_requested{false};
  std::atomic<bool> command_pending{false};  // flush the engine (and with stop_requested: stop)
  std::atomic<bool> stop_requested{false};
  std::atomic<bool> reverse_play{false};
  std::atomic<bool> seek_requested{false};
  std::atomic<int> seek_target_seconds{0};  // -1, -2: where it plays now
  std::atomic<int> play_speed{16};          // sixteenths of normal speed
  std::atomic<int> audio_channel{0};
  std::atomic<int> current_channel{0};      // whose time stamps the clock follows (per-channel files)
  std::atomic<bool> export_active{false};
  // An export waits for its seek: the reader that completes the seek turns
  // export_active on, so that nothing read before the stretch's start is written.
  std::atomic<bool> export_pending{false};
  std::atomic<int> export_end_seconds{0};
  std::atomic<bool> end_reached{false};
  // Set while paused: key frames only, no sound, no GPS (the map gets "Seek" once).
  platform::Event hold{platform::Event::Mode::ManualReset};

  // The recording: guarded by names_mutex (Names() gives a copy).
  struct Names {
    std::string qvv;                             // a ".qvv" file
    std::array<std::string, kChannels> channel;  // per-channel files; shorter than 4: no such channel
    std::array<std::string, kChannels> exports;  // clip outputs; 5 characters or more: write this channel
    // Raised with every new request and at stop: a reader opens its
    // recording afresh when the number differs from the one it opened
    // with, even when the names are the same.
    uint32_t request = 0;
  };
  Names names() const {
    std::lock_guard lock(names_mutex);
    return names_;
  }
  // Keeps the request number: the same recording goes on.
  void set_names(Names names) {
    std::lock_guard lock(names_mutex);
    names.request = names_.request;
    names_ = std::move(names);
  }
  // A new request: the names and a new number together, so that a reader
  // never sees one without the other.
  void set_request(Names names) {
    std::lock_guard lock(names_mutex);
    names.request = names_.request + 1;
    names_ = std::move(names);
  }
  // The clip outputs alone (the recording's names and number stay).
  void set_exports(const std::array<std::string, kChannels>& exports) {
    std::lock_guard lock(names_mutex);
    names_.exports = exports;
  }
  void clear_exports() { set_exports({}); }
  // The same names, opened afresh by the next play.
  void renew_request() {
    std::lock_guard lock(names_mutex);
    ++names_.request;
  }

 private:
  mutable std::mutex names_mutex;
  Names names_;
};

PlaybackControl& Control();

}  // namespace playback

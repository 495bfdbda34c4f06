#pragma once
// Saves the next picture shown on a channel as a 24-bit bitmap file. The window
// asks for it (RequestSnapshot); the playback filter hands every picture it
// shows to InputFrame, which only copies a requested one into a free slot and
// starts a worker thread. The worker converts the copy to BGR, frees the slot
// and writes "<folder><channel+1>/<yyyymmddhhmmss><counter>.bmp".
//
// Who touches what:
//
// | field                        | written by                        | guarded by                         |
// |------------------------------|-----------------------------------|------------------------------------|
// | request flags                | the window's thread, play threads | atomics                            |
// | copy slot buffer, capacity   | InputFrame while the slot is free; the worker reads it while busy | the slot's busy flag (atomic) |
// | folder, saved callback       | the owner, any time               | the state's mutex / callback mutex |
// | running workers              | InputFrame, workers               | the state's mutex                  |
//
// Workers keep the shared state alive, so one still writing when the filter
// is destroyed (after a bounded wait) never touches freed memory.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/ACMovieFilter.h"
#include "engine/ACObject.h"

namespace engine {

inline constexpr size_t kBmpHeaderBytes = 54;

// Bytes of one bitmap row: 3 per pixel, padded to a multiple of 4 so every
// viewer finds the next row where it expects it.
size_t BmpRowBytes(int width);
// The 14-byte file header and 40-byte info header of a bottom-up 24-bit
// bitmap of width x height (rows of BmpRowBytes). Sizes must fit in 32 bits.
void WriteBmpHeader(uint8_t* out, int width, int height);
// Bytes of a planar YUV 4:2:0 picture as the decoder lays it out: Y width x
// height, then U and V of (width / 2) x (height / 2) each.
size_t Yuv420Bytes(int width, int height);

// BT.601 limited-range YUV 4:2:0 (Yuv420Bytes layout) to blue-green-red, last
// picture row first, out_stride bytes apart; bytes past 3 x width in a row are
// zeroed. One U and V serve a 2 x 2 block; a last odd column or row, which has
// no chroma of its own in that layout, takes its neighbour block's; a picture
// 1 pixel wide or high has no chroma at all and comes out grey-scale.
void ConvertYuv420ToBgrBottomUp(const uint8_t* yuv, int width, int height, uint8_t* out, size_t out_stride);

class ACSnapshotFilter : public virtual ACObject {
 public:
  static constexpr int kCopySlots = 10;
  static constexpr int kStopWaitMs = 5000;  // destruction waits this long for workers
  // Channel position as given to InputFrame; the path of the file written, or
  // of what could not be made; ok = the file is complete under that name.
  using SavedCallback = std::function<void(int channel, const std::string& path, bool ok)>;

  // What InitSnapshot keeps from the set-up record; nothing here is used.
  struct Setup {
    void* owner = nullptr;
    int32_t channel_count = 0;
    int32_t display[4] = {-1, -1, -1, -1};
    int32_t display_value1 = -1, display_value2 = -1;
    uint8_t display_bytes[4] = {};
    std::array<platform::Surface*, kChannelPositions> windows{};
  };

  ACSnapshotFilter();
  ~ACSnapshotFilter() override;
  const char* GetClassName() const override { return "ACSnapshotFilter"; }

  // Keeps the set-up values (see Setup); 1, also for a null param.
  virtual int InitSnapshot(const ACParam* param);
  virtual int Reserved() { return 1; }
  virtual int getFilterType() const { return 113; }
  // 1 when the picture was copied and a worker started to save it; 0 when the
  // channel was not requested, or the picture was refused (no picture, an
  // empty or too large one, every slot busy, no memory, no thread). A request
  // is used up by the first picture of its channel, saved or not.
  virtual int InputFrame(int channel, const uint8_t* picture, int width, int height);

  // Marks the channel (0..11; others are ignored) for the next picture.
  void RequestSnapshot(int channel);
  bool SnapshotRequested(int channel) const;

  // Where snapshots go; a missing trailing '/' is added, empty means the
  // default ($HOME/QVSnap/). Read by each worker as it starts writing.
  void SetSnapshotFolder(std::string folder);
  std::string SnapshotFolder() const;
  static std::string DefaultSnapshotFolder();

  // Called on the worker thread once per snapshot that InputFrame accepted,
  // never for two snapshots at once, never after destruction.
  void SetOnSaved(SavedCallback callback);
  // Waits until every worker has finished (-1: no limit); true when they have.
  bool WaitIdle(int timeout_ms);

  const Setup& setup() const { return setup_; }

 private:
  struct State;
  struct Job;
  static void RunWorker(const std::shared_ptr<State>& state, const Job& job);

  std::shared_ptr<State> state_;
  std::array<std::atomic<uint32_t>, kChannelPositions> requests_{};
  Setup setup_;
};

}  // namespace engine

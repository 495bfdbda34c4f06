#include "engine/ACSnapshotFilter.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace engine {
namespace {

// BT.601 limited range in 16.16 fixed point.
constexpr int kLuma = 76309;
constexpr int kRedV = 104597;
constexpr int kGreenU = 25675;
constexpr int kGreenV = 53279;
constexpr int kBlueU = 132201;

// The running number in every snapshot's name, for the life of the process.
std::atomic<uint32_t> g_snapshot_counter{0};

inline uint8_t Clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// red / green / blue: the chroma terms of the pixel's block.
inline void PutPixel(uint8_t* bgr, int y, int red, int green, int blue) {
  const int luma = kLuma * (y - 16);
  bgr[0] = Clamp8((luma + blue) >> 16);
  bgr[1] = Clamp8((luma + green) >> 16);
  bgr[2] = Clamp8((luma + red) >> 16);
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// The header's size fields are 32 bits wide.
bool FitsBitmap(int width, int height) {
  const uint64_t pixels = static_cast<uint64_t>(BmpRowBytes(width)) * static_cast<uint64_t>(height);
  return pixels <= UINT32_MAX - kBmpHeaderBytes;
}

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// Writes beside the final name and renames it into place, so the folder never
// holds a partial bitmap under a .bmp name. Empty on success, else the reason.
std::string WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return ErrnoText(errno);
  std::string reason;
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason = n < 0 ? ErrnoText(errno) : "nothing written";
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (reason.empty() && ::fsync(fd) != 0) reason = ErrnoText(errno);
  if (::close(fd) != 0 && reason.empty()) reason = ErrnoText(errno);
  if (reason.empty() && std::rename(temp.c_str(), path.c_str()) != 0) reason = ErrnoText(errno);
  if (!reason.empty()) ::unlink(temp.c_str());
  return reason;
}

// Creates the folder with every missing parent. Empty on success, else the reason.
std::string MakeFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::error_code probe;
  if (std::filesystem::is_directory(folder, probe)) return {};
  return ec ? ec.message() : "not a folder";
}

// "<channel folder><yyyymmddhhmmss><counter>.bmp" in local time.
std::string SnapshotFileName(const std::string& channel_folder) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const uint32_t number = g_snapshot_counter.fetch_add(1, std::memory_order_relaxed) + 1;
  char name[64];
  std::snprintf(name, sizeof name, "%04d%02d%02d%02d%02d%02d%03u.bmp", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, number);
  return channel_folder + name;
}

}  // namespace

size_t BmpRowBytes(int width) { return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3); }

size_t Yuv420Bytes(int width, int height) {
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  return w * h + 2 * (w / 2) * (h / 2);
}

void WriteBmpHeader(uint8_t* out, int width, int height) {
  const auto image = static_cast<uint32_t>(BmpRowBytes(width) * static_cast<size_t>(height));
  std::memset(out, 0, kBmpHeaderBytes);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out + 2, image + kBmpHeaderBytes);
  Put32(out + 10, kBmpHeaderBytes);
  Put32(out + 14, 40);
  Put32(out + 18, static_cast<uint32_t>(width));
  Put32(out + 22, static_cast<uint32_t>(height));  // positive: bottom-up
  Put16(out + 26, 1);
  Put16(out + 28, 24);
  Put32(out + 34, image);
}

void ConvertYuv420ToBgrBottomUp(const uint8_t* yuv, int width, int height, uint8_t* out, size_t out_stride) {
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t chroma_w = w / 2, chroma_h = h / 2;
  const uint8_t* u_plane = yuv + w * h;
  const uint8_t* v_plane = u_plane + chroma_w * chroma_h;
  for (size_t row = 0; row < h; ++row) {
    uint8_t* dst = out + (h - 1 - row) * out_stride;
    const uint8_t* ys = yuv + row * w;
    if (chroma_w == 0 || chroma_h == 0) {
      for (size_t x = 0; x < w; ++x) PutPixel(dst + 3 * x, ys[x], 0, 0, 0);
    } else {
      const size_t chroma_row = std::min(row / 2, chroma_h - 1) * chroma_w;
      const uint8_t* us = u_plane + chroma_row;
      const uint8_t* vs = v_plane + chroma_row;
      auto block = [&](size_t cx, size_t x, size_t count) {
        const int u = us[cx] - 128, v = vs[cx] - 128;
        const int red = kRedV * v, green = -kGreenU * u - kGreenV * v, blue = kBlueU * u;
        for (size_t i = 0; i < count; ++i) PutPixel(dst + 3 * (x + i), ys[x + i], red, green, blue);
      };
      for (size_t cx = 0; cx < chroma_w; ++cx) block(cx, 2 * cx, 2);
      if (w & 1) block(chroma_w - 1, w - 1, 1);
    }
    std::memset(dst + 3 * w, 0, out_stride - 3 * w);
  }
}

struct ACSnapshotFilter::Job {
  int channel = 0;
  int width = 0;
  int height = 0;
  int slot = 0;
};

struct ACSnapshotFilter::State {
  struct Slot {
    std::atomic<uint32_t> busy{0};
    std::unique_ptr<uint8_t[]> buffer;  // the picture's copy; the worker's while busy
    size_t capacity = 0;
  };
  std::array<Slot, kCopySlots> slots;

  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;     // guarded by mutex
  std::string folder;  // guarded by mutex

  // Held while the callback runs: callbacks never overlap, and clearing it at
  // destruction waits for one in progress.
  std::recursive_mutex callback_mutex;
  SavedCallback on_saved;
};

ACSnapshotFilter::ACSnapshotFilter() : state_(std::make_shared<State>()) {
  state_->folder = DefaultSnapshotFolder();
}

ACSnapshotFilter::~ACSnapshotFilter() {
  if (!WaitIdle(kStopWaitMs)) {
    int left;
    {
      std::lock_guard lock(state_->mutex);
      left = state_->running;
    }
    std::fprintf(stderr, "dravik: %d snapshot(s) still being written after %d ms; left to finish\n", left,
                 kStopWaitMs);
  }
  std::lock_guard lock(state_->callback_mutex);
  state_->on_saved = nullptr;
}

int ACSnapshotFilter::InitSnapshot(const ACParam* param) {
  if (!param) return 1;
  setup_.owner = param->owner;
  setup_.channel_count = param->channel_count;
  for (int i = 0; i < 4; ++i) {
    if (param->display[i] > 0) setup_.display[i] = param->display[i];
    setup_.display_bytes[i] = param->display_bytes[i];
  }
  if (param->display_value1 >= 0) setup_.display_value1 = param->display_value1;
  if (param->display_value2 >= 0) setup_.display_value2 = param->display_value2;
  setup_.windows = param->windows;  // a copy: the record need not outlive the call
  return 1;
}

void ACSnapshotFilter::RequestSnapshot(int channel) {
  if (channel < 0 || channel >= kChannelPositions) return;
  requests_[static_cast<size_t>(channel)].store(1, std::memory_order_release);
}

bool ACSnapshotFilter::SnapshotRequested(int channel) const {
  if (channel < 0 || channel >= kChannelPositions) return false;
  return requests_[static_cast<size_t>(channel)].load(std::memory_order_acquire) != 0;
}

int ACSnapshotFilter::InputFrame(int channel, const uint8_t* picture, int width, int height) {
  if (!picture || channel < 0 || channel >= kChannelPositions) return 0;
  if (requests_[static_cast<size_t>(channel)].exchange(0, std::memory_order_acq_rel) == 0) return 0;
  if (width < 1 || height < 1) return 0;
  if (!FitsBitmap(width, height)) {
    std::fprintf(stderr, "dravik: snapshot not taken: a %dx%d picture is too large for a bitmap\n", width, height);
    return 0;
  }
  const size_t size = Yuv420Bytes(width, height);
  // Play threads of several channels may come here at once; the playback
  // filter already holds this lock, which is re-entrant.
  ObjectLock lock(*this);
  State& s = *state_;
  for (int i = 0; i < kCopySlots; ++i) {
    State::Slot& slot = s.slots[static_cast<size_t>(i)];
    if (slot.busy.load(std::memory_order_acquire)) continue;
    if (slot.capacity < size) {
      slot.buffer.reset();
      slot.capacity = 0;
      slot.buffer.reset(new (std::nothrow) uint8_t[size]);
      if (!slot.buffer) continue;
      slot.capacity = size;
    }
    slot.busy.store(1, std::memory_order_relaxed);
    std::memcpy(slot.buffer.get(), picture, size);
    {
      std::lock_guard state_lock(s.mutex);
      ++s.running;
    }
    try {
      std::thread(&ACSnapshotFilter::RunWorker, state_, Job{channel, width, height, i}).detach();
    } catch (const std::system_error&) {
      slot.busy.store(0, std::memory_order_release);
      std::lock_guard state_lock(s.mutex);
      --s.running;
      s.idle.notify_all();
      std::fprintf(stderr, "dravik: snapshot not taken: no worker thread could be started\n");
      return 0;
    }
    return 1;
  }
  return 0;
}

void ACSnapshotFilter::RunWorker(const std::shared_ptr<State>& state, const Job& job) {
  // Convert first: the slot goes back to the play threads before any file I/O.
  const size_t file_size = kBmpHeaderBytes + BmpRowBytes(job.width) * static_cast<size_t>(job.height);
  std::unique_ptr<uint8_t[]> file(new (std::nothrow) uint8_t[file_size]);
  State::Slot& slot = state->slots[static_cast<size_t>(job.slot)];
  if (file) {
    WriteBmpHeader(file.get(), job.width, job.height);
    ConvertYuv420ToBgrBottomUp(slot.buffer.get(), job.width, job.height, file.get() + kBmpHeaderBytes,
                               BmpRowBytes(job.width));
  }
  slot.busy.store(0, std::memory_order_release);

  std::string folder;
  {
    std::lock_guard lock(state->mutex);
    folder = state->folder;
  }
  std::string path = folder + std::to_string(job.channel + 1) + "/";
  std::string reason;
  if (!file) reason = "out of memory";
  if (reason.empty()) reason = MakeFolder(path);
  if (reason.empty()) {
    path = SnapshotFileName(path);
    reason = WriteWholeFile(path, file.get(), file_size);
  }
  file.reset();
  const bool ok = reason.empty();
  if (!ok) std::fprintf(stderr, "dravik: snapshot not saved: %s: %s\n", path.c_str(), reason.c_str());
  {
    std::lock_guard lock(state->callback_mutex);
    if (state->on_saved) state->on_saved(job.channel, path, ok);
  }
  std::lock_guard lock(state->mutex);
  --state->running;
  state->idle.notify_all();
}

void ACSnapshotFilter::SetSnapshotFolder(std::string folder) {
  if (folder.empty()) folder = DefaultSnapshotFolder();
  if (folder.back() != '/') folder += '/';
  std::lock_guard lock(state_->mutex);
  state_->folder = std::move(folder);
}

std::string ACSnapshotFilter::SnapshotFolder() const {
  std::lock_guard lock(state_->mutex);
  return state_->folder;
}

std::string ACSnapshotFilter::DefaultSnapshotFolder() {
  std::string home;
  if (const char* env = std::getenv("HOME"); env && *env) {
    home = env;
  } else {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
      home = found->pw_dir;
  }
  if (!home.empty() && home.back() != '/') home += '/';
  return home + "QVSnap/";
}

void ACSnapshotFilter::SetOnSaved(SavedCallback callback) {
  std::lock_guard lock(state_->callback_mutex);
  state_->on_saved = std::move(callback);
}

bool ACSnapshotFilter::WaitIdle(int timeout_ms) {
  std::unique_lock lock(state_->mutex);
  auto idle = [&] { return state_->running == 0; };
  if (timeout_ms < 0) {
    state_->idle.wait(lock, idle);
    return true;
  }
  return state_->idle.wait_for(lock, std::chrono::milliseconds(timeout_ms), idle);
}

}  // namespace engine

// dravik-tool snapshot FILE --channel C --at SECONDS [--overlay] --out X.bmp
// dravik-tool snapshot FILE --channel C --at SECONDS [--overlay] --pane WxH [--rotate N] [--fit] --out X.png
// Plays the recording through the playback filter up to that moment and saves
// the picture channel C shows then: as the snapshot command saves it (a BMP at
// the picture's size), or with --pane as a pane of that size shows it (PNG),
// turned (--rotate 0-5) and fitted (--fit) as the channel's settings would.
// With --overlay the recorder's analysis overlays are drawn in, as the pane
// shows them. Channels count from 0; an AVI or FLV recording holds one, shown
// as channel C.
#include <QImage>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "QVVReader/Amf0.h"
#include "QVVReader/Format.h"
#include "cli/Commands.h"
#include "cli/Numbers.h"
#include "cli/Recording.h"
#include "engine/ACMovieFilter.h"
#include "engine/ACSnapshotFilter.h"
#include "engine/EngineGlobals.h"
#include "engine/GuiForDrawing.h"
#include "engine/ImageSurface.h"

namespace cli {
namespace {

// The time of the last picture channel C showed.
struct LastShown : engine::PictureObserver {
  explicit LastShown(int c) : channel(c) {}
  void OnPicture(int ch, int64_t time_ms, const uint8_t*, int width, int, const char* text) override {
    if (ch != channel || text || width == engine::ACMovieFilter::kBlankWidth) return;
    time.store(time_ms);
    shown.fetch_add(1);
  }
  const int channel;
  std::atomic<int64_t> time{-1};
  std::atomic<int> shown{0};
};

// Waits up to `seconds` for the condition.
template <typename Done>
bool WaitFor(Done done, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: dravik-tool snapshot FILE --channel C --at SECONDS [--overlay] --out X.bmp\n"
               "       dravik-tool snapshot FILE --channel C --at SECONDS [--overlay] --pane WxH [--rotate N] [--fit]"
               " --out X.png\n");
  return 2;
}

}  // namespace

int RunSnapshot(const Args& args) {
  std::string path, out, pane_text;
  int channel = 0, rotate = 0;
  double at = 0;
  bool overlay = false, fit = false;
  for (size_t i = 0; i < args.size(); ++i) {
    auto number = [&](int& v) { return NextInt(args, i, v); };
    if (args[i] == "--overlay") {
      overlay = true;
    } else if (args[i] == "--fit") {
      fit = true;
    } else if (args[i] == "--at" && i + 1 < args.size()) {
      try {
        at = std::stod(std::string(args[++i]));
      } catch (...) {
        return Usage();
      }
    } else if (args[i] == "--out" && i + 1 < args.size()) {
      out = std::string(args[++i]);
    } else if (args[i] == "--pane" && i + 1 < args.size()) {
      pane_text = std::string(args[++i]);
    } else if ((args[i] == "--channel" && number(channel)) || (args[i] == "--rotate" && number(rotate))) {
    } else if (path.empty() && !args[i].starts_with("--")) {
      path = std::string(args[i]);
    } else {
      return Usage();
    }
  }
  int pane_w = 0, pane_h = 0;
  if (!pane_text.empty() && (std::sscanf(pane_text.c_str(), "%dx%d", &pane_w, &pane_h) != 2 || pane_w < 16 ||
                             pane_h < 16 || pane_w > 8192 || pane_h > 8192))
    return Usage();
  if (path.empty() || out.empty() || channel < 0 || channel >= engine::kChannelPositions || at < 0 || rotate < 0 ||
      rotate > 5)
    return Usage();
  engine::EnsureGuiForDrawing();  // labels and captions need fonts
  OpenedRecording rec;
  if (!OpenRecording(path, false, rec)) return 1;
  // The video stream shown as channel C: stream C of a QVV file, the only one
  // of the others.
  const qvv::AVStream* video = nullptr;
  if (rec.format == "qvv") {
    video = rec.demuxer->context().FindStream(channel);
  } else {
    for (int s = 0; s < rec.demuxer->context().nb_streams && !video; ++s) {
      const qvv::AVStream* st = rec.demuxer->context().FindStream(s);
      if (st && st->kind == qvv::kKindVideo) video = st;
    }
  }
  if (!video || video->kind != qvv::kKindVideo) {
    std::fprintf(stderr, "dravik-tool snapshot: %s has no video for channel %d\n", path.c_str(), channel);
    return 1;
  }

  engine::ResetAllSourceEvents();
  engine::SourceActiveEvent(engine::SourceKind::Qvv).Set();
  engine::ChannelDisplay& display = engine::DisplaySettings(channel);
  display.overlay.store(overlay);
  display.mirror.store(pane_w > 0 ? rotate : 0);
  display.aspect_fit.store(pane_w > 0 && fit);
  std::unique_ptr<engine::ImageSurface> pane;
  if (pane_w > 0) pane = std::make_unique<engine::ImageSurface>(pane_w, pane_h);
  engine::ACParam param;
  param.channel_count = channel + 1;
  param.windows[static_cast<size_t>(channel)] = pane.get();
  engine::ACSnapshotFilter snapshots;
  snapshots.InitSnapshot(&param);
  const std::filesystem::path work = std::filesystem::temp_directory_path() /
                                     ("dravik-snapshot-" + std::to_string(::getpid()));
  snapshots.SetSnapshotFolder(work.string() + "/");
  std::atomic<bool> saved{false}, saved_ok{false};
  std::string saved_path;
  snapshots.SetOnSaved([&](int, const std::string& file, bool ok) {
    saved_path = file;
    saved_ok.store(ok);
    saved.store(true);
  });
  engine::ACMovieFilter filter;
  filter.InitFilter(&param);
  filter.SetFilter(&snapshots);
  LastShown shown(channel);
  filter.SetObserver(&shown);
  filter.CurDTS(int64_t{1} << 40, 40, 256, false);  // every picture fed is due at once

  // Pictures up to the moment, and the overlay records a little past it (a
  // picture's record may come up to 260 ms after it).
  const int64_t target_ms = static_cast<int64_t>(at * 1000);
  int64_t last_fed = -1;
  qvv::ReaderPacket packet;
  for (;;) {
    const int r = rec.demuxer->ReadPacket(packet);
    if (r < 0) break;
    const qvv::AVStream* st = rec.demuxer->context().FindStream(packet.stream_index);
    if (!st || packet.pts == qvv::kNoPtsValue) continue;
    const int64_t ms = qvv::av_rescale_q(packet.pts, st->time_base, {1, 1000});
    if (st == video) {
      if (ms > target_ms) {
        if (ms > target_ms + 300) break;
        continue;
      }
      while (filter.InputData(channel, st->codec_id, ms, packet.data.get(), packet.size, st->width, st->height, 0) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      last_fed = ms;
    } else if (st->kind == qvv::kKindData && overlay && ms <= target_ms + 300) {
      const auto name = qvv::Amf0RecordName(packet.data.get(), static_cast<size_t>(packet.size));
      if (name && *name == "ALG") {
        while (filter.InputAlgData(channel, packet.data.get(), packet.size) == 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }
  filter.InputData(-3);  // the last picture is published by what follows it
  int status = 0;
  if (last_fed < 0 || !WaitFor([&] { return shown.time.load() == last_fed; }, 20)) {
    std::fprintf(stderr, "dravik-tool snapshot: %s: no picture on channel %d at %.3f s\n", path.c_str(), channel, at);
    status = 1;
  } else if (pane) {
    // Let the pane finish drawing the last picture before it is grabbed.
    filter.PushFrame(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (!pane->Snapshot().save(QString::fromStdString(out), "PNG")) {
      std::fprintf(stderr, "dravik-tool snapshot: cannot write %s\n", out.c_str());
      status = 1;
    } else {
      std::printf("%s %dx%d picture_ms=%lld\n", out.c_str(), pane_w, pane_h, static_cast<long long>(last_fed));
    }
  } else {
    // The picture shown now is shown again while held: the snapshot takes it.
    snapshots.RequestSnapshot(channel);
    filter.PushFrame(1);
    if (!WaitFor([&] { return saved.load(); }, 10) || !snapshots.WaitIdle(5000) || !saved_ok.load()) {
      std::fprintf(stderr, "dravik-tool snapshot: the picture could not be saved\n");
      status = 1;
    } else {
      std::error_code ec;
      std::filesystem::rename(saved_path, out, ec);
      if (ec) {
        std::filesystem::copy_file(saved_path, out, std::filesystem::copy_options::overwrite_existing, ec);
        std::filesystem::remove(saved_path);
      }
      if (ec) {
        std::fprintf(stderr, "dravik-tool snapshot: cannot write %s: %s\n", out.c_str(), ec.message().c_str());
        status = 1;
      } else {
        std::printf("%s %dx%d picture_ms=%lld\n", out.c_str(), video->width, video->height,
                    static_cast<long long>(last_fed));
      }
    }
  }
  filter.FinalFilter();
  snapshots.WaitIdle(5000);
  engine::ResetAllSourceEvents();
  std::error_code ignored;
  std::filesystem::remove_all(work, ignored);
  return status;
}

}  // namespace cli

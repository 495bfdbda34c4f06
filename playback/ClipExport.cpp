#include "playback/ClipExport.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "QVVReader/FourCC.h"

namespace playback {

namespace {
std::string Partial(const std::string& path) { return path + ".part"; }
}  // namespace

bool ClipExport::Open(int channel, const std::string& path, const qvv::AVStream& video) {
  if (channel < 0 || channel >= kChannels) return false;
  auto clip = std::make_unique<Clip>();
  clip->path = path;
  clip->fps = video.frame_rate > 0 ? video.frame_rate : 25;
  qvv::AviClipStream v;
  v.kind = 0;
  v.width = video.width;
  v.height = video.height;
  v.codec_tag = qvv::FourCC(video.codec_id == qvv::codec_id::kHevc ? "HEVC" : "H264");
  v.time_base = {1, clip->fps};
  v.format = qvv::AviWriter::BitmapInfoHeader(v.width, v.height, v.codec_tag);
  v.bit_rate = video.bit_rate;
  if (clip->writer.Begin(Partial(path), {v}, 0) < 0) {
    std::fprintf(stderr, "dravik: cannot create the clip %s\n", path.c_str());
    return false;
  }
  clips_[static_cast<size_t>(channel)] = std::move(clip);
  return true;
}

bool ClipExport::IsOpen(int channel) const {
  return channel >= 0 && channel < kChannels && clips_[static_cast<size_t>(channel)] != nullptr;
}

bool ClipExport::any_open() const {
  for (const auto& c : clips_)
    if (c) return true;
  return false;
}

bool ClipExport::Write(int channel, const qvv::ReaderPacket& packet, int64_t ms) {
  if (!IsOpen(channel)) return false;
  Clip& c = *clips_[static_cast<size_t>(channel)];
  const bool key = (packet.flags & qvv::kPacketFlagKey) != 0;
  if (!c.started) {
    if (!key) return true;  // a clip starts with a key frame of its own channel
    c.started = true;
    c.first_ms = ms;
  }
  const auto dts = static_cast<int64_t>(std::llround(static_cast<double>(ms - c.first_ms) * c.fps / 1000.0));
  if (c.writer.WritePacket(0, dts, key, packet.data.get(), static_cast<size_t>(packet.size)) < 0) {
    c.failed = true;
    return false;
  }
  ++c.written;
  return true;
}

bool ClipExport::Finish(int* kept) {
  bool all = true;
  int named = 0;
  for (auto& slot : clips_) {
    if (!slot) continue;
    Clip& c = *slot;
    const bool finished = c.writer.Finish() >= 0 && !c.failed;
    const bool whole = finished && c.written > 0;
    std::error_code ec;
    if (whole) std::filesystem::rename(Partial(c.path), c.path, ec);
    if (whole && !ec) {
      ++named;
    } else {
      std::filesystem::remove(Partial(c.path), ec);
      // A clip that ended before its first key frame holds nothing: no fault.
      if (!finished || c.written > 0) {
        std::fprintf(stderr, "dravik: the clip %s could not be written completely\n", c.path.c_str());
        all = false;
      }
    }
    slot.reset();
  }
  if (kept) *kept = named;
  return all;
}

void ClipExport::Abandon() {
  for (auto& slot : clips_) {
    if (!slot) continue;
    slot->writer.Finish();
    std::error_code ec;
    std::filesystem::remove(Partial(slot->path), ec);
    slot.reset();
  }
}

}  // namespace playback

#include "playback/ReaderThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "QVVReader/Amf0.h"
#include "QVVReader/Rational.h"

namespace playback {

namespace {
constexpr int kWaitSliceMs = 100;
}

engine::SourceKind SourceOf(Container type) {
  switch (type) {
    case Container::Qvv: return engine::SourceKind::Qvv;
    case Container::Avi: return engine::SourceKind::Avi;
    case Container::Flv: return engine::SourceKind::Flv;
    default: return engine::SourceKind::Media;
  }
}

int64_t PacketMs(const qvv::ReaderPacket& packet, const qvv::AVStream& stream) {
  if (packet.pts == qvv::kNoPtsValue) return -1;
  return qvv::av_rescale_q(packet.pts, stream.time_base, {1, 1000});
}

ReaderThread::ReaderThread(Container type, EngineTargets targets, PlaybackControl& control)
    : type_(type), t_(targets), c_(control) {}

ReaderThread::~ReaderThread() { Stop(2000); }

bool ReaderThread::Start() {
  if (thread_.Running()) return true;
  exit_code_.store(0);
  return thread_.Start([this](const platform::StopToken& stop) { exit_code_.store(Run(stop)); });
}

bool ReaderThread::Stop(int wait_ms) {
  thread_.RequestStop();
  return thread_.Stop(wait_ms);
}

int ReaderThread::Run(const platform::StopToken& stop) {
  while (WaitUntilPlaying(stop)) {
    if (HandleCommand()) continue;
    const Recording recording = OpenNamed(stop);
    if (recording == Recording::kNoName || recording == Recording::kCannotOpen) {
      Source().Reset();
      return recording == Recording::kNoName ? kExitNoName : kExitCannotOpen;
    }
    if (recording == Recording::kOpened) {
      // A clip never runs on into another recording. (An export may start
      // with the opening: the window asks for it with the recording.)
      if (export_.any_open()) EndExport(true);
      continue;
    }
    if (c_.seek_requested.load()) {
      // A seek ends the clips of an export that runs; an export that waits
      // for this seek starts with it.
      if (export_.any_open()) EndExport(true);
      // Cleared once done: the window then finds the position written back.
      SeekTo(stop);
      c_.seek_requested.store(false);
      if (c_.export_pending.exchange(false)) c_.export_active.store(true);
      continue;
    }
    if (c_.end_reached.load()) {
      Source().Reset();  // at the end: nothing more until a new file or a seek
      continue;
    }
    if (!ReadNext(stop)) {
      // A stretch that reaches the recording's end ends with it.
      if (c_.export_active.load()) EndExport(true);
      // The end (or damage the reader cannot cross): one -3 to every input.
      SendMarker(-3, stop);
      c_.end_reached.store(true);
      Source().Reset();
    }
  }
  CloseRecording();
  return kExitNormal;
}

bool ReaderThread::Quitting(const platform::StopToken& stop) const {
  return stop.StopRequested() || c_.quit_requested.load();
}

bool ReaderThread::Interrupted(const platform::StopToken& stop) const {
  return Quitting(stop) || c_.command_pending.load();
}

bool ReaderThread::Offer(const std::function<int()>& hand_off, int step_ms, const platform::StopToken& stop) {
  for (;;) {
    if (hand_off() != 0) return true;
    if (Interrupted(stop)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
  }
}

void ReaderThread::SendMarker(int marker, const platform::StopToken& stop) {
  const std::string m = std::to_string(marker);
  if (t_.audio && Offer([&] { return t_.audio->InputAudio(0, 0, marker, nullptr, 0, 0, 0); }, 2, stop) && t_.trace)
    t_.trace("audio " + m);
  if (t_.filter && Offer([&] { return t_.filter->InputData(marker); }, 2, stop) && t_.trace) t_.trace("filter " + m);
  if (t_.clock && Offer([&] { return t_.clock->AddDTS(marker, 0, 0); }, 2, stop) && t_.trace) t_.trace("clock " + m);
}

void ReaderThread::FlushEngine() {
  if (t_.audio) t_.audio->FlushAudio();
  if (t_.filter) t_.filter->EmptyData();
  if (t_.clock) t_.clock->Clear();
}

bool ReaderThread::WaitUntilPlaying(const platform::StopToken& stop) {
  while (!Source().Wait(kWaitSliceMs)) {
    if (Quitting(stop)) return false;
  }
  return !Quitting(stop);
}

bool ReaderThread::HandleCommand() {
  if (!c_.command_pending.exchange(false)) return false;
  FlushEngine();
  if (c_.stop_requested.exchange(false)) {
    // Stopped in the middle of an export: the clips keep what they have.
    if (export_.any_open()) EndExport(true);
    Source().Reset();
    return true;
  }
  return false;
}

void ReaderThread::SendSeekAndClear() {
  static const uint8_t kSeek[] = "Seek";
  static const uint8_t kClear[] = "Clear";
  if (t_.map) t_.map->PushGpsRecord(kSeek, 5, 0);
  if (t_.wave) t_.wave->PushRecord(kClear, 6, 0);
  if (t_.trace) {
    t_.trace("map Seek");
    t_.trace("wave Clear");
  }
}

void ReaderThread::DispatchRecord(const uint8_t* data, int size, int64_t time_ms, bool sensors, int overlay_channel,
                                  const platform::StopToken& stop) {
  // An AMF0 string (marker 2) naming the record, at most 255 bytes long.
  const auto name = qvv::Amf0RecordName(data, static_cast<size_t>(size));
  if (!name || name->size() > 255) return;
  const int64_t absolute_ms = start_seconds_ * 1000 + time_ms;
  if (*name == "GPS") {
    if (!sensors) return;
    if (c_.hold.IsSet()) {
      static const uint8_t kSeek[] = "Seek";
      if (!gps_seek_sent_ && t_.map) t_.map->PushGpsRecord(kSeek, 5, 0);
      gps_seek_sent_ = true;
      return;
    }
    gps_seek_sent_ = false;
    gps_.fetch_add(1);
    if (t_.map) t_.map->PushGpsRecord(data, size, time_ms);
    if (t_.wave) t_.wave->PushRecord(data, size, absolute_ms);
  } else if (*name == "GSensor" || *name == "otherSensors") {
    if (!sensors) return;
    (*name == "GSensor" ? gsensor_ : other_).fetch_add(1);
    if (t_.wave) t_.wave->PushRecord(data, size, absolute_ms);
  } else if (*name == "ALG" && overlay_channel >= 0 && t_.filter &&
             engine::DisplaySettings(overlay_channel).overlay.load()) {
    // A full overlay ring is emptied after ten refusals: old overlays are
    // worth less than the new one.
    for (int refused = 0; t_.filter->InputAlgData(overlay_channel, data, size) == 0; ++refused) {
      if (Interrupted(stop)) return;
      if (refused % 10 == 9) t_.filter->EmptyAlgData(overlay_channel);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    alg_.fetch_add(1);
  }
}

void ReaderThread::EndExport(bool completed) {
  int written = 0;
  if (completed) completed = export_.Finish(&written);
  else export_.Abandon();
  c_.clear_exports();
  c_.export_active.store(false);
  const int outcome = !completed ? kExportFailed : written > 0 ? 0 : kExportEmpty;
  if (t_.window) t_.window->Post(platform::msg::kExportProgress, 100, outcome);
}

bool ReaderThread::Export(int channel, const qvv::ReaderPacket& packet, const qvv::AVStream& stream, int64_t ms) {
  if (!c_.export_active.load()) {
    if (export_.any_open()) EndExport(true);  // switched off by the window
    return false;
  }
  if (stream.kind != qvv::kKindVideo || channel < 0 || channel >= kChannels) return true;
  // An export starts with a seek to its first second: what was read before
  // the seek is done belongs to the old place (it may even lie past the
  // export's end, which would end the export before it began).
  if (c_.seek_requested.load()) return true;
  PlaybackControl::Names names = c_.names();
  const std::string& out = names.exports[static_cast<size_t>(channel)];
  if (out.size() < 5) return true;
  const int end = c_.export_end_seconds.load(), from = std::max(0, c_.seek_target_seconds.load());
  if (ms / 1000 >= end) {
    EndExport(true);
    return false;
  }
  if ((!export_.IsOpen(channel) && !export_.Open(channel, out, stream)) || !export_.Write(channel, packet, ms)) {
    EndExport(false);  // a clip that cannot be created or written (a full disk): none is kept
    return false;
  }
  if (t_.window && end > from) {
    const auto percent = std::clamp<int64_t>((ms / 1000 - from) * 100 / (end - from), 0, 100);
    t_.window->Post(platform::msg::kExportProgress, static_cast<platform::MsgParam>(percent), 0);
  }
  return true;
}

}  // namespace playback

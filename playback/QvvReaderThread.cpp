#include "playback/QvvReaderThread.h"

#include <algorithm>
#include <cstdio>

#include "QVVReader/FileName.h"
#include "QVVReader/Rational.h"

namespace playback {

ReaderThread::Recording QvvReaderThread::OpenNamed(const platform::StopToken& stop) {
  const PlaybackControl::Names names = c_.names();
  const std::string& name = names.qvv;
  if (name.size() < 4) return Recording::kNoName;
  // The same file is opened again for a new request, or to read it the
  // other way round.
  if (name == open_name_ && open_request_ == names.request && reverse_ == c_.reverse_play.load())
    return Recording::kOpen;
  open_request_ = names.request;
  return OpenNew(name, stop) ? Recording::kOpened : Recording::kCannotOpen;
}

bool QvvReaderThread::ReadNext(const platform::StopToken& stop) {
  if (file_.Read(packet_) < 0) return false;
  Dispatch(packet_, stop);
  return true;
}

void QvvReaderThread::CloseRecording() {
  file_.Close();
  open_name_.clear();
}

bool QvvReaderThread::OpenNew(const std::string& name, const platform::StopToken& stop) {
  if (!c_.end_reached.load() && !open_name_.empty()) {
    FlushEngine();
    SendSeekAndClear();
    SendMarker(-2, stop);
  }
  file_.Close();
  open_name_ = name;
  int64_t utc = 0, duration = 0;
  int form = 0, channel = 0;
  const std::string base(qvv::BaseName(name));
  start_seconds_ = std::max<int64_t>(0, qvv::ParseQvvFileName(base.c_str(), &utc, &form, &channel, &duration));
  if (t_.wave) t_.wave->SetStartTime(start_seconds_);
  if (t_.window) t_.window->Post(platform::msg::kFileOpened, 0, 0);
  reverse_ = c_.reverse_play.load();
  if (!file_.Open(name, reverse_)) {
    std::fprintf(stderr, "dravik: %s: %s\n", name.c_str(), file_.error().c_str());
    open_name_.clear();
    return false;
  }
  slots_.SetQvv(file_.demuxer().context().nb_video);
  duration_ms_ = file_.duration_ms();
  last_clock_ms_ = INT64_MIN;
  c_.end_reached.store(false);
  SendMarker(-1, stop);
  return true;
}

void QvvReaderThread::SeekTo(const platform::StopToken& stop) {
  if (duration_ms_ == 0 || !file_.is_open()) return;
  FlushEngine();
  SendSeekAndClear();
  c_.hold.Reset();
  if (t_.clock) t_.clock->SetState(engine::kStateRestart);
  int target = c_.seek_target_seconds.load();
  if (target < 0) {
    target = static_cast<int>(last_packet_ms_ / 1000);
    c_.seek_target_seconds.store(target);
  }
  (void)stop;
  if (reverse_) file_.demuxer().SeekReverse(int64_t{target} * 1000000);
  else file_.demuxer().Seek(int64_t{target} * 1000000);
  last_clock_ms_ = INT64_MIN;
  c_.end_reached.store(false);
}

void QvvReaderThread::Dispatch(qvv::ReaderPacket& packet, const platform::StopToken& stop) {
  const qvv::AVStream* st = file_.demuxer().context().FindStream(packet.stream_index);
  if (!st) return;
  int64_t ms = PacketMs(packet, *st);
  if (ms < 0) return;
  last_packet_ms_ = ms;
  if (Export(st->kind == qvv::kKindVideo ? slots_.Video(packet.stream_index) : -1, packet, *st, ms)) return;
  if (reverse_) ms = std::max<int64_t>(1, duration_ms_ - ms);
  const bool held = c_.hold.IsSet();
  const int speed = c_.play_speed.load();
  switch (st->kind) {
    case qvv::kKindData:
      DispatchRecord(packet.data.get(), packet.size, ms, true, -1, stop);
      break;
    case qvv::kKindVideo: {
      const int channel = slots_.Video(packet.stream_index);
      if (channel < 0 || !t_.filter) return;
      const bool key = (packet.flags & qvv::kPacketFlagKey) != 0;
      // Above double speed and while held only key frames are shown.
      if ((held || speed >= 33) && !key) break;
      Offer([&] {
        return t_.filter->InputData(channel, st->codec_id, ms, packet.data.get(), packet.size, st->width, st->height,
                                    reverse_ ? 1 : 0);
      }, 1, stop);
      if (ms != last_clock_ms_ && t_.clock) {
        last_clock_ms_ = ms;
        Offer([&] { return t_.clock->AddDTS(ms, duration_ms_, reverse_ ? 1 : 0); }, 2, stop);
      }
      break;
    }
    case qvv::kKindAudio: {
      // Sound only at normal speed or slower, forwards, not held, and only the
      // channel chosen.
      const int channel = slots_.Audio(packet.stream_index);
      if (!t_.audio || held || reverse_ || speed > 16 || channel < 0 || channel != c_.audio_channel.load()) break;
      Offer([&] {
        return t_.audio->InputAudio(channel, static_cast<uint32_t>(st->codec_id), ms, packet.data.get(), packet.size,
                                    0, 0);
      }, 1, stop);
      break;
    }
  }
}

}  // namespace playback

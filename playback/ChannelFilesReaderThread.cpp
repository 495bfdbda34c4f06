#include "playback/ChannelFilesReaderThread.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "QVVReader/FileName.h"
#include "QVVReader/FlvDemuxer.h"

namespace playback {

ReaderThread::Recording ChannelFilesReaderThread::OpenNamed(const platform::StopToken& stop) {
  const PlaybackControl::Names names = c_.names();
  if (std::none_of(names.channel.begin(), names.channel.end(), [](const std::string& n) { return n.size() >= 4; }))
    return Recording::kNoName;
  // The same files are opened again for a new request, or to read them the
  // other way round.
  if (names.channel == open_names_ && open_request_ == names.request && reverse_ == c_.reverse_play.load())
    return Recording::kOpen;
  open_request_ = names.request;
  return OpenAll(names, stop) ? Recording::kOpened : Recording::kCannotOpen;
}

bool ChannelFilesReaderThread::ReadNext(const platform::StopToken& stop) {
  // One pass: a packet from each channel in turn.
  bool any = false, progressed = false;
  for (int ch = 0; ch < kChannels && !Interrupted(stop); ++ch) {
    Channel& c = channels_[static_cast<size_t>(ch)];
    if (c.done) continue;
    any = true;
    const bool had_kept = c.has_kept;
    Step(ch, stop);
    progressed |= !(had_kept && c.has_kept);
  }
  // The clock follows the current channel's pictures (or the first one's).
  int current = c_.current_channel.load();
  if (current < 0 || current >= kChannels || !channels_[static_cast<size_t>(current)].file.is_open()) {
    current = 0;
    while (current < kChannels && !channels_[static_cast<size_t>(current)].file.is_open()) ++current;
  }
  if (current < kChannels && t_.clock) {
    const int64_t ms = channels_[static_cast<size_t>(current)].last_ms;
    if (ms > 0 && ms != last_clock_ms_) {
      last_clock_ms_ = ms;
      Offer([&] { return t_.clock->AddDTS(ms, duration_ms_, reverse_ ? 1 : 0); }, 2, stop);
    }
  }
  if (any && !progressed) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // every filter queue is full
  return any;
}

void ChannelFilesReaderThread::CloseRecording() { CloseAll(); }

bool ChannelFilesReaderThread::OpenAll(const PlaybackControl::Names& names, const platform::StopToken& stop) {
  const bool was_open = std::any_of(open_names_.begin(), open_names_.end(), [](const auto& n) { return !n.empty(); });
  if (!c_.end_reached.load() && was_open) {
    FlushEngine();
    SendSeekAndClear();
    SendMarker(-2, stop);
  }
  CloseAll();
  open_names_ = names.channel;
  reverse_ = c_.reverse_play.load();
  if (type_ == Container::Mp4 && reverse_) {
    // MP4 plays forwards only: the window tells the user.
    if (t_.window) t_.window->Post(platform::msg::kMp4NoBackward, 0, 0);
    open_names_ = {};
    return false;
  }
  duration_ms_ = 0;
  start_seconds_ = 0;
  int opened = 0;
  for (int ch = 0; ch < kChannels; ++ch) {
    const std::string& name = names.channel[static_cast<size_t>(ch)];
    Channel& c = channels_[static_cast<size_t>(ch)];
    if (name.size() < 4) continue;
    if (!c.file.Open(name, reverse_)) {
      std::fprintf(stderr, "dravik: %s: %s\n", name.c_str(), c.file.error().c_str());
      continue;
    }
    c.done = false;
    c.duration_ms = c.file.duration_ms();
    duration_ms_ = std::max(duration_ms_, c.duration_ms);
    if (start_seconds_ == 0) {
      int64_t utc = 0;
      int channel = 0;
      const std::string base(qvv::BaseName(name));
      start_seconds_ = std::max<int64_t>(0, type_ == Container::Mp4
                                                ? qvv::ParseMp4FileName(base.c_str(), &utc, &channel)
                                                : qvv::ParseChannelFileName(base.c_str(), &utc, &channel));
    }
    // FLV keeps H.264's parameter sets in its sequence header.
    if (type_ == Container::Flv && t_.filter) {
      const auto& avcc = static_cast<qvv::FlvDemuxer&>(c.file.demuxer()).extradata(0);
      if (!avcc.empty()) t_.filter->SetExtradata(ch, avcc);
    }
    ++opened;
  }
  if (opened == 0) {
    open_names_ = {};
    return false;
  }
  if (t_.wave) t_.wave->SetStartTime(start_seconds_);
  if (t_.window) t_.window->Post(platform::msg::kFileOpened, 0, 0);
  sensor_channel_ = -1;
  last_clock_ms_ = INT64_MIN;
  c_.end_reached.store(false);
  SendMarker(-1, stop);
  return true;
}

void ChannelFilesReaderThread::CloseAll() {
  for (auto& c : channels_) {
    c.file.Close();
    c.done = true;
    c.has_kept = false;
    c.last_ms = 0;
  }
  open_names_ = {};
}

void ChannelFilesReaderThread::SeekTo(const platform::StopToken&) {
  if (duration_ms_ == 0) return;
  FlushEngine();
  SendSeekAndClear();
  c_.hold.Reset();
  if (t_.clock) t_.clock->SetState(engine::kStateRestart);
  int target = c_.seek_target_seconds.load();
  if (target < 0) {
    const int current = std::clamp(c_.current_channel.load(), 0, kChannels - 1);
    target = static_cast<int>(channels_[static_cast<size_t>(current)].last_ms / 1000);
    c_.seek_target_seconds.store(target);
  }
  // Every channel to the key frame at or before the target (played
  // backwards, to the group that holds it).
  for (auto& c : channels_) {
    if (!c.file.is_open()) continue;
    c.has_kept = false;
    if (reverse_) c.file.demuxer().SeekReverse(int64_t{target} * 1000000);
    else c.file.demuxer().Seek(int64_t{target} * 1000000);
    c.done = false;
  }
  last_clock_ms_ = INT64_MIN;
  c_.end_reached.store(false);
}

bool ChannelFilesReaderThread::OfferPicture(int ch, qvv::ReaderPacket& packet, const qvv::AVStream& st, int64_t ms) {
  return t_.filter->InputData(ch, st.codec_id, ms, packet.data.get(), packet.size, st.width, st.height,
                              reverse_ ? 1 : 0) != 0;
}

bool ChannelFilesReaderThread::Step(int ch, const platform::StopToken& stop) {
  Channel& c = channels_[static_cast<size_t>(ch)];
  qvv::Demuxer& demuxer = c.file.demuxer();
  if (c.has_kept) {
    const qvv::AVStream* st = demuxer.context().FindStream(c.kept.stream_index);
    int64_t ms = st ? PacketMs(c.kept, *st) : -1;
    if (reverse_) ms = std::max<int64_t>(1, c.duration_ms - ms);
    if (st && !OfferPicture(ch, c.kept, *st, ms)) return true;  // still full: next pass
    c.has_kept = false;
    c.last_ms = ms;
    return true;
  }
  qvv::ReaderPacket& packet = c.kept;
  const int r = c.file.Read(packet);
  if (r < 0) {
    // Its end, or damage it cannot cross: the other channels go on.
    c.done = true;
    return false;
  }
  const qvv::AVStream* st = demuxer.context().FindStream(packet.stream_index);
  if (!st) return true;
  int64_t ms = PacketMs(packet, *st);
  if (ms < 0) return true;
  if (Export(ch, packet, *st, ms)) return true;
  if (reverse_) ms = std::max<int64_t>(1, c.duration_ms - ms);
  const bool held = c_.hold.IsSet();
  const int speed = c_.play_speed.load();
  switch (st->kind) {
    case qvv::kKindData:
      if (sensor_channel_ < 0) sensor_channel_ = ch;
      DispatchRecord(packet.data.get(), packet.size, ms, ch == sensor_channel_,
                     type_ == Container::Avi ? ch : -1, stop);
      break;
    case qvv::kKindVideo:
      if (!t_.filter) break;
      if ((held || speed >= 33) && (packet.flags & qvv::kPacketFlagKey) == 0) break;
      if (OfferPicture(ch, packet, *st, ms)) {
        c.last_ms = ms;
      } else {
        c.has_kept = true;  // offered again in the next pass
      }
      break;
    case qvv::kKindAudio:
      if (!t_.audio || held || reverse_ || speed > 16 || ch != c_.audio_channel.load()) break;
      // MP4 gives the stream's rate with its packets (its AAC may be at any rate).
      Offer([&] {
        return t_.audio->InputAudio(ch, static_cast<uint32_t>(st->codec_id), ms, packet.data.get(), packet.size,
                                    type_ == Container::Mp4 ? st->sample_rate : 0, 0);
      }, 1, stop);
      break;
  }
  return true;
}

}  // namespace playback

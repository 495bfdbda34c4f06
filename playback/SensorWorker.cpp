#include "playback/SensorWorker.h"

#include <algorithm>

#include "QVVReader/Amf0.h"
#include "QVVReader/FileName.h"
#include "QVVReader/Rational.h"
#include "playback/ContainerFile.h"

namespace playback {

SensorWorker::SensorWorker(MapSink& map, Finished finished) : map_(map), finished_(std::move(finished)) {
  thread_.Start([this](const platform::StopToken& stop) { Run(stop); });
}

SensorWorker::~SensorWorker() {
  thread_.RequestStop();
  wake_.notify_all();
  thread_.Stop(5000);
}

void SensorWorker::Request(std::vector<std::string> files, int index) {
  {
    std::lock_guard lock(mutex_);
    files_ = std::move(files);
    index_ = index;
  }
  wake_.notify_all();
}

void SensorWorker::ReadAll(const std::vector<std::string>& files) {
  for (int i = 0; i < static_cast<int>(files.size()); ++i) {
    int before;
    {
      std::lock_guard lock(mutex_);
      before = done_count_;
    }
    Request(files, i);
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return done_count_ > before || !thread_.Running(); });
  }
}

void SensorWorker::Run(const platform::StopToken& stop) {
  for (;;) {
    std::string path;
    int index;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return index_ >= 0 || stop.StopRequested(); });
      if (stop.StopRequested()) return;
      index = index_;
      index_ = -1;
      if (index < static_cast<int>(files_.size())) path = files_[static_cast<size_t>(index)];
    }
    const bool opened = !path.empty() && ReadFile(path, stop);
    map_.AddTrackPoint(nullptr, 0, -1);  // the separator after each file
    if (finished_) finished_(index, opened);
    {
      std::lock_guard lock(mutex_);
      ++done_count_;
    }
    wake_.notify_all();
  }
}

bool SensorWorker::ReadFile(const std::string& path, const platform::StopToken& stop) {
  ContainerFile file;
  if (!file.Open(path, false)) return false;
  int64_t utc = 0, duration = 0;
  int form = 0, channel = 0;
  const std::string base(qvv::BaseName(path));
  // The name's date and time counted as UTC, as the list counts them: a
  // point's time finds its row.
  const int64_t local = qvv::NameKindOfExtension(base) == qvv::NameKind::Qvv
                            ? qvv::ParseQvvFileName(base.c_str(), &utc, &form, &channel, &duration)
                            : qvv::ParseChannelFileName(base.c_str(), &utc, &channel);
  const int64_t start = local < 0 ? 0 : std::max<int64_t>(0, utc);
  qvv::ReaderPacket packet;
  while (!stop.StopRequested() && file.Read(packet) >= 0) {
    const qvv::AVStream* st = file.demuxer().context().FindStream(packet.stream_index);
    if (!st || st->kind != qvv::kKindData || packet.pts == qvv::kNoPtsValue) continue;
    const auto name = qvv::Amf0RecordName(packet.data.get(), static_cast<size_t>(packet.size));
    if (!name || *name != "GPS") continue;
    const int64_t seconds = qvv::av_rescale_q(packet.pts, st->time_base, {1, 1000}) / 1000;
    map_.AddTrackPoint(packet.data.get(), packet.size, start + seconds);
  }
  return true;
}

}  // namespace playback

#include "app/RecordingScan.h"

#include <system_error>
#include <vector>

#include "QVVReader/FileName.h"
#include "playback/ContainerFile.h"

namespace app {
namespace {

int FileTypeOf(const std::string& extension) {
  if (extension == "qvv") return 0;
  if (extension == "avi") return 1;
  if (extension == "flv") return 2;
  if (extension == "mp4") return 3;
  return -1;
}

}  // namespace

bool ScanFilter::Accepts(const RecordingRow& row) const {
  // Every type asked for: a recording whose name gives no type is shown too.
  if (types != kAllTypes && (row.type_mask & types) == 0) return false;
  const int64_t end = row.start + std::max<int64_t>(0, row.duration);
  if (end < from || row.start > to) return false;
  return car_number.empty() || car_number == row.car_number;
}

std::optional<RecordingRow> ProbeRecording(const std::filesystem::path& path) {
  const std::string text = path.string();
  const int type = FileTypeOf(playback::ExtensionOf(text));
  if (type < 0) return std::nullopt;
  // The list reads names without their extension (MP4 names whole, as
  // their reader does).
  const qvv::NameKind kind = type == 0 ? qvv::NameKind::Qvv : type == 3 ? qvv::NameKind::Mp4 : qvv::NameKind::PerChannel;
  const auto name = type == 3 ? qvv::ParseRecordingName(path.filename().string(), kind)
                              : qvv::ParseRecordingName(path.stem().string(), kind, true);
  if (!name) return std::nullopt;
  if (type != 0 && (name->channel < 0 || name->channel >= kRowChannels)) return std::nullopt;

  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size == 0) return std::nullopt;
  playback::ContainerFile file;
  if (!file.Open(text, false)) return std::nullopt;
  const qvv::AVFormatContext& context = file.demuxer().context();

  RecordingRow row;
  row.file_type = type;
  row.path = text;
  row.start = name->utc_start;
  row.type_mask = name->type_mask;
  row.car_number = name->identifier;
  row.file_size = size;
  row.duration = name->duration >= 0 ? name->duration : file.duration_ms() / 1000;
  uint32_t mask = 0;
  int video_streams = 0;
  for (int i = 0; i < context.nb_streams; ++i) {
    const qvv::AVStream* stream = context.streams[static_cast<size_t>(i)].get();
    if (!stream || stream->kind != qvv::kKindVideo) continue;
    // A ".qvv" file numbers its video streams by channel; the other files
    // hold the one channel their name gives.
    const int channel = type == 0 ? stream->stream_number : name->channel;
    if (channel < 0 || channel >= kRowChannels || (type != 0 && video_streams > 0)) continue;
    ++video_streams;
    mask |= 1u << channel;
    row.video[static_cast<size_t>(channel)] = {stream->width, stream->height, stream->bit_rate, stream->frame_rate};
  }
  if (type == 0) {
    row.channel = name->channel_mask != 0 ? name->channel_mask : mask;
    if (row.channel == 0) return std::nullopt;  // no channel to show
  } else {
    row.channel = static_cast<uint32_t>(name->channel);
  }
  return row;
}

int WalkRecordings(const std::filesystem::path& folder, const std::atomic<bool>& cancel,
                   const std::function<void(RecordingRow)>& found, const std::function<void(int)>& seen,
                   bool recursive) {
  namespace fs = std::filesystem;
  int count = 0;
  // Folder by folder: a folder that cannot be read (or goes away while it is
  // walked) is passed over, and the others are still listed.
  std::vector<fs::path> folders{folder};
  while (!folders.empty() && !cancel.load()) {
    const fs::path current = std::move(folders.back());
    folders.pop_back();
    std::error_code error;
    fs::directory_iterator it(current, fs::directory_options::skip_permission_denied, error);
    for (const fs::directory_iterator end; !error && it != end && !cancel.load(); it.increment(error)) {
      std::error_code type_error;
      const fs::file_status status = it->symlink_status(type_error);
      if (type_error) continue;
      if (fs::is_directory(status)) {
        if (recursive) folders.push_back(it->path());  // links to folders are not followed
        continue;
      }
      if (!it->is_regular_file(type_error) || type_error) continue;
      ++count;
      if (seen && count % 64 == 0) seen(count);
      const fs::path& path = it->path();
      if (FileTypeOf(playback::ExtensionOf(path.string())) < 0) continue;
      if (auto row = ProbeRecording(path)) found(std::move(*row));
    }
  }
  if (seen) seen(count);
  return count;
}

}  // namespace app

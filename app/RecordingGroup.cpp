#include "app/RecordingGroup.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "QVVReader/FileName.h"

namespace app {
namespace {

namespace fs = std::filesystem;

struct Candidate {
  fs::path path;
  playback::Container type;
  int64_t start;
  int channel;  // -1 when the name carries none
};

std::optional<Candidate> Probe(const fs::path& path) {
  const std::string text = path.string();
  const auto type = ContainerOfPath(text);
  const auto kind = qvv::NameKindOfExtension(text);
  if (!type || !kind) return std::nullopt;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) == 0 || ec) return std::nullopt;
  const auto name = qvv::ParseRecordingName(text, *kind);
  if (!name || name->local_start < 0) return std::nullopt;
  return Candidate{path, *type, name->local_start, name->channel};
}

// Files in `folder` (or below it) that parse as recordings.
std::vector<Candidate> Collect(const fs::path& folder, bool recursive) {
  std::vector<Candidate> found;
  std::error_code ec;
  const auto options = fs::directory_options::skip_permission_denied;
  if (recursive) {
    for (fs::recursive_directory_iterator it(folder, options, ec), end; !ec && it != end; it.increment(ec))
      if (auto c = Probe(it->path())) found.push_back(*c);
  } else {
    for (fs::directory_iterator it(folder, options, ec), end; !ec && it != end; it.increment(ec))
      if (auto c = Probe(it->path())) found.push_back(*c);
  }
  // Start time, then channel, then name: the list's order.
  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
    if (a.start != b.start) return a.start < b.start;
    if (a.channel != b.channel) return a.channel < b.channel;
    return a.path < b.path;
  });
  return found;
}

RecordingGroup Build(const std::vector<Candidate>& all, const Candidate& chosen) {
  RecordingGroup group;
  group.type = chosen.type;
  group.local_start = chosen.start;
  if (chosen.type == playback::Container::Qvv) {
    group.qvv = chosen.path.string();
    return group;
  }
  std::vector<const Candidate*> members, unnamed;
  for (const Candidate& c : all)
    if (c.type == chosen.type && c.start == chosen.start && c.path.parent_path() == chosen.path.parent_path())
      members.push_back(&c);
  // Files whose name gives their channel take that channel; the others (and
  // a second file for a channel) then take the free channels in order.
  for (const Candidate* c : members) {
    const bool named = c->channel >= 0 && c->channel < playback::kChannels;
    if (named && group.channel[static_cast<size_t>(c->channel)].empty())
      group.channel[static_cast<size_t>(c->channel)] = c->path.string();
    else
      unnamed.push_back(c);
  }
  size_t free_slot = 0;
  for (const Candidate* c : unnamed) {
    while (free_slot < group.channel.size() && !group.channel[free_slot].empty()) ++free_slot;
    if (free_slot == group.channel.size()) break;
    group.channel[free_slot] = c->path.string();
  }
  // The clock follows the first channel that has a file.
  for (int c = 0; c < playback::kChannels; ++c) {
    if (!group.channel[static_cast<size_t>(c)].empty()) {
      group.main_channel = c;
      break;
    }
  }
  return group;
}

}  // namespace

std::array<bool, playback::kChannels> RecordingGroup::present() const {
  std::array<bool, playback::kChannels> p{};
  for (size_t c = 0; c < p.size(); ++c) p[c] = type == playback::Container::Qvv ? !qvv.empty() : !channel[c].empty();
  return p;
}

playback::PlaybackControl::Names RecordingGroup::names() const {
  playback::PlaybackControl::Names n;
  n.qvv = qvv;
  n.channel = channel;
  return n;
}

std::optional<playback::Container> ContainerOfPath(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos) return std::nullopt;
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  if (ext == "qvv") return playback::Container::Qvv;
  if (ext == "avi") return playback::Container::Avi;
  if (ext == "flv") return playback::Container::Flv;
  if (ext == "mp4") return playback::Container::Mp4;
  return std::nullopt;
}

std::optional<RecordingGroup> GroupOfFile(const fs::path& given) {
  std::error_code ec;
  const fs::path file = fs::absolute(given, ec).lexically_normal();
  const auto chosen = Probe(file);
  if (!chosen) return std::nullopt;
  if (chosen->type == playback::Container::Qvv) return Build({}, *chosen);
  RecordingGroup group = Build(Collect(file.parent_path(), false), *chosen);
  // The chosen file's channel leads when the file sits in it.
  for (int c = 0; c < playback::kChannels; ++c)
    if (group.channel[static_cast<size_t>(c)] == chosen->path.string()) group.main_channel = c;
  return group;
}

std::optional<RecordingGroup> FirstGroupIn(const fs::path& folder) {
  const auto all = Collect(folder, true);
  if (all.empty()) return std::nullopt;
  return Build(all, all.front());
}

std::optional<RecordingGroup> GroupForPath(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return FirstGroupIn(path);
  return GroupOfFile(path);
}

}  // namespace app

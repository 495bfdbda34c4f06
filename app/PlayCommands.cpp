#include "app/PlayCommands.h"

#include <algorithm>
#include <filesystem>

namespace app {
namespace {

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

PlayRequest RequestForRow(const RecordingListModel& list, int row, MainChannelRule rule) {
  PlayRequest r;
  r.rows.fill(-1);
  const RecordingRow& chosen = list.row(row);
  r.group.type = static_cast<playback::Container>(chosen.file_type);
  r.group.start = chosen.start;
  if (r.group.type == playback::Container::Qvv) {
    // One file for every channel it holds.
    r.group.qvv = chosen.path;
    for (int c = 0; c < playback::kChannels; ++c) {
      if (!(chosen.channel & (1u << c))) continue;
      r.rows[static_cast<size_t>(c)] = row;
      r.records[static_cast<size_t>(c)] = list.record(row);
    }
    r.group.main_channel = chosen.first_channel();
    return r;
  }
  const auto [first, last] = list.GroupOf(row);
  int main = -1;
  for (int i = first; i < last; ++i) {
    const RecordingRow& member = list.row(i);
    // Only files of the chosen one's kind: its reader reads them all.
    if (member.file_type != chosen.file_type || member.channel >= playback::kChannels) continue;
    std::string& slot = r.group.channel[member.channel];
    if (!slot.empty()) continue;  // the same channel twice (copies in two folders): the first
    slot = member.path;
    r.rows[member.channel] = i;
    r.records[member.channel] = list.record(i);
    if (main < 0 && member.duration > 0 && (r.group.type != playback::Container::Mp4 || Exists(member.path)))
      main = static_cast<int>(member.channel);
  }
  if (rule == MainChannelRule::kChosenRow || r.group.type == playback::Container::Flv || main < 0)
    main = static_cast<int>(chosen.channel);
  r.group.main_channel = main;
  return r;
}

std::vector<int> PlayRequest::members() const {
  std::vector<int> list;
  for (int row : rows)
    if (row >= 0 && std::find(list.begin(), list.end(), row) == list.end()) list.push_back(row);
  std::sort(list.begin(), list.end());
  return list;
}

PlayCommands::PlayCommands(PlayerEngine& engine, RecordingList& list, Tell tell, QObject* parent)
    : QObject(parent), engine_(engine), list_(list), tell_(std::move(tell)) {}

void PlayCommands::SetState(int state) {
  state_ = state;
  emit stateChanged(state);
}

bool PlayCommands::Check(const PlayRequest& request) {
  if (request.group.type == playback::Container::Qvv) {
    if (request.group.qvv.empty() || !Exists(request.group.qvv)) {
      tell_("IDS_TIPS_PathFileExists", false);
      return false;
    }
    return true;
  }
  for (const std::string& path : request.group.channel)
    if (!path.empty()) return true;
  return false;
}

bool PlayCommands::IsCurrent(const PlayRequest& request) const {
  return request_ && engine_.has_group() && request_->group.type == request.group.type &&
         request_->group.qvv == request.group.qvv && request_->group.channel == request.group.channel;
}

bool PlayCommands::Start(const PlayRequest& request, int offset_seconds, bool reverse) {
  if (!engine_.PlayGroup(request.group, offset_seconds, reverse)) return false;
  request_ = request;
  list_.SelectRows(request.members());  // the group's rows: the next group follows them
  emit requestStarted(request);
  return true;
}

std::optional<PlayRequest> PlayCommands::RequestFromSelection() {
  const RecordingListModel& rows = list_.model_rows();
  if (rows.size() == 0) return std::nullopt;
  const std::vector<int> selected = list_.SelectedRows();
  const int row = selected.empty() ? 0 : selected.front();
  PlayRequest request = RequestForRow(rows, row, MainChannelRule::kChosenRow);
  if (!Check(request)) return std::nullopt;
  return request;
}

bool PlayCommands::ChooseGroup(int row, int offset_seconds) {
  const RecordingListModel& rows = list_.model_rows();
  if (row < 0 || row >= rows.size()) return false;
  const PlayRequest request = RequestForRow(rows, row, MainChannelRule::kGroupChoice);
  list_.SelectRows(request.members());
  if (!Check(request)) return false;
  // Paused backward, the new group plays backward (MP4 cannot).
  const bool reverse = (state_ == kStateBackward || state_ == kStateBackwardPaused) &&
                       request.group.type != playback::Container::Mp4;
  if (!Start(request, offset_seconds, reverse)) return false;
  SetState(reverse ? kStateBackward : kStatePlaying);
  return true;
}

void PlayCommands::Play() {
  if (state_ == kStatePlaying) {
    engine_.Pause();
    SetState(kStatePaused);
    return;
  }
  const auto request = RequestFromSelection();
  if (!request) return;
  if (state_ != kStateStopped && IsCurrent(*request)) {
    // Backward to forward opens the files forward again, at the place shown.
    const bool was_backward = state_ == kStateBackward || state_ == kStateBackwardPaused;
    engine_.Resume(false, was_backward ? std::optional<int>(engine_.position()) : std::nullopt);
  } else if (!Start(*request, 0, false)) {
    return;
  }
  SetState(kStatePlaying);
}

void PlayCommands::Backward() {
  if (state_ == kStateBackward) {
    engine_.Pause();
    SetState(kStateBackwardPaused);
    return;
  }
  // The request that would play backward: the selection's.
  const RecordingListModel& rows = list_.model_rows();
  if (rows.size() == 0) return;
  const std::vector<int> selected = list_.SelectedRows();
  const PlayRequest request = RequestForRow(rows, selected.empty() ? 0 : selected.front(), MainChannelRule::kChosenRow);
  if (request.group.type == playback::Container::Mp4) {
    tell_("MP4 does not support backward!", true);
    return;
  }
  if (!Check(request)) return;
  if (state_ != kStateStopped && IsCurrent(request)) {
    // Forward to backward opens the files backward again, at the place shown.
    const bool was_forward = state_ == kStatePlaying || state_ == kStatePaused;
    engine_.Resume(true, was_forward ? std::optional<int>(engine_.position()) : std::nullopt);
  } else if (!Start(request, 0, true)) {
    return;
  }
  SetState(kStateBackward);
}

void PlayCommands::Stop() {
  engine_.Stop();
  SetState(kStateStopped);
}

void PlayCommands::Step() {
  if (!engine_.has_group() || !request_) {
    const auto request = RequestFromSelection();
    if (!request || !Start(*request, 0, false)) return;
  }
  engine_.Step();
  emit stateChanged(state_);
}

void PlayCommands::SecondPlay() {
  if (!engine_.has_group() || !request_) {
    const auto request = RequestFromSelection();
    if (!request || !Start(*request, 0, false)) return;
  }
  engine_.SecondPlay();
  emit stateChanged(state_);
}

void PlayCommands::PauseRequest() {
  if (state_ != kStatePlaying && state_ != kStateBackward) return;
  engine_.Pause();
  SetState(state_ == kStatePlaying ? kStatePaused : kStateBackwardPaused);
}

void PlayCommands::Seek(int seconds) {
  if (!engine_.has_group() || state_ == kStateStopped) return;  // stopped: nothing to seek in
  engine_.SeekTo(seconds);
  if (state_ == kStatePaused) {
    engine_.Resume(false);
    SetState(kStatePlaying);
  } else if (state_ == kStateBackwardPaused) {
    engine_.Resume(true);
    SetState(kStateBackward);
  }
}

void PlayCommands::Export(int start, int end) {
  if (!engine_.has_group() || end <= start) return;
  engine_.Export(start, end);
  SetState(kStatePlaying);
}

bool PlayCommands::PlayNextGroup() {
  const std::vector<int> selected = list_.SelectedRows();
  const int next = selected.empty() ? -1 : selected.back() + 1;
  if (next < 0 || next >= list_.model_rows().size()) {
    // The last group ended: stopped, so that play starts it again.
    Stop();
    return false;
  }
  return ChooseGroup(next);
}

bool PlayCommands::PlayListedFile(const std::string& path) {
  list_.SelectRows({});
  const int row = list_.model_rows().Find(path);
  if (row < 0) return false;
  const PlayRequest request = RequestForRow(list_.model_rows(), row, MainChannelRule::kChosenRow);
  list_.SelectRows(request.members());
  if (!Check(request) || !Start(request, 0, false)) return false;
  SetState(kStatePlaying);
  return true;
}

void PlayCommands::Forget() {
  Stop();
  request_.reset();
  engine_.Forget();
}

void PlayCommands::RecordingEnded() {
  if (state_ == kStatePlaying || state_ == kStateBackward) PlayNextGroup();
}

}  // namespace app

#include "app/RecordingGroup.h"

namespace app {

playback::PlaybackControl::Names RecordingGroup::names() const {
  playback::PlaybackControl::Names n;
  n.qvv = qvv;
  n.channel = channel;
  return n;
}

}  // namespace app
